CREATE OR REPLACE FUNCTION main.util.normalize_email(email STRING)
RETURNS STRING
LANGUAGE PYTHON
AS $$
  # lower-case and strip; keep None as None
  del_chars = ' '
  return email.strip(del_chars).lower() if email else None
$$;

SELECT main.util.normalize_email(email) FROM main.crm.contacts;
