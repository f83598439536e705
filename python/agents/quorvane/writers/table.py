"""The plain-text table: one line per analysed row, then the totals.

Failed files go to standard error, one line each, not into the table.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import Row
from agents.quorvane.assessment.totals import Summary
from agents.quorvane.writers.spelling import NULL_CELL, number, printable

# Hotspots shown in a table cell; the rest are counted.
SHORT_HOTSPOTS = 2

_NUMERIC = {"lines", "procs", "complex", "moderate", "temp", "cte", "hours"}


def _columns(per_object: bool) -> tuple[str, ...]:
    head = ("file", "object", "span") if per_object else ("file",)
    return head + (
        "level",
        "lines",
        "procs",
        "complex",
        "moderate",
        "temp",
        "cte",
        "turns a/c/a",
        "read",
        "encoding",
        "platform",
        "confidence",
        "hours",
        "hotspots",
        "categories",
    )


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


def hotspots_label(row: Row) -> str:
    if row.hotspots is None:
        return NULL_CELL
    if not row.hotspots:
        return "0"
    shown = ", ".join(f"{h.name}@{h.line}" for h in row.hotspots[:SHORT_HOTSPOTS])
    more = ", …" if len(row.hotspots) > SHORT_HOTSPOTS else ""
    return f"{len(row.hotspots)}: {shown}{more}"


def _row(r: Row, per_object: bool) -> list[str]:
    head = [printable(r.path)]
    if per_object:
        head += [
            printable(" ".join(v for v in (r.object_kind, r.object_name) if v)) or NULL_CELL,
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
        number(r.effort_hours),
        printable(hotspots_label(r)),
        ", ".join(r.categories or ()) or NULL_CELL,
    ]


def write_table(rows: Sequence[Row], summary: Summary, out: TextIO, *, per_object: bool = False) -> None:
    columns = _columns(per_object)
    cells = [_row(r, per_object) for r in rows if r.ok]
    widths = [max([len(h)] + [len(row[i]) for row in cells]) for i, h in enumerate(columns)]

    def line(values: Sequence[str]) -> str:
        padded = [v.rjust(w) if h in _NUMERIC else v.ljust(w) for v, w, h in zip(values, widths, columns)]
        return "  ".join(padded).rstrip()

    header = line(columns)
    out.write(header + "\n" + "-" * len(header) + "\n")
    for row in cells:
        out.write(line(row) + "\n")
    write_totals(summary, out)


def write_totals(s: Summary, out: TextIO) -> None:
    out.write(f"\n{s.files} files, {s.analysed} analysed, {s.failed} failed")
    if s.unreadable_dirs:
        out.write(f"; {len(s.unreadable_dirs)} directories could not be read")
    out.write("\nlevels: " + ", ".join(f"{k} {v}" for k, v in s.levels.items()) + "\n")
    if s.objects:
        out.write(f"objects: {s.objects}; levels: " + ", ".join(f"{k} {v}" for k, v in s.object_levels.items()) + "\n")
    out.write("turn budgets: " + ", ".join(f"{k} {v}" for k, v in s.budgets.items()) + "\n")
    out.write(f"read in sections: {s.chunked} of {s.analysed} files; effective lines: {s.effective_lines}\n")
    out.write("platforms: " + (", ".join(f"{k} {v}" for k, v in s.platforms.items()) or NULL_CELL) + "\n")
    if s.confidence:
        out.write("platform confidence: " + ", ".join(f"{k} {v}" for k, v in s.confidence.items()) + "\n")
    out.write("categories: " + (", ".join(f"{k} {v}" for k, v in s.categories.items()) or NULL_CELL) + "\n")
    out.write(
        f"effort: {number(s.total_hours)} hours = {number(s.conversion_hours)} converting + "
        f"{number(round(sum(s.learning_hours.values()), 2))} learning {len(s.learning_hours)} categories once\n"
    )
