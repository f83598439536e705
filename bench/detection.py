"""Platform detection: the native scanner against the pure-Python model of the
test suite, measured in the same run (interleaved medians), and what it
changes for `quorvane analyze`.

    python3 bench/detection.py            # everything (a few minutes)
    python3 bench/detection.py --quick    # no 10 MB model run, fewer rounds

Reports:
  1. detect_platform against the model: 1 KB, 1 MB and 10 MB of realistic
     T-SQL (one-, two- and four-byte storage at 1 MB) and the whole corpus;
  2. near-miss inputs (a bounded gap's head on every line, its tail nowhere),
     1 MB and 10 MB: per-MB time against realistic T-SQL of the same size,
     and 10 MB against 1 MB;
  3. the cost of each stage of the analysis over the corpus, in process;
  4. `quorvane analyze CORPUS --jobs 1 --format json` end to end against the
     same command with the model detector, and --jobs 2 against --jobs 1.
"""

from __future__ import annotations

import argparse
import gc
import logging
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

import structlog  # noqa: E402

structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO), cache_logger_on_first_use=True)

import gen  # noqa: E402
import platform_model  # noqa: E402

from agents.quorvane import complexity, loresift, platform_detect  # noqa: E402

CORPUS = Path(os.environ.get("QUORVANE_CORPUS", HERE.parent.parent / "shared" / "corpus"))
MB = 1 << 20

# Run as `detection.py --analyze-with-model ARGS...`: the command, with the
# model detector patched in (a benchmark switch, not a production option).
_MODEL_SWITCH = "--analyze-with-model"


def best_of(fn, arg, rounds: int) -> float:
    samples = []
    for _ in range(rounds):
        gc.collect()
        start = time.perf_counter()
        fn(arg)
        samples.append(time.perf_counter() - start)
    return min(samples)


def timed(fn, arg) -> float:
    """One sample: enough calls to last about 20 ms, per call."""
    start = time.perf_counter()
    fn(arg)
    once = time.perf_counter() - start
    reps = max(1, min(2000, int(0.02 / max(once, 1e-7))))
    if reps == 1:
        return once
    start = time.perf_counter()
    for _ in range(reps):
        fn(arg)
    return (time.perf_counter() - start) / reps


def compare(base, ours, arg, rounds: int) -> tuple[float, float]:
    b, o = [], []
    for _ in range(rounds):
        gc.collect()
        b.append(timed(base, arg))
        o.append(timed(ours, arg))
    return statistics.median(b), statistics.median(o)


def corpus_texts() -> list[tuple[Path, str]]:
    manifest = CORPUS / "MANIFEST.tsv"
    if not manifest.is_file():
        return []
    import csv

    with manifest.open(newline="") as f:
        paths = [CORPUS / r["local_path"] for r in csv.DictReader(f, delimiter="\t")]
    return [(p, p.read_text(encoding="utf-8", errors="replace")) for p in paths]


def bench_against_model(quick: bool, texts: list[tuple[Path, str]]) -> dict[str, float]:
    print("\n## detect_platform against the model\n")
    print(f"| input | model ms | native ms | native MB/s | ratio |\n|---|---|---|---|---|")
    per_mb = {}
    cases = [
        ("1 KB T-SQL", gen.tsql(1 << 10), 7),
        ("1 MB T-SQL", gen.tsql(MB), 3),
        ("1 MB T-SQL, 2-byte", gen.tsql(MB, variant="bmp"), 3),
        ("1 MB T-SQL, 4-byte", gen.tsql(MB, variant="astral"), 3),
    ]
    if not quick:
        cases.append(("10 MB T-SQL", gen.tsql(10 * MB), 1))
    for label, text, rounds in cases:
        base, ours = compare(platform_model.detect_platform, platform_detect.detect_platform, text, rounds)
        mb = len(text) / MB
        per_mb[label] = ours / mb
        print(f"| {label} | {base * 1e3:.2f} | {ours * 1e3:.3f} | {mb / ours:.0f} | {base / ours:.0f}x |", flush=True)
    if quick:
        text = gen.tsql(10 * MB)
        ours = best_of(platform_detect.detect_platform, text, 3)
        per_mb["10 MB T-SQL"] = ours / 10
        print(f"| 10 MB T-SQL | (not run) | {ours * 1e3:.3f} | {10 / ours:.0f} | - |", flush=True)
    if texts:
        size = sum(len(t) for _, t in texts) / MB

        def model_all(_):
            for _, t in texts:
                platform_model.detect_platform(t)

        def native_all(_):
            for _, t in texts:
                platform_detect.detect_platform(t)

        base = best_of(model_all, None, 1)
        ours = best_of(native_all, None, 3)
        print(
            f"| corpus, {len(texts)} files, {size:.1f} MB | {base * 1e3:.0f} | {ours * 1e3:.1f} | "
            f"{size / ours:.0f} | {base / ours:.0f}x |",
            flush=True,
        )
    return per_mb


def bench_near_miss(per_mb_realistic: dict[str, float]) -> None:
    print("\n## near-miss inputs (native)\n")
    print("| input | size | ms | ms per MB | vs realistic T-SQL | 10 MB vs 1 MB per MB |\n|---|---|---|---|---|---|")
    for line in ("CREATE TABLE t (a int);\n", "OPTIMIZE t;\n", "COPY t FROM\n"):
        first = None
        for size_mb in (1, 10):
            text = line * (size_mb * MB // len(line))
            t = best_of(platform_detect.detect_platform, text, 3)
            per = t / (len(text) / MB)
            realistic = per_mb_realistic.get(f"{size_mb} MB T-SQL")
            scale = "" if first is None else f"{per / first:.2f}"
            first = per if first is None else first
            print(
                f"| `{line.strip()}` | {size_mb} MB | {t * 1e3:.2f} | {per * 1e3:.3f} | "
                f"{per / realistic:.2f} | {scale} |",
                flush=True,
            )


class _ReadText:
    def __init__(self, text: str):
        self.text = text

    def read_text(self, *, encoding: str) -> str:
        return self.text


def bench_stages(texts: list[tuple[Path, str]]) -> None:
    if not texts:
        return
    print("\n## the analysis of the corpus, stage by stage (in process, one thread, best of 3)\n")
    paths = [p for p, _ in texts]
    raw = [p.read_bytes() for p in paths]
    decoded = [b.decode("utf-8", errors="replace") for b in raw]

    def stage_read(_):
        for p in paths:
            p.read_bytes()

    def stage_decode(_):
        for b in raw:
            b.decode("utf-8", errors="replace")

    stages = [
        ("read", stage_read),
        ("decode", stage_decode),
        ("classify", lambda _: [complexity.classify_sql(t) for t in decoded]),
        ("categories", lambda _: [loresift.detect_construct_categories(t) for t in decoded]),
        ("plan", lambda _: [complexity.plan_reading_strategy(_ReadText(t)) for t in decoded]),
        ("platform", lambda _: [platform_detect.detect_platform(t) for t in decoded]),
    ]
    print("| stage | ms |\n|---|---|")
    for name, fn in stages:
        print(f"| {name} | {best_of(fn, None, 3) * 1e3:.1f} |", flush=True)


def run_command(args: list[str], model: bool) -> float:
    argv = [sys.executable, str(Path(__file__).resolve())]
    argv += [_MODEL_SWITCH] if model else ["--analyze"]
    argv += args
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode not in (0, 1):
        raise SystemExit(f"analyze failed ({done.returncode}): {done.stderr[-2000:]}")
    return elapsed, done.stdout


def bench_command(quick: bool) -> None:
    if not (CORPUS / "MANIFEST.tsv").is_file():
        return
    print("\n## quorvane analyze CORPUS --format json, end to end (best of runs)\n")
    args = ["analyze", str(CORPUS), "--format", "json"]
    native1 = min(run_command(args + ["--jobs", "1"], False)[0] for _ in range(3))
    native2 = min(run_command(args + ["--jobs", "2"], False)[0] for _ in range(3))
    model_t, model_out = run_command(args + ["--jobs", "1"], True)
    native_out = run_command(args + ["--jobs", "1"], False)[1]
    print("| command | s | ratio |\n|---|---|---|")
    print(f"| --jobs 1, model detector | {model_t:.2f} | 1 |")
    print(f"| --jobs 1 | {native1:.3f} | {model_t / native1:.1f}x faster |")
    print(f"| --jobs 2 | {native2:.3f} | {native1 / native2:.2f}x --jobs 1 |")
    print(f"\noutput identical with either detector: {model_out == native_out}")
    startup = min(run_command(["markers", "--platform", "hive"], False)[0] for _ in range(3))
    print(f"interpreter start and imports (quorvane markers): {startup:.3f} s")


def main() -> None:
    if len(sys.argv) > 1 and sys.argv[1] in (_MODEL_SWITCH, "--analyze"):
        from agents.quorvane import cli

        if sys.argv[1] == _MODEL_SWITCH:
            platform_detect.detect_platform = platform_model.detect_platform
        sys.exit(cli.main(sys.argv[2:]))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true")
    opts = parser.parse_args()
    texts = corpus_texts()
    per_mb = bench_against_model(opts.quick, texts)
    bench_near_miss(per_mb)
    bench_stages(texts)
    bench_command(opts.quick)


if __name__ == "__main__":
    main()
