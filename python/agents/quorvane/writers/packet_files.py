"""The output of ``packets``: JSON lines (one packet a line), or a
directory of Markdown files, one per packet, named in conversion order,
with an ``index.md`` listing them."""

from __future__ import annotations

import re
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import PurePath
from typing import TextIO

from agents.quorvane.packets import Packet

INDEX_NAME = "index.md"
# Longest name part of a packet's file name, in characters.
NAME_LIMIT = 80
_UNSAFE = re.compile(r"[^A-Za-z0-9._-]+")


@dataclass(frozen=True)
class PacketsReport:
    """What ``packets`` writes: the packets in conversion order."""

    packets: Sequence[Packet]


def file_name(packet: Packet) -> str:
    """``NNNN-kind-name.md`` (``-partK`` before the suffix for a part); a
    batch is named by its file's name and line."""
    o = packet.object
    name = o["name"] if o["name"] else f"{PurePath(o['path']).name}-{o['start_line']}"
    safe = _UNSAFE.sub("_", name).strip("._")[:NAME_LIMIT] or "_"
    part = f"-part{packet.part}" if packet.parts > 1 else ""
    return f"{packet.order:04d}-{o['kind']}-{safe}{part}.md"


def write_jsonl(report: PacketsReport, out: TextIO) -> None:
    for packet in report.packets:
        out.write(packet.as_json())
        out.write("\n")


def _cell(text: str) -> str:
    return text.replace("|", "\\|").replace("\n", " ")


def write_index(report: PacketsReport, out: TextIO) -> None:
    """The index of a Markdown directory: every packet's file, with its
    object, tokens and the packets it depends on."""
    out.write("# Work packets in conversion order\n\n")
    out.write("| order | packet | object | tokens | depends on |\n|---|---|---|---|---|\n")
    for p in report.packets:
        name = file_name(p)
        depends = sorted({d["resolved"] for d in p.dependencies if d.get("resolved") and d["resolved"] != p.id})
        cycle = f" ({p.group})" if p.group else ""
        part = f" part {p.part}/{p.parts}" if p.parts > 1 else ""
        out.write(
            f"| {p.order}{cycle} | [{_cell(name)}]({name}) | {_cell(p.id)}{part} | {p.tokens} | "
            f"{_cell(', '.join(depends)) or '-'} |\n"
        )
