// The extraction engine against archives made by Info-ZIP zip and by Python's zipfile:
// it must produce the same tree as Info-ZIP unzip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "import_service/ZipReaderUnZip.h"
#include "tests/import_service/ZipBuild.h"

using namespace svc;
namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) {
    int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Relative path -> content ("/" for a folder).
std::map<std::string, std::string> Tree(const std::string& dir) {
    std::map<std::string, std::string> r;
    if (!fs::exists(dir)) return r;
    for (auto& p : fs::recursive_directory_iterator(dir)) {
        std::string rel = fs::relative(p.path(), dir).string();
        r[rel] = p.is_directory() ? "/" : ziptest::ReadBytes(p.path().string());
    }
    return r;
}

class UnZipInterop : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "unzipitXXXXXX").string();
        root = ::mkdtemp(templ.data());
        src = root + "/src";
        fs::create_directories(src + "/docs/deep");
        fs::create_directories(src + "/emptydir");
        std::mt19937 rng(7);
        std::string binary(300000, '\0');
        for (auto& c : binary) c = static_cast<char>(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);
        ziptest::WriteBytes(src + "/data.bin", binary);
        ziptest::WriteBytes(src + "/empty.txt", "");
        std::string text;
        for (int i = 0; i < 5000; ++i) text += "<row id=\"" + std::to_string(i) + "\">value</row>\r\n";
        ziptest::WriteBytes(src + "/docs/package.xml", text);
        ziptest::WriteBytes(src + "/docs/deep/note.txt", "note");
    }
    void TearDown() override { fs::remove_all(root); }

    // Extracts with unzip and with the engine and compares the trees.
    void Compare(const std::string& archive, const std::string& password) {
        const std::string ref = root + "/ref", out = root + "/out";
        fs::remove_all(ref);
        fs::remove_all(out);
        ASSERT_EQ(
            Shell("unzip -q -o " + (password.empty() ? "" : "-P " + password + " ") + archive + " -d " + ref),
            0);
        EXPECT_TRUE(UnZipArchive(archive, out, password));
        auto expected = Tree(ref);
        ASSERT_GE(expected.size(), 4u);
        EXPECT_EQ(Tree(out), expected);
    }

    std::string root, src;
};

TEST_F(UnZipInterop, InfoZipArchives) {
    struct Case {
        const char* what;
        const char* options;
        const char* password;
    };
    const Case cases[] = {
        {"stored", "-0", ""},
        {"deflated", "-9", ""},
        {"encrypted, data descriptors", "-P secret", "secret"},
        {"encrypted stored", "-0 -P secret", "secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string archive = root + "/a.zip";
        fs::remove(archive);
        ASSERT_EQ(Shell("cd " + src + " && zip -q -r " + c.options + " " + archive + " ."), 0);
        Compare(archive, c.password);
        if (*c.password) {
            const std::string out = root + "/wrong";
            EXPECT_FALSE(UnZipArchive(archive, out, "Secret"));
            EXPECT_TRUE(Tree(out).empty() || Tree(out).size() == 3u);  // only folders may be there
            for (const auto& [name, content] : Tree(out)) EXPECT_EQ(content, "/") << name;
            fs::remove_all(out);
        }
    }
}

TEST_F(UnZipInterop, PythonZipfileArchives) {
    for (const char* method : {"ZIP_STORED", "ZIP_DEFLATED"}) {
        SCOPED_TRACE(method);
        const std::string archive = root + "/p.zip";
        const std::string script =
            "import zipfile,os,sys\n"
            "src,dst=sys.argv[1],sys.argv[2]\n"
            "with zipfile.ZipFile(dst,'w',zipfile." +
            std::string(method) +
            ") as z:\n"
            "  z.writestr('extra/',b'')\n"
            "  for d,_,fs in os.walk(src):\n"
            "    for f in fs:\n"
            "      p=os.path.join(d,f); z.write(p,os.path.relpath(p,src))\n";
        ziptest::WriteBytes(root + "/mk.py", script);
        ASSERT_EQ(Shell("python3 " + root + "/mk.py " + src + " " + archive), 0);
        Compare(archive, "");
    }
}

TEST_F(UnZipInterop, TruncatedAndDamagedInfoZipArchives) {
    const std::string archive = root + "/a.zip";
    ASSERT_EQ(Shell("cd " + src + " && zip -q -r -P secret " + archive + " ."), 0);
    const std::string bytes = ziptest::ReadBytes(archive);
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string damaged = bytes;
    for (size_t i = 2000; i < 2100; ++i) damaged[i] = static_cast<char>(~damaged[i]);
    const Case cases[] = {
        {"cut before the end record", bytes.substr(0, bytes.size() - 10)},
        {"cut in half", bytes.substr(0, bytes.size() / 2)},
        {"damaged data", damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = root + "/bad.zip", out = root + "/bad";
        ziptest::WriteBytes(name, c.bytes);
        EXPECT_FALSE(UnZipArchive(name, out, "secret"));
        fs::remove_all(out);
    }
}

}  // namespace
