"""Construct-category detection and knowledge-base selection for SQL scripts."""

# The functions and tables are made by the native part, afresh on every load
# of this module (import, fresh import, reload, sub-interpreter).
from agents.quorvane import _loresift as _native

_native.load(globals())
del _native
