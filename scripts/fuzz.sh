#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, seeded from
# the shared SQL corpus.
#
#   scripts/fuzz.sh [SECONDS_PER_HARNESS]     (default 60)
#   scripts/fuzz.sh --smoke                   (a few seconds each, for CI)
#
# New inputs are kept in build/fuzz/work/<harness>; crashes are written to
# build/fuzz/crashes/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
if [ "${1:-}" = "--smoke" ]; then seconds=5; elif [ -n "${1:-}" ]; then seconds=$1; fi
corpus=${QUORVANE_CORPUS:-../shared/corpus}

if ! command -v clang++ >/dev/null; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang libclang-rt-dev >/dev/null 2>&1 ||
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
scripts/setup-system.sh

cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_BUILD_EXTENSIONS=OFF -DQUORVANE_BUILD_FUZZERS=ON >/dev/null
cmake --build build/fuzz --parallel >/dev/null

# Seeds: every corpus file up to 16 KB, as one-byte text, and a share of them
# as two- and four-byte text (the harness's first byte picks the width).
python3 - "$corpus" build/fuzz/seeds <<'PY'
import hashlib, pathlib, sys
corpus, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
out.mkdir(parents=True, exist_ok=True)
files = sorted(p for p in corpus.rglob("*") if p.is_file() and p.name != "MANIFEST.tsv") if corpus.is_dir() else []
for i, p in enumerate(files):
    data = p.read_bytes()[:16384]
    text = data.decode("utf-8", "replace")
    seeds = [b"\x00" + data]
    if i % 4 == 0:
        seeds.append(b"\x01" + text.encode("utf-16-le", "surrogatepass"))
    if i % 8 == 0:
        seeds.append(b"\x02" + text.encode("utf-32-le", "surrogatepass"))
    for s in seeds:
        (out / hashlib.sha1(s).hexdigest()).write_bytes(s)
PY

mkdir -p build/fuzz/crashes
status=0
for name in classify categories sections plan inventory markers; do
  mkdir -p "build/fuzz/work/$name"
  echo "== fuzz_$name for ${seconds}s"
  if ! "build/fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
       -artifact_prefix="build/fuzz/crashes/$name-" "build/fuzz/work/$name" build/fuzz/seeds \
       2>"build/fuzz/$name.log"; then
    status=1
    tail -n 30 "build/fuzz/$name.log"
  fi
  grep -E "^stat::(number_of_executed_units|peak_rss_mb)|cov: " "build/fuzz/$name.log" | tail -n 3
done
exit $status
