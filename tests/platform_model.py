"""Reference model of platform detection's scanning: the pure-Python detector
the package used before its scan moved into ``dialectra.MarkerScanner``.

Plain Python over the host's ``re`` and ``str``.  :func:`first_lines` gives,
for every row the package scans (catalogue markers, then the detector's
evidence rows), the line of its first counted match (0: none);
:func:`detect_platform` turns those lines into a guess with the package's own
rule (``platform_detect.judge``), so the model checks the scan and the two
detectors differ in nothing else.  The package never imports this
file.

Case folding: ``re.IGNORECASE`` pairs i and I with U+0130 and U+0131, which
Unicode simple case folding does not; it agrees with simple folding on every
other character (the long s and the Kelvin sign match s and k in both).  The
model therefore searches a copy of the text in which those two characters are
replaced by U+00AA, a letter with no case at all: same length, same line
breaks, still a word character, and it matches no ASCII letter.
"""

from __future__ import annotations

import bisect
import functools
import re
from dataclasses import dataclass
from typing import Any

from agents.quorvane import platform_detect as pd

_NO_CASE_LETTER = "\u00aa"
_UNFOLDED = str.maketrans({"\u0130": _NO_CASE_LETTER, "\u0131": _NO_CASE_LETTER})

_LEXEME_OPENER = re.compile(r"--|/\*|['\"]")


def code_view(sql: str) -> tuple[str, list[int], list[int], list[tuple[int, int]]]:
    """The text without comments; the start and end offsets (in that text) of
    its single-quoted string literals; and (code offset, original offset) at
    the start of every kept part.

    Quoted strings and identifiers are kept whole, so a ``--`` or ``/*``
    inside quotes opens no comment; a doubled quote character inside quotes
    stands for itself.  An unterminated comment or quoted string runs to the
    end of the text.
    """
    parts: list[str] = []
    origins: list[tuple[int, int]] = []
    starts: list[int] = []
    ends: list[int] = []
    size = len(sql)
    out_len = 0
    pos = 0
    search = _LEXEME_OPENER.search
    while (m := search(sql, pos)) is not None:
        i = m.start()
        if i > pos:
            origins.append((out_len, pos))
            parts.append(sql[pos:i])
            out_len += i - pos
        opener = m.group()
        if opener == "--":
            end = sql.find("\n", i)  # the line break itself stays
            pos = size if end < 0 else end
            continue
        if opener == "/*":
            end = sql.find("*/", i + 2)
            pos = size if end < 0 else end + 2
            continue
        scan = i + 1
        while True:
            close = sql.find(opener, scan)
            if close < 0:
                end = size
                break
            if sql.startswith(opener, close + 1):
                scan = close + 2
                continue
            end = close + 1
            break
        origins.append((out_len, i))
        parts.append(sql[i:end])
        if opener == "'":
            starts.append(out_len)
            ends.append(out_len + end - i)
        out_len += end - i
        pos = end
    origins.append((out_len, pos))
    parts.append(sql[pos:])
    return "".join(parts), starts, ends, origins


def original_offset(origins: list[tuple[int, int]], at: int) -> int:
    k = bisect.bisect_right(origins, (at, float("inf"))) - 1
    code_start, original_start = origins[k]
    return original_start + (at - code_start)


def line_of(sql: str, offset: int) -> int:
    """1 + the number of lines (by ``str.splitlines``) that end before ``offset``."""
    pieces = sql[:offset].splitlines(keepends=True)
    complete = sum(1 for p in pieces if p != p.rstrip("\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029"))
    # A CR whose LF lies at `offset` has not ended its line yet.
    if pieces and pieces[-1].endswith("\r") and sql[offset : offset + 1] == "\n":
        complete -= 1
    return 1 + complete


def _fold(text: str) -> str:
    if text.isascii():
        return text.lower()
    return text.replace("\u0130", "i").lower().replace("\u0131", "i").replace("\u017f", "s")


def _required_literals(pattern: str) -> tuple[frozenset[str], ...]:
    """Words that any match of ``pattern`` must contain, lower-cased (a
    conjunction of alternatives), read from the host's parsed pattern."""
    from re import _constants as sre, _parser as parser  # type: ignore[attr-defined]

    tree = parser.parse(pattern, re.IGNORECASE | re.MULTILINE)
    repeats = {sre.MAX_REPEAT, sre.MIN_REPEAT, getattr(sre, "POSSESSIVE_REPEAT", sre.MAX_REPEAT)}

    def walk(items: Any) -> list[frozenset[str]]:
        found: list[frozenset[str]] = []
        run: list[str] = []

        def close_run() -> None:
            if run:
                found.append(frozenset({"".join(run)}))
                run.clear()

        for op, arg in items:
            if op is sre.LITERAL and arg < 0x80:
                run.append(chr(arg).lower())
                continue
            close_run()
            if op is sre.SUBPATTERN:
                found.extend(walk(arg[-1]))
            elif op in repeats and arg[0] >= 1:
                found.extend(walk(arg[2]))
            elif op is sre.BRANCH:
                picks = []
                for branch in arg[1]:
                    words = [next(iter(s)) for s in walk(branch) if len(s) == 1]
                    if not words:
                        break
                    picks.append(max(words, key=len))
                else:
                    found.append(frozenset(picks))
        close_run()
        return found

    return tuple(walk(tree))


@dataclass(frozen=True)
class Probe:
    row: pd.Marker | pd.Evidence
    regex: re.Pattern[str]
    required: tuple[frozenset[str], ...]

    def may_match(self, folded: str) -> bool:
        return all(any(word in folded for word in words) for words in self.required)


@functools.cache
def probes() -> tuple[Probe, ...]:
    return tuple(
        Probe(row, re.compile(row.pattern, re.IGNORECASE | re.MULTILINE), _required_literals(row.pattern))
        for row in pd.scan_rows()
    )


def _first_in_code(regex: re.Pattern[str], code: str, lit_starts: list[int], lit_ends: list[int]) -> int | None:
    pos = 0
    while (m := regex.search(code, pos)) is not None:
        k = bisect.bisect_right(lit_starts, m.start()) - 1
        if k < 0 or m.start() >= lit_ends[k]:
            return m.start()
        # Inside a literal: no match starting there counts, so go on past it.
        pos = lit_ends[k]
    return None


_NOT_SPACE = re.compile(r"\S")


def _past_leading_space(probe: Probe, text: str, at: int) -> int:
    """A row whose pattern starts with ``^\\s*`` is at its first character
    that is not whitespace, not at the blank line its match may start on."""
    if not probe.row.pattern.startswith(r"^\s*"):
        return at
    m = _NOT_SPACE.search(text, at)
    return m.start() if m else len(text)


def first_lines(sql: str) -> tuple[int, ...]:
    """For every scanned row, the line of its first counted match (0: none)."""
    searched = sql.translate(_UNFOLDED)
    code, lit_starts, lit_ends, origins = code_view(searched)
    folded_code = _fold(code)
    folded_full: str | None = None
    lines = []
    for probe in probes():
        offset = None
        if probe.row.scope == pd.SCOPE_COMMENT:
            if folded_full is None:
                folded_full = _fold(searched)
            if probe.may_match(folded_full) and (m := probe.regex.search(searched)):
                offset = _past_leading_space(probe, searched, m.start())
        elif probe.may_match(folded_code):
            at = _first_in_code(probe.regex, code, lit_starts, lit_ends)
            if at is not None:
                offset = original_offset(origins, _past_leading_space(probe, code, at))
        lines.append(0 if offset is None else line_of(sql, offset))
    return tuple(lines)


def detect_platform(sql: str) -> pd.PlatformGuess:
    if not isinstance(sql, str):
        raise TypeError(f"detect_platform() argument must be str, not {type(sql).__name__}")
    return pd.judge(first_lines(sql))
