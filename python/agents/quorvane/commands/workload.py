"""``quorvane workload LOG...``: the statement templates of query logs, how
often each runs, how hard each is, the hot tables, suspected truncation and
bad rows, and, with ``--code``, what the code base defines that the log
never uses and what the log uses that the code base does not define."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from agents.quorvane.assessment.discovery import DEFAULT_GLOBS
from agents.quorvane.assessment.query_logs import Columns, LogError, read_log
from agents.quorvane.assessment.single_file import DEFAULT_MAX_SIZE
from agents.quorvane.assessment.workload import Workload, report
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, EXIT_USAGE, error
from agents.quorvane.writers.output_files import STDOUT, output_problem, write_output
from agents.quorvane.writers.registry import FORMATS, PAGES, WorkloadReport
from agents.quorvane.writers.spelling import printable


def _usage_problem(args: argparse.Namespace) -> str | None:
    problem = output_problem([("-o", args.output), ("--html", args.html)])
    if problem:
        return problem
    text_to_stdout = args.output in (None, STDOUT) and (args.format is not None or args.html is None)
    if args.html == STDOUT and text_to_stdout:
        return "--html - and the --format output would both go to standard output; add -o FILE"
    return None


def _progress(enabled: bool) -> Any:
    if not enabled or not sys.stderr.isatty():
        return None
    try:
        from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    return tqdm(file=sys.stderr, unit=" rows", unit_scale=True, desc="reading", leave=False)


def run(args: argparse.Namespace) -> int:
    problem = _usage_problem(args)
    if problem:
        error("workload", problem)
        return EXIT_USAGE
    columns = Columns(args.text_column, args.count_column, args.user_column, args.time_column)
    workload = Workload(platform=args.platform)
    failed = False
    bar = _progress(not args.no_progress)
    try:
        offset = 0
        for path in args.logs:
            try:
                batches = read_log(path, columns)
                rows = 0
                for batch in batches:
                    workload.add(batch, offset)
                    rows = batch.first_row - 1 + len(batch.texts)
                    if bar is not None:
                        bar.update(len(batch.texts) + batch.malformed)
            except (LogError, OSError) as exc:
                reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
                error("workload", f"{printable(path)}: {reason}")
                failed = True
                continue
            except Exception as exc:  # pyarrow's errors on a malformed file, mid-stream
                if type(exc).__module__.startswith("pyarrow"):
                    error("workload", f"{printable(path)}: cannot read the log: {exc}")
                    failed = True
                    continue
                raise
            workload.logs.append(path)
            offset += rows
    finally:
        if bar is not None:
            bar.close()

    units = None
    if args.code:
        from agents.quorvane.commands.inventory import collect

        units, errors = collect(args.code, list(DEFAULT_GLOBS), [], None, DEFAULT_MAX_SIZE)
        for path, reason in errors:
            error("workload", f"{printable(path)}: {reason}")
        failed = failed or bool(errors)
    doc = report(workload, units)
    result = WorkloadReport(doc)

    if args.html is not None:
        write_output(args.html, lambda out: PAGES["workload"].write(result, out))
    if args.format is not None or args.html is None:
        write_output(args.output or STDOUT, lambda out: FORMATS["workload"].writer(args.format)(result, out))
    elif args.html != STDOUT:
        s = doc["summary"]
        print(
            f"wrote {printable(args.html)}: {s['statements']} statements, {s['templates']} templates", file=sys.stderr
        )
    return EXIT_FAILED if failed else EXIT_OK
