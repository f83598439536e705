"""The plain-text table: the totals first, then one line per analysed row,
then the hardest rows.

The table fits the terminal: ``COLUMNS``, else the terminal's width, else
120 columns.  It shows the path (shortened in the middle), with
``--objects`` the object, and the level, effective lines, expected hours
(whole hours), bucket, platform and number of blockers; the path and object
take the room the other columns leave (on a terminal too narrow for all,
the last columns are left out).
``wide=True`` shows every column at its full width instead.

Failed files go to standard error, one line each, not into the table.
"""

from __future__ import annotations

import shutil
import textwrap
from collections.abc import Callable, Sequence
from typing import Any, TextIO

from agents.quorvane.assessment.buckets import CONVERSION
from agents.quorvane.assessment.record import LEVELS, Blocker, Hotspot, Row
from agents.quorvane.assessment.totals import Summary
from agents.quorvane.writers.spelling import NULL_CELL, number, printable, shorten_middle

# Hotspots shown in a table cell; the rest are counted.
SHORT_HOTSPOTS = 2
# Rows listed after the table as the hardest.
HARDEST = 10
# Width when standard output is not a terminal and COLUMNS is not set.
DEFAULT_WIDTH = 120
# The path and object columns never get narrower than this.
MIN_NAME_WIDTH = 16

_NUMERIC = {"eff. lines", "procs", "complex", "moderate", "temp", "cte", "hours", "range", "wave", "blockers"}
# The columns of the narrow table, after the path (and object).
_NARROW = ("level", "eff. lines", "hours", "bucket", "platform", "blockers")
_WIDE = ("level", "eff. lines", "procs", "complex", "moderate", "temp", "cte", "turns a/c/a", "read", "encoding",
         "platform", "confidence", "hours", "range", "bucket", "wave", "duplicate of", "hotspots", "blockers",
         "categories")  # fmt: skip


def terminal_width() -> int:
    """``COLUMNS``, else the terminal's width, else ``DEFAULT_WIDTH``."""
    return shutil.get_terminal_size((DEFAULT_WIDTH, 24)).columns


def _columns(per_object: bool) -> tuple[str, ...]:
    return (("file", "object", "span") if per_object else ("file",)) + _WIDE


def reading_label(row: Row) -> str:
    if row.chunked is None:
        return NULL_CELL
    return f"{row.sections} sections" if row.chunked else "whole"


def platform_label(row: Row) -> str:
    if row.platform_tied:
        return f"tie: {'/'.join(row.platform_tied)} ({number(row.platform_score)})"
    if row.platform is None:
        return NULL_CELL
    return row.platform if row.platform_score is None else f"{row.platform} ({number(row.platform_score)})"


def hours(value: float | None) -> str:
    """Hours as whole hours: an estimate has no decimals worth showing."""
    return NULL_CELL if value is None else str(round(value))


def range_label(row: Row) -> str:
    if row.effort_low is None or row.effort_high is None:
        return NULL_CELL
    return f"{round(row.effort_low)}-{round(row.effort_high)}"


def _findings_label(findings: Sequence[Hotspot | Blocker] | None, name: Callable[[Any], str]) -> str:
    """The number of findings, then the first ones as name@line."""
    if findings is None:
        return NULL_CELL
    if not findings:
        return "0"
    shown = ", ".join(f"{name(f)}@{f.line}" for f in findings[:SHORT_HOTSPOTS])
    more = ", …" if len(findings) > SHORT_HOTSPOTS else ""
    return f"{len(findings)}: {shown}{more}"


def hotspots_label(row: Row) -> str:
    return _findings_label(row.hotspots, lambda h: h.name)


def blockers_label(row: Row) -> str:
    """The number of blockers, then the first ones as kind@line."""
    return _findings_label(row.blockers, lambda b: b.kind)


def _row(r: Row, per_object: bool) -> list[str]:
    head = [printable(r.path)]
    if per_object:
        head += [
            _object_label(r),
            f"{r.start_line}-{r.end_line}" if r.start_line is not None else NULL_CELL,
        ]
    encoding = NULL_CELL if r.encoding is None else r.encoding + ("?" if r.encoding_guessed else "")
    return head + [
        r.complexity or NULL_CELL,
        number(r.effective_lines),
        number(r.stored_proc_count),
        number(r.complex_construct_count),
        number(r.moderate_construct_count),
        number(r.temp_table_count),
        number(r.cte_count),
        f"{r.analysis_turns}/{r.conversion_turns}/{r.audit_turns}",
        reading_label(r),
        encoding,
        platform_label(r),
        r.platform_confidence or NULL_CELL,
        hours(r.effort_hours),
        range_label(r),
        r.bucket or NULL_CELL,
        number(r.wave),
        printable(r.duplicate_of or NULL_CELL),
        printable(hotspots_label(r)),
        blockers_label(r),
        ", ".join(r.categories or ()) or NULL_CELL,
    ]


def _object_label(r: Row) -> str:
    return printable(" ".join(v for v in (r.object_kind, r.object_name) if v)) or NULL_CELL


def _narrow_row(r: Row, per_object: bool) -> list[str]:
    head = [printable(r.path)] + ([_object_label(r)] if per_object else [])
    return head + [
        r.complexity or NULL_CELL,
        number(r.effective_lines),
        hours(r.effort_hours),
        r.bucket or NULL_CELL,
        platform_label(r),
        NULL_CELL if r.blockers is None else str(len(r.blockers)),
    ]


def _within(
    columns: tuple[str, ...], cells: list[list[str]], width: int, names: int
) -> tuple[tuple[str, ...], list[list[str]]]:
    """The columns that fit ``width`` beside names of the least width: the
    last ones are left out of a terminal too narrow for all."""
    while len(columns) > names + 1:
        needed = MIN_NAME_WIDTH * names + 2 * (len(columns) - 1)
        needed += sum(max([len(h)] + [len(row[i]) for row in cells]) for i, h in enumerate(columns) if i >= names)
        if needed <= width:
            break
        columns, cells = columns[:-1], [row[:-1] for row in cells]
    return columns, cells


def _fit(columns: Sequence[str], cells: list[list[str]], width: int, names: int) -> list[int]:
    """Column widths: the first ``names`` columns (path, object) share what
    the others leave of ``width``, in proportion to their longest value."""
    widths = [max([len(h)] + [len(row[i]) for row in cells]) for i, h in enumerate(columns)]
    room = width - sum(widths[names:]) - 2 * (len(columns) - 1)
    wanted = sum(widths[:names])
    if wanted > room:
        for i in range(names):
            widths[i] = max(MIN_NAME_WIDTH, min(widths[i], room * widths[i] // max(wanted, 1)))
    return widths


def _write_grid(columns: Sequence[str], cells: list[list[str]], widths: Sequence[int], out: TextIO) -> None:
    def line(values: Sequence[str]) -> str:
        padded = [
            v.rjust(w) if h in _NUMERIC else shorten_middle(v, w).ljust(w) for v, w, h in zip(values, widths, columns)
        ]
        return "  ".join(padded).rstrip()

    header = line(columns)
    out.write(header + "\n" + "-" * len(header) + "\n")
    for row in cells:
        out.write(line(row) + "\n")


def hardest(rows: Sequence[Row], count: int = HARDEST) -> list[Row]:
    """The ``count`` conversion rows of most hours; among equal hours the
    higher level, then path and line."""
    costed = [r for r in rows if r.ok and r.effort_hours is not None and r.bucket in (None, CONVERSION)]
    return sorted(
        costed,
        key=lambda r: (-(r.effort_hours or 0), -LEVELS.index(r.complexity or LEVELS[0]), r.path, r.start_line or 0),
    )[:count]


def write_table(
    rows: Sequence[Row], summary: Summary, out: TextIO, *, per_object: bool = False, wide: bool = False
) -> None:
    write_totals(summary, out, None if wide else terminal_width())
    out.write("\n")
    ok = [r for r in rows if r.ok]
    names = 2 if per_object else 1
    if wide:
        columns = _columns(per_object)
        cells = [_row(r, per_object) for r in ok]
        widths = [max([len(h)] + [len(row[i]) for row in cells]) for i, h in enumerate(columns)]
    else:
        columns = ("file", "object")[:names] + _NARROW
        cells = [_narrow_row(r, per_object) for r in ok]
        columns, cells = _within(columns, cells, terminal_width(), names)
        widths = _fit(columns, cells, terminal_width(), names)
    _write_grid(columns, cells, widths, out)
    top = hardest(ok)
    if top:
        out.write(f"\nhardest {len(top)}:\n")
        columns = ("file", "object")[:names] + ("hours", "level", "eff. lines")
        cells = [
            [printable(r.path)]
            + ([_object_label(r)] if per_object else [])
            + [hours(r.effort_hours), r.complexity or NULL_CELL, number(r.effective_lines)]
            for r in top
        ]
        _write_grid(columns, cells, _fit(columns, cells, terminal_width(), names), out)


def _counted(n: int, noun: str) -> str:
    return f"{n} {noun}{'s' if n != 1 else ''}"


def _blocker_total(kind: str, found: dict[str, Any]) -> str:
    return f"{kind} {found['count']} in {_counted(len(found['files']), 'file')}"


def write_totals(s: Summary, out: TextIO, width: int | None = None) -> None:
    """The totals, one line each; with ``width``, long lines (platforms,
    categories) wrap at commas onto indented lines of at most that width."""
    first = f"{s.files} files, {s.analysed} analysed, {s.failed} failed"
    if s.unreadable_dirs:
        first += f"; {len(s.unreadable_dirs)} directories could not be read"
    lines = [first, "levels: " + ", ".join(f"{k} {v}" for k, v in s.levels.items())]
    if s.objects:
        lines.append(f"objects: {s.objects}; levels: " + ", ".join(f"{k} {v}" for k, v in s.object_levels.items()))
    lines.append("turn budgets: " + ", ".join(f"{k} {v}" for k, v in s.budgets.items()))
    lines.append(f"read in sections: {s.chunked} of {s.analysed} files; effective lines: {s.effective_lines}")
    lines.append("platforms: " + (", ".join(f"{k} {v}" for k, v in s.platforms.items()) or NULL_CELL))
    if s.confidence:
        lines.append("platform confidence: " + ", ".join(f"{k} {v}" for k, v in s.confidence.items()))
    lines.append("categories: " + (", ".join(f"{k} {v}" for k, v in s.categories.items()) or NULL_CELL))
    lines.append("blockers: " + (", ".join(_blocker_total(k, v) for k, v in s.blockers.items()) or NULL_CELL))
    lines.append(
        f"effort: {s.total_hours} hours ({s.total_low}-{s.total_high}) = {s.conversion_hours} converting "
        f"({s.conversion_low}-{s.conversion_high}) + {s.learning} learning {len(s.learning_hours)} categories once"
    )
    if s.buckets:
        lines.append(
            "buckets: "
            + ", ".join(
                f"{name} {_counted(b['files'], 'file')}, {_counted(b['items'], 'item')}, {b['hours']} hours "
                f"({b['low']}-{b['high']})"
                for name, b in s.buckets.items()
            )
            + " (only conversion counts in the effort)"
        )
    if s.waves:
        lines.append(
            "conversion waves: "
            + ", ".join(f"{w['wave']}: {_counted(w['items'], 'item')}, {w['hours']} hours" for w in s.waves)
        )
    if s.copies or s.duplicates:
        lines.append(f"costed once: {s.duplicates} items duplicate another; near-copy files: {s.copies}")
    for text in lines:
        if width is not None:
            text = textwrap.fill(text, width, subsequent_indent="  ", break_long_words=False, break_on_hyphens=False)
        out.write(text + "\n")
