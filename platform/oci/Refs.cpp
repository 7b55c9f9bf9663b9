// Object tables and REFs of the stand-in server: CREATE TABLE t OF type (kept as a table with one
// column per attribute, the object's identity being the row's rowid), REF columns, REF(alias),
// VALUE(alias) and DEREF(ref) in SQL, the OCIRef calls, and pinning, marking and flushing
// persistent objects in the object cache.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "platform/oci/Guard.h"
#include "platform/oci/ObjectTypes.h"

namespace oci {

namespace {

const char* const ObjectTableCatalog =
    "CREATE TABLE IF NOT EXISTS oci_object_table(name TEXT PRIMARY KEY COLLATE NOCASE, "
    "type_name TEXT NOT NULL COLLATE NOCASE)";

std::string colText(sqlite3_stmt* q, int c) {
    const unsigned char* t = sqlite3_column_text(q, c);
    return t ? reinterpret_cast<const char*>(t) : "";
}

std::string quoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

bool tableExists(Session& s, const std::string& table) {
    sqlite3_stmt* q = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(s.db,
                           "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND upper(name) = upper(?)", -1,
                           &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        found = sqlite3_step(q) == SQLITE_ROW;
    }
    sqlite3_finalize(q);
    return found;
}

// The type of an object table; null for any other name.
TypeDesc* objectTableType(Session& s, const std::string& table) {
    sqlite3_stmt* q = nullptr;
    std::string type;
    if (sqlite3_prepare_v2(s.db, "SELECT type_name FROM oci_object_table WHERE upper(name) = upper(?)", -1,
                           &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) type = colText(q, 0);
    }
    sqlite3_finalize(q);
    if (type.empty() || !tableExists(s, table)) return nullptr;
    return findType(s, "", upper(type));
}

// ---- the kept form of a REF: hexadecimal text of "TABLE:rowid" --------------------------------------------

std::string refText(const std::string& table, int64_t rowid) {
    static const char hex[] = "0123456789ABCDEF";
    const std::string raw = table + ":" + std::to_string(rowid);
    std::string out;
    for (unsigned char c : raw) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

bool parseRefText(const std::string& text, std::string& table, int64_t& rowid) {
    if (text.empty() || text.size() % 2) return false;
    std::string raw;
    for (size_t k = 0; k < text.size(); k += 2) {
        int v = 0;
        for (size_t j = k; j < k + 2; ++j) {
            const char c = text[j];
            v = v * 16 + (c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1000);
        }
        if (v < 0) return false;
        raw += static_cast<char>(v);
    }
    const size_t colon = raw.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == raw.size()) return false;
    table = raw.substr(0, colon);
    char* end = nullptr;
    rowid = std::strtoll(raw.c_str() + colon + 1, &end, 10);
    return end && *end == 0;
}

// ---- REFs in the client's memory ------------------------------------------------------------------------

struct RefBody {
    TypeDesc* type = nullptr;
    std::string table;  // empty: a null REF
    int64_t rowid = 0;
    std::string dbPath;
    Session* session = nullptr;  // the session that read or made it, for pins
};

std::mutex refLock;
std::set<RefBody*> refs;

RefBody* refOf(const void* p) {
    std::lock_guard<std::mutex> g(refLock);
    auto it = refs.find(static_cast<RefBody*>(const_cast<void*>(p)));
    return it == refs.end() ? nullptr : *it;
}

RefBody* liveRef(const void* p) {
    RefBody* r = p ? refOf(p) : nullptr;
    if (!r) raise(22806, "not an object or REF");
    return r;
}

// ---- the object cache's persistent objects -----------------------------------------------------------

struct Pinned {
    TypeDesc* type = nullptr;
    std::string table, dbPath;
    int64_t rowid = 0;
    Session* session = nullptr;
    int pins = 0;
    bool dirty = false, deleted = false;
};

std::mutex pinLock;
std::map<void*, Pinned> pinned;  // by instance

std::string pinKey(const std::string& dbPath, const std::string& table, int64_t rowid) {
    return dbPath + "|" + upper(table) + "|" + std::to_string(rowid);
}

Session& pinSession(Session* s) {
    if (!s || !findHandle(s)) raise(3114);
    s->ensureAlive();
    return *s;
}

// An object of the table's type filled from row rowid; null when there is no such row.
void* readRowObject(Session& s, TypeDesc* t, const std::string& table, int64_t rowid) {
    std::string sql = "SELECT ";
    for (size_t k = 0; k < t->attrs.size(); ++k) sql += (k ? ", " : "") + quoteIdent(t->attrs[k].name);
    sql += " FROM " + quoteIdent(table) + " WHERE rowid = ?";
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(q);
        s.raiseSqlite(rc);
    }
    sqlite3_bind_int64(q, 1, rowid);
    void* instance = nullptr;
    try {
        if (sqlite3_step(q) == SQLITE_ROW) {
            instance = newInstance(t);
            Instance* inst = instanceOf(instance);
            for (size_t k = 0; k < t->attrs.size(); ++k) {
                const TypeAttr& a = t->attrs[k];
                loadAttr(a, columnValue(q, static_cast<int>(k)), inst->data.data() + a.offset,
                         inst->ind.data() + a.indOffset);
            }
            std::memset(inst->ind.data(), 0, sizeof(sb2));  // a row object is never atomically null
            refsToSession(t, instance, s);
        }
    } catch (...) {
        sqlite3_finalize(q);
        if (instance) dropInstance(instance);
        throw;
    }
    sqlite3_finalize(q);
    return instance;
}

Value rowObjectText(Session& s, TypeDesc* t, const std::string& table, int64_t rowid) {
    void* instance = readRowObject(s, t, table, rowid);
    if (!instance) return Value::null();
    Instance* inst = instanceOf(instance);
    Value v;
    try {
        v = instanceValue(t, instance, inst->ind.data());
    } catch (...) {
        dropInstance(instance);
        throw;
    }
    dropInstance(instance);
    return v;
}

void writeBack(Pinned& p, void* instance) {
    Session& s = pinSession(p.session);
    s.beginWork();
    std::map<std::string, Value> params;
    params["OCI_ROWID"] = Value::ofInt(p.rowid);
    std::string sql;
    if (p.deleted) {
        sql = "DELETE FROM " + quoteIdent(p.table) + " WHERE rowid = :OCI_ROWID";
    } else {
        Instance* inst = instanceOf(instance);
        sql = "UPDATE " + quoteIdent(p.table) + " SET ";
        for (size_t k = 0; k < p.type->attrs.size(); ++k) {
            const TypeAttr& a = p.type->attrs[k];
            const std::string key = "OCI_A" + std::to_string(k);
            sql += (k ? ", " : "") + quoteIdent(a.name) + " = :" + key;
            params[key] = attrValue(a, inst->data.data() + a.offset, inst->ind.data() + a.indOffset);
        }
        sql += " WHERE rowid = :OCI_ROWID";
    }
    if (runDml(s, sql, params) == 0) raise(21700, "object does not exist or is marked for delete");
    p.dirty = false;
}

// ---- SQL functions ---------------------------------------------------------------------------------------

Session& fnSession(sqlite3_context* ctx) {
    return *static_cast<Session*>(sqlite3_user_data(ctx));
}

// The statement fails with the function's own ORA error.
void fnError(sqlite3_context* ctx, const OraException& e) {
    fnSession(ctx).pendingRaise = std::make_pair(e.code(), std::string(e.what()));
    sqlite3_result_error(ctx, e.what(), -1);
}

void fnRef(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const auto* table = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const std::string text = refText(table ? table : "", sqlite3_value_int64(argv[1]));
    sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void resultValue(sqlite3_context* ctx, const Value& v) {
    if (v.isNull()) return sqlite3_result_null(ctx);
    sqlite3_result_text(ctx, v.s.c_str(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
}

void fnValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        Session& s = fnSession(ctx);
        const std::string table = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        TypeDesc* t = objectTableType(s, table);
        if (!t) raise(942, "table or view does not exist");
        resultValue(ctx, rowObjectText(s, t, table, sqlite3_value_int64(argv[1])));
    } catch (const OraException& e) {
        fnError(ctx, e);
    }
}

// The object table and row a REF argument points to; the table's type, null when the table is gone.
TypeDesc* refTarget(Session& s, sqlite3_value* ref, std::string& table, int64_t& rowid) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(ref));
    if (!parseRefText(text ? text : "", table, rowid)) raise(22806, "not an object or REF");
    return objectTableType(s, table);
}

void fnDeref(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        Session& s = fnSession(ctx);
        std::string table;
        int64_t rowid = 0;
        TypeDesc* t = refTarget(s, argv[1], table, rowid);
        if (!t) return sqlite3_result_null(ctx);  // a dangling REF dereferences to NULL
        resultValue(ctx, rowObjectText(s, t, table, rowid));
    } catch (const OraException& e) {
        fnError(ctx, e);
    }
}

// oci_refattr(type, ref, attribute): one attribute of the object a REF points to, as its object
// table keeps it; NULL for a null or dangling REF.
void fnRefAttr(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        Session& s = fnSession(ctx);
        std::string table;
        int64_t rowid = 0;
        if (!refTarget(s, argv[1], table, rowid)) return sqlite3_result_null(ctx);
        const auto* attr = reinterpret_cast<const char*>(sqlite3_value_text(argv[2]));
        const std::string sql =
            "SELECT " + quoteIdent(attr ? attr : "") + " FROM " + quoteIdent(table) + " WHERE rowid = ?";
        sqlite3_stmt* q = nullptr;
        const int rc = sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_finalize(q);
            s.raiseSqlite(rc);
        }
        sqlite3_bind_int64(q, 1, rowid);
        if (sqlite3_step(q) == SQLITE_ROW)
            sqlite3_result_value(ctx, sqlite3_column_value(q, 0));
        else
            sqlite3_result_null(ctx);  // the row is gone
        sqlite3_finalize(q);
    } catch (const OraException& e) {
        fnError(ctx, e);
    }
}

// The attribute at a dotted path of an object type, and the type it belongs to; null when a name
// is no attribute (or a step is no object).
const TypeAttr* attrAtPath(TypeDesc* t, const std::string& path) {
    const TypeAttr* found = nullptr;
    for (size_t from = 0; from <= path.size();) {
        const size_t dot = std::min(path.find('.', from), path.size());
        const std::string name = path.substr(from, dot - from);
        if (!t || t->isColl() || t->isXml()) return nullptr;
        auto it =
            std::find_if(t->attrs.begin(), t->attrs.end(), [&](const TypeAttr& a) { return a.name == name; });
        if (it == t->attrs.end()) return nullptr;
        found = &*it;
        t = found->slot == Slot::Object ? found->nested : nullptr;
        from = dot + 1;
    }
    return found;
}

// oci_objattr(type, value, path): the attribute at a dotted path of an object column's kept value;
// NULL when the object or an object on the way is null.
void fnObjAttr(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    void* instance = nullptr;
    try {
        Session& s = fnSession(ctx);
        const auto* typeName = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
        const auto* path = reinterpret_cast<const char*>(sqlite3_value_text(argv[2]));
        TypeDesc* t = findType(s, "", typeName ? typeName : "");
        instance = newInstance(t);
        Instance* inst = instanceOf(instance);
        loadInstance(t, Value::ofText(text ? text : ""), inst->data.data(), inst->ind.data());
        const unsigned char* data = inst->data.data();
        const unsigned char* ind = inst->ind.data();
        Value v;
        for (size_t from = 0;;) {
            sb2 atomic = 0;
            std::memcpy(&atomic, ind, sizeof atomic);
            if (atomic == OCI_IND_NULL) break;  // a null object has null attributes
            const std::string rest = path ? std::string(path).substr(from) : std::string();
            const size_t dot = rest.find('.');
            const TypeAttr* a = attrAtPath(t, rest.substr(0, dot));
            if (!a) raise(904, "\"" + rest + "\": invalid identifier");
            if (dot == std::string::npos) {
                v = attrValue(*a, data + a->offset, ind + a->indOffset);
                break;
            }
            if (a->slot != Slot::Object) raise(904, "\"" + rest + "\": invalid identifier");
            if (a->embedded) {
                data += a->offset;
                ind += a->indOffset;
            } else {
                void* held = nullptr;
                std::memcpy(&held, data + a->offset, sizeof held);
                const Instance* sub = instanceOf(held);
                if (!sub) break;
                data = sub->data.data();
                ind = sub->ind.data();
            }
            t = a->nested;
            from += dot + 1;
        }
        dropInstance(instance);
        instance = nullptr;
        switch (v.kind) {
            case Value::Int:
                return sqlite3_result_int64(ctx, v.i);
            case Value::Real:
                return sqlite3_result_double(ctx, v.r);
            case Value::Text:
                return sqlite3_result_text(ctx, v.s.c_str(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
            case Value::Blob:
                return sqlite3_result_blob(ctx, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
            default:
                return sqlite3_result_null(ctx);
        }
    } catch (const OraException& e) {
        if (instance) dropInstance(instance);
        fnError(ctx, e);
    }
}

// ---- rewriting object SQL ----------------------------------------------------------------------------

bool isWord(const Token& t, const char* w) {
    return t.kind == Token::Ident && !t.quoted && t.text == w;
}

bool isPunct(const Token& t, const char* p) {
    return t.kind == Token::Punct && t.text == p;
}

// The token after the parenthesis closing the one at open.
size_t afterGroup(const std::vector<Token>& tk, size_t open) {
    int depth = 0;
    for (size_t k = open; tk[k].kind != Token::End; ++k) {
        if (isPunct(tk[k], "(")) ++depth;
        if (isPunct(tk[k], ")") && --depth == 0) return k + 1;
    }
    return tk.size() - 1;
}

const char* const NotAliases[] = {"WHERE", "ORDER", "GROUP",   "JOIN",  "ON",     "LEFT",      "RIGHT",
                                  "INNER", "OUTER", "FULL",    "CROSS", "HAVING", "UNION",     "MINUS",
                                  "SET",   "START", "CONNECT", "FOR",   "VALUES", "INTERSECT", "WITH"};

// A name in the text that may be a table (not a column of an alias, not a call), followed by its alias.
bool tableNameAt(Session& s, const std::vector<Token>& tk, size_t k) {
    if (tk[k].kind != Token::Ident || isPunct(tk[k + 1], ".") || isPunct(tk[k + 1], "(")) return false;
    if (k > 0 && isPunct(tk[k - 1], "."))
        return k > 1 && std::find(s.schemas.begin(), s.schemas.end(), tk[k - 2].text) != s.schemas.end();
    return true;
}

void addAlias(std::map<std::string, std::string>& out, const std::vector<Token>& tk, size_t k) {
    out.emplace(tk[k].text, tk[k].text);
    const Token& next = tk[k + 1];
    if (next.kind == Token::Ident && std::none_of(std::begin(NotAliases), std::end(NotAliases),
                                                  [&](const char* w) { return isWord(next, w); }))
        out[next.text] = tk[k].text;
}

// Aliases (and names) of the object tables the text reads: alias -> table.
std::map<std::string, std::string> objectAliases(Session& s, const std::vector<Token>& tk) {
    std::map<std::string, std::string> out;
    for (size_t k = 0; tk[k].kind != Token::End; ++k)
        if (tableNameAt(s, tk, k) && objectTableType(s, tk[k].text)) addAlias(out, tk, k);
    return out;
}

// The declared type of column col of a table the text reads (through alias when given).
std::string columnDecl(Session& s, const std::map<std::string, std::string>& tables, const std::string& alias,
                       const std::string& col) {
    for (auto& [name, table] : tables) {
        if (!alias.empty() && name != alias) continue;
        sqlite3_stmt* q = nullptr;
        const std::string sql = "SELECT type FROM pragma_table_info(?) WHERE upper(name) = ?";
        std::string decl;
        if (sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(q, 2, col.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(q) == SQLITE_ROW) decl = colText(q, 0);
        }
        sqlite3_finalize(q);
        if (!decl.empty()) return decl;
    }
    return {};
}

// Every table (with its alias) the text names, for DEREF of a REF column.
std::map<std::string, std::string> allAliases(Session& s, const std::vector<Token>& tk) {
    std::map<std::string, std::string> out;
    for (size_t k = 0; tk[k].kind != Token::End; ++k)
        if (tableNameAt(s, tk, k) && tableExists(s, tk[k].text)) addAlias(out, tk, k);
    return out;
}

// A chain of three names (a.b.c), which may reach through a REF column: spotted without tokens.
bool hasNameChain(const std::string& text) {
    auto word = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' || c == '"';
    };
    int dots = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '.') {
            if (!word(text[i])) dots = 0;
            continue;
        }
        if (i == 0 || i + 1 >= text.size() || !word(text[i - 1]) || !word(text[i + 1])) {
            dots = 0;
            continue;
        }
        if (++dots == 2) return true;
    }
    return false;
}

bool mentionsObjects(const std::string& text) {
    const std::string u = upper(text);
    for (const char* w : {"REF", "VALUE", "XMLTYPE", "GETCLOBVAL", "GETSTRINGVAL", "EXTRACT", "EXISTSNODE",
                          "GETNUMBERVAL", "ISFRAGMENT", "GETROOTELEMENT", "XMLSERIALIZE"})
        if (u.find(w) != std::string::npos) return true;
    return hasNameChain(text);
}

std::string sqlQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

// The last name of a dotted name starting at k (schemas share one namespace here); k moves past it.
std::string dottedNameAt(const std::vector<Token>& tk, size_t& k) {
    std::string name = tk[k++].text;
    while (isPunct(tk[k], ".") && tk[k + 1].kind == Token::Ident) {
        name = tk[k + 1].text;
        k += 2;
    }
    return name;
}

// Oracle never hands out an object identifier twice, but SQLite gives the rowid of a deleted last row
// to the next insert. Two triggers keep the highest rowid a table ever lost (oci_object_oid) and move a
// new row that would take such a rowid above it, so an old REF stays dangling.
std::string objectIdTriggers(const std::string& table) {
    const std::string t = quoteIdent(table);
    const std::string high = "(SELECT high FROM oci_object_oid WHERE name = " + sqlQuote(table) + ")";
    return "CREATE TRIGGER " + quoteIdent("oci_oid_" + table + "_d") + " AFTER DELETE ON " + t +
           " WHEN OLD.rowid > coalesce(" + high +
           ", 0) BEGIN INSERT INTO oci_object_oid(name, high) VALUES (" + sqlQuote(table) +
           ", OLD.rowid) ON CONFLICT(name) DO UPDATE SET high = excluded.high; END; " + "CREATE TRIGGER " +
           quoteIdent("oci_oid_" + table + "_i") + " AFTER INSERT ON " + t + " WHEN NEW.rowid <= coalesce(" +
           high + ", 0) BEGIN UPDATE " + t + " SET rowid = NEW.rowid + " + high +
           " WHERE rowid = NEW.rowid; END";
}

}  // namespace

// ---- entry points of the server part ------------------------------------------------------------

int64_t objectIdShift(Session& s, const std::string& table, int64_t rowid) {
    sqlite3_stmt* q = nullptr;
    int64_t shift = 0;
    if (sqlite3_prepare_v2(s.db, "SELECT high FROM oci_object_oid WHERE name = ?", -1, &q, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW && rowid <= sqlite3_column_int64(q, 0))
            shift = sqlite3_column_int64(q, 0);
    }
    sqlite3_finalize(q);
    return shift;
}

std::string objectTableDropping(Session& s, const std::string& utf8) {
    std::vector<Token> tk = tokenize(utf8);
    size_t k = 0;
    if (!isWord(tk[k++], "DROP") || !isWord(tk[k++], "TABLE") || tk[k].kind != Token::Ident) return {};
    const std::string table = dottedNameAt(tk, k);
    if (!objectTableType(s, table)) return {};
    // the rows go without their delete triggers: their identifiers are kept as lost all the same
    s.exec(ObjectIdCatalog);
    s.exec("INSERT INTO oci_object_oid(name, high) SELECT " + sqlQuote(table) +
           ", coalesce(max(rowid), 0) FROM " + quoteIdent(table) +
           " WHERE true ON CONFLICT(name) DO UPDATE SET high = max(high, excluded.high)");
    return table;
}

void objectTableDropped(Session& s, const std::string& table) {
    if (!tableExists(s, table)) s.exec("DELETE FROM oci_object_table WHERE name = " + sqlQuote(table));
}

bool runObjectTableDdl(Session& s, const std::string& utf8) {
    std::vector<Token> tk = tokenize(utf8);
    size_t k = 0;
    if (!isWord(tk[k++], "CREATE") || !isWord(tk[k++], "TABLE")) return false;
    if (tk[k].kind != Token::Ident) return false;
    const std::string table = dottedNameAt(tk, k);
    if (!isWord(tk[k++], "OF")) return false;
    if (tk[k].kind != Token::Ident) raise(902, "invalid datatype");
    const std::string typeName = dottedNameAt(tk, k);
    if (isPunct(tk[k], ";")) ++k;
    if (tk[k].kind != Token::End) raise(922, "missing or invalid option");
    TypeDesc* t = findType(s, "", upper(typeName));
    if (t->isColl() || t->isXml())
        raise(22913, "must specify table name for nested table column or attribute");
    if (tableExists(s, table)) raise(955, "name is already used by an existing object");
    std::string sql = "CREATE TABLE " + quoteIdent(table) + " (";
    for (size_t a = 0; a < t->attrs.size(); ++a)
        sql += (a ? ", " : "") + quoteIdent(t->attrs[a].name) + " " + t->attrs[a].declared;
    sql += ")";
    s.exec(ObjectTableCatalog);
    s.exec(ObjectIdCatalog);
    s.exec(sql);
    s.exec(objectIdTriggers(table));
    s.exec("INSERT OR REPLACE INTO oci_object_table(name, type_name) VALUES (" + sqlQuote(table) + ", " +
           sqlQuote(t->name) + ")");
    return true;
}

TypeDesc* refTypeOf(Session& s, const std::string& declared) {
    std::vector<Token> tk = tokenize(declared);
    if (!isWord(tk[0], "REF") || tk[1].kind != Token::Ident) return nullptr;
    size_t k = 1;
    return findType(s, "", dottedNameAt(tk, k));
}

// INSERT INTO object_table VALUES (type(a, b, ...)): the object is the row, so its arguments are the
// row's values.
std::string unwrapRowConstructor(Session& s, const std::string& text) {
    if (text.find('(') == std::string::npos) return text;
    std::vector<Token> tk = tokenize(text);
    size_t k = 0;
    if (!isWord(tk[k++], "INSERT") || !isWord(tk[k++], "INTO") || tk[k].kind != Token::Ident) return text;
    const std::string table = dottedNameAt(tk, k);
    if (!isWord(tk[k], "VALUES") || !isPunct(tk[k + 1], "(")) return text;
    const size_t open = k + 1, name = k + 2;
    if (tk[name].kind != Token::Ident) return text;
    size_t at = name;
    const std::string typeName = dottedNameAt(tk, at);
    if (!isPunct(tk[at], "(")) return text;
    const size_t inner = at;  // the constructor's opening parenthesis
    const size_t innerEnd = afterGroup(tk, inner) - 1;
    if (afterGroup(tk, open) != innerEnd + 2) return text;  // more than the one value
    try {
        TypeDesc* t = objectTableType(s, table);
        if (!t || findType(s, "", typeName) != t) return text;
    } catch (const OraException&) {
        return text;  // a function, not a type
    }
    return text.substr(0, tk[name].begin) + text.substr(tk[inner].end, tk[innerEnd].begin - tk[inner].end) +
           text.substr(tk[innerEnd].end);
}

std::string rewriteObjectSql(Session& s, const std::string& text) {
    const std::string utf8 = rewriteConstructors(s, unwrapRowConstructor(s, text));
    if (!mentionsObjects(utf8)) return utf8;
    std::vector<Token> tk = tokenize(utf8);
    std::map<std::string, std::string> tables;
    bool tablesRead = false;
    auto objectTables = [&]() -> const std::map<std::string, std::string>& {
        if (!tablesRead) tables = objectAliases(s, tk);
        tablesRead = true;
        return tables;
    };
    std::map<std::string, std::string> aliases;  // every table read, for REF columns
    bool aliasesRead = false;
    std::string out;
    size_t copied = 0;
    auto splice = [&](size_t from, size_t to, const std::string& text) {
        out.append(utf8, copied, from - copied);
        out += text;
        copied = to;
    };
    for (size_t k = 0; tk[k].kind != Token::End; ++k) {
        const Token& t = tk[k];
        if (t.kind != Token::Ident || t.quoted) continue;
        const bool sysQualified = k > 1 && isPunct(tk[k - 1], ".") && isWord(tk[k - 2], "SYS") &&
                                  !(k > 2 && isPunct(tk[k - 3], "."));
        if (k > 0 && isPunct(tk[k - 1], ".") && !(t.text == "XMLTYPE" && sysQualified)) continue;
        if (isPunct(tk[k + 1], ".") && tk[k + 2].kind == Token::Ident && isPunct(tk[k + 3], ".") &&
            tk[k + 4].kind == Token::Ident && t.text != "SYS" &&
            std::find(s.schemas.begin(), s.schemas.end(), t.text) == s.schemas.end()) {
            // alias.column.attribute[.attribute...] of an object column: the attribute of its value.
            size_t end = k + 4;
            std::string path = tk[k + 4].text;
            while (isPunct(tk[end + 1], ".") && tk[end + 2].kind == Token::Ident) {
                end += 2;
                path += "." + tk[end].text;
            }
            if (!aliasesRead) aliases = allAliases(s, tk);
            aliasesRead = true;
            TypeDesc* owner = nullptr;
            if (!isPunct(tk[end + 1], "(")) {
                const std::optional<Column> c =
                    objectColumnType(s, columnDecl(s, aliases, t.text, tk[k + 2].text));
                if (c && c->type.type == SQLT_NTY && c->typeName != "XMLTYPE")
                    owner = findType(s, "", c->typeName);
            }
            if (owner && !owner->isColl()) {
                if (!attrAtPath(owner, path)) raise(904, "\"" + path + "\": invalid identifier");
                splice(t.begin, tk[end].end,
                       "oci_objattr(" + sqlQuote(owner->name) + ", " +
                           utf8.substr(t.begin, tk[k + 2].end - t.begin) + ", " + sqlQuote(path) + ")");
                k = end;
                continue;
            }
        }
        if (isPunct(tk[k + 1], ".") && tk[k + 2].kind == Token::Ident && isPunct(tk[k + 3], ".") &&
            tk[k + 4].kind == Token::Ident && !isPunct(tk[k + 5], "(") && !isPunct(tk[k + 5], ".") &&
            t.text != "SYS" && std::find(s.schemas.begin(), s.schemas.end(), t.text) == s.schemas.end()) {
            // alias.column.attribute through a REF column: the attribute of the object it points to.
            if (!aliasesRead) aliases = allAliases(s, tk);
            aliasesRead = true;
            if (TypeDesc* target = refTypeOf(s, columnDecl(s, aliases, t.text, tk[k + 2].text))) {
                const std::string attr = tk[k + 4].text;
                if (std::none_of(target->attrs.begin(), target->attrs.end(),
                                 [&](const TypeAttr& a) { return a.name == attr; }))
                    raise(904, "\"" + attr + "\": invalid identifier");
                splice(t.begin, tk[k + 4].end,
                       "oci_refattr(" + sqlQuote(target->name) + ", " +
                           utf8.substr(t.begin, tk[k + 2].end - t.begin) + ", " + sqlQuote(attr) + ")");
                k += 4;
                continue;
            }
        }
        if ((t.text == "REF" || t.text == "VALUE") && isPunct(tk[k + 1], "(") &&
            tk[k + 2].kind == Token::Ident && isPunct(tk[k + 3], ")")) {
            auto it = objectTables().find(tk[k + 2].text);
            if (it == objectTables().end()) raise(904, "\"" + tk[k + 2].text + "\": invalid identifier");
            const std::string fn = t.text == "REF" ? "oci_ref(" : "oci_value(";
            splice(t.begin, tk[k + 3].end,
                   fn + sqlQuote(it->second) + ", " +
                       utf8.substr(tk[k + 2].begin, tk[k + 2].end - tk[k + 2].begin) + "._rowid_)");
            k += 3;
            continue;
        }
        if (t.text == "DEREF" && isPunct(tk[k + 1], "(")) {
            const size_t end = afterGroup(tk, k + 1);
            std::string alias, col;
            if (end == k + 4 && tk[k + 2].kind == Token::Ident) {
                col = tk[k + 2].text;
            } else if (end == k + 6 && tk[k + 2].kind == Token::Ident && isPunct(tk[k + 3], ".") &&
                       tk[k + 4].kind == Token::Ident) {
                alias = tk[k + 2].text;
                col = tk[k + 4].text;
            }
            TypeDesc* target = nullptr;
            if (!col.empty()) target = refTypeOf(s, columnDecl(s, allAliases(s, tk), alias, col));
            if (!target) raise(22806, "not an object or REF");
            splice(t.begin, tk[k + 1].end, "oci_deref(" + sqlQuote(target->name) + ", ");
            continue;
        }
        if (t.text == "XMLTYPE") {
            size_t open = k + 1;
            if (isPunct(tk[k + 1], ".") && (isWord(tk[k + 2], "CREATEXML")) && isPunct(tk[k + 3], "("))
                open = k + 3;
            if (!isPunct(tk[open], "(")) continue;
            const size_t from = sysQualified ? tk[k - 2].begin : t.begin;
            splice(from, tk[open].end, "oci_xml(");
            k = open;
            continue;
        }
    }
    out.append(utf8, copied, std::string::npos);
    out = rewriteXmlMethods(out);
    // expr.getClobVal() and expr.getStringVal(): the kept text is the value.
    for (const char* method : {"GETCLOBVAL", "GETSTRINGVAL"}) {
        for (;;) {
            std::vector<Token> t2 = tokenize(out);
            size_t hit = 0;
            for (size_t k = 1; t2[k].kind != Token::End; ++k)
                if (isWord(t2[k], method) && isPunct(t2[k - 1], ".") && isPunct(t2[k + 1], "(") &&
                    isPunct(t2[k + 2], ")")) {
                    hit = k;
                    break;
                }
            if (!hit) break;
            // The expression before the dot: a dotted name, or a call or parenthesised group.
            size_t first = hit - 2;
            if (isPunct(t2[first], ")")) {
                int depth = 0;
                for (size_t j = first + 1; j-- > 0;) {
                    if (isPunct(t2[j], ")")) ++depth;
                    if (isPunct(t2[j], "(") && --depth == 0) {
                        first = j;
                        break;
                    }
                }
                if (first > 0 && t2[first - 1].kind == Token::Ident) --first;
            } else {
                while (first >= 2 && isPunct(t2[first - 1], ".") && t2[first - 2].kind == Token::Ident)
                    first -= 2;
            }
            const std::string fn = std::strcmp(method, "GETCLOBVAL") == 0 ? "oci_xmlclob(" : "oci_xmlstr(";
            out = out.substr(0, t2[first].begin) + fn +
                  out.substr(t2[first].begin, t2[hit - 1].begin - t2[first].begin) + ")" +
                  out.substr(t2[hit + 2].end);
        }
    }
    return out;
}

void describeObjectItems(Session& s, const std::string& utf8, std::vector<Column>& columns) {
    if (utf8.find("oci_") == std::string::npos) return;
    std::vector<Token> tk = tokenize(utf8);
    size_t k = 0;
    while (tk[k].kind != Token::End && !isWord(tk[k], "SELECT")) ++k;
    if (tk[k].kind == Token::End) return;
    ++k;
    if (isWord(tk[k], "DISTINCT") || isWord(tk[k], "ALL")) ++k;
    // The select list's items, split at the outer commas.
    std::vector<std::pair<size_t, size_t>> items;
    size_t from = k;
    int depth = 0;
    for (; tk[k].kind != Token::End; ++k) {
        if (isPunct(tk[k], "(")) ++depth;
        if (isPunct(tk[k], ")")) --depth;
        if (depth == 0 && (isPunct(tk[k], ",") || isWord(tk[k], "FROM"))) {
            items.emplace_back(from, k);
            from = k + 1;
            if (isWord(tk[k], "FROM")) break;
        }
    }
    if (items.size() != columns.size()) return;
    for (size_t c = 0; c < items.size(); ++c) {
        const Token& head = tk[items[c].first];
        if (head.kind != Token::Ident || !isPunct(tk[items[c].first + 1], "(")) continue;
        Column& col = columns[c];
        const bool named = afterGroup(tk, items[c].first + 1) < items[c].second;  // an alias follows
        const Token& arg = tk[items[c].first + 2];
        if (head.text == "OCI_REF" || head.text == "OCI_VALUE" || head.text == "OCI_DEREF") {
            TypeDesc* t = head.text == "OCI_DEREF" ? findType(s, "", arg.text) : objectTableType(s, arg.text);
            if (!t) continue;
            col.type = TypeInfo{};
            col.type.type = head.text == "OCI_REF" ? SQLT_REF : SQLT_NTY;
            col.type.size = head.text == "OCI_REF" ? 4000 : 2000;
            col.typeSchema = t->schema;
            col.typeName = t->name;
            col.nullable = true;
            if (!named && head.text != "OCI_DEREF") {
                const Token& alias = tk[items[c].first + 4];
                col.name = std::string(head.text == "OCI_REF" ? "REF(" : "VALUE(") + alias.text + ")";
            }
        } else if (head.text == "OCI_OBJATTR") {
            const size_t close = afterGroup(tk, items[c].first + 1) - 1;
            const std::string path = tk[close - 1].text;
            if (const TypeAttr* a = attrAtPath(findType(s, "", arg.text), path)) {
                col.type = a->info;
                if (a->nested) {
                    col.type = TypeInfo{};
                    col.type.type = a->slot == Slot::Ref ? SQLT_REF : SQLT_NTY;
                    col.type.size = a->slot == Slot::Ref ? 4000 : 2000;
                    col.typeSchema = a->nested->schema;
                    col.typeName = a->nested->name;
                }
            }
            col.nullable = true;
            if (!named) col.name = tk[items[c].first + 6].text + "." + path;  // COLUMN.ATTRIBUTE...
        } else if (head.text == "OCI_REFATTR") {
            TypeDesc* t = findType(s, "", arg.text);
            const size_t close = afterGroup(tk, items[c].first + 1) - 1;
            const std::string attr = tk[close - 1].text;
            for (const TypeAttr& a : t->attrs) {
                if (a.name != attr) continue;
                col.type = a.info;
                if (a.nested) {
                    col.type = TypeInfo{};
                    col.type.type = a.slot == Slot::Ref ? SQLT_REF : SQLT_NTY;
                    col.type.size = a.slot == Slot::Ref ? 4000 : 2000;
                    col.typeSchema = a.nested->schema;
                    col.typeName = a.nested->name;
                }
            }
            col.nullable = true;
            if (!named) col.name = tk[items[c].first + 6].text + "." + attr;  // COLUMN.ATTRIBUTE
        } else if (head.text == "OCI_XML") {
            col.type = TypeInfo{};
            col.type.type = SQLT_NTY;
            col.type.size = 2000;
            col.typeSchema = "SYS";
            col.typeName = "XMLTYPE";
            if (!named)
                col.name = "XMLTYPE" + upper(col.name.size() > 7 ? col.name.substr(7) : std::string());
        } else if (describeXmlItem(head.text, col) || describeConstructorItem(s, head, arg, col)) {
            // typed by the XPath function or the constructor's type
        } else if (head.text == "OCI_XMLCLOB") {
            col.type = TypeInfo{SQLT_CLOB, 4000, 0, 0, 0, 1};
        } else if (head.text == "OCI_XMLSTR") {
            col.type = TypeInfo{SQLT_CHR, 4000, 0, 0, 0, 1};
        }
    }
}

void registerObjectFunctions(Session& s) {
    sqlite3_create_function(s.db, "oci_ref", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &s, fnRef, nullptr,
                            nullptr);
    sqlite3_create_function(s.db, "oci_value", 2, SQLITE_UTF8, &s, fnValue, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_deref", 2, SQLITE_UTF8, &s, fnDeref, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_refattr", 3, SQLITE_UTF8, &s, fnRefAttr, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_objattr", 3, SQLITE_UTF8, &s, fnObjAttr, nullptr, nullptr);
    registerXmlFunctions(s);
    registerConstructorFunction(s);
}

// ---- REF binds and defines ----------------------------------------------------------------------------

namespace {

void* cellOf(void** base, ub4 row, ub4 skip) {
    if (!base) return nullptr;
    void* v = nullptr;
    std::memcpy(&v, reinterpret_cast<char*>(base) + static_cast<size_t>(row) * (skip ? skip : PtrCell),
                sizeof v);
    return v;
}

void setCell(void** base, ub4 row, ub4 skip, void* v) {
    std::memcpy(reinterpret_cast<char*>(base) + static_cast<size_t>(row) * (skip ? skip : PtrCell), &v,
                sizeof v);
}

}  // namespace

Value refBindValue(const Bind& b, ub4 iteration) {
    if (b.indp) {
        sb2 ind = 0;
        std::memcpy(&ind, b.indp + static_cast<size_t>(iteration) * (b.indSkip ? b.indSkip : 2), sizeof ind);
        if (ind == OCI_IND_NULL) return Value::null();
    }
    void* p = cellOf(b.objectCells, iteration, b.valueSkip);
    if (!p) return Value::null();
    RefBody* r = liveRef(p);
    if (r->table.empty()) return Value::null();
    return Value::ofText(refText(r->table, r->rowid));
}

void refDefineWrite(Define& d, ub4 row, const Value& v, Session& s) {
    if (!d.objectCells) raise(1008, "not all variables bound");
    void* p = cellOf(d.objectCells, row, d.valueSkip);
    RefBody* r = p ? refOf(p) : nullptr;
    if (!r) {
        r = static_cast<RefBody*>(newRef(d.objectType ? typeOf(d.objectType) : nullptr));
        setCell(d.objectCells, row, d.valueSkip, r);
    }
    r->table.clear();
    r->rowid = 0;
    r->session = &s;
    r->dbPath = s.dbPath;
    if (!v.isNull() && !parseRefText(v.kind == Value::Text ? v.s : std::string(), r->table, r->rowid))
        raise(22806, "not an object or REF");
    if (!r->type && !r->table.empty()) r->type = objectTableType(s, r->table);
    if (char* ip = d.indp ? d.indp + static_cast<size_t>(row) * (d.indSkip ? d.indSkip : 2) : nullptr) {
        const sb2 ind = v.isNull() ? OCI_IND_NULL : OCI_IND_NOTNULL;
        std::memcpy(ip, &ind, sizeof ind);
    }
}

void refBindWrite(Bind& b, ub4 iteration, const Value& v, Session& s) {
    if (!b.objectCells) raise(1008, "not all variables bound");
    std::string table;
    int64_t rowid = 0;
    if (!v.isNull() && !parseRefText(v.kind == Value::Text ? v.s : std::string(), table, rowid))
        raise(932, "inconsistent datatypes: expected REF got CHAR");
    void* p = cellOf(b.objectCells, iteration, b.valueSkip);
    RefBody* r = p ? refOf(p) : nullptr;
    if (!r) {
        r = static_cast<RefBody*>(newRef(b.objectType ? typeOf(b.objectType) : nullptr));
        setCell(b.objectCells, iteration, b.valueSkip, r);
    }
    r->table = table;
    r->rowid = rowid;
    r->session = &s;
    r->dbPath = s.dbPath;
    if (!r->type && !r->table.empty()) r->type = objectTableType(s, r->table);
    if (b.indp) {
        const sb2 ind = v.isNull() ? OCI_IND_NULL : OCI_IND_NOTNULL;
        std::memcpy(b.indp + static_cast<size_t>(iteration) * (b.indSkip ? b.indSkip : 2), &ind, sizeof ind);
    }
}

void forgetPinned(void* instance) {
    std::lock_guard<std::mutex> g(pinLock);
    pinned.erase(instance);
}

void* newRef(TypeDesc* type) {
    auto* r = new RefBody;
    r->type = type;
    std::lock_guard<std::mutex> g(refLock);
    refs.insert(r);
    return r;
}

bool isRef(const void* p) {
    return refOf(p) != nullptr;
}

void copyRef(const void* from, void* to) {
    RefBody* target = liveRef(to);
    if (!from) {
        target->table.clear();
        target->rowid = 0;
        return;
    }
    RefBody* source = liveRef(from);
    if (source == target) return;
    TypeDesc* type = target->type ? target->type : source->type;
    *target = *source;
    target->type = type;
}

std::string refCellText(const void* ref) {
    RefBody* r = liveRef(ref);
    return r->table.empty() ? std::string() : refText(r->table, r->rowid);
}

void setRefCellText(void* ref, const std::string& text) {
    RefBody* r = liveRef(ref);
    r->table.clear();
    r->rowid = 0;
    if (!text.empty() && !parseRefText(text, r->table, r->rowid)) raise(22806, "not an object or REF");
}

bool isRefText(const std::string& text) {
    std::string table;
    int64_t rowid = 0;
    return parseRefText(text, table, rowid);
}

void setRefSession(void* ref, Session& s) {
    RefBody* r = liveRef(ref);
    r->session = &s;
    r->dbPath = s.dbPath;
}

bool freeRef(void* p) {
    std::lock_guard<std::mutex> g(refLock);
    auto it = refs.find(static_cast<RefBody*>(p));
    if (it == refs.end()) return false;
    delete *it;
    refs.erase(it);
    return true;
}

}  // namespace oci

using namespace oci;

namespace {

Error* errorOf(OCIError* errhp) {
    return handleAs<Error>(errhp, OCI_HTYPE_ERROR);
}

}  // namespace

extern "C" {

boolean OCIRefIsNull(OCIEnv*, const OCIRef* ref) {
    RefBody* r = ref ? refOf(ref) : nullptr;
    return !r || r->table.empty();
}

void OCIRefClear(OCIEnv*, OCIRef* ref) {
    if (RefBody* r = ref ? refOf(ref) : nullptr) {
        r->table.clear();
        r->rowid = 0;
    }
}

sword OCIRefAssign(OCIEnv*, OCIError* err, const OCIRef* source, OCIRef** target) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!target) raise(21560, "argument 4 is null, invalid, or out of range");
        RefBody* from = liveRef(source);
        RefBody* to = *target ? liveRef(*target) : static_cast<RefBody*>(newRef(from->type));
        *to = *from;
        *target = reinterpret_cast<OCIRef*>(to);
        return OCI_SUCCESS;
    });
}

boolean OCIRefIsEqual(OCIEnv*, const OCIRef* x, const OCIRef* y) {
    RefBody* a = x ? refOf(x) : nullptr;
    RefBody* b = y ? refOf(y) : nullptr;
    if (!a || !b) return a == b;
    return a->table == b->table && a->rowid == b->rowid && a->dbPath == b->dbPath;
}

sword OCIRefToHex(OCIEnv*, OCIError* err, const OCIRef* ref, OraText* hex, ub4* hex_length) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!hex || !hex_length) raise(21560, "argument 4 is null, invalid, or out of range");
        RefBody* r = liveRef(ref);
        const std::string text = r->table.empty() ? std::string() : refText(r->table, r->rowid);
        if (text.size() > *hex_length) raise(22813, "operand value exceeds system limits");
        std::memcpy(hex, text.data(), text.size());
        *hex_length = static_cast<ub4>(text.size());
        return OCI_SUCCESS;
    });
}

sword OCIObjectPin(OCIEnv*, OCIError* err, OCIRef* object_ref, OCIComplexObject*, ub2, OCIDuration, ub2,
                   void** object) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!object) raise(21560, "argument 8 is null, invalid, or out of range");
        RefBody* r = liveRef(object_ref);
        if (r->table.empty()) raise(22805, "cannot pin a null REF");
        Session& s = pinSession(r->session);
        const std::string key = pinKey(r->dbPath, r->table, r->rowid);
        {
            std::lock_guard<std::mutex> g(pinLock);
            for (auto& [instance, p] : pinned)
                if (!p.deleted && pinKey(p.dbPath, p.table, p.rowid) == key) {
                    ++p.pins;
                    *object = instance;
                    return OCI_SUCCESS;
                }
        }
        TypeDesc* t = objectTableType(s, r->table);
        if (!t) raise(21700, "object does not exist or is marked for delete");
        void* instance = readRowObject(s, t, r->table, r->rowid);
        if (!instance) raise(21700, "object does not exist or is marked for delete");
        Pinned p;
        p.type = t;
        p.table = r->table;
        p.rowid = r->rowid;
        p.dbPath = r->dbPath;
        p.session = &s;
        p.pins = 1;
        std::lock_guard<std::mutex> g(pinLock);
        pinned.emplace(instance, p);
        *object = instance;
        return OCI_SUCCESS;
    });
}

sword OCIObjectUnpin(OCIEnv*, OCIError* err, void* object) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!object) raise(21560, "argument 3 is null, invalid, or out of range");
        std::unique_lock<std::mutex> g(pinLock);
        auto it = pinned.find(object);
        if (it == pinned.end()) {
            if (!instanceOf(object) && !isXml(object) && !collOfOrNull(object))
                raise(21710, "argument is expecting a valid memory address of an object");
            return OCI_SUCCESS;  // a transient value has no pins to count
        }
        if (it->second.pins > 0) --it->second.pins;
        // An unpinned object without changes to write leaves the cache.
        if (it->second.pins == 0 && !it->second.dirty) {
            pinned.erase(it);
            g.unlock();
            dropInstance(object);
        }
        return OCI_SUCCESS;
    });
}

namespace {

sword markPinned(OCIError* err, void* object, bool deleting) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!object) raise(21560, "argument 3 is null, invalid, or out of range");
        std::lock_guard<std::mutex> g(pinLock);
        auto it = pinned.find(object);
        if (it == pinned.end()) {
            if (!instanceOf(object))
                raise(21710, "argument is expecting a valid memory address of an object");
            raise(21603, "property id [" + std::string(deleting ? "delete" : "update") +
                             "] is invalid for a "
                             "transient object");
        }
        it->second.dirty = true;
        if (deleting) it->second.deleted = true;
        return OCI_SUCCESS;
    });
}

}  // namespace

sword OCIObjectMarkUpdate(OCIEnv*, OCIError* err, void* object) {
    return markPinned(err, object, false);
}

sword OCIObjectMarkDelete(OCIEnv*, OCIError* err, void* object) {
    return markPinned(err, object, true);
}

sword OCIObjectFlush(OCIEnv*, OCIError* err, void* object) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!object) raise(21560, "argument 3 is null, invalid, or out of range");
        Pinned copy;
        {
            std::lock_guard<std::mutex> g(pinLock);
            auto it = pinned.find(object);
            if (it == pinned.end()) {
                if (!instanceOf(object))
                    raise(21710, "argument is expecting a valid memory address of an object");
                return OCI_SUCCESS;  // a transient object has nothing to write
            }
            if (!it->second.dirty) return OCI_SUCCESS;
            copy = it->second;
        }
        writeBack(copy, object);
        std::unique_lock<std::mutex> g(pinLock);
        auto it = pinned.find(object);
        if (it == pinned.end()) return OCI_SUCCESS;
        it->second.dirty = false;
        if (it->second.pins == 0) {
            pinned.erase(it);
            g.unlock();
            dropInstance(object);
        }
        return OCI_SUCCESS;
    });
}

sword OCIObjectGetObjectRef(OCIEnv*, OCIError* err, void* object, OCIRef* object_ref) {
    return guarded(errorOf(err), [&]() -> sword {
        RefBody* r = liveRef(object_ref);
        std::lock_guard<std::mutex> g(pinLock);
        auto it = pinned.find(object);
        if (it == pinned.end()) raise(21710, "argument is expecting a valid memory address of an object");
        r->type = it->second.type;
        r->table = it->second.table;
        r->rowid = it->second.rowid;
        r->dbPath = it->second.dbPath;
        r->session = it->second.session;
        return OCI_SUCCESS;
    });
}

}  // extern "C"
