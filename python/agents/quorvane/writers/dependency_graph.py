"""The dependency graph of the HTML report: the object inventory's own graph
(``assessment.dependencies``) of the units in the results, in the graph
section both pages share."""

from __future__ import annotations

from collections.abc import Sequence

from agents.quorvane.assessment import dependencies
from agents.quorvane.assessment.record import FileResult
from agents.quorvane.writers.graph_view import graph_section


def graph_html(results: Sequence[FileResult]) -> str:
    """The graph section of the units in ``results``, "" when there are no
    units."""
    units = [
        dependencies.Unit(r.path, unit, row.complexity or "simple", r.file.platform)
        for r in results
        for unit, row in zip(r.units, r.objects)
    ]
    if not units:
        return ""
    return graph_section(dependencies.build_graph(units))
