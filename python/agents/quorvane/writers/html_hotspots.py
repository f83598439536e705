"""The hotspots section of the HTML report: per file, each hotspot with the
source lines around it, so a reader sees why a file is hard."""

from __future__ import annotations

from collections.abc import Sequence
from html import escape

from agents.quorvane.assessment.record import LEVELS, FileResult, Hotspot

LEVEL_RANK = {level: i for i, level in enumerate(LEVELS)}


def _anchor(index: int) -> str:
    return f"hot-{index}"


def _snippet(centre: int, context: dict[int, str]) -> str:
    if centre not in context:
        return ""
    lines = []
    for n in range(centre - 2, centre + 3):
        if n in context:
            text = escape(context[n]) or " "
            cls = ' class="at"' if n == centre else ""
            lines.append(f'<span{cls}><span class="ln">{n:>6}  </span>{text}</span>')
    return "<pre>" + "\n".join(lines) + "</pre>"


def _spots_at(hotspots: Sequence[Hotspot]) -> dict[int, list[Hotspot]]:
    by_line: dict[int, list[Hotspot]] = {}
    for h in hotspots:
        by_line.setdefault(h.line, []).append(h)
    return by_line


def hotspots_section(results: Sequence[FileResult]) -> tuple[str, dict[str, str]]:
    """The section's HTML and the anchor of each file that has hotspots.
    Files come hardest first, then by path; each is a collapsed block."""
    with_spots = [r for r in results if r.file.ok and r.file.hotspots]
    if not any(r.file.hotspots is not None for r in results):
        return '<p class="meta" id="hotspots-missing">No hotspots: the modules cannot locate constructs.</p>', {}
    if not with_spots:
        return '<p class="meta">No hotspots were found.</p>', {}
    with_spots.sort(key=lambda r: (-LEVEL_RANK.get(r.file.complexity or "", -1), -len(r.file.hotspots or ()), r.path))
    anchors: dict[str, str] = {}
    blocks = []
    for index, result in enumerate(with_spots):
        anchor = _anchor(index)
        anchors[result.path] = anchor
        spots = result.file.hotspots or ()
        parts = []
        for line, found in _spots_at(spots).items():
            labels = " ".join(f'<span class="kind">{escape(h.kind)}</span> {escape(h.name)}' for h in found)
            parts.append(f'<div class="spot">line {line}: {labels}{_snippet(line, result.context)}</div>')
        level = escape(result.file.complexity or "")
        blocks.append(
            f'<details class="hot" id="{anchor}" data-level="{level}"><summary>{escape(result.path)} — {level}, '
            f"{len(spots)} hotspots</summary>{''.join(parts)}</details>"
        )
    return '<div class="hotlist">' + "\n".join(blocks) + "</div>", anchors
