"""``quorvane inventory PATH...``: the objects of a code base, what each one
reads, writes and calls, the names defined nowhere, the cycles and the order
to convert them in."""

from __future__ import annotations

import argparse
import sys

from agents.quorvane import complexity, inventory, platform_detect
from agents.quorvane.assessment.dependencies import Unit, build_graph
from agents.quorvane.assessment.discovery import DEFAULT_GLOBS, discover
from agents.quorvane.assessment.single_file import InputError, decode_input, read_regular_file
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK
from agents.quorvane.writers.inventory_formats import INVENTORY_WRITERS
from agents.quorvane.writers.inventory_page import render_inventory_html


def units_of(path: str, text: str, platform: str | None = None) -> list[Unit]:
    """The units of one file, read as its platform's dialect (the given one,
    else the detected one), each graded on its own lines."""
    if platform is None:
        platform = platform_detect.detect_platform(text).platform
    lines = text.splitlines(keepends=True)
    out = []
    for obj in inventory.split_objects(text, platform=platform):
        body = "".join(lines[obj.start_line - 1 : obj.end_line])
        out.append(Unit(path, obj, str(complexity.classify_sql(body).complexity), platform))
    return out


def collect(
    paths: list[str],
    globs: list[str],
    excludes: list[str],
    encoding: str | None,
    max_size: int,
    platform: str | None = None,
) -> tuple[list[Unit], list[tuple[str, str]]]:
    """The units of every file found, in path order, and the files and
    directories that could not be read, with their errors."""
    files, errors = discover(paths, globs, excludes)
    units: list[Unit] = []
    for path in files:
        try:
            text = decode_input(read_regular_file(path, max_size), encoding).text
        except InputError as exc:
            errors.append((path, str(exc)))
            continue
        except OSError as exc:
            errors.append((path, f"{type(exc).__name__}: {exc.strerror or exc}"))
            continue
        units.extend(units_of(path, text, platform))
    return units, sorted(errors)


def run(args: argparse.Namespace) -> int:
    globs = args.glob or list(DEFAULT_GLOBS)
    units, errors = collect(
        args.paths, globs, args.exclude or [], args.encoding, args.max_size, getattr(args, "platform", None)
    )
    graph = build_graph(units)
    for path, error in errors:
        print(f"quorvane inventory: {path}: {error}", file=sys.stderr)
    if not units and not errors:
        print(f"quorvane inventory: no files matching {' '.join(globs)}", file=sys.stderr)
    if args.html:
        with open(args.html, "w", encoding="utf-8", errors="backslashreplace") as fh:
            fh.write(render_inventory_html(graph, errors))
    if args.format or not args.html:
        INVENTORY_WRITERS[args.format or "json"](graph, errors, sys.stdout)
    else:
        print(f"wrote {args.html}: {len(units)} objects, {len(graph.edges)} edges", file=sys.stderr)
    return EXIT_FAILED if errors else EXIT_OK
