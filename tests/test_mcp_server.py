"""``quorvane mcp``: the tools through the SDK's own clients, in memory and
over stdio, their budgets and cursors, and every refusal."""

from __future__ import annotations

import json
import os
import shutil
import sys
from contextlib import redirect_stdout
from io import StringIO
from pathlib import Path

import pytest

pytest.importorskip("mcp")

import anyio  # noqa: E402
import structlog  # noqa: E402
from mcp import Client, StdioServerParameters  # noqa: E402

from agents.quorvane.assessment.effort import DEFAULT_MODEL  # noqa: E402
from agents.quorvane.cli import main  # noqa: E402
from agents.quorvane.mcp_server.server import build_server  # noqa: E402
from agents.quorvane.mcp_server.tools import Workspace  # noqa: E402
from agents.quorvane.tokens import estimate_tokens  # noqa: E402

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
LONG = "warehouse_nightly_load.sql"
SECRET = "TOP-SECRET-CONTENT"


@pytest.fixture
def root(tmp_path):
    base = tmp_path / "root"
    shutil.copytree(EXAMPLES / "sql", base / "sql")
    return base


def workspace(root, **options):
    return Workspace.create([str(root)], effort=DEFAULT_MODEL, **options)


def calls(ws, *requests):
    """The results of ``(tool, arguments)`` requests, in order, on one
    in-memory session."""

    async def go():
        async with Client(build_server(ws)) as client:
            return [await client.call_tool(name, args) for name, args in requests]

    return anyio.run(go)


def ok(result):
    assert not result.is_error, result.content[0].text
    # The same document as structured content and as text.
    assert json.loads(result.content[0].text) == result.structured_content
    return result.structured_content


def failed(result):
    assert result.is_error
    return result.content[0].text


def command_output(*argv):
    """What ``quorvane`` prints, run in this process (its logging settings
    put back after)."""
    saved = structlog.get_config()
    out = StringIO()
    try:
        with redirect_stdout(out):
            main([str(a) for a in argv])
    finally:
        structlog.configure(**saved)
    return out.getvalue()


def analyze_records(path, *extra):
    """``quorvane analyze --format json`` on ``path``, without the paths."""
    output = command_output("analyze", path, "--format", "json", "--no-progress", *extra)
    return [{**json.loads(line), "path": None} for line in output.splitlines()]


def test_every_tool_answers_in_memory(root, monkeypatch):
    kb = EXAMPLES / "kb"
    ws = workspace(root, kb=str(kb))
    sql = f"sql/{LONG}"
    (root / "merge.sql").write_text("MERGE INTO t USING s ON t.id = s.id WHEN MATCHED THEN DELETE;\n")
    assess, per_object, inventory, source, plan, knowledge, platform, packet = map(
        ok,
        calls(
            ws,
            ("assess", {"path": sql}),
            ("assess", {"path": sql, "objects": True, "max_tokens": 20000}),
            ("inventory", {"path": "sql"}),
            ("read_source", {"path": sql, "start_line": 3, "end_line": 4}),
            ("reading_plan", {"path": str(root / sql)}),
            ("knowledge", {"path": "merge.sql"}),
            ("detect_platform", {"sql": "SELECT TOP 5 * FROM [dbo].[t]\nGO\n"}),
            ("work_packet", {"path": "sql/postgresql_loyalty_points.sql", "name": "V_EMAIL_AUDIENCE"}),
        ),
    )
    assert [{**r, "path": None} for r in assess["rows"]] == analyze_records(root / sql)
    assert assess["totals"]["files"] == 1 and assess["rows"][0]["path"] == sql
    assert [{**r, "path": None} for r in per_object["rows"]] == analyze_records(root / sql, "--objects")
    assert inventory["counts"]["objects"] == len(inventory["objects"]) > 10
    lines = (root / sql).read_text(encoding="utf-8").splitlines()
    assert source["text"] == f"3\t{lines[2]}\n4\t{lines[3]}\n" and source["end_line"] == 4
    assert not source["truncated"]
    assert plan["chunked"] and len(plan["sections"]) >= 2
    assert plan["instructions"] + "\n" == command_output("plan", root / sql).replace(str(root / sql), sql)
    selected = json.loads(command_output("knowledge", root / "merge.sql", "--kb", kb, "--format", "json"))
    for doc in ("mapping", "gotchas"):
        assert "\n\n".join(s["text"] for s in knowledge["sections"] if s["doc"] == doc) == selected[doc]
    assert knowledge["categories"] == selected["categories"] and knowledge["sizes"] == selected["report"]
    monkeypatch.chdir(root)
    [built] = [
        json.loads(line)
        for line in command_output("packets", ".", "--kb", kb).splitlines()
        if json.loads(line)["id"] == packet["packet"]["id"]
    ]
    assert packet["packet"] == built
    assert packet["packet"]["id"] == "view:loyalty.v_email_audience" and packet["parts"] == 1
    assert platform["platform"] == "sqlserver"
    assert {"id": "sqlserver.go_batch_separator", "line": 2} in platform["matched"]


def test_tool_listing_is_small_annotated_and_typed(root):
    async def go():
        async with Client(build_server(workspace(root))) as client:
            return await client.list_tools()

    listing = anyio.run(go)
    assert len(listing.model_dump_json(by_alias=True, exclude_none=True).encode()) <= 6 * 1024
    assert {t.name for t in listing.tools} >= {
        "assess",
        "inventory",
        "read_source",
        "reading_plan",
        "knowledge",
        "detect_platform",
    }
    for tool in listing.tools:
        assert tool.annotations.read_only_hint and tool.annotations.idempotent_hint
        assert tool.output_schema["type"] == "object"


@pytest.mark.parametrize("tool,lists", [("assess", ("rows",)), ("inventory", ("objects", "edges", "order"))])
def test_pages_cover_everything_once_within_the_budget(root, tool, lists):
    ws = workspace(root)
    [whole] = calls(ws, (tool, {"path": "sql", "max_tokens": 20000}))
    whole = ok(whole)
    pages, cursor = [], None
    while True:
        args = {"path": "sql", "max_tokens": 2000, **({"cursor": cursor} if cursor else {})}
        [result] = calls(ws, (tool, args))
        assert estimate_tokens(result.content[0].text) <= 2000
        pages.append(ok(result))
        cursor = pages[-1]["next_cursor"]
        if cursor is None:
            break
    assert len(pages) > 2
    for key in lists:
        assert [x for p in pages for x in p[key]] == whole[key]
    assert ("totals" in pages[0] or "counts" in pages[0]) and not any("totals" in p or "counts" in p for p in pages[1:])


def test_cursors_are_stable_and_refused_when_altered_foreign_or_stale(root):
    ws = workspace(root)
    first, again = map(
        ok, calls(ws, ("assess", {"path": "sql", "max_tokens": 2000}), ("assess", {"path": "sql", "max_tokens": 2000}))
    )
    cursor = first["next_cursor"]
    assert cursor == again["next_cursor"]
    altered = cursor[:-3] + ("AAA" if not cursor.endswith("AAA") else "BBB")
    results = calls(
        ws,
        ("assess", {"path": "sql", "cursor": altered}),
        ("assess", {"path": "sql", "objects": True, "cursor": cursor}),
        ("inventory", {"path": "sql", "cursor": cursor}),
        ("assess", {"path": "sql", "cursor": "not a cursor"}),
    )
    messages = [failed(r) for r in results]
    assert "invalid cursor" in messages[0] and "invalid cursor" in messages[3]
    assert all("another call" in m for m in messages[1:3])
    (root / "sql" / "new.sql").write_text("SELECT 1;\n", encoding="utf-8")
    [stale] = calls(ws, ("assess", {"path": "sql", "cursor": cursor}))
    assert "stale cursor" in failed(stale)


def test_refusals_name_their_rule_and_reveal_nothing(root, tmp_path):
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret.sql").write_text(f"SELECT '{SECRET}';\n", encoding="utf-8")
    (root / "link.sql").symlink_to(outside / "secret.sql")
    (root / "linked_dir").symlink_to(outside)
    os.mkfifo(root / "pipe.sql")
    (root / "big.sql").write_text(f"SELECT '{SECRET}';\n" * 100, encoding="utf-8")
    ws = workspace(root, max_size=1000)
    cases = {
        "../outside/secret.sql": "leads outside the roots",
        "sql/../../outside/secret.sql": "leads outside the roots",
        str(outside / "secret.sql"): "absolute path outside the roots",
        "link.sql": "symbolic link that points outside",
        "linked_dir/secret.sql": "symbolic link that points outside",
        "pipe.sql": "is a FIFO",
        "big.sql": "more than the 1000-byte limit",
    }
    for tool in ("read_source", "assess", "detect_platform"):
        results = calls(ws, *[(tool, {"path": p}) for p in cases])
        for (path, rule), result in zip(cases.items(), results):
            message = failed(result)
            assert message.startswith("refused:") and rule in message, (tool, path, message)
            assert SECRET not in message
    # In a folder, refused files are error rows; nothing is read through a link.
    [folder] = calls(ws, ("assess", {"path": "."}))
    rows = {r["path"]: r for r in ok(folder)["rows"]}
    assert "symbolic link" in rows["link.sql"]["error"] and "FIFO" in rows["pipe.sql"]["error"]
    assert not any("secret" in p for p in rows if p != "link.sql")


def test_bad_arguments_are_tool_errors_and_the_server_keeps_serving(root):
    results = calls(
        workspace(root),
        ("read_source", {"path": 7}),
        ("read_source", {"path": f"sql/{LONG}", "start_line": -2}),
        ("read_source", {"path": f"sql/{LONG}", "start_line": 9, "end_line": 3}),
        ("read_source", {"path": f"sql/{LONG}", "start_line": 99999}),
        ("read_source", {"path": "sql"}),
        ("read_source", {"path": "nowhere.sql"}),
        ("assess", {"path": "sql", "colour": "red"}),
        ("assess", {"path": "sql", "max_tokens": 10**9}),
        ("detect_platform", {"path": f"sql/{LONG}", "sql": "SELECT 1"}),
        ("knowledge", {"categories": ["merge"]}),
        ("work_packet", {"id": "procedure:no.such"}),
        ("work_packet", {"id": "view:rpt.vw_x", "path": "sql"}),
        ("work_packet", {"path": f"sql/{LONG}", "name": "nothing_here"}),
        ("no_such_tool", {}),
        ("reading_plan", {"path": f"sql/{LONG}"}),
    )
    messages = [failed(r) for r in results[:-1]]
    for message, expected in zip(
        messages,
        [
            "is not of type 'string'",
            "less than the minimum of 1",
            "end_line 3 is before start_line 9",
            "past the end",
            "is a folder",
            "no such file or directory",
            "unknown argument: colour",
            "maximum",
            "either path or sql",
            "--kb",
            "unknown id: procedure:no.such",
            "not both",
            "no object named nothing_here",
            "unknown tool",
        ],
    ):
        assert expected in message, message
    assert ok(results[-1])["sections"]


def test_undecodable_files_fail_with_the_decoder_message_of_analyze(root):
    (root / "bad.sql").write_bytes(b"\xff\xfe\x00")  # a UTF-16 mark before half a character
    [analyzed] = analyze_records(root / "bad.sql")
    for tool in ("read_source", "reading_plan", "detect_platform"):
        [result] = calls(workspace(root), (tool, {"path": "bad.sql"}))
        assert failed(result) == f"bad.sql: {analyzed['error']}"


def test_read_source_cuts_at_the_budget_and_says_where(root):
    (root / "wide.sql").write_text("SELECT '" + "x" * 50_000 + "';\nSELECT 2;\n", encoding="utf-8")
    many, wide = map(
        ok,
        calls(
            workspace(root),
            ("read_source", {"path": f"sql/{LONG}", "max_tokens": 2000}),
            ("read_source", {"path": "wide.sql", "max_tokens": 2000}),
        ),
    )
    lines = (root / "sql" / LONG).read_text(encoding="utf-8").splitlines()
    assert many["truncated"] and 1 < many["end_line"] < len(lines) and not many["last_line_partial"]
    assert many["text"] == "".join(f"{n}\t{lines[n - 1]}\n" for n in range(1, many["end_line"] + 1))
    assert wide["truncated"] and wide["last_line_partial"] and wide["end_line"] == 1
    assert wide["text"].startswith("1\tSELECT 'xxx")


def test_stdio_server_serves_every_tool_and_writes_nothing(root):
    before = sorted((p, p.stat().st_mtime_ns) for p in root.parent.rglob("*"))
    params = StdioServerParameters(
        command=sys.executable,
        args=["-m", "agents.quorvane", "mcp", "--root", str(root), "--kb", str(EXAMPLES / "kb")],
        cwd=str(root),
    )
    requests = [
        ("assess", {"path": "sql"}),
        ("inventory", {"path": "sql"}),
        ("read_source", {"path": f"sql/{LONG}"}),
        ("reading_plan", {"path": f"sql/{LONG}"}),
        ("knowledge", {"path": f"sql/{LONG}"}),
        ("detect_platform", {"path": f"sql/{LONG}"}),
        ("read_source", {"path": "../x"}),
        ("reading_plan", {"path": f"sql/{LONG}"}),
    ]

    async def go():
        async with Client(params, mode="legacy") as client:
            names = {t.name for t in (await client.list_tools()).tools}
            return names, [await client.call_tool(name, args) for name, args in requests]

    names, results = anyio.run(go)
    assert names >= {name for name, _ in requests}
    for result in results[:-2]:
        assert estimate_tokens(ok(result) and result.content[0].text) <= 8000
    assert "refused" in failed(results[-2]) and ok(results[-1])
    assert sorted((p, p.stat().st_mtime_ns) for p in root.parent.rglob("*")) == before
