"""The nodes and links of the dependency graph as the DOT graph and the HTML
pages draw them: every object, and every name defined nowhere.

A node's label is shortened in the middle, never at the end, so that a
name keeps its last part and a batch its file name and line.  Each node
knows its schema and folder (the clusters), and its layer: 0 for what
depends on nothing, else one more than the highest layer it depends on,
computed along the conversion order, so that a cycle shares one layer.
"""

from __future__ import annotations

from collections import deque
from collections.abc import Iterable, Sequence
from dataclasses import dataclass

from agents.quorvane.assessment.dependencies import DYNAMIC, Graph
from agents.quorvane.writers.spelling import shorten_middle

# Characters a node's label keeps (the page's boxes and DOT's alike).
LABEL_WIDTH = 32
MIN_NAME_ROOM = 16
DETAIL_WIDTH = 48
BATCH = "batch"
MISSING = "missing"
MISSING_SUFFIX = " (missing)"
NO_SCHEMA = "(no schema)"
BATCHES = "(batches)"
MISSING_FOLDER = "(missing)"


@dataclass(frozen=True)
class Node:
    key: str  # "n<id>" for an object, "m<index>" for a missing name
    kind: str  # the object's kind, "batch", or "missing"
    name: str  # the name as written ("" for a batch)
    label: str  # shortened in the middle
    title: tuple[str, str]  # in full: kind and name; path and line (or the references)
    detail: str  # a second line for DOT: path:line, a batch's folder, or ""
    complexity: str  # "" for a missing name
    schema: str
    folder: str
    layer: int
    in_cycle: bool


@dataclass(frozen=True)
class Link:
    source: int  # index into the node list: the dependent
    target: int  # the dependency
    kind: str  # "reads", "writes", "calls", "dynamic" or "missing"


def short_label(kind: str, name: str) -> str:
    """``kind name`` in LABEL_WIDTH characters: the name is shortened in
    the middle, so that its schema's start and its last part stay; the kind
    stays whole unless it leaves the name too little room."""
    room = LABEL_WIDTH - len(kind) - 1
    if room < MIN_NAME_ROOM:
        return shorten_middle(f"{kind} {name}", LABEL_WIDTH)
    return f"{kind} {shorten_middle(name, room)}"


def base_name(path: str) -> str:
    return path.replace("\\", "/").rsplit("/", 1)[-1]


def folder_of(path: str) -> str:
    parts = path.replace("\\", "/").rsplit("/", 1)
    return (parts[0] or "/") if len(parts) == 2 else "."


def schema_of(name: str) -> str:
    """The schema part of a name (its next-to-last part), NO_SCHEMA for a
    one-part name."""
    parts = name.split(".")
    return parts[-2] if len(parts) >= 2 and parts[-2] else NO_SCHEMA


def layers(graph: Graph) -> list[int]:
    """The layer of every object, in conversion order: dependencies first,
    so each group's dependencies already have theirs."""
    depends: list[set[int]] = [set() for _ in graph.units]
    for e in graph.edges:
        if e.kind != DYNAMIC and e.source != e.target:
            depends[e.source].add(e.target)
    layer = [0] * len(graph.units)
    for group in graph.order:
        members = set(group)
        below = [layer[t] for i in group for t in depends[i] if t not in members]
        value = 1 + max(below) if below else 0
        for i in group:
            layer[i] = value
    return layer


def nodes_and_links(graph: Graph) -> tuple[list[Node], list[Link]]:
    """Every object (in id order), then every missing name, and the links
    between them."""
    layer = layers(graph)
    in_cycle = {i for c in graph.cycles for i in c}
    nodes: list[Node] = []
    for i, u in enumerate(graph.units):
        o = u.obj
        where = f"{u.path}:{o.start_line}"
        folder = folder_of(u.path)
        if o.kind == BATCH:
            full = f"batch {base_name(u.path)}:{o.start_line}"
            label = shorten_middle(full, LABEL_WIDTH)
            detail = "" if folder == "." else shorten_middle(folder, DETAIL_WIDTH)
            schema = BATCHES
        else:
            full = f"{o.kind} {o.name or ''}"
            label = short_label(o.kind, o.name or "")
            detail = shorten_middle(where, DETAIL_WIDTH)
            schema = schema_of(o.name or "")
        nodes.append(
            Node(
                f"n{i}",
                o.kind,
                o.name or "",
                label,
                (full, where),
                detail,
                u.complexity,
                schema,
                folder,
                layer[i],
                i in in_cycle,
            )
        )
    links = [Link(e.source, e.target, e.kind) for e in graph.edges if e.source != e.target]
    for k, m in enumerate(graph.missing):
        full = m.name + MISSING_SUFFIX
        users = len(m.referenced_by)
        nodes.append(
            Node(
                f"m{k}",
                MISSING,
                m.name,
                shorten_middle(m.name, LABEL_WIDTH - len(MISSING_SUFFIX)) + MISSING_SUFFIX,
                (full, f"referenced by {users} object{'s' if users != 1 else ''}"),
                "",
                "",
                schema_of(m.name),
                MISSING_FOLDER,
                0,
                False,
            )
        )
        links.extend(Link(src, len(nodes) - 1, MISSING) for src in m.referenced_by)
    return nodes, links


def _name_key(name: str) -> str:
    """A name folded, without a leading ``dbo.`` (the default schema)."""
    parts = name.casefold().split(".")
    return ".".join(parts[1:] if len(parts) == 2 and parts[0] == "dbo" else parts)


def find_nodes(nodes: Sequence[Node], name: str) -> list[int]:
    """The nodes named ``name``, ignoring letter case and a ``dbo.``:
    objects and missing names; failing those, for a one-part name, the
    names of any schema that end in that part."""
    wanted = _name_key(name)
    exact = [k for k, n in enumerate(nodes) if n.name and _name_key(n.name) == wanted]
    if exact or "." in wanted:
        return exact
    return [k for k, n in enumerate(nodes) if n.name and _name_key(n.name).rsplit(".", 1)[-1] == wanted]


def neighbourhood(count: int, links: Iterable[Link], seeds: Iterable[int], depth: int) -> set[int]:
    """The nodes at most ``depth`` links from a seed, following links down
    (to what the seeds depend on) and, separately, up (to what depends on
    them)."""
    down: list[list[int]] = [[] for _ in range(count)]
    up: list[list[int]] = [[] for _ in range(count)]
    for link in links:
        down[link.source].append(link.target)
        up[link.target].append(link.source)
    start = set(seeds)
    found = set(start)
    for step in (down, up):
        seen = set(start)
        frontier = deque((s, 0) for s in start)
        while frontier:
            node, hops = frontier.popleft()
            if hops == depth:
                continue
            for nxt in step[node]:
                if nxt not in seen:
                    seen.add(nxt)
                    frontier.append((nxt, hops + 1))
        found |= seen
    return found
