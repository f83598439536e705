"""Realistic query logs from the corpus statements, with known templates.

Each base statement (a corpus data statement of 100 to 1,500 characters
that ends inside nothing, plus a few written here for the rules the corpus
rarely shows) is one planted template.  Every logged row is a variation of
its base that must not change its fingerprint: other literal values, other
lengths of literal IN lists and VALUES rows, other spacing (with comments
in the gaps), other letter case of keywords and names, and temporary names
with other run-specific digits or hex.  ``generate`` returns the rows and
the index of the planted template of each.

    python3 bench/workload_gen.py OUT.{csv,jsonl,parquet} [--rows N] [--seed S]
"""

from __future__ import annotations

import argparse
import datetime as dt
import functools
import random
import re
import sys
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import inventory_model as model  # noqa: E402
from corpus import corpus_files  # noqa: E402
from inventory_statements import statements  # noqa: E402

from agents.quorvane import inventory  # noqa: E402
from agents.quorvane.assessment.statements import ROUND_LENGTHS  # noqa: E402

SYNTHETIC = [
    "SELECT o.OrderId, o.Total FROM dbo.Orders o WHERE o.CustomerId IN (1, 2, 3) AND o.OrderDate >= '2026-01-01'",
    "INSERT INTO dbo.Events (Id, Kind, At) VALUES (1, 'a', '2026-01-01'), (2, 'b', '2026-01-02')",
    "SELECT * INTO #stage_20261208_1532 FROM staging.Feed WHERE BatchId = 42",
    "DELETE FROM [load_8f3a9b2c4d5e6f70] WHERE Id = 5 AND Region IN (N'north', N'south')",
    "UPDATE dbo.Customers SET Segment = 'gold', Score = 97.5 WHERE CustomerId = 1042",
]
GAPS = [" ", "  ", "\n", "\n    ", "\t", " /* note */ ", " -- note\n"]
HEX_RUN = re.compile(r"(?<![0-9A-Za-z])[0-9a-f]{8,}(?![0-9A-Za-z])")
TEMP_DIGITS = re.compile(r"(?<=_)[0-9]{3,}")
USERS = [f"user{n:02d}" for n in range(40)]


@dataclass(frozen=True)
class Base:
    text: str
    tokens: list[model.Tok]


@functools.lru_cache(maxsize=4)
def bases(limit: int | None = None) -> list[Base]:
    """The planted templates: synthetic ones first, then corpus statements,
    one per distinct shape."""
    out: list[Base] = []
    seen: set[int] = set()

    def take(texts: list[str]) -> bool:
        for text in texts:
            fp = inventory.fingerprint(text)
            if fp.unterminated or fp.hash in seen:
                continue
            seen.add(fp.hash)
            out.append(Base(text, model.tokenize(text)))
            if limit is not None and len(out) >= limit:
                return True
        return False

    if not take(SYNTHETIC):
        for path in corpus_files():
            text = path.read_text(encoding="utf-8", errors="replace")
            if take([s for s in statements(text) if 100 <= len(s) <= 1500]):
                break
    return out


def _literal(rng: random.Random, like: model.Tok) -> str:
    if like.type == "string":
        prefix = like.text[: like.text.index("'")]
        return f"{prefix}'{rng.choice(['x', 'north', 'OBrien', '2026-12-08', ''])}{rng.randrange(1000)}'"
    return str(rng.randrange(100_000))


def _plain_number(t: model.Tok) -> bool:
    return t.type == "number" and t.text.isdigit()


def _literal_list(k: list[model.Tok], i: int) -> int:
    """End (after ")") of a list of plain literals opening at k[i], or 0."""
    if not (i < len(k) and model.is_punct(k[i], "(")):
        return 0
    j = i + 1
    while j < len(k) and (k[j].type == "string" or _plain_number(k[j])):
        j += 1
        if j < len(k) and model.is_punct(k[j], ")"):
            return j + 1
        if not (j < len(k) and model.is_punct(k[j], ",")):
            return 0
        j += 1
    return 0


def _case(rng: random.Random, word: str) -> str:
    return "".join(c.swapcase() if c.isascii() and c.isalpha() and rng.random() < 0.5 else c for c in word)


def _name(rng: random.Random, word: str) -> str:
    if word.startswith("#"):
        word = TEMP_DIGITS.sub(lambda m: str(rng.randrange(10 ** (len(m.group()) - 1), 10 ** len(m.group()))), word)
    return HEX_RUN.sub(lambda m: "".join(rng.choice("0123456789abcdef") for _ in m.group()[:-1]) + "7", word)


def vary(base: Base, rng: random.Random) -> str:
    """One logged variation of ``base``."""
    text, k = base.text, base.tokens
    out: list[str] = [text[: k[0].begin]] if k else [text]
    i = 0
    while i < len(k):
        t = k[i]
        if t.type == "word" and t.text.casefold() in ("in", "values"):
            end = _literal_list(k, i + 1)
            if end:
                first = k[i + 2]
                n = rng.randint(1, 5)
                if t.text.casefold() == "in":
                    body = "(" + ", ".join(_literal(rng, first) for _ in range(n)) + ")"
                else:
                    row = k[i + 1 : end]
                    body = ", ".join(
                        "(" + ", ".join(_literal(rng, x) for x in row if x.type != "punct") + ")" for _ in range(n)
                    )
                    # later rows of the same length collapse too; keep the rest as written
                out.append(_case(rng, t.text) + " " + body)
                i = end
                out.append(_gap(rng, k, i, text))
                continue
        parameter = i > 0 and model.is_punct(k[i - 1], "$") and k[i - 1].end == t.begin  # "$1"
        if t.type == "string" or (_plain_number(t) and not parameter):
            piece = _literal(rng, t)
        elif t.type == "word" and t.kw is not None:
            piece = _case(rng, t.text)
        elif t.type == "word":
            piece = _case(rng, _name(rng, t.text))
        elif t.type == "quoted":
            piece = _name(rng, t.text)
        else:
            piece = t.text
        out.append(piece)
        i += 1
        out.append(_gap(rng, k, i, text))
    varied = "".join(out)
    # Never a length that looks like a cut: a statement the log kept whole.
    return varied + " " if len(varied) in ROUND_LENGTHS else varied


def _gap(rng: random.Random, k: list[model.Tok], i: int, text: str) -> str:
    """The gap before k[i]: other whitespace where the text had some, and
    never a line break next to what a line of its own would change."""
    if i >= len(k):
        return ""
    gap = text[k[i - 1].end : k[i].begin]
    if not gap or gap.strip():
        return gap
    near = (k[i - 1], k[i])
    if any(t.type == "punct" and t.ch == "/" or t.type == "word" and t.text.casefold() in ("go", "delimiter")
           or t.type in ("dopen", "dclose") for t in near):  # fmt: skip
        return " "
    return rng.choice(GAPS)


def generate(rows: int, seed: int = 1, templates: int = 400) -> tuple[list[str], list[int]]:
    """``rows`` logged statements and the planted template of each; template
    popularity follows a long tail."""
    rng = random.Random(seed)
    planted = bases(templates)
    weights = [1.0 / (r + 1) for r in range(len(planted))]
    which = rng.choices(range(len(planted)), weights=weights, k=rows)
    return [vary(planted[w], rng) for w in which], which


def log_rows(texts: list[str], seed: int = 1) -> Iterator[dict[str, object]]:
    rng = random.Random(seed)
    start = dt.datetime(2026, 12, 1, tzinfo=dt.timezone.utc)
    for n, text in enumerate(texts):
        yield {
            "query_text": text,
            "execution_count": rng.randint(1, 20),
            "user_name": rng.choice(USERS),
            "start_time": (start + dt.timedelta(seconds=n * 7)).isoformat(),
        }


# Rows per Parquet row group: about 40 MB of these statements, as a
# warehouse export writes them (one reader's unit of work; pyarrow's own
# default of a million rows makes 400 MB groups that a 1 GB executor heap
# cannot read two at a time).
ROW_GROUP_ROWS = 100_000


def write_log(path: str, texts: list[str], seed: int = 1) -> None:
    import pyarrow as pa

    table = pa.Table.from_pylist(list(log_rows(texts, seed)))
    if path.endswith(".parquet"):
        import pyarrow.parquet as pq

        pq.write_table(table, path, row_group_size=ROW_GROUP_ROWS)
    elif path.endswith(".csv"):
        import pyarrow.csv as pacsv

        pacsv.write_csv(table, path)
    else:
        import json

        with open(path, "w", encoding="utf-8") as fh:
            for row in log_rows(texts, seed):
                fh.write(json.dumps(row) + "\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--rows", type=int, default=20_000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    texts, _ = generate(args.rows, args.seed)
    write_log(args.out, texts, args.seed)


if __name__ == "__main__":
    main()
