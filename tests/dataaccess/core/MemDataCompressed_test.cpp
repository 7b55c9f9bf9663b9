#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"

namespace dac {
namespace {

std::string Repeated(std::size_t n, char ch = 'a') {
    return std::string(n, ch);
}

std::string RandomBytes(std::size_t n) {
    std::mt19937 gen(7);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(gen());
    return s;
}

struct MemDataCompressed : ::testing::Test {
    TCompressedBlob* blob = new TCompressedBlob();
    TCompressedBlobData& Data() { return *static_cast<TCompressedBlobData*>(blob->GetData()); }
    std::string FirstPieceBytes() {
        PPieceHeader p = blob->FirstPiece();
        return std::string(reinterpret_cast<const char*>(PieceData(p)), PieceHeader::Used(p));
    }
    ~MemDataCompressed() override {
        blob->Free();
        CompressHook = ZCompressBuffer;
        UncompressHook = ZUncompressBuffer;
    }
};

TEST(MemDataCompressedMark, IsTheGuidInItsBinaryForm) {
    // {F19D8C39-5558-3849-A652-87CEE0C6DA7E}: three little-endian groups, then eight bytes.
    const uint32_t d1 = 0xF19D8C39;
    const uint16_t d2 = 0x5558, d3 = 0x3849;
    const uint8_t d4[8] = {0xA6, 0x52, 0x87, 0xCE, 0xE0, 0xC6, 0xDA, 0x7E};
    uint8_t expected[16];
    for (int i = 0; i < 4; ++i) expected[i] = static_cast<uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) expected[4 + i] = static_cast<uint8_t>(d2 >> (8 * i));
    for (int i = 0; i < 2; ++i) expected[6 + i] = static_cast<uint8_t>(d3 >> (8 * i));
    std::memcpy(expected + 8, d4, 8);
    EXPECT_EQ(std::memcmp(CompressedBlobMark, expected, 16), 0);
}

TEST_F(MemDataCompressed, RepeatedBytesAreHeldCompressedAndReadWhole) {
    const std::string value = Repeated(1000);
    blob->SetAsString(value);
    EXPECT_TRUE(blob->SetCompressed(true));
    ASSERT_TRUE(blob->IsCompressed());
    EXPECT_EQ(PieceHeader::Next(blob->FirstPiece()), nullptr);
    const std::string stored = FirstPieceBytes();
    EXPECT_LT(stored.size(), 100u);
    EXPECT_EQ(stored.compare(0, 16, reinterpret_cast<const char*>(CompressedBlobMark), 16), 0);
    EXPECT_EQ(stored.substr(16, 4), std::string("\xE8\x03\0\0", 4));
    EXPECT_EQ(blob->GetSize(), 1000);
    EXPECT_EQ(blob->GetAsString(), value);
    EXPECT_TRUE(blob->IsCompressed());  // a whole read keeps the stored form
    EXPECT_FALSE(blob->SetCompressed(true));
}

TEST_F(MemDataCompressed, SmallOrIncompressibleValuesStayPlain) {
    blob->SetAsString(Repeated(50));
    EXPECT_TRUE(blob->SetCompressed(true));
    EXPECT_FALSE(blob->IsCompressed());
    const std::string noise = RandomBytes(4000);
    blob->SetAsString(noise);
    EXPECT_TRUE(blob->SetCompressed(true));
    EXPECT_FALSE(blob->IsCompressed());
    EXPECT_EQ(blob->GetAsString(), noise);
    blob->Clear();
    EXPECT_FALSE(blob->SetCompressed(true));  // no value
}

TEST_F(MemDataCompressed, PartialAccessUncompressesInPlace) {
    std::string value;
    for (int i = 0; i < 300; ++i) value += "row " + std::to_string(i % 10) + ";";
    blob->SetAsString(value);
    blob->SetCompressed(true);
    ASSERT_TRUE(blob->IsCompressed());
    char part[5];
    EXPECT_EQ(blob->Read(10, 5, part), 5);
    EXPECT_EQ(std::string(part, 5), value.substr(10, 5));
    EXPECT_FALSE(blob->IsCompressed());

    blob->SetCompressed(true);
    blob->Write(3, 2, "##");
    EXPECT_FALSE(blob->IsCompressed());
    value.replace(3, 2, "##");
    EXPECT_EQ(blob->GetAsString(), value);

    blob->SetCompressed(true);
    blob->Truncate(7);
    EXPECT_EQ(blob->GetAsString(), value.substr(0, 7));
}

TEST_F(MemDataCompressed, WholeRewriteCompressesAgain) {
    blob->SetAsString(Repeated(800));
    blob->SetCompressed(true);
    const std::string next = Repeated(800, 'b');
    blob->Write(0, 800, next.data());
    EXPECT_TRUE(blob->IsCompressed());
    EXPECT_EQ(blob->GetAsString(), next);
    const std::string noise = RandomBytes(800);
    blob->Write(0, 800, noise.data());
    EXPECT_FALSE(blob->IsCompressed());
    EXPECT_EQ(blob->GetAsString(), noise);
}

TEST_F(MemDataCompressed, TruncateToZeroDoesNotUncompress) {
    blob->SetAsString(Repeated(500));
    blob->SetCompressed(true);
    UncompressHook = [](void*, uint32_t&, const void*, uint32_t) { throw rtl::Exception("must not run"); };
    blob->Truncate(0);
    EXPECT_EQ(blob->GetSize(), 0);
    EXPECT_FALSE(blob->IsCompressed());
    EXPECT_EQ(blob->FirstPiece(), nullptr);
}

// A plain value may begin with the mark (a stored copy of a compressed value): it stays plain.
TEST_F(MemDataCompressed, PlainValueStartingWithTheMarkIsNotTakenForCompressed) {
    std::string value(reinterpret_cast<const char*>(CompressedBlobMark), 16);
    value += std::string("\x10\0\0\0", 4) + "not a zlib stream at all";
    blob->SetAsString(value);
    EXPECT_FALSE(blob->IsCompressed());
    EXPECT_EQ(blob->GetSize(), static_cast<int64_t>(value.size()));
    EXPECT_EQ(blob->GetAsString(), value);
    char part[3];
    EXPECT_EQ(blob->Read(20, 3, part), 3);
    EXPECT_EQ(std::string(part, 3), "not");
}

TEST_F(MemDataCompressed, DamagedValuesAreReportedAndKept) {
    struct Case {
        int offset;  // byte of the stored piece to change
        const char* message;
    };
    const Case cases[] = {
        {0, "Invalid compressed blob header"},
        {16, "Invalid uncompressed blob size"},  // header size 1000 + 1
        {-2, "Invalid compressed blob data"},    // the stream's checksum
    };
    for (const Case& c : cases) {
        blob->SetAsString(Repeated(1000));
        blob->SetCompressed(true);
        ASSERT_TRUE(blob->IsCompressed());
        PPieceHeader p = blob->FirstPiece();
        ASSERT_GT(PieceHeader::Used(p), 24u);
        const int at = c.offset < 0 ? static_cast<int>(PieceHeader::Used(p)) + c.offset : c.offset;
        PieceData(p)[at] ^= (at == 16 ? 0x01 : 0x5A);
        const std::string stored = FirstPieceBytes();
        try {
            blob->SetCompressed(false);
            FAIL() << c.message;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_TRUE(blob->IsCompressed());
        EXPECT_EQ(FirstPieceBytes(), stored);
        blob->Clear();
    }
}

TEST_F(MemDataCompressed, HeaderSizeBelowTheStreamIsDamagedData) {
    blob->SetAsString(Repeated(1000));
    blob->SetCompressed(true);
    PieceData(blob->FirstPiece())[16] = 0x10;  // says 1000 - 0xD8
    try {
        blob->SetCompressed(false);
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid compressed blob data");
    }
}

TEST_F(MemDataCompressed, RollbackKeepsTheCompressedValue) {
    const std::string value = Repeated(600);
    blob->SetAsString(value);
    blob->SetCompressed(true);
    blob->EnableRollback();
    blob->Write(0, 2, "XY");
    EXPECT_FALSE(blob->IsCompressed());
    EXPECT_EQ(blob->GetAsString(), "XY" + value.substr(2));
    blob->SetRollbackView(true);
    EXPECT_TRUE(blob->IsCompressed());
    EXPECT_EQ(blob->GetSize(), 600);
    blob->SetRollbackView(false);
    blob->Cancel();
    EXPECT_TRUE(blob->IsCompressed());
    EXPECT_EQ(blob->GetAsString(), value);
}

TEST_F(MemDataCompressed, MissingHooks) {
    blob->SetAsString(Repeated(200));
    CompressHook = nullptr;
    try {
        blob->SetCompressed(true);
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Compressor function is not linked");
    }
    CompressHook = ZCompressBuffer;
    blob->SetCompressed(true);
    UncompressHook = nullptr;
    try {
        CheckCompressionLinked();
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Uncompressor function is not linked");
    }
    uint32_t len = 10;
    char buf[10];
    EXPECT_THROW(DoUncompress(buf, len, buf, 10), rtl::EAssertionFailed);
}

TEST(MemDataZlib, HooksReportTooSmallTargetsAndBadStreams) {
    const std::string value = RandomBytes(300);
    std::vector<uint8_t> out(20);
    uint32_t len = 20;
    try {
        ZCompressBuffer(out.data(), len, value.data(), 300);
        FAIL();
    } catch (const EZlibError& e) {
        EXPECT_EQ(e.Message(), "ZLib error: target buffer may be too small");
    }
    const char garbage[] = "this is no zlib stream";
    len = 20;
    try {
        ZUncompressBuffer(out.data(), len, garbage, sizeof garbage);
        FAIL();
    } catch (const EDecompressionError& e) {
        EXPECT_EQ(e.Message(), "Error");
    }
    std::vector<uint8_t> packed(400);
    len = 400;
    ZCompressBuffer(packed.data(), len, value.data(), 300);
    std::vector<uint8_t> back(300);
    uint32_t backLen = 300;
    ZUncompressBuffer(back.data(), backLen, packed.data(), len);
    EXPECT_EQ(backLen, 300u);
    EXPECT_EQ(std::memcmp(back.data(), value.data(), 300), 0);
    EXPECT_THROW(CheckCompressResult(-2), ECompressionError);
    EXPECT_EQ(CheckDecompressResult(1), 1);
}

}  // namespace
}  // namespace dac
