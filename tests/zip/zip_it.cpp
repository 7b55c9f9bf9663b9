// Checks against the outside world: Info-ZIP and Python read what the writer makes, and the
// reader lists what they make.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "tests/zip/ZipFixture.h"
#include "tests/zip/ZipTestUtil.h"
#include "zip/ZipWriter.h"

using namespace zip;
using namespace ziptest;

namespace {

struct Output {
    int status;
    std::string text;
};

Output Capture(const std::string& command) {
    Output out{-1, {}};
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.text.append(buf.data(), n);
    out.status = ::pclose(p);
    return out;
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// Runs a Python script with arguments.
Output Python(const TempDir& dir, const std::string& script, const std::string& args) {
    std::string file = dir / "script.py";
    WriteFile(file, script);
    // The system's interpreter starts quickly; a wrapper on the path may not.
    std::string python = Exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    return Capture(python + " " + Quote(file) + " " + args);
}

class ZipToolsTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string data = SampleText(60000, 7);
    std::string order = SampleText(900, 8);
    std::string dataName = "ZuvQelExport_0000701_20240101120000123.xml";
    void SetUp() override {
        WriteFile(dir / dataName, data);
        WriteFile(dir / "XmlOrderList.xml", order);
        WriteFile(dir / "empty.txt", "");
    }
    std::string Write(const std::string& name, int level, const std::string& password,
                      std::vector<std::string> files = {}) {
        if (files.empty()) files = {dir / dataName, dir / "XmlOrderList.xml", dir / "empty.txt"};
        TZipWriter w;
        w.SetZipName(dir / name);
        w.PackLevel = level;
        w.Password = password;
        w.FilesList = files;
        EXPECT_EQ(w.Zip(), static_cast<int>(files.size()));
        return dir / name;
    }
};

}  // namespace

TEST_F(ZipToolsTest, InfoZipTestsAndPythonExtractsEveryVariant) {
    struct Case {
        int level;
        std::string password;
    } cases[] = {{6, "KEB_LO_SUM"}, {0, "KEB_LO_SUM"}, {9, "p@ss word"}, {1, ""}, {6, ""}};
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.level) + " " + c.password);
        std::string zip = Write("v" + std::to_string(k++) + ".zip", c.level, c.password);
        auto t = Capture("unzip -t -P " + Quote(c.password.empty() ? "x" : c.password) + " " + Quote(zip));
        EXPECT_EQ(t.status, 0) << t.text;
        EXPECT_NE(t.text.find("No errors detected"), std::string::npos) << t.text;
        std::string out = dir / ("py" + std::to_string(k));
        auto py = Python(dir,
                         ("import sys, zipfile\n"
                          "z = zipfile.ZipFile(sys.argv[1])\n"
                          "if sys.argv[2]: z.setpassword(sys.argv[2].encode())\n"
                          "z.extractall(sys.argv[3])\n"
                          "print(' '.join(i.filename for i in z.infolist()))\n"),
                         Quote(zip) + " " + Quote(c.password) + " " + Quote(out));
        EXPECT_EQ(py.status, 0) << py.text;
        EXPECT_EQ(py.text, dataName + " XmlOrderList.xml empty.txt\n");
        EXPECT_TRUE(ReadFile(out + "/" + dataName) == data);
        EXPECT_TRUE(ReadFile(out + "/XmlOrderList.xml") == order);
        EXPECT_TRUE(Exists(out + "/empty.txt"));
    }
    auto wrong = Capture("unzip -t -P wrong " + Quote(dir / "v0.zip"));
    EXPECT_NE(wrong.status, 0);
}

TEST_F(ZipToolsTest, ZipinfoShowsTheRoadsHeaderValues) {
    std::string zip = Write("road.zip", 6, "KEB_LO_SUM", {dir / dataName, dir / "XmlOrderList.xml"});
    auto info = Capture("zipinfo -v " + Quote(zip));
    ASSERT_EQ(info.status, 0) << info.text;
    for (const char* expected : {
             "The central directory is",
             "file system or operating system of origin:      MS-DOS, OS/2 or NT FAT",
             "version of encoding software:                   4.5",
             "minimum software version required to extract:   2.0",
             "compression method:                             deflated",
             "compression sub-type (deflation):               normal",
             "file security status:                           encrypted",
             "extended local header:                          no",
             "length of extra field:                          0 bytes",
             "apparent file type:                             text",
             "MS-DOS file attributes (20 hex):                arc",
             "There is no file comment.",
         }) {
        EXPECT_NE(info.text.find(expected), std::string::npos) << expected << "\n" << info.text;
    }
    EXPECT_NE(info.text.find("central directory contains 2 entries"), std::string::npos) << info.text;
}

TEST_F(ZipToolsTest, ReaderListsInfoZipArchives) {
    std::filesystem::create_directories(dir / "tree/sub");
    WriteFile(dir / "tree/a.txt", "a");
    WriteFile(dir / "tree/sub/b.txt", SampleText(5000));
    struct Case {
        std::string name;
        std::string command;               // run in dir
        std::vector<std::string> entries;  // sorted
        std::string probe;                 // the entry whose method and flags are checked
        uint16_t method;
        bool encrypted;
        bool descriptor;
    } cases[] = {
        {"plain.zip",
         "zip -q plain.zip XmlOrderList.xml empty.txt",
         {"XmlOrderList.xml", "empty.txt"},
         "empty.txt",
         0,
         false,
         false},
        {"pw.zip",
         "zip -q -P secret pw.zip XmlOrderList.xml",
         {"XmlOrderList.xml"},
         "XmlOrderList.xml",
         8,
         true,
         true},
        {"stored.zip",
         "zip -q -0 stored.zip XmlOrderList.xml",
         {"XmlOrderList.xml"},
         "XmlOrderList.xml",
         0,
         false,
         false},
        {"tree.zip",
         "zip -q -r tree.zip tree",
         {"tree\\", "tree\\a.txt", "tree\\sub\\", "tree\\sub\\b.txt"},
         "tree\\sub\\b.txt",
         8,
         false,
         false},
        {"stream.zip", "cat XmlOrderList.xml | zip -q - - | cat > stream.zip", {"-"}, "-", 8, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto made = Capture("cd " + Quote(dir.Path()) + " && " + c.command);
        ASSERT_EQ(made.status, 0) << made.text;
        TZipReader r;
        r.SetZipName(dir / c.name);
        ASSERT_EQ(r.GetCount(), static_cast<int>(c.entries.size()));
        std::vector<std::string> names;
        int probe = -1;
        for (int i = 0; i < r.GetCount(); ++i) {
            names.push_back(r.FullName(i));
            if (r.FullName(i) == c.probe) probe = i;
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.entries);
        ASSERT_GE(probe, 0);
        TZipHeaderInfo& entry = r.Entry(probe);
        EXPECT_EQ(entry.CompressionMethod, c.method);
        EXPECT_EQ(entry.Encrypted(), c.encrypted);
        EXPECT_EQ(entry.HasDataDescriptor(), c.descriptor);
        EXPECT_FALSE(r.Rebuilt());
        EXPECT_EQ(r.Damage(), adNone);
    }
}

TEST_F(ZipToolsTest, ReaderListsPythonZip64AndLongComments) {
    std::string script =
        "import sys, zipfile\n"
        "d = sys.argv[1]\n"
        "with zipfile.ZipFile(d + '/z64.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for n in ('one.txt', 'two.txt'):\n"
        "        with z.open(n, 'w', force_zip64=True) as f: f.write(n.encode() * 100)\n"
        "    z.comment = b'c' * 65535\n"
        "with zipfile.ZipFile(d + '/many.zip', 'w') as z:\n"
        "    for i in range(70000): z.writestr('f%05d' % i, b'')\n";
    auto made = Python(dir, script, Quote(dir.Path()));
    ASSERT_EQ(made.status, 0) << made.text;
    {
        TZipReader r;
        r.SetZipName(dir / "z64.zip");
        ASSERT_EQ(r.GetCount(), 2);
        EXPECT_EQ(r.FullName(1), "two.txt");
        EXPECT_EQ(r.Entry(1).GetUncompressedSize(), 700u);
        EXPECT_EQ(r.GetZipComment(), std::string(65535, 'c'));
        EXPECT_EQ(r.Damage(), adNone);
    }
    {
        TZipReader r;
        r.SetZipName(dir / "many.zip");
        ASSERT_EQ(r.GetCount(), 70000);
        EXPECT_NE(r.EndCentral().Zip64End(), nullptr);
        EXPECT_EQ(r.FullName(69999), "f69999");
        EXPECT_EQ(r.Damage(), adNone);
    }
}

TEST_F(ZipToolsTest, ReaderListsTheEncryptedLegacySample) {
    TZipReader r;
    r.SetZipName(std::string(DX_TEST_DATA_DIR) + "/zip-legacy/traditional_encryption.zip");
    ASSERT_EQ(r.GetCount(), 2);
    r.SortFiles(ByName);
    EXPECT_EQ(r.FullName(0), "bar.txt");
    EXPECT_EQ(r.FullName(1), "foo.txt");
    EXPECT_TRUE(r.Entry(0).Encrypted());
    EXPECT_EQ(r.Entry(0).GetUncompressedSize(), 495u);
}

TEST_F(ZipToolsTest, ReaderRejectsTruncatedAndGarbageFiles) {
    auto made = Capture("cd " + Quote(dir.Path()) + " && zip -q good.zip XmlOrderList.xml " + dataName);
    ASSERT_EQ(made.status, 0) << made.text;
    std::string good = ReadFile(dir / "good.zip");
    WriteFile(dir / "tail.zip", good.substr(0, good.size() - 10));
    WriteFile(dir / "half.zip", good.substr(0, good.size() / 2));
    WriteFile(dir / "garbage.zip", SampleText(10000, 9));
    struct Case {
        std::string file;
        TIncompleteZipMode mode;
        std::string error;
    } cases[] = {
        {"tail.zip", izAssumeMulti, "Incomplete Zip File"},
        {"half.zip", izAssumeMulti, "Incomplete Zip File"},
        {"garbage.zip", izAssumeMulti, "Incomplete Zip File"},
        {"garbage.zip", izAssumeNotAZip, "Not a valid zip file!"},
        {"garbage.zip", izAssumeBad, "Not a valid zip file!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TZipReader r;
        r.IncompleteZipMode = c.mode;
        r.SetZipName(dir / c.file);
        try {
            r.GetCount();
            ADD_FAILURE();
        } catch (const EZipException& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
    }
    // Scanning the local headers recovers what the truncated archive still holds.
    TZipReader r;
    r.IncompleteZipMode = izAssumeBad;
    r.SetZipName(dir / "tail.zip");
    EXPECT_EQ(r.GetCount(), 2);
    EXPECT_TRUE(r.Rebuilt());
}

TEST_F(ZipToolsTest, InfoZipJoinsBlockPartsAndTestsTheResult) {
    TZipWriter w;
    w.SetZipName(dir / "split.zip");
    w.Password = "pw";
    w.MultiZipInfo.MultiMode = mmBlocks;
    w.MultiZipInfo.BlockSize = 2048;
    w.FilesList = {dir / dataName, dir / "XmlOrderList.xml"};
    ASSERT_EQ(w.Zip(), 2);
    // Info-ZIP names the parts split.z01, split.z02, ... and split.zip.
    int parts = 0;
    for (int n = 1;; ++n) {
        std::string suffix = (n < 10 ? "0" : "") + std::to_string(n);
        std::string ours = dir / ("split.zip.z" + suffix);
        if (!Exists(ours)) break;
        std::filesystem::rename(ours, dir / ("split.z" + suffix));
        ++parts;
    }
    ASSERT_GT(parts, 1);
    auto join = Capture("cd " + Quote(dir.Path()) + " && zip -q -s 0 split.zip --out joined.zip");
    ASSERT_EQ(join.status, 0) << join.text;
    auto t = Capture("unzip -t -P pw " + Quote(dir / "joined.zip"));
    EXPECT_EQ(t.status, 0) << t.text;
    EXPECT_NE(t.text.find("No errors detected"), std::string::npos) << t.text;
}

TEST_F(ZipToolsTest, SevenZipAndBsdtarAcceptWhatTheWriterMakes) {
    std::string noise;
    uint32_t x = 3;
    for (int i = 0; i < 200000; ++i) noise += static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
    WriteFile(dir / "picture.png", noise);
    const std::vector<std::string> files = {dir / dataName, dir / "XmlOrderList.xml", dir / "empty.txt",
                                            dir / "picture.png"};
    struct Case {
        int level;
        std::string password;
    } cases[] = {{6, "KEB_LO_SUM"}, {0, "KEB_LO_SUM"}, {6, ""}};
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.level) + " " + c.password);
        const std::string zip = Write("s" + std::to_string(k++) + ".zip", c.level, c.password, files);
        auto t = Capture("7z t -p" + Quote(c.password) + " " + Quote(zip));
        EXPECT_EQ(t.status, 0) << t.text;
        EXPECT_NE(t.text.find("Everything is Ok"), std::string::npos) << t.text;
        const std::string out = dir / ("bsd" + std::to_string(k));
        std::filesystem::create_directories(out);
        auto b = Capture("bsdtar -x -f " + Quote(zip) + " -C " + Quote(out) +
                         (c.password.empty() ? "" : " --passphrase " + Quote(c.password)));
        EXPECT_EQ(b.status, 0) << b.text;
        EXPECT_TRUE(ReadFile(out + "/" + dataName) == data);
        EXPECT_TRUE(ReadFile(out + "/XmlOrderList.xml") == order);
        EXPECT_TRUE(ReadFile(out + "/picture.png") == noise);
        EXPECT_TRUE(Exists(out + "/empty.txt"));
    }
}

// Large files are deflated on several threads: Info-ZIP and Python read them back byte for
// byte, with and without a password, around the sizes where the road changes; the archive is
// hardly larger than one deflated on one thread, and the same whatever the number of threads.
TEST_F(ZipToolsTest, LargeFilesDeflatedOnSeveralThreadsReadBackExactly) {
    std::string noise;
    uint32_t x = 5;
    for (size_t i = 0; i < 3u * 1024 * 1024; ++i)
        noise += static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
    struct Input {
        std::string name, content;
        uint16_t method;
    };
    const std::vector<Input> inputs = {
        {"limit.xml", SampleText(1024 * 1024, 21), 8},       // packed in memory on one thread
        {"over.xml", SampleText(1024 * 1024 + 1, 22), 8},    // the first size deflated in blocks
        {"blocks.xml", SampleText(2 * 1024 * 1024, 23), 8},  // whole blocks only
        {"large.xml", SampleText(9 * 1024 * 1024 + 17, 24), 8},
        {"noise.bin", noise, 0},  // stored
        {"mixed.bin", SampleText(1500000, 25) + noise.substr(0, 700000), 8},
        {"empty.txt", "", 0},
    };
    std::vector<std::string> files;
    for (const Input& in : inputs) {
        WriteFile(dir / in.name, in.content);
        files.push_back(dir / in.name);
    }
    auto pack = [&](const std::string& name, const std::string& password, int threads) {
        std::filesystem::remove(dir / name);
        TZipWriter w;
        w.SetZipName(dir / name);
        w.Password = password;
        w.PackThreads = threads;
        w.FilesList = files;
        EXPECT_EQ(w.Zip(), static_cast<int>(files.size()));
        return ReadFile(dir / name);
    };
    for (const std::string& password : {std::string(), std::string("KEB_LO_SUM")}) {
        const std::string one = pack("one.zip", password, 1);
        const auto oneEntries = LocalEntries(one);
        ASSERT_EQ(oneEntries.size(), inputs.size());
        for (int threads : {4, 2}) {
            SCOPED_TRACE((password.empty() ? "no password, " : "password, ") + std::to_string(threads) +
                         " threads");
            const std::string name = "t" + std::to_string(threads) + (password.empty() ? "" : "p") + ".zip";
            const std::string zip = pack(name, password, threads);
            auto t =
                Capture("unzip -t -P " + Quote(password.empty() ? "x" : password) + " " + Quote(dir / name));
            EXPECT_EQ(t.status, 0) << t.text;
            EXPECT_NE(t.text.find("No errors detected"), std::string::npos) << t.text;
            const std::string out = dir / ("py" + name);
            auto py = Python(dir,
                             "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "if sys.argv[2]: z.setpassword(sys.argv[2].encode())\n"
                             "z.extractall(sys.argv[3])\n",
                             Quote(dir / name) + " " + Quote(password) + " " + Quote(out));
            EXPECT_EQ(py.status, 0) << py.text;
            const auto entries = LocalEntries(zip);
            ASSERT_EQ(entries.size(), inputs.size());
            for (size_t i = 0; i < inputs.size(); ++i) {
                SCOPED_TRACE(inputs[i].name);
                EXPECT_TRUE(ReadFile(out + "/" + inputs[i].name) == inputs[i].content);
                EXPECT_TRUE(Extract(entries[i], password) == inputs[i].content);
                EXPECT_EQ(entries[i].method, inputs[i].method);
                EXPECT_EQ(entries[i].crc, oneEntries[i].crc);
                // Restarting every block costs little: within 1 % of one stream.
                EXPECT_LE(entries[i].compressed,
                          oneEntries[i].compressed + oneEntries[i].compressed / 100 + 16);
            }
            if (password.empty()) {
                // The cut points depend on the block size alone.
                if (threads == 2) {
                    EXPECT_TRUE(zip == ReadFile(dir / "t4.zip"));
                }
                // Only the files above the in-memory limit take the other road.
                EXPECT_TRUE(entries[0].data == oneEntries[0].data);
                EXPECT_FALSE(entries[3].data == oneEntries[3].data);
            }
        }
    }
}
