// Routines shared by the whole data-access library.
//
// Sections: time stamps; buffers and zero-terminated UTF-16 text; locale comparisons and case;
// thin wrappers over runtime routines; Variant equality; class membership; handle pass-throughs.
#pragma once

#include <cstdint>
#include <string>
#include <typeinfo>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::AnsiString;
using rtl::WideString;

// Never true here: no Windows 9x family on this platform.
inline constexpr bool IsWin9x = false;

// ---------------------------------------------------------------------------------------------
// Time stamps (time of day in milliseconds, day number from 1 January of year 1 as day 1).

// Raises EConvertError "'<day>.<time>' is not a valid timestamp" for a negative time or a day
// number below 1.
void ValidateTimeStamp(const rtl::TTimeStamp& ts);
// Days since 30 December 1899; before that day the time of day counts away from zero.
rtl::TDateTime TimeStampToDateTime(const rtl::TTimeStamp& ts);

// ---------------------------------------------------------------------------------------------
// Buffers and zero-terminated UTF-16 text. Nothing is validated: callers pass valid addresses.

void CopyBuffer(const void* source, void* destination, int64_t count);  // ranges may overlap
void CopyBufferAnsi(const AnsiString& source, void* destination, int64_t count);
void CopyBufferUni(const WideString& source, void* destination, int64_t count);
void FillBuffer(void* destination, int64_t count, uint8_t value);

int64_t WideStrLength(const char16_t* text);
void WideStrCopy(char16_t* destination, const char16_t* source);
// Copies up to maximum units and a terminator (the destination holds maximum + 1 units).
void WideStrCopyMax(char16_t* destination, const char16_t* source, int64_t maximum);

// Going back from the end of the text, turns every blank or zero into a zero, stopping at the
// first other character. length -1 means up to the zero terminator.
void TrimTrailingBlanks(char* text, int64_t length = -1);
void TrimTrailingBlanksW(char16_t* text, int64_t length = -1);

// ---------------------------------------------------------------------------------------------
// Locale comparisons: -1, 0 or 1, or -2 when the comparison fails. "Str" compares with case,
// "Text" without; all but LocaleCompareText/LocaleSameText compare punctuation like other
// characters (string sort).

int LocaleCompareStrWN(const char16_t* ws1, const char16_t* ws2, int64_t count);
int LocaleCompareTextWN(const char16_t* ws1, const char16_t* ws2, int64_t count);
int LocaleCompareStrW(const char16_t* ws1, const char16_t* ws2);
int LocaleCompareTextW(const char16_t* ws1, const char16_t* ws2);
int LocaleCompareStrP(const char* p1, const char* p2);
int LocaleCompareTextP(const char* p1, const char* p2);
int LocaleCompareStrS(const AnsiString& s1, const AnsiString& s2);
int LocaleCompareTextS(const AnsiString& s1, const AnsiString& s2);
// Word sort (hyphen and apostrophe weigh less), ignoring case.
int LocaleCompareText(const AnsiString& s1, const AnsiString& s2);
bool LocaleSameText(const AnsiString& s1, const AnsiString& s2);

AnsiString LocaleUpperCase(const AnsiString& s);
AnsiString LocaleLowerCase(const AnsiString& s);

// The locale's decimal separator (lexers start with it).
char LocaleDecimalSeparator();

// ---------------------------------------------------------------------------------------------
// Quoting.

// The text in quotes, inner quotes doubled.
AnsiString QuoteStr(const AnsiString& s, char quote = '"');
// The reverse of QuoteStr; a text that is not quoted comes back unchanged.
AnsiString DequoteStr(const AnsiString& s, char quote = '"');

inline AnsiString VariantToStr(const rtl::Variant& value) {
    return rtl::VarToStr(value);
}

inline std::string FormatStr(const std::string& fmt, std::initializer_list<rtl::TVarRec> args) {
    return rtl::Format(fmt, args);
}

// ---------------------------------------------------------------------------------------------
// Variant equality as the library understands it: UTF-16 text against text compares exactly,
// Null equals only Null, an empty text only an empty text, byte arrays by their bytes (and
// never a non-array); everything else by the runtime's Variant equality.

bool VarEqual(const rtl::Variant& x, const rtl::Variant& y);

// ---------------------------------------------------------------------------------------------
// Handle pass-throughs: a handle is the object's own address, and the address of a variable
// handed to the client library is the variable's own.

template <class T>
inline T* AllocGCHandle(T* obj, bool /*pinned*/ = false) {
    return obj;
}
inline void* GetGCHandleTarget(void* handle) {
    return handle;
}
inline void* GetAddrOfPinnedObject(void* handle) {
    return handle;
}
inline void FreeGCHandle(void*) {}
inline void ReleaseStringPtr(const void*) {}
template <class T>
inline T* VarToPtr(T& variable) {
    return &variable;
}
template <class T>
inline void PtrToVar(T&) {}

// ---------------------------------------------------------------------------------------------
// Class membership.

// True when obj is an instance of T or of a descendant.
template <class T, class O>
bool IsClass(const O* obj) {
    return dynamic_cast<const T*>(obj) != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Compression hooks. Blob values held in memory are compressed through these two routines,
// which call zlib unless replaced. A hook fills dest with at most destLength bytes and sets
// destLength to the bytes produced.

RTL_EXCEPTION_CLASS(EZlibError, rtl::Exception);
RTL_EXCEPTION_CLASS(ECompressionError, EZlibError);
RTL_EXCEPTION_CLASS(EDecompressionError, EZlibError);

using TCompressProc = void (*)(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength);
extern TCompressProc CompressHook;
extern TCompressProc UncompressHook;

// Exception "Compressor function is not linked" / "Uncompressor function is not linked".
void CheckCompressionLinked();
void DoCompress(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength);
void DoUncompress(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength);
// One zlib stream (RFC 1950, default level) in one call; EZlibError when dest is too small.
void ZCompressBuffer(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength);
void ZUncompressBuffer(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength);
// A negative zlib result raises ECompressionError / EDecompressionError "Error".
int CheckCompressResult(int code);
int CheckDecompressResult(int code);

}  // namespace dac
