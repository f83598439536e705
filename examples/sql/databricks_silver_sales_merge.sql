-- Databricks notebook source
-- MAGIC %md
-- MAGIC # Silver sales lines - incremental upsert
-- MAGIC
-- MAGIC Reads the bronze POS feed (`retail_bronze.pos_sales_raw`, appended by Auto Loader),
-- MAGIC cleans and de-duplicates it and merges it into `retail_silver.sales_line`.
-- MAGIC
-- MAGIC * Job: `silver_sales_hourly` (every hour at :20), cluster policy `etl-small`
-- MAGIC * Parameter: `lookback_days` (widget, default 3): bronze rows ingested in the last
-- MAGIC   N days are re-read, which also picks up late store corrections
-- MAGIC * Store corrections re-send complete transactions; lines missing from a re-sent
-- MAGIC   transaction are soft-deleted via `WHEN NOT MATCHED BY SOURCE`.

-- COMMAND ----------

CREATE WIDGET TEXT lookback_days DEFAULT '3';

-- COMMAND ----------

SET spark.databricks.delta.schema.autoMerge.enabled = false;
SET spark.sql.shuffle.partitions = 64;

-- COMMAND ----------

-- MAGIC %md
-- MAGIC ## Target table

-- COMMAND ----------

CREATE TABLE IF NOT EXISTS retail_silver.sales_line (
    transaction_id    STRING        NOT NULL,
    line_number       INT           NOT NULL,
    store_number      INT           NOT NULL,
    business_date     DATE          NOT NULL,
    transaction_ts    TIMESTAMP     NOT NULL,
    customer_id       STRING,
    product_code      STRING        NOT NULL,
    quantity          DECIMAL(18,3) NOT NULL,
    unit_price        DECIMAL(19,4) NOT NULL,
    discount_amount   DECIMAL(19,4) NOT NULL,
    net_amount        DECIMAL(19,4) NOT NULL,
    tender            STRUCT<tender_type: STRING, card_brand: STRING, last4: STRING>,
    is_return         BOOLEAN       NOT NULL,
    is_deleted        BOOLEAN       NOT NULL,
    source_file       STRING,
    ingested_at       TIMESTAMP     NOT NULL,
    updated_at        TIMESTAMP     NOT NULL
)
USING DELTA
PARTITIONED BY (business_date)
COMMENT 'Cleaned POS sales lines, one row per transaction line (soft deletes kept)'
TBLPROPERTIES (
    'delta.enableChangeDataFeed'       = 'true',
    'delta.autoOptimize.optimizeWrite' = 'true',
    'delta.deletedFileRetentionDuration' = 'interval 7 days'
);

-- COMMAND ----------

-- MAGIC %md
-- MAGIC ## Source: cleaned, latest complete version of each transaction in the look-back window

-- COMMAND ----------

CREATE OR REPLACE TEMPORARY VIEW pos_lines_clean AS
WITH params AS (
    SELECT coalesce(try_cast(getArgument('lookback_days') AS INT), 3)     AS lookback_days
),
raw AS (
    SELECT r.payload.transactionId                                         AS transaction_id,
           cast(l.lineNo AS INT)                                            AS line_number,
           cast(r.payload.storeNo AS INT)                                   AS store_number,
           to_timestamp(r.payload.transactionTs)                           AS transaction_ts,
           nullif(trim(r.payload.customer.loyaltyId), '')                  AS customer_id,
           upper(regexp_replace(l.sku, '^(SKU[- ]?|ITM[.-])', ''))          AS product_code,
           cast(l.qty AS DECIMAL(18,3))                                     AS quantity,
           cast(l.unitPrice AS DECIMAL(19,4))                               AS unit_price,
           coalesce(cast(l.discount AS DECIMAL(19,4)), 0)                   AS discount_amount,
           named_struct('tender_type', r.payload.tender.type,
                        'card_brand',  r.payload.tender.brand,
                        'last4',       right(r.payload.tender.pan, 4))     AS tender,
           r.source_file,
           r.ingested_at
    FROM retail_bronze.pos_sales_raw AS r
    LATERAL VIEW explode(r.payload.lines) x AS l
    CROSS JOIN params AS p
    WHERE r.ingest_date >= date_sub(current_date(), p.lookback_days)
)
SELECT transaction_id,
       line_number,
       store_number,
       to_date(transaction_ts)                                              AS business_date,
       transaction_ts,
       customer_id,
       product_code,
       quantity,
       unit_price,
       discount_amount,
       round(quantity * unit_price, 2) - discount_amount                    AS net_amount,
       tender,
       quantity < 0                                                         AS is_return,
       source_file,
       ingested_at
FROM raw
WHERE transaction_id IS NOT NULL
  AND product_code <> ''
-- a correction replaces the whole transaction: keep only its latest sending,
-- and within that sending one row per line (files are sometimes delivered twice)
QUALIFY ingested_at = max(ingested_at) OVER (PARTITION BY transaction_id)
    AND row_number() OVER (PARTITION BY transaction_id, line_number
                           ORDER BY source_file DESC) = 1;

-- COMMAND ----------

-- MAGIC %md
-- MAGIC ## Merge
-- MAGIC The soft delete is limited to the look-back window: every transaction of those
-- MAGIC business dates was ingested inside the window, so its latest sending is in the
-- MAGIC source and a line absent from it really was removed by the store.

-- COMMAND ----------

MERGE INTO retail_silver.sales_line AS tgt
USING pos_lines_clean AS src
   ON  tgt.business_date  = src.business_date
   AND tgt.transaction_id = src.transaction_id
   AND tgt.line_number    = src.line_number
WHEN MATCHED AND (tgt.is_deleted OR src.ingested_at > tgt.ingested_at) THEN
  UPDATE SET
    tgt.store_number    = src.store_number,
    tgt.transaction_ts  = src.transaction_ts,
    tgt.customer_id     = src.customer_id,
    tgt.product_code    = src.product_code,
    tgt.quantity        = src.quantity,
    tgt.unit_price      = src.unit_price,
    tgt.discount_amount = src.discount_amount,
    tgt.net_amount      = src.net_amount,
    tgt.tender          = src.tender,
    tgt.is_return       = src.is_return,
    tgt.is_deleted      = false,
    tgt.source_file     = src.source_file,
    tgt.ingested_at     = src.ingested_at,
    tgt.updated_at      = current_timestamp()
WHEN NOT MATCHED THEN
  INSERT (transaction_id, line_number, store_number, business_date, transaction_ts, customer_id,
          product_code, quantity, unit_price, discount_amount, net_amount, tender, is_return,
          is_deleted, source_file, ingested_at, updated_at)
  VALUES (src.transaction_id, src.line_number, src.store_number, src.business_date, src.transaction_ts,
          src.customer_id, src.product_code, src.quantity, src.unit_price, src.discount_amount,
          src.net_amount, src.tender, src.is_return, false, src.source_file, src.ingested_at,
          current_timestamp())
WHEN NOT MATCHED BY SOURCE
     AND NOT tgt.is_deleted
     AND tgt.business_date >= date_sub(current_date(), coalesce(try_cast(getArgument('lookback_days') AS INT), 3)) THEN
  UPDATE SET
    tgt.is_deleted = true,
    tgt.updated_at = current_timestamp();

-- COMMAND ----------

-- MAGIC %md
-- MAGIC ## Maintenance
-- MAGIC Cheap when there is nothing to compact: OPTIMIZE only rewrites last week's partitions.

-- COMMAND ----------

OPTIMIZE retail_silver.sales_line
WHERE business_date >= date_sub(current_date(), 7)
ZORDER BY (store_number, product_code);

-- COMMAND ----------

VACUUM retail_silver.sales_line RETAIN 168 HOURS;

-- COMMAND ----------

-- MAGIC %md
-- MAGIC ## Checks

-- COMMAND ----------

-- last operations on the table (operationMetrics holds the merge row counts)
DESCRIBE HISTORY retail_silver.sales_line LIMIT 5;

-- COMMAND ----------

-- net amount per day now vs. one hour ago, i.e. before this run (time travel)
SELECT cur.business_date,
       cur.net_amount                                   AS net_now,
       prev.net_amount                                  AS net_before_run,
       cur.net_amount - coalesce(prev.net_amount, 0)    AS delta
FROM (SELECT business_date, sum(net_amount) AS net_amount
      FROM retail_silver.sales_line
      WHERE NOT is_deleted AND business_date >= date_sub(current_date(), 3)
      GROUP BY ALL) AS cur
LEFT JOIN (SELECT business_date, sum(net_amount) AS net_amount
           FROM retail_silver.sales_line TIMESTAMP AS OF current_timestamp() - INTERVAL 1 HOUR
           WHERE NOT is_deleted AND business_date >= date_sub(current_date(), 3)
           GROUP BY ALL) AS prev
  ON prev.business_date = cur.business_date
ORDER BY cur.business_date;
