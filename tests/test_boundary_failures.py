"""Failures at the boundary: running out of memory is the host's MemoryError
and leaves the process and the modules usable; legacy strings are read as
they hold.  Each memory scenario runs in a fresh interpreter, so an abort
shows as a signal."""

from __future__ import annotations

import importlib
import struct
import subprocess
import sys
import textwrap
import warnings
from pathlib import Path

import pytest

from agents.quorvane import complexity, loresift

COMMON = textwrap.dedent(
    """
    import collections, logging, os, resource, sys
    from pathlib import Path
    import structlog
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))
    from agents.quorvane import complexity, inventory, loresift

    def address_space():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")

    SOFT, HARD = resource.getrlimit(resource.RLIMIT_AS)

    def capped(margin, call):
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + margin, HARD))
        try:
            return call()
        finally:
            resource.setrlimit(resource.RLIMIT_AS, (SOFT, HARD))

    def sweep(call):
        # Takes all the memory there is, then gives it back a little at a
        # time, calling at each step: the call meets a failed allocation at
        # every point it allocates, until it has room.  The first call is
        # capped too, so that memory a first call sets aside is covered.
        outcomes = collections.Counter()
        got = None
        ballast = []
        headroom = 1 << 20
        resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, HARD))
        try:
            for size in (1 << 20, 1 << 16, 1 << 12, 1 << 8, 1 << 5):
                try:
                    while True:
                        ballast.append(bytearray(size))
                except MemoryError:
                    pass
            while True:
                try:
                    got = call()
                except MemoryError:
                    outcomes["MemoryError"] += 1
                else:
                    break
                freed = 0
                while ballast and freed < (4 << 10):
                    freed += len(ballast.pop()) + 64
                if not ballast:
                    # Freed small blocks may stay in the allocator's heap,
                    # out of reach of one large block: widen the cap itself.
                    headroom += 1 << 20
                    resource.setrlimit(resource.RLIMIT_AS, (address_space() + headroom, HARD))
        finally:
            ballast.clear()
            resource.setrlimit(resource.RLIMIT_AS, (SOFT, HARD))
        want = call()
        outcomes["same" if got == want else "different"] += 1
        assert call() == want
        return dict(outcomes)
    """
)


def run(code: str) -> str:
    proc = subprocess.run(
        [sys.executable, "-c", COMMON + textwrap.dedent(code)], capture_output=True, text=True, timeout=600
    )
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stderr[-3000:]}"
    return proc.stdout


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="address-space limits as on Linux")
class TestMemory:
    def test_a_huge_header_set_raises_memory_error(self):
        out = run(
            """
            headers = {"t" * 60_000_000}
            try:
                capped(200 << 20, lambda: loresift.extract_sections("## x\\nbody", headers))
            except MemoryError:
                print("MemoryError")
            del headers
            assert loresift.extract_sections("## x\\nbody", {"x"}) == "## x\\nbody"
            """
        )
        assert out.split() == ["MemoryError"]

    def test_many_categories_raise_memory_error_or_select(self):
        out = run(
            """
            categories = {f"c{i}" for i in range(2_000_000)} | {"cte"}
            want = loresift.select_knowledge({"cte"}, full_mapping="## CTE\\nx", full_gotchas="")
            for margin in (200 << 20, 16 << 20, 1 << 20, 0):
                try:
                    got = capped(margin, lambda: loresift.select_knowledge(
                        categories, full_mapping="## CTE\\nx", full_gotchas=""))
                except MemoryError:
                    print("MemoryError")
                else:
                    assert got == want
                    print("same")
            """
        )
        assert set(out.split()) <= {"MemoryError", "same"}

    @pytest.mark.parametrize(
        "call",
        [
            "complexity.plan_reading_strategy(PATH)",
            "complexity.plan_reading_text(TEXT)",
            "complexity.classify_sql(TEXT)",
            "complexity.classify_sql_file(PATH)",
            "loresift.detect_construct_categories(TEXT)",
            "loresift.select_knowledge(loresift.detect_construct_categories(TEXT) | {'cte', 'merge'}, **DOCS)",
            "loresift.select_knowledge_with_sizes({'cte', 'merge', 'window_function'}, **DOCS)",
            "loresift.extract_sections(DOCS['full_mapping'], {'merge', 'window'})",
            "complexity.plan_reading_text(TEXT).format_reading_instructions('a.sql')",
            "inventory.references(TEXT)",
        ],
    )
    def test_every_allocation_failure_is_memory_error(self, call, tmp_path, examples):
        path = tmp_path / "load.sql"
        lines = []
        for i in range(400):
            lines.append(f"SELECT {i}, ROW_NUMBER() OVER (ORDER BY a) FROM t WHERE a = 'x' -- note")
            if i % 50 == 49:
                lines.append("GO")
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        out = run(
            f"""
            PATH = Path({str(path)!r})
            TEXT = PATH.read_text(encoding="utf-8")
            KB = Path({str(examples / "kb")!r})
            DOCS = dict(full_mapping=(KB / "mapping.md").read_text(), full_gotchas=(KB / "gotchas.md").read_text())
            outcomes = sweep(lambda: {call})
            print(outcomes.get("different", 0), outcomes.get("same", 0))
            """
        )
        assert out.split() == ["0", "1"]


def thread_local_segments(path: str) -> int:
    """The PT_TLS program headers of a 64-bit ELF file."""
    data = Path(path).read_bytes()
    assert data[:4] == b"\x7fELF" and data[4] == 2
    order = "<" if data[5] == 1 else ">"
    (table,) = struct.unpack_from(order + "Q", data, 0x20)
    size, count = struct.unpack_from(order + "HH", data, 0x36)
    return sum(struct.unpack_from(order + "I", data, table + i * size)[0] == 7 for i in range(count))


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="ELF modules")
@pytest.mark.parametrize("name", ["_complexity", "_loresift", "_dialectra", "_inventory"])
def test_no_module_keeps_thread_local_data(name):
    # The C library makes a loaded module's thread-local block on a thread's
    # first access and ends the process when it cannot: per-thread scratch
    # must be allocated where a failure can be MemoryError.
    module = importlib.import_module(f"agents.quorvane.{name}")
    assert thread_local_segments(module.__file__) == 0


@pytest.fixture
def examples():
    from pathlib import Path

    return Path(__file__).resolve().parents[1] / "examples"


# --- Legacy strings --------------------------------------------------------


def legacy(text: str) -> str:
    """A string made by the old wide-character interface and filled in
    afterwards: not yet ready when it reaches the modules."""
    import ctypes

    api = ctypes.pythonapi
    api.PyUnicode_FromUnicode.restype = ctypes.py_object
    api.PyUnicode_FromUnicode.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t]
    api.PyUnicode_AsUnicode.restype = ctypes.c_void_p
    api.PyUnicode_AsUnicode.argtypes = [ctypes.py_object]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        s = api.PyUnicode_FromUnicode(None, len(text))
    buffer = (ctypes.c_wchar * len(text)).from_address(api.PyUnicode_AsUnicode(s))
    for i, ch in enumerate(text):
        buffer[i] = ch
    return s


needs_legacy = pytest.mark.skipif(sys.version_info >= (3, 12), reason="the legacy string interface is gone")


@needs_legacy
@pytest.mark.parametrize(
    "text", ["MERGE INTO t USING s ON 1=1", "WITH x AS (SELECT 1) SELECT é FROM x -- ☃", "\U0001f600 CURSOR"]
)
def test_legacy_strings_read_as_they_hold(text):
    assert complexity.classify_sql(legacy(text)) == complexity.classify_sql(text)
    assert loresift.detect_construct_categories(legacy(text)) == loresift.detect_construct_categories(text)
    assert complexity.plan_reading_text(legacy(text)) == complexity.plan_reading_text(text)
    doc = "## Merge\n" + text + "\n## Other\nx"
    assert loresift.extract_sections(legacy(doc), {legacy("merge")}) == loresift.extract_sections(doc, {"merge"})
    docs = dict(full_mapping=legacy(doc), full_gotchas=legacy(doc), full_limitations=legacy(text))
    assert loresift.select_knowledge({legacy("merge")}, **docs) == loresift.select_knowledge(
        {"merge"}, full_mapping=doc, full_gotchas=doc, full_limitations=text
    )


# --- Threads still scanning when the interpreter exits ----------------------

EXIT_DURING_SCAN = """
import threading, time
from agents.quorvane import complexity, inventory, loresift, platform_detect
text = "SELECT a, COUNT(*) FROM t GROUP BY a -- x\\n" * 400_000
def work():
    while True:
        complexity.classify_sql(text)
        complexity.locate_constructs(text)
        loresift.detect_construct_categories(text)
        loresift.locate_categories(text)
        inventory.split_objects(text)
        platform_detect.detect_platform(text)
for _ in range(3):
    threading.Thread(target=work, daemon=True).start()
time.sleep(0.3)
"""


def test_exit_while_threads_scan_never_aborts():
    # A thread that wakes up after the interpreter has finished must neither
    # abort the process nor release host references without the lock.
    for _ in range(5):
        proc = subprocess.run([sys.executable, "-c", EXIT_DURING_SCAN], capture_output=True, text=True, timeout=120)
        assert proc.returncode == 0, f"exit {proc.returncode}: {proc.stderr[-2000:]}"
