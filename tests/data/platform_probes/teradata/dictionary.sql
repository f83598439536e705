SELECT DatabaseName, TableName, SUM(CurrentPerm) / 1024 / 1024 AS perm_mb
FROM DBC.TableSizeV
WHERE DatabaseName = 'sales'
GROUP BY 1, 2
ORDER BY 3 DESC;
