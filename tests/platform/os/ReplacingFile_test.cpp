// A file replaced piece by piece: the target changes only at the commit, and a dropped or
// failed replacement leaves neither a changed target nor a temporary behind.
#include "platform/os/ReplacingFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Folder {
    std::string path;
    Folder() {
        std::string templ = (fs::temp_directory_path() / "replacingXXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
        return names;
    }
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(ReplacingFile, PiecesAppearWholeOnlyAtTheCommit) {
    struct Case {
        const char* name;
        bool existing;
        bool flush;
    } cases[] = {
        {"new, flushed", false, true}, {"new, not flushed", false, false}, {"replacing", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder folder;
        const std::string target = folder.path + "/data.xml";
        if (c.existing) {
            Write(target, "old");
            ::chmod(target.c_str(), 0600);
        }
        os::TReplacingFile file;
        ASSERT_EQ(file.Open(target), 0);
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Path(), target);
        for (const char* piece : {"<a>", "", "text", "</a>"}) ASSERT_EQ(file.Write(piece), 0);
        // Before the commit the target is as it was; the pieces wait in a temporary beside it.
        EXPECT_EQ(Read(target), c.existing ? "old" : "");
        EXPECT_EQ(folder.Names().size(), c.existing ? 2u : 1u);
        ASSERT_EQ(file.Commit(c.flush), 0);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(Read(target), "<a>text</a>");
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"data.xml"});
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        if (c.existing) {
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
        EXPECT_EQ(file.Commit(), EBADF);  // once only
    }
}

TEST(ReplacingFile, ADroppedOrFailedReplacementLeavesNothing) {
    Folder folder;
    const std::string target = folder.path + "/data.xml";
    Write(target, "old");
    {
        os::TReplacingFile file;
        ASSERT_EQ(file.Open(target), 0);
        ASSERT_EQ(file.Write("new"), 0);
    }
    EXPECT_EQ(Read(target), "old");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"data.xml"});

    os::TReplacingFile file;
    ASSERT_EQ(file.Open(target), 0);
    file.Abandon();
    EXPECT_EQ(file.Write("x"), EBADF);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"data.xml"});

    EXPECT_EQ(file.Open(folder.path + "/missing/data.xml"), ENOENT);
    EXPECT_FALSE(file.IsOpen());
    // A target that is a folder: the rename fails and the temporary goes.
    fs::create_directories(folder.path + "/dir/inner");
    ASSERT_EQ(file.Open(folder.path + "/dir"), 0);
    ASSERT_EQ(file.Write("x"), 0);
    EXPECT_NE(file.Commit(), 0);
    EXPECT_EQ(folder.Names().size(), 2u);  // data.xml and dir
    EXPECT_TRUE(fs::is_directory(folder.path + "/dir/inner"));
}
