#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include "tests/zip/ZipTestUtil.h"
#include "zip/ZipWriter.h"

using namespace zip;
using namespace ziptest;

namespace {

class ZipReaderTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string archive;
    void SetUp() override {
        WriteFile(dir / "b_second.txt", SampleText(3000, 3));
        WriteFile(dir / "A_first.txt", SampleText(5000, 4));
        WriteFile(dir / "c.txt", "c");
        SetMTime(dir / "b_second.txt", 1700000000);
        SetMTime(dir / "A_first.txt", 1600000000);
        archive = dir / "r.zip";
        TZipWriter w;
        w.SetZipName(archive);
        w.FilesList = {dir / "b_second.txt", dir / "A_first.txt", dir / "c.txt"};
        ASSERT_EQ(w.Zip(), 3);
    }
};

std::vector<std::string> Names(TZipReader& r) {
    std::vector<std::string> v;
    for (int i = 0; i < r.GetCount(); ++i) v.push_back(r.FullName(i));
    return v;
}

}  // namespace

TEST_F(ZipReaderTest, ListsInPhysicalOrderAndByName) {
    TZipReader r;
    r.SetZipName(archive);
    EXPECT_EQ(Names(r), (std::vector<std::string>{"b_second.txt", "A_first.txt", "c.txt"}));
    EXPECT_EQ(r.Damage(), adNone);
    r.SortFiles(ByName);
    EXPECT_EQ(Names(r), (std::vector<std::string>{"A_first.txt", "b_second.txt", "c.txt"}));
    r.SortFiles(ByDate);
    EXPECT_EQ(r.FullName(0), "c.txt");
    EXPECT_EQ(r.Entry(0).CompressionMethod, 0);  // one byte does not shrink: stored
    rtl::TDateTime when = r.GetDateTime(1);
    EXPECT_NEAR(when, FileDateTime(dir / "b_second.txt"), 1.0 / 86400 * 2);
}

TEST_F(ZipReaderTest, IndexOutOfRangeNamesTheIndex) {
    TZipReader r;
    r.SetZipName(archive);
    for (int index : {-1, 3}) {
        try {
            r.GetDateTime(index);
            ADD_FAILURE();
        } catch (const rtl::EListError& e) {
            EXPECT_EQ(e.Message(), "Index " + std::to_string(index) + " is out of range");
        }
    }
}

TEST_F(ZipReaderTest, SameNameKeepsTheDirectoryAChangedFileIsReRead) {
    TZipReader r;
    r.SetZipName(archive);
    ASSERT_EQ(r.GetCount(), 3);
    TSortedZip* loaded = r.Directory();
    std::string upper = archive;
    upper.replace(upper.size() - 5, 5, "R.ZIP");
    r.SetZipName(upper);
    EXPECT_EQ(r.Directory(), loaded);
    EXPECT_EQ(r.ZipName(), archive);

    r.OpenZipFile();
    {
        TZipWriter w;
        w.SetZipName(dir / "other.zip");
        w.FilesList = {dir / "c.txt"};
        ASSERT_EQ(w.Zip(), 1);
    }
    std::filesystem::copy_file(dir / "other.zip", archive, std::filesystem::copy_options::overwrite_existing);
    r.CloseZipFile();
    r.OpenZipFile();
    EXPECT_EQ(r.GetCount(), 1);
}

TEST_F(ZipReaderTest, EmptyFileIsAnEmptyArchive) {
    WriteFile(dir / "empty.zip", "");
    TZipReader r;
    r.SetZipName(dir / "empty.zip");
    EXPECT_EQ(r.GetCount(), 0);
}

TEST_F(ZipReaderTest, MissingEndRecordByIncompleteMode) {
    std::string zip = ReadFile(archive);
    size_t central = zip.find(std::string("PK\x01\x02", 4));
    WriteFile(dir / "cut.zip", zip.substr(0, central));
    WriteFile(dir / "garbage.zip", std::string(5000, 'g'));
    struct Case {
        std::string file;
        TIncompleteZipMode mode;
        std::string error;  // empty: opens
    } cases[] = {
        {"cut.zip", izAssumeMulti, "EIncompleteZip"},
        {"cut.zip", izAssumeNotAZip, "ENotAZipFile"},
        {"cut.zip", izAssumeBad, ""},
        {"garbage.zip", izAssumeBad, "EBadZipFile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.mode));
        TZipReader r;
        r.IncompleteZipMode = c.mode;
        r.SetZipName(dir / c.file);
        try {
            int n = r.GetCount();
            EXPECT_EQ(c.error, "");
            EXPECT_EQ(n, 3);
            EXPECT_TRUE(r.Rebuilt());
            EXPECT_EQ(r.Damage(), adRebuilt);
            EXPECT_EQ(r.FullName(2), "c.txt");
        } catch (const EZipException& e) {
            EXPECT_EQ(e.ClassName(), c.error);
            EXPECT_EQ(e.Message(),
                      c.error == "EIncompleteZip" ? "Incomplete Zip File" : "Not a valid zip file!");
        }
    }
    TZipReader r;
    bool asked = false;
    r.OnInCompleteZip = [&](TZipReader&, TIncompleteZipMode& mode) {
        asked = true;
        mode = izAssumeBad;
    };
    r.SetZipName(dir / "cut.zip");
    EXPECT_EQ(r.GetCount(), 3);
    EXPECT_TRUE(asked);
}

TEST_F(ZipReaderTest, PredecessorClaimingAMissingExtraFieldIsTolerated) {
    std::string zip = ReadFile(archive);
    size_t central = zip.find(std::string("PK\x01\x02", 4));
    zip[central + 30] = 7;  // first central header claims 7 extra bytes
    WriteFile(dir / "claim.zip", zip);
    TZipReader r;
    r.SetZipName(dir / "claim.zip");
    EXPECT_EQ(Names(r), (std::vector<std::string>{"b_second.txt", "A_first.txt", "c.txt"}));
    EXPECT_FALSE(r.Rebuilt());
    EXPECT_EQ(r.Damage(), adNone);
}

TEST_F(ZipReaderTest, CommentsAreWrittenAndReadBack) {
    TZipWriter w;
    w.SetZipName(archive);
    w.SetZipComment("archive note");
    ASSERT_EQ(w.GetCount(), 3);
    w.SetFileComment(1, "entry note");
    w.FilesList = {dir / "c.txt"};  // equal date: the entry is kept
    EXPECT_EQ(w.Zip(), 0);
    TZipReader r;
    r.SetZipName(archive);
    EXPECT_EQ(r.GetZipComment(), "archive note");
    EXPECT_EQ(r.GetFileComment(1), "entry note");
    EXPECT_EQ(r.GetFileComment(0), "");
    EXPECT_EQ(r.Damage(), adNone);
}

TEST_F(ZipReaderTest, DirectoryThatDisagreesWithItsEndRecordIsReported) {
    // Lists as before, but says what is wrong, so that an extraction can refuse it.
    const std::string zip = ReadFile(archive);
    const size_t end = zip.size() - 22;
    auto withEnd = [&](size_t at, uint16_t value) {
        std::string z = zip;
        z[end + at] = static_cast<char>(value);
        z[end + at + 1] = static_cast<char>(value >> 8);
        return z;
    };
    struct Case {
        const char* what;
        std::string bytes;
        TArchiveDamage damage;
        int count;
    } cases[] = {
        {"entries on this disk differ from the total", withEnd(8, 2), adEntryCount, 3},
        {"fewer entries than the directory holds", withEnd(10, 2), adEntryCount, 2},
        {"directory size off", withEnd(12, static_cast<uint16_t>(zip[end + 12] + 1)), adDirectorySize, 3},
        {"bytes before the end record", zip.substr(0, end) + "xx" + zip.substr(end), adDirectoryPlace, 3},
        // The last name is then read from the end record's bytes.
        {"directory cut, end record appended", zip.substr(0, end - 3) + zip.substr(end), adDirectoryPlace, 3},
        {"directory cut in a header, end record appended", zip.substr(0, end - 40) + zip.substr(end),
         adRebuilt, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "bad.zip", c.bytes);
        TZipReader r;
        r.SetZipName(dir / "bad.zip");
        EXPECT_EQ(r.GetCount(), c.count);
        EXPECT_EQ(r.Damage(), c.damage);
        r.SetZipName(archive);
        EXPECT_EQ(r.GetCount(), 3);
        EXPECT_EQ(r.Damage(), adNone);
    }
}

TEST_F(ZipReaderTest, NoPromptEverWaits) {
    TZipReader r;
    EXPECT_EQ(r.DoHandleMessage(IDS_INSERTDISK, "Insert", "Disk", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(r.DoHandleMessage(IDS_SHORTREAD, "Short", "file", MB_OK), IDOK);
    EXPECT_THROW(r.SetZipName("pick?"), EUserCanceled);
    EXPECT_THROW(r.SetDestDir("?"), EUserCanceled);
    r.CancelRequest = true;
    try {
        r.CheckCancelAndPause();
        ADD_FAILURE();
    } catch (const EUserCanceled& e) {
        EXPECT_EQ(e.Message(), "User Aborted Operation");
    }
    EXPECT_FALSE(r.CancelRequest);
}

TEST(ZipReaderParts, PartNames) {
    TZipReader r;
    struct Case {
        TBlockMode mode;
        int number;
        TSplitPartType type;
        std::string name;
    } cases[] = {
        {bmClassic, 3, spMiddle, "stem.003"},
        {bmStandard, 1, spFirst, "stem.zip.z01"},
        {bmStandard, 4, spLast, "stem.zip"},
    };
    for (const auto& c : cases) {
        r.BlockMode = c.mode;
        std::string name = "stem";
        r.PartFileName(name, c.number, c.type);
        EXPECT_EQ(name, c.name);
    }
}

TEST(ZipComponent, OwnerFreesItAndAssignCopiesSettings) {
    rtl::TComponent owner;
    auto* source = new TZipWriter(&owner);
    source->Password = "pw";
    source->PackLevel = 9;
    source->SetStorePaths(true);
    source->OEMConvert = oemFlexible;
    source->ExcludeList = {"*.tmp"};
    bool fired = false;
    source->OnNoSuchFile = [&](TZipWriter&, const std::string&) { fired = true; };
    EXPECT_EQ(owner.ComponentCount(), 1);
    TZipWriter copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Password, "pw");
    EXPECT_EQ(copy.PackLevel, 9);
    EXPECT_TRUE(copy.StorePaths());
    EXPECT_EQ(copy.OEMConvert, oemFlexible);
    EXPECT_EQ(copy.ExcludeList, std::vector<std::string>{"*.tmp"});
    ASSERT_TRUE(copy.OnNoSuchFile);
    copy.OnNoSuchFile(copy, "x");
    EXPECT_TRUE(fired);
    rtl::TComponent stranger;
    EXPECT_THROW(copy.Assign(&stranger), rtl::EConvertError);

    TZipHeaderInfo a, b;
    a.SetFileName("f.txt");
    a.SetUncompressedSize(0x100000000ull);
    a.SetFileComment("c");
    a.OEMConvert = oemAlways;
    b.Assign(static_cast<rtl::TPersistent*>(&a));
    EXPECT_EQ(b.FileName(), "f.txt");
    EXPECT_EQ(b.GetUncompressedSize(), 0x100000000ull);
    EXPECT_EQ(b.FileComment(), "c");
    EXPECT_EQ(b.OEMConvert, oemNever);  // the mode is not copied
}
