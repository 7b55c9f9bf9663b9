#include "zip/kpCntn.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/zip/ZipTestUtil.h"

using namespace zip;

namespace {

struct Counted : TObject {
    explicit Counted(int v, int* alive = nullptr) : value(v), alive_(alive) {
        if (alive_) ++*alive_;
    }
    ~Counted() override {
        if (alive_) --*alive_;
    }
    std::string ClassName() const override { return "Counted"; }
    int value;
    int* alive_;
};

class IntList : public TSortedObjectList {
public:
    using TSortedObjectList::TSortedObjectList;
    int Compare(const TObject* a, const TObject* b) const override {
        int x = static_cast<const Counted*>(a)->value, y = static_cast<const Counted*>(b)->value;
        return x < y ? -1 : x > y ? 1 : 0;
    }
};

std::vector<int> Values(TObjectList& list) {
    std::vector<int> v;
    for (int i = 0; i < list.Count(); ++i) v.push_back(static_cast<Counted*>(list.GetItem(i))->value);
    return v;
}

}  // namespace

TEST(ZipObjectList, GrowsByTheLibrarysSteps) {
    TObjectList list(false);
    std::vector<int> capacities;
    Counted item(0);
    for (int i = 0; i < 40; ++i) {
        list.Add(&item);
        if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{4, 8, 16, 32, 48}));
}

TEST(ZipObjectList, ClearKeepsItemsAliveDestroyFreesThem) {
    int alive = 0;
    std::vector<Counted*> items;
    {
        TObjectList list(true);
        for (int i = 0; i < 3; ++i) items.push_back(new Counted(i, &alive)), list.Add(items.back());
        list.Clear();
        EXPECT_EQ(alive, 3);
        EXPECT_EQ(list.Count(), 0);
        for (auto* it : items) list.Add(it);
    }
    EXPECT_EQ(alive, 0);
}

TEST(ZipObjectList, RangeChecksRaiseWithTheOffendingValue) {
    TObjectList list(false);
    Counted a(1), b(2);
    list.Add(&a);
    struct Case {
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {[&] { list.GetItem(1); }, "List index out of bounds (1)"},
        {[&] { list.GetItem(-1); }, "List index out of bounds (-1)"},
        {[&] { list.Insert(2, &b); }, "List index out of bounds (2)"},
        {[&] { list.SetCapacity(0); }, "List index out of bounds (0)"},
        {[&] { list.SetCount(0x1FFFFFFF); }, "List index out of bounds (536870911)"},
        {[&] { list.Neighbour(&b, true); }, "tObject Counted not in item list"},
    };
    for (auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const rtl::EListError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    list.Insert(1, &b);
    EXPECT_EQ(list.Neighbour(&a, true), &b);
    EXPECT_EQ(list.Neighbour(&a, false), nullptr);
    EXPECT_EQ(list.Neighbour(nullptr, false), &b);
}

TEST(ZipSortedList, DuplicateModes) {
    {
        IntList list(dupError, true);
        list.Add(new Counted(5));
        list.Add(new Counted(1));
        auto* dup = new Counted(5);
        try {
            list.Add(dup);
            ADD_FAILURE();
        } catch (const rtl::EListError& e) {
            EXPECT_EQ(e.Message(), "Duplicate Object index");
        }
        delete dup;
        EXPECT_EQ(Values(list), (std::vector<int>{1, 5}));
    }
    {
        IntList list(dupIgnore, false);
        Counted a(3), b(3);
        list.Add(&a);
        list.Add(&b);
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.GetItem(0), &a);
    }
    {
        IntList list(dupAccept, false);
        Counted a(3), b(3), c(1), d(7);
        for (auto* x : {&a, &c, &d, &b}) list.Add(x);
        EXPECT_EQ(Values(list), (std::vector<int>{1, 3, 3, 7}));
        EXPECT_EQ(list.GetItem(1), &b);  // goes before the first equal item
        int index;
        Counted key(3);
        EXPECT_TRUE(list.Find(&key, index));
        EXPECT_EQ(index, 1);
        Counted absent(5);
        EXPECT_FALSE(list.Find(&absent, index));
        EXPECT_EQ(index, 3);
        EXPECT_THROW(list.Put(0, &a), rtl::EListError);
    }
}

TEST(ZipSortedList, StreamedFormRoundTrip) {
    RegisterItemClass(
        "Counted", [] { return new Counted(0); },
        [](TObject& o, TStream& s) { s.ReadBuffer(&static_cast<Counted&>(o).value, 4); },
        [](const TObject& o, TStream& s) { s.WriteBuffer(&static_cast<const Counted&>(o).value, 4); });
    rtl::TMemoryStream mem;
    {
        IntList list(dupAccept, true);
        for (int v : {4, 2, 9}) list.Add(new Counted(v));
        list.WriteData(mem);
    }
    std::vector<uint8_t> d(static_cast<const uint8_t*>(mem.Memory()),
                           static_cast<const uint8_t*>(mem.Memory()) + mem.Size());
    ASSERT_GE(d.size(), 6u);
    EXPECT_EQ(d[0], dupAccept);
    EXPECT_EQ(d[1], 1);
    EXPECT_EQ(d[2], 3);
    EXPECT_EQ(d[6], 7);  // "Counted"
    mem.SetPosition(0);
    IntList back(dupError, true);
    back.ReadData(mem);
    EXPECT_EQ(back.Duplicates(), dupAccept);
    EXPECT_EQ(Values(back), (std::vector<int>{2, 4, 9}));
    UnregisterItemClass("Counted");
    mem.SetPosition(0);
    try {
        back.ReadData(mem);
        ADD_FAILURE();
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class <Counted> not registered");
    }
}

class BufferStreamTest : public ::testing::Test {
protected:
    rtl::TMemoryStream under;
    void SetUp() override {
        std::string data = "0123456789abcdefghijklmnopqrstuvwxyz";
        under.Write(data.data(), static_cast<int64_t>(data.size()));
        under.SetPosition(0);
    }
};

TEST_F(BufferStreamTest, SeekFromEndTakesTheOffsetsMagnitude) {
    TS_BufferStream s(&under, 8);
    for (int64_t off : {22, -22}) {
        EXPECT_EQ(s.Seek(off, soEnd), 36 - 22);
        char c;
        ASSERT_EQ(s.Read(&c, 1), 1);
        EXPECT_EQ(c, 'e');
    }
    try {
        s.Seek(0, static_cast<TSeekOrigin>(7));
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid seek origin (7)");
    }
}

TEST_F(BufferStreamTest, SizeCountsPendingBytesAndReadFollowsWrittenBytes) {
    TS_BufferStream s(&under, 64);
    s.Seek(34, soBeginning);
    s.Write("XYZW", 4);
    EXPECT_EQ(s.Size(), 38);
    EXPECT_EQ(under.Size(), 36);  // still held in the buffer
    s.Seek(2, soBeginning);
    s.Write("AB", 2);
    char buf[3] = {};
    ASSERT_EQ(s.Read(buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "456");
    EXPECT_EQ(s.Position(), 7);
}

TEST_F(BufferStreamTest, WriteAfterReadLandsAtTheLogicalPosition) {
    {
        TS_BufferStream s(&under, 16);
        char buf[5];
        s.Read(buf, 5);
        s.Write("--", 2);
        EXPECT_EQ(s.Position(), 7);
    }
    std::string data(static_cast<const char*>(under.Memory()), static_cast<size_t>(under.Size()));
    EXPECT_EQ(data.substr(0, 9), "01234--78");
}

TEST_F(BufferStreamTest, PutBackStepsBackWithinTheBuffer) {
    TS_BufferStream s(&under, 16);
    char c;
    s.Read(&c, 1);
    s.PutBack('Q');
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, 'Q');
    s.Seek(20, soBeginning);
    try {
        s.PutBack('x');
        ADD_FAILURE();
    } catch (const rtl::EStreamError& e) {
        EXPECT_EQ(e.Message(), "Putback overflow");
    }
}

TEST(LFNFileStream, ReadOnlyNeverFlushesToDiskAndWritesReachTheFile) {
    ziptest::TempDir dir;
    std::string name = dir / "f.bin";
    {
        TLFNFileStream out(name, fmCreate, true, 8192);
        EXPECT_TRUE(out.FlushOnDestroy());
        out.Write("hello", 5);
    }
    EXPECT_EQ(ziptest::ReadFile(name), "hello");
    TLFNFileStream in(name, fmOpenRead | fmShareDenyWrite, true, 8192);
    EXPECT_FALSE(in.FlushOnDestroy());
    EXPECT_EQ(in.Size(), 5);
    EXPECT_THROW(TLFNFileStream(dir / "missing", fmOpenRead), rtl::EFOpenError);
}

TEST(FolderTest, TryChangeDirUsesNoCurrentDirectory) {
    ziptest::TempDir dir;
    std::string before = std::filesystem::current_path().string();
    EXPECT_TRUE(TryChangeDir(dir.Path()));
    ziptest::WriteFile(dir / "file", "x");
    EXPECT_FALSE(TryChangeDir(dir / "file"));
    EXPECT_FALSE(TryChangeDir(dir / "none"));
    EXPECT_EQ(std::filesystem::current_path().string(), before);
}
