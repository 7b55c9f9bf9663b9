// Variant: a value that carries its own kind, with the platform's type codes, conversions and
// comparison rules; one-dimensional arrays (byte arrays and arrays of Variant); the packed
// decimal and SQL time stamp kinds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Types.h"

namespace rtl {

using TVarType = uint16_t;

inline constexpr TVarType varEmpty = 0x0000;
inline constexpr TVarType varNull = 0x0001;
inline constexpr TVarType varSmallint = 0x0002;
inline constexpr TVarType varInteger = 0x0003;
inline constexpr TVarType varSingle = 0x0004;
inline constexpr TVarType varDouble = 0x0005;
inline constexpr TVarType varCurrency = 0x0006;
inline constexpr TVarType varDate = 0x0007;
inline constexpr TVarType varOleStr = 0x0008;
inline constexpr TVarType varDispatch = 0x0009;
inline constexpr TVarType varError = 0x000A;
inline constexpr TVarType varBoolean = 0x000B;
inline constexpr TVarType varVariant = 0x000C;
inline constexpr TVarType varUnknown = 0x000D;
inline constexpr TVarType varDecimal = 0x000E;
inline constexpr TVarType varShortInt = 0x0010;
inline constexpr TVarType varByte = 0x0011;
inline constexpr TVarType varWord = 0x0012;
inline constexpr TVarType varLongWord = 0x0013;
inline constexpr TVarType varInt64 = 0x0014;
inline constexpr TVarType varUInt64 = 0x0015;
inline constexpr TVarType varString = 0x0100;
inline constexpr TVarType varTypeMask = 0x0FFF;
inline constexpr TVarType varArray = 0x2000;
inline constexpr TVarType varByRef = 0x4000;
// The two custom kinds, in the range the platform gives to registered kinds.
inline constexpr TVarType varFMTBcd = 0x010F;
inline constexpr TVarType varSQLTimeStamp = 0x0110;

// "Could not convert variant of type (%s) into type (%s)"
RTL_EXCEPTION_CLASS(EVariantTypeCastError, EVariantError);
// "Overflow while converting variant of type (%s) into type (%s)"
RTL_EXCEPTION_CLASS(EVariantOverflowError, EVariantError);
// "Invalid variant operation"
RTL_EXCEPTION_CLASS(EVariantInvalidOpError, EVariantError);
// "Variant or safe array index out of bounds"
RTL_EXCEPTION_CLASS(EVariantBadIndexError, EVariantError);
// "Error creating variant or safe array"
RTL_EXCEPTION_CLASS(EVariantArrayCreateError, EVariantError);
// "Variant or safe array is locked"
RTL_EXCEPTION_CLASS(EVariantArrayLockedError, EVariantError);
// "Variant is not an array"
RTL_EXCEPTION_CLASS(EVariantNotAnArrayError, EVariantError);

struct VarArrayData;
struct VarArrayDeleter {
    void operator()(VarArrayData* p) const;
};

class Variant {
public:
    Variant() = default;
    Variant(const Variant& other);
    Variant(Variant&& other) noexcept;
    Variant& operator=(const Variant& other);
    Variant& operator=(Variant&& other) noexcept;
    ~Variant();

    // Each C++ type gives its own kind, so producers keep the exact kind.
    Variant(bool v) : type_(varBoolean) { u_.b = v; }
    Variant(int8_t v) : type_(varShortInt) { u_.i64 = v; }
    Variant(uint8_t v) : type_(varByte) { u_.i64 = v; }
    Variant(int16_t v) : type_(varSmallint) { u_.i64 = v; }
    Variant(uint16_t v) : type_(varWord) { u_.i64 = v; }
    Variant(int32_t v) : type_(varInteger) { u_.i64 = v; }
    Variant(uint32_t v) : type_(varLongWord) { u_.i64 = v; }
    Variant(long v) : type_(varInt64) { u_.i64 = v; }
    Variant(long long v) : type_(varInt64) { u_.i64 = v; }
    Variant(unsigned long v) : type_(varUInt64) { u_.u64 = v; }
    Variant(unsigned long long v) : type_(varUInt64) { u_.u64 = v; }
    Variant(float v) : type_(varSingle) { u_.f32 = v; }
    Variant(double v) : type_(varDouble) { u_.f64 = v; }
    Variant(Currency v) : type_(varCurrency) { u_.i64 = v.Raw(); }
    Variant(char v) : Variant(std::string(1, v)) {}
    Variant(const char* v);
    Variant(char* v) : Variant(static_cast<const char*>(v)) {}
    Variant(std::string v);
    Variant(std::string_view v) : Variant(std::string(v)) {}
    Variant(const char16_t* v);
    Variant(std::u16string v);
    // Other pointers would silently become Boolean; objects go through FromObject.
    template <class T>
    Variant(T*) = delete;

    static Variant FromDateTime(TDateTime v);
    static Variant FromError(int32_t code);
    // By-reference kind without a base type: a borrowed object pointer.
    static Variant FromObject(void* object);
    static Variant FromBcd(const TBcd& v);
    static Variant FromSQLTimeStamp(const TSQLTimeStamp& v);
    static Variant MakeNull();

    TVarType VarType() const { return type_; }
    bool IsEmpty() const { return type_ == varEmpty; }
    bool IsNull() const { return type_ == varNull; }
    bool IsArray() const { return (type_ & varArray) != 0; }
    void Clear();

    // Conversions with the platform's rules; failures raise EVariantTypeCastError and values
    // out of the target's range EVariantOverflowError.
    bool AsBoolean() const;
    int8_t AsShortInt() const;
    uint8_t AsByte() const;
    int16_t AsSmallInt() const;
    uint16_t AsWord() const;
    int32_t AsInteger() const;
    uint32_t AsLongWord() const;
    int64_t AsInt64() const;
    uint64_t AsUInt64() const;
    float AsSingle() const;
    double AsDouble() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    AnsiString AsString() const;
    WideString AsWideString() const;
    TBcd AsBcd() const;
    TSQLTimeStamp AsSQLTimeStamp() const;
    // The pointer of a by-reference object Variant (nullptr for any other kind).
    void* AsObject() const;

    // Arrays (one dimension).
    int ArrayLowBound() const;
    int ArrayHighBound() const;
    Variant GetElement(int index) const;
    void PutElement(int index, const Variant& value);
    // Direct access to the elements: bytes for a byte array, Variant objects otherwise. The
    // array cannot be resized while locked.
    void* ArrayLock();
    void ArrayUnlock();
    void ArrayRedim(int highBound);

private:
    friend struct VarAccess;
    [[noreturn]] void CastError(TVarType target) const;
    // Null, arrays, object references and error codes convert to no scalar.
    void CheckScalar(TVarType target) const;
    [[noreturn]] void OverflowError(TVarType target) const;
    int64_t IntegerValue(TVarType target, int64_t min, int64_t max) const;

    TVarType type_ = varEmpty;
    union {
        bool b;
        int64_t i64;
        uint64_t u64;
        float f32;
        double f64;
        void* ptr;
    } u_{};
    // Texts, packed decimals, time stamps and arrays.
    std::string str_;
    std::u16string wstr_;
    std::unique_ptr<TBcd> bcd_;
    std::unique_ptr<TSQLTimeStamp> ts_;
    std::unique_ptr<VarArrayData, VarArrayDeleter> array_;
};

Variant Null();
Variant Unassigned();

TVarType VarType(const Variant& v);
bool VarIsNull(const Variant& v);
bool VarIsEmpty(const Variant& v);
bool VarIsClear(const Variant& v);
bool VarIsArray(const Variant& v);
bool VarIsStr(const Variant& v);
bool VarIsOrdinal(const Variant& v);  // integral kinds and Boolean
bool VarIsFloat(const Variant& v);    // Single, Double, Currency
bool VarIsNumeric(const Variant& v);  // ordinal or float (packed decimals too)
bool VarIsType(const Variant& v, TVarType type);
// The platform's name of a kind: "Integer", "OleStr", "String", "Array Byte", ...
std::string VarTypeAsText(TVarType type);

// Null and Unassigned give ""; everything else converts as AsString.
AnsiString VarToStr(const Variant& v);
AnsiString VarToStrDef(const Variant& v, const AnsiString& def);
WideString VarToWideStr(const Variant& v);
TDateTime VarToDateTime(const Variant& v);
Variant VarAsType(const Variant& v, TVarType type);

// Arrays: VarArrayCreate({low, high}, elementType); VarArrayOf makes an array of Variant.
Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementType);
Variant VarArrayOf(std::initializer_list<Variant> values);
int VarArrayDimCount(const Variant& v);
int VarArrayLowBound(const Variant& v, int dim = 1);
int VarArrayHighBound(const Variant& v, int dim = 1);
void* VarArrayLock(Variant& v);
void VarArrayUnlock(Variant& v);
void VarArrayRedim(Variant& v, int highBound);
// Byte arrays from and to plain bytes.
Variant BytesToVariant(const TBytes& bytes);
TBytes VariantToBytes(const Variant& v);

// Packed decimal and SQL time stamp kinds.
TVarType VarFMTBcd();
TVarType VarSQLTimeStamp();
Variant VarFMTBcdCreate(const TBcd& value);
Variant VarFMTBcdCreate(const std::string& text, int precision, int scale);
bool VarIsFMTBcd(const Variant& v);
TBcd VarToBcd(const Variant& v);
Variant VarSQLTimeStampCreate(const TSQLTimeStamp& value);
Variant VarSQLTimeStampCreate(TDateTime value);
bool VarIsSQLTimeStamp(const Variant& v);
TSQLTimeStamp VarToSQLTimeStamp(const Variant& v);

// Comparison. Null equals only Null and is below every other value; Unassigned takes the
// other side's kind (0, '', False); a text against a number or date is converted to that
// kind (raising when it cannot). Arrays cannot be compared (EVariantInvalidOpError).
enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);
bool VarSameValue(const Variant& a, const Variant& b);
bool operator==(const Variant& a, const Variant& b);
bool operator!=(const Variant& a, const Variant& b);
bool operator<(const Variant& a, const Variant& b);
bool operator>(const Variant& a, const Variant& b);
bool operator<=(const Variant& a, const Variant& b);
bool operator>=(const Variant& a, const Variant& b);

}  // namespace rtl
