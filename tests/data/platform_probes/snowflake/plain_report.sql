SELECT region, DATE_TRUNC('month', order_date) AS month, SUM(amount) AS revenue
FROM analytics.orders
WHERE order_date >= '2024-01-01'
GROUP BY 1, 2
ORDER BY 1, 2;
