SET hive.exec.dynamic.partition.mode=nonstrict;
SET mapreduce.job.queuename=etl;

INSERT OVERWRITE TABLE dw.page_views PARTITION (dt)
SELECT user_id, url, referrer, dt
FROM staging.page_views_raw
WHERE dt = '${hiveconf:run_date}';
