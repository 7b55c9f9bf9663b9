// Compression hooks over zlib.
#include <zlib.h>

#include "dataaccess/core/MemUtils.h"

namespace dac {

TCompressProc CompressHook = ZCompressBuffer;
TCompressProc UncompressHook = ZUncompressBuffer;

void CheckCompressionLinked() {
    if (!CompressHook) throw rtl::Exception("Compressor function is not linked");
    if (!UncompressHook) throw rtl::Exception("Uncompressor function is not linked");
}

void DoCompress(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength) {
    rtl::Assert(CompressHook != nullptr, "Compressor function is not linked");
    CompressHook(dest, destLength, source, sourceLength);
}

void DoUncompress(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength) {
    rtl::Assert(UncompressHook != nullptr, "Uncompressor function is not linked");
    UncompressHook(dest, destLength, source, sourceLength);
}

int CheckCompressResult(int code) {
    if (code < 0) throw ECompressionError("Error");
    return code;
}

int CheckDecompressResult(int code) {
    if (code < 0) throw EDecompressionError("Error");
    return code;
}

namespace {

const char* const TargetTooSmall = "ZLib error: target buffer may be too small";

void PrepareStream(z_stream& s, void* dest, uint32_t destLength, const void* source, uint32_t sourceLength) {
    s.next_in = static_cast<Bytef*>(const_cast<void*>(source));
    s.avail_in = sourceLength;
    s.next_out = static_cast<Bytef*>(dest);
    s.avail_out = destLength;
}

}  // namespace

void ZCompressBuffer(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength) {
    z_stream s{};
    PrepareStream(s, dest, destLength, source, sourceLength);
    CheckCompressResult(deflateInit(&s, Z_DEFAULT_COMPRESSION));
    try {
        if (CheckCompressResult(deflate(&s, Z_FINISH)) != Z_STREAM_END) throw EZlibError(TargetTooSmall);
    } catch (...) {
        deflateEnd(&s);
        throw;
    }
    CheckCompressResult(deflateEnd(&s));
    destLength = static_cast<uint32_t>(s.total_out);
}

void ZUncompressBuffer(void* dest, uint32_t& destLength, const void* source, uint32_t sourceLength) {
    z_stream s{};
    PrepareStream(s, dest, destLength, source, sourceLength);
    CheckDecompressResult(inflateInit(&s));
    try {
        if (CheckDecompressResult(inflate(&s, Z_FINISH)) != Z_STREAM_END) throw EZlibError(TargetTooSmall);
    } catch (...) {
        inflateEnd(&s);
        throw;
    }
    CheckDecompressResult(inflateEnd(&s));
    destLength = static_cast<uint32_t>(s.total_out);
}

}  // namespace dac
