"""Construct-category detection and knowledge-base selection for SQL scripts."""

import re
from typing import Any, Final, TypedDict

class _KnowledgeSizes(TypedDict):
    """The size figures of a "knowledge_selected" event."""

    mapping_sections: int
    gotcha_sections: int
    token_estimate: int
    full_tokens: int
    reduction_pct: int

# The module's structured logger (structlog.get_logger()); looked up at each
# call, so replacing it redirects the events.
logger: Any

CONSTRUCT_TO_MAPPING_SECTIONS: Final[dict[str, list[str]]]
CONSTRUCT_TO_GOTCHA_SECTIONS: Final[dict[str, list[str]]]
ALWAYS_INCLUDE_MAPPING: Final[list[str]]
ALWAYS_INCLUDE_GOTCHAS: Final[list[str]]
_CATEGORY_PATTERNS: Final[dict[str, re.Pattern[str]]]

def detect_construct_categories(sql_content: str) -> set[str]: ...

# (line, "category", key) of the first occurrence of each detected category,
# sorted by line, then table order.
def locate_categories(sql_content: str) -> tuple[tuple[int, str, str], ...]: ...
def extract_sections(full_text: str, headers: set[str]) -> str: ...
def select_knowledge(
    categories: set[str],
    *,
    full_mapping: str,
    full_gotchas: str,
    full_limitations: str = "",
) -> dict[str, str]: ...
def select_knowledge_with_sizes(
    categories: set[str],
    *,
    full_mapping: str,
    full_gotchas: str,
    full_limitations: str = "",
) -> tuple[dict[str, str], _KnowledgeSizes]: ...
