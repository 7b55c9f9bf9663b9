-- The exchange package ZUV_EXPORT_OUT_PACK as stand-in catalog rows (oci_procedure, oci_argument) over
-- the tables of schema.sql. Running it again replaces the package, as CREATE OR REPLACE would.
--
-- Each entry starts with the signature a real Oracle package declares for it; the rows below give the
-- same names, types, directions and defaults. Bodies are SQLite statements run in order with the
-- arguments as :NAME markers: OPEN :P_DATASET FOR ... opens the cursor, a SELECT whose columns are
-- named after OUT arguments assigns them, SELECT raise_application_error(...) WHERE ... raises, and
-- every other statement changes rows in the caller's transaction (a failing call undoes its own
-- changes). The application error codes are listed in README.md.

DELETE FROM oci_procedure WHERE upper(package) = 'ZUV_EXPORT_OUT_PACK';
DELETE FROM oci_argument WHERE upper(package) = 'ZUV_EXPORT_OUT_PACK';

CREATE TEMP TABLE p(name TEXT NOT NULL, kind TEXT NOT NULL, body TEXT NOT NULL);
CREATE TEMP TABLE a(name TEXT NOT NULL, position INTEGER NOT NULL, argument TEXT, data_type TEXT NOT NULL,
                    direction TEXT NOT NULL, default_value TEXT);

-- A counter that stands in for an Oracle sequence.
CREATE TABLE IF NOT EXISTS zuv_seq(name VARCHAR2(30) NOT NULL PRIMARY KEY, value NUMBER(12,0) NOT NULL);
INSERT OR IGNORE INTO zuv_seq VALUES ('coupon_number', 0);

-- ==== settings and version ==================================================================================

-- PROCEDURE get_zuv_param(P_PARAM IN VARCHAR2, P_VALUE OUT VARCHAR2)
-- Names match without regard to case. A name of exactly 20 characters also matches a longer setting
-- that starts with it: a caller that declares P_PARAM with size 20 asks for "SMTPUseAuthenticatio".
INSERT INTO p VALUES ('get_zuv_param', 'PROCEDURE', '
  SELECT (SELECT value FROM zuv_param
          WHERE upper(name) = upper(:P_PARAM)
             OR (length(:P_PARAM) = 20 AND upper(substr(name, 1, 20)) = upper(:P_PARAM))
          ORDER BY length(name) LIMIT 1) AS P_VALUE');
INSERT INTO a VALUES
  ('get_zuv_param', 1, 'P_PARAM', 'VARCHAR2', 'IN', NULL),
  ('get_zuv_param', 2, 'P_VALUE', 'VARCHAR2', 'OUT', NULL);

-- FUNCTION get_zuv_qel_db_version RETURN VARCHAR2
INSERT INTO p VALUES ('get_zuv_qel_db_version', 'FUNCTION', '
  SELECT (SELECT version FROM db_version ORDER BY installed DESC, rowid DESC LIMIT 1) AS RESULT');
INSERT INTO a VALUES
  ('get_zuv_qel_db_version', 0, NULL, 'VARCHAR2', 'OUT', NULL);

-- ==== export package bookkeeping ============================================================================

-- PROCEDURE add_entries_to_package(P_PACKAGE_ID IN VARCHAR2, P_DATETIME_CREATE IN DATE)
-- Registers a new package and stamps every row that waits to be sent with its id, so that the
-- by-package cursors (and a repeated package later) return them. Rows of a system the settings leave
-- out (SOURCE_DATA) stay waiting, as do new clients of a client type the export leaves out
-- (CLIENT_TYPE_EXPORT). A registered id raises ORA-00001 before anything is stamped.
INSERT INTO p VALUES ('add_entries_to_package', 'PROCEDURE', '
  INSERT INTO out_package(package_id, datetime_create, datetime_registered)
    VALUES (:P_PACKAGE_ID, :P_DATETIME_CREATE, sysdate);
  UPDATE pos SET package_id = :P_PACKAGE_ID WHERE package_id IS NULL;
  UPDATE pos_price SET package_id = :P_PACKAGE_ID WHERE package_id IS NULL;
  UPDATE client_tarif SET package_id = :P_PACKAGE_ID WHERE package_id IS NULL;
  UPDATE client_tarif_price SET package_id = :P_PACKAGE_ID WHERE package_id IS NULL;
  UPDATE client_tarif_discount SET package_id = :P_PACKAGE_ID WHERE package_id IS NULL;
  UPDATE client SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL
      AND ((source = 1 AND (SELECT qel FROM v_exch_scope) = 1) OR (source = 2 AND (SELECT dolm FROM v_exch_scope) = 1));
  UPDATE client SET new_package_id = :P_PACKAGE_ID
    WHERE is_new = 1 AND new_package_id IS NULL
      AND ((source = 1 AND (SELECT qel FROM v_exch_scope) = 1) OR (source = 2 AND (SELECT dolm FROM v_exch_scope) = 1))
      AND (SELECT client_type FROM v_exch_scope) IN (0, client_type);
  UPDATE trn SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL
      AND ((source = 1 AND (SELECT qel FROM v_exch_scope) = 1) OR (source = 2 AND (SELECT dolm FROM v_exch_scope) = 1));
  UPDATE dr_request SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND request_state_id <> 1 AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE dd_request SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND request_state_id <> 1 AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE oil_request SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND request_state_id <> 1 AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE onl_limit_card_request SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND request_state_id <> 1 AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE coupon_request SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND request_state_id <> 1 AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE onl_limit SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE onl_card SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE onl_card_limit SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE coupon_limit SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE coupon_setting SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE coupon SET package_id = :P_PACKAGE_ID
    WHERE package_id IS NULL AND (SELECT qel FROM v_exch_scope) = 1;
  UPDATE in_package SET confirm_package_id = :P_PACKAGE_ID WHERE confirm_package_id IS NULL');
INSERT INTO a VALUES
  ('add_entries_to_package', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('add_entries_to_package', 2, 'P_DATETIME_CREATE', 'DATE', 'IN', NULL);

-- PROCEDURE ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID IN VARCHAR2)
-- Stores the send date; a repeat request is settled by it, and the clients the package announced are
-- no longer new.
INSERT INTO p VALUES ('ADD_SEND_DATE_TO_PACKAGE', 'PROCEDURE', '
  SELECT raise_application_error(-20003, ''package '' || ifnull(:P_PACKAGE_ID, ''(null)'') || '' is not registered'')
    WHERE NOT EXISTS (SELECT 1 FROM out_package WHERE package_id = :P_PACKAGE_ID);
  UPDATE out_package SET datetime_send = sysdate, send_count = send_count + 1, repeat_requested = 0
    WHERE package_id = :P_PACKAGE_ID;
  UPDATE client SET is_new = 0 WHERE is_new = 1 AND new_package_id = :P_PACKAGE_ID');
INSERT INTO a VALUES
  ('ADD_SEND_DATE_TO_PACKAGE', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL);

-- ==== export cursors by client type (0 all, 1 firms, 2 private persons) =====================================

-- PROCEDURE get_new_client_list_qel(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_new_client_list_qel', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT c.client_id, c.client_type, c.client_name, c.name_for_report, c.e_mail, c.in_black_list,
         c.max_gr_card_num, c.sign_dayli_limit, c.sign_dayli_inform, c.sign_monthly_limit,
         c.sign_monthly_inform, c.phone,
         (SELECT count(*) FROM trn t WHERE t.client_id = c.client_id AND t.client_type = c.client_type) AS trn_count
  FROM client c
  WHERE c.source = 1 AND c.is_new = 1 AND :P_CLIENT_TYPE IN (0, c.client_type)
  ORDER BY c.client_type, c.client_id');

-- PROCEDURE get_new_client_list_dolm(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_new_client_list_dolm', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT c.client_id, c.client_type, c.client_name, c.name_for_report, c.e_mail, c.in_black_list,
         c.max_gr_card_num, c.sign_dayli_limit, c.sign_dayli_inform, c.sign_monthly_limit,
         c.sign_monthly_inform, c.phone,
         (SELECT count(*) FROM trn t WHERE t.client_id = c.client_id AND t.client_type = c.client_type) AS trn_count
  FROM client c
  WHERE c.source = 2 AND c.is_new = 1 AND :P_CLIENT_TYPE IN (0, c.client_type)
  ORDER BY c.client_type, c.client_id');

-- PROCEDURE get_holder_qel_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_holder_qel_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT DISTINCT k.client_id, k.client_type, k.crd_holder AS holder
  FROM card k JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
  WHERE c.source = 1 AND k.crd_holder IS NOT NULL AND :P_CLIENT_TYPE IN (0, k.client_type)
  ORDER BY k.client_type, k.client_id, k.crd_holder');

-- PROCEDURE get_holder_dolm_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_holder_dolm_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT DISTINCT k.client_id, k.client_type, k.crd_holder AS holder
  FROM card k JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
  WHERE c.source = 2 AND k.crd_holder IS NOT NULL AND :P_CLIENT_TYPE IN (0, k.client_type)
  ORDER BY k.client_type, k.client_id, k.crd_holder');

-- PROCEDURE get_account_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_account_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT a.client_id, a.client_type, a.acc_srv_id, a.acc_balance, a.dl_inform_barrier, a.dl_alarm_barrier,
         a.ml_inform_barrier, a.ml_alarm_barrier, a.acc_time_credit, a.acc_overdraft, a.acc_limit_overdraft,
         a.acc_vc_sum
  FROM account a JOIN client c ON c.client_id = a.client_id AND c.client_type = a.client_type
  WHERE c.source = 1 AND :P_CLIENT_TYPE IN (0, a.client_type)
  ORDER BY a.client_type, a.client_id, a.acc_srv_id');

-- PROCEDURE get_card_qel_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_card_qel_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT k.client_id, k.client_type, k.crd_graphnum AS CRD_GRAPHNUM, k.crd_state AS CRD_STATE,
         k.crd_holder AS CRD_HOLDER, k.prs_bns_exist AS PRS_BNS_EXIST, k.prs_bonus_size AS PRS_BONUS_SIZE,
         k.prs_bonus_quota AS PRS_BONUS_QUOTA, k.max_consumption AS MAX_CONSUMPTION,
         k.petroltank AS PETROLTANK, k.is_vc_card
  FROM card k JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
  WHERE c.source = 1 AND :P_CLIENT_TYPE IN (0, k.client_type)
  ORDER BY k.crd_graphnum');

-- PROCEDURE get_card_dolm_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_card_dolm_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT k.client_id, k.client_type, k.crd_graphnum AS CRD_GRAPHNUM, k.crd_state AS CRD_STATE,
         k.crd_holder AS CRD_HOLDER, k.dolm_type AS DOLM_TYPE, k.current_bonus AS CURRENT_BONUS,
         k.max_bonus AS MAX_BONUS, k.old_bonus AS OLD_BONUS, k.discont_percent AS DISCONT_PERCENT,
         k.expiry_date AS EXPIRY_DATE, k.ad_bonus AS Ad_bonus, k.ad_begin_of_period AS Ad_begin_of_period
  FROM card k JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
  WHERE c.source = 2 AND :P_CLIENT_TYPE IN (0, k.client_type)
  ORDER BY k.crd_graphnum');

-- PROCEDURE get_purse_qel_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_purse_qel_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT k.client_id, k.client_type, p.gr_nomer, p.prs_srv_id, p.prs_balance, p.prs_balance_quota, p.prs_quota,
         p.prs_quota_type, p.prs_quota_kind, p.prs_schema_num
  FROM purse p
    JOIN card k ON k.crd_graphnum = p.gr_nomer
    JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
  WHERE c.source = 1 AND :P_CLIENT_TYPE IN (0, k.client_type)
  ORDER BY p.gr_nomer, p.prs_srv_id');

-- PROCEDURE get_mifare_card_list(P_CLIENT_TYPE IN NUMBER, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_mifare_card_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT m.client_id, m.client_type, m.card_petrol_num, m.mifare_num, m.mifare_serial_num, m.days, m.time_from,
         m.time_to, m.petroltank, m.vehicle_name, m.vehicle_number
  FROM mifare m JOIN client c ON c.client_id = m.client_id AND c.client_type = m.client_type
  WHERE m.card_petrol_num IS NOT NULL AND c.source = 1 AND :P_CLIENT_TYPE IN (0, m.client_type)
  ORDER BY m.mifare_num');

INSERT INTO a VALUES
  ('get_new_client_list_qel', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_new_client_list_qel', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_new_client_list_dolm', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_new_client_list_dolm', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_holder_qel_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_holder_qel_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_holder_dolm_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_holder_dolm_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_account_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_account_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_card_qel_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_card_qel_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_card_dolm_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_card_dolm_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_purse_qel_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_purse_qel_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_mifare_card_list', 1, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('get_mifare_card_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL);

-- ==== export cursors without a parameter ====================================================================

-- PROCEDURE get_service_list(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_service_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT srv_id, srv_name, srv_mes, srv_active, srv_is_currency FROM service ORDER BY srv_id');

-- PROCEDURE get_emitent_list(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_emitent_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT emt_id, fll_id, emt_name, emt_active, emt_firm_id FROM emitent ORDER BY emt_id, fll_id');

-- PROCEDURE get_ad_params(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_ad_params', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT active_discount, ad_calc_month_count FROM ad_params');

-- PROCEDURE get_rfid_params(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_rfid_params', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT has_rfid FROM rfid_params');

-- PROCEDURE p_get_package_confirm_list(P_DATASET OUT SYS_REFCURSOR)
-- The web side's packages confirmed by the package registered last (add_entries_to_package).
INSERT INTO p VALUES ('p_get_package_confirm_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT package_id, datetime_receipt AS datetime_last_receipt, count_receipt, state
  FROM in_package
  WHERE confirm_package_id = (SELECT package_id FROM out_package
                              ORDER BY datetime_registered DESC, rowid DESC LIMIT 1)
  ORDER BY datetime_receipt, package_id');

-- PROCEDURE get_ad_client_params(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_ad_client_params', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT client_id, client_type, birth, sex FROM client
  WHERE source = 2 AND client_type = 2
  ORDER BY client_id');

-- PROCEDURE get_mifare_client_list(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_mifare_client_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT m.client_id, m.mifare_num, m.mifare_serial_num, m.days, m.time_from, m.time_to, m.petroltank,
         m.vehicle_name, m.vehicle_number
  FROM mifare m JOIN client c ON c.client_id = m.client_id AND c.client_type = m.client_type
  WHERE m.card_petrol_num IS NULL AND m.client_type = 1 AND c.source = 1
  ORDER BY m.mifare_num');

-- PROCEDURE get_unconfirmed_packages(P_DATASET OUT SYS_REFCURSOR)
-- Sent packages the web side has not confirmed yet.
INSERT INTO p VALUES ('get_unconfirmed_packages', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT package_id FROM out_package
  WHERE datetime_send IS NOT NULL AND confirmed_state IS NULL
  ORDER BY datetime_create, package_id');

-- PROCEDURE get_emitent_configs_list(P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_emitent_configs_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT code AS Code, value AS Value FROM emitent_config ORDER BY code');

INSERT INTO a VALUES
  ('get_service_list', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_emitent_list', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_ad_params', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_rfid_params', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('p_get_package_confirm_list', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_ad_client_params', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_mifare_client_list', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_unconfirmed_packages', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_emitent_configs_list', 1, 'P_DATASET', 'REF CURSOR', 'OUT', NULL);

-- ==== export cursors by package id: the rows add_entries_to_package stamped with it =========================

-- PROCEDURE get_pos_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_pos_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT pos_emitent, pos_filial, pos_number, pos_name, pos_address, operation_id
  FROM pos WHERE package_id = :P_PACKAGE_ID
  ORDER BY pos_emitent, pos_filial, pos_number');

-- PROCEDURE GET_POS_PRICE_LIST(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('GET_POS_PRICE_LIST', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT pos_id AS POS_ID, price_num AS PRICE_NUM, service_id AS SERVICE_ID, term_price AS TERM_PRICE,
         price_start_date, status
  FROM pos_price WHERE package_id = :P_PACKAGE_ID
  ORDER BY pos_id, price_num, service_id, price_start_date');

-- PROCEDURE get_onl_limits(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_onl_limits', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT l.customers_id, l.kind_limit, l.limit_type, l.services_id, l.daily_limit, l.weekly_limit,
         l.monthly_limit, l.active, s.receive_vc
  FROM onl_limit l LEFT JOIN coupon_setting s ON s.customers_id = l.customers_id
  WHERE l.package_id = :P_PACKAGE_ID
  ORDER BY l.customers_id, l.services_id');

-- PROCEDURE get_client_list_export_qel(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_client_list_export_qel', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT client_id AS cln_id, client_type AS cln_type, client_name AS cln_name, name_for_report,
         e_mail AS cln_email, in_black_list AS cln_bl, sign_dayli_limit AS sl_al_debtor_sign,
         sign_dayli_inform AS sl_in_debtor_sign, sign_monthly_limit AS ml_al_debtor_sign,
         sign_monthly_inform AS ml_in_debtor_sign, onl_client_id, phone, sign_weekly_limit AS wl_al_debtor_sign,
         sign_weekly_inform AS wl_in_debtor_sign, inn, kpp, address, fact_address, account, bank_name,
         corr_account, bik, fax, consignee_id, buyer_firm_id, contract_date, contract_num, director_fio,
         director_post, controller_fio, warrant_number, warrant_date, manager_email, client_tarif
  FROM client WHERE package_id = :P_PACKAGE_ID AND source = 1
  ORDER BY client_type, client_id');

-- PROCEDURE get_client_list_export_dolm(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_client_list_export_dolm', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT client_id AS cln_id, client_type AS cln_type, client_name AS cln_name, name_for_report,
         e_mail AS cln_email, in_black_list AS cln_bl, sign_dayli_limit AS sl_al_debtor_sign,
         sign_dayli_inform AS sl_in_debtor_sign, sign_monthly_limit AS ml_al_debtor_sign,
         sign_monthly_inform AS ml_in_debtor_sign, phone AS cln_phone, address AS Address, fax
  FROM client WHERE package_id = :P_PACKAGE_ID AND source = 2
  ORDER BY client_type, client_id');

-- PROCEDURE get_dr_request(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_dr_request', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT dr_request_id, request_state_id, cancel_cause_id, date_begin, date_end, dr_group_id, dr_id_in_group,
         price, date_of_answer
  FROM dr_request WHERE package_id = :P_PACKAGE_ID
  ORDER BY dr_request_id');

-- PROCEDURE get_dd_request(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_dd_request', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT dd_request_id, request_state_id, cancel_cause_id, date_begin, date_end, dd_group_id, dd_id_in_group,
         dd_price, date_of_answer
  FROM dd_request WHERE package_id = :P_PACKAGE_ID
  ORDER BY dd_request_id');

-- PROCEDURE get_oil_request(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_oil_request', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT oil_request_id, request_state_id, cancel_cause_id, date_begin, date_end, date_of_answer, guid
  FROM oil_request WHERE package_id = :P_PACKAGE_ID
  ORDER BY oil_request_id');

-- PROCEDURE get_trn_qel_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_trn_qel_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT client_id, client_type, trn_guid, trn_emt_pos, trn_fil_pos, trn_pos_num, trn_term_num, trn_card_num,
         trn_dateof, trn_srv_id, trn_curr_id, trn_amount, trn_cost_on_pos, trn_cost_client, trn_price_on_pos,
         trn_price_client, trn_delta_price, trn_delta_cost, pos_delta_price, pos_delta_cost, trn_schema_num,
         trn_type, acc_comment, odometr, rfid_num
  FROM trn WHERE package_id = :P_PACKAGE_ID AND source = 1
  ORDER BY trn_id');

-- PROCEDURE get_trn_dolm_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_trn_dolm_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT client_id, client_type, trn_guid, trn_emt_pos, trn_fil_pos, trn_pos_num, trn_term_num, trn_card_num,
         trn_dateof, trn_srv_id, trn_curr_id, trn_amount, trn_cost_on_pos, trn_cost_client, trn_price_on_pos,
         trn_price_client, trn_delta_price, trn_delta_cost, pos_delta_price, pos_delta_cost, trn_type,
         discount_percent, discount_type, trn_bonus, current_bonus
  FROM trn WHERE package_id = :P_PACKAGE_ID AND source = 2
  ORDER BY trn_id');

-- PROCEDURE get_ibs_qel_trns(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_ibs_qel_trns', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT t.trn_guid, i.guid_139, i.gdscode, i.gdsname, i.amount, i.price
  FROM trn t JOIN ibs_line i ON i.trn_id = t.trn_id
  WHERE t.package_id = :P_PACKAGE_ID AND t.source = 1
  ORDER BY i.ibs_id');

-- PROCEDURE get_ibs_dolm_trns(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_ibs_dolm_trns', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT t.trn_guid, i.guid_139, i.gdscode, i.gdsname, i.amount, i.price
  FROM trn t JOIN ibs_line i ON i.trn_id = t.trn_id
  WHERE t.package_id = :P_PACKAGE_ID AND t.source = 2
  ORDER BY i.ibs_id');

-- PROCEDURE get_onl_cards(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_onl_cards', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT onl_client, cardnum, schedule, time_from, time_to, online_cardtype, platenum, operation_id
  FROM onl_card WHERE package_id = :P_PACKAGE_ID
  ORDER BY cardnum');

-- PROCEDURE get_onl_cards_limits(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_onl_cards_limits', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT card_num, kind_limit, limit_type, services_id, daily_limit, weekly_limit, monthly_limit, active,
         ind_limit, operation_id
  FROM onl_card_limit WHERE package_id = :P_PACKAGE_ID
  ORDER BY card_num, services_id');

-- PROCEDURE get_onl_limit_card_request(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_onl_limit_card_request', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT request_id, request_state_id, cancel_cause_id, date_of_answer
  FROM onl_limit_card_request WHERE package_id = :P_PACKAGE_ID
  ORDER BY request_id');

-- PROCEDURE GET_CLIENT_TARIF_LIST(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('GET_CLIENT_TARIF_LIST', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT data_id, id_bazovoi_gr_tarifov, operation_id
  FROM client_tarif WHERE package_id = :P_PACKAGE_ID
  ORDER BY data_id');

-- PROCEDURE GET_RATES_CLIENT_TARIF_LIST(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('GET_RATES_CLIENT_TARIF_LIST', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT tarif_id, service_id, start_date, tzena, operation_id
  FROM client_tarif_price WHERE package_id = :P_PACKAGE_ID
  ORDER BY tarif_id, service_id, start_date');

-- PROCEDURE GET_DISC_CLIENT_TARIF_LIST(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('GET_DISC_CLIENT_TARIF_LIST', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT tarif_id, service_id, scidka, discount_type_id, operation_id
  FROM client_tarif_discount WHERE package_id = :P_PACKAGE_ID
  ORDER BY tarif_id, service_id');

-- PROCEDURE get_coupon_limits(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_coupon_limits', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT customers_id, kind_limit, limit_type, services_id, daily_limit, weekly_limit, monthly_limit, active
  FROM coupon_limit WHERE package_id = :P_PACKAGE_ID
  ORDER BY customers_id, services_id');

-- PROCEDURE get_coupon_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_coupon_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT vc_id, vc_group_id, vc_state_id, vc_number_view, date_create, date_service, price, card_num_vc
  FROM coupon WHERE package_id = :P_PACKAGE_ID
  ORDER BY vc_number_view');

-- PROCEDURE get_coupon_settings_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_coupon_settings_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT customers_id, receive_vc, vc_fp, vc_posp, vc_last_date_create, pin_exp_date, pin_state, code_table_num,
         code_count, code_exp_date
  FROM coupon_setting WHERE package_id = :P_PACKAGE_ID
  ORDER BY customers_id');

-- PROCEDURE get_coupon_req_ch_state_list(P_PACKAGE_ID IN VARCHAR2, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO p VALUES ('get_coupon_req_ch_state_list', 'PROCEDURE', '
  OPEN :P_DATASET FOR
  SELECT request_id, request_state_id, cancel_cause_id, date_of_answer
  FROM coupon_request WHERE package_id = :P_PACKAGE_ID
  ORDER BY request_id');

INSERT INTO a VALUES
  ('get_pos_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_pos_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('GET_POS_PRICE_LIST', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('GET_POS_PRICE_LIST', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_onl_limits', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_onl_limits', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_client_list_export_qel', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_client_list_export_qel', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_client_list_export_dolm', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_client_list_export_dolm', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_dr_request', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_dr_request', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_dd_request', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_dd_request', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_oil_request', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_oil_request', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_trn_qel_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_trn_qel_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_trn_dolm_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_trn_dolm_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_ibs_qel_trns', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_ibs_qel_trns', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_ibs_dolm_trns', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_ibs_dolm_trns', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_onl_cards', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_onl_cards', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_onl_cards_limits', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_onl_cards_limits', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_onl_limit_card_request', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_onl_limit_card_request', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('GET_CLIENT_TARIF_LIST', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('GET_CLIENT_TARIF_LIST', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('GET_RATES_CLIENT_TARIF_LIST', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('GET_RATES_CLIENT_TARIF_LIST', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('GET_DISC_CLIENT_TARIF_LIST', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('GET_DISC_CLIENT_TARIF_LIST', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_coupon_limits', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_coupon_limits', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_coupon_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_coupon_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_coupon_settings_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_coupon_settings_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL),
  ('get_coupon_req_ch_state_list', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_coupon_req_ch_state_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL);

-- ==== import: package registration and the web side's package states ========================================

-- PROCEDURE get_in_package_state(P_PACKAGE_ID IN VARCHAR2, P_STATE OUT NUMBER)
-- The state of a web package (0 registered, 1 imported, 2 asked about but never received); NULL
-- for a package this database has never heard of.
INSERT INTO p VALUES ('get_in_package_state', 'PROCEDURE', '
  SELECT (SELECT state FROM in_package WHERE package_id = :P_PACKAGE_ID) AS P_STATE');
INSERT INTO a VALUES
  ('get_in_package_state', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('get_in_package_state', 2, 'P_STATE', 'NUMBER', 'OUT', NULL);

-- PROCEDURE add_new_package(P_PACKAGE_ID IN VARCHAR2, P_DATETIME_CREATE IN DATE)
-- A package received before raises ORA-00001; one the web side only asked about is now received.
INSERT INTO p VALUES ('add_new_package', 'PROCEDURE', '
  DELETE FROM in_package WHERE package_id = :P_PACKAGE_ID AND state = 2;
  INSERT INTO in_package(package_id, datetime_create, datetime_receipt, count_receipt, state)
    VALUES (:P_PACKAGE_ID, :P_DATETIME_CREATE, sysdate, 1, 0)');
INSERT INTO a VALUES
  ('add_new_package', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('add_new_package', 2, 'P_DATETIME_CREATE', 'DATE', 'IN', NULL);

-- PROCEDURE set_status_imported(P_PACKAGE_ID IN VARCHAR2)
-- Marks the package imported and due for confirmation; a package whose registration failed is
-- recorded here, so that its import is confirmed all the same.
INSERT INTO p VALUES ('set_status_imported', 'PROCEDURE', '
  INSERT INTO in_package(package_id, datetime_receipt, count_receipt, state)
    SELECT :P_PACKAGE_ID, sysdate, 1, 1 WHERE NOT EXISTS (SELECT 1 FROM in_package WHERE package_id = :P_PACKAGE_ID);
  UPDATE in_package SET state = 1, confirm_package_id = NULL WHERE package_id = :P_PACKAGE_ID');
INSERT INTO a VALUES
  ('set_status_imported', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL);

-- PROCEDURE status_package_request(P_PACKAGE_ID IN VARCHAR2)
-- The web side asks about one of its packages: its state goes out again with the next package; a
-- package never received is reported with state 2 and count 0.
INSERT INTO p VALUES ('status_package_request', 'PROCEDURE', '
  UPDATE in_package SET confirm_package_id = NULL WHERE package_id = :P_PACKAGE_ID;
  INSERT INTO in_package(package_id, datetime_receipt, count_receipt, state)
    SELECT :P_PACKAGE_ID, sysdate, 0, 2 WHERE NOT EXISTS (SELECT 1 FROM in_package WHERE package_id = :P_PACKAGE_ID)');
INSERT INTO a VALUES
  ('status_package_request', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL);

-- PROCEDURE confirm_package(P_PACKAGE_ID IN VARCHAR2, P_DATETIME_RECEIPT IN DATE, P_STATE IN NUMBER)
-- The web side confirms one of our packages. A confirmation of a package this database does not know
-- is dropped rather than failing the rest of the web side's package.
INSERT INTO p VALUES ('confirm_package', 'PROCEDURE', '
  UPDATE out_package SET confirmed_state = :P_STATE, datetime_receipt = :P_DATETIME_RECEIPT
    WHERE package_id = :P_PACKAGE_ID');
INSERT INTO a VALUES
  ('confirm_package', 1, 'P_PACKAGE_ID', 'VARCHAR2', 'IN', NULL),
  ('confirm_package', 2, 'P_DATETIME_RECEIPT', 'DATE', 'IN', NULL),
  ('confirm_package', 3, 'P_STATE', 'NUMBER', 'IN', NULL);

-- ==== import: requests ======================================================================================

-- PROCEDURE p_set_dr_request(P_DR_REQUEST_ID IN NUMBER, P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER,
--   P_CARD_NUMBER IN VARCHAR2, P_SERVICE_ID IN NUMBER, P_AMOUNT IN NUMBER, P_DATE_OF IN DATE)
INSERT INTO p VALUES ('p_set_dr_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  SELECT raise_application_error(-20002, printf(''card %s is not a card of client %d/%d'',
                                                ifnull(:P_CARD_NUMBER, ''(null)''), :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM card WHERE crd_graphnum = :P_CARD_NUMBER
                        AND client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO dr_request(dr_request_id, client_id, client_type, card_number, service_id, amount, date_of, received)
    VALUES (:P_DR_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, :P_SERVICE_ID, :P_AMOUNT, :P_DATE_OF,
            sysdate)');
INSERT INTO a VALUES
  ('p_set_dr_request', 1, 'P_DR_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dr_request', 2, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dr_request', 3, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_dr_request', 4, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_dr_request', 5, 'P_SERVICE_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dr_request', 6, 'P_AMOUNT', 'NUMBER', 'IN', NULL),
  ('p_set_dr_request', 7, 'P_DATE_OF', 'DATE', 'IN', NULL);

-- PROCEDURE p_set_dd_request(P_DD_REQUEST_ID IN NUMBER, P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER,
--   P_CARD_NUMBER IN VARCHAR2, P_SERVICE_ID IN NUMBER, P_AMOUNT IN NUMBER, P_DATE_OF IN DATE)
INSERT INTO p VALUES ('p_set_dd_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  SELECT raise_application_error(-20002, printf(''card %s is not a card of client %d/%d'',
                                                ifnull(:P_CARD_NUMBER, ''(null)''), :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM card WHERE crd_graphnum = :P_CARD_NUMBER
                        AND client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO dd_request(dd_request_id, client_id, client_type, card_number, service_id, amount, date_of, received)
    VALUES (:P_DD_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, :P_SERVICE_ID, :P_AMOUNT, :P_DATE_OF,
            sysdate)');
INSERT INTO a VALUES
  ('p_set_dd_request', 1, 'P_DD_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dd_request', 2, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dd_request', 3, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_dd_request', 4, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_dd_request', 5, 'P_SERVICE_ID', 'NUMBER', 'IN', NULL),
  ('p_set_dd_request', 6, 'P_AMOUNT', 'NUMBER', 'IN', NULL),
  ('p_set_dd_request', 7, 'P_DATE_OF', 'DATE', 'IN', NULL);

-- PROCEDURE p_set_oil_request(P_OIL_REQUEST_ID IN NUMBER, P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER,
--   P_CARD_NUMBER IN VARCHAR2, P_SERVICE_ID IN NUMBER, P_AMOUNT IN NUMBER, P_DATE_BEGIN IN DATE,
--   P_DATE_OF IN DATE, P_CURRENT_LIMIT IN NUMBER, P_CURRENT_TYPE IN NUMBER, P_CURRENT_KIND IN NUMBER,
--   P_CURRENT_SERVICES IN VARCHAR2)
INSERT INTO p VALUES ('p_set_oil_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  SELECT raise_application_error(-20002, printf(''card %s is not a card of client %d/%d'',
                                                ifnull(:P_CARD_NUMBER, ''(null)''), :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM card WHERE crd_graphnum = :P_CARD_NUMBER
                        AND client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO oil_request(oil_request_id, client_id, client_type, card_number, service_id, amount, date_begin,
                          date_of, current_limit, current_type, current_kind, current_services, received, guid)
    VALUES (:P_OIL_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, :P_SERVICE_ID, :P_AMOUNT,
            :P_DATE_BEGIN, :P_DATE_OF, :P_CURRENT_LIMIT, :P_CURRENT_TYPE, :P_CURRENT_KIND, :P_CURRENT_SERVICES,
            sysdate,
            ''{'' || upper(hex(randomblob(4))) || ''-'' || upper(hex(randomblob(2))) || ''-'' ||
            upper(hex(randomblob(2))) || ''-'' || upper(hex(randomblob(2))) || ''-'' ||
            upper(hex(randomblob(6))) || ''}'')');
INSERT INTO a VALUES
  ('p_set_oil_request', 1, 'P_OIL_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 2, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 3, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 4, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_oil_request', 5, 'P_SERVICE_ID', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 6, 'P_AMOUNT', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 7, 'P_DATE_BEGIN', 'DATE', 'IN', NULL),
  ('p_set_oil_request', 8, 'P_DATE_OF', 'DATE', 'IN', NULL),
  ('p_set_oil_request', 9, 'P_CURRENT_LIMIT', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 10, 'P_CURRENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 11, 'P_CURRENT_KIND', 'NUMBER', 'IN', NULL),
  ('p_set_oil_request', 12, 'P_CURRENT_SERVICES', 'VARCHAR2', 'IN', NULL);

-- PROCEDURE p_set_lost_card_request(P_LOST_CARD_REQ_ID IN NUMBER, P_LOST_COMMENT IN VARCHAR2,
--   P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER, P_CARD_NUMBER IN VARCHAR2, P_DATE_CREATE IN DATE,
--   P_SEND_STATE IN NUMBER DEFAULT 0, P_RESULT OUT NUMBER)
-- P_RESULT -1 refuses the request: only Qel cards of the client named can be reported lost here (Dolm
-- cards are blocked in the Dolm system). An accepted card is marked lost at once.
INSERT INTO p VALUES ('p_set_lost_card_request', 'PROCEDURE', '
  SELECT CASE WHEN EXISTS (SELECT 1 FROM card k
                             JOIN client c ON c.client_id = k.client_id AND c.client_type = k.client_type
                           WHERE k.crd_graphnum = :P_CARD_NUMBER AND k.client_id = :P_CLIENT_ID
                             AND k.client_type = :P_CLIENT_TYPE AND c.source = 1)
              THEN 0 ELSE -1 END AS P_RESULT;
  INSERT INTO lost_card_request(lost_card_req_id, lost_comment, client_id, client_type, card_number, date_create,
                                send_state, result, received)
    VALUES (:P_LOST_CARD_REQ_ID, :P_LOST_COMMENT, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, :P_DATE_CREATE,
            :P_SEND_STATE, :P_RESULT, sysdate);
  UPDATE card SET crd_state = 3 WHERE crd_graphnum = :P_CARD_NUMBER AND :P_RESULT = 0');
INSERT INTO a VALUES
  ('p_set_lost_card_request', 1, 'P_LOST_CARD_REQ_ID', 'NUMBER', 'IN', NULL),
  ('p_set_lost_card_request', 2, 'P_LOST_COMMENT', 'VARCHAR2', 'IN', NULL),
  ('p_set_lost_card_request', 3, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_lost_card_request', 4, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_lost_card_request', 5, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_lost_card_request', 6, 'P_DATE_CREATE', 'DATE', 'IN', NULL),
  ('p_set_lost_card_request', 7, 'P_SEND_STATE', 'NUMBER', 'IN', '0'),
  ('p_set_lost_card_request', 8, 'P_RESULT', 'NUMBER', 'OUT', NULL);

-- PROCEDURE p_set_ch_holder_request(P_CH_CARD_HOLDER_REQ_ID IN NUMBER, P_CARD_HOLDER_NAME IN VARCHAR2,
--   P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER, P_CARD_NUMBER IN VARCHAR2, P_DATE_CREATE IN DATE,
--   P_SEND_STATE IN NUMBER DEFAULT 0)
INSERT INTO p VALUES ('p_set_ch_holder_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  SELECT raise_application_error(-20002, printf(''card %s is not a card of client %d/%d'',
                                                ifnull(:P_CARD_NUMBER, ''(null)''), :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM card WHERE crd_graphnum = :P_CARD_NUMBER
                        AND client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO ch_holder_request(ch_card_holder_req_id, card_holder_name, client_id, client_type, card_number,
                                date_create, send_state, received)
    VALUES (:P_CH_CARD_HOLDER_REQ_ID, :P_CARD_HOLDER_NAME, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER,
            :P_DATE_CREATE, :P_SEND_STATE, sysdate);
  UPDATE card SET crd_holder = :P_CARD_HOLDER_NAME WHERE crd_graphnum = :P_CARD_NUMBER');
INSERT INTO a VALUES
  ('p_set_ch_holder_request', 1, 'P_CH_CARD_HOLDER_REQ_ID', 'NUMBER', 'IN', NULL),
  ('p_set_ch_holder_request', 2, 'P_CARD_HOLDER_NAME', 'VARCHAR2', 'IN', NULL),
  ('p_set_ch_holder_request', 3, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_ch_holder_request', 4, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_ch_holder_request', 5, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_ch_holder_request', 6, 'P_DATE_CREATE', 'DATE', 'IN', NULL),
  ('p_set_ch_holder_request', 7, 'P_SEND_STATE', 'NUMBER', 'IN', '0');

-- PROCEDURE P_SET_CLIENT_STATE(P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER, P_NEW_STATE IN NUMBER)
-- The client's data go out again with the next package.
INSERT INTO p VALUES ('P_SET_CLIENT_STATE', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO client_state_request(client_id, client_type, old_state, new_state, received)
    SELECT client_id, client_type, state, :P_NEW_STATE, sysdate FROM client
    WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE;
  UPDATE client SET state = :P_NEW_STATE, package_id = NULL
    WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE');
INSERT INTO a VALUES
  ('P_SET_CLIENT_STATE', 1, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('P_SET_CLIENT_STATE', 2, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('P_SET_CLIENT_STATE', 3, 'P_NEW_STATE', 'NUMBER', 'IN', NULL);

-- PROCEDURE p_set_onl_limit_card_request(P_REQUEST_ID IN NUMBER, P_CLIENT_ID IN NUMBER,
--   P_CLIENT_TYPE IN NUMBER, P_CARD_NUMBER IN VARCHAR2, P_SERVICE_ID IN NUMBER, P_DAILY_LIMIT IN NUMBER,
--   P_WEEKLY_LIMIT IN NUMBER, P_MONTHLY_LIMIT IN NUMBER, P_LIMIT_TYPE IN NUMBER, P_DATE_OF IN DATE,
--   P_IS_IND_LIMIT IN NUMBER)
-- A limit type outside 0, 1, 2 breaks a check constraint (ORA-02290), a missing one ORA-01400.
INSERT INTO p VALUES ('p_set_onl_limit_card_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  SELECT raise_application_error(-20002, printf(''card %s is not a card of client %d/%d'',
                                                ifnull(:P_CARD_NUMBER, ''(null)''), :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM card WHERE crd_graphnum = :P_CARD_NUMBER
                        AND client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO onl_limit_card_request(request_id, client_id, client_type, card_number, service_id, daily_limit,
                                     weekly_limit, monthly_limit, limit_type, date_of, is_ind_limit, received)
    VALUES (:P_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, :P_SERVICE_ID, :P_DAILY_LIMIT,
            :P_WEEKLY_LIMIT, :P_MONTHLY_LIMIT, :P_LIMIT_TYPE, :P_DATE_OF, ifnull(:P_IS_IND_LIMIT, 0), sysdate)');
INSERT INTO a VALUES
  ('p_set_onl_limit_card_request', 1, 'P_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 2, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 3, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 4, 'P_CARD_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('p_set_onl_limit_card_request', 5, 'P_SERVICE_ID', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 6, 'P_DAILY_LIMIT', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 7, 'P_WEEKLY_LIMIT', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 8, 'P_MONTHLY_LIMIT', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 9, 'P_LIMIT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_onl_limit_card_request', 10, 'P_DATE_OF', 'DATE', 'IN', NULL),
  ('p_set_onl_limit_card_request', 11, 'P_IS_IND_LIMIT', 'NUMBER', 'IN', NULL);

-- ==== import: coupons =======================================================================================

-- PROCEDURE p_set_coupon_request(P_REQUEST_ID IN NUMBER, P_TYPE_REQUEST IN NUMBER,
--   P_GROUP_COUPONS_ID IN VARCHAR2, P_VC_GUID IN VARCHAR2, P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER,
--   P_DATE_CREATE IN DATE)
INSERT INTO p VALUES ('p_set_coupon_request', 'PROCEDURE', '
  SELECT raise_application_error(-20001, printf(''unknown client %d/%d'', :P_CLIENT_ID, :P_CLIENT_TYPE))
    WHERE NOT EXISTS (SELECT 1 FROM client WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE);
  INSERT INTO coupon_request(request_id, type_request, vc_group_id, vc_guid, client_id, client_type, date_create,
                             received)
    VALUES (:P_REQUEST_ID, :P_TYPE_REQUEST, :P_GROUP_COUPONS_ID, :P_VC_GUID, :P_CLIENT_ID, :P_CLIENT_TYPE,
            :P_DATE_CREATE, sysdate)');
INSERT INTO a VALUES
  ('p_set_coupon_request', 1, 'P_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('p_set_coupon_request', 2, 'P_TYPE_REQUEST', 'NUMBER', 'IN', NULL),
  ('p_set_coupon_request', 3, 'P_GROUP_COUPONS_ID', 'VARCHAR2', 'IN', NULL),
  ('p_set_coupon_request', 4, 'P_VC_GUID', 'VARCHAR2', 'IN', NULL),
  ('p_set_coupon_request', 5, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('p_set_coupon_request', 6, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('p_set_coupon_request', 7, 'P_DATE_CREATE', 'DATE', 'IN', NULL);

-- PROCEDURE check_sec_code(P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER, P_NUM_SECURITY_CODE IN NUMBER,
--   P_SECURITY_CODE IN VARCHAR2, P_ERROR_CODE OUT NUMBER)
-- 0 when the code numbered P_NUM_SECURITY_CODE of the client's code table is P_SECURITY_CODE; a
-- negative code otherwise (README.md).
INSERT INTO p VALUES ('check_sec_code', 'PROCEDURE', '
  SELECT CASE
           WHEN s.customers_id IS NULL THEN -1
           WHEN s.code_exp_date IS NOT NULL AND s.code_exp_date < sysdate THEN -3
           WHEN k.code IS NULL THEN -2
           WHEN :P_SECURITY_CODE IS NULL OR k.code <> :P_SECURITY_CODE THEN -4
           ELSE 0
         END AS P_ERROR_CODE
  FROM (SELECT 1) AS one
    LEFT JOIN client c ON c.client_id = :P_CLIENT_ID AND c.client_type = :P_CLIENT_TYPE
    LEFT JOIN coupon_setting s ON s.customers_id = c.onl_client_id
    LEFT JOIN sec_code k ON k.code_table_num = s.code_table_num AND k.code_num = :P_NUM_SECURITY_CODE');
INSERT INTO a VALUES
  ('check_sec_code', 1, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('check_sec_code', 2, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('check_sec_code', 3, 'P_NUM_SECURITY_CODE', 'NUMBER', 'IN', NULL),
  ('check_sec_code', 4, 'P_SECURITY_CODE', 'VARCHAR2', 'IN', NULL),
  ('check_sec_code', 5, 'P_ERROR_CODE', 'NUMBER', 'OUT', NULL);

-- PROCEDURE generate_coupons(P_GROUP_COUPONS_ID IN VARCHAR2, P_CLIENT_ID IN NUMBER, P_CLIENT_TYPE IN NUMBER,
--   P_SERVICE_ID IN NUMBER, P_TYPE_VC_LIMIT IN NUMBER, P_PRICE IN NUMBER, P_NOMINAL IN NUMBER,
--   P_DECLARED_AMOUNT IN NUMBER, P_DATE_EXPIRATION IN DATE, P_NAME_HOLDER IN VARCHAR2,
--   P_PHONE_NUMBER IN VARCHAR2, P_EMAIL IN VARCHAR2, P_ERROR_CODE OUT NUMBER)
-- Creates P_DECLARED_AMOUNT coupons of the group, bound to the client's coupon card. A positive error
-- code means nothing was generated (README.md); the caller rolls back to its savepoint then.
INSERT INTO p VALUES ('generate_coupons', 'PROCEDURE', '
  SELECT CASE
           WHEN s.customers_id IS NULL OR s.receive_vc <> 1 THEN 1
           WHEN :P_DECLARED_AMOUNT IS NULL OR :P_DECLARED_AMOUNT < 1 OR :P_DECLARED_AMOUNT > 1000
                OR :P_DECLARED_AMOUNT <> CAST(:P_DECLARED_AMOUNT AS INTEGER) THEN 2
           WHEN :P_PRICE IS NULL OR :P_PRICE <= 0 OR :P_NOMINAL IS NULL OR :P_NOMINAL <= 0 THEN 3
           WHEN :P_GROUP_COUPONS_ID IS NULL
                OR EXISTS (SELECT 1 FROM coupon_group WHERE vc_group_id = :P_GROUP_COUPONS_ID) THEN 4
           WHEN NOT EXISTS (SELECT 1 FROM service WHERE srv_id = :P_SERVICE_ID) THEN 5
           ELSE 0
         END AS P_ERROR_CODE
  FROM (SELECT 1) AS one
    LEFT JOIN client c ON c.client_id = :P_CLIENT_ID AND c.client_type = :P_CLIENT_TYPE
    LEFT JOIN coupon_setting s ON s.customers_id = c.onl_client_id;
  INSERT INTO coupon_group(vc_group_id, client_id, client_type, service_id, type_vc_limit, price, nominal,
                           declared_amount, date_expiration, name_holder, phone_number, email, created)
    SELECT :P_GROUP_COUPONS_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_SERVICE_ID, :P_TYPE_VC_LIMIT, :P_PRICE, :P_NOMINAL,
           :P_DECLARED_AMOUNT, :P_DATE_EXPIRATION, :P_NAME_HOLDER, :P_PHONE_NUMBER, :P_EMAIL, sysdate
    WHERE :P_ERROR_CODE = 0;
  UPDATE zuv_seq SET value = value + :P_DECLARED_AMOUNT WHERE name = ''coupon_number'' AND :P_ERROR_CODE = 0;
  INSERT INTO coupon(vc_id, vc_group_id, vc_state_id, vc_number_view, date_create, price, card_num_vc)
    WITH RECURSIVE n(i) AS (SELECT 1 WHERE :P_ERROR_CODE = 0
                            UNION ALL SELECT i + 1 FROM n WHERE i < :P_DECLARED_AMOUNT)
    SELECT ''{'' || upper(hex(randomblob(4))) || ''-'' || upper(hex(randomblob(2))) || ''-'' ||
           upper(hex(randomblob(2))) || ''-'' || upper(hex(randomblob(2))) || ''-'' ||
           upper(hex(randomblob(6))) || ''}'',
           :P_GROUP_COUPONS_ID, 1,
           printf(''VC%010d'', (SELECT value FROM zuv_seq WHERE name = ''coupon_number'') - :P_DECLARED_AMOUNT + i),
           sysdate, :P_PRICE,
           (SELECT crd_graphnum FROM card WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE
              AND is_vc_card = 1 ORDER BY crd_graphnum LIMIT 1)
    FROM n;
  UPDATE coupon_setting SET vc_last_date_create = sysdate, package_id = NULL
    WHERE :P_ERROR_CODE = 0 AND customers_id = (SELECT onl_client_id FROM client
                                                WHERE client_id = :P_CLIENT_ID AND client_type = :P_CLIENT_TYPE)');
INSERT INTO a VALUES
  ('generate_coupons', 1, 'P_GROUP_COUPONS_ID', 'VARCHAR2', 'IN', NULL),
  ('generate_coupons', 2, 'P_CLIENT_ID', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 3, 'P_CLIENT_TYPE', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 4, 'P_SERVICE_ID', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 5, 'P_TYPE_VC_LIMIT', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 6, 'P_PRICE', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 7, 'P_NOMINAL', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 8, 'P_DECLARED_AMOUNT', 'NUMBER', 'IN', NULL),
  ('generate_coupons', 9, 'P_DATE_EXPIRATION', 'DATE', 'IN', NULL),
  ('generate_coupons', 10, 'P_NAME_HOLDER', 'VARCHAR2', 'IN', NULL),
  ('generate_coupons', 11, 'P_PHONE_NUMBER', 'VARCHAR2', 'IN', NULL),
  ('generate_coupons', 12, 'P_EMAIL', 'VARCHAR2', 'IN', NULL),
  ('generate_coupons', 13, 'P_ERROR_CODE', 'NUMBER', 'OUT', NULL);

-- PROCEDURE repeat_block_coupons(P_GROUP_COUPONS_ID IN VARCHAR2)
-- Applies the blocks that were asked for before the group existed.
INSERT INTO p VALUES ('repeat_block_coupons', 'PROCEDURE', '
  UPDATE coupon SET vc_state_id = 2, package_id = NULL
    WHERE vc_group_id = :P_GROUP_COUPONS_ID AND vc_state_id IN (1, 3)
      AND EXISTS (SELECT 1 FROM coupon_block_pending b
                  WHERE b.vc_group_id = :P_GROUP_COUPONS_ID AND (b.vc_id IS NULL OR b.vc_id = coupon.vc_id));
  DELETE FROM coupon_block_pending
    WHERE vc_group_id = :P_GROUP_COUPONS_ID
      AND EXISTS (SELECT 1 FROM coupon_group WHERE vc_group_id = :P_GROUP_COUPONS_ID)');
INSERT INTO a VALUES
  ('repeat_block_coupons', 1, 'P_GROUP_COUPONS_ID', 'VARCHAR2', 'IN', NULL);

-- PROCEDURE block_coupons(P_GROUP_COUPONS_ID IN VARCHAR2, P_VC_GUID IN VARCHAR2, P_ERROR_CODE OUT NUMBER)
-- Blocks one coupon of the group, or the whole group when P_VC_GUID is NULL. A group not generated
-- yet keeps the block for repeat_block_coupons and answers 1.
INSERT INTO p VALUES ('block_coupons', 'PROCEDURE', '
  SELECT CASE
           WHEN :P_GROUP_COUPONS_ID IS NULL THEN 2
           WHEN NOT EXISTS (SELECT 1 FROM coupon_group WHERE vc_group_id = :P_GROUP_COUPONS_ID) THEN 1
           WHEN :P_VC_GUID IS NOT NULL AND NOT EXISTS (SELECT 1 FROM coupon WHERE vc_id = :P_VC_GUID
                                                         AND vc_group_id = :P_GROUP_COUPONS_ID) THEN 2
           WHEN :P_VC_GUID IS NOT NULL AND EXISTS (SELECT 1 FROM coupon WHERE vc_id = :P_VC_GUID AND vc_state_id = 4)
             THEN 3
           ELSE 0
         END AS P_ERROR_CODE;
  INSERT INTO coupon_block_pending(vc_group_id, vc_id, requested)
    SELECT :P_GROUP_COUPONS_ID, :P_VC_GUID, sysdate WHERE :P_ERROR_CODE = 1;
  UPDATE coupon SET vc_state_id = 2, package_id = NULL
    WHERE :P_ERROR_CODE = 0 AND vc_group_id = :P_GROUP_COUPONS_ID AND (:P_VC_GUID IS NULL OR vc_id = :P_VC_GUID)
      AND vc_state_id IN (1, 3)');
INSERT INTO a VALUES
  ('block_coupons', 1, 'P_GROUP_COUPONS_ID', 'VARCHAR2', 'IN', NULL),
  ('block_coupons', 2, 'P_VC_GUID', 'VARCHAR2', 'IN', NULL),
  ('block_coupons', 3, 'P_ERROR_CODE', 'NUMBER', 'OUT', NULL);

-- PROCEDURE print_coupons(P_GROUP_COUPONS_ID IN VARCHAR2, P_VC_GUID IN VARCHAR2, P_ERROR_CODE OUT NUMBER)
-- Marks one coupon of the group, or every active coupon of it, as printed.
INSERT INTO p VALUES ('print_coupons', 'PROCEDURE', '
  SELECT CASE
           WHEN :P_GROUP_COUPONS_ID IS NULL THEN 2
           WHEN NOT EXISTS (SELECT 1 FROM coupon_group WHERE vc_group_id = :P_GROUP_COUPONS_ID) THEN 1
           WHEN :P_VC_GUID IS NOT NULL AND NOT EXISTS (SELECT 1 FROM coupon WHERE vc_id = :P_VC_GUID
                                                         AND vc_group_id = :P_GROUP_COUPONS_ID) THEN 2
           WHEN :P_VC_GUID IS NOT NULL AND EXISTS (SELECT 1 FROM coupon WHERE vc_id = :P_VC_GUID
                                                     AND vc_state_id IN (2, 4)) THEN 3
           ELSE 0
         END AS P_ERROR_CODE;
  UPDATE coupon SET vc_state_id = 3, package_id = NULL
    WHERE :P_ERROR_CODE = 0 AND vc_group_id = :P_GROUP_COUPONS_ID AND (:P_VC_GUID IS NULL OR vc_id = :P_VC_GUID)
      AND vc_state_id = 1');
INSERT INTO a VALUES
  ('print_coupons', 1, 'P_GROUP_COUPONS_ID', 'VARCHAR2', 'IN', NULL),
  ('print_coupons', 2, 'P_VC_GUID', 'VARCHAR2', 'IN', NULL),
  ('print_coupons', 3, 'P_ERROR_CODE', 'NUMBER', 'OUT', NULL);

-- PROCEDURE set_vc_request_status(P_REQUEST_ID IN NUMBER, P_ERROR_CODE IN NUMBER)
-- Answers a coupon request: executed for error code 0 (or NULL), refused with the code as the cause
-- otherwise; the answer goes out with the next package.
INSERT INTO p VALUES ('set_vc_request_status', 'PROCEDURE', '
  SELECT raise_application_error(-20004, printf(''unknown coupon request %s'', ifnull(:P_REQUEST_ID, ''(null)'')))
    WHERE NOT EXISTS (SELECT 1 FROM coupon_request WHERE request_id = :P_REQUEST_ID);
  UPDATE coupon_request
    SET request_state_id = CASE WHEN ifnull(:P_ERROR_CODE, 0) = 0 THEN 2 ELSE 3 END,
        cancel_cause_id = CASE WHEN ifnull(:P_ERROR_CODE, 0) = 0 THEN NULL ELSE :P_ERROR_CODE END,
        date_of_answer = sysdate, package_id = NULL
    WHERE request_id = :P_REQUEST_ID');
INSERT INTO a VALUES
  ('set_vc_request_status', 1, 'P_REQUEST_ID', 'NUMBER', 'IN', NULL),
  ('set_vc_request_status', 2, 'P_ERROR_CODE', 'NUMBER', 'IN', NULL);

-- ==== into the catalog ======================================================================================

INSERT INTO oci_procedure(package, name, overload, kind, body)
  SELECT 'ZUV_EXPORT_OUT_PACK', name, 0, kind, trim(body, char(10) || ' ') FROM p;
INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, default_value)
  SELECT 'ZUV_EXPORT_OUT_PACK', name, 0, position, argument, data_type, direction, default_value FROM a;
DROP TABLE temp.p;
DROP TABLE temp.a;
