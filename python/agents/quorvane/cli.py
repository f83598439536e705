"""The ``quorvane`` command: assess a whole SQL code base before conversion.

Subcommands:

* ``analyze PATH...``: every SQL file under the paths, with its complexity,
  turn budgets, reading plan, construct categories and source platform, as a
  table, JSON lines or CSV, and optionally a self-contained HTML report;
* ``plan FILE``: the reading instructions the agent gets for one file;
* ``knowledge FILE --kb DIR``: the knowledge-base sections one script needs;
* ``markers``: the platform marker catalogue.

Exit codes: 0 when every input was handled, 1 when some input failed (it is
reported in the output and the run goes on), 2 for a usage error.
"""

from __future__ import annotations

import argparse
import csv
import dataclasses
import io
import json
import logging
import os
import stat
import sys
from collections import Counter
from collections.abc import Callable, Iterable, Iterator, Sequence
from concurrent.futures import Future, ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass
from fnmatch import fnmatchcase
from pathlib import Path
from typing import Any, TextIO

import structlog
from structlog.testing import LogCapture

from agents.quorvane import __version__, complexity, loresift, platform_detect

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2

DEFAULT_GLOB = "*.sql"
DEFAULT_MAX_SIZE = 64 * 1024 * 1024
# A progress bar is worth drawing only for more files than this.
PROGRESS_MIN_FILES = 5

LEVELS = ("simple", "moderate", "complex")
UNKNOWN_PLATFORM = "unknown"


def _quiet_logging() -> None:
    """Keep the library's per-call debug events out of the output.

    Also the initializer of worker processes, which may not inherit the
    configuration (spawn and forkserver start methods).
    """
    structlog.configure(
        wrapper_class=structlog.make_filtering_bound_logger(logging.WARNING),
        logger_factory=structlog.PrintLoggerFactory(sys.stderr),
    )


# --- One file --------------------------------------------------------------


@dataclass(frozen=True)
class FileReport:
    """Everything ``analyze`` reports for one file; ``error`` is set (and
    the other fields are empty) when the file could not be analysed."""

    path: str
    error: str | None = None
    complexity: str | None = None
    effective_lines: int = 0
    stored_proc_count: int = 0
    complex_construct_count: int = 0
    moderate_construct_count: int = 0
    temp_table_count: int = 0
    cte_count: int = 0
    analysis_turns: int = 0
    conversion_turns: int = 0
    audit_turns: int = 0
    total_lines: int = 0
    chunked: bool = False
    sections: int = 0
    categories: tuple[str, ...] = ()
    platform: str | None = None
    platform_score: float = 0.0
    platform_ranking: tuple[tuple[str, float], ...] = ()
    platform_markers: tuple[str, ...] = ()

    @property
    def ok(self) -> bool:
        return self.error is None

    def to_json(self) -> dict[str, Any]:
        if self.error is not None:
            return {"path": self.path, "status": "error", "error": self.error}
        record: dict[str, Any] = {"path": self.path, "status": "ok"}
        for f in dataclasses.fields(self):
            if f.name not in ("path", "error"):
                record[f.name] = getattr(self, f.name)
        record["categories"] = list(self.categories)
        record["platform_ranking"] = [list(item) for item in self.platform_ranking]
        record["platform_markers"] = list(self.platform_markers)
        return record


@dataclass(frozen=True)
class _ReadText:
    """A file's text, already read: the planner reads its input through
    read_text(), so the file is read from disk only once."""

    text: str

    def read_text(self, *, encoding: str) -> str:
        return self.text


class _InputError(Exception):
    """A file that is not analysed for a reason of its own (size, kind)."""


def analyze_file(path: str, max_size: int = DEFAULT_MAX_SIZE) -> FileReport:
    """Analyse one file; failures to read or decode it become the report's
    error rather than an exception."""
    try:
        info = os.stat(path)
        if not stat.S_ISREG(info.st_mode):
            raise _InputError("not a regular file")
        if info.st_size > max_size:
            raise _InputError(f"{info.st_size} bytes, more than the {max_size}-byte limit (--max-size)")
        text = Path(path).read_text(encoding="utf-8")
        result = complexity.classify_sql(text)
        plan = complexity.plan_reading_strategy(_ReadText(text))
        categories = tuple(sorted(loresift.detect_construct_categories(text)))
        guess = platform_detect.detect_platform(text)
    except _InputError as exc:
        return FileReport(path, error=str(exc))
    except (OSError, UnicodeError) as exc:
        return FileReport(path, error=f"{type(exc).__name__}: {exc}")
    return FileReport(
        path,
        complexity=str(result.complexity),
        effective_lines=result.effective_lines,
        stored_proc_count=result.stored_proc_count,
        complex_construct_count=result.complex_construct_count,
        moderate_construct_count=result.moderate_construct_count,
        temp_table_count=result.temp_table_count,
        cte_count=result.cte_count,
        analysis_turns=result.recommended_analysis_turns,
        conversion_turns=result.recommended_conversion_turns,
        audit_turns=result.recommended_audit_turns,
        total_lines=plan.total_lines,
        chunked=plan.should_chunk,
        sections=len(plan.section_boundaries),
        categories=categories,
        platform=guess.platform,
        platform_score=guess.score,
        platform_ranking=guess.ranking,
        platform_markers=guess.matched,
    )


# --- Finding the files -----------------------------------------------------


def discover(paths: Iterable[str], pattern: str = DEFAULT_GLOB) -> tuple[list[str], list[FileReport]]:
    """The files to analyse, sorted, and reports for directories that could
    not be read.

    A path that is not a directory is taken as a file whatever its name (a
    missing one fails in the analysis, with its error).  Directories are
    searched recursively for names matching ``pattern``, ignoring letter
    case; symbolic links are followed, each directory visited once, so a
    link loop ends the descent.
    """
    files: set[str] = set()
    failures: list[FileReport] = []
    folded = pattern.lower()
    for raw in paths:
        if not os.path.isdir(raw):
            files.add(os.path.normpath(raw))
            continue
        visited: set[tuple[int, int]] = set()

        def unreadable(exc: OSError) -> None:
            failures.append(FileReport(exc.filename or raw, error=f"{type(exc).__name__}: {exc}"))

        for dirpath, dirnames, filenames in os.walk(os.path.normpath(raw), onerror=unreadable, followlinks=True):
            try:
                info = os.stat(dirpath)
            except OSError as exc:
                unreadable(exc)
                dirnames[:] = []
                continue
            if (info.st_dev, info.st_ino) in visited:
                dirnames[:] = []
                continue
            visited.add((info.st_dev, info.st_ino))
            files.update(
                os.path.normpath(os.path.join(dirpath, name)) for name in filenames if fnmatchcase(name.lower(), folded)
            )
    return sorted(files), failures


# --- Running the analysis --------------------------------------------------


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
        with ProcessPoolExecutor(max_workers=jobs, initializer=_quiet_logging) as pool:
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


# --- Summaries and output formats ------------------------------------------


@dataclass(frozen=True)
class Summary:
    files: int
    failed: int
    levels: dict[str, int]
    budgets: dict[str, int]
    platforms: dict[str, int]
    categories: dict[str, int]
    chunked: int
    effective_lines: int


def summarize(reports: Sequence[FileReport]) -> Summary:
    good = [r for r in reports if r.ok]
    levels = Counter(r.complexity for r in good)
    platforms = Counter(r.platform or UNKNOWN_PLATFORM for r in good)
    categories = Counter(c for r in good for c in r.categories)
    return Summary(
        files=len(reports),
        failed=len(reports) - len(good),
        levels={level: levels.get(level, 0) for level in LEVELS},
        budgets={
            "analysis": sum(r.analysis_turns for r in good),
            "conversion": sum(r.conversion_turns for r in good),
            "audit": sum(r.audit_turns for r in good),
        },
        platforms=dict(sorted(platforms.items(), key=lambda kv: (-kv[1], kv[0]))),
        categories=dict(sorted(categories.items(), key=lambda kv: (-kv[1], kv[0]))),
        chunked=sum(r.chunked for r in good),
        effective_lines=sum(r.effective_lines for r in good),
    )


def format_score(score: float) -> str:
    return f"{score:g}"


def platform_label(report: FileReport) -> str:
    if report.platform is None:
        return UNKNOWN_PLATFORM
    return f"{report.platform} ({format_score(report.platform_score)})"


def reading_label(report: FileReport) -> str:
    return f"{report.sections} sections" if report.chunked else "whole"


_TABLE_COLUMNS = ("file", "level", "lines", "procs", "complex", "moderate", "temp", "cte",
                  "turns a/c/a", "read", "platform (score)", "categories")  # fmt: skip
_NUMERIC = {"lines", "procs", "complex", "moderate", "temp", "cte"}


def _table_row(r: FileReport) -> list[str]:
    return [
        r.path,
        r.complexity or "",
        str(r.effective_lines),
        str(r.stored_proc_count),
        str(r.complex_construct_count),
        str(r.moderate_construct_count),
        str(r.temp_table_count),
        str(r.cte_count),
        f"{r.analysis_turns}/{r.conversion_turns}/{r.audit_turns}",
        reading_label(r),
        platform_label(r),
        ", ".join(r.categories) or "-",
    ]


def write_table(reports: Sequence[FileReport], out: TextIO) -> None:
    rows = [_table_row(r) for r in reports if r.ok]
    widths = [max([len(h)] + [len(row[i]) for row in rows]) for i, h in enumerate(_TABLE_COLUMNS)]

    def line(cells: Sequence[str]) -> str:
        padded = [
            c.rjust(w) if h in _NUMERIC else c.ljust(w)
            for c, w, h in zip(cells, widths, _TABLE_COLUMNS)
        ]
        return "  ".join(padded).rstrip()

    header = line(_TABLE_COLUMNS)
    out.write(header + "\n" + "-" * len(header) + "\n")
    for row in rows:
        out.write(line(row) + "\n")
    failed = [r for r in reports if not r.ok]
    if failed:
        out.write(f"\nFailed ({len(failed)}):\n")
        for r in failed:
            out.write(f"  {r.path}: {r.error}\n")
    s = summarize(reports)
    out.write(f"\n{s.files} files, {s.files - s.failed} analysed, {s.failed} failed\n")
    out.write("levels: " + ", ".join(f"{k} {v}" for k, v in s.levels.items()) + "\n")
    out.write("turn budgets: " + ", ".join(f"{k} {v}" for k, v in s.budgets.items()) + "\n")
    out.write(f"read in sections: {s.chunked} of {s.files - s.failed} files; effective lines: {s.effective_lines}\n")
    out.write("platforms: " + (", ".join(f"{k} {v}" for k, v in s.platforms.items()) or "-") + "\n")
    out.write("categories: " + (", ".join(f"{k} {v}" for k, v in s.categories.items()) or "-") + "\n")


def write_json_lines(reports: Sequence[FileReport], out: TextIO) -> None:
    for r in reports:
        out.write(json.dumps(r.to_json()) + "\n")


CSV_COLUMNS = ("path", "status", "error", "complexity", "effective_lines", "stored_proc_count",
               "complex_construct_count", "moderate_construct_count", "temp_table_count", "cte_count",
               "analysis_turns", "conversion_turns", "audit_turns", "total_lines", "chunked", "sections",
               "categories", "platform", "platform_score")  # fmt: skip


def write_csv(reports: Sequence[FileReport], out: TextIO) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    for r in reports:
        if not r.ok:
            writer.writerow([r.path, "error", r.error] + [""] * (len(CSV_COLUMNS) - 3))
            continue
        record = r.to_json()
        record["error"] = ""
        record["categories"] = ";".join(r.categories)
        record["platform"] = r.platform or ""
        record["chunked"] = "yes" if r.chunked else "no"
        record["platform_score"] = format_score(r.platform_score)
        writer.writerow([record[c] for c in CSV_COLUMNS])


WRITERS: dict[str, Callable[[Sequence[FileReport], TextIO], None]] = {
    "table": write_table,
    "json": write_json_lines,
    "csv": write_csv,
}


# --- Subcommands -----------------------------------------------------------


def _error(command: str, message: str) -> None:
    print(f"quorvane {command}: error: {message}", file=sys.stderr)


def cmd_analyze(args: argparse.Namespace) -> int:
    files, failures = discover(args.paths, args.glob)
    reports = run_analysis(files, jobs=args.jobs, max_size=args.max_size, progress=not args.no_progress)
    reports = sorted(reports + failures, key=lambda r: r.path)
    if not reports:
        print(f"quorvane analyze: no files matching {args.glob!r}", file=sys.stderr)
    if args.html:
        from agents.quorvane import _report

        page = _report.render_html(reports, summarize(reports), title="SQL code base assessment")
        with open(args.html, "w", encoding="utf-8", errors="backslashreplace") as fh:
            fh.write(page)
    if args.format or not args.html:
        WRITERS[args.format or "table"](reports, sys.stdout)
    else:
        s = summarize(reports)
        print(f"wrote {args.html}: {s.files} files, {s.failed} failed", file=sys.stderr)
    return EXIT_FAILED if any(not r.ok for r in reports) else EXIT_OK


def cmd_plan(args: argparse.Namespace) -> int:
    try:
        plan = complexity.plan_reading_strategy(Path(args.file))
    except (OSError, UnicodeError) as exc:
        _error("plan", f"{args.file}: {type(exc).__name__}: {exc}")
        return EXIT_FAILED
    print(plan.format_reading_instructions(args.file))
    return EXIT_OK


KB_FILES = ("mapping.md", "gotchas.md", "limitations.md")


def cmd_knowledge(args: argparse.Namespace) -> int:
    kb = Path(args.kb)
    try:
        sql = Path(args.file).read_text(encoding="utf-8")
        docs = {}
        for name in KB_FILES:
            path = kb / name
            if name == "limitations.md" and not path.exists():
                docs[name] = ""  # optional: the agent then has no limitations document
            else:
                docs[name] = path.read_text(encoding="utf-8")
    except (OSError, UnicodeError) as exc:
        _error("knowledge", f"{type(exc).__name__}: {exc}")
        return EXIT_FAILED
    categories = loresift.detect_construct_categories(sql)
    # The size report is the library's own "knowledge_selected" event.
    capture = LogCapture()
    structlog.configure(processors=[capture], wrapper_class=structlog.make_filtering_bound_logger(logging.DEBUG))
    try:
        selected = loresift.select_knowledge(
            categories,
            full_mapping=docs["mapping.md"],
            full_gotchas=docs["gotchas.md"],
            full_limitations=docs["limitations.md"],
        )
    finally:
        _quiet_logging()
    event = next(e for e in capture.entries if e["event"] == "knowledge_selected")
    report = {k: event[k] for k in ("mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct")}
    if args.format == "json":
        print(json.dumps({"file": args.file, "categories": sorted(categories), **selected, "report": report}))
        return EXIT_OK
    out = sys.stdout
    out.write(f"Knowledge for {args.file}\ncategories: {', '.join(sorted(categories)) or '-'}\n")
    for key in ("mapping", "gotchas", "limitations"):
        out.write(f"\n===== {key} =====\n\n{selected[key] or '(nothing selected)'}\n")
    out.write(
        f"\nsize: {report['token_estimate']} of {report['full_tokens']} words of mapping guide and gotchas "
        f"({report['reduction_pct']}% saved); sections wanted: {report['mapping_sections']} mapping, "
        f"{report['gotcha_sections']} gotchas\n"
    )
    return EXIT_OK


def cmd_markers(args: argparse.Namespace) -> int:
    chosen = [m for m in platform_detect.markers() if args.platform is None or args.platform in m.platforms]
    if args.format == "json":
        for m in chosen:
            print(json.dumps(dataclasses.asdict(m)))
        return EXIT_OK
    width = max(len(m.id) for m in chosen)
    for group, platform in _marker_groups(args.platform):
        group_markers = [m for m in chosen if _group_of(m) == group]
        if not group_markers:
            continue
        title = platform or "shared by several platforms"
        print(f"{title} ({len(group_markers)})")
        for m in group_markers:
            notes = []
            if len(m.platforms) > 1:
                notes.append("+".join(m.platforms))
            if m.scope:
                notes.append(f"scope={m.scope}")
            if m.corroborating_only:
                notes.append("corroborating only")
            print(f"  {m.id:<{width}}  {m.confidence:<6}  {m.pattern}")
            if notes:
                print(f"  {'':<{width}}  {'':<6}  ({'; '.join(notes)})")
        print()
    print(f"{len(chosen)} markers; weights: " + ", ".join(f"{k} {format_score(v)}" for k, v in platform_detect.WEIGHTS.items()))
    return EXIT_OK


def _group_of(marker: platform_detect.Marker) -> str:
    return marker.id.split(".", 1)[0]


def _marker_groups(platform: str | None) -> Iterator[tuple[str, str | None]]:
    for p in platform_detect.PLATFORMS:
        if platform is None or p == platform:
            yield p, p
    yield "shared", None


# --- Command line ----------------------------------------------------------


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
    p.set_defaults(handler=cmd_analyze)

    p = sub.add_parser("plan", help="the reading instructions for one SQL file",
                       description="Print the reading instructions the agent gets for one SQL file.")  # fmt: skip
    p.add_argument("file", metavar="FILE")
    p.set_defaults(handler=cmd_plan)

    p = sub.add_parser("knowledge", help="the knowledge-base sections one SQL file needs",
                       description="Print the mapping-guide and gotcha sections one SQL file needs, the "
                       "limitations document and the size report.")  # fmt: skip
    p.add_argument("file", metavar="FILE")
    p.add_argument("--kb", required=True, metavar="DIR",
                   help="knowledge-base folder with mapping.md, gotchas.md and (optionally) limitations.md")  # fmt: skip
    p.add_argument("--format", choices=("text", "json"), default="text")
    p.set_defaults(handler=cmd_knowledge)

    p = sub.add_parser("markers", help="the platform marker catalogue",
                       description="List the markers by which the source platform is recognised.")  # fmt: skip
    p.add_argument("--platform", choices=platform_detect.PLATFORMS, help="only the markers that name this platform")
    p.add_argument("--format", choices=("text", "json"), default="text")
    p.set_defaults(handler=cmd_markers)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)  # exits with 2 on a usage error
    _quiet_logging()
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
        return 130
    return code
