"""``quorvane inventory PATH...``: the objects of a code base, what each one
reads, writes and calls, the names defined nowhere, the cycles and the order
to convert them in."""

from __future__ import annotations

import argparse
import sys

from agents.quorvane import complexity, inventory, platform_detect
from agents.quorvane.assessment.config import ConfigError, load_effort_model
from agents.quorvane.assessment.dependencies import Unit, build_graph
from agents.quorvane.assessment.discovery import DEFAULT_GLOBS, empty_path_message, find_inputs
from agents.quorvane.assessment.input_files import InputError, read_input
from agents.quorvane.assessment.lines import unit_bodies
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, EXIT_USAGE, error
from agents.quorvane.writers.graph_nodes import find_nodes, nodes_and_links
from agents.quorvane.writers.output_files import STDOUT, output_problem, write_output
from agents.quorvane.writers.registry import FORMATS, PAGES, InventoryReport
from agents.quorvane.writers.spelling import printable


def units_of(path: str, text: str, platform: str | None = None) -> list[Unit]:
    """The units of one file, read as its platform's dialect (the given one,
    else the detected one), each graded on its own lines."""
    if platform is None:
        platform = platform_detect.detect_platform(text).platform
    objects = inventory.split_objects(text, platform=platform)
    units = []
    for obj, body in zip(objects, unit_bodies(text, objects)):
        graded = complexity.classify_sql(body)
        units.append(Unit(path, obj, str(graded.complexity), platform, graded.effective_lines))
    return units


def collect(
    paths: list[str],
    globs: list[str],
    excludes: list[str],
    encoding: str | None,
    max_size: int,
    platform: str | None = None,
) -> tuple[list[Unit], list[tuple[str, str]]]:
    """The units of every file found, in path order, and the files and
    directories that could not be read, and the paths that gave no file,
    with their errors."""
    inputs = find_inputs(paths, globs, excludes)
    errors = inputs.unreadable + [(path, empty_path_message(path, globs, excludes)) for path in inputs.empty]
    units: list[Unit] = []
    for path in inputs.files:
        try:
            text = read_input(path, max_size, encoding).text
        except InputError as exc:
            errors.append((path, str(exc)))
            continue
        units.extend(units_of(path, text, platform))
    return units, sorted(errors)


def _usage_problem(args: argparse.Namespace) -> str | None:
    """A problem with the arguments that must stop the run before any work."""
    problem = output_problem([("--html", args.html)])
    if problem:
        return problem
    if args.html == STDOUT and args.format is not None:
        return "--html - and the --format output would both go to standard output"
    if args.depth is not None and args.focus is None:
        return "--depth needs --focus"
    if args.focus is not None and (args.format in ("json", "csv") or (args.format is None and args.html is None)):
        return "--focus limits the --format dot graph and the --html page; json and csv list every object"
    return None


def run(args: argparse.Namespace) -> int:
    problem = _usage_problem(args)
    if problem:
        error("inventory", problem)
        return EXIT_USAGE
    try:
        model, _ = load_effort_model(args.config)
    except ConfigError as exc:
        error("inventory", str(exc))
        return EXIT_USAGE
    globs = args.glob or list(DEFAULT_GLOBS)
    units, errors = collect(args.paths, globs, args.exclude or [], args.encoding, args.max_size, args.platform)
    graph = build_graph(units)
    for path, reason in errors:
        error("inventory", f"{printable(path)}: {reason}")
    depth = 1 if args.depth is None else args.depth
    if args.focus is not None and not find_nodes(nodes_and_links(graph)[0], args.focus):
        error("inventory", f"--focus: no object or missing name is named {printable(args.focus)}")
        return EXIT_USAGE
    report = InventoryReport(graph, errors, model, args.focus, depth)
    if args.html is not None:
        write_output(args.html, lambda out: PAGES["inventory"].write(report, out))
    if args.format is not None or args.html is None:
        FORMATS["inventory"].writer(args.format)(report, sys.stdout)
    elif args.html != STDOUT:
        print(f"wrote {printable(args.html)}: {len(units)} objects, {len(graph.edges)} edges", file=sys.stderr)
    return EXIT_FAILED if errors else EXIT_OK
