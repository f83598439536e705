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
    columns: tuple[Column, ...]
    parameters: tuple[Parameter, ...]
    returns: str | None
    local_tables: tuple[LocalTable, ...]

def split_objects(sql_content: str) -> tuple[SqlObject, ...]: ...
def references(sql_content: str) -> References: ...
