"""Waves of conversion work: the layers of the conversion order.

Wave 1 holds every unit that depends on no other defined object; wave N
holds the units whose dependencies are all in earlier waves, at least one
of them in wave N - 1.  A cycle (units that depend on one another) is one
group of the order, so its members share a wave.  Probable references
found only in executed SQL (``dynamic`` edges) are left out, as they are
from the order.
"""

from __future__ import annotations

from agents.quorvane.assessment.dependencies import DYNAMIC, Graph


def unit_waves(graph: Graph) -> list[int]:
    """The wave (1, 2, ...) of every unit of ``graph``, by unit index."""
    group_of = {}
    for g, group in enumerate(graph.order):
        for unit in group:
            group_of[unit] = g
    needs: list[set[int]] = [set() for _ in graph.order]
    for e in graph.edges:
        if e.kind != DYNAMIC and group_of[e.source] != group_of[e.target]:
            needs[group_of[e.source]].add(group_of[e.target])
    wave = [0] * len(graph.order)
    # The order puts every group after the groups it needs.
    for g in range(len(graph.order)):
        wave[g] = 1 + max((wave[d] for d in needs[g]), default=0)
    out = [0] * len(graph.units)
    for unit, g in group_of.items():
        out[unit] = wave[g]
    return out
