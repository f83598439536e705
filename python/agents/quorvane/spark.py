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

from agents.quorvane.assessment.statements import ANALYSIS_FIELDS, analyze_statement, truncation
from agents.quorvane.assessment.workload import text_problem

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


def _arrow_fields() -> list[pa.Field]:
    import pyarrow as pa

    strings = pa.list_(pa.string())
    types = {"fingerprint": pa.int64(), "analysis_turns": pa.int32(), "conversion_turns": pa.int32(),
             "audit_turns": pa.int32(), "categories": strings, "reads": strings, "writes": strings,
             "calls": strings}  # fmt: skip
    return [pa.field(name, types.get(name, pa.string())) for name in STATEMENT_COLUMNS]


FINGERPRINT_COLUMNS = ("fingerprint", "template", "truncated", "error")


def statement_row(value: Any, platform: str | None = None, *, analysis: bool = True) -> dict[str, Any]:
    """The added columns of one row, as Python values (without the analysis
    fields when ``analysis`` is false)."""
    from agents.quorvane import inventory

    row: dict[str, Any] = dict.fromkeys(STATEMENT_COLUMNS)
    text, problem = text_problem(value)
    if text is None:
        row["error"] = problem
        return row
    try:
        fp = inventory.fingerprint(text, platform=platform)
        row["fingerprint"] = fp.hash - (fp.hash >= _SIGNED) * (1 << 64)
        row["template"] = fp.template
        row["truncated"] = truncation(text, fp)
        if analysis:
            row.update(analyze_statement(text, platform))
    except Exception as exc:  # one row's failure is that row's error, never the task's
        return {**dict.fromkeys(STATEMENT_COLUMNS), "error": f"{type(exc).__name__}: {exc}"}
    return row


def _quiet_worker() -> None:
    import structlog

    if not structlog.is_configured():
        # A Python worker of Spark's own: the per-call debug events would
        # flood the executor logs.
        from agents.quorvane.assessment.workers import quiet_logging

        quiet_logging()


def _add_columns(
    batches: Iterator[pa.RecordBatch], text_col: str, platform: str | None, names: tuple[str, ...]
) -> Iterator[pa.RecordBatch]:
    """Each batch with the columns ``names`` of its rows' statement_row."""
    import pyarrow as pa

    _quiet_worker()
    fields = [f for f in _arrow_fields() if f.name in names]
    analysis = any(n in ANALYSIS_FIELDS for n in names)
    for batch in batches:
        rows = [statement_row(v, platform, analysis=analysis) for v in batch.column(text_col).to_pylist()]
        added = [pa.array([r[f.name] for r in rows], type=f.type) for f in fields]
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
    from pyspark.sql import functions as F

    order, text = "__quorvane_row", "__quorvane_text"
    rows = _with_columns(
        df.withColumn(order, F.monotonically_increasing_id()).withColumn(text, F.col(text_col)),
        text,
        platform,
        FINGERPRINT_COLUMNS,
    )
    if count_col is None:
        rows = rows.withColumn("__count", F.lit(1).cast("long"))
    else:
        raw = F.trim(F.col(count_col).cast("string"))
        rows = rows.withColumn("__count", F.when(raw.rlike(r"^[0-9]+(\.0*)?$"), raw.cast("decimal(38,0)").cast("long")))
    rows = rows.where(F.col("error").isNull() & F.col("truncated").isNull() & F.col("__count").isNotNull())
    aggregates = [
        F.sum("__count").alias("count"),
        F.min_by(F.struct(F.col("template"), F.col(text)), F.col(order)).alias("__first"),
        (F.countDistinct(user_col) if user_col else F.lit(None).cast("long")).alias("users"),
        (F.min(time_col) if time_col else F.lit(None).cast("string")).alias("first_seen"),
        (F.max(time_col) if time_col else F.lit(None).cast("string")).alias("last_seen"),
    ]
    grouped = (
        rows.groupBy("fingerprint")
        .agg(*aggregates)
        .select(
            "fingerprint",
            F.col("__first.template").alias("__template"),
            F.col(f"__first.{text}").alias(text),
            "count",
            "users",
            "first_seen",
            "last_seen",
        )  # fmt: skip
    )
    # The analysis of each template's first text only: one per template.
    analysed = _with_columns(grouped, text, platform, ANALYSIS_FIELDS)
    total = rows.agg(F.sum("__count").alias("__total"))
    return (
        analysed.crossJoin(total)
        .select(
            "fingerprint",
            F.col("__template").alias("template"),
            "count",
            F.round(F.col("count") / F.col("__total"), 6).alias("share"),
            "users",
            "first_seen",
            "last_seen",
            *ANALYSIS_FIELDS,
        )
        .orderBy(F.col("count").desc(), F.col("template"))
    )
