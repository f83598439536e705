"""The analysis of one file: read it once, decode it, then grade, plan,
categorise, locate hotspots, detect its platform and (when asked) split it
into objects.

Failures to read or decode a file become the row's ``error``; any other
exception is a fault of this program and propagates.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, replace
from typing import Any

from agents.quorvane import complexity, inventory, loresift, platform_detect
from agents.quorvane.assessment import decoding
from agents.quorvane.assessment.blockers import find_blockers, in_lines, schema_of
from agents.quorvane.assessment.buckets import text_bucket
from agents.quorvane.assessment.input_files import InputError, decode_bytes, read_input
from agents.quorvane.assessment.lines import line_spans, unit_bodies
from agents.quorvane.assessment.record import FileResult, Hotspot, Row
from agents.quorvane.assessment.sizing import sized_lines

DEFAULT_MAX_SIZE = 256 * 1024 * 1024
# The HTML page shows this many lines either side of a hotspot, for at most
# this many distinct hotspot lines per file, each cut to this length.
CONTEXT_LINES = 2
CONTEXT_HOTSPOTS = 40
CONTEXT_WIDTH = 240
# Above this many characters a file is split into units only when the units
# themselves are wanted: the inventory needs several times the text's memory.
# Such a file's effort is then estimated from its own grade, as one unit.
UNIT_EFFORT_LIMIT = 16 * 1024 * 1024


@dataclass(frozen=True)
class Options:
    max_size: int = DEFAULT_MAX_SIZE
    encoding: str | None = None  # forced; None: detect
    platform: str | None = None  # given by the user: detection is skipped
    context: bool = False  # keep the source lines around hotspots (page)
    units: bool = False  # keep the rows of each unit (--objects, page)


def analyze_file(path: str, options: Options = Options()) -> FileResult:
    """Analyse the file at ``path``."""
    try:
        decoded = read_input(path, options.max_size, options.encoding)
    except InputError as exc:
        return FileResult(Row(path, error=str(exc)))
    return analyze_text(path, decoded, options)


def analyze_bytes(path: str, data: bytes, options: Options = Options()) -> FileResult:
    """Analyse text that was read already (standard input)."""
    try:
        decoded = decode_bytes(data, options.max_size, options.encoding)
    except InputError as exc:
        return FileResult(Row(path, error=str(exc)))
    return analyze_text(path, decoded, options)


def plan_text(text: str) -> Any:
    """The reading plan of a text already read."""
    return complexity.plan_reading_text(text)


def _grade(text: str) -> dict[str, Any]:
    """The classifier's fields and the categories of ``text``."""
    result = complexity.classify_sql(text)
    return {
        "complexity": str(result.complexity),
        "effective_lines": result.effective_lines,
        "stored_proc_count": result.stored_proc_count,
        "complex_construct_count": result.complex_construct_count,
        "moderate_construct_count": result.moderate_construct_count,
        "temp_table_count": result.temp_table_count,
        "cte_count": result.cte_count,
        "analysis_turns": result.recommended_analysis_turns,
        "conversion_turns": result.recommended_conversion_turns,
        "audit_turns": result.recommended_audit_turns,
        "categories": tuple(sorted(loresift.detect_construct_categories(text))),
    }


def _construct_hotspots(text: str) -> list[Hotspot]:
    """The constructs the classifier and the category detector count, at
    their first lines."""
    return [
        Hotspot(int(line), str(kind), str(name))
        for locate in (complexity.locate_constructs, loresift.locate_categories)
        for line, kind, name in locate(text)
    ]


def _platform_fields(text: str, options: Options) -> tuple[dict[str, Any], list[Hotspot]]:
    if options.platform is not None:
        given: dict[str, Any] = {
            "platform": options.platform,
            "platform_score": None,
            "platform_confidence": "given",
            "platform_tied": None,
            "platform_ranking": None,
            "platform_markers": None,
        }
        return given, []
    guess = platform_detect.detect_platform(text)
    fields = {
        "platform": guess.platform,
        # A tie names no platform but keeps its score.
        "platform_score": guess.score if guess.ranking else None,
        "platform_confidence": guess.confidence,
        "platform_tied": tuple(guess.tied),
        "platform_ranking": tuple(guess.ranking),
        "platform_markers": tuple(guess.matched),
    }
    return fields, [Hotspot(int(n), "platform", m) for m, n in zip(guess.matched, guess.lines)]


def split_units(text: str, platform: str | None = None) -> tuple[Any, ...]:
    """The inventory's units of ``text`` read as ``platform``'s dialect."""
    return tuple(inventory.split_objects(text, platform=platform))


def analyze_text(path: str, decoded: decoding.Decoded, options: Options = Options()) -> FileResult:
    text = decoded.text
    graded = _grade(text)
    plan = plan_text(text)
    platform, platform_spots = _platform_fields(text, options)
    hotspots = tuple(sorted({*_construct_hotspots(text), *platform_spots}, key=_hotspot_order))
    found = find_blockers(text, platform["platform_tied"] or ([platform["platform"]] if platform["platform"] else ()))
    large = len(text) > UNIT_EFFORT_LIMIT
    units = split_units(text, platform["platform"]) if options.units or not large else None
    file_row = Row(
        path,
        encoding=decoded.encoding,
        encoding_guessed=decoded.guessed,
        total_lines=plan.total_lines,
        chunked=plan.should_chunk,
        sections=len(plan.section_boundaries),
        dynamic_sql=None if units is None else any(u.dynamic_sql for u in units),
        hotspots=hotspots,
        blockers=found.blockers,
        **graded,
        **platform,
    )
    objects: tuple[Row, ...] = ()
    bodies = unit_bodies(text, units) if units else []
    if options.units:
        objects = _object_rows(text, file_row, units or (), bodies)
    if large or not units:
        # The file is its own unit: it was not split (the same estimate
        # with or without its units), or it defines nothing.
        own = replace(
            file_row,
            dynamic_sql=None,  # known only when split: the same estimate either way
            bucket=text_bucket(None, text),
            effort_lines=sized_lines(text, graded["effective_lines"]),
        )
        costs: tuple[Row, ...] = (own,)
        signature = (inventory.fingerprint(text, platform=platform["platform"]).hash,)
    else:
        # What the estimate needs of each unit: the rows, or a bare row each.
        costs = objects or _unit_costs(path, units, bodies)
        signature = tuple(inventory.fingerprint(b, platform=platform["platform"]).hash for b in bodies)
    context = _context(text, hotspots) if options.context and hotspots else {}
    schemas = found.schemas | {s for s in (schema_of(u.name) for u in units or ()) if s}
    return FileResult(
        file_row, objects, units or (), context, found.databases, schemas, costs=costs, signature=signature
    )


def _hotspot_order(h: Hotspot) -> tuple[int, str, str]:
    return (h.line, h.kind, h.name)


def _object_rows(text: str, file_row: Row, units: tuple[Any, ...], bodies: Sequence[str]) -> tuple[Row, ...]:
    """One row per unit, graded on its own lines; platform and encoding are
    the file's."""
    rows = []
    for s, body in zip(units, bodies):
        # One row per unit, always (the rows and the units stay parallel).
        graded = _grade(body)
        # The unit's own first occurrences; platform evidence is the file's.
        shift = s.start_line - 1
        own = [Hotspot(h.line + shift, h.kind, h.name) for h in _construct_hotspots(body)]
        evidence = [h for h in file_row.hotspots or () if h.kind == "platform" and s.start_line <= h.line <= s.end_line]
        hotspots = tuple(sorted({*own, *evidence}, key=_hotspot_order))
        rows.append(
            replace(
                file_row,
                object_kind=s.kind,
                object_name=s.name,
                start_line=s.start_line,
                end_line=s.end_line,
                total_lines=s.end_line - s.start_line + 1,
                chunked=None,
                sections=None,
                dynamic_sql=s.dynamic_sql,
                hotspots=hotspots,
                bucket=text_bucket(s.kind, body),
                effort_lines=sized_lines(body, graded["effective_lines"]),
                blockers=in_lines(file_row.blockers, s.start_line, s.end_line),
                **graded,
            )
        )
    return tuple(rows)


def _unit_costs(path: str, units: tuple[Any, ...], bodies: Sequence[str]) -> tuple[Row, ...]:
    """What the estimate needs of each unit: its kind, name, lines, level,
    dynamic SQL and bucket."""
    rows = []
    for s, body in zip(units, bodies):
        graded = complexity.classify_sql(body)
        rows.append(
            Row(
                path,
                object_kind=s.kind,
                object_name=s.name,
                start_line=s.start_line,
                end_line=s.end_line,
                complexity=str(graded.complexity),
                effective_lines=graded.effective_lines,
                effort_lines=sized_lines(body, graded.effective_lines),
                dynamic_sql=s.dynamic_sql,
                bucket=text_bucket(s.kind, body),
            )
        )
    return tuple(rows)


def _context(text: str, hotspots: tuple[Hotspot, ...]) -> dict[int, str]:
    """The source lines around the first hotspot lines, for the page."""
    centres = sorted({h.line for h in hotspots})[:CONTEXT_HOTSPOTS]
    wanted = {n for c in centres for n in range(c - CONTEXT_LINES, c + CONTEXT_LINES + 1)}
    spans = line_spans(text, wanted)
    return {n: _clip(text[a : min(b, a + CONTEXT_WIDTH + 1)]) for n, (a, b) in spans.items()}


def _clip(line: str) -> str:
    return line if len(line) <= CONTEXT_WIDTH else line[:CONTEXT_WIDTH] + "\u2026"
