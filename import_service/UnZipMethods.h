// Decoders of the zip compression methods the import side must read: stored data needs
// none, the three legacy PKZIP methods (shrunk, reduced, imploded) are decoded here from
// the published descriptions, deflate goes through zlib's raw inflate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/ZipReader.h"

namespace svc {

// Raised when zlib's inflate reports a failure (any negative result); the reader's class.
using zip::EZCompressionError;

// Compressed bytes of one entry, already decrypted. ReadChunk returns 0 at the end of
// the entry's data (and keeps returning 0).
class TUnzipSource {
public:
    virtual ~TUnzipSource() = default;
    virtual std::size_t ReadChunk(uint8_t* buffer, std::size_t count) = 0;
};

// Receives the decompressed bytes in order.
class TUnzipSink {
public:
    virtual ~TUnzipSink() = default;
    virtual void Put(const uint8_t* data, std::size_t count) = 0;
};

// Method 1: LZW with 9 to 13 bit codes and partial clearing; ends with the input.
void Unshrink(TUnzipSource& in, TUnzipSink& out);

// Methods 2 to 5 (factor = method - 1): follower sets and a 16 KB window; produces exactly
// uncompressedSize bytes, or fewer when the input ends early.
void Unreduce(TUnzipSource& in, TUnzipSink& out, int factor, uint64_t uncompressedSize);

// Method 6. flags is the entry's general-purpose flag word: bit 1 selects the 8 KB
// dictionary, bit 2 the literal tree. compressedSize picks the length table width.
// Returns false when a Shannon-Fano tree in the data cannot be built (nothing written then).
bool Explode(TUnzipSource& in, TUnzipSink& out, uint16_t flags, uint64_t compressedSize,
             uint64_t uncompressedSize);

// Method 8: raw deflate through zlib. Raises EZCompressionError "error" on a zlib failure.
void Inflate(TUnzipSource& in, TUnzipSink& out);

}  // namespace svc
