OPTIMIZE main.sales.orders ZORDER BY (customer_id);
VACUUM main.sales.orders RETAIN 168 HOURS;
DESCRIBE HISTORY main.sales.orders;
SELECT * FROM main.sales.orders VERSION AS OF 12;
