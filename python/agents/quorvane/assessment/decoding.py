"""Turning a file's bytes into text, and saying how.

The rule, in order:

1. A given encoding (``--encoding NAME``) is used as it is, strictly.
2. A byte-order mark decides: UTF-32 LE/BE, UTF-8, UTF-16 LE/BE (UTF-32 is
   tested first: its little-endian mark begins with UTF-16's).
3. Text that is valid UTF-8 is UTF-8.
4. Otherwise charset-normalizer (the ``cli`` extra) names the most likely
   legacy code page; its choice is reported as guessed.

Decoding is always strict: a file that cannot be decoded fails with a
message, it is never read with replacement characters.  A byte-order mark is
not part of the text.
"""

from __future__ import annotations

import codecs
from dataclasses import dataclass

# Longest first where one mark begins another.
_BOMS = (
    (codecs.BOM_UTF32_LE, "utf-32-le"),
    (codecs.BOM_UTF32_BE, "utf-32-be"),
    (codecs.BOM_UTF8, "utf-8"),
    (codecs.BOM_UTF16_LE, "utf-16-le"),
    (codecs.BOM_UTF16_BE, "utf-16-be"),
)


class DecodeError(Exception):
    """The bytes are not text in any encoding the rule accepts."""


@dataclass(frozen=True)
class Decoded:
    text: str
    encoding: str  # the codec's canonical name, e.g. "utf-8", "utf-16-le", "cp1252"
    guessed: bool  # chosen by the detector rather than given, marked or valid UTF-8


def canonical_encoding(name: str) -> str:
    """The codec's canonical name; LookupError for an unknown one."""
    return codecs.lookup(name).name


def _strict(data: bytes | memoryview, encoding: str, skip: int = 0) -> str:
    try:
        return str(data[skip:] if skip else data, encoding)
    except UnicodeDecodeError as exc:
        position = exc.start + skip
        raise DecodeError(
            f"not valid {encoding}: byte 0x{data[position]:02x} at offset {position} ({exc.reason})"
        ) from None


def decode(data: bytes, encoding: str | None = None) -> Decoded:
    """Decode ``data`` by the rule above; DecodeError when it cannot be."""
    view = memoryview(data)
    if encoding is not None:
        name = canonical_encoding(encoding)
        text = _strict(view, name)
        if text.startswith("\ufeff"):
            text = text[1:]
        return Decoded(text, name, False)
    for bom, name in _BOMS:
        if data.startswith(bom):
            return Decoded(_strict(view, name, len(bom)), name, False)
    try:
        return Decoded(str(data, "utf-8"), "utf-8", False)
    except UnicodeDecodeError as exc:
        first_error = f"byte 0x{data[exc.start]:02x} at offset {exc.start}"
    return _detect(data, first_error)


def _detect(data: bytes, first_error: str) -> Decoded:
    try:
        from charset_normalizer import from_bytes
    except ImportError:
        raise DecodeError(
            f"not UTF-8 ({first_error}) and no byte-order mark; name the encoding with --encoding, "
            "or install the cli extra (charset-normalizer) to detect legacy code pages"
        ) from None
    best = from_bytes(data).best()
    if best is None:
        raise DecodeError(
            f"not UTF-8 ({first_error}), no byte-order mark, and no known encoding fits; name one with --encoding"
        )
    name = canonical_encoding(best.encoding)
    # The detector's own decoding may have replaced characters; decode again,
    # strictly, with the codec it named.
    return Decoded(_strict(memoryview(data), name), name, True)
