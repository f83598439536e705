"""Reference model of the ``complexity`` and ``loresift`` modules.

Plain Python over the host's ``re`` and ``str``: every function follows the
described steps one by one, with no shortcuts, so that the native modules can
be checked against it.  The package never imports this file.

The host's own rules already give most of the required text semantics:
``str.isspace`` (and so ``str.strip``, ``str.split`` and ``\\s``) is exactly
the required whitespace set, ``str.splitlines`` breaks at exactly the required
line breaks, ``\\w`` is letters and numbers of every script plus ``_``, ``.``
excludes only LF and ``$`` in multi-line mode sits before LF and at the end.

Case-insensitive matching is the exception: ``re.IGNORECASE`` pairs i/I with
U+0130 and U+0131, which Unicode simple case folding does not.  Patterns are
therefore compiled through :func:`_fold_compile`, which spells every ASCII
letter out as the class of its simple-case-fold equivalents.
"""

from __future__ import annotations

import bisect
import enum
import re
from array import array
from dataclasses import dataclass

import structlog

logger = structlog.get_logger()


# --------------------------------------------------------------------------
# Case-insensitive patterns by explicit case classes
# --------------------------------------------------------------------------

# Every character whose simple case folding equals the folding of an ASCII
# letter.  Besides the letter pairs only the long s and the Kelvin sign fold
# onto ASCII; U+0130 and U+0131 have no simple folding at all.
_FOLD_EXTRA = {"k": "\u212a", "s": "\u017f"}


def _fold_members(letter: str) -> str:
    lower = letter.lower()
    return lower + lower.upper() + _FOLD_EXTRA.get(lower, "")


def _fold_rewrite(pattern: str) -> str:
    """Rewrite ``pattern`` so that its ASCII letters match case-insensitively.

    Escapes (``\\b``, ``\\w``, ``\\(`` ...) are copied unchanged.  Inside a
    character class the equivalents are added as members; ranges over letters
    are not supported (none of the fixed patterns has one).
    """
    out = []
    in_class = False
    i = 0
    while i < len(pattern):
        ch = pattern[i]
        if ch == "\\":
            out.append(pattern[i : i + 2])
            i += 2
            continue
        if in_class:
            if ch == "]":
                in_class = False
                out.append(ch)
            elif ch.isascii() and ch.isalpha():
                if pattern[i - 1] == "-" or pattern[i + 1 : i + 2] == "-":
                    raise ValueError(f"letter range in class: {pattern!r}")
                out.append(_fold_members(ch))
            else:
                out.append(ch)
        elif ch == "[":
            in_class = True
            out.append(ch)
            # a leading ']' (or '^]') is a literal member, not the class end
            if pattern[i + 1 : i + 2] == "^":
                out.append("^")
                i += 1
            if pattern[i + 1 : i + 2] == "]":
                out.append("]")
                i += 1
        elif ch.isascii() and ch.isalpha():
            out.append("[" + _fold_members(ch) + "]")
        else:
            out.append(ch)
        i += 1
    return "".join(out)


class FoldedPattern:
    """A compiled case-insensitive pattern that still shows its own text."""

    def __init__(self, pattern: str, flags: int = 0):
        self.pattern = pattern
        self.flags = flags | re.IGNORECASE
        self.compiled = re.compile(_fold_rewrite(pattern), flags)

    def search(self, string):
        return self.compiled.search(string)

    def match(self, string):
        return self.compiled.match(string)

    def findall(self, string):
        return self.compiled.findall(string)

    def __repr__(self):
        return f"FoldedPattern({self.pattern!r})"


def _fold_compile(pattern: str, flags: int = 0) -> FoldedPattern:
    return FoldedPattern(pattern, flags)


# --------------------------------------------------------------------------
# Complexity result and turn budgets
# --------------------------------------------------------------------------


class SQLComplexity(enum.StrEnum):
    SIMPLE = "simple"
    MODERATE = "moderate"
    COMPLEX = "complex"


@dataclass(frozen=True)
class ComplexityResult:
    complexity: SQLComplexity
    effective_lines: int
    stored_proc_count: int
    complex_construct_count: int
    moderate_construct_count: int
    temp_table_count: int
    cte_count: int

    @property
    def recommended_analysis_turns(self) -> int:
        base = 3
        chunk_turns = min(self.effective_lines // 300, 3)
        construct_turns = min(self.complex_construct_count, 2)
        return min(base + chunk_turns + construct_turns, 8)

    @property
    def recommended_conversion_turns(self) -> int:
        base = 5
        line_turns = (self.effective_lines // 100) * 2
        construct_turns = self.complex_construct_count * 2
        proc_turns = 3 if self.stored_proc_count > 0 else 0
        validation_buffer = 4
        return min(base + line_turns + construct_turns + proc_turns + validation_buffer, 40)

    @property
    def recommended_audit_turns(self) -> int:
        return 3


# --------------------------------------------------------------------------
# Construct scan and classification
# --------------------------------------------------------------------------

_CTE_TEXT = r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\("
_TEMP_TABLE_TEXT = r"#\w+"

_COMPLEX_PATTERNS = [
    _fold_compile(p)
    for p in [
        r"\bCURSOR\b",
        r"\bDECLARE\s+\w+\s+CURSOR\b",
        r"\bEXEC(?:UTE)?\s*\(",
        r"\bsp_executesql\b",
        r"\bDYNAMIC\b",
        r"\bBEGIN\s+TRY\b",
        r"\bBEGIN\s+CATCH\b",
        r"\bMERGE\b",
        r"\bOPENXML\b",
        r"\bhierarchyid\b",
        r"\bgeography\b",
        r"\bgeometry\b",
        r"\bFOR\s+XML\b",
        r"\bOPENJSON\b",
        r"\bLINKED\s+SERVER\b",
    ]
]

_MODERATE_PATTERNS = [
    _fold_compile(p)
    for p in [
        _CTE_TEXT,
        _TEMP_TABLE_TEXT,
        r"\bCREATE\s+TABLE\b",
        r"\bWHILE\b",
        r"\bIF\s+EXISTS\b",
        r"\bCASE\s+WHEN\b",
        r"\bOVER\s*\(",
        r"\bPIVOT\b",
        r"\bUNPIVOT\b",
    ]
]

_STORED_PROC_PATTERN = _fold_compile(r"\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b")

_COMMENT_PATTERNS = [
    re.compile(r"--.*$", re.MULTILINE),
    re.compile(r"/\*.*?\*/", re.DOTALL),
]

# Counted without any flag: '#' has no case and \w is caseless anyway.
_TEMP_TABLE_PATTERN = re.compile(_TEMP_TABLE_TEXT)
_CTE_PATTERN = _fold_compile(_CTE_TEXT)


def _remove_comments(text: str) -> str:
    for pattern in _COMMENT_PATTERNS:
        text = pattern.sub("", text)
    return text


def classify_sql(sql_content: str) -> ComplexityResult:
    stripped = _remove_comments(sql_content)
    lines = [line.strip() for line in stripped.splitlines()]
    effective_lines = sum(1 for line in lines if line)

    complex_count = sum(1 for p in _COMPLEX_PATTERNS if p.search(stripped))
    moderate_count = sum(1 for p in _MODERATE_PATTERNS if p.search(stripped))
    stored_proc_count = len(_STORED_PROC_PATTERN.findall(stripped))
    temp_table_count = len(_TEMP_TABLE_PATTERN.findall(stripped))
    cte_count = len(_CTE_PATTERN.findall(stripped))

    if complex_count > 0 or effective_lines > 300 or stored_proc_count > 1:
        level = SQLComplexity.COMPLEX
    elif moderate_count > 2 or effective_lines > 50 or stored_proc_count == 1:
        level = SQLComplexity.MODERATE
    else:
        level = SQLComplexity.SIMPLE

    result = ComplexityResult(
        complexity=level,
        effective_lines=effective_lines,
        stored_proc_count=stored_proc_count,
        complex_construct_count=complex_count,
        moderate_construct_count=moderate_count,
        temp_table_count=temp_table_count,
        cte_count=cte_count,
    )
    logger.debug(
        "sql_classified",
        complexity=level,
        effective_lines=effective_lines,
        complex_constructs=complex_count,
        moderate_constructs=moderate_count,
        stored_procs=stored_proc_count,
    )
    return result


def classify_sql_file(sql_path) -> ComplexityResult:
    return classify_sql(sql_path.read_text(encoding="utf-8"))


# --------------------------------------------------------------------------
# Construct locations
# --------------------------------------------------------------------------

_COMPLEX_NAMES = [
    "cursor",
    "declare_cursor",
    "exec_string",
    "sp_executesql",
    "dynamic",
    "begin_try",
    "begin_catch",
    "merge",
    "openxml",
    "hierarchyid",
    "geography",
    "geometry",
    "for_xml",
    "openjson",
    "linked_server",
]
_MODERATE_NAMES = [
    "cte",
    "temp_table",
    "create_table",
    "while",
    "if_exists",
    "case_when",
    "over",
    "pivot",
    "unpivot",
]
_STORED_PROC_NAME = "create_procedure"


def _comment_free_offsets(text: str) -> tuple[str, array]:
    """The text with comments removed as ``_remove_comments`` does, and the
    offset in ``text`` of each character left."""
    offsets = array("q", range(len(text)))
    for pattern in _COMMENT_PATTERNS:
        kept_text, kept_offsets, last = [], array("q"), 0
        for m in pattern.finditer(text):
            kept_text.append(text[last : m.start()])
            kept_offsets.extend(offsets[last : m.start()])
            last = m.end()
        kept_text.append(text[last:])
        kept_offsets.extend(offsets[last:])
        text, offsets = "".join(kept_text), kept_offsets
    return text, offsets


def _line_starts(text: str) -> list[int]:
    """The offset at which each line of ``splitlines`` starts (its break kept
    with it), then the text's length."""
    starts = [0]
    for line in text.splitlines(keepends=True):
        starts.append(starts[-1] + len(line))
    return starts


def _locate(sql_content: str, rows) -> tuple[tuple[int, str, str], ...]:
    stripped, offsets = _comment_free_offsets(sql_content)
    starts = _line_starts(sql_content)
    found = []
    for order, (kind, name, pattern) in enumerate(rows):
        m = pattern.search(stripped)
        if m:
            # the 1-based number of the line holding the match's first character
            line = bisect.bisect_right(starts, offsets[m.start()])
            found.append((line, order, kind, name))
    return tuple((line, kind, name) for line, _, kind, name in sorted(found))


def locate_constructs(sql_content: str) -> tuple[tuple[int, str, str], ...]:
    rows = [("complex", name, p) for name, p in zip(_COMPLEX_NAMES, _COMPLEX_PATTERNS, strict=True)]
    rows += [("moderate", name, p) for name, p in zip(_MODERATE_NAMES, _MODERATE_PATTERNS, strict=True)]
    rows.append(("stored_proc", _STORED_PROC_NAME, _STORED_PROC_PATTERN))
    return _locate(sql_content, rows)


# --------------------------------------------------------------------------
# Reading plan
# --------------------------------------------------------------------------

_GO_PATTERN = _fold_compile(r"^GO\s*$")
_ROUTINE_PATTERN = _fold_compile(r"^CREATE\s+(?:OR\s+ALTER\s+)?(?:PROC|PROCEDURE|FUNCTION)\b")

_CHUNK_THRESHOLD = 500
_FIRST_READ = 150
_HINT_LENGTH = 50


@dataclass(frozen=True)
class FileReadingStrategy:
    should_chunk: bool
    total_lines: int
    first_read_lines: int
    section_boundaries: tuple[tuple[int, int, str], ...]

    def format_reading_instructions(self, sql_path: str) -> str:
        if not self.should_chunk:
            return "Read the complete SQL file at `" + sql_path + "` using the Read tool."
        lines = [
            "This is a " + str(self.total_lines) + "-line SQL file. Read it strategically:",
            "1. Read lines 1-"
            + str(self.first_read_lines)
            + " to understand structure (SET statements, parameters, procedure signature).",
            "2. Then read each logical section:",
        ]
        for entry in self.section_boundaries:
            start, end, hint = entry
            lines.append("   - Lines " + str(start) + "-" + str(end) + ": " + str(hint))
        lines.append(
            "\nUse the Read tool with offset and limit parameters. Do NOT try to read the entire file in one Read call."
        )
        return "\n".join(lines)


def _is_major_boundary(line: str, line_number: int) -> bool:
    # A byte-order mark opening the file is not part of line 1's text.
    if line_number == 1 and line.startswith("\ufeff"):
        line = line[1:]
    stripped = line.strip()
    return bool(_GO_PATTERN.match(stripped) or _ROUTINE_PATTERN.match(stripped))


def _section_hint(raw_lines: list[str], start: int, end: int) -> str:
    hint_line = raw_lines[start - 1].strip()[:_HINT_LENGTH]
    if hint_line and not hint_line.startswith("--"):
        return hint_line
    return "SQL block (" + str(end - start + 1) + " lines)"


def plan_reading_strategy(sql_path) -> FileReadingStrategy:
    content = sql_path.read_text(encoding="utf-8")
    raw_lines = content.splitlines()
    total_lines = len(raw_lines)

    if total_lines <= _CHUNK_THRESHOLD:
        return FileReadingStrategy(
            should_chunk=False,
            total_lines=total_lines,
            first_read_lines=total_lines,
            section_boundaries=(),
        )

    target_sections = min(max(total_lines // 300, 2), 5)

    major_boundaries = [number for number, line in enumerate(raw_lines, start=1) if _is_major_boundary(line, number)]

    if len(major_boundaries) > target_sections:
        step = max(len(major_boundaries) // target_sections, 1)
        major_boundaries = [major_boundaries[i * step] for i in range(target_sections)]

    if len(major_boundaries) < 2:
        chunk_size = total_lines // target_sections
        major_boundaries = [i * chunk_size for i in range(1, target_sections)]

    all_boundaries = sorted({1, *major_boundaries, total_lines})
    first_read = min(_FIRST_READ, total_lines)

    # A pair spanning fewer than 21 lines forms no section of its own.  Its
    # lines are dropped only when the first read or the section before it
    # and the section after it hold them all; otherwise they open the next
    # section, or, past the last section, that section is extended to the
    # last line.
    pairs = list(zip(all_boundaries, all_boundaries[1:]))
    sections = []
    covered = first_read  # the last line the first read or a formed section holds
    carried = None  # the start of lines that wait for the next section
    for index, (start, end) in enumerate(pairs):
        if end <= first_read:
            continue
        if start < first_read:
            start = first_read + 1
        if carried is not None:
            start = carried
        if end - start < 20:
            if index == len(pairs) - 1:
                last_start = sections[-1][0]
                sections[-1] = (last_start, end, _section_hint(raw_lines, last_start, end))
            elif end - 1 > covered:
                carried = start
            continue
        sections.append((start, end, _section_hint(raw_lines, start, end)))
        covered = end
        carried = None

    while len(sections) > target_sections:
        min_size = float("inf")
        min_idx = 0
        for k in range(len(sections) - 1):
            combined = sections[k + 1][1] - sections[k][0]
            if combined < min_size:
                min_size = combined
                min_idx = k
        merged = (sections[min_idx][0], sections[min_idx + 1][1], sections[min_idx][2])
        sections[min_idx : min_idx + 2] = [merged]

    logger.debug(
        "reading_strategy",
        total_lines=total_lines,
        sections=len(sections),
        first_read=first_read,
    )
    return FileReadingStrategy(
        should_chunk=True,
        total_lines=total_lines,
        first_read_lines=first_read,
        section_boundaries=tuple(sections),
    )


# --------------------------------------------------------------------------
# Knowledge selection (loresift)
# --------------------------------------------------------------------------

CONSTRUCT_TO_MAPPING_SECTIONS = {
    "date_function": ["Date Functions"],
    "window_function": ["Window Functions"],
    "null_handling": ["NULL Semantics (CRITICAL)", "NULL Handling"],
    "string_ops": ["String Functions", "String Collation"],
    "cursor": ["Cursor Patterns"],
    "cte": ["CTE / Subqueries"],
    "json_ops": ["JSON Operations"],
    "type_cast": ["Data Type Mapping with Gotchas", "Type Casting"],
    "stored_proc": ["Stored Procedures & Functions"],
    "merge": ["Control Flow"],
    "temp_table": ["Data Structures"],
    "join": ["Joins"],
    "aggregation": ["Aggregations"],
    "query": ["Queries & Filters"],
}

CONSTRUCT_TO_GOTCHA_SECTIONS = {
    "date_function": [
        "1. DATEDIFF Argument Order Reversed",
        "6. months_between Returns DOUBLE Not INT",
        "7. date_sub with Negative Goes FORWARD",
    ],
    "window_function": ["4. Window Frame RANGE Includes Duplicates"],
    "null_handling": [
        "3. NULL Ordering in ORDER BY",
        "10. BIT Column NULL Handling",
        "9. COUNT(*) vs COUNT(col) with NULLs",
    ],
    "string_ops": ["2. Case-Sensitive String Comparison"],
    "cursor": ["8. Python UDF 50-100x Slower Than Native F.xxx"],
    "type_cast": ["5. Decimal Arithmetic Precision Loss"],
}

ALWAYS_INCLUDE_MAPPING = ["Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"]
ALWAYS_INCLUDE_GOTCHAS: list[str] = []

_CATEGORY_PATTERNS = {
    key: _fold_compile(text)
    for key, text in [
        (
            "date_function",
            r"\b(?:DATEDIFF|DATEADD|GETDATE|GETUTCDATE|EOMONTH|DATEPART|DATENAME|DATETRUNC|SYSDATETIME|SYSUTCDATETIME)\b",
        ),
        ("window_function", r"\b(?:ROW_NUMBER|RANK|DENSE_RANK|NTILE|LAG|LEAD|CUME_DIST|PERCENT_RANK)\s*\("),
        ("null_handling", r"\b(?:ISNULL|COALESCE|NULLIF|IS\s+NULL|IS\s+NOT\s+NULL)\b"),
        ("string_ops", r"\b(?:LIKE|CHARINDEX|PATINDEX|STUFF|REPLACE|SUBSTRING|LEFT|RIGHT|COLLATE|CONCAT)\b"),
        ("cursor", r"\bCURSOR\b"),
        ("cte", _CTE_TEXT),
        ("json_ops", r"\b(?:FOR\s+JSON|OPENJSON|JSON_VALUE|JSON_QUERY|JSON_MODIFY)\b"),
        ("type_cast", r"\b(?:CAST|CONVERT|TRY_CAST|TRY_CONVERT|DECIMAL|NUMERIC|FLOAT)\b"),
        ("stored_proc", r"\b(?:CREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?|EXEC(?:UTE)?)\b"),
        ("merge", r"\bMERGE\b"),
        ("temp_table", r"#\w+|@\w+\s+TABLE"),
        ("join", r"\b(?:INNER|LEFT|RIGHT|FULL|CROSS)\s+(?:OUTER\s+)?JOIN\b"),
        ("aggregation", r"\b(?:GROUP\s+BY|HAVING|SUM|COUNT|AVG|MIN|MAX)\s*\("),
        ("query", r"\bSELECT\b"),
    ]
}

_SECTION_SPLIT = re.compile(r"(?=^## )", re.MULTILINE)


def detect_construct_categories(sql_content: str) -> set[str]:
    stripped = _remove_comments(sql_content)
    categories = set()
    for key, pattern in _CATEGORY_PATTERNS.items():
        if pattern.search(stripped):
            categories.add(key)
    return categories


def locate_categories(sql_content: str) -> tuple[tuple[int, str, str], ...]:
    return _locate(sql_content, [("category", key, p) for key, p in _CATEGORY_PATTERNS.items()])


def extract_sections(full_text: str, headers: set[str]) -> str:
    if not headers or not full_text:
        return ""
    sections = _SECTION_SPLIT.split(full_text)
    matched = []
    for section in sections:
        section_stripped = section.strip()
        if not section_stripped:
            continue
        first_line = section_stripped.split("\n", 1)[0]
        header_text = first_line.lstrip("#").strip()
        for h in headers:
            if h.lower() in header_text.lower() or header_text.lower() in h.lower():
                matched.append(section_stripped)
                break
    return "\n\n".join(matched)


def _word_count(text: str) -> int:
    return len(text.split())


def select_knowledge(
    categories: set[str],
    *,
    full_mapping: str,
    full_gotchas: str,
    full_limitations: str = "",
) -> dict[str, str]:
    mapping_headers = set(ALWAYS_INCLUDE_MAPPING)
    gotcha_headers = set(ALWAYS_INCLUDE_GOTCHAS)
    for category in categories:
        mapping_headers.update(CONSTRUCT_TO_MAPPING_SECTIONS.get(category, []))
        gotcha_headers.update(CONSTRUCT_TO_GOTCHA_SECTIONS.get(category, []))

    selected_mapping = extract_sections(full_mapping, mapping_headers)
    selected_gotchas = extract_sections(full_gotchas, gotcha_headers)
    selected_limitations = full_limitations

    token_estimate = _word_count(selected_mapping) + _word_count(selected_gotchas)
    full_estimate = _word_count(full_mapping) + _word_count(full_gotchas)
    # round() on a float rounds half to even and returns an int
    reduction_pct = round((1 - token_estimate / max(full_estimate, 1)) * 100)

    logger.debug(
        "knowledge_selected",
        categories=sorted(categories),
        mapping_sections=len(mapping_headers),
        gotcha_sections=len(gotcha_headers),
        token_estimate=token_estimate,
        full_tokens=full_estimate,
        reduction_pct=reduction_pct,
    )
    return {
        "mapping": selected_mapping,
        "gotchas": selected_gotchas,
        "limitations": selected_limitations,
    }
