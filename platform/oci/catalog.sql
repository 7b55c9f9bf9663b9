-- The stand-in server's own catalog. Run once on a new database:
--   sqlite3 $ORACLE_HOME/dbs/<name>.db < platform/oci/catalog.sql

-- Users who may log on; names are matched case-insensitively, passwords exactly.
CREATE TABLE IF NOT EXISTS oci_user(
  name TEXT PRIMARY KEY COLLATE NOCASE,
  password TEXT NOT NULL);

-- Stored procedures and functions. package is NULL (or '') for a stand-alone routine; overload is 0
-- unless a package has several routines of one name (then 1, 2, ...). body is a list of SQLite
-- statements separated by semicolons, with the arguments as :NAME markers.
CREATE TABLE IF NOT EXISTS oci_procedure(
  package TEXT COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  overload INTEGER NOT NULL DEFAULT 0,
  kind TEXT NOT NULL DEFAULT 'PROCEDURE' CHECK (upper(kind) IN ('PROCEDURE', 'FUNCTION')),
  body TEXT NOT NULL DEFAULT '');

-- Their arguments. position 0 is a function's result (argument NULL). data_type is an Oracle type
-- name (VARCHAR2, NUMBER, DATE, CHAR, RAW, BINARY_INTEGER, BOOLEAN, TIMESTAMP, REF CURSOR, ...);
-- direction is IN, OUT or IN/OUT; default_value is an SQL expression, NULL when there is none.
CREATE TABLE IF NOT EXISTS oci_argument(
  package TEXT COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  overload INTEGER NOT NULL DEFAULT 0,
  position INTEGER NOT NULL,
  argument TEXT COLLATE NOCASE,
  data_type TEXT NOT NULL,
  direction TEXT NOT NULL DEFAULT 'IN',
  data_length INTEGER,
  data_precision INTEGER,
  data_scale INTEGER,
  default_value TEXT);

-- Synonyms of procedures, functions and packages. owner NULL (or PUBLIC) makes a public synonym;
-- target_owner NULL means the owner's own schema. A synonym may name another synonym.
CREATE TABLE IF NOT EXISTS oci_synonym(
  owner TEXT COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  target_owner TEXT COLLATE NOCASE,
  target_name TEXT NOT NULL COLLATE NOCASE);

-- Injected faults, for tests. kind LOST_CONNECTION: the next call of a session of user target (any
-- user when NULL) fails with ORA-03113 and every later call with ORA-03114. kind RAISE: calling the
-- procedure target ('PKG.PROC' or 'PROC') raises ORA-<code>: message. kind LOGON: logging on as
-- target fails with ORA-<code>. A fault lets after_calls matching calls pass first, then fires at
-- most times times (NULL: always); both are counted in each process, so a rollback cannot revive a
-- fault that fired. (A session holding uncommitted changes blocks writers, so insert faults first.)
CREATE TABLE IF NOT EXISTS oci_fault(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  target TEXT,
  code INTEGER,
  message TEXT,
  times INTEGER,
  after_calls INTEGER NOT NULL DEFAULT 0);

-- ALTER SESSION statements the server accepted, in order.
CREATE TABLE IF NOT EXISTS oci_session_log(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  username TEXT,
  text TEXT NOT NULL,
  logged DATE DEFAULT (datetime('now', 'localtime')));

-- Directory aliases of BFILE values: BFILENAME('DOCS', 'a.pdf') reads <path>/a.pdf. Aliases are
-- case-sensitive, as Oracle keeps them (created unquoted, they are upper case).
CREATE TABLE IF NOT EXISTS oci_directory(
  name TEXT PRIMARY KEY,
  path TEXT NOT NULL);

-- Compilation errors of stored units, as ALL_ERRORS shows them (the stand-in compiles nothing, so a
-- test writes the errors it wants read). owner NULL: the session's current schema; name as Oracle
-- keeps it (upper case unless created quoted); type PROCEDURE, FUNCTION, PACKAGE, PACKAGE BODY,
-- TRIGGER, TYPE or VIEW; text may hold several lines.
CREATE TABLE IF NOT EXISTS oci_error(
  owner TEXT,
  name TEXT NOT NULL,
  type TEXT NOT NULL,
  sequence INTEGER NOT NULL,
  line INTEGER NOT NULL DEFAULT 0,
  position INTEGER NOT NULL DEFAULT 0,
  text TEXT NOT NULL,
  attribute TEXT,
  message_number INTEGER);

-- Object and collection types (CREATE TYPE writes them; DROP TYPE removes them). kind is OBJECT,
-- VARRAY or TABLE; a collection names its element type in element (and a VARRAY its limit in
-- max_elements); an object lists its attributes in oci_type_attr, position from 1.
CREATE TABLE IF NOT EXISTS oci_type(
  owner TEXT COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  kind TEXT NOT NULL,
  final INTEGER NOT NULL DEFAULT 1,
  max_elements INTEGER,
  element TEXT);
CREATE TABLE IF NOT EXISTS oci_type_attr(
  owner TEXT COLLATE NOCASE,
  type_name TEXT NOT NULL COLLATE NOCASE,
  position INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  data_type TEXT NOT NULL);

-- Sequences (CREATE SEQUENCE writes them; DROP SEQUENCE removes them). name as Oracle keeps it;
-- min_value and max_value NULL for no limit; next_value is what the next NEXTVAL hands out.
CREATE TABLE IF NOT EXISTS oci_sequence(name TEXT PRIMARY KEY, min_value INTEGER, max_value INTEGER,
  increment_by INTEGER NOT NULL, cycle_flag INTEGER NOT NULL, cache_size INTEGER NOT NULL,
  next_value INTEGER NOT NULL);

-- Database links (owner NULL: a public link). Every link leads back to this same database, so
-- name@link reads the local object; a link not listed gives ORA-02019.
CREATE TABLE IF NOT EXISTS oci_db_link(owner TEXT, db_link TEXT NOT NULL, username TEXT);
