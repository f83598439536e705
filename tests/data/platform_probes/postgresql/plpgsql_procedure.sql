CREATE OR REPLACE PROCEDURE archive_orders(cutoff date)
LANGUAGE plpgsql
AS $$
BEGIN
    INSERT INTO orders_archive SELECT * FROM orders WHERE created_at < cutoff;
    DELETE FROM orders WHERE created_at < cutoff;
    RAISE NOTICE 'archived orders before %', cutoff;
END;
$$;
