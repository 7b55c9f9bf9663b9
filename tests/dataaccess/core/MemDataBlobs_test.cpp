#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Strings.h"

namespace dac {
namespace {

std::vector<uint32_t> UsedCounts(TCRBlobData& d) {
    std::vector<uint32_t> out;
    for (PPieceHeader p = d.FirstPiece(); p; p = PieceHeader::Next(p)) out.push_back(PieceHeader::Used(p));
    return out;
}

std::vector<uint32_t> Capacities(TCRBlobData& d) {
    std::vector<uint32_t> out;
    for (PPieceHeader p = d.FirstPiece(); p; p = PieceHeader::Next(p))
        out.push_back(PieceHeader::Capacity(p));
    return out;
}

std::string Value(TCRBlobData& d) {
    std::string s(static_cast<std::size_t>(d.GetSize()), '\0');
    if (!s.empty()) s.resize(static_cast<std::size_t>(d.Read(0, 0, s.data())));
    return s;
}

// Appends a piece of the given capacity holding text.
void AddPiece(TCRBlobData& d, uint32_t capacity, const std::string& text) {
    PPieceHeader p;
    TCRBlobData::AllocPiece(p, capacity);
    std::memcpy(PieceData(p), text.data(), text.size());
    PieceHeader::SetUsed(p, static_cast<uint32_t>(text.size()));
    d.AppendPiece(p);
}

struct MemDataBlobData : ::testing::Test {
    TCRBlobData* d = new TCRBlobData();
    ~MemDataBlobData() override { d->Free(); }
};

TEST_F(MemDataBlobData, LargeWriteFillsPiecesOfThePieceSize) {
    std::vector<uint8_t> bytes(100000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    d->Write(0, 100000, bytes.data());
    const uint32_t ps = static_cast<uint32_t>(DefaultPieceSize);
    EXPECT_EQ(Capacities(*d), (std::vector<uint32_t>{ps, ps}));
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{ps, 100000 - ps}));
    std::vector<uint8_t> back(100000);
    EXPECT_EQ(d->Read(0, 0, back.data()), 100000);
    EXPECT_EQ(back, bytes);
    std::vector<uint8_t> mid(10);
    EXPECT_EQ(d->Read(ps - 5, 10, mid.data()), 10);  // across the piece border
    EXPECT_TRUE(std::equal(mid.begin(), mid.end(), bytes.begin() + (ps - 5)));
    EXPECT_EQ(d->Read(100001, 5, mid.data()), 0);
    EXPECT_EQ(d->Read(99998, 5, mid.data()), 2);
}

TEST_F(MemDataBlobData, WriteBeyondTheEndAppends) {
    d->Write(0, 3, "abc");
    d->Write(10, 2, "de");
    EXPECT_EQ(Value(*d), "abcde");
}

TEST_F(MemDataBlobData, TruncateEmptiesLaterPiecesAndWritesRefillThem) {
    AddPiece(*d, 20, std::string(20, 'a'));
    AddPiece(*d, 20, std::string(20, 'b'));
    AddPiece(*d, 20, std::string(20, 'c'));
    d->Truncate(10);
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{10, 0, 0}));
    d->Write(10, 15, "012345678901234");
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{20, 5, 0}));
    EXPECT_EQ(Value(*d), std::string(10, 'a') + "012345678901234");
}

TEST_F(MemDataBlobData, TruncateNeverLeavesANegativeCount) {
    AddPiece(*d, 8, "11111");
    AddPiece(*d, 8, "22222");
    AddPiece(*d, 8, "33333");
    d->Truncate(7);
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{5, 2, 0}));
    EXPECT_EQ(d->GetSize(), 7);
    d->Truncate(3);
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{3, 0, 0}));
    d->Truncate(0);
    EXPECT_EQ(d->FirstPiece(), nullptr);
}

// Pieces in the middle of a value may have spare room (values read from the server in parts);
// writing over such a border overwrites and never shifts the rest.
TEST_F(MemDataBlobData, WritesOverwriteAcrossMiddlePiecesWithSpareRoom) {
    struct Case {
        int64_t position;
        std::string data;
        std::string expected;
    };
    const Case cases[] = {
        {5, "XY", "helloXYrld!"},     {7, "abc", "hellowoabc!"}, {4, "12345", "hell12345d!"},
        {0, "HELLO", "HELLOworld!"},  {10, "?", "helloworld?"},  {11, "++", "helloworld!++"},
        {9, "ABCD", "helloworlABCD"},
    };
    for (const Case& c : cases) {
        TCRBlobData* v = new TCRBlobData();
        AddPiece(*v, 10, "hello");
        AddPiece(*v, 10, "world");
        AddPiece(*v, 4, "!");
        v->Write(c.position, static_cast<int64_t>(c.data.size()), c.data.data());
        EXPECT_EQ(Value(*v), c.expected) << "write at " << c.position;
        v->Free();
    }
}

// Random writes against a plain string, over values made of pieces with spare room.
TEST_F(MemDataBlobData, RandomWritesMatchAStringModel) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 200; ++round) {
        TCRBlobData* v = new TCRBlobData();
        v->SetPieceSize(static_cast<int32_t>(4 + next(12)));
        std::string model;
        const int pieces = static_cast<int>(next(4));
        for (int i = 0; i < pieces; ++i) {
            std::string text(next(6), static_cast<char>('a' + i));
            AddPiece(*v, static_cast<uint32_t>(text.size() + 1 + next(5)), text);
            model += text;
        }
        for (int step = 0; step < 6; ++step) {
            const int64_t pos = next(static_cast<uint32_t>(model.size() + 3));
            std::string data(next(9) + 1, static_cast<char>('A' + step));
            v->Write(pos, static_cast<int64_t>(data.size()), data.data());
            const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(pos), model.size());
            model.replace(at, std::min(data.size(), model.size() - at), data);
            ASSERT_EQ(Value(*v), model) << "round " << round << " step " << step;
            if (next(3) == 0) {
                const int64_t cut = next(static_cast<uint32_t>(model.size() + 1));
                v->Truncate(cut);
                model.resize(static_cast<std::size_t>(cut));
                ASSERT_EQ(Value(*v), model);
            }
        }
        v->Free();
    }
}

TEST_F(MemDataBlobData, SetSizeAppendsOneZeroFilledPiece) {
    d->Write(0, 3, "abc");
    d->SetSize(8);
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{3, 5}));
    EXPECT_EQ(Value(*d), std::string("abc\0\0\0\0\0", 8));
    d->SetSize(2);
    EXPECT_EQ(Value(*d), "ab");
}

TEST_F(MemDataBlobData, DefragAndTrimPieces) {
    AddPiece(*d, 10, "abc");
    AddPiece(*d, 10, "");
    AddPiece(*d, 10, "defg");
    d->TrimPieces();
    EXPECT_EQ(Capacities(*d), (std::vector<uint32_t>{3, 4}));
    d->Defrag();
    EXPECT_EQ(UsedCounts(*d), (std::vector<uint32_t>{7}));
    EXPECT_EQ(Value(*d), "abcdefg");
}

TEST_F(MemDataBlobData, PieceAccessForDirectReads) {
    PPieceHeader p;
    TCRBlobData::AllocPiece(p, 16);
    EXPECT_THROW(d->DeletePiece(p), rtl::EAssertionFailed);  // not attached here
    std::memcpy(PieceData(p), "xyz", 3);
    const uint32_t used = 3;
    std::memcpy(PieceUsedPtr(p), &used, sizeof used);
    d->AppendPiece(p);
    EXPECT_EQ(Value(*d), "xyz");
    d->ReallocPiece(p, 2);
    EXPECT_EQ(d->FirstPiece(), p);
    EXPECT_EQ(Value(*d), "xy");
    EXPECT_EQ(PieceData(nullptr), nullptr);
    EXPECT_THROW(TCRBlobData::AllocPiece(p, 0), rtl::EAssertionFailed);
}

TEST(MemDataBlobs, LineBreakConversion) {
    struct Case {
        bool unicode;
        bool add;
        std::vector<std::string> pieces;
        std::string expected;
    };
    const Case cases[] = {
        {false, true, {"a\nb"}, "a\r\nb"},
        {false, true, {"a\r\nb"}, "a\r\nb"},
        {false, true, {"a\r", "\nb"}, "a\r\nb"},  // the pair split between pieces
        {false, true, {"\n\n"}, "\r\n\r\n"},
        {false, true, {"a\r"}, "a\r\n"},  // a CR ending 8-bit content becomes a pair
        {true, true, {"a\r"}, "a\r"},
        {true, true, {"a\nb"}, "a\r\nb"},
        {false, false, {"a\r\nb"}, "a\nb"},
        {false, false, {"a\r", "\nb"}, "a\nb"},
        {false, false, {"a\rb\r"}, "a\rb\r"},
        {true, false, {"\r\n\r\r\n"}, "\n\r\n"},
    };
    for (const Case& c : cases) {
        TBlob* blob = new TBlob(c.unicode);
        for (const std::string& piece : c.pieces) {
            std::string bytes;
            if (c.unicode) {
                for (char ch : piece) bytes += std::string{ch, '\0'};
            } else {
                bytes = piece;
            }
            AddPiece(*blob->GetData(), static_cast<uint32_t>(bytes.size() + 2), bytes);
        }
        if (c.add)
            blob->AddCR();
        else
            blob->RemoveCR();
        std::string got = c.unicode ? rtl::WideToAnsi(blob->GetAsWideString()) : blob->GetAsString();
        EXPECT_EQ(got, c.expected) << (c.add ? "add " : "remove ") << c.unicode << " " << c.pieces[0];
        blob->Free();
    }
}

TEST(MemDataBlobs, RollbackKeepsTheOldValue) {
    TBlob* blob = new TBlob();
    blob->SetAsString("old value");
    EXPECT_THROW(blob->SaveToRollback(), rtl::Exception);
    blob->EnableRollback();
    blob->Write(0, 3, "NEW");
    EXPECT_TRUE(blob->CanRollback());
    EXPECT_EQ(blob->GetAsString(), "NEW value");
    blob->SetRollbackView(true);
    EXPECT_TRUE(blob->RollbackView());
    EXPECT_EQ(blob->GetAsString(), "old value");
    TCRBlobData* other = new TCRBlobData();
    EXPECT_THROW(blob->SetData(other), rtl::EAssertionFailed);
    other->Free();
    blob->SetRollbackView(false);
    EXPECT_EQ(blob->GetAsString(), "NEW value");
    blob->Cancel();
    EXPECT_EQ(blob->GetAsString(), "old value");
    EXPECT_FALSE(blob->CanRollback());

    blob->Truncate(3);  // saves again: rollback mode stays on
    EXPECT_TRUE(blob->CanRollback());
    blob->Commit();
    EXPECT_FALSE(blob->CanRollback());
    EXPECT_EQ(blob->GetAsString(), "old");
    blob->Free();
}

TEST(MemDataBlobs, SharedDataAndUnicodeAccessors) {
    TBlob* a = new TBlob();
    TBlob* b = new TBlob();
    a->SetAsString("\xC0\xC1 text");  // cp1251
    EXPECT_EQ(a->GetAsWideString(), u"\u0410\u0411 text");
    b->SetData(a->GetData());
    EXPECT_EQ(a->GetData()->RefCount(), 2);
    EXPECT_EQ(b->GetAsString(), "\xC0\xC1 text");
    a->Free();
    EXPECT_EQ(b->GetAsString(), "\xC0\xC1 text");
    b->Free();

    TBlob* w = new TBlob(true);
    w->SetAsString("AB");
    EXPECT_EQ(w->GetSize(), 4);
    EXPECT_EQ(w->GetSizeAnsi(), 2);
    EXPECT_EQ(w->AnsiPosToBytePos(1), 2);
    EXPECT_EQ(w->GetAsString(), "AB");
    try {
        w->SetIsUnicode(false);
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot change IsUnicode if Size > 0");
    }
    EXPECT_TRUE(w->IsUnicode());
    w->SetAsBytes({1, 2, 3});
    EXPECT_EQ(w->GetSize(), 3);
    w->Free();
    TBlob* plain = new TBlob();
    EXPECT_THROW(plain->GetSizeAnsi(), rtl::EAssertionFailed);
    plain->Free();
}

TEST(MemDataBlobs, StreamsInAndOutInPieceSizedChunks) {
    TBlob* blob = new TBlob();
    blob->GetData()->SetPieceSize(7);
    rtl::TMemoryStream in;
    std::string text;
    for (int i = 0; i < 50; ++i) text += static_cast<char>('a' + i % 26);
    in.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    blob->LoadFromStream(in);
    EXPECT_EQ(blob->GetAsString(), text);
    EXPECT_EQ(UsedCounts(*blob->GetData()).size(), 8u);
    rtl::TMemoryStream out;
    out.WriteBuffer("stale", 5);
    blob->SaveToStream(out);
    ASSERT_EQ(out.Size(), 50);
    EXPECT_EQ(std::string(static_cast<const char*>(out.Memory()), 50), text);
    rtl::TMemoryStream empty;
    blob->LoadFromStream(empty);
    EXPECT_EQ(blob->GetSize(), 0);
    blob->Free();
}

}  // namespace
}  // namespace dac
