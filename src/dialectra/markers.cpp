// The platform marker catalogue, row by row, in catalogue order.
//
// Each pattern is regular-expression source stored verbatim: every backslash
// is a character of the pattern, so the rows use raw string literals.  The
// checks at the end of this file reject, at compile time, a table whose
// shape is off (a missing row, a repeated id, a platform row that names a
// platform other than its prefix, a medium row before a high one, ...).
#include "dialectra/markers.hpp"

#include <string_view>

namespace quorvane::dialectra {

namespace {
using P = Platform;
using C = Corroborating;
}  // namespace

// Row layout: id, platforms, platform count, confidence, scope ({} = not
// passed), corroborating_only, pattern.
constexpr std::array<MarkerRow, kMarkerCount> kMarkers = {{
    // Databricks: positions 1-14.
    {"databricks.notebook_header", {P::Databricks}, 1, "high", "comment", C::NotGiven,  // 1
     R"re(--\s*Databricks\s+notebook\s+source|--\s*MAGIC\b|--\s*COMMAND\s*-+)re"},
    {"databricks.optimize_zorder", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 2
     R"re(\bOPTIMIZE\b[\s\S]{0,200}?\bZORDER\s+BY\b)re"},
    {"databricks.vacuum_retain", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 3
     R"re(\bVACUUM\b[\s\S]{0,60}?\bRETAIN\s+\d+\s+HOURS\b)re"},
    {"databricks.describe_history", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 4
     R"re(\bDESCRIBE\s+HISTORY\b)re"},
    {"databricks.shallow_deep_clone", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 5
     R"re(\b(SHALLOW|DEEP)\s+CLONE\b)re"},
    {"databricks.delta_time_travel", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 6
     R"re(\b(VERSION|TIMESTAMP)\s+AS\s+OF\b|\w@v\d+\b)re"},
    {"databricks.merge_when_not_matched_by_source", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 7
     R"re(\bWHEN\s+NOT\s+MATCHED\s+BY\s+SOURCE\b)re"},
    {"databricks.create_table_using_format", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 8
     R"re(\bCREATE\s+(?:OR\s+REPLACE\s+)?TABLE\b[\s\S]{0,3000}?\bUSING\s+(DELTA|PARQUET|CSV|JSON|ORC|AVRO|TEXT|HIVE)\b)re"},
    {"databricks.format_prefixed_path", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 9
     R"re(\bFROM\s+(parquet|delta|json|csv|orc|avro|text)\s*\.\s*`)re"},
    {"databricks.lakeflow_dlt_ddl", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 10
     R"re(\bCREATE\s+OR\s+REFRESH\s+(STREAMING\s+TABLE|(LIVE\s+)?MATERIALIZED\s+VIEW)\b|\bCONSTRAINT\b[\s\S]{0,200}?\bEXPECT\b[\s\S]{0,200}?\bON\s+VIOLATION\b|\bAPPLY\s+CHANGES\s+INTO\b)re"},
    {"databricks.trycast_operator", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 11
     R"re(\w\?::)re"},
    {"databricks.spark_config_set", {P::Databricks}, 1, "high", {}, C::NotGiven,  // 12
     R"re(\bSET\s+spark\.(sql|databricks)\.)re"},
    {"databricks.optimizer_hint", {P::Databricks}, 1, "medium", "comment", C::NotGiven,  // 13
     R"re(/\*\+\s*(BROADCAST|MAPJOIN|SHUFFLE_HASH|SHUFFLE_REPLICATE_NL|REPARTITION|REPARTITION_BY_RANGE|COALESCE)\s*\()re"},
    {"databricks.struct_colon_type", {P::Databricks}, 1, "medium", {}, C::NotGiven,  // 14
     R"re(\bSTRUCT\s*<\s*\w+\s*:\s*\w+)re"},

    // Snowflake: positions 15-28.
    {"snowflake.lateral_flatten", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 15
     R"re(\bLATERAL\s+FLATTEN\s*\()re"},
    {"snowflake.star_exclude", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 16
     R"re(SELECT\s+\*\s+EXCLUDE\s*\()re"},
    {"snowflake.semi_structured_types", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 17
     R"re(::\s*(VARIANT|OBJECT)\b|\bAS\s+(VARIANT|OBJECT)\b|\bCREATE\s+TABLE\b[\s\S]{0,2000}?\b(VARIANT|OBJECT)\s*[,\)])re"},
    {"snowflake.timestamp_ntz_ltz_tz", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 18
     R"re(\bTIMESTAMP_(NTZ|LTZ|TZ)\b)re"},
    {"snowflake.time_travel_at_before", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 19
     R"re(\b(AT|BEFORE)\s*\(\s*(TIMESTAMP|OFFSET|STATEMENT)\s*=>)re"},
    {"snowflake.zero_copy_clone", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 20
     R"re(\bCREATE\s+TABLE\s+\S+\s+CLONE\b)re"},
    {"snowflake.stage_sigil", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 21
     R"re(@~|@%\w+)re"},
    {"snowflake.warehouse_ddl", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 22
     R"re(\b(CREATE|ALTER|USE)\s+WAREHOUSE\b)re"},
    {"snowflake.stream_task_ddl", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 23
     R"re(\bCREATE\s+STREAM\s+\S+\s+ON\s+TABLE\b|\bCREATE\s+TASK\b[\s\S]{0,300}?\bSCHEDULE\s*=)re"},
    {"snowflake.masking_row_access_policy", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 24
     R"re(\bCREATE\s+(MASKING\s+POLICY|ROW\s+ACCESS\s+POLICY)\b)re"},
    {"snowflake.dynamic_table", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 25
     R"re(\bCREATE\s+DYNAMIC\s+TABLE\b[\s\S]{0,300}?\bTARGET_LAG\b)re"},
    {"snowflake.generator_seq", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 26
     R"re(\bGENERATOR\s*\(\s*ROWCOUNT\s*=>|\bSEQ[1248]\s*\(\s*\))re"},
    {"snowflake.convenience_functions", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 27
     R"re(\b(DIV0|ZEROIFNULL|EQUAL_NULL|BOOLAND|BOOLOR|BOOLXOR)\s*\()re"},
    {"snowflake.cortex_ai_functions", {P::Snowflake}, 1, "high", {}, C::NotGiven,  // 28
     R"re(\bSNOWFLAKE\.CORTEX\.\w+|\bAI_[A-Z_]+\s*\()re"},

    // PostgreSQL: positions 29-40.
    {"postgresql.dollar_quoted_body", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 29
     R"re(\$([A-Za-z_]\w*)?\$)re"},
    {"postgresql.on_conflict_upsert", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 30
     R"re(\bON\s+CONFLICT\b[\s\S]{0,80}?\bDO\s+(UPDATE|NOTHING)\b)re"},
    {"postgresql.serial_types", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 31
     R"re(\bCREATE\s+TABLE\b[\s\S]{0,2000}?\b(SMALL|BIG)?SERIAL\b)re"},
    {"postgresql.distinct_on", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 32
     R"re(\bDISTINCT\s+ON\s*\()re"},
    {"postgresql.jsonb_operators", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 33
     R"re(@>|<@|\?\||\?&|#>>|#>)re"},
    {"postgresql.fulltext_tsvector", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 34
     R"re(\bto_tsvector\s*\(|\bto_tsquery\s*\(|\bplainto_tsquery\s*\(|\btsvector\b|\btsquery\b)re"},
    {"postgresql.range_types", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 35
     R"re(\b(int4|int8|num|date|ts|tstz)range\b)re"},
    {"postgresql.create_extension", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 36
     R"re(\bCREATE\s+EXTENSION\b)re"},
    {"postgresql.table_inherits", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 37
     R"re(\bINHERITS\s*\()re"},
    {"postgresql.exclude_constraint", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 38
     R"re(\bEXCLUDE\s+USING\s+\w+\s*\()re"},
    {"postgresql.hstore_type", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 39
     R"re(\bhstore\b)re"},
    {"postgresql.psql_meta_commands", {P::PostgreSQL}, 1, "high", {}, C::NotGiven,  // 40
     R"re(^\s*\\(copy|dt|gset|df|dn|du|d|i|x)\b)re"},

    // MySQL: positions 41-55.
    {"mysql.on_duplicate_key_update", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 41
     R"re(\bON\s+DUPLICATE\s+KEY\s+UPDATE\b)re"},
    {"mysql.auto_increment", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 42
     R"re(\bAUTO_INCREMENT\b)re"},
    {"mysql.engine_table_option", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 43
     R"re(\bENGINE\s*=\s*(InnoDB|MyISAM|MEMORY|CSV|ARCHIVE|BLACKHOLE|MERGE|FEDERATED|NDB|NDBCLUSTER|TokuDB)\b)re"},
    {"mysql.utf8mb_charset", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 44
     R"re(\butf8mb[34]\b)re"},
    {"mysql.group_concat", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 45
     R"re(\bGROUP_CONCAT\s*\()re"},
    {"mysql.select_modifiers", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 46
     R"re(\bSELECT\s+(SQL_CALC_FOUND_ROWS|STRAIGHT_JOIN|SQL_NO_CACHE|SQL_CACHE|HIGH_PRIORITY)\b)re"},
    {"mysql.int_display_width_zerofill", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 47
     R"re(\b(?:TINY|SMALL|MEDIUM|BIG)?INT(?:EGER)?\s*\(\s*\d+\s*\)|\bZEROFILL\b)re"},
    {"mysql.mediumint_year_types", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 48
     R"re(\bMEDIUMINT\b|[,(]\s*\w+\s+YEAR\b)re"},
    {"mysql.enum_type", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 49
     R"re((?<!AS )\bENUM\s*\()re"},
    {"mysql.on_update_current_timestamp", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 50
     R"re(\bON\s+UPDATE\s+CURRENT_TIMESTAMP\b)re"},
    {"mysql.fulltext_match_against", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 51
     R"re(\bMATCH\s*\([^)]*\)\s*AGAINST\s*\()re"},
    {"mysql.hash_comment", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 52
     R"re(#(?![A-Za-z_])(?!\s*(standardSQL|legacySQL)\b))re"},
    {"mysql.version_comment", {P::MySQL}, 1, "high", "comment", C::NotGiven,  // 53
     R"re(/\*!\d+)re"},
    {"mysql.delimiter_command", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 54
     R"re(\bDELIMITER\s+(?![A-Za-z0-9_\s])\S+)re"},
    {"mysql.dump_session_pragmas", {P::MySQL}, 1, "high", {}, C::NotGiven,  // 55
     R"re(\bSET\s+(FOREIGN_KEY_CHECKS|SQL_MODE|NAMES|character_set_client)\b)re"},

    // SQL Server: positions 56-69.
    {"sqlserver.bracket_identifier", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 56
     R"re(\[[A-Za-z_]\w*\s+[A-Za-z0-9_ ]*\]|\.\[[A-Za-z_]\w*\])re"},
    {"sqlserver.at_at_global_vars", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 57
     R"re(@@(IDENTITY|ROWCOUNT|ERROR|VERSION|SERVERNAME|TRANCOUNT)\b)re"},
    {"sqlserver.go_batch_separator", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 58
     R"re(^\s*GO\s*$)re"},
    {"sqlserver.temp_table_prefix", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 59
     R"re(\b(CREATE\s+TABLE|DROP\s+TABLE|INTO|FROM|JOIN|DECLARE|UPDATE|MERGE)\s+##?[A-Za-z_]\w*)re"},
    {"sqlserver.output_inserted_deleted", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 60
     R"re(\bOUTPUT\s+(INSERTED|DELETED)\b)re"},
    {"sqlserver.try_catch_error_functions", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 61
     R"re(\bBEGIN\s+TRY\b|\bERROR_(NUMBER|MESSAGE|SEVERITY|LINE|PROCEDURE)\s*\()re"},
    {"sqlserver.throw_raiserror", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 62
     R"re(\bTHROW\s*(\d+\s*,|;)|\bRAISERROR\s*\()re"},
    {"sqlserver.for_xml_json", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 63
     R"re(\bFOR\s+(XML|JSON)\s+(PATH|AUTO|RAW|EXPLICIT|ROOT)\b)re"},
    {"sqlserver.table_hints", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 64
     R"re(\bWITH\s*\(\s*(NOLOCK|ROWLOCK|READPAST|TABLOCKX|TABLOCK|UPDLOCK|HOLDLOCK|XLOCK)\b)re"},
    {"sqlserver.sp_xp_exec", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 65
     R"re(\bEXEC(?:UTE)?\s+(sp_|xp_)\w+|\bsp_executesql\b)re"},
    {"sqlserver.set_nocount", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 66
     R"re(\bSET\s+NOCOUNT\s+(ON|OFF)\b)re"},
    {"sqlserver.tsql_data_types", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 67
     R"re(\bUNIQUEIDENTIFIER\b|\bDATETIME2\b|\bSMALLDATETIME\b|\bHIERARCHYID\b|\bSQL_VARIANT\b)re"},
    {"sqlserver.money_type", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 68
     R"re(\bCREATE\s+TABLE\b[\s\S]{0,2000}?\bMONEY\b)re"},
    {"sqlserver.convert_style_code", {P::SQLServer}, 1, "high", {}, C::NotGiven,  // 69
     R"re(\bCONVERT\s*\([^,]+,[^,]+,\s*\d+\s*\)|\bTRY_CONVERT\s*\(|\bTRY_PARSE\s*\()re"},

    // Oracle: positions 70-84.
    {"oracle.legacy_outer_join", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 70
     R"re(\(\+\))re"},
    {"oracle.q_quote", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 71
     R"re(\bn?q'[\[\(\{<])re"},
    {"oracle.varchar2", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 72
     R"re(\bN?VARCHAR2\b)re"},
    {"oracle.pragma", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 73
     R"re(\bPRAGMA\s+(AUTONOMOUS_TRANSACTION|EXCEPTION_INIT|SERIALLY_REUSABLE|RESTRICT_REFERENCES|INLINE|UDF)\b)re"},
    {"oracle.dbms_utl_package_call", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 74
     R"re(\b(DBMS|UTL)_\w+\s*\.\s*\w+)re"},
    {"oracle.raise_application_error", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 75
     R"re(\bRAISE_APPLICATION_ERROR\s*\()re"},
    {"oracle.bulk_collect_forall", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 76
     R"re(\bBULK\s+COLLECT\s+INTO\b|\bFORALL\b)re"},
    {"oracle.insert_all_first", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 77
     R"re(\bINSERT\s+(ALL|FIRST)\b)re"},
    {"oracle.new_old_trigger_vars", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 78
     R"re(:(NEW|OLD)\b)re"},
    {"oracle.package_body", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 79
     R"re(\bCREATE\s+(OR\s+REPLACE\s+)?PACKAGE\b(\s+BODY\b)?)re"},
    {"oracle.object_type_ddl", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 80
     R"re(\bAS\s+OBJECT\b|\bMEMBER\s+(FUNCTION|PROCEDURE)\b|\bVARRAY\s*\(|\bNESTED\s+TABLE\b)re"},
    {"oracle.pls_integer_subtypes", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 81
     R"re(\bPLS_INTEGER\b|\bBINARY_INTEGER\b|\bSIMPLE_INTEGER\b)re"},
    {"oracle.rowid_urowid", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 82
     R"re(\bROWID\b|\bUROWID\b)re"},
    {"oracle.flashback_as_of", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 83
     R"re(\bAS\s+OF\s+(TIMESTAMP|SCN)\b|\bVERSIONS\s+BETWEEN\b)re"},
    {"oracle.sqlplus_furniture", {P::Oracle}, 1, "high", {}, C::NotGiven,  // 84
     R"re(^\s*/\s*$|\bSET\s+SERVEROUTPUT\s+ON\b|\bWHENEVER\s+SQLERROR\b|\bSPOOL\s+\S+|^\s*PROMPT\b)re"},

    // Redshift: positions 85-95.
    {"redshift.system_table_prefix", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 85
     R"re(\b(STL|STV|SVL|SVV)_\w+)re"},
    {"redshift.distkey_diststyle", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 86
     R"re(\bDISTKEY\b|\bDISTSTYLE\s+(EVEN|KEY|ALL|AUTO)\b)re"},
    {"redshift.sortkey", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 87
     R"re(\b(COMPOUND\s+|INTERLEAVED\s+)?SORTKEY\b)re"},
    {"redshift.encode_codec", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 88
     R"re(\bENCODE\s+(AZ64|BYTEDICT|ZSTD|LZO|RUNLENGTH|MOSTLY8|MOSTLY16|MOSTLY32|DELTA32K|DELTA|TEXT255|TEXT32K|RAW|AUTO)\b)re"},
    {"redshift.copy_iam_role", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 89
     R"re(\bCOPY\s+\S+\s+FROM\b[\s\S]{0,300}?\bIAM_ROLE\b)re"},
    {"redshift.unload", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 90
     R"re(\bUNLOAD\s*\()re"},
    {"redshift.super_type", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 91
     R"re(\b\w+\s+SUPER\s*[,\)])re"},
    {"redshift.backup_option", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 92
     R"re(\bBACKUP\s+(NO|YES)\b)re"},
    {"redshift.alter_table_append", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 93
     R"re(\bALTER\s+TABLE\s+\S+\s+APPEND\s+FROM\b)re"},
    {"redshift.varbyte_hllsketch", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 94
     R"re(\bVARBYTE\b|\bHLLSKETCH\b)re"},
    {"redshift.approximate_count_distinct", {P::Redshift}, 1, "high", {}, C::NotGiven,  // 95
     R"re(\bAPPROXIMATE\s+COUNT\s*\(\s*DISTINCT\b)re"},

    // BigQuery: positions 96-105.
    {"bigquery.magic_comment", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 96
     R"re(^[ \t]*#\s*(standardSQL|legacySQL)\b)re"},
    {"bigquery.legacy_bracket_table_ref", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 97
     R"re(\[[\w-]+:[\w-]+\.[\w-]+\])re"},
    {"bigquery.safe_cast", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 98
     R"re(\bSAFE_CAST\s*\(|\bSAFE\.\w+\s*\()re"},
    {"bigquery.string_prefix_triple_quote", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 99
     R"re(\b[rRbB]['\"]|\"\"\")re"},
    {"bigquery.unnest_with_offset", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 100
     R"re(\bUNNEST\s*\([^)]*\)\s*(AS\s+\w+\s+)?WITH\s+OFFSET\b)re"},
    {"bigquery.pseudo_columns_wildcard", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 101
     R"re(\b_PARTITIONTIME\b|\b_PARTITIONDATE\b|\b_TABLE_SUFFIX\b|`[\w.-]+\*`)re"},
    {"bigquery.js_udf", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 102
     R"re(\bCREATE\s+(OR\s+REPLACE\s+)?(TEMP\s+|TEMPORARY\s+)?FUNCTION\b[\s\S]{0,500}?\bLANGUAGE\s+js\b)re"},
    {"bigquery.export_data", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 103
     R"re(\bEXPORT\s+DATA\s+OPTIONS\s*\()re"},
    {"bigquery.load_data_from_files", {P::BigQuery}, 1, "high", {}, C::NotGiven,  // 104
     R"re(\bLOAD\s+DATA\s+(INTO|OVERWRITE)\b[\s\S]{0,300}?\bFROM\s+FILES\s*\()re"},
    {"bigquery.struct_space_type", {P::BigQuery}, 1, "medium", {}, C::NotGiven,  // 105
     R"re(\bSTRUCT\s*<\s*\w+\s+\w+)re"},

    // Teradata: positions 106-120.
    {"teradata.locking_modifier", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 106
     R"re(\bLOCKING\s+(ROW|TABLE)\s+FOR\s+(ACCESS|WRITE|READ|EXCLUSIVE)\b)re"},
    {"teradata.sel_abbreviation", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 107
     R"re((?:^|;)\s*SEL\s+)re"},
    {"teradata.primary_index", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 108
     R"re(\b(UNIQUE\s+|NO\s+)?PRIMARY\s+INDEX\b|\bNOPI\b)re"},
    {"teradata.set_multiset_fallback", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 109
     R"re(\bCREATE\s+(SET|MULTISET)\s+TABLE\b|\)\s*(NO\s+)?FALLBACK\b)re"},
    {"teradata.partition_case_range_n", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 110
     R"re(\bPARTITION\s+BY\b[\s\S]{0,50}?\b(CASE_N|RANGE_N)\s*\()re"},
    {"teradata.create_macro", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 111
     R"re(\b(CREATE|REPLACE)\s+MACRO\b)re"},
    {"teradata.format_phrase", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 112
     R"re(\(\s*FORMAT\s+\)|\b(DATE|TIME|TIMESTAMP)\s+FORMAT\b)re"},
    {"teradata.casespecific", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 113
     R"re(\b(NOT\s+)?CASESPECIFIC\b)re"},
    {"teradata.help_show", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 114
     R"re(\bHELP\s+(TABLE|COLUMN|DATABASE|VIEW|MACRO|USER)\b)re"},
    {"teradata.bare_database_stmt", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 115
     R"re(^\s*DATABASE\s+\w+\s*;)re"},
    {"teradata.give_stmt", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 116
     R"re(\bGIVE\s+\S+\s+TO\s+\S+)re"},
    {"teradata.validtime_transactiontime", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 117
     R"re(\b(CURRENT|SEQUENCED|NONSEQUENCED)\s+(VALIDTIME|TRANSACTIONTIME)\b)re"},
    {"teradata.collect_statistics", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 118
     R"re(\bCOLLECT\s+STATISTICS\b)re"},
    {"teradata.moving_window_functions", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 119
     R"re(\b(CSUM|MAVG|MSUM|MDIFF)\s*\()re"},
    {"teradata.byteint_period_types", {P::Teradata}, 1, "high", {}, C::NotGiven,  // 120
     R"re(\bBYTEINT\b|\bPERIOD\s*\(\s*(DATE|TIME|TIMESTAMP)\b)re"},

    // Hive: positions 121-123.
    {"hive.uniontype", {P::Hive}, 1, "high", {}, C::NotGiven,  // 121
     R"re(\bUNIONTYPE\s*<)re"},
    {"hive.msck_repair", {P::Hive}, 1, "medium", {}, C::False,  // 122
     R"re(\bMSCK\s+REPAIR\s+TABLE\b)re"},
    {"hive.string_angle_bracket_colon", {P::Hive}, 1, "medium", {}, C::False,  // 123
     R"re(\b(ARRAY|MAP|STRUCT)\s*<[^<>]*:[^<>]*>)re"},

    // Shared: several platforms each: positions 124-133.
    {"shared.qualify", {P::Teradata, P::Snowflake, P::Databricks, P::BigQuery}, 4, "medium", {}, C::True,  // 124
     R"re(\bQUALIFY\b)re"},
    {"shared.group_by_all", {P::Snowflake, P::Databricks, P::BigQuery}, 3, "medium", {}, C::True,  // 125
     R"re(\b(GROUP|ORDER)\s+BY\s+ALL\b)re"},
    {"shared.top_n_bare", {P::SQLServer, P::Teradata}, 2, "medium", {}, C::True,  // 126
     R"re(\bTOP\s*\(?\s*\d+\s*\)?\b)re"},
    {"shared.cast_operator", {P::PostgreSQL, P::Redshift, P::Snowflake, P::Databricks}, 4, "medium", {}, C::True,  // 127
     R"re(::[A-Za-z_])re"},
    {"shared.ilike", {P::PostgreSQL, P::Redshift, P::Snowflake}, 3, "medium", {}, C::True,  // 128
     R"re(\bILIKE\b)re"},
    {"shared.minus_setop", {P::Oracle, P::Teradata}, 2, "medium", {}, C::True,  // 129
     R"re((?:^|\n)\s*MINUS\s*(?:\n|$)|\bMINUS\s+SELECT\b)re"},
    {"shared.merge_stmt", {P::PostgreSQL, P::Snowflake, P::Databricks, P::Redshift, P::BigQuery, P::Oracle, P::SQLServer}, 7, "medium", {}, C::True,  // 130
     R"re(\bMERGE\s+(INTO\s+)?\S+\s+USING\b)re"},
    {"shared.pipe_syntax", {P::BigQuery, P::Databricks, P::Snowflake}, 3, "medium", {}, C::True,  // 131
     R"re(^\s*\|>)re"},
    {"shared.backtick_identifier", {P::MySQL, P::BigQuery, P::Databricks, P::Hive}, 4, "medium", {}, C::True,  // 132
     R"re(`[^`\n]+`)re"},
    {"shared.select_star_except", {P::BigQuery, P::Databricks}, 2, "medium", {}, C::False,  // 133
     R"re(SELECT\s+\*\s+EXCEPT\s*\()re"},
}};

namespace {

// Identifier prefix of each platform's own rows, indexed by Platform.
constexpr std::array<std::string_view, kPlatformCount> kPrefixes = {
    "databricks", "snowflake", "postgresql", "mysql",    "sqlserver",
    "oracle",     "redshift",  "bigquery",   "teradata", "hive",
};
constexpr std::string_view kSharedPrefix = "shared";

constexpr std::string_view prefix_of(std::string_view id) {
    const auto dot = id.find('.');
    return dot == std::string_view::npos ? std::string_view{} : id.substr(0, dot);
}

constexpr bool is_feature_name(std::string_view feature) {
    if (feature.empty()) return false;
    for (const char c : feature) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

// Group rank of a row: the platform's index for a platform row, kPlatformCount
// for a shared row, and one past that for a malformed prefix.
constexpr std::size_t group_of(const MarkerRow& row) {
    const auto prefix = prefix_of(row.id);
    for (std::size_t i = 0; i < kPlatformCount; ++i) {
        if (prefix == kPrefixes[i]) return i;
    }
    return prefix == kSharedPrefix ? kPlatformCount : kPlatformCount + 1;
}

constexpr bool row_is_well_formed(const MarkerRow& row) {
    const auto prefix = prefix_of(row.id);
    if (prefix.empty() || !is_feature_name(row.id.substr(prefix.size() + 1))) return false;
    const auto group = group_of(row);
    if (group > kPlatformCount) return false;
    if (row.confidence != "high" && row.confidence != "medium") return false;
    if (!row.scope.empty() && row.scope != "comment") return false;
    if (!row.scope.empty() && row.corroborating != Corroborating::NotGiven) return false;
    if (row.pattern.empty()) return false;
    for (const char c : row.pattern) {
        if (c < 0x20 || c > 0x7e) return false;  // printable ASCII only
    }
    const auto platforms = row.platform_list();
    if (group < kPlatformCount) {
        return platforms.size() == 1 && static_cast<std::size_t>(platforms[0]) == group;
    }
    if (platforms.size() < 2 || platforms.size() > kMaxPlatformsPerMarker) return false;
    for (std::size_t i = 0; i < platforms.size(); ++i) {
        for (std::size_t j = i + 1; j < platforms.size(); ++j) {
            if (platforms[i] == platforms[j]) return false;
        }
    }
    return true;
}

constexpr bool table_is_well_formed() {
    for (std::size_t i = 0; i < kMarkers.size(); ++i) {
        const auto& row = kMarkers[i];
        if (!row_is_well_formed(row)) return false;
        for (std::size_t j = i + 1; j < kMarkers.size(); ++j) {
            if (row.id == kMarkers[j].id) return false;
        }
        if (i > 0) {
            const auto& before = kMarkers[i - 1];
            // Groups in canonical order, shared last; high before medium within a group.
            if (group_of(before) > group_of(row)) return false;
            if (group_of(before) == group_of(row) && before.confidence == "medium" &&
                row.confidence == "high") {
                return false;
            }
        }
    }
    return true;
}

static_assert(table_is_well_formed(), "marker table is malformed");
static_assert(kMarkers.front().id == "databricks.notebook_header");
static_assert(kMarkers.back().id == "shared.select_star_except");

}  // namespace

}  // namespace quorvane::dialectra
