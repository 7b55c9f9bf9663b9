// TDAParam and TDAParams: parameters whose blob values live in a shared TBlob, with a declared
// size and the national-character flag.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace dac {

TDAParam::TDAParam(rtl::TCollection* owner) : db::TParam(owner) {
    SetBound(true);
}

TDAParam::~TDAParam() {
    FreeObject();
}

bool TDAParam::IsBlobDataType(db::TFieldType dataType) const {
    return dataType == db::ftBlob || dataType == db::ftMemo || dataType == db::ftWideMemo;
}

bool TDAParam::IsObjectDataType(db::TFieldType dataType) const {
    return IsBlobDataType(dataType);
}

void TDAParam::CreateObject() {
    rtl::Assert(paramObject_ == nullptr);
    if (IsBlobDataType(DataType())) paramObject_ = new TBlob(DataType() == db::ftWideMemo);
}

void TDAParam::FreeObject() {
    if (!paramObject_) return;
    paramObject_->Release();
    paramObject_ = nullptr;
}

void TDAParam::SetParamObject(TSharedObject* obj) {
    FreeObject();
    paramObject_ = obj;
    if (obj) obj->AddRef();
    data_ = rtl::Variant("Object");
    null_ = false;
}

void TDAParam::SetDataType(db::TFieldType value) {
    if (IsObjectDataType(DataType())) FreeObject();
    db::TParam::SetDataType(value);
    SubDataType = 0;
    if (IsObjectDataType(value)) CreateObject();
}

void TDAParam::SetNational(bool value) {
    national_ = value;
}

AnsiString TDAParam::AsString() const {
    if (GetIsNull()) return AnsiString();
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) return blob->GetAsString();
    if (DataType() == db::ftDate || DataType() == db::ftDateTime) return rtl::DateToStr(data_.AsDateTime());
    return db::TParam::AsString();
}

void TDAParam::SetAsString(const AnsiString& value) {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) {
        blob->SetAsString(value);
        return;
    }
    if (DataType() == db::ftWideString || DataType() == db::ftFixedWideChar) {
        SetAsWideString(rtl::AnsiToWide(value));
        return;
    }
    if (DataType() == db::ftBytes || DataType() == db::ftVarBytes || DataType() == db::ftFixedChar) {
        SetAsVariant(rtl::Variant(value));
        return;
    }
    db::TParam::SetAsString(value);
}

WideString TDAParam::AsWideString() const {
    if (GetIsNull()) return WideString();
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) return blob->GetAsWideString();
    return db::TParam::AsWideString();
}

void TDAParam::SetAsWideString(const WideString& value) {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) {
        blob->SetAsWideString(value);
        return;
    }
    SetAsVariant(rtl::Variant(value));
}

int32_t TDAParam::AsInteger() const {
    return GetIsNull() ? 0 : db::TParam::AsInteger();
}

int64_t TDAParam::AsLargeInt() const {
    return GetIsNull() ? 0 : db::TParam::AsLargeInt();
}

void TDAParam::SetAsLargeInt(int64_t value) {
    SetDataType(db::ftLargeint);
    SetAsVariant(rtl::Variant(static_cast<long long>(value)));
}

void TDAParam::SetAsBlob(const rtl::TBytes& value) {
    SetDataType(db::ftBlob);
    AsBlobObject()->SetAsBytes(value);
    SetBound(true);
}

void TDAParam::SetAsMemo(const AnsiString& value) {
    SetDataType(db::ftMemo);
    AsBlobObject()->SetAsString(value);
    SetBound(true);
}

rtl::Variant TDAParam::GetAsVariant() const {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) return rtl::Variant(blob->GetAsString());
    return db::TParam::GetAsVariant();
}

void TDAParam::SetAsVariant(const rtl::Variant& value) {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) {
        if (value.IsArray())
            blob->SetAsBytes(rtl::VariantToBytes(value));
        else if (value.IsNull() || value.IsEmpty())
            blob->Clear();
        else
            blob->SetAsString(value.AsString());
        SetBound(true);
        return;
    }
    db::TParam::SetAsVariant(value);
}

void TDAParam::Clear() {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType()) {
        blob->Clear();
        return;
    }
    db::TParam::Clear();
}

bool TDAParam::GetIsNull() const {
    if (auto* blob = AsBlobObject(); blob && IsBlobDataType())
        return const_cast<TBlob*>(blob)->GetSize() == 0;
    if (db::TParam::IsNull()) return true;
    // An empty string is no value for the server.
    return DataType() == db::ftString && data_.VarType() != rtl::varEmpty && !data_.IsArray() &&
           rtl::VarToStr(data_).empty();
}

void TDAParam::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TDAParam*>(source);
    if (!src) return db::TParam::Assign(source);
    SetDataType(src->DataType());
    if (src->GetIsNull())
        Clear();
    else if (src->paramObject_ && src->paramObject_ != paramObject_) {
        FreeObject();
        paramObject_ = src->paramObject_;
        paramObject_->AddRef();
        data_ = src->data_;
        null_ = false;
    } else
        SetAsVariant(src->GetAsVariant());
    SetName(src->Name());
    if (ParamType() == db::ptUnknown) SetParamType(src->ParamType());
    SetSize(src->size_);
    national_ = src->national_;
}

// ---------------------------------------------------------------------------------------------

TDAParams::TDAParams(rtl::TPersistent* owner)
    : db::TParams(owner, rtl::TCollectionItemClass::Of<TDAParam>()) {}

TDAParams::TDAParams(rtl::TPersistent* owner, rtl::TCollectionItemClass itemClass)
    : db::TParams(owner, itemClass) {}

void TDAParams::DisconnectObjects() {
    for (int i = 0; i < Count(); ++i)
        if (auto* blob = dynamic_cast<TBlob*>(Items(i)->GetParamObject())) blob->DisposeHandle();
}

}  // namespace dac
