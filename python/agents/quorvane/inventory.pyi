from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import ClassVar, Protocol

FINGERPRINT_VERSION: int

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

@dataclass(frozen=True)
class Fingerprint:
    hash: int
    template: str
    unterminated: bool = field(default=False, compare=False)

def fingerprint(sql_content: str, *, platform: str | None = None) -> Fingerprint: ...

@dataclass(frozen=True)
class FingerprintBatch:
    WHOLE: ClassVar[int]
    UNTERMINATED: ClassVar[int]
    BLANK: ClassVar[int]
    NOT_TEXT: ClassVar[int]
    hashes: bytes
    flags: bytes
    templates: dict[int, tuple[int, str]]

class _ArrowColumn(Protocol):
    def __arrow_c_array__(self, requested_schema: object = ..., /) -> tuple[object, object]: ...

def fingerprint_many(
    texts: Sequence[object] | _ArrowColumn, *, platform: str | None = None
) -> FingerprintBatch: ...
