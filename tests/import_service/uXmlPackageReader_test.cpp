// Reading package documents with libxml2, and the value forms of header attributes and fields.
#include "import_service/uXmlPackageReader.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/rtl/DateTime.h"
#include "tests/platform/os/OsTestSupport.h"

using namespace svc;

namespace {

TEST(XmlValues, Integers) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"0", 0},
        {"42", 42},
        {"-17", -17},
        {"+5", 5},
        {" 7\r\n", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"1.0", std::nullopt},
        {"$1F", std::nullopt},
        {"0x10", std::nullopt},
        {"1 2", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"\xC2\xA0"
         "1",
         std::nullopt},  // no-break space is no XML white space
    };
    for (const auto& [text, expected] : cases) {
        int32_t value = -99;
        EXPECT_EQ(TryXmlToInt(text, value), expected.has_value()) << text;
        if (expected) {
            EXPECT_EQ(value, *expected) << text;
        }
    }
}

TEST(XmlValues, Floats) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"12.5", 12.5},
        {"-0.25", -0.25},
        {"3", 3.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"1E3", 1000.0},
        {"1.5e-6", 1.5e-6},
        {"+2", 2.0},
        {" 7.25 ", 7.25},
        {"12,5", std::nullopt},
        {"1 000", std::nullopt},
        {"", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"e5", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e999", std::nullopt},
        {"0x1p3", std::nullopt},
        {"1.2.3", std::nullopt},
        {"+-2", std::nullopt},
        {"+", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        double value = -99;
        EXPECT_EQ(TryXmlToFloat(text, value), expected.has_value()) << text;
        if (expected) {
            EXPECT_DOUBLE_EQ(value, *expected) << text;
        }
    }
}

TEST(XmlValues, DateTimesAtFixedPositions) {
    struct Case {
        const char* text;
        bool valid;
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    };
    const Case cases[] = {
        {"2024-03-05T10:20:30.123Z", true, 2024, 3, 5, 10, 20, 30, 123},
        {"2024-03-05T10:20:30Z", true, 2024, 3, 5, 10, 20, 30, 0},
        {"2024-03-05T10:20:30.5Z", true, 2024, 3, 5, 10, 20, 30, 0},     // "5Z" is no number
        {"2024-03-05T10:20:30+03:00", true, 2024, 3, 5, 10, 20, 30, 0},  // no zone conversion
        {"2024-03-05T10:20Z", true, 2024, 3, 5, 10, 20, 0, 0},
        {"2024-03-05T10:20", true, 2024, 3, 5, 0, 0, 0, 0},  // 16 characters: the date only
        {"2024-03-05", true, 2024, 3, 5, 0, 0, 0, 0},
        {"2024/03/05 10:20:30", true, 2024, 3, 5, 10, 20, 30, 0},  // separators are not looked at
        {"2024-02-29T23:59:59.999Z", true, 2024, 2, 29, 23, 59, 59, 999},
        {"2023-02-29T00:00:00Z", false},
        {"2024-13-01T00:00:00Z", false},
        {"2024-03-05T24:00:00Z", false},
        {"2024-03-05Txx:00:00Z", false},
        {"2024-3-5", false},
        {"", false},
        {"05.03.2024", false},
    };
    for (const Case& c : cases) {
        rtl::TDateTime value = -1;
        ASSERT_EQ(TryXmlToDateTime(c.text, value), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(value, rtl::EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms)) << c.text;
        }
    }
}

// ---- Documents ------------------------------------------------------------------------------

TEST(XmlDocument, ElementsAttributesAndTexts) {
    const auto root = ReadXmlMemory(
        "<R a=\"1\" B=\"x&amp;y\"><L><I><F>v</F><G><![CDATA[<c>]]></G></I><I/></L><!-- c --><?pi x?></R>",
        "t");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Name(), "R");
    EXPECT_EQ(*root->AttributeByName("b"), "x&y");
    ASSERT_EQ(root->NodeCount(), 1);  // comments and processing instructions are no elements
    const TXmlNode& list = root->Nodes(0);
    ASSERT_EQ(list.NodeCount(), 2);
    EXPECT_EQ(*XmlFieldText(list.Nodes(0), "f"), "v");
    EXPECT_EQ(*XmlFieldText(list.Nodes(0), "G"), "<c>");
    EXPECT_EQ(XmlFieldText(list.Nodes(1), "F"), nullptr);
}

// The elements as one line: name, [attributes], "value" and the children in braces.
std::string Dump(const TXmlNode& node) {
    std::string out = node.Name();
    if (!node.Attributes().empty()) {
        out += "[";
        for (const auto& [name, value] : node.Attributes()) out += name + "=" + value + ";";
        out += "]";
    }
    if (!node.Value().empty()) out += "\"" + node.Value() + "\"";
    if (node.NodeCount() > 0) {
        out += "{";
        for (int i = 0; i < node.NodeCount(); ++i) out += (i ? " " : "") + Dump(node.Nodes(i));
        out += "}";
    }
    return out;
}

TEST(XmlDocument, TextsAttributesAndNamesAsTheDocumentMeansThem) {
    const std::pair<const char*, const char*> cases[] = {
        // texts around child elements join; CDATA is text; references are decoded
        {"<a>x<b/>y<![CDATA[&z]]></a>", "a\"xy&z\"{b}"},
        {"<a>&lt;&amp;&gt;&quot;&apos;&#65;&#x42;</a>", "a\"<&>\"'AB\""},
        {"<a>\n\t<b>1</b>\n</a>", "a\"\n\t\n\"{b\"1\"}"},
        // an ampersand in an attribute in each of its spellings, and the other references
        {"<a v=\"1&amp;2&#38;3&#x26;4\" w=\"&lt;&#60;&gt;&quot;&apos;\"/>", "a[v=1&2&3&4;w=<<>\"';]"},
        {"<a v=\"&amp;#38;\"/>", "a[v=&#38;;]"},
        // white space in attribute values is normalized, references to it are kept
        {"<a v=\"x\ty\nz\" w=\"x&#9;y&#10;z\"/>", "a[v=x y z;w=x\ty\nz;]"},
        // names without their namespace prefix; namespace declarations are no attributes
        {"<p:a xmlns:p=\"urn:p\" xmlns:q=\"urn:q\" q:v=\"1\" w=\"2\"><p:b/></p:a>", "a[v=1;w=2;]{b}"},
        // depth and order
        {"<r><l><i k=\"1\"/><i k=\"2\">t</i></l><l/></r>", "r{l{i[k=1;] i[k=2;]\"t\"} l}"},
        {"<r>\xD0\x98<!-- skipped --><?pi skipped?>\xD1\x8F</r>", "r\"\xD0\x98\xD1\x8F\""},
    };
    for (const auto& [xml, expected] : cases) {
        const auto root = ReadXmlMemory(xml, "t");
        ASSERT_TRUE(root) << xml;
        EXPECT_EQ(Dump(*root), expected) << xml;
    }
    // a long text comes in pieces and is whole again
    const std::string longText(100000, 'x');
    const auto root = ReadXmlMemory("<a>" + longText + "<![CDATA[" + longText + "]]></a>", "t");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Value(), longText + longText);
}

TEST(XmlDocument, DeclaredEncodingsComeOutAsUtf8) {
    const std::string utf8 = "Иванов";  // the test file is UTF-8
    const std::string cp1251 = "\xC8\xE2\xE0\xED\xEE\xE2";
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<a v=\"")) utf16 += std::string{c, '\0'};
    utf16 += std::string("\x18\x04\x32\x04", 4);  // "Ив"
    for (char c : std::string("\"/>")) utf16 += std::string{c, '\0'};
    const std::pair<std::string, std::string> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><a v=\"" + cp1251 + "\"/>", utf8},
        {"<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?><a v=\"" + cp1251 + "\"/>", utf8},
        {"<?xml version=\"1.0\" encoding=\"cp1251\"?><a v=\"" + cp1251 + "\"/>", utf8},
        // The byte the code page leaves unassigned reads as U+0098, as everywhere in the system.
        {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><a v=\"\x98\xB9\"/>", "\xC2\x98№"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a v=\"" + utf8 + "\"/>", utf8},
        {"\xEF\xBB\xBF<a v=\"" + utf8 + "\"/>", utf8},
        {"<a v=\"" + utf8 + "\"/>", utf8},
        {utf16, "Ив"},
    };
    for (const auto& [xml, expected] : cases) {
        const auto root = ReadXmlMemory(xml, "t");
        ASSERT_TRUE(root);
        EXPECT_EQ(*root->AttributeByName("v"), expected);
    }
    // 1251 bytes without a declaration are no UTF-8.
    EXPECT_THROW(ReadXmlMemory("<a v=\"" + cp1251 + "\"/>", "t"), EXmlReadError);
}

TEST(XmlDocument, NoRootElementGivesNull) {
    for (const char* xml :
         {"", "\xEF\xBB\xBF", "  \r\n", "<?xml version=\"1.0\"?>", "<?xml version=\"1.0\"?><!--x-->"})
        EXPECT_EQ(ReadXmlMemory(xml, "t"), nullptr) << xml;
}

TEST(XmlDocument, MalformedDocumentsRaiseWithTheirPlace) {
    const char* cases[] = {"<a>",
                           "<a></b>",
                           "<a/><b/>",
                           "<a x=1/>",
                           "<a x=\"1\" x=\"2\"/>",
                           "<a>&nbsp;</a>",
                           "<?xml version=\"1.0\" encoding=\"no-such-code\"?><a/>"};
    for (const char* xml : cases) {
        try {
            ReadXmlMemory(xml, "pkg.xml");
            ADD_FAILURE() << xml;
        } catch (const EXmlReadError& e) {
            EXPECT_EQ(e.Message().rfind("Cannot read XML document pkg.xml: ", 0), 0u) << e.Message();
        }
    }
}

TEST(XmlDocument, DocumentTypesAreRefusedSoEntitiesReachNothing) {
    ostest::TempDir dir("xmlread");
    crypttest::WriteFile(dir / "secret.txt", "SECRET");
    const std::string external =
        "<!DOCTYPE a [<!ENTITY e SYSTEM \"file://" + (dir / "secret.txt") + "\">]><a>&e;</a>";
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string s;
            for (int k = 0; k < 10; ++k) s += "&l" + std::to_string(i - 1) + ";";
            return s;
        }() + "\">";
    laughs += "]><a>&l9;</a>";
    for (const std::string& xml : {std::string("<!DOCTYPE a><a/>"), external, laughs}) {
        const auto start = std::chrono::steady_clock::now();
        try {
            ReadXmlMemory(xml, "t");
            ADD_FAILURE() << xml;
        } catch (const EXmlReadError& e) {
            EXPECT_EQ(e.Message().find("SECRET"), std::string::npos);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(XmlDocument, FilesAreReadWhole) {
    ostest::TempDir dir("xmlread");
    crypttest::WriteFile(dir / "p.xml",
                         "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<a v=\"\xDF\"/>");
    const auto root = ReadXmlFile(dir / "p.xml");
    ASSERT_TRUE(root);
    EXPECT_EQ(*root->AttributeByName("V"), "Я");
    EXPECT_THROW(ReadXmlFile(dir / "absent.xml"), EXmlReadError);
}

TEST(XmlItemReader, ConvertsOrNamesTheFieldAtFault) {
    const auto item = ReadXmlMemory("<ITEM Id=\"5\"><Name>Яков</Name><Sum>1,5</Sum></ITEM>", "t");
    const TXmlItemReader r(*item);
    EXPECT_EQ(r.Int("ID"), 5);
    EXPECT_EQ(r.Text("name"), "\xDF\xEA\xEE\xE2");
    EXPECT_EQ(r.Raw("name"), "Яков");
    try {
        r.Float("Sum");
        ADD_FAILURE();
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "Element ITEM: field Sum: '1,5' is not a valid floating point value");
    }
    const auto cyrillic = ReadXmlMemory("<ITEM><Id>один</Id></ITEM>", "t");
    try {
        TXmlItemReader(*cyrillic).Int("Id");
        ADD_FAILURE();
    } catch (const rtl::EConvertError& e) {
        // Messages are journal texts, in code page 1251.
        EXPECT_EQ(e.Message(), "Element ITEM: field Id: '\xEE\xE4\xE8\xED' is not a valid integer value");
    }
    try {
        r.DateTime("When");
        ADD_FAILURE();
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "Element ITEM: field When is missing");
    }
}

}  // namespace
