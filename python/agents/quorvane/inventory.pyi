from dataclasses import dataclass

@dataclass(frozen=True)
class References:
    reads: tuple[str, ...]
    writes: tuple[str, ...]
    calls: tuple[str, ...]
    temp_tables: tuple[str, ...]
    dynamic_sql: bool

@dataclass(frozen=True)
class Column:
    name: str
    type: str

@dataclass(frozen=True)
class Parameter:
    name: str
    type: str
    default: str | None
    mode: str

@dataclass(frozen=True)
class LocalTable:
    name: str
    columns: tuple[Column, ...]
    line: int

@dataclass(frozen=True)
class AddedColumns:
    table: str
    columns: tuple[Column, ...]
    line: int

@dataclass(frozen=True)
class SqlObject:
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

def split_objects(sql_content: str, *, platform: str | None = None) -> tuple[SqlObject, ...]: ...
def references(sql_content: str, *, platform: str | None = None) -> References: ...
