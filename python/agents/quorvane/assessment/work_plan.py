"""The work plan of a whole run: what each unit costs once the code base is
seen as a whole.

The files are analysed one by one; this pass then joins their units into
the dependency graph (``dependencies``) and

* splits them into **work items**: each object is one; the batches of a
  file that define nothing are one per bucket; a file that was not split
  (too large, or defining nothing) is one;
* puts every item into its **bucket** (``buckets``: the settings' globs and
  the test folders by path, else the text rules of its units);
* gives every item its **wave** (``waves``; an item of several units takes
  the latest of their waves, a file without units wave 1);
* costs a **near-copy** once: files whose units have equal fingerprints, one
  by one (the same statements up to literals, spacing, comments and
  letter case), are one original (the first by path that is not named for
  tests, demos or samples) and copies, whose items cost the review weight
  and name the original's item in ``duplicate_of`` (at most what the item
  would cost on its own);
* costs an object **defined more than once** once, at its largest
  definition (most effective lines; the one references resolve to among
  equals): the others cost nothing and name it in ``duplicate_of``;
* and estimates every other item by the effort model, its range widened by
  its dynamic SQL, blockers and missing dependencies.

The rows then carry the hours of their items: an object's row its own, a
batch's row none (its file's batches are costed together), a file's row
the sum of its items.
"""

from __future__ import annotations

import os
from collections import defaultdict
from collections.abc import Sequence
from dataclasses import astuple, dataclass, replace

from agents.quorvane.assessment.blockers import in_lines
from agents.quorvane.assessment.buckets import BUCKETS, CONVERSION, DEFAULT_RULES, BucketRules
from agents.quorvane.assessment.dependencies import DYNAMIC, Unit, build_graph, not_production
from agents.quorvane.assessment.effort import BATCH, NO_HOURS, EffortModel, Estimate
from agents.quorvane.assessment.input_files import STDIN_PATH
from agents.quorvane.assessment.record import LEVELS, FileResult, Row, WorkItem
from agents.quorvane.assessment.waves import unit_waves


@dataclass
class _Item:
    """A work item while the plan is made: its units (graph ids), the rows
    it is costed from and its bucket."""

    file: int
    rows: list[Row]
    unit_ids: list[int]
    bucket: str
    estimate: Estimate = NO_HOURS
    duplicate_of: str | None = None
    copy: bool = False  # of a near-copy file: reviewed, not converted

    @property
    def location(self) -> str:
        first = self.rows[0]
        return first.path if first.start_line is None else f"{first.path}:{first.start_line}"


def _is_split(result: FileResult) -> bool:
    """Whether the file's costs are its units (else its own row)."""
    return bool(result.costs) and result.costs[0].object_kind is not None


def _base(results: Sequence[FileResult]) -> str:
    """The folder every file of the run is in (the one searched, for a
    single folder), "" when they share none."""
    folders = [os.path.dirname(r.path) for r in results if r.file.ok and r.path != STDIN_PATH]
    try:
        return os.path.commonpath(folders) if folders else ""
    except ValueError:  # absolute and relative paths mixed
        return ""


def _items(results: Sequence[FileResult], first_id: list[int], rules: BucketRules) -> list[list[_Item]]:
    out: list[list[_Item]] = []
    base = _base(results)
    for fi, r in enumerate(results):
        items: list[_Item] = []
        if r.file.ok:
            forced = rules.path_bucket(r.path, base)
            ids = list(range(first_id[fi], first_id[fi] + len(r.units)))
            if _is_split(r):
                batches: dict[str, _Item] = {}
                for uid, row in zip(ids, r.costs):
                    bucket = forced or row.bucket or CONVERSION
                    if row.object_kind == BATCH:
                        if bucket not in batches:
                            batches[bucket] = _Item(fi, [], [], bucket)
                            items.append(batches[bucket])
                        batches[bucket].rows.append(row)
                        batches[bucket].unit_ids.append(uid)
                    else:
                        items.append(_Item(fi, [row], [uid], bucket))
            else:
                row = r.costs[0] if r.costs else r.file
                items.append(_Item(fi, [row], ids, forced or row.bucket or CONVERSION))
        out.append(items)
    return out


def _copies(results: Sequence[FileResult]) -> dict[int, int]:
    """Each near-copy file's original, by file index."""
    groups: dict[tuple[int, ...], list[int]] = defaultdict(list)
    for fi, r in enumerate(results):
        if r.file.ok and r.signature:
            groups[r.signature].append(fi)
    copies = {}
    for group in groups.values():
        if len(group) > 1:
            original = min(group, key=lambda fi: (not_production(results[fi].path), results[fi].path))
            copies.update({fi: original for fi in group if fi != original})
    return copies


def _pooled(rows: Sequence[Row]) -> tuple[str, int, int, bool]:
    """Level, effective lines, lines the estimate counts and dynamic SQL of
    rows costed together."""
    level = max((r.complexity or LEVELS[0] for r in rows), key=LEVELS.index)
    lines = sum(r.effective_lines or 0 for r in rows)
    sized = sum((r.effective_lines or 0) if r.effort_lines is None else r.effort_lines for r in rows)
    return level, lines, sized, any(r.dynamic_sql for r in rows)


def plan_work(
    results: Sequence[FileResult], model: EffortModel, rules: BucketRules = DEFAULT_RULES
) -> list[FileResult]:
    """``results`` with their rows costed and placed, and their work items."""
    first_id = []
    units: list[Unit] = []
    for r in results:
        first_id.append(len(units))
        level = r.file.complexity or LEVELS[0]
        rows = r.costs if _is_split(r) else [r.file] * len(r.units)
        units.extend(Unit(r.path, obj, row.complexity or level, r.file.platform) for obj, row in zip(r.units, rows))
    graph = build_graph(units)
    waves = unit_waves(graph)
    missing: dict[int, set[str]] = defaultdict(set)
    for m in graph.missing:
        for uid in m.referenced_by:
            missing[uid].add(m.name)
    needs: dict[int, set[int]] = defaultdict(set)
    for e in graph.edges:
        if e.kind != DYNAMIC:
            needs[e.source].add(e.target)

    items = _items(results, first_id, rules)
    copies = _copies(results)
    for fi, original in copies.items():
        same = len(items[fi]) == len(items[original])
        for k, item in enumerate(items[fi]):
            item.copy = True
            item.duplicate_of = items[original][k].location if same else results[original].path
    item_of = {uid: item for file_items in items for item in file_items for uid in item.unit_ids}
    for d in graph.duplicates:
        found = [item_of[uid] for uid in d.definitions if uid in item_of and item_of[uid].duplicate_of is None]
        found = [item for item in found if len(item.unit_ids) == 1 and _is_split(results[item.file])]
        if len(found) > 1:
            # The first is the definition references resolve to.
            largest = max(found, key=lambda item: (_pooled(item.rows)[2], -found.index(item)))
            for item in found:
                if item is not largest:
                    item.estimate, item.duplicate_of = NO_HOURS, largest.location

    planned = []
    for fi, r in enumerate(results):
        work = []
        for item in items[fi]:
            absent = sorted({name for uid in item.unit_ids for name in missing[uid]}, key=str.casefold)
            # The file's blockers, settled for the whole code base, on the unit's lines.
            found = {
                b
                for row in item.rows
                for b in (
                    r.file.blockers
                    if row.start_line is None
                    else in_lines(r.file.blockers, row.start_line, row.end_line or 0)
                )
                or ()
            }
            blockers = tuple(sorted(found, key=lambda b: (b.line, b.kind, b.text)))
            if item.duplicate_of is None or item.copy:
                level, _, sized, dynamic = _pooled(item.rows)
                item.estimate = model.estimate(
                    level, sized, dynamic_sql=dynamic, blockers=len(blockers), missing=len(absent)
                )
                if item.copy:
                    # Reviewing a copy never costs more than converting it.
                    review = model.copy_review()
                    item.estimate = Estimate(*(min(a, b) for a, b in zip(astuple(item.estimate), astuple(review))))
            own = set(item.unit_ids)
            depends = {
                f"{units[t].obj.kind}:{units[t].obj.name}" for uid in item.unit_ids for t in needs[uid] if t not in own
            }
            level, lines, sized, _ = _pooled(item.rows)
            first, last = item.rows[0], item.rows[-1]
            rounded = item.estimate.rounded()
            work.append(
                WorkItem(
                    r.path,
                    first.object_kind,
                    first.object_name if first.object_kind != BATCH else None,
                    first.start_line,
                    last.end_line,
                    item.bucket,
                    level,
                    lines,
                    sized,
                    rounded.low,
                    rounded.expected,
                    rounded.high,
                    max((waves[uid] for uid in item.unit_ids), default=1),
                    item.duplicate_of,
                    blockers,
                    tuple(sorted(depends, key=str.casefold)),
                    tuple(absent),
                )
            )
        planned.append(_placed(r, items[fi], work, waves, first_id[fi], copies.get(fi), results))
    return planned


def _placed(
    r: FileResult,
    items: list[_Item],
    work: list[WorkItem],
    waves: list[int],
    first_id: int,
    original: int | None,
    results: Sequence[FileResult],
) -> FileResult:
    """The file's result with its rows costed from its items."""
    if not r.file.ok:
        return r
    of_unit = {uid: (item, w) for item, w in zip(items, work) for uid in item.unit_ids}
    objects = []
    for k, row in enumerate(r.objects):
        item, w = of_unit.get(first_id + k, (None, None))
        if item is None or w is None:
            objects.append(row)
            continue
        costed = row.object_kind != BATCH and _is_split(r)
        objects.append(
            replace(
                row,
                effort_lines=row.effort_lines if costed else None,
                effort_low=w.low if costed else None,
                effort_hours=w.hours if costed else None,
                effort_high=w.high if costed else None,
                bucket=w.bucket,
                duplicate_of=w.duplicate_of,
                wave=waves[first_id + k],
            )
        )
    total = sum((Estimate(w.low, w.hours, w.high) for w in work), NO_HOURS).rounded()
    by_bucket: dict[str, float] = defaultdict(float)
    for w in work:
        by_bucket[w.bucket] += w.hours
    bucket = max(BUCKETS, key=lambda b: (by_bucket.get(b, -1.0), -BUCKETS.index(b))) if work else None
    file_row = replace(
        r.file,
        effort_lines=sum(w.effort_lines for w in work),
        effort_low=total.low,
        effort_hours=total.expected,
        effort_high=total.high,
        bucket=bucket,
        duplicate_of=None if original is None else results[original].path,
        wave=max((w.wave for w in work), default=1),
    )
    return replace(r, file=file_row, objects=tuple(objects), work=tuple(work))
