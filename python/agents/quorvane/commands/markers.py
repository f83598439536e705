"""``quorvane markers``: the platform marker catalogue, and on request the
detector's own evidence rows."""

from __future__ import annotations

import argparse
import sys

from agents.quorvane import platform_detect
from agents.quorvane.commands.exit_status import EXIT_OK
from agents.quorvane.writers.registry import FORMATS, MarkersReport


def run(args: argparse.Namespace) -> int:
    chosen = [m for m in platform_detect.markers() if args.platform is None or args.platform in m.platforms]
    rows = [e for e in platform_detect.evidence() if args.platform is None or args.platform in e.platforms]
    report = MarkersReport(
        markers=chosen,
        evidence=rows if args.evidence else [],
        platform=args.platform,
        platforms=platform_detect.PLATFORMS,
        weights=platform_detect.WEIGHTS,
    )
    FORMATS["markers"].writer(args.format)(report, sys.stdout)
    return EXIT_OK
