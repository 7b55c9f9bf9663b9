// VARRAY and nested-table values: elements by 0-based index, growing and trimming, typed element
// access, element null flags and child values for object elements.
#include <cmath>
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraError.h"
#include "dataaccess/oracle/OraObjectCells.h"
#include "dataaccess/oracle/OraObjects.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

using namespace objcells;

// Elements OCI holds through a pointer: the element address is the address of that pointer.
// Elements whose cell holds a pointer: OCICollGetElem gives the cell, the assign calls take what it
// points at (strings, REFs, collections, and the descriptors of timestamps, intervals and LOBs).
bool PointerElement(TDataType t) {
    return t == dtString || t == dtWideString || t == dtArray || t == dtTable || t == dtReference ||
           IsDescriptorType(t);
}

}  // namespace

void TOraArray::CheckType() {
    TOraObject::CheckType();
    const TDataType t = GetObjectType()->DataType;
    if (t != dtArray && t != dtTable) RaiseError("Type of object must be Array");
}

void TOraNestTable::CheckType() {
    TOraArray::CheckType();
    if (GetObjectType()->DataType != dtTable) RaiseError("Type of object must be Table");
}

TAttribute* TOraArray::Element() {
    CheckType();
    if (GetObjectType()->GetAttributeCount() == 0) RaiseError("Invalid attribute name");
    return GetObjectType()->GetAttribute(0);
}

TDataType TOraArray::GetItemType() {
    return Element()->DataType;
}

TDataType TOraArray::GetItemSubType() {
    return Element()->SubDataType;
}

int32_t TOraArray::GetSize() {
    CheckAlloc(true);
    sb4 n = 0;
    Check(OCICollSize(hEnv, hError, Collection(), &n));
    return n;
}

int32_t TOraNestTable::GetSize() {
    CheckAlloc(true);
    sb4 n = 0;
    Check(OCITableSize(hEnv, hError, Collection(), &n));
    return n;
}

void TOraNestTable::DeleteItem(int32_t index) {
    Check(OCITableDelete(hEnv, hError, index, Collection()));
}

void TOraArray::SetSize(int32_t value) {
    const int32_t size = GetSize();
    if (size < value)
        AppendItems(value - 1);
    else
        Check(OCICollTrim(hEnv, hError, size - value, Collection()));
}

void TOraArray::CheckIndex(int32_t index) {
    if (index >= GetSize()) SetSize(index + 1);
}

void TOraArray::AppendItems(int32_t index) {
    for (int32_t n = index - GetSize() + 1; n > 0; --n) AppendItem();
}

int32_t TOraArray::AppendItem() {
    CheckAlloc(true);
    AppendNullElement(Element(), Collection());
    sb4 n = 0;
    Check(OCICollSize(hEnv, hError, Collection(), &n));
    return n - 1;
}

bool TOraArray::GetElem(int32_t index, void*& elem, void*& ind) {
    CheckAlloc(true);
    boolean exists = 0;
    elem = ind = nullptr;
    Check(OCICollGetElem(hEnv, hError, Collection(), index, &exists, &elem, &ind));
    return exists != 0;
}

bool TOraArray::GetItemIsNull(int32_t index) {
    void *elem, *ind;
    return GetElem(index, elem, ind) && Peek<int16_t>(ind) != 0;
}

void TOraArray::SetItemIsNull(int32_t index, bool value) {
    CheckIndex(index);
    void *elem, *ind;
    GetElem(index, elem, ind);
    const int16_t flag = value ? -1 : 0;
    if (Element()->DataType == dtObject) {
        std::memcpy(ind, &flag, sizeof flag);  // the element's atomic indicator, in place
        return;
    }
    const void* v = PointerElement(Element()->DataType) ? Peek<void*>(elem) : elem;
    Check(OCICollAssignElem(hEnv, hError, index, v, &flag, Collection()));
}

void TOraArray::AssignNotNull(int32_t index, const void* value) {
    Check(OCICollAssignElem(hEnv, hError, index, value, NotNullIndicator(), Collection()));
    const int16_t notNull = 0;
    std::memcpy(GetIndicator(), &notNull, sizeof notNull);
}

// The number cell of a NUMBER-like element; null when the element is missing or null.
const void* TOraArray::NumberItemForGet(int32_t index, bool integral, TAttribute*& e) {
    e = Element();
    if (!IsNumberType(e->DataType))
        throw rtl::EConvertError(integral ? "Cannot convert type to Integer"
                                          : "Cannot convert type to Float");
    void *elem, *ind;
    if (!GetElem(index, elem, ind) || Peek<int16_t>(ind) != 0) return nullptr;
    return elem;
}

void TOraArray::SetNumberItem(int32_t index, double f, int64_t i, bool integral) {
    TAttribute* e = Element();
    if (!IsNumberType(e->DataType))
        throw rtl::EConvertError(integral ? "Cannot convert type to Integer"
                                          : "Cannot convert type to Float");
    CheckIndex(index);
    unsigned char block[sizeof(OCINumber)] = {};
    if (e->SubDataType == dtBFloat) {
        const float v = static_cast<float>(integral ? static_cast<double>(i) : f);
        std::memcpy(block, &v, sizeof v);
    } else if (e->SubDataType == dtBDouble) {
        const double v = integral ? static_cast<double>(i) : f;
        std::memcpy(block, &v, sizeof v);
    } else if (integral) {
        Check(OCINumberFromInt(hError, &i, sizeof i, OCI_NUMBER_SIGNED, reinterpret_cast<OCINumber*>(block)));
    } else {
        Check(OCINumberFromReal(hError, &f, sizeof f, reinterpret_cast<OCINumber*>(block)));
    }
    AssignNotNull(index, block);
}

double TOraArray::GetItemAsFloat(int32_t index) {
    TAttribute* e = nullptr;
    const void* elem = NumberItemForGet(index, false, e);
    return elem ? NumberToFloat(e, elem) : 0;
}

void TOraArray::SetItemAsFloat(int32_t index, double value) {
    SetNumberItem(index, value, 0, false);
}

int64_t TOraArray::GetItemAsLargeInt(int32_t index) {
    TAttribute* e = nullptr;
    const void* elem = NumberItemForGet(index, true, e);
    return elem ? NumberToLargeInt(e, elem) : 0;
}

void TOraArray::SetItemAsLargeInt(int32_t index, int64_t value) {
    SetNumberItem(index, 0, value, true);
}

int32_t TOraArray::GetItemAsInteger(int32_t index) {
    return static_cast<int32_t>(GetItemAsLargeInt(index));
}

void TOraArray::SetItemAsInteger(int32_t index, int32_t value) {
    SetItemAsLargeInt(index, value);
}

rtl::TDateTime TOraArray::GetItemAsDateTime(int32_t index) {
    void *elem, *ind;
    if (!GetElem(index, elem, ind) || Peek<int16_t>(ind) != 0) return 0;
    if (Element()->DataType != dtDateTime) throw rtl::EConvertError("Cannot convert type to Date");
    return OCIDateToDateTime(Peek<OCIDate>(elem));
}

void TOraArray::SetItemAsDateTime(int32_t index, rtl::TDateTime value) {
    if (Element()->DataType != dtDateTime) throw rtl::EConvertError("Cannot convert type to Date");
    CheckIndex(index);
    const OCIDate d = DateTimeToOCIDate(value);
    AssignNotNull(index, &d);
}

AnsiString TOraArray::GetItemAsString(int32_t index) {
    const TDataType t = Element()->DataType;
    if (t == dtWideString) return rtl::WideToAnsi(GetItemAsWideString(index));
    if (t != dtString) throw rtl::EConvertError("Cannot convert type to String");
    void *elem, *ind;
    if (!GetElem(index, elem, ind) || Peek<int16_t>(ind) != 0) return {};
    auto* s = Peek<OCIString*>(elem);
    const OraText* p = s ? OCIStringPtr(hEnv, s) : nullptr;
    return p ? AnsiString(reinterpret_cast<const char*>(p), OCIStringSize(hEnv, s)) : AnsiString();
}

std::u16string TOraArray::GetItemAsWideString(int32_t index) {
    const TDataType t = Element()->DataType;
    if (t == dtString) return rtl::AnsiToWide(GetItemAsString(index));
    if (t != dtWideString) throw rtl::EConvertError("Cannot convert type to String");
    void *elem, *ind;
    if (!GetElem(index, elem, ind) || Peek<int16_t>(ind) != 0) return {};
    auto* s = Peek<OCIString*>(elem);
    const OraText* p = s ? OCIStringPtr(hEnv, s) : nullptr;
    return p ? std::u16string(reinterpret_cast<const char16_t*>(p), OCIStringSize(hEnv, s) / 2)
             : std::u16string();
}

// An empty text makes the element null: no text holding a NUL character is stored.
void TOraArray::SetItemAsString(int32_t index, const AnsiString& value) {
    const TDataType t = Element()->DataType;
    if (t == dtWideString) return SetItemAsWideString(index, rtl::AnsiToWide(value));
    if (t != dtString) throw rtl::EConvertError("Cannot convert type to String");
    if (value.empty()) return SetItemIsNull(index, true);
    CheckIndex(index);
    void *elem, *ind;
    rtl::Assert(GetElem(index, elem, ind), "Assertion failure");
    auto** cell = static_cast<OCIString**>(elem);
    Check(OCIStringAssignText(hEnv, hError, reinterpret_cast<const OraText*>(value.data()),
                              static_cast<ub4>(value.size()), cell));
    AssignNotNull(index, Peek<OCIString*>(cell));
}

void TOraArray::SetItemAsWideString(int32_t index, const std::u16string& value) {
    const TDataType t = Element()->DataType;
    if (t == dtString) return SetItemAsString(index, rtl::WideToAnsi(value));
    if (t != dtWideString) throw rtl::EConvertError("Cannot convert type to String");
    if (value.empty()) return SetItemIsNull(index, true);
    CheckIndex(index);
    void *elem, *ind;
    rtl::Assert(GetElem(index, elem, ind), "Assertion failure");
    auto** cell = static_cast<OCIString**>(elem);
    Check(OCIStringAssignText(hEnv, hError, reinterpret_cast<const OraText*>(value.data()),
                              static_cast<ub4>(value.size() * 2), cell));
    AssignNotNull(index, Peek<OCIString*>(cell));
}

template <class Child>
Child* TOraArray::ElementChild(int32_t index, TDataType type, const char* refusal, void*& elem, void*& ind,
                               bool& exists) {
    CheckAlloc(true);
    TAttribute* e = Element();
    if (e->DataType != type) throw rtl::EConvertError(refusal);
    sb4 size = 0;
    Check(OCICollSize(hEnv, hError, Collection(), &size));
    if (size <= index) {
        for (; size <= index; ++size) AppendNullElement(e, Collection());
        const int16_t notNull = 0;
        std::memcpy(GetIndicator(), &notNull, sizeof notNull);
    }
    exists = GetElem(index, elem, ind);
    auto* child = dynamic_cast<Child*>(ObjectAt(index));
    if (!child) {
        child = new Child();
        child->Owner = this;
        child->SetObjectType(static_cast<TOraType*>(e->ObjectType()));
        child->SetOCISvcCtx(SvcCtx);
        ObjectSlot(index) = child;
    }
    return child;
}

TOraObject* TOraArray::GetItemAsObject(int32_t index) {
    void *elem, *ind;
    bool exists = false;
    auto* child =
        ElementChild<TOraObject>(index, dtObject, "Cannot convert type to Object", elem, ind, exists);
    if (exists) {
        child->SetInstance(elem);
        child->SetIndicator(ind);
    }
    return child;
}

TOraRef* TOraArray::GetItemAsRef(int32_t index) {
    void *elem, *ind;
    bool exists = false;
    auto* child =
        ElementChild<TOraRef>(index, dtReference, "Cannot convert type to Reference", elem, ind, exists);
    // The element's REF, used in place; pinning is the caller's.
    if (exists) child->TakeCellRef(elem, false);
    return child;
}

void TOraArray::SetItemAsObject(int32_t index, TOraObject* value) {
    CheckIndex(index);
    if (Element()->DataType != dtObject) throw rtl::EConvertError("Cannot convert type to Object");
    Check(OCICollAssignElem(hEnv, hError, index, value->GetInstance(), value->GetIndicator(), Collection()));
    const int16_t notNull = 0;
    std::memcpy(GetIndicator(), &notNull, sizeof notNull);
}

void TOraArray::ChildAlloc(TOraObject* child) {
    // A REF child's instance is its pinned target, never an element.
    if (!Objects || dynamic_cast<TOraRef*>(child)) return;
    for (std::size_t i = 0; i < Objects->size(); ++i) {
        if ((*Objects)[i] != child) continue;
        AppendItems(static_cast<int32_t>(i));
        void *elem, *ind;
        if (GetElem(static_cast<int32_t>(i), elem, ind)) {
            child->SetInstance(elem);
            child->SetIndicator(ind);
        }
    }
}

void TOraArray::Assign(TOraObject* source) {
    auto* from = dynamic_cast<TOraArray*>(source);
    if (!from) return TOraObject::Assign(source);
    CheckAlloc(true);
    from->CheckAlloc(true);
    Check(OCICollAssign(hEnv, hError, from->Collection(), Collection()));
    std::memcpy(GetIndicator(), from->GetIndicator(), sizeof(int16_t));
}

void TOraNestTable::Assign(TOraObject* source) {
    TOraArray::Assign(source);
}

}  // namespace dac
