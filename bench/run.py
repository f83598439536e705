"""Benchmarks: the native modules against the plain Python model of the test
suite, measured in the same run, interleaved, medians.

    python3 bench/run.py            # everything (several minutes)
    python3 bench/run.py --quick    # smaller sizes, fewer rounds

Reports, per function and input: the median time of the model (baseline)
and of the native module, the native throughput and the ratio
baseline/native; then linear-time checks on adversarial inputs, thread
scaling over the corpus, and peak extra memory on 10 MB inputs.  Logging is
configured as a production host would: structlog filtering below INFO,
bound loggers cached on first use.
"""

from __future__ import annotations

import argparse
import csv
import gc
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

import logging  # noqa: E402

import structlog  # noqa: E402

# As a production host configures it: debug events filtered out, bound
# loggers cached on first use.
structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO), cache_logger_on_first_use=True)

import gen  # noqa: E402
import model  # noqa: E402

from agents.quorvane import complexity, loresift  # noqa: E402

CORPUS = Path(os.environ.get("QUORVANE_CORPUS", HERE.parent.parent / "shared" / "corpus"))
KB = HERE.parent / "examples" / "kb"

SIZES = {"1KB": 1 << 10, "30KB": 30 << 10, "1MB": 1 << 20, "10MB": 10 << 20}


def timed(fn, arg_fn) -> float:
    """One timing sample: enough calls to last about 20 ms, per call."""
    args = arg_fn()
    start = time.perf_counter()
    fn(*args)
    once = time.perf_counter() - start
    reps = max(1, min(1000, int(0.02 / max(once, 1e-7))))
    if reps == 1:
        return once
    start = time.perf_counter()
    for _ in range(reps):
        fn(*args)
    return (time.perf_counter() - start) / reps


def compare(base, ours, args, rounds: int) -> tuple[float, float]:
    """Medians of interleaved samples of the baseline and the native call."""
    b, o = [], []
    for _ in range(rounds):
        gc.collect()
        b.append(timed(base, lambda: args))
        o.append(timed(ours, lambda: args))
    return statistics.median(b), statistics.median(o)


def row(table: list, function: str, label: str, size_chars: int, base: float, ours: float) -> None:
    mb = size_chars / (1 << 20)
    table.append(
        (function, label, f"{base * 1e3:10.3f}", f"{ours * 1e3:10.4f}", f"{mb / ours:9.1f}", f"{base / ours:8.1f}x")
    )
    print(
        f"  {function:28} {label:16} base {base * 1e3:10.3f} ms  ours {ours * 1e3:10.4f} ms  "
        f"{mb / ours:9.1f} MB/s  {base / ours:8.1f}x",
        flush=True,
    )


def print_table(title: str, header: tuple, rows: list) -> None:
    print(f"\n### {title}\n")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for r in rows:
        print("| " + " | ".join(str(c).strip() for c in r) + " |")


# ---------------------------------------------------------------------------


def bench_generated(sizes: dict, rounds_for) -> list:
    print("generated inputs", flush=True)
    table = []
    categories = {"date_function", "window_function", "null_handling", "join", "aggregation", "query", "cte"}
    with tempfile.TemporaryDirectory() as tmp:
        for label, size in sizes.items():
            for variant in ("ascii", "bmp", "astral"):
                text = gen.tsql(size, variant=variant)
                rounds = rounds_for(size)
                tag = f"{label} {variant}"
                base, ours = compare(model.classify_sql, complexity.classify_sql, (text,), rounds)
                row(table, "classify_sql", tag, len(text), base, ours)
                base, ours = compare(
                    model.detect_construct_categories, loresift.detect_construct_categories, (text,), rounds
                )
                row(table, "detect_construct_categories", tag, len(text), base, ours)
                base, ours = compare(model.locate_constructs, complexity.locate_constructs, (text,), rounds)
                row(table, "locate_constructs", tag, len(text), base, ours)
                base, ours = compare(model.locate_categories, loresift.locate_categories, (text,), rounds)
                row(table, "locate_categories", tag, len(text), base, ours)
                path = Path(tmp) / f"{label}-{variant}.sql"
                path.write_text(text, encoding="utf-8")
                base, ours = compare(model.plan_reading_strategy, complexity.plan_reading_strategy, (path,), rounds)
                row(table, "plan_reading_strategy", tag, len(text), base, ours)
            mapping = gen.markdown(size)
            gotchas = gen.markdown(max(size // 5, 1024), gotchas=True)
            titles = set(gen._MAPPING_TITLES[::3])
            base, ours = compare(model.extract_sections, loresift.extract_sections, (mapping, titles), rounds_for(size))
            row(table, "extract_sections", label, len(mapping), base, ours)

            def select(impl):
                return lambda cats: impl.select_knowledge(
                    cats, full_mapping=mapping, full_gotchas=gotchas, full_limitations=""
                )

            base, ours = compare(select(model), select(loresift), (categories,), rounds_for(size))
            row(table, "select_knowledge", label, len(mapping) + len(gotchas), base, ours)
    return table


def corpus_files() -> list[tuple[str, Path]]:
    manifest = CORPUS / "MANIFEST.tsv"
    if not manifest.exists():
        return []
    with manifest.open(newline="") as f:
        return [(r["platform"], CORPUS / r["local_path"]) for r in csv.DictReader(f, delimiter="\t")]


def bench_corpus(rounds: int) -> list:
    files = corpus_files()
    if not files:
        print("corpus not found: skipped")
        return []
    texts, paths = [], []
    for _, p in files:
        try:
            texts.append(p.read_text(encoding="utf-8"))
            paths.append(p)
        except UnicodeDecodeError:
            pass
    chars = sum(map(len, texts))
    print(f"corpus: {len(texts)} files, {chars / 1e6:.1f} M characters", flush=True)
    table = []
    native = {
        "classify_sql": complexity,
        "detect_construct_categories": loresift,
        "plan_reading_strategy": complexity,
        "locate_constructs": complexity,
        "locate_categories": loresift,
    }
    for name, arg in (
        ("classify_sql", texts),
        ("detect_construct_categories", texts),
        ("plan_reading_strategy", paths),
        ("locate_constructs", texts),
        ("locate_categories", texts),
    ):

        def run(impl, name=name, arg=arg):
            fn = getattr(impl, name)
            for a in arg:
                fn(a)

        b, o = [], []
        for _ in range(rounds):
            start = time.perf_counter()
            run(model)
            b.append(time.perf_counter() - start)
            start = time.perf_counter()
            run(native[name])
            o.append(time.perf_counter() - start)
        row(table, name, "whole corpus", chars, statistics.median(b), statistics.median(o))
    return table


def bench_adversarial(small: int, large: int) -> list:
    print("adversarial inputs (native only)", flush=True)
    table = []
    for kind in gen.ADVERSARIAL_KINDS:
        for name, fn in (
            ("classify_sql", complexity.classify_sql),
            ("detect_construct_categories", loresift.detect_construct_categories),
            ("locate_constructs", complexity.locate_constructs),
            ("locate_categories", loresift.locate_categories),
        ):
            per_mb = []
            for size in (small, large):
                text = gen.adversarial(kind, size)
                # The least disturbed of several samples: a linearity check
                # must not trip over a neighbour's burst of work.
                t = min(timed(fn, lambda: (text,)) for _ in range(5))
                per_mb.append(t / (size / (1 << 20)))
            growth = per_mb[1] / per_mb[0]
            table.append(
                (
                    name,
                    kind,
                    f"{per_mb[0] * 1e3:.3f}",
                    f"{per_mb[1] * 1e3:.3f}",
                    f"{growth:.2f}",
                    "ok" if growth <= 2 else "SUPERLINEAR",
                )
            )
            print(
                f"  {name:28} {kind:22} {per_mb[0] * 1e3:8.3f} ms/MB -> {per_mb[1] * 1e3:8.3f} ms/MB ({growth:.2f})",
                flush=True,
            )
    return table


def bench_threads() -> list:
    """A batch of corpus files shared out between 1 and 2 threads, each
    looping over its share (no executor queue between calls)."""
    texts = []
    for _, p in corpus_files():
        try:
            texts.append(p.read_text(encoding="utf-8"))
        except UnicodeDecodeError:
            pass
    if not texts:
        return []
    batch = texts * 4

    def run_batch(fn, threads: int) -> float:
        shares = [batch[i::threads] for i in range(threads)]
        workers = [threading.Thread(target=lambda share=share: [fn(t) for t in share]) for share in shares]
        start = time.perf_counter()
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        return time.perf_counter() - start

    results = []
    for name, fn in (
        ("classify_sql", complexity.classify_sql),
        ("detect_construct_categories", loresift.detect_construct_categories),
    ):
        samples: dict[int, list[float]] = {1: [], 2: []}
        for _ in range(7):
            for threads in (1, 2):
                samples[threads].append(run_batch(fn, threads))
        one, two = statistics.median(samples[1]), statistics.median(samples[2])
        results.append((name, f"{one:.3f}", f"{two:.3f}", f"{one / two:.2f}x"))
        print(f"  {name:28} 1 thread {one:.3f} s, 2 threads {two:.3f} s: {one / two:.2f}x", flush=True)
    return results


_MEMORY_PROBE = r"""
import logging, sys, tempfile
from pathlib import Path
import structlog
structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO),
                    cache_logger_on_first_use=True)
sys.path.insert(0, {bench!r})
import gen
from agents.quorvane import complexity, loresift
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) * 1024
text = gen.tsql({size}, variant={variant!r})
doc = gen.markdown({size})
path = Path(tempfile.mkdtemp()) / "f.sql"
path.write_text(text, encoding="utf-8")
calls = {{
    "classify_sql": lambda: complexity.classify_sql(text),
    "detect_construct_categories": lambda: loresift.detect_construct_categories(text),
    "plan_reading_strategy": lambda: complexity.plan_reading_strategy(path),
    "extract_sections": lambda: loresift.extract_sections(doc, {{"Joins", "Date Functions"}}),
    "locate_constructs": lambda: complexity.locate_constructs(text),
    "locate_categories": lambda: loresift.locate_categories(text),
}}
fn = calls[{name!r}]
open("/proc/self/clear_refs", "w").write("5")  # reset the peak
before = status("VmRSS:")
fn()
print(status("VmHWM:") - before)
"""


def bench_memory(size: int) -> list:
    if not Path("/proc/self/clear_refs").exists():
        return []
    rows = []
    for name in (
        "classify_sql",
        "detect_construct_categories",
        "plan_reading_strategy",
        "extract_sections",
        "locate_constructs",
        "locate_categories",
    ):
        for variant in ("ascii", "astral"):
            code = _MEMORY_PROBE.format(bench=str(HERE), size=size, variant=variant, name=name)
            # A fixed mmap threshold: every large buffer is mapped when
            # allocated and unmapped when freed, so resident memory shows
            # what a call really holds at its peak.
            env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="131072")
            out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, env=env)
            extra = int(out.stdout.strip())
            input_bytes = size if variant == "ascii" else 4 * size
            ratio = extra / input_bytes
            rows.append((name, variant, f"{input_bytes / 1e6:.1f}", f"{extra / 1e6:.1f}", f"{ratio:.2f}"))
            print(
                f"  {name:28} {variant:7} input {input_bytes / 1e6:6.1f} MB, peak extra {extra / 1e6:6.1f} MB "
                f"({ratio:.2f}x)",
                flush=True,
            )
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="1 KB to 1 MB only, fewer rounds")
    parser.add_argument(
        "--skip", nargs="*", default=[], choices=["generated", "corpus", "adversarial", "threads", "memory"]
    )
    args = parser.parse_args()

    print(
        f"machine: {platform.machine()}, {os.cpu_count()} cores, {platform.processor() or platform.platform()}; "
        f"Python {platform.python_version()}"
    )
    sizes = dict(SIZES)
    if args.quick:
        del sizes["10MB"]

    def rounds_for(size: int) -> int:
        if args.quick:
            return 3
        return 9 if size <= (30 << 10) else (5 if size <= (1 << 20) else 3)

    header = ("function", "input", "baseline ms", "native ms", "native MB/s", "ratio")
    if "generated" not in args.skip:
        print_table("Generated inputs", header, bench_generated(sizes, rounds_for))
    if "corpus" not in args.skip:
        print_table("Corpus", header, bench_corpus(1 if args.quick else 3))
    if "adversarial" not in args.skip:
        small, large = (1 << 20, 4 << 20) if args.quick else (1 << 20, 10 << 20)
        print_table(
            "Adversarial inputs: time per MB",
            ("function", "input", "small ms/MB", "large ms/MB", "growth", "linear"),
            bench_adversarial(small, large),
        )
    if "threads" not in args.skip:
        print_table("Threads over the corpus", ("function", "1 thread s", "2 threads s", "speed-up"), bench_threads())
    if "memory" not in args.skip:
        print_table(
            "Peak extra memory",
            ("function", "variant", "input MB", "extra MB", "extra/input"),
            bench_memory((1 << 20) if args.quick else (10 << 20)),
        )


if __name__ == "__main__":
    main()
