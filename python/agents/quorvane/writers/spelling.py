"""How the writers spell a row's values.  The values are the record's
(``Row.to_record``); only their spelling differs between formats:

* JSON: as they are; ``null`` where a value does not apply.
* CSV: numbers and ``true``/``false`` as in JSON, an empty cell for
  ``null``, lists of names joined with ``;``, lists of pairs or objects
  (``platform_ranking``, ``hotspots``, ``blockers``) as compact JSON.  A text cell that
  a spreadsheet would take for a formula gets a leading ``'``
  (``csv_text``); numbers are never changed.
* table: ``-`` for ``null``; control characters escaped, so that a cell
  never breaks a line.
"""

from __future__ import annotations

import json
from typing import Any

STRUCTURED = {"platform_ranking", "hotspots", "blockers"}
NULL_CELL = "-"
ELLIPSIS = "…"


def shorten_middle(text: str, width: int) -> str:
    """``text`` in at most ``width`` characters: cut in the middle, never at
    the end, so that a path keeps its file name and a name its last part.
    A third of the room goes to the start, the rest to the end."""
    if len(text) <= width:
        return text
    if width <= 1:
        return ELLIPSIS[:width]
    head = (width - 1) // 3
    tail = width - 1 - head
    return text[:head] + ELLIPSIS + text[len(text) - tail :]


# The first characters by which a spreadsheet reads a cell as a formula.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def csv_text(text: str) -> str:
    """A text cell from a name or a path, with a ``'`` in front when it
    starts like a formula, so that a spreadsheet shows it instead of
    running it."""
    return "'" + text if text.startswith(FORMULA_STARTS) else text


def csv_value(name: str, value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, str):
        return csv_text(value)
    if isinstance(value, list):
        if name in STRUCTURED:
            return json.dumps(value, separators=(",", ":"))
        return csv_text(";".join(value))
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
