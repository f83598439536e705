"""The HTML report in a real headless browser: Debian's Chromium, driven by
Playwright (its own browser downloads are never used).

scripts/setup-system.sh installs Chromium with apt-get; these tests skip only
when it is not installed (no apt-get, no network, no package).
"""

from __future__ import annotations

import codecs
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

CHROMIUM = next(
    (
        p
        for p in (shutil.which("chromium"), "/usr/bin/chromium", shutil.which("chromium-browser"))
        if p and os.path.exists(p)
    ),
    None,
)
pytestmark = pytest.mark.skipif(
    CHROMIUM is None, reason="Debian's chromium is not installed and could not be (scripts/setup-system.sh installs it)"
)

PROC = (
    "CREATE PROCEDURE dbo.p AS\nBEGIN\n  DECLARE c CURSOR FOR SELECT 1;\n  MERGE t USING s ON 1 = 1\n"
    "  WHEN MATCHED THEN UPDATE SET v = 1;\nEND\nGO\n"
)


@pytest.fixture(scope="module")
def report(tmp_path_factory) -> Path:
    root = tmp_path_factory.mktemp("site")
    deep = root / ("a_rather_long_folder_name_for_the_warehouse_" * 3) / "and_deeper_still"
    deep.mkdir(parents=True)
    (deep / ("nightly_load_with_an_unreasonably_long_file_name_" * 2 + ".sql")).write_text(PROC * 30)
    for i in range(12):
        (root / f"report_{i:02}.sql").write_text("SELECT a FROM t JOIN u ON t.id = u.id;\n" * (i + 1))
    (root / "oracle_pkg.sql").write_text("CREATE OR REPLACE PACKAGE BODY pkg AS\n  v VARCHAR2(10);\nEND pkg;\n/\n")
    (root / "caller.sql").write_text("CREATE PROCEDURE dbo.caller AS\nBEGIN\n  EXEC dbo.p;\nEND\nGO\n")
    (root / "broken.sql").write_bytes(codecs.BOM_UTF16_LE + b"S\x00\x00\xd8")
    proc = subprocess.run(
        [sys.executable, "-m", "agents.quorvane", "analyze", ".", "--html", "report.html"],
        cwd=root,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert proc.returncode == 1, proc.stderr
    return root / "report.html"


@pytest.fixture(scope="module")
def browser():
    from playwright.sync_api import sync_playwright

    with sync_playwright() as p:
        b = p.chromium.launch(executable_path=CHROMIUM, args=["--no-sandbox", "--disable-gpu"])
        yield b
        b.close()


@pytest.fixture
def page(browser, report):
    context = browser.new_context(viewport={"width": 800, "height": 900})
    pg = context.new_page()
    problems: list[str] = []
    requests: list[str] = []
    pg.on("pageerror", lambda exc: problems.append(f"page error: {exc}"))
    pg.on(
        "console",
        lambda msg: problems.append(f"console {msg.type}: {msg.text}") if msg.type in ("error", "warning") else None,
    )
    pg.on("request", lambda req: requests.append(req.url))
    pg.goto(report.as_uri())
    pg.problems = problems  # type: ignore[attr-defined]
    pg.requests = requests  # type: ignore[attr-defined]
    yield pg
    context.close()


def column(page, table: str, index: int) -> list[str]:
    return page.eval_on_selector_all(f"#{table} tbody tr", f"rows => rows.map(r => r.cells[{index}].textContent)")


def test_every_column_sorts_with_a_failed_row(page):
    heads = page.locator("#files thead th")
    count = heads.count()
    assert count > 10
    failed_cells = page.eval_on_selector("#files tr.failed", "r => r.cells.length")
    assert failed_cells == count
    for i in range(count):
        heads.nth(i).click()
        assert page.get_attribute(f"#files thead th:nth-child({i + 1})", "aria-sort") == "ascending"
    lines_col = next(i for i in range(count) if heads.nth(i).text_content() == "Eff. lines")
    heads.nth(lines_col).click()
    values = column(page, "files", lines_col)
    assert values[0] == "" and [int(v) for v in values[1:]] == sorted(int(v) for v in values[1:])
    heads.nth(lines_col).click()
    values = column(page, "files", lines_col)
    assert values[-1] == "" and [int(v) for v in values[:-1]] == sorted((int(v) for v in values[:-1]), reverse=True)
    assert page.problems == []


def test_filter_box_and_level_choice(page):
    visible = "rows => rows.filter(r => r.offsetParent !== null).map(r => r.cells[0].title)"
    page.fill("#filter", "report_0")
    shown = page.eval_on_selector_all("#files tbody tr", visible)
    assert sorted(shown) == [f"report_{i:02}.sql" for i in range(10)]
    assert page.text_content("#shown") == "10 of 16 files shown"
    blocks = "els => els.filter(e => e.offsetParent !== null).length"
    assert page.eval_on_selector_all("details.hot", blocks) == sum(
        "report_0" in t for t in page.eval_on_selector_all("details.hot summary", "s => s.map(x => x.textContent)")
    )
    page.fill("#filter", "")
    page.select_option("#level", "failed")
    assert page.eval_on_selector_all("#files tbody tr", visible) == ["broken.sql"]
    page.select_option("#level", "complex")
    assert len(page.eval_on_selector_all("#files tbody tr", visible)) == 1
    assert page.problems == []


def test_failures_summary_and_layout_at_800_pixels(page):
    assert "broken.sql" in page.text_content("#failures") and "1 failed" in page.text_content("#failures")
    width = page.evaluate("document.documentElement.scrollWidth")
    assert width <= 800, "the page scrolls sideways at 800 px"
    heights = page.eval_on_selector_all("#files tbody tr", "rows => rows.map(r => r.getBoundingClientRect().height)")
    assert max(heights) < 60, "rows wrap into tall cells"
    assert page.evaluate("document.documentElement.scrollHeight") < 6000


def test_offline_and_self_contained(page, report):
    assert all(url.startswith(("file:", "data:")) for url in page.requests), page.requests
    text = report.read_text(encoding="utf-8")
    linked = text.replace('xmlns="http://www.w3.org/2000/svg"', "")  # a namespace name, not a fetch
    assert "http:" not in linked and "https:" not in linked and " src=" not in text
    assert page.locator("svg").count() >= 4
    assert page.problems == []


def test_hotspots_show_source_context(page):
    if page.locator("#hotspots-missing").count():
        pytest.skip("the modules cannot locate hotspots yet")
    block = page.locator("details.hot").first
    block.locator("summary").click()
    snippet = block.locator(".spot pre").first
    assert snippet.is_visible() and "CURSOR" in block.text_content().upper()
    assert block.locator(".spot pre .at").count() >= 1
    assert page.problems == []


def test_objects_table_sorts_and_filters(page):
    if page.locator("#objects").count() == 0:
        pytest.skip("no object inventory in this build")
    heads = page.locator("#objects thead th")
    for i in range(heads.count()):
        heads.nth(i).click()
    names = column(page, "objects", 2)
    assert "dbo.p" in names
    page.fill("#filter", "dbo.p")
    visible = page.eval_on_selector_all("#objects tbody tr", "rows => rows.filter(r => r.offsetParent !== null).length")
    assert visible == names.count("dbo.p") >= 1
    assert page.problems == []


def test_dependency_graph_is_inline_svg(page):
    if page.locator("#graph-missing").count():
        pytest.skip("the inventory's graph code is not in this build")
    graph = page.locator("#graph svg")
    assert graph.count() == 1 and graph.is_visible()
    assert "dbo.caller" in graph.text_content() and "dbo.p" in graph.text_content()
    assert page.problems == []
