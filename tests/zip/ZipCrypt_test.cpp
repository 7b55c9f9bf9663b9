#include <gtest/gtest.h>

#include "zip/ZipReader.h"

using namespace zip;

TEST(ZipCrypt, OneCharacterPasswordIsOneStepFromTheConstants) {
    TZipCryptKeys keys;
    keys.Init("a");
    TZipCryptKeys manual;
    manual.Update('a');
    EXPECT_EQ(keys.Key0, manual.Key0);
    EXPECT_EQ(keys.Key1, manual.Key1);
    EXPECT_EQ(keys.Key2, manual.Key2);
    // The step itself: key 0 is one CRC step of the constant.
    EXPECT_EQ(keys.Key0, CrcStep(0x12345678, 'a'));
    EXPECT_EQ(keys.Key1, (0x23456789u + (keys.Key0 & 0xFF)) * 134775813u + 1);
    EXPECT_EQ(keys.Key2, CrcStep(0x34567890, static_cast<uint8_t>(keys.Key1 >> 24)));
}

TEST(ZipCrypt, CrcStepMatchesTheStandardCrc) {
    // CRC-32 of "123456789" is 0xCBF43926.
    uint32_t crc = 0xFFFFFFFF;
    for (char c : std::string("123456789")) crc = CrcStep(crc, static_cast<uint8_t>(c));
    EXPECT_EQ(~crc, 0xCBF43926u);
    TZipReader reader;
    reader.Crc = 0xFFFFFFFF;
    const std::string text = "123456789";
    reader.UpdateCRC(reinterpret_cast<const uint8_t*>(text.data()), 4);
    reader.UpdateCRC(reinterpret_cast<const uint8_t*>(text.data()) + 4, 5);
    EXPECT_EQ(~reader.Crc, 0xCBF43926u);
}

TEST(ZipCrypt, EncryptThenDecryptFromTheSameStartReturnsTheInput) {
    std::string plain = "The quick brown fox jumps over the lazy dog, twice over.";
    std::vector<uint8_t> data(plain.begin(), plain.end());
    TZipCryptKeys enc;
    enc.Init("KEB_LO_SUM");
    enc.EncryptBuffer(data.data(), data.size());
    EXPECT_NE(std::string(data.begin(), data.end()), plain);
    TZipCryptKeys dec;
    dec.Init("KEB_LO_SUM");
    dec.DecryptBuffer(data.data(), data.size());
    EXPECT_EQ(std::string(data.begin(), data.end()), plain);
}

TEST(ZipCrypt, KeyStreamByteIsTheSixteenBitProduct) {
    TZipCryptKeys k;
    for (uint32_t key2 : {0u, 1u, 0xFFFFu, 0x12345678u, 0xFFFFFFFFu}) {
        k.Key2 = key2;
        uint64_t t = (key2 & 0xFFFF) | 2;
        EXPECT_EQ(k.DecryptByte(), static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8)) << key2;
    }
}
