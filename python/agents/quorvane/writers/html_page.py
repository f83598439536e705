"""The self-contained HTML report of ``quorvane analyze --html``.

One page, no network: the style sheet, the charts and the dependency graph
(inline SVG) and the script that sorts and filters the tables are all in the
page, and its content security policy forbids loading anything else.  Every
table row has one cell per column, failed files included.
"""

from __future__ import annotations

from collections.abc import Sequence
from html import escape

from agents.quorvane import __version__
from agents.quorvane.assessment.record import LEVELS, FileResult, Row
from agents.quorvane.assessment.totals import Summary
from agents.quorvane.writers.dependency_graph import graph_html
from agents.quorvane.writers.graph_assets import GRAPH_SCRIPT, GRAPH_STYLE
from agents.quorvane.writers.html_blockers import blockers_cell, blockers_section
from agents.quorvane.writers.html_assets import SCRIPT, STYLE
from agents.quorvane.writers.html_hotspots import hotspots_section
from agents.quorvane.writers.svg_charts import bar_chart

LEVEL_COLOURS = {"simple": "#4caf7d", "moderate": "#e0a030", "complex": "#d9534f"}
BUDGET_COLOUR = "#5b7bd5"
PLATFORM_COLOUR = "#7a5bd5"
CATEGORY_COLOUR = "#3a9fb5"
EFFORT_COLOUR = "#b5743a"
LEVEL_ORDER = {level: i for i, level in enumerate(LEVELS)}
# Nothing but the page itself: inline style and script, no fetches.
CSP = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:"

_FILE_COLUMNS = (
    ("File", "text"),
    ("Level", "num"),
    ("Eff. lines", "num"),
    ("Procs", "num"),
    ("Complex", "num"),
    ("Moderate", "num"),
    ("Temp tables", "num"),
    ("CTEs", "num"),
    ("Analysis turns", "num"),
    ("Conversion turns", "num"),
    ("Audit turns", "num"),
    ("Lines", "num"),
    ("Sections", "num"),
    ("Encoding", "text"),
    ("Platform", "text"),
    ("Score", "num"),
    ("Confidence", "text"),
    ("Hours", "num"),
    ("Hotspots", "num"),
    ("Blockers", "num"),
    ("Categories", "text"),
)
_OBJECT_COLUMNS = (
    ("File", "text"),
    ("Kind", "text"),
    ("Object", "text"),
    ("Start", "num"),
    ("End", "num"),
    ("Level", "num"),
    ("Eff. lines", "num"),
    ("Complex", "num"),
    ("Moderate", "num"),
    ("Dynamic SQL", "text"),
    ("Hours", "num"),
    ("Hotspots", "num"),
    ("Blockers", "num"),
    ("Categories", "text"),
)


def _td(value: object, *, num: bool = False, sort: object = None, cls: str = "", title: str | None = None) -> str:
    classes = " ".join(c for c in ("num" if num else "", cls) if c)
    attrs = f' class="{classes}"' if classes else ""
    if sort is not None:
        attrs += f' data-sort="{escape(str(sort))}"'
    if title is not None:
        attrs += f' title="{escape(title)}"'
    text = (
        ""
        if value is None
        else escape(value if isinstance(value, str) else f"{value:g}" if isinstance(value, float) else str(value))
    )
    return f"<td{attrs}>{text}</td>"


def _level_cell(row: Row) -> str:
    if not row.ok:
        return '<td data-sort="-1">failed</td>'
    level = row.complexity or ""
    colour = LEVEL_COLOURS.get(level, "#888")
    return (
        f'<td data-sort="{LEVEL_ORDER.get(level, -1)}"><span class="level" style="background:{colour}">'
        f"{escape(level)}</span></td>"
    )


def _path_cell(row: Row) -> str:
    error = f'<br><span class="err">{escape(row.error)}</span>' if row.error else ""
    return f'<td class="path" title="{escape(row.path)}">{escape(row.path)}{error}</td>'


def _hotspot_cell(row: Row, anchor: str | None) -> str:
    if row.hotspots is None:
        return _td(None, num=True)
    n = len(row.hotspots)
    if anchor and n:
        return f'<td class="num" data-sort="{n}"><a href="#{anchor}">{n}</a></td>'
    return _td(n, num=True)


def _file_row(result: FileResult, anchors: dict[str, str]) -> str:
    r = result.file
    cells = [_path_cell(r), _level_cell(r)]
    if not r.ok:
        cells += ["<td></td>"] * (len(_FILE_COLUMNS) - 2)
        return f'<tr class="failed" data-level="failed">{"".join(cells)}</tr>'
    cells += [
        *(
            _td(n, num=True)
            for n in (
                r.effective_lines,
                r.stored_proc_count,
                r.complex_construct_count,
                r.moderate_construct_count,
                r.temp_table_count,
                r.cte_count,
                r.analysis_turns,
                r.conversion_turns,
                r.audit_turns,
                r.total_lines,
            )
        ),
        _td(r.sections if r.chunked else "whole", num=True, sort=r.sections if r.chunked else 0),
        _td((r.encoding or "") + (" (guessed)" if r.encoding_guessed else "")),
        _td(
            r.platform or ("tie: " + "/".join(r.platform_tied) if r.platform_tied else "unknown"), sort=r.platform or ""
        ),
        _td(r.platform_score, num=True),
        _td(r.platform_confidence),
        _td(r.effort_hours, num=True),
        _hotspot_cell(r, anchors.get(r.path)),
        blockers_cell(r),
        _td(", ".join(r.categories or ()), cls="clip", title=", ".join(r.categories or ())),
    ]
    return f'<tr data-level="{escape(r.complexity or "")}">{"".join(cells)}</tr>'


def _object_row(o: Row, anchors: dict[str, str]) -> str:
    cells = [
        _path_cell(o),
        _td(o.object_kind),
        _td(o.object_name, cls="clip", title=o.object_name),
        _td(o.start_line, num=True),
        _td(o.end_line, num=True),
        _level_cell(o),
        _td(o.effective_lines, num=True),
        _td(o.complex_construct_count, num=True),
        _td(o.moderate_construct_count, num=True),
        _td("yes" if o.dynamic_sql else "no"),
        _td(o.effort_hours, num=True),
        _hotspot_cell(o, anchors.get(o.path)),
        blockers_cell(o),
        _td(", ".join(o.categories or ()), cls="clip", title=", ".join(o.categories or ())),
    ]
    return f'<tr data-level="{escape(o.complexity or "")}">{"".join(cells)}</tr>'


def _table(table_id: str, columns: Sequence[tuple[str, str]], rows: Sequence[str], counted: str = "") -> str:
    head = "".join(f'<th scope="col" data-type="{kind}">{escape(name)}</th>' for name, kind in columns)
    body = "\n".join(rows)
    count = f' data-count="{counted}"' if counted else ""
    return (
        f'<div class="scroll"><table class="sortable filterable" id="{table_id}"{count}>'
        f"<thead><tr>{head}</tr></thead>\n<tbody>\n{body}\n</tbody></table></div>"
    )


def _card(value: object, label: str) -> str:
    shown = f"{value:g}" if isinstance(value, float) else str(value)
    return f'<div class="card"><div class="n">{escape(shown)}</div><div class="l">{escape(label)}</div></div>'


def _figure(caption: str, chart: str) -> str:
    return f"<figure><figcaption>{escape(caption)}</figcaption>{chart}</figure>"


def _failures(results: Sequence[FileResult], summary: Summary) -> str:
    items = [(r.path, r.file.error or "") for r in results if not r.file.ok]
    items += [(folder, f"directory: {reason}") for folder, reason in summary.unreadable_dirs]
    if not items:
        return '<div class="failures none" id="failures">No failures: every file was read and analysed.</div>'
    lis = "".join(f"<li><code>{escape(path)}</code>: {escape(reason)}</li>" for path, reason in items)
    return f'<div class="failures" id="failures"><strong>{len(items)} failed</strong><ul>{lis}</ul></div>'


def _dependency_graph(results: Sequence[FileResult]) -> str:
    section = graph_html(results)
    return section or '<p class="meta">No objects were found.</p>'


def _hours_table(table_id: str, columns: Sequence[str], rows: Sequence[Sequence[object]]) -> str:
    """A small table whose columns after the first are numbers."""
    num = ' class="num"'
    head = "".join(f'<th scope="col"{num if i else ""}>{escape(c)}</th>' for i, c in enumerate(columns))
    body = "".join(
        "<tr>" + "".join(_td(v) if i == 0 else _td(v, num=True) for i, v in enumerate(row)) + "</tr>" for row in rows
    )
    return f'<table id="{table_id}"><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>'


def _effort_section(summary: Summary) -> str:
    """Hours per bucket and per conversion wave, as ranges."""
    buckets = _hours_table(
        "buckets",
        ("Bucket", "Files", "Items", "Low", "Expected hours", "High"),
        [(name, b["files"], b["items"], b["low"], b["hours"], b["high"]) for name, b in summary.buckets.items()],
    )
    waves = _hours_table(
        "waves",
        ("Wave", "Items", "Low", "Expected hours", "High"),
        [(str(w["wave"]), w["items"], w["low"], w["hours"], w["high"]) for w in summary.waves],
    )
    chart = bar_chart([(f"wave {w['wave']}", w["hours"], EFFORT_COLOUR) for w in summary.waves], label_width=80)
    return (
        f'<section id="effort"><p class="meta">Conversion {summary.conversion_hours} hours '
        f"({summary.conversion_low}-{summary.conversion_high}) plus {summary.learning} hours learning; "
        "operations and tests are counted apart. "
        f"{summary.duplicates} items cost once as duplicates; near-copy files: {summary.copies}.</p>"
        f"{buckets}<h3>Conversion waves</h3>{waves}"
        f"{_figure('Conversion hours per wave', chart) if summary.waves else ''}</section>"
    )


def render_html(results: Sequence[FileResult], summary: Summary, *, title: str) -> str:
    """The whole page for ``results`` (in the order given) and their summary."""
    learning = summary.learning
    cards = "".join(
        [
            _card(summary.files, "files"),
            _card(summary.analysed, "analysed"),
            _card(summary.failed, "failed"),
            _card(summary.objects, "objects"),
            _card(summary.effective_lines, "effective lines"),
            _card(summary.total_hours, "hours in all"),
            _card(summary.conversion_hours, "hours converting"),
            _card(learning, "hours learning, once"),
        ]
    )
    charts = "".join(
        [
            _figure(
                "Files per complexity level",
                bar_chart([(k, v, LEVEL_COLOURS[k]) for k, v in summary.levels.items()], label_width=80),
            ),
            _figure(
                "Turn budgets (all files)",
                bar_chart([(k, v, BUDGET_COLOUR) for k, v in summary.budgets.items()], label_width=80),
            ),
            _figure("Source platforms", bar_chart([(k, v, PLATFORM_COLOUR) for k, v in summary.platforms.items()])),
            _figure(
                "Construct categories (files using each)",
                bar_chart([(k, v, CATEGORY_COLOUR) for k, v in summary.categories.items()]),
            ),
            _figure(
                "Learning hours, once per category",
                bar_chart([(k, v, EFFORT_COLOUR) for k, v in summary.learning_hours.items()]),
            ),
        ]
    )
    hotspots_html, anchors = hotspots_section(results)
    file_rows = [_file_row(r, anchors) for r in results]
    objects = [o for r in results for o in r.objects]
    if objects:
        objects_html = _table("objects", _OBJECT_COLUMNS, [_object_row(o, anchors) for o in objects])
    else:
        objects_html = '<p class="meta">No objects were found.</p>'
    level_options = "".join(f'<option value="{lv}">{lv}</option>' for lv in (*LEVELS, "failed"))
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{CSP}">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{escape(title)}</title>
<style>{STYLE}{GRAPH_STYLE}</style>
</head>
<body>
<h1>{escape(title)}</h1>
<p class="meta">{summary.files} files, {summary.analysed} analysed, {summary.failed} failed; {summary.objects} objects.
Effort {summary.total_hours} hours ({summary.total_low}-{summary.total_high}). Made by quorvane {escape(__version__)}.</p>
<div class="cards">{cards}</div>
<h2>Failures</h2>
{_failures(results, summary)}
<h2>Blockers</h2>
{blockers_section(summary)}
<div class="charts">{charts}</div>
<h2>Effort and waves</h2>
{_effort_section(summary)}
<div class="controls"><input type="search" id="filter" placeholder="Filter rows and graph: path, name, level, platform, category…"
 aria-label="Filter rows"><select id="level" aria-label="Level"><option value="">any level</option>{level_options}</select>
<span id="shown" class="meta"></span></div>
<h2>Files</h2>
{_table("files", _FILE_COLUMNS, file_rows, "files")}
<h2>Objects</h2>
{objects_html}
<h2>Dependencies between objects</h2>
{_dependency_graph(results)}
<h2>Hotspots</h2>
{hotspots_html}
<script>{SCRIPT}</script>
<script>{GRAPH_SCRIPT}</script>
</body>
</html>
"""
