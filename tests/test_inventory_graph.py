"""The inventory's DOT graph: clusters by schema, the neighbourhood of
--focus, the labels; and the refusals of --focus and --depth."""

from __future__ import annotations

import re
import subprocess
import sys

import pytest
from generated_codebase import write_codebase

LONG = "s0.usp_load_the_nightly_warehouse_snapshot_Final"
GONE = "ext.a_table_that_nobody_defines_anywhere_Last"


def quorvane(cwd, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", "inventory", ".", *args],
        check=False,
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=120,
    )


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    root = tmp_path_factory.mktemp("dot")
    base = write_codebase(root, 40, 60)
    deep = root / ("a_long_folder_name_" * 4)
    deep.mkdir()
    (deep / "loader.sql").write_text(
        f"CREATE PROCEDURE {LONG} AS\nBEGIN\n  EXEC s1.p1;\n  SELECT id FROM {GONE};\nEND\nGO\n"
    )
    return root, base


def labels(dot: str) -> dict[str, str]:
    """Each node's key and the first line of its label."""
    return {
        key: label.split("\\n")[0]
        for key, label in re.findall(r'^\s*(\w+) \[label="((?:[^"\\]|\\.)*)"', dot, re.MULTILINE)
    }


def name(label: str) -> str:
    return label.removesuffix(" (missing)") if label.endswith(" (missing)") else label.split(" ", 1)[1]


def test_each_schema_is_a_cluster_of_its_own_nodes(tree):
    root, _ = tree
    dot = quorvane(root, "--format", "dot").stdout
    clusters = re.findall(r"subgraph (cluster_\d+) \{\n    label=\"([^\"]*)\";(.*?)\n  \}", dot, re.DOTALL)
    assert sorted(label for _, label, _ in clusters) == ["ext", "s0", "s1", "s2", "s3", "s4"]
    for _, schema, body in clusters:
        inside = labels(body).values()
        assert inside and all(name(label).startswith(schema + ".") for label in inside)
    outside = labels(re.sub(r"subgraph cluster_\d+ \{.*?\n  \}", "", dot, flags=re.DOTALL)).values()
    assert outside and all(label.startswith("batch procs_") for label in outside)


@pytest.mark.parametrize("hops", [0, 1, 2])
def test_focus_limits_the_graph_to_the_neighbourhood(tree, hops):
    root, base = tree
    dot = quorvane(root, "--format", "dot", "--focus", "s3.p13", "--depth", str(hops)).stdout
    assert {name(label) for label in labels(dot).values()} == base.around("s3.p13", hops)


def test_labels_are_shortened_in_the_middle_and_batches_named_by_file_and_line(tree):
    root, _ = tree
    dot = quorvane(root, "--format", "dot", "--focus", "s1.p1").stdout
    found = labels(dot).values()
    long = next(label for label in found if label.startswith("procedure s0.usp"))
    assert len(long) == 32 and long.endswith("snapshot_Final") and "\u2026" in long
    path = re.search(r'label="procedure s0\.usp[^"]*\\n([^"]*)"', dot).group(1)
    assert path.endswith("/loader.sql:1") and "\u2026" in path
    everything = labels(quorvane(root, "--format", "dot").stdout).values()
    gone = next(label for label in everything if label.startswith("ext.a_"))
    assert len(gone) == 32 and gone.endswith("_Last (missing)") and "\u2026" in gone
    batch = [label for label in everything if label.startswith("batch procs_0.sql:")]
    assert len(batch) == 1 and int(batch[0].rsplit(":", 1)[1]) > 1


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (("--format", "dot", "--focus", "dbo.NoSuchThing"), "dbo.NoSuchThing"),
        (("--format", "dot", "--depth", "2"), "--depth needs --focus"),
        (("--format", "csv", "--focus", "s1.p1"), "--focus limits"),
        (("--format", "dot", "--focus", "s1.p1", "--depth", "-1"), "must be 0 or more"),
    ],
)
def test_focus_and_depth_refusals_are_usage_errors(tree, args, message):
    proc = quorvane(tree[0], *args)
    assert proc.returncode == 2 and message in proc.stderr and proc.stdout == ""
