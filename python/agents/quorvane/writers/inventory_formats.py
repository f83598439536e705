"""The output formats of ``quorvane inventory``: one JSON document, CSV with
one row per object, and a Graphviz DOT graph."""

from __future__ import annotations

import csv
import json
from collections.abc import Sequence
from typing import Any, TextIO

from agents.quorvane.assessment.dependencies import Graph

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
    "id", "path", "kind", "name", "start_line", "end_line", "complexity", "order", "cycle", "depends_on",
    "reads", "writes", "calls", "temp_tables", "dynamic_sql",
)  # fmt: skip


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
        w.writerow([
            i, u.path, o.kind, o.name or "", o.start_line, o.end_line, u.complexity, position[i],
            cycle_of.get(i, ""), " ".join(map(str, sorted(depends.get(i, ())))),
            "; ".join(o.reads), "; ".join(o.writes), "; ".join(o.calls), "; ".join(o.temp_tables),
            "true" if o.dynamic_sql else "false",
        ])  # fmt: skip


def dot_string(s: str) -> str:
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def node_label(graph: Graph, i: int) -> str:
    u = graph.units[i]
    return f"{u.obj.kind} {u.obj.name or ''}\n{u.path}:{u.obj.start_line}"


LEVEL_FILL = {"simple": "#dff3e7", "moderate": "#fbeed3", "complex": "#f8dcdb"}
EDGE_STYLE = {"reads": "color=\"#5b7bd5\"", "writes": "color=\"#d9534f\"", "calls": "color=\"#333333\" style=bold",
              "dynamic": "color=\"#999999\" style=dotted"}  # fmt: skip


def write_dot(graph: Graph, errors: Errors, out: TextIO) -> None:
    """Objects that take part in an edge, or are missing, as a directed graph
    from each object to what it depends on."""
    in_cycle = {i for c in graph.cycles for i in c}
    shown = {e.source for e in graph.edges} | {e.target for e in graph.edges}
    out.write("digraph inventory {\n  rankdir=LR;\n  node [shape=box, style=filled, fontname=\"Helvetica\"];\n")
    for i in sorted(shown):
        extra = ", color=\"#d9534f\", penwidth=2" if i in in_cycle else ""
        fill = LEVEL_FILL.get(graph.units[i].complexity, "#eeeeee")
        out.write(f"  n{i} [label={dot_string(node_label(graph, i))}, fillcolor=\"{fill}\"{extra}];\n")
    for m_index, m in enumerate(graph.missing):
        out.write(f"  m{m_index} [label={dot_string(m.name + ' (missing)')}, style=dashed];\n")
    for e in graph.edges:
        out.write(f"  n{e.source} -> n{e.target} [label={dot_string(e.kind)}, {EDGE_STYLE[e.kind]}];\n")
    for m_index, m in enumerate(graph.missing):
        for src in m.referenced_by:
            if src not in shown:
                out.write(f"  n{src} [label={dot_string(node_label(graph, src))}];\n")
                shown.add(src)
            out.write(f"  n{src} -> m{m_index} [style=dashed];\n")
    out.write("}\n")
