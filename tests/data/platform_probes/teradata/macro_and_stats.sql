REPLACE MACRO sales.daily_report (run_dt DATE) AS (
  SEL store_id, SUM(amount)
  FROM sales.orders
  WHERE order_dt = :run_dt
  GROUP BY 1;
);
COLLECT STATS ON sales.orders COLUMN (order_dt);
