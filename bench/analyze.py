"""Benchmarks of ``quorvane analyze``, the command as users run it.

    python3 bench/analyze.py                # corpus pools and stages, then a 200 MB file
    python3 bench/analyze.py --size-mb 50   # a smaller large file
    python3 bench/analyze.py --skip-large   # corpus only

1. The corpus end to end (one worker, two threads, two processes),
   interleaved, medians; ratios against one worker measured in the same run.
   The outputs must be identical.
2. The corpus per stage, in one process: read, decode, classify, categories,
   plan, platform, hotspots, objects, JSON output.
3. One large generated T-SQL file: wall time and peak memory of the command,
   against a baseline that only reads and decodes the same file, measured in
   the same run; the memory also as a multiple of the file's size.
"""

from __future__ import annotations

import argparse
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import gen  # noqa: E402

CORPUS = Path(os.environ.get("QUORVANE_CORPUS", HERE.parent.parent / "shared" / "corpus"))
COMMAND = [sys.executable, "-m", "agents.quorvane", "analyze"]


def timed_run(args: list[str]) -> tuple[float, str]:
    start = time.perf_counter()
    proc = subprocess.run(args, capture_output=True, text=True, check=False)
    elapsed = time.perf_counter() - start
    if proc.returncode not in (0, 1):
        raise SystemExit(f"{args}: exit {proc.returncode}: {proc.stderr}")
    return elapsed, proc.stdout


def corpus_pools(rounds: int) -> None:
    variants = {
        "1 worker": ["--jobs", "1"],
        "2 threads": ["--jobs", "2", "--pool", "threads"],
        "2 processes": ["--jobs", "2", "--pool", "processes"],
    }
    times: dict[str, list[float]] = {name: [] for name in variants}
    outputs = set()
    for _ in range(rounds):
        for name, extra in variants.items():
            elapsed, out = timed_run([*COMMAND, str(CORPUS), "--format", "json", "--no-progress", *extra])
            times[name].append(elapsed)
            outputs.add(out)
    base = statistics.median(times["1 worker"])
    print(f"corpus end to end ({rounds} rounds, medians; outputs identical: {len(outputs) == 1})")
    for name, samples in times.items():
        median = statistics.median(samples)
        print(f"  {name:<12} {median:7.3f} s   x{base / median:5.2f} vs 1 worker")


def corpus_stages() -> None:
    import logging

    import structlog

    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.WARNING))
    from agents.quorvane import complexity, loresift, platform_detect
    from agents.quorvane.assessment import decoding
    from agents.quorvane.assessment.single_file import (
        Options,
        _construct_hotspots,
        split_units,
        analyze_text,
        plan_text,
    )
    from agents.quorvane.writers.json_lines import write_json_lines

    files = sorted(p for p in CORPUS.rglob("*") if p.suffix.lower() in (".sql", ".hql", ".hive") and p.is_file())
    stages: dict[str, float] = {}

    def stage(name: str, fn, items):
        start = time.perf_counter()
        out = [fn(x) for x in items]
        stages[name] = time.perf_counter() - start
        return out

    data = stage("read", lambda p: p.read_bytes(), files)
    texts = [d.text for d in stage("decode", decoding.decode, data)]
    stage("classify", complexity.classify_sql, texts)
    stage("categories", loresift.detect_construct_categories, texts)
    stage("plan", plan_text, texts)
    stage("platform", platform_detect.detect_platform, texts)
    stage("hotspots", _construct_hotspots, texts)
    stage("objects", split_units, texts)
    results = [analyze_text(str(p), decoding.decode(d), Options()) for p, d in zip(files, data)]
    start = time.perf_counter()
    write_json_lines([r.file for r in results], io.StringIO())
    stages["json output"] = time.perf_counter() - start
    total = sum(stages.values())
    size = sum(len(d) for d in data)
    print(f"corpus per stage, one process ({len(files)} files, {size / 1e6:.1f} MB):")
    for name, seconds in stages.items():
        print(f"  {name:<12} {seconds:7.3f} s  {100 * seconds / total:5.1f} %")


PEAK = """
import resource, subprocess, sys, time
start = time.perf_counter()
proc = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
print(elapsed, peak, proc.returncode)
"""


def measure(args: list[str]) -> tuple[float, int]:
    """Wall time and peak resident memory of a command, alone in a fresh
    parent so that no other child's peak is counted."""
    out = subprocess.run([sys.executable, "-c", PEAK, *args], capture_output=True, text=True, check=True).stdout
    elapsed, peak, code = out.split()
    if int(code) not in (0, 1):
        raise SystemExit(f"{args}: exit {code}")
    return float(elapsed), int(peak)


def large_file(size_mb: int, rounds: int) -> None:
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "large.sql"
        block = gen.tsql(4 << 20)
        with open(path, "w", encoding="utf-8") as fh:
            for _ in range(max(1, (size_mb << 20) // len(block))):
                fh.write(block)
        size = path.stat().st_size
        baseline = [sys.executable, "-c", f"open({str(path)!r}, 'rb').read().decode('utf-8')"]
        command = [*COMMAND, str(path), "--format", "json", "--jobs", "1"]
        base_t, base_m, cmd_t, cmd_m = [], [], [], []
        for _ in range(rounds):
            t, m = measure(baseline)
            base_t.append(t)
            base_m.append(m)
            t, m = measure(command)
            cmd_t.append(t)
            cmd_m.append(m)
        bt, bm = statistics.median(base_t), statistics.median(base_m)
        ct, cm = statistics.median(cmd_t), statistics.median(cmd_m)
        print(f"one {size / 1e6:.0f} MB T-SQL file ({rounds} rounds, medians):")
        print(f"  read+decode only  {bt:7.2f} s  peak {bm / 1e6:7.0f} MB  ({bm / size:4.2f}x the file)")
        print(f"  quorvane analyze  {ct:7.2f} s  peak {cm / 1e6:7.0f} MB  ({cm / size:4.2f}x the file)")
        print(f"  ratio             x{ct / bt:6.1f} time, x{cm / bm:4.2f} memory vs read+decode")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--skip-large", action="store_true")
    parser.add_argument("--skip-corpus", action="store_true")
    args = parser.parse_args()
    if not args.skip_corpus:
        if CORPUS.is_dir():
            corpus_pools(args.rounds)
            corpus_stages()
        else:
            print(f"corpus not found at {CORPUS}; set QUORVANE_CORPUS")
    if not args.skip_large:
        large_file(args.size_mb, max(1, args.rounds - 1))


if __name__ == "__main__":
    main()
