"""Work packets as the converting agent gets them: ``build_packets`` and
``quorvane packets``, on small code bases and on the corpus."""

from __future__ import annotations

import hashlib
import json
import re
import subprocess
import sys

import pytest
from corpus import CORPUS, corpus_files

packets = pytest.importorskip("agents.quorvane.packets")
from agents.quorvane.assessment.input_files import read_input
from agents.quorvane.tokens import estimate_tokens

TABLES = """CREATE TABLE dbo.Orders (Id INT NOT NULL, Amount DECIMAL(18, 2))
GO
CREATE FUNCTION dbo.Net (@Amount DECIMAL(18, 2), @Rate FLOAT = 0.2) RETURNS DECIMAL(18, 2)
AS BEGIN RETURN @Amount * (1 - @Rate) END
GO
"""
PROCS = """CREATE PROCEDURE dbo.Load AS
BEGIN
    CREATE TABLE #stage (Id INT, Net DECIMAL(18, 2));
    INSERT INTO #stage SELECT Id, dbo.Net(Amount, DEFAULT) FROM dbo.Orders;
    INSERT INTO dbo.Archive SELECT * FROM #stage JOIN sys.objects ON 1 = 0;
    EXEC dbo.Ping;
END
GO
CREATE PROCEDURE dbo.Ping AS EXEC dbo.Pong
GO
CREATE PROCEDURE dbo.Pong AS EXEC dbo.Ping
GO
"""
FILES = [("b_procs.sql", PROCS), ("a_tables.sql", TABLES)]


def by_id(found):
    return {p.id: p for p in found}


def test_packets_follow_the_conversion_order_and_carry_their_dependencies_shapes():
    found = list(packets.build_packets(sorted(FILES)))
    assert [p.id for p in found] == [
        "table:dbo.Orders",
        "function:dbo.Net",
        "procedure:dbo.Ping",
        "procedure:dbo.Pong",
        "procedure:dbo.Load",
    ]
    assert [p.order for p in found] == [1, 2, 3, 4, 5]
    deps = {d["name"]: d for d in by_id(found)["procedure:dbo.Load"].dependencies}
    assert deps["dbo.Orders"] == {
        "name": "dbo.Orders",
        "edge": "reads",
        "resolved": "table:dbo.Orders",
        "status": "earlier",
        "kind": "table",
        "defined_at": "a_tables.sql:1",
        "columns": [{"name": "Id", "type": "INT"}, {"name": "Amount", "type": "DECIMAL(18, 2)"}],
    }
    assert deps["dbo.Net"]["parameters"] == [
        {"name": "@Amount", "type": "DECIMAL(18, 2)", "default": None, "mode": "in"},
        {"name": "@Rate", "type": "FLOAT", "default": "0.2", "mode": "in"},
    ]
    assert (deps["dbo.Net"]["returns"], deps["dbo.Net"]["edge"]) == ("DECIMAL(18, 2)", "calls")
    assert (deps["dbo.Archive"]["status"], deps["dbo.Archive"]["resolved"]) == ("missing", None)
    assert deps["sys.objects"]["status"] == "system"
    assert by_id(found)["procedure:dbo.Load"].local_tables == (
        {
            "name": "#stage",
            "line": 3,
            "columns": [{"name": "Id", "type": "INT"}, {"name": "Net", "type": "DECIMAL(18, 2)"}],
        },
    )


def test_columns_added_by_alter_table_belong_to_the_table():
    files = [*FILES, ("c_alter.sql", "ALTER TABLE dbo.Orders ADD Placed DATE, Amount MONEY\nGO\n")]
    found = by_id(packets.build_packets(sorted(files)))
    expected = [
        {"name": "Id", "type": "INT"},
        {"name": "Amount", "type": "DECIMAL(18, 2)"},
        {"name": "Placed", "type": "DATE"},
    ]
    assert found["table:dbo.Orders"].object["columns"] == expected
    assert next(d for d in found["procedure:dbo.Load"].dependencies if d["name"] == "dbo.Orders")["columns"] == expected


def test_objects_of_one_cycle_share_a_group():
    found = by_id(packets.build_packets(sorted(FILES)))
    ping, pong = found["procedure:dbo.Ping"], found["procedure:dbo.Pong"]
    assert ping.group == pong.group is not None and found["procedure:dbo.Load"].group is None
    assert [d["status"] for d in ping.dependencies] == ["same_group"]


def test_source_is_the_objects_own_lines_with_their_hash():
    text = "-- header\nSELECT 1\r\nGO\n\nCREATE VIEW dbo.V AS\r\n  SELECT 2 AS x\nGO\n"
    view = by_id(packets.build_packets([("v.sql", text)]))["view:dbo.V"]
    assert view.source == "CREATE VIEW dbo.V AS\r\n  SELECT 2 AS x"
    assert view.object["sha256"] == hashlib.sha256(view.source.encode()).hexdigest()
    assert (view.object["start_line"], view.object["end_line"], view.lines) == (5, 6, (5, 6))


def test_batches_are_named_by_place_and_a_second_definition_by_its_place_too():
    found = [
        p.id
        for p in packets.build_packets(
            [("a.sql", "SELECT 1\nGO\nCREATE TABLE t (a INT)\nGO\n"), ("b.sql", "CREATE TABLE t (a INT)")]
        )
    ]
    assert found == ["a.sql#1", "table:t", "table:t@b.sql#1"]


def test_knowledge_names_the_sections_and_holds_their_text_with_a_knowledge_base(tmp_path):
    (tmp_path / "mapping.md").write_text(
        "## Window Functions\nUse Window.partitionBy.\n\n## Joins\nx\n", encoding="utf-8"
    )
    (tmp_path / "gotchas.md").write_text("## 4. Window Frame RANGE Includes Duplicates\nUse ROWS.\n", encoding="utf-8")
    sql = [("w.sql", "SELECT ROW_NUMBER() OVER (ORDER BY a) FROM t")]
    bare = next(packets.build_packets(sql)).knowledge
    assert "Window Functions" in bare["mapping"] and "text" not in bare
    assert bare["gotchas"] == ["4. Window Frame RANGE Includes Duplicates"]
    text = next(packets.build_packets(sql, kb=tmp_path)).knowledge["text"]
    assert "Window.partitionBy" in text["mapping"] and "Joins" not in text["mapping"] and "Use ROWS." in text["gotchas"]


def long_procedure(statements):
    body = "".join(
        f"    INSERT INTO dbo.Log (Id, Note)\n    SELECT {i}, 'step {i}; not the end'\n    FROM dbo.Src WHERE Id = {i};\n"
        for i in range(statements)
    )
    return f"CREATE PROCEDURE dbo.Long AS\nBEGIN\n{body}END\n"


@pytest.mark.parametrize("statements", [60, 200])  # without and with a reading plan (over 500 lines)
def test_an_object_over_budget_is_cut_between_statements(statements):
    sql = long_procedure(statements)
    parts = list(packets.build_packets([("long.sql", sql)], budget=1500))
    whole = sql.splitlines()
    assert len(parts) > 1 and [(p.part, p.parts) for p in parts] == [(i + 1, len(parts)) for i in range(len(parts))]
    assert "\n".join(p.source for p in parts) == "\n".join(whole[:-1] + ["END"])
    assert all(p.tokens <= 1500 for p in parts)
    assert all(re.match(r"\s*INSERT\b", whole[p.lines[0] - 1]) for p in parts[1:])
    assert (parts[0].reading_plan is not None) == (len(whole) > 500)


def test_markdown_is_a_prompt_with_facts_shapes_and_numbered_source():
    load = by_id(packets.build_packets(sorted(FILES)))["procedure:dbo.Load"]
    md = load.as_markdown()
    assert md.startswith("# procedure dbo.Load\n")
    assert "- reads `dbo.Orders`: earlier table at a_tables.sql:1; columns: Id INT, Amount DECIMAL(18, 2)" in md
    assert md.endswith(
        "```sql\n1  CREATE PROCEDURE dbo.Load AS\n2  BEGIN\n3      CREATE TABLE #stage (Id INT, Net DECIMAL(18, 2));\n"
        "4      INSERT INTO #stage SELECT Id, dbo.Net(Amount, DEFAULT) FROM dbo.Orders;\n"
        "5      INSERT INTO dbo.Archive SELECT * FROM #stage JOIN sys.objects ON 1 = 0;\n"
        "6      EXEC dbo.Ping;\n7  END\n```\n"
    )
    assert load.tokens == estimate_tokens(md)
    assert json.loads(load.as_json())["tokens"] == load.tokens


# --- the command ----------------------------------------------------------------------


def run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", "packets", *args],
        check=False,
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


@pytest.fixture
def tree(tmp_path):
    for name, text in FILES:
        (tmp_path / name).write_text(text, encoding="utf-8")
    return tmp_path


def test_command_writes_json_lines_the_same_for_any_number_of_jobs(tree):
    one, two = run(".", "--jobs", "1", cwd=tree), run(".", "--jobs", "2", "-o", "out.jsonl", cwd=tree)
    assert one.returncode == two.returncode == 0
    assert one.stdout == (tree / "out.jsonl").read_text(encoding="utf-8")
    assert json.loads(one.stdout.splitlines()[0])["id"] == "table:dbo.Orders"


def test_command_writes_one_markdown_file_per_packet_and_an_index(tree):
    (tree / "bad.sql").write_bytes(b"\xff\xfe\x00")
    done = run(".", "--format", "md", "-o", "md", cwd=tree)
    assert done.returncode == 1 and "bad.sql" in done.stderr
    names = sorted(p.name for p in (tree / "md").iterdir())
    assert names == [
        "0001-table-dbo.Orders.md",
        "0002-function-dbo.Net.md",
        "0003-procedure-dbo.Ping.md",
        "0004-procedure-dbo.Pong.md",
        "0005-procedure-dbo.Load.md",
        "index.md",
    ]
    index = (tree / "md" / "index.md").read_text(encoding="utf-8")
    assert "| 5 | [0005-procedure-dbo.Load.md](0005-procedure-dbo.Load.md) | procedure:dbo.Load |" in index
    assert "function:dbo.Net, procedure:dbo.Ping, table:dbo.Orders |" in index


def test_markdown_needs_a_directory(tree):
    done = run(".", "--format", "md", cwd=tree)
    assert done.returncode == 2 and "-o DIR" in done.stderr


# --- the corpus ---------------------------------------------------------------------


@pytest.mark.skipif(not corpus_files(), reason="shared corpus not present")
def test_corpus_packets_are_whole_ordered_exact_and_reproducible(tmp_path):
    one = run(str(CORPUS), "--jobs", "1", "-o", str(tmp_path / "one.jsonl"), cwd=tmp_path)
    two = run(str(CORPUS), "--jobs", "2", "-o", str(tmp_path / "two.jsonl"), cwd=tmp_path)
    assert one.returncode == two.returncode == 0, one.stderr
    data = (tmp_path / "one.jsonl").read_bytes()
    assert data == (tmp_path / "two.jsonl").read_bytes()
    found = [json.loads(line) for line in data.decode("utf-8").splitlines()]
    order = {p["id"]: (p["order"], p["group"]) for p in found}
    parts: dict[str, list] = {}
    texts: dict[str, list[str]] = {}
    late = []
    for p in found:
        parts.setdefault(p["id"], []).append((p["part"], p["parts"]))
        o = p["object"]
        lines = texts.setdefault(o["path"], read_input(o["path"], 1 << 30).text.splitlines(keepends=True))
        a, b = p["lines"]
        assert p["source"] == "".join(lines[a - 1 : b - 1]) + lines[b - 1].splitlines()[0]
        for d in p["dependencies"]:
            if d["resolved"] and d["edge"] != "dynamic":
                theirs, mine = order[d["resolved"]], order[p["id"]]
                if not (
                    theirs[0] < mine[0] or (mine[1] is not None and theirs[1] == mine[1]) or d["resolved"] == p["id"]
                ):
                    late.append((p["id"], d["name"]))
    assert late == []
    assert all(v == [(i + 1, len(v)) for i in range(len(v))] for v in parts.values())
    within = [p["tokens"] <= packets.DEFAULT_BUDGET for p in found]
    assert sum(within) >= 0.99 * len(found)
