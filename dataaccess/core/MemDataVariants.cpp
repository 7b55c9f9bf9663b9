// Record storage: field values read and written as Variants.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/Numbers.h"

namespace dac {

namespace {

using rtl::Variant;

Variant BytesVariant(const uint8_t* bytes, std::size_t n) {
    return rtl::BytesToVariant(TBytes(bytes, bytes + n));
}

[[noreturn]] void CannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

bool IsIntegral(rtl::TVarType t) {
    return t == rtl::varSmallint || t == rtl::varInteger || t == rtl::varShortInt || t == rtl::varByte ||
           t == rtl::varWord || t == rtl::varLongWord || t == rtl::varInt64;
}

bool IsText(rtl::TVarType t) {
    return t == rtl::varString || t == rtl::varOleStr;
}

bool IsByteArray(const Variant& v) {
    return v.VarType() == (rtl::varArray | rtl::varByte);
}

// The bytes of a byte-array Variant, each element converted to a byte.
TBytes ArrayBytes(const Variant& v) {
    TBytes out;
    for (int i = v.ArrayLowBound(); i <= v.ArrayHighBound(); ++i) out.push_back(v.GetElement(i).AsByte());
    return out;
}

}  // namespace

void TData::GetFieldAsVariant(int fieldNo, void* recBuf, rtl::Variant& value) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (GetNull(fieldNo, recBuf)) {
        value = rtl::Null();
        return;
    }
    value = rtl::Unassigned();

    void* place = nullptr;
    bool native = true;
    if (field->HasParent()) {
        bool blank = true;
        GetChildField(field, recBuf, place, blank, native);
        if (!place) return;
    } else {
        place = Place(field, recBuf);
    }
    struct BufferRelease {
        void* p;
        bool own;
        ~BufferRelease() {
            if (own) TDBObject::FreeAttributeBuffer(p);
        }
    } release{place, !native};

    const int64_t length = field->Length;
    const bool trim = field->Fixed ? TrimFixedChar : TrimVarChar;
    auto heapPointer = [place] { return PeekPacked<void*>(place, 0); };
    auto blobOf = [&]() {
        auto* blob = dynamic_cast<TBlob*>(TSharedObject::FromHandle(heapPointer()));
        rtl::Assert(blob != nullptr,
                    "Object for field " + field->Name + "(" + rtl::IntToStr(fieldNo) + ") = nil");
        return blob;
    };
    switch (field->DataType) {
        case dtString: {
            AnsiString s = BoundedText<char>(place, length);
            if (trim) TrimRightBlanks(s);
            value = Variant(std::move(s));
            break;
        }
        case dtInt8:
            value = Variant(PeekPacked<int8_t>(place, 0));
            break;
        case dtSmallint:
            value = Variant(PeekPacked<int16_t>(place, 0));
            break;
        case dtInteger:
            value = Variant(PeekPacked<int32_t>(place, 0));
            break;
        case dtFloat:
        case dtCurrency:
            value = Variant(PeekPacked<double>(place, 0));
            break;
        case dtDate:
        case dtTime:
        case dtDateTime: {
            double dt = 0;
            GetDateFromBuf(place, field, &dt, 1);
            value = Variant::FromDateTime(dt);
            break;
        }
        case dtWord:
            value = Variant(PeekPacked<uint16_t>(place, 0));
            break;
        case dtBoolean:
            value = Variant(PeekPacked<int16_t>(place, 0) != 0);
            break;
        case dtLargeint:
            value = Variant(static_cast<long long>(PeekPacked<int64_t>(place, 0)));
            break;
        case dtMemo:
            value = Variant(blobOf()->GetAsString());
            break;
        case dtVariant: {
            auto* holder = dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(heapPointer()));
            if (holder) value = holder->Value;
            break;
        }
        case dtStringRef: {
            const void* text = heapPointer();
            value = Variant(text ? BoundedText<char>(text, length) : AnsiString());
            break;
        }
        case dtBytes:
            value = BytesVariant(static_cast<const uint8_t*>(place), static_cast<std::size_t>(length));
            break;
        case dtVarBytes: {
            // The stored length is trusted no further than the field: beyond it lies the next field.
            const auto n = std::min<int64_t>(PeekPacked<uint16_t>(place, 0), length);
            value = BytesVariant(static_cast<const uint8_t*>(place) + 2, static_cast<std::size_t>(n));
            break;
        }
        case dtVarBytesRef: {
            const auto* block = static_cast<const uint8_t*>(heapPointer());
            value =
                block ? BytesVariant(block + 2, PeekPacked<uint16_t>(block, 0)) : BytesVariant(nullptr, 0);
            break;
        }
        case dtUInt32:
            value = Variant(PeekPacked<uint32_t>(place, 0));
            break;
        case dtWideString: {
            WideString s = BoundedText<char16_t>(place, length);
            if (trim) TrimRightBlanks(s);
            value = Variant(std::move(s));
            break;
        }
        case dtWideStringRef: {
            const void* text = heapPointer();
            value = Variant(text ? BoundedText<char16_t>(text, length) : WideString());
            break;
        }
        case dtBCD:
            value = Variant(rtl::Currency::FromRaw(PeekPacked<int64_t>(place, 0)));
            break;
        case dtFmtBcd:
            value = rtl::VarFMTBcdCreate(PeekPacked<rtl::TBcd>(place, 0));
            break;
        case dtGuid:
            value = Variant(BoundedText<char>(place, length));
            break;
        case dtWideMemo:
            value = Variant(blobOf()->GetAsWideString());
            break;
        case dtSQLTimeStamp:
            value = rtl::VarSQLTimeStampCreate(PeekPacked<rtl::TSQLTimeStamp>(place, 0));
            break;
        default:
            throw rtl::EConvertError("Cannot convert type " + rtl::IntToStr(field->DataType));
    }
}

void TData::PutFieldAsVariant(int fieldNo, void* recBuf, const rtl::Variant& value, bool isDatabaseValue) {
    TFieldDesc* field = CheckFieldNo(fieldNo);
    if (value.IsNull() || value.IsEmpty()) {
        SetNull(fieldNo, recBuf, true);
        return;
    }
    rtl::Assert(!field->HasParent(), "MemData: child fields are not written as Variants");
    uint8_t* place = Place(field, recBuf);
    const rtl::TVarType vt = value.VarType();

    // Every conversion runs before the record changes, so a failure leaves the field as it was.
    auto storeText = [&](const AnsiString& s, int64_t maximum) {
        const std::size_t n =
            std::min<std::size_t>(s.size(), static_cast<std::size_t>(std::max<int64_t>(maximum, 0)));
        std::memcpy(place, s.data(), n);
        place[n] = 0;
    };
    auto replaceHeap = [&](void* copy) {
        void* old = PlacePointer(field, recBuf);
        SetPlacePointer(field, recBuf, copy);
        stringHeap_->DisposeBuf(old);
    };
    auto roundIf = [&](double v) { return isDatabaseValue ? v : RoundToScale(field->Scale, v); };

    switch (field->DataType) {
        case dtString:
        case dtGuid:
            storeText(value.AsString(), field->Size - 1);
            break;
        case dtInt8: {
            const int32_t v = value.AsInteger();
            if (field->Size == 1)
                PokePacked<int8_t>(place, 0, static_cast<int8_t>(v));
            else if (field->Size == 2)
                PokePacked<int16_t>(place, 0, static_cast<int16_t>(v));
            else
                rtl::Assert(false, "MemData: dtInt8 field of size " + rtl::IntToStr(field->Size));
            break;
        }
        case dtSmallint:
            if (!IsIntegral(vt)) CannotConvert();
            PokePacked<int16_t>(place, 0, value.AsSmallInt());
            break;
        case dtInteger: {
            int32_t v;
            if (IsIntegral(vt) || vt == rtl::varSingle || vt == rtl::varDouble || vt == rtl::varCurrency)
                v = value.AsInteger();
            else if (IsText(vt))
                v = rtl::StrToInt(value.AsString());
            else
                CannotConvert();
            PokePacked<int32_t>(place, 0, v);
            break;
        }
        case dtFloat:
        case dtCurrency: {
            double v;
            if (vt == rtl::varSmallint || vt == rtl::varInteger || vt == rtl::varShortInt ||
                vt == rtl::varByte || vt == rtl::varWord || vt == rtl::varLongWord || vt == rtl::varInt64)
                v = value.AsDouble();
            else if (vt == rtl::varSingle || vt == rtl::varDouble || vt == rtl::varCurrency)
                v = roundIf(value.AsDouble());
            else if (IsText(vt))
                v = roundIf(rtl::StrToFloat(value.AsString()));
            else
                CannotConvert();
            PokePacked<double>(place, 0, v);
            break;
        }
        case dtDate:
        case dtTime:
        case dtDateTime: {
            const double v = value.AsDateTime();
            PutDateToBuf(place, field, &v, 1);
            break;
        }
        case dtWord:
            if (!IsIntegral(vt)) CannotConvert();
            PokePacked<uint16_t>(place, 0, value.AsWord());
            break;
        case dtBoolean:
            if (vt != rtl::varBoolean) CannotConvert();
            PokePacked<int16_t>(place, 0, value.AsBoolean() ? 1 : 0);
            break;
        case dtLargeint:
            if (vt != rtl::varInt64) CannotConvert();
            PokePacked<int64_t>(place, 0, value.AsInt64());
            break;
        case dtBlob:
        case dtMemo: {
            const AnsiString s = value.AsString();
            GetBlob(fieldNo, recBuf)->SetAsString(s);
            break;
        }
        case dtWideMemo: {
            const WideString s = value.AsWideString();
            GetBlob(fieldNo, recBuf)->SetAsWideString(s);
            break;
        }
        case dtVariant: {
            auto* holder =
                dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PlacePointer(field, recBuf)));
            rtl::Assert(holder != nullptr, "MemData: variant holder is nil");
            holder->Value = value;
            break;
        }
        case dtStringRef: {
            const AnsiString s = value.AsString();
            replaceHeap(HeapCopyStr(field, s.c_str()));
            break;
        }
        case dtWideStringRef: {
            const WideString s = value.AsWideString();
            replaceHeap(HeapCopyWideStr(field, s.c_str()));
            break;
        }
        case dtBytes: {
            rtl::Assert(IsByteArray(value), "Invalid VType");
            const TBytes bytes = rtl::VariantToBytes(value);
            rtl::Assert(bytes.size() == field->Length, "Invalid data size");
            std::memcpy(place, bytes.data(), bytes.size());
            break;
        }
        case dtVarBytes: {
            rtl::Assert(IsByteArray(value), "Invalid VType");
            const TBytes bytes = rtl::VariantToBytes(value);
            rtl::Assert(bytes.size() <= field->Length, "Invalid data size");
            PokePacked<uint16_t>(place, 0, static_cast<uint16_t>(bytes.size()));
            std::memcpy(place + 2, bytes.data(), bytes.size());
            break;
        }
        case dtVarBytesRef: {
            rtl::Assert(value.IsArray(), "Invalid VType");
            TBytes bytes = ArrayBytes(value);
            if (bytes.size() > field->Length) bytes.resize(field->Length);
            void* block = stringHeap_->NewBuf(static_cast<int64_t>(bytes.size()) + 2);
            PokePacked<uint16_t>(block, 0, static_cast<uint16_t>(bytes.size()));
            std::memcpy(static_cast<uint8_t*>(block) + 2, bytes.data(), bytes.size());
            replaceHeap(block);
            break;
        }
        case dtUInt32:
            if (vt != rtl::varLongWord) CannotConvert();
            PokePacked<uint32_t>(place, 0, value.AsLongWord());
            break;
        case dtWideString: {
            const WideString s = value.AsWideString();
            const std::size_t n =
                std::min<std::size_t>(s.size(), static_cast<std::size_t>(std::max(field->Size / 2 - 1, 0)));
            std::memcpy(place, s.data(), n * 2);
            PokePacked<char16_t>(place, n * 2, 0);
            break;
        }
        case dtBCD:
            PokePacked<int64_t>(place, 0, value.AsCurrency().Raw());
            break;
        case dtFmtBcd: {
            const rtl::TBcd bcd = rtl::StrToBcd(value.AsString());
            PokePacked(place, 0, bcd);
            break;
        }
        case dtSQLTimeStamp: {
            const rtl::TSQLTimeStamp ts = rtl::VarToSQLTimeStamp(value);
            PokePacked(place, 0, ts);
            break;
        }
        default:
            CannotConvert();
    }
    SetNull(fieldNo, recBuf, false);
}

}  // namespace dac
