"""Platform detection: the scoring rule on small scripts, and its accuracy on
the real SQL corpus (skipped when the corpus is not beside the repository)."""

from __future__ import annotations

import csv
import os
import re
from collections import defaultdict
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import pytest

from agents.quorvane import platform_detect as pd
from agents.quorvane.platform_detect import detect_platform

CORPUS = Path(os.environ.get("QUORVANE_CORPUS", Path(__file__).resolve().parents[2] / "shared" / "corpus"))


def ranking(sql: str) -> dict[str, float]:
    return dict(detect_platform(sql).ranking)


class TestScoringRule:
    def test_no_marker_means_no_guess(self):
        guess = detect_platform("SELECT a, b FROM t WHERE a = 1;\n")
        assert (guess.platform, guess.score, guess.ranking, guess.matched) == (None, 0.0, (), ())

    def test_high_weighs_two_medium_one_and_each_marker_counts_once(self):
        assert ranking("SET NOCOUNT ON;") == ranking("SET NOCOUNT ON;\nSET NOCOUNT OFF;") == {"sqlserver": 2.0}
        assert ranking("MSCK REPAIR TABLE sales;") == {"hive": 1.0}

    def test_corroborating_marker_alone_is_no_evidence(self):
        guess = detect_platform("SELECT a FROM t QUALIFY ROW_NUMBER() OVER (ORDER BY a) = 1")
        assert guess.platform is None and guess.matched == ("shared.qualify",)

    def test_corroborating_marker_counts_only_where_supported(self):
        sql = "CREATE MULTISET TABLE t (a INT);\nSELECT a FROM t QUALIFY ROW_NUMBER() OVER (ORDER BY a) = 1"
        assert ranking(sql) == {"teradata": 3.0}

    def test_comment_markers_see_comments_others_do_not(self):
        assert detect_platform("-- MAGIC %sql\nSELECT 1").platform == "databricks"
        assert detect_platform("-- SET NOCOUNT ON\nSELECT 1 /* SET NOCOUNT ON */").platform is None

    def test_matches_inside_string_literals_are_data(self):
        assert detect_platform("SELECT 'SET NOCOUNT ON' AS s").platform is None
        # A single-letter literal is no raw-string prefix; a real prefix is.
        assert detect_platform("SELECT * FROM pg_class WHERE relkind = 'r'").platform is None
        assert detect_platform("SELECT REGEXP_CONTAINS(x, r'^a+$') FROM t").platform == "bigquery"

    def test_quotes_hide_comment_openers_and_doubled_quotes_stay_inside(self):
        assert detect_platform("SELECT '--' AS a;\nSET NOCOUNT ON;").platform == "sqlserver"
        assert detect_platform("SELECT 'it''s SET NOCOUNT ON' AS a").platform is None
        assert detect_platform('SELECT "--" AS a;\nSET NOCOUNT ON;').platform == "sqlserver"

    def test_redshift_inherits_postgresql_markers_at_half_weight(self):
        body = "CREATE PROCEDURE p() AS $$ BEGIN NULL; END; $$ LANGUAGE plpgsql;\n"
        assert detect_platform(body).ranking == (("postgresql", 2.0), ("redshift", 1.0))
        guess = detect_platform(body + "CREATE TABLE t (a INT) DISTKEY(a);")
        assert guess.ranking == (("redshift", 3.0), ("postgresql", 2.0))

    def test_ties_follow_the_canonical_platform_order(self):
        guess = detect_platform("SELECT * EXCEPT (a) FROM t")
        assert guess.ranking == (("databricks", 1.0), ("bigquery", 1.0))
        assert guess.platform == "databricks"

    def test_matching_ignores_case_and_anchors_at_every_line(self):
        assert detect_platform("select 1\n  go  \nselect 2").platform == "sqlserver"
        assert detect_platform("set nocount on").platform == "sqlserver"

    @pytest.mark.parametrize(
        ("sql", "marker_id"),
        [
            ("\u017fET NOCOUNT ON", "sqlserver.set_nocount"),  # long s
            ("LOC\u212aING ROW FOR ACCESS SELECT 1", "teradata.locking_modifier"),  # Kelvin sign
        ],
    )
    def test_characters_that_fold_to_ascii_letters_still_match(self, sql, marker_id):
        marker = next(m for m in pd.markers() if m.id == marker_id)
        assert re.search(marker.pattern, sql, re.IGNORECASE | re.MULTILINE)  # the host's engine matches it
        assert marker_id in detect_platform(sql).matched

    @pytest.mark.parametrize("sql", ["id INT AUTO_\u0131NCREMENT", "id INT AUTO_\u0130NCREMENT"])
    def test_dotted_and_dotless_i_have_no_simple_case_folding(self, sql):
        # The host's re pairs them with i; simple case folding, used throughout the package, does not.
        assert detect_platform(sql).matched == ()

    def test_matched_markers_are_in_catalogue_order(self):
        guess = detect_platform("GO\nSET NOCOUNT ON\nSELECT TOP 5 a FROM #t\nSELECT a FROM b (+)")
        ids = [m.id for m in pd.markers()]
        assert list(guess.matched) == sorted(guess.matched, key=ids.index)
        assert "shared.top_n_bare" in guess.matched


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
    table = defaultdict(lambda: [0, 0, 0])  # with evidence, correct, without evidence
    for truth, _, guess, _ in results:
        entry = table[truth]
        if guess is None:
            entry[2] += 1
        else:
            entry[0] += 1
            entry[1] += guess == truth
    return table


def test_corpus_top1_accuracy_overall(corpus_results):
    table = _accuracy(corpus_results)
    with_evidence = sum(v[0] for v in table.values())
    correct = sum(v[1] for v in table.values())
    assert with_evidence > len(corpus_results) / 2
    assert correct / with_evidence >= 0.95, dict(table)


@pytest.mark.parametrize("platform", pd.PLATFORMS)
def test_corpus_accuracy_per_platform(corpus_results, platform):
    evidence, correct, _ = _accuracy(corpus_results)[platform]
    if evidence == 0:
        pytest.skip(f"no {platform} file with evidence in the corpus")
    assert correct >= 1
    if evidence >= 5:
        assert correct / evidence >= 0.80, (platform, correct, evidence)


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
    def test_rows_are_generic_and_scoped(self):
        from agents.quorvane.dialectra import MarkerScanner

        scanner = MarkerScanner([(r"\bfoo\b", False), (r"--\s*bar", True), (r"\d+", False)])
        assert len(scanner) == 3
        assert scanner.first_lines("x\n-- bar foo\n'42' foo 7") == (3, 2, 3)
        assert scanner.first_lines("") == (0, 0, 0)

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
