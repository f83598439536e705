"""The totals of an ``analyze`` run."""

from __future__ import annotations

from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any

from agents.quorvane.assessment.effort import EffortModel
from agents.quorvane.assessment.record import LEVELS, FileResult, Row

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
    conversion_hours: float = 0.0
    learning_hours: dict[str, float] = field(default_factory=dict)
    unreadable_dirs: tuple[tuple[str, str], ...] = ()
    # Blocker kind -> {"count": blockers found, "files": the files, sorted};
    # most found first.
    blockers: dict[str, dict[str, Any]] = field(default_factory=dict)

    @property
    def analysed(self) -> int:
        return self.files - self.failed

    @property
    def total_hours(self) -> float:
        return round(self.conversion_hours + sum(self.learning_hours.values()), 2)


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


def summarize(
    results: Sequence[FileResult],
    *,
    effort: EffortModel | None = None,
    unreadable_dirs: Sequence[tuple[str, str]] = (),
) -> Summary:
    """The totals over ``results``, whose ``effort_hours`` are already set
    (a file's hours are the sum of its units', so the totals are the same
    with or without per-object rows)."""
    good = [r.file for r in results if r.file.ok]
    levels = Counter(r.complexity for r in good)
    objects = [o for r in results for o in r.objects]
    object_levels = Counter(o.complexity for o in objects)
    categories = Counter(c for r in good for c in r.categories or ())
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
        conversion_hours=round(sum(r.effort_hours or 0.0 for r in good), 2),
        learning_hours=effort.learning(categories) if effort is not None else {},
        unreadable_dirs=tuple(unreadable_dirs),
        blockers=_blocker_kinds(good),
    )
