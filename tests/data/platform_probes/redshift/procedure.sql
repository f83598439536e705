CREATE OR REPLACE PROCEDURE sp_refresh_daily (run_date IN DATE, rows_loaded OUT INT)
AS $$
BEGIN
    DELETE FROM reporting.daily_sales WHERE sale_date = run_date;
    INSERT INTO reporting.daily_sales
    SELECT sale_date, store_id, SUM(amount) FROM sales WHERE sale_date = run_date GROUP BY 1, 2;
    GET DIAGNOSTICS rows_loaded := ROW_COUNT;
    RAISE INFO 'loaded % rows at %', rows_loaded, GETDATE();
END;
$$ LANGUAGE plpgsql;
