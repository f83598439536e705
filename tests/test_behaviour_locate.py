"""Construct locations (``locate_constructs``, ``locate_categories``) for the
model and the native modules alike (the ``impl`` fixture), and the native
functions' argument checks."""

from __future__ import annotations

import pytest
from hypothesis import given
from structlog.testing import capture_logs

import strategies as S
from agents.quorvane import complexity, loresift
from messages import type_message

SCRIPT = (
    "/* MERGE in a comment\r\n   spanning lines */ SELECT 1\r\n"  # lines 1-2
    "-- CURSOR\r\n"  # 3
    "MERGE t USING s ON 1 = 1; WHILE 1 = 1 BREAK\r\n"  # 4
    "DECLARE c CURSOR FOR SELECT #tmp\r"  # 5, lone CR
    "merge again\u2028CREATE PROC p AS SELECT GETDATE()\n"  # 6, 7
    "CREATE PROCEDURE q AS SELECT CAST(1 AS INT)"  # 8
)


def test_worked_example(impl):
    assert impl.locate_constructs(SCRIPT) == (
        (4, "complex", "merge"),
        (4, "moderate", "while"),
        (5, "complex", "cursor"),
        (5, "complex", "declare_cursor"),
        (5, "moderate", "temp_table"),
        (7, "stored_proc", "create_procedure"),
    )
    assert impl.locate_categories(SCRIPT) == (
        (2, "category", "query"),
        (4, "category", "merge"),
        (5, "category", "cursor"),
        (5, "category", "temp_table"),
        (7, "category", "date_function"),
        (7, "category", "stored_proc"),
        (8, "category", "type_cast"),
    )


@pytest.mark.parametrize("brk", S.LINE_BREAKS, ids=repr)
def test_every_line_break_numbers_lines(impl, brk):
    text = brk.join(["SELECT 1", "", "/* a" + brk + "b */ x", "MERGE x"])
    assert impl.locate_constructs(text) == ((5, "complex", "merge"),)
    assert impl.locate_categories(text) == ((1, "category", "query"), (5, "category", "merge"))


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ()),
        ("-- MERGE\n/* CURSOR\n*/", ()),
        # line comments go first: "-- */" hides the closer, the later "/*" stays open
        (
            "x\n/*\n*/ #t /* -- */ WITH a AS (SELECT 1)\n--\nMERGE",
            ((3, "moderate", "temp_table"), (5, "complex", "merge")),
        ),
        # same line: table order, not position
        ("#t WITH a AS (SELECT 1)", ((1, "moderate", "cte"), (1, "moderate", "temp_table"))),
        # first occurrence only; a count of two still gives one entry
        ("CREATE PROC a\nCREATE PROC b\nCURSOR", ((1, "stored_proc", "create_procedure"), (3, "complex", "cursor"))),
        # non-ASCII letters and lone surrogates are one character each
        ("\ud800\U0001d518é\n\udfffMERGE\u0301", ((2, "complex", "merge"),)),
        ("éMERGE\nMERGE", ((2, "complex", "merge"),)),
        # a byte-order mark and a form feed
        ("\ufeffSELECT 1\x0cPIVOT", ((2, "moderate", "pivot"),)),
    ],
    ids=repr,
)
def test_constructs(impl, text, expected):
    assert impl.locate_constructs(text) == expected


@given(S.sql_texts())
def test_locations_agree_with_the_counts(impl, text):
    """One entry per counted row, on an existing line; the categories are the
    detected ones."""
    with capture_logs():
        result = impl.classify_sql(text)
    constructs = impl.locate_constructs(text)
    lines = max(1, len(text.splitlines()))
    kinds = [kind for _, kind, _ in constructs]
    names = {name for _, _, name in constructs}
    assert kinds.count("complex") == result.complex_construct_count
    assert kinds.count("moderate") == result.moderate_construct_count
    assert kinds.count("stored_proc") == (result.stored_proc_count > 0)
    assert ("temp_table" in names) == (result.temp_table_count > 0)
    assert ("cte" in names) == (result.cte_count > 0)
    categories = impl.locate_categories(text)
    assert {key for _, _, key in categories} == impl.detect_construct_categories(text)
    for found in (constructs, categories):
        assert [line for line, _, _ in found] == sorted(line for line, _, _ in found)
        assert all(1 <= line <= lines for line, _, _ in found)


def test_no_events(impl, events):
    impl.locate_constructs(SCRIPT)
    impl.locate_categories(SCRIPT)
    assert events() == []


class Text(str):
    pass


@pytest.mark.parametrize("fn", [complexity.locate_constructs, loresift.locate_categories], ids=lambda f: f.__name__)
def test_argument_errors_use_the_hosts_messages(fn):
    name = fn.__name__
    cases = [
        (lambda: fn(), f"{name}() takes exactly 1 positional argument (0 given)"),
        (lambda: fn("a", "b"), f"{name}() takes exactly 1 positional argument (2 given)"),
        (lambda: fn(x="a"), f"{name}() takes exactly 1 positional argument (0 given)"),
        (lambda: fn("a", x="a"), f"{name}() got an unexpected keyword argument 'x'"),
        (lambda: fn("a", sql_content="b"), f"{name}() got multiple values for keyword argument 'sql_content'"),
        (lambda: fn(None), type_message("sql_content", "str", "NoneType")),
        (lambda: fn(b"MERGE"), type_message("sql_content", "str", "bytes")),
        (lambda: fn(Text("MERGE")), type_message("sql_content", "str", "Text", subclass=True)),
    ]
    for call, message in cases:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message
    assert fn(sql_content="MERGE") == fn("MERGE")
