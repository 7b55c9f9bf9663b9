// Insides of the stand-in Oracle client: handles, values, sessions over SQLite.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/oci/oci.h"

namespace oci {

// ---- errors -------------------------------------------------------------------------------------------

// A server error: ORA code and message text without the "ORA-nnnnn: " prefix.
class OraException : public std::runtime_error {
public:
    OraException(sb4 code, const std::string& text) : std::runtime_error(text), code_(code) {}
    sb4 code() const { return code_; }

private:
    sb4 code_;
};

[[noreturn]] void raise(sb4 code, const std::string& text);
// The standard message of an ORA code the stand-in produces.
std::string oraMessage(sb4 code);
[[noreturn]] void raise(sb4 code);

// ---- text ---------------------------------------------------------------------------------------------

// The client speaks code page 1251; the database keeps UTF-8.
std::string ansiToUtf8(std::string_view s);
std::string utf8ToAnsi(std::string_view s);
std::string upper(std::string_view s);
bool sameText(std::string_view a, std::string_view b);
std::string trim(std::string_view s);
// The dot-separated parts of a name, unquoted and trimmed; unquoted parts in upper case.
std::vector<std::string> splitName(const std::string& name);

// ---- values -------------------------------------------------------------------------------------------

class Cursor;
struct Session;
struct LobData;
struct NestedCursors;

struct Value {
    enum Kind { Null, Int, Real, Text, Blob, Cursor } kind = Null;
    int64_t i = 0;
    double r = 0;
    std::string s;  // Text: UTF-8; Blob: bytes
    std::shared_ptr<oci::Cursor> cursor;

    static Value null() { return {}; }
    static Value ofInt(int64_t v) {
        Value x;
        x.kind = Int;
        x.i = v;
        return x;
    }
    static Value ofReal(double v) {
        Value x;
        x.kind = Real;
        x.r = v;
        return x;
    }
    static Value ofText(std::string v) {
        Value x;
        x.kind = Text;
        x.s = std::move(v);
        return x;
    }
    static Value ofBlob(std::string v) {
        Value x;
        x.kind = Blob;
        x.s = std::move(v);
        return x;
    }
    bool isNull() const { return kind == Null; }
};

Value columnValue(sqlite3_stmt* st, int col);
void bindValue(sqlite3_stmt* st, int index, const Value& v);

// Oracle's description of a column or argument type.
struct TypeInfo {
    ub2 type = SQLT_CHR;
    ub2 size = 0;
    sb2 precision = 0;
    sb1 scale = 0;
    ub1 fsprecision = 0;
    ub1 charsetForm = 0;  // 2 for the national types (NCHAR, NVARCHAR2, NCLOB)
};
// Maps a declared type ("NUMBER(9,0)", "VARCHAR2(40)", "DATE", ...) to Oracle's description.
std::optional<TypeInfo> parseDeclaredType(std::string_view decl, bool argument);

struct Column {
    std::string name;  // UTF-8, as the server describes it
    TypeInfo type;
    bool nullable = true;
    std::string typeSchema, typeName;  // an object or collection column's type
};

// An open query. Rows come from stepping the SQLite statement as the client asks for them, so a
// forward-only cursor holds only the rows not yet fetched that it had to read ahead; a scrollable
// one keeps every row it has read. Errors of a row surface when that row is read.
class Cursor {
public:
    Cursor(Session& s, sqlite3_stmt* st, std::vector<Column> columns, bool scrollable);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    const std::vector<Column>& columns() const { return columns_; }
    bool scrollable() const { return scrollable_; }
    // The session it reads; null once that session has ended.
    Session* session() const { return session_; }
    // Row k (from 0), or null past the last row. A forward-only cursor forgets the rows before k
    // and cannot go back to them (ORA-01002). A row that fails to come raises its error here.
    const std::vector<Value>* row(size_t k);
    // Rows of the whole result (reads to the end).
    size_t count();
    // Reads the rest of the result into memory and lets go of the SQLite statement, so that the
    // session can write without changing what this cursor returns (Oracle's read consistency). An
    // error of a row is kept for the fetch that reaches it.
    void drain();
    // Cancels the cursor: later fetches fail with ORA-01002.
    void close();
    // The session ends: closes, and forgets the session.
    void detach();
    // Rows held in memory.
    size_t held() const { return rows_.size(); }
    // The SQLite statement still to be read; null once the rows are all read or the cursor closed.
    sqlite3_stmt* statement() const { return st_; }
    // CURSOR(...) columns: each row opens their cursors; closing this cursor closes them.
    void setNested(std::shared_ptr<NestedCursors> nested) { nested_ = std::move(nested); }

private:
    bool readOne();
    std::shared_ptr<NestedCursors> nested_;
    Session* session_;
    sqlite3_stmt* st_;
    std::vector<Column> columns_;
    bool scrollable_;
    std::deque<std::vector<Value>> rows_;
    std::vector<std::vector<Value>> spare_;  // rows a forward-only cursor let go, reused with their buffers
    size_t first_ = 0;                       // index of rows_.front()
    bool end_ = false;
    bool cancelled_ = false;
    std::optional<std::pair<sb4, std::string>> error_;  // the error that ended the rows
};

// ---- Oracle value formats -----------------------------------------------------------------------------

// A decimal number: value = 0.<digits> * 10^exp10, digits without leading or trailing zeros; zero has
// empty digits.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exp10 = 0;
    bool isZero() const { return digits.empty(); }
};

bool parseDecimal(std::string_view text, Decimal& out, char decimalChar = '.');
Decimal decimalFromInt(int64_t v);
Decimal decimalFromUInt(uint64_t v);
Decimal decimalFromDouble(double v);
std::string decimalToText(const Decimal& d, char decimalChar = '.');  // Oracle's TM9 form: ".5", "-12.3"
double decimalToDouble(const Decimal& d);
// Truncates toward zero; false when it does not fit.
bool decimalToInt(const Decimal& d, int64_t& out);
bool decimalToUInt(const Decimal& d, uint64_t& out);

// NUMBER bytes (exponent byte and base-100 digits, at most 21 bytes). Throws ORA-01426 on overflow.
std::string encodeNumber(const Decimal& d);
// Throws ORA-01722 for bytes that are not a NUMBER; infinities are refused the same way.
Decimal decodeNumber(const ub1* bytes, size_t len);
Decimal valueToDecimal(const Value& v);  // ORA-01722 for text that is no number
Value decimalToValue(const Decimal& d);

struct DateParts {
    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    uint32_t nanos = 0;
    bool hasZone = false;
    int zoneMinutes = 0;
};
void encodeDate(const DateParts& p, ub1 out[7]);
DateParts decodeDate(const ub1 in[7]);
bool validDate(const DateParts& p);
// Date text as kept in the database: "YYYY-MM-DD HH:MM:SS[.fffffffff]".
std::string dateToText(const DateParts& p, int fraction = 0);
// A timestamp as kept in the database: the date text with its fraction and, when it has one,
// its zone ("+03:00").
std::string timestampToText(const DateParts& p);
bool parseDateText(std::string_view s, DateParts& out);
DateParts valueToDate(const Value& v);  // ORA-01861 when the text is no date
// Oracle date format models ("DD.MM.YYYY HH24:MI:SS", "fmDDfm MON YYYY", ...).
std::string formatDateModel(const DateParts& p, const std::string& fmt, int fsprec = 6);
// False when the model holds letters that are no format element (outside double quotes).
bool validDateModel(const std::string& fmt);
DateParts parseDateModel(const std::string& text, const std::string& fmt);

// ---- handles ------------------------------------------------------------------------------------------

struct Env;

struct Handle {
    explicit Handle(ub4 t) : type(t) {}
    virtual ~Handle() = default;
    ub4 type;
    Env* env = nullptr;
    Handle* parent = nullptr;
    std::vector<Handle*> children;
};

// Registers a new handle under its parent (may be null).
void registerHandle(Handle* h, Handle* parent);
// Frees a handle and everything it owns.
void freeHandle(Handle* h);
// A session pool handle (SessionPool.cpp).
Handle* newSessionPool();
Handle* findHandle(const void* p);
template <class T>
T* handleAs(const void* p, ub4 type) {
    Handle* h = findHandle(p);
    if (!h || h->type != type) return nullptr;
    return static_cast<T*>(h);
}

struct Env : Handle {
    Env() : Handle(OCI_HTYPE_ENV) {}
    ub4 mode = 0;
};

struct Error : Handle {
    Error() : Handle(OCI_HTYPE_ERROR) {}
    std::mutex lock;
    sb4 code = 0;
    std::string text;  // complete record text, code page 1251
    void set(sb4 c, const std::string& utf8Text);
    void clear();
};

struct Session;
struct Server;
struct Stmt;

struct SvcCtx : Handle {
    SvcCtx() : Handle(OCI_HTYPE_SVCCTX) {}
    ~SvcCtx() override;
    Server* server = nullptr;
    Session* session = nullptr;
    void* trans = nullptr;
    ub4 stmtCacheSize = 0;
};

struct Server : Handle {
    Server() : Handle(OCI_HTYPE_SERVER) {}
    std::string dbPath;
    bool attached = false;
    std::string internalName;
};

// A row of oci_fault.
struct Fault {
    int64_t id;
    std::string kind, target, message;
    sb4 code;
    std::optional<int64_t> times;
    int64_t after = 0;
};

struct Session : Handle {
    Session() : Handle(OCI_HTYPE_SESSION) {}
    ~Session() override;
    std::string user, password, clientIdentifier;  // UTF-8
    std::string userAnsi;                          // the user name as handed out by OCIAttrGet
    std::string dbPath;
    sqlite3* db = nullptr;   // the session's own connection
    sqlite3* ctl = nullptr;  // reads faults outside the session's snapshot
    // The fault table as last read, with the data version it was read at: it is read again only
    // after another connection committed something.
    sqlite3_stmt* faultVersionQuery = nullptr;  // prepared on ctl at first use
    int64_t faultVersion = -1;
    std::vector<Fault> faults;
    // The faults of one kind (upper case), read again when the database changed.
    std::vector<Fault> faultsOf(const char* kind);
    bool begun = false;
    enum { Alive, LostNow, Lost } link = Alive;
    bool inTxn = false;  // SQLite transaction open
    std::string txnId;   // Oracle's local transaction id, empty when none
    // A global transaction branch (OCITransStart): started, prepared for a two-phase commit.
    bool branchStarted = false, branchPrepared = false;
    int branchChanges = 0;             // sqlite3_total_changes when the branch started
    std::string schema;                // current schema (upper case)
    std::vector<std::string> schemas;  // every user name (upper case), SYS and PUBLIC; "@LINK" per known link
    std::vector<std::string> alterLog;
    std::vector<std::string> pendingLog;  // ALTER SESSION texts not yet written to oci_session_log
    std::optional<std::pair<sb4, std::string>> pendingRaise;
    SvcCtx* svc = nullptr;
    uint64_t txnCounter = 0;
    // NLS parameters of this session, upper-case names (as nls_session_parameters lists them).
    std::map<std::string, std::string> nls;
    std::vector<std::weak_ptr<Cursor>> cursors;       // queries open on this session
    std::vector<std::shared_ptr<LobData>> dirtyLobs;  // LOB writes not yet in their rows
    // Sequences: CURRVAL of each sequence this session took NEXTVAL of, and the positions its
    // open transaction wrote (written again should the transaction roll back).
    std::map<std::string, int64_t> sequenceCurrent, sequenceNext;
    void flushLobs();
    // Routines the PL/SQL runner read from the catalog, kept while the catalog cannot have changed:
    // no write of this session to a catalog table and no commit of another connection since.
    std::shared_ptr<void> routineCache;
    bool catalogDirty = false;   // the open transaction wrote to an oci_ catalog table
    uint64_t catalogWrites = 0;  // transactions of this session that wrote to the catalog, ended
    uint64_t routineCacheWrites = 0;
    int64_t routineCacheVersion = -1;  // PRAGMA data_version when the cache was filled
    sqlite3_stmt* dataVersionQuery = nullptr;
    // True when the routine cache still holds; otherwise empties it and starts a new one.
    bool routineCacheValid();
    void catalogTransactionEnded();

    const std::string& nlsValue(const std::string& name) const;
    char decimalChar() const;
    // Open queries of db read their remaining rows before the session writes there (see
    // Cursor::drain); those left on earlier connections keep their own snapshot.
    void drainCursors();
    void closeCursors();

    void open(const std::string& path);
    void end();  // rolls back and closes
    void ensureAlive();
    // Lost-connection faults; throws ORA-03113 once, ORA-03114 afterwards.
    void checkLink();
    // Raises the fault configured for a procedure, if any.
    void checkProcedureFault(const std::string& fullName);
    void beginWork();  // opens the transaction before work that writes
    void commit();
    void rollback();
    void savepoint(const std::string& name);
    void rollbackTo(const std::string& name);
    std::string localTransactionId(bool start);
    void exec(const std::string& sql);
    // ALTER SESSION SET name = value: checks the value as Oracle does and keeps it for this session.
    void setParameter(const std::string& name, const std::string& value);
    void recordAlter(const std::string& text);
    void flushLog();
    [[noreturn]] void raiseSqlite(int rc, const std::string& context = "");
    // The error of a statement of another connection of the session.
    [[noreturn]] void raiseSqliteOn(sqlite3* conn, int rc);

    // Statement-level read consistency (ReadSnapshot.cpp). db is the connection new statements
    // run on; it changes (between calls only) when a half-read cursor holds its read snapshot and
    // the session has no transaction: the cursor keeps reading on the earlier connection, and the
    // next statement gets the data committed when it starts. Nothing prepared on db may be kept
    // across calls without checking that it still belongs to db.
    void freshSnapshot();
    void prepareConnection();  // functions, views and hooks on a newly opened db
    void closeConnections();
    void interrupt();  // OCIBreak from another thread: every connection of the session
    std::vector<sqlite3*> spareConnections;
    std::mutex connectionLock;  // guards db and spareConnections against interrupt()
};

struct Bind : Handle {
    Bind() : Handle(OCI_HTYPE_BIND) {}
    std::string name;  // upper case unless quoted, without colon
    bool quoted = false;
    ub4 position = 0;  // by-position binds
    char* valuep = nullptr;
    sb4 valueSize = 0;
    ub2 dty = 0;
    char* indp = nullptr;
    char* alenp = nullptr;
    char* rcodep = nullptr;
    ub4 maxarr = 0;
    ub4* curelep = nullptr;
    ub4 valueSkip = 0, indSkip = 0, alenSkip = 0, rcodeSkip = 0;
    ub2 charsetId = 0;
    ub1 charsetForm = 0;
    sb4 maxDataSize = 0;
    // Data at execute time (LONG and LONG RAW): the value comes in pieces, through the callbacks
    // of OCIBindDynamic or, without them, through the need-data loop of the caller.
    bool dataAtExec = false;
    OCICallbackInBind inCallback = nullptr;
    void* inContext = nullptr;
    OCICallbackOutBind outCallback = nullptr;
    void* outContext = nullptr;
    Value pieceValue;   // the value gathered from the input pieces
    Value pieceOutput;  // the value a block gave it, to be sent in pieces
    bool pieceWritten = false;
    // OCIBindObject: the type and the cells of the instance and null-structure pointers.
    const void* objectType = nullptr;
    void** objectCells = nullptr;
    void** objectInds = nullptr;

    Value read(ub4 iteration) const;
    void write(ub4 iteration, const Value& v);
};

struct Define : Handle {
    Define() : Handle(OCI_HTYPE_DEFINE) {}
    ub4 position = 0;
    char* valuep = nullptr;
    sb4 valueSize = 0;
    ub2 dty = 0;
    char* indp = nullptr;
    char* rlenp = nullptr;
    char* rcodep = nullptr;
    ub4 valueSkip = 0, indSkip = 0, rlenSkip = 0, rcodeSkip = 0;
    ub2 charsetId = 0;
    ub1 charsetForm = 0;
    // Dynamic fetch (LONG and LONG RAW): the value goes out in pieces, through the callback of
    // OCIDefineDynamic or, without it, through the caller's need-data loop.
    bool dynamic = false;
    OCICallbackDefine callback = nullptr;
    void* context = nullptr;
    // OCIDefineObject: the type and the cells that receive instance and null-structure pointers.
    const void* objectType = nullptr;
    void** objectCells = nullptr;
    void** objectInds = nullptr;
    // Writes one fetched value; true when it had to be cut to the buffer.
    bool write(ub4 row, const Value& v, const TypeInfo& source, const Session& s);
};

// A piecewise transfer under way on a statement: the statement waits for the caller to hand over
// (input) or take (output, fetch) the next piece through OCIStmtSetPieceInfo and call
// OCIStmtExecute (OCIStmtFetch) again.
struct PieceWork {
    enum Phase { Idle, Input, Output, Fetch } phase = Idle;
    ub4 iters = 0, mode = 0;  // of the execute that began it
    size_t index = 0;         // the bind or define being transferred
    std::string data;         // the bytes gathered (input) or to send (output)
    size_t offset = 0;        // output: bytes sent so far
    bool isNull = false;      // output: the value is NULL
    bool started = false;     // a piece of the current value has passed
    bool pieceSet = false;    // the caller set the buffer of the next piece
    char* buffer = nullptr;
    ub4* length = nullptr;
    ub1 piece = 0;  // the piece code the caller set
    void* indicator = nullptr;
    std::vector<Define*> defines;  // fetch: the dynamic defines of the row without callback
    std::vector<Value> values;     // fetch: their values
    ub4 row = 0;
};

struct Param;

struct Stmt : Handle {
    Stmt() : Handle(OCI_HTYPE_STMT) {}
    std::string text;  // UTF-8 as prepared
    std::string sql;   // translated for SQLite
    bool prepared = false;
    ub2 stmtType = 0;
    ub2 fnCode = 0;
    std::vector<std::string> markers;  // in order of appearance, upper case unless quoted
    std::vector<Bind*> binds;
    std::vector<Define*> defines;
    std::shared_ptr<Cursor> cursor;  // the open query, after execute
    std::vector<Column> columns;     // the select list, after execute or describe
    bool described = false;
    size_t pos = 0;  // next row of the cursor
    ub4 rowCount = 0;
    ub4 state = OCI_STMT_STATE_INITIALIZED;
    ub2 parseErrorOffset = 0;
    ub4 prefetchRows = 1, prefetchMemory = 0;
    SvcCtx* svc = nullptr;
    bool fromCache = false;
    // where the last DML put its row
    bool hasRowid = false;
    int64_t rowidTable = 0, rowid = 0;
    PieceWork pieces;
    void reset();
    // The subscription whose registration the statement's queries join (OCI_ATTR_CHNF_REGHANDLE).
    void* changeRegistration = nullptr;
};

struct Describe : Handle {
    Describe() : Handle(OCI_HTYPE_DESCRIBE) {}
    Param* root = nullptr;
    ub1 descPublic = 0;
};

struct Trans : Handle {
    Trans() : Handle(OCI_HTYPE_TRANS) {}
    std::string name, xid;
};

// Describe results and column descriptions: a bag of attributes and an optional list.
struct Param : Handle {
    Param() : Handle(OCI_DTYPE_PARAM) {}
    struct Attr {
        int width = 0;  // 1, 2, 4 bytes; 0 = text; -1 = pointer
        int64_t v = 0;
        std::string text;
        void* ptr = nullptr;
    };
    std::map<ub4, Attr> attrs;
    std::vector<Param*> items;
    ub4 base = 1;  // index of the first list item
    void setInt(ub4 attr, int width, int64_t v) { attrs[attr] = Attr{width, v, {}, nullptr}; }
    void setText(ub4 attr, const std::string& ansi) { attrs[attr] = Attr{0, 0, ansi, nullptr}; }
    void setPtr(ub4 attr, void* p) { attrs[attr] = Attr{-1, 0, {}, p}; }
};

struct RowidDesc : Handle {
    RowidDesc() : Handle(OCI_DTYPE_ROWID) {}
    bool valid = false;
    uint32_t object = 0, file = 0, block = 0, row = 0;
};

struct DateTimeDesc : Handle {
    explicit DateTimeDesc(ub4 t) : Handle(t) {}
    DateParts value;
};

struct IntervalDesc : Handle {
    explicit IntervalDesc(ub4 t) : Handle(t) {}
    // year-month: months; day-second: nanoseconds. Sign kept in the count.
    int64_t months = 0;
    __int128 nanos = 0;
};

// Interval text: "+YY-MM" (year-month) and "+DD HH:MI:SS.FFFFFFFFF" (day-second).
std::string intervalToText(const IntervalDesc* iv, int leadPrecision, int fracPrecision);
void intervalFromText(IntervalDesc* iv, const std::string& text);  // ORA-01867 when invalid

Param* newParam(Handle* parent);
Param* columnParam(Handle* parent, const Column& c);

// ---- statements ---------------------------------------------------------------------------------------

struct Lexed {
    std::string sqlite;                // text for SQLite
    std::vector<std::string> markers;  // bind markers in order
    ub2 stmtType = 0;
    ub2 fnCode = 0;
    // A query that ended in a FOR UPDATE clause (cut off: the session takes the write lock).
    bool forUpdate = false;
};
// Schema prefixes in the schemas list (upper case) are dropped: the database has one namespace.
Lexed lexStatement(const std::string& utf8, const std::vector<std::string>* schemas = nullptr);
std::string markerKey(std::string_view name, bool* quoted = nullptr);

inline bool isDateTimeType(ub2 t) {
    return t == SQLT_DAT || t == SQLT_TIMESTAMP || t == SQLT_TIMESTAMP_TZ || t == SQLT_TIMESTAMP_LTZ;
}
inline bool isNumericType(ub2 t) {
    return t == SQLT_NUM || t == SQLT_INT || t == SQLT_FLT || t == SQLT_UIN || t == SQLT_VNU ||
           t == SQLT_BFLOAT || t == SQLT_BDOUBLE || t == SQLT_IBFLOAT || t == SQLT_IBDOUBLE;
}

inline bool identStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c & 0x80);
}
inline bool identChar(char c) {
    return identStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '#';
}

// Lexemes of Oracle SQL and PL/SQL text.
struct Token {
    enum Kind { Ident, Marker, String, Number, Punct, End } kind = End;
    std::string text;  // Ident: upper case unless quoted; Marker: key; String: content; Punct: symbol
    bool quoted = false;
    size_t begin = 0, end = 0;
};
// Ends with an End token.
std::vector<Token> tokenize(const std::string& s);

// The select list of a query as Oracle describes it, from the declared types of the tables and
// views it reads and the rules of its expressions, without running it. Empty when the text is
// beyond what the describer understands.
std::vector<Column> describeSelectList(Session& s, const std::string& utf8);

// Makes the data dictionary views (ALL_*, USER_*) of a session that has just opened its database.
void createDictionary(Session& s);
// RPAD, LPAD, CHR and INSTR with a start (and occurrence), as Oracle has them.
void createPlSqlFunctions(sqlite3* db);
// A CREATE or ALTER of a stored unit (procedure, function, package, trigger, type): nothing is
// compiled, the answer is whether ALL_ERRORS lists errors of the unit. No value for other texts.
std::optional<bool> compileStoredUnit(Session& s, const std::string& utf8);

// Opens a query (Oracle text, UTF-8) with named parameters on the session's connection, or on conn
// (the connection, and so the snapshot, of a cursor being read). With conn the session's list of
// open cursors only grows: the cursor may be opened while that list is walked.
std::shared_ptr<Cursor> openQuery(Session& s, const std::string& utf8,
                                  const std::map<std::string, Value>& params, bool scrollable,
                                  sqlite3* conn = nullptr);
// The column names and up to `limit` rows of a query, for the server's own statements.
struct QueryRows {
    std::vector<std::string> names;  // upper case unless quoted
    std::vector<std::vector<Value>> rows;
    bool more = false;  // rows beyond the limit exist
};
QueryRows selectRows(Session& s, const std::string& utf8, const std::map<std::string, Value>& params,
                     size_t limit);
// Runs one SQLite statement with named parameters; answers rows changed.
int runDml(Session& s, const std::string& sql, const std::map<std::string, Value>& params);

// A status of OCI_SUCCESS_WITH_INFO leaves its warning in err.
sword executeStatement(SvcCtx& svc, Stmt& st, ub4 iters, ub4 mode, Error& err);
sword fetchRows(Stmt& st, ub4 nrows, ub2 orientation, sb4 offset, Error& err);

// ---- piecewise LONG transfer (Pieces.cpp)

// OCIStmtExecute with data-at-exec binds: gathers their input pieces, runs the statement and
// sends the output pieces; OCI_NEED_DATA while the caller's need-data loop has a piece to pass.
sword executeWithPieces(SvcCtx& svc, Stmt& st, ub4 iters, ub4 mode, Error& err);
// The dynamic defines of a fetched row: callbacks get their pieces at once; the others wait for
// the caller (OCI_NEED_DATA). OCI_SUCCESS when nothing waits.
sword fetchPieces(Stmt& st, ub4 row, const std::vector<Value>& values);
// Continues a fetch that waits for the caller to take pieces.
sword continueFetchPieces(Stmt& st);
// A LONG or LONG RAW value as the client sends or receives its bytes, and back.
// UTF-8 and UTF-16 text (the UTF-16 code units of CLOB contents and of OCI_UTF16ID binds).
std::u16string utf8ToU16(const std::string& s);
std::string u16ToUtf8(const char16_t* p, size_t n);
std::string longBytes(ub2 dty, const Value& v, bool utf16);
Value longValue(ub2 dty, const std::string& bytes, bool utf16);

// PL/SQL blocks and stored procedures
void runBlock(Session& s, Stmt& st);
Param* describeObject(Session& s, Describe& d, const std::string& name, ub1 objType);

// Marks a statement handle as an open cursor over a query (a REF CURSOR output).
void openCursorInto(Stmt& target, std::shared_ptr<Cursor> cursor);

// ---- LOB and BFILE locators (Lob.cpp)

// The value a locator points at: the content of a LOB (bytes, or UTF-16 units for a CLOB, so that
// offsets count characters), or a BFILE's directory alias and file name (client code page).
struct LobData : std::enable_shared_from_this<LobData> {
    enum Kind { Blob, Clob, File } kind = Blob;
    ub1 form = 1;            // character set form of a CLOB: 1, or 2 for NCLOB
    bool temporary = false;  // may be written; fetched values are read-only snapshots
    std::string bytes;       // BLOB, and an open BFILE's content
    std::u16string text;     // CLOB
    std::string dir, name;   // BFILE
    bool open = false;
    // A read or write in pieces under way: position (0-based units) and what is left to read.
    bool streaming = false, writing = false;
    uint64_t streamPos = 0, streamLeft = 0, writePos = 0;
    // A value a DML statement returned: the row it lives in, written back (flushed) before the
    // session's next statement, commit or rollback.
    Session* session = nullptr;
    std::string table, column;
    int64_t rowid = 0;
    bool dirty = false;
    bool persistent() const { return session != nullptr; }
};

struct LobLocator : Handle {
    explicit LobLocator(ub4 t) : Handle(t) {}
    std::shared_ptr<LobData> data;  // null: not initialised
};

bool isLobType(ub2 dty);
Handle* newLobLocator(ub4 type);
// Gives the locator whose address lies in cell a value: fetched from a column described by
// source (read-only), or given by a PL/SQL block (temporary).
void storeLocator(char* cell, ub2 dty, const Value& v, const TypeInfo* source, ub1 form, bool temporary);
// The value of the locator whose address lies in cell (NULL when it is not initialised).
Value locatorValue(const char* cell, ub2 dty);
// EMPTY_BLOB(), EMPTY_CLOB() and BFILENAME(alias, name) for the session's SQL.
void registerLobFunctions(sqlite3* db);
// "INSERT|UPDATE ... RETURNING expr, ... INTO :a, ...": the statement without the clause and what
// it returns. Empty when the text has no such clause.
struct Returning {
    std::string statement;  // Oracle text without the clause
    std::vector<std::string> exprs;
    std::vector<std::string> markers;  // bind keys
    std::string table;
};
std::optional<Returning> splitReturning(const std::string& utf8);
// Runs the statement and writes the first returned row into the binds; LOB columns come back as
// locators that write to their row. Answers the rows changed.
int runReturning(Session& s, Stmt& st, const Returning& r, const std::map<std::string, Value>& params);

// ---- object types and values (Objects.cpp)

// CREATE [OR REPLACE] TYPE and DROP TYPE; false when the text is no such statement.
bool runTypeDdl(Session& s, const std::string& utf8);
// Sequences (Sequences.cpp): CREATE/DROP SEQUENCE (false for other statements), the SQL
// functions behind seq.NEXTVAL and seq.CURRVAL, and the session's transaction ends.
bool runSequenceDdl(Session& s, const std::string& utf8);
void registerSequenceFunctions(Session& s);
// ALL_SEQUENCES over the catalog table (made when the database has none yet).
void createSequenceView(Session& s);
// Synonyms of tables and views the session sees (its own before public ones), as temporary
// views, so that queries can name them; made at logon.
void createSynonymViews(Session& s);
void sequencesAfterRollback(Session& s);
void sequencesAfterCommit(Session& s);
// The column description of a declared type naming an object or collection type.
std::optional<Column> objectColumnType(Session& s, const std::string& declared);
Param* describeType(Session& s, Describe& d, const std::string& name);
std::pair<std::string, std::string> splitTypeName(const std::string& name);  // schema, name
Value objectBindValue(const Bind& b, ub4 iteration);
void objectDefineWrite(Define& d, ub4 row, const Value& v, Session& s);
void objectBindWrite(Bind& b, ub4 iteration, const Value& v, Session& s);

// ---- object tables, REFs and XMLTYPE (Refs.cpp, Xml.cpp)

// CREATE TABLE t OF type; false when the text is no such statement.
bool runObjectTableDdl(Session& s, const std::string& utf8);
// A connection of this process to the database at path (ORA-12154 when it cannot be opened),
// waiting up to 5 s for another writer.
sqlite3* openConnection(const std::string& path, int flags = SQLITE_OPEN_READWRITE);

// The highest rowid each object table ever lost; no new object takes an identifier at or below it.
inline constexpr const char* ObjectIdCatalog =
    "CREATE TABLE IF NOT EXISTS oci_object_oid(name TEXT PRIMARY KEY COLLATE NOCASE, high INTEGER NOT NULL)";
// What an insert's rowid moved by when it would have reused a lost object identifier (0 otherwise).
int64_t objectIdShift(Session& s, const std::string& table, int64_t rowid);
// Before DROP TABLE: the object table named (empty for any other statement), its identifiers kept as
// lost; after the drop, objectTableDropped forgets it as an object table.
std::string objectTableDropping(Session& s, const std::string& utf8);
void objectTableDropped(Session& s, const std::string& table);
// REF(alias), VALUE(alias), DEREF(ref), XMLTYPE(text), x.getClobVal() and x.getStringVal() as SQL
// the database runs (calls of the functions below); other text comes back unchanged.
std::string rewriteObjectSql(Session& s, const std::string& utf8);
// The select-list items of a rewritten query described as REF, object, XMLTYPE or CLOB columns.
void describeObjectItems(Session& s, const std::string& utf8, std::vector<Column>& columns);
void registerObjectFunctions(Session& s);
void registerXmlFunctions(Session& s);
Value refBindValue(const Bind& b, ub4 iteration);
void refDefineWrite(Define& d, ub4 row, const Value& v, Session& s);
// A REF a PL/SQL block gives back into an OUT bind.
void refBindWrite(Bind& b, ub4 iteration, const Value& v, Session& s);
Handle* newXmlStream();
// XPath over XMLTYPE values (XmlPath.cpp): extract, existsNode, extractValue, getNumberVal,
// isFragment, getRootElement and XMLSERIALIZE as calls of the functions registered here.
std::string rewriteXmlMethods(const std::string& sql);
bool describeXmlItem(const std::string& function, Column& col);  // false: no such function
void checkXmlDocument(const std::string& text);                  // ORA-31011 unless well-formed
void registerXmlPathFunctions(Session& s);
// ---- CURSOR(subquery) columns (CursorColumns.cpp)

// Null when the select list has no CURSOR(...) item; otherwise outerText is the query to run (the
// items as NULL placeholders, the subqueries' outer references as hidden columns after the list).
std::shared_ptr<NestedCursors> planNestedCursors(const std::string& utf8, std::string& outerText,
                                                 const std::map<std::string, Value>& params);
// Drops the hidden columns and describes the CURSOR items as SQLT_RSET.
void describeNestedCursors(const NestedCursors& plan, std::vector<Column>& columns);
// Reads the current row of st and opens its cursors.
std::vector<Value> nestedCursorRow(NestedCursors& plan, Session& s, sqlite3_stmt* st, size_t visible);
void closeNestedCursors(NestedCursors& plan);

// For tests: the process-wide fault counters.
void resetFaultCounters();

}  // namespace oci
