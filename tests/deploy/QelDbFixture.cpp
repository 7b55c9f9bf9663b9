#include "QelDbFixture.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

const std::string& QelDemo::dir() {
    return testshell::QelDemoFiles().folder;
}

const std::string& QelDemo::base() {
    return testshell::QelDemoFiles().base;
}

std::string Rows::at(size_t r, const std::string& column) const {
    for (size_t c = 0; c < columns.size(); ++c)
        if (strcasecmp(columns[c].c_str(), column.c_str()) == 0) return values.at(r).at(c);
    ADD_FAILURE() << "no column " << column;
    return {};
}

// ---- the session
// -------------------------------------------------------------------------------------------

sword OciLogon::begin(OCIEnv* env, OCIError* err, const std::string& server, const std::string& user,
                      const std::string& password) {
    OCIHandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
    sword rc = OCIServerAttach(srv, err, reinterpret_cast<const OraText*>(server.c_str()),
                               static_cast<sb4>(server.size()), OCI_DEFAULT);
    if (rc != OCI_SUCCESS) return rc;
    OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(user.c_str()), static_cast<ub4>(user.size()),
               OCI_ATTR_USERNAME, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>(password.c_str()), static_cast<ub4>(password.size()),
               OCI_ATTR_PASSWORD, err);
    rc = OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT);
    if (rc == OCI_SUCCESS) OCIAttrSet(svc, OCI_HTYPE_SVCCTX, ses, 0, OCI_ATTR_SESSION, err);
    return rc;
}

void OciLogon::end(OCIError* err) {
    if (ses) OCISessionEnd(svc, err, ses, OCI_DEFAULT);
    if (srv) OCIServerDetach(srv, err, OCI_DEFAULT);
    *this = OciLogon{};
}

void QelDbTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    db_ = QelDemo::dir() + "/" + info->test_suite_name() + "." + info->name() + ".db";
    std::filesystem::copy_file(QelDemo::base(), db_, std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(OCI_SUCCESS,
              OCIEnvCreate(&env_, OCI_THREADED | OCI_OBJECT, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&err_), OCI_HTYPE_ERROR, 0, nullptr);
    ASSERT_EQ(OCI_SUCCESS, logon_.begin(env_, err_, db_, "qel", "secret")) << errorText();
    svc_ = logon_.svc;
    ASSERT_EQ(OCI_SUCCESS, exec("ALTER SESSION SET CURRENT_SCHEMA = qel")) << errorText();
}

void QelDbTest::TearDown() {
    logon_.end(err_);
    if (env_) OCIHandleFree(env_, OCI_HTYPE_ENV);
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db_ + suffix, ec);
}

std::string QelDbTest::errorText() {
    OraText buf[2048] = {0};
    sb4 code = 0;
    if (OCIErrorGet(err_, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR) != OCI_SUCCESS)
        return "(no error)";
    return reinterpret_cast<char*>(buf);
}

sb4 QelDbTest::errorCode() {
    OraText buf[2048] = {0};
    sb4 code = 0;
    OCIErrorGet(err_, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR);
    return code;
}

void QelDbTest::commit() {
    ASSERT_EQ(OCI_SUCCESS, OCITransCommit(svc_, err_, OCI_DEFAULT)) << errorText();
}

void QelDbTest::rollback() {
    ASSERT_EQ(OCI_SUCCESS, OCITransRollback(svc_, err_, OCI_DEFAULT)) << errorText();
}

sword QelDbTest::exec(const std::string& sql) {
    OCIStmt* st = nullptr;
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
    sword rc = OCIStmtPrepare(st, err_, reinterpret_cast<const OraText*>(sql.data()),
                              static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
    if (rc == OCI_SUCCESS) rc = OCIStmtExecute(svc_, st, err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
    OCIHandleFree(st, OCI_HTYPE_STMT);
    return rc;
}

namespace {

// Defines every column of an executed statement as text and fetches all rows.
Rows fetchAll(QelDbTest& t, OCIStmt* st) {
    Rows rows;
    ub4 count = 0;
    OCIAttrGet(st, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, t.err_);
    std::vector<std::vector<char>> bufs(count, std::vector<char>(4001));
    std::vector<sb2> inds(count);
    for (ub4 c = 0; c < count; ++c) {
        OCIParam* p = nullptr;
        OCIParamGet(st, OCI_HTYPE_STMT, t.err_, reinterpret_cast<void**>(&p), c + 1);
        OraText* name = nullptr;
        ub4 len = 0;
        OCIAttrGet(p, OCI_DTYPE_PARAM, &name, &len, OCI_ATTR_NAME, t.err_);
        rows.columns.emplace_back(reinterpret_cast<char*>(name), len);
        OCIDescriptorFree(p, OCI_DTYPE_PARAM);
        OCIDefine* d = nullptr;
        EXPECT_EQ(OCI_SUCCESS, OCIDefineByPos(st, &d, t.err_, c + 1, bufs[c].data(), 4001, SQLT_STR, &inds[c],
                                              nullptr, nullptr, OCI_DEFAULT))
            << t.errorText();
    }
    while (true) {
        sword rc = OCIStmtFetch(st, t.err_, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
        if (rc == OCI_NO_DATA) break;
        if (rc != OCI_SUCCESS) {
            ADD_FAILURE() << t.errorText();
            break;
        }
        std::vector<std::string> row;
        for (ub4 c = 0; c < count; ++c) row.emplace_back(inds[c] == -1 ? "" : bufs[c].data());
        rows.values.push_back(row);
    }
    return rows;
}

}  // namespace

Rows QelDbTest::query(const std::string& sql) {
    OCIStmt* st = nullptr;
    OCIHandleAlloc(env_, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
    Rows rows;
    if (OCIStmtPrepare(st, err_, reinterpret_cast<const OraText*>(sql.data()), static_cast<ub4>(sql.size()),
                       OCI_NTV_SYNTAX, OCI_DEFAULT) == OCI_SUCCESS &&
        OCIStmtExecute(svc_, st, err_, 0, 0, nullptr, nullptr, OCI_DEFAULT) == OCI_SUCCESS) {
        rows = fetchAll(*this, st);
    } else {
        ADD_FAILURE() << sql << ": " << errorText();
    }
    OCIHandleFree(st, OCI_HTYPE_STMT);
    return rows;
}

std::vector<std::string> QelDbTest::sqlite(const std::string& sql) const {
    std::string script = db_ + ".sql";
    std::ofstream(script) << ".timeout 5000\n" << sql << ";\n";
    std::string out;
    int rc = RunCommand(
        "sqlite3 -batch -noheader -separator '|' " + ShellQuote(db_) + " < " + ShellQuote(script), &out);
    EXPECT_EQ(0, rc) << sql << "\n" << out;
    std::vector<std::string> lines;
    size_t b = 0;
    while (b < out.size()) {
        size_t e = out.find('\n', b);
        if (e == std::string::npos) e = out.size();
        lines.push_back(out.substr(b, e - b));
        b = e + 1;
    }
    return lines;
}

std::string QelDbTest::sqliteOne(const std::string& sql) const {
    auto lines = sqlite(sql);
    return lines.empty() ? "" : lines.front();
}

long long QelDbTest::sqliteCount(const std::string& sql) const {
    std::string s = sqliteOne(sql);
    return s.empty() ? -1 : std::stoll(s);
}

std::vector<long long> QelDbTest::sqliteCounts(const std::vector<std::string>& queries) const {
    std::string sql = "SELECT ";
    for (size_t k = 0; k < queries.size(); ++k) sql += (k ? ", (" : "(") + queries[k] + ")";
    std::string row = sqliteOne(sql);
    std::vector<long long> out;
    size_t b = 0;
    while (out.size() < queries.size() && b <= row.size()) {
        size_t e = row.find('|', b);
        if (e == std::string::npos) e = row.size();
        out.push_back(e > b ? std::stoll(row.substr(b, e - b)) : -1);
        b = e + 1;
    }
    EXPECT_EQ(queries.size(), out.size()) << row;
    out.resize(queries.size(), -1);
    return out;
}

std::string QelDbTest::registerPackage(const std::string& id) {
    ProcCall c(*this, "zuv_export_out_pack.add_entries_to_package");
    c.text("P_PACKAGE_ID", id, 39).date("P_DATETIME_CREATE", {2024, 5, 31, 10, 15, 0});
    EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
    commit();
    return id;
}

// ---- calls
// -------------------------------------------------------------------------------------------------

ProcCall::ProcCall(QelDbTest& t, std::string name, bool function)
    : t_(t), name_(std::move(name)), function_(function) {}

ProcCall::~ProcCall() {
    for (Slot& s : slots_)
        if (s.cursor) OCIHandleFree(s.cursor, OCI_HTYPE_STMT);
    if (stmt_) OCIHandleFree(stmt_, OCI_HTYPE_STMT);
}

ProcCall::Slot& ProcCall::add(const char* param, ub2 type, size_t size, bool out) {
    Slot& s = slots_.emplace_back();
    s.name = param;
    s.type = type;
    s.out = out;
    s.buf.assign(size, 0);
    return s;
}

const ProcCall::Slot& ProcCall::find(const char* param) const {
    for (const Slot& s : slots_)
        if (s.name == param) return s;
    throw std::runtime_error(std::string("no parameter ") + param);
}

ProcCall& ProcCall::text(const char* param, const std::string& v, sb4 size) {
    Slot& s = add(param, SQLT_STR, static_cast<size_t>(size), false);
    // the client cuts an input string to its declared size
    std::memcpy(s.buf.data(), v.data(), std::min(v.size(), s.buf.size() - 1));
    s.ind = v.empty() ? -1 : 0;
    return *this;
}

ProcCall& ProcCall::integer(const char* param, int v) {
    Slot& s = add(param, SQLT_INT, sizeof v, false);
    std::memcpy(s.buf.data(), &v, sizeof v);
    return *this;
}

ProcCall& ProcCall::number(const char* param, double v) {
    Slot& s = add(param, SQLT_FLT, sizeof v, false);
    std::memcpy(s.buf.data(), &v, sizeof v);
    return *this;
}

ProcCall& ProcCall::date(const char* param, OraDate v) {
    Slot& s = add(param, SQLT_DAT, 7, false);
    unsigned char b[7] = {static_cast<unsigned char>(v.year / 100 + 100),
                          static_cast<unsigned char>(v.year % 100 + 100),
                          static_cast<unsigned char>(v.month),
                          static_cast<unsigned char>(v.day),
                          static_cast<unsigned char>(v.hour + 1),
                          static_cast<unsigned char>(v.minute + 1),
                          static_cast<unsigned char>(v.second + 1)};
    std::memcpy(s.buf.data(), b, 7);
    return *this;
}

ProcCall& ProcCall::null(const char* param) {
    add(param, SQLT_STR, 2, false).ind = -1;
    return *this;
}

ProcCall& ProcCall::outText(const char* param, sb4 size) {
    add(param, SQLT_STR, static_cast<size_t>(size), true).ind = -1;
    return *this;
}

ProcCall& ProcCall::outNumber(const char* param) {
    add(param, SQLT_INT, sizeof(int), true).ind = -1;
    return *this;
}

ProcCall& ProcCall::cursor(const char* param) {
    Slot& s = add(param, SQLT_RSET, 0, true);
    OCIHandleAlloc(t_.env_, reinterpret_cast<void**>(&s.cursor), OCI_HTYPE_STMT, 0, nullptr);
    return *this;
}

sword ProcCall::run() {
    std::string text = "begin\r  ";
    if (function_) {
        text += ":" + slots_.front().name + " := " + name_ + ";";
    } else {
        text += name_ + "(";
        for (size_t k = 0; k < slots_.size(); ++k) text += (k ? ", :" : ":") + slots_[k].name;
        text += ");";
    }
    text += "\rend;";
    if (stmt_) OCIHandleFree(stmt_, OCI_HTYPE_STMT);
    OCIHandleAlloc(t_.env_, reinterpret_cast<void**>(&stmt_), OCI_HTYPE_STMT, 0, nullptr);
    sword rc = OCIStmtPrepare(stmt_, t_.err_, reinterpret_cast<const OraText*>(text.data()),
                              static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
    if (rc != OCI_SUCCESS) return rc;
    for (Slot& s : slots_) {
        OCIBind* b = nullptr;
        void* value = s.cursor ? static_cast<void*>(&s.cursor) : static_cast<void*>(s.buf.data());
        rc = OCIBindByName(stmt_, &b, t_.err_, reinterpret_cast<const OraText*>(s.name.c_str()),
                           static_cast<sb4>(s.name.size()), value, static_cast<sb4>(s.buf.size()), s.type,
                           s.cursor ? nullptr : &s.ind, nullptr, nullptr, 0, nullptr, OCI_DEFAULT);
        if (rc != OCI_SUCCESS) return rc;
    }
    return OCIStmtExecute(t_.svc_, stmt_, t_.err_, 1, 0, nullptr, nullptr, OCI_DEFAULT);
}

std::string ProcCall::textOf(const char* param) const {
    const Slot& s = find(param);
    return s.ind == -1 ? "" : std::string(s.buf.data());
}

bool ProcCall::isNull(const char* param) const {
    return find(param).ind == -1;
}

long long ProcCall::numberOf(const char* param) const {
    const Slot& s = find(param);
    int v = 0;
    std::memcpy(&v, s.buf.data(), sizeof v);
    return v;
}

Rows ProcCall::rowsOf(const char* param) {
    return fetchAll(t_, find(param).cursor);
}
