#include "import_service/ZipReaderUnZip.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/rtl/Files.h"
#include "tests/import_service/UnZipFixture.h"
#include "tests/import_service/ZipBuild.h"

using namespace svc;
using namespace ziptest;
namespace fs = std::filesystem;

namespace {

TEST_F(UnZipTest, StoredDeflatedAndFolderWithPassword) {
    for (bool descriptor : {false, true}) {
        SCOPED_TRACE(descriptor);
        fs::remove_all(dest);
        Make({{.name = "a.txt", .data = kText, .method = 0, .password = "pw", .descriptor = descriptor},
              {.name = "sub/b.xml",
               .data = kText + kText,
               .method = 8,
               .password = "pw",
               .descriptor = descriptor},
              {.name = "empty/", .data = "", .method = 0, .extAttr = 0x10}});
        EXPECT_TRUE(UnZipArchive(archive, dest, "pw"));
        EXPECT_EQ(ReadBytes(dest + "/a.txt"), kText);
        EXPECT_EQ(ReadBytes(dest + "/sub/b.xml"), kText + kText);
        EXPECT_TRUE(fs::is_directory(dest + "/empty"));
        EXPECT_EQ(static_cast<uint32_t>(rtl::FileAgeDos(dest + "/a.txt")), kDosTime);
        EXPECT_EQ(static_cast<uint32_t>(rtl::FileAgeDos(dest + "/sub/b.xml")), kDosTime);
    }
}

TEST_F(UnZipTest, WrongPasswordLeavesNothing) {
    // The check byte comes from the CRC without a data descriptor and from the time with one.
    for (bool descriptor : {false, true}) {
        SCOPED_TRACE(descriptor);
        Make({{.name = "a.txt", .data = kText, .password = "right", .descriptor = descriptor},
              {.name = "b.txt", .data = kText, .method = 0, .password = "right", .descriptor = descriptor}});
        TUnZipReader r;
        Open(r);
        r.Password = "wrong";
        std::vector<zip::TSkipReason> reasons;
        r.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason why, const std::string&, int, bool&) {
            reasons.push_back(why);
        };
        EXPECT_EQ(r.UnZip(), 0);
        EXPECT_EQ(reasons, (std::vector<zip::TSkipReason>{zip::srBadPassword, zip::srBadPassword}));
        EXPECT_TRUE(Files().empty());
        EXPECT_FALSE(UnZipArchive(archive, dest, "wrong"));
        EXPECT_TRUE(Files().empty());
    }
}

TEST_F(UnZipTest, BadPasswordHandlerSuppliesTheRightOne) {
    Make({{.name = "a.txt", .data = kText, .password = "right"}});
    TUnZipReader r;
    Open(r);
    r.Password = "wrong";
    int asked = 0;
    r.OnBadPassword = [&](zip::TZipReader&, int index, std::string& pw) {
        EXPECT_EQ(index, 0);
        ++asked;
        pw = "right";
    };
    EXPECT_EQ(r.UnZip(), 1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadBytes(dest + "/a.txt"), kText);
}

TEST_F(UnZipTest, CorruptEntriesFailAndAreDeleted) {
    struct Case {
        const char* what;
        TEntrySpec entry;
        bool badCrcEvent;
    };
    const Case cases[] = {
        {"wrong crc", {.name = "a.txt", .data = kText, .crc = 0x12345678u}, true},
        {"data larger than declared", {.name = "a.txt", .data = kText, .method = 0, .declared = 10u}, true},
        {"data shorter than declared", {.name = "a.txt", .data = kText, .declared = 1000u}, true},
        {"unknown method", {.name = "a.txt", .data = "", .method = 12, .crc = 0u, .raw = "xyz"}, true},
        {"encrypted, wrong crc",
         {.name = "a.txt", .data = kText, .password = "pw", .descriptor = true, .crc = 1u},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        Make({c.entry, {.name = "good.txt", .data = kText}});
        TUnZipReader r;
        Open(r);
        r.Password = "pw";
        int badCrc = 0, messages = 0, skipped = 0;
        r.OnBadCRC = [&](zip::TZipReader&, uint32_t computed, int index, uint32_t stored) {
            EXPECT_EQ(index, 0);
            EXPECT_EQ(stored, c.entry.crc.value_or(Crc32(c.entry.data)));
            (void)computed;
            ++badCrc;
        };
        r.OnHandleMessage = [&](zip::TZipReader&, int, const std::string& text, const std::string& caption,
                                uint32_t, int&) {
            EXPECT_EQ(text, "Unknown Compression Method");
            EXPECT_EQ(caption, "Zip Error");
            ++messages;
        };
        r.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason why, const std::string&, int, bool&) {
            EXPECT_EQ(why, zip::srBadPassword);
            ++skipped;
        };
        EXPECT_EQ(r.UnZip(), 1);
        EXPECT_EQ(r.FailedCount(), 1);
        EXPECT_EQ(Files(), std::vector<std::string>{"good.txt"});
        EXPECT_EQ(badCrc, c.badCrcEvent ? 1 : 0);
        EXPECT_EQ(skipped, c.badCrcEvent ? 0 : 1);
        EXPECT_EQ(messages, c.entry.method == 12 ? 1 : 0);
        EXPECT_FALSE(UnZipArchive(archive, dest, "pw"));
    }
}

TEST_F(UnZipTest, NamesOutsideTheDestinationAreRefused) {
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "/abs/evil.txt", "a/b/../../../evil.txt",
                             "..", "C:/evil.txt", "..\\evil.txt", "a\\..\\..\\evil.txt"}) {
        SCOPED_TRACE(name);
        fs::remove_all(root + "/abs");
        Make({{.name = name, .data = kText}, {.name = "ok/fine.txt", .data = kText}});
        for (bool recreate : {true, false}) {
            fs::remove_all(dest);
            TUnZipReader r;
            Open(r);
            r.RecreateDirs = recreate;
            std::vector<zip::TSkipReason> reasons;
            r.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason why, const std::string&, int, bool&) {
                reasons.push_back(why);
            };
            EXPECT_EQ(r.UnZip(), 1);
            EXPECT_EQ(reasons, std::vector<zip::TSkipReason>{zip::srCreateError});
            EXPECT_FALSE(fs::exists(root + "/evil.txt"));
            EXPECT_FALSE(fs::exists(root + "/abs"));
            EXPECT_EQ(Files(), std::vector<std::string>{recreate ? "ok/fine.txt" : "fine.txt"});
        }
        EXPECT_FALSE(UnZipArchive(archive, dest, ""));
        EXPECT_FALSE(fs::exists(root + "/evil.txt"));
    }
}

TEST_F(UnZipTest, TruncatedDataEndsTheRun) {
    std::string bytes = BuildZip({{.name = "a.txt", .data = kText, .method = 0}});
    // Claim more compressed bytes than the file holds: the read runs past the end.
    const size_t centralSize = 46 + 5;
    bytes[bytes.size() - 22 - centralSize + 22] = 1;
    bytes[bytes.size() - 22 - centralSize + 26] = 1;
    WriteBytes(archive, bytes);
    TUnZipReader r;
    Open(r);
    EXPECT_EQ(UnZipError<EFatalUnzipError>(r), "Premature end of file reached");
    // Found before anything was written, not half-way.
    EXPECT_EQ(r.Damage(), zip::adDataOutside);
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
}

TEST_F(UnZipTest, DamagedDeflateDataRaisesCompressionError) {
    Make({{.name = "a.txt", .data = kText, .method = 8, .raw = ""}});
    std::string bytes = ReadBytes(archive);
    bytes[30 + 5] = '\xFF';  // first deflate block header: reserved block type
    WriteBytes(archive, bytes);
    TUnZipReader r;
    Open(r);
    EXPECT_THROW(r.UnZip(), zip::EZCompressionError);
    EXPECT_TRUE(Files().empty());
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
}

TEST_F(UnZipTest, MissingEmptyAndNonZipArchivesGiveFalse) {
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
    Make({});
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
    WriteBytes(archive, std::string(2000, 'x'));
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
    Make({{.name = "a.txt", .data = kText}});
    WriteBytes(archive, ReadBytes(archive).substr(0, 40));
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
    EXPECT_TRUE(Files().empty());
}

TEST_F(UnZipTest, SelectionAndPaths) {
    Make({{.name = "top.txt", .data = "1"},
          {.name = "Data/Inner/x.XML", .data = "2"},
          {.name = "data/y.txt", .data = "3"},
          {.name = "folder/", .data = "", .method = 0}});
    struct Case {
        const char* what;
        bool doAll;
        std::vector<std::string> files;
        bool recreate;
        std::vector<std::string> relative;
        std::vector<std::string> expected;
        int count;
    };
    const std::vector<Case> cases = {
        {"all", true, {}, true, {}, {"Data/Inner/x.XML", "data/y.txt", "top.txt"}, 4},
        {"flat, folders left out", true, {}, false, {}, {"top.txt", "x.XML", "y.txt"}, 3},
        {"pattern ignores case", false, {"DATA/*.xml"}, true, {}, {"Data/Inner/x.XML"}, 1},
        {"pattern by name", false, {"*.txt"}, true, {}, {"data/y.txt", "top.txt"}, 2},
        {"relative prefix removed", false, {"data/*"}, true, {"Data/"}, {"Inner/x.XML", "y.txt"}, 2},
        {"prefix without its slash", false, {"data/*"}, true, {"Data"}, {"Inner/x.XML", "y.txt"}, 2},
        {"nothing selected", false, {}, true, {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        TUnZipReader r;
        Open(r);
        r.DoAll = c.doAll;
        r.FilesList = c.files;
        r.RecreateDirs = c.recreate;
        r.RelativePathList = c.relative;
        int told = -1;
        r.OnUnZipComplete = [&](zip::TZipReader&, int n) { told = n; };
        EXPECT_EQ(r.UnZip(), c.count);
        EXPECT_EQ(told, c.count);
        EXPECT_EQ(Files(), c.expected);
        EXPECT_TRUE(r.FilesList.empty());
    }
}

TEST_F(UnZipTest, SelectionMarksAndSkipInStartEvent) {
    Make({{.name = "a.txt", .data = "1"}, {.name = "b.txt", .data = "2"}, {.name = "c.txt", .data = "3"}});
    TUnZipReader r;
    Open(r);
    r.ReadDirectory();
    r.KeepZipOpen = false;
    r.Directory()->Entry(0)->Selected = 1;
    r.Directory()->Entry(2)->Selected = 1;
    // UnZip reads the directory again, which drops the marks: select through the events instead.
    int total = 0;
    r.OnStartUnZipInfo = [&](zip::TZipReader&, int n, bool&, int64_t bytes) {
        total = n;
        EXPECT_EQ(bytes, 3);
    };
    r.OnStartUnZip = [&](zip::TZipReader&, int index, bool& skip, std::string& path) {
        skip = index == 1;
        path += ".out";
    };
    std::vector<std::pair<int, std::string>> ended;
    r.OnEndUnZip = [&](zip::TZipReader&, int index, const std::string& path) {
        ended.emplace_back(index, path);
    };
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.txt.out", "c.txt.out"}));
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[1], std::make_pair(2, dest + "/c.txt.out"));
}

TEST_F(UnZipTest, CancelBeforeExtraction) {
    Make({{.name = "a.txt", .data = "1"}});
    TUnZipReader r;
    Open(r);
    r.OnStartUnZipInfo = [](zip::TZipReader&, int, bool& cancel, int64_t) { cancel = true; };
    EXPECT_EQ(r.UnZip(), 0);
    EXPECT_TRUE(Files().empty());
}

TEST_F(UnZipTest, OverwriteModes) {
    Make({{.name = "a.txt", .data = "new"}});
    struct Case {
        zip::TUZOverwriteMode mode;
        int fileYear;  // the entry is from 2023
        bool promptAnswer;
        bool replaced;
    };
    const Case cases[] = {
        {zip::Always, 2030, false, true},  {zip::Never, 2000, false, false},
        {zip::ifNewer, 2000, false, true}, {zip::ifNewer, 2030, false, false},
        {zip::ifOlder, 2030, false, true}, {zip::ifOlder, 2000, false, false},
        {zip::Prompt, 2000, true, true},   {zip::Prompt, 2000, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode) * 10000 + c.fileYear);
        fs::create_directories(dest);
        WriteBytes(dest + "/a.txt", "old");
        rtl::FileSetDate(dest + "/a.txt",
                         static_cast<int32_t>((c.fileYear - 1980) << 25 | 1 << 21 | 1 << 16));
        TUnZipReader r;
        Open(r);
        r.OverwriteMode = c.mode;
        r.OnPromptForOverwrite = [&](zip::TZipReader&, bool& ow, const std::string& path, int) {
            EXPECT_EQ(path, dest + "/a.txt");
            ow = c.promptAnswer;
        };
        int skipped = 0;
        r.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason why, const std::string&, int, bool&) {
            EXPECT_EQ(why, zip::srNoOverwrite);
            ++skipped;
        };
        EXPECT_EQ(r.UnZip(), c.replaced ? 1 : 0);
        EXPECT_EQ(ReadBytes(dest + "/a.txt"), c.replaced ? "new" : "old");
        EXPECT_EQ(skipped, c.replaced ? 0 : 1);
    }
    // Prompt with nobody to ask keeps the file.
    WriteBytes(dest + "/a.txt", "old");
    TUnZipReader r;
    Open(r);
    r.OverwriteMode = zip::Prompt;
    EXPECT_EQ(r.UnZip(), 0);
    EXPECT_EQ(ReadBytes(dest + "/a.txt"), "old");
}

TEST_F(UnZipTest, ReadOnlyTargetsAndRetainedAttributes) {
    Make({{.name = "a.txt", .data = "new"}, {.name = "ro.txt", .data = "ro", .extAttr = 0x21}});
    fs::create_directories(dest);
    WriteBytes(dest + "/a.txt", "old");
    rtl::FileSetAttr(dest + "/a.txt", rtl::faReadOnly);
    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace);
        TUnZipReader r;
        Open(r);
        r.ReplaceReadOnly = replace;
        EXPECT_EQ(r.UnZip(), replace ? 2 : 1);
        EXPECT_EQ(ReadBytes(dest + "/a.txt"), replace ? "new" : "old");
        EXPECT_TRUE(rtl::FileGetAttr(dest + "/ro.txt") & rtl::faReadOnly);
        if (!replace) {
            EXPECT_FALSE(UnZipArchive(archive, dest, ""));
        }
        rtl::FileSetAttr(dest + "/ro.txt", 0);
    }
    EXPECT_FALSE(rtl::FileGetAttr(dest + "/a.txt") & rtl::faReadOnly);
}

TEST_F(UnZipTest, GetFilenameChecksTheIndex) {
    Make({{.name = "dir/a.txt", .data = "1"}});
    TUnZipReader r;
    r.SetZipName(archive);
    r.ReadDirectory();
    EXPECT_EQ(r.GetFilename(0), "a.txt");
    try {
        r.GetFilename(5);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::EListError& e) {
        EXPECT_EQ(e.Message(), "Index 5 is out of range");
    }
}

TEST_F(UnZipTest, DecryptionHelpers) {
    std::string plain = "0123456789A";
    plain += static_cast<char>(0xC3);
    plain += "payload";
    std::string cipher = plain;
    zip::TZipCryptKeys keys;
    keys.Init("secret");
    keys.EncryptBuffer(reinterpret_cast<uint8_t*>(cipher.data()), cipher.size());
    TUnZipReader r;
    std::string header = cipher.substr(0, 12);
    EXPECT_EQ(r.DecryptHeader("secret", reinterpret_cast<uint8_t*>(header.data())), 0xC3);
    EXPECT_EQ(header, plain.substr(0, 12));
    std::string rest = cipher.substr(12);
    r.DecryptBuffer(reinterpret_cast<uint8_t*>(rest.data()), static_cast<int>(rest.size()));
    EXPECT_EQ(rest, "payload");
}

TEST_F(UnZipTest, LegacySamples) {
    const std::string dir = std::string(DX_TEST_DATA_DIR) + "/zip-legacy/";
    const std::string first = ReadBytes(dir + "first.txt");
    ASSERT_EQ(first.size(), 1092u);
    struct Case {
        const char* archive;
        const char* password;
        std::vector<std::pair<std::string, uint32_t>> files;  // name, CRC
    };
    const Case cases[] = {
        {"shrink.zip", "", {{"FIRST.TXT", 0x22957a6e}}},
        {"reduce.zip", "", {{"first.txt", 0x22957a6e}}},
        {"implode.zip", "", {{"first.txt", 0x22957a6e}}},
        {"implode_small.zip", "", {{"I.BIN", 0x8314ddd9}}},
        {"traditional_encryption.zip", "12345678", {{"bar.txt", 0}, {"foo.txt", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        fs::remove_all(dest);
        EXPECT_TRUE(UnZipArchive(dir + c.archive, dest, c.password));
        for (const auto& [name, crc] : c.files) {
            std::string got = ReadBytes(dest + "/" + name);
            if (crc != 0) {
                EXPECT_EQ(Crc32(got), crc);
            }
            if (crc == 0x22957a6e) {
                EXPECT_EQ(got, first);
            }
            if (crc == 0) {
                EXPECT_EQ(got.size(), 495u);
            }
        }
    }
    fs::remove_all(dest);
    EXPECT_FALSE(UnZipArchive(dir + "traditional_encryption.zip", dest, "1234567"));
    EXPECT_TRUE(Files().empty());
}

}  // namespace

namespace {

std::string BigText() {
    std::string s;
    for (int i = 0; s.size() < 200000; ++i) s += std::to_string(i * 7919 % 100003) + ";";
    return s;
}

TEST_F(UnZipTest, ProgressAndDecryptEvents) {
    const std::string big = BigText();
    Make({{.name = "big.txt", .data = big, .password = "pw"},
          {.name = "small.txt", .data = "x", .password = "pw"}});
    TUnZipReader r;
    Open(r);
    r.Password = "pw";
    std::vector<int> file, total;
    int decrypted = 0;
    r.OnFilePercentDone = [&](zip::TZipReader&, int p) { file.push_back(p); };
    r.OnTotalPercentDone = [&](zip::TZipReader&, int p) { total.push_back(p); };
    r.OnDecrypt = [&](zip::TZipReader& self, uint8_t* buf, int n, const std::string& pw) {
        EXPECT_EQ(pw, "pw");
        decrypted += n;
        static_cast<TUnZipReader&>(self).DecryptBuffer(buf, n);
    };
    EXPECT_EQ(r.UnZip(), 2);
    EXPECT_EQ(ReadBytes(dest + "/big.txt"), big);
    ASSERT_GE(file.size(), 3u);
    EXPECT_TRUE(std::is_sorted(total.begin(), total.end()));
    EXPECT_EQ(file.back(), 100);
    EXPECT_EQ(total.back(), 100);
    EXPECT_GT(decrypted, 1000);
}

TEST_F(UnZipTest, CancelDuringAnEntryRemovesEverythingTheRunWrote) {
    // Before, the files extracted ahead of the cancelled one stayed behind.
    Make({{.name = "sub/first.txt", .data = "1"}, {.name = "big.txt", .data = BigText(), .method = 0}});
    TUnZipReader r;
    Open(r);
    r.OnFilePercentDone = [&](zip::TZipReader& self, int p) {
        if (p < 100) self.CancelRequest = true;
    };
    EXPECT_EQ(UnZipError<zip::EUserCanceled>(r), "User Aborted Operation");
    EXPECT_TRUE(Files().empty());
    EXPECT_FALSE(fs::exists(dest + "/sub"));
    EXPECT_FALSE(r.CancelRequest);
}

}  // namespace

// Names reach the disk as UTF-8 whether the archive stored them as UTF-8 (bit 11) or as OEM
// text; one the program's code page cannot hold fails alone, and names that differ only in
// case are two files.
TEST_F(UnZipTest, EntryNamesReachTheDiskAsUtf8) {
    const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";  // Привет.txt
    const std::string oem = "\x8F\xE0\xA8\xA2\xA5\xE2.txt";
    const std::string foreign = "\xE6\x97\xA5\xE6\x9C\xAC.txt";  // 日本.txt
    const uint16_t unix = 3 << 8 | 20;
    Make({{.name = "utf/" + utf8, .data = "u", .flagExtra = 0x800, .madeBy = unix},
          {.name = "oem/" + oem, .data = "o"},
          {.name = foreign, .data = "f", .flagExtra = 0x800, .madeBy = unix},
          {.name = "Case.txt", .data = "upper", .madeBy = unix},
          {.name = "case.txt", .data = "lower", .madeBy = unix}});
    svc::TUnZipReader r;
    Open(r);
    std::vector<std::pair<zip::TSkipReason, std::string>> skipped;
    r.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason why, const std::string& name, int, bool&) {
        skipped.emplace_back(why, name);
    };
    EXPECT_EQ(r.UnZip(), 4);
    EXPECT_EQ(r.FailedCount(), 1);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].first, zip::srCreateError);
    EXPECT_EQ(Files(), (std::vector<std::string>{"Case.txt", "case.txt", "oem/" + utf8, "utf/" + utf8}));
    EXPECT_EQ(ReadBytes(dest + "/utf/" + utf8), "u");
    EXPECT_EQ(ReadBytes(dest + "/case.txt"), "lower");
}
