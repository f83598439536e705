"""The native modules against the reference model, on generated inputs and on
the real SQL corpus: results and events must be identical.

Profiles: "quick" by default; HYPOTHESIS_PROFILE=deep for tens of thousands of
examples per property.
"""

from __future__ import annotations

import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st
from structlog.testing import capture_logs

import model
import strategies as S
from agents.quorvane import complexity, loresift
from corpus import corpus_files
from plan_rules import check_plan


def run(fn, *args, **kwargs):
    """(result or exception type and text, events as (name, [(field, value)]))."""
    with capture_logs() as logs:
        try:
            result = fn(*args, **kwargs)
        except Exception as exc:  # compared, never swallowed: both sides must fail alike
            result = ("raised", type(exc).__name__, str(exc))
    events = [(e["event"], [(k, v) for k, v in e.items() if k not in ("event", "log_level")]) for e in logs]
    return result, events


def fields(record, names):
    return tuple(getattr(record, n) for n in names)


RESULT_FIELDS = (
    "complexity",
    "effective_lines",
    "stored_proc_count",
    "complex_construct_count",
    "moderate_construct_count",
    "temp_table_count",
    "cte_count",
    "recommended_analysis_turns",
    "recommended_conversion_turns",
    "recommended_audit_turns",
)
PLAN_FIELDS = ("should_chunk", "total_lines", "first_read_lines", "section_boundaries")


def same_classification(text):
    (ours, ours_events), (theirs, theirs_events) = run(complexity.classify_sql, text), run(model.classify_sql, text)
    assert fields(ours, RESULT_FIELDS) == fields(theirs, RESULT_FIELDS)
    assert ours_events == theirs_events


# ---------------------------------------------------------------------------
# Classification and category detection


@given(S.sql_texts())
@example("MERGE\u0301")
@example("\u0130F EXISTS WHILE CASE WHEN")
@example("WITH x (" * 50)
@example("/* -- */ MERGE /* x */ CURSOR")
def test_classify_sql(text):
    same_classification(text)


@given(S.sql_texts())
@example("DECLARE c CURSOR/**/FOR SELECT 1")
@example("SELECT GETDATE()\r-- c\rSELECT ROW_NUMBER() OVER (ORDER BY a)")
def test_detect_construct_categories(text):
    assert loresift.detect_construct_categories(text) == model.detect_construct_categories(text)


@given(S.sql_texts())
@example("/* MERGE\r\n */ MERGE\r\n-- x\rCURSOR")
@example("a\r\n\u2028/* \ud800\n*/ #t\x85WITH x AS (SELECT 1)")
@example("\r\n" * 3 + "-- /* \r\n */ CURSOR")
def test_locate_constructs(text):
    assert complexity.locate_constructs(text) == model.locate_constructs(text)


@given(S.sql_texts())
@example("SELECT\u2029/* GETDATE() \u2028 */ LEFT JOIN\r\rCAST(")
def test_locate_categories(text):
    assert loresift.locate_categories(text) == model.locate_categories(text)


@given(
    S.sql_texts(line_breaks=["\n", "\r\n", "\r", "\u2028", "\x0b"], surrogates=False),
    st.sampled_from(["utf-8", "utf-8-sig"]),
)
def test_classify_sql_file(scratch_dir, text, encoding):
    path = scratch_dir / "classify.sql"
    path.write_bytes(text.encode(encoding))
    ours, ours_events = run(complexity.classify_sql_file, path)
    theirs, theirs_events = run(model.classify_sql_file, path)
    assert fields(ours, RESULT_FIELDS) == fields(theirs, RESULT_FIELDS)
    assert ours_events == theirs_events


# ---------------------------------------------------------------------------
# Reading plans and instructions


@given(S.sql_files())
@example(S.SqlFile(tuple("GO" if n in (160, 171) else f"SELECT {n}" for n in range(1, 601))))
@example(S.SqlFile(tuple("GO" if n in (300, 301, 310, 800) else "" for n in range(1, 1501)), "\r\n"))
@example(S.SqlFile(tuple("GO" if n in (100, 590) else "-- c" for n in range(1, 601))))
def test_plan_reading_strategy(scratch_dir, sql_file):
    path = scratch_dir / "plan.sql"
    path.write_bytes(sql_file.to_bytes())
    ours, ours_events = run(complexity.plan_reading_strategy, path)
    theirs, theirs_events = run(model.plan_reading_strategy, path)
    assert fields(ours, PLAN_FIELDS) == fields(theirs, PLAN_FIELDS)
    assert ours_events == theirs_events
    check_plan(ours)
    assert ours.format_reading_instructions(str(path)) == theirs.format_reading_instructions(str(path))


boundary_values = st.one_of(st.integers(-3, 2000), st.booleans(), st.floats(allow_nan=False), st.text(max_size=5))


@given(
    st.booleans() | st.integers(0, 2) | st.none(),
    boundary_values,
    boundary_values,
    st.lists(
        st.one_of(
            st.tuples(boundary_values, boundary_values, st.text(max_size=60)),
            st.lists(boundary_values, max_size=4),
            st.integers(),
            st.text(max_size=4),
        ),
        max_size=4,
    ).map(tuple),
    st.text(max_size=20),
)
def test_format_reading_instructions(should_chunk, total, first, sections, path):
    ours = complexity.FileReadingStrategy(should_chunk, total, first, sections)
    theirs = model.FileReadingStrategy(should_chunk, total, first, sections)
    assert run(ours.format_reading_instructions, path)[0] == run(theirs.format_reading_instructions, path)[0]


# ---------------------------------------------------------------------------
# Knowledge selection


@given(S.markdown_documents(), S.title_sets())
@example("## İstanbul\nx", {"istanbul", "İSTANBUL"})
@example("## ΟΔΟΣ\nx", {"οδος", "οδοσ"})
def test_extract_sections(document, titles):
    assert loresift.extract_sections(document, titles) == model.extract_sections(document, titles)


@given(S.category_sets(), S.markdown_documents(), S.markdown_documents(), st.text(max_size=30))
def test_select_knowledge(categories, mapping, gotchas, limitations):
    def select(impl):
        return run(
            impl.select_knowledge,
            set(categories),
            full_mapping=mapping,
            full_gotchas=gotchas,
            full_limitations=limitations,
        )

    assert select(loresift) == select(model)


# ---------------------------------------------------------------------------
# Every character, and the real corpus


class Quiet:
    def debug(self, event, **fields):
        pass


def test_word_and_space_classes_of_every_character(monkeypatch):
    """Each code point next to a keyword: \\b follows letters and numbers of
    every script, \\s follows the whitespace set, exactly as the host's str."""
    monkeypatch.setattr(complexity, "logger", Quiet())
    wrong_word, wrong_space = [], []
    for cp in range(sys.maxunicode + 1):
        c = chr(cp)
        is_word = c.isalnum() or c == "_"
        if complexity.classify_sql("MERGE" + c).complex_construct_count != (0 if is_word else 1):
            wrong_word.append(hex(cp))
        if ("null_handling" in loresift.detect_construct_categories("IS" + c + "NULL")) != c.isspace():
            wrong_space.append(hex(cp))
    assert wrong_word == [] and wrong_space == []


@pytest.mark.skipif(not corpus_files(), reason="shared SQL corpus not present")
def test_corpus_agrees_with_the_model():
    files = corpus_files()
    assert len(files) > 600
    for path in files:
        ours, ours_events = run(complexity.classify_sql_file, path)
        theirs, theirs_events = run(model.classify_sql_file, path)
        if isinstance(theirs, tuple):
            assert ours == theirs, path  # the undecodable file fails alike
            continue
        assert fields(ours, RESULT_FIELDS) == fields(theirs, RESULT_FIELDS), path
        assert ours_events == theirs_events, path
        ours_plan, ours_events = run(complexity.plan_reading_strategy, path)
        theirs_plan, theirs_events = run(model.plan_reading_strategy, path)
        assert fields(ours_plan, PLAN_FIELDS) == fields(theirs_plan, PLAN_FIELDS), path
        check_plan(ours_plan)
        assert ours_events == theirs_events, path
        text = path.read_text(encoding="utf-8")
        assert loresift.detect_construct_categories(text) == model.detect_construct_categories(text), path
        assert complexity.locate_constructs(text) == model.locate_constructs(text), path
        assert loresift.locate_categories(text) == model.locate_categories(text), path
