"""The size an estimate counts: the effective lines of a unit less its data.

Data scripts are long and easy: 15,000 ``INSERT ... VALUES`` lines of one
shape are one statement to convert (a load job), not 15,000 lines of
logic.  So a line that repeats the shape of an earlier line of the same
unit (the same text once its string literals, numbers and binary literals
are taken out and its spacing is collapsed), and every row of a ``COPY
... FROM stdin`` block, is left out: what repeats is converted once.
Units of fewer than ``SIZE_FROM``
effective lines are counted whole: too small for the difference to matter.
"""

from __future__ import annotations

import re

SIZE_FROM = 200

_LITERAL = re.compile(r"[Nn]?'(?:[^']|'')*'?|\b0x[0-9A-Fa-f]*|\b\d+(?:\.\d+)?(?:[eE][-+]?\d+)?\b")
_COPY_DATA = re.compile(r"(?ims)^[ \t]*COPY\b[^\n;]*\bFROM\s+stdin\b[^\n]*\n(.*?)^\\\.[ \t]*$")


def sized_lines(text: str, effective_lines: int) -> int:
    """The effective lines of ``text`` that are not repeated data."""
    if effective_lines < SIZE_FROM:
        return effective_lines
    data = 0
    for m in _COPY_DATA.finditer(text):
        data += m.group(1).count("\n")
    seen: set[str] = set()
    for line in _COPY_DATA.sub("", text).splitlines():
        shape = " ".join(_LITERAL.sub("?", line).split())
        if not shape or shape.startswith("--"):
            continue
        if shape in seen:
            data += 1
        else:
            seen.add(shape)
    return max(effective_lines - data, 1)
