"""What objects define, as a caller of ``split_objects`` sees it: columns
of tables, views and table functions, routine parameters and return types,
and the temporary tables and table variables a unit builds; the native
module against the model on definition-rich texts; and the columns against
sqlglot on the corpus."""

from __future__ import annotations

import re

import definitions_model  # noqa: F401 - the model the inventory model fills the fields with
import inventory_model as model
import pytest
from corpus import corpus_files
from hypothesis import given
from hypothesis import strategies as st

inventory = pytest.importorskip("agents.quorvane.inventory")


def unit(sql, name, platform=None):
    return next(o for o in inventory.split_objects(sql, platform=platform) if o.name == name)


def columns(obj):
    return [(c.name, c.type) for c in obj.columns]


COLUMN_CASES = [
    ("sqlserver", """CREATE TABLE [dbo].[Order Lines] (
        [Id] INT IDENTITY(1, 1) NOT NULL,
        Amount DECIMAL(18,  2) NOT NULL CONSTRAINT DF_Amount DEFAULT ((0)),
        Note [nvarchar](max) NULL,
        Total AS (Amount * 2) PERSISTED,
        CONSTRAINT PK_Lines PRIMARY KEY CLUSTERED (Id),
        CustomerId INT REFERENCES dbo.Customers (Id),
        [key] VARCHAR(10),
        INDEX IX_Customer NONCLUSTERED (CustomerId)
     )""", "dbo.Order Lines",
     [("Id", "INT"), ("Amount", "DECIMAL(18, 2)"), ("Note", "nvarchar(max)"), ("Total", ""), ("CustomerId", "INT"),
      ("key", "VARCHAR(10)")]),
    ("sqlserver", "CREATE TYPE dbo.OrderRows AS TABLE (Id INT NOT NULL, Qty SMALLINT)", "dbo.OrderRows",
     [("Id", "INT"), ("Qty", "SMALLINT")]),
    ("sqlserver", "CREATE VIEW dbo.Totals (CustomerId, Total) AS SELECT c, SUM(a) FROM t GROUP BY c", "dbo.Totals",
     [("CustomerId", ""), ("Total", "")]),
    ("postgresql", """CREATE TABLE public.events (id bigserial PRIMARY KEY, at timestamp with time zone DEFAULT now()
        NOT NULL, tags text[], price numeric(10,2) CHECK (price > 0), "Order" integer, fulltext tsvector,
        UNIQUE (id, at));""", "public.events",
     [("id", "bigserial"), ("at", "timestamp with time zone"), ("tags", "text[]"), ("price", "numeric(10,2)"),
      ("Order", "integer"), ("fulltext", "tsvector")]),
    ("mysql", """CREATE TABLE `orders` (`id` INT(11) UNSIGNED NOT NULL AUTO_INCREMENT, `status` ENUM('new','paid')
        DEFAULT 'new', `note` VARCHAR(200) CHARACTER SET utf8mb4 COLLATE utf8mb4_bin, PRIMARY KEY (`id`),
        KEY `ix_status` (`status`)) ENGINE=InnoDB;""", "orders",
     [("id", "INT(11) UNSIGNED"), ("status", "ENUM('new','paid')"), ("note", "VARCHAR(200)")]),
    ("oracle", "CREATE TABLE hr.emp (id NUMBER(10) NOT NULL, name VARCHAR2(50 CHAR), hired DATE DEFAULT SYSDATE);",
     "hr.emp", [("id", "NUMBER(10)"), ("name", "VARCHAR2(50 CHAR)"), ("hired", "DATE")]),
    ("snowflake", """CREATE OR REPLACE TABLE db.s.t comment='{"v":1}' (id NUMBER(38,0) AUTOINCREMENT START 1
        INCREMENT 1, v VARIANT, ts TIMESTAMP_NTZ(9) COMMENT 'x');""", "db.s.t",
     [("id", "NUMBER(38,0)"), ("v", "VARIANT"), ("ts", "TIMESTAMP_NTZ(9)")]),
    ("bigquery", """CREATE TABLE ds.t (id INT64 NOT NULL, items ARRAY<STRUCT<sku STRING, qty INT64>>,
        at TIMESTAMP OPTIONS(description='x'));""", "ds.t",
     [("id", "INT64"), ("items", "ARRAY<STRUCT<sku STRING, qty INT64>>"), ("at", "TIMESTAMP")]),
    ("redshift", "CREATE TABLE s.t (id INT ENCODE az64 DISTKEY, name VARCHAR(64) ENCODE lzo, at TIMESTAMP SORTKEY);",
     "s.t", [("id", "INT"), ("name", "VARCHAR(64)"), ("at", "TIMESTAMP")]),
    ("teradata", """CREATE MULTISET TABLE db.t ,NO FALLBACK ,NO BEFORE JOURNAL (id INTEGER NOT NULL,
        name VARCHAR(50) CHARACTER SET LATIN NOT CASESPECIFIC, d DATE FORMAT 'YYYY-MM-DD') PRIMARY INDEX (id);""",
     "db.t", [("id", "INTEGER"), ("name", "VARCHAR(50)"), ("d", "DATE")]),
    ("hive", """CREATE TABLE db.t (id INT COMMENT 'key', m MAP<STRING, ARRAY<INT>>, s STRUCT<a:INT, b:STRING>)
        PARTITIONED BY (dt STRING) STORED AS ORC;""", "db.t",
     [("id", "INT"), ("m", "MAP<STRING, ARRAY<INT>>"), ("s", "STRUCT<a:INT, b:STRING>")]),
    ("databricks", """CREATE TABLE cat.s.t (id BIGINT GENERATED ALWAYS AS IDENTITY, amount DECIMAL(10,2),
        d DATE GENERATED ALWAYS AS (CAST(ts AS DATE))) USING DELTA;""", "cat.s.t",
     [("id", "BIGINT"), ("amount", "DECIMAL(10,2)"), ("d", "DATE")]),
]  # fmt: skip


@pytest.mark.parametrize(("platform", "sql", "name", "expected"), COLUMN_CASES)
def test_columns_of_tables_views_and_types(platform, sql, name, expected):
    assert columns(unit(sql, name, platform)) == expected


def params(obj):
    return [(p.name, p.type, p.default, p.mode) for p in obj.parameters]


ROUTINE_CASES = [
    ("sqlserver", """CREATE PROCEDURE dbo.LoadOrders @From DATE = '2020-01-01', @Count INT OUTPUT,
        @Rows dbo.OrderRows READONLY, @Tag AS NVARCHAR(20) = N'x' OUT
     AS BEGIN SET NOCOUNT ON; END""", "dbo.LoadOrders",
     [("@From", "DATE", "'2020-01-01'", "in"), ("@Count", "INT", None, "out"), ("@Rows", "dbo.OrderRows", None, "readonly"),
      ("@Tag", "NVARCHAR(20)", "N'x'", "out")], None),
    ("sqlserver", """CREATE FUNCTION dbo.Recent (@Days INT = 7) RETURNS @Out TABLE (Id INT PRIMARY KEY, Placed DATE)
     AS BEGIN RETURN END""", "dbo.Recent", [("@Days", "INT", "7", "in")], "@Out TABLE (Id INT PRIMARY KEY, Placed DATE)"),
    ("sqlserver", "CREATE FUNCTION dbo.Net(@Amount MONEY) RETURNS DECIMAL(18, 2) WITH SCHEMABINDING AS BEGIN RETURN 1 END",
     "dbo.Net", [("@Amount", "MONEY", None, "in")], "DECIMAL(18, 2)"),
    ("postgresql", """CREATE OR REPLACE FUNCTION public.total(p_id integer, OUT p_sum numeric, INOUT p_n int DEFAULT 0,
        VARIADIC p_rest text[]) RETURNS SETOF record LANGUAGE plpgsql AS $$ BEGIN RETURN; END $$;""", "public.total",
     [("p_id", "integer", None, "in"), ("p_sum", "numeric", None, "out"), ("p_n", "int", "0", "inout"),
      ("p_rest", "text[]", None, "in")], "SETOF record"),
    ("postgresql", "CREATE FUNCTION f(integer, numeric(10,2)) RETURNS TABLE (a int, b text) AS $$ SELECT 1, 'x' $$ LANGUAGE sql;",
     "f", [("", "integer", None, "in"), ("", "numeric(10,2)", None, "in")], "TABLE (a int, b text)"),
    ("mysql", "CREATE PROCEDURE p(IN p_id INT, OUT p_total DECIMAL(10,2), INOUT p_n INT) BEGIN SELECT 1; END;",
     "p", [("p_id", "INT", None, "in"), ("p_total", "DECIMAL(10,2)", None, "out"), ("p_n", "INT", None, "inout")], None),
    ("oracle", """CREATE OR REPLACE PROCEDURE hr.raise_salary (p_id IN NUMBER, p_pct IN OUT NOCOPY NUMBER,
        p_msg OUT VARCHAR2, p_when IN DATE DEFAULT SYSDATE) IS BEGIN NULL; END;""", "hr.raise_salary",
     [("p_id", "NUMBER", None, "in"), ("p_pct", "NUMBER", None, "inout"), ("p_msg", "VARCHAR2", None, "out"),
      ("p_when", "DATE", "SYSDATE", "in")], None),
    ("oracle", "CREATE FUNCTION hr.f (p NUMBER := 5) RETURN NUMBER IS BEGIN RETURN p; END;", "hr.f",
     [("p", "NUMBER", "5", "in")], "NUMBER"),
    ("snowflake", "CREATE OR REPLACE FUNCTION s.area(r FLOAT) RETURNS FLOAT LANGUAGE SQL AS 'pi() * r * r';", "s.area",
     [("r", "FLOAT", None, "in")], "FLOAT"),
    ("bigquery", "CREATE TEMP FUNCTION addx(x INT64, y INT64) RETURNS INT64 AS (x + y);", "addx",
     [("x", "INT64", None, "in"), ("y", "INT64", None, "in")], "INT64"),
    ("databricks", "CREATE FUNCTION f(x INT DEFAULT 1 COMMENT 'c') RETURNS INT RETURN x + 1;", "f",
     [("x", "INT", "1", "in")], "INT"),
]  # fmt: skip


@pytest.mark.parametrize(("platform", "sql", "name", "expected", "returns"), ROUTINE_CASES)
def test_parameters_and_return_types(platform, sql, name, expected, returns):
    obj = unit(sql, name, platform)
    assert (params(obj), obj.returns) == (expected, returns)


def test_a_table_function_declares_its_columns():
    obj = unit("CREATE FUNCTION dbo.Recent () RETURNS @Out TABLE (Id INT, Placed DATE) AS BEGIN RETURN END", "dbo.Recent")
    assert columns(obj) == [("Id", "INT"), ("Placed", "DATE")]


LOCAL = """CREATE PROCEDURE dbo.Stage AS
BEGIN
    DECLARE @n INT, @ids TABLE (Id INT NOT NULL, Seen BIT);
    CREATE TABLE #stage (Id INT, Name NVARCHAR(50));
    SELECT DISTINCT TOP (10) o.Id, o.Amount * 2 AS Doubled, Label = UPPER(o.Name), COUNT(*) n, c.*
    INTO #copy FROM dbo.Orders o JOIN dbo.Customers c ON c.Id = o.CustomerId;
    INSERT INTO #stage SELECT Id, Name FROM dbo.Orders;
END
"""


def test_temporary_tables_and_table_variables():
    got = [(t.name, [(c.name, c.type) for c in t.columns], t.line) for t in unit(LOCAL, "dbo.Stage").local_tables]
    assert got == [
        ("@ids", [("Id", "INT"), ("Seen", "BIT")], 3),
        ("#stage", [("Id", "INT"), ("Name", "NVARCHAR(50)")], 4),
        ("#copy", [("Id", ""), ("Doubled", ""), ("Label", ""), ("n", ""), ("c.*", "")], 6),
    ]


def test_temporary_tables_of_other_dialects():
    sql = """CREATE FUNCTION f() RETURNS void AS $$
    BEGIN
      CREATE TEMP TABLE scratch (k int, v text);
      SELECT a, b INTO TEMPORARY TABLE snap FROM t;
    END $$ LANGUAGE plpgsql;"""
    got = [(t.name, [(c.name, c.type) for c in t.columns]) for t in unit(sql, "f", "postgresql").local_tables]
    assert got == [("scratch", [("k", "int"), ("v", "text")]), ("snap", [("a", ""), ("b", "")])]


def test_alter_table_add_records_the_columns_it_adds():
    sql = """ALTER TABLE dbo.Orders ADD Note NVARCHAR(200) NULL, Flag BIT NOT NULL DEFAULT 0
GO
ALTER TABLE public.t ADD COLUMN IF NOT EXISTS a int, ADD COLUMN b text;
ALTER TABLE hr.emp ADD (c NUMBER(10), d DATE);
ALTER TABLE m ADD COLUMN x INT AFTER y;
ALTER TABLE dbo.Orders ADD CONSTRAINT PK_Orders PRIMARY KEY (Id)
"""
    got = [(a.table, columns(a), a.line) for o in inventory.split_objects(sql) for a in o.added_columns]
    assert got == [
        ("dbo.Orders", [("Note", "NVARCHAR(200)"), ("Flag", "BIT")], 1),
        ("public.t", [("a", "int"), ("b", "text")], 3),
        ("hr.emp", [("c", "NUMBER(10)"), ("d", "DATE")], 4),
        ("m", [("x", "INT")], 5),
    ]


# --- native module against the model ----------------------------------------

PIECES = [
    "CREATE TABLE t (", "CREATE TABLE #t (", "CREATE TEMP TABLE x (", "CREATE VIEW v (", "CREATE TYPE y AS TABLE (",
    "CREATE PROCEDURE p", "CREATE FUNCTION f (", "ALTER TABLE t ADD", "COLUMN", "IF NOT EXISTS", "RETURNS", "RETURN", "TABLE", "@t", "@p", "DECLARE", "AS", "INT",
    "DECIMAL(18, 2)", "VARCHAR(MAX)", "NOT NULL", "NULL", "IDENTITY(1,1)", "DEFAULT", "= 5", ":=", "OUTPUT", "OUT",
    "IN", "INOUT", "READONLY", "CONSTRAINT", "PRIMARY KEY", "KEY k", "INDEX", "CHECK (a > 0)", "WITH TIME ZONE",
    "CHARACTER SET", "STRUCT<a INT, b INT>", "<", ">", "(", ")", ",", ";", "SELECT", "INTO", "#c", "FROM", "x AS y",
    "TOP (5)", "DISTINCT", "*", "t.*", "c = 1", "'s'", "[q]", '"d"', "int[]", "$$", "BEGIN", "END", "\nGO\n",
    "--c\n", "/*", "*/", "\u00e9", "\U0001f600", "\u017fELECT", "\u212aEY",
]  # fmt: skip


@given(st.lists(st.sampled_from(PIECES), max_size=40).map(" ".join))
def test_native_matches_model_on_definition_texts(sql):
    native = [tuple(o.__dict__.values()) for o in inventory.split_objects(sql)]
    assert native == [tuple(o.__dict__.values()) for o in model.split_objects(sql)]


# --- sqlglot on the corpus ----------------------------------------------------

DIALECTS = {
    "sqlserver": "tsql", "postgresql": "postgres", "mysql": "mysql", "oracle": "oracle", "snowflake": "snowflake",
    "bigquery": "bigquery", "redshift": "redshift", "teradata": "teradata", "hive": "hive", "databricks": "databricks",
}  # fmt: skip
CORPUS = corpus_files()


def _type_key(text):
    return re.sub(r"[\s\[\]\"`]", "", text).lower()


@pytest.mark.skipif(not CORPUS, reason="shared corpus not present")
def test_table_columns_agree_with_sqlglot():
    sqlglot = pytest.importorskip("sqlglot")
    from sqlglot import exp

    tables = names_agree = cols = types_agree = 0
    disagreements = []
    for path in CORPUS:
        platform = next(p for p in path.parts if p in DIALECTS)
        dialect = DIALECTS[platform]
        text = path.read_text(encoding="utf-8", errors="surrogateescape")
        lines = text.splitlines()
        for obj in inventory.split_objects(text, platform=platform):
            if obj.kind != "table":
                continue
            try:
                trees = sqlglot.parse("\n".join(lines[obj.start_line - 1 : obj.end_line]), read=dialect)
            except Exception:  # noqa: BLE001 - a statement sqlglot cannot parse is left out
                continue
            tree = trees[0] if trees else None
            if not isinstance(tree, exp.Create) or not isinstance(tree.this, exp.Schema):
                continue
            defs = [c for c in tree.this.expressions if isinstance(c, exp.ColumnDef)]
            if not defs:
                continue
            tables += 1
            if [c.name.lower() for c in defs] != [c.name.lower() for c in obj.columns]:
                disagreements.append(f"{path.name} {obj.name}: {[c.name for c in obj.columns]} / {[c.name for c in defs]}")
                continue
            names_agree += 1
            for theirs, ours in zip(defs, obj.columns):
                kind = theirs.args.get("kind")
                expected = kind.sql(dialect) if kind is not None else ""
                cols += 1
                same = _type_key(expected) == _type_key(ours.type)
                if not same and ours.type:
                    try:  # the same type spelled another way (character varying / VARCHAR)
                        same = _type_key(exp.DataType.build(ours.type, dialect=dialect).sql(dialect)) == _type_key(expected)
                    except Exception:  # noqa: BLE001
                        pass
                types_agree += same
                if not same:
                    disagreements.append(f"{path.name} {obj.name}.{ours.name}: {ours.type!r} / {expected!r}")
    print("\n".join(disagreements))
    print(f"sqlglot columns: names {names_agree}/{tables} tables, types {types_agree}/{cols} columns")
    assert tables > 200
    assert names_agree >= 0.98 * tables
    assert types_agree >= 0.95 * cols
