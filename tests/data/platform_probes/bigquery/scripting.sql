DECLARE cutoff DATE DEFAULT DATE_SUB(CURRENT_DATE(), INTERVAL 30 DAY);
DELETE FROM mart.sessions WHERE session_date < cutoff;
SELECT * EXCEPT (raw_payload) FROM mart.sessions WHERE REGEXP_CONTAINS(page, r'^/checkout');
