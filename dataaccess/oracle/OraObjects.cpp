// Object type descriptions and the process-wide type cache: each type is described once through
// OCI, with the offsets of its attributes in the instance and null structures OCI keeps.
#include "dataaccess/oracle/OraObjects.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraError.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

struct SharedBuffers {
    int16_t notNull = 0;
    int16_t nulls[50];
    OCINumber number{};
    OCIDate date{};
    void* nilString = nullptr;
    SharedBuffers() {
        std::fill(std::begin(nulls), std::end(nulls), int16_t{-1});
        number.OCINumberPart[0] = 1;
        number.OCINumberPart[1] = 0x80;  // zero
        date.OCIDateYYYY = 1;
        date.OCIDateMM = 1;
        date.OCIDateDD = 1;
    }
};

const SharedBuffers& Buffers() {
    static const SharedBuffers buffers;
    return buffers;
}

std::size_t RoundUp(std::size_t v) {
    return (v + OraPtrCell - 1) / OraPtrCell * OraPtrCell;
}

bool HeldAsPointer(TDataType t) {
    switch (t) {
        case dtString:
        case dtWideString:
        case dtReference:
        case dtArray:
        case dtTable:
        case dtOraBlob:
        case dtOraClob:
        case dtWideOraClob:
        case dtBFile:
        case dtCFile:
        case dtTimeStamp:
        case dtTimeStampTZ:
        case dtTimeStampLTZ:
        case dtIntervalYM:
        case dtIntervalDS:
        case dtXML:
            return true;
        default:
            return false;
    }
}

template <class T>
T ParamValue(OCIParam* param, ub4 attr) {
    T v{};
    CheckOCIStatus(OCIAttrGet(param, OCI_DTYPE_PARAM, &v, nullptr, attr, OCIErrorHandle()), false);
    return v;
}

AnsiString ParamText(OCIParam* param, ub4 attr, bool check) {
    char* text = nullptr;
    ub4 len = 0;
    sword rc = OCIAttrGet(param, OCI_DTYPE_PARAM, &text, &len, attr, OCIErrorHandle());
    if (check) CheckOCIStatus(rc, false);
    if (rc != OCI_SUCCESS || !text) return {};
    return AnsiString(text, len);
}

std::string UnQuote(const AnsiString& s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// Schema and type name of a normalised name; the schema is empty without a dot.
void SplitTypeName(const AnsiString& normalized, AnsiString& schema, AnsiString& name) {
    const std::size_t dot = normalized.find("\".\"");
    if (dot == AnsiString::npos) {
        schema.clear();
        name = UnQuote(normalized);
    } else {
        schema = UnQuote(normalized.substr(0, dot + 1));
        name = UnQuote(normalized.substr(dot + 2));
    }
}

TObjectTypes* cache = nullptr;
std::mutex cacheLock;

}  // namespace

const void* NotNullIndicator() {
    return &Buffers().notNull;
}
const void* NullIndicators() {
    return Buffers().nulls;
}
const void* ScratchNumber() {
    return &Buffers().number;
}
const void* ScratchDate() {
    return &Buffers().date;
}
const void* NilStringCell() {
    return &Buffers().nilString;
}

// ---------------------------------------------------------------------------------------------
// TObjectTypes

TObjectTypes& ObjectTypes() {
    std::lock_guard<std::mutex> g(cacheLock);
    if (!cache) cache = new TObjectTypes;
    return *cache;
}

bool ObjectTypesExist() {
    std::lock_guard<std::mutex> g(cacheLock);
    return cache != nullptr;
}

TOraType* TObjectTypes::FindType(OCISvcCtx* svcCtx, const AnsiString& name) {
    const AnsiString wanted = rtl::AnsiUpperCase(NormalizeObjectName(name));
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (TOraType* t : items_)
        if (t->SvcCtx == svcCtx && rtl::AnsiUpperCase(t->Name) == wanted) return t;
    return nullptr;
}

int TObjectTypes::ClearTypes(OCISvcCtx* svcCtx, bool keepTypes) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (TOraType* t : items_)
        if (t->SvcCtx == svcCtx) t->Valid = false;
    if (keepTypes) return 0;
    // Holders keep their types alive; the cache only lets go of them.
    std::vector<TOraType*> leaving;
    for (TOraType* t : items_)
        if (t->SvcCtx == svcCtx) leaving.push_back(t);
    items_.erase(
        std::remove_if(items_.begin(), items_.end(), [&](TOraType* t) { return t->SvcCtx == svcCtx; }),
        items_.end());
    // REF attributes can tie types into a ring (A refers to B, B to A) that keeps them alive with no
    // holder outside. Types held from outside, and those they lead to, stay as they are; the rest hold
    // only each other, so they let go of their attribute types and go.
    std::map<TOraType*, int> inner;  // references a leaving type gets from the attributes of leaving types
    for (TOraType* t : leaving) inner[t] = 0;
    auto edges = [&](TOraType* t, const std::function<void(TOraType*)>& f) {
        for (int i = 0; i < t->GetAttributeCount(); ++i) {
            auto* to = static_cast<TOraType*>(t->GetAttribute(i)->ObjectType());
            if (to && to->Name != t->Name && inner.count(to)) f(to);  // a type's own name is held uncounted
        }
    };
    for (TOraType* t : leaving) edges(t, [&](TOraType* to) { ++inner[to]; });
    std::set<TOraType*> held;
    std::vector<TOraType*> todo;
    for (TOraType* t : leaving)
        if (t->RefCount() > inner[t]) todo.push_back(t);
    while (!todo.empty()) {
        TOraType* t = todo.back();
        todo.pop_back();
        if (held.insert(t).second) edges(t, [&](TOraType* to) { todo.push_back(to); });
    }
    std::vector<TOraType*> ring;
    for (TOraType* t : leaving)
        if (!held.count(t)) ring.push_back(t);
    for (TOraType* t : ring) t->AddRef();
    for (TOraType* t : ring)
        for (int i = 0; i < t->GetAttributeCount(); ++i) t->GetAttribute(i)->SetObjectType(nullptr);
    for (TOraType* t : ring) t->Release();
    return static_cast<int>(ring.size());
}

void TObjectTypes::Add(TOraType* type) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    items_.push_back(type);
}

void TObjectTypes::Remove(TOraType* type) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    items_.erase(std::remove(items_.begin(), items_.end(), type), items_.end());
}

int TObjectTypes::Count() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return static_cast<int>(items_.size());
}

// ---------------------------------------------------------------------------------------------
// TOraType

TOraType::TOraType(TOCIConnection* connection, const AnsiString& name)
    : Connection(connection), SvcCtx(connection ? connection->GetSvcCtx() : nullptr) {
    Init(name);
}

TOraType::TOraType(OCISvcCtx* svcCtx, const AnsiString& name) : SvcCtx(svcCtx) {
    Init(name);
}

TOraType::~TOraType() {
    if (ObjectTypesExist()) ObjectTypes().Remove(this);
}

void TOraType::Init(const AnsiString& name) {
    ObjectTypes().Add(this);
    try {
        Describe(SvcCtx, name);
    } catch (...) {
        ObjectTypes().Remove(this);
        ClearAttributes();
        refCount_ = 0;
        throw;
    }
}

void TOraType::Environment(OCIEnv*& env, bool& unicode) {
    if (Connection && Connection->GetEnvironment()) {
        env = Connection->GetEnvironment();
    } else {
        env = nullptr;
        CheckOCIStatus(OCIAttrGet(SvcCtx, OCI_HTYPE_SVCCTX, &env, nullptr, OCI_ATTR_ENV, OCIErrorHandle()),
                       false);
    }
    unicode = OCIVersion >= 9000 && IsUnicodeEnvironment(env, OCIErrorHandle());
}

void TOraType::Describe(OCISvcCtx* svcCtx, const AnsiString& nameIn) {
    if (!svcCtx) RaiseError("OCISvcCtx is not defined");
    SvcCtx = svcCtx;
    OCIEnv* env = nullptr;
    bool unicode = false;
    Environment(env, unicode);
    ClearAttributes();
    ValueSize = 0;
    IndicatorSize = 2;
    Aligned = false;
    Name = NormalizeObjectName(nameIn);
    AnsiString schema, typeName;
    SplitTypeName(Name, schema, typeName);
    OCIError* err = OCIErrorHandle();
    {
        TOCIText s(schema, unicode), n(typeName, unicode);
        sword rc =
            OCITypeByName(env, err, SvcCtx, static_cast<const OraText*>(s.Ptr()), static_cast<ub4>(s.Size()),
                          static_cast<const OraText*>(n.Ptr()), static_cast<ub4>(n.Size()), nullptr, 0,
                          OCI_DURATION_SESSION, OCI_TYPEGET_HEADER, &TDO);
        CheckOCIStatus(rc, unicode);
    }
    OCIDescribe* describe = nullptr;
    CheckOCIStatus(OCIHandleAlloc(env, reinterpret_cast<void**>(&describe), OCI_HTYPE_DESCRIBE, 0, nullptr),
                   unicode);
    struct FreeDescribe {
        OCIDescribe* d;
        ~FreeDescribe() { OCIHandleFree(d, OCI_HTYPE_DESCRIBE); }
    } freeDescribe{describe};
    {
        TOCIText text(Name, unicode);
        CheckOCIStatus(OCIDescribeAny(SvcCtx, err, text.Ptr(), static_cast<ub4>(text.Size()), OCI_OTYPE_NAME,
                                      OCI_DEFAULT, OCI_PTYPE_TYPE, describe),
                       unicode);
    }
    OCIParam* param = nullptr;
    CheckOCIStatus(OCIAttrGet(describe, OCI_HTYPE_DESCRIBE, &param, nullptr, OCI_ATTR_PARAM, err), unicode);
    const ub2 code = ParamValue<ub2>(param, OCI_ATTR_TYPECODE);
    Final = OCIVersion < 9000 || ParamValue<ub1>(param, OCI_ATTR_IS_FINAL_TYPE) != 0;
    TypeCode = code;
    if (code == OCI_TYPECODE_OBJECT || code == OCI_TYPECODE_OPAQUE) {
        DataType = Name == "\"SYS\".\"XMLTYPE\"" && OCIVersion >= 9200 ? dtXML : dtObject;
        Size = 0;
        const ub2 count = ParamValue<ub2>(param, OCI_ATTR_NUM_TYPE_ATTRS);
        OCIParam* list = nullptr;
        if (count)
            CheckOCIStatus(OCIAttrGet(param, OCI_DTYPE_PARAM, &list, nullptr, OCI_ATTR_LIST_TYPE_ATTRS, err),
                           unicode);
        for (ub4 i = 1; i <= count; ++i) {
            OCIParam* attr = nullptr;
            CheckOCIStatus(OCIParamGet(list, OCI_DTYPE_PARAM, err, reinterpret_cast<void**>(&attr), i),
                           unicode);
            struct FreeParam {
                OCIParam* p;
                ~FreeParam() { OCIDescriptorFree(p, OCI_DTYPE_PARAM); }
            } freeParam{attr};
            DescribeAttribute(attr, unicode);
        }
    } else if (code == OCI_TYPECODE_NAMEDCOLLECTION) {
        const ub2 collCode = ParamValue<ub2>(param, OCI_ATTR_COLLECTION_TYPECODE);
        rtl::Assert(collCode == OCI_TYPECODE_VARRAY || collCode == OCI_TYPECODE_TABLE, "Assertion failure");
        DataType = collCode == OCI_TYPECODE_VARRAY ? dtArray : dtTable;
        OCIParam* element = nullptr;
        CheckOCIStatus(
            OCIAttrGet(param, OCI_DTYPE_PARAM, &element, nullptr, OCI_ATTR_COLLECTION_ELEMENT, err), unicode);
        Size = static_cast<int32_t>(ParamValue<ub4>(element, OCI_ATTR_NUM_ELEMS));
        DescribeAttribute(element, unicode);
    } else {
        rtl::Assert(false, "Assertion failure");
    }
    Valid = true;
}

void TOraType::DescribeAttribute(OCIParam* param, bool unicode) {
    auto* attr = new TAttribute;
    AddAttribute(attr);
    attr->Name = ParamText(param, OCI_ATTR_NAME, false);
    if (attr->Name.empty()) attr->Name = "ELEMENT";
    const ub2 len = ParamValue<ub2>(param, OCI_ATTR_DATA_SIZE);
    const ub2 type = ParamValue<ub2>(param, OCI_ATTR_DATA_TYPE);
    attr->AttributeNo = static_cast<uint16_t>(GetAttributeCount());
    std::size_t dataSize = OraPtrCell;
    std::size_t indStep = 2;
    TOraType* nested = nullptr;
    auto pointer = [&](TDataType t) {
        attr->DataType = t;
        attr->Size = static_cast<int32_t>(OraPtrCell);
    };
    switch (type) {
        case SQLT_CHR:
        case SQLT_AFC:
            attr->DataType = unicode ? dtWideString : dtString;
            attr->Fixed = type == SQLT_AFC;
            attr->Length = len;
            attr->Size = unicode ? (len + 1) * 2 : len + 1;
            break;
        case SQLT_NUM: {
            const int precision = ParamValue<ub1>(param, OCI_ATTR_PRECISION);
            const int scale = std::abs(static_cast<int>(ParamValue<sb1>(param, OCI_ATTR_SCALE)));
            const bool integer = precision > 0 && precision <= 9 && scale == 0;
            attr->DataType = integer ? dtInteger : dtFloat;
            attr->Length = static_cast<uint16_t>(precision);
            attr->Scale = static_cast<uint16_t>(scale);
            attr->Size = integer ? 4 : 8;
            dataSize = sizeof(OCINumber);
            break;
        }
        case SQLT_DAT:
            attr->DataType = dtDateTime;
            attr->Size = 8;
            dataSize = sizeof(OCIDate);
            break;
        case SQLT_BIN:
            attr->DataType = dtString;
            attr->Length = static_cast<uint16_t>(len * 2);
            attr->Size = len * 2 + 1;
            break;
        case SQLT_IBFLOAT:
        case SQLT_IBDOUBLE:
            attr->DataType = dtFloat;
            attr->SubDataType = type == SQLT_IBFLOAT ? dtBFloat : dtBDouble;
            attr->Size = 8;
            dataSize = type == SQLT_IBFLOAT ? 4 : 8;
            break;
        case SQLT_NTY:
        case SQLT_REF: {
            const AnsiString typeName = ParamText(param, OCI_ATTR_TYPE_NAME, true);
            const AnsiString schema = ParamText(param, OCI_ATTR_SCHEMA_NAME, true);
            const AnsiString full = QuoteObjectName(schema.empty() ? typeName : schema + "." + typeName);
            nested = ObjectTypesExist() ? ObjectTypes().FindType(SvcCtx, full) : nullptr;
            if (!nested && type == SQLT_REF) {
                // A type referring to itself: the REF names the type being described, held uncounted.
                AnsiString ownSchema, ownName;
                SplitTypeName(Name, ownSchema, ownName);
                if (ownName == typeName && (ownSchema.empty() || ownSchema == schema)) nested = this;
            }
            if (nested == this) {
                attr->SetObjectType(this);
            } else if (!nested) {
                nested = new TOraType(SvcCtx, full);
                attr->SetObjectType(nested);
                nested->Release();
            } else {
                attr->SetObjectType(nested);
            }
            if (type == SQLT_REF) {
                pointer(dtReference);
                break;
            }
            attr->DataType = nested->DataType;
            attr->Size = static_cast<int32_t>(OraPtrCell);
            if (nested->DataType == dtObject && nested->Final) {
                dataSize = nested->Aligned ? RoundUp(nested->ValueSize) : nested->ValueSize;
                indStep = nested->IndicatorSize;
            }
            break;
        }
        case SQLT_CLOB:
            pointer(Connection && Connection->UseUnicode() ? dtWideOraClob : dtOraClob);
            break;
        case SQLT_BLOB:
            pointer(dtOraBlob);
            break;
        case SQLT_BFILEE:
        case SQLT_CFILEE:
            pointer(type == SQLT_BFILEE ? dtBFile : dtCFile);
            break;
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ:
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS:
            if (OCIVersion < 9000) RaiseError("Data type is not supported");
            pointer(type == SQLT_TIMESTAMP       ? dtTimeStamp
                    : type == SQLT_TIMESTAMP_TZ  ? dtTimeStampTZ
                    : type == SQLT_TIMESTAMP_LTZ ? dtTimeStampLTZ
                    : type == SQLT_INTERVAL_YM   ? dtIntervalYM
                                                 : dtIntervalDS);
            break;
        default:
            rtl::Assert(false, "Unknown data type");
    }
    attr->ValueSize = static_cast<uint16_t>(dataSize);
    const bool alignedObject = attr->DataType == dtObject && nested && (nested->Aligned || !nested->Final);
    if (HeldAsPointer(attr->DataType) || alignedObject) {
        ValueSize = static_cast<uint16_t>(RoundUp(ValueSize));
        Aligned = true;
    }
    attr->Offset = ValueSize;
    ValueSize = static_cast<uint16_t>(ValueSize + dataSize);
    attr->IndicatorOffset = IndicatorSize;
    IndicatorSize = static_cast<uint16_t>(IndicatorSize + indStep);
}

void TOraType::Reattach(OCISvcCtx* svcCtx) {
    if (!svcCtx) RaiseError("OCISvcCtx is not defined");
    SvcCtx = svcCtx;
    OCIEnv* env = nullptr;
    bool unicode = false;
    Environment(env, unicode);
    AnsiString schema, typeName;
    SplitTypeName(Name, schema, typeName);
    TOCIText s(schema, unicode), n(typeName, unicode);
    CheckOCIStatus(
        OCITypeByName(env, OCIErrorHandle(), SvcCtx, static_cast<const OraText*>(s.Ptr()),
                      static_cast<ub4>(s.Size()), static_cast<const OraText*>(n.Ptr()),
                      static_cast<ub4>(n.Size()), nullptr, 0, OCI_DURATION_SESSION, OCI_TYPEGET_HEADER, &TDO),
        unicode);
    Valid = true;
}

}  // namespace dac
