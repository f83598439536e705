"""``quorvane markers``: the platform marker catalogue, and on request the
detector's own evidence rows."""

from __future__ import annotations

import argparse
import dataclasses
import json
from collections.abc import Iterator

from agents.quorvane import platform_detect
from agents.quorvane.commands.exit_status import EXIT_OK
from agents.quorvane.writers.spelling import number


def run(args: argparse.Namespace) -> int:
    chosen = [m for m in platform_detect.markers() if args.platform is None or args.platform in m.platforms]
    rows = [e for e in platform_detect.evidence() if args.platform is None or args.platform in e.platforms]
    if not args.evidence:
        rows = []
    if args.format == "json":
        for m in chosen:
            print(json.dumps(dataclasses.asdict(m)))
        for e in rows:
            print(json.dumps(dataclasses.asdict(e)))
        return EXIT_OK
    width = max(len(m.id) for m in [*chosen, *rows])
    for group, platform in _marker_groups(args.platform):
        group_markers = [m for m in chosen if _group_of(m) == group]
        if not group_markers:
            continue
        title = platform or "shared by several platforms"
        print(f"{title} ({len(group_markers)})")
        for m in group_markers:
            _print_row(m.id, m.confidence, m.pattern, _notes(m), width)
        print()
    print(f"{len(chosen)} markers; weights: " + ", ".join(f"{k} {number(v)}" for k, v in platform_detect.WEIGHTS.items()))
    if rows:
        print()
        print(f"the detector's evidence rows ({len(rows)}), with their weights")
        for e in rows:
            _print_row(e.id, number(e.weight), e.pattern, _notes(e), width)
            print(f"  {'':<{width}}  {'':<6}  {e.justification}")
    return EXIT_OK


def _notes(row: platform_detect.Marker | platform_detect.Evidence) -> list[str]:
    notes = []
    if len(row.platforms) > 1:
        notes.append("+".join(row.platforms))
    if row.scope:
        notes.append(f"scope={row.scope}")
    if row.corroborating_only:
        notes.append("corroborating only")
    return notes


def _print_row(row_id: str, grade: str, pattern: str, notes: list[str], width: int) -> None:
    print(f"  {row_id:<{width}}  {grade:<6}  {pattern}")
    if notes:
        print(f"  {'':<{width}}  {'':<6}  ({'; '.join(notes)})")


def _group_of(marker: platform_detect.Marker) -> str:
    return marker.id.split(".", 1)[0]


def _marker_groups(platform: str | None) -> Iterator[tuple[str, str | None]]:
    for p in platform_detect.PLATFORMS:
        if platform is None or p == platform:
            yield p, p
    yield "shared", None
