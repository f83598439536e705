"""The records of ``agents.quorvane.inventory``: plain frozen dataclasses,
built by the native module with one call each."""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["References", "SqlObject"]

_MODULE = "agents.quorvane.inventory"


@dataclass(frozen=True)
class References:
    """What a piece of SQL reads, writes and calls.

    Names are qualified as written, with quoting removed; each tuple is in
    order of first appearance, without duplicates (compared ignoring ASCII
    letter case).
    """

    reads: tuple[str, ...]
    writes: tuple[str, ...]
    calls: tuple[str, ...]
    temp_tables: tuple[str, ...]
    dynamic_sql: bool


@dataclass(frozen=True)
class SqlObject:
    """One unit of a script: an object it defines, or a batch of statements
    that define nothing (``kind == "batch"``, ``name is None``).

    ``dynamic_references`` are probable references found in the SQL text the
    unit executes: a plain name after FROM, JOIN, INTO, UPDATE or EXEC
    inside an executed literal, in order; they are never in ``reads``,
    ``writes`` or ``calls``."""

    kind: str
    name: str | None
    start_line: int
    end_line: int
    reads: tuple[str, ...]
    writes: tuple[str, ...]
    calls: tuple[str, ...]
    temp_tables: tuple[str, ...]
    dynamic_sql: bool
    dynamic_references: tuple[str, ...] = ()


for _record in (References, SqlObject):
    _record.__module__ = _MODULE
del _record
