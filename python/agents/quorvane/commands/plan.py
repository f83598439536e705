"""``quorvane plan FILE``: the reading instructions for one SQL file."""

from __future__ import annotations

import argparse

from agents.quorvane.assessment.single_file import plan_text
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK
from agents.quorvane.commands.sql_input import read_sql
from agents.quorvane.writers.spelling import printable


def run(args: argparse.Namespace) -> int:
    text = read_sql("plan", args.file, args.encoding)
    if text is None:
        return EXIT_FAILED
    plan = plan_text(text)
    # The path is escaped as every name a command prints is: a file name
    # cannot add lines to the instructions the agent reads.
    print(plan.format_reading_instructions(printable(args.file)))
    return EXIT_OK
