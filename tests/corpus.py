"""The shared SQL corpus beside the repository (``../shared/corpus``, or
``QUORVANE_CORPUS``); tests that need it skip when it is absent."""

from __future__ import annotations

import csv
import os
from pathlib import Path

CORPUS = Path(os.environ.get("QUORVANE_CORPUS", Path(__file__).resolve().parents[2] / "shared" / "corpus"))


def corpus_files() -> list[Path]:
    """Every file the manifest lists, in its order; empty without a corpus."""
    manifest = CORPUS / "MANIFEST.tsv"
    if not manifest.exists():
        return []
    with manifest.open(newline="") as f:
        return [CORPUS / r["local_path"] for r in csv.DictReader(f, delimiter="\t")]
