// TOCIRecordSet row values: nulls, dates, variants, the per-row number objects and the conversion
// of a fetched row's entries into record values.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

// A DATE that cannot be a real date or time counts as null: the zero date, month and day both 0,
// or a time byte out of range.
bool IsNullDate(const uint8_t* d) {
    uint32_t zero;
    std::memcpy(&zero, d + 1, 4);
    if (d[0] == 100 && zero == 100) return true;
    if (d[2] == 0 && d[3] == 0) return true;
    if (d[4] == 0 || d[5] == 0 || d[6] == 0) return true;
    return d[4] > 24 || d[5] > 60 || d[6] > 60;
}

TOraNumber* NumberAt(void* place) {
    return dynamic_cast<TOraNumber*>(TSharedObject::FromHandle(PeekPacked<void*>(place, 0)));
}

}  // namespace

bool TOCIRecordSet::IsBlobFieldType(TDataType t) {
    return t == dtBlob || t == dtMemo || t == dtWideMemo || (t >= dtOraBlob && t <= dtCFile) ||
           t == dtWideOraClob;
}

bool TOCIRecordSet::IsComplexFieldType(TDataType t) {
    return (t >= dtObject && t <= dtTable) || t == dtStringRef || t == dtVarBytesRef ||
           t == dtWideStringRef || t == dtCursor || (t >= dtTimeStamp && t <= dtIntervalDS) ||
           t == dtNumber || t == dtXML || IsBlobFieldType(t);
}

bool TOCIRecordSet::GetNull(int fieldNo, void* recBuf) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (field->HasParent()) return TCRRecordSet::GetNull(fieldNo, recBuf);
    if (field->DataType == dtReference || field->DataType == dtXML) {
        auto* obj = dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        return !obj || obj->GetIsNull();
    }
    if (field->DataType == dtObject || field->DataType == dtArray || field->DataType == dtTable) {
        auto* obj = dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        return !obj || !obj->GetInstance() || obj->GetIsNull();
    }
    bool isNull = GetIndicator(recBuf, fieldNo) == -1;
    if (!isNull && field->DataType == dtDateTime) isNull = IsNullDate(Place(field, recBuf));
    if (isNull && IsBlobFieldType(field->DataType)) {
        // A blob filled through its own object counts as a value.
        auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        if (blob && blob->GetSize() > 0) return false;
    }
    return isNull;
}

void TOCIRecordSet::SetNull(int fieldNo, void* recBuf, bool value) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (field->HasParent()) return TCRRecordSet::SetNull(fieldNo, recBuf, value);
    SetIndicator(recBuf, fieldNo, value ? -1 : 0);
    if (value && IsBlobFieldType(field->DataType)) {
        if (auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf))))
            blob->Clear();
    }
    if (field->DataType == dtNumber)
        if (TOraNumber* n = NumberAt(Place(field, recBuf))) n->SetIsNull(value);
    SetValueFieldNull(field, recBuf, value);
}

void TOCIRecordSet::GetDateFromBuf(void* place, TFieldDesc* field, void* dest, int form) {
    if (field->DataType != dtDateTime || field->HasParent())
        return TCRRecordSet::GetDateFromBuf(place, field, dest, form);
    double value;
    try {
        value = form == 0 ? OraDateToMSecs(place) : OraDateToDateTime(place);
    } catch (rtl::EConvertError&) {
        // Kept as the system always read it: a DATE that does not convert reads as 0001-01-02
        // (milliseconds form) or 1899-12-30 (date-time form), not as an error.
        value = form == 0 ? 86400000.0 : 0.0;
    }
    std::memcpy(dest, &value, sizeof value);
}

void TOCIRecordSet::PutDateToBuf(void* place, TFieldDesc* field, const void* source, int form) {
    if (field->DataType != dtDateTime || field->HasParent())
        return TCRRecordSet::PutDateToBuf(place, field, source, form);
    double value;
    std::memcpy(&value, source, sizeof value);
    if (form == 0)
        MSecsToOraDate(place, value);
    else
        DateTimeToOraDate(place, value);
}

void TOCIRecordSet::GetFieldAsVariant(int fieldNo, void* recBuf, rtl::Variant& value) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if ((field->DataType == dtOraClob || field->DataType == dtWideOraClob) && !field->HasParent()) {
        if (GetNull(fieldNo, recBuf)) {
            value = rtl::Variant::MakeNull();
            return;
        }
        auto* lob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
        value = field->DataType == dtWideOraClob ? rtl::Variant(lob->GetAsWideString())
                                                 : rtl::Variant(lob->GetAsString());
        return;
    }
    if (field->DataType == dtNumber && !field->HasParent()) {
        if (GetNull(fieldNo, recBuf)) {
            value = rtl::Variant::MakeNull();
            return;
        }
        value = NumberAt(Place(field, recBuf))->GetAsFloat();
        return;
    }
    if (GetValueFieldAsVariant(field, recBuf, value)) return;
    TCRRecordSet::GetFieldAsVariant(fieldNo, recBuf, value);
}

void TOCIRecordSet::PutFieldAsVariant(int fieldNo, void* recBuf, const rtl::Variant& value,
                                      bool isDatabaseValue) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (field->DataType != dtNumber || field->HasParent())
        return TCRRecordSet::PutFieldAsVariant(fieldNo, recBuf, value, isDatabaseValue);
    if (value.IsNull() || value.IsEmpty()) return SetNull(fieldNo, recBuf, true);
    TOraNumber* n = NumberAt(Place(field, recBuf));
    switch (value.VarType()) {
        case rtl::varSmallint:
        case rtl::varInteger:
        case rtl::varShortInt:
        case rtl::varByte:
        case rtl::varWord:
            n->SetAsInteger(value.AsInteger());
            break;
        case rtl::varInt64:
            n->SetAsLargeInt(value.AsInt64());
            break;
        case rtl::varSingle:
        case rtl::varDouble:
        case rtl::varCurrency:
        case rtl::varString:
        case rtl::varOleStr:
            n->SetAsString(value.AsString());
            break;
        default:
            throw rtl::EConvertError("Cannot convert type");
    }
    SetIndicator(recBuf, fieldNo, 0);
}

void TOCIRecordSet::CreateComplexFields(void* recBuf, bool withBlob) {
    if (!hasComplexFields_) return;
    TCRRecordSet::CreateComplexFields(recBuf, withBlob);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (f->DataType == dtNumber) SetPlacePointer(f, recBuf, (new TOraNumber())->GetHandle());
    }
    CreateValueFields(recBuf);
    if (withBlob) CreateLobFields(recBuf);
    CreateObjectFields(recBuf);
    CreateCursorFields(recBuf);
}

void TOCIRecordSet::FreeComplexFields(void* recBuf, bool withBlob) {
    if (withBlob) FreeLobFields(recBuf);
    FreeValueFields(recBuf);
    FreeObjectFields(recBuf);
    FreeCursorFields(recBuf);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || f->DataType != dtNumber) continue;
        if (TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(f, recBuf))) {
            obj->Free();
            SetPlacePointer(f, recBuf, nullptr);
        }
    }
    TCRRecordSet::FreeComplexFields(recBuf, withBlob);
}

void TOCIRecordSet::CopyComplexFields(void* source, void* dest, bool withBlob) {
    TCRRecordSet::CopyComplexFields(source, dest, withBlob);
    CopyObjectFields(source, dest);
    CopyCursorFields(source, dest);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || f->DataType != dtNumber) continue;
        TOraNumber* from = NumberAt(Place(f, source));
        TOraNumber* to = NumberAt(Place(f, dest));
        if (from && to && from != to) from->AssignTo(to);
    }
    CopyValueFields(source, dest);
}

int TOCIRecordSet::CompareFields(void* recBuf1, void* recBuf2, TFieldDesc* field, int options) {
    if (!field->HasParent() && field->DataType >= dtTimeStamp && field->DataType <= dtIntervalDS)
        return CompareValueFields(recBuf1, recBuf2, field);
    if (field->DataType != dtNumber || field->HasParent())
        return TCRRecordSet::CompareFields(recBuf1, recBuf2, field, options);
    const bool null1 = GetNull(field->FieldNo, recBuf1);
    const bool null2 = GetNull(field->FieldNo, recBuf2);
    if (null1 || null2) return null1 == null2 ? 0 : (null1 ? -1 : 1);
    rtl::TBcd a = NumberAt(Place(field, recBuf1))->GetAsBCD();
    rtl::TBcd b = NumberAt(Place(field, recBuf2))->GetAsBCD();
    return rtl::BcdCompare(a, b);
}

// ---------------------------------------------------------------------------------------------
// Conversion entries

bool TOCIRecordSet::NeedsConversionEntry(const TFieldDesc& f) {
    const TDataType t = f.DataType;
    const bool memoText = (t == dtMemo || t == dtWideMemo) && f.SubDataType != 0;
    return t == dtLargeint || t == dtBCD || t == dtFmtBcd || t == dtNumber || t == dtStringRef ||
           t == dtWideStringRef || t == dtVarBytesRef || memoText || IsOraLobType(t) ||
           IsDescriptorField(f) || t == dtObject || t == dtArray || t == dtTable || t == dtReference ||
           t == dtXML || t == dtCursor;
}

int TOCIRecordSet::ConversionEntrySize(const TFieldDesc& f) {
    if (IsDescriptorField(f)) return static_cast<int>(sizeof(void*));
    return static_cast<int>(TOCICommand::DefineBufferSize(f));
}

void TOCIRecordSet::ConvertRow(void* recBuf, uint8_t* row) {
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        const TDataType kept = fields_[i]->DataType;
        if (entry < 0 || IsOraLobType(kept) || kept == dtObject || kept == dtArray || kept == dtTable ||
            kept == dtReference || kept == dtXML)
            continue;
        TFieldDesc* f = fields_[i];
        if (kept == dtCursor) {
            TakeCursorHandle(recBuf, f, row + entry);
            continue;
        }
        uint8_t* e = row + entry;
        uint8_t* place = Place(f, recBuf);
        const bool isNull = GetIndicator(recBuf, i + 1) == -1;
        if (ConvertValueEntry(recBuf, f, e, isNull)) continue;
        switch (f->DataType) {
            case dtLargeint: {
                int64_t v = 0;
                if (!isNull)
                    OCINumberToInt(OCIErrorHandle(), reinterpret_cast<OCINumber*>(e), 8, OCI_NUMBER_SIGNED,
                                   &v);
                std::memcpy(place, &v, 8);
                break;
            }
            case dtBCD: {
                int64_t v = 0;
                if (!isNull) {
                    rtl::TBcd bcd;
                    OCINumberToBcd(e, bcd);
                    rtl::Currency c{};
                    if (!rtl::BCDToCurr(bcd, c)) throw rtl::EConvertError("Cannot convert type");
                    std::memcpy(&v, &c, 8);
                }
                std::memcpy(place, &v, 8);
                break;
            }
            case dtFmtBcd: {
                rtl::TBcd bcd{};
                if (!isNull) OCINumberToBcd(e, bcd);
                std::memcpy(place, &bcd, std::min<size_t>(sizeof bcd, static_cast<size_t>(f->Size)));
                break;
            }
            case dtNumber:
                if (TOraNumber* n = NumberAt(place)) {
                    std::memcpy(n->GetOCINumberPtr(), e, sizeof(OCINumber));
                    n->SetIsNull(isNull);
                }
                break;
            case dtStringRef: {
                const bool trim = f->Fixed && TrimFixedChar;
                SetPlacePointer(f, recBuf,
                                isNull ? nullptr : StringHeap().AllocStr(reinterpret_cast<char*>(e), trim));
                break;
            }
            case dtWideStringRef: {
                const bool trim = f->Fixed && TrimFixedChar;
                SetPlacePointer(
                    f, recBuf,
                    isNull ? nullptr : StringHeap().AllocWideStr(reinterpret_cast<char16_t*>(e), trim));
                break;
            }
            case dtVarBytesRef: {
                if (isNull) {
                    SetPlacePointer(f, recBuf, nullptr);
                    break;
                }
                uint16_t n;
                std::memcpy(&n, e, 2);
                void* buf = StringHeap().NewBuf(n + 2);
                std::memcpy(buf, e, n + 2u);
                SetPlacePointer(f, recBuf, buf);
                break;
            }
            default: {  // memo columns read as text
                auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
                if (!blob || isNull) break;
                size_t bytes = 0;
                if (f->DataType == dtWideMemo) {
                    const auto* w = reinterpret_cast<const char16_t*>(e);
                    while (w[bytes / 2]) bytes += 2;
                } else {
                    bytes = std::strlen(reinterpret_cast<const char*>(e));
                }
                if (bytes > 0) blob->Write(0, static_cast<int64_t>(bytes), e);
                break;
            }
        }
    }
    FinishLobFields(recBuf);
    TakeObjectInstances(recBuf, row);
}

}  // namespace dac
