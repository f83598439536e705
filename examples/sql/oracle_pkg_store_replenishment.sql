-- =============================================================================
-- Package:  SCM.PKG_STORE_REPLENISHMENT
-- Platform: Oracle Database 19c, deployed with SQL*Plus
--
-- Nightly store replenishment proposal. For every store / item on the
-- auto-replenishment list it compares the projected stock at the next
-- delivery date with the presentation minimum plus safety stock and
-- proposes an order quantity rounded up to the supplier pack size.
--
-- Volumes: ~350 stores x ~18,000 items; proposals are computed in bulk
-- (BULK COLLECT with LIMIT, FORALL with SAVE EXCEPTIONS) to keep the run
-- under 20 minutes.
-- =============================================================================
WHENEVER SQLERROR EXIT SQL.SQLCODE ROLLBACK
SET SERVEROUTPUT ON SIZE UNLIMITED

CREATE OR REPLACE PACKAGE scm.pkg_store_replenishment AS

    c_status_proposed  CONSTANT VARCHAR2(10) := 'PROPOSED';
    c_status_skipped   CONSTANT VARCHAR2(10) := 'SKIPPED';

    -- builds the proposal for one business date; returns the run id
    FUNCTION build_proposal (
        p_business_date IN DATE     DEFAULT TRUNC(SYSDATE),
        p_region_code   IN VARCHAR2 DEFAULT NULL
    ) RETURN NUMBER;

    -- releases the approved lines of a run to the ordering system
    PROCEDURE release_run (p_run_id IN NUMBER);

END pkg_store_replenishment;
/
SHOW ERRORS PACKAGE scm.pkg_store_replenishment

CREATE OR REPLACE PACKAGE BODY scm.pkg_store_replenishment AS

    TYPE t_candidate IS RECORD (
        store_id          scm.store.store_id%TYPE,
        item_id           scm.item.item_id%TYPE,
        on_hand_qty       NUMBER,
        on_order_qty      NUMBER,
        avg_daily_sales   NUMBER,
        days_to_delivery  PLS_INTEGER,
        presentation_min  NUMBER,
        safety_stock      NUMBER,
        pack_size         NUMBER,
        supplier_id       scm.supplier.supplier_id%TYPE
    );
    TYPE t_candidate_tab IS TABLE OF t_candidate;

    TYPE t_line_tab IS TABLE OF scm.replen_proposal_line%ROWTYPE INDEX BY PLS_INTEGER;

    c_fetch_limit CONSTANT PLS_INTEGER := 5000;

    ---------------------------------------------------------------------------
    -- run log, committed independently of the caller's transaction
    ---------------------------------------------------------------------------
    PROCEDURE log_msg (p_run_id IN NUMBER, p_level IN VARCHAR2, p_text IN VARCHAR2) IS
        PRAGMA AUTONOMOUS_TRANSACTION;
    BEGIN
        INSERT INTO scm.replen_run_log (run_id, log_time, log_level, message)
        VALUES (p_run_id, SYSTIMESTAMP, p_level, SUBSTR(p_text, 1, 4000));
        COMMIT;
    END log_msg;

    ---------------------------------------------------------------------------
    -- proposed quantity for one candidate; 0 when stock is sufficient
    ---------------------------------------------------------------------------
    FUNCTION proposed_qty (p_c IN t_candidate) RETURN NUMBER IS
        l_projected NUMBER;
        l_target    NUMBER;
        l_needed    NUMBER;
        l_pack      NUMBER := NVL(NULLIF(p_c.pack_size, 0), 1);
    BEGIN
        l_projected := NVL(p_c.on_hand_qty, 0) + NVL(p_c.on_order_qty, 0)
                     - NVL(p_c.avg_daily_sales, 0) * NVL(p_c.days_to_delivery, 1);
        l_target    := NVL(p_c.presentation_min, 0) + NVL(p_c.safety_stock, 0);
        l_needed    := l_target - l_projected;

        IF l_needed <= 0 THEN
            RETURN 0;
        END IF;

        RETURN CEIL(l_needed / l_pack) * l_pack;
    END proposed_qty;

    ---------------------------------------------------------------------------
    FUNCTION build_proposal (
        p_business_date IN DATE     DEFAULT TRUNC(SYSDATE),
        p_region_code   IN VARCHAR2 DEFAULT NULL
    ) RETURN NUMBER IS
        CURSOR c_candidates IS
            SELECT s.store_id,
                   i.item_id,
                   NVL(inv.on_hand_qty, 0),
                   NVL(inv.on_order_qty, 0),
                   NVL(fc.avg_daily_sales, 0),
                   NVL(sc.lead_time_days, 2),
                   NVL(pl.presentation_min, 0),
                   NVL(pl.safety_stock, 0),
                   NVL(sup.pack_size, 1),
                   sup.supplier_id
              FROM scm.auto_replen_item ari
              JOIN scm.store s          ON s.store_id = ari.store_id
              JOIN scm.item i           ON i.item_id = ari.item_id
              LEFT JOIN scm.inventory_position inv
                     ON inv.store_id = ari.store_id
                    AND inv.item_id  = ari.item_id
                    AND inv.snapshot_date = p_business_date
              LEFT JOIN scm.sales_forecast fc
                     ON fc.store_id = ari.store_id
                    AND fc.item_id  = ari.item_id
                    AND fc.forecast_week = TRUNC(p_business_date, 'IW')
              LEFT JOIN scm.planogram_limit pl
                     ON pl.store_id = ari.store_id
                    AND pl.item_id  = ari.item_id
              JOIN scm.item_supplier sup
                     ON sup.item_id = ari.item_id
                    AND sup.is_primary = 'Y'
              LEFT JOIN scm.supplier_schedule sc
                     ON sc.supplier_id = sup.supplier_id
                    AND sc.store_id    = ari.store_id
             WHERE s.status = 'OPEN'
               AND i.status = 'ACTIVE'
               AND (p_region_code IS NULL OR s.region_code = p_region_code)
               AND NOT EXISTS (SELECT 1
                                 FROM scm.item_block blk
                                WHERE blk.item_id = ari.item_id
                                  AND p_business_date BETWEEN blk.block_from
                                                          AND NVL(blk.block_to, DATE '9999-12-31'));

        l_run_id     NUMBER;
        l_cands      t_candidate_tab;
        l_lines      t_line_tab;
        l_qty        NUMBER;
        l_n          PLS_INTEGER;
        l_total      PLS_INTEGER := 0;
        l_errors     PLS_INTEGER := 0;

        e_dml_errors EXCEPTION;
        PRAGMA EXCEPTION_INIT(e_dml_errors, -24381);
    BEGIN
        INSERT INTO scm.replen_run (run_id, business_date, region_code, status, started_at)
        VALUES (scm.seq_replen_run.NEXTVAL, p_business_date, p_region_code, 'RUNNING', SYSTIMESTAMP)
        RETURNING run_id INTO l_run_id;

        log_msg(l_run_id, 'INFO', 'Proposal started for ' || TO_CHAR(p_business_date, 'YYYY-MM-DD')
                                  || ', region ' || NVL(p_region_code, '(all)'));

        OPEN c_candidates;
        LOOP
            FETCH c_candidates BULK COLLECT INTO l_cands LIMIT c_fetch_limit;
            EXIT WHEN l_cands.COUNT = 0;

            l_lines.DELETE;
            l_n := 0;

            FOR i IN 1 .. l_cands.COUNT LOOP
                l_qty := proposed_qty(l_cands(i));
                IF l_qty > 0 THEN
                    l_n := l_n + 1;
                    l_lines(l_n).run_id       := l_run_id;
                    l_lines(l_n).store_id     := l_cands(i).store_id;
                    l_lines(l_n).item_id      := l_cands(i).item_id;
                    l_lines(l_n).supplier_id  := l_cands(i).supplier_id;
                    l_lines(l_n).proposed_qty := l_qty;
                    l_lines(l_n).status       := c_status_proposed;
                    l_lines(l_n).created_at   := SYSTIMESTAMP;
                END IF;
            END LOOP;

            IF l_n > 0 THEN
                BEGIN
                    FORALL j IN 1 .. l_n SAVE EXCEPTIONS
                        INSERT INTO scm.replen_proposal_line VALUES l_lines(j);
                EXCEPTION
                    WHEN e_dml_errors THEN
                        FOR k IN 1 .. SQL%BULK_EXCEPTIONS.COUNT LOOP
                            l_errors := l_errors + 1;
                            IF l_errors <= 50 THEN
                                log_msg(l_run_id, 'WARN',
                                        'Line rejected for store '
                                        || l_lines(SQL%BULK_EXCEPTIONS(k).ERROR_INDEX).store_id
                                        || ', item ' || l_lines(SQL%BULK_EXCEPTIONS(k).ERROR_INDEX).item_id
                                        || ': ' || SQLERRM(-SQL%BULK_EXCEPTIONS(k).ERROR_CODE));
                            END IF;
                        END LOOP;
                END;
                l_total := l_total + l_n;
            END IF;

            COMMIT;     -- one commit per fetch batch keeps undo small
        END LOOP;
        CLOSE c_candidates;

        UPDATE scm.replen_run
           SET status      = CASE WHEN l_errors = 0 THEN 'PROPOSED' ELSE 'PROPOSED_WITH_ERRORS' END,
               line_count  = l_total - l_errors,
               error_count = l_errors,
               finished_at = SYSTIMESTAMP
         WHERE run_id = l_run_id;
        COMMIT;

        log_msg(l_run_id, 'INFO', 'Proposal finished: ' || (l_total - l_errors) || ' lines, '
                                  || l_errors || ' rejected');
        DBMS_OUTPUT.PUT_LINE('Run ' || l_run_id || ': ' || (l_total - l_errors) || ' proposal lines');

        RETURN l_run_id;
    EXCEPTION
        WHEN OTHERS THEN
            IF c_candidates%ISOPEN THEN
                CLOSE c_candidates;
            END IF;
            log_msg(l_run_id, 'ERROR', DBMS_UTILITY.FORMAT_ERROR_STACK
                                       || DBMS_UTILITY.FORMAT_ERROR_BACKTRACE);
            ROLLBACK;
            RAISE;
    END build_proposal;

    ---------------------------------------------------------------------------
    PROCEDURE release_run (p_run_id IN NUMBER) IS
        l_status scm.replen_run.status%TYPE;
    BEGIN
        SELECT status INTO l_status
          FROM scm.replen_run
         WHERE run_id = p_run_id
           FOR UPDATE NOWAIT;

        IF l_status NOT IN ('PROPOSED', 'PROPOSED_WITH_ERRORS') THEN
            RAISE_APPLICATION_ERROR(-20110,
                'Run ' || p_run_id || ' cannot be released from status ' || l_status);
        END IF;

        -- approved lines become purchase order lines, one order per store and supplier
        MERGE INTO scm.po_line tgt
        USING (SELECT pl.store_id, pl.supplier_id, pl.item_id,
                      NVL(pl.approved_qty, pl.proposed_qty) AS order_qty
                 FROM scm.replen_proposal_line pl
                WHERE pl.run_id = p_run_id
                  AND pl.status = 'APPROVED') src
           ON (    tgt.run_id      = p_run_id
               AND tgt.store_id    = src.store_id
               AND tgt.supplier_id = src.supplier_id
               AND tgt.item_id     = src.item_id)
         WHEN MATCHED THEN
              UPDATE SET tgt.order_qty = src.order_qty
         WHEN NOT MATCHED THEN
              INSERT (po_line_id, run_id, store_id, supplier_id, item_id, order_qty, created_at)
              VALUES (scm.seq_po_line.NEXTVAL, p_run_id, src.store_id, src.supplier_id,
                      src.item_id, src.order_qty, SYSTIMESTAMP);

        UPDATE scm.replen_run
           SET status = 'RELEASED', released_at = SYSTIMESTAMP, released_by = USER
         WHERE run_id = p_run_id;

        log_msg(p_run_id, 'INFO', 'Run released by ' || USER);
        COMMIT;
    EXCEPTION
        WHEN NO_DATA_FOUND THEN
            RAISE_APPLICATION_ERROR(-20111, 'Unknown replenishment run ' || p_run_id);
    END release_run;

END pkg_store_replenishment;
/
