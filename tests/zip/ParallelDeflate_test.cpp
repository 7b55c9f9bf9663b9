#include "zip/ParallelDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/zip/ZipTestUtil.h"
#include "zip/ZipReader.h"

using namespace zip;
using namespace ziptest;

namespace {

constexpr size_t kBlock = 64 * 1024;  // small blocks, so that small inputs span several

// Bytes that do not deflate at all.
std::string Noise(size_t size, uint32_t seed) {
    std::string s(size, '\0');
    for (auto& c : s) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}

// Hands the input out in pieces of at most `piece` bytes, as a file read in small steps would.
TParallelDeflate::TRead Reader(const std::string& input, size_t& at, size_t piece = SIZE_MAX) {
    return [&input, &at, piece](uint8_t* to, size_t capacity) -> size_t {
        const size_t n = std::min({capacity, piece, input.size() - at});
        std::memcpy(to, input.data() + at, n);
        at += n;
        return n;
    };
}

struct Deflated {
    std::string bytes;
    TParallelDeflate::TResult result;
    int emits = 0;
};

Deflated DeflateAll(const std::string& input, int level, unsigned threads, size_t piece = SIZE_MAX) {
    Deflated d;
    size_t at = 0;
    d.result = TParallelDeflate(level, threads, kBlock)
                   .Deflate(Reader(input, at, piece), [&](uint8_t* data, size_t length) {
                       d.bytes.append(reinterpret_cast<char*>(data), length);
                       ++d.emits;
                   });
    return d;
}

// Inflates a raw deflate stream; fails the test unless it ends exactly at the end of the bytes.
std::string Inflate(const std::string& bytes, size_t expected) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    std::string out(expected + 1, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int r = inflate(&zs, Z_FINISH);
    EXPECT_EQ(r, Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u) << "bytes after the end of the stream";
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

uint32_t Crc(const std::string& s) {
    return static_cast<uint32_t>(::crc32_z(0, reinterpret_cast<const Bytef*>(s.data()), s.size()));
}

}  // namespace

// Inputs below, at and above one block and the window, each deflated on one to five workers:
// the stream inflates back to the input, the CRC and sizes are right, and the bytes never
// depend on the number of threads.
TEST(ParallelDeflateTest, RoundTripsAndGivesTheSameBytesOnAnyNumberOfThreads) {
    struct Case {
        const char* name;
        std::string input;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"one byte", "x"},
        {"below the window", SampleText(TParallelDeflate::kWindow - 1, 1)},
        {"one block less one", SampleText(kBlock - 1, 2)},
        {"one block", SampleText(kBlock, 3)},
        {"one block and one", SampleText(kBlock + 1, 4)},
        {"exactly three blocks", SampleText(3 * kBlock, 5)},
        {"many blocks", SampleText(20 * kBlock + 4321, 6)},
        {"noise", Noise(5 * kBlock + 77, 9)},
        {"text then noise", SampleText(2 * kBlock + 5, 7) + Noise(kBlock + 3, 8)},
    };
    for (const Case& c : cases) {
        for (int level : {1, 6, 9}) {
            SCOPED_TRACE(std::string(c.name) + ", level " + std::to_string(level));
            const Deflated one = DeflateAll(c.input, level, 1);
            EXPECT_TRUE(Inflate(one.bytes, c.input.size()) == c.input);
            EXPECT_EQ(one.result.crc, Crc(c.input));
            EXPECT_EQ(one.result.in, c.input.size());
            EXPECT_EQ(one.result.out, one.bytes.size());
            EXPECT_EQ(one.emits, std::max<int>(1, static_cast<int>((c.input.size() + kBlock - 1) / kBlock)));
            for (unsigned threads : {2u, 5u}) {
                SCOPED_TRACE(std::to_string(threads) + " threads");
                // Read in odd small pieces: the blocks must still be cut at the same places.
                const Deflated many = DeflateAll(c.input, level, threads, 10007);
                EXPECT_TRUE(many.bytes == one.bytes);
                EXPECT_EQ(many.result.crc, one.result.crc);
            }
        }
    }
}

// Each block sees the 32 KiB before it: data that repeats across a block boundary costs nothing
// the second time, as in one stream.
TEST(ParallelDeflateTest, BlocksUseTheWindowBeforeThem) {
    const std::string pattern = Noise(20000, 3);
    std::string input;
    while (input.size() < 16 * kBlock) input += pattern;
    const Deflated d = DeflateAll(input, 6, 4);
    EXPECT_TRUE(Inflate(d.bytes, input.size()) == input);
    // Without the dictionary every block would start with 20000 bytes it cannot shrink (about
    // 16 times the pattern); with it only the first ones are literals.
    EXPECT_LT(d.bytes.size(), 2 * pattern.size());
}

// Only a few blocks are in flight: the reader is not asked far ahead of what was passed on.
TEST(ParallelDeflateTest, ReadsOnlyAFewBlocksAheadOfTheOutput) {
    const std::string input = SampleText(40 * kBlock, 11);
    size_t at = 0;
    size_t maxAhead = 0;
    uint64_t in = 0;
    const unsigned threads = 3;
    std::string bytes;
    TParallelDeflate(6, threads, kBlock).Deflate(Reader(input, at), [&](uint8_t* data, size_t length) {
        bytes.append(reinterpret_cast<char*>(data), length);
        in += kBlock;  // every block but the last is whole
        maxAhead = std::max(maxAhead, at - std::min<size_t>(at, in));
    });
    EXPECT_TRUE(Inflate(bytes, input.size()) == input);
    EXPECT_LE(maxAhead, (2 * threads + 2) * kBlock);
}

// The CRC alone, summed on the workers, over inputs of every shape.
TEST(ParallelDeflateTest, CrcOfTheWholeInput) {
    for (size_t size : {size_t{0}, size_t{1}, kBlock - 1, kBlock, kBlock + 1, 7 * kBlock + 333}) {
        SCOPED_TRACE(size);
        const std::string input = Noise(size, static_cast<uint32_t>(size));
        for (unsigned threads : {1u, 4u}) {
            size_t at = 0;
            const auto result = TParallelDeflate(6, threads, kBlock).Crc(Reader(input, at, 4096));
            EXPECT_EQ(result.crc, Crc(input));
            EXPECT_EQ(result.in, size);
            EXPECT_EQ(result.out, 0u);
        }
    }
}

// A failing reader or writer ends the run with its exception; the workers are stopped, nothing hangs.
TEST(ParallelDeflateTest, ReaderAndWriterFailuresReachTheCaller) {
    const std::string input = SampleText(30 * kBlock, 12);
    size_t at = 0;
    int calls = 0;
    EXPECT_THROW(TParallelDeflate(6, 4, kBlock)
                     .Deflate(
                         [&](uint8_t* to, size_t capacity) -> size_t {
                             if (++calls == 12) throw std::runtime_error("read failed");
                             return Reader(input, at)(to, capacity);
                         },
                         [](uint8_t*, size_t) {}),
                 std::runtime_error);
    at = 0;
    int emits = 0;
    EXPECT_THROW(TParallelDeflate(6, 4, kBlock)
                     .Deflate(Reader(input, at),
                              [&](uint8_t*, size_t) {
                                  if (++emits == 3) throw std::runtime_error("full");
                              }),
                 std::runtime_error);
    EXPECT_EQ(emits, 3);
}

TEST(ParallelDeflateTest, ThreadsAreBoundedByTheOptionAndTheLimit) {
    EXPECT_EQ(PackThreadsFor(1), 1u);
    EXPECT_EQ(PackThreadsFor(3), 3u);
    EXPECT_EQ(PackThreadsFor(64), kMaxPackThreads);
    EXPECT_GE(PackThreadsFor(0), 1u);
    EXPECT_LE(PackThreadsFor(0), kMaxPackThreads);
    EXPECT_EQ(PackThreadsFor(-5), PackThreadsFor(0));
}
