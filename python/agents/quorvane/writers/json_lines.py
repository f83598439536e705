"""JSON lines: one object per row, every row with the same keys."""

from __future__ import annotations

import json
from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import Row


def write_json_lines(rows: Sequence[Row], out: TextIO) -> None:
    for row in rows:
        out.write(json.dumps(row.to_record()) + "\n")
