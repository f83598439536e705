"""The loresift module as a Python caller sees it: argument checks with the
host's messages, published tables, result types and the size-report event."""

from __future__ import annotations

import re

import pytest
from structlog.testing import capture_logs

from agents.quorvane import loresift as ls
from messages import type_message


class Text(str):
    pass


class Titles(set):
    pass


def select(*args, **kwargs):
    return lambda: ls.select_knowledge(*args, **kwargs)


DOCS = {"full_mapping": "", "full_gotchas": ""}


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (
            lambda: ls.detect_construct_categories(),
            "detect_construct_categories() takes exactly 1 positional argument (0 given)",
        ),
        # A missing argument is reported before a keyword problem.
        (
            lambda: ls.detect_construct_categories(sql=""),
            "detect_construct_categories() takes exactly 1 positional argument (0 given)",
        ),
        (
            lambda: ls.detect_construct_categories("", sql=""),
            "detect_construct_categories() got an unexpected keyword argument 'sql'",
        ),
        (lambda: ls.detect_construct_categories(Text("")), type_message("sql_content", "str", "Text", True)),
        (lambda: ls.extract_sections(), "extract_sections() takes exactly 2 positional arguments (0 given)"),
        (lambda: ls.extract_sections("a"), "extract_sections() takes exactly 2 positional arguments (1 given)"),
        (
            lambda: ls.extract_sections(full_text="a"),
            "extract_sections() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda: ls.extract_sections(headers=set()),
            "extract_sections() takes exactly 2 positional arguments (0 given)",
        ),
        (
            lambda: ls.extract_sections("a", full_text="b"),
            "extract_sections() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda: ls.extract_sections(full_text="a", x=1),
            "extract_sections() takes exactly 2 positional arguments (1 given)",
        ),
        (
            lambda: ls.extract_sections("a", set(), full_text="b"),
            "extract_sections() got multiple values for keyword argument 'full_text'",
        ),
        (
            lambda: ls.extract_sections(headers=set(), full_text="a", x=1),
            "extract_sections() got an unexpected keyword argument 'x'",
        ),
        (
            lambda: ls.extract_sections("a", set(), "c"),
            "extract_sections() takes exactly 2 positional arguments (3 given)",
        ),
        (lambda: ls.extract_sections(1, []), type_message("full_text", "str", "int")),
        (lambda: ls.extract_sections("a", ["a"]), type_message("headers", "set", "list")),
        (lambda: ls.extract_sections("a", frozenset()), type_message("headers", "set", "frozenset")),
        (lambda: ls.extract_sections("a", Titles()), type_message("headers", "set", "Titles", True)),
        (select(), "select_knowledge() takes exactly 1 positional argument (0 given)"),
        (select(set()), "select_knowledge() needs keyword-only argument full_mapping"),
        (select(set(), ""), "select_knowledge() takes exactly 1 positional argument (2 given)"),
        (select(set(), full_mapping=""), "select_knowledge() needs keyword-only argument full_gotchas"),
        (select(set(), full_gotchas=""), "select_knowledge() needs keyword-only argument full_mapping"),
        (select(full_mapping="", full_gotchas=""), "select_knowledge() takes exactly 1 positional argument (0 given)"),
        (select(set(), "a", **DOCS), "select_knowledge() takes exactly 1 positional argument (2 given)"),
        (select(set(), x=1), "select_knowledge() needs keyword-only argument full_mapping"),
        (select(set(), full_mapping="", x=1), "select_knowledge() needs keyword-only argument full_gotchas"),
        (select(x=1, **DOCS), "select_knowledge() takes exactly 1 positional argument (0 given)"),
        (select(set(), x=1, **DOCS), "select_knowledge() got an unexpected keyword argument 'x'"),
        (
            select(set(), categories=set(), **DOCS),
            "select_knowledge() got multiple values for keyword argument 'categories'",
        ),
        (select([], full_mapping=1, full_gotchas=""), type_message("categories", "set", "list")),
        (select(frozenset(), **DOCS), type_message("categories", "set", "frozenset")),
        (select(set(), full_mapping=1, full_gotchas=2), type_message("full_mapping", "str", "int")),
        (select(set(), full_mapping="", full_gotchas=None), type_message("full_gotchas", "str", "NoneType")),
        (select(set(), **DOCS, full_limitations=None), type_message("full_limitations", "str", "NoneType")),
        (select(Titles(), **DOCS), type_message("categories", "set", "Titles", True)),
    ],
)
def test_argument_errors_use_the_hosts_messages(call, message):
    with capture_logs() as logs:
        with pytest.raises(TypeError) as info:
            call()
    assert str(info.value) == message
    assert logs == []


def test_results_are_new_objects_of_the_exact_types():
    found = ls.detect_construct_categories("SELECT 1")
    assert type(found) is set and found == {"query"}
    found.add("mine")  # the caller owns it
    assert ls.detect_construct_categories("SELECT 1") == {"query"}
    limitations = "No cursors over linked servers."
    result = ls.select_knowledge(set(), full_mapping="", full_gotchas="", full_limitations=limitations)
    assert type(result) is dict and list(result) == ["mapping", "gotchas", "limitations"]
    assert result["limitations"] is limitations
    assert ls.select_knowledge(set(), **DOCS)["limitations"] == ""


def test_published_tables():
    assert list(ls._CATEGORY_PATTERNS) == [
        "date_function",
        "window_function",
        "null_handling",
        "string_ops",
        "cursor",
        "cte",
        "json_ops",
        "type_cast",
        "stored_proc",
        "merge",
        "temp_table",
        "join",
        "aggregation",
        "query",
    ]
    assert all(isinstance(p, re.Pattern) and p.flags == re.I | re.U for p in ls._CATEGORY_PATTERNS.values())
    assert ls._CATEGORY_PATTERNS["temp_table"].pattern == r"#\w+|@\w+\s+TABLE"
    assert list(ls.CONSTRUCT_TO_MAPPING_SECTIONS) == list(ls._CATEGORY_PATTERNS)
    assert ls.CONSTRUCT_TO_MAPPING_SECTIONS["null_handling"] == ["NULL Semantics (CRITICAL)", "NULL Handling"]
    assert list(ls.CONSTRUCT_TO_GOTCHA_SECTIONS) == [
        "date_function",
        "window_function",
        "null_handling",
        "string_ops",
        "cursor",
        "type_cast",
    ]
    assert ls.CONSTRUCT_TO_GOTCHA_SECTIONS["null_handling"] == [
        "3. NULL Ordering in ORDER BY",
        "10. BIT Column NULL Handling",
        "9. COUNT(*) vs COUNT(col) with NULLs",
    ]
    assert ls.ALWAYS_INCLUDE_MAPPING == ["Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"]
    assert ls.ALWAYS_INCLUDE_GOTCHAS == []
    titles = {t for ts in ls.CONSTRUCT_TO_MAPPING_SECTIONS.values() for t in ts}
    assert len(titles) == 17
    gotchas = {t for ts in ls.CONSTRUCT_TO_GOTCHA_SECTIONS.values() for t in ts}
    assert sorted(int(t.split(".")[0]) for t in gotchas) == list(range(1, 11))


def test_mutating_a_published_table_changes_nothing():
    saved = list(ls.CONSTRUCT_TO_MAPPING_SECTIONS["join"])
    try:
        ls.CONSTRUCT_TO_MAPPING_SECTIONS["join"].append("Everything")
        assert ls.select_knowledge({"join"}, full_mapping="## Everything\nx", full_gotchas="")["mapping"] == ""
    finally:
        ls.CONSTRUCT_TO_MAPPING_SECTIONS["join"][:] = saved


def test_titles_that_are_not_plain_strings():
    class Title(str):
        def lower(self):
            return "joins"

    assert ls.extract_sections("## Joins\nj", {Title("nothing alike")}) == "## Joins\nj"
    with pytest.raises(AttributeError):
        ls.extract_sections("## Joins\nj", {3})


def test_unsortable_categories_fail_before_any_event():
    with capture_logs() as logs:
        with pytest.raises(TypeError):
            ls.select_knowledge({"join", 3}, **DOCS)
    assert logs == []


def test_event_fields_in_order(monkeypatch):
    calls = []

    class Recorder:
        def debug(self, event, **fields):
            calls.append((event, list(fields)))

    monkeypatch.setattr(ls, "logger", Recorder())
    ls.select_knowledge({"join", "bogus"}, full_mapping="## Joins\na b", full_gotchas="")
    assert calls == [
        (
            "knowledge_selected",
            ["categories", "mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct"],
        )
    ]


def test_logger_failure_propagates(monkeypatch):
    class Failing:
        def debug(self, event, **fields):
            raise OSError("disk full")

    monkeypatch.setattr(ls, "logger", Failing())
    with pytest.raises(OSError, match="disk full"):
        ls.select_knowledge(set(), **DOCS)
