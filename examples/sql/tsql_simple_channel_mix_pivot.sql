-- =============================================================================
-- Monthly channel mix by product category (last 12 closed months)
-- Used by: merchandising dashboard, tab "Channel mix"
-- Database: RetailDW
--
-- One row per category and month, one column per sales channel. Channels
-- are fixed in the PIVOT list; a new channel needs a change here (and in
-- the dashboard) before its sales show up.
-- =============================================================================

DECLARE @FirstMonth DATE = DATEADD(MONTH, -12, DATEFROMPARTS(YEAR(GETDATE()), MONTH(GETDATE()), 1));
DECLARE @LastMonth  DATE = EOMONTH(GETDATE(), -1);

WITH monthly AS
(
    SELECT  p.CategoryName,
            SalesMonth = DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1),
            ch.ChannelName,
            f.NetAmount
    FROM    dw.FactSales   AS f
    JOIN    dw.DimDate     AS d  ON d.DateKey     = f.DateKey
    JOIN    dw.DimProduct  AS p  ON p.ProductKey  = f.ProductKey
    JOIN    dw.DimStore    AS st ON st.StoreKey   = f.StoreKey
    JOIN    dw.DimChannel  AS ch ON ch.ChannelKey = st.ChannelKey
    WHERE   d.FullDate BETWEEN @FirstMonth AND @LastMonth
      AND   p.IsInferred = 0
)
SELECT  pv.CategoryName,
        pv.SalesMonth,
        Store        = ISNULL(pv.[Store], 0),
        Web          = ISNULL(pv.[Web], 0),
        MobileApp    = ISNULL(pv.[Mobile App], 0),
        ClickCollect = ISNULL(pv.[Click & Collect], 0),
        Marketplace  = ISNULL(pv.[Marketplace], 0)
FROM    monthly
PIVOT
(
    SUM(NetAmount)
    FOR ChannelName IN ([Store], [Web], [Mobile App], [Click & Collect], [Marketplace])
) AS pv
ORDER BY pv.CategoryName, pv.SalesMonth;
