// The extraction engine reads back what the writer deflates on several threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import_service/ZipReaderUnZip.h"
#include "tests/import_service/ZipBuild.h"
#include "zip/ZipWriter.h"

namespace fs = std::filesystem;

namespace {

std::string Text(size_t size, unsigned seed) {
    std::string s;
    while (s.size() < size) {
        seed = seed * 1103515245u + 12345u;
        s += "<Trn Id=\"" + std::to_string(seed % 100000) + "\" Sum=\"" + std::to_string((seed >> 7) % 9999) +
             ".00\"/>\r\n";
    }
    s.resize(size);
    return s;
}

}  // namespace

// A package of a large data file and an order list, made with one and with several threads,
// with and without a password: the engine extracts every byte and checks every CRC.
TEST(ZipWriterParallel, TheEngineExtractsLargeEntriesMadeOnSeveralThreads) {
    std::string templ = (fs::temp_directory_path() / "zipparXXXXXX").string();
    const std::string root = ::mkdtemp(templ.data());
    struct File {
        std::string name, content;
    };
    const std::vector<File> files = {
        {"ZuvQelExport_0000701_20240101120000123.xml", Text(6 * 1024 * 1024 + 333, 1)},
        {"XmlOrderList.xml", Text(700, 2)},
        {"exact.xml", Text(5 * 256 * 1024, 3)},
    };
    std::vector<std::string> paths;
    for (const File& f : files) {
        ziptest::WriteBytes(root + "/" + f.name, f.content);
        paths.push_back(root + "/" + f.name);
    }
    for (int threads : {1, 3}) {
        for (const std::string password : {"", "KEB_LO_SUM"}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, password '" + password + "'");
            const std::string archive = root + "/p" + std::to_string(threads) + password + ".zip";
            zip::TZipWriter w;
            w.SetZipName(archive);
            w.Password = password;
            w.PackThreads = threads;
            w.FilesList = paths;
            ASSERT_EQ(w.Zip(), static_cast<int>(paths.size()));
            const std::string out = archive + ".out";
            ASSERT_TRUE(svc::UnZipArchive(archive, out, password));
            for (const File& f : files)
                EXPECT_TRUE(ziptest::ReadBytes(out + "/" + f.name) == f.content) << f.name;
            if (!password.empty()) {
                EXPECT_FALSE(svc::UnZipArchive(archive, root + "/wrong", "wrong"));
            }
        }
    }
    fs::remove_all(root);
}
