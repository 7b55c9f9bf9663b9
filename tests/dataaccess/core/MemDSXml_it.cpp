// A dataset exported as an XML row set, read from outside: xmllint must accept the document, and
// Python's xml.etree must read back every value as it was in the dataset (markup characters,
// line breaks, tabs, Cyrillic and supplementary-plane text included), numbers with a dot although
// the locale writes a comma.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "dataaccess/core/MemDSXml.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Strings.h"
#include "tests/common/TestShell.h"
#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::FakeDataSet;
using testshell::RunCommand;
using testshell::ShellQuote;

using Expected = std::vector<std::pair<std::string, std::u16string>>;

std::string JsonString(const std::u16string& s) {
    std::string out = "\"";
    for (char16_t c : s) {
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

std::string Json(const std::vector<Expected>& rows) {
    std::string out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        out += i ? ",{" : "{";
        for (size_t j = 0; j < rows[i].size(); ++j)
            out += (j ? "," : "") + JsonString(rtl::Utf8ToWide(rows[i][j].first)) + ":" +
                   JsonString(rows[i][j].second);
        out += "}";
    }
    return out + "]";
}

struct TempDir {
    TempDir() {
        char tmpl[] = "/tmp/dx_rowset_XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("no temporary folder");
        path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

TEST(DataSetToXMLOutside, XmllintAcceptsItAndPythonReadsBackEveryValue) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = ',';
    rtl::TFormatSettingsOverride comma(fs);

    FakeDataSet ds;
    ds.SetData({{"ID", dtInteger},
                {"NAME", dtString, 40},
                {"MEMO", dtMemo},
                {"WIDE", dtWideString, 20},
                {"AMOUNT", dtFloat, 15},
                {"PRICE", dtFmtBcd, 18, 4},
                {"CUR", dtCurrency},
                {"ORDER DATE", dtDateTime},
                {"DATA", dtBlob},
                {"FLAG", dtBoolean}},
               {{Variant(1), Variant("a&b<c>\"d'e"), Variant("line1\r\nline2\tTab"),
                 Variant(std::u16string(u"\u0416\u4E2D\U0001F600")), Variant(0.1),
                 Variant::FromBcd(rtl::StrToBcd("1234,5")), Variant(rtl::Currency::FromDouble(12.25)),
                 Variant::FromDateTime(rtl::EncodeDateTime(1999, 12, 31, 23, 59, 58, 0)),
                 Variant(std::string("\x00\x01\x02\xFE", 4)), Variant(true)},
                {Variant(2), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null(),
                 rtl::Null(), rtl::Null(), rtl::Null()},
                {Variant(3), Variant("\xC6\xE5\xEB&amp;"), Variant("  two  blanks  "), rtl::Null(),
                 Variant(-1.5e-7), rtl::Null(), rtl::Null(),
                 Variant::FromDateTime(rtl::EncodeDate(987, 3, 5)), rtl::Null(), Variant(false)}});
    ds.Open();

    const std::vector<Expected> expected = {
        {{"ID", u"1"},
         {"NAME", u"a&b<c>\"d'e"},
         {"MEMO", u"line1\r\nline2\tTab"},
         {"WIDE", u"\u0416\u4E2D\U0001F600"},
         {"AMOUNT", u"0.1"},
         {"PRICE", u"1234.5"},
         {"CUR", u"12.25"},
         {"ORDER DATE", u"1999-12-31T23:59:58"},
         {"DATA", u"000102FE"},
         {"FLAG", u"True"}},
        {{"ID", u"2"}},
        {{"ID", u"3"},
         {"NAME", u"\u0416\u0435\u043B&amp;"},
         {"MEMO", u"  two  blanks  "},
         {"AMOUNT", u"-1.5E-7"},
         {"ORDER DATE", u"0987-03-05T00:00:00"},
         {"FLAG", u"False"}},
    };

    TempDir dir;
    const std::string doc = dir.path + "/rows.xml";
    const std::string want = dir.path + "/expected.json";
    WriteFile(doc, DataSetToXML(ds));
    WriteFile(want, Json(expected));

    std::string out;
    EXPECT_EQ(RunCommand("xmllint --noout " + ShellQuote(doc), &out), 0) << out;
    const std::string script = std::string(DX_SOURCE_DIR) + "/tests/dataaccess/core/check_rowset.py";
    EXPECT_EQ(
        RunCommand("python3 " + ShellQuote(script) + " " + ShellQuote(doc) + " " + ShellQuote(want), &out), 0)
        << out;
    EXPECT_NE(out.find("rows: 3, columns: 10"), std::string::npos) << out;
}

}  // namespace
}  // namespace dac
