"""Reading the files the tools work on, once per version of each file.

Texts, analyses and units are kept in memory, keyed by the file's resolved
path and its status (size, change times, identity): a file that changes is
read again, an unchanged one is not.  Nothing is written anywhere.
"""

from __future__ import annotations

import os
import threading
from collections import OrderedDict
from collections.abc import Callable
from typing import Any, TypeVar

from agents.quorvane.assessment import decoding
from agents.quorvane.assessment.input_files import InputError, read_input
from agents.quorvane.assessment.single_file import Options, analyze_text
from agents.quorvane.mcp_server.confinement import ToolError

T = TypeVar("T")

# Decoded texts kept, in characters; analyses and units kept, in files.
TEXT_CACHE_CHARS = 64 * 1024 * 1024
RESULT_CACHE_FILES = 4096
# Whole listings (a folder's rows, an inventory) kept while they are paged.
LISTINGS_KEPT = 8


def file_key(real: str, info: os.stat_result) -> tuple[Any, ...]:
    return (real, info.st_size, info.st_mtime_ns, info.st_ctime_ns, info.st_ino, info.st_dev)


class _Lru:
    """A least-recently-used map bounded by the summed weight of its values."""

    def __init__(self, limit: int, weight: Callable[[Any], int]) -> None:
        self._items: OrderedDict[Any, Any] = OrderedDict()
        self._limit = limit
        self._weight = weight
        self._total = 0
        self._lock = threading.Lock()

    def get(self, key: Any, make: Callable[[], T]) -> T:
        with self._lock:
            if key in self._items:
                self._items.move_to_end(key)
                return self._items[key]  # type: ignore[no-any-return]
        value = make()
        with self._lock:
            if key not in self._items:
                self._items[key] = value
                self._total += self._weight(value)
                while self._total > self._limit and len(self._items) > 1:
                    _, old = self._items.popitem(last=False)
                    self._total -= self._weight(old)
        return value


class Sources:
    def __init__(self, max_size: int, platform: str | None = None) -> None:
        self.max_size = max_size
        self.platform = platform
        self._texts = _Lru(TEXT_CACHE_CHARS, lambda d: len(d.text))
        self._lines = _Lru(4, lambda _: 1)
        self._results = _Lru(RESULT_CACHE_FILES, lambda _: 1)
        self._listings = _Lru(LISTINGS_KEPT, lambda _: 1)

    def decoded(self, real: str, info: os.stat_result, shown: str) -> decoding.Decoded:
        """The decoded text; ToolError with ``analyze``'s message when the
        file cannot be read or decoded."""
        return self._texts.get(file_key(real, info), lambda: self._read(real, shown))

    def _read(self, real: str, shown: str) -> decoding.Decoded:
        try:
            return read_input(real, self.max_size)
        except InputError as exc:  # the reader's own message, as analyze reports it
            raise ToolError(f"{shown}: {exc}") from None

    def lines(self, real: str, info: os.stat_result, shown: str) -> list[str]:
        """The file's lines, by the reading plan's line rule."""
        return self._lines.get(file_key(real, info), lambda: self.decoded(real, info, shown).text.splitlines())

    def cached(self, kind: str, real: str, info: os.stat_result, extra: Any, make: Callable[[], T]) -> T:
        """A value derived from one version of a file, made once."""
        return self._results.get((kind, extra, *file_key(real, info)), make)

    def listing(self, call: Any, state: str, make: Callable[[], T]) -> T:
        """A result over many files, made once per state of those files."""
        return self._listings.get((call, state), make)

    def analysis(self, real: str, info: os.stat_result, shown: str, objects: bool) -> Any:
        """``analyze``'s result for the file (rows per object when asked)."""

        def make() -> Any:
            from agents.quorvane.assessment.record import FileResult, Row

            try:
                decoded = self.decoded(real, info, shown)
            except ToolError as exc:
                # The row's error is the command's own text, without the name.
                return FileResult(Row(shown, error=str(exc).removeprefix(f"{shown}: ")))
            return analyze_text(shown, decoded, Options(max_size=self.max_size, platform=self.platform, units=objects))

        return self.cached("analysis", real, info, (shown, objects), make)
