-- A small example database for the stand-in, to be run after catalog.sql:
--   sqlite3 $ORACLE_HOME/dbs/DEMO.db < platform/oci/catalog.sql
--   sqlite3 $ORACLE_HOME/dbs/DEMO.db < platform/oci/demo.sql

INSERT INTO oci_user(name, password) VALUES ('demo', 'demo');

CREATE TABLE emitent(
  emt_id NUMBER(9,0) PRIMARY KEY,
  emt_name VARCHAR2(100) NOT NULL,
  emt_active NUMBER(1,0) DEFAULT 1,
  created DATE DEFAULT (datetime('now', 'localtime')));
INSERT INTO emitent(emt_id, emt_name) VALUES (7, 'Эмитент 7'), (8, 'Emitent 8');

-- PROCEDURE demo_pack.get_emitent_list(P_ACTIVE IN NUMBER DEFAULT 1, P_DATASET OUT SYS_REFCURSOR)
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('DEMO_PACK', 'get_emitent_list', 'PROCEDURE',
  'OPEN :P_DATASET FOR SELECT emt_id, emt_name, emt_active FROM emitent
     WHERE emt_active = :P_ACTIVE ORDER BY emt_id');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction, default_value) VALUES
  ('DEMO_PACK', 'get_emitent_list', 1, 'P_ACTIVE', 'NUMBER', 'IN', '1'),
  ('DEMO_PACK', 'get_emitent_list', 2, 'P_DATASET', 'REF CURSOR', 'OUT', NULL);

-- PROCEDURE demo_pack.rename_emitent(P_ID IN NUMBER, P_NAME IN VARCHAR2, P_OLD_NAME OUT VARCHAR2)
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('DEMO_PACK', 'rename_emitent', 'PROCEDURE',
  'SELECT emt_name AS P_OLD_NAME FROM emitent WHERE emt_id = :P_ID;
   SELECT raise_application_error(-20001, ''name must not be empty'') WHERE :P_NAME IS NULL;
   UPDATE emitent SET emt_name = :P_NAME WHERE emt_id = :P_ID');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction, data_length) VALUES
  ('DEMO_PACK', 'rename_emitent', 1, 'P_ID', 'NUMBER', 'IN', NULL),
  ('DEMO_PACK', 'rename_emitent', 2, 'P_NAME', 'VARCHAR2', 'IN', 100),
  ('DEMO_PACK', 'rename_emitent', 3, 'P_OLD_NAME', 'VARCHAR2', 'OUT', 100);

-- FUNCTION demo_pack.get_version RETURN VARCHAR2
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('DEMO_PACK', 'get_version', 'FUNCTION',
  'SELECT ''2.9.1.0'' AS RESULT');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES
  ('DEMO_PACK', 'get_version', 0, NULL, 'VARCHAR2', 'OUT');
