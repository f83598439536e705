"""Running the analysis of many files on a pool of workers.

Two kinds of pool give identical results: threads, which share the modules
and need no copying of results between processes (every native scan, the
platform scan included, releases the interpreter lock), and processes,
which also run code that holds the lock in parallel.  Processes take the
files in batches, and forked ones inherit the loaded modules and platform
scanner.  ``DEFAULT_POOL`` is the faster on the corpus, as measured by
``bench/analyze.py`` (684 files, 18.7 MB, two cores, end to end: one worker
1.15 s, two threads 0.96 s, two processes 0.74 s): what holds the lock
(decoding, small units, building the records) is now a large part of the
work.

An interrupt (Ctrl-C) stops the run at once: worker processes ignore the
signal and are terminated and reaped, worker threads are daemons that take
no new file, and KeyboardInterrupt reaches the caller, which ends the process
without waiting for a thread still inside a scan or for the process pool's
own threads (``worker_threads_running``): the pool's reader thread may be
waiting for the rest of a result that a terminated worker was sending, and
would wait for ever.
"""

from __future__ import annotations

import contextlib
import logging
import multiprocessing
import os
import queue
import signal
import sys
import threading
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import FIRST_COMPLETED, Future, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool
from typing import Any

import structlog

from agents.quorvane.assessment.input_files import os_error_text
from agents.quorvane.assessment.record import FileResult, Row
from agents.quorvane.assessment.single_file import Options, analyze_file

POOLS = ("threads", "processes")
DEFAULT_POOL = "processes"
# A progress bar is worth drawing only for more files than this.
PROGRESS_MIN_FILES = 5


def quiet_logging() -> None:
    """Keep the library's per-call debug events out of the output.

    Also run in worker processes, which may not inherit the configuration
    (spawn and forkserver start methods).
    """
    structlog.configure(
        wrapper_class=structlog.make_filtering_bound_logger(logging.WARNING),
        logger_factory=structlog.PrintLoggerFactory(sys.stderr),
    )


@contextlib.contextmanager
def _interrupts_held() -> Iterator[None]:
    """Block SIGINT while workers start: a worker inherits the blocked
    signal, so a Ctrl-C before its initializer has run cannot end it with a
    traceback; this process sees that Ctrl-C when the block ends."""
    if not hasattr(signal, "pthread_sigmask") or threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def _process_init() -> None:
    # The terminal sends Ctrl-C to the whole process group; the parent alone
    # handles it, and ends the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    quiet_logging()


def _progress_bar(total_bytes: int, files: int, enabled: bool) -> Any:
    """A tqdm bar on stderr counting bytes, or None (not wanted, not a
    terminal, few files, or tqdm not installed: it comes with the ``cli``
    extra)."""
    if not enabled or files <= PROGRESS_MIN_FILES or not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    return tqdm(total=total_bytes, file=sys.stderr, unit="B", unit_scale=True, desc="analysing", leave=False)


def _size(path: str) -> int:
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


def run_analysis(
    files: Sequence[str],
    *,
    jobs: int,
    options: Options = Options(),
    progress: bool = False,
    pool: str = DEFAULT_POOL,
) -> list[FileResult]:
    """Analyse ``files`` on up to ``jobs`` workers; the results come back in
    the order of ``files``.  Largest files start first, so that no long file
    starts last and keeps one worker busy while the others idle."""
    if pool not in POOLS:
        raise ValueError(f"pool must be one of {POOLS}, not {pool!r}")
    sizes = [_size(path) for path in files]
    order = sorted(range(len(files)), key=lambda i: -sizes[i])
    jobs = max(1, min(jobs, len(files)))
    results: list[FileResult | None] = [None] * len(files)
    bar: list[Any] = [None]

    def start_bar() -> None:
        bar[0] = _progress_bar(sum(sizes), len(files), progress)

    def done(i: int, result: FileResult) -> None:
        results[i] = result
        if bar[0] is not None:
            bar[0].update(sizes[i])

    try:
        if jobs == 1:
            start_bar()
            for i in order:
                done(i, analyze_file(files[i], options))
        elif pool == "threads":
            start_bar()
            _run_threads(files, order, jobs, options, done)
        else:
            _run_processes(files, order, sizes, jobs, options, done, start_bar)
    finally:
        if bar[0] is not None:
            bar[0].close()
    return [r for r in results if r is not None]


WORKER_THREAD_PREFIX = "quorvane-worker-"


# Set when a process pool was stopped by an interrupt: its threads cannot
# be joined safely any more.
_pool_abandoned = threading.Event()


def worker_threads_running() -> bool:
    """True while a worker thread of an interrupted run is still inside a
    scan, or after a process pool was abandoned.  The interpreter must then
    not be finalised: the modules' state would go while a scan reads it, and
    the exit would join the pool's reader thread, which may wait for ever
    on a result cut short.  The caller leaves with ``os._exit`` instead."""
    if _pool_abandoned.is_set():
        return True
    return any(t.name.startswith(WORKER_THREAD_PREFIX) and t.is_alive() for t in threading.enumerate())


def _run_threads(
    files: Sequence[str], order: list[int], jobs: int, options: Options, done: Callable[[int, FileResult], None]
) -> None:
    todo: queue.SimpleQueue[int] = queue.SimpleQueue()
    for i in order:
        todo.put(i)
    finished: queue.SimpleQueue[tuple[int, FileResult | BaseException]] = queue.SimpleQueue()
    stop = threading.Event()

    def work() -> None:
        while not stop.is_set():
            try:
                i = todo.get_nowait()
            except queue.Empty:
                return
            try:
                finished.put((i, analyze_file(files[i], options)))
            except BaseException as exc:  # reported to the caller's thread
                finished.put((i, exc))
                return

    threads = [threading.Thread(target=work, name=f"{WORKER_THREAD_PREFIX}{n}", daemon=True) for n in range(jobs)]
    for t in threads:
        t.start()
    try:
        for _ in order:
            i, outcome = finished.get()
            if isinstance(outcome, BaseException):
                raise outcome
            done(i, outcome)
    finally:
        stop.set()


def _run_processes(
    files: Sequence[str],
    order: list[int],
    sizes: Sequence[int],
    jobs: int,
    options: Options,
    done: Callable[[int, FileResult], None],
    start_bar: Callable[[], None],
) -> None:
    if multiprocessing.get_start_method() == "fork":
        # Forked workers inherit what is loaded here instead of each
        # loading it again.
        _warm_up()
    executor = ProcessPoolExecutor(max_workers=jobs, initializer=_process_init)
    try:
        # Every task is submitted (and, with fork, every worker started)
        # before the bar starts a thread of its own.
        with _interrupts_held():
            pending: dict[Future[list[FileResult]], list[int]] = {
                executor.submit(_analyze_batch, [files[i] for i in batch], options): batch
                for batch in _batches(order, sizes, jobs)
            }
        start_bar()
        while pending:
            # A timeout, so that an interrupt is seen at once.
            finished, _ = wait(pending, timeout=0.5, return_when=FIRST_COMPLETED)
            for future in finished:
                batch = pending.pop(future)
                for i, result in zip(batch, _results_of([files[i] for i in batch], future)):
                    done(i, result)
    except BaseException:
        _terminate(executor)
        raise
    executor.shutdown()


# Files go to worker processes in batches of about 1/32 of each worker's
# share of the bytes, and at most BATCH_FILES files, so that sending work and
# results costs little beside the work itself while the batches still even
# out the workers' loads.
BATCH_FILES = 16
_BATCHES_PER_WORKER = 32


def _batches(order: list[int], sizes: Sequence[int], jobs: int) -> list[list[int]]:
    """Consecutive runs of ``order`` (largest files first)."""
    target = max(1, sum(sizes) // (jobs * _BATCHES_PER_WORKER))
    batches: list[list[int]] = []
    current: list[int] = []
    held = 0
    for i in order:
        current.append(i)
        held += sizes[i]
        if held >= target or len(current) >= BATCH_FILES:
            batches.append(current)
            current, held = [], 0
    if current:
        batches.append(current)
    return batches


def _analyze_batch(paths: list[str], options: Options) -> list[FileResult]:
    return [analyze_file(path, options) for path in paths]


def _warm_up() -> None:
    from agents.quorvane import platform_detect

    platform_detect.first_lines("")


# How long a terminated worker may take to end before it is killed.
_TERMINATE_GRACE = 0.3


def _terminate(executor: ProcessPoolExecutor) -> None:
    """End every worker now and reap it, leaving no zombie; the pool's
    threads are abandoned (see ``worker_threads_running``)."""
    _pool_abandoned.set()
    processes = list((getattr(executor, "_processes", None) or {}).values())
    for process in processes:
        process.terminate()
    executor.shutdown(wait=False, cancel_futures=True)
    for process in processes:
        process.join(_TERMINATE_GRACE)
        if process.is_alive():
            process.kill()
            process.join()


def _results_of(paths: list[str], future: Future[list[FileResult]]) -> list[FileResult]:
    try:
        return future.result()
    except BrokenProcessPool as exc:
        # A worker that died (killed, out of memory) fails the files it had
        # and those still queued, not the run.  Any other exception is a
        # fault of this program and propagates.
        return [FileResult(Row(path, error=f"the worker process stopped: {os_error_text(exc)}")) for path in paths]
