"""The records of ``agents.quorvane.inventory``: plain frozen dataclasses,
built by the native module with one call each."""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["AddedColumns", "Column", "LocalTable", "Parameter", "References", "SqlObject"]

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
class Column:
    """A column of a table, view, table function or temporary table.

    ``type`` is the type as written, whitespace collapsed to one space and
    quoting removed (``DECIMAL(18, 2)``, ``NVARCHAR(MAX)``); empty for a
    computed column and where no type is declared (a view's column list, a
    ``SELECT … INTO`` output name).
    """

    name: str
    type: str


@dataclass(frozen=True)
class Parameter:
    """A parameter of a procedure or function, in declaration order.

    ``mode`` is ``"in"``, ``"out"`` (``OUTPUT``, ``OUT``), ``"inout"`` (``INOUT``,
    ``IN OUT``) or ``"readonly"`` (a table-valued parameter); ``default`` is
    the default's text, or None; ``name`` is empty for an unnamed parameter.
    """

    name: str
    type: str
    default: str | None
    mode: str


@dataclass(frozen=True)
class LocalTable:
    """A temporary table or table variable a unit builds: ``CREATE TABLE #t``,
    ``CREATE TEMP TABLE t``, ``SELECT … INTO #t`` (the select list's output
    names) or ``DECLARE @t TABLE``; ``line`` is the line of its name."""

    name: str
    columns: tuple[Column, ...]
    line: int


@dataclass(frozen=True)
class AddedColumns:
    """The columns an ``ALTER TABLE t ADD …`` statement adds to table ``table``
    (as written), at ``line``."""

    table: str
    columns: tuple[Column, ...]
    line: int


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
    dynamic_references: tuple[str, ...]
    columns: tuple[Column, ...]
    parameters: tuple[Parameter, ...]
    returns: str | None
    local_tables: tuple[LocalTable, ...]
    added_columns: tuple[AddedColumns, ...]


for _record in (Column, Parameter, LocalTable, AddedColumns, References, SqlObject):
    _record.__module__ = _MODULE
del _record
