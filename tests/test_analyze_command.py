"""``quorvane analyze`` as a user and a CI job run it: encodings, one record
in every format, output paths, exit statuses, interrupts and settings."""

from __future__ import annotations

import codecs
import csv
import io
import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from agents.quorvane.assessment.record import FIELDS
from agents.quorvane.writers.spelling import csv_value

COMPLEX = (
    "CREATE PROCEDURE dbo.p AS\nBEGIN\n  DECLARE c CURSOR FOR SELECT 1;\n  MERGE t USING s ON 1 = 1\n"
    "  WHEN MATCHED THEN UPDATE SET v = 1;\nEND\nGO\n"
)
SIMPLE = "SELECT a FROM t LEFT JOIN u ON t.id = u.id;\n"
MODERATE = (
    "WITH x AS (SELECT 1 AS a)\nSELECT a, SUM(a) OVER (PARTITION BY a) AS s, ROW_NUMBER() OVER (ORDER BY a) AS r\n"
    "INTO #t FROM x;\nSELECT * FROM #t PIVOT (SUM(s) FOR a IN ([1])) p;\n"
)
README = Path(__file__).resolve().parents[1] / "README.md"


def run(*args: str, cwd: Path, **kw) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", *args], cwd=cwd, capture_output=True, text=True, timeout=300, **kw
    )


def records(stdout: str) -> list[dict]:
    return [json.loads(line) for line in stdout.splitlines()]


@pytest.fixture
def mixed(tmp_path: Path) -> Path:
    """Files in every encoding a SQL Server shop writes, and one that no
    encoding fits."""
    (tmp_path / "proc.sql").write_text(COMPLEX)
    (tmp_path / "utf16.sql").write_bytes(codecs.BOM_UTF16_LE + ("-- Größe\n" + COMPLEX).encode("utf-16-le"))
    (tmp_path / "utf16be.sql").write_bytes(codecs.BOM_UTF16_BE + SIMPLE.encode("utf-16-be"))
    (tmp_path / "utf32.sql").write_bytes(codecs.BOM_UTF32_LE + SIMPLE.encode("utf-32-le"))
    (tmp_path / "bom8.sql").write_bytes(codecs.BOM_UTF8 + SIMPLE.encode())
    legacy = "-- Résumé des ventes, année fiscale, réalisé à Zürich\nSELECT 'Café' AS x FROM t;\n" * 5
    (tmp_path / "cp1252.sql").write_bytes(legacy.encode("cp1252"))
    (tmp_path / "broken.sql").write_bytes(codecs.BOM_UTF16_LE + b"S\x00\x00\xd8")
    return tmp_path


class TestEncodings:
    def test_every_file_is_read_and_says_how(self, mixed):
        proc = run("analyze", ".", "--format", "json", cwd=mixed)
        assert proc.returncode == 1
        rows = {r["path"]: r for r in records(proc.stdout)}
        got = {p: (r["encoding"], r["encoding_guessed"]) for p, r in rows.items()}
        assert got["proc.sql"] == ("utf-8", False) and got["bom8.sql"] == ("utf-8", False)
        assert got["utf16.sql"] == ("utf-16-le", False) and got["utf16be.sql"] == ("utf-16-be", False)
        assert got["utf32.sql"] == ("utf-32-le", False)
        assert got["cp1252.sql"][1] is True and rows["cp1252.sql"]["status"] == "ok"
        # The same text in UTF-16 grades as in UTF-8.
        for key in ("complexity", "complex_construct_count", "stored_proc_count", "categories"):
            assert rows["utf16.sql"][key] == rows["proc.sql"][key]
        assert rows["utf16be.sql"]["categories"] == rows["bom8.sql"]["categories"] == rows["utf32.sql"]["categories"]
        broken = rows["broken.sql"]
        assert broken["status"] == "error" and broken["encoding"] is None
        assert broken["error"].startswith("cannot decode: not valid utf-16-le")

    def test_a_forced_encoding_applies_to_every_file(self, mixed):
        proc = run("analyze", "cp1252.sql", "proc.sql", "--encoding", "utf-8", "--format", "json", cwd=mixed)
        rows = {r["path"]: r for r in records(proc.stdout)}
        assert rows["cp1252.sql"]["error"].startswith("cannot decode: not valid utf-8: byte 0xe9")
        assert rows["proc.sql"]["encoding"] == "utf-8" and proc.returncode == 1
        latin = run("analyze", "cp1252.sql", "--encoding", "Latin-1", "--format", "json", cwd=mixed)
        assert records(latin.stdout)[0]["encoding"] == "iso8859-1" and latin.returncode == 0
        bad = run("analyze", ".", "--encoding", "klingon", cwd=mixed)
        assert bad.returncode == 2 and "unknown encoding" in bad.stderr

    def test_plan_and_knowledge_decode_too(self, mixed, tmp_path):
        plan = run("plan", "utf16.sql", cwd=mixed)
        assert plan.returncode == 0 and "utf16.sql" in plan.stdout
        kb = mixed / "kb"
        kb.mkdir()
        (kb / "mapping.md").write_text("## Cursor Patterns\nloop\n")
        (kb / "gotchas.md").write_text("")
        knowledge = run("knowledge", "utf16.sql", "--kb", "kb", "--format", "json", cwd=mixed)
        assert knowledge.returncode == 0 and "cursor" in json.loads(knowledge.stdout)["categories"]


class TestOneRecord:
    def test_every_format_spells_the_same_record(self, mixed):
        as_json = records(run("analyze", ".", "--format", "json", cwd=mixed).stdout)
        assert all(tuple(r) == FIELDS for r in as_json)
        assert {r["status"] for r in as_json} == {"ok", "error"}
        failed = next(r for r in as_json if r["status"] == "error")
        assert failed["error"] and failed["complexity"] is None and failed["schema_version"] == 2
        table = list(csv.reader(io.StringIO(run("analyze", ".", "--format", "csv", cwd=mixed).stdout)))
        assert tuple(table[0]) == FIELDS
        for row, record in zip(table[1:], as_json):
            assert row == [csv_value(name, record[name]) for name in FIELDS]
        unknown = next(r for r in as_json if r["path"] == "bom8.sql")
        assert unknown["platform"] is None and unknown["chunked"] is False
        text = run("analyze", "bom8.sql", cwd=mixed).stdout
        assert "unknown" not in text.splitlines()[2]  # a missing platform is '-' like every missing value

    @pytest.mark.skipif(not README.exists(), reason="README not beside the tests")
    def test_readme_documents_every_field(self):
        text = README.read_text(encoding="utf-8")
        documented = [
            line.split("|")[1].strip().strip("`")
            for line in text.splitlines()
            if line.startswith("| `") and line.count("|") >= 4
        ]
        assert [name for name in documented if name in FIELDS] == list(FIELDS)

    def test_threads_and_processes_give_identical_output(self, mixed):
        outputs = {
            (pool, jobs): run("analyze", ".", "--format", "json", "--pool", pool, "--jobs", jobs, cwd=mixed).stdout
            for pool in ("threads", "processes")
            for jobs in ("1", "3")
        }
        assert len(set(outputs.values())) == 1


class TestOutputAndExitStatus:
    @pytest.mark.parametrize("option", ["--html", "-o"])
    @pytest.mark.parametrize("target", ["/nonexistent-dir/r.out", "/tmp", ""])
    def test_a_bad_output_path_stops_before_any_work(self, tmp_path, option, target):
        # Standard input stays open: the run would wait on it if it began.
        proc = subprocess.Popen(
            [sys.executable, "-m", "agents.quorvane", "analyze", "-", option, target],
            cwd=tmp_path,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        try:
            proc.wait(timeout=30)
        finally:
            proc.kill()
        out, err = proc.communicate()
        assert proc.returncode == 2 and out == ""
        assert err.count("\n") == 1 and err.startswith(f"quorvane analyze: error: {option} ")

    def test_html_to_stdout_and_output_file(self, mixed):
        page = run("analyze", "proc.sql", "--html", "-", cwd=mixed)
        assert page.returncode == 0 and page.stdout.startswith("<!DOCTYPE html>") and not (mixed / "-").exists()
        clash = run("analyze", "proc.sql", "--html", "-", "--format", "json", cwd=mixed)
        assert clash.returncode == 2 and clash.stdout == ""
        both = run("analyze", "proc.sql", "--html", "-", "--format", "csv", "-o", "out.csv", cwd=mixed)
        assert both.returncode == 0 and both.stdout.startswith("<!DOCTYPE html>")
        assert (mixed / "out.csv").read_text().startswith("schema_version,")
        assert not list(mixed.glob(".quorvane-*"))

    def test_standard_input_is_one_script(self, tmp_path):
        proc = run("analyze", "-", "--format", "json", cwd=tmp_path, input=COMPLEX)
        (row,) = records(proc.stdout)
        assert (row["path"], row["complexity"], row["encoding"]) == ("-", "complex", "utf-8")
        twice = run("analyze", "-", "-", cwd=tmp_path, input="")
        assert twice.returncode == 2

    def test_fail_on_levels(self, tmp_path):
        (tmp_path / "a.sql").write_text(SIMPLE)
        (tmp_path / "b.sql").write_text(MODERATE)
        assert run("analyze", ".", "--fail-on", "complex", cwd=tmp_path).returncode == 0
        moderate = run("analyze", ".", "--fail-on", "moderate", cwd=tmp_path)
        assert moderate.returncode == 1 and "--fail-on moderate" in moderate.stderr
        (tmp_path / "c.sql").write_text(COMPLEX)
        assert run("analyze", ".", "--fail-on", "complex", cwd=tmp_path).returncode == 1
        assert run("analyze", ".", "--fail-on", "simple", cwd=tmp_path).returncode == 2

    def test_full_disk_is_one_line_and_status_1(self, tmp_path):
        if not os.path.exists("/dev/full"):
            pytest.skip("no /dev/full")
        (tmp_path / "a.sql").write_text(SIMPLE)
        with open("/dev/full", "w") as full:
            proc = subprocess.run(
                [sys.executable, "-m", "agents.quorvane", "analyze", ".", "--format", "json"],
                cwd=tmp_path,
                stdout=full,
                stderr=subprocess.PIPE,
                text=True,
                timeout=120,
            )
        assert proc.returncode == 1 and "Traceback" not in proc.stderr
        assert proc.stderr.strip().count("\n") == 0 and "No space left on device" in proc.stderr


class TestDiscovery:
    def test_repeated_globs_and_excludes(self, tmp_path):
        for name in ("a.sql", "b.hql", "c.txt", "vendor/d.sql", "keep/e.sql", "keep/e_test.sql"):
            (tmp_path / name).parent.mkdir(exist_ok=True)
            (tmp_path / name).write_text(SIMPLE)
        proc = run(
            "analyze",
            ".",
            "--glob",
            "*.sql",
            "--glob",
            "*.HQL",
            "--exclude",
            "vendor",
            "--exclude",
            "*_test.sql",
            "--format",
            "json",
            cwd=tmp_path,
        )
        assert [r["path"] for r in records(proc.stdout)] == ["a.sql", "b.hql", "keep/e.sql"]
        by_path = run("analyze", ".", "--exclude", "keep/*", "--format", "json", cwd=tmp_path)
        # by default .hql and .hive scripts are SQL too
        assert [r["path"] for r in records(by_path.stdout)] == ["a.sql", "b.hql", "vendor/d.sql"]

    def test_a_newline_in_a_file_name_stays_on_its_line(self, tmp_path):
        (tmp_path / "two\nlines.sql").write_text(SIMPLE)
        (tmp_path / "plain.sql").write_text(SIMPLE)
        proc = run("analyze", ".", cwd=tmp_path)
        body = proc.stdout.split("\n\n")[1].splitlines()[2:]
        assert len(body) == 2 and any(line.startswith("two\\nlines.sql") for line in body)

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads every directory")
    def test_an_unreadable_directory_is_not_a_file(self, tmp_path):
        (tmp_path / "a.sql").write_text(SIMPLE)
        locked = tmp_path / "locked"
        locked.mkdir()
        locked.chmod(0)
        try:
            proc = run("analyze", ".", "--format", "json", cwd=tmp_path)
        finally:
            locked.chmod(0o755)
        assert proc.returncode == 1 and [r["path"] for r in records(proc.stdout)] == ["a.sql"]
        assert "locked" in proc.stderr and "cannot read the directory" in proc.stderr

    def test_jobs_zero_means_every_cpu(self, tmp_path):
        (tmp_path / "a.sql").write_text(SIMPLE)
        assert run("analyze", ".", "--jobs", "0", cwd=tmp_path).returncode == 0


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="needs FIFOs")
@pytest.mark.parametrize("command", [["plan"], ["knowledge", "--kb", "."]])
def test_plan_and_knowledge_refuse_a_fifo_at_once(tmp_path, command):
    os.mkfifo(tmp_path / "pipe.sql")
    for name in ("mapping.md", "gotchas.md"):
        (tmp_path / name).write_text("## Joins\n")
    proc = run(command[0], "pipe.sql", *command[1:], cwd=tmp_path)
    assert proc.returncode == 1 and "not a regular file" in proc.stderr


class TestObjects:
    def test_one_row_per_unit_with_its_span_and_grade(self, tmp_path):
        text = (
            "SELECT 1;\nGO\n" + COMPLEX + "CREATE VIEW dbo.v AS SELECT a FROM t;\nGO\n"
            "CREATE PROCEDURE dbo.q AS EXEC('SELECT ' + @x);\nGO\n"
        )
        (tmp_path / "a.sql").write_text(text)
        (tmp_path / "b.sql").write_text(SIMPLE)
        proc = run("analyze", ".", "--objects", "--format", "json", cwd=tmp_path)
        assert proc.returncode == 0, proc.stderr
        rows = records(proc.stdout)
        named = [(r["object_kind"], r["object_name"]) for r in rows if r["path"] == "a.sql" and r["object_name"]]
        assert named == [("procedure", "dbo.p"), ("view", "dbo.v"), ("procedure", "dbo.q")]
        lines = text.splitlines()
        for r in rows:
            assert r["start_line"] <= r["end_line"] and r["total_lines"] == r["end_line"] - r["start_line"] + 1
            assert r["chunked"] is None and all(r["start_line"] <= h["line"] <= r["end_line"] for h in r["hotspots"])
        by_name = {r["object_name"]: r for r in rows}
        assert by_name["dbo.p"]["complexity"] == "complex" and by_name["dbo.v"]["complexity"] == "simple"
        assert "CURSOR" in lines[by_name["dbo.p"]["start_line"] + 1]
        assert by_name["dbo.q"]["dynamic_sql"] is True and by_name["dbo.p"]["dynamic_sql"] is False
        assert by_name["dbo.q"]["effort_hours"] > by_name["dbo.v"]["effort_hours"]
        assert all(r["effort_hours"] is None for r in rows if r["object_kind"] == "batch")
        files = {r["path"]: r for r in records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)}
        assert files["a.sql"]["dynamic_sql"] is True and files["b.sql"]["dynamic_sql"] is False
        # A file costs its objects plus its batches as one unit: the same totals either way.
        assert files["a.sql"]["effort_hours"] > sum(by_name[n]["effort_hours"] for n in ("dbo.p", "dbo.v", "dbo.q"))
        per_file, per_object = (
            next(x for x in run("analyze", ".", *more, cwd=tmp_path).stdout.splitlines() if x.startswith("effort"))
            for more in ([], ["--objects"])
        )
        assert per_file == per_object and per_file.startswith("effort: ")


class TestHotspots:
    def test_each_hotspot_is_at_its_first_line(self, tmp_path):
        text = "-- header\nSELECT 1;\r\nSELECT TOP 5 * FROM [dbo].[t] WITH (NOLOCK);\nGO\nSELECT TOP 1 x FROM [u];\n"
        (tmp_path / "a.sql").write_text(text, newline="")
        (row,) = records(run("analyze", "a.sql", "--format", "json", cwd=tmp_path).stdout)
        assert row["hotspots"] is not None
        lines = text.splitlines()
        platform = [h for h in row["hotspots"] if h["kind"] == "platform"]
        assert sorted(h["name"] for h in platform) == sorted(row["platform_markers"])
        assert all(1 <= h["line"] <= len(lines) for h in row["hotspots"])
        assert row["hotspots"] == sorted(row["hotspots"], key=lambda h: (h["line"], h["kind"], h["name"]))
        # TOP and brackets first appear on line 3, not on line 5.
        assert {h["line"] for h in platform if "top" in h["name"] or "bracket" in h["name"]} == {3}
        table = run("analyze", "a.sql", "--wide", cwd=tmp_path).stdout
        first = row["hotspots"][0]
        assert f"{len(row['hotspots'])}: {first['name']}@{first['line']}" in table

    def test_constructs_and_categories_are_located(self, tmp_path):
        from agents.quorvane import complexity

        if not hasattr(complexity, "locate_constructs"):
            pytest.skip("the modules cannot locate constructs in this build")
        (tmp_path / "p.sql").write_text("-- DECLARE x CURSOR in a comment\n" + COMPLEX)
        (row,) = records(run("analyze", "p.sql", "--format", "json", cwd=tmp_path).stdout)
        found = {(h["kind"], h["name"]): h["line"] for h in row["hotspots"]}
        assert found[("complex", "declare_cursor")] == 4 and found[("complex", "merge")] == 5
        assert found[("category", "cursor")] == 4 and found[("stored_proc", "create_procedure")] == 2
        (tmp_path / "p.sql").write_text(
            "-- DECLARE x CURSOR in a comment\n" + COMPLEX + COMPLEX.replace("dbo.p", "dbo.p2")
        )
        units = {
            r["object_name"]: r
            for r in records(run("analyze", "p.sql", "--objects", "--format", "json", cwd=tmp_path).stdout)
        }
        for name, merge_line in (("dbo.p", 5), ("dbo.p2", 12)):
            obj = units[name]
            assert {h["line"] for h in obj["hotspots"]} <= set(range(obj["start_line"], obj["end_line"] + 1))
            # Each object's own first occurrence, not the file's.
            assert {(h["kind"], h["name"]): h["line"] for h in obj["hotspots"]}[("complex", "merge")] == merge_line


class TestSettingsAndPlatform:
    def test_effort_weights_from_pyproject_and_config(self, tmp_path):
        for i in range(3):
            (tmp_path / f"f{i}.sql").write_text(f"DECLARE c{i} CURSOR FOR SELECT a FROM t{i};\n")
        default = records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)
        (tmp_path / "pyproject.toml").write_text(
            "[tool.quorvane.effort]\nhours = { complex = 100 }\nhours_per_line = { complex = 0 }\n"
        )
        tuned = records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)
        assert {r["effort_hours"] for r in tuned} == {100.0} and default[0]["effort_hours"] != 100.0
        summary = run("analyze", ".", cwd=tmp_path).stdout
        # 3 x 100 converting, the cursor and the other categories learnt once;
        # each file's table is missing: the high end is 1.6 times.
        assert "effort: 300 " not in summary and "= 300 converting (225-480) +" in summary
        (tmp_path / "w.toml").write_text("[effort]\nhours = { complex = 7 }\nhours_per_line = { complex = 0 }\n")
        given = records(run("analyze", ".", "--config", "w.toml", "--format", "json", cwd=tmp_path).stdout)
        assert given[0]["effort_hours"] == 7.0
        (tmp_path / "bad.toml").write_text("[effort]\nhorus = 1\n")
        bad = run("analyze", ".", "--config", "bad.toml", cwd=tmp_path)
        assert bad.returncode == 2 and "unknown key 'horus'" in bad.stderr

    def test_confidence_and_ties_in_every_format(self, tmp_path):
        (tmp_path / "tie.sql").write_text("CREATE TABLE t (a VARCHAR2(10)) ENGINE=InnoDB;\n")
        (tmp_path / "sure.sql").write_text("SELECT TOP 5 * FROM [dbo].[t] WITH (NOLOCK);\nGO\n")
        (tmp_path / "none.sql").write_text("SELECT 1;\n")
        rows = {r["path"]: r for r in records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)}
        tie, sure, none = rows["tie.sql"], rows["sure.sql"], rows["none.sql"]
        assert (tie["platform"], tie["platform_tied"], tie["platform_confidence"]) == (None, ["mysql", "oracle"], "low")
        assert tie["platform_score"] == 2.0
        assert (sure["platform"], sure["platform_confidence"], sure["platform_tied"]) == ("sqlserver", "high", [])
        assert (none["platform"], none["platform_score"], none["platform_confidence"]) == (None, None, None)
        table = run("analyze", ".", cwd=tmp_path).stdout
        assert "tie: mysql/oracle (2)" in table and "platforms: " in table and "tie 1" in table
        cells = {
            r["path"]: r
            for r in csv.DictReader(io.StringIO(run("analyze", ".", "--format", "csv", cwd=tmp_path).stdout))
        }
        assert cells["tie.sql"]["platform_tied"] == "mysql;oracle" and cells["tie.sql"]["platform"] == ""

    def test_a_given_platform_skips_detection(self, tmp_path):
        (tmp_path / "a.sql").write_text("SELECT TOP 5 * FROM [dbo].[t] WITH (NOLOCK);\n")
        detected = records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)[0]
        given = records(run("analyze", ".", "--platform", "oracle", "--format", "json", cwd=tmp_path).stdout)[0]
        assert detected["platform"] == "sqlserver" and detected["platform_markers"]
        assert (given["platform"], given["platform_confidence"], given["platform_markers"]) == ("oracle", "given", None)


def _big_tree(tmp_path: Path) -> Path:
    """Many names for one large file: minutes of work, no disk."""
    block = Path(__file__).resolve().parents[1] / "examples" / "sql" / "warehouse_nightly_load.sql"
    text = block.read_text(encoding="utf-8") if block.exists() else COMPLEX * 200
    source = tmp_path / "big.sql"
    source.write_text(text * max(1, (4 << 20) // len(text)))
    for i in range(400):
        os.link(source, tmp_path / f"copy{i:03}.sql")
    return tmp_path


@pytest.mark.parametrize("pool", ["threads", "processes"])
def test_ctrl_c_stops_within_a_second(tmp_path, pool):
    tree = _big_tree(tmp_path)
    proc = subprocess.Popen(
        [sys.executable, "-m", "agents.quorvane", "analyze", ".", "--jobs", "2", "--pool", pool, "--format", "json"],
        cwd=tree,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    time.sleep(2.5)
    assert proc.poll() is None, "the run ended before the interrupt"
    proc.send_signal(signal.SIGINT)
    start = time.monotonic()
    try:
        out, err = proc.communicate(timeout=10)
    finally:
        proc.kill()
    elapsed = time.monotonic() - start
    assert proc.returncode == 130 and "Traceback" not in err and out == ""
    assert elapsed < 1.5, elapsed
