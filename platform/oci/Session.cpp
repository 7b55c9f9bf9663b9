// The server side: databases, sessions, transactions and injected faults.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/oci/Changes.h"
#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

namespace {

bool fileExists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ORACLE_HOME, or the folder above the one this library was loaded from.
std::string oracleHome() {
    if (const char* h = std::getenv("ORACLE_HOME"); h && *h) return h;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&oracleHome), &info) && info.dli_fname) {
        std::string lib = info.dli_fname;
        auto slash = lib.rfind('/');
        if (slash != std::string::npos) {
            std::string dir = lib.substr(0, slash);
            auto up = dir.rfind('/');
            if (up != std::string::npos) return dir.substr(0, up);
        }
    }
    return ".";
}

std::string resolveDatabase(const std::string& connect) {
    std::string name = trim(connect);
    if (name.empty()) raise(12154);
    if (fileExists(name)) return name;
    // "host:port/service" and "//host/service" name the service after the last slash
    auto slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    auto colon = name.rfind(':');
    if (colon != std::string::npos) name = name.substr(colon + 1);
    if (name.empty()) raise(12154);
    std::string dbs = oracleHome() + "/dbs/";
    for (const std::string& cand :
         {name, upper(name), [&] {
              std::string l = name;
              for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
              return l;
          }()}) {
        if (fileExists(dbs + cand + ".db")) return dbs + cand + ".db";
    }
    raise(12154);
}

// Faults fire a limited number of times per process; the counters live here, not in the database, so
// that a rolled-back transaction cannot revive a fault that already fired.
std::mutex& faultLock() {
    static std::mutex m;
    return m;
}
struct FaultUse {
    int64_t seen = 0, used = 0;
};
std::map<std::pair<std::string, int64_t>, FaultUse>& faultUses() {
    static std::map<std::pair<std::string, int64_t>, FaultUse> m;
    return m;
}

// Reads every fault of the table; none when the table is missing.
std::vector<Fault> readFaults(sqlite3* ctl) {
    std::vector<Fault> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(
            ctl,
            "SELECT id, upper(kind), ifnull(target, ''), ifnull(code, 0), ifnull(message, ''), "
            "times, ifnull(after_calls, 0) FROM oci_fault ORDER BY id",
            -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return out;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        Fault f;
        f.id = sqlite3_column_int64(st, 0);
        f.kind = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
        f.target = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        f.code = static_cast<sb4>(sqlite3_column_int64(st, 3));
        f.message = reinterpret_cast<const char*>(sqlite3_column_text(st, 4));
        if (sqlite3_column_type(st, 5) != SQLITE_NULL) f.times = sqlite3_column_int64(st, 5);
        f.after = sqlite3_column_int64(st, 6);
        out.push_back(f);
    }
    sqlite3_finalize(st);
    return out;
}

// Takes one use of a fault; false when it is used up.
bool takeFault(const std::string& db, const Fault& f) {
    std::lock_guard<std::mutex> g(faultLock());
    FaultUse& u = faultUses()[{db, f.id}];
    if (++u.seen <= f.after) return false;
    if (f.times && u.used >= *f.times) return false;
    ++u.used;
    return true;
}

// ---- SQL functions the stand-in adds to every session --------------------------------------------------

void fnRaiseApplicationError(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    sb4 code = argc > 0 ? static_cast<sb4>(sqlite3_value_int64(argv[0])) : 20000;
    if (code < 0) code = -code;
    std::string text;
    if (argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL)
        text = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    s->pendingRaise = std::make_pair(code, text);
    sqlite3_result_error(ctx, "raise_application_error", -1);
}

void fnNvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

// DECODE(expr, search, result, ..., [default]); NULL matches NULL as in Oracle.
void fnDecode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    for (int k = 1; k + 1 < argc; k += 2) {
        bool n0 = sqlite3_value_type(argv[0]) == SQLITE_NULL, n1 = sqlite3_value_type(argv[k]) == SQLITE_NULL;
        bool eq;
        if (n0 || n1) {
            eq = n0 && n1;
        } else if (sqlite3_value_numeric_type(argv[0]) != SQLITE_TEXT &&
                   sqlite3_value_numeric_type(argv[k]) != SQLITE_TEXT) {
            eq = sqlite3_value_double(argv[0]) == sqlite3_value_double(argv[k]);
        } else {
            eq = std::strcmp(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])),
                             reinterpret_cast<const char*>(sqlite3_value_text(argv[k]))) == 0;
        }
        if (eq) {
            sqlite3_result_value(ctx, argv[k + 1]);
            return;
        }
    }
    if (argc % 2 == 0) {
        sqlite3_result_value(ctx, argv[argc - 1]);
    } else {
        sqlite3_result_null(ctx);
    }
}

void fnSysContext(sqlite3_context* ctx, int, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    const unsigned char* a = sqlite3_value_text(argv[1]);
    std::string attr = upper(a ? reinterpret_cast<const char*>(a) : "");
    std::string v;
    if (attr == "CURRENT_SCHEMA") {
        v = s->schema;
    } else if (attr == "SESSION_USER" || attr == "CURRENT_USER") {
        v = upper(s->user);
    } else if (attr == "CLIENT_IDENTIFIER") {
        v = s->clientIdentifier;
    }
    if (v.empty()) {
        sqlite3_result_null(ctx);
    } else {
        sqlite3_result_text(ctx, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
}

// Oracle conversion functions over the stand-in's value forms. Failures raise the ORA code.
std::string argText(sqlite3_value* v) {
    const unsigned char* t = sqlite3_value_text(v);
    return t ? reinterpret_cast<const char*>(t) : "";
}

template <class F>
void withOraErrors(sqlite3_context* ctx, F&& f) {
    try {
        f();
    } catch (const OraException& e) {
        static_cast<Session*>(sqlite3_user_data(ctx))->pendingRaise =
            std::make_pair(e.code(), std::string(e.what()));
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

void resultText(sqlite3_context* ctx, const std::string& t) {
    sqlite3_result_text(ctx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

// Without a format model TO_CHAR, TO_DATE and TO_NUMBER follow the session's NLS settings.
void fnToChar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    withOraErrors(ctx, [&] {
        int type = sqlite3_value_type(argv[0]);
        std::string fmt = argc > 1 ? argText(argv[1]) : "";
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            Value v = type == SQLITE_INTEGER ? Value::ofInt(sqlite3_value_int64(argv[0]))
                                             : Value::ofReal(sqlite3_value_double(argv[0]));
            return resultText(ctx, decimalToText(valueToDecimal(v), s->decimalChar()));
        }
        DateParts p;
        std::string t = argText(argv[0]);
        if (!parseDateText(t, p)) return resultText(ctx, t);
        resultText(ctx, formatDateModel(p, fmt.empty() ? s->nlsValue("NLS_DATE_FORMAT") : fmt));
    });
}

void fnToDate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    withOraErrors(ctx, [&] {
        std::string t = argText(argv[0]);
        DateParts p;
        if (argc > 1) {
            p = parseDateModel(t, argText(argv[1]));
        } else if (!parseDateText(t, p)) {
            p = parseDateModel(t, s->nlsValue("NLS_DATE_FORMAT"));
        }
        resultText(ctx, dateToText(p));
    });
}

void fnToNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    withOraErrors(ctx, [&] {
        if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER)
            return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        if (sqlite3_value_type(argv[0]) == SQLITE_FLOAT)
            return sqlite3_result_double(ctx, sqlite3_value_double(argv[0]));
        Decimal d;
        if (!parseDecimal(argText(argv[0]), d, s->decimalChar())) raise(1722);
        Value v = decimalToValue(d);
        if (v.kind == Value::Int) {
            sqlite3_result_int64(ctx, v.i);
        } else {
            sqlite3_result_double(ctx, v.r);
        }
    });
}

// TRUNC(date) drops the time of day; TRUNC(number[, digits]) cuts toward zero.
void fnTrunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    withOraErrors(ctx, [&] {
        DateParts p;
        if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && parseDateText(argText(argv[0]), p)) {
            p.hour = p.minute = p.second = 0;
            p.nanos = 0;
            return resultText(ctx, dateToText(p));
        }
        Value in = sqlite3_value_type(argv[0]) == SQLITE_INTEGER ? Value::ofInt(sqlite3_value_int64(argv[0]))
                   : sqlite3_value_type(argv[0]) == SQLITE_FLOAT
                       ? Value::ofReal(sqlite3_value_double(argv[0]))
                       : Value::ofText(argText(argv[0]));
        Decimal d = valueToDecimal(in);
        int digits = argc > 1 ? std::clamp(sqlite3_value_int(argv[1]), -200, 200) : 0;
        int keep = d.exp10 + digits;
        if (keep <= 0) {
            d = Decimal{};
        } else if (keep < static_cast<int>(d.digits.size())) {
            d.digits.resize(keep);
            while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
            if (d.digits.empty()) d = Decimal{};
        }
        Value v = decimalToValue(d);
        if (v.kind == Value::Int) {
            sqlite3_result_int64(ctx, v.i);
        } else {
            sqlite3_result_double(ctx, v.r);
        }
    });
}

void fnNvl2(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[2] : argv[1]);
}

// What nls_session_parameters holds for a new session of an AMERICAN_AMERICA client.
std::map<std::string, std::string> defaultNls() {
    return {{"NLS_LANGUAGE", "AMERICAN"},
            {"NLS_TERRITORY", "AMERICA"},
            {"NLS_CURRENCY", "$"},
            {"NLS_ISO_CURRENCY", "AMERICA"},
            {"NLS_NUMERIC_CHARACTERS", ".,"},
            {"NLS_CALENDAR", "GREGORIAN"},
            {"NLS_DATE_FORMAT", "DD-MON-RR"},
            {"NLS_DATE_LANGUAGE", "AMERICAN"},
            {"NLS_SORT", "BINARY"},
            {"NLS_TIME_FORMAT", "HH.MI.SSXFF AM"},
            {"NLS_TIMESTAMP_FORMAT", "DD-MON-RR HH.MI.SSXFF AM"},
            {"NLS_TIME_TZ_FORMAT", "HH.MI.SSXFF AM TZR"},
            {"NLS_TIMESTAMP_TZ_FORMAT", "DD-MON-RR HH.MI.SSXFF AM TZR"},
            {"NLS_DUAL_CURRENCY", "$"},
            {"NLS_COMP", "BINARY"},
            {"NLS_LENGTH_SEMANTICS", "BYTE"},
            {"NLS_NCHAR_CONV_EXCP", "FALSE"}};
}

bool oneOf(const std::string& v, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* x) { return v == x; });
}

[[noreturn]] void invalidNls() {
    raise(12705, "Cannot access NLS data files or invalid environment specified");
}

// Session parameters ALTER SESSION accepts besides the NLS ones; anything else is ORA-02248.
bool otherSessionParameter(const std::string& name) {
    return oneOf(name, {"TIME_ZONE",
                        "SQL_TRACE",
                        "TIMED_STATISTICS",
                        "STATISTICS_LEVEL",
                        "CURSOR_SHARING",
                        "SKIP_UNUSABLE_INDEXES",
                        "DDL_LOCK_TIMEOUT",
                        "WORKAREA_SIZE_POLICY",
                        "SORT_AREA_SIZE",
                        "SORT_AREA_RETAINED_SIZE",
                        "HASH_AREA_SIZE",
                        "EVENTS",
                        "EDITION",
                        "GLOBAL_NAMES",
                        "MAX_DUMP_FILE_SIZE",
                        "TRACEFILE_IDENTIFIER",
                        "DB_FILE_MULTIBLOCK_READ_COUNT",
                        "PLSQL_OPTIMIZE_LEVEL",
                        "PLSQL_CODE_TYPE",
                        "PLSQL_WARNINGS",
                        "PLSQL_DEBUG",
                        "PLSQL_CCFLAGS",
                        "OPTIMIZER_INDEX_COST_ADJ",
                        "OPTIMIZER_INDEX_CACHING",
                        "OPTIMIZER_DYNAMIC_SAMPLING",
                        "OPTIMIZER_FEATURES_ENABLE",
                        "QUERY_REWRITE_ENABLED",
                        "QUERY_REWRITE_INTEGRITY",
                        "STAR_TRANSFORMATION_ENABLED",
                        "RECYCLEBIN",
                        "COMMIT_WRITE",
                        "COMMIT_LOGGING",
                        "COMMIT_WAIT",
                        "RESUMABLE_TIMEOUT",
                        "ISOLATION_LEVEL",
                        "CONSTRAINTS",
                        "USE_STORED_OUTLINES",
                        "CREATE_STORED_OUTLINES",
                        "PARALLEL_DEGREE_POLICY",
                        "PARALLEL_MIN_PERCENT",
                        "ERROR_ON_OVERLAP_TIME",
                        "SESSION_CACHED_CURSORS",
                        "NLS_CURRENCY",
                        "NLS_ISO_CURRENCY",
                        "NLS_DUAL_CURRENCY",
                        "NLS_CALENDAR",
                        "NLS_NCHAR_CONV_EXCP"});
}

}  // namespace

sqlite3* openConnection(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        raise(12154);
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

void resetFaultCounters() {
    std::lock_guard<std::mutex> g(faultLock());
    faultUses().clear();
}

Session::~Session() {
    end();
    if (svc && findHandle(svc) && svc->session == this) svc->session = nullptr;
}

void Session::exec(const std::string& sql) {
    char* msg = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
    sqlite3_free(msg);
    if (rc != SQLITE_OK) raiseSqlite(rc);
}

void Session::raiseSqlite(int rc, const std::string&) {
    raiseSqliteOn(db, rc);
}

void Session::raiseSqliteOn(sqlite3* conn, int rc) {
    if (pendingRaise) {
        auto r = *pendingRaise;
        pendingRaise.reset();
        raise(r.first, r.second);
    }
    int ext = sqlite3_extended_errcode(conn);
    std::string msg = sqlite3_errmsg(conn);
    auto detail = [&](const char* prefix) {
        auto p = msg.find(prefix);
        return p == std::string::npos ? std::string() : msg.substr(p + std::strlen(prefix));
    };
    switch (ext) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
            raise(1, "unique constraint (" + schema + "." + upper(detail("failed: ")) + ") violated");
        case SQLITE_CONSTRAINT_NOTNULL:
            raise(1400, "cannot insert NULL into (\"" + schema + "\".\"" + upper(detail("failed: ")) + "\")");
        case SQLITE_CONSTRAINT_CHECK:
            raise(2290, "check constraint (" + schema + "." + upper(detail("failed: ")) + ") violated");
        case SQLITE_CONSTRAINT_FOREIGNKEY:
            raise(2291, "integrity constraint violated - parent key not found");
    }
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) raise(54);
    if ((rc & 0xFF) == SQLITE_INTERRUPT) raise(1013, "user requested cancel of current operation");
    if (msg.rfind("no such table", 0) == 0) raise(942);
    if (msg.rfind("no such column", 0) == 0)
        raise(904, "\"" + upper(detail("column: ")) + "\": invalid identifier");
    if (msg.find("syntax error") != std::string::npos || msg.rfind("incomplete input", 0) == 0) raise(900);
    if (msg.rfind("no such function", 0) == 0)
        raise(904, "\"" + upper(detail("function: ")) + "\": invalid identifier");
    // "table t has 3 columns but 2 values were supplied", "2 values for 3 columns"
    long columns = 0, values = 0;
    if (std::sscanf(msg.c_str(), "table %*s has %ld columns but %ld values were supplied", &columns,
                    &values) == 2 ||
        std::sscanf(msg.c_str(), "%ld values for %ld columns", &values, &columns) == 2) {
        if (values < columns) raise(947, "not enough values");
        raise(913, "too many values");
    }
    raise(600, "internal error code, arguments: [sqlite], [" + msg + "]");
}

void Session::open(const std::string& path) {
    dbPath = path;
    db = openConnection(path, SQLITE_OPEN_READWRITE);
    ctl = openConnection(path, SQLITE_OPEN_READONLY);
    exec("PRAGMA journal_mode=WAL");
    nls = defaultNls();
    prepareConnection();
}

// Everything a connection of the session needs, done on db: the session may open further
// connections later (ReadSnapshot.cpp), and each must answer the same SQL.
void Session::prepareConnection() {
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA foreign_keys=ON");
    exec("CREATE TEMP VIEW IF NOT EXISTS dual AS SELECT CAST('X' AS VARCHAR2(1)) AS DUMMY");
    sqlite3_create_function(db, "raise_application_error", -1, SQLITE_UTF8, this, fnRaiseApplicationError,
                            nullptr, nullptr);
    sqlite3_create_function(db, "nvl", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, this, fnNvl, nullptr, nullptr);
    registerRowidFunction(db);
    sqlite3_create_function(db, "decode", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, this, fnDecode, nullptr,
                            nullptr);
    sqlite3_create_function(db, "sys_context", 2, SQLITE_UTF8, this, fnSysContext, nullptr, nullptr);
    for (int n : {1, 2}) {
        sqlite3_create_function(db, "to_char", n, SQLITE_UTF8, this, fnToChar, nullptr, nullptr);
        sqlite3_create_function(db, "to_date", n, SQLITE_UTF8, this, fnToDate, nullptr, nullptr);
        sqlite3_create_function(db, "trunc", n, SQLITE_UTF8, this, fnTrunc, nullptr, nullptr);
    }
    sqlite3_create_function(db, "to_number", 1, SQLITE_UTF8, this, fnToNumber, nullptr, nullptr);
    sqlite3_create_function(db, "nvl2", 3, SQLITE_UTF8, this, fnNvl2, nullptr, nullptr);
    createDictionary(*this);
    registerSequenceFunctions(*this);
    createPlSqlFunctions(db);
    registerLobFunctions(db);
    registerObjectFunctions(*this);
    // A write to the catalog makes the routine cache unusable until its transaction ends; the end,
    // either way, starts a new cache.
    sqlite3_update_hook(
        db,
        [](void* self, int, const char*, const char* table, sqlite3_int64) {
            if (std::strncmp(table, "oci_", 4) == 0) static_cast<Session*>(self)->catalogDirty = true;
        },
        this);
    sqlite3_commit_hook(
        db,
        [](void* self) {
            static_cast<Session*>(self)->catalogTransactionEnded();
            return 0;
        },
        this);
    sqlite3_rollback_hook(
        db, [](void* self) { static_cast<Session*>(self)->catalogTransactionEnded(); }, this);
}

void Session::catalogTransactionEnded() {
    if (!catalogDirty) return;
    catalogDirty = false;
    ++catalogWrites;
}

bool Session::routineCacheValid() {
    int64_t version = -1;
    if (dataVersionQuery ||
        sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &dataVersionQuery, nullptr) == SQLITE_OK) {
        if (sqlite3_step(dataVersionQuery) == SQLITE_ROW) version = sqlite3_column_int64(dataVersionQuery, 0);
        sqlite3_reset(dataVersionQuery);
    }
    const bool valid = routineCache && !catalogDirty && version >= 0 && version == routineCacheVersion &&
                       catalogWrites == routineCacheWrites;
    if (!valid) {
        routineCache.reset();
        routineCacheVersion = version;
        routineCacheWrites = catalogWrites;
    }
    return valid;
}

void Session::setParameter(const std::string& name, const std::string& value) {
    std::string v = upper(value);
    if (name == "CURRENT_SCHEMA") {
        sqlite3_stmt* st = nullptr;
        bool known = false;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM oci_user WHERE upper(name) = upper(?)", -1, &st, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_text(st, 1, value.c_str(), -1, SQLITE_TRANSIENT);
            known = sqlite3_step(st) == SQLITE_ROW;
        }
        sqlite3_finalize(st);
        if (!known) raise(1435);
        schema = v;
    } else if (name == "OPTIMIZER_MODE") {
        if (!oneOf(v, {"ALL_ROWS", "FIRST_ROWS", "FIRST_ROWS_1", "FIRST_ROWS_10", "FIRST_ROWS_100",
                       "FIRST_ROWS_1000", "CHOOSE", "RULE"}))
            raise(96,
                  "invalid value " + value +
                      " for parameter optimizer_mode, must be from among first_rows_1000, first_rows_100, "
                      "first_rows_10, first_rows_1, first_rows, all_rows, choose, rule");
    } else if (oneOf(name, {"NLS_DATE_FORMAT", "NLS_TIMESTAMP_FORMAT", "NLS_TIMESTAMP_TZ_FORMAT",
                            "NLS_TIME_FORMAT", "NLS_TIME_TZ_FORMAT"})) {
        if (!validDateModel(value)) raise(1821, "date format not recognized");
        nls[name] = value;
    } else if (name == "NLS_NUMERIC_CHARACTERS") {
        auto bad = [](char c) {
            return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '<' || c == '>';
        };
        if (value.size() != 2 || value[0] == value[1] || bad(value[0]) || bad(value[1])) invalidNls();
        nls[name] = value;
    } else if (name == "NLS_LANGUAGE" || name == "NLS_DATE_LANGUAGE") {
        if (!oneOf(v, {"AMERICAN", "ENGLISH", "RUSSIAN", "GERMAN", "FRENCH", "UKRAINIAN", "ITALIAN",
                       "SPANISH", "POLISH", "CZECH", "FINNISH", "SWEDISH", "DUTCH", "TURKISH", "JAPANESE"}))
            invalidNls();
        nls[name] = v;
        if (name == "NLS_LANGUAGE") nls["NLS_DATE_LANGUAGE"] = v;
    } else if (name == "NLS_TERRITORY") {
        // A territory brings its own date format and numeric characters.
        static const std::map<std::string, std::pair<const char*, const char*>> territories = {
            {"AMERICA", {"DD-MON-RR", ".,"}}, {"RUSSIA", {"DD.MM.RR", ", "}},
            {"GERMANY", {"DD.MM.RR", ",."}},  {"UNITED KINGDOM", {"DD-MON-RR", ".,"}},
            {"UKRAINE", {"DD.MM.RR", ", "}},  {"FRANCE", {"DD/MM/RR", ", "}}};
        auto it = territories.find(v);
        if (it == territories.end()) invalidNls();
        nls[name] = v;
        nls["NLS_DATE_FORMAT"] = it->second.first;
        nls["NLS_NUMERIC_CHARACTERS"] = it->second.second;
    } else if (name == "NLS_SORT") {
        std::string base = v;
        for (const char* suffix : {"_CI", "_AI"})
            if (base.size() > 3 && base.compare(base.size() - 3, 3, suffix) == 0)
                base.resize(base.size() - 3);
        if (!oneOf(base, {"BINARY", "RUSSIAN", "GENERIC_M", "WEST_EUROPEAN", "XWEST_EUROPEAN", "CYRILLIC"}))
            invalidNls();
        nls[name] = v;
    } else if (name == "NLS_COMP") {
        if (!oneOf(v, {"BINARY", "LINGUISTIC", "ANSI"})) invalidNls();
        nls[name] = v;
    } else if (name == "NLS_LENGTH_SEMANTICS") {
        if (!oneOf(v, {"BYTE", "CHAR"})) invalidNls();
        nls[name] = v;
    } else if (otherSessionParameter(name)) {
        if (name.rfind("NLS_", 0) == 0) nls[name] = value;
    } else {
        raise(2248, "invalid option for ALTER SESSION");
    }
}

void Session::recordAlter(const std::string& text) {
    alterLog.push_back(text);
    pendingLog.push_back(text);
    flushLog();
}

// The log is written outside the session's transactions so that a rollback cannot take it back.
void Session::flushLog() {
    if (!db || !sqlite3_get_autocommit(db) || pendingLog.empty()) return;
    drainCursors();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO oci_session_log(username, text) VALUES (?, ?)", -1, &st,
                           nullptr) == SQLITE_OK) {
        for (const std::string& t : pendingLog) {
            sqlite3_bind_text(st, 1, upper(user).c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, t.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
    }
    sqlite3_finalize(st);
    pendingLog.clear();
}

void Session::end() {
    dirtyLobs.clear();
    closeCursors();
    if (db) {
        if (!sqlite3_get_autocommit(db)) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            try {
                sequencesAfterRollback(*this);
            } catch (const OraException&) {
                // a session that ends cannot report; its numbers may be handed out again
            }
        }
        flushLog();
        sqlite3_finalize(dataVersionQuery);
        dataVersionQuery = nullptr;
        routineCache.reset();
        closeConnections();
    }
    if (ctl) {
        sqlite3_finalize(faultVersionQuery);
        faultVersionQuery = nullptr;
        faultVersion = -1;
        faults.clear();
        sqlite3_close_v2(ctl);
        ctl = nullptr;
    }
    begun = false;
    inTxn = false;
    txnId.clear();
}

const std::string& Session::nlsValue(const std::string& name) const {
    static const std::string none;
    auto it = nls.find(name);
    return it == nls.end() ? none : it->second;
}

char Session::decimalChar() const {
    const std::string& chars = nlsValue("NLS_NUMERIC_CHARACTERS");
    return chars.empty() ? '.' : chars[0];
}

void Session::drainCursors() {
    // Cursors left on an earlier connection keep their own snapshot whatever this one does. By
    // index: draining a query with CURSOR(...) columns opens more cursors.
    for (size_t k = 0; k < cursors.size(); ++k)
        if (auto c = cursors[k].lock(); c && c->statement() && sqlite3_db_handle(c->statement()) == db)
            c->drain();
}

void Session::closeCursors() {
    for (auto& w : cursors)
        if (auto c = w.lock()) c->detach();
    cursors.clear();
}

void Session::ensureAlive() {
    if (!begun || link != Alive || !db) raise(3114);
}

std::vector<Fault> Session::faultsOf(const char* kind) {
    // Every fetch asks: the table is read again only when the data version of the read-only
    // control connection moved, that is after another connection committed.
    if (!faultVersionQuery &&
        sqlite3_prepare_v2(ctl, "PRAGMA data_version", -1, &faultVersionQuery, nullptr) != SQLITE_OK) {
        sqlite3_finalize(faultVersionQuery);
        faultVersionQuery = nullptr;
        faults = readFaults(ctl);
    } else {
        int64_t version = -1;
        if (sqlite3_step(faultVersionQuery) == SQLITE_ROW)
            version = sqlite3_column_int64(faultVersionQuery, 0);
        sqlite3_reset(faultVersionQuery);  // ends the read, so that the next one sees new commits
        if (version < 0 || version != faultVersion) {
            faults = readFaults(ctl);
            faultVersion = version;
        }
    }
    std::vector<Fault> out;
    for (const Fault& f : faults)
        if (f.kind == kind) out.push_back(f);
    return out;
}

void Session::checkLink() {
    if (link == Lost || !begun) raise(3114);
    for (const Fault& f : faultsOf("LOST_CONNECTION")) {
        if (!f.target.empty() && !sameText(f.target, user)) continue;
        if (!takeFault(dbPath, f)) continue;
        // The server went away: its open queries and uncommitted work are gone with it.
        closeCursors();
        if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        inTxn = false;
        txnId.clear();
        link = Lost;
        raise(3113);
    }
}

void Session::checkProcedureFault(const std::string& fullName) {
    std::string shortName = fullName.substr(fullName.rfind('.') + 1);
    for (const Fault& f : faultsOf("RAISE")) {
        if (!sameText(f.target, fullName) && !sameText(f.target, shortName)) continue;
        if (!takeFault(dbPath, f)) continue;
        sb4 code = f.code ? (f.code < 0 ? -f.code : f.code) : 20000;
        raise(code, f.message.empty() ? oraMessage(code) : f.message);
    }
}

void Session::beginWork() {
    drainCursors();
    if (sqlite3_get_autocommit(db)) {
        exec("BEGIN IMMEDIATE");
        inTxn = true;
    }
    localTransactionId(true);
}

void Session::commit() {
    flushLobs();
    if (!sqlite3_get_autocommit(db)) exec("COMMIT");
    inTxn = false;
    txnId.clear();
    sequencesAfterCommit(*this);
    flushLog();
}

void Session::rollback() {
    dirtyLobs.clear();  // unwritten LOB changes go with the transaction
    // Cursors opened inside the transaction keep the rows they saw: read them before they go.
    if (!sqlite3_get_autocommit(db)) {
        drainCursors();
        exec("ROLLBACK");
    }
    inTxn = false;
    txnId.clear();
    sequencesAfterRollback(*this);
    flushLog();
}

namespace {

std::string savepointName(const std::string& name) {
    std::string t = trim(name);
    // A quoted name is taken as it is written.
    if (t.size() >= 3 && t.front() == '"' && t.back() == '"') {
        std::string inner = t.substr(1, t.size() - 2);
        if (inner.find('"') != std::string::npos) raise(900);
        return "\"" + inner + "\"";
    }
    std::string n = upper(t);
    bool ok = !n.empty() && ((n[0] >= 'A' && n[0] <= 'Z'));
    for (char c : n)
        ok = ok && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#');
    if (!ok) raise(900);
    return "\"" + n + "\"";
}

}  // namespace

void Session::savepoint(const std::string& name) {
    std::string n = savepointName(name);
    beginWork();
    exec("SAVEPOINT " + n);
}

void Session::rollbackTo(const std::string& name) {
    std::string n = savepointName(name);
    flushLobs();
    if (sqlite3_get_autocommit(db))
        raise(1086, "savepoint '" + upper(trim(name)) + "' never established in this session or is invalid");
    drainCursors();
    int rc = sqlite3_exec(db, ("ROLLBACK TO SAVEPOINT " + n).c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        raise(1086, "savepoint '" + upper(trim(name)) + "' never established in this session or is invalid");
    sequencesAfterRollback(*this);
}

std::string Session::localTransactionId(bool start) {
    if (txnId.empty() && start) {
        ++txnCounter;
        txnId = std::to_string(reinterpret_cast<uintptr_t>(this) % 97 + 1) + "." +
                std::to_string(txnCounter % 32 + 1) + "." + std::to_string(1000 + txnCounter);
    }
    return txnId;
}

}  // namespace oci

using namespace oci;

namespace {

Session* liveSession(SvcCtx* svc) {
    if (!svc || !svc->session || !findHandle(svc->session)) raise(3114);
    svc->session->ensureAlive();
    return svc->session;
}

}  // namespace

// A transaction call: the handles checked, then f with the service context and its live session,
// which must still hold its database link; errors go to the error handle.
template <class F>
sword onLinkedSession(OCISvcCtx* svchp, OCIError* errhp, F&& f) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        Session* s = liveSession(svc);
        s->checkLink();
        return f(svc, s);
    });
}

extern "C" {

sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4) {
    auto* sv = handleAs<Server>(srvhp, OCI_HTYPE_SERVER);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!sv || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        std::string link;
        if (dblink) {
            const char* p = reinterpret_cast<const char*>(dblink);
            link = ansiToUtf8(dblink_len > 0 ? std::string_view(p, dblink_len) : std::string_view(p));
        }
        sv->dbPath = resolveDatabase(link);
        sv->attached = true;
        return OCI_SUCCESS;
    });
}

sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4) {
    auto* sv = handleAs<Server>(srvhp, OCI_HTYPE_SERVER);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!sv || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword { return sv->attached = false, OCI_SUCCESS; });
}

sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* se = handleAs<Session>(usrhp, OCI_HTYPE_SESSION);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !se || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!svc->server || !findHandle(svc->server) || !svc->server->attached) raise(3114);
        if (se->begun) se->end();
        se->link = Session::Alive;
        se->open(svc->server->dbPath);
        try {
            for (const Fault& f : se->faultsOf("LOGON")) {
                if (!f.target.empty() && !sameText(f.target, se->user)) continue;
                if (!takeFault(se->dbPath, f)) continue;
                sb4 code = f.code ? f.code : 12541;
                raise(code, f.message.empty() ? oraMessage(code) : f.message);
            }
            if (credt != OCI_CRED_RDBMS || se->user.empty()) raise(1017);
            // A null password is refused whatever the catalog holds for the user.
            if (se->password.empty()) raise(1005, "null password given; logon denied");
            sqlite3_stmt* st = nullptr;
            bool ok = false;
            if (sqlite3_prepare_v2(se->db, "SELECT password FROM oci_user WHERE upper(name) = upper(?)", -1,
                                   &st, nullptr) == SQLITE_OK) {
                sqlite3_bind_text(st, 1, se->user.c_str(), -1, SQLITE_TRANSIENT);
                if (sqlite3_step(st) == SQLITE_ROW) {
                    const unsigned char* pw = sqlite3_column_text(st, 0);
                    ok = pw && se->password == reinterpret_cast<const char*>(pw);
                }
            }
            sqlite3_finalize(st);
            if (!ok) raise(1017);
        } catch (...) {
            se->end();
            throw;
        }
        se->begun = true;
        se->schema = upper(se->user);
        se->schemas = {"SYS", "PUBLIC"};
        sqlite3_stmt* us = nullptr;
        if (sqlite3_prepare_v2(se->db, "SELECT upper(name) FROM oci_user", -1, &us, nullptr) == SQLITE_OK) {
            while (sqlite3_step(us) == SQLITE_ROW)
                se->schemas.push_back(reinterpret_cast<const char*>(sqlite3_column_text(us, 0)));
        }
        sqlite3_finalize(us);
        // Database links of the catalog (the session's own and public ones), as "@LINK".
        if (sqlite3_prepare_v2(
                se->db,
                "SELECT upper(db_link) FROM oci_db_link WHERE upper(coalesce(nullif(owner, ''), "
                "'PUBLIC')) IN (upper(?1), 'PUBLIC')",
                -1, &us, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(us, 1, se->user.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(us) == SQLITE_ROW)
                se->schemas.push_back("@" +
                                      std::string(reinterpret_cast<const char*>(sqlite3_column_text(us, 0))));
        }
        sqlite3_finalize(us);
        createSynonymViews(*se);
        se->alterLog.clear();
        svc->session = se;
        se->svc = svc;
        return OCI_SUCCESS;
    });
}

sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    Session* se = usrhp ? handleAs<Session>(usrhp, OCI_HTYPE_SESSION) : (svc ? svc->session : nullptr);
    if (!svc || !err || !se) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        se->end();  // uncommitted work is rolled back
        return OCI_SUCCESS;
    });
}

sword OCIServerVersion(void* hndlp, OCIError* errhp, OraText* bufp, ub4 bufsz, ub1 hndltype) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    Handle* h = findHandle(hndlp);
    if (!err || !h || h->type != hndltype) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        Server* sv = nullptr;
        if (h->type == OCI_HTYPE_SVCCTX) {
            auto* svc = static_cast<SvcCtx*>(h);
            if (svc->session && findHandle(svc->session) && svc->session->begun) svc->session->checkLink();
            sv = svc->server && findHandle(svc->server) ? svc->server : nullptr;
        } else if (h->type == OCI_HTYPE_SERVER) {
            sv = static_cast<Server*>(h);
        }
        if (!sv || !sv->attached) raise(3114);
        static const char banner[] = "Oracle Database 11g Enterprise Edition Release 11.2.0.4.0 - Production";
        if (bufp && bufsz > 0) {
            size_t n = std::min<size_t>(sizeof banner - 1, bufsz - 1);
            std::memcpy(bufp, banner, n);
            bufp[n] = 0;
        }
        return OCI_SUCCESS;
    });
}

sword OCIPing(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        liveSession(svc)->checkLink();
        return OCI_SUCCESS;
    });
}

sword OCIBreak(void* hndlp, OCIError* errhp) {
    // Another thread may be inside a call of this session: its running SQL ends with ORA-01013.
    // A session that runs nothing ignores the break.
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    Handle* h = findHandle(hndlp);
    if (!h || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&] {
        if (h->type == OCI_HTYPE_SVCCTX) {
            auto* svc = static_cast<SvcCtx*>(h);
            if (svc->session && findHandle(svc->session)) svc->session->interrupt();
        }
        return OCI_SUCCESS;
    });
}

sword OCITransCommit(OCISvcCtx* svchp, OCIError* errhp, ub4 flags) {
    return onLinkedSession(svchp, errhp, [&](SvcCtx*, Session* s) -> sword {
        // The second phase needs a prepared branch.
        if ((flags & OCI_TRANS_TWOPHASE) && !s->branchPrepared) raise(24756, "transaction does not exist");
        s->commit();
        s->branchStarted = s->branchPrepared = false;
        return OCI_SUCCESS;
    });
}

sword OCITransRollback(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    return onLinkedSession(svchp, errhp, [&](SvcCtx*, Session* s) -> sword {
        s->rollback();
        s->branchStarted = s->branchPrepared = false;
        return OCI_SUCCESS;
    });
}

// One branch per session: the database file is the only resource manager, so a branch is the
// session's transaction, and preparing it only tells whether it changed anything.
sword OCITransStart(OCISvcCtx* svchp, OCIError* errhp, uword, ub4 flags) {
    return onLinkedSession(svchp, errhp, [&](SvcCtx* svc, Session* s) -> sword {
        if (!svc->trans || !findHandle(svc->trans))
            raise(24791, "no transaction handle on the service context");
        if (flags & OCI_TRANS_RESUME)
            raise(24757, "duplicate transaction identifier");  // nothing was detached
        if (s->inTxn || s->branchStarted) raise(24776, "cannot start a new transaction");
        // The database is written by one session at a time: the branch takes the write lock only
        // with its first change, so that a branch that only reads never waits.
        s->localTransactionId(true);
        s->branchStarted = true;
        s->branchPrepared = false;
        s->branchChanges = sqlite3_total_changes(s->db);
        return OCI_SUCCESS;
    });
}

sword OCITransPrepare(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    return onLinkedSession(svchp, errhp, [&](SvcCtx*, Session* s) -> sword {
        if (!s->branchStarted) raise(24756, "transaction does not exist");
        if (sqlite3_total_changes(s->db) == s->branchChanges) {
            // A read-only branch is over once prepared: nothing to commit.
            s->commit();
            s->branchStarted = false;
            handleAs<Error>(errhp, OCI_HTYPE_ERROR)
                ->set(24767, "transaction branch prepare returns read-only");
            return OCI_SUCCESS_WITH_INFO;
        }
        s->branchPrepared = true;
        return OCI_SUCCESS;
    });
}

sword OCITransDetach(OCISvcCtx* svchp, OCIError* errhp, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword { raise(3001, "unimplemented feature"); });
}

}  // extern "C"
