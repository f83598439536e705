"""What ``quorvane analyze`` reports: one row per file, or per object with
``--objects``.

The row is the single source of every output format.  ``FIELDS`` fixes its
keys and their order; every row has all of them, with ``None`` where a value
does not apply (a failed file, a file-level row's object fields, a
detection that was skipped).  The writers only change how a value is
spelled, never which values there are.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any

# Raised when a field is added, removed, renamed or changes meaning.
SCHEMA_VERSION = 2

LEVELS = ("simple", "moderate", "complex")


@dataclass(frozen=True)
class Hotspot:
    """A finding that makes a text harder to convert, at the line (1-based)
    of its first occurrence.  ``kind`` is what the classifier counts
    ("complex", "moderate", "stored_proc"), "category" (a construct
    category) or "platform" (evidence of the source platform); ``name`` is
    the construct, category key or marker identifier."""

    line: int
    kind: str
    name: str

    def to_json(self) -> dict[str, Any]:
        return {"line": self.line, "kind": self.kind, "name": self.name}


# The longest construct text a blocker keeps; longer text is cut with "…".
BLOCKER_TEXT_LIMIT = 120


@dataclass(frozen=True)
class Blocker:
    """A construct with no mechanical equivalent on Spark: its kind (an
    identifier of the blocker catalogue), its line (1-based) and the
    construct as written on that line, trimmed and cut to
    ``BLOCKER_TEXT_LIMIT`` characters."""

    kind: str
    line: int
    text: str

    def to_json(self) -> dict[str, Any]:
        return {"kind": self.kind, "line": self.line, "text": self.text}


# The row's keys, in output order.
FIELDS = (
    "schema_version",
    "path",
    "status",
    "error",
    "object_kind",
    "object_name",
    "start_line",
    "end_line",
    "encoding",
    "encoding_guessed",
    "complexity",
    "effective_lines",
    "stored_proc_count",
    "complex_construct_count",
    "moderate_construct_count",
    "temp_table_count",
    "cte_count",
    "analysis_turns",
    "conversion_turns",
    "audit_turns",
    "total_lines",
    "chunked",
    "sections",
    "categories",
    "dynamic_sql",
    "platform",
    "platform_score",
    "platform_confidence",
    "platform_tied",
    "platform_ranking",
    "platform_markers",
    "hotspots",
    "blockers",
    "effort_lines",
    "effort_low",
    "effort_hours",
    "effort_high",
    "bucket",
    "duplicate_of",
    "wave",
)


@dataclass(frozen=True)
class Row:
    """One output row.  ``error`` is set when the file could not be analysed;
    the analysis fields are then ``None`` (or empty)."""

    path: str
    error: str | None = None
    object_kind: str | None = None
    object_name: str | None = None
    start_line: int | None = None
    end_line: int | None = None
    encoding: str | None = None
    encoding_guessed: bool | None = None
    complexity: str | None = None
    effective_lines: int | None = None
    stored_proc_count: int | None = None
    complex_construct_count: int | None = None
    moderate_construct_count: int | None = None
    temp_table_count: int | None = None
    cte_count: int | None = None
    analysis_turns: int | None = None
    conversion_turns: int | None = None
    audit_turns: int | None = None
    total_lines: int | None = None
    chunked: bool | None = None
    sections: int | None = None
    categories: tuple[str, ...] | None = None
    dynamic_sql: bool | None = None
    platform: str | None = None
    platform_score: float | None = None
    platform_confidence: str | None = None
    platform_tied: tuple[str, ...] | None = None
    platform_ranking: tuple[tuple[str, float], ...] | None = None
    platform_markers: tuple[str, ...] | None = None
    hotspots: tuple[Hotspot, ...] | None = None
    blockers: tuple[Blocker, ...] | None = None
    effort_lines: int | None = None
    effort_low: float | None = None
    effort_hours: float | None = None
    effort_high: float | None = None
    bucket: str | None = None
    duplicate_of: str | None = None
    wave: int | None = None

    @property
    def ok(self) -> bool:
        return self.error is None

    @property
    def status(self) -> str:
        return "ok" if self.error is None else "error"

    def to_record(self) -> dict[str, Any]:
        """The row as plain JSON values, keys in ``FIELDS`` order."""
        values: dict[str, Any] = {"schema_version": SCHEMA_VERSION, "status": self.status}
        record = {}
        for name in FIELDS:
            value = values[name] if name in values else getattr(self, name)
            if name in ("hotspots", "blockers") and value is not None:
                value = [h.to_json() for h in value]
            elif name == "platform_ranking" and value is not None:
                value = [[p, s] for p, s in value]
            elif isinstance(value, tuple):
                value = list(value)
            record[name] = value
        return record


@dataclass(frozen=True)
class WorkItem:
    """One line of the work plan: an object, or the batches of one file
    that define nothing and share a bucket, costed as one unit.
    ``depends_on`` names the defined objects it needs (``kind:name``),
    ``missing`` the names it references that nothing defines."""

    path: str
    kind: str | None
    name: str | None
    start_line: int | None
    end_line: int | None
    bucket: str
    complexity: str
    effective_lines: int
    effort_lines: int
    low: float
    hours: float
    high: float
    wave: int
    duplicate_of: str | None = None
    blockers: tuple[Blocker, ...] = ()
    depends_on: tuple[str, ...] = ()
    missing: tuple[str, ...] = ()


@dataclass(frozen=True)
class FileResult:
    """What the analysis of one file gives: its file-level row, one row per
    unit the inventory finds (objects, and batches of statements that define
    nothing; empty without the inventory), the inventory's records of those
    units (``agents.quorvane.inventory.SqlObject``), and the source lines
    around each hotspot (line number -> text), kept only for the HTML page;
    and the databases and schemas the file creates or switches to, or defines
    objects in (case-folded), which decide which three-part names leave the
    code base.

    ``costs`` holds what the estimate needs of each unit (the ``objects``
    themselves when they were kept; a bare row per unit otherwise, or the
    file's row alone when the file was not split), ``signature`` the
    fingerprints of its units (equal for near-identical files), and
    ``work`` the costed units once the whole run is planned."""

    file: Row
    objects: tuple[Row, ...] = ()
    units: tuple[Any, ...] = ()
    context: dict[int, str] = field(default_factory=dict)
    databases: frozenset[str] = frozenset()
    schemas: frozenset[str] = frozenset()
    costs: tuple[Row, ...] = ()
    signature: tuple[int, ...] = ()
    work: tuple[WorkItem, ...] = ()

    @property
    def path(self) -> str:
        return self.file.path

    def rows(self, per_object: bool) -> tuple[Row, ...]:
        """The output rows: the objects when asked for and found, else the file."""
        if per_object and self.objects:
            return self.objects
        return (self.file,)
