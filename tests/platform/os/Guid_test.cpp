// GUIDs: version and variant bits, the braced text form, parsing, and the computer name.
#include "platform/os/Guid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "platform/os/ComputerName.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/os/OsTestSupport.h"

using os::TGUID;

namespace {

TEST(Guid, NewGuidsAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
    for (int i = 0; i < 200; ++i) {
        TGUID g;
        ASSERT_EQ(os::CoCreateGuid(g), os::S_OK);
        std::string text = os::GUIDToString(g);
        EXPECT_EQ(text.size(), 38u);
        EXPECT_TRUE(std::regex_match(text, form)) << text;
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
}

TEST(Guid, TextFormFollowsTheFieldOrder) {
    TGUID g{0x01234567, 0x89AB, 0x4CDE, {0x8F, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
    EXPECT_EQ(os::GUIDToString(g), "{01234567-89AB-4CDE-8F01-23456789ABCD}");
    EXPECT_EQ(os::StringToGUID("{01234567-89ab-4cde-8f01-23456789abcd}"), g);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* bad :
         {"", "01234567-89AB-4CDE-8F01-23456789ABCD", "{01234567-89AB-4CDE-8F01-23456789ABC}",
          "{01234567-89AB-4CDE-8F0123456789ABCD0}", "{0123456G-89AB-4CDE-8F01-23456789ABCD}",
          "(01234567-89AB-4CDE-8F01-23456789ABCD)", "{01234567-89AB-4CDE-8F01-23456789ABCD} "}) {
        TGUID g;
        EXPECT_FALSE(os::TryStringToGUID(bad, g)) << bad;
    }
    try {
        os::StringToGUID("nope");
        FAIL();
    } catch (const rtl::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'nope' is not a valid GUID value");
    }
}

TEST(ComputerName, IsTheShortHostName) {
    std::string name, expected;
    ASSERT_TRUE(os::GetComputerName(name));
    ASSERT_EQ(ostest::Shell("hostname", &expected), 0);
    expected = expected.substr(0, expected.find_first_of(".\n"));
    EXPECT_EQ(name, expected);
    EXPECT_FALSE(name.empty());
}

}  // namespace
