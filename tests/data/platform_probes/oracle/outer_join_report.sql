SELECT d.department_name, e.last_name, NVL(e.salary, 0) AS salary
FROM departments d, employees e
WHERE d.department_id = e.department_id(+)
  AND ROWNUM <= 50
ORDER BY d.department_name;
