// Format(fmt, {args}): the platform's printf-like formatting.
//   %[index:][-][width][.precision]type, width and precision may be "*" (taken from the arguments)
//   d u x  integers (precision = minimum digits), e f g n m  floats and currency,
//   s  text (precision = maximum characters), p  pointer, %% a percent sign.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"

namespace rtl {

// One argument of Format. Holds pointers to texts it was built from, so it lives only as
// long as the argument list of one call.
struct TVarRec {
    enum Kind : uint8_t {
        vtInteger,
        vtBoolean,
        vtChar,
        vtExtended,
        vtPointer,
        vtPChar,
        vtWideChar,
        vtAnsiString,
        vtCurrency,
        vtWideString,
        vtInt64,
        vtUInt64,
        vtStringView
    };
    Kind VType;
    union {
        int32_t VInteger;
        bool VBoolean;
        char VChar;
        char16_t VWideChar;
        long double VExtended;
        const void* VPointer;
        const char* VPChar;
        const std::string* VAnsiString;
        const std::u16string* VWideString;
        int64_t VInt64;
        uint64_t VUInt64;
        int64_t VCurrency;  // scaled by 10 000
        struct {
            const char* Data;
            size_t Size;
        } VStringView;
    };

    TVarRec(int v) : VType(vtInteger), VInteger(v) {}
    TVarRec(unsigned v) : VType(vtInt64), VInt64(v) {}
    TVarRec(long v) : VType(vtInt64), VInt64(v) {}
    TVarRec(unsigned long v) : VType(vtUInt64), VUInt64(v) {}
    TVarRec(long long v) : VType(vtInt64), VInt64(v) {}
    TVarRec(unsigned long long v) : VType(vtUInt64), VUInt64(v) {}
    TVarRec(double v) : VType(vtExtended), VExtended(v) {}
    TVarRec(long double v) : VType(vtExtended), VExtended(v) {}
    TVarRec(bool v) : VType(vtBoolean), VBoolean(v) {}
    TVarRec(char v) : VType(vtChar), VChar(v) {}
    TVarRec(char16_t v) : VType(vtWideChar), VWideChar(v) {}
    TVarRec(const char* v) : VType(vtPChar), VPChar(v) {}
    TVarRec(const std::string& v) : VType(vtAnsiString), VAnsiString(&v) {}
    TVarRec(std::string_view v) : VType(vtStringView), VStringView{v.data(), v.size()} {}
    TVarRec(const std::u16string& v) : VType(vtWideString), VWideString(&v) {}
    TVarRec(const void* v) : VType(vtPointer), VPointer(v) {}
    TVarRec(Currency v) : VType(vtCurrency), VCurrency(v.Raw()) {}
};

// Raises EConvertError "Format '<fmt>' invalid or incompatible with argument" for a directive
// that does not suit its argument, and "No argument for format '<fmt>'" when arguments run out.
std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args);
std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args, const TFormatSettings& fs);
std::string Format(const std::string& fmt, const TVarRec* args, size_t count, const TFormatSettings& fs);

}  // namespace rtl
