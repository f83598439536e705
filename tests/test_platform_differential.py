"""Native platform detection against the pure-Python model (platform_model):
every corpus file, and generated texts built from the catalogue's own words,
comments, literals, line breaks and the characters that case folding treats
specially.  Results must be identical: per marker line, and the whole guess."""

from __future__ import annotations

import os
import re
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import platform_model
import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from agents.quorvane import platform_detect as pd

from corpus import corpus_files


def _corpus_paths() -> list[str]:
    return [str(p) for p in corpus_files()]


def _compare_file(path: str) -> tuple[str, tuple[int, ...], tuple[int, ...], bool]:
    text = Path(path).read_text(encoding="utf-8", errors="replace")
    native, model = pd.first_lines(text), platform_model.first_lines(text)
    return path, native, model, pd.detect_platform(text) == platform_model.detect_platform(text)


@pytest.mark.skipif(not _corpus_paths(), reason="shared SQL corpus not present")
def test_every_corpus_file_agrees_with_the_model():
    paths = _corpus_paths()
    with ProcessPoolExecutor(max_workers=min(2, os.cpu_count() or 1)) as pool:
        results = list(pool.map(_compare_file, paths, chunksize=8))
    ids = [row.id for row in pd.scan_rows()]
    diverging = [
        (Path(path).name, [(ids[i], n, m) for i, (n, m) in enumerate(zip(native, model)) if n != m], same_guess)
        for path, native, model, same_guess in results
        if native != model or not same_guess
    ]
    assert not diverging, diverging[:5]
    assert sum(1 for _, native, _, _ in results if any(native)) > len(paths) / 2


def _catalogue_words() -> list[str]:
    words = set()
    for row in pd.scan_rows():
        words.update(re.findall(r"[A-Za-z_][A-Za-z0-9_]+", row.pattern.replace(r"\b", " ").replace(r"\s", " ")))
    return sorted(words)


_WORDS = _catalogue_words()
_PIECES = [
    " ",
    "  ",
    "\t",
    "\n",
    "\r\n",
    "\r",
    "\x0b",
    "\x0c",
    "\x1c",
    "\x85",
    "\u2028",
    "\u3000",
    "--",
    "/*",
    "*/",
    "/*+ ",
    "/*!5",
    "'",
    "''",
    '"',
    "`",
    "#",
    "@@",
    "@",
    "$$",
    "$",
    "::",
    "?::",
    "(",
    ")",
    "(+)",
    "[",
    "]",
    ",",
    ";",
    ".",
    "=>",
    "<",
    ">",
    ":",
    "|>",
    "/",
    "\\",
    "-",
    "*",
    "0",
    "42",
    "x",
    "\u00e9",
    "\u00df",
    "\u0130",
    "\u0131",
    "\u017f",
    "\u212a",
    "\u0100",
    "\ud800",
    "\udfff",
    "\U0001f600",
]
_FRAGMENT = st.one_of(
    st.sampled_from(_WORDS),
    st.sampled_from(_WORDS).map(str.lower),
    st.sampled_from(_PIECES),
    st.sampled_from(_WORDS).map(lambda w: w.replace("s", "\u017f").replace("S", "\u017f").replace("K", "\u212a")),
)
_TEXT = st.lists(_FRAGMENT, max_size=60).map("".join)


def _check(text: str) -> None:
    native, model = pd.first_lines(text), platform_model.first_lines(text)
    ids = [row.id for row in pd.scan_rows()]
    assert native == model, [(ids[i], n, m) for i, (n, m) in enumerate(zip(native, model)) if n != m]
    assert pd.detect_platform(text) == platform_model.detect_platform(text)


@given(_TEXT)
@example("CREATE TABLE t (a INT)\r\nUSING DELTA")
@example("SELECT 'x'' -- y' FROM t\rSET NOCOUNT ON")
@example("/* unterminated SET NOCOUNT ON")
@example("-- MAGIC\r\n\u017fET NOCOUNT ON\u2028GO\n")
@example("AUTO_\u0131NCREMENT AUTO_\u0130NCREMENT LOC\u212aING ROW FOR ACCESS")
@example("\ud800OPTIMIZE t\ud800ZORDER BY (a)")
@example("x\u00e9SET NOCOUNT ON\u00e9 \u00e9GO")
def test_generated_texts_agree_with_the_model(text):
    _check(text)


@given(
    st.lists(
        st.sampled_from(
            [
                "CREATE TABLE t (a int);\n",
                "OPTIMIZE t;\n",
                "COPY t FROM\n",
                "USING DELTA\n",
                "ZORDER BY (a)\n",
                "IAM_ROLE 'r'\n",
                "'",
                "/*",
                "*/",
                "--",
                "\r",
                "x" * 50,
                "MONEY",
                " CONSTRAINT c EXPECT (a) ",
                "ON VIOLATION",
                "VARIANT,",
                "SERIAL",
                "CREATE TASK t SCHEDULE =",
            ]
        ),
        max_size=200,
    ).map("".join)
)
def test_gapped_markers_agree_with_the_model_at_every_distance(text):
    _check(text)


def test_long_gaps_are_counted_exactly_at_their_bound():
    # "CREATE TABLE" then up to 3,000 characters before "USING DELTA".
    marker = "databricks.create_table_using_format"
    for gap in (2999, 3000, 3001):
        text = "CREATE TABLE" + " " + "y" * (gap - 2) + " " + "USING DELTA"
        _check(text)
        assert (marker in pd.detect_platform(text).matched) == (gap <= 3000)


@given(_TEXT, st.integers(min_value=1, max_value=4000))
@example("INTO #t ", 3000)
@example("; \u2028\u00a0REPLACE VIEW v SUPER, x ", 2000)
def test_repeated_texts_agree_with_the_model(text, times):
    # Repeats make the scan's literals dense: it then searches whole texts
    # rather than around each occurrence, and past its budget of recorded
    # occurrences it forgets the most frequent literals.
    _check(text * times)


def test_a_match_after_many_near_misses_is_found():
    # A marker's literal occurs everywhere but the marker matches once, at
    # the end; and once, just after the place the scan resumed from.
    for filler in ("FROM x ", "SUPER ", "# ", ":: ", "INTO ", "'INTO #t' "):
        for tail in ("INTO #t", "a SUPER,", "::VARIANT", "\u00e9 SUPER)", ";\u2028REPLACE VIEW v"):
            _check(filler * 20000 + tail)
            _check(tail + filler * 20000 + tail)
