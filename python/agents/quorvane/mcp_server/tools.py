"""What each tool computes, as plain JSON values, independent of the SDK.

Every function takes the server's ``Workspace`` and the call's checked
arguments and returns the result document, or raises ``ToolError``.
"""

from __future__ import annotations

import dataclasses
import os
import re
from collections.abc import Callable
from typing import Any

from agents.quorvane import complexity, loresift, platform_detect
from agents.quorvane.assessment.dependencies import build_graph
from agents.quorvane.assessment.buckets import DEFAULT_RULES, BucketRules
from agents.quorvane.assessment.effort import EffortModel
from agents.quorvane.assessment.input_files import os_error_text
from agents.quorvane.assessment.blockers import settle
from agents.quorvane.assessment.record import SCHEMA_VERSION, FileResult, Row
from agents.quorvane.assessment.single_file import DEFAULT_MAX_SIZE
from agents.quorvane.assessment.totals import Summary, summarize
from agents.quorvane.assessment.work_plan import plan_work
from agents.quorvane.commands.inventory import units_of
from agents.quorvane.mcp_server.confinement import Roots, Target, ToolError
from agents.quorvane.mcp_server.cursors import Cursors, tree_state
from agents.quorvane.mcp_server.limits import DEFAULT_MAX_TOKENS
from agents.quorvane.mcp_server.paging import char_room, dumps, page, shrink, whole
from agents.quorvane.mcp_server.sources import Sources
from agents.quorvane.writers.inventory_formats import document

KB_FILES = ("mapping.md", "gotchas.md")
# Level-2 headings start the sections the knowledge selection works in.
_SECTION_SPLIT = re.compile(r"(?=^## )", re.MULTILINE)


@dataclasses.dataclass
class Workspace:
    """What every call shares: the roots, the cached files, the cursor key
    and the server's settings."""

    roots: Roots
    sources: Sources
    cursors: Cursors
    effort: EffortModel
    kb: str | None = None
    platform: str | None = None
    max_tokens: int = DEFAULT_MAX_TOKENS
    buckets: BucketRules = DEFAULT_RULES

    @classmethod
    def create(
        cls,
        roots: list[str],
        *,
        effort: EffortModel,
        kb: str | None = None,
        platform: str | None = None,
        max_tokens: int = DEFAULT_MAX_TOKENS,
        max_size: int = DEFAULT_MAX_SIZE,
        buckets: BucketRules = DEFAULT_RULES,
    ) -> Workspace:
        return cls(
            Roots(roots, max_size),
            Sources(max_size, platform),
            Cursors(),
            effort,
            kb=os.path.realpath(kb) if kb else None,
            platform=platform,
            max_tokens=max_tokens,
            buckets=buckets,
        )

    def budget(self, args: dict[str, Any]) -> int:
        return int(args.get("max_tokens") or self.max_tokens)


Files = list[tuple[str, str, os.stat_result | None, str | None]]


def _files(ws: Workspace, target: Target) -> Files:
    """The SQL files of a folder, or the one file, with refusals."""
    if target.is_dir:
        return list(ws.roots.walk(target))
    return [(target.real, target.shown, target.info, None)]


def _offset(ws: Workspace, args: dict[str, Any], call: Any, state: str) -> int:
    cursor = args.get("cursor")
    return ws.cursors.read(cursor, call, state) if cursor else 0


def _cursor_maker(ws: Workspace, call: Any, state: str) -> Callable[[int], str]:
    return lambda offset: ws.cursors.make(call, offset, state)


# ----------------------------------------------------------------- assess


def totals_record(summary: Summary) -> dict[str, Any]:
    record = dataclasses.asdict(summary)
    record["unreadable_dirs"] = [list(d) for d in summary.unreadable_dirs]
    record["analysed"] = summary.analysed
    record["waves"] = list(summary.waves)
    record["total_low"] = summary.total_low
    record["total_hours"] = summary.total_hours
    record["total_high"] = summary.total_high
    return record


def assess(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    target = ws.roots.resolve(args["path"], folder=True)
    objects = bool(args.get("objects", False))
    files = _files(ws, target)
    state = tree_state((shown, info) for _, shown, info, _ in files)
    call = ("assess", target.real, objects)
    offset = _offset(ws, args, call, state)

    def rows_and_totals() -> tuple[list[dict[str, Any]], dict[str, Any]]:
        results = settle(
            [
                FileResult(Row(shown, error=refusal))
                if info is None
                else ws.sources.analysis(real, info, shown, objects)
                for real, shown, info, refusal in files
            ]
        )
        results = plan_work(results, ws.effort, ws.buckets)
        rows = [row.to_record() for r in results for row in r.rows(objects)]
        return rows, totals_record(summarize(results, effort=ws.effort))

    rows, totals = ws.sources.listing(call, state, rows_and_totals)
    head = {"schema_version": SCHEMA_VERSION, "path": target.shown}
    first = None if args.get("cursor") else {"totals": totals}
    return page(head, {"rows": rows}, offset, ws.budget(args), _cursor_maker(ws, call, state), first)


# -------------------------------------------------------------- inventory


def inventory(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    target = ws.roots.resolve(args["path"], folder=True)
    files = _files(ws, target)
    state = tree_state((shown, info) for _, shown, info, _ in files)
    call = ("inventory", target.real)
    offset = _offset(ws, args, call, state)
    doc = ws.sources.listing(call, state, lambda: _inventory_document(ws, files))
    lists = {key: value for key, value in doc.items() if isinstance(value, list)}
    first = None if args.get("cursor") else {"counts": {key: len(value) for key, value in lists.items()}}
    return page({"path": target.shown}, lists, offset, ws.budget(args), _cursor_maker(ws, call, state), first)


def _inventory_document(ws: Workspace, files: Files) -> dict[str, Any]:
    units = []
    errors = []
    for real, shown, info, refusal in files:
        if info is None:
            errors.append((shown, refusal or ""))
            continue
        try:
            text = ws.sources.decoded(real, info, shown).text
        except ToolError as exc:
            errors.append((shown, str(exc).removeprefix(f"{shown}: ")))
            continue
        units.extend(ws.sources.cached("units", real, info, shown, lambda: units_of(shown, text, ws.platform)))
    return document(build_graph(units), errors)


# ------------------------------------------------------------ read_source


def read_source(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    target = ws.roots.resolve(args["path"])
    lines = ws.sources.lines(target.real, target.info, target.shown)
    total = len(lines)
    start = int(args.get("start_line", 1))
    end = int(args.get("end_line", total))
    if end < start and "end_line" in args:
        raise ToolError(f"end_line {end} is before start_line {start}")
    if start > max(total, 1):
        raise ToolError(f"start_line {start} is past the end of {target.shown} ({total} lines)")
    end = min(end, total)
    head = {"path": target.shown, "start_line": start, "end_line": start, "total_lines": total}
    envelope = {**head, "text": "", "truncated": True, "last_line_partial": True}
    # Digits of end_line may grow as lines are added: keep room for them.
    room = char_room(ws.budget(args)) - len(dumps(envelope)) - len(str(end))
    parts: list[str] = []
    used = 0
    last = start - 1
    partial = False
    for n in range(start, end + 1):
        numbered = f"{n}\t{lines[n - 1]}\n"
        size = len(dumps(numbered)) - 2
        if used + size > room:
            if n == start:
                # One line longer than the budget: its beginning.
                numbered, _ = shrink(numbered, room)
                parts.append(numbered)
                last, partial = n, True
            break
        parts.append(numbered)
        used += size
        last = n
    return {
        **head,
        "end_line": max(last, start) if total else 0,
        "text": "".join(parts),
        "truncated": last < end or partial,
        "last_line_partial": partial,
    }


# ----------------------------------------------------------- reading_plan


def reading_plan(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    target = ws.roots.resolve(args["path"])
    plan = ws.sources.cached(
        "plan",
        target.real,
        target.info,
        None,
        lambda: complexity.plan_reading_text(ws.sources.decoded(target.real, target.info, target.shown).text),
    )
    result = {
        "path": target.shown,
        "total_lines": plan.total_lines,
        "chunked": plan.should_chunk,
        "first_read_lines": plan.first_read_lines,
        "sections": [{"start_line": a, "end_line": b, "title": t} for a, b, t in plan.section_boundaries],
        "instructions": plan.format_reading_instructions(target.shown),
    }
    return whole(result, ws.budget(args))


# -------------------------------------------------------------- knowledge


def _kb_texts(ws: Workspace) -> tuple[dict[str, str], list[tuple[str, os.stat_result | None]]]:
    if ws.kb is None:
        raise ToolError("knowledge needs a knowledge base: start the server with --kb DIR")
    texts: dict[str, str] = {}
    stats: list[tuple[str, os.stat_result | None]] = []
    for name in KB_FILES:
        path = os.path.join(ws.kb, name)
        try:
            info = os.stat(path)
        except OSError as exc:
            raise ToolError(f"knowledge base: {name}: {os_error_text(exc)}") from None
        texts[name] = ws.sources.decoded(os.path.realpath(path), info, f"knowledge base: {name}").text
        stats.append((name, info))
    return texts, stats


def knowledge(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    if ("path" in args) == ("categories" in args):
        raise ToolError("give either path or categories")
    texts, stats = _kb_texts(ws)
    if "path" in args:
        target = ws.roots.resolve(args["path"])
        categories = ws.sources.cached(
            "categories",
            target.real,
            target.info,
            None,
            lambda: sorted(
                loresift.detect_construct_categories(ws.sources.decoded(target.real, target.info, target.shown).text)
            ),
        )
        stats.append((target.shown, target.info))
        call: Any = ("knowledge", target.real)
    else:
        known = set(loresift._CATEGORY_PATTERNS)
        wanted: list[str] = args["categories"]
        unknown = sorted(set(wanted) - known)
        if unknown:
            raise ToolError(f"unknown categories: {', '.join(unknown)} (known: {', '.join(sorted(known))})")
        categories = sorted(set(wanted))
        call = ("knowledge", categories)
    state = tree_state(stats)
    offset = _offset(ws, args, call, state)
    selected, sizes = loresift.select_knowledge_with_sizes(
        set(categories), full_mapping=texts["mapping.md"], full_gotchas=texts["gotchas.md"]
    )
    sections = []
    for doc in ("mapping", "gotchas"):
        for chunk in _SECTION_SPLIT.split(selected[doc]):
            body = chunk.strip()
            if body:
                sections.append({"doc": doc, "title": body.split("\n", 1)[0].lstrip("#").strip(), "text": body})
    first = None if args.get("cursor") else {"sizes": sizes}
    head = {"categories": categories}
    return page(head, {"sections": sections}, offset, ws.budget(args), _cursor_maker(ws, call, state), first)


# -------------------------------------------------------- detect_platform


def detect(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    if ("path" in args) == ("sql" in args):
        raise ToolError("give either path or sql")
    sql: str | None = args.get("sql")
    if sql is None:
        target = ws.roots.resolve(args["path"])
        shown: str | None = target.shown
        guess = ws.sources.cached(
            "platform",
            target.real,
            target.info,
            None,
            lambda: platform_detect.detect_platform(ws.sources.decoded(target.real, target.info, target.shown).text),
        )
    else:
        if len(sql) > ws.roots.max_size:
            raise ToolError(f"sql has {len(sql)} characters, more than the {ws.roots.max_size} limit (--max-size)")
        shown = None
        guess = platform_detect.detect_platform(sql)
    result = {
        "path": shown,
        "platform": guess.platform,
        "score": guess.score,
        "confidence": guess.confidence,
        "tied": list(guess.tied),
        "ranking": [[p, s] for p, s in guess.ranking],
        "matched": [{"id": m, "line": n} for m, n in zip(guess.matched, guess.lines)],
    }
    return whole(result, ws.budget(args))


# ------------------------------------------------------------ work_packet

# Tokens of a packet's rendering kept free for the result around it.
PACKET_MARGIN = 600


@dataclasses.dataclass(frozen=True)
class _Packets:
    parts: dict[str, list[Any]]  # folded id -> the packet's parts, in order
    by_place: dict[tuple[str, str], list[str]]  # (path shown, folded name) -> ids


def _packets(ws: Workspace, budget: int) -> _Packets:
    """The packets of every SQL file under the roots, made once per state
    of the files, the knowledge base and the budget."""
    from agents.quorvane.packets import build_packets

    files = [f for root in ws.roots.real for f in _files(ws, ws.roots.resolve(root, folder=True))]
    kb_texts, kb_stats = _kb_texts(ws) if ws.kb is not None else ({}, [])
    state = tree_state([(shown, info) for _, shown, info, _ in files] + kb_stats)

    def make() -> _Packets:
        texts = []
        for real, shown, info, _ in files:
            if info is not None:
                try:
                    texts.append((shown, ws.sources.decoded(real, info, shown).text))
                except ToolError:
                    continue  # a file that cannot be read defines nothing
        kb = {"mapping": kb_texts["mapping.md"], "gotchas": kb_texts["gotchas.md"]} if kb_texts else None
        parts: dict[str, list[Any]] = {}
        by_place: dict[tuple[str, str], list[str]] = {}
        for packet in build_packets(texts, kb=kb, platform=ws.platform, budget=max(1, budget - PACKET_MARGIN)):
            key = packet.id.casefold()
            if key not in parts:
                parts[key] = []
                name = packet.object.get("name")
                if name:
                    by_place.setdefault((packet.object["path"], name.casefold()), []).append(packet.id)
            parts[key].append(packet)
        return _Packets(parts, by_place)

    return ws.sources.listing(("work_packet", budget), state, make)


def _packet_id(ws: Workspace, packets: _Packets, args: dict[str, Any]) -> str:
    if "id" in args:
        if "path" in args or "name" in args:
            raise ToolError("give id, or path and name, not both")
        if args["id"].casefold() not in packets.parts:
            raise ToolError(f"unknown id: {args['id']} (ids are kind:name, or path#line for a batch; see inventory)")
        return str(args["id"])
    if "path" not in args or "name" not in args:
        raise ToolError("give id, or path and name")
    target = ws.roots.resolve(args["path"])
    name = args["name"].casefold()
    ids = packets.by_place.get((target.shown, name))
    if not ids:  # an unqualified name: the one object of the file it ends
        ids = [
            i
            for (path, full), found in packets.by_place.items()
            if path == target.shown and full.rsplit(".", 1)[-1] == name
            for i in found
        ]
    if not ids:
        raise ToolError(f"no object named {args['name']} in {target.shown}")
    if len(ids) > 1:
        raise ToolError(f"{args['name']} names {len(ids)} objects in {target.shown}: {', '.join(ids)}; give one id")
    return ids[0]


def work_packet(ws: Workspace, args: dict[str, Any]) -> dict[str, Any]:
    budget = ws.budget(args)
    packets = _packets(ws, budget)
    parts = packets.parts[_packet_id(ws, packets, args).casefold()]
    part = int(args.get("part", 1))
    if part > len(parts):
        raise ToolError(f"part {part} of a packet that has {len(parts)}")
    return whole({"packet": parts[part - 1].to_dict(), "part": part, "parts": len(parts)}, budget)


TOOLS: dict[str, Callable[[Workspace, dict[str, Any]], dict[str, Any]]] = {
    "assess": assess,
    "inventory": inventory,
    "read_source": read_source,
    "reading_plan": reading_plan,
    "knowledge": knowledge,
    "detect_platform": detect,
    "work_packet": work_packet,
}
