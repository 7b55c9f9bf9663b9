// Feeds arbitrary text to the stand-in as SQL, as a PL/SQL block, as a number and as a date, on one
// session over a scratch database. Only crashes and sanitizer reports count as failures.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/oci/StandIn.h"
#include "platform/oci/oci.h"

namespace {

struct World {
    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCISvcCtx* svc = nullptr;
    std::string dir;

    World() {
        char tmpl[] = "/tmp/oci_fuzz_XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        dir = tmpl;
        std::string db = dir + "/fuzz.db";
        std::ifstream in(std::string(DX_SOURCE_DIR) + "/platform/oci/catalog.sql");
        std::stringstream catalog;
        catalog << in.rdbuf();
        sqlite3* h = nullptr;
        sqlite3_open(db.c_str(), &h);
        std::string setup =
            catalog.str() +
            "INSERT INTO oci_user VALUES ('f', 'f');"
            "CREATE TABLE t(a NUMBER(9,0), b VARCHAR2(20), c DATE);"
            "INSERT INTO t VALUES (1, 'x', '2026-01-01 00:00:00');"
            "INSERT INTO oci_procedure(package, name, body) VALUES "
            "('P', 'Q', 'OPEN :C FOR SELECT * FROM t WHERE a = :A; SELECT b AS O FROM t');"
            "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES"
            "('P', 'Q', 1, 'A', 'NUMBER', 'IN'), ('P', 'Q', 2, 'C', 'REF CURSOR', 'OUT'),"
            "('P', 'Q', 3, 'O', 'VARCHAR2', 'OUT');";
        if (sqlite3_exec(h, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
        sqlite3_close(h);
        OCIEnvCreate(&env, OCI_THREADED | OCI_OBJECT, nullptr, nullptr, nullptr, nullptr, 0, nullptr);
        OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
        OCIServer* srv = nullptr;
        OCISession* ses = nullptr;
        OCIHandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
        OCIHandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
        OCIHandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
        OCIServerAttach(srv, err, reinterpret_cast<const OraText*>(db.c_str()), static_cast<sb4>(db.size()),
                        0);
        OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
        OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("f"), 1, OCI_ATTR_USERNAME, err);
        OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("f"), 1, OCI_ATTR_PASSWORD, err);
        if (OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, 0) != OCI_SUCCESS) std::abort();
    }
    ~World() {
        OCIHandleFree(env, OCI_HTYPE_ENV);
        std::string cmd = "rm -rf " + dir;
        if (std::system(cmd.c_str()) != 0) return;
    }

    void run(const std::string& text) {
        OCIStmt* st = nullptr;
        OCIStmt* cur = nullptr;
        OCIHandleAlloc(env, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
        OCIHandleAlloc(env, reinterpret_cast<void**>(&cur), OCI_HTYPE_STMT, 0, nullptr);
        OCIStmtPrepare(st, err, reinterpret_cast<const OraText*>(text.data()), static_cast<ub4>(text.size()),
                       1, 0);
        // whatever markers the text has get a string, a number and a cursor to work with
        char s[32] = "7";
        int32_t n = 1;
        OCIBind* b = nullptr;
        OCIBindByName(st, &b, err, reinterpret_cast<const OraText*>("A"), 1, &n, 4, SQLT_INT, nullptr,
                      nullptr, nullptr, 0, nullptr, 0);
        OCIBindByName(st, &b, err, reinterpret_cast<const OraText*>("O"), 1, s, sizeof s, SQLT_STR, nullptr,
                      nullptr, nullptr, 0, nullptr, 0);
        OCIBindByName(st, &b, err, reinterpret_cast<const OraText*>("C"), 1, &cur, 0, SQLT_RSET, nullptr,
                      nullptr, nullptr, 0, nullptr, 0);
        ub2 type = 0;
        OCIAttrGet(st, OCI_HTYPE_STMT, &type, nullptr, OCI_ATTR_STMT_TYPE, err);
        if (OCIStmtExecute(svc, st, err, type == OCI_STMT_SELECT ? 0 : 1, 0, nullptr, nullptr, 0) ==
            OCI_SUCCESS) {
            char buf[16];
            sb2 ind[4];
            OCIDefine* d = nullptr;
            OCIStmt* q = type == OCI_STMT_SELECT ? st : cur;
            OCIDefineByPos(q, &d, err, 1, buf, 4, SQLT_STR, ind, nullptr, nullptr, 0);
            OCIDefineArrayOfStruct(d, err, 4, 2, 0, 0);  // up to 4 rows of 4 bytes
            OCIStmtFetch(q, err, 3, OCI_FETCH_NEXT, 0);
        }
        OCITransRollback(svc, err, 0);
        OCIHandleFree(cur, OCI_HTYPE_STMT);
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (char& c : text)
        if (c == 0) c = ' ';
    world.run(text);
    world.run("begin " + text + " end;");
    world.run("begin P.Q(" + text + "); end;");

    OCINumber num;
    OCINumberFromText(world.err, reinterpret_cast<const OraText*>(text.data()), static_cast<ub4>(text.size()),
                      nullptr, 0, nullptr, 0, &num);
    if (size >= 1 && size <= 22) {
        std::memset(&num, 0, sizeof num);
        std::memcpy(&num, data, size);
        OraText buf[64];
        ub4 len = sizeof buf;
        OCINumberToText(world.err, &num, nullptr, 0, nullptr, 0, &len, buf);
    }
    OCIDateTime* dt = nullptr;
    OCIDescriptorAlloc(world.env, reinterpret_cast<void**>(&dt), OCI_DTYPE_TIMESTAMP, 0, nullptr);
    size_t half = size / 2;
    OCIDateTimeFromText(world.env, world.err, data, half, data + half,
                        static_cast<ub1>(std::min<size_t>(size - half, 255)), nullptr, 0, dt);
    OCIDescriptorFree(dt, OCI_DTYPE_TIMESTAMP);
    // the describer on text SQLite might refuse, as a view or subquery text could hold
    if (auto* svc = oci::handleAs<oci::SvcCtx>(world.svc, OCI_HTYPE_SVCCTX); svc && svc->session)
        oci::describeSelectList(*svc->session, text);
    oci::DateParts p;
    oci::parseDateText(text, p);
    oci::parseDeclaredType(text, false);
    return 0;
}
