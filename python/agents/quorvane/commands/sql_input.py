"""Reading the one SQL script a command works on."""

from __future__ import annotations

from agents.quorvane.assessment.input_files import InputError, read_input
from agents.quorvane.commands.exit_status import error
from agents.quorvane.writers.spelling import printable

MAX_SIZE = 1 << 30


def read_sql(command: str, path: str, encoding: str | None) -> str | None:
    """The decoded text of a regular file (or of standard input for ``-``),
    or None after a one-line error: a FIFO or device is refused at once."""
    try:
        return read_input(path, MAX_SIZE, encoding).text
    except InputError as exc:
        error(command, f"{printable(path)}: {exc}")
    return None
