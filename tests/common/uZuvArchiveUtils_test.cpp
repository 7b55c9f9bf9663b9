#include "common/uZuvArchiveUtils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/rtl/Exceptions.h"
#include "zip/ZipReader.h"

namespace {

class ArchiveUtilsTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        std::string templ = (std::filesystem::temp_directory_path() / "archutilXXXXXX").string();
        dir = ::mkdtemp(templ.data());
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Touch(const std::string& name, const std::string& data = "x") {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    bool Exists(const std::string& name) { return std::filesystem::exists(dir + "/" + name); }
};

}  // namespace

TEST_F(ArchiveUtilsTest, UniqueNames) {
    std::string out;
    svc::MakeUniqueFileName(dir + "/free.zip", out);
    EXPECT_EQ(out, dir + "/free.zip");
    Touch("pkg.zip");
    Touch("pkg1.zip");
    svc::MakeUniqueFileName(dir + "/pkg.zip", out);
    EXPECT_EQ(out, dir + "/pkg2.zip");
    Touch("noext");
    svc::MakeUniqueFileName(dir + "/noext", out);
    EXPECT_EQ(out, dir + "/noext1");
    std::filesystem::create_directories(dir + "/my.folder");
    Touch("my.folder/name");
    svc::MakeUniqueFileName(dir + "/my.folder/name", out);
    EXPECT_EQ(out, dir + "/my.folder/name1");
    std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir);
    svc::MakeUniqueFileName("pkg.zip", out);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(out, "pkg2.zip");
}

TEST_F(ArchiveUtilsTest, AllThousandVariantsTakenRaisesTheSystemsText) {
    Touch("f.dat");
    for (int n = 1; n <= 1000; ++n) Touch("f" + std::to_string(n) + ".dat");
    std::string out;
    try {
        svc::MakeUniqueFileName(dir + "/f.dat", out);
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "\xC2 \xEF\xE0\xEF\xEA\xE5 " + dir +
                                   "''\xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2\xF1\xFF \xE1\xEE\xEB\xFC\xF8\xEE\xE5 "
                                   "\xEA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE \xF4\xE0\xE9\xEB\xEE\xE2!");
    }
}

TEST_F(ArchiveUtilsTest, PacksThePackageUnderItsDataFilesName) {
    std::filesystem::create_directories(dir + "/out");
    std::string data = Touch("ZuvQelExport_0000701_20240101120000123.xml", std::string(5000, 'd'));
    std::string order = Touch("XmlOrderList.xml", "order");
    std::ofstream(dir + "/out/ZuvQelExport_0000701_20240101120000123.zip") << "taken";
    std::string archive;
    svc::ZipFiles({data, order}, dir + "/out", "KEB_LO_SUM", archive);
    EXPECT_EQ(archive, dir +
                           "/out/ZuvQelExport_0000701_20240101120000123"
                           "1.zip");
    zip::TZipReader r;
    r.SetZipName(archive);
    ASSERT_EQ(r.GetCount(), 2);
    EXPECT_EQ(r.FullName(0), "ZuvQelExport_0000701_20240101120000123.xml");
    EXPECT_EQ(r.FullName(1), "XmlOrderList.xml");
    EXPECT_TRUE(r.Entry(0).Encrypted());
}

TEST_F(ArchiveUtilsTest, AMissingFileFailsThePackageAndLeavesNoArchive) {
    std::string data = Touch("data.xml", "d");
    std::string archive = "stale";
    try {
        svc::ZipFiles({data, dir + "/XmlOrderList.xml"}, dir, "pw", archive);
        ADD_FAILURE();
    } catch (const zip::EZipException& e) {
        EXPECT_NE(e.Message().find(dir + "/XmlOrderList.xml"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(archive, "");
    EXPECT_FALSE(Exists("data.zip"));
    try {
        svc::ZipFiles({dir + "/none.xml"}, dir, "pw", archive);
        ADD_FAILURE();
    } catch (const zip::EZipException&) {
    }
    EXPECT_FALSE(Exists("none.zip"));
}

TEST_F(ArchiveUtilsTest, FilesWhoseNamesDifferOnlyInCaseAreBothPacked) {
    std::string upper = Touch("Data.xml", "upper");
    std::string lower = Touch("data.xml", "lower");
    std::string archive;
    svc::ZipFiles({upper, lower}, dir, "pw", archive);
    zip::TZipReader r;
    r.SetZipName(archive);
    ASSERT_EQ(r.GetCount(), 2);
    EXPECT_EQ(r.FullName(0), "Data.xml");
    EXPECT_EQ(r.FullName(1), "data.xml");
}
