#include "platform/rtl/Streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "platform/rtl/Files.h"

using namespace rtl;

namespace {

class StreamFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/rtl_streams_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = std::string(pattern) + "/";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Path(const std::string& name) const { return dir_ + name; }

    static std::string Slurp(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void Put(const std::string& name, const std::string& data) {
        std::ofstream out(name, std::ios::binary);
        out << data;
    }

    std::string dir_;
};

// A stream that hands out at most a few bytes per call, like a pipe.
class TrickleStream : public TStream {
public:
    explicit TrickleStream(std::string data) : data_(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t n = std::min<int64_t>({count, 3, static_cast<int64_t>(data_.size()) - pos_});
        std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        pos_ = origin == soBeginning ? offset : origin == soCurrent ? pos_ + offset : data_.size() + offset;
        return pos_;
    }

private:
    std::string data_;
    int64_t pos_ = 0;
};

}  // namespace

TEST(MemoryStream, WriteSeekReadAndGrow) {
    TMemoryStream m;
    m.WriteBuffer("abcdef", 6);
    EXPECT_EQ(m.Size(), 6);
    EXPECT_EQ(m.Position(), 6);
    m.SetPosition(2);
    m.WriteBuffer("XY", 2);  // overwrite in the middle keeps the tail
    m.Seek(-1, soEnd);
    char c = 0;
    m.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'f');
    EXPECT_EQ(std::string(static_cast<const char*>(m.Memory()), 6), "abXYef");

    // Writing past the end fills the gap with zeros.
    m.Seek(2, soEnd);
    m.WriteBuffer("Z", 1);
    ASSERT_EQ(m.Size(), 9);
    EXPECT_EQ(std::memcmp(m.Memory(), "abXYef\0\0Z", 9), 0);

    char buf[16];
    m.SetPosition(7);
    EXPECT_EQ(m.Read(buf, 16), 2);  // short read at the end
    EXPECT_EQ(m.Read(buf, 16), 0);
}

TEST(MemoryStream, SetSizeKeepsOrClampsPosition) {
    TMemoryStream m;
    m.WriteBuffer("0123456789", 10);
    m.SetPosition(4);
    m.SetSize(20);
    EXPECT_EQ(m.Position(), 4);
    EXPECT_EQ(static_cast<const char*>(m.Memory())[15], 0);
    m.SetSize(3);
    EXPECT_EQ(m.Position(), 3);
    EXPECT_EQ(m.Size(), 3);
    m.Clear();
    EXPECT_EQ(m.Size(), 0);
    EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, ShortTransfersRaiseStreamErrors) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(1);
    char buf[8];
    try {
        m.ReadBuffer(buf, 5);
        FAIL() << "no EReadError";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    // A negative position transfers nothing.
    m.SetPosition(-4);
    EXPECT_EQ(m.Read(buf, 1), 0);
    try {
        m.WriteBuffer("x", 1);
        FAIL() << "no EWriteError";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), "Stream write error");
    }
    EXPECT_NO_THROW(m.ReadBuffer(buf, 0));

    // A size past the end of the address range is a stream error, not an overflow.
    m.SetPosition(std::numeric_limits<int64_t>::max() - 1);
    EXPECT_THROW(m.WriteBuffer("xyz", 3), EStreamError);
    EXPECT_THROW(m.SetSize(-1), EStreamError);
    EXPECT_EQ(m.Size(), 3);
}

TEST(Stream, ReadBufferCollectsShortReads) {
    TrickleStream t("hello, world");
    char buf[12];
    t.ReadBuffer(buf, 12);
    EXPECT_EQ(std::string(buf, 12), "hello, world");
    EXPECT_EQ(t.Size(), 12);
    EXPECT_EQ(t.Position(), 12);  // Size leaves the position where it was
}

TEST(Stream, AbstractOperationsRaise) {
    TStream s;
    char c;
    EXPECT_THROW(s.Read(&c, 1), EAbstractError);
    EXPECT_THROW(s.Write(&c, 1), EAbstractError);
    EXPECT_THROW(s.Seek(0, soBeginning), EAbstractError);
    TrickleStream t("x");
    EXPECT_THROW(t.SetSize(0), EStreamError);
}

TEST(Stream, CopyFromCountAndWholeSource) {
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    TStringStream src(big);
    src.SetPosition(100);

    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(src, 70000), 70000);  // more than one internal buffer
    EXPECT_EQ(std::memcmp(part.Memory(), big.data() + 100, 70000), 0);
    EXPECT_EQ(src.Position(), 70100);

    TMemoryStream whole;
    EXPECT_EQ(whole.CopyFrom(src, 0), static_cast<int64_t>(big.size()));  // 0: all of it, from the start
    ASSERT_EQ(whole.Size(), static_cast<int64_t>(big.size()));
    EXPECT_EQ(std::memcmp(whole.Memory(), big.data(), big.size()), 0);

    TStringStream shortSrc("abc");
    TMemoryStream dst;
    EXPECT_THROW(dst.CopyFrom(shortSrc, 10), EReadError);

    TrickleStream trickle("trickled data");
    TMemoryStream fromTrickle;
    EXPECT_EQ(fromTrickle.CopyFrom(trickle, 0), 13);
    EXPECT_EQ(std::string(static_cast<const char*>(fromTrickle.Memory()), 13), "trickled data");
}

TEST(StringStream, DataStringFollowsWritesWithoutTruncating) {
    TStringStream s("Hello, world");
    EXPECT_EQ(s.Position(), 0);
    EXPECT_EQ(s.ReadString(5), "Hello");
    s.WriteString("!!");
    EXPECT_EQ(s.DataString(), "Hello!!world");
    s.Seek(0, soEnd);
    s.WriteString(std::string("\0\xFF", 2));
    EXPECT_EQ(s.DataString(), std::string("Hello!!world\0\xFF", 14));
    s.SetPosition(12);
    EXPECT_EQ(s.ReadString(100), std::string("\0\xFF", 2));
    EXPECT_EQ(s.ReadString(1), "");
}

TEST_F(StreamFiles, CreateWriteReopenReadAndReadWrite) {
    const std::string name = Path("data.bin");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("0123456789", 10);
        EXPECT_EQ(f.Size(), 10);
        EXPECT_EQ(f.FileName(), name);
        EXPECT_EQ(f.ClassName(), "TFileStream");
        EXPECT_TRUE(Is<THandleStream>(&f));
    }
    EXPECT_EQ(Slurp(name), "0123456789");
    {
        TFileStream f(name, fmOpenRead | fmShareDenyNone);
        char buf[4];
        f.Seek(-4, soEnd);
        f.ReadBuffer(buf, 4);
        EXPECT_EQ(std::string(buf, 4), "6789");
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);  // opened for reading only
    }
    {
        TFileStream f(name, fmOpenReadWrite | fmShareExclusive);
        f.SetPosition(3);
        f.WriteBuffer("abc", 3);
        f.SetSize(8);  // the position follows the new end
        EXPECT_EQ(f.Position(), 8);
        f.SetPosition(0);
        char buf[8];
        f.ReadBuffer(buf, 8);
        EXPECT_EQ(std::string(buf, 8), "012abc67");
    }
    {
        TFileStream f(name, fmOpenWrite | fmShareDenyWrite);
        char c;
        EXPECT_THROW(f.ReadBuffer(&c, 1), EReadError);  // opened for writing only
        f.Seek(0, soEnd);
        f.WriteBuffer("+", 1);
    }
    EXPECT_EQ(Slurp(name), "012abc67+");
    {
        // fmCreate over an existing file truncates it; the library convention 0xFFFF creates too.
        TFileStream f(name, 0xFFFF);
        EXPECT_EQ(f.Size(), 0);
        f.SetSize(5);
    }
    EXPECT_EQ(Slurp(name), std::string(5, '\0'));
}

TEST_F(StreamFiles, OpenAndCreateErrorsNameTheFileAndTheReason) {
    try {
        TFileStream f(Path("missing.txt"), fmOpenRead);
        FAIL() << "no EFOpenError";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + Path("missing.txt") + "\". No such file or directory");
    }
    try {
        TFileStream f(Path("no/such/dir/x.txt"), fmCreate);
        FAIL() << "no EFCreateError";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot create file \"" + Path("no/such/dir/x.txt") + "\". No such file or directory");
    }
    // A relative name is reported in full.
    const std::string cwd = GetCurrentDir();
    ASSERT_TRUE(SetCurrentDir(dir_));
    try {
        TFileStream f("./rel.txt", fmOpenRead);
        ADD_FAILURE() << "no EFOpenError";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("\"" + Path("rel.txt") + "\""), std::string::npos) << e.Message();
    }
    ASSERT_TRUE(SetCurrentDir(cwd));
    EXPECT_THROW(TFileStream(dir_, fmOpenRead), EFOpenError);  // a folder is not a file
}

TEST_F(StreamFiles, ShareModesAmongOpeners) {
    const std::string name = Path("shared.txt");
    Put(name, "content");
    const uint16_t R = fmOpenRead, W = fmOpenWrite, RW = fmOpenReadWrite;
    struct Case {
        uint16_t first, second;
        bool secondOpens;
        const char* what;
    } cases[] = {
        {R | fmShareDenyNone, R | fmShareDenyNone, true, "readers sharing everything"},
        {R | fmShareDenyWrite, R | fmShareDenyWrite, true, "readers denying writers"},
        {R | fmShareDenyWrite, W | fmShareDenyNone, false, "writer against a deny-write reader"},
        {W | fmShareDenyWrite, W | fmShareDenyWrite, false, "two journal writers"},
        {W | fmShareDenyWrite, R | fmShareDenyNone, true, "reader beside a deny-write writer"},
        {W | fmShareDenyNone, R | fmShareDenyWrite, false, "deny-write reader while someone writes"},
        {R | fmShareDenyRead, R | fmShareDenyNone, false, "reader against deny-read"},
        {R | fmShareDenyRead, W | fmShareDenyNone, true, "writer beside deny-read"},
        {RW | fmShareExclusive, R | fmShareDenyNone, false, "exclusive holder"},
        {R | fmShareDenyNone, RW | fmShareExclusive, false, "exclusive while read"},
        {R | fmShareCompat, R | fmShareDenyNone, false, "compat is exclusive"},
    };
    for (const auto& c : cases) {
        TFileStream first(name, c.first);
        bool opened = true;
        try {
            TFileStream second(name, c.second);
        } catch (const EFOpenError& e) {
            opened = false;
            EXPECT_NE(e.Message().find("being used by another process"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(opened, c.secondOpens) << c.what;
    }
    // Closing releases the claim.
    { TFileStream ex(name, RW | fmShareExclusive); }
    EXPECT_NO_THROW(TFileStream(name, RW | fmShareExclusive));

    // A refused create leaves the held file's content alone.
    TFileStream holder(name, R | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(name, fmCreate), EFCreateError);
    EXPECT_EQ(Slurp(name), "content");
}

TEST_F(StreamFiles, MemoryStreamFileRoundTrip) {
    const std::string name = Path("mem.bin");
    TMemoryStream m;
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i);
    m.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    m.SetPosition(10);
    m.SaveToFile(name);  // the whole content, whatever the position
    EXPECT_EQ(Slurp(name), data);

    Put(name, "short");  // saving again replaces, loading reads it all
    TMemoryStream back;
    back.LoadFromFile(name);
    EXPECT_EQ(back.Size(), 5);
    EXPECT_EQ(std::string(static_cast<const char*>(back.Memory()), 5), "short");
    EXPECT_THROW(back.LoadFromFile(Path("none")), EFOpenError);

    TStringStream s;
    back.SaveToStream(s);
    EXPECT_EQ(s.DataString(), "short");
    TMemoryStream fromString;
    fromString.LoadFromStream(s);
    EXPECT_EQ(fromString.Size(), 5);
}

TEST(HandleStream, ReadsAPipeAndReportsFailuresAsZero) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    THandleStream in(fds[0]), out(fds[1]);
    out.WriteBuffer("piped", 5);
    EXPECT_EQ(out.Seek(0, soBeginning), -1);  // pipes cannot seek
    ::close(fds[1]);
    char buf[8];
    in.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "piped");
    EXPECT_EQ(in.Read(buf, 8), 0);
    ::close(fds[0]);
    EXPECT_EQ(in.Read(buf, 8), 0);  // a closed handle
}
