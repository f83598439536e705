"""Output files of a command: checked before any work, written whole.

A file is written to a temporary name beside it and renamed into place, so
a failed run (full disk, interrupt) never leaves half a report under the
name asked for.
"""

from __future__ import annotations

import os
import tempfile
from collections.abc import Callable
from typing import TextIO

STDOUT = "-"


def target_problem(path: str) -> str | None:
    """Why ``path`` cannot be written, or None when it can (as far as can
    be known before writing)."""
    if path == STDOUT:
        return None
    if path == "" or path.endswith(os.sep):
        return "not a file name"
    if os.path.isdir(path):
        return "is a directory"
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        return f"no directory {folder}"
    if not os.access(folder, os.W_OK | os.X_OK):
        return f"directory {folder} is not writable"
    if os.path.exists(path) and not os.access(path, os.W_OK):
        return "not writable"
    return None


def write_file(path: str, write: Callable[[TextIO], None]) -> None:
    """Write a UTF-8 file through ``write``, atomically; OSError on failure."""
    folder = os.path.dirname(path) or "."
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".quorvane-", suffix=".tmp")
    try:
        with open(fd, "w", encoding="utf-8", errors="backslashreplace", newline="") as fh:
            write(fh)
        try:
            mode = os.stat(path).st_mode & 0o7777
        except FileNotFoundError:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
