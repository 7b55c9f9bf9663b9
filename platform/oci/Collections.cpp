// Strings and collections of the stand-in's object cache: OCIString*, OCIColl* and OCITable*.
// A string is a 4-byte length, the bytes in the client code page and a zero byte; a collection keeps
// its elements in blocks of their own, so that an element's address stays valid while others are
// appended, and a nested table remembers which elements were deleted.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/oci/Changes.h"
#include "platform/oci/Guard.h"
#include "platform/oci/ObjectTypes.h"

namespace oci {

namespace {

std::mutex lock;
std::set<const void*> strings;
std::set<const void*> colls;

struct StringHead {
    ub4 len;
};

[[noreturn]] void badIndex(sb4 index, size_t size) {
    raise(22165, "given index [" + std::to_string(index) + "] must be in the range of [0] to [" +
                     std::to_string(size == 0 ? 0 : size - 1) + "]");
}

}  // namespace

// ---- strings ------------------------------------------------------------------------------------------

bool isString(const void* p) {
    std::lock_guard<std::mutex> g(lock);
    return strings.count(p) != 0;
}

OCIString* newString(const std::string& bytes) {
    auto* p = static_cast<unsigned char*>(std::malloc(sizeof(StringHead) + bytes.size() + 1));
    if (!p) throw std::bad_alloc();
    const ub4 len = static_cast<ub4>(bytes.size());
    std::memcpy(p, &len, sizeof len);
    std::memcpy(p + sizeof(StringHead), bytes.data(), bytes.size());
    p[sizeof(StringHead) + bytes.size()] = 0;
    std::lock_guard<std::mutex> g(lock);
    strings.insert(p);
    return reinterpret_cast<OCIString*>(p);
}

void freeString(OCIString* s) {
    if (!s) return;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!strings.erase(s)) return;
    }
    std::free(s);
}

// A cell the client zeroed (no string yet) reads as an empty text, as a zero length would.
std::string stringText(const OCIString* s) {
    if (!s) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    ub4 len = 0;
    std::memcpy(&len, p, sizeof len);
    if (!isString(s)) {
        if (len == 0) return {};
        raise(21710, "argument is expecting a valid memory address of an object");
    }
    return std::string(reinterpret_cast<const char*>(p + sizeof(StringHead)), len);
}

void setString(OCIString** cell, const std::string& bytes) {
    OCIString* old = nullptr;
    std::memcpy(&old, cell, sizeof old);
    OCIString* fresh = newString(bytes);
    std::memcpy(cell, &fresh, sizeof fresh);
    freeString(old);
}

// ---- collections --------------------------------------------------------------------------------------

CollBody* collOfOrNull(const void* p) {
    std::lock_guard<std::mutex> g(lock);
    return colls.count(p) ? static_cast<CollBody*>(const_cast<void*>(p)) : nullptr;
}

CollBody* collOf(const void* p) {
    CollBody* c = collOfOrNull(p);
    if (!c) raise(22806, "not an object or REF");
    return c;
}

CollBody* newColl(TypeDesc* type) {
    auto* c = new CollBody;
    c->type = type;
    std::lock_guard<std::mutex> g(lock);
    colls.insert(c);
    return c;
}

void freeColl(CollBody* c) {
    {
        std::lock_guard<std::mutex> g(lock);
        if (!colls.erase(c)) return;
    }
    for (auto& e : c->elems) clearSlot(c->type->element(), e->data.data());
    delete c;
}

void assignElement(const TypeAttr& a, const void* value, const void* valueInd, CollElem& e) {
    if (e.data.empty()) {
        e.data.assign(slotSize(a), 0);
        e.ind.assign(slotIndSize(a), 0);
        initSlot(a, e.data.data(), e.ind.data());
    }
    e.exists = true;
    if (!value) return;
    if (descriptorSlot(a)) assignDescriptorElement(a, value, valueInd, e.data.data());
    const auto* ind = static_cast<const unsigned char*>(valueInd);
    switch (a.slot) {
        case Slot::Text:
            setString(reinterpret_cast<OCIString**>(e.data.data()),
                      stringText(static_cast<const OCIString*>(value)));
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            break;
        case Slot::Ref:  // a REF comes as the OCIRef itself
            copyRef(value, *reinterpret_cast<void**>(e.data.data()));
            break;
        case Slot::Coll:
        case Slot::Object: {
            // Objects come as their instance bytes, collections as the collection itself.
            if (a.slot == Slot::Object) {
                copyInstance(a.nested, static_cast<const unsigned char*>(value), ind, e.data.data(),
                             e.ind.data());
                if (!ind) std::memset(e.ind.data(), 0, 2);
                return;
            }
            void* from = const_cast<void*>(value);
            copySlot(a, reinterpret_cast<const unsigned char*>(&from), nullptr, e.data.data(), nullptr);
            break;
        }
        default:
            std::memcpy(e.data.data(), value, slotSize(a));
            break;
    }
    sb2 v = OCI_IND_NOTNULL;
    if (ind) std::memcpy(&v, ind, sizeof v);
    std::memcpy(e.ind.data(), &v, sizeof v);
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

sb4 existing(const CollBody& c) {
    sb4 n = 0;
    for (auto& e : c.elems) n += e->exists ? 1 : 0;
    return n;
}

}  // namespace

extern "C" {

sword OCIStringAssignText(OCIEnv*, OCIError* err, const OraText* rhs, ub4 rhs_len, OCIString** lhs) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!lhs) raise(21560, "argument 5 is null, invalid, or out of range");
        setString(lhs, rhs ? std::string(reinterpret_cast<const char*>(rhs), rhs_len) : std::string());
        return OCI_SUCCESS;
    });
}

sword OCIStringAssign(OCIEnv*, OCIError* err, const OCIString* rhs, OCIString** lhs) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!lhs) raise(21560, "argument 4 is null, invalid, or out of range");
        setString(lhs, stringText(rhs));
        return OCI_SUCCESS;
    });
}

// Keeps what fits of the text; a size of 0 frees the string.
sword OCIStringResize(OCIEnv*, OCIError* err, ub4 new_size, OCIString** str) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!str) raise(21560, "argument 4 is null, invalid, or out of range");
        OCIString* old = nullptr;
        std::memcpy(&old, str, sizeof old);
        if (new_size == 0) {
            freeString(old);
            old = nullptr;
            std::memcpy(str, &old, sizeof old);
            return OCI_SUCCESS;
        }
        std::string text = stringText(old);
        if (text.size() > new_size) text.resize(new_size);
        setString(str, text);
        return OCI_SUCCESS;
    });
}

ub4 OCIStringSize(OCIEnv*, const OCIString* vs) {
    try {
        return static_cast<ub4>(stringText(vs).size());
    } catch (...) {
        return 0;
    }
}

OraText* OCIStringPtr(OCIEnv*, const OCIString* vs) {
    if (!vs || !isString(vs)) return nullptr;
    return reinterpret_cast<OraText*>(const_cast<OCIString*>(vs)) + sizeof(StringHead);
}

sword OCICollSize(OCIEnv*, OCIError* err, const OCIColl* coll, sb4* size) {
    if (!collOfOrNull(coll)) return changeCollSize(err, coll, size);
    return guarded(errorOf(err), [&]() -> sword {
        put<sb4>(size, static_cast<sb4>(collOf(coll)->elems.size()));
        return OCI_SUCCESS;
    });
}

sb4 OCICollMax(OCIEnv*, const OCIColl* coll) {
    CollBody* c = collOfOrNull(coll);
    return c && c->type->collCode == OCI_TYPECODE_VARRAY ? static_cast<sb4>(c->type->limit) : 0;
}

sword OCICollGetElem(OCIEnv*, OCIError* err, const OCIColl* coll, sb4 index, boolean* exists, void** elem,
                     void** elemind) {
    if (!collOfOrNull(coll)) return changeCollGetElem(err, coll, index, exists, elem, elemind);
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(coll);
        const bool there =
            index >= 0 && static_cast<size_t>(index) < c->elems.size() && c->elems[index]->exists;
        put<boolean>(exists, there);
        if (elem) *elem = there ? c->elems[index]->data.data() : nullptr;
        if (elemind) *elemind = there ? c->elems[index]->ind.data() : nullptr;
        return OCI_SUCCESS;
    });
}

sword OCICollAssignElem(OCIEnv*, OCIError* err, sb4 index, const void* elem, const void* elemind,
                        OCIColl* coll) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(coll);
        if (index < 0 || static_cast<size_t>(index) >= c->elems.size()) badIndex(index, c->elems.size());
        if (!elem) raise(21560, "argument 4 is null, invalid, or out of range");
        assignElement(c->type->element(), elem, elemind, *c->elems[index]);
        return OCI_SUCCESS;
    });
}

sword OCICollAppend(OCIEnv*, OCIError* err, const void* elem, const void* elemind, OCIColl* coll) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(coll);
        if (c->type->collCode == OCI_TYPECODE_VARRAY && c->elems.size() >= c->type->limit)
            raise(22165, "given index [" + std::to_string(c->elems.size()) +
                             "] must be in the range of [0] to [" +
                             std::to_string(c->type->limit ? c->type->limit - 1 : 0) + "]");
        if (!elem) raise(21560, "argument 3 is null, invalid, or out of range");
        auto e = std::make_unique<CollElem>();
        assignElement(c->type->element(), nullptr, nullptr, *e);
        try {
            assignElement(c->type->element(), elem, elemind, *e);
        } catch (...) {
            clearSlot(c->type->element(), e->data.data());  // a refused value leaves nothing behind
            throw;
        }
        c->elems.push_back(std::move(e));
        return OCI_SUCCESS;
    });
}

sword OCICollTrim(OCIEnv*, OCIError* err, sb4 trim_num, OCIColl* coll) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(coll);
        if (trim_num < 0 || static_cast<size_t>(trim_num) > c->elems.size())
            raise(22167, "given trim size [" + std::to_string(trim_num) +
                             "] must be less than or equal to [" + std::to_string(c->elems.size()) + "]");
        for (sb4 k = 0; k < trim_num; ++k) {
            clearSlot(c->type->element(), c->elems.back()->data.data());
            c->elems.pop_back();
        }
        return OCI_SUCCESS;
    });
}

sword OCICollAssign(OCIEnv*, OCIError* err, const OCIColl* rhs, OCIColl* lhs) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* from = collOf(rhs);
        CollBody* to = collOf(lhs);
        if (from == to) return OCI_SUCCESS;
        TypeAttr a;
        a.slot = Slot::Coll;
        a.nested = to->type;
        void* src = from;
        void* dst = to;
        copySlot(a, reinterpret_cast<const unsigned char*>(&src), nullptr,
                 reinterpret_cast<unsigned char*>(&dst), nullptr);
        return OCI_SUCCESS;
    });
}

sword OCITableSize(OCIEnv*, OCIError* err, const OCITable* tbl, sb4* size) {
    return guarded(errorOf(err), [&]() -> sword {
        put<sb4>(size, existing(*collOf(tbl)));
        return OCI_SUCCESS;
    });
}

sword OCITableDelete(OCIEnv*, OCIError* err, sb4 index, OCITable* tbl) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(tbl);
        if (c->type->collCode != OCI_TYPECODE_TABLE) raise(22808, "the operation is not allowed on a VARRAY");
        if (index < 0 || static_cast<size_t>(index) >= c->elems.size() || !c->elems[index]->exists)
            raise(22160, "element at index [" + std::to_string(index) + "] does not exist");
        CollElem& e = *c->elems[index];
        clearSlot(c->type->element(), e.data.data());
        initSlot(c->type->element(), e.data.data(), e.ind.data());
        e.exists = false;
        return OCI_SUCCESS;
    });
}

sword OCITableExists(OCIEnv*, OCIError* err, const OCITable* tbl, sb4 index, boolean* exists) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(tbl);
        put<boolean>(exists,
                     index >= 0 && static_cast<size_t>(index) < c->elems.size() && c->elems[index]->exists);
        return OCI_SUCCESS;
    });
}

// The first element after index that was not deleted.
sword OCITableNext(OCIEnv*, OCIError* err, sb4 index, const OCITable* tbl, sb4* next_index, boolean* exists) {
    return guarded(errorOf(err), [&]() -> sword {
        CollBody* c = collOf(tbl);
        for (size_t k = index < 0 ? 0 : static_cast<size_t>(index) + 1; k < c->elems.size(); ++k) {
            if (!c->elems[k]->exists) continue;
            put<sb4>(next_index, static_cast<sb4>(k));
            put<boolean>(exists, true);
            return OCI_SUCCESS;
        }
        put<boolean>(exists, false);
        return OCI_SUCCESS;
    });
}

}  // extern "C"
