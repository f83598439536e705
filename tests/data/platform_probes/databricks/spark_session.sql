SET spark.sql.shuffle.partitions = 200;
CACHE TABLE recent_orders AS
SELECT order_id, customer_id, amount
FROM sales.orders
WHERE order_ts >= current_date() - INTERVAL 7 DAYS;
SELECT customer_id, sum(amount) FROM recent_orders GROUP BY customer_id;
UNCACHE TABLE recent_orders;
