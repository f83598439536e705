"""What ``quorvane analyze`` reports for one file."""

from __future__ import annotations

import dataclasses
from dataclasses import dataclass
from typing import Any

LEVELS = ("simple", "moderate", "complex")
UNKNOWN_PLATFORM = "unknown"


@dataclass(frozen=True)
class FileReport:
    """Everything ``analyze`` reports for one file; ``error`` is set (and
    the other fields are empty) when the file could not be analysed."""

    path: str
    error: str | None = None
    complexity: str | None = None
    effective_lines: int = 0
    stored_proc_count: int = 0
    complex_construct_count: int = 0
    moderate_construct_count: int = 0
    temp_table_count: int = 0
    cte_count: int = 0
    analysis_turns: int = 0
    conversion_turns: int = 0
    audit_turns: int = 0
    total_lines: int = 0
    chunked: bool = False
    sections: int = 0
    categories: tuple[str, ...] = ()
    platform: str | None = None
    platform_score: float = 0.0
    platform_ranking: tuple[tuple[str, float], ...] = ()
    platform_markers: tuple[str, ...] = ()

    @property
    def ok(self) -> bool:
        return self.error is None

    def to_json(self) -> dict[str, Any]:
        if self.error is not None:
            return {"path": self.path, "status": "error", "error": self.error}
        record: dict[str, Any] = {"path": self.path, "status": "ok"}
        for f in dataclasses.fields(self):
            if f.name not in ("path", "error"):
                record[f.name] = getattr(self, f.name)
        record["categories"] = list(self.categories)
        record["platform_ranking"] = [list(item) for item in self.platform_ranking]
        record["platform_markers"] = list(self.platform_markers)
        return record
