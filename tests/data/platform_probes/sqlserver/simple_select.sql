SELECT p.ProductID, p.Name, p.ListPrice
FROM Production.Product AS p
WHERE p.ListPrice > 100
ORDER BY p.ListPrice DESC;
