"""The record of ``agents.quorvane.inventory.fingerprint``, built by the
native module with one call."""

from __future__ import annotations

from dataclasses import dataclass, field

__all__ = ["Fingerprint"]


@dataclass(frozen=True)
class Fingerprint:
    """The shape of one statement and its hash.

    ``template`` is the statement with comments dropped, spacing made
    uniform, words in lower case, literals and literal lists replaced by
    ``?`` and run-specific parts of names masked; ``hash`` is the XXH3-64
    hash of its UTF-8 bytes, stable across runs, machines and versions that
    keep ``FINGERPRINT_VERSION``.  ``unterminated`` is true when the text
    ends inside a string literal, quoted name or block comment (it was
    probably cut short); it takes no part in equality.
    """

    hash: int
    template: str
    unterminated: bool = field(default=False, compare=False)


Fingerprint.__module__ = "agents.quorvane.inventory"
