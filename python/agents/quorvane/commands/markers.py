"""``quorvane markers``: the platform marker catalogue."""

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
    if args.format == "json":
        for m in chosen:
            print(json.dumps(dataclasses.asdict(m)))
        return EXIT_OK
    width = max(len(m.id) for m in chosen)
    for group, platform in _marker_groups(args.platform):
        group_markers = [m for m in chosen if _group_of(m) == group]
        if not group_markers:
            continue
        title = platform or "shared by several platforms"
        print(f"{title} ({len(group_markers)})")
        for m in group_markers:
            notes = []
            if len(m.platforms) > 1:
                notes.append("+".join(m.platforms))
            if m.scope:
                notes.append(f"scope={m.scope}")
            if m.corroborating_only:
                notes.append("corroborating only")
            print(f"  {m.id:<{width}}  {m.confidence:<6}  {m.pattern}")
            if notes:
                print(f"  {'':<{width}}  {'':<6}  ({'; '.join(notes)})")
        print()
    print(f"{len(chosen)} markers; weights: " + ", ".join(f"{k} {number(v)}" for k, v in platform_detect.WEIGHTS.items()))
    return EXIT_OK


def _group_of(marker: platform_detect.Marker) -> str:
    return marker.id.split(".", 1)[0]


def _marker_groups(platform: str | None) -> Iterator[tuple[str, str | None]]:
    for p in platform_detect.PLATFORMS:
        if platform is None or p == platform:
            yield p, p
    yield "shared", None
