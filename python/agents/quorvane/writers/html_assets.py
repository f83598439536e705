"""The style sheet and the script of the HTML report, as data.

The script sorts any table of class ``sortable`` by a click on its head
(numbers by ``data-sort`` or their text, empty cells last), and filters the
rows of every table of class ``filterable``, and the hotspot blocks, by the
text in ``#filter`` and the level chosen in ``#level``, counting in ``#shown``
the rows of the table that has a ``data-count`` (its value names them).  It uses nothing outside the page.
"""

STYLE = """
* { box-sizing: border-box; }
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif; margin: 16px; color: #222; max-width: 1600px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 8px; }
.meta { color: #666; margin: 0 0 12px; }
.cards { display: flex; flex-wrap: wrap; gap: 10px; }
.card { border: 1px solid #ddd; border-radius: 6px; padding: 8px 12px; min-width: 120px; }
.card .n { font-size: 20px; font-weight: 600; }
.card .l { color: #666; font-size: 12px; }
.charts { display: flex; flex-wrap: wrap; gap: 24px; margin-top: 16px; }
figure { margin: 0; max-width: 100%; overflow-x: auto; }
figcaption { font-weight: 600; margin-bottom: 6px; }
svg text { font: 12px system-ui, sans-serif; fill: #333; }
.failures { border: 1px solid #e8b4b4; background: #fdf4f4; border-radius: 6px; padding: 8px 12px; }
.failures.none { border-color: #b8dcc4; background: #f3fbf6; }
.failures ul { margin: 6px 0 0; padding-left: 20px; max-height: 16em; overflow: auto; }
.failures code { overflow-wrap: anywhere; }
.controls { display: flex; flex-wrap: wrap; gap: 8px; align-items: center; margin: 8px 0; position: sticky; top: 0;
            background: #fff; padding: 6px 0; z-index: 2; }
.controls input[type=search] { flex: 1 1 260px; min-width: 0; padding: 5px 8px; font: inherit; }
.controls select { padding: 4px; font: inherit; }
.scroll { overflow: auto; max-height: 75vh; border: 1px solid #e4e4e4; border-radius: 4px; }
table { border-collapse: collapse; font-size: 13px; }
th, td { border-bottom: 1px solid #eee; padding: 3px 8px; text-align: left; vertical-align: top; white-space: nowrap; }
th { background: #f4f4f6; cursor: pointer; user-select: none; position: sticky; top: 0; z-index: 1; }
th[aria-sort="ascending"]::after { content: " \\25B2"; }
th[aria-sort="descending"]::after { content: " \\25BC"; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.path, td.clip { max-width: 32em; overflow: hidden; text-overflow: ellipsis; }
td.path { font-family: ui-monospace, monospace; }
td.clip { max-width: 24em; }
tr.failed td { background: #fdf0f0; }
td .err { color: #a33; font-family: system-ui, sans-serif; }
.level { display: inline-block; padding: 0 6px; border-radius: 3px; color: #fff; }
.graph { overflow: auto; max-height: 80vh; border: 1px solid #e4e4e4; border-radius: 4px; }
.graph svg text { font-size: 11px; }
.hotlist { max-height: 80vh; overflow: auto; border: 1px solid #e4e4e4; border-radius: 4px; padding: 0 8px; }
details.hot { border-bottom: 1px solid #eee; padding: 4px 0; }
details.hot summary { cursor: pointer; font-family: ui-monospace, monospace; overflow-wrap: anywhere; }
.spot { margin: 6px 0 10px 12px; }
.spot pre { margin: 4px 0 0; padding: 6px 8px; background: #f7f7f9; border-radius: 4px; overflow-x: auto;
            font: 12px/1.4 ui-monospace, monospace; }
.spot pre .at { background: #fff1c2; display: inline-block; min-width: 100%; }
.spot .ln { color: #999; user-select: none; }
.kind { display: inline-block; padding: 0 5px; border-radius: 3px; background: #eef; font-size: 12px; }
.hidden { display: none; }
"""

SCRIPT = """
(function () {
  "use strict";
  function cellKey(row, col, numeric) {
    var cell = row.cells[col];
    if (!cell) { return numeric ? -Infinity : ""; }
    var v = cell.hasAttribute("data-sort") ? cell.getAttribute("data-sort") : cell.textContent;
    if (numeric) {
      var n = parseFloat(v);
      return isNaN(n) ? -Infinity : n;
    }
    return v.toLowerCase();
  }
  document.querySelectorAll("table.sortable").forEach(function (table) {
    var heads = table.tHead.rows[0].cells;
    Array.prototype.forEach.call(heads, function (th, col) {
      th.addEventListener("click", function () {
        var asc = th.getAttribute("aria-sort") !== "ascending";
        Array.prototype.forEach.call(heads, function (h) { h.removeAttribute("aria-sort"); });
        th.setAttribute("aria-sort", asc ? "ascending" : "descending");
        var numeric = th.getAttribute("data-type") === "num";
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows).map(function (row, i) {
          return { row: row, key: cellKey(row, col, numeric), i: i };
        });
        rows.sort(function (a, b) {
          var c = a.key < b.key ? -1 : a.key > b.key ? 1 : 0;
          return (asc ? c : -c) || a.i - b.i;
        });
        rows.forEach(function (r) { body.appendChild(r.row); });
      });
    });
  });
  var box = document.getElementById("filter");
  var level = document.getElementById("level");
  var count = document.getElementById("shown");
  function applyFilter() {
    var words = box.value.toLowerCase().split(/\\s+/).filter(Boolean);
    var wanted = level.value;
    var shown = 0, total = 0, noun = "rows";
    document.querySelectorAll("table.filterable").forEach(function (table) {
      Array.prototype.forEach.call(table.tBodies[0].rows, function (row) {
        var text = row.textContent.toLowerCase();
        var ok = words.every(function (w) { return text.indexOf(w) >= 0; }) &&
                 (!wanted || row.getAttribute("data-level") === wanted);
        row.classList.toggle("hidden", !ok);
        if (table.hasAttribute("data-count")) { total += 1; if (ok) { shown += 1; } }
      });
      if (table.hasAttribute("data-count")) { noun = table.getAttribute("data-count"); }
    });
    document.querySelectorAll("details.hot").forEach(function (block) {
      var text = block.querySelector("summary").textContent.toLowerCase();
      var ok = words.every(function (w) { return text.indexOf(w) >= 0; }) &&
               (!wanted || block.getAttribute("data-level") === wanted);
      block.classList.toggle("hidden", !ok);
    });
    if (count) { count.textContent = shown + " of " + total + " " + noun + " shown"; }
  }
  if (box && level) {
    box.addEventListener("input", applyFilter);
    level.addEventListener("change", applyFilter);
    applyFilter();
  }
})();
"""
