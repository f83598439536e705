"""A generated T-SQL code base of a known shape, for the graph tests: tables
and procedures in five schemas, spread over four folders, procedures that
read and write tables and call the previous procedure, a batch at the end
of each procedure file, and a missing table now and then.  ``depends`` says
what each name depends on, so that a test can tell a neighbourhood."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

SCHEMAS = 5
FOLDERS = 4
PER_FILE = 50


@dataclass
class CodeBase:
    objects: int = 0
    batches: int = 0
    missing: set[str] = field(default_factory=set)
    depends: dict[str, set[str]] = field(default_factory=dict)  # name -> names it reads, writes or calls

    def around(self, name: str, hops: int) -> set[str]:
        """``name`` and what lies ``hops`` links down (what it depends on)
        and, separately, up (what depends on it)."""
        users: dict[str, set[str]] = {}
        for user, needs in self.depends.items():
            for need in needs:
                users.setdefault(need, set()).add(user)
        found = {name}
        for step in (self.depends, users):
            frontier = {name}
            for _ in range(hops):
                frontier = {m for n in frontier for m in step.get(n, ())}
                found |= frontier
        return found


def table(i: int) -> str:
    return f"s{i % SCHEMAS}.t{i}"


def proc(i: int) -> str:
    return f"s{i % SCHEMAS}.p{i}"


def write_codebase(root: Path, tables: int, procs: int) -> CodeBase:
    """``tables`` tables, ``procs`` procedures and one batch per file of
    procedures (PER_FILE - 1 procedures and the batch)."""
    base = CodeBase()
    for start in range(0, tables, PER_FILE):
        folder = root / f"area{start // PER_FILE % FOLDERS}"
        folder.mkdir(exist_ok=True)
        ids = range(start, min(start + PER_FILE, tables))
        (folder / f"tables_{start}.sql").write_text("".join(f"CREATE TABLE {table(i)} (id INT);\nGO\n" for i in ids))
        base.objects += len(ids)
        base.depends.update((table(i), set()) for i in ids)
    per_file = PER_FILE - 1
    for n, start in enumerate(range(0, procs, per_file)):
        folder = root / f"area{n % FOLDERS}"
        folder.mkdir(exist_ok=True)
        parts = []
        for i in range(start, min(start + per_file, procs)):
            reads, writes = table(i % tables), table(i * 7 % tables)
            body = [f"  SELECT id FROM {reads};", f"  INSERT INTO {writes} (id) VALUES (1);"]
            needs = {reads, writes}
            if i % 3:
                body.append(f"  EXEC {proc(i - 1)};")
                needs.add(proc(i - 1))
            if i % 50 == 0:
                gone = f"ext.gone{i}"
                body.append(f"  SELECT id FROM {gone};")
                needs.add(gone)
                base.missing.add(gone)
            parts.append(f"CREATE PROCEDURE {proc(i)} AS\nBEGIN\n" + "\n".join(body) + "\nEND\nGO\n")
            base.depends[proc(i)] = needs
            base.objects += 1
        parts.append(f"UPDATE {table(start % tables)} SET id = 2;\nGO\n")
        base.objects += 1
        base.batches += 1
        (folder / f"procs_{start}.sql").write_text("".join(parts))
    return base
