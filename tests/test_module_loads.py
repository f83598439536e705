"""Module loads as the host's own modules behave: one module object per
interpreter and per import, each with its own tables and logger, reload,
sub-interpreters in every order, and a failed load that can be retried.

Every scenario runs in a fresh interpreter, so a crash shows as a signal
rather than taking the test run with it.
"""

from __future__ import annotations

import itertools
import subprocess
import sys
import textwrap

import pytest

# Uses every module of the package and checks the results; a sub-interpreter
# runs the same text.
USE = textwrap.dedent(
    """
    import agents.quorvane.complexity as c, agents.quorvane.loresift as l, agents.quorvane.dialectra as d
    assert c.classify_sql("MERGE INTO t USING s ON 1=1").complexity == c.SQLComplexity("complex")
    assert c.plan_reading_text("SELECT 1\\n" * 600).should_chunk
    assert "cte" in l.detect_construct_categories("WITH a AS (SELECT 1) SELECT * FROM a")
    assert l.select_knowledge({"cte"}, full_mapping="## CTE\\nx", full_gotchas="")["mapping"] == "## CTE\\nx"
    assert len(d.PLATFORM_MARKERS) == 133
    import agents.quorvane.inventory as inv
    assert [o.name for o in inv.split_objects("CREATE VIEW v AS SELECT * FROM t\\nGO\\n")] == ["v"]
    """
)

PRELUDE = (
    textwrap.dedent(
        """
    import logging, structlog
    structlog.configure(wrapper_class=structlog.make_filtering_bound_logger(logging.INFO))
    """
    )
    + f"USE = {USE!r}\n"
)


def run(code: str) -> subprocess.CompletedProcess:
    proc = subprocess.run(
        [sys.executable, "-c", PRELUDE + textwrap.dedent(code)], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stderr[-3000:]}"
    return proc


# --- Sub-interpreters ------------------------------------------------------

# Steps: "i" the main interpreter imports, "u" it uses the modules, "s" a new
# sub-interpreter imports and uses them, "S" one that only imports, "d" the
# oldest live sub-interpreter is destroyed.
SUB_STEP = {
    "i": "import agents.quorvane.complexity, agents.quorvane.loresift, agents.quorvane.dialectra, "
    "agents.quorvane.inventory\n",
    "u": "exec(USE)\n",
    "s": "subs.append(si.create()); si.run_string(subs[-1], PRELUDE + USE)\n",
    "S": "subs.append(si.create()); si.run_string(subs[-1], 'import agents.quorvane.complexity, "
    "agents.quorvane.loresift, agents.quorvane.dialectra, agents.quorvane.inventory')\n",
    "d": "si.destroy(subs.pop(0))\n",
}


def valid(order: str) -> bool:
    live = 0
    for step in order:
        live += step in "sS"
        if step == "d":
            if not live:
                return False
            live -= 1
    return True


ORDERS = sorted(
    {"".join(p) for p in itertools.permutations("iusd") if valid("".join(p))}
    | {"Sd", "Sdiu", "iSdu", "iSud", "isSddu", "sSdud", "iusdsdu", "ssddiu", "is", "S", "sS"}
)


@pytest.mark.parametrize("order", ORDERS)
def test_sub_interpreters_in_any_order_never_crash(order):
    script = f"import _xxsubinterpreters as si\nPRELUDE = {PRELUDE!r}\nsubs = []\n"
    script += "".join(SUB_STEP[step] for step in order)
    # Then: every sub-interpreter destroyed, and the main one still works.
    script += "for sid in subs: si.destroy(sid)\n"
    script += "exec(USE)\nassert c.SQLComplexity('moderate') == 'moderate'\n"
    run(script)


def test_each_interpreter_has_its_own_module_objects():
    proc = run(
        """
        import _xxsubinterpreters as si, os
        import agents.quorvane.complexity as c
        r, w = os.pipe()
        sid = si.create()
        si.run_string(sid, "import os, agents.quorvane.complexity as c; os.write(%d, str(id(c.ComplexityResult)).encode())" % w)
        other = int(os.read(r, 100))
        si.destroy(sid)
        print(other != id(c.ComplexityResult))
        """
    )
    assert proc.stdout.strip() == "True"


# --- Fresh imports and reload ---------------------------------------------


def test_fresh_import_gets_its_own_logger_and_tables():
    proc = run(
        """
        import sys, importlib
        import agents.quorvane.complexity as old
        del sys.modules["agents.quorvane.complexity"]
        new = importlib.import_module("agents.quorvane.complexity")
        assert new is not old and new._COMPLEX_PATTERNS is not old._COMPLEX_PATTERNS
        seen = []
        class Logger:
            def debug(self, event, **fields):
                seen.append(event)
        new.logger = Logger()
        new.classify_sql("x")
        assert seen == ["sql_classified"], seen
        old.classify_sql("x")           # the old module keeps its own logger
        assert seen == ["sql_classified"], seen
        assert repr(new.classify_sql("x")) == repr(old.classify_sql("x"))
        assert type(new.classify_sql("x")) is not type(old.classify_sql("x"))
        print("ok")
        """
    )
    assert proc.stdout.strip() == "ok"


@pytest.mark.parametrize(
    ("module", "table"),
    [
        ("complexity", "_COMPLEX_PATTERNS"),
        ("loresift", "_CATEGORY_PATTERNS"),
        ("dialectra", "PLATFORM_MARKERS"),
        ("inventory", "split_objects"),
    ],
)
def test_reload_runs_the_load_again(module, table):
    proc = run(
        f"""
        import importlib, structlog
        import agents.quorvane.{module} as m
        before = m.{table}
        assert importlib.reload(m) is m
        assert m.{table} is not before
        assert m.{table} == before or callable(before)
        exec(USE)
        print("ok")
        """
    )
    assert proc.stdout.strip() == "ok"


def test_reload_gives_back_the_default_logger_and_new_functions():
    run(
        """
        import importlib, structlog
        import agents.quorvane.complexity as c, agents.quorvane.loresift as l
        classify, select = c.classify_sql, l.select_knowledge
        c.logger = l.logger = None
        importlib.reload(c), importlib.reload(l)
        assert type(c.logger) is type(structlog.get_logger()) and type(l.logger) is type(structlog.get_logger())
        assert c.classify_sql is not classify and l.select_knowledge is not select
        # Functions of the earlier load still work, with the module's globals.
        assert repr(classify("x")) == repr(c.classify_sql("x"))
        """
    )


def test_records_pickle_by_their_names_after_a_reload():
    run(
        """
        import importlib, pickle
        import agents.quorvane.complexity as c
        importlib.reload(c)
        r = c.classify_sql("SELECT 1")
        assert pickle.loads(pickle.dumps(r)) == r
        s = c.plan_reading_text("x\\n" * 700)
        assert pickle.loads(pickle.dumps(s)) == s
        """
    )


# --- Failed loads ----------------------------------------------------------


@pytest.mark.parametrize("blocked", ["dataclasses", "structlog", "agents.quorvane._records", "re"])
@pytest.mark.parametrize("module", ["complexity", "loresift", "dialectra", "inventory"])
def test_a_failed_first_load_can_be_retried(module, blocked):
    proc = run(
        f"""
        import sys
        saved = sys.modules.pop({blocked!r}, None)
        sys.modules[{blocked!r}] = None
        try:
            import agents.quorvane.{module}
        except ImportError as exc:
            print("failed")
        else:
            print("loaded")
        del sys.modules[{blocked!r}]
        if saved is not None:
            sys.modules[{blocked!r}] = saved
        import agents.quorvane.{module} as m
        exec(USE)
        """
    )
    # A module the load does not need may stay blocked without harm.
    assert proc.stdout.split()[0] in ("failed", "loaded")
    if module == "complexity" and blocked in ("dataclasses", "agents.quorvane._records"):
        assert proc.stdout.split()[0] == "failed"


def test_a_deleted_logger_is_a_name_error():
    run(
        """
        import agents.quorvane.complexity as c, agents.quorvane.loresift as l
        del c.logger
        del l.logger
        for call in (lambda: c.classify_sql("x"), lambda: c.plan_reading_text("x\\n" * 600),
                     lambda: l.select_knowledge(set(), full_mapping="", full_gotchas="")):
            try:
                call()
            except NameError as exc:
                assert str(exc) == "name 'logger' is not defined", exc
            else:
                raise AssertionError("no NameError")
        # Nothing is emitted for a plan that is not split, so no logger is needed.
        assert not c.plan_reading_text("x").should_chunk
        """
    )
