// Record storage: record layout, life cycle and field values.
#include "dataaccess/core/MemData.h"

#include <cmath>
#include <cstdlib>

#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Process-wide helpers

TStartWaitProc StartWaitProc = nullptr;
TStartWaitProc StopWaitProc = nullptr;
TApplicationTitleProc ApplicationTitleProc = nullptr;

void StartWait() {
    if (StartWaitProc) StartWaitProc();
}

void StopWait() {
    if (StopWaitProc) StopWaitProc();
}

AnsiString ApplicationTitle() {
    return ApplicationTitleProc ? ApplicationTitleProc() : AnsiString();
}

void DataError(const std::string& message) {
    throw rtl::Exception(message);
}

// ---------------------------------------------------------------------------------------------
// End-of-line conversion

namespace {

template <class Ch>
Ch CharAt(const Ch* p, int64_t i) {
    return PeekPacked<Ch>(p, static_cast<std::size_t>(i) * sizeof(Ch));
}

template <class Ch>
void SetCharAt(Ch* p, int64_t i, Ch ch) {
    PokePacked<Ch>(p, static_cast<std::size_t>(i) * sizeof(Ch), ch);
}

template <class Ch>
int64_t AddCR(const Ch* source, Ch* dest, int64_t count) {
    int64_t written = 0;
    Ch prev = 0;
    for (int64_t i = 0; written < count; ++i) {
        const Ch ch = CharAt(source, i);
        if (ch == 0) break;
        if (ch == Ch(10) && prev != Ch(13)) {
            SetCharAt(dest, written++, Ch(13));
            if (written == count) break;  // the pair does not fit: keep its first half
        }
        SetCharAt(dest, written++, ch);
        prev = ch;
    }
    SetCharAt(dest, written, Ch(0));
    return written;
}

template <class Ch>
int64_t RemoveCR(const Ch* source, Ch* dest, int64_t destCount, int64_t sourceCount) {
    int64_t written = 0;
    for (int64_t i = 0; i < sourceCount && written < destCount; ++i) {
        const Ch ch = CharAt(source, i);
        if (ch == Ch(13) && i + 1 < sourceCount && CharAt(source, i + 1) == Ch(10)) continue;
        SetCharAt(dest, written++, ch);
    }
    SetCharAt(dest, written, Ch(0));
    return written;
}

// Length of zero-terminated text, at most maximum units.
template <class Ch>
int64_t BoundedLength(const Ch* text, int64_t maximum) {
    int64_t n = 0;
    while (n < maximum && CharAt(text, n) != 0) ++n;
    return n;
}

}  // namespace

int64_t AddCRString(const char* source, char* dest, int64_t count) {
    return AddCR(source, dest, count);
}

int64_t RemoveCRString(const char* source, char* dest, int64_t destCount, int64_t sourceCount) {
    return RemoveCR(source, dest, destCount, sourceCount);
}

int64_t AddCRUnicode(const char16_t* source, char16_t* dest, int64_t count) {
    return AddCR(source, dest, count);
}

int64_t RemoveCRUnicode(const char16_t* source, char16_t* dest, int64_t destCount, int64_t sourceCount) {
    return RemoveCR(source, dest, destCount, sourceCount);
}

double RoundToScale(int scale, double value) {
    if (scale <= 0) return value;
    const rtl::TFormatSettings& fs = rtl::FormatSettings();
    return rtl::StrToFloat(rtl::FloatToStrF(value, rtl::ffFixed, 18, scale, fs), fs);
}

// ---------------------------------------------------------------------------------------------
// TData: construction and life cycle

TData::TData() : stringHeap_(std::make_unique<TStringHeap>()) {}

// Descendants close themselves in their own destructors: from here only the base operations
// can be reached.
TData::~TData() {
    try {
        Close();
    } catch (...) {
    }
    fields_.Clear();
}

void TData::InitData() {
    bof_ = true;
    eof_ = true;
    recordCount_ = 0;
    recNoOffset_ = 0;
}

void TData::FreeData() {
    InitData();
}

void TData::Prepare() {
    InternalPrepare();
    prepared_ = true;
}

void TData::UnPrepare() {
    if (!prepared_) return;
    prepared_ = false;
    if (AutoInitFields) ClearFields();
    InternalUnPrepare();
}

void TData::Open() {
    if (active_) return;
    try {
        InitData();
        InternalOpen(false);
        try {
            InitFilter();
        } catch (...) {
            InternalClose();
            throw;
        }
        active_ = true;
    } catch (...) {
        FreeData();
        FreeFilter();
        throw;
    }
}

void TData::Close() {
    auto finish = [this] {
        active_ = false;
        FreeData();
        if (AutoInitFields && !prepared_) ClearFields();
        FreeFilter();
    };
    try {
        if (active_) InternalClose();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TData::Reopen() {
    Close();
    Open();
}

void TData::SetToBegin() {
    bof_ = true;
    eof_ = false;
}

void TData::SetToEnd() {
    eof_ = true;
    bof_ = false;
}

void TData::DoApplyInsert(void*) {
    if (OnApplyInsert) OnApplyInsert();
}

void TData::DoApplyDelete(void*) {
    if (OnApplyDelete) OnApplyDelete();
}

void TData::DoApplyUpdate(void*) {
    if (OnApplyUpdate) OnApplyUpdate();
}

void TData::DoRevertRecord() {
    if (OnRevertRecord) OnRevertRecord();
}

void TData::DoAfterApplyUpdates() {
    if (OnAfterApplyUpdates) OnAfterApplyUpdates();
}

void TData::DoCancelUpdates() {
    if (OnCancelUpdates) OnCancelUpdates();
}

void TData::DoApplyRecord(int updateKind, int& action, bool last) {
    if (OnApplyRecord) OnApplyRecord(updateKind, action, last);
}

void TData::GetRecord(void*) {
    rtl::AbstractError();
}
void TData::GetNextRecord(void*) {
    rtl::AbstractError();
}
void TData::GetPriorRecord(void*) {
    rtl::AbstractError();
}
void TData::PutRecord(void*) {
    rtl::AbstractError();
}
void TData::AppendRecord(void*) {
    rtl::AbstractError();
}
void TData::InsertRecord(void*) {
    rtl::AbstractError();
}
void TData::UpdateRecord(void*) {
    rtl::AbstractError();
}
void TData::DeleteRecord() {
    rtl::AbstractError();
}

// ---------------------------------------------------------------------------------------------
// Descriptors and layout

bool TData::IsComplexFieldType(TDataType dataType) {
    return dataType == dtVariant || IsHeapDataType(dataType) || IsBlobDataType(dataType);
}

void TData::InitFields() {
    if (AutoInitFields) {
        TOnModifyRecord saved = std::move(OnFieldsChanged);
        OnFieldsChanged = nullptr;
        try {
            ClearFields();
        } catch (...) {
            OnFieldsChanged = std::move(saved);
            throw;
        }
        OnFieldsChanged = std::move(saved);
        InternalInitFields();
        if (OnAfterDescribe) OnAfterDescribe();
        MakeFieldNamesUnique();
    }

    dataAreaSize_ = 0;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind == 2) continue;
        f->Offset = dataAreaSize_;
        if (f->DataType == dtWideString && (f->Offset & 1)) ++f->Offset;
        dataAreaSize_ = f->Offset + f->Size;
    }
    recordSize_ = GetIndicatorSize() + dataAreaSize_;
    if ((recordSize_ & 1) == 0) ++recordSize_;

    calcAreaSize_ = 0;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->Kind != 2) continue;
        f->Offset = recordSize_ + calcAreaSize_;
        if (f->DataType == dtWideString && (f->Offset & 1)) ++f->Offset;
        calcAreaSize_ = f->Offset - recordSize_ + f->Size;
    }
    calcRecordSize_ = calcAreaSize_;
    if (calcRecordSize_ > 0 && (calcRecordSize_ & 1) == 0) ++calcRecordSize_;

    hasComplexFields_ = false;
    for (int i = 0; i < fields_.Count(); ++i)
        if (IsComplexFieldType(fields_[i]->DataType)) hasComplexFields_ = true;

    if (OnFieldsChanged) OnFieldsChanged();
}

void TData::ClearFields() {
    fields_.Clear();
    if (OnFieldsChanged) OnFieldsChanged();
}

bool TData::HasFieldOfTypes(const TDataTypeSet& types) const {
    for (int i = 0; i < fields_.Count(); ++i)
        if (types.test(fields_[i]->DataType & 0xFF)) return true;
    return false;
}

TFieldDesc* TData::CheckFieldNo(int fieldNo) const {
    rtl::Assert(fieldNo >= 1 && fieldNo <= fields_.Count(), "MemData: field number out of range");
    return fields_[fieldNo - 1];
}

// ---------------------------------------------------------------------------------------------
// Null indicators

bool TData::GetNull(int fieldNo, void* recBuf) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (field->HasParent()) return GetChildFieldIsNull(field, recBuf);
    uint8_t* indicator = static_cast<uint8_t*>(recBuf) + dataAreaSize_ + fieldNo - 1;
    if (*indicator != 1) return false;
    if (IsBlobFieldType(field->DataType)) {
        // A blob filled through its own object counts as a value.
        auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        if (blob && blob->GetSize() > 0) {
            *indicator = 0;
            return false;
        }
    }
    return true;
}

void TData::SetNull(int fieldNo, void* recBuf, bool value) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (field->HasParent()) {
        if (value) PutChildField(field, recBuf, nullptr);
        return;
    }
    static_cast<uint8_t*>(recBuf)[dataAreaSize_ + fieldNo - 1] = value ? 1 : 0;
    if (value && IsBlobFieldType(field->DataType)) {
        auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        if (blob) blob->Clear();
    }
}

// ---------------------------------------------------------------------------------------------
// Field values

void TData::GetField(int fieldNo, void* recBuf, void* dest, bool& isBlank) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    isBlank = GetNull(fieldNo, recBuf);
    if (!dest) return;
    const TDataType dt = field->DataType;
    if (isBlank && !(IsComplexFieldType(dt) && !IsHeapDataType(dt))) return;

    if (field->HasParent()) {
        void* value = nullptr;
        bool childBlank = true;
        bool native = true;
        GetChildField(field, recBuf, value, childBlank, native);
        if (value) {
            try {
                GetFieldData(field, value, dest);
            } catch (...) {
                if (!native) TDBObject::FreeAttributeBuffer(value);
                throw;
            }
            if (!native) TDBObject::FreeAttributeBuffer(value);
        }
    } else {
        GetFieldData(field, Place(field, recBuf), dest);
    }

    if (isBlank) return;
    if (dt == dtString) {
        if (field->Fixed && TrimFixedChar)
            TrimTrailingBlanks(static_cast<char*>(dest), field->Length);
        else if (!field->Fixed && TrimVarChar)
            TrimTrailingBlanks(static_cast<char*>(dest));
    } else if (dt == dtWideString) {
        if (field->Fixed && TrimFixedChar)
            TrimTrailingBlanksW(static_cast<char16_t*>(dest), field->Length);
        else if (!field->Fixed && TrimVarChar)
            TrimTrailingBlanksW(static_cast<char16_t*>(dest));
    }
}

void TData::PutField(int fieldNo, void* recBuf, const void* source, bool isDatabaseValue) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    const TDataType dt = field->DataType;
    bool makeNull = source == nullptr;
    if (!makeNull && !KeepEmptyStrings) {
        if (dt == dtString || dt == dtStringRef)
            makeNull = *static_cast<const char*>(source) == 0;
        else if (dt == dtWideString || dt == dtWideStringRef)
            makeNull = PeekPacked<char16_t>(source, 0) == 0;
    }
    if (makeNull) {
        SetNull(fieldNo, recBuf, true);
        return;
    }
    if (field->HasParent()) {
        PutChildField(field, recBuf, source);
        return;
    }
    PutFieldData(field, Place(field, recBuf), source, isDatabaseValue);
    SetNull(fieldNo, recBuf, false);
}

void TData::GetFieldData(TFieldDesc* field, void* place, void* dest) {
    const int64_t length = field->Length;
    switch (field->DataType) {
        case dtString: {
            auto* out = static_cast<char*>(dest);
            if (NeedConvertEOL()) {
                AddCRString(static_cast<const char*>(place), out, length);
            } else {
                const int64_t n = BoundedLength(static_cast<const char*>(place), length);
                std::memcpy(out, place, static_cast<std::size_t>(n));
                out[n] = 0;
            }
            break;
        }
        case dtDate:
            GetDateFromBuf(place, field, dest, 3);
            break;
        case dtTime:
            GetDateFromBuf(place, field, dest, 2);
            break;
        case dtDateTime:
            GetDateFromBuf(place, field, dest, 0);
            break;
        case dtVariant: {
            auto* holder =
                dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PeekPacked<void*>(place, 0)));
            *static_cast<rtl::Variant*>(dest) = holder ? holder->Value : rtl::Variant();
            break;
        }
        case dtStringRef: {
            // Bounded by the field's length: the destination holds Length + 1 bytes.
            const auto* text = PeekPacked<const char*>(place, 0);
            rtl::Assert(text != nullptr, "MemData: heap text of a non-null field is nil");
            auto* out = static_cast<char*>(dest);
            if (NeedConvertEOL()) {
                AddCRString(text, out, length);
            } else {
                const int64_t n = BoundedLength(text, length);
                std::memcpy(out, text, static_cast<std::size_t>(n));
                out[n] = 0;
            }
            break;
        }
        case dtVarBytesRef: {
            const auto* block = PeekPacked<const uint8_t*>(place, 0);
            uint16_t n = block ? PeekPacked<uint16_t>(block, 0) : 0;
            if (n > length) n = static_cast<uint16_t>(length);
            PokePacked<uint16_t>(dest, 0, n);
            if (n) std::memcpy(static_cast<uint8_t*>(dest) + 2, block + 2, n);
            break;
        }
        case dtUInt32:
            PokePacked<int64_t>(dest, 0, int64_t{PeekPacked<uint32_t>(place, 0)});
            break;
        case dtWideString: {
            auto* out = static_cast<char16_t*>(dest);
            const auto* in = static_cast<const char16_t*>(place);
            if (NeedConvertEOL()) {
                dac::AddCRUnicode(in, out, length);
            } else {
                const int64_t n = BoundedLength(in, length);
                std::memcpy(out, in, static_cast<std::size_t>(n) * 2);
                SetCharAt(out, n, char16_t(0));
            }
            break;
        }
        case dtWideStringRef: {
            const auto* text = PeekPacked<const char16_t*>(place, 0);
            rtl::Assert(text != nullptr, "MemData: heap text of a non-null field is nil");
            auto* out = static_cast<char16_t*>(dest);
            if (NeedConvertEOL()) {
                dac::AddCRUnicode(text, out, length);
            } else {
                const int64_t n = BoundedLength(text, length);
                std::memcpy(out, text, static_cast<std::size_t>(n) * 2);
                SetCharAt(out, n, char16_t(0));
            }
            break;
        }
        case dtFmtBcd:
            std::memcpy(dest, place, 34);
            break;
        default:
            std::memcpy(dest, place, static_cast<std::size_t>(field->Size));
            break;
    }
}

char* TData::HeapCopyStr(TFieldDesc* field, const char* text) {
    return stringHeap_->AllocStr(text, false, BoundedLength(text, field->Length));
}

char16_t* TData::HeapCopyWideStr(TFieldDesc* field, const char16_t* text) {
    return stringHeap_->AllocWideStr(text, false, BoundedLength(text, field->Length));
}

void* TData::HeapCopyVarBytes(TFieldDesc* field, const void* block) {
    if (!block) return nullptr;
    uint16_t n = PeekPacked<uint16_t>(block, 0);
    if (n > field->Length) n = field->Length;
    void* copy = stringHeap_->NewBuf(int64_t{n} + 2);
    PokePacked<uint16_t>(copy, 0, n);
    std::memcpy(static_cast<uint8_t*>(copy) + 2, static_cast<const uint8_t*>(block) + 2, n);
    return copy;
}

void TData::PutFieldData(TFieldDesc* field, void* place, const void* source, bool isDatabaseValue) {
    auto* out = static_cast<uint8_t*>(place);
    switch (field->DataType) {
        case dtString: {
            const int64_t n = BoundedLength(static_cast<const char*>(source), std::max(field->Size - 1, 0));
            std::memcpy(out, source, static_cast<std::size_t>(n));
            out[n] = 0;
            break;
        }
        case dtFloat: {
            double v = PeekPacked<double>(source, 0);
            if (!isDatabaseValue) v = RoundToScale(field->Scale, v);
            PokePacked(out, 0, v);
            break;
        }
        case dtDate:
            PutDateToBuf(place, field, source, 3);
            break;
        case dtTime:
            PutDateToBuf(place, field, source, 2);
            break;
        case dtDateTime:
            PutDateToBuf(place, field, source, 0);
            break;
        case dtVariant: {
            auto* holder =
                dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PeekPacked<void*>(place, 0)));
            rtl::Assert(holder != nullptr, "MemData: variant holder is nil");
            holder->Value = *static_cast<const rtl::Variant*>(source);
            break;
        }
        case dtStringRef:
        case dtWideStringRef:
        case dtVarBytesRef: {
            void* copy = nullptr;
            if (field->DataType == dtStringRef)
                copy = HeapCopyStr(field, static_cast<const char*>(source));
            else if (field->DataType == dtWideStringRef)
                copy = HeapCopyWideStr(field, static_cast<const char16_t*>(source));
            else
                copy = HeapCopyVarBytes(field, source);
            void* old = PeekPacked<void*>(place, 0);
            PokePacked<void*>(place, 0, copy);
            stringHeap_->DisposeBuf(old);
            break;
        }
        case dtVarBytes: {
            // A length above the field's would make every later read run past the value.
            std::memcpy(out, source, static_cast<std::size_t>(field->Size));
            if (PeekPacked<uint16_t>(out, 0) > field->Length)
                PokePacked<uint16_t>(out, 0, static_cast<uint16_t>(field->Length));
            break;
        }
        case dtWideString: {
            const auto* in = static_cast<const char16_t*>(source);
            const int64_t n = BoundedLength(in, field->Length);
            std::memcpy(out, in, static_cast<std::size_t>(n) * 2);
            PokePacked<char16_t>(out, static_cast<std::size_t>(n) * 2, 0);
            break;
        }
        default:
            std::memcpy(out, source, static_cast<std::size_t>(field->Size));
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Dates: 0 milliseconds of a time stamp (double), 1 TDateTime, 2 time (32-bit ms), 3 date (days)

void TData::GetDateFromBuf(void* place, TFieldDesc*, void* dest, int form) {
    const double value = PeekPacked<double>(place, 0);
    switch (form) {
        case 0:
            PokePacked<double>(dest, 0, rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(value)));
            break;
        case 1:
            PokePacked<double>(dest, 0, value);
            break;
        case 2:
            PokePacked<int32_t>(dest, 0, rtl::DateTimeToTimeStamp(value).Time);
            break;
        case 3:
            PokePacked<int32_t>(dest, 0, rtl::DateTimeToTimeStamp(value).Date);
            break;
        default:
            break;
    }
}

void TData::PutDateToBuf(void* place, TFieldDesc*, const void* source, int form) {
    double value = 0;
    rtl::TTimeStamp ts;
    switch (form) {
        case 0:
            value =
                dac::TimeStampToDateTime(rtl::MSecsToTimeStamp(std::round(PeekPacked<double>(source, 0))));
            break;
        case 1:
            value = PeekPacked<double>(source, 0);
            break;
        case 2:
            ts.Date = rtl::DateDelta;
            ts.Time = PeekPacked<int32_t>(source, 0);
            value = dac::TimeStampToDateTime(ts);
            break;
        case 3:
            ts.Date = PeekPacked<int32_t>(source, 0);
            ts.Time = 0;
            value = dac::TimeStampToDateTime(ts);
            break;
        default:
            break;
    }
    PokePacked<double>(place, 0, value);
}

// ---------------------------------------------------------------------------------------------
// Record buffers

void* TData::AllocRecBuf() {
    void* p = std::calloc(static_cast<std::size_t>(std::max(recordSize_, 1)), 1);
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    return p;
}

void TData::FreeRecBuf(void* recBuf) {
    std::free(recBuf);
}

void TData::InitRecord(void* recBuf) {
    if (hasComplexFields_) std::memset(recBuf, 0, static_cast<std::size_t>(recordSize_));
    for (int i = 1; i <= fields_.Count(); ++i) SetNull(i, recBuf, true);
}

}  // namespace dac
