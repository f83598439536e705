"""CSV: a header of the record's fields, then one line per row."""

from __future__ import annotations

import csv
from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FIELDS, Row
from agents.quorvane.writers.spelling import csv_value


def write_csv(rows: Sequence[Row], out: TextIO) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(FIELDS)
    for row in rows:
        record = row.to_record()
        writer.writerow([csv_value(name, record[name]) for name in FIELDS])
