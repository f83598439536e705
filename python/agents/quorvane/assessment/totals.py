"""The totals of an ``analyze`` run.

Hours are whole hours, summed from the run's work items (so they are the
same with or without per-object rows).  Only the conversion bucket counts
towards the conversion hours and their waves; operations and tests are
counted apart.  Learning hours are those of the categories of the files
whose bucket is conversion.
"""

from __future__ import annotations

from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any

from agents.quorvane.assessment.buckets import BUCKETS, CONVERSION
from agents.quorvane.assessment.effort import EffortModel
from agents.quorvane.assessment.record import LEVELS, FileResult, Row, WorkItem

UNKNOWN_PLATFORM = "unknown"


@dataclass(frozen=True)
class Summary:
    files: int
    failed: int
    levels: dict[str, int]
    budgets: dict[str, int]
    platforms: dict[str, int]
    categories: dict[str, int]
    chunked: int
    effective_lines: int
    objects: int = 0
    object_levels: dict[str, int] = field(default_factory=dict)
    confidence: dict[str, int] = field(default_factory=dict)
    conversion_low: int = 0
    conversion_hours: int = 0
    conversion_high: int = 0
    learning_hours: dict[str, float] = field(default_factory=dict)
    unreadable_dirs: tuple[tuple[str, str], ...] = ()
    # Per bucket: files (by the file's bucket), items, low, hours, high.
    buckets: dict[str, dict[str, int]] = field(default_factory=dict)
    # The conversion work per wave: wave, items, low, hours, high.
    waves: tuple[dict[str, int], ...] = ()
    # Files that are near-copies of another, and items costed as duplicates.
    copies: int = 0
    duplicates: int = 0
    # Blocker kind -> {"count": blockers found, "files": the files, sorted};
    # most found first.
    blockers: dict[str, dict[str, Any]] = field(default_factory=dict)

    @property
    def analysed(self) -> int:
        return self.files - self.failed

    @property
    def learning(self) -> int:
        return round(sum(self.learning_hours.values()))

    @property
    def total_low(self) -> int:
        return self.conversion_low + self.learning

    @property
    def total_hours(self) -> int:
        return self.conversion_hours + self.learning

    @property
    def total_high(self) -> int:
        return self.conversion_high + self.learning


def _blocker_kinds(files: Sequence[Row]) -> dict[str, dict[str, Any]]:
    counts: Counter[str] = Counter()
    where: dict[str, set[str]] = {}
    for r in files:
        for b in r.blockers or ():
            counts[b.kind] += 1
            where.setdefault(b.kind, set()).add(r.path)
    return {kind: {"count": n, "files": sorted(where[kind])} for kind, n in _by_count(counts).items()}


def _by_count(counter: Counter[str]) -> dict[str, int]:
    return dict(sorted(counter.items(), key=lambda kv: (-kv[1], kv[0])))


def _hours(work: Sequence[WorkItem]) -> dict[str, int]:
    return {
        "items": len(work),
        "low": round(sum(w.low for w in work)),
        "hours": round(sum(w.hours for w in work)),
        "high": round(sum(w.high for w in work)),
    }


def summarize(
    results: Sequence[FileResult],
    *,
    effort: EffortModel | None = None,
    unreadable_dirs: Sequence[tuple[str, str]] = (),
) -> Summary:
    """The totals over ``results``, planned already (``work_plan``)."""
    good = [r.file for r in results if r.file.ok]
    levels = Counter(r.complexity for r in good)
    objects = [o for r in results for o in r.objects]
    object_levels = Counter(o.complexity for o in objects)
    categories = Counter(c for r in good for c in r.categories or ())
    work = [w for r in results for w in r.work]
    conversion = [w for w in work if w.bucket == CONVERSION]
    buckets = {}
    for bucket in BUCKETS:
        files = sum(r.bucket == bucket for r in good)
        buckets[bucket] = {"files": files, **_hours([w for w in work if w.bucket == bucket])}
    by_wave: dict[int, list[WorkItem]] = {}
    for w in conversion:
        by_wave.setdefault(w.wave, []).append(w)
    learnt = Counter(c for r in good if r.bucket in (None, CONVERSION) for c in r.categories or ())
    return Summary(
        files=len(results),
        failed=len(results) - len(good),
        levels={level: levels.get(level, 0) for level in LEVELS},
        budgets={
            "analysis": sum(r.analysis_turns or 0 for r in good),
            "conversion": sum(r.conversion_turns or 0 for r in good),
            "audit": sum(r.audit_turns or 0 for r in good),
        },
        platforms=_by_count(Counter(r.platform or ("tie" if r.platform_tied else UNKNOWN_PLATFORM) for r in good)),
        categories=_by_count(categories),
        chunked=sum(bool(r.chunked) for r in good),
        effective_lines=sum(r.effective_lines or 0 for r in good),
        objects=len(objects),
        object_levels={level: object_levels.get(level, 0) for level in LEVELS} if objects else {},
        confidence=_by_count(Counter(r.platform_confidence for r in good if r.platform_confidence)),
        conversion_low=buckets[CONVERSION]["low"],
        conversion_hours=buckets[CONVERSION]["hours"],
        conversion_high=buckets[CONVERSION]["high"],
        learning_hours=effort.learning(learnt) if effort is not None else {},
        unreadable_dirs=tuple(unreadable_dirs),
        buckets=buckets,
        waves=tuple({"wave": n, **_hours(by_wave[n])} for n in sorted(by_wave)),
        copies=sum(r.duplicate_of is not None for r in good),
        duplicates=sum(w.duplicate_of is not None for w in work),
        blockers=_blocker_kinds(good),
    )
