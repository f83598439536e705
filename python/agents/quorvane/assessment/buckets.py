"""Which work a unit of code is: "conversion" (the code base's own logic,
converted to Spark), "operations" (running the server: jobs, security,
configuration, backup, maintenance) or "tests" (test code and its
framework).  Operations and tests are listed and counted, but their hours
stay out of the conversion total.

The rules are the table ``RULES``, checked in order, the first match
deciding:

* a glob of the settings (``[tool.quorvane.buckets]``) matching the file's
  path names the bucket of every unit of the file;
* a folder or file named for tests (``tests/``, ``test_orders.sql``,
  ``OrderTests.sql``), below the folder the code base was found in, makes
  the file "tests";
* a text rule matching a unit's text, comments removed, names its bucket.
  The operations rules apply only to batches, procedures and triggers: a
  table, view or function is always conversion work.

A glob is matched, ignoring letter case, against the path and against every
part of it that starts after a ``/``: ``jobs/**`` matches ``etl/jobs/a.sql``;
``*`` and ``?`` stay within one folder name, ``**`` spans folders.
"""

from __future__ import annotations

import re
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field

CONVERSION = "conversion"
OPERATIONS = "operations"
TESTS = "tests"
BUCKETS = (CONVERSION, OPERATIONS, TESTS)
# The order in which the globs of the settings are tried.
OVERRIDE_ORDER = (CONVERSION, TESTS, OPERATIONS)

# The kinds of unit whose text can make them operations.
OPERATION_KINDS = frozenset({"batch", "procedure", "trigger"})


@dataclass(frozen=True)
class Rule:
    bucket: str
    name: str
    pattern: str
    why: str


# The text rules, tests first.  Matched case-insensitively, in multi-line
# mode, on the text with its comments removed.
RULES: tuple[Rule, ...] = (
    Rule(TESTS, "tsqlt", r"\btSQLt\s*\.", "the tSQLt test framework and the tests that call it"),
    Rule(
        OPERATIONS,
        "agent_job",
        r"\bsp_(?:add|update|delete)_(?:job\w*|schedule|category|operator|alert|notification)\b"
        r"|\bsp_attach_schedule\b",
        "agent jobs, schedules and alerts (msdb.dbo.sp_add_job, sp_add_jobstep, ...)",
    ),
    Rule(
        OPERATIONS,
        "event_session",
        r"\b(?:CREATE|ALTER|DROP)\s+EVENT\s+SESSION\b",
        "extended-event sessions: server monitoring",
    ),
    Rule(
        OPERATIONS,
        "security",
        r"\b(?:CREATE|ALTER|DROP)\s+(?:LOGIN|USER|(?:SERVER\s+|APPLICATION\s+)?ROLE)\b"
        r"|\bsp_(?:addlogin|adduser|addrolemember|addsrvrolemember|droprolemember|grantdbaccess|change_users_login)\b"
        r"|^\s*(?:GRANT|REVOKE|DENY)\b",
        "logins, users, roles and permissions",
    ),
    Rule(OPERATIONS, "server_configuration", r"\bsp_configure\b|^\s*RECONFIGURE\b", "server configuration"),
    Rule(OPERATIONS, "backup", r"\b(?:BACKUP|RESTORE)\s+(?:DATABASE|LOG)\b", "backup and restore"),
    Rule(
        OPERATIONS,
        "dbcc",
        r"\bDBCC\s+(?:CHECK(?!IDENT)\w*|SHRINK\w*|DBREINDEX|INDEXDEFRAG|FREE\w*CACHE|DROPCLEANBUFFERS|SQLPERF"
        r"|TRACEO(?:N|FF)|UPDATEUSAGE|LOGINFO|OPENTRAN)\b",
        "consistency checks, shrinking, cache and trace control (DBCC; CHECKIDENT is data work)",
    ),
    Rule(
        OPERATIONS,
        "index_maintenance",
        r"\bALTER\s+INDEX\b[^;]{0,300}?\b(?:REBUILD|REORGANIZE)\b|\bsp_updatestats\b",
        "index rebuilds and reorganisation",
    ),
    Rule(
        OPERATIONS,
        "bteq_control",
        r"^\s*\.(?:LOGON|LOGOFF|QUIT|EXIT|IF\s+ERRORCODE|GOTO|LABEL|OS|EXPORT|IMPORT|RUN|REPEAT)\b",
        "Teradata BTEQ session and flow control",
    ),
)

# A folder or file named for tests: "test" or "tests" as a word, or ending
# a CamelCase name ("OrderTests.sql").
TEST_PATH = re.compile(r"(?i:(?<![a-z])tests?(?![a-z]))|(?<=[a-z])Tests?(?![a-z])")
TEST_PATH_WHY = "a folder or file named for tests"

_COMMENTS = re.compile(r"--[^\n]*|/\*.*?\*/", re.DOTALL)
_COMPILED = tuple((rule, re.compile(rule.pattern, re.IGNORECASE | re.MULTILINE)) for rule in RULES)


def text_bucket(kind: str | None, text: str) -> str:
    """The bucket the text rules give a unit of ``kind`` (None: a whole
    file), or conversion."""
    stripped = _COMMENTS.sub("", text)
    for rule, pattern in _COMPILED:
        if rule.bucket == OPERATIONS and kind is not None and kind not in OPERATION_KINDS:
            continue
        if pattern.search(stripped):
            return rule.bucket
    return CONVERSION


def is_test_path(path: str) -> bool:
    return any(TEST_PATH.search(part) for part in re.split(r"[\\/]", path))


def glob_pattern(glob: str) -> re.Pattern[str]:
    """A glob as a pattern over a path or any of its tails."""
    out = []
    i = 0
    while i < len(glob):
        if glob.startswith("**", i):
            out.append(".*")
            i += 2
            if glob.startswith("/", i):
                out[-1] = "(?:.*/)?"
                i += 1
        elif glob[i] == "*":
            out.append("[^/]*")
            i += 1
        elif glob[i] == "?":
            out.append("[^/]")
            i += 1
        else:
            out.append(re.escape(glob[i]))
            i += 1
    return re.compile(r"(?:^|/)" + "".join(out) + r"\Z", re.IGNORECASE | re.DOTALL)


@dataclass(frozen=True)
class BucketRules:
    """The globs of the settings, by bucket (as written, for messages)."""

    globs: Mapping[str, Sequence[str]]
    _compiled: Mapping[str, Sequence[re.Pattern[str]]] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        compiled = {b: tuple(glob_pattern(g) for g in self.globs.get(b, ())) for b in OVERRIDE_ORDER}
        object.__setattr__(self, "_compiled", compiled)

    def path_bucket(self, path: str, base: str = "") -> str | None:
        """The bucket a file's path decides, or None: the text decides.
        Only the folders below ``base`` (the folder the code base was found
        in) can be named for tests: a code base checked out under
        ``/home/me/tests/`` is not all tests."""
        path = path.replace("\\", "/")
        for bucket in OVERRIDE_ORDER:
            if any(p.search(path) for p in self._compiled[bucket]):
                return bucket
        base = base.replace("\\", "/").rstrip("/")
        below = path[len(base) + 1 :] if base and path.startswith(base + "/") else path
        return TESTS if is_test_path(below) else None


DEFAULT_RULES = BucketRules({})
