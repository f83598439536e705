"""The ``quorvane`` command: assess a whole SQL code base before conversion.

Subcommands:

* ``analyze PATH...``: every SQL file under the paths, with its complexity,
  turn budgets, reading plan, construct categories and source platform, as a
  table, JSON lines or CSV, and optionally a self-contained HTML report;
* ``plan FILE``: the reading instructions the agent gets for one file;
* ``knowledge FILE --kb DIR``: the knowledge-base sections one script needs;
* ``markers``: the platform marker catalogue.

This module declares the arguments and dispatches; each subcommand's work is
in ``agents.quorvane.commands``, the assessment in
``agents.quorvane.assessment`` and the output formats in
``agents.quorvane.writers``.

Exit codes: 0 when every input was handled, 1 when some input failed (it is
reported in the output and the run goes on), 2 for a usage error.
"""

from __future__ import annotations

import argparse
import io
import os
import sys
from collections.abc import Sequence

from agents.quorvane import __version__, platform_detect
from agents.quorvane.assessment.discovery import DEFAULT_GLOB
from agents.quorvane.assessment.single_file import DEFAULT_MAX_SIZE
from agents.quorvane.assessment.workers import quiet_logging
from agents.quorvane.commands import analyze, knowledge, markers, plan
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_INTERRUPTED
from agents.quorvane.writers import WRITERS


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def _default_jobs() -> int:
    try:
        return len(os.sched_getaffinity(0)) or 1
    except AttributeError:  # not on every system
        return os.cpu_count() or 1


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvane",
        description="Assess SQL scripts before their conversion to PySpark: complexity, turn budgets, "
        "reading plans, construct categories, knowledge selection and source platform.",
        epilog="Exit status: 0 all inputs handled, 1 some input failed, 2 usage error.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    p = sub.add_parser("analyze", help="assess every SQL file under the given paths",
                       description="Assess every SQL file under the given files and directories.")  # fmt: skip
    p.add_argument("paths", nargs="+", metavar="PATH", help="SQL files and directories (searched recursively)")
    p.add_argument("--glob", default=DEFAULT_GLOB, metavar="PATTERN",
                   help=f"file-name pattern for directories, any letter case (default: {DEFAULT_GLOB}); "
                   "files named on the command line are always analysed")  # fmt: skip
    p.add_argument("--format", choices=sorted(WRITERS), default=None,
                   help="output on stdout: table (default), json (one object per line) or csv")  # fmt: skip
    p.add_argument("--html", metavar="FILE",
                   help="also write a self-contained HTML report; stdout then stays quiet unless --format is given")  # fmt: skip
    p.add_argument("--jobs", "-j", type=_positive_int, default=_default_jobs(), metavar="N",
                   help="worker processes (default: all cores)")  # fmt: skip
    p.add_argument("--max-size", type=_positive_int, default=DEFAULT_MAX_SIZE, metavar="BYTES",
                   help=f"files larger than this fail instead of being read (default: {DEFAULT_MAX_SIZE})")  # fmt: skip
    p.add_argument("--no-progress", action="store_true", help="never draw a progress bar")
    p.set_defaults(handler=analyze.run)

    p = sub.add_parser("plan", help="the reading instructions for one SQL file",
                       description="Print the reading instructions the agent gets for one SQL file.")  # fmt: skip
    p.add_argument("file", metavar="FILE")
    p.set_defaults(handler=plan.run)

    p = sub.add_parser("knowledge", help="the knowledge-base sections one SQL file needs",
                       description="Print the mapping-guide and gotcha sections one SQL file needs, the "
                       "limitations document and the size report.")  # fmt: skip
    p.add_argument("file", metavar="FILE")
    p.add_argument("--kb", required=True, metavar="DIR",
                   help="knowledge-base folder with mapping.md, gotchas.md and (optionally) limitations.md")  # fmt: skip
    p.add_argument("--format", choices=("text", "json"), default="text")
    p.set_defaults(handler=knowledge.run)

    p = sub.add_parser("markers", help="the platform marker catalogue",
                       description="List the markers by which the source platform is recognised.")  # fmt: skip
    p.add_argument("--platform", choices=platform_detect.PLATFORMS, help="only the markers that name this platform")
    p.add_argument("--format", choices=("text", "json"), default="text")
    p.set_defaults(handler=markers.run)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)  # exits with 2 on a usage error
    quiet_logging()
    # File names need not be valid UTF-8; never fail on printing one.
    for stream in (sys.stdout, sys.stderr):
        if isinstance(stream, io.TextIOWrapper):
            stream.reconfigure(errors="backslashreplace")
    try:
        code: int = args.handler(args)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader went away (`quorvane analyze . | head`): stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_FAILED
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    return code
