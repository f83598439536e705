"""The self-contained HTML page of ``quorvane inventory --html``: the
filter box of the analyze page, the dependency graph (see ``graph_view``)
and the sortable objects table with each object's hours second."""

from __future__ import annotations

from html import escape

from agents.quorvane import __version__
from agents.quorvane.assessment.dependencies import Graph, Unit
from agents.quorvane.assessment.effort import BATCH, DEFAULT_MODEL, EffortModel
from agents.quorvane.assessment.record import LEVELS
from agents.quorvane.writers.graph_assets import GRAPH_SCRIPT, GRAPH_STYLE
from agents.quorvane.writers.graph_view import graph_section
from agents.quorvane.writers.html_assets import SCRIPT, STYLE
from agents.quorvane.writers.html_page import CSP, LEVEL_ORDER
from agents.quorvane.writers.inventory_formats import Errors

_STYLE = ".cycle { color: #d9534f; font-weight: 600; } td.list { white-space: normal; min-width: 12em; }"
COLUMNS = (
    ("order", "num"),
    ("hours", "num"),
    ("id", "num"),
    ("path", "text"),
    ("lines", "num"),
    ("kind", "text"),
    ("name", "text"),
    ("complexity", "num"),
    ("cycle", "num"),
    ("reads", "text"),
    ("writes", "text"),
    ("calls", "text"),
    ("temp tables", "text"),
    ("dynamic SQL", "text"),
)


def unit_hours(model: EffortModel, u: Unit) -> float | None:
    """The expected hours of one unit, by the effort model's size curve
    (None for a batch, and for a unit that could not be graded)."""
    if u.obj.kind == BATCH or u.complexity is None:
        return None
    return round(model.expected(u.complexity, u.effective_lines, u.obj.dynamic_sql), 1)


def _num(value: object, sort: object = None) -> str:
    shown = "" if value is None else f"{value:g}" if isinstance(value, float) else str(value)
    key = "" if sort is None and value is None else value if sort is None else sort
    return f'<td class="num" data-sort="{escape(str(key))}">{escape(shown)}</td>'


def _text(value: str, cls: str = "") -> str:
    return f'<td class="{cls}">{escape(value)}</td>' if cls else f"<td>{escape(value)}</td>"


def render_inventory_html(
    graph: Graph, errors: Errors, model: EffortModel = DEFAULT_MODEL, focus: str | None = None, depth: int = 1
) -> str:
    """The page: ``focus`` (a name) and ``depth`` set the graph's initial
    focus."""
    position = {i: n for n, group in enumerate(graph.order, 1) for i in group}
    cycle_of = {i: n for n, group in enumerate(graph.cycles, 1) for i in group}
    rows = []
    for i, u in enumerate(graph.units):
        o = u.obj
        cycle = f'<span class="cycle">{cycle_of[i]}</span>' if i in cycle_of else ""
        cells = [
            _num(position[i]),
            _num(unit_hours(model, u)),
            _num(i),
            f'<td class="path" title="{escape(u.path)}">{escape(u.path)}</td>',
            _num(f"{o.start_line}\u2013{o.end_line}", sort=o.start_line),
            _text(o.kind),
            _text(o.name or "", "clip"),
            f'<td data-sort="{LEVEL_ORDER.get(u.complexity, -1)}">{escape(u.complexity)}</td>',
            f'<td class="num" data-sort="{cycle_of.get(i, "")}">{cycle}</td>',
            _text(", ".join(o.reads), "list"),
            _text(", ".join(o.writes), "list"),
            _text(", ".join(o.calls), "list"),
            _text(", ".join(o.temp_tables), "list"),
            _text("yes" if o.dynamic_sql else ""),
        ]
        rows.append(f'<tr data-level="{escape(u.complexity)}">{"".join(cells)}</tr>')
    missing = "".join(
        f"<li><code>{escape(m.name)}</code> ({escape(', '.join(sorted(m.kinds)))}) by "
        f"{escape(', '.join('#' + str(i) for i in m.referenced_by))}</li>"
        for m in graph.missing
    )
    failed = "".join(f"<li>{escape(p)}: {escape(e)}</li>" for p, e in errors)
    head = "".join(f'<th scope="col" data-type="{kind}">{escape(name)}</th>' for name, kind in COLUMNS)
    levels = "".join(f'<option value="{lv}">{lv}</option>' for lv in LEVELS)
    graph_html = graph_section(graph, focus, depth) or '<p class="meta">No objects were found.</p>'
    return (
        "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
        f'<meta http-equiv="Content-Security-Policy" content="{CSP}">'
        '<meta name="viewport" content="width=device-width, initial-scale=1">'
        f"<title>SQL code base inventory</title><style>{STYLE}{GRAPH_STYLE}{_STYLE}</style></head><body>"
        "<h1>SQL code base inventory</h1>"
        f'<p class="meta">{len(graph.units)} objects, {len(graph.edges)} edges, {len(graph.missing)} missing names, '
        f"{len(graph.cycles)} cycles &middot; quorvane {escape(__version__)}</p>"
        '<div class="controls"><input type="search" id="filter" placeholder="Filter rows and graph: path, name, '
        'kind, level…" aria-label="Filter rows"><select id="level" aria-label="Level">'
        f'<option value="">any level</option>{levels}</select><span id="shown" class="meta"></span></div>'
        f"<h2>Dependency graph</h2>{graph_html}"
        '<h2>Objects</h2><div class="scroll"><table class="sortable filterable" id="objects" data-count="objects">'
        f"<thead><tr>{head}</tr></thead><tbody>{''.join(rows)}</tbody></table></div>"
        f"<h2>Missing</h2><ul>{missing or '<li>none</li>'}</ul>"
        + (f"<h2>Unreadable files</h2><ul>{failed}</ul>" if failed else "")
        + f"<script>{SCRIPT}</script><script>{GRAPH_SCRIPT}</script></body></html>\n"
    )
