from dataclasses import dataclass

@dataclass(frozen=True)
class References:
    reads: tuple[str, ...]
    writes: tuple[str, ...]
    calls: tuple[str, ...]
    temp_tables: tuple[str, ...]
    dynamic_sql: bool

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
    dynamic_references: tuple[str, ...] = ()

def split_objects(sql_content: str, *, platform: str | None = None) -> tuple[SqlObject, ...]: ...
def references(sql_content: str, *, platform: str | None = None) -> References: ...
