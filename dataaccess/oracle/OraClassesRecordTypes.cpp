// TOCIRecordSet columns held as value objects beside LOBs: TIMESTAMP and INTERVAL values in their
// OCI descriptors, and LONG and LONG RAW values that arrive in pieces through a define callback.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

bool IsTimeStampField(TDataType t) {
    return t == dtTimeStamp || t == dtTimeStampTZ || t == dtTimeStampLTZ;
}

bool IsIntervalField(TDataType t) {
    return t == dtIntervalYM || t == dtIntervalDS;
}

template <class T>
T* ValueAt(void* place) {
    return dynamic_cast<T*>(TSharedObject::FromHandle(PeekPacked<void*>(place, 0)));
}

ub4 DescriptorTypeOf(TDataType t) {
    if (t == dtIntervalYM) return OCI_DTYPE_INTERVAL_YM;
    if (t == dtIntervalDS) return OCI_DTYPE_INTERVAL_DS;
    if (t == dtTimeStampTZ) return OCI_DTYPE_TIMESTAMP_TZ;
    return OCI_DTYPE_TIMESTAMP;
}

// Takes the bytes of LONG values whose row has no blob to hold them (a positioning fetch).
uint8_t g_discard[4096];
ub4 g_discardLength = 0;

}  // namespace

bool TOCIRecordSet::IsLongField(const TFieldDesc& f) {
    const TDataType t = f.DataType;
    if (t == dtBlob) return true;
    if (t != dtMemo && t != dtWideMemo) return false;
    const TDataType s = f.SubDataType;
    return s != dtString && s != dtWideString && s != dtNString && s != dtNWideString;
}

bool TOCIRecordSet::IsDescriptorField(const TFieldDesc& f) {
    return IsTimeStampField(f.DataType) || IsIntervalField(f.DataType) || f.DataType == dtSQLTimeStamp;
}

OCIEnv* TOCIRecordSet::ValueEnvironment() {
    if (!OCIInitialized) InitOCI();
    return FOracleConnection && FOracleConnection->GetEnvironment() ? FOracleConnection->GetEnvironment()
                                                                    : OCIEnvHandle;
}

// ---------------------------------------------------------------------------------------------
// TIMESTAMP and INTERVAL values

void TOCIRecordSet::CreateValueFields(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (IsTimeStampField(f->DataType)) {
            auto* ts = new TOraTimeStamp(f->DataType);
            ts->Precision = static_cast<uint8_t>(f->Length);
            SetPlacePointer(f, recBuf, ts->GetHandle());
        } else if (IsIntervalField(f->DataType)) {
            SetPlacePointer(f, recBuf, (new TOraInterval(f->DataType))->GetHandle());
        }
    }
}

void TOCIRecordSet::FreeValueFields(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (!IsTimeStampField(f->DataType) && !IsIntervalField(f->DataType)) continue;
        if (TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(f, recBuf))) {
            obj->Free();
            SetPlacePointer(f, recBuf, nullptr);
        }
    }
}

void TOCIRecordSet::CopyValueFields(void* source, void* dest) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (IsTimeStampField(f->DataType)) {
            auto* from = ValueAt<TOraTimeStamp>(Place(f, source));
            auto* to = ValueAt<TOraTimeStamp>(Place(f, dest));
            if (from && to && from != to) from->AssignTo(to);
        } else if (IsIntervalField(f->DataType)) {
            auto* from = ValueAt<TOraInterval>(Place(f, source));
            auto* to = ValueAt<TOraInterval>(Place(f, dest));
            if (from && to && from != to) from->AssignTo(to);
        }
    }
}

void TOCIRecordSet::StageValueDescriptors(int rows) {
    if (FEntryOffsets.empty()) return;
    std::vector<int> columns;
    for (int i = 0; i < fields_.Count(); ++i)
        if (FEntryOffsets[static_cast<size_t>(i)] >= 0 && IsDescriptorField(*fields_[i]))
            columns.push_back(i);
    if (columns.empty()) return;
    const size_t n = columns.size();
    const size_t need = static_cast<size_t>(std::max(rows, FFetchRows)) * n;
    if (FStagedValues.size() < need) FStagedValues.resize(need);
    OCIEnv* env = ValueEnvironment();
    for (int k = 0; k < rows; ++k) {
        uint8_t* row =
            FFetchBuffer.data() + static_cast<size_t>(k) * static_cast<size_t>(FFetchBufferRowSize);
        for (size_t j = 0; j < n; ++j) {
            const int i = columns[j];
            TStagedValue& cell = FStagedValues[static_cast<size_t>(k) * n + j];
            const ub4 type = DescriptorTypeOf(fields_[i]->DataType);
            if (cell.Descriptor && cell.Type != type) {
                OCIDescriptorFree(cell.Descriptor, cell.Type);
                cell.Descriptor = nullptr;
            }
            if (!cell.Descriptor) {
                if (OCIDescriptorAlloc(env, &cell.Descriptor, type, 0, nullptr) != OCI_SUCCESS) {
                    cell.Descriptor = nullptr;
                    throw rtl::Exception("Descriptor is not allocated");
                }
                cell.Type = type;
            }
            std::memcpy(row + FEntryOffsets[static_cast<size_t>(i)], &cell.Descriptor,
                        sizeof cell.Descriptor);
        }
    }
}

void TOCIRecordSet::PrepareValueEntries(void* recBuf, uint8_t* conversionRow) {
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        TFieldDesc* f = fields_[i];
        if (entry < 0) continue;
        void* descriptor = nullptr;
        if (IsTimeStampField(f->DataType)) {
            if (auto* ts = ValueAt<TOraTimeStamp>(Place(f, recBuf))) descriptor = ts->GetOCIDateTime();
        } else if (IsIntervalField(f->DataType)) {
            if (auto* iv = ValueAt<TOraInterval>(Place(f, recBuf))) descriptor = iv->GetOCIInterval();
        } else {
            continue;
        }
        std::memcpy(conversionRow + entry, &descriptor, sizeof descriptor);
    }
}

void TOCIRecordSet::FreeStagedValues() {
    for (TStagedValue& cell : FStagedValues)
        if (cell.Descriptor) OCIDescriptorFree(cell.Descriptor, cell.Type);
    FStagedValues.clear();
}

bool TOCIRecordSet::ConvertValueEntry(void* recBuf, TFieldDesc* f, const uint8_t* entry, bool isNull) {
    if (!IsDescriptorField(*f)) return false;
    void* fetched;
    std::memcpy(&fetched, entry, sizeof fetched);
    TOCICommand* command = OraCommand();
    OCIError* err = OCIErrorHandle();
    uint8_t* place = Place(f, recBuf);
    if (f->DataType == dtSQLTimeStamp) {
        // The 16-byte form replaces the descriptor in the record.
        auto* ts = new TOraTimeStamp(dtSQLTimeStamp);
        rtl::TSQLTimeStamp value{};
        try {
            ts->SetOCIDateTime(static_cast<OCIDateTime*>(fetched));
            ts->SetIsNull(isNull || !fetched);
            OraTimeStampToSQLTimeStamp(ts, value);
        } catch (...) {
            ts->Free();
            throw;
        }
        ts->Free();
        std::memcpy(place, &value, sizeof value);
        return true;
    }
    if (IsTimeStampField(f->DataType)) {
        if (auto* ts = ValueAt<TOraTimeStamp>(place)) {
            if (!isNull && fetched && fetched != ts->GetOCIDateTime())
                command->Check(OCIDateTimeAssign(ValueEnvironment(), err, static_cast<OCIDateTime*>(fetched),
                                                 ts->GetOCIDateTime()));
            ts->SetIsNull(isNull);
        }
        return true;
    }
    if (auto* iv = ValueAt<TOraInterval>(place)) {
        if (!isNull && fetched && fetched != iv->GetOCIInterval())
            command->Check(OCIIntervalAssign(ValueEnvironment(), err, static_cast<OCIInterval*>(fetched),
                                             iv->GetOCIInterval()));
        iv->SetIsNull(isNull);
    }
    return true;
}

bool TOCIRecordSet::GetValueFieldAsVariant(TFieldDesc* f, void* recBuf, rtl::Variant& value) {
    if (f->HasParent() || (!IsTimeStampField(f->DataType) && !IsIntervalField(f->DataType))) return false;
    if (GetNull(f->FieldNo, recBuf)) {
        value = rtl::Variant::MakeNull();
        return true;
    }
    if (IsTimeStampField(f->DataType))
        value = rtl::Variant::FromDateTime(ValueAt<TOraTimeStamp>(Place(f, recBuf))->GetAsDateTime());
    else
        value = ValueAt<TOraInterval>(Place(f, recBuf))->GetAsString();
    return true;
}

int TOCIRecordSet::CompareValueFields(void* recBuf1, void* recBuf2, TFieldDesc* f) {
    const bool null1 = GetNull(f->FieldNo, recBuf1);
    const bool null2 = GetNull(f->FieldNo, recBuf2);
    if (null1 || null2) return null1 == null2 ? 0 : (null1 ? -1 : 1);
    if (IsTimeStampField(f->DataType))
        return ValueAt<TOraTimeStamp>(Place(f, recBuf1))->Compare(ValueAt<TOraTimeStamp>(Place(f, recBuf2)));
    return ValueAt<TOraInterval>(Place(f, recBuf1))->Compare(ValueAt<TOraInterval>(Place(f, recBuf2)));
}

void TOCIRecordSet::SetValueFieldNull(TFieldDesc* f, void* recBuf, bool value) {
    if (IsTimeStampField(f->DataType)) {
        if (auto* ts = ValueAt<TOraTimeStamp>(Place(f, recBuf))) ts->SetIsNull(value);
    } else if (IsIntervalField(f->DataType)) {
        if (auto* iv = ValueAt<TOraInterval>(Place(f, recBuf))) iv->SetIsNull(value);
    }
}

// ---------------------------------------------------------------------------------------------
// LONG and LONG RAW values

// Each piece the client asks for is a fresh blob piece of the blob's piece size, appended at once;
// the client writes the length it gave into the piece's used count, and the pieces are cut to
// their used sizes when the row is complete.
sb4 TOCIRecordSet::LongPieceCallback(void* context, OCIDefine* define, ub4 iter, void** buffer, ub4** length,
                                     ub1* piece, void** indicator, ub2** code) {
    auto* self = static_cast<TOCIRecordSet*>(context);
    try {
        int column = -1;
        for (size_t j = 0; j < self->FLongFields.size(); ++j) {
            auto* f = dynamic_cast<TOCIFieldDesc*>(self->fields_[self->FLongFields[j]]);
            if (f && f->DefineHandle == define) column = static_cast<int>(j);
        }
        rtl::Assert(column >= 0, "OraClasses: a LONG piece for no field");
        const int index = self->FLongFields[static_cast<size_t>(column)];
        TFieldDesc* f = self->fields_[index];
        void* rec = nullptr;
        TBlob* blob = nullptr;
        if (self->FLongRecord) {
            rec = self->FLongRecord;
            blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(self->PlacePointer(f, rec)));
        } else {
            rec = ItemHeader::Data(reinterpret_cast<PItemHeader>(
                self->FStageBuffer.data() + static_cast<size_t>(iter) * self->BlockManager().ItemSize()));
            const size_t cell =
                static_cast<size_t>(iter) * self->FLongFields.size() + static_cast<size_t>(column);
            if (self->FStagedLongs.size() <= cell) self->FStagedLongs.resize(cell + 1, nullptr);
            if (!self->FStagedLongs[cell]) self->FStagedLongs[cell] = self->NewLongBlob(*f);
            blob = self->FStagedLongs[cell];
        }
        *indicator = self->IndicatorPlace(rec, index + 1);
        *piece = OCI_NEXT_PIECE;
        *code = nullptr;
        if (!blob) {
            g_discardLength = sizeof g_discard;
            *buffer = g_discard;
            *length = &g_discardLength;
            return OCI_CONTINUE;
        }
        PPieceHeader p = nullptr;
        const int32_t size = blob->GetPieceSize();
        blob->AllocPiece(p, size);
        PieceHeader::SetUsed(p, static_cast<uint32_t>(size));
        blob->AppendPiece(p);
        *buffer = PieceData(p);
        *length = reinterpret_cast<ub4*>(PieceUsedPtr(p));
        return OCI_CONTINUE;
    } catch (...) {
        self->OraCommand()->KeepCallbackError(std::current_exception());
        return OCI_ERROR;
    }
}

TBlob* TOCIRecordSet::NewLongBlob(const TFieldDesc& f) {
    auto* blob = new TCompressedBlob(false);
    if (f.DataType == dtWideMemo) blob->SetIsUnicode(true);
    blob->EnableRollback();
    return blob;
}

void TOCIRecordSet::DefineLongField(int index) {
    TFieldDesc* f = fields_[index];
    ub2 charsetId = 0;
    if (f->DataType == dtWideMemo)
        charsetId = OCI_UTF16ID;
    else if (f->DataType == dtMemo && FOracleConnection)
        charsetId = FOracleConnection->CharsetId();
    OraCommand()->DefineDynamic(*f, this, &TOCIRecordSet::LongPieceCallback, charsetId);
}

void TOCIRecordSet::FindLongFields() {
    FLongFields.clear();
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!f->HasParent() && f->Kind == 0 && IsLongField(*f)) FLongFields.push_back(i);
    }
}

void TOCIRecordSet::FinishLongFields(void* recBuf) {
    for (int i : FLongFields) {
        TFieldDesc* f = fields_[i];
        if (auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf))))
            blob->TrimPieces();
    }
}

void TOCIRecordSet::TakeStagedLongs(void* recBuf, int row) {
    const size_t n = FLongFields.size();
    for (size_t j = 0; j < n; ++j) {
        const size_t cell = static_cast<size_t>(row) * n + j;
        if (cell >= FStagedLongs.size() || !FStagedLongs[cell]) continue;
        TFieldDesc* f = fields_[FLongFields[j]];
        // The row's own (empty) blob goes to the stage for the next block.
        TBlob* own = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        TBlob* filled = FStagedLongs[cell];
        SetPlacePointer(f, recBuf, filled->GetHandle());
        FStagedLongs[cell] = own;
        filled->TrimPieces();
    }
}

void TOCIRecordSet::FreeStagedLongs() {
    for (TBlob*& blob : FStagedLongs) {
        if (blob) blob->Free();
        blob = nullptr;
    }
    FStagedLongs.clear();
}

}  // namespace dac
