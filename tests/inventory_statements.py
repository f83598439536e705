"""Cutting a script (T-SQL by default) into statements, for the cross-check against
sqlglot and its benchmark: at ";", batch separators and the keywords that
start a statement at parenthesis depth 0 (INSERT ... SELECT, CTEs, UPDATE
... SET, MERGE ... THEN UPDATE and CASE ... END stay whole).  Only the data
statements (SELECT, INSERT, UPDATE, DELETE, MERGE, WITH) are returned."""

from __future__ import annotations

import inventory_model as model

STARTERS = {
    "insert", "update", "delete", "merge", "set", "if", "while", "begin", "end", "exec", "execute", "return",
    "create", "alter", "drop", "truncate", "with", "select", "fetch", "open", "close", "deallocate", "commit",
    "rollback", "use", "grant", "declare", "print", "raiserror", "throw", "goto", "else", "waitfor",
}  # fmt: skip
DML = {"select", "insert", "update", "delete", "merge", "with"}
CONTINUES_AFTER = {"then", "on", "for", "union", "all", "except", "intersect", "as", "not"}


def statements(text: str, platform: str | None = None) -> list[str]:
    toks = model.tokenize(text, model.rules_of(platform))
    out: list[str] = []
    cur: list[model.Tok] = []
    depth = case = 0
    first: str | None = None
    seen: set[str] = set()

    def flush() -> None:
        nonlocal cur, first, seen, case
        if cur and first in DML:
            out.append(text[cur[0].begin : cur[-1].end])
        cur, first, seen, case = [], None, set(), 0

    for i, t in enumerate(toks):
        if t.type == "sep" or model.is_punct(t, ";"):
            flush()
            continue
        kw = t.kw if t.type == "word" else None
        if depth == 0 and kw in STARTERS and cur:
            prev = cur[-1].kw if cur[-1].type == "word" else None
            nxt = toks[i + 1] if i + 1 < len(toks) else None
            cont = prev in CONTINUES_AFTER
            if kw == "end" and case:
                case -= 1
                cont = True
            elif kw == "select" and first in ("insert", "with", "declare") and "select" not in seen:
                cont = True
            elif kw == "set" and "update" in seen and "set" not in seen:
                cont = True
            elif kw in ("insert", "update", "delete", "merge") and first == "with" and not seen & (DML - {"with"}):
                cont = True
            elif kw == "with" and (nxt is None or model.is_punct(nxt, "(") or nxt.kw in ("ties", "check")):
                cont = True
            elif kw in ("exec", "execute") and first == "insert" and "select" not in seen:
                cont = True
            if not cont:
                flush()
        if kw == "case":
            case += 1
        if model.is_punct(t, "("):
            depth += 1
        elif model.is_punct(t, ")"):
            depth = max(0, depth - 1)
        if not cur:
            first = kw
        if kw and depth == 0:
            seen.add(kw)
        cur.append(t)
    flush()
    return out
