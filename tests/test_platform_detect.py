"""Platform detection: the rule on small realistic scripts, the rule as a
pure function of first-match lines, and its accuracy on the real SQL corpus
(skipped when the corpus is not beside the repository)."""

from __future__ import annotations

import csv
import os
import re
import sys
from collections import defaultdict
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import platform_model
import pytest
from hypothesis import given, strategies as st

from agents.quorvane import platform_detect as pd
from agents.quorvane.platform_detect import detect_platform, judge

from corpus import CORPUS


def ranking(sql: str) -> dict[str, float]:
    return dict(detect_platform(sql).ranking)


def vector(**lines_by_id: int) -> list[int]:
    """First lines for judge(): the named rows (dots written as __) at the given lines."""
    ids = [row.id for row in pd.scan_rows()]
    out = [0] * len(ids)
    for key, line in lines_by_id.items():
        out[ids.index(key.replace("__", "."))] = line
    return out


class TestScoringRule:
    def test_no_marker_means_no_guess(self):
        guess = detect_platform("SELECT a, b FROM t WHERE a = 1;\n")
        assert (guess.platform, guess.score, guess.ranking, guess.matched) == (None, 0.0, (), ())
        assert (guess.confidence, guess.tied) == (None, ())

    def test_high_weighs_two_medium_one_and_each_marker_counts_once(self):
        assert ranking("SET NOCOUNT ON;") == ranking("SET NOCOUNT ON;\nSET NOCOUNT OFF;") == {"sqlserver": 2.0}
        assert ranking("OPTIMIZE t ZORDER BY (a);\nSELECT * FROM t /*+ BROADCAST(u) */") == {"databricks": 3.0}

    def test_corroborating_marker_alone_is_no_evidence(self):
        guess = detect_platform("SELECT a FROM t QUALIFY ROW_NUMBER() OVER (ORDER BY a) = 1")
        assert guess.platform is None and guess.matched == ("shared.qualify",) and guess.confidence is None

    def test_corroborating_marker_counts_only_where_supported(self):
        sql = "CREATE MULTISET TABLE t (a INT);\nSELECT a FROM t QUALIFY ROW_NUMBER() OVER (ORDER BY a) = 1"
        assert ranking(sql) == {"teradata": 3.0}

    def test_comment_markers_see_comments_others_do_not(self):
        assert detect_platform("-- MAGIC %sql\nSELECT 1").platform == "databricks"
        assert detect_platform("-- SET NOCOUNT ON\nSELECT 1 /* SET NOCOUNT ON */").platform is None

    def test_matches_inside_string_literals_are_data(self):
        assert detect_platform("SELECT 'SET NOCOUNT ON' AS s").platform is None
        assert detect_platform("SELECT * FROM pg_class WHERE relkind = 'r'").ranking == (
            ("postgresql", 1.0),
            ("redshift", 1.0),
        )
        assert detect_platform("WHERE dt = '${hiveconf:run_date}'").platform is None

    def test_quotes_hide_comment_openers_and_doubled_quotes_stay_inside(self):
        assert detect_platform("SELECT '--' AS a;\nSET NOCOUNT ON;").platform == "sqlserver"
        assert detect_platform("SELECT 'it''s SET NOCOUNT ON' AS a").platform is None
        assert detect_platform('SELECT "--" AS a;\nSET NOCOUNT ON;').platform == "sqlserver"

    def test_matching_ignores_case_and_anchors_at_every_line(self):
        assert detect_platform("select 1\n  go  \nselect 2").platform == "sqlserver"
        assert detect_platform("set nocount on").platform == "sqlserver"

    @pytest.mark.parametrize(
        ("sql", "marker_id"),
        [
            ("\u017fET NOCOUNT ON", "sqlserver.set_nocount"),  # long s
            ("LOC\u212aING ROW FOR ACCESS SELECT 1", "teradata.locking_modifier"),  # Kelvin sign
            ("SELECT * FROM DBC.Tables\u212aV", "teradata.dictionary_views"),
        ],
    )
    def test_characters_that_fold_to_ascii_letters_still_match(self, sql, marker_id):
        row = next(r for r in pd.scan_rows() if r.id == marker_id)
        assert re.search(row.pattern, sql, re.IGNORECASE | re.MULTILINE)  # the host's engine matches it
        assert marker_id in detect_platform(sql).matched

    @pytest.mark.parametrize("sql", ["id INT AUTO_\u0131NCREMENT", "id INT AUTO_\u0130NCREMENT"])
    def test_dotted_and_dotless_i_have_no_simple_case_folding(self, sql):
        # The host's re pairs them with i; simple case folding, used throughout the package, does not.
        assert detect_platform(sql).matched == ()

    def test_matched_rows_are_in_row_order_catalogue_first(self):
        guess = detect_platform("GO\nDECLARE @n INT\nSET NOCOUNT ON\nSELECT TOP 5 a FROM #t\nSELECT a FROM b (+)")
        ids = [r.id for r in pd.scan_rows()]
        assert list(guess.matched) == sorted(guess.matched, key=ids.index)
        assert guess.matched[-1] == "sqlserver.local_variables" and "shared.top_n_bare" in guess.matched


class TestContextAndSharedSyntax:
    MYSQL_ROUTINE = (
        "DELIMITER $$\n"
        "CREATE PROCEDURE close_stale(IN cutoff DATE)\n"
        "BEGIN\n"
        "  UPDATE orders SET status = 'closed' WHERE created_at < cutoff;\n"
        "END $$\n"
        "DELIMITER ;\n"
    )

    def test_dollars_under_a_delimiter_command_are_no_dollar_quoting(self):
        guess = detect_platform(self.MYSQL_ROUTINE)
        assert guess.platform == "mysql" and guess.ranking == (("mysql", 2.0),)
        assert "postgresql.dollar_quoted_body" in guess.matched  # found, but cancelled by its context

    def test_cancellation_needs_the_context_on_the_same_line_or_before(self):
        base = {"postgresql__create_extension": 1, "mysql__delimiter_command": 4}
        assert dict(judge(vector(**base, postgresql__dollar_quoted_body=2)).ranking)["postgresql"] == 3.0
        assert dict(judge(vector(**base, postgresql__dollar_quoted_body=4)).ranking)["postgresql"] == 2.0
        assert dict(judge(vector(**base, postgresql__dollar_quoted_body=9)).ranking)["postgresql"] == 2.0

    def test_postgresql_function_keeps_its_dollar_quoting(self):
        sql = (
            "CREATE FUNCTION add_one(i integer) RETURNS integer AS $$\n"
            "BEGIN\n  RETURN i + 1;\nEND;\n$$ LANGUAGE plpgsql;\n"
        )
        guess = detect_platform(sql)
        assert guess.platform == "postgresql"
        # plpgsql (PostgreSQL and Redshift) and a plpgsql function (PostgreSQL only), $$ corroborating both
        assert guess.ranking == (("postgresql", 5.0), ("redshift", 3.0))

    def test_hash_comments_count_for_mysql_and_bigquery_only_as_corroboration(self):
        assert detect_platform("# totals\nSELECT a FROM t;\n").platform is None
        bigquery = "# legacy\nSELECT word FROM [bigquery-public-data:samples.shakespeare];\n"
        assert ranking(bigquery) == {"bigquery": 3.0}
        tsql = "# note\nSELECT 1\nGO\n"
        assert ranking(tsql) == {"sqlserver": 2.0}

    def test_shared_catalogue_marker_weighs_as_medium(self):
        sql = "INSERT FIRST WHEN a > 0 THEN INTO pos SELECT a FROM t;\n"
        assert detect_platform(sql).platform is None
        assert ranking(sql + "SELECT a FROM t WHERE b IN (SELECT b FROM u) AND ROWID IS NOT NULL;\n") == {"oracle": 3.0}

    def test_compatibility_syntax_counts_at_half_for_the_platforms_that_borrow_it(self):
        sql = "SELECT e.ename, d.dname FROM emp e, dept d WHERE e.deptno = d.deptno(+);\n"
        guess = detect_platform(sql)
        assert guess.ranking == (("oracle", 2.0), ("snowflake", 1.0), ("redshift", 1.0))
        assert (guess.platform, guess.confidence) == ("oracle", "medium")
        assert detect_platform(sql + "SELECT * FROM svv_table_info;\n").platform == "redshift"
        assert ranking("SELECT 1 FROM dual;\n") == {"oracle": 2.0, "mysql": 1.0}

    def test_storage_clauses_under_a_redshift_external_schema_describe_spectrum_tables(self):
        ddl = "CREATE EXTERNAL TABLE spectrum.clicks (id BIGINT)\nPARTITIONED BY (dt DATE)\nSTORED AS PARQUET\nLOCATION 's3://lake/clicks/';\n"
        schema = "CREATE EXTERNAL SCHEMA spectrum FROM DATA CATALOG DATABASE 'lake' IAM_ROLE default;\n"
        assert detect_platform(ddl).platform == "hive"
        assert detect_platform(schema + ddl).ranking == (("redshift", 2.0),)
        assert detect_platform(ddl + schema).platform == "hive"  # the context comes after: no cancelling


class TestFamiliesAndDerivedPlatforms:
    def test_redshift_python_udf_is_redshift(self):
        sql = (
            "CREATE OR REPLACE FUNCTION f_domain (url VARCHAR) RETURNS VARCHAR STABLE AS $$\n"
            "    return url.split('/')[2]\n$$ LANGUAGE plpythonu;\n"
        )
        guess = detect_platform(sql)
        assert guess.platform == "redshift" and "redshift.python_udf_language" in guess.matched

    def test_pg_catalog_alone_tells_the_family_not_the_member(self):
        sql = "SELECT n.nspname, c.relname FROM pg_catalog.pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace;"
        guess = detect_platform(sql)
        assert guess.platform is None and guess.tied == ("postgresql", "redshift") and guess.confidence == "low"
        assert guess.score == 1.0 and guess.ranking == (("postgresql", 1.0), ("redshift", 1.0))
        assert detect_platform(sql + "\nSELECT pg_size_pretty(pg_relation_size('t'));").platform == "postgresql"
        assert detect_platform(sql + "\nSELECT * FROM svv_table_info;").platform == "redshift"

    def test_redshift_procedure_told_from_postgresql_by_what_postgresql_lacks(self):
        sql = (
            "CREATE OR REPLACE PROCEDURE sp_load (run_date IN DATE)\nAS $$\nBEGIN\n"
            "  RAISE INFO 'loaded at %', GETDATE();\nEND;\n$$ LANGUAGE plpgsql;\n"
        )
        guess = detect_platform(sql)
        assert guess.platform == "redshift", guess
        assert {"shared.getdate", "shared.parameter_mode_after_name"} <= set(guess.matched)

    def test_hive_format_ddl_is_hive_with_databricks_at_half(self):
        sql = (
            "CREATE EXTERNAL TABLE logs (line STRING)\nROW FORMAT DELIMITED FIELDS TERMINATED BY '\\t'\n"
            "STORED AS TEXTFILE\nLOCATION 'hdfs:///data/logs';\n"
        )
        assert ranking(sql) == {"hive": 6.0, "databricks": 3.0}
        assert detect_platform(sql).confidence == "high"

    def test_databricks_evidence_outweighs_inherited_hive_format(self):
        sql = "CREATE TABLE t (a INT) USING DELTA;\nCREATE TABLE h (a INT) STORED AS PARQUET;\n"
        assert detect_platform(sql).ranking == (("databricks", 3.0), ("hive", 2.0))

    def test_hive_only_syntax_gives_databricks_nothing(self):
        assert ranking("SELECT * FROM t WHERE dt = ${hivevar:dt};") == {"hive": 2.0}

    def test_hiveql_that_spark_documents_is_a_tie_until_something_decides(self):
        sql = "SELECT user_id, tag FROM profiles LATERAL VIEW explode(tags) t AS tag;"
        guess = detect_platform(sql)
        assert guess.platform is None and guess.tied == ("databricks", "hive")
        assert detect_platform(sql + "\nSET hive.exec.parallel=true;").platform == "hive"
        assert detect_platform(sql + "\nCACHE TABLE profiles;").platform == "databricks"


class TestConfidence:
    @pytest.mark.parametrize(
        ("sql", "confidence"),
        [
            ("SET NOCOUNT ON;\nSELECT @@ROWCOUNT;\nGO\n", "high"),  # 6 against nothing
            ("SET NOCOUNT ON;\n", "medium"),  # one strong row
            ("MSCK REPAIR TABLE t;\nSELECT * FROM t DISTRIBUTE BY a;\nSET hive.x=1;\n", "medium"),
            ("SELECT * FROM t LIMIT 10, 20;\n", "low"),  # supporting evidence only
            ("SELECT * EXCEPT (a) FROM t;\n", "low"),  # a tie
        ],
    )
    def test_levels(self, sql, confidence):
        assert detect_platform(sql).confidence == confidence

    def test_rule_boundaries(self):
        assert judge(vector(sqlserver__set_nocount=1, sqlserver__go_batch_separator=2)).confidence == "high"
        # 4 against 2: at most half the best score, still high
        lines = vector(sqlserver__set_nocount=1, sqlserver__go_batch_separator=2, oracle__varchar2=3)
        assert judge(lines).confidence == "high"
        lines = vector(
            sqlserver__set_nocount=1, sqlserver__go_batch_separator=2, oracle__varchar2=3, shared__minus_setop=4
        )
        assert (judge(lines).score, judge(lines).ranking[1], judge(lines).confidence) == (
            4.0,
            ("oracle", 3.0),
            "medium",
        )
        # a lead of half a strong row is low
        lines = vector(hive__row_format=1, databricks__optimizer_hint=2)
        assert judge(lines).ranking == (("databricks", 2.0), ("hive", 2.0)) and judge(lines).tied
        lines = vector(hive__row_format=1, hive__typed_partition_columns=2, databricks__optimizer_hint=3)
        assert judge(lines).ranking == (("hive", 3.0), ("databricks", 2.5)) and judge(lines).confidence == "low"

    def test_judge_checks_its_input_length(self):
        with pytest.raises(ValueError):
            judge([0, 0, 0])


_FRAGMENTS = [
    "SET NOCOUNT ON",
    "GO",
    "DELIMITER $$",
    "$$",
    "# c",
    "AS $body$",
    "pg_catalog.pg_class",
    "LANGUAGE plpgsql",
    "ROW FORMAT DELIMITED",
    "STORED AS ORC",
    "LATERAL VIEW explode(x)",
    "QUALIFY",
    "SELECT * EXCEPT (a)",
    "'",
    "--",
    "/*",
    "*/",
    "\n",
    "\r\n",
    "\r",
    " ",
    "\u2028",
    "\u017f",
    "\ud800",
    "USING DELTA",
    "CREATE TABLE t",
    "FROM dual",
    "v$session",
    "DBC.TablesV",
    "`p.d.t`",
    "INT64",
    "plpythonu",
    "${hiveconf:x}",
    "(+)",
]


@given(st.lists(st.sampled_from(_FRAGMENTS) | st.text(max_size=5), max_size=40).map("".join))
def test_any_text_gives_a_consistent_guess(sql):
    guess = detect_platform(sql)
    lines = pd.first_lines(sql)
    assert judge(lines) == guess and len(guess.lines) == len(guess.matched)
    assert all(0 <= n <= len(sql.splitlines()) + 1 for n in lines)
    scores = [s for _, s in guess.ranking]
    assert scores == sorted(scores, reverse=True) and all(s > 0 for s in scores)
    if not guess.ranking:
        assert (guess.platform, guess.confidence, guess.tied, guess.score) == (None, None, (), 0.0)
    elif guess.tied:
        assert guess.platform is None and guess.confidence == "low" and len(guess.tied) >= 2
        assert guess.score == scores[0] and {p for p, s in guess.ranking if s == scores[0]} == set(guess.tied)
    else:
        assert guess.platform == guess.ranking[0][0] and guess.confidence in pd.GUESS_CONFIDENCE_LEVELS


def test_lines_are_numbered_in_the_original_text():
    # str.splitlines numbering (CR LF is one break, U+2028 is one); comments removed before matching
    sql = "/* a\nb\nc */ SELECT 1;\r\n-- x\nSELECT 2;\u2028SET NOCOUNT ON;\nGO\n"
    lines = dict(zip((r.id for r in pd.scan_rows()), pd.first_lines(sql)))
    assert lines["sqlserver.set_nocount"] == 6 and lines["sqlserver.go_batch_separator"] == 7


# --- Probe scripts written from each platform's documentation -------------

PROBES = Path(__file__).resolve().parent / "data" / "platform_probes"


def test_probe_scripts_are_never_named_wrongly():
    files = sorted(p for p in PROBES.rglob("*") if p.is_file())
    assert {p.parent.name for p in files} == set(pd.PLATFORMS)
    wrong = []
    named = 0
    for path in files:
        guess = detect_platform(path.read_text(encoding="utf-8"))
        named += guess.platform is not None
        if guess.platform not in (None, path.parent.name):
            wrong.append((path.name, guess.ranking))
    assert not wrong
    assert named / len(files) >= 0.85


# --- The real SQL corpus ---------------------------------------------------


def _corpus_rows() -> list[dict[str, str]]:
    manifest = CORPUS / "MANIFEST.tsv"
    if not manifest.is_file():
        pytest.skip(f"SQL corpus not found at {CORPUS}")
    with manifest.open(encoding="utf-8", newline="") as fh:
        return list(csv.DictReader(fh, delimiter="\t"))


def _detect_file(path: str) -> tuple[str | None, tuple[str, ...]]:
    # One corpus file is not valid UTF-8; its other bytes still carry evidence.
    guess = detect_platform(Path(path).read_text(encoding="utf-8", errors="replace"))
    return guess.platform, guess.matched


@pytest.fixture(scope="module")
def corpus_results():
    rows = _corpus_rows()
    with ProcessPoolExecutor(max_workers=min(2, os.cpu_count() or 1)) as pool:
        found = list(pool.map(_detect_file, [str(CORPUS / r["local_path"]) for r in rows], chunksize=4))
    return [(r["platform"], r["local_path"], platform, matched) for r, (platform, matched) in zip(rows, found)]


def _accuracy(results):
    table = defaultdict(lambda: [0, 0, 0])  # files, named, right
    for truth, _, guess, _ in results:
        entry = table[truth]
        entry[0] += 1
        entry[1] += guess is not None
        entry[2] += guess == truth
    return table


def _report(table) -> str:
    lines = [f"{'platform':12} {'files':>5} {'named':>5} {'right':>5} {'precision':>9} {'coverage':>8}"]
    for platform, (files, named, right) in sorted(table.items()):
        precision = f"{right / named:.1%}" if named else "-"
        lines.append(f"{platform:12} {files:5} {named:5} {right:5} {precision:>9} {named / files:8.1%}")
    return "\n".join(lines)


def test_corpus_precision_and_coverage(corpus_results):
    table = _accuracy(corpus_results)
    print("\n" + _report(table))
    files = sum(v[0] for v in table.values())
    named = sum(v[1] for v in table.values())
    right = sum(v[2] for v in table.values())
    assert right / named >= 0.97, _report(table)
    assert named / files >= 0.80, _report(table)


@pytest.mark.parametrize("platform", pd.PLATFORMS)
def test_corpus_precision_per_platform(corpus_results, platform):
    files, named, right = _accuracy(corpus_results)[platform]
    if named == 0:
        pytest.skip(f"no {platform} file named in the corpus")
    if named >= 5:
        assert right / named >= 0.80, (platform, right, named)


def test_real_sql_server_code_is_right_on_nine_files_in_ten(corpus_results):
    files, _, right = _accuracy(corpus_results)["sqlserver"]
    assert right / files >= 0.90


class TestEvidenceLines:
    def test_lines_are_parallel_to_matched_and_count_from_one(self):
        sql = "SELECT 1\r\nGO\n-- SET NOCOUNT ON\n/* a\nb */ SET NOCOUNT ON\rSELECT TOP 5 a FROM t"
        guess = detect_platform(sql)
        assert dict(zip(guess.matched, guess.lines)) == {
            "sqlserver.go_batch_separator": 2,
            "sqlserver.set_nocount": 5,
            "shared.top_n_bare": 6,
        }

    def test_first_counted_match_skips_literals_and_comments(self):
        sql = "SELECT 'SET NOCOUNT ON'\n-- SET NOCOUNT ON\nSET NOCOUNT ON\nSET NOCOUNT OFF"
        assert detect_platform(sql).lines == (3,)

    def test_line_breaks_are_those_of_splitlines(self):
        breaks = ["\n", "\r", "\r\n", "\x0b", "\x0c", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]
        for brk in breaks:
            sql = f"SELECT 1{brk}{brk}SET NOCOUNT ON"
            assert detect_platform(sql).lines == (len(sql.splitlines()),), repr(brk)

    def test_no_evidence_no_lines(self):
        assert detect_platform("SELECT 1").lines == ()


class TestBadInput:
    @pytest.mark.parametrize("value", [None, b"SET NOCOUNT ON", 42, ["GO"]])
    def test_non_str_is_a_type_error(self, value):
        with pytest.raises(TypeError, match=f"detect_platform\\(\\) argument must be str, not {type(value).__name__}"):
            detect_platform(value)

    @pytest.mark.parametrize(
        "sql",
        [
            "",
            "'" * 100_001,
            "/*" * 50_000,
            "--" * 50_000,
            "\ud800" * 10_000 + "SET NOCOUNT ON",
            "x" * 3_000_000,
            "CREATE TABLE t " * 100_000,
            "[a " * 100_000,
            "CONVERT(a" * 50_000,
        ],
        ids=["empty", "quotes", "openers", "dashes", "surrogates", "one-line", "gap-heads", "brackets", "convert"],
    )
    def test_hostile_texts_are_detected(self, sql):
        guess = detect_platform(sql)
        assert len(guess.lines) == len(guess.matched)

    def test_str_subclass_is_read_as_its_text(self):
        class Text(str):
            pass

        assert detect_platform(Text("SET NOCOUNT ON")).platform == "sqlserver"


class TestMarkerScanner:
    @pytest.mark.parametrize(
        "text, line",
        [
            ("SELECT 1;\n\n\n  PRINT 'done'\n", 4),
            ("SELECT 1;\r\n\r\n\r\nPRINT @msg\r\n", 4),
            ("SELECT 1;\n\n-- report\n\tPRINT 'x'\n", 4),
            ("PRINT 'x'\n", 1),
        ],
    )
    def test_a_leading_space_row_is_at_its_construct_not_a_blank_line_before(self, text, line):
        row = next(r for r in pd.scan_rows() if r.id == "sqlserver.print")
        guess = pd.detect_platform(text)
        assert dict(zip(guess.matched, guess.lines))[row.id] == line
        assert pd.first_lines(text) == platform_model.first_lines(text)

    def test_rows_are_generic_and_scoped(self):
        from agents.quorvane.dialectra import MarkerScanner

        scanner = MarkerScanner([(r"\bfoo\b", False), (r"--\s*bar", True), (r"\d+", False)])
        assert len(scanner) == 3
        assert scanner.first_lines("x\n-- bar foo\n'42' foo 7") == (3, 2, 3)
        assert scanner.first_lines("") == (0, 0, 0)
        assert scanner.first_matches("x\n-- bar foo\n'42' 7") == ((1, 2), (2, 3))
        assert scanner.first_matches("") == ()

    def test_untranslatable_row_is_a_load_error(self):
        from agents.quorvane.dialectra import MarkerScanner

        with pytest.raises(ValueError, match="row 1"):
            MarkerScanner([("a", False), ("(?P<n>a)", False)])
        with pytest.raises(TypeError):
            MarkerScanner([("a",)])
        with pytest.raises(TypeError):
            MarkerScanner(["a"])
        with pytest.raises(TypeError, match="must be str"):
            MarkerScanner([("a", False)]).first_lines(b"a")

    def test_first_searches_from_many_threads_agree(self):
        # A fresh scanner makes each pattern's machine code on its first
        # search in each width; threads that race to it must all wait for it
        # and find what one thread alone finds.
        from concurrent.futures import ThreadPoolExecutor

        from agents.quorvane.dialectra import MarkerScanner

        rows = [(row.pattern, row.scope == "comment") for row in pd.scan_rows()]
        body = "CREATE TABLE #t (a INT) -- MAGIC\nSET NOCOUNT ON;\nOPTIMIZE t ZORDER BY (a)\n" * 200
        texts = [body, body + "\u0100", body + "\U0001f600"] * 4
        want = [MarkerScanner(rows).first_lines(t) for t in texts]
        for _ in range(3):
            scanner = MarkerScanner(rows)
            with ThreadPoolExecutor(len(texts)) as pool:
                assert list(pool.map(scanner.first_lines, texts)) == want


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="address-space limits as on Linux")
class TestMemory:
    SETUP = """
        from agents.quorvane import dialectra, platform_detect
        TEXT = "-- c\\nSELECT 'x' /* y */ FROM #t\\nGO\\nCREATE TABLE t (a MONEY)\\n" * 300
        ROWS = [(m.pattern, m.scope == "comment") for m in dialectra.PLATFORM_MARKERS]
    """

    def test_every_allocation_failure_in_a_scan_is_memory_error(self):
        from test_boundary_failures import run

        out = run(
            self.SETUP
            + """
        platform_detect.detect_platform("")  # the scanner is built once, outside the sweep
        outcomes = sweep(lambda: platform_detect.detect_platform(TEXT))
        print(outcomes.get("different", 0), outcomes.get("same", 0))
        """
        )
        assert out.split() == ["0", "1"]

    def test_building_a_scanner_short_of_memory_raises_memory_error(self):
        from test_boundary_failures import run

        out = run(
            self.SETUP
            + """
        want = dialectra.MarkerScanner(ROWS).first_lines(TEXT)
        for margin in (64 << 20, 8 << 20, 2 << 20, 1 << 19, 1 << 16, 0):
            try:
                got = capped(margin, lambda: dialectra.MarkerScanner(ROWS).first_lines(TEXT))
            except MemoryError:
                print("MemoryError")
            else:
                assert got == want
                print("same")
        """
        )
        assert set(out.split()) <= {"MemoryError", "same"} and "MemoryError" in out.split()
