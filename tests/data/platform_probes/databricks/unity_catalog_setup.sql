CREATE CATALOG IF NOT EXISTS analytics MANAGED LOCATION 's3://bucket/analytics';
USE CATALOG analytics;
CREATE SCHEMA IF NOT EXISTS marts;
GRANT USE CATALOG ON CATALOG analytics TO `data-engineers`;
CREATE VOLUME IF NOT EXISTS analytics.marts.landing;
