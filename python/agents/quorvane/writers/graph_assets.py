"""The style and the script of the dependency graph on the HTML pages, as
data.

The script reads the graph from the page (``#graph-data``: nodes with their
layer, schema and folder; links) and draws into ``#graph-svg`` the nodes
that pass the page's filter box (``#filter``) and level choice (``#level``),
the toggle that hides batches and missing names, and the focus: the objects
named in ``#graph-focus`` (or the one clicked) and everything ``#graph-depth``
links up and down of them.  The layout is linear in the number of nodes: a
column per layer, what an object depends on to its left, tall layers
wrapped into several columns, and with clustering one band per schema or
folder.  Up to ``max`` nodes are drawn at once; more ask for a filter.
"""

GRAPH_STYLE = """
.graph-controls { display: flex; flex-wrap: wrap; gap: 8px 14px; align-items: center; margin: 6px 0; }
.graph-controls input[type=search] { flex: 1 1 220px; min-width: 0; padding: 4px 8px; font: inherit; }
.graph-controls input[type=number] { width: 4.5em; padding: 3px; font: inherit; }
.graph-controls select, .graph-controls button { padding: 3px 6px; font: inherit; }
.graph { overflow: auto; max-height: 80vh; border: 1px solid #e4e4e4; border-radius: 4px; }
.graph svg text { font: 11px system-ui, sans-serif; fill: #222; }
.graph svg .band rect { fill: #f7f7fa; stroke: #dcdce4; }
.graph svg .band text { fill: #666; font-weight: 600; }
.graph svg .node { cursor: pointer; }
.graph svg .node.seed rect { stroke: #222; stroke-width: 2; }
.graph-legend { color: #666; font-size: 12px; margin: 4px 0 0; }
"""

GRAPH_SCRIPT = """
(function () {
  "use strict";
  var holder = document.getElementById("graph-data");
  var svg = document.getElementById("graph-svg");
  if (!holder || !svg) { return; }
  var NS = svg.namespaceURI;
  var data = JSON.parse(holder.textContent);
  var W = 230, H = 22, GX = 40, GY = 6, HEAD = 18, PAD = 8;
  var FILL = { simple: "#dff3e7", moderate: "#fbeed3", complex: "#f8dcdb" };
  var STROKE = { reads: "#5b7bd5", writes: "#d9534f", calls: "#333", dynamic: "#aaa", missing: "#bbb" };
  var nodes = data.nodes.map(function (a, i) {
    return { i: i, key: a[0], kind: a[1], name: a[2], label: a[3], title: a[4], level: a[5], schema: a[6],
             folder: a[7], layer: a[8], cycle: a[9] === 1, text: (a[4] + "\\n" + a[7]).toLowerCase() };
  });
  var down = nodes.map(function () { return []; });
  var up = nodes.map(function () { return []; });
  data.links.forEach(function (l) { down[l[0]].push(l[1]); up[l[1]].push(l[0]); });
  var box = document.getElementById("filter");
  var level = document.getElementById("level");
  var cluster = document.getElementById("graph-cluster");
  var hide = document.getElementById("graph-hide");
  var focus = document.getElementById("graph-focus");
  var depth = document.getElementById("graph-depth");
  var clear = document.getElementById("graph-clear");
  var status = document.getElementById("graph-shown");
  var collate = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" }).compare;
  var clicked = null;  // the node clicked last, while the focus box still shows its name

  function nameKey(name) {
    var parts = name.toLowerCase().split(".");
    return (parts.length === 2 && parts[0] === "dbo" ? parts.slice(1) : parts).join(".");
  }
  function named(text) {
    var wanted = nameKey(text.trim());
    var exact = nodes.filter(function (n) { return n.name && nameKey(n.name) === wanted; });
    if (exact.length || wanted.indexOf(".") >= 0) { return exact; }
    return nodes.filter(function (n) { return n.name && nameKey(n.name).split(".").pop() === wanted; });
  }
  function around(seeds, hops) {
    var found = {};
    seeds.forEach(function (n) { found[n.i] = true; });
    [down, up].forEach(function (next) {
      var seen = {}, frontier = seeds.map(function (n) { seen[n.i] = true; return n.i; });
      for (var d = 0; d < hops && frontier.length; d++) {
        var further = [];
        frontier.forEach(function (i) {
          next[i].forEach(function (j) { if (!seen[j]) { seen[j] = true; further.push(j); } });
        });
        frontier = further;
      }
      Object.keys(seen).forEach(function (k) { found[k] = true; });
    });
    return found;
  }
  function seeds() {
    if (!focus || !focus.value.trim()) { return null; }
    if (clicked && focus.value === (clicked.name || clicked.label)) { return [clicked]; }
    return named(focus.value);
  }
  function element(tag, attrs, parent) {
    var el = document.createElementNS(NS, tag);
    Object.keys(attrs).forEach(function (k) { el.setAttribute(k, attrs[k]); });
    parent.appendChild(el);
    return el;
  }
  function draw() {
    var words = box ? box.value.toLowerCase().split(/\\s+/).filter(Boolean) : [];
    var wanted = level ? level.value : "";
    var hiding = hide && hide.checked;
    var from = seeds();
    var hops = Math.max(0, parseInt(depth && depth.value, 10) || 0);
    var allowed = from ? around(from, hops) : null;
    var isSeed = {};
    (from || []).forEach(function (n) { isSeed[n.i] = true; });
    var shown = nodes.filter(function (n) {
      return (!hiding || (n.kind !== "batch" && n.kind !== "missing")) && (!allowed || allowed[n.i]) &&
             (!wanted || n.level === wanted) && words.every(function (w) { return n.text.indexOf(w) >= 0; });
    });
    while (svg.firstChild) { svg.removeChild(svg.firstChild); }
    var note = from && !from.length ? "no object is named " + focus.value.trim() + "; " : "";
    if (shown.length > data.max) {
      svg.setAttribute("width", 0);
      svg.setAttribute("height", 0);
      status.textContent = note + shown.length + " of " + nodes.length + " match: more than " + data.max +
        " to draw; filter or focus to draw them";
      return;
    }
    status.textContent = note + shown.length + " of " + nodes.length + " drawn";
    var mode = cluster ? cluster.value : "";
    var bands = {}, names = [], layers = {};
    shown.forEach(function (n) {
      var b = mode === "schema" ? n.schema : mode === "folder" ? n.folder : "";
      if (!bands[b]) { bands[b] = {}; names.push(b); }
      (bands[b][n.layer] = bands[b][n.layer] || []).push(n);
      layers[n.layer] = true;
    });
    // Schemas and folders by name (numbers by value), "(batches)" and the like last.
    names.sort(function (a, b) { return (a.charAt(0) === "(") - (b.charAt(0) === "(") || collate(a, b); });
    var order = Object.keys(layers).map(Number).sort(function (a, b) { return a - b; });
    // Each band wraps its columns at about sqrt(2n) rows: wider than tall on a screen.
    var rows = {};
    names.forEach(function (b) {
      var size = 0;
      order.forEach(function (layer) { size += (bands[b][layer] || []).length; });
      rows[b] = Math.max(4, Math.ceil(Math.sqrt(2 * size)));
    });
    var columnX = {}, x = PAD;
    order.forEach(function (layer) {
      var wide = 1;
      names.forEach(function (b) { wide = Math.max(wide, Math.ceil((bands[b][layer] || []).length / rows[b])); });
      columnX[layer] = x;
      x += wide * (W + GX);
    });
    var pos = {}, y = PAD, head = mode ? HEAD : 0, bandBoxes = [];
    names.forEach(function (b) {
      var tall = 1;
      order.forEach(function (layer) {
        var members = bands[b][layer] || [];
        members.sort(function (p, q) { return collate(p.label, q.label) || p.i - q.i; });
        tall = Math.max(tall, Math.min(members.length, rows[b]));
        members.forEach(function (n, j) {
          pos[n.i] = [columnX[layer] + Math.floor(j / rows[b]) * (W + GX), y + head + (j % rows[b]) * (H + GY)];
        });
      });
      var height = head + tall * (H + GY) + GY;
      bandBoxes.push([b, y, height]);
      y += height + (mode ? GY : 0);
    });
    svg.setAttribute("width", shown.length ? x - GX + 2 * PAD : 0);
    svg.setAttribute("height", shown.length ? y + PAD : 0);
    var frag = document.createDocumentFragment();
    var defs = element("defs", {}, frag);
    var marker = element("marker", { id: "graph-arrow", viewBox: "0 0 10 10", refX: 10, refY: 5, markerWidth: 6,
                                     markerHeight: 6, orient: "auto-start-reverse" }, defs);
    element("path", { d: "M 0 0 L 10 5 L 0 10 z", fill: "#777" }, marker);
    if (mode) {
      bandBoxes.forEach(function (band) {
        var g = element("g", { "class": "band" }, frag);
        element("rect", { x: PAD / 2, y: band[1], width: x - GX + PAD, height: band[2], rx: 4 }, g);
        element("text", { x: PAD, y: band[1] + 13 }, g).textContent = band[0];
      });
    }
    data.links.forEach(function (l) {
      var a = pos[l[0]], b = pos[l[1]];
      if (!a || !b) { return; }
      var back = a[0] >= b[0] + W;
      element("line", { x1: back ? a[0] : a[0] + W, y1: a[1] + H / 2, x2: back ? b[0] + W : b[0], y2: b[1] + H / 2,
                        stroke: STROKE[l[2]], "stroke-opacity": 0.55, "marker-end": "url(#graph-arrow)",
                        "stroke-dasharray": l[2] === "missing" || l[2] === "dynamic" ? "4 3" : "none" }, frag);
    });
    shown.forEach(function (n) {
      var p = pos[n.i];
      var g = element("g", { "class": "node" + (isSeed[n.i] ? " seed" : ""), "data-key": n.key }, frag);
      element("title", {}, g).textContent = n.title;
      element("rect", { x: p[0], y: p[1], width: W, height: H, rx: 4, fill: FILL[n.level] || "#eee",
                        stroke: n.cycle ? "#d9534f" : "#999", "stroke-dasharray": n.kind === "missing" ? "4 3" : "none" },
              g);
      element("text", { x: p[0] + 6, y: p[1] + 15 }, g).textContent = n.label;
      g.addEventListener("click", function () {
        clicked = n;
        focus.value = n.name || n.label;
        draw();
      });
    });
    svg.appendChild(frag);
  }
  if (box) { box.addEventListener("input", draw); }
  if (level) { level.addEventListener("change", draw); }
  [cluster, hide].forEach(function (el) { if (el) { el.addEventListener("change", draw); } });
  if (depth) { depth.addEventListener("input", draw); }
  if (focus) { focus.addEventListener("input", function () { clicked = null; draw(); }); }
  if (clear) {
    clear.addEventListener("click", function () { clicked = null; focus.value = ""; draw(); });
  }
  draw();
})();
"""
