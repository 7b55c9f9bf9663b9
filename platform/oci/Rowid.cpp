// The ROWID pseudo-column: Oracle's 18-character ROWID text of a row, from its table's object
// number and its SQLite rowid, the same text an insert's OCI_ATTR_ROWID and a change
// notification give for the row.
#include <sqlite3.h>

#include <map>
#include <mutex>

#include "platform/oci/Changes.h"

namespace oci {

std::string rowidText(uint64_t object, uint64_t file, uint64_t block, uint64_t row) {
    // Oracle's base-64 digits, most significant first: 6 for the object, 3 for the file, 6 for the
    // block and 3 for the row.
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto enc = [](uint64_t v, int n) {
        std::string r(n, 'A');
        for (int k = n - 1; k >= 0; --k) {
            r[k] = alphabet[v & 63];
            v >>= 6;
        }
        return r;
    };
    return enc(object, 6) + enc(file, 3) + enc(block, 6) + enc(row, 3);
}

std::string rowidText(int64_t tableObject, int64_t rowid) {
    return rowidText(static_cast<uint32_t>(tableObject), 1, static_cast<uint32_t>(rowid >> 16),
                     static_cast<uint32_t>(rowid & 0xFFFF));
}

namespace {

bool isClauseWord(const std::string& w) {
    static const char* const words[] = {"WHERE",   "ORDER",     "GROUP", "HAVING", "JOIN",    "INNER",
                                        "LEFT",    "RIGHT",     "FULL",  "CROSS",  "ON",      "UNION",
                                        "MINUS",   "INTERSECT", "SET",   "START",  "CONNECT", "FOR",
                                        "NATURAL", "OUTER",     "VALUES"};
    for (const char* k : words)
        if (w == k) return true;
    return false;
}

// oci_rowid(table, rowid): the table's object number is looked up once per connection.
void fnRowid(sqlite3_context* ctx, int, sqlite3_value** args) {
    if (sqlite3_value_type(args[1]) == SQLITE_NULL || sqlite3_value_type(args[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    auto* objects = static_cast<std::map<std::string, int64_t>*>(sqlite3_user_data(ctx));
    const std::string table = upper(reinterpret_cast<const char*>(sqlite3_value_text(args[0])));
    auto it = objects->find(table);
    if (it == objects->end()) {
        sqlite3_stmt* q = nullptr;
        int64_t object = 0;
        if (sqlite3_prepare_v2(
                sqlite3_context_db_handle(ctx),
                "SELECT rowid FROM main.sqlite_schema WHERE type = 'table' AND upper(name) = ?", -1, &q,
                nullptr) == SQLITE_OK) {
            sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(q) == SQLITE_ROW) object = sqlite3_column_int64(q, 0);
        }
        sqlite3_finalize(q);
        it = objects->emplace(table, object + 73000).first;
    }
    const std::string text = rowidText(it->second, sqlite3_value_int64(args[1]));
    sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string rowidTable(const std::string& utf8, const std::string& qualifier) {
    const std::vector<Token> t = tokenize(utf8);
    std::string first;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i].kind != Token::Ident || t[i].quoted) continue;
        const std::string& w = t[i].text;
        if (w != "FROM" && w != "JOIN" && w != "UPDATE" && w != "INTO") continue;
        size_t k = i + 1;
        if (t[k].kind != Token::Ident) continue;  // a sub-query
        std::string table = t[k].text;
        while (t[k + 1].kind == Token::Punct && t[k + 1].text == "." && t[k + 2].kind == Token::Ident) {
            table = t[k + 2].text;
            k += 2;
        }
        ++k;
        if (t[k].kind == Token::Ident && !t[k].quoted && t[k].text == "AS") ++k;
        std::string alias;
        if (t[k].kind == Token::Ident && (t[k].quoted || !isClauseWord(t[k].text))) alias = t[k].text;
        if (first.empty()) first = table;
        if (!qualifier.empty() && (sameText(qualifier, alias) || sameText(qualifier, table))) return table;
    }
    return qualifier.empty() ? first : std::string();
}

void appendRowid(std::string& out, const std::string& utf8) {
    // A qualifier written just before ("t.ROWID") is already in out.
    std::string qualifier, written;
    if (!out.empty() && out.back() == '.') {
        size_t b = out.size() - 1;
        if (b > 0 && out[b - 1] == '"') {
            const size_t open = out.rfind('"', b - 2);
            if (open != std::string::npos) b = open;
        } else {
            while (b > 0 && identChar(out[b - 1])) --b;
        }
        written = out.substr(b);
        qualifier = written.substr(0, written.size() - 1);
        if (qualifier.size() >= 2 && qualifier.front() == '"')
            qualifier = qualifier.substr(1, qualifier.size() - 2);
        out.erase(b);
    }
    const std::string table = rowidTable(utf8, qualifier);
    if (table.empty()) {
        out += written + "ROWID";
        return;
    }
    std::string quoted;
    for (char c : table) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    out += "oci_rowid('" + quoted + "', " + written + "rowid)";
}

void registerRowidFunction(sqlite3* db) {
    // One cache per connection, freed with it.
    auto* objects = new std::map<std::string, int64_t>();
    sqlite3_create_function_v2(db, "oci_rowid", 2, SQLITE_UTF8, objects, fnRowid, nullptr, nullptr,
                               [](void* p) { delete static_cast<std::map<std::string, int64_t>*>(p); });
}

}  // namespace oci
