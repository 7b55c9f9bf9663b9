// XML elements in memory and their text form.
#include "common/uXmlNode.h"

#include <gtest/gtest.h>

using svc::AppendXmlEscaped;
using svc::TXmlNode;
using svc::WriteXmlElement;

namespace {

std::string Escaped(std::string_view value, bool inAttribute = false) {
    std::string out;
    AppendXmlEscaped(out, value, inAttribute);
    return out;
}

TEST(XmlText, ElementsAreIndentedByTabsWithCrLfAndEmptyOnesSelfClosed) {
    TXmlNode root("ROOT");
    root.SetAttribute("A", "1");
    root.SetAttribute("B", "x y");
    TXmlNode& item = root.NodeNew("ITEM");
    item.NodeNewText("ID", "7");
    item.NodeNewText("Name", "");
    item.NodeNew("Deep").NodeNewText("Leaf", "v");
    std::string out;
    WriteXmlElement(out, root, 0);
    EXPECT_EQ(out,
              "<ROOT A=\"1\" B=\"x y\">\r\n"
              "\t<ITEM>\r\n"
              "\t\t<ID>7</ID>\r\n"
              "\t\t<Name/>\r\n"
              "\t\t<Deep>\r\n"
              "\t\t\t<Leaf>v</Leaf>\r\n"
              "\t\t</Deep>\r\n"
              "\t</ITEM>\r\n"
              "</ROOT>\r\n");

    std::string empty;
    WriteXmlElement(empty, TXmlNode("E"), 2);
    EXPECT_EQ(empty, "\t\t<E/>\r\n");
}

TEST(XmlText, MarkupCharactersBecomeEntities) {
    EXPECT_EQ(Escaped("A&B <c> \"d\" 'e'"), "A&amp;B &lt;c&gt; &quot;d&quot; &apos;e&apos;");
    EXPECT_EQ(Escaped("a\tb\nc\rd"), "a\tb\nc&#13;d");
    EXPECT_EQ(Escaped("a\tb\nc\rd", true), "a&#9;b&#10;c&#13;d");
}

TEST(XmlText, WhatIsNotWellFormedUtf8OrNotAnXmlCharacterBecomesTheReplacementCharacter) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        const char* name;
        std::string in, out;
    };
    const Case cases[] = {
        {"Cyrillic stays", "\xD0\x9A\xD0\xBB", "\xD0\x9A\xD0\xBB"},
        {"four-byte character stays", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"CP1251 byte", "a\xC0z", "a" + r + "z"},
        {"cut sequence at the end", "ab\xD0", "ab" + r},
        {"overlong slash", "\xC0\xAF", r + r},
        {"surrogate", "\xED\xA0\x80", r + r + r},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"U+FFFE", "\xEF\xBF\xBE", r + r + r},
        {"control characters",
         std::string("a\x01"
                     "b\x1F",
                     4) +
             std::string(1, '\0'),
         "a" + r + "b" + r + r},
    };
    for (const Case& c : cases) EXPECT_EQ(Escaped(c.in), c.out) << c.name;
}

TEST(XmlNode, AttributesKeepTheirFirstPlaceAndLookupsIgnoreCase) {
    TXmlNode node("Root");
    node.SetAttribute("PackageId", "1");
    node.SetAttribute("Emitent", "2");
    node.SetAttribute("PackageId", "3");
    ASSERT_EQ(node.Attributes().size(), 2u);
    EXPECT_EQ(node.Attributes()[0].first, "PackageId");
    EXPECT_EQ(node.Attributes()[0].second, "3");
    ASSERT_TRUE(node.AttributeByName("packageid"));
    EXPECT_EQ(*node.AttributeByName("PACKAGEID"), "3");
    EXPECT_FALSE(node.AttributeByName("Filial"));

    node.NodeNewText("DR_Request", "a");
    node.NodeNewText("dr_request", "b");
    ASSERT_TRUE(node.NodeByName("DR_REQUEST"));
    EXPECT_EQ(node.NodeByName("DR_REQUEST")->Value(), "a");
    EXPECT_FALSE(node.NodeByName("none"));
    node.Clear();
    EXPECT_EQ(node.NodeCount(), 0);
    EXPECT_TRUE(node.Attributes().empty());
    EXPECT_EQ(node.Name(), "Root");
}

}  // namespace
