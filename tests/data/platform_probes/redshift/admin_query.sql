SELECT q.query, TRIM(q.querytxt) AS sql_text, q.starttime,
       DATEDIFF(seconds, q.starttime, q.endtime) AS secs
FROM stl_query q
WHERE q.starttime >= DATEADD(hour, -1, GETDATE())
ORDER BY secs DESC
LIMIT 20;
