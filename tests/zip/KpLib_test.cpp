#include "zip/KpLib.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/rtl/Exceptions.h"
#include "tests/zip/ZipTestUtil.h"
#include "zip/kpMatch.h"

using namespace zip;

TEST(WildcardMatch, Table) {
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    } cases[] = {
        {"*.txt", "README.TXT", true},
        {"<a-c>x", "bx", true},
        {"<!a-c>x", "bx", false},
        {"<^a-c>x", "dx", true},
        {"<z-a>", "m", false},
        {"a<bc", "ab", false},
        {"a<bc", "a<bc", false},
        {"<>", "x", false},
        {"*<0-9>.log", "2024.log", true},
        {"*<0-9>.log", "x1.log", false},
        {"*", "", true},
        {"*", "anything", true},
        {"?", "", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"*?", "", false},
        {"*??x", "abx", true},
        {"*??x", "bx", false},
        {"a*", "a", true},
        {"a**", "a", false},
        {"ab", "abc", false},
        {"abc", "ab", false},
        {"*b*d", "abcd", true},
        {"*b*d", "abce", false},
        {"data*.xml", "DATA_2024.XML", true},
        {"<xyz>", "Y", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.text), c.match) << c.pattern << " vs " << c.text;
}

TEST(WildcardMatch, IsWildcard) {
    for (const char* s : {"*", "a?", "<a>", "x|y", ">a"}) EXPECT_TRUE(IsWildcard(s)) << s;
    EXPECT_FALSE(IsWildcard("plain/name.txt"));
}

TEST(DosDateTime, FixRepairsOnlyBadFields) {
    auto pack = [](unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s2) {
        return static_cast<uint32_t>(y << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s2);
    };
    struct Case {
        uint32_t in, out;
    } cases[] = {
        {pack(44, 5, 17, 13, 45, 10), pack(44, 5, 17, 13, 45, 10)},
        {pack(44, 13, 0, 13, 45, 10), pack(44, 12, 1, 13, 45, 10)},
        {pack(44, 0, 3, 24, 60, 30), pack(44, 1, 3, 23, 59, 29)},
        {pack(125, 6, 6, 6, 6, 6), pack(119, 6, 6, 6, 6, 6)},
        {0xFFFFFFFF, pack(119, 12, 31, 23, 59, 29)},
    };
    for (const auto& c : cases) EXPECT_EQ(FixDosDateTime(c.in), c.out) << std::hex << c.in;
}

TEST(DosDateTime, ConversionsAndMissingFile) {
    rtl::TDateTime dt;
    // 2024-05-17 13:45:20 -> days since 1899-12-30 = 45429
    uint32_t dos = 44u << 25 | 5u << 21 | 17u << 16 | 13u << 11 | 45u << 5 | 10u;
    ASSERT_TRUE(TryDosDateTimeToDateTime(dos, dt));
    EXPECT_NEAR(dt, 45429 + (13 * 3600 + 45 * 60 + 20) / 86400.0, 1e-9);
    EXPECT_EQ(DateTimeToDosDateTime(dt), dos);
    EXPECT_FALSE(TryDosDateTimeToDateTime(44u << 25 | 2u << 21 | 30u << 16, dt));  // 30 February
    // Late years use the field's top bit; beyond 2107 the format ends.
    uint32_t late = 90u << 25 | 7u << 21 | 4u << 16 | 8u << 11;
    ASSERT_TRUE(TryDosDateTimeToDateTime(late, dt));
    EXPECT_EQ(DateTimeToDosDateTime(dt), late);
    EXPECT_EQ(DateTimeToDosDateTime(dt + 366 * 100) >> 25, 127u);
    // A missing file gets 31 December 2099, 23:59:58.
    rtl::TDateTime missing = FileDateTime("/nonexistent/file/here");
    ASSERT_TRUE(
        TryDosDateTimeToDateTime(119u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u, dt));
    EXPECT_DOUBLE_EQ(missing, dt);
}

TEST(PercentOf, RoundsHalfToEvenAndCaps) {
    struct Case {
        double part, total;
        int result;
    } cases[] = {{1, 3, 33}, {5, 0, 0},  {7, 5, 100}, {1, 8, 12},
                 {3, 8, 38}, {2, 3, 67}, {0, 10, 0},  {5, -1, 0}};
    for (const auto& c : cases) EXPECT_EQ(PercentOf(c.part, c.total), c.result) << c.part << "/" << c.total;
}

TEST(NameHelpers, CharsSeparatorsAndOem) {
    EXPECT_EQ(RightChars("abcdef", 2), "ef");
    EXPECT_EQ(RightChars("ab", 5), "ab");
    EXPECT_EQ(LeftChars("abcdef", 2), "ab");
    std::string p = "a\\b\\c";
    ToZipSeparators(p);
    EXPECT_EQ(p, "a/b/c");
    ToDosSeparators(p);
    EXPECT_EQ(p, "a\\b\\c");
    // "Привет" in 1251 and in 866.
    std::string ansi = "\xCF\xF0\xE8\xE2\xE5\xF2";
    EXPECT_EQ(AnsiToOemText(ansi), "\x8F\xE0\xA8\xA2\xA5\xE2");
    EXPECT_EQ(OemToAnsiText(AnsiToOemText(ansi)), ansi);
    std::string euro = "\x88";  // the euro sign has no OEM form
    OemRoundTrip(euro);
    EXPECT_EQ(euro, "?");
}

class DirSearchTest : public ::testing::Test {
protected:
    ziptest::TempDir dir;
    void SetUp() override {
        for (const char* d :
             {"a", "a/x", "a/x/deep", "a/y", "b", "c20", "c21", "c30", "c20/logs", "c21/logs", "c21/other"})
            std::filesystem::create_directories(dir / d);
        for (const char* f :
             {"top.txt", "noext", "data.txt", ".hidden", "a/one.txt", "a/x/two.txt", "a/x/deep/three.txt",
              "a/y/four.log", "c20/logs/l1.txt", "c21/logs/l2.txt", "c21/other/l3.txt", "c30/l4.txt"})
            ziptest::WriteFile(dir / f, "x");
    }
    std::set<std::string> All(const std::string& start, bool recurse, const std::string& pattern,
                              int mask = 0x39) {
        TDirSearch search(start, mask, recurse, pattern);
        std::set<std::string> found;
        TZipSearchRec rec;
        for (auto name = search.NextFile(rec); !name.empty(); name = search.NextFile(rec))
            found.insert(name.substr(dir.Path().size() + 1));
        return found;
    }
};

TEST_F(DirSearchTest, FlatSearchAndDotRule) {
    EXPECT_EQ(All(dir.Path(), false, "*.*"), (std::set<std::string>{"top.txt", "noext", "data.txt"}));
    EXPECT_EQ(All(dir.Path(), false, "*."), (std::set<std::string>{"noext"}));
    EXPECT_EQ(All(dir.Path(), false, "*.txt"), (std::set<std::string>{"top.txt", "data.txt"}));
    EXPECT_EQ(All(dir.Path(), false, "*", 0x3B).count(".hidden"), 1u);
}

TEST_F(DirSearchTest, RecursionReturnsFoldersBeforeTheirContents) {
    TDirSearch search(dir / "a", 0x39, true, "*.txt");
    std::vector<std::string> order;
    TZipSearchRec rec;
    for (auto name = search.NextFile(rec); !name.empty(); name = search.NextFile(rec))
        order.push_back(name.substr(dir.Path().size() + 1));
    EXPECT_EQ(order, (std::vector<std::string>{"a/one.txt", "a/x/", "a/x/deep/", "a/x/deep/three.txt",
                                               "a/x/two.txt", "a/y/"}));
}

TEST_F(DirSearchTest, WildcardFolderLevels) {
    EXPECT_EQ(All(dir / "c2*/logs", false, "*"),
              (std::set<std::string>{"c20/logs/l1.txt", "c21/logs/l2.txt"}));
    EXPECT_EQ(
        All(dir / "*/*", false, "*.txt"),
        (std::set<std::string>{"a/x/two.txt", "c20/logs/l1.txt", "c21/logs/l2.txt", "c21/other/l3.txt"}));
    EXPECT_TRUE(All(dir / "nothing*", false, "*").empty());
    EXPECT_TRUE(All(dir / "missing", true, "*").empty());
}

TEST(FileHelpers, TempNamesAndReplacement) {
    ziptest::TempDir dir;
    std::string t = MakeTempFileName(dir.Path());
    EXPECT_EQ(t.substr(dir.Path().size() + 1, 3), "KPZ");
    EXPECT_TRUE(ziptest::Exists(t));
    ziptest::WriteFile(dir / "old", "old");
    ziptest::WriteFile(t, "new");
    EXPECT_TRUE(RenameOnSameDrive(t, dir / "old"));
    EXPECT_EQ(ziptest::ReadFile(dir / "old"), "new");
    EXPECT_FALSE(RenameOnSameDrive(dir / "none", dir / "old"));
    EXPECT_EQ(ziptest::ReadFile(dir / "old"), "new");
    try {
        MoveOrCopyFile(dir / "none", dir / "old");
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Error: Could not copy from " + (dir / "none") + " -> " + (dir / "old"));
    }
    EXPECT_EQ(ziptest::ReadFile(dir / "old"), "new");
}

TEST(FileHelpers, AttributesOfLinuxFiles) {
    ziptest::TempDir dir;
    ziptest::WriteFile(dir / "f", "x");
    ziptest::WriteFile(dir / ".h", "x");
    EXPECT_EQ(FileGetAttr(dir / "f"), faArchive);
    EXPECT_EQ(FileGetAttr(dir / ".h"), faArchive | faHidden);
    EXPECT_EQ(FileGetAttr(dir.Path()), faDirectory);
    ::chmod((dir / "f").c_str(), 0444);
    EXPECT_EQ(FileGetAttr(dir / "f"), faArchive | faReadOnly);
    EXPECT_EQ(FileGetAttr(dir / "missing"), -1);
    EXPECT_TRUE(AttrPassesMask(faArchive | faReadOnly, 0x39));
    EXPECT_FALSE(AttrPassesMask(faArchive | faHidden, 0x39));
    EXPECT_TRUE(AttrPassesMask(faArchive | faHidden, 0x3B));
}

TEST(DirSearchDepth, RecursionStopsAtTheLastLevel) {
    ziptest::TempDir dir;
    std::string path = dir.Path();
    for (int depth = 1; depth <= 23; ++depth) {
        path += "/d" + std::to_string(depth);
        std::filesystem::create_directories(path);
        ziptest::WriteFile(path + "/f.txt", "x");
    }
    TDirSearch search(dir.Path(), 0x39, true, "*.txt");
    TZipSearchRec rec;
    int files = 0, folders = 0;
    for (auto name = search.NextFile(rec); !name.empty(); name = search.NextFile(rec))
        (name.back() == '/' ? folders : files)++;
    EXPECT_EQ(folders, TDirSearch::kLevels - 1);
    EXPECT_EQ(files, TDirSearch::kLevels - 1);
}
