"""The output of ``quorvane knowledge``: the sections one script needs, as
text for a reader or as one JSON document."""

from __future__ import annotations

import json
from collections.abc import Mapping, Set
from dataclasses import dataclass
from typing import Any, TextIO

from agents.quorvane.writers.spelling import printable

KB_KEYS = ("mapping", "gotchas", "limitations")


@dataclass(frozen=True)
class KnowledgeReport:
    """The script as named (``file``), its construct categories, the
    selected sections by key and the size report."""

    file: str
    categories: Set[str]
    selected: Mapping[str, str]
    sizes: Mapping[str, Any]


def write_json(report: KnowledgeReport, out: TextIO) -> None:
    document = {"file": report.file, "categories": sorted(report.categories), **report.selected, "report": report.sizes}
    out.write(json.dumps(document) + "\n")


def write_text(report: KnowledgeReport, out: TextIO) -> None:
    sizes = report.sizes
    out.write(f"Knowledge for {printable(report.file)}\ncategories: {', '.join(sorted(report.categories)) or '-'}\n")
    for key in KB_KEYS:
        out.write(f"\n===== {key} =====\n\n{report.selected[key] or '(nothing selected)'}\n")
    out.write(
        f"\nsize: {sizes['token_estimate']} of {sizes['full_tokens']} words of mapping guide and gotchas "
        f"({sizes['reduction_pct']}% saved); sections wanted: {sizes['mapping_sections']} mapping, "
        f"{sizes['gotcha_sections']} gotchas\n"
    )
