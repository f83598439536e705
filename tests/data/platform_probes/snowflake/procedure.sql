CREATE OR REPLACE PROCEDURE purge_old_rows(days FLOAT)
RETURNS STRING
LANGUAGE JAVASCRIPT
EXECUTE AS CALLER
AS
$$
  var stmt = snowflake.createStatement({sqlText: "DELETE FROM audit_log WHERE ts < DATEADD(day, -" + DAYS + ", CURRENT_TIMESTAMP())"});
  stmt.execute();
  return "ok";
$$;
