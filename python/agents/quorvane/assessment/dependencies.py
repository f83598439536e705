"""The dependency graph of a code base's objects: which defined objects each
unit reads, writes and calls, the names defined nowhere, the cycles, and an
order to convert the units in, dependencies first.

Names match ignoring letter case (``str.casefold``).  A one-part name
matches a defined object of that name, preferring the ``dbo`` schema (or an
object defined without a schema), then a unique match in any schema; a
three- or four-part name also matches by its last two parts.

A name defined more than once (in two files, or twice in one) resolves to
one definition: the first, by path and line, that is not in a folder or file
whose name says test, demo, example or sample; failing that, the first of
all.  The redefinitions are listed in ``Graph.duplicates``.
"""

from __future__ import annotations

import graphlib
import heapq
import re
from collections import defaultdict
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field

from agents.quorvane.inventory import SqlObject

REFERENCE_KINDS = ("reads", "writes", "calls")
# Probable references found in the SQL a unit executes: edges of this kind
# are guesses, left out of the cycles and the order.
DYNAMIC = "dynamic"
# Kinds that nothing references by name.
UNREFERENCED_KINDS = frozenset({"batch", "index", "trigger"})
SYSTEM_SCHEMAS = frozenset({"sys", "information_schema"})
SYSTEM_DATABASES = frozenset({"master", "msdb", "tempdb", "model"})
DEFAULT_SCHEMA = "dbo"
# Each platform's own catalogs: schemas (a name's next-to-last part or its
# first), and prefixes of relation names (last part).
PLATFORM_SYSTEM_SCHEMAS = {
    "postgresql": frozenset({"pg_catalog", "pg_toast"}),
    "redshift": frozenset({"pg_catalog"}),
    "mysql": frozenset({"mysql", "performance_schema", "sys"}),
    "oracle": frozenset({"sys", "system"}),
    "teradata": frozenset({"dbc"}),
    "snowflake": frozenset({"snowflake", "account_usage"}),
}
PLATFORM_SYSTEM_PREFIXES = {
    "postgresql": ("pg_",),
    "redshift": ("pg_", "stl_", "stv_", "svl_", "svv_", "sys_"),
    "oracle": ("dba_", "all_", "user_", "v$", "gv$"),
}
PLATFORM_SYSTEM_NAMES = {"oracle": frozenset({"dual"})}
# A folder or file name that says the script is not the code base's own.
NOT_PRODUCTION = re.compile(r"(?<![a-z])(?:tests?|demos?|examples?|samples?)(?![a-z])")


@dataclass(frozen=True)
class Unit:
    """One unit of one file, with its complexity level, the platform its
    file was read as (None: unknown) and its effective lines (None: not
    counted)."""

    path: str
    obj: SqlObject
    complexity: str
    platform: str | None = None
    effective_lines: int | None = None


@dataclass(frozen=True)
class Edge:
    source: int  # index of the referencing unit
    target: int  # index of the defined object
    kind: str  # "reads", "writes", "calls" or "dynamic"
    name: str  # the name as the source wrote it

    @property
    def confidence(self) -> str:
        return "dynamic" if self.kind == DYNAMIC else "exact"


@dataclass
class Missing:
    name: str  # first spelling seen
    kinds: set[str] = field(default_factory=set)
    referenced_by: list[int] = field(default_factory=list)

    @property
    def confidence(self) -> str:
        """ "dynamic" for a name found only in executed SQL text."""
        return "dynamic" if self.kinds == {DYNAMIC} else "exact"


@dataclass(frozen=True)
class Duplicate:
    """A name defined by more than one unit: the definitions, in path and
    line order, the one references resolve to first."""

    name: str
    kind: str
    definitions: list[int]


@dataclass(frozen=True)
class Graph:
    units: Sequence[Unit]
    edges: list[Edge]
    missing: list[Missing]
    cycles: list[list[int]]  # each sorted by path and line
    order: list[list[int]]  # groups: one unit, or one cycle
    duplicates: list[Duplicate] = field(default_factory=list)


def _parts(name: str) -> list[str]:
    return name.casefold().split(".")


def is_system_name(name: str, kind: str, platform: str | None = None) -> bool:
    """Names of the server's own objects, left out of the missing list: SQL
    Server's in every dialect, ``information_schema`` in any position, and
    the catalogs of ``platform`` (of every platform when it is None)."""
    parts = _parts(name)
    if "information_schema" in parts:
        return True
    if len(parts) >= 2 and parts[-2] in SYSTEM_SCHEMAS:
        return True
    if parts[0] in SYSTEM_SCHEMAS and len(parts) >= 2:
        return True
    if len(parts) >= 3 and parts[0] in SYSTEM_DATABASES:
        return True
    if len(parts) == 2 and parts[0] in SYSTEM_DATABASES and parts[1] == "":
        return True
    last = parts[-1]
    if last.startswith(("sp_", "xp_")):
        return True
    platforms = PLATFORM_SYSTEM_SCHEMAS.keys() | PLATFORM_SYSTEM_PREFIXES.keys() if platform is None else (platform,)
    for p in platforms:
        schemas = PLATFORM_SYSTEM_SCHEMAS.get(p, frozenset())
        if parts[0] in schemas or (len(parts) >= 2 and parts[-2] in schemas):
            return True
        if last.startswith(PLATFORM_SYSTEM_PREFIXES.get(p, ())) or last in PLATFORM_SYSTEM_NAMES.get(p, ()):
            return True
    return platform is None and last in PLATFORM_SYSTEM_NAMES["oracle"]


def not_production(path: str) -> bool:
    """Whether a folder or the file of ``path`` is named for tests, demos,
    examples or samples."""
    return any(NOT_PRODUCTION.search(part) for part in re.split(r"[\\/]", path.casefold()))


class _Names:
    """The defined objects by name: one definition per name."""

    def __init__(self, units: Sequence[Unit]) -> None:
        self.units = units
        # Every definition of each name, then only the preferred one.
        defined: dict[str, list[int]] = defaultdict(list)
        for i, u in enumerate(units):
            if u.obj.kind in UNREFERENCED_KINDS or not u.obj.name:
                continue
            defined[self.key(u.obj.name) or ""].append(i)
        rank = {i: (not_production(u.path), u.path, u.obj.start_line, i) for i, u in enumerate(units)}
        self.defined = defined
        self.chosen = {key: min(found, key=rank.__getitem__) for key, found in defined.items()}
        self.qualified: dict[str, list[int]] = defaultdict(list)
        self.by_last: dict[str, list[int]] = defaultdict(list)
        for i in sorted(self.chosen.values()):
            parts = _parts(units[i].obj.name or "")
            self.qualified[".".join(parts)].append(i)
            if len(parts) == 1:
                self.qualified[f"{DEFAULT_SCHEMA}.{parts[0]}"].append(i)
            self.by_last[parts[-1]].append(i)

    def duplicates(self) -> list[Duplicate]:
        out = []
        for key, found in self.defined.items():
            by_kind: dict[str, list[int]] = defaultdict(list)
            for i in found:
                by_kind[self.units[i].obj.kind].append(i)
            chosen = self.chosen[key]
            for kind, group in by_kind.items():
                if len(group) > 1:
                    position = {i: (i != chosen, self.units[i].path, self.units[i].obj.start_line, i) for i in group}
                    ordered = sorted(group, key=position.__getitem__)
                    out.append(Duplicate(self.units[ordered[0]].obj.name or "", kind, ordered))
        out.sort(key=lambda d: (d.name.casefold(), d.kind))
        return out

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
        for kind in (*REFERENCE_KINDS, DYNAMIC):
            referenced = getattr(u.obj, "dynamic_references", ()) if kind == DYNAMIC else getattr(u.obj, kind)
            for name in referenced:
                targets = names.resolve(name)
                if not targets:
                    if not is_system_name(name, kind, u.platform) and not (
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
                    if (t == i and kind not in ("calls", DYNAMIC)) or (t != i and own == names.key(units[t].obj.name)):
                        continue
                    if (i, t, kind) not in seen_edges:
                        seen_edges.add((i, t, kind))
                        edges.append(Edge(i, t, kind, name))
    successors: list[list[int]] = [[] for _ in units]
    for e in edges:
        if e.kind != DYNAMIC:
            successors[e.source].append(e.target)
    components = strongly_connected_components(len(units), successors)
    position = {i: (u.path, u.obj.start_line, i) for i, u in enumerate(units)}
    cycles = []
    for comp in components:
        if len(comp) > 1 or comp[0] in successors[comp[0]]:
            cycles.append(sorted(comp, key=position.__getitem__))
    cycles.sort(key=lambda c: position[c[0]])
    order = conversion_order(components, successors, position)
    missing_list = sorted(missing.values(), key=lambda m: m.name.casefold())
    return Graph(units, edges, missing_list, cycles, order, names.duplicates())


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
