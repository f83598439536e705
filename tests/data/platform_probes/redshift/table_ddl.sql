CREATE TABLE analytics.page_views (
    view_id BIGINT IDENTITY(0,1),
    user_id BIGINT ENCODE az64,
    url VARCHAR(2048) ENCODE zstd,
    viewed_at TIMESTAMP
)
DISTSTYLE KEY
DISTKEY (user_id)
COMPOUND SORTKEY (viewed_at, user_id);
