"""The Spark job on a local session: the per-statement columns of
``analyze_statements`` equal the one-process analysis on a generated log of
20,000 statements, ``workload`` gives the command's templates and counts,
and a row that cannot be analysed reports its error."""

from __future__ import annotations

import json
import shutil
import sys
from pathlib import Path

import pytest

pytest.importorskip("pyspark")
pytest.importorskip("pyarrow")
if shutil.which("java") is None:
    pytest.skip("no Java for a local Spark session", allow_module_level=True)

from corpus import corpus_files  # noqa: E402

from agents.quorvane.cli import main  # noqa: E402
from agents.quorvane.spark import STATEMENT_COLUMNS, analyze_statements, statement_row, workload  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))

needs_corpus = pytest.mark.skipif(not corpus_files(), reason="shared corpus not present")


@pytest.fixture(autouse=True)
def _logging_left_as_found():
    # The command quiets the library's debug events for the whole process.
    yield
    import structlog

    structlog.reset_defaults()


@pytest.fixture(scope="module")
def spark():
    from pyspark.sql import SparkSession

    session = (
        SparkSession.builder.master("local[2]")
        .appName("quorvane-tests")
        .config("spark.ui.enabled", "false")
        .config("spark.sql.shuffle.partitions", "4")
        .getOrCreate()
    )
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()


@pytest.fixture(scope="module")
def generated_log(tmp_path_factory):
    import workload_gen

    texts, _ = workload_gen.generate(20_000, seed=11, templates=150)
    path = tmp_path_factory.mktemp("spark") / "log.parquet"
    workload_gen.write_log(str(path), texts, seed=11)
    return path, texts


@needs_corpus
def test_statement_columns_equal_the_one_process_analysis(spark, generated_log):
    path, texts = generated_log
    rows = analyze_statements(spark.read.parquet(str(path))).select("query_text", *STATEMENT_COLUMNS).collect()
    assert len(rows) == len(texts)
    for row in rows:
        assert {c: row[c] for c in STATEMENT_COLUMNS} == statement_row(row["query_text"])


@needs_corpus
def test_workload_gives_the_commands_templates_and_counts(spark, generated_log, capsys):
    path, _ = generated_log
    assert main(["workload", str(path), "--count-column", "execution_count", "--user-column", "user_name",
                 "--time-column", "start_time", "--format", "json", "--no-progress"]) == 0  # fmt: skip
    expected = json.loads(capsys.readouterr().out)["templates"]
    got = workload(spark.read.parquet(str(path)), count_col="execution_count", user_col="user_name",
                   time_col="start_time").collect()  # fmt: skip
    seen = ("count", "users", "first_seen", "last_seen")
    assert [(r["fingerprint"] % (1 << 64), r["template"], *(r[k] for k in seen)) for r in got] == [
        (t["fingerprint"], t["template"], *(t[k] for k in seen)) for t in expected
    ]
    assert [r["level"] for r in got] == [t["level"] for t in expected]


def test_a_bad_row_reports_its_error_and_the_job_goes_on(spark):
    df = spark.createDataFrame([("SELECT 1", "2"), (None, "1"), ("", "1"), ("SELECT 'cut", "1"), ("SELECT 2", "x"),
                                ("SELECT 3", "5")], "query_text string, n string")  # fmt: skip
    # Spark's cast of binary data to a string does not check its bytes.
    cast = spark.createDataFrame([(bytearray(b"SELECT \xff"), "1")], "raw binary, n string")
    df = df.union(cast.selectExpr("CAST(raw AS string) AS query_text", "n"))
    rows = analyze_statements(df).collect()
    assert [(r["error"], r["truncated"] is not None) for r in rows] == [
        (None, False), ("null", False), ("empty", False), (None, True), (None, False), (None, False),
        ("undecodable", False)
    ]  # fmt: skip
    assert [(r["template"], r["count"]) for r in workload(df, count_col="n").collect()] == [("select ?", 7)]
    assert [(r["template"], r["count"]) for r in workload(df).collect()] == [("select ?", 3)]
    with pytest.raises(ValueError, match="no column"):
        analyze_statements(df, "sql")


def test_a_templates_first_text_is_the_first_in_the_dataframes_order(spark):
    # Two partitions: [null, "a.T1"] and ["a.t1", "a.t1"].  The first usable
    # row is the second of the first partition, not the first of the second.
    texts = [None, "SELECT 1 FROM a.T1", "SELECT 2 FROM a.t1", "SELECT 3 FROM a.t1"]
    df = spark.createDataFrame(spark.sparkContext.parallelize([(t,) for t in texts], 2), "query_text string")
    assert [(r["count"], r["reads"]) for r in workload(df).collect()] == [(3, ["a.T1"])]


@pytest.mark.parametrize("binary", [False, True])
def test_a_batch_goes_back_as_one_row_per_fingerprint_and_user(binary):
    import pyarrow as pa

    from agents.quorvane.spark import _COUNT, _FIRST, _LAST, _ROW, _TEXT, _USER, _combined

    texts = [
        "SELECT 'cut",
        "SELECT 1",
        "SELECT 2",
        "SELECT 3",
        None,
        "",
        "SELECT 4 FROM t",
        "select 5 from T",
        "x" * 4000,
    ]
    counts = [1, None, 2, 3, 1, 1, 1, 4, 1]  # None: a count that cannot be used
    users = ["a", "a", "b", "a", "a", "a", "a", "a", "a"]
    times = ["t5", "t0", "t3", "t1", "t0", "t0", "t9", "t2", "t0"]
    values = pa.array([t.encode() if t is not None else None for t in texts]) if binary else pa.array(texts)
    batch = pa.record_batch(
        [values, pa.array(counts, pa.int64()), pa.array(users), pa.array(times)], names=[_TEXT, _COUNT, _USER, _FIRST]
    )
    out = _combined(batch, None, True, True, 10).to_pylist()
    got = sorted((r[_ROW], r[_TEXT], r[_COUNT], r[_USER], r[_FIRST], r[_LAST]) for r in out)
    assert got == [(12, "SELECT 2", 2, "b", "t3", "t3"), (13, None, 3, "a", "t1", "t1"),
                   (16, "SELECT 4 FROM t", 5, "a", "t2", "t9")]  # fmt: skip
    assert len({r["fingerprint"] for r in out}) == 2
