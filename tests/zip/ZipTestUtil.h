// Small helpers shared by the zip tests: a scratch folder and whole-file access.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ziptest {

class TempDir {
public:
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "ziptestXXXXXX").string();
        path_ = ::mkdtemp(templ.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& name, const std::string& data) {
    std::ofstream f(name, std::ios::binary);
    f << data;
}

inline std::string ReadFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline bool Exists(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

// Sets a file's modification time (seconds since 1970).
inline void SetMTime(const std::string& name, time_t when) {
    struct timeval tv[2] = {{when, 0}, {when, 0}};
    ::utimes(name.c_str(), tv);
}

inline uint16_t U16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

inline uint32_t U32(const std::string& s, size_t at) {
    return U16(s, at) | static_cast<uint32_t>(U16(s, at + 2)) << 16;
}

// Some text that deflates well, different per seed.
inline std::string SampleText(size_t size, int seed = 1) {
    std::string s;
    unsigned x = static_cast<unsigned>(seed) * 2654435761u;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        s += "<Item Id=\"" + std::to_string(x % 10000) + "\">value " + std::to_string((x >> 8) % 97) +
             "</Item>\r\n";
    }
    s.resize(size);
    return s;
}

inline int Run(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace ziptest
