// XMLTYPE in the stand-in server: the built-in opaque type SYS.XMLTYPE, whose values the database
// keeps as their text; XMLTYPE instances in the client's object cache; instances made from an
// OCIString or a CLOB; and the read stream (descriptor 74) through which the client reads an
// instance's text.
#include <cstring>
#include <map>
#include <mutex>

#include "platform/oci/Guard.h"
#include "platform/oci/ObjectTypes.h"

namespace oci {

namespace {

struct XmlBody {
    std::string text;  // UTF-8
    sb2 ind = OCI_IND_NULL;
};

std::mutex xmlLock;
std::map<const void*, std::unique_ptr<XmlBody>> xmls;

XmlBody* xmlOf(const void* p) {
    std::lock_guard<std::mutex> g(xmlLock);
    auto it = xmls.find(p);
    return it == xmls.end() ? nullptr : it->second.get();
}

// Oracle parses what becomes an XMLTYPE: it must be a well-formed document.
void checkDocument(const std::string& text) {
    checkXmlDocument(text);
}

struct XmlStream : Handle {
    XmlStream() : Handle(OCI_DTYPE_XML_STREAM) {}
    std::string bytes;  // client code page
    size_t pos = 0;
    bool open = false;
};

void fnXml(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const std::string text = p ? p : "";
    try {
        checkDocument(text);
    } catch (const OraException& e) {
        static_cast<Session*>(sqlite3_user_data(ctx))->pendingRaise =
            std::make_pair(e.code(), std::string(e.what()));
        return sqlite3_result_error(ctx, e.what(), -1);
    }
    sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void fnXmlText(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, argv[0]);
}

}  // namespace

TypeDesc* xmlType() {
    static TypeDesc* t = [] {
        auto* d = new TypeDesc;
        d->schema = "SYS";
        d->name = "XMLTYPE";
        d->code = OCI_TYPECODE_OPAQUE;
        d->final = true;
        return d;
    }();
    return t;
}

void* newXml(const Value& text) {
    auto body = std::make_unique<XmlBody>();
    if (!text.isNull()) {
        body->text = text.kind == Value::Text ? text.s : std::string();
        body->ind = OCI_IND_NOTNULL;
    }
    void* p = body.get();
    std::lock_guard<std::mutex> g(xmlLock);
    xmls.emplace(p, std::move(body));
    return p;
}

void setXmlText(void* p, const Value& text) {
    XmlBody* x = xmlOf(p);
    if (!x) raise(21710, "argument is expecting a valid memory address of an object");
    x->text = text.isNull() || text.kind != Value::Text ? std::string() : text.s;
    x->ind = text.isNull() ? OCI_IND_NULL : OCI_IND_NOTNULL;
}

bool isXml(const void* p) {
    return xmlOf(p) != nullptr;
}

bool freeXml(void* p) {
    std::unique_ptr<XmlBody> body;
    std::lock_guard<std::mutex> g(xmlLock);
    auto it = xmls.find(p);
    if (it == xmls.end()) return false;
    body = std::move(it->second);
    xmls.erase(it);
    return true;
}

sb2* xmlIndicator(void* p) {
    XmlBody* x = xmlOf(p);
    return x ? &x->ind : nullptr;
}

Value xmlValue(const void* p, const void* ind) {
    XmlBody* x = xmlOf(p);
    if (!x) return Value::null();
    sb2 i = x->ind;
    if (ind) std::memcpy(&i, ind, sizeof i);
    if (i != OCI_IND_NOTNULL || x->ind != OCI_IND_NOTNULL) return Value::null();
    return Value::ofText(x->text);
}

void registerXmlFunctions(Session& s) {
    sqlite3* db = s.db;
    sqlite3_create_function(db, "oci_xml", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, &s, fnXml, nullptr,
                            nullptr);
    sqlite3_create_function(db, "oci_xmlclob", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnXmlText,
                            nullptr, nullptr);
    sqlite3_create_function(db, "oci_xmlstr", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, fnXmlText,
                            nullptr, nullptr);
    registerXmlPathFunctions(s);
}

Handle* newXmlStream() {
    return new XmlStream();
}

}  // namespace oci

using namespace oci;

namespace {

Error* errorOf(OCIError* errhp) {
    return handleAs<Error>(errhp, OCI_HTYPE_ERROR);
}

void checkSession(OCISvcCtx* svchp) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    if (!svc) raise(24316, "illegal handle type");
    if (!svc->session || !findHandle(svc->session)) raise(3114);
    svc->session->ensureAlive();
}

XmlStream* streamOf(void* stream) {
    auto* st = handleAs<XmlStream>(stream, OCI_DTYPE_XML_STREAM);
    if (!st) raise(21560, "argument 2 is null, invalid, or out of range");
    return st;
}

}  // namespace

extern "C" {

sword OCIXMLTypeNew(OCISvcCtx* svchp, OCIError* errhp, OCIDuration, OraText*, ub4, OraText*, ub4,
                    void** retInstance) {
    return guarded(errorOf(errhp), [&]() -> sword {
        if (!retInstance) raise(21560, "argument 8 is null, invalid, or out of range");
        checkSession(svchp);
        *retInstance = newXml(Value::null());
        return OCI_SUCCESS;
    });
}

sword OCIXMLTypeCreateFromSrc(OCISvcCtx* svchp, OCIError* errhp, OCIDuration, ub1 src_type, void* src_ptr,
                              sb4, void** retInstance) {
    return guarded(errorOf(errhp), [&]() -> sword {
        if (!retInstance || !src_ptr) raise(21560, "argument 5 is null, invalid, or out of range");
        checkSession(svchp);
        std::string text;
        if (src_type == OCI_XMLTYPE_CREATE_OCISTRING) {
            if (!isString(src_ptr)) raise(21560, "argument 5 is null, invalid, or out of range");
            text = ansiToUtf8(stringText(static_cast<const OCIString*>(src_ptr)));
        } else if (src_type == OCI_XMLTYPE_CREATE_CLOB) {
            Value v = locatorValue(reinterpret_cast<const char*>(&src_ptr), SQLT_CLOB);
            text = v.isNull() ? std::string() : v.s;
        } else {
            raise(21560, "argument 4 is null, invalid, or out of range");
        }
        checkDocument(text);
        *retInstance = newXml(Value::ofText(text));
        return OCI_SUCCESS;
    });
}

sword OCIPStreamFromXMLType(OCIError* errhp, void* stream, void* xmltype, ub4) {
    return guarded(errorOf(errhp), [&]() -> sword {
        XmlStream* st = streamOf(stream);
        XmlBody* x = xmltype ? xmlOf(xmltype) : nullptr;
        if (!x) raise(21710, "argument is expecting a valid memory address of an object");
        if (x->ind != OCI_IND_NOTNULL) raise(30625, "method dispatch on NULL SELF argument is disallowed");
        st->bytes = utf8ToAnsi(x->text);
        st->pos = 0;
        st->open = true;
        return OCI_SUCCESS;
    });
}

sword OCIPStreamRead(OCIError* errhp, void* stream, void* buf, ub8* amount, ub4) {
    return guarded(errorOf(errhp), [&]() -> sword {
        XmlStream* st = streamOf(stream);
        if (!buf || !amount) raise(21560, "argument 3 is null, invalid, or out of range");
        if (!st->open) raise(22289, "cannot perform operation on an unopened file or LOB");
        const size_t n = std::min<size_t>(static_cast<size_t>(*amount), st->bytes.size() - st->pos);
        std::memcpy(buf, st->bytes.data() + st->pos, n);
        st->pos += n;
        *amount = n;
        return OCI_SUCCESS;
    });
}

sword OCIPStreamClose(OCIError* errhp, void* stream) {
    return guarded(errorOf(errhp), [&]() -> sword {
        XmlStream* st = streamOf(stream);
        st->bytes.clear();
        st->pos = 0;
        st->open = false;
        return OCI_SUCCESS;
    });
}

}  // extern "C"
