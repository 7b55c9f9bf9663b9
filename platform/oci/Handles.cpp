// Handle registry, environment, handles, descriptors, attributes and error records.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "platform/oci/Changes.h"
#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

namespace {

std::mutex& registryLock() {
    static std::mutex m;
    return m;
}
std::unordered_set<const void*>& registry() {
    static std::unordered_set<const void*> r;
    return r;
}

}  // namespace

void registerHandle(Handle* h, Handle* parent) {
    std::lock_guard<std::mutex> g(registryLock());
    registry().insert(h);
    h->parent = parent;
    if (parent) {
        parent->children.push_back(h);
        h->env = parent->type == OCI_HTYPE_ENV ? static_cast<Env*>(parent) : parent->env;
    }
}

Handle* findHandle(const void* p) {
    if (!p) return nullptr;
    std::lock_guard<std::mutex> g(registryLock());
    return registry().count(p) ? static_cast<Handle*>(const_cast<void*>(p)) : nullptr;
}

void freeHandle(Handle* h) {
    std::vector<Handle*> kids;
    {
        std::lock_guard<std::mutex> g(registryLock());
        if (!registry().count(h)) return;
        kids = h->children;
    }
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) freeHandle(*it);
    {
        std::lock_guard<std::mutex> g(registryLock());
        registry().erase(h);
        if (Handle* p = h->parent) {
            auto& c = p->children;
            c.erase(std::remove(c.begin(), c.end(), h), c.end());
            if (p->type == OCI_DTYPE_PARAM) {
                auto& items = static_cast<Param*>(p)->items;
                items.erase(std::remove(items.begin(), items.end(), h), items.end());
            } else if (p->type == OCI_HTYPE_DESCRIBE && static_cast<Describe*>(p)->root == h) {
                static_cast<Describe*>(p)->root = nullptr;
            } else if (p->type == OCI_HTYPE_STMT) {
                auto* st = static_cast<Stmt*>(p);
                st->binds.erase(std::remove(st->binds.begin(), st->binds.end(), h), st->binds.end());
                st->defines.erase(std::remove(st->defines.begin(), st->defines.end(), h), st->defines.end());
            }
        }
    }
    delete h;
}

void Error::set(sb4 c, const std::string& utf8Text) {
    char head[32];
    std::snprintf(head, sizeof head, "ORA-%05d: ", static_cast<int>(c));
    std::lock_guard<std::mutex> g(lock);
    code = c;
    text = head + utf8ToAnsi(utf8Text) + "\n";
}

void Error::clear() {
    std::lock_guard<std::mutex> g(lock);
    code = 0;
    text.clear();
}

SvcCtx::~SvcCtx() {
    if (session && findHandle(session) && session->svc == this) session->svc = nullptr;
}

void Stmt::reset() {
    cursor.reset();
    columns.clear();
    described = false;
    pos = 0;
    rowCount = 0;
    state = OCI_STMT_STATE_INITIALIZED;
    hasRowid = false;
}

Param* newParam(Handle* parent) {
    auto* p = new Param();
    registerHandle(p, parent);
    return p;
}

Param* columnParam(Handle* parent, const Column& c) {
    Param* p = newParam(parent);
    p->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_COL);
    p->setText(OCI_ATTR_NAME, utf8ToAnsi(c.name));
    p->setInt(OCI_ATTR_DATA_TYPE, 2, c.type.type);
    p->setInt(OCI_ATTR_DATA_SIZE, 2, c.type.size);
    p->setInt(OCI_ATTR_DISP_SIZE, 4, c.type.size);
    p->setInt(OCI_ATTR_PRECISION, 2, c.type.precision);
    p->setInt(OCI_ATTR_SCALE, 1, c.type.scale);
    p->setInt(OCI_ATTR_IS_NULL, 1, c.nullable ? 1 : 0);
    bool chars = c.type.type == SQLT_CHR || c.type.type == SQLT_AFC;
    p->setInt(OCI_ATTR_CHARSET_FORM, 1, c.type.charsetForm);
    p->setInt(OCI_ATTR_CHAR_SIZE, 2, chars ? c.type.size : 0);
    p->setInt(OCI_ATTR_FSPRECISION, 1, c.type.fsprecision);
    p->setInt(OCI_ATTR_LFPRECISION, 1, 0);
    p->setText(OCI_ATTR_TYPE_NAME, utf8ToAnsi(c.typeName));
    p->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(c.typeSchema));
    return p;
}

namespace {

void putInt(void* attributep, ub4* sizep, int width, int64_t v) {
    switch (width) {
        case 1: {
            ub1 x = static_cast<ub1>(v);
            std::memcpy(attributep, &x, 1);
            break;
        }
        case 2: {
            ub2 x = static_cast<ub2>(v);
            std::memcpy(attributep, &x, 2);
            break;
        }
        default: {
            ub4 x = static_cast<ub4>(v);
            std::memcpy(attributep, &x, 4);
            width = 4;
        }
    }
    if (sizep) *sizep = static_cast<ub4>(width);
}

void putPtr(void* attributep, ub4* sizep, const void* p) {
    std::memcpy(attributep, &p, sizeof p);
    if (sizep) *sizep = sizeof p;
}

std::string attrText(const void* attributep, ub4 size) {
    if (!attributep) return {};
    const char* p = static_cast<const char*>(attributep);
    size_t n = size ? size : std::strlen(p);
    return ansiToUtf8(std::string_view(p, n));
}

ub4 readU4(const void* attributep, ub4 size) {
    if (!attributep) return 0;
    if (size == 1) return *static_cast<const ub1*>(attributep);
    if (size == 2) {
        ub2 v;
        std::memcpy(&v, attributep, 2);
        return v;
    }
    ub4 v;
    std::memcpy(&v, attributep, 4);
    return v;
}

bool isDescriptorType(ub4 t) {
    return t == OCI_DTYPE_PARAM || t == OCI_DTYPE_ROWID || t == OCI_DTYPE_INTERVAL_YM ||
           t == OCI_DTYPE_INTERVAL_DS || t == OCI_DTYPE_TIMESTAMP || t == OCI_DTYPE_TIMESTAMP_TZ ||
           t == OCI_DTYPE_TIMESTAMP_LTZ || t == OCI_DTYPE_DATE || t == OCI_DTYPE_LOB || t == OCI_DTYPE_FILE ||
           t == OCI_DTYPE_XML_STREAM;
}

}  // namespace

}  // namespace oci

using namespace oci;

extern "C" {

void OCIClientVersion(sword* major_version, sword* minor_version, sword* update_num, sword* patch_num,
                      sword* port_update_num) {
    if (major_version) *major_version = 11;
    if (minor_version) *minor_version = 2;
    if (update_num) *update_num = 0;
    if (patch_num) *patch_num = 4;
    if (port_update_num) *port_update_num = 0;
}

sword OCIEnvCreate(OCIEnv** envp, ub4 mode, void*, void* (*)(void*, size_t), void* (*)(void*, void*, size_t),
                   void (*)(void*, void*), size_t, void** usrmempp) {
    if (!envp) return OCI_INVALID_HANDLE;
    *envp = nullptr;
    if (usrmempp) *usrmempp = nullptr;
    // Text crosses this library in the 8-bit code page only.
    if (mode & OCI_UTF16) return OCI_ERROR;
    auto* env = new Env();
    env->mode = mode;
    registerHandle(env, nullptr);
    *envp = reinterpret_cast<OCIEnv*>(env);
    return OCI_SUCCESS;
}

sword OCIInitialize(ub4 mode, void*, void* (*)(void*, size_t), void* (*)(void*, void*, size_t),
                    void (*)(void*, void*)) {
    return (mode & OCI_UTF16) ? OCI_ERROR : OCI_SUCCESS;
}

sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t xtramem_sz, void** usrmempp) {
    return OCIEnvCreate(envp, mode, nullptr, nullptr, nullptr, nullptr, xtramem_sz, usrmempp);
}

sword OCIHandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t, void** usrmempp) {
    if (!hndlpp) return OCI_INVALID_HANDLE;
    *hndlpp = nullptr;
    if (usrmempp) *usrmempp = nullptr;
    Env* env = handleAs<Env>(parenth, OCI_HTYPE_ENV);
    if (!env) return OCI_INVALID_HANDLE;
    Handle* h = nullptr;
    switch (type) {
        case OCI_HTYPE_ERROR:
            h = new Error();
            break;
        case OCI_HTYPE_SVCCTX:
            h = new SvcCtx();
            break;
        case OCI_HTYPE_STMT:
            h = new Stmt();
            break;
        case OCI_HTYPE_DESCRIBE:
            h = new Describe();
            break;
        case OCI_HTYPE_SERVER:
            h = new Server();
            break;
        case OCI_HTYPE_SESSION:
            h = new Session();
            break;
        case OCI_HTYPE_TRANS:
            h = new Trans();
            break;
        case OCI_HTYPE_SPOOL:
            h = newSessionPool();
            break;
        case OCI_HTYPE_SUBSCRIPTION:
            h = newSubscription();
            break;
        default:
            return OCI_INVALID_HANDLE;
    }
    registerHandle(h, env);
    *hndlpp = h;
    return OCI_SUCCESS;
}

sword OCIHandleFree(void* hndlp, ub4 type) {
    Handle* h = findHandle(hndlp);
    if (!h || h->type != type || isDescriptorType(type)) return OCI_INVALID_HANDLE;
    freeHandle(h);
    return OCI_SUCCESS;
}

sword OCIDescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t, void** usrmempp) {
    if (!descpp) return OCI_INVALID_HANDLE;
    *descpp = nullptr;
    if (usrmempp) *usrmempp = nullptr;
    Env* env = handleAs<Env>(parenth, OCI_HTYPE_ENV);
    if (!env) return OCI_INVALID_HANDLE;
    Handle* h = nullptr;
    switch (type) {
        case OCI_DTYPE_PARAM:
            h = new Param();
            break;
        case OCI_DTYPE_ROWID:
            h = new RowidDesc();
            break;
        case OCI_DTYPE_TIMESTAMP:
        case OCI_DTYPE_TIMESTAMP_TZ:
        case OCI_DTYPE_TIMESTAMP_LTZ:
        case OCI_DTYPE_DATE:
            h = new DateTimeDesc(type);
            break;
        case OCI_DTYPE_INTERVAL_YM:
        case OCI_DTYPE_INTERVAL_DS:
            h = new IntervalDesc(type);
            break;
        case OCI_DTYPE_LOB:
        case OCI_DTYPE_FILE:
            h = newLobLocator(type);
            break;
        case OCI_DTYPE_XML_STREAM:
            h = newXmlStream();
            break;
        default:
            return OCI_INVALID_HANDLE;
    }
    registerHandle(h, env);
    *descpp = h;
    return OCI_SUCCESS;
}

sword OCIDescriptorFree(void* descp, ub4 type) {
    Handle* h = findHandle(descp);
    if (!h || h->type != type || !isDescriptorType(type)) return OCI_INVALID_HANDLE;
    freeHandle(h);
    return OCI_SUCCESS;
}

sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz,
                  ub4 type) {
    if (sqlstate) std::memcpy(sqlstate, "00000", 6);
    if (type == OCI_HTYPE_ENV) return handleAs<Env>(hndlp, OCI_HTYPE_ENV) ? OCI_NO_DATA : OCI_INVALID_HANDLE;
    Error* e = handleAs<Error>(hndlp, OCI_HTYPE_ERROR);
    if (!e || type != OCI_HTYPE_ERROR) return OCI_INVALID_HANDLE;
    std::lock_guard<std::mutex> g(e->lock);
    if (recordno != 1 || e->code == 0) return OCI_NO_DATA;
    if (errcodep) *errcodep = e->code;
    if (bufp && bufsiz > 0) {
        size_t n = std::min<size_t>(e->text.size(), bufsiz - 1);
        std::memcpy(bufp, e->text.data(), n);
        bufp[n] = 0;
    }
    return OCI_SUCCESS;
}

sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
                 OCIError* errhp) {
    Handle* h = findHandle(trgthndlp);
    if (!h || h->type != trghndltyp || !attributep) return OCI_INVALID_HANDLE;
    Error* err = errhp ? handleAs<Error>(errhp, OCI_HTYPE_ERROR) : nullptr;
    return guarded(err, [&]() -> sword {
        if (isChangeHandleType(h->type) && changeAttrGet(h, attributep, sizep, attrtype)) return OCI_SUCCESS;
        switch (h->type) {
            case OCI_HTYPE_ENV:
                if (attrtype == OCI_ATTR_ENV_UTF16) return putInt(attributep, sizep, 1, 0), OCI_SUCCESS;
                break;
            case OCI_HTYPE_SVCCTX: {
                auto* svc = static_cast<SvcCtx*>(h);
                if (attrtype == OCI_ATTR_ENV) return putPtr(attributep, sizep, svc->env), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_SERVER) return putPtr(attributep, sizep, svc->server), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_SESSION) return putPtr(attributep, sizep, svc->session), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_TRANS) return putPtr(attributep, sizep, svc->trans), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_STMTCACHESIZE)
                    return putInt(attributep, sizep, 4, svc->stmtCacheSize), OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_STMT: {
                auto* st = static_cast<Stmt*>(h);
                switch (attrtype) {
                    case OCI_ATTR_STMT_TYPE:
                        return putInt(attributep, sizep, 2, st->stmtType), OCI_SUCCESS;
                    case OCI_ATTR_SQLFNCODE:
                        return putInt(attributep, sizep, 2, st->fnCode), OCI_SUCCESS;
                    case OCI_ATTR_ROW_COUNT:
                        return putInt(attributep, sizep, 4, st->rowCount), OCI_SUCCESS;
                    case OCI_ATTR_PARSE_ERROR_OFFSET:
                    case OCI_ATTR_LTYPE:  // the pre-8.1 number of the parse error offset
                        return putInt(attributep, sizep, 2, st->parseErrorOffset), OCI_SUCCESS;
                    case OCI_ATTR_STMT_STATE:
                        return putInt(attributep, sizep, 4, st->state), OCI_SUCCESS;
                    case OCI_ATTR_PARAM_COUNT:
                        return putInt(attributep, sizep, 4, st->columns.size()), OCI_SUCCESS;
                    case OCI_ATTR_PREFETCH_ROWS:
                        return putInt(attributep, sizep, 4, st->prefetchRows), OCI_SUCCESS;
                    case OCI_ATTR_PREFETCH_MEMORY:
                        return putInt(attributep, sizep, 4, st->prefetchMemory), OCI_SUCCESS;
                    case OCI_ATTR_ENV:
                        return putPtr(attributep, sizep, st->env), OCI_SUCCESS;
                    case OCI_ATTR_ROWID: {
                        auto* rd = handleAs<RowidDesc>(attributep, OCI_DTYPE_ROWID);
                        if (!rd) raise(24316, "illegal handle type");
                        if (!st->hasRowid) return OCI_NO_DATA;
                        rd->valid = true;
                        rd->object = static_cast<uint32_t>(st->rowidTable);
                        rd->file = 1;
                        rd->block = static_cast<uint32_t>(st->rowid >> 16);
                        rd->row = static_cast<uint32_t>(st->rowid & 0xFFFF);
                        return OCI_SUCCESS;
                    }
                }
                break;
            }
            case OCI_HTYPE_SERVER: {
                auto* sv = static_cast<Server*>(h);
                if (attrtype == OCI_ATTR_INTERNAL_NAME || attrtype == OCI_ATTR_EXTERNAL_NAME) {
                    const char* p = sv->internalName.c_str();
                    putPtr(attributep, sizep, p);
                    if (sizep) *sizep = static_cast<ub4>(sv->internalName.size());
                    return OCI_SUCCESS;
                }
                break;
            }
            case OCI_HTYPE_SESSION: {
                auto* se = static_cast<Session*>(h);
                if (attrtype == OCI_ATTR_USERNAME) {
                    se->userAnsi = utf8ToAnsi(se->user);
                    putPtr(attributep, sizep, se->userAnsi.c_str());
                    if (sizep) *sizep = static_cast<ub4>(se->userAnsi.size());
                    return OCI_SUCCESS;
                }
                break;
            }
            case OCI_HTYPE_DESCRIBE:
                if (attrtype == OCI_ATTR_PARAM) {
                    auto* d = static_cast<Describe*>(h);
                    if (!d->root) raise(24338, oraMessage(24338));
                    return putPtr(attributep, sizep, d->root), OCI_SUCCESS;
                }
                break;
            case OCI_HTYPE_BIND: {
                auto* b = static_cast<Bind*>(h);
                if (attrtype == OCI_ATTR_CHARSET_ID)
                    return putInt(attributep, sizep, 2, b->charsetId), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_CHARSET_FORM)
                    return putInt(attributep, sizep, 1, b->charsetForm), OCI_SUCCESS;
                break;
            }
            case OCI_DTYPE_PARAM: {
                auto* p = static_cast<Param*>(h);
                auto it = p->attrs.find(attrtype);
                if (it == p->attrs.end()) break;
                const Param::Attr& a = it->second;
                if (a.width == 0) {
                    putPtr(attributep, sizep, a.text.c_str());
                    if (sizep) *sizep = static_cast<ub4>(a.text.size());
                } else if (a.width < 0) {
                    putPtr(attributep, sizep, a.ptr);
                } else {
                    putInt(attributep, sizep, a.width, a.v);
                }
                return OCI_SUCCESS;
            }
        }
        raise(24315, "illegal attribute type");
    });
}

sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp) {
    Handle* h = findHandle(trgthndlp);
    if (!h || h->type != trghndltyp) return OCI_INVALID_HANDLE;
    Error* err = errhp ? handleAs<Error>(errhp, OCI_HTYPE_ERROR) : nullptr;
    return guarded(err, [&]() -> sword {
        if (isChangeHandleType(h->type)) return subscriptionAttrSet(h, attributep, size, attrtype);
        switch (h->type) {
            case OCI_HTYPE_SVCCTX: {
                auto* svc = static_cast<SvcCtx*>(h);
                if (attrtype == OCI_ATTR_SERVER) {
                    Server* sv = attributep ? handleAs<Server>(attributep, OCI_HTYPE_SERVER) : nullptr;
                    if (attributep && !sv) raise(24316, "illegal handle type");
                    svc->server = sv;
                    return OCI_SUCCESS;
                }
                if (attrtype == OCI_ATTR_SESSION) {
                    Session* se = attributep ? handleAs<Session>(attributep, OCI_HTYPE_SESSION) : nullptr;
                    if (attributep && !se) raise(24316, "illegal handle type");
                    svc->session = se;
                    if (se) se->svc = svc;
                    return OCI_SUCCESS;
                }
                if (attrtype == OCI_ATTR_TRANS) return svc->trans = attributep, OCI_SUCCESS;
                if (attrtype == OCI_ATTR_STMTCACHESIZE)
                    return svc->stmtCacheSize = readU4(attributep, 4), OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_SERVER: {
                auto* sv = static_cast<Server*>(h);
                if (attrtype == OCI_ATTR_INTERNAL_NAME || attrtype == OCI_ATTR_EXTERNAL_NAME)
                    return sv->internalName = attrText(attributep, size), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_FOCBK) return OCI_SUCCESS;  // failover is never simulated
                break;
            }
            case OCI_HTYPE_SESSION: {
                auto* se = static_cast<Session*>(h);
                if (attrtype == OCI_ATTR_USERNAME) return se->user = attrText(attributep, size), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_PASSWORD)
                    return se->password = attrText(attributep, size), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_CLIENT_IDENTIFIER)
                    return se->clientIdentifier = attrText(attributep, size), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_PROXY_CREDENTIALS) return OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_STMT: {
                auto* st = static_cast<Stmt*>(h);
                if (attrtype == OCI_ATTR_PREFETCH_ROWS)
                    return st->prefetchRows = readU4(attributep, 4), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_PREFETCH_MEMORY)
                    return st->prefetchMemory = readU4(attributep, 4), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_CHNF_REGHANDLE)
                    return st->changeRegistration = attributep, OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_BIND: {
                auto* b = static_cast<Bind*>(h);
                if (attrtype == OCI_ATTR_CHARSET_ID)
                    return b->charsetId = static_cast<ub2>(readU4(attributep, 2)), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_CHARSET_FORM)
                    return b->charsetForm = static_cast<ub1>(readU4(attributep, 1)), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_MAXDATA_SIZE || attrtype == OCI_ATTR_MAXCHAR_SIZE)
                    return b->maxDataSize = static_cast<sb4>(readU4(attributep, 4)), OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_DEFINE: {
                auto* d = static_cast<Define*>(h);
                if (attrtype == OCI_ATTR_CHARSET_ID)
                    return d->charsetId = static_cast<ub2>(readU4(attributep, 2)), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_CHARSET_FORM)
                    return d->charsetForm = static_cast<ub1>(readU4(attributep, 1)), OCI_SUCCESS;
                break;
            }
            case OCI_HTYPE_DESCRIBE:
                if (attrtype == OCI_ATTR_DESC_PUBLIC)
                    return static_cast<Describe*>(h)->descPublic = static_cast<ub1>(readU4(attributep, 1)),
                           OCI_SUCCESS;
                break;
            case OCI_HTYPE_TRANS: {
                auto* t = static_cast<Trans*>(h);
                if (attrtype == OCI_ATTR_TRANS_NAME) return t->name = attrText(attributep, size), OCI_SUCCESS;
                if (attrtype == OCI_ATTR_XID)
                    return t->xid.assign(static_cast<const char*>(attributep), attributep ? 140 : 0),
                           OCI_SUCCESS;
                break;
            }
        }
        raise(24315, "illegal attribute type");
    });
}

sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
    Handle* h = findHandle(hndlp);
    Error* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!h || h->type != htype || !parmdpp || !err) return OCI_INVALID_HANDLE;
    *parmdpp = nullptr;
    return guarded(err, [&]() -> sword {
        if (htype == OCI_HTYPE_STMT) {
            auto* st = static_cast<Stmt*>(h);
            if (!st->described) raise(24338);
            if (pos < 1 || pos > st->columns.size()) return OCI_NO_DATA;
            *parmdpp = columnParam(st, st->columns[pos - 1]);
            return OCI_SUCCESS;
        }
        if (htype == OCI_DTYPE_PARAM) {
            auto* p = static_cast<Param*>(h);
            if (pos < p->base || pos - p->base >= p->items.size()) return OCI_NO_DATA;
            // Every call hands out a descriptor of its own, which the caller may free: a copy of
            // the list item, so that freeing it leaves the list as it is.
            const Param* item = p->items[pos - p->base];
            Param* copy = newParam(p);
            copy->attrs = item->attrs;
            copy->items = item->items;
            copy->base = item->base;
            *parmdpp = copy;
            return OCI_SUCCESS;
        }
        raise(24316, "illegal handle type");
    });
}

}  // extern "C"
