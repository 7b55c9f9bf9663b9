// Raw memory access, bit reinterpretation, text encodings with shared instances and growable
// string builders: the small layer the data-access library uses instead of pointer arithmetic
// and ad-hoc text conversion.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;
using rtl::TBytes;
using rtl::WideString;

class BitConverter {
public:
    BitConverter() = delete;
    static double Int64AsDouble(int64_t value);
    static int64_t DoubleAsInt64(double value);
    // Little-endian values at a byte index; an index outside the array raises ERangeError.
    static int32_t ToInt32(const TBytes& value, int startIndex);
    static int16_t ToInt16(const TBytes& value, int startIndex);
};

// Typed reads and writes at an address plus a byte offset. Nothing is checked: addresses and
// offsets are the caller's responsibility. Unaligned addresses are fine.
class Marshal {
public:
    Marshal() = delete;

    static void* AllocHGlobal(int64_t size);
    static void* ReAllocHGlobal(void* address, int64_t size);
    static void FreeHGlobal(void* address);
    static void ReleaseStringPtr(const void*) {}

    template <class T>
    static T Peek(const void* address, int64_t ofs) {
        T value;
        std::memcpy(&value, static_cast<const char*>(address) + ofs, sizeof(T));
        return value;
    }
    template <class T>
    static void Poke(void* address, int64_t ofs, T value) {
        std::memcpy(static_cast<char*>(address) + ofs, &value, sizeof(T));
    }

    static uint8_t PeekByte(const void* address, int64_t ofs = 0) { return Peek<uint8_t>(address, ofs); }
    static int16_t PeekInt16(const void* address, int64_t ofs = 0) { return Peek<int16_t>(address, ofs); }
    static int32_t PeekInt32(const void* address, int64_t ofs = 0) { return Peek<int32_t>(address, ofs); }
    static int64_t PeekInt64(const void* address, int64_t ofs = 0) { return Peek<int64_t>(address, ofs); }
    static void* PeekIntPtr(const void* address, int64_t ofs = 0) { return Peek<void*>(address, ofs); }

    static void PokeByte(void* address, uint8_t value) { Poke(address, 0, value); }
    static void PokeByte(void* address, int64_t ofs, uint8_t value) { Poke(address, ofs, value); }
    static void PokeInt16(void* address, int16_t value) { Poke(address, 0, value); }
    static void PokeInt16(void* address, int64_t ofs, int16_t value) { Poke(address, ofs, value); }
    static void PokeInt32(void* address, int32_t value) { Poke(address, 0, value); }
    static void PokeInt32(void* address, int64_t ofs, int32_t value) { Poke(address, ofs, value); }
    static void PokeInt64(void* address, int64_t value) { Poke(address, 0, value); }
    static void PokeInt64(void* address, int64_t ofs, int64_t value) { Poke(address, ofs, value); }
    static void PokeIntPtr(void* address, void* value) { Poke(address, 0, value); }
    static void PokeIntPtr(void* address, int64_t ofs, void* value) { Poke(address, ofs, value); }

    // length <= 0 reads up to the zero terminator, else exactly length bytes (zeros included).
    static AnsiString PtrToStringAnsi(const void* address, int length = 0);
    // length in UTF-16 code units, same rule.
    static WideString PtrToStringUni(const void* address, int length = 0);
    // The string's own zero-terminated characters; no copy is made.
    static void* StringToHGlobalAnsi(const AnsiString& s) { return const_cast<char*>(s.c_str()); }
    static void* StringToHGlobalUni(const WideString& s) { return const_cast<char16_t*>(s.c_str()); }

    // count bytes from source + ofs to destination / from source to destination + ofs.
    static void Copy(const void* source, int64_t sourceOfs, void* destination, int64_t count);
    static void Copy(const TBytes& source, int64_t sourceOfs, void* destination, int64_t count);
    static void Copy(const void* source, void* destination, int64_t destinationOfs, int64_t count);
};

// Converts between text and bytes. The base class is the system's 8-bit code page: bytes are
// the characters one for one. Range arguments outside the string or array raise ERangeError.
class Encoding {
public:
    Encoding() = default;
    virtual ~Encoding() = default;
    Encoding(const Encoding&) = delete;
    Encoding& operator=(const Encoding&) = delete;

    virtual TBytes GetBytes(const AnsiString& chars);
    virtual int GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes, int byteIndex);
    virtual TBytes GetBytes(const WideString& chars);
    virtual int GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes, int byteIndex);
    AnsiString GetString(const TBytes& bytes) { return GetString(bytes, 0, static_cast<int>(bytes.size())); }
    virtual AnsiString GetString(const TBytes& bytes, int index, int count);
    WideString GetWideString(const TBytes& bytes) {
        return GetWideString(bytes, 0, static_cast<int>(bytes.size()));
    }
    virtual WideString GetWideString(const TBytes& bytes, int index, int count);
    virtual int GetMaxByteCount(int charCount);

    // The shared 8-bit and UTF-16 instances, alive for the whole process.
    static Encoding* Default();
    static Encoding* Unicode();
};

// UTF-16 little-endian, two bytes per code unit.
class UnicodeEncoding : public Encoding {
public:
    TBytes GetBytes(const AnsiString& chars) override;
    int GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    TBytes GetBytes(const WideString& chars) override;
    int GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    using Encoding::GetString;
    AnsiString GetString(const TBytes& bytes, int index, int count) override;
    using Encoding::GetWideString;
    WideString GetWideString(const TBytes& bytes, int index, int count) override;
    int GetMaxByteCount(int charCount) override;
};

// UTF-8. The ranged GetBytes forms are not offered (assertion failure "not implemented").
class UTF8Encoding : public Encoding {
public:
    TBytes GetBytes(const AnsiString& chars) override;
    int GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    TBytes GetBytes(const WideString& chars) override;
    int GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    using Encoding::GetString;
    AnsiString GetString(const TBytes& bytes, int index, int count) override;
    using Encoding::GetWideString;
    WideString GetWideString(const TBytes& bytes, int index, int count) override;
    int GetMaxByteCount(int charCount) override;
};

// A code page the runtime converts (1251, 866, 65001). A failing conversion (unknown code
// page, or output that does not fit) raises EOSError.
class CodePageEncoding : public Encoding {
public:
    explicit CodePageEncoding(int codePage) : codePage_(codePage) {}
    int CodePage() const { return codePage_; }

    TBytes GetBytes(const AnsiString& chars) override;
    int GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    TBytes GetBytes(const WideString& chars) override;
    int GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes,
                 int byteIndex) override;
    using Encoding::GetString;
    AnsiString GetString(const TBytes& bytes, int index, int count) override;
    using Encoding::GetWideString;
    WideString GetWideString(const TBytes& bytes, int index, int count) override;
    // The most bytes charCount UTF-16 code units can take in this code page.
    int GetMaxByteCount(int charCount) override;

private:
    int codePage_;
};

// Code-page encodings kept for the life of the process; starts empty.
std::vector<std::unique_ptr<CodePageEncoding>>& EncodingsByCodePage();

// Growable 8-bit text buffer. Capacity grows by half its old size plus what is needed.
class AnsiStringBuilder {
public:
    explicit AnsiStringBuilder(int capacity = 16);

    void Append(const AnsiString& value);
    void Append(char value);
    void Append(const AnsiStringBuilder* value);
    // 0 <= index <= Length(); anything else raises ERangeError.
    void Insert(int index, const AnsiString& value);
    void SetLength(int value);
    int Length() const { return used_; }
    int Capacity() const { return static_cast<int>(buffer_.size()); }
    AnsiString ToString() const { return AnsiString(buffer_.data(), static_cast<size_t>(used_)); }

private:
    void Grow(int newCapacity) { buffer_.resize(static_cast<size_t>(newCapacity)); }

    std::vector<char> buffer_;
    int used_ = 0;
};

// Growable UTF-16 text buffer with search and replace.
class WideStringBuilder {
public:
    explicit WideStringBuilder(int capacity = 16);
    WideStringBuilder(const WideString& value, int capacity);

    void Append(const WideString& value);
    // First position p with startIndex <= p <= lastIndex - length(value) + 1 where value
    // stands, or -1. An empty value is never found.
    int IndexOf(const WideString& value, int startIndex, int lastIndex) const;
    // Replaces every occurrence; the search resumes behind each replacement.
    void Replace(const WideString& oldValue, const WideString& newValue);
    int Length() const { return used_; }
    int Capacity() const { return static_cast<int>(buffer_.size()); }
    WideString ToString() const { return WideString(buffer_.data(), static_cast<size_t>(used_)); }

private:
    std::vector<char16_t> buffer_;
    int used_ = 0;
};

}  // namespace dac
