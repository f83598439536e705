"""The package's modules import each other without a cycle, its native
parts included, and the platform vocabulary imports nothing of the
package."""

from __future__ import annotations

import ast
import importlib.util
import pkgutil
import re
from pathlib import Path

import pytest

import agents.quorvane as package

HOST_SOURCES = Path(__file__).resolve().parents[1] / "src" / "host"
PREFIX = package.__name__ + "."


def _modules() -> list[str]:
    names = [package.__name__]
    names += [info.name for info in pkgutil.walk_packages(package.__path__, PREFIX)]
    return names


def _python_imports(name: str, origin: str, known: set[str]) -> set[str]:
    tree = ast.parse(Path(origin).read_text(encoding="utf-8"))
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


def _native_imports(known: set[str]) -> dict[str, set[str]]:
    """What each native part imports while it loads: every module of the
    package its binding source names, beside the module it defines."""
    imports: dict[str, set[str]] = {}
    for source in HOST_SOURCES.glob("*_module.cpp"):
        text = source.read_text(encoding="utf-8")
        defined = re.search(r'module_def<\w+>\("([\w.]+)"\)', text)
        assert defined, f"{source.name} defines no module"
        named = set(re.findall(r'"(agents\.quorvane\.[\w.]+)"', text)) & known
        imports[defined.group(1)] = named - {defined.group(1)}
    return imports


@pytest.fixture(scope="module")
def graph() -> dict[str, set[str]]:
    names = _modules()
    known = set(names)
    graph: dict[str, set[str]] = {}
    for name in names:
        found = importlib.util.find_spec(name)
        assert found is not None and found.origin is not None
        graph[name] = _python_imports(name, found.origin, known) if found.origin.endswith(".py") else set()
    if HOST_SOURCES.is_dir():
        for native, imported in _native_imports(known).items():
            graph[native] |= imported
    return graph


def test_no_import_cycle_in_the_package(graph):
    assert len(graph) > 40 and "agents.quorvane._dialectra" in graph
    state: dict[str, int] = {}

    def visit(node: str, path: list[str]) -> None:
        state[node] = 1
        for nxt in sorted(graph[node]):
            assert state.get(nxt) != 1, "import cycle: " + " -> ".join(path + [node, nxt])
            if nxt not in state:
                visit(nxt, path + [node])
        state[node] = 2

    for n in graph:
        if n not in state:
            visit(n, [])


def test_the_platform_vocabulary_is_a_leaf(graph):
    assert graph["agents.quorvane.platforms"] == set()
    importers = {n for n, imported in graph.items() if "agents.quorvane.platforms" in imported}
    assert {"agents.quorvane._dialectra", "agents.quorvane._platform_evidence"} <= importers
