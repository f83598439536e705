"""Generated inputs for the benchmarks: realistic T-SQL, adversarial texts and
Markdown knowledge documents, of any size, deterministic for a given seed."""

from __future__ import annotations

import random

# Stored procedures with temp tables, CTEs, window functions, GO separators
# and comments, but none of the constructs that make a script complex at
# once: most presence tests of the classifier scan the whole text.
_PROCEDURE = """\
/* ==================================================================
   {schema}.usp_Load{entity}{n}: refreshes the {entity} summary
   ================================================================== */
CREATE PROCEDURE {schema}.usp_Load{entity}{n}
    @BatchDate DATE,
    @RegionId  INT = NULL
AS
BEGIN
    SET NOCOUNT ON;
    -- stage the rows of the day
    IF OBJECT_ID('tempdb..#{entity}Stage{n}') IS NOT NULL DROP TABLE #{entity}Stage{n};
    CREATE TABLE #{entity}Stage{n} (
        {entity}Id   INT           NOT NULL,
        StoreId      INT           NOT NULL,
        Amount       DECIMAL(18,2) NOT NULL,
        LoadedAt     DATETIME2     NOT NULL DEFAULT SYSUTCDATETIME()
    );

    INSERT INTO #{entity}Stage{n} ({entity}Id, StoreId, Amount)
    SELECT s.{entity}Id, s.StoreId, SUM(s.Amount)
    FROM staging.{entity}Feed AS s
    INNER JOIN dim.Store AS st ON st.StoreId = s.StoreId
    WHERE s.BusinessDate = @BatchDate
      AND (@RegionId IS NULL OR st.RegionId = @RegionId)
    GROUP BY s.{entity}Id, s.StoreId;

    ;WITH ranked AS (
        SELECT {entity}Id, StoreId, Amount,
               ROW_NUMBER() OVER (PARTITION BY StoreId ORDER BY Amount DESC) AS rn,
               SUM(Amount) OVER (PARTITION BY StoreId) AS StoreTotal
        FROM #{entity}Stage{n}
    )
    UPDATE f
       SET f.Amount = r.Amount,
           f.ShareOfStore = CASE WHEN r.StoreTotal = 0 THEN 0 ELSE r.Amount / r.StoreTotal END,
           f.RankInStore = r.rn
    FROM fact.{entity}Daily AS f
    JOIN ranked AS r ON r.{entity}Id = f.{entity}Id AND r.StoreId = f.StoreId
    WHERE f.BusinessDate = @BatchDate;

    IF EXISTS (SELECT 1 FROM #{entity}Stage{n} WHERE Amount < 0)
        INSERT INTO audit.Warnings (Source, Message, RaisedAt)
        VALUES ('usp_Load{entity}{n}', 'negative amounts staged', GETDATE());

    DROP TABLE #{entity}Stage{n};
END
GO

"""

_ENTITIES = ["Sales", "Returns", "Inventory", "Margin", "Footfall", "Basket", "Promo", "Loyalty"]
_SCHEMAS = ["etl", "rpt", "dw", "ops"]

# Non-ASCII material as real scripts carry it: names in literals and
# comments, a byte-order mark, and (astral) an emoji in a comment.
_NON_ASCII_BMP = ["Łódź", "Kraków", "Zoë", "東京", "Ünterföhring", "São Paulo", "Ærø"]


def tsql(size: int, *, variant: str = "ascii", seed: int = 1) -> str:
    """About `size` characters of T-SQL.  variant: "ascii", "bmp" (two-byte
    storage: non-ASCII names and a leading byte-order mark) or "astral"
    (four-byte storage)."""
    rng = random.Random(seed)
    parts: list[str] = []
    total = 0
    n = 0
    while total < size:
        text = _PROCEDURE.format(schema=rng.choice(_SCHEMAS), entity=rng.choice(_ENTITIES), n=n)
        if variant != "ascii" and n % 3 == 0:
            name = rng.choice(_NON_ASCII_BMP)
            text = text.replace("'negative amounts staged'", f"N'negative amounts staged for {name}'")
        if variant == "astral" and n % 7 == 0:
            text = text.replace("-- stage the rows of the day", "-- stage the rows of the day \U0001f4e6")
        parts.append(text)
        total += len(text)
        n += 1
    out = "".join(parts)[:size]
    if variant == "bmp":
        out = "\ufeff" + out[1:]
    return out


def adversarial(kind: str, size: int) -> str:
    """Texts built to hurt a backtracking engine or a careless scanner."""
    if kind == "with_open_paren":
        unit = "WITH x ( "
    elif kind == "block_openers":
        unit = "/*"
    elif kind == "line_comment_openers":
        unit = "--"
    elif kind == "hashes":
        unit = "#"
    elif kind == "one_line":
        unit = "SELECT a, b FROM t WHERE a = 1 AND b = 'x' "
    elif kind == "whitespace":
        unit = " \t\u3000\u00a0\x1f"
    elif kind == "nested_parens":
        unit = "(((((((((("
    elif kind == "dash_banners":
        # "--" inside a block comment takes the "*/" away: no block closes.
        unit = "/* ----- banner ----- */\nSELECT 1;\n"
    elif kind == "mixed_scripts":
        unit = "SELECT Łódź, 東京, مرحبا, Ελλάδα, деньги, 🚀 FROM t; "
    else:
        raise ValueError(kind)
    return (unit * (size // len(unit) + 1))[:size]


ADVERSARIAL_KINDS = [
    "with_open_paren",
    "block_openers",
    "line_comment_openers",
    "dash_banners",
    "hashes",
    "one_line",
    "whitespace",
    "nested_parens",
    "mixed_scripts",
]

_MAPPING_TITLES = [
    "Data Type Mapping with Gotchas",
    "NULL Semantics (CRITICAL)",
    "NULL Handling",
    "Date Functions",
    "Window Functions",
    "String Functions",
    "String Collation",
    "Cursor Patterns",
    "CTE / Subqueries",
    "JSON Operations",
    "Type Casting",
    "Stored Procedures & Functions",
    "Control Flow",
    "Data Structures",
    "Joins",
    "Aggregations",
    "Queries & Filters",
]


def markdown(size: int, *, seed: int = 2, gotchas: bool = False) -> str:
    """A knowledge document of about `size` characters with thousands of
    level-2 sections: the real titles and many others."""
    rng = random.Random(seed)
    parts = ["# Knowledge Base\n\nGenerated reference material.\n\n"]
    total = len(parts[0])
    n = 0
    while total < size:
        if gotchas:
            title = f"{n + 11}. Pitfall number {n} in {rng.choice(_ENTITIES)} loads"
        elif n % 40 < 17:
            title = _MAPPING_TITLES[n % 40]
        else:
            title = f"Topic {n}: {rng.choice(_ENTITIES)} {rng.choice(['notes', 'examples', 'caveats'])}"
        body_lines = [
            f"Converting {rng.choice(_ENTITIES).lower()} logic keeps row counts identical.",
            "```python\ndf = spark.table('dw.sales').where(F.col('amount') > 0)\n```",
            "- check NULL semantics\n- compare aggregates on a sample",
            "### Details\nSee the mapping table below for each function.",
        ]
        section = f"## {title}\n" + "\n\n".join(rng.sample(body_lines, 3)) + "\n\n"
        parts.append(section)
        total += len(section)
        n += 1
    return "".join(parts)[:size]
