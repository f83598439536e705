CREATE OR REPLACE TABLE `my-project.mart.orders`
(
  order_id INT64 NOT NULL,
  amount NUMERIC,
  items ARRAY<STRUCT<sku STRING, qty INT64>>,
  created_at TIMESTAMP
)
PARTITION BY DATE(created_at)
CLUSTER BY order_id
OPTIONS (description = 'orders mart', partition_expiration_days = 365);
