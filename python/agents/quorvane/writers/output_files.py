"""Output files of every command: checked before any work, written by one
writer.

API:

* :func:`output_problem` checks every output path a command was given
  (``[("-o", path), ("--html", path)]``) before any work, and returns the
  one-line usage error to print for the first that cannot be written (the
  command then exits with status 2), or None;
* :func:`write_output` writes one output through a callable that takes the
  text stream, by the rules below; it raises OSError on failure (the
  command's ``main`` reports it, exit status 1).

What a path is decides how it is written:

* ``-`` is standard output.
* A regular file, or a path that does not exist yet, is written whole: to a
  temporary file beside it, then renamed onto it, so that a failed or
  interrupted run never leaves half a report under the name asked for.  A
  file replaced keeps its permission bits.
* A symbolic link is written through: its target, by these same rules (a
  link to a regular file replaces the file and stays a link; a link whose
  target does not exist creates the target).
* A FIFO, a character device (``/dev/null``, a terminal) and standard
  output itself (``/dev/stdout``, ``/proc/self/fd/1``) are written to
  directly, as any program writes to them.
* Anything else (a directory, a socket, a block device) is refused: a path
  that is not a regular file is never replaced.
"""

from __future__ import annotations

import errno
import os
import stat
import sys
import tempfile
from collections.abc import Callable, Iterable
from typing import TextIO

from agents.quorvane.writers.spelling import printable

STDOUT = "-"
ENCODING = "utf-8"


def _status(path: str) -> os.stat_result | None:
    """What ``path`` is, through links; None when it (or a link's target)
    does not exist."""
    try:
        return os.stat(path)
    except FileNotFoundError:
        return None


def _is_stdout(info: os.stat_result) -> bool:
    try:
        out = os.fstat(sys.stdout.fileno())
    except (AttributeError, OSError, ValueError):
        return False
    return (out.st_dev, out.st_ino) == (info.st_dev, info.st_ino)


def _streams_to(info: os.stat_result | None) -> bool:
    """True for what is written to directly rather than replaced."""
    return info is not None and (stat.S_ISFIFO(info.st_mode) or stat.S_ISCHR(info.st_mode) or _is_stdout(info))


def _final(path: str) -> str:
    """The name a file is renamed onto: the target of a link, else the path."""
    return os.path.realpath(path) if os.path.islink(path) else path


def target_problem(path: str) -> str | None:
    """Why ``path`` cannot be written, or None when it can (as far as can
    be known before writing)."""
    if path == STDOUT:
        return None
    if path == "" or path.endswith(os.sep):
        return "not a file name"
    try:
        info = _status(path)
    except OSError as exc:  # a loop of links, a name too long, ...
        return exc.strerror or str(exc)
    if info is not None:
        if stat.S_ISDIR(info.st_mode):
            return "is a directory"
        if _streams_to(info):
            return None if os.access(path, os.W_OK) else "not writable"
        if not stat.S_ISREG(info.st_mode):
            return "not a regular file, a FIFO or a character device"
    target = _final(path)
    folder = os.path.dirname(target) or "."
    if not os.path.isdir(folder):
        return f"no directory {folder}"
    if not os.access(folder, os.W_OK | os.X_OK):
        return f"directory {folder} is not writable"
    if info is not None and not os.access(target, os.W_OK):
        return "not writable"
    return None


def output_problem(outputs: Iterable[tuple[str, str | None]]) -> str | None:
    """The usage error for the first of the (option, path) pairs whose path
    cannot be written, or None; pairs without a path are skipped."""
    for option, path in outputs:
        if path is not None:
            problem = target_problem(path)
            if problem:
                return f"{option} {printable(path)}: {problem}"
    return None


def write_output(path: str, write: Callable[[TextIO], None]) -> None:
    """Write UTF-8 text through ``write`` to ``path`` by the rules of this
    module; OSError on failure."""
    if path == STDOUT:
        write(sys.stdout)
        return
    info = _status(path)
    if info is not None and _is_stdout(info):
        sys.stdout.flush()
        write(sys.stdout)
        return
    if _streams_to(info):
        with open(path, "w", encoding=ENCODING, errors="backslashreplace", newline="") as fh:
            write(fh)
        return
    if info is not None and not stat.S_ISREG(info.st_mode):
        raise OSError(errno.EINVAL, "not a regular file, a FIFO or a character device", path)
    _replace(_final(path), write)


def _replace(path: str, write: Callable[[TextIO], None]) -> None:
    """Write a regular file whole: to a temporary name beside it, then
    renamed onto it."""
    folder = os.path.dirname(path) or "."
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".quorvane-", suffix=".tmp")
    try:
        with open(fd, "w", encoding=ENCODING, errors="backslashreplace", newline="") as fh:
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
