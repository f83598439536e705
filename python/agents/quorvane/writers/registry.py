"""Every command's output formats, in one table.

A command takes from here the choices and help of its ``--format`` option
and of its page (``--html``), and the writer of each.  Every writer has the
one signature ``write(report, out)``: ``report`` is the command's own record
of its results (one of the ``*Report`` classes below), ``out`` the text
stream to write on.  Where the stream goes (standard output, a file written
whole, a FIFO) is decided by :mod:`agents.quorvane.writers.output_files`.

Adding a format is adding a row to :data:`FORMATS` (or :data:`PAGES`);
adding a command is adding its report class and its rows; ``cli.py``
builds the options from the table and the command's ``run`` calls
``FORMATS[command].writer(args.format)``.
"""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, TextIO

from agents.quorvane.assessment.dependencies import Graph
from agents.quorvane.assessment.effort import DEFAULT_MODEL, EffortModel
from agents.quorvane.assessment.record import FileResult, Row
from agents.quorvane.assessment.totals import Summary
from agents.quorvane.writers import (
    csv_rows,
    inventory_formats,
    json_lines,
    knowledge_text,
    marker_list,
    packet_files,
    plan_csv,
    table,
    workload_formats,
)

Write = Callable[[Any, TextIO], None]


@dataclass(frozen=True)
class AnalyzeReport:
    """What ``analyze`` writes: every file's result, the rows of the chosen
    grain (files, or objects with ``--objects``) and the totals."""

    results: Sequence[FileResult]
    rows: Sequence[Row]
    summary: Summary
    per_object: bool
    title: str
    wide: bool = False  # the table shows every column (--wide)


@dataclass(frozen=True)
class InventoryReport:
    """What ``inventory`` writes: the graph of the units and the inputs
    that could not be read, as (path, error)."""

    graph: Graph
    errors: Sequence[tuple[str, str]]
    effort: EffortModel = DEFAULT_MODEL  # the hours of the page's objects
    focus: str | None = None  # the DOT graph and the page show this name's neighbourhood
    depth: int = 1  # that many links up and down


@dataclass(frozen=True)
class WorkloadReport:
    """What ``workload`` writes: its one JSON-ready document (schema_version,
    summary, templates)."""

    doc: Mapping[str, Any]


KnowledgeReport = knowledge_text.KnowledgeReport
MarkersReport = marker_list.MarkersReport
PacketsReport = packet_files.PacketsReport


@dataclass(frozen=True)
class Writer:
    help: str  # the format as --format's help names it
    write: Write


@dataclass(frozen=True)
class Formats:
    """One command's formats: the first is the default."""

    writers: Mapping[str, Writer]
    lead: str = ""  # what --format's help says before the choices

    @property
    def choices(self) -> tuple[str, ...]:
        return tuple(self.writers)

    @property
    def default(self) -> str:
        return next(iter(self.writers))

    def help(self) -> str:
        names = [w.help + (" (default)" if i == 0 else "") for i, w in enumerate(self.writers.values())]
        listed = names[0] if len(names) == 1 else ", ".join(names[:-1]) + " or " + names[-1]
        return self.lead + listed

    def writer(self, name: str | None) -> Write:
        """The writer of format ``name`` (None: the default)."""
        return self.writers[name or self.default].write


def _analyze_page(report: AnalyzeReport, out: TextIO) -> None:
    from agents.quorvane.writers.html_page import render_html  # the page's modules load only when asked for

    out.write(render_html(report.results, report.summary, title=report.title))


def _inventory_page(report: InventoryReport, out: TextIO) -> None:
    from agents.quorvane.writers.inventory_page import render_inventory_html

    out.write(render_inventory_html(report.graph, report.errors, report.effort, report.focus, report.depth))


FORMATS: Mapping[str, Formats] = {
    "analyze": Formats(
        {
            "table": Writer(
                "table", lambda r, out: table.write_table(r.rows, r.summary, out, per_object=r.per_object, wide=r.wide)
            ),
            "json": Writer("json (one object per line)", lambda r, out: json_lines.write_json_lines(r.rows, out)),
            "csv": Writer("csv", lambda r, out: csv_rows.write_csv(r.rows, out)),
            "plan-csv": Writer(
                "plan-csv (the work plan: one row per object by wave)",
                lambda r, out: plan_csv.write_plan_csv(r.results, out),
            ),
        }
    ),
    "inventory": Formats(
        {
            "json": Writer("json", lambda r, out: inventory_formats.write_json(r.graph, r.errors, out)),
            "csv": Writer(
                "csv (one row per object)", lambda r, out: inventory_formats.write_csv(r.graph, r.errors, out)
            ),
            "dot": Writer(
                "dot (Graphviz)",
                lambda r, out: inventory_formats.write_dot(r.graph, r.errors, out, r.focus, r.depth),
            ),
        },
        lead="output on stdout: ",
    ),
    "knowledge": Formats(
        {
            "text": Writer("text", knowledge_text.write_text),
            "json": Writer("json (one document)", knowledge_text.write_json),
        }
    ),
    "packets": Formats(
        {
            "jsonl": Writer("jsonl (one packet per line)", packet_files.write_jsonl),
            "md": Writer(
                "md (one Markdown file per packet and an index.md, into the -o directory)", packet_files.write_index
            ),
        }
    ),
    "workload": Formats(
        {
            "table": Writer("table", lambda r, out: workload_formats.write_table(r.doc, out)),
            "json": Writer("json (one document)", lambda r, out: workload_formats.write_json(r.doc, out)),
            "csv": Writer("csv (one row per template)", lambda r, out: workload_formats.write_csv(r.doc, out)),
        }
    ),
    "markers": Formats(
        {
            "text": Writer("text", marker_list.write_text),
            "json": Writer("json (one object per line)", marker_list.write_json),
        }
    ),
}


def _workload_page(report: WorkloadReport, out: TextIO) -> None:
    out.write(workload_formats.render_html(report.doc))


PAGES: Mapping[str, Writer] = {
    "analyze": Writer(
        "also write a self-contained HTML report (- for stdout); stdout then stays quiet unless --format is given",
        _analyze_page,
    ),
    "inventory": Writer(
        "also write a self-contained page with the graph and the objects (- for stdout); stdout then stays "
        "quiet unless --format is given",
        _inventory_page,
    ),
    "workload": Writer(
        "also write a self-contained page with the summary and the templates (- for stdout); stdout then stays "
        "quiet unless --format is given",
        _workload_page,
    ),
}
