SELECT owner, table_name, num_rows, last_analyzed
FROM all_tables
WHERE owner = SYS_CONTEXT('USERENV', 'CURRENT_SCHEMA')
ORDER BY num_rows DESC NULLS LAST;
