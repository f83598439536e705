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
   the script's own syntax.
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

Patterns are compiled once, on first use, with ignore-case and multi-line
matching; each is searched at most once per text (again past a match inside a
string literal).  A cheap test for the words a pattern cannot match without
skips most searches.
"""

from __future__ import annotations

import bisect
import functools
import re
from dataclasses import dataclass
from typing import Any, Final

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
    that found no platform to corroborate.
    """

    platform: str | None
    score: float
    ranking: tuple[tuple[str, float], ...]
    matched: tuple[str, ...]


# --- Splitting a script into code, comments and string literals -----------

_LEXEME_OPENER: Final = re.compile(r"--|/\*|['\"]")


def _code_view(sql: str) -> tuple[str, list[int], list[int]]:
    """The text without comments, and the start and end offsets (in that
    text) of its single-quoted string literals.

    Quoted strings and identifiers are kept whole, so a ``--`` or ``/*``
    inside quotes opens no comment; a doubled quote character inside quotes
    stands for itself.  An unterminated comment or quoted string runs to the
    end of the text.
    """
    parts: list[str] = []
    starts: list[int] = []
    ends: list[int] = []
    size = len(sql)
    out_len = 0
    pos = 0
    search = _LEXEME_OPENER.search
    while (m := search(sql, pos)) is not None:
        i = m.start()
        if i > pos:
            parts.append(sql[pos:i])
            out_len += i - pos
        opener = m.group()
        if opener == "--":
            end = sql.find("\n", i)  # the line break itself stays
            pos = size if end < 0 else end
            continue
        if opener == "/*":
            end = sql.find("*/", i + 2)
            pos = size if end < 0 else end + 2
            continue
        scan = i + 1
        while True:
            close = sql.find(opener, scan)
            if close < 0:
                end = size
                break
            if sql.startswith(opener, close + 1):
                scan = close + 2
                continue
            end = close + 1
            break
        parts.append(sql[i:end])
        if opener == "'":
            starts.append(out_len)
            ends.append(out_len + end - i)
        out_len += end - i
        pos = end
    parts.append(sql[pos:])
    return "".join(parts), starts, ends


# --- Compiled markers --------------------------------------------------------

# Under ignore-case matching four non-ASCII characters match an ASCII letter:
# U+0130 and U+0131 match "i", U+017F "s" and U+212A "k".  Folding maps them to
# that letter (str.lower() alone would turn U+0130 into two characters), so the
# word test below never rejects a text that the pattern matches.
def _fold(text: str) -> str:
    if text.isascii():
        return text.lower()
    return text.replace("\u0130", "i").lower().replace("\u0131", "i").replace("\u017f", "s")


def _required_literals(pattern: str) -> tuple[frozenset[str], ...]:
    """Words that any match of ``pattern`` must contain, lower-cased.

    The result is a conjunction of alternatives: every match contains, for
    each set, at least one of its strings.  It is derived from the parsed
    pattern conservatively (only literal runs outside optional parts,
    repeats of at least one and branches that all yield a literal); an empty
    result means nothing is known and the pattern is always searched.
    """
    try:
        from re import _constants as sre, _parser as parser  # type: ignore[attr-defined]

        tree = parser.parse(pattern, re.IGNORECASE | re.MULTILINE)
        repeats = {sre.MAX_REPEAT, sre.MIN_REPEAT, getattr(sre, "POSSESSIVE_REPEAT", sre.MAX_REPEAT)}

        def walk(items: Any) -> list[frozenset[str]]:
            found: list[frozenset[str]] = []
            run: list[str] = []

            def close_run() -> None:
                if run:
                    found.append(frozenset({"".join(run)}))
                    run.clear()

            for op, arg in items:
                if op is sre.LITERAL and arg < 0x80:
                    run.append(chr(arg).lower())
                    continue
                close_run()
                if op is sre.SUBPATTERN:
                    found.extend(walk(arg[-1]))
                elif op in repeats and arg[0] >= 1:
                    found.extend(walk(arg[2]))
                elif op is sre.BRANCH:
                    picks = []
                    for branch in arg[1]:
                        words = [next(iter(s)) for s in walk(branch) if len(s) == 1]
                        if not words:
                            break
                        picks.append(max(words, key=len))
                    else:
                        found.append(frozenset(picks))
            close_run()
            return found

        return tuple(walk(tree))
    except Exception:  # an optimisation only: without it, the pattern is always searched
        return ()


@dataclass(frozen=True)
class _Probe:
    marker: Marker
    regex: re.Pattern[str]
    required: tuple[frozenset[str], ...]
    # (platform, share of the marker's weight) for every platform it counts for
    shares: tuple[tuple[str, float], ...]

    def may_match(self, folded: str) -> bool:
        return all(any(word in folded for word in words) for words in self.required)


def _shares(marker: Marker) -> tuple[tuple[str, float], ...]:
    shares = [(p, 1.0) for p in marker.platforms]
    for child, parent in DERIVED_PLATFORMS.items():
        if parent in marker.platforms and child not in marker.platforms:
            shares.append((child, _INHERITED_SHARE))
    return tuple(shares)


@functools.cache
def _probes() -> tuple[_Probe, ...]:
    return tuple(
        _Probe(m, re.compile(m.pattern, re.IGNORECASE | re.MULTILINE), _required_literals(m.pattern), _shares(m))
        for m in markers()
    )


def _found_in_code(regex: re.Pattern[str], code: str, lit_starts: list[int], lit_ends: list[int]) -> bool:
    pos = 0
    while (m := regex.search(code, pos)) is not None:
        k = bisect.bisect_right(lit_starts, m.start()) - 1
        if k < 0 or m.start() >= lit_ends[k]:
            return True
        # Inside a literal: no match starting there counts, so go on past it.
        pos = lit_ends[k]
    return False


# --- Detection -------------------------------------------------------------


def detect_platform(sql: str) -> PlatformGuess:
    """Rank the platforms by the markers found in ``sql`` (rule above)."""
    if not isinstance(sql, str):
        raise TypeError(f"detect_platform() argument must be str, not {type(sql).__name__}")
    probes = _probes()
    code, lit_starts, lit_ends = _code_view(sql)
    folded_code = _fold(code)
    folded_full: str | None = None
    hits: list[_Probe] = []
    for probe in probes:
        if probe.marker.scope == SCOPE_COMMENT:
            if folded_full is None:
                folded_full = _fold(sql)
            if probe.may_match(folded_full) and probe.regex.search(sql):
                hits.append(probe)
        elif probe.may_match(folded_code) and _found_in_code(probe.regex, code, lit_starts, lit_ends):
            hits.append(probe)
    return _rank(hits)


def _rank(hits: list[_Probe]) -> PlatformGuess:
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
    return PlatformGuess(best, score, ranking, tuple(probe.marker.id for probe in hits))
