"""The dependency graph of the HTML report: the object inventory's own graph
(``assessment.dependencies``) drawn by its own page code as inline SVG."""

from __future__ import annotations

from collections.abc import Sequence

from agents.quorvane.assessment import dependencies
from agents.quorvane.assessment.record import FileResult
from agents.quorvane.writers import inventory_page


def graph_svg(results: Sequence[FileResult]) -> str:
    """The graph of the units in ``results`` as an SVG element (or the
    drawing code's own note when nothing references anything), "" when
    there are no units."""
    units = [
        dependencies.Unit(r.path, unit, row.complexity or "simple")
        for r in results
        for unit, row in zip(r.units, r.objects)
    ]
    if not units:
        return ""
    return inventory_page.graph_svg(dependencies.build_graph(units))
