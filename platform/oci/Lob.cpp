// LOB and BFILE locators over SQLite BLOB and TEXT values, temporary LOBs and BFILEs over a directory
// mapping (oci_directory). A locator fetched from a query holds the value as it was read, as
// Oracle's consistent read has it; it can be read, not written (ORA-22920: the row is not locked).
// Temporary LOBs live in the client until freed. Amounts and offsets count characters for CLOB
// and NCLOB, bytes for BLOB and BFILE.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

namespace {

bool lobDescriptor(ub4 t) {
    return t == OCI_DTYPE_LOB || t == OCI_DTYPE_FILE;
}

LobLocator* locatorOf(const void* p) {
    Handle* h = findHandle(p);
    if (!h || !lobDescriptor(h->type)) raise(22275, "invalid LOB locator specified");
    return static_cast<LobLocator*>(h);
}

LobData& dataOf(const void* p) {
    LobLocator* l = locatorOf(p);
    if (!l->data) raise(22275, "invalid LOB locator specified");
    return *l->data;
}

Session* liveSessionOf(OCISvcCtx* svchp) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    if (!svc) raise(24316, "illegal handle type");
    if (!svc->session || !findHandle(svc->session)) raise(3114);
    svc->session->ensureAlive();
    svc->session->checkLink();
    return svc->session;
}

// The folder a directory alias maps to; empty when there is none.
std::string directoryPath(Session& s, const std::string& alias) {
    sqlite3_stmt* q = nullptr;
    std::string path;
    if (sqlite3_prepare_v2(s.db, "SELECT path FROM oci_directory WHERE name = ?", -1, &q, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(q, 1, alias.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(q, 0);
            if (t) path = reinterpret_cast<const char*>(t);
        }
    }
    sqlite3_finalize(q);
    return path;
}

bool isDirectory(const std::string& path) {
    struct stat sb;
    return !path.empty() && stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

// The file of a BFILE: 0 found, 1 no such directory alias or folder, 2 no such file.
int resolveFile(Session& s, const LobData& d, std::string& path) {
    std::string folder = directoryPath(s, ansiToUtf8(d.dir));
    if (!isDirectory(folder)) return 1;
    if (d.name.empty() || d.name.find('/') != std::string::npos) return 2;
    path = folder + "/" + ansiToUtf8(d.name);
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode) ? 0 : 2;
}

[[noreturn]] void noFile(const char* op) {
    raise(22285, std::string("non-existent directory or file for ") + op + " operation");
}

// Units held: characters for a CLOB, bytes otherwise.
uint64_t unitCount(const LobData& d) {
    return d.kind == LobData::Clob ? d.text.size() : d.bytes.size();
}

void checkReadable(const LobData& d) {
    if (d.kind == LobData::File && !d.open)
        raise(22289, "cannot perform FILEREAD operation on an unopened file or LOB");
}

// A temporary LOB, or one a statement of this session returned from its row.
void checkWritable(const LobData& d, const Session* s) {
    if (d.kind == LobData::File) raise(22275, "invalid LOB locator specified: a BFILE is read-only");
    if (!d.temporary && !(d.persistent() && d.session == s))
        raise(22920, "row containing the LOB value is not locked");
}

void markDirty(LobData& d) {
    if (!d.persistent() || d.dirty) return;
    d.dirty = true;
    d.session->dirtyLobs.push_back(d.shared_from_this());
}

// Client text of a CLOB: UTF-16 with character set id 1000, else the 8-bit client code page.
bool wideClient(ub2 csid) {
    return csid == OCI_UTF16ID;
}

// Writes units [from, from + n) of the value into buf; answers the bytes written.
uint64_t copyOut(const LobData& d, uint64_t from, uint64_t n, char* buf, bool wide) {
    if (d.kind != LobData::Clob) {
        std::memcpy(buf, d.bytes.data() + from, n);
        return n;
    }
    if (wide) {
        for (uint64_t k = 0; k < n; ++k) {
            char16_t c = d.text[from + k];
            buf[2 * k] = static_cast<char>(c & 0xFF);
            buf[2 * k + 1] = static_cast<char>(c >> 8);
        }
        return 2 * n;
    }
    std::string ansi = utf8ToAnsi(u16ToUtf8(d.text.data() + from, n));
    // The code page conversion is total: one byte per UTF-16 unit outside surrogate pairs.
    std::memcpy(buf, ansi.data(), std::min<size_t>(ansi.size(), n));
    return std::min<size_t>(ansi.size(), n);
}

// A read of the stream under way, or a new one: amount 0 streams to the end.
sword readLob(LobData& d, uint64_t& byteAmt, uint64_t& charAmt, uint64_t offset, void* bufp, uint64_t bufl,
              ub1 piece, ub2 csid, bool continueAny) {
    checkReadable(d);
    const bool clob = d.kind == LobData::Clob;
    const bool wide = clob && wideClient(csid);
    const uint64_t unitBytes = wide ? 2 : 1;
    if (!bufp && bufl > 0) raise(22275, "invalid LOB locator specified");
    const bool continuing = d.streaming && (continueAny || piece == OCI_NEXT_PIECE);
    if (!continuing) {
        if (piece == OCI_NEXT_PIECE) raise(22275, "invalid LOB locator specified: no read under way");
        if (offset == 0) raise(21560, "argument 6 is null, invalid, or out of range");
        uint64_t want = clob ? (charAmt ? charAmt : byteAmt / unitBytes) : byteAmt;
        const bool toEnd = clob ? charAmt == 0 && byteAmt == 0 : byteAmt == 0;
        d.streamPos = offset - 1;
        const uint64_t have = unitCount(d) > d.streamPos ? unitCount(d) - d.streamPos : 0;
        d.streamLeft = toEnd ? have : std::min(want, have);
        d.streaming = true;
    }
    uint64_t n = std::min<uint64_t>(d.streamLeft, bufl / unitBytes);
    if (d.streamPos >= unitCount(d)) n = 0;
    const uint64_t bytes = n ? copyOut(d, d.streamPos, n, static_cast<char*>(bufp), wide) : 0;
    d.streamPos += n;
    d.streamLeft -= n;
    byteAmt = bytes;
    charAmt = clob ? n : bytes;
    // Streaming goes on only in piece modes; one piece ends the read whatever is left.
    if (d.streamLeft > 0 && n > 0 && piece != OCI_ONE_PIECE) return OCI_NEED_DATA;
    d.streaming = false;
    return OCI_SUCCESS;
}

// The units a client buffer holds, decoded.
void writeUnits(LobData& d, uint64_t offset, const std::string& bytesIn, const std::u16string& textIn) {
    if (offset == 0) raise(21560, "argument 6 is null, invalid, or out of range");
    const uint64_t at = offset - 1;
    if (d.kind == LobData::Clob) {
        if (d.text.size() < at) d.text.resize(at, u' ');  // a gap fills with blanks
        d.text.replace(at, std::min<size_t>(textIn.size(), d.text.size() - at), textIn);
    } else {
        if (d.bytes.size() < at) d.bytes.resize(at, '\0');  // a gap fills with zero bytes
        d.bytes.replace(at, std::min<size_t>(bytesIn.size(), d.bytes.size() - at), bytesIn);
    }
}

// Writes amount units (0: the whole buffer) from the client buffer at offset; answers the units
// and the bytes taken.
void writeLob(Session* s, LobData& d, uint64_t& byteAmt, uint64_t& charAmt, uint64_t offset, const void* bufp,
              uint64_t buflen, ub1 piece, ub2 csid) {
    checkWritable(d, s);
    const char* p = static_cast<const char*>(bufp);
    if (!p && buflen > 0) raise(22275, "invalid LOB locator specified");
    if (piece == OCI_NEXT_PIECE || piece == OCI_LAST_PIECE) {
        if (!d.writing) raise(22275, "invalid LOB locator specified: no write under way");
        offset = d.writePos + 1;
    }
    if (d.kind == LobData::Clob) {
        const bool wide = wideClient(csid);
        std::u16string units;
        if (wide) {
            units.resize(buflen / 2);
            for (size_t k = 0; k < units.size(); ++k)
                units[k] = static_cast<char16_t>(static_cast<unsigned char>(p[2 * k]) |
                                                 (static_cast<unsigned char>(p[2 * k + 1]) << 8));
        } else {
            units = utf8ToU16(ansiToUtf8(std::string_view(p, buflen)));
        }
        uint64_t want = charAmt ? charAmt : byteAmt ? byteAmt / (wide ? 2 : 1) : units.size();
        if (piece != OCI_ONE_PIECE || want > units.size()) want = units.size();
        units.resize(want);
        writeUnits(d, offset, {}, units);
        charAmt = want;
        byteAmt = wide ? want * 2 : want;
    } else {
        uint64_t want = byteAmt ? std::min(byteAmt, buflen) : buflen;
        if (piece != OCI_ONE_PIECE) want = buflen;
        writeUnits(d, offset, std::string(p, want), {});
        byteAmt = charAmt = want;
    }
    d.writing = piece == OCI_FIRST_PIECE || piece == OCI_NEXT_PIECE;
    d.writePos = offset - 1 + charAmt;
    markDirty(d);
}

std::shared_ptr<LobData> dataFor(ub2 dty, const Value& v, ub1 form, bool temporary) {
    auto d = std::make_shared<LobData>();
    d->temporary = temporary;
    d->form = form;
    switch (dty) {
        case SQLT_CLOB:
            d->kind = LobData::Clob;
            d->form = form == 2 ? 2 : 1;
            if (v.kind == Value::Text)
                d->text = utf8ToU16(v.s);
            else if (v.kind == Value::Blob)
                d->text = utf8ToU16(v.s);
            else if (!v.isNull())
                d->text = utf8ToU16(ansiToUtf8(decimalToText(valueToDecimal(v))));
            break;
        case SQLT_BLOB:
            d->kind = LobData::Blob;
            d->form = 0;
            if (v.kind == Value::Blob || v.kind == Value::Text) d->bytes = v.s;
            break;
        default: {
            d->kind = LobData::File;
            d->form = 0;
            // kept as "ALIAS/name"
            std::string s = utf8ToAnsi(v.s);
            size_t slash = s.find('/');
            d->dir = slash == std::string::npos ? s : s.substr(0, slash);
            d->name = slash == std::string::npos ? std::string() : s.substr(slash + 1);
            break;
        }
    }
    return d;
}

// SQL functions: EMPTY_BLOB(), EMPTY_CLOB() (empty, not NULL) and BFILENAME(alias, name).
void fnEmptyBlob(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_zeroblob(ctx, 0);
}
void fnEmptyClob(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_text(ctx, "", 0, SQLITE_STATIC);
}
void fnBFileName(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string v = std::string(reinterpret_cast<const char*>(sqlite3_value_text(argv[0]))) + "/" +
                    reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    sqlite3_result_text(ctx, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

}  // namespace

bool isLobType(ub2 dty) {
    return dty == SQLT_CLOB || dty == SQLT_BLOB || dty == SQLT_BFILEE || dty == SQLT_CFILEE;
}

Handle* newLobLocator(ub4 type) {
    return new LobLocator(type);
}

void storeLocator(char* cell, ub2 dty, const Value& v, const TypeInfo* source, ub1 form, bool temporary) {
    void* p = nullptr;
    std::memcpy(&p, cell, sizeof p);
    LobLocator* l = locatorOf(p);
    const bool file = dty == SQLT_BFILEE || dty == SQLT_CFILEE;
    if (file != (l->type == OCI_DTYPE_FILE)) raise(932, "inconsistent datatypes");
    if (source) {
        // A locator of another LOB type than the column's: Oracle converts none of them.
        const bool fileColumn = source->type == SQLT_BFILEE || source->type == SQLT_CFILEE;
        if ((file != fileColumn) || (!file && source->type != dty))
            raise(932, "inconsistent datatypes: expected " + std::string(dty == SQLT_BLOB ? "BLOB" : "CLOB"));
        form = source->charsetForm;
    }
    l->data = dataFor(dty, v, form, temporary);
}

Value locatorValue(const char* cell, ub2 dty) {
    void* p = nullptr;
    std::memcpy(&p, cell, sizeof p);
    LobLocator* l = locatorOf(p);
    if (!l->data) return Value::null();
    const LobData& d = *l->data;
    switch (d.kind) {
        case LobData::Clob:
            if (dty != SQLT_CLOB) raise(932, "inconsistent datatypes");
            return Value::ofText(u16ToUtf8(d.text.data(), d.text.size()));
        case LobData::Blob:
            if (dty != SQLT_BLOB) raise(932, "inconsistent datatypes");
            return Value::ofBlob(d.bytes);
        default:
            return Value::ofText(ansiToUtf8(d.dir + "/" + d.name));
    }
}

void registerLobFunctions(sqlite3* db) {
    sqlite3_create_function(db, "empty_blob", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnEmptyBlob,
                            nullptr, nullptr);
    sqlite3_create_function(db, "empty_clob", 0, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnEmptyClob,
                            nullptr, nullptr);
    sqlite3_create_function(db, "bfilename", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnBFileName,
                            nullptr, nullptr);
}

std::optional<Returning> splitReturning(const std::string& utf8) {
    std::vector<Token> t = tokenize(utf8);
    auto ident = [&](size_t k, const char* w) {
        return t[k].kind == Token::Ident && !t[k].quoted && t[k].text == w;
    };
    if (t.empty() || !(ident(0, "INSERT") || ident(0, "UPDATE") || ident(0, "DELETE"))) return std::nullopt;
    int depth = 0;
    size_t ret = 0, into = 0;
    for (size_t k = 0; t[k].kind != Token::End; ++k) {
        if (t[k].kind == Token::Punct && t[k].text == "(") ++depth;
        if (t[k].kind == Token::Punct && t[k].text == ")") --depth;
        if (depth != 0) continue;
        if (!ret && (ident(k, "RETURNING") || ident(k, "RETURN"))) ret = k;
        if (ret && k > ret && ident(k, "INTO")) {
            into = k;
            break;
        }
    }
    if (!ret || !into) return std::nullopt;
    Returning r;
    r.statement = utf8.substr(0, t[ret].begin);
    // the returned expressions: the text between RETURNING and INTO, split at top-level commas
    size_t from = t[ret].end;
    depth = 0;
    for (size_t k = ret + 1; k <= into; ++k) {
        if (t[k].kind == Token::Punct && t[k].text == "(") ++depth;
        if (t[k].kind == Token::Punct && t[k].text == ")") --depth;
        if (k == into || (depth == 0 && t[k].kind == Token::Punct && t[k].text == ",")) {
            r.exprs.push_back(trim(utf8.substr(from, t[k].begin - from)));
            from = t[k].end;
        }
    }
    for (size_t k = into + 1; t[k].kind != Token::End; ++k) {
        if (t[k].kind == Token::Marker)
            r.markers.push_back(t[k].text);
        else if (!(t[k].kind == Token::Punct && (t[k].text == "," || t[k].text == ";")))
            raise(933, "SQL command not properly ended");
    }
    if (r.markers.size() != r.exprs.size()) raise(913, "too many values");
    // the table: INSERT INTO t, UPDATE t, DELETE [FROM] t
    size_t k = 1;
    if (ident(k, "INTO") || ident(k, "FROM")) ++k;
    while (t[k].kind == Token::Ident) {
        r.table = t[k].text;
        if (t[k + 1].kind == Token::Punct && t[k + 1].text == "." && t[k + 2].kind == Token::Ident)
            k += 2;
        else
            break;
    }
    return r;
}

namespace {

// The declared type of a table's column; none when either is unknown.
std::optional<TypeInfo> columnType(Session& s, const std::string& table, const std::string& column) {
    sqlite3_stmt* q = nullptr;
    std::optional<TypeInfo> type;
    if (sqlite3_prepare_v2(s.db, "SELECT type FROM pragma_table_info(?) WHERE upper(name) = upper(?)", -1, &q,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(q, 2, column.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) {
            const unsigned char* decl = sqlite3_column_text(q, 0);
            if (decl) type = parseDeclaredType(reinterpret_cast<const char*>(decl), false);
        }
    }
    sqlite3_finalize(q);
    return type;
}

bool plainIdentifier(const std::string& e) {
    if (e.empty() || !identStart(e[0])) return false;
    return std::all_of(e.begin(), e.end(), [](char c) { return identChar(c); });
}

}  // namespace

int runReturning(Session& s, Stmt& st, const Returning& r, const std::map<std::string, Value>& params) {
    std::string sql = lexStatement(r.statement, &s.schemas).sqlite;
    while (!sql.empty() && (sql.back() == ';' || static_cast<unsigned char>(sql.back()) <= ' '))
        sql.pop_back();
    sql += " RETURNING rowid";
    for (const std::string& e : r.exprs) sql += ", " + e;
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr);
    if (rc != SQLITE_OK) s.raiseSqlite(rc);
    std::vector<Value> row;
    try {
        const int n = sqlite3_bind_parameter_count(q);
        for (int k = 1; k <= n; ++k) {
            const char* name = sqlite3_bind_parameter_name(q, k);
            auto it = name ? params.find(upper(name + 1)) : params.end();
            if (it == params.end()) raise(1008);
            bindValue(q, k, it->second);
        }
        while ((rc = sqlite3_step(q)) == SQLITE_ROW)
            if (row.empty())
                for (int c = 0; c < sqlite3_column_count(q); ++c) row.push_back(columnValue(q, c));
        if (rc != SQLITE_DONE) s.raiseSqlite(rc);
    } catch (...) {
        sqlite3_finalize(q);
        throw;
    }
    sqlite3_finalize(q);
    const int changed = sqlite3_changes(s.db);
    for (size_t k = 0; k < r.markers.size(); ++k) {
        Bind* b = nullptr;
        for (Bind* x : st.binds)
            if (x->name == r.markers[k]) b = x;
        if (!b) raise(1008);
        const Value v = row.empty() ? Value::null() : row[k + 1];
        const bool column = plainIdentifier(r.exprs[k]);
        if (!isLobType(b->dty) || v.isNull() || !b->valuep || !column) {
            b->write(0, v);
            continue;
        }
        auto type = columnType(s, r.table, r.exprs[k]);
        if (!type || !isLobType(type->type)) raise(932, "inconsistent datatypes");
        storeLocator(b->valuep, b->dty, v, &*type, 0, false);
        void* p = nullptr;
        std::memcpy(&p, b->valuep, sizeof p);
        LobData& d = *locatorOf(p)->data;
        if (d.kind != LobData::File) {
            d.session = &s;
            d.table = r.table;
            d.column = r.exprs[k];
            d.rowid = row[0].i;
        }
        if (b->indp) {
            const sb2 zero = 0;
            std::memcpy(b->indp, &zero, sizeof zero);
        }
    }
    return changed;
}

void Session::flushLobs() {
    if (dirtyLobs.empty()) return;
    auto pending = std::move(dirtyLobs);
    dirtyLobs.clear();
    for (const auto& d : pending) {
        if (!d->dirty) continue;
        d->dirty = false;
        beginWork();
        const std::string sql = "UPDATE \"" + d->table + "\" SET \"" + d->column + "\" = ? WHERE rowid = ?";
        sqlite3_stmt* q = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr);
        if (rc != SQLITE_OK) raiseSqlite(rc);
        if (d->kind == LobData::Clob) {
            std::string text = u16ToUtf8(d->text.data(), d->text.size());
            sqlite3_bind_text(q, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_blob(q, 1, d->bytes.data(), static_cast<int>(d->bytes.size()), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(q, 2, d->rowid);
        rc = sqlite3_step(q);
        sqlite3_finalize(q);
        if (rc != SQLITE_DONE) raiseSqlite(rc);
    }
}

}  // namespace oci

using namespace oci;

namespace {

Error* errorOf(OCIError* errhp) {
    return handleAs<Error>(errhp, OCI_HTYPE_ERROR);
}

template <class T>
void put(T* out, T v) {
    if (out) *out = v;
}

}  // namespace

extern "C" {

sword OCILobLocatorIsInit(OCIEnv*, OCIError* errhp, const OCILobLocator* locp, boolean* is_initialized) {
    return guarded(errorOf(errhp), [&]() -> sword {
        put<boolean>(is_initialized, locatorOf(locp)->data != nullptr);
        return OCI_SUCCESS;
    });
}

sword OCILobIsTemporary(OCIEnv*, OCIError* errhp, OCILobLocator* locp, boolean* is_temporary) {
    return guarded(errorOf(errhp), [&]() -> sword {
        LobLocator* l = locatorOf(locp);
        put<boolean>(is_temporary, l->data && l->data->temporary);
        return OCI_SUCCESS;
    });
}

sword OCILobCharSetForm(OCIEnv*, OCIError* errhp, const OCILobLocator* locp, ub1* csfrm) {
    return guarded(errorOf(errhp), [&]() -> sword {
        LobLocator* l = locatorOf(locp);
        put<ub1>(csfrm, l->data ? l->data->form : 0);
        return OCI_SUCCESS;
    });
}

sword OCILobCharSetId(OCIEnv*, OCIError* errhp, const OCILobLocator* locp, ub2* csid) {
    return guarded(errorOf(errhp), [&]() -> sword {
        LobLocator* l = locatorOf(locp);
        // the database keeps text in UTF-8 (AL32UTF8, 873)
        put<ub2>(csid, l->data && l->data->kind == LobData::Clob ? 873 : 0);
        return OCI_SUCCESS;
    });
}

sword OCILobGetLength2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* lenp) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        if (d.kind == LobData::File && !d.open) {
            std::string path;
            if (resolveFile(*s, d, path) != 0) noFile("GETLENGTH");
            struct stat sb;
            stat(path.c_str(), &sb);
            put<oraub8>(lenp, static_cast<oraub8>(sb.st_size));
            return OCI_SUCCESS;
        }
        put<oraub8>(lenp, unitCount(d));
        return OCI_SUCCESS;
    });
}

sword OCILobGetLength(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* lenp) {
    oraub8 n = 0;
    sword rc = OCILobGetLength2(svchp, errhp, locp, &n);
    if (rc == OCI_SUCCESS) put<ub4>(lenp, static_cast<ub4>(std::min<oraub8>(n, UINT32_MAX)));
    return rc;
}

sword OCILobRead2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                  oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 bufl, ub1 piece, void* ctxp,
                  OCICallbackLobRead2 cbfp, ub2 csid, ub1) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        uint64_t b = byte_amtp ? *byte_amtp : 0, c = char_amtp ? *char_amtp : 0;
        sword rc = readLob(d, b, c, offset, bufp, bufl, piece, csid, false);
        if (cbfp) {  // the callback takes every piece in turn
            bool first = true;
            while (true) {
                const ub1 code =
                    rc == OCI_NEED_DATA ? (first ? OCI_FIRST_PIECE : OCI_NEXT_PIECE) : OCI_LAST_PIECE;
                first = false;
                if (cbfp(ctxp, bufp, b, code, nullptr, nullptr) != OCI_CONTINUE) {
                    d.streaming = false;
                    break;
                }
                if (rc != OCI_NEED_DATA) break;
                rc = readLob(d, b, c, offset, bufp, bufl, OCI_NEXT_PIECE, csid, false);
            }
            rc = OCI_SUCCESS;
        }
        put<oraub8>(byte_amtp, b);
        put<oraub8>(char_amtp, c);
        return rc;
    });
}

sword OCILobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                 ub4 bufl, void* ctxp, OCICallbackLobRead cbfp, ub2 csid, ub1 csfrm) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        uint64_t amount = amtp ? *amtp : 0;
        uint64_t b = amount, c = d.kind == LobData::Clob ? amount : 0;
        // The old call streams while a read is under way and the amount asks for more than fits.
        const ub1 piece = d.streaming ? OCI_NEXT_PIECE : OCI_FIRST_PIECE;
        sword rc = readLob(d, b, c, offset, bufp, bufl, piece, csid, true);
        if (cbfp) {
            bool first = true;
            while (true) {
                const ub1 code =
                    rc == OCI_NEED_DATA ? (first ? OCI_FIRST_PIECE : OCI_NEXT_PIECE) : OCI_LAST_PIECE;
                first = false;
                if (cbfp(ctxp, bufp, static_cast<ub4>(b), code) != OCI_CONTINUE) {
                    d.streaming = false;
                    break;
                }
                if (rc != OCI_NEED_DATA) break;
                rc = readLob(d, b, c, offset, bufp, bufl, OCI_NEXT_PIECE, csid, true);
            }
            rc = OCI_SUCCESS;
        }
        (void)csfrm;
        put<ub4>(amtp, static_cast<ub4>(d.kind == LobData::Clob ? c : b));
        return rc;
    });
}

sword OCILobWrite2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                   oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 buflen, ub1 piece, void*,
                   OCICallbackLobWrite2, ub2 csid, ub1) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        uint64_t b = byte_amtp ? *byte_amtp : 0, c = char_amtp ? *char_amtp : 0;
        writeLob(s, d, b, c, offset, bufp, buflen, piece, csid);
        put<oraub8>(byte_amtp, b);
        put<oraub8>(char_amtp, c);
        return piece == OCI_FIRST_PIECE || piece == OCI_NEXT_PIECE ? OCI_NEED_DATA : OCI_SUCCESS;
    });
}

sword OCILobWrite(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                  ub4 buflen, ub1 piece, void*, OCICallbackLobWrite, ub2 csid, ub1) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        uint64_t amount = amtp ? *amtp : 0;
        uint64_t b = amount, c = d.kind == LobData::Clob ? amount : 0;
        writeLob(s, d, b, c, offset, bufp, buflen, piece, csid);
        put<ub4>(amtp, static_cast<ub4>(d.kind == LobData::Clob ? c : b));
        return piece == OCI_FIRST_PIECE || piece == OCI_NEXT_PIECE ? OCI_NEED_DATA : OCI_SUCCESS;
    });
}

sword OCILobTrim2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8 newlen) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(locp);
        checkWritable(d, s);
        if (newlen > unitCount(d))
            raise(22926, "specified trim length is greater than current LOB value's length");
        if (d.kind == LobData::Clob)
            d.text.resize(newlen);
        else
            d.bytes.resize(newlen);
        markDirty(d);
        return OCI_SUCCESS;
    });
}

sword OCILobTrim(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4 newlen) {
    return OCILobTrim2(svchp, errhp, locp, newlen);
}

sword OCILobAppend(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* dst_locp, OCILobLocator* src_locp) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& dst = dataOf(dst_locp);
        LobData& src = dataOf(src_locp);
        checkWritable(dst, s);
        if (src.kind != dst.kind) raise(932, "inconsistent datatypes");
        if (dst.kind == LobData::Clob)
            dst.text += std::u16string(src.text);
        else
            dst.bytes += std::string(src.bytes);
        markDirty(dst);
        return OCI_SUCCESS;
    });
}

sword OCILobAssign(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* src_locp, OCILobLocator** dst_locpp) {
    return guarded(errorOf(errhp), [&]() -> sword {
        LobLocator* src = locatorOf(src_locp);
        if (!dst_locpp) raise(22275, "invalid LOB locator specified");
        if (!*dst_locpp) {
            Env* env = handleAs<Env>(envhp, OCI_HTYPE_ENV);
            if (!env) raise(24316, "illegal handle type");
            Handle* h = newLobLocator(src->type);
            registerHandle(h, env);
            *dst_locpp = reinterpret_cast<OCILobLocator*>(h);
        }
        LobLocator* dst = locatorOf(*dst_locpp);
        // A copy of the value: writing one of them leaves the other alone.
        if (src->data) {
            dst->data = std::make_shared<LobData>();
            LobData& d = *dst->data;
            const LobData& from = *src->data;
            d.kind = from.kind;
            d.form = from.form;
            d.temporary = from.temporary;
            d.bytes = from.bytes;
            d.text = from.text;
            d.dir = from.dir;
            d.name = from.name;
            d.session = from.session;  // a copy of a returned locator writes to the same row
            d.table = from.table;
            d.column = from.column;
            d.rowid = from.rowid;
        } else {
            dst->data = nullptr;
        }
        return OCI_SUCCESS;
    });
}

sword OCILobCreateTemporary(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub2, ub1 csfrm,
                            ub1 lobtype, boolean, OCIDuration) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobLocator* l = locatorOf(locp);
        if (l->type != OCI_DTYPE_LOB || (lobtype != OCI_TEMP_BLOB && lobtype != OCI_TEMP_CLOB))
            raise(932, "inconsistent datatypes");
        l->data = dataFor(lobtype == OCI_TEMP_BLOB ? SQLT_BLOB : SQLT_CLOB, Value::null(), csfrm, true);
        return OCI_SUCCESS;
    });
}

sword OCILobFreeTemporary(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobLocator* l = locatorOf(locp);
        if (!l->data || !l->data->temporary) raise(22275, "invalid LOB locator specified");
        l->data.reset();
        return OCI_SUCCESS;
    });
}

sword OCILobFileSetName(OCIEnv* envhp, OCIError* errhp, OCILobLocator** filepp, const OraText* dir_alias,
                        ub2 d_length, const OraText* filename, ub2 f_length) {
    return guarded(errorOf(errhp), [&]() -> sword {
        if (!filepp) raise(22275, "invalid LOB locator specified");
        if (!*filepp) {
            Env* env = handleAs<Env>(envhp, OCI_HTYPE_ENV);
            if (!env) raise(24316, "illegal handle type");
            Handle* h = newLobLocator(OCI_DTYPE_FILE);
            registerHandle(h, env);
            *filepp = reinterpret_cast<OCILobLocator*>(h);
        }
        LobLocator* l = locatorOf(*filepp);
        if (l->type != OCI_DTYPE_FILE) raise(22275, "invalid LOB locator specified");
        auto text = [](const OraText* p, ub2 n) {
            std::string s(reinterpret_cast<const char*>(p ? p : reinterpret_cast<const OraText*>("")),
                          p ? n : 0);
            while (!s.empty() && s.back() == '\0') s.pop_back();  // an empty text comes as one NUL
            return s;
        };
        auto d = std::make_shared<LobData>();
        d->kind = LobData::File;
        d->form = 0;
        d->dir = text(dir_alias, d_length);
        d->name = text(filename, f_length);
        l->data = d;
        return OCI_SUCCESS;
    });
}

sword OCILobFileGetName(OCIEnv*, OCIError* errhp, const OCILobLocator* filep, OraText* dir_alias,
                        ub2* d_length, OraText* filename, ub2* f_length) {
    return guarded(errorOf(errhp), [&]() -> sword {
        LobData& d = dataOf(filep);
        if (d.kind != LobData::File) raise(22275, "invalid LOB locator specified");
        auto out = [](const std::string& s, OraText* buf, ub2* len) {
            if (!len) return;
            if (buf && *len < s.size())
                raise(22283, "filename contains characters that refer to parent directory");
            if (buf) std::memcpy(buf, s.data(), s.size());
            *len = static_cast<ub2>(s.size());
        };
        out(d.dir, dir_alias, d_length);
        out(d.name, filename, f_length);
        return OCI_SUCCESS;
    });
}

sword OCILobFileExists(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, boolean* flag) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(filep);
        if (d.kind != LobData::File) raise(22275, "invalid LOB locator specified");
        std::string path;
        int r = resolveFile(*s, d, path);
        if (r == 1) noFile("FILEEXISTS");
        put<boolean>(flag, r == 0);
        return OCI_SUCCESS;
    });
}

sword OCILobFileOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, ub1 mode) {
    return guarded(errorOf(errhp), [&]() -> sword {
        Session* s = liveSessionOf(svchp);
        LobData& d = dataOf(filep);
        if (d.kind != LobData::File) raise(22275, "invalid LOB locator specified");
        if (mode != OCI_FILE_READONLY) raise(22275, "invalid LOB locator specified: files open read-only");
        std::string path;
        if (resolveFile(*s, d, path) != 0) noFile("FILEOPEN");
        std::ifstream in(path, std::ios::binary);
        if (!in) noFile("FILEOPEN");
        std::ostringstream content;
        content << in.rdbuf();
        d.bytes = content.str();
        d.open = true;
        d.streaming = false;
        return OCI_SUCCESS;
    });
}

sword OCILobFileClose(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobData& d = dataOf(filep);
        if (d.kind != LobData::File) raise(22275, "invalid LOB locator specified");
        d.open = false;
        d.bytes.clear();
        d.bytes.shrink_to_fit();
        d.streaming = false;
        return OCI_SUCCESS;
    });
}

sword OCILobFileIsOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, boolean* flag) {
    return guarded(errorOf(errhp), [&]() -> sword {
        liveSessionOf(svchp);
        LobData& d = dataOf(filep);
        if (d.kind != LobData::File) raise(22275, "invalid LOB locator specified");
        put<boolean>(flag, d.open);
        return OCI_SUCCESS;
    });
}

}  // extern "C"
