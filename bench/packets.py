"""Benchmarks of the work packets, measured in one run:

    python3 bench/packets.py [--quick]

- ``quorvane packets`` against ``quorvane inventory`` over the whole corpus:
  CPU time of each command (user + system, median of the rounds), and
  their ratio (the packets should cost at most twice the inventory);
- split_objects over the corpus T-SQL on one core, in MB/s, now that it
  also reads what objects define (it should stay at 50 MB/s or more);
- the packets' sizes without knowledge text: the median ratio of a packet's
  tokens to its source's tokens over objects whose source holds 1,000
  tokens or more (at most 1.5), and the share of packets within the
  default budget (at least 99%).
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from agents.quorvane import inventory, packets
from agents.quorvane.tokens import estimate_tokens
from corpus import CORPUS, corpus_files


def command_cpu(args: list[str], out: str) -> float:
    """CPU seconds of one run of the command (its children's usage)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(out, "wb") as fh:
        subprocess.run([sys.executable, "-m", "agents.quorvane", *args], stdout=fh, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def commands(rounds: int, folder: str) -> str:
    inv, pk = [], []
    for _ in range(rounds):  # interleaved, so that both see the same load
        inv.append(command_cpu(["inventory", str(CORPUS)], os.path.join(folder, "inventory.json")))
        pk.append(command_cpu(["packets", str(CORPUS), "-o", os.path.join(folder, "packets.jsonl")], os.devnull))
    a, b = statistics.median(inv), statistics.median(pk)
    print(f"quorvane inventory: {a:.2f} s CPU; quorvane packets: {b:.2f} s CPU; ratio {b / a:.2f} (target <= 2)")
    return os.path.join(folder, "packets.jsonl")


def split_throughput(rounds: int) -> None:
    texts = [p.read_bytes() for p in corpus_files() if p.relative_to(CORPUS).parts[0] == "sqlserver"]
    decoded = [t.decode("utf-8", errors="replace") for t in texts]
    total = sum(map(len, texts))
    samples = []
    for _ in range(rounds):
        start = time.process_time()
        for text in decoded:
            inventory.split_objects(text, platform="sqlserver")
        samples.append(time.process_time() - start)
    print(f"split_objects on the corpus T-SQL: {total / statistics.median(samples) / 1e6:.1f} MB/s (target >= 50)")


def sizes(jsonl: str) -> None:
    ratios, within, count = [], 0, 0
    with open(jsonl, encoding="utf-8") as fh:
        for line in fh:
            p = json.loads(line)
            count += 1
            within += p["tokens"] <= packets.DEFAULT_BUDGET
            source = estimate_tokens(p["source"])
            if p["parts"] == 1 and source >= 1000:
                ratios.append(p["tokens"] / source)
    print(f"packets within the default budget: {within}/{count} ({within / count:.2%}; target >= 99%)")
    print(f"median packet/source tokens, sources of 1,000 tokens or more: {statistics.median(ratios):.2f} "
          f"over {len(ratios)} packets (target <= 1.5)")  # fmt: skip


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one round each")
    rounds = 1 if parser.parse_args().quick else 3
    if not corpus_files():
        sys.exit("the shared corpus is not present")
    with tempfile.TemporaryDirectory() as folder:
        jsonl = commands(rounds, folder)
        split_throughput(rounds)
        sizes(jsonl)


if __name__ == "__main__":
    main()
