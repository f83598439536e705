CREATE PROCEDURE dbo.usp_GetCustomerOrders
    @CustomerID INT,
    @FromDate DATE = NULL
AS
BEGIN
    SET NOCOUNT ON;
    SELECT o.OrderID, o.OrderDate, o.TotalDue
    FROM Sales.Orders AS o
    WHERE o.CustomerID = @CustomerID
      AND (@FromDate IS NULL OR o.OrderDate >= @FromDate)
    ORDER BY o.OrderDate DESC;
END
GO
