"""Running the analysis of many files on a pool of workers."""

from __future__ import annotations

import logging
import os
import sys
from collections.abc import Sequence
from concurrent.futures import Future, ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from typing import Any

import structlog

from agents.quorvane.assessment.record import FileReport
from agents.quorvane.assessment.single_file import analyze_file

# A progress bar is worth drawing only for more files than this.
PROGRESS_MIN_FILES = 5


def quiet_logging() -> None:
    """Keep the library's per-call debug events out of the output.

    Also the initializer of worker processes, which may not inherit the
    configuration (spawn and forkserver start methods).
    """
    structlog.configure(
        wrapper_class=structlog.make_filtering_bound_logger(logging.WARNING),
        logger_factory=structlog.PrintLoggerFactory(sys.stderr),
    )


def _progress_bar(total: int, enabled: bool) -> Any:
    """A tqdm bar on stderr, or None (not wanted, not a terminal, few files,
    or tqdm not installed: it comes with the ``cli`` extra)."""
    if not enabled or total <= PROGRESS_MIN_FILES or not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    return tqdm(total=total, file=sys.stderr, unit="file", desc="analysing", leave=False)


def run_analysis(files: Sequence[str], *, jobs: int, max_size: int, progress: bool = False) -> list[FileReport]:
    """Analyse ``files`` on up to ``jobs`` worker processes; the reports come
    back in the order of ``files``.

    Processes rather than threads: classification and category detection
    release the interpreter lock, but platform detection runs on the host's
    regular-expression engine and holds it for most of a file's time.
    Measured on a 684-file, 19 MB corpus with two cores: one process 35 s,
    two threads 34 s (four: 32 s), two processes 17 s.
    """
    jobs = max(1, min(jobs, len(files)))
    bar = None
    try:
        if jobs == 1:
            bar = _progress_bar(len(files), progress)
            reports = []
            for path in files:
                reports.append(analyze_file(path, max_size))
                if bar is not None:
                    bar.update(1)
            return reports
        with ProcessPoolExecutor(max_workers=jobs, initializer=quiet_logging) as pool:
            # Largest files first, so that no long file starts last and keeps
            # one worker busy while the others idle.  Every task is submitted
            # (and, with fork, every worker started) before the bar starts a
            # thread of its own.
            futures = {path: pool.submit(analyze_file, path, max_size) for path in sorted(files, key=_size, reverse=True)}
            bar = _progress_bar(len(files), progress)
            for _ in as_completed(futures.values()):
                if bar is not None:
                    bar.update(1)
            return [_report_of(path, futures[path]) for path in files]
    finally:
        if bar is not None:
            bar.close()


def _size(path: str) -> int:
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


def _report_of(path: str, future: Future[FileReport]) -> FileReport:
    try:
        return future.result()
    except BrokenProcessPool as exc:
        # A worker that died (killed, out of memory) fails the files it had
        # and those still queued, not the run.  Any other exception is a
        # fault of this program and propagates.
        return FileReport(path, error=f"{type(exc).__name__}: {exc}")
