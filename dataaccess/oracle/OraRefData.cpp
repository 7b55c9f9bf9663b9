// TRefData: a REF's target as one record.
#include "dataaccess/oracle/OraRefData.h"

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraError.h"

namespace dac {

namespace {

TOraObject* ValueAt(void* handle) {
    return dynamic_cast<TOraObject*>(TSharedObject::FromHandle(handle));
}

}  // namespace

TRefData::~TRefData() {
    FreeShared(Ref);
}

void TRefData::SetRef(TOraRef* value) {
    if (value == Ref) return;
    FreeShared(Ref);
    Ref = value;
    if (Ref) Ref->AddRef();
}

void TRefData::InternalPrepare() {
    if (!Ref) RaiseError("Reference is not defined");
}

void TRefData::InternalOpen(bool disableInitFields) {
    TData::InternalOpen(disableInitFields);
    eof_ = false;
    if (!disableInitFields) InitFields();
}

void TRefData::InternalInitFields() {
    if (!Ref) RaiseError("Reference is not defined");
    TOraType* type = Ref->GetObjectType();
    if (!type) RaiseError("Type of object must be defined");
    TFieldDesc* field = GetFieldDescType().Create();
    field->Name = "REF";
    field->ActualName = field->Name;
    field->DataType = type->DataType;
    field->Size = static_cast<int32_t>(OraPtrCell);
    field->SetObjectType(type);
    field->HiddenObject = true;
    field->FieldNo = 1;
    fields_.Add(field);
    InitObjectFields(type, field);
}

void TRefData::Reopen() {
    FreeData();
    InitData();
    InternalOpen(true);
}

bool TRefData::IsComplexFieldType(TDataType t) {
    return (t >= dtObject && t <= dtTable) || t == dtStringRef || t == dtVarBytesRef ||
           t == dtWideStringRef || t == dtCursor || (t >= dtTimeStamp && t <= dtIntervalDS) ||
           t == dtNumber || t == dtXML || t == dtBlob || t == dtMemo || t == dtWideMemo ||
           (t >= dtOraBlob && t <= dtCFile) || t == dtWideOraClob;
}

bool TRefData::HasTarget() {
    if (!Ref || Ref->GetIsNull()) return false;
    if (!Ref->GetInstance()) Ref->Pin();  // a target gone from the server leaves the REF null
    return !Ref->GetIsNull() && Ref->GetInstance();
}

void TRefData::GetRecord(void* recBuf) {
    if (eof_ || bof_ || !HasTarget()) return;
    // The record's object value is the REF value itself; the record holds a reference to it.
    TFieldDesc* field = fields_[0];
    void* held = PlacePointer(field, recBuf);
    if (held == Ref->GetHandle()) return;
    FreeShared(TSharedObject::FromHandle(held));
    Ref->AddRef();
    SetPlacePointer(field, recBuf, Ref->GetHandle());
}

void TRefData::GetNextRecord(void* recBuf) {
    if (eof_) return;
    if (bof_ && HasTarget()) {
        bof_ = false;
        GetRecord(recBuf);
    } else {
        eof_ = true;
    }
}

void TRefData::GetPriorRecord(void* recBuf) {
    if (bof_) return;
    if (eof_ && HasTarget()) {
        eof_ = false;
        GetRecord(recBuf);
    } else {
        bof_ = true;
    }
}

void TRefData::PutRecord(void* recBuf) {
    if (eof_ || bof_ || !Ref || Ref->GetIsNull()) return;
    // The attributes went into the target through the child fields already.
    rtl::Assert(PlacePointer(fields_[0], recBuf) == Ref->GetHandle(), "Assertion failure");
}

void TRefData::AppendRecord(void*) {}

void TRefData::InsertRecord(void* recBuf) {
    AppendRecord(recBuf);
}

void TRefData::UpdateRecord(void*) {
    if (!HasTarget()) return;
    Ref->Check(OCIObjectMarkUpdate(Ref->hEnv, Ref->hError, Ref->GetInstance()));
    Ref->Flush();
}

void TRefData::DeleteRecord() {}

bool TRefData::ValueField(TFieldDesc* f, bool withBlob) {
    if (f->HasParent() || f->Kind == 2) return false;
    return withBlob || !IsBlobFieldType(f->DataType);
}

void TRefData::CreateComplexFields(void* recBuf, bool withBlob) {
    TData::CreateComplexFields(recBuf, withBlob);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!ValueField(f, withBlob)) continue;
        auto* type = static_cast<TOraType*>(f->ObjectType());
        TOraObject* value = nullptr;
        switch (f->DataType) {
            case dtObject:
                value = new TOraObject(type);
                break;
            case dtReference:
                value = new TOraRef(type);
                break;
            case dtXML:
                value = new TOraXML(type);
                break;
            default:
                continue;
        }
        if (Ref) value->hError = Ref->hError;
        if (f->DataType != dtReference && Ref && Ref->GetOCISvcCtx()) {
            try {
                value->AllocObjectOn(Ref->GetOCISvcCtx());
            } catch (...) {
                value->Free();
                throw;
            }
        }
        SetPlacePointer(f, recBuf, value->GetHandle());
    }
}

void TRefData::FreeComplexFields(void* recBuf, bool withBlob) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!ValueField(f, withBlob)) continue;
        if (f->DataType != dtObject && f->DataType != dtReference && f->DataType != dtXML) continue;
        FreeShared(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        SetPlacePointer(f, recBuf, nullptr);
    }
    TData::FreeComplexFields(recBuf, withBlob);
}

void TRefData::CopyComplexFields(void* source, void* dest, bool withBlob) {
    TData::CopyComplexFields(source, dest, withBlob);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!ValueField(f, withBlob)) continue;
        if (f->DataType != dtObject && f->DataType != dtReference && f->DataType != dtXML) continue;
        TOraObject* from = ValueAt(PlacePointer(f, source));
        TOraObject* to = ValueAt(PlacePointer(f, dest));
        if (from && to && from != to) to->Assign(from);
    }
}

void TRefData::GetBookmark(void*) {}

void TRefData::SetToBookmark(const void*) {
    bof_ = false;
    eof_ = false;
}

}  // namespace dac
