"""A query log's workload: statements grouped by fingerprint, with each
template's count, share, users, first and last time seen and the analysis
of its first text; levels weighted by count, hot tables, suspected
truncation, bad rows and, against a code base, the objects nothing uses and
the references it does not define.

Memory grows with the number of templates, not of rows: a log is read in
batches, each fingerprinted in one native call, and only per-template
totals are kept (distinct users in a DistinctCount, at most a few kilobytes
each; at most MAX_LISTED bad row numbers and truncated rows).
"""

from __future__ import annotations

import datetime as dt
from collections import Counter
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, field
from typing import Any

from agents.quorvane import inventory
from agents.quorvane.assessment.dependencies import UNREFERENCED_KINDS, Unit, _Names, is_system_name
from agents.quorvane.assessment.distinct_count import DistinctCount
from agents.quorvane.assessment.query_logs import Batch, Unreadable
from agents.quorvane.assessment.record import LEVELS
from agents.quorvane.assessment.statements import ANALYSIS_FIELDS, ROUND_LENGTHS, analyze_statement, truncation_reason
from agents.quorvane.inventory import FingerprintBatch

SCHEMA_VERSION = 1
MAX_LISTED = 10_000
HOT_TABLES = 25
# Times of one of these types compare with another of the same type as
# _time_key orders them.
_PLAIN_TIMES = frozenset({str, int, float})
_UNTERMINATED, _BLANK, _NOT_TEXT = FingerprintBatch.UNTERMINATED, FingerprintBatch.BLANK, FingerprintBatch.NOT_TEXT


@dataclass
class Template:
    fingerprint: int
    template: str
    analysis: dict[str, Any]
    count: int = 0
    users: DistinctCount = field(default_factory=DistinctCount)
    batch_users: set[str] = field(default_factory=set)  # this batch's, before they join `users`
    first_seen: Any = None
    last_seen: Any = None

    def seen(self, when: Any) -> None:
        """Widens first and last seen to take in ``when``."""
        if self.first_seen is None or _time_key(when) < _time_key(self.first_seen):
            self.first_seen = when
        if self.last_seen is None or _time_key(when) > _time_key(self.last_seen):
            self.last_seen = when


def _time_key(value: Any) -> tuple[int, Any]:
    """Times compare as numbers, as date-times, or else as their text."""
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return (0, value)
    if isinstance(value, dt.datetime):
        return (1, value if value.tzinfo else value.replace(tzinfo=dt.timezone.utc))
    if isinstance(value, dt.date):
        return (1, dt.datetime(value.year, value.month, value.day, tzinfo=dt.timezone.utc))
    return (2, str(value))


def _spell_time(value: Any) -> Any:
    if isinstance(value, (dt.datetime, dt.date)):
        return value.isoformat()
    return value


def text_problem(value: Any) -> tuple[str | None, str | None]:
    """(text, None) for a usable statement, else (None, why not)."""
    if isinstance(value, str):
        return (value, None) if value.strip() else (None, "empty")
    if value is None:
        return None, "null"
    if isinstance(value, Unreadable):
        return None, value.problem
    if isinstance(value, (bytes, bytearray, memoryview)):
        try:
            text = bytes(value).decode("utf-8")
        except UnicodeDecodeError:
            return None, "undecodable"
        return (text, None) if text.strip() else (None, "empty")
    return None, "not text"


def parse_count(value: Any) -> int | None:
    """A row's count: a whole number of at least 0, else None."""
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return value if value >= 0 else None
    if isinstance(value, float):
        return int(value) if value.is_integer() and value >= 0 else None
    if isinstance(value, str):
        try:
            number = int(value.strip())
        except ValueError:
            return None
        return number if number >= 0 else None
    return None


class Workload:
    """Per-template totals of the rows added so far."""

    def __init__(self, platform: str | None = None) -> None:
        self.platform = platform
        self.templates: dict[int, Template] = {}
        self.rows = 0
        self.statements = 0
        self.bad_rows = 0
        self.bad_row_numbers: list[int] = []
        self.bad_problems: Counter[str] = Counter()
        self.truncated = 0
        self.truncated_rows: list[dict[str, Any]] = []
        self.has_users = False
        self.has_times = False
        self.logs: list[str] = []

    def _bad(self, number: int | None, problem: str) -> None:
        self.bad_rows += 1
        self.bad_problems[problem] += 1
        if number is not None and len(self.bad_row_numbers) < MAX_LISTED:
            self.bad_row_numbers.append(number)

    def add(self, batch: Batch, offset: int = 0) -> None:
        """Adds one batch; ``offset`` is the number of rows of the logs read
        before this one, so that row numbers run on across logs."""
        texts, counts, users, times = batch.texts, batch.counts, batch.users, batch.times
        self.has_users = self.has_users or users is not None
        self.has_times = self.has_times or times is not None
        for _ in range(batch.malformed):
            self._bad(None, "malformed")
        self.rows += len(texts) + batch.malformed
        first = offset + batch.first_row
        # Every str of the batch in one native call; only the template of
        # each hash's first row comes back as a string.
        batch_fps = inventory.fingerprint_many(texts, platform=self.platform)
        hashes = memoryview(batch_fps.hashes).cast("Q")
        shapes = batch_fps.templates
        templates = self.templates
        touched: list[Template] = []
        for i, flag in enumerate(batch_fps.flags):
            if flag == _BLANK:
                self._bad(first + i, "empty")
                continue
            if flag == _NOT_TEXT:  # bytes to decode, a reader's note, a number, ...
                text, problem = text_problem(texts[i])
                if text is None:
                    self._bad(first + i, problem or "")
                    continue
                fp = inventory.fingerprint(str(text), platform=self.platform)
                h, unterminated = fp.hash, fp.unterminated
                shapes.setdefault(h, (i, fp.template))
            else:
                text, h, unterminated = texts[i], hashes[i], flag == _UNTERMINATED
            count = 1
            if counts is not None:
                count = counts[i]
                if type(count) is not int or count < 0:
                    count = parse_count(count)  # type: ignore[assignment]
                    if count is None:
                        self._bad(first + i, "bad count")
                        continue
            if unterminated or len(text) in ROUND_LENGTHS:
                self._truncated(first + i, text, unterminated)
                continue
            t = templates.get(h)
            if t is None:
                t = templates[h] = Template(h, shapes[h][1], analyze_statement(text, self.platform))
            t.count += count
            self.statements += count
            if users is not None and users[i] is not None:
                if not t.batch_users:
                    touched.append(t)
                t.batch_users.add(str(users[i]))
            if times is not None and (when := times[i]) is not None:
                lo, hi = t.first_seen, t.last_seen
                kind = type(when)
                if kind is type(lo) and kind is type(hi) and kind in _PLAIN_TIMES:  # they compare as themselves
                    if when < lo:
                        t.first_seen = when
                    elif when > hi:
                        t.last_seen = when
                else:
                    t.seen(when)
        for t in touched:
            t.users.update(t.batch_users)
            t.batch_users.clear()

    def _truncated(self, number: int, text: str, unterminated: bool) -> None:
        self.truncated += 1
        if len(self.truncated_rows) < MAX_LISTED:
            reason = truncation_reason(len(text), unterminated)
            self.truncated_rows.append({"row": number, "length": len(text), "reason": reason})


def _ordered(templates: Iterable[Template]) -> list[Template]:
    return sorted(templates, key=lambda t: (-t.count, t.template))


def template_row(t: Template, statements: int, has_users: bool, has_times: bool) -> dict[str, Any]:
    row: dict[str, Any] = {
        "fingerprint": t.fingerprint,
        "template": t.template,
        "count": t.count,
        "share": round(t.count / statements, 6) if statements else 0.0,
        "users": len(t.users) if has_users else None,
        "first_seen": _spell_time(t.first_seen) if has_times else None,
        "last_seen": _spell_time(t.last_seen) if has_times else None,
    }
    for name in ANALYSIS_FIELDS:
        row[name] = t.analysis[name]
    return row


def _hot_tables(templates: Sequence[Template]) -> list[dict[str, Any]]:
    hits: Counter[str] = Counter()
    spelling: dict[str, str] = {}
    for t in templates:
        seen = set()
        for name in (*t.analysis["reads"], *t.analysis["writes"]):
            key = name.casefold()
            if key in seen:
                continue
            seen.add(key)
            spelling.setdefault(key, name)
            hits[key] += t.count
    ranked = sorted(hits.items(), key=lambda kv: (-kv[1], kv[0]))[:HOT_TABLES]
    return [{"table": spelling[k], "statements": n} for k, n in ranked]


def code_comparison(templates: Sequence[Template], units: Sequence[Unit]) -> dict[str, Any]:
    """The code base's objects no statement references, and the statements'
    references the code base does not define (the server's own left out)."""
    names = _Names(units)
    used: set[int] = set()
    undefined: dict[str, dict[str, Any]] = {}
    for t in templates:
        for kind in ("reads", "writes", "calls"):
            for name in t.analysis[kind]:
                found = names.resolve(name)
                if found:
                    used.update(found)
                    continue
                if is_system_name(name, kind) or name.startswith("#"):
                    continue
                entry = undefined.setdefault(name.casefold(), {"name": name, "kinds": set(), "statements": 0})
                entry["kinds"].add(kind)
                entry["statements"] += t.count
    unused: dict[str, dict[str, Any]] = {}
    for i, u in enumerate(units):
        if i in used or u.obj.kind in UNREFERENCED_KINDS or not u.obj.name:
            continue
        key = names.key(u.obj.name) or ""
        if any(j in used for j in names.qualified.get(key, ())):
            continue  # another definition of the same name is used
        unused.setdefault(key, {"name": u.obj.name, "kind": u.obj.kind, "path": u.path, "line": u.obj.start_line})
    return {
        "objects": sum(1 for u in units if u.obj.kind not in UNREFERENCED_KINDS and u.obj.name),
        "unused": sorted(unused.values(), key=lambda e: e["name"].casefold()),
        "undefined": [
            {**e, "kinds": sorted(e["kinds"])} for e in sorted(undefined.values(), key=lambda e: e["name"].casefold())
        ],
    }


def report(w: Workload, units: Sequence[Unit] | None = None) -> dict[str, Any]:
    """The whole report as one JSON-ready document."""
    ordered = _ordered(w.templates.values())
    levels = dict.fromkeys(LEVELS, 0)
    for t in ordered:
        levels[t.analysis["level"]] += t.count
    summary = {
        "logs": list(w.logs),
        "rows": w.rows,
        "statements": w.statements,
        "templates": len(ordered),
        "levels": levels,
        "hot_tables": _hot_tables(ordered),
        "truncated": w.truncated,
        "truncated_rows": w.truncated_rows,
        "bad_rows": w.bad_rows,
        "bad_row_numbers": w.bad_row_numbers,
        "bad_row_problems": dict(sorted(w.bad_problems.items())),
        "code": None if units is None else code_comparison(ordered, units),
    }
    return {
        "schema_version": SCHEMA_VERSION,
        "summary": summary,
        "templates": [template_row(t, w.statements, w.has_users, w.has_times) for t in ordered],
    }
