#include "import_service/UnZipMethods.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using namespace svc;

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class TBytesSource : public TUnzipSource {
public:
    TBytesSource(const uint8_t* p, std::size_t n, std::size_t chunk = 32768) : p_(p), n_(n), chunk_(chunk) {}
    std::size_t ReadChunk(uint8_t* buf, std::size_t count) override {
        std::size_t take = std::min({count, n_ - pos_, chunk_});
        std::memcpy(buf, p_ + pos_, take);
        pos_ += take;
        return take;
    }

private:
    const uint8_t* p_;
    std::size_t n_, chunk_, pos_ = 0;
};

class TBytesSink : public TUnzipSink {
public:
    void Put(const uint8_t* d, std::size_t n) override { bytes.insert(bytes.end(), d, d + n); }
    std::vector<uint8_t> bytes;
};

uint16_t U16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
    return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16;
}

// The first entry of a sample archive, read straight from its local header.
struct TSampleEntry {
    uint16_t flags, method;
    uint32_t crc, csize, usize;
    std::vector<uint8_t> data;
};

TSampleEntry FirstEntry(const std::string& name) {
    auto zip = ReadFile(std::string(DX_TEST_DATA_DIR) + "/zip-legacy/" + name);
    EXPECT_GE(zip.size(), 30u);
    EXPECT_EQ(U32(zip.data()), 0x04034b50u);
    TSampleEntry e{U16(&zip[6]), U16(&zip[8]), U32(&zip[14]), U32(&zip[18]), U32(&zip[22]), {}};
    std::size_t off = 30 + U16(&zip[26]) + U16(&zip[28]);
    e.data.assign(zip.begin() + off, zip.begin() + off + e.csize);
    return e;
}

uint32_t Crc(const std::vector<uint8_t>& v) {
    return crc32(0, v.data(), static_cast<uInt>(v.size()));
}

}  // namespace

// The three legacy methods against public samples; every chunk size exercises refills.
TEST(UnZipMethods, LegacySamplesDecodeToTheirCrc) {
    const auto expected = ReadFile(std::string(DX_TEST_DATA_DIR) + "/zip-legacy/first.txt");
    struct Case {
        const char* file;
        uint16_t method;
        bool sameAsFirstTxt;
    } cases[] = {{"shrink.zip", 1, true},
                 {"reduce.zip", 5, true},
                 {"implode.zip", 6, true},
                 {"implode_small.zip", 6, false}};
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{32768}}) {
            SCOPED_TRACE(std::string(c.file) + " chunk " + std::to_string(chunk));
            TSampleEntry e = FirstEntry(c.file);
            ASSERT_EQ(e.method, c.method);
            TBytesSource src(e.data.data(), e.data.size(), chunk);
            TBytesSink sink;
            if (e.method == 1) {
                Unshrink(src, sink);
            } else if (e.method >= 2 && e.method <= 5) {
                Unreduce(src, sink, e.method - 1, e.usize);
            } else {
                ASSERT_TRUE(Explode(src, sink, e.flags, e.csize, e.usize));
            }
            EXPECT_EQ(sink.bytes.size(), e.usize);
            EXPECT_EQ(Crc(sink.bytes), e.crc);
            if (c.sameAsFirstTxt) {
                EXPECT_EQ(sink.bytes, expected);
            }
        }
    }
}

TEST(UnZipMethods, InflateRoundTripsZlibRawDeflate) {
    std::mt19937 rng(7);
    std::vector<uint8_t> plain(200000);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>("ABCD"[rng() % 4]);
    z_stream zs{};
    ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> packed(deflateBound(&zs, plain.size()));
    zs.next_in = plain.data();
    zs.avail_in = static_cast<uInt>(plain.size());
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    packed.resize(zs.total_out);
    deflateEnd(&zs);

    TBytesSource src(packed.data(), packed.size(), 1000);
    TBytesSink sink;
    Inflate(src, sink);
    EXPECT_EQ(sink.bytes, plain);

    // Garbage is a zlib error; a stream cut short just yields fewer bytes for the CRC to catch.
    std::vector<uint8_t> garbage(64, 0xFF);
    TBytesSource bad(garbage.data(), garbage.size());
    TBytesSink ignored;
    EXPECT_THROW(Inflate(bad, ignored), EZCompressionError);
    TBytesSource cut(packed.data(), packed.size() / 2);
    TBytesSink half;
    EXPECT_NO_THROW(Inflate(cut, half));
    EXPECT_LT(half.bytes.size(), plain.size());
}

// Damaged legacy data must end cleanly: no crash, no endless loop, no more than declared.
TEST(UnZipMethods, DamagedLegacyDataEndsCleanly) {
    std::mt19937 rng(11);
    for (const char* file : {"shrink.zip", "reduce.zip", "implode.zip", "implode_small.zip"}) {
        TSampleEntry e = FirstEntry(file);
        for (int round = 0; round < 200; ++round) {
            auto data = e.data;
            for (int k = 0; k < 3; ++k) data[rng() % data.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
            data.resize(rng() % (data.size() + 1));
            TBytesSource src(data.data(), data.size());
            TBytesSink sink;
            if (e.method == 1) {
                Unshrink(src, sink);
                EXPECT_LE(sink.bytes.size(), std::size_t{1} << 24);
            } else if (e.method == 5) {
                Unreduce(src, sink, 4, e.usize);
                EXPECT_LE(sink.bytes.size(), e.usize);
            } else {
                Explode(src, sink, e.flags, e.csize, e.usize);
                EXPECT_LE(sink.bytes.size(), e.usize);
            }
        }
    }
}
