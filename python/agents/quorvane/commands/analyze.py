"""``quorvane analyze PATH...``: assess every SQL file under the paths."""

from __future__ import annotations

import argparse
import sys

from agents.quorvane.assessment.discovery import discover
from agents.quorvane.assessment.totals import summarize
from agents.quorvane.assessment.workers import run_analysis
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK
from agents.quorvane.writers import WRITERS
from agents.quorvane.writers.html_page import render_html


def run(args: argparse.Namespace) -> int:
    files, failures = discover(args.paths, args.glob)
    reports = run_analysis(files, jobs=args.jobs, max_size=args.max_size, progress=not args.no_progress)
    reports = sorted(reports + failures, key=lambda r: r.path)
    if not reports:
        print(f"quorvane analyze: no files matching {args.glob!r}", file=sys.stderr)
    if args.html:
        page = render_html(reports, summarize(reports), title="SQL code base assessment")
        with open(args.html, "w", encoding="utf-8", errors="backslashreplace") as fh:
            fh.write(page)
    if args.format or not args.html:
        WRITERS[args.format or "table"](reports, sys.stdout)
    else:
        s = summarize(reports)
        print(f"wrote {args.html}: {s.files} files, {s.failed} failed", file=sys.stderr)
    return EXIT_FAILED if any(not r.ok for r in reports) else EXIT_OK
