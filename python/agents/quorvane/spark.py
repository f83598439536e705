"""The per-statement analysis of query logs as a Spark job.

``analyze_statements`` adds to a DataFrame of statements the columns of
``STATEMENT_SCHEMA``: the statement's fingerprint and template, why it looks
truncated, and the analysis ``quorvane workload`` gives each template
(level, turn budgets, categories, platform, tables read and written,
routines called).  ``workload`` groups those rows by fingerprint into the
per-template table of ``quorvane workload``.

The work runs in ``DataFrame.mapInArrow``: each executor imports this
package from its own installed wheel (``pip install 'quorvane[spark]'``)
and keeps nothing between batches, so no driver-side state is shipped.  A
row that cannot be analysed gets its reason in ``error`` (and nulls in the
other added columns); it never fails the task.

``fingerprint`` is the 64-bit hash as Spark's signed BIGINT: a hash of
2**63 or more appears as ``hash - 2**64`` (``workload``'s JSON prints the
unsigned value).
"""

from __future__ import annotations

from collections.abc import Iterator
from typing import TYPE_CHECKING, Any

from agents.quorvane.assessment.statements import (
    ANALYSIS_FIELDS,
    ROUND_LENGTHS,
    analyze_statement,
    truncation,
    truncation_reason,
)
from agents.quorvane.assessment.workload import text_problem
from agents.quorvane.inventory import FingerprintBatch

if TYPE_CHECKING:  # pragma: no cover
    import pyarrow as pa
    from pyspark.sql import DataFrame

__all__ = ["STATEMENT_SCHEMA", "analyze_statements", "workload"]

STATEMENT_SCHEMA = (
    "fingerprint BIGINT, template STRING, truncated STRING, level STRING, analysis_turns INT, "
    "conversion_turns INT, audit_turns INT, categories ARRAY<STRING>, platform STRING, reads ARRAY<STRING>, "
    "writes ARRAY<STRING>, calls ARRAY<STRING>, error STRING"
)
STATEMENT_COLUMNS = ("fingerprint", "template", "truncated", *ANALYSIS_FIELDS, "error")
_SIGNED = 1 << 63
_WHOLE, _UNTERMINATED = FingerprintBatch.WHOLE, FingerprintBatch.UNTERMINATED


def _arrow_fields() -> list[pa.Field]:
    import pyarrow as pa

    strings = pa.list_(pa.string())
    types = {"fingerprint": pa.int64(), "analysis_turns": pa.int32(), "conversion_turns": pa.int32(),
             "audit_turns": pa.int32(), "categories": strings, "reads": strings, "writes": strings,
             "calls": strings}  # fmt: skip
    return [pa.field(name, types.get(name, pa.string())) for name in STATEMENT_COLUMNS]


def statement_row(value: Any, platform: str | None = None) -> dict[str, Any]:
    """The added columns of one row, as Python values."""
    from agents.quorvane import inventory

    row: dict[str, Any] = dict.fromkeys(STATEMENT_COLUMNS)
    text, problem = text_problem(value)
    if text is None:
        row["error"] = problem
        return row
    try:
        fp = inventory.fingerprint(str(text), platform=platform)
        row["fingerprint"] = fp.hash - (fp.hash >= _SIGNED) * (1 << 64)
        row["template"] = fp.template
        row["truncated"] = truncation(text, fp)
        row.update(analyze_statement(text, platform))
    except Exception as exc:  # one row's failure is that row's error, never the task's
        return {**dict.fromkeys(STATEMENT_COLUMNS), "error": f"{type(exc).__name__}: {exc}"}
    return row


def _fingerprints(values: list[Any], platform: str | None) -> tuple[list[Any], memoryview, dict[str, list[Any]]]:
    """Each row's text (None for an error), signed hash (a memoryview of
    64-bit integers; 0 where there is none), and the columns template,
    truncated and error, from one native call for the batch: Python judges
    only the rows that are not str."""
    from agents.quorvane import inventory

    n = len(values)
    batch = inventory.fingerprint_many(values, platform=platform)
    hashes = memoryview(bytearray(batch.hashes)).cast("q")  # the same bits as Spark's signed BIGINT
    shapes = {h - (h >= _SIGNED) * (1 << 64): shape for h, (_, shape) in batch.templates.items()}
    templates: list[Any] = [shapes.get(h) for h in hashes]
    truncated: list[Any] = [None] * n
    errors: list[Any] = [None] * n
    texts = list(values)
    flags = batch.flags
    for i, flag in enumerate(flags):
        value = values[i]
        if flag == _WHOLE:
            if len(value) in ROUND_LENGTHS:
                truncated[i] = truncation_reason(len(value), False)
        elif flag == _UNTERMINATED:
            truncated[i] = truncation_reason(len(value), True)
        else:
            text, problem = text_problem(value)
            texts[i] = None
            if text is None:
                errors[i] = problem
                continue
            try:  # a text the batch call left to Python: bytes, a str of a subclass
                fp = inventory.fingerprint(str(text), platform=platform)
            except Exception as exc:
                errors[i] = f"{type(exc).__name__}: {exc}"
                continue
            texts[i] = str(text)
            hashes[i] = fp.hash - (fp.hash >= _SIGNED) * (1 << 64)
            templates[i] = fp.template
            truncated[i] = truncation(text, fp)
    return texts, hashes, {"template": templates, "truncated": truncated, "error": errors}


def _statement_columns(values: list[Any], platform: str | None, fields: list[pa.Field]) -> list[pa.Array]:
    """The columns ``fields`` of STATEMENT_SCHEMA for a batch of texts."""
    import pyarrow as pa

    texts, hashes, columns = _fingerprints(values, platform)
    errors = columns["error"]
    if any(f.name in ANALYSIS_FIELDS for f in fields):
        analyses: list[dict[str, Any] | None] = []
        for i, text in enumerate(texts):
            if errors[i] is not None:
                analyses.append(None)
                continue
            try:
                analyses.append(analyze_statement(text, platform))
            except Exception as exc:  # one row's failure is that row's error, never the task's
                errors[i] = f"{type(exc).__name__}: {exc}"
                analyses.append(None)
        for name in ANALYSIS_FIELDS:
            columns[name] = [a[name] if a is not None else None for a in analyses]
    failed = any(e is not None for e in errors)
    # The hashes go to Arrow as they are, the rows with an error masked.
    valid = pa.array([e is None for e in errors], pa.bool_()).buffers()[1] if failed else None
    out = []
    for f in fields:
        if f.name == "fingerprint":
            out.append(pa.Array.from_buffers(pa.int64(), len(texts), [valid, pa.py_buffer(hashes)]))
            continue
        column = columns[f.name]
        if failed and f.name != "error":
            column = [v if e is None else None for v, e in zip(column, errors)]
        out.append(pa.array(column, type=f.type))
    return out


def _quiet_worker() -> None:
    import structlog

    if not structlog.is_configured():
        # A Python worker of Spark's own: the per-call debug events would
        # flood the executor logs.
        from agents.quorvane.assessment.workers import quiet_logging

        quiet_logging()


def _values(column: pa.Array) -> list[Any]:
    """A column's rows as Python values.  A string column may hold bytes
    that are not UTF-8 (Spark's cast of binary data does not check them):
    those rows come as bytes, to be reported as undecodable rather than fail
    the whole batch."""
    import pyarrow as pa

    try:
        return column.to_pylist()
    except UnicodeDecodeError:
        values = column.cast(pa.large_binary()).to_pylist()
    for i, value in enumerate(values):
        try:
            values[i] = value.decode("utf-8") if value is not None else None
        except UnicodeDecodeError:
            pass
    return values


def _add_columns(
    batches: Iterator[pa.RecordBatch], text_col: str, platform: str | None, names: tuple[str, ...]
) -> Iterator[pa.RecordBatch]:
    """Each batch with the columns ``names`` of its rows' statements."""
    import pyarrow as pa

    _quiet_worker()
    fields = [f for f in _arrow_fields() if f.name in names]
    for batch in batches:
        added = _statement_columns(_values(batch.column(text_col)), platform, fields)
        yield pa.RecordBatch.from_arrays([*batch.columns, *added], schema=pa.schema([*batch.schema, *fields]))


def _with_columns(df: DataFrame, text_col: str, platform: str | None, names: tuple[str, ...]) -> DataFrame:
    from pyspark.sql.types import StructType, _parse_datatype_string

    if text_col not in df.columns:
        raise ValueError(f"no column {text_col!r} (columns: {', '.join(df.columns)})")
    clash = sorted(set(df.columns) & set(names))
    if clash:
        raise ValueError(f"the DataFrame already has the column(s) {', '.join(clash)}")
    added = [f for f in _parse_datatype_string(STATEMENT_SCHEMA).fields if f.name in names]
    schema = StructType([*df.schema.fields, *added])

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        return _add_columns(batches, text_col, platform, names)

    return df.mapInArrow(run, schema)


# The columns of workload's first stage, under names of its own.
_ROW, _TEXT, _COUNT, _USER, _FIRST, _LAST = (
    "__quorvane_row", "__quorvane_text", "__quorvane_count", "__quorvane_user", "__quorvane_first", "__quorvane_last"
)  # fmt: skip


def _combined(batch: pa.RecordBatch, platform: str | None, user: bool, time: bool, first_row: int) -> pa.RecordBatch:
    """The rows of ``batch`` that make templates (no error, no suspected
    truncation, a usable count), combined into one row per fingerprint (and
    user): the summed count, the first row number, the first and last time,
    and the text of the fingerprint's first row on the row that holds it
    (null on the others).  Only these few rows go back to Spark, which
    finishes the grouping across batches exactly as it would over the rows
    themselves.  The batch's rows are numbered from ``first_row``; without
    a count column each row counts once."""
    import pyarrow as pa
    import pyarrow.compute as pc
    from agents.quorvane import inventory

    column = batch.column(_TEXT)
    n = len(column)
    if pa.types.is_string(column.type) or pa.types.is_large_string(column.type):
        # Read in place, with no str made for each row: the flags and lengths
        # say it all.  A null, or bytes that are not UTF-8, is no template.
        found = inventory.fingerprint_many(column, platform=platform)
        texts = column
        hashes = pa.Array.from_buffers(pa.int64(), n, [None, pa.py_buffer(found.hashes)])
        flags = pa.Array.from_buffers(pa.uint8(), n, [None, pa.py_buffer(found.flags)])
        keep = pc.equal(flags, _WHOLE)
        # A text has no more characters than bytes: only one of a round
        # length's bytes or more needs its characters counted.
        if (pc.max(pc.binary_length(column)).as_py() or 0) >= min(ROUND_LENGTHS):
            cut = pc.is_in(pc.utf8_length(column), value_set=pa.array(sorted(ROUND_LENGTHS), pa.int64()))
            keep = pc.and_(keep, pc.invert(cut))
    else:  # bytes to decode, numbers, ...: judged row by row
        texts, signed, columns = _fingerprints(_values(column), platform)
        hashes = pa.Array.from_buffers(pa.int64(), n, [None, pa.py_buffer(signed)])
        keep = pa.array([e is None and t is None for e, t in zip(columns["error"], columns["truncated"])])
    counted = _COUNT in batch.schema.names
    at = pc.indices_nonzero(pc.and_(keep, batch.column(_COUNT).is_valid()) if counted else keep)
    kept_hashes = hashes.take(at)
    rows = pc.add(at.cast(pa.int64()), pa.scalar(first_row, pa.int64()))
    counts = batch.column(_COUNT).take(at) if counted else pa.repeat(pa.scalar(1, pa.int64()), len(at))
    kept = {"fingerprint": kept_hashes, _COUNT: counts, _ROW: rows}
    keys, sums = ["fingerprint"], [(_COUNT, "sum"), (_ROW, "min")]
    if user:
        kept[_USER] = batch.column(_USER).take(at)
        keys.append(_USER)
    if time:
        kept[_FIRST] = batch.column(_FIRST).take(at)
        sums += [(_FIRST, "min"), (_FIRST, "max")]
    groups = pa.table(kept).group_by(keys, use_threads=False).aggregate(sums)
    # Each fingerprint's first row: its number and its text.
    distinct = pc.unique(kept_hashes)
    firsts = pc.index_in(distinct, value_set=kept_hashes)
    first_rows = rows.take(firsts).to_pylist()
    first_at = at.take(firsts)
    first_texts = (
        texts.take(first_at).to_pylist() if isinstance(texts, pa.Array) else [texts[i] for i in first_at.to_pylist()]
    )
    first = dict(zip(distinct.to_pylist(), zip(first_rows, first_texts)))
    group_rows = groups.column(f"{_ROW}_min").to_pylist()
    text = [
        t if r == row else None
        for (row, t), r in zip(map(first.get, groups.column("fingerprint").to_pylist()), group_rows)
    ]
    out = {
        "fingerprint": groups.column("fingerprint"),
        _TEXT: pa.array(text, pa.string()),
        _COUNT: groups.column(f"{_COUNT}_sum"),
        _ROW: groups.column(f"{_ROW}_min"),
    }
    if user:
        out[_USER] = groups.column(_USER)
    if time:
        out[_FIRST] = groups.column(f"{_FIRST}_min")
        out[_LAST] = groups.column(f"{_FIRST}_max")
    return pa.RecordBatch.from_arrays(
        [c.combine_chunks() if isinstance(c, pa.ChunkedArray) else c for c in out.values()], names=list(out)
    )


def analyze_statements(df: DataFrame, text_col: str = "query_text", *, platform: str | None = None) -> DataFrame:
    """``df`` with the columns of STATEMENT_SCHEMA added, one analysis per row."""
    return _with_columns(df, text_col, platform, STATEMENT_COLUMNS)


def workload(
    df: DataFrame,
    text_col: str = "query_text",
    count_col: str | None = None,
    *,
    user_col: str | None = None,
    time_col: str | None = None,
    platform: str | None = None,
) -> DataFrame:
    """The per-template table of ``quorvane workload``: one row per
    fingerprint with its count (``count_col`` summed, else rows), share,
    distinct users, first and last time seen and the analysis of its first
    text in the DataFrame's order.  Rows with an error, a count that is not
    a whole number of at least 0, or a suspected truncation are left out,
    as the command leaves them out of its templates.  Only the first text of
    each template is analysed."""
    from pyspark.sql import Window
    from pyspark.sql import functions as F
    from pyspark.sql.types import ArrayType, IntegralType, LongType, MapType, StringType, StructField, StructType

    for name in (text_col, count_col, user_col, time_col):
        if name is not None and name not in df.columns:
            raise ValueError(f"no column {name!r} (columns: {', '.join(df.columns)})")
    types = {f.name: f.dataType for f in df.schema.fields}
    counted: Any = None  # without a count column, each row counts once
    if count_col is not None and isinstance(types[count_col], IntegralType):  # whole already: only the sign to check
        counted = F.when(F.col(count_col) >= 0, F.col(count_col).cast("long"))
    elif count_col is not None:
        raw = F.trim(F.col(count_col).cast("string"))
        counted = F.when(raw.rlike(r"^[0-9]+(\.0*)?$"), raw.cast("decimal(38,0)").cast("long"))

    def plain(name: str) -> Any:
        # Nested values are grouped and ordered by their text in the workers.
        column = F.col(name)
        return column.cast("string") if isinstance(types[name], (ArrayType, MapType, StructType)) else column

    # Only the columns the table needs go through the job, under names of
    # its own (a column may serve twice, as text and user, say).  Each one
    # costs the JVM a copy into Arrow per row, so the workers number the
    # rows themselves and count a row once where there is no count column.
    columns = [F.col(text_col).alias(_TEXT)]
    if counted is not None:
        columns.append(counted.alias(_COUNT))
    if user_col is not None:
        columns.append(plain(user_col).alias(_USER))
    if time_col is not None:
        columns.append(plain(time_col).alias(_FIRST))
    selected = df.select(*columns)
    fields = [StructField("fingerprint", LongType()), StructField(_TEXT, StringType()),
              StructField(_COUNT, LongType()), StructField(_ROW, LongType())]  # fmt: skip
    if user_col is not None:
        fields.append(selected.schema[_USER])
    if time_col is not None:
        fields += [selected.schema[_FIRST], StructField(_LAST, selected.schema[_FIRST].dataType)]
    has_user, has_time = user_col is not None, time_col is not None

    def combine(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        from pyspark import TaskContext

        _quiet_worker()
        # Row numbers as monotonically_increasing_id() gives them: the
        # partition's index in the upper 31 bits, the row's place in it below.
        row = TaskContext.get().partitionId() << 33
        for batch in batches:
            yield _combined(batch, platform, has_user, has_time, row)
            row += batch.num_rows

    rows = selected.mapInArrow(combine, StructType(fields))
    grouped = rows.groupBy("fingerprint").agg(
        F.sum(_COUNT).alias("count"),
        F.min_by(F.col(_TEXT), F.col(_ROW)).alias(_TEXT),
        (F.countDistinct(_USER) if has_user else F.lit(None).cast("long")).alias("users"),
        (F.min(_FIRST) if has_time else F.lit(None).cast("string")).alias("first_seen"),
        (F.max(_LAST) if has_time else F.lit(None).cast("string")).alias("last_seen"),
    )
    # The template and analysis of each template's first text only: one per
    # template, on the grouped table (as small as the templates).
    analysed = _with_columns(grouped, _TEXT, platform, ("template", *ANALYSIS_FIELDS))
    total = F.sum("count").over(Window.partitionBy())
    return analysed.select(
        "fingerprint",
        "template",
        "count",
        F.round(F.col("count") / total, 6).alias("share"),
        "users",
        "first_seen",
        "last_seen",
        *ANALYSIS_FIELDS,
    ).orderBy(F.col("count").desc(), F.col("template"))
