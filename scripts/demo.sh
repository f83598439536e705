#!/usr/bin/env bash
# Installs the package and runs the main job on the bundled example data.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-system.sh
python3 -m pip install --quiet .
python3 scripts/demo.py examples
