"""The Python-level types of ``agents.quorvane.complexity``.

The extension module calls :func:`define` once per load and publishes the
three types it returns under its own name: they name themselves
``agents.quorvane.complexity.<Name>``, so they pickle, print and report
errors as that module's own, and each load of the module (one per
interpreter, per fresh import, per reload) has types of its own.

The two records are plain frozen dataclasses, so the whole dataclass toolbox
applies to them (``replace``, ``asdict``, ``fields``, weak references,
``vars()``).  The turn budgets are computed properties, not fields: they
take no part in construction, equality, hashing or the text form.
"""

from __future__ import annotations

import dataclasses
import enum
from typing import Any

MODULE = "agents.quorvane.complexity"


def define(format_reading_instructions: Any) -> tuple[type, type, type]:
    """New (SQLComplexity, ComplexityResult, FileReadingStrategy) types;
    `format_reading_instructions` becomes the strategy's method."""

    class SQLComplexity(enum.StrEnum):
        """Complexity level of a SQL script; each member is also its string value."""

        __qualname__ = "SQLComplexity"

        SIMPLE = "simple"
        MODERATE = "moderate"
        COMPLEX = "complex"

    @dataclasses.dataclass(frozen=True)
    class ComplexityResult:
        """The immutable result of one classification, with turn budgets derived
        from its counts."""

        __qualname__ = "ComplexityResult"

        complexity: SQLComplexity
        effective_lines: int
        stored_proc_count: int
        complex_construct_count: int
        moderate_construct_count: int
        temp_table_count: int
        cte_count: int

        @property
        def recommended_analysis_turns(self) -> int:
            """Turns to budget for analysing the script: 3, plus one per full 300
            effective lines (at most 3) and one per complex construct (at most 2),
            at most 8."""
            chunk_turns = min(self.effective_lines // 300, 3)
            construct_turns = min(self.complex_construct_count, 2)
            return min(3 + chunk_turns + construct_turns, 8)

        @property
        def recommended_conversion_turns(self) -> int:
            """Turns to budget for converting the script: 5, plus two per full 100
            effective lines, two per complex construct, 3 when it defines a stored
            procedure, and a buffer of 4; at most 40."""
            line_turns = (self.effective_lines // 100) * 2
            construct_turns = self.complex_construct_count * 2
            proc_turns = 3 if self.stored_proc_count > 0 else 0
            validation_buffer = 4
            return min(5 + line_turns + construct_turns + proc_turns + validation_buffer, 40)

        @property
        def recommended_audit_turns(self) -> int:
            """Turns to budget for auditing: always 3."""
            return 3

    @dataclasses.dataclass(frozen=True)
    class FileReadingStrategy:
        """How to read a SQL file: whole, or lines 1..first_read_lines and then
        each (start, end, hint) section."""

        __qualname__ = "FileReadingStrategy"

        should_chunk: bool
        total_lines: int
        first_read_lines: int
        section_boundaries: tuple[tuple[int, int, str], ...]

    # Set after the class is made: it is no field of the record.
    FileReadingStrategy.format_reading_instructions = format_reading_instructions  # type: ignore[attr-defined]

    types = (SQLComplexity, ComplexityResult, FileReadingStrategy)
    for cls in types:
        cls.__module__ = MODULE
    return types
