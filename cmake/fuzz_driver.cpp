// Drives a libFuzzer entry point without libFuzzer: a fixed count of pseudo-random inputs,
// built by mutating a few seeds, so the target runs the same way on every compiler.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    std::mt19937_64 rng(20261210);
    std::vector<uint8_t> buf;
    for (long i = 0; i < runs; ++i) {
        size_t len = rng() % 512;
        if (buf.size() > 4096 || rng() % 8 == 0) buf.clear();
        switch (rng() % 3) {
            case 0:  // fresh random bytes
                buf.resize(len);
                for (auto& b : buf) b = static_cast<uint8_t>(rng());
                break;
            case 1:  // printable text, the lexers' usual diet
                buf.resize(len);
                for (auto& b : buf) b = static_cast<uint8_t>(32 + rng() % 95);
                break;
            default:  // mutate what we have
                if (buf.empty()) buf.push_back(0);
                for (int k = 0; k < 4; ++k) buf[rng() % buf.size()] = static_cast<uint8_t>(rng());
                buf.push_back(static_cast<uint8_t>(rng()));
                break;
        }
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    return 0;
}
