"""Library entry points for callers that already hold the text or want the
size report: the same results and events as the functions they stand for."""

from __future__ import annotations

from pathlib import Path

import pytest
from structlog.testing import capture_logs

from agents.quorvane import complexity, loresift
from messages import type_message

KB = Path(__file__).resolve().parents[1] / "examples" / "kb"
DOCS = {
    "full_mapping": (KB / "mapping.md").read_text(encoding="utf-8"),
    "full_gotchas": (KB / "gotchas.md").read_text(encoding="utf-8"),
}
SIZE_FIELDS = ["mapping_sections", "gotcha_sections", "token_estimate", "full_tokens", "reduction_pct"]


def text_of(lines: int, go_every: int = 0) -> str:
    out = []
    for i in range(1, lines + 1):
        out.append("GO" if go_every and i % go_every == 0 else f"SELECT {i} FROM t")
    return "\n".join(out) + "\n"


@pytest.mark.parametrize(
    "text",
    [text_of(10), text_of(600, 100), text_of(1600, 120), "", "CREATE PROCEDURE p AS\n" + text_of(700), "é\r\n" * 800],
)
def test_plan_reading_text_is_plan_reading_strategy_on_the_files_text(text, tmp_path):
    path = tmp_path / "a.sql"
    path.write_bytes(text.encode("utf-8"))
    read = path.read_text(encoding="utf-8")
    with capture_logs() as from_file:
        want = complexity.plan_reading_strategy(path)
    with capture_logs() as from_text:
        got = complexity.plan_reading_text(read)
    assert got == want and type(got) is complexity.FileReadingStrategy
    assert from_text == from_file


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: complexity.plan_reading_text(), "plan_reading_text() takes exactly 1 positional argument (0 given)"),
        (lambda: complexity.plan_reading_text(b"x"), type_message("sql_content", "str", "bytes")),
        (lambda: complexity.plan_reading_text(Path("a.sql")), type_message("sql_content", "str", "PosixPath")),
        (
            lambda: complexity.plan_reading_text(sql_content="x", path=1),
            "plan_reading_text() got an unexpected keyword argument 'path'",
        ),
    ],
)
def test_plan_reading_text_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "categories", [set(), {"cte"}, {"cte", "merge", "window_function", "temp_table"}, {"unknown", "cte"}]
)
@pytest.mark.parametrize("limitations", [None, "## Limits\nnone"])
def test_select_knowledge_with_sizes_reports_the_events_figures(categories, limitations):
    extra = {} if limitations is None else {"full_limitations": limitations}
    with capture_logs() as plain_logs:
        plain = loresift.select_knowledge(categories, **DOCS, **extra)
    with capture_logs() as sized_logs:
        selected, sizes = loresift.select_knowledge_with_sizes(categories, **DOCS, **extra)
    assert selected == plain
    assert sized_logs == plain_logs and len(sized_logs) == 1
    event = sized_logs[0]
    assert list(sizes) == SIZE_FIELDS
    assert sizes == {name: event[name] for name in SIZE_FIELDS}


def test_select_knowledge_with_sizes_checks_arguments_as_select_knowledge():
    with pytest.raises(TypeError) as info:
        loresift.select_knowledge_with_sizes(set(), bogus=1)
    assert str(info.value) == "select_knowledge_with_sizes() needs keyword-only argument full_mapping"
    with pytest.raises(TypeError) as info:
        loresift.select_knowledge_with_sizes(frozenset(), **DOCS)
    assert str(info.value) == type_message("categories", "set", "frozenset")
