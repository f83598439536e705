"""Work packets: one per object of a code base, in conversion order, each
holding what a converting agent needs for that object alone — its exact
source, its grade and turn budgets, the shapes of what it reads, writes and
calls, the temporary tables it builds, the knowledge-base sections for its
constructs, and its hotspots.

``build_packets(files)`` takes ``(path, text)`` pairs of decoded scripts and
yields :class:`Packet` records, dependencies before their dependents.  A
packet larger than the token budget is cut into parts along the object's
reading-plan sections, or at statement boundaries, never inside a statement.
"""

from __future__ import annotations

import bisect
import hashlib
import json
import re
from collections.abc import Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass, replace
from itertools import accumulate, repeat
from os import PathLike
from pathlib import Path
from typing import Any

from agents.quorvane import complexity, inventory, loresift, platform_detect
from agents.quorvane.assessment.dependencies import (
    REFERENCE_KINDS,
    Graph,
    Unit,
    build_graph,
    is_system_name,
)
from agents.quorvane.assessment.lines import unit_bodies
from agents.quorvane.tokens import estimate_tokens

__all__ = ["DEFAULT_BUDGET", "Packet", "build_packets", "read_knowledge_base"]

DEFAULT_BUDGET = 12000
# An object longer than this many lines gets its own reading plan.
PLAN_MIN_LINES = 500
# The share of the budget a part's source may always take, however large
# the header.
MIN_SOURCE_SHARE = 4
KB_FILES = {"mapping": "mapping.md", "gotchas": "gotchas.md"}
ROUTINE_KINDS = frozenset({"procedure", "function"})
SHAPED_KINDS = frozenset({"table", "view", "type"})


@dataclass(frozen=True)
class Packet:
    """One object (or one part of one) with its context.  Field meanings are
    in the README ("Work packets"); ``as_json`` and ``as_markdown`` render it."""

    id: str
    order: int
    group: str | None
    part: int
    parts: int
    object: Mapping[str, Any]
    lines: tuple[int, int]  # the file lines this packet's source holds
    source: str
    grade: Mapping[str, Any]
    reading_plan: Mapping[str, Any] | None
    platform: str | None
    categories: tuple[str, ...]
    hotspots: tuple[Mapping[str, Any], ...]
    dynamic_sql: bool
    dynamic_references: tuple[str, ...]
    dependencies: tuple[Mapping[str, Any], ...]
    local_tables: tuple[Mapping[str, Any], ...]
    knowledge: Mapping[str, Any]
    tokens: int

    def to_dict(self) -> dict[str, Any]:
        return {
            "id": self.id,
            "order": self.order,
            "group": self.group,
            "part": self.part,
            "parts": self.parts,
            "object": dict(self.object),
            "lines": list(self.lines),
            "source": self.source,
            "grade": dict(self.grade),
            "reading_plan": None if self.reading_plan is None else dict(self.reading_plan),
            "platform": self.platform,
            "categories": list(self.categories),
            "hotspots": [dict(h) for h in self.hotspots],
            "dynamic_sql": self.dynamic_sql,
            "dynamic_references": list(self.dynamic_references),
            "dependencies": [dict(d) for d in self.dependencies],
            "local_tables": [dict(t) for t in self.local_tables],
            "knowledge": dict(self.knowledge),
            "tokens": self.tokens,
        }

    def as_json(self) -> str:
        """The packet as one line of JSON."""
        return json.dumps(self.to_dict(), ensure_ascii=False, separators=(",", ":"))

    def as_markdown(self) -> str:
        """The packet as a prompt: a header of facts, the dependencies'
        shapes, the knowledge excerpts, then the numbered source."""
        return _header_markdown(self) + _source_markdown(self.source, self.lines[0])


# --- the knowledge base ---------------------------------------------------------


def read_knowledge_base(directory: str | PathLike[str]) -> dict[str, str]:
    """The mapping guide and gotchas of a knowledge-base directory
    (``mapping.md``, ``gotchas.md``, UTF-8), as ``build_packets`` takes them."""
    folder = Path(directory)
    return {key: (folder / name).read_text(encoding="utf-8") for key, name in KB_FILES.items()}


def _titles(categories: Sequence[str], always: Sequence[str], table: Mapping[str, Sequence[str]]) -> list[str]:
    wanted = [*always, *(t for c in sorted(categories) for t in table.get(c, ()))]
    return list(dict.fromkeys(wanted))


class _Knowledge:
    """The knowledge of each set of categories, selected once."""

    def __init__(self, kb: Mapping[str, str] | None) -> None:
        self.kb = kb
        self.cache: dict[tuple[str, ...], dict[str, Any]] = {}

    def of(self, categories: tuple[str, ...]) -> dict[str, Any]:
        found = self.cache.get(categories)
        if found is None:
            found = {
                "mapping": _titles(categories, loresift.ALWAYS_INCLUDE_MAPPING, loresift.CONSTRUCT_TO_MAPPING_SECTIONS),
                "gotchas": _titles(categories, loresift.ALWAYS_INCLUDE_GOTCHAS, loresift.CONSTRUCT_TO_GOTCHA_SECTIONS),
            }
            if self.kb is not None:
                selected = loresift.select_knowledge(
                    set(categories), full_mapping=self.kb.get("mapping", ""), full_gotchas=self.kb.get("gotchas", "")
                )
                found["text"] = {"mapping": selected["mapping"], "gotchas": selected["gotchas"]}
            self.cache[categories] = found
        return found


# --- one file -----------------------------------------------------------------------


@dataclass(frozen=True)
class _Scanned:
    """One unit of one file, with what the packet needs of its own text."""

    unit: Unit
    body: str
    platform: str | None
    grade: Mapping[str, Any]


def _split_objects(text: str, platform: str | None) -> tuple[Any, ...]:
    try:
        return tuple(inventory.split_objects(text, platform=platform))
    except ValueError:  # a platform the inventory has no dialect for
        return tuple(inventory.split_objects(text))


def scan_file(path: str, text: str, platform: str | None = None) -> list[_Scanned]:
    """The units of one file, each graded on its own lines; the file's
    platform is ``platform`` when given, else the detected one."""
    if platform is None:
        platform = platform_detect.detect_platform(text).platform
    objects = _split_objects(text, platform)
    out = []
    for obj, body in zip(objects, unit_bodies(text, objects)):
        grade = _grade(body)
        out.append(_Scanned(Unit(path, obj, grade["complexity"], platform), body, platform, grade))
    return out


# --- the code base --------------------------------------------------------------------


def _key(name: str) -> str:
    parts = name.casefold().split(".")
    return ".".join(["dbo", *parts] if len(parts) == 1 else parts)


def _packet_ids(units: Sequence[Unit], preferred_first: Iterable[int]) -> list[str]:
    """``kind:name`` for named objects, ``path#line`` for batches; where a
    name is defined more than once, the definition the code base resolves
    it to keeps ``kind:name`` and the others add ``@path#line``."""
    ids: list[str | None] = [None] * len(units)
    taken: set[str] = set()
    later = set(preferred_first)

    def base(u: Unit) -> str:
        return f"{u.obj.kind}:{u.obj.name}" if u.obj.name else f"{u.path}#{u.obj.start_line}"

    for i, u in enumerate(units):
        if i not in later and base(u).casefold() not in taken:
            ids[i] = base(u)
            taken.add(base(u).casefold())
    for i, u in enumerate(units):
        if ids[i] is None:
            candidate, n = f"{base(u)}@{u.path}#{u.obj.start_line}", 1
            while candidate.casefold() in taken:
                n += 1
                candidate = f"{base(u)}@{u.path}#{u.obj.start_line}~{n}"
            taken.add(candidate.casefold())
            ids[i] = candidate
    return [i for i in ids if i is not None]


def _columns(columns: Iterable[Any]) -> list[dict[str, str]]:
    return [{"name": c.name, "type": c.type} for c in columns]


def _parameters(parameters: Iterable[Any]) -> list[dict[str, Any]]:
    return [{"name": p.name, "type": p.type, "default": p.default, "mode": p.mode} for p in parameters]


class _CodeBase:
    """The graph of every unit, and what packets say about each."""

    def __init__(self, scanned: Sequence[_Scanned]) -> None:
        self.scanned = scanned
        units = [s.unit for s in scanned]
        self.graph: Graph = build_graph(units)
        # The definitions a duplicated name does not resolve to.
        self.ids = _packet_ids(units, (i for d in self.graph.duplicates for i in d.definitions[1:]))
        self.position: dict[int, int] = {}
        self.group: dict[int, str] = {}
        for n, cycle in enumerate(self.graph.cycles, 1):
            for i in cycle:
                self.group[i] = f"cycle-{n}"
        for group in self.graph.order:
            for i in group:
                self.position[i] = len(self.position) + 1
        self.targets: dict[tuple[int, str, str], int] = {}
        for e in self.graph.edges:
            self.targets.setdefault((e.source, e.kind, e.name.casefold()), e.target)
        self.missing = {m.name.casefold() for m in self.graph.missing}
        self.shapes: dict[int, dict[str, Any]] = {}
        # ALTER TABLE … ADD anywhere in the code base adds to the table's
        # columns (to every definition of its name).
        tables: dict[str, list[int]] = {}
        for i, u in enumerate(units):
            if u.obj.kind == "table" and u.obj.name:
                tables.setdefault(_key(u.obj.name), []).append(i)
        self.added: dict[int, list[Any]] = {}
        for u in units:
            for change in u.obj.added_columns:
                for t in tables.get(_key(change.table), ()):
                    self.added.setdefault(t, []).extend(change.columns)

    def status(self, i: int, target: int) -> str:
        if target == i or (i in self.group and self.group.get(target) == self.group[i]):
            return "same_group"
        return "earlier" if self.position[target] < self.position[i] else "later"

    def columns(self, i: int) -> list[dict[str, str]]:
        """A unit's columns, with those added to it by ALTER TABLE."""
        own = list(self.scanned[i].unit.obj.columns)
        seen = {c.name.casefold() for c in own}
        for c in self.added.get(i, ()):
            if c.name.casefold() not in seen:
                seen.add(c.name.casefold())
                own.append(c)
        return _columns(own)

    def describe(self, target: int) -> dict[str, Any]:
        """Where a dependency is defined and its shape (made once per
        target, shared by the entries that name it)."""
        out = self.shapes.get(target)
        if out is None:
            u = self.scanned[target].unit
            out = {"kind": u.obj.kind, "defined_at": f"{u.path}:{u.obj.start_line}"}
            if u.obj.kind in SHAPED_KINDS:
                out["columns"] = self.columns(target)
            if u.obj.kind in ROUTINE_KINDS:
                out["parameters"] = _parameters(u.obj.parameters)
                out["returns"] = u.obj.returns
            self.shapes[target] = out
        return out

    def dependencies(self, i: int) -> list[dict[str, Any]]:
        obj = self.scanned[i].unit.obj
        own = _key(obj.name) if obj.name else None
        out: list[dict[str, Any]] = []
        seen: set[tuple[str, str]] = set()
        named = [(kind, name) for kind in REFERENCE_KINDS for name in getattr(obj, kind)]
        named += [("dynamic", name) for name in obj.dynamic_references]
        for edge, name in named:
            folded = name.casefold()
            if (edge, folded) in seen:
                continue
            seen.add((edge, folded))
            target = self.targets.get((i, edge, folded))
            entry: dict[str, Any] = {"name": name, "edge": edge}
            if target is not None:
                entry.update(resolved=self.ids[target], status=self.status(i, target), **self.describe(target))
            elif is_system_name(name, edge, self.scanned[i].platform):
                entry.update(resolved=None, status="system")
            elif folded in self.missing:
                entry.update(resolved=None, status="missing")
            elif own is not None and _key(name) == own:
                continue  # the object itself (a table's own definition), or another definition of it
            else:
                entry.update(resolved=None, status="ambiguous")
            out.append(entry)
        return out


# --- one packet ----------------------------------------------------------------------


def _grade(body: str) -> dict[str, Any]:
    r = complexity.classify_sql(body)
    return {
        "complexity": str(r.complexity),
        "effective_lines": r.effective_lines,
        "stored_proc_count": r.stored_proc_count,
        "complex_construct_count": r.complex_construct_count,
        "moderate_construct_count": r.moderate_construct_count,
        "temp_table_count": r.temp_table_count,
        "cte_count": r.cte_count,
        "analysis_turns": r.recommended_analysis_turns,
        "conversion_turns": r.recommended_conversion_turns,
        "audit_turns": r.recommended_audit_turns,
    }


def _reading_plan(body: str, first_line: int, line_count: int) -> dict[str, Any] | None:
    if line_count <= PLAN_MIN_LINES:
        return None
    plan = complexity.plan_reading_text(body)
    shift = first_line - 1
    return {
        "first_read": [first_line, shift + plan.first_read_lines],
        "sections": [{"start": s + shift, "end": e + shift, "hint": hint} for s, e, hint in plan.section_boundaries],
    }


def _findings(body: str, first_line: int) -> tuple[tuple[str, ...], list[dict[str, Any]]]:
    """The categories of ``body`` and its hotspots (what the classifier
    counts and the categories found, at file line numbers)."""
    categories = loresift.locate_categories(body)
    found = {(line + first_line - 1, kind, name) for line, kind, name in complexity.locate_constructs(body)}
    found.update((line + first_line - 1, kind, name) for line, kind, name in categories)
    hotspots = [{"line": line, "kind": kind, "name": name} for line, kind, name in sorted(found)]
    return tuple(sorted({name for _, _, name in categories})), hotspots


def _whole_packet(base: _CodeBase, i: int, knowledge: _Knowledge) -> Packet:
    s = base.scanned[i]
    obj, body, first = s.unit.obj, s.body, s.unit.obj.start_line
    categories, hotspots = _findings(body, first)
    packet = Packet(
        id=base.ids[i],
        order=base.position[i],
        group=base.group.get(i),
        part=1,
        parts=1,
        object={
            "kind": obj.kind,
            "name": obj.name,
            "path": s.unit.path,
            "start_line": obj.start_line,
            "end_line": obj.end_line,
            "sha256": hashlib.sha256(body.encode("utf-8", "surrogatepass")).hexdigest(),
            "columns": base.columns(i),
            "parameters": _parameters(obj.parameters),
            "returns": obj.returns,
        },
        lines=(first, obj.end_line),
        source=body,
        grade=s.grade,
        reading_plan=_reading_plan(body, first, obj.end_line - first + 1),
        platform=s.platform,
        categories=categories,
        hotspots=tuple(hotspots),
        dynamic_sql=obj.dynamic_sql,
        dynamic_references=obj.dynamic_references,
        dependencies=tuple(base.dependencies(i)),
        local_tables=tuple({"name": t.name, "line": t.line, "columns": _columns(t.columns)} for t in obj.local_tables),
        knowledge=knowledge.of(categories),
        tokens=0,
    )
    return packet


class _Length:
    """Stands for a text of a known length where only its length matters."""

    def __init__(self, n: int) -> None:
        self.n = n

    def __len__(self) -> int:
        return self.n


def _sized(packet: Packet) -> Packet:
    """The packet with its ``tokens``: the estimate of its Markdown, whose
    numbered source is measured rather than built."""
    size = len(_header_markdown(packet)) + _source_markdown_length(packet.source, packet.lines[0])
    return replace(packet, tokens=estimate_tokens(_Length(size)))  # type: ignore[arg-type]


# --- cutting a packet into parts -------------------------------------------------------

# Literals, quoted names and comments, which may span lines and hide
# parentheses.
_HIDDEN = re.compile(
    r"'[^']*(?:''[^']*)*'?|\"[^\"]*(?:\"\"[^\"]*)*\"?|\[[^\]\n]*\]|/\*.*?(?:\*/|\Z)|--[^\n]*", re.DOTALL
)
_RARE_BREAK = re.compile(r"[\x0b\x0c\x1c\x1d\x1e\x85\u2028\u2029]")
# Words that open a statement.
_STARTERS = re.compile(
    r"(?i)(?:declare|if|while|print|raiserror|throw|return|commit|rollback|create|alter|drop|truncate|open|close"
    r"|deallocate|go|use|grant|revoke|exec|execute|insert|update|delete|merge|select|with|set|call|perform)\b"
)
# ... and those of them that continue no statement before them.
_FREE_STARTERS = re.compile(
    r"(?i)(?:declare|if|while|print|raiserror|throw|return|commit|rollback|create|alter|drop|truncate|open|close"
    r"|deallocate|go|use|grant|revoke|call|perform)\b"
)
# What ends a line that the next line continues.
_CONTINUED = re.compile(
    r"(?i)(?:\b(?:then|else|as|union|all|except|intersect|minus|and|or|not|in|into|from|by)|[,(=+\-*/<>)])$"
)
# A line that opens a statement the next line belongs to (IF cond / body).
_CONDITION = re.compile(r"(?i)(?:if|while|else|insert|update|with|when)\b")
_LINE_COMMENT = re.compile(r"\s*--.*$")
# The first word of each line after a line feed.
_FIRST_WORD = re.compile(r"\n[ \t]*(\w+)")
_STARTER_WORDS = frozenset(_STARTERS.pattern.removeprefix("(?i)(?:").removesuffix(")\\b").split("|"))
_SEMICOLON_LINE = re.compile(r"(?m);[ \t]*(?:--[^\n]*)?\n")


def _blank(m: re.Match[str]) -> str:
    """A literal or comment as one blank, with each line it spans."""
    text = m.group()
    if "\n" not in text and "\r" not in text:
        return "\x00"
    return "\x00" + "\n\x00" * (len((text + "x").splitlines()) - 1)


def _blank_any(m: re.Match[str]) -> str:
    """``_blank`` for a text that may break lines with rarer characters."""
    text = m.group()
    return "\x00" + "\n\x00" * (len((text + "x").splitlines()) - 1)


class _Statements:
    """Where statements of a text (split by ``str.splitlines(keepends=True)``)
    may begin: a line outside literals, comments and parentheses, after a
    line ending with ";" or opening with a statement word that continues
    nothing before it.  Lines are judged only when asked about."""

    def __init__(self, lines: Sequence[str]) -> None:
        self.lines = lines
        text = "".join(lines)
        starts = list(accumulate(map(len, lines), initial=0))
        # The lines worth judging: those opening with a statement word, and
        # those after a line ending with ";".
        found = {
            bisect.bisect_right(starts, m.start() + 1) - 1
            for m in _FIRST_WORD.finditer(text)
            if m.group(1).lower() in _STARTER_WORDS
        }
        found.update(bisect.bisect_right(starts, m.end()) - 1 for m in _SEMICOLON_LINE.finditer(text))
        self.candidates = sorted(i for i in found if 0 < i < len(lines))
        # The text with each literal and comment blanked (its line breaks
        # kept): a line starting blank after a line ending blank is inside
        # one; the parentheses left open before a line are its depth.
        code = _HIDDEN.sub(_blank_any if _RARE_BREAK.search(text) else _blank, text).splitlines(keepends=True)
        blanked = "".join(code)
        code_starts = list(accumulate(map(len, code), initial=0))
        self.depth: dict[int, int | None] = {}
        depth = at = 0
        for i in self.candidates:
            if i >= len(code):
                break
            end = code_starts[i]
            depth += blanked.count("(", at, end) - blanked.count(")", at, end)
            at = end
            inside = code[i][:1] == "\x00" and code[i - 1].rstrip("\r\n")[-1:] == "\x00"
            self.depth[i] = None if inside else depth

    def _code(self, i: int) -> str:
        stripped = self.lines[i].strip()
        if stripped.startswith(("--", "/*")):
            return ""
        return _LINE_COMMENT.sub("", stripped) if "--" in stripped else stripped

    def begins(self, i: int) -> bool:
        if self.depth.get(i) != 0:
            return False
        line = self._code(i)
        if not line:
            return False
        p = i - 1
        previous = ""
        while p >= 0 and not previous:
            previous = self._code(p)
            p -= 1
        if previous.endswith(";") or previous.casefold() in ("go", "/"):
            return True
        if not _STARTERS.match(line) or _CONDITION.match(previous):
            return False
        return bool(_FREE_STARTERS.match(line) or not _CONTINUED.search(previous))

    def last_before(self, limit: int, floor: int) -> int | None:
        """The last line in (floor, limit] where a statement begins."""
        k = bisect.bisect_right(self.candidates, limit) - 1
        while k >= 0 and self.candidates[k] > floor:
            if self.begins(self.candidates[k]):
                return self.candidates[k]
            k -= 1
        return None

    def first_after(self, floor: int) -> int | None:
        """The first line after ``floor`` where a statement begins."""
        for i in self.candidates[bisect.bisect_right(self.candidates, floor) :]:
            if self.begins(i):
                return i
        return None


def _parts(packet: Packet, budget: int) -> list[Packet]:
    """The packet cut into parts of at most ``budget`` tokens where the
    statements allow, at its reading plan's sections where it has one."""
    first = packet.lines[0]
    # The characters of a part around its numbered lines (an upper bound:
    # the longest part numbers, the widest line numbers).
    last = packet.lines[1]
    frame = replace(packet, part=len(packet.source), parts=len(packet.source), lines=(last, last), source="")
    around = len(_header_markdown(frame)) + _source_markdown_length("", last) + 2 * (len(_fence(packet.source)) - 3)
    room = max(budget * 4 - around, budget * 4 // MIN_SOURCE_SHARE)  # characters of numbered lines per part
    lines = packet.source.splitlines(keepends=True)
    # The numbered source's characters before each line.
    width = len(str(packet.lines[1])) + 3
    before = list(accumulate(map(len, packet.source.splitlines()), initial=0))

    def cost(i: int) -> int:
        return before[i] + i * width

    statements = _Statements(lines)
    marks = sorted(s["start"] - first for s in packet.reading_plan["sections"]) if packet.reading_plan else []
    cuts: list[int] = []
    cur = 0
    while True:
        limit = bisect.bisect_right(range(len(lines) + 1), cost(cur) + room, key=cost) - 1  # lines[cur:limit] fit
        if limit >= len(lines):
            break
        k = bisect.bisect_right(marks, limit) - 1
        while k >= 0 and marks[k] > cur and not statements.begins(marks[k]):
            k -= 1
        if k >= 0 and marks[k] > cur:
            cut: int | None = marks[k]
        else:
            # The last statement start that fits, else (one statement larger
            # than the room, which stays whole) the next one.
            cut = statements.last_before(limit, cur) or statements.first_after(limit)
        if cut is None:
            break
        cuts.append(cut)
        cur = cut
    if not cuts:
        return [packet]
    bounds = [0, *cuts, len(lines)]
    n = len(bounds) - 1
    out = []
    for p in range(n):
        a, b = bounds[p], bounds[p + 1]
        # Like the whole source, each part ends without its last line's break.
        last = lines[b - 1].splitlines()
        source = "".join(lines[a : b - 1]) + (last[0] if last else "")
        out.append(_sized(replace(packet, part=p + 1, parts=n, lines=(first + a, first + b - 1), source=source)))
    return out


# --- rendering ------------------------------------------------------------------------


def _md_code(text: str) -> str:
    if "`" not in text:
        return f"`{text}`"
    fence = "`" * max(1, max((len(r) for r in re.findall(r"`+", text)), default=0) + 1)
    pad = " " if text.startswith("`") or text.endswith("`") else ""
    return f"{fence}{pad}{text}{pad}{fence}"


def _shape(d: Mapping[str, Any]) -> str:
    parts = []
    if d.get("parameters") is not None:
        params = ", ".join(
            " ".join(x for x in (p["name"], p["type"]) if x)
            + (f" = {p['default']}" if p["default"] is not None else "")
            + ("" if p["mode"] == "in" else f" {p['mode'].upper()}")
            for p in d["parameters"]
        )
        parts.append(f"({params})")
        if d.get("returns"):
            parts.append(f"returns {d['returns']}")
    if d.get("columns"):
        parts.append("columns: " + ", ".join(f"{c['name']} {c['type']}".rstrip() for c in d["columns"]))
    return " ".join(parts)


def _header_markdown(p: Packet) -> str:
    o = p.object
    title = f"{o['kind']} {o['name']}" if o["name"] else f"{o['kind']} at {o['path']}:{o['start_line']}"
    part = f" (part {p.part} of {p.parts})" if p.parts > 1 else ""
    g = p.grade
    out = [f"# {title}{part}", ""]
    facts = [
        f"id: {_md_code(p.id)}; conversion order {p.order}" + (f", cycle {p.group}" if p.group else ""),
        f"file: {_md_code(o['path'])}, lines {o['start_line']}-{o['end_line']}; sha256 {o['sha256']}",
        f"platform: {p.platform or 'unknown'}",
        (
            f"complexity: {g['complexity']} ({g['effective_lines']} effective lines); turns: analysis "
            f"{g['analysis_turns']}, conversion {g['conversion_turns']}, audit {g['audit_turns']}"
        ),
        f"categories: {', '.join(p.categories) or '-'}",
    ]
    own = _shape({**o, "parameters": o["parameters"] if o["kind"] in ROUTINE_KINDS else None})
    if own:
        facts.append(f"defines: {own}")
    if p.dynamic_sql:
        facts.append(
            "runs dynamic SQL"
            + (f"; probable names: {', '.join(p.dynamic_references)}" if p.dynamic_references else "")
        )
    if p.hotspots:
        facts.append("hotspots: " + "; ".join(f"{h['line']} {h['kind']} {h['name']}" for h in p.hotspots))
    out += [f"- {f}" for f in facts]
    if p.dependencies:
        out += ["", "## Dependencies", ""]
        for d in p.dependencies:
            where = f" {d['kind']} at {d['defined_at']}" if "defined_at" in d else ""
            shape = _shape(d)
            out.append(f"- {d['edge']} {_md_code(d['name'])}: {d['status']}{where}" + (f"; {shape}" if shape else ""))
    if p.local_tables:
        out += ["", "## Temporary tables and table variables", ""]
        for t in p.local_tables:
            cols = ", ".join(f"{c['name']} {c['type']}".rstrip() for c in t["columns"]) or "-"
            out.append(f"- {_md_code(t['name'])} (line {t['line']}): {cols}")
    k = p.knowledge
    if k.get("mapping") or k.get("gotchas"):
        out += ["", "## Knowledge", ""]
        out.append(f"- mapping sections: {'; '.join(k['mapping']) or '-'}")
        out.append(f"- gotchas: {'; '.join(k['gotchas']) or '-'}")
        text = k.get("text") or {}
        for key in ("mapping", "gotchas"):
            if text.get(key):
                out += ["", text[key].strip()]
    if p.reading_plan:
        plan = p.reading_plan
        out += ["", "## Reading plan", "", f"- first read: lines {plan['first_read'][0]}-{plan['first_read'][1]}"]
        out += [f"- lines {s['start']}-{s['end']}: {s['hint']}" for s in plan["sections"]]
    out += ["", f"## Source (lines {p.lines[0]}-{p.lines[1]})", ""]
    return "\n".join(out) + "\n"


def _fence(source: str) -> str:
    if "```" not in source:
        return "```"
    return "`" * max(3, max((len(r) for r in re.findall(r"`{3,}", source)), default=0) + 1)


def _source_markdown_length(source: str, first_line: int) -> int:
    """``len(_source_markdown(source, first_line))``."""
    if "\r" in source or _RARE_BREAK.search(source):
        lines = source.splitlines()
        count, chars = len(lines), sum(map(len, lines))
    else:  # line feeds only: counted, not split
        breaks = source.count("\n")
        count = breaks + (0 if source.endswith("\n") else 1) if source else 0
        chars = len(source) - breaks
    width = len(str(first_line + max(count, 1) - 1))
    fence = len(_fence(source))
    return fence + 4 + chars + count * (width + 3) + fence + 1


def _source_markdown(source: str, first_line: int) -> str:
    """The source in a fenced block, each line behind its number."""
    lines = source.splitlines()
    width = len(str(first_line + max(len(lines), 1) - 1))
    fence = _fence(source)
    numbers = map(str.rjust, map(str, range(first_line, first_line + len(lines))), repeat(width))
    body = "".join(map("{}  {}\n".format, numbers, lines))
    return f"{fence}sql\n{body}{fence}\n"


# --- the whole run --------------------------------------------------------------------


def build_packets(
    files: Iterable[tuple[str, str]],
    *,
    kb: Mapping[str, str] | str | PathLike[str] | None = None,
    platform: str | None = None,
    budget: int = DEFAULT_BUDGET,
) -> Iterator[Packet]:
    """The packets of a code base in conversion order.

    ``files``: ``(path, text)`` pairs of decoded scripts.  ``kb``: a
    knowledge-base directory, or its texts as ``{"mapping": …, "gotchas":
    …}``; without it packets name the sections but hold no text.
    ``platform``: the code base's platform, known (each file's is detected
    otherwise).  ``budget``: the token budget a packet is cut to fit.
    """
    scanned = [s for path, text in files for s in scan_file(path, text, platform)]
    return packets_of(scanned, kb=kb, budget=budget)


def packets_of(
    scanned: Sequence[_Scanned],
    *,
    kb: Mapping[str, str] | str | PathLike[str] | None = None,
    budget: int = DEFAULT_BUDGET,
) -> Iterator[Packet]:
    """The packets of units already scanned (``scan_file``), in order."""
    if budget < 1:
        raise ValueError(f"budget must be at least 1, not {budget}")
    texts = read_knowledge_base(kb) if isinstance(kb, (str, PathLike)) else kb
    base = _CodeBase(scanned)
    knowledge = _Knowledge(texts)
    for group in base.graph.order:
        for i in group:
            packet = _sized(_whole_packet(base, i, knowledge))
            if packet.tokens > budget:
                yield from _parts(packet, budget)
            else:
                yield packet
