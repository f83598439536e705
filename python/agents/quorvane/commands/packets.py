"""``quorvane packets PATH...``: one work packet per object of a code base,
in conversion order, as JSON lines or as a directory of Markdown files."""

from __future__ import annotations

import argparse
import os
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from agents.quorvane import packets
from agents.quorvane.assessment.discovery import DEFAULT_GLOBS, discover
from agents.quorvane.assessment.input_files import InputError, read_input
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, EXIT_USAGE, error
from agents.quorvane.writers.output_files import STDOUT, output_problem, write_output
from agents.quorvane.writers.packet_files import INDEX_NAME, PacketsReport, file_name
from agents.quorvane.writers.registry import FORMATS
from agents.quorvane.writers.spelling import printable

KB_ENCODING = "utf-8"
DEFAULT_BUDGET = packets.DEFAULT_BUDGET


def _scan(path: str, args: argparse.Namespace) -> tuple[list, str | None]:
    """The units of one file, or its error."""
    try:
        text = read_input(path, args.max_size, args.encoding).text
    except InputError as exc:
        return [], str(exc)
    return packets.scan_file(path, text, args.platform), None


def _knowledge(directory: str, max_size: int) -> dict[str, str]:
    return {
        key: read_input(str(Path(directory) / name), max_size, KB_ENCODING).text
        for key, name in packets.KB_FILES.items()
    }


def _usage_problem(args: argparse.Namespace) -> str | None:
    if args.format == "md":
        if args.output is None or args.output == STDOUT:
            return "--format md writes a directory of files: give it with -o DIR"
        if os.path.exists(args.output) and not os.path.isdir(args.output):
            return f"-o {printable(args.output)}: not a directory"
        if not os.path.isdir(os.path.dirname(os.path.abspath(args.output))):
            return f"-o {printable(args.output)}: no directory {printable(os.path.dirname(args.output))}"
        return None
    return output_problem([("-o", args.output)])


def run(args: argparse.Namespace) -> int:
    problem = _usage_problem(args)
    if problem:
        error("packets", problem)
        return EXIT_USAGE
    kb = None
    if args.kb is not None:
        try:
            kb = _knowledge(args.kb, args.max_size)
        except InputError as exc:
            error("packets", f"--kb {printable(args.kb)}: {exc}")
            return EXIT_FAILED
    globs = args.glob or list(DEFAULT_GLOBS)
    files, errors = discover(args.paths, globs, args.exclude or [])
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        results = list(pool.map(lambda path: _scan(path, args), files))
    scanned = []
    for path, (units, reason) in zip(files, results):
        if reason is not None:
            errors.append((path, reason))
        scanned.extend(units)
    for path, reason in sorted(errors):
        print(f"quorvane packets: {printable(path)}: {reason}", file=sys.stderr)
    if not files:
        print(f"quorvane packets: no files matching {' '.join(globs)}", file=sys.stderr)
    report = PacketsReport(list(packets.packets_of(scanned, kb=kb, budget=args.budget)))
    if args.format == "md":
        os.makedirs(args.output, exist_ok=True)
        for packet in report.packets:
            write_output(os.path.join(args.output, file_name(packet)), lambda out, p=packet: out.write(p.as_markdown()))
        write_output(os.path.join(args.output, INDEX_NAME), lambda out: FORMATS["packets"].writer("md")(report, out))
        print(f"wrote {len(report.packets)} packets and {INDEX_NAME} to {printable(args.output)}", file=sys.stderr)
    else:
        write_output(args.output or STDOUT, lambda out: FORMATS["packets"].writer(args.format)(report, out))
    return EXIT_FAILED if errors else EXIT_OK
