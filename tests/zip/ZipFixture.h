// Reads back what the writer produced, independently of the reader component: walks the
// local headers of an archive, removes the encryption and inflates the data.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/zip/ZipTestUtil.h"
#include "zip/ZipReader.h"

namespace ziptest {

struct LocalEntry {
    size_t offset = 0;
    uint16_t versionNeeded = 0, flags = 0, method = 0;
    uint32_t dosTime = 0, crc = 0, compressed = 0, uncompressed = 0;
    std::string name;
    uint16_t extraLength = 0;
    std::string header;  // the fixed 30 bytes
    std::string data;    // compressed (and encrypted) bytes
};

inline std::vector<LocalEntry> LocalEntries(const std::string& zip) {
    std::vector<LocalEntry> out;
    size_t at = 0;
    while (at + 30 <= zip.size() && U32(zip, at) == 0x04034B50) {
        LocalEntry e;
        e.offset = at;
        e.header = zip.substr(at, 30);
        e.versionNeeded = U16(zip, at + 4);
        e.flags = U16(zip, at + 6);
        e.method = U16(zip, at + 8);
        e.dosTime = U32(zip, at + 10);
        e.crc = U32(zip, at + 14);
        e.compressed = U32(zip, at + 18);
        e.uncompressed = U32(zip, at + 22);
        uint16_t n = U16(zip, at + 26);
        e.extraLength = U16(zip, at + 28);
        e.name = zip.substr(at + 30, n);
        e.data = zip.substr(at + 30 + n + e.extraLength, e.compressed);
        at += 30 + n + e.extraLength + e.compressed;
        out.push_back(e);
    }
    return out;
}

// Plain content of an entry; raises when the password check byte or the CRC is wrong.
inline std::string Extract(const LocalEntry& e, const std::string& password) {
    std::string data = e.data;
    if (e.flags & 1) {
        zip::TZipCryptKeys keys;
        keys.Init(password);
        keys.DecryptBuffer(reinterpret_cast<uint8_t*>(data.data()), data.size());
        if (data.size() < 12 || static_cast<uint8_t>(data[11]) != (e.crc >> 24))
            throw std::runtime_error("bad password");
        data.erase(0, 12);
    }
    std::string plain;
    if (e.method == 0) {
        plain = data;
    } else {
        z_stream zs{};
        inflateInit2(&zs, -15);
        plain.resize(e.uncompressed);
        zs.next_in = reinterpret_cast<Bytef*>(data.data());
        zs.avail_in = static_cast<uInt>(data.size());
        zs.next_out = reinterpret_cast<Bytef*>(plain.data());
        zs.avail_out = static_cast<uInt>(plain.size());
        int r = inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        if (r != Z_STREAM_END) throw std::runtime_error("inflate failed");
    }
    if (crc32(0, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size())) != e.crc)
        throw std::runtime_error("bad crc");
    return plain;
}

}  // namespace ziptest
