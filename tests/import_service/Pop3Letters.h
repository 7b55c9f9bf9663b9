// Letters for the POP3 tests against real servers: made by pop3_letters.py from a JSON list, and
// the subjects left on the server afterwards as Python's poplib reads them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/zip/ZipTestUtil.h"

namespace pop3it {

const std::string kScripts = DX_SOURCE_DIR "/tests/import_service/";
const char* const kUser = "importer";
const char* const kPassword = "s3cret";

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0) << command;
    return out;
}

// The letters of a test: made by pop3_letters.py from a JSON list, with the content of every
// attachment kept aside for comparison.
class TLetters {
public:
    TLetters(const std::string& dir, const std::string& json, const std::string& target)
        : out_(dir + "/expected") {
        ziptest::WriteFile(dir + "/letters.json", json);
        EXPECT_EQ(ziptest::Run("python3 " + kScripts + "pop3_letters.py fill " + dir + "/letters.json " +
                               out_ + " " + target),
                  0);
        subjects_ = Lines(ziptest::ReadFile(out_ + "/subjects"));
    }
    const std::string& Subject(int letter) const { return subjects_.at(letter - 1); }
    std::string Content(int letter, int attachment) const {
        return ziptest::ReadFile(out_ + "/" + std::to_string(letter) + "_" + std::to_string(attachment));
    }

private:
    std::string out_;
    std::vector<std::string> subjects_;
};

// Subjects of the letters left in the mailbox, as poplib reads them.
inline std::vector<std::string> LeftOnServer(int port, bool tls = false) {
    return Lines(Output("python3 " + kScripts + "pop3_letters.py list 127.0.0.1 " + std::to_string(port) +
                        " " + kUser + " " + kPassword + (tls ? " --tls" : "")));
}

}  // namespace pop3it
