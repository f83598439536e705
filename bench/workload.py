"""Benchmarks of query-log workloads, on logs generated from the corpus
statements (bench/workload_gen.py):

- one core: statements per CPU second of fingerprinting alone (one call a
  row, as the command once did, and one call a batch), of the command's
  path (fingerprint every statement, analyse each template's first text,
  add up), and of the full analysis of every statement; sqlglot parsing the
  same statements in the same run, for the ratio;
- streaming: ``quorvane workload`` over Parquet logs of 1, 2, 5 and 10
  million rows in a child process, its peak resident memory and time;
- Spark: ``agents.quorvane.spark.workload`` on a local[2] session against
  the one-process path on the same log, per CPU second (the JVM and its
  Python workers apart, read from /proc) and wall time, after first runs
  that pay Spark's fixed costs (start, worker imports, the JVM's compiling);
  then both again over one copy of the generated statements, for the cost
  of a job whatever its size, and the cost beyond it per row.

CPU time rather than wall time, so that other work on the machine skews
the figures less; the ratios are the figures to compare.

    python3 bench/workload.py [--quick] [--skip-stream] [--skip-spark] [--spark-copies N...] [--spark-conf K=V]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import workload_gen  # noqa: E402

from agents.quorvane import inventory  # noqa: E402
from agents.quorvane.assessment.query_logs import BATCH_ROWS, Batch, Columns, read_log  # noqa: E402
from agents.quorvane.assessment.statements import analyze_statement  # noqa: E402
from agents.quorvane.assessment.workers import quiet_logging  # noqa: E402
from agents.quorvane.assessment.workload import Workload  # noqa: E402


def rate(n: int, seconds: float) -> str:
    return f"{n / seconds:,.0f} statements/s"


def _per_row(texts: list[str]) -> None:
    """The former path: one fingerprint call, one record, per row."""
    for s in texts:
        inventory.fingerprint(s)


def _workload(texts: list[str]) -> Workload:
    w = Workload()
    for i in range(0, len(texts), BATCH_ROWS):
        w.add(Batch(i + 1, texts[i : i + BATCH_ROWS], None, None, None))
    return w


def one_core(texts: list[str], sqlglot_sample: int, rounds: int) -> None:
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    size = sum(len(t.encode()) for t in texts) / len(texts)
    print(f"one core: {len(texts):,} statements, {size:.0f} bytes on average; median of {rounds} interleaved rounds")
    runs: dict[str, Callable[[], object]] = {
        "fingerprint, one call a row": lambda: _per_row(texts),
        "fingerprint_many, per batch": lambda: [
            inventory.fingerprint_many(texts[i : i + BATCH_ROWS]) for i in range(0, len(texts), BATCH_ROWS)
        ],
        "workload (per template)": lambda: _workload(texts),
    }
    times: dict[str, list[float]] = {name: [] for name in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            t = time.process_time()
            run()
            times[name].append(time.process_time() - t)
    for name, spent in times.items():
        print(f"  {name:<30}{rate(len(texts), statistics.median(spent))}")
    path = statistics.median(times["workload (per template)"])
    print(f"  ({len(_workload(texts).templates)} templates; CPU time of this process)")
    sample = texts[: max(1, len(texts) // 4)]
    t = time.process_time()
    for s in sample:
        inventory.fingerprint(s)
        analyze_statement(s)
    full = time.process_time() - t
    print(f"  every statement analysed      {rate(len(sample), full)}")
    try:
        import sqlglot
    except ImportError:
        print("  sqlglot not installed: no ratio")
        return
    few = texts[:sqlglot_sample]
    failed = 0
    t = time.process_time()
    for s in few:
        try:
            sqlglot.parse(s, read="tsql")
        except Exception:
            failed += 1
    parse = time.process_time() - t
    print(f"  sqlglot parse (tsql)          {rate(len(few), parse)}  ({failed} of {len(few)} failed)")
    per = parse / len(few)
    print(
        f"  ratio: workload path {per / (path / len(texts)):,.0f}x, full analysis {per / (full / len(sample)):,.0f}x "
        "sqlglot's speed"
    )


def stream(texts: list[str], sizes: list[int], folder: str) -> None:
    """Peak resident memory of the command over logs of growing sizes: flat
    when nothing grows with the rows."""
    import pyarrow as pa
    import pyarrow.parquet as pq

    path = os.path.join(folder, "big.parquet")
    chunk = pa.Table.from_pylist(list(workload_gen.log_rows(texts)))
    for rows in sizes:
        t = time.perf_counter()
        with pq.ParquetWriter(path, chunk.schema) as out:
            written = 0
            while written < rows:
                part = chunk.slice(0, min(chunk.num_rows, rows - written))
                out.write_table(part)
                written += part.num_rows
        print(
            f"streaming: wrote {rows:,} rows ({os.path.getsize(path) / 1e6:,.0f} MB Parquet) in "
            f"{time.perf_counter() - t:.0f} s",
            flush=True,
        )
        cmd = [sys.executable, "-m", "agents.quorvane", "workload", path, "--count-column", "execution_count",
               "--user-column", "user_name", "--time-column", "start_time", "--format", "json", "-o",
               os.path.join(folder, "big.json"), "--no-progress"]  # fmt: skip
        t = time.perf_counter()
        proc = subprocess.Popen(cmd)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - t
        cpu = usage.ru_utime + usage.ru_stime
        print(
            f"  quorvane workload: exit {os.waitstatus_to_exitcode(status)}, {wall:.0f} s wall, {cpu:.0f} s CPU "
            f"({rate(rows, cpu)} of CPU), peak RSS {usage.ru_maxrss / 1024:,.0f} MB",
            flush=True,
        )
        os.remove(path)


def _tree_cpu() -> dict[str, float]:
    """CPU seconds of this process's descendants by command name (the JVM,
    its Python workers and those it waited for), from /proc."""
    tick = os.sysconf("SC_CLK_TCK")
    parents: dict[int, int] = {}
    spent: dict[int, tuple[str, float]] = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as fh:
                raw = fh.read()
        except OSError:
            continue
        fields = raw.rsplit(")", 1)[1].split()
        parents[int(entry)] = int(fields[1])
        name = raw[raw.index("(") + 1 : raw.rindex(")")]
        spent[int(entry)] = (name, sum(int(v) for v in fields[11:15]) / tick)  # utime stime cutime cstime
    me = os.getpid()

    def under(pid: int) -> bool:
        while pid > 1:
            pid = parents.get(pid, 0)
            if pid == me:
                return True
        return False

    out: dict[str, float] = {}
    for pid, (name, cpu) in spent.items():
        if under(pid):
            kind = "jvm" if name == "java" else "python" if name.startswith("python") else "other"
            out[kind] = out.get(kind, 0.0) + cpu
    return out


def _one_process(path: str) -> tuple[float, float]:
    """Wall and CPU seconds of the command's path over the log at ``path``."""
    t, c = time.perf_counter(), time.process_time()
    w = Workload()
    for batch in read_log(path, Columns(count="execution_count")):
        w.add(batch)
    return time.perf_counter() - t, time.process_time() - c


def _both_cores_busy(path: str) -> tuple[float, float]:
    """The command's path over ``path`` in two processes at once, as Spark
    keeps both cores busy: the longer wall time, and the CPU seconds of
    one.  A core shared with a busy neighbour (caches, memory) does less
    per CPU second than one on an idle machine."""
    both = []
    for _ in range(2):
        r, w = os.pipe()
        if (pid := os.fork()) == 0:
            os.close(r)
            os.write(w, json.dumps(_one_process(path)).encode())
            os._exit(0)
        os.close(w)
        both.append((pid, r))
    busy = []
    for pid, r in both:
        with os.fdopen(r) as fh:
            busy.append(json.loads(fh.read()))
        os.waitpid(pid, 0)
    return max(b[0] for b in busy), sum(b[1] for b in busy) / 2


def spark(texts: list[str], copies: int, folder: str, conf: list[str]) -> None:
    """Spark's job over ``copies`` copies of ``texts`` against the one-process
    path, and each again over one copy: what a job costs whatever its size
    (Spark's scheduling, its compiling of the job's code, the analysis of
    each template's first text) is the part of the cost that does not grow
    with the log, and what remains is compared per row."""
    from pyspark.sql import SparkSession

    from agents.quorvane.spark import workload as spark_workload

    path, small = os.path.join(folder, "spark.parquet"), os.path.join(folder, "spark-base.parquet")
    workload_gen.write_log(path, texts * copies)
    workload_gen.write_log(small, texts)
    rows, extra = len(texts) * copies, len(texts) * (copies - 1)
    busy_wall, busy_cpu = _both_cores_busy(path)
    t = time.perf_counter()
    builder = (
        SparkSession.builder.master("local[2]")
        .config("spark.ui.enabled", "false")
        .config("spark.ui.showConsoleProgress", "false")
    )
    for setting in conf:
        builder = builder.config(*setting.split("=", 1))
    session = builder.getOrCreate()
    session.sparkContext.setLogLevel("ERROR")
    session.range(1).collect()
    start = time.perf_counter() - t
    df, base = session.read.parquet(path), session.read.parquet(small)

    def job(frame: Any) -> tuple[float, float, dict[str, float]]:
        t, before = time.perf_counter(), _tree_cpu()
        frame_templates = spark_workload(frame, count_col="execution_count").collect()
        run, after = time.perf_counter() - t, _tree_cpu()
        cpu = {kind: after.get(kind, 0.0) - before.get(kind, 0.0) for kind in after}
        assert len(frame_templates) > 0
        return sum(cpu.values()), run, cpu

    # Spark's fixed cost: the workers' imports and the JVM compiling the
    # job's code paths, paid by a first run of the same job.
    t = time.perf_counter()
    job(df)
    job(base)
    warm = time.perf_counter() - t
    # Then, three times over, each path on each log in turn, so that a
    # change in the machine's load falls on both paths alike.
    big, little, one, one_little = [], [], [], []
    for _ in range(3):
        one.append(_one_process(path))
        big.append(job(df))
        one_little.append(_one_process(small))
        little.append(job(base))
        total, run, cpu = big[-1]
        print(
            f"  local[2] job: {run:.1f} s wall, {total:.1f} s CPU (the JVM {cpu.get('jvm', 0):.1f} s, the Python "
            f"workers {cpu.get('python', 0):.1f} s); over one copy {little[-1][0]:.1f} s CPU; one process "
            f"{one[-1][1]:.1f} s CPU, over one copy {one_little[-1][1]:.1f} s",
            flush=True,
        )
    session.stop()
    median = statistics.median
    total, run, cpu = sorted(big, key=lambda r: r[0])[1]
    one_cpu, one_wall = median(o[1] for o in one), median(o[0] for o in one)
    print(f"spark: {rows:,} rows{' with ' + ' '.join(conf) if conf else ''}; the medians of three")
    print(f"  local[2]: start {start:.1f} s, first runs {warm:.1f} s")
    print(
        f"  per CPU second: Spark {rate(rows, total)} (the JVM {cpu.get('jvm', 0):.1f} s, its Python workers "
        f"{cpu.get('python', 0):.1f} s) vs one process {rate(rows, one_cpu)} alone, {rate(rows, busy_cpu)} with "
        f"both cores busy: {total / one_cpu:.2f} and {total / busy_cpu:.2f} times the CPU",
        flush=True,
    )
    spark_rows = median(b[0] - s[0] for b, s in zip(big, little))
    one_rows = median(o[1] - s[1] for o, s in zip(one, one_little))
    busy_rows = busy_cpu - median(s[1] for s in one_little)
    print(
        f"  beyond each job's cost over one copy ({median(s[0] for s in little):.1f} s CPU on Spark, "
        f"{median(s[1] for s in one_little):.1f} s in one process), per CPU second: Spark {rate(extra, spark_rows)} "
        f"vs one process {rate(extra, one_rows)} alone, {rate(extra, busy_rows)} with both cores busy: "
        f"{spark_rows / one_rows:.2f} and {spark_rows / busy_rows:.2f} times the CPU",
        flush=True,
    )
    print(
        f"  wall time: Spark {rate(rows, run)} on two cores vs one process {rate(rows, one_wall)} alone, "
        f"{rate(2 * rows, busy_wall)} on two cores (two processes)",
        flush=True,
    )


def main() -> None:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true", help="small logs: a smoke run")
    p.add_argument("--skip-stream", action="store_true")
    p.add_argument("--skip-spark", action="store_true")
    p.add_argument("--skip-one-core", action="store_true")
    p.add_argument("--rows", type=int, nargs="*", help="the streamed logs' sizes (default 1, 2, 5 and 10 million)")
    p.add_argument(
        "--spark-copies",
        type=int,
        nargs="*",
        help="Spark's logs, as copies of the generated statements (default 4: 200,000 rows; at least 2)",
    )
    p.add_argument(
        "--spark-conf",
        action="append",
        default=[],
        metavar="KEY=VALUE",
        help="a setting of the Spark session, e.g. spark.driver.extraJavaOptions=-XX:+UseParallelGC",
    )
    args = p.parse_args()
    if any(c < 2 for c in args.spark_copies or []):
        p.error("--spark-copies: at least 2 copies, one of which is the job's cost whatever its size")
    quiet_logging()
    n = 5_000 if args.quick else 50_000
    texts, _ = workload_gen.generate(n, seed=5, templates=100 if args.quick else 400)
    with tempfile.TemporaryDirectory() as folder:
        if not args.skip_spark:
            sys.stdout.flush()
            for copies in args.spark_copies or [2 if args.quick else 4]:
                pid = os.fork()
                if pid == 0:  # its own process: one_core pins this one to a core
                    spark(texts, copies, folder, args.spark_conf)
                    os._exit(0)
                os.waitpid(pid, 0)
        if not args.skip_stream:
            sizes = args.rows or ([100_000, 200_000] if args.quick else [1_000_000, 2_000_000, 5_000_000, 10_000_000])
            stream(texts, sizes, folder)
        if not args.skip_one_core:
            one_core(texts, 200 if args.quick else 1_000, 3 if args.quick else 5)


if __name__ == "__main__":
    main()
