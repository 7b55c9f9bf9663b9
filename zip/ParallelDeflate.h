// Deflate and CRC-32 of one large input on several threads.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zip {

// A raw deflate stream kept for reuse: each Start resets it to `level` with the writer's own
// tuning, so one stream serves file after file (or block after block).
class TDeflateStream {
public:
    TDeflateStream() = default;
    TDeflateStream(const TDeflateStream&) = delete;
    TDeflateStream& operator=(const TDeflateStream&) = delete;
    ~TDeflateStream();
    z_stream& Start(int level);

private:
    z_stream zs_{};
    bool ready_ = false;
};

// Threads for one large file: `option` 0 means one per core, at most kMaxPackThreads; any other
// value is taken as it is, within the same bounds.
unsigned PackThreadsFor(int option);
constexpr unsigned kMaxPackThreads = 8;

// Cuts one input into blocks and deflates them on worker threads as one raw deflate stream: each
// block is deflated with the 32 KiB before it as preset dictionary and ended with a sync flush,
// the last one with the finish, so the blocks' outputs simply follow one another. The CRC-32 of
// the input is the blocks' own, combined in order. The cut points depend on the block size alone,
// so the same input always gives the same bytes, however many threads ran.
class TParallelDeflate {
public:
    // Fills up to `capacity` bytes; 0 at the end of the input.
    using TRead = std::function<size_t(uint8_t* buffer, size_t capacity)>;
    // Takes the output in stream order on the caller's thread; the bytes may be changed in place.
    using TEmit = std::function<void(uint8_t* data, size_t length)>;

    struct TResult {
        uint32_t crc = 0;
        uint64_t in = 0;
        uint64_t out = 0;
    };

    static constexpr size_t kDefaultBlock = 256 * 1024;
    static constexpr size_t kWindow = 32 * 1024;

    TParallelDeflate(int level, unsigned threads, size_t block = kDefaultBlock);

    // Deflates everything `read` gives (level 1 to 9), passing the output to `emit`.
    TResult Deflate(const TRead& read, const TEmit& emit);
    // The CRC-32 and size of everything `read` gives, summed on the workers.
    TResult Crc(const TRead& read);

private:
    TResult Run(const TRead& read, const TEmit* emit);

    int level_;
    unsigned threads_;
    size_t block_;
};

}  // namespace zip
