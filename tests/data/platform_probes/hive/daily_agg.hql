USE ${hivevar:target_db};

INSERT OVERWRITE TABLE daily_user_agg PARTITION (dt = '${hivevar:run_date}')
SELECT user_id, count(*) AS events, collect_set(event_type) AS types
FROM raw_events
WHERE dt = '${hivevar:run_date}'
GROUP BY user_id;
