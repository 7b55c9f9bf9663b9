// Entry names between the archive, the program and the file system, and Zip64 sizes that a
// local header must carry before the data is known.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/rtl/Files.h"
#include "tests/zip/ZipTestUtil.h"
#include "zip/KpLib.h"
#include "zip/ZipWriter.h"
#include "zip/kpZipObj.h"

using namespace zip;
using namespace ziptest;

namespace {

// "Привет.txt" in code page 1251, in UTF-8 and in OEM code page 866.
const std::string kAnsiName = "\xCF\xF0\xE8\xE2\xE5\xF2.txt";
const std::string kUtf8Name = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";
const std::string kOemName = "\x8F\xE0\xA8\xA2\xA5\xE2.txt";
constexpr uint64_t kJustUnder = 0xFFFFFFFFull - 5;
// "日本.txt": no place in 1251.
const std::string kForeignUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC.txt";

std::string Bytes(rtl::TMemoryStream& s) {
    return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

// One central header with the given flag and stored name bytes.
std::string CentralHeader(uint16_t flag, const std::string& stored, uint16_t madeBy = 20) {
    std::string h(46, '\0');
    auto put16 = [&](size_t at, uint16_t v) {
        h[at] = static_cast<char>(v & 0xFF);
        h[at + 1] = static_cast<char>(v >> 8);
    };
    h[0] = 'P', h[1] = 'K', h[2] = 1, h[3] = 2;
    put16(4, madeBy);
    put16(6, 20);
    put16(8, flag);
    put16(28, static_cast<uint16_t>(stored.size()));
    return h + stored;
}

TZipHeaderInfo ReadCentral(const std::string& bytes) {
    rtl::TMemoryStream s;
    s.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.Seek(0, rtl::soBeginning);
    TZipHeaderInfo e;
    e.OEMConvert = oemAlways;
    rtl::TStream* p = &s;
    EXPECT_TRUE(e.ReadCentralHeader(p));
    return e;
}

std::vector<std::string> EntryNames(const std::string& archive) {
    TZipReader r;
    r.SetZipName(archive);
    r.ReadZip();
    std::vector<std::string> names;
    for (int i = 0; i < r.GetCount(); ++i) names.push_back(r.Entry(i).FullName());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// The stored bytes are UTF-8 when bit 11 is set and OEM text otherwise; in the program both
// are ANSI, and the same bytes go back when the entry is written again.
TEST(EntryNames, Utf8FlagDecidesHowTheStoredNameReads) {
    struct Case {
        const char* what;
        uint16_t flag;
        std::string stored;
        std::string program;
        bool unrepresentable;
        uint16_t madeBy = 20;
    };
    const uint16_t unix = 3 << 8 | 20;
    const Case cases[] = {
        {"UTF-8 flag", 0x800, "dir/" + kUtf8Name, "dir\\" + kAnsiName, false},
        {"OEM", 0, "dir/" + kOemName, "dir\\" + kAnsiName, false},
        {"ASCII with the flag", 0x800, "plain.xml", "plain.xml", false},
        {"UTF-8 outside 1251", 0x800, kForeignUtf8, "", true},
        {"malformed UTF-8", 0x800, "a\xC3(.txt", "", true},
        {"Unix host, UTF-8 bytes without the flag", 0, kUtf8Name, kAnsiName, false, unix},
        {"Unix host, foreign UTF-8 without the flag", 0, kForeignUtf8, "", true, unix},
    };
    for (const Case& c : cases) {
        TZipHeaderInfo e = ReadCentral(CentralHeader(c.flag, c.stored, c.madeBy));
        EXPECT_EQ(e.NameUnrepresentable(), c.unrepresentable) << c.what;
        if (!c.unrepresentable) {
            EXPECT_EQ(e.FullName(), c.program) << c.what;
        }
        EXPECT_EQ(e.StoredName(), c.stored) << c.what;
        TZipHeaderInfo copy(e);
        EXPECT_EQ(copy.StoredName(), c.stored) << c.what;
        rtl::TMemoryStream out;
        copy.WriteLocalHeader(out);
        EXPECT_EQ(Bytes(out).substr(30), c.stored) << c.what;
        EXPECT_EQ(U16(Bytes(out), 26), c.stored.size()) << c.what;
    }
}

TEST(EntryNames, RenamingAnUnrepresentableEntryStoresTheNewName) {
    TZipHeaderInfo e = ReadCentral(CentralHeader(0x800, kForeignUtf8));
    ASSERT_TRUE(e.NameUnrepresentable());
    e.SetFileName(kAnsiName);
    EXPECT_FALSE(e.NameUnrepresentable());
    EXPECT_EQ(e.StoredName(), kUtf8Name);
}

// On disk the names are UTF-8, in the archive OEM: a Cyrillic file keeps its name both ways,
// and two names that differ only in case are two entries.
TEST(EntryNames, WriterPacksCyrillicAndCaseOnlyDifferentNames) {
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    WriteFile(dir / ("src/" + kUtf8Name), "privet");
    WriteFile(dir / "src/Order.xml", "upper");
    WriteFile(dir / "src/order.xml", "lower");

    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    w.FilesList = {dir / "src/*"};
    EXPECT_EQ(w.Zip(), 3);
    EXPECT_EQ(EntryNames(dir / "out.zip"), (std::vector<std::string>{"Order.xml", "order.xml", kAnsiName}));
    const std::string bytes = ReadFile(dir / "out.zip");
    EXPECT_NE(bytes.find(kOemName), std::string::npos);
    EXPECT_EQ(bytes.find(kUtf8Name), std::string::npos);

    // Listed by their ANSI names, the same files are found and packed.
    TZipWriter listed;
    listed.SetZipName(dir / "listed.zip");
    listed.FilesList = {dir / ("src/" + kAnsiName), dir / "src/Order.xml", dir / "src/order.xml"};
    EXPECT_EQ(listed.Zip(), 3);
}

TEST(EntryNames, UpdatingMatchesEntriesByExactName) {
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    WriteFile(dir / "src/a.txt", "first");
    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    w.FilesList = {dir / "src/a.txt"};
    ASSERT_EQ(w.Zip(), 1);
    // A file that differs only in case is another file, not a fresher copy of the entry.
    WriteFile(dir / "src/A.txt", "second");
    SetMTime(dir / "src/A.txt", 1000000000);
    w.FilesList = {dir / "src/A.txt"};
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(EntryNames(dir / "out.zip"), (std::vector<std::string>{"A.txt", "a.txt"}));
}

TEST(EntryNames, AFileTheProgramCannotNameIsRefusedAloud) {
    TempDir dir;
    std::filesystem::create_directories(dir / "src");
    WriteFile(dir / "src/data.xml", "x");
    WriteFile(dir / ("src/" + kForeignUtf8), "y");
    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    w.FilesList = {dir / "src/*"};
    try {
        w.Zip();
        FAIL() << "packed a name it cannot represent";
    } catch (const rtl::EFileNameError& e) {
        EXPECT_NE(std::string(e.Message()).find("cannot be represented in code page 1251"),
                  std::string::npos);
    }
    EXPECT_FALSE(Exists(dir / "out.zip"));
    // A pattern that does not take the foreign file is not disturbed by it.
    w.FilesList = {dir / "src/*.xml"};
    EXPECT_EQ(w.Zip(), 1);
}

// A local header is written before the data; a file just under the limit that encryption or
// deflate may push over it needs the Zip64 field from the start.
TEST(Zip64Sizes, DecidedFromTheWorstCaseBeforeTheData) {
    struct Case {
        uint64_t size;
        bool store, encrypt, zip64;
    };
    const uint64_t limit = 0xFFFFFFFF;
    const Case cases[] = {
        {limit - 12, true, true, true},   {limit - 13, true, true, false}, {limit - 12, true, false, false},
        {limit - 1, true, false, false},  {limit, true, false, true},      {limit - 100, false, false, true},
        {3000000000, false, true, false}, {0, false, true, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EntryMayNeedZip64(c.size, c.store, c.encrypt), c.zip64)
            << c.size << " store " << c.store << " encrypt " << c.encrypt;
}

TEST(Zip64Sizes, ForcedFieldKeepsTheLocalHeaderSizeAndReadsBack) {
    TZipHeaderInfo e;
    e.SetFileName("big.bin");
    e.SetUncompressedSize(kJustUnder);
    e.SetZip64Sizes(true);
    rtl::TMemoryStream before;
    e.WriteLocalHeader(before);
    // The data turned out larger than 32 bits once the encryption header was added.
    e.SetCompressedSize(0xFFFFFFFFull + 7);
    rtl::TMemoryStream after;
    e.WriteLocalHeader(after);
    EXPECT_EQ(before.Size(), after.Size());
    const std::string local = Bytes(after);
    EXPECT_EQ(U32(local, 18), 0xFFFFFFFFu);
    EXPECT_EQ(U32(local, 22), 0xFFFFFFFFu);
    EXPECT_EQ(U16(local, 4), 45);

    rtl::TMemoryStream central;
    e.WriteCentralHeader(central);
    central.Seek(0, rtl::soBeginning);
    TZipHeaderInfo back;
    rtl::TStream* p = &central;
    ASSERT_TRUE(back.ReadCentralHeader(p));
    EXPECT_EQ(back.GetUncompressedSize(), kJustUnder);
    EXPECT_EQ(back.GetCompressedSize(), 0xFFFFFFFFull + 7);
}
