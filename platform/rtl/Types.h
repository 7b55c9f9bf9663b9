// Basic types of the runtime layer: the platform's integer names, date-time and byte arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

using Integer = int32_t;
using Cardinal = uint32_t;
using LongInt = int32_t;
using LongWord = uint32_t;
using SmallInt = int16_t;
using ShortInt = int8_t;
using Word = uint16_t;
using Byte = uint8_t;
using Int64 = int64_t;
using UInt64 = uint64_t;
using NativeInt = intptr_t;
using NativeUInt = uintptr_t;
using WideChar = char16_t;
using AnsiString = std::string;     // 8-bit text in the ANSI code page (1251)
using WideString = std::u16string;  // UTF-16 text
using TBytes = std::vector<uint8_t>;

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// Size of a pointer or handle cell in record buffers and headers (64-bit rule).
inline constexpr std::size_t PointerSize = sizeof(void*);

// The process's ANSI and OEM code pages.
inline constexpr int AnsiCodePage = 1251;
inline constexpr int OemCodePage = 866;

}  // namespace rtl
