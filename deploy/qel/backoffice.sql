-- A stand-in for the back office: answers every request of the web side that is still waiting, so that
-- the next export package reports its state. Run it on a demo database whenever you like:
--   sqlite3 $ORACLE_HOME/dbs/QEL.db < deploy/qel/backoffice.sql
--
-- Recharges are executed when the card has a purse for the service (cause 1 otherwise); debits when the
-- purse holds the amount (cause 2 otherwise); limit changes set the purse's quota; online card limits
-- are set on the card. Executed requests change the purses and limits they name.

BEGIN;

UPDATE dr_request
  SET request_state_id = CASE WHEN EXISTS (SELECT 1 FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id)
                              THEN 2 ELSE 3 END,
      cancel_cause_id = CASE WHEN EXISTS (SELECT 1 FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id)
                             THEN NULL ELSE 1 END
  WHERE request_state_id = 1;
UPDATE purse
  SET prs_balance = prs_balance + (SELECT sum(r.amount) FROM dr_request r
                                   WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                                     AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id)
  WHERE EXISTS (SELECT 1 FROM dr_request r WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                  AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id);
UPDATE dr_request
  SET date_begin = received, date_end = datetime('now', 'localtime'), dr_group_id = dr_request_id,
      dr_id_in_group = 1, date_of_answer = datetime('now', 'localtime'), package_id = NULL
  WHERE date_of_answer IS NULL AND request_state_id IN (2, 3);

UPDATE dd_request
  SET request_state_id =
        CASE WHEN (SELECT prs_balance FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id) >= amount
             THEN 2 ELSE 3 END,
      cancel_cause_id =
        CASE WHEN (SELECT prs_balance FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id) >= amount
             THEN NULL ELSE 2 END
  WHERE request_state_id = 1;
UPDATE purse
  SET prs_balance = prs_balance - (SELECT sum(r.amount) FROM dd_request r
                                   WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                                     AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id)
  WHERE EXISTS (SELECT 1 FROM dd_request r WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                  AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id);
UPDATE dd_request
  SET date_begin = received, date_end = datetime('now', 'localtime'), dd_group_id = dd_request_id,
      dd_id_in_group = 1, date_of_answer = datetime('now', 'localtime'), package_id = NULL
  WHERE date_of_answer IS NULL AND request_state_id IN (2, 3);

UPDATE oil_request
  SET request_state_id = CASE WHEN EXISTS (SELECT 1 FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id)
                              THEN 2 ELSE 3 END,
      cancel_cause_id = CASE WHEN EXISTS (SELECT 1 FROM purse WHERE gr_nomer = card_number AND prs_srv_id = service_id)
                             THEN NULL ELSE 1 END
  WHERE request_state_id = 1;
UPDATE purse
  SET prs_quota = (SELECT r.amount FROM oil_request r
                   WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                     AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id
                   ORDER BY r.oil_request_id DESC LIMIT 1)
  WHERE EXISTS (SELECT 1 FROM oil_request r WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
                  AND r.card_number = purse.gr_nomer AND r.service_id = purse.prs_srv_id);
UPDATE oil_request
  SET date_begin = ifnull(date_begin, received), date_end = datetime('now', 'localtime'),
      date_of_answer = datetime('now', 'localtime'), package_id = NULL
  WHERE date_of_answer IS NULL AND request_state_id IN (2, 3);

UPDATE onl_limit_card_request
  SET request_state_id = CASE WHEN EXISTS (SELECT 1 FROM onl_card WHERE cardnum = card_number) THEN 2 ELSE 3 END,
      cancel_cause_id = CASE WHEN EXISTS (SELECT 1 FROM onl_card WHERE cardnum = card_number) THEN NULL ELSE 3 END
  WHERE request_state_id = 1;
INSERT OR REPLACE INTO onl_card_limit(card_num, kind_limit, limit_type, services_id, daily_limit, weekly_limit,
                                      monthly_limit, active, ind_limit, operation_id, package_id)
  SELECT r.card_number, 0, r.limit_type, r.service_id, r.daily_limit, r.weekly_limit, r.monthly_limit, 1,
         r.is_ind_limit, 2, NULL
  FROM onl_limit_card_request r
  WHERE r.date_of_answer IS NULL AND r.request_state_id = 2
  ORDER BY r.request_id;
UPDATE onl_limit_card_request
  SET date_of_answer = datetime('now', 'localtime'), package_id = NULL
  WHERE date_of_answer IS NULL AND request_state_id IN (2, 3);

COMMIT;
