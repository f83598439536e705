CREATE MULTISET VOLATILE TABLE vt_orders AS (
  SEL order_id, customer_id, order_dt
  FROM sales.orders
  WHERE order_dt >= DATE '2024-01-01'
) WITH DATA PRIMARY INDEX (order_id) ON COMMIT PRESERVE ROWS;

COLLECT STATISTICS COLUMN (customer_id) ON vt_orders;
