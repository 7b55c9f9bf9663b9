#include "zip/ParallelDeflate.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "zip/ZipReader.h"

namespace zip {

TDeflateStream::~TDeflateStream() {
    if (ready_) deflateEnd(&zs_);
}

z_stream& TDeflateStream::Start(int level) {
    if (ready_) {
        if (deflateReset(&zs_) != Z_OK) throw EZCompressionError("error");
    } else {
        if (deflateInit2(&zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw EZCompressionError("error");
        ready_ = true;
    }
    // At the default level a longer lazy search (zlib's level 7 value) makes archives no larger
    // than other zip tools' for about 2 % more time. A reset restores the level's own values, so
    // this follows every start.
    if (level == 6 && deflateTune(&zs_, 8, 32, 128, 128) != Z_OK) throw EZCompressionError("error");
    return zs_;
}

unsigned PackThreadsFor(int option) {
    unsigned n = option > 0 ? static_cast<unsigned>(option) : std::thread::hardware_concurrency();
    return std::clamp(n, 1u, kMaxPackThreads);
}

namespace {

// One block of the input: the dictionary (the tail of the block before) followed by the block's
// own bytes, and what a worker made of it.
struct TSlot {
    std::unique_ptr<uint8_t[]> in;
    size_t dictionary = 0;
    size_t length = 0;
    bool last = false;
    std::vector<uint8_t> out;
    size_t outLength = 0;
    uint32_t crc = 0;
    bool done = false;
    std::exception_ptr error;
};

class TWorkerStream {
public:
    void Deflate(TSlot& slot, int level) {
        z_stream& zs = stream_.Start(level);
        if (slot.dictionary > 0 &&
            deflateSetDictionary(&zs, slot.in.get(), static_cast<uInt>(slot.dictionary)) != Z_OK)
            throw EZCompressionError("error");
        // A sync flush adds an empty stored block: room for it beyond the bound of the data.
        const size_t bound = deflateBound(&zs, static_cast<uLong>(slot.length)) + 16;
        if (slot.out.size() < bound) slot.out.resize(bound);
        zs.next_in = slot.in.get() + slot.dictionary;
        zs.avail_in = static_cast<uInt>(slot.length);
        slot.outLength = 0;
        const int flush = slot.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            if (slot.outLength == slot.out.size()) slot.out.resize(slot.out.size() * 2);
            zs.next_out = slot.out.data() + slot.outLength;
            zs.avail_out = static_cast<uInt>(slot.out.size() - slot.outLength);
            const int r = deflate(&zs, flush);
            slot.outLength = slot.out.size() - zs.avail_out;
            if (r == Z_STREAM_END) break;
            if (r != Z_OK && r != Z_BUF_ERROR) throw EZCompressionError("error");
            // A sync flush is complete once deflate left room in the output.
            if (!slot.last && zs.avail_in == 0 && zs.avail_out > 0) break;
        }
    }

private:
    TDeflateStream stream_;
};

}  // namespace

TParallelDeflate::TParallelDeflate(int level, unsigned threads, size_t block)
    : level_(level), threads_(std::max(threads, 1u)), block_(std::max(block, kWindow)) {}

TParallelDeflate::TResult TParallelDeflate::Deflate(const TRead& read, const TEmit& emit) {
    return Run(read, &emit);
}

TParallelDeflate::TResult TParallelDeflate::Crc(const TRead& read) {
    return Run(read, nullptr);
}

TParallelDeflate::TResult TParallelDeflate::Run(const TRead& read, const TEmit* emit) {
    const bool deflating = emit != nullptr;
    // Two blocks per worker in flight: one being worked on, one waiting, so no worker idles
    // while the caller reads or writes.
    const size_t ring = 2 * static_cast<size_t>(threads_) + 2;
    std::vector<TSlot> slots(ring);
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> queue;  // block numbers handed to the workers
    bool stop = false;

    auto work = [&] {
        TWorkerStream stream;
        for (;;) {
            size_t n;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || !queue.empty(); });
                if (queue.empty()) return;
                n = queue.front();
                queue.pop_front();
            }
            TSlot& slot = slots[n % ring];
            try {
                slot.crc = static_cast<uint32_t>(::crc32_z(0, slot.in.get() + slot.dictionary, slot.length));
                if (deflating) stream.Deflate(slot, level_);
            } catch (...) {
                slot.error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                slot.done = true;
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> workers;
    struct TJoin {
        std::vector<std::thread>& workers;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~TJoin() {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            for (auto& t : workers) t.join();
        }
    } join{workers, mutex, changed, stop};
    for (unsigned i = 0; i < threads_; ++i) workers.emplace_back(work);

    TResult result;
    size_t emitted = 0;  // blocks passed on, in order
    auto takeOldest = [&] {
        TSlot& slot = slots[emitted % ring];
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return slot.done; });
        }
        if (slot.error) std::rethrow_exception(slot.error);
        result.crc =
            static_cast<uint32_t>(::crc32_combine(result.crc, slot.crc, static_cast<z_off_t>(slot.length)));
        result.in += slot.length;
        if (deflating) {
            (*emit)(slot.out.data(), slot.outLength);
            result.out += slot.outLength;
        }
        ++emitted;
    };
    auto submit = [&](size_t n, bool last) {
        TSlot& slot = slots[n % ring];
        slot.last = last;
        {
            std::lock_guard<std::mutex> lock(mutex);
            slot.done = false;
            slot.error = nullptr;
            queue.push_back(n);
        }
        changed.notify_all();
    };

    // A block is handed over once the one after it is read, so that the last one is known.
    size_t next = 0;
    for (;;) {
        // The slot of block `next` is free once the block `ring` before it was passed on.
        while (next >= emitted + ring) takeOldest();
        TSlot& slot = slots[next % ring];
        if (!slot.in) slot.in = std::make_unique<uint8_t[]>(kWindow + block_);
        slot.dictionary = 0;
        if (next > 0 && deflating) {
            const TSlot& before = slots[(next - 1) % ring];
            slot.dictionary = std::min(kWindow, before.length);
            std::memcpy(slot.in.get(), before.in.get() + before.dictionary + before.length - slot.dictionary,
                        slot.dictionary);
        }
        size_t got = 0;
        while (got < block_) {
            const size_t n = read(slot.in.get() + slot.dictionary + got, block_ - got);
            if (n == 0) break;
            got += n;
        }
        slot.length = got;
        if (got == 0) {
            // The end: the block before is the last; an empty input is one empty last block.
            if (next == 0) {
                submit(0, true);
                next = 1;
            } else {
                submit(next - 1, true);
            }
            break;
        }
        if (next > 0) submit(next - 1, false);
        ++next;
        if (got < block_) {
            // A short read ends the input as well; no need to ask again.
            submit(next - 1, true);
            break;
        }
    }
    while (emitted < next) takeOldest();
    return result;
}

}  // namespace zip
