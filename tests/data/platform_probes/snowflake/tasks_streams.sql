CREATE OR REPLACE STREAM orders_stream ON TABLE raw.orders;
CREATE OR REPLACE TASK merge_orders
  WAREHOUSE = transform_wh
  SCHEDULE = '5 MINUTE'
WHEN SYSTEM$STREAM_HAS_DATA('orders_stream')
AS
  INSERT INTO core.orders SELECT * FROM orders_stream;
ALTER TASK merge_orders RESUME;
