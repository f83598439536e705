"""Source-platform recognition for SQL scripts.

This module owns the vocabulary of platform recognition: the ten platform
identifiers and the :class:`Marker` record.  The catalogue of markers itself
lives in :mod:`agents.quorvane.dialectra`, which imports this module while it
loads; this module therefore reads the catalogue only on first use (see
:func:`markers`), never at import time, so the two modules can be imported in
either order.
"""

from __future__ import annotations

import functools
import re
from dataclasses import dataclass
from typing import Final

__all__ = [
    "CONFIDENCE_LEVELS",
    "Marker",
    "PLATFORMS",
    "PLATFORM_BIGQUERY",
    "PLATFORM_DATABRICKS",
    "PLATFORM_HIVE",
    "PLATFORM_MYSQL",
    "PLATFORM_ORACLE",
    "PLATFORM_POSTGRESQL",
    "PLATFORM_REDSHIFT",
    "PLATFORM_SNOWFLAKE",
    "PLATFORM_SQLSERVER",
    "PLATFORM_TERADATA",
    "SCOPE_COMMENT",
    "markers",
]

PLATFORM_DATABRICKS: Final = "databricks"
PLATFORM_SNOWFLAKE: Final = "snowflake"
PLATFORM_POSTGRESQL: Final = "postgresql"
PLATFORM_MYSQL: Final = "mysql"
PLATFORM_SQLSERVER: Final = "sqlserver"
PLATFORM_ORACLE: Final = "oracle"
PLATFORM_REDSHIFT: Final = "redshift"
PLATFORM_BIGQUERY: Final = "bigquery"
PLATFORM_TERADATA: Final = "teradata"
PLATFORM_HIVE: Final = "hive"

# The canonical platform order (also the order of the catalogue's groups).
PLATFORMS: Final[tuple[str, ...]] = (
    PLATFORM_DATABRICKS,
    PLATFORM_SNOWFLAKE,
    PLATFORM_POSTGRESQL,
    PLATFORM_MYSQL,
    PLATFORM_SQLSERVER,
    PLATFORM_ORACLE,
    PLATFORM_REDSHIFT,
    PLATFORM_BIGQUERY,
    PLATFORM_TERADATA,
    PLATFORM_HIVE,
)

CONFIDENCE_LEVELS: Final[frozenset[str]] = frozenset({"high", "medium"})

# A marker with this scope can only match at a comment opener, so it must be
# applied to text that still holds its comments.
SCOPE_COMMENT: Final = "comment"


@dataclass(frozen=True)
class Marker:
    """One recognisable construct of one or more SQL platforms.

    ``platforms`` may be given as any iterable of platform identifiers and is
    stored as a tuple, so records are hashable.  ``pattern`` is regular
    expression source; it must compile with :mod:`re`.
    """

    id: str
    platforms: tuple[str, ...]
    confidence: str
    pattern: str
    scope: str | None = None
    corroborating_only: bool = False

    def __post_init__(self) -> None:
        if isinstance(self.platforms, str):
            raise TypeError(f"marker {self.id!r}: platforms must be a sequence of identifiers, not a str")
        platforms = tuple(self.platforms)
        object.__setattr__(self, "platforms", platforms)
        if not platforms:
            raise ValueError(f"marker {self.id!r}: platforms is empty")
        unknown = [p for p in platforms if p not in PLATFORMS]
        if unknown:
            raise ValueError(f"marker {self.id!r}: unknown platforms {unknown!r}")
        if len(set(platforms)) != len(platforms):
            raise ValueError(f"marker {self.id!r}: platforms repeats an identifier")
        if self.confidence not in CONFIDENCE_LEVELS:
            raise ValueError(f"marker {self.id!r}: confidence must be 'high' or 'medium', not {self.confidence!r}")
        if self.scope is not None and self.scope != SCOPE_COMMENT:
            raise ValueError(f"marker {self.id!r}: unknown scope {self.scope!r}")
        try:
            re.compile(self.pattern)
        except (re.error, TypeError) as exc:
            raise ValueError(f"marker {self.id!r}: pattern does not compile: {exc}") from exc


@functools.cache
def markers() -> tuple[Marker, ...]:
    """The marker catalogue, in catalogue order, read on first call."""
    from agents.quorvane import dialectra

    return tuple(dialectra.PLATFORM_MARKERS)


# Platform detection (scoring a script against markers()) builds on the
# records above and goes below this line.
