"""``quorvane analyze PATH...``: assess every SQL file under the paths."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

from agents.quorvane.assessment.blockers import settle
from agents.quorvane.assessment.config import ConfigError, load_settings
from agents.quorvane.assessment.discovery import DEFAULT_GLOBS, empty_path_message, find_inputs
from agents.quorvane.assessment.input_files import STDIN_PATH
from agents.quorvane.assessment.record import LEVELS, Row
from agents.quorvane.assessment.single_file import Options, analyze_bytes
from agents.quorvane.assessment.totals import summarize
from agents.quorvane.assessment.work_plan import plan_work
from agents.quorvane.assessment.workers import run_analysis
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, EXIT_USAGE, error
from agents.quorvane.writers.output_files import STDOUT, output_problem, write_output
from agents.quorvane.writers.registry import FORMATS, PAGES, AnalyzeReport
from agents.quorvane.writers.spelling import printable

TITLE = "SQL code base assessment"


def _usage_problem(args: argparse.Namespace) -> str | None:
    """A problem with the arguments that must stop the run before any work."""
    if args.paths.count(STDIN_PATH) > 1:
        return "standard input (-) can be read only once"
    problem = output_problem([("-o", args.output), ("--html", args.html)])
    if problem:
        return problem
    text_to_stdout = args.output in (None, STDOUT) and (args.format is not None or args.html is None)
    if args.html == STDOUT and text_to_stdout:
        return "--html - and the --format output would both go to standard output; add -o FILE"
    return None


def _reaching(rows: Sequence[Row], level: str) -> int:
    floor = LEVELS.index(level)
    return sum(r.complexity is not None and LEVELS.index(r.complexity) >= floor for r in rows)


def run(args: argparse.Namespace) -> int:
    problem = _usage_problem(args)
    if problem:
        error("analyze", problem)
        return EXIT_USAGE
    try:
        settings = load_settings(args.config)
    except ConfigError as exc:
        error("analyze", str(exc))
        return EXIT_USAGE
    options = Options(
        max_size=args.max_size,
        encoding=args.encoding,
        platform=args.platform,
        context=args.html is not None,
        units=args.objects or args.html is not None or args.fail_on is not None,
    )
    globs = args.glob or list(DEFAULT_GLOBS)
    stdin_data = sys.stdin.buffer.read() if STDIN_PATH in args.paths else None
    inputs = find_inputs([p for p in args.paths if p != STDIN_PATH], globs, args.exclude or ())
    unreadable_dirs = inputs.unreadable
    results = run_analysis(inputs.files, jobs=args.jobs, options=options, progress=not args.no_progress, pool=args.pool)
    if stdin_data is not None:
        results.append(analyze_bytes(STDIN_PATH, stdin_data, options))
        del stdin_data
    results.sort(key=lambda r: r.path)
    # Which databases are the code base's own is known only now; then the
    # whole run is costed and placed.
    results = settle(results, args.database or ())
    results = plan_work(results, settings.effort, settings.buckets)
    rows = [row for r in results for row in r.rows(args.objects)]
    summary = summarize(results, effort=settings.effort, unreadable_dirs=unreadable_dirs)

    for folder, reason in unreadable_dirs:
        error("analyze", f"{printable(folder)}: cannot read the directory: {reason}")
    for path in inputs.empty:
        error("analyze", f"{printable(path)}: {empty_path_message(path, globs, args.exclude or ())}")
    if (args.format or "table") == "table" or args.html is not None:
        for r in results:
            if not r.file.ok:
                error("analyze", f"{printable(r.path)}: {r.file.error}")

    report = AnalyzeReport(results, rows, summary, per_object=args.objects, title=TITLE, wide=args.wide)
    if args.html is not None:
        write_output(args.html, lambda out: PAGES["analyze"].write(report, out))
    if args.format is not None or args.html is None:
        write_output(args.output or STDOUT, lambda out: FORMATS["analyze"].writer(args.format)(report, out))
    elif args.html != STDOUT:
        print(f"wrote {printable(args.html)}: {summary.files} files, {summary.failed} failed", file=sys.stderr)

    failed = summary.failed > 0 or bool(unreadable_dirs) or bool(inputs.empty)
    all_rows = [r.file for r in results] + [o for r in results for o in r.objects]
    if args.fail_on is not None:
        reached = _reaching(all_rows, args.fail_on)
        if reached:
            error("analyze", f"{reached} files or objects are {args.fail_on} or harder (--fail-on {args.fail_on})")
            return EXIT_FAILED
    return EXIT_FAILED if failed else EXIT_OK
