"""Exit statuses and the one-line error message of every subcommand."""

from __future__ import annotations

import sys

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


def error(command: str, message: str) -> None:
    print(f"quorvane {command}: error: {message}", file=sys.stderr)
