"""The work plan as CSV (``analyze --format plan-csv``): one row per work
item (an object, or the batches of a file that define nothing), by wave,
then path and line, with its bucket, hours range, blockers and
dependencies.  Lists are joined with "; "; a text cell that a spreadsheet
would take for a formula gets a leading ``'``."""

from __future__ import annotations

import csv
from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FileResult, WorkItem
from agents.quorvane.writers.spelling import csv_text

COLUMNS = (
    "wave",
    "bucket",
    "path",
    "object_kind",
    "object_name",
    "start_line",
    "end_line",
    "complexity",
    "effective_lines",
    "effort_lines",
    "effort_low",
    "effort_hours",
    "effort_high",
    "duplicate_of",
    "blockers",
    "depends_on",
    "missing",
)


def _cells(w: WorkItem) -> list[object]:
    def text(value: str | None) -> str:
        return "" if value is None else csv_text(value)

    return [
        w.wave,
        w.bucket,
        text(w.path),
        text(w.kind),
        text(w.name),
        "" if w.start_line is None else w.start_line,
        "" if w.end_line is None else w.end_line,
        w.complexity,
        w.effective_lines,
        w.effort_lines,
        w.low,
        w.hours,
        w.high,
        text(w.duplicate_of),
        text("; ".join(f"{b.kind}@{b.line}" for b in w.blockers)),
        text("; ".join(w.depends_on)),
        text("; ".join(w.missing)),
    ]


def write_plan_csv(results: Sequence[FileResult], out: TextIO) -> None:
    work = sorted((w for r in results for w in r.work), key=lambda w: (w.wave, w.path, w.start_line or 0))
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(COLUMNS)
    for w in work:
        writer.writerow(_cells(w))
