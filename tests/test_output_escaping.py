"""Names and paths from an untrusted code base in the command's CSV and
DOT output: a spreadsheet never runs a cell as a formula, and Graphviz
reads every graph."""

from __future__ import annotations

import csv
import io
import os
import shutil
import subprocess
import sys

import pytest

# File names and object names that start as a spreadsheet formula does.
FORMULA_FILES = {
    "=cmd.sql": "CREATE PROCEDURE [+p] AS EXEC [@q]\nGO\n",
    "-x.sql": "CREATE VIEW [=v] AS SELECT 1 AS a\nGO\n",
    "\tt.sql": "SELECT 1;\n",
    "plain.sql": "CREATE PROCEDURE dbo.p AS SELECT 1\nGO\n",
}
NEEDS_QUOTE = ("=", "+", "-", "@", "\t", "\r")


def quorvane(cwd, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "agents.quorvane", *args], cwd=cwd, capture_output=True,
                          text=True, timeout=120)  # fmt: skip


def csv_rows(text: str) -> list[dict[str, str]]:
    return list(csv.DictReader(io.StringIO(text)))


@pytest.mark.parametrize(
    "args, text_columns, number_columns",
    [(("analyze", ".", "--objects", "--format", "csv"), ("path", "object_name"), ("effective_lines", "start_line")),
     (("inventory", ".", "--format", "csv"), ("path", "name", "calls"), ("id", "start_line", "end_line"))],
)  # fmt: skip
def test_csv_cells_that_start_as_formulas_are_quoted(tmp_path, args, text_columns, number_columns):
    for name, text in FORMULA_FILES.items():
        (tmp_path / name).write_text(text)
    proc = quorvane(tmp_path, *args)
    assert proc.returncode == 0, proc.stderr
    rows = csv_rows(proc.stdout)
    cells = [row[c] for row in rows for c in text_columns if row[c]]
    assert not [c for c in cells if c.startswith(NEEDS_QUOTE)]
    quoted = {c[1:] for c in cells if c.startswith("'")}
    assert {"=cmd.sql", "-x.sql", "\tt.sql", "+p", "=v"} <= quoted
    assert "plain.sql" in cells and "'plain.sql" not in cells
    assert all(row[c].isdigit() for row in rows for c in number_columns if row[c])


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz's dot is not installed (scripts/setup-system.sh)")
def test_every_dot_graph_passes_graphviz(tmp_path):
    hostile = '\x00\x01\x1b[2J\n\r"\\N\x7f\u2028'
    (tmp_path / f"a{hostile[1:5]}.sql").write_text(
        f"CREATE PROCEDURE [p{hostile}q] AS EXEC dbo.missing{hostile[0]}\nGO\n"
        "CREATE PROCEDURE dbo.r AS EXEC [p" + hostile + "q]\nGO\n"
    )
    os.mkdir(tmp_path / "sub")
    (tmp_path / "sub" / os.fsdecode(b"\xff.sql")).write_text("CREATE VIEW v AS SELECT * FROM dbo.missing\nGO\n")
    proc = quorvane(tmp_path, "inventory", ".", "--format", "dot")
    assert proc.returncode == 0, proc.stderr
    assert "missing" in proc.stdout and "\x00" not in proc.stdout
    svg = subprocess.run(["dot", "-Tsvg"], input=proc.stdout.encode(), capture_output=True, timeout=60)
    assert svg.returncode == 0 and svg.stderr == b"", svg.stderr
    assert b"\\x1b[2J" in svg.stdout
