"""The ``quorvane`` command, run as a subprocess on temporary trees."""

from __future__ import annotations

import csv
import io
import dataclasses
import json
import importlib.util
import os
import shutil
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path

import pytest

from structlog.testing import capture_logs

from agents.quorvane import complexity, loresift, platform_detect

TSQL_COMPLEX = """CREATE PROCEDURE dbo.usp_Load AS
BEGIN
    SET NOCOUNT ON;
    BEGIN TRY
        MERGE dbo.Target AS t USING #stage AS s ON t.id = s.id
        WHEN MATCHED THEN UPDATE SET t.v = s.v;
    END TRY
    BEGIN CATCH
        THROW;
    END CATCH
END
GO
"""
ORACLE = "CREATE OR REPLACE PACKAGE BODY pkg AS\n  v VARCHAR2(10);\nEND pkg;\n/\n"
PLAIN = "SELECT a, COUNT(*) FROM t LEFT JOIN u ON t.id = u.id GROUP BY a;\n"


def run(*args: str, cwd: Path, **kw) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", *args], cwd=cwd, capture_output=True, text=True, timeout=300, **kw
    )


@pytest.fixture
def tree(tmp_path: Path) -> Path:
    (tmp_path / "sub" / "deeper").mkdir(parents=True)
    (tmp_path / "load.sql").write_text(TSQL_COMPLEX)
    (tmp_path / "sub" / "pkg.SQL").write_text(ORACLE)
    (tmp_path / "sub" / "deeper" / "report.sql").write_text(PLAIN)
    (tmp_path / "sub" / "empty.sql").write_text("")
    (tmp_path / "notes.txt").write_text("SET NOCOUNT ON")
    return tmp_path


@pytest.fixture
def broken_tree(tree: Path) -> Path:
    # A UTF-16 byte-order mark, then a lone surrogate: no decoding fits.
    (tree / "sub" / "broken16.sql").write_bytes(b"\xff\xfeS\x00\x00\xd8E\x00")
    return tree


def json_records(stdout: str) -> list[dict]:
    return [json.loads(line) for line in stdout.splitlines()]


EXPECTED_PATHS = ["load.sql", "sub/deeper/report.sql", "sub/empty.sql", "sub/pkg.SQL"]


class TestAnalyze:
    def test_json_lines_sorted_and_consistent_with_the_library(self, tree):
        proc = run("analyze", ".", "--format", "json", cwd=tree)
        assert proc.returncode == 0, proc.stderr
        records = json_records(proc.stdout)
        assert [r["path"] for r in records] == EXPECTED_PATHS
        load = records[0]
        expected = complexity.classify_sql(TSQL_COMPLEX)
        assert load["complexity"] == "complex"
        assert (load["effective_lines"], load["stored_proc_count"], load["complex_construct_count"]) == (
            expected.effective_lines,
            expected.stored_proc_count,
            expected.complex_construct_count,
        )
        assert (load["temp_table_count"], load["cte_count"], load["moderate_construct_count"]) == (
            expected.temp_table_count,
            expected.cte_count,
            expected.moderate_construct_count,
        )
        assert (load["analysis_turns"], load["conversion_turns"], load["audit_turns"]) == (
            expected.recommended_analysis_turns,
            expected.recommended_conversion_turns,
            3,
        )
        assert load["platform"] == "sqlserver" and "merge" in load["categories"]
        by_path = {r["path"]: r for r in records}
        assert by_path["sub/pkg.SQL"]["platform"] == "oracle"
        empty = by_path["sub/empty.sql"]
        assert (empty["status"], empty["complexity"], empty["platform"], empty["categories"]) == (
            "ok",
            "simple",
            None,
            [],
        )

    def test_csv_parses_back_to_the_json_values(self, tree):
        as_json = {r["path"]: r for r in json_records(run("analyze", ".", "--format", "json", cwd=tree).stdout)}
        proc = run("analyze", ".", "--format", "csv", cwd=tree)
        assert proc.returncode == 0
        rows = list(csv.DictReader(io.StringIO(proc.stdout)))
        assert [r["path"] for r in rows] == EXPECTED_PATHS
        for row in rows:
            record = as_json[row["path"]]
            for key in ("complexity", "effective_lines", "conversion_turns", "sections"):
                assert row[key] == str(record[key])
            assert row["categories"].split(";") == (record["categories"] or [""])
            assert row["platform"] == (record["platform"] or "")

    def test_table_lists_every_file_and_the_totals(self, tree):
        proc = run("analyze", str(tree), "--wide", cwd=tree)
        assert proc.returncode == 0
        for path in EXPECTED_PATHS:
            assert str(tree / path) in proc.stdout
        assert "levels: simple 3, moderate 0, complex 1" in proc.stdout
        assert "platforms: " in proc.stdout and "unknown 2" in proc.stdout

    @pytest.mark.parametrize("columns", ["60", "120"])
    def test_table_fits_the_terminal_summary_first_hardest_last(self, tree, columns):
        deep = tree / ("very_long_folder_name_" * 4) / "deeper"
        deep.mkdir(parents=True)
        (deep / "the_file_name.sql").write_text(PLAIN)
        proc = run("analyze", ".", cwd=tree, env={**os.environ, "COLUMNS": columns})
        lines = proc.stdout.splitlines()
        assert lines[0].endswith("files, 5 analysed, 0 failed") and all(len(x) <= int(columns) for x in lines)
        header = next(i for i, x in enumerate(lines) if x.startswith("file "))
        narrow = ["level", "eff.", "lines", "hours", "bucket", "platform", "blockers"]
        assert lines[header].split()[1:] == narrow[: 5 if columns == "60" else 7]  # 60 leave no room for the last
        assert any("…" in x and "the_file_name.sql" in x for x in lines[header:])
        assert lines[-8] == "hardest 5:" and "complex" in lines[-5]
        wide = run("analyze", ".", "--wide", cwd=tree, env={**os.environ, "COLUMNS": columns}).stdout
        assert "turns a/c/a" in wide and "categories" in wide and "very_long_folder_name_" * 4 in wide

    def test_failing_file_is_reported_and_the_run_goes_on(self, broken_tree):
        proc = run("analyze", ".", "--format", "json", cwd=broken_tree)
        assert proc.returncode == 1
        records = {r["path"]: r for r in json_records(proc.stdout)}
        assert set(records) == {*EXPECTED_PATHS, "sub/broken16.sql"}
        bad = records.pop("sub/broken16.sql")
        assert bad["status"] == "error" and bad["error"].startswith("cannot decode: not valid utf-16-le")
        assert all(r["status"] == "ok" for r in records.values())
        table = run("analyze", ".", cwd=broken_tree)
        assert table.returncode == 1 and "sub/broken16.sql: cannot decode" in table.stderr
        assert "broken16" not in table.stdout.split("\n\n")[0]
        missing = run("analyze", "load.sql", "nope.sql", "--format", "json", cwd=broken_tree)
        assert missing.returncode == 1
        assert [r["status"] for r in json_records(missing.stdout)] == ["ok", "error"]

    def test_glob_selects_names_and_named_files_are_always_taken(self, tree):
        proc = run("analyze", ".", "sub/empty.sql", "--glob", "*.txt", "--format", "json", cwd=tree)
        assert [r["path"] for r in json_records(proc.stdout)] == ["notes.txt", "sub/empty.sql"]

    def test_hive_scripts_are_sql_by_default(self, tmp_path):
        (tmp_path / "etl.hql").write_text("SET hive.exec.dynamic.partition.mode=nonstrict;\n")
        (tmp_path / "views.HIVE").write_text("SELECT 1;\n")
        (tmp_path / "notes.txt").write_text("SELECT 1;\n")
        (tmp_path / "q.sql").write_text("SELECT 1;\n")
        records = json_records(run("analyze", ".", "--format", "json", cwd=tmp_path).stdout)
        assert [r["path"] for r in records] == ["etl.hql", "q.sql", "views.HIVE"]
        assert records[0]["platform"] == "hive"
        only = run("analyze", ".", "--glob", "*.hql", "--format", "json", cwd=tmp_path)
        assert [r["path"] for r in json_records(only.stdout)] == ["etl.hql"]
        for name in ("etl.hql", "views.HIVE", "q.sql"):
            (tmp_path / name).unlink()
        none = run("analyze", ".", cwd=tmp_path)
        assert none.returncode == 1 and "no file name matching '*.sql' or '*.hql' or '*.hive'" in none.stderr

    def test_parallel_output_equals_serial_output(self, broken_tree):
        serial = run("analyze", ".", "--format", "json", "--jobs", "1", cwd=broken_tree)
        parallel = run("analyze", ".", "--format", "json", "--jobs", "3", cwd=broken_tree)
        assert serial.stdout == parallel.stdout and parallel.returncode == 1

    @pytest.mark.skipif(not hasattr(os, "symlink") or not hasattr(os, "mkfifo"), reason="needs POSIX files")
    def test_links_loops_fifos_and_size_limit_do_not_break_a_run(self, tree):
        os.symlink("..", tree / "sub" / "loop")
        os.symlink("missing.sql", tree / "dangling.sql")
        os.mkfifo(tree / "pipe.sql")
        (tree / "big.sql").write_text("SELECT 1;\n" * 1000)
        proc = run("analyze", ".", "--format", "json", "--max-size", "5000", cwd=tree)
        assert proc.returncode == 1
        records = {r["path"]: r for r in json_records(proc.stdout)}
        assert set(records) == {*EXPECTED_PATHS, "big.sql", "dangling.sql", "pipe.sql"}
        assert "limit" in records["big.sql"]["error"]
        assert records["pipe.sql"]["error"] == "not a regular file"
        assert records["dangling.sql"]["error"] == "no such file or directory"

    def test_html_report_is_a_well_formed_self_contained_page(self, broken_tree):
        proc = run("analyze", ".", "--html", "report.html", cwd=broken_tree)
        assert proc.returncode == 1 and proc.stdout == ""
        page = (broken_tree / "report.html").read_text(encoding="utf-8")
        checker = _TagChecker()
        checker.feed(page)
        checker.close()
        assert checker.stack == [] and checker.problems == []
        # The files table, and the objects table once the inventory module is built.
        # Then the hours per bucket and per wave.
        tables = (2 if importlib.util.find_spec("agents.quorvane.inventory") else 1) + 2
        assert checker.counts["svg"] >= 4 and checker.counts["table"] == tables
        # Every file has its row; object rows repeat their file's path.
        assert set(checker.row_paths) == {*EXPECTED_PATHS, "sub/broken16.sql"}
        linked = page.replace('xmlns="http://www.w3.org/2000/svg"', "")  # a namespace name, not a fetch
        assert "http:" not in linked and "https:" not in linked and " src=" not in page

    def test_progress_bar_only_on_a_terminal(self, tree):
        pytest.importorskip("tqdm")
        for i in range(8):
            (tree / f"extra{i}.sql").write_text(PLAIN)
        quiet = run("analyze", ".", "--format", "json", cwd=tree)
        assert quiet.stderr == ""
        import fcntl
        import pty
        import struct
        import termios

        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))  # a new pty has no width
        with os.fdopen(master, "rb", buffering=0) as reader:
            proc = subprocess.run(
                [sys.executable, "-m", "agents.quorvane", "analyze", ".", "--format", "json"],
                cwd=tree,
                stdout=subprocess.PIPE,
                stderr=slave,
                timeout=300,
            )
            os.close(slave)
            drawn = b""
            try:
                while chunk := reader.read(4096):
                    drawn += chunk
            except OSError:  # the pty reports EIO once it is drained
                pass
        assert proc.returncode == 0 and len(proc.stdout.splitlines()) == 12
        total = sum(p.stat().st_size for p in tree.rglob("*") if p.name.lower().endswith(".sql"))
        assert b"analysing" in drawn and f"/{total}".encode() in drawn  # progress counts bytes


class _TagChecker(HTMLParser):
    VOID = {"meta", "br", "hr", "img", "input", "link"}

    def __init__(self):
        super().__init__()
        self.stack: list[str] = []
        self.problems: list[str] = []
        self.counts: dict[str, int] = {}
        self.row_paths: list[str] = []
        self._in_path = False

    def handle_starttag(self, tag, attrs):
        self.counts[tag] = self.counts.get(tag, 0) + 1
        self._in_path = tag == "td" and ("class", "path") in attrs
        if tag not in self.VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if not self.stack or self.stack.pop() != tag:
            self.problems.append(f"unbalanced </{tag}>")

    def handle_data(self, data):
        if self._in_path:
            self.row_paths.append(data)
            self._in_path = False


class TestOtherCommands:
    def test_plan_prints_the_library_instructions(self, tmp_path):
        big = tmp_path / "big.sql"
        big.write_text("".join(f"SELECT {i};\n" + ("GO\n" if i % 200 == 0 else "") for i in range(1, 700)))
        proc = run("plan", "big.sql", cwd=tmp_path)
        expected = complexity.plan_reading_strategy(big).format_reading_instructions("big.sql")
        assert proc.returncode == 0 and proc.stdout == expected + "\n"
        assert "Read it strategically" in proc.stdout
        missing = run("plan", "none.sql", cwd=tmp_path)
        assert missing.returncode == 1 and "none.sql" in missing.stderr

    def test_knowledge_selects_sections_and_reports_sizes(self, tmp_path):
        kb = tmp_path / "kb"
        kb.mkdir()
        (kb / "mapping.md").write_text("## Joins\nLEFT JOIN maps to left\n\n## Cursor Patterns\nloop rows\n")
        (kb / "gotchas.md").write_text("## 2. Case-Sensitive String Comparison\nUse lower\n")
        (kb / "limitations.md").write_text("No linked servers.\n")
        (tmp_path / "q.sql").write_text(PLAIN)
        proc = run("knowledge", "q.sql", "--kb", "kb", "--format", "json", cwd=tmp_path)
        assert proc.returncode == 0, proc.stderr
        out = json.loads(proc.stdout)
        with capture_logs() as events:
            expected = loresift.select_knowledge(
                loresift.detect_construct_categories(PLAIN),
                **{f"full_{name}": (kb / f"{name}.md").read_text() for name in ("mapping", "gotchas", "limitations")},
            )
        assert out["mapping"] == expected["mapping"] == "## Joins\nLEFT JOIN maps to left"
        assert (out["gotchas"], out["limitations"]) == (expected["gotchas"], "No linked servers.\n")
        event = {k: v for k, v in events[0].items() if k not in ("event", "log_level", "categories")}
        assert out["report"] == event and event["full_tokens"] == 19
        text = run("knowledge", "q.sql", "--kb", "kb", cwd=tmp_path)
        assert (
            f"{event['token_estimate']} of 19 words" in text.stdout
            and f"{event['reduction_pct']}% saved" in text.stdout
        )

    @pytest.mark.parametrize(
        "kb, missing",
        [("nokb", "--kb nokb: not a directory"), ("half", "--kb half: no gotchas.md in the folder")],
    )
    def test_knowledge_base_without_its_documents_is_a_usage_error(self, tmp_path, kb, missing):
        (tmp_path / "half").mkdir()
        (tmp_path / "half" / "mapping.md").write_text("## Joins\n")
        (tmp_path / "q.sql").write_text(PLAIN)
        proc = run("knowledge", "q.sql", "--kb", kb, cwd=tmp_path)
        assert proc.returncode == 2 and proc.stderr == f"quorvane knowledge: error: {missing}\n"

    def test_markers_for_one_platform(self, tmp_path):
        proc = run("markers", "--platform", "hive", "--format", "json", cwd=tmp_path)
        ids = [json.loads(line)["id"] for line in proc.stdout.splitlines()]
        expected = [m.id for m in platform_detect.markers() if "hive" in m.platforms]
        assert ids == expected and "shared.backtick_identifier" in ids
        text = run("markers", cwd=tmp_path).stdout
        assert all(m.id in text for m in platform_detect.markers()) and "133 markers" in text
        listed = {line.split()[0] for line in text.splitlines() if line.startswith("  ") and line.split()}
        assert not listed & {e.id for e in platform_detect.evidence()}

    def test_markers_with_the_detectors_evidence(self, tmp_path):
        # Every identifier a file's platform_markers can hold is listed.
        text = run("markers", "--evidence", cwd=tmp_path).stdout
        listed = {line.split()[0] for line in text.splitlines() if line.startswith("  ") and line.split()}
        assert {row.id for row in platform_detect.scan_rows()} <= listed
        hive = [
            json.loads(line)
            for line in run(
                "markers", "--evidence", "--platform", "hive", "--format", "json", cwd=tmp_path
            ).stdout.splitlines()
        ]
        evidence = [e for e in platform_detect.evidence() if "hive" in e.platforms]
        as_json = [json.loads(json.dumps(dataclasses.asdict(e))) for e in evidence]
        assert evidence and hive[-len(evidence) :] == as_json
        assert all("hive" in row["platforms"] for row in hive)


class TestCommandLine:
    @pytest.mark.parametrize("command", [[], ["analyze"], ["plan"], ["knowledge"], ["markers"]])
    def test_help_everywhere(self, tmp_path, command):
        proc = run(*command, "--help", cwd=tmp_path)
        assert proc.returncode == 0 and proc.stdout.startswith("usage: quorvane")

    @pytest.mark.parametrize(
        "args",
        [
            [],
            ["analyze"],
            ["analyze", ".", "--format", "xml"],
            ["analyze", ".", "--jobs", "-1"],
            ["markers", "--platform", "db2"],
            ["knowledge", "x.sql"],
            ["frobnicate"],
        ],
    )
    def test_usage_errors_exit_2(self, tmp_path, args):
        proc = run(*args, cwd=tmp_path)
        assert proc.returncode == 2 and "usage:" in proc.stderr

    @pytest.mark.parametrize("command", ["analyze", "inventory"])
    @pytest.mark.parametrize(
        "args, says",
        [
            (["empty"], "empty: no input file: no file name matching '*.sql' or '*.hql' or '*.hive'"),
            ([".", "--glob", "*.x"], ".: no input file: no file name matching '*.x'"),
            (["q.sql", "--exclude", "Q.SQL"], "q.sql: no input file: left out by --exclude 'Q.SQL'"),
            ([".", "empty", "--exclude", "*.sql"], "empty: no input file"),
        ],
    )
    def test_a_path_that_gives_no_input_file_fails_naming_it(self, tmp_path, command, args, says):
        (tmp_path / "empty").mkdir()
        (tmp_path / "q.sql").write_text(PLAIN)
        proc = run(command, *args, "--format", "json", cwd=tmp_path)
        assert proc.returncode == 1 and f"quorvane {command}: error: {says}" in proc.stderr

    @pytest.mark.parametrize("command", ["analyze", "inventory", "plan"])
    def test_a_subcommands_usage_error_shows_its_own_usage(self, tmp_path, command):
        proc = run(command, "q.sql", "--bogus", cwd=tmp_path)
        assert proc.returncode == 2
        assert proc.stderr.startswith(f"usage: quorvane {command} ")
        assert f"quorvane {command}: error: unrecognized arguments: --bogus" in proc.stderr

    def test_console_script_is_installed(self, tmp_path):
        script = shutil.which("quorvane") or str(Path(sys.executable).with_name("quorvane"))
        if not Path(script).exists():
            pytest.skip("console script not on this interpreter's path")
        proc = subprocess.run([script, "--version"], capture_output=True, text=True, timeout=60)
        assert proc.returncode == 0 and proc.stdout.startswith("quorvane ")
