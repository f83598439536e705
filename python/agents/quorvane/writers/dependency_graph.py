"""The dependency graph of the HTML report, drawn by the object inventory's
own graph code as inline SVG."""

from __future__ import annotations

from collections.abc import Sequence

from agents.quorvane.assessment.record import FileResult


def graph_svg(results: Sequence[FileResult]) -> str | None:
    """The graph of the objects in ``results`` as an SVG element, "" when
    no object depends on another, None when the inventory cannot draw it."""
    try:
        from agents.quorvane.inventory import graph  # type: ignore[attr-defined,unused-ignore]
    except ImportError:
        return None
    draw = getattr(graph, "render_svg", None)
    if draw is None:
        return None
    units = [u for r in results for u in r.units]
    return str(draw(units)) if units else ""
