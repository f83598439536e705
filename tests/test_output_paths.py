"""Where a command's output goes, and how the names it prints are spelled:
an output path is written as what it is (a file replaced whole, a link
through to its target, a FIFO, a device or standard output directly), and
every name a command prints is escaped."""

from __future__ import annotations

import os
import select
import socket
import stat
import subprocess
import sys
from pathlib import Path

import pytest

SQL = "CREATE PROCEDURE dbo.p AS SELECT a FROM t;\nGO\n"
# A name that would clear the screen, set the window title and forge a line.
HOSTILE = "x\x1b[2J\x1b]0;t\x07\nquorvane: forged.sql"
COMMANDS = {
    "analyze -o": ["analyze", "a.sql", "--format", "json", "-o"],
    "analyze --html": ["analyze", "a.sql", "--html"],
    "inventory --html": ["inventory", "a.sql", "--html"],
}


def run(args: list[str], cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "agents.quorvane", *args], cwd=cwd, capture_output=True, text=True, timeout=300
    )


def read_fifo_while_running(args: list[str], cwd: Path, fifo: Path) -> tuple[int, bytes]:
    """Run the command writing to ``fifo`` while draining it."""
    fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    proc = subprocess.Popen(
        [sys.executable, "-m", "agents.quorvane", *args], cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    )
    chunks = []
    try:
        while True:
            select.select([fd], [], [], 0.1)
            try:
                chunk = os.read(fd, 1 << 16)
            except BlockingIOError:  # a writer, nothing written yet
                continue
            if chunk:
                chunks.append(chunk)
            elif proc.poll() is not None:
                break
    finally:
        os.close(fd)
    return proc.wait(timeout=300), b"".join(chunks)


@pytest.fixture
def tree(tmp_path: Path) -> Path:
    (tmp_path / "a.sql").write_text(SQL)
    return tmp_path


@pytest.mark.parametrize("command", COMMANDS)
@pytest.mark.parametrize("kind", ["link", "dangling link", "fifo", "character device", "stdout"])
def test_an_output_is_written_to_what_the_path_is(tree, command, kind):
    args = COMMANDS[command]
    out = tree / "out"
    if kind == "link":
        (tree / "target").write_text("old")
        out.symlink_to("target")
    elif kind == "dangling link":
        out.symlink_to("sub/target")
        (tree / "sub").mkdir()
    elif kind == "fifo":
        os.mkfifo(out)
        code, data = read_fifo_while_running([*args, str(out)], tree, out)
        assert code == 0 and stat.S_ISFIFO(out.lstat().st_mode)
        assert data.startswith(b"{" if command == "analyze -o" else b"<!DOCTYPE html>")
        return
    elif kind == "character device":
        os.mknod(out, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # the null device, in a folder of our own
    else:
        out.symlink_to("/proc/self/fd/1")  # the command's own standard output
    proc = run([*args, str(out)], tree)
    assert proc.returncode == 0, proc.stderr
    if kind in ("link", "dangling link"):
        assert out.is_symlink() and out.read_text(encoding="utf-8") != "old"
        assert out.resolve().stat().st_size > 100 and not list(tree.glob("**/.quorvane-*"))
    elif kind == "character device":
        assert stat.S_ISCHR(out.lstat().st_mode)
    else:
        assert out.is_symlink() and len(proc.stdout) > 100


def test_a_path_that_is_not_a_file_fifo_or_device_is_refused(tree):
    server = socket.socket(socket.AF_UNIX)
    try:
        server.bind(str(tree / "sock"))
        for args in COMMANDS.values():
            proc = run([*args, "sock"], tree)
            assert proc.returncode == 2 and "not a regular file" in proc.stderr and not proc.stdout
            assert stat.S_ISSOCK((tree / "sock").lstat().st_mode)
    finally:
        server.close()


def test_inventory_page_path_is_checked_before_any_work(tree):
    proc = run(["inventory", "a.sql", "missing.sql", "--html", "no/such/dir/page.html"], tree)
    assert proc.returncode == 2 and not proc.stdout
    assert proc.stderr.splitlines() == ["quorvane inventory: error: --html no/such/dir/page.html: no directory no/such/dir"]


@pytest.mark.parametrize(
    "args, stream",
    [
        (["inventory", HOSTILE, "--encoding", "ascii"], "stderr"),
        (["analyze", HOSTILE, "--encoding", "ascii"], "stderr"),
        (["inventory", "a.sql", "--html", HOSTILE], "stderr"),
        (["analyze", "a.sql", "--html", HOSTILE], "stderr"),
        (["plan", HOSTILE], "stdout"),
        (["knowledge", HOSTILE, "--kb", "kb"], "stdout"),
    ],
)
def test_every_printed_name_is_escaped(tree, args, stream):
    (tree / HOSTILE).write_bytes(b"SELECT 1 -- caf\xc3\xa9\n")  # not ASCII: fails with --encoding ascii
    (tree / "kb").mkdir()
    (tree / "kb" / "mapping.md").write_text("## Cursor Patterns\nloop\n")
    (tree / "kb" / "gotchas.md").write_text("")
    text = getattr(run(args, tree), stream)
    assert "\x1b" not in text and "\x07" not in text
    assert "\nquorvane: forged" not in text and "x\\x1b[2J\\x1b]0;t\\x07\\nquorvane: forged.sql" in text
