"""The detector's own tables: the evidence rows and the readings of
catalogue markers, their records, and what each row finds."""

from __future__ import annotations

import re
from re import _constants as sre, _parser as sre_parse  # type: ignore[attr-defined]

import pytest

from agents.quorvane import platform_detect as pd

ROWS = {row.id: row for row in pd.scan_rows()}

# For every evidence row: a short line of real syntax it finds, and (where a
# near miss is plausible) one it must not find.
EXAMPLES: dict[str, tuple[str, str | None]] = {
    "databricks.delta_table_properties": (
        "TBLPROPERTIES ('delta.appendOnly' = 'true')",
        "TBLPROPERTIES ('orc.compress'='ZLIB')",
    ),
    "databricks.delta_commands": ("DESCRIBE DETAIL main.sales.orders", "DESCRIBE TABLE t"),
    "databricks.spark_cache": ("CACHE LAZY TABLE hot AS SELECT * FROM t", None),
    "databricks.unity_catalog": ("USE CATALOG analytics", "CREATE CATALOG INTEGRATION glue_int"),
    "databricks.workspace_paths": ("CREATE TABLE t LOCATION 'dbfs:/mnt/raw/t'", "LOCATION 's3://bucket/t'"),
    "databricks.ingestion_functions": ("SELECT * FROM read_files('/landing/x', format => 'csv')", None),
    "databricks.live_tables": ("SELECT * FROM STREAM(LIVE.raw_events)", None),
    "databricks.widgets": ("CREATE WIDGET TEXT run_date DEFAULT '2024-01-01'", None),
    "databricks.copy_into_fileformat": ("COPY INTO t FROM '/x' FILEFORMAT = PARQUET", "FILE_FORMAT = (TYPE = CSV)"),
    "snowflake.account_usage_views": ("SELECT * FROM snowflake.account_usage.query_history", None),
    "snowflake.system_functions": ("SELECT SYSTEM$CLUSTERING_INFORMATION('t')", None),
    "snowflake.account_objects": ("CREATE OR REPLACE FILE FORMAT csv_fmt TYPE = CSV", "CREATE FORMAT x"),
    "snowflake.transient_objects": ("CREATE TRANSIENT TABLE scratch (a INT)", None),
    "snowflake.use_role": ("USE ROLE ACCOUNTADMIN;", "USE sales;"),
    "snowflake.inline_file_format": ("FILE_FORMAT = (TYPE = 'PARQUET')", "WITH (FILE_FORMAT = parquet_ff)"),
    "snowflake.semi_structured_functions": ("SELECT IFF(a > 0, 'p', 'n') FROM t", "SELECT IIF(a > 0, 1, 0)"),
    "snowflake.routine_languages": ("RETURNS STRING LANGUAGE JAVASCRIPT AS", "LANGUAGE js"),
    "snowflake.replaceable_objects": (
        "CREATE OR REPLACE TASK t WAREHOUSE = wh AS SELECT 1",
        "CREATE OR REPLACE VIEW v AS SELECT 1",
    ),
    "snowflake.session_variables": ("SELECT * FROM TABLE($query_history)", "SELECT $1 FROM @stage"),
    "snowflake.scripting_let": ("  LET total NUMBER := 0;", "LET x"),
    "postgresql.system_catalogs": ("SELECT relname FROM pg_class", "SELECT * FROM pg_classes_archive"),
    "postgresql.statistics_and_size_functions": ("SELECT * FROM pg_stat_user_tables", "SELECT * FROM pg_stat_activity"),
    "postgresql.plpgsql_language": ("$$ LANGUAGE 'plpgsql';", None),
    "postgresql.plpgsql_function": (
        "CREATE FUNCTION f() RETURNS int AS $$ SELECT 1 $$ LANGUAGE plpgsql",
        "CREATE PROCEDURE p() AS $$ $$ LANGUAGE plpgsql",
    ),
    "postgresql.plpgsql_statements": ("RAISE NOTICE 'done %', n;", "RAISE ex_custom;"),
    "postgresql.procedural_languages": ("$$ LANGUAGE plpython3u;", "LANGUAGE plpythonu"),
    "postgresql.set_returning_and_trigger_functions": ("RETURNS SETOF orders AS", "RETURNS TABLE AS"),
    "postgresql.dump_settings": ("SET standard_conforming_strings = on;", "SET search_path = public;"),
    "postgresql.copy_stdin": ('COPY public."order" (id, amount) FROM stdin;', "COPY t FROM 's3://b/x'"),
    "postgresql.jsonb": ("payload JSONB NOT NULL", "payload JSON"),
    "postgresql.index_methods": ("CREATE INDEX i ON t USING gist (geom)", "CREATE INDEX i USING BTREE ON t (a)"),
    "mysql.definer_security": ("CREATE DEFINER=`root`@`localhost` VIEW v AS SELECT 1", None),
    "mysql.table_locks": ("UNLOCK TABLES;", "LOCK TABLE t IN EXCLUSIVE MODE"),
    "mysql.table_options": (") ENGINE=InnoDB DEFAULT CHARSET=latin1;", "COLLATE Latin1_General_CI_AS"),
    "mysql.types": ("body LONGTEXT NOT NULL", "body TEXT"),
    "mysql.condition_handlers": ("DECLARE EXIT HANDLER FOR SQLEXCEPTION ROLLBACK;", None),
    "mysql.functions": ("SELECT LAST_INSERT_ID();", None),
    "mysql.limit_offset_comma": ("SELECT * FROM t LIMIT 20, 10", "SELECT * FROM t LIMIT 10 OFFSET 20"),
    "sqlserver.local_variables": ("DECLARE @rows INT = 0;", "DECLARE v_rows INT;"),
    "sqlserver.procedure_forms": ("CREATE OR ALTER PROC dbo.p AS SELECT 1", "CREATE OR REPLACE PROCEDURE p"),
    "sqlserver.system_functions": ("IF OBJECT_ID('dbo.t') IS NOT NULL DROP TABLE dbo.t", None),
    "sqlserver.catalog_views": ("SELECT * FROM sys.dm_exec_requests", "SELECT * FROM sys.dba_users"),
    "sqlserver.session_options": ("SET QUOTED_IDENTIFIER ON", "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"),
    "sqlserver.transaction_abbreviation": ("BEGIN TRAN;", "BEGIN TRANSACTION;"),
    "sqlserver.merge_action": ("OUTPUT $action, inserted.id INTO @log;", "AS $action$ SELECT 1 $action$"),
    "sqlserver.dbo_schema": ("SELECT * FROM dbo.Orders", "SELECT * FROM dbox.Orders"),
    "sqlserver.max_length_types": ("body NVARCHAR(MAX)", "body VARCHAR(MAX)"),
    "sqlserver.print": ("PRINT N'done';", "  PRINTED = 1"),
    "oracle.dictionary_views": ("SELECT * FROM user_tab_columns", "SELECT * FROM user_sessions"),
    "oracle.dynamic_performance_views": ("SELECT * FROM gv$session", "$v$ BEGIN"),
    "oracle.dual": ("SELECT SYSDATE FROM dual", "SELECT * FROM dual_control"),
    "oracle.system_functions": ("SELECT SYS_GUID() FROM t", None),
    "oracle.cursor_attributes": ("IF c_orders%NOTFOUND THEN", "WHERE name LIKE '%FOUND'"),
    "oracle.plsql_types": ("TYPE t_ids IS TABLE OF NUMBER;", None),
    "oracle.predefined_exceptions": ("WHEN DUP_VAL_ON_INDEX THEN", "WHEN NO_DATA_FOUND THEN"),
    "redshift.python_udf_language": ("$$ LANGUAGE plpythonu;", "LANGUAGE plpython3u"),
    "redshift.system_views_functions": ("SELECT * FROM pg_table_def WHERE schemaname = 'public'", None),
    "redshift.late_binding_view": ("CREATE VIEW v AS SELECT * FROM s.t WITH NO SCHEMA BINDING;", None),
    "redshift.external_schema": ("CREATE EXTERNAL SCHEMA spectrum FROM DATA CATALOG DATABASE 'db'", None),
    "redshift.maintenance_commands": ("VACUUM DELETE ONLY sales;", "VACUUM FULL sales;"),
    "redshift.session_settings": ("SET wlm_query_slot_count TO 3;", None),
    "redshift.copy_from_aws": (
        "COPY sales FROM 's3://bucket/sales/' IAM_ROLE default",
        "COPY INTO sales FROM 's3://b/'",
    ),
    "shared.getdate": ("WHERE d < GETDATE()", None),
    "shared.dateadd_datediff": ("DATEADD(day, -7, d)", "dateadd('day', 1, d)"),
    "shared.charindex_len": ("CHARINDEX('.', name)", None),
    "shared.varchar_max": ("note VARCHAR(MAX)", None),
    "shared.nvl": ("NVL(a, 0)", None),
    "shared.listagg": ("LISTAGG(name, ',')", None),
    "shared.sysdate": ("WHERE d < SYSDATE", None),
    "shared.convert_timezone": ("CONVERT_TIMEZONE('UTC', 'PST', ts)", None),
    "shared.parameter_mode_after_name": ("PROCEDURE p (a IN INT, b OUT VARCHAR)", "PROCEDURE p (IN a INT)"),
    "bigquery.quoted_table_path": ("FROM `my-project.sales.orders`", "FROM `sales`.`orders`"),
    "bigquery.region_information_schema": ("FROM `region-eu`.INFORMATION_SCHEMA.JOBS", None),
    "bigquery.standard_types": ("CAST(x AS INT64)", "CAST(x AS BIGINT)"),
    "bigquery.date_time_functions": ("TIMESTAMP_DIFF(a, b, SECOND)", "DATE_ADD(d, INTERVAL 1 DAY)"),
    "bigquery.date_part_last": ("DATE_TRUNC(order_date, MONTH)", "DATE_TRUNC('month', order_date)"),
    "bigquery.temp_function": ("CREATE TEMP FUNCTION f(x INT64) AS (x + 1);", "CREATE TEMPORARY FUNCTION f AS 'c'"),
    "bigquery.array_subscripts": ("tags[OFFSET(0)]", None),
    "bigquery.functions": ("COUNTIF(status = 'ok')", "COUNT_IF(status = 'ok')"),
    "bigquery.object_options": ("OPTIONS (description = 'orders')", "OPTIONS (MAXDOP 1)"),
    "bigquery.ml": ("SELECT * FROM ML.PREDICT(MODEL m, TABLE t)", None),
    "teradata.dictionary_views": ("SELECT * FROM DBC.ColumnsV", None),
    "teradata.bteq_commands": (".IF ERRORCODE <> 0 THEN .QUIT 8;", "SELECT a\n  .b FROM t"),
    "teradata.server_character_sets": ("name VARCHAR(50) CHARACTER SET LATIN", "CHARACTER SET latin1"),
    "teradata.collect_stats": ("COLLECT STATS ON t COLUMN (a);", None),
    "teradata.replace_object": ("REPLACE VIEW v AS SELECT 1;", "CREATE OR REPLACE VIEW v AS SELECT 1"),
    "teradata.hash_functions": ("SELECT HASHAMP(HASHBUCKET(HASHROW(a))) FROM t", None),
    "teradata.statement_abbreviations": ("DEL FROM t WHERE a = 1;", "    del tmp_list  # Python in a $$ body"),
    "teradata.system_libraries": ("SELECT TD_SYSFNLIB.OREPLACE(a, 'x', 'y')", None),
    "hive.row_format": ("ROW FORMAT SERDE 'org.apache.hadoop.hive.serde2.OpenCSVSerde'", None),
    "hive.stored_as": ("STORED AS ORC", "STORED AS PLAIN"),
    "hive.typed_partition_columns": ("PARTITIONED BY (dt STRING)", "PARTITIONED BY (dt)"),
    "hive.hdfs_location": ("LOCATION 'hdfs://nn:8020/warehouse/t'", None),
    "hive.settings": ("SET hive.exec.dynamic.partition=true;", "SET spark.sql.x=1"),
    "hive.storage_handler": ("STORED BY 'org.apache.hadoop.hive.hbase.HBaseStorageHandler'", None),
    "hive.variable_substitution": ("SELECT * FROM ${hivevar:db}.t", "SELECT '${x}'"),
    "hive.lateral_view": ("LATERAL VIEW OUTER explode(tags) t AS tag", None),
    "hive.load_data_inpath": ("LOAD DATA LOCAL INPATH '/tmp/x' INTO TABLE t", "LOAD DATA INFILE 'x'"),
    "hive.buckets": ("CLUSTERED BY (id) INTO 16 BUCKETS", None),
    "hive.resources": ("ADD JAR /opt/udfs.jar;", "ALTER DATABASE d\nADD FILE (NAME = d2, FILENAME = 'x')"),
    "hive.class_functions": ("CREATE TEMPORARY FUNCTION norm AS 'com.example.Norm';", None),
    "hive.insert_overwrite": ("INSERT OVERWRITE TABLE t SELECT 1", "INSERT OVERWRITE INTO t SELECT 1"),
    "hive.distribute_sort_by": ("SELECT * FROM t DISTRIBUTE BY a", "ORDER BY a"),
    "hive.static_partition_spec": ("INSERT INTO t PARTITION (dt='2024-01-01') SELECT 1", "PARTITION (p1)"),
    "hive.collection_functions": ("SELECT collect_set(a) FROM t", None),
}


def _found(row_id: str, sql: str) -> bool:
    return pd.first_lines(sql)[list(ROWS).index(row_id)] > 0


def test_every_evidence_row_has_an_example():
    assert set(EXAMPLES) == {row.id for row in pd.evidence()}


@pytest.mark.parametrize("row_id", sorted(EXAMPLES))
def test_row_finds_its_construct_and_not_its_near_miss(row_id):
    example, near_miss = EXAMPLES[row_id]
    assert _found(row_id, example)
    if near_miss is not None:
        assert not _found(row_id, near_miss)


def _constructs(pattern: str) -> set[str]:
    """The regular-expression constructs a pattern uses: opcodes, anchors and classes."""
    found: set[str] = set()

    def walk(items) -> None:
        for op, arg in items:
            found.add(str(op))
            if op in (sre.AT,) or op is sre.CATEGORY:
                found.add(str(arg))
            elif op is sre.IN:
                for sub_op, sub_arg in arg:
                    found.add("IN:" + str(sub_op))
                    if sub_op is sre.CATEGORY:
                        found.add(str(sub_arg))
            elif op is sre.SUBPATTERN:
                walk(arg[-1])
            elif op in (sre.MAX_REPEAT, sre.MIN_REPEAT):
                walk(arg[2])
            elif op is sre.BRANCH:
                for branch in arg[1]:
                    walk(branch)
            elif op in (sre.ASSERT, sre.ASSERT_NOT):
                found.add(f"{op}:{'behind' if arg[0] < 0 else 'ahead'}")
                walk(arg[1])

    walk(sre_parse.parse(pattern, re.IGNORECASE | re.MULTILINE))
    return found


def test_evidence_patterns_use_only_constructs_the_catalogue_uses():
    # The native translator compiles the catalogue's constructs; evidence rows
    # are compiled by the same machinery, so they may use nothing else.
    allowed = set().union(*(_constructs(m.pattern) for m in pd.markers()))
    for row in pd.evidence():
        assert _constructs(row.pattern) <= allowed, (row.id, _constructs(row.pattern) - allowed)
        assert row.pattern.isascii() and "\n" not in row.pattern and "\t" not in row.pattern


def test_rows_and_readings_are_well_formed():
    ids = [row.id for row in pd.scan_rows()]
    assert len(ids) == len(set(ids)) == len(pd.markers()) + len(pd.evidence())
    catalogue = {m.id for m in pd.markers()}
    for row in pd.evidence():
        assert row.justification and len(row.justification) < 120, row.id
        assert row.weight in (1.0, 2.0)
        assert row.corroborating_only == (len(row.platforms) > 2 or row.id.startswith("shared.")), row.id
    for reading in pd.readings():
        assert reading.marker in catalogue and reading.justification
        assert set(reading.cancelled_by) <= set(ids)
    assert len({r.marker for r in pd.readings()}) == len(pd.readings())


@pytest.mark.parametrize(
    "override, error",
    [
        ({"id": "nosuch.row"}, ValueError),
        ({"id": "mysql.Bad-Name"}, ValueError),
        ({"platforms": ("hive", "mysql")}, ValueError),  # the prefix's platform comes first
        ({"platforms": "mysql"}, TypeError),
        ({"platforms": ()}, ValueError),
        ({"weight": 0.0}, ValueError),
        ({"justification": " "}, ValueError),
        ({"pattern": "(unclosed"}, ValueError),
        ({"scope": "line"}, ValueError),
    ],
)
def test_evidence_record_rejects_invalid_fields(override, error):
    fields = {
        "id": "mysql.demo",
        "platforms": ("mysql",),
        "weight": 2.0,
        "pattern": r"\bDEMO\b",
        "justification": "a documented construct",
    }
    with pytest.raises(error):
        pd.Evidence(**{**fields, **override})


def test_reading_record_rejects_invalid_fields():
    with pytest.raises(ValueError):
        pd.Reading(marker="mysql.hash_comment", justification="")
    with pytest.raises(ValueError):
        pd.Reading(marker="mysql.hash_comment", justification="x", platforms=("mysql", "sybase"))
    reading = pd.Reading(marker="mysql.hash_comment", justification="x", cancelled_by=["a.b"])
    assert reading.cancelled_by == ("a.b",) and hash(reading)
