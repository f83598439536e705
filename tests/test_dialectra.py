"""The platform marker catalogue published by agents.quorvane.dialectra."""

from __future__ import annotations

import collections
import json
import re
import subprocess
import sys

import pytest

from agents.quorvane import _dialectra, dialectra
from agents.quorvane import platform_detect as pd

CATALOGUE = dialectra.PLATFORM_MARKERS
BY_ID = {m.id: m for m in CATALOGUE}

IMPORTED_NAMES = [
    "Marker",
    "PLATFORM_DATABRICKS",
    "PLATFORM_SNOWFLAKE",
    "PLATFORM_POSTGRESQL",
    "PLATFORM_MYSQL",
    "PLATFORM_SQLSERVER",
    "PLATFORM_ORACLE",
    "PLATFORM_REDSHIFT",
    "PLATFORM_BIGQUERY",
    "PLATFORM_TERADATA",
    "PLATFORM_HIVE",
]

# prefix: (first position, last position, "medium" rows, rows naming the platform)
GROUPS = {
    "databricks": (1, 14, 2, 21),
    "snowflake": (15, 28, 0, 20),
    "postgresql": (29, 40, 0, 15),
    "mysql": (41, 55, 0, 16),
    "sqlserver": (56, 69, 0, 16),
    "oracle": (70, 84, 0, 17),
    "redshift": (85, 95, 0, 14),
    "bigquery": (96, 105, 1, 16),
    "teradata": (106, 120, 0, 18),
    "hive": (121, 123, 2, 4),
    "shared": (124, 133, 10, None),
}

SHARED_PLATFORMS = {
    "shared.qualify": ["teradata", "snowflake", "databricks", "bigquery"],
    "shared.group_by_all": ["snowflake", "databricks", "bigquery"],
    "shared.top_n_bare": ["sqlserver", "teradata"],
    "shared.cast_operator": ["postgresql", "redshift", "snowflake", "databricks"],
    "shared.ilike": ["postgresql", "redshift", "snowflake"],
    "shared.minus_setop": ["oracle", "teradata"],
    "shared.merge_stmt": ["postgresql", "snowflake", "databricks", "redshift", "bigquery", "oracle", "sqlserver"],
    "shared.pipe_syntax": ["bigquery", "databricks", "snowflake"],
    "shared.backtick_identifier": ["mysql", "bigquery", "databricks", "hive"],
    "shared.select_star_except": ["bigquery", "databricks"],
}

SCOPED = {"databricks.notebook_header", "databricks.optimizer_hint", "mysql.version_comment"}
CORROBORATING = {
    **{i: True for i in SHARED_PLATFORMS if i != "shared.select_star_except"},
    "hive.msck_repair": False,
    "hive.string_angle_bracket_colon": False,
    "shared.select_star_except": False,
}

GAPS = {
    "databricks.optimize_zorder": [200],
    "databricks.vacuum_retain": [60],
    "databricks.create_table_using_format": [3000],
    "databricks.lakeflow_dlt_ddl": [200, 200],
    "snowflake.semi_structured_types": [2000],
    "snowflake.stream_task_ddl": [300],
    "snowflake.dynamic_table": [300],
    "postgresql.on_conflict_upsert": [80],
    "postgresql.serial_types": [2000],
    "sqlserver.money_type": [2000],
    "redshift.copy_iam_role": [300],
    "bigquery.js_udf": [500],
    "bigquery.load_data_from_files": [300],
    "teradata.partition_case_range_n": [50],
}


def test_catalogue_is_a_list_of_distinct_markers():
    assert type(CATALOGUE) is list
    assert len(CATALOGUE) == 133
    assert len(BY_ID) == 133
    assert all(type(m) is pd.Marker for m in CATALOGUE)
    assert collections.Counter(m.confidence for m in CATALOGUE) == {"high": 118, "medium": 15}


@pytest.mark.parametrize(
    "position, marker_id",
    [
        (1, "databricks.notebook_header"),
        (14, "databricks.struct_colon_type"),
        (124, "shared.qualify"),
        (133, "shared.select_star_except"),
    ],
)
def test_position(position, marker_id):
    assert CATALOGUE[position - 1].id == marker_id


@pytest.mark.parametrize("prefix", GROUPS)
def test_group_shape(prefix):
    first, last, medium, naming = GROUPS[prefix]
    positions = [i for i, m in enumerate(CATALOGUE, 1) if m.id.split(".")[0] == prefix]
    assert positions == list(range(first, last + 1))
    rows = CATALOGUE[first - 1 : last]
    assert sum(m.confidence == "medium" for m in rows) == medium
    # "high" rows come first within a group.
    assert [m.confidence for m in rows] == ["high"] * (len(rows) - medium) + ["medium"] * medium
    if naming is not None:
        assert all(m.platforms == (prefix,) for m in rows)
        assert sum(prefix in m.platforms for m in CATALOGUE) == naming


def test_shared_platform_lists():
    shared = [m for m in CATALOGUE if m.id.startswith("shared.")]
    assert [len(m.platforms) for m in shared] == [4, 3, 2, 4, 3, 2, 7, 3, 4, 2]
    assert {m.id: list(m.platforms) for m in shared} == SHARED_PLATFORMS


def test_scope_and_corroborating_rows():
    assert {m.id for m in CATALOGUE if m.scope is not None} == SCOPED
    assert all(BY_ID[i].scope == "comment" for i in SCOPED)
    assert {m.id: m.corroborating_only for m in CATALOGUE if m.corroborating_only} == {
        i: v for i, v in CORROBORATING.items() if v
    }


def test_bounded_gaps():
    found = {}
    for m in CATALOGUE:
        bounds = [int(n) for n in re.findall(r"\[\\s\\S\]\{0,(\d+)\}\?", m.pattern)]
        if bounds:
            found[m.id] = bounds
    assert found == GAPS
    assert sum(map(len, found.values())) == 15
    assert not any(re.search(r"\[\\s\\S\][*+]", m.pattern) for m in CATALOGUE)


@pytest.mark.parametrize(
    "marker_id, pattern",
    [
        ("shared.minus_setop", r"(?:^|\n)\s*MINUS\s*(?:\n|$)|\bMINUS\s+SELECT\b"),
        ("bigquery.magic_comment", r"^[ \t]*#\s*(standardSQL|legacySQL)\b"),
        ("bigquery.string_prefix_triple_quote", r"""\b[rRbB]['\"]|\"\"\""""),
        ("bigquery.pseudo_columns_wildcard", r"\b_PARTITIONTIME\b|\b_PARTITIONDATE\b|\b_TABLE_SUFFIX\b|`[\w.-]+\*`"),
        ("shared.backtick_identifier", r"`[^`\n]+`"),
    ],
)
def test_pattern_text(marker_id, pattern):
    assert BY_ID[marker_id].pattern == pattern


def test_patterns_are_single_line_printable_ascii():
    assert all(re.fullmatch(r"[\x20-\x7e]+", m.pattern) for m in CATALOGUE)


def test_namespace_reuses_platform_detect_objects():
    for name in IMPORTED_NAMES:
        assert getattr(dialectra, name) is getattr(pd, name)
    public = {n for n in vars(dialectra) if not n.startswith("_")}
    assert public == {*IMPORTED_NAMES, "PLATFORM_MARKERS", "MarkerScanner"}


# --- Loading against a stand-in platform vocabulary (fresh interpreter each) ---

HARNESS = r"""
import importlib.util, json, sys, types

py_path, so_path, scenario = sys.argv[1], sys.argv[2], sys.argv[3]
NAMES = %s
lookups, calls, live = [], [], [0]

class Record:
    def __init__(self, kwargs):
        self.kwargs = kwargs
        live[0] += 1
    def __del__(self):
        live[0] -= 1

def Marker(*args, **kwargs):
    if scenario == "marker_raises" and len(calls) == 40:
        raise LookupError("row 41 rejected")
    calls.append({"nargs": len(args), "keys": list(kwargs)})
    return Record(kwargs)

class StandIn(types.ModuleType):
    def __getattribute__(self, name):
        if name in NAMES:
            lookups.append(name)
            if scenario == "lookup_raises" and name == "PLATFORM_ORACLE":
                raise RuntimeError("lookup failed")
        return super().__getattribute__(name)

stand_in = StandIn("agents.quorvane.platforms")
values = {"Marker": Marker, **{n: "<" + n + ">" for n in NAMES[1:]}}
for name in values:
    if not (scenario == "no_hive" and name == "PLATFORM_HIVE"):
        setattr(stand_in, name, values[name])
for parent in ("agents", "agents.quorvane"):
    sys.modules[parent] = types.ModuleType(parent)
sys.modules["agents.quorvane.platforms"] = None if scenario == "no_module" else stand_in
native_spec = importlib.util.spec_from_file_location("agents.quorvane._dialectra", so_path)
native = sys.modules["agents.quorvane._dialectra"] = importlib.util.module_from_spec(native_spec)
native_spec.loader.exec_module(native)
sys.modules["agents.quorvane"]._dialectra = native

result = {}
try:
    module_spec = importlib.util.spec_from_file_location("agents.quorvane.dialectra", py_path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
except Exception as exc:
    result["error"] = [type(exc).__name__, str(exc)]
    module = None
result.update(lookups=lookups, calls=calls, live=live[0],
              published="agents.quorvane.dialectra" in sys.modules)
if module is not None:
    cat = module.PLATFORM_MARKERS
    result["type"] = type(cat).__name__
    result["same_objects"] = all(getattr(module, n) is values[n] for n in NAMES)
    # References beyond the catalogue's (records) or one record's (lists, ids).
    result["extra_refs"] = {
        "records": sorted({sys.getrefcount(r) - 3 for r in cat}),  # less loop variable and argument
        "platform_lists": sorted({sys.getrefcount(r.kwargs["platforms"]) - 2 for r in cat}),
        "ids": sorted({sys.getrefcount(r.kwargs["id"]) - 2 for r in cat}),
    }
    # Identifiers: held by `values`, the stand-in, dialectra and each platforms list.
    result["identifier_refs"] = [sys.getrefcount(values[n]) - 4 for n in NAMES[1:]]
    result["rows"] = [r.kwargs for r in cat]
    result["platform_list_types"] = sorted({type(r.kwargs["platforms"]).__name__ for r in cat})
    result["distinct_lists"] = len({id(r.kwargs["platforms"]) for r in cat})
print(json.dumps(result))
""" % json.dumps(IMPORTED_NAMES)


def load_with_stand_in(scenario: str) -> dict:
    proc = subprocess.run(
        [sys.executable, "-I", "-c", HARNESS, dialectra.__file__, _dialectra.__file__, scenario],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)


def test_marker_calls_use_keywords_in_order():
    result = load_with_stand_in("ok")
    assert "error" not in result
    assert result["lookups"] == IMPORTED_NAMES
    assert result["same_objects"]
    assert result["type"] == "list"
    assert all(call["nargs"] == 0 for call in result["calls"])
    base = ["id", "platforms", "confidence", "pattern"]
    expected_keys = [
        base + ["scope"] if m.id in SCOPED else base + ["corroborating_only"] if m.id in CORROBORATING else base
        for m in CATALOGUE
    ]
    assert [call["keys"] for call in result["calls"]] == expected_keys
    rows = result["rows"]
    assert [r["id"] for r in rows] == [m.id for m in CATALOGUE]
    assert {r["id"]: r["corroborating_only"] for r in rows if "corroborating_only" in r} == CORROBORATING
    assert rows[130]["platforms"] == ["<PLATFORM_BIGQUERY>", "<PLATFORM_DATABRICKS>", "<PLATFORM_SNOWFLAKE>"]
    assert rows[0]["platforms"] == ["<PLATFORM_DATABRICKS>"] and rows[0]["scope"] == "comment"
    assert result["platform_list_types"] == ["list"]
    assert result["distinct_lists"] == 133
    assert result["extra_refs"] == {"records": [0], "platform_lists": [0], "ids": [0]}
    assert result["identifier_refs"] == [naming for *_, naming in GROUPS.values()][:10]


@pytest.mark.parametrize(
    "scenario, error, lookups",
    [
        ("no_hive", ["ImportError", "cannot import name PLATFORM_HIVE"], IMPORTED_NAMES),
        ("lookup_raises", ["RuntimeError", "lookup failed"], IMPORTED_NAMES[:7]),
        ("no_module", ["ModuleNotFoundError", None], []),
    ],
)
def test_failed_name_import_builds_nothing(scenario, error, lookups):
    result = load_with_stand_in(scenario)
    assert result["error"][0] == error[0]
    if error[1] is not None:
        assert result["error"][1] == error[1]
    assert result["lookups"] == lookups
    assert result["calls"] == []
    assert not result["published"]


def test_marker_exception_fails_the_load_and_frees_records():
    result = load_with_stand_in("marker_raises")
    assert result["error"] == ["LookupError", "row 41 rejected"]
    assert len(result["calls"]) == 40
    assert result["live"] == 0
    assert not result["published"]


# --- Documented matches, under Python's re with every flag combination ---

# marker id: (texts it matches, texts it does not match)
EXAMPLES = {
    "databricks.delta_time_travel": (["SELECT * FROM events@v12", "SELECT * FROM t VERSION AS OF 3"], []),
    "databricks.trycast_operator": (["SELECT raw?::INT FROM t"], ["WHERE a = ? ::INT"]),
    "databricks.create_table_using_format": (
        ["CREATE TABLE" + " " * 3000 + "USING DELTA"],
        ["CREATE TABLE" + " " * 3001 + "USING DELTA"],
    ),
    "databricks.struct_colon_type": (["STRUCT<a: INT>"], ["STRUCT<a INT>"]),
    "databricks.notebook_header": (["-- Databricks notebook source", "-- MAGIC %md", "-- COMMAND ----------"], []),
    "snowflake.stage_sigil": (["@~/staged", "@%orders"], ["@my_stage"]),
    "snowflake.generator_seq": (["SEQ4()"], ["SEQ3()"]),
    "snowflake.semi_structured_types": (["CREATE TABLE t (id INT, v VARIANT)"], []),
    "postgresql.dollar_quoted_body": (["AS $$ BEGIN END $$", "AS $body$ BEGIN END $body$"], ["WHERE a = $1 AND b = $2"]),
    "postgresql.psql_meta_commands": ([r"\dt", r"\copy t FROM data.csv"], [r"\dx"]),
    "postgresql.serial_types": (["CREATE TABLE t (id BIGSERIAL PRIMARY KEY)"], ["ALTER TABLE t ADD id SERIAL"]),
    "mysql.hash_comment": (["# note"], ["SELECT * INTO #temp FROM t", "# standardSQL", "#standardSQL"]),
    "mysql.enum_type": (["status ENUM('a','b')"], ["CREATE TYPE mood AS ENUM ('a')"]),
    "mysql.delimiter_command": (["DELIMITER $$", "DELIMITER //", "DELIMITER ;"], ["DELIMITER foo"]),
    "mysql.version_comment": (["/*!40101 SET NAMES utf8 */"], []),
    "mysql.int_display_width_zerofill": (["id INT(11) NOT NULL", "id BIGINT(20)"], ["id INT NOT NULL"]),
    "mysql.mediumint_year_types": (["CREATE TABLE t (id INT, born YEAR)"], ["SELECT EXTRACT(YEAR FROM d)"]),
    "sqlserver.bracket_identifier": (
        ["SELECT * FROM [Order Details]", "SELECT * FROM dbo.[Orders]"],
        ["SELECT * FROM [Orders]"],
    ),
    "sqlserver.go_batch_separator": (["GO"], ["GOTO done"]),
    "sqlserver.temp_table_prefix": (
        ["SELECT * INTO #temp FROM t", "SELECT * INTO #staging FROM t", "DROP TABLE ##shared"],
        [],
    ),
    "sqlserver.convert_style_code": (["CONVERT(VARCHAR(10), d, 120)"], ["CONVERT(INT, x)"]),
    "sqlserver.throw_raiserror": (["THROW 50001, 'bad', 1;", "THROW;"], []),
    "sqlserver.money_type": (["CREATE TABLE t (price MONEY)"], ["DECLARE @p MONEY"]),
    "oracle.legacy_outer_join": (["WHERE a.id = b.id(+)"], []),
    "oracle.new_old_trigger_vars": ([":NEW.id := 1"], [":NEWS"]),
    "oracle.sqlplus_furniture": (["/", "SET SERVEROUTPUT ON"], []),
    "redshift.super_type": (["CREATE TABLE t (payload SUPER, id INT)"], ["SELECT SUPER"]),
    "bigquery.legacy_bracket_table_ref": (["SELECT * FROM [my-project:dataset.table]"], ["SELECT * FROM [dbo].[t]"]),
    "bigquery.string_prefix_triple_quote": ([r"r'\d+'", '"""'], ["WHERE name = 'Bob'"]),
    "bigquery.pseudo_columns_wildcard": (["_PARTITIONTIME", "`proj.ds.events_*`"], []),
    "bigquery.struct_space_type": (["STRUCT<a INT64>"], ["STRUCT<a: INT>"]),
    "teradata.sel_abbreviation": (["SEL * FROM t;", "x; SEL a FROM t"], ["SELECT a FROM t"]),
    "teradata.bare_database_stmt": (["DATABASE sales;\nSELECT 1;"], []),
    "teradata.primary_index": (["UNIQUE PRIMARY INDEX (id)", "NO PRIMARY INDEX"], ["PRIMARY KEY (id)"]),
    "hive.string_angle_bracket_colon": (["ARRAY<STRUCT<a:INT>>"], []),
    "shared.top_n_bare": (["SELECT TOP 10 * FROM t", "SELECT TOP (5) * FROM t"], ["SELECT topic FROM t"]),
    "shared.cast_operator": (["SELECT x::INT"], ["SELECT x:: INT"]),
    "shared.minus_setop": (
        ["SELECT a FROM t\nMINUS\nSELECT a FROM u", "SELECT a FROM t MINUS SELECT a FROM u"],
        ["SELECT a - b AS minus_x FROM t"],
    ),
    "shared.merge_stmt": (["MERGE INTO tgt USING src ON", "MERGE tgt USING src ON"], []),
    "shared.backtick_identifier": (["SELECT `x` FROM t", "SELECT `order id` FROM t"], ["SELECT `` FROM t"]),
}
CASES = [
    pytest.param(marker_id, text, expected, id=f"{marker_id}-{'match' if expected else 'no'}-{n}")
    for marker_id, (matching, other) in EXAMPLES.items()
    for expected, texts in ((True, matching), (False, other))
    for n, text in enumerate(texts)
]


@pytest.mark.parametrize("flags", [0, re.IGNORECASE, re.MULTILINE, re.IGNORECASE | re.MULTILINE])
@pytest.mark.parametrize("marker_id, text, expected", CASES)
def test_documented_example(marker_id, text, expected, flags):
    assert (re.search(BY_ID[marker_id].pattern, text, flags) is not None) is expected
