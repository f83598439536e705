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


def statement_row(value: Any, platform: str | None = None) -> dict[str, Any]:
    """The added columns of one row, as Python values."""
    from agents.quorvane import inventory

    row: dict[str, Any] = dict.fromkeys(STATEMENT_COLUMNS)
    text, problem = text_problem(value)
    if text is None:
        row["error"] = problem
        return row
    try:
        fp = inventory.fingerprint(text)
        row["fingerprint"] = fp.hash - (fp.hash >= _SIGNED) * (1 << 64)
        row["template"] = fp.template
        row["truncated"] = truncation(text, fp)
        row.update(analyze_statement(text, platform))
    except Exception as exc:  # one row's failure is that row's error, never the task's
        return {**dict.fromkeys(STATEMENT_COLUMNS), "error": f"{type(exc).__name__}: {exc}"}
    return row


def _analyze_batches(batches: Iterator[pa.RecordBatch], text_col: str, platform: str | None) -> Iterator[pa.RecordBatch]:
    import pyarrow as pa
    import structlog

    if not structlog.is_configured():
        # A Python worker of Spark's own: the per-call debug events would
        # flood the executor logs.
        from agents.quorvane.assessment.workers import quiet_logging

        quiet_logging()
    fields = _arrow_fields()
    for batch in batches:
        rows = [statement_row(v, platform) for v in batch.column(text_col).to_pylist()]
        added = [pa.array([r[f.name] for r in rows], type=f.type) for f in fields]
        yield pa.RecordBatch.from_arrays(
            [*batch.columns, *added], schema=pa.schema([*batch.schema, *fields])
        )


def analyze_statements(df: DataFrame, text_col: str = "query_text", *, platform: str | None = None) -> DataFrame:
    """``df`` with the columns of STATEMENT_SCHEMA added, one analysis per row."""
    from pyspark.sql.types import StructType, _parse_datatype_string

    if text_col not in df.columns:
        raise ValueError(f"no column {text_col!r} (columns: {', '.join(df.columns)})")
    clash = sorted(set(df.columns) & set(STATEMENT_COLUMNS))
    if clash:
        raise ValueError(f"the DataFrame already has the column(s) {', '.join(clash)}")
    added = _parse_datatype_string(STATEMENT_SCHEMA)
    schema = StructType([*df.schema.fields, *added.fields])

    def run(batches: Iterator[pa.RecordBatch]) -> Iterator[pa.RecordBatch]:
        return _analyze_batches(batches, text_col, platform)

    return df.mapInArrow(run, schema)


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
    as the command leaves them out of its templates."""
    from pyspark.sql import functions as F

    order = "__quorvane_row"
    rows = analyze_statements(df.withColumn(order, F.monotonically_increasing_id()), text_col, platform=platform)
    if count_col is None:
        rows = rows.withColumn("__count", F.lit(1).cast("long"))
    else:
        raw = F.col(count_col).cast("string")
        whole = F.trim(raw).rlike(r"^[0-9]+(\.0*)?$")
        rows = rows.withColumn("__count", F.when(whole, F.trim(raw).cast("decimal(38,0)").cast("long")))
    rows = rows.where(F.col("error").isNull() & F.col("truncated").isNull() & F.col("__count").isNotNull())
    first = F.min_by(F.struct(*[F.col(c) for c in ("template", *ANALYSIS_FIELDS)]), F.col(order)).alias("__first")
    aggregates = [F.sum("__count").alias("count"), first]
    aggregates.append((F.countDistinct(user_col) if user_col else F.lit(None).cast("long")).alias("users"))
    aggregates.append((F.min(time_col) if time_col else F.lit(None).cast("string")).alias("first_seen"))
    aggregates.append((F.max(time_col) if time_col else F.lit(None).cast("string")).alias("last_seen"))
    grouped = rows.groupBy("fingerprint").agg(*aggregates)
    total = rows.agg(F.sum("__count").alias("__total"))
    return (
        grouped.crossJoin(total)
        .select(
            "fingerprint",
            F.col("__first.template").alias("template"),
            "count",
            F.round(F.col("count") / F.col("__total"), 6).alias("share"),
            "users",
            "first_seen",
            "last_seen",
            *[F.col(f"__first.{c}").alias(c) for c in ANALYSIS_FIELDS],
        )
        .orderBy(F.col("count").desc(), F.col("template"))
    )
