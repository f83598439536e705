from dataclasses import dataclass, field

FINGERPRINT_VERSION: int

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

def split_objects(sql_content: str, *, platform: str | None = None) -> tuple[SqlObject, ...]: ...
def references(sql_content: str, *, platform: str | None = None) -> References: ...

@dataclass(frozen=True)
class Fingerprint:
    hash: int
    template: str
    unterminated: bool = field(default=False, compare=False)

def fingerprint(sql_content: str, *, platform: str | None = None) -> Fingerprint: ...
