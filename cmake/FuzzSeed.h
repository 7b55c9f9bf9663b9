// Seed files of the fuzz targets. A target without its seeds would fuzz far less than it
// claims to, so a missing or empty seed file ends the run with a failure.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzseed {

// The test data folder: DX_TEST_DATA_DIR from the environment when set, else the repository's.
inline std::string DataDir() {
    const char* dir = std::getenv("DX_TEST_DATA_DIR");
    return dir && *dir ? dir : DX_TEST_DATA_DIR;
}

// The whole file; exits with status 1 when it cannot be read or is empty.
inline std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        std::fprintf(stderr, "fuzz: missing seed file %s\n", path.c_str());
        std::exit(1);
    }
    return bytes;
}

}  // namespace fuzzseed
