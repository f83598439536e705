"""The self-contained HTML report of ``quorvane analyze --html``.

One page, no network: the style sheet, the charts (inline SVG) and the few
lines of script that sort the table are all in the page.
"""

from __future__ import annotations

from collections.abc import Sequence
from html import escape

from agents.quorvane import __version__
from agents.quorvane.assessment.record import FileReport
from agents.quorvane.assessment.totals import Summary

LEVEL_COLOURS = {"simple": "#4caf7d", "moderate": "#e0a030", "complex": "#d9534f"}
BUDGET_COLOUR = "#5b7bd5"
PLATFORM_COLOUR = "#7a5bd5"
CATEGORY_COLOUR = "#3a9fb5"
LEVEL_ORDER = {"simple": 0, "moderate": 1, "complex": 2}

_STYLE = """
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 8px; }
.meta { color: #666; margin: 0 0 16px; }
.cards { display: flex; flex-wrap: wrap; gap: 12px; }
.card { border: 1px solid #ddd; border-radius: 6px; padding: 10px 14px; min-width: 130px; }
.card .n { font-size: 22px; font-weight: 600; }
.card .l { color: #666; font-size: 12px; }
.charts { display: flex; flex-wrap: wrap; gap: 24px; margin-top: 16px; }
figure { margin: 0; }
figcaption { font-weight: 600; margin-bottom: 6px; }
svg text { font: 12px system-ui, sans-serif; fill: #333; }
table { border-collapse: collapse; width: 100%; font-size: 13px; }
th, td { border-bottom: 1px solid #e4e4e4; padding: 4px 8px; text-align: left; vertical-align: top; }
th { background: #f4f4f6; cursor: pointer; user-select: none; position: sticky; top: 0; }
th[aria-sort="ascending"]::after { content: " \\25B2"; }
th[aria-sort="descending"]::after { content: " \\25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.path { font-family: ui-monospace, monospace; overflow-wrap: anywhere; min-width: 16em; }
tr.failed td { background: #fdf0f0; }
.level { display: inline-block; padding: 0 6px; border-radius: 3px; color: #fff; }
"""

_SCRIPT = """
document.querySelectorAll("table.sortable").forEach(function (table) {
  var heads = table.tHead.rows[0].cells;
  Array.prototype.forEach.call(heads, function (th, col) {
    th.addEventListener("click", function () {
      var asc = th.getAttribute("aria-sort") !== "ascending";
      Array.prototype.forEach.call(heads, function (h) { h.removeAttribute("aria-sort"); });
      th.setAttribute("aria-sort", asc ? "ascending" : "descending");
      var numeric = th.dataset.type === "num";
      var body = table.tBodies[0];
      var rows = Array.prototype.slice.call(body.rows);
      function key(row) {
        var cell = row.cells[col];
        var v = cell.dataset.sort !== undefined ? cell.dataset.sort : cell.textContent;
        return numeric ? parseFloat(v) : v.toLowerCase();
      }
      rows.sort(function (a, b) {
        var x = key(a), y = key(b);
        var c = numeric ? x - y : (x < y ? -1 : x > y ? 1 : 0);
        return asc ? c : -c;
      });
      rows.forEach(function (row) { body.appendChild(row); });
    });
  });
});
"""


def _bar_chart(items: Sequence[tuple[str, int, str]], *, label_width: int = 130, bar_width: int = 260) -> str:
    """Horizontal bars, one per (label, value, colour), scaled to the largest."""
    if not items:
        return '<p class="meta">nothing to show</p>'
    row, gap = 20, 6
    peak = max(value for _, value, _ in items) or 1
    height = len(items) * (row + gap)
    width = label_width + bar_width + 60
    parts = [f'<svg width="{width}" height="{height}" role="img">']
    for i, (label, value, colour) in enumerate(items):
        y = i * (row + gap)
        length = round(bar_width * value / peak)
        text = escape(label)
        parts.append(
            f'<text x="{label_width - 6}" y="{y + row - 5}" text-anchor="end">{text}</text>'
            f'<rect x="{label_width}" y="{y}" width="{max(length, 1)}" height="{row}" fill="{colour}">'
            f"<title>{text}: {value}</title></rect>"
            f'<text x="{label_width + length + 6}" y="{y + row - 5}">{value}</text>'
        )
    parts.append("</svg>")
    return "".join(parts)


def _figure(caption: str, chart: str) -> str:
    return f"<figure><figcaption>{escape(caption)}</figcaption>{chart}</figure>"


def _card(value: object, label: str) -> str:
    return f'<div class="card"><div class="n">{escape(str(value))}</div><div class="l">{escape(label)}</div></div>'


_COLUMNS = (("File", "text"), ("Level", "num"), ("Eff. lines", "num"), ("Procs", "num"), ("Complex", "num"),
            ("Moderate", "num"), ("Temp tables", "num"), ("CTEs", "num"), ("Analysis turns", "num"),
            ("Conversion turns", "num"), ("Audit turns", "num"), ("Lines", "num"), ("Read in sections", "num"),
            ("Platform", "text"), ("Score", "num"), ("Categories", "text"))  # fmt: skip


def _row(r: FileReport) -> str:
    path = f'<td class="path">{escape(r.path)}</td>'
    if r.error is not None:
        cells = [path, '<td data-sort="-1">failed</td>', f'<td colspan="{len(_COLUMNS) - 2}">{escape(r.error)}</td>']
        return '<tr class="failed">' + "".join(cells) + "</tr>"
    level = r.complexity or ""
    colour = LEVEL_COLOURS.get(level, "#888")
    numbers = (r.effective_lines, r.stored_proc_count, r.complex_construct_count, r.moderate_construct_count,
               r.temp_table_count, r.cte_count, r.analysis_turns, r.conversion_turns, r.audit_turns,
               r.total_lines)  # fmt: skip
    cells = [
        path,
        f'<td data-sort="{LEVEL_ORDER.get(level, -1)}"><span class="level" style="background:{colour}">'
        f"{escape(level)}</span></td>",
        *(f'<td class="num">{n}</td>' for n in numbers),
        f'<td class="num" data-sort="{r.sections if r.chunked else 0}">{r.sections if r.chunked else "whole"}</td>',
        f"<td>{escape(r.platform or 'unknown')}</td>",
        f'<td class="num">{r.platform_score:g}</td>',
        f"<td>{escape(', '.join(r.categories))}</td>",
    ]
    return "<tr>" + "".join(cells) + "</tr>"


def render_html(reports: Sequence[FileReport], summary: Summary, *, title: str) -> str:
    """The whole page for ``reports`` (in the order given) and their summary."""
    analysed = summary.files - summary.failed
    cards = "".join(
        [
            _card(summary.files, "files"),
            _card(analysed, "analysed"),
            _card(summary.failed, "failed"),
            _card(summary.effective_lines, "effective lines"),
            _card(summary.chunked, "files read in sections"),
            *(_card(v, f"{k} turns") for k, v in summary.budgets.items()),
        ]
    )
    charts = "".join(
        [
            _figure(
                "Files per complexity level",
                _bar_chart([(k, v, LEVEL_COLOURS[k]) for k, v in summary.levels.items()], label_width=80),
            ),
            _figure(
                "Turn budgets (all files)",
                _bar_chart([(k, v, BUDGET_COLOUR) for k, v in summary.budgets.items()], label_width=80),
            ),
            _figure("Source platforms", _bar_chart([(k, v, PLATFORM_COLOUR) for k, v in summary.platforms.items()])),
            _figure(
                "Construct categories (files using each)",
                _bar_chart([(k, v, CATEGORY_COLOUR) for k, v in summary.categories.items()]),
            ),
        ]
    )
    head = "".join(f'<th scope="col" data-type="{kind}">{escape(name)}</th>' for name, kind in _COLUMNS)
    rows = "\n".join(_row(r) for r in reports)
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{escape(title)}</title>
<style>{_STYLE}</style>
</head>
<body>
<h1>{escape(title)}</h1>
<p class="meta">{summary.files} files, {analysed} analysed, {summary.failed} failed. Made by quorvane {escape(__version__)}.</p>
<div class="cards">{cards}</div>
<div class="charts">{charts}</div>
<h2>Files</h2>
<table class="sortable" id="files">
<thead><tr>{head}</tr></thead>
<tbody>
{rows}
</tbody>
</table>
<script>{_SCRIPT}</script>
</body>
</html>
"""
