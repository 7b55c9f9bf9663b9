// Record storage allocators and blobs: heap buffers of one size class are reused in constant
// time, record items come from blocks, blob values grow without copying what is stored, and
// whole reads of a compressed value cost one inflate.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dataaccess/core/MemData.h"

namespace {

using namespace dac;

void HeapReuse(benchmark::State& state) {
    TStringHeap heap;
    const int64_t size = state.range(0);
    std::vector<void*> live(64);
    for (void*& p : live) p = heap.NewBuf(size);
    std::size_t i = 0;
    for (auto _ : state) {
        heap.DisposeBuf(live[i]);
        live[i] = heap.NewBuf(size);
        benchmark::DoNotOptimize(live[i]);
        i = (i + 1) % live.size();
    }
    for (void* p : live) heap.DisposeBuf(p);
}
BENCHMARK(HeapReuse)->Arg(8)->Arg(200)->Arg(2000);

void HeapFill(benchmark::State& state) {
    for (auto _ : state) {
        TStringHeap heap;
        for (int i = 0; i < state.range(0); ++i) benchmark::DoNotOptimize(heap.NewBuf(24 + i % 100));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(HeapFill)->Arg(1000)->Arg(100000);

void BlockItems(benchmark::State& state) {
    TBlockManager bm;
    bm.RecordSize = 120;
    bm.ItemsPerBlock = static_cast<uint16_t>(state.range(0));
    std::vector<PItemHeader> items(10000);
    for (auto _ : state) {
        for (auto& item : items) bm.AllocItem(item);
        for (auto& item : items) bm.FreeItem(item);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(items.size()));
}
BENCHMARK(BlockItems)->Arg(10)->Arg(25)->Arg(500);

void BlobAppend(benchmark::State& state) {
    const std::string chunk(static_cast<std::size_t>(state.range(0)), 'x');
    const int64_t total = 8 << 20;
    for (auto _ : state) {
        TCRBlobData* data = new TCRBlobData();
        for (int64_t pos = 0; pos < total; pos += state.range(0))
            data->Write(pos, static_cast<int64_t>(chunk.size()), chunk.data());
        benchmark::DoNotOptimize(data->GetSize());
        data->Free();
    }
    state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BlobAppend)->Arg(4096)->Arg(65536);

void CompressedWholeRead(benchmark::State& state) {
    std::string value;
    for (int i = 0; value.size() < static_cast<std::size_t>(state.range(0)); ++i)
        value += "row " + std::to_string(i % 97) + ";";
    TCompressedBlob* blob = new TCompressedBlob();
    blob->SetAsString(value);
    blob->SetCompressed(true);
    std::string out(value.size(), '\0');
    for (auto _ : state) benchmark::DoNotOptimize(blob->Read(0, 0, out.data()));
    blob->Free();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(value.size()));
}
BENCHMARK(CompressedWholeRead)->Arg(1 << 16)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
