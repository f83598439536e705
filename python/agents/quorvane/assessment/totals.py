"""The totals of an ``analyze`` run."""

from __future__ import annotations

from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass

from agents.quorvane.assessment.record import LEVELS, UNKNOWN_PLATFORM, FileReport


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


def summarize(reports: Sequence[FileReport]) -> Summary:
    good = [r for r in reports if r.ok]
    levels = Counter(r.complexity for r in good)
    platforms = Counter(r.platform or UNKNOWN_PLATFORM for r in good)
    categories = Counter(c for r in good for c in r.categories)
    return Summary(
        files=len(reports),
        failed=len(reports) - len(good),
        levels={level: levels.get(level, 0) for level in LEVELS},
        budgets={
            "analysis": sum(r.analysis_turns for r in good),
            "conversion": sum(r.conversion_turns for r in good),
            "audit": sum(r.audit_turns for r in good),
        },
        platforms=dict(sorted(platforms.items(), key=lambda kv: (-kv[1], kv[0]))),
        categories=dict(sorted(categories.items(), key=lambda kv: (-kv[1], kv[0]))),
        chunked=sum(r.chunked for r in good),
        effective_lines=sum(r.effective_lines for r in good),
    )
