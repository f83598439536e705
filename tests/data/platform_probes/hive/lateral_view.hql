SELECT user_id, tag
FROM dw.user_profiles
LATERAL VIEW explode(tags) t AS tag
WHERE size(tags) > 0
DISTRIBUTE BY user_id SORT BY user_id;
