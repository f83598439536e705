"""Finding numbered lines in a text, by the line rule of the reading plan
(``str.splitlines``: LF, CR, CR LF, VT, FF, FS, GS, RS, NEL, LS and PS each
end a line), without splitting the whole text into a list."""

from __future__ import annotations

import re
from collections.abc import Iterable

_BREAK = re.compile(r"\r\n|[\n\r\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029]")
_RARE_BREAKS = "\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029"
# Lines are located block by block: a block's line feeds are counted at the
# speed of str.count, and only the block holding a wanted line is searched.
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


def _only_line_feeds(text: str) -> bool:
    """True when every line break is LF or CR LF."""
    if text.count("\r") != text.count("\r\n"):
        return False
    return not any(ch in text for ch in _RARE_BREAKS)


def _spans_by_line_feed(text: str, targets: list[int]) -> dict[int, tuple[int, int]]:
    spans: dict[int, tuple[int, int]] = {}
    line, pos, n = 1, 0, len(text)
    for target in targets:
        # Skip whole blocks while the target lies beyond them.
        while line < target:
            block_end = min(pos + _BLOCK, n)
            breaks = text.count("\n", pos, block_end)
            if breaks >= target - line:
                break
            if block_end == n:
                return spans
            line += breaks
            pos = block_end
        while line < target:
            found = text.find("\n", pos)
            if found < 0:
                return spans
            line += 1
            pos = found + 1
        if pos >= n:
            return spans  # a final line break starts no line
        end = text.find("\n", pos)
        end = n if end < 0 else end
        spans[target] = (pos, end - 1 if end > pos and text[end - 1] == "\r" else end)
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
