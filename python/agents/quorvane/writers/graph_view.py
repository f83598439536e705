"""The dependency graph section of the HTML pages (``analyze --html`` and
``inventory --html``): its controls, an empty SVG the page's script draws
into, and the graph itself as JSON in the page.  The layout is computed in
the browser from the layers computed here, so that a filter or a focus
redraws only what it keeps, compactly."""

from __future__ import annotations

import json
from html import escape

from agents.quorvane.assessment.dependencies import Graph
from agents.quorvane.writers.graph_nodes import nodes_and_links

# The page draws at most this many nodes at once; more wait for a filter
# or a focus.
MAX_DRAWN = 5000
SVG_NAMESPACE = "http://www.w3.org/2000/svg"
LEGEND = (
    "Each object stands right of what it depends on, in columns by conversion order. Edges: reads blue, "
    "writes red, calls black, dynamic and missing dashed grey; a red border marks a cycle. "
    "Click an object to focus on it."
)


def graph_json(graph: Graph) -> str:
    """The nodes and links as JSON safe inside a script
    element (no ``<``, ASCII only)."""
    nodes, links = nodes_and_links(graph)
    data = {
        "nodes": [
            [
                n.key,
                n.kind,
                n.name,
                n.label,
                "\n".join(n.title),
                n.complexity,
                n.schema,
                n.folder,
                n.layer,
                int(n.in_cycle),
            ]
            for n in nodes
        ],
        "links": [[link.source, link.target, link.kind] for link in links],
        "max": MAX_DRAWN,
    }
    return json.dumps(data, separators=(",", ":")).replace("<", "\\u003c")


def graph_section(graph: Graph, focus: str | None = None, depth: int = 1) -> str:
    """The controls, the drawing area and the data of the graph; "" when
    there is no object."""
    if not graph.units:
        return ""
    return (
        '<div class="graph-controls" id="graph-controls">'
        '<input type="search" id="graph-focus" placeholder="Focus on an object: its name, or click it" '
        f'aria-label="Focus on an object" value="{escape(focus or "")}">'
        f'<label>hops up and down <input type="number" id="graph-depth" min="0" max="999" value="{depth}"></label>'
        '<button type="button" id="graph-clear">clear focus</button>'
        '<label>cluster by <select id="graph-cluster"><option value="schema">schema</option>'
        '<option value="folder">folder</option><option value="">nothing</option></select></label>'
        '<label><input type="checkbox" id="graph-hide"> hide batches and missing names</label>'
        '<span id="graph-shown" class="meta"></span></div>'
        f'<div class="graph" id="graph"><svg xmlns="{SVG_NAMESPACE}" id="graph-svg" role="img" '
        'aria-label="dependency graph" width="0" height="0"></svg></div>'
        f'<p class="graph-legend">{escape(LEGEND)}</p>'
        "<noscript><p class=\"meta\">The graph is drawn by the page's script; the inventory's "
        "<code>--format dot</code> draws it without one.</p></noscript>"
        f'<script type="application/json" id="graph-data">{graph_json(graph)}</script>'
    )
