// The INI reader against Python's configparser on the same files: every section, key and
// value configparser finds reads the same through TIniFile (also with the names' case
// changed), and TIniFile finds no section or key that configparser does not.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "platform/os/IniFiles.h"
#include "platform/rtl/Strings.h"
#include "tests/platform/os/OsTestSupport.h"

namespace {

const std::string kData = DX_SOURCE_DIR "/tests/platform/os/data/ini/";
const std::string kScript = DX_SOURCE_DIR "/tests/platform/os/ini_reference.py";

std::string Unhex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// section -> key -> value, as configparser reads the file.
using Reference = std::map<std::string, std::map<std::string, std::string>>;

Reference ReadReference(const std::string& file) {
    std::string out;
    EXPECT_EQ(ostest::Shell("/usr/bin/python3 " + kScript + " " + file, &out), 0) << out;
    Reference ref;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string s, k, v;
        fields >> s >> k >> v;
        auto& section = ref[Unhex(s)];
        if (!k.empty()) section[Unhex(k)] = Unhex(v);
    }
    return ref;
}

TEST(IniAgainstConfigParser, SameSectionsKeysAndValues) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kData)) {
        const std::string file = entry.path().string();
        ++files;
        Reference ref = ReadReference(file);
        ASSERT_FALSE(ref.empty()) << file;
        os::TIniFile ini(file);
        EXPECT_EQ(ini.ReadSections().size(), ref.size()) << file;
        for (const auto& [section, keys] : ref) {
            EXPECT_TRUE(ini.SectionExists(section)) << file << " [" << section << "]";
            EXPECT_EQ(ini.ReadSection(section).size(), keys.size()) << file << " [" << section << "]";
            for (const auto& [key, value] : keys) {
                EXPECT_EQ(ini.ReadString(section, key, "<absent>"), value)
                    << file << " [" << section << "] " << key;
                EXPECT_EQ(ini.ReadString(rtl::AnsiLowerCase(section), rtl::AnsiUpperCase(key), "<absent>"),
                          value)
                    << file << " [" << section << "] " << key << " in other case";
            }
        }
    }
    EXPECT_GE(files, 4);
}

}  // namespace
