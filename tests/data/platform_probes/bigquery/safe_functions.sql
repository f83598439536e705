SELECT
  SAFE_CAST(raw_amount AS NUMERIC) AS amount,
  SAFE_DIVIDE(clicks, impressions) AS ctr,
  tags[SAFE_OFFSET(0)] AS first_tag,
  FORMAT_DATE('%Y-%m', order_date) AS month
FROM staging.ads;
