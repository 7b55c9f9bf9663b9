// The extraction engine against archives made by Info-ZIP zip and by Python's zipfile:
// it must produce the same tree as Info-ZIP unzip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

TEST_F(UnZipInterop, SevenZipAndBsdtarArchives) {
    struct Case {
        const char* what;
        std::string command;
        const char* password;
    };
    const Case cases[] = {
        {"7z deflated", "7z a -tzip -bd -mx=5 ARCHIVE .", ""},
        {"7z stored", "7z a -tzip -bd -mx=0 ARCHIVE .", ""},
        {"7z encrypted", "7z a -tzip -bd -mem=ZipCrypto -psecret ARCHIVE .", "secret"},
        {"bsdtar deflated", "bsdtar --format zip -cf ARCHIVE .", ""},
        {"bsdtar encrypted",
         "bsdtar --format zip --options zip:encryption=traditional --passphrase secret -cf ARCHIVE .",
         "secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string archive = root + "/t.zip";
        fs::remove(archive);
        std::string command = c.command;
        command.replace(command.find("ARCHIVE"), 7, archive);
        ASSERT_EQ(Shell("cd " + src + " && " + command), 0);
        Compare(archive, c.password);
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

TEST_F(UnZipInterop, HostileArchivesAreRefusedLikeInfoZip) {
    // Overlapping entries, as in the zip bombs that share one compressed kernel: Info-ZIP
    // unzip stops with its overlap error (exit code 12), the engine refuses before writing.
    const std::string bombScript =
        "import struct,zlib,sys\n"
        "def lh(n,c,s): return struct.pack('<IHHHIIIIHH',0x04034b50,20,0,0,0,c,s,s,len(n),0)+n\n"
        "def ch(n,c,s,o): return "
        "struct.pack('<IHHHHIIIIHHHHHII',0x02014b50,20,20,0,0,0,c,s,s,len(n),0,0,0,0,32,o)+n\n"
        "names=[b'f%d.txt'%i for i in range(3)]\n"
        "share=sys.argv[2]=='share'\n"
        "heads=[None]*3; tail=b'A'*1000\n"
        "for i in reversed(range(3)):\n"
        "  heads[i]=lh(names[i],zlib.crc32(tail),len(tail)); tail=heads[i]+tail\n"
        "offs=[sum(len(h) for h in heads[:i]) for i in range(3)]\n"
        "cd=b''\n"
        "for i in range(3):\n"
        "  o=0 if share else offs[i]; d=tail[o+len(heads[i]):]\n"
        "  cd+=ch(names[i] if not share else names[0],zlib.crc32(d),len(d),o)\n"
        "end=struct.pack('<IHHHHIIH',0x06054b50,0,0,3,3,len(cd),len(tail),0)\n"
        "open(sys.argv[1],'wb').write(tail+cd+end)\n";
    ziptest::WriteBytes(root + "/bomb.py", bombScript);
    for (const char* kind : {"overlap", "share"}) {
        SCOPED_TRACE(kind);
        const std::string bomb = root + "/bomb.zip", ref = root + "/ref", out = root + "/out";
        ASSERT_EQ(Shell("python3 " + root + "/bomb.py " + bomb + " " + kind), 0);
        EXPECT_EQ(Shell("unzip -o " + bomb + " -d " + ref), 12);
        EXPECT_FALSE(UnZipArchive(bomb, out, ""));
        EXPECT_TRUE(Tree(out).empty());
        fs::remove_all(ref);
    }

    // A package cut short and given its end record again, or whose directory points beside
    // a local header: unzip reports an error, the engine refuses the whole archive.
    const std::string archive = root + "/a.zip";
    ASSERT_EQ(Shell("cd " + src + " && zip -q -r " + archive + " ."), 0);
    const ziptest::TZipLayout z(ziptest::ReadBytes(archive));
    ASSERT_GE(z.central.size(), 4u);
    std::vector<std::pair<std::string, std::string>> damaged;
    for (size_t cut = 0; cut < z.end; cut += z.end / 11 + 1)
        damaged.emplace_back("cut at " + std::to_string(cut), z.bytes.substr(0, cut) + z.EndRecord());
    ziptest::TZipLayout moved = z;
    const size_t at = moved.central[2] + ziptest::TZipLayout::kLocalOffset;
    moved.Put32(at, moved.Get32(at) + 1);
    damaged.emplace_back("local header moved", moved.bytes);
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        const std::string name = root + "/bad.zip", ref = root + "/ref", out = root + "/out";
        ziptest::WriteBytes(name, bytes);
        EXPECT_NE(Shell("unzip -o " + name + " -d " + ref), 0);
        EXPECT_FALSE(UnZipArchive(name, out, ""));
        EXPECT_TRUE(Tree(out).empty());
        fs::remove_all(ref);
    }
}

}  // namespace
