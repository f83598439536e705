-- =============================================================================
-- Web-shop order events -> ANALYTICS.SALES.WEB_ORDER_LINE
-- Platform: Snowflake
--
-- The e-commerce platform drops one JSON document per order event
-- (created / paid / shipped / cancelled) into the RAW_WEB_ORDERS stage.
-- Snowpipe loads them into RAW.WEB.ORDER_EVENTS (one VARIANT per event);
-- a stream on that table feeds an hourly task that flattens the order
-- lines and upserts them into the sales model.
--
-- Owner: data-platform team. Deployed with schemachange (V-script order).
-- =============================================================================

USE ROLE SYSADMIN;
USE WAREHOUSE WH_TRANSFORM_XS;
USE DATABASE RAW;

-- -----------------------------------------------------------------------------
-- Landing table: the document as received plus load metadata
-- -----------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS RAW.WEB.ORDER_EVENTS
(
    EVENT_DOC     VARIANT        NOT NULL,
    SOURCE_FILE   STRING         NOT NULL,
    FILE_ROW      NUMBER(10, 0)  NOT NULL,
    LOADED_AT     TIMESTAMP_NTZ  NOT NULL DEFAULT CONVERT_TIMEZONE('UTC', CURRENT_TIMESTAMP())::TIMESTAMP_NTZ
)
COMMENT = 'Raw order events from the web shop, one JSON document per row';

CREATE PIPE IF NOT EXISTS RAW.WEB.PIPE_ORDER_EVENTS
    AUTO_INGEST = TRUE
AS
COPY INTO RAW.WEB.ORDER_EVENTS (EVENT_DOC, SOURCE_FILE, FILE_ROW)
FROM (
    SELECT $1, METADATA$FILENAME, METADATA$FILE_ROW_NUMBER
    FROM @RAW.WEB.RAW_WEB_ORDERS
)
FILE_FORMAT = (TYPE = 'JSON' STRIP_OUTER_ARRAY = TRUE);

CREATE STREAM RAW.WEB.ORDER_EVENTS_STRM
    ON TABLE RAW.WEB.ORDER_EVENTS
    APPEND_ONLY = TRUE;

-- -----------------------------------------------------------------------------
-- Target: one row per order line, latest state wins
-- -----------------------------------------------------------------------------
CREATE TABLE IF NOT EXISTS ANALYTICS.SALES.WEB_ORDER_LINE
(
    ORDER_ID          STRING         NOT NULL,
    LINE_NO           NUMBER(5, 0)   NOT NULL,
    CUSTOMER_ID       STRING,
    ORDER_STATUS      STRING         NOT NULL,
    ORDERED_AT        TIMESTAMP_NTZ  NOT NULL,
    ORDERED_AT_LOCAL  TIMESTAMP_TZ,
    SKU               STRING         NOT NULL,
    QUANTITY          NUMBER(10, 3)  NOT NULL,
    UNIT_PRICE        NUMBER(12, 4)  NOT NULL,
    DISCOUNT_AMOUNT   NUMBER(12, 4)  NOT NULL,
    NET_AMOUNT        NUMBER(14, 4)  NOT NULL,
    CURRENCY          VARCHAR(3)     NOT NULL,
    SHIP_COUNTRY      VARCHAR(2),
    PROMO_CODES       ARRAY,
    LINE_ATTRIBUTES   OBJECT,
    EVENT_TS          TIMESTAMP_NTZ  NOT NULL,
    UPDATED_AT        TIMESTAMP_NTZ  NOT NULL,
    CONSTRAINT PK_WEB_ORDER_LINE PRIMARY KEY (ORDER_ID, LINE_NO)
)
CLUSTER BY (TO_DATE(ORDERED_AT))
DATA_RETENTION_TIME_IN_DAYS = 7;

-- -----------------------------------------------------------------------------
-- Hourly task: flatten the new events and merge them
-- -----------------------------------------------------------------------------
CREATE TASK ANALYTICS.SALES.TSK_MERGE_WEB_ORDER_LINE
    WAREHOUSE = WH_TRANSFORM_XS
    SCHEDULE = 'USING CRON 5 * * * * UTC'
    COMMENT = 'Flatten web order events into WEB_ORDER_LINE'
WHEN
    SYSTEM$STREAM_HAS_DATA('RAW.WEB.ORDER_EVENTS_STRM')
AS
MERGE INTO ANALYTICS.SALES.WEB_ORDER_LINE AS tgt
USING (
    WITH events AS (
        SELECT
            e.EVENT_DOC:orderId::STRING                          AS order_id,
            e.EVENT_DOC:customer.id::STRING                      AS customer_id,
            UPPER(e.EVENT_DOC:eventType::STRING)                 AS event_type,
            TRY_TO_TIMESTAMP_TZ(e.EVENT_DOC:orderedAt::STRING)   AS ordered_at_tz,
            TRY_TO_TIMESTAMP_NTZ(e.EVENT_DOC:eventTs::STRING)    AS event_ts,
            e.EVENT_DOC:currency::STRING                         AS currency,
            e.EVENT_DOC:shipping.address.country::STRING         AS ship_country,
            e.EVENT_DOC:promoCodes                               AS promo_codes,
            e.EVENT_DOC:lines                                    AS lines_doc
        FROM RAW.WEB.ORDER_EVENTS_STRM AS e
        WHERE e.METADATA$ACTION = 'INSERT'
          AND e.EVENT_DOC:orderId IS NOT NULL
    )
    SELECT
        ev.order_id,
        l.value:lineNo::NUMBER(5, 0)                                  AS line_no,
        ev.customer_id,
        CASE ev.event_type
            WHEN 'ORDER_CREATED'   THEN 'CREATED'
            WHEN 'PAYMENT_CAPTURED' THEN 'PAID'
            WHEN 'SHIPMENT_SENT'   THEN 'SHIPPED'
            WHEN 'ORDER_CANCELLED' THEN 'CANCELLED'
            ELSE ev.event_type
        END                                                           AS order_status,
        CONVERT_TIMEZONE('UTC', ev.ordered_at_tz)::TIMESTAMP_NTZ      AS ordered_at,
        ev.ordered_at_tz                                              AS ordered_at_local,
        UPPER(TRIM(l.value:sku::STRING))                              AS sku,
        l.value:qty::NUMBER(10, 3)                                    AS quantity,
        l.value:unitPrice::NUMBER(12, 4)                              AS unit_price,
        ZEROIFNULL(l.value:discount::NUMBER(12, 4))                   AS discount_amount,
        ROUND(quantity * unit_price - discount_amount, 4)             AS net_amount,
        COALESCE(ev.currency, 'USD')                                  AS currency,
        ev.ship_country,
        ev.promo_codes::ARRAY                                         AS promo_codes,
        OBJECT_DELETE(l.value::OBJECT, 'sku', 'qty', 'unitPrice', 'discount', 'lineNo')
                                                                      AS line_attributes,
        ev.event_ts
    FROM events AS ev,
         LATERAL FLATTEN(input => ev.lines_doc) AS l
    -- several events for the same order can arrive in one hour: keep the latest
    QUALIFY ROW_NUMBER() OVER (PARTITION BY ev.order_id, line_no
                               ORDER BY ev.event_ts DESC) = 1
) AS src
ON  tgt.ORDER_ID = src.order_id
AND tgt.LINE_NO  = src.line_no
WHEN MATCHED AND src.event_ts >= tgt.EVENT_TS THEN UPDATE SET
    ORDER_STATUS     = src.order_status,
    QUANTITY         = src.quantity,
    UNIT_PRICE       = src.unit_price,
    DISCOUNT_AMOUNT  = src.discount_amount,
    NET_AMOUNT       = src.net_amount,
    PROMO_CODES      = src.promo_codes,
    LINE_ATTRIBUTES  = src.line_attributes,
    EVENT_TS         = src.event_ts,
    UPDATED_AT       = SYSDATE()
WHEN NOT MATCHED THEN INSERT
    (ORDER_ID, LINE_NO, CUSTOMER_ID, ORDER_STATUS, ORDERED_AT, ORDERED_AT_LOCAL, SKU,
     QUANTITY, UNIT_PRICE, DISCOUNT_AMOUNT, NET_AMOUNT, CURRENCY, SHIP_COUNTRY,
     PROMO_CODES, LINE_ATTRIBUTES, EVENT_TS, UPDATED_AT)
VALUES
    (src.order_id, src.line_no, src.customer_id, src.order_status, src.ordered_at, src.ordered_at_local, src.sku,
     src.quantity, src.unit_price, src.discount_amount, src.net_amount, src.currency, src.ship_country,
     src.promo_codes, src.line_attributes, src.event_ts, SYSDATE());

ALTER TASK ANALYTICS.SALES.TSK_MERGE_WEB_ORDER_LINE RESUME;

-- -----------------------------------------------------------------------------
-- Reporting view: daily web sales by country with average basket.
-- DIV0 keeps days without paid orders at 0 instead of failing; the promo
-- codes are aggregated separately so that flattening them cannot multiply
-- the amounts.
-- -----------------------------------------------------------------------------
CREATE OR REPLACE SECURE VIEW ANALYTICS.SALES.V_WEB_DAILY_SALES AS
WITH daily AS (
    SELECT
        TO_DATE(ORDERED_AT)                                           AS order_date,
        SHIP_COUNTRY                                                  AS ship_country,
        COUNT(DISTINCT ORDER_ID)                                      AS orders,
        SUM(IFF(ORDER_STATUS IN ('PAID', 'SHIPPED'), NET_AMOUNT, 0))  AS paid_net_amount,
        DIV0(SUM(IFF(ORDER_STATUS IN ('PAID', 'SHIPPED'), NET_AMOUNT, 0)),
             COUNT(DISTINCT IFF(ORDER_STATUS IN ('PAID', 'SHIPPED'), ORDER_ID, NULL)))
                                                                      AS avg_paid_basket,
        COUNT_IF(ORDER_STATUS = 'CANCELLED')                          AS cancelled_lines
    FROM ANALYTICS.SALES.WEB_ORDER_LINE
    WHERE ORDERED_AT >= DATEADD(DAY, -90, CURRENT_DATE())::TIMESTAMP_NTZ
    GROUP BY 1, 2
),
promos AS (
    SELECT
        TO_DATE(w.ORDERED_AT)                                         AS order_date,
        w.SHIP_COUNTRY                                                AS ship_country,
        ARRAY_AGG(DISTINCT f.value::STRING) WITHIN GROUP (ORDER BY f.value::STRING)
                                                                      AS promo_codes_used
    FROM ANALYTICS.SALES.WEB_ORDER_LINE AS w,
         LATERAL FLATTEN(input => w.PROMO_CODES) AS f
    WHERE w.ORDERED_AT >= DATEADD(DAY, -90, CURRENT_DATE())::TIMESTAMP_NTZ
    GROUP BY 1, 2
)
SELECT
    d.order_date,
    d.ship_country,
    d.orders,
    d.paid_net_amount,
    d.avg_paid_basket,
    d.cancelled_lines,
    COALESCE(p.promo_codes_used, ARRAY_CONSTRUCT())                   AS promo_codes_used
FROM daily AS d
LEFT JOIN promos AS p
       ON p.order_date = d.order_date
      AND EQUAL_NULL(p.ship_country, d.ship_country);   -- NULL country = unknown, still joins
