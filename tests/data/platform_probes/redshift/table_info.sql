SELECT "schema", "table", size, tbl_rows, skew_rows
FROM svv_table_info
WHERE unsorted > 20
ORDER BY size DESC;
