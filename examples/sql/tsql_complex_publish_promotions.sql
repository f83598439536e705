/*=============================================================================
  Procedure:  pricing.usp_PublishPromotion
  Database:   RetailPricing
  Called by:  the promotion planning web app (service account svc_promo_app)

  Receives one promotion as a JSON document, validates it, stores it in
  pricing.Promotion / pricing.PromotionItem and pushes the promotional
  prices into the per-zone price tables (pricing.ZonePrice_<zone>), which
  the store POS price files are generated from.

  Example payload:
    {
      "promotionId": "SPR24-017",
      "name": "Spring garden weekend",
      "startDate": "2024-03-22",
      "endDate": "2024-03-24",
      "priceZones": ["Z01", "Z04", "Z07"],
      "items": [
        { "sku": "GAR-10231", "promoPrice": 12.99, "limitPerBasket": 2 },
        { "sku": "GAR-10877", "promoPrice": 4.49 }
      ]
    }

  The per-zone tables are a legacy of the old POS integration: one table
  per price zone, same structure. Zone table names are therefore built at
  run time; the zone code is validated against pricing.PriceZone and quoted
  with QUOTENAME before it reaches any dynamic statement.

  Returns one JSON row with the outcome (consumed by the web app).
=============================================================================*/
CREATE OR ALTER PROCEDURE pricing.usp_PublishPromotion
    @Payload      NVARCHAR(MAX),
    @RequestedBy  SYSNAME = NULL,
    @DryRun       BIT     = 0
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @PromotionId   VARCHAR(20),
            @PromoName     NVARCHAR(200),
            @StartDate     DATE,
            @EndDate       DATE,
            @Errors        NVARCHAR(MAX),
            @Zone          CHAR(3),
            @ZoneTable     NVARCHAR(300),
            @Sql           NVARCHAR(MAX),
            @ZoneRows      INT,
            @TotalZoneRows INT = 0,
            @ItemsChanged  INT = 0,
            @RunId         UNIQUEIDENTIFIER = NEWID();

    SET @RequestedBy = ISNULL(@RequestedBy, ORIGINAL_LOGIN());

    -- 1. parse ----------------------------------------------------------
    IF @Payload IS NULL OR ISJSON(@Payload) = 0
        THROW 52001, N'Payload is not valid JSON.', 1;

    SELECT  @PromotionId = h.promotionId,
            @PromoName   = h.name,
            @StartDate   = TRY_CONVERT(DATE, h.startDate, 23),
            @EndDate     = TRY_CONVERT(DATE, h.endDate, 23)
    FROM    OPENJSON(@Payload)
            WITH (promotionId VARCHAR(20)   '$.promotionId',
                  name        NVARCHAR(200) '$.name',
                  startDate   VARCHAR(10)   '$.startDate',
                  endDate     VARCHAR(10)   '$.endDate') AS h;

    CREATE TABLE #Items
    (
        Sku            VARCHAR(30)   NOT NULL PRIMARY KEY,
        PromoPrice     DECIMAL(9, 2) NOT NULL,
        LimitPerBasket SMALLINT      NULL,
        RegularPrice   DECIMAL(9, 2) NULL,
        ProductKnown   BIT           NOT NULL DEFAULT (0)
    );

    INSERT INTO #Items (Sku, PromoPrice, LimitPerBasket)
    SELECT  UPPER(LTRIM(RTRIM(i.sku))), i.promoPrice, i.limitPerBasket
    FROM    OPENJSON(@Payload, '$.items')
            WITH (sku            VARCHAR(30)   '$.sku',
                  promoPrice     DECIMAL(9, 2) '$.promoPrice',
                  limitPerBasket SMALLINT      '$.limitPerBasket') AS i
    WHERE   i.sku IS NOT NULL;

    CREATE TABLE #Zones (ZoneCode CHAR(3) NOT NULL PRIMARY KEY);

    INSERT INTO #Zones (ZoneCode)
    SELECT DISTINCT UPPER(z.[value])
    FROM   OPENJSON(@Payload, '$.priceZones') AS z;

    UPDATE i
    SET    i.RegularPrice = p.RegularPrice,
           i.ProductKnown = 1
    FROM   #Items AS i
    INNER JOIN pricing.Product AS p ON p.Sku = i.Sku;

    -- 2. validate: collect every problem, report them together ----------
    SELECT @Errors = STUFF((
        SELECT N'; ' + e.Msg
        FROM (
                SELECT 1 AS Ord, N'promotionId is missing' AS Msg WHERE @PromotionId IS NULL
                UNION ALL
                SELECT 2, N'startDate/endDate missing or not yyyy-mm-dd'
                WHERE  @StartDate IS NULL OR @EndDate IS NULL
                UNION ALL
                SELECT 3, N'endDate is before startDate' WHERE @EndDate < @StartDate
                UNION ALL
                SELECT 4, N'promotion has no items' WHERE NOT EXISTS (SELECT 1 FROM #Items)
                UNION ALL
                SELECT 5, N'unknown SKU ' + i.Sku FROM #Items AS i WHERE i.ProductKnown = 0
                UNION ALL
                SELECT 6, CONCAT(N'SKU ', i.Sku, N': promo price ', i.PromoPrice,
                                 N' is not below regular price ', i.RegularPrice)
                FROM   #Items AS i
                WHERE  i.ProductKnown = 1 AND i.PromoPrice >= i.RegularPrice
                UNION ALL
                SELECT 7, N'unknown price zone ' + z.ZoneCode
                FROM   #Zones AS z
                WHERE  NOT EXISTS (SELECT 1 FROM pricing.PriceZone AS pz
                                   WHERE pz.ZoneCode = z.ZoneCode AND pz.IsActive = 1)
             ) AS e
        ORDER BY e.Ord
        FOR XML PATH(''), TYPE).value('.', 'NVARCHAR(MAX)'), 1, 2, N'');

    IF @Errors IS NOT NULL
    BEGIN
        SET @Errors = LEFT(N'Promotion rejected: ' + @Errors, 2000);
        THROW 52002, @Errors, 1;
    END;

    IF @DryRun = 1
    BEGIN
        SELECT (SELECT @PromotionId AS promotionId, 'VALID' AS outcome,
                       (SELECT COUNT(*) FROM #Items) AS items,
                       (SELECT COUNT(*) FROM #Zones) AS zones
                FOR JSON PATH, WITHOUT_ARRAY_WRAPPER) AS Result;
        RETURN 0;
    END;

    -- 3. store and publish ----------------------------------------------
    BEGIN TRY
        BEGIN TRANSACTION;

        MERGE pricing.Promotion AS tgt
        USING (SELECT @PromotionId AS PromotionId, @PromoName AS PromoName,
                      @StartDate AS StartDate, @EndDate AS EndDate) AS src
           ON tgt.PromotionId = src.PromotionId
        WHEN MATCHED THEN
            UPDATE SET tgt.PromoName   = src.PromoName,
                       tgt.StartDate   = src.StartDate,
                       tgt.EndDate     = src.EndDate,
                       tgt.ModifiedBy  = @RequestedBy,
                       tgt.ModifiedAt  = SYSDATETIME(),
                       tgt.Version     = tgt.Version + 1
        WHEN NOT MATCHED THEN
            INSERT (PromotionId, PromoName, StartDate, EndDate, CreatedBy, CreatedAt, ModifiedBy, ModifiedAt, Version)
            VALUES (src.PromotionId, src.PromoName, src.StartDate, src.EndDate,
                    @RequestedBy, SYSDATETIME(), @RequestedBy, SYSDATETIME(), 1);

        -- items dropped from the payload are removed from the promotion
        DELETE pi
        FROM   pricing.PromotionItem AS pi
        WHERE  pi.PromotionId = @PromotionId
          AND  NOT EXISTS (SELECT 1 FROM #Items AS i WHERE i.Sku = pi.Sku);

        MERGE pricing.PromotionItem AS tgt
        USING #Items AS src
           ON tgt.PromotionId = @PromotionId AND tgt.Sku = src.Sku
        WHEN MATCHED AND (tgt.PromoPrice <> src.PromoPrice
                          OR ISNULL(tgt.LimitPerBasket, -1) <> ISNULL(src.LimitPerBasket, -1)) THEN
            UPDATE SET tgt.PromoPrice = src.PromoPrice,
                       tgt.LimitPerBasket = src.LimitPerBasket
        WHEN NOT MATCHED THEN
            INSERT (PromotionId, Sku, PromoPrice, LimitPerBasket)
            VALUES (@PromotionId, src.Sku, src.PromoPrice, src.LimitPerBasket);

        SET @ItemsChanged = @@ROWCOUNT;

        /* one price table per zone: walk the zones of the payload */
        DECLARE zone_cur CURSOR LOCAL STATIC READ_ONLY FOR
            SELECT ZoneCode FROM #Zones ORDER BY ZoneCode;

        OPEN zone_cur;
        FETCH NEXT FROM zone_cur INTO @Zone;

        WHILE @@FETCH_STATUS = 0
        BEGIN
            SET @ZoneTable = N'pricing.' + QUOTENAME(N'ZonePrice_' + @Zone);

            IF OBJECT_ID(@ZoneTable, N'U') IS NULL
                THROW 52003, N'Price table for an active zone is missing.', 1;

            SET @Sql = N'
                DELETE FROM ' + @ZoneTable + N'
                WHERE  PromotionId = @pid;

                INSERT INTO ' + @ZoneTable + N'
                       (Sku, PriceType, Price, ValidFrom, ValidTo, LimitPerBasket, PromotionId, LoadedAt)
                SELECT  i.Sku, ''PROMO'', i.PromoPrice, @from, @to, i.LimitPerBasket, @pid, SYSDATETIME()
                FROM    #Items AS i;

                SET @rows = @@ROWCOUNT;';

            EXEC sys.sp_executesql
                 @Sql,
                 N'@pid VARCHAR(20), @from DATE, @to DATE, @rows INT OUTPUT',
                 @pid  = @PromotionId,
                 @from = @StartDate,
                 @to   = @EndDate,
                 @rows = @ZoneRows OUTPUT;

            SET @TotalZoneRows += @ZoneRows;

            INSERT INTO pricing.PublishLog (RunId, PromotionId, ZoneCode, RowsWritten, PublishedBy, PublishedAt)
            VALUES (@RunId, @PromotionId, @Zone, @ZoneRows, @RequestedBy, SYSDATETIME());

            FETCH NEXT FROM zone_cur INTO @Zone;
        END;

        CLOSE zone_cur;
        DEALLOCATE zone_cur;

        COMMIT TRANSACTION;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        IF CURSOR_STATUS('local', 'zone_cur') >= -1
        BEGIN
            IF CURSOR_STATUS('local', 'zone_cur') >= 0 CLOSE zone_cur;
            DEALLOCATE zone_cur;
        END;

        INSERT INTO pricing.PublishLog (RunId, PromotionId, ZoneCode, RowsWritten, PublishedBy, PublishedAt, ErrorText)
        VALUES (@RunId, @PromotionId, @Zone, NULL, @RequestedBy, SYSDATETIME(),
                CONCAT(ERROR_NUMBER(), N': ', ERROR_MESSAGE()));

        THROW;
    END CATCH;

    SELECT (SELECT @PromotionId AS promotionId,
                   'PUBLISHED' AS outcome,
                   @ItemsChanged AS itemsChanged,
                   @TotalZoneRows AS zonePriceRows,
                   CONVERT(VARCHAR(36), @RunId) AS runId
            FOR JSON PATH, WITHOUT_ARRAY_WRAPPER) AS Result;
END;
GO
