"""The pieces behind ``quorvane analyze``, called in process: decoding, line
lookup, the effort model and its settings, and the one record."""

from __future__ import annotations

import codecs
import random
import json

import pytest
from hypothesis import given
from hypothesis import strategies as st

from agents.quorvane.assessment import decoding
from agents.quorvane.assessment.config import ConfigError, load_effort_model
from agents.quorvane.assessment.effort import DEFAULT_MODEL
from agents.quorvane.assessment.lines import line_spans
from agents.quorvane.assessment.record import FIELDS, LEVELS, Hotspot, Row
from agents.quorvane.writers.spelling import csv_value, printable

SQL = "SELECT N'café', 'Größe' AS x -- ok\nFROM t;\n"


class TestDecoding:
    @pytest.mark.parametrize(
        "codec, bom, name",
        [
            ("utf-8", codecs.BOM_UTF8, "utf-8"),
            ("utf-16-le", codecs.BOM_UTF16_LE, "utf-16-le"),
            ("utf-16-be", codecs.BOM_UTF16_BE, "utf-16-be"),
            ("utf-32-le", codecs.BOM_UTF32_LE, "utf-32-le"),
            ("utf-32-be", codecs.BOM_UTF32_BE, "utf-32-be"),
        ],
    )
    def test_byte_order_marks_decide_and_are_dropped(self, codec, bom, name):
        got = decoding.decode(bom + SQL.encode(codec))
        assert (got.text, got.encoding, got.guessed) == (SQL, name, False)

    def test_utf8_without_mark_then_a_guessed_legacy_code_page(self):
        assert decoding.decode(SQL.encode()) == decoding.Decoded(SQL, "utf-8", False)
        legacy = ("SELECT 'Café crème', 'naïve façade' FROM résumé WHERE x = 'Ærø';\n" * 20).encode("cp1252")
        got = decoding.decode(legacy)
        assert got.guessed and got.text == legacy.decode(got.encoding)
        assert "é" in got.text and "\ufffd" not in got.text

    def test_a_given_encoding_is_strict_and_wins(self):
        data = SQL.encode("cp1252")
        assert decoding.decode(data, "latin-1") == decoding.Decoded(SQL, "iso8859-1", False)
        with pytest.raises(decoding.DecodeError, match="not valid utf-8: byte 0xe9 at offset 12"):
            decoding.decode(data, "utf-8")
        assert decoding.decode(codecs.BOM_UTF8 + b"x", "utf-8").text == "x"
        with pytest.raises(LookupError):
            decoding.canonical_encoding("no-such-codec")

    @pytest.mark.parametrize(
        "text, codec",
        [
            ("-- Übersicht der Kunden\nSELECT naïve, 'Größe' FROM dbo.Kunden WHERE Straße = 'Zürich';\n", "cp1252"),
            ("-- Café\nSELECT 1;\n", "cp1252"),
            ("-- Отчёт по продажам за месяц\nSELECT Клиент, SUM(Сумма) FROM dbo.Продажи GROUP BY Клиент;\n", "cp1251"),
            ("-- 売上集計レポート\nSELECT 顧客名, SUM(金額) FROM dbo.売上 GROUP BY 顧客名;\n", "cp932"),
        ],
    )
    def test_short_legacy_scripts_get_their_own_code_page(self, text, codec):
        assert decoding.decode(text.encode(codec)) == decoding.Decoded(text, codec, True)

    @pytest.mark.parametrize("size", [16, 200, 5000])
    def test_random_bytes_are_refused_not_guessed(self, size):
        data = random.Random(size).randbytes(size)
        with pytest.raises(decoding.DecodeError, match="no code page gives SQL text|no SQL text"):
            decoding.decode(data)

    @pytest.mark.parametrize("codec", ["utf-16-le", "utf-16-be"])
    def test_utf16_without_a_mark_is_recognised_and_an_odd_length_is_named(self, codec):
        data = SQL.encode(codec)
        assert decoding.decode(data) == decoding.Decoded(SQL, codec, True)
        for broken in (data + b"\n", codecs.BOM_UTF16_LE + SQL.replace("\n", "\r\n").encode("utf-16-le")[:-1]):
            with pytest.raises(decoding.DecodeError, match=r"an odd number of bytes \(\d+\).*converted as text"):
                decoding.decode(broken)

    @pytest.mark.parametrize(
        "data",
        [
            codecs.BOM_UTF16_LE + b"S\x00\x00\xd8",  # a lone surrogate
            codecs.BOM_UTF16_LE + b"S\x00E",  # an odd byte count
            codecs.BOM_UTF8 + b"\xff\xfe",
        ],
    )
    def test_a_broken_marked_file_fails_and_is_never_mangled(self, data):
        with pytest.raises(decoding.DecodeError, match="not valid utf-"):
            decoding.decode(data)


@given(
    st.lists(st.sampled_from(["a", "b", " ", "\n", "\r\n", "\r", "\x0b", "\x85", "\u2028"]), max_size=60).map("".join),
    st.lists(st.integers(min_value=-1, max_value=30), max_size=5),
)
def test_line_spans_number_lines_as_splitlines(text, wanted):
    lines = text.splitlines()
    got = {n: text[a:b] for n, (a, b) in line_spans(text, wanted).items()}
    assert got == {n: lines[n - 1] for n in wanted if 1 <= n <= len(lines)}


def test_line_spans_skip_whole_blocks(monkeypatch):
    from agents.quorvane.assessment import lines

    monkeypatch.setattr(lines, "_BLOCK", 16)
    text = "".join(f"line {i}\r\n" for i in range(1, 400))
    spans = line_spans(text, [1, 2, 77, 250, 399, 400])
    assert {n: text[a:b] for n, (a, b) in spans.items()} == {n: f"line {n}" for n in (1, 2, 77, 250, 399)}


class TestEffort:
    def test_hours_grow_with_size_so_that_large_routines_dominate(self):
        hours = {
            (level, lines): DEFAULT_MODEL.expected(level, lines, False)
            for level in LEVELS
            for lines in (16, 50, 500, 2000)
        }
        assert hours[("simple", 16)] < 1 and hours[("complex", 2000)] > 5 * hours[("complex", 50)]
        for level in LEVELS:
            # More lines cost more, but less per line (a power below 1).
            assert hours[(level, 50)] < hours[(level, 500)] < hours[(level, 2000)]
            assert hours[(level, 2000)] / 2000 < hours[(level, 50)] / 50
        for lines in (16, 2000):
            assert hours[("simple", lines)] < hours[("moderate", lines)] < hours[("complex", lines)]
        assert DEFAULT_MODEL.expected("moderate", 300, True) == DEFAULT_MODEL.expected("moderate", 300, False) * 1.25

    @pytest.mark.parametrize(
        "risks, high",
        [
            ({}, 1.5),
            ({"dynamic_sql": True}, 2.0),
            ({"blockers": 2}, 2.0),
            ({"blockers": 9}, 2.5),  # at most +1.0
            ({"missing": 3}, 1.8),
            ({"missing": 30}, 2.0),  # at most +0.5
            ({"dynamic_sql": True, "blockers": 1, "missing": 1}, 2.35),
        ],
    )
    def test_the_range_widens_with_what_cannot_be_seen(self, risks, high):
        e = DEFAULT_MODEL.estimate("complex", 100, **risks)
        base = DEFAULT_MODEL.expected("complex", 100, risks.get("dynamic_sql", False))
        assert e.expected == base and e.low == pytest.approx(0.75 * base) and e.high == pytest.approx(high * base)

    def test_learning_is_paid_once_per_category(self):
        assert DEFAULT_MODEL.learning(["cursor", "join", "cursor", "cursor"]) == {"cursor": 6.0, "join": 0.5}

    def test_pyproject_table_and_config_file(self, tmp_path):
        (tmp_path / "pyproject.toml").write_text(
            '[project]\nname = "x"\n[tool.quorvane.effort]\nhours = { complex = 40 }\n'
            "category_learning_hours = { cursor = 10 }\nhours_per_line = { simple = 1 }\n"
        )
        deeper = tmp_path / "a" / "b"
        deeper.mkdir(parents=True)
        model, source = load_effort_model(None, deeper)
        assert source == str(tmp_path / "pyproject.toml")
        assert (model.hours["complex"], model.hours["simple"], model.category_learning_hours["cursor"]) == (40, 0.1, 10)
        assert model.hours_per_line == {"simple": 1, "moderate": 0.15, "complex": 0.3}
        plain = tmp_path / "weights.toml"
        plain.write_text("[effort]\nlearning_hours = 0\nline_exponent = 1\n")
        model, _ = load_effort_model(str(plain))
        assert model.learning(["query", "unlisted"]) == {"query": 0.5, "unlisted": 0.0}

    @pytest.mark.parametrize(
        "text, message",
        [
            ("[effort]\nhour = 1\n", "unknown key 'hour'"),
            ("[effort]\nhours = { hard = 1 }\n", "unknown level 'hard'"),
            ("[effort]\nlearning_hours = -1\n", "from 0 to"),
            ("[effort]\nlearning_hours = true\n", "from 0 to"),
            ("[effort]\ncategory_learning_hours = { cursr = 1 }\n", "unknown category 'cursr'"),
            ("[effort]\nhours_per_line = { hard = 1 }\n", "hours_per_line: unknown level 'hard'"),
            ("[effort]\nline_exponent = 1.5\n", "line_exponent must be a number from 0 to 1,"),
            ("[effort]\nspread_low = 2\n", "spread_low must be a number from 0 to 1,"),
            ('[buckets]\nops = ["x"]\n', "unknown bucket 'ops'"),
            ('[buckets]\noperations = "jobs/**"\n', "operations must be a list of globs"),
            ("[buckets]\ntests = [1]\n", "tests must be a list of globs"),
            ("[output]\n", "unknown key"),
            ("effort = [", "not valid TOML"),
        ],
    )
    def test_mistakes_are_errors(self, tmp_path, text, message):
        path = tmp_path / "q.toml"
        path.write_text(text)
        with pytest.raises(ConfigError, match=message):
            load_effort_model(str(path))


class TestRecord:
    def test_every_row_has_every_field_in_order(self):
        failed = Row("x.sql", error="boom").to_record()
        ok = Row(
            "y.sql",
            complexity="simple",
            categories=("join",),
            hotspots=(Hotspot(3, "category", "join"),),
            platform_ranking=(("oracle", 2.0),),
            chunked=False,
        ).to_record()
        assert tuple(failed) == tuple(ok) == FIELDS
        assert (failed["status"], failed["error"], failed["complexity"], failed["hotspots"]) == (
            "error",
            "boom",
            None,
            None,
        )
        assert ok["hotspots"] == [{"line": 3, "kind": "category", "name": "join"}]
        assert ok["platform_ranking"] == [["oracle", 2.0]] and ok["schema_version"] == 2
        json.dumps(ok)

    def test_csv_spelling_follows_json(self):
        assert [csv_value("x", v) for v in (None, True, False, 2, 2.5, "a")] == ["", "true", "false", "2", "2.5", "a"]
        assert csv_value("categories", ["a", "b"]) == "a;b"
        assert json.loads(csv_value("hotspots", [{"line": 1, "kind": "k", "name": "n;m"}]))[0]["name"] == "n;m"

    def test_printable_escapes_line_breaks(self):
        assert printable("a\nb\tc\u2028é") == "a\\nb\\tc\\u2028é"


def test_a_large_file_is_split_into_units_only_on_demand(monkeypatch):
    pytest.importorskip("agents.quorvane.inventory")
    from agents.quorvane.assessment import single_file
    from agents.quorvane.assessment.work_plan import plan_work

    def planned(options):
        return plan_work([single_file.analyze_text("x.sql", decoded, options)], DEFAULT_MODEL)[0]

    text = "CREATE PROCEDURE dbo.a AS SELECT 1;\nGO\nCREATE PROCEDURE dbo.b AS EXEC('SELECT 2');\nGO\n"
    decoded = decoding.Decoded(text, "utf-8", False)
    small = planned(single_file.Options())
    assert small.file.dynamic_sql is True and small.objects == ()  # rows not kept unless wanted
    wanted = planned(single_file.Options(units=True))
    assert [o.object_name for o in wanted.objects] == ["dbo.a", "dbo.b"]
    assert small.file.effort_hours == wanted.file.effort_hours == round(sum(o.effort_hours for o in wanted.objects), 1)
    monkeypatch.setattr(single_file, "UNIT_EFFORT_LIMIT", 10)
    large = planned(single_file.Options())
    own = DEFAULT_MODEL.expected(large.file.complexity, large.file.effective_lines, False)
    assert large.file.dynamic_sql is None and large.file.effort_hours == round(own, 1)
    large_objects = planned(single_file.Options(units=True))
    assert len(large_objects.objects) == 2 and large_objects.file.effort_hours == large.file.effort_hours


def test_a_file_estimate_is_the_same_with_or_without_object_rows():
    pytest.importorskip("agents.quorvane.inventory")
    from agents.quorvane.assessment import single_file
    from agents.quorvane.assessment.work_plan import plan_work

    text = (
        "INSERT INTO t VALUES (1);\nGO\nCREATE PROCEDURE dbo.a AS SELECT 1;\nGO\n"
        "UPDATE t SET a = 2;\nGO\nCREATE VIEW v AS SELECT a FROM t;\nGO\n"
    )
    decoded = decoding.Decoded(text, "utf-8", False)
    without = plan_work([single_file.analyze_text("x.sql", decoded, single_file.Options())], DEFAULT_MODEL)[0]
    with_rows = plan_work([single_file.analyze_text("x.sql", decoded, single_file.Options(units=True))], DEFAULT_MODEL)[
        0
    ]
    assert "batch" in [o.object_kind for o in with_rows.objects]
    assert without.file == with_rows.file and without.work == with_rows.work


@given(st.lists(st.integers(min_value=0, max_value=10**7), max_size=300), st.integers(min_value=1, max_value=8))
def test_batches_keep_the_order_and_stay_small(sizes, jobs):
    from agents.quorvane.assessment import workers

    order = sorted(range(len(sizes)), key=lambda i: -sizes[i])
    batches = workers._batches(order, sizes, jobs)
    assert [i for b in batches for i in b] == order
    target = max(1, sum(sizes) // (jobs * workers._BATCHES_PER_WORKER))
    for b in batches:
        assert 1 <= len(b) <= workers.BATCH_FILES
        # Only the last batch stops short of both limits, and none goes on
        # past its byte target.
        assert sum(sizes[i] for i in b[:-1]) < target
    assert all(len(b) == workers.BATCH_FILES or sum(sizes[i] for i in b) >= target for b in batches[:-1])


def test_a_worker_that_dies_fails_its_files_not_the_run(tmp_path, monkeypatch):
    import multiprocessing
    import os

    from agents.quorvane.assessment import workers

    if multiprocessing.get_start_method() != "fork":
        pytest.skip("the stand-in analysis reaches the workers by fork")
    paths = []
    for i in range(40):
        path = tmp_path / f"f{i:02}.sql"
        path.write_text("SELECT 1;\n" * (i + 1))
        paths.append(str(path))
    doomed = paths[20]
    real = workers.analyze_file

    def analyze_or_die(path, options):
        if path == doomed:
            os._exit(3)
        return real(path, options)

    monkeypatch.setattr(workers, "analyze_file", analyze_or_die)
    results = workers.run_analysis(paths, jobs=2, pool="processes")
    assert [r.file.path for r in results] == paths
    failed = [r.file.path for r in results if r.file.error]
    assert doomed in failed and all("worker process stopped" in r.file.error for r in results if r.file.error)
    assert len(failed) < len(paths)
