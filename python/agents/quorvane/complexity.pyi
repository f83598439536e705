"""Complexity classification and reading plans for SQL scripts."""

import re
from enum import StrEnum
from os import PathLike
from typing import Any, ClassVar, Final, Protocol, final

class _ReadableText(Protocol):
    def read_text(self, *, encoding: str) -> str: ...

class SQLComplexity(StrEnum):
    SIMPLE = "simple"
    MODERATE = "moderate"
    COMPLEX = "complex"

@final
class ComplexityResult:
    """The immutable result of one classification."""

    __match_args__: ClassVar[tuple[str, ...]] = (
        "complexity",
        "effective_lines",
        "stored_proc_count",
        "complex_construct_count",
        "moderate_construct_count",
        "temp_table_count",
        "cte_count",
    )
    @property
    def complexity(self) -> SQLComplexity: ...
    @property
    def effective_lines(self) -> int: ...
    @property
    def stored_proc_count(self) -> int: ...
    @property
    def complex_construct_count(self) -> int: ...
    @property
    def moderate_construct_count(self) -> int: ...
    @property
    def temp_table_count(self) -> int: ...
    @property
    def cte_count(self) -> int: ...
    def __init__(
        self,
        complexity: SQLComplexity,
        effective_lines: int,
        stored_proc_count: int,
        complex_construct_count: int,
        moderate_construct_count: int,
        temp_table_count: int,
        cte_count: int,
    ) -> None: ...
    @property
    def recommended_analysis_turns(self) -> int: ...
    @property
    def recommended_conversion_turns(self) -> int: ...
    @property
    def recommended_audit_turns(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __reduce__(self) -> tuple[type[ComplexityResult], tuple[Any, ...]]: ...

@final
class FileReadingStrategy:
    """How to read a SQL file: whole, or a first read and then sections."""

    __match_args__: ClassVar[tuple[str, ...]] = (
        "should_chunk",
        "total_lines",
        "first_read_lines",
        "section_boundaries",
    )
    @property
    def should_chunk(self) -> bool: ...
    @property
    def total_lines(self) -> int: ...
    @property
    def first_read_lines(self) -> int: ...
    @property
    def section_boundaries(self) -> tuple[tuple[int, int, str], ...]: ...
    def __init__(
        self,
        should_chunk: bool,
        total_lines: int,
        first_read_lines: int,
        section_boundaries: tuple[tuple[int, int, str], ...],
    ) -> None: ...
    def format_reading_instructions(self, sql_path: str) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __reduce__(self) -> tuple[type[FileReadingStrategy], tuple[Any, ...]]: ...

# The module's structured logger (structlog.get_logger()); looked up at each
# call, so replacing it redirects the events.
logger: Any

_COMPLEX_PATTERNS: Final[list[re.Pattern[str]]]
_MODERATE_PATTERNS: Final[list[re.Pattern[str]]]
_STORED_PROC_PATTERN: Final[re.Pattern[str]]
_COMMENT_PATTERNS: Final[list[re.Pattern[str]]]

def classify_sql(sql_content: str) -> ComplexityResult: ...
def classify_sql_file(sql_path: PathLike[str] | _ReadableText) -> ComplexityResult: ...
def plan_reading_strategy(sql_path: PathLike[str] | _ReadableText) -> FileReadingStrategy: ...
