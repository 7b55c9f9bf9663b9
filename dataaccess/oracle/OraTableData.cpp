// TTableData: the elements of a collection as records.
#include "dataaccess/oracle/OraTableData.h"

#include <algorithm>
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

void UnknownDataType() {
    rtl::Assert(false, "Unknown data type");
}

bool IsObjectValueType(TDataType t) {
    return t == dtObject || t == dtReference;
}

}  // namespace

TTableData::~TTableData() {
    try {
        Close();
    } catch (...) {
    }
    FreeShared(table_);
    table_ = nullptr;
}

void TTableData::SetTable(TOraArray* value) {
    if (value == table_) return;
    FreeShared(table_);
    table_ = value;
    if (table_) table_->AddRef();
}

void TTableData::Check(sword status) {
    rtl::Assert(table_ != nullptr, "Assertion failure");
    table_->Check(status);
}

TDataType TTableData::ItemType() {
    rtl::Assert(table_ && table_->GetObjectType() && table_->GetObjectType()->GetAttributeCount() > 0,
                "Assertion failure");
    return table_->GetObjectType()->GetAttribute(0)->DataType;
}

int32_t TTableData::RecordIndex(const void* recBuf) const {
    return PeekPacked<int32_t>(recBuf, indexOfs_);
}

TOraObject* TTableData::ObjectIn(TFieldDesc* field, void* recBuf) const {
    return dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
}

// ---------------------------------------------------------------------------------------------
// Fields and opening

void TTableData::InternalOpen(bool disableInitFields) {
    TMemData::InternalOpen(disableInitFields);
    eof_ = false;
    lastIndex_ = -1;
    if (!disableInitFields) InitFields();
}

void TTableData::InternalInitFields() {
    if (!table_ || !table_->GetObjectType()) return;
    TOraType* type = table_->GetObjectType();
    TAttribute* element = type->GetAttribute(0);
    if (element->DataType == dtObject) {
        TFieldDesc* desc = GetFieldDescType().Create();
        desc->Name = element->Name;
        desc->ActualName = element->Name;
        desc->DataType = element->ObjectType() ? element->ObjectType()->DataType : dtObject;
        desc->Size = static_cast<int32_t>(sizeof(void*));
        desc->SetObjectType(element->ObjectType());
        desc->HiddenObject = true;
        desc->FieldNo = 1;
        fields_.Add(desc);
        if (element->ObjectType()) InitObjectFields(element->ObjectType(), desc);
    } else {
        InitObjectFields(type, nullptr);
    }
    if (fields_.Count() == 0) return;
    TFieldDesc* first = fields_[0];
    switch (element->DataType) {
        case dtString:
            first->Size = first->Length + 1;
            break;
        case dtWideString:
            first->Size = (first->Length + 1) * 2;
            break;
        case dtInteger:
            first->Size = 4;
            break;
        case dtFloat:
        case dtDateTime:
        case dtLargeint:
            first->Size = 8;
            break;
        default:
            break;
    }
}

void TTableData::InitFields() {
    TMemData::InitFields();
    indexOfs_ = static_cast<uint16_t>(recordSize_ - 4);
}

void TTableData::SetToEnd() {
    while (Fetch()) {
    }
    TMemData::SetToEnd();
}

void TTableData::Reopen() {
    FreeData();
    InitData();
    InternalOpen(true);
}

bool TTableData::IsBlobFieldType(TDataType t) {
    return t == dtBlob || t == dtMemo || t == dtWideMemo || (t >= dtOraBlob && t <= dtCFile) ||
           t == dtWideOraClob;
}

bool TTableData::IsComplexFieldType(TDataType t) {
    return (t >= dtObject && t <= dtTable) || t == dtStringRef || t == dtVarBytesRef ||
           t == dtWideStringRef || t == dtCursor || (t >= dtTimeStamp && t <= dtIntervalDS) ||
           t == dtNumber || t == dtXML || IsBlobFieldType(t);
}

// ---------------------------------------------------------------------------------------------
// Fetching and reading

bool TTableData::Fetch(bool) {
    if (!table_) return false;
    table_->CheckAlloc(false);
    if (table_->GetIsNull() || !table_->GetInstance()) return false;
    sb4 next = lastIndex_;
    boolean exists = 0;
    Check(OCITableNext(table_->hEnv, OCIErrorHandle(), lastIndex_, table_->Collection(), &next, &exists));
    if (!exists) return false;
    lastIndex_ = next;
    PItemHeader item;
    blockManager_.AllocItem(item);
    void* rec = ItemHeader::Data(item);
    std::memset(rec, 0, static_cast<size_t>(recordSize_));
    PokePacked<int32_t>(rec, indexOfs_, lastIndex_);
    if (IsObjectValueType(ItemType()) && fields_.Count() > 0) {
        TOraObject* element =
            ItemType() == dtObject ? table_->GetItemAsObject(lastIndex_) : table_->GetItemAsRef(lastIndex_);
        element->AddRef();
        SetPlacePointer(fields_[0], rec, element->GetHandle());
    }
    const int32_t order = LastItem ? ItemHeader::Order(LastItem) + 1 : 1;
    LinkItem(item);
    ItemHeader::SetOrder(item, order);
    ItemHeader::SetFlag(item, ItemUsed);
    ItemHeader::SetFilterResult(item, 0);
    ItemHeader::SetRollback(item, nullptr);
    ItemHeader::SetStatus(item, ItemUnmodified);
    ItemHeader::SetUpdateResult(item, urNone);
    ++recordCount_;
    return true;
}

void TTableData::GetNextRecord(void* recBuf) {
    if (Eof()) return;
    if (Bof()) {
        if (FirstItem || Fetch())
            bof_ = false;
        else
            eof_ = true;
        CurrentItem = FirstItem;
        if (CurrentItem && recBuf) GetRecord(recBuf);
        return;
    }
    PItemHeader old = CurrentItem;
    CurrentItem = old ? ItemHeader::Next(old) : FirstItem;
    if (CurrentItem) {
        if (recBuf) GetRecord(recBuf);
    } else if (Fetch()) {
        CurrentItem = old ? ItemHeader::Next(old) : FirstItem;
        if (recBuf) GetRecord(recBuf);
    } else {
        CurrentItem = nullptr;
        eof_ = true;
    }
}

void TTableData::GetRecord(void* recBuf) {
    TMemData::GetRecord(recBuf);
    if (Eof() || Bof() || !CurrentItem || !table_ || fields_.Count() == 0) return;
    const int32_t index = RecordIndex(recBuf);
    const bool isNull = table_->GetItemIsNull(index);
    SetNull(1, recBuf, isNull);
    if (isNull) return;
    TFieldDesc* first = fields_[0];
    uint8_t* place = Place(first, recBuf);
    switch (ItemType()) {
        case dtString: {
            const AnsiString text = table_->GetItemAsString(index);
            const size_t n = std::min<size_t>(text.size(), first->Length);
            std::memcpy(place, text.data(), n);
            place[n] = 0;
            break;
        }
        case dtWideString: {
            const std::u16string text = table_->GetItemAsWideString(index);
            const size_t n = std::min<size_t>(text.size(), first->Length);
            std::memcpy(place, text.data(), n * 2);
            PokePacked<char16_t>(place, n * 2, u'\0');
            break;
        }
        case dtInteger:
            PokePacked<int32_t>(place, 0, table_->GetItemAsInteger(index));
            break;
        case dtFloat:
            PokePacked<double>(place, 0, table_->GetItemAsFloat(index));
            break;
        case dtDateTime:
            PokePacked<double>(place, 0, table_->GetItemAsDateTime(index));
            break;
        case dtLargeint:
            PokePacked<int64_t>(place, 0, table_->GetItemAsLargeInt(index));
            break;
        case dtObject:
        case dtReference:
            break;  // the handle came with the item's record
        default:
            UnknownDataType();
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

void TTableData::PutRecord(void* recBuf) {
    TMemData::PutRecord(recBuf);
    if (Eof() || Bof() || !CurrentItem || !table_ || fields_.Count() == 0) return;
    const int32_t index = RecordIndex(recBuf);
    const TDataType itemType = ItemType();
    TFieldDesc* first = fields_[0];
    if (itemType != dtObject && GetNull(1, recBuf)) {
        table_->SetItemIsNull(index, true);
        return;
    }
    uint8_t* place = Place(first, recBuf);
    switch (itemType) {
        case dtString:
            table_->SetItemAsString(index, AnsiString(reinterpret_cast<const char*>(place)));
            break;
        case dtWideString:
            table_->SetItemAsWideString(index, std::u16string(reinterpret_cast<const char16_t*>(place)));
            break;
        case dtInteger:
            table_->SetItemAsInteger(index, PeekPacked<int32_t>(place, 0));
            break;
        case dtFloat:
            table_->SetItemAsFloat(index, PeekPacked<double>(place, 0));
            break;
        case dtLargeint:
            table_->SetItemAsLargeInt(index, PeekPacked<int64_t>(place, 0));
            break;
        case dtDateTime:
            table_->SetItemAsDateTime(index, PeekPacked<double>(place, 0));
            break;
        case dtObject: {
            // An edit works on a copy of the element: its attributes go into the element.
            TOraObject* value = ObjectIn(first, recBuf);
            if (value && value != table_->GetItemAsObject(index)) table_->SetItemAsObject(index, value);
            break;
        }
        case dtReference: {
            // A REF record of its own goes into the element's REF.
            TOraObject* value = ObjectIn(first, recBuf);
            TOraRef* element = table_->GetItemAsRef(index);
            if (value && value != element) element->Assign(value);
            break;
        }
        default:
            UnknownDataType();
    }
}

void TTableData::DoApplyInsert(void* recBuf) {
    TMemData::DoApplyInsert(recBuf);
    if (!table_) return;
    const TDataType itemType = ItemType();
    switch (itemType) {
        case dtString:
        case dtWideString:
        case dtInteger:
        case dtFloat:
        case dtLargeint:
        case dtDateTime:
        case dtObject:
        case dtReference:
            break;
        default:
            UnknownDataType();
    }
    table_->CheckAlloc(true);
    if (table_->GetIsNull()) table_->SetIsNull(false);
    lastIndex_ = table_->AppendItem();
    if (itemType == dtReference && fields_.Count() > 0) {
        // The new element takes the record's REF, and the record shows the element.
        TOraRef* element = table_->GetItemAsRef(lastIndex_);
        TOraObject* value = ObjectIn(fields_[0], recBuf);
        if (value && value != element) {
            element->Assign(value);
            value->Free();
        }
        element->AddRef();
        SetPlacePointer(fields_[0], recBuf, element->GetHandle());
    }
    if (itemType == dtObject && fields_.Count() > 0) {
        // The new element takes the record's attributes, and the record shows the element.
        TOraObject* element = table_->GetItemAsObject(lastIndex_);
        TOraObject* value = ObjectIn(fields_[0], recBuf);
        if (value && value != element) {
            table_->SetItemAsObject(lastIndex_, value);
            value->Free();
        }
        element->AddRef();
        SetPlacePointer(fields_[0], recBuf, element->GetHandle());
    }
    PokePacked<int32_t>(recBuf, indexOfs_, lastIndex_);
}

void TTableData::DoApplyDelete(void* recBuf) {
    TMemData::DoApplyDelete(recBuf);
    if (!table_ || !CurrentItem) return;
    auto* nested = dynamic_cast<TOraNestTable*>(table_);
    if (!nested) throw rtl::Exception("Elements of a VARRAY cannot be deleted one by one");
    nested->DeleteItem(RecordIndex(ItemRecord(CurrentItem)));
}

void TTableData::CancelRecord(void* recBuf) {
    TMemData::CancelRecord(recBuf);
    if (!table_ || !CurrentItem || fields_.Count() == 0 || ItemType() != dtObject) return;
    void* stored = ItemRecord(CurrentItem);
    TOraObject* value = ObjectIn(fields_[0], stored);
    const int32_t index = RecordIndex(stored);
    if (value && value != table_->GetItemAsObject(index)) table_->SetItemAsObject(index, value);
}

// ---------------------------------------------------------------------------------------------
// Record values

bool TTableData::IsValueField(TFieldDesc* field, bool withBlob) {
    if (field->HasParent() || field->Kind == 2) return false;
    return withBlob || !IsBlobFieldType(field->DataType);
}

void TTableData::CreateComplexFields(void* recBuf, bool withBlob) {
    TMemData::CreateComplexFields(recBuf, withBlob);
    if (!table_) return;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsValueField(f, withBlob) || !IsObjectValueType(f->DataType)) continue;
        auto* type = static_cast<TOraType*>(f->ObjectType());
        TOraObject* value = nullptr;
        if (f->DataType == dtReference) {
            value = new TOraRef(type);  // not allocated: a REF has no instance of its own
            value->hError = table_->hError;
            value->SetOCISvcCtx(table_->GetOCISvcCtx());
        } else {
            value = new TOraObject(type);
            value->hError = table_->hError;
            value->AllocObjectOn(table_->GetOCISvcCtx());
        }
        SetPlacePointer(f, recBuf, value->GetHandle());
    }
}

void TTableData::FreeComplexFields(void* recBuf, bool withBlob) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsValueField(f, withBlob) || !IsObjectValueType(f->DataType)) continue;
        if (TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(f, recBuf))) {
            const bool last = obj->RefCount() == 1;
            obj->Free();
            if (last) SetPlacePointer(f, recBuf, nullptr);
        }
    }
    TMemData::FreeComplexFields(recBuf, withBlob);
}

void TTableData::CopyComplexFields(void* source, void* dest, bool withBlob) {
    TMemData::CopyComplexFields(source, dest, withBlob);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsValueField(f, withBlob) || !IsObjectValueType(f->DataType)) continue;
        TOraObject* from = ObjectIn(f, source);
        TOraObject* to = ObjectIn(f, dest);
        if (from && to && from != to) to->Assign(from);
    }
}

}  // namespace dac
