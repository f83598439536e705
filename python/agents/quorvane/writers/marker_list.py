"""The output of ``quorvane markers``: the marker catalogue, and on request
the detector's own evidence rows, as text grouped by platform or as JSON
lines."""

from __future__ import annotations

import dataclasses
import json
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, TextIO

from agents.quorvane.writers.spelling import number


@dataclass(frozen=True)
class MarkersReport:
    """The markers and evidence rows chosen, the platform they were chosen
    for (None: all), every platform in canonical order and the weight of
    each marker grade."""

    markers: Sequence[Any]
    evidence: Sequence[Any]
    platform: str | None
    platforms: Sequence[str]
    weights: Mapping[str, float]


def write_json(report: MarkersReport, out: TextIO) -> None:
    for row in [*report.markers, *report.evidence]:
        out.write(json.dumps(dataclasses.asdict(row)) + "\n")


def write_text(report: MarkersReport, out: TextIO) -> None:
    chosen, rows = report.markers, report.evidence
    width = max(len(m.id) for m in [*chosen, *rows])
    for group, platform in _groups(report):
        group_markers = [m for m in chosen if _group_of(m) == group]
        if not group_markers:
            continue
        title = platform or "shared by several platforms"
        print(f"{title} ({len(group_markers)})", file=out)
        for m in group_markers:
            _print_row(out, m.id, m.confidence, m.pattern, _notes(m), width)
        print(file=out)
    weights = ", ".join(f"{k} {number(v)}" for k, v in report.weights.items())
    print(f"{len(chosen)} markers; weights: {weights}", file=out)
    if rows:
        print(file=out)
        print(f"the detector's evidence rows ({len(rows)}), with their weights", file=out)
        for e in rows:
            _print_row(out, e.id, number(e.weight), e.pattern, _notes(e), width)
            print(f"  {'':<{width}}  {'':<6}  {e.justification}", file=out)


def _notes(row: Any) -> list[str]:
    notes = []
    if len(row.platforms) > 1:
        notes.append("+".join(row.platforms))
    if row.scope:
        notes.append(f"scope={row.scope}")
    if row.corroborating_only:
        notes.append("corroborating only")
    return notes


def _print_row(out: TextIO, row_id: str, grade: str, pattern: str, notes: list[str], width: int) -> None:
    print(f"  {row_id:<{width}}  {grade:<6}  {pattern}", file=out)
    if notes:
        print(f"  {'':<{width}}  {'':<6}  ({'; '.join(notes)})", file=out)


def _group_of(marker: Any) -> str:
    return str(marker.id.split(".", 1)[0])


def _groups(report: MarkersReport) -> Iterator[tuple[str, str | None]]:
    for p in report.platforms:
        if report.platform is None or p == report.platform:
            yield p, p
    yield "shared", None
