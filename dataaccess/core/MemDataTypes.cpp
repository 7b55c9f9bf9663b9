// Data type codes, field descriptors, object types and attributes; child descriptors and
// unique column names of the record storage.
#include <algorithm>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Numbers.h"

namespace dac {

TDataTypeSet DataTypeSet(std::initializer_list<TDataType> codes) {
    TDataTypeSet set;
    for (TDataType c : codes) set.set(c & 0xFF);
    return set;
}

int32_t DataTypeSize(TDataType dt, int length) {
    switch (dt) {
        case dtUnknown:
            return 0;
        case dtString:
        case dtGuid:
            return length + 1;
        case dtWideString:
            return length * 2 + 2;
        case dtBytes:
            return length;
        case dtVarBytes:
            return length + 2;
        case dtInt8:
            return 1;
        case dtSmallint:
        case dtWord:
        case dtBoolean:
            return 2;
        case dtInteger:
        case dtUInt32:
            return 4;
        case dtFloat:
        case dtDate:
        case dtTime:
        case dtDateTime:
        case dtLargeint:
        case dtCurrency:
        case dtBCD:
            return 8;
        case dtFmtBcd:
            return 34;
        case dtSQLTimeStamp:
            return 16;
        case dtBlob:
        case dtMemo:
        case dtWideMemo:
        case dtObject:
        case dtReference:
        case dtArray:
        case dtTable:
        case dtVariant:
        case dtStringRef:
        case dtVarBytesRef:
        case dtWideStringRef:
        case dtCursor:
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
        case dtNumber:
        case dtXML:
            return PtrSize;
        default:
            return length;
    }
}

// ---------------------------------------------------------------------------------------------
// TFieldDesc, TFieldDescs

TFieldDesc::~TFieldDesc() {
    FreeShared(objectType_);
}

void TFieldDesc::SetObjectType(TObjectType* value) {
    if (value == objectType_) return;
    FreeShared(objectType_);
    objectType_ = value;
    if (value) value->AddRef();
}

TFieldDesc* TFieldDescs::Items(int index) const {
    rtl::Assert(index >= 0 && index < Count(), "MemData: field index out of range");
    return items_[static_cast<std::size_t>(index)];
}

int TFieldDescs::IndexOf(const TFieldDesc* desc) const {
    auto it = std::find(items_.begin(), items_.end(), desc);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TFieldDescs::Clear() {
    for (TFieldDesc* d : items_) rtl::Free(d);
    items_.clear();
}

TFieldDesc* TFieldDescs::FindField(const AnsiString& name) const {
    for (TFieldDesc* d : items_)
        if (d && !d->HasParent() && LocaleSameText(d->Name, name)) return d;
    const bool fullName = name.find_first_of(".[") != AnsiString::npos;
    for (TFieldDesc* d : items_) {
        if (!d) continue;
        if (fullName) {
            if (LocaleSameText(d->ActualName, name)) return d;
        } else if (d->HasParent() && LocaleSameText(d->Name, name)) {
            return d;
        }
    }
    return nullptr;
}

TFieldDesc* TFieldDescs::FieldByName(const AnsiString& name) const {
    TFieldDesc* d = FindField(name);
    if (!d) throw rtl::Exception("Field " + name + " not found");
    return d;
}

// ---------------------------------------------------------------------------------------------
// TObjectType, TAttribute, TDBObject

TObjectType::~TObjectType() {
    ClearAttributes();
}

TAttribute* TObjectType::GetAttribute(int index) const {
    rtl::Assert(index >= 0 && index < GetAttributeCount(), "MemData: attribute index out of range");
    return attributes_[static_cast<std::size_t>(index)];
}

void TObjectType::AddAttribute(TAttribute* attribute) {
    attribute->Owner = this;
    attributes_.push_back(attribute);
}

void TObjectType::ClearAttributes() {
    // Detach first: an attribute's destructor may release a type that leads back here.
    std::vector<TAttribute*> items;
    items.swap(attributes_);
    for (TAttribute* a : items) rtl::Free(a);
}

namespace {

bool IsObjectLike(TDataType dt) {
    return dt == dtObject || dt == dtReference || dt == dtArray || dt == dtTable;
}

}  // namespace

TAttribute* TObjectType::FindAttribute(const AnsiString& path) const {
    AnsiString rest = LocaleUpperCase(path);
    const TObjectType* type = this;
    while (type) {
        std::size_t start = rest.find_first_not_of(' ');
        rest = start == AnsiString::npos ? AnsiString() : rest.substr(start);
        const std::size_t dot = rest.find('.');
        const std::size_t bracket = rest.find('[');
        const bool dotFound = dot != AnsiString::npos;
        const bool bracketFound = bracket != AnsiString::npos;
        AnsiString segment;
        if (bracket == 0) {
            const std::size_t close = rest.find(']');
            if (close == AnsiString::npos) return nullptr;
            segment = "ELEMENT";
            rest = rest.substr(close + 1);
            if (!rest.empty() && rest[0] == '.') rest.erase(0, 1);
        } else if (dotFound && (!bracketFound || dot < bracket)) {
            segment = rest.substr(0, dot);
            rest = rest.substr(dot + 1);
        } else if (!bracketFound) {
            segment = rest;
            rest.clear();
        } else {
            segment = rest.substr(0, bracket);
            rest = rest.substr(bracket);
        }
        TAttribute* found = nullptr;
        for (TAttribute* a : type->attributes_)
            if (LocaleUpperCase(a->Name) == segment) {
                found = a;
                break;
            }
        if (!found) return nullptr;
        if (dotFound && !IsObjectLike(found->DataType)) return nullptr;
        if (!(dotFound || (bracketFound && !rest.empty()))) return found;
        type = found->ObjectType();
    }
    return nullptr;
}

TAttribute* TObjectType::AttributeByName(const AnsiString& path) const {
    TAttribute* a = FindAttribute(path);
    if (!a) throw rtl::Exception("Attribute " + path + " not found");
    return a;
}

TAttribute::~TAttribute() {
    if (objectTypeCounted_) FreeShared(objectType_);
}

void TAttribute::SetObjectType(TObjectType* value) {
    if (value == objectType_) return;
    if (objectTypeCounted_) FreeShared(objectType_);
    objectType_ = value;
    objectTypeCounted_ = value && !(Owner && value->Name == Owner->Name);
    if (objectTypeCounted_) value->AddRef();
}

TDBObject::~TDBObject() {
    FreeShared(objectType_);
}

void TDBObject::SetObjectType(TObjectType* value) {
    if (value == objectType_) return;
    FreeShared(objectType_);
    objectType_ = value;
    if (value) value->AddRef();
}

void TDBObject::GetAttributeValue(const AnsiString&, void*& value, bool& isBlank, bool& nativeBuffer) {
    value = nullptr;
    isBlank = true;
    nativeBuffer = true;
}

void TDBObject::SetAttributeValue(const AnsiString&, const void*) {}

bool TDBObject::GetAttributeIsNull(const AnsiString&) {
    return true;
}

}  // namespace dac
