"""Query logs read in batches: CSV and Parquet through pyarrow's streaming
readers, JSON Lines line by line.

Each batch carries the raw values of the text, count, user and time
columns; judging a value (null, empty, not text, undecodable) is the
caller's, so that one bad row never stops a log.  The text column of a CSV
file is read as bytes for the same reason: a batch that is all valid UTF-8
becomes str at once, any other is decoded per row.  JSON Lines
are parsed by the standard library, one line at a time: pyarrow's JSON
reader fails a whole block on one line it cannot parse or whose value
changes type.
"""

from __future__ import annotations

import json
import os
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

# Text columns tried, in this order, when none is named (letter case ignored).
GUESSED_TEXT_COLUMNS = ("query_text", "statement_text", "sql_text", "query")
LOG_FORMATS = {
    ".csv": "csv",
    ".jsonl": "jsonl",
    ".ndjson": "jsonl",
    ".json": "jsonl",
    ".parquet": "parquet",
    ".pq": "parquet",
}
BATCH_ROWS = 65_536
CSV_BLOCK_BYTES = 8 << 20


class LogError(Exception):
    """A log that cannot be read at all: unknown format, missing column,
    unreadable file."""


@dataclass(frozen=True)
class Unreadable:
    """A row the reader could not turn into values (a JSON line that does
    not parse), with the reason."""

    problem: str


@dataclass(frozen=True)
class Columns:
    text: str | None = None  # None: guessed
    count: str | None = None
    user: str | None = None
    time: str | None = None


@dataclass
class Batch:
    first_row: int  # the number of its first row in the log, from 1
    texts: list[Any]
    counts: list[Any] | None
    users: list[Any] | None
    times: list[Any] | None
    malformed: int = 0  # CSV rows dropped for a wrong number of fields (numbers unknown)


def log_format(path: str) -> str:
    suffix = os.path.splitext(path)[1].lower()
    try:
        return LOG_FORMATS[suffix]
    except KeyError:
        raise LogError(f"unknown log format {suffix or '(no extension)'}: use .csv, .jsonl or .parquet") from None


def _pyarrow() -> Any:
    try:
        import pyarrow  # noqa: F401
    except ImportError:
        raise LogError("reading CSV and Parquet logs needs pyarrow: pip install 'quorvane[cli]'") from None
    return pyarrow


def resolve(names: list[str], columns: Columns) -> dict[str, str]:
    """The log's own name of each wanted column ("text", "count", "user",
    "time"); LogError when a named column is missing or no text column can
    be guessed."""
    folded = {n.casefold(): n for n in reversed(names)}
    out: dict[str, str] = {}
    for role in ("text", "count", "user", "time"):
        wanted = getattr(columns, role)
        if wanted is None:
            continue
        if wanted not in names and wanted.casefold() not in folded:
            raise LogError(f"no column {wanted!r} (columns: {', '.join(names) or 'none'})")
        out[role] = wanted if wanted in names else folded[wanted.casefold()]
    if "text" not in out:
        for guess in GUESSED_TEXT_COLUMNS:
            if guess in folded:
                out["text"] = folded[guess]
                break
        else:
            raise LogError(
                f"no text column among {', '.join(names) or 'no columns'}; name it with --text-column "
                f"(tried {', '.join(GUESSED_TEXT_COLUMNS)})"
            )
    return out


def read_log(path: str, columns: Columns, batch_rows: int = BATCH_ROWS) -> Iterator[Batch]:
    """The rows of one log, in batches.  Raises LogError before the first
    batch when the log cannot be read at all, OSError when reading fails."""
    fmt = log_format(path)
    if fmt == "jsonl":
        return _read_jsonl(path, columns, batch_rows)
    if fmt == "csv":
        return _read_csv(path, columns)
    return _read_parquet(path, columns, batch_rows)


def _batch(first: int, table_columns: dict[str, Any], roles: dict[str, str], malformed: int = 0) -> Batch:
    def column(role: str) -> list[Any] | None:
        return table_columns[roles[role]].to_pylist() if role in roles else None

    texts = column("text")
    assert texts is not None
    return Batch(first, texts, column("count"), column("user"), column("time"), malformed)


def _read_csv(path: str, columns: Columns) -> Iterator[Batch]:
    pa = _pyarrow()
    import pyarrow.csv as pacsv

    try:
        with pacsv.open_csv(path, read_options=pacsv.ReadOptions(block_size=1 << 16)) as probe:
            names = list(probe.schema.names)
    except pa.ArrowInvalid as exc:
        raise LogError(f"not a CSV log: {exc}") from None
    roles = resolve(names, columns)
    types = {name: pa.string() for name in roles.values()}
    types[roles["text"]] = pa.binary()
    dropped = [0]

    def skip(_row: Any) -> str:
        dropped[0] += 1
        return "skip"

    reader = pacsv.open_csv(
        path,
        read_options=pacsv.ReadOptions(block_size=CSV_BLOCK_BYTES),
        parse_options=pacsv.ParseOptions(newlines_in_values=True, invalid_row_handler=skip),
        convert_options=pacsv.ConvertOptions(
            column_types=types, include_columns=list(dict.fromkeys(roles.values())), strings_can_be_null=False
        ),
    )

    def batches() -> Iterator[Batch]:
        first = 1
        reported = 0
        with reader:
            for record_batch in reader:
                cols = {name: record_batch.column(name) for name in record_batch.schema.names}
                try:  # a batch of valid UTF-8 (most are) goes on as str, the rest is decoded row by row
                    cols[roles["text"]] = cols[roles["text"]].cast(pa.string())
                except pa.ArrowInvalid:
                    pass
                yield _batch(first, cols, roles, dropped[0] - reported)
                reported = dropped[0]
                first += record_batch.num_rows

    return batches()


def _read_parquet(path: str, columns: Columns, batch_rows: int) -> Iterator[Batch]:
    pa = _pyarrow()
    import pyarrow.parquet as pq

    try:
        # Without pre-buffering: it keeps every column chunk read so far
        # until the file is closed, the whole file by the end of the log.
        source = pq.ParquetFile(path, pre_buffer=False)
    except (pa.ArrowInvalid, pa.ArrowException) as exc:
        raise LogError(f"not a Parquet log: {exc}") from None
    roles = resolve(list(source.schema_arrow.names), columns)

    def batches() -> Iterator[Batch]:
        first = 1
        with source:
            for record_batch in source.iter_batches(batch_size=batch_rows, columns=list(dict.fromkeys(roles.values()))):
                cols = {name: record_batch.column(name) for name in record_batch.schema.names}
                yield _batch(first, cols, roles)
                first += record_batch.num_rows

    return batches()


def _read_jsonl(path: str, columns: Columns, batch_rows: int) -> Iterator[Batch]:
    fh = open(path, "rb")
    try:
        roles = resolve(_first_keys(fh), columns)
    except BaseException:
        fh.close()
        raise
    fh.seek(0)
    text_key = roles["text"]
    keys = [(role, roles.get(role)) for role in ("count", "user", "time")]

    def batches() -> Iterator[Batch]:
        number = 0
        with fh:
            while True:
                texts: list[Any] = []
                extra: dict[str, list[Any]] = {role: [] for role, key in keys if key}
                first = number + 1
                for line in fh:
                    number += 1
                    try:
                        obj = json.loads(line) if line.strip() else Unreadable("empty line")
                    except UnicodeDecodeError:
                        obj = Unreadable("undecodable")
                    except ValueError:
                        obj = Unreadable("not JSON")
                    if not isinstance(obj, dict):
                        texts.append(obj if isinstance(obj, Unreadable) else Unreadable("not a JSON object"))
                        for values in extra.values():
                            values.append(None)
                    else:
                        texts.append(obj.get(text_key))
                        for role, key in keys:
                            if key:
                                extra[role].append(obj.get(key))
                    if len(texts) >= batch_rows:
                        break
                if not texts:
                    return
                yield Batch(first, texts, extra.get("count"), extra.get("user"), extra.get("time"))

    return batches()


def _first_keys(fh: Any, lines: int = 1000) -> list[str]:
    """The keys of the first JSON object among the first lines."""
    for _, line in zip(range(lines), fh):
        try:
            obj = json.loads(line)
        except ValueError:
            continue
        if isinstance(obj, dict):
            return [str(k) for k in obj]
    return []
