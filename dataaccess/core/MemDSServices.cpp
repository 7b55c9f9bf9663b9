// The data type map, the blob stream, and the dataset's service and updater.
#include <cmath>

#include "dataaccess/core/MemDS.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Threads.h"

namespace dac {

using db::TFieldType;
using rtl::DatabaseError;
using rtl::DatabaseErrorFmt;

// ---------------------------------------------------------------------------------------------
// TDataTypesMap

TFieldType TDataTypesMap::GetFieldType(TDataType dataType) const {
    switch (dataType) {
        case dtUnknown:
            return db::ftUnknown;
        case dtString:
        case dtStringRef:
            return db::ftString;
        case dtInt8:
        case dtSmallint:
            return db::ftSmallint;
        case dtInteger:
            return db::ftInteger;
        case dtFloat:
            return db::ftFloat;
        case dtDate:
            return db::ftDate;
        case dtTime:
            return db::ftTime;
        case dtDateTime:
            return db::ftDateTime;
        case dtWord:
            return db::ftWord;
        case dtBoolean:
            return db::ftBoolean;
        case dtLargeint:
        case dtUInt32:
            return db::ftLargeint;
        case dtCurrency:
            return db::ftCurrency;
        case dtBlob:
            return db::ftBlob;
        case dtMemo:
            return db::ftMemo;
        case dtObject:
            return db::ftADT;
        case dtReference:
            return db::ftReference;
        case dtArray:
            return db::ftArray;
        case dtTable:
            return db::ftDataSet;
        case dtVariant:
            return db::ftVariant;
        case dtBytes:
            return db::ftBytes;
        case dtVarBytes:
        case dtVarBytesRef:
            return db::ftVarBytes;
        case dtWideString:
        case dtWideStringRef:
            return db::ftWideString;
        case dtBCD:
            return db::ftBCD;
        case dtFmtBcd:
            return db::ftFMTBcd;
        case dtGuid:
            return db::ftGuid;
        case dtWideMemo:
            return db::ftWideMemo;
        case dtCursor:
            return db::ftCursor;
        default:
            rtl::Assert(false, "Unknown data type");
            return db::ftUnknown;
    }
}

TDataType TDataTypesMap::GetDataType(TFieldType fieldType) const {
    switch (fieldType) {
        case db::ftString:
        case db::ftFixedChar:
            return dtString;
        case db::ftSmallint:
            return dtSmallint;
        case db::ftInteger:
        case db::ftAutoInc:
            return dtInteger;
        case db::ftWord:
            return dtWord;
        case db::ftBoolean:
            return dtBoolean;
        case db::ftFloat:
            return dtFloat;
        case db::ftCurrency:
            return dtCurrency;
        case db::ftBCD:
            return dtBCD;
        case db::ftDate:
            return dtDate;
        case db::ftTime:
            return dtTime;
        case db::ftDateTime:
            return dtDateTime;
        case db::ftBytes:
            return dtBytes;
        case db::ftVarBytes:
            return dtVarBytes;
        case db::ftBlob:
            return dtBlob;
        case db::ftMemo:
            return dtMemo;
        case db::ftCursor:
            return dtCursor;
        case db::ftWideString:
        case db::ftFixedWideChar:
            return dtWideString;
        case db::ftLargeint:
            return dtLargeint;
        case db::ftADT:
            return dtObject;
        case db::ftArray:
            return dtArray;
        case db::ftReference:
            return dtReference;
        case db::ftDataSet:
            return dtTable;
        case db::ftVariant:
            return dtVariant;
        case db::ftGuid:
            return dtGuid;
        case db::ftFMTBcd:
            return dtFmtBcd;
        case db::ftWideMemo:
            return dtWideMemo;
        default:
            return dtUnknown;
    }
}

const TDataTypesMap& TDataTypesMap::Instance() {
    static const TDataTypesMap map;
    return map;
}

// ---------------------------------------------------------------------------------------------
// TBlobStream

namespace {

TMemDataSet* DataSetOf(db::TBlobField* field) {
    auto* dataSet = dynamic_cast<TMemDataSet*>(field->DataSet());
    if (!dataSet) rtl::InvalidCast();
    return dataSet;
}

}  // namespace

TBlobStream::TBlobStream(db::TBlobField* field, db::TBlobStreamMode mode)
    : FBlobField(field), FDataSet(DataSetOf(field)), FMode(mode), FFieldNo(field->FieldNo()) {
    db::TRecordBuffer buffer;
    if (!FDataSet->GetActiveRecBuf(buffer)) return;
    if (!field->Modified() && mode != db::bmRead) {
        if (field->ReadOnly())
            DatabaseErrorFmt("Field '%s' cannot be modified", {field->DisplayName()}, FDataSet);
        const db::TDataSetState state = FDataSet->State();
        if (state != db::dsEdit && state != db::dsInsert && state != db::dsNewValue)
            DatabaseError("Dataset not in edit or insert mode", FDataSet);
    }
    FBuffer = buffer;
    FHasBuffer = true;
    if (mode == db::bmWrite) {
        FDataSet->GetIRecordSet()->TruncateBlob(FFieldNo, FBuffer, 0, Native());
        FModified = true;
    }
}

TBlobStream::~TBlobStream() {
    if (!FModified) return;
    try {
        if (FHasBuffer) FBlobField->SetModified(true);
        FDataSet->DataEvent(db::deFieldChange, reinterpret_cast<intptr_t>(FBlobField));
    } catch (...) {
        rtl::HandleApplicationException(std::current_exception());
    }
}

bool TBlobStream::Native() const {
    return dynamic_cast<db::TWideMemoField*>(FBlobField) != nullptr;
}

bool TBlobStream::FromOldValues() const {
    return FDataSet->State() == db::dsOldValue;
}

int64_t TBlobStream::Read(void* buffer, int64_t count) {
    if (!FHasBuffer) return 0;
    const int64_t available = Size() - FPosition;
    if (count > available) count = available;
    if (count <= 0) return 0;
    const int64_t read = FDataSet->GetIRecordSet()->ReadBlob(FFieldNo, FBuffer, FPosition, count, buffer,
                                                             FromOldValues(), Native());
    FPosition += read;
    return read;
}

int64_t TBlobStream::Write(const void* buffer, int64_t count) {
    if (!FHasBuffer || FMode == db::bmRead) return 0;
    FDataSet->GetIRecordSet()->WriteBlob(FFieldNo, FBuffer, FPosition, count, buffer, Native());
    FPosition += count;
    FModified = true;
    return count;
}

int64_t TBlobStream::Seek(int64_t offset, rtl::TSeekOrigin origin) {
    if (!FHasBuffer) return 0;
    switch (origin) {
        case rtl::soBeginning:
            FPosition = offset;
            break;
        case rtl::soCurrent:
            FPosition += offset;
            break;
        case rtl::soEnd:
            FPosition =
                offset + FDataSet->GetIRecordSet()->GetBlobSize(FFieldNo, FBuffer, FromOldValues(), Native());
            break;
    }
    return FPosition;
}

void TBlobStream::SetSize(int64_t newSize) {
    if (!FHasBuffer) return;
    if (FMode == db::bmRead) rtl::TStream::SetSize(newSize);
    FDataSet->GetIRecordSet()->SetBlobSize(FFieldNo, FBuffer, newSize, FromOldValues(), Native());
    FModified = true;
}

// ---------------------------------------------------------------------------------------------
// TDataSetService

TDataSetService::TDataSetService(TMemDataSet* dataSet) : FDataSet(dataSet) {}

TDataSetService::~TDataSetService() = default;

void TDataSetService::MakeUpdater() {
    ReplaceUpdater(new TDataSetUpdater(this));
}

void TDataSetService::ReplaceUpdater(TDataSetUpdater* updater) {
    FOwnedUpdater.reset(updater);
}

db::TFieldClass TDataSetService::GetFieldClass(TFieldType fieldType) {
    return db::DefaultFieldClass(fieldType);
}

bool TDataSetService::SetProp(int, const rtl::Variant&) {
    rtl::Assert(false, "Assertion failure");
    return false;
}

bool TDataSetService::GetProp(int, rtl::Variant&) {
    rtl::Assert(false, "Assertion failure");
    return false;
}

// 10^length - 1 holds in 32 bits up to 9 digits and in 64 bits up to 18: wider definitions get
// no range rather than a wrapped one.
void TDataSetService::SetNumberRange(db::TFieldDef* fieldDef) {
    const TFieldType type = fieldDef->DataType();
    if (type != db::ftSmallint && type != db::ftInteger && type != db::ftFloat && type != db::ftLargeint)
        return;
    db::TField* field = FDataSet->FindField(fieldDef->Name());
    if (!field) return;
    FDataSet->CheckFieldCompatibility(field, fieldDef);
    TData* storage = FDataSet->GetIRecordSet();
    rtl::Assert(storage != nullptr, "Assertion failure");
    TFieldDesc* desc = storage->FieldByName(fieldDef->Name());
    const int length = desc->Length;
    const int scale = desc->Scale;
    switch (type) {
        case db::ftSmallint:
        case db::ftInteger: {
            auto* integerField = dynamic_cast<db::TIntegerField*>(field);
            rtl::Assert(integerField != nullptr, "Assertion failure");
            if (length < 1 || length > 9) return;
            int32_t max = 1;
            for (int i = 0; i < length; ++i) max *= 10;
            integerField->SetMaxValue(max - 1);
            integerField->SetMinValue(-(max - 1));
            break;
        }
        case db::ftLargeint: {
            auto* largeintField = dynamic_cast<db::TLargeintField*>(field);
            rtl::Assert(largeintField != nullptr, "Assertion failure");
            if (length < 1 || length > 18) return;
            int64_t max = 1;
            for (int i = 0; i < length; ++i) max *= 10;
            largeintField->SetMaxValue(max - 1);
            largeintField->SetMinValue(-(max - 1));
            break;
        }
        default: {
            if (length < 1 || length > 15) return;
            auto* floatField = dynamic_cast<db::TFloatField*>(field);
            rtl::Assert(floatField != nullptr, "Assertion failure");
            floatField->SetPrecision(length);
            const double max = rtl::IntPower(10, length - scale) - rtl::IntPower(10, -scale);
            floatField->SetMaxValue(max);
            floatField->SetMinValue(-max);
            break;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TDataSetUpdater

TDataSetUpdater::TDataSetUpdater(TDataSetService* ownerService) : FOwnerService(ownerService) {
    rtl::Assert(ownerService != nullptr, "Assertion failure");
    FDataSet = ownerService->DataSet();
}

void TDataSetUpdater::PerformStep(bool (TDataSetUpdater::*perform)()) {
    if (FDataSet->LocalUpdate()) return;
    const bool modified = FDataSet->Modified();
    try {
        (this->*perform)();
    } catch (...) {
        FDataSet->SetModified(modified);
        throw;
    }
    FDataSet->SetModified(modified);
}

void TDataSetUpdater::DoPerformInsert() {
    PerformStep(&TDataSetUpdater::PerformInsert);
}

void TDataSetUpdater::DoPerformDelete() {
    PerformStep(&TDataSetUpdater::PerformDelete);
}

void TDataSetUpdater::DoPerformUpdate() {
    PerformStep(&TDataSetUpdater::PerformUpdate);
}

void TDataSetUpdater::ApplyRecord(int updateKind, int& action, bool lastItem) {
    const auto kind = static_cast<db::TUpdateKind>(updateKind);
    const bool modified = FDataSet->Modified();
    auto local = db::uaFail;
    bool queued = false;
    try {
        try {
            bool perform = true;
            if (FDataSet->OnUpdateRecord) {
                FDataSet->OnUpdateRecord(FDataSet, kind, local);
                if (local == db::uaFail) throw rtl::EDatabaseError("Update failed");
                if (local == db::uaAbort) rtl::Abort();
                perform = local == uaDefault;
            }
            if (perform) {
                switch (kind) {
                    case db::ukModify:
                        PerformUpdate();
                        break;
                    case db::ukInsert:
                        PerformInsert();
                        break;
                    case db::ukDelete:
                        PerformDelete();
                        break;
                }
                if (!BatchUpdate()) {
                    local = db::uaApplied;
                } else if (BatchFull() || lastItem) {
                    FlushBatch();
                    local = db::uaApplied;
                } else {
                    queued = true;
                }
            }
        } catch (rtl::EDatabaseError& e) {
            if (!FDataSet->OnUpdateError) throw;
            FDataSet->OnUpdateError(FDataSet, e, kind, local);
            if (local == db::uaFail) throw;
            if (local == db::uaAbort) rtl::Abort();
        }
    } catch (...) {
        FDataSet->SetModified(modified);
        throw;
    }
    FDataSet->SetModified(modified);
    action = queued ? uaDeferred : static_cast<int>(local);
}

}  // namespace dac
