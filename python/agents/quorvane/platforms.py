"""The platform vocabulary: the ten platform identifiers in their canonical
order, the grades and scope a row may carry, and the three records of
platform recognition: :class:`Marker` (a row of the catalogue in
:mod:`agents.quorvane.dialectra`), :class:`Evidence` (a row of the
detector's own table) and :class:`Reading` (how the detector reads a
catalogue row).

This module imports nothing of the package: the catalogue (and its native
part, while it loads), the detector's tables and the detector itself all
import it, so none of them imports another to learn a platform's name.
:mod:`agents.quorvane.platform_detect` re-exports every name here.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Any, Final

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
        _check_pattern("marker", self.id, self.pattern)


def _check_pattern(kind: str, row_id: str, pattern: str) -> None:
    try:
        re.compile(pattern)
    except (re.error, TypeError) as exc:
        raise ValueError(f"{kind} {row_id!r}: pattern does not compile: {exc}") from exc


_PREFIXES: Final = frozenset(PLATFORMS) | {"shared"}


@dataclass(frozen=True)
class Evidence:
    """One evidence row of the detector, beside the catalogue's markers.

    Like a :class:`Marker`, it names platforms and carries a pattern (and an
    optional ``scope``); instead of a confidence grade it has a ``weight``,
    and it states in ``justification`` the documented syntax or system
    object that makes it distinctive.  ``inherited`` is false for syntax a
    derived platform (see :data:`DERIVED_PLATFORMS`) does not accept;
    ``compatible`` names platforms that accept the syntax only for
    compatibility (half weight); ``cancelled_by`` lists the rows whose match,
    on the same line or before, cancels this one.
    """

    id: str
    platforms: tuple[str, ...]
    weight: float
    pattern: str
    justification: str
    corroborating_only: bool = False
    scope: str | None = None
    inherited: bool = True
    compatible: tuple[str, ...] = ()
    cancelled_by: tuple[str, ...] = ()

    def __post_init__(self) -> None:
        object.__setattr__(self, "platforms", _checked_platforms(self.id, self.platforms))
        object.__setattr__(self, "compatible", _checked_platforms(self.id, self.compatible, empty=True))
        object.__setattr__(self, "cancelled_by", tuple(self.cancelled_by))
        prefix, _, feature = self.id.partition(".")
        if prefix not in _PREFIXES or not re.fullmatch(r"[a-z0-9_]+", feature):
            raise ValueError(f"evidence {self.id!r}: identifier must be <platform or shared>.<feature>")
        if prefix != "shared" and self.platforms[0] != prefix:
            raise ValueError(f"evidence {self.id!r}: first platform must be that of its prefix")
        if not self.weight > 0:
            raise ValueError(f"evidence {self.id!r}: weight must be positive")
        if not self.justification.strip():
            raise ValueError(f"evidence {self.id!r}: justification is empty")
        if self.scope is not None and self.scope != SCOPE_COMMENT:
            raise ValueError(f"evidence {self.id!r}: unknown scope {self.scope!r}")
        _check_pattern("evidence", self.id, self.pattern)


@dataclass(frozen=True)
class Reading:
    """How the detector reads one catalogue marker, where it departs from the
    marker's own fields.

    ``platforms`` (when given) replaces the marker's platforms by every
    platform whose documentation accepts the syntax; ``corroborating_only``
    (when given) replaces the marker's flag; ``inherited`` false keeps a
    derived platform from inheriting the marker; ``compatible`` names
    platforms that accept the syntax only for compatibility (half weight);
    ``cancelled_by`` lists the rows whose match, on the same line or before,
    cancels this marker.
    """

    marker: str
    justification: str
    platforms: tuple[str, ...] | None = None
    corroborating_only: bool | None = None
    inherited: bool = True
    compatible: tuple[str, ...] = ()
    cancelled_by: tuple[str, ...] = ()

    def __post_init__(self) -> None:
        if self.platforms is not None:
            object.__setattr__(self, "platforms", _checked_platforms(self.marker, self.platforms))
        object.__setattr__(self, "compatible", _checked_platforms(self.marker, self.compatible, empty=True))
        object.__setattr__(self, "cancelled_by", tuple(self.cancelled_by))
        if not self.justification.strip():
            raise ValueError(f"reading of {self.marker!r}: justification is empty")


def _checked_platforms(row_id: str, platforms: Any, empty: bool = False) -> tuple[str, ...]:
    if isinstance(platforms, str):
        raise TypeError(f"row {row_id!r}: platforms must be a sequence of identifiers, not a str")
    platforms = tuple(platforms)
    if not platforms and not empty:
        raise ValueError(f"row {row_id!r}: platforms is empty")
    unknown = [p for p in platforms if p not in PLATFORMS]
    if unknown:
        raise ValueError(f"row {row_id!r}: unknown platforms {unknown!r}")
    if len(set(platforms)) != len(platforms):
        raise ValueError(f"row {row_id!r}: platforms repeats an identifier")
    return platforms
