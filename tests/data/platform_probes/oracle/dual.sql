SELECT TO_CHAR(SYSDATE, 'YYYY-MM-DD') AS today, seq_orders.NEXTVAL AS next_id FROM dual;
