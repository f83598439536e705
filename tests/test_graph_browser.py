"""The dependency graph of both HTML pages in Chromium (as in
test_html_browser), on a generated code base of 2,000 objects: every object
drawn, the filter box, the focus, the toggle, the clusters and the layers."""

from __future__ import annotations

import subprocess
import sys
from contextlib import contextmanager

import pytest
from generated_codebase import write_codebase
from test_html_browser import CHROMIUM, browser  # noqa: F401  (the browser fixture)

pytestmark = pytest.mark.skipif(CHROMIUM is None, reason="Debian's chromium is not installed")

TABLES, PROCS = 1000, 980  # and a batch per file of procedures: 2,000 objects
PAGES = ("inventory", "analyze")


def quorvane(cwd, *args: str) -> None:
    subprocess.run([sys.executable, "-m", "agents.quorvane", *args], check=True, cwd=cwd, timeout=300)


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    root = tmp_path_factory.mktemp("big")
    base = write_codebase(root, TABLES, PROCS)
    assert base.objects == 2000
    for page in PAGES:
        quorvane(root, page, ".", "--html", f"{page}.html")
    return root, base


@contextmanager
def opened(browser, path):  # noqa: F811
    """The page at ``path``, which must load nothing else and report no error."""
    context = browser.new_context(viewport={"width": 1200, "height": 900})
    pg = context.new_page()
    problems: list[str] = []
    requests: list[str] = []
    pg.on("pageerror", lambda exc: problems.append(f"page error: {exc}"))
    pg.on("console", lambda msg: problems.append(msg.text) if msg.type in ("error", "warning") else None)
    pg.on("request", lambda req: requests.append(req.url))
    pg.goto(path.as_uri())
    yield pg
    assert problems == []
    assert all(url.startswith(("file:", "data:")) for url in requests), requests
    context.close()


@pytest.fixture(params=PAGES)
def page(request, browser, site):  # noqa: F811
    root, base = site
    with opened(browser, root / f"{request.param}.html") as pg:
        pg.base = base  # type: ignore[attr-defined]
        yield pg


def drawn(page) -> set[str]:
    """The name of every node drawn: an object's name, a missing name, a
    batch's label."""
    titles = page.eval_on_selector_all("#graph-svg g.node > title", "ts => ts.map(t => t.textContent)")
    names = set(map(name_of, titles))
    assert len(names) == len(titles)
    return names


def name_of(title: str) -> str:
    first = title.split("\n")[0]
    return first.removesuffix(" (missing)") if first.endswith(" (missing)") else first.split(" ", 1)[1]


def test_every_object_and_missing_name_is_drawn(page):
    names = drawn(page)
    assert len(names) == 2000 + len(page.base.missing)
    assert page.base.missing <= names and any(n.startswith("procs_0.sql:") for n in names)
    labels = page.eval_on_selector_all("#graph-svg g.node > text", "ts => ts.map(t => t.textContent)")
    assert max(map(len, labels)) <= 32
    assert page.text_content("#graph-shown") == "2020 of 2020 drawn"


def test_filter_box_keeps_the_matching_nodes(page):
    page.fill("#filter", "s3.p1")
    assert drawn(page) == {n for n in page.base.depends if n.startswith("s3.p1")}
    page.fill("#filter", "")
    assert len(drawn(page)) == 2020


@pytest.mark.parametrize("hops", [0, 1, 2])
def test_focus_draws_the_neighbourhood_up_and_down(page, hops):
    page.fill("#graph-depth", str(hops))
    page.fill("#graph-focus", "S3.P13")  # names match ignoring case
    assert drawn(page) == page.base.around("s3.p13", hops)
    if hops:
        page.locator("#graph-svg g.node", has_text="procedure s2.p12").click()
        assert page.input_value("#graph-focus") == "s2.p12"
        assert drawn(page) == page.base.around("s2.p12", hops)
    page.click("#graph-clear")
    assert len(drawn(page)) == 2020


def test_toggle_hides_batches_and_missing_names(page):
    page.check("#graph-hide")
    names = drawn(page)
    assert names == set(page.base.depends) and len(names) == 2000 - page.base.batches
    page.uncheck("#graph-hide")
    assert len(drawn(page)) == 2020


BANDS_AND_NODES = """svg => {
  const bands = [...svg.querySelectorAll("g.band")].map(g => {
    const r = g.querySelector("rect");
    return [g.querySelector("text").textContent, +r.getAttribute("y"), +r.getAttribute("height")];
  });
  const nodes = [...svg.querySelectorAll("g.node")].map(g =>
    [g.querySelector("title").textContent, +g.querySelector("rect").getAttribute("y")]);
  return [bands, nodes];
}"""


@pytest.mark.parametrize(
    ("mode", "group"),
    [
        ("schema", lambda title: "(batches)" if title.startswith("batch ") else name_of(title).split(".")[0]),
        ("folder", lambda title: "(missing)" if "(missing)" in title else title.split("\n")[1].split("/")[0]),
    ],
)
def test_clusters_put_each_node_in_its_band(page, mode, group):
    page.select_option("#graph-cluster", mode)
    bands, nodes = page.eval_on_selector("#graph-svg", BANDS_AND_NODES)
    where = {label: (top, top + height) for label, top, height in bands}
    assert len(where) == len(bands) == (7 if mode == "schema" else 5)
    for title, y in nodes:
        top, bottom = where[group(title)]
        assert top < y < bottom, title
    page.select_option("#graph-cluster", "")
    assert page.locator("#graph-svg g.band").count() == 0


def test_objects_stand_right_of_what_they_depend_on(page):
    nodes = page.eval_on_selector_all(
        "#graph-svg g.node",
        "gs => gs.map(g => [g.querySelector('title').textContent, +g.querySelector('rect').getAttribute('x')])",
    )
    xs = {name_of(title): x for title, x in nodes}
    pairs = [(user, need) for user, needs in page.base.depends.items() for need in needs if need in xs]
    assert len(pairs) > 2000 and all(xs[user] > xs[need] for user, need in pairs)


def test_inventory_table_filters_and_shows_hours_second(browser, site):  # noqa: F811
    root, base = site
    with opened(browser, root / "inventory.html") as pg:
        heads = pg.eval_on_selector_all("#objects thead th", "hs => hs.map(h => h.textContent)")
        assert heads[:3] == ["order", "hours", "id"]
        pg.fill("#filter", "s3.p1")
        rows = pg.eval_on_selector_all(
            "#objects tbody tr",
            "rs => rs.filter(r => r.offsetParent !== null).map(r => [r.cells[6].textContent, r.cells[1].textContent,"
            " r.textContent])",
        )
        assert {n for n in base.depends if n.startswith("s3.p1")} <= {name for name, _, _ in rows}
        assert all("s3.p1" in text and float(hours) > 0 for _, hours, text in rows)
        assert pg.text_content("#shown") == f"{len(rows)} of 2000 objects shown"


def test_focus_option_opens_the_inventory_page_on_the_neighbourhood(browser, site):  # noqa: F811
    root, base = site
    quorvane(root, "inventory", ".", "--html", "focus.html", "--focus", "s3.p13", "--depth", "2")
    with opened(browser, root / "focus.html") as pg:
        assert drawn(pg) == base.around("s3.p13", 2)


def test_more_than_5000_nodes_wait_for_a_filter(browser, tmp_path):  # noqa: F811
    write_codebase(tmp_path, 5001, 0)
    quorvane(tmp_path, "inventory", ".", "--html", "p.html")
    with opened(browser, tmp_path / "p.html") as pg:
        assert pg.locator("#graph-svg g.node").count() == 0 and "more than 5000" in pg.text_content("#graph-shown")
        pg.fill("#filter", "s1.t1")
        assert drawn(pg) == {f"s1.t{i}" for i in range(5001) if i % 5 == 1 and str(i).startswith("1")}
