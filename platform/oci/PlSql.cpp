// Anonymous PL/SQL blocks, the catalog of stored procedures and their describe.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/oci/Guard.h"
#include "platform/oci/ObjectTypes.h"
#include "platform/oci/StandIn.h"

namespace oci {

// ---- tokens -------------------------------------------------------------------------------------

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (static_cast<unsigned char>(c) <= ' ') {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            auto e = s.find("*/", i + 2);
            i = e == std::string::npos ? s.size() : e + 2;
            continue;
        }
        Token t;
        t.begin = i;
        if (c == '\'') {
            t.kind = Token::String;
            ++i;
            while (i < s.size()) {
                if (s[i] == '\'') {
                    if (i + 1 < s.size() && s[i + 1] == '\'') {
                        t.text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text += s[i++];
            }
        } else if (c == '"') {
            t.kind = Token::Ident;
            t.quoted = true;
            auto e = s.find('"', i + 1);
            e = e == std::string::npos ? s.size() : e;
            t.text = s.substr(i + 1, e - i - 1);
            i = std::min(e + 1, s.size());
        } else if (c == ':' && i + 1 < s.size() && (identChar(s[i + 1]) || s[i + 1] == '"')) {
            t.kind = Token::Marker;
            size_t b = ++i;
            if (s[i] == '"') {
                auto e = s.find('"', i + 1);
                i = e == std::string::npos ? s.size() : e + 1;
            } else {
                while (i < s.size() && identChar(s[i])) ++i;
            }
            t.text = markerKey(s.substr(b, i - b));
        } else if (identStart(c)) {
            t.kind = Token::Ident;
            size_t b = i;
            while (i < s.size() && identChar(s[i])) ++i;
            t.text = upper(s.substr(b, i - b));
        } else if ((c >= '0' && c <= '9') ||
                   (c == '.' && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9')) {
            t.kind = Token::Number;
            size_t b = i;
            while (i < s.size() &&
                   ((s[i] >= '0' && s[i] <= '9') || s[i] == '.' || s[i] == 'e' || s[i] == 'E'))
                ++i;
            t.text = s.substr(b, i - b);
        } else {
            t.kind = Token::Punct;
            static const char* const pairs[] = {":=", "=>", "||", "<=", ">=", "<>", "!=", "=="};
            std::string two = s.substr(i, 2);
            if (std::find(std::begin(pairs), std::end(pairs), two) != std::end(pairs)) {
                t.text = s.substr(i, 2);
                i += 2;
            } else {
                t.text = std::string(1, c);
                ++i;
            }
        }
        t.end = i;
        out.push_back(t);
    }
    Token end;
    end.begin = end.end = s.size();
    out.push_back(end);
    return out;
}

namespace {

// ---- catalog ------------------------------------------------------------------------------------------

struct Arg {
    int position = 0;
    std::string name;  // upper case; empty for a function result
    std::string dataType;
    int direction = OCI_TYPEPARAM_IN;
    TypeInfo type;
    std::string typeSchema, typeName;  // the type of an object argument, or the one a REF points to
    std::optional<std::string> defaultValue;
};

// One statement of a routine's body, lexed once. Its SQLite statement is prepared at its first
// run and kept with the routine, so a call does not parse its body again; SQLite itself prepares
// a kept statement again after a schema change.
// REF type: a REF argument, described with the type it points to.
std::optional<TypeInfo> refArgType(Session& s, Arg& a) {
    TypeDesc* target = nullptr;
    try {
        target = refTypeOf(s, a.dataType);
    } catch (const OraException&) {
        return std::nullopt;  // no such type: the argument's type is unknown
    }
    if (!target) return std::nullopt;
    a.typeSchema = target->schema;
    a.typeName = target->name;
    TypeInfo t;
    t.type = SQLT_REF;
    t.size = static_cast<ub2>(sizeof(void*));
    return t;
}

// An object, collection or XMLTYPE argument, described with its type: SQLT_NTY for objects and
// XMLTYPE, 122 for a nested table, 123 for a VARRAY.
std::optional<TypeInfo> objectArgType(Session& s, Arg& a) {
    std::optional<Column> c;
    try {
        c = objectColumnType(s, a.dataType);
    } catch (const OraException&) {
        return std::nullopt;
    }
    if (!c || c->type.type != SQLT_NTY) return std::nullopt;
    a.typeSchema = c->typeSchema;
    a.typeName = c->typeName;
    TypeInfo t;
    t.type = SQLT_NTY;
    if (c->typeName != "XMLTYPE") {
        TypeDesc* desc = findType(s, c->typeSchema, c->typeName);
        if (desc->isColl()) t.type = desc->collCode == OCI_TYPECODE_VARRAY ? 123 : 122;
    }
    t.size = static_cast<ub2>(sizeof(void*));
    return t;
}

struct BodyStatement {
    std::string text;  // as written
    Lexed lexed;
    bool open = false;  // OPEN :cursor FOR <query>
    sqlite3_stmt* st = nullptr;
    std::vector<std::string> keys;  // the parameter each SQLite parameter takes; empty: unnamed
    bool busy = false;              // running now: a nested run prepares its own
};

// The statements of a body, made at the first call. Lives as long as the session keeps the routine
// (see loadRoutines), which the session drops before it closes its database.
struct BodyPlan {
    BodyPlan() = default;
    BodyPlan(const BodyPlan&) = delete;
    BodyPlan& operator=(const BodyPlan&) = delete;
    ~BodyPlan() {
        for (BodyStatement& b : statements) sqlite3_finalize(b.st);
    }
    bool built = false;
    std::vector<BodyStatement> statements;
};

struct Routine {
    std::string package, name;  // upper case
    int overload = 0;
    bool function = false;
    std::string body;
    std::vector<Arg> args;  // position order; a function's result first, at position 0
    std::shared_ptr<BodyPlan> plan = std::make_shared<BodyPlan>();
    std::string fullName() const { return package.empty() ? name : package + "." + name; }
};

std::string colText(sqlite3_stmt* st, int c) {
    const unsigned char* p = sqlite3_column_text(st, c);
    return p ? reinterpret_cast<const char*>(p) : "";
}

[[noreturn]] void plsError(const std::string& pls) {
    raise(6550, "line 1, column 7:\n" + pls);
}

std::vector<Routine> readRoutines(Session& s, const std::string& pkg, const std::string& name) {
    std::vector<Routine> out;
    sqlite3_stmt* st = nullptr;
    const char* sql =
        "SELECT upper(ifnull(package, '')), upper(name), ifnull(overload, 0), upper(ifnull(kind, "
        "'PROCEDURE')), "
        "ifnull(body, '') FROM oci_procedure WHERE upper(ifnull(package, '')) = ? AND (? = '' OR upper(name) "
        "= ?) "
        "ORDER BY upper(name), ifnull(overload, 0)";
    if (sqlite3_prepare_v2(s.db, sql, -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return out;
    }
    sqlite3_bind_text(st, 1, pkg.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Routine r;
        r.package = colText(st, 0);
        r.name = colText(st, 1);
        r.overload = sqlite3_column_int(st, 2);
        r.function = colText(st, 3) == "FUNCTION";
        r.body = colText(st, 4);
        out.push_back(r);
    }
    sqlite3_finalize(st);
    const char* argSql =
        "SELECT ifnull(position, 0), upper(ifnull(argument, '')), upper(ifnull(data_type, 'VARCHAR2')), "
        "upper(ifnull(direction, 'IN')), data_length, data_precision, data_scale, default_value FROM "
        "oci_argument "
        "WHERE upper(ifnull(package, '')) = ? AND upper(name) = ? AND ifnull(overload, 0) = ? ORDER BY "
        "position";
    for (Routine& r : out) {
        if (sqlite3_prepare_v2(s.db, argSql, -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            raise(942);
        }
        sqlite3_bind_text(st, 1, r.package.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, r.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 3, r.overload);
        while (sqlite3_step(st) == SQLITE_ROW) {
            Arg a;
            a.position = sqlite3_column_int(st, 0);
            a.name = colText(st, 1);
            a.dataType = colText(st, 2);
            std::string dir = colText(st, 3);
            a.direction = dir == "OUT"                                             ? OCI_TYPEPARAM_OUT
                          : (dir == "IN/OUT" || dir == "IN OUT" || dir == "INOUT") ? OCI_TYPEPARAM_INOUT
                                                                                   : OCI_TYPEPARAM_IN;
            auto t = parseDeclaredType(a.dataType, true);
            if (!t) t = refArgType(s, a);
            if (!t) t = objectArgType(s, a);
            if (!t) {
                sqlite3_finalize(st);
                raise(6550, "line 1, column 7:\nPLS-00201: identifier '" + a.dataType + "' must be declared");
            }
            a.type = *t;
            if (sqlite3_column_type(st, 4) != SQLITE_NULL)
                a.type.size = static_cast<ub2>(sqlite3_column_int(st, 4));
            if (sqlite3_column_type(st, 5) != SQLITE_NULL)
                a.type.precision = static_cast<sb2>(sqlite3_column_int(st, 5));
            if (sqlite3_column_type(st, 6) != SQLITE_NULL)
                a.type.scale = static_cast<sb1>(sqlite3_column_int(st, 6));
            if (sqlite3_column_type(st, 7) != SQLITE_NULL) a.defaultValue = colText(st, 7);
            if (a.position == 0) {
                a.name.clear();
                a.direction = OCI_TYPEPARAM_OUT;
            }
            r.args.push_back(a);
        }
        sqlite3_finalize(st);
    }
    return out;
}

using Routines = std::shared_ptr<const std::vector<Routine>>;

// What the PL/SQL runner keeps in a session (Session::routineCache): the routines read, and the
// statements of the savepoint that makes a block one statement, prepared once.
struct RoutineCache {
    RoutineCache() = default;
    RoutineCache(const RoutineCache&) = delete;
    RoutineCache& operator=(const RoutineCache&) = delete;
    ~RoutineCache() {
        for (sqlite3_stmt* st : savepoint) sqlite3_finalize(st);
    }
    std::map<std::pair<std::string, std::string>, Routines> routines;
    enum { Set, Rollback, Release };
    sqlite3_stmt* savepoint[3] = {nullptr, nullptr, nullptr};
};

// The overloads of a routine (every routine of a package when name is empty), from the session's
// cache while the catalog has not changed: a call no longer scans the catalog each time.
Routines loadRoutines(Session& s, const std::string& pkg, const std::string& name) {
    if (s.catalogDirty) return std::make_shared<const std::vector<Routine>>(readRoutines(s, pkg, name));
    if (!s.routineCacheValid()) s.routineCache = std::make_shared<RoutineCache>();
    auto& cache = static_cast<RoutineCache*>(s.routineCache.get())->routines;
    auto key = std::make_pair(pkg, name);
    if (const auto it = cache.find(key); it != cache.end()) return it->second;
    Routines routines = std::make_shared<const std::vector<Routine>>(readRoutines(s, pkg, name));
    cache.emplace(std::move(key), routines);
    return routines;
}

// Runs one step of the block's savepoint: from the session's kept statements when it has them.
int savepointStep(Session& s, int which) {
    static const char* const texts[] = {"SAVEPOINT \"OCI$BLOCK\"", "ROLLBACK TO SAVEPOINT \"OCI$BLOCK\"",
                                        "RELEASE SAVEPOINT \"OCI$BLOCK\""};
    auto* cache = static_cast<RoutineCache*>(s.routineCache.get());
    if (!cache) return sqlite3_exec(s.db, texts[which], nullptr, nullptr, nullptr);
    sqlite3_stmt*& st = cache->savepoint[which];
    if (!st) {
        const int rc = sqlite3_prepare_v3(s.db, texts[which], -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
        if (rc != SQLITE_OK) return rc;
    }
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

bool isUser(Session& s, const std::string& name) {
    sqlite3_stmt* st = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(s.db, "SELECT 1 FROM oci_user WHERE upper(name) = ?", -1, &st, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        found = sqlite3_step(st) == SQLITE_ROW;
    }
    sqlite3_finalize(st);
    return found;
}

}  // namespace

std::vector<std::string> splitName(const std::string& name) {
    std::vector<std::string> parts;
    std::string cur;
    bool quoted = false;
    for (char c : name) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '.' && !quoted) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    parts.push_back(cur);
    for (auto& p : parts) p = trim(p);
    return parts;
}

namespace {

// The target (schema, name) of the synonym name as the schema sees it: its own synonym first, then
// a public one. None when the catalog has no synonyms or no such synonym.
std::optional<std::pair<std::string, std::string>> findSynonym(Session& s, const std::string& schema,
                                                               const std::string& name) {
    sqlite3_stmt* st = nullptr;
    std::optional<std::pair<std::string, std::string>> found;
    const char* sql =
        "SELECT upper(ifnull(target_owner, ifnull(owner, ?))), upper(target_name) FROM oci_synonym "
        "WHERE upper(name) = ? AND (upper(owner) = ? OR owner IS NULL OR upper(owner) = 'PUBLIC') "
        "ORDER BY owner IS NULL OR upper(owner) = 'PUBLIC' LIMIT 1";
    if (sqlite3_prepare_v2(s.db, sql, -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, schema.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, schema.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW) found.emplace(colText(st, 0), colText(st, 1));
    }
    sqlite3_finalize(st);
    return found;
}

// Finds the overloads a call names: [schema.]package.routine or [schema.]routine, through
// synonyms of the routine or of its package.
Routines findRoutines(Session& s, const std::vector<std::string>& parts, int depth = 0) {
    Routines r = std::make_shared<const std::vector<Routine>>();
    if (parts.size() == 1) {
        r = loadRoutines(s, "", parts[0]);
    } else if (parts.size() == 2) {
        r = loadRoutines(s, parts[0], parts[1]);
        if (r->empty() && isUser(s, parts[0])) r = loadRoutines(s, "", parts[1]);
    } else if (parts.size() == 3 && isUser(s, parts[0])) {
        r = loadRoutines(s, parts[1], parts[2]);
    }
    if (!r->empty() || parts.empty() || depth > 8) return r;
    const bool owned = parts.size() > 1 && isUser(s, parts[0]);
    const size_t k = owned ? 1 : 0;
    if (k >= parts.size()) return r;
    auto target = findSynonym(s, owned ? parts[0] : s.schema, parts[k]);
    if (!target) return r;
    std::vector<std::string> resolved{target->first, target->second};
    resolved.insert(resolved.end(), parts.begin() + static_cast<std::ptrdiff_t>(k) + 1, parts.end());
    return findRoutines(s, resolved, depth + 1);
}

// Splits a procedure body into statements at semicolons outside literals and comments.
std::vector<std::string> splitStatements(const std::string& body) {
    std::vector<std::string> out;
    std::string cur;
    size_t i = 0;
    while (i < body.size()) {
        char c = body[i];
        if (c == '\'' || c == '"') {
            size_t e = i + 1;
            while (e < body.size()) {
                if (body[e] == c) {
                    if (c == '\'' && e + 1 < body.size() && body[e + 1] == '\'') {
                        e += 2;
                        continue;
                    }
                    break;
                }
                ++e;
            }
            e = std::min(e + 1, body.size());
            cur.append(body, i, e - i);
            i = e;
        } else if (c == '-' && i + 1 < body.size() && body[i + 1] == '-') {
            while (i < body.size() && body[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < body.size() && body[i + 1] == '*') {
            auto e = body.find("*/", i + 2);
            i = e == std::string::npos ? body.size() : e + 2;
        } else if (c == ';') {
            if (!trim(cur).empty()) out.push_back(trim(cur));
            cur.clear();
            ++i;
        } else {
            cur += c;
            ++i;
        }
    }
    if (!trim(cur).empty()) out.push_back(trim(cur));
    return out;
}

// ---- running a block ----------------------------------------------------------------------------------

struct ArgRef {
    std::string named;  // formal name in named notation
    bool isRef = false;
    bool isMarker = false;
    std::string ref;  // marker key or variable name
    Value value;      // evaluated value for inputs
};

// The tokens of a block text. A program runs a few blocks again and again (a call per item of a
// package, the lists of several kinds taking turns), so the tokens of the last few texts are kept.
std::shared_ptr<const std::vector<Token>> blockTokens(const std::string& text) {
    struct Entry {
        std::string text;
        std::shared_ptr<const std::vector<Token>> tokens;
    };
    constexpr size_t kKept = 8;
    // Kept for the process (no thread-local objects: the library is loaded and unloaded at run time).
    static std::mutex lock;
    static std::vector<Entry> kept;
    static size_t next = 0;
    std::lock_guard<std::mutex> hold(lock);
    for (const Entry& e : kept)
        if (e.text == text) return e.tokens;
    Entry e{text, std::make_shared<const std::vector<Token>>(tokenize(text))};
    if (kept.size() < kKept) {
        kept.push_back(std::move(e));
        return kept.back().tokens;
    }
    Entry& slot = kept[next];
    next = (next + 1) % kKept;
    slot = std::move(e);
    return slot.tokens;
}

class BlockRunner {
public:
    BlockRunner(Session& s, Stmt& st) : s_(s), st_(st), tokens_(blockTokens(st.text)), toks_(*tokens_) {}

    void run() {
        // The outputs are given back inside the block's statement: one that cannot be takes the
        // block's changes with it, as any failure of the statement does.
        try {
            block();
            for (auto& [key, v] : outs_) {
                Bind* b = findBind(key);
                if (!b) raise(1008);
                if (b->dty == SQLT_REF)
                    refBindWrite(*b, 0, v, s_);
                else if (b->dty == SQLT_NTY)
                    objectBindWrite(*b, 0, v, s_);
                else
                    b->write(0, v);
            }
        } catch (...) {
            endAtomic(false);
            throw;
        }
        endAtomic(true);
    }

private:
    Session& s_;
    Stmt& st_;
    std::shared_ptr<const std::vector<Token>> tokens_;
    const std::vector<Token>& toks_;
    size_t i_ = 0;
    std::map<std::string, Value> vars_;
    std::map<std::string, Value> outs_;
    bool atomic_ = false;

    // The whole block is one statement: its changes go when it fails.
    void beginAtomic() {
        if (atomic_) return;
        s_.beginWork();
        if (const int rc = savepointStep(s_, RoutineCache::Set); rc != SQLITE_OK) s_.raiseSqlite(rc);
        atomic_ = true;
    }
    void endAtomic(bool ok) {
        if (!atomic_ || !s_.db) return;
        if (!ok) savepointStep(s_, RoutineCache::Rollback);
        savepointStep(s_, RoutineCache::Release);
        atomic_ = false;
    }

    const Token& peek(size_t k = 0) const { return toks_[std::min(i_ + k, toks_.size() - 1)]; }
    bool isWord(const char* w, size_t k = 0) const {
        return peek(k).kind == Token::Ident && peek(k).text == w;
    }
    bool isPunct(const char* p, size_t k = 0) const {
        return peek(k).kind == Token::Punct && peek(k).text == p;
    }
    [[noreturn]] void syntax() const {
        const Token& t = peek();
        std::string found = t.kind == Token::End ? "end-of-file" : t.text;
        raise(6550, "line 1, column " + std::to_string(t.begin + 1) +
                        ":\nPLS-00103: Encountered the symbol \"" + found + "\"");
    }
    void expectPunct(const char* p) {
        if (!isPunct(p)) syntax();
        ++i_;
    }
    void expectWord(const char* w) {
        if (!isWord(w)) syntax();
        ++i_;
    }
    void skipTo(const char* p) {
        while (peek().kind != Token::End && !isPunct(p)) ++i_;
        expectPunct(p);
    }

    Bind* findBind(const std::string& key) const {
        for (Bind* b : st_.binds)
            if (b->name == key) return b;
        return nullptr;
    }
    Value readMarker(const std::string& key) {
        auto it = outs_.find(key);
        if (it != outs_.end()) return it->second;
        Bind* b = findBind(key);
        if (!b) raise(1008);
        if (b->maxarr > 0) raise(3001);  // PL/SQL tables are not offered
        return b->read(0);
    }
    void assign(bool marker, const std::string& name, const Value& v) {
        if (marker) {
            outs_[name] = v;
        } else {
            if (!vars_.count(name)) plsError("PLS-00201: identifier '" + name + "' must be declared");
            vars_[name] = v;
        }
    }

    void block() {
        std::string text = upper(st_.text);
        if (text.find("NLS_SESSION_PARAMETERS") != std::string::npos) return nlsBlock();
        if (isWord("DECLARE")) {
            ++i_;
            while (!isWord("BEGIN")) {
                if (peek().kind != Token::Ident) syntax();
                if (isWord("CURSOR")) {
                    declareCursor();
                    continue;
                }
                std::string name = peek().text;
                ++i_;
                bool rowType = false;
                while (peek().kind != Token::End && !isPunct(":=") && !isPunct(";")) {  // the type
                    if (isPunct("%") && isWord("ROWTYPE", 1)) rowType = true;
                    ++i_;
                }
                if (rowType) records_[name];
                Value v;
                if (isPunct(":=")) {
                    ++i_;
                    v = expr();
                }
                expectPunct(";");
                vars_[name] = v;
            }
        }
        expectWord("BEGIN");
        while (!isWord("END")) {
            if (peek().kind == Token::End) syntax();
            statement();
        }
        ++i_;
        if (peek().kind == Token::Ident) ++i_;
        if (isPunct(";")) ++i_;
        if (peek().kind != Token::End) syntax();
    }

    void statement() {
        if (isWord("NULL") && isPunct(";", 1)) {
            i_ += 2;
            return;
        }
        if (isWord("COMMIT")) {
            endAtomic(true);
            s_.commit();
            return skipTo(";");
        }
        if (isWord("ROLLBACK")) {
            ++i_;
            if (isWord("WORK")) ++i_;
            if (isWord("TO")) {
                ++i_;
                if (isWord("SAVEPOINT")) ++i_;
                std::string name = peek().text;
                ++i_;
                s_.rollbackTo(name);
            } else {
                endAtomic(true);
                s_.rollback();
            }
            return expectPunct(";");
        }
        if (isWord("SAVEPOINT")) {
            std::string name = peek(1).text;
            i_ += 2;
            s_.savepoint(name);
            return expectPunct(";");
        }
        if (isWord("SET") && isWord("TRANSACTION", 1)) {
            // Only another SET TRANSACTION may come before it in its transaction.
            if (s_.inTxn) raise(1453, "SET TRANSACTION must be first statement of transaction");
            s_.localTransactionId(true);
            return skipTo(";");
        }
        if (isWord("SELECT")) return selectInto();
        if (isWord("IF")) return ifStatement();
        if (isWord("WHILE")) return whileStatement();
        if (isWord("FOR")) return forStatement();
        if (isWord("INSERT") || isWord("UPDATE") || isWord("DELETE")) return dml();
        if ((peek().kind == Token::Marker || peek().kind == Token::Ident) && isPunct(":=", 1)) {
            bool marker = peek().kind == Token::Marker;
            std::string name = peek().text;
            i_ += 2;
            Value v = needsSql() ? sqlValue() : expr();
            assign(marker, name, v);
            return expectPunct(";");
        }
        if (peek().kind != Token::Ident) syntax();
        call(false);
        expectPunct(";");
    }

    // An INSERT, UPDATE or DELETE of the block, up to its ";" outside parentheses.
    void dml() {
        const size_t begin = peek().begin;
        int depth = 0;
        size_t k = i_;
        for (; toks_[k].kind != Token::End; ++k) {
            if (toks_[k].kind != Token::Punct) continue;
            if (toks_[k].text == "(") ++depth;
            if (toks_[k].text == ")") --depth;
            if (depth == 0 && toks_[k].text == ";") break;
        }
        const std::string sql = st_.text.substr(begin, toks_[k].begin - begin);
        i_ = k;
        expectPunct(";");
        Lexed lx = lexStatement(sql, &s_.schemas);
        std::map<std::string, Value> params;
        for (const auto& m : lx.markers) params[m] = readMarker(m);
        beginAtomic();
        runDml(s_, lx.sqlite, params);
    }

    void selectInto() {
        size_t selBegin = peek().begin;
        size_t k = i_;
        while (toks_[k].kind != Token::End && !(toks_[k].kind == Token::Ident && toks_[k].text == "INTO"))
            ++k;
        if (toks_[k].kind == Token::End) syntax();
        size_t intoBegin = toks_[k].begin;
        std::vector<std::pair<bool, std::string>> targets;
        ++k;
        while (toks_[k].kind == Token::Marker || toks_[k].kind == Token::Ident) {
            if (toks_[k].kind == Token::Ident && toks_[k].text == "FROM") break;
            targets.emplace_back(toks_[k].kind == Token::Marker, toks_[k].text);
            ++k;
            if (toks_[k].kind == Token::Punct && toks_[k].text == ",") ++k;
        }
        size_t fromBegin = toks_[k].begin;
        while (toks_[k].kind != Token::End && !(toks_[k].kind == Token::Punct && toks_[k].text == ";")) ++k;
        size_t end = toks_[k].begin;
        i_ = k;
        expectPunct(";");
        std::string sql = st_.text.substr(selBegin, intoBegin - selBegin) + " " +
                          st_.text.substr(fromBegin, end - fromBegin);
        Lexed lx = lexStatement(sql, &s_.schemas);
        std::map<std::string, Value> params;
        for (const auto& m : lx.markers) params[m] = readMarker(m);
        QueryRows rs = selectRows(s_, sql, params, 1);
        if (rs.rows.empty()) raise(1403);
        if (rs.more) raise(1422, "exact fetch returns more than requested number of rows");
        for (size_t c = 0; c < targets.size() && c < rs.names.size(); ++c)
            assign(targets[c].first, targets[c].second, rs.rows[0][c]);
    }

    Value expr() {
        const Token& t = peek();
        switch (t.kind) {
            case Token::Marker:
                ++i_;
                return readMarker(t.text);
            case Token::String:
                ++i_;
                return t.text.empty() ? Value::null() : Value::ofText(t.text);
            case Token::Number: {
                ++i_;
                Decimal d;
                if (!parseDecimal(t.text, d)) syntax();
                return decimalToValue(d);
            }
            case Token::Ident:
                if (t.text == "TRUE") return ++i_, Value::ofInt(1);
                if (t.text == "FALSE") return ++i_, Value::ofInt(0);
                if (t.text == "NULL") return ++i_, Value::null();
                if (vars_.count(t.text) && !isPunct(".", 1) && !isPunct("(", 1)) return ++i_, vars_[t.text];
                return call(true);
            default:
                if (isPunct("-") && peek(1).kind == Token::Number) {
                    ++i_;
                    Value v = expr();
                    Decimal d = valueToDecimal(v);
                    d.negative = !d.negative && !d.isZero();
                    return decimalToValue(d);
                }
                syntax();
        }
    }

    std::vector<ArgRef> args() {
        std::vector<ArgRef> out;
        if (!isPunct("(")) return out;
        ++i_;
        if (isPunct(")")) return ++i_, out;
        while (true) {
            ArgRef a;
            if (peek().kind == Token::Ident && isPunct("=>", 1)) {
                a.named = peek().text;
                i_ += 2;
            }
            bool endsHere = isPunct(",", 1) || isPunct(")", 1);
            if (endsHere && peek().kind == Token::Marker) {
                a.isRef = a.isMarker = true;
                a.ref = peek().text;
                ++i_;
            } else if (endsHere && peek().kind == Token::Ident && vars_.count(peek().text)) {
                a.isRef = true;
                a.ref = peek().text;
                ++i_;
            } else {
                a.value = expr();
            }
            out.push_back(a);
            if (isPunct(",")) {
                ++i_;
                continue;
            }
            expectPunct(")");
            break;
        }
        return out;
    }

    Value argValue(const ArgRef& a) {
        if (!a.isRef) return a.value;
        if (a.isMarker) return readMarker(a.ref);
        return vars_[a.ref];
    }

    Value call(bool wantValue) {
        std::vector<std::string> parts{peek().text};
        ++i_;
        while (isPunct(".") && peek(1).kind == Token::Ident) {
            parts.push_back(peek(1).text);
            i_ += 2;
        }
        std::vector<ArgRef> actual = args();
        std::string name;
        for (const auto& p : parts) name += (name.empty() ? "" : ".") + p;
        std::string bare = name.rfind("SYS.", 0) == 0 ? name.substr(4) : name;
        auto argN = [&](size_t k) { return k < actual.size() ? argValue(actual[k]) : Value::null(); };
        if (bare == "DIUTIL.INT_TO_BOOL" || bare == "DIUTIL.BOOL_TO_INT") {
            Value v = argN(0);
            if (v.isNull()) return v;
            int64_t i = 0;
            decimalToInt(valueToDecimal(v), i);
            return Value::ofInt(i != 0 ? 1 : 0);
        }
        if (bare == "DBMS_TRANSACTION.LOCAL_TRANSACTION_ID") {
            Value v = argN(0);
            int64_t start = 0;
            if (!v.isNull()) decimalToInt(valueToDecimal(v), start);
            std::string id = s_.localTransactionId(start != 0);
            return id.empty() ? Value::null() : Value::ofText(id);
        }
        if (bare == "SYS_CONTEXT") {
            std::string attr = upper(argN(1).s);
            std::string v = attr == "CURRENT_SCHEMA"                           ? s_.schema
                            : attr == "SESSION_USER" || attr == "CURRENT_USER" ? upper(s_.user)
                            : attr == "CLIENT_IDENTIFIER"                      ? s_.clientIdentifier
                                                                               : std::string();
            return v.empty() ? Value::null() : Value::ofText(v);
        }
        if (bare == "USER") return Value::ofText(upper(s_.user));
        if (bare == "NVL") {
            Value v = argN(0);
            return v.isNull() ? argN(1) : v;
        }
        if (bare == "DBMS_LOB.CREATETEMPORARY") {
            // the first argument receives a new empty temporary LOB
            if (actual.empty() || !actual[0].isRef)
                raise(6550, "PLS-00363: expression cannot be used as an assignment target");
            for (size_t k = 1; k < actual.size(); ++k) argValue(actual[k]);
            assign(actual[0].isMarker, actual[0].ref, Value::ofText(std::string()));
            return Value::null();
        }
        if (bare == "DBMS_SESSION.SET_IDENTIFIER") {
            s_.clientIdentifier = argN(0).s;
            return Value::null();
        }
        if (bare.rfind("DBMS_OUTPUT.", 0) == 0 || bare.rfind("DBMS_TRACE.", 0) == 0 ||
            bare.rfind("DBMS_APPLICATION_INFO.", 0) == 0) {
            for (const auto& a : actual) argValue(a);
            return Value::null();
        }
        return callRoutine(parts, name, actual, wantValue);
    }

    bool bindArgs(const Routine& r, const std::vector<ArgRef>& actual, std::vector<const ArgRef*>& chosen) {
        std::vector<const Arg*> formals;
        for (const Arg& a : r.args)
            if (a.position > 0) formals.push_back(&a);
        size_t positional = 0;
        while (positional < actual.size() && actual[positional].named.empty()) ++positional;
        if (positional > formals.size()) return false;
        std::vector<bool> used(actual.size(), false);
        chosen.assign(formals.size(), nullptr);
        for (size_t k = 0; k < formals.size(); ++k) {
            if (k < positional) {
                chosen[k] = &actual[k];
                used[k] = true;
            }
            for (size_t j = positional; !chosen[k] && j < actual.size(); ++j) {
                if (!used[j] && actual[j].named == formals[k]->name) {
                    chosen[k] = &actual[j];
                    used[j] = true;
                }
            }
            if (!chosen[k] && !formals[k]->defaultValue) return false;
            if (chosen[k] && formals[k]->direction != OCI_TYPEPARAM_IN && !chosen[k]->isRef) return false;
        }
        return std::all_of(used.begin(), used.end(), [](bool b) { return b; });
    }

    Value coerce(const Arg& a, const Value& v) {
        if (v.isNull()) return v;
        switch (a.type.type) {
            case SQLT_NUM:
            case SQLT_INT:
            case SQLT_IBDOUBLE:
            case SQLT_IBFLOAT:
            case SQLT_BOL:
                if (v.kind == Value::Text) {
                    Decimal d;
                    if (!parseDecimal(v.s, d))
                        raise(6502, "PL/SQL: numeric or value error: character to number conversion error");
                    return decimalToValue(d);
                }
                return v;
            case SQLT_CHR:
            case SQLT_AFC:
                if (v.kind == Value::Int || v.kind == Value::Real)
                    return Value::ofText(decimalToText(valueToDecimal(v)));
                return v;
            case SQLT_DAT:
            case SQLT_TIMESTAMP:
                return Value::ofText(dateToText(valueToDate(v)));
            default:
                return v;
        }
    }

    Value evalDefault(const std::string& expr) {
        QueryRows rs = selectRows(s_, "SELECT " + expr, {}, 1);
        return rs.rows.empty() ? Value::null() : rs.rows[0][0];
    }

    Value callRoutine(const std::vector<std::string>& parts, const std::string& name,
                      const std::vector<ArgRef>& actual, bool wantValue) {
        const Routines found = findRoutines(s_, parts);
        const std::vector<Routine>& overloads = *found;
        if (overloads.empty()) plsError("PLS-00201: identifier '" + name + "' must be declared");
        const Routine* r = nullptr;
        std::vector<const ArgRef*> chosen;
        for (const Routine& cand : overloads) {
            if (cand.function != wantValue) continue;
            if (bindArgs(cand, actual, chosen)) {
                r = &cand;
                break;
            }
        }
        if (!r) {
            bool kindMismatch = std::none_of(overloads.begin(), overloads.end(),
                                             [&](const Routine& c) { return c.function == wantValue; });
            if (kindMismatch)
                plsError(wantValue
                             ? "PLS-00222: no function with name '" + parts.back() + "' exists in this scope"
                             : "PLS-00221: '" + parts.back() + "' is not a procedure or is undefined");
            plsError("PLS-00306: wrong number or types of arguments in call to '" + parts.back() + "'");
        }
        s_.checkProcedureFault(r->fullName());
        std::map<std::string, Value> params;
        std::vector<std::pair<const Arg*, const ArgRef*>> outArgs;
        size_t k = 0;
        for (const Arg& a : r->args) {
            if (a.position == 0) {
                params["RESULT"] = Value::null();
                continue;
            }
            const ArgRef* ref = chosen[k++];
            Value v;
            if (a.direction == OCI_TYPEPARAM_OUT) {
                v = Value::null();
            } else if (ref) {
                v = coerce(a, argValue(*ref));
            } else {
                v = coerce(a, evalDefault(*a.defaultValue));
            }
            params[a.name] = v;
            if (a.direction != OCI_TYPEPARAM_IN && ref) outArgs.emplace_back(&a, ref);
        }
        runBody(*r, params);
        for (auto& [a, ref] : outArgs) {
            const Value& v = params[a->name];
            if (ref->isMarker) {
                outs_[ref->ref] = v;
            } else {
                vars_[ref->ref] = v;
            }
        }
        return r->function ? params["RESULT"] : Value::null();
    }

    void runBody(const Routine& r, std::map<std::string, Value>& params) {
        std::vector<std::string> outNames;
        for (const Arg& a : r.args)
            if (a.direction != OCI_TYPEPARAM_IN) outNames.push_back(a.position == 0 ? "RESULT" : a.name);
        BodyPlan& plan = *r.plan;
        if (!plan.built) buildPlan(plan, r.body);
        for (BodyStatement& b : plan.statements) {
            if (b.open) {
                auto toks = tokenize(b.text);
                if (toks.size() < 4 || toks[1].kind != Token::Marker || toks[2].kind != Token::Ident ||
                    toks[2].text != "FOR")
                    plsError("PLS-00103: Encountered the symbol \"" + toks[1].text + "\"");
                std::string target = toks[1].text;
                Value cur;
                cur.kind = Value::Cursor;
                cur.cursor = openQuery(s_, b.text.substr(toks[3].begin), params, false);
                params[target] = cur;
            } else if (b.lexed.stmtType == OCI_STMT_SELECT) {
                BodyRun run(s_, b);
                run.bind(params);
                // run to its end: a statement that assigns nothing may still raise on a later row
                std::vector<Value> first;
                bool any = false;
                int rc;
                while ((rc = sqlite3_step(run.st)) == SQLITE_ROW) {
                    if (any) continue;
                    any = true;
                    for (int c = 0, n = sqlite3_column_count(run.st); c < n; ++c)
                        first.push_back(columnValue(run.st, c));
                }
                if (rc != SQLITE_DONE) s_.raiseSqlite(rc);
                // The names are read after the run: SQLite prepares a kept statement again when the
                // schema changed, and "SELECT *" may then have other columns.
                std::vector<std::pair<size_t, std::string>> assigned;
                for (int c = 0, n = sqlite3_column_count(run.st); c < n; ++c) {
                    const char* name = sqlite3_column_name(run.st, c);
                    std::string key = upper(name ? name : "");
                    if (std::find(outNames.begin(), outNames.end(), key) != outNames.end())
                        assigned.emplace_back(static_cast<size_t>(c), std::move(key));
                }
                if (assigned.empty()) continue;
                if (!any) raise(1403);
                for (auto& [c, key] : assigned)
                    if (c < first.size()) params[key] = first[c];
            } else {
                beginAtomic();
                s_.drainCursors();
                BodyRun run(s_, b);
                run.bind(params);
                int rc;
                while ((rc = sqlite3_step(run.st)) == SQLITE_ROW) {
                }
                if (rc != SQLITE_DONE) s_.raiseSqlite(rc);
            }
        }
    }

    void buildPlan(BodyPlan& plan, const std::string& body) {
        std::vector<BodyStatement> statements;
        for (std::string& text : splitStatements(body)) {
            BodyStatement b;
            b.open = upper(text.substr(0, text.find_first_of(" \t\r\n"))) == "OPEN";
            b.lexed = lexStatement(rewriteObjectSql(s_, text), &s_.schemas);
            b.text = std::move(text);
            statements.push_back(std::move(b));
        }
        plan.statements = std::move(statements);
        plan.built = true;
    }

    // A body statement prepared, its parameters bound from the call's values; reset for its next
    // run when done.
    struct BodyRun {
        BodyRun(Session& s, BodyStatement& b) : b_(b) {
            if (b.busy || !b.st) {
                sqlite3_stmt* st = prepare(s, b.lexed.sqlite);
                if (b.busy) {
                    owned_ = st;
                } else {
                    b.st = st;
                    b.keys.clear();
                    for (int k = 1, n = sqlite3_bind_parameter_count(st); k <= n; ++k) {
                        const char* name = sqlite3_bind_parameter_name(st, k);
                        b.keys.push_back(name ? upper(name + 1) : std::string());
                    }
                }
            }
            st = owned_ ? owned_ : b.st;
            if (!owned_) b.busy = true;
        }
        void bind(const std::map<std::string, Value>& params) {
            for (size_t k = 0; k < b_.keys.size(); ++k) {
                if (b_.keys[k].empty()) raise(1008);
                auto it = params.find(b_.keys[k]);
                if (it == params.end()) raise(1008);
                bindValue(st, static_cast<int>(k + 1), it->second);
            }
        }
        ~BodyRun() {
            if (owned_) {
                sqlite3_finalize(owned_);
                return;
            }
            sqlite3_reset(b_.st);
            sqlite3_clear_bindings(b_.st);
            b_.busy = false;
        }
        BodyRun(const BodyRun&) = delete;
        BodyRun& operator=(const BodyRun&) = delete;

        sqlite3_stmt* st = nullptr;

    private:
        static sqlite3_stmt* prepare(Session& s, const std::string& sql) {
            sqlite3_stmt* st = nullptr;
            const char* tail = nullptr;
            int rc = sqlite3_prepare_v3(s.db, sql.c_str(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &st, &tail);
            if (rc != SQLITE_OK) {
                sqlite3_finalize(st);
                s.raiseSqlite(rc);
            }
            if (!st) raise(900);
            for (; tail && *tail; ++tail) {
                if (static_cast<unsigned char>(*tail) > ' ' && *tail != ';') {
                    sqlite3_finalize(st);
                    raise(911, "invalid character");
                }
            }
            return st;
        }
        BodyStatement& b_;
        sqlite3_stmt* owned_ = nullptr;
    };

    // The client library's block that reads nls_session_parameters: answered from this session.
    void nlsBlock() {
        static const std::map<std::string, int64_t> charsets = {
            {"US7ASCII", 1},       {"WE8ISO8859P1", 31},  {"CL8ISO8859P5", 32}, {"RU8PC866", 152},
            {"CL8MSWIN1251", 171}, {"WE8MSWIN1252", 178}, {"CL8KOI8R", 196},    {"UTF8", 871},
            {"AL32UTF8", 873},     {"AL16UTF16", 2000}};
        const std::map<std::string, std::string> parameters = {
            {"NLSDATELANGUAGE", "NLS_DATE_LANGUAGE"},
            {"NLSDATEFORMAT", "NLS_DATE_FORMAT"},
            {"NLSNUMERICCHARACTERS", "NLS_NUMERIC_CHARACTERS"},
            {"NLSTIMESTAMPFORMAT", "NLS_TIMESTAMP_FORMAT"},
            {"NLSTIMESTAMPTZFORMAT", "NLS_TIMESTAMP_TZ_FORMAT"}};
        for (const Token& t : toks_) {
            if (t.kind != Token::Marker || !findBind(t.text)) continue;
            if (t.text == "CHARLENGTH") {
                outs_[t.text] = Value::ofInt(1);
            } else if (t.text == "CHARSETID") {
                Value name = findBind("CHARSET") ? readMarker("CHARSET") : Value::null();
                auto it = charsets.find(upper(name.s));
                outs_[t.text] = it == charsets.end() ? Value::null() : Value::ofInt(it->second);
            } else if (auto p = parameters.find(t.text); p != parameters.end()) {
                outs_[t.text] = Value::ofText(s_.nlsValue(p->second));
            }
        }
    }

    // ---- cursors, records, control flow and expressions evaluated by SQLite -----------------------

    std::map<std::string, std::string> cursors_;                   // name -> query text
    std::map<std::string, std::map<std::string, Value>> records_;  // name -> field -> value

    // CURSOR name IS <query>;
    void declareCursor() {
        ++i_;
        if (peek().kind != Token::Ident) syntax();
        std::string name = peek().text;
        ++i_;
        expectWord("IS");
        size_t begin = peek().begin;
        while (peek().kind != Token::End && !isPunct(";")) ++i_;
        cursors_[name] = st_.text.substr(begin, peek().begin - begin);
        expectPunct(";");
    }

    bool isRecordField(size_t k) const {
        return peek(k).kind == Token::Ident && records_.count(peek(k).text) && isPunct(".", k + 1) &&
               peek(k + 2).kind == Token::Ident;
    }

    // The SQL functions the evaluator hands to SQLite.
    static bool isSqlFunction(const std::string& name) {
        static const char* const names[] = {"RPAD",      "LPAD",     "INSTR",  "CHR",     "LTRIM", "RTRIM",
                                            "TRIM",      "SUBSTR",   "LENGTH", "UPPER",   "LOWER", "REPLACE",
                                            "ABS",       "ROUND",    "MOD",    "TO_CHAR", "NVL2",  "DECODE",
                                            "TO_NUMBER", "COALESCE", "CONCAT"};
        return std::find(std::begin(names), std::end(names), name) != std::end(names);
    }

    // True when the expression up to the next ";" needs more than a single value or call: an
    // operator, a record field or an SQL function.
    bool needsSql() const {
        if (peek().kind == Token::Ident && isSqlFunction(peek().text) && isPunct("(", 1)) return true;
        int depth = 0;
        for (size_t k = 0; peek(k).kind != Token::End; ++k) {
            const Token& t = peek(k);
            if (t.kind == Token::Punct) {
                if (t.text == "(") ++depth;
                if (t.text == ")") --depth;
                if (t.text == ";" && depth <= 0) return false;
                static const char* const ops[] = {"||", "+", "*", "/", "=", "<>", "!=", "<", ">", "<=", ">="};
                if (std::find(std::begin(ops), std::end(ops), t.text) != std::end(ops)) return true;
                if (t.text == "-" && k > 0) return true;
            }
            if (isRecordField(k)) return true;
            // seq.NEXTVAL / seq.CURRVAL are evaluated by SQLite.
            if (t.kind == Token::Ident && k >= 2 && isPunct(".", k - 1) &&
                (upper(t.text) == "NEXTVAL" || upper(t.text) == "CURRVAL"))
                return true;
        }
        return false;
    }

    // Translates the expression at the current token to SQLite text; values go in as parameters.
    struct SqlExpr {
        std::string text;
        std::map<std::string, Value> params;
    };
    std::string sqlParam(SqlExpr& e, const Value& v) {
        std::string key = "PLX" + std::to_string(e.params.size() + 1);
        e.params[key] = v;
        return ":" + key;
    }
    std::string sqlOr(SqlExpr& e) {
        std::string out = sqlAnd(e);
        while (isWord("OR")) {
            ++i_;
            out = "(" + out + " OR " + sqlAnd(e) + ")";
        }
        return out;
    }
    std::string sqlAnd(SqlExpr& e) {
        std::string out = sqlNot(e);
        while (isWord("AND")) {
            ++i_;
            out = "(" + out + " AND " + sqlNot(e) + ")";
        }
        return out;
    }
    std::string sqlNot(SqlExpr& e) {
        if (isWord("NOT")) {
            ++i_;
            return "(NOT " + sqlNot(e) + ")";
        }
        return sqlCompare(e);
    }
    std::string sqlCompare(SqlExpr& e) {
        std::string left = sqlAdd(e);
        static const char* const ops[] = {"=", "<>", "!=", "<", ">", "<=", ">="};
        if (peek().kind == Token::Punct &&
            std::find(std::begin(ops), std::end(ops), peek().text) != std::end(ops)) {
            std::string op = peek().text == "!=" ? "<>" : peek().text;
            ++i_;
            return "(" + left + " " + op + " " + sqlAdd(e) + ")";
        }
        if (isWord("IS")) {
            ++i_;
            bool negated = isWord("NOT");
            if (negated) ++i_;
            expectWord("NULL");
            return "(" + left + (negated ? " IS NOT NULL)" : " IS NULL)");
        }
        return left;
    }
    // Oracle's || treats NULL as an empty text, and an empty result is NULL again.
    std::string sqlAdd(SqlExpr& e) {
        std::string out = sqlMul(e);
        while (isPunct("||") || isPunct("+") || isPunct("-")) {
            std::string op = peek().text;
            ++i_;
            std::string right = sqlMul(e);
            out = op == "||" ? "nullif(coalesce(" + out + ", '') || coalesce(" + right + ", ''), '')"
                             : "(" + out + " " + op + " " + right + ")";
        }
        return out;
    }
    std::string sqlMul(SqlExpr& e) {
        std::string out = sqlUnary(e);
        while (isPunct("*") || isPunct("/")) {
            std::string op = peek().text;
            ++i_;
            out = "(" + out + " " + op + " " + sqlUnary(e) + ")";
        }
        return out;
    }
    std::string sqlUnary(SqlExpr& e) {
        if (isPunct("-")) {
            ++i_;
            return "(-" + sqlUnary(e) + ")";
        }
        if (isPunct("+")) ++i_;
        return sqlPrimary(e);
    }
    std::string sqlPrimary(SqlExpr& e) {
        const Token t = peek();
        switch (t.kind) {
            case Token::Number:
                ++i_;
                return t.text;
            case Token::String:
                ++i_;
                return sqlParam(e, t.text.empty() ? Value::null() : Value::ofText(t.text));
            case Token::Marker:
                ++i_;
                return sqlParam(e, readMarker(t.text));
            case Token::Punct:
                if (t.text != "(") syntax();
                {
                    ++i_;
                    std::string inner = sqlOr(e);
                    expectPunct(")");
                    return "(" + inner + ")";
                }
            case Token::Ident:
                break;
            default:
                syntax();
        }
        if (t.text == "NULL") return ++i_, "NULL";
        if (t.text == "TRUE") return ++i_, "1";
        if (t.text == "FALSE") return ++i_, "0";
        if (isRecordField(0)) {
            auto& record = records_[t.text];
            std::string field = peek(2).text;
            i_ += 3;
            auto it = record.find(field);
            if (it == record.end()) plsError("PLS-00302: component '" + field + "' must be declared");
            return sqlParam(e, it->second);
        }
        if (vars_.count(t.text) && !isPunct(".", 1) && !isPunct("(", 1))
            return ++i_, sqlParam(e, vars_[t.text]);
        if (isSqlFunction(t.text) && isPunct("(", 1)) {
            i_ += 2;
            std::string out = t.text + "(";
            if (!isPunct(")")) {
                for (;;) {
                    out += sqlOr(e);
                    if (!isPunct(",")) break;
                    ++i_;
                    out += ", ";
                }
            }
            expectPunct(")");
            return out + ")";
        }
        // seq.NEXTVAL and schema.seq.NEXTVAL (CURRVAL alike): the stand-in's sequence functions.
        for (size_t skip : {size_t(0), size_t(2)}) {
            if (skip && !(isPunct(".", 1) && peek(2).kind == Token::Ident)) continue;
            if (!isPunct(".", skip + 1) || peek(skip + 2).kind != Token::Ident) continue;
            const std::string pseudo = upper(peek(skip + 2).text);
            const std::string seq = upper(peek(skip).text);
            if ((pseudo != "NEXTVAL" && pseudo != "CURRVAL") || seq.find('\'') != std::string::npos) continue;
            i_ += skip + 3;
            return (pseudo == "NEXTVAL" ? "oci_nextval('" : "oci_currval('") + seq + "')";
        }
        // A stored function or one the runner knows itself.
        return sqlParam(e, call(true));
    }

    Value sqlValue() {
        SqlExpr e;
        e.text = sqlOr(e);
        QueryRows rs = selectRows(s_, "SELECT " + e.text, e.params, 1);
        return rs.rows.empty() || rs.rows[0].empty() ? Value::null() : rs.rows[0][0];
    }

    bool condition() {
        SqlExpr e;
        e.text = sqlOr(e);
        QueryRows rs = selectRows(s_, "SELECT CASE WHEN " + e.text + " THEN 1 ELSE 0 END", e.params, 1);
        return !rs.rows.empty() && !rs.rows[0].empty() && rs.rows[0][0].kind == Value::Int &&
               rs.rows[0][0].i == 1;
    }

    // Runs statements up to the END, ELSIF or ELSE of the construct being run.
    void statements() {
        while (!isWord("END") && !isWord("ELSIF") && !isWord("ELSE")) {
            if (peek().kind == Token::End) syntax();
            statement();
        }
    }

    // Passes over statements without running them, up to the END, ELSIF or ELSE of this level.
    void skipStatements() {
        int depth = 0;
        while (peek().kind != Token::End) {
            if (depth == 0 && (isWord("END") || isWord("ELSIF") || isWord("ELSE"))) return;
            if (isWord("END")) {
                --depth;
                ++i_;
                if (isWord("IF") || isWord("LOOP")) ++i_;
                continue;
            }
            if (isWord("IF") || isWord("LOOP") || isWord("BEGIN") || isWord("CASE")) ++depth;
            ++i_;
        }
        syntax();
    }

    void endOf(const char* word) {
        expectWord("END");
        expectWord(word);
        expectPunct(";");
    }

    // IF c THEN ... [ELSIF c THEN ...] [ELSE ...] END IF;
    void ifStatement() {
        bool done = false;
        do {
            ++i_;  // IF or ELSIF
            bool take = false;
            if (done) {
                while (peek().kind != Token::End && !isWord("THEN")) ++i_;
            } else {
                take = condition();
            }
            expectWord("THEN");
            if (take) {
                statements();
                done = true;
            } else {
                skipStatements();
            }
        } while (isWord("ELSIF"));
        if (isWord("ELSE")) {
            ++i_;
            if (done)
                skipStatements();
            else
                statements();
        }
        endOf("IF");
    }

    // WHILE c LOOP ... END LOOP;
    void whileStatement() {
        ++i_;
        size_t start = i_;
        for (;;) {
            i_ = start;
            bool again = condition();
            expectWord("LOOP");
            if (!again) break;
            statements();
        }
        skipStatements();
        endOf("LOOP");
    }

    // FOR rec IN cursor LOOP ... END LOOP; the record holds each row of the cursor in turn.
    void forStatement() {
        ++i_;
        if (peek().kind != Token::Ident) syntax();
        std::string rec = peek().text;
        ++i_;
        expectWord("IN");
        if (peek().kind != Token::Ident || !cursors_.count(peek().text))
            plsError("PLS-00201: identifier '" + peek().text + "' must be declared");
        const std::string query = cursors_[peek().text];
        ++i_;
        expectWord("LOOP");
        Lexed lx = lexStatement(query, &s_.schemas);
        std::map<std::string, Value> params;
        for (const auto& m : lx.markers) params[m] = readMarker(m);
        QueryRows rs = selectRows(s_, query, params, SIZE_MAX);
        size_t body = i_;
        for (const auto& row : rs.rows) {
            auto& record = records_[rec];
            record.clear();
            for (size_t c = 0; c < rs.names.size() && c < row.size(); ++c)
                record[upper(rs.names[c])] = row[c];
            i_ = body;
            statements();
        }
        i_ = body;
        skipStatements();
        endOf("LOOP");
    }
};

// ---- describe -----------------------------------------------------------------------------------------

Param* argParam(Handle* parent, const Arg& a) {
    Param* p = newParam(parent);
    p->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_ARG);
    p->setText(OCI_ATTR_NAME, utf8ToAnsi(a.name));
    p->setInt(11, 2, a.position);  // position
    p->setInt(OCI_ATTR_DATA_TYPE, 2, a.type.type);
    p->setInt(OCI_ATTR_DATA_SIZE, 2, a.type.size);
    p->setInt(OCI_ATTR_PRECISION, 1, a.type.precision);  // one byte in an explicit describe
    p->setInt(OCI_ATTR_SCALE, 1, a.type.scale);
    p->setInt(OCI_ATTR_IOMODE, 4, a.direction);
    p->setInt(OCI_ATTR_HAS_DEFAULT, 1, a.defaultValue ? 1 : 0);
    p->setInt(OCI_ATTR_CHARSET_FORM, 1, a.type.charsetForm);
    p->setInt(OCI_ATTR_FSPRECISION, 1, a.type.fsprecision);
    p->setInt(211, 2, 0);  // level
    p->setText(OCI_ATTR_TYPE_NAME, utf8ToAnsi(a.typeName));
    p->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(a.typeSchema));
    return p;
}

Param* routineParam(Handle* parent, const Routine& r, const std::string& schema) {
    Param* p = newParam(parent);
    p->setInt(OCI_ATTR_PTYPE, 1, r.function ? OCI_PTYPE_FUNC : OCI_PTYPE_PROC);
    p->setText(OCI_ATTR_NAME, utf8ToAnsi(r.name));
    p->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(schema));
    p->setInt(210, 2, r.overload);  // overload id
    Param* list = newParam(p);
    list->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_LIST);
    list->setInt(OCI_ATTR_LTYPE, 1, r.function ? OCI_LTYPE_ARG_FUNC : OCI_LTYPE_ARG_PROC);
    list->base = r.function ? 0 : 1;
    for (const Arg& a : r.args) {
        if (a.position == 0 && !r.function) continue;
        list->items.push_back(argParam(list, a));
    }
    list->setInt(OCI_ATTR_NUM_PARAMS, 2, static_cast<int64_t>(list->items.size()));
    p->setPtr(OCI_ATTR_LIST_ARGUMENTS, list);
    return p;
}

}  // namespace

void runBlock(Session& s, Stmt& st) {
    BlockRunner runner(s, st);
    runner.run();
}

Param* describeObject(Session& s, Describe& d, const std::string& nameIn, ub1 objType) {
    std::string shown = upper(trim(nameIn));
    if (objType == OCI_PTYPE_TYPE) return describeType(s, d, nameIn);
    if (objType != OCI_PTYPE_UNK && objType != OCI_PTYPE_PROC && objType != OCI_PTYPE_FUNC &&
        objType != OCI_PTYPE_PKG)
        raise(4043, "object " + shown + " does not exist");
    auto parts = splitName(trim(nameIn));
    std::string schema = s.schema;
    if (parts.size() == 2) {
        if (!isUser(s, parts[0])) raise(4043, "object " + shown + " does not exist");
        schema = parts[0];
        parts.erase(parts.begin());
    }
    if (parts.size() != 1 || parts[0].empty()) raise(4043, "object " + shown + " does not exist");
    if (d.root) freeHandle(d.root);
    const Routines memberList = loadRoutines(s, parts[0], "");
    const std::vector<Routine>& members = *memberList;
    if (!members.empty()) {
        Param* pkg = newParam(&d);
        pkg->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_PKG);
        pkg->setText(OCI_ATTR_NAME, utf8ToAnsi(parts[0]));
        pkg->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(schema));
        Param* list = newParam(pkg);
        list->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_LIST);
        list->setInt(OCI_ATTR_LTYPE, 1, OCI_LTYPE_SUBPRG);
        list->base = 0;
        for (const Routine& r : members) list->items.push_back(routineParam(list, r, schema));
        list->setInt(OCI_ATTR_NUM_PARAMS, 2, static_cast<int64_t>(list->items.size()));
        pkg->setPtr(OCI_ATTR_LIST_SUBPROGRAMS, list);
        d.root = pkg;
        return pkg;
    }
    const Routines routineList = loadRoutines(s, "", parts[0]);
    const std::vector<Routine>& routines = *routineList;
    if (routines.empty()) {
        auto target = findSynonym(s, schema, parts[0]);
        if (!target) raise(4043, "object " + shown + " does not exist");
        Param* synonym = newParam(&d);
        synonym->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_SYN);
        synonym->setText(OCI_ATTR_NAME, utf8ToAnsi(target->second));
        synonym->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(target->first));
        d.root = synonym;
        return synonym;
    }
    d.root = routineParam(&d, routines.front(), schema);
    return d.root;
}

}  // namespace oci

using namespace oci;

extern "C" {

sword OCIDescribeAny(OCISvcCtx* svchp, OCIError* errhp, void* objptr, ub4 objnm_len, ub1 objptr_typ, ub1,
                     ub1 objtyp, OCIDescribe* dschp) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* d = handleAs<Describe>(dschp, OCI_HTYPE_DESCRIBE);
    if (!svc || !err || !d || !objptr) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (objptr_typ != OCI_OTYPE_NAME) raise(3001);
        if (!svc->session || !findHandle(svc->session)) raise(3114);
        Session& s = *svc->session;
        s.ensureAlive();
        s.checkLink();
        s.freshSnapshot();
        std::string name = ansiToUtf8(std::string_view(static_cast<const char*>(objptr), objnm_len));
        describeObject(s, *d, name, objtyp);
        return OCI_SUCCESS;
    });
}

}  // extern "C"

namespace oci {

// ---- text functions PL/SQL code uses --------------------------------------------------------------------
// Counted in characters of the UTF-8 text, as Oracle counts them in a database of that character set.

namespace {

std::u32string decodeUtf8(const unsigned char* p, int n) {
    std::u32string out;
    for (int i = 0; i < n;) {
        unsigned char c = p[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        if (i + len > n) len = 1;
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (int k = 1; k < len; ++k) cp = (cp << 6) | (p[i + k] & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

std::string encodeUtf8(const std::u32string& s) {
    std::string out;
    for (char32_t cp : s) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::u32string textArg(sqlite3_value* v) {
    return decodeUtf8(sqlite3_value_text(v), sqlite3_value_bytes(v));
}

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
    return false;
}

void resultText(sqlite3_context* ctx, const std::u32string& s) {
    if (s.empty()) return sqlite3_result_null(ctx);  // an empty text is NULL
    std::string utf8 = encodeUtf8(s);
    sqlite3_result_text(ctx, utf8.c_str(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

// RPAD / LPAD (text, width [, pad]): cut to width characters or filled up with the pad repeated.
void fnPad(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const bool left = sqlite3_user_data(ctx) != nullptr;
    std::u32string text = textArg(argv[0]);
    const int64_t width = static_cast<int64_t>(sqlite3_value_double(argv[1]));
    std::u32string pad = argc > 2 ? textArg(argv[2]) : std::u32string(U" ");
    if (width < 1 || pad.empty()) return sqlite3_result_null(ctx);
    const size_t w = static_cast<size_t>(width);
    if (text.size() >= w) return resultText(ctx, text.substr(0, w));
    std::u32string fill;
    while (fill.size() < w - text.size()) fill += pad[fill.size() % pad.size()];
    resultText(ctx, left ? fill + text : text + fill);
}

// CHR (code): the character of the code.
void fnChr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const int64_t code = sqlite3_value_int64(argv[0]);
    if (code < 0 || code > 0x10FFFF) return sqlite3_result_null(ctx);
    if (code == 0) return sqlite3_result_text(ctx, "", 1, SQLITE_TRANSIENT);
    resultText(ctx, std::u32string(1, static_cast<char32_t>(code)));
}

// INSTR (text, part, start [, occurrence]): the 1-based position of the occurrence, 0 when there is
// none; a negative start counts from the end and searches backwards.
void fnInstr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    const std::u32string text = textArg(argv[0]);
    const std::u32string part = textArg(argv[1]);
    const int64_t start = sqlite3_value_int64(argv[2]);
    const int64_t occurrence = argc > 3 ? sqlite3_value_int64(argv[3]) : 1;
    if (occurrence < 1) return sqlite3_result_error(ctx, "ORA-01428: argument is out of range", -1);
    if (part.empty()) return sqlite3_result_null(ctx);
    const int64_t n = static_cast<int64_t>(text.size());
    const int64_t m = static_cast<int64_t>(part.size());
    int64_t found = 0;
    auto matchAt = [&](int64_t i) { return i >= 0 && i + m <= n && text.compare(i, m, part) == 0; };
    if (start > 0) {
        for (int64_t i = start - 1; i + m <= n; ++i)
            if (matchAt(i) && ++found == occurrence) return sqlite3_result_int64(ctx, i + 1);
    } else if (start < 0) {
        for (int64_t i = n + start; i >= 0; --i)
            if (matchAt(i) && ++found == occurrence) return sqlite3_result_int64(ctx, i + 1);
    }
    sqlite3_result_int64(ctx, 0);
}

}  // namespace

void createPlSqlFunctions(sqlite3* db) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    static int leftMark = 1;
    for (int n : {2, 3}) {
        sqlite3_create_function(db, "rpad", n, flags, nullptr, fnPad, nullptr, nullptr);
        sqlite3_create_function(db, "lpad", n, flags, &leftMark, fnPad, nullptr, nullptr);
        sqlite3_create_function(db, "instr", n + 1, flags, nullptr, fnInstr, nullptr, nullptr);
    }
    sqlite3_create_function(db, "chr", 1, flags, nullptr, fnChr, nullptr, nullptr);
}

}  // namespace oci

namespace oci {

std::optional<bool> compileStoredUnit(Session& s, const std::string& utf8) {
    const std::vector<Token> t = tokenize(utf8);
    size_t k = 0;
    auto word = [&](const char* w) { return t[k].kind == Token::Ident && !t[k].quoted && t[k].text == w; };
    const bool alter = word("ALTER");
    if (!alter && !word("CREATE")) return std::nullopt;
    ++k;
    if (!alter && word("OR")) {
        ++k;
        if (!word("REPLACE")) return std::nullopt;
        ++k;
    }
    if (word("EDITIONABLE") || word("NONEDITIONABLE")) ++k;
    std::string type;
    for (const char* kind : {"PROCEDURE", "FUNCTION", "PACKAGE", "TRIGGER", "TYPE"})
        if (word(kind)) type = kind;
    if (type.empty()) return std::nullopt;
    ++k;
    if ((type == "PACKAGE" || type == "TYPE") && word("BODY")) {
        type += " BODY";
        ++k;
    }
    if (t[k].kind != Token::Ident) return std::nullopt;
    std::string name = t[k++].text;
    if (t[k].kind == Token::Punct && t[k].text == "." && t[k + 1].kind == Token::Ident) name = t[k + 1].text;
    if (alter) {
        // ALTER PACKAGE p COMPILE BODY recompiles the body.
        for (size_t j = k; t[j].kind != Token::End; ++j)
            if (t[j].kind == Token::Ident && t[j].text == "BODY" && (type == "PACKAGE" || type == "TYPE"))
                type += " BODY";
    }
    QueryRows rs = selectRows(s, "SELECT count(*) FROM all_errors WHERE name = :N AND type = :T",
                              {{"N", Value::ofText(name)}, {"T", Value::ofText(type)}}, 1);
    return !rs.rows.empty() && rs.rows[0][0].kind == Value::Int && rs.rows[0][0].i > 0;
}

}  // namespace oci
