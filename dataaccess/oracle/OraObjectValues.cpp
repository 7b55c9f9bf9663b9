// Object values: the OCI instance and null structure a value holds, their life in the object cache,
// child values of complex attributes, and attributes read and written by path.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "dataaccess/core/MemUtils.h"
#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraError.h"
#include "dataaccess/oracle/OraObjectCells.h"
#include "dataaccess/oracle/OraObjects.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

using namespace objcells;

bool IsStringType(TDataType t) {
    return t == dtString || t == dtWideString;
}

TOraType* NestedType(TAttribute* a) {
    return static_cast<TOraType*>(a->ObjectType());
}

// An attribute that holds a pointer to a separate instance (a collection or a non-final object).
bool HoldsPointer(TAttribute* a) {
    TOraType* t = NestedType(a);
    if (!t) return false;
    if (a->DataType == dtArray || a->DataType == dtTable) return true;
    return a->DataType == dtObject && !t->Final;
}

TAttribute* FindOwn(TObjectType* type, const AnsiString& segment) {
    for (int i = 0; i < type->GetAttributeCount(); ++i)
        if (LocaleUpperCase(type->GetAttribute(i)->Name) == segment) return type->GetAttribute(i);
    return nullptr;
}

}  // namespace

rtl::TDateTime OCIDateToDateTime(const OCIDate& d) {
    rtl::TDateTime date = rtl::EncodeDate(d.OCIDateYYYY, d.OCIDateMM, d.OCIDateDD);
    rtl::TDateTime time =
        rtl::EncodeTime(d.OCIDateTime.OCITimeHH, d.OCIDateTime.OCITimeMI, d.OCIDateTime.OCITimeSS, 0);
    return date >= 0 ? date + time : date - time;
}

OCIDate DateTimeToOCIDate(rtl::TDateTime value) {
    rtl::Word y, m, d, h, mi, s, ms;
    rtl::DecodeDate(value, y, m, d);
    rtl::DecodeTime(value, h, mi, s, ms);
    OCIDate out{};
    out.OCIDateYYYY = static_cast<sb2>(y);
    out.OCIDateMM = static_cast<ub1>(m);
    out.OCIDateDD = static_cast<ub1>(d);
    out.OCIDateTime.OCITimeHH = static_cast<ub1>(h);
    out.OCIDateTime.OCITimeMI = static_cast<ub1>(mi);
    out.OCIDateTime.OCITimeSS = static_cast<ub1>(s);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Life of the value

TOraObject::TOraObject(TOraType* objectType) : hError(OCIErrorHandle()) {
    SetObjectType(objectType);
}

TOraObject::~TOraObject() {
    FreeObject(true);
}

void TOraObject::FreeHandles() {
    SetObjectType(nullptr);
}

void TOraObject::SetObjectType(TOraType* value) {
    if (value == GetObjectType()) return;
    FreeObject(true);
    TDBObject::SetObjectType(value);
    if (value) SetOCISvcCtx(value->SvcCtx);
}

void TOraObject::SetOCISvcCtx(OCISvcCtx* value) {
    if (!hError) hError = OCIErrorHandle();
    if (value == SvcCtx) return;
    SvcCtx = value;
    Unicode = false;
    if (!value) return;
    Check(OCIAttrGet(value, OCI_HTYPE_SVCCTX, &hEnv, nullptr, OCI_ATTR_ENV, hError));
    Unicode = IsUnicodeEnvironment(hEnv, hError);
}

void TOraObject::Check(sword status) {
    CheckOCIStatus(status, Unicode, hError);
}

void TOraObject::CheckType() {
    if (!GetObjectType()) RaiseError("Type of object must be defined");
}

TAttribute* TOraObject::AttrByName(const AnsiString& name) {
    CheckType();
    return GetObjectType()->AttributeByName(name);
}

void TOraObject::CheckSession() {
    if (!SvcCtx) RaiseError("OCISvcCtx is not defined");
}

void TOraObject::CheckAlloc(bool raiseError) {
    if (!instance_ || !indicator_) {
        if (AutoCreate) AllocObject();
        if (raiseError && !instance_) RaiseError("Object is not allocated");
    }
}

void TOraObject::CheckNotCached() {
    if (Cached) RaiseError("Object is cached");
}

void TOraObject::AllocObject() {
    CheckType();
    CheckSession();
    if (Owner) {
        Owner->ChildAlloc(this);
        return;
    }
    bool created = false;
    if (!instance_) {
        CreateInstance();
        created = true;
    }
    if (!indicator_ && instance_) Check(OCIObjectGetInd(hEnv, hError, instance_, &indicator_));
    if (GetObjectType()->DataType == dtObject && created) Poke<int16_t>(indicator_, -1);
}

void TOraObject::AllocObject(const AnsiString& typeName) {
    CheckSession();
    if (!typeName.empty()) {
        auto* type = new TOraType(SvcCtx, typeName);
        SetObjectType(type);
        type->Release();
    }
    AllocObject();
}

void TOraObject::AllocObject(OCISvcCtx* svcCtx, const AnsiString& typeName) {
    SetOCISvcCtx(svcCtx);
    AllocObject(typeName);
}

void TOraObject::AllocObjectOn(OCISvcCtx* svcCtx) {
    SetOCISvcCtx(svcCtx);
    AllocObject();
}

void TOraObject::CreateInstance() {
    TOraType* type = GetObjectType();
    const OCITypeCode code =
        type->DataType == dtObject ? static_cast<OCITypeCode>(type->TypeCode) : OCI_TYPECODE_NAMEDCOLLECTION;
    Check(OCIObjectNew(hEnv, hError, SvcCtx, code, type->TDO, nullptr, OCI_DURATION_SESSION, 1, &instance_));
    NativeInstance = true;
}

void TOraObject::FreeObject(bool freeChild) {
    if (NativeInstance && instance_) {
        TOraType* type = GetObjectType();
        if (!Cached && type && type->Valid) OCIObjectFree(hEnv, hError, instance_, OCI_OBJECTFREE_FORCE);
        NativeInstance = false;
    }
    instance_ = nullptr;
    indicator_ = nullptr;
    if (freeChild) FreeObjects();
}

void TOraObject::FreeObjects() {
    if (!Objects) return;
    std::vector<TSharedObject*>* list = Objects;
    Objects = nullptr;
    for (TSharedObject* child : *list) FreeShared(child);
    delete list;
}

TSharedObject*& TOraObject::ObjectSlot(int index) {
    if (!Objects) Objects = new std::vector<TSharedObject*>;
    if (static_cast<int>(Objects->size()) <= index)
        Objects->resize(static_cast<std::size_t>(index) + 1, nullptr);
    return (*Objects)[static_cast<std::size_t>(index)];
}

TSharedObject* TOraObject::ObjectAt(int index) const {
    if (!Objects || index < 0 || index >= static_cast<int>(Objects->size())) return nullptr;
    return (*Objects)[static_cast<std::size_t>(index)];
}

void TOraObject::SetInstance(void* value) {
    if (value == instance_) return;
    FreeObject(true);
    instance_ = value;
}

void TOraObject::ChildAlloc(TOraObject* child) {
    // A REF child's instance is its pinned target, never a place in this instance.
    if (!Objects || dynamic_cast<TOraRef*>(child)) return;
    for (std::size_t i = 0; i < Objects->size(); ++i) {
        if ((*Objects)[i] != child) continue;
        void* at = nullptr;
        void* indAt = nullptr;
        int16_t ind = 0;
        GetAttribute(GetObjectType()->GetAttribute(static_cast<int>(i))->Name, at, ind, indAt, true, false);
        child->SetInstance(at);
        child->SetIndicator(indAt);
    }
}

void TOraObject::AttachInstance(void* instance, void* indicator) {
    if (instance == instance_) return;
    FreeObject(false);
    instance_ = instance;
    indicator_ = indicator;
    if (!Objects) return;
    const bool collection = GetObjectType()->DataType != dtObject;
    for (std::size_t i = 0; i < Objects->size(); ++i) {
        auto* child = dynamic_cast<TOraObject*>((*Objects)[i]);
        if (!child) continue;
        TAttribute* attr = GetObjectType()->GetAttribute(collection ? 0 : static_cast<int>(i));
        void* at = nullptr;
        void* indAt = nullptr;
        int16_t ind = 0;
        GetAttribute(collection ? "[" + std::to_string(i) + "]" : attr->Name, at, ind, indAt, false, false);
        if (auto* ref = dynamic_cast<TOraRef*>(child)) {
            ref->TakeCellRef(at, true);
            continue;
        }
        child->AttachInstance(at, indAt);
    }
}

bool TOraObject::GetIsNull() {
    TOraType* type = GetObjectType();
    if (type && type->TypeCode == OCI_TYPECODE_OPAQUE) return instance_ == nullptr;
    if (Owner || instance_) CheckAlloc(true);
    return !indicator_ || Peek<int16_t>(indicator_) != 0;
}

void TOraObject::SetIsNull(bool value) {
    CheckAlloc(true);
    Poke<int16_t>(indicator_, value ? -1 : 0);
}

void TOraObject::Pin() {
    CheckAlloc(true);
    CheckNotCached();
    RaiseError("Object has no REF to pin: only REF values can be pinned");
}

void TOraObject::WriteLobs() {
    if (!Objects) return;
    for (TSharedObject* child : *Objects) {
        if (auto* lob = dynamic_cast<TOraLob*>(child))
            lob->WriteLob();
        else if (auto* object = dynamic_cast<TOraObject*>(child))
            object->WriteLobs();
    }
}

void TOraObject::Assign(TOraObject* source) {
    CheckSession();
    CheckAlloc(true);
    if (!source || !source->GetInstance()) return;
    Check(OCIObjectCopy(hEnv, hError, SvcCtx, source->GetInstance(), source->GetIndicator(), instance_,
                        indicator_, GetObjectType()->TDO, OCI_DURATION_SESSION, 0));
}

// ---------------------------------------------------------------------------------------------
// Child values

TSharedObject* TOraObject::GetComplexAttr(TAttribute* attribute, int index) {
    const int slot = index < 0 ? attribute->AttributeNo - 1 : index;
    if (TSharedObject* held = ObjectAt(slot)) return held;
    TOraObject* child = nullptr;
    switch (attribute->DataType) {
        case dtObject:
            child = new TOraObject(NestedType(attribute));
            break;
        case dtArray:
            child = new TOraArray(NestedType(attribute));
            break;
        case dtTable:
            child = new TOraNestTable(NestedType(attribute));
            break;
        case dtReference: {
            if (index >= 0) return nullptr;  // elements: TOraArray::GetItemAsRef
            auto* ref = new TOraRef(NestedType(attribute));
            ref->Owner = this;
            ref->SetOCISvcCtx(SvcCtx);
            ObjectSlot(slot) = ref;
            void* at = nullptr;
            void* indAt = nullptr;
            int16_t ind = -1;
            GetAttribute(attribute->Name, at, ind, indAt, false, false);
            ref->TakeCellRef(at, ind == 0);
            return ref;
        }
        default:
            return IsDescriptorType(attribute->DataType) ? DescriptorAttr(attribute, slot) : nullptr;
    }
    child->Owner = this;
    child->SetOCISvcCtx(SvcCtx);
    ObjectSlot(slot) = child;
    return child;
}

AnsiString TOraObject::ChildPath(TOraObject* child) {
    if (Objects) {
        const bool collection = GetObjectType()->DataType != dtObject;
        for (std::size_t i = 0; i < Objects->size(); ++i) {
            if ((*Objects)[i] != child) continue;
            return collection ? "[" + std::to_string(i) + "]"
                              : GetObjectType()->GetAttribute(static_cast<int>(i))->Name;
        }
    }
    rtl::Assert(false, "Assertion failure");
    return {};
}

void TOraObject::ChildRefChanged(TOraObject* child, bool isNull) {
    SetAttributeIsNull(ChildPath(child), isNull);
}

void TOraObject::ChildRefAssign(TOraRef* child, OCIRef* source) {
    const AnsiString path = ChildPath(child);
    SetAttribute(path, source, 0);
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = -1;
    GetAttribute(path, at, ind, indAt, false, false);
    child->TakeCellRef(at, false);
}

// A TIMESTAMP or INTERVAL attribute: a value working on the instance's own descriptor.
TSharedObject* TOraObject::DescriptorAttr(TAttribute* attribute, int slot) {
    if (slot != attribute->AttributeNo - 1) return nullptr;  // elements of such types have no value here
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = -1;
    GetAttribute(attribute->Name, at, ind, indAt, true, false);
    if (!at) return nullptr;
    void* descriptor = Peek<void*>(at);
    const TDataType t = attribute->DataType;
    TSharedObject* child = nullptr;
    if (t == dtOraBlob || t == dtOraClob || t == dtWideOraClob) {
        // The content is read at once: binding the value writes every LOB child back.
        auto* lob = new TOraLob(SvcCtx);
        if (t != dtOraBlob) {
            lob->LobType = 1;
            lob->SetIsUnicode(t == dtWideOraClob);
        }
        try {
            lob->SetOCILobLocator(static_cast<OCILobLocator*>(descriptor));
            lob->ReadLob();
        } catch (...) {
            lob->Free();
            throw;
        }
        child = lob;
    } else if (t == dtIntervalYM || t == dtIntervalDS) {
        auto* value = new TOraInterval(t);
        value->SetOCIInterval(static_cast<OCIInterval*>(descriptor));
        value->SetIsNull(ind != 0);
        child = value;
    } else {
        auto* value = new TOraTimeStamp(t);
        value->SetOCIDateTime(static_cast<OCIDateTime*>(descriptor));
        value->SetIsNull(ind != 0);
        child = value;
    }
    ObjectSlot(slot) = child;
    return child;
}

TSharedObject* TOraObject::GetComplexAttrByName(const AnsiString& name) {
    const std::size_t dot = name.find('.');
    if (dot != AnsiString::npos)
        return GetAttrAsObject(name.substr(0, dot))->GetComplexAttrByName(name.substr(dot + 1));
    CheckAlloc(true);
    TAttribute* attr = AttrByName(name);
    int index = -1;
    if (!name.empty() && name[0] == '[') {
        const std::size_t close = name.find(']');
        if (close == AnsiString::npos) RaiseError("Invalid attribute name");
        index = std::atoi(name.substr(1, close - 1).c_str());
    }
    return GetComplexAttr(attr, index);
}

TOraObject* TOraObject::GetAttrAsObject(const AnsiString& name) {
    auto* child = dynamic_cast<TOraObject*>(GetComplexAttrByName(name));
    if (!child) throw rtl::EConvertError("Cannot convert type to Object");
    return child;
}

// ---------------------------------------------------------------------------------------------
// Attribute paths

void TOraObject::AppendNullElement(TAttribute* element, OCIColl* collection) {
    const void* value = nullptr;
    std::vector<unsigned char> block;
    switch (element->DataType) {
        case dtString:
        case dtWideString:
            value = NilStringCell();
            break;
        case dtInteger:
        case dtFloat:
        case dtLargeint:
            value = ScratchNumber();  // also wide enough for a BINARY_FLOAT or BINARY_DOUBLE
            break;
        case dtDateTime:
            value = ScratchDate();
            break;
        case dtObject:
            block.assign(std::max<std::size_t>(NestedType(element)->ValueSize, 1), 0);
            value = block.data();
            break;
        case dtReference: {
            // OCI copies the REF it is given: a null REF of its own, freed afterwards.
            void* ref = nullptr;
            TOraType* target = NestedType(element);
            Check(OCIObjectNew(hEnv, hError, SvcCtx, OCI_TYPECODE_REF, target ? target->TDO : nullptr,
                               nullptr, OCI_DURATION_SESSION, 1, &ref));
            const sword rc = OCICollAppend(hEnv, hError, ref, NullIndicators(), collection);
            OCIObjectFree(hEnv, hError, ref, OCI_OBJECTFREE_FORCE);
            Check(rc);
            return;
        }
        default:
            rtl::Assert(false, "Unknown data type");
    }
    Check(OCICollAppend(hEnv, hError, value, NullIndicators(), collection));
}

void TOraObject::GetAttribute(const AnsiString& name, void*& attrPtr, int16_t& ind, void*& indPtr,
                              bool extend, bool makeNotNull) {
    CheckAlloc(true);
    AnsiString path = LocaleUpperCase(name);
    attrPtr = instance_;
    indPtr = indicator_;
    TObjectType* type = GetObjectType();
    bool notNull;
    if (makeNotNull) {
        Poke<int16_t>(indicator_, 0);
        notNull = true;
    } else {
        notNull = !GetIsNull();
    }
    ind = notNull ? 0 : -1;
    for (;;) {
        const std::size_t start = path.find_first_not_of(' ');
        path = start == AnsiString::npos ? AnsiString() : path.substr(start);
        if (path.empty()) return;
        TAttribute* attr = nullptr;
        auto* base = static_cast<unsigned char*>(attrPtr);
        if (path[0] == '[') {
            const std::size_t close = path.find(']');
            if (close == AnsiString::npos) RaiseError("Invalid attribute name");
            const int index = std::atoi(path.substr(1, close - 1).c_str());
            path.erase(0, close + 1);
            if (!path.empty() && path[0] == '.') path.erase(0, 1);
            if (!type || type->GetAttributeCount() == 0) RaiseError("Invalid attribute name");
            attr = type->GetAttribute(0);
            auto* collection = static_cast<OCIColl*>(attrPtr);
            if (extend) {
                sb4 size = 0;
                Check(OCICollSize(hEnv, hError, collection, &size));
                for (; size <= index; ++size) AppendNullElement(attr, collection);
            }
            boolean exists = 0;
            void* elem = nullptr;
            void* elemInd = nullptr;
            Check(OCICollGetElem(hEnv, hError, collection, index, &exists, &elem, &elemInd));
            if (!exists) {
                ind = -1;
                attrPtr = nullptr;
                indPtr = nullptr;
                return;
            }
            attrPtr = elem;
            indPtr = elemInd;
            if (makeNotNull) {
                ind = 0;
                Poke<int16_t>(elemInd, 0);
            } else {
                ind = notNull ? Peek<int16_t>(elemInd) : -1;
            }
            notNull = ind == 0;
        } else {
            const std::size_t dot = path.find('.');
            const std::size_t bracket = path.find('[');
            std::size_t end = std::min(dot, bracket);
            AnsiString segment = path.substr(0, end);
            while (!segment.empty() && segment.back() == ' ') segment.pop_back();
            path = end == AnsiString::npos ? AnsiString() : path.substr(end == dot ? end + 1 : end);
            attr = type ? FindOwn(type, segment) : nullptr;
            if (!attr) RaiseError("Invalid attribute name");
            attrPtr = base + attr->Offset;
            if (indPtr) indPtr = static_cast<unsigned char*>(indPtr) + attr->IndicatorOffset;
            if (notNull && indPtr) {
                ind = Peek<int16_t>(indPtr);
                if (ind != 0 && makeNotNull) {
                    Poke<int16_t>(indPtr, 0);
                    ind = 0;
                }
                notNull = ind == 0;
            } else {
                ind = -1;
                notNull = false;
            }
        }
        if (attr->DataType == dtReference && !path.empty()) {
            // The rest of the path lies in the REF's target, which the attribute's child REF value
            // pins; only attributes of this value's own type have such a child.
            if (base != instance_ || GetObjectType()->DataType != dtObject ||
                GetObjectType()->GetAttribute(attr->AttributeNo - 1) != attr)
                RaiseError("Invalid attribute name");
            auto* ref = dynamic_cast<TOraRef*>(GetComplexAttr(attr, -1));
            if (!ref || !ref->GetInstance()) {
                ind = -1;
                attrPtr = nullptr;
                indPtr = nullptr;
                return;
            }
            ref->GetAttribute(path, attrPtr, ind, indPtr, extend, makeNotNull);
            return;
        }
        TOraType* nested = NestedType(attr);
        if (nested && attr->DataType != dtReference) {
            type = nested;
            if (HoldsPointer(attr) && attrPtr) {
                void* ptr = Peek<void*>(attrPtr);
                TOraObject* child = nullptr;
                if (attr->DataType == dtObject) {
                    if (ind != 0 && extend) {
                        child = dynamic_cast<TOraObject*>(GetComplexAttr(attr, -1));
                        if (!child->GetInstance()) child->CreateInstance();
                        ptr = child->GetInstance();
                        Poke<void*>(attrPtr, ptr);
                    } else if (ind != 0) {
                        ptr = nullptr;
                    }
                    if (ptr) {
                        void* sub = nullptr;
                        Check(OCIObjectGetInd(hEnv, hError, ptr, &sub));
                        if (child) child->SetIndicator(sub);
                        indPtr = sub;
                        if (makeNotNull) Poke<int16_t>(sub, 0);
                    } else {
                        indPtr = nullptr;
                    }
                }
                // A collection's null flag stays the one in its owner's structure.
                attrPtr = ptr;
            }
        }
        if (!attrPtr) return;
    }
}

bool TOraObject::GetAttributeIsNull(const AnsiString& name) {
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    GetAttribute(name, at, ind, indAt, false, false);
    return ind != 0;
}

void TOraObject::SetAttributeIsNull(const AnsiString& name, bool value) {
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    if (value) {
        GetAttribute(name, at, ind, indAt, false, false);
        if (indAt) Poke<int16_t>(indAt, -1);
    } else {
        GetAttribute(name, at, ind, indAt, true, true);
    }
}

void TOraObject::SetAttribute(const AnsiString& name, const void* value, int16_t ind) {
    const AnsiString path = LocaleUpperCase(name);
    const std::size_t close = path.rfind(']');
    if (close == AnsiString::npos) {
        if (path.find('[') != AnsiString::npos) RaiseError("Invalid attribute name");
        CheckAlloc(true);
        SetAttributeNames(instance_, indicator_, GetObjectType(), path, name, value, ind);
        if (ind == 0) Poke<int16_t>(indicator_, 0);
        return;
    }
    const std::size_t open = path.rfind('[', close);
    if (open == AnsiString::npos) RaiseError("Invalid attribute name");
    CheckAlloc(true);
    if (close + 1 == path.size()) {
        // An element: the collection grows to it, then OCI assigns it.
        const AnsiString collectionPath = path.substr(0, open);
        const int32_t index = std::atoi(path.substr(open + 1, close - open - 1).c_str());
        if (index < 0) RaiseError("Invalid attribute name");
        TAttribute* element = AttrByName(path);
        void* at = nullptr;
        void* indAt = nullptr;
        int16_t collInd = -1;
        if (collectionPath.empty())
            at = instance_;  // an element of this collection itself
        else
            GetAttribute(collectionPath, at, collInd, indAt, true, ind == 0);
        auto* collection = static_cast<OCIColl*>(at);
        if (!collection) RaiseError("Object is not allocated");
        sb4 size = 0;
        Check(OCICollSize(hEnv, hError, collection, &size));
        for (; size <= index; ++size) AppendNullElement(element, collection);
        if (!value) {
            boolean exists = 0;
            void* elem = nullptr;
            void* elemInd = nullptr;
            Check(OCICollGetElem(hEnv, hError, collection, index, &exists, &elem, &elemInd));
            if (!exists) RaiseError("Invalid attribute name");
            // OCI hands a string element out by its cell and takes it back as the OCIString itself.
            value = IsStringType(element->DataType) || element->DataType == dtReference ? Peek<void*>(elem)
                                                                                        : elem;
        }
        const int16_t elementInd = ind;
        Check(OCICollAssignElem(hEnv, hError, index, value, &elementInd, collection));
        if (ind == 0) Poke<int16_t>(indicator_, 0);
        return;
    }
    // Names after an element of objects are written on that element.
    if (path[close + 1] != '.') RaiseError("Invalid attribute name");
    const AnsiString elementPath = path.substr(0, close + 1);
    TAttribute* element = AttrByName(elementPath);
    TOraType* elementType = NestedType(element);
    if (element->DataType != dtObject || !elementType) RaiseError("Invalid attribute name");
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t elementInd = -1;
    GetAttribute(elementPath, at, elementInd, indAt, true, ind == 0);
    if (!at) RaiseError("Object is not allocated");
    SetAttributeNames(at, indAt, elementType, path.substr(close + 2), name, value, ind);
    if (ind == 0) Poke<int16_t>(indicator_, 0);
}

void TOraObject::SetAttributeNames(void* instance, void* indicator, TOraType* type, const AnsiString& path,
                                   const AnsiString& name, const void* value, int16_t ind) {
    std::vector<AnsiString> names;
    for (std::size_t from = 0;;) {
        const std::size_t dot = path.find('.', from);
        AnsiString part = path.substr(from, dot == AnsiString::npos ? AnsiString::npos : dot - from);
        const std::size_t start = part.find_first_not_of(' ');
        names.push_back(start == AnsiString::npos ? AnsiString() : part.substr(start));
        if (names.back().empty()) RaiseError("Invalid attribute name");
        if (dot == AnsiString::npos) break;
        from = dot + 1;
    }
    // The call takes fixed arrays of names and lengths; a longer chain would run past them.
    if (names.size() > static_cast<std::size_t>(MaxAttributeNames))
        RaiseError("Attribute path " + name + " has more than " + std::to_string(MaxAttributeNames) +
                   " names");
    const OraText* pointers[MaxAttributeNames] = {};
    ub4 lengths[MaxAttributeNames] = {};
    std::vector<std::unique_ptr<TOCIText>> texts;
    for (std::size_t k = 0; k < names.size(); ++k) {
        texts.push_back(std::make_unique<TOCIText>(names[k], Unicode));
        pointers[k] = texts.back()->Ptr();
        lengths[k] = static_cast<ub4>(texts.back()->Size());
    }
    Check(OCIObjectSetAttr(hEnv, hError, instance, indicator, type->TDO, pointers, lengths,
                           static_cast<ub4>(names.size()), nullptr, 0, ind, nullptr, value));
    if (ind == 0 && indicator) Poke<int16_t>(indicator, 0);
}

void* TOraObject::ResolveForSet(const AnsiString& name, TAttribute*& attr) {
    attr = AttrByName(name);
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    GetAttribute(name, at, ind, indAt, true, true);
    rtl::Assert(at != nullptr, "Assertion failure");
    return at;
}

double TOraObject::NumberToFloat(TAttribute* attr, const void* at) {
    if (attr->SubDataType == dtBFloat) return Peek<float>(at);
    if (attr->SubDataType == dtBDouble) return Peek<double>(at);
    double v = 0;
    Check(OCINumberToReal(hError, static_cast<const OCINumber*>(at), sizeof v, &v));
    return v;
}

int64_t TOraObject::NumberToLargeInt(TAttribute* attr, const void* at) {
    if (attr->SubDataType == dtBFloat || attr->SubDataType == dtBDouble)
        return static_cast<int64_t>(std::trunc(NumberToFloat(attr, at)));
    int64_t v = 0;
    Check(OCINumberToInt(hError, static_cast<const OCINumber*>(at), sizeof v, OCI_NUMBER_SIGNED, &v));
    return v;
}

void TOraObject::FloatToNumber(TAttribute* attr, void* at, double value) {
    if (attr->SubDataType == dtBFloat) return Poke<float>(at, static_cast<float>(value));
    if (attr->SubDataType == dtBDouble) return Poke<double>(at, value);
    Check(OCINumberFromReal(hError, &value, sizeof value, static_cast<OCINumber*>(at)));
}

void TOraObject::LargeIntToNumber(TAttribute* attr, void* at, int64_t value) {
    if (attr->SubDataType == dtBFloat || attr->SubDataType == dtBDouble)
        return FloatToNumber(attr, at, static_cast<double>(value));
    Check(OCINumberFromInt(hError, &value, sizeof value, OCI_NUMBER_SIGNED, static_cast<OCINumber*>(at)));
}

// The number cell of a NUMBER-like attribute; null when the attribute is null.
const void* TOraObject::NumberAttrForGet(const AnsiString& name, TAttribute*& attr) {
    attr = AttrByName(name);
    if (!IsNumberType(attr->DataType)) throw rtl::EConvertError("Cannot convert type to OCINumber");
    if (GetAttributeIsNull(name)) return nullptr;
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    GetAttribute(name, at, ind, indAt, false, false);
    return at;
}

double TOraObject::GetAttrAsFloat(const AnsiString& name) {
    TAttribute* attr = nullptr;
    const void* at = NumberAttrForGet(name, attr);
    return at ? NumberToFloat(attr, at) : 0;
}

// The number cell of a NUMBER-like attribute, made not null for a value to be written.
void* TOraObject::NumberAttrForSet(const AnsiString& name, TAttribute*& attr) {
    attr = AttrByName(name);
    if (!IsNumberType(attr->DataType)) throw rtl::EConvertError("Cannot convert type to OCINumber");
    return ResolveForSet(name, attr);
}

void TOraObject::SetAttrAsFloat(const AnsiString& name, double value) {
    TAttribute* attr = nullptr;
    void* at = NumberAttrForSet(name, attr);
    FloatToNumber(attr, at, value);
}

int64_t TOraObject::GetAttrAsLargeInt(const AnsiString& name) {
    TAttribute* attr = nullptr;
    const void* at = NumberAttrForGet(name, attr);
    return at ? NumberToLargeInt(attr, at) : 0;
}

void TOraObject::SetAttrAsLargeInt(const AnsiString& name, int64_t value) {
    TAttribute* attr = nullptr;
    void* at = NumberAttrForSet(name, attr);
    LargeIntToNumber(attr, at, value);
}

int32_t TOraObject::GetAttrAsInteger(const AnsiString& name) {
    return static_cast<int32_t>(GetAttrAsLargeInt(name));
}

void TOraObject::SetAttrAsInteger(const AnsiString& name, int32_t value) {
    SetAttrAsLargeInt(name, value);
}

OCIDate TOraObject::GetAttrAsOCIDate(const AnsiString& name) {
    TAttribute* attr = AttrByName(name);
    if (attr->DataType != dtDateTime) throw rtl::EConvertError("Cannot convert type to OCIDate");
    OCIDate d{};
    if (GetAttributeIsNull(name)) return d;
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    GetAttribute(name, at, ind, indAt, false, false);
    std::memcpy(&d, at, sizeof d);
    return d;
}

void TOraObject::SetAttrAsOCIDate(const AnsiString& name, const OCIDate& value) {
    TAttribute* attr = AttrByName(name);
    if (attr->DataType != dtDateTime) throw rtl::EConvertError("Cannot convert type to OCIDate");
    std::memcpy(ResolveForSet(name, attr), &value, sizeof value);
}

rtl::TDateTime TOraObject::GetAttrAsDateTime(const AnsiString& name) {
    if (AttrByName(name)->DataType != dtDateTime) throw rtl::EConvertError("Cannot convert type to OCIDate");
    if (GetAttributeIsNull(name)) return 0;
    return OCIDateToDateTime(GetAttrAsOCIDate(name));
}

void TOraObject::SetAttrAsDateTime(const AnsiString& name, rtl::TDateTime value) {
    SetAttrAsOCIDate(name, DateTimeToOCIDate(value));
}

OCIString* TOraObject::GetAttrAsOCIString(const AnsiString& name) {
    TAttribute* attr = AttrByName(name);
    if (!IsStringType(attr->DataType)) throw rtl::EConvertError("Cannot convert type to OCIString");
    void* at = nullptr;
    void* indAt = nullptr;
    int16_t ind = 0;
    GetAttribute(name, at, ind, indAt, false, false);
    return at ? Peek<OCIString*>(at) : nullptr;
}

AnsiString TOraObject::GetAttrAsString(const AnsiString& name) {
    AttrByName(name);
    if (GetAttributeIsNull(name)) {
        GetAttrAsOCIString(name);  // the type check
        return {};
    }
    OCIString* s = GetAttrAsOCIString(name);
    const OraText* p = s ? OCIStringPtr(hEnv, s) : nullptr;
    if (!p) return {};
    const ub4 n = OCIStringSize(hEnv, s);
    if (AttrByName(name)->DataType == dtWideString)
        return rtl::WideToAnsi(std::u16string(reinterpret_cast<const char16_t*>(p), n / 2));
    return AnsiString(reinterpret_cast<const char*>(p), n);
}

std::u16string TOraObject::GetAttrAsWideString(const AnsiString& name) {
    if (AttrByName(name)->DataType == dtString) return rtl::AnsiToWide(GetAttrAsString(name));
    if (GetAttributeIsNull(name)) return {};
    OCIString* s = GetAttrAsOCIString(name);
    const OraText* p = s ? OCIStringPtr(hEnv, s) : nullptr;
    if (!p) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(p), OCIStringSize(hEnv, s) / 2);
}

void TOraObject::SetAttrAsString(const AnsiString& name, const AnsiString& value) {
    TAttribute* attr = AttrByName(name);
    if (attr->DataType == dtWideString) return SetAttrAsWideString(name, rtl::AnsiToWide(value));
    if (attr->DataType != dtString) throw rtl::EConvertError("Cannot convert type to OCIString");
    auto** cell = static_cast<OCIString**>(ResolveForSet(name, attr));
    sword rc = OCIStringResize(hEnv, hError, static_cast<ub4>(value.size() + 1), cell);
    if (rc == OCI_SUCCESS)
        rc = OCIStringAssignText(hEnv, hError, reinterpret_cast<const OraText*>(value.data()),
                                 static_cast<ub4>(value.size()), cell);
    Check(rc);
}

void TOraObject::SetAttrAsWideString(const AnsiString& name, const std::u16string& value) {
    TAttribute* attr = AttrByName(name);
    if (attr->DataType == dtString) return SetAttrAsString(name, rtl::WideToAnsi(value));
    if (attr->DataType != dtWideString) throw rtl::EConvertError("Cannot convert type to OCIString");
    auto** cell = static_cast<OCIString**>(ResolveForSet(name, attr));
    Check(OCIStringAssignText(hEnv, hError, reinterpret_cast<const OraText*>(value.data()),
                              static_cast<ub4>(value.size() * 2), cell));
}

// ---------------------------------------------------------------------------------------------
// Child fields of record storage

void TOraObject::GetAttributeValue(const AnsiString& name, void*& attrBuf, bool& isBlank,
                                   bool& nativeBuffer) {
    isBlank = GetAttributeIsNull(name);
    TAttribute* attr = AttrByName(name);
    const TDataType t = attr->DataType;
    // Objects, collections and LOBs are handed out even when null: a dataset field writes into them.
    const bool objectLike =
        t == dtObject || t == dtReference || t == dtArray || t == dtTable || IsOraLobType(t);
    if (isBlank && !objectLike) return;
    void* buf = std::calloc(static_cast<std::size_t>(std::max(attr->Size, 1)), 1);
    if (!buf) throw std::bad_alloc();
    try {
        switch (t) {
            case dtString:
            case dtWideString: {
                if (t == dtString) {
                    AnsiString s = GetAttrAsString(name);
                    if (s.size() > attr->Length) s.resize(attr->Length);
                    std::memcpy(buf, s.data(), s.size());
                } else {
                    std::u16string s = GetAttrAsWideString(name);
                    if (s.size() > attr->Length) s.resize(attr->Length);
                    std::memcpy(buf, s.data(), s.size() * 2);
                }
                break;
            }
            case dtInteger:
                Poke<int32_t>(buf, GetAttrAsInteger(name));
                break;
            case dtFloat:
                Poke<double>(buf, GetAttrAsFloat(name));
                break;
            case dtDateTime:
                Poke<double>(buf, GetAttrAsDateTime(name));
                break;
            case dtLargeint:
                Poke<int64_t>(buf, GetAttrAsLargeInt(name));
                break;
            case dtObject:
            case dtReference:
            case dtArray:
            case dtTable:
                Poke<void*>(buf, GetAttrAsObject(name)->GetHandle());
                break;
            default:
                rtl::Assert(IsDescriptorType(t), "Unknown data type");
                Poke<void*>(buf, GetComplexAttrByName(name)->GetHandle());
        }
    } catch (...) {
        std::free(buf);
        throw;
    }
    attrBuf = buf;
    nativeBuffer = false;
}

void TOraObject::SetAttributeValue(const AnsiString& name, const void* valuePtr) {
    TAttribute* attr = AttrByName(name);
    if (!valuePtr) {
        SetAttributeIsNull(name, true);
        return;
    }
    switch (attr->DataType) {
        case dtString:
            SetAttrAsString(name, static_cast<const char*>(valuePtr));
            break;
        case dtWideString:
            SetAttrAsWideString(name, static_cast<const char16_t*>(valuePtr));
            break;
        case dtInteger:
            SetAttrAsInteger(name, Peek<int32_t>(valuePtr));
            break;
        case dtFloat:
            SetAttrAsFloat(name, Peek<double>(valuePtr));
            break;
        case dtLargeint:
            SetAttrAsLargeInt(name, Peek<int64_t>(valuePtr));
            break;
        case dtDateTime: {
            const double msecs = std::trunc(Peek<double>(valuePtr));
            SetAttrAsDateTime(name, rtl::TimeStampToDateTime(rtl::MSecsToTimeStamp(msecs)));
            break;
        }
        default:
            RaiseError("Unknown data type");
    }
}

}  // namespace dac
