"""Reading the one SQL script a command works on."""

from __future__ import annotations

import sys

from agents.quorvane.assessment.single_file import STDIN_PATH, InputError, decode_input, read_regular_file
from agents.quorvane.commands.exit_status import error
from agents.quorvane.writers.spelling import printable

MAX_SIZE = 1 << 30


def read_sql(command: str, path: str, encoding: str | None) -> str | None:
    """The decoded text of a regular file (or of standard input for ``-``),
    or None after a one-line error: a FIFO or device is refused at once."""
    try:
        data = sys.stdin.buffer.read() if path == STDIN_PATH else read_regular_file(path, MAX_SIZE)
        return decode_input(data, encoding).text
    except InputError as exc:
        error(command, f"{printable(path)}: {exc}")
    except OSError as exc:
        error(command, f"{printable(path)}: {type(exc).__name__}: {exc.strerror or exc}")
    return None
