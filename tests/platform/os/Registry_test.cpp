// The registry stand-in: absent without a store, keys and values read from the INI file,
// sub-key listing, relative opening, integer typing and writes.
#include "platform/os/Registry.h"

#include <gtest/gtest.h>

#include "tests/platform/os/OsTestSupport.h"

using os::ERegistryException;
using os::HKEY_CURRENT_USER;
using os::HKEY_LOCAL_MACHINE;
using os::TRegistry;
using ostest::ReadFile;
using ostest::ScopedEnv;
using ostest::TempDir;
using ostest::WriteFile;

namespace {

const char kStore[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE]\n"
    "inst_loc=/opt/oracle/inventory\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\KEY_OraClient11g_home1]\n"
    "ORACLE_HOME=/opt/oracle/client\n"
    "ORACLE_HOME_NAME=OraClient11g_home1\n"
    "@=default text\n"
    "Count=7\n"
    "Bad=seven\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE\\KEY_OraDb11g_home2\\Sub]\n"
    "x=1\n"
    "[HKEY_CURRENT_USER\\Software\\Zuv]\n"
    "Mine=yes\n";

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() {
        WriteFile(path_, kStore);
        machine_.SetRootKey(HKEY_LOCAL_MACHINE);
    }
    TempDir dir_{"reg"};
    std::string path_ = dir_ / "registry.ini";
    ScopedEnv env_{os::RegistryFileVariable, path_};
    TRegistry machine_;
};

TEST(RegistryWithoutStore, EveryKeyIsAbsent) {
    TempDir dir("reg");
    for (std::optional<std::string> file :
         {std::optional<std::string>(), std::optional<std::string>(dir / "none.ini")}) {
        ScopedEnv env(os::RegistryFileVariable, file);
        TRegistry reg;
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\ORACLE"));
        EXPECT_FALSE(reg.OpenKeyReadOnly("\\SOFTWARE\\ORACLE"));
        EXPECT_FALSE(reg.OpenKey("SOFTWARE", false));
        EXPECT_EQ(reg.ReadString("x"), "");
        EXPECT_THROW(reg.ReadInteger("x"), ERegistryException);
        EXPECT_TRUE(reg.GetKeyNames().empty());
    }
    ScopedEnv unset(os::RegistryFileVariable, std::nullopt);
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey("\\Software\\New", true)) << "nowhere to create it";
    EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
}

TEST_F(RegistryTest, ReadsValuesOfAnOpenKey) {
    TRegistry& reg = machine_;
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\software\\oracle\\key_oraclient11g_home1"));
    EXPECT_EQ(reg.CurrentPath(), "software\\oracle\\key_oraclient11g_home1");
    EXPECT_EQ(reg.ReadString("ORACLE_HOME"), "/opt/oracle/client");
    EXPECT_EQ(reg.ReadString("oracle_home_name"), "OraClient11g_home1");
    EXPECT_EQ(reg.ReadString(""), "default text");
    EXPECT_EQ(reg.ReadString("Missing"), "");
    EXPECT_TRUE(reg.ValueExists("Count"));
    EXPECT_FALSE(reg.ValueExists("Missing"));
    EXPECT_EQ(reg.ReadInteger("Count"), 7);
    try {
        reg.ReadInteger("Bad");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'Bad'");
    }
    try {
        reg.ReadInteger("Missing");
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'Missing'");
    }
    EXPECT_EQ(reg.GetValueNames(),
              (std::vector<std::string>{"ORACLE_HOME", "ORACLE_HOME_NAME", "", "Count", "Bad"}));
}

TEST_F(RegistryTest, KeysExistThroughTheirDescendants) {
    TRegistry& reg = machine_;
    EXPECT_TRUE(reg.KeyExists("\\SOFTWARE"));
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\ORACLE\\KEY_OraDb11g_home2"));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\ORA"));
    EXPECT_FALSE(reg.KeyExists("\\Software\\Zuv")) << "another root";
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\ORACLE", false));
    EXPECT_TRUE(reg.HasSubKeys());
    EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"KEY_OraClient11g_home1", "KEY_OraDb11g_home2"}));
    ASSERT_TRUE(reg.OpenKey("KEY_OraDb11g_home2", false)) << "relative to the open key";
    EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\ORACLE\\KEY_OraDb11g_home2");
    EXPECT_TRUE(reg.GetValueNames().empty());
    EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"Sub"}));
    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_EQ(reg.CurrentPath(), "");
    EXPECT_TRUE(reg.OpenKey("Software\\Zuv", false));
    EXPECT_EQ(reg.ReadString("Mine"), "yes");
}

TEST_F(RegistryTest, WritesGoToTheStore) {
    TRegistry& reg = machine_;
    ASSERT_TRUE(reg.OpenKey("\\System\\CurrentControlSet\\Services\\srvX", true));
    EXPECT_FALSE(reg.KeyExists("\\System\\CurrentControlSet\\Services\\srvX"))
        << "exists with its first value";
    reg.WriteString("Description", "Zuv Qel Out Srvc - Data export from Qel to Web");
    reg.WriteInteger("TypesSupported", 7);
    TRegistry other;
    other.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(other.OpenKeyReadOnly("\\SYSTEM\\CurrentControlSet\\Services\\SRVX"));
    EXPECT_EQ(other.ReadString("Description"), "Zuv Qel Out Srvc - Data export from Qel to Web");
    EXPECT_EQ(other.ReadInteger("TypesSupported"), 7);
    EXPECT_THROW(other.WriteString("Description", "x"), ERegistryException) << "read-only";
    EXPECT_FALSE(other.DeleteValue("Description"));
    EXPECT_NE(ReadFile(path_).find("inst_loc=/opt/oracle/inventory"), std::string::npos)
        << "the rest is kept";
    EXPECT_TRUE(reg.DeleteValue("Description"));
    EXPECT_FALSE(reg.ValueExists("Description"));
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubKeys) {
    TRegistry& reg = machine_;
    EXPECT_TRUE(reg.DeleteKey("\\SOFTWARE\\ORACLE"));
    EXPECT_FALSE(reg.KeyExists("\\SOFTWARE"));
    EXPECT_FALSE(reg.DeleteKey("\\SOFTWARE\\ORACLE"));
    reg.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_TRUE(reg.KeyExists("\\Software\\Zuv"));
}

}  // namespace
