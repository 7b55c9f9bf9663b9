// Sorting the record list: 1 000 000 records by an integer and a 1251 text (IndexFieldNames
// "K; S"), side by side with std::stable_sort over the same keys in a plain vector with the
// same text collation; the counter "ratio" is the list's time over the vector's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"
#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"

namespace {

using namespace dac;

constexpr int kRows = 1000000;

// Letters of both alphabets in code page 1251, so the collation has work to do.
std::vector<std::pair<int32_t, std::string>> MakeKeys() {
    static const std::string letters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
        "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF\xC0\xC1\xC2\xC3\xC4\xC5\xB8\xA8";
    std::mt19937 rng(1251);
    std::vector<std::pair<int32_t, std::string>> keys(kRows);
    for (auto& [k, s] : keys) {
        k = static_cast<int32_t>(rng() % 1000);
        s.resize(4 + rng() % 6);
        for (char& c : s) c = letters[rng() % letters.size()];
    }
    return keys;
}

class Rows : public TMemData {
public:
    explicit Rows(const std::vector<std::pair<int32_t, std::string>>& keys) {
        Open();
        void* rec = AllocRecBuf();
        for (const auto& [k, s] : keys) {
            PItemHeader item;
            BlockManager().AllocItem(item);
            LinkItem(item);
            InitRecord(rec);
            PutField(1, rec, &k);
            PutField(2, rec, s.c_str());
            BlockManager().PutItemRecord(item, rec);
        }
        FreeRecBuf(rec);
        ReorderItems(FirstItem, false, false);
    }
    ~Rows() override { Close(); }
    void InternalInitFields() override {
        auto add = [this](const char* name, TDataType type, int length) {
            auto* d = new TFieldDesc();
            d->Name = name;
            d->DataType = type;
            d->Length = static_cast<uint16_t>(length);
            d->Size = DataTypeSize(type, length);
            d->FieldNo = static_cast<uint16_t>(Fields().Count() + 1);
            Fields().Add(d);
        };
        add("K", dtInteger, 0);
        add("S", dtString, 12);
    }
    void InternalOpen(bool) override { InitFields(); }
};

void BM_SortListAgainstStableSort(benchmark::State& state) {
    const auto keys = MakeKeys();
    bench::RatioBenchmark(
        state, "list",
        [&] {
            Rows rows(keys);
            return bench::Seconds([&] { rows.ChangeIndexFieldNames("K; S"); });
        },
        "stable_sort",
        [&] {
            auto copy = keys;
            return bench::Seconds([&] {
                std::stable_sort(copy.begin(), copy.end(), [](const auto& a, const auto& b) {
                    if (a.first != b.first) return a.first < b.first;
                    return LocaleCompareStrP(a.second.c_str(), b.second.c_str()) < 0;
                });
            });
        });
}
BENCHMARK(BM_SortListAgainstStableSort)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
