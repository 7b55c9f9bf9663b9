// The library as the client layer meets it: built under oracle-home/lib, loaded with dlopen, entry points
// found by name, and a database made with the sqlite3 tool as the README describes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/oci/oci.h"

namespace {

struct Library {
    void* h = nullptr;
    Library() {
        h = dlopen((std::string(DX_BINARY_DIR) + "/oracle-home/lib/libclntsh.so").c_str(), RTLD_NOW);
    }
    ~Library() {
        if (h) dlclose(h);
    }
    template <class F>
    F get(const char* name) {
        return reinterpret_cast<F>(dlsym(h, name));
    }
};

}  // namespace

TEST(OciLoad, EntryPointsAreFoundByName) {
    Library lib;
    ASSERT_NE(nullptr, lib.h) << dlerror();
    for (const char* name : {"OCIClientVersion",
                             "opinit",
                             "OCIEnvCreate",
                             "OCIHandleAlloc",
                             "OCIHandleFree",
                             "OCIDescriptorAlloc",
                             "OCIDescriptorFree",
                             "OCIAttrGet",
                             "OCIAttrSet",
                             "OCIErrorGet",
                             "OCIParamGet",
                             "OCIServerAttach",
                             "OCIServerDetach",
                             "OCISessionBegin",
                             "OCISessionEnd",
                             "OCIServerVersion",
                             "OCIPing",
                             "OCIBreak",
                             "OCIStmtPrepare",
                             "OCIStmtPrepare2",
                             "OCIStmtRelease",
                             "OCIStmtExecute",
                             "OCIStmtFetch",
                             "OCIStmtFetch2",
                             "OCIBindByName",
                             "OCIBindByPos",
                             "OCIBindArrayOfStruct",
                             "OCIDefineByPos",
                             "OCIDefineArrayOfStruct",
                             "OCIDescribeAny",
                             "OCITransCommit",
                             "OCITransRollback",
                             "OCITransStart",
                             "OCITransPrepare",
                             "OCITransDetach",
                             "OCIRowidToChar",
                             "OCINumberToInt",
                             "OCINumberFromInt",
                             "OCINumberToReal",
                             "OCINumberFromReal",
                             "OCINumberToText",
                             "OCINumberFromText",
                             "OCINumberAssign",
                             "OCINumberCmp",
                             "OCIDateTimeConstruct",
                             "OCIDateTimeToText",
                             "OCIDateTimeFromText",
                             "OCIIntervalToText",
                             "OCIIntervalFromText",
                             "OCILobRead",
                             "OCILobRead2",
                             "OCILobWrite",
                             "OCILobCreateTemporary",
                             "OCILobFileOpen",
                             "OCITypeByName",
                             "OCIObjectNew",
                             "OCICollAppend",
                             "OCIObjectPin",
                             "OCIRefToHex",
                             "OCIPStreamRead"})
        EXPECT_NE(nullptr, dlsym(lib.h, name)) << name;
    // entries it does not offer are simply absent
    for (const char* name : {"olog", "OCILobCopy", "OCIObjectPinTable", "OCITransForget", "OCILdaToSvcCtx"})
        EXPECT_EQ(nullptr, dlsym(lib.h, name)) << name;
}

TEST(OciLoad, DatabaseMadeWithTheSqliteTool) {
    char tmpl[] = "/tmp/oci_home_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string home = tmpl;
    std::filesystem::create_directories(home + "/dbs");
    std::string db = home + "/dbs/DEMO.db";
    std::string src = DX_SOURCE_DIR;
    std::string cmd = "sqlite3 " + db + " < " + src + "/platform/oci/catalog.sql && sqlite3 " + db + " < " +
                      src + "/platform/oci/demo.sql";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    setenv("ORACLE_HOME", home.c_str(), 1);

    Library lib;
    ASSERT_NE(nullptr, lib.h) << dlerror();
    auto envCreate = lib.get<decltype(&OCIEnvCreate)>("OCIEnvCreate");
    auto handleAlloc = lib.get<decltype(&OCIHandleAlloc)>("OCIHandleAlloc");
    auto handleFree = lib.get<decltype(&OCIHandleFree)>("OCIHandleFree");
    auto attrSet = lib.get<decltype(&OCIAttrSet)>("OCIAttrSet");
    auto attach = lib.get<decltype(&OCIServerAttach)>("OCIServerAttach");
    auto begin = lib.get<decltype(&OCISessionBegin)>("OCISessionBegin");
    auto end = lib.get<decltype(&OCISessionEnd)>("OCISessionEnd");
    auto prepare = lib.get<decltype(&OCIStmtPrepare)>("OCIStmtPrepare");
    auto bindByName = lib.get<decltype(&OCIBindByName)>("OCIBindByName");
    auto execute = lib.get<decltype(&OCIStmtExecute)>("OCIStmtExecute");
    auto errorGet = lib.get<decltype(&OCIErrorGet)>("OCIErrorGet");

    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    OCIServer* srv = nullptr;
    OCISvcCtx* svc = nullptr;
    OCISession* ses = nullptr;
    ASSERT_EQ(OCI_SUCCESS,
              envCreate(&env, OCI_THREADED | OCI_OBJECT, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
    handleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    handleAlloc(env, reinterpret_cast<void**>(&srv), OCI_HTYPE_SERVER, 0, nullptr);
    handleAlloc(env, reinterpret_cast<void**>(&svc), OCI_HTYPE_SVCCTX, 0, nullptr);
    handleAlloc(env, reinterpret_cast<void**>(&ses), OCI_HTYPE_SESSION, 0, nullptr);
    auto text = [&] {
        OraText buf[512] = {0};
        sb4 code = 0;
        errorGet(err, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR);
        return std::string(reinterpret_cast<char*>(buf));
    };
    ASSERT_EQ(OCI_SUCCESS, attach(srv, err, reinterpret_cast<const OraText*>("DEMO"), 4, 0)) << text();
    attrSet(svc, OCI_HTYPE_SVCCTX, srv, 0, OCI_ATTR_SERVER, err);
    attrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("demo"), 4, OCI_ATTR_USERNAME, err);
    attrSet(ses, OCI_HTYPE_SESSION, const_cast<char*>("demo"), 4, OCI_ATTR_PASSWORD, err);
    ASSERT_EQ(OCI_SUCCESS, begin(svc, err, ses, OCI_CRED_RDBMS, 0)) << text();
    attrSet(svc, OCI_HTYPE_SVCCTX, ses, 0, OCI_ATTR_SESSION, err);

    OCIStmt* st = nullptr;
    handleAlloc(env, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr);
    const char* block = "begin\r  DEMO_PACK.rename_emitent(:P_ID, :P_NAME, :P_OLD_NAME);\rend;";
    ASSERT_EQ(OCI_SUCCESS, prepare(st, err, reinterpret_cast<const OraText*>(block), strlen(block), 1, 0));
    int32_t id = 7;
    char name[101] = "Emitent seven";
    char old[101] = "";
    OCIBind* b = nullptr;
    bindByName(st, &b, err, reinterpret_cast<const OraText*>("P_ID"), 4, &id, 4, SQLT_INT, nullptr, nullptr,
               nullptr, 0, nullptr, 0);
    bindByName(st, &b, err, reinterpret_cast<const OraText*>("P_NAME"), 6, name, sizeof name, SQLT_STR,
               nullptr, nullptr, nullptr, 0, nullptr, 0);
    bindByName(st, &b, err, reinterpret_cast<const OraText*>("P_OLD_NAME"), 10, old, sizeof old, SQLT_STR,
               nullptr, nullptr, nullptr, 0, nullptr, 0);
    ASSERT_EQ(OCI_SUCCESS, execute(svc, st, err, 1, 0, nullptr, nullptr, OCI_COMMIT_ON_SUCCESS)) << text();
    EXPECT_STREQ("\xDD\xEC\xE8\xF2\xE5\xED\xF2 7", old);  // "Эмитент 7" in code page 1251
    name[0] = 0;
    EXPECT_EQ(OCI_ERROR, execute(svc, st, err, 1, 0, nullptr, nullptr, 0));
    EXPECT_EQ("ORA-20001: name must not be empty\n", text());
    end(svc, err, ses, 0);
    handleFree(env, OCI_HTYPE_ENV);
    unsetenv("ORACLE_HOME");
    std::filesystem::remove_all(home);
}
