#include "platform/rtl/Variants.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace rtl {

struct VarArrayData {
    TVarType elemType = varVariant;
    int low = 0;
    std::vector<uint8_t> bytes;  // byte arrays keep their bytes contiguous
    std::vector<Variant> items;  // every other element kind
    int locks = 0;

    size_t Count() const { return elemType == varByte ? bytes.size() : items.size(); }
    size_t Slot(int index) const {
        const int64_t i = static_cast<int64_t>(index) - low;
        if (i < 0 || i >= static_cast<int64_t>(Count()))
            throw EVariantBadIndexError("Variant or safe array index out of bounds");
        return static_cast<size_t>(i);
    }
};

void VarArrayDeleter::operator()(VarArrayData* p) const {
    delete p;
}

// Reaches the private parts for the free functions of this file.
struct VarAccess {
    static const VarArrayData& Array(const Variant& v) {
        if (!v.IsArray() || !v.array_) throw EVariantNotAnArrayError("Variant is not an array");
        return *v.array_;
    }
    static VarArrayData& Array(Variant& v) {
        if (!v.IsArray() || !v.array_) throw EVariantNotAnArrayError("Variant is not an array");
        return *v.array_;
    }
    static Variant MakeArray(std::unique_ptr<VarArrayData> data) {
        Variant v;
        v.type_ = static_cast<TVarType>(varArray | data->elemType);
        v.array_.reset(data.release());
        return v;
    }
    static const std::string& Str(const Variant& v) { return v.str_; }
    static const std::u16string& WStr(const Variant& v) { return v.wstr_; }
    static const TSQLTimeStamp& Ts(const Variant& v) { return *v.ts_; }
    static const TBcd& Bcd(const Variant& v) { return *v.bcd_; }
    static int64_t I64(const Variant& v) { return v.u_.i64; }
    static uint64_t U64(const Variant& v) { return v.u_.u64; }
    static void* Ptr(const Variant& v) { return v.u_.ptr; }
    static bool Bool(const Variant& v) { return v.u_.b; }
};

namespace {

// The integer kinds whose value sits in the signed 64-bit cell.
bool IsSignedIntegral(TVarType t) {
    switch (t) {
        case varSmallint:
        case varInteger:
        case varShortInt:
        case varByte:
        case varWord:
        case varLongWord:
        case varInt64:
            return true;
        default:
            return false;
    }
}

bool IsIntegral(TVarType t) {
    return IsSignedIntegral(t) || t == varUInt64;
}

[[noreturn]] void ThrowCastError(TVarType from, TVarType to) {
    throw EVariantTypeCastError("Could not convert variant of type (" + VarTypeAsText(from) +
                                ") into type (" + VarTypeAsText(to) + ")");
}

bool IsText(TVarType t) {
    return t == varString || t == varOleStr;
}

std::string BaseName(TVarType t) {
    switch (t) {
        case varEmpty:
            return "Empty";
        case varNull:
            return "Null";
        case varSmallint:
            return "Smallint";
        case varInteger:
            return "Integer";
        case varSingle:
            return "Single";
        case varDouble:
            return "Double";
        case varCurrency:
            return "Currency";
        case varDate:
            return "Date";
        case varOleStr:
            return "OleStr";
        case varDispatch:
            return "Dispatch";
        case varError:
            return "Error";
        case varBoolean:
            return "Boolean";
        case varVariant:
            return "Variant";
        case varUnknown:
            return "Unknown";
        case varDecimal:
            return "Decimal";
        case varShortInt:
            return "ShortInt";
        case varByte:
            return "Byte";
        case varWord:
            return "Word";
        case varLongWord:
            return "LongWord";
        case varInt64:
            return "Int64";
        case varUInt64:
            return "UInt64";
        case varString:
            return "String";
        case varFMTBcd:
            return "FMTBcd";
        case varSQLTimeStamp:
            return "SQLTimeStamp";
        default:
            return Format("$%.4x", {static_cast<int>(t)});
    }
}

// Rounds half to even, as the platform's float-to-integer conversion does.
double RoundEven(double x) {
    return std::nearbyint(x);
}

}  // namespace

// ---- life cycle ----

Variant::Variant(const Variant& other)
    : type_(other.type_), u_(other.u_), str_(other.str_), wstr_(other.wstr_) {
    if (other.bcd_) bcd_ = std::make_unique<TBcd>(*other.bcd_);
    if (other.ts_) ts_ = std::make_unique<TSQLTimeStamp>(*other.ts_);
    if (other.array_) {
        array_.reset(new VarArrayData(*other.array_));
        array_->locks = 0;
    }
}

Variant::Variant(Variant&& other) noexcept
    : type_(other.type_),
      u_(other.u_),
      str_(std::move(other.str_)),
      wstr_(std::move(other.wstr_)),
      bcd_(std::move(other.bcd_)),
      ts_(std::move(other.ts_)),
      array_(std::move(other.array_)) {
    other.type_ = varEmpty;
    other.u_.u64 = 0;
}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
    if (this != &other) {
        type_ = other.type_;
        u_ = other.u_;
        str_ = std::move(other.str_);
        wstr_ = std::move(other.wstr_);
        bcd_ = std::move(other.bcd_);
        ts_ = std::move(other.ts_);
        array_ = std::move(other.array_);
        other.type_ = varEmpty;
        other.u_.u64 = 0;
    }
    return *this;
}

Variant::~Variant() = default;

void Variant::Clear() {
    *this = Variant();
}

Variant::Variant(const char* v) : type_(varString), str_(v != nullptr ? v : "") {}
Variant::Variant(std::string v) : type_(varString), str_(std::move(v)) {}
Variant::Variant(const char16_t* v) : type_(varOleStr), wstr_(v != nullptr ? v : u"") {}
Variant::Variant(std::u16string v) : type_(varOleStr), wstr_(std::move(v)) {}

Variant Variant::FromDateTime(TDateTime v) {
    Variant r;
    r.type_ = varDate;
    r.u_.f64 = v;
    return r;
}

Variant Variant::FromError(int32_t code) {
    Variant r;
    r.type_ = varError;
    r.u_.i64 = code;
    return r;
}

Variant Variant::FromObject(void* object) {
    Variant r;
    r.type_ = varByRef;
    r.u_.ptr = object;
    return r;
}

Variant Variant::FromBcd(const TBcd& v) {
    Variant r;
    r.type_ = varFMTBcd;
    r.bcd_ = std::make_unique<TBcd>(v);
    return r;
}

Variant Variant::FromSQLTimeStamp(const TSQLTimeStamp& v) {
    Variant r;
    r.type_ = varSQLTimeStamp;
    r.ts_ = std::make_unique<TSQLTimeStamp>(v);
    return r;
}

Variant Variant::MakeNull() {
    Variant r;
    r.type_ = varNull;
    return r;
}

// ---- conversions ----

void Variant::CastError(TVarType target) const {
    ThrowCastError(type_, target);
}

void Variant::OverflowError(TVarType target) const {
    throw EVariantOverflowError("Overflow while converting variant of type (" + VarTypeAsText(type_) +
                                ") into type (" + VarTypeAsText(target) + ")");
}

void Variant::CheckScalar(TVarType target) const {
    if (type_ == varNull || IsArray() || type_ == varByRef || type_ == varError || type_ == varDispatch ||
        type_ == varUnknown)
        CastError(target);
}

int64_t Variant::IntegerValue(TVarType target, int64_t min, int64_t max) const {
    CheckScalar(target);
    auto fromDouble = [&](double x) -> int64_t {
        double r = RoundEven(x);
        if (!(r >= static_cast<double>(min) && r <= static_cast<double>(max)) ||
            !(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
            OverflowError(target);
        return static_cast<int64_t>(r);
    };
    int64_t v;
    switch (type_) {
        case varEmpty:
            return 0;
        case varBoolean:
            v = u_.b ? -1 : 0;
            break;
        case varUInt64:
            if (u_.u64 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) OverflowError(target);
            v = static_cast<int64_t>(u_.u64);
            break;
        case varSingle:
            return fromDouble(u_.f32);
        case varDouble:
        case varDate:
            return fromDouble(u_.f64);
        case varCurrency: {
            int64_t q = u_.i64 / Currency::Scale, r = u_.i64 % Currency::Scale;
            int64_t twice = 2 * (r < 0 ? -r : r);
            if (twice > Currency::Scale || (twice == Currency::Scale && (q & 1) != 0)) q += r < 0 ? -1 : 1;
            v = q;
            break;
        }
        case varString:
        case varOleStr: {
            std::string s = AsString();
            double d;
            if (TryStrToInt64(s, v)) break;
            if (TryStrToFloat(s, d)) return fromDouble(d);
            CastError(target);
        }
        case varFMTBcd:
            return fromDouble(BcdToDouble(*bcd_));
        case varSQLTimeStamp:
            return fromDouble(AsDateTime());
        default:
            if (!IsSignedIntegral(type_)) CastError(target);
            v = u_.i64;
            break;
    }
    if (v < min || v > max) OverflowError(target);
    return v;
}

int8_t Variant::AsShortInt() const {
    return static_cast<int8_t>(IntegerValue(varShortInt, INT8_MIN, INT8_MAX));
}
uint8_t Variant::AsByte() const {
    return static_cast<uint8_t>(IntegerValue(varByte, 0, UINT8_MAX));
}
int16_t Variant::AsSmallInt() const {
    return static_cast<int16_t>(IntegerValue(varSmallint, INT16_MIN, INT16_MAX));
}
uint16_t Variant::AsWord() const {
    return static_cast<uint16_t>(IntegerValue(varWord, 0, UINT16_MAX));
}
int32_t Variant::AsInteger() const {
    return static_cast<int32_t>(IntegerValue(varInteger, INT32_MIN, INT32_MAX));
}
uint32_t Variant::AsLongWord() const {
    return static_cast<uint32_t>(IntegerValue(varLongWord, 0, UINT32_MAX));
}
int64_t Variant::AsInt64() const {
    return IntegerValue(varInt64, INT64_MIN, INT64_MAX);
}

uint64_t Variant::AsUInt64() const {
    CheckScalar(varUInt64);
    if (type_ == varUInt64) return u_.u64;
    if (type_ == varSingle || type_ == varDouble || type_ == varDate) {
        double r = RoundEven(type_ == varSingle ? u_.f32 : u_.f64);
        if (!(r >= 0 && r < 18446744073709551616.0)) OverflowError(varUInt64);
        return static_cast<uint64_t>(r);
    }
    if (type_ == varString || type_ == varOleStr) {
        // Values above Int64 are written in decimal only.
        std::string s = AsString();
        size_t i = s.find_first_not_of(' ');
        if (i != std::string::npos && s[i] >= '0' && s[i] <= '9' &&
            s.find_first_not_of("0123456789", i) == std::string::npos && s.size() - i >= 19) {
            unsigned __int128 acc = 0;
            for (size_t k = i; k < s.size(); ++k) acc = acc * 10 + static_cast<unsigned>(s[k] - '0');
            if (acc > std::numeric_limits<uint64_t>::max()) OverflowError(varUInt64);
            return static_cast<uint64_t>(acc);
        }
    }
    int64_t v = IntegerValue(varUInt64, 0, INT64_MAX);
    return static_cast<uint64_t>(v);
}

double Variant::AsDouble() const {
    CheckScalar(varDouble);
    switch (type_) {
        case varEmpty:
            return 0;
        case varBoolean:
            return u_.b ? -1 : 0;
        case varUInt64:
            return static_cast<double>(u_.u64);
        case varSingle:
            return u_.f32;
        case varDouble:
        case varDate:
            return u_.f64;
        case varCurrency:
            return Currency::FromRaw(u_.i64).ToDouble();
        case varString:
        case varOleStr: {
            std::string s = AsString();
            double d;
            if (TryStrToFloat(s, d)) return d;
            bool b;
            if (TryStrToBool(s, b)) return b ? -1 : 0;
            CastError(varDouble);
        }
        case varFMTBcd:
            return BcdToDouble(*bcd_);
        case varSQLTimeStamp:
            return AsDateTime();
        default:
            if (IsSignedIntegral(type_)) return static_cast<double>(u_.i64);
            CastError(varDouble);
    }
}

float Variant::AsSingle() const {
    CheckScalar(varSingle);
    double d = AsDouble();
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX) OverflowError(varSingle);
    return static_cast<float>(d);
}

Currency Variant::AsCurrency() const {
    CheckScalar(varCurrency);
    if (IsSignedIntegral(type_) || type_ == varBoolean) {
        int64_t v = AsInt64();
        if (v > INT64_MAX / Currency::Scale || v < INT64_MIN / Currency::Scale) OverflowError(varCurrency);
        return Currency::FromInt(v);
    }
    switch (type_) {
        case varCurrency:
            return Currency::FromRaw(u_.i64);
        case varString:
        case varOleStr: {
            Currency c;
            if (TryStrToCurr(AsString(), c)) return c;
            double d;
            if (!TryStrToFloat(AsString(), d)) CastError(varCurrency);
            break;
        }
        case varFMTBcd: {
            Currency c;
            if (!BCDToCurr(*bcd_, c)) OverflowError(varCurrency);
            return c;
        }
        default:
            break;
    }
    double d = AsDouble();
    try {
        return Currency::FromDouble(d);
    } catch (const EOverflow&) {
        OverflowError(varCurrency);
    }
}

TDateTime Variant::AsDateTime() const {
    CheckScalar(varDate);
    switch (type_) {
        case varString:
        case varOleStr: {
            TDateTime v;
            if (TryStrToDateTime(AsString(), v)) return v;
            CastError(varDate);
        }
        case varSQLTimeStamp: {
            TDateTime v;
            if (!TryDateTimeOfSQLTimeStamp(*ts_, v)) CastError(varDate);
            return v;
        }
        default:
            return AsDouble();
    }
}

bool Variant::AsBoolean() const {
    CheckScalar(varBoolean);
    switch (type_) {
        case varEmpty:
            return false;
        case varBoolean:
            return u_.b;
        case varString:
        case varOleStr: {
            bool b;
            if (TryStrToBool(AsString(), b)) return b;
            CastError(varBoolean);
        }
        case varFMTBcd:
            return !IsBcdZero(*bcd_);
        case varCurrency:
            return u_.i64 != 0;
        case varUInt64:
            return u_.u64 != 0;
        default:
            if (IsIntegral(type_)) return u_.i64 != 0;
            return AsDouble() != 0;
    }
}

AnsiString Variant::AsString() const {
    switch (type_) {
        case varEmpty:
            return "";
        case varString:
            return str_;
        case varOleStr:
            return WideToAnsi(wstr_);
        case varBoolean:
            return u_.b ? "True" : "False";
        case varUInt64:
            return IntToStr(static_cast<unsigned long long>(u_.u64));
        case varSingle:
            return FloatToStrF(u_.f32, ffGeneral, 7, 0);
        case varDouble:
            return FloatToStr(u_.f64);
        case varCurrency:
            return CurrToStr(Currency::FromRaw(u_.i64));
        case varDate:
            return DateTimeToStr(u_.f64);
        case varFMTBcd:
            return BcdToStr(*bcd_);
        case varSQLTimeStamp:
            return DateTimeToStr(AsDateTime());
        default:
            if (IsSignedIntegral(type_)) return IntToStr(static_cast<long long>(u_.i64));
            CastError(varString);
    }
}

WideString Variant::AsWideString() const {
    if (type_ == varOleStr) return wstr_;
    try {
        return AnsiToWide(AsString());
    } catch (const EVariantTypeCastError&) {
        CastError(varOleStr);
    }
}

TBcd Variant::AsBcd() const {
    CheckScalar(varFMTBcd);
    switch (type_) {
        case varFMTBcd:
            return *bcd_;
        case varEmpty:
            return NullBcd;
        case varCurrency: {
            TBcd b;
            CurrToBCD(Currency::FromRaw(u_.i64), b);
            return b;
        }
        case varSingle:
        case varDouble:
        case varDate:
            return DoubleToBcd(AsDouble());
        case varUInt64: {
            TBcd b;
            TryStrToBcd(IntToStr(static_cast<unsigned long long>(u_.u64)), b, TFormatSettings::Invariant());
            return b;
        }
        case varString:
        case varOleStr: {
            TBcd b;
            if (TryStrToBcd(AsString(), b)) return b;
            CastError(varFMTBcd);
        }
        default:
            if (IsIntegral(type_) || type_ == varBoolean) return IntegerToBcd(AsInt64());
            CastError(varFMTBcd);
    }
}

TSQLTimeStamp Variant::AsSQLTimeStamp() const {
    CheckScalar(varSQLTimeStamp);
    switch (type_) {
        case varSQLTimeStamp:
            return *ts_;
        case varEmpty:
            return NullSQLTimeStamp;
        case varNull:
        case varBoolean:
        case varByRef:
            CastError(varSQLTimeStamp);
        default:
            if (IsArray()) CastError(varSQLTimeStamp);
            return DateTimeToSQLTimeStamp(AsDateTime());
    }
}

void* Variant::AsObject() const {
    return type_ == varByRef ? u_.ptr : nullptr;
}

// ---- arrays ----

int Variant::ArrayLowBound() const {
    return VarAccess::Array(*this).low;
}

int Variant::ArrayHighBound() const {
    const VarArrayData& a = VarAccess::Array(*this);
    return a.low + static_cast<int>(a.Count()) - 1;
}

Variant Variant::GetElement(int index) const {
    const VarArrayData& a = VarAccess::Array(*this);
    const size_t i = a.Slot(index);
    if (a.elemType == varByte) return Variant(a.bytes[i]);
    return a.items[i];
}

void Variant::PutElement(int index, const Variant& value) {
    VarArrayData& a = VarAccess::Array(*this);
    const size_t i = a.Slot(index);
    if (a.elemType == varByte)
        a.bytes[i] = value.AsByte();
    else if (a.elemType == varVariant)
        a.items[i] = value;
    else
        a.items[i] = VarAsType(value, a.elemType);
}

void* Variant::ArrayLock() {
    VarArrayData& a = VarAccess::Array(*this);
    ++a.locks;
    return a.elemType == varByte ? static_cast<void*>(a.bytes.data()) : static_cast<void*>(a.items.data());
}

void Variant::ArrayUnlock() {
    VarArrayData& a = VarAccess::Array(*this);
    if (a.locks == 0) throw EVariantInvalidOpError("Variant or safe array is not locked");
    --a.locks;
}

void Variant::ArrayRedim(int highBound) {
    VarArrayData& a = VarAccess::Array(*this);
    if (a.locks > 0) throw EVariantArrayLockedError("Variant or safe array is locked");
    int64_t count = static_cast<int64_t>(highBound) - a.low + 1;
    if (count < 0) throw EVariantArrayCreateError("Error creating variant or safe array");
    if (a.elemType == varByte) {
        a.bytes.resize(static_cast<size_t>(count));
    } else {
        Variant init = a.elemType == varVariant ? Variant() : VarAsType(Variant(), a.elemType);
        a.items.resize(static_cast<size_t>(count), init);
    }
}

// ---- free functions ----

Variant Null() {
    return Variant::MakeNull();
}
Variant Unassigned() {
    return Variant();
}

TVarType VarType(const Variant& v) {
    return v.VarType();
}
bool VarIsNull(const Variant& v) {
    return v.IsNull();
}
bool VarIsEmpty(const Variant& v) {
    return v.IsEmpty();
}
bool VarIsClear(const Variant& v) {
    return v.IsEmpty();
}
bool VarIsArray(const Variant& v) {
    return v.IsArray();
}
bool VarIsStr(const Variant& v) {
    return IsText(v.VarType());
}
bool VarIsOrdinal(const Variant& v) {
    return IsIntegral(v.VarType()) || v.VarType() == varBoolean;
}
bool VarIsFloat(const Variant& v) {
    TVarType t = v.VarType();
    return t == varSingle || t == varDouble || t == varCurrency;
}
bool VarIsNumeric(const Variant& v) {
    return VarIsOrdinal(v) || VarIsFloat(v) || v.VarType() == varFMTBcd;
}
bool VarIsType(const Variant& v, TVarType type) {
    return v.VarType() == type;
}

std::string VarTypeAsText(TVarType type) {
    std::string prefix;
    if ((type & varArray) != 0) prefix += "Array ";
    if ((type & varByRef) != 0) prefix += "ByRef ";
    return prefix + BaseName(type & varTypeMask);
}

AnsiString VarToStr(const Variant& v) {
    return VarToStrDef(v, "");
}

AnsiString VarToStrDef(const Variant& v, const AnsiString& def) {
    if (v.IsNull() || v.IsEmpty()) return def;
    return v.AsString();
}

WideString VarToWideStr(const Variant& v) {
    if (v.IsNull() || v.IsEmpty()) return WideString();
    return v.AsWideString();
}

TDateTime VarToDateTime(const Variant& v) {
    return v.AsDateTime();
}

Variant VarAsType(const Variant& v, TVarType type) {
    if (v.VarType() == type) return v;
    switch (type) {
        case varEmpty:
            return Variant();
        case varNull:
            return Null();
        case varSmallint:
            return Variant(v.AsSmallInt());
        case varInteger:
            return Variant(v.AsInteger());
        case varSingle:
            return Variant(v.AsSingle());
        case varDouble:
            return Variant(v.AsDouble());
        case varCurrency:
            return Variant(v.AsCurrency());
        case varDate:
            return Variant::FromDateTime(v.AsDateTime());
        case varOleStr:
            return Variant(v.AsWideString());
        case varBoolean:
            return Variant(v.AsBoolean());
        case varShortInt:
            return Variant(v.AsShortInt());
        case varByte:
            return Variant(v.AsByte());
        case varWord:
            return Variant(v.AsWord());
        case varLongWord:
            return Variant(v.AsLongWord());
        case varInt64:
            return Variant(static_cast<long long>(v.AsInt64()));
        case varUInt64:
            return Variant(static_cast<unsigned long long>(v.AsUInt64()));
        case varString:
            return Variant(v.AsString());
        case varFMTBcd:
            return Variant::FromBcd(v.AsBcd());
        case varSQLTimeStamp:
            return Variant::FromSQLTimeStamp(v.AsSQLTimeStamp());
        case varVariant:
            return v;
        default:
            ThrowCastError(v.VarType(), type);
    }
}

Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementType) {
    if (bounds.size() != 2) throw EVariantArrayCreateError("Error creating variant or safe array");
    const int low = bounds.begin()[0], high = bounds.begin()[1];
    const int64_t count = static_cast<int64_t>(high) - low + 1;
    const bool allowed = elementType == varVariant || elementType == varByte || IsIntegral(elementType) ||
                         elementType == varSingle || elementType == varDouble || elementType == varCurrency ||
                         elementType == varDate || elementType == varBoolean || IsText(elementType);
    if (count < 0 || !allowed) throw EVariantArrayCreateError("Error creating variant or safe array");
    auto data = std::make_unique<VarArrayData>();
    data->elemType = elementType;
    data->low = low;
    Variant v = VarAccess::MakeArray(std::move(data));
    v.ArrayRedim(high);
    return v;
}

Variant VarArrayOf(std::initializer_list<Variant> values) {
    Variant v = VarArrayCreate({0, static_cast<int>(values.size()) - 1}, varVariant);
    int i = 0;
    for (const Variant& x : values) v.PutElement(i++, x);
    return v;
}

int VarArrayDimCount(const Variant& v) {
    return v.IsArray() ? 1 : 0;
}

int VarArrayLowBound(const Variant& v, int dim) {
    if (dim != 1) throw EVariantBadIndexError("Variant or safe array index out of bounds");
    return v.ArrayLowBound();
}

int VarArrayHighBound(const Variant& v, int dim) {
    if (dim != 1) throw EVariantBadIndexError("Variant or safe array index out of bounds");
    return v.ArrayHighBound();
}

void* VarArrayLock(Variant& v) {
    return v.ArrayLock();
}
void VarArrayUnlock(Variant& v) {
    v.ArrayUnlock();
}
void VarArrayRedim(Variant& v, int highBound) {
    v.ArrayRedim(highBound);
}

Variant BytesToVariant(const TBytes& bytes) {
    auto data = std::make_unique<VarArrayData>();
    data->elemType = varByte;
    data->bytes = bytes;
    return VarAccess::MakeArray(std::move(data));
}

TBytes VariantToBytes(const Variant& v) {
    const VarArrayData& a = VarAccess::Array(v);
    if (a.elemType == varByte) return a.bytes;
    TBytes out;
    out.reserve(a.items.size());
    for (const Variant& x : a.items) out.push_back(x.AsByte());
    return out;
}

TVarType VarFMTBcd() {
    return varFMTBcd;
}
TVarType VarSQLTimeStamp() {
    return varSQLTimeStamp;
}

Variant VarFMTBcdCreate(const TBcd& value) {
    return Variant::FromBcd(value);
}

Variant VarFMTBcdCreate(const std::string& text, int precision, int scale) {
    TBcd b = StrToBcd(text), out;
    if (!NormalizeBcd(b, out, precision, scale)) throw EBcdOverflowException("BCD overflow");
    return Variant::FromBcd(out);
}

bool VarIsFMTBcd(const Variant& v) {
    return v.VarType() == varFMTBcd;
}
TBcd VarToBcd(const Variant& v) {
    return v.AsBcd();
}

Variant VarSQLTimeStampCreate(const TSQLTimeStamp& value) {
    return Variant::FromSQLTimeStamp(value);
}
Variant VarSQLTimeStampCreate(TDateTime value) {
    return Variant::FromSQLTimeStamp(DateTimeToSQLTimeStamp(value));
}
bool VarIsSQLTimeStamp(const Variant& v) {
    return v.VarType() == varSQLTimeStamp;
}
TSQLTimeStamp VarToSQLTimeStamp(const Variant& v) {
    return v.AsSQLTimeStamp();
}

// ---- comparison ----

namespace {

TVariantRelationship FromOrder(int c) {
    return c < 0 ? vrLessThan : c > 0 ? vrGreaterThan : vrEqual;
}

TVariantRelationship CompareDoubles(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return vrNotEqual;
    return x < y ? vrLessThan : x > y ? vrGreaterThan : vrEqual;
}

__int128 WideInteger(const Variant& v) {
    return v.VarType() == varUInt64 ? static_cast<__int128>(VarAccess::U64(v))
                                    : static_cast<__int128>(VarAccess::I64(v));
}

}  // namespace

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
    if (a.IsArray() || b.IsArray()) throw EVariantInvalidOpError("Invalid variant operation");
    TVarType ta = a.VarType(), tb = b.VarType();
    if (ta == varNull || tb == varNull) return ta == tb ? vrEqual : vrNotEqual;
    if (ta == varEmpty && tb == varEmpty) return vrEqual;
    // Unassigned stands for the other side's zero.
    if (ta == varEmpty) return VarCompareValue(VarAsType(a, tb), b);
    if (tb == varEmpty) return VarCompareValue(a, VarAsType(b, ta));
    if (ta == varByRef || tb == varByRef) {
        if (ta != tb) throw EVariantInvalidOpError("Invalid variant operation");
        return VarAccess::Ptr(a) == VarAccess::Ptr(b) ? vrEqual : vrNotEqual;
    }
    if (ta == varError || tb == varError) {
        if (ta != tb) throw EVariantInvalidOpError("Invalid variant operation");
        return VarAccess::I64(a) == VarAccess::I64(b) ? vrEqual : vrNotEqual;
    }
    if (IsText(ta) && IsText(tb)) {
        if (ta == varString && tb == varString)
            return FromOrder(AnsiCompareStr(VarAccess::Str(a), VarAccess::Str(b)));
        return FromOrder(WideCompareStr(a.AsWideString(), b.AsWideString()));
    }
    if (ta == varSQLTimeStamp && tb == varSQLTimeStamp)
        return FromOrder(CompareSQLTimeStamp(VarAccess::Ts(a), VarAccess::Ts(b)));
    if (ta == varSQLTimeStamp || tb == varSQLTimeStamp || ta == varDate || tb == varDate)
        return CompareDoubles(a.AsDateTime(), b.AsDateTime());
    if (ta == varBoolean && tb == varBoolean)
        return FromOrder(int(VarAccess::Bool(a)) - int(VarAccess::Bool(b)));
    if ((ta == varBoolean && IsText(tb)) || (tb == varBoolean && IsText(ta)))
        return FromOrder(int(a.AsBoolean()) - int(b.AsBoolean()));
    const bool exactA = IsIntegral(ta) || ta == varCurrency || ta == varFMTBcd || ta == varBoolean;
    const bool exactB = IsIntegral(tb) || tb == varCurrency || tb == varFMTBcd || tb == varBoolean;
    if (ta == varFMTBcd || tb == varFMTBcd) {
        if ((exactA || IsText(ta)) && (exactB || IsText(tb)))
            return FromOrder(BcdCompare(a.AsBcd(), b.AsBcd()));
        return CompareDoubles(a.AsDouble(), b.AsDouble());
    }
    if ((IsIntegral(ta) || ta == varBoolean) && (IsIntegral(tb) || tb == varBoolean)) {
        __int128 x = ta == varBoolean ? (VarAccess::Bool(a) ? -1 : 0) : WideInteger(a);
        __int128 y = tb == varBoolean ? (VarAccess::Bool(b) ? -1 : 0) : WideInteger(b);
        return x < y ? vrLessThan : x > y ? vrGreaterThan : vrEqual;
    }
    if (exactA && exactB) {
        // Currency against currency or an integer: compare in ten-thousandths.
        auto scaled = [](const Variant& v) -> __int128 {
            if (v.VarType() == varCurrency) return VarAccess::I64(v);
            if (v.VarType() == varBoolean) return VarAccess::Bool(v) ? -Currency::Scale : 0;
            return WideInteger(v) * Currency::Scale;
        };
        __int128 x = scaled(a), y = scaled(b);
        return x < y ? vrLessThan : x > y ? vrGreaterThan : vrEqual;
    }
    // Numbers with texts or floats: as floating point; a text that is no number raises.
    return CompareDoubles(a.AsDouble(), b.AsDouble());
}

bool VarSameValue(const Variant& a, const Variant& b) {
    return VarCompareValue(a, b) == vrEqual;
}

bool operator==(const Variant& a, const Variant& b) {
    return VarCompareValue(a, b) == vrEqual;
}
bool operator!=(const Variant& a, const Variant& b) {
    return !(a == b);
}

bool operator<(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return a.IsNull() && !b.IsNull();
    return VarCompareValue(a, b) == vrLessThan;
}

bool operator>(const Variant& a, const Variant& b) {
    return b < a;
}

bool operator<=(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return a.IsNull();
    TVariantRelationship r = VarCompareValue(a, b);
    return r == vrLessThan || r == vrEqual;
}

bool operator>=(const Variant& a, const Variant& b) {
    return b <= a;
}

}  // namespace rtl
