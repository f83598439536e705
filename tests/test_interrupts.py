"""Ctrl-C during ``quorvane analyze`` on the process pool, pressed while the
workers are sending results: the command ends with status 130 every time,
leaves no worker behind and writes nothing."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

EXAMPLE = Path(__file__).resolve().parents[1] / "examples" / "sql" / "warehouse_nightly_load.sql"


def _tree(folder: Path) -> Path:
    """Files whose results, with the page's source context, are far larger
    than a pipe holds, many enough for several seconds of work."""
    folder.mkdir()
    text = EXAMPLE.read_text(encoding="utf-8")
    source = folder / "base.sql"
    source.write_text(text * max(1, (200 << 10) // len(text)), encoding="utf-8")
    for i in range(150):
        os.link(source, folder / f"copy{i:03}.sql")
    return folder


def _group_gone(pgid: int) -> bool:
    for _ in range(50):
        try:
            os.killpg(pgid, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.02)
    return False


def test_ctrl_c_while_workers_send_results_always_ends_the_run(tmp_path):
    tree = _tree(tmp_path / "sql")
    out = tmp_path / "out"
    out.mkdir()
    outcomes = []
    for attempt in range(10):
        # As a terminal does: the signal goes to the whole process group.
        proc = subprocess.Popen(
            [sys.executable, "-m", "agents.quorvane", "analyze", str(tree), "--pool", "processes", "--jobs", "2",
             "--format", "json", "-o", str(out / "rows.json"), "--html", str(out / "page.html")],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True,
        )  # fmt: skip
        # Spread over the time when batches come back.
        time.sleep(1.5 + 0.15 * attempt)
        os.killpg(proc.pid, signal.SIGINT)
        try:
            _, err = proc.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            outcomes.append("hung")
            continue
        gone = _group_gone(proc.pid)
        outcomes.append((proc.returncode, "Traceback" in err, gone))
    assert outcomes == [(130, False, True)] * 10
    assert list(out.iterdir()) == []
