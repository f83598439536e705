"""``quorvane workload`` as a user runs it: logs in three formats, the planted
templates of generated logs recovered exactly, bad rows, suspected
truncation, the comparison with a code base and the output formats."""

from __future__ import annotations

import csv
import io
import json
import sys
from collections import Counter
from pathlib import Path

import pytest

pa = pytest.importorskip("pyarrow")
import pyarrow.parquet as pq  # noqa: E402

from agents.quorvane.cli import main  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
from corpus import corpus_files  # noqa: E402


@pytest.fixture(autouse=True)
def _logging_left_as_found():
    # The command quiets the library's debug events for the whole process.
    yield
    import structlog

    structlog.reset_defaults()


def run(capsys, *argv):
    code = main(["workload", "--no-progress", *map(str, argv)])
    out, err = capsys.readouterr()
    return code, out, err


def report(capsys, *argv):
    code, out, err = run(capsys, *argv, "--format", "json")
    assert code == 0, err
    return json.loads(out)


def write(path: Path, rows: list[dict]) -> Path:
    if path.suffix == ".parquet":
        pq.write_table(pa.Table.from_pylist(rows), path)
    elif path.suffix == ".csv":
        with path.open("w", newline="", encoding="utf-8") as fh:
            w = csv.DictWriter(fh, fieldnames=list(rows[0]))
            w.writeheader()
            w.writerows(rows)
    else:
        path.write_text("".join(json.dumps(r) + "\n" for r in rows), encoding="utf-8")
    return path


@pytest.mark.skipif(not corpus_files(), reason="shared corpus not present")
@pytest.mark.parametrize("suffix", [".csv", ".jsonl", ".parquet"])
def test_fingerprints_recover_the_planted_templates(tmp_path, capsys, suffix):
    import workload_gen

    texts, planted = workload_gen.generate(1500, seed=7, templates=60)
    rows = list(workload_gen.log_rows(texts, seed=7))
    doc = report(capsys, write(tmp_path / f"log{suffix}", rows), "--count-column", "execution_count")
    expected = Counter()
    for row, which in zip(rows, planted):
        expected[which] += row["execution_count"]
    bases = workload_gen.bases(60)
    from agents.quorvane.inventory import fingerprint

    want = {fingerprint(bases[w].text).hash: n for w, n in expected.items()}
    assert {t["fingerprint"]: t["count"] for t in doc["templates"]} == want
    assert doc["summary"]["statements"] == sum(want.values()) and doc["summary"]["bad_rows"] == 0


def test_template_fields_users_times_and_summary(tmp_path, capsys):
    rows = [
        {"SQL_Text": "SELECT * FROM dbo.Orders WHERE id = 1", "who": "ann", "at": "2026-12-02T10:00"},
        {"SQL_Text": "select *\n from dbo.orders where ID = 22", "who": "bob", "at": "2026-12-01T09:00"},
        {"SQL_Text": "SELECT * FROM dbo.Orders WHERE id = 3", "who": "ann", "at": "2026-12-03T08:00"},
        {"SQL_Text": "DECLARE c CURSOR FOR SELECT a FROM dbo.Big; MERGE dbo.Big USING s ON 1=1 WHEN MATCHED THEN "
         "DELETE; BEGIN TRY EXEC sp_executesql @q END TRY BEGIN CATCH END CATCH", "who": "cy", "at": "2026-12-04"},
    ]  # fmt: skip
    doc = report(capsys, write(tmp_path / "log.jsonl", rows), "--user-column", "who", "--time-column", "at")
    top, other = doc["templates"]
    assert (top["template"], top["count"], top["share"], top["users"]) == (
        "select * from dbo.orders where id = ?", 3, 0.75, 2)  # fmt: skip
    assert (top["first_seen"], top["last_seen"]) == ("2026-12-01T09:00", "2026-12-03T08:00")
    assert (top["level"], top["reads"], top["platform"]) == ("simple", ["dbo.Orders"], "sqlserver")
    assert other["level"] == "complex" and "cursor" in other["categories"]
    s = doc["summary"]
    assert (s["statements"], s["templates"], s["levels"]) == (4, 2, {"simple": 3, "moderate": 0, "complex": 1})
    assert s["hot_tables"][0] == {"table": "dbo.Orders", "statements": 3}


def test_times_of_mixed_types_compare_as_numbers_then_as_text(tmp_path, capsys):
    times = [3, 1.5, 2, "2026-12-01", "2026-11-30", 7]
    rows = [{"query": "SELECT 1", "at": at} for at in times]
    (top,) = report(capsys, write(tmp_path / "log.jsonl", rows), "--time-column", "at")["templates"]
    assert (top["first_seen"], top["last_seen"]) == (1.5, "2026-12-01")


def test_users_past_the_exact_limit_are_estimated_in_bounded_memory(tmp_path, capsys):
    rows = [{"query": f"SELECT {n} FROM t", "who": f"user{n % 3000}"} for n in range(9000)]
    rows.append({"query": "SELECT 1 FROM u", "who": "ann"})
    doc = report(capsys, write(tmp_path / "log.parquet", rows), "--user-column", "who")
    many, one = doc["templates"]
    assert one["users"] == 1 and abs(many["users"] - 3000) / 3000 < 0.07


def test_bad_rows_are_counted_by_number_and_never_stop_the_run(tmp_path, capsys):
    log = tmp_path / "log.jsonl"
    lines = [
        json.dumps({"query_text": "SELECT 1", "n": 2}),
        json.dumps({"query_text": None, "n": 1}),
        json.dumps({"query_text": "   ", "n": 1}),
        json.dumps({"query_text": 42, "n": 1}),
        "{not json",
        json.dumps({"query_text": "SELECT 2", "n": "many"}),
        json.dumps({"query_text": "SELECT 3", "n": 1}),
    ]
    lines.append(json.dumps({"query_text": "SELECT 'cut", "n": -1}))  # a bad count, though truncated too
    log.write_bytes("\n".join(lines).encode() + b'\n{"query_text": "SELECT \xff"}\n')
    doc = report(capsys, log, "--count-column", "n")
    s = doc["summary"]
    assert (s["statements"], s["bad_rows"], s["bad_row_numbers"]) == (3, 7, [2, 3, 4, 5, 6, 8, 9])
    assert s["bad_row_problems"] == {"bad count": 2, "empty": 1, "not JSON": 1, "not text": 1, "null": 1,
                                     "undecodable": 1}  # fmt: skip
    assert s["truncated"] == 0
    # Undecodable bytes in a CSV field spoil that row alone.
    table = tmp_path / "log.csv"
    table.write_bytes(b'query_text\n"SELECT 1"\n"SELECT \xff"\n"SELECT 2"\n')
    s = report(capsys, table)["summary"]
    assert (s["statements"], s["bad_row_numbers"], s["bad_row_problems"]) == (2, [2], {"undecodable": 1})


def test_suspected_truncation_is_listed_not_analysed(tmp_path, capsys):
    cut = ("SELECT " + "x, " * 1331)[:4000]  # cut by a 4,000-character column
    assert len(cut) == 4000
    rows = [{"query": cut}, {"query": "SELECT 'open literal"}, {"query": "SELECT 1 /* cut"}, {"query": "SELECT 1"}]
    s = report(capsys, write(tmp_path / "log.parquet", rows))["summary"]
    assert (s["statements"], s["templates"], s["truncated"]) == (1, 1, 3)
    assert [(r["row"], r["reason"]) for r in s["truncated_rows"]] == [
        (1, "cut at 4000 characters"), (2, "ends inside a literal or comment"), (3, "ends inside a literal or comment")
    ]  # fmt: skip


def test_code_base_objects_unused_and_references_undefined(tmp_path, capsys):
    code = tmp_path / "code"
    code.mkdir()
    (code / "a.sql").write_text(
        "CREATE TABLE dbo.Orders (id int)\nGO\nCREATE TABLE dbo.Archive (id int)\nGO\n"
        "CREATE PROCEDURE dbo.LoadOrders AS SELECT 1\nGO\nCREATE VIEW sales.vTop AS SELECT 1 AS x\nGO\n"
    )
    rows = [{"query_text": "SELECT * FROM orders JOIN dbo.Missing m ON 1=1"}, {"query_text": "EXEC dbo.LoadOrders"},
            {"query_text": "SELECT * FROM sys.objects"}]  # fmt: skip
    c = report(capsys, write(tmp_path / "log.csv", rows), "--code", code)["summary"]["code"]
    assert c["objects"] == 4
    assert [(e["name"], e["kind"]) for e in c["unused"]] == [("dbo.Archive", "table"), ("sales.vTop", "view")]
    assert c["undefined"] == [{"name": "dbo.Missing", "kinds": ["reads"], "statements": 1}]


def test_output_formats_and_files(tmp_path, capsys):
    log = write(tmp_path / "log.csv", [{"query_text": "SELECT a FROM t WHERE b IN (1, 2)"}, {"query_text": "SELECT 1"}])
    code, out, _ = run(capsys, log, "--format", "csv")
    rows = list(csv.DictReader(io.StringIO(out)))
    assert code == 0 and len(rows) == 2 and rows[0]["reads"] in ("t", "")
    code, out, _ = run(capsys, log)
    assert code == 0 and "select a from t where b in (?)" in out and "statements: 2 in 2 templates" in out
    page, data = tmp_path / "w.html", tmp_path / "w.json"
    code, _, err = run(capsys, log, "--html", page, "-o", data, "--format", "json")
    assert code == 0 and json.loads(data.read_text())["summary"]["templates"] == 2
    html = page.read_text()
    assert "<table" in html and "http" not in html.split("</head>")[1]
    assert run(capsys, log, "--html", "-")[0] == 0
    assert run(capsys, log, "--html", "-", "--format", "json")[0] == 2
    assert run(capsys, log, "-o", tmp_path / "no" / "such" / "dir.json")[0] == 2


def test_logs_that_cannot_be_read(tmp_path, capsys):
    good = write(tmp_path / "good.csv", [{"query_text": "SELECT 1"}])
    other = write(tmp_path / "other.csv", [{"statement": "SELECT 1"}])
    code, out, err = run(capsys, good, other, tmp_path / "absent.parquet", tmp_path / "log.txt", "--format", "json")
    assert code == 1 and json.loads(out)["summary"]["statements"] == 1
    assert "no text column" in err and "absent.parquet" in err and "unknown log format" in err
    assert run(capsys, other, "--text-column", "STATEMENT")[0] == 0
