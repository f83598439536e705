"""A bad settings file stops ``quorvane analyze`` with status 2 and one line
naming the file and the key, whatever is wrong with it."""

from __future__ import annotations

import os
import subprocess
import sys

import pytest

DEEP = "x = " + "[" * 5000 + "]" * 5000 + "\n"
BAD = {
    "infinite.toml": ("[effort]\nlearning_hours = inf\n", "learning_hours"),
    "nan.toml": ("[effort]\nhours = { simple = nan }\n", "hours.simple"),
    "huge.toml": ("[effort]\ncopy_review_hours = " + "9" * 400 + "\n", "copy_review_hours"),
    "above.toml": ("[effort]\ncategory_learning_hours = { cursor = 2e6 }\n", "category_learning_hours.cursor"),
    "latin1.toml": ("[effort]\nlearning_hours = 1 # caf\xe9\n".encode("latin-1"), None),
    "deep.toml": (DEEP, None),
}


def analyze(cwd, *args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "agents.quorvane", "analyze", "a.sql", "--format", "json", *args],
                          cwd=cwd, capture_output=True, text=True, timeout=60)  # fmt: skip


@pytest.fixture
def work(tmp_path):
    (tmp_path / "a.sql").write_text("SELECT 1;\n")
    return tmp_path


@pytest.mark.parametrize("name", [*BAD, "/dev/zero", "fifo", "folder", "pyproject.toml"])
def test_every_bad_settings_file_is_one_line_and_status_2(work, name):
    key = None
    if name in BAD:
        content, key = BAD[name]
        (work / name).write_bytes(content if isinstance(content, bytes) else content.encode())
        proc = analyze(work, "--config", name)
    elif name == "fifo":
        os.mkfifo(work / name)
        proc = analyze(work, "--config", name)
    elif name == "folder":
        (work / name).mkdir()
        proc = analyze(work, "--config", name)
    elif name == "pyproject.toml":
        # The nearest one, read without --config.
        (work / name).write_bytes(b"[tool.quorvane.effort]\nlearning_hours = 1 # \xff\n")
        proc = analyze(work)
    else:
        proc = analyze(work, "--config", name)
    assert proc.returncode == 2 and proc.stdout == ""
    lines = proc.stderr.splitlines()
    assert len(lines) == 1 and name in lines[0], proc.stderr
    if key is not None:
        assert f"effort.{key} must be a number from 0 to 1000000" in lines[0]
