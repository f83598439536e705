"""Benchmarks of the object inventory, measured in one run:

    python3 bench/inventory.py [--quick]

- split_objects plus references over the corpus T-SQL, on one core, in MB/s
  (file sizes in bytes over the median CPU time of a pass), then over each
  platform's corpus files read as that platform's dialect; each against a
  baseline measured in the same run on the same texts (the standard
  library's ``re`` finding their words), as a ratio of times, so that runs
  on a loaded machine compare;
- references over the corpus data statements against sqlglot parsing the
  same statements (its T-SQL dialect): the ratio of their times;
- linear time on adversarial input (one long procedure, nested
  parentheses, many tiny objects): time per byte at growing sizes;
- ``quorvane inventory`` over the whole corpus, wall time.
"""

from __future__ import annotations

import argparse
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from corpus import CORPUS, corpus_files  # noqa: E402
from inventory_statements import statements  # noqa: E402

from agents.quorvane import inventory  # noqa: E402
from agents.quorvane.platforms import PLATFORMS  # noqa: E402


def median_time(fn, rounds: int, least: float = 0.0) -> float:
    """The median CPU time of a call of `fn` over `rounds` samples: on a
    machine others load, closer to the cost on one free core than wall
    time.  A sample repeats the call until it has taken `least` seconds (a
    pass over a small corpus lasts about a millisecond, where a single
    timing is mostly noise), after one call that warms the caches."""
    if least:
        fn()
    samples = []
    for _ in range(rounds):
        calls, start = 0, time.process_time()
        while True:
            fn()
            calls += 1
            spent = time.process_time() - start
            if spent >= least:
                break
        samples.append(spent / calls)
    return statistics.median(samples)


WORDS = re.compile(r"\w+")


def corpus_texts(platform: str) -> list[tuple[str, int]]:
    out = []
    for path in corpus_files():
        if path.relative_to(CORPUS).parts[0] == platform:
            data = path.read_bytes()
            out.append((data.decode("utf-8", errors="replace"), len(data)))
    return out


def corpus_tsql() -> list[tuple[str, int]]:
    return corpus_texts("sqlserver")


def throughput(texts: list[tuple[str, int]], rounds: int, platform: str | None = None) -> None:
    total = sum(n for _, n in texts)

    def one_pass() -> None:
        for text, _ in texts:
            inventory.split_objects(text, platform=platform)
            inventory.references(text, platform=platform)

    def baseline() -> None:
        for text, _ in texts:
            WORDS.findall(text)

    t = median_time(one_pass, rounds, 0.05)
    base = median_time(baseline, rounds, 0.05)
    label = "T-SQL" if platform is None else platform
    print(
        f"corpus {label}: {len(texts)} files, {total / 1e3:,.0f} KB; split_objects + references "
        f"{t * 1e3:.2f} ms = {total / t / 1e6:.0f} MB/s on one core (target 50); "
        f"re word scan {base * 1e3:.2f} ms (baseline), ratio {t / base:.2f}"
    )


def against_sqlglot(texts: list[tuple[str, int]], limit: int) -> None:
    import sqlglot

    stmts = [s for text, _ in texts for s in statements(text)][:limit]
    size = sum(len(s.encode("utf-8")) for s in stmts)

    def ours() -> None:
        for s in stmts:
            inventory.references(s)

    def theirs() -> None:
        for s in stmts:
            try:
                sqlglot.parse(s, read="tsql")
            except Exception:  # noqa: BLE001 - a parse error costs its time too
                pass

    mine = median_time(ours, 5)
    base = median_time(theirs, 1)
    print(
        f"{len(stmts)} statements, {size / 1e6:.2f} MB: sqlglot {base:.2f} s (baseline), references "
        f"{mine * 1e3:.1f} ms; {base / mine:.0f}x faster (target 100x)"
    )


ADVERSARIAL = {
    "one procedure": lambda n: (
        "CREATE PROCEDURE p AS\nBEGIN\n"
        + "  UPDATE a SET x = 1 FROM dbo.T a JOIN s ON 1=1 WHERE y IN (SELECT z FROM u);\n" * (n // 72)
        + "END\n"
    ),
    "nested parentheses": lambda n: "SELECT * FROM " + "(" * (n // 2) + ")" * (n // 2),
    "tiny objects": lambda n: "CREATE VIEW v AS SELECT 1\nGO\n" * (n // 28),
    "unclosed openers": lambda n: "/* [ ' \" $a$ " * (n // 14),
    # Read as the dialect named after the colon.
    "nested BEGIN and IF:postgresql": lambda n: (
        "CREATE PROCEDURE p() AS\n" + "IF x THEN BEGIN\n" * (n // 32) + "END; END IF;\n" * (n // 32)
    ),
    "comments nested 100,000 deep:sqlserver": lambda n: ("/* " * 100_000 + "x") * (n // 300_000) + " */" * 100_000,
    "unclosed nested comments:postgresql": lambda n: "/* /* */ SELECT 1 FROM t " * (n // 26),
    "one statement without ;:mysql": lambda n: "SELECT a FROM t WHERE b IN (1, 'x', \"y\") " * (n // 42),
    "guarded creates:sqlserver": lambda n: "IF 1=1 BEGIN CREATE TABLE t (a int) END\n" * (n // 40),
    "unclosed strings:bigquery": lambda n: "r\"\"\" ''' x \\ #\n" * (n // 16),
}


def linearity(sizes: list[int]) -> None:
    for label, make in ADVERSARIAL.items():
        name, _, platform = label.partition(":")
        per_byte = []
        for n in sizes:
            text = make(n)

            def both() -> None:
                inventory.split_objects(text, platform=platform or None)
                inventory.references(text, platform=platform or None)

            t = median_time(both, 3)
            per_byte.append(t / len(text) * 1e9)
        growth = per_byte[-1] / per_byte[0]
        cells = ", ".join(f"{s >> 20} MB {p:.1f} ns/B" for s, p in zip(sizes, per_byte))
        print(f"{name}: {cells}; per-byte ratio largest/smallest {growth:.2f} (linear: about 1)")


def graph(files: int) -> None:
    """The code-base graph over `files` files that each define a table and a
    view reading it: once with distinct table names (the baseline), once with
    every file defining the same table."""
    from agents.quorvane.assessment.dependencies import Unit, build_graph

    def units(same: bool) -> list[Unit]:
        out = []
        for n in range(files):
            table = "dbo.t" if same else f"dbo.t{n}"
            sql = f"CREATE TABLE {table} (a int)\nGO\nCREATE VIEW dbo.v{n} AS SELECT a FROM {table}\n"
            out.extend(Unit(f"f{n}.sql", o, "low") for o in inventory.split_objects(sql))
        return out

    distinct, same = units(False), units(True)
    base = median_time(lambda: build_graph(distinct), 3)
    dup = median_time(lambda: build_graph(same), 1)
    print(
        f"graph of {files} files: distinct names {base:.2f} s (baseline), one name {dup:.2f} s; "
        f"ratio {dup / base:.1f} (linear: about 1)"
    )


def command() -> None:
    start = time.perf_counter()
    done = subprocess.run(
        [sys.executable, "-m", "agents.quorvane", "inventory", str(CORPUS), "--format", "json"],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    wall = time.perf_counter() - start
    print(f"quorvane inventory {CORPUS}: {wall:.1f} s, exit {done.returncode}")


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    if not CORPUS.exists():
        sys.exit(f"no corpus at {CORPUS}")
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})  # one core
    texts = corpus_tsql()
    throughput(texts, 3 if args.quick else 7)
    for platform in PLATFORMS:
        throughput(corpus_texts(platform), 3 if args.quick else 5, platform)
    against_sqlglot(texts, 2000 if args.quick else 100_000)
    linearity([1 << 20, 10 << 20] if not args.quick else [1 << 20, 4 << 20])
    graph(600)
    command()


if __name__ == "__main__":
    main()
