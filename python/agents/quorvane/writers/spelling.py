"""How the writers spell a row's values.  The values are the record's
(``Row.to_record``); only their spelling differs between formats:

* JSON: as they are; ``null`` where a value does not apply.
* CSV: numbers and ``true``/``false`` as in JSON, an empty cell for
  ``null``, lists of names joined with ``;``, lists of pairs or objects
  (``platform_ranking``, ``hotspots``) as compact JSON.
* table: ``-`` for ``null``; control characters escaped, so that a cell
  never breaks a line.
"""

from __future__ import annotations

import json
from typing import Any

STRUCTURED = {"platform_ranking", "hotspots"}
NULL_CELL = "-"


def csv_value(name: str, value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, list):
        if name in STRUCTURED:
            return json.dumps(value, separators=(",", ":"))
        return ";".join(value)
    return json.dumps(value)


def printable(text: str) -> str:
    """``text`` with every non-printable character escaped (a newline in a
    file name becomes ``\\n``)."""
    if text.isprintable():
        return text
    return "".join(
        c if c.isprintable() else c.encode("unicode_escape", "backslashreplace").decode("ascii") for c in text
    )


def number(value: float | int | None) -> str:
    if value is None:
        return NULL_CELL
    return f"{value:g}" if isinstance(value, float) else str(value)
