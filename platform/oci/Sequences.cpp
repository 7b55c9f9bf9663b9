// Sequences: CREATE SEQUENCE / DROP SEQUENCE keep them in the catalog table oci_sequence; in SQL
// (and in the SQL of PL/SQL blocks) seq.NEXTVAL and seq.CURRVAL become calls of oci_nextval and
// oci_currval. As on Oracle, a number once handed out is never handed out again, even when the
// transaction that took it rolls back, and CURRVAL answers only after this session's NEXTVAL.
#include <climits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/oci/StandIn.h"

namespace oci {

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS oci_sequence(name TEXT PRIMARY KEY, min_value INTEGER, max_value INTEGER, "
    "increment_by INTEGER NOT NULL, cycle_flag INTEGER NOT NULL, cache_size INTEGER NOT NULL, "
    "next_value INTEGER NOT NULL)";

bool hasTable(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db,
                           "SELECT 1 FROM main.sqlite_schema WHERE type = 'table' AND name = 'oci_sequence'",
                           -1, &st, nullptr) == SQLITE_OK)
        found = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return found;
}

// Words of a DDL text: names upper case unless quoted, numbers with their sign.
std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) <= ' ' || c == ';') {
            ++i;
        } else if (c == '"') {
            size_t e = text.find('"', i + 1);
            if (e == std::string::npos) raise(1740, "missing double quote in identifier");
            out.push_back(text.substr(i, e + 1 - i));
            i = e + 1;
        } else if (c == '.') {
            out.emplace_back(".");
            ++i;
        } else {
            size_t b = i;
            while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' && text[i] != ';' &&
                   text[i] != '.' && text[i] != '"')
                ++i;
            out.push_back(upper(text.substr(b, i - b)));
        }
    }
    return out;
}

std::string bare(const std::string& name) {
    if (name.size() >= 2 && name.front() == '"') return name.substr(1, name.size() - 2);
    return name;
}

int64_t number(const std::vector<std::string>& w, size_t& k) {
    if (k >= w.size()) raise(1722, "invalid number");
    try {
        size_t used = 0;
        const long long v = std::stoll(w[k], &used);
        if (used != w[k].size()) raise(1722, "invalid number");
        ++k;
        return v;
    } catch (const std::logic_error&) {
        raise(1722, "invalid number");
    }
}

struct SeqRow {
    bool found = false;
    bool hasMin = false, hasMax = false;
    int64_t minValue = 0, maxValue = 0, increment = 1, next = 1;
    bool cycle = false;
};

SeqRow readSequence(Session& s, const std::string& name) {
    SeqRow r;
    if (!hasTable(s.db)) return r;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            s.db,
            "SELECT min_value, max_value, increment_by, cycle_flag, next_value FROM oci_sequence "
            "WHERE name = ?1",
            -1, &st, nullptr) != SQLITE_OK)
        s.raiseSqlite(sqlite3_errcode(s.db));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) {
        r.found = true;
        r.hasMin = sqlite3_column_type(st, 0) != SQLITE_NULL;
        r.minValue = sqlite3_column_int64(st, 0);
        r.hasMax = sqlite3_column_type(st, 1) != SQLITE_NULL;
        r.maxValue = sqlite3_column_int64(st, 1);
        r.increment = sqlite3_column_int64(st, 2);
        r.cycle = sqlite3_column_int(st, 3) != 0;
        r.next = sqlite3_column_int64(st, 4);
    }
    sqlite3_finalize(st);
    return r;
}

void writeNext(Session& s, const std::string& name, int64_t next, bool onlyForward = false) {
    sqlite3_stmt* st = nullptr;
    const char* sql = onlyForward ? "UPDATE oci_sequence SET next_value = CASE WHEN increment_by > 0 THEN "
                                    "max(next_value, ?2) ELSE min(next_value, ?2) END WHERE name = ?1"
                                  : "UPDATE oci_sequence SET next_value = ?2 WHERE name = ?1";
    if (sqlite3_prepare_v2(s.db, sql, -1, &st, nullptr) != SQLITE_OK) s.raiseSqlite(sqlite3_errcode(s.db));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, next);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) s.raiseSqlite(rc);
}

// The lowest and highest values of a sequence (no limit: the range of the stored integers).
int64_t lowest(const SeqRow& r) {
    return r.hasMin ? r.minValue : LLONG_MIN;
}
int64_t highest(const SeqRow& r) {
    return r.hasMax ? r.maxValue : LLONG_MAX;
}

int64_t takeNext(Session& s, const std::string& name) {
    SeqRow r = readSequence(s, name);
    if (!r.found) raise(2289, "sequence does not exist");
    const int64_t value = r.next;
    if (value > highest(r) || value < lowest(r))
        raise(8004, "sequence " + name + ".NEXTVAL " +
                        (r.increment > 0 ? "exceeds MAXVALUE" : "goes below MINVALUE") +
                        " and cannot be instantiated");
    int64_t next;
    if (__builtin_add_overflow(value, r.increment, &next) || next > highest(r) || next < lowest(r)) {
        // The one after the last: the other end when cycling, else a value past the limit.
        if (r.cycle)
            next = r.increment > 0 ? lowest(r) : highest(r);
        else
            next = r.increment > 0 ? (value == LLONG_MAX ? value : highest(r) + 1)
                                   : (value == LLONG_MIN ? value : lowest(r) - 1);
        if (!r.cycle && next == value) next = r.increment > 0 ? LLONG_MAX : LLONG_MIN;
    }
    writeNext(s, name, next);
    // Inside a transaction the write could be rolled back: remembered to be written again then.
    if (!sqlite3_get_autocommit(s.db)) s.sequenceNext[name] = next;
    s.sequenceCurrent[name] = value;
    return value;
}

void fnNextval(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    const unsigned char* n = sqlite3_value_text(argv[0]);
    try {
        sqlite3_result_int64(ctx, takeNext(*s, n ? reinterpret_cast<const char*>(n) : ""));
    } catch (const OraException& e) {
        s->pendingRaise = std::make_pair(e.code(), std::string(e.what()));
        sqlite3_result_error(ctx, "nextval", -1);
    }
}

void fnCurrval(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    const std::string name = sqlite3_value_text(argv[0])
                                 ? reinterpret_cast<const char*>(sqlite3_value_text(argv[0]))
                                 : std::string();
    auto it = s->sequenceCurrent.find(name);
    if (it != s->sequenceCurrent.end()) return sqlite3_result_int64(ctx, it->second);
    s->pendingRaise =
        readSequence(*s, name).found
            ? std::make_pair(sb4(8002), "sequence " + name + ".CURRVAL is not yet defined in this session")
            : std::make_pair(sb4(2289), std::string("sequence does not exist"));
    sqlite3_result_error(ctx, "currval", -1);
}

void createSequence(Session& s, const std::vector<std::string>& w, size_t k) {
    if (k >= w.size()) raise(903, "invalid table name");
    std::string name = bare(w[k++]);
    if (k + 1 < w.size() && w[k] == ".") {  // a schema in front
        name = bare(w[k + 1]);
        k += 2;
    }
    int64_t increment = 1, start = 0;
    bool hasStart = false, cycle = false;
    std::optional<int64_t> minValue, maxValue;
    bool noMin = false, noMax = false;
    int64_t cache = 20;
    while (k < w.size()) {
        const std::string& word = w[k++];
        if (word == "INCREMENT") {
            if (k < w.size() && w[k] == "BY") ++k;
            increment = number(w, k);
            if (increment == 0) raise(4002, "INCREMENT must be a non-zero integer");
        } else if (word == "START") {
            if (k < w.size() && w[k] == "WITH") ++k;
            start = number(w, k);
            hasStart = true;
        } else if (word == "MINVALUE") {
            minValue = number(w, k);
        } else if (word == "MAXVALUE") {
            maxValue = number(w, k);
        } else if (word == "NOMINVALUE") {
            noMin = true;
        } else if (word == "NOMAXVALUE") {
            noMax = true;
        } else if (word == "CYCLE") {
            cycle = true;
        } else if (word == "NOCYCLE" || word == "ORDER" || word == "NOORDER" || word == "NOCACHE") {
            if (word == "NOCACHE") cache = 0;
        } else if (word == "CACHE") {
            cache = number(w, k);
        } else {
            raise(933, "SQL command not properly ended");
        }
    }
    (void)noMin;
    (void)noMax;
    // Oracle's defaults: an ascending sequence starts at 1 and has no maximum, a descending one
    // starts at -1 and has no minimum.
    if (increment > 0 && !minValue) minValue = 1;
    if (increment < 0 && !maxValue) maxValue = -1;
    if (minValue && maxValue && *minValue >= *maxValue)
        raise(4005, "INCREMENT must be less than MAXVALUE minus MINVALUE");
    if (!hasStart) start = increment > 0 ? *minValue : *maxValue;
    if (minValue && start < *minValue) raise(4006, "START WITH cannot be less than MINVALUE");
    if (maxValue && start > *maxValue) raise(4008, "START WITH cannot be more than MAXVALUE");

    s.exec(kCreateTable);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            s.db,
            "SELECT 1 FROM oci_sequence WHERE name = ?1 UNION ALL SELECT 1 FROM main.sqlite_schema "
            "WHERE upper(name) = ?1 AND type IN ('table', 'view')",
            -1, &st, nullptr) != SQLITE_OK)
        s.raiseSqlite(sqlite3_errcode(s.db));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    const bool used = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    if (used) raise(955, "name is already used by an existing object");
    if (sqlite3_prepare_v2(s.db,
                           "INSERT INTO oci_sequence(name, min_value, max_value, increment_by, cycle_flag, "
                           "cache_size, next_value) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                           -1, &st, nullptr) != SQLITE_OK)
        s.raiseSqlite(sqlite3_errcode(s.db));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (minValue)
        sqlite3_bind_int64(st, 2, *minValue);
    else
        sqlite3_bind_null(st, 2);
    if (maxValue)
        sqlite3_bind_int64(st, 3, *maxValue);
    else
        sqlite3_bind_null(st, 3);
    sqlite3_bind_int64(st, 4, increment);
    sqlite3_bind_int(st, 5, cycle ? 1 : 0);
    sqlite3_bind_int64(st, 6, cache);
    sqlite3_bind_int64(st, 7, start);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) s.raiseSqlite(rc);
}

void dropSequence(Session& s, const std::vector<std::string>& w, size_t k) {
    if (k >= w.size()) raise(903, "invalid table name");
    std::string name = bare(w[k++]);
    if (k + 1 < w.size() && w[k] == ".") name = bare(w[k + 1]);
    if (!readSequence(s, name).found) raise(2289, "sequence does not exist");
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(s.db, "DELETE FROM oci_sequence WHERE name = ?1", -1, &st, nullptr) != SQLITE_OK)
        s.raiseSqlite(sqlite3_errcode(s.db));
    sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
    s.sequenceCurrent.erase(name);
    s.sequenceNext.erase(name);
}

}  // namespace

bool runSequenceDdl(Session& s, const std::string& utf8) {
    const std::vector<std::string> w = words(utf8);
    if (w.size() < 2 || w[1] != "SEQUENCE") return false;
    if (w[0] == "CREATE") {
        createSequence(s, w, 2);
        return true;
    }
    if (w[0] == "DROP") {
        dropSequence(s, w, 2);
        return true;
    }
    return false;
}

void registerSequenceFunctions(Session& s) {
    sqlite3_create_function(s.db, "oci_nextval", 1, SQLITE_UTF8, &s, fnNextval, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_currval", 1, SQLITE_UTF8, &s, fnCurrval, nullptr, nullptr);
}

void createSequenceView(Session& s) {
    bool ready = hasTable(s.db);
    if (!ready) ready = sqlite3_exec(s.db, kCreateTable, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ready) {
        // A database another session is writing: no sequences to show yet.
        s.exec("CREATE TEMP VIEW oci_dict_sequences AS SELECT NULL AS name, NULL AS id WHERE 0");
        s.exec(
            "CREATE TEMP VIEW all_sequences AS SELECT CAST(NULL AS VARCHAR2(128)) AS SEQUENCE_OWNER, "
            "CAST(NULL AS "
            "VARCHAR2(128)) AS SEQUENCE_NAME, CAST(NULL AS NUMBER) AS MIN_VALUE, CAST(NULL AS NUMBER) AS "
            "MAX_VALUE, "
            "CAST(NULL AS NUMBER) AS INCREMENT_BY, CAST(NULL AS VARCHAR2(1)) AS CYCLE_FLAG, CAST(NULL AS "
            "VARCHAR2(1)) "
            "AS ORDER_FLAG, CAST(NULL AS NUMBER) AS CACHE_SIZE, CAST(NULL AS NUMBER) AS LAST_NUMBER WHERE 0");
        return;
    }
    s.exec(
        "CREATE TEMP VIEW oci_dict_sequences AS SELECT name, rowid + 1000000 AS id FROM main.oci_sequence");
    // Without a limit, Oracle shows 10^28 - 1 (ascending) or -(10^27 - 1) (descending).
    s.exec(
        "CREATE TEMP VIEW all_sequences AS SELECT CAST(sys_context('USERENV', 'CURRENT_SCHEMA') AS "
        "VARCHAR2(128)) AS "
        "SEQUENCE_OWNER, CAST(name AS VARCHAR2(128)) AS SEQUENCE_NAME, CAST(coalesce(min_value, "
        "'-999999999999999999999999999') AS NUMBER) AS MIN_VALUE, CAST(coalesce(max_value, "
        "'9999999999999999999999999999') AS NUMBER) AS MAX_VALUE, CAST(increment_by AS NUMBER) AS "
        "INCREMENT_BY, "
        "CAST(CASE WHEN cycle_flag = 1 THEN 'Y' ELSE 'N' END AS VARCHAR2(1)) AS CYCLE_FLAG, CAST('N' AS "
        "VARCHAR2(1)) "
        "AS ORDER_FLAG, CAST(cache_size AS NUMBER) AS CACHE_SIZE, CAST(next_value AS NUMBER) AS LAST_NUMBER "
        "FROM "
        "main.oci_sequence");
}

void sequencesAfterRollback(Session& s) {
    // What this session took stays taken: the rolled-back positions are written again.
    if (s.sequenceNext.empty() || !hasTable(s.db)) return;
    for (const auto& [name, next] : s.sequenceNext) writeNext(s, name, next, true);
    // Outside a transaction the writes are kept at once.
    if (sqlite3_get_autocommit(s.db)) s.sequenceNext.clear();
}

void sequencesAfterCommit(Session& s) {
    s.sequenceNext.clear();
}

}  // namespace oci
