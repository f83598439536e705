"""``quorvane knowledge FILE --kb DIR``: the knowledge-base sections one
SQL file needs, with the size report."""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path

from agents.quorvane import loresift
from agents.quorvane.assessment.single_file import InputError, read_regular_file
from agents.quorvane.commands.exit_status import EXIT_FAILED, EXIT_OK, error
from agents.quorvane.commands.sql_input import MAX_SIZE, read_sql
from agents.quorvane.writers.spelling import printable

KB_FILES = ("mapping.md", "gotchas.md", "limitations.md")


def run(args: argparse.Namespace) -> int:
    kb = Path(args.kb)
    sql = read_sql("knowledge", args.file, args.encoding)
    if sql is None:
        return EXIT_FAILED
    docs = {}
    for name in KB_FILES:
        path = kb / name
        try:
            if name == "limitations.md" and not path.exists():
                docs[name] = ""  # optional: the agent then has no limitations document
            else:
                docs[name] = read_regular_file(str(path), MAX_SIZE).decode("utf-8")
        except (InputError, UnicodeError) as exc:
            error("knowledge", f"{printable(str(path))}: {exc}")
            return EXIT_FAILED
        except OSError as exc:
            error("knowledge", f"{printable(str(path))}: {type(exc).__name__}: {exc.strerror or exc}")
            return EXIT_FAILED
    categories = loresift.detect_construct_categories(sql)
    selected, report = loresift.select_knowledge_with_sizes(
        categories,
        full_mapping=docs["mapping.md"],
        full_gotchas=docs["gotchas.md"],
        full_limitations=docs["limitations.md"],
    )
    if args.format == "json":
        print(json.dumps({"file": args.file, "categories": sorted(categories), **selected, "report": report}))
        return EXIT_OK
    out = sys.stdout
    out.write(f"Knowledge for {args.file}\ncategories: {', '.join(sorted(categories)) or '-'}\n")
    for key in ("mapping", "gotchas", "limitations"):
        out.write(f"\n===== {key} =====\n\n{selected[key] or '(nothing selected)'}\n")
    out.write(
        f"\nsize: {report['token_estimate']} of {report['full_tokens']} words of mapping guide and gotchas "
        f"({report['reduction_pct']}% saved); sections wanted: {report['mapping_sections']} mapping, "
        f"{report['gotcha_sections']} gotchas\n"
    )
    return EXIT_OK
