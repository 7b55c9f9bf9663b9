#include "import_service/UnZipMethods.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace svc {
namespace {

constexpr std::size_t kChunk = 32768;

// Bits least significant first, refilled bytewise from the entry's compressed data.
class TBitReader {
public:
    explicit TBitReader(TUnzipSource& in) : in_(in), buf_(new uint8_t[kChunk]) {}

    // Reads n (<= 24) bits; sets Eof() when the input ran out before all n were there.
    uint32_t Bits(int n) {
        while (count_ < n) {
            int byte = NextByte();
            if (byte < 0) {
                eof_ = true;
                uint32_t v = bits_ & ((1u << n) - 1);
                bits_ = 0;
                count_ = 0;
                return v;
            }
            bits_ |= static_cast<uint32_t>(byte) << count_;
            count_ += 8;
        }
        uint32_t v = bits_ & ((1u << n) - 1);
        bits_ >>= n;
        count_ -= n;
        return v;
    }

    bool Eof() const { return eof_; }

private:
    int NextByte() {
        if (pos_ == len_) {
            if (done_) return -1;
            len_ = in_.ReadChunk(buf_.get(), kChunk);
            pos_ = 0;
            if (len_ == 0) {
                done_ = true;
                return -1;
            }
        }
        return buf_[pos_++];
    }

    TUnzipSource& in_;
    std::unique_ptr<uint8_t[]> buf_;
    std::size_t pos_ = 0, len_ = 0;
    bool done_ = false, eof_ = false;
    uint32_t bits_ = 0;
    int count_ = 0;
};

// Output through a sliding window; bytes before the start of the data read as zero.
class TWindowWriter {
public:
    TWindowWriter(TUnzipSink& out, std::size_t windowSize)
        : out_(out), size_(windowSize), win_(windowSize, 0), pending_(new uint8_t[kChunk]) {}
    ~TWindowWriter() = default;

    void Byte(uint8_t b) {
        win_[pos_] = b;
        pos_ = (pos_ + 1) % size_;
        pending_[npend_++] = b;
        ++total_;
        if (npend_ == kChunk) Flush();
    }

    // Copies length bytes starting distance bytes back (distance >= 1), up to limit total.
    void Copy(uint32_t distance, uint32_t length, uint64_t limit) {
        std::size_t from = (pos_ + size_ - (distance % size_)) % size_;
        for (uint32_t i = 0; i < length && total_ < limit; ++i) {
            uint8_t b = win_[from];
            from = (from + 1) % size_;
            Byte(b);
        }
    }

    void Flush() {
        if (npend_) out_.Put(pending_.get(), npend_);
        npend_ = 0;
    }

    uint64_t Total() const { return total_; }

private:
    TUnzipSink& out_;
    std::size_t size_;
    std::vector<uint8_t> win_;
    std::size_t pos_ = 0;
    std::unique_ptr<uint8_t[]> pending_;
    std::size_t npend_ = 0;
    uint64_t total_ = 0;
};

// Buffered sink without a window (unshrink builds its strings itself).
class TPlainWriter {
public:
    explicit TPlainWriter(TUnzipSink& out) : out_(out), buf_(new uint8_t[kChunk]) {}
    void Put(const uint8_t* p, std::size_t n) {
        while (n) {
            std::size_t take = std::min(n, kChunk - used_);
            std::memcpy(buf_.get() + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
            if (used_ == kChunk) Flush();
        }
    }
    void Flush() {
        if (used_) out_.Put(buf_.get(), used_);
        used_ = 0;
    }

private:
    TUnzipSink& out_;
    std::unique_ptr<uint8_t[]> buf_;
    std::size_t used_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Unshrink: LZW, codes 0..255 are literals, 256 is the control code (1 = widen codes,
// 2 = free every leaf code), 257.. are assigned in ascending order of free slots.

void Unshrink(TUnzipSource& in, TUnzipSink& out) {
    constexpr int kMaxBits = 13;
    constexpr int kCodes = 1 << kMaxBits;
    constexpr int16_t kFree = -1;
    TBitReader bits(in);
    TPlainWriter writer(out);
    std::vector<int16_t> prefix(kCodes, kFree);
    std::vector<uint8_t> suffix(kCodes, 0);
    std::vector<uint8_t> stack(kCodes + 1);
    for (int i = 0; i < 256; ++i) {
        prefix[i] = 256;  // literals are in use and have no prefix
        suffix[i] = static_cast<uint8_t>(i);
    }

    int codeSize = 9;
    int freeEnt = 257;
    auto nextFree = [&](int from) {
        while (from < kCodes && prefix[from] != kFree) ++from;
        return from;
    };

    uint32_t code = bits.Bits(codeSize);
    if (bits.Eof()) return;
    int prev = static_cast<int>(code);
    uint8_t first = static_cast<uint8_t>(prev);
    writer.Put(&first, 1);
    if (prev > 255) return;  // a stream must start with a literal

    for (;;) {
        code = bits.Bits(codeSize);
        if (bits.Eof()) break;
        if (code == 256) {
            uint32_t ctl = bits.Bits(codeSize);
            if (bits.Eof()) break;
            if (ctl == 1) {
                if (codeSize < kMaxBits) ++codeSize;
            } else if (ctl == 2) {
                // Partial clear: free every code that is no other code's prefix.
                std::vector<bool> isPrefix(kCodes, false);
                for (int i = 257; i < kCodes; ++i)
                    if (prefix[i] != kFree && prefix[i] > 256) isPrefix[prefix[i]] = true;
                for (int i = 257; i < kCodes; ++i)
                    if (prefix[i] != kFree && !isPrefix[i]) prefix[i] = kFree;
                freeEnt = nextFree(257);
            }
            continue;
        }

        // Build the string of code (or of prev + its first byte when code is not yet defined).
        std::size_t sp = stack.size();
        int cur = static_cast<int>(code);
        bool undefined = cur >= 257 && prefix[cur] == kFree;
        if (undefined) {
            --sp;  // last byte filled in below, once the first byte of prev is known
            cur = prev;
        }
        int guard = 0;
        while (cur > 255) {
            if (prefix[cur] == kFree || sp == 1 || ++guard > kCodes) return;  // corrupt data
            stack[--sp] = suffix[cur];
            cur = prefix[cur];
        }
        stack[--sp] = static_cast<uint8_t>(cur);
        uint8_t firstByte = stack[sp];
        if (undefined) stack[stack.size() - 1] = firstByte;
        writer.Put(stack.data() + sp, stack.size() - sp);

        if (freeEnt < kCodes) {
            prefix[freeEnt] = static_cast<int16_t>(prev);
            suffix[freeEnt] = firstByte;
            freeEnt = nextFree(freeEnt + 1);
        }
        prev = static_cast<int>(code);
    }
    writer.Flush();
}

// ---------------------------------------------------------------------------------------
// Unreduce: a probabilistic front end (follower sets) over a DLE (144) run-length/copy scheme.

void Unreduce(TUnzipSource& in, TUnzipSink& out, int factor, uint64_t uncompressedSize) {
    if (factor < 1 || factor > 4) return;
    TBitReader bits(in);
    TWindowWriter writer(out, 16384);
    std::array<std::array<uint8_t, 64>, 256> followers{};
    std::array<int, 256> counts{};
    for (int j = 255; j >= 0; --j) {
        counts[j] = static_cast<int>(bits.Bits(6));
        for (int i = 0; i < counts[j]; ++i) followers[j][i] = static_cast<uint8_t>(bits.Bits(8));
        if (bits.Eof()) return;
    }
    auto bitsFor = [](int n) {  // bits needed to index n followers
        int b = 1;
        while ((1 << b) < n) ++b;
        return b;
    };
    const uint32_t lenMask = 0xFFu >> factor;
    uint8_t last = 0;
    int state = 0;
    uint32_t v = 0, len = 0;
    while (writer.Total() < uncompressedSize) {
        uint8_t c;
        if (counts[last] == 0) {
            c = static_cast<uint8_t>(bits.Bits(8));
        } else if (bits.Bits(1)) {
            c = static_cast<uint8_t>(bits.Bits(8));
        } else {
            uint32_t i = bits.Bits(bitsFor(counts[last]));
            if (static_cast<int>(i) >= counts[last]) break;  // corrupt index
            c = followers[last][i];
        }
        if (bits.Eof()) break;
        last = c;
        switch (state) {
            case 0:
                if (c != 144)
                    writer.Byte(c);
                else
                    state = 1;
                break;
            case 1:
                if (c == 0) {
                    writer.Byte(144);
                    state = 0;
                } else {
                    v = c;
                    len = v & lenMask;
                    state = len == lenMask ? 2 : 3;
                }
                break;
            case 2:
                len += c;
                state = 3;
                break;
            default: {
                uint32_t distance = ((v >> (8 - factor)) << 8) + c + 1;
                writer.Copy(distance, len + 3, uncompressedSize);
                state = 0;
                break;
            }
        }
    }
    writer.Flush();
}

// ---------------------------------------------------------------------------------------
// Explode: Shannon-Fano trees (stored as run-length bit lengths) over a sliding dictionary.

namespace {

struct TSFTree {
    // Code table indexed by the next maxBits input bits (least significant first).
    std::vector<int16_t> symbol;
    std::vector<uint8_t> length;
    int maxBits = 0;
};

// Reads a tree of n symbols; false when it is malformed.
bool ReadTree(TBitReader& bits, int n, TSFTree& tree) {
    int bytes = static_cast<int>(bits.Bits(8)) + 1;
    std::vector<uint8_t> lens;
    lens.reserve(n);
    for (int i = 0; i < bytes; ++i) {
        uint32_t b = bits.Bits(8);
        int len = static_cast<int>(b & 0x0F) + 1;
        int count = static_cast<int>(b >> 4) + 1;
        if (static_cast<int>(lens.size()) + count > n) return false;
        lens.insert(lens.end(), count, static_cast<uint8_t>(len));
    }
    if (bits.Eof() || static_cast<int>(lens.size()) != n) return false;

    // Codes: sort by length (stable), then assign from the longest down, the code counting
    // up in steps of 2^(16 - length); the stream carries each code's top bit first.
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lens[a] < lens[b]; });
    std::vector<uint32_t> codes(n);
    uint32_t code = 0, inc = 0;
    int lastLen = 0;
    for (int k = n - 1; k >= 0; --k) {
        code += inc;
        int len = lens[order[k]];
        if (len != lastLen) {
            lastLen = len;
            inc = 1u << (16 - len);
        }
        if (code > 0xFFFF) return false;
        codes[order[k]] = code;
    }
    tree.maxBits = *std::max_element(lens.begin(), lens.end());
    std::size_t size = std::size_t{1} << tree.maxBits;
    tree.symbol.assign(size, -1);
    tree.length.assign(size, 0);
    for (int s = 0; s < n; ++s) {
        int len = lens[s];
        // Top len bits of the 16-bit code; the first bit in the stream is the top bit.
        uint32_t c = (codes[s] >> (16 - len)) & ((1u << len) - 1);
        uint32_t rev = 0;
        for (int i = 0; i < len; ++i) rev |= ((c >> i) & 1u) << (len - 1 - i);
        for (uint32_t fill = rev; fill < size; fill += 1u << len) {
            if (tree.symbol[fill] != -1) return false;  // overlapping codes
            tree.symbol[fill] = static_cast<int16_t>(s);
            tree.length[fill] = static_cast<uint8_t>(len);
        }
    }
    return true;
}

// Decodes one symbol; -1 on an unassigned pattern.
class TTreeDecoder {
public:
    explicit TTreeDecoder(TBitReader& bits) : bits_(bits) {}
    int Decode(const TSFTree& t) {
        // Peek bit by bit: the reader has no peek, so collect bits until a code matches.
        uint32_t pattern = 0;
        for (int len = 1; len <= t.maxBits; ++len) {
            pattern |= bits_.Bits(1) << (len - 1);
            if (bits_.Eof()) return -1;
            // Any fill of the longer table with this prefix: index pattern itself.
            int16_t s = t.symbol[pattern];
            if (s >= 0 && t.length[pattern] == len) return s;
        }
        return -1;
    }

private:
    TBitReader& bits_;
};

}  // namespace

bool Explode(TUnzipSource& in, TUnzipSink& out, uint16_t flags, uint64_t compressedSize,
             uint64_t uncompressedSize) {
    (void)compressedSize;  // only steers table widths, which this decoder does not need
    const bool bigDict = (flags & 0x02) != 0;
    const bool literalTree = (flags & 0x04) != 0;
    TBitReader bits(in);
    TSFTree literals, lengths, distances;
    if (literalTree && !ReadTree(bits, 256, literals)) return false;
    if (!ReadTree(bits, 64, lengths) || !ReadTree(bits, 64, distances)) return false;

    TWindowWriter writer(out, bigDict ? 8192 : 4096);
    TTreeDecoder dec(bits);
    const int lowBits = bigDict ? 7 : 6;
    const uint32_t minMatch = literalTree ? 3 : 2;
    while (writer.Total() < uncompressedSize) {
        uint32_t flag = bits.Bits(1);
        if (bits.Eof()) break;
        if (flag) {
            int c = literalTree ? dec.Decode(literals) : static_cast<int>(bits.Bits(8));
            if (c < 0 || bits.Eof()) break;
            writer.Byte(static_cast<uint8_t>(c));
        } else {
            uint32_t low = bits.Bits(lowBits);
            int high = dec.Decode(distances);
            if (high < 0) break;
            uint32_t distance = ((static_cast<uint32_t>(high) << lowBits) | low) + 1;
            int len = dec.Decode(lengths);
            if (len < 0) break;
            uint32_t length = static_cast<uint32_t>(len);
            if (len == 63) length += bits.Bits(8);
            if (bits.Eof()) break;
            writer.Copy(distance, length + minMatch, uncompressedSize);
        }
    }
    writer.Flush();
    return true;
}

// ---------------------------------------------------------------------------------------

void Inflate(TUnzipSource& in, TUnzipSink& out) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) throw EZCompressionError("error");
    std::unique_ptr<z_stream, void (*)(z_stream*)> guard(&zs, [](z_stream* s) { inflateEnd(s); });
    std::unique_ptr<uint8_t[]> inBuf(new uint8_t[kChunk]);
    std::unique_ptr<uint8_t[]> outBuf(new uint8_t[kChunk]);
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (zs.avail_in == 0) {
            std::size_t n = in.ReadChunk(inBuf.get(), kChunk);
            if (n == 0) break;  // input ended before the stream did: the CRC check decides
            zs.next_in = inBuf.get();
            zs.avail_in = static_cast<uInt>(n);
        }
        do {
            zs.next_out = outBuf.get();
            zs.avail_out = kChunk;
            rc = inflate(&zs, Z_NO_FLUSH);
            if (rc < 0 && rc != Z_BUF_ERROR) throw EZCompressionError("error");
            std::size_t produced = kChunk - zs.avail_out;
            if (produced) out.Put(outBuf.get(), produced);
        } while (zs.avail_out == 0 && rc != Z_STREAM_END);
        if (rc == Z_NEED_DICT) throw EZCompressionError("error");
    }
}

}  // namespace svc
