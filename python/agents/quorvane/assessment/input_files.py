"""Reading an input: the one place where a command turns a path, or
standard input, into text.

Every command reads its SQL (and ``knowledge`` its Markdown) through this
module, so that each input is refused, limited, decoded and reported the
same way:

* :func:`read_input` gives the decoded text of a path (``-``: standard
  input) and raises :class:`InputError` for every reason the input cannot
  be used, with the message to print after the input's name.
* :func:`read_regular_file` and :func:`decode_bytes` are its two halves,
  for a caller that holds the bytes already (``analyze`` reads standard
  input before its workers start) or wants them alone.

The rules:

* Only a regular file is read: a FIFO, a device or a directory is refused
  before anything is read from it, so nothing blocks.
* A file larger than ``max_size`` bytes is refused before it is read (and
  standard input after it is read).
* The bytes are decoded by :func:`agents.quorvane.assessment.decoding.decode`
  (a given encoding, else a byte-order mark, else UTF-8, else the detected
  legacy code page), always strictly.
* An error of the system is spelled in words, as the system states it, in
  lower case (``"no such file or directory"``, ``"permission denied"``;
  :func:`os_error_text`), never as the name of an exception class.
"""

from __future__ import annotations

import os
import stat
import sys

from agents.quorvane.assessment import decoding

STDIN_PATH = "-"


class InputError(Exception):
    """An input that is not analysed for a reason of its own (kind, size,
    encoding, or the system's error); ``str()`` is the message to print
    after the input's name."""


def os_error_text(exc: BaseException) -> str:
    """How a command reports a system error on an input: the system's own
    words, starting in lower case."""
    text = (exc.strerror if isinstance(exc, OSError) else None) or str(exc) or "unknown error"
    return text[:1].lower() + text[1:]


def _too_large(max_size: int) -> InputError:
    return InputError(f"more than the {max_size}-byte limit (--max-size)")


def read_regular_file(path: str, max_size: int) -> bytes:
    """The bytes of a regular file; InputError for anything else (a FIFO or
    a device is refused before it is read, so nothing blocks) or when it is
    larger than ``max_size``; OSError when it cannot be opened or read."""
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise InputError("not a regular file")
        if info.st_size > max_size:
            raise InputError(f"{info.st_size} bytes, more than the {max_size}-byte limit (--max-size)")
        with open(fd, "rb", buffering=0, closefd=True) as fh:
            fd = -1
            data = fh.readall()  # sized from fstat: one allocation, no copy
        if len(data) > max_size:  # it grew while being read
            raise _too_large(max_size)
        return data
    finally:
        if fd >= 0:
            os.close(fd)


def decode_bytes(data: bytes, max_size: int, encoding: str | None) -> decoding.Decoded:
    """``data`` decoded by the decoding rule; InputError when it is larger
    than ``max_size`` or does not decode."""
    if len(data) > max_size:
        raise _too_large(max_size)
    try:
        return decoding.decode(data, encoding)
    except decoding.DecodeError as exc:
        hint = "" if encoding is not None else f"; {decoding.ASK_FOR_ENCODING}"
        raise InputError(f"cannot decode: {exc}{hint}") from None


def read_input(path: str, max_size: int, encoding: str | None = None) -> decoding.Decoded:
    """The decoded text of the regular file at ``path`` (standard input for
    ``-``); InputError, with its message, for any reason it cannot be had."""
    try:
        data = sys.stdin.buffer.read() if path == STDIN_PATH else read_regular_file(path, max_size)
    except OSError as exc:
        raise InputError(os_error_text(exc)) from None
    return decode_bytes(data, max_size, encoding)
