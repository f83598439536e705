CREATE EXTERNAL TABLE IF NOT EXISTS staging.page_views_raw (
  user_id BIGINT,
  url STRING,
  referrer STRING
)
PARTITIONED BY (dt STRING)
ROW FORMAT DELIMITED FIELDS TERMINATED BY '\t'
STORED AS TEXTFILE
LOCATION 'hdfs:///data/raw/page_views';

MSCK REPAIR TABLE staging.page_views_raw;
