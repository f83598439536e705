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
    # Patterns in lower case, over the case-folded text; each begins with a
    # word (a case-sensitive pattern that starts with a literal is searched
    # many times faster).  A match counts where a word starts; a pattern
    # written with a leading "^" only at the start of a line (after spaces).
    patterns: tuple[str, ...]
    why: str


def _verbs(verbs: str, rest: str) -> tuple[str, ...]:
    return tuple(verb + rest for verb in verbs.split())


# The text rules, tests first, matched on the text with its comments
# removed and its letter case folded (``str.casefold``).
RULES: tuple[Rule, ...] = (
    Rule(TESTS, "tsqlt", (r"tsqlt\s*\.",), "the tSQLt test framework and the tests that call it"),
    Rule(
        OPERATIONS,
        "agent_job",
        (
            r"sp_(?:add|update|delete)_(?:job\w*|schedule|category|operator|alert|notification)\b",
            r"sp_attach_schedule\b",
        ),
        "agent jobs, schedules and alerts (msdb.dbo.sp_add_job, sp_add_jobstep, ...)",
    ),
    Rule(
        OPERATIONS,
        "event_session",
        _verbs("create alter drop", r"\s+event\s+session\b"),
        "extended-event sessions: server monitoring",
    ),
    Rule(
        OPERATIONS,
        "security",
        (
            *_verbs("create alter drop", r"\s+(?:login|user|(?:server\s+|application\s+)?role)\b"),
            r"sp_(?:addlogin|adduser|addrolemember|addsrvrolemember|droprolemember|grantdbaccess|change_users_login)\b",
            *_verbs("^grant ^revoke ^deny", r"\b"),
        ),
        "logins, users, roles and permissions",
    ),
    Rule(OPERATIONS, "server_configuration", (r"sp_configure\b", r"^reconfigure\b"), "server configuration"),
    Rule(OPERATIONS, "backup", _verbs("backup restore", r"\s+(?:database|log)\b"), "backup and restore"),
    Rule(
        OPERATIONS,
        "dbcc",
        (
            (
                r"dbcc\s+(?:check(?!ident)\w*|shrink\w*|dbreindex|indexdefrag|free\w*cache|dropcleanbuffers|sqlperf"
                r"|traceo(?:n|ff)|updateusage|loginfo|opentran)\b"
            ),
        ),
        "consistency checks, shrinking, cache and trace control (DBCC; CHECKIDENT is data work)",
    ),
    Rule(
        OPERATIONS,
        "index_maintenance",
        (r"alter\s+index\b[^;]{0,300}?\b(?:rebuild|reorganize)\b", r"sp_updatestats\b"),
        "index rebuilds and reorganisation",
    ),
    Rule(
        OPERATIONS,
        "bteq_control",
        (r"^\.(?:logon|logoff|quit|exit|if\s+errorcode|goto|label|os|export|import|run|repeat)\b",),
        "Teradata BTEQ session and flow control",
    ),
)

# A folder or file named for tests: "test" or "tests" as a word, or ending
# a CamelCase name ("OrderTests.sql").
TEST_PATH = re.compile(r"(?i:(?<![a-z])tests?(?![a-z]))|(?<=[a-z])Tests?(?![a-z])")
TEST_PATH_WHY = "a folder or file named for tests"

_COMMENTS = re.compile(r"--[^\n]*|/\*.*?\*/", re.DOTALL)
_COMPILED = tuple(
    (rule, tuple((re.compile(p.removeprefix("^")), p.startswith("^")) for p in rule.patterns)) for rule in RULES
)


def _found(pattern: re.Pattern[str], line_start: bool, text: str) -> bool:
    for m in pattern.finditer(text):
        at = m.start()
        before = text[at - 1] if at else " "
        if before.isalnum() or before == "_":
            continue  # inside a word
        if line_start and text[text.rfind("\n", 0, at) + 1 : at].strip(" \t"):
            continue
        return True
    return False


def text_bucket(kind: str | None, text: str) -> str:
    """The bucket the text rules give a unit of ``kind`` (None: a whole
    file), or conversion."""
    folded = _COMMENTS.sub("", text).casefold()
    for rule, patterns in _COMPILED:
        if rule.bucket == OPERATIONS and kind is not None and kind not in OPERATION_KINDS:
            continue
        if any(_found(pattern, line_start, folded) for pattern, line_start in patterns):
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
