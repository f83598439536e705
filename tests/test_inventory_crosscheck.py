"""Cross-checks of the inventory: the native module against the Python model
on generated texts and on every corpus file; the tables read and written
against sqlglot's T-SQL parser on the corpus statements; and the corpus
coverage of routine definitions."""

from __future__ import annotations

import re
from collections import Counter

import inventory_model as model
import pytest
from corpus import CORPUS as CORPUS_ROOT
from corpus import corpus_files
from inventory_statements import statements
from hypothesis import given
from hypothesis import strategies as st

from agents.quorvane import platforms

inventory = pytest.importorskip("agents.quorvane.inventory")

# --- native module against the model ----------------------------------------

PIECES = [
    "SELECT",
    "FROM",
    "JOIN",
    "CROSS APPLY",
    "WHERE",
    "INSERT",
    "INTO",
    "UPDATE",
    "SET",
    "DELETE",
    "MERGE",
    "USING",
    "WHEN MATCHED THEN",
    "EXEC",
    "EXEC(",
    "@x",
    "@rc =",
    "#t",
    "##g",
    "dbo.T",
    "[a b]",
    "[x]]y]",
    '"q"',
    "`b`",
    "s.f(",
    "t",
    "a",
    "AS",
    "WITH",
    "c AS (",
    "(",
    ")",
    ",",
    ";",
    ".",
    "'lit FROM z'",
    "N'x'",
    "'",
    "--c\n",
    "/*",
    "*/",
    "\n",
    "\nGO\n",
    "\n/\n",
    "$$",
    "CREATE",
    "OR ALTER",
    "PROCEDURE",
    "VIEW",
    "FUNCTION",
    "TABLE",
    "TRIGGER",
    "INDEX",
    "ON",
    "BEGIN",
    "END",
    "CASE",
    "TRUNCATE TABLE",
    "DROP TABLE",
    "sp_executesql",
    "FETCH NEXT FROM c INTO @v",
    "DELIMITER //\n",
    "//",
    "\u00e9",
    "\u20ac",
    "\U0001f600",
    "\u2028",
    "\r\n",
    "\x85",
    " ",
    "\ufeff",
    "\u017fELECT",
    "inserted",
    "OUTPUT",
    "TOP (3)",
    "(NOLOCK)",
    "#c\n",
    '"s"',
    "\\'",
    "r'x'",
    '"""t"""',
    "'''u'''",
    "b",
    "r",
    "DECLARE",
    "v",
    "IS",
    "INTO v",
    "END;",
    "${s}",
    "{{ ref('m') }}",
    "@e@",
    "PERFORM",
    "$PARTITION.f(",
    "PERCENT",
    "XMLNAMESPACES",
    "FOR",
    "IN",
    "LET",
    "EXECUTE",
    "IF",
    "PACKAGE",
    "BODY",
    "/* /*",
    "LANGUAGE",
]
PLATFORMS = [None, *platforms.PLATFORMS]


@st.composite
def scripts(draw):
    return " ".join(draw(st.lists(st.sampled_from(PIECES), max_size=40)))


def same(a, b):
    return [tuple(x.__dict__.values()) for x in a] == [tuple(x.__dict__.values()) for x in b]


@given(scripts(), st.sampled_from(PLATFORMS))
def test_native_matches_model_on_generated_scripts(sql, platform):
    assert same(inventory.split_objects(sql, platform=platform), model.split_objects(sql, platform=platform))
    assert inventory.references(sql, platform=platform) == model.references(sql, platform=platform)


@given(st.text(alphabet=st.characters(codec=None), max_size=60), st.sampled_from(PLATFORMS))
def test_native_matches_model_on_any_text(sql, platform):
    assert same(inventory.split_objects(sql, platform=platform), model.split_objects(sql, platform=platform))


CORPUS = corpus_files()
needs_corpus = pytest.mark.skipif(not CORPUS, reason="shared corpus not present")


def read(path):
    return path.read_text(encoding="utf-8", errors="surrogateescape")


@needs_corpus
def test_native_matches_model_on_the_corpus():
    differing = []
    for p in CORPUS:
        text = read(p)
        for platform in (None, p.relative_to(CORPUS_ROOT).parts[0]):
            native = inventory.split_objects(text, platform=platform)
            if not same(native, model.split_objects(text, platform=platform)):
                differing.append((p.name, platform))
    assert differing == []


# --- coverage ----------------------------------------------------------------

ROUTINE_HEAD = re.compile(
    r"(?:CREATE(?:\s+OR\s+(?:ALTER|REPLACE|REFRESH))?\s+(?:\w+\s+){0,3}?|ALTER\s+)(PROC|PROCEDURE|FUNCTION|VIEW|TRIGGER)\b",
    re.I,
)


def routine_heads(text):
    """Lines of the CREATE/ALTER PROCEDURE, FUNCTION, VIEW and TRIGGER heads
    outside comments and literals, found on the model's token stream."""
    toks = model.tokenize(text)
    starts = [b for b, _ in model.lines_of(text)]
    heads = []
    for i, t in enumerate(toks):
        if t.type != "word" or t.kw not in ("create", "alter"):
            continue
        if t.kw == "alter" and i > 0 and toks[i - 1].kw == "or":
            continue
        j = i + 1
        words = []
        while j < len(toks) and len(words) < 6 and toks[j].type in ("word", "quoted", "punct"):
            words.append(toks[j].text)
            if toks[j].type == "word" and toks[j].kw in model.KINDS:
                break
            j += 1
        if j < len(toks) and ROUTINE_HEAD.match(" ".join([t.text] + [w for w in words if w != "="])):
            heads.append(model.line_of(starts, t.begin))
    return heads


@needs_corpus
def test_corpus_routines_each_yield_one_object():
    missing = []
    counts: Counter[str] = Counter()
    for path in CORPUS:
        text = read(path)
        objects = inventory.split_objects(text)
        counts.update(o.kind for o in objects)
        starts = Counter(o.start_line for o in objects if o.kind in ("procedure", "function", "view", "trigger"))
        for line in routine_heads(text):
            if starts[line] != 1:
                missing.append(f"{path.relative_to(path.parents[2])}:{line}")
    print("corpus units by kind:", dict(sorted(counts.items())))
    assert missing == []


# --- sqlglot -----------------------------------------------------------------


def _name(table) -> str:
    return ".".join(p for p in (table.catalog, table.db, table.name) if p).lower()


def sqlglot_tables(tree, select_into=True):
    """Tables read and written by one parsed statement, CTEs, temporary
    tables, table variables and table functions left out; an UPDATE or
    DELETE target that is an alias stands for its table.  Without
    `select_into`, SELECT ... INTO names variables (MySQL), no table."""
    from sqlglot import exp

    ctes = {c.alias_or_name.lower() for c in tree.find_all(exp.CTE)}
    aliases = {t.alias.lower(): t for t in tree.find_all(exp.Table) if t.alias}
    targets = []
    if isinstance(tree, (exp.Insert, exp.Update, exp.Delete, exp.Merge)):
        this = tree.this
        if isinstance(this, exp.Schema):
            this = this.this
        if isinstance(this, exp.Table):
            targets.append(this)
        if isinstance(tree, exp.Delete):  # DELETE a FROM t a
            targets.extend(tree.args.get("tables") or ())
    into = tree.args.get("into") if isinstance(tree, exp.Select) else None
    variables = set()
    if into is not None and isinstance(into.this, exp.Table):
        if select_into:
            targets.append(into.this)
        else:
            variables.add(id(into.this))

    def keep(t):
        n = _name(t)
        return (
            isinstance(t.this, exp.Identifier)
            and not t.this.args.get("temporary")
            and not t.this.args.get("global_")
            and n
            and n not in ctes
            and not n.split(".")[-1].startswith(("#", "@"))
            and n not in ("inserted", "deleted")
        )

    writes = set()
    for t in targets:
        if not t.db and isinstance(tree, (exp.Update, exp.Delete)) and _name(t) in aliases:
            t = aliases[_name(t)]  # the aliased source, a table variable or temporary table too
        if keep(t):
            writes.add(_name(t))
    target_ids = {id(t) for t in targets}
    reads = {_name(t) for t in tree.find_all(exp.Table) if id(t) not in target_ids | variables and keep(t)}
    return reads, writes


def ours(sql, platform):
    r = inventory.references(sql, platform=platform)

    def norm(names):
        return {n.lower() for n in names if n.lower() not in ("inserted", "deleted")}

    return norm(r.reads), norm(r.writes)


# Corpus folder (our platform identifier) and sqlglot's dialect.
SQLGLOT_DIALECTS = [
    ("sqlserver", "tsql"),
    ("postgresql", "postgres"),
    ("mysql", "mysql"),
    ("snowflake", "snowflake"),
    ("bigquery", "bigquery"),
]


@needs_corpus
@pytest.mark.parametrize(("platform", "dialect"), SQLGLOT_DIALECTS)
def test_tables_agree_with_sqlglot(platform, dialect):
    sqlglot = pytest.importorskip("sqlglot")
    from sqlglot import exp

    compared = agreed = 0
    disagreements = []
    for path in CORPUS:
        if platform not in path.parts:
            continue
        for sql in statements(read(path), platform):
            try:
                trees = sqlglot.parse(sql, read=dialect)
            except Exception:  # noqa: BLE001 - a statement sqlglot cannot parse is left out
                continue
            if len(trees) != 1 or not isinstance(trees[0], (exp.Select, exp.Insert, exp.Update, exp.Delete, exp.Merge)):
                continue
            if trees[0].find(exp.Command) is not None:
                continue
            theirs = sqlglot_tables(trees[0], select_into=platform != "mysql")
            mine = ours(sql, platform)
            compared += 1
            if mine == theirs:
                agreed += 1
            else:
                disagreements.append((path.name, " ".join(sql.split())[:160], mine, theirs))
    for name, sql, mine, theirs in disagreements:
        print(
            f"{name}: {sql}\n  ours   reads={sorted(mine[0])} writes={sorted(mine[1])}\n"
            f"  sqlglot reads={sorted(theirs[0])} writes={sorted(theirs[1])}"
        )
    rate = agreed / compared if compared else 1.0
    print(f"sqlglot cross-check ({platform}): {agreed}/{compared} statements agree ({rate:.2%})")
    assert compared >= 10
    assert rate >= 0.95


# --- names on the corpus -----------------------------------------------------

DECLARED = re.compile(r"(?i)\bdeclare\s+([a-z_][\w$]*)")
CATALOGS = re.compile(r"(?i)(^|\.)(information_schema|pg_catalog|performance_schema)(\.|$)|^pg_\w+$")


@needs_corpus
def test_corpus_names_are_no_keywords_variables_or_catalogs():
    from agents.quorvane.assessment.dependencies import Unit, build_graph

    units = []
    wrong = []
    for path in CORPUS:
        text = read(path)
        platform = path.relative_to(CORPUS_ROOT).parts[0]
        lines = text.splitlines()
        for o in inventory.split_objects(text, platform=platform):
            units.append(Unit(str(path), o, "simple", platform))
            body = "\n".join(lines[o.start_line - 1 : o.end_line])
            declared = set() if platform == "sqlserver" else {d.casefold() for d in DECLARED.findall(body)}
            for name in (*o.reads, *o.writes, *o.calls):
                if name.casefold() in model.RESERVED or name.casefold() in declared:
                    wrong.append((path.name, o.start_line, name))
    graph = build_graph(units)
    wrong += [("missing", 0, m.name) for m in graph.missing if m.name.casefold() in model.RESERVED]
    wrong += [
        ("missing", 0, m.name)
        for m in graph.missing
        if CATALOGS.search(m.name) and units[m.referenced_by[0]].platform in ("postgresql", "redshift", "mysql")
    ]
    assert wrong == []
