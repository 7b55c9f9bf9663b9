// The signed subject against a reference written in Python from the scheme alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/uMailSubject.h"
#include "platform/rtl/DateTime.h"

using namespace svc;

namespace {

std::vector<std::string> PythonLines(const std::string& arguments, const std::string& input = "") {
    std::string inputFile = "/dev/null";
    char pattern[] = "/tmp/subject_it_XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0) {
        ::close(fd);
        inputFile = pattern;
        std::ofstream(inputFile, std::ios::binary) << input;
    }
    FILE* pipe = ::popen(
        ("python3 " DX_SOURCE_DIR "/tests/common/signed_subject.py " + arguments + " < " + inputFile).c_str(),
        "r");
    std::vector<std::string> lines;
    char buf[512];
    while (pipe && std::fgets(buf, sizeof buf, pipe)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(line);
    }
    EXPECT_TRUE(pipe && ::pclose(pipe) == 0);
    if (fd >= 0) std::remove(inputFile.c_str());
    return lines;
}

TEST(SignedSubjectPython, MadeSubjectsEqualTheReference) {
    struct Case {
        const char* prefix;
        int issuer, branch;
        int year, month, day, hour, minute, second;
        const char* random;
    };
    const Case cases[] = {
        {"QelExport", 7, 3, 2024, 12, 31, 23, 59, 59, "!@#$%"},
        {"QelExport", 9999, 99, 2000, 1, 1, 0, 0, 0, "abcde"},
        {"WebExport", 0, 0, 2099, 6, 15, 12, 30, 5, "\\/|{}"},
        {"WebExport", 123, 45, 2023, 2, 28, 9, 8, 7, "z.,<>"},
    };
    std::string input;
    std::vector<std::string> made;
    for (const auto& c : cases) {
        char time[32];
        std::snprintf(time, sizeof time, "%04d%02d%02d%02d%02d%02d", c.year, c.month, c.day, c.hour, c.minute,
                      c.second);
        input += std::string(c.prefix) + "\t" + std::to_string(c.issuer) + "\t" + std::to_string(c.branch) +
                 "\t" + time + "\t" + c.random + "\n";
        made.push_back(BuildSignedSubject(
            c.prefix, c.issuer, c.branch,
            rtl::EncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, 0), c.random));
    }
    EXPECT_EQ(PythonLines("make", input), made);
}

TEST(SignedSubjectPython, ReferenceSubjectsPassTheCheckAndTamperedOnesDoNot) {
    const auto subjects = PythonLines("random WebExport 40 7");
    ASSERT_EQ(subjects.size(), 40u);
    for (const auto& subject : subjects) {
        EXPECT_TRUE(CheckSignedSubject(subject, "WebExport")) << subject;
        std::string tampered = subject;
        tampered[20] = tampered[20] == 'a' ? 'b' : 'a';
        EXPECT_FALSE(CheckSignedSubject(tampered, "WebExport")) << tampered;
    }
}

}  // namespace
