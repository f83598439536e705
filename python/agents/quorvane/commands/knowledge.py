"""``quorvane knowledge FILE --kb DIR``: the knowledge-base sections one
SQL file needs, with the size report."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

from agents.quorvane import loresift
from agents.quorvane.assessment.input_files import InputError, read_input
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, EXIT_USAGE, error
from agents.quorvane.commands.sql_input import MAX_SIZE, read_sql
from agents.quorvane.writers.registry import FORMATS, KnowledgeReport
from agents.quorvane.writers.spelling import printable

KB_FILES = ("mapping.md", "gotchas.md", "limitations.md")
KB_REQUIRED = KB_FILES[:2]
KB_ENCODING = "utf-8"


def kb_problem(kb: Path) -> str | None:
    """What makes ``--kb`` unusable: not a directory, or a required
    document missing from it."""
    if not kb.is_dir():
        return f"--kb {printable(str(kb))}: not a directory"
    missing = [name for name in KB_REQUIRED if not (kb / name).exists()]
    if missing:
        return f"--kb {printable(str(kb))}: no {' and no '.join(missing)} in the folder"
    return None


def run(args: argparse.Namespace) -> int:
    kb = Path(args.kb)
    problem = kb_problem(kb)
    if problem:
        error("knowledge", problem)
        return EXIT_USAGE
    sql = read_sql("knowledge", args.file, args.encoding)
    if sql is None:
        return EXIT_FAILED
    docs = {}
    for name in KB_FILES:
        path = kb / name
        if name == "limitations.md" and not path.exists():
            docs[name] = ""  # optional: the agent then has no limitations document
            continue
        try:
            docs[name] = read_input(str(path), MAX_SIZE, KB_ENCODING).text
        except InputError as exc:
            error("knowledge", f"{printable(str(path))}: {exc}")
            return EXIT_FAILED
    categories = loresift.detect_construct_categories(sql)
    selected, sizes = loresift.select_knowledge_with_sizes(
        categories,
        full_mapping=docs["mapping.md"],
        full_gotchas=docs["gotchas.md"],
        full_limitations=docs["limitations.md"],
    )
    report = KnowledgeReport(args.file, categories, selected, sizes)
    FORMATS["knowledge"].writer(args.format)(report, sys.stdout)
    return EXIT_OK
