"""Blockers: what each kind finds, where it is looked for, what never
produces one, the three-part names a code base owns, and how rows and
totals report them."""

from __future__ import annotations

import json
import subprocess
import sys
from pathlib import Path

import pytest

from agents.quorvane.assessment.blockers import CATALOGUE, find_blockers
from agents.quorvane.dialectra import MarkerScanner

README = Path(__file__).resolve().parents[1] / "README.md"


def found(sql: str, platforms: tuple[str, ...] = ("sqlserver",)) -> list[tuple[str, int, str]]:
    return [(b.kind, b.line, b.text) for b in find_blockers(sql, platforms).blockers]


def run(*args: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    command = [sys.executable, "-m", "agents.quorvane", *args, "--no-progress"]
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300)


KINDS = [
    ("linked_server", "sqlserver", "EXEC sp_addlinkedserver @server = N'LNK'", "sp_addlinkedserver"),
    ("linked_server", "sqlserver", "EXEC ('SELECT 1') AT LNK", "AT LNK"),
    ("four_part_name", "sqlserver", "SELECT * FROM Lnk.Sales.dbo.Orders", "Lnk.Sales.dbo.Orders"),
    ("four_part_name", "sqlserver", "SELECT * FROM [Lnk].[Sales]..[Orders]", "[Lnk].[Sales]..[Orders]"),
    ("openquery", "sqlserver", "SELECT * FROM OPENQUERY(LNK, 'SELECT 1')", "OPENQUERY(LNK"),
    ("openrowset", "sqlserver", "SELECT * FROM OPENROWSET(BULK 'c:\\x.csv', SINGLE_CLOB) d", "OPENROWSET("),
    ("opendatasource", "sqlserver", "SELECT * FROM OPENDATASOURCE('SQLNCLI', 'x').db.dbo.t", "OPENDATASOURCE("),
    ("xp_cmdshell", "sqlserver", "EXEC master..xp_cmdshell 'dir'", "xp_cmdshell"),
    ("extended_procedure", "sqlserver", "EXEC master.dbo.xp_regread N'HKEY'", "xp_regread"),
    ("ole_automation", "sqlserver", "EXEC sp_OACreate 'Scripting.FileSystemObject', @fso OUT", "sp_OACreate"),
    ("clr", "sqlserver", "CREATE ASSEMBLY Tools FROM 0x4D5A", "CREATE ASSEMBLY"),
    ("clr", "sqlserver", "CREATE PROCEDURE p AS EXTERNAL NAME Tools.[Ns.Cls].Run", "EXTERNAL NAME Tools.[Ns.Cls].Run"),
    ("cross_database", "sqlserver", "SELECT * FROM Archive.dbo.Orders", "Archive.dbo.Orders"),
    ("cross_database", "sqlserver", "INSERT INTO [Archive]..Orders SELECT 1", "[Archive]..Orders"),
    ("service_broker", "sqlserver", "SEND ON CONVERSATION @h MESSAGE TYPE m (@b)", "SEND ON CONVERSATION"),
    ("service_broker", "sqlserver", "CREATE QUEUE dbo.q", "CREATE QUEUE"),
    ("database_mail", "sqlserver", "EXEC msdb.dbo.sp_send_dbmail @recipients = 'a@b.c'", "sp_send_dbmail"),
    ("filestream", "sqlserver", "CREATE TABLE d (f VARBINARY(MAX) FILESTREAM)", "FILESTREAM"),
    ("waitfor", "sqlserver", "WAITFOR DELAY '00:00:05'", "WAITFOR DELAY"),
    ("distributed_transaction", "sqlserver", "BEGIN DISTRIBUTED TRANSACTION", "BEGIN DISTRIBUTED TRANSACTION"),
    ("cross_batch_transaction", "sqlserver", "BEGIN TRAN\nUPDATE t SET a = 1\nGO\nCOMMIT", "BEGIN TRAN"),
    ("database_link", "oracle", "SELECT * FROM emp@sales.example.com", "emp@sales.example.com"),
    ("database_link", "oracle", "CREATE PUBLIC DATABASE LINK sales USING 'x'", "CREATE PUBLIC DATABASE LINK"),
    ("utl_file", "oracle", "f := UTL_FILE.FOPEN('DIR', 'a.txt', 'w');", "UTL_FILE"),
    ("utl_network", "oracle", "r := UTL_HTTP.REQUEST('http://x');", "UTL_HTTP"),
    ("dbms_package", "oracle", "DBMS_SCHEDULER.CREATE_JOB(job_name => 'j');", "DBMS_SCHEDULER"),
    ("external_function", "snowflake", "CREATE EXTERNAL FUNCTION f(a INT)", "CREATE EXTERNAL FUNCTION"),
    ("stage", "snowflake", "COPY INTO t FROM @raw.public.landing/x/", "FROM @raw.public.landing/x/"),
    ("stage", "snowflake", "PUT file:///tmp/a.csv @~", "PUT file://"),
    ("bteq_os", "teradata", "  .OS rm /tmp/x\n.LOGON tdp/u", ".OS"),
]  # fmt: skip


@pytest.mark.parametrize(("kind", "platform", "sql", "text"), KINDS)
def test_each_kind_is_found_at_its_line(kind, platform, sql, text):
    sql = "-- header\n" + sql
    assert (kind, 2, text) in found(sql, (platform,))


@pytest.mark.parametrize(
    "sql",
    [
        "-- EXEC xp_cmdshell 'dir'\nSELECT 1",
        "/* OPENQUERY(LNK, 'x')\n   Archive.dbo.Orders */ SELECT 1",
        "SELECT 'EXEC xp_cmdshell ''dir''' AS s, 'Archive.dbo.Orders' AS t",
        "EXEC ('SELECT * FROM OPENQUERY(LNK, ''x'')')",  # dynamic SQL: known only when it runs
        "-- BEGIN TRAN\nGO\nSELECT 'BEGIN TRAN'\nGO",
    ],
)
def test_comments_and_string_literals_never_block(sql):
    assert found(sql) == []


@pytest.mark.parametrize(
    ("sql", "platforms", "kinds"),
    [
        ("SELECT a.b.c FROM a", ("oracle",), []),  # schema.table.column
        ("SELECT * FROM emp@link", ("sqlserver",), []),
        ("SELECT * FROM Archive.dbo.Orders; SELECT * FROM emp@link", (), []),  # no evidence: names are ambiguous
        ("EXEC xp_cmdshell 'dir'", (), ["xp_cmdshell"]),  # no evidence: unambiguous syntax still counts
        ("EXEC xp_cmdshell 'dir'", ("postgresql",), []),
        ("SELECT * FROM Archive.dbo.Orders", ("sqlserver", "oracle"), ["cross_database"]),  # a tie: either platform
    ],
)
def test_kinds_are_looked_for_in_files_of_their_platforms(sql, platforms, kinds):
    assert [k for k, _, _ in found(sql, platforms)] == kinds


@pytest.mark.parametrize(
    ("sql", "lines"),
    [
        ("BEGIN TRAN\nUPDATE t SET a = 1\nGO\nCOMMIT\nGO", [1]),
        ("BEGIN TRAN\nBEGIN TRANSACTION\nCOMMIT\nGO", [1]),  # one level still open
        ("BEGIN TRAN\nUPDATE t SET a = 1\nCOMMIT\nGO", []),
        ("BEGIN TRAN\nBEGIN TRAN\nIF @@ERROR <> 0 ROLLBACK\nGO", []),  # ROLLBACK closes every level
        ("BEGIN TRAN\nUPDATE t SET a = 1", []),  # no later batch
    ],
)
def test_a_transaction_spans_batches_when_open_at_go(sql, lines):
    assert [line for kind, line, _ in found(sql) if kind == "cross_batch_transaction"] == lines


@pytest.mark.parametrize(
    "sql",
    [
        "SELECT dbo.Orders.OrderID FROM dbo.Orders",  # schema.table.column
        "SELECT * FROM tempdb..#work",
        "SELECT x.c.value('.', 'int'), n.Node.GetAncestor(1), g.Shape.STDistance(@p) FROM t x",
        "SELECT ct.[Location].Lat FROM Cities ct",
        "EXEC msdb.dbo.sp_send_dbmail @body = 1",  # the mail blocker alone
        "CREATE DATABASE SCOPED CREDENTIAL [https://api.example.com/] WITH IDENTITY = 'x'",
        "SELECT d AS [Details: db_schema.table.index], [Survey].[ref].[value]('x', 'int') FROM t",
    ],
)
def test_three_part_names_that_are_no_other_database(sql):
    assert [k for k, _, _ in found(sql) if k == "cross_database"] == []


def test_own_databases_are_created_used_named_or_hold_defined_objects(tmp_path):
    (tmp_path / "setup.sql").write_text("CREATE DATABASE Mart\nGO\nUSE [Ware House]\nGO\nCREATE SCHEMA etl\n")
    (tmp_path / "load.sql").write_text(
        "CREATE PROCEDURE Stage.Load AS\n"
        "INSERT INTO Mart.dbo.Sales SELECT * FROM [WARE HOUSE].dbo.Orders\n"
        "SELECT etl.Orders.id, Stage.Orders.id FROM etl.Orders, Stage.Orders\n"
        "SELECT * FROM Archive.dbo.Orders JOIN Legacy.dbo.Customers ON 1 = 1\n"
        "GO\n"
    )
    proc = run("analyze", ".", "--format", "json", "--platform", "sqlserver", cwd=tmp_path)
    rows = [json.loads(line) for line in proc.stdout.splitlines()]
    assert [b["text"] for r in rows for b in r["blockers"]] == ["Archive.dbo.Orders", "Legacy.dbo.Customers"]
    named = run("analyze", ".", "--format", "json", "--platform", "sqlserver", "--database", "[LEGACY]", cwd=tmp_path)
    rows = [json.loads(line) for line in named.stdout.splitlines()]
    assert [b["text"] for r in rows for b in r["blockers"]] == ["Archive.dbo.Orders"]


def test_object_rows_carry_the_blockers_inside_their_lines(tmp_path):
    (tmp_path / "a.sql").write_text(
        "CREATE PROCEDURE p1 AS\nEXEC xp_cmdshell 'dir'\nGO\n"
        "CREATE PROCEDURE p2 AS\nSELECT * FROM OPENQUERY(LNK, 'x')\nWAITFOR DELAY '00:01'\nGO\n"
        "SELECT 1\n"
    )
    proc = run("analyze", "a.sql", "--objects", "--format", "json", cwd=tmp_path)
    rows = [json.loads(line) for line in proc.stdout.splitlines()]
    assert [(r["object_name"], [(b["kind"], b["line"]) for b in r["blockers"]]) for r in rows] == [
        ("p1", [("xp_cmdshell", 2)]),
        ("p2", [("openquery", 5), ("waitfor", 6)]),
        (None, []),
    ]


def test_the_totals_list_every_kind_with_its_count_and_files(tmp_path):
    (tmp_path / "a.sql").write_text("EXEC xp_cmdshell 'a'\nEXEC xp_cmdshell 'b'\nWAITFOR DELAY '00:01'\n")
    (tmp_path / "b.sql").write_text("EXEC xp_cmdshell 'c'\n")
    (tmp_path / "c.sql").write_text("SELECT 1\n")
    table = run("analyze", ".", cwd=tmp_path).stdout
    assert "blockers: xp_cmdshell 3 in 2 files, waitfor 1 in 1 file" in table
    page = tmp_path / "r.html"
    run("analyze", ".", "--html", str(page), cwd=tmp_path)
    html = page.read_text()
    section = html[html.index('id="blockers"') : html.index("</table>", html.index('id="blockers"'))]
    assert '<code>xp_cmdshell</code></td><td class="num">3</td>' in section
    assert "<code>a.sql</code>" in section and "<code>b.sql</code>" in section and "c.sql" not in section


@pytest.mark.parametrize("wide", ["", "\u00e9", "\u20ac", "\U0001f600"])  # each storage width of a str
def test_the_scanner_reports_every_match_outside_comments_and_literals(wide):
    scanner = MarkerScanner([(r"\bab\b", False), (r"c+", False)])
    text = f"ab x ab\n-- ab {wide}\n'ab' ab /* c */ cc\r\nab"
    matches = scanner.all_matches(text)
    assert [(row, line, text[a:b]) for row, line, a, b in matches] == [
        (0, 1, "ab"),
        (0, 1, "ab"),
        (0, 3, "ab"),
        (1, 3, "cc"),
        (0, 4, "ab"),
    ]


def test_the_readme_documents_every_kind():
    text = README.read_text(encoding="utf-8")
    documented = [line.split("|")[1].strip().strip("`") for line in text.splitlines() if line.startswith("| `")]
    assert [k.id for k in CATALOGUE if k.id in documented] == [k.id for k in CATALOGUE]
