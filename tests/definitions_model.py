"""A plain Python model of what objects define (columns, parameters, return
types, temporary tables and table variables), over the inventory model's
tokens, to cross-check the native module."""

from __future__ import annotations

import bisect

from agents.quorvane._inventory_records import AddedColumns, Column, LocalTable, Parameter

COLUMN_TYPE_ENDS = set(
    """after as auto_increment autoincrement casespecific character charset check collate column_format comment compress
    compression constraint default disable distkey enable encode encrypted filestream first foreign format generated
    hidden identity index inline_length invisible key masked not null on options persisted primary references
    rowguidcol sortkey sparse storage tag title unique uppercase visible with""".split()
)
PARAMETER_TYPE_ENDS = set("as comment default not null out output readonly".split())
RETURN_TYPE_ENDS = set(
    """aggregate as authid begin called charset collate comment contains cost deterministic execute external
    immutable is language leakproof modifies no not null options parallel parallel_enable pipelined reads
    result_cache return returns rows security set sql stable strict support transform volatile window
    with""".split()
)
RETURN_CLAUSE_ENDS = set("aggregate as authid deterministic is parallel_enable pipelined result_cache".split())
ELEMENT_STARTS = set("check constraint exclude foreign fulltext index key like period primary spatial unique".split())
NO_COLUMN_LIST = set(
    "as clone like location of options partition partitioned row select stored tblproperties using with".split()
)
MAYBE_COLUMN = {"fulltext", "index", "key", "spatial"}
INDEX_OPTIONS = {"clustered", "columnstore", "hash", "nonclustered", "unique", "using"}
STATEMENT_KWS = {
    "alter",
    "create",
    "drop",
    "insert",
    "update",
    "delete",
    "merge",
    "select",
    "exec",
    "execute",
    "truncate",
    "if",
    "while",
    "begin",
    "end",
}
STATEMENT_WORDS = {"declare", "go", "grant", "print", "return", "use"}
TEMPORARY = {"temp", "temporary", "volatile"}
TABLE_OPTION_TOKENS = 64
MODES = {"in": "in", "out": "out", "inout": "inout", "variadic": "in"}


class Reader:
    def __init__(self, k, first: int, last: int) -> None:
        self.k = k
        self.added: list[tuple[str, list[Column], int]] = []
        self.match: dict[int, int] = {}
        open_: list[int] = []
        for j in range(first, last):
            if self.punct(j, "("):
                open_.append(j)
            elif self.punct(j, ")") and open_:
                self.match[open_.pop()] = j

    def word(self, i: int) -> str:
        t = self.k[i]
        if t.type != "word" or len(t.text) > 24:
            return ""
        out = []
        for c in t.text:
            if c < "\x80":
                out.append(c.lower())
            elif c == "\u017f":
                out.append("s")
            elif c == "\u212a":
                out.append("k")
            else:
                return ""
        return "".join(out)

    def punct(self, i: int, c: str) -> bool:
        return self.k[i].type == "punct" and self.k[i].ch == c

    def inner_end(self, i: int, end: int) -> int:
        m = self.match.get(i, end)
        return m if m < end else end

    def group_end(self, i: int, end: int) -> int:
        c = self.inner_end(i, end)
        return c + 1 if c < end else end

    def opens_angle(self, j: int) -> bool:
        k = self.k
        return self.punct(j, "<") and j > 0 and k[j - 1].type == "word" and k[j - 1].end == k[j].begin

    def elements(self, b: int, e: int) -> list[tuple[int, int]]:
        out = []
        angle, start, j = 0, b, b
        while j < e:
            if self.punct(j, "("):
                j = self.group_end(j, e)
                continue
            if self.opens_angle(j):
                angle += 1
            elif angle and self.punct(j, ">"):
                angle -= 1
            elif not angle and self.punct(j, ","):
                if j > start:
                    out.append((start, j))
                start = j + 1
            j += 1
        if e > start:
            out.append((start, e))
        return out

    def type_end(self, b: int, e: int, ends: set[str]) -> int:
        angle, j = 0, b
        while j < e:
            t = self.k[j]
            if self.punct(j, "("):
                j = self.group_end(j, e)
                continue
            if self.opens_angle(j):
                angle += 1
            elif angle:
                if self.punct(j, ">"):
                    angle -= 1
            elif t.type == "word":
                w = self.word(j)
                if j > b and w in ends:
                    nxt = self.word(j + 1) if j + 1 < e else ""
                    if not ((w == "with" and nxt in ("time", "local")) or (w == "character" and nxt != "set")):
                        return j
            elif (
                t.type in ("string", "dopen", "dclose", "sep")
                or self.punct(j, "=")
                or self.punct(j, ";")
                or (self.punct(j, ":") and j + 1 < e and self.punct(j + 1, "="))
            ):
                return j
            j += 1
        return e

    def collapsed(self, b: int, e: int) -> str:
        out = []
        for j in range(b, e):
            t = self.k[j]
            if j > b and t.begin > self.k[j - 1].end:
                out.append(" ")
            if t.type == "quoted" and not (t.ch == "[" and all("0" <= c <= "9" for c in t.text[1:-1])):
                out.append(self.name(j))
            else:
                out.append(t.text)
        return "".join(out)

    def name(self, i: int) -> str:
        t = self.k[i]
        if t.type != "quoted":
            return t.text
        close = "]" if t.ch == "[" else t.ch
        return t.text[1:-1].replace(close * 2, close)

    def name_end(self, i: int, end: int) -> int:
        j = i + 1
        while j < end and self.punct(j, "."):
            p = j + 1
            while p < end and self.punct(p, "."):
                p += 1
            if p < end and self.k[p].type in ("word", "quoted"):
                j = p + 1
            else:
                break
        return j

    def qualified(self, b: int, e: int) -> str:
        return "".join("." if self.k[j].type == "punct" else self.name(j) for j in range(b, e))

    def is_name_part(self, i: int) -> bool:
        return self.k[i].type in ("word", "quoted")

    # --- column lists ---

    def columns(self, b: int, e: int) -> list[Column]:
        out = []
        for eb, ee in self.elements(b, e):
            if not self.is_name_part(eb):
                continue
            w = self.word(eb)
            if w in ELEMENT_STARTS and not (w in MAYBE_COLUMN and not self.is_index(eb + 1, ee)):
                continue
            type_ = ""
            if eb + 1 < ee and self.word(eb + 1) != "as":
                type_ = self.collapsed(eb + 1, self.type_end(eb + 1, ee, COLUMN_TYPE_ENDS))
            out.append(Column(self.name(eb), type_))
        return out

    def is_index(self, j: int, e: int) -> bool:
        if j >= e:
            return False
        if self.punct(j, "(") or self.word(j) in ("index", "key"):
            return True
        if self.is_sized_type(j, e):
            return False
        return j + 1 < e and (self.punct(j + 1, "(") or self.word(j + 1) in INDEX_OPTIONS)

    def is_sized_type(self, j: int, e: int) -> bool:
        return j + 2 < e and self.k[j].type == "word" and self.punct(j + 1, "(") and self.k[j + 2].type == "number"

    def names_only(self, b: int, e: int) -> list[Column]:
        return [Column(self.name(eb), "") for eb, _ in self.elements(b, e) if self.is_name_part(eb)]

    def table_columns(self, start: int, e: int) -> list[Column]:
        for j in range(start, min(e, start + TABLE_OPTION_TOKENS)):
            if self.punct(j, "("):
                return self.columns(j + 1, self.inner_end(j, e))
            if self.punct(j, ";") or self.k[j].type == "sep" or self.word(j) in NO_COLUMN_LIST:
                break
        return []

    # --- routines ---

    def parameter(self, b: int, e: int) -> Parameter:
        name, type_, default, mode = "", "", None, "in"
        j = b
        lead = self.word(j)
        if j + 1 < e and lead in MODES:
            mode = MODES[lead]
            j += 1
        if j >= e:
            return Parameter(name, type_, default, mode)
        k = self.k
        named = self.is_name_part(j) and (
            k[j].type == "word"
            and k[j].text.startswith("@")
            or (
                j + 1 < e
                and not self.punct(j + 1, "(")
                and not self.punct(j + 1, ".")
                and not (k[j + 1].type == "quoted" and k[j + 1].ch == "[")
            )
        )
        if named:
            name = self.name(j)
            j += 1
            if j < e and self.word(j) == "as":
                j += 1
            m = self.word(j) if j + 1 < e else ""
            if m in ("in", "out", "inout"):
                j += 1
                mode = m
                if m == "in" and j + 1 < e and self.word(j) == "out":
                    mode = "inout"
                    j += 1
                if j + 1 < e and self.word(j) == "nocopy":
                    j += 1
        te = self.type_end(j, e, PARAMETER_TYPE_ENDS)
        type_ = self.collapsed(j, te)
        j = te
        if j < e and (
            self.punct(j, "=")
            or self.word(j) == "default"
            or (self.punct(j, ":") and j + 1 < e and self.punct(j + 1, "="))
        ):
            j += 2 if self.punct(j, ":") else 1
            d = j
            while d < e:
                if self.punct(d, "("):
                    d = self.group_end(d, e)
                    continue
                if self.word(d) in ("output", "out", "readonly", "comment"):
                    break
                d += 1
            default = self.collapsed(j, d)
            j = d
        for p in range(j, e):
            w = self.word(p)
            if w in ("output", "out"):
                mode = "out"
            if w == "readonly":
                mode = "readonly"
        return Parameter(name, type_, default, mode)

    def routine(self, kind: str, start: int, e: int) -> tuple[list, list, str | None]:
        k = self.k
        params: list[Parameter] = []
        columns: list[Column] = []
        j = start
        if j < e and self.punct(j, "("):
            params = [self.parameter(eb, ee) for eb, ee in self.elements(j + 1, self.inner_end(j, e))]
            j = self.group_end(j, e)
        elif kind == "procedure" and j < e and k[j].type == "word" and k[j].text.startswith("@"):
            p = j
            while p < e and not self.punct(p, ";") and k[p].type != "sep":
                if self.punct(p, "("):
                    p = self.group_end(p, e)
                    continue
                w = self.word(p)
                typed_as = w == "as" and k[p - 1].type == "word" and k[p - 1].text.startswith("@")
                if (w == "as" and not typed_as) or w in ("with", "for", "begin", "is"):
                    break
                p += 1
            params = [self.parameter(eb, ee) for eb, ee in self.elements(j, p)]
            j = p
        if kind != "function" or j >= e:
            return params, columns, None
        w = self.word(j)
        if w not in ("returns", "return"):
            return params, columns, None
        te = self.type_end(j + 1, e, RETURN_TYPE_ENDS)
        if (
            te == j + 1
            or self.word(j + 1) == "select"
            or (w == "return" and (te >= e or self.word(te) not in RETURN_CLAUSE_ENDS))
        ):
            return params, columns, None
        for p in range(j + 1, te - 1):
            if self.word(p) == "table" and self.punct(p + 1, "("):
                columns = self.columns(p + 2, self.inner_end(p + 1, te))
                break
        return params, columns, self.collapsed(j + 1, te)

    # --- temporary tables and table variables ---

    def output_names(self, b: int, e: int) -> list[Column]:
        while b < e:
            w = self.word(b)
            if w in ("distinct", "all"):
                b += 1
            elif w == "top" and b + 1 < e:
                b = self.group_end(b + 1, e) if self.punct(b + 1, "(") else b + 2
                if b < e and self.word(b) == "percent":
                    b += 1
                if b + 1 < e and self.word(b) == "with" and self.word(b + 1) == "ties":
                    b += 2
            else:
                break
        out = []
        k = self.k
        for ib, ie in self.elements(b, e):
            last = k[ie - 1]
            if ie - ib >= 3 and self.is_name_part(ib) and self.punct(ib + 1, "="):
                out.append(Column(self.name(ib), ""))
            elif self.punct(ie - 1, "*"):
                out.append(Column(self.collapsed(ib, ie), ""))
            elif self.is_name_part(ie - 1) and not last.reserved:
                if ie - ib == 1 or self.punct(ie - 2, ".") or self.word(ie - 2) == "as" or self.alias_follows(ie - 2):
                    out.append(Column(self.name(ie - 1), ""))
        return out

    def alias_follows(self, j: int) -> bool:
        return self.k[j].type in ("word", "quoted", "number", "string") or self.punct(j, ")")

    def into_target(self, j: int, e: int) -> tuple[int, int] | None:
        k = self.k
        if j < e and k[j].type == "word" and k[j].text.startswith("#"):
            return j, self.name_end(j, e)
        if j < e and self.word(j) in TEMPORARY:
            j += 1
            if j < e and self.word(j) == "table":
                j += 1
            if j < e and self.is_name_part(j):
                return j, self.name_end(j, e)
        return None

    def local_tables(self, kind: str, first: int, e: int, parse_head) -> list[tuple[str, list[Column], int]]:
        k = self.k
        out = []
        select_at: dict[int, int | None] = {0: None}
        depth = 0
        for j in range(first, e):
            t = k[j]
            if t.type == "punct":
                if t.ch == "(":
                    depth += 1
                    select_at[depth] = None
                elif t.ch == ")":
                    depth = max(0, depth - 1)
                elif t.ch == ";":
                    select_at[depth] = None
                continue
            if t.type == "sep":
                select_at = {d: None for d in select_at}
                depth = 0
                continue
            if t.type != "word":
                continue
            if t.kw == "select":
                select_at[depth] = j
                continue
            if t.kw in ("from", "insert", "update", "delete", "merge", "exec", "execute"):
                select_at[depth] = None
                continue
            if t.kw == "into":
                s = select_at.get(depth)
                if s is not None:
                    target = self.into_target(j + 1, e)
                    if target:
                        out.append((self.qualified(*target), self.output_names(s + 1, j), target[0]))
                    select_at[depth] = None
                continue
            if t.kw == "create":
                if not (j == first and kind == "table"):
                    self.create_local(out, j, e, parse_head)
                continue
            if t.kw == "alter":
                self.alter_add(j, e)
                continue
            if t.text.startswith("@") and j > first and (self.punct(j - 1, ",") or self.word(j - 1) == "declare"):
                p = j + 1
                if p < e and self.word(p) == "as":
                    p += 1
                if p + 1 < e and self.word(p) == "table" and self.punct(p + 1, "("):
                    out.append((self.name(j), self.columns(p + 2, self.inner_end(p + 1, e)), j))
        return out

    def starts_statement(self, j: int) -> bool:
        return self.k[j].kw in STATEMENT_KWS or self.word(j) in STATEMENT_WORDS

    def alter_add(self, j: int, e: int) -> None:
        k = self.k
        p = j + 1
        if not (p < e and self.word(p) == "table"):
            return
        p += 1
        if p < e and self.word(p) == "only":
            p += 1
        if p + 1 < e and self.word(p) == "if" and self.word(p + 1) == "exists":
            p += 2
        if not (p < e and self.is_name_part(p)):
            return
        name_begin, name_stop = p, self.name_end(p, e)
        if not (name_stop < e and self.word(name_stop) == "add"):
            return
        stop = name_stop + 1
        while (
            stop < e
            and not self.punct(stop, ";")
            and k[stop].type != "sep"
            and not (
                self.starts_statement(stop)
                and not (stop + 1 < e and self.word(stop) == "if" and self.word(stop + 1) == "not")
            )
        ):
            stop = self.group_end(stop, e) if self.punct(stop, "(") else stop + 1
        added: list[Column] = []
        for pb, pe in self.elements(name_stop, stop):
            if pb < pe and self.word(pb) == "add":
                pb += 1
            if pb < pe and self.word(pb) == "column":
                pb += 1
            if pb + 2 < pe and self.word(pb) == "if" and self.word(pb + 1) == "not" and self.word(pb + 2) == "exists":
                pb += 3
            if pb >= pe or k[pb].reserved:
                continue
            added += self.columns(pb + 1, self.inner_end(pb, pe)) if self.punct(pb, "(") else self.columns(pb, pe)
        if added:
            self.added.append((self.qualified(name_begin, name_stop), added, name_begin))

    def create_local(self, out, j: int, e: int, parse_head) -> None:
        head = parse_head(self.k, j, e)
        if head is None or head.kind != "table" or head.name_end == head.name_begin:
            return
        last = self.k[head.name_end - 1]
        temporary = last.type == "word" and last.text.startswith("#")
        temporary = temporary or any(self.word(p) in TEMPORARY for p in range(j + 1, head.name_begin))
        if temporary:
            out.append(
                (self.qualified(head.name_begin, head.name_end), self.table_columns(head.name_end, e), head.name_begin)
            )


def definitions(k, starts: list[int], kind: str, name_end: int, first: int, last: int, parse_head):
    """(columns, parameters, returns, local_tables, added_columns) of the unit k[first:last]."""
    r = Reader(k, first, last)
    columns: list[Column] = []
    params: list[Parameter] = []
    returns = None
    if kind == "table" and name_end > first:
        columns = r.table_columns(name_end, last)
    elif kind == "view" and first < name_end < last and r.punct(name_end, "("):
        columns = r.names_only(name_end + 1, r.inner_end(name_end, last))
    elif kind == "type" and name_end > first and name_end + 1 < last and r.word(name_end) == "as":
        open_ = name_end + 2 if r.word(name_end + 1) == "table" else name_end + 1
        if open_ < last and r.punct(open_, "("):
            columns = r.columns(open_ + 1, r.inner_end(open_, last))
    elif kind in ("procedure", "function") and name_end > first:
        params, columns, returns = r.routine(kind, name_end, last)
    local = tuple(
        LocalTable(name, tuple(cols), bisect.bisect_right(starts, k[at].begin))
        for name, cols, at in r.local_tables(kind, first, last, parse_head)
    )
    added = tuple(
        AddedColumns(name, tuple(cols), bisect.bisect_right(starts, k[at].begin)) for name, cols, at in r.added
    )
    return tuple(columns), tuple(params), returns, local, added
