"""The work plan of a run: sizes, buckets, duplicates, waves, ranges and
their totals, called in process over small code bases."""

from __future__ import annotations

import csv
import io
import subprocess
import sys

import pytest
from agents.quorvane.assessment.buckets import DEFAULT_RULES, BucketRules, text_bucket
from agents.quorvane.assessment.decoding import Decoded
from agents.quorvane.assessment.effort import DEFAULT_MODEL
from agents.quorvane.assessment.single_file import Options, analyze_text
from agents.quorvane.assessment.sizing import sized_lines
from agents.quorvane.assessment.totals import summarize
from agents.quorvane.assessment.work_plan import plan_work
from agents.quorvane.writers.plan_csv import write_plan_csv

pytest.importorskip("agents.quorvane.inventory")


def plan(files, rules=DEFAULT_RULES, units=True):
    results = [
        analyze_text(path, Decoded(text, "utf-8", False), Options(units=units)) for path, text in sorted(files.items())
    ]
    return plan_work(results, DEFAULT_MODEL, rules)


def work(planned):
    return {(w.path, w.name): w for r in planned for w in r.work}


def word(i):
    return "".join(chr(ord("a") + int(d)) for d in str(i))


@pytest.mark.parametrize(
    "text, counted",
    [
        # One shape per length of the numbers: 1 to 9, 10 to 99, 100 to 299.
        ("".join(f"INSERT INTO t (a, b) VALUES ({i}, N'x{i}');\n" for i in range(300)), 3),
        ("INSERT INTO t VALUES\n" + "".join(f"  ({i}, 0x{i:04x}),\n" for i in range(300)), 4),
        ("COPY t (a) FROM stdin;\n" + "".join(f"{i}\tname {i}\n" for i in range(300)) + "\\.\n", 2),
        ("".join(f"INSERT INTO t VALUES ({i});\n" for i in range(150)), 150),  # too small to matter
        ("".join(f"UPDATE {word(i)} SET a = {word(i)}x;\n" for i in range(300)), 300),  # code, not data
    ],
)
def test_repeated_data_lines_are_counted_once(text, counted):
    lines = len(text.splitlines())
    assert sized_lines(text, lines) == counted


@pytest.mark.parametrize(
    "kind, text, bucket",
    [
        ("batch", "EXEC msdb.dbo.sp_add_jobstep @job_name = N'load', @step_name = N'a';", "operations"),
        ("batch", "CREATE EVENT SESSION s ON SERVER ADD EVENT sqlserver.error_reported;", "operations"),
        ("batch", "CREATE LOGIN bob WITH PASSWORD = 'x';", "operations"),
        ("batch", "  GRANT SELECT ON dbo.t TO bob;", "operations"),
        ("batch", "EXEC sp_configure 'show advanced options', 1;\nRECONFIGURE;", "operations"),
        ("batch", "BACKUP LOG db TO DISK = 'x.trn';", "operations"),
        ("procedure", "CREATE PROCEDURE p AS DBCC CHECKDB;", "operations"),
        ("procedure", "CREATE PROCEDURE p AS DBCC CHECKIDENT ('t', RESEED, 0);", "conversion"),
        ("batch", "ALTER INDEX ALL ON dbo.t\n  REBUILD WITH (ONLINE = ON);", "operations"),
        ("batch", ".LOGON tdp/etl,pw;\nSELECT 1;\n.QUIT 0;", "operations"),
        ("table", "CREATE TABLE t (a INT);\nGRANT SELECT ON t TO bob;", "conversion"),
        ("procedure", "CREATE PROCEDURE [t].[test a] AS EXEC tSQLt.AssertEquals 1, 1;", "tests"),
        ("batch", "-- then DBCC CHECKDB, by hand\nSELECT a FROM t;", "conversion"),
    ],
)
def test_text_rules_put_each_unit_into_a_bucket(kind, text, bucket):
    assert text_bucket(kind, text) == bucket


@pytest.mark.parametrize(
    "path, base, bucket",
    [
        ("etl/jobs/nightly.sql", "", "operations"),
        ("etl/JOBS/x/nightly.sql", "", "operations"),
        ("etl/jobs.sql", "", None),
        ("src/tests/a.sql", "", "tests"),
        ("src/OrderTests.sql", "", "tests"),
        ("src/latest/a.sql", "", None),
        ("src/tests/keep/a.sql", "", "conversion"),  # a conversion glob wins
        ("/home/tests/proj/a.sql", "/home/tests/proj", None),  # only below the code base
    ],
)
def test_paths_and_settings_globs_decide_first(path, base, bucket):
    rules = BucketRules({"operations": ["jobs/**"], "conversion": ["tests/keep/*.sql"]})
    assert rules.path_bucket(path, base) == bucket


def test_operations_and_tests_are_counted_apart_in_whole_hours():
    planned = plan(
        {
            "a.sql": "CREATE TABLE dbo.t (a INT);\nGO\nGRANT SELECT ON dbo.t TO bob;\nGO\n",
            "job.sql": "EXEC msdb.dbo.sp_add_job @job_name = N'x';\n",
            "tests/t.sql": "CREATE PROCEDURE dbo.check_t AS SELECT a FROM dbo.t;\n",
        }
    )
    buckets = {w.kind: w.bucket for r in planned for w in r.work if r.path == "a.sql"}
    assert buckets == {"table": "conversion", "batch": "operations"}
    assert [r.file.bucket for r in planned] == ["conversion", "operations", "tests"]
    s = summarize(planned, effort=DEFAULT_MODEL)
    table = work(planned)[("a.sql", "dbo.t")]
    assert s.conversion_hours == round(table.hours) and isinstance(s.conversion_hours, int)
    assert {b: v["items"] for b, v in s.buckets.items()} == {"conversion": 1, "operations": 2, "tests": 1}
    assert s.total_hours == s.conversion_hours + s.learning and s.conversion_low <= s.conversion_hours
    assert [(w["wave"], w["items"]) for w in s.waves] == [(1, 1)]


def test_an_object_defined_twice_costs_once_at_its_largest_definition():
    small = "CREATE PROCEDURE dbo.p AS SELECT 1;\n"
    large = "CREATE PROCEDURE dbo.p AS\nBEGIN\n" + "".join(f"  UPDATE t{i} SET a = {i};\n" for i in range(20)) + "END\n"
    items = work(plan({"a.sql": small, "b.sql": large}))
    first, second = items[("a.sql", "dbo.p")], items[("b.sql", "dbo.p")]
    assert (first.hours, first.duplicate_of) == (0, "b.sql:1")
    assert second.hours > 1 and second.duplicate_of is None


def test_near_copies_cost_a_review_each_and_name_their_original():
    job = "CREATE PROCEDURE dbo.load_{0} AS\nBEGIN\n  INSERT INTO dbo.t{0} SELECT a FROM s WHERE d = '{0}';\nEND\n"
    # Equal up to literals; the names differ, so the procedures are not duplicates.
    files = {f"load_{n}.sql": job.format(n).replace(f"_{n} AS", " AS").replace(f"t{n}", "t") for n in (1, 2, 3)}
    planned = plan(files)
    rows = {r.path: r.file for r in planned}
    assert [rows[p].duplicate_of for p in sorted(rows)] == [None, "load_1.sql", "load_1.sql"]
    review = round(DEFAULT_MODEL.copy_review_hours, 1)
    assert rows["load_2.sql"].effort_hours == rows["load_3.sql"].effort_hours == review
    assert rows["load_1.sql"].effort_hours > DEFAULT_MODEL.copy_review_hours
    assert work(planned)[("load_3.sql", "dbo.load")].duplicate_of == "load_1.sql:1"


def test_waves_follow_the_order_with_a_cycle_in_one_wave():
    code = {
        "1.sql": "CREATE TABLE dbo.t (a INT);\n",
        "2.sql": "CREATE VIEW dbo.v AS SELECT a FROM dbo.t;\n",
        "3.sql": "CREATE PROCEDURE dbo.p AS SELECT a FROM dbo.v;\n",
        "4.sql": "CREATE PROCEDURE dbo.a AS EXEC dbo.b;\nGO\nCREATE PROCEDURE dbo.b AS BEGIN EXEC dbo.a; SELECT a FROM dbo.v; END\n",
        "5.sql": "CREATE PROCEDURE dbo.d AS EXEC('SELECT a FROM dbo.v');\n",  # a guess, not an edge
    }
    planned = plan(code)
    waves = {w.name: w.wave for w in work(planned).values()}
    assert waves == {"dbo.t": 1, "dbo.v": 2, "dbo.p": 3, "dbo.a": 3, "dbo.b": 3, "dbo.d": 1}
    assert [o.wave for r in planned for o in r.objects if r.path == "4.sql"] == [3, 3]
    assert {w["wave"]: w["items"] for w in summarize(planned).waves} == {1: 2, 2: 1, 3: 3}


def test_missing_dependencies_and_blockers_widen_the_range():
    items = work(
        plan(
            {
                "a.sql": "CREATE TABLE dbo.t (a INT);\nGO\nCREATE PROCEDURE dbo.p AS SELECT a FROM dbo.t;\n",
                "b.sql": "CREATE PROCEDURE dbo.q AS SELECT a FROM dbo.gone JOIN dbo.lost ON 1 = 1;\n",
                "c.sql": "CREATE PROCEDURE dbo.r AS EXEC master..xp_cmdshell 'dir';\n",
            }
        )
    )
    known, missing, blocked = items[("a.sql", "dbo.p")], items[("b.sql", "dbo.q")], items[("c.sql", "dbo.r")]
    assert missing.missing == ("dbo.gone", "dbo.lost") and known.depends_on == ("table:dbo.t",)
    assert blocked.blockers
    for item, risks in ((known, {}), (missing, {"missing": 2}), (blocked, {"blockers": len(blocked.blockers)})):
        e = DEFAULT_MODEL.estimate(item.complexity, item.effort_lines, **risks).rounded()
        assert (item.low, item.hours, item.high) == (e.low, e.expected, e.high)


def test_the_plan_csv_lists_every_item_by_wave():
    planned = plan(
        {
            "b.sql": "CREATE VIEW dbo.v AS SELECT a FROM dbo.t JOIN dbo.gone ON 1 = 1;\n",
            "a.sql": "CREATE TABLE dbo.t (a INT);\nGO\nINSERT INTO dbo.t VALUES (1);\n",
        },
        units=False,
    )
    out = io.StringIO()
    write_plan_csv(planned, out)
    rows = list(csv.DictReader(io.StringIO(out.getvalue())))
    assert [(r["wave"], r["path"], r["object_kind"], r["object_name"]) for r in rows] == [
        ("1", "a.sql", "table", "dbo.t"),
        ("2", "a.sql", "batch", ""),
        ("2", "b.sql", "view", "dbo.v"),
    ]
    assert rows[2]["depends_on"] == "table:dbo.t" and rows[2]["missing"] == "dbo.gone"
    assert float(rows[2]["effort_low"]) < float(rows[2]["effort_hours"]) < float(rows[2]["effort_high"])


def test_the_command_takes_bucket_globs_and_shows_whole_hours(tmp_path):
    (tmp_path / "jobs").mkdir()
    (tmp_path / "jobs" / "nightly.sql").write_text("SELECT a FROM dbo.t;\n")
    (tmp_path / "load.sql").write_text("CREATE PROCEDURE dbo.p AS\nBEGIN\n  UPDATE dbo.t SET a = a + 1.5;\nEND\n")
    (tmp_path / "pyproject.toml").write_text('[tool.quorvane.buckets]\noperations = ["jobs/**"]\n')

    def analyze(*args):
        command = [sys.executable, "-m", "agents.quorvane", "analyze", ".", "--no-progress", *args]
        return subprocess.run(command, cwd=tmp_path, capture_output=True, text=True, timeout=120, check=True).stdout

    plan_rows = list(csv.DictReader(io.StringIO(analyze("--format", "plan-csv"))))
    assert {(r["path"], r["bucket"]) for r in plan_rows} == {
        ("jobs/nightly.sql", "operations"),
        ("load.sql", "conversion"),
    }
    table = analyze("--wide").splitlines()
    header = next(i for i, line in enumerate(table) if line.startswith("file "))
    hours = table[header].index("hours")
    cells = [line[hours - 2 : hours + 5].strip() for line in table[header + 2 :] if line.strip()][:2]
    assert all(cell.isdigit() for cell in cells), cells
    effort = next(line for line in table if line.startswith("effort: "))
    assert "." not in effort.split("=")[1].split("+")[0]  # whole hours
