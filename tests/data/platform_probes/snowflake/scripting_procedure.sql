CREATE OR REPLACE PROCEDURE refresh_dim_customer()
RETURNS VARCHAR
LANGUAGE SQL
AS
$$
DECLARE
  n INTEGER DEFAULT 0;
BEGIN
  LET started TIMESTAMP_NTZ := CURRENT_TIMESTAMP();
  MERGE INTO dim_customer d USING stg_customer s ON d.id = s.id
    WHEN MATCHED THEN UPDATE SET d.name = s.name
    WHEN NOT MATCHED THEN INSERT (id, name) VALUES (s.id, s.name);
  n := SQLROWCOUNT;
  RETURN 'merged ' || n;
END;
$$;
