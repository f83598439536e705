SELECT TOP 20 qs.total_worker_time / qs.execution_count AS avg_cpu,
       SUBSTRING(st.text, (qs.statement_start_offset / 2) + 1, 200) AS statement_text
FROM sys.dm_exec_query_stats AS qs
CROSS APPLY sys.dm_exec_sql_text(qs.sql_handle) AS st
ORDER BY avg_cpu DESC;
