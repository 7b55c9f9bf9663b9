// REF and XMLTYPE values, and the object-cache calls of object values (unpin, flush, marks).
#include <cstring>
#include <memory>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraError.h"
#include "dataaccess/oracle/OraObjects.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// The object cache

void TOraObject::Unpin() {
    CheckNotCached();
    if (!GetInstance()) return;
    Check(OCIObjectUnpin(hEnv, hError, GetInstance()));
}

void TOraObject::Flush() {
    CheckNotCached();
    CheckAlloc(true);
    Check(OCIObjectFlush(hEnv, hError, GetInstance()));
}

void TOraObject::MarkDelete() {
    CheckNotCached();
    CheckAlloc(true);
    Check(OCIObjectMarkDelete(hEnv, hError, GetInstance()));
}

void TOraObject::MarkUpdate() {
    CheckNotCached();
    CheckAlloc(true);
    Check(OCIObjectMarkUpdate(hEnv, hError, GetInstance()));
}

// ---------------------------------------------------------------------------------------------
// REF values

TOraRef::TOraRef(TOraType* objectType) : TOraObject(objectType) {}

TOraRef::~TOraRef() {
    LetGo();
    FreeRef();
}

void TOraRef::LetGo() {
    if (pinned_ && GetInstance() && !Cached) OCIObjectUnpin(hEnv, hError, GetInstance());
    pinned_ = false;
    FreeObject(true);
}

void TOraRef::FreeRef() {
    if (ref_ && ownsRef_) OCIObjectFree(hEnv, hError, ref_, OCI_OBJECTFREE_FORCE);
    ref_ = nullptr;
    ownsRef_ = false;
}

void TOraRef::SetOCIRef(OCIRef* value) {
    if (value == ref_) return;
    LetGo();
    FreeRef();
    ref_ = value;
    InvalidRef = false;
}

bool TOraRef::RefIsNull() {
    return !ref_ || OCIRefIsNull(hEnv, ref_);
}

void TOraRef::Clear() {
    if (!ref_) return;
    OCIRefClear(hEnv, ref_);
    LetGo();
    InvalidRef = false;
    if (Owner) Owner->ChildRefChanged(this, true);
}

void TOraRef::TakeCellRef(void* cell, bool pin) {
    OCIRef* value = nullptr;
    if (cell) std::memcpy(&value, cell, sizeof value);
    if (value != ref_) {
        SetOCIRef(value);
        ownsRef_ = false;
    }
    if (pin && !GetInstance() && !GetIsNull()) Pin();
}

bool TOraRef::GetIsNull() {
    return !ref_ || RefIsNull() || InvalidRef;
}

void TOraRef::SetIsNull(bool value) {
    if (value) Clear();
}

void TOraRef::Pin() {
    rtl::Assert(GetInstance() == nullptr, "Assertion failure");
    if (GetIsNull()) RaiseError("OCIRef is not assigned");
    CheckNotCached();
    void* target = nullptr;
    if (OCIObjectPin(hEnv, hError, ref_, nullptr, OCI_PIN_ANY, OCI_DURATION_SESSION, OCI_LOCK_NONE,
                     &target) != OCI_SUCCESS) {
        InvalidRef = true;  // the target is gone: the REF reads as null from now on
        return;
    }
    StoreInstance(target);
    pinned_ = true;
    if (!GetIndicator()) {
        void* ind = nullptr;
        Check(OCIObjectGetInd(hEnv, hError, target, &ind));
        SetIndicator(ind);
    }
}

void TOraRef::Unpin() {
    TOraObject::Unpin();
    pinned_ = false;
    FreeObject(true);
}

void TOraRef::Assign(TOraObject* source) {
    auto* ref = dynamic_cast<TOraRef*>(source);
    if (!ref) {
        TOraObject::Assign(source);
        return;
    }
    if (ref == this) return;
    if (ref->RefIsNull()) {
        Clear();
        return;
    }
    if (Owner) {
        LetGo();
        Owner->ChildRefAssign(this, ref->GetOCIRef());
        InvalidRef = false;
        return;
    }
    OCIRef* copy = ownsRef_ ? ref_ : nullptr;
    Check(OCIRefAssign(hEnv, hError, ref->GetOCIRef(), &copy));
    if (copy != ref_) {
        LetGo();
        FreeRef();
        ref_ = copy;
    }
    ownsRef_ = true;
    InvalidRef = false;
}

void TOraRef::GetAsHex(AnsiString& s) {
    s.clear();
    if (!ref_) return;
    std::vector<char> buffer(OCI_REFHEX_MAX);
    ub4 length = OCI_REFHEX_MAX;
    Check(OCIRefToHex(hEnv, hError, ref_, reinterpret_cast<OraText*>(buffer.data()), &length));
    s.assign(buffer.data(), length);
}

// ---------------------------------------------------------------------------------------------
// XMLTYPE values

namespace {

const char* const SXmlType = "Type of object must be XML";

}  // namespace

TOraXML::TOraXML(TOraType* objectType) {
    if (objectType && objectType->DataType != dtXML) RaiseError(SXmlType);
    SetObjectType(objectType);
}

TOraXML::~TOraXML() {
    try {
        FreeObject(true);
    } catch (...) {
        // a stream that fails to close must not end the program
    }
}

void TOraXML::CheckType() {
    if (TOraType* type = GetObjectType()) {
        if (type->DataType != dtXML) RaiseError(SXmlType);
        return;
    }
    // Without a session the value is text only; the type is found when it goes to the server.
    if (!SvcCtx) return;
    // Setting the type lets any instance go; the text stays.
    const std::string text = cacheValue_;
    const bool hadText = hasText_;
    TOraType* type = ObjectTypesExist() ? ObjectTypes().FindType(SvcCtx, "SYS.XMLTYPE") : nullptr;
    if (type) {
        SetObjectType(type);
    } else {
        type = new TOraType(SvcCtx, "SYS.XMLTYPE");
        SetObjectType(type);
        type->Release();
    }
    cacheValue_ = text;
    hasText_ = hadText;
}

bool TOraXML::GetIsNull() {
    return !hasText_;
}

void TOraXML::SetIsNull(bool value) {
    if (!value) return;  // a value keeps its text: only its absence makes it null
    FreeObjects();
    xmlInd_ = -1;
    cacheValue_.clear();
    hasText_ = false;
}

bool TOraXML::IsXMLNull() {
    return xmlInd_ != 0 && !GetInstance();
}

void** TOraXML::GetIndicatorPtr() {
    if (xmlInd_ == 0) return &xmlIndPtr_;
    return TOraObject::GetIndicatorPtr();
}

void TOraXML::AllocObject(const AnsiString& typeName) {
    if (NormalizeObjectName(typeName) != "\"SYS\".\"XMLTYPE\"") RaiseError(SXmlType);
    TOraObject::AllocObject(typeName);
}

void TOraXML::AllocObject(OCISvcCtx* svcCtx, const AnsiString& typeName) {
    if (NormalizeObjectName(typeName) != "\"SYS\".\"XMLTYPE\"") RaiseError(SXmlType);
    TOraObject::AllocObject(svcCtx, typeName);
}

void TOraXML::AllocObject() {
    CheckSession();
    CheckType();
    if (Owner) {
        Owner->ChildAlloc(this);
        return;
    }
    if (GetInstance()) return;
    void* instance = nullptr;
    if (!hasText_) {
        Check(OCIXMLTypeNew(SvcCtx, hError, OCI_DURATION_SESSION, nullptr, 0, nullptr, 0, &instance));
    } else if (cacheValue_.size() > MaxStringSource) {
        // Long text reaches the server through a temporary CLOB.
        std::unique_ptr<TOraLob, void (*)(TOraLob*)> lob(new TOraLob(SvcCtx),
                                                         [](TOraLob* l) { l->Release(); });
        lob->CreateTemporary(1);
        lob->Write(0, static_cast<int64_t>(cacheValue_.size()), cacheValue_.data());
        lob->WriteLob();
        Check(OCIXMLTypeCreateFromSrc(SvcCtx, hError, OCI_DURATION_SESSION, OCI_XMLTYPE_CREATE_CLOB,
                                      lob->GetOCILobLocator(), 0, &instance));
    } else {
        void* text = nullptr;
        Check(OCIObjectNew(hEnv, hError, SvcCtx, OCI_TYPECODE_VARCHAR2, nullptr, nullptr,
                           OCI_DURATION_SESSION, 1, &text));
        auto* str = static_cast<OCIString*>(text);
        sword rc = OCIStringAssignText(hEnv, hError, reinterpret_cast<const OraText*>(cacheValue_.data()),
                                       static_cast<ub4>(cacheValue_.size()), &str);
        if (rc == OCI_SUCCESS)
            rc = OCIXMLTypeCreateFromSrc(SvcCtx, hError, OCI_DURATION_SESSION, OCI_XMLTYPE_CREATE_OCISTRING,
                                         str, 0, &instance);
        if (rc != OCI_SUCCESS) {
            // The string goes whatever happened; the failure is reported from the error handle first.
            try {
                Check(rc);
            } catch (...) {
                OCIObjectFree(hEnv, hError, str, OCI_OBJECTFREE_FORCE);
                throw;
            }
        }
        Check(OCIObjectFree(hEnv, hError, str, OCI_OBJECTFREE_FORCE));
    }
    StoreInstance(instance);
    if (!GetIndicator()) {
        void* ind = nullptr;
        Check(OCIObjectGetInd(hEnv, hError, instance, &ind));
        SetIndicator(ind);
    }
    if (hasText_ && OCIVersion >= 10102) xmlInd_ = 0;
    NativeInstance = true;
}

void TOraXML::FreeObject(bool freeChild) {
    FreeXMLStream();
    cacheValue_.clear();
    hasText_ = false;
    // An instance of a null value is freed too: nothing else would free it.
    TOraObject::FreeObject(freeChild);
}

void TOraXML::GetAsString(AnsiString& s) {
    s = hasText_ ? cacheValue_ : AnsiString();
}

void TOraXML::SetAsString(const AnsiString& s) {
    CheckType();
    FreeObject(true);
    if (s.empty()) return;
    cacheValue_ = s;
    hasText_ = true;
}

void TOraXML::Assign(TOraObject* source) {
    auto* xml = dynamic_cast<TOraXML*>(source);
    if (!xml) RaiseError(SXmlType);
    if (xml == this) return;
    const AnsiString text = xml->GetAsString();
    FreeObject(true);
    SetAsString(text);
}

void TOraXML::CreateXMLStream() {
    if (hXMLStream) return;
    CheckAlloc(true);
    Check(OCIDescriptorAlloc(hEnv, &hXMLStream, OCI_DTYPE_XML_STREAM, 0, nullptr));
    const sword rc = OCIPStreamFromXMLType(hError, hXMLStream, GetInstance(), 0);
    if (rc != OCI_SUCCESS) {
        try {
            Check(rc);
        } catch (...) {
            OCIDescriptorFree(hXMLStream, OCI_DTYPE_XML_STREAM);
            hXMLStream = nullptr;
            throw;
        }
    }
}

void TOraXML::FreeXMLStream() {
    if (!hXMLStream) return;
    void* stream = hXMLStream;
    hXMLStream = nullptr;
    Check(OCIPStreamClose(hError, stream));
    Check(OCIDescriptorFree(stream, OCI_DTYPE_XML_STREAM));
    // Closing the stream lets the instance go as well.
    NativeInstance = true;
    TOraObject::FreeObject(true);
}

void TOraXML::ResetXMLStream() {
    FreeXMLStream();
    CreateXMLStream();
}

int64_t TOraXML::ReadXMLChunk(int64_t count, void* buffer) {
    if (IsXMLNull()) return 0;
    CreateXMLStream();
    ub8 amount = static_cast<ub8>(count);
    Check(OCIPStreamRead(hError, hXMLStream, buffer, &amount, 0));
    return static_cast<int64_t>(amount);
}

void TOraXML::ReadXML() {
    cacheValue_.clear();
    hasText_ = false;
    // A fetched instance whose null structure says null has no text to read.
    if (GetInstance() && GetIndicator()) {
        int16_t ind = 0;
        std::memcpy(&ind, GetIndicator(), sizeof ind);
        if (ind != 0) {
            FreeXMLStream();
            NativeInstance = true;
            TOraObject::FreeObject(true);
            return;
        }
    }
    if (IsXMLNull()) return;
    ResetXMLStream();
    std::vector<char> buffer(static_cast<std::size_t>(DefaultPieceSize));
    std::string text;
    for (;;) {
        const int64_t n = ReadXMLChunk(DefaultPieceSize - 1, buffer.data());
        if (n <= 0) break;
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    FreeXMLStream();
    cacheValue_ = std::move(text);
    hasText_ = !cacheValue_.empty();
}

}  // namespace dac
