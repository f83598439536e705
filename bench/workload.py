"""Benchmarks of query-log workloads, on logs generated from the corpus
statements (bench/workload_gen.py):

- one core: statements per second of fingerprinting alone, of the
  command's path (fingerprint every statement, analyse each template's
  first text, add up), and of the full analysis of every statement; sqlglot
  parsing the same statements in the same run, for the ratio;
- streaming: ``quorvane workload`` over a 10-million-row Parquet log in a
  child process, its peak resident memory and wall time;
- Spark: ``agents.quorvane.spark.workload`` on a local[2] session against
  the one-process path on the same log, with Spark's fixed start cost
  measured apart.

    python3 bench/workload.py [--quick] [--skip-stream] [--skip-spark]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import workload_gen  # noqa: E402

from agents.quorvane import inventory  # noqa: E402
from agents.quorvane.assessment.query_logs import Batch, Columns, read_log  # noqa: E402
from agents.quorvane.assessment.statements import analyze_statement  # noqa: E402
from agents.quorvane.assessment.workers import quiet_logging  # noqa: E402
from agents.quorvane.assessment.workload import Workload  # noqa: E402


def rate(n: int, seconds: float) -> str:
    return f"{n / seconds:,.0f} statements/s"


def one_core(texts: list[str], sqlglot_sample: int) -> None:
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    size = sum(len(t.encode()) for t in texts) / len(texts)
    print(f"one core: {len(texts):,} statements, {size:.0f} bytes on average")
    t = time.perf_counter()
    for s in texts:
        inventory.fingerprint(s)
    fp = time.perf_counter() - t
    print(f"  fingerprint alone           {rate(len(texts), fp)}")
    w = Workload()
    t = time.perf_counter()
    for i in range(0, len(texts), 65_536):
        w.add(Batch(i + 1, texts[i : i + 65_536], None, None, None))
    path = time.perf_counter() - t
    print(f"  workload (per template)     {rate(len(texts), path)}  ({len(w.templates)} templates)")
    sample = texts[: max(1, len(texts) // 4)]
    t = time.perf_counter()
    for s in sample:
        inventory.fingerprint(s)
        analyze_statement(s)
    full = time.perf_counter() - t
    print(f"  every statement analysed    {rate(len(sample), full)}")
    try:
        import sqlglot
    except ImportError:
        print("  sqlglot not installed: no ratio")
        return
    few = texts[:sqlglot_sample]
    failed = 0
    t = time.perf_counter()
    for s in few:
        try:
            sqlglot.parse(s, read="tsql")
        except Exception:
            failed += 1
    parse = time.perf_counter() - t
    print(f"  sqlglot parse (tsql)        {rate(len(few), parse)}  ({failed} of {len(few)} failed)")
    per = parse / len(few)
    print(
        f"  ratio: workload path {per / (path / len(texts)):,.0f}x, full analysis {per / (full / len(sample)):,.0f}x "
        "sqlglot's speed"
    )


def stream(texts: list[str], rows: int, folder: str) -> None:
    import pyarrow as pa
    import pyarrow.parquet as pq

    path = os.path.join(folder, "big.parquet")
    chunk = pa.Table.from_pylist(list(workload_gen.log_rows(texts)))
    t = time.perf_counter()
    with pq.ParquetWriter(path, chunk.schema) as out:
        written = 0
        while written < rows:
            part = chunk.slice(0, min(chunk.num_rows, rows - written))
            out.write_table(part)
            written += part.num_rows
    print(
        f"streaming: wrote {rows:,} rows ({os.path.getsize(path) / 1e6:,.0f} MB Parquet) in "
        f"{time.perf_counter() - t:.0f} s"
    )
    cmd = [sys.executable, "-m", "agents.quorvane", "workload", path, "--count-column", "execution_count",
           "--user-column", "user_name", "--time-column", "start_time", "--format", "json", "-o",
           os.path.join(folder, "big.json"), "--no-progress"]  # fmt: skip
    t = time.perf_counter()
    proc = subprocess.Popen(cmd)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - t
    print(
        f"  quorvane workload: exit {os.waitstatus_to_exitcode(status)}, {wall:.0f} s ({rate(rows, wall)}), "
        f"peak RSS {usage.ru_maxrss / 1024:,.0f} MB"
    )


def spark(texts: list[str], folder: str) -> None:
    from pyspark.sql import SparkSession

    from agents.quorvane.spark import workload as spark_workload

    path = os.path.join(folder, "spark.parquet")
    workload_gen.write_log(path, texts)
    t = time.perf_counter()
    w = Workload()
    for batch in read_log(path, Columns(count="execution_count")):
        w.add(batch)
    one = time.perf_counter() - t
    print(f"spark: {len(texts):,} rows; one process {one:.1f} s ({rate(len(texts), one)})")
    t = time.perf_counter()
    session = SparkSession.builder.master("local[2]").config("spark.ui.enabled", "false").getOrCreate()
    session.sparkContext.setLogLevel("ERROR")
    session.range(1).collect()
    start = time.perf_counter() - t
    df = session.read.parquet(path)
    spark_workload(df.limit(10), count_col="execution_count").collect()  # workers and imports warm
    t = time.perf_counter()
    got = spark_workload(df, count_col="execution_count").collect()
    run = time.perf_counter() - t
    session.stop()
    print(
        f"  local[2]: start {start:.1f} s, warm-up done, job {run:.1f} s ({rate(len(texts), run)}, "
        f"{len(got)} templates); per core: Spark {rate(len(texts), run * 2)} vs one process "
        f"{rate(len(texts), one)}"
    )


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small logs: a smoke run")
    p.add_argument("--skip-stream", action="store_true")
    p.add_argument("--skip-spark", action="store_true")
    args = p.parse_args()
    quiet_logging()
    n = 5_000 if args.quick else 50_000
    texts, _ = workload_gen.generate(n, seed=5, templates=100 if args.quick else 400)
    with tempfile.TemporaryDirectory() as folder:
        if not args.skip_spark:
            pid = os.fork()
            if pid == 0:  # its own process: one_core pins this one to a core
                spark(texts * (1 if args.quick else 4), folder)
                os._exit(0)
            os.waitpid(pid, 0)
        if not args.skip_stream:
            stream(texts, 200_000 if args.quick else 10_000_000, folder)
        one_core(texts, 200 if args.quick else 1_000)


if __name__ == "__main__":
    main()
