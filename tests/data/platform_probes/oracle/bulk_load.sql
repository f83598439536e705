DECLARE
  TYPE t_ids IS TABLE OF NUMBER;
  l_ids t_ids;
BEGIN
  SELECT id BULK COLLECT INTO l_ids FROM staging_orders;
  FORALL i IN 1 .. l_ids.COUNT
    UPDATE orders SET processed = 'Y' WHERE id = l_ids(i);
  DBMS_OUTPUT.PUT_LINE(SQL%ROWCOUNT || ' rows');
  COMMIT;
END;
/
