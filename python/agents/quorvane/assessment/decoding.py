"""Turning a file's bytes into text, and saying how.

The rule, in order:

1. A given encoding (``--encoding NAME``) is used as it is, strictly.
2. A byte-order mark decides: UTF-32 LE/BE, UTF-8, UTF-16 LE/BE (UTF-32 is
   tested first: its little-endian mark begins with UTF-16's).
3. Bytes of which a quarter or more are NUL are UTF-16 without a mark (LE
   when most NULs fall on odd offsets, else BE), if the text is plausible
   SQL (below), reported as guessed: SQL text in UTF-8 holds no NUL, UTF-16
   text of ASCII characters is half NULs.
4. Text that is valid UTF-8 is UTF-8.
5. Otherwise charset-normalizer (the ``cli`` extra) proposes legacy code
   pages.  One is accepted only when its text is plausible SQL
   (:func:`plausible_sql`); among the detector's equally good proposals
   cp1252 comes first, the most common code page of SQL sources, then the
   other Western ones (``WESTERN_CODE_PAGES``), then the detector's order.
   The choice is reported as guessed.  A file no code page makes plausible
   (random bytes, a binary file) is an error that asks for ``--encoding``.

Decoding is always strict: a file that cannot be decoded fails with a
message, it is never read with replacement characters.  A byte-order mark is
not part of the text.  UTF-16 with an odd number of bytes says so: such a
file was most likely converted as text (line ends rewritten) or cut short.
"""

from __future__ import annotations

import codecs
import re
from dataclasses import dataclass

# Longest first where one mark begins another.
_BOMS = (
    (codecs.BOM_UTF32_LE, "utf-32-le"),
    (codecs.BOM_UTF32_BE, "utf-32-be"),
    (codecs.BOM_UTF8, "utf-8"),
    (codecs.BOM_UTF16_LE, "utf-16-le"),
    (codecs.BOM_UTF16_BE, "utf-16-be"),
)


ASK_FOR_ENCODING = "name the encoding with --encoding"

# Preferred, in this order, among code pages the detector finds equally good.
WESTERN_CODE_PAGES = ("cp1252", "iso8859-15", "iso8859-1", "cp850", "cp437", "mac-roman")

# Plausible SQL: at least this share of the characters is ASCII, none is a
# control character other than tab, line feed, vertical tab, form feed and
# carriage return (C1 controls included: a single-byte code page maps random
# bytes to them), and at least one SQL keyword occurs as a word.  The share
# is far below a Western script's (over 95%) because a script whose comments
# and names are Cyrillic, Japanese or Chinese is SQL too (half its letters
# may be); random bytes fail on control characters long before the share
# matters (one byte in nine is one).
MIN_ASCII_SHARE = 0.3
_CONTROL = re.compile(r"[\x00-\x08\x0e-\x1f\x7f-\x9f]")
_SQL_KEYWORD = re.compile(
    r"\b(?:select|insert|update|delete|merge|create|alter|drop|truncate|from|where|exec|execute|declare|"
    r"begin|set|with|grant|revoke|use|call|procedure|function|table|view|commit|return|values)\b",
    re.IGNORECASE | re.ASCII,
)
# Detector scores closer than this are equally good.
_SCORE_TOLERANCE = 0.01
_UTF16_NUL_SHARE = 0.25


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


def plausible_sql(text: str) -> bool:
    """Whether ``text`` reads as SQL (see ``MIN_ASCII_SHARE``)."""
    if not text or _CONTROL.search(text):
        return False
    ascii_chars = len(text.encode("ascii", "ignore"))
    return ascii_chars >= MIN_ASCII_SHARE * len(text) and _SQL_KEYWORD.search(text) is not None


def _strict(data: bytes | memoryview, encoding: str, skip: int = 0) -> str:
    try:
        return str(data[skip:] if skip else data, encoding)
    except UnicodeDecodeError as exc:
        position = exc.start + skip
        message = f"not valid {encoding}: byte 0x{data[position]:02x} at offset {position} ({exc.reason})"
        if encoding.startswith("utf-16") and len(data) % 2:
            message += (
                f"; an odd number of bytes ({len(data)}) is no UTF-16 text: the file was probably "
                "converted as text (line ends rewritten) or cut short"
            )
        raise DecodeError(message) from None


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
    nuls = data.count(0)
    if len(data) >= 2 and nuls >= _UTF16_NUL_SHARE * len(data):
        name = "utf-16-le" if data[1::2].count(0) * 2 >= nuls else "utf-16-be"
        text = _strict(view, name)
        if not plausible_sql(text):
            raise DecodeError(f"{nuls} of {len(data)} bytes are NUL, as in UTF-16, but {name} gives no SQL text")
        return Decoded(text, name, True)
    try:
        return Decoded(str(data, "utf-8"), "utf-8", False)
    except UnicodeDecodeError as exc:
        first_error = f"byte 0x{data[exc.start]:02x} at offset {exc.start}"
    return _detect(data, first_error)


def _preference(name: str) -> int:
    return WESTERN_CODE_PAGES.index(name) if name in WESTERN_CODE_PAGES else len(WESTERN_CODE_PAGES)


def _detect(data: bytes, first_error: str) -> Decoded:
    try:
        from charset_normalizer import from_bytes
    except ImportError:
        raise DecodeError(
            f"not UTF-8 ({first_error}) and no byte-order mark; {ASK_FOR_ENCODING}, "
            "or install the cli extra (charset-normalizer) to detect legacy code pages"
        ) from None
    # Proposals best first; each decoded again, strictly, with the codec it
    # names (the detector's own decoding may have replaced characters), and
    # kept only when the text is plausible SQL.  The detector leaves cp1252
    # out of short texts that several Latin code pages read alike; it is
    # then scored on its own, so that it is compared on equal terms.
    proposals = list(from_bytes(data))
    if all(canonical_encoding(m.encoding) != "cp1252" for m in proposals):
        proposals.extend(from_bytes(data, cp_isolation=["cp1252"]))
    plausible: list[tuple[int, float, float, str, str]] = []
    for rank, match in enumerate(proposals):
        name = canonical_encoding(match.encoding)
        try:
            text = str(data, name)
        except UnicodeDecodeError:
            continue
        if plausible_sql(text):
            plausible.append((rank, match.chaos, match.coherence, name, text))
    if not plausible:
        raise DecodeError(f"not UTF-8 ({first_error}), no byte-order mark, and no code page gives SQL text")
    _, chaos, coherence, _, _ = plausible[0]
    equal = [
        p for p in plausible if abs(p[1] - chaos) <= _SCORE_TOLERANCE and abs(p[2] - coherence) <= _SCORE_TOLERANCE
    ]
    _, _, _, name, text = min(equal, key=lambda p: (_preference(p[3]), p[0]))
    return Decoded(text, name, True)
