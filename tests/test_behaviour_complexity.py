"""Behaviour of the classifier and the turn budgets, for the model and the
native module alike (the ``impl`` fixture)."""

from __future__ import annotations

import re
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

import strategies as S

PLAIN = "SELECT a FROM t"


def short(value):
    return repr(value)[:40] if isinstance(value, str) else None


def counts(result):
    return (
        str(result.complexity),
        result.effective_lines,
        result.stored_proc_count,
        result.complex_construct_count,
        result.moderate_construct_count,
        result.temp_table_count,
        result.cte_count,
    )


def lines(n, sep="\n"):
    return sep.join([PLAIN] * n)


# --------------------------------------------------------------------------
# Result record, level enumeration, budgets
# --------------------------------------------------------------------------


def record(impl, lines_=0, complex_=0, procs=0, level="simple", moderate=0, temps=0, ctes=0):
    return impl.ComplexityResult(impl.SQLComplexity(level), lines_, procs, complex_, moderate, temps, ctes)


@pytest.mark.parametrize(
    "effective, complex_, expected",
    [
        (0, 0, 3),
        (299, 0, 3),
        (300, 0, 4),
        (650, 1, 6),
        (900, 2, 8),
        (1200, 5, 8),
        (-1, 0, 2),
        (0, -3, 0),
        (100000, 0, 6),
    ],
)
def test_analysis_turns(impl, effective, complex_, expected):
    assert record(impl, effective, complex_).recommended_analysis_turns == expected


@pytest.mark.parametrize(
    "effective, complex_, procs, expected",
    [
        (0, 0, 0, 9),
        (99, 0, 0, 9),
        (100, 0, 0, 11),
        (250, 3, 1, 22),
        (640, 3, 2, 30),
        (1000, 0, 0, 29),
        (1000, 15, 1, 40),
        (0, 0, -1, 9),
        (-1, 0, 0, 7),
        (1600, 0, 0, 40),
        (1500, 0, 0, 39),
    ],
)
def test_conversion_turns(impl, effective, complex_, procs, expected):
    assert record(impl, effective, complex_, procs).recommended_conversion_turns == expected


@pytest.mark.parametrize("level", ["simple", "moderate", "complex"])
@pytest.mark.parametrize("values", [(0, 0, 0, 0, 0), (10**6, 15, 9, -5, 7)])
def test_budgets_ignore_level_and_unused_counts(impl, level, values):
    lines_, complex_, moderate, temps, ctes = values
    rec = record(impl, lines_, complex_, 1, level, moderate, temps, ctes)
    base = record(impl, lines_, complex_, 1)
    assert (rec.recommended_analysis_turns, rec.recommended_conversion_turns) == (
        base.recommended_analysis_turns,
        base.recommended_conversion_turns,
    )
    assert rec.recommended_audit_turns == 3


def test_level_enumeration(impl):
    C = impl.SQLComplexity
    assert [m.value for m in C] == ["simple", "moderate", "complex"]
    assert C("complex") is C.COMPLEX and C.COMPLEX == "complex" and str(C.MODERATE) == "moderate"
    with pytest.raises(ValueError):
        C("COMPLEX")


def test_record_value_semantics(impl):
    a, b = record(impl, 5, 1, 1, temps=2), record(impl, 5, 1, 1, temps=2)
    assert a == b and hash(a) == hash(b)
    assert a != record(impl, 5, 1, 1, temps=3)
    text = repr(a)
    assert text.startswith("ComplexityResult(")
    positions = [
        text.index(name + "=")
        for name in (
            "complexity",
            "effective_lines",
            "stored_proc_count",
            "complex_construct_count",
            "moderate_construct_count",
            "temp_table_count",
            "cte_count",
        )
    ]
    assert positions == sorted(positions)


# --------------------------------------------------------------------------
# Classification
# --------------------------------------------------------------------------

CASES = [
    # text, (level, effective, procs, complex, moderate, temps, ctes)
    ("", ("simple", 0, 0, 0, 0, 0, 0)),
    ("-- only a comment\n\n/* block\n comment */\n \t \n", ("simple", 0, 0, 0, 0, 0, 0)),
    (lines(50), ("simple", 50, 0, 0, 0, 0, 0)),
    (lines(51), ("moderate", 51, 0, 0, 0, 0, 0)),
    (lines(300), ("moderate", 300, 0, 0, 0, 0, 0)),
    (lines(301), ("complex", 301, 0, 0, 0, 0, 0)),
    ("CREATE PROCEDURE dbo.p AS\n" + lines(9), ("moderate", 10, 1, 0, 0, 0, 0)),
    ("CREATE PROC a AS SELECT 1\nCREATE OR ALTER PROCEDURE b AS SELECT 2", ("complex", 2, 2, 0, 0, 0, 0)),
    ("create or alter proc a create\nproc b", ("complex", 2, 2, 0, 0, 0, 0)),
    ("ALTER PROCEDURE p AS SELECT 1", ("simple", 1, 0, 0, 0, 0, 0)),
    ("CREATE FUNCTION f() RETURNS INT", ("simple", 1, 0, 0, 0, 0, 0)),
    ("CREATE PROCEDURES x; CREATE PROC_x", ("simple", 1, 0, 0, 0, 0, 0)),
    ("merge t using s on 1 = 1", ("complex", 1, 0, 1, 0, 0, 0)),
    ("DECLARE c CURSOR FOR SELECT 1", ("complex", 1, 0, 2, 0, 0, 0)),
    ("SELECT 1 -- replaces the old CURSOR", ("simple", 1, 0, 0, 0, 0, 0)),
    ("SELECT 'MERGE' AS kind", ("complex", 1, 0, 1, 0, 0, 0)),
    (" ".join(["CASE WHEN a THEN 1 END"] * 10), ("simple", 1, 0, 0, 1, 0, 0)),
    ("WHILE 1 = 1\nIF EXISTS (SELECT 1)\nSELECT CASE WHEN a THEN 1 END", ("moderate", 3, 0, 0, 3, 0, 0)),
    ("WHILE 1 = 1\nSELECT CASE WHEN a THEN 1 END", ("simple", 2, 0, 0, 2, 0, 0)),
    ("SELECT * FROM #tmp\nINSERT #tmp VALUES (1)\nDROP TABLE #tmp", ("simple", 3, 0, 0, 1, 3, 0)),
    ("SELECT * INTO ##global FROM t", ("simple", 1, 0, 0, 1, 1, 0)),
    ("SELECT '# x', #é, #٣, #_", ("simple", 1, 0, 0, 1, 3, 0)),
    ("WITH a AS (SELECT 1), b AS (SELECT 2) SELECT * FROM a", ("simple", 1, 0, 0, 1, 0, 1)),
    ("WITH t (x, y) AS (SELECT 1, 2) SELECT 1; with u\n(\nz\n)\nas\n( SELECT 3)", ("simple", 6, 0, 0, 1, 0, 2)),
    ("SELECT * FROM t WITH (NOLOCK)", ("simple", 1, 0, 0, 0, 0, 0)),
    ("CREATE TABLE #t (a INT)", ("simple", 1, 0, 0, 2, 1, 0)),
    ("CREATE PROC p AS CREATE TABLE #t (a INT) WHILE 1=1", ("moderate", 1, 1, 0, 3, 1, 0)),
    ("SELECT 1 /* a\nb */ FROM t", ("simple", 1, 0, 0, 0, 0, 0)),
    ("MER/* x */GE t", ("complex", 1, 0, 1, 0, 0, 0)),
]


@pytest.mark.parametrize("sql, expected", CASES, ids=short)
def test_classify_cases(impl, sql, expected):
    assert counts(impl.classify_sql(sql)) == expected


COMPLEX_SAMPLES = [
    ("CURSOR", 1),
    ("DECLARE x CURSOR", 2),
    ("declare\n@c\tcursor", 1),
    ("EXEC (@s)", 1),
    ("EXECUTE(@s)", 1),
    ("EXEC dbo.p", 0),
    ("EXEC sp_executesql @s", 1),
    ("_sp_executesql", 0),
    ("DYNAMIC", 1),
    ("BEGIN TRY", 1),
    ("BEGIN\nCATCH", 1),
    ("BEGIN TRAN", 0),
    ("MERGE", 1),
    ("MERGED", 0),
    ("OPENXML", 1),
    ("hierarchyid", 1),
    ("GEOGRAPHY", 1),
    ("geometry", 1),
    ("FOR XML PATH", 1),
    ("FORXML", 0),
    ("OPENJSON(@j)", 1),
    ("LINKED\tSERVER", 1),
    ("LINKEDSERVER", 0),
    ("CURSORS", 0),
]


@pytest.mark.parametrize("sql, expected", COMPLEX_SAMPLES, ids=short)
def test_complex_patterns(impl, sql, expected):
    assert impl.classify_sql(sql).complex_construct_count == expected


MODERATE_SAMPLES = [
    ("WITH c AS (SELECT 1)", 1),
    ("#t", 1),
    ("CREATE TABLE t (a INT)", 1),
    ("WHILE 1=1", 1),
    ("IF EXISTS (SELECT 1)", 1),
    ("CASE WHEN a THEN b END", 1),
    ("ROW_NUMBER() OVER (ORDER BY a)", 1),
    ("PIVOT", 1),
    ("UNPIVOT", 1),
    ("IF NOT EXISTS (SELECT 1)", 0),
    ("CASE x WHEN 1 THEN 2 END", 0),
    ("OVERLAP (1)", 0),
    ("CREATE TEMP TABLE t", 0),
    ("WHILEX", 0),
    ("# t", 0),
]


@pytest.mark.parametrize("sql, expected", MODERATE_SAMPLES, ids=short)
def test_moderate_patterns(impl, sql, expected):
    assert impl.classify_sql(sql).moderate_construct_count == expected


COMMENT_ORDER = [
    # The line comment takes "*/ MERGE t" with it; the '/*' stays unclosed.
    ("/* note -- x */ MERGE t\nSELECT 1", ("simple", 2, 0, 0, 0, 0, 0)),
    # The orphaned '/*' pairs with the next '*/' further down.
    ("/* note -- x */ MERGE t\nWHILE 1=1\n/* y */ SELECT 1", ("simple", 1, 0, 0, 0, 0, 0)),
    ("SELECT '--', 1 MERGE t", ("simple", 1, 0, 0, 0, 0, 0)),
    ("-- /* opens nothing\nSELECT 1\n*/ MERGE t", ("complex", 2, 0, 1, 0, 0, 0)),
    ("/* a /* b */ c */ SELECT 1", ("simple", 1, 0, 0, 0, 0, 0)),
    ("/* a /* b */ MERGE */", ("complex", 1, 0, 1, 0, 0, 0)),
    ("/**/MERGE/*/ x */", ("complex", 1, 0, 1, 0, 0, 0)),
    ("SELECT 1 --\r MERGE t", ("simple", 1, 0, 0, 0, 0, 0)),
    ("\ufeff-- c\nSELECT 1", ("simple", 2, 0, 0, 0, 0, 0)),
]


@pytest.mark.parametrize("sql, expected", COMMENT_ORDER, ids=short)
def test_comment_removal_order(impl, sql, expected):
    assert counts(impl.classify_sql(sql)) == expected


# --------------------------------------------------------------------------
# Line breaks, whitespace and word boundaries
# --------------------------------------------------------------------------


@pytest.mark.parametrize("brk", S.LINE_BREAKS, ids=repr)
def test_every_line_break_splits_lines(impl, brk):
    result = impl.classify_sql(lines(51, brk) + brk)
    assert (str(result.complexity), result.effective_lines) == ("moderate", 51)


@pytest.mark.parametrize("sep", ["\x1f", "\t", "\u200b", "\xa0", "\u2000", "\ufeff"], ids=repr)
def test_non_breaks_keep_one_line(impl, sep):
    result = impl.classify_sql(lines(51, sep))
    assert (str(result.complexity), result.effective_lines) == ("simple", 1)


@pytest.mark.parametrize("ws", S.WHITESPACE, ids=repr)
def test_whitespace_only_lines_are_blank(impl, ws):
    assert impl.classify_sql(f"SELECT 1\n{ws * 3}\n{ws}SELECT 2{ws}").effective_lines == 2


@pytest.mark.parametrize("ch", S.LOOKALIKES, ids=repr)
def test_lookalike_lines_are_effective(impl, ch):
    assert impl.classify_sql(f"SELECT 1\n{ch}\n{ch * 3}\n").effective_lines == 3


@pytest.mark.parametrize("ws", S.WHITESPACE, ids=repr)
def test_every_whitespace_separates_keywords(impl, ws):
    result = impl.classify_sql(f"BEGIN{ws}TRY WHILE{ws}1")
    assert (result.complex_construct_count, result.moderate_construct_count) == (1, 1)


@pytest.mark.parametrize("ch", S.LOOKALIKES, ids=repr)
def test_lookalikes_do_not_separate_keywords(impl, ch):
    assert impl.classify_sql(f"BEGIN{ch}TRY LINKED{ch}SERVER").complex_construct_count == 0


@pytest.mark.parametrize("ch", ["é", "ß", "Ж", "中", "ا", "٣", "²", "Ⅻ", "𝔘", "_", "7"], ids=repr)
def test_word_neighbours_block_keywords(impl, ch):
    result = impl.classify_sql(f"MERGE{ch} {ch}MERGE {ch}CURSOR{ch} WHILE{ch}")
    assert (result.complex_construct_count, result.moderate_construct_count) == (0, 0)


@pytest.mark.parametrize(
    "ch",
    ["\u0301", "\u0308", "\u203f", "\u2040", "\u200b", "\ufeff", "\ud800", "\udfff", "-", "€"],
    ids=repr,
)
def test_non_word_neighbours_keep_keywords(impl, ch):
    result = impl.classify_sql(f"{ch}MERGE{ch}")
    assert (str(result.complexity), result.complex_construct_count) == ("complex", 1)


def test_lone_surrogates(impl):
    result = impl.classify_sql("SELECT '\ud800'\n\udfffMERGE\ud800 #t\udc00\n\udbff")
    assert counts(result) == ("complex", 3, 0, 1, 1, 1, 0)


FOLD_CASES = [
    ("\u017fp_execute\u017fql @s", 1),
    ("LIN\u212aED \u017fERVER", 1),
    ("CUR\u017fOR", 1),
    ("OPENJ\u017fON(@j)", 1),
    ("begin try", 1),
    ("BEG\u0130N TRY", 0),
    ("BEG\u0131N TRY", 0),
    ("h\u0131erarchyid", 0),
    ("hierarchy\u0130d", 0),
    ("\u212aMERGE", 0),
]


@pytest.mark.parametrize("sql, expected", FOLD_CASES, ids=short)
def test_simple_case_folding(impl, sql, expected):
    assert impl.classify_sql(sql).complex_construct_count == expected


@pytest.mark.parametrize(
    "sql, moderate, ctes",
    [
        ("IF EXI\u017fT\u017f (1)", 1, 0),
        ("\u0130F EXISTS (1)", 0, 0),
        ("\u0131f exists (1)", 0, 0),
        ("WITH c A\u017f (SELECT 1)", 1, 1),
        ("W\u0131TH c AS (SELECT 1)", 0, 0),
    ],
    ids=repr,
)
def test_simple_case_folding_moderate(impl, sql, moderate, ctes):
    result = impl.classify_sql(sql)
    assert (result.moderate_construct_count, result.cte_count) == (moderate, ctes)


# --------------------------------------------------------------------------
# Files
# --------------------------------------------------------------------------

FILE_TEXT = "SELECT 1 -- c\nMERGE t\n/* x\ny */ WHILE 1=1\n"


@pytest.mark.parametrize("newline", ["\n", "\r\n", "\r"], ids=repr)
def test_file_line_endings(impl, tmp_path, newline):
    path = tmp_path / "f.sql"
    path.write_bytes(FILE_TEXT.replace("\n", newline).encode())
    assert counts(impl.classify_sql_file(path)) == ("complex", 3, 0, 1, 1, 0, 0)


def test_cr_only_text_versus_file(impl, tmp_path):
    text = "SELECT 1\r-- c\rMERGE t"
    assert counts(impl.classify_sql(text)) == ("simple", 1, 0, 0, 0, 0, 0)
    path = tmp_path / "cr.sql"
    path.write_bytes(text.encode())
    assert counts(impl.classify_sql_file(path)) == ("complex", 2, 0, 1, 0, 0, 0)


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"\xef\xbb\xbfMERGE t", ("complex", 1, 0, 1, 0, 0, 0)),
        (b"\xef\xbb\xbf", ("simple", 1, 0, 0, 0, 0, 0)),
        (b"\xef\xbb\xbf\r\n\r\n", ("simple", 1, 0, 0, 0, 0, 0)),
        (b"", ("simple", 0, 0, 0, 0, 0, 0)),
    ],
)
def test_bom_files(impl, tmp_path, data, expected):
    path = tmp_path / "bom.sql"
    path.write_bytes(data)
    assert counts(impl.classify_sql_file(path)) == expected


@pytest.mark.parametrize(
    "setup, error",
    [
        (lambda p: p.write_bytes(b"SELECT \xff"), UnicodeDecodeError),
        (lambda p: None, FileNotFoundError),
        (lambda p: p.mkdir(), IsADirectoryError),
    ],
)
def test_file_errors_propagate_without_event(impl, tmp_path, events, setup, error):
    path = tmp_path / "bad.sql"
    setup(path)
    with pytest.raises(error):
        impl.classify_sql_file(path)
    assert events() == []


# --------------------------------------------------------------------------
# Event
# --------------------------------------------------------------------------


def test_classified_event(impl, events, tmp_path):
    sql = "DECLARE c CURSOR FOR SELECT 1\nCREATE PROC p AS SELECT 1\nWHILE 1=1\n#t #t"
    impl.classify_sql(sql)
    impl.classify_sql("")
    path = tmp_path / "e.sql"
    path.write_text(lines(60))
    impl.classify_sql_file(path)
    got = events()
    assert got == [
        (
            "sql_classified",
            [
                ("complexity", "complex"),
                ("effective_lines", 4),
                ("complex_constructs", 2),
                ("moderate_constructs", 2),
                ("stored_procs", 1),
            ],
        ),
        (
            "sql_classified",
            [
                ("complexity", "simple"),
                ("effective_lines", 0),
                ("complex_constructs", 0),
                ("moderate_constructs", 0),
                ("stored_procs", 0),
            ],
        ),
        (
            "sql_classified",
            [
                ("complexity", "moderate"),
                ("effective_lines", 60),
                ("complex_constructs", 0),
                ("moderate_constructs", 0),
                ("stored_procs", 0),
            ],
        ),
    ]
    assert all(type(fields[0][1]) is impl.SQLComplexity for _, fields in got)


# --------------------------------------------------------------------------
# Tables
# --------------------------------------------------------------------------


def test_pattern_tables(impl):
    assert [p.pattern for p in impl._COMPLEX_PATTERNS] == [
        r"\bCURSOR\b",
        r"\bDECLARE\s+\w+\s+CURSOR\b",
        r"\bEXEC(?:UTE)?\s*\(",
        r"\bsp_executesql\b",
        r"\bDYNAMIC\b",
        r"\bBEGIN\s+TRY\b",
        r"\bBEGIN\s+CATCH\b",
        r"\bMERGE\b",
        r"\bOPENXML\b",
        r"\bhierarchyid\b",
        r"\bgeography\b",
        r"\bgeometry\b",
        r"\bFOR\s+XML\b",
        r"\bOPENJSON\b",
        r"\bLINKED\s+SERVER\b",
    ]
    assert [p.pattern for p in impl._MODERATE_PATTERNS] == [
        r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\(",
        r"#\w+",
        r"\bCREATE\s+TABLE\b",
        r"\bWHILE\b",
        r"\bIF\s+EXISTS\b",
        r"\bCASE\s+WHEN\b",
        r"\bOVER\s*\(",
        r"\bPIVOT\b",
        r"\bUNPIVOT\b",
    ]
    assert impl._STORED_PROC_PATTERN.pattern == r"\bCREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?\b"
    assert [p.pattern for p in impl._COMMENT_PATTERNS] == [r"--.*$", r"/\*.*?\*/"]


# --------------------------------------------------------------------------
# Properties
# --------------------------------------------------------------------------


@given(sql=S.sql_texts())
def test_level_follows_decision_table(impl, sql):
    r = impl.classify_sql(sql)
    assert 0 <= r.complex_construct_count <= 15 and 0 <= r.moderate_construct_count <= 9
    assert r.effective_lines <= len(sql.splitlines())
    assert (r.temp_table_count > 0) <= (r.moderate_construct_count > 0)
    assert (r.cte_count > 0) <= (r.moderate_construct_count > 0)
    if r.complex_construct_count or r.effective_lines > 300 or r.stored_proc_count > 1:
        assert r.complexity == "complex"
    elif r.moderate_construct_count > 2 or r.effective_lines > 50 or r.stored_proc_count == 1:
        assert r.complexity == "moderate"
    else:
        assert r.complexity == "simple"


@given(sql=S.sql_texts(line_breaks=["\n"], surrogates=False), newline=st.sampled_from(["\r\n", "\r"]))
def test_crlf_and_cr_files_classify_like_lf_text(impl, scratch_dir, sql, newline):
    path = scratch_dir / "prop_classify.sql"
    path.write_bytes(sql.replace("\n", newline).encode())
    assert counts(impl.classify_sql_file(path)) == counts(impl.classify_sql(sql))


def test_model_host_text_rules_agree():
    """The model leans on the host's own whitespace, line and word rules."""
    import unicodedata

    everything = [chr(c) for c in range(sys.maxunicode + 1)]
    assert [c for c in everything if c.isspace()] == S.WHITESPACE
    assert [c for c in everything if re.match(r"\s", c)] == S.WHITESPACE
    breaks = [c for c in everything if len(("a" + c + "b").splitlines()) == 2]
    assert breaks == sorted(b for b in S.LINE_BREAKS if b != "\r\n")
    assert all(bool(re.match(r"\w", c)) == (unicodedata.category(c)[0] in "LN" or c == "_") for c in everything)
