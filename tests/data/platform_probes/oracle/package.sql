CREATE OR REPLACE PACKAGE BODY hr_util AS
  FUNCTION full_name (p_emp_id IN employees.employee_id%TYPE) RETURN VARCHAR2 IS
    v_name VARCHAR2(200);
  BEGIN
    SELECT first_name || ' ' || last_name INTO v_name
    FROM employees WHERE employee_id = p_emp_id;
    RETURN v_name;
  EXCEPTION
    WHEN NO_DATA_FOUND THEN
      RETURN NULL;
  END full_name;
END hr_util;
/
