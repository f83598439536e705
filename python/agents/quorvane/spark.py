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


FINGERPRINT_COLUMNS = ("fingerprint", "truncated", "error")


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


def _statement_columns(
    values: list[Any], platform: str | None, fields: list[pa.Field], counted: list[bool] | None = None
) -> tuple[list[pa.Array], list[Any]]:
    """The columns ``fields`` of STATEMENT_SCHEMA for a batch of texts, and
    the texts themselves; with ``counted`` (whether each row's count is
    usable), only the first text of each fingerprint among the rows that
    make templates (no error, no truncation, a usable count), the others
    None, so that the texts need not travel back whole."""
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
    if counted is not None:
        truncated, seen = columns["truncated"], set()
        for i, h in enumerate(hashes):
            if errors[i] is None and truncated[i] is None and counted[i] and h not in seen:
                seen.add(h)
            else:
                texts[i] = None
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
    return out, texts


def _quiet_worker() -> None:
    import structlog

    if not structlog.is_configured():
        # A Python worker of Spark's own: the per-call debug events would
        # flood the executor logs.
        from agents.quorvane.assessment.workers import quiet_logging

        quiet_logging()


def _add_columns(
    batches: Iterator[pa.RecordBatch],
    text_col: str,
    platform: str | None,
    names: tuple[str, ...],
    count_col: str | None = None,
) -> Iterator[pa.RecordBatch]:
    """Each batch with the columns ``names`` of its rows' statements; with
    ``count_col``, the text column keeps only each fingerprint's first
    text (see _statement_columns)."""
    import pyarrow as pa

    _quiet_worker()
    fields = [f for f in _arrow_fields() if f.name in names]
    for batch in batches:
        counted = None if count_col is None else batch.column(count_col).is_valid().to_pylist()
        added, texts = _statement_columns(batch.column(text_col).to_pylist(), platform, fields, counted)
        columns = list(batch.columns)
        if count_col is not None:
            at = batch.schema.get_field_index(text_col)
            columns[at] = pa.array(texts, type=pa.string())
        yield pa.RecordBatch.from_arrays([*columns, *added], schema=pa.schema([*batch.schema, *fields]))


def _with_columns(
    df: DataFrame, text_col: str, platform: str | None, names: tuple[str, ...], count_col: str | None = None
) -> DataFrame:
    from pyspark.sql.types import StringType, StructField, StructType, _parse_datatype_string

    if text_col not in df.columns:
        raise ValueError(f"no column {text_col!r} (columns: {', '.join(df.columns)})")
    clash = sorted(set(df.columns) & set(names))
    if clash:
        raise ValueError(f"the DataFrame already has the column(s) {', '.join(clash)}")
    added = [f for f in _parse_datatype_string(STATEMENT_SCHEMA).fields if f.name in names]
    fields = df.schema.fields
    if count_col is not None:  # the first texts only, as strings
        fields = [StructField(f.name, StringType()) if f.name == text_col else f for f in fields]
    schema = StructType([*fields, *added])

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        return _add_columns(batches, text_col, platform, names, count_col)

    return df.mapInArrow(run, schema)


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

    for name in (text_col, count_col, user_col, time_col):
        if name is not None and name not in df.columns:
            raise ValueError(f"no column {name!r} (columns: {', '.join(df.columns)})")
    # Only the columns the table needs go through the job, under names of
    # its own (a column may serve twice, as text and user, say).
    order, text, count, user, when = "__quorvane_row", "__quorvane_text", "__count", "__user", "__time"
    if count_col is None:
        counted = F.lit(1).cast("long")
    else:
        raw = F.trim(F.col(count_col).cast("string"))
        counted = F.when(raw.rlike(r"^[0-9]+(\.0*)?$"), raw.cast("decimal(38,0)").cast("long"))
    rows = _with_columns(
        df.select(
            F.monotonically_increasing_id().alias(order),
            F.col(text_col).alias(text),
            counted.alias(count),
            (F.col(user_col) if user_col else F.lit(None)).alias(user),
            (F.col(time_col) if time_col else F.lit(None).cast("string")).alias(when),
        ),
        text,
        platform,
        FINGERPRINT_COLUMNS,
        count,
    )
    rows = rows.where(F.col("error").isNull() & F.col("truncated").isNull() & F.col(count).isNotNull())
    grouped = rows.groupBy("fingerprint").agg(
        F.sum(count).alias("count"),
        F.min_by(F.col(text), F.col(order)).alias(text),
        (F.countDistinct(user) if user_col else F.lit(None).cast("long")).alias("users"),
        F.min(when).alias("first_seen"),
        F.max(when).alias("last_seen"),
    )
    # The template and analysis of each template's first text only: one per
    # template, on the grouped table (as small as the templates).
    analysed = _with_columns(grouped, text, platform, ("template", *ANALYSIS_FIELDS))
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
