#!/usr/bin/env bash
# Installs the package with its command-line extra and runs the main job:
# the assessment of the bundled example SQL code base.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-system.sh
python3 -m pip install --quiet ".[cli]"

# The installed console script, or the same command through the interpreter
# when pip's script directory is not on PATH.
quorvane() {
  if command -v quorvane >/dev/null 2>&1; then command quorvane "$@"; else python3 -m agents.quorvane "$@"; fi
}

quorvane analyze examples/sql
echo
echo "Reading plan for the longest script:"
quorvane plan examples/sql/warehouse_nightly_load.sql
echo
echo "Knowledge selected for a simple script (section titles and size report):"
quorvane knowledge examples/sql/tsql_simple_weekly_store_sales.sql --kb examples/kb |
  grep -E '^(Knowledge for|categories:|size:|## )'
