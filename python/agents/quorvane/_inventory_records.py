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
    that define nothing (``kind == "batch"``, ``name is None``)."""

    kind: str
    name: str | None
    start_line: int
    end_line: int
    reads: tuple[str, ...]
    writes: tuple[str, ...]
    calls: tuple[str, ...]
    temp_tables: tuple[str, ...]
    dynamic_sql: bool


for _record in (References, SqlObject):
    _record.__module__ = _MODULE
del _record
