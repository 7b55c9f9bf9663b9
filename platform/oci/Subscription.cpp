// Subscriptions and change descriptors of the stand-in (see Changes.h for how changes travel).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "platform/oci/Changes.h"
#include "platform/oci/Guard.h"

namespace oci {

namespace {

// More changed rows of one table than this in one notification are reported as "all rows".
constexpr size_t MaxRowsPerTable = 80;
constexpr auto PollInterval = std::chrono::milliseconds(10);
// Log rows older than this are deleted now and then: every watcher has long read them.
constexpr int LogKeepSeconds = 120;
constexpr auto PruneInterval = std::chrono::seconds(10);
// Collections of descriptor pointers are handles of a type of their own.
constexpr ub4 ChangeCollectionType = 0x0C0C0001;

const char* const LogTableSql =
    "CREATE TABLE IF NOT EXISTS oci_change_log(seq INTEGER PRIMARY KEY AUTOINCREMENT, "
    "table_name TEXT NOT NULL, op INTEGER NOT NULL, row_id INTEGER, "
    "at REAL NOT NULL DEFAULT (julianday('now')))";

std::string quoteIdent(const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string quoteText(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// One registration's state, shared by the handle and the watcher so that either may go first.
struct SubscriptionState {
    Handle* handle = nullptr;  // null once the handle is freed
    OCISubscriptionNotify callback = nullptr;
    void* context = nullptr;
    ub4 nameSpace = 0;
    bool rowids = false;
    ub4 operations = OCI_OPCODE_ALLOPS;
    ub4 timeout = 0;
    ub4 qos = 0;
    // Guarded by the watcher's lock:
    bool registered = false;
    bool enabled = true;
    std::string dbPath;
    std::map<std::string, std::string> tables;  // SQLite table name (upper case) -> SCHEMA.TABLE
    int64_t seen = 0;                           // the last log row looked at
    std::chrono::steady_clock::time_point registeredAt;
    bool inCallback = false;
    std::thread::id callbackThread;
};

struct Subscription : Handle {
    Subscription() : Handle(OCI_HTYPE_SUBSCRIPTION), state(std::make_shared<SubscriptionState>()) {
        state->handle = this;
    }
    ~Subscription() override;
    std::shared_ptr<SubscriptionState> state;
};

struct ChangeCollection : Handle {
    ChangeCollection() : Handle(ChangeCollectionType) {}
    std::vector<void*> cells;  // each holds a descriptor's address
};

struct ChangeDescriptor : Handle {
    ChangeDescriptor() : Handle(OCI_DTYPE_CHDES) {}
    ub4 type = OCI_EVENT_NONE;
    std::string dbName;
    ChangeCollection* tables = nullptr;
};

struct TableChangeDescriptor : Handle {
    TableChangeDescriptor() : Handle(OCI_DTYPE_TABLE_CHDES) {}
    std::string name;  // code page 1251
    ub4 flags = 0;
    ChangeCollection* rows = nullptr;
};

struct RowChangeDescriptor : Handle {
    RowChangeDescriptor() : Handle(OCI_DTYPE_ROW_CHDES) {}
    std::string rowid;
    ub4 flags = 0;
};

struct LogRow {
    int64_t seq;
    std::string table;
    ub4 op;
    int64_t rowid;
};

void execOn(sqlite3* db, const std::string& sql) {
    char* msg = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
    std::string text = msg ? msg : "";
    sqlite3_free(msg);
    if ((rc & 0xFF) == SQLITE_BUSY) raise(54);
    if (rc != SQLITE_OK) raise(600, "internal error code, arguments: [change log], [" + text + "]");
}

int64_t queryInt(sqlite3* db, const char* sql, int64_t fallback) {
    sqlite3_stmt* q = nullptr;
    int64_t v = fallback;
    if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK && sqlite3_step(q) == SQLITE_ROW)
        v = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
    return v;
}

// The process's watcher: one thread, one connection per database file.
class Watcher {
public:
    static Watcher& instance() {
        static Watcher w;
        return w;
    }

    void add(const std::shared_ptr<SubscriptionState>& s) {
        std::lock_guard<std::mutex> g(lock_);
        subs_.push_back(s);
        if (!thread_.joinable()) {
            stop_ = false;
            thread_ = std::thread([this] { run(); });
        }
    }

    // Ends the registration. A callback of it under way on another thread is waited for; on the
    // callback's own thread (a handler that unregisters) it is not.
    void remove(const std::shared_ptr<SubscriptionState>& s) {
        std::thread finished;
        {
            std::unique_lock<std::mutex> g(lock_);
            s->registered = false;
            if (s->callbackThread != std::this_thread::get_id())
                idle_.wait(g, [&] { return !s->inCallback; });
            subs_.erase(std::remove(subs_.begin(), subs_.end(), s), subs_.end());
            if (subs_.empty() && thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
                stop_ = true;
                wake_.notify_all();
                finished = std::move(thread_);
            }
        }
        if (finished.joinable()) finished.join();
    }

    std::mutex& lock() { return lock_; }

    ~Watcher() {
        std::thread finished;
        {
            std::lock_guard<std::mutex> g(lock_);
            stop_ = true;
            wake_.notify_all();
            finished = std::move(thread_);
        }
        if (finished.joinable()) finished.join();
        for (auto& [path, db] : dbs_) sqlite3_close_v2(db.conn);
    }

private:
    struct Db {
        sqlite3* conn = nullptr;
        int64_t version = -1;
        std::chrono::steady_clock::time_point pruned;
    };

    void run() {
        std::unique_lock<std::mutex> g(lock_);
        while (!stop_) {
            wake_.wait_for(g, PollInterval, [this] { return stop_; });
            if (stop_) break;
            auto subs = subs_;
            g.unlock();
            poll(subs);
            g.lock();
        }
    }

    void poll(const std::vector<std::shared_ptr<SubscriptionState>>& subs) {
        std::map<std::string, std::vector<std::shared_ptr<SubscriptionState>>> byDb;
        {
            std::lock_guard<std::mutex> g(lock_);
            for (const auto& s : subs)
                if (s->registered) byDb[s->dbPath].push_back(s);
        }
        for (auto& [path, list] : byDb) {
            try {
                pollDb(path, list);
            } catch (const std::exception&) {
                // A busy or vanished database is looked at again at the next round.
            }
        }
        for (const auto& s : subs) checkTimeout(s);
    }

    void pollDb(const std::string& path, const std::vector<std::shared_ptr<SubscriptionState>>& list) {
        Db& db = dbs_[path];
        if (!db.conn) db.conn = openConnection(path);
        const int64_t version = queryInt(db.conn, "PRAGMA data_version", -1);
        if (version == db.version) return;
        db.version = version;
        int64_t from = INT64_MAX;
        {
            std::lock_guard<std::mutex> g(lock_);
            for (const auto& s : list) from = std::min(from, s->seen);
        }
        const std::vector<LogRow> rows = readLog(db.conn, from);
        for (const auto& s : list) deliver(s, rows);
        prune(db);
    }

    static std::vector<LogRow> readLog(sqlite3* conn, int64_t from) {
        std::vector<LogRow> rows;
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(
                conn, "SELECT seq, table_name, op, row_id FROM oci_change_log WHERE seq > ? ORDER BY seq", -1,
                &q, nullptr) != SQLITE_OK) {
            sqlite3_finalize(q);
            return rows;  // no log yet
        }
        sqlite3_bind_int64(q, 1, from);
        while (sqlite3_step(q) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(q, 1));
            rows.push_back(LogRow{sqlite3_column_int64(q, 0), upper(name ? name : ""),
                                  static_cast<ub4>(sqlite3_column_int64(q, 2)), sqlite3_column_int64(q, 3)});
        }
        sqlite3_finalize(q);
        return rows;
    }

    static void prune(Db& db) {
        const auto now = std::chrono::steady_clock::now();
        if (now - db.pruned < PruneInterval) return;
        db.pruned = now;
        // Never waits for a writer: a busy database is pruned another time.
        sqlite3_busy_timeout(db.conn, 0);
        sqlite3_exec(db.conn,
                     ("DELETE FROM oci_change_log WHERE at < julianday('now') - " +
                      std::to_string(LogKeepSeconds) + " / 86400.0")
                         .c_str(),
                     nullptr, nullptr, nullptr);
        sqlite3_busy_timeout(db.conn, 5000);
    }

    // The rows past the subscription's mark that concern it, as one notification.
    void deliver(const std::shared_ptr<SubscriptionState>& s, const std::vector<LogRow>& rows) {
        std::vector<const LogRow*> mine;
        std::map<std::string, std::string> tables;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (!s->registered) return;
            const int64_t seen = s->seen;
            for (const LogRow& r : rows) {
                if (r.seq <= seen) continue;
                s->seen = r.seq;
                if (!s->tables.count(r.table)) continue;
                // The operations asked for choose among row changes; DDL always comes.
                const bool ddl = (r.op & (OCI_OPCODE_ALTER | OCI_OPCODE_DROP)) != 0;
                if (s->operations != OCI_OPCODE_ALLOPS && !(s->operations & r.op) && !ddl) continue;
                mine.push_back(&r);
            }
            if (mine.empty() || !s->enabled) return;
            tables = s->tables;
        }
        call(s, build(*s, mine, tables));
    }

    // The descriptor tree of one notification; freeing the root frees the rest.
    ChangeDescriptor* build(const SubscriptionState& s, const std::vector<const LogRow*>& rows,
                            const std::map<std::string, std::string>& tables) {
        auto* root = new ChangeDescriptor();
        root->type = OCI_EVENT_OBJCHANGE;
        registerHandle(root, nullptr);
        try {
            root->tables = new ChangeCollection();
            registerHandle(root->tables, root);
            addTables(s, *root, rows, tables);
        } catch (...) {
            freeHandle(root);
            throw;
        }
        return root;
    }

    void addTables(const SubscriptionState& s, ChangeDescriptor& root, const std::vector<const LogRow*>& rows,
                   const std::map<std::string, std::string>& tables) {
        // Tables in the order of their first change, rows likewise; a row's operations are joined.
        std::vector<std::string> order;
        std::map<std::string, std::pair<ub4, std::vector<std::pair<int64_t, ub4>>>> byTable;
        std::set<std::string> altered;  // tables with DDL: their rows are not told apart
        for (const LogRow* r : rows) {
            auto [it, added] = byTable.try_emplace(r->table);
            if (added) order.push_back(r->table);
            it->second.first |= r->op;
            if (r->op & (OCI_OPCODE_ALTER | OCI_OPCODE_DROP)) {
                altered.insert(r->table);
                continue;
            }
            auto& list = it->second.second;
            auto row =
                std::find_if(list.begin(), list.end(), [&](const auto& x) { return x.first == r->rowid; });
            if (row == list.end())
                list.emplace_back(r->rowid, r->op);
            else
                row->second |= r->op;
        }
        for (const std::string& table : order) {
            auto& [flags, list] = byTable[table];
            auto* t = new TableChangeDescriptor();
            t->name = utf8ToAnsi(tables.at(table));
            t->flags = flags;
            registerHandle(t, root.tables);
            root.tables->cells.push_back(t);
            if (!s.rowids || list.size() > MaxRowsPerTable || altered.count(table)) {
                t->flags |= OCI_OPCODE_ALLROWS;
                continue;
            }
            t->rows = new ChangeCollection();
            registerHandle(t->rows, t);
            const int64_t object = tableObject(s.dbPath, table);
            for (const auto& [rowid, op] : list) {
                auto* r = new RowChangeDescriptor();
                r->rowid = rowidText(object, rowid);
                r->flags = op;
                registerHandle(r, t->rows);
                t->rows->cells.push_back(r);
            }
        }
    }

    int64_t tableObject(const std::string& path, const std::string& table) {
        sqlite3* conn = dbs_[path].conn;
        sqlite3_stmt* q = nullptr;
        int64_t object = 0;
        if (sqlite3_prepare_v2(conn,
                               "SELECT rowid FROM sqlite_schema WHERE type = 'table' AND upper(name) = ?", -1,
                               &q, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(q) == SQLITE_ROW) object = sqlite3_column_int64(q, 0);
        }
        sqlite3_finalize(q);
        return object + 73000;
    }

    // A registration with a time-out ends when it has passed; the subscriber hears of it.
    void checkTimeout(const std::shared_ptr<SubscriptionState>& s) {
        {
            std::lock_guard<std::mutex> g(lock_);
            if (!s->registered || s->timeout == 0) return;
            if (std::chrono::steady_clock::now() - s->registeredAt < std::chrono::seconds(s->timeout)) return;
            s->registered = false;
        }
        auto* root = new ChangeDescriptor();
        root->type = OCI_EVENT_DEREG;
        registerHandle(root, nullptr);
        call(s, root);
        std::lock_guard<std::mutex> g(lock_);
        subs_.erase(std::remove(subs_.begin(), subs_.end(), s), subs_.end());
    }

    void call(const std::shared_ptr<SubscriptionState>& s, ChangeDescriptor* root) {
        Handle* handle = nullptr;
        {
            std::lock_guard<std::mutex> g(lock_);
            handle = s->handle;
            if (!handle || !s->callback) {
                freeHandle(root);
                return;
            }
            s->inCallback = true;
            s->callbackThread = std::this_thread::get_id();
        }
        ub4 payloadLength = 0;
        try {
            s->callback(s->context, reinterpret_cast<OCISubscription*>(handle), nullptr, &payloadLength, root,
                        OCI_DEFAULT);
        } catch (...) {
            // A callback has no way to report an error; the next notification still comes.
        }
        freeHandle(root);
        std::lock_guard<std::mutex> g(lock_);
        s->inCallback = false;
        s->callbackThread = {};
        idle_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable wake_, idle_;
    std::thread thread_;
    bool stop_ = false;
    std::vector<std::shared_ptr<SubscriptionState>> subs_;
    std::map<std::string, Db> dbs_;  // used by the watcher thread only
};

Subscription::~Subscription() {
    Watcher& w = Watcher::instance();
    {
        std::lock_guard<std::mutex> g(w.lock());
        state->handle = nullptr;
    }
    w.remove(state);
}

Subscription* subscriptionOf(const void* p) {
    return handleAs<Subscription>(p, OCI_HTYPE_SUBSCRIPTION);
}

ub4 readU4(const void* p) {
    ub4 v = 0;
    if (p) std::memcpy(&v, p, sizeof v);
    return v;
}

void putU4(void* attributep, ub4* sizep, ub4 v) {
    std::memcpy(attributep, &v, sizeof v);
    if (sizep) *sizep = sizeof v;
}

void putPointer(void* attributep, ub4* sizep, const void* p) {
    std::memcpy(attributep, &p, sizeof p);
    if (sizep) *sizep = sizeof p;
}

// Text attributes hand out the address of the text and its length.
void putText(void* attributep, ub4* sizep, const std::string& text) {
    putPointer(attributep, nullptr, text.c_str());
    if (sizep) *sizep = static_cast<ub4>(text.size());
}

void ensureTriggers(sqlite3* db, const std::string& table) {
    const std::string base = "oci_chnf_" + table;
    struct Kind {
        const char* suffix;
        const char* event;
        const char* row;
        const char* when;
        ub4 op;
    };
    // An object table moves a new row off a lost identifier right after the insert (an update of
    // the rowid no Oracle statement can make): the log gets the row where it ends up, and no update.
    const std::string lost = "(SELECT high FROM oci_object_oid WHERE name = " + quoteText(table) + ")";
    const std::string inserted =
        "NEW.rowid + CASE WHEN NEW.rowid <= coalesce(" + lost + ", 0) THEN " + lost + " ELSE 0 END";
    const Kind kinds[] = {{"_i", "INSERT", inserted.c_str(), "", OCI_OPCODE_INSERT},
                          {"_u", "UPDATE", "NEW.rowid", " WHEN OLD.rowid = NEW.rowid", OCI_OPCODE_UPDATE},
                          {"_d", "DELETE", "OLD.rowid", "", OCI_OPCODE_DELETE}};
    std::string sql = std::string(LogTableSql) + "; " + ObjectIdCatalog + ";";
    for (const Kind& k : kinds)
        sql += "CREATE TRIGGER IF NOT EXISTS " + quoteIdent(base + k.suffix) + " AFTER " + k.event + " ON " +
               quoteIdent(table) + " FOR EACH ROW" + k.when +
               " BEGIN INSERT INTO oci_change_log(table_name, op, row_id) VALUES (" + quoteText(table) +
               ", " + std::to_string(k.op) + ", " + k.row + "); END;";
    execOn(db, sql);
}

struct ReadTables {
    std::set<std::string> names;  // as SQLite knows them
};

int collectReads(void* arg, int action, const char* table, const char*, const char* database, const char*) {
    if (action == SQLITE_READ && table && database && std::strcmp(database, "main") == 0) {
        const std::string name = table;
        if (upper(name).rfind("SQLITE_", 0) != 0 && upper(name).rfind("OCI_", 0) != 0)
            static_cast<ReadTables*>(arg)->names.insert(name);
    }
    return SQLITE_OK;
}

}  // namespace

bool isChangeHandleType(ub4 type) {
    return type == OCI_HTYPE_SUBSCRIPTION || type == OCI_DTYPE_CHDES || type == OCI_DTYPE_TABLE_CHDES ||
           type == OCI_DTYPE_ROW_CHDES;
}

Handle* newSubscription() {
    return new Subscription();
}

sword subscriptionAttrSet(Handle* h, void* attributep, ub4, ub4 attrtype) {
    if (h->type != OCI_HTYPE_SUBSCRIPTION) raise(24315, "illegal attribute type");
    SubscriptionState& s = *static_cast<Subscription*>(h)->state;
    std::lock_guard<std::mutex> g(Watcher::instance().lock());
    if (s.registered) raise(24315, "illegal attribute type");  // fixed once registered
    switch (attrtype) {
        case OCI_ATTR_SUBSCR_NAMESPACE:
            s.nameSpace = readU4(attributep);
            return OCI_SUCCESS;
        case OCI_ATTR_SUBSCR_CALLBACK:
            s.callback = reinterpret_cast<OCISubscriptionNotify>(attributep);
            return OCI_SUCCESS;
        case OCI_ATTR_SUBSCR_CTX:
            s.context = attributep;
            return OCI_SUCCESS;
        case OCI_ATTR_CHNF_ROWIDS:
            s.rowids = readU4(attributep) != 0;
            return OCI_SUCCESS;
        case OCI_ATTR_CHNF_OPERATIONS:
            s.operations = readU4(attributep);
            return OCI_SUCCESS;
        case OCI_ATTR_SUBSCR_TIMEOUT:
            s.timeout = readU4(attributep);
            return OCI_SUCCESS;
        case OCI_ATTR_SUBSCR_QOSFLAGS:
            s.qos = readU4(attributep);
            return OCI_SUCCESS;
    }
    raise(24315, "illegal attribute type");
}

bool changeAttrGet(Handle* h, void* attributep, ub4* sizep, ub4 attrtype) {
    if (!attributep) return false;
    switch (h->type) {
        case OCI_DTYPE_CHDES: {
            auto* d = static_cast<ChangeDescriptor*>(h);
            if (attrtype == OCI_ATTR_CHDES_NFYTYPE) return putU4(attributep, sizep, d->type), true;
            if (attrtype == OCI_ATTR_CHDES_DBNAME) return putText(attributep, sizep, d->dbName), true;
            if (attrtype == OCI_ATTR_CHDES_TABLE_CHANGES)
                return putPointer(attributep, sizep, d->tables), true;
            return false;
        }
        case OCI_DTYPE_TABLE_CHDES: {
            auto* t = static_cast<TableChangeDescriptor*>(h);
            if (attrtype == OCI_ATTR_CHDES_TABLE_NAME) return putText(attributep, sizep, t->name), true;
            if (attrtype == OCI_ATTR_CHDES_TABLE_OPFLAGS) return putU4(attributep, sizep, t->flags), true;
            if (attrtype == OCI_ATTR_CHDES_TABLE_ROW_CHANGES)
                return putPointer(attributep, sizep, t->rows), true;
            return false;
        }
        case OCI_DTYPE_ROW_CHDES: {
            auto* r = static_cast<RowChangeDescriptor*>(h);
            if (attrtype == OCI_ATTR_CHDES_ROW_ROWID) return putText(attributep, sizep, r->rowid), true;
            if (attrtype == OCI_ATTR_CHDES_ROW_OPFLAGS) return putU4(attributep, sizep, r->flags), true;
            return false;
        }
    }
    return false;
}

void registerQueryTables(Session& s, Stmt& st) {
    Subscription* sub = subscriptionOf(st.changeRegistration);
    if (!sub) raise(24315, "illegal attribute type");
    SubscriptionState& state = *sub->state;
    {
        std::lock_guard<std::mutex> g(Watcher::instance().lock());
        if (!state.registered) raise(24950, "unregister failed, registration not found");
    }
    ReadTables reads;
    sqlite3_set_authorizer(s.db, collectReads, &reads);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(s.db, st.sql.c_str(), -1, &q, nullptr);
    sqlite3_finalize(q);
    sqlite3_set_authorizer(s.db, nullptr, nullptr);
    // Views are read too; only their tables can change.
    for (auto it = reads.names.begin(); it != reads.names.end();) {
        sqlite3_stmt* t = nullptr;
        bool table = false;
        if (sqlite3_prepare_v2(s.db, "SELECT 1 FROM main.sqlite_schema WHERE type = 'table' AND name = ?", -1,
                               &t, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(t, 1, it->c_str(), -1, SQLITE_TRANSIENT);
            table = sqlite3_step(t) == SQLITE_ROW;
        }
        sqlite3_finalize(t);
        it = table ? std::next(it) : reads.names.erase(it);
    }
    if (reads.names.empty()) return;
    // Triggers are made outside the session's transaction, unless the session holds the write
    // lock itself: then only its own connection can make them.
    sqlite3* conn = s.inTxn ? s.db : openConnection(s.dbPath);
    try {
        for (const std::string& name : reads.names) ensureTriggers(conn, name);
    } catch (...) {
        if (conn != s.db) sqlite3_close_v2(conn);
        throw;
    }
    if (conn != s.db) sqlite3_close_v2(conn);
    std::lock_guard<std::mutex> g(Watcher::instance().lock());
    for (const std::string& name : reads.names) state.tables[upper(name)] = s.schema + "." + upper(name);
}

}  // namespace oci

using namespace oci;

extern "C" {

sword OCISubscriptionRegister(OCISvcCtx* svchp, OCISubscription** subscrhpp, ub2 count, OCIError* errhp,
                              ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err || !subscrhpp) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!svc->session || !findHandle(svc->session)) raise(3114);
        Session& s = *svc->session;
        s.ensureAlive();
        for (ub2 k = 0; k < count; ++k) {
            Subscription* sub = subscriptionOf(subscrhpp[k]);
            if (!sub) raise(24316, "illegal handle type");
            SubscriptionState& state = *sub->state;
            if (state.nameSpace != OCI_SUBSCR_NAMESPACE_DBCHANGE)
                raise(24915, "cannot register for this namespace");
            if (!state.callback) raise(24913, "no notification callback set");
            // The log's end is where the registration starts hearing.
            sqlite3* conn = openConnection(s.dbPath);
            int64_t seen = 0;
            try {
                execOn(conn, LogTableSql);
                seen = queryInt(conn, "SELECT coalesce(max(seq), 0) FROM oci_change_log", 0);
            } catch (...) {
                sqlite3_close_v2(conn);
                throw;
            }
            sqlite3_close_v2(conn);
            Watcher& w = Watcher::instance();
            {
                std::lock_guard<std::mutex> g(w.lock());
                if (state.registered) continue;
                state.dbPath = s.dbPath;
                state.seen = seen;
                state.tables.clear();
                state.enabled = true;
                state.registered = true;
                state.registeredAt = std::chrono::steady_clock::now();
            }
            w.add(sub->state);
        }
        return OCI_SUCCESS;
    });
}

sword OCISubscriptionUnRegister(OCISvcCtx* svchp, OCISubscription* subscrhp, OCIError* errhp, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        Subscription* sub = subscriptionOf(subscrhp);
        if (!sub) raise(24316, "illegal handle type");
        {
            std::lock_guard<std::mutex> g(Watcher::instance().lock());
            if (!sub->state->registered) raise(24950, "unregister failed, registration not found");
        }
        Watcher::instance().remove(sub->state);
        return OCI_SUCCESS;
    });
}

static sword setEnabled(OCISubscription* subscrhp, OCIError* errhp, bool enabled) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        Subscription* sub = subscriptionOf(subscrhp);
        if (!sub) raise(24316, "illegal handle type");
        std::lock_guard<std::mutex> g(Watcher::instance().lock());
        if (!sub->state->registered) raise(24950, "unregister failed, registration not found");
        // Changes committed while disabled are dropped, not kept for later.
        sub->state->enabled = enabled;
        return OCI_SUCCESS;
    });
}

sword OCISubscriptionEnable(OCISubscription* subscrhp, OCIError* errhp, ub4) {
    return setEnabled(subscrhp, errhp, true);
}

sword OCISubscriptionDisable(OCISubscription* subscrhp, OCIError* errhp, ub4) {
    return setEnabled(subscrhp, errhp, false);
}

}  // extern "C"

// The collections of a change descriptor; OCICollSize and OCICollGetElem hand them here.
sword oci::changeCollSize(OCIError* errhp, const OCIColl* coll, sb4* size) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* c = handleAs<ChangeCollection>(coll, ChangeCollectionType);
    if (!err || !c || !size) return OCI_INVALID_HANDLE;
    *size = static_cast<sb4>(c->cells.size());
    return OCI_SUCCESS;
}

sword oci::changeCollGetElem(OCIError* errhp, const OCIColl* coll, sb4 index, boolean* exists, void** elem,
                             void** elemind) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* c = handleAs<ChangeCollection>(coll, ChangeCollectionType);
    if (!err || !c || !exists || !elem) return OCI_INVALID_HANDLE;
    const bool inside = index >= 0 && static_cast<size_t>(index) < c->cells.size();
    *exists = inside ? 1 : 0;
    *elem = inside ? &c->cells[static_cast<size_t>(index)] : nullptr;
    if (elemind) *elemind = nullptr;
    return OCI_SUCCESS;
}
