#include "zip/kpZipObj.h"

#include <gtest/gtest.h>

#include "tests/zip/ZipTestUtil.h"
#include "zip/KpLib.h"

using namespace zip;
using ziptest::U16;
using ziptest::U32;

namespace {

std::string Bytes(rtl::TMemoryStream& s) {
    return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

void Put(rtl::TMemoryStream& s, const std::string& data) {
    s.Write(data.data(), static_cast<int64_t>(data.size()));
}

std::string EndRecord(uint16_t entries, uint16_t commentLength) {
    rtl::TMemoryStream s;
    TEndCentral end;
    end.SetTotalEntries(entries);
    end.SetEntriesThisDisk(entries);
    end.SetComment(std::string(commentLength, 'c'));
    end.WriteRecord(s);
    return Bytes(s);
}

}  // namespace

TEST(EndCentral, FindAndReadBySize) {
    for (int size : {0, 1, 21}) {
        rtl::TMemoryStream s;
        Put(s, std::string(static_cast<size_t>(size), 'x'));
        TEndCentral end;
        EXPECT_EQ(end.FindAndRead(s), size == 0) << size;
    }
}

TEST(EndCentral, LongestCommentIsStillFound) {
    rtl::TMemoryStream s;
    Put(s, "some leading bytes");
    Put(s, EndRecord(3, 65535));
    TEndCentral end;
    ASSERT_TRUE(end.FindAndRead(s));
    EXPECT_EQ(end.GetTotalEntries(), 3u);
    EXPECT_EQ(end.CommentLength, 65535);
    EXPECT_EQ(end.CommentPosition, 18 + 22);
    EXPECT_EQ(end.Comment().size(), 65535u);
}

TEST(EndCentral, TheSignatureClosestToTheEndWins) {
    rtl::TMemoryStream s;
    Put(s, EndRecord(1, 0));
    Put(s, EndRecord(2, 0));
    TEndCentral end;
    ASSERT_TRUE(end.FindAndRead(s));
    EXPECT_EQ(end.GetTotalEntries(), 2u);
    EXPECT_EQ(end.CommentPosition, 44);
}

TEST(EndCentral, Zip64RecordsAreWrittenOnlyWhenAFieldEscapes) {
    {
        rtl::TMemoryStream s;
        TEndCentral end;
        end.SetTotalEntries(70000);
        end.SetEntriesThisDisk(70000);
        end.SetCentralOffset(0x123456789ull);
        end.SetCentralSize(100);
        Put(s, "0123456789");
        end.WriteRecord(s);
        std::string b = Bytes(s);
        ASSERT_EQ(b.size(), 10u + 56 + 20 + 22);
        EXPECT_EQ(U32(b, 10), 0x06064B50u);
        EXPECT_EQ(U32(b, 66), 0x07064B50u);
        EXPECT_EQ(U32(b, 74), 10u);  // offset of the Zip64 end record
        EXPECT_EQ(U32(b, 82), 1u);   // total disks
        EXPECT_EQ(U16(b, 86 + 10), 0xFFFF);
        TEndCentral back;
        ASSERT_TRUE(back.FindAndRead(s));
        EXPECT_EQ(back.GetTotalEntries(), 70000u);
        EXPECT_EQ(back.GetEntriesThisDisk(), 70000u);
        EXPECT_EQ(back.GetCentralOffset(), 0x123456789ull);
        EXPECT_EQ(back.GetCentralSize(), 100u);
        EXPECT_EQ(back.GetNumberOfDisks(), 1u);
    }
    {
        rtl::TMemoryStream s;
        TEndCentral end;
        end.SetTotalEntries(70000);
        end.SetTotalEntries(5);  // back in range: nothing escapes
        end.WriteRecord(s);
        EXPECT_EQ(Bytes(s).size(), 22u);
        EXPECT_EQ(end.Zip64End(), nullptr);
    }
}

TEST(ZipHeaderInfo, DefaultsAndNameInvariant) {
    TZipHeaderInfo h;
    EXPECT_EQ(h.VersionMadeBy, 45);
    EXPECT_EQ(h.VersionNeeded, 20);
    EXPECT_EQ(h.CompressionMethod, 8);
    EXPECT_EQ(h.CRC32, 0xFFFFFFFFu);
    EXPECT_EQ(h.InternalFileAttributes, 1);
    EXPECT_EQ(h.ExternalFileAttributes, 0x20u);
    EXPECT_EQ(h.OEMConvert, oemNever);
    h.SetFileName("name.txt");
    h.SetDirectory("dir/sub");
    EXPECT_EQ(h.Directory(), "dir\\sub\\");
    EXPECT_EQ(h.FileNameLength, 16);
    EXPECT_EQ(h.LocalHeaderSize(), 46);
    h.SetFileComment("note");
    EXPECT_TRUE(h.HasComment());
    EXPECT_EQ(h.CentralHeaderSize(), 46 + 16 + 4);
}

TEST(ZipHeaderInfo, SixtyFourBitValuesEscapeAtTheirLimit) {
    struct Case {
        uint64_t value;
        bool escaped;
    } cases[] = {{0xFFFFFFFEull, false}, {0xFFFFFFFFull, true}, {0x100000000ull, true}};
    for (const auto& c : cases) {
        TZipHeaderInfo h;
        h.SetUncompressedSize(c.value);
        h.SetCompressedSize(c.value);
        h.SetRelativeOffset(c.value);
        EXPECT_EQ(h.UncompressedSize32 == 0xFFFFFFFF, c.escaped);
        EXPECT_EQ(h.GetUncompressedSize(), c.value);
        EXPECT_EQ(h.GetCompressedSize(), c.value);
        EXPECT_EQ(h.GetRelativeOffset(), c.value);
    }
    TZipHeaderInfo h;
    h.SetDiskNumberStart(0xFFFE);
    EXPECT_EQ(h.DiskNumberStart16, 0xFFFE);
    h.SetDiskNumberStart(0xFFFF);
    EXPECT_EQ(h.DiskNumberStart16, 0xFFFF);
    EXPECT_EQ(h.GetDiskNumberStart(), 0xFFFFu);
}

TEST(ZipHeaderInfo, LocalHeaderOfAHugeEntryCarriesBothSizesInZip64) {
    rtl::TMemoryStream s;
    TZipHeaderInfo h;
    h.SetFileName("big.bin");
    h.SetUncompressedSize(0x100000010ull);
    h.SetCompressedSize(0x12345);
    h.WriteLocalHeader(s);
    std::string b = Bytes(s);
    ASSERT_EQ(b.size(), 30u + 7 + 4 + 16);
    EXPECT_EQ(U16(b, 4), 45);
    EXPECT_EQ(U32(b, 18), 0xFFFFFFFFu);
    EXPECT_EQ(U32(b, 22), 0xFFFFFFFFu);
    EXPECT_EQ(U16(b, 28), 20);
    EXPECT_EQ(U16(b, 37), 1);
    EXPECT_EQ(U16(b, 39), 16);
    EXPECT_EQ(U32(b, 41), 0x10u);  // uncompressed, low half
    EXPECT_EQ(U32(b, 45), 1u);
    EXPECT_EQ(U32(b, 49), 0x12345u);  // compressed, widened
    s.SetPosition(0);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadLocalHeader(s));
    EXPECT_EQ(back.GetUncompressedSize(), 0x100000010ull);
    EXPECT_EQ(back.FileName(), "big.bin");
    EXPECT_EQ(s.Position(), 37);  // just after the name
}

TEST(ZipHeaderInfo, LocalHeaderExtraBlocksAreWalkedByTheirLengths) {
    // An unknown block first, then the Zip64 block.
    rtl::TMemoryStream s;
    uint8_t h[30] = {};
    PutU32(h, LOCSIG);
    PutU32(h + 18, 0xFFFFFFFF);
    PutU32(h + 22, 0xFFFFFFFF);
    PutU16(h + 26, 1);
    PutU16(h + 28, 4 + 5 + 4 + 16);
    s.Write(h, 30);
    Put(s, "n");
    uint8_t extra[29] = {};
    PutU16(extra, 0x5455);
    PutU16(extra + 2, 5);
    PutU16(extra + 9, 1);
    PutU16(extra + 11, 16);
    PutU64(extra + 13, 5000000000ull);
    PutU64(extra + 21, 4000000000ull + 1000000000ull);
    s.Write(extra, 29);
    s.SetPosition(0);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadLocalHeader(s));
    EXPECT_EQ(back.GetUncompressedSize(), 5000000000ull);
    EXPECT_EQ(back.GetCompressedSize(), 5000000000ull);
    EXPECT_EQ(back.Zip64BlockLength, 20);
}

TEST(ZipHeaderInfo, CentralHeaderRoundTripAndCopiedEntriesDropOldExtraBlocks) {
    rtl::TMemoryStream s;
    TZipHeaderInfo h;
    h.SetFileName("file.txt");
    h.SetDirectory("a\\b");
    h.CRC32 = 0xDEADBEEF;
    h.SetCompressedSize(10);
    h.SetUncompressedSize(20);
    h.SetRelativeOffset(0x1FFFFFFFFull);
    h.CentralExtraFieldLength = 99;  // as read from an old archive
    h.SetFileComment("hi");
    h.WriteCentralHeader(s);
    std::string b = Bytes(s);
    ASSERT_EQ(b.size(), 46u + 12 + 12 + 2);
    EXPECT_EQ(b.substr(46, 12), "a/b/file.txt");
    EXPECT_EQ(U16(b, 30), 12);  // only the fresh Zip64 block
    EXPECT_EQ(U16(b, 6), 45);
    EXPECT_EQ(U32(b, 42), 0xFFFFFFFFu);
    s.SetPosition(0);
    TZipHeaderInfo back;
    TStream* stream = &s;
    ASSERT_TRUE(back.ReadCentralHeader(stream));
    EXPECT_EQ(back.Directory(), "a\\b\\");
    EXPECT_EQ(back.FileName(), "file.txt");
    EXPECT_EQ(back.GetRelativeOffset(), 0x1FFFFFFFFull);
    EXPECT_EQ(back.CRC32, 0xDEADBEEFu);
    EXPECT_EQ(s.Position(), 46 + 12);  // the caller skips extra field and comment
    EXPECT_FALSE(back.CommentLoaded());
}

TEST(ZipHeaderInfo, BadRecordsLeaveTheStreamWhereItWas) {
    rtl::TMemoryStream s;
    Put(s, "PK\x01\x02 too short");
    s.SetPosition(0);
    TZipHeaderInfo h;
    TStream* stream = &s;
    EXPECT_FALSE(h.ReadCentralHeader(stream));
    EXPECT_EQ(s.Position(), 0);
    EXPECT_FALSE(h.ReadLocalHeader(s));
    EXPECT_EQ(s.Position(), 0);
}

TEST(ZipHeaderInfo, OemModes) {
    struct Case {
        TOEMConvert mode;
        std::string name;
        std::string stored;
        uint16_t madeBy;
    } cases[] = {
        {oemFlexible, "\xCF\xF0\xE8\xE2\xE5\xF2.xml", "\x8F\xE0\xA8\xA2\xA5\xE2.xml", 0x002D},
        {oemFlexible, "\x88.xml", "\x88.xml", 0x0B2D},
        {oemAlways, "\xCF.xml", "\x8F.xml", 0x002D},
        {oemNever, "\xCF.xml", "\xCF.xml", 0x002D},
    };
    for (const auto& c : cases) {
        TZipHeaderInfo h;
        h.OEMConvert = c.mode;
        h.SetFileName(c.name);
        rtl::TMemoryStream s;
        h.WriteCentralHeader(s);
        std::string b = Bytes(s);
        EXPECT_EQ(b.substr(46), c.stored);
        EXPECT_EQ(U16(b, 4), c.madeBy);
        s.SetPosition(0);
        TZipHeaderInfo back;
        back.OEMConvert = c.mode;
        TStream* stream = &s;
        ASSERT_TRUE(back.ReadCentralHeader(stream));
        EXPECT_EQ(back.FileName(), c.name);
    }
}

TEST(SortedZip, Orders) {
    TSortedZip owner(dupError, true);
    auto make = [&](const char* dir, const char* name, uint32_t date, uint64_t comp, uint64_t unc,
                    uint64_t offset) {
        auto* h = new TZipHeaderInfo;
        h->SetDirectory(dir);
        h->SetFileName(name);
        h->LastModFileDateTime = date;
        h->SetCompressedSize(comp);
        h->SetUncompressedSize(unc);
        h->SetRelativeOffset(offset);
        owner.Add(h);
        return h;
    };
    uint32_t d1 = 40u << 25 | 1u << 21 | 1u << 16, d2 = 44u << 25 | 1u << 21 | 1u << 16;
    auto* a = make("b", "Zeta.txt", d1, 50, 100, 300);
    auto* b = make("", "alpha.txt", d2, 10, 100, 0);
    auto* c = make("A", "mid.txt", d1, 90, 100, 100);
    auto order = [&](TZipSortMode mode) {
        TSortedZip view(dupAccept, false);
        view.SortMode = mode;
        for (int i = 0; i < owner.Count(); ++i) view.Add(owner.GetItem(i));
        std::vector<TZipHeaderInfo*> v;
        for (int i = 0; i < view.Count(); ++i) v.push_back(view.Entry(i));
        if (mode == ByDate) {
            EXPECT_EQ(view.IndexOf(a), 2);
        }
        return v;
    };
    using V = std::vector<TZipHeaderInfo*>;
    EXPECT_EQ(order(ByNone), (V{b, c, a}));
    EXPECT_EQ(order(ByName), (V{b, c, a}));
    EXPECT_EQ(order(ByFileName), (V{b, c, a}));
    EXPECT_EQ(order(ByDirectoryName), (V{b, c, a}));
    EXPECT_EQ(order(ByDate), (V{b, c, a}));  // newest first, equal dates in arrival order
    EXPECT_EQ(order(ByCompressedSize), (V{c, a, b}));
    EXPECT_EQ(order(ByRate), (V{c, a, b}));
    TSortedZip probe(dupAccept, false);
    probe.SortMode = ByDate;
    EXPECT_NE(probe.Compare(a, a), 0);
}
