DELIMITER //
CREATE FUNCTION order_total(p_order_id INT) RETURNS DECIMAL(10,2)
DETERMINISTIC
READS SQL DATA
BEGIN
  DECLARE v_total DECIMAL(10,2);
  SELECT SUM(qty * price) INTO v_total FROM order_items WHERE order_id = p_order_id;
  RETURN IFNULL(v_total, 0);
END //
DELIMITER ;
