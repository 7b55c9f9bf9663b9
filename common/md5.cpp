#include "common/md5.h"

#include <algorithm>
#include <cstring>

namespace svc {

namespace {

constexpr uint8_t kPadding[64] = {0x80};

// Per-round shift amounts and the sine table of RFC 1321.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        uint32_t next = b + RotateLeft(a + f + kSine[i] + x[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void MD5Init(MD5Context& context) {
    context.State[0] = 0x67452301;
    context.State[1] = 0xefcdab89;
    context.State[2] = 0x98badcfe;
    context.State[3] = 0x10325476;
    context.Count = 0;
    std::memset(context.Buffer, 0, sizeof context.Buffer);
}

void MD5Update(MD5Context& context, const void* data, size_t length) {
    auto input = static_cast<const uint8_t*>(data);
    size_t used = size_t(context.Count % 64);
    context.Count += length;
    if (used) {
        size_t take = std::min(length, 64 - used);
        std::memcpy(context.Buffer + used, input, take);
        input += take;
        length -= take;
        if (used + take < 64) return;
        Transform(context.State, context.Buffer);
    }
    for (; length >= 64; input += 64, length -= 64) Transform(context.State, input);
    if (length) std::memcpy(context.Buffer, input, length);
}

void MD5Final(MD5Digest& digest, MD5Context& context) {
    uint64_t bits = context.Count * 8;
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = uint8_t(bits >> (8 * i));
    size_t used = size_t(context.Count % 64);
    MD5Update(context, kPadding, used < 56 ? 56 - used : 120 - used);
    MD5Update(context, length, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[size_t(4 * i + j)] = uint8_t(context.State[i] >> (8 * j));
    std::memset(&context, 0, sizeof context);
}

MD5Digest MD5Buffer(const void* data, size_t length) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, data, length);
    MD5Digest digest;
    MD5Final(digest, context);
    return digest;
}

MD5Digest MD5String(const std::string& text) {
    return MD5Buffer(text.data(), text.size());
}

std::string MD5Print(const MD5Digest& digest) {
    static const char alphabet[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (uint8_t b : digest) {
        out += alphabet[b >> 4];
        out += alphabet[b & 15];
    }
    return out;
}

}  // namespace svc
