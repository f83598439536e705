"""JSON lines: one object per file."""

from __future__ import annotations

import json
from collections.abc import Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FileReport


def write_json_lines(reports: Sequence[FileReport], out: TextIO) -> None:
    for r in reports:
        out.write(json.dumps(r.to_json()) + "\n")
