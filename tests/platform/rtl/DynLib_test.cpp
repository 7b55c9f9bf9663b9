#include "platform/rtl/DynLib.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace rtl;

TEST(DynLib, LoadsZlibAndCallsIt) {
    HMODULE z = LoadLibrary("libz.so.1");
    ASSERT_NE(z, nullptr) << DynLibError();
    auto zlibVersion = GetProc<const char* (*)()>(z, "zlibVersion");
    ASSERT_NE(zlibVersion, nullptr);
    EXPECT_EQ(zlibVersion()[0], '1');

    using Crc32 = unsigned long (*)(unsigned long, const unsigned char*, unsigned);
    auto crc32 = GetProc<Crc32>(z, "crc32");
    ASSERT_NE(crc32, nullptr);
    const char* text = "123456789";
    EXPECT_EQ(crc32(0, reinterpret_cast<const unsigned char*>(text), 9),
              0xCBF43926ul);  // the CRC-32 check value

    EXPECT_EQ(GetProcAddress(z, "noSuchFunctionHere"), nullptr);
    EXPECT_NE(DynLibError().find("noSuchFunctionHere"), std::string::npos) << DynLibError();
    EXPECT_TRUE(FreeLibrary(z));
}

TEST(DynLib, FailuresAreReported) {
    EXPECT_EQ(LoadLibrary("libdoes-not-exist.so.9"), nullptr);
    EXPECT_NE(DynLibError().find("libdoes-not-exist.so.9"), std::string::npos) << DynLibError();
    EXPECT_EQ(LoadLibrary(""), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "crc32"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(DynLibError(), "invalid library handle");
}
