CREATE OR REFRESH STREAMING TABLE raw_events
AS SELECT * FROM cloud_files('/Volumes/main/raw/events', 'json');

CREATE OR REFRESH MATERIALIZED VIEW daily_events (
  CONSTRAINT valid_ts EXPECT (event_ts IS NOT NULL) ON VIOLATION DROP ROW
)
AS SELECT date_trunc('DAY', event_ts) AS day, count(*) AS n
FROM LIVE.raw_events
GROUP BY ALL;
