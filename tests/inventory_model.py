"""A plain Python model of the inventory: the same tokenizer, splitting and
reference rules as the native module, written for clarity, to cross-check
it on generated texts and the corpus."""

from __future__ import annotations

from dataclasses import dataclass, field

import definitions_model
from agents.quorvane._inventory_records import References, SqlObject

# --- words -------------------------------------------------------------------

RESERVED = set(
    """select from join apply using into insert update delete merge truncate table bulk create alter drop exec
    execute call with as on set then fetch references for if not exists top overwrite lateral returning outfile
    dumpfile begin end case while procedure function trigger index or where group order having union except
    intersect minus inner left right full cross outer natural straight_join pivot unpivot tablesample when else
    output option values default declare return print raiserror throw commit rollback save waitfor open close
    deallocate grant deny revoke use go limit offset qualify window connect start by and in is like between any
    all some over break continue goto null distinct elsif elseif perform raise matched collate""".split()
)
KEYWORDS = RESERVED | set(
    """only immediate collect statistics tran transaction distributed dialog conversation work loop repeat proc
    view type sequence synonym schema package body replace macro""".split()
)
MODIFIERS = set(
    """temp temporary global local unique clustered nonclustered columnstore materialized secure recursive
    external transient volatile multiset force no noforce editionable noneditionable unlogged definer sql
    security invoker algorithm undefined temptable xml spatial fulltext bitmap hybrid dynamic iceberg constraint
    aggregate current_user primary memory_optimized refresh streaming live private""".split()
)
KINDS = {
    "procedure": "procedure",
    "proc": "procedure",
    "function": "function",
    "view": "view",
    "trigger": "trigger",
    "table": "table",
    "type": "type",
    "sequence": "sequence",
    "synonym": "synonym",
    "schema": "schema",
    "index": "index",
    "package": "package",
    "macro": "macro",
}
ROUTINES = {"procedure", "function", "view", "trigger", "package", "package_body", "type_body", "macro"}
BODIES = {"package", "package_body", "type_body"}
BUILTIN_TABLE_FUNCTIONS = set(
    """openrowset openquery openjson openxml opendatasource string_split unnest generate_series containstable
    freetexttable json_table flatten generator values table lateral changetable predict json_each jsonb_each
    json_array_elements jsonb_array_elements regexp_split_to_table explode posexplode range""".split()
)
TABLE_HINTS = set(
    """nolock holdlock updlock rowlock tablock tablockx paglock readpast readcommitted readuncommitted
    repeatableread serializable xlock nowait index forceseek""".split()
)
METHODS = set(
    """value query nodes exist modify tostring stastext stdistance stintersects stbuffer stcontains stwithin
    getancestor getdescendant getlevel isdescendantof getreparentedvalue write nextval currval""".split()
)

# Per platform: nested block comments, "#" line comments, "..." strings,
# backslash escapes, BigQuery's triple-quoted and prefixed strings, [...]
# names, routines running to the end of their batch, REPLACE standing for
# CREATE OR REPLACE.
DIALECTS = {
    None: (False, False, False, False, False, True, True, False),
    "sqlserver": (True, False, False, False, False, True, True, False),
    "postgresql": (True, False, False, False, False, False, False, False),
    "mysql": (False, True, True, True, False, False, False, False),
    "oracle": (False, False, False, False, False, False, False, False),
    "snowflake": (False, False, False, True, False, False, False, False),
    "bigquery": (False, True, True, True, True, False, False, False),
    "databricks": (True, False, True, True, False, False, False, False),
    "hive": (False, True, True, True, False, False, False, False),
    "redshift": (False, False, False, False, False, False, False, False),
    "teradata": (True, False, False, False, False, False, False, True),
}


@dataclass(frozen=True)
class Rules:
    nested: bool
    hash_comments: bool
    dq_strings: bool
    escapes: bool
    triple: bool
    brackets: bool
    to_batch_end: bool
    replace_creates: bool


def rules_of(platform: str | None) -> Rules:
    if platform is not None and type(platform) is not str:
        raise TypeError("platform must be a str or None")
    if platform not in DIALECTS:
        raise ValueError(f"unknown platform {platform!r}")
    return Rules(*DIALECTS[platform])


SPACE = {c for c in range(0x3001) if chr(c).isspace() or c in (0x1C, 0x1D, 0x1E, 0x1F)} - {0x200B}
BREAKS = {0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0x85, 0x2028, 0x2029}


def is_space(ch: str) -> bool:
    return ord(ch) in SPACE


def ascii_lower(s: str) -> str:
    return "".join(c.lower() if c < "\x80" else c for c in s)


def keyword_of(word: str) -> str | None:
    """The keyword a word spells (simple case folding onto ASCII), or None."""
    if len(word) > 16:
        return None
    out = []
    for c in word:
        if c < "\x80":
            out.append(c.lower())
        elif c == "\u017f":
            out.append("s")
        elif c == "\u212a":
            out.append("k")
        else:
            return None
    w = "".join(out)
    if w in KEYWORDS or w in MODIFIERS:
        return w
    return None


def starts_word(c: str) -> bool:
    return (c >= "\x80" and not is_space(c)) or c.isascii() and (c.isalpha() or c in "_@#")


def in_word(c: str) -> bool:
    return (c >= "\x80" and not is_space(c)) or c.isascii() and (c.isalnum() or c in "_@#$")


# --- tokens ------------------------------------------------------------------


@dataclass
class Tok:
    type: str  # word quoted string number punct sep dopen dclose
    begin: int
    end: int
    text: str
    kw: str | None = None
    ch: str = ""

    @property
    def reserved(self) -> bool:
        return self.type == "word" and self.kw in RESERVED


def lines_of(text: str) -> list[tuple[int, int]]:
    """(begin, end) of each line, break excluded, as str.splitlines() cuts."""
    out = []
    pos = 0
    for line in text.splitlines(keepends=True):
        if line.endswith("\r\n"):
            body = line[:-2]
        elif line and ord(line[-1]) in BREAKS:
            body = line[:-1]
        else:
            body = line
        out.append((pos, pos + len(body)))
        pos += len(line)
    return out


def trim(text: str, b: int, e: int) -> tuple[int, int]:
    while b < e and is_space(text[b]):
        b += 1
    while e > b and is_space(text[e - 1]):
        e -= 1
    return b, e


def separator_lines(text: str) -> list[tuple[int, int, str, str]]:
    out = []
    for number, (b, e) in enumerate(lines_of(text), 1):
        if number == 1 and b < e and text[b] == "\ufeff":
            b += 1
        tb, te = trim(text, b, e)
        if tb == te:
            continue
        line = text[tb:te]
        if line == "/":
            out.append((tb, e, "/", ""))
        elif len(line) >= 2 and ascii_fold(line[:2]) == "go" and is_go_rest(line[2:]):
            out.append((tb, e, "g", ""))
        elif len(line) > 10 and ascii_fold(line[:9]) == "delimiter" and is_space(line[9]):
            rest = line[9:]
            k = 0
            while k < len(rest) and is_space(rest[k]):
                k += 1
            z = k
            while z < len(rest) and not is_space(rest[z]):
                z += 1
            out.append((tb, e, "d", rest[k:z]))
    return out


def ascii_fold(s: str) -> str:
    return "".join("s" if c == "\u017f" else "k" if c == "\u212a" else c.lower() if c.isascii() else c for c in s)


def is_go_rest(rest: str) -> bool:
    if not rest:
        return True
    if not is_space(rest[0]):
        return False
    k = 0
    while k < len(rest) and is_space(rest[k]):
        k += 1
    while k < len(rest) and "0" <= rest[k] <= "9":
        k += 1
    while k < len(rest) and is_space(rest[k]):
        k += 1
    return k == len(rest) or rest.startswith("--", k)


def block_comment_end(text: str, i: int) -> int:
    """The shared comment rule: the first "*/" outside a line comment."""
    j = i + 2
    n = len(text)
    while True:
        while j < n and text[j] not in "*-":
            j += 1
        if j + 1 >= n:
            return 0
        if text[j] == "*":
            if text[j + 1] == "/":
                return j + 2
        elif text[j + 1] == "-":
            k = text.find("\n", j + 2)
            j = n if k < 0 else k
            continue
        j += 1


def nested_comment_end(text: str, i: int) -> int:
    """The end of a nested block comment opening at i, or 0 when its depth
    never returns to zero."""
    depth = 0
    j = i
    while j + 1 < len(text):
        pair = text[j : j + 2]
        if pair == "/*":
            depth += 1
            j += 2
        elif pair == "*/":
            depth -= 1
            j += 2
            if depth == 0:
                return j
        else:
            j += 1
    return 0


def tokenize(text: str, rules: Rules | None = None) -> list[Tok]:
    rules = rules or rules_of(None)
    seps = separator_lines(text)
    toks: list[Tok] = []
    n = len(text)
    i = 1 if text.startswith("\ufeff") else 0
    si = 0
    blocks_dead = dollars_dead = nesting_dead = False
    placeholders_dead = [False, False]
    dead = {"'": False, "[": False, '"': False, "`": False, "'''": False, '"""': False}
    delim = ""
    tag = ""

    def quoted(open_at: int, q: str, close: str, typ: str, token_begin: int, raw: bool = False) -> bool:
        if dead[q]:
            return False
        escapes = typ == "string" and rules.escapes and not raw
        j = open_at + 1
        while True:
            while j < n and text[j] != close and not (escapes and text[j] == "\\"):
                j += 1
            if j < n and text[j] == "\\":
                j += 2
                continue
            if j >= n:
                dead[q] = True
                return False
            if j + 1 < n and text[j + 1] == close:
                j += 2
                continue
            break
        toks.append(Tok(typ, token_begin, j + 1, text[token_begin : j + 1], ch=q))
        return True

    def triple(open_at: int, token_begin: int, raw: bool) -> bool:
        q3 = text[open_at : open_at + 3]
        if q3 not in ("'''", '"""') or n - open_at < 6 or dead[q3]:
            return False
        j = open_at + 3
        while j < n:
            if text[j] == "\\" and not raw:
                j += 2
            elif text.startswith(q3, j):
                toks.append(Tok("string", token_begin, j + 3, text[token_begin : j + 3], ch=q3[0]))
                return True
            else:
                j += 1
        dead[q3] = True
        return False

    def prefixed(i: int) -> bool:
        j = i
        seen = ""
        while (
            j < n and j < i + 2 and text[j].isascii() and text[j].lower() in ("r", "b") and text[j].lower() not in seen
        ):
            seen += text[j].lower()
            j += 1
        if j == i or j >= n or text[j] not in "'\"":
            return False
        raw = "r" in seen
        return triple(j, i, raw) or quoted(j, text[j], text[j], "string", i, raw)

    while i < n:
        c = text[i]
        if is_space(c):
            i += 1
            continue
        while si < len(seps) and seps[si][0] < i:
            si += 1
        if si < len(seps) and seps[si][0] == i:
            b, e, kind, arg = seps[si]
            si += 1
            toks.append(Tok("sep", b, e, text[b:e], ch=kind))
            if kind == "d":
                delim = "" if arg == ";" else arg
            i = e
            continue
        if delim and text.startswith(delim, i):
            toks.append(Tok("punct", i, i + len(delim), delim, ch=";"))
            i += len(delim)
            continue
        if text.startswith("--", i):
            k = text.find("\n", i + 2)
            i = n if k < 0 else k
            continue
        if c == "#" and rules.hash_comments:
            k = text.find("\n", i + 1)
            i = n if k < 0 else k
            continue
        if text.startswith("/*", i) and not blocks_dead:
            end = 0
            if rules.nested and not nesting_dead:
                end = nested_comment_end(text, i)
                nesting_dead = end == 0
            if not end:
                end = block_comment_end(text, i)
            if end:
                i = end
                continue
            blocks_dead = True
        if starts_word(c):
            if rules.triple and prefixed(i):
                i = toks[-1].end
                continue
            if i + 1 < n and text[i + 1] == "'" and c in "NnEeXxBb" and quoted(i + 1, "'", "'", "string", i):
                i = toks[-1].end
                continue
            j = i + 1
            while j < n and in_word(text[j]) and not (text[j] == "$" and tag and text.startswith(tag, j)):
                j += 1
            word = text[i:j]
            kw = keyword_of(word)
            if (
                kw == "replace"
                and rules.replace_creates
                and not (toks and toks[-1].type == "word" and toks[-1].kw == "or")
            ):
                kw = "create"
            toks.append(Tok("word", i, j, word, kw=kw, ch=c))
            i = j
            continue
        if "0" <= c <= "9":
            j = i + 1
            while j < n and in_word(text[j]) and text[j] not in "@#":
                j += 1
            toks.append(Tok("number", i, j, text[i:j]))
            i = j
            continue
        done = False
        if c == "'":
            done = (rules.triple and triple(i, i, False)) or quoted(i, "'", "'", "string", i)
        elif c == "[" and rules.brackets:
            done = quoted(i, "[", "]", "quoted", i)
        elif c == '"':
            typ = "string" if rules.dq_strings else "quoted"
            done = (rules.triple and triple(i, i, False)) or quoted(i, '"', '"', typ, i)
        elif c == "`":
            done = quoted(i, "`", "`", "quoted", i)
        elif c == "$" and text.startswith("${", i) and not placeholders_dead[0]:
            k = text.find("}", i + 2)
            if k < 0:
                placeholders_dead[0] = True
            else:
                toks.append(Tok("word", i, k + 1, text[i : k + 1], ch="$"))
                done = True
        elif c == "{" and text.startswith("{{", i) and not placeholders_dead[1]:
            k = text.find("}}", i + 2)
            if k < 0:
                placeholders_dead[1] = True
            else:
                toks.append(Tok("word", i, k + 2, text[i : k + 2], ch="{"))
                done = True
        if done:
            pass
        elif c == "$" and not delim:
            j = i + 1
            if not (j < n and "0" <= text[j] <= "9"):
                while j < n and text[j] != "$" and text[j].isascii() and in_word(text[j]) and text[j] not in "@#":
                    j += 1
                if j < n and text[j] == "$":
                    this = text[i : j + 1]
                    if tag:
                        if this == tag:
                            toks.append(Tok("dclose", i, j + 1, this))
                            tag = ""
                            done = True
                    elif not dollars_dead:
                        if text.find(this, j + 1) >= 0:
                            toks.append(Tok("dopen", i, j + 1, this))
                            tag = this
                            done = True
                        else:
                            dollars_dead = True
        if done:
            i = toks[-1].end
            continue
        toks.append(Tok("punct", i, i + 1, c, ch=c))
        i += 1
    return toks


# --- names -------------------------------------------------------------------


def is_punct(t: Tok, c: str) -> bool:
    return t.type == "punct" and t.ch == c


def is_name_part(t: Tok) -> bool:
    return t.type in ("word", "quoted")


def name_end(k: list[Tok], i: int, end: int) -> int:
    j = i + 1
    while j < end and is_punct(k[j], "."):
        p = j + 1
        while p < end and is_punct(k[p], "."):
            p += 1
        if p < end and is_name_part(k[p]):
            j = p + 1
        else:
            break
    return j


def name_text(k: list[Tok], i: int, e: int) -> str:
    out = []
    for t in k[i:e]:
        if t.type == "punct":
            out.append(".")
        elif t.type == "quoted":
            close = "]" if t.ch == "[" else t.ch
            out.append(t.text[1:-1].replace(close + close, close))
        else:
            out.append(t.text)
    return "".join(out)


def last_part(name: str) -> str:
    part = name.rsplit(".", 1)[-1]
    return part.lower() if part.isascii() else ""


@dataclass
class Head:
    kind: str
    name_begin: int = 0
    name_end: int = 0
    next: int = 0


def parse_head(k: list[Tok], i: int, end: int) -> Head | None:
    j = i + 1
    kind = None
    steps = 0
    while j < end and steps < 16 and kind is None:
        t = k[j]
        if t.type == "word":
            kw = t.kw
            if kw in KINDS:
                kind = KINDS[kw]
                if kw == "package" and j + 1 < end and k[j + 1].type == "word" and k[j + 1].kw == "body":
                    kind = "package_body"
                    j += 1
                if (
                    kw == "type"
                    and j + 2 < end
                    and k[j + 1].type == "word"
                    and k[j + 1].kw == "body"
                    and is_name_part(k[j + 2])
                    and not k[j + 2].reserved
                ):
                    kind = "type_body"
                    j += 1
            elif kw in ("or", "replace", "set") or kw in MODIFIERS:
                pass
            elif kw == "alter":
                if k[j - 1].kw != "or":
                    return None
            elif is_punct(k[j - 1], "=") or (kw is None and t.end - t.begin == 1):
                pass
            else:
                return None
        elif t.type == "quoted" or is_punct(t, "="):
            pass
        else:
            return None
        steps += 1
        j += 1
    if kind is None:
        return None
    h = Head(kind)
    if j < end and k[j].kw == "if":
        p = j + 1
        if p < end and k[p].kw == "not":
            p += 1
        if p < end and k[p].kw == "exists":
            j = p + 1
    if j < end and is_name_part(k[j]) and not k[j].reserved:
        h.name_begin = j
        j = name_end(k, j, end)
        h.name_end = j
    h.next = j
    return h


# --- references --------------------------------------------------------------


@dataclass
class Frame:
    call: bool = False
    from_list: bool = False
    alias_after: bool = False
    list_after: bool = False
    cte_body: bool = False
    first_event: int = 0


@dataclass
class Event:
    list: str
    name: str
    alive: bool = True


# Reserved words an assigned expression may hold (words the native keyword
# table files under the one "reserved" kind, and CASE ... END, NOT, IS).
STATEMENT_FREE = {
    "where",
    "group",
    "order",
    "having",
    "union",
    "except",
    "intersect",
    "minus",
    "inner",
    "left",
    "right",
    "full",
    "cross",
    "outer",
    "natural",
    "straight_join",
    "pivot",
    "unpivot",
    "tablesample",
    "when",
    "else",
    "output",
    "option",
    "values",
    "default",
    "return",
    "print",
    "raiserror",
    "throw",
    "commit",
    "rollback",
    "save",
    "waitfor",
    "open",
    "close",
    "deallocate",
    "grant",
    "deny",
    "revoke",
    "use",
    "go",
    "limit",
    "offset",
    "qualify",
    "window",
    "connect",
    "start",
    "by",
    "and",
    "in",
    "like",
    "between",
    "any",
    "all",
    "some",
    "over",
    "break",
    "continue",
    "goto",
    "null",
    "distinct",
    "elsif",
    "elseif",
    "perform",
    "raise",
    "matched",
    "collate",
    "case",
    "end",
    "then",
    "not",
    "is",
}
NEW_STATEMENT = {
    "select",
    "insert",
    "update",
    "delete",
    "merge",
    "exec",
    "execute",
    "create",
    "alter",
    "drop",
    "truncate",
    "begin",
    "if",
    "while",
    "fetch",
    "call",
}


@dataclass
class Scanner:
    k: list[Tok]
    rules: Rules
    platform: str | None = None
    i: int = 0
    begin: int = 0
    end: int = 0
    frames: list[Frame] = field(default_factory=list)
    events: list[Event] = field(default_factory=list)
    pending: list[tuple[int, str, int]] = field(default_factory=list)
    ctes: list[tuple[str, int]] = field(default_factory=list)
    using_depth: int = 0
    dynamic: bool = False
    names: set[str] = field(default_factory=set)
    source: str = ""
    exec_literals: list[int] = field(default_factory=list)
    exec_vars: set[str] = field(default_factory=set)
    assigned: list[tuple[str, int]] = field(default_factory=list)
    dynamic_refs: tuple[str, ...] = ()

    # token tests
    def word(self, j: int, kw: str) -> bool:
        return j < self.end and self.k[j].type == "word" and self.k[j].kw == kw

    def punct(self, j: int, c: str) -> bool:
        return j < self.end and is_punct(self.k[j], c)

    def variable(self, j: int) -> bool:
        t = self.k[j]
        if t.type != "word":
            return False
        return t.text[0] == ":" or (t.text[0] == "@" and not (len(t.text) > 2 and t.text[-1] == "@"))

    def text_is(self, j: int, w: str) -> bool:
        return j < self.end and self.k[j].type == "word" and ascii_fold(self.k[j].text) == w

    # declared names (procedural dialects)
    def declared(self, j: int, e: int) -> bool:
        return bool(self.names) and e == j + 1 and ascii_lower(name_text(self.k, j, e)) in self.names

    def declare(self, j: int) -> None:
        self.names.add(ascii_lower(name_text(self.k, j, j + 1)))

    def declarations(self, begin: int, end: int) -> None:
        self.end = end
        section = expect = False
        depth = 0
        start = begin
        if begin < end and (self.word(begin, "create") or self.word(begin, "alter")):
            head = parse_head(self.k, begin, end)
            if head is not None and head.name_end > head.name_begin:
                start = self.parameters(head.next)
                if start < end and (self.word(start, "is") or self.word(start, "as")) and start + 1 < end:
                    n = self.k[start + 1]
                    section = expect = n.type == "word" and not n.reserved and not self.text_is(start + 1, "language")
                    start += 1
        for j in range(start, end):
            t = self.k[j]
            if t.type == "punct":
                if t.ch == "(":
                    depth += 1
                if t.ch == ")" and depth > 0:
                    depth -= 1
                if depth == 0 and t.ch == ";":
                    expect = section
                if (
                    depth == 0
                    and t.ch == ","
                    and j > start
                    and self.k[j - 1].type == "word"
                    and self.declared(j - 1, j)
                ):
                    expect = True
                continue
            if t.type in ("dopen", "dclose", "sep"):
                section = expect = False
                depth = 0
                continue
            if t.type != "word" or depth > 0:
                continue
            if t.kw == "begin":
                section = expect = False
            elif t.kw == "declare":
                section = expect = True
            elif expect:
                if self.text_is(j, "cursor") or self.text_is(j, "type") or self.text_is(j, "subtype"):
                    continue
                expect = False
                if t.reserved or t.kw in ("procedure", "function"):
                    section = False
                else:
                    self.declare(j)
            elif (t.kw == "for" and j + 2 < end and self.text_is(j + 2, "in")) or self.text_is(j, "let"):
                if j + 1 < end and self.k[j + 1].type == "word" and not self.k[j + 1].reserved:
                    self.declare(j + 1)

    def parameters(self, j: int) -> int:
        if not self.punct(j, "("):
            return j
        depth = 0
        expect = True
        for p in range(j, self.end):
            if self.punct(p, "("):
                depth += 1
            elif self.punct(p, ")"):
                depth -= 1
                if depth == 0:
                    return p + 1
            elif depth == 1 and self.punct(p, ","):
                expect = True
            elif depth == 1 and expect and is_name_part(self.k[p]):
                if any(self.text_is(p, w) for w in ("in", "out", "inout", "variadic")):
                    continue
                expect = False
                if self.k[p].type == "word" and self.k[p].text[0] != "@":
                    self.declare(p)
            elif self.k[p].type == "sep":
                break
        return j

    def prev_kw(self) -> str | None:
        if self.i > self.begin and self.k[self.i - 1].type == "word":
            return self.k[self.i - 1].kw
        return None

    def add(self, lst: str, name: str) -> None:
        self.events.append(Event(lst, name))

    def add_table(self, lst: str, j: int, e: int) -> int:
        last = self.k[e - 1]
        if (last.text[1:2] if last.type == "quoted" and len(last.text) > 2 else last.text[:1]) == "#":
            self.add("temp", name_text(self.k, e - 1, e))
            return -1
        if self.declared(j, e):
            return -1
        name = name_text(self.k, j, e)
        if e == j + 1 and any(c == ascii_lower(name) for c, _ in self.ctes):
            return -1
        self.add(lst, name)
        return len(self.events) - 1

    def scan(self, begin: int, end: int, holes: list[tuple[int, int]]) -> References:
        self.begin = begin
        self.frames = [Frame()]
        if not self.rules.to_batch_end:
            self.declarations(begin, end)
        start = begin
        for b, e in holes:
            self.segment(start, b)
            start = e
        self.segment(start, end)
        return self.collect()

    def segment(self, start: int, end: int) -> None:
        self.i = start
        self.end = end
        while self.i < self.end:
            self.step()
        self.end_statement()

    def step(self) -> None:
        top = self.frames[-1]
        list_here = top.from_list
        top.from_list = False
        t = self.k[self.i]
        if t.type == "sep":
            self.end_statement()
            self.i += 1
        elif t.type == "dopen":
            self.i = self.foreign_body_end(self.i)
        elif t.type == "punct":
            if t.ch == "(":
                prev = self.k[self.i - 1] if self.i > self.begin else None
                call = prev is not None and (prev.type == "quoted" or (prev.type == "word" and not prev.reserved))
                self.frames.append(Frame(call=call))
                self.i += 1
            elif t.ch == ")":
                self.close_frame()
            elif t.ch == ";":
                self.end_statement()
                self.i += 1
            elif t.ch == "," and list_here:
                self.i += 1
                self.read_table("reads", True)
            else:
                self.i += 1
        elif t.type == "word":
            if t.kw is not None and t.kw not in MODIFIERS and self.keyword(t.kw):
                return
            if t.kw is None:
                self.assignment(self.i)
            if t.kw == "perform":
                self.i += 1
                i = self.i
                if i < self.end and is_name_part(self.k[i]) and not self.k[i].reserved and not self.variable(i):
                    e = name_end(self.k, i, self.end)
                    if self.punct(e, "("):
                        self.add("calls", name_text(self.k, i, e))
                        self.i = e
                return
            self.expression_name()
        elif t.type == "quoted":
            self.expression_name()
        else:
            self.i += 1

    def foreign_body_end(self, j: int) -> int:
        """Past a $$ body whose LANGUAGE (within 32 tokens) is not SQL."""
        close = j + 1
        while close < self.end and self.k[close].type != "dclose":
            close += 1
        if j > self.begin and self.k[j - 1].type == "punct" and self.k[j - 1].ch != ";":
            return min(self.end, close + 1)
        near = list(range(max(self.begin, j - 32), j)) + list(range(close + 1, min(self.end, close + 1 + 32)))
        for a, b in zip(near, near[1:]):
            if b != a + 1:
                continue
            ta, tb = self.k[a], self.k[b]
            if ta.type == "word" and ascii_fold(ta.text) == "language" and tb.type == "word":
                if ascii_fold(tb.text) not in ("sql", "plpgsql", "tsql"):
                    return min(self.end, close + 1)
        return j + 1

    def keyword(self, kw: str) -> bool:
        if kw in NEW_STATEMENT:
            # A new statement at the level of a pending target ends it.
            self.pending = [p for p in self.pending if p[2] < len(self.frames)]
        if kw == "from":
            self.i += 1
            if not self.frames[-1].call and not self.login_source():
                self.read_table("reads", True)
        elif kw in ("join", "apply"):
            self.i += 1
            self.read_table("reads", False)
        elif kw == "using":
            self.i += 1
            if self.using_depth == len(self.frames):
                self.read_table("reads", False)
        elif kw == "into":
            self.into()
        elif kw == "insert":
            self.insert()
        elif kw in ("update", "delete"):
            self.update_or_delete(kw == "update")
        elif kw == "merge":
            self.i += 1
            if self.text_is(self.i, "range"):
                return True
            self.skip_top()
            if self.word(self.i, "into"):
                self.i += 1
            self.read_target("writes", False)
            self.using_depth = len(self.frames)
        elif kw == "truncate":
            self.i += 1
            if self.word(self.i, "table"):
                self.i += 1
            self.read_target("writes", False)
        elif kw == "bulk":
            self.i += 1
            if self.word(self.i, "insert"):
                self.i += 1
                self.read_target("writes", False)
        elif kw in ("create", "alter", "drop"):
            self.definition(kw)
        elif kw in ("exec", "execute"):
            self.exec()
        elif kw == "call":
            self.i += 1
            i = self.i
            if i < self.end and is_name_part(self.k[i]) and not self.k[i].reserved and not self.variable(i):
                e = name_end(self.k, i, self.end)
                self.add("calls", name_text(self.k, i, e))
                self.i = e
        elif kw == "with":
            self.i += 1
            if self.i < self.end and self.k[self.i].type == "word" and self.k[self.i].kw in MODIFIERS:
                if self.cte_head(self.i + 1):
                    return True
            if (
                self.text_is(self.i, "xmlnamespaces")
                and self.punct(self.i + 1, "(")
                and self.skip_group(self.i + 1, 4096)
            ):
                if self.punct(self.i, ","):
                    self.cte_head(self.i + 1)
                return True
            self.cte_head(self.i)
        elif kw == "fetch":
            self.fetch()
        elif kw == "references":
            self.i += 1
            self.read_target("reads", False)
        else:
            return False
        return True

    def login_source(self) -> bool:
        i = self.i
        if i + 1 >= self.end:
            return False
        return (
            (self.text_is(i, "asymmetric") and self.text_is(i + 1, "key"))
            or (self.text_is(i, "certificate") and self.k[i + 1].type == "word")
            or (self.text_is(i, "executable") and self.text_is(i + 1, "file"))
            or (self.text_is(i, "file") and self.punct(i + 1, "="))
            or (self.text_is(i, "external") and self.text_is(i + 1, "provider"))
        )

    def expression_name(self) -> None:
        i = self.i
        e = name_end(self.k, i, self.end)
        after_dollar = i > self.begin and is_punct(self.k[i - 1], "$") and self.k[i - 1].end == self.k[i].begin
        if e > i + 1 and self.punct(e, "(") and not self.variable(i) and self.k[i].text[0] != "#" and not after_dollar:
            name = name_text(self.k, i, e)
            if last_part(name) not in METHODS:
                self.add("calls", name)
        self.i = e

    def skip_top(self) -> None:
        if self.word(self.i, "top"):
            self.i += 1
            if self.punct(self.i, "("):
                self.skip_group(self.i, 64)
            elif self.i < self.end:
                self.i += 1
            if self.text_is(self.i, "percent"):
                self.i += 1
            if self.word(self.i, "with") and self.text_is(self.i + 1, "ties"):
                self.i += 2

    def skip_group(self, j: int, limit: int) -> bool:
        depth = 0
        p = j
        while p < self.end and p < j + limit:
            if self.k[p].type == "sep" or self.punct(p, ";"):
                return False
            if self.punct(p, "("):
                depth += 1
            if self.punct(p, ")"):
                depth -= 1
                if depth == 0:
                    self.i = p + 1
                    return True
            p += 1
        return False

    def read_table(self, lst: str, in_list: bool) -> None:
        while self.word(self.i, "only") or self.word(self.i, "lateral"):
            self.i += 1
        i = self.i
        if i >= self.end:
            return
        if self.punct(i, "("):
            self.frames.append(Frame(alias_after=True, list_after=in_list, first_event=len(self.events)))
            self.i += 1
            return
        t = self.k[i]
        if not is_name_part(t) or t.reserved:
            return
        e = name_end(self.k, i, self.end)
        if self.variable(i):
            self.i = e
            self.table_tail(in_list, -1)
            return
        hint = e + 1 < self.end and self.k[e + 1].type == "word" and ascii_fold(self.k[e + 1].text) in TABLE_HINTS
        if self.punct(e, "(") and not hint:
            name = name_text(self.k, i, e)
            builtin = (e == i + 1 and last_part(name) in BUILTIN_TABLE_FUNCTIONS) or (
                e > i + 1 and last_part(name) in METHODS
            )
            if not builtin and t.text[0] != "#":
                self.add("calls", name)
            self.frames.append(Frame(call=True, alias_after=True, list_after=in_list))
            self.i = e + 1
            return
        pseudo = e == i + 1 and t.type == "word" and ascii_fold(t.text) in ("inserted", "deleted")
        ev = -1 if pseudo else self.add_table(lst, i, e)
        self.i = e
        self.table_tail(in_list, ev)

    def table_tail(self, in_list: bool, event: int) -> None:
        self.alias(event)
        if self.word(self.i, "with") and self.punct(self.i + 1, "("):
            self.skip_group(self.i + 1, 64)
        elif self.punct(self.i, "("):
            self.skip_group(self.i, 64)
        if in_list:
            self.frames[-1].from_list = True

    def alias(self, event: int) -> None:
        a = self.i
        if self.word(a, "as"):
            a += 1
        if a >= self.end or not is_name_part(self.k[a]) or self.k[a].reserved or self.variable(a):
            return
        if self.k[a].type == "word" and self.k[a].kw == "with":
            return
        if a + 1 < self.end and self.punct(a + 1, "."):
            return
        self.i = a + 1
        key = ascii_lower(name_text(self.k, a, a + 1))
        for n, (ev, pkey, _) in enumerate(self.pending):
            if pkey != key:
                continue
            if event >= 0:
                self.events[ev].name = self.events[event].name
            else:
                self.events[ev].alive = False
            del self.pending[n]
            return

    def read_target(self, lst: str, may_be_alias: bool) -> None:
        i = self.i
        if i >= self.end or not is_name_part(self.k[i]) or self.k[i].reserved:
            return
        e = name_end(self.k, i, self.end)
        if self.variable(i):
            self.i = e
            return
        ev = self.add_table(lst, i, e)
        if ev >= 0 and may_be_alias and e == i + 1:
            self.pending.append((ev, ascii_lower(self.events[-1].name), len(self.frames)))
        self.i = e

    def insert(self) -> None:
        before = self.prev_kw()
        self.i += 1
        if before in ("then", "on", "for") or self.punct(self.i, "(") or self.punct(self.i, ","):
            return
        self.skip_top()
        while any(self.word(self.i, w) for w in ("into", "overwrite", "table", "or", "replace")):
            self.i += 1
        self.read_target("writes", False)

    def update_or_delete(self, update: bool) -> None:
        before = self.prev_kw()
        self.i += 1
        if before in ("then", "on", "for") or self.punct(self.i, "(") or self.punct(self.i, ","):
            return
        if update and (self.word(self.i, "set") or self.word(self.i, "statistics")):
            return
        self.skip_top()
        if not update:
            if self.word(self.i, "from"):
                self.i += 1
            self.using_depth = len(self.frames)
        self.read_target("writes", True)

    def into(self) -> None:
        before = self.prev_kw()
        self.i += 1
        if before == "collect":
            self.skip_variables()
            return
        if self.word(self.i, "outfile") or self.word(self.i, "dumpfile"):
            return
        if self.platform in ("oracle", "mysql"):
            self.skip_variables()
            return
        if not self.rules.to_batch_end and self.text_is(self.i, "strict"):
            self.i += 1
        self.read_target("writes", False)

    def skip_variables(self) -> None:
        while self.i < self.end and self.k[self.i].type == "word" and not self.k[self.i].reserved:
            self.i = name_end(self.k, self.i, self.end)
            if not self.punct(self.i, ","):
                return
            self.i += 1

    def fetch(self) -> None:
        self.i += 1
        base = self.i
        for j in range(base, min(self.end, base + 4)):
            if self.word(j, "from"):
                self.i = j + 1
                if self.i < self.end and self.k[self.i].type == "word" and not self.k[self.i].reserved:
                    self.i += 1
                if self.i < self.end and is_name_part(self.k[self.i]) and not self.k[self.i].reserved:
                    self.i = name_end(self.k, self.i, self.end)
                break
            if self.word(j, "into"):
                self.i = j
                break
        if self.word(self.i, "into"):
            self.i += 1
            self.skip_variables()

    def exec(self) -> None:
        self.i += 1
        if self.i >= self.end:
            return
        t = self.k[self.i]
        if t.type == "punct":
            if t.ch == "(":
                self.dynamic = True
                self.executed_group(self.i)
            return
        if t.type == "string":
            self.dynamic = True
            self.executed(self.i)
            self.i += 1
            return
        if t.type == "word":
            if t.kw == "as":
                return
            if t.kw == "immediate":
                self.dynamic = True
                self.i += 1
                if self.i < self.end:
                    self.executed(self.i)
                return
            if t.kw in ("function", "procedure"):
                self.i += 1
        if self.i < self.end and self.variable(self.i):
            if not self.punct(self.i + 1, "="):
                self.dynamic = True
                self.executed(self.i)
                self.i += 1
                return
            self.i += 2
            i = self.i
            if i < self.end and (self.variable(i) or self.punct(i, "(") or self.k[i].type == "string"):
                self.dynamic = True
                return
        i = self.i
        if i >= self.end or not is_name_part(self.k[i]) or self.k[i].reserved:
            return
        e = name_end(self.k, i, self.end)
        pg = self.platform in ("postgresql", "redshift")
        if self.declared(i, e) or (pg and not self.word(i - 1, "function") and not self.word(i - 1, "procedure")):
            self.dynamic = True
            self.executed(i)
            if e == i + 1 and self.punct(e, "(") and e + 1 < self.end:
                self.executed(e + 1)
            self.i = e
            return
        name = name_text(self.k, i, e)
        if last_part(name) == "sp_executesql":
            self.dynamic = True
            if e < self.end:
                self.executed(e)
        elif e == i + 1 and self.punct(e, "("):
            self.dynamic = True
            if e + 1 < self.end:
                self.executed(e + 1)
        elif self.k[i].text[0] != "#":
            self.add("calls", name)
        self.i = e

    def definition(self, verb: str) -> None:
        head = parse_head(self.k, self.i, self.end)
        if head is None:
            if self.text_is(self.i + 1, "event") and self.text_is(self.i + 2, "session"):
                while self.i < self.end and not self.punct(self.i, ";") and self.k[self.i].type != "sep":
                    self.i += 1
                return
            self.i += 1
            return
        self.i = head.next
        if head.name_end == head.name_begin:
            return
        if head.kind == "table":
            self.add_table("writes", head.name_begin, head.name_end)
            while (
                verb == "drop"
                and self.punct(self.i, ",")
                and self.i + 1 < self.end
                and is_name_part(self.k[self.i + 1])
            ):
                self.i += 1
                e = name_end(self.k, self.i, self.end)
                self.add_table("writes", self.i, e)
                self.i = e
        elif head.kind in ("index", "trigger"):
            if verb != "drop" and self.word(self.i, "on"):
                self.i += 1
                self.read_target("reads", False)
        elif head.kind == "synonym":
            if self.word(self.i, "for"):
                self.i += 1
                self.read_target("reads", False)
        elif head.kind == "type":
            if self.word(self.i, "from") and self.i + 1 < self.end:
                self.i += 2

    def cte_head(self, j: int) -> bool:
        if j >= self.end or not is_name_part(self.k[j]) or self.k[j].reserved:
            return False
        if self.punct(j + 1, "."):
            return False
        p = j + 1
        if self.punct(p, "("):
            q = p + 1
            while q < self.end and q < p + 256 and (is_name_part(self.k[q]) or self.punct(q, ",")):
                q += 1
            if not self.punct(q, ")"):
                return False
            p = q + 1
        if not self.word(p, "as") or not self.punct(p + 1, "("):
            return False
        self.ctes.append((ascii_lower(name_text(self.k, j, j + 1)), len(self.frames)))
        self.frames.append(Frame(cte_body=True))
        self.i = p + 2
        return True

    def close_frame(self) -> None:
        self.i += 1
        if len(self.frames) == 1:
            return
        f = self.frames.pop()
        while self.ctes and self.ctes[-1][1] > len(self.frames):
            self.ctes.pop()
        if f.alias_after:
            self.alias(-1 if f.call else self.single_read_since(f.first_event))
            if self.punct(self.i, "("):
                self.skip_group(self.i, 64)
            if f.list_after:
                self.frames[-1].from_list = True
        elif f.cte_body and self.punct(self.i, ","):
            self.cte_head(self.i + 1)

    def single_read_since(self, first: int) -> int:
        found = [e for e in range(first, len(self.events)) if self.events[e].list == "reads" and self.events[e].alive]
        return found[0] if len(found) == 1 else -1

    def end_statement(self) -> None:
        self.frames = [Frame()]
        self.ctes.clear()
        self.pending.clear()
        self.using_depth = 0

    def collect(self) -> References:
        lists: dict[str, list[str]] = {"reads": [], "writes": [], "calls": [], "temp": []}
        seen: dict[str, set[str]] = {key: set() for key in lists}
        for ev in self.events:
            if not ev.alive:
                continue
            key = ascii_lower(ev.name)
            if key not in seen[ev.list]:
                seen[ev.list].add(key)
                lists[ev.list].append(ev.name)
        if self.dynamic:
            self.dynamic_refs = self.dynamic_references()
        return References(
            tuple(lists["reads"]), tuple(lists["writes"]), tuple(lists["calls"]), tuple(lists["temp"]), self.dynamic
        )

    # executed literals
    def executed(self, j: int) -> None:
        t = self.k[j]
        if t.type == "string":
            self.exec_literals.append(j)
        elif t.type == "word" and not t.reserved:
            self.exec_vars.add(ascii_lower(t.text))

    def executed_group(self, j: int) -> None:
        depth = 0
        for p in range(j, self.end):
            if self.punct(p, "("):
                depth += 1
            if self.punct(p, ")"):
                depth -= 1
                if depth == 0:
                    return
            if self.punct(p, ";") or self.k[p].type == "sep":
                return
            if self.k[p].type == "string" or (self.k[p].type == "word" and self.variable(p)):
                self.executed(p)

    def assignment(self, j: int) -> None:
        p = j + 1
        if self.punct(p, ":") and self.punct(p + 1, "=") and self.k[p].end == self.k[p + 1].begin:
            p += 1
        if not self.punct(p, "=") or not (self.variable(j) or self.declared(j, j + 1)):
            return
        key = ascii_lower(self.k[j].text)
        for q in range(p + 1, min(self.end, p + 1 + 256)):
            t = self.k[q]
            if t.type == "sep" or is_punct(t, ";"):
                return
            if t.type == "word" and t.reserved and t.kw in KEYWORDS - STATEMENT_FREE:
                return
            if t.type == "string":
                self.assigned.append((key, q))

    def dynamic_references(self) -> tuple[str, ...]:
        literals = sorted(set(self.exec_literals) | {j for key, j in self.assigned if key in self.exec_vars})
        out: list[str] = []
        seen: set[str] = set()
        text = self.source
        for j in literals:
            t = self.k[j]
            b = t.begin
            while b < t.end and text[b] != t.ch:
                b += 1
            if t.end - b < 2:
                continue
            body = text[b + 1 : t.end - 1]
            k = tokenize(body, self.rules)
            for p in range(len(k) - 1):
                if k[p].type != "word" or k[p].kw not in ("from", "join", "into", "update", "exec", "execute"):
                    continue
                n = k[p + 1]
                if not is_name_part(n) or (n.type == "word" and (n.reserved or n.text[0] in "@:#")):
                    continue
                name = name_text(k, p + 1, name_end(k, p + 1, len(k)))
                if ascii_lower(name) not in seen:
                    seen.add(ascii_lower(name))
                    out.append(name)
        return tuple(out)


# --- units -------------------------------------------------------------------


def opens_block(k: list[Tok], i: int) -> bool:
    if i + 1 >= len(k):
        return True
    n = k[i + 1]
    return not is_punct(n, ";") and n.kw not in ("tran", "transaction", "distributed", "dialog", "conversation", "work")


def closes_block(k: list[Tok], i: int) -> bool:
    return i + 1 >= len(k) or k[i + 1].kw not in ("if", "loop", "while", "repeat", "conversation")


DECLARING = {"procedure", "function"} | BODIES
ENDS_NESTED = {"insert", "update", "delete", "merge", "exec", "execute", "if", "while", "drop", "truncate", "declare"}


class Cutter:
    """Cuts the tokens into units: [kind, name_begin, name_end, first, last,
    holes], holes being the token ranges of objects defined in a batch."""

    def __init__(self, k: list[Tok], has_go: bool, rules: Rules) -> None:
        self.k = k
        self.has_go = has_go
        self.blocks_end = not rules.to_batch_end
        self.spans: list[list] = []
        self.cur: list | None = None
        self.outer: list | None = None
        self.level = 0
        self.paren = self.block = 0
        self.in_body = self.end_at_semicolon = False
        self.head = False
        self.declaring: list[int] = []

    def run(self) -> list[list]:
        for i in range(len(self.k)):
            self.token(i)
        self.close(len(self.k))
        return sorted(self.spans, key=lambda sp: sp[3])

    def close(self, last_plus_one: int) -> None:
        self.close_nested(last_plus_one)
        if self.cur is not None and last_plus_one > self.cur[3]:
            self.cur[4] = last_plus_one - 1
            self.spans.append(self.cur)
        self.cur = None
        self.end_at_semicolon = False
        self.declaring = []
        self.head = False

    def close_nested(self, at: int) -> None:
        if self.outer is None:
            return
        if at > self.cur[3]:
            self.cur[4] = at - 1
            self.outer[5].append((self.cur[3], at))
            self.spans.append(self.cur)
        self.cur, self.outer = self.outer, None

    def kw_at(self, j: int) -> str | None:
        return self.k[j].kw if 0 <= j < len(self.k) and self.k[j].type == "word" else None

    def in_batch(self) -> bool:
        return self.outer is not None or self.cur is None or self.cur[0] == "batch"

    def ends_nested(self, i: int) -> bool:
        kw = self.k[i].kw if self.k[i].type == "word" else None
        if kw in ENDS_NESTED:
            return True
        if kw == "alter":
            return self.kw_at(i - 1) != "or"
        if kw == "select":
            return self.kw_at(i - 1) != "as" and not is_punct(self.k[i - 1], "(")
        return False

    def start(self, i: int, head: Head) -> None:
        if self.k[i].kw == "create" and self.in_batch() and self.paren == 0 and self.block > 0:
            self.close_nested(i)
            self.outer = self.cur
            self.level = self.block
            self.cur = [head.kind, head.name_begin, head.name_end, i, i, []]
            return
        self.close(i)
        self.cur = [head.kind, head.name_begin, head.name_end, i, i, []]
        self.paren = self.block = 0
        self.head = self.blocks_end and head.kind in DECLARING

    def definition(self, i: int) -> None:
        k = self.k
        head = parse_head(k, i, len(k))
        if head is None:
            return
        routine = head.kind in ROUTINES
        temp = (
            head.name_end > head.name_begin
            and k[head.name_end - 1].type == "word"
            and (k[head.name_end - 1].text.startswith("#"))
        )
        if k[i].kw == "create":
            starts = not (temp and head.kind == "table")
        else:
            starts = routine and head.kind not in BODIES
        if starts and not routine:
            starts = (
                self.paren == 0
                and (self.block == 0 or self.in_batch())
                and not (self.has_go and self.cur is not None and self.cur[0] in ROUTINES)
            )
        if starts:
            self.start(i, head)

    def opens_declarations(self, i: int) -> bool:
        k = self.k
        if i + 1 >= len(k) or self.kw_at(i - 1) == "execute":
            return False
        n = k[i + 1]
        if n.type in ("string", "dopen", "sep") or is_punct(n, "(") or is_punct(n, ";"):
            return False
        return not (n.type == "word" and ascii_fold(n.text) in ("language", "external"))

    def token(self, i: int) -> None:
        t = self.k[i]
        if t.type == "sep":
            self.close(i)
            self.paren = self.block = 0
            self.in_body = False
            return
        if (
            not self.in_body
            and t.type == "word"
            and (t.kw == "create" or (t.kw == "alter" and not (i > 0 and self.k[i - 1].kw == "or")))
        ):
            self.definition(i)
        if (
            self.outer is not None
            and i > self.cur[3]
            and self.paren == 0
            and self.block == self.level
            and not self.in_body
            and self.cur[0] not in ROUTINES
            and self.ends_nested(i)
        ):
            self.close_nested(i)
        if self.cur is None:
            self.cur = ["batch", 0, 0, i, i, []]
        if t.type == "punct":
            if t.ch == "(":
                self.paren += 1
            elif t.ch == ")":
                self.paren = max(0, self.paren - 1)
            elif t.ch == ";":
                if not (self.cur[0] == "macro" and self.paren > 0):
                    self.paren = 0
                self.head = False
                if self.in_body or self.paren > 0:
                    pass
                elif self.outer is not None:
                    if self.block == self.level:
                        self.close_nested(i + 1)
                elif self.block == 0 and self.cur[0] != "batch" and (self.end_at_semicolon or self.blocks_end):
                    self.close(i + 1)
        elif t.type == "word":
            self.word(i)
        elif t.type == "dopen":
            self.in_body = True
            self.head = False
        elif t.type == "dclose":
            self.in_body = False
            if self.cur[0] != "batch":
                self.end_at_semicolon = True
            self.block = 0
            self.declaring = []

    def word(self, i: int) -> None:
        k = self.k
        kw = k[i].kw
        if self.in_body or self.paren > 0:
            if kw == "case":
                self.block += 1
            elif kw == "end" and closes_block(k, i):
                self.block = max(0, self.block - 1)
            elif kw == "begin" and opens_block(k, i):
                self.block += 1
            return
        declares = self.blocks_end and self.outer is None and self.cur[0] != "batch"
        if kw == "begin":
            if opens_block(k, i):
                self.head = False
                if self.declaring and self.declaring[-1] == self.block:
                    self.declaring.pop()
                else:
                    self.block += 1
        elif kw == "case":
            self.block += 1
        elif kw == "end":
            if closes_block(k, i):
                if self.outer is not None and self.block == self.level:
                    self.close_nested(i)
                if self.block > 0:
                    if self.declaring and self.declaring[-1] == self.block:
                        self.declaring.pop()
                    self.block -= 1
        elif kw in ("is", "as"):
            if declares and self.head:
                self.head = False
                if self.opens_declarations(i):
                    self.block += 1
                    self.declaring.append(self.block)
        elif kw == "declare":
            if declares and self.block == 0 and not self.declaring and self.cur[0] in DECLARING | {"trigger"}:
                self.block += 1
                self.declaring.append(self.block)
        elif kw in ("procedure", "function"):
            if declares and self.block > 0 and self.cur[0] in BODIES:
                self.head = True
        elif kw in ("select", "insert", "update", "delete", "merge", "with", "call"):
            self.head = False


def line_of(starts: list[int], offset: int) -> int:
    import bisect

    return bisect.bisect_right(starts, offset)


def split_objects(sql_content: str, *, platform: str | None = None) -> tuple[SqlObject, ...]:
    if type(sql_content) is not str:
        raise TypeError("sql_content must be str")
    rules = rules_of(platform)
    k = tokenize(sql_content, rules)
    starts = [b for b, _ in lines_of(sql_content)]
    has_go = any(t.type == "sep" and t.ch == "g" for t in k)
    out = []
    for kind, nb, ne, first, last, holes in Cutter(k, has_go, rules).run():
        scanner = Scanner(k, rules, platform, source=sql_content)
        refs = scanner.scan(first, last + 1, holes)
        out.append(
            SqlObject(
                kind,
                name_text(k, nb, ne) if ne > nb else None,
                line_of(starts, k[first].begin),
                line_of(starts, k[last].end - 1),
                refs.reads,
                refs.writes,
                refs.calls,
                refs.temp_tables,
                refs.dynamic_sql,
                scanner.dynamic_refs,
                *definitions_model.definitions(k, starts, kind, ne, first, last + 1, parse_head),
            )
        )
    return tuple(out)


def references(sql_content: str, *, platform: str | None = None) -> References:
    if type(sql_content) is not str:
        raise TypeError("sql_content must be str")
    rules = rules_of(platform)
    k = tokenize(sql_content, rules)
    return Scanner(k, rules, platform, source=sql_content).scan(0, len(k), [])
