CREATE OR REPLACE FUNCTION f_domain (url VARCHAR)
RETURNS VARCHAR
STABLE
AS $$
    from urllib.parse import urlparse
    return urlparse(url).netloc if url else None
$$ LANGUAGE plpythonu;
