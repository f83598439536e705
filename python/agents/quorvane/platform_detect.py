"""Source-platform recognition for SQL scripts.

The platform vocabulary (the ten platform identifiers, :data:`PLATFORMS`,
the :class:`Marker`, :class:`Evidence` and :class:`Reading` records) lives
in :mod:`agents.quorvane.platforms`, which imports nothing of the package;
this module re-exports it.  The rows the detector reads are three plain
tables, read once when this module loads: the catalogue's markers
(:data:`MARKERS`, from :mod:`agents.quorvane.dialectra`) and the
detector's own readings and evidence rows (:data:`READINGS`,
:data:`EVIDENCE`, from :mod:`agents.quorvane._platform_evidence`).

Platform detection
------------------

:func:`detect_platform` works in two separate steps.  The *scan* finds, for
every row of :func:`scan_rows` (the catalogue's markers, then the detector's
evidence rows), the 1-based line of its first counted match, or 0.  The
*rule*, :func:`judge`, turns those lines into a :class:`PlatformGuess` and
sees nothing else of the text.

The scan:

1. The script is split once into code, comments and string literals.  A line
   comment runs from ``--`` to the end of its line and a block comment from
   ``/*`` to the nearest ``*/`` (or the end of the text); neither starts inside
   a quoted string.  Rows with scope ``"comment"`` search the whole text;
   every other row searches the text without its comments and ignores a
   match that begins inside a single-quoted string literal, since the
   contents of a literal are data (``relkind = 'r'``, ``LIKE '#%'``), not
   the script's own syntax.
2. Patterns match in multi-line mode and ignore case by Unicode simple case
   folding: the long s (U+017F) matches ``s`` and the Kelvin sign (U+212A)
   matches ``k``, while U+0130 and U+0131 match neither ``i`` nor ``I``.
3. A row's line is that of its first counted match (a match not discarded by
   step 1), counted from 1 in the original text, where LF, VT, FF, CR, CR LF,
   U+001C..U+001E, U+0085, U+2028 and U+2029 end a line (the lines of
   ``str.splitlines``).

The scan is native (:class:`agents.quorvane.dialectra.MarkerScanner`): the
catalogue and the evidence rows are compiled together once, on first use, by
the same machinery; one pass finds which rows' required words occur, and only
those are searched.

The rule:

1. **Weights.**  A matching catalogue marker weighs 2 when ``"high"`` and 1
   when ``"medium"``; an evidence row weighs what its row says (2 for a
   construct only its platforms document, 1 for supporting evidence).  A
   row counts once, however often it matches.
2. **Context cancels evidence.**  A row that names context rows
   (``cancelled_by``) counts for nothing when one of them matched on the same
   line or an earlier one: under a MySQL ``DELIMITER $$`` command, ``$$`` is
   the statement delimiter, not a PostgreSQL dollar-quoted body; under a
   Redshift ``CREATE EXTERNAL SCHEMA``, ``STORED AS PARQUET`` describes a
   Spectrum table, not a Hive one.
3. **Shared syntax counts for all who document it, as corroboration.**  Where
   the documentation of several platforms gives a catalogue marker's syntax
   as their own, its reading names all of them, makes it corroborating-only
   and gives it a ``"medium"`` marker's weight, like the catalogue's own
   ``shared`` markers (``#`` comments: MySQL and BigQuery; ``$$`` bodies:
   PostgreSQL, Redshift, Snowflake, Databricks).  A corroborating-only row
   adds its weight only to a platform that some counted row that is not
   corroborating-only names itself.  Syntax that a family of platforms
   documents as its own (PostgreSQL and Redshift: ``pg_catalog``,
   PL/pgSQL; Hive and Databricks: ``LATERAL VIEW``) is a row naming all of
   them at full weight: it tells the family, and only evidence peculiar to
   one member tells them apart.
4. **Compatibility.**  Syntax a platform accepts only for compatibility with
   another counts for it at half weight: a row's ``compatible`` platforms
   (Oracle's ``(+)`` outer join in Redshift and Snowflake; ``DUAL`` in
   MySQL), and Databricks for every row that names Hive (Spark SQL accepts
   Hive-format tables; :data:`DERIVED_PLATFORMS`) unless the row is marked
   as syntax Databricks does not accept (``STORED BY``,
   ``${hiveconf:...}``).  A half share never supports a platform for rule 3.
5. **Ranking.**  Platforms with a positive score are ranked by score, equal
   scores in the canonical order of :data:`PLATFORMS`.  The first is the
   guess.  No score at all gives the guess ``None``: the detector never
   guesses without evidence.
6. **Ties are reported, never resolved.**  When two or more platforms share
   the best score, the script's evidence does not decide between them:
   ``platform`` is ``None``, ``tied`` lists them (canonical order),
   ``score`` is their common score and ``confidence`` is ``"low"``.
   (``platform`` is thus ``None`` in two cases, told apart by ``ranking``:
   no evidence at all, or a tie.)
7. **Confidence of the guess** (``PlatformGuess.confidence``; not to be
   confused with a marker's ``confidence``, which grades the marker):

   * ``"high"``: the best score is at least 4 (two strong rows' worth) and the
     runner-up has at most half of it;
   * ``"low"``: a tie, a best score under 2 (no strong evidence), or a lead
     over the runner-up of less than 1 (half a strong row);
   * ``"medium"``: every other guess.

   A low-confidence guess is still named (except a tie); the flag says how
   far to trust it.  Without evidence, ``confidence`` is ``None``.

``matched`` lists every row whose pattern matched, in row order, whether or
not it counted (a corroborating-only row with nothing to corroborate, a row
its context cancelled); ``lines`` gives, parallel to it, each one's line.

"""

from __future__ import annotations

import functools
from collections.abc import Sequence
from dataclasses import dataclass
from itertools import compress
from typing import TYPE_CHECKING, Final

from agents.quorvane import _platform_evidence, dialectra
from agents.quorvane.platforms import (
    CONFIDENCE_LEVELS,
    PLATFORM_BIGQUERY,
    PLATFORM_DATABRICKS,
    PLATFORM_HIVE,
    PLATFORM_MYSQL,
    PLATFORM_ORACLE,
    PLATFORM_POSTGRESQL,
    PLATFORM_REDSHIFT,
    PLATFORM_SNOWFLAKE,
    PLATFORM_SQLSERVER,
    PLATFORM_TERADATA,
    PLATFORMS,
    SCOPE_COMMENT,
    Evidence,
    Marker,
    Reading,
)

if TYPE_CHECKING:
    from agents.quorvane.dialectra import MarkerScanner

__all__ = [
    "CONFIDENCE_LEVELS",
    "DERIVED_PLATFORMS",
    "EVIDENCE",
    "Evidence",
    "GUESS_CONFIDENCE_LEVELS",
    "MARKERS",
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
    "READINGS",
    "Reading",
    "SCOPE_COMMENT",
    "WEIGHTS",
    "detect_platform",
    "evidence",
    "first_lines",
    "judge",
    "markers",
    "readings",
    "scan_rows",
]

MARKERS: Final[tuple[Marker, ...]] = tuple(dialectra.PLATFORM_MARKERS)
EVIDENCE: Final[tuple[Evidence, ...]] = tuple(_platform_evidence.EVIDENCE)
READINGS: Final[tuple[Reading, ...]] = tuple(_platform_evidence.READINGS)


def markers() -> tuple[Marker, ...]:
    """The marker catalogue, in catalogue order (:data:`MARKERS`)."""
    return MARKERS


def evidence() -> tuple[Evidence, ...]:
    """The detector's own evidence rows, in table order (:data:`EVIDENCE`)."""
    return EVIDENCE


def readings() -> tuple[Reading, ...]:
    """How the detector reads catalogue markers (:data:`READINGS`)."""
    return READINGS


def scan_rows() -> tuple[Marker | Evidence, ...]:
    """Every row the scan looks for: the catalogue's markers in catalogue
    order, then the detector's evidence rows.  Each has ``id``, ``pattern``
    and ``scope``; :func:`judge` takes one first line per row, in this order.
    """
    return _SCAN_ROWS


# --- The rule ----------------------------------------------------------------

# Weight of a matching marker, by its confidence grade.
WEIGHTS: Final[dict[str, float]] = {"high": 2.0, "medium": 1.0}

# A derived platform accepts its parent's syntax: rows of the parent also
# count for it, at _INHERITED_SHARE of their weight, unless marked otherwise.
DERIVED_PLATFORMS: Final[dict[str, str]] = {PLATFORM_DATABRICKS: PLATFORM_HIVE}
_INHERITED_SHARE: Final = 0.5

# Confidence of a guess (rule 7), and the scores it is defined by.
GUESS_CONFIDENCE_LEVELS: Final[tuple[str, ...]] = ("high", "medium", "low")
_STRONG: Final = 2.0
_HIGH_SCORE: Final = 4.0
_LOW_MARGIN: Final = 1.0


@dataclass(frozen=True)
class PlatformGuess:
    """The outcome of :func:`detect_platform`.

    ``platform`` is the best-ranked platform, or ``None`` when no row gave
    any platform a score or when several share the best score; ``score`` is
    the best score (0.0 without evidence).  ``ranking`` holds every platform
    with a positive score, best first (equal scores in canonical order), as
    (platform, score) pairs.  ``matched`` holds the identifiers of all rows
    that matched, catalogue markers first, in row order, and ``lines``,
    parallel to it, the 1-based line of each one's first counted match.
    ``confidence`` is
    the guess's own confidence, "high", "medium" or "low" (``None`` without
    evidence); ``tied`` lists the platforms that share the best score when
    two or more do, in canonical order, and is empty otherwise.
    """

    platform: str | None
    score: float
    ranking: tuple[tuple[str, float], ...]
    matched: tuple[str, ...]
    lines: tuple[int, ...]
    confidence: str | None
    tied: tuple[str, ...] = ()


@dataclass(frozen=True)
class _RuleRow:
    id: str
    weight: float
    corroborating_only: bool
    # (platform, share of the weight) for every platform the row counts for
    shares: tuple[tuple[str, float], ...]
    # indexes of the rows whose match on the same line or before cancels this one
    cancelled_by: tuple[int, ...]


def _shares(
    platforms: tuple[str, ...], inherited: bool, compatible: tuple[str, ...]
) -> tuple[tuple[str, float], ...]:
    shares = [(p, 1.0) for p in platforms]
    halves = [p for p in compatible if p not in platforms]
    if inherited:
        halves += [child for child, parent in DERIVED_PLATFORMS.items() if parent in platforms and child not in platforms]
    shares += [(p, _INHERITED_SHARE) for p in PLATFORMS if p in halves]
    return tuple(shares)


def _build_rule() -> tuple[tuple[Marker | Evidence, ...], tuple[_RuleRow, ...]]:
    """Every row in scan order, and the rule's reading of each; ValueError
    when the tables do not fit together."""
    rows: tuple[Marker | Evidence, ...] = markers() + evidence()
    index = {row.id: i for i, row in enumerate(rows)}
    if len(index) != len(rows):
        raise ValueError("an evidence row repeats an identifier of the catalogue or of another row")
    by_marker: dict[str, Reading] = {}
    for reading in readings():
        if reading.marker not in index or index[reading.marker] >= len(markers()):
            raise ValueError(f"reading of {reading.marker!r}: no such catalogue marker")
        if reading.marker in by_marker:
            raise ValueError(f"reading of {reading.marker!r}: given twice")
        by_marker[reading.marker] = reading
    for row_id, context in [(r.marker, r.cancelled_by) for r in readings()] + [(e.id, e.cancelled_by) for e in evidence()]:
        missing = [c for c in context if c not in index]
        if missing:
            raise ValueError(f"row {row_id!r}: unknown context rows {missing!r}")
    compiled: list[_RuleRow] = []
    for row in rows:
        if isinstance(row, Marker):
            reading = by_marker.get(row.id, Reading(row.id, justification="as catalogued"))
            platforms = reading.platforms or row.platforms
            corroborating = row.corroborating_only if reading.corroborating_only is None else reading.corroborating_only
            # A marker read as shared syntax weighs what the catalogue's shared markers weigh.
            weight = WEIGHTS["medium"] if reading.corroborating_only else WEIGHTS[row.confidence]
            compiled.append(_RuleRow(
                row.id, weight, corroborating, _shares(platforms, reading.inherited, reading.compatible),
                tuple(index[c] for c in reading.cancelled_by),
            ))  # fmt: skip
        else:
            compiled.append(_RuleRow(
                row.id, row.weight, row.corroborating_only, _shares(row.platforms, row.inherited, row.compatible),
                tuple(index[c] for c in row.cancelled_by),
            ))  # fmt: skip
    return rows, tuple(compiled)


_SCAN_ROWS, _RULE_ROWS = _build_rule()


def judge(first_lines: Sequence[int]) -> PlatformGuess:
    """The guess for a script, from the line of each row's first counted
    match (0: no match), one per row of :func:`scan_rows` in that order.

    This is the whole rule (module documentation, "The rule"); it reads
    nothing else of the script.
    """
    rows = _RULE_ROWS
    if len(first_lines) != len(rows):
        raise ValueError(f"judge() needs {len(rows)} first lines, got {len(first_lines)}")
    # Few rows match a script: everything below walks those alone.
    hit = [i for i in compress(range(len(rows)), first_lines) if first_lines[i] > 0]
    counted = [
        rows[i] for i in hit
        if not any(0 < first_lines[c] <= first_lines[i] for c in rows[i].cancelled_by)
    ]  # fmt: skip
    supported = {p for row in counted if not row.corroborating_only for p, share in row.shares if share == 1.0}
    scores = dict.fromkeys(PLATFORMS, 0.0)
    for row in counted:
        for platform, share in row.shares:
            if row.corroborating_only and platform not in supported:
                continue
            scores[platform] += row.weight * share
    # sorted() is stable and scores is in canonical order: equal scores keep it.
    ranking = tuple(sorted(((p, s) for p, s in scores.items() if s > 0), key=lambda item: -item[1]))
    matched = tuple(rows[i].id for i in hit)
    lines = tuple(first_lines[i] for i in hit)
    if not ranking:
        return PlatformGuess(None, 0.0, (), matched, lines, None)
    best, score = ranking[0]
    runner_up = ranking[1][1] if len(ranking) > 1 else 0.0
    tied = tuple(p for p, s in ranking if s == score) if runner_up == score else ()
    if tied:
        return PlatformGuess(None, score, ranking, matched, lines, "low", tied)
    if score < _STRONG or score - runner_up < _LOW_MARGIN:
        confidence = "low"
    elif score >= _HIGH_SCORE and runner_up <= score / 2:
        confidence = "high"
    else:
        confidence = "medium"
    return PlatformGuess(best, score, ranking, matched, lines, confidence)


# --- Scanning: where each row first matches ---------------------------------


@functools.cache
def _scanner() -> MarkerScanner:
    """The native scanner over every row, built on first use."""
    return dialectra.MarkerScanner([(row.pattern, row.scope == SCOPE_COMMENT) for row in scan_rows()])


def first_lines(sql: str) -> tuple[int, ...]:
    """For each row of :func:`scan_rows`, the 1-based line of its first
    counted match in ``sql``, or 0 (the scan of the module documentation)."""
    return _scanner().first_lines(sql)


# --- Detection -------------------------------------------------------------


def detect_platform(sql: str) -> PlatformGuess:
    """Rank the platforms by the rows found in ``sql`` (rule above)."""
    if not isinstance(sql, str):
        raise TypeError(f"detect_platform() argument must be str, not {type(sql).__name__}")
    return judge(first_lines(sql))
