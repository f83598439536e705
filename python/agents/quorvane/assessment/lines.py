"""Finding numbered lines in a text, by the line rule of the reading plan
(``str.splitlines``: LF, CR, CR LF, VT, FF, FS, GS, RS, NEL, LS and PS each
end a line), without splitting the whole text into a list; and cutting each
unit's own lines out of its file (:func:`unit_bodies`, the one unit cutter
every command uses)."""

from __future__ import annotations

import re
from collections.abc import Iterable
from itertools import accumulate
from typing import Any

_BREAK = re.compile(r"\r\n|[\n\r\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029]")
_RARE_BREAKS = "\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029"
# Lines are located block by block: a block's line feeds are counted at the
# speed of str.count, and only a block holding a wanted line is split.
_BLOCK = 1 << 20


def line_spans(text: str, wanted: Iterable[int]) -> dict[int, tuple[int, int]]:
    """The (start, end) offsets of each wanted 1-based line that exists, the
    end excluding the line break."""
    targets = sorted({n for n in wanted if n >= 1})
    if not targets or not text:
        return {}
    if _only_line_feeds(text):
        return _spans_by_line_feed(text, targets)
    return _spans_by_pattern(text, targets)


def unit_bodies(text: str, units: Iterable[Any]) -> list[str]:
    """Each unit's own lines of ``text``, from the start of its
    ``start_line`` to the end of its ``end_line`` (1-based, inclusive),
    without the last line's break; "" for a unit outside the text."""
    units = list(units)
    bounds = line_spans(text, [n for u in units for n in (u.start_line, u.end_line)])
    bodies = []
    for u in units:
        first, last = bounds.get(u.start_line), bounds.get(u.end_line)
        bodies.append(text[first[0] : last[1]] if first and last else "")
    return bodies


def _only_line_feeds(text: str) -> bool:
    """True when every line break is LF or CR LF."""
    if text.count("\r") != text.count("\r\n"):
        return False
    return not any(ch in text for ch in _RARE_BREAKS)


def _spans_by_line_feed(text: str, targets: list[int]) -> dict[int, tuple[int, int]]:
    """Block by block, cut at a line feed: a block is split into its lines
    and their offsets summed at C speed; only the wanted ones are kept."""
    spans: dict[int, tuple[int, int]] = {}
    wanted = iter(targets)
    target = next(wanted, None)
    line, pos, n = 1, 0, len(text)
    while target is not None and pos < n:
        end = n if pos + _BLOCK >= n else text.rfind("\n", pos, pos + _BLOCK) + 1
        if end <= pos:  # one line longer than a block
            found = text.find("\n", pos + _BLOCK)
            end = n if found < 0 else found + 1
        count = text.count("\n", pos, end) + (0 if text[end - 1] == "\n" else 1)
        if target < line + count:
            # Only LF and CR LF break these lines: splitlines() splits them
            # as split("\n") would, keeping the breaks to sum the offsets.
            parts = text[pos:end].splitlines(True)
            starts = list(accumulate(map(len, parts), initial=pos))
            while target is not None and target < line + count:
                i = target - line
                start = starts[i]
                part = parts[i]
                stop = start + len(part) - (2 if part.endswith("\r\n") else 1 if part.endswith("\n") else 0)
                spans[target] = (start, stop)
                target = next(wanted, None)
        line += count
        pos = end
    return spans


def _spans_by_pattern(text: str, targets: list[int]) -> dict[int, tuple[int, int]]:
    spans: dict[int, tuple[int, int]] = {}
    remaining = iter(targets)
    target = next(remaining)
    line, start = 1, 0
    for match in _BREAK.finditer(text):
        if line == target:
            spans[line] = (start, match.start())
            target = next(remaining, None)  # type: ignore[arg-type]
            if target is None:
                return spans
        line += 1
        start = match.end()
    if line == target and start < len(text):
        spans[line] = (start, len(text))
    return spans
