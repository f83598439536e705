"""Behaviour of category detection, section extraction and knowledge
selection, for the model and the native module alike (the ``impl`` fixture)."""

from __future__ import annotations

import pytest
from hypothesis import given
from structlog.testing import capture_logs

import strategies as S


def short(value):
    return repr(value)[:40] if isinstance(value, str) else None


# --------------------------------------------------------------------------
# Category detection
# --------------------------------------------------------------------------

DETECT = [
    ("", set()),
    ("SELECT a FROM t -- uses GETDATE()", {"query"}),
    ("/* ROW_NUMBER() */ SELECT 1", {"query"}),
    ("SELECT 'a--b', GETDATE()", {"query"}),
    ("/* a -- b */ UPDATE t SET x = GETDATE()\n", set()),
    ("/* a -- b */ x\nUPDATE t SET x = 1 /* c */ SELECT CAST(1 AS INT)", {"query", "type_cast"}),
    ("DECLARE c CURSOR/**/FOR SELECT 1", {"query"}),
    ("DECLARE c CURSOR/* x */ FOR SELECT 1", {"cursor", "query"}),
    ("SELECT a FROM t GROUP BY a", {"query"}),
    ("SELECT COUNT(*) FROM t GROUP BY a", {"aggregation", "query"}),
    ("SELECT a FROM t GROUP BY (a)", {"aggregation", "query"}),
    ("x = a LEFT JOIN b", {"join", "string_ops"}),
    ("select isnull(a, 0) from #tmp", {"null_handling", "query", "temp_table"}),
    ("DECLARE @t TABLE (a INT)", {"temp_table"}),
    ("DECLARE @t TABLES", {"temp_table"}),
    ("SELECT 'Order #1'", {"query", "temp_table"}),
    ("WITH cte AS\n(SELECT 1)", {"cte", "query"}),
    ("WITH cte (a, b) AS (SELECT 1, 2) SELECT * FROM cte", {"cte", "query"}),
    ("EXEC dbo.p", {"stored_proc"}),
    ("CREATE PROC p AS RETURN", {"stored_proc"}),
    ("CREATE OR ALTER PROCEDURE dbo.p AS SELECT 1", {"stored_proc", "query"}),
    ("SELECT RANK () OVER (ORDER BY a)", {"query", "window_function"}),
    ("SELECT GETDATE()\r-- c\rSELECT ROW_NUMBER() OVER (ORDER BY a)", {"date_function", "query"}),
    ("SELECT GETDATE()\n-- c\nSELECT ROW_NUMBER() OVER (ORDER BY a)", {"date_function", "query", "window_function"}),
    ("SELECT a -- comment\r\nFROM t", {"query"}),
    ("SELECT a -- c\u2028FROM #t", {"query"}),
    # further cases
    ("a IS\nNOT\tNULL; b IS NULLx", {"null_handling"}),
    ("MERGE t USING s; FOR\u3000JSON PATH; json_value(x)", {"merge", "json_ops"}),
    ("TRY_CONVERT(INT, x) FLOATS", {"type_cast"}),
    ("FULL OUTER JOIN CROSS  JOIN OUTER JOIN", {"join"}),
    ("HAVING (1) MAX  (a)", {"aggregation"}),
    ("EXECUTE sp_x; CREATE PROCEDURE_x", {"stored_proc"}),
    ("CURSORS EXECUTED SELECTED GETDATE_X", set()),
    ("@t\nTABLE @ t TABLE", {"temp_table"}),
    ("#", set()),
    ("WITH x (a AS (", set()),
    ("SELECT\u0301 MERGE\u203f", {"query", "merge"}),
    ("SELECTé éMERGE CURSOR٣ _LIKE LIKE_", set()),
    ("SELECT '\ud800' \udfffCAST\ud800", {"query", "type_cast"}),
]


@pytest.mark.parametrize("sql, expected", DETECT, ids=short)
def test_detect_categories(impl, sql, expected):
    result = impl.detect_construct_categories(sql)
    assert type(result) is set and result == expected


FOLD_DETECT = [
    ("SELECT I\u017fNULL(a, 0)", {"query", "null_handling"}),
    ("SELECT \u0130SNULL(a, 0)", {"query"}),
    ("SELECT \u0131SNULL(a, 0)", {"query"}),
    ("a LI\u212aE b", {"string_ops"}),
    ("DECLARE c CUR\u017fOR", {"cursor"}),
    ("\u017fELECT 1", {"query"}),
    ("@t TABLE", {"temp_table"}),
    ("@t table", {"temp_table"}),
    ("D\u0130STINCT", set()),
    ("jo\u0131n", set()),
    ("left jo\u0130n", {"string_ops"}),
]


@pytest.mark.parametrize("sql, expected", FOLD_DETECT, ids=short)
def test_detect_simple_case_folding(impl, sql, expected):
    assert impl.detect_construct_categories(sql) == expected


def test_category_table(impl):
    patterns = impl._CATEGORY_PATTERNS
    assert list(patterns) == [
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
    assert patterns["temp_table"].pattern == r"#\w+|@\w+\s+TABLE"
    assert patterns["cte"].pattern == r"\bWITH\s+\w+\s*(?:\([^)]*\))?\s*AS\s*\("
    assert patterns["stored_proc"].pattern == r"\b(?:CREATE\s+(?:OR\s+ALTER\s+)?PROC(?:EDURE)?|EXEC(?:UTE)?)\b"


# --------------------------------------------------------------------------
# Section extraction
# --------------------------------------------------------------------------

D = (
    "\n".join(
        [
            "# Mapping Guide",
            "Intro text.",
            "",
            "## Date Functions",
            "DATEADD -> date_add",
            "",
            "## Window Functions",
            "ROW_NUMBER -> row_number",
            "",
            "### Notes",
            "sub note",
            "",
            "## NULL Semantics (CRITICAL)",
            "NULL never equals NULL",
        ]
    )
    + "\n"
)
DATE = "## Date Functions\nDATEADD -> date_add"
WINDOW = "## Window Functions\nROW_NUMBER -> row_number\n\n### Notes\nsub note"

EXTRACT = [
    (D, {"Date Functions"}, DATE),
    (D, {"functions"}, DATE + "\n\n" + WINDOW),
    (D, {"Window Functions and Ranking"}, WINDOW),
    (D, {"Window"}, WINDOW),
    (D, {"Mapping"}, "# Mapping Guide\nIntro text."),
    (D, {"Data Type Mapping with Gotchas"}, ""),
    (D, set(), ""),
    ("", {"x"}, ""),
    (" \n\t\n \u3000", {"x"}, ""),
    (D, {"window", "WINDOW FUNCTIONS", "zzz"}, WINDOW),
    (D, {"critical", "date"}, DATE + "\n\n## NULL Semantics (CRITICAL)\nNULL never equals NULL"),
    ("## \nbody\n## B\nb", {"zzz"}, "## \nbody"),
    ("##Date Functions\nx", {"Date Functions"}, "##Date Functions\nx"),
    ("   ## Date Functions\nx", {"Date Functions"}, "## Date Functions\nx"),
    ("## Date Functions\r\nx\r\n## Joins\r\ny\r\n", {"joins"}, "## Joins\r\ny"),
    ("## Joins\r\ny", {"Inner Joins"}, "## Joins\r\ny"),
    ("##\tJoins\u2003\nx", {"Inner Joins"}, "##\tJoins\u2003\nx"),
    ("## \x1fJoins\u3000\x85\nx", {"Inner Joins"}, "## \x1fJoins\u3000\x85\nx"),
    ("## A\n\n\n## B\n", {"a", "b"}, "## A\n\n## B"),
    ("## A\n## A\n", {"a"}, "## A\n\n## A"),
    ("text\n## Joins\nj", {"t"}, "text"),
    (
        "## Joins\nx\n## Joins and Unions\ny\n## Join\nz\n## Jo\nw",
        {"Joins"},
        "## Joins\nx\n\n## Joins and Unions\ny\n\n## Join\nz\n\n## Jo\nw",
    ),
    ("## A\nx ## B\n ## C\n### D\n#### E\n##\tF\n", {"F"}, ""),
    ("## A\nx ## B\n ## C\n### D\n", {"a"}, "## A\nx ## B\n ## C\n### D"),
    ("#### Deep\nx\n## Other\ny", {"deep"}, "#### Deep\nx"),
    ("## ##  Nested\nx", {"nested"}, "## ##  Nested\nx"),
    ("## A\n```\n## B inside fence\n```\n", {"b"}, "## B inside fence\n```"),
    ("## A\rB\n## C", {"b"}, "## A\rB"),
    ("## A\rB\n## C", {"ab"}, ""),
    ("## A\rB\n## C", {"a\rb"}, "## A\rB"),
    ("## A\n## B\n", {""}, "## A\n\n## B"),
    ("## \u0130stanbul\nx\n## Other\ny", {"istanbul"}, ""),
    ("## \u0130stanbul\nx\n## Other\ny", {"\u0130STANBUL"}, "## \u0130stanbul\nx"),
    ("## \u0130stanbul\nx\n## Other\ny", {"i"}, "## \u0130stanbul\nx"),
    ("## Istanbul\nx", {"\u0130"}, ""),
    ("## Stra\u00dfe\nx", {"STRASSE"}, ""),
    ("## \u212aelvin\nx", {"kelvin"}, "## \u212aelvin\nx"),
    ("## \u1e9e\nx", {"\u00df"}, "## \u1e9e\nx"),
]


@pytest.mark.parametrize("text, headers, expected", EXTRACT, ids=short)
def test_extract_sections(impl, text, headers, expected):
    assert impl.extract_sections(text, headers) == expected


def test_extract_keeps_arguments(impl):
    headers = {"Date Functions"}
    impl.extract_sections(D, headers)
    assert headers == {"Date Functions"}


# --------------------------------------------------------------------------
# Knowledge selection
# --------------------------------------------------------------------------

M = (
    "\n".join(
        [
            "# Mapping Guide",
            "Intro text here.",
            "",
            "## Data Type Mapping with Gotchas",
            "INT maps to IntegerType",
            "",
            "## NULL Semantics (CRITICAL)",
            "NULL never equals NULL",
            "",
            "## Date Functions",
            "DATEADD maps to date_add",
            "",
            "## Joins",
            "LEFT JOIN maps to left",
        ]
    )
    + "\n"
)
G = (
    "\n".join(
        [
            "## 1. DATEDIFF Argument Order Reversed",
            "Swap the arguments",
            "",
            "## 2. Case-Sensitive String Comparison",
            "Use lower",
        ]
    )
    + "\n"
)
L = "No cursors over linked servers."

M_ALWAYS = (
    "## Data Type Mapping with Gotchas\nINT maps to IntegerType\n\n## NULL Semantics (CRITICAL)\nNULL never equals NULL"
)
M_DATE = "## Date Functions\nDATEADD maps to date_add"
M_JOINS = "## Joins\nLEFT JOIN maps to left"
G_1 = "## 1. DATEDIFF Argument Order Reversed\nSwap the arguments"
G_2 = "## 2. Case-Sensitive String Comparison\nUse lower"

SELECT = [
    # categories, documents, result (mapping, gotchas, limitations), event numbers
    (set(), (M, G, L), (M_ALWAYS, "", L), (2, 0, 18, 54, 67)),
    ({"date_function"}, (M, G, L), (M_ALWAYS + "\n\n" + M_DATE, G_1, L), (3, 3, 34, 54, 37)),
    ({"join", "query"}, (M, G, L), (M_ALWAYS + "\n\n" + M_JOINS, "", L), (4, 0, 25, 54, 54)),
    (
        {"date_function", "join", "string_ops", "bogus"},
        (M, G, L),
        (M_ALWAYS + "\n\n" + M_DATE + "\n\n" + M_JOINS, G_1 + "\n\n" + G_2, L),
        (6, 4, 48, 54, 11),
    ),
    ({"null_handling", "type_cast"}, (M, G, L), (M_ALWAYS, "", L), (4, 4, 18, 54, 67)),
    (set(), ("", "", ""), ("", "", ""), (2, 0, 0, 0, 100)),
    ({"date_function"}, ("", G, "x y z"), ("", G_1, "x y z"), (3, 3, 9, 16, 44)),
    (
        set(S.CATEGORY_KEYS),
        (M, G, " "),
        (M_ALWAYS + "\n\n" + M_DATE + "\n\n" + M_JOINS, G_1 + "\n\n" + G_2, " "),
        (17, 10, 48, 54, 11),
    ),
]


@pytest.mark.parametrize("categories, docs, result, numbers", SELECT, ids=range(len(SELECT)))
def test_select_knowledge(impl, events, categories, docs, result, numbers):
    mapping, gotchas, limitations = docs
    given_set = set(categories)
    out = impl.select_knowledge(given_set, full_mapping=mapping, full_gotchas=gotchas, full_limitations=limitations)
    assert type(out) is dict
    assert list(out.items()) == list(zip(["mapping", "gotchas", "limitations"], result))
    assert given_set == categories
    names = ["mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct"]
    assert events() == [("knowledge_selected", [("categories", sorted(categories)), *zip(names, numbers)])]


def test_limitations_default(impl):
    out = impl.select_knowledge({"merge"}, full_mapping=M, full_gotchas=G)
    assert out == {"mapping": M_ALWAYS, "gotchas": "", "limitations": ""}


@pytest.mark.parametrize(
    "selected, full, pct",
    [
        (1, 8, 88),
        (3, 8, 62),
        (5, 8, 38),
        (7, 8, 12),
        (1, 3, 67),
        (1, 200, 100),
        # (1 - 0.995) * 100 is 0.5000000000000004 in doubles, so it rounds up
        (199, 200, 1),
        (1, 1, 0),
        (0, 5, 100),
    ],
)
def test_reduction_rounding(impl, events, selected, full, pct):
    mapping, gotchas = _documents(selected, full)
    impl.select_knowledge(set(), full_mapping=mapping, full_gotchas=gotchas)
    fields = dict(events()[0][1])
    assert (fields["token_estimate"], fields["full_tokens"], fields["reduction_pct"]) == (selected, full, pct)
    assert type(fields["reduction_pct"]) is int


def _documents(selected, full):
    """A mapping guide whose selected part has ``selected`` words and a
    gotchas document that brings the total to ``full`` words."""
    # "##" followed by no space is a preamble line; its title "NULL" is
    # contained in the always-wanted "NULL Semantics (CRITICAL)".
    if selected:
        mapping = "##NULL" + "".join("\nw" for _ in range(selected - 1))
    else:
        mapping = ""
    gotchas = " ".join(["p"] * (full - selected))
    return mapping, gotchas


# --------------------------------------------------------------------------
# Properties
# --------------------------------------------------------------------------


@given(doc=S.markdown_documents())
def test_empty_title_returns_every_word(impl, doc):
    out = impl.extract_sections(doc, {""})
    assert out.split() == doc.split()
    assert out == out.strip()


@given(doc=S.markdown_documents(), headers=S.title_sets())
def test_extracted_words_follow_the_document(impl, doc, headers):
    out = impl.extract_sections(doc, headers)
    assert out == out.strip()
    words = iter(doc.split())
    assert all(any(w == v for v in words) for w in out.split())
    if not headers:
        assert out == ""


@given(
    categories=S.category_sets(),
    mapping=S.markdown_documents(),
    gotchas=S.markdown_documents(),
    limitations=S.sql_texts(max_fragments=5),
)
def test_selection_report_bounds(impl, categories, mapping, gotchas, limitations):
    with capture_logs() as captured:
        out = impl.select_knowledge(
            categories, full_mapping=mapping, full_gotchas=gotchas, full_limitations=limitations
        )
    assert out["limitations"] == limitations
    (event,) = captured
    assert event["event"] == "knowledge_selected" and event["categories"] == sorted(categories)
    assert 0 <= event["token_estimate"] <= event["full_tokens"]
    assert event["full_tokens"] == len(mapping.split()) + len(gotchas.split())
    assert event["token_estimate"] == len(out["mapping"].split()) + len(out["gotchas"].split())
    assert 0 <= event["reduction_pct"] <= 100


def test_selection_tables(impl):
    assert impl.ALWAYS_INCLUDE_MAPPING == ["Data Type Mapping with Gotchas", "NULL Semantics (CRITICAL)"]
    assert impl.ALWAYS_INCLUDE_GOTCHAS == []
    assert list(impl.CONSTRUCT_TO_MAPPING_SECTIONS) == S.CATEGORY_KEYS
    assert impl.CONSTRUCT_TO_MAPPING_SECTIONS["null_handling"] == ["NULL Semantics (CRITICAL)", "NULL Handling"]
    assert impl.CONSTRUCT_TO_MAPPING_SECTIONS["stored_proc"] == ["Stored Procedures & Functions"]
    assert list(impl.CONSTRUCT_TO_GOTCHA_SECTIONS) == [
        "date_function",
        "window_function",
        "null_handling",
        "string_ops",
        "cursor",
        "type_cast",
    ]
    assert sorted(t for ts in impl.CONSTRUCT_TO_GOTCHA_SECTIONS.values() for t in ts) == sorted(
        [
            "1. DATEDIFF Argument Order Reversed",
            "2. Case-Sensitive String Comparison",
            "3. NULL Ordering in ORDER BY",
            "4. Window Frame RANGE Includes Duplicates",
            "5. Decimal Arithmetic Precision Loss",
            "6. months_between Returns DOUBLE Not INT",
            "7. date_sub with Negative Goes FORWARD",
            "8. Python UDF 50-100x Slower Than Native F.xxx",
            "9. COUNT(*) vs COUNT(col) with NULLs",
            "10. BIT Column NULL Handling",
        ]
    )
    assert impl.CONSTRUCT_TO_GOTCHA_SECTIONS["null_handling"] == [
        "3. NULL Ordering in ORDER BY",
        "10. BIT Column NULL Handling",
        "9. COUNT(*) vs COUNT(col) with NULLs",
    ]
