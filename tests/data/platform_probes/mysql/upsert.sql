# nightly rollup
INSERT INTO daily_totals (day, total)
SELECT DATE(created_at), SUM(amount) FROM payments GROUP BY DATE(created_at)
ON DUPLICATE KEY UPDATE total = VALUES(total);
SELECT GROUP_CONCAT(name ORDER BY name SEPARATOR ', ') FROM tags LIMIT 0, 10;
