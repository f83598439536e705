.LOGON tdprod/etl_user,secret;
.SET WIDTH 200;
DATABASE sales;
INSERT INTO daily_sales
SELECT order_dt, SUM(amount) FROM orders GROUP BY 1;
.IF ERRORCODE <> 0 THEN .QUIT 8;
.LOGOFF;
.QUIT 0;
