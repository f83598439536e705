"""The self-contained HTML page of ``quorvane inventory --html``: the objects
table (sortable) and the dependency graph drawn as inline SVG, layer by
layer in conversion order."""

from __future__ import annotations

from html import escape

from agents.quorvane import __version__
from agents.quorvane.assessment.dependencies import Graph
from agents.quorvane.writers.inventory_formats import Errors

# The graph shows at most this many objects (those with edges, first in
# conversion order); the table always shows every object.
MAX_GRAPH_NODES = 400
NODE_W, NODE_H, GAP_X, GAP_Y = 190, 34, 70, 14
LEVEL_FILL = {"simple": "#dff3e7", "moderate": "#fbeed3", "complex": "#f8dcdb"}
EDGE_COLOUR = {"reads": "#5b7bd5", "writes": "#d9534f", "calls": "#333", "dynamic": "#aaa"}

_STYLE = """
body { font: 14px/1.45 system-ui, sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; margin: 0 0 4px; } h2 { font-size: 17px; margin: 28px 0 8px; }
.meta { color: #666; } table { border-collapse: collapse; width: 100%; font-size: 13px; }
th, td { border-bottom: 1px solid #e4e4e4; padding: 4px 8px; text-align: left; vertical-align: top; }
th { background: #f4f4f6; cursor: pointer; position: sticky; top: 0; }
td.num { text-align: right; } .cycle { color: #d9534f; font-weight: 600; }
.graph { overflow: auto; border: 1px solid #ddd; max-height: 80vh; }
svg text { font: 11px system-ui, sans-serif; fill: #222; }
"""

_SCRIPT = """
document.querySelectorAll('th').forEach((th, col) => th.addEventListener('click', () => {
  const body = th.closest('table').tBodies[0];
  const asc = th.getAttribute('aria-sort') !== 'ascending';
  th.closest('tr').querySelectorAll('th').forEach(h => h.removeAttribute('aria-sort'));
  th.setAttribute('aria-sort', asc ? 'ascending' : 'descending');
  const key = r => { const c = r.cells[col]; return c.dataset.v !== undefined ? +c.dataset.v : c.textContent; };
  [...body.rows].sort((a, b) => { const x = key(a), y = key(b);
    return (x < y ? -1 : x > y ? 1 : 0) * (asc ? 1 : -1); }).forEach(r => body.appendChild(r));
}));
"""


def _svg(graph: Graph) -> str:
    involved = {e.source for e in graph.edges} | {e.target for e in graph.edges}
    nodes = [i for group in graph.order for i in group if i in involved][:MAX_GRAPH_NODES]
    if not nodes:
        return "<p>No object references another object of the code base.</p>"
    chosen = set(nodes)
    layer: dict[int, int] = {}
    depends: dict[int, list[int]] = {}
    for e in graph.edges:
        depends.setdefault(e.source, []).append(e.target)
    for i in nodes:  # conversion order: dependencies were placed first
        layer[i] = 1 + max((layer[t] for t in depends.get(i, ()) if t in layer and t != i), default=-1)
    rows: dict[int, int] = {}
    pos: dict[int, tuple[int, int]] = {}
    for i in nodes:
        col = layer[i]
        row = rows.get(col, 0)
        rows[col] = row + 1
        pos[i] = (10 + col * (NODE_W + GAP_X), 10 + row * (NODE_H + GAP_Y))
    width = 20 + (max(layer.values()) + 1) * (NODE_W + GAP_X)
    height = 20 + max(rows.values()) * (NODE_H + GAP_Y)
    in_cycle = {i for c in graph.cycles for i in c}
    parts = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" role="img" '
        'aria-label="dependency graph">',
        '<defs><marker id="arrow" viewBox="0 0 10 10" refX="10" refY="5" markerWidth="7" markerHeight="7" '
        'orient="auto-start-reverse"><path d="M 0 0 L 10 5 L 0 10 z" fill="#777"/></marker></defs>',
    ]
    for e in graph.edges:
        if e.source in chosen and e.target in chosen and e.source != e.target:
            (x1, y1), (x2, y2) = pos[e.source], pos[e.target]
            parts.append(
                f'<line x1="{x1}" y1="{y1 + NODE_H // 2}" x2="{x2 + NODE_W}" y2="{y2 + NODE_H // 2}" '
                f'stroke="{EDGE_COLOUR[e.kind]}" stroke-opacity="0.6" marker-end="url(#arrow)">'
                f"<title>{escape(e.kind)} {escape(e.name)}</title></line>"
            )
    for i in nodes:
        u = graph.units[i]
        x, y = pos[i]
        stroke = "#d9534f" if i in in_cycle else "#999"
        label = f"{u.obj.kind} {u.obj.name or ''}"
        short = label if len(label) <= 30 else label[:29] + "\u2026"
        parts.append(
            f'<g><title>{escape(label)}\n{escape(u.path)}:{u.obj.start_line}</title>'
            f'<rect x="{x}" y="{y}" width="{NODE_W}" height="{NODE_H}" rx="4" '
            f'fill="{LEVEL_FILL.get(u.complexity, "#eee")}" stroke="{stroke}"/>'
            f'<text x="{x + 6}" y="{y + 14}">{escape(short)}</text>'
            f'<text x="{x + 6}" y="{y + 27}" fill="#666">#{i} line {u.obj.start_line}</text></g>'
        )
    parts.append("</svg>")
    note = ""
    if len(involved) > len(nodes):
        note = f"<p class=meta>Showing the first {len(nodes)} of {len(involved)} connected objects.</p>"
    return note + "".join(parts)


def render_inventory_html(graph: Graph, errors: Errors) -> str:
    position = {i: n for n, group in enumerate(graph.order, 1) for i in group}
    cycle_of = {i: n for n, group in enumerate(graph.cycles, 1) for i in group}
    rows = []
    for i, u in enumerate(graph.units):
        o = u.obj
        cycle = f'<span class="cycle">{cycle_of[i]}</span>' if i in cycle_of else ""
        rows.append(
            f"<tr><td class=num data-v={position[i]}>{position[i]}</td><td class=num data-v={i}>{i}</td>"
            f"<td>{escape(u.path)}</td><td class=num data-v={o.start_line}>{o.start_line}\u2013{o.end_line}</td>"
            f"<td>{escape(o.kind)}</td><td>{escape(o.name or '')}</td><td>{escape(u.complexity)}</td>"
            f"<td>{cycle}</td><td>{escape(', '.join(o.reads))}</td><td>{escape(', '.join(o.writes))}</td>"
            f"<td>{escape(', '.join(o.calls))}</td><td>{escape(', '.join(o.temp_tables))}</td>"
            f"<td>{'yes' if o.dynamic_sql else ''}</td></tr>"
        )
    missing = "".join(
        f"<li><code>{escape(m.name)}</code> ({escape(', '.join(sorted(m.kinds)))}) by "
        f"{escape(', '.join('#' + str(i) for i in m.referenced_by))}</li>"
        for m in graph.missing
    )
    failed = "".join(f"<li>{escape(p)}: {escape(e)}</li>" for p, e in errors)
    head = ("order", "id", "path", "lines", "kind", "name", "complexity", "cycle", "reads", "writes", "calls",
            "temp tables", "dynamic SQL")  # fmt: skip
    return (
        "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8><title>SQL code base inventory</title>"
        f"<style>{_STYLE}</style></head><body><h1>SQL code base inventory</h1>"
        f"<p class=meta>{len(graph.units)} objects, {len(graph.edges)} edges, {len(graph.missing)} missing names, "
        f"{len(graph.cycles)} cycles &middot; quorvane {escape(__version__)}</p>"
        f"<h2>Dependency graph</h2><div class=graph>{_svg(graph)}</div>"
        f"<h2>Objects</h2><table><thead><tr>{''.join(f'<th>{h}</th>' for h in head)}</tr></thead>"
        f"<tbody>{''.join(rows)}</tbody></table>"
        f"<h2>Missing</h2><ul>{missing or '<li>none</li>'}</ul>"
        + (f"<h2>Unreadable files</h2><ul>{failed}</ul>" if failed else "")
        + f"<script>{_SCRIPT}</script></body></html>\n"
    )
