#include "platform/rtl/Files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Streams.h"

using namespace rtl;

namespace {

std::string MakeTempDir(const std::string& base) {
    std::string pattern = base + "/rtl_files_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return std::string();
    return pattern + "/";
}

std::string Slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Put(const std::string& name, const std::string& data) {
    std::ofstream out(name, std::ios::binary);
    out << data;
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir("/tmp");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + name; }
    std::string dir_;
};

}  // namespace

TEST(Paths, Parts) {
    struct Case {
        const char* name;
        const char* path;
        const char* dir;
        const char* file;
        const char* ext;
    } cases[] = {
        {"/var/in/pkg.zip", "/var/in/", "/var/in", "pkg.zip", ".zip"},
        {"pkg.tar.gz", "", "", "pkg.tar.gz", ".gz"},
        {"/file", "/", "/", "file", ""},
        {"/a.b/c", "/a.b/", "/a.b", "c", ""},
        {"dir/", "dir/", "dir", "", ""},
        {".profile", "", "", ".profile", ".profile"},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFilePath(c.name), c.path) << c.name;
        EXPECT_EQ(ExtractFileDir(c.name), c.dir) << c.name;
        EXPECT_EQ(ExtractFileName(c.name), c.file) << c.name;
        EXPECT_EQ(ExtractFileExt(c.name), c.ext) << c.name;
    }
    EXPECT_EQ(ExtractFileDrive("/x/a.dat"), "");
    EXPECT_EQ(ChangeFileExt("/x/a.dat", ".zip"), "/x/a.zip");
    EXPECT_EQ(ChangeFileExt("/x.d/a", ".zip"), "/x.d/a.zip");
    EXPECT_EQ(ChangeFileExt("a.b.c", ""), "a.b");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/x/"), "/x/");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/x/"), "/x");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Paths, ExpandFileName) {
    const std::string cwd = GetCurrentDir();
    EXPECT_EQ(ExpandFileName("/a/./b/../c//d.txt"), "/a/c/d.txt");
    EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
    EXPECT_EQ(ExpandFileName("/../.."), "/");
    EXPECT_EQ(ExpandFileName("x/y.txt"), cwd + "/x/y.txt");
    EXPECT_EQ(ExpandFileName("x/.."), cwd + "/");
    EXPECT_EQ(ExpandFileName(""), "");
}

TEST(Paths, ProgramsOwnPath) {
    const std::string exe = ApplicationExeName();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe[0], '/');
    EXPECT_TRUE(FileExists(exe));
    EXPECT_EQ(ExtractFileName(exe), "rtl_tests");
    EXPECT_EQ(ParamStr(0), exe);
    EXPECT_GE(ParamCount(), 0);
    EXPECT_EQ(ParamStr(ParamCount() + 1), "");
}

TEST_F(FilesTest, ExistenceFoldersDeleteRename) {
    const std::string f = Path("a.txt");
    Put(f, "x");
    EXPECT_TRUE(FileExists(f));
    EXPECT_FALSE(FileExists(dir_));  // a folder is not a file
    EXPECT_TRUE(DirectoryExists(dir_));
    EXPECT_FALSE(DirectoryExists(f));
    EXPECT_FALSE(FileExists(""));

    EXPECT_TRUE(ForceDirectories(Path("p/q/r/")));
    EXPECT_TRUE(DirectoryExists(Path("p/q/r")));
    EXPECT_TRUE(ForceDirectories(Path("p/q")));         // already there
    EXPECT_FALSE(ForceDirectories(Path("a.txt/sub")));  // a file in the way
    EXPECT_THROW(ForceDirectories(""), EInOutError);
    EXPECT_FALSE(CreateDir(Path("x/y")));  // one level only
    EXPECT_TRUE(CreateDir(Path("x")));
    EXPECT_TRUE(RemoveDir(Path("x")));

    EXPECT_FALSE(DeleteFile(Path("p")));  // folders are not deleted
    EXPECT_EQ(GetLastError(), EISDIR);

    Put(Path("b.txt"), "y");
    EXPECT_FALSE(RenameFile(f, Path("b.txt")));  // never replaces
    EXPECT_EQ(GetLastError(), EEXIST);
    EXPECT_EQ(Slurp(Path("b.txt")), "y");
    EXPECT_TRUE(RenameFile(f, Path("c.txt")));
    EXPECT_FALSE(FileExists(f));
    EXPECT_TRUE(DeleteFile(Path("c.txt")));
    EXPECT_FALSE(DeleteFile(Path("c.txt")));
    EXPECT_EQ(GetLastError(), ENOENT);
}

TEST_F(FilesTest, MoveReplacesWithinAndAcrossFileSystems) {
    const std::string shm = MakeTempDir("/dev/shm");
    ASSERT_FALSE(shm.empty());
    struct stat a {
    }, b{};
    ASSERT_EQ(::stat(shm.c_str(), &a), 0);
    ASSERT_EQ(::stat(dir_.c_str(), &b), 0);
    const bool crossDevice = a.st_dev != b.st_dev;

    // Within one file system: the target is replaced.
    Put(Path("src"), "new");
    Put(Path("dst"), "old");
    EXPECT_TRUE(MoveFileReplace(Path("src"), Path("dst")));
    EXPECT_EQ(Slurp(Path("dst")), "new");
    EXPECT_FALSE(FileExists(Path("src")));

    // Across file systems: data, mode and time travel; the source goes; nothing else is left.
    const std::string src = shm + "pkg.zip";
    std::string payload(300000, 'z');
    payload[12345] = 'Q';
    Put(src, payload);
    ASSERT_EQ(::chmod(src.c_str(), 0640), 0);
    ASSERT_EQ(FileSetDate(src, DateTimeToFileDate(
                                   FileDateToDateTime((45 << 25) | (3 << 21) | (7 << 16) | (8 << 11)))),
              0);
    Put(Path("pkg.zip"), "old target");
    EXPECT_TRUE(MoveFileReplace(src, Path("pkg.zip")));
    EXPECT_EQ(Slurp(Path("pkg.zip")), payload);
    EXPECT_FALSE(FileExists(src));
    struct stat st {};
    ASSERT_EQ(::stat(Path("pkg.zip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FileAgeDos(Path("pkg.zip")), (45 << 25) | (3 << 21) | (7 << 16) | (8 << 11));
    EXPECT_EQ(Listing(dir_), (std::set<std::string>{"dst", "pkg.zip"}));

    // Failures keep the source: a missing target folder, and a folder in the target's place.
    Put(src, "keep me");
    EXPECT_FALSE(MoveFileReplace(src, Path("nofolder/pkg.zip")));
    if (crossDevice) {
        EXPECT_EQ(GetLastError(), ENOENT);
    }
    ASSERT_TRUE(CreateDir(Path("taken")));
    EXPECT_FALSE(MoveFileReplace(src, Path("taken")));
    EXPECT_EQ(Slurp(src), "keep me");
    EXPECT_EQ(Listing(dir_), (std::set<std::string>{"dst", "pkg.zip", "taken"}));
    EXPECT_FALSE(MoveFileReplace(shm + "absent", Path("x")));
    EXPECT_EQ(GetLastError(), ENOENT);
    std::filesystem::remove_all(shm);
}

TEST_F(FilesTest, CopyRefusesToOverwrite) {
    Put(Path("s"), "source");
    ASSERT_EQ(::chmod(Path("s").c_str(), 0600), 0);
    EXPECT_TRUE(CopyFileNoOverwrite(Path("s"), Path("t")));
    EXPECT_EQ(Slurp(Path("t")), "source");
    EXPECT_EQ(Slurp(Path("s")), "source");
    EXPECT_EQ(FileAgeDos(Path("t")), FileAgeDos(Path("s")));

    Put(Path("s"), "changed");
    EXPECT_FALSE(CopyFileNoOverwrite(Path("s"), Path("t")));
    EXPECT_EQ(GetLastError(), EEXIST);
    EXPECT_EQ(Slurp(Path("t")), "source");
    EXPECT_TRUE(CopyFile(Path("s"), Path("t"), false));
    EXPECT_EQ(Slurp(Path("t")), "changed");
    EXPECT_FALSE(CopyFileNoOverwrite(Path("none"), Path("u")));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_EQ(Listing(dir_), (std::set<std::string>{"s", "t"}));
}

TEST(Masks, WindowsStyleMatching) {
    struct Case {
        const char* mask;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.zip", "pkg.zip", true},
        {"*.zip", "PKG.ZIP", true},
        {"*.zip", "a.b.zip", true},
        {"*.zip", "pkg.zip.tmp", false},
        {"*.zip", "pkgzip", false},
        {"*.zip", ".zip", true},
        {"ZuvWebExport_*.dat", "ZuvWebExport_2024010112.dat", true},
        {"ZuvWebExport_*.dat", "zuvwebexport_1.DAT", true},
        {"ZuvWebExport_*.dat", "ZuvWebExport_.dat", true},
        {"ZuvWebExport_*.dat", "ZuvWebExport.dat", false},
        {"ZuvWebExport_*.dat", "ZuvWebExport_1.dat.bak", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"file?.txt", "file1.txt", true},
        {"file?.txt", "file.txt", true},  // "?" may be empty before a dot
        {"file?.txt", "file12.txt", false},
        {"a?c", "abc", true},
        {"a?c", "a.c", false},
        {"ab??", "ab", true},  // and at the end
        {"*", "anything.at.all", true},
        {"*.*", "README", true},
        {"*.", "README", true},
        {"*.", "a.txt", false},
        {"Пакет*.zip", "пакет1.ZIP", true},  // case folding beyond ASCII
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches) << c.mask << " vs " << c.name;
}

TEST_F(FilesTest, FindFirstWalksMatchesInNameOrder) {
    for (const char* n : {"b.ZIP", "a.zip", "c.txt", "C.zip.part", ".hidden.zip"}) Put(Path(n), "12345");
    ASSERT_TRUE(CreateDir(Path("sub.zip")));

    auto collect = [&](const std::string& mask, int attr) {
        std::vector<std::string> names;
        TSearchRec sr;
        int rc = FindFirst(Path(mask), attr, sr);
        while (rc == 0) {
            names.push_back(sr.Name);
            rc = FindNext(sr);
        }
        FindClose(sr);
        return names;
    };
    EXPECT_EQ(collect("*.zip", faArchive), (std::vector<std::string>{"a.zip", "b.ZIP"}));
    EXPECT_EQ(collect("*.zip", faAnyFile),
              (std::vector<std::string>{".hidden.zip", "a.zip", "b.ZIP", "sub.zip"}));
    EXPECT_EQ(collect("*", faDirectory),
              (std::vector<std::string>{".", "..", "a.zip", "b.ZIP", "c.txt", "C.zip.part", "sub.zip"}));

    TSearchRec sr;
    ASSERT_EQ(FindFirst(Path("c.*"), faAnyFile, sr), 0);
    EXPECT_EQ(sr.Name, "c.txt");
    EXPECT_EQ(sr.Size, 5);
    EXPECT_EQ(sr.Attr & faDirectory, 0);
    EXPECT_EQ(sr.FindData.nFileSizeLow, 5u);
    TDateTime age = 0;
    ASSERT_TRUE(FileAge(Path("c.txt"), age));
    EXPECT_DOUBLE_EQ(sr.TimeStamp, age);
    EXPECT_EQ(sr.Time, FileAgeDos(Path("c.txt")));
    EXPECT_EQ(FindNext(sr), 0);  // C.zip.part
    EXPECT_EQ(FindNext(sr), ENOENT);
    FindClose(sr);

    EXPECT_EQ(FindFirst(Path("*.none"), faAnyFile, sr), ENOENT);
    EXPECT_EQ(FindFirst(Path("nodir/*"), faAnyFile, sr), ENOENT);
    EXPECT_EQ(FindNext(sr), ENOENT);  // harmless after a failed search
}

TEST_F(FilesTest, AttributesMapToPermissions) {
    Put(Path("f"), "x");
    EXPECT_EQ(FileGetAttr(Path("f")), faArchive);
    EXPECT_EQ(FileSetAttr(Path("f"), faReadOnly | faArchive), 0);
    EXPECT_EQ(FileGetAttr(Path("f")), faArchive | faReadOnly);
    EXPECT_EQ(FileSetAttr(Path("f"), faArchive), 0);
    EXPECT_EQ(FileGetAttr(Path("f")), faArchive);
    EXPECT_EQ(FileGetAttr(dir_), faDirectory);
    EXPECT_EQ(FileGetAttr(Path("none")), -1);
    EXPECT_EQ(FileSetAttr(Path("none"), 0), ENOENT);
    // The same through an open file.
    TFileStream h(Path("f"), fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(FileSetAttr(h.Handle(), faReadOnly), 0);
    EXPECT_EQ(FileGetAttr(Path("f")), faArchive | faReadOnly);
    EXPECT_EQ(FileSetAttr(h.Handle(), 0), 0);
    EXPECT_EQ(FileGetAttr(Path("f")), faArchive);
    EXPECT_EQ(FileSetAttr(-1, 0), EBADF);
}

TEST(FileDates, DosDateTimeConversions) {
    // 2024-02-29 13:45:58
    const int32_t dos = (44 << 25) | (2 << 21) | (29 << 16) | (13 << 11) | (45 << 5) | 29;
    const TDateTime dt = FileDateToDateTime(dos);
    // 45351 = days from 1899-12-30 to 2024-02-29.
    EXPECT_NEAR(dt, 45351 + (13 * 3600 + 45 * 60 + 58) / 86400.0, 1e-9);
    EXPECT_EQ(DateTimeToFileDate(dt), dos);
    EXPECT_EQ(DateTimeToFileDate(2.0), 0);  // before 1980: no DOS form

    const int32_t bad[] = {(44 << 25) | (2 << 21) | (30 << 16),  // 30 February
                           (44 << 25) | (13 << 21) | (1 << 16),  // month 13
                           (44 << 25) | (1 << 21) | (1 << 16) | (24 << 11)};
    for (int32_t v : bad) EXPECT_THROW(FileDateToDateTime(v), EConvertError) << std::hex << v;

    time_t t = 0;
    ASSERT_TRUE(LocalDateTimeToUnixTime(dt, t));
    EXPECT_NEAR(UnixTimeToLocalDateTime(t), dt, 1e-9);
    EXPECT_NEAR(UnixTimeToLocalDateTime(t, 500000000), dt + 0.5 / 86400, 1e-9);
}

TEST(FileDates, DosPackingClampsToTheFormatsYears) {
    struct Case {
        int y;
        unsigned mo, d, h, mi, s;
        uint32_t dos;
    };
    const Case cases[] = {
        {2024, 2, 29, 13, 45, 59,
         44u << 25 | 2u << 21 | 29u << 16 | 13u << 11 | 45u << 5 | 29u},  // odd second
        {1980, 1, 1, 0, 0, 0, 1u << 21 | 1u << 16},
        {1979, 12, 31, 23, 59, 59, 1u << 21 | 1u << 16},  // before the format: its first day
        {2100, 7, 4, 8, 0, 0, 120u << 25 | 7u << 21 | 4u << 16 | 8u << 11},  // top bit set: stays unsigned
        {2150, 3, 5, 6, 7, 8, 127u << 25 | 3u << 21 | 5u << 16 | 6u << 11 | 7u << 5 | 4u},  // the year clamps
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.y);
        EXPECT_EQ(EncodeDosDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.dos);
    }
    // The file-date form has no value outside the format's years.
    EXPECT_EQ(static_cast<uint32_t>(DateTimeToFileDate(EncodeDateTime(2100, 7, 4, 8, 0, 0, 0))),
              120u << 25 | 7u << 21 | 4u << 16 | 8u << 11);
    EXPECT_EQ(DateTimeToFileDate(EncodeDateTime(2150, 1, 1, 0, 0, 0, 0)), 0);

    TDateTime dt = 0;
    ASSERT_TRUE(TryDosDateTimeToDateTime(120u << 25 | 7u << 21 | 4u << 16 | 8u << 11, dt));
    EXPECT_NEAR(dt, EncodeDateTime(2100, 7, 4, 8, 0, 0, 0), 1e-9);
    EXPECT_NEAR(dt, FileDateToDateTime(static_cast<int32_t>(120u << 25 | 7u << 21 | 4u << 16 | 8u << 11)),
                1e-9);
    const uint32_t bad[] = {44u << 25 | 2u << 21 | 30u << 16,
                            44u << 25 | 0u << 21 | 1u << 16,
                            44u << 25 | 1u << 21 | 0u << 16,
                            44u << 25 | 1u << 21 | 1u << 16 | 24u << 11,
                            44u << 25 | 1u << 21 | 1u << 16 | 60u << 5,
                            44u << 25 | 1u << 21 | 1u << 16 | 30u};
    for (uint32_t v : bad) EXPECT_FALSE(TryDosDateTimeToDateTime(v, dt)) << std::hex << v;
    // The file-date form names the part that is wrong.
    try {
        FileDateToDateTime(static_cast<int32_t>(bad[0] | 24u << 11));
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
    try {
        FileDateToDateTime(static_cast<int32_t>(bad[3]));
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Invalid argument to time encode");
    }
}

TEST_F(FilesTest, DosAgeOfAFileBeyondTheFormatIsItsLastMoment) {
    Put(Path("f"), "x");
    time_t late = 0;
    ASSERT_TRUE(LocalDateTimeToUnixTime(EncodeDateTime(2150, 3, 5, 6, 7, 8, 0), late));
    const timespec times[2] = {{0, UTIME_OMIT}, {late, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("f").c_str(), times, 0), 0);
    EXPECT_EQ(static_cast<uint32_t>(FileAgeDos(Path("f"))),
              127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u);
}

TEST_F(FilesTest, FileAgeFollowsSetDate) {
    Put(Path("f"), "x");
    const int32_t dos = (40 << 25) | (12 << 21) | (31 << 16) | (23 << 11) | (59 << 5) | 29;
    ASSERT_EQ(FileSetDate(Path("f"), dos), 0);
    TDateTime age = 0;
    ASSERT_TRUE(FileAge(Path("f"), age));
    EXPECT_NEAR(age, FileDateToDateTime(dos), 1e-9);
    EXPECT_EQ(FileAgeDos(Path("f")), dos);
    TFileStream h(Path("f"), fmOpenRead | fmShareDenyNone);
    EXPECT_EQ(FileGetDate(h.Handle()), dos);
    EXPECT_FALSE(FileAge(Path("none"), age));
    EXPECT_FALSE(FileAge(dir_, age));
    EXPECT_EQ(FileSetDate(Path("f"), (44 << 25) | (2 << 21) | (30 << 16)), EINVAL);
    // The same through an open file.
    const int32_t other = (41 << 25) | (1 << 21) | (2 << 16) | (3 << 11);
    ASSERT_EQ(FileSetDate(h.Handle(), other), 0);
    EXPECT_EQ(FileAgeDos(Path("f")), other);
    EXPECT_EQ(FileSetDate(h.Handle(), (44 << 25) | (2 << 21) | (30 << 16)), EINVAL);
    EXPECT_EQ(FileSetDate(-1, other), EBADF);
}

TEST_F(FilesTest, CompletelyWrittenNeedsQuietFileAndNoHolder) {
    const std::string f = Path("incoming.zip");
    Put(f, "part");
    TFileLook look;
    EXPECT_FALSE(FileIsCompletelyWritten(f, look));  // first look
    EXPECT_TRUE(FileIsCompletelyWritten(f, look));

    {
        std::ofstream more(f, std::ios::binary | std::ios::app);
        more << " and more";
    }
    EXPECT_FALSE(FileIsCompletelyWritten(f, look));  // grew since the last look
    EXPECT_TRUE(FileIsCompletelyWritten(f, look));

    {
        TFileStream writer(f, fmOpenWrite | fmShareDenyWrite);  // a cooperating writer
        EXPECT_FALSE(FileIsCompletelyWritten(f, look));
    }
    EXPECT_TRUE(FileIsCompletelyWritten(f, look));

    {
        const int fd = ::open(f.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_SH), 0);  // a foreign program's lock
        EXPECT_FALSE(FileIsCompletelyWritten(f, look));
        ::close(fd);
    }

    // The same name with new content (replaced file) starts over.
    Put(Path("other"), "part and more");
    ASSERT_TRUE(MoveFileReplace(Path("other"), f));
    EXPECT_FALSE(FileIsCompletelyWritten(f, look));

    TWrittenFileWatch watch;
    EXPECT_FALSE(watch.Completed(f));
    EXPECT_TRUE(watch.Completed(f));
    watch.Forget(f);
    EXPECT_FALSE(watch.Completed(f));
    EXPECT_FALSE(watch.Completed(Path("missing")));
}

// Inside the program a name is 1251 text; on disk it is UTF-8, as every other program sees it.
TEST_F(FilesTest, NamesCrossIntoTheSystemAsUtf8) {
    const std::string ansi = "\xCF\xF0\xE8\xE2\xE5\xF2";  // Привет
    const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
    ASSERT_TRUE(ForceDirectories(Path(ansi + "/" + ansi)));
    EXPECT_TRUE(DirectoryExists(Path(ansi)));
    {
        TFileStream f(Path(ansi + "/" + ansi + ".txt"), fmCreate);
        f.WriteBuffer("data", 4);
    }
    EXPECT_EQ(Listing(Path(utf8)), (std::set<std::string>{utf8, utf8 + ".txt"}));
    EXPECT_TRUE(FileExists(Path(ansi + "/" + ansi + ".txt")));
    EXPECT_EQ(FileSetDate(Path(ansi + "/" + ansi + ".txt"), 0x56CF528F), 0);
    EXPECT_EQ(FileAgeDos(Path(ansi + "/" + ansi + ".txt")), 0x56CF528F);

    TSearchRec rec;
    ASSERT_EQ(FindFirst(Path(ansi + "/*.txt"), faAnyFile, rec), 0);
    EXPECT_EQ(rec.Name, ansi + ".txt");
    FindClose(rec);

    ASSERT_TRUE(RenameFile(Path(ansi + "/" + ansi + ".txt"), Path(ansi + "/b" + ansi + ".txt")));
    EXPECT_EQ(Slurp(Path(utf8 + "/b" + utf8 + ".txt")), "data");
    ASSERT_TRUE(CopyFile(Path(ansi + "/b" + ansi + ".txt"), Path(ansi + "/c" + ansi + ".txt"), true));
    ASSERT_TRUE(MoveFileReplace(Path(ansi + "/c" + ansi + ".txt"), Path(ansi + "/d" + ansi + ".txt")));
    EXPECT_EQ(Listing(Path(utf8)), (std::set<std::string>{utf8, "b" + utf8 + ".txt", "d" + utf8 + ".txt"}));
    EXPECT_TRUE(DeleteFile(Path(ansi + "/b" + ansi + ".txt")));
    EXPECT_TRUE(DeleteFile(Path(ansi + "/d" + ansi + ".txt")));
    EXPECT_TRUE(RemoveDir(Path(ansi + "/" + ansi)));
    EXPECT_TRUE(RemoveDir(Path(ansi)));
    EXPECT_TRUE(Listing(dir_).empty());
}

TEST_F(FilesTest, ANameOutsideTheCodePageIsRefusedNeverReplaced) {
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC.txt";  // 日本.txt
    Put(Path(japanese), "x");
    Put(Path("plain.xml"), "y");
    Put(Path("plain.txt"), "z");
    TSearchRec rec;
    // The search skips it and lists it for the caller; every other file is found.
    struct Case {
        std::string mask;
        std::vector<std::string> found, unnamable;
    };
    const std::vector<Case> cases = {
        {"*.txt", {"plain.txt"}, {Path(japanese)}},
        {"*.xml", {"plain.xml"}, {}},
        {"??.txt", {}, {Path(japanese)}},  // nothing else found: still listed
        {"*", {"plain.txt", "plain.xml"}, {Path(japanese)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        std::vector<std::string> found;
        const int rc = FindFirst(Path(c.mask), faAnyFile & ~faDirectory, rec);
        EXPECT_EQ(rc, c.found.empty() ? ENOENT : 0);
        for (int r = rc; r == 0; r = FindNext(rec)) found.push_back(rec.Name);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(rec.Unnamable, c.unnamable);
        FindClose(rec);
    }
    EXPECT_NE(UnnamableFileMessage(Path(japanese)).find("cannot be represented in code page 1251"),
              std::string::npos);
    std::string name;
    EXPECT_FALSE(TryAnsiFileName("\xE6\x97\xA5.txt", name));
    EXPECT_THROW(AnsiFileName("\xE6\x97\xA5.txt"), EFileNameError);
}
