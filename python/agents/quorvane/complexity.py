"""Complexity classification and reading plans for SQL scripts."""

# The functions, types and tables are made by the native part, afresh on
# every load of this module (import, fresh import, reload, sub-interpreter).
from agents.quorvane import _complexity as _native

_native.load(globals())
del _native
