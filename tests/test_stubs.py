"""The type stubs describe the modules as they are at run time (mypy's
stubtest compares every stub with the imported module)."""

from __future__ import annotations

import subprocess
import sys

import pytest

MODULES = [
    "agents.quorvane.complexity",
    "agents.quorvane.loresift",
    "agents.quorvane.dialectra",
    "agents.quorvane.inventory",
]


def test_stubs_match_the_modules():
    pytest.importorskip("mypy.stubtest", reason="mypy is in the test extra")
    proc = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", *MODULES],
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode == 0, proc.stdout[-4000:] + proc.stderr[-2000:]
