// Private-profile files: the reading rules on small files, integers and Booleans, and writes
// that keep every other line and read back what was written.
#include "platform/os/IniFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/platform/os/OsTestSupport.h"

using os::EIniFileException;
using os::TIniFile;
using ostest::ReadFile;
using ostest::TempDir;
using ostest::WriteFile;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TIniFile Ini(const std::string& text) {
        WriteFile(path_, text);
        return TIniFile(path_);
    }
    TempDir dir_{"ini"};
    std::string path_ = dir_ / "Connection.ini";
};

struct ReadCase {
    const char* name;
    const char* text;
    const char* section;
    const char* key;
    const char* expected;  // nullptr: absent (the default comes back)
};

const ReadCase kReadCases[] = {
    {"plain", "[LOG]\r\nLogOutPath=/var/log/zuv\r\n", "LOG", "LogOutPath", "/var/log/zuv"},
    {"blanks around name and value", "[LOG]\n  LogOutPath \t=  /x y  \n", "LOG", "LogOutPath", "/x y"},
    {"blanks inside the brackets", "[ LOG ]\nk=v\n", "LOG", "k", "v"},
    {"section name case", "[connection_qel]\nServer=db\n", "CONNECTION_QEL", "Server", "db"},
    {"key name case", "[C]\nSERVER=db\n", "C", "server", "db"},
    {"Cyrillic names fold their case", "[\xD1\xC5\xCA\xD6\xC8\xDF]\n\xCA\xEB\xFE\xF7=1\n",
     "\xF1\xE5\xEA\xF6\xE8\xFF", "\xEA\xEB\xDE\xF7", "1"},
    {"semicolon inside a value", "[C]\nk=a;b ; c\n", "C", "k", "a;b ; c"},
    {"equals sign inside a value", "[C]\nk=a=b\n", "C", "k", "a=b"},
    {"hash line is a key", "[C]\n#k=v\n", "C", "#k", "v"},
    {"comment line", "[C]\n;k=v\n", "C", ";k", nullptr},
    {"indented comment line", "[C]\n   ;k=v\n", "C", "k", nullptr},
    {"indented key", "[C]\n  a=1\n    b=2\n", "C", "b", "2"},
    {"empty value", "[C]\nk=\n", "C", "k", ""},
    {"key without equals sign", "[C]\nk\n", "C", "k", ""},
    {"double quotes removed", "[C]\nk=\" padded \"\n", "C", "k", " padded "},
    {"single quotes removed", "[C]\nk='x'\n", "C", "k", "x"},
    {"only one pair of quotes removed", "[C]\nk=\"\"x\"\"\n", "C", "k", "\"x\""},
    {"unmatched quotes stay", "[C]\nk=\"x'\n", "C", "k", "\"x'"},
    {"one quote stays", "[C]\nk=\"\n", "C", "k", "\""},
    {"first duplicate key counts", "[C]\nk=1\nk=2\n", "C", "k", "1"},
    {"duplicate section searched in order", "[C]\na=1\n[D]\nb=2\n[c]\nb=3\n", "C", "b", "3"},
    {"key of another section is absent", "[C]\na=1\n[D]\nb=2\n", "C", "b", nullptr},
    {"key before any section is never read", "k=1\n[C]\n", "C", "k", nullptr},
    {"missing section", "[C]\nk=1\n", "X", "k", nullptr},
    {"section without closing bracket", "[C\nk=1\n", "C", "k", "1"},
    {"text after the bracket ignored", "[C] ; note\nk=1\n", "C", "k", "1"},
    {"CR-only line ends", "[C]\rk=1\rm=2", "C", "m", "2"},
    {"last line without line end", "[C]\nk=last", "C", "k", "last"},
    {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[C]\nk=\xD0\x9B\xD0\xBE\xD0\xB3\n", "C", "k", "\xCB\xEE\xE3"},
    {"ANSI bytes kept", "[C]\nk=\xCB\xEE\xE3\n", "C", "k", "\xCB\xEE\xE3"},
};

TEST_F(IniFileTest, ReadsByThePrivateProfileRules) {
    for (const ReadCase& c : kReadCases) {
        TIniFile ini = Ini(c.text);
        std::string got = ini.ReadString(c.section, c.key, "<default>");
        EXPECT_EQ(got, c.expected ? c.expected : "<default>") << c.name;
        EXPECT_EQ(ini.ValueExists(c.section, c.key), c.expected != nullptr) << c.name;
    }
}

TEST_F(IniFileTest, ReadsUtf16WithByteOrderMark) {
    std::u16string text = u"[LOG]\r\nLogOutPath=\u041B\u043E\u0433\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    EXPECT_EQ(Ini(bytes).ReadString("log", "logoutpath", ""), "\xCB\xEE\xE3");
}

TEST_F(IniFileTest, MissingFileReadsAsEmpty) {
    TIniFile ini(dir_ / "absent.ini");
    EXPECT_EQ(ini.ReadString("C", "k", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("C", "k", -1), -1);
    EXPECT_FALSE(ini.SectionExists("C"));
    EXPECT_TRUE(ini.ReadSections().empty());
}

TEST_F(IniFileTest, IntegersAndBooleans) {
    struct {
        const char* value;
        int32_t integer;  // default -1
        bool boolean;     // default true
    } cases[] = {
        {"42", 42, true},          {"-7", -7, true},    {"0", 0, false},    {"$1F", 31, true},
        {"0x10", 16, true},        {"12abc", -1, true}, {"", -1, true},     {"abc", -1, true},
        {"99999999999", -1, true}, {"1.5", -1, true},   {"\"3\"", 3, true},
    };
    for (const auto& c : cases) {
        TIniFile ini = Ini(std::string("[C]\nk=") + c.value + "\n");
        EXPECT_EQ(ini.ReadInteger("C", "k", -1), c.integer) << c.value;
        EXPECT_EQ(ini.ReadBool("C", "k", true), c.boolean) << c.value;
    }
    EXPECT_EQ(Ini("[C]\n").ReadInteger("C", "OraHome", -1), -1);
    EXPECT_FALSE(Ini("[C]\n").ReadBool("C", "ExtendedLog", false));
}

TEST_F(IniFileTest, ListsSectionsAndKeysOnce) {
    TIniFile ini = Ini("[A]\nx=1\ny=2\nX=3\n[B]\n[a]\nz=4\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ini.ReadSection("a"), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_TRUE(ini.SectionExists("b"));
}

TEST_F(IniFileTest, WriteReplacesInPlaceAndKeepsTheRest) {
    TIniFile ini = Ini("; made by hand\r\n[LOG]\r\nLogOutPath = /old\r\nExtendedLog=0\r\n\r\n[X]\r\nk=v\r\n");
    ini.WriteString("log", "logoutpath", "/new");
    EXPECT_EQ(ReadFile(path_),
              "; made by hand\r\n[LOG]\r\nLogOutPath=/new\r\nExtendedLog=0\r\n\r\n[X]\r\nk=v\r\n");
}

TEST_F(IniFileTest, WriteAddsKeysAndSections) {
    TIniFile ini = Ini("[LOG]\nExtendedLog=0\n\n[X]\nk=v\n");
    ini.WriteInteger("LOG", "Level", 3);
    ini.WriteBool("NEW", "On", true);
    EXPECT_EQ(ReadFile(path_), "[LOG]\nExtendedLog=0\nLevel=3\n\n[X]\nk=v\n\n[NEW]\nOn=1\n");
}

TEST_F(IniFileTest, WriteCreatesTheFile) {
    TIniFile ini(dir_ / "new.ini");
    ini.WriteString("S", "k", "v");
    EXPECT_EQ(ReadFile(dir_ / "new.ini"), "[S]\nk=v\n");
}

TEST_F(IniFileTest, WrittenValuesReadBackUnchanged) {
    TIniFile ini(dir_ / "round.ini");
    for (std::string v :
         {"", " lead", "trail ", "\"quoted\"", "'q'", "a=b;c", "\"", "\xCB\xEE\xE3 \xEF\xF3\xF2\xFC"}) {
        ini.WriteString("S", "k", v);
        EXPECT_EQ(ini.ReadString("S", "k", "<absent>"), v);
    }
}

TEST_F(IniFileTest, WriteKeepsUtf8AndItsByteOrderMark) {
    TIniFile ini = Ini("\xEF\xBB\xBF[C]\nold=\xE4\xB8\xAD\n");
    ini.WriteString("C", "k", "\xCB\xEE\xE3");
    // The character outside code page 1251 in the untouched line survives.
    EXPECT_EQ(ReadFile(path_), "\xEF\xBB\xBF[C]\nold=\xE4\xB8\xAD\nk=\xD0\x9B\xD0\xBE\xD0\xB3\n");
}

TEST_F(IniFileTest, WriteRefusesWhatCannotBeReadBack) {
    TIniFile ini = Ini("[C]\nk=v\n");
    EXPECT_THROW(ini.WriteString("C", "k", "two\nlines"), EIniFileException);
    EXPECT_THROW(ini.WriteString("C", "a=b", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("C", ";k", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("C", " k", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("C]", "k", "v"), EIniFileException);
    EXPECT_THROW(ini.WriteString("", "k", "v"), EIniFileException);
    EXPECT_EQ(ReadFile(path_), "[C]\nk=v\n");
}

TEST_F(IniFileTest, FailedWriteRaisesAndLeavesNothing) {
    TIniFile ini(dir_ / "no-such-folder/x.ini");
    try {
        ini.WriteString("S", "k", "v");
        FAIL() << "no error";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Unable to write to " + ini.FileName() + ": ", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                            std::filesystem::directory_iterator()),
              0);
}

TEST_F(IniFileTest, DeleteKeyRemovesEveryOccurrence) {
    TIniFile ini = Ini("[C]\nk=1\nk=2\nm=3\n[c]\nk=4\n");
    ini.DeleteKey("C", "K");
    EXPECT_FALSE(ini.ValueExists("C", "k"));
    EXPECT_EQ(ReadFile(path_), "[C]\nm=3\n[c]\n");
}

TEST_F(IniFileTest, EraseSectionRemovesEveryOccurrence) {
    TIniFile ini = Ini("; top\n[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n");
    ini.EraseSection("a");
    EXPECT_EQ(ReadFile(path_), "; top\n[B]\ny=2\n");
}

TEST_F(IniFileTest, WriteKeepsThePermissions) {
    TIniFile ini = Ini("[C]\nk=v\n");
    ::chmod(path_.c_str(), 0600);
    ini.WriteString("C", "k", "w");
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
