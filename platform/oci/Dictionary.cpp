// The data dictionary: Oracle's ALL_* and USER_* views, made per session as temporary views over
// SQLite's schema (tables, views, indexes, keys, triggers) and the stand-in's own catalog
// (users, procedures and their arguments, synonyms). The database has one namespace, so every
// object belongs to the session's current schema; synonyms keep their own owner (PUBLIC for public
// ones). Names are upper case, as Oracle keeps unquoted names. Oracle's LONG columns (view texts,
// defaults, conditions) are VARCHAR2(4000) here: SQLite would read a LONG declaration as a number.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/oci/StandIn.h"

namespace oci {

namespace {

// ---- column types as Oracle's dictionary shows them -----------------------------------------------------

struct DictType {
    std::string name;
    int length = 0;
    std::optional<int> precision, scale;
    int charLength = 0;
};

DictType dictType(const TypeInfo& t) {
    DictType d;
    d.length = t.size;
    const bool national = t.charsetForm == 2;
    switch (t.type) {
        case SQLT_NUM:
            d.length = 22;
            if (t.scale == -127 && t.precision > 0) {
                d.name = "FLOAT";
                d.precision = t.precision;
            } else {
                d.name = "NUMBER";
                if (t.precision > 0) d.precision = t.precision;
                if (t.scale != -127) d.scale = t.scale;
            }
            break;
        case SQLT_CHR:
            d.name = national ? "NVARCHAR2" : "VARCHAR2";
            break;
        case SQLT_AFC:
            d.name = national ? "NCHAR" : "CHAR";
            break;
        case SQLT_DAT:
            d.name = "DATE";
            d.length = 7;
            break;
        case SQLT_BIN:
            d.name = "RAW";
            break;
        case SQLT_LNG:
            d.name = "LONG";
            d.length = 0;
            break;
        case SQLT_LBI:
            d.name = "LONG RAW";
            d.length = 0;
            break;
        case SQLT_CLOB:
            d.name = national ? "NCLOB" : "CLOB";
            d.length = 4000;
            break;
        case SQLT_BLOB:
            d.name = "BLOB";
            d.length = 4000;
            break;
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ:
            d.name = "TIMESTAMP(" + std::to_string(t.fsprecision) + ")" +
                     (t.type == SQLT_TIMESTAMP_TZ    ? " WITH TIME ZONE"
                      : t.type == SQLT_TIMESTAMP_LTZ ? " WITH LOCAL TIME ZONE"
                                                     : "");
            d.scale = t.fsprecision;
            break;
        case SQLT_INTERVAL_YM:
            d.name = "INTERVAL YEAR(" + std::to_string(t.precision) + ") TO MONTH";
            d.precision = t.precision;
            d.scale = 0;
            break;
        case SQLT_INTERVAL_DS:
            d.name = "INTERVAL DAY(" + std::to_string(t.precision) + ") TO SECOND(" +
                     std::to_string(t.scale) + ")";
            d.precision = t.precision;
            d.scale = t.scale;
            break;
        case SQLT_IBFLOAT:
            d.name = "BINARY_FLOAT";
            break;
        case SQLT_IBDOUBLE:
            d.name = "BINARY_DOUBLE";
            break;
        default:
            d.name = "VARCHAR2";
            d.length = 4000;
            break;
    }
    if (t.type == SQLT_CHR || t.type == SQLT_AFC) {
        d.charLength = t.size;
        if (national) d.length = t.size * 2;  // AL16UTF16: two bytes a character
    }
    return d;
}

// oci_dict_column(relation, cid, part): the type of a table's or view's column as the server
// describes it (from the declared types, through views); part is TYPE, LENGTH, PRECISION, SCALE
// or CHAR_LENGTH. NULL when the column is unknown or the part is absent.
void fnDictColumn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    const unsigned char* rel = sqlite3_value_text(argv[0]);
    const unsigned char* part = sqlite3_value_text(argv[2]);
    const int cid = sqlite3_value_int(argv[1]);
    if (!rel || !part || cid < 0) return sqlite3_result_null(ctx);
    std::string name = reinterpret_cast<const char*>(rel);
    std::string quoted = "\"";
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    std::vector<Column> cols = describeSelectList(*s, "SELECT * FROM " + quoted + "\"");
    if (static_cast<size_t>(cid) >= cols.size()) return sqlite3_result_null(ctx);
    const DictType d = dictType(cols[cid].type);
    const std::string p = upper(reinterpret_cast<const char*>(part));
    std::optional<int> n;
    if (p == "TYPE") return sqlite3_result_text(ctx, d.name.c_str(), -1, SQLITE_TRANSIENT);
    if (p == "LENGTH") n = d.length;
    if (p == "PRECISION") n = d.precision;
    if (p == "SCALE") n = d.scale;
    if (p == "CHAR_LENGTH") n = d.charLength;
    if (n) return sqlite3_result_int(ctx, *n);
    sqlite3_result_null(ctx);
}

// ---- the views ---------------------------------------------------------------------------------------

// The schema everything belongs to.
#define CS "sys_context('USERENV', 'CURRENT_SCHEMA')"
// Relations of the user's schema: neither SQLite's own nor the stand-in's catalog.
#define USER_RELATION(alias) \
    alias ".name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND " alias ".name NOT LIKE 'oci\\_%' ESCAPE '\\'"

// Helper views first (raw values), then the dictionary views with Oracle's names and types.
const char* const kViews[] = {
    // Constraints in one place: P, U, R and NOT NULL checks, with their names and indexes.
    "CREATE TEMP VIEW oci_dict_cons AS "
    "SELECT upper(m.name) AS tab, 'PK_' || upper(m.name) AS name, 'P' AS type, NULL AS cond, NULL AS r_name, "
    "NULL AS del, (SELECT upper(il.name) FROM pragma_index_list(m.name) il WHERE il.origin = 'pk') AS idx "
    "FROM main.sqlite_schema m WHERE m.type = 'table' AND " USER_RELATION("m") " AND EXISTS (SELECT 1 FROM "
    "pragma_table_info(m.name) p WHERE p.pk > 0) "
    "UNION ALL SELECT upper(m.name), 'UK_' || upper(m.name) || '_' || substr(il.name, length('sqlite_autoindex_' "
    "|| m.name || '_') + 1), 'U', NULL, NULL, NULL, upper(il.name) FROM main.sqlite_schema m, "
    "pragma_index_list(m.name) il WHERE m.type = 'table' AND " USER_RELATION("m") " AND il.origin = 'u' "
    "UNION ALL SELECT upper(m.name), 'FK_' || upper(m.name) || '_' || (f.id + 1), 'R', NULL, "
    "CASE WHEN f.\"to\" IS NULL OR EXISTS (SELECT 1 FROM pragma_table_info(f.\"table\") pp WHERE pp.pk = 1 AND "
    "upper(pp.name) = upper(f.\"to\")) THEN 'PK_' || upper(f.\"table\") ELSE (SELECT 'UK_' || upper(f.\"table\") "
    "|| '_' || substr(ul.name, length('sqlite_autoindex_' || f.\"table\" || '_') + 1) FROM "
    "pragma_index_list(f.\"table\") ul, pragma_index_info(ul.name) ui WHERE ul.origin = 'u' AND ui.seqno = 0 "
    "AND upper(ui.name) = upper(f.\"to\")) END, "
    "CASE upper(f.on_delete) WHEN 'CASCADE' THEN 'CASCADE' WHEN 'SET NULL' THEN 'SET NULL' ELSE 'NO ACTION' END, "
    "NULL FROM main.sqlite_schema m, pragma_foreign_key_list(m.name) f WHERE m.type = 'table' AND "
    USER_RELATION("m") " AND f.seq = 0 "
    "UNION ALL SELECT upper(m.name), 'NN_' || upper(m.name) || '_' || (p.cid + 1), 'C', '\"' || upper(p.name) || "
    "'\" IS NOT NULL', NULL, NULL, NULL FROM main.sqlite_schema m, pragma_table_info(m.name) p WHERE m.type = "
    "'table' AND " USER_RELATION("m") " AND p.\"notnull\" = 1",

    "CREATE TEMP VIEW oci_dict_objects AS "
    "SELECT " CS " AS owner, upper(m.name) AS name, m.rowid AS id, upper(m.type) AS type FROM main.sqlite_schema m "
    "WHERE m.type IN ('table', 'view', 'index', 'trigger') AND (" USER_RELATION("m") " OR m.name LIKE "
    "'sqlite\\_autoindex\\_%' ESCAPE '\\') AND m.tbl_name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND m.tbl_name NOT "
    "LIKE 'oci\\_%' ESCAPE '\\' "
    "UNION ALL SELECT " CS ", upper(name), min(rowid), upper(min(kind)) FROM oci_procedure WHERE "
    "coalesce(package, '') = '' GROUP BY upper(name) "
    "UNION ALL SELECT " CS ", upper(package), min(rowid), 'PACKAGE' FROM oci_procedure WHERE coalesce(package, '') "
    "<> '' GROUP BY upper(package) "
    "UNION ALL SELECT coalesce(nullif(upper(owner), ''), 'PUBLIC'), upper(name), rowid, 'SYNONYM' FROM "
    "oci_synonym UNION ALL SELECT " CS ", name, id, 'SEQUENCE' FROM oci_dict_sequences",

    "CREATE TEMP VIEW oci_dict_arguments AS "
    "SELECT nullif(upper(a.package), '') AS package, upper(a.name) AS name, a.overload AS overload, "
    "upper(a.argument) AS argument, a.position AS position, a.position + CASE WHEN EXISTS (SELECT 1 FROM "
    "oci_argument r WHERE upper(coalesce(r.package, '')) = upper(coalesce(a.package, '')) AND upper(r.name) = "
    "upper(a.name) AND r.overload = a.overload AND r.position = 0) THEN 1 ELSE 0 END AS sequence, upper(a.data_type) "
    "AS data_type, a.default_value AS default_value, upper(a.direction) AS direction, a.data_length AS data_length, "
    "a.data_precision AS data_precision, a.data_scale AS data_scale FROM oci_argument a "
    "UNION ALL SELECT nullif(upper(p.package), ''), upper(p.name), p.overload, NULL, 1, 1, NULL, NULL, NULL, NULL, "
    "NULL, NULL FROM oci_procedure p WHERE NOT EXISTS (SELECT 1 FROM oci_argument a WHERE "
    "upper(coalesce(a.package, '')) = upper(coalesce(p.package, '')) AND upper(a.name) = upper(p.name) AND "
    "a.overload = p.overload)",

    "CREATE TEMP VIEW all_objects AS SELECT CAST(owner AS VARCHAR2(128)) AS OWNER, CAST(name AS VARCHAR2(128)) AS "
    "OBJECT_NAME, CAST(NULL AS VARCHAR2(128)) AS SUBOBJECT_NAME, CAST(id AS INTEGER) AS OBJECT_ID, CAST(type AS "
    "VARCHAR2(23)) AS OBJECT_TYPE, CAST(NULL AS DATE) AS CREATED, CAST(NULL AS DATE) AS LAST_DDL_TIME, "
    "CAST('VALID' AS VARCHAR2(7)) AS STATUS, CAST('N' AS VARCHAR2(1)) AS TEMPORARY, CAST(CASE WHEN name LIKE "
    "'SQLITE\\_AUTOINDEX\\_%' ESCAPE '\\' THEN 'Y' ELSE 'N' END AS VARCHAR2(1)) AS GENERATED FROM oci_dict_objects",

    "CREATE TEMP VIEW all_tables AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(m.name) AS "
    "VARCHAR2(128)) AS TABLE_NAME, CAST('USERS' AS VARCHAR2(30)) AS TABLESPACE_NAME, CAST(NULL AS INTEGER) AS "
    "NUM_ROWS, CAST('N' AS VARCHAR2(1)) AS TEMPORARY FROM main.sqlite_schema m WHERE m.type = 'table' AND "
    USER_RELATION("m"),

    "CREATE TEMP VIEW all_views AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(m.name) AS "
    "VARCHAR2(128)) AS VIEW_NAME, CAST(length(m.sql) AS INTEGER) AS TEXT_LENGTH, CAST(m.sql AS VARCHAR2(4000)) AS TEXT FROM "
    "main.sqlite_schema m WHERE m.type = 'view' AND " USER_RELATION("m"),

    "CREATE TEMP VIEW all_tab_columns AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(m.name) AS "
    "VARCHAR2(128)) AS TABLE_NAME, CAST(upper(p.name) AS VARCHAR2(128)) AS COLUMN_NAME, CAST(oci_dict_column(m.name, "
    "p.cid, 'TYPE') AS VARCHAR2(128)) AS DATA_TYPE, CAST(NULL AS VARCHAR2(3)) AS DATA_TYPE_MOD, CAST(NULL AS "
    "VARCHAR2(128)) AS DATA_TYPE_OWNER, CAST(oci_dict_column(m.name, p.cid, 'LENGTH') AS INTEGER) AS DATA_LENGTH, "
    "CAST(oci_dict_column(m.name, p.cid, 'PRECISION') AS INTEGER) AS DATA_PRECISION, CAST(oci_dict_column(m.name, "
    "p.cid, 'SCALE') AS INTEGER) AS DATA_SCALE, CAST(CASE WHEN p.\"notnull\" = 1 OR p.pk > 0 THEN 'N' ELSE 'Y' END "
    "AS VARCHAR2(1)) AS NULLABLE, CAST(p.cid + 1 AS INTEGER) AS COLUMN_ID, CAST(length(p.dflt_value) AS INTEGER) AS "
    "DEFAULT_LENGTH, CAST(p.dflt_value AS VARCHAR2(4000)) AS DATA_DEFAULT, CAST(oci_dict_column(m.name, p.cid, "
    "'CHAR_LENGTH') AS INTEGER) AS CHAR_LENGTH FROM main.sqlite_schema m, pragma_table_info(m.name) p WHERE "
    "m.type IN ('table', 'view') AND " USER_RELATION("m"),

    "CREATE TEMP VIEW all_indexes AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(il.name) AS "
    "VARCHAR2(128)) AS INDEX_NAME, CAST('NORMAL' AS VARCHAR2(27)) AS INDEX_TYPE, CAST(" CS " AS VARCHAR2(128)) AS "
    "TABLE_OWNER, CAST(upper(m.name) AS VARCHAR2(128)) AS TABLE_NAME, CAST('TABLE' AS VARCHAR2(11)) AS TABLE_TYPE, "
    "CAST(CASE WHEN il.\"unique\" = 1 THEN 'UNIQUE' ELSE 'NONUNIQUE' END AS VARCHAR2(9)) AS UNIQUENESS, "
    "CAST('VALID' AS VARCHAR2(8)) AS STATUS, CAST(CASE WHEN il.origin = 'c' THEN 'N' ELSE 'Y' END AS VARCHAR2(1)) "
    "AS GENERATED FROM main.sqlite_schema m, pragma_index_list(m.name) il WHERE m.type = 'table' AND "
    USER_RELATION("m"),

    "CREATE TEMP VIEW all_ind_columns AS SELECT CAST(" CS " AS VARCHAR2(128)) AS INDEX_OWNER, CAST(upper(il.name) AS "
    "VARCHAR2(128)) AS INDEX_NAME, CAST(" CS " AS VARCHAR2(128)) AS TABLE_OWNER, CAST(upper(m.name) AS "
    "VARCHAR2(128)) AS TABLE_NAME, CAST(upper(x.name) AS VARCHAR2(4000)) AS COLUMN_NAME, CAST(x.seqno + 1 AS INTEGER) "
    "AS COLUMN_POSITION, CAST(oci_dict_column(m.name, x.cid, 'LENGTH') AS INTEGER) AS COLUMN_LENGTH, "
    "CAST(oci_dict_column(m.name, x.cid, 'CHAR_LENGTH') AS INTEGER) AS CHAR_LENGTH, CAST(CASE WHEN x.\"desc\" = 1 "
    "THEN 'DESC' ELSE 'ASC' END AS VARCHAR2(4)) AS DESCEND FROM main.sqlite_schema m, pragma_index_list(m.name) il, "
    "pragma_index_xinfo(il.name) x WHERE m.type = 'table' AND " USER_RELATION("m") " AND x.key = 1",

    "CREATE TEMP VIEW all_constraints AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(name AS VARCHAR2(128)) "
    "AS CONSTRAINT_NAME, CAST(type AS VARCHAR2(1)) AS CONSTRAINT_TYPE, CAST(tab AS VARCHAR2(128)) AS TABLE_NAME, "
    "CAST(cond AS VARCHAR2(4000)) AS SEARCH_CONDITION, CAST(CASE WHEN type = 'R' THEN " CS " END AS VARCHAR2(128)) AS R_OWNER, "
    "CAST(r_name AS VARCHAR2(128)) AS R_CONSTRAINT_NAME, CAST(del AS VARCHAR2(9)) AS DELETE_RULE, CAST('ENABLED' AS "
    "VARCHAR2(8)) AS STATUS, CAST('NOT DEFERRABLE' AS VARCHAR2(14)) AS \"DEFERRABLE\", CAST('IMMEDIATE' AS VARCHAR2(9)) "
    "AS \"DEFERRED\", CAST('VALIDATED' AS VARCHAR2(13)) AS VALIDATED, CAST('GENERATED NAME' AS VARCHAR2(14)) AS "
    "GENERATED, CAST(CASE WHEN idx IS NOT NULL THEN " CS " END AS VARCHAR2(128)) AS INDEX_OWNER, CAST(idx AS "
    "VARCHAR2(128)) AS INDEX_NAME FROM oci_dict_cons",

    "CREATE TEMP VIEW all_cons_columns AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(c.name AS "
    "VARCHAR2(128)) AS CONSTRAINT_NAME, CAST(c.tab AS VARCHAR2(128)) AS TABLE_NAME, CAST(upper(k.col) AS "
    "VARCHAR2(4000)) AS COLUMN_NAME, CAST(k.pos AS INTEGER) AS POSITION FROM oci_dict_cons c, (SELECT 'P' AS type, "
    "'PK_' || upper(m.name) AS name, p.name AS col, p.pk AS pos FROM main.sqlite_schema m, pragma_table_info(m.name) "
    "p WHERE m.type = 'table' AND " USER_RELATION("m") " AND p.pk > 0 UNION ALL SELECT 'U', 'UK_' || upper(m.name) || "
    "'_' || substr(il.name, length('sqlite_autoindex_' || m.name || '_') + 1), ii.name, ii.seqno + 1 FROM "
    "main.sqlite_schema m, pragma_index_list(m.name) il, pragma_index_info(il.name) ii WHERE m.type = 'table' AND "
    USER_RELATION("m") " AND il.origin = 'u' UNION ALL SELECT 'R', 'FK_' || upper(m.name) || '_' || (f.id + 1), "
    "f.\"from\", f.seq + 1 FROM main.sqlite_schema m, pragma_foreign_key_list(m.name) f WHERE m.type = 'table' AND "
    USER_RELATION("m") " UNION ALL SELECT 'C', 'NN_' || upper(m.name) || '_' || (p.cid + 1), p.name, NULL FROM "
    "main.sqlite_schema m, pragma_table_info(m.name) p WHERE m.type = 'table' AND " USER_RELATION("m") " AND "
    "p.\"notnull\" = 1) k WHERE k.type = c.type AND k.name = c.name",

    "CREATE TEMP VIEW all_arguments AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(name AS VARCHAR2(128)) AS "
    "OBJECT_NAME, CAST(package AS VARCHAR2(128)) AS PACKAGE_NAME, CAST(NULL AS INTEGER) AS OBJECT_ID, CAST(CASE "
    "WHEN overload > 0 THEN overload END AS VARCHAR2(40)) AS OVERLOAD, CAST(argument AS VARCHAR2(128)) AS "
    "ARGUMENT_NAME, CAST(position AS INTEGER) AS POSITION, CAST(sequence AS INTEGER) AS SEQUENCE, CAST(0 AS INTEGER) "
    "AS DATA_LEVEL, CAST(data_type AS VARCHAR2(30)) AS DATA_TYPE, CAST(CASE WHEN default_value IS NULL THEN 'N' "
    "ELSE 'Y' END AS VARCHAR2(1)) AS DEFAULTED, CAST(default_value AS VARCHAR2(4000)) AS DEFAULT_VALUE, "
    "CAST(length(default_value) AS INTEGER) AS DEFAULT_LENGTH, CAST(direction AS VARCHAR2(9)) AS IN_OUT, "
    "CAST(data_length AS INTEGER) AS DATA_LENGTH, CAST(data_precision AS INTEGER) AS DATA_PRECISION, "
    "CAST(data_scale AS INTEGER) AS DATA_SCALE, CAST(NULL AS INTEGER) AS RADIX, CAST(NULL AS VARCHAR2(44)) AS "
    "CHARACTER_SET_NAME, CAST(NULL AS VARCHAR2(128)) AS TYPE_OWNER, CAST(NULL AS VARCHAR2(128)) AS TYPE_NAME, "
    "CAST(NULL AS VARCHAR2(128)) AS TYPE_SUBNAME, CAST(NULL AS VARCHAR2(128)) AS TYPE_LINK, CAST(data_type AS "
    "VARCHAR2(128)) AS PLS_TYPE FROM oci_dict_arguments",

    "CREATE TEMP VIEW all_procedures AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(coalesce(nullif("
    "package, ''), name)) AS VARCHAR2(128)) AS OBJECT_NAME, CAST(CASE WHEN coalesce(package, '') <> '' THEN "
    "upper(name) END AS VARCHAR2(128)) AS PROCEDURE_NAME, CAST(CASE WHEN coalesce(package, '') <> '' THEN 'PACKAGE' "
    "ELSE upper(kind) END AS VARCHAR2(23)) AS OBJECT_TYPE, CAST(CASE WHEN overload > 0 THEN overload END AS "
    "VARCHAR2(40)) AS OVERLOAD FROM oci_procedure",

    "CREATE TEMP VIEW all_synonyms AS SELECT CAST(coalesce(nullif(upper(owner), ''), 'PUBLIC') AS VARCHAR2(128)) AS "
    "OWNER, CAST(upper(name) AS VARCHAR2(128)) AS SYNONYM_NAME, CAST(coalesce(upper(target_owner), "
    "nullif(upper(owner), ''), " CS ") AS VARCHAR2(128)) AS TABLE_OWNER, CAST(upper(target_name) AS VARCHAR2(128)) "
    "AS TABLE_NAME, CAST(NULL AS VARCHAR2(128)) AS DB_LINK FROM oci_synonym",

    "CREATE TEMP VIEW all_triggers AS SELECT CAST(" CS " AS VARCHAR2(128)) AS OWNER, CAST(upper(m.name) AS "
    "VARCHAR2(128)) AS TRIGGER_NAME, CAST(" CS " AS VARCHAR2(128)) AS TABLE_OWNER, CAST(upper(m.tbl_name) AS "
    "VARCHAR2(128)) AS TABLE_NAME, CAST('ENABLED' AS VARCHAR2(8)) AS STATUS, CAST(m.sql AS VARCHAR2(4000)) AS TRIGGER_BODY "
    "FROM main.sqlite_schema m WHERE m.type = 'trigger' AND " USER_RELATION("m"),

    // Links of the catalog lead back to this database.
    "CREATE TEMP VIEW all_db_links AS SELECT CAST(coalesce(nullif(upper(owner), ''), 'PUBLIC') AS VARCHAR2(128)) AS "
    "OWNER, CAST(upper(db_link) AS VARCHAR2(128)) AS DB_LINK, CAST(upper(username) AS VARCHAR2(128)) AS USERNAME, "
    "CAST(NULL AS VARCHAR2(2000)) AS HOST, CAST(NULL AS DATE) AS CREATED FROM oci_db_link",

    // The stand-in compiles nothing: compilation errors are what the catalog table oci_error holds.
    "CREATE TEMP VIEW all_errors AS SELECT CAST(coalesce(nullif(upper(owner), ''), " CS ") AS VARCHAR2(128)) AS "
    "OWNER, CAST(name AS VARCHAR2(128)) AS NAME, CAST(upper(type) AS VARCHAR2(12)) AS TYPE, CAST(sequence AS "
    "INTEGER) AS SEQUENCE, CAST(line AS INTEGER) AS LINE, CAST(position AS INTEGER) AS POSITION, CAST(text AS "
    "VARCHAR2(4000)) AS TEXT, CAST(coalesce(attribute, 'ERROR') AS VARCHAR2(9)) AS ATTRIBUTE, CAST(message_number "
    "AS INTEGER) AS MESSAGE_NUMBER FROM oci_error",

    "CREATE TEMP VIEW all_users AS SELECT CAST(upper(name) AS VARCHAR2(128)) AS USERNAME, CAST(rowid AS INTEGER) AS "
    "USER_ID, CAST(NULL AS DATE) AS CREATED FROM oci_user",

    // The built-in types the server knows (owner NULL).
    "CREATE TEMP VIEW all_types AS SELECT CAST(NULL AS VARCHAR2(128)) AS OWNER, CAST(t.column1 AS VARCHAR2(128)) AS "
    "TYPE_NAME, CAST(NULL AS RAW(16)) AS TYPE_OID, CAST(t.column1 AS VARCHAR2(30)) AS TYPECODE, CAST(0 AS INTEGER) "
    "AS ATTRIBUTES, CAST(0 AS INTEGER) AS METHODS, CAST('YES' AS VARCHAR2(3)) AS PREDEFINED, CAST('NO' AS "
    "VARCHAR2(3)) AS INCOMPLETE FROM (VALUES ('BINARY_DOUBLE'), ('BINARY_FLOAT'), ('BLOB'), ('CHAR'), ('CLOB'), "
    "('DATE'), ('FLOAT'), ('INTERVAL DAY TO SECOND'), ('INTERVAL YEAR TO MONTH'), ('LONG'), ('LONG RAW'), "
    "('NCHAR'), ('NCLOB'), ('NUMBER'), ('NVARCHAR2'), ('RAW'), ('TIMESTAMP'), ('TIMESTAMP WITH LOCAL TZ'), "
    "('TIMESTAMP WITH TZ'), ('VARCHAR2')) t",
};

#undef USER_RELATION
#undef CS

// USER_ views: the ALL_ view's rows of the current schema, without the owner column.
struct UserView {
    const char* all;
    const char* owner;
};
const UserView kUserViews[] = {
    {"all_objects", "OWNER"},
    {"all_tables", "OWNER"},
    {"all_views", "OWNER"},
    {"all_tab_columns", "OWNER"},
    {"all_indexes", "OWNER"},
    {"all_ind_columns", "INDEX_OWNER"},
    {"all_constraints", "OWNER"},
    {"all_cons_columns", "OWNER"},
    {"all_arguments", "OWNER"},
    {"all_procedures", "OWNER"},
    {"all_synonyms", "OWNER"},
    {"all_triggers", "OWNER"},
    {"all_sequences", "SEQUENCE_OWNER"},
    {"all_errors", "OWNER"},
    {"all_db_links", "OWNER"},
};

std::vector<std::string> viewColumns(sqlite3* db, const std::string& view) {
    std::vector<std::string> cols;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT name FROM pragma_table_info('" + view + "', 'temp')").c_str(), -1,
                           &st, nullptr) == SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW)
            cols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return cols;
}

}  // namespace

void createDictionary(Session& s) {
    sqlite3_create_function(s.db, "oci_dict_column", 3, SQLITE_UTF8, &s, fnDictColumn, nullptr, nullptr);
    // A database made before the error table existed gets an empty one for the session.
    sqlite3_stmt* st = nullptr;
    bool hasErrors = false;
    if (sqlite3_prepare_v2(s.db,
                           "SELECT 1 FROM main.sqlite_schema WHERE type = 'table' AND name = 'oci_error'", -1,
                           &st, nullptr) == SQLITE_OK)
        hasErrors = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    // Likewise the table of database links.
    bool hasLinks = false;
    if (sqlite3_prepare_v2(s.db,
                           "SELECT 1 FROM main.sqlite_schema WHERE type = 'table' AND name = 'oci_db_link'",
                           -1, &st, nullptr) == SQLITE_OK)
        hasLinks = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    if (!hasLinks) s.exec("CREATE TEMP TABLE oci_db_link(owner TEXT, db_link TEXT, username TEXT)");
    if (!hasErrors)
        s.exec(
            "CREATE TEMP TABLE oci_error(owner TEXT, name TEXT, type TEXT, sequence INTEGER, line INTEGER, "
            "position INTEGER, text TEXT, attribute TEXT, message_number INTEGER)");
    for (const char* v : kViews) s.exec(v);
    createSequenceView(s);
    for (const UserView& u : kUserViews) {
        std::string list;
        for (const std::string& c : viewColumns(s.db, u.all)) {
            if (c == u.owner) continue;
            list += (list.empty() ? "\"" : ", \"") + c + "\"";
        }
        const std::string name = std::string("user_") + (u.all + 4);
        s.exec("CREATE TEMP VIEW " + name + " AS SELECT " + list + " FROM " + u.all + " WHERE " + u.owner +
               " = sys_context('USERENV', 'CURRENT_SCHEMA')");
    }
    s.exec(
        "CREATE TEMP VIEW user_users AS SELECT USERNAME, USER_ID, CREATED FROM all_users WHERE USERNAME = "
        "sys_context('USERENV', 'SESSION_USER')");
}

namespace {

bool namedRelation(sqlite3* db, const char* schemaTable, const std::string& name) {
    sqlite3_stmt* st = nullptr;
    bool found = false;
    const std::string sql =
        std::string("SELECT 1 FROM ") + schemaTable + " WHERE upper(name) = ?1 AND type IN ('table', 'view')";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        found = sqlite3_step(st) == SQLITE_ROW;
    }
    sqlite3_finalize(st);
    return found;
}

}  // namespace

void createSynonymViews(Session& s) {
    // The session's own synonyms first: a private synonym hides a public one of the same name.
    std::map<std::string, std::string> target;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            s.db,
            "SELECT upper(name), upper(target_name) FROM oci_synonym WHERE upper(coalesce(owner, "
            "'')) IN (?1, '', 'PUBLIC') ORDER BY CASE WHEN upper(owner) = ?1 THEN 0 ELSE 1 END",
            -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return;
    }
    sqlite3_bind_text(st, 1, s.schema.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto* n = sqlite3_column_text(st, 0);
        const auto* t = sqlite3_column_text(st, 1);
        if (n && t) target.emplace(reinterpret_cast<const char*>(n), reinterpret_cast<const char*>(t));
    }
    sqlite3_finalize(st);
    for (const auto& [name, first] : target) {
        // An object of the schema wins over a synonym of its name.
        if (namedRelation(s.db, "main.sqlite_schema", name) ||
            namedRelation(s.db, "temp.sqlite_schema", name))
            continue;
        std::string to = first;
        for (int hop = 0; hop < 10 && !to.empty(); ++hop) {
            if (namedRelation(s.db, "main.sqlite_schema", to)) {
                auto quote = [](const std::string& v) {
                    std::string q = "\"";
                    for (char c : v) q += c == '"' ? std::string("\"\"") : std::string(1, c);
                    return q + "\"";
                };
                sqlite3_exec(
                    s.db, ("CREATE TEMP VIEW " + quote(name) + " AS SELECT * FROM main." + quote(to)).c_str(),
                    nullptr, nullptr, nullptr);
                break;
            }
            auto next = target.find(to);
            to = next == target.end() ? std::string() : next->second;
        }
    }
}

}  // namespace oci
