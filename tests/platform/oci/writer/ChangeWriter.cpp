// A second process for the change-notification tests: logs on to a stand-in database as qel and
// runs each argument as one statement ("COMMIT" and "ROLLBACK" end the transaction).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/oci/oci.h"

namespace {

OCIError* err = nullptr;

int fail(const char* what) {
    OraText buf[1024] = {0};
    sb4 code = 0;
    OCIErrorGet(err, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR);
    std::fprintf(stderr, "%s: %s\n", what, reinterpret_cast<char*>(buf));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <database> <statement>...\n", argv[0]);
        return 2;
    }
    OCIEnv* env = nullptr;
    OCIServer* srv = nullptr;
    OCISvcCtx* svc = nullptr;
    OCISession* ses = nullptr;
    if (OCIEnvCreate(&env, OCI_THREADED, nullptr, nullptr, nullptr, nullptr, 0, nullptr) != OCI_SUCCESS)
        return 1;
    OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
    OCIHandleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
    const std::string db = argv[1];
    if (OCIServerAttach(srv, err, reinterpret_cast<const OraText*>(db.c_str()), static_cast<sb4>(db.size()),
                        0))
        return fail("attach");
    OCIAttrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("qel"), 3, OCI_ATTR_USERNAME, err);
    OCIAttrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("secret"), 6, OCI_ATTR_PASSWORD, err);
    if (OCISessionBegin(svc, err, ses, OCI_CRED_RDBMS, OCI_DEFAULT)) return fail("logon");
    OCIAttrSet(svc, OCI_HTYPE_SVCCTX, ses, 0, OCI_ATTR_SESSION, err);
    for (int i = 2; i < argc; ++i) {
        const std::string sql = argv[i];
        if (sql == "COMMIT") {
            if (OCITransCommit(svc, err, OCI_DEFAULT)) return fail("commit");
            continue;
        }
        if (sql == "ROLLBACK") {
            if (OCITransRollback(svc, err, OCI_DEFAULT)) return fail("rollback");
            continue;
        }
        OCIStmt* st = nullptr;
        OCIHandleAlloc(env, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
        if (OCIStmtPrepare(st, err, reinterpret_cast<const OraText*>(sql.c_str()),
                           static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT) ||
            OCIStmtExecute(svc, st, err, 1, 0, nullptr, nullptr, OCI_DEFAULT))
            return fail(sql.c_str());
        OCIHandleFree(st, OCI_HTYPE_STMT);
    }
    OCISessionEnd(svc, err, ses, OCI_DEFAULT);
    OCIServerDetach(srv, err, OCI_DEFAULT);
    OCIHandleFree(env, OCI_HTYPE_ENV);
    return 0;
}
