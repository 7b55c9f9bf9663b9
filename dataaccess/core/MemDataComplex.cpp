// Record storage: by-reference values (blobs, variant holders, heap texts), blob fields and
// child fields read through the object value of their column.
#include <cstdlib>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// References held by a record buffer

void TData::CreateComplexFields(void* recBuf, bool withBlob) {
    for (int i = 0; i < fields_.Count(); ++i) CreateComplexField(recBuf, i, withBlob);
}

void TData::CreateComplexField(void* recBuf, int index, bool withBlob) {
    TFieldDesc* field = fields_[index];
    if (field->HasParent() || field->Kind == 2) return;
    const TDataType dt = field->DataType;
    if (IsBlobDataType(dt)) {
        if (!withBlob) return;
        auto* blob = new TCompressedBlob(false);
        if (dt == dtWideMemo) blob->SetIsUnicode(true);
        blob->EnableRollback();
        SetPlacePointer(field, recBuf, blob->GetHandle());
    } else if (dt == dtVariant) {
        SetPlacePointer(field, recBuf, (new TVariantObject())->GetHandle());
    } else if (IsHeapDataType(dt)) {
        SetPlacePointer(field, recBuf, nullptr);
    }
}

void TData::FreeComplexFields(void* recBuf, bool withBlob) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* field = fields_[i];
        if (field->HasParent() || field->Kind == 2) continue;
        const TDataType dt = field->DataType;
        if ((IsBlobDataType(dt) && withBlob) || dt == dtVariant) {
            TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(field, recBuf));
            if (!obj) continue;
            const bool last = obj->RefCount() == 1;
            obj->Free();
            if (last) SetPlacePointer(field, recBuf, nullptr);
        } else if (IsHeapDataType(dt) && !stringHeap_->Untouched()) {
            void* buf = PlacePointer(field, recBuf);
            if (!buf) continue;
            const bool last = TStringHeap::UseCountMark(buf) == TStringHeap::RefNull + 1;
            stringHeap_->DisposeBuf(buf);
            if (last) SetPlacePointer(field, recBuf, nullptr);
        }
    }
}

void TData::CopyComplexFields(void* source, void* dest, bool withBlob) {
    rtl::Assert(!withBlob, "MemData: blobs are not copied");
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* field = fields_[i];
        if (field->HasParent() || field->Kind == 2) continue;
        void* from = PlacePointer(field, source);
        switch (field->DataType) {
            case dtVariant: {
                auto* src = dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(from));
                auto* dst =
                    dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PlacePointer(field, dest)));
                rtl::Assert(dst != nullptr, "MemData: variant holder of the copy is nil");
                dst->Value = src ? src->Value : rtl::Variant();
                break;
            }
            case dtStringRef:
                SetPlacePointer(field, dest, stringHeap_->AllocStr(static_cast<const char*>(from)));
                break;
            case dtWideStringRef:
                SetPlacePointer(field, dest, stringHeap_->AllocWideStr(static_cast<const char16_t*>(from)));
                break;
            case dtVarBytesRef: {
                void* copy = nullptr;
                if (from) {
                    const uint16_t n = PeekPacked<uint16_t>(from, 0);
                    copy = stringHeap_->NewBuf(int64_t{n} + 2);
                    std::memcpy(copy, from, std::size_t{n} + 2);
                }
                SetPlacePointer(field, dest, copy);
                break;
            }
            default:
                break;
        }
    }
}

void TData::AddRefComplexFields(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* field = fields_[i];
        if (field->HasParent() || field->Kind == 2 || !IsComplexFieldType(field->DataType)) continue;
        if (IsHeapDataType(field->DataType)) {
            stringHeap_->AddRefStr(PlacePointer(field, recBuf));
            continue;
        }
        TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(field, recBuf));
        rtl::Assert(obj != nullptr, "Shared object for " + field->Name + "=nil");
        obj->AddRef();
    }
}

// ---------------------------------------------------------------------------------------------
// Editing a stored record

void TData::EditRecord(void* recBuf) {
    void* temp = AllocRecBuf();
    try {
        GetRecord(temp);
        CreateComplexFields(temp, false);
        CopyComplexFields(recBuf, temp, false);
        PutRecord(temp);
    } catch (...) {
        FreeRecBuf(temp);
        throw;
    }
    FreeRecBuf(temp);
}

void TData::PostRecord(void* recBuf) {
    void* temp = AllocRecBuf();
    try {
        GetRecord(temp);
        UpdateRecord(recBuf);
        if (HasFieldOfTypes(DataTypeSet({dtBlob, dtMemo, dtWideMemo}))) {
            for (int i = 0; i < fields_.Count(); ++i) {
                TFieldDesc* field = fields_[i];
                if (field->HasParent() || field->Kind == 2 || !IsBlobFieldType(field->DataType)) continue;
                if (auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf))))
                    blob->Commit();
            }
        }
        FreeComplexFields(temp, false);
    } catch (...) {
        FreeRecBuf(temp);
        throw;
    }
    FreeRecBuf(temp);
}

void TData::CancelRecord(void* recBuf) {
    if (HasFieldOfTypes(DataTypeSet({dtBlob, dtMemo, dtWideMemo}))) {
        for (int i = 0; i < fields_.Count(); ++i) {
            TFieldDesc* field = fields_[i];
            if (field->HasParent() || field->Kind == 2 || !IsBlobFieldType(field->DataType)) continue;
            if (auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf))))
                blob->Cancel();
        }
    }
    FreeComplexFields(recBuf, false);
}

// ---------------------------------------------------------------------------------------------
// Objects and blobs of fields

TSharedObject* TData::GetObject(int fieldNo, void* recBuf) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (!field->HasParent()) return TSharedObject::FromHandle(PlacePointer(field, recBuf));
    void* handle = nullptr;
    bool isBlank = false;
    GetField(fieldNo, recBuf, &handle, isBlank);
    return TSharedObject::FromHandle(handle);
}

TBlob* TData::GetBlob(int fieldNo, void* recBuf) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (!IsBlobFieldType(field->DataType)) throw rtl::Exception("Field is not BLOB");
    auto* blob = dynamic_cast<TBlob*>(GetObject(fieldNo, recBuf));
    rtl::Assert(blob != nullptr,
                "Object for field " + field->Name + "(" + rtl::IntToStr(fieldNo) + ") = nil");
    return blob;
}

void TData::SetBlob(int fieldNo, void* recBuf, TBlob* blob) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (!IsBlobFieldType(field->DataType)) throw rtl::Exception("Field is not BLOB");
    SetPlacePointer(field, recBuf, blob ? blob->GetHandle() : nullptr);
}

namespace {

// Shows a blob's rollback value for the length of a call.
class RollbackViewScope {
public:
    RollbackViewScope(TBlob* blob, bool on) : blob_(on ? blob : nullptr) {
        if (blob_) blob_->SetRollbackView(true);
    }
    ~RollbackViewScope() {
        if (blob_) blob_->SetRollbackView(false);
    }
    RollbackViewScope(const RollbackViewScope&) = delete;
    RollbackViewScope& operator=(const RollbackViewScope&) = delete;

private:
    TBlob* blob_;
};

}  // namespace

int64_t TData::GetBlobSize(int fieldNo, void* recBuf, bool fromRollback, bool native) {
    if (GetNull(fieldNo, recBuf)) return 0;
    TBlob* blob = GetBlob(fieldNo, recBuf);
    RollbackViewScope view(blob, fromRollback);
    return native || !blob->IsUnicode() ? blob->GetSize() : blob->GetSizeAnsi();
}

void TData::SetBlobSize(int fieldNo, void* recBuf, int64_t newSize, bool fromRollback, bool native) {
    SetNull(fieldNo, recBuf, false);
    TBlob* blob = GetBlob(fieldNo, recBuf);
    RollbackViewScope view(blob, fromRollback);
    if (native || !blob->IsUnicode()) {
        blob->SetSize(newSize);
        return;
    }
    const int64_t length = blob->GetSizeAnsi();
    if (newSize > length)
        blob->SetSize(blob->GetSize() + 2 * (newSize - length));
    else
        blob->SetSize(blob->AnsiPosToBytePos(newSize));
}

int64_t TData::ReadBlob(int fieldNo, void* recBuf, int64_t position, int64_t count, void* dest,
                        bool fromRollback, bool native) {
    TBlob* blob = GetBlob(fieldNo, recBuf);
    RollbackViewScope view(blob, fromRollback);
    if (native || !blob->IsUnicode()) return blob->Read(position, count, dest);
    const int64_t bytePos = blob->AnsiPosToBytePos(position);
    const int64_t size = blob->GetSize();
    int64_t byteCount = count == 0 ? size - bytePos : blob->AnsiPosToBytePos(count);
    if (byteCount <= 0 || bytePos >= size) return 0;
    byteCount = std::min(byteCount, size - bytePos);
    WideString text(static_cast<std::size_t>(byteCount / 2), u'\0');
    const int64_t got = blob->Read(bytePos, static_cast<int64_t>(text.size()) * 2, text.data());
    text.resize(static_cast<std::size_t>(got / 2));
    const AnsiString ansi = rtl::WideToAnsi(text);
    std::memcpy(dest, ansi.data(), ansi.size());
    return static_cast<int64_t>(ansi.size());
}

void TData::WriteBlob(int fieldNo, void* recBuf, int64_t position, int64_t count, const void* data,
                      bool native) {
    TBlob* blob = GetBlob(fieldNo, recBuf);
    blob->EnableRollback();
    if (native || !blob->IsUnicode()) {
        blob->Write(position, count, data);
    } else {
        const WideString text = rtl::AnsiToWide(
            std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(count)));
        blob->Write(blob->AnsiPosToBytePos(position), static_cast<int64_t>(text.size()) * 2, text.data());
    }
    SetNull(fieldNo, recBuf, false);
}

void TData::TruncateBlob(int fieldNo, void* recBuf, int64_t size, bool native) {
    TBlob* blob = GetBlob(fieldNo, recBuf);
    blob->EnableRollback();
    if (!native && blob->IsUnicode()) size = blob->AnsiPosToBytePos(size);
    blob->Truncate(size);
    if (size == 0) SetNull(fieldNo, recBuf, true);
}

// ---------------------------------------------------------------------------------------------
// Child fields

namespace {

TDBObject* ObjectOfTop(TFieldDesc* top, void* recBuf) {
    void* handle = PeekPacked<void*>(static_cast<uint8_t*>(recBuf) + top->Offset, 0);
    return dynamic_cast<TDBObject*>(TSharedObject::FromHandle(handle));
}

}  // namespace

void TData::GetChildField(TFieldDesc* field, void* recBuf, void*& value, bool& isBlank, bool& nativeBuffer) {
    TFieldDesc* top = nullptr;
    const AnsiString path = GetChildFieldPath(field, top);
    value = nullptr;
    isBlank = true;
    nativeBuffer = true;
    if (TDBObject* obj = ObjectOfTop(top, recBuf)) obj->GetAttributeValue(path, value, isBlank, nativeBuffer);
}

bool TData::GetChildFieldIsNull(TFieldDesc* field, void* recBuf) {
    TFieldDesc* top = nullptr;
    const AnsiString path = GetChildFieldPath(field, top);
    TDBObject* obj = ObjectOfTop(top, recBuf);
    return obj ? obj->GetAttributeIsNull(path) : true;
}

void TData::PutChildField(TFieldDesc* field, void* recBuf, const void* value) {
    TFieldDesc* top = nullptr;
    const AnsiString path = GetChildFieldPath(field, top);
    if (TDBObject* obj = ObjectOfTop(top, recBuf)) obj->SetAttributeValue(path, value);
}

}  // namespace dac
