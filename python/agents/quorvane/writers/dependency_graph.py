"""The dependency graph of the HTML report: the object inventory's own graph
(``assessment.dependencies``) drawn by its own page code as inline SVG."""

from __future__ import annotations

from collections.abc import Sequence

from agents.quorvane.assessment.record import FileResult


def graph_svg(results: Sequence[FileResult]) -> str | None:
    """The graph of the units in ``results`` as an SVG element (or the
    drawing code's own note when nothing references anything), "" when
    there are no units, None when the inventory's graph code is missing."""
    try:
        from agents.quorvane.assessment import dependencies
        from agents.quorvane.writers import inventory_page
    except ImportError:
        return None
    draw = getattr(inventory_page, "graph_svg", None) or getattr(inventory_page, "_svg", None)
    if draw is None:
        return None
    units = [
        dependencies.Unit(r.path, unit, row.complexity or "simple", r.file.platform)
        for r in results
        for unit, row in zip(r.units, r.objects)
    ]
    if not units:
        return ""
    return str(draw(dependencies.build_graph(units)))
