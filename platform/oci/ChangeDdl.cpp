// ALTER TABLE and DROP TABLE of a table whose changes are logged for change notification: the
// statement leaves a log row of its own (no row, the operation ALTER or DROP), which subscribers
// hear of as of any other change.
#include <cstring>

#include "platform/oci/Changes.h"

namespace oci {

namespace {

// The SQLite name of the logged table (one that has the notification triggers) called name, or
// empty when there is none.
std::string loggedTable(sqlite3* db, const std::string& name) {
    sqlite3_stmt* q = nullptr;
    std::string table;
    if (sqlite3_prepare_v2(db,
                           "SELECT tbl_name FROM main.sqlite_schema WHERE type = 'trigger' AND name = "
                           "'oci_chnf_' || tbl_name || '_i' AND upper(tbl_name) = upper(?)",
                           -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) table = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
    }
    sqlite3_finalize(q);
    return table;
}

}  // namespace

TableDdl tableDdl(Session& s, const std::string& utf8) {
    const std::vector<Token> t = tokenize(utf8);
    auto word = [&](size_t k, const char* w) {
        return k < t.size() && t[k].kind == Token::Ident && !t[k].quoted && t[k].text == w;
    };
    TableDdl out;
    const ub4 op = word(0, "ALTER") ? OCI_OPCODE_ALTER : word(0, "DROP") ? OCI_OPCODE_DROP : 0;
    if (!op || !word(1, "TABLE") || t.size() < 3 || t[2].kind != Token::Ident) return out;
    std::string name = t[2].text;
    if (t.size() > 4 && t[3].kind == Token::Punct && t[3].text == "." && t[4].kind == Token::Ident)
        name = t[4].text;  // schema.table: the database has one namespace
    out.table = loggedTable(s.db, name);
    if (!out.table.empty()) out.op = op;
    return out;
}

void logTableDdl(Session& s, const TableDdl& ddl) {
    if (ddl.op == 0) return;
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(
        s.db, "INSERT INTO oci_change_log(table_name, op, row_id) VALUES (?, ?, NULL)", -1, &q, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(q, 1, ddl.table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(q, 2, ddl.op);
        rc = sqlite3_step(q);
    }
    sqlite3_finalize(q);
    if (rc != SQLITE_DONE && rc != SQLITE_OK) s.raiseSqlite(rc);
}

}  // namespace oci
