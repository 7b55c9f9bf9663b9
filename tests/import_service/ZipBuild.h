// Builds small zip archives byte by byte, so that tests can set every field the
// extraction engine looks at (methods, flags, sizes, CRCs, names, attributes).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "zip/ZipReader.h"

namespace ziptest {

// 2023-06-15 10:20:30 in MS-DOS form (time in the low word).
inline constexpr uint32_t kDosTime = 0x56CF528F;

struct TEntrySpec {
    std::string name{};
    std::string data{};
    uint16_t method = 8;     // 0 and 8 are compressed here; any other takes `raw` as is
    std::string password{};  // non-empty: traditional encryption
    bool descriptor = false;
    uint32_t dosTime = kDosTime;
    uint32_t extAttr = 0x20;
    uint16_t flagExtra = 0;
    std::optional<uint32_t> crc{};       // stored CRC instead of the real one
    std::optional<uint32_t> declared{};  // stored uncompressed size instead of the real one
    std::string raw{};
    std::optional<uint64_t> declared64{};  // a Zip64 uncompressed size in the central header
    uint16_t madeBy = 20;                  // host in the high byte: 0 MS-DOS (OEM names), 3 Unix
};

inline std::string RawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline void U16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void U32(std::string& s, uint32_t v) {
    U16(s, v & 0xFFFF);
    U16(s, v >> 16);
}

inline std::string BuildZip(const std::vector<TEntrySpec>& entries) {
    std::string out, central;
    for (const auto& e : entries) {
        const uint32_t crc = e.crc.value_or(Crc32(e.data));
        std::string body = e.method == 0 ? e.data : e.method == 8 ? RawDeflate(e.data) : e.raw;
        uint16_t flag = e.flagExtra;
        if (e.descriptor) flag |= 8;
        if (!e.password.empty()) {
            flag |= 1;
            std::string header(12, '\0');
            for (int i = 0; i < 11; ++i) header[i] = static_cast<char>(i * 37 + 5);
            header[11] = static_cast<char>(e.descriptor ? (e.dosTime >> 8) & 0xFF : crc >> 24);
            std::string plain = header + body;
            zip::TZipCryptKeys keys;
            keys.Init(e.password);
            keys.EncryptBuffer(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
            body = plain;
        }
        const uint32_t usize = e.declared.value_or(static_cast<uint32_t>(e.data.size()));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        U32(out, 0x04034B50);
        U16(out, 20);
        U16(out, flag);
        U16(out, e.method);
        U32(out, e.dosTime);
        U32(out, e.descriptor ? 0 : crc);
        U32(out, e.descriptor ? 0 : static_cast<uint32_t>(body.size()));
        U32(out, e.descriptor ? 0 : usize);
        U16(out, static_cast<uint32_t>(e.name.size()));
        U16(out, 0);
        out += e.name;
        out += body;
        if (e.descriptor) {
            U32(out, 0x08074B50);
            U32(out, crc);
            U32(out, static_cast<uint32_t>(body.size()));
            U32(out, usize);
        }
        U32(central, 0x02014B50);
        U16(central, e.madeBy);
        U16(central, 20);
        U16(central, flag);
        U16(central, e.method);
        U32(central, e.dosTime);
        U32(central, crc);
        U32(central, static_cast<uint32_t>(body.size()));
        U32(central, e.declared64 ? 0xFFFFFFFFu : usize);
        U16(central, static_cast<uint32_t>(e.name.size()));
        U16(central, e.declared64 ? 12 : 0);
        U16(central, 0);
        U16(central, 0);
        U16(central, 0);
        U32(central, e.extAttr);
        U32(central, offset);
        central += e.name;
        if (e.declared64) {
            U16(central, 1);
            U16(central, 8);
            U32(central, static_cast<uint32_t>(*e.declared64));
            U32(central, static_cast<uint32_t>(*e.declared64 >> 32));
        }
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    U32(out, 0x06054B50);
    U16(out, 0);
    U16(out, 0);
    U16(out, static_cast<uint32_t>(entries.size()));
    U16(out, static_cast<uint32_t>(entries.size()));
    U32(out, static_cast<uint32_t>(central.size()));
    U32(out, centralOffset);
    U16(out, 0);
    return out;
}

// Where the records of a BuildZip archive without comment lie, for tests that damage them.
struct TZipLayout {
    explicit TZipLayout(const std::string& zip) : bytes(zip) {
        end = bytes.size() - 22;
        centralOffset = Get32(end + kCentralOffset);
        for (size_t at = centralOffset; at < end && Get32(at) == 0x02014B50;
             at += 46 + Get16(at + 28) + Get16(at + 30) + Get16(at + 32))
            central.push_back(at);
    }
    uint32_t Get16(size_t at) const {
        return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
    }
    uint32_t Get32(size_t at) const { return Get16(at) | Get16(at + 2) << 16; }
    void Put16(size_t at, uint32_t v) {
        bytes[at] = static_cast<char>(v);
        bytes[at + 1] = static_cast<char>(v >> 8);
    }
    void Put32(size_t at, uint32_t v) {
        Put16(at, v & 0xFFFF);
        Put16(at + 2, v >> 16);
    }
    // Central header fields by offset within the header.
    static constexpr size_t kCompressedSize = 20, kLocalOffset = 42;
    // End record fields.
    static constexpr size_t kEntriesThisDisk = 8, kTotalEntries = 10, kCentralSize = 12, kCentralOffset = 16;
    std::string EndRecord() const { return bytes.substr(end, 22); }

    std::string bytes;
    size_t end = 0;
    size_t centralOffset = 0;
    std::vector<size_t> central;  // where each central header starts
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace ziptest
