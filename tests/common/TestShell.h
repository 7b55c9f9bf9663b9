// Command lines for tests that call outside tools, and the demo Qel database they start from.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testshell {

// Runs a command line through the shell; its exit status (-1 when it did not exit), and what it
// printed on standard output and error in output.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// s as one word of a shell command line.
inline std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The demo database every test starts from: tiny, seed 7, history up to 2024-05-31, computer name
// "qelhost", demo folders under <folder>/zuv. Made by scripts/make-qel-db on first use, once per
// test program; removed when the program ends. Tests change copies of it, never the file itself.
struct TQelDemoFiles {
    std::string folder, base;
    TQelDemoFiles() {
        char tmpl[] = "/tmp/qel_demo_XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("no temporary folder");
        folder = tmpl;
        base = folder + "/base.db";
        std::string out;
        const int rc =
            RunCommand("python3 " + ShellQuote(std::string(DX_SOURCE_DIR) + "/scripts/make-qel-db") +
                           " --size tiny --seed 7 --anchor 2024-05-31 --host qelhost --root " +
                           ShellQuote(folder + "/zuv") + " " + ShellQuote(base),
                       &out);
        if (rc != 0) throw std::runtime_error("make-qel-db failed: " + out);
    }
    ~TQelDemoFiles() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    TQelDemoFiles(const TQelDemoFiles&) = delete;
    TQelDemoFiles& operator=(const TQelDemoFiles&) = delete;
};

inline const TQelDemoFiles& QelDemoFiles() {
    static TQelDemoFiles files;
    return files;
}

}  // namespace testshell
