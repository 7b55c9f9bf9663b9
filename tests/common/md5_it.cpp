// MD5 and the keyed digest against Python's hashlib.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "common/EnDeCrypt.h"
#include "common/md5.h"

using namespace svc;

namespace {

TEST(Md5Python, DigestsAgreeWithHashlib) {
    char pattern[] = "/tmp/md5_it_XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::mt19937 rng(3);
    // Subjects with the cp1251 subject key, and binary data across block boundaries.
    const std::string key = "KPmw7D\xFE\xE6r3";
    std::vector<std::pair<std::string, std::string>> cases = {
        {"QelExport000101{5E0F2C1A-0B3D-4F5E-8A7B-6C5D4E3F2A1B}", key},
        {"\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0", key},
        {"", ""},
    };
    for (size_t len : {55, 56, 63, 64, 65, 1000}) {
        std::string data(len, '\0');
        for (auto& c : data) c = char(rng());
        cases.emplace_back(data, key.substr(0, len % 11));
    }
    std::string script = "import hashlib,sys\nfor i in range(" + std::to_string(cases.size()) +
                         "):\n    d=open(sys.argv[1]+'/d%d'%i,'rb').read()\n"
                         "    k=open(sys.argv[1]+'/k%d'%i,'rb').read()\n"
                         "    print(hashlib.md5(d+k).hexdigest())\n";
    std::ofstream(dir + "/check.py") << script;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::ofstream(dir + "/d" + std::to_string(i), std::ios::binary) << cases[i].first;
        std::ofstream(dir + "/k" + std::to_string(i), std::ios::binary) << cases[i].second;
    }
    FILE* pipe = popen(("python3 " + dir + "/check.py " + dir).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[64];
    for (size_t i = 0; i < cases.size(); ++i) {
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr) << i;
        std::string expected(line, 32);
        EXPECT_EQ(TEnDeCrypt::GetKeyedDigest(cases[i].first, cases[i].second), expected) << i;
        EXPECT_EQ(MD5Print(MD5String(cases[i].first + cases[i].second)), expected) << i;
    }
    EXPECT_EQ(pclose(pipe), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
