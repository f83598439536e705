"""``quorvane plan FILE``: the reading instructions for one SQL file."""

from __future__ import annotations

import argparse
from pathlib import Path

from agents.quorvane import complexity
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, error


def run(args: argparse.Namespace) -> int:
    try:
        plan = complexity.plan_reading_strategy(Path(args.file))
    except (OSError, UnicodeError) as exc:
        error("plan", f"{args.file}: {type(exc).__name__}: {exc}")
        return EXIT_FAILED
    print(plan.format_reading_instructions(args.file))
    return EXIT_OK
