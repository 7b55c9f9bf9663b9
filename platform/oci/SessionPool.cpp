// Session pools of the stand-in client: a pool names a server; every session taken from it is an
// ordinary logon with the credentials of the authentication handle the taker passes, and
// releasing it logs off. At most the pool's maximum of sessions are out at once (ORA-24418).
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

struct SessionPool : Handle {
    SessionPool() : Handle(OCI_HTYPE_SPOOL) {}
    ~SessionPool() override;
    std::string connect;  // in the client's code page, as given
    std::string name;
    ub4 max = 0;
    ub4 out = 0;
    bool created = false;
};

namespace {

struct PoolRegistry {
    std::mutex lock;
    std::map<std::string, SessionPool*> byName;
    std::map<SvcCtx*, SessionPool*> sessions;  // each session out, with its pool
    unsigned long next = 0;
};

PoolRegistry& Registry() {
    static PoolRegistry r;
    return r;
}

std::string textOf(const OraText* p, ub4 len) {
    if (!p) return std::string();
    const char* c = reinterpret_cast<const char*>(p);
    return len > 0 ? std::string(c, len) : std::string(c);
}

}  // namespace

SessionPool::~SessionPool() {
    auto& r = Registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (created) r.byName.erase(name);
    for (auto it = r.sessions.begin(); it != r.sessions.end();)
        it = it->second == this ? r.sessions.erase(it) : std::next(it);
}

Handle* newSessionPool() {
    return new SessionPool();
}

}  // namespace oci

using namespace oci;

sword OCISessionPoolCreate(OCIEnv* envhp, OCIError* errhp, OCISPool* spoolhp, OraText** poolName,
                           ub4* poolNameLen, const OraText* connStr, ub4 connStrLen, ub4, ub4 sessMax, ub4,
                           OraText*, ub4, OraText*, ub4, ub4) {
    auto* env = handleAs<Env>(envhp, OCI_HTYPE_ENV);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* pool = handleAs<SessionPool>(spoolhp, OCI_HTYPE_SPOOL);
    if (!env || !err || !pool || !poolName || !poolNameLen) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        const std::string connect = textOf(connStr, connStrLen);
        // The server must be known now, as a real pool opens its first sessions at once.
        void* probe = nullptr;
        if (OCIHandleAlloc(envhp, &probe, OCI_HTYPE_SERVER, 0, nullptr) != OCI_SUCCESS) raise(24415);
        const sword attached = OCIServerAttach(static_cast<OCIServer*>(probe), errhp, connStr,
                                               static_cast<sb4>(connStrLen), OCI_DEFAULT);
        if (attached != OCI_SUCCESS) {
            sb4 code = 0;
            char text[512] = {};
            OCIErrorGet(errhp, 1, nullptr, &code, reinterpret_cast<OraText*>(text), sizeof text,
                        OCI_HTYPE_ERROR);
            OCIHandleFree(probe, OCI_HTYPE_SERVER);
            raise(code ? code : 12154);
        }
        OCIServerDetach(static_cast<OCIServer*>(probe), errhp, OCI_DEFAULT);
        OCIHandleFree(probe, OCI_HTYPE_SERVER);
        auto& r = Registry();
        std::lock_guard<std::mutex> g(r.lock);
        if (pool->created) r.byName.erase(pool->name);
        pool->connect = connect;
        pool->max = sessMax == 0 ? 1 : sessMax;
        pool->name = "SPOOL$" + std::to_string(++r.next);
        pool->created = true;
        r.byName[pool->name] = pool;
        *poolName = reinterpret_cast<OraText*>(pool->name.data());
        *poolNameLen = static_cast<ub4>(pool->name.size());
        return OCI_SUCCESS;
    });
}

sword OCISessionPoolDestroy(OCISPool* spoolhp, OCIError* errhp, ub4) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* pool = handleAs<SessionPool>(spoolhp, OCI_HTYPE_SPOOL);
    if (!err || !pool) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        auto& r = Registry();
        std::lock_guard<std::mutex> g(r.lock);
        if (pool->created) r.byName.erase(pool->name);
        pool->created = false;
        return OCI_SUCCESS;
    });
}

sword OCISessionGet(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, void* authInfop, const OraText* dbName,
                    ub4 dbName_len, const OraText*, ub4, OraText**, ub4*, boolean* found, ub4 mode) {
    auto* env = handleAs<Env>(envhp, OCI_HTYPE_ENV);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    auto* auth = handleAs<Session>(authInfop, OCI_HTYPE_AUTHINFO);
    if (!env || !err || !svchp || !auth) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!(mode & OCI_SESSGET_SPOOL)) raise(3001);
        auto& r = Registry();
        SessionPool* pool = nullptr;
        std::string connect;
        {
            std::lock_guard<std::mutex> g(r.lock);
            auto it = r.byName.find(textOf(dbName, dbName_len));
            if (it == r.byName.end()) raise(24404, "connection pool does not exist");
            pool = it->second;
            if (pool->out >= pool->max) raise(24418, "Cannot open further sessions.");
            ++pool->out;
            connect = pool->connect;
        }
        void* svc = nullptr;
        void* server = nullptr;
        void* session = nullptr;
        auto undo = [&] {
            if (session) OCIHandleFree(session, OCI_HTYPE_SESSION);
            if (server) OCIHandleFree(server, OCI_HTYPE_SERVER);
            if (svc) OCIHandleFree(svc, OCI_HTYPE_SVCCTX);
            std::lock_guard<std::mutex> g(r.lock);
            if (findHandle(pool)) --pool->out;
        };
        sb4 code = 0;
        auto check = [&](sword status) {
            if (status == OCI_SUCCESS) return;
            char text[512] = {};
            OCIErrorGet(errhp, 1, nullptr, &code, reinterpret_cast<OraText*>(text), sizeof text,
                        OCI_HTYPE_ERROR);
            undo();
            raise(code ? code : 1017, text);
        };
        check(OCIHandleAlloc(envhp, &svc, OCI_HTYPE_SVCCTX, 0, nullptr));
        check(OCIHandleAlloc(envhp, &server, OCI_HTYPE_SERVER, 0, nullptr));
        check(OCIHandleAlloc(envhp, &session, OCI_HTYPE_SESSION, 0, nullptr));
        auto* se = handleAs<Session>(session, OCI_HTYPE_SESSION);
        se->user = auth->user;
        se->password = auth->password;
        se->userAnsi = auth->userAnsi;
        check(OCIServerAttach(static_cast<OCIServer*>(server), errhp,
                              reinterpret_cast<const OraText*>(connect.data()),
                              static_cast<sb4>(connect.size()), OCI_DEFAULT));
        check(OCIAttrSet(svc, OCI_HTYPE_SVCCTX, server, 0, OCI_ATTR_SERVER, errhp));
        check(OCISessionBegin(static_cast<OCISvcCtx*>(svc), errhp, static_cast<OCISession*>(session),
                              OCI_CRED_RDBMS, OCI_DEFAULT));
        check(OCIAttrSet(svc, OCI_HTYPE_SVCCTX, session, 0, OCI_ATTR_SESSION, errhp));
        {
            std::lock_guard<std::mutex> g(r.lock);
            r.sessions[static_cast<SvcCtx*>(svc)] = pool;
        }
        if (found) *found = 0;
        *svchp = static_cast<OCISvcCtx*>(svc);
        return OCI_SUCCESS;
    });
}

sword OCISessionRelease(OCISvcCtx* svchp, OCIError* errhp, const OraText*, ub4, ub4) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!svc || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        auto& r = Registry();
        {
            std::lock_guard<std::mutex> g(r.lock);
            auto it = r.sessions.find(svc);
            if (it == r.sessions.end()) raise(24415, "Missing or invalid pool session");
            if (findHandle(it->second) && it->second->out > 0) --it->second->out;
            r.sessions.erase(it);
        }
        // Logs off and frees the service context OCISessionGet made: it is no longer the caller's.
        Session* se = svc->session && findHandle(svc->session) ? svc->session : nullptr;
        Server* sv = svc->server && findHandle(svc->server) ? svc->server : nullptr;
        if (se) {
            se->end();
            freeHandle(se);
        }
        if (sv) freeHandle(sv);
        svc->session = nullptr;
        svc->server = nullptr;
        freeHandle(svc);
        return OCI_SUCCESS;
    });
}
