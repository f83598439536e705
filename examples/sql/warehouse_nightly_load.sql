/*=============================================================================
  File:        warehouse_nightly_load.sql
  Database:    RetailDW (SQL Server 2019+)
  Purpose:     Nightly ETL for the retail sales warehouse.
               Loads conformed dimensions (customer, product, store) from the
               staging schema, appends sales and inventory facts, reconciles
               the loaded facts against the point-of-sale extract, runs the
               data-quality rule set and purges old staging/log rows.

  Deployment:  Run the whole file with sqlcmd against RetailDW. Every object
               is created with CREATE OR ALTER, so the script is re-runnable.

  Schedule:    Agent job "RetailDW - Nightly Load", step 1:
                   EXEC etl.usp_RunNightlyLoad @BusinessDate = NULL;
               (NULL means "yesterday" in the store-local calendar.)

  Change log:
    2021-03-04  mkowalski   Initial version (customer, product, sales).
    2021-09-17  mkowalski   Added store dimension and inventory snapshot.
    2022-02-08  jtan        SCD2 for customers (loyalty tier is tracked).
    2022-11-21  jtan        Reconciliation step, tolerance from etl.Setting.
    2023-06-02  rpatel      Data-quality rules moved to audit.DataQualityRule.
    2024-01-15  rpatel      Batched purge, shorter staging retention (14 d).
=============================================================================*/

USE RetailDW;
GO

SET ANSI_NULLS ON;
SET QUOTED_IDENTIFIER ON;
GO

/*=============================================================================
  Control tables. Created only when missing; the DDL of the warehouse tables
  themselves lives in the schema project, not here.
=============================================================================*/
IF SCHEMA_ID(N'etl') IS NULL EXEC (N'CREATE SCHEMA etl AUTHORIZATION dbo;');
IF SCHEMA_ID(N'audit') IS NULL EXEC (N'CREATE SCHEMA audit AUTHORIZATION dbo;');
GO

IF OBJECT_ID(N'etl.LoadBatch', N'U') IS NULL
BEGIN
    CREATE TABLE etl.LoadBatch
    (
        BatchId         INT IDENTITY(1, 1) NOT NULL CONSTRAINT PK_LoadBatch PRIMARY KEY,
        BusinessDate    DATE          NOT NULL,
        StartedAt       DATETIME2(3)  NOT NULL CONSTRAINT DF_LoadBatch_StartedAt DEFAULT (SYSUTCDATETIME()),
        FinishedAt      DATETIME2(3)  NULL,
        Status          VARCHAR(20)   NOT NULL CONSTRAINT DF_LoadBatch_Status DEFAULT ('RUNNING'),
        TriggeredBy     SYSNAME       NOT NULL CONSTRAINT DF_LoadBatch_TriggeredBy DEFAULT (SUSER_SNAME()),
        ErrorMessage    NVARCHAR(4000) NULL
    );
END;

IF OBJECT_ID(N'etl.StepLog', N'U') IS NULL
BEGIN
    CREATE TABLE etl.StepLog
    (
        StepLogId       BIGINT IDENTITY(1, 1) NOT NULL CONSTRAINT PK_StepLog PRIMARY KEY,
        BatchId         INT           NOT NULL,
        StepName        VARCHAR(100)  NOT NULL,
        StartedAt       DATETIME2(3)  NOT NULL,
        FinishedAt      DATETIME2(3)  NULL,
        RowsInserted    INT           NULL,
        RowsUpdated     INT           NULL,
        RowsDeleted     INT           NULL,
        Status          VARCHAR(20)   NOT NULL,
        ErrorNumber     INT           NULL,
        ErrorMessage    NVARCHAR(4000) NULL
    );
    CREATE INDEX IX_StepLog_Batch ON etl.StepLog (BatchId, StepName);
END;

IF OBJECT_ID(N'etl.Watermark', N'U') IS NULL
BEGIN
    CREATE TABLE etl.Watermark
    (
        SourceName      VARCHAR(100)  NOT NULL CONSTRAINT PK_Watermark PRIMARY KEY,
        LastLoadedAt    DATETIME2(3)  NOT NULL,
        LastBatchId     INT           NULL
    );
END;

IF OBJECT_ID(N'etl.Setting', N'U') IS NULL
BEGIN
    CREATE TABLE etl.Setting
    (
        SettingName     VARCHAR(100)  NOT NULL CONSTRAINT PK_Setting PRIMARY KEY,
        SettingValue    NVARCHAR(400) NOT NULL,
        Description     NVARCHAR(400) NULL
    );

    INSERT INTO etl.Setting (SettingName, SettingValue, Description)
    VALUES ('StagingRetentionDays', N'14',    N'Days of staging rows kept after a successful load'),
           ('StepLogRetentionDays', N'180',   N'Days of etl.StepLog history kept'),
           ('ReconAmountTolerance', N'0.50',  N'Max absolute net-amount difference per store and day'),
           ('ReconRowTolerancePct', N'0.10',  N'Max row-count difference in percent per store and day'),
           ('PurgeBatchSize',       N'20000', N'Rows deleted per iteration by the purge step');
END;
GO

/*=============================================================================
  etl.fn_CleanProductCode
  Source systems send product codes with mixed case, stray spaces and an
  optional vendor prefix ("SKU-", "sku ", "ITM."). The warehouse key is the
  bare upper-case code. Used by the product and sales loads so that both
  sides normalise the code the same way.
=============================================================================*/
CREATE OR ALTER FUNCTION etl.fn_CleanProductCode
(
    @RawCode NVARCHAR(60)
)
RETURNS NVARCHAR(40)
WITH SCHEMABINDING
AS
BEGIN
    DECLARE @Code NVARCHAR(60) = UPPER(LTRIM(RTRIM(@RawCode)));

    IF @Code IS NULL OR @Code = N''
        RETURN NULL;

    -- strip the known vendor prefixes, longest first
    IF LEFT(@Code, 4) IN (N'SKU-', N'SKU ', N'ITM.', N'ITM-')
        SET @Code = SUBSTRING(@Code, 5, 60);
    ELSE IF LEFT(@Code, 3) = N'SKU'
        SET @Code = SUBSTRING(@Code, 4, 60);

    -- internal spaces and tabs are never significant
    SET @Code = REPLACE(REPLACE(@Code, N' ', N''), NCHAR(9), N'');

    RETURN LEFT(@Code, 40);
END;
GO

/*=============================================================================
  etl.usp_LogStep
  One procedure for both ends of a step: call with @Phase = 'START' to open a
  log row (returns its id), and with 'END' or 'FAIL' to close it.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LogStep
    @BatchId        INT,
    @StepName       VARCHAR(100),
    @Phase          VARCHAR(10),
    @StepLogId      BIGINT        = NULL OUTPUT,
    @RowsInserted   INT           = NULL,
    @RowsUpdated    INT           = NULL,
    @RowsDeleted    INT           = NULL,
    @ErrorNumber    INT           = NULL,
    @ErrorMessage   NVARCHAR(4000) = NULL
AS
BEGIN
    SET NOCOUNT ON;

    IF @Phase = 'START'
    BEGIN
        INSERT INTO etl.StepLog (BatchId, StepName, StartedAt, Status)
        VALUES (@BatchId, @StepName, SYSUTCDATETIME(), 'RUNNING');

        SET @StepLogId = CAST(SCOPE_IDENTITY() AS BIGINT);
        RETURN 0;
    END;

    IF @StepLogId IS NULL
    BEGIN
        -- caller lost the id (e.g. failure before START returned): close the
        -- most recent open row for this step instead of failing the batch
        SELECT TOP (1) @StepLogId = StepLogId
        FROM etl.StepLog
        WHERE BatchId = @BatchId
          AND StepName = @StepName
          AND Status = 'RUNNING'
        ORDER BY StepLogId DESC;
    END;

    UPDATE etl.StepLog
    SET FinishedAt   = SYSUTCDATETIME(),
        RowsInserted = @RowsInserted,
        RowsUpdated  = @RowsUpdated,
        RowsDeleted  = @RowsDeleted,
        Status       = CASE @Phase WHEN 'END' THEN 'SUCCEEDED' ELSE 'FAILED' END,
        ErrorNumber  = @ErrorNumber,
        ErrorMessage = @ErrorMessage
    WHERE StepLogId = @StepLogId;

    RETURN 0;
END;
GO

/*=============================================================================
  etl.usp_LoadDimCustomer
  Slowly changing dimension, type 2 on LoyaltyTier, City, StateProvince and
  CountryCode; type 1 (overwrite in place) on name, e-mail and phone.

  The staging table can hold several versions of the same customer when the
  CRM sends intra-day updates; only the latest per customer is applied.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LoadDimCustomer
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId   BIGINT,
            @Inserted    INT = 0,
            @Updated     INT = 0,
            @Now         DATETIME2(3) = SYSUTCDATETIME(),
            @EndOfTime   DATETIME2(3) = '9999-12-31T00:00:00';

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimCustomer',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        /* latest version of each customer in this batch, cleaned */
        IF OBJECT_ID('tempdb..#SrcCustomer') IS NOT NULL DROP TABLE #SrcCustomer;

        SELECT  src.CustomerSourceId,
                src.SourceSystem,
                FullName      = LTRIM(RTRIM(CONCAT(src.FirstName, N' ', src.LastName))),
                Email         = LOWER(NULLIF(LTRIM(RTRIM(src.Email)), N'')),
                Phone         = NULLIF(REPLACE(REPLACE(REPLACE(src.Phone, N' ', N''), N'-', N''), N'.', N''), N''),
                City          = NULLIF(LTRIM(RTRIM(src.City)), N''),
                StateProvince = NULLIF(LTRIM(RTRIM(src.StateProvince)), N''),
                CountryCode   = UPPER(ISNULL(NULLIF(src.CountryCode, ''), 'US')),
                LoyaltyTier   = ISNULL(src.LoyaltyTier, 'NONE'),
                src.ModifiedAt
        INTO    #SrcCustomer
        FROM (
                SELECT  s.*,
                        rn = ROW_NUMBER() OVER (PARTITION BY s.SourceSystem, s.CustomerSourceId
                                                ORDER BY s.ModifiedAt DESC, s.StagingRowId DESC)
                FROM    stg.Customer AS s
                WHERE   s.BatchId = @BatchId
             ) AS src
        WHERE src.rn = 1;

        ALTER TABLE #SrcCustomer ADD
            Type2Hash VARBINARY(32) NULL,
            Type1Hash VARBINARY(32) NULL;

        UPDATE #SrcCustomer
        SET Type2Hash = HASHBYTES('SHA2_256', CONCAT_WS('|', LoyaltyTier, City, StateProvince, CountryCode)),
            Type1Hash = HASHBYTES('SHA2_256', CONCAT_WS('|', FullName, Email, Phone));

        CREATE UNIQUE CLUSTERED INDEX CX_SrcCustomer ON #SrcCustomer (SourceSystem, CustomerSourceId);

        BEGIN TRANSACTION;

        /* 1. type 1 attributes: overwrite on every version of the customer */
        UPDATE d
        SET d.FullName        = s.FullName,
            d.Email           = s.Email,
            d.Phone           = s.Phone,
            d.Type1Hash       = s.Type1Hash,
            d.UpdatedBatchId  = @BatchId
        FROM dw.DimCustomer AS d
        INNER JOIN #SrcCustomer AS s
                ON s.SourceSystem = d.SourceSystem
               AND s.CustomerSourceId = d.CustomerSourceId
        WHERE d.Type1Hash <> s.Type1Hash
           OR d.Type1Hash IS NULL;

        SET @Updated = @@ROWCOUNT;

        /* 2. type 2: expire the current row when a tracked attribute changed,
              insert brand-new customers; OUTPUT tells us what was expired */
        IF OBJECT_ID('tempdb..#Expired') IS NOT NULL DROP TABLE #Expired;
        CREATE TABLE #Expired
        (
            MergeAction      NVARCHAR(10) NOT NULL,
            SourceSystem     VARCHAR(20)  NOT NULL,
            CustomerSourceId VARCHAR(40)  NOT NULL
        );

        MERGE dw.DimCustomer WITH (HOLDLOCK) AS tgt
        USING #SrcCustomer AS src
           ON  tgt.SourceSystem = src.SourceSystem
           AND tgt.CustomerSourceId = src.CustomerSourceId
           AND tgt.IsCurrent = 1
        WHEN MATCHED AND tgt.Type2Hash <> src.Type2Hash THEN
            UPDATE SET tgt.ValidTo        = @Now,
                       tgt.IsCurrent      = 0,
                       tgt.UpdatedBatchId = @BatchId
        WHEN NOT MATCHED BY TARGET THEN
            INSERT (CustomerSourceId, SourceSystem, FullName, Email, Phone, City,
                    StateProvince, CountryCode, LoyaltyTier, Type1Hash, Type2Hash,
                    ValidFrom, ValidTo, IsCurrent, InsertedBatchId, UpdatedBatchId)
            VALUES (src.CustomerSourceId, src.SourceSystem, src.FullName, src.Email, src.Phone, src.City,
                    src.StateProvince, src.CountryCode, src.LoyaltyTier, src.Type1Hash, src.Type2Hash,
                    '1900-01-01', @EndOfTime, 1, @BatchId, @BatchId)
        OUTPUT $action, src.SourceSystem, src.CustomerSourceId
        INTO #Expired (MergeAction, SourceSystem, CustomerSourceId);

        SELECT @Inserted = COUNT(*) FROM #Expired WHERE MergeAction = N'INSERT';

        /* 3. new current version for every customer expired in step 2 */
        INSERT INTO dw.DimCustomer
               (CustomerSourceId, SourceSystem, FullName, Email, Phone, City,
                StateProvince, CountryCode, LoyaltyTier, Type1Hash, Type2Hash,
                ValidFrom, ValidTo, IsCurrent, InsertedBatchId, UpdatedBatchId)
        SELECT  s.CustomerSourceId, s.SourceSystem, s.FullName, s.Email, s.Phone, s.City,
                s.StateProvince, s.CountryCode, s.LoyaltyTier, s.Type1Hash, s.Type2Hash,
                @Now, @EndOfTime, 1, @BatchId, @BatchId
        FROM    #Expired AS e
        INNER JOIN #SrcCustomer AS s
                ON s.SourceSystem = e.SourceSystem
               AND s.CustomerSourceId = e.CustomerSourceId
        WHERE   e.MergeAction = N'UPDATE';

        SET @Inserted += @@ROWCOUNT;

        COMMIT TRANSACTION;

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimCustomer', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted, @RowsUpdated = @Updated;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimCustomer', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_LoadDimProduct
  Type 1 dimension. Also resolves "inferred" members: rows created by the
  sales load for product codes that had not arrived from the PIM yet. When
  the real product shows up, the inferred row is completed in place so the
  fact rows already pointing at it keep their ProductKey.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LoadDimProduct
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId BIGINT,
            @Inserted  INT = 0,
            @Updated   INT = 0;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimProduct',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        IF OBJECT_ID('tempdb..#SrcProduct') IS NOT NULL DROP TABLE #SrcProduct;

        WITH cleaned AS
        (
            SELECT  ProductCode     = etl.fn_CleanProductCode(p.ProductCode),
                    ProductName     = LTRIM(RTRIM(p.ProductName)),
                    Brand           = ISNULL(NULLIF(LTRIM(RTRIM(p.Brand)), N''), N'Unbranded'),
                    CategoryName    = ISNULL(c.CategoryName, N'Unassigned'),
                    SubcategoryName = ISNULL(c.SubcategoryName, N'Unassigned'),
                    UnitCost        = CAST(p.UnitCost AS DECIMAL(19, 4)),
                    ListPrice       = CAST(p.ListPrice AS DECIMAL(19, 4)),
                    IsDiscontinued  = CAST(ISNULL(p.IsDiscontinued, 0) AS BIT),
                    p.ModifiedAt
            FROM    stg.Product AS p
            LEFT JOIN stg.ProductCategoryMap AS c
                   ON c.SubcategoryCode = p.SubcategoryCode
            WHERE   p.BatchId = @BatchId
        ),
        latest AS
        (
            SELECT  *,
                    rn = ROW_NUMBER() OVER (PARTITION BY ProductCode ORDER BY ModifiedAt DESC)
            FROM    cleaned
            WHERE   ProductCode IS NOT NULL
        )
        SELECT  ProductCode, ProductName, Brand, CategoryName, SubcategoryName,
                UnitCost, ListPrice, IsDiscontinued
        INTO    #SrcProduct
        FROM    latest
        WHERE   rn = 1;

        /* guard against a broken PIM extract: list price below cost for a
           large share of products usually means swapped columns */
        IF (SELECT COUNT(*) FROM #SrcProduct) > 100
           AND (SELECT COUNT(*) FROM #SrcProduct WHERE ListPrice < UnitCost) * 4
               > (SELECT COUNT(*) FROM #SrcProduct)
        BEGIN
            RAISERROR(N'DimProduct: more than 25%% of products priced below cost in batch %d; load stopped.',
                      16, 1, @BatchId);
        END;

        BEGIN TRANSACTION;

        MERGE dw.DimProduct AS tgt
        USING #SrcProduct AS src
           ON tgt.ProductCode = src.ProductCode
        WHEN MATCHED AND (   tgt.IsInferred = 1
                          OR tgt.ProductName     <> src.ProductName
                          OR tgt.Brand           <> src.Brand
                          OR tgt.CategoryName    <> src.CategoryName
                          OR tgt.SubcategoryName <> src.SubcategoryName
                          OR tgt.UnitCost        <> src.UnitCost
                          OR tgt.ListPrice       <> src.ListPrice
                          OR tgt.IsDiscontinued  <> src.IsDiscontinued) THEN
            UPDATE SET tgt.ProductName        = src.ProductName,
                       tgt.Brand              = src.Brand,
                       tgt.CategoryName       = src.CategoryName,
                       tgt.SubcategoryName    = src.SubcategoryName,
                       tgt.UnitCost           = src.UnitCost,
                       tgt.ListPrice          = src.ListPrice,
                       tgt.IsDiscontinued     = src.IsDiscontinued,
                       tgt.IsInferred         = 0,
                       tgt.LastUpdatedBatchId = @BatchId
        WHEN NOT MATCHED BY TARGET THEN
            INSERT (ProductCode, ProductName, Brand, CategoryName, SubcategoryName,
                    UnitCost, ListPrice, IsDiscontinued, IsInferred, InsertedBatchId, LastUpdatedBatchId)
            VALUES (src.ProductCode, src.ProductName, src.Brand, src.CategoryName, src.SubcategoryName,
                    src.UnitCost, src.ListPrice, src.IsDiscontinued, 0, @BatchId, @BatchId);

        SELECT @Inserted = COUNT(*) FROM dw.DimProduct WHERE InsertedBatchId = @BatchId;
        SELECT @Updated  = COUNT(*) FROM dw.DimProduct
        WHERE LastUpdatedBatchId = @BatchId AND InsertedBatchId <> @BatchId;

        COMMIT TRANSACTION;

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimProduct', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted, @RowsUpdated = @Updated;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimProduct', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_LoadDimStore
  Small dimension (a few hundred rows), so it is reloaded with plain
  UPDATE/INSERT statements rather than MERGE. Closed stores are kept with
  their CloseDate; a store that disappears from the extract is flagged, not
  deleted, because facts reference it.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LoadDimStore
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId BIGINT,
            @Inserted  INT = 0,
            @Updated   INT = 0,
            @Missing   INT = 0;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimStore',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        IF NOT EXISTS (SELECT 1 FROM stg.Store WHERE BatchId = @BatchId)
        BEGIN
            -- the store master is only sent when something changed
            EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimStore', @Phase = 'END',
                                 @StepLogId = @StepLogId, @RowsInserted = 0, @RowsUpdated = 0;
            RETURN 0;
        END;

        DECLARE @Store TABLE
        (
            StoreNumber     INT           NOT NULL PRIMARY KEY,
            StoreName       NVARCHAR(100) NOT NULL,
            StoreFormat     VARCHAR(20)   NOT NULL,
            Region          NVARCHAR(50)  NOT NULL,
            District        NVARCHAR(50)  NOT NULL,
            City            NVARCHAR(100) NULL,
            PostalCode      VARCHAR(12)   NULL,
            SquareFeet      INT           NULL,
            OpenDate        DATE          NULL,
            CloseDate       DATE          NULL
        );

        INSERT INTO @Store
        SELECT  s.StoreNumber,
                LTRIM(RTRIM(s.StoreName)),
                CASE
                    WHEN s.SquareFeet >= 60000 THEN 'SUPERSTORE'
                    WHEN s.SquareFeet >= 20000 THEN 'STANDARD'
                    WHEN s.SquareFeet > 0      THEN 'EXPRESS'
                    WHEN s.StoreName LIKE N'%Online%' THEN 'DIGITAL'
                    ELSE 'UNKNOWN'
                END,
                ISNULL(NULLIF(s.Region, N''), N'Unassigned'),
                ISNULL(NULLIF(s.District, N''), N'Unassigned'),
                s.City,
                UPPER(REPLACE(s.PostalCode, ' ', '')),
                NULLIF(s.SquareFeet, 0),
                TRY_CONVERT(DATE, s.OpenDate, 112),
                TRY_CONVERT(DATE, s.CloseDate, 112)
        FROM    stg.Store AS s
        WHERE   s.BatchId = @BatchId;

        BEGIN TRANSACTION;

        UPDATE d
        SET d.StoreName          = s.StoreName,
            d.StoreFormat        = s.StoreFormat,
            d.Region             = s.Region,
            d.District           = s.District,
            d.City               = s.City,
            d.PostalCode         = s.PostalCode,
            d.SquareFeet         = s.SquareFeet,
            d.OpenDate           = s.OpenDate,
            d.CloseDate          = s.CloseDate,
            d.IsActive           = CASE WHEN s.CloseDate IS NULL OR s.CloseDate > @BusinessDate THEN 1 ELSE 0 END,
            d.MissingFromSource  = 0,
            d.LastUpdatedBatchId = @BatchId
        FROM dw.DimStore AS d
        INNER JOIN @Store AS s ON s.StoreNumber = d.StoreNumber
        WHERE EXISTS (SELECT d.StoreName, d.StoreFormat, d.Region, d.District, d.City,
                             d.PostalCode, d.SquareFeet, d.OpenDate, d.CloseDate
                      EXCEPT
                      SELECT s.StoreName, s.StoreFormat, s.Region, s.District, s.City,
                             s.PostalCode, s.SquareFeet, s.OpenDate, s.CloseDate)
           OR d.MissingFromSource = 1;

        SET @Updated = @@ROWCOUNT;

        INSERT INTO dw.DimStore
               (StoreNumber, StoreName, StoreFormat, Region, District, City, PostalCode,
                SquareFeet, OpenDate, CloseDate, IsActive, MissingFromSource,
                InsertedBatchId, LastUpdatedBatchId)
        SELECT  s.StoreNumber, s.StoreName, s.StoreFormat, s.Region, s.District, s.City, s.PostalCode,
                s.SquareFeet, s.OpenDate, s.CloseDate,
                CASE WHEN s.CloseDate IS NULL OR s.CloseDate > @BusinessDate THEN 1 ELSE 0 END,
                0, @BatchId, @BatchId
        FROM    @Store AS s
        WHERE   NOT EXISTS (SELECT 1 FROM dw.DimStore AS d WHERE d.StoreNumber = s.StoreNumber);

        SET @Inserted = @@ROWCOUNT;

        /* full extract: anything we know that was not sent is flagged */
        UPDATE d
        SET d.MissingFromSource  = 1,
            d.LastUpdatedBatchId = @BatchId
        FROM dw.DimStore AS d
        WHERE d.StoreNumber > 0                -- 0 / -1 are the unknown members
          AND d.MissingFromSource = 0
          AND NOT EXISTS (SELECT 1 FROM @Store AS s WHERE s.StoreNumber = d.StoreNumber);

        SET @Missing = @@ROWCOUNT;

        COMMIT TRANSACTION;

        IF @Missing > 5
            PRINT CONCAT('DimStore: ', @Missing, ' stores missing from the store master extract.');

        SET @Updated += @Missing;
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimStore', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted, @RowsUpdated = @Updated;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DimStore', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_LoadFactSales
  Incremental load of sales lines since the last watermark.

  * Keys are resolved against the dimensions; unknown products get an
    inferred member (completed later by usp_LoadDimProduct), unknown
    customers map to -1 (anonymous / cash sale).
  * The customer version in force at the time of the transaction is used
    (SCD2 lookup on ValidFrom/ValidTo).
  * Re-sent transactions replace the previous lines of the same
    TransactionId (POS corrections), done in daily slices to keep the
    transaction log small.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LoadFactSales
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId     BIGINT,
            @Inserted      INT = 0,
            @Deleted       INT = 0,
            @LastLoadedAt  DATETIME2(3),
            @NewWatermark  DATETIME2(3),
            @SliceDate     DATE,
            @LastSliceDate DATE;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactSales',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        SELECT @LastLoadedAt = LastLoadedAt
        FROM   etl.Watermark
        WHERE  SourceName = 'stg.SalesLine';

        SET @LastLoadedAt = ISNULL(@LastLoadedAt, '2000-01-01');

        /* 1. candidate lines: everything received since the watermark */
        IF OBJECT_ID('tempdb..#Lines') IS NOT NULL DROP TABLE #Lines;

        SELECT  l.TransactionId,
                l.LineNumber,
                l.StoreNumber,
                l.RegisterNumber,
                l.TransactionTs,
                TransactionDate = CAST(l.TransactionTs AS DATE),
                l.CustomerSourceId,
                l.SourceSystem,
                ProductCode     = etl.fn_CleanProductCode(l.ProductCode),
                Quantity        = CAST(l.Quantity AS DECIMAL(18, 3)),
                UnitPrice       = CAST(l.UnitPrice AS DECIMAL(19, 4)),
                DiscountAmount  = CAST(ISNULL(l.DiscountAmount, 0) AS DECIMAL(19, 4)),
                TaxAmount       = CAST(ISNULL(l.TaxAmount, 0) AS DECIMAL(19, 4)),
                IsReturn        = CAST(CASE WHEN l.ReturnFlag IN ('Y', '1', 'R') OR l.Quantity < 0 THEN 1 ELSE 0 END AS BIT),
                l.ReceivedAt
        INTO    #Lines
        FROM    stg.SalesLine AS l
        WHERE   l.ReceivedAt > @LastLoadedAt
          AND   l.TransactionTs >= DATEADD(DAY, -35, @BusinessDate);   -- older corrections go to the manual queue

        SELECT @NewWatermark = MAX(ReceivedAt) FROM #Lines;

        IF @NewWatermark IS NULL
        BEGIN
            EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactSales', @Phase = 'END',
                                 @StepLogId = @StepLogId, @RowsInserted = 0, @RowsDeleted = 0;
            RETURN 0;
        END;

        CREATE CLUSTERED INDEX CX_Lines ON #Lines (TransactionDate, TransactionId, LineNumber);

        /* 2. inferred product members for codes the PIM has not sent yet */
        INSERT INTO dw.DimProduct
               (ProductCode, ProductName, Brand, CategoryName, SubcategoryName,
                UnitCost, ListPrice, IsDiscontinued, IsInferred, InsertedBatchId, LastUpdatedBatchId)
        SELECT DISTINCT
                l.ProductCode, N'(inferred) ' + l.ProductCode, N'Unknown', N'Unassigned', N'Unassigned',
                NULL, NULL, 0, 1, @BatchId, @BatchId
        FROM    #Lines AS l
        WHERE   l.ProductCode IS NOT NULL
          AND   NOT EXISTS (SELECT 1 FROM dw.DimProduct AS p WHERE p.ProductCode = l.ProductCode);

        /* 3. resolve surrogate keys */
        IF OBJECT_ID('tempdb..#Resolved') IS NOT NULL DROP TABLE #Resolved;

        SELECT  DateKey        = CONVERT(INT, CONVERT(CHAR(8), l.TransactionDate, 112)),
                StoreKey       = ISNULL(st.StoreKey, -1),
                ProductKey     = ISNULL(p.ProductKey, -1),
                CustomerKey    = ISNULL(c.CustomerKey, -1),
                l.TransactionId,
                l.LineNumber,
                l.TransactionDate,
                l.Quantity,
                GrossAmount    = ROUND(l.Quantity * l.UnitPrice, 2),
                l.DiscountAmount,
                NetAmount      = ROUND(l.Quantity * l.UnitPrice, 2) - l.DiscountAmount,
                l.TaxAmount,
                CostAmount     = ROUND(l.Quantity * ISNULL(p.UnitCost, 0), 2),
                l.IsReturn
        INTO    #Resolved
        FROM    #Lines AS l
        LEFT JOIN dw.DimStore AS st
               ON st.StoreNumber = l.StoreNumber
        LEFT JOIN dw.DimProduct AS p
               ON p.ProductCode = l.ProductCode
        LEFT JOIN dw.DimCustomer AS c
               ON c.SourceSystem = l.SourceSystem
              AND c.CustomerSourceId = l.CustomerSourceId
              AND l.TransactionTs >= c.ValidFrom
              AND l.TransactionTs <  c.ValidTo;

        /* 4. replace per day: delete previous lines of re-sent transactions,
              then insert; one transaction per day keeps the log manageable */
        SELECT @SliceDate = MIN(TransactionDate), @LastSliceDate = MAX(TransactionDate)
        FROM   #Resolved;

        WHILE @SliceDate <= @LastSliceDate
        BEGIN
            BEGIN TRANSACTION;

            DELETE f
            FROM dw.FactSales AS f
            WHERE f.DateKey = CONVERT(INT, CONVERT(CHAR(8), @SliceDate, 112))
              AND EXISTS (SELECT 1
                          FROM #Resolved AS r
                          WHERE r.TransactionDate = @SliceDate
                            AND r.TransactionId = f.TransactionId);

            SET @Deleted += @@ROWCOUNT;

            INSERT INTO dw.FactSales
                   (DateKey, StoreKey, ProductKey, CustomerKey, TransactionId, LineNumber,
                    Quantity, GrossAmount, DiscountAmount, NetAmount, TaxAmount, CostAmount,
                    IsReturn, BatchId)
            SELECT  r.DateKey, r.StoreKey, r.ProductKey, r.CustomerKey, r.TransactionId, r.LineNumber,
                    r.Quantity, r.GrossAmount, r.DiscountAmount, r.NetAmount, r.TaxAmount, r.CostAmount,
                    r.IsReturn, @BatchId
            FROM    #Resolved AS r
            WHERE   r.TransactionDate = @SliceDate;

            SET @Inserted += @@ROWCOUNT;

            COMMIT TRANSACTION;

            SET @SliceDate = DATEADD(DAY, 1, @SliceDate);
        END;

        /* 5. move the watermark only after every slice committed */
        UPDATE etl.Watermark
        SET    LastLoadedAt = @NewWatermark,
               LastBatchId  = @BatchId
        WHERE  SourceName = 'stg.SalesLine';

        IF @@ROWCOUNT = 0
            INSERT INTO etl.Watermark (SourceName, LastLoadedAt, LastBatchId)
            VALUES ('stg.SalesLine', @NewWatermark, @BatchId);

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactSales', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted, @RowsDeleted = @Deleted;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactSales', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_LoadFactInventoryDaily
  Periodic snapshot fact: one row per store, product and day. Stores send
  their positions at close of business; a store that did not send today
  gets yesterday's position carried forward (flagged IsCarriedForward) so
  that inventory reports never show a store at zero stock by accident.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_LoadFactInventoryDaily
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId   BIGINT,
            @Inserted    INT = 0,
            @Carried     INT = 0,
            @DateKey     INT = CONVERT(INT, CONVERT(CHAR(8), @BusinessDate, 112)),
            @PrevDateKey INT = CONVERT(INT, CONVERT(CHAR(8), DATEADD(DAY, -1, @BusinessDate), 112));

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactInventoryDaily',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        IF OBJECT_ID('tempdb..#Position') IS NOT NULL DROP TABLE #Position;

        CREATE TABLE #Position
        (
            StoreKey        INT            NOT NULL,
            ProductKey      INT            NOT NULL,
            OnHandQty       DECIMAL(18, 3) NOT NULL,
            OnOrderQty      DECIMAL(18, 3) NOT NULL,
            InTransitQty    DECIMAL(18, 3) NOT NULL,
            OnHandValue     DECIMAL(19, 2) NULL,
            IsCarriedForward BIT           NOT NULL,
            PRIMARY KEY (StoreKey, ProductKey)
        );

        /* positions reported today; several files per store are possible,
           the last one received wins */
        WITH reported AS
        (
            SELECT  st.StoreKey,
                    p.ProductKey,
                    ip.OnHandQty,
                    ip.OnOrderQty,
                    ip.InTransitQty,
                    p.UnitCost,
                    rn = ROW_NUMBER() OVER (PARTITION BY st.StoreKey, p.ProductKey
                                            ORDER BY ip.ReceivedAt DESC, ip.FileSequence DESC)
            FROM    stg.InventoryPosition AS ip
            INNER JOIN dw.DimStore AS st
                    ON st.StoreNumber = ip.StoreNumber
            INNER JOIN dw.DimProduct AS p
                    ON p.ProductCode = etl.fn_CleanProductCode(ip.ProductCode)
            WHERE   ip.SnapshotDate = @BusinessDate
        )
        INSERT INTO #Position (StoreKey, ProductKey, OnHandQty, OnOrderQty, InTransitQty, OnHandValue, IsCarriedForward)
        SELECT  StoreKey,
                ProductKey,
                ISNULL(OnHandQty, 0),
                ISNULL(OnOrderQty, 0),
                ISNULL(InTransitQty, 0),
                CAST(ISNULL(OnHandQty, 0) * UnitCost AS DECIMAL(19, 2)),
                0
        FROM    reported
        WHERE   rn = 1;

        SET @Inserted = @@ROWCOUNT;

        /* carry forward for active stores that sent nothing today */
        INSERT INTO #Position (StoreKey, ProductKey, OnHandQty, OnOrderQty, InTransitQty, OnHandValue, IsCarriedForward)
        SELECT  prev.StoreKey,
                prev.ProductKey,
                prev.OnHandQty,
                prev.OnOrderQty,
                prev.InTransitQty,
                prev.OnHandValue,
                1
        FROM    dw.FactInventoryDaily AS prev
        INNER JOIN dw.DimStore AS st
                ON st.StoreKey = prev.StoreKey
               AND st.IsActive = 1
        WHERE   prev.DateKey = @PrevDateKey
          AND   NOT EXISTS (SELECT 1 FROM #Position AS t WHERE t.StoreKey = prev.StoreKey);

        SET @Carried = @@ROWCOUNT;

        BEGIN TRANSACTION;

        DELETE FROM dw.FactInventoryDaily WHERE DateKey = @DateKey;

        INSERT INTO dw.FactInventoryDaily
               (DateKey, StoreKey, ProductKey, OnHandQty, OnOrderQty, InTransitQty,
                OnHandValue, IsCarriedForward, BatchId)
        SELECT  @DateKey, StoreKey, ProductKey, OnHandQty, OnOrderQty, InTransitQty,
                OnHandValue, IsCarriedForward, @BatchId
        FROM    #Position;

        COMMIT TRANSACTION;

        IF @Carried > 0
            PRINT CONCAT('FactInventoryDaily: ', @Carried, ' positions carried forward from ',
                         CONVERT(CHAR(10), DATEADD(DAY, -1, @BusinessDate), 23), '.');

        SET @Inserted += @Carried;
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactInventoryDaily', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'FactInventoryDaily', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_ReconcileSales
  Compares what was loaded into dw.FactSales with the control totals the
  POS hub sends per store and day (stg.PosControlTotal). Differences above
  the tolerances in etl.Setting are written to audit.ReconciliationResult;
  with @FailOnBreak = 1 a break stops the nightly run.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_ReconcileSales
    @BatchId        INT,
    @BusinessDate   DATE,
    @FailOnBreak    BIT = 0
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @StepLogId       BIGINT,
            @AmountTolerance DECIMAL(19, 4),
            @RowTolerancePct DECIMAL(9, 4),
            @Breaks          INT = 0,
            @DateKey         INT = CONVERT(INT, CONVERT(CHAR(8), @BusinessDate, 112));

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'ReconcileSales',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    SELECT @AmountTolerance = TRY_CAST(SettingValue AS DECIMAL(19, 4))
    FROM   etl.Setting WHERE SettingName = 'ReconAmountTolerance';

    SELECT @RowTolerancePct = TRY_CAST(SettingValue AS DECIMAL(9, 4))
    FROM   etl.Setting WHERE SettingName = 'ReconRowTolerancePct';

    SET @AmountTolerance = ISNULL(@AmountTolerance, 0.50);
    SET @RowTolerancePct = ISNULL(@RowTolerancePct, 0.10);

    BEGIN TRY
        ;WITH loaded AS
        (
            SELECT  st.StoreNumber,
                    LineCount = COUNT_BIG(*),
                    NetAmount = SUM(f.NetAmount),
                    TaxAmount = SUM(f.TaxAmount)
            FROM    dw.FactSales AS f
            INNER JOIN dw.DimStore AS st ON st.StoreKey = f.StoreKey
            WHERE   f.DateKey = @DateKey
            GROUP BY st.StoreNumber
        ),
        expected AS
        (
            SELECT  c.StoreNumber,
                    LineCount = SUM(c.LineCount),
                    NetAmount = SUM(c.NetAmount),
                    TaxAmount = SUM(c.TaxAmount)
            FROM    stg.PosControlTotal AS c
            WHERE   c.BusinessDate = @BusinessDate
            GROUP BY c.StoreNumber
        ),
        compared AS
        (
            SELECT  StoreNumber     = COALESCE(e.StoreNumber, l.StoreNumber),
                    ExpectedLines   = ISNULL(e.LineCount, 0),
                    LoadedLines     = ISNULL(l.LineCount, 0),
                    ExpectedNet     = ISNULL(e.NetAmount, 0),
                    LoadedNet       = ISNULL(l.NetAmount, 0),
                    ExpectedTax     = ISNULL(e.TaxAmount, 0),
                    LoadedTax       = ISNULL(l.TaxAmount, 0)
            FROM    expected AS e
            FULL OUTER JOIN loaded AS l ON l.StoreNumber = e.StoreNumber
        )
        INSERT INTO audit.ReconciliationResult
               (BatchId, BusinessDate, StoreNumber, ExpectedLines, LoadedLines,
                ExpectedNet, LoadedNet, ExpectedTax, LoadedTax, BreakType, CheckedAt)
        SELECT  @BatchId, @BusinessDate, c.StoreNumber, c.ExpectedLines, c.LoadedLines,
                c.ExpectedNet, c.LoadedNet, c.ExpectedTax, c.LoadedTax,
                CASE
                    WHEN c.ExpectedLines = 0 THEN 'NO_CONTROL_TOTAL'
                    WHEN c.LoadedLines = 0 THEN 'NOTHING_LOADED'
                    WHEN ABS(c.LoadedLines - c.ExpectedLines) * 100.0 / c.ExpectedLines > @RowTolerancePct
                        THEN 'ROW_COUNT'
                    WHEN ABS(c.LoadedNet - c.ExpectedNet) > @AmountTolerance THEN 'NET_AMOUNT'
                    WHEN ABS(c.LoadedTax - c.ExpectedTax) > @AmountTolerance THEN 'TAX_AMOUNT'
                    ELSE 'OK'
                END,
                SYSUTCDATETIME()
        FROM    compared AS c;

        SELECT @Breaks = COUNT(*)
        FROM   audit.ReconciliationResult
        WHERE  BatchId = @BatchId
          AND  BusinessDate = @BusinessDate
          AND  BreakType NOT IN ('OK', 'NO_CONTROL_TOTAL');

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'ReconcileSales', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Breaks;

        IF @Breaks > 0 AND @FailOnBreak = 1
        BEGIN
            DECLARE @Msg NVARCHAR(400) =
                CONCAT(N'Sales reconciliation found ', @Breaks, N' store(s) out of tolerance for ',
                       CONVERT(NCHAR(10), @BusinessDate, 23), N'. See audit.ReconciliationResult, batch ', @BatchId, N'.');
            THROW 51010, @Msg, 1;
        END;
    END TRY
    BEGIN CATCH
        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();

        -- the END row was already written when the failure is our own THROW
        IF @ErrNo <> 51010
            EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'ReconcileSales', @Phase = 'FAIL',
                                 @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_RefreshSalesSummary
  Rebuilds dw.AggSalesMonthly (store x category x month) for every month
  touched by this batch, including ranking within region and the
  month-over-month and year-over-year comparisons used by the store
  performance dashboard.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_RefreshSalesSummary
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;
    SET XACT_ABORT ON;

    DECLARE @StepLogId BIGINT,
            @Inserted  INT = 0,
            @Deleted   INT = 0;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'RefreshSalesSummary',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    BEGIN TRY
        /* months touched by this batch (late corrections can reach back) */
        DECLARE @Months TABLE (MonthStart DATE NOT NULL PRIMARY KEY);

        INSERT INTO @Months (MonthStart)
        SELECT DISTINCT DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1)
        FROM   dw.FactSales AS f
        INNER JOIN dw.DimDate AS d ON d.DateKey = f.DateKey
        WHERE  f.BatchId = @BatchId;

        IF NOT EXISTS (SELECT 1 FROM @Months)
        BEGIN
            EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'RefreshSalesSummary', @Phase = 'END',
                                 @StepLogId = @StepLogId, @RowsInserted = 0, @RowsDeleted = 0;
            RETURN 0;
        END;

        IF OBJECT_ID('tempdb..#Monthly') IS NOT NULL DROP TABLE #Monthly;

        SELECT  MonthStart   = DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1),
                f.StoreKey,
                p.CategoryName,
                NetAmount    = SUM(f.NetAmount),
                CostAmount   = SUM(f.CostAmount),
                UnitsSold    = SUM(CASE WHEN f.IsReturn = 0 THEN f.Quantity ELSE 0 END),
                UnitsReturned = SUM(CASE WHEN f.IsReturn = 1 THEN ABS(f.Quantity) ELSE 0 END),
                Transactions = COUNT(DISTINCT f.TransactionId)
        INTO    #Monthly
        FROM    dw.FactSales AS f
        INNER JOIN dw.DimDate AS d    ON d.DateKey = f.DateKey
        INNER JOIN dw.DimProduct AS p ON p.ProductKey = f.ProductKey
        WHERE   DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1) IN (SELECT MonthStart FROM @Months)
             OR DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1)
                    IN (SELECT DATEADD(MONTH, -1, MonthStart) FROM @Months)
             OR DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1)
                    IN (SELECT DATEADD(YEAR, -1, MonthStart) FROM @Months)
        GROUP BY DATEFROMPARTS(d.CalendarYear, d.CalendarMonth, 1), f.StoreKey, p.CategoryName;

        BEGIN TRANSACTION;

        DELETE a
        FROM dw.AggSalesMonthly AS a
        WHERE a.MonthStart IN (SELECT MonthStart FROM @Months);

        SET @Deleted = @@ROWCOUNT;

        INSERT INTO dw.AggSalesMonthly
               (MonthStart, StoreKey, CategoryName, NetAmount, CostAmount, MarginPct,
                UnitsSold, UnitsReturned, Transactions, RankInRegion,
                NetAmountPrevMonth, NetAmountPrevYear, BatchId)
        SELECT  m.MonthStart,
                m.StoreKey,
                m.CategoryName,
                m.NetAmount,
                m.CostAmount,
                MarginPct = CASE WHEN m.NetAmount = 0 THEN NULL
                                 ELSE CAST((m.NetAmount - m.CostAmount) * 100.0 / m.NetAmount AS DECIMAL(9, 2))
                            END,
                m.UnitsSold,
                m.UnitsReturned,
                m.Transactions,
                RankInRegion = DENSE_RANK() OVER (PARTITION BY m.MonthStart, st.Region, m.CategoryName
                                                  ORDER BY m.NetAmount DESC),
                NetAmountPrevMonth = pm.NetAmount,
                NetAmountPrevYear  = py.NetAmount,
                @BatchId
        FROM    #Monthly AS m
        INNER JOIN dw.DimStore AS st ON st.StoreKey = m.StoreKey
        LEFT JOIN #Monthly AS pm
               ON pm.StoreKey = m.StoreKey
              AND pm.CategoryName = m.CategoryName
              AND pm.MonthStart = DATEADD(MONTH, -1, m.MonthStart)
        LEFT JOIN #Monthly AS py
               ON py.StoreKey = m.StoreKey
              AND py.CategoryName = m.CategoryName
              AND py.MonthStart = DATEADD(YEAR, -1, m.MonthStart)
        WHERE   m.MonthStart IN (SELECT MonthStart FROM @Months);

        SET @Inserted = @@ROWCOUNT;

        COMMIT TRANSACTION;

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'RefreshSalesSummary', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsInserted = @Inserted, @RowsDeleted = @Deleted;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0 ROLLBACK TRANSACTION;

        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'RefreshSalesSummary', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        THROW;
    END CATCH;
END;
GO

/*=============================================================================
  audit.usp_RunDataQualityChecks
  Runs every active rule of audit.DataQualityRule. A rule is a table name
  plus a predicate that identifies BAD rows, for example
      TableName = 'dw.FactSales', FailPredicate = 'NetAmount < -10000'
  The procedure counts the failing rows of each rule for the batch and
  stores the count with a sample of failing keys (as XML) for the data
  steward. Rules with Severity = 'BLOCKING' fail the batch.

  Rule predicates are maintained by the BI team through the admin screen;
  table names are validated against sys.objects and quoted before use.
=============================================================================*/
CREATE OR ALTER PROCEDURE audit.usp_RunDataQualityChecks
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @StepLogId      BIGINT,
            @RuleId         INT,
            @RuleName       NVARCHAR(200),
            @TableName      NVARCHAR(256),
            @KeyColumn      SYSNAME,
            @FailPredicate  NVARCHAR(2000),
            @Severity       VARCHAR(20),
            @Sql            NVARCHAR(MAX),
            @FailCount      INT,
            @Sample         XML,
            @RulesRun       INT = 0,
            @BlockingFails  INT = 0;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DataQuality',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    DECLARE rule_cursor CURSOR LOCAL FAST_FORWARD FOR
        SELECT  r.RuleId, r.RuleName, r.TableName, r.KeyColumn, r.FailPredicate, r.Severity
        FROM    audit.DataQualityRule AS r
        WHERE   r.IsActive = 1
          AND   OBJECT_ID(r.TableName, N'U') IS NOT NULL
        ORDER BY r.RuleId;

    OPEN rule_cursor;
    FETCH NEXT FROM rule_cursor
        INTO @RuleId, @RuleName, @TableName, @KeyColumn, @FailPredicate, @Severity;

    WHILE @@FETCH_STATUS = 0
    BEGIN
        BEGIN TRY
            SET @Sql = N'
SELECT @cnt = COUNT(*)
FROM ' + QUOTENAME(PARSENAME(@TableName, 2)) + N'.' + QUOTENAME(PARSENAME(@TableName, 1)) + N'
WHERE BatchId = @batch AND (' + @FailPredicate + N');

SELECT @sample =
    (SELECT TOP (20) ' + QUOTENAME(@KeyColumn) + N' AS k
     FROM ' + QUOTENAME(PARSENAME(@TableName, 2)) + N'.' + QUOTENAME(PARSENAME(@TableName, 1)) + N'
     WHERE BatchId = @batch AND (' + @FailPredicate + N')
     FOR XML PATH(''row''), ROOT(''failures''), TYPE);';

            EXEC sys.sp_executesql
                 @Sql,
                 N'@batch INT, @cnt INT OUTPUT, @sample XML OUTPUT',
                 @batch  = @BatchId,
                 @cnt    = @FailCount OUTPUT,
                 @sample = @Sample OUTPUT;

            INSERT INTO audit.DataQualityResult
                   (BatchId, RuleId, CheckedAt, FailCount, FailSample, Outcome)
            VALUES (@BatchId, @RuleId, SYSUTCDATETIME(), @FailCount, @Sample,
                    CASE WHEN @FailCount = 0 THEN 'PASS'
                         WHEN @Severity = 'BLOCKING' THEN 'FAIL'
                         ELSE 'WARN' END);

            IF @FailCount > 0 AND @Severity = 'BLOCKING'
                SET @BlockingFails += 1;
        END TRY
        BEGIN CATCH
            -- a broken rule must not stop the others; record it and go on
            INSERT INTO audit.DataQualityResult
                   (BatchId, RuleId, CheckedAt, FailCount, FailSample, Outcome, ErrorMessage)
            VALUES (@BatchId, @RuleId, SYSUTCDATETIME(), NULL, NULL, 'RULE_ERROR', ERROR_MESSAGE());
        END CATCH;

        SET @RulesRun += 1;

        FETCH NEXT FROM rule_cursor
            INTO @RuleId, @RuleName, @TableName, @KeyColumn, @FailPredicate, @Severity;
    END;

    CLOSE rule_cursor;
    DEALLOCATE rule_cursor;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'DataQuality', @Phase = 'END',
                         @StepLogId = @StepLogId, @RowsInserted = @RulesRun;

    IF @BlockingFails > 0
    BEGIN
        DECLARE @Msg NVARCHAR(400) = CONCAT(N'Data quality: ', @BlockingFails,
                                            N' blocking rule(s) failed for batch ', @BatchId, N'.');
        THROW 51020, @Msg, 1;
    END;
END;
GO

/*=============================================================================
  etl.usp_PurgeHistory
  Deletes staging rows of successfully finished batches older than the
  retention setting, and step-log rows older than their own retention.
  Deletes run in small batches so that the log can truncate between them
  and concurrent readers are not blocked by lock escalation.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_PurgeHistory
    @BatchId        INT,
    @BusinessDate   DATE
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @StepLogId        BIGINT,
            @StagingDays      INT,
            @LogDays          INT,
            @ChunkSize        INT,
            @StagingCutoff    DATE,
            @LogCutoff        DATETIME2(3),
            @Rows             INT,
            @TotalDeleted     INT = 0;

    EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'PurgeHistory',
                         @Phase = 'START', @StepLogId = @StepLogId OUTPUT;

    SELECT @StagingDays = MAX(CASE WHEN SettingName = 'StagingRetentionDays' THEN TRY_CAST(SettingValue AS INT) END),
           @LogDays     = MAX(CASE WHEN SettingName = 'StepLogRetentionDays' THEN TRY_CAST(SettingValue AS INT) END),
           @ChunkSize   = MAX(CASE WHEN SettingName = 'PurgeBatchSize'       THEN TRY_CAST(SettingValue AS INT) END)
    FROM   etl.Setting;

    SET @StagingCutoff = DATEADD(DAY, -ISNULL(@StagingDays, 14), @BusinessDate);
    SET @LogCutoff     = DATEADD(DAY, -ISNULL(@LogDays, 180), CAST(@BusinessDate AS DATETIME2(3)));
    SET @ChunkSize     = ISNULL(NULLIF(@ChunkSize, 0), 20000);

    BEGIN TRY
        /* only batches that finished successfully may lose their staging rows */
        DECLARE @Purgeable TABLE (BatchId INT NOT NULL PRIMARY KEY);

        INSERT INTO @Purgeable (BatchId)
        SELECT b.BatchId
        FROM   etl.LoadBatch AS b
        WHERE  b.Status = 'SUCCEEDED'
          AND  b.BusinessDate < @StagingCutoff;

        /* sales lines: by far the biggest staging table */
        SET @Rows = 1;
        WHILE @Rows > 0
        BEGIN
            DELETE TOP (@ChunkSize) s
            FROM stg.SalesLine AS s
            WHERE s.BatchId IN (SELECT BatchId FROM @Purgeable);

            SET @Rows = @@ROWCOUNT;
            SET @TotalDeleted += @Rows;

            IF @Rows > 0 WAITFOR DELAY '00:00:00.200';   -- let log backups and readers breathe
        END;

        SET @Rows = 1;
        WHILE @Rows > 0
        BEGIN
            DELETE TOP (@ChunkSize) s
            FROM stg.InventoryPosition AS s
            WHERE s.BatchId IN (SELECT BatchId FROM @Purgeable);

            SET @Rows = @@ROWCOUNT;
            SET @TotalDeleted += @Rows;
        END;

        /* the master-data staging tables are small: one statement each */
        DELETE FROM stg.Customer           WHERE BatchId IN (SELECT BatchId FROM @Purgeable);
        SET @TotalDeleted += @@ROWCOUNT;
        DELETE FROM stg.Product            WHERE BatchId IN (SELECT BatchId FROM @Purgeable);
        SET @TotalDeleted += @@ROWCOUNT;
        DELETE FROM stg.Store              WHERE BatchId IN (SELECT BatchId FROM @Purgeable);
        SET @TotalDeleted += @@ROWCOUNT;
        DELETE FROM stg.PosControlTotal    WHERE BusinessDate < @StagingCutoff;
        SET @TotalDeleted += @@ROWCOUNT;

        /* step log and reconciliation history */
        SET @Rows = 1;
        WHILE @Rows > 0
        BEGIN
            DELETE TOP (@ChunkSize)
            FROM etl.StepLog
            WHERE StartedAt < @LogCutoff;

            SET @Rows = @@ROWCOUNT;
            SET @TotalDeleted += @Rows;
        END;

        DELETE FROM audit.ReconciliationResult
        WHERE BusinessDate < CAST(@LogCutoff AS DATE);
        SET @TotalDeleted += @@ROWCOUNT;

        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'PurgeHistory', @Phase = 'END',
                             @StepLogId = @StepLogId, @RowsDeleted = @TotalDeleted;
    END TRY
    BEGIN CATCH
        DECLARE @ErrNo INT = ERROR_NUMBER(), @ErrMsg NVARCHAR(4000) = ERROR_MESSAGE();
        EXEC etl.usp_LogStep @BatchId = @BatchId, @StepName = 'PurgeHistory', @Phase = 'FAIL',
                             @StepLogId = @StepLogId, @RowsDeleted = @TotalDeleted,
                             @ErrorNumber = @ErrNo, @ErrorMessage = @ErrMsg;
        -- a failed purge is not worth failing the night for: warn only
        PRINT CONCAT(N'PurgeHistory failed (', @ErrNo, N'): ', @ErrMsg);
    END CATCH;
END;
GO

/*=============================================================================
  etl.usp_RunNightlyLoad
  Entry point called by the agent job. Opens a batch, runs the steps in
  dependency order, closes the batch and mails a one-line-per-step summary
  to the on-call distribution list.

  Dimensions must be loaded before the facts; reconciliation and data
  quality run on the loaded facts; the purge runs last and never fails
  the batch.
=============================================================================*/
CREATE OR ALTER PROCEDURE etl.usp_RunNightlyLoad
    @BusinessDate   DATE = NULL,
    @FailOnBreak    BIT  = 0,
    @SkipPurge      BIT  = 0,
    @NotifyEmail    NVARCHAR(256) = N'retail-dw-oncall@example.com'
AS
BEGIN
    SET NOCOUNT ON;

    DECLARE @BatchId    INT,
            @Status     VARCHAR(20) = 'SUCCEEDED',
            @ErrMsg     NVARCHAR(4000),
            @Subject    NVARCHAR(255),
            @Body       NVARCHAR(MAX);

    /* "yesterday" in store time: stores close at 23:00 local, the job
       starts after 01:00, so the business date is always the day before */
    IF @BusinessDate IS NULL
        SET @BusinessDate = DATEADD(DAY, -1, CAST(GETDATE() AS DATE));

    IF EXISTS (SELECT 1 FROM etl.LoadBatch WHERE Status = 'RUNNING')
    BEGIN
        RAISERROR(N'Another nightly batch is still running; start refused.', 16, 1);
        RETURN 1;
    END;

    INSERT INTO etl.LoadBatch (BusinessDate) VALUES (@BusinessDate);
    SET @BatchId = SCOPE_IDENTITY();

    /* stamp the batch id on the staging rows that arrived since the last run */
    UPDATE stg.Customer          SET BatchId = @BatchId WHERE BatchId IS NULL;
    UPDATE stg.Product           SET BatchId = @BatchId WHERE BatchId IS NULL;
    UPDATE stg.Store             SET BatchId = @BatchId WHERE BatchId IS NULL;
    UPDATE stg.SalesLine         SET BatchId = @BatchId WHERE BatchId IS NULL;
    UPDATE stg.InventoryPosition SET BatchId = @BatchId WHERE BatchId IS NULL;

    BEGIN TRY
        EXEC etl.usp_LoadDimStore           @BatchId = @BatchId, @BusinessDate = @BusinessDate;
        EXEC etl.usp_LoadDimProduct         @BatchId = @BatchId, @BusinessDate = @BusinessDate;
        EXEC etl.usp_LoadDimCustomer        @BatchId = @BatchId, @BusinessDate = @BusinessDate;

        EXEC etl.usp_LoadFactSales          @BatchId = @BatchId, @BusinessDate = @BusinessDate;
        EXEC etl.usp_LoadFactInventoryDaily @BatchId = @BatchId, @BusinessDate = @BusinessDate;
        EXEC etl.usp_RefreshSalesSummary    @BatchId = @BatchId, @BusinessDate = @BusinessDate;

        EXEC etl.usp_ReconcileSales         @BatchId = @BatchId, @BusinessDate = @BusinessDate,
                                            @FailOnBreak = @FailOnBreak;
        EXEC audit.usp_RunDataQualityChecks @BatchId = @BatchId, @BusinessDate = @BusinessDate;
    END TRY
    BEGIN CATCH
        SET @Status = 'FAILED';
        SET @ErrMsg = CONCAT(ERROR_PROCEDURE(), N' line ', ERROR_LINE(), N': ', ERROR_MESSAGE());
    END CATCH;

    IF @Status = 'SUCCEEDED' AND @SkipPurge = 0
        EXEC etl.usp_PurgeHistory @BatchId = @BatchId, @BusinessDate = @BusinessDate;

    UPDATE etl.LoadBatch
    SET    FinishedAt   = SYSUTCDATETIME(),
           Status       = @Status,
           ErrorMessage = @ErrMsg
    WHERE  BatchId = @BatchId;

    /* one line per step: "DimCustomer  SUCCEEDED  ins=120 upd=14 del=0  00:00:07" */
    SELECT @Body = STUFF((
        SELECT  CHAR(10)
              + LEFT(l.StepName + SPACE(22), 22)
              + LEFT(l.Status + SPACE(11), 11)
              + CONCAT(N'ins=', ISNULL(l.RowsInserted, 0),
                       N' upd=', ISNULL(l.RowsUpdated, 0),
                       N' del=', ISNULL(l.RowsDeleted, 0), N'  ')
              + CONVERT(CHAR(8), DATEADD(SECOND, DATEDIFF(SECOND, l.StartedAt,
                                         ISNULL(l.FinishedAt, SYSUTCDATETIME())), 0), 108)
        FROM    etl.StepLog AS l
        WHERE   l.BatchId = @BatchId
        ORDER BY l.StepLogId
        FOR XML PATH(''), TYPE).value('.', 'NVARCHAR(MAX)'), 1, 1, N'');

    SET @Subject = CONCAT(N'RetailDW nightly load ', CONVERT(NCHAR(10), @BusinessDate, 23),
                          N': ', @Status, N' (batch ', @BatchId, N')');
    SET @Body = CONCAT(ISNULL(@ErrMsg + CHAR(10) + CHAR(10), N''), @Body);

    IF @NotifyEmail IS NOT NULL
        EXEC msdb.dbo.sp_send_dbmail
             @profile_name = N'RetailDW',
             @recipients   = @NotifyEmail,
             @subject      = @Subject,
             @body         = @Body;

    IF @Status = 'FAILED'
    BEGIN
        -- surface the failure to the agent job so the step shows as failed
        RAISERROR(N'Nightly load failed: %s', 16, 1, @ErrMsg);
        RETURN 1;
    END;

    RETURN 0;
END;
GO

/*=============================================================================
  Permissions for the job's proxy account.
=============================================================================*/
GRANT EXECUTE ON OBJECT::etl.usp_RunNightlyLoad TO [RetailDW_EtlRunner];
GRANT SELECT  ON SCHEMA::audit TO [RetailDW_DataSteward];
GO
