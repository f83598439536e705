/*=============================================================================
  Procedure:  mart.usp_BuildCustomerRfmSegments
  Database:   RetailDW
  Purpose:    Recency / frequency / monetary (RFM) scoring of loyalty
              customers for the CRM campaign tool. Scores 1-5 per axis by
              quintile over the trailing 12 months, then a named segment.
  Output:     mart.CustomerSegment (one row per current customer, replaced
              on every run) and mart.CustomerSegmentHistory (segment changes).
  Schedule:   weekly, Sunday 04:00, after the nightly load.

  Notes
    * Only customers with at least one non-return purchase in the window are
      scored; others are written with segment 'Dormant'.
    * Anonymous sales (CustomerKey = -1) are excluded.
=============================================================================*/
CREATE OR ALTER PROCEDURE mart.usp_BuildCustomerRfmSegments
    @AsOfDate     DATE = NULL,
    @WindowMonths INT  = 12
AS
BEGIN
    SET NOCOUNT ON;

    SET @AsOfDate = ISNULL(@AsOfDate, CAST(GETDATE() AS DATE));

    DECLARE @WindowStart DATE = DATEADD(MONTH, -@WindowMonths, @AsOfDate),
            @FromKey     INT,
            @ToKey       INT;

    SET @FromKey = YEAR(@WindowStart) * 10000 + MONTH(@WindowStart) * 100 + DAY(@WindowStart);
    SET @ToKey   = YEAR(@AsOfDate) * 10000 + MONTH(@AsOfDate) * 100 + DAY(@AsOfDate);

    IF OBJECT_ID('tempdb..#Purchases') IS NOT NULL DROP TABLE #Purchases;
    IF OBJECT_ID('tempdb..#Scored') IS NOT NULL DROP TABLE #Scored;

    -- 1. purchase facts per customer in the window (returns reduce monetary)
    SELECT  c.CustomerSourceId,
            c.SourceSystem,
            LastPurchase = MAX(CASE WHEN f.IsReturn = 0 THEN d.FullDate END),
            Visits       = COUNT(DISTINCT CASE WHEN f.IsReturn = 0 THEN f.TransactionId END),
            NetSpend     = SUM(f.NetAmount)
    INTO    #Purchases
    FROM    dw.FactSales AS f
    INNER JOIN dw.DimDate AS d     ON d.DateKey = f.DateKey
    INNER JOIN dw.DimCustomer AS c ON c.CustomerKey = f.CustomerKey
    WHERE   f.DateKey BETWEEN @FromKey AND @ToKey
      AND   f.CustomerKey <> -1
    GROUP BY c.CustomerSourceId, c.SourceSystem;

    -- 2. quintile scores; recency is "days since", so lower is better
    WITH base AS
    (
        SELECT  p.*,
                DaysSince = DATEDIFF(DAY, p.LastPurchase, @AsOfDate)
        FROM    #Purchases AS p
        WHERE   p.LastPurchase IS NOT NULL
    ),
    scored AS
    (
        SELECT  b.*,
                R = 6 - NTILE(5) OVER (ORDER BY b.DaysSince ASC),
                F = NTILE(5) OVER (ORDER BY b.Visits ASC),
                M = NTILE(5) OVER (ORDER BY b.NetSpend ASC),
                SpendRank = ROW_NUMBER() OVER (ORDER BY b.NetSpend DESC, b.CustomerSourceId)
        FROM    base AS b
    )
    SELECT  s.CustomerSourceId,
            s.SourceSystem,
            s.LastPurchase,
            s.Visits,
            s.NetSpend,
            s.R, s.F, s.M,
            RfmCode = CONCAT(s.R, s.F, s.M),
            Segment = CASE
                        WHEN s.R >= 4 AND s.F >= 4 AND s.M >= 4 THEN 'Champions'
                        WHEN s.R >= 3 AND s.F >= 4             THEN 'Loyal'
                        WHEN s.R >= 4 AND s.F <= 2             THEN 'New / Promising'
                        WHEN s.R <= 2 AND s.F >= 4             THEN 'At Risk'
                        WHEN s.R <= 2 AND s.F <= 2 AND s.M >= 4 THEN 'Cannot Lose'
                        WHEN s.R <= 2                          THEN 'Hibernating'
                        ELSE 'Needs Attention'
                      END,
            IsTopSpender = CASE WHEN s.SpendRank <= 1000 THEN 1 ELSE 0 END
    INTO    #Scored
    FROM    scored AS s;

    -- 3. customers without a purchase in the window are dormant
    INSERT INTO #Scored (CustomerSourceId, SourceSystem, LastPurchase, Visits, NetSpend,
                         R, F, M, RfmCode, Segment, IsTopSpender)
    SELECT  c.CustomerSourceId, c.SourceSystem, NULL, 0, 0, 1, 1, 1, '111', 'Dormant', 0
    FROM    dw.DimCustomer AS c
    WHERE   c.IsCurrent = 1
      AND   c.CustomerKey > 0
      AND   NOT EXISTS (SELECT 1 FROM #Scored AS s
                        WHERE s.CustomerSourceId = c.CustomerSourceId
                          AND s.SourceSystem = c.SourceSystem);

    -- 4. remember segment changes before the current table is replaced
    IF EXISTS (SELECT 1 FROM mart.CustomerSegment)
    BEGIN
        INSERT INTO mart.CustomerSegmentHistory
               (CustomerSourceId, SourceSystem, OldSegment, NewSegment, ChangedOn)
        SELECT  s.CustomerSourceId, s.SourceSystem, cur.Segment, s.Segment, @AsOfDate
        FROM    #Scored AS s
        INNER JOIN mart.CustomerSegment AS cur
                ON cur.CustomerSourceId = s.CustomerSourceId
               AND cur.SourceSystem = s.SourceSystem
        WHERE   cur.Segment <> s.Segment;
    END;

    BEGIN TRANSACTION;

    TRUNCATE TABLE mart.CustomerSegment;

    INSERT INTO mart.CustomerSegment
           (CustomerSourceId, SourceSystem, LastPurchase, DaysSinceLastPurchase, Visits, NetSpend,
            RecencyScore, FrequencyScore, MonetaryScore, RfmCode, Segment, IsTopSpender, AsOfDate)
    SELECT  CustomerSourceId, SourceSystem, LastPurchase,
            DATEDIFF(DAY, LastPurchase, @AsOfDate),
            Visits, NetSpend, R, F, M, RfmCode, Segment, IsTopSpender, @AsOfDate
    FROM    #Scored;

    COMMIT TRANSACTION;

    -- summary for the job history
    SELECT  Segment, Customers = COUNT(*), AvgSpend = AVG(NetSpend)
    FROM    #Scored
    GROUP BY Segment
    ORDER BY Customers DESC;
END;
GO
