ADD JAR hdfs:///libs/custom-udfs.jar;
CREATE TEMPORARY FUNCTION normalize_url AS 'com.example.hive.NormalizeUrl';
LOAD DATA INPATH '/landing/clicks/2024-01-01' INTO TABLE staging.clicks PARTITION (dt='2024-01-01');
