"""The effort model: an estimate, in hours, of converting a code base, as a
range (low, expected, high).

* **Size within a level.**  A unit (an object, or the batches of a file
  that define nothing, taken together) graded ``level`` with ``L``
  effective lines is expected to cost
  ``hours[level] + hours_per_line[level] * L ** line_exponent`` hours,
  times ``1 + dynamic_sql_surcharge`` when it builds and runs SQL text.  An
  exponent a little below 1 makes hours grow with size, a little slower
  than the lines (a long routine repeats its own patterns), so that large
  routines dominate the total while a small one costs little.
* **The range.**  ``low`` is the expected hours times ``1 - spread_low``;
  ``high`` is the expected hours times ``1 + spread_high``, widened by
  ``spread_dynamic_sql`` for dynamic SQL, ``spread_per_blocker`` per
  blocker (at most ``spread_blockers_max``) and ``spread_per_missing`` per
  name the unit references that the code base does not define (at most
  ``spread_missing_max``): what cannot be seen cannot be estimated.
* **Copies.**  A unit of a file that is a near-copy of another costs
  ``copy_review_hours`` (low, expected and high): it is reviewed, not
  converted again.  A second definition of an object costs nothing.
* **Learning.**  Each construct category found in the conversion work
  costs its learning hours once (``category_learning_hours``, else
  ``learning_hours``): a pattern repeated in 300 files is learnt once.

The weights are data: ``DEFAULT_WEIGHTS``, overridden key by key from
``[tool.quorvane.effort]`` of a pyproject.toml or a ``--config`` file (see
``config``).
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import Any

from agents.quorvane.assessment.record import LEVELS

# The inventory's kind for statements that define no object.
BATCH = "batch"

DEFAULT_WEIGHTS: dict[str, Any] = {
    "hours": {"simple": 0.1, "moderate": 0.5, "complex": 1.0},
    "hours_per_line": {"simple": 0.06, "moderate": 0.15, "complex": 0.3},
    "line_exponent": 0.8,
    "dynamic_sql_surcharge": 0.25,
    "copy_review_hours": 0.25,
    "spread_low": 0.25,
    "spread_high": 0.5,
    "spread_dynamic_sql": 0.5,
    "spread_per_blocker": 0.25,
    "spread_blockers_max": 1.0,
    "spread_per_missing": 0.1,
    "spread_missing_max": 0.5,
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
# Weights that are fractions or exponents: from 0 to 1, not to MAX_WEIGHT.
FRACTION_WEIGHTS = frozenset({"line_exponent", "spread_low"})
# Weights given per level.
LEVEL_WEIGHTS = ("hours", "hours_per_line")


@dataclass(frozen=True)
class Estimate:
    """Hours as a range: ``low <= expected <= high``."""

    low: float
    expected: float
    high: float

    def __add__(self, other: Estimate) -> Estimate:
        return Estimate(self.low + other.low, self.expected + other.expected, self.high + other.high)

    def rounded(self, digits: int | None = 1) -> Estimate:
        """Rounded to ``digits`` decimals; None: whole hours (integers)."""
        return Estimate(round(self.low, digits), round(self.expected, digits), round(self.high, digits))


NO_HOURS = Estimate(0.0, 0.0, 0.0)


@dataclass(frozen=True)
class EffortModel:
    hours: Mapping[str, float]
    hours_per_line: Mapping[str, float]
    line_exponent: float
    dynamic_sql_surcharge: float
    copy_review_hours: float
    spread_low: float
    spread_high: float
    spread_dynamic_sql: float
    spread_per_blocker: float
    spread_blockers_max: float
    spread_per_missing: float
    spread_missing_max: float
    learning_hours: float
    category_learning_hours: Mapping[str, float]

    @classmethod
    def from_weights(cls, weights: Mapping[str, Any]) -> EffortModel:
        values: dict[str, Any] = {}
        for key, value in weights.items():
            if key in LEVEL_WEIGHTS:
                values[key] = {level: float(value[level]) for level in LEVELS}
            elif key == "category_learning_hours":
                values[key] = {k: float(v) for k, v in value.items()}
            else:
                values[key] = float(value)
        return cls(**values)

    def expected(self, complexity: str, effective_lines: int | None, dynamic_sql: bool | None) -> float:
        """The expected hours of a unit graded ``complexity``."""
        lines = max(effective_lines or 0, 0)
        hours = self.hours[complexity] + self.hours_per_line[complexity] * float(lines) ** self.line_exponent
        return hours * (1 + self.dynamic_sql_surcharge) if dynamic_sql else hours

    def estimate(
        self,
        complexity: str,
        effective_lines: int | None,
        *,
        dynamic_sql: bool | None = False,
        blockers: int = 0,
        missing: int = 0,
    ) -> Estimate:
        """The range of a unit: its expected hours, widened for what makes
        the estimate uncertain."""
        expected = self.expected(complexity, effective_lines, dynamic_sql)
        widen = (
            self.spread_high
            + (self.spread_dynamic_sql if dynamic_sql else 0.0)
            + min(blockers * self.spread_per_blocker, self.spread_blockers_max)
            + min(missing * self.spread_per_missing, self.spread_missing_max)
        )
        return Estimate(expected * (1 - self.spread_low), expected, expected * (1 + widen))

    def copy_review(self) -> Estimate:
        return Estimate(self.copy_review_hours, self.copy_review_hours, self.copy_review_hours)

    def learning(self, categories: Iterable[str]) -> dict[str, float]:
        """The one-time learning hours of each category in use, sorted by name."""
        return {c: self.category_learning_hours.get(c, self.learning_hours) for c in sorted(set(categories))}


DEFAULT_MODEL = EffortModel.from_weights(DEFAULT_WEIGHTS)
