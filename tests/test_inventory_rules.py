"""The reference and splitting rules of the inventory, one small script per
rule, run against the native module and the Python model alike."""

from __future__ import annotations

import dataclasses
import pickle
import threading

import pytest

import inventory_model

R = dict  # expected fields of a References, those not given are empty


@pytest.fixture(scope="module", params=["model", "native"])
def inv(request):
    if request.param == "model":
        return inventory_model
    return pytest.importorskip("agents.quorvane.inventory")


def check(inv, sql, reads=(), writes=(), calls=(), temp_tables=(), dynamic_sql=False):
    got = inv.references(sql)
    assert (got.reads, got.writes, got.calls, got.temp_tables, got.dynamic_sql) == (
        tuple(reads),
        tuple(writes),
        tuple(calls),
        tuple(temp_tables),
        dynamic_sql,
    ), sql


READS = [
    ("SELECT a FROM dbo.T", ["dbo.T"]),
    ("SELECT * FROM a, b x, c AS y WHERE 1 = 1", ["a", "b", "c"]),
    ("SELECT * FROM a INNER JOIN b ON 1=1 LEFT OUTER JOIN c ON 1=1 FULL JOIN d ON 1=1 CROSS JOIN e", list("abcde")),
    ("SELECT * FROM a WITH (NOLOCK), b (NOLOCK), c t WITH (INDEX(ix)), d", list("abcd")),
    ("SELECT * FROM a OUTER APPLY (SELECT TOP 1 * FROM b WHERE b.k = a.k) x", ["a", "b"]),
    ("SELECT * FROM (SELECT * FROM inner_t) AS d, after_t", ["inner_t", "after_t"]),
    ("SELECT * FROM a WHERE EXISTS (SELECT 1 FROM b) AND x IN (SELECT y FROM c)", ["a", "b", "c"]),
    ("SELECT (SELECT MAX(v) FROM b), EXTRACT(YEAR FROM d), TRIM(' ' FROM s) FROM a", ["b", "a"]),
    ("SELECT * FROM srv.db.dbo.T4 JOIN db..T2 ON 1=1", ["srv.db.dbo.T4", "db..T2"]),
    ("SELECT * FROM dbo.T JOIN DBO.t ON 1=1 JOIN Dbo.T ON 1=1", ["dbo.T"]),
    ('SELECT * FROM [dbo].[My Table] JOIN "s"."q""t" ON 1=1 JOIN `b`.`c` ON 1=1', ["dbo.My Table", 's.q"t', "b.c"]),
    ("SELECT * FROM [a]]b].[ünï cødé]", ["a]b.ünï cødé"]),
    ("SELECT * FROM a PIVOT (SUM(v) FOR k IN ([x], [y])) p", ["a"]),
    ("SELECT * FROM a UNION ALL SELECT * FROM b EXCEPT SELECT * FROM c", ["a", "b", "c"]),
]


@pytest.mark.parametrize("sql,reads", READS)
def test_reads(inv, sql, reads):
    check(inv, sql, reads=reads)


WRITES = [
    ("INSERT INTO dbo.T (a) VALUES (1)", [], ["dbo.T"]),
    ("INSERT dbo.T SELECT * FROM dbo.S", ["dbo.S"], ["dbo.T"]),
    ("INSERT TOP (5) INTO t WITH (TABLOCK) (a) SELECT a FROM s", ["s"], ["t"]),
    ("UPDATE dbo.T SET a = 1 WHERE b = 2", [], ["dbo.T"]),
    ("UPDATE TOP (10) t SET a = 1", [], ["t"]),
    ("UPDATE a SET a.x = b.y FROM dbo.T a JOIN dbo.S b ON a.k = b.k", ["dbo.T", "dbo.S"], ["dbo.T"]),
    ("UPDATE a SET x = CASE WHEN 1=1 THEN 2 END FROM dbo.T AS a", ["dbo.T"], ["dbo.T"]),
    ("DELETE FROM dbo.T WHERE a = 1", [], ["dbo.T"]),
    ("DELETE dbo.T WHERE a = 1", [], ["dbo.T"]),
    ("DELETE a FROM dbo.T a JOIN dbo.S s ON s.k = a.k", ["dbo.T", "dbo.S"], ["dbo.T"]),
    ("DELETE FROM x FROM dbo.T x", ["dbo.T"], ["dbo.T"]),
    ("UPDATE d SET v = 1 FROM (SELECT TOP 1 * FROM dbo.S ORDER BY k) d", ["dbo.S"], ["dbo.S"]),
    ("UPDATE d SET v = 1 FROM (SELECT * FROM dbo.S JOIN dbo.U ON 1=1) d", ["dbo.S", "dbo.U"], []),
    (
        "MERGE INTO dbo.T AS t USING dbo.S AS s ON t.k = s.k WHEN MATCHED THEN UPDATE SET v = s.v "
        "WHEN NOT MATCHED THEN INSERT (k, v) VALUES (s.k, s.v) WHEN NOT MATCHED BY SOURCE THEN DELETE;",
        ["dbo.S"],
        ["dbo.T"],
    ),
    ("MERGE dbo.T t USING (SELECT * FROM dbo.S) s ON 1=1 WHEN MATCHED THEN DELETE;", ["dbo.S"], ["dbo.T"]),
    ("SELECT a, b INTO dbo.New FROM dbo.Old", ["dbo.Old"], ["dbo.New"]),
    ("TRUNCATE TABLE dbo.T", [], ["dbo.T"]),
    ("BULK INSERT dbo.T FROM 'c:\\data.csv' WITH (FIELDTERMINATOR = ',')", [], ["dbo.T"]),
    ("CREATE TABLE dbo.T (id int REFERENCES dbo.P (id))", ["dbo.P"], ["dbo.T"]),
    ("ALTER TABLE dbo.T ADD c int", [], ["dbo.T"]),
    ("DROP TABLE IF EXISTS dbo.A, dbo.B", [], ["dbo.A", "dbo.B"]),
    ("DELETE FROM t OUTPUT deleted.* INTO dbo.Archive", [], ["t", "dbo.Archive"]),
    ("INSERT OVERWRITE TABLE db.t SELECT * FROM db.s", ["db.s"], ["db.t"]),
]


@pytest.mark.parametrize("sql,reads,writes", WRITES)
def test_writes(inv, sql, reads, writes):
    check(inv, sql, reads=reads, writes=writes)


CALLS = [
    ("EXEC dbo.Proc1 @a = 1", R(calls=["dbo.Proc1"])),
    ("EXECUTE Proc2", R(calls=["Proc2"])),
    ("EXEC @rc = [dbo].[Proc 3] 1, 2", R(calls=["dbo.Proc 3"])),
    ("INSERT INTO #t EXEC dbo.Fill", R(calls=["dbo.Fill"], temp_tables=["#t"])),
    ("SELECT dbo.fnScalar(a), LEN(b), x.col.value('.', 'int') FROM t x", R(reads=["t"], calls=["dbo.fnScalar"])),
    ("SELECT * FROM dbo.fnTable(1) f JOIN fnPlain(2) g ON 1=1", R(calls=["dbo.fnTable", "fnPlain"])),
    ("SELECT * FROM OPENJSON(@j) CROSS APPLY STRING_SPLIT(@s, ',')", R()),
    ("CALL app.do_it(1)", R(calls=["app.do_it"])),
    ("EXECUTE AS USER = 'x'; GRANT EXECUTE ON dbo.P TO r", R()),
    ("SELECT @x.value('.', 'int'), @@ROWCOUNT", R()),
]


@pytest.mark.parametrize("sql,expected", CALLS)
def test_calls(inv, sql, expected):
    check(inv, sql, **expected)


DYNAMIC = [
    ("EXEC(@sql)", R()),
    ("EXEC (N'SELECT * FROM ' + @t)", R()),
    ("EXEC sp_executesql @stmt, N'@a int', @a = 1", R()),
    ("EXEC sys.sp_executesql N'SELECT 1'", R()),
    ("EXEC @rc = sp_executesql @s", R()),
    ("EXEC @procname", R()),
    ("EXECUTE IMMEDIATE 'DELETE FROM t'", R()),
]


@pytest.mark.parametrize("sql,expected", DYNAMIC)
def test_dynamic_sql(inv, sql, expected):
    check(inv, sql, dynamic_sql=True, **expected)


NEVER_TABLES = [
    # CTE names, in the statement that defines them, recursive ones included.
    ("WITH c AS (SELECT * FROM base) SELECT * FROM c JOIN c c2 ON 1=1", R(reads=["base"])),
    ("WITH a (x) AS (SELECT 1), b AS (SELECT * FROM a JOIN real_t ON 1=1) SELECT * FROM b", R(reads=["real_t"])),
    ("WITH r AS (SELECT 1 n UNION ALL SELECT n + 1 FROM r) SELECT * FROM r", R()),
    ("WITH c AS (SELECT 1 x) UPDATE c SET x = 2", R()),
    ("WITH c AS (SELECT 1 x) SELECT * FROM c; SELECT * FROM c", R(reads=["c"])),
    # Table variables, temporary tables, derived tables, aliases.
    ("DECLARE @t TABLE (a int); INSERT INTO @t SELECT a FROM @t t2; DELETE FROM @t", R()),
    ("SELECT * INTO #a FROM ##b; DROP TABLE #a; UPDATE #A SET x = 1", R(temp_tables=["#a", "##b"])),
    ("INSERT INTO [#r] SELECT * FROM tempdb..#s", R(temp_tables=["#r", "#s"])),
    ("SELECT * FROM (SELECT 1 AS x) AS d JOIN (VALUES (1)) v (x) ON 1=1", R()),
    # Comments and literals.
    ("SELECT 'FROM lit JOIN lit2' FROM a -- FROM c1\n/* FROM c2 */", R(reads=["a"])),
    ("SELECT N'it''s FROM x', [FROM y] FROM a", R(reads=["a"])),
    # Cursors and variables.
    ("FETCH NEXT FROM cur INTO @a, @b", R()),
    ("SELECT @v = x FROM a; SELECT x INTO @v2 FROM b", R(reads=["a", "b"])),
    # Trigger pseudo-tables.
    ("SELECT * FROM inserted i JOIN deleted d ON 1=1", R()),
]


@pytest.mark.parametrize("sql,expected", NEVER_TABLES)
def test_never_tables(inv, sql, expected):
    check(inv, sql, **expected)


ODD_INPUT = [
    "SELECT * FROM (((a",
    "SELECT * FROM a))) JOIN b",
    "BEGIN BEGIN SELECT 1 FROM t",
    "END END END",
    "SELECT 'unterminated FROM x",
    "/* unterminated FROM y",
    "SELECT [unterminated FROM z",
    "FROM",
    "EXEC",
    "UPDATE",
    "WITH",
    "MERGE INTO",
    "CREATE PROCEDURE",
    "SELECT * FROM $$ a",
    "\ufeffGO\r\nGO 5\n/\nDELIMITER //\nSELECT 1 //\n",
    "",
    "\udc80\U0010ffff FROM \u2028 x\x85y",
]


@pytest.mark.parametrize("sql", ODD_INPUT)
def test_odd_input_gives_a_result(inv, sql):
    refs = inv.references(sql)
    assert isinstance(refs.reads, tuple)
    units = inv.split_objects(sql)
    assert all(u.start_line <= u.end_line for u in units)


def test_unterminated_literal_is_plain_text(inv):
    check(inv, "SELECT 'oops FROM a", reads=["a"])


# --- splitting --------------------------------------------------------------


def units(inv, sql):
    return [(u.kind, u.name, u.start_line, u.end_line) for u in inv.split_objects(sql)]


def test_go_batches_and_objects(inv):
    sql = (
        "SET NOCOUNT ON\n"  # 1
        "GO\n"  # 2
        "-- the procedure\n"  # 3
        "CREATE OR ALTER PROCEDURE [dbo].[My Proc]\n"  # 4
        "AS\n"  # 5
        "BEGIN\n"  # 6
        "  CREATE TABLE #t (a int)\n"  # 7
        "  SELECT * FROM dbo.T\n"  # 8
        "END\n"  # 9
        "go 2\n"  # 10
        "CREATE VIEW v AS SELECT 1 AS x\n"  # 11
        "GO\n"  # 12
        "PRINT 'done'\n"  # 13
    )
    assert units(inv, sql) == [
        ("batch", None, 1, 1),
        ("procedure", "dbo.My Proc", 4, 9),
        ("view", "v", 11, 11),
        ("batch", None, 13, 13),
    ]


def test_routine_runs_to_end_of_batch(inv):
    sql = "CREATE PROC p AS\nSET NOCOUNT ON\nCREATE TABLE dbo.Made (a int)\nCREATE INDEX ix ON dbo.Made (a)\nGO\n"
    [(kind, name, start, end)] = units(inv, sql)
    assert (kind, name, start, end) == ("procedure", "p", 1, 4)
    [obj] = inv.split_objects(sql)
    assert obj.writes == ("dbo.Made",) and obj.reads == ("dbo.Made",)


def test_statement_level_creates_without_go(inv):
    sql = (
        "CREATE TABLE a (x int);\n"
        "INSERT INTO a VALUES (1);\n"
        "CREATE UNIQUE CLUSTERED INDEX ix_a ON a (x);\n"
        "CREATE OR REPLACE VIEW v AS SELECT * FROM a;\n"
        "CREATE SEQUENCE s START WITH 1;\n"
        "CREATE SYNONYM syn FOR dbo.a;\n"
        "CREATE SCHEMA sales;\n"
        "CREATE TYPE dbo.Money2 FROM decimal(18, 2);\n"
    )
    assert units(inv, sql) == [
        ("table", "a", 1, 2),
        ("index", "ix_a", 3, 3),
        ("view", "v", 4, 4),
        ("sequence", "s", 5, 5),
        ("synonym", "syn", 6, 6),
        ("schema", "sales", 7, 7),
        ("type", "dbo.Money2", 8, 8),
    ]
    objs = inv.split_objects(sql)
    assert objs[1].reads == ("a",) and objs[4].reads == ("dbo.a",) and objs[6].calls == ()
    assert objs[0].writes == ("a",)


def test_guarded_definitions_are_objects_of_their_own(inv):
    sql = (
        "IF OBJECT_ID(N'dbo.t') IS NULL\n"  # 1
        "BEGIN\n"  # 2
        "  CREATE TABLE dbo.t (a int)\n"  # 3
        "  CREATE INDEX ix ON dbo.t (a);\n"  # 4
        "  INSERT INTO dbo.log VALUES (1)\n"  # 5
        "END;\n"  # 6
        "SELECT * FROM dbo.u;\n"  # 7
        "IF SCHEMA_ID('s') IS NULL EXEC('CREATE SCHEMA s')\n"  # 8
    )
    assert units(inv, sql) == [("batch", None, 1, 8), ("table", "dbo.t", 3, 3), ("index", "ix", 4, 4)]
    batch, table, index = inv.split_objects(sql)
    assert batch.writes == ("dbo.log",) and batch.reads == ("dbo.u",) and batch.dynamic_sql
    assert table.writes == ("dbo.t",) and index.reads == ("dbo.t",)
    # A routine inside a block stays in it.
    proc = "CREATE PROCEDURE p AS\nBEGIN\n  IF 1 = 1 BEGIN CREATE TABLE dbo.x (a int) END\nEND\n"
    assert units(inv, proc) == [("procedure", "p", 1, 4)]


def test_oracle_slash_and_packages(inv):
    sql = (
        "CREATE OR REPLACE PACKAGE pkg AS\n  PROCEDURE p;\nEND pkg;\n/\n"
        "CREATE OR REPLACE PACKAGE BODY pkg AS\n  PROCEDURE p IS BEGIN DELETE FROM t1; END p;\nEND pkg;\n/\n"
        "CREATE OR REPLACE FUNCTION f RETURN NUMBER IS\nBEGIN\n  RETURN 1;\nEND;\n/\n"
    )
    assert units(inv, sql) == [
        ("package", "pkg", 1, 3),
        ("package_body", "pkg", 5, 7),
        ("function", "f", 9, 12),
    ]


def test_dollar_bodies(inv):
    sql = (
        "CREATE FUNCTION s.f() RETURNS int AS $$\nBEGIN\n  CREATE TABLE x (a int);\n"
        "  INSERT INTO s.log SELECT * FROM s.src;\n  RETURN 1;\nEND;\n$$ LANGUAGE plpgsql;\n"
        "SELECT s.f();\n"
        "CREATE PROCEDURE p() LANGUAGE sql AS $body$ DELETE FROM t $body$;\n"
    )
    assert units(inv, sql) == [
        ("function", "s.f", 1, 7),
        ("batch", None, 8, 8),
        ("procedure", "p", 9, 9),
    ]
    objs = inv.split_objects(sql)
    assert objs[0].writes == ("x", "s.log") and objs[0].reads == ("s.src",)
    assert objs[1].calls == ("s.f",)


def test_mysql_delimiter(inv):
    sql = (
        "DELIMITER $$\n"
        "CREATE DEFINER=`root`@`localhost` PROCEDURE p1()\nBEGIN\n  SELECT * FROM t1;\nEND $$\n"
        "CREATE PROCEDURE p2() BEGIN DELETE FROM t2; END$$\n"
        "DELIMITER ;\n"
    )
    assert units(inv, sql) == [("procedure", "p1", 2, 5), ("procedure", "p2", 6, 6)]


def test_alter_starts_objects_but_not_for_tables(inv):
    sql = "ALTER PROCEDURE p AS SELECT 1\nGO\nALTER TABLE t ADD c int\nGO\nALTER FUNCTION dbo.f() RETURNS int AS BEGIN RETURN 1 END\n"
    assert [(k, n) for k, n, _, _ in units(inv, sql)] == [
        ("procedure", "p"),
        ("batch", None),
        ("function", "dbo.f"),
    ]


def test_temp_table_create_is_no_object_but_a_temp_procedure_is(inv):
    assert units(inv, "CREATE TABLE #x (a int);\nSELECT * FROM #x;\n") == [("batch", None, 1, 2)]
    assert units(inv, "CREATE PROCEDURE #p AS EXEC #p\n") == [("procedure", "#p", 1, 1)]


def test_creates_in_comments_and_literals_are_not_objects(inv):
    sql = "/* CREATE PROCEDURE a AS */\n-- CREATE VIEW b AS\nEXEC('CREATE PROCEDURE c AS SELECT 1')\n"
    assert units(inv, sql) == [("batch", None, 3, 3)]


def test_line_numbers_follow_the_reading_plan(inv):
    sql = "SELECT 1\rGO\r\nCREATE VIEW a AS\x0bSELECT 2\u2028GO\x85CREATE VIEW b AS SELECT 3\x1c"
    assert units(inv, sql) == [("batch", None, 1, 1), ("view", "a", 3, 4), ("view", "b", 6, 6)]


def test_every_width_gives_the_same_result(inv):
    for extra in ("e", "\u00e9", "\u20ac", "\U0001f600"):
        sql = f"CREATE PROCEDURE p{extra} AS SELECT * FROM dbo.T{extra} JOIN [x{extra}] ON 1=1\nGO\n"
        [obj] = inv.split_objects(sql)
        assert (obj.kind, obj.name, obj.reads) == ("procedure", f"p{extra}", (f"dbo.T{extra}", f"x{extra}"))


def test_records_are_frozen_dataclasses(inv):
    obj = inv.split_objects("CREATE VIEW v AS SELECT * FROM t")[0]
    assert dataclasses.is_dataclass(obj)
    with pytest.raises(dataclasses.FrozenInstanceError):
        obj.kind = "x"  # type: ignore[misc]
    assert pickle.loads(pickle.dumps(obj)) == obj
    assert dataclasses.replace(obj, name="w").name == "w"
    refs = inv.references("SELECT * FROM t")
    assert dataclasses.asdict(refs)["reads"] == ("t",)


def test_bodies_in_other_languages_are_not_scanned(inv):
    sql = (
        "CREATE PROCEDURE p() RETURNS string LANGUAGE JAVASCRIPT AS $$\n"
        '  var s = "x".format(1); from_t = 1; // FROM js_table\n$$;\n'
        "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1 FROM sql_t $$ LANGUAGE sql;\n"
        "CREATE FUNCTION g() RETURNS int AS $$ import os; from os import path $$ LANGUAGE plpython3u;\n"
    )
    objs = inv.split_objects(sql)
    assert [(o.kind, o.name, o.reads, o.calls) for o in objs] == [
        ("procedure", "p", (), ()),
        ("function", "f", ("sql_t",), ()),
        ("function", "g", (), ()),
    ]


def test_a_result_does_not_depend_on_the_call_before():
    # Texts of one length that differ in one character, and one text read
    # as two dialects, in a row: each gives its own result.
    native = pytest.importorskip("agents.quorvane.inventory")
    calls = [
        ("SELECT * FROM t1 JOIN u ON 1=1", None, ("t1", "u")),
        ("SELECT * FROM t2 JOIN u ON 1=1", None, ("t2", "u")),
        ("SELECT * FROM t # JOIN v ON 1=1\nJOIN u ON 1=1", None, ("t", "v", "u")),
        ("SELECT * FROM t # JOIN v ON 1=1\nJOIN u ON 1=1", "mysql", ("t", "u")),
        ("SELECT * FROM t # JOIN v ON 1=1\nJOIN u ON 1=1", None, ("t", "v", "u")),
    ]
    for sql, platform, reads in calls:
        objects = native.split_objects(sql, platform=platform)
        assert native.references(sql, platform=platform).reads == reads
        assert objects[0].reads == reads
    # A script of two units, then the whole of it: both units' tables.
    sql = "CREATE VIEW v AS SELECT * FROM a\nGO\nSELECT * FROM b\n"
    assert [o.reads for o in native.split_objects(sql)] == [("a",), ("b",)]
    assert native.references(sql).reads == ("a", "b")


def test_a_result_does_not_depend_on_another_threads_calls():
    # A thread splits its script, another splits and reads its own in
    # between, then the first reads its script: each gets its own tables.
    native = pytest.importorskip("agents.quorvane.inventory")
    split_a, done_b = threading.Event(), threading.Event()
    seen = {}

    def first() -> None:
        native.split_objects("SELECT * FROM ta")
        split_a.set()
        done_b.wait(10)
        seen["a"] = native.references("SELECT * FROM ta").reads
        seen["c"] = native.references("SELECT * FROM tc").reads

    def second() -> None:
        split_a.wait(10)
        native.split_objects("SELECT * FROM tb")
        seen["b"] = native.references("SELECT * FROM tb").reads
        done_b.set()

    threads = [threading.Thread(target=first), threading.Thread(target=second)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert seen == {"a": ("ta",), "b": ("tb",), "c": ("tc",)}
