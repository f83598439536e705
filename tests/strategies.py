"""Hypothesis strategies for SQL text, SQL files and Markdown knowledge documents.

The generators are biased towards the places where implementations differ:
keywords in odd letter case and with case-fold look-alikes, keywords glued to
word and non-word characters, comments and string literals in awkward spots,
every whitespace and line-break character, and runs that make regex engines
backtrack.  Sizes stay moderate so that a few hundred examples run in seconds.
"""

from __future__ import annotations

from dataclasses import dataclass

from hypothesis import strategies as st

import model

WHITESPACE = [
    *map(chr, range(0x09, 0x0E)),
    *map(chr, range(0x1C, 0x20)),
    " ",
    "\x85",
    "\xa0",
    "\u1680",
    *map(chr, range(0x2000, 0x200B)),
    "\u2028",
    "\u2029",
    "\u202f",
    "\u205f",
    "\u3000",
]
LINE_BREAKS = ["\n", "\r\n", "\r", "\v", "\f", "\x1c", "\x1d", "\x1e", "\x85", "\u2028", "\u2029"]
INLINE_WHITESPACE = [c for c in WHITESPACE if len(("a" + c + "b").splitlines()) == 1]
# Characters that look like whitespace but are not.
LOOKALIKES = ["\u200b", "\ufeff", "\u180e"]
# Word characters (letters and numbers of several scripts) that block \b.
WORD_NEIGHBOURS = ["é", "ß", "Ж", "ω", "中", "ก", "ا", "٣", "५", "²", "Ⅻ", "𝔘", "_", "7", "K"]
# Non-word characters that leave \b in place next to a keyword.
NON_WORD_NEIGHBOURS = ["\u0301", "\u0308", "\u203f", "\u2040", "\ud800", "\udfff", "\u200b", "-", "(", "€", "'"]
SURROGATES = ["\ud800", "\udbff", "\udc00", "\udfff"]


def weighted(*pairs):
    """One of several strategies, chosen with the given integer weights."""
    pool = [strat for weight, strat in pairs for _ in range(weight)]
    return st.sampled_from(pool).flatmap(lambda s: s)


# --------------------------------------------------------------------------
# Keyword phrases
# --------------------------------------------------------------------------

# Each phrase is written with single spaces where the patterns allow
# whitespace; the spaces are replaced by drawn separators.
PHRASES = [
    # complex constructs
    "CURSOR",
    "DECLARE c CURSOR",
    "DECLARE c CURSOR FOR",
    "EXEC (",
    "EXECUTE(",
    "EXEC",
    "EXECUTE",
    "sp_executesql",
    "DYNAMIC",
    "BEGIN TRY",
    "BEGIN CATCH",
    "MERGE",
    "OPENXML",
    "hierarchyid",
    "geography",
    "geometry",
    "FOR XML",
    "OPENJSON",
    "LINKED SERVER",
    # moderate constructs
    "WITH c AS (",
    "WITH c (a, b) AS (",
    "WITH c(a)AS(",
    "WITH (NOLOCK)",
    "WITH x (",
    "#tmp",
    "##global",
    "# tmp",
    "CREATE TABLE",
    "WHILE",
    "IF EXISTS",
    "IF NOT EXISTS",
    "CASE WHEN",
    "OVER (",
    "OVER(",
    "PIVOT",
    "UNPIVOT",
    # procedure heads and boundary lines
    "CREATE PROC",
    "CREATE PROCEDURE",
    "CREATE OR ALTER PROC",
    "CREATE OR ALTER PROCEDURE",
    "ALTER PROCEDURE",
    "CREATE FUNCTION",
    "CREATE PROCEDURES",
    "GO",
    # categories
    "DATEDIFF",
    "DATEADD",
    "GETDATE",
    "GETUTCDATE",
    "EOMONTH",
    "DATEPART",
    "DATENAME",
    "DATETRUNC",
    "SYSDATETIME",
    "SYSUTCDATETIME",
    "ROW_NUMBER(",
    "RANK (",
    "DENSE_RANK(",
    "NTILE(",
    "LAG(",
    "LEAD (",
    "CUME_DIST(",
    "PERCENT_RANK(",
    "RANK",
    "ISNULL",
    "COALESCE",
    "NULLIF",
    "IS NULL",
    "IS NOT NULL",
    "LIKE",
    "CHARINDEX",
    "PATINDEX",
    "STUFF",
    "REPLACE",
    "SUBSTRING",
    "LEFT",
    "RIGHT",
    "COLLATE",
    "CONCAT",
    "FOR JSON",
    "JSON_VALUE",
    "JSON_QUERY",
    "JSON_MODIFY",
    "CAST",
    "CONVERT",
    "TRY_CAST",
    "TRY_CONVERT",
    "DECIMAL",
    "NUMERIC",
    "FLOAT",
    "INNER JOIN",
    "LEFT JOIN",
    "RIGHT OUTER JOIN",
    "FULL OUTER JOIN",
    "CROSS JOIN",
    "JOIN",
    "GROUP BY (",
    "GROUP BY",
    "HAVING(",
    "SUM(",
    "COUNT (",
    "AVG(",
    "MIN(",
    "MAX(",
    "@t TABLE",
    "@t TABLES",
    "SELECT",
]


@st.composite
def letter_case(draw, word: str) -> str:
    """``word`` in a drawn letter case, sometimes with case-fold look-alikes."""
    mode = draw(st.sampled_from(["asis", "asis", "upper", "lower", "mixed"]))
    if mode == "upper":
        word = word.upper()
    elif mode == "lower":
        word = word.lower()
    elif mode == "mixed":
        flips = draw(st.lists(st.booleans(), min_size=len(word), max_size=len(word)))
        word = "".join(c.swapcase() if f else c for c, f in zip(word, flips))
    if draw(st.integers(0, 3)) == 0:
        lookalike = {"s": "\u017f", "S": "\u017f", "k": "\u212a", "K": "\u212a", "i": "\u0131", "I": "\u0130"}
        out = []
        for c in word:
            if c in lookalike and draw(st.booleans()):
                c = lookalike[c] if c not in "iI" else draw(st.sampled_from(["\u0130", "\u0131"]))
            out.append(c)
        word = "".join(out)
    return word


def separators(line_breaks=LINE_BREAKS):
    """What may stand between two words of a phrase."""
    return weighted(
        (12, st.just(" ")),
        (3, st.sampled_from(INLINE_WHITESPACE)),
        (2, st.lists(st.sampled_from(INLINE_WHITESPACE + line_breaks), min_size=1, max_size=4).map("".join)),
        (2, st.sampled_from(line_breaks)),
        (1, st.sampled_from(["/**/", "/* c */", " /* c */ "])),
        (1, st.sampled_from(LOOKALIKES)),
    )


@st.composite
def phrases(draw, line_breaks=LINE_BREAKS) -> str:
    phrase = draw(st.sampled_from(PHRASES))
    pieces = phrase.split(" ")
    out = draw(letter_case(pieces[0]))
    for piece in pieces[1:]:
        out += draw(separators(line_breaks)) + draw(letter_case(piece))
    return out


# --------------------------------------------------------------------------
# SQL text
# --------------------------------------------------------------------------

_IDENT_ALPHABET = st.sampled_from(list("abcxyz_019ABC") + ["é", "ß", "Ж", "中", "٣", "²"])


def _comment_body(line_breaks):
    return st.lists(
        st.sampled_from(list("ab -*/'#") + ["MERGE", "CURSOR", "GO"] + line_breaks),
        max_size=6,
    ).map("".join)


def fragments(line_breaks=LINE_BREAKS, surrogates=True):
    non_word = [c for c in NON_WORD_NEIGHBOURS if surrogates or c not in SURROGATES]
    lone = [(1, st.sampled_from(SURROGATES))] if surrogates else []
    body = _comment_body(line_breaks)
    return weighted(
        (12, phrases(line_breaks)),
        (3, st.tuples(phrases(line_breaks), st.sampled_from(WORD_NEIGHBOURS + non_word)).map("".join)),
        (3, st.tuples(st.sampled_from(WORD_NEIGHBOURS + non_word), phrases(line_breaks)).map("".join)),
        (3, st.text(_IDENT_ALPHABET, min_size=1, max_size=6)),
        (
            2,
            st.builds(
                lambda s: "'" + s + "'",
                st.lists(st.sampled_from(list("ab -/*#'") + ["MERGE", "--", "/*"]), max_size=6).map("".join),
            ),
        ),
        (2, body.map(lambda s: "--" + s)),
        (2, body.map(lambda s: "/*" + s + "*/")),
        (2, st.sampled_from(["/*", "*/", "--", "/* a /* b */ c */", "/**/", "-- /*"])),
        (2, st.sampled_from(line_breaks)),
        (2, st.sampled_from(INLINE_WHITESPACE + line_breaks)),
        (1, st.sampled_from(LOOKALIKES)),
        (2, st.sampled_from([",", ";", "(", ")", "=", "*", "@", "#", "1", "'", ".", "-"])),
        (
            1,
            st.tuples(
                st.sampled_from(["WITH x (", "/*", "--", "#", "(", "WITH x AS ", "-- a\n"]), st.integers(2, 40)
            ).map(lambda t: t[0] * t[1]),
        ),
        *lone,
    )


@st.composite
def sql_texts(draw, line_breaks=LINE_BREAKS, surrogates=True, max_fragments=40) -> str:
    """SQL-like text.  ``line_breaks`` restricts the breaks used (for instance
    ``["\\n"]`` for text that is to be written to a file and compared with its
    CR LF form); ``surrogates=False`` keeps it encodable as UTF-8."""
    n = draw(
        weighted(
            (1, st.integers(0, 4)),
            (4, st.integers(5, max(5, max_fragments))),
        )
    )
    frag = fragments(line_breaks, surrogates)
    out = ""
    for _ in range(min(n, max_fragments)):
        part = draw(frag)
        out += draw(
            weighted(
                (4, st.just("")),
                (4, st.just(" ")),
                (2, st.sampled_from(line_breaks)),
                (1, st.sampled_from(INLINE_WHITESPACE)),
            )
        )
        out += part
    return out


# --------------------------------------------------------------------------
# Markdown knowledge documents and title sets
# --------------------------------------------------------------------------

TABLE_TITLES = sorted(
    {t for titles in model.CONSTRUCT_TO_MAPPING_SECTIONS.values() for t in titles}
    | {t for titles in model.CONSTRUCT_TO_GOTCHA_SECTIONS.values() for t in titles}
    | set(model.ALWAYS_INCLUDE_MAPPING)
)
CATEGORY_KEYS = list(model._CATEGORY_PATTERNS)

_WORDS = ["Date", "Functions", "Joins", "NULL", "Notes", "İstanbul", "ǅ", "x", "ſ", "\u212a", "a", "Ü"]


@st.composite
def titles(draw) -> str:
    kind = draw(st.sampled_from(["table"] * 4 + ["part", "case", "random", "empty"]))
    if kind == "table":
        return draw(st.sampled_from(TABLE_TITLES))
    if kind == "part":
        title = draw(st.sampled_from(TABLE_TITLES))
        i = draw(st.integers(0, len(title)))
        j = draw(st.integers(i, len(title)))
        return title[i:j]
    if kind == "case":
        title = draw(st.sampled_from(TABLE_TITLES))
        return draw(st.sampled_from([title.lower(), title.upper(), title.swapcase(), title + " Extra"]))
    if kind == "random":
        words = draw(st.lists(st.sampled_from(_WORDS), min_size=1, max_size=3))
        return " ".join(words)
    return ""


def title_sets():
    return st.sets(titles(), max_size=5)


def category_sets():
    return st.sets(st.sampled_from(CATEGORY_KEYS + ["bogus", "", "Query", "date_function "]), max_size=8)


_HEADING_PREFIXES = weighted(
    (10, st.just("## ")),
    (1, st.just("##")),
    (1, st.just("# ")),
    (1, st.just("### ")),
    (1, st.just("   ## ")),
    (1, st.just("##\t")),
    (1, st.just("## ## ")),
)


@st.composite
def markdown_documents(draw) -> str:
    newline = draw(st.sampled_from(["\n", "\n", "\n", "\r\n"]))
    lines = []
    if draw(st.booleans()):
        lines += ["# Mapping Guide", "Intro text."]
    for _ in range(draw(st.integers(0, 7))):
        lines.append(draw(_HEADING_PREFIXES) + draw(titles()))
        for _ in range(draw(st.integers(0, 3))):
            lines.append(
                draw(
                    st.sampled_from(
                        [
                            "",
                            "DATEADD -> date_add",
                            "### Notes",
                            "sub note",
                            "text ## mid-line",
                            "```",
                            "## fenced",
                            "  indented  ",
                            "\u3000",
                            "a\rb",
                            "NULL never equals NULL",
                        ]
                    )
                )
            )
    text = newline.join(lines)
    text += draw(st.sampled_from(["", newline, newline * 2, " \t"]))
    return text


# --------------------------------------------------------------------------
# SQL files as lines
# --------------------------------------------------------------------------

GO_LINES = ["GO", "go", "Go", "gO", "  GO  ", "\tGO", "GO\x1f", "\u3000GO\xa0"]
ROUTINE_LINES = [
    "CREATE PROCEDURE dbo.p",
    "CREATE PROC p",
    "create or alter proc x",
    "CREATE OR ALTER PROCEDURE dbo.usp_X",
    "CREATE FUNCTION dbo.f()",
    "create\tfunction f",
    "  CREATE  PROC  p",
    "CREATE PROC",
    "CREATE PROC-x",
    "CREATE PROCEDURE dbo.usp_RebuildSalesSummaryForRegionAndChannel",
]
NEAR_MISS_LINES = [
    "GO;",
    "GO 5",
    "-- GO",
    "GOTO x",
    "G O",
    "\u200bGO",
    "GO\ufeff",
    "CREATE PROCEDURES x",
    "CREATE VIEW v",
    "CREATE TRIGGER t",
    "CREATE TABLE t",
    "ALTER PROCEDURE p",
    "CREATE OR REPLACE PROCEDURE p",
    "x CREATE PROC p",
    "CREATE FUNCT\u0130ON f",
    "CREATE FUNCT\u0131ON f",
    "CREATEPROC p",
    "CREATE PROCEDURE_x",
    "CREATE PROC\u00e9",
    "/* GO */",
    "'GO'",
]
HINT_LINES = [
    "",
    "   ",
    "\t\u3000",
    "-- comment",
    "  -- indented comment",
    "-x",
    "\u200b",
    "SELECT " + "é" * 60,
    "𝔘" * 55,
    "A" * 49 + " " + "B" * 10,
    "  \u3000 padded  ",
    "İ" * 51,
]

_FILLERS = [
    lambda n: f"SELECT {n} AS c",
    lambda n: "",
    lambda n: f"-- note {n}",
    lambda n: f"    x = {n};   ",
    lambda n: "\u00e9\u4e2d" * 30,
    lambda n: "\t",
]


@dataclass(frozen=True)
class SqlFile:
    lines: tuple[str, ...]
    newline: str = "\n"
    bom: bool = False
    trailing: bool = True

    def render(self, newline: str | None = None, bom: bool | None = None) -> str:
        newline = self.newline if newline is None else newline
        bom = self.bom if bom is None else bom
        text = newline.join(self.lines)
        if self.trailing and self.lines:
            text += newline
        return ("\ufeff" if bom else "") + text

    def to_bytes(self, newline: str | None = None, bom: bool | None = None) -> bytes:
        return self.render(newline, bom).encode("utf-8")


_SIZES = weighted(
    (
        3,
        st.sampled_from(
            [0, 1, 150, 499, 500, 501, 502, 520, 898, 899, 900, 901, 1199, 1200, 1201, 1499, 1500, 1501, 1600, 2000]
        ),
    ),
    (2, st.integers(501, 2000)),
    (1, st.integers(0, 2000)),
    (1, st.integers(0, 40)),
)


@st.composite
def sql_files(draw) -> SqlFile:
    n = draw(_SIZES)
    kinds = draw(st.lists(st.sampled_from(_FILLERS), min_size=1, max_size=4))
    lines = [kinds[i % len(kinds)](i + 1) for i in range(n)]
    if n:
        last = 1
        for _ in range(draw(st.integers(0, 12))):
            pos = draw(
                weighted(
                    (1, st.integers(1, 3)),
                    (2, st.integers(140, 172)),
                    (2, st.integers(480, 520)),
                    (3, st.integers(1, n)),
                    (3, st.integers(last - 25, last + 25)),
                    (1, st.integers(n - 25, n)),
                )
            )
            pos = min(max(pos, 1), n)
            last = pos
            content = draw(
                weighted(
                    (4, st.sampled_from(GO_LINES)),
                    (3, st.sampled_from(ROUTINE_LINES)),
                    (1, st.sampled_from(ROUTINE_LINES).flatmap(letter_case)),
                    (2, st.sampled_from(NEAR_MISS_LINES)),
                    (2, st.sampled_from(HINT_LINES)),
                )
            )
            lines[pos - 1] = content
    newline = draw(st.sampled_from(["\n", "\n", "\r\n", "\r"]))
    return SqlFile(
        lines=tuple(lines),
        newline=newline,
        bom=draw(st.integers(0, 3)) == 0,
        trailing=draw(st.integers(0, 3)) != 0,
    )
