// The files of the checks against the Python models next to the tests: a model script run with
// arguments, output paths per test in the build folder, and lines read back as words.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace dac::test {

// <build>/<prefix>_<test name>_<stem>.txt
inline std::string ModelOutPath(const std::string& prefix, const std::string& stem) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(DX_BINARY_DIR) + "/" + prefix + "_" + info->name() + "_" + stem + ".txt";
}

// The exit status of the system's python3 running a script of this folder: the models need the
// Debian package of PyICU, which another python3 earlier on PATH would not see.
inline int RunModelScript(const std::string& script, const std::string& args) {
    const std::string cmd =
        "/usr/bin/python3 " + std::string(DX_SOURCE_DIR) + "/tests/dataaccess/core/" + script + " " + args;
    return std::system(cmd.c_str());
}

// The non-blank lines of a file, split at blanks.
inline std::vector<std::vector<std::string>> ReadWordLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;) w.push_back(s);
        if (!w.empty()) lines.push_back(std::move(w));
    }
    return lines;
}

}  // namespace dac::test
