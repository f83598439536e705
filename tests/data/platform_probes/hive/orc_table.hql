CREATE TABLE dw.user_events (
  user_id BIGINT,
  events ARRAY<STRUCT<name:STRING, ts:BIGINT>>
)
CLUSTERED BY (user_id) INTO 32 BUCKETS
STORED AS ORC
TBLPROPERTIES ('orc.compress'='SNAPPY');
