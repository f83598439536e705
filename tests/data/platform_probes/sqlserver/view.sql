CREATE VIEW Sales.vCustomerSummary
AS
SELECT c.CustomerID,
       c.Name,
       COUNT(o.OrderID) AS OrderCount,
       ISNULL(SUM(o.TotalDue), 0) AS Revenue,
       CONVERT(VARCHAR(10), MAX(o.OrderDate), 120) AS LastOrder
FROM Sales.Customers AS c
LEFT JOIN Sales.Orders AS o ON o.CustomerID = c.CustomerID
GROUP BY c.CustomerID, c.Name;
