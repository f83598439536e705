-- =============================================================================
-- Loyalty programme: points ledger and receipt processing
-- Platform: PostgreSQL 15+  (database "loyalty", schema "loyalty")
--
-- The store POS posts every receipt of an identified member as a JSON
-- document to the loyalty API, which calls loyalty.apply_receipt(). Points
-- are earned per currency unit spent, multiplied by the member's tier and
-- by any bonus campaign whose rules match the receipt. Re-posted receipts
-- (POS retries) must not earn twice, hence the upserts keyed on receipt id.
-- =============================================================================

CREATE EXTENSION IF NOT EXISTS btree_gist;   -- needed by the EXCLUDE constraint below

CREATE SCHEMA IF NOT EXISTS loyalty;

CREATE TABLE IF NOT EXISTS loyalty.member (
    member_id       bigserial    PRIMARY KEY,
    card_number     varchar(19)  NOT NULL UNIQUE,
    email           text,
    home_store_no   integer,
    tier_code       text         NOT NULL DEFAULT 'BRONZE',
    preferences     jsonb        NOT NULL DEFAULT '{}'::jsonb,
    joined_on       date         NOT NULL DEFAULT current_date,
    points_balance  integer      NOT NULL DEFAULT 0 CHECK (points_balance >= 0),
    updated_at      timestamptz  NOT NULL DEFAULT now()
);

-- tier multipliers are date-ranged; two versions of a tier may never overlap
CREATE TABLE IF NOT EXISTS loyalty.tier_rule (
    tier_code       text          NOT NULL,
    valid_during    daterange     NOT NULL,
    earn_multiplier numeric(4, 2) NOT NULL,
    EXCLUDE USING gist (tier_code WITH =, valid_during WITH &&)
);

CREATE TABLE IF NOT EXISTS loyalty.bonus_campaign (
    campaign_id     serial        PRIMARY KEY,
    campaign_name   text          NOT NULL,
    active_during   tstzrange     NOT NULL,
    -- match rules, e.g. {"categories": ["GARDEN", "BBQ"], "stores": [112, 140]}
    match_rules     jsonb         NOT NULL,
    bonus_points    integer       NOT NULL
);

CREATE TABLE IF NOT EXISTS loyalty.points_ledger (
    ledger_id       bigserial     PRIMARY KEY,
    member_id       bigint        NOT NULL REFERENCES loyalty.member (member_id),
    receipt_id      text          NOT NULL,
    entry_type      text          NOT NULL CHECK (entry_type IN ('EARN', 'BONUS', 'REDEEM', 'ADJUST')),
    campaign_id     integer       REFERENCES loyalty.bonus_campaign (campaign_id),
    points          integer       NOT NULL,
    receipt_total   numeric(12, 2),
    posted_at       timestamptz   NOT NULL DEFAULT now(),
    -- EARN rows have no campaign: NULLS NOT DISTINCT makes them conflict too
    UNIQUE NULLS NOT DISTINCT (member_id, receipt_id, entry_type, campaign_id)
);

CREATE INDEX IF NOT EXISTS ix_campaign_rules ON loyalty.bonus_campaign USING gin (match_rules jsonb_path_ops);
CREATE INDEX IF NOT EXISTS ix_member_prefs   ON loyalty.member USING gin (preferences);

-- -----------------------------------------------------------------------------
-- apply_receipt: returns the number of points credited for this posting
-- (0 when the receipt was already processed with the same total)
-- -----------------------------------------------------------------------------
CREATE OR REPLACE FUNCTION loyalty.apply_receipt(p_receipt jsonb)
RETURNS integer
LANGUAGE plpgsql
AS $$
DECLARE
    v_member_id   bigint;
    v_tier        text;
    v_receipt_id  text          := p_receipt ->> 'receiptId';
    v_store_no    integer       := (p_receipt ->> 'storeNo')::integer;
    v_sold_at     timestamptz   := (p_receipt ->> 'soldAt')::timestamptz;
    v_total       numeric(12,2) := (p_receipt #>> '{totals,net}')::numeric;
    v_multiplier  numeric(4,2);
    v_base_points integer;
    v_bonus       integer       := 0;
    v_credited    integer       := 0;
    v_rows        integer;
BEGIN
    IF v_receipt_id IS NULL OR v_total IS NULL THEN
        RAISE EXCEPTION 'receipt without id or net total: %', left(p_receipt::text, 200)
            USING ERRCODE = '22023';
    END IF;

    SELECT m.member_id, m.tier_code
      INTO v_member_id, v_tier
      FROM loyalty.member AS m
     WHERE m.card_number = p_receipt ->> 'cardNumber'
       FOR UPDATE;

    IF NOT FOUND THEN
        RETURN 0;            -- card not enrolled: nothing to credit
    END IF;

    SELECT coalesce(max(t.earn_multiplier), 1.00)
      INTO v_multiplier
      FROM loyalty.tier_rule AS t
     WHERE t.tier_code = v_tier
       AND t.valid_during @> v_sold_at::date;

    -- one point per full currency unit; returns (negative totals) take points back
    v_base_points := trunc(v_total * v_multiplier)::integer;

    INSERT INTO loyalty.points_ledger AS l
           (member_id, receipt_id, entry_type, campaign_id, points, receipt_total, posted_at)
    VALUES (v_member_id, v_receipt_id, 'EARN', NULL, v_base_points, v_total, v_sold_at)
    ON CONFLICT (member_id, receipt_id, entry_type, campaign_id) DO UPDATE
        SET points        = EXCLUDED.points,
            receipt_total = EXCLUDED.receipt_total
        WHERE l.receipt_total IS DISTINCT FROM EXCLUDED.receipt_total;

    GET DIAGNOSTICS v_rows = ROW_COUNT;
    IF v_rows > 0 THEN
        v_credited := v_base_points;
    END IF;

    -- bonus campaigns: active at sale time, store list (if any) contains the
    -- store, and at least one receipt line is in one of the campaign categories
    INSERT INTO loyalty.points_ledger
           (member_id, receipt_id, entry_type, campaign_id, points, receipt_total, posted_at)
    SELECT v_member_id, v_receipt_id, 'BONUS', c.campaign_id, c.bonus_points, v_total, v_sold_at
      FROM loyalty.bonus_campaign AS c
     WHERE c.active_during @> v_sold_at
       AND (NOT c.match_rules ? 'stores'
            OR c.match_rules -> 'stores' @> to_jsonb(v_store_no))
       AND EXISTS (
             SELECT 1
               FROM jsonb_array_elements(p_receipt -> 'lines') AS line
              WHERE (c.match_rules -> 'categories') ?| ARRAY[line ->> 'category']
           )
    ON CONFLICT (member_id, receipt_id, entry_type, campaign_id) DO NOTHING;

    GET DIAGNOSTICS v_rows = ROW_COUNT;
    IF v_rows > 0 THEN
        SELECT coalesce(sum(l.points), 0)
          INTO v_bonus
          FROM loyalty.points_ledger AS l
         WHERE l.member_id = v_member_id
           AND l.receipt_id = v_receipt_id
           AND l.entry_type = 'BONUS';
        v_credited := v_credited + v_bonus;
    END IF;

    -- the balance is always recomputed from the ledger, never incremented
    UPDATE loyalty.member AS m
       SET points_balance = greatest(0, (SELECT coalesce(sum(points), 0)
                                           FROM loyalty.points_ledger
                                          WHERE member_id = m.member_id)),
           updated_at     = now()
     WHERE m.member_id = v_member_id;

    RETURN v_credited;
END;
$$;

-- -----------------------------------------------------------------------------
-- Marketing extract: members who opted in to e-mail and bought in the last
-- 90 days, with their latest receipt
-- -----------------------------------------------------------------------------
CREATE OR REPLACE VIEW loyalty.v_email_audience AS
SELECT DISTINCT ON (m.member_id)
       m.member_id,
       m.email,
       m.tier_code,
       m.points_balance,
       m.preferences #>> '{language}'          AS preferred_language,
       l.receipt_id                             AS last_receipt_id,
       l.posted_at                              AS last_purchase_at
  FROM loyalty.member AS m
  JOIN loyalty.points_ledger AS l
    ON l.member_id = m.member_id
   AND l.entry_type = 'EARN'
 WHERE m.preferences @> '{"marketing": {"email": true}}'::jsonb
   AND m.email IS NOT NULL
   AND l.posted_at >= now() - interval '90 days'
 ORDER BY m.member_id, l.posted_at DESC;
