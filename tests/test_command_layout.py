"""The command's modules import each other without a cycle."""

from __future__ import annotations

import ast
import importlib
import pkgutil

import agents.quorvane as package

COMMAND_PACKAGES = ("assessment", "commands", "writers")


def _modules() -> list[str]:
    names = ["agents.quorvane.cli"]
    for sub in COMMAND_PACKAGES:
        pkg = importlib.import_module(f"agents.quorvane.{sub}")
        names.append(pkg.__name__)
        names += [info.name for info in pkgutil.iter_modules(pkg.__path__, pkg.__name__ + ".")]
    return names


def _imports(name: str, known: set[str]) -> set[str]:
    located = importlib.util.find_spec(name)
    assert located is not None and located.origin is not None
    tree = ast.parse(open(located.origin, encoding="utf-8").read())
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.module:
            candidates = [node.module] + [f"{node.module}.{a.name}" for a in node.names]
        elif isinstance(node, ast.Import):
            candidates = [a.name for a in node.names]
        else:
            continue
        found.update(c for c in candidates if c in known and c != name)
    return found


def test_no_import_cycle_among_the_command_modules():
    names = _modules()
    assert len(names) > 10 and package.__name__ == "agents.quorvane"
    known = set(names)
    graph = {n: _imports(n, known) for n in names}
    state: dict[str, int] = {}

    def visit(node: str, path: list[str]) -> None:
        state[node] = 1
        for nxt in sorted(graph[node]):
            assert state.get(nxt) != 1, "import cycle: " + " -> ".join(path + [node, nxt])
            if nxt not in state:
                visit(nxt, path + [node])
        state[node] = 2

    for n in names:
        if n not in state:
            visit(n, [])
