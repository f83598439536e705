COPY analytics.page_views
FROM 's3://my-bucket/page_views/2024/'
IAM_ROLE 'arn:aws:iam::123456789012:role/RedshiftLoad'
FORMAT AS PARQUET;

UNLOAD ('SELECT * FROM analytics.page_views WHERE viewed_at < ''2023-01-01''')
TO 's3://my-bucket/archive/page_views_'
IAM_ROLE 'arn:aws:iam::123456789012:role/RedshiftUnload'
PARALLEL OFF;
