"""The inventory read as each platform's dialect: comments, literals,
statement ends, declared variables and the words that name no object, one
group of small realistic scripts per dialect, run against the native module
and the Python model alike."""

from __future__ import annotations

import pytest

import inventory_model


@pytest.fixture(scope="module", params=["model", "native"])
def inv(request):
    if request.param == "model":
        return inventory_model
    return pytest.importorskip("agents.quorvane.inventory")


def units(inv, sql, platform):
    return [(o.kind, o.name, o.start_line, o.end_line) for o in inv.split_objects(sql, platform=platform)]


def refs(inv, sql, platform):
    r = inv.references(sql, platform=platform)
    return r.reads, r.writes, r.calls, r.dynamic_sql


def test_sqlserver(inv):
    header = (
        "/* Loads orders.\n"  # 1
        "   Usage: /* nested */ EXEC dbo.LoadOrders\n"  # 2
        "*/\n"  # 3
        "CREATE PROCEDURE dbo.LoadOrders AS\n"  # 4
        "  SELECT 1;\n"  # 5
        "  UPDATE TOP (50) PERCENT dbo.t SET a = 1;\n"  # 6
        "GO\n"
    )
    [proc] = inv.split_objects(header, platform="sqlserver")
    assert (proc.start_line, proc.end_line, proc.calls, proc.writes) == (4, 6, (), ("dbo.t",))
    # Without the dialect the first "*/" ends the comment, as everywhere.
    assert [o.calls for o in inv.split_objects(header)][0] == ("dbo.LoadOrders",)
    never = (
        "ALTER PARTITION FUNCTION pf() MERGE RANGE (100);\n"
        "ALTER PARTITION FUNCTION pf() SPLIT RANGE (200);\n"
        "CREATE LOGIN l FROM ASYMMETRIC KEY k;\n"
        "CREATE USER u FROM CERTIFICATE c;\n"
        "SELECT n.c.value('.', 'int') FROM dbo.x t CROSS APPLY t.doc.nodes('/r') AS n(c);\n"
        "SELECT $PARTITION.pf(c) FROM dbo.y;\n"
        "CREATE EVENT SESSION s ON SERVER ADD EVENT sqlserver.rpc_completed ADD TARGET package0.event_file"
        " (SET filename = N'f');\n"
        "WITH XMLNAMESPACES ('urn:x' AS ns), c AS (SELECT 1 AS a) SELECT * FROM c;\n"
    )
    assert refs(inv, never, "sqlserver") == (("dbo.x", "dbo.y"), (), (), False)


def test_postgresql(inv):
    sql = (
        "/* helpers /* nested */ SELECT * FROM not_code; */\n"  # 1
        "CREATE FUNCTION s.total(p_id int) RETURNS numeric AS $$\n"  # 2
        "DECLARE\n"  # 3
        "  v_total numeric;\n"  # 4
        "  v_sql text;\n"  # 5
        "BEGIN\n"  # 6
        "  SELECT sum(a) INTO v_total FROM s.orders WHERE id = p_id;\n"  # 7
        "  EXECUTE v_sql;\n"  # 8
        "  EXECUTE format('DELETE FROM %I', 'x');\n"  # 9
        "  PERFORM s.audit(v_total);\n"  # 10
        "  RETURN v_total;\n"  # 11
        "END;\n"  # 12
        "$$ LANGUAGE plpgsql;\n"  # 13
        "SELECT s.total(1) FROM s.checks;\n"  # 14
        "CREATE VIEW s.v AS SELECT * FROM @extschema@.t;\n"  # 15
        "SELECT 2;\n"  # 16
    )
    assert units(inv, sql, "postgresql") == [
        ("function", "s.total", 2, 13),
        ("batch", None, 14, 14),
        ("view", "s.v", 15, 15),
        ("batch", None, 16, 16),
    ]
    fn, batch, view, _ = inv.split_objects(sql, platform="postgresql")
    assert (fn.reads, fn.writes, fn.calls, fn.dynamic_sql) == (("s.orders",), (), ("s.audit",), True)
    assert batch.calls == ("s.total",) and view.reads == ("@extschema@.t",)


def test_mysql(inv):
    sql = (
        "# customer balance\n"  # 1
        "CREATE PROCEDURE get_balance(IN p_id INT)\n"  # 2
        "BEGIN\n"  # 3
        "  DECLARE v_total, v_count INT;\n"  # 4
        "  SELECT SUM(amount) INTO v_total FROM payment WHERE note = 'it\\'s; FROM x';\n"  # 5
        '  SELECT COUNT(*) INTO v_count FROM rental WHERE title = "FROM y";\n'  # 6
        "END;\n"  # 7
        "SELECT * FROM customer; # FROM z\n"  # 8
    )
    assert units(inv, sql, "mysql") == [("procedure", "get_balance", 2, 7), ("batch", None, 8, 8)]
    proc, batch = inv.split_objects(sql, platform="mysql")
    assert (proc.reads, proc.writes) == (("payment", "rental"), ())
    assert batch.reads == ("customer",)


def test_oracle(inv):
    sql = (
        "CREATE OR REPLACE PROCEDURE load_totals (p_day IN DATE) IS\n"  # 1
        "  v_total NUMBER;\n"  # 2
        "  CURSOR c_rows IS SELECT id FROM stage_rows;\n"  # 3
        "BEGIN\n"  # 4
        "  SELECT SUM(amount) INTO v_total FROM sales WHERE day = p_day;\n"  # 5
        "  INSERT INTO totals VALUES (p_day, v_total);\n"  # 6
        "END load_totals;\n"  # 7
        "SELECT * FROM totals;\n"  # 8
        "CREATE PACKAGE pkg AS\n  PROCEDURE a;\nEND pkg;\n"  # 9-11
    )
    assert units(inv, sql, "oracle") == [
        ("procedure", "load_totals", 1, 7),
        ("batch", None, 8, 8),
        ("package", "pkg", 9, 11),
    ]
    proc = inv.split_objects(sql, platform="oracle")[0]
    assert (proc.reads, proc.writes) == (("stage_rows", "sales"), ("totals",))


@pytest.mark.parametrize("end", ["", "/\n"])
def test_oracle_type_body_ends_at_its_own_end(inv, end):
    sql = (
        "CREATE OR REPLACE TYPE BODY shape_t AS\n"  # 1
        "  MEMBER FUNCTION area RETURN NUMBER IS\n"  # 2
        "  BEGIN\n"  # 3
        "    RETURN w * h;\n"  # 4
        "  END;\n"  # 5
        "  MEMBER PROCEDURE grow (f NUMBER) IS\n"  # 6
        "    v NUMBER;\n"  # 7
        "  BEGIN\n"  # 8
        "    UPDATE shapes SET w = w * f;\n"  # 9
        "  END grow;\n"  # 10
        "END;\n" + end + "CREATE TABLE body (a INT);\n"  # 11
    )
    last = 13 if end else 12
    assert units(inv, sql, "oracle") == [("type_body", "shape_t", 1, 11), ("table", "body", last, last)]
    assert inv.split_objects(sql, platform="oracle")[0].writes == ("shapes",)


def test_teradata_replace_defines_like_create(inv):
    sql = (
        "REPLACE PROCEDURE db.load_t1 (IN d DATE)\n"  # 1
        "BEGIN\n"  # 2
        "  INSERT INTO db.t1 SELECT * FROM db.t2 WHERE day = d;\n"  # 3
        "END;\n"  # 4
        "REPLACE VIEW db.v1 AS SELECT a FROM db.t1;\n"  # 5
        "REPLACE MACRO db.m1 (n INT) AS (\n"  # 6
        "  DELETE FROM db.t3 WHERE a = :n;\n"  # 7
        "  SELECT * FROM db.v1;\n"  # 8
        ");\n"  # 9
        "EXEC db.m1 (1);\n"  # 10
    )
    assert units(inv, sql, "teradata") == [
        ("procedure", "db.load_t1", 1, 4),
        ("view", "db.v1", 5, 5),
        ("macro", "db.m1", 6, 9),
        ("batch", None, 10, 10),
    ]
    proc, _, macro, batch = inv.split_objects(sql, platform="teradata")
    assert (proc.reads, proc.writes, proc.calls) == (("db.t2",), ("db.t1",), ())
    assert (macro.reads, macro.writes, batch.calls) == (("db.v1",), ("db.t3",), ("db.m1",))
    # Elsewhere REPLACE defines nothing.
    assert [o.kind for o in inv.split_objects(sql)] == ["batch"]


def test_snowflake(inv):
    sql = (
        "CREATE OR REPLACE PROCEDURE app.refresh()\n"  # 1
        "RETURNS VARCHAR LANGUAGE SQL\n"  # 2
        "AS\n"  # 3
        "DECLARE\n"  # 4
        "  n INTEGER;\n"  # 5
        "BEGIN\n"  # 6
        "  LET cnt INTEGER := 0;\n"  # 7
        "  SELECT COUNT(*) INTO :n FROM app.src;\n"  # 8
        "  INSERT INTO cnt SELECT 1;\n"  # 9
        "  RETURN 'ok';\n"  # 10
        "END;\n"  # 11
        "CREATE PROCEDURE app.js() RETURNS VARCHAR LANGUAGE JAVASCRIPT AS $$\n"  # 12
        "  var x = 1; snowflake.execute({sqlText: 'SELECT 1'});\n"  # 13
        "$$;\n"  # 14
        "CALL app.refresh();\n"  # 15
    )
    assert units(inv, sql, "snowflake") == [
        ("procedure", "app.refresh", 1, 11),
        ("procedure", "app.js", 12, 14),
        ("batch", None, 15, 15),
    ]
    refresh, js, call = inv.split_objects(sql, platform="snowflake")
    assert (refresh.reads, refresh.writes) == (("app.src",), ())
    assert js.calls == () and call.calls == ("app.refresh",)


def test_bigquery(inv):
    sql = (
        "CREATE TEMP FUNCTION add_one(x INT64) AS (x + 1);\n"  # 1
        'CREATE OR REPLACE FUNCTION ds.js(s STRING) RETURNS STRING LANGUAGE js AS r"""\n'  # 2
        "  return s; // FROM nothing;\n"  # 3
        '""";\n'  # 4
        "SELECT add_one(1), \"FROM a\", '''FROM b''' FROM ds.t  # FROM c\n"  # 5
        "JOIN region.INFORMATION_SCHEMA.JOBS j ON TRUE;\n"  # 6
    )
    assert units(inv, sql, "bigquery") == [
        ("function", "add_one", 1, 1),
        ("function", "ds.js", 2, 4),
        ("batch", None, 5, 6),
    ]
    assert inv.split_objects(sql, platform="bigquery")[2].reads == ("ds.t", "region.INFORMATION_SCHEMA.JOBS")


def test_databricks_and_hive(inv):
    sql = '/* a /* b */ SELECT * FROM not_code */\nCREATE FUNCTION f(x INT) RETURNS INT RETURN x + 1;\nSELECT "FROM a" FROM t;\n'
    assert units(inv, sql, "databricks") == [("function", "f", 2, 2), ("batch", None, 3, 3)]
    assert inv.split_objects(sql, platform="databricks")[1].reads == ("t",)
    assert refs(inv, "SELECT * FROM t -- x\n# FROM u\nJOIN v ON 1=1", "hive")[0] == ("t", "v")


def test_template_placeholders_stay_in_names(inv):
    sql = "SELECT * FROM ${schema}.orders o JOIN {{ ref('customers') }} c ON 1=1 JOIN @extschema@.t ON 1=1"
    assert refs(inv, sql, None)[0] == ("${schema}.orders", "{{ ref('customers') }}", "@extschema@.t")


def test_unknown_platform_is_refused(inv):
    with pytest.raises(ValueError):
        inv.split_objects("SELECT 1", platform="db2")
    with pytest.raises(TypeError):
        inv.references("SELECT 1", platform=1)


def test_names_in_executed_literals_are_dynamic_references(inv):
    tsql = (
        "CREATE PROCEDURE p AS\n"
        "SET @sql = N'SELECT * FROM dbo.Orders o JOIN ' + @t + N' x ON 1=1; EXEC dbo.Audit'\n"
        "SET @unused = 'DELETE FROM dbo.NotRun'\n"
        "EXEC (@sql)\n"
        "EXEC sp_executesql N'UPDATE [dbo].[Stats] SET n = 1 FROM @tv'\n"
    )
    [proc] = inv.split_objects(tsql, platform="sqlserver")
    assert proc.dynamic_references == ("dbo.Orders", "dbo.Audit", "dbo.Stats")
    assert (proc.reads, proc.writes, proc.calls) == ((), (), ())
    plsql = "BEGIN\n  EXECUTE IMMEDIATE 'TRUNCATE TABLE t1'; EXECUTE IMMEDIATE 'INSERT INTO s.t2 VALUES (1)';\nEND;\n"
    assert inv.split_objects(plsql, platform="oracle")[0].dynamic_references == ("s.t2",)


def test_declarations_and_ctes_stay_in_their_unit(inv):
    # A name the first routine declares (looked up quoted, too) or defines
    # as a CTE is a table in the second.
    sql = (
        "CREATE FUNCTION f() RETURNS int AS $$\nDECLARE v_total int;\nBEGIN\n"
        '  SELECT count(*) INTO "v_total" FROM orders;\n'
        "  WITH recent AS (SELECT 1) SELECT * FROM recent;\nEND;\n$$ LANGUAGE plpgsql;\n"
        "CREATE FUNCTION g() RETURNS int AS $$\nBEGIN\n"
        "  INSERT INTO v_total SELECT * FROM recent;\nEND;\n$$ LANGUAGE plpgsql;\n"
    )
    f, g = inv.split_objects(sql, platform="postgresql")
    assert (f.reads, f.writes) == (("orders",), ())
    assert (g.reads, g.writes) == (("recent",), ("v_total",))


@pytest.mark.parametrize(
    "platform,sql",
    [
        (
            "snowflake",
            "BEGIN\n  LET cnt INTEGER := 0;\n  INSERT INTO cnt SELECT 1;\n  INSERT INTO dst SELECT 2;\nEND;\n",
        ),
        (
            "oracle",
            "BEGIN\n  FOR r IN (SELECT id FROM src) LOOP\n    INSERT INTO r SELECT 1 FROM dual;\n"
            "    INSERT INTO dst VALUES (1);\n  END LOOP;\nEND;\n",
        ),
    ],
)
def test_let_or_loop_alone_declares(inv, platform, sql):
    # A block whose only declaration is a LET or a FOR loop's record.
    assert [o.writes for o in inv.split_objects(sql, platform=platform)] == [("dst",)]
    assert inv.references(sql, platform=platform).writes == ("dst",)


@pytest.mark.parametrize("n", [3, 40])
def test_declared_names_and_repeated_tables_at_any_count(inv, n):
    # Few or many declarations and tables: the same answer either way.
    sql = (
        "CREATE FUNCTION f() RETURNS int AS $$\nDECLARE\n"
        + "".join(f"  v{i} int;\n" for i in range(n))
        + "BEGIN\n"
        + "".join(f"  SELECT a INTO V{i} FROM T{i} JOIN t{i} ON 1=1;\n" for i in range(n))
        + "END;\n$$ LANGUAGE plpgsql;\n"
    )
    (fn,) = inv.split_objects(sql, platform="postgresql")
    assert (fn.reads, fn.writes) == (tuple(f"T{i}" for i in range(n)), ())
