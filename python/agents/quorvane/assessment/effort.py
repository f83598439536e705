"""The effort model: an estimate, in hours, of converting a code base.

* Each object, or each file without objects, costs the hours of its level
  (``hours``), plus ``hours_per_100_lines`` for every hundred effective
  lines; dynamic SQL adds ``dynamic_sql_surcharge`` times that.  The
  batches of a file that define no object (``kind == "batch"``) are one
  unit together: the highest of their levels, the sum of their lines.  A
  file costs its objects plus that unit; a file the inventory does not
  split (it is not installed, or the file is larger than
  ``single_file.UNIT_EFFORT_LIMIT``) costs as one unit.
* Each construct category found anywhere in the code base costs its
  learning hours once (``category_learning_hours``, else
  ``learning_hours``): a pattern repeated in 300 files is learnt once, not
  300 times.
* The total is the sum of both.

The weights are data: ``DEFAULT_WEIGHTS``, overridden key by key from
``[tool.quorvane.effort]`` of a pyproject.toml or a ``--config`` file (see
``config``).
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from agents.quorvane.assessment.record import LEVELS, Row

# The inventory's kind for statements that define no object.
BATCH = "batch"

DEFAULT_WEIGHTS: dict[str, Any] = {
    "hours": {"simple": 1.0, "moderate": 4.0, "complex": 12.0},
    "hours_per_100_lines": 0.5,
    "dynamic_sql_surcharge": 0.5,
    "learning_hours": 2.0,
    "category_learning_hours": {
        "cursor": 6.0,
        "merge": 4.0,
        "json_ops": 4.0,
        "stored_proc": 4.0,
        "window_function": 3.0,
        "temp_table": 2.0,
        "cte": 2.0,
        "date_function": 1.0,
        "string_ops": 1.0,
        "null_handling": 1.0,
        "type_cast": 1.0,
        "aggregation": 0.5,
        "join": 0.5,
        "query": 0.5,
    },
}


@dataclass(frozen=True)
class EffortModel:
    hours: Mapping[str, float]
    hours_per_100_lines: float
    dynamic_sql_surcharge: float
    learning_hours: float
    category_learning_hours: Mapping[str, float]

    @classmethod
    def from_weights(cls, weights: Mapping[str, Any]) -> EffortModel:
        return cls(
            hours={level: float(weights["hours"][level]) for level in LEVELS},
            hours_per_100_lines=float(weights["hours_per_100_lines"]),
            dynamic_sql_surcharge=float(weights["dynamic_sql_surcharge"]),
            learning_hours=float(weights["learning_hours"]),
            category_learning_hours={k: float(v) for k, v in weights["category_learning_hours"].items()},
        )

    def row_hours(self, row: Row) -> float | None:
        """The conversion hours of one object or file; None when it failed
        or for a batch."""
        if not row.ok or row.complexity is None:
            return None
        return self.unit_hours(row.object_kind, row.complexity, row.effective_lines, row.dynamic_sql)

    def unit_hours(
        self, kind: str | None, complexity: str, effective_lines: int | None, dynamic_sql: bool | None
    ) -> float | None:
        """The conversion hours of an object, file or batch (None) graded
        ``complexity``."""
        if kind == BATCH:
            return None
        hours = self.hours[complexity] + self.hours_per_100_lines * (effective_lines or 0) / 100
        if dynamic_sql:
            hours *= 1 + self.dynamic_sql_surcharge
        return round(hours, 2)

    def file_hours(self, file_row: Row, units: Sequence[Row]) -> float | None:
        """A file's hours: its objects' hours plus its batches as one unit;
        by its own grade when the inventory found no units.  Batch rows get
        no hours of their own (they are not objects)."""
        if not file_row.ok:
            return None
        if not units:
            return self.row_hours(file_row)
        hours = sum(u.effort_hours or 0.0 for u in units if u.object_kind != BATCH)
        batches = [u for u in units if u.object_kind == BATCH and u.ok and u.complexity]
        if batches:
            pooled = Row(
                file_row.path,
                complexity=max((b.complexity or LEVELS[0] for b in batches), key=LEVELS.index),
                effective_lines=sum(b.effective_lines or 0 for b in batches),
                dynamic_sql=any(b.dynamic_sql for b in batches),
            )
            hours += self.row_hours(pooled) or 0.0
        return round(hours, 2)

    def learning(self, categories: Iterable[str]) -> dict[str, float]:
        """The one-time learning hours of each category in use, sorted by name."""
        return {c: self.category_learning_hours.get(c, self.learning_hours) for c in sorted(set(categories))}


DEFAULT_MODEL = EffortModel.from_weights(DEFAULT_WEIGHTS)
