"""Platform marker catalogue."""

from collections.abc import Iterable
from typing import final

from typing_extensions import Self

from agents.quorvane.platforms import (
    PLATFORM_BIGQUERY as PLATFORM_BIGQUERY,
    PLATFORM_DATABRICKS as PLATFORM_DATABRICKS,
    PLATFORM_HIVE as PLATFORM_HIVE,
    PLATFORM_MYSQL as PLATFORM_MYSQL,
    PLATFORM_ORACLE as PLATFORM_ORACLE,
    PLATFORM_POSTGRESQL as PLATFORM_POSTGRESQL,
    PLATFORM_REDSHIFT as PLATFORM_REDSHIFT,
    PLATFORM_SNOWFLAKE as PLATFORM_SNOWFLAKE,
    PLATFORM_SQLSERVER as PLATFORM_SQLSERVER,
    PLATFORM_TERADATA as PLATFORM_TERADATA,
    Marker as Marker,
)

# The 133 markers in catalogue order; read it, do not change it.
PLATFORM_MARKERS: list[Marker]

@final
class MarkerScanner:
    """A scanner over (pattern, comment_scope) rows, compiled once."""

    def __new__(cls, rows: Iterable[tuple[str, bool]]) -> Self: ...
    def first_lines(self, sql: str, /) -> tuple[int, ...]: ...
    def first_matches(self, sql: str, /) -> tuple[tuple[int, int], ...]: ...
    def all_matches(self, sql: str, /) -> tuple[tuple[int, int, int, int], ...]: ...
    def __len__(self) -> int: ...
