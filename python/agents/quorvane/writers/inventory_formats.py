"""The output formats of ``quorvane inventory``: one JSON document, CSV with
one row per object, and a Graphviz DOT graph."""

from __future__ import annotations

import csv
import json
from collections.abc import Sequence
from typing import Any, TextIO

from agents.quorvane.assessment.dependencies import Graph
from agents.quorvane.writers.graph_nodes import (
    BATCHES,
    MISSING,
    NO_SCHEMA,
    Link,
    Node,
    find_nodes,
    neighbourhood,
    nodes_and_links,
)
from agents.quorvane.writers.spelling import csv_text

Errors = Sequence[tuple[str, str]]


def object_record(graph: Graph, i: int) -> dict[str, Any]:
    u = graph.units[i]
    o = u.obj
    return {
        "id": i,
        "path": u.path,
        "kind": o.kind,
        "name": o.name,
        "start_line": o.start_line,
        "end_line": o.end_line,
        "complexity": u.complexity,
        "reads": list(o.reads),
        "writes": list(o.writes),
        "calls": list(o.calls),
        "temp_tables": list(o.temp_tables),
        "dynamic_sql": o.dynamic_sql,
        "dynamic_references": list(getattr(o, "dynamic_references", ())),
    }


def document(graph: Graph, errors: Errors) -> dict[str, Any]:
    return {
        "objects": [object_record(graph, i) for i in range(len(graph.units))],
        "edges": [
            {"from": e.source, "to": e.target, "kind": e.kind, "name": e.name, "confidence": e.confidence}
            for e in graph.edges
        ],
        "missing": [
            {"name": m.name, "kinds": sorted(m.kinds), "referenced_by": m.referenced_by, "confidence": m.confidence}
            for m in graph.missing
        ],
        "cycles": graph.cycles,
        "order": graph.order,
        "duplicates": [
            {
                "name": d.name,
                "kind": d.kind,
                "definitions": [f"{graph.units[i].path}:{graph.units[i].obj.start_line}" for i in d.definitions],
            }
            for d in graph.duplicates
        ],
        "errors": [{"path": p, "error": e} for p, e in errors],
    }


def write_json(graph: Graph, errors: Errors, out: TextIO) -> None:
    json.dump(document(graph, errors), out, indent=1, ensure_ascii=False)
    out.write("\n")


CSV_FIELDS = (
    "id",
    "path",
    "kind",
    "name",
    "start_line",
    "end_line",
    "complexity",
    "order",
    "cycle",
    "depends_on",
    "reads",
    "writes",
    "calls",
    "temp_tables",
    "dynamic_sql",
)


def write_csv(graph: Graph, errors: Errors, out: TextIO) -> None:
    position = {i: n for n, group in enumerate(graph.order, 1) for i in group}
    cycle_of = {i: n for n, group in enumerate(graph.cycles, 1) for i in group}
    depends: dict[int, set[int]] = {}
    for e in graph.edges:
        depends.setdefault(e.source, set()).add(e.target)
    w = csv.writer(out, lineterminator="\n")
    w.writerow(CSV_FIELDS)
    for i, u in enumerate(graph.units):
        o = u.obj
        w.writerow(
            [
                i,
                csv_text(u.path),
                o.kind,
                csv_text(o.name or ""),
                o.start_line,
                o.end_line,
                u.complexity,
                position[i],
                cycle_of.get(i, ""),
                " ".join(map(str, sorted(depends.get(i, ())))),
                csv_text("; ".join(o.reads)),
                csv_text("; ".join(o.writes)),
                csv_text("; ".join(o.calls)),
                csv_text("; ".join(o.temp_tables)),
                "true" if o.dynamic_sql else "false",
            ]
        )


def _dot_char(c: str) -> str:
    if c == "\\":
        return "\\\\"
    if c == '"':
        return '\\"'
    if c.isprintable():
        return c
    # A control character (Graphviz rejects a NUL), a line break inside a
    # name, or a lone surrogate from an undecodable file name: shown as its
    # escape, in letters.
    return "\\" + c.encode("unicode_escape", "backslashreplace").decode("ascii")


def dot_string(*lines: str) -> str:
    """A quoted DOT string showing ``lines`` one under the other; every
    character of the text is shown as it is or, when not printable, as its
    escape."""
    return '"' + "\\n".join("".join(map(_dot_char, line)) for line in lines) + '"'


LEVEL_FILL = {"simple": "#dff3e7", "moderate": "#fbeed3", "complex": "#f8dcdb"}
EDGE_STYLE = {
    "reads": 'color="#5b7bd5"',
    "writes": 'color="#d9534f"',
    "calls": 'color="#333333" style=bold',
    "dynamic": 'color="#999999" style=dotted',
    "missing": 'color="#999999" style=dashed',
}
# Compact spacing: a code base of a thousand objects stays a graph one can
# read on a screen.  The kind of an edge is its colour (and its tooltip),
# not a label, which Graphviz would lay out as one more box per edge.
DOT_HEAD = """digraph inventory {
  rankdir=LR;
  newrank=true;
  nodesep=0.12;
  ranksep=0.5;
  node [shape=box, style="rounded,filled", fontname="Helvetica", fontsize=10, margin="0.08,0.03"];
  edge [arrowsize=0.6];
"""


def shown_nodes(nodes: Sequence[Node], links: Sequence[Link], focus: str | None, depth: int) -> set[int]:
    """The nodes a graph shows: those that take part in a link, or, with a
    focus, the neighbourhood ``depth`` links up and down of the objects
    named ``focus``."""
    if focus is None:
        return {link.source for link in links} | {link.target for link in links}
    return neighbourhood(len(nodes), links, find_nodes(nodes, focus), depth)


def _dot_node(node: Node, in_cluster: bool) -> str:
    pad = "    " if in_cluster else "  "
    tooltip = dot_string(*node.title)
    if node.kind == MISSING:
        return f"{pad}{node.key} [label={dot_string(node.label)}, tooltip={tooltip}, style=dashed];\n"
    label = dot_string(node.label, node.detail) if node.detail else dot_string(node.label)
    extra = ', color="#d9534f", penwidth=2' if node.in_cycle else ""
    fill = LEVEL_FILL.get(node.complexity, "#eeeeee")
    return f'{pad}{node.key} [label={label}, tooltip={tooltip}, fillcolor="{fill}"{extra}];\n'


def write_dot(graph: Graph, errors: Errors, out: TextIO, focus: str | None = None, depth: int = 1) -> None:
    """The objects that take part in a link (or, with ``focus``, the
    neighbourhood of the objects so named) and the missing names, as a
    directed graph from each object to what it depends on, each schema a
    cluster."""
    nodes, links = nodes_and_links(graph)
    shown = shown_nodes(nodes, links, focus, depth)
    clusters: dict[str, list[int]] = {}
    loose: list[int] = []
    for k in sorted(shown):
        schema = nodes[k].schema
        if schema in (NO_SCHEMA, BATCHES):
            loose.append(k)
        else:
            clusters.setdefault(schema.casefold(), []).append(k)
    out.write(DOT_HEAD)
    for c, key in enumerate(sorted(clusters), 1):
        members = clusters[key]
        out.write(
            f"  subgraph cluster_{c} {{\n    label={dot_string(nodes[members[0]].schema)};\n"
            '    style=rounded;\n    color="#bbbbbb";\n    fontname="Helvetica";\n'
        )
        out.writelines(_dot_node(nodes[k], True) for k in members)
        out.write("  }\n")
    out.writelines(_dot_node(nodes[k], False) for k in loose)
    for link in links:
        if link.source in shown and link.target in shown:
            out.write(
                f"  {nodes[link.source].key} -> {nodes[link.target].key} "
                f"[tooltip={dot_string(link.kind)}, {EDGE_STYLE[link.kind]}];\n"
            )
    out.write("}\n")
