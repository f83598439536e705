"""Complexity classification and reading plans for SQL scripts."""

import re
from dataclasses import dataclass
from enum import StrEnum
from os import PathLike
from typing import Any, Final, Protocol, final

class _ReadableText(Protocol):
    def read_text(self, *, encoding: str) -> str: ...

class SQLComplexity(StrEnum):
    SIMPLE = "simple"
    MODERATE = "moderate"
    COMPLEX = "complex"

@final
@dataclass(frozen=True)
class ComplexityResult:
    """The immutable result of one classification, with turn budgets derived
    from its counts."""

    complexity: SQLComplexity
    effective_lines: int
    stored_proc_count: int
    complex_construct_count: int
    moderate_construct_count: int
    temp_table_count: int
    cte_count: int
    @property
    def recommended_analysis_turns(self) -> int: ...
    @property
    def recommended_conversion_turns(self) -> int: ...
    @property
    def recommended_audit_turns(self) -> int: ...

@final
@dataclass(frozen=True)
class FileReadingStrategy:
    """How to read a SQL file: whole, or lines 1..first_read_lines and then
    each (start, end, hint) section."""

    should_chunk: bool
    total_lines: int
    first_read_lines: int
    section_boundaries: tuple[tuple[int, int, str], ...]
    def format_reading_instructions(self, sql_path: str) -> str: ...

# The module's structured logger (structlog.get_logger()); looked up at each
# call, so replacing it redirects the events.
logger: Any

_COMPLEX_PATTERNS: Final[list[re.Pattern[str]]]
_MODERATE_PATTERNS: Final[list[re.Pattern[str]]]
_STORED_PROC_PATTERN: Final[re.Pattern[str]]
_COMMENT_PATTERNS: Final[list[re.Pattern[str]]]

def classify_sql(sql_content: str) -> ComplexityResult: ...
def classify_sql_file(sql_path: PathLike[str] | _ReadableText) -> ComplexityResult: ...

# (line, kind, name) of the first occurrence of each counted construct; kind
# is "complex", "moderate" or "stored_proc".  Sorted by line, then table order.
def locate_constructs(sql_content: str) -> tuple[tuple[int, str, str], ...]: ...
def plan_reading_strategy(sql_path: PathLike[str] | _ReadableText) -> FileReadingStrategy: ...
def plan_reading_text(sql_content: str) -> FileReadingStrategy: ...
