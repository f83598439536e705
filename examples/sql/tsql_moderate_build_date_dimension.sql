-- =============================================================================
-- dw.DimDate - calendar and retail 4-5-4 fiscal calendar
-- Database: RetailDW
--
-- One-off / yearly maintenance script: (re)builds the date dimension for
-- @FromYear .. @ToYear. The fiscal year follows the retail 4-5-4 convention:
-- it ends on the Saturday nearest to 31 January, so it starts on the Sunday
-- nearest to 1 February and has 52 or 53 weeks. Fiscal years are named after
-- the calendar year in which they start (FY2024 starts on 2024-02-04).
--
-- Run in SSMS; takes a few seconds for 20 years. Keys -1 (unknown) and
-- -2 (not applicable) are inserted first and never changed.
-- =============================================================================
SET NOCOUNT ON;
SET DATEFIRST 7;          -- Sunday = 1, the weekday arithmetic below relies on it

DECLARE @FromYear INT = 2015,
        @ToYear   INT = 2035;

IF EXISTS (SELECT 1 FROM sys.tables WHERE object_id = OBJECT_ID(N'dw.DimDate'))
    DROP TABLE dw.DimDate;

CREATE TABLE dw.DimDate
(
    DateKey             INT          NOT NULL CONSTRAINT PK_DimDate PRIMARY KEY,
    FullDate            DATE         NULL,
    CalendarYear        SMALLINT     NULL,
    CalendarQuarter     TINYINT      NULL,
    CalendarMonth       TINYINT      NULL,
    MonthName           VARCHAR(10)  NULL,
    DayOfMonth          TINYINT      NULL,
    DayOfWeek           TINYINT      NULL,     -- 1 = Sunday
    DayName             VARCHAR(10)  NULL,
    IsWeekend           BIT          NULL,
    IsMonthEnd          BIT          NULL,
    IsoWeek             TINYINT      NULL,
    FiscalYear          SMALLINT     NULL,
    FiscalQuarter       TINYINT      NULL,
    FiscalPeriod        TINYINT      NULL,     -- 1..12, 4-5-4 weeks per quarter
    FiscalWeek          TINYINT      NULL,     -- 1..53
    FiscalYearStart     DATE         NULL,
    IsHoliday           BIT          NOT NULL CONSTRAINT DF_DimDate_IsHoliday DEFAULT (0),
    HolidayName         NVARCHAR(60) NULL
);

INSERT INTO dw.DimDate (DateKey, FullDate, MonthName, DayName)
VALUES (-1, NULL, 'Unknown', 'Unknown'),
       (-2, NULL, 'N/A', 'N/A');

DECLARE @Year      INT = @FromYear,
        @Feb1      DATE,
        @Weekday   INT,
        @FyStart   DATE,
        @NextStart DATE,
        @Day       DATE,
        @Week      INT;

WHILE @Year <= @ToYear
BEGIN
    -- Sunday nearest to 1 February of this year and of the next one
    SET @Feb1    = DATEFROMPARTS(@Year, 2, 1);
    SET @Weekday = DATEPART(WEEKDAY, @Feb1);
    SET @FyStart = CASE WHEN @Weekday - 1 <= 3 THEN DATEADD(DAY, 1 - @Weekday, @Feb1)
                        ELSE DATEADD(DAY, 8 - @Weekday, @Feb1) END;

    SET @Feb1      = DATEFROMPARTS(@Year + 1, 2, 1);
    SET @Weekday   = DATEPART(WEEKDAY, @Feb1);
    SET @NextStart = CASE WHEN @Weekday - 1 <= 3 THEN DATEADD(DAY, 1 - @Weekday, @Feb1)
                          ELSE DATEADD(DAY, 8 - @Weekday, @Feb1) END;

    SET @Day = @FyStart;
    WHILE @Day < @NextStart
    BEGIN
        SET @Week = DATEDIFF(DAY, @FyStart, @Day) / 7 + 1;

        INSERT INTO dw.DimDate
               (DateKey, FullDate, CalendarYear, CalendarQuarter, CalendarMonth, MonthName,
                DayOfMonth, DayOfWeek, DayName, IsWeekend, IsMonthEnd, IsoWeek,
                FiscalYear, FiscalQuarter, FiscalPeriod, FiscalWeek, FiscalYearStart)
        VALUES (CONVERT(INT, CONVERT(CHAR(8), @Day, 112)),
                @Day,
                YEAR(@Day),
                DATEPART(QUARTER, @Day),
                MONTH(@Day),
                DATENAME(MONTH, @Day),
                DAY(@Day),
                DATEPART(WEEKDAY, @Day),
                DATENAME(WEEKDAY, @Day),
                CASE WHEN DATEPART(WEEKDAY, @Day) IN (1, 7) THEN 1 ELSE 0 END,
                CASE WHEN @Day = EOMONTH(@Day) THEN 1 ELSE 0 END,
                DATEPART(ISO_WEEK, @Day),
                @Year,
                CASE WHEN @Week > 52 THEN 4 ELSE (@Week - 1) / 13 + 1 END,
                -- 4-5-4: weeks 1-4, 5-9, 10-13 of each quarter; week 53 joins period 12
                CASE
                    WHEN @Week > 52 THEN 12
                    ELSE ((@Week - 1) / 13) * 3
                         + CASE WHEN (@Week - 1) % 13 < 4 THEN 1
                                WHEN (@Week - 1) % 13 < 9 THEN 2
                                ELSE 3 END
                END,
                @Week,
                @FyStart);

        SET @Day = DATEADD(DAY, 1, @Day);
    END;

    SET @Year += 1;
END;

-- fixed-date holidays on which all stores are closed; movable ones
-- (Easter, Thanksgiving, ...) come from the HR calendar feed (etl.usp_LoadHolidays)
UPDATE d
SET    d.IsHoliday   = 1,
       d.HolidayName = h.HolidayName
FROM   dw.DimDate AS d
INNER JOIN (VALUES (1, 1, N'New Year''s Day'),
                   (12, 25, N'Christmas Day'),
                   (12, 26, N'Boxing Day')) AS h (MonthNo, DayNo, HolidayName)
        ON d.CalendarMonth = h.MonthNo
       AND d.DayOfMonth = h.DayNo;

-- sanity check: every fiscal year must have 364 or 371 days
SELECT  FiscalYear, Days = COUNT(*), Weeks = MAX(FiscalWeek)
FROM    dw.DimDate
WHERE   DateKey > 0
GROUP BY FiscalYear
HAVING  COUNT(*) NOT IN (364, 371);
