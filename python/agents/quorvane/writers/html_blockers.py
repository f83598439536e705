"""The blockers section of the HTML report: each blocker kind found, with
its count, the files that hold it and why Spark has no equivalent; and the
blockers cell of the files and objects tables."""

from __future__ import annotations

from html import escape

from agents.quorvane.assessment.blockers import KINDS
from agents.quorvane.assessment.record import Row
from agents.quorvane.assessment.totals import Summary

# File names listed under a kind before the rest are only counted.
LISTED_FILES = 200


def blockers_section(summary: Summary) -> str:
    if not summary.blockers:
        return '<p class="meta" id="blockers">No blockers were found.</p>'
    rows = []
    for kind, found in summary.blockers.items():
        files = found["files"]
        shown = "".join(f"<li><code>{escape(path)}</code></li>" for path in files[:LISTED_FILES])
        more = f"<li>… and {len(files) - LISTED_FILES} more</li>" if len(files) > LISTED_FILES else ""
        entry = KINDS.get(kind)
        rows.append(
            f'<tr><td><code>{escape(kind)}</code></td><td class="num">{found["count"]}</td>'
            f'<td class="num" data-sort="{len(files)}"><details><summary>{len(files)}</summary>'
            f"<ul>{shown}{more}</ul></details></td>"
            f"<td>{escape(entry.reason if entry else '')}</td></tr>"
        )
    head = "".join(
        f'<th scope="col" data-type="{kind}">{name}</th>'
        for name, kind in (("Kind", "text"), ("Found", "num"), ("Files", "num"), ("Why it needs a decision", "text"))
    )
    return (
        f'<div class="scroll"><table class="sortable" id="blockers"><thead><tr>{head}</tr></thead>'
        f"<tbody>{''.join(rows)}</tbody></table></div>"
    )


def blockers_cell(row: Row) -> str:
    """The number of the row's blockers, with their kinds and lines as the
    cell's title."""
    if row.blockers is None:
        return '<td class="num"></td>'
    title = "; ".join(f"{b.kind} @{b.line}: {b.text}" for b in row.blockers)
    return f'<td class="num" data-sort="{len(row.blockers)}" title="{escape(title)}">{len(row.blockers)}</td>'
