SELECT customer_id, order_id, amount
FROM sales.orders
QUALIFY ROW_NUMBER() OVER (PARTITION BY customer_id ORDER BY order_dt DESC) = 1;
