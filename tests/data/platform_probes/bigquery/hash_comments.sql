# Weekly active users per country
SELECT geo.country, COUNT(DISTINCT user_pseudo_id) AS wau
FROM `my-project.analytics_123.events_20240107`
GROUP BY geo.country
ORDER BY wau DESC;
