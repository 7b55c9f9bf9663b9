#include "dataaccess/core/CLRClasses.h"

#include <cerrno>
#include <cstdlib>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// A range of a string or byte array; callers get ERangeError instead of a stray write.
void CheckRange(int64_t index, int64_t count, int64_t size) {
    if (index < 0 || count < 0 || index > size || count > size - index)
        throw rtl::ERangeError("Range check error");
}

AnsiString Narrow(std::u16string_view s) {
    return rtl::WideToAnsi(s);
}
WideString Widen(std::string_view s) {
    return rtl::AnsiToWide(s);
}

std::string_view ByteView(const TBytes& bytes, int index, int count) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + index, static_cast<size_t>(count));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BitConverter

double BitConverter::Int64AsDouble(int64_t value) {
    double result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

int64_t BitConverter::DoubleAsInt64(double value) {
    int64_t result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

int32_t BitConverter::ToInt32(const TBytes& value, int startIndex) {
    CheckRange(startIndex, 4, static_cast<int64_t>(value.size()));
    const uint8_t* p = value.data() + startIndex;
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

int16_t BitConverter::ToInt16(const TBytes& value, int startIndex) {
    CheckRange(startIndex, 2, static_cast<int64_t>(value.size()));
    const uint8_t* p = value.data() + startIndex;
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | p[1] << 8));
}

// ---------------------------------------------------------------------------------------------
// Marshal

void* Marshal::AllocHGlobal(int64_t size) {
    void* p = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    return p;
}

void* Marshal::ReAllocHGlobal(void* address, int64_t size) {
    void* p = std::realloc(address, size > 0 ? static_cast<size_t>(size) : 1);
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    return p;
}

void Marshal::FreeHGlobal(void* address) {
    std::free(address);
}

AnsiString Marshal::PtrToStringAnsi(const void* address, int length) {
    const char* p = static_cast<const char*>(address);
    if (length <= 0) return AnsiString(p);
    return AnsiString(p, static_cast<size_t>(length));
}

WideString Marshal::PtrToStringUni(const void* address, int length) {
    const char16_t* p = static_cast<const char16_t*>(address);
    if (length <= 0) {
        WideString result;
        for (;; ++p) {
            char16_t ch;
            std::memcpy(&ch, p, sizeof ch);
            if (ch == 0) break;
            result.push_back(ch);
        }
        return result;
    }
    WideString result(static_cast<size_t>(length), u'\0');
    std::memcpy(result.data(), address, static_cast<size_t>(length) * 2);
    return result;
}

void Marshal::Copy(const void* source, int64_t sourceOfs, void* destination, int64_t count) {
    if (count > 0)
        std::memmove(destination, static_cast<const char*>(source) + sourceOfs, static_cast<size_t>(count));
}

void Marshal::Copy(const TBytes& source, int64_t sourceOfs, void* destination, int64_t count) {
    if (count <= 0) return;
    CheckRange(sourceOfs, count, static_cast<int64_t>(source.size()));
    std::memmove(destination, source.data() + sourceOfs, static_cast<size_t>(count));
}

void Marshal::Copy(const void* source, void* destination, int64_t destinationOfs, int64_t count) {
    if (count > 0)
        std::memmove(static_cast<char*>(destination) + destinationOfs, source, static_cast<size_t>(count));
}

// ---------------------------------------------------------------------------------------------
// Encoding (the system's 8-bit code page)

TBytes Encoding::GetBytes(const AnsiString& chars) {
    return TBytes(chars.begin(), chars.end());
}

int Encoding::GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes, int byteIndex) {
    if (charCount > 0) {
        CheckRange(charIndex, charCount, static_cast<int64_t>(chars.size()));
        CheckRange(byteIndex, charCount, static_cast<int64_t>(bytes.size()));
        std::memcpy(bytes.data() + byteIndex, chars.data() + charIndex, static_cast<size_t>(charCount));
    }
    return charCount;
}

TBytes Encoding::GetBytes(const WideString& chars) {
    return GetBytes(Narrow(chars));
}

int Encoding::GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes, int byteIndex) {
    return GetBytes(Narrow(chars), charIndex, charCount, bytes, byteIndex);
}

AnsiString Encoding::GetString(const TBytes& bytes, int index, int count) {
    if (count == 0) return {};
    CheckRange(index, count, static_cast<int64_t>(bytes.size()));
    return AnsiString(ByteView(bytes, index, count));
}

WideString Encoding::GetWideString(const TBytes& bytes, int index, int count) {
    return Widen(GetString(bytes, index, count));
}

int Encoding::GetMaxByteCount(int charCount) {
    return charCount;
}

Encoding* Encoding::Default() {
    static Encoding instance;
    return &instance;
}

Encoding* Encoding::Unicode() {
    static UnicodeEncoding instance;
    return &instance;
}

std::vector<std::unique_ptr<CodePageEncoding>>& EncodingsByCodePage() {
    static std::vector<std::unique_ptr<CodePageEncoding>> list;
    return list;
}

// ---------------------------------------------------------------------------------------------
// UnicodeEncoding

TBytes UnicodeEncoding::GetBytes(const AnsiString& chars) {
    return GetBytes(Widen(chars));
}

int UnicodeEncoding::GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes,
                              int byteIndex) {
    return GetBytes(Widen(chars), charIndex, charCount, bytes, byteIndex);
}

TBytes UnicodeEncoding::GetBytes(const WideString& chars) {
    TBytes result(chars.size() * 2);
    for (size_t i = 0; i < chars.size(); ++i) {
        result[2 * i] = static_cast<uint8_t>(chars[i] & 0xFF);
        result[2 * i + 1] = static_cast<uint8_t>(chars[i] >> 8);
    }
    return result;
}

int UnicodeEncoding::GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes,
                              int byteIndex) {
    if (charCount <= 0) return 0;
    CheckRange(charIndex, charCount, static_cast<int64_t>(chars.size()));
    CheckRange(byteIndex, 2 * static_cast<int64_t>(charCount), static_cast<int64_t>(bytes.size()));
    for (int i = 0; i < charCount; ++i) {
        const char16_t ch = chars[static_cast<size_t>(charIndex + i)];
        bytes[static_cast<size_t>(byteIndex + 2 * i)] = static_cast<uint8_t>(ch & 0xFF);
        bytes[static_cast<size_t>(byteIndex + 2 * i + 1)] = static_cast<uint8_t>(ch >> 8);
    }
    return 2 * charCount;
}

AnsiString UnicodeEncoding::GetString(const TBytes& bytes, int index, int count) {
    return Narrow(GetWideString(bytes, index, count));
}

WideString UnicodeEncoding::GetWideString(const TBytes& bytes, int index, int count) {
    if (count == 0) return {};
    CheckRange(index, count, static_cast<int64_t>(bytes.size()));
    WideString result(static_cast<size_t>(count / 2), u'\0');
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<char16_t>(bytes[index + 2 * i] | bytes[index + 2 * i + 1] << 8);
    return result;
}

int UnicodeEncoding::GetMaxByteCount(int charCount) {
    return 2 * charCount;
}

// ---------------------------------------------------------------------------------------------
// UTF8Encoding

TBytes UTF8Encoding::GetBytes(const AnsiString& chars) {
    const std::string s = rtl::AnsiToUtf8(chars);
    return TBytes(s.begin(), s.end());
}

int UTF8Encoding::GetBytes(const AnsiString&, int, int, TBytes&, int) {
    rtl::Assert(false, "not implemented");
    return 0;
}

TBytes UTF8Encoding::GetBytes(const WideString& chars) {
    const std::string s = rtl::WideToUtf8(chars);
    return TBytes(s.begin(), s.end());
}

int UTF8Encoding::GetBytes(const WideString&, int, int, TBytes&, int) {
    rtl::Assert(false, "not implemented");
    return 0;
}

AnsiString UTF8Encoding::GetString(const TBytes& bytes, int index, int count) {
    if (count == 0) return {};
    CheckRange(index, count, static_cast<int64_t>(bytes.size()));
    return rtl::Utf8ToAnsi(ByteView(bytes, index, count));
}

WideString UTF8Encoding::GetWideString(const TBytes& bytes, int index, int count) {
    if (count == 0) return {};
    CheckRange(index, count, static_cast<int64_t>(bytes.size()));
    return rtl::Utf8ToWide(ByteView(bytes, index, count));
}

int UTF8Encoding::GetMaxByteCount(int charCount) {
    return 3 * charCount;
}

// ---------------------------------------------------------------------------------------------
// CodePageEncoding

namespace {

void CheckCodePage(int codePage) {
    if (!rtl::IsSupportedCodePage(codePage)) rtl::RaiseLastOSError(EINVAL);
}

}  // namespace

TBytes CodePageEncoding::GetBytes(const AnsiString& chars) {
    return GetBytes(Widen(chars));
}

int CodePageEncoding::GetBytes(const AnsiString& chars, int charIndex, int charCount, TBytes& bytes,
                               int byteIndex) {
    return GetBytes(Widen(chars), charIndex, charCount, bytes, byteIndex);
}

TBytes CodePageEncoding::GetBytes(const WideString& chars) {
    if (chars.empty()) return {};
    CheckCodePage(codePage_);
    const std::string s = rtl::WideToAnsi(chars, codePage_);
    return TBytes(s.begin(), s.end());
}

int CodePageEncoding::GetBytes(const WideString& chars, int charIndex, int charCount, TBytes& bytes,
                               int byteIndex) {
    if (charCount <= 0) return 0;
    CheckCodePage(codePage_);
    CheckRange(charIndex, charCount, static_cast<int64_t>(chars.size()));
    const std::string s = rtl::WideToAnsi(
        std::u16string_view(chars).substr(static_cast<size_t>(charIndex), static_cast<size_t>(charCount)),
        codePage_);
    if (byteIndex < 0 || byteIndex > static_cast<int64_t>(bytes.size()) ||
        static_cast<int64_t>(s.size()) > static_cast<int64_t>(bytes.size()) - byteIndex)
        rtl::RaiseLastOSError(ENOBUFS);  // the output does not fit the room left
    std::memcpy(bytes.data() + byteIndex, s.data(), s.size());
    return static_cast<int>(s.size());
}

AnsiString CodePageEncoding::GetString(const TBytes& bytes, int index, int count) {
    return Narrow(GetWideString(bytes, index, count));
}

WideString CodePageEncoding::GetWideString(const TBytes& bytes, int index, int count) {
    if (count <= 0) return {};
    CheckCodePage(codePage_);
    CheckRange(index, count, static_cast<int64_t>(bytes.size()));
    return rtl::AnsiToWide(ByteView(bytes, index, count), codePage_);
}

int CodePageEncoding::GetMaxByteCount(int charCount) {
    switch (codePage_) {
        case 1200:
        case 1201:
            return 2 * charCount;
        case rtl::CP_UTF8:
            return 3 * charCount;  // a UTF-16 unit never needs more than 3 bytes
        default:
            return charCount;
    }
}

// ---------------------------------------------------------------------------------------------
// AnsiStringBuilder

AnsiStringBuilder::AnsiStringBuilder(int capacity)
    : buffer_(static_cast<size_t>(capacity > 0 ? capacity : 0)) {}

void AnsiStringBuilder::Append(const AnsiString& value) {
    const int k = static_cast<int>(value.size());
    if (k == 0) return;
    if (Capacity() - used_ < k) Grow(k + used_ + static_cast<int>(static_cast<unsigned>(Capacity()) / 2));
    std::memcpy(buffer_.data() + used_, value.data(), value.size());
    used_ += k;
}

void AnsiStringBuilder::Append(char value) {
    if (Capacity() - used_ <= 0) Grow(used_ + static_cast<int>(static_cast<unsigned>(Capacity()) / 2) + 1);
    buffer_[static_cast<size_t>(used_)] = value;
    ++used_;
}

void AnsiStringBuilder::Append(const AnsiStringBuilder* value) {
    if (!value || value->used_ == 0) return;
    Append(value->ToString());
}

void AnsiStringBuilder::Insert(int index, const AnsiString& value) {
    if (index < 0 || index > used_) throw rtl::ERangeError("Range check error");
    const int k = static_cast<int>(value.size());
    if (k == 0) return;
    if (Capacity() - used_ < k) Grow(k + used_ + static_cast<int>(static_cast<unsigned>(Capacity()) / 2));
    std::memmove(buffer_.data() + index + k, buffer_.data() + index, static_cast<size_t>(used_ - index));
    std::memcpy(buffer_.data() + index, value.data(), value.size());
    used_ += k;
}

void AnsiStringBuilder::SetLength(int value) {
    if (value < 0) throw rtl::ERangeError("Range check error");
    if (Capacity() - used_ < value)
        Grow(value + used_ + static_cast<int>(static_cast<unsigned>(Capacity()) / 2));
    used_ = value;
}

// ---------------------------------------------------------------------------------------------
// WideStringBuilder

WideStringBuilder::WideStringBuilder(int capacity)
    : buffer_(static_cast<size_t>(capacity > 0 ? capacity : 0)) {}

WideStringBuilder::WideStringBuilder(const WideString& value, int capacity) : WideStringBuilder(capacity) {
    Append(value);
}

void WideStringBuilder::Append(const WideString& value) {
    const int k = static_cast<int>(value.size());
    if (k == 0) return;
    if (Capacity() - used_ < k)
        buffer_.resize(
            static_cast<size_t>(k + used_ + static_cast<int>(static_cast<unsigned>(Capacity()) / 2)));
    std::memcpy(buffer_.data() + used_, value.data(), value.size() * 2);
    used_ += k;
}

int WideStringBuilder::IndexOf(const WideString& value, int startIndex, int lastIndex) const {
    const int n = static_cast<int>(value.size());
    if (n == 0) return -1;
    if (startIndex < 0) startIndex = 0;
    if (lastIndex > used_ - 1) lastIndex = used_ - 1;
    for (int p = startIndex; p <= lastIndex - n + 1; ++p)
        if (std::memcmp(buffer_.data() + p, value.data(), static_cast<size_t>(n) * 2) == 0) return p;
    return -1;
}

void WideStringBuilder::Replace(const WideString& oldValue, const WideString& newValue) {
    const int lo = static_cast<int>(oldValue.size());
    const int ln = static_cast<int>(newValue.size());
    int p = IndexOf(oldValue, 0, used_ - 1);
    while (p >= 0) {
        if (ln < lo) {
            std::memcpy(buffer_.data() + p, newValue.data(), static_cast<size_t>(ln) * 2);
            std::memmove(buffer_.data() + p + ln, buffer_.data() + p + lo,
                         static_cast<size_t>(used_ - p - lo) * 2);
        } else if (ln > lo) {
            std::memcpy(buffer_.data() + p, newValue.data(), static_cast<size_t>(lo) * 2);
            const int rest = ln - lo;
            if (Capacity() - used_ < rest)
                buffer_.resize(static_cast<size_t>(used_ + rest +
                                                   static_cast<int>(static_cast<unsigned>(Capacity()) / 2)));
            std::memmove(buffer_.data() + p + ln, buffer_.data() + p + lo,
                         static_cast<size_t>(used_ - p - lo) * 2);
            std::memcpy(buffer_.data() + p + lo, newValue.data() + lo, static_cast<size_t>(rest) * 2);
        } else {
            std::memcpy(buffer_.data() + p, newValue.data(), static_cast<size_t>(ln) * 2);
        }
        used_ += ln - lo;
        p = IndexOf(oldValue, p + ln, used_ - 1);
    }
}

}  // namespace dac
