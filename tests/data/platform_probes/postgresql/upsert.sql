INSERT INTO daily_totals (day, total)
SELECT date_trunc('day', created_at), sum(amount)
FROM payments
GROUP BY 1
ON CONFLICT (day) DO UPDATE SET total = EXCLUDED.total;
