// The sample Connection.ini files under deploy/ read through the INI reader, and their
// credentials decrypt with the services' pass phrase to what their comment says.
#include <gtest/gtest.h>

#include "common/EnDeCrypt.h"
#include "platform/os/IniFiles.h"

namespace {

const std::string kIniPassPhrase = "W\xFEr\xED\xDFPkqz8";  // "WюrнЯPkqz8" in code page 1251

std::string Decrypt(const std::string& hex) {
    std::string error, plain;
    EXPECT_TRUE(svc::DecryptStringWithPassPhrase(hex, kIniPassPhrase, false, true, error, plain)) << error;
    return plain;
}

TEST(DeploySamples, ConnectionIniFilesAreComplete) {
    struct {
        const char* file;
        const char* logKey;
        const char* otherLogKey;
    } samples[] = {{"Connection.ini.export.sample", "LogOutPath", "LogInPath"},
                   {"Connection.ini.import.sample", "LogInPath", "LogOutPath"}};
    for (const auto& s : samples) {
        os::TIniFile ini(std::string(DX_SOURCE_DIR "/deploy/") + s.file);
        EXPECT_FALSE(ini.ReadString("CONNECTION_QEL", "Server", "").empty()) << s.file;
        EXPECT_FALSE(ini.ReadString("CONNECTION_QEL", "Scheme", "").empty()) << s.file;
        EXPECT_NE(ini.ReadInteger("CONNECTION_QEL", "OraHome", -1), -1) << s.file;
        EXPECT_EQ(Decrypt(ini.ReadString("CONNECTION_QEL", "UserName", "")), "zuv_exchange") << s.file;
        EXPECT_EQ(Decrypt(ini.ReadString("CONNECTION_QEL", "Password", "")), "change-me") << s.file;
        EXPECT_TRUE(ini.ValueExists("LOG", s.logKey)) << s.file;
        EXPECT_FALSE(ini.ValueExists("LOG", s.otherLogKey)) << s.file;
        EXPECT_FALSE(ini.ReadBool("LOG", "ExtendedLog", true)) << s.file;
    }
}

}  // namespace
