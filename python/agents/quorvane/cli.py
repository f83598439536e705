"""The ``quorvane`` command: assess a whole SQL code base before conversion.

Subcommands:

* ``analyze PATH...``: every SQL file under the paths, with its complexity,
  turn budgets, reading plan, construct categories and source platform, as a
  table, JSON lines or CSV, and optionally a self-contained HTML report;
* ``plan FILE``: the reading instructions the agent gets for one file;
* ``knowledge FILE --kb DIR``: the knowledge-base sections one script needs;
* ``markers``: the platform marker catalogue;
* ``inventory PATH...``: the objects of a code base, their dependencies and
  the order to convert them in;
* ``packets PATH...``: one work packet per object, in conversion order;
* ``workload LOG...``: the statement templates of query logs, how often and
  how hard, hot tables, and what a code base defines that nothing runs;
* ``mcp``: the analysis as read-only MCP tools over standard input and output.

This module declares the arguments and dispatches; each subcommand's work is
in ``agents.quorvane.commands``, the assessment in
``agents.quorvane.assessment`` and the output formats in
``agents.quorvane.writers``.

Exit statuses: see ``EXIT_EPILOG`` (and the README).
"""

from __future__ import annotations

import argparse
import io
import os
import sys
from collections.abc import Sequence

from agents.quorvane import __version__
from agents.quorvane.platforms import PLATFORMS
from agents.quorvane.assessment.decoding import canonical_encoding
from agents.quorvane.assessment.discovery import DEFAULT_GLOBS
from agents.quorvane.assessment.record import LEVELS
from agents.quorvane.assessment.single_file import DEFAULT_MAX_SIZE
from agents.quorvane.assessment.workers import DEFAULT_POOL, POOLS, quiet_logging, worker_threads_running
from agents.quorvane.commands import analyze, inventory, knowledge, markers, packets, plan, workload
from agents.quorvane.commands import mcp as mcp_command
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_INTERRUPTED, error
from agents.quorvane.mcp_server.limits import DEFAULT_MAX_TOKENS, MAX_TOKENS_LIMIT, MIN_TOKENS
from agents.quorvane.writers.registry import FORMATS, PAGES
from agents.quorvane.writers.spelling import printable


def _integer(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None


def _positive_int(text: str) -> int:
    value = _integer(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def _token_budget(text: str) -> int:
    value = _integer(text)
    if not MIN_TOKENS <= value <= MAX_TOKENS_LIMIT:
        raise argparse.ArgumentTypeError(f"must be from {MIN_TOKENS} to {MAX_TOKENS_LIMIT}, not {value}")
    return value


def _all_cpus() -> int:
    try:
        return len(os.sched_getaffinity(0)) or 1
    except AttributeError:  # not on every system
        return os.cpu_count() or 1


def _jobs(text: str) -> int:
    """A number of workers; 0 means one per CPU."""
    value = _integer(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 (all CPUs) or more, not {value}")
    return value or _all_cpus()


def _depth(text: str) -> int:
    """A number of links to follow: 0 or more."""
    value = _integer(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {value}")
    return value


def _encoding(text: str) -> str:
    try:
        return canonical_encoding(text)
    except LookupError:
        raise argparse.ArgumentTypeError(f"unknown encoding: {text!r}") from None


class _CommandParser(argparse.ArgumentParser):
    """A subcommand's parser: an argument it does not know is its own usage
    error, shown with its own usage (by default the error would surface in
    the top-level parser, with the top-level usage)."""

    def parse_known_args(self, args=None, namespace=None):  # type: ignore[override]
        namespace, extras = super().parse_known_args(args, namespace)
        if extras:
            self.error(f"unrecognized arguments: {' '.join(extras)}")
        return namespace, extras


EXIT_EPILOG = (
    "Exit status: 0 every input analysed (and none reached the --fail-on level); 1 some input or "
    "directory failed, an output could not be written, or a file or object reached the --fail-on "
    "level; 2 usage error (bad option, unwritable output path, bad settings file); 130 interrupted."
)


def _add_encoding(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--encoding",
        type=_encoding,
        metavar="NAME",
        help="decode input with this encoding (default: byte-order mark, else UTF-8, "
        "else the detected legacy code page)",
    )


def _add_config(p: argparse.ArgumentParser, what: str = "") -> None:
    p.add_argument(
        "--config",
        metavar="FILE",
        help="settings file (TOML; [tool.quorvane] of a pyproject.toml or its keys at top level); "
        "default: the nearest pyproject.toml" + (f"; it weighs {what}" if what else ""),
    )


def _add_code_base(p: argparse.ArgumentParser) -> None:
    """The paths of a code base, and the globs that choose and leave out files."""
    p.add_argument("paths", nargs="+", metavar="PATH", help="SQL files and directories (searched recursively)")
    p.add_argument(
        "--glob",
        action="append",
        metavar="PATTERN",
        help=f"file-name pattern for directories, any letter case; repeatable (default: {' '.join(DEFAULT_GLOBS)})",
    )
    p.add_argument(
        "--exclude",
        action="append",
        metavar="GLOB",
        help="leave out files and directories whose name or relative path matches; repeatable",
    )


def _add_max_size(p: argparse.ArgumentParser) -> None:
    p.add_argument(
        "--max-size",
        type=_positive_int,
        default=DEFAULT_MAX_SIZE,
        metavar="BYTES",
        help=f"files larger than this fail instead of being read (default: {DEFAULT_MAX_SIZE})",
    )


def _add_format(p: argparse.ArgumentParser, command: str) -> None:
    """--format, its choices and help from the command's row of the writer
    table; unset means the first (default) format."""
    formats = FORMATS[command]
    p.add_argument("--format", choices=formats.choices, default=None, help=formats.help())


def _add_page(p: argparse.ArgumentParser, command: str) -> None:
    p.add_argument("--html", metavar="FILE", help=PAGES[command].help)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quorvane",
        description="Assess SQL scripts before their conversion to PySpark: complexity, turn budgets, "
        "reading plans, construct categories, knowledge selection and source platform.",
        epilog=EXIT_EPILOG,
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND", parser_class=_CommandParser)

    p = sub.add_parser(
        "analyze",
        help="assess every SQL file under the given paths",
        description="Assess every SQL file under the given files and directories.",
        epilog=EXIT_EPILOG,
    )
    p.add_argument(
        "paths",
        nargs="+",
        metavar="PATH",
        help="SQL files and directories (searched recursively); - reads one script from standard input",
    )
    p.add_argument(
        "--glob",
        action="append",
        metavar="PATTERN",
        help=f"file-name pattern for directories, any letter case; repeatable "
        f"(default: {' '.join(DEFAULT_GLOBS)}); files named on the command line are always analysed",
    )
    p.add_argument(
        "--exclude",
        action="append",
        metavar="GLOB",
        help="leave out files and directories whose name or relative path matches; repeatable",
    )
    _add_format(p, "analyze")
    p.add_argument("-o", "--output", metavar="FILE", help="write the --format output to FILE instead of stdout")
    p.add_argument(
        "--wide",
        action="store_true",
        help="the table shows every column at full width (default: path, level, effective lines, hours and "
        "platform, fitted to the terminal)",
    )
    _add_page(p, "analyze")
    p.add_argument(
        "--objects",
        action="store_true",
        help="one row per object (procedure, function, view, ...) rather than per file",
    )
    p.add_argument(
        "--fail-on",
        choices=LEVELS[1:],
        metavar="LEVEL",
        help="exit with status 1 when a file or object is this complex or more: moderate or complex",
    )
    _add_encoding(p)
    p.add_argument("--platform", choices=PLATFORMS, help="the code base's platform, known: skips platform detection")
    p.add_argument(
        "--database",
        action="append",
        metavar="NAME",
        help="a database of the code base's own, beside those it creates or USEs: its three-part names are no "
        "cross-database blockers; repeatable",
    )
    _add_config(p)
    p.add_argument(
        "--jobs", "-j", type=_jobs, default=_all_cpus(), metavar="N", help="workers (default and 0: one per CPU)"
    )
    p.add_argument(
        "--pool",
        choices=POOLS,
        default=DEFAULT_POOL,
        help=f"run the workers as threads or processes (default: {DEFAULT_POOL}, the faster)",
    )
    _add_max_size(p)
    p.add_argument("--no-progress", action="store_true", help="never draw a progress bar")
    p.set_defaults(handler=analyze.run)

    p = sub.add_parser(
        "plan",
        help="the reading instructions for one SQL file",
        description="Print the reading instructions the agent gets for one SQL file.",
    )
    p.add_argument("file", metavar="FILE", help="the SQL file; - reads standard input")
    _add_encoding(p)
    p.set_defaults(handler=plan.run)

    p = sub.add_parser(
        "knowledge",
        help="the knowledge-base sections one SQL file needs",
        description="Print the mapping-guide and gotcha sections one SQL file needs, the "
        "limitations document and the size report.",
    )
    p.add_argument("file", metavar="FILE", help="the SQL file; - reads standard input")
    p.add_argument(
        "--kb",
        required=True,
        metavar="DIR",
        help="knowledge-base folder with mapping.md, gotchas.md and (optionally) limitations.md",
    )
    _add_format(p, "knowledge")
    _add_encoding(p)
    p.set_defaults(handler=knowledge.run)

    p = sub.add_parser(
        "markers",
        help="the platform marker catalogue",
        description="List the markers by which the source platform is recognised.",
    )
    p.add_argument("--platform", choices=PLATFORMS, help="only the markers that name this platform")
    _add_format(p, "markers")
    p.add_argument(
        "--evidence",
        action="store_true",
        help="also the detector's own evidence rows, whose identifiers appear among a file's platform "
        "markers beside the catalogue's",
    )
    p.set_defaults(handler=markers.run)
    p = sub.add_parser(
        "inventory",
        help="objects, dependencies and conversion order of a code base",
        description="List every object the SQL files define, what each reads, writes and "
        "calls, the names defined nowhere, the cycles and an order to convert them in.",
        epilog=EXIT_EPILOG,
    )
    _add_code_base(p)
    _add_format(p, "inventory")
    _add_page(p, "inventory")
    _add_encoding(p)
    _add_max_size(p)
    p.add_argument(
        "--platform",
        choices=PLATFORMS,
        help="read every file as this platform's dialect (default: each file's detected platform)",
    )
    p.add_argument(
        "--focus",
        metavar="NAME",
        help="draw only this object's neighbourhood (--format dot; the --html page opens on it)",
    )
    p.add_argument(
        "--depth",
        type=_depth,
        metavar="N",
        help="with --focus: the links to follow up and down from it (default 1)",
    )
    _add_config(p, "the hours on the --html page")
    p.set_defaults(handler=inventory.run)

    p = sub.add_parser(
        "packets",
        help="one work packet per object, in conversion order",
        description="Package each object of a code base with what its conversion needs: its "
        "source, grade, the shapes of what it reads, writes and calls, its temporary tables, "
        "knowledge sections and hotspots; in conversion order.",
        epilog=EXIT_EPILOG,
    )
    _add_code_base(p)
    p.add_argument(
        "--kb",
        metavar="DIR",
        help="knowledge base (mapping.md, gotchas.md): packets then carry the text of their sections",
    )
    _add_format(p, "packets")
    p.add_argument(
        "-o", "--output", metavar="FILE|DIR", help="jsonl: the file to write (default stdout); md: the directory"
    )
    p.add_argument(
        "--budget",
        type=_positive_int,
        default=packets.DEFAULT_BUDGET,
        metavar="N",
        help=f"token budget of a packet; larger ones are cut into parts (default: {packets.DEFAULT_BUDGET})",
    )
    p.add_argument(
        "--platform",
        choices=PLATFORMS,
        help="the code base's platform, known: skips platform detection",
    )
    p.add_argument(
        "--jobs", type=_jobs, default=1, metavar="N", help="files read and scanned at once; 0: one per CPU (default: 1)"
    )
    _add_encoding(p)
    _add_max_size(p)
    p.set_defaults(handler=packets.run)

    p = sub.add_parser(
        "workload",
        help="statement templates, hot tables and unused objects of query logs",
        description="Group the statements of query logs (CSV, JSON Lines or Parquet) by "
        "fingerprint: how often each template runs, how hard it is, the hot tables, suspected "
        "truncation and bad rows; with --code, the objects of a code base that no statement uses.",
        epilog=EXIT_EPILOG,
    )
    p.add_argument("logs", nargs="+", metavar="LOG", help="query logs: .csv, .jsonl (.ndjson, .json) or .parquet")
    p.add_argument(
        "--text-column",
        metavar="C",
        help="the column of statement texts (default: query_text, statement_text, sql_text or query)",
    )
    p.add_argument("--count-column", metavar="C", help="a column of execution counts, summed (default: 1 per row)")
    p.add_argument("--user-column", metavar="C", help="a column of user names (distinct users per template)")
    p.add_argument("--time-column", metavar="C", help="a column of times (first and last seen per template)")
    p.add_argument(
        "--code", nargs="+", metavar="PATH", help="SQL files and directories of the code base to compare the log with"
    )
    p.add_argument("--platform", choices=PLATFORMS, help="the log's platform, known: skips platform detection")
    _add_format(p, "workload")
    p.add_argument("-o", "--output", metavar="FILE", help="write the --format output to FILE instead of stdout")
    _add_page(p, "workload")
    p.add_argument("--no-progress", action="store_true", help="never draw a progress bar")
    p.set_defaults(handler=workload.run)

    p = sub.add_parser(
        "mcp",
        help="serve the analysis as MCP tools over stdio",
        description="Run an MCP server on standard input and output whose read-only tools "
        "assess, inventory, read and plan the SQL under the roots (the mcp extra).",
    )
    p.add_argument(
        "--root",
        action="append",
        metavar="DIR",
        help="a folder the tools may read; repeatable (default: the current directory)",
    )
    p.add_argument("--kb", metavar="DIR", help="knowledge-base folder with mapping.md and gotchas.md")
    p.add_argument(
        "--platform", choices=PLATFORMS, help="the code base's platform, known: skips platform detection in assess"
    )
    p.add_argument(
        "--max-tokens",
        type=_token_budget,
        default=DEFAULT_MAX_TOKENS,
        metavar="N",
        help=f"default token budget of a result (default {DEFAULT_MAX_TOKENS}; "
        f"{MIN_TOKENS}-{MAX_TOKENS_LIMIT}; a call may pass its own max_tokens)",
    )
    p.add_argument(
        "--max-size",
        type=_positive_int,
        default=DEFAULT_MAX_SIZE,
        metavar="BYTES",
        help=f"files larger than this are refused (default: {DEFAULT_MAX_SIZE})",
    )
    p.set_defaults(handler=mcp_command.run)
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
        _drop_stdout()
        return EXIT_FAILED
    except KeyboardInterrupt:
        if worker_threads_running():
            for stream in (sys.stdout, sys.stderr):
                try:
                    stream.flush()
                except (OSError, ValueError):
                    pass
            os._exit(EXIT_INTERRUPTED)
        return EXIT_INTERRUPTED
    except OSError as exc:
        # Writing the output failed (a full disk, a vanished directory): one
        # line, no traceback.  Input errors never get here; each is reported
        # with its file.
        target = f"{printable(str(exc.filename))}: " if exc.filename else ""
        error(args.command, f"cannot write the output: {target}{exc.strerror or exc}")
        _drop_stdout()
        return EXIT_FAILED
    return code


def _drop_stdout() -> None:
    """Send what is left of standard output nowhere, so that the flush at
    exit cannot fail a second time."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
