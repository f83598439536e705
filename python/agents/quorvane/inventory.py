"""The objects of a SQL script and the tables and routines each one references."""

# The functions are made by the native part, afresh on every load of this
# module (import, fresh import, reload, sub-interpreter).
from agents.quorvane import _inventory as _native

_native.load(globals())
del _native
