"""CSV: a header, then one row per file."""

from __future__ import annotations

import csv
from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FileReport
from agents.quorvane.writers.labels import format_score

CSV_COLUMNS = ("path", "status", "error", "complexity", "effective_lines", "stored_proc_count",
               "complex_construct_count", "moderate_construct_count", "temp_table_count", "cte_count",
               "analysis_turns", "conversion_turns", "audit_turns", "total_lines", "chunked", "sections",
               "categories", "platform", "platform_score")  # fmt: skip


def write_csv(reports: Sequence[FileReport], out: TextIO) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    for r in reports:
        if not r.ok:
            writer.writerow([r.path, "error", r.error] + [""] * (len(CSV_COLUMNS) - 3))
            continue
        record = r.to_json()
        record["error"] = ""
        record["categories"] = ";".join(r.categories)
        record["platform"] = r.platform or ""
        record["chunked"] = "yes" if r.chunked else "no"
        record["platform_score"] = format_score(r.platform_score)
        writer.writerow([record[c] for c in CSV_COLUMNS])
