"""The output formats of ``quorvane analyze``: ``table``, ``json_lines``,
``csv_rows`` on a text stream, and ``html_page``, a self-contained page.

Every writer takes the file reports in output order and a text stream.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import TextIO

from agents.quorvane.assessment.record import FileReport
from agents.quorvane.writers.csv_rows import write_csv
from agents.quorvane.writers.json_lines import write_json_lines
from agents.quorvane.writers.table import write_table

WRITERS: dict[str, Callable[[Sequence[FileReport], TextIO], None]] = {
    "table": write_table,
    "json": write_json_lines,
    "csv": write_csv,
}
