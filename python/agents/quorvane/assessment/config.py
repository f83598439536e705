"""The settings of ``quorvane analyze``: the ``[tool.quorvane]`` table of a
pyproject.toml, or a file given with ``--config``.

Without ``--config``, the nearest pyproject.toml in the current directory or
above it is read, if it has a ``[tool.quorvane]`` table.  A ``--config`` file
is either a pyproject.toml (its ``[tool.quorvane]`` table is used) or a TOML
file holding that table's keys at its top level.  Today the table has one
two keys, each optional: ``effort``, the weights of the effort model
(see ``effort``), each optional too, and ``buckets``, lists of globs that
put files into a bucket (see ``buckets``)::

    [tool.quorvane.effort]
    hours = { simple = 0.25, moderate = 1, complex = 3 }
    hours_per_line = { complex = 0.3 }
    line_exponent = 0.8
    spread_per_blocker = 0.25
    category_learning_hours = { cursor = 6, merge = 4 }

    [tool.quorvane.buckets]
    operations = ["jobs/**", "*_maintenance.sql"]
    conversion = ["etl/tests_fixtures/**"]

Unknown keys, values that are not numbers from 0 to ``MAX_WEIGHT`` (from 0
to 1 for ``line_exponent`` and ``spread_low``) and globs that are not
non-empty strings are errors: a typo never passes silently.  So is a file that is not a regular
file (``/dev/zero``, a FIFO, a directory), not UTF-8, not TOML, or nested
too deep for the reader; each error is one line naming the file and, where
there is one, the key.
"""

from __future__ import annotations

import copy
import os
import stat
import tomllib
from dataclasses import dataclass
from pathlib import Path
from typing import Any

from agents.quorvane import loresift
from agents.quorvane.assessment.buckets import BUCKETS, BucketRules
from agents.quorvane.assessment.effort import DEFAULT_WEIGHTS, FRACTION_WEIGHTS, LEVEL_WEIGHTS, EffortModel
from agents.quorvane.assessment.record import LEVELS


# The largest weight: far above any real estimate (a million hours), yet
# small enough that every sum of weights stays a finite number.
MAX_WEIGHT = 1_000_000


class ConfigError(Exception):
    """The settings file cannot be read or holds something unknown or invalid."""


def find_pyproject(start: Path) -> Path | None:
    for folder in (start, *start.parents):
        candidate = folder / "pyproject.toml"
        if candidate.is_file():
            return candidate
    return None


@dataclass(frozen=True)
class Settings:
    effort: EffortModel
    buckets: BucketRules
    source: str | None  # the file they came from (None: defaults)


def load_effort_model(config: str | None, start: Path | None = None) -> tuple[EffortModel, str | None]:
    """The effort model and the file its weights came from (None: defaults)."""
    settings = load_settings(config, start)
    return settings.effort, settings.source


def load_settings(config: str | None, start: Path | None = None) -> Settings:
    """The settings of ``config``, else of the nearest pyproject.toml."""
    if config is not None:
        table = _quorvane_table(Path(config), explicit=True)
        source: str | None = config
    else:
        found = find_pyproject(start or Path(os.getcwd()))
        table = _quorvane_table(found, explicit=False) if found else {}
        source = str(found) if table else None
    unknown = set(table) - {"effort", "buckets"}
    if unknown:
        raise ConfigError(f"{source}: unknown key(s) in [tool.quorvane]: {', '.join(sorted(unknown))}")
    effort = EffortModel.from_weights(_merge_effort(table.get("effort", {}), source))
    return Settings(effort, _buckets(table.get("buckets", {}), source), source)


def _buckets(table: Any, source: str | None) -> BucketRules:
    where = f"{source}: buckets"
    if not isinstance(table, dict):
        raise ConfigError(f"{where} must be a table")
    globs: dict[str, tuple[str, ...]] = {}
    for bucket, value in table.items():
        if bucket not in BUCKETS:
            raise ConfigError(f"{where}: unknown bucket {bucket!r} (known: {', '.join(BUCKETS)})")
        if not isinstance(value, list) or not all(isinstance(g, str) and g for g in value):
            raise ConfigError(f"{where}.{bucket} must be a list of globs (non-empty strings)")
        globs[bucket] = tuple(value)
    return BucketRules(globs)


def _read_regular_file(path: Path) -> bytes:
    """The bytes of ``path``, refused unless it is a regular file: a device
    or a FIFO could be read for ever.  Opened without blocking, so that a
    FIFO with no writer is refused rather than waited for."""
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0))
    with os.fdopen(fd, "rb") as fh:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise ConfigError(f"{path}: not a regular file")
        return fh.read()


def _quorvane_table(path: Path, *, explicit: bool) -> dict[str, Any]:
    try:
        data = tomllib.loads(_read_regular_file(path).decode("utf-8"))
    except OSError as exc:
        raise ConfigError(f"{path}: {exc.strerror or exc}") from None
    except UnicodeDecodeError as exc:
        raise ConfigError(f"{path}: not UTF-8 (byte {exc.start})") from None
    except tomllib.TOMLDecodeError as exc:
        raise ConfigError(f"{path}: not valid TOML: {exc}") from None
    except RecursionError:
        raise ConfigError(f"{path}: not valid TOML: nested too deep") from None
    except ValueError as exc:  # an integer too long to convert
        raise ConfigError(f"{path}: not valid TOML: {exc}") from None
    tool = data.get("tool")
    if isinstance(tool, dict) and "quorvane" in tool:
        table = tool["quorvane"]
    elif explicit and path.name != "pyproject.toml":
        table = data
    else:
        return {}
    if not isinstance(table, dict):
        raise ConfigError(f"{path}: [tool.quorvane] must be a table")
    return table


def _number(value: Any, where: str, top: int = MAX_WEIGHT) -> float:
    # A comparison that fails for nan; an integer of any length compares
    # exactly, before it is made a float.
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not 0 <= value <= top:
        shown = repr(value)
        if len(shown) > 40:
            shown = shown[:20] + "..." + shown[-10:]
        raise ConfigError(f"{where} must be a number from 0 to {top}, not {shown}")
    return float(value)


def _merge_effort(effort: Any, source: str | None) -> dict[str, Any]:
    where = f"{source}: effort"
    if not isinstance(effort, dict):
        raise ConfigError(f"{where} must be a table")
    weights = copy.deepcopy(DEFAULT_WEIGHTS)
    for key, value in effort.items():
        if key not in weights:
            raise ConfigError(f"{where}: unknown key {key!r} (known: {', '.join(sorted(weights))})")
        if key in LEVEL_WEIGHTS:
            if not isinstance(value, dict):
                raise ConfigError(f"{where}.{key} must be a table of levels")
            for level, hours in value.items():
                if level not in LEVELS:
                    raise ConfigError(f"{where}.{key}: unknown level {level!r} (known: {', '.join(LEVELS)})")
                weights[key][level] = _number(hours, f"{where}.{key}.{level}")
        elif key == "category_learning_hours":
            if not isinstance(value, dict):
                raise ConfigError(f"{where}.category_learning_hours must be a table of categories")
            known = set(loresift._CATEGORY_PATTERNS)
            for category, hours in value.items():
                if category not in known:
                    raise ConfigError(
                        f"{where}.category_learning_hours: unknown category {category!r} "
                        f"(known: {', '.join(sorted(known))})"
                    )
                weights[key][category] = _number(hours, f"{where}.category_learning_hours.{category}")
        else:
            weights[key] = _number(value, f"{where}.{key}", 1 if key in FRACTION_WEIGHTS else MAX_WEIGHT)
    return weights
