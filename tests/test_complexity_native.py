"""The complexity module as a Python caller sees it: argument checks with the
host's messages, records, the enumeration, published tables and events."""

from __future__ import annotations

import copy
import dataclasses
import pickle
import re
import subprocess
import sys
from pathlib import Path

import pytest
import structlog
from structlog.testing import capture_logs

from agents.quorvane import complexity as cx
from messages import type_message


class Text(str):
    pass


# ---------------------------------------------------------------------------
# Argument checks


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: cx.classify_sql(), "classify_sql() takes exactly 1 positional argument (0 given)"),
        (lambda: cx.classify_sql("a", "b"), "classify_sql() takes exactly 1 positional argument (2 given)"),
        # A missing argument is reported before a keyword problem.
        (lambda: cx.classify_sql(x="a"), "classify_sql() takes exactly 1 positional argument (0 given)"),
        (lambda: cx.classify_sql("a", x=1), "classify_sql() got an unexpected keyword argument 'x'"),
        (
            lambda: cx.classify_sql("a", sql_content="b"),
            "classify_sql() got multiple values for keyword argument 'sql_content'",
        ),
        (lambda: cx.classify_sql(None), type_message("sql_content", "str", "NoneType")),
        (lambda: cx.classify_sql(b"SELECT"), type_message("sql_content", "str", "bytes")),
        (lambda: cx.classify_sql(sql_content=3), type_message("sql_content", "str", "int")),
        (lambda: cx.classify_sql(Text("x")), type_message("sql_content", "str", "Text", subclass=True)),
        (lambda: cx.classify_sql_file(), "classify_sql_file() takes exactly 1 positional argument (0 given)"),
        (
            lambda: cx.classify_sql_file("a", sql_path="b"),
            "classify_sql_file() got multiple values for keyword argument 'sql_path'",
        ),
        (lambda: cx.plan_reading_strategy(), "plan_reading_strategy() takes exactly 1 positional argument (0 given)"),
        (
            lambda: cx.plan_reading_strategy(Path("a"), Path("b")),
            "plan_reading_strategy() takes exactly 1 positional argument (2 given)",
        ),
        (
            lambda: cx.plan_reading_strategy(path="a"),
            "plan_reading_strategy() takes exactly 1 positional argument (0 given)",
        ),
        (
            lambda: cx.plan_reading_strategy("a", path="a"),
            "plan_reading_strategy() got an unexpected keyword argument 'path'",
        ),
        (lambda: cx.classify_sql_file(bogus=1), "classify_sql_file() takes exactly 1 positional argument (0 given)"),
    ],
)
def test_argument_errors_use_the_hosts_messages(call, message):
    with capture_logs() as logs:
        with pytest.raises(TypeError) as info:
            call()
    assert str(info.value) == message
    assert logs == []


PLAN = cx.FileReadingStrategy(False, 3, 3, ())


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: PLAN.format_reading_instructions(), "takes exactly 2 positional arguments (1 given)"),
        (lambda: PLAN.format_reading_instructions("a", "b"), "takes exactly 2 positional arguments (3 given)"),
        (
            lambda: cx.FileReadingStrategy.format_reading_instructions(),
            "takes exactly 2 positional arguments (0 given)",
        ),
        (lambda: PLAN.format_reading_instructions(path="a"), "takes exactly 2 positional arguments (1 given)"),
        (lambda: PLAN.format_reading_instructions("a", path="a"), "got an unexpected keyword argument 'path'"),
        (
            lambda: PLAN.format_reading_instructions("a", sql_path="b"),
            "got multiple values for keyword argument 'sql_path'",
        ),
    ],
)
def test_format_reading_instructions_counts_self(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == f"format_reading_instructions() {message}"


@pytest.mark.parametrize(
    ("value", "got", "subclass"),
    [(None, "NoneType", False), (Path("a.sql"), "PosixPath", False), (Text("a"), "Text", True)],
)
def test_format_reading_instructions_tests_the_path_type_first(value, got, subclass):
    broken = cx.FileReadingStrategy(True, 900, 150, ((1, 2),))  # would fail to unpack
    with pytest.raises(TypeError) as info:
        broken.format_reading_instructions(value)
    assert str(info.value) == type_message("sql_path", "str", got, subclass)


def test_unbound_method_works_on_any_record():
    assert cx.FileReadingStrategy.format_reading_instructions(PLAN, sql_path="p.sql") == (
        "Read the complete SQL file at `p.sql` using the Read tool."
    )


# ---------------------------------------------------------------------------
# Records


@dataclasses.dataclass(frozen=True)
class ComplexityResult:
    """The same record as a Python dataclass: the reference for messages."""

    complexity: object
    effective_lines: object
    stored_proc_count: object
    complex_construct_count: object
    moderate_construct_count: object
    temp_table_count: object
    cte_count: object


FIELDS = [f.name for f in dataclasses.fields(ComplexityResult)]
VALUES = (cx.SQLComplexity.MODERATE, 120, 1, 0, 3, 4, 2)


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        (VALUES[:6], {}),
        (VALUES[:5], {}),
        (VALUES[:4], {}),
        ((), {}),
        (VALUES + (1,), {}),
        (VALUES, {"bogus": 1}),
        (VALUES[:6], {"complexity": 1}),
        (VALUES, {"self": 1}),
        ((), dict(zip(FIELDS[1:], VALUES[1:]))),
    ],
)
def test_construction_errors_match_a_python_record(args, kwargs):
    with pytest.raises(TypeError) as expected:
        ComplexityResult(*args, **kwargs)
    with pytest.raises(TypeError) as actual:
        cx.ComplexityResult(*args, **kwargs)
    assert str(actual.value) == str(expected.value)


def test_record_value_semantics():
    a = cx.ComplexityResult(*VALUES)
    b = cx.ComplexityResult(**dict(zip(FIELDS, VALUES)))
    assert a == b and hash(a) == hash(b) == hash(VALUES)
    assert a != cx.ComplexityResult(*VALUES[:5], 5, VALUES[6])
    assert a != ComplexityResult(*VALUES) and a != VALUES
    assert [getattr(a, f) for f in FIELDS] == list(VALUES)
    assert repr(a) == repr(ComplexityResult(*VALUES))
    assert pickle.loads(pickle.dumps(a)) == a
    assert copy.copy(a) == a and copy.deepcopy(a) == a
    match a:
        case cx.ComplexityResult(level, lines, procs):
            assert (level, lines, procs) == VALUES[:3]
        case _:
            pytest.fail("no match")


@pytest.mark.parametrize("name", [*FIELDS, "recommended_analysis_turns", "other"])
def test_records_are_frozen(name):
    r = cx.ComplexityResult(*VALUES)
    with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot assign to field '{name}'"):
        setattr(r, name, 1)
    with pytest.raises(dataclasses.FrozenInstanceError, match=f"cannot delete field '{name}'"):
        delattr(r, name)
    assert r == cx.ComplexityResult(*VALUES)


def test_records_hold_whatever_they_are_given():
    r = cx.ComplexityResult("level", -1, [], 0, None, "x", ())
    assert r.complexity == "level" and r.stored_proc_count == []
    assert r.recommended_analysis_turns == 2  # -1 // 300 == -1
    with pytest.raises(TypeError):
        hash(r)  # a list field is unhashable, as in a tuple


@pytest.mark.parametrize(
    ("lines", "constructs", "analysis"),
    [(0, 0, 3), (299, 0, 3), (300, 0, 4), (650, 1, 6), (900, 2, 8), (1200, 5, 8)],
)
def test_analysis_budget(lines, constructs, analysis):
    r = cx.ComplexityResult(cx.SQLComplexity.SIMPLE, lines, 0, constructs, 0, 0, 0)
    assert r.recommended_analysis_turns == analysis


@pytest.mark.parametrize(
    ("lines", "constructs", "procs", "conversion"),
    [
        (0, 0, 0, 9),
        (99, 0, 0, 9),
        (100, 0, 0, 11),
        (250, 3, 1, 22),
        (640, 3, 2, 30),
        (1000, 0, 0, 29),
        (1000, 15, 1, 40),
    ],
)
def test_conversion_budget(lines, constructs, procs, conversion):
    r = cx.ComplexityResult(cx.SQLComplexity.COMPLEX, lines, procs, constructs, 0, 0, 0)
    assert r.recommended_conversion_turns == conversion
    assert r.recommended_audit_turns == 3


def analysis(lines, constructs):
    return min(3 + min(lines // 300, 3) + min(constructs, 2), 8)


def conversion(lines, constructs, procs):
    return min(5 + (lines // 100) * 2 + constructs * 2 + (3 if procs > 0 else 0) + 4, 40)


@pytest.mark.parametrize(
    ("lines", "constructs", "procs"),
    [
        (-1, 0, 0),
        (-301, -5, -1),
        (2**70, 2**65, 2**64),
        (2**62 + 1, 1, 0),
        (-(2**70), -(2**66), 0),
        (650.0, 1, 0),
        (299.5, 0.5, True),
        (True, False, 0),
    ],
)
def test_budgets_use_the_hosts_arithmetic(lines, constructs, procs):
    r = cx.ComplexityResult(cx.SQLComplexity.COMPLEX, lines, procs, constructs, 0, 0, 0)
    for got, want in [
        (r.recommended_analysis_turns, analysis(lines, constructs)),
        (r.recommended_conversion_turns, conversion(lines, constructs, procs)),
    ]:
        assert got == want and type(got) is type(want)


def test_budgets_propagate_arithmetic_errors():
    r = cx.ComplexityResult(cx.SQLComplexity.SIMPLE, "many", 0, 0, 0, 0, 0)
    with pytest.raises(TypeError):
        r.recommended_analysis_turns
    assert r.recommended_audit_turns == 3


def test_strategy_record():
    s = cx.FileReadingStrategy(
        should_chunk=True, total_lines=900, first_read_lines=150, section_boundaries=((151, 420, "GO"),)
    )
    assert repr(s) == (
        "FileReadingStrategy(should_chunk=True, total_lines=900, first_read_lines=150, "
        "section_boundaries=((151, 420, 'GO'),))"
    )
    assert pickle.loads(pickle.dumps(s)) == s and hash(s) == hash(copy.deepcopy(s))
    with pytest.raises(dataclasses.FrozenInstanceError):
        s.total_lines = 1


def test_enumeration():
    assert list(cx.SQLComplexity) == [cx.SQLComplexity.SIMPLE, cx.SQLComplexity.MODERATE, cx.SQLComplexity.COMPLEX]
    assert cx.SQLComplexity("complex") is cx.SQLComplexity.COMPLEX
    assert cx.SQLComplexity.COMPLEX == "complex" and str(cx.SQLComplexity.MODERATE) == "moderate"
    assert pickle.loads(pickle.dumps(cx.SQLComplexity.SIMPLE)) is cx.SQLComplexity.SIMPLE
    with pytest.raises(ValueError):
        cx.SQLComplexity("hard")


# ---------------------------------------------------------------------------
# Tables, logger, loading


def test_published_tables_are_the_hosts_patterns():
    assert len(cx._COMPLEX_PATTERNS) == 15 and len(cx._MODERATE_PATTERNS) == 9
    assert all(
        isinstance(p, re.Pattern) and p.flags == re.I | re.U for p in cx._COMPLEX_PATTERNS + cx._MODERATE_PATTERNS
    )
    assert cx._COMPLEX_PATTERNS[0].pattern == r"\bCURSOR\b"
    assert cx._COMPLEX_PATTERNS[14].pattern == r"\bLINKED\s+SERVER\b"
    assert cx._MODERATE_PATTERNS[0].pattern == r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\("
    assert cx._MODERATE_PATTERNS[8].pattern == r"\bUNPIVOT\b"
    assert cx._STORED_PROC_PATTERN.pattern == r"\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b"
    assert [(p.pattern, p.flags) for p in cx._COMMENT_PATTERNS] == [
        ("--.*$", re.M | re.U),
        (r"/\*.*?\*/", re.S | re.U),
    ]


class Recorder:
    def __init__(self):
        self.calls = []

    def debug(self, event, **fields):
        self.calls.append((event, list(fields.items())))


class Failing:
    def debug(self, event, **fields):
        raise RuntimeError("sink down")


def test_replaced_logger_is_obeyed(monkeypatch):
    rec = Recorder()
    monkeypatch.setattr(cx, "logger", rec)
    cx.classify_sql("MERGE t USING s ON 1=1")
    assert rec.calls == [
        (
            "sql_classified",
            [
                ("complexity", cx.SQLComplexity.COMPLEX),
                ("effective_lines", 1),
                ("complex_constructs", 1),
                ("moderate_constructs", 0),
                ("stored_procs", 0),
            ],
        )
    ]


def test_logger_failures_propagate(monkeypatch, tmp_path):
    monkeypatch.setattr(cx, "logger", Failing())
    with pytest.raises(RuntimeError, match="sink down"):
        cx.classify_sql("SELECT 1")
    long_file = tmp_path / "long.sql"
    long_file.write_text("SELECT 1\n" * 600)
    with pytest.raises(RuntimeError, match="sink down"):
        cx.plan_reading_strategy(long_file)
    short_file = tmp_path / "short.sql"
    short_file.write_text("SELECT 1\n")
    assert cx.plan_reading_strategy(short_file).should_chunk is False  # no event, no failure


def test_default_logger_comes_from_structlog():
    assert isinstance(cx.logger, type(structlog.get_logger()))


def test_importing_the_package_loads_no_module():
    code = "import sys, agents.quorvane; print(sorted(m for m in sys.modules if m.startswith('agents.quorvane.')))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


# ---------------------------------------------------------------------------
# Files


def test_file_errors_propagate_without_an_event(tmp_path):
    bad = tmp_path / "bad.sql"
    bad.write_bytes(b"SELECT 1\n\xff\n")
    cases = [
        (tmp_path / "missing.sql", FileNotFoundError),
        (tmp_path, IsADirectoryError),
        (bad, UnicodeDecodeError),
        ("not a path", AttributeError),
        (None, AttributeError),
    ]
    for path, error in cases:
        for function in (cx.classify_sql_file, cx.plan_reading_strategy):
            with capture_logs() as logs:
                with pytest.raises(error):
                    function(path)
            assert logs == []


def test_a_path_like_object_only_needs_read_text():
    class Source:
        def read_text(self, *, encoding):
            assert encoding == "utf-8"
            return "CREATE PROCEDURE p AS SELECT 1"

    assert cx.classify_sql_file(sql_path=Source()).stored_proc_count == 1
    assert cx.plan_reading_strategy(Source()).total_lines == 1


def test_file_text_must_be_a_str():
    class Source:
        def read_text(self, *, encoding):
            return Text("SELECT 1")

    with pytest.raises(TypeError, match="sql_content"):
        cx.classify_sql_file(Source())
