-- =============================================================================
-- Weekly store sales - Central & Eastern Europe region
-- Report:   "CEE Weekly Trading" (Finance, every Monday 07:00)
-- Database: RetailDW
-- Owner:    BI team (a.nowak)
--
-- Net sales, margin and basket figures per store for the last complete
-- ISO week (Monday to Sunday), compared with the same week last year.
-- Stores opened less than a year ago show NULL for the LY columns.
-- =============================================================================

DECLARE @WeekEnd   DATE = DATEADD(DAY, -((DATEPART(WEEKDAY, GETDATE()) + @@DATEFIRST - 2) % 7) - 1,
                                  CAST(GETDATE() AS DATE));      -- last Sunday
DECLARE @WeekStart DATE = DATEADD(DAY, -6, @WeekEnd);

SELECT  st.Region,
        st.City,
        st.StoreNumber,
        st.StoreName,
        NetSales       = SUM(CASE WHEN d.FullDate BETWEEN @WeekStart AND @WeekEnd
                                  THEN f.NetAmount ELSE 0 END),
        NetSalesLY     = SUM(CASE WHEN d.FullDate BETWEEN DATEADD(WEEK, -52, @WeekStart)
                                                      AND DATEADD(WEEK, -52, @WeekEnd)
                                  THEN f.NetAmount END),
        MarginTY       = SUM(CASE WHEN d.FullDate >= @WeekStart
                                  THEN f.NetAmount - ISNULL(f.CostAmount, 0) ELSE 0 END),
        Baskets        = COUNT(DISTINCT CASE WHEN d.FullDate >= @WeekStart THEN f.TransactionId END),
        ReturnsTY      = SUM(CASE WHEN d.FullDate >= @WeekStart AND f.IsReturn = 1
                                  THEN -f.NetAmount ELSE 0 END)
FROM    dw.FactSales AS f WITH (NOLOCK)      -- report tolerates in-flight nightly load rows
INNER JOIN dw.DimDate  AS d  ON d.DateKey  = f.DateKey
INNER JOIN dw.DimStore AS st ON st.StoreKey = f.StoreKey
WHERE   st.Region = N'CEE'
  AND   st.City IN (N'Łódź', N'Kraków', N'Gdańsk', N'Brno', N'Košice', N'Győr')
  AND   st.IsActive = 1
  AND   (   d.FullDate BETWEEN @WeekStart AND @WeekEnd
         OR d.FullDate BETWEEN DATEADD(WEEK, -52, @WeekStart) AND DATEADD(WEEK, -52, @WeekEnd))
GROUP BY st.Region, st.City, st.StoreNumber, st.StoreName
HAVING  SUM(CASE WHEN d.FullDate >= @WeekStart THEN f.NetAmount ELSE 0 END) <> 0
ORDER BY st.City, NetSales DESC;
