// The extraction engine against hostile packages: links placed in the destination, damaged
// and forged directories, overlapping entries, oversized declarations, and runs that fail
// half-way. Nothing may be written outside the destination, reported as extracted when the
// archive is damaged, or left behind by a failed run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "import_service/ZipReaderUnZip.h"
#include "tests/import_service/UnZipFixture.h"
#include "tests/import_service/ZipBuild.h"

using namespace svc;
using namespace ziptest;
namespace fs = std::filesystem;

namespace {

// Every path below dir (folders end in "/", links in "@"), relative to it.
std::vector<std::string> Tree(const std::string& dir) {
    std::vector<std::string> r;
    if (!fs::exists(dir)) return r;
    for (auto& p : fs::recursive_directory_iterator(dir)) {
        std::string rel = fs::relative(p.path(), dir).string();
        r.push_back(rel + (p.is_symlink() ? "@" : p.is_directory() ? "/" : ""));
    }
    std::sort(r.begin(), r.end());
    return r;
}

class UnZipHostile : public UnZipTest {
protected:
    void SetUp() override {
        UnZipTest::SetUp();
        outside = root + "/outside";
        fs::create_directories(outside);
        WriteBytes(outside + "/victim.txt", "victim");
    }
    // The outside folder must look as it did before the run.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(Tree(outside), std::vector<std::string>{"victim.txt"});
        EXPECT_EQ(ReadBytes(outside + "/victim.txt"), "victim");
    }
    // The archive fails as a whole for the given damage, before anything is created.
    void ExpectRefused(const std::string& bytes, zip::TArchiveDamage damage) {
        fs::remove_all(dest);
        WriteBytes(archive, bytes);
        TUnZipReader r;
        Open(r);
        EXPECT_EQ(UnZipError<zip::EBadZipFile>(r), "Not a valid zip file!");
        EXPECT_EQ(r.Damage(), damage);
        EXPECT_EQ(r.ExtractedFileCount(), 0);
        EXPECT_FALSE(fs::exists(dest));
        EXPECT_FALSE(UnZipArchive(archive, dest, ""));
        EXPECT_FALSE(fs::exists(dest));
    }

    std::vector<zip::TSkipReason> reasons;
    void Watch(TUnZipReader& r) {
        reasons.clear();
        r.OnSkippingFile = [this](zip::TZipReader&, zip::TSkipReason why, const std::string&, int, bool&) {
            reasons.push_back(why);
        };
    }

    std::string outside;
};

TEST_F(UnZipHostile, LinksInTheDestinationAreNeverFollowed) {
    struct Case {
        const char* what;
        const char* link;    // below the destination
        const char* target;  // below root
        const char* entry;
        bool recreate;
    };
    const Case cases[] = {
        {"folder link would receive the file", "d", "outside", "d/x.txt", true},
        {"link deeper in the tree", "a/b", "outside", "a/b/c/x.txt", true},
        {"file link would overwrite its target", "x.txt", "outside/victim.txt", "x.txt", true},
        {"dangling link would create its target", "new.txt", "outside/new.txt", "new.txt", true},
        {"flat extraction onto a file link", "x.txt", "outside/victim.txt", "d/x.txt", false},
        {"folder entry through a folder link", "d", "outside", "d/e/", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        const fs::path link = fs::path(dest) / c.link;
        fs::create_directories(link.parent_path());
        fs::create_symlink(fs::path(root) / c.target, link);
        const std::string entry = c.entry;
        Make({{.name = entry, .data = entry.back() == '/' ? "" : kText, .method = 0},
              {.name = "ok.txt", .data = kText}});
        TUnZipReader r;
        Open(r);
        r.RecreateDirs = c.recreate;
        Watch(r);
        EXPECT_EQ(r.UnZip(), 1);
        EXPECT_EQ(r.FailedCount(), 1);
        EXPECT_EQ(reasons, std::vector<zip::TSkipReason>{zip::srCreateError});
        EXPECT_EQ(ReadBytes(dest + "/ok.txt"), kText);
        EXPECT_TRUE(fs::is_symlink(link));
        ExpectOutsideUntouched();
        // UnZipArchive recreates folders, which takes the flat case past the link.
        EXPECT_EQ(UnZipArchive(archive, dest, ""), !c.recreate);
        ExpectOutsideUntouched();
        EXPECT_TRUE(fs::is_symlink(link));
    }
}

TEST_F(UnZipHostile, NamesWithANulByteAreRefused) {
    using namespace std::string_literals;
    // The system reads a name only up to a NUL byte: "..\0x" would be the parent folder.
    for (const std::string& name : {"..\0x/evil.txt"s, "a/..\0/evil.txt"s, "evil.txt\0.xml"s}) {
        SCOPED_TRACE(name.size());
        fs::remove_all(dest);
        // A Unix host's names are taken as stored, NUL bytes included.
        Make({{.name = name, .data = kText, .madeBy = 0x031E}, {.name = "ok.txt", .data = kText}});
        TUnZipReader r;
        Open(r);
        Watch(r);
        EXPECT_EQ(r.UnZip(), 1);
        EXPECT_EQ(reasons, std::vector<zip::TSkipReason>{zip::srCreateError});
        EXPECT_EQ(Tree(dest), std::vector<std::string>{"ok.txt"});
        EXPECT_EQ(Tree(root), (std::vector<std::string>{"out/", "out/ok.txt", "outside/",
                                                        "outside/victim.txt", "pkg.zip"}));
    }
}

TEST_F(UnZipHostile, HardLinkedFileIsReplacedNotWrittenThrough) {
    fs::create_directories(dest);
    fs::create_hard_link(outside + "/victim.txt", dest + "/h.txt");
    Make({{.name = "h.txt", .data = kText}});
    EXPECT_TRUE(UnZipArchive(archive, dest, ""));
    EXPECT_EQ(ReadBytes(dest + "/h.txt"), kText);
    ExpectOutsideUntouched();
}

TEST_F(UnZipHostile, HandlerMayRedirectOutsideTheDestination) {
    // The event handler is the caller's code: its path is taken as given, folders included.
    Make({{.name = "a.txt", .data = kText}});
    TUnZipReader r;
    Open(r);
    r.OnStartUnZip = [&](zip::TZipReader&, int, bool&, std::string& path) {
        path = root + "/elsewhere/a.txt";
    };
    EXPECT_EQ(r.UnZip(), 1);
    EXPECT_EQ(ReadBytes(root + "/elsewhere/a.txt"), kText);
}

// Three entries, one of them in a folder; the damage cases below change its records.
std::string ThreeEntries() {
    return BuildZip({{.name = "a.xml", .data = kText + kText},
                     {.name = "sub/b.txt", .data = kText, .method = 0},
                     {.name = "c.txt", .data = "ccc"}});
}

TEST_F(UnZipHostile, DamagedArchivesFailAsAWhole) {
    using L = TZipLayout;
    const L base(ThreeEntries());
    auto damaged = [&](auto change) {
        L z = base;
        change(z);
        return z.bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
        zip::TArchiveDamage damage;
    };
    const Case cases[] = {
        {"end record counts an entry more", damaged([](L& z) {
             z.Put16(z.end + L::kEntriesThisDisk, 4);
             z.Put16(z.end + L::kTotalEntries, 4);
         }),
         zip::adRebuilt},
        {"end record counts an entry fewer", damaged([](L& z) {
             z.Put16(z.end + L::kEntriesThisDisk, 2);
             z.Put16(z.end + L::kTotalEntries, 2);
         }),
         zip::adDirectorySize},
        {"the two entry counts differ", damaged([](L& z) { z.Put16(z.end + L::kEntriesThisDisk, 2); }),
         zip::adEntryCount},
        {"directory size one too large",
         damaged([](L& z) { z.Put32(z.end + L::kCentralSize, z.Get32(z.end + L::kCentralSize) + 1); }),
         zip::adDirectorySize},
        {"bytes between directory and end record", damaged([](L& z) { z.bytes.insert(z.end, "junk!"); }),
         zip::adDirectoryPlace},
        {"directory offset off by one", damaged([](L& z) {
             z.Put32(z.end + L::kCentralOffset, static_cast<uint32_t>(z.centralOffset - 1));
         }),
         zip::adRebuilt},
        {"cut inside the directory, end record appended",
         base.bytes.substr(0, base.central[2]) + base.EndRecord(), zip::adRebuilt},
        {"cut inside the data, end record appended", base.bytes.substr(0, 100) + base.EndRecord(),
         zip::adRebuilt},
        {"local header not where the directory says", damaged([](L& z) {
             z.Put32(z.central[1] + L::kLocalOffset, z.Get32(z.central[1] + L::kLocalOffset) + 1);
         }),
         zip::adLocalHeader},
        {"local header signature damaged",
         damaged([](L& z) { z.bytes[z.Get32(z.central[2] + L::kLocalOffset)] = 'X'; }), zip::adLocalHeader},
        {"data runs into the directory", damaged([](L& z) {
             z.Put32(z.central[2] + L::kCompressedSize, z.Get32(z.central[2] + L::kCompressedSize) + 10);
         }),
         zip::adDataOutside},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefused(c.bytes, c.damage);
    }
}

TEST_F(UnZipHostile, EveryCutPackageFailsAndLeavesNothing) {
    // Before, a package cut short and given an end record again could pass with files
    // missing: the directory was rebuilt from the local headers that were left.
    const TZipLayout z(ThreeEntries());
    for (size_t cut = 0; cut < z.end; ++cut) {
        SCOPED_TRACE(cut);
        // Without an end record nothing is even tried: a sample of those is enough.
        for (bool withEnd : {true, false}) {
            if (!withEnd && cut % 16 != 0) continue;
            WriteBytes(archive, z.bytes.substr(0, cut) + (withEnd ? z.EndRecord() : ""));
            ASSERT_FALSE(UnZipArchive(archive, dest, ""));
            ASSERT_TRUE(Files().empty());
        }
    }
}

TEST_F(UnZipHostile, AnArchiveWithoutFilesIsNoSuccess) {
    struct Case {
        const char* what;
        std::vector<TEntrySpec> entries;
        bool success;
    };
    const Case cases[] = {
        {"nameless padding", {{.name = "", .data = "", .method = 0}}, false},
        {"padding named by a separator", {{.name = "/", .data = "", .method = 0}}, false},
        {"padding named by a dot step", {{.name = "./", .data = "", .method = 0}}, false},
        {"folders only", {{.name = "d/", .data = "", .method = 0}}, false},
        {"padding beside a file",
         {{.name = "", .data = "", .method = 0}, {.name = "a.txt", .data = kText}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dest);
        Make(c.entries);
        EXPECT_EQ(UnZipArchive(archive, dest, ""), c.success);
        EXPECT_EQ(Tree(dest), c.success ? std::vector<std::string>{"a.txt"} : std::vector<std::string>{});
    }
}

TEST_F(UnZipHostile, OverlappingEntriesAreRefused) {
    using L = TZipLayout;
    const L base(BuildZip({{.name = "a.txt", .data = kText, .method = 0}, {.name = "b.txt", .data = kText}}));
    const uint32_t bAt = base.Get32(base.central[1] + L::kLocalOffset);
    struct Case {
        const char* what;
        std::string bytes;
        zip::TArchiveDamage damage;
    };
    L covering = base;
    // a's data runs over b's local header and data, as in the quoted-overlap bombs.
    covering.Put32(covering.central[0] + L::kCompressedSize, bAt - 30 - 5 + 20);
    L shared = base;
    shared.Put32(shared.central[1] + L::kLocalOffset, 0);
    L inside = base;
    // b's header is said to lie inside a's data.
    inside.Put32(inside.central[1] + L::kLocalOffset, bAt - 8);
    std::string insideBytes = inside.bytes;
    insideBytes.replace(bAt - 8, 30 + 5, base.bytes.substr(bAt, 30 + 5));
    const Case cases[] = {
        {"data covers the next entry", covering.bytes, zip::adOverlap},
        {"two entries share one local header", shared.bytes, zip::adRebuilt},
        {"an entry starts inside another's data", insideBytes, zip::adOverlap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefused(c.bytes, c.damage);
    }
}

TEST_F(UnZipHostile, DeclaredSizesMustFitTheLimitAndTheDisk) {
    const std::string thousand(1000, 'x');
    Make({{.name = "a.txt", .data = thousand}, {.name = "d/b.txt", .data = thousand}});
    EXPECT_EQ(TUnZipReader().MaxExtractSize, kDefaultMaxExtractSize);
    for (uint64_t limit : {uint64_t(1999), uint64_t(2000)}) {
        SCOPED_TRACE(limit);
        fs::remove_all(dest);
        TUnZipReader r;
        Open(r);
        r.MaxExtractSize = limit;
        bool told = false;
        r.OnStartUnZipInfo = [&](zip::TZipReader&, int, bool&, int64_t) { told = true; };
        if (limit < 2000) {
            EXPECT_EQ(UnZipError<ETooLargeToExtract>(r),
                      "The archive's files (2000 bytes) exceed the extraction limit of 1999 bytes");
            EXPECT_FALSE(told);
            EXPECT_TRUE(Tree(dest).empty());
        } else {
            EXPECT_EQ(r.UnZip(), 2);
        }
        fs::remove_all(dest);
        EXPECT_EQ(UnZipArchive(archive, dest, "", limit), limit >= 2000);
        EXPECT_EQ(Files().size(), limit >= 2000 ? 2u : 0u);
    }

    // The default limit stops a four-gigabyte declaration; lifting it, the disk does.
    Make({{.name = "big.bin", .data = "x", .declared = 0xFFFFFFF0u}});
    fs::remove_all(dest);
    TUnZipReader r;
    Open(r);
    EXPECT_THROW(r.UnZip(), ETooLargeToExtract);
    // Sizes whose sum wraps around 64 bits must not pass as a small total.
    Make({{.name = "a.bin", .data = "x", .declared64 = uint64_t(1) << 63},
          {.name = "b.bin", .data = "x", .declared64 = uint64_t(1) << 63},
          {.name = "c.bin", .data = "x", .declared = 10u}});
    EXPECT_THROW(r.UnZip(), ETooLargeToExtract);
    Make({{.name = "huge.bin", .data = "x", .declared64 = uint64_t(1) << 52}});
    r.MaxExtractSize = std::numeric_limits<uint64_t>::max();
    const std::string message = UnZipError<zip::ENotEnoughRoom>(r);
    EXPECT_EQ(message.rfind("Not enough free space to extract the archive: 4503599627370496 bytes needed", 0),
              0u)
        << message;
    EXPECT_TRUE(Files().empty());
}

TEST_F(UnZipHostile, FailingRunRemovesEverythingItWrote) {
    // What lay in the destination before stays; what the run wrote or made goes, also the
    // files written before the failing entry and a file it replaced.
    fs::create_directories(dest + "/old");
    WriteBytes(dest + "/keep.txt", "keep");
    WriteBytes(dest + "/old/replaced.txt", "old");
    std::vector<TEntrySpec> entries = {{.name = "new/a.txt", .data = kText},
                                       {.name = "old/replaced.txt", .data = kText},
                                       {.name = "new/deep/", .data = "", .method = 0},
                                       {.name = "b.txt", .data = kText},
                                       {.name = "new/deep/c.txt", .data = kText, .crc = 1u}};
    Make(entries);
    // A bad checksum fails the entry, not the run: the component keeps the others and
    // UnZipArchive, whose run failed, removes them.
    EXPECT_FALSE(UnZipArchive(archive, dest, ""));
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"keep.txt", "old/"}));

    // Damaged deflate data raises: the run itself removes what it wrote.
    WriteBytes(dest + "/old/replaced.txt", "old");
    entries.back().crc.reset();
    TZipLayout z(BuildZip(entries));
    z.bytes[z.Get32(z.central[4] + TZipLayout::kLocalOffset) + 30 + 14] = '\xFF';
    WriteBytes(archive, z.bytes);
    TUnZipReader r;
    Open(r);
    int ended = 0;
    r.OnEndUnZip = [&](zip::TZipReader&, int, const std::string&) { ++ended; };
    EXPECT_THROW(r.UnZip(), zip::EZCompressionError);
    EXPECT_EQ(ended, 3);
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"keep.txt", "old/"}));
    // Nothing more to take back.
    r.RemoveWritten();
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"keep.txt", "old/"}));
}

}  // namespace
