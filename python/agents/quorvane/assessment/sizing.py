"""The size an estimate counts: the effective lines of a unit less its data.

Data scripts are long and easy: 15,000 ``INSERT ... VALUES`` lines of one
shape are one statement to convert (a load job), not 15,000 lines of
logic.  So a line that repeats the shape of an earlier line of the same
unit (the same once its string and binary literals are taken out, each
digit is read as 0 and its spacing is collapsed), and every row of a
``COPY ... FROM stdin`` block, is left out: what repeats is converted once.
Units of fewer than ``SIZE_FROM``
effective lines are counted whole: too small for the difference to matter.
"""

from __future__ import annotations

import re

SIZE_FROM = 200

# Each string and binary literal becomes "?" and each digit "0": three
# passes that each search for a literal character first, many times faster
# than one pattern for numbers as words.  A string ends with its line, so
# that a quote in a comment never swallows code.
_STRING = re.compile(r"'[^'\n]*'?")
_BINARY = re.compile(r"0[xX][0-9A-Fa-f]+")
_DIGITS = str.maketrans("123456789", "000000000")
_COPY_DATA = re.compile(r"(?ims)^[ \t]*COPY\b[^\n;]*\bFROM\s+stdin\b[^\n]*\n(.*?)^\\\.[ \t]*$")


def sized_lines(text: str, effective_lines: int) -> int:
    """The effective lines of ``text`` that are not repeated data."""
    if effective_lines < SIZE_FROM:
        return effective_lines
    data = 0
    if "stdin" in text.lower():
        data = sum(m.group(1).count("\n") for m in _COPY_DATA.finditer(text))
        text = _COPY_DATA.sub("", text)
    shaped = _STRING.sub("?", _BINARY.sub("?", text)).translate(_DIGITS)
    shapes = [" ".join(line.split()) for line in shaped.splitlines()]
    shapes = [shape for shape in shapes if shape and not shape.startswith("--")]
    data += len(shapes) - len(set(shapes))
    return max(effective_lines - data, 1)
