// A temporary folder with an archive name and a destination below it, for the extraction
// engine's tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "import_service/ZipReaderUnZip.h"
#include "tests/import_service/ZipBuild.h"

namespace ziptest {

inline const std::string kText = "Some package text, some package text, some package text.\r\n";

// The message of the E that the run raises; a failure and "" when it raises nothing.
template <typename E>
std::string UnZipError(svc::TUnZipReader& r) {
    try {
        r.UnZip();
    } catch (const E& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no exception";
    return std::string();
}

class UnZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (std::filesystem::temp_directory_path() / "unzipXXXXXX").string();
        root = ::mkdtemp(templ.data());
        archive = root + "/pkg.zip";
        dest = root + "/out";
    }
    void TearDown() override {
        for (auto& p : std::filesystem::recursive_directory_iterator(root))
            std::filesystem::permissions(p.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add);
        std::filesystem::remove_all(root);
    }
    void Make(const std::vector<TEntrySpec>& entries) { WriteBytes(archive, BuildZip(entries)); }
    // Regular files below the destination, as paths relative to it.
    std::vector<std::string> Files() const {
        std::vector<std::string> r;
        if (!std::filesystem::exists(dest)) return r;
        for (auto& p : std::filesystem::recursive_directory_iterator(dest))
            if (p.is_regular_file()) r.push_back(std::filesystem::relative(p.path(), dest).string());
        std::sort(r.begin(), r.end());
        return r;
    }
    void Open(svc::TUnZipReader& r) {
        r.SetZipName(archive);
        r.SetDestDir(dest);
        r.DoAll = true;
        r.RecreateDirs = true;
        r.OverwriteMode = zip::Always;
    }

    std::string root, archive, dest;
};

}  // namespace ziptest
