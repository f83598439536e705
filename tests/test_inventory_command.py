"""``quorvane inventory`` as a user runs it, and the dependency graph behind
it: edges, name matching, missing names, cycles and the conversion order."""

from __future__ import annotations

import csv
import io
import json
import subprocess
import sys
from html.parser import HTMLParser

import pytest

pytest.importorskip("agents.quorvane.inventory")

from agents.quorvane.assessment.dependencies import (  # noqa: E402
    Unit,
    build_graph,
    is_system_name,
    not_production,
    not_production,
    strongly_connected_components,
)
from agents.quorvane.inventory import split_objects  # noqa: E402

FILES = {
    "a_tables.sql": "CREATE TABLE dbo.Orders (id int)\nGO\nCREATE TABLE sales.Lines (id int)\nGO\n"
    "CREATE TABLE Customers (id int)\nGO\n",
    "b_views.sql": "CREATE VIEW dbo.vOrders AS SELECT * FROM dbo.orders o JOIN Lines l ON 1=1\nGO\n",
    "c_procs.sql": (
        "CREATE PROCEDURE dbo.LoadOrders AS\nBEGIN\n"
        "  INSERT INTO ORDERS SELECT * FROM staging.Orders\n"
        "  EXEC dbo.Audit\n  EXEC sp_who\n  SELECT * FROM sys.objects JOIN master.dbo.spt_values ON 1=1\n"
        "  SELECT * FROM [dbo].[Customers]\nEND\nGO\n"
        "CREATE PROCEDURE dbo.Audit AS EXEC dbo.LoadOrders\nGO\n"
        "CREATE PROCEDURE dbo.Recursive AS EXEC dbo.Recursive\nGO\n"
    ),
}


def graph_of(files):
    units = []
    for path in sorted(files):
        units += [Unit(path, o, "simple") for o in split_objects(files[path])]
    return build_graph(units)


def ids(graph):
    return {(u.path, u.obj.name): i for i, u in enumerate(graph.units)}


def test_edges_match_names_ignoring_case_and_default_schema():
    g = graph_of(FILES)
    at = ids(g)
    edges = {(g.units[e.source].obj.name, g.units[e.target].obj.name, e.kind) for e in g.edges}
    assert ("dbo.vOrders", "dbo.Orders", "reads") in edges
    assert ("dbo.vOrders", "sales.Lines", "reads") in edges  # unique match in another schema
    assert ("dbo.LoadOrders", "dbo.Orders", "writes") in edges
    assert ("dbo.LoadOrders", "Customers", "reads") in edges  # defined without a schema: dbo
    assert ("dbo.LoadOrders", "dbo.Audit", "calls") in edges
    # A table's own definition is no edge to itself.
    assert all(e.source != e.target for e in g.edges if e.kind != "calls")
    assert at[("a_tables.sql", "dbo.Orders")] == 0


def test_missing_names_leave_out_system_objects():
    g = graph_of(FILES)
    assert [(m.name, sorted(m.kinds)) for m in g.missing] == [("staging.Orders", ["reads"])]
    assert is_system_name("sys.objects", "reads") and is_system_name("INFORMATION_SCHEMA.TABLES", "reads")
    assert is_system_name("msdb.dbo.sysjobs", "reads") and is_system_name("tempdb..x", "reads")
    assert is_system_name("sp_executesql", "calls") and is_system_name("dbo.xp_cmdshell", "calls")
    assert not is_system_name("dbo.system_log", "reads")


def test_cycles_and_order():
    g = graph_of(FILES)
    at = ids(g)
    names = {i: g.units[i].obj.name for i in range(len(g.units))}
    assert [sorted(names[i] for i in c) for c in g.cycles] == [
        ["dbo.Audit", "dbo.LoadOrders"],
        ["dbo.Recursive"],
    ]
    flat = [i for group in g.order for i in group]
    assert sorted(flat) == list(range(len(g.units)))
    place = {i: n for n, group in enumerate(g.order) for i in group}
    for e in g.edges:
        if place[e.source] != place[e.target]:
            assert place[e.target] < place[e.source], e
    # The cycle is one group; ties go by path then line.
    assert sorted(len(group) for group in g.order)[-1] == 2
    assert g.order[0] == [at[("a_tables.sql", "dbo.Orders")]]


def test_a_name_defined_twice_resolves_to_one_definition_and_is_listed():
    files = {
        "a_demo/t.sql": "CREATE TABLE t (a int);\nINSERT INTO t VALUES (1);\n",
        "b.sql": "CREATE TABLE dbo.T (a int)\nGO\nALTER PROCEDURE p AS EXEC p\nGO\nCREATE PROCEDURE p AS SELECT * FROM t\n",
    }
    g = graph_of(files)
    assert [sorted(g.units[i].obj.name for i in c) for c in g.cycles] == [["p"]]
    # The table outside the demo folder wins; p's definitions do not depend
    # on each other.
    edges = {(g.units[e.source].path, g.units[e.source].obj.name, g.units[e.target].path) for e in g.edges}
    assert edges == {("b.sql", "p", "b.sql")}
    assert [
        (d.name, d.kind, [(g.units[i].path, g.units[i].obj.start_line) for i in d.definitions]) for d in g.duplicates
    ] == [
        ("dbo.T", "table", [("b.sql", 1), ("a_demo/t.sql", 1)]),
        ("p", "procedure", [("b.sql", 3), ("b.sql", 5)]),
    ]
    assert not_production("Samples/x.sql") and not_production("sql/unit_tests.sql")
    assert not not_production("latest/contest.sql")


def test_names_in_executed_sql_are_low_confidence_edges():
    files = {
        "a.sql": "CREATE TABLE dbo.Orders (a int)\nGO\n"
        "CREATE PROCEDURE dbo.Load AS\nDECLARE @s nvarchar(max)\n"
        "SET @s = N'DELETE FROM dbo.Orders; EXEC dbo.Load; INSERT INTO dbo.Gone SELECT 1'\nEXEC (@s)\n"
        "SET @t = N'SELECT * FROM dbo.NeverRun'\n",
    }
    g = graph_of(files)
    assert [(g.units[e.target].obj.name, e.kind, e.confidence) for e in g.edges] == [
        ("dbo.Orders", "dynamic", "dynamic"),
        ("dbo.Load", "dynamic", "dynamic"),
    ]
    assert g.cycles == []  # a guess makes no cycle
    assert [(m.name, m.confidence) for m in g.missing] == [("dbo.Gone", "dynamic")]


def test_tarjan_handles_long_chains_without_recursion():
    n = 50_000
    successors = [[i + 1] for i in range(n - 1)] + [[0]]
    [component] = strongly_connected_components(n, successors)
    assert sorted(component) == list(range(n))
    chain = [[i + 1] for i in range(n - 1)] + [[]]
    assert len(strongly_connected_components(n, chain)) == n


def run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", "inventory", *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=120,
    )


@pytest.fixture
def tree(tmp_path):
    for name, text in FILES.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    (tmp_path / "bad.sql").write_bytes(b"\xff\xfe\x00")  # not decodable as its mark says
    return tmp_path


def test_json_document(tree):
    proc = run(".", cwd=tree)
    doc = json.loads(proc.stdout)
    assert set(doc) == {"objects", "edges", "missing", "cycles", "order", "duplicates", "errors"}
    first = doc["objects"][0]
    assert list(first) == [
        "id",
        "path",
        "kind",
        "name",
        "start_line",
        "end_line",
        "complexity",
        "reads",
        "writes",
        "calls",
        "temp_tables",
        "dynamic_sql",
        "dynamic_references",
    ]
    assert (first["path"], first["kind"], first["name"], first["complexity"]) == (
        "a_tables.sql",
        "table",
        "dbo.Orders",
        "simple",
    )
    assert {"from", "to", "kind", "name", "confidence"} == set(doc["edges"][0])
    assert doc["missing"][0]["name"] == "staging.Orders"
    assert proc.returncode == 1 and [e["path"] for e in doc["errors"]] == ["bad.sql"]
    assert "bad.sql" in proc.stderr


def test_csv_dot_and_html(tree):
    (tree / "bad.sql").unlink()
    rows = list(csv.DictReader(io.StringIO(run(".", "--format", "csv", cwd=tree).stdout)))
    assert len(rows) == 7 and rows[0]["kind"] == "table" and rows[0]["order"] == "1"
    load = next(r for r in rows if r["name"] == "dbo.LoadOrders")
    assert load["cycle"] == "1" and load["reads"] == "staging.Orders; sys.objects; master.dbo.spt_values; dbo.Customers"
    dot = run(".", "--format", "dot", cwd=tree)
    assert dot.returncode == 0 and dot.stdout.startswith("digraph inventory {") and dot.stdout.rstrip().endswith("}")
    assert '"staging.Orders (missing)"' in dot.stdout
    proc = run(".", "--html", "inv.html", cwd=tree)
    assert proc.returncode == 0 and proc.stdout == ""
    page = (tree / "inv.html").read_text(encoding="utf-8")

    class Tags(HTMLParser):
        def __init__(self):
            super().__init__()
            self.seen = []

        def handle_starttag(self, tag, attrs):
            self.seen.append(tag)

    tags = Tags()
    tags.feed(page)
    assert tags.seen.count("svg") == 1 and tags.seen.count("table") == 1 and tags.seen.count("tr") == 8
    assert "http:" not in page.replace('xmlns="http://www.w3.org/2000/svg"', "")


def test_inventory_of_nothing(tmp_path):
    proc = run(".", cwd=tmp_path)
    assert proc.returncode == 1 and json.loads(proc.stdout)["objects"] == []
    assert "no input file" in proc.stderr
