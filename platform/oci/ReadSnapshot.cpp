// Statement-level read consistency: every statement of a session reads the data committed when it
// starts, plus the session's own uncommitted changes, while half-read cursors go on with the data
// of their own start.
//
// SQLite keeps one read snapshot per connection for as long as any statement of it is being read,
// so a session whose cursor is half read would see nothing newer on that connection. Such a cursor
// is left where it is, and the session moves on to another connection of its own that holds no
// snapshot (one it kept, or a new one). Inside a transaction the session stays where it is: the
// transaction's connection holds the write lock, so no other commit can come between, and its own
// changes are there; cursors it must not disturb are read into memory before it writes
// (Session::drainCursors).
#include <algorithm>
#include <cstring>

#include "platform/oci/StandIn.h"

namespace oci {

namespace {

// Beyond this many connections a session stops opening new ones: the cursors of the current one
// are read into memory instead, which frees its snapshot just as well.
constexpr size_t kMaxConnections = 16;

// A cursor of the session is being read on conn: the connection holds that cursor's snapshot.
bool holdsSnapshot(const Session& s, sqlite3* conn) {
    for (const auto& w : s.cursors) {
        auto c = w.lock();
        if (!c) continue;
        sqlite3_stmt* st = c->statement();
        if (st && sqlite3_db_handle(st) == conn && sqlite3_stmt_busy(st)) return true;
    }
    return false;
}

}  // namespace

void Session::freshSnapshot() {
    if (!db || !sqlite3_get_autocommit(db) || !holdsSnapshot(*this, db)) return;
    auto idle = std::find_if(spareConnections.begin(), spareConnections.end(),
                             [this](sqlite3* c) { return !holdsSnapshot(*this, c); });
    sqlite3* next = idle == spareConnections.end() ? nullptr : *idle;
    if (!next && spareConnections.size() + 1 >= kMaxConnections) {
        drainCursors();
        return;
    }
    sqlite3* const previous = db;
    if (next) {
        std::lock_guard<std::mutex> g(connectionLock);
        spareConnections.erase(idle);
        spareConnections.push_back(previous);
        db = next;
    } else {
        next = openConnection(dbPath);
        {
            std::lock_guard<std::mutex> g(connectionLock);
            spareConnections.push_back(previous);
            db = next;
        }
        try {
            prepareConnection();
            // Table synonyms are temporary views of the logged-on session.
            if (!user.empty()) createSynonymViews(*this);
        } catch (...) {
            std::lock_guard<std::mutex> g(connectionLock);
            spareConnections.pop_back();
            db = previous;
            sqlite3_close_v2(next);
            throw;
        }
    }
    // What was read through the earlier connection is not comparable with the new one: the data
    // version is counted per connection, the change count of a global branch too.
    sqlite3_finalize(dataVersionQuery);
    dataVersionQuery = nullptr;
    routineCache.reset();
    routineCacheVersion = -1;
    if (branchStarted) branchChanges += sqlite3_total_changes(db) - sqlite3_total_changes(previous);
}

void Session::closeConnections() {
    std::lock_guard<std::mutex> g(connectionLock);
    for (sqlite3* c : spareConnections) sqlite3_close_v2(c);
    spareConnections.clear();
    sqlite3_close_v2(db);
    db = nullptr;
}

void Session::interrupt() {
    std::lock_guard<std::mutex> g(connectionLock);
    if (db) sqlite3_interrupt(db);
    for (sqlite3* c : spareConnections) sqlite3_interrupt(c);
}

}  // namespace oci
