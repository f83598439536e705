"""The tools as clients see them: name, description, input and output
schemas.  Every description is paid for in tokens on every turn of the
agent, so they are short; the README says more."""

from __future__ import annotations

from typing import Any

from agents.quorvane.mcp_server.limits import MAX_TOKENS_LIMIT, MIN_TOKENS

_STR = {"type": "string"}
_INT = {"type": "integer"}
_BOOL = {"type": "boolean"}
_LIST = {"type": "array"}
_OBJ = {"type": "object"}
_PATH = _STR
_LINE = {"type": "integer", "minimum": 1}
_CURSOR = _STR
_BUDGET = {"type": "integer", "minimum": MIN_TOKENS, "maximum": MAX_TOKENS_LIMIT}
_NEXT = {"type": ["string", "null"]}
_PAGED = {"next_cursor": _NEXT, "truncated": _BOOL, "cuts": _LIST}
_PAGED_KEYS = ["next_cursor", "truncated"]


def _tool(
    name: str,
    description: str,
    inputs: dict[str, Any],
    required: list[str],
    outputs: dict[str, Any],
    out_required: list[str],
) -> dict[str, Any]:
    return {
        "name": name,
        "description": description,
        "input_schema": {"type": "object", "properties": {**inputs, "max_tokens": _BUDGET}, "required": required},
        "output_schema": {"type": "object", "properties": outputs, "required": out_required},
    }


TOOLS = (
    _tool(
        "assess",
        "Grade SQL files: analyze's rows (complexity, turns, categories, platform, hotspots, blockers, effort), "
        "per file or per object, totals on page 1.",
        {"path": _PATH, "objects": _BOOL, "cursor": _CURSOR},
        ["path"],
        {"schema_version": _INT, "path": _STR, "totals": _OBJ, "rows": _LIST, **_PAGED},
        ["rows", *_PAGED_KEYS],
    ),
    _tool(
        "inventory",
        "Objects the SQL defines, edges (reads/writes/calls), missing names, cycles, duplicates and "
        "conversion order, paged.",
        {"path": _PATH, "cursor": _CURSOR},
        ["path"],
        {
            "path": _STR,
            "counts": _OBJ,
            "objects": _LIST,
            "edges": _LIST,
            "missing": _LIST,
            "cycles": _LIST,
            "duplicates": _LIST,
            "order": _LIST,
            "errors": _LIST,
            **_PAGED,
        },
        ["objects", "edges", "order", *_PAGED_KEYS],
    ),
    _tool(
        "work_packet",
        "One object's work packet (source, grade, dependencies' shapes, local tables, knowledge), by id "
        "or path and name; long ones in parts.",
        {"id": _STR, "path": _PATH, "name": _STR, "part": _LINE},
        [],
        {"packet": _OBJ, "part": _INT, "parts": _INT, "truncated": _BOOL, "cuts": _LIST},
        ["packet", "part", "parts"],
    ),
    _tool(
        "read_source",
        "Numbered lines of a file ('N<tab>line'), cut to the budget; end_line is the last line given.",
        {"path": _PATH, "start_line": _LINE, "end_line": _LINE},
        ["path"],
        {
            "path": _STR,
            "start_line": _INT,
            "end_line": _INT,
            "total_lines": _INT,
            "text": _STR,
            "truncated": _BOOL,
            "last_line_partial": _BOOL,
        },
        ["text", "end_line", "truncated"],
    ),
    _tool(
        "reading_plan",
        "How to read a long file in sections, and the reading instructions.",
        {"path": _PATH},
        ["path"],
        {
            "path": _STR,
            "total_lines": _INT,
            "chunked": _BOOL,
            "first_read_lines": _INT,
            "sections": _LIST,
            "instructions": _STR,
            "truncated": _BOOL,
            "cuts": _LIST,
        },
        ["sections", "instructions"],
    ),
    _tool(
        "knowledge",
        "Knowledge-base sections (mapping, gotchas) for a file's construct categories or given ones, paged.",
        {"path": _PATH, "categories": {"type": "array", "items": _STR}, "cursor": _CURSOR},
        [],
        {"categories": _LIST, "sizes": _OBJ, "sections": _LIST, **_PAGED},
        ["sections", *_PAGED_KEYS],
    ),
    _tool(
        "detect_platform",
        "Source SQL platform of a file or text: guess, confidence, ranking, tie, matched rows with lines.",
        {"path": _PATH, "sql": _STR},
        [],
        {
            "path": _NEXT,
            "platform": _NEXT,
            "score": {"type": "number"},
            "confidence": _NEXT,
            "tied": _LIST,
            "ranking": _LIST,
            "matched": _LIST,
            "truncated": _BOOL,
            "cuts": _LIST,
        },
        ["platform", "ranking", "matched"],
    ),
)
