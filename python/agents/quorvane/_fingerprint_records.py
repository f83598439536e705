"""The records of ``agents.quorvane.inventory.fingerprint`` and
``fingerprint_many``, each built by the native module with one call."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import ClassVar

__all__ = ["Fingerprint", "FingerprintBatch"]


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


@dataclass(frozen=True)
class FingerprintBatch:
    """The fingerprints of a batch of rows, without a record per row.

    ``flags[i]`` says what row ``i`` was: WHOLE or UNTERMINATED (a str,
    fingerprinted; UNTERMINATED as ``Fingerprint.unterminated``), BLANK (a
    str of whitespace only, or empty) or NOT_TEXT (anything but a str, left
    to the caller).  ``hashes`` holds each row's hash as an unsigned 64-bit
    integer in the machine's byte order (0 for a row not fingerprinted):
    ``memoryview(hashes).cast("Q")``, or a pyarrow ``uint64`` array over
    the same buffer.  ``templates`` maps each distinct hash to the index of
    its first row and its template, in the order of first rows.
    """

    WHOLE: ClassVar[int] = 0
    UNTERMINATED: ClassVar[int] = 1
    BLANK: ClassVar[int] = 2
    NOT_TEXT: ClassVar[int] = 3

    hashes: bytes
    flags: bytes
    templates: dict[int, tuple[int, str]]


Fingerprint.__module__ = "agents.quorvane.inventory"
FingerprintBatch.__module__ = "agents.quorvane.inventory"
