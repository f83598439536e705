CREATE OR REPLACE TRANSIENT TABLE events_flat AS
SELECT e.value:id::NUMBER AS event_id,
       e.value:type::STRING AS event_type,
       OBJECT_CONSTRUCT('src', src.file_name) AS meta
FROM raw_events src,
     LATERAL FLATTEN(input => src.payload:events) e
WHERE IFF(e.value:type IS NULL, FALSE, TRUE);
