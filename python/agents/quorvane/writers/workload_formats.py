"""The outputs of ``quorvane workload``: one JSON document, CSV (one row per
template), a table for the terminal, and a self-contained HTML page."""

from __future__ import annotations

import csv
import json
from html import escape
from collections.abc import Mapping
from typing import Any, TextIO

from agents.quorvane import __version__
from agents.quorvane.writers.html_assets import SCRIPT, STYLE
from agents.quorvane.writers.spelling import printable

TEMPLATE_FIELDS = (
    "fingerprint", "template", "count", "share", "users", "first_seen", "last_seen", "level", "analysis_turns",
    "conversion_turns", "audit_turns", "categories", "platform", "reads", "writes", "calls",
)  # fmt: skip
TEMPLATE_WIDTH = 70
LISTED_IN_TABLE = 20


def write_json(doc: Mapping[str, Any], out: TextIO) -> None:
    json.dump(doc, out, ensure_ascii=False, indent=1)
    out.write("\n")


def _cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, list):
        return ";".join(str(v) for v in value)
    return str(value)


def write_csv(doc: Mapping[str, Any], out: TextIO) -> None:
    w = csv.writer(out, lineterminator="\n")
    w.writerow(TEMPLATE_FIELDS)
    for t in doc["templates"]:
        w.writerow([_cell(t[f]) for f in TEMPLATE_FIELDS])


def _clip(text: str, width: int) -> str:
    text = printable(text)
    return text if len(text) <= width else text[: width - 1] + "\u2026"


def summary_lines(doc: Mapping[str, Any]) -> list[str]:
    s = doc["summary"]
    levels = ", ".join(f"{k} {v}" for k, v in s["levels"].items())
    lines = [
        f"statements: {s['statements']} in {s['templates']} templates ({s['rows']} rows read)",
        f"levels by statement: {levels}",
    ]
    if s["hot_tables"]:
        lines.append("hot tables: " + ", ".join(f"{h['table']} ({h['statements']})" for h in s["hot_tables"][:10]))
    if s["truncated"]:
        rows = ", ".join(str(r["row"]) for r in s["truncated_rows"][:LISTED_IN_TABLE])
        more = " ..." if s["truncated"] > LISTED_IN_TABLE else ""
        lines.append(f"suspected truncation, not analysed: {s['truncated']} rows ({rows}{more})")
    if s["bad_rows"]:
        rows = ", ".join(str(n) for n in s["bad_row_numbers"][:LISTED_IN_TABLE])
        more = " ..." if s["bad_rows"] > min(len(s["bad_row_numbers"]), LISTED_IN_TABLE) else ""
        kinds = ", ".join(f"{k} {v}" for k, v in s["bad_row_problems"].items())
        lines.append(f"bad rows: {s['bad_rows']} ({kinds}; rows {rows or 'unnumbered'}{more})")
    code = s["code"]
    if code is not None:
        lines.append(
            f"code base: {code['objects']} objects, {len(code['unused'])} unused by the log, "
            f"{len(code['undefined'])} names the log references but the code base does not define"
        )
        for e in code["unused"][:LISTED_IN_TABLE]:
            lines.append(f"  unused {e['kind']} {printable(e['name'])} ({printable(e['path'])}:{e['line']})")
        for e in code["undefined"][:LISTED_IN_TABLE]:
            lines.append(f"  undefined {printable(e['name'])} ({'/'.join(e['kinds'])}, {e['statements']} statements)")
    return lines


def write_table(doc: Mapping[str, Any], out: TextIO) -> None:
    head = ("count", "share", "level", "platform", "fingerprint", "template")
    rows = [
        (str(t["count"]), f"{t['share']:.1%}", t["level"], t["platform"] or "-", f"{t['fingerprint']:016x}",
         _clip(t["template"], TEMPLATE_WIDTH))
        for t in doc["templates"]
    ]  # fmt: skip
    widths = [max([len(h)] + [len(r[i]) for r in rows]) for i, h in enumerate(head)]
    for r in (head, *rows):
        out.write("  ".join(c.rjust(w) if i < 2 else c.ljust(w) for i, (c, w) in enumerate(zip(r, widths))).rstrip())
        out.write("\n")
    out.write("\n")
    for line in summary_lines(doc):
        out.write(line + "\n")


def render_html(doc: Mapping[str, Any]) -> str:
    s = doc["summary"]
    cards = [("statements", s["statements"]), ("templates", s["templates"]), ("bad rows", s["bad_rows"]),
             ("suspected truncation", s["truncated"])] + [(k, v) for k, v in s["levels"].items()]  # fmt: skip
    card_html = "".join(
        f'<div class="card"><div class="n">{v}</div><div class="l">{escape(k)}</div></div>' for k, v in cards
    )
    head = ("count", "share", "users", "first seen", "last seen", "level", "conversion turns", "categories",
            "platform", "reads", "writes", "calls", "fingerprint", "template")  # fmt: skip
    body = []
    for t in doc["templates"]:
        cells = [
            f'<td data-sort="{t["count"]}">{t["count"]}</td>',
            f'<td data-sort="{t["share"]}">{t["share"]:.2%}</td>',
            f"<td>{'' if t['users'] is None else t['users']}</td>",
            f"<td>{escape(str(t['first_seen'] or ''))}</td>",
            f"<td>{escape(str(t['last_seen'] or ''))}</td>",
            f"<td>{escape(t['level'])}</td>",
            f"<td>{t['conversion_turns']}</td>",
            f"<td>{escape(', '.join(t['categories']))}</td>",
            f"<td>{escape(t['platform'] or '')}</td>",
            f"<td>{escape(', '.join(t['reads']))}</td>",
            f"<td>{escape(', '.join(t['writes']))}</td>",
            f"<td>{escape(', '.join(t['calls']))}</td>",
            f"<td><code>{t['fingerprint']:016x}</code></td>",
            f"<td><code>{escape(printable(t['template']))}</code></td>",
        ]
        body.append(f'<tr data-level="{escape(t["level"])}">{"".join(cells)}</tr>')
    notes = "".join(f"<li>{escape(line)}</li>" for line in summary_lines(doc))
    numeric = {"count", "share", "users", "conversion turns"}
    th = "".join(f"<th{' data-type=num' if h in numeric else ''}>{escape(h)}</th>" for h in head)
    return (
        "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
        'script-src \'unsafe-inline\'"><meta name=viewport content="width=device-width">'
        f"<title>Query log workload</title><style>{STYLE}"
        "table { border-collapse: collapse; font-size: 13px; } th, td { border-bottom: 1px solid #e4e4e4; "
        "padding: 4px 8px; text-align: left; vertical-align: top; } th { background: #f4f4f6; cursor: pointer; } "
        ".scroll { overflow: auto; max-height: 80vh; }</style></head><body>"
        f"<h1>Query log workload</h1><p class=meta>{escape(', '.join(map(printable, s['logs'])))} &middot; "
        f"quorvane {escape(__version__)}</p><div class=cards>{card_html}</div>"
        f"<h2>Summary</h2><ul>{notes}</ul><h2>Templates</h2>"
        '<p><input id=filter placeholder="filter"> <select id=level><option value="">all levels</option>'
        "<option>simple</option><option>moderate</option><option>complex</option></select></p>"
        f'<div class=scroll><table class="sortable filterable"><thead><tr>{th}</tr></thead>'
        f"<tbody>{''.join(body)}</tbody></table></div><script>{SCRIPT}</script></body></html>\n"
    )
