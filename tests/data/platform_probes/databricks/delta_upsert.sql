-- Databricks notebook source
CREATE TABLE IF NOT EXISTS main.sales.orders (
  order_id BIGINT,
  customer_id BIGINT,
  amount DECIMAL(18, 2),
  order_ts TIMESTAMP
) USING DELTA
PARTITIONED BY (order_date DATE)
TBLPROPERTIES ('delta.enableChangeDataFeed' = 'true');

-- COMMAND ----------

MERGE INTO main.sales.orders AS t
USING updates AS s
ON t.order_id = s.order_id
WHEN MATCHED THEN UPDATE SET *
WHEN NOT MATCHED THEN INSERT *;
