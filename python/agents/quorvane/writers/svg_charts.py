"""Inline SVG charts for the HTML report."""

from __future__ import annotations

from collections.abc import Sequence
from html import escape


def bar_chart(items: Sequence[tuple[str, float, str]], *, label_width: int = 130, bar_width: int = 240) -> str:
    """Horizontal bars, one per (label, value, colour), scaled to the largest."""
    if not items:
        return '<p class="meta">nothing to show</p>'
    row, gap = 20, 6
    peak = max(value for _, value, _ in items) or 1
    height = len(items) * (row + gap)
    width = label_width + bar_width + 60
    parts = [f'<svg width="{width}" height="{height}" viewBox="0 0 {width} {height}" role="img">']
    for i, (label, value, colour) in enumerate(items):
        y = i * (row + gap)
        length = round(bar_width * value / peak)
        text = escape(label)
        shown = f"{value:g}"
        parts.append(
            f'<text x="{label_width - 6}" y="{y + row - 5}" text-anchor="end">{text}</text>'
            f'<rect x="{label_width}" y="{y}" width="{max(length, 1)}" height="{row}" fill="{colour}">'
            f"<title>{text}: {shown}</title></rect>"
            f'<text x="{label_width + length + 6}" y="{y + row - 5}">{shown}</text>'
        )
    parts.append("</svg>")
    return "".join(parts)
