"""The plain-text table: one line per analysed file, failures, totals."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FileReport
from agents.quorvane.assessment.totals import summarize
from agents.quorvane.writers.labels import platform_label, reading_label

_TABLE_COLUMNS = ("file", "level", "lines", "procs", "complex", "moderate", "temp", "cte",
                  "turns a/c/a", "read", "platform (score)", "categories")  # fmt: skip
_NUMERIC = {"lines", "procs", "complex", "moderate", "temp", "cte"}


def _table_row(r: FileReport) -> list[str]:
    return [
        r.path,
        r.complexity or "",
        str(r.effective_lines),
        str(r.stored_proc_count),
        str(r.complex_construct_count),
        str(r.moderate_construct_count),
        str(r.temp_table_count),
        str(r.cte_count),
        f"{r.analysis_turns}/{r.conversion_turns}/{r.audit_turns}",
        reading_label(r),
        platform_label(r),
        ", ".join(r.categories) or "-",
    ]


def write_table(reports: Sequence[FileReport], out: TextIO) -> None:
    rows = [_table_row(r) for r in reports if r.ok]
    widths = [max([len(h)] + [len(row[i]) for row in rows]) for i, h in enumerate(_TABLE_COLUMNS)]

    def line(cells: Sequence[str]) -> str:
        padded = [
            c.rjust(w) if h in _NUMERIC else c.ljust(w)
            for c, w, h in zip(cells, widths, _TABLE_COLUMNS)
        ]
        return "  ".join(padded).rstrip()

    header = line(_TABLE_COLUMNS)
    out.write(header + "\n" + "-" * len(header) + "\n")
    for row in rows:
        out.write(line(row) + "\n")
    failed = [r for r in reports if not r.ok]
    if failed:
        out.write(f"\nFailed ({len(failed)}):\n")
        for r in failed:
            out.write(f"  {r.path}: {r.error}\n")
    s = summarize(reports)
    out.write(f"\n{s.files} files, {s.files - s.failed} analysed, {s.failed} failed\n")
    out.write("levels: " + ", ".join(f"{k} {v}" for k, v in s.levels.items()) + "\n")
    out.write("turn budgets: " + ", ".join(f"{k} {v}" for k, v in s.budgets.items()) + "\n")
    out.write(f"read in sections: {s.chunked} of {s.files - s.failed} files; effective lines: {s.effective_lines}\n")
    out.write("platforms: " + (", ".join(f"{k} {v}" for k, v in s.platforms.items()) or "-") + "\n")
    out.write("categories: " + (", ".join(f"{k} {v}" for k, v in s.categories.items()) or "-") + "\n")
