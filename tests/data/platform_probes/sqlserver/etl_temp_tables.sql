IF OBJECT_ID('tempdb..#Staging') IS NOT NULL DROP TABLE #Staging;
SELECT CustomerID, SUM(TotalDue) AS Total
INTO #Staging
FROM Sales.Orders WITH (NOLOCK)
GROUP BY CustomerID;

BEGIN TRY
    BEGIN TRAN;
    UPDATE c SET c.LifetimeValue = s.Total
    FROM dbo.Customers c JOIN #Staging s ON s.CustomerID = c.CustomerID;
    COMMIT TRAN;
END TRY
BEGIN CATCH
    IF @@TRANCOUNT > 0 ROLLBACK TRAN;
    THROW;
END CATCH;
