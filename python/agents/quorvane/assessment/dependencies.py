"""The dependency graph of a code base's objects: which defined objects each
unit reads, writes and calls, the names defined nowhere, the cycles, and an
order to convert the units in, dependencies first.

Names match ignoring letter case (``str.casefold``).  A one-part name
matches a defined object of that name, preferring the ``dbo`` schema (or an
object defined without a schema), then a unique match in any schema; a
three- or four-part name also matches by its last two parts.
"""

from __future__ import annotations

import graphlib
import heapq
from collections import defaultdict
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field

from agents.quorvane.inventory import SqlObject

REFERENCE_KINDS = ("reads", "writes", "calls")
# Kinds that nothing references by name.
UNREFERENCED_KINDS = frozenset({"batch", "index", "trigger"})
SYSTEM_SCHEMAS = frozenset({"sys", "information_schema"})
SYSTEM_DATABASES = frozenset({"master", "msdb", "tempdb", "model"})
DEFAULT_SCHEMA = "dbo"


@dataclass(frozen=True)
class Unit:
    """One unit of one file, with its complexity level."""

    path: str
    obj: SqlObject
    complexity: str


@dataclass(frozen=True)
class Edge:
    source: int  # index of the referencing unit
    target: int  # index of the defined object
    kind: str  # "reads", "writes" or "calls"
    name: str  # the name as the source wrote it


@dataclass
class Missing:
    name: str  # first spelling seen
    kinds: set[str] = field(default_factory=set)
    referenced_by: list[int] = field(default_factory=list)


@dataclass(frozen=True)
class Graph:
    units: Sequence[Unit]
    edges: list[Edge]
    missing: list[Missing]
    cycles: list[list[int]]  # each sorted by path and line
    order: list[list[int]]  # groups: one unit, or one cycle


def _parts(name: str) -> list[str]:
    return name.casefold().split(".")


def is_system_name(name: str, kind: str) -> bool:
    """Names of the server's own objects, left out of the missing list."""
    parts = _parts(name)
    if len(parts) >= 2 and parts[-2] in SYSTEM_SCHEMAS:
        return True
    if parts[0] in SYSTEM_SCHEMAS and len(parts) >= 2:
        return True
    if len(parts) >= 3 and parts[0] in SYSTEM_DATABASES:
        return True
    if len(parts) == 2 and parts[0] in SYSTEM_DATABASES and parts[1] == "":
        return True
    last = parts[-1]
    return last.startswith(("sp_", "xp_"))


class _Names:
    """The defined objects by name."""

    def __init__(self, units: Sequence[Unit]) -> None:
        self.qualified: dict[str, list[int]] = defaultdict(list)
        self.by_last: dict[str, list[int]] = defaultdict(list)
        for i, u in enumerate(units):
            if u.obj.kind in UNREFERENCED_KINDS or not u.obj.name:
                continue
            parts = _parts(u.obj.name)
            self.qualified[".".join(parts)].append(i)
            if len(parts) == 1:
                self.qualified[f"{DEFAULT_SCHEMA}.{parts[0]}"].append(i)
            self.by_last[parts[-1]].append(i)
        self.units = units

    @staticmethod
    def key(name: str | None) -> str | None:
        """A defined name as it is looked up: folded, one-part names in the
        default schema."""
        if not name:
            return None
        parts = _parts(name)
        return ".".join([DEFAULT_SCHEMA, *parts] if len(parts) == 1 else parts)

    def resolve(self, name: str) -> list[int]:
        parts = _parts(name)
        if len(parts) == 1:
            found = self.qualified.get(f"{DEFAULT_SCHEMA}.{parts[0]}")
            if found:
                return found
            candidates = self.by_last.get(parts[0], [])
            schemas = {
                _parts(self.units[i].obj.name or "")[-2] for i in candidates if "." in (self.units[i].obj.name or "")
            }
            return candidates if len(schemas) == 1 else []
        found = self.qualified.get(".".join(parts))
        if not found and len(parts) >= 3:
            found = self.qualified.get(".".join(parts[-2:]))
        return found or []


def build_graph(units: Sequence[Unit]) -> Graph:
    names = _Names(units)
    edges: list[Edge] = []
    missing: dict[str, Missing] = {}
    seen_edges: set[tuple[int, int, str]] = set()
    for i, u in enumerate(units):
        for kind in REFERENCE_KINDS:
            for name in getattr(u.obj, kind):
                targets = names.resolve(name)
                if not targets:
                    if not is_system_name(name, kind) and not (
                        len(_parts(name)) == 1 and names.by_last.get(_parts(name)[0])
                    ):
                        entry = missing.setdefault(name.casefold(), Missing(name))
                        entry.kinds.add(kind)
                        if not entry.referenced_by or entry.referenced_by[-1] != i:
                            entry.referenced_by.append(i)
                    continue
                own = names.key(u.obj.name)
                for t in targets:
                    # A table's own definition writing it, or an object
                    # reading itself, is no dependency; a routine calling
                    # itself is.  Nor does one definition of a name depend
                    # on another of the same name (a script run twice, a
                    # CREATE and a later ALTER).
                    if (t == i and kind != "calls") or (t != i and own == names.key(units[t].obj.name)):
                        continue
                    if (i, t, kind) not in seen_edges:
                        seen_edges.add((i, t, kind))
                        edges.append(Edge(i, t, kind, name))
    successors: list[list[int]] = [[] for _ in units]
    for e in edges:
        successors[e.source].append(e.target)
    components = strongly_connected_components(len(units), successors)
    position = {i: (u.path, u.obj.start_line, i) for i, u in enumerate(units)}
    cycles = []
    for comp in components:
        if len(comp) > 1 or comp[0] in successors[comp[0]]:
            cycles.append(sorted(comp, key=position.__getitem__))
    cycles.sort(key=lambda c: position[c[0]])
    order = conversion_order(components, successors, position)
    return Graph(units, edges, sorted(missing.values(), key=lambda m: m.name.casefold()), cycles, order)


def strongly_connected_components(n: int, successors: Sequence[Sequence[int]]) -> list[list[int]]:
    """Tarjan's algorithm without recursion: the components, each a list of
    nodes, in reverse topological order of the condensation."""
    index = [-1] * n
    low = [0] * n
    on_stack = [False] * n
    stack: list[int] = []
    out: list[list[int]] = []
    counter = 0
    for root in range(n):
        if index[root] >= 0:
            continue
        work = [(root, 0)]
        index[root] = low[root] = counter
        counter += 1
        stack.append(root)
        on_stack[root] = True
        while work:
            node, k = work[-1]
            succ = successors[node]
            if k < len(succ):
                work[-1] = (node, k + 1)
                nxt = succ[k]
                if index[nxt] < 0:
                    index[nxt] = low[nxt] = counter
                    counter += 1
                    stack.append(nxt)
                    on_stack[nxt] = True
                    work.append((nxt, 0))
                elif on_stack[nxt]:
                    low[node] = min(low[node], index[nxt])
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                comp = []
                while True:
                    w = stack.pop()
                    on_stack[w] = False
                    comp.append(w)
                    if w == node:
                        break
                out.append(comp)
    return out


def conversion_order(
    components: Iterable[list[int]], successors: Sequence[Sequence[int]], position: dict[int, tuple[str, int, int]]
) -> list[list[int]]:
    """Groups of units, each after everything it depends on; a cycle is one
    group.  Among the groups ready at a time, the first by path and line
    comes first."""
    comps = [sorted(c, key=position.__getitem__) for c in components]
    of = {}
    for ci, comp in enumerate(comps):
        for node in comp:
            of[node] = ci
    sorter: graphlib.TopologicalSorter[int] = graphlib.TopologicalSorter()
    for ci, comp in enumerate(comps):
        sorter.add(ci)
        for node in comp:
            for t in successors[node]:
                if of[t] != ci:
                    sorter.add(ci, of[t])  # ci depends on the component of t
    sorter.prepare()
    heap: list[tuple[tuple[str, int, int], int]] = []
    order: list[list[int]] = []
    while sorter.is_active():
        for ci in sorter.get_ready():
            heapq.heappush(heap, (position[comps[ci][0]], ci))
        _, ci = heapq.heappop(heap)
        order.append(comps[ci])
        sorter.done(ci)
    return order
