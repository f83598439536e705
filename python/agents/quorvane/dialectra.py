"""Platform marker catalogue.

PLATFORM_MARKERS is the ordered list of the 133 Marker records by which
agents.quorvane.platform_detect recognises the SQL platform of a script,
and MarkerScanner, which finds where a table of such patterns matches.
The record and the platform identifiers come from agents.quorvane.platforms.
"""

# The catalogue is built by the native part, afresh on every load of this
# module (import, fresh import, reload, sub-interpreter).
from agents.quorvane import _dialectra as _native

_native.load(globals())
del _native
