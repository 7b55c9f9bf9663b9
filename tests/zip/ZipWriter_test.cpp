#include "zip/ZipWriter.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <zlib.h>

#include <cstring>

#include "tests/zip/ZipFixture.h"
#include "tests/zip/ZipTestUtil.h"

using namespace zip;
using namespace ziptest;

namespace {

// Central directory entries of an archive, straight from its bytes.
struct CentralEntry {
    uint16_t madeBy, needed, flags, method, internal;
    uint32_t time, crc, compressed, uncompressed, external, offset;
    std::string name;
};

std::vector<CentralEntry> CentralEntries(const std::string& zip) {
    size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    EXPECT_NE(end, std::string::npos);
    size_t at = U32(zip, end + 16);
    std::vector<CentralEntry> out;
    for (uint16_t i = 0; i < U16(zip, end + 10); ++i) {
        EXPECT_EQ(U32(zip, at), 0x02014B50u);
        CentralEntry e{U16(zip, at + 4),  U16(zip, at + 6),  U16(zip, at + 8),
                       U16(zip, at + 10), U16(zip, at + 36), U32(zip, at + 12),
                       U32(zip, at + 16), U32(zip, at + 20), U32(zip, at + 24),
                       U32(zip, at + 38), U32(zip, at + 42), zip.substr(at + 46, U16(zip, at + 28))};
        out.push_back(e);
        at += 46 + U16(zip, at + 28) + U16(zip, at + 30) + U16(zip, at + 32);
    }
    return out;
}

size_t RawDeflatedSize(const std::string& data, int level) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (level == 6) deflateTune(&zs, 8, 32, 128, 128);  // the writer's search at the default level
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    size_t n = zs.total_out;
    deflateEnd(&zs);
    return n;
}

class ZipWriterTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string data = SampleText(200000, 1);
    std::string order = SampleText(700, 2);
    void SetUp() override {
        std::filesystem::create_directories(dir / "src");
        WriteFile(dir / "src/ZuvQelExport_0000701_20240101120000123.xml", data);
        WriteFile(dir / "src/XmlOrderList.xml", order);
    }
    std::vector<std::string> Files() {
        return {dir / "src/ZuvQelExport_0000701_20240101120000123.xml", dir / "src/XmlOrderList.xml"};
    }
};

}  // namespace

TEST_F(ZipWriterTest, TheExportRoadWritesTheExpectedEntries) {
    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    w.Password = "KEB_LO_SUM";
    w.FilesList = Files();
    int completed = -1;
    w.OnZipComplete = [&](TZipWriter&, int n) { completed = n; };
    EXPECT_EQ(w.Zip(), 2);
    EXPECT_EQ(completed, 2);
    EXPECT_TRUE(w.FilesList.empty());
    EXPECT_EQ(w.GetCount(), 2);

    std::string zip = ReadFile(dir / "out.zip");
    auto local = LocalEntries(zip);
    auto central = CentralEntries(zip);
    ASSERT_EQ(local.size(), 2u);
    ASSERT_EQ(central.size(), 2u);
    const std::string names[] = {"ZuvQelExport_0000701_20240101120000123.xml", "XmlOrderList.xml"};
    const std::string contents[] = {data, order};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(local[i].name, names[i]);
        EXPECT_EQ(central[i].name, names[i]);
        EXPECT_EQ(local[i].versionNeeded, 20);
        EXPECT_EQ(local[i].flags, 0x0001);
        EXPECT_EQ(local[i].method, 8);
        EXPECT_EQ(local[i].extraLength, 0);
        EXPECT_EQ(local[i].compressed, RawDeflatedSize(contents[i], 6) + 12);
        EXPECT_EQ(local[i].uncompressed, contents[i].size());
        EXPECT_EQ(local[i].crc,
                  crc32(0, reinterpret_cast<const Bytef*>(contents[i].data()), contents[i].size()));
        EXPECT_EQ(central[i].madeBy, 45);
        EXPECT_EQ(central[i].needed, 20);
        EXPECT_EQ(central[i].internal, 1);
        EXPECT_EQ(central[i].external, 0x20u);
        EXPECT_EQ(central[i].offset, local[i].offset);
        EXPECT_EQ(central[i].crc, local[i].crc);
        EXPECT_EQ(central[i].compressed, local[i].compressed);
        EXPECT_EQ(central[i].time, local[i].dosTime);
        EXPECT_EQ(central[i].time, FileDosDateTime(Files()[i]));
        EXPECT_EQ(Extract(local[i], "KEB_LO_SUM"), contents[i]);
        EXPECT_THROW(Extract(local[i], "wrong"), std::runtime_error);
    }
    size_t end = zip.size() - 22;
    EXPECT_EQ(U32(zip, end), 0x06054B50u);
    EXPECT_EQ(U16(zip, end + 8), 2);
    EXPECT_EQ(U16(zip, end + 10), 2);
    EXPECT_EQ(U16(zip, end + 20), 0);
}

TEST_F(ZipWriterTest, HeaderBytesOfTwoEntriesAreIndependent) {
    TZipWriter w;
    WriteFile(dir / "src/copy.xml", order);
    w.SetZipName(dir / "out.zip");
    w.Password = "pw";
    w.FilesList = {dir / "src/XmlOrderList.xml", dir / "src/copy.xml"};
    ASSERT_EQ(w.Zip(), 2);
    auto local = LocalEntries(ReadFile(dir / "out.zip"));
    ASSERT_EQ(local.size(), 2u);
    std::string heads[2];
    for (int i = 0; i < 2; ++i) {
        std::string h = local[static_cast<size_t>(i)].data.substr(0, 12);
        TZipCryptKeys k;
        k.Init("pw");
        k.DecryptBuffer(reinterpret_cast<uint8_t*>(h.data()), 12);
        uint32_t crc = local[static_cast<size_t>(i)].crc;
        EXPECT_EQ(static_cast<uint8_t>(h[10]), static_cast<uint8_t>(crc >> 16));
        EXPECT_EQ(static_cast<uint8_t>(h[11]), static_cast<uint8_t>(crc >> 24));
        heads[i] = h.substr(0, 10);
    }
    EXPECT_NE(heads[0], heads[1]);
}

TEST_F(ZipWriterTest, LevelsFlagsAndMethods) {
    struct Case {
        int level;
        std::string password;
        uint16_t flags, method, internal;
    } cases[] = {
        {0, "", 4, 0, 0}, {0, "p", 5, 0, 0}, {1, "", 4, 8, 1}, {6, "", 0, 8, 1}, {9, "p", 3, 8, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        TZipWriter w;
        w.SetZipName(dir / ("l" + std::to_string(c.level) + c.password + ".zip"));
        w.PackLevel = c.level;
        w.Password = c.password;
        w.FilesList = {dir / "src/XmlOrderList.xml"};
        ASSERT_EQ(w.Zip(), 1);
        std::string zip = ReadFile(w.ZipName());
        auto local = LocalEntries(zip);
        auto central = CentralEntries(zip);
        ASSERT_EQ(local.size(), 1u);
        EXPECT_EQ(local[0].flags, c.flags);
        EXPECT_EQ(local[0].method, c.method);
        EXPECT_EQ(central[0].internal, c.internal);
        size_t expected = c.method == 0 ? order.size() : RawDeflatedSize(order, c.level);
        EXPECT_EQ(local[0].compressed, expected + (c.password.empty() ? 0 : 12));
        EXPECT_EQ(Extract(local[0], c.password), order);
    }
}

TEST_F(ZipWriterTest, FilesLeftOutAreReported) {
    WriteFile(dir / "src/.hidden", "h");
    std::filesystem::create_directories(dir / "other");
    WriteFile(dir / "other/XmlOrderList.xml", "second of the same name");
    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    std::vector<std::string> noSuch;
    std::vector<std::pair<TSkipReason, std::string>> skipped;
    w.OnNoSuchFile = [&](TZipWriter&, const std::string& n) { noSuch.push_back(n); };
    w.OnSkippingFile = [&](TZipReader&, TSkipReason r, const std::string& n, int, bool&) {
        skipped.push_back({r, n});
    };
    w.FilesList = {dir / "src/.hidden", dir / "src/XmlOrderList.xml", dir / "other/XmlOrderList.xml",
                   dir / "src/none.xml"};
    EXPECT_EQ(w.Zip(), 1);
    EXPECT_EQ(noSuch, (std::vector<std::string>{dir / "src/.hidden", dir / "src/none.xml"}));
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].first, srNoOverwrite);
    EXPECT_EQ(skipped[0].second, dir / "other/XmlOrderList.xml");
    EXPECT_EQ(LocalEntries(ReadFile(dir / "out.zip")).size(), 1u);
}

TEST_F(ZipWriterTest, UnreadableFileIsLeftOutSilentlyWithoutHandler) {
    // A socket is found by the search but cannot be opened, also by root.
    std::string path = dir / "src/XmlOrderList.xml";
    std::filesystem::remove(path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    TZipWriter w;
    w.SetZipName(dir / "out.zip");
    w.FilesList = Files();
    EXPECT_EQ(w.Zip(), 1);
    int retries = 0;
    TZipWriter w2;
    w2.SetZipName(dir / "out2.zip");
    w2.OnSkippingFile = [&](TZipReader&, TSkipReason r, const std::string&, int, bool& retry) {
        EXPECT_EQ(r, srFileOpenError);
        retry = ++retries < 3;
    };
    w2.FilesList = Files();
    EXPECT_EQ(w2.Zip(), 1);
    EXPECT_EQ(retries, 3);
    ::close(fd);
}

TEST_F(ZipWriterTest, AFailedRunLeavesNoNewArchiveAndKeepsAnOldOne) {
    TZipWriter w;
    w.SetZipName(dir / "new.zip");
    w.FilesList = Files();
    w.OnStartZip = [](TZipWriter&, const std::string& n, TZipHeaderInfo&, bool&) {
        if (n.ends_with("XmlOrderList.xml")) throw rtl::Exception("stop");
    };
    EXPECT_THROW(w.Zip(), rtl::Exception);
    EXPECT_FALSE(Exists(dir / "new.zip"));
    EXPECT_TRUE(w.FilesList.empty());

    TZipWriter first;
    first.SetZipName(dir / "old.zip");
    first.FilesList = {Files()[0]};
    ASSERT_EQ(first.Zip(), 1);
    std::string before = ReadFile(dir / "old.zip");
    TZipWriter update;
    update.SetZipName(dir / "old.zip");
    update.FilesList = {Files()[1]};
    update.OnStartZip = [](TZipWriter&, const std::string&, TZipHeaderInfo&, bool&) {
        throw rtl::Exception("stop");
    };
    EXPECT_THROW(update.Zip(), rtl::Exception);
    EXPECT_EQ(ReadFile(dir / "old.zip"), before);
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        EXPECT_FALSE(e.path().filename().string().starts_with("KPZ")) << e.path();
}

TEST_F(ZipWriterTest, UpdatingKeepsEqualEntriesAndReplacesNewerFiles) {
    SetMTime(Files()[0], 1700000000);
    SetMTime(Files()[1], 1700000000);
    {
        TZipWriter w;
        w.SetZipName(dir / "a.zip");
        w.Password = "pw";
        w.FilesList = Files();
        ASSERT_EQ(w.Zip(), 2);
    }
    auto before = LocalEntries(ReadFile(dir / "a.zip"));
    WriteFile(Files()[1], "changed order list");
    SetMTime(Files()[1], 1700000100);
    WriteFile(dir / "src/third.txt", "third");
    std::vector<std::pair<TUpdateAction, int>> actions;
    TZipWriter w;
    w.SetZipName(dir / "a.zip");
    w.Password = "pw";
    w.OnUpdate = [&](TZipWriter&, TUpdateAction a, int i) { actions.push_back({a, i}); };
    w.FilesList = {Files()[0], Files()[1], dir / "src/third.txt"};
    EXPECT_EQ(w.Zip(), 2);  // the replaced entry and the new file
    EXPECT_EQ(actions, (std::vector<std::pair<TUpdateAction, int>>{{uaKeeping, 0}, {uaReplacing, 1}}));
    auto after = LocalEntries(ReadFile(dir / "a.zip"));
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].data, before[0].data);  // copied byte for byte
    EXPECT_EQ(Extract(after[0], "pw"), data);
    EXPECT_EQ(Extract(after[1], "pw"), "changed order list");
    EXPECT_EQ(Extract(after[2], "pw"), "third");
    EXPECT_EQ(w.GetCount(), 3);

    // zaReplace packs the file again even when it is not newer.
    TZipWriter r;
    r.SetZipName(dir / "a.zip");
    r.ZipAction = zaReplace;
    r.Password = "pw";
    r.FilesList = {Files()[0]};
    EXPECT_EQ(r.Zip(), 1);
    auto replaced = LocalEntries(ReadFile(dir / "a.zip"));
    ASSERT_EQ(replaced.size(), 3u);
    EXPECT_NE(replaced[0].data, before[0].data);  // fresh random header bytes
    EXPECT_EQ(Extract(replaced[0], "pw"), data);
}

TEST_F(ZipWriterTest, AShrinkingSourceGivesSizesOfTheBytesStored) {
    TZipWriter w;
    w.SetZipName(dir / "s.zip");
    w.Password = "pw";
    std::vector<int> messages;
    w.OnHandleMessage = [&](TZipReader&, int id, const std::string&, const std::string&, uint32_t, int&) {
        messages.push_back(id);
    };
    w.OnStartZip = [&](TZipWriter&, const std::string& n, TZipHeaderInfo&, bool&) {
        ::truncate(n.c_str(), 1000);
    };
    w.FilesList = {Files()[0]};
    ASSERT_EQ(w.Zip(), 1);
    auto local = LocalEntries(ReadFile(dir / "s.zip"));
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].uncompressed, 1000u);
    EXPECT_EQ(Extract(local[0], "pw"), data.substr(0, 1000));
    auto central = CentralEntries(ReadFile(dir / "s.zip"));
    EXPECT_EQ(central[0].uncompressed, 1000u);
    EXPECT_EQ(messages, (std::vector<int>{IDS_SHORTREAD}));
}

TEST_F(ZipWriterTest, WildcardsExclusionsPathsAndNoCompression) {
    std::filesystem::create_directories(dir / "src/sub");
    WriteFile(dir / "src/sub/inner.xml", SampleText(2000, 3));
    WriteFile(dir / "src/sub/skip.tmp", "tmp");
    WriteFile(dir / "src/pic.jpg", std::string(3000, 'j'));
    TZipWriter w;
    w.SetZipName(dir / "w.zip");
    w.SetRootDir(dir / "src");
    w.SetRelativePaths(true);
    w.ExcludeList = {"*.TMP"};
    w.NoCompressList = {"*.jpg"};
    std::vector<std::string> recursed;
    w.OnRecursingFile = [&](TZipWriter&, const std::string& n) { recursed.push_back(n); };
    w.FilesList = {dir / "src/*.*"};
    EXPECT_EQ(w.Zip(), 4);
    EXPECT_EQ(recursed.size(), 6u);  // five files and the folder
    std::vector<std::string> names;
    for (auto& e : LocalEntries(ReadFile(dir / "w.zip"))) {
        names.push_back(e.name);
        EXPECT_EQ(e.method, e.name == "pic.jpg" ? 0 : 8) << e.name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"XmlOrderList.xml", "ZuvQelExport_0000701_20240101120000123.xml",
                                        "pic.jpg", "sub/inner.xml"}));
}

namespace {

// A writer whose encryption headers carry fixed bytes.
class FixedRandomWriter : public TZipWriter {
protected:
    void RandomHeaderBytes(uint8_t* buffer, size_t length) override {
        for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(0xA0 + i);
    }
};

std::string Le(uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

}  // namespace

TEST_F(ZipWriterTest, HeaderBytesWithFixedRandomBytesAndTime) {
    const time_t when = 1704110400;  // 2024-01-01 12:00:00 UTC
    for (const auto& f : Files()) SetMTime(f, when);
    struct tm lt {};
    ::localtime_r(&when, &lt);
    const uint32_t dos =
        static_cast<uint32_t>((lt.tm_year - 80) << 25 | (lt.tm_mon + 1) << 21 | lt.tm_mday << 16 |
                              lt.tm_hour << 11 | lt.tm_min << 5 | lt.tm_sec / 2);
    std::string archives[2];
    for (int run = 0; run < 2; ++run) {
        FixedRandomWriter w;
        w.SetZipName(dir / ("fixed" + std::to_string(run) + ".zip"));
        w.Password = "KEB_LO_SUM";
        w.FilesList = Files();
        ASSERT_EQ(w.Zip(), 2);
        archives[run] = ReadFile(w.ZipName());
    }
    EXPECT_EQ(archives[0], archives[1]);
    const std::string& zip = archives[0];

    const std::string names[] = {"ZuvQelExport_0000701_20240101120000123.xml", "XmlOrderList.xml"};
    const std::string contents[] = {data, order};
    std::string expectedLocal, expectedCentral;
    size_t offset = 0;
    for (int i = 0; i < 2; ++i) {
        uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(contents[i].data()), contents[i].size());
        uint64_t csize = RawDeflatedSize(contents[i], 6) + 12;
        std::string common = Le(0x0001, 2) + Le(8, 2) + Le(dos, 4) + Le(crc, 4) + Le(csize, 4) +
                             Le(contents[i].size(), 4) + Le(names[i].size(), 2);
        std::string local = "PK\x03\x04" + Le(20, 2) + common + Le(0, 2) + names[i];
        EXPECT_EQ(zip.substr(offset, local.size()), local) << names[i];
        // The encryption header: ten fixed bytes and the CRC's two top bytes, encrypted.
        std::string head;
        for (int b = 0; b < 10; ++b) head += static_cast<char>(0xA0 + b);
        head += static_cast<char>(crc >> 16);
        head += static_cast<char>(crc >> 24);
        TZipCryptKeys keys;
        keys.Init("KEB_LO_SUM");
        keys.EncryptBuffer(reinterpret_cast<uint8_t*>(head.data()), 12);
        EXPECT_EQ(zip.substr(offset + local.size(), 12), head);
        expectedCentral += "PK\x01\x02" + Le(45, 2) + Le(20, 2) + common + Le(0, 2) + Le(0, 2) + Le(0, 2) +
                           Le(1, 2) + Le(0x20, 4) + Le(offset, 4) + names[i];
        offset += local.size() + csize;
    }
    std::string end = std::string("PK\x05\x06", 4) + Le(0, 2) + Le(0, 2) + Le(2, 2) + Le(2, 2) +
                      Le(expectedCentral.size(), 4) + Le(offset, 4) + Le(0, 2);
    EXPECT_EQ(zip.substr(offset), expectedCentral + end);
}

TEST_F(ZipWriterTest, BlockPartsNeverExceedTheirSizeAndReadBack) {
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(dir / ("part" + std::to_string(i) + ".txt"));
        WriteFile(files.back(), SampleText(4000 + 500 * static_cast<size_t>(i), 20 + i));
    }
    TZipWriter w;
    w.SetZipName(dir / "blocks.zip");
    w.Password = "pw";
    w.PackLevel = 0;  // stored, so the data is larger than a part
    w.MultiZipInfo.MultiMode = mmBlocks;
    w.MultiZipInfo.BlockSize = 3000;
    w.MultiZipInfo.FirstBlockSize = 5000;
    w.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
    w.MultiZipInfo.SaveOnFirstDisk = 100;
    std::vector<int> prepared;
    w.OnPrepareNextDisk = [&](TZipWriter&, int disk) { prepared.push_back(disk); };
    w.FilesList = files;
    ASSERT_EQ(w.Zip(), 4);
    EXPECT_EQ(w.ZipName(), dir / "blocks.zip");
    EXPECT_EQ(w.MultiZipInfo.SaveOnFirstDisk, 100);  // the reservation served this run only
    const int parts = static_cast<int>(prepared.size()) + 1;
    ASSERT_GT(parts, 6);
    std::string joined;
    for (int n = 1; n <= parts; ++n) {
        std::string name = n == parts
                               ? dir / "blocks.zip"
                               : dir / ("blocks.zip.z" + std::string(n < 10 ? "0" : "") + std::to_string(n));
        ASSERT_TRUE(Exists(name)) << name;
        std::string part = ReadFile(name);
        EXPECT_LE(part.size(), n == 1 ? 5000u : 3000u) << name;
        joined += part;
    }
    EXPECT_EQ(U32(joined, 0), 0x08074B50u);
    EXPECT_TRUE(Exists(dir / "blocks.zfc"));

    // The data of every entry comes back from the parts laid end to end.
    TZipReader r;
    r.SetZipName(dir / "blocks.zip");
    ASSERT_EQ(r.GetCount(), 4);
    for (int i = 0; i < 4; ++i) {
        TZipHeaderInfo& e = r.Entry(i);
        EXPECT_EQ(e.FullName(), "part" + std::to_string(i) + ".txt");
        size_t at = 0;
        for (uint32_t d = 0; d < e.GetDiskNumberStart(); ++d) {
            std::string name =
                dir / ("blocks.zip.z" + std::string(d + 1 < 10 ? "0" : "") + std::to_string(d + 1));
            at += ReadFile(name).size();
        }
        at += e.GetRelativeOffset();
        auto local = LocalEntries(joined.substr(at));
        ASSERT_FALSE(local.empty());
        EXPECT_EQ(Extract(local[0], "pw"), ReadFile(files[static_cast<size_t>(i)]));
    }
}

TEST_F(ZipWriterTest, APackageThatFitsOnePartIsAnOrdinaryArchive) {
    TZipWriter w;
    w.SetZipName(dir / "one.zip");
    w.MultiZipInfo.MultiMode = mmBlocks;
    w.FilesList = {Files()[1]};
    ASSERT_EQ(w.Zip(), 1);
    std::string zip = ReadFile(dir / "one.zip");
    EXPECT_EQ(U32(zip, 0), 0x30304B50u);
    auto local = LocalEntries(zip.substr(4));
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(Extract(local[0], ""), order);
    TZipWriter span;
    span.SetZipName(dir / "span.zip");
    span.MultiZipInfo.MultiMode = mmSpan;
    span.FilesList = {Files()[1]};
    EXPECT_THROW(span.Zip(), EZipException);
    EXPECT_FALSE(Exists(dir / "span.zip"));
}

TEST_F(ZipWriterTest, DisposeDeletesPackedSourcesAndFreshenOnlyRefreshes) {
    WriteFile(dir / "src/keep.txt", "keep");
    TZipWriter w;
    w.SetZipName(dir / "d.zip");
    w.Dispose = true;
    w.OnDisposeFile = [&](TZipWriter&, const std::string& n, bool& skip) { skip = n.ends_with("keep.txt"); };
    w.FilesList = {Files()[1], dir / "src/keep.txt"};
    ASSERT_EQ(w.Zip(), 2);
    EXPECT_FALSE(Exists(Files()[1]));
    EXPECT_TRUE(Exists(dir / "src/keep.txt"));

    // Freshen: a file the archive does not hold is left out; a newer one replaces its entry.
    SetMTime(dir / "src/keep.txt", time(nullptr) + 100);
    WriteFile(dir / "src/keep.txt", "kept, newer");
    SetMTime(dir / "src/keep.txt", time(nullptr) + 100);
    TZipWriter f;
    f.SetZipName(dir / "d.zip");
    f.ZipAction = zaFreshen;
    std::vector<TSkipReason> reasons;
    f.OnSkippingFile = [&](TZipReader&, TSkipReason r, const std::string&, int, bool&) {
        reasons.push_back(r);
    };
    f.FilesList = {dir / "src/keep.txt", Files()[0]};
    EXPECT_EQ(f.Zip(), 1);
    EXPECT_EQ(reasons, std::vector<TSkipReason>{srNoFileToFreshen});
    auto local = LocalEntries(ReadFile(dir / "d.zip"));
    ASSERT_EQ(local.size(), 2u);
    EXPECT_EQ(local[1].name, "keep.txt");
    EXPECT_EQ(Extract(local[1], ""), "kept, newer");
}

// Data that deflate cannot shrink (already compressed) is stored, as other zip tools do, both
// for a file packed in memory and for one streamed in blocks; text of either size is deflated.
TEST_F(ZipWriterTest, DataThatDoesNotShrinkIsStored) {
    std::string noise;
    uint32_t x = 7;
    for (size_t i = 0; i < 3u * 1024 * 1024; ++i) {
        x = x * 1664525u + 1013904223u;
        noise += static_cast<char>(x >> 24);
    }
    struct Case {
        std::string name, data;
        uint16_t method;
    };
    const std::vector<Case> cases = {
        {"small.gz", noise.substr(0, 100000), 0},
        {"large.gz", noise, 0},
        {"tiny.txt", "x", 0},
        {"small.xml", SampleText(100000, 4), 8},
        {"large.xml", SampleText(3u * 1024 * 1024, 5), 8},
    };
    // One thread deflates a file as one stream; several cut a large one into blocks, which
    // costs it a little size.
    for (const auto& [password, threads] :
         std::vector<std::pair<std::string, int>>{{"", 1}, {"pw", 1}, {"", 4}, {"pw", 4}}) {
        std::vector<std::string> files;
        for (const Case& c : cases) {
            WriteFile(dir / c.name, c.data);
            files.push_back(dir / c.name);
        }
        std::filesystem::remove(dir / "n.zip");
        TZipWriter w;
        w.SetZipName(dir / "n.zip");
        w.Password = password;
        w.PackThreads = threads;
        w.FilesList = files;
        ASSERT_EQ(w.Zip(), static_cast<int>(cases.size()));
        const std::string zip = ReadFile(dir / "n.zip");
        const auto central = CentralEntries(zip);
        ASSERT_EQ(central.size(), cases.size());
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].name + (password.empty() ? "" : " with password") +
                         (threads == 1 ? ", one thread" : ", threads"));
            const Case& c = cases[i];
            EXPECT_EQ(central[i].method, c.method);
            EXPECT_EQ(central[i].flags & 6, 0);
            EXPECT_EQ(central[i].crc, crc32(0, reinterpret_cast<const Bytef*>(c.data.data()),
                                            static_cast<uInt>(c.data.size())));
            EXPECT_EQ(central[i].uncompressed, c.data.size());
            const size_t header = password.empty() ? 0 : 12;
            if (c.method == 0) {
                EXPECT_EQ(central[i].compressed, c.data.size() + header);
                if (password.empty()) {
                    const size_t at = central[i].offset + 30 + U16(zip, central[i].offset + 26);
                    EXPECT_EQ(zip.substr(at, c.data.size()), c.data);
                }
            } else if (threads == 1 || c.data.size() <= 1024 * 1024) {
                EXPECT_EQ(central[i].compressed, RawDeflatedSize(c.data, 6) + header);
            } else {
                const size_t one = RawDeflatedSize(c.data, 6);
                EXPECT_GT(central[i].compressed, one + header);
                EXPECT_LE(central[i].compressed, one + one / 100 + header);
            }
        }
    }
}

// Several files are read and deflated ahead on other threads, large ones too; each entry must
// come out exactly as when its file is packed alone on the writer's thread, in list order.
TEST_F(ZipWriterTest, FilesPackedAheadEqualFilesPackedAlone) {
    std::string noise;
    uint32_t x = 11;
    for (size_t i = 0; i < 2u * 1024 * 1024 + 5; ++i) {
        x = x * 1664525u + 1013904223u;
        noise += static_cast<char>(x >> 24);
    }
    // Its first 16 KiB shrink a little (a repeat), the whole does not.
    std::string lateNoise = noise.substr(1000, 16384) + noise;
    lateNoise.replace(8000, 300, lateNoise.substr(0, 300));
    struct Input {
        std::string name, content;
        uint16_t method;
    };
    const std::vector<Input> inputs = {
        {"big.xml", SampleText(3u * 1024 * 1024 + 17, 7), 8},
        {"small.xml", SampleText(5000, 8), 8},
        {"noise.bin", noise, 0},
        {"empty.txt", "", 0},
        {"mid.xml", SampleText(1024 * 1024 + 1, 9), 8},
        {"late.bin", lateNoise, 8},                         // deflated, as when streamed
        {"asked.gz", SampleText(2u * 1024 * 1024, 10), 0},  // on the no-compression list
    };
    std::vector<std::string> files;
    for (const Input& in : inputs) {
        WriteFile(dir / in.name, in.content);
        SetMTime(dir / in.name, 1704110400);
        files.push_back(dir / in.name);
    }
    for (const std::string& password : {std::string(), std::string("KEB_LO_SUM")}) {
        SCOPED_TRACE(password.empty() ? "no password" : "password");
        std::filesystem::remove(dir / "all.zip");
        FixedRandomWriter all;
        all.SetZipName(dir / "all.zip");
        all.Password = password;
        all.NoCompressList = {"*.gz"};
        all.FilesList = files;
        std::vector<std::string> ended;
        all.OnEndZip = [&](TZipWriter&, const std::string& name, int64_t, int64_t, int64_t) {
            ended.push_back(name);
        };
        ASSERT_EQ(all.Zip(), static_cast<int>(files.size()));
        EXPECT_EQ(ended, files);
        const auto together = LocalEntries(ReadFile(dir / "all.zip"));
        ASSERT_EQ(together.size(), files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(inputs[i].name);
            std::filesystem::remove(dir / "one.zip");
            FixedRandomWriter one;
            one.SetZipName(dir / "one.zip");
            one.Password = password;
            one.NoCompressList = {"*.gz"};
            one.FilesList = {files[i]};
            ASSERT_EQ(one.Zip(), 1);
            const auto alone = LocalEntries(ReadFile(dir / "one.zip"));
            ASSERT_EQ(alone.size(), 1u);
            EXPECT_EQ(together[i].header, alone[0].header);
            EXPECT_EQ(together[i].name, alone[0].name);
            EXPECT_TRUE(together[i].data == alone[0].data);
            EXPECT_EQ(Extract(together[i], password), inputs[i].content);
            EXPECT_EQ(together[i].method, inputs[i].method);
        }
    }
}
