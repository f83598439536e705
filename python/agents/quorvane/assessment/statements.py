"""The analysis of one logged statement: its fingerprint, and for the first
text of each template its level, turn budgets, categories, platform and the
tables and routines it references.  One process (``quorvane workload``) and
the Spark job (``agents.quorvane.spark``) both use it, so their columns
agree."""

from __future__ import annotations

from typing import Any

from agents.quorvane import complexity, inventory, loresift, platform_detect

# A text whose length is one of these (in characters) was probably cut by
# the log's column width: nvarchar(4000), varchar(8000), 64 KB fields and
# the like.  Shorter round lengths are left out: too many whole statements
# happen to have them.
ROUND_LENGTHS = frozenset({4000, 4096, 8000, 8192, 16000, 16384, 32000, 32767, 32768, 65535, 65536, 1048576})

# The per-statement analysis, in output order.
ANALYSIS_FIELDS = (
    "level",
    "analysis_turns",
    "conversion_turns",
    "audit_turns",
    "categories",
    "platform",
    "reads",
    "writes",
    "calls",
)


def truncation(text: str, fingerprint: Any) -> str | None:
    """Why ``text`` looks cut short, or None."""
    return truncation_reason(len(text), fingerprint.unterminated)


def truncation_reason(length: int, unterminated: bool) -> str | None:
    """Why a text of ``length`` characters looks cut short, or None;
    ``unterminated``: it ends inside a literal, quoted name or comment."""
    if length in ROUND_LENGTHS:
        return f"cut at {length} characters"
    if unterminated:
        return "ends inside a literal or comment"
    return None


def analyze_statement(text: str, platform: str | None = None) -> dict[str, Any]:
    """The analysis fields of one statement.  ``platform`` given skips
    detection; the references are read in the given or detected platform's
    dialect."""
    graded = complexity.classify_sql(text)
    if platform is None:
        platform = platform_detect.detect_platform(text).platform
    refs = inventory.references(text, platform=platform)
    return {
        "level": str(graded.complexity),
        "analysis_turns": graded.recommended_analysis_turns,
        "conversion_turns": graded.recommended_conversion_turns,
        "audit_turns": graded.recommended_audit_turns,
        "categories": sorted(loresift.detect_construct_categories(text)),
        "platform": platform,
        "reads": list(refs.reads),
        "writes": list(refs.writes),
        "calls": list(refs.calls),
    }
