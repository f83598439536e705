#!/usr/bin/env bash
# Builds and installs the package, then runs every test: the C++ unit tests
# of the cores and the Python test suite (quick property-test profile).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-system.sh
python3 -m pip install --quiet --upgrade pip
python3 -m pip install --quiet ".[test]"

# C++ unit tests of the cores.
cmake -S . -B build/cpp-tests -DQUORVANE_BUILD_EXTENSIONS=OFF -DQUORVANE_BUILD_TESTS=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/cpp-tests --parallel >/dev/null
ctest --test-dir build/cpp-tests --output-on-failure

# The Python suite runs against the installed package, not the source tree.
cd tests
python3 -m pytest -q "$@"
