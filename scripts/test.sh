#!/usr/bin/env bash
# Builds and installs the package, then runs every test: the C++ unit tests
# of the cores and the Python test suite (quick property-test profile).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-system.sh
python3 -m pip install --quiet --upgrade pip
python3 -m pip install --quiet ".[test,cli,mcp,spark]"

# C++ unit tests of the cores.
cmake -S . -B build/cpp-tests -DQUORVANE_BUILD_EXTENSIONS=OFF -DQUORVANE_BUILD_TESTS=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/cpp-tests --parallel >/dev/null
ctest --test-dir build/cpp-tests --output-on-failure

# A short run of every fuzzing harness (sanitizers on); scripts/fuzz.sh
# SECONDS runs them longer.
if [ "${QUORVANE_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz.sh --smoke
fi

# The Python suite runs against the installed package: the source tree's
# python/ directory is not on the path.
python3 -m pytest -q tests "$@"
