SET statement_timeout = 0;
SET client_encoding = 'UTF8';
SET standard_conforming_strings = on;
SELECT pg_catalog.set_config('search_path', '', false);
COPY public.actor (actor_id, first_name, last_name, last_update) FROM stdin;
1	PENELOPE	GUINESS	2022-02-15 09:34:33+00
\.
