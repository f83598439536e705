SELECT s.sid, s.serial#, s.username, s.status, q.sql_text
FROM v$session s
LEFT JOIN v$sql q ON q.sql_id = s.sql_id
WHERE s.type = 'USER';
