"""Fitting a result to a token budget.

A result is one JSON document, sent both as structured content and as its
compact text; the text is what is counted.  Long lists are paged: a page
holds as many whole items as the budget allows, at least one.  An item too
large on its own is cut (its longest lists and strings shortened) and the
page says so in ``cuts``.
"""

from __future__ import annotations

import json
from collections.abc import Callable, Mapping, Sequence
from typing import Any

from agents.quorvane.tokens import estimate_tokens


NOTE_ROOM = 240  # characters kept for the notes of a cut item


def brief(notes: list[str]) -> list[str]:
    """At most three notes, together within ``NOTE_ROOM`` characters."""
    kept = [n[:70] for n in notes[:3]]
    return kept


def dumps(value: Any) -> str:
    """The result's text: compact JSON, characters as they are."""
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def char_room(budget: int) -> int:
    """The most characters a text may have and stay within ``budget`` tokens."""
    return 4 * budget


def fits(value: Any, budget: int) -> bool:
    return estimate_tokens(dumps(value)) <= budget


def shrink(item: Any, room: int, where: str = "") -> tuple[Any, list[str]]:
    """``item`` cut until its text has at most ``room`` characters, and what
    was cut.  Lists lose their last entries and strings their end; in an
    object the largest field is cut first, and inner objects alike."""
    if len(dumps(item)) <= room:
        return item, []
    if isinstance(item, str):
        prefix = _cut_string(item, room)
        return prefix, [f"{where or 'text'}: cut to {len(prefix)} of {len(item)} characters"]
    if isinstance(item, list) and item:
        kept = _cut_list(item, room)
        return kept, [f"{where or 'list'}: {len(kept)} of {len(item)} kept"]
    if not isinstance(item, dict):
        return item, []
    item = dict(item)
    notes: list[str] = []
    for key in sorted(item, key=lambda k: -len(dumps(item[k]))):
        over = len(dumps(item)) - room
        if over <= 0:
            break
        value = item[key]
        item[key], more = shrink(value, max(0, len(dumps(value)) - over), f"{where}.{key}" if where else key)
        notes += more
    return item, notes


def _cut_string(text: str, room: int) -> str:
    """The longest prefix of ``text`` whose JSON text has at most ``room``
    characters (escapes make it longer than the string)."""
    low, high = 0, len(text)
    while low < high:
        mid = (low + high + 1) // 2
        if len(dumps(text[:mid])) <= room:
            low = mid
        else:
            high = mid - 1
    return text[:low]


def _cut_list(items: list[Any], room: int) -> list[Any]:
    kept: list[Any] = []
    used = 2
    for entry in items:
        size = len(dumps(entry)) + (1 if kept else 0)
        if used + size > room:
            break
        kept.append(entry)
        used += size
    return kept


def page(
    head: dict[str, Any],
    lists: Mapping[str, Sequence[Any]],
    offset: int,
    budget: int,
    cursor_for: Callable[[int], str],
    first: dict[str, Any] | None = None,
) -> dict[str, Any]:
    """One page of ``lists`` (key -> items, paged as one sequence in key
    order) from ``offset``, with ``head``'s fields before them and
    ``next_cursor`` (None on the last page) and ``truncated``/``cuts``
    after, within ``budget`` tokens.  ``first`` holds the fields of the
    first page only (totals, counts): when they leave no room for the first
    item, which would fit without them, they make a page of their own."""
    head = {**head, **(first or {})}
    flat = [(key, i) for key, items in lists.items() for i in range(len(items))]
    if offset > len(flat):
        offset = len(flat)
    empty = {**head, **{key: [] for key in lists}, "next_cursor": None, "truncated": False, "cuts": []}
    # Room for the longest cursor this listing can need, in place of null.
    reserve = len(dumps(cursor_for(len(flat)))) - len("null")
    room = char_room(budget) - len(dumps(empty)) - reserve
    result = {**head, **{key: [] for key in lists}}
    cuts: list[str] = []
    used = 0
    position = offset
    while position < len(flat):
        key, i = flat[position]
        item = lists[key][i]
        size = len(dumps(item)) + 1
        if used + size > room:
            if position > offset:
                break
            if first and size <= room + len(dumps(first)):
                break  # the next page, without them, has room for it
            # Alone and still too large: cut it to the room left, keeping
            # room for the notes that say so.
            item, notes = shrink(item, max(0, room - used - 1 - NOTE_ROOM))
            cuts = brief([f"{key}[{i}] {note}" for note in notes])
            size = len(dumps(item)) + 1
        result[key].append(item)
        used += size
        position += 1
    result["next_cursor"] = cursor_for(position) if position < len(flat) else None
    result["truncated"] = bool(cuts)
    result["cuts"] = cuts
    return result


def whole(result: dict[str, Any], budget: int) -> dict[str, Any]:
    """A result that is not paged, with ``truncated`` and ``cuts``; cut when
    it would not fit ``budget``."""
    envelope = {**result, "truncated": False, "cuts": []}
    if len(dumps(envelope)) <= char_room(budget):
        return envelope
    cut, notes = shrink(result, char_room(budget) - NOTE_ROOM - len(',"truncated":true,"cuts":[]'))
    return {**cut, "truncated": True, "cuts": brief(notes)}
