"""Source-platform recognition for SQL scripts.

This module owns the vocabulary of platform recognition: the ten platform
identifiers and the :class:`Marker` record.  The catalogue of markers itself
lives in :mod:`agents.quorvane.dialectra`, which imports this module while it
loads; this module therefore reads the catalogue only on first use (see
:func:`markers`), never at import time, so the two modules can be imported in
either order.

Platform detection
------------------

:func:`detect_platform` scores every platform against the catalogue and
returns a :class:`PlatformGuess`.  The rule, in full:

1. The script is split once into code, comments and string literals.  A line
   comment runs from ``--`` to the end of its line and a block comment from
   ``/*`` to the nearest ``*/`` (or the end of the text); neither starts inside
   a quoted string.  Markers with scope ``"comment"`` search the whole text;
   every other marker searches the text without its comments and ignores a
   match that begins inside a single-quoted string literal, since the
   contents of a literal are data (``relkind = 'r'``, ``LIKE '#%'``), not
   the script's own syntax.  Patterns match in multi-line mode and ignore
   case by Unicode simple case folding: the long s (U+017F) matches ``s`` and
   the Kelvin sign (U+212A) matches ``k``, while U+0130 and U+0131 match
   neither ``i`` nor ``I``.
2. Each marker that matches adds its weight to every platform it names:
   2 for a ``"high"`` marker, 1 for a ``"medium"`` one.  A marker counts once,
   however often it matches.
3. A ``corroborating_only`` marker adds its weight only to a platform that
   already has a match of a marker that is not corroborating-only.
4. Redshift accepts PostgreSQL's syntax, so a marker that names PostgreSQL
   and not Redshift also adds half its weight to Redshift (and PostgreSQL
   evidence supports Redshift for rule 3).  A script that shows PostgreSQL
   markers only still ranks PostgreSQL first; one that also shows a Redshift
   marker ranks Redshift first.
5. Platforms with a positive score are ranked by score, ties in the
   canonical order of :data:`PLATFORMS`.  The first is the guess.  When no
   platform scores, the script holds no platform evidence and the guess is
   ``None``: the detector never guesses without evidence.

Each matched marker also reports where its evidence is: the line of its first
counted match (a match not discarded by rule 1), counted from 1, where LF,
VT, FF, CR, CR LF, U+001C..U+001E, U+0085, U+2028 and U+2029 end a line (the
lines of ``str.splitlines``).

The scan is native (:class:`agents.quorvane.dialectra.MarkerScanner`): the
catalogue is compiled once, on first use; one pass finds which markers' required
words occur, and only those are searched.
"""

from __future__ import annotations

import functools
import re
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Final

if TYPE_CHECKING:
    from agents.quorvane.dialectra import MarkerScanner

__all__ = [
    "CONFIDENCE_LEVELS",
    "DERIVED_PLATFORMS",
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
    "PlatformGuess",
    "SCOPE_COMMENT",
    "WEIGHTS",
    "detect_platform",
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


# --- Platform detection ------------------------------------------------------


# Weight of a matching marker, by confidence.
WEIGHTS: Final[dict[str, float]] = {"high": 2.0, "medium": 1.0}

# A derived platform accepts its parent's syntax: markers of the parent also
# count for it, at _INHERITED_SHARE of their weight.
DERIVED_PLATFORMS: Final[dict[str, str]] = {PLATFORM_REDSHIFT: PLATFORM_POSTGRESQL}
_INHERITED_SHARE: Final = 0.5


@dataclass(frozen=True)
class PlatformGuess:
    """The outcome of :func:`detect_platform`.

    ``platform`` is the best-ranked platform, or ``None`` when no marker gave
    any platform a score; ``score`` is its score (0.0 for ``None``).
    ``ranking`` holds every platform with a positive score, best first, as
    (platform, score) pairs.  ``matched`` holds the identifiers of all markers
    that matched, in catalogue order, including corroborating-only markers
    that found no platform to corroborate.  ``lines`` is parallel to
    ``matched``: the 1-based line of each marker's first counted match.
    """

    platform: str | None
    score: float
    ranking: tuple[tuple[str, float], ...]
    matched: tuple[str, ...]
    lines: tuple[int, ...]


# --- Scanning: where each marker first matches ------------------------------


@functools.cache
def _scanner() -> MarkerScanner:
    """The native scanner over the catalogue, built on first use."""
    from agents.quorvane import dialectra

    return dialectra.MarkerScanner([(m.pattern, m.scope == SCOPE_COMMENT) for m in markers()])


def _first_lines(sql: str) -> tuple[int, ...]:
    """For each catalogue marker, the line of its first counted match (0: none)."""
    return _scanner().first_lines(sql)


# --- The rule: from matched markers to a guess --------------------------------


@dataclass(frozen=True)
class _Probe:
    marker: Marker
    # (platform, share of the marker's weight) for every platform it counts for
    shares: tuple[tuple[str, float], ...]


def _shares(marker: Marker) -> tuple[tuple[str, float], ...]:
    shares = [(p, 1.0) for p in marker.platforms]
    for child, parent in DERIVED_PLATFORMS.items():
        if parent in marker.platforms and child not in marker.platforms:
            shares.append((child, _INHERITED_SHARE))
    return tuple(shares)


@functools.cache
def _probes() -> tuple[_Probe, ...]:
    return tuple(_Probe(m, _shares(m)) for m in markers())


def detect_platform(sql: str) -> PlatformGuess:
    """Rank the platforms by the markers found in ``sql`` (rule above)."""
    if not isinstance(sql, str):
        raise TypeError(f"detect_platform() argument must be str, not {type(sql).__name__}")
    return _guess_from_lines(_first_lines(sql))


def _guess_from_lines(lines: Sequence[int]) -> PlatformGuess:
    """The guess for the first-match lines of the catalogue's markers (0: no match)."""
    hits = [(probe, line) for probe, line in zip(_probes(), lines) if line]
    return _rank([probe for probe, _ in hits], tuple(line for _, line in hits))


def _rank(hits: list[_Probe], lines: tuple[int, ...]) -> PlatformGuess:
    supported = {p for probe in hits if not probe.marker.corroborating_only for p, _ in probe.shares}
    scores = dict.fromkeys(PLATFORMS, 0.0)
    for probe in hits:
        weight = WEIGHTS[probe.marker.confidence]
        for platform, share in probe.shares:
            if probe.marker.corroborating_only and platform not in supported:
                continue
            scores[platform] += weight * share
    # sorted() is stable and scores is in canonical order: ties keep it.
    ranking = tuple(sorted(((p, s) for p, s in scores.items() if s > 0), key=lambda item: -item[1]))
    best, score = ranking[0] if ranking else (None, 0.0)
    return PlatformGuess(best, score, ranking, tuple(probe.marker.id for probe in hits), lines)
