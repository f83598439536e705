"""The platform detector's own tables: how it reads catalogue markers, and
the evidence rows it adds beside the catalogue.

Two tables, as data:

* ``READINGS``: catalogue markers whose syntax the documentation of more
  platforms than the marker names accepts, or that Redshift does not accept
  although they name PostgreSQL, or that a context cancels.
* ``EVIDENCE``: rows in the catalogue's own form (identifier, platforms,
  pattern, optional scope) plus a weight and a one-line justification that
  cites the documented syntax or system object.  Only constructs a
  platform's documentation makes distinctive: system views and functions,
  storage clauses, procedural languages, file-level commands, type names.

Patterns use only the regular-expression constructs the catalogue uses
(word boundaries, ``\\s \\S \\w \\d``, classes, groups, alternation, bounded
and lazy repeats, negative look-ahead, line anchors) and are matched like
the catalogue's: ignoring case, ``^``/``$`` at every line, comments removed,
matches beginning inside a single-quoted literal ignored.  A pattern must
therefore begin outside any literal it describes (``LOCATION\\s+'hdfs://``,
not ``'hdfs://``).

This module imports only the platform vocabulary (:mod:`agents.quorvane.platforms`);
:mod:`agents.quorvane.platform_detect` reads both tables when it loads.
"""

from __future__ import annotations

from agents.quorvane.platforms import (
    PLATFORM_BIGQUERY as BQ,
    PLATFORM_DATABRICKS as DBX,
    PLATFORM_HIVE as HIVE,
    PLATFORM_MYSQL as MYSQL,
    PLATFORM_ORACLE as ORA,
    PLATFORM_POSTGRESQL as PG,
    PLATFORM_REDSHIFT as RS,
    PLATFORM_SNOWFLAKE as SF,
    PLATFORM_SQLSERVER as MSSQL,
    PLATFORM_TERADATA as TD,
    Evidence,
    Reading,
)

STRONG = 2.0  # a construct only the named platforms document (a "high" marker's weight)
SUPPORTING = 1.0  # documented and distinctive, but common in few scripts or easy to meet elsewhere

READINGS: tuple[Reading, ...] = (
    Reading(
        marker="postgresql.dollar_quoted_body",
        platforms=(PG, RS, SF, DBX),
        corroborating_only=True,
        cancelled_by=("mysql.delimiter_command",),
        justification="$$-quoted routine bodies are documented by PostgreSQL, Redshift (UDFs, procedures), "
        "Snowflake (procedures, UDFs) and Databricks (Python UDFs); after a MySQL DELIMITER command "
        "$$ is the statement delimiter",
    ),
    Reading(
        marker="mysql.hash_comment",
        platforms=(MYSQL, BQ),
        corroborating_only=True,
        justification="# starts a comment in MySQL and in BigQuery",
    ),
    Reading(
        marker="oracle.legacy_outer_join",
        compatible=(RS, SF),
        justification="Redshift and Snowflake accept Oracle's (+) outer-join operator for compatibility",
    ),
    Reading(
        marker="oracle.insert_all_first",
        platforms=(ORA, SF),
        corroborating_only=True,
        justification="Snowflake documents the multi-table INSERT ALL / INSERT FIRST as well",
    ),
    Reading(
        marker="bigquery.string_prefix_triple_quote",
        platforms=(BQ, DBX, MYSQL, PG),
        corroborating_only=True,
        justification="r'' raw literals are also Databricks syntax, b'' bit literals MySQL and PostgreSQL syntax",
    ),
    Reading(
        marker="bigquery.struct_space_type",
        platforms=(BQ, DBX),
        corroborating_only=True,
        justification="Databricks accepts STRUCT<name type> with the colon omitted",
    ),
    Reading(
        marker="snowflake.timestamp_ntz_ltz_tz",
        platforms=(SF, DBX),
        corroborating_only=True,
        justification="Databricks documents the TIMESTAMP_NTZ and TIMESTAMP_LTZ types too",
    ),
    Reading(
        marker="shared.minus_setop",
        platforms=(ORA, TD, SF, RS, DBX),
        justification="Snowflake, Redshift and Databricks document MINUS as a synonym of EXCEPT",
    ),
    Reading(
        marker="shared.top_n_bare",
        platforms=(MSSQL, TD, RS),
        justification="Redshift documents SELECT TOP n",
    ),
    Reading(
        marker="shared.ilike",
        platforms=(PG, RS, SF, DBX),
        justification="Databricks documents ILIKE",
    ),
    Reading(
        marker="hive.string_angle_bracket_colon",
        platforms=(HIVE, DBX),
        justification="ARRAY<...>, MAP<k, v> and STRUCT<name: type> are documented by Hive and by Databricks",
    ),
    Reading(
        marker="hive.msck_repair",
        platforms=(HIVE, DBX),
        justification="Databricks documents MSCK REPAIR TABLE as well",
    ),
    Reading(
        marker="databricks.struct_colon_type",
        platforms=(DBX, HIVE),
        justification="STRUCT<name: type> is Hive's own struct syntax as much as Databricks'",
    ),
)


EVIDENCE: tuple[Evidence, ...] = (
    # --- Databricks (Spark SQL) ---------------------------------------------
    Evidence(
        "databricks.delta_table_properties", (DBX,), STRONG,
        r"\bTBLPROPERTIES\s*\(\s*'delta\.",
        "Delta Lake table properties are named delta.* (Databricks: Delta table properties reference)",
    ),
    Evidence(
        "databricks.delta_commands", (DBX,), STRONG,
        r"\bDESCRIBE\s+DETAIL\b|\bCONVERT\s+TO\s+DELTA\b|\bRESTORE\s+TABLE\b|\bFSCK\s+REPAIR\s+TABLE\b",
        "DESCRIBE DETAIL, CONVERT TO DELTA, RESTORE TABLE and FSCK REPAIR TABLE are Delta Lake commands",
    ),
    Evidence(
        "databricks.spark_cache", (DBX,), STRONG,
        r"\b(UN)?CACHE\s+(LAZY\s+)?TABLE\b|\bCLEAR\s+CACHE\b|\bREFRESH\s+TABLE\b",
        "CACHE TABLE, UNCACHE TABLE, CLEAR CACHE and REFRESH TABLE are Spark SQL cache commands",
    ),
    Evidence(
        "databricks.unity_catalog", (DBX,), STRONG,
        r"\b(CREATE|USE|ALTER|DROP)\s+CATALOG\b(?!\s+INTEGRATION)|\b(CREATE|ALTER|DROP)\s+VOLUME\b|\bMANAGED\s+LOCATION\b",
        "catalogs, volumes and MANAGED LOCATION are Unity Catalog objects and clauses",
    ),
    Evidence(
        "databricks.workspace_paths", (DBX,), STRONG,
        r"\b(LOCATION|FROM|INTO|AS)\s+'(dbfs:/|/dbfs/|/Volumes/)",
        "dbfs:/ and /Volumes/ paths address the Databricks file system and Unity Catalog volumes",
    ),
    Evidence(
        "databricks.ingestion_functions", (DBX,), STRONG,
        r"\b(cloud_files|read_files|read_kafka|read_kinesis)\s*\(",
        "cloud_files (Auto Loader) and the read_files/read_kafka table functions are Databricks SQL",
    ),
    Evidence(
        "databricks.live_tables", (DBX,), STRONG,
        r"\b(FROM|JOIN)\s+(STREAM\s*\(\s*)?LIVE\s*\.\s*\w|\bSTREAM\s*\(\s*LIVE\s*\.",
        "LIVE.<dataset> and STREAM(LIVE.<dataset>) reference Delta Live Tables datasets",
    ),
    Evidence(
        "databricks.widgets", (DBX,), STRONG,
        r"\bCREATE\s+WIDGET\s+(TEXT|DROPDOWN|COMBOBOX|MULTISELECT)\b|\bgetArgument\s*\(",
        "CREATE WIDGET and getArgument() are Databricks notebook widgets",
    ),
    Evidence(
        "databricks.copy_into_fileformat", (DBX,), STRONG,
        r"\bFILEFORMAT\s*=\s*(CSV|JSON|PARQUET|AVRO|ORC|TEXT|BINARYFILE)\b",
        "COPY INTO ... FILEFORMAT = <format> is the Databricks form (Snowflake writes FILE_FORMAT)",
    ),
    # --- Snowflake ---------------------------------------------------------
    Evidence(
        "snowflake.account_usage_views", (SF,), STRONG,
        r"\bSNOWFLAKE\s*\.\s*(ACCOUNT_USAGE|ORGANIZATION_USAGE|READER_ACCOUNT_USAGE|DATA_SHARING_USAGE)\b",
        "the SNOWFLAKE database's ACCOUNT_USAGE and ORGANIZATION_USAGE schemas are Snowflake system views",
    ),
    Evidence(
        "snowflake.system_functions", (SF,), STRONG,
        r"\bSYSTEM\$\w+\s*\(|\bRESULT_SCAN\s*\(|\bLAST_QUERY_ID\s*\(|\bCURRENT_WAREHOUSE\s*\(",
        "SYSTEM$ functions, RESULT_SCAN, LAST_QUERY_ID and CURRENT_WAREHOUSE are Snowflake system functions",
    ),
    Evidence(
        "snowflake.account_objects", (SF,), STRONG,
        r"\bCREATE\s+(OR\s+REPLACE\s+)?(TEMPORARY\s+|TEMP\s+)?(FILE\s+FORMAT|STAGE|PIPE|RESOURCE\s+MONITOR"
        r"|STORAGE\s+INTEGRATION|NOTIFICATION\s+INTEGRATION|API\s+INTEGRATION|SECURITY\s+INTEGRATION"
        r"|NETWORK\s+RULE|NETWORK\s+POLICY|STREAMLIT)\b",
        "file formats, stages, pipes, resource monitors, integrations and network rules are Snowflake objects",
    ),
    Evidence(
        "snowflake.transient_objects", (SF,), STRONG,
        r"\bTRANSIENT\s+(TABLE|SCHEMA|DATABASE)\b",
        "TRANSIENT tables, schemas and databases are a Snowflake object kind",
    ),
    Evidence(
        "snowflake.use_role", (SF,), STRONG,
        r"\bUSE\s+ROLE\b|\bUSE\s+SECONDARY\s+ROLES\b",
        "USE ROLE and USE SECONDARY ROLES are Snowflake session commands",
    ),
    Evidence(
        "snowflake.inline_file_format", (SF,), STRONG,
        r"\bFILE_FORMAT\s*=\s*\(\s*(TYPE|FORMAT_NAME)\s*=",
        "FILE_FORMAT = (TYPE = ... | FORMAT_NAME = ...) is Snowflake's COPY and stage option",
    ),
    Evidence(
        "snowflake.semi_structured_functions", (SF,), STRONG,
        r"\b(OBJECT_CONSTRUCT|OBJECT_CONSTRUCT_KEEP_NULL|ARRAY_CONSTRUCT|ARRAY_CONSTRUCT_COMPACT|OBJECT_INSERT"
        r"|OBJECT_DELETE|STRIP_NULL_VALUE|IFF)\s*\(",
        "OBJECT_CONSTRUCT, ARRAY_CONSTRUCT, OBJECT_INSERT and IFF are Snowflake functions",
    ),
    Evidence(
        "snowflake.routine_languages", (SF,), STRONG,
        r"\bLANGUAGE\s+JAVASCRIPT\b|\bRUNTIME_VERSION\s*=|\bHANDLER\s*=\s*'",
        "LANGUAGE JAVASCRIPT and the RUNTIME_VERSION/HANDLER clauses belong to Snowflake procedures and UDFs",
    ),
    Evidence(
        "snowflake.replaceable_objects", (SF,), STRONG,
        r"\bCREATE\s+OR\s+REPLACE\s+(STREAM|TASK|WAREHOUSE|MASKING\s+POLICY|ROW\s+ACCESS\s+POLICY|DYNAMIC\s+TABLE)\b",
        "streams, tasks, warehouses, masking and row access policies and dynamic tables are Snowflake objects",
    ),
    Evidence(
        "snowflake.session_variables", (SF,), STRONG,
        r"\b(TABLE|IDENTIFIER)\s*\(\s*\$[A-Za-z_]\w*\s*\)",
        "TABLE($var) and IDENTIFIER($var) read Snowflake session variables",
    ),
    Evidence(
        "snowflake.scripting_let", (SF,), STRONG,
        r"^\s*LET\s+\w+\s+(\w+\s*)?(:=|DEFAULT\b|CURSOR\s+FOR\b)",
        "LET name [type] := ... | CURSOR FOR declares a Snowflake Scripting variable",
    ),
    # --- PostgreSQL, and what Redshift shares with it ----------------------
    Evidence(
        "postgresql.system_catalogs", (PG, RS), SUPPORTING,
        r"\bpg_catalog\s*\.|\bpg_(class|namespace|attribute|proc|type|index|constraint|tables|views|roles|database"
        r"|settings|locks|trigger|depend|description|indexes|user|group|am|operator|views)\b",
        "pg_catalog and its pg_class, pg_namespace, ... catalogs are documented by PostgreSQL and by Redshift",
    ),
    Evidence(
        "postgresql.statistics_and_size_functions", (PG,), STRONG,
        r"\bpg_stat_(?!activity\b)\w+|\bpg_statio_\w+|\bpg_(size_pretty|total_relation_size|relation_size|table_size|indexes_size"
        r"|database_size)\s*\(",
        "the pg_stat_* statistics views and pg_relation_size and kin are PostgreSQL (Redshift has neither)",
    ),
    Evidence(
        "postgresql.plpgsql_language", (PG, RS), STRONG,
        r"\bLANGUAGE\s+'?plpgsql\b",
        "PL/pgSQL is PostgreSQL's procedural language and the language of Redshift stored procedures",
    ),
    Evidence(
        "postgresql.plpgsql_function", (PG,), STRONG,
        r"\bCREATE\s+(OR\s+REPLACE\s+)?FUNCTION\b[\s\S]{0,3000}?\bLANGUAGE\s+'?plpgsql\b",
        "a PL/pgSQL function is PostgreSQL: Redshift UDFs are written only in SQL or Python",
    ),
    Evidence(
        "postgresql.plpgsql_statements", (PG, RS), STRONG,
        r"\bRAISE\s+(NOTICE|EXCEPTION|WARNING|LOG|DEBUG)\b|\bPERFORM\s+[\w.]+\s*\(",
        "RAISE NOTICE|EXCEPTION|WARNING and PERFORM are PL/pgSQL statements (PostgreSQL and Redshift)",
    ),
    Evidence(
        "postgresql.procedural_languages", (PG,), STRONG,
        r"\bLANGUAGE\s+'?(plpython3u|plperlu?|pltclu?|plv8|plr)\b",
        "PL/Python 3, PL/Perl, PL/Tcl, PL/v8 and PL/R are PostgreSQL procedural languages",
    ),
    Evidence(
        "postgresql.set_returning_and_trigger_functions", (PG,), STRONG,
        r"\bRETURNS\s+(SETOF|TRIGGER|EVENT_TRIGGER)\b|\bEXECUTE\s+(PROCEDURE|FUNCTION)\s+[\w.]+\s*\(",
        "RETURNS SETOF|TRIGGER and EXECUTE FUNCTION|PROCEDURE in CREATE TRIGGER are PostgreSQL function forms",
    ),
    Evidence(
        "postgresql.dump_settings", (PG,), STRONG,
        r"\bSET\s+(client_encoding|standard_conforming_strings|check_function_bodies|client_min_messages|row_security"
        r"|xmloption|default_tablespace|default_table_access_method|default_with_oids"
        r"|idle_in_transaction_session_timeout)\b",
        "pg_dump's preamble sets these PostgreSQL run-time parameters",
    ),
    Evidence(
        "postgresql.copy_stdin", (PG,), STRONG,
        r"\bCOPY\s+[\w.\"]+(\s*\([^)]*\))?\s+(FROM|TO)\s+(STDIN|STDOUT)\b",
        "COPY ... FROM STDIN / TO STDOUT is PostgreSQL's bulk-load form, as pg_dump writes it",
    ),
    Evidence(
        "postgresql.jsonb", (PG,), STRONG,
        r"\bJSONB\b|\bjsonb_\w+\s*\(",
        "jsonb is a PostgreSQL type with its jsonb_* functions",
    ),
    Evidence(
        "postgresql.index_methods", (PG,), STRONG,
        r"\bUSING\s+(gin|gist|brin|spgist)\b",
        "GIN, GiST, BRIN and SP-GiST are PostgreSQL index access methods",
    ),
    # --- MySQL -------------------------------------------------------------
    Evidence(
        "mysql.definer_security", (MYSQL,), STRONG,
        r"\bDEFINER\s*=|\bSQL\s+SECURITY\s+(DEFINER|INVOKER)\b",
        "DEFINER = user and SQL SECURITY are MySQL clauses of views, routines and triggers",
    ),
    Evidence(
        "mysql.table_locks", (MYSQL,), STRONG,
        r"\bUNLOCK\s+TABLES\b|\bLOCK\s+TABLES\b",
        "LOCK TABLES / UNLOCK TABLES are MySQL statements (mysqldump writes them)",
    ),
    Evidence(
        "mysql.table_options", (MYSQL,), STRONG,
        r"\bDEFAULT\s+(CHARSET|CHARACTER\s+SET)\s*=|\bCHARSET\s*=\s*\w|\bCOLLATE\s*=\s*\w|\bROW_FORMAT\s*=",
        "DEFAULT CHARSET=, COLLATE= and ROW_FORMAT= are MySQL table options",
    ),
    Evidence(
        "mysql.types", (MYSQL,), STRONG,
        r"\b(TINYTEXT|MEDIUMTEXT|LONGTEXT|TINYBLOB|MEDIUMBLOB|LONGBLOB)\b|\bUNSIGNED\b",
        "TINY/MEDIUM/LONG TEXT and BLOB types and the UNSIGNED attribute are MySQL data types",
    ),
    Evidence(
        "mysql.condition_handlers", (MYSQL,), STRONG,
        r"\bDECLARE\s+(CONTINUE|EXIT|UNDO)\s+HANDLER\s+FOR\b",
        "DECLARE CONTINUE|EXIT HANDLER FOR is MySQL's stored-program condition handling",
    ),
    Evidence(
        "mysql.functions", (MYSQL,), STRONG,
        r"\b(LAST_INSERT_ID|STR_TO_DATE|FOUND_ROWS)\s*\(",
        "LAST_INSERT_ID, STR_TO_DATE and FOUND_ROWS are MySQL functions",
    ),
    Evidence(
        "mysql.limit_offset_comma", (MYSQL,), SUPPORTING,
        r"\bLIMIT\s+\d+\s*,\s*\d+",
        "LIMIT offset, count is MySQL's two-argument LIMIT",
    ),
    # --- SQL Server --------------------------------------------------------
    Evidence(
        "sqlserver.local_variables", (MSSQL,), STRONG,
        r"\bDECLARE\s+@\w+",
        "DECLARE @name declares a Transact-SQL local variable",
    ),
    Evidence(
        "sqlserver.procedure_forms", (MSSQL,), STRONG,
        r"\bCREATE\s+OR\s+ALTER\s+(PROC|PROCEDURE|FUNCTION|VIEW|TRIGGER)\b|\b(CREATE|ALTER)\s+PROC\b",
        "CREATE OR ALTER and the PROC abbreviation are Transact-SQL",
    ),
    Evidence(
        "sqlserver.system_functions", (MSSQL,), STRONG,
        r"\b(OBJECT_ID|OBJECT_NAME|OBJECT_SCHEMA_NAME|SCOPE_IDENTITY|DB_NAME|DB_ID|SCHEMA_NAME|SUSER_SNAME|NEWID"
        r"|NEWSEQUENTIALID)\s*\(",
        "OBJECT_ID, SCOPE_IDENTITY, DB_NAME, NEWID and kin are Transact-SQL system functions",
    ),
    Evidence(
        "sqlserver.catalog_views", (MSSQL,), STRONG,
        r"\bsys\s*\.\s*(objects|tables|columns|indexes|index_columns|schemas|procedures|views|databases|partitions"
        r"|allocation_units|sql_modules|foreign_keys|foreign_key_columns|key_constraints|triggers|parameters"
        r"|server_principals|database_principals|dm_\w+|syscomments|sysobjects|sysindexes|master_files"
        r"|database_files|extended_properties|default_constraints|check_constraints|identity_columns"
        r"|computed_columns|configurations)\b",
        "sys.objects, sys.dm_* and the other sys catalog views are SQL Server system views",
    ),
    Evidence(
        "sqlserver.session_options", (MSSQL,), STRONG,
        r"\bSET\s+(ANSI_NULLS|QUOTED_IDENTIFIER|XACT_ABORT|ANSI_PADDING|ANSI_WARNINGS|ARITHABORT"
        r"|CONCAT_NULL_YIELDS_NULL|NUMERIC_ROUNDABORT|IDENTITY_INSERT|DATEFIRST|DEADLOCK_PRIORITY"
        r"|STATISTICS\s+(IO|TIME|XML|PROFILE))\b",
        "SET ANSI_NULLS, QUOTED_IDENTIFIER, XACT_ABORT and kin are Transact-SQL session options",
    ),
    Evidence(
        "sqlserver.transaction_abbreviation", (MSSQL,), STRONG,
        r"\b(BEGIN|COMMIT|ROLLBACK)\s+TRAN\b",
        "TRAN abbreviates TRANSACTION in Transact-SQL",
    ),
    Evidence(
        "sqlserver.merge_action", (MSSQL,), STRONG,
        r"\$action\b(?!\$)",
        "$action names the MERGE action in a Transact-SQL OUTPUT clause",
    ),
    Evidence(
        "sqlserver.dbo_schema", (MSSQL,), SUPPORTING,
        r"\bdbo\s*\.\s*\w",
        "dbo is SQL Server's default schema",
    ),
    Evidence(
        "sqlserver.max_length_types", (MSSQL,), STRONG,
        r"\b(NVARCHAR|VARBINARY)\s*\(\s*MAX\s*\)",
        "NVARCHAR(MAX) and VARBINARY(MAX) are SQL Server large-value types",
    ),
    Evidence(
        "sqlserver.print", (MSSQL,), STRONG,
        r"^\s*PRINT\s+(N?'|@)",
        "PRINT 'text' / PRINT @var is a Transact-SQL statement",
    ),
    # --- Oracle ------------------------------------------------------------
    Evidence(
        "oracle.dictionary_views", (ORA,), STRONG,
        r"\b(DBA|ALL|USER)_(TABLES|TAB_COLUMNS|TAB_COLS|OBJECTS|INDEXES|IND_COLUMNS|CONSTRAINTS|CONS_COLUMNS|VIEWS"
        r"|SOURCE|SEGMENTS|EXTENTS|TRIGGERS|SEQUENCES|SYNONYMS|PROCEDURES|DEPENDENCIES|TAB_PRIVS|ROLE_PRIVS"
        r"|SYS_PRIVS|SCHEDULER_JOBS|TABLESPACES|DATA_FILES|ERRORS|ARGUMENTS|LOBS|PART_TABLES|TAB_PARTITIONS"
        r"|MVIEWS|DB_LINKS|TAB_COMMENTS|COL_COMMENTS|TAB_STATISTICS|TAB_MODIFICATIONS)\b",
        "DBA_, ALL_ and USER_ views are Oracle's static data dictionary",
    ),
    Evidence(
        "oracle.dynamic_performance_views", (ORA,), STRONG,
        r"\bG?V\$[A-Z_]+",
        "V$ and GV$ views are Oracle's dynamic performance views",
    ),
    Evidence(
        "oracle.dual", (ORA,), STRONG,
        r"\bFROM\s+(SYS\s*\.\s*)?DUAL\b",
        "DUAL is Oracle's one-row dictionary table (MySQL accepts the name for compatibility)",
        compatible=(MYSQL,),
    ),
    Evidence(
        "oracle.system_functions", (ORA,), STRONG,
        r"\bSYS_(GUID|CONTEXT|EXTRACT_UTC)\s*\(|\bNUMTO(DS|YM)INTERVAL\s*\(",
        "SYS_GUID, SYS_CONTEXT and NUMTODSINTERVAL are Oracle SQL functions",
    ),
    Evidence(
        "oracle.cursor_attributes", (ORA,), STRONG,
        r"\w%(ROWCOUNT|NOTFOUND|FOUND|ISOPEN|BULK_ROWCOUNT|BULK_EXCEPTIONS)\b",
        "SQL%ROWCOUNT, cur%NOTFOUND and kin are PL/SQL cursor attributes",
    ),
    Evidence(
        "oracle.plsql_types", (ORA,), STRONG,
        r"\bSYS_REFCURSOR\b|\bIS TABLE OF\b|\bIS RECORD\b|\bIS REF CURSOR\b",
        "SYS_REFCURSOR and TYPE ... IS TABLE OF | RECORD | REF CURSOR are PL/SQL type declarations",
    ),
    Evidence(
        "oracle.predefined_exceptions", (ORA,), STRONG,
        r"\bWHEN\s+(DUP_VAL_ON_INDEX|INVALID_NUMBER|VALUE_ERROR|ZERO_DIVIDE|INVALID_CURSOR|CURSOR_ALREADY_OPEN"
        r"|ROWTYPE_MISMATCH|TIMEOUT_ON_RESOURCE)\b",
        "DUP_VAL_ON_INDEX, VALUE_ERROR, ZERO_DIVIDE and kin are PL/SQL predefined exceptions",
    ),
    # --- Redshift ----------------------------------------------------------
    Evidence(
        "redshift.python_udf_language", (RS,), STRONG,
        r"\bLANGUAGE\s+'?plpythonu\b",
        "plpythonu is the language of Redshift's Python scalar UDFs (PostgreSQL's own is plpython3u)",
    ),
    Evidence(
        "redshift.system_views_functions", (RS,), STRONG,
        r"\b(pg_table_def|pg_external_schema|pg_get_late_binding_view_cols|pg_last_query_id|pg_last_copy_id"
        r"|pg_user_info|pg_library|pg_class_info|pg_attribute_info|pg_database_info|pg_proc_info|pg_statistic_indicator"
        r"|pg_last_copy_count|pg_last_unload_id|pg_last_unload_count|pg_get_cols|pg_get_iam_role_by_user)\b"
        r"|\bSYS_(QUERY_HISTORY|QUERY_DETAIL|QUERY_TEXT|LOAD_HISTORY|LOAD_ERROR_DETAIL|UNLOAD_HISTORY"
        r"|SERVERLESS_USAGE|EXTERNAL_QUERY_DETAIL|SESSION_HISTORY|CONNECTION_LOG|TRANSACTION_HISTORY|COPY_JOB"
        r"|MV_REFRESH_HISTORY|VACUUM_HISTORY|ANALYZE_HISTORY|USERLOG)\b",
        "PG_TABLE_DEF, PG_LAST_QUERY_ID and the SYS_* monitoring views are Redshift system objects",
    ),
    Evidence(
        "redshift.late_binding_view", (RS,), STRONG,
        r"\bWITH\s+NO\s+SCHEMA\s+BINDING\b",
        "WITH NO SCHEMA BINDING creates a Redshift late-binding view",
    ),
    Evidence(
        "redshift.external_schema", (RS,), STRONG,
        r"\bCREATE\s+EXTERNAL\s+SCHEMA\b|\bFROM\s+DATA\s+CATALOG\b",
        "CREATE EXTERNAL SCHEMA ... FROM DATA CATALOG is Redshift Spectrum's schema command",
    ),
    Evidence(
        "redshift.maintenance_commands", (RS,), STRONG,
        r"\bVACUUM\s+(DELETE\s+ONLY|SORT\s+ONLY|REINDEX|RECLUSTER|BOOST)\b|\bANALYZE\s+COMPRESSION\b",
        "VACUUM DELETE ONLY|SORT ONLY|REINDEX|RECLUSTER and ANALYZE COMPRESSION are Redshift commands",
    ),
    Evidence(
        "redshift.session_settings", (RS,), STRONG,
        r"\bSET\s+(wlm_query_slot_count|query_group|enable_result_cache_for_session|analyze_threshold_percent"
        r"|enable_case_sensitive_identifier|json_serialization_enable)\b",
        "wlm_query_slot_count, query_group and kin are Redshift configuration parameters",
    ),
    Evidence(
        "redshift.copy_from_aws", (RS,), STRONG,
        r"\bCOPY\s+[\w.\"]+(\s*\([^)]*\))?\s+FROM\s+'(s3|dynamodb|emr)://|\bCREDENTIALS\s+'aws_(access_key_id|iam_role)=",
        "COPY table FROM 's3://...' and CREDENTIALS 'aws_...' are Redshift's COPY forms",
    ),
    # --- Functions Redshift shares with other platforms, not with PostgreSQL ---
    Evidence(
        "shared.getdate", (MSSQL, RS, SF), SUPPORTING,
        r"\bGETDATE\s*\(\s*\)",
        "GETDATE() is documented by SQL Server, Redshift and Snowflake, not by PostgreSQL",
        corroborating_only=True,
    ),
    Evidence(
        "shared.dateadd_datediff", (MSSQL, RS, SF, DBX), SUPPORTING,
        r"\b(DATEADD|DATEDIFF)\s*\(\s*[A-Za-z_]+\s*,",
        "DATEADD(part, ...) and DATEDIFF(part, ...) are SQL Server, Redshift, Snowflake and Databricks functions",
        corroborating_only=True,
    ),
    Evidence(
        "shared.charindex_len", (MSSQL, RS, SF), SUPPORTING,
        r"\b(CHARINDEX|LEN)\s*\(",
        "CHARINDEX and LEN are SQL Server, Redshift and Snowflake string functions",
        corroborating_only=True,
    ),
    Evidence(
        "shared.varchar_max", (MSSQL, RS), SUPPORTING,
        r"\bVARCHAR\s*\(\s*MAX\s*\)",
        "VARCHAR(MAX) is SQL Server and Redshift syntax",
        corroborating_only=True,
    ),
    Evidence(
        "shared.nvl", (ORA, RS, SF, TD, DBX, HIVE), SUPPORTING,
        r"\bNVL2?\s*\(",
        "NVL and NVL2 are Oracle functions that Redshift, Snowflake, Teradata, Databricks and Hive document too",
        corroborating_only=True,
    ),
    Evidence(
        "shared.listagg", (ORA, RS, SF, DBX), SUPPORTING,
        r"\bLISTAGG\s*\(",
        "LISTAGG is documented by Oracle, Redshift, Snowflake and Databricks",
        corroborating_only=True,
    ),
    Evidence(
        "shared.sysdate", (ORA, RS, SF, MYSQL), SUPPORTING,
        r"\bSYSDATE\b",
        "SYSDATE is documented by Oracle, Redshift, Snowflake and MySQL",
        corroborating_only=True,
    ),
    Evidence(
        "shared.convert_timezone", (RS, SF), SUPPORTING,
        r"\bCONVERT_TIMEZONE\s*\(",
        "CONVERT_TIMEZONE is a Redshift and Snowflake function",
        corroborating_only=True,
    ),
    Evidence(
        "shared.parameter_mode_after_name", (RS, ORA), SUPPORTING,
        r"[(,]\s*\w+\s+(IN|OUT|INOUT|IN\s+OUT)\s+[A-Za-z_]",
        "name IN|OUT|INOUT type parameters are Redshift and Oracle procedure syntax (PostgreSQL puts the mode first)",
        corroborating_only=True,
    ),
    # --- BigQuery ----------------------------------------------------------
    Evidence(
        "bigquery.quoted_table_path", (BQ,), STRONG,
        r"`[\w-]+\.[\w-]+\.[\w-]+`",
        "`project.dataset.table` in one pair of backticks is BigQuery's quoted table path",
    ),
    Evidence(
        "bigquery.region_information_schema", (BQ,), STRONG,
        r"\bregion-[a-z0-9-]+`?\s*\.\s*INFORMATION_SCHEMA\b",
        "region-<location>.INFORMATION_SCHEMA qualifies BigQuery's INFORMATION_SCHEMA views",
    ),
    Evidence(
        "bigquery.standard_types", (BQ,), STRONG,
        r"\b(INT64|FLOAT64|BIGNUMERIC|BIGDECIMAL)\b",
        "INT64, FLOAT64 and BIGNUMERIC are GoogleSQL data types",
    ),
    Evidence(
        "bigquery.date_time_functions", (BQ,), STRONG,
        r"\b(TIMESTAMP_DIFF|TIMESTAMP_TRUNC|TIMESTAMP_ADD|TIMESTAMP_SUB|DATETIME_DIFF|DATETIME_TRUNC|DATETIME_ADD"
        r"|DATETIME_SUB|TIME_DIFF|TIME_TRUNC|TIME_ADD|TIME_SUB|FORMAT_DATE|FORMAT_DATETIME|FORMAT_TIMESTAMP|FORMAT_TIME"
        r"|PARSE_DATE|PARSE_DATETIME|PARSE_TIMESTAMP|PARSE_TIME|GENERATE_DATE_ARRAY|GENERATE_TIMESTAMP_ARRAY)\s*\(",
        "TIMESTAMP_DIFF, DATETIME_TRUNC, FORMAT_DATE, PARSE_TIMESTAMP, GENERATE_DATE_ARRAY are GoogleSQL functions",
    ),
    Evidence(
        "bigquery.date_part_last", (BQ,), STRONG,
        r"\b(DATE|DATETIME|TIMESTAMP)_(TRUNC|DIFF)\s*\([^()]*,\s*(DAY|WEEK|MONTH|QUARTER|YEAR|ISOWEEK|ISOYEAR|HOUR"
        r"|MINUTE|SECOND)\s*\)",
        "DATE_TRUNC(d, MONTH) and DATE_DIFF(a, b, DAY) put the unquoted date part last, as only GoogleSQL does",
    ),
    Evidence(
        "bigquery.temp_function", (BQ,), STRONG,
        r"\bCREATE\s+(OR\s+REPLACE\s+)?TEMP\s+FUNCTION\b",
        "CREATE TEMP FUNCTION declares a GoogleSQL temporary UDF",
    ),
    Evidence(
        "bigquery.array_subscripts", (BQ,), STRONG,
        r"\[\s*(SAFE_)?(OFFSET|ORDINAL)\s*\(",
        "array[OFFSET(i)], [SAFE_OFFSET(i)] and [ORDINAL(i)] are GoogleSQL array subscripts",
    ),
    Evidence(
        "bigquery.functions", (BQ,), STRONG,
        r"\b(COUNTIF|REGEXP_CONTAINS|TO_JSON_STRING|JSON_EXTRACT_SCALAR|FARM_FINGERPRINT|SAFE_DIVIDE|SAFE_MULTIPLY"
        r"|SAFE_ADD|SAFE_SUBTRACT|SAFE_NEGATE|ARRAY_CONCAT_AGG|ST_GEOGPOINT)\s*\(",
        "COUNTIF, REGEXP_CONTAINS, TO_JSON_STRING, SAFE_DIVIDE and kin are GoogleSQL functions",
    ),
    Evidence(
        "bigquery.object_options", (BQ,), STRONG,
        r"\bOPTIONS\s*\(\s*(description|expiration_timestamp|partition_expiration_days|require_partition_filter"
        r"|labels|friendly_name|model_type|kms_key_name)\s*=",
        "OPTIONS(description = ..., partition_expiration_days = ...) is BigQuery's DDL option list",
    ),
    Evidence(
        "bigquery.ml", (BQ,), STRONG,
        r"\bML\s*\.\s*(PREDICT|EVALUATE|TRAINING_INFO|FORECAST|GENERATE_TEXT|EXPLAIN_PREDICT|FEATURE_INFO|WEIGHTS)"
        r"\s*\(|\bCREATE\s+(OR\s+REPLACE\s+)?MODEL\b",
        "CREATE MODEL and the ML.* table functions are BigQuery ML",
    ),
    # --- Teradata ----------------------------------------------------------
    Evidence(
        "teradata.dictionary_views", (TD,), STRONG,
        r"\bDBC\s*\.\s*\w+",
        "DBC is the Teradata data dictionary database (DBC.TablesV, DBC.ColumnsV, ...)",
    ),
    Evidence(
        "teradata.bteq_commands", (TD,), STRONG,
        r"^[ \t]*\.(LOGON|LOGOFF|QUIT|GOTO|LABEL|EXPORT|IMPORT|REPEAT|SESSIONS|REMARK|MAXERROR|ERRORLEVEL"
        r"|ERRORCODE|ACTIVITYCOUNT)\b|\.IF ERRORCODE\b|\.IF ACTIVITYCOUNT\b",
        "dot commands (.LOGON, .IF ERRORCODE, .QUIT, ...) are Teradata BTEQ script commands",
    ),
    Evidence(
        "teradata.server_character_sets", (TD,), STRONG,
        r"\bCHARACTER\s+SET\s+(LATIN|UNICODE|GRAPHIC|KANJISJIS|KANJI1)\b",
        "CHARACTER SET LATIN|UNICODE|GRAPHIC are Teradata server character sets",
    ),
    Evidence(
        "teradata.collect_stats", (TD,), STRONG,
        r"\bCOLLECT\s+STATS?\b",
        "COLLECT STATS / STAT abbreviate Teradata's COLLECT STATISTICS",
    ),
    Evidence(
        "teradata.replace_object", (TD,), STRONG,
        r"(?:^|;)\s*REPLACE\s+(VIEW|PROCEDURE|FUNCTION)\b",
        "REPLACE VIEW | PROCEDURE as a statement of its own is Teradata DDL",
    ),
    Evidence(
        "teradata.hash_functions", (TD,), STRONG,
        r"\b(HASHROW|HASHBUCKET|HASHAMP|HASHBAKAMP)\s*\(",
        "HASHROW, HASHBUCKET and HASHAMP are Teradata's row-distribution functions",
    ),
    Evidence(
        "teradata.statement_abbreviations", (TD,), STRONG,
        r"\bDEL FROM\b|\bINS INTO\b|\bUPD\s+[\w.]+\s+SET\b",
        "INS, UPD and DEL abbreviate INSERT, UPDATE and DELETE in Teradata SQL",
    ),
    Evidence(
        "teradata.system_libraries", (TD,), STRONG,
        r"\bTD_SYSFNLIB\s*\.|\bSYSLIB\s*\.|\bACTIVITY_COUNT\b",
        "TD_SYSFNLIB, SYSLIB and the ACTIVITY_COUNT status variable are Teradata",
    ),
    # --- Hive, and the HiveQL that Spark SQL (Databricks) documents as its own ---
    Evidence(
        "hive.row_format", (HIVE,), STRONG,
        r"\bROW\s+FORMAT\s+(DELIMITED|SERDE)\b",
        "ROW FORMAT DELIMITED | SERDE is HiveQL's row-format clause (Databricks: Hive-format tables)",
        cancelled_by=("redshift.external_schema",),
    ),
    Evidence(
        "hive.stored_as", (HIVE,), STRONG,
        r"\bSTORED\s+AS\s+(TEXTFILE|ORC|PARQUET|SEQUENCEFILE|RCFILE|AVRO|JSONFILE|INPUTFORMAT)\b",
        "STORED AS <file format> | INPUTFORMAT is HiveQL's storage clause (Databricks: Hive-format tables)",
        cancelled_by=("redshift.external_schema",),
    ),
    Evidence(
        "hive.typed_partition_columns", (HIVE,), SUPPORTING,
        r"\bPARTITIONED\s+BY\s*\(\s*`?\w+`?\s+(STRING|INT|BIGINT|SMALLINT|TINYINT|DATE|TIMESTAMP|VARCHAR)\b",
        "PARTITIONED BY (col type) declares Hive partition columns (Databricks: Hive-format tables)",
        cancelled_by=("redshift.external_schema",),
    ),
    Evidence(
        "hive.hdfs_location", (HIVE,), STRONG,
        r"\bLOCATION\s+'(hdfs|viewfs|maprfs)://",
        "LOCATION 'hdfs://...' places a Hive table's files in HDFS",
    ),
    Evidence(
        "hive.settings", (HIVE,), STRONG,
        r"\bSET\s+(hive|mapred|mapreduce|tez)\.\w",
        "SET hive.* / mapreduce.* / tez.* are Hive configuration properties",
    ),
    Evidence(
        "hive.storage_handler", (HIVE,), STRONG,
        r"\bSTORED\s+BY\s+'",
        "STORED BY '<storage handler class>' is HiveQL; Spark SQL does not accept it",
        inherited=False,
    ),
    Evidence(
        "hive.variable_substitution", (HIVE,), STRONG,
        r"\$\{(hiveconf|hivevar|system|env):",
        "${hiveconf:x} and ${hivevar:x} are Hive variable substitution",
        inherited=False,
    ),
    Evidence(
        "hive.lateral_view", (HIVE, DBX), STRONG,
        r"\bLATERAL\s+VIEW\s+(OUTER\s+)?\w+\s*\(",
        "LATERAL VIEW [OUTER] generator(...) is documented by Hive and by Spark SQL",
    ),
    Evidence(
        "hive.load_data_inpath", (HIVE, DBX), STRONG,
        r"\bLOAD\s+DATA\s+(LOCAL\s+)?INPATH\b",
        "LOAD DATA [LOCAL] INPATH is documented by Hive and by Spark SQL",
    ),
    Evidence(
        "hive.buckets", (HIVE, DBX), STRONG,
        r"\bINTO\s+\d+\s+BUCKETS\b",
        "CLUSTERED BY (...) INTO n BUCKETS is documented by Hive and by Spark SQL",
    ),
    Evidence(
        "hive.resources", (HIVE, DBX), STRONG,
        r"^\s*ADD\s+(JARS?|ARCHIVES?)\s",
        "ADD JAR and ADD ARCHIVE are Hive and Spark SQL resource commands",
    ),
    Evidence(
        "hive.class_functions", (HIVE, DBX), STRONG,
        r"\bCREATE\s+TEMPORARY\s+FUNCTION\s+\w+\s+AS\s+'",
        "CREATE TEMPORARY FUNCTION f AS 'class' registers a Hive or Spark SQL UDF by class name",
    ),
    Evidence(
        "hive.insert_overwrite", (HIVE, DBX), SUPPORTING,
        r"\bINSERT\s+OVERWRITE\s+(TABLE|(LOCAL\s+)?DIRECTORY)\b",
        "INSERT OVERWRITE TABLE | DIRECTORY is documented by Hive and by Spark SQL",
    ),
    Evidence(
        "hive.distribute_sort_by", (HIVE, DBX), SUPPORTING,
        r"\bDISTRIBUTE\s+BY\b|\bSORT\s+BY\b",
        "DISTRIBUTE BY and SORT BY are Hive and Spark SQL query clauses",
    ),
    Evidence(
        "hive.static_partition_spec", (HIVE, DBX), SUPPORTING,
        r"\bPARTITION\s*\(\s*\w+\s*=",
        "PARTITION (col = value) names a partition in Hive and Spark SQL statements",
    ),
    Evidence(
        "hive.collection_functions", (HIVE, DBX), SUPPORTING,
        r"\b(collect_set|collect_list|get_json_object|json_tuple|posexplode|explode|sort_array|str_to_map)\s*\(",
        "collect_set, get_json_object, explode and kin are Hive built-ins that Spark SQL documents too",
    ),
)
