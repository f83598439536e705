"""Benchmarks of ``quorvane mcp``, measured in one run over stdio with the
SDK's own client:

    python3 bench/mcp_server.py [--quick]

- cold start: from starting the server process to the answer of its first
  ``tools/list``, against starting ``python -c pass`` in the same run;
- per tool, the first call and then the p50 and p95 latency of further
  calls, on a 1 MB T-SQL file (corpus SQL Server files joined) and on the
  corpus (a different file each call, and the corpus folder as a whole);
  a ``ping`` round trip is the baseline of the protocol itself.

Targets: cold start under 1.5 s; p95 under 200 ms per call on the 1 MB file
after the first call.
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
import warnings
from pathlib import Path

import anyio
from mcp import Client, StdioServerParameters

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from corpus import CORPUS, corpus_files  # noqa: E402
from mcp.shared.exceptions import MCPDeprecationWarning  # noqa: E402

# ping, the protocol's own round trip, is the baseline; newer protocol
# versions drop it, the handshake this benchmark uses keeps it.
warnings.filterwarnings("ignore", category=MCPDeprecationWarning)

KB = HERE.parent / "examples" / "kb"
ONE_MB = 1 << 20


def server(root: Path) -> StdioServerParameters:
    return StdioServerParameters(
        command=sys.executable, args=["-m", "agents.quorvane", "mcp", "--root", str(root), "--kb", str(KB)]
    )


def percentile(samples: list[float], share: float) -> float:
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, round(share * (len(ordered) - 1)))]


def one_megabyte_file(folder: Path) -> Path:
    """Corpus SQL Server files, smallest first, joined with GO lines up to 1 MB."""
    parts, size = [], 0
    for path in sorted((p for p in corpus_files() if "sqlserver" in p.parts), key=lambda p: p.stat().st_size):
        try:
            text = path.read_text(encoding="utf-8") + "\nGO\n"
        except UnicodeDecodeError:
            continue
        if size + len(text.encode()) > ONE_MB:
            break
        parts.append(text)
        size += len(text.encode())
    target = folder / "one_megabyte.sql"
    target.write_text("".join(parts), encoding="utf-8")
    return target


async def cold_start(root: Path, rounds: int) -> None:
    def python_start() -> float:
        start = time.perf_counter()
        subprocess.run([sys.executable, "-c", "pass"], check=True)
        return time.perf_counter() - start

    baseline = statistics.median(python_start() for _ in range(rounds))
    samples = []
    for _ in range(rounds):
        start = time.perf_counter()
        async with Client(server(root), mode="legacy") as client:
            await client.list_tools()
            samples.append(time.perf_counter() - start)
    cold = statistics.median(samples)
    print(
        f"cold start to the first tools/list: median {cold * 1000:.0f} ms over {rounds} starts "
        f"(python -c pass: {baseline * 1000:.0f} ms, {cold / baseline:.1f}x); target < 1500 ms"
    )


async def latencies(label: str, root: Path, calls: dict[str, list[dict]], rounds: int) -> None:
    print(f"\n{label}: per tool, first call, then p50 / p95 of {rounds} calls")
    async with Client(server(root), mode="legacy") as client:
        pings = []
        for _ in range(rounds):
            start = time.perf_counter()
            await client.send_ping()
            pings.append(time.perf_counter() - start)
        print(
            f"  {'ping (baseline)':<28} {'':>10} {statistics.median(pings) * 1000:8.1f} "
            f"{percentile(pings, 0.95) * 1000:8.1f} ms"
        )
        for name, argument_list in calls.items():
            tool = name.split(" ")[0]
            samples, first = [], None
            for i in range(rounds + 1):
                args = argument_list[i % len(argument_list)]
                start = time.perf_counter()
                result = await client.call_tool(tool, args)
                elapsed = time.perf_counter() - start
                if result.is_error:
                    raise SystemExit(f"{name} {args}: {result.content[0].text}")
                if first is None:
                    first = elapsed
                else:
                    samples.append(elapsed)
            p95 = percentile(samples, 0.95)
            print(f"  {name:<28} {first * 1000:8.1f} ms {statistics.median(samples) * 1000:8.1f} {p95 * 1000:8.1f} ms")


def file_calls(path: str, lines: int, rng: random.Random) -> dict[str, list[dict]]:
    starts = [rng.randrange(1, lines) for _ in range(50)]
    return {
        "assess": [{"path": path}],
        "assess objects": [{"path": path, "objects": True}],
        "inventory": [{"path": path}],
        "read_source": [{"path": path, "start_line": s, "end_line": s + 200} for s in starts],
        "reading_plan": [{"path": path}],
        "knowledge": [{"path": path}],
        "detect_platform": [{"path": path}],
    }


def corpus_calls(rng: random.Random) -> dict[str, list[dict]]:
    paths = [str(p.relative_to(CORPUS)) for p in corpus_files()]
    rng.shuffle(paths)
    return {
        "assess (each file)": [{"path": p} for p in paths],
        "assess (corpus, page 1)": [{"path": "."}],
        "inventory (corpus, page 1)": [{"path": "."}],
        "read_source (each file)": [{"path": p} for p in paths],
        "reading_plan (each file)": [{"path": p} for p in paths],
        "knowledge (each file)": [{"path": p} for p in paths],
        "detect_platform (each file)": [{"path": p} for p in paths],
    }


async def main(quick: bool) -> None:
    if not corpus_files():
        raise SystemExit(f"no corpus at {CORPUS}")
    rng = random.Random(23)
    rounds = 20 if quick else 100
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        big = one_megabyte_file(folder)
        lines = len(big.read_text(encoding="utf-8").splitlines())
        load = os.getloadavg()[0]
        print(f"machine: {os.cpu_count()} CPUs, load average {load:.1f} (a shared machine makes these noisy)")
        await cold_start(folder, 3 if quick else 10)
        await latencies(
            f"1 MB T-SQL file ({big.stat().st_size} bytes, {lines} lines)",
            folder,
            file_calls(big.name, lines, rng),
            rounds,
        )
    await latencies(f"corpus ({len(corpus_files())} files)", CORPUS, corpus_calls(rng), rounds)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds")
    anyio.run(main, parser.parse_args().quick)
