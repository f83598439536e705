DELIMITER $$
CREATE DEFINER=`app`@`%` PROCEDURE close_stale_orders(IN cutoff DATE)
BEGIN
  DECLARE done INT DEFAULT 0;
  DECLARE CONTINUE HANDLER FOR NOT FOUND SET done = 1;
  UPDATE orders SET status = 'closed' WHERE created_at < cutoff AND status = 'open';
  SELECT ROW_COUNT() AS closed;
END $$
DELIMITER ;
