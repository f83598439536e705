"""A plain Python model of statement fingerprints, on the inventory model's
tokens, to cross-check the native ``inventory.fingerprint``."""

from __future__ import annotations

import ctypes
import ctypes.util
import re

from inventory_model import RESERVED, Tok, rules_of, tokenize

OPERATORS = set("<>=!|&^~+-*/%:")
JOINS = {"<>", "<<", "<-", ">>", "!<", "!>", "!~", "||", "|/", "&&", "::", "->", "=>", "**", "~*", "~~"} | {
    c + "=" for c in "<>=!|&^+-*/%:"
}
HEX = re.compile(r"[0-9a-fA-F]+")
GUID = re.compile(r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}(?![0-9A-Za-z])")
ALNUM = re.compile(r"[0-9A-Za-z]+")
DIGITS = re.compile(r"[0-9]+")


def fold(word: str) -> str:
    return "".join({"\u017f": "s", "\u212a": "k"}.get(c, c.lower() if c < "\x80" else c) for c in word)


def mask(name: str, temporary: bool) -> str:
    out, i = [], 0
    while i < len(name):
        if not ALNUM.match(name, i):
            out.append(name[i])
            i += 1
            continue
        g = GUID.match(name, i)
        if g:
            out.append("?")
            i = g.end()
            continue
        seg = ALNUM.match(name, i).group()
        if len(seg) >= 8 and HEX.fullmatch(seg) and any(c.isdigit() for c in seg):
            out.append("?")
        else:
            out.append(
                DIGITS.sub(
                    lambda m: "?" if len(m.group()) >= 8 or (temporary and len(m.group()) >= 3) else m.group(), seg
                )
            )
        i += len(seg)
    return "".join(out)


def fingerprint_template(sql: str, platform: str | None = None) -> tuple[str, bool]:
    k = tokenize(sql, rules_of(platform))
    while k and k[-1].type == "punct" and k[-1].ch == ";":
        k.pop()
    n = len(k)
    out: list[str] = []
    state = {"last": None, "ch": "", "end": -1, "unterminated": False}

    def punct(i: int, c: str) -> bool:
        return i < n and k[i].type == "punct" and k[i].ch == c

    def touches(i: int) -> bool:
        return i + 1 < n and k[i].end == k[i + 1].begin

    def word_is(i: int, w: str) -> bool:
        return k[i].type == "word" and fold(k[i].text) == w

    def literal_end(i: int) -> int:
        if i >= n:
            return i
        t = k[i]
        if t.type == "string":
            return i + 1
        if t.type == "number":
            j = i + 1
            if punct(j, ".") and touches(i) and j + 1 < n and k[j + 1].type == "number" and touches(j):
                j += 2
        elif punct(i, ".") and touches(i) and k[i + 1].type == "number":
            p = k[i - 1] if i > 0 else None
            if (
                p is not None
                and p.end == t.begin
                and (p.type in ("word", "quoted") or (p.type == "punct" and p.ch == ")"))
            ):
                return i
            j = i + 2
        else:
            return i
        last = k[j - 1].text
        if last[-1] in "eE" and not last[1:2] in ("x", "X") and (punct(j, "-") or punct(j, "+")) and touches(j - 1):
            if j + 1 < n and k[j + 1].type == "number" and touches(j):
                j += 2
        return j

    def item_end(i: int) -> int:
        if i >= n:
            return i
        sign = punct(i, "-") or punct(i, "+")
        f = i + 1 if sign else i
        e = literal_end(f)
        if e > f:
            return e
        if sign:
            return i
        t = k[i]
        if t.type == "word":
            return (
                i + 1 if (t.text.startswith("@") and len(t.text) > 1 and t.text[1] != "@") or word_is(i, "null") else i
            )
        if punct(i, "?"):
            return i + 1
        if punct(i, ":") and touches(i) and k[i + 1].type == "word":
            return i + 2
        if punct(i, "$") and touches(i) and k[i + 1].type == "number":
            return i + 2
        return i

    def list_at(i: int) -> tuple[int, int]:
        if not punct(i, "("):
            return 0, 0
        items, j = 0, i + 1
        while True:
            e = item_end(j)
            if e == j:
                return 0, 0
            items += 1
            if punct(e, ")"):
                return e + 1, items
            if not punct(e, ","):
                return 0, 0
            j = e + 1

    def space(what: str, c: str, begin: int) -> None:
        last = state["last"]
        if last is None or c in (",", ";", ")", ".") or last in ("open", "dot"):
            return
        if c == "(" and last == "name":
            return
        if what == "op" and last == "op" and state["end"] == begin and state["ch"] + c in JOINS:
            return
        out.append(" ")

    def put(text: str, what: str, c: str = "", t: Tok | None = None) -> None:
        space(what, c, t.begin if t else -1)
        out.append(text)
        state["last"] = what
        if t is not None and t.type == "punct":
            state["ch"], state["end"] = c, t.end

    def put_word(t: Tok) -> None:
        what = "keyword" if t.kw in RESERVED else "name"
        low = t.text.lower()
        put(mask(low, low.startswith("#")), what, t=t)

    def put_row(items: int, t: Tok) -> None:
        space("open", "(", t.begin)
        out.append("(" + ", ".join("?" * items) + ")")
        state["last"] = "other"

    i = 0
    while i < n:
        t = k[i]
        if t.type == "word":
            if word_is(i, "in"):
                e, _ = list_at(i + 1)
                if e:
                    put_word(t)
                    put_row(1, k[i + 1])
                    i = e
                    continue
            elif word_is(i, "values"):
                e, items = list_at(i + 1)
                if e:
                    put_word(t)
                    put_row(items, k[i + 1])
                    while punct(e, ","):
                        nxt, more = list_at(e + 1)
                        if not nxt or more != items:
                            break
                        e = nxt
                    i = e
                    continue
            put_word(t)
            i += 1
            continue
        if t.type == "quoted":
            put(mask(t.text, t.text[1:2] == "#"), "name", t=t)
            i += 1
            continue
        if t.type == "sep":
            if t.ch == "g":
                put("go", "keyword", t=t)
            elif t.ch == "/":
                put("/", "keyword", t=t)
            else:
                put("delimiter " + t.text.split()[1], "keyword", t=t)
            i += 1
            continue
        if t.type in ("dopen", "dclose"):
            put(t.text, "other", t=t)
            i += 1
            continue
        e = literal_end(i)
        if e > i:
            put("?", "other", t=t)
            i = e
            continue
        c = t.ch
        if c in "'\"`[" or (c == "/" and punct(i + 1, "*") and touches(i)):
            state["unterminated"] = True
        if c == "$" and touches(i) and k[i + 1].type == "number":
            put("$" + k[i + 1].text, "name", t=t)
            i += 2
            continue
        if (
            c == ":"
            and touches(i)
            and k[i + 1].type == "word"
            and not (i > 0 and k[i - 1].type == "punct" and k[i - 1].ch == ":")
        ):
            put(":", "other", t=t)
            state["last"] = "open"
            i += 1
            continue
        what = "open" if c == "(" else "dot" if c == "." else "op" if c in OPERATORS else "other"
        put(c, what, c, t)
        i += 1
    return "".join(out), bool(state["unterminated"])


# The hash from the system's shared xxHash library, independently of the
# copy the extension inlines.
_XXH = ctypes.CDLL(ctypes.util.find_library("xxhash") or "libxxhash.so.0")
_XXH.XXH3_64bits.restype = ctypes.c_uint64
_XXH.XXH3_64bits.argtypes = (ctypes.c_char_p, ctypes.c_size_t)


def xxh3_64(data: bytes) -> int:
    return int(_XXH.XXH3_64bits(data, len(data)))


def fingerprint(sql: str, platform: str | None = None) -> tuple[int, str, bool]:
    template, unterminated = fingerprint_template(sql, platform)
    return xxh3_64(template.encode("utf-8", "surrogatepass")), template, unterminated
