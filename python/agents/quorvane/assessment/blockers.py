"""Blockers: constructs with no mechanical equivalent on Spark.

:data:`CATALOGUE` is the one table of blocker kinds: each with its
identifier, the platforms whose code it applies to, the pattern it matches
and why Spark has nothing that does the same.  A pattern is matched in the
code only: the native marker scanner (``dialectra.MarkerScanner``) cuts
comments out and skips matches that begin inside a single-quoted literal,
so a comment or a string never produces a blocker.  That includes the text
of dynamic SQL (``EXEC('…')``, ``sp_executesql N'…'``): what it would run is
not known until it runs, and the row's ``dynamic_sql`` says so already.

A kind is looked for in a file whose platform (detected, or given with
``--platform``; on a tie, any of the tied ones) is one of the kind's
platforms, and in a file with no platform evidence at all unless its syntax
means something else elsewhere (``own_platforms_only``): ``a.b.c`` is a
column of a table on Oracle, a table of another database on SQL Server.

Two kinds are decided from more than a match:

* ``cross_database``: a three-part name ``db.schema.object`` (or
  ``db..object``) whose database is not the code base's own.  Own are the
  databases the code base creates (``CREATE DATABASE``) or switches to
  (``USE``) in any file, those named with ``--database``, and ``tempdb``.
  A first part that is a schema (``dbo``, ``sys``, ``INFORMATION_SCHEMA``,
  ``guest``, or the schema of an object the code base defines) makes a
  column reference ``schema.table.column``, not a database.  Whether a name
  is own is known only when every file is read: :func:`settle` drops the
  own ones from the rows after the run.
* ``cross_batch_transaction``: a ``BEGIN TRAN`` still open (by the count of
  ``BEGIN TRAN``, ``COMMIT`` and ``ROLLBACK`` before it, a ``ROLLBACK``
  closing every level) when a ``GO`` line ends its batch.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Sequence
from dataclasses import dataclass, replace
from functools import cache
from typing import Any

from agents.quorvane.assessment.record import BLOCKER_TEXT_LIMIT, Blocker, FileResult, Row
from agents.quorvane.platforms import (
    PLATFORM_ORACLE,
    PLATFORM_SNOWFLAKE,
    PLATFORM_SQLSERVER,
    PLATFORM_TERADATA,
)

# The first character of a plain identifier: a letter or "_".
_START = r"(?![0-9])\w"
# A name part: [bracketed], "quoted" or a plain identifier.
_PART_TEXT = rf'\[[^\]\r\n]+\]|"[^"\r\n]+"|{_START}[\w$#@]*'
_PART = rf"(?:{_PART_TEXT})"
# Where a name of three parts or more may be: two dots with at most one part
# between them.  The scan starts at a dot (a quick search); the name around
# it is read from its line (``_dotted_name``).
_DOTS = r'\.(?:\[[^\]\r\n]*\]|"[^"\r\n]*"|[\w$#@]*)\.'
# A whole dotted name, read where a scan found its dots; the name after the
# keywords of a USE or CREATE DATABASE.
# (Not after "/" or ":": a host name of a URL in a bracketed name.)
_DOTTED = re.compile(rf'(?<![\w$#@.\]"/:]){_PART}(?:\.{_PART}?)*')
_LAST_PART = re.compile(rf"{_PART}$")
_NAME_PIECES = re.compile(r'\[[^\]]*\]|"[^"]*"|[^.]+|\.')
# Methods of the xml, hierarchyid and spatial types, called on a column as
# table.column.method(…), and the spatial properties: a column, not a name.
_TYPE_METHODS = frozenset(
    {"value", "query", "exist", "nodes", "modify", "getancestor", "getdescendant", "getlevel",
     "getreparentedvalue", "isdescendantof", "tostring", "read", "write"}
)  # fmt: skip
_SPATIAL_METHOD = re.compile(r"ST[A-Z]\w*")
_TYPE_PROPERTIES = frozenset({"lat", "long"})
_CALL = re.compile(r"\s*\(")
# A link name after "@", and the object before it: object@link.
_LINKED = re.compile(r"[\w$#.]*@[\w$#.]+")
# Characters either side of a match read to complete its construct.
_WINDOW = 512

CROSS_DATABASE = "cross_database"
FOUR_PART_NAME = "four_part_name"
DATABASE_LINK = "database_link"
CROSS_BATCH_TRANSACTION = "cross_batch_transaction"


@dataclass(frozen=True)
class BlockerKind:
    id: str
    platforms: tuple[str, ...]
    pattern: str | None  # None: decided from the signals below
    matches: str  # what it matches, in words
    reason: str  # why Spark has no mechanical equivalent
    # Looked for only in files of its platforms: the syntax means something
    # else on others (a.b.c is a column on Oracle).  Other kinds are looked
    # for in files without platform evidence too.
    own_platforms_only: bool = False


MSSQL = (PLATFORM_SQLSERVER,)

CATALOGUE: tuple[BlockerKind, ...] = (
    BlockerKind(
        "linked_server", MSSQL,
        r"\bsp_(?:addlinkedserver|addlinkedsrvlogin|droplinkedsrvlogin|dropserver|serveroption|testlinkedserver)\b"
        rf"|(?<=\))AT\s+(?!TIME\s+ZONE\b){_PART}|(?<=\)\s)AT\s+(?!TIME\s+ZONE\b){_PART}",
        "`sp_addlinkedserver` and the other linked-server procedures; `EXEC (…) AT server`",
        "runs SQL on another server through the database server; Spark reads each source through its own connector",
    ),
    BlockerKind(
        FOUR_PART_NAME, MSSQL, None,
        "`server.database.schema.object` (and `server.database..object`)",
        "names an object on a linked server; Spark has no linked servers",
        own_platforms_only=True,
    ),
    BlockerKind(
        "openquery", MSSQL, rf"\bOPENQUERY\s*\(\s*{_PART}",
        "`OPENQUERY(server, …)`",
        "passes a query as text to a linked server; the remote source needs its own connector",
    ),
    BlockerKind(
        "openrowset", MSSQL, r"\bOPENROWSET\s*\(",
        "`OPENROWSET(…)`",
        "opens an ad hoc connection or a server-side file through an OLE DB provider",
    ),
    BlockerKind(
        "opendatasource", MSSQL, r"\bOPENDATASOURCE\s*\(",
        "`OPENDATASOURCE(…)`",
        "opens an ad hoc connection through an OLE DB provider",
    ),
    BlockerKind(
        "xp_cmdshell", MSSQL, r"\bxp_cmdshell\b",
        "`xp_cmdshell`",
        "runs an operating-system command on the database server",
    ),
    BlockerKind(
        "extended_procedure", MSSQL, r"\bxp_(?!cmdshell\b)\w+",
        "any other `xp_` procedure",
        "calls native code inside the database server (files, registry, mail, logins)",
    ),
    BlockerKind(
        "ole_automation", MSSQL, r"\bsp_OA\w+",
        "`sp_OACreate`, `sp_OAMethod` and the other `sp_OA` procedures",
        "creates and drives COM objects on the database server",
    ),
    BlockerKind(
        "clr", MSSQL, rf"\b(?:CREATE|ALTER)\s+ASSEMBLY\b|\bEXTERNAL\s+NAME\s+{_PART}(?:\.{_PART})*",
        "`CREATE ASSEMBLY`, `ALTER ASSEMBLY`, `EXTERNAL NAME`",
        ".NET code loaded into the server; it must be rewritten, as Python or a JVM function",
    ),
    BlockerKind(
        CROSS_DATABASE, MSSQL, None,
        "`database.schema.object` and `database..object`, the database not the code base's own",
        "reads or writes a database outside the code base; where its data lives on Spark must be decided first",
        own_platforms_only=True,
    ),
    BlockerKind(
        "service_broker", MSSQL,
        r"\bSEND\s+ON\s+CONVERSATION\b|\bBEGIN\s+DIALOG\b|\bEND\s+CONVERSATION\b|\bGET\s+CONVERSATION\s+GROUP\b"
        r"|\bRECEIVE\s+(?:TOP\b|\*)|\b(?:CREATE|ALTER)\s+(?:QUEUE|CONTRACT|MESSAGE\s+TYPE|ROUTE)\b",
        "`SEND ON CONVERSATION`, `BEGIN DIALOG`, `RECEIVE`, queues, contracts, message types, routes",
        "queues messages inside the server; Spark has no queues: a messaging service must take their place",
    ),
    BlockerKind(
        "database_mail", MSSQL, r"\bsp_send_dbmail\b",
        "`sp_send_dbmail`",
        "sends e-mail from the database server",
    ),
    BlockerKind(
        "filestream", MSSQL, r"\bFILESTREAM(?:_ON)?\b|\bFILETABLE\b|\bGET_FILESTREAM_TRANSACTION_CONTEXT\b",
        "`FILESTREAM`, `FILETABLE`",
        "keeps files in the server's file system under its transactions",
    ),
    BlockerKind(
        "waitfor", MSSQL, r"\bWAITFOR\b(?:\s+(?:DELAY|TIME)\b)?",
        "`WAITFOR DELAY`, `WAITFOR TIME`, `WAITFOR (RECEIVE …)`",
        "pauses a batch or waits for a message; a Spark job does not wait inside a query",
    ),
    BlockerKind(
        "distributed_transaction", MSSQL, r"\bBEGIN\s+DISTRIBUTED\s+TRAN(?:SACTION)?\b",
        "`BEGIN DISTRIBUTED TRANSACTION`",
        "commits across servers through a transaction coordinator",
    ),
    BlockerKind(
        CROSS_BATCH_TRANSACTION, MSSQL, None,
        "`BEGIN TRAN` still open at the `GO` that ends its batch",
        "a transaction held open across batches; Spark commits each write on its own",
    ),
    BlockerKind(
        DATABASE_LINK, (PLATFORM_ORACLE,),
        rf"(?<=[\w$#])@{_START}|\bCREATE\s+(?:SHARED\s+)?(?:PUBLIC\s+)?DATABASE\s+LINK\b",
        "`object@dblink`, `CREATE DATABASE LINK`",
        "reads another database through the server; Spark reads each source through its own connector",
        own_platforms_only=True,
    ),
    BlockerKind(
        "utl_file", (PLATFORM_ORACLE,), r"\bUTL_FILE\b",
        "`UTL_FILE`",
        "reads and writes files on the database server",
    ),
    BlockerKind(
        "utl_network", (PLATFORM_ORACLE,), r"\bUTL_(?:HTTP|SMTP|TCP|MAIL)\b",
        "`UTL_HTTP`, `UTL_SMTP`, `UTL_TCP`, `UTL_MAIL`",
        "talks to the network from inside the database server",
    ),
    BlockerKind(
        "dbms_package", (PLATFORM_ORACLE,), r"\bDBMS_(?!OUTPUT\b)\w+",
        "`DBMS_*` packages but `DBMS_OUTPUT` (printing, which logging replaces)",
        "server packages (jobs, locks, pipes, queues, LOBs, statistics) with no counterpart in Spark",
    ),
    BlockerKind(
        "external_function", (PLATFORM_SNOWFLAKE,),
        r"\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:SECURE\s+)?EXTERNAL\s+FUNCTION\b|\bAPI\s+INTEGRATION\b",
        "`CREATE EXTERNAL FUNCTION`, `API INTEGRATION`",
        "calls a remote service through the warehouse's API gateway",
    ),
    BlockerKind(
        "stage", (PLATFORM_SNOWFLAKE,),
        rf"@~|@%{_START}|\bCREATE\s+(?:OR\s+REPLACE\s+)?(?:TEMP(?:ORARY)?\s+)?STAGE\b|\bPUT\s+'?file://"
        rf"|\b(?:GET|LIST|LS|REMOVE|RM)\s+'?@[~%]?[\w$#./]*|\bFROM\s+'?@{_START}[\w$#./]*",
        "stages (`@stage`, `@~`, `@%table`), `CREATE STAGE`, `PUT`, `GET`, `LIST`, `REMOVE`",
        "moves files through the warehouse's own storage areas; Spark reads the object store directly",
        own_platforms_only=True,
    ),
    BlockerKind(
        "bteq_os", (PLATFORM_TERADATA,), r"^[ \t]*\.OS\b",
        "BTEQ `.OS` commands",
        "runs an operating-system command from the script",
    ),
)  # fmt: skip

KINDS = {k.id: k for k in CATALOGUE}

# What the rules of the kinds without a pattern read: signal name ->
# (pattern, the kinds that need it).
_SIGNALS: dict[str, tuple[str, tuple[str, ...]]] = {
    "begin_tran": (r"\bBEGIN\s+TRAN(?:SACTION)?\b", (CROSS_BATCH_TRANSACTION,)),
    "commit": (r"\bCOMMIT\b", (CROSS_BATCH_TRANSACTION,)),
    "rollback": (r"\bROLLBACK\b", (CROSS_BATCH_TRANSACTION,)),
    "go": (r"^[ \t]*GO\b", (CROSS_BATCH_TRANSACTION,)),
    "dots": (_DOTS, (CROSS_DATABASE, FOUR_PART_NAME)),
    "use": (rf"\bUSE\s+(?:DATABASE\s+)?{_PART}", (CROSS_DATABASE,)),
    "create_database": (rf"\bCREATE\s+DATABASE\s+{_PART}", (CROSS_DATABASE,)),
    "create_schema": (rf"\bCREATE\s+SCHEMA\s+{_PART}", (CROSS_DATABASE,)),
}

# Schemas every SQL Server database has; a three-part name starting with one
# is a column reference.
BUILTIN_SCHEMAS = frozenset({"dbo", "sys", "information_schema", "guest"})
# Databases that are part of every server's code base (temporary tables).
BUILTIN_DATABASES = frozenset({"tempdb"})


@cache
def _scanner(kinds: frozenset[str]) -> tuple[Any, tuple[str, ...]]:
    """The scanner over the patterns of ``kinds`` and the signals they need,
    compiled once per set of kinds (one per platform), and the name of each
    row."""
    from agents.quorvane.dialectra import MarkerScanner

    rows = [(k.id, k.pattern) for k in CATALOGUE if k.pattern and k.id in kinds]
    rows += [(name, pattern) for name, (pattern, users) in _SIGNALS.items() if kinds.intersection(users)]
    return MarkerScanner([(pattern, False) for _, pattern in rows]), tuple(name for name, _ in rows)


@dataclass(frozen=True)
class Findings:
    """A file's blockers (``cross_database`` ones still unsettled), the
    databases it creates or switches to and the schemas it creates
    (case-folded)."""

    blockers: tuple[Blocker, ...]
    databases: frozenset[str]
    schemas: frozenset[str]


@cache
def _wanted(platforms: tuple[str, ...]) -> frozenset[str]:
    return frozenset(k.id for k in CATALOGUE if applies(k, platforms))


def applies(kind: BlockerKind, platforms: Iterable[str]) -> bool:
    """Whether ``kind`` is looked for in a file of these platforms (empty:
    the file has no platform evidence)."""
    platforms = tuple(platforms)
    if not platforms:
        return not kind.own_platforms_only
    return any(p in kind.platforms for p in platforms)


def _construct(text: str, start: int, end: int) -> str:
    """The matched text on its first line, whitespace runs as one space,
    cut to the limit."""
    first = text[start : min(end, start + 4 * BLOCKER_TEXT_LIMIT)].splitlines()
    shown = " ".join(first[0].split()) if first else ""
    return shown if len(shown) <= BLOCKER_TEXT_LIMIT else shown[: BLOCKER_TEXT_LIMIT - 1] + "…"


def unquote(part: str) -> str:
    """A name part without its brackets or quotes, case-folded."""
    if len(part) >= 2 and (part[0], part[-1]) in (("[", "]"), ('"', '"')):
        part = part[1:-1]
    return part.casefold()


_FIRST_PART = re.compile(r'\[[^\]]*\]|"[^"]*"|[^.\s]+')


def database_of(text: str) -> str:
    """The database (first part) of a three-part name's text, case-folded."""
    found = _FIRST_PART.match(text)
    return unquote(found.group()) if found else ""


def _named(text: str) -> str:
    """The name after the keywords of a USE or CREATE DATABASE match."""
    found = _LAST_PART.search(text)
    return unquote(found.group()) if found else ""


def _line_window(text: str, start: int, end: int) -> tuple[int, int]:
    """Bounds of the text around [start, end) on the same line, at most
    ``_WINDOW`` characters either side."""
    low = max(0, start - _WINDOW)
    high = min(len(text), end + _WINDOW)
    before = text[low:start]
    cut = max(before.rfind("\n"), before.rfind("\r"))
    after = text[end:high]
    stops = [i for i in (after.find("\n"), after.find("\r")) if i >= 0]
    return (low + cut + 1 if cut >= 0 else low), (end + min(stops) if stops else high)


def _part_start(text: str, end: int, low: int) -> int:
    """Where the name part that ends at ``end`` starts (``end`` itself for
    an empty part)."""
    if end > low and text[end - 1] in ']"':
        opener = text.rfind("[" if text[end - 1] == "]" else '"', low, end - 1)
        return opener if opener >= 0 else end
    i = end
    while i > low and (text[i - 1].isalnum() or text[i - 1] in "_$#@"):
        i -= 1
    return i


def _dotted_name(text: str, at: int) -> tuple[int, int, list[str]] | None:
    """The dotted name that holds the dot at ``at``: its bounds and its
    parts ("" for an empty one, as in db..object)."""
    low = max(0, at - _WINDOW)
    start = _part_start(text, at, low)
    while start > low and text[start - 1] == ".":
        start = _part_start(text, start - 1, low)
    line_start = max(text.rfind("\n", low, start), text.rfind("\r", low, start)) + 1
    if text.rfind("[", line_start, start) > text.rfind("]", line_start, start):
        return None  # words inside a bracketed name ([Details: db.table.index])
    m = _DOTTED.match(text, start, min(len(text), at + _WINDOW))
    if m is None or m.end() <= at:
        return None
    parts = [""]
    for piece in _NAME_PIECES.findall(m.group()):
        if piece == ".":
            parts.append("")
        else:
            parts[-1] = piece
    return m.start(), m.end(), parts


def _name_blocker(text: str, at: int, line: int, wanted: frozenset[str]) -> tuple[Blocker, int, int] | None:
    """A four-part name, or a three-part one of a database that is not a
    built-in one, at the dot ``at``."""
    found = _dotted_name(text, at)
    if found is None:
        return None
    start, end, parts = found
    if not parts[-1]:
        return None
    if len(parts) == 4 and FOUR_PART_NAME in wanted:
        kind = FOUR_PART_NAME
    elif len(parts) == 3 and CROSS_DATABASE in wanted:
        last = unquote(parts[-1])
        if last in _TYPE_PROPERTIES:
            return None
        if (last in _TYPE_METHODS or _SPATIAL_METHOD.fullmatch(parts[-1].strip('[]"'))) and _CALL.match(text, end):
            return None
        if unquote(parts[0]) in BUILTIN_DATABASES or unquote(parts[0]) in BUILTIN_SCHEMAS:
            return None
        kind = CROSS_DATABASE
    else:
        return None
    return Blocker(kind, line, _construct(text, start, end)), start, end


def _linked(text: str, start: int, end: int) -> tuple[int, int]:
    """The whole object@link around a match of its "@"."""
    low, high = _line_window(text, start, end)
    for m in _LINKED.finditer(text, low, high):
        if m.start() <= start < m.end():
            return m.start(), m.end()
    return start, end


def find_blockers(text: str, platforms: Iterable[str] = ()) -> Findings:
    """The blockers of ``text``, ordered by line, then kind, for a file of
    ``platforms``."""
    wanted = _wanted(tuple(platforms))
    if not wanted:
        return Findings((), frozenset(), frozenset())
    scanner, names = _scanner(wanted)
    found: list[tuple[Blocker, int, int]] = []
    databases: set[str] = set()
    schemas: set[str] = set()
    open_tran: list[Blocker] = []
    named: set[int] = set()  # starts of the dotted names read
    for row, line, start, end in scanner.all_matches(text):
        name = names[row]
        if name in ("use", "create_database"):
            databases.add(_named(_construct(text, start, end)))
        elif name == "create_schema":
            schemas.add(_named(_construct(text, start, end)))
        elif name == "begin_tran":
            open_tran.append(Blocker(CROSS_BATCH_TRANSACTION, line, _construct(text, start, end)))
        elif name == "commit":
            if open_tran:
                open_tran.pop()
        elif name == "rollback":
            open_tran.clear()
        elif name == "go":
            if open_tran:
                found.append((open_tran[0], start, start))
            open_tran.clear()
        elif name == "dots":
            blocker = _name_blocker(text, start, line, wanted)
            if blocker is not None and blocker[1] not in named:
                named.add(blocker[1])
                found.append(blocker)
        elif name == DATABASE_LINK and text[start] == "@":
            a, b = _linked(text, start, end)
            found.append((Blocker(name, line, _construct(text, a, b)), a, b))
        else:
            found.append((Blocker(name, line, _construct(text, start, end)), start, end))
    # A three-part name that is part of another blocker (msdb.dbo.sp_send_dbmail,
    # EXTERNAL NAME assembly.class.method) is that blocker alone.
    others = [(start, end) for b, start, end in found if b.kind != CROSS_DATABASE and end > start]
    kept = [
        b for b, start, end in found if b.kind != CROSS_DATABASE or not any(s < end and start < e for s, e in others)
    ]
    kept.sort(key=lambda b: (b.line, b.kind))
    databases.discard("")
    schemas.discard("")
    return Findings(tuple(kept), frozenset(databases), frozenset(schemas))


def schema_of(object_name: str | None) -> str | None:
    """The schema of an object the inventory names ("etl.load" -> "etl"),
    case-folded; None for a name without one."""
    if not object_name or "." not in object_name:
        return None
    return object_name.rsplit(".", 1)[0].rsplit(".", 1)[-1].casefold()


def in_lines(blockers: Sequence[Blocker] | None, first: int, last: int) -> tuple[Blocker, ...] | None:
    """The blockers on lines ``first`` to ``last``."""
    if blockers is None:
        return None
    return tuple(b for b in blockers if first <= b.line <= last)


def own_names(results: Sequence[FileResult], databases: Iterable[str] = ()) -> tuple[frozenset[str], frozenset[str]]:
    """The code base's own databases (named, created or switched to, and the
    built-in ones) and schemas (built-in, created, or of an object it
    defines), case-folded."""
    own_databases = set(BUILTIN_DATABASES) | {unquote(d) for d in databases}
    own_schemas = set(BUILTIN_SCHEMAS)
    for r in results:
        own_databases |= r.databases
        own_schemas |= r.schemas
    return frozenset(own_databases), frozenset(own_schemas)


def settle(results: Sequence[FileResult], databases: Iterable[str] = ()) -> list[FileResult]:
    """``results`` without the cross-database blockers of the code base's
    own databases and schemas (see :func:`own_names`); ``databases`` names
    more own databases."""
    own_databases, own_schemas = own_names(results, databases)
    foreign = own_databases | own_schemas

    def keep(row: Row) -> Row:
        if not row.blockers:
            return row
        kept = tuple(b for b in row.blockers if b.kind != CROSS_DATABASE or database_of(b.text) not in foreign)
        return row if len(kept) == len(row.blockers) else replace(row, blockers=kept)

    settled = []
    for r in results:
        file_row = keep(r.file)
        objects = tuple(keep(o) for o in r.objects)
        if file_row is r.file and all(a is b for a, b in zip(objects, r.objects)):
            settled.append(r)
        else:
            settled.append(replace(r, file=file_row, objects=objects))
    return settled
