"""Statement fingerprints: the template rules per dialect, the hash's
stability, the invariance and sensitivity properties, and the native
function against the Python model."""

from __future__ import annotations

import dataclasses

import fingerprint_model as model
import pytest
from corpus import corpus_files
from hypothesis import given
from hypothesis import strategies as st
from inventory_statements import statements

inventory = pytest.importorskip("agents.quorvane.inventory")
fingerprint = inventory.fingerprint

RULES = [
    # comments, spacing, letter case (SQL Server)
    (
        "SELECT  a.b ,COUNT( * )\n FROM dbo.T t -- note\n WHERE /* x */ t.id=@Id;",
        "select a.b, count(*) from dbo.t t where t.id = @id",
    ),
    ('SELECT [My Col], "Q" FROM [dbo].[Orders]', 'select [My Col], "Q" from [dbo].[Orders]'),
    # literals of every kind
    ("SELECT 'a''b', N'x', 12, 1.5, .5, 1e-3, 0x1F, X'AB' FROM t", "select ?, ?, ?, ?, ?, ?, ?, ? from t"),
    (
        "SELECT * FROM t WHERE d >= DATE '2026-12-08' AND a <> b AND c != -1",
        "select * from t where d >= date ? and a <> b and c != - ?",
    ),
    # literal lists and rows
    (
        "SELECT * FROM t WHERE id IN (1, 2, -3, @p, NULL) AND k NOT IN ('a')",
        "select * from t where id in (?) and k not in (?)",
    ),
    ("SELECT * FROM t WHERE id IN (SELECT id FROM u)", "select * from t where id in (select id from u)"),
    ("INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c')", "insert into t values (?, ?)"),
    ("INSERT INTO t VALUES (1, 'a'), (2, GETDATE())", "insert into t values (?, ?), (?, getdate())"),
    # temporary and run-specific names
    ("SELECT * INTO #tmp_20261208_1532 FROM t", "select * into #tmp_?_? from t"),
    ("DROP TABLE #t1", "drop table #t1"),
    ("SELECT * FROM stage_8f3a9b2c4d5e", "select * from stage_?"),
    ("SELECT * FROM [load_0f3a9b2c-1234-5678-9abc-def012345678]", "select * from [load_?]"),
    ("SELECT * FROM sales_2024", "select * from sales_2024"),
    # PostgreSQL, Snowflake: casts, operators, positional parameters, dollar bodies
    (
        "select x::int, a->>'k' from t where a = any($1) and b <= $2",
        "select x :: int, a ->> ? from t where a = any ($1) and b <= $2",
    ),
    (
        "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1 $$ LANGUAGE sql",
        "create function f() returns int as $$ select ? $$ language sql",
    ),
    # MySQL, Databricks, BigQuery: backticks, bind names
    (
        "SELECT `Col` FROM `db`.`T` WHERE x = :name AND y IN (:a, :b)",
        "select `Col` from `db`.`T` where x = :name and y in (?)",
    ),
    # Oracle, Teradata
    ("SELECT a FROM t WHERE b(+) = c AND ROWNUM <= 10", "select a from t where b(+) = c and rownum <= ?"),
    ("SEL a FROM t SAMPLE 100", "sel a from t sample ?"),
    # batch separators
    ("SELECT 1\nGO 5\nSELECT 2", "select ? go select ?"),
]


@pytest.mark.parametrize(("sql", "template"), RULES)
def test_template_rules(sql, template):
    assert fingerprint(sql).template == template


DIALECT_RULES = [
    # MySQL and BigQuery: "..." is a string, "#" opens a line comment, "\'" escapes
    ("mysql", "SELECT a FROM t WHERE b = \"x\" # note\n AND c = 'it\\'s'", "select a from t where b = ? and c = ?"),
    ("sqlserver", 'SELECT a FROM t WHERE b = "x"', 'select a from t where b = "x"'),
    # nested block comments where the server nests them
    ("postgresql", "SELECT /* a /* b */ c */ 1", "select ?"),
    ("oracle", "SELECT /* a /* b */ c */ 1", "select c * / ?"),
]


@pytest.mark.parametrize(("platform", "sql", "template"), DIALECT_RULES)
def test_template_rules_of_a_given_platform(platform, sql, template):
    fp = fingerprint(sql, platform=platform)
    assert fp.template == template
    assert (fp.hash, fp.template, fp.unterminated) == model.fingerprint(sql, platform)


def test_hash_is_xxh3_of_the_template_and_pinned():
    # Pinned: a changed value here breaks every stored fingerprint, and needs
    # a new FINGERPRINT_VERSION.
    assert inventory.FINGERPRINT_VERSION == 1
    assert fingerprint("").hash == 0x2D06800538D394C2
    fp = fingerprint("SELECT * FROM t WHERE id = 42")
    assert fp.hash == model.xxh3_64(b"select * from t where id = ?") == 0x31AA09D71571ED9E


@pytest.mark.parametrize(
    ("sql", "unterminated"),
    [("SELECT 'abc", True), ("SELECT [abc", True), ("SELECT 1 /* cut", True), ("SELECT 'a' -- c", False)],
)
def test_unterminated_texts(sql, unterminated):
    assert fingerprint(sql).unterminated is unterminated


def test_record_and_arguments():
    fp = fingerprint("SELECT 1", platform="sqlserver")
    assert dataclasses.is_dataclass(fp) and type(fp).__name__ == "Fingerprint"
    with pytest.raises(dataclasses.FrozenInstanceError):
        fp.hash = 1
    assert fp == fingerprint("select 2") and fp == dataclasses.replace(fp, unterminated=True)
    with pytest.raises(TypeError, match="expected str"):
        fingerprint(b"SELECT 1")
    with pytest.raises(ValueError, match="unknown platform"):
        fingerprint("SELECT 1", platform="cobol")
    with pytest.raises(TypeError):
        fingerprint("SELECT 1", "sqlserver")


# --- a batch in one call ------------------------------------------------------

Batch = inventory.FingerprintBatch


class _Text(str):
    pass


def _batch_as_rows(texts, **kw):
    batch = inventory.fingerprint_many(texts, **kw)
    return list(memoryview(batch.hashes).cast("Q")), list(batch.flags), batch.templates


@given(st.lists(st.one_of(st.text(max_size=40), st.sampled_from(["SELECT 1", "select 2", "SELECT 'x", " \u3000"]))))
def test_fingerprint_many_agrees_with_fingerprint_row_by_row(texts):
    hashes, flags, templates = _batch_as_rows(texts)
    expected_templates = {}
    for i, text in enumerate(texts):
        if not text.strip():
            assert (hashes[i], flags[i]) == (0, Batch.BLANK)
            continue
        fp = fingerprint(text)
        assert (hashes[i], flags[i]) == (fp.hash, Batch.UNTERMINATED if fp.unterminated else Batch.WHOLE)
        expected_templates.setdefault(fp.hash, (i, fp.template))
    assert list(templates.items()) == list(expected_templates.items())


def test_fingerprint_many_leaves_what_is_not_a_str_and_checks_its_arguments():
    texts = ["SELECT 1 -- a", None, b"SELECT 1", 42, _Text("SELECT 1"), "", "SELECT \U0001f600 FROM t"]
    hashes, flags, templates = _batch_as_rows(texts, platform="sqlserver")
    assert flags == [Batch.WHOLE, *[Batch.NOT_TEXT] * 4, Batch.BLANK, Batch.WHOLE]
    assert hashes[1:6] == [0] * 5 and hashes[0] == fingerprint("SELECT 1", platform="sqlserver").hash
    assert [first for first, _ in templates.values()] == [0, 6]
    with pytest.raises(TypeError, match="sequence of str"):
        inventory.fingerprint_many("SELECT 1")
    with pytest.raises(ValueError, match="unknown platform"):
        inventory.fingerprint_many(["SELECT 1"], platform="cobol")


@given(
    st.lists(st.one_of(st.none(), st.text(max_size=40), st.sampled_from(["SELECT 1", "select 'é", "SELECT '😀'"]))),
    st.sampled_from(["string", "large_string"]),
    st.integers(0, 3),
)
def test_fingerprint_many_reads_an_arrow_column_as_its_rows(texts, kind, skip):
    pa = pytest.importorskip("pyarrow")
    column = pa.array(["SELECT 0"] * skip + texts, getattr(pa, kind)()).slice(skip)
    assert _batch_as_rows(column) == _batch_as_rows(texts)


def test_fingerprint_many_leaves_an_arrow_row_that_is_not_utf8():
    pa = pytest.importorskip("pyarrow")
    data = b"SELECT 1\xed\xa0\x80\xc0\xafSELECT 2"  # an encoded surrogate, an overlong "/", then good bytes
    offsets = pa.array([0, 8, 11, 13, 21], pa.int32()).buffers()[1]
    column = pa.Array.from_buffers(pa.string(), 4, [None, offsets, pa.py_buffer(data)])
    hashes, flags, _ = _batch_as_rows(column)
    assert (
        flags == [Batch.WHOLE, Batch.NOT_TEXT, Batch.NOT_TEXT, Batch.WHOLE]
        and hashes[3] == fingerprint("SELECT 2").hash
    )
    with pytest.raises(TypeError, match="Arrow string"):
        inventory.fingerprint_many(pa.array([1, 2]))


# --- properties --------------------------------------------------------------

NAMES = ["orders", "Customer", "dbo.Sales", "[Line Items]", "#stage", "x"]
SHAPES = [
    "SELECT {c} FROM {t} WHERE {c} = {v} AND {c} IN ({v}, {v})",
    "UPDATE {t} SET {c} = {v} WHERE {c} > {v}",
    "INSERT INTO {t} ({c}) VALUES ({v}), ({v})",
    "DELETE FROM {t} WHERE {c} < {v}",
]
LITERALS = st.one_of(
    st.integers(0, 10**12).map(str),
    st.floats(0, 1e6, allow_nan=False).map(lambda f: f"{f:.3f}"),
    st.text(st.characters(codec="utf-8"), max_size=8).map(lambda s: "'" + s.replace("'", "''") + "'"),
)
GAPS = st.sampled_from([" ", "  ", "\n", "\t", " /* c */ ", " -- c\n", "\r\n  "])


def case_of(draw, word):
    return "".join(c.upper() if draw(st.booleans()) else c.lower() for c in word)


@st.composite
def rewritten(draw):
    """A statement and a rewrite of its literals, spacing, comments and letter case."""
    shape, t, c = draw(st.sampled_from(SHAPES)), draw(st.sampled_from(NAMES[:3])), draw(st.sampled_from(["id", "Amt"]))

    def render(vary):
        filled = shape.replace("{t}", t).replace("{c}", c)
        parts = []
        for piece in filled.split(" "):
            while "{v}" in piece:
                piece = piece.replace("{v}", draw(LITERALS) if vary else "0", 1)
            parts.append(case_of(draw, piece) if vary and "'" not in piece else piece)
        gaps = [draw(GAPS) if vary else " " for _ in parts]
        return "".join(p + g for p, g in zip(parts, gaps)).strip()

    return render(False), render(True)


@given(rewritten())
def test_rewriting_literals_spacing_comments_or_case_keeps_the_hash(pair):
    a, b = pair
    assert fingerprint(a).hash == fingerprint(b).hash


CHANGES = [("orders", "orders2"), ("=", "<"), ("WHERE", "AND 1=1 WHERE"), ("SELECT", "SELECT DISTINCT"), ("id", "idx")]


@given(st.sampled_from(SHAPES), st.sampled_from(CHANGES))
def test_changing_a_name_operator_or_shape_changes_the_hash(shape, change):
    base = shape.replace("{t}", "orders").replace("{c}", "id").replace("{v}", "1").replace("<", "=")
    old, new = change
    if old in base:
        assert fingerprint(base).hash != fingerprint(base.replace(old, new, 1)).hash


# --- native against the model -------------------------------------------------

PIECES = [
    "SELECT", "IN", "VALUES", "(", ")", ",", ";", ".", "'a'", "N'x'", "'", "12", "1.5", ".5", "1e", "-", "+", "3",
    "0x1F", "@p", "@@rowcount", "?", ":", "$1", "$", "$$", "NULL", "#tmp_20261208", "stage_8f3a9b2c", "[#t_123]",
    "`b`", '"Q"', "[x", "/*", "*/", "--c\n", "<", ">", "=", "!", "|", "~", "*", "\nGO 2\n", "\n/\n",
    "DELIMITER //\n", "//", "İx", "ΣΑΣ", "\U0001f600", "\ud800", " ", "\n",
]  # fmt: skip


@given(st.lists(st.sampled_from(PIECES), max_size=30), st.lists(st.sampled_from(["", " "]), max_size=30))
def test_native_matches_model_on_generated_statements(pieces, gaps):
    sql = "".join(p + (gaps[i] if i < len(gaps) else " ") for i, p in enumerate(pieces))
    fp = fingerprint(sql)
    assert (fp.hash, fp.template, fp.unterminated) == model.fingerprint(sql)


@given(st.text(st.characters(codec=None), max_size=60))
def test_native_matches_model_on_any_text(sql):
    fp = fingerprint(sql)
    assert (fp.hash, fp.template, fp.unterminated) == model.fingerprint(sql)


CORPUS = corpus_files()


@pytest.mark.skipif(not CORPUS, reason="shared corpus not present")
def test_native_matches_model_on_corpus_statements():
    checked = 0
    for path in CORPUS:
        for sql in statements(path.read_text(encoding="utf-8", errors="surrogateescape")):
            fp = fingerprint(sql)
            assert (fp.hash, fp.template, fp.unterminated) == model.fingerprint(sql), path
            checked += 1
    assert checked > 1000
