-- The Qel exchange database on the stand-in server: tables and views behind the exchange package
-- ZUV_EXPORT_OUT_PACK (package.sql). Run after platform/oci/catalog.sql; scripts/make-qel-db does both.
--
-- Rows that the export sends by package id carry a package_id column: NULL while they wait for the
-- next package, then the id of the package that carried them (add_entries_to_package stamps them, and
-- a repeated package reads the same rows again). operation_id tells the web side what changed:
-- 1 added, 2 changed, 3 removed.
--
-- Request states (request_state_id) of the web side's requests: 1 received, 2 executed, 3 refused;
-- cancel_cause_id says why a request was refused. Only answered requests (2 or 3) go out.

-- ---- exchange settings and version ---------------------------------------------------------------

-- Exchange settings, read one by one through get_zuv_param; names are matched without regard to case.
CREATE TABLE zuv_param(
  name VARCHAR2(64) NOT NULL PRIMARY KEY COLLATE NOCASE,
  value VARCHAR2(4000),
  description VARCHAR2(200));

-- Installed versions of the exchange package; the latest row is the database version.
CREATE TABLE db_version(
  version VARCHAR2(20) NOT NULL,
  description VARCHAR2(200),
  installed DATE NOT NULL);

-- This installation's own issuer and branch (one row).
CREATE TABLE self_emitent(
  id_emitent NUMBER(9,0) NOT NULL,
  id_filial NUMBER(9,0) NOT NULL);

-- ---- reference data ---------------------------------------------------------------------------------

CREATE TABLE emitent(
  emt_id NUMBER(9,0) NOT NULL,
  fll_id NUMBER(9,0) NOT NULL,
  emt_name VARCHAR2(100) NOT NULL,
  emt_active NUMBER(1,0) DEFAULT 1 NOT NULL,
  emt_firm_id NUMBER(9,0),
  PRIMARY KEY (emt_id, fll_id));

CREATE TABLE service(
  srv_id NUMBER(9,0) NOT NULL PRIMARY KEY,
  srv_name VARCHAR2(60) NOT NULL,
  srv_mes VARCHAR2(20),
  srv_active NUMBER(1,0) DEFAULT 1 NOT NULL,
  srv_is_currency NUMBER(1,0) DEFAULT 0 NOT NULL);

CREATE TABLE pos(
  pos_emitent NUMBER(9,0) NOT NULL,
  pos_filial NUMBER(9,0) NOT NULL,
  pos_number NUMBER(9,0) NOT NULL,
  pos_name VARCHAR2(100),
  pos_address VARCHAR2(200),
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (pos_emitent, pos_filial, pos_number));
CREATE INDEX pos_package ON pos(package_id);

-- Prices of a point of sale per terminal price number and service.
CREATE TABLE pos_price(
  pos_id NUMBER(9,0) NOT NULL,
  price_num NUMBER(9,0) NOT NULL,
  service_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  term_price NUMBER(14,4) NOT NULL,
  price_start_date DATE NOT NULL,
  status NUMBER(2,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (pos_id, price_num, service_id, price_start_date));
CREATE INDEX pos_price_package ON pos_price(package_id);

CREATE TABLE ad_params(
  active_discount NUMBER(1,0) NOT NULL,
  ad_calc_month_count NUMBER(3,0) NOT NULL);

CREATE TABLE rfid_params(
  has_rfid NUMBER(1,0) NOT NULL);

CREATE TABLE emitent_config(
  code VARCHAR2(40) NOT NULL PRIMARY KEY,
  value VARCHAR2(200));

-- ---- clients, cards, purses ---------------------------------------------------------------------------

-- A client is known by its id and type (1 firm, 2 private person); source 1 is the Qel back office,
-- 2 the Dolm system. is_new marks clients the web side has not been told about yet; new_package_id is
-- the package that announced them (they stop being new once that package is sent).
CREATE TABLE client(
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL CHECK (client_type IN (1, 2)),
  source NUMBER(1,0) NOT NULL CHECK (source IN (1, 2)),
  client_name VARCHAR2(100) NOT NULL,
  name_for_report VARCHAR2(100),
  e_mail VARCHAR2(60),
  phone VARCHAR2(30),
  state NUMBER(2,0) DEFAULT 1 NOT NULL,
  in_black_list NUMBER(1,0) DEFAULT 0 NOT NULL,
  max_gr_card_num VARCHAR2(12),
  sign_dayli_limit NUMBER(1,0) DEFAULT 0 NOT NULL,
  sign_dayli_inform NUMBER(1,0) DEFAULT 0 NOT NULL,
  sign_weekly_limit NUMBER(1,0) DEFAULT 0 NOT NULL,
  sign_weekly_inform NUMBER(1,0) DEFAULT 0 NOT NULL,
  sign_monthly_limit NUMBER(1,0) DEFAULT 0 NOT NULL,
  sign_monthly_inform NUMBER(1,0) DEFAULT 0 NOT NULL,
  onl_client_id VARCHAR2(38),
  inn VARCHAR2(12),
  kpp VARCHAR2(9),
  address VARCHAR2(200),
  fact_address VARCHAR2(200),
  account VARCHAR2(20),
  bank_name VARCHAR2(100),
  corr_account VARCHAR2(20),
  bik VARCHAR2(9),
  fax VARCHAR2(30),
  consignee_id NUMBER(9,0),
  buyer_firm_id NUMBER(9,0),
  contract_date DATE,
  contract_num VARCHAR2(30),
  director_fio VARCHAR2(100),
  director_post VARCHAR2(100),
  controller_fio VARCHAR2(100),
  warrant_number VARCHAR2(30),
  warrant_date DATE,
  manager_email VARCHAR2(60),
  client_tarif NUMBER(9,0),
  birth DATE,
  sex VARCHAR2(1),
  is_new NUMBER(1,0) DEFAULT 0 NOT NULL,
  new_package_id VARCHAR2(38),
  package_id VARCHAR2(38),
  PRIMARY KEY (client_id, client_type));
CREATE INDEX client_package ON client(package_id);
CREATE UNIQUE INDEX client_online ON client(onl_client_id);

CREATE TABLE account(
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  acc_srv_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  acc_balance NUMBER(14,2) DEFAULT 0 NOT NULL,
  dl_inform_barrier NUMBER(14,2),
  dl_alarm_barrier NUMBER(14,2),
  ml_inform_barrier NUMBER(14,2),
  ml_alarm_barrier NUMBER(14,2),
  acc_time_credit NUMBER(14,2),
  acc_overdraft NUMBER(14,2),
  acc_limit_overdraft NUMBER(14,2),
  acc_vc_sum NUMBER(14,2),
  PRIMARY KEY (client_id, client_type, acc_srv_id),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));

-- Cards of both systems; the Dolm columns are empty for Qel cards and the other way round.
-- crd_state: 1 active, 2 blocked, 3 lost.
CREATE TABLE card(
  crd_graphnum VARCHAR2(12) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  crd_state NUMBER(2,0) DEFAULT 1 NOT NULL,
  crd_holder VARCHAR2(40),
  prs_bns_exist NUMBER(1,0),
  prs_bonus_size NUMBER(14,2),
  prs_bonus_quota NUMBER(14,2),
  max_consumption NUMBER(14,3),
  petroltank NUMBER(9,3),
  is_vc_card NUMBER(1,0) DEFAULT 0 NOT NULL,
  dolm_type NUMBER(2,0),
  current_bonus NUMBER(14,2),
  max_bonus NUMBER(14,2),
  old_bonus NUMBER(14,2),
  discont_percent NUMBER(5,2),
  expiry_date DATE,
  ad_bonus NUMBER(14,2),
  ad_begin_of_period DATE,
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX card_client ON card(client_id, client_type);

CREATE TABLE purse(
  gr_nomer VARCHAR2(12) NOT NULL REFERENCES card(crd_graphnum),
  prs_srv_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  prs_balance NUMBER(14,2) DEFAULT 0 NOT NULL,
  prs_balance_quota NUMBER(14,2),
  prs_quota NUMBER(14,2),
  prs_quota_type NUMBER(2,0),
  prs_quota_kind NUMBER(2,0),
  prs_schema_num NUMBER(4,0),
  PRIMARY KEY (gr_nomer, prs_srv_id));

-- Contactless tags, bound to a card (card_petrol_num) or to a firm as a whole (card_petrol_num NULL).
CREATE TABLE mifare(
  mifare_num VARCHAR2(20) NOT NULL PRIMARY KEY,
  mifare_serial_num VARCHAR2(20),
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_petrol_num VARCHAR2(12) REFERENCES card(crd_graphnum),
  days VARCHAR2(7),
  time_from NUMBER(4,0),
  time_to NUMBER(4,0),
  petroltank NUMBER(5,0),
  vehicle_name VARCHAR2(60),
  vehicle_number VARCHAR2(20),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));

-- ---- online clients and cards --------------------------------------------------------------------------

-- kind_limit 0: limit in money, 1: in volume; limit_type 0, 1, 2: the period scheme of the limit.
CREATE TABLE onl_limit(
  customers_id VARCHAR2(38) NOT NULL,
  kind_limit NUMBER(1,0) NOT NULL,
  limit_type NUMBER(1,0) NOT NULL,
  services_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  daily_limit NUMBER(14,2),
  weekly_limit NUMBER(14,2),
  monthly_limit NUMBER(14,2),
  active NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (customers_id, services_id));
CREATE INDEX onl_limit_package ON onl_limit(package_id);

CREATE TABLE onl_card(
  cardnum VARCHAR2(12) NOT NULL PRIMARY KEY REFERENCES card(crd_graphnum),
  onl_client VARCHAR2(38) NOT NULL,
  schedule VARCHAR2(7),
  time_from NUMBER(4,0),
  time_to NUMBER(4,0),
  online_cardtype NUMBER(2,0),
  platenum VARCHAR2(20),
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38));
CREATE INDEX onl_card_package ON onl_card(package_id);

CREATE TABLE onl_card_limit(
  card_num VARCHAR2(12) NOT NULL REFERENCES card(crd_graphnum),
  kind_limit NUMBER(1,0) NOT NULL,
  limit_type NUMBER(1,0) NOT NULL,
  services_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  daily_limit NUMBER(14,2),
  weekly_limit NUMBER(14,2),
  monthly_limit NUMBER(14,2),
  active NUMBER(1,0) DEFAULT 1 NOT NULL,
  ind_limit NUMBER(1,0) DEFAULT 0 NOT NULL,
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (card_num, services_id));
CREATE INDEX onl_card_limit_package ON onl_card_limit(package_id);

-- ---- tariffs --------------------------------------------------------------------------------------------

CREATE TABLE client_tarif(
  data_id NUMBER(9,0) NOT NULL PRIMARY KEY,
  id_bazovoi_gr_tarifov NUMBER(9,0),
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38));
CREATE INDEX client_tarif_package ON client_tarif(package_id);

CREATE TABLE client_tarif_price(
  tarif_id NUMBER(9,0) NOT NULL REFERENCES client_tarif(data_id),
  service_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  start_date DATE NOT NULL,
  tzena NUMBER(14,2) NOT NULL,
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (tarif_id, service_id, start_date));
CREATE INDEX client_tarif_price_package ON client_tarif_price(package_id);

-- discount_type_id 1: percent, 2: money per unit.
CREATE TABLE client_tarif_discount(
  tarif_id NUMBER(9,0) NOT NULL REFERENCES client_tarif(data_id),
  service_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  scidka NUMBER(14,2) NOT NULL,
  discount_type_id NUMBER(2,0) NOT NULL,
  operation_id NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (tarif_id, service_id));
CREATE INDEX client_tarif_discount_package ON client_tarif_discount(package_id);

-- ---- coupons ------------------------------------------------------------------------------------------

CREATE TABLE coupon_limit(
  customers_id VARCHAR2(38) NOT NULL,
  kind_limit NUMBER(1,0) NOT NULL,
  limit_type NUMBER(1,0) NOT NULL,
  services_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  daily_limit NUMBER(14,2),
  weekly_limit NUMBER(14,2),
  monthly_limit NUMBER(14,2),
  active NUMBER(1,0) DEFAULT 1 NOT NULL,
  package_id VARCHAR2(38),
  PRIMARY KEY (customers_id, services_id));
CREATE INDEX coupon_limit_package ON coupon_limit(package_id);

-- Coupon settings of an online client; receive_vc: may create coupons. The client's security codes
-- are the table code_table_num of sec_code, valid until code_exp_date.
CREATE TABLE coupon_setting(
  customers_id VARCHAR2(38) NOT NULL PRIMARY KEY,
  receive_vc NUMBER(1,0) DEFAULT 0 NOT NULL,
  vc_fp NUMBER(1,0) DEFAULT 0 NOT NULL,
  vc_posp NUMBER(1,0) DEFAULT 0 NOT NULL,
  vc_last_date_create DATE,
  pin_exp_date DATE,
  pin_state NUMBER(2,0),
  code_table_num NUMBER(9,0),
  code_count NUMBER(4,0),
  code_exp_date DATE,
  package_id VARCHAR2(38));
CREATE INDEX coupon_setting_package ON coupon_setting(package_id);

CREATE TABLE sec_code(
  code_table_num NUMBER(9,0) NOT NULL,
  code_num NUMBER(4,0) NOT NULL,
  code VARCHAR2(20) NOT NULL,
  PRIMARY KEY (code_table_num, code_num));

CREATE TABLE coupon_group(
  vc_group_id VARCHAR2(38) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  service_id NUMBER(9,0) NOT NULL REFERENCES service(srv_id),
  type_vc_limit NUMBER(2,0),
  price NUMBER(14,2) NOT NULL,
  nominal NUMBER(14,3) NOT NULL,
  declared_amount NUMBER(9,0) NOT NULL,
  date_expiration DATE,
  name_holder VARCHAR2(100),
  phone_number VARCHAR2(30),
  email VARCHAR2(60),
  created DATE NOT NULL,
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));

-- vc_state_id: 1 active, 2 blocked, 3 printed, 4 used.
CREATE TABLE coupon(
  vc_id VARCHAR2(38) NOT NULL PRIMARY KEY,
  vc_group_id VARCHAR2(38) NOT NULL REFERENCES coupon_group(vc_group_id),
  vc_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  vc_number_view VARCHAR2(20) NOT NULL UNIQUE,
  date_create DATE NOT NULL,
  date_service DATE,
  price NUMBER(14,2) NOT NULL,
  card_num_vc VARCHAR2(12),
  package_id VARCHAR2(38));
CREATE INDEX coupon_group_members ON coupon(vc_group_id);
CREATE INDEX coupon_package ON coupon(package_id);

-- Blocks asked for before their coupons existed; repeat_block_coupons applies them after generation.
-- vc_id NULL blocks the whole group.
CREATE TABLE coupon_block_pending(
  vc_group_id VARCHAR2(38) NOT NULL,
  vc_id VARCHAR2(38),
  requested DATE NOT NULL);

-- ---- transactions ---------------------------------------------------------------------------------------

-- source 1: Qel, 2: Dolm. The Dolm figures (discount, bonus) are empty for Qel transactions.
CREATE TABLE trn(
  trn_id INTEGER PRIMARY KEY,
  trn_guid VARCHAR2(38) NOT NULL,
  source NUMBER(1,0) NOT NULL,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  trn_emt_pos NUMBER(9,0),
  trn_fil_pos NUMBER(9,0),
  trn_pos_num NUMBER(9,0),
  trn_term_num NUMBER(9,0),
  trn_card_num VARCHAR2(12),
  trn_dateof DATE NOT NULL,
  trn_srv_id NUMBER(9,0),
  trn_curr_id NUMBER(9,0),
  trn_amount NUMBER(14,3),
  trn_cost_on_pos NUMBER(14,2),
  trn_cost_client NUMBER(14,2),
  trn_price_on_pos NUMBER(14,2),
  trn_price_client NUMBER(14,2),
  trn_delta_price NUMBER(14,2),
  trn_delta_cost NUMBER(14,2),
  pos_delta_price NUMBER(14,2),
  pos_delta_cost NUMBER(14,2),
  trn_schema_num NUMBER(4,0),
  trn_type NUMBER(4,0),
  acc_comment VARCHAR2(100),
  odometr NUMBER(12,1),
  rfid_num NUMBER(20,0),
  discount_percent NUMBER(5,2),
  discount_type NUMBER(2,0),
  trn_bonus NUMBER(14,2),
  current_bonus NUMBER(14,2),
  package_id VARCHAR2(38));
CREATE INDEX trn_package ON trn(package_id);
CREATE INDEX trn_client ON trn(client_id, client_type);

-- Goods lines of shop transactions.
CREATE TABLE ibs_line(
  ibs_id INTEGER PRIMARY KEY,
  trn_id NUMBER(12,0) NOT NULL REFERENCES trn(trn_id),
  guid_139 VARCHAR2(38) NOT NULL,
  gdscode VARCHAR2(20),
  gdsname VARCHAR2(100),
  amount NUMBER(14,3),
  price NUMBER(14,2));
CREATE INDEX ibs_line_trn ON ibs_line(trn_id);

-- ---- packages -------------------------------------------------------------------------------------------

-- Packages this database sent to the web side. repeat_requested asks for the package to be sent again
-- (V_ZUV_PACKAGE_LIST_REPEATED); the send date clears it. confirmed_state and datetime_receipt come
-- with the web side's confirmation.
CREATE TABLE out_package(
  package_id VARCHAR2(38) NOT NULL PRIMARY KEY CHECK (length(package_id) = 38),
  datetime_create DATE NOT NULL,
  datetime_registered DATE NOT NULL,
  datetime_send DATE,
  send_count NUMBER(6,0) DEFAULT 0 NOT NULL,
  repeat_requested NUMBER(1,0) DEFAULT 0 NOT NULL,
  confirmed_state NUMBER(4,0),
  datetime_receipt DATE);
CREATE INDEX out_package_registered ON out_package(datetime_registered);

-- Packages received from the web side. state: 0 registered, 1 imported, 2 asked about by the web side
-- but never received. confirm_package_id: the package of ours that confirms it (kind 8).
CREATE TABLE in_package(
  package_id VARCHAR2(38) NOT NULL PRIMARY KEY,
  datetime_create DATE,
  datetime_receipt DATE NOT NULL,
  count_receipt NUMBER(6,0) DEFAULT 1 NOT NULL,
  state NUMBER(2,0) DEFAULT 0 NOT NULL,
  confirm_package_id VARCHAR2(38));
CREATE INDEX in_package_confirm ON in_package(confirm_package_id);

-- ---- the web side's requests ---------------------------------------------------------------------------

-- Recharges (dr) and debits (dd) of a card's purse; answered by the back office.
CREATE TABLE dr_request(
  dr_request_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL,
  service_id NUMBER(9,0) NOT NULL,
  amount NUMBER(14,2) NOT NULL,
  date_of DATE NOT NULL,
  received DATE NOT NULL,
  request_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  cancel_cause_id NUMBER(4,0),
  date_begin DATE,
  date_end DATE,
  dr_group_id NUMBER(12,0),
  dr_id_in_group NUMBER(6,0),
  price NUMBER(14,2),
  date_of_answer DATE,
  package_id VARCHAR2(38),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX dr_request_package ON dr_request(package_id);

CREATE TABLE dd_request(
  dd_request_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL,
  service_id NUMBER(9,0) NOT NULL,
  amount NUMBER(14,2) NOT NULL,
  date_of DATE NOT NULL,
  received DATE NOT NULL,
  request_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  cancel_cause_id NUMBER(4,0),
  date_begin DATE,
  date_end DATE,
  dd_group_id NUMBER(12,0),
  dd_id_in_group NUMBER(6,0),
  dd_price NUMBER(14,2),
  date_of_answer DATE,
  package_id VARCHAR2(38),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX dd_request_package ON dd_request(package_id);

-- Changes of a purse's limit (quota).
CREATE TABLE oil_request(
  oil_request_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL,
  service_id NUMBER(9,0) NOT NULL,
  amount NUMBER(14,2) NOT NULL,
  date_begin DATE,
  date_of DATE NOT NULL,
  current_limit NUMBER(14,2),
  current_type NUMBER(2,0),
  current_kind NUMBER(2,0),
  current_services VARCHAR2(200),
  received DATE NOT NULL,
  request_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  cancel_cause_id NUMBER(4,0),
  date_end DATE,
  date_of_answer DATE,
  guid VARCHAR2(38),
  package_id VARCHAR2(38),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX oil_request_package ON oil_request(package_id);

-- Lost cards; result is what p_set_lost_card_request answered (-1 refused, 0 accepted).
CREATE TABLE lost_card_request(
  lost_card_req_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  lost_comment VARCHAR2(40),
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL,
  date_create DATE NOT NULL,
  send_state NUMBER(2,0) DEFAULT 0 NOT NULL,
  result NUMBER(2,0) NOT NULL,
  received DATE NOT NULL);

CREATE TABLE ch_holder_request(
  ch_card_holder_req_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  card_holder_name VARCHAR2(40),
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL REFERENCES card(crd_graphnum),
  date_create DATE NOT NULL,
  send_state NUMBER(2,0) DEFAULT 0 NOT NULL,
  received DATE NOT NULL,
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));

CREATE TABLE client_state_request(
  request_no INTEGER PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  old_state NUMBER(2,0),
  new_state NUMBER(2,0) NOT NULL,
  received DATE NOT NULL,
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));

-- limit_type here is the database's code (0, 1, 2), as in onl_card_limit.
CREATE TABLE onl_limit_card_request(
  request_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  card_number VARCHAR2(12) NOT NULL,
  service_id NUMBER(9,0) NOT NULL,
  daily_limit NUMBER(14,2),
  weekly_limit NUMBER(14,2),
  monthly_limit NUMBER(14,2),
  limit_type NUMBER(1,0) NOT NULL CHECK (limit_type IN (0, 1, 2)),
  date_of DATE NOT NULL,
  is_ind_limit NUMBER(1,0) DEFAULT 0 NOT NULL,
  received DATE NOT NULL,
  request_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  cancel_cause_id NUMBER(4,0),
  date_of_answer DATE,
  package_id VARCHAR2(38),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX onl_limit_card_request_package ON onl_limit_card_request(package_id);

-- Coupon requests: type_request 1 create, 2 block, 3 print. set_vc_request_status answers them
-- (cancel_cause_id is the error code of the coupon procedures).
CREATE TABLE coupon_request(
  request_id NUMBER(12,0) NOT NULL PRIMARY KEY,
  type_request NUMBER(2,0) NOT NULL CHECK (type_request IN (1, 2, 3)),
  vc_group_id VARCHAR2(38),
  vc_guid VARCHAR2(38),
  client_id NUMBER(9,0) NOT NULL,
  client_type NUMBER(1,0) NOT NULL,
  date_create DATE NOT NULL,
  received DATE NOT NULL,
  request_state_id NUMBER(2,0) DEFAULT 1 NOT NULL,
  cancel_cause_id NUMBER(4,0),
  date_of_answer DATE,
  package_id VARCHAR2(38),
  FOREIGN KEY (client_id, client_type) REFERENCES client(client_id, client_type));
CREATE INDEX coupon_request_package ON coupon_request(package_id);

-- ---- views ----------------------------------------------------------------------------------------------

CREATE VIEW v_zuv_emitent_params AS
  SELECT s.id_emitent, s.id_filial, e.emt_name
  FROM self_emitent s LEFT JOIN emitent e ON e.emt_id = s.id_emitent AND e.fll_id = s.id_filial;

CREATE VIEW V_ZUV_QEL_VERSION_DB AS
  SELECT description, version FROM (
    SELECT description, version FROM db_version ORDER BY installed DESC, rowid DESC LIMIT 1);

CREATE VIEW V_ZUV_PACKAGE_LIST_REPEATED AS
  SELECT package_id, datetime_create FROM out_package WHERE repeat_requested = 1 ORDER BY datetime_create;

-- Packages registered but never marked sent: the export delivers them on its first run after a start.
-- A repeat asked for is left to V_ZUV_PACKAGE_LIST_REPEATED, so that no package goes out twice in a run.
CREATE VIEW V_ZUV_PACKAGE_LIST_UNSENT AS
  SELECT package_id, datetime_create FROM out_package
  WHERE datetime_send IS NULL AND repeat_requested = 0 ORDER BY datetime_create;

-- What the next package carries, from the settings SOURCE_DATA (0 all, 1 Qel, 2 Dolm) and
-- CLIENT_TYPE_EXPORT (0 all, 1 firms, 2 private persons).
CREATE VIEW v_exch_scope AS
  SELECT CASE WHEN src IN (0, 1) THEN 1 ELSE 0 END AS qel,
         CASE WHEN src IN (0, 2) THEN 1 ELSE 0 END AS dolm,
         ctype AS client_type
  FROM (SELECT ifnull((SELECT CAST(value AS INTEGER) FROM zuv_param WHERE name = 'SOURCE_DATA'), 0) AS src,
               ifnull((SELECT CAST(value AS INTEGER) FROM zuv_param WHERE name = 'CLIENT_TYPE_EXPORT'), 0)
                 AS ctype);
