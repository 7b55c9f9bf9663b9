// The XML row-set export of a dataset: the service's type and column attributes, the value texts
// (locale-free numbers, zero-padded dates, hexadecimal binaries) and the document around them.
#include "dataaccess/core/MemDSXml.h"

#include <gtest/gtest.h>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Strings.h"
#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::Column;
using test::FakeDataSet;

// The attributes a service operation writes into an empty start tag, as text.
template <class Write>
std::string Attributes(Write write) {
    XmlWriter w;
    w.WriteStartElement(u"c");
    write(w);
    w.WriteEndElement();
    std::string text = rtl::WideToUtf8(w.Text());
    // "<c" + " attr=..." ... + "/>"
    return text.size() > 4 ? text.substr(3, text.size() - 5) : std::string();
}

struct XmlService : ::testing::Test {
    void SetUp() override {
        ds.SetName("Q");
        ds.CheckDataSetService();
        service = ds.GetDataSetService();
    }
    std::string DataType(TDataType type, int size, int length, int scale, bool fixed, db::TField& field) {
        TFieldDesc desc;
        desc.DataType = type;
        desc.Size = size;
        desc.Length = static_cast<uint16_t>(length);
        desc.Scale = static_cast<uint16_t>(scale);
        desc.Fixed = fixed;
        return Attributes([&](XmlWriter& w) { service->WriteFieldXMLDataType(&field, &desc, w); });
    }
    FakeDataSet ds;
    TDataSetService* service = nullptr;
};

TEST_F(XmlService, TypeAttributesByDataType) {
    db::TStringField plain;
    db::TBlobField blob;
    struct Case {
        TDataType type;
        int size, length, scale;
        bool fixed;
        bool blobClass;
        const char* expected;
    };
    const std::vector<Case> table = {
        {dtUnknown, 0, 0, 0, true, false, R"(dt:type="string")"},
        {dtVariant, 24, 0, 0, false, false, R"(dt:type="string")"},
        {dtInt8, 1, 3, 0, false, false, R"(dt:type="i1" dt:maxLength="1" rs:precision="3")"},
        {dtSmallint, 2, 4, 0, false, false, R"(dt:type="i2" dt:maxLength="2" rs:precision="5")"},
        {dtInteger, 4, 9, 0, false, false, R"(dt:type="int" dt:maxLength="4" rs:precision="10")"},
        {dtFloat, 8, 7, 0, false, false, R"(dt:type="r4" dt:maxLength="4" rs:precision="7")"},
        {dtFloat, 8, 8, 0, false, false, R"(dt:type="float" dt:maxLength="8" rs:precision="8")"},
        {dtDate, 8, 10, 0, false, false, R"(dt:type="date" dt:maxLength="8" rs:scale="0" rs:precision="10")"},
        {dtTime, 8, 8, 3, false, false, R"(dt:type="time" dt:maxLength="8" rs:scale="3" rs:precision="8")"},
        {dtDateTime, 8, 19, 0, false, false,
         R"(dt:type="datetime" rs:dbtype="variantdate" dt:maxLength="8" rs:scale="0" rs:precision="19")"},
        {dtWord, 2, 5, 0, false, false, R"(dt:type="ui2" dt:maxLength="2" rs:precision="5")"},
        {dtBoolean, 2, 0, 0, false, false, R"(dt:type="boolean" dt:maxLength="2")"},
        {dtLargeint, 8, 18, 0, false, false, R"(dt:type="i8" dt:maxLength="8" rs:precision="19")"},
        {dtCurrency, 8, 15, 0, false, false,
         R"(dt:type="number" rs:dbtype="currency" dt:maxLength="8" rs:precision="15")"},
        {dtBCD, 8, 12, 2, false, false,
         R"(dt:type="number" rs:dbtype="currency" dt:maxLength="8" rs:precision="12")"},
        {dtBlob, 8, 0, 0, false, true, R"(dt:type="bin.hex" dt:maxLength="2147483647" rs:long="true")"},
        {dtBlob, 8, 0, 0, true, true, R"(dt:type="bin.hex" dt:maxLength="2147483647" rs:fixedlength="true")"},
        {dtBytes, 16, 16, 0, true, false, R"(dt:type="bin.hex" dt:maxLength="16" rs:fixedlength="true")"},
        {dtVarBytes, 12, 10, 0, false, false, R"(dt:type="bin.hex" dt:maxLength="10")"},
        {dtVarBytesRef, 8, 2000, 0, false, true, R"(dt:type="bin.hex" dt:maxLength="2000" rs:long="true")"},
        {dtUInt32, 4, 10, 0, false, false, R"(dt:type="ui4" dt:maxLength="4" rs:precision="10")"},
        {dtFmtBcd, 34, 20, 4, false, false,
         R"(dt:type="number" rs:dbtype="numeric" dt:maxLength="34" rs:scale="4" rs:precision="20")"},
        {dtGuid, 39, 38, 0, false, false, R"(dt:type="uuid" dt:maxLength="16")"},
        {dtMemo, 8, 0, 0, false, true,
         R"(dt:type="string" dt:maxLength="2147483647" rs:dbtype="str" rs:long="true")"},
        {dtWideMemo, 8, 0, 0, false, true, R"(dt:type="string" dt:maxLength="2147483647" rs:long="true")"},
        {dtString, 21, 20, 0, false, false, R"(dt:type="string" dt:maxLength="20" rs:dbtype="str")"},
        {dtStringRef, 8, 4000, 0, false, false, R"(dt:type="string" dt:maxLength="4000" rs:dbtype="str")"},
        {dtString, 4, 3, 0, true, false,
         R"(dt:type="string" dt:maxLength="3" rs:dbtype="str" rs:fixedlength="true")"},
        {dtWideString, 42, 20, 0, false, false, R"(dt:type="string" dt:maxLength="20")"},
        {dtWideStringRef, 8, 20, 0, false, false, R"(dt:type="string" dt:maxLength="20")"},
    };
    for (const Case& c : table)
        EXPECT_EQ(DataType(c.type, c.size, c.length, c.scale, c.fixed,
                           c.blobClass ? static_cast<db::TField&>(blob) : plain),
                  c.expected)
            << "type " << c.type;
}

TEST_F(XmlService, ObjectLikeColumnsAndUnknownCodesCannotBeDescribed) {
    db::TStringField field;
    for (TDataType type : {dtObject, dtReference, dtArray, dtTable, dtSQLTimeStamp, dtCursor, dtNumber}) {
        try {
            DataType(type, 8, 0, 0, false, field);
            ADD_FAILURE() << "described type " << type;
        } catch (const rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "Q: Data type is not supported") << type;
        }
    }
}

TEST_F(XmlService, RequiredAndReadOnlyDecideMaybeNullNullableAndWriteUnknown) {
    TFieldDesc desc;
    desc.DataType = dtInteger;
    desc.Size = 4;
    desc.Name = "ID";
    desc.FieldNo = 3;
    auto both = [&](db::TField& f) {
        return Attributes([&](XmlWriter& w) {
            service->WriteFieldXMLAttributeType(&f, &desc, w, "");
            service->WriteFieldXMLDataType(&f, &desc, w);
        });
    };
    db::TIntegerField required;
    required.SetRequired(true);
    EXPECT_EQ(both(required), R"(name="ID" rs:number="3" rs:writeunknown="true" )"
                              R"(dt:type="int" dt:maxLength="4" rs:precision="10" rs:maybenull="false")");
    db::TIntegerField readOnly;
    readOnly.SetRequired(true);
    readOnly.SetReadOnly(true);
    EXPECT_EQ(both(readOnly), R"(name="ID" rs:number="3" dt:type="int" dt:maxLength="4" rs:precision="10")");
    db::TIntegerField free;
    EXPECT_EQ(both(free), R"(name="ID" rs:number="3" rs:nullable="true" rs:writeunknown="true" )"
                          R"(dt:type="int" dt:maxLength="4" rs:precision="10")");
}

TEST_F(XmlService, ColumnAttributesNameAliasBaseColumnKeyAndAutoIncrement) {
    TFieldDesc desc;
    desc.Name = "ORDER NO";
    desc.ActualName = "ORDER_NO";
    desc.FieldNo = 1;
    desc.IsKey = true;
    db::TIntegerField field;
    field.SetAutoGenerateValue(db::arAutoInc);
    EXPECT_EQ(Attributes([&](XmlWriter& w) { service->WriteFieldXMLAttributeType(&field, &desc, w, "c0"); }),
              R"(name="c0" rs:name="ORDER NO" rs:number="1" rs:nullable="true" rs:writeunknown="true" )"
              R"(rs:basecolumn="ORDER_NO" rs:keycolumn="true" rs:autoincrement="true")");
    desc.ActualName.clear();
    desc.IsKey = false;
    field.SetAutoGenerateValue(db::arNone);
    field.SetReadOnly(true);
    EXPECT_EQ(Attributes([&](XmlWriter& w) { service->WriteFieldXMLAttributeType(&field, &desc, w, ""); }),
              R"(name="ORDER NO" rs:number="1")");
}

// ---------------------------------------------------------------------------------------------
// Values of the current record

struct XmlValues : ::testing::Test {
    void Open(std::vector<Column> columns, std::vector<test::Row> rows) {
        ds.SetData(std::move(columns), std::move(rows));
        ds.Open();
    }
    std::string Value(const char* name) {
        db::TField* f = ds.FieldByName(name);
        return rtl::WideToUtf8(ds.GetDataSetService()->GetFieldXMLValue(f, ds.GetFieldDesc(f)));
    }
    FakeDataSet ds;
};

TEST_F(XmlValues, NumbersUseADotWhateverTheLocaleSays) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = ' ';
    rtl::TFormatSettingsOverride comma(fs);
    Open({{"I", dtInteger},
          {"L", dtLargeint},
          {"F", dtFloat, 15},
          {"C", dtCurrency},
          {"N", dtFmtBcd, 20, 4},
          {"S", dtSmallint},
          {"W", dtWord}},
         {{Variant(-7), Variant(1234567890123LL), Variant(1.5), Variant(rtl::Currency::FromDouble(12.25)),
           Variant::FromBcd(rtl::StrToBcd("1,5")), Variant(int16_t(-3)), Variant(uint16_t(65535))}});
    EXPECT_EQ(Value("I"), "-7");
    EXPECT_EQ(Value("L"), "1234567890123");
    EXPECT_EQ(Value("F"), "1.5");
    EXPECT_EQ(Value("C"), "12.25");
    EXPECT_EQ(Value("S"), "-3");
    EXPECT_EQ(Value("W"), "65535");
    // The field's own text keeps the locale; the export does not.
    EXPECT_EQ(ds.FieldByName("N")->AsString(), "1,5");
    EXPECT_EQ(Value("N"), "1.5");
}

TEST_F(XmlValues, FmtBcdValueNoLongerKeepsTheLocaleCommaSeparator) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = ',';
    rtl::TFormatSettingsOverride comma(fs);
    Open({{"N", dtFmtBcd, 30, 6}}, {{Variant::FromBcd(rtl::StrToBcd("-123456789012,000001"))}});
    EXPECT_EQ(Value("N"), "-123456789012.000001");
}

TEST_F(XmlValues, DatesAreZeroPaddedWithoutFractionAndTimesStandAlone) {
    Open({{"D", dtDateTime}, {"DO", dtDate}, {"T", dtTime}},
         {{Variant::FromDateTime(rtl::EncodeDateTime(987, 3, 5, 7, 8, 9, 0)),
           Variant::FromDateTime(rtl::EncodeDate(2024, 12, 31)),
           Variant::FromDateTime(rtl::EncodeTime(23, 4, 5, 999))},
          {Variant::FromDateTime(rtl::EncodeDateTime(2001, 10, 20, 13, 14, 15, 678)), rtl::Null(),
           rtl::Null()}});
    EXPECT_EQ(Value("D"), "0987-03-05T07:08:09");
    EXPECT_EQ(Value("DO"), "2024-12-31T00:00:00");
    EXPECT_EQ(Value("T"), "23:04:05");
    ds.Next();
    EXPECT_EQ(Value("D"), "2001-10-20T13:14:15");
}

TEST_F(XmlValues, BooleansBinariesAndTexts) {
    Open({{"B", dtBoolean},
          {"BL", dtBlob},
          {"VB", dtVarBytes, 10},
          {"S", dtString, 20},
          {"WS", dtWideString, 20},
          {"M", dtMemo},
          {"WM", dtWideMemo}},
         {{Variant(true), Variant(std::string("\x00\x01\xAB\xFF", 4)),
           rtl::BytesToVariant(rtl::TBytes{0x0F, 0xA0}), Variant("a&b<c"),
           Variant(std::u16string(u"\u0416\u4E2D")), Variant("memo \xC6"),
           Variant(std::u16string(u"wide \u20AC"))},
          {Variant(false), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null(), rtl::Null()}});
    EXPECT_EQ(Value("B"), "True");
    EXPECT_EQ(Value("BL"), "0001ABFF");
    EXPECT_EQ(Value("VB"), "0FA0");
    // Escaping is the writer's business: the value text is the plain value.
    EXPECT_EQ(Value("S"), "a&b<c");
    EXPECT_EQ(Value("WS"), "\u0416\u4E2D");
    // 8-bit text is code page 1251.
    EXPECT_EQ(Value("M"), "memo \u0416");
    EXPECT_EQ(Value("WM"), "wide \u20AC");
    ds.Next();
    EXPECT_EQ(Value("B"), "False");
    EXPECT_EQ(Value("BL"), "");
    EXPECT_EQ(Value("S"), "");
}

// ---------------------------------------------------------------------------------------------
// Document

TEST(DataSetToXML, SchemaThenOneRowPerRecordWithoutNullValuesAndThePositionKept) {
    FakeDataSet ds;
    Column id{"ID", dtInteger};
    id.Required = true;
    ds.SetData({id, {"NAME", dtString, 10}, {"2ND COL", dtFloat, 15}},
               {{Variant(1), Variant("x\"y"), Variant(0.25)}, {Variant(2), rtl::Null(), rtl::Null()}});
    ds.Open();
    ds.Last();
    const std::string xml = DataSetToXML(ds);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<xml xmlns:s=\"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882\" "
        "xmlns:dt=\"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882\" "
        "xmlns:rs=\"urn:schemas-microsoft-com:rowset\" "
        "xmlns:z=\"#RowsetSchema\">"
        "<s:Schema id=\"RowsetSchema\"><s:ElementType name=\"row\" content=\"eltOnly\">"
        "<s:AttributeType name=\"ID\" rs:number=\"1\" rs:writeunknown=\"true\" rs:basecolumn=\"ID\">"
        "<s:datatype dt:type=\"int\" dt:maxLength=\"4\" rs:precision=\"10\" rs:maybenull=\"false\"/>"
        "</s:AttributeType>"
        "<s:AttributeType name=\"NAME\" rs:number=\"2\" rs:nullable=\"true\" rs:writeunknown=\"true\" "
        "rs:basecolumn=\"NAME\">"
        "<s:datatype dt:type=\"string\" dt:maxLength=\"10\" rs:dbtype=\"str\"/></s:AttributeType>"
        "<s:AttributeType name=\"c2\" rs:name=\"2ND COL\" rs:number=\"3\" rs:nullable=\"true\" "
        "rs:writeunknown=\"true\" rs:basecolumn=\"2ND COL\">"
        "<s:datatype dt:type=\"float\" dt:maxLength=\"8\" rs:precision=\"15\"/></s:AttributeType>"
        "<s:extends type=\"rs:rowbase\"/></s:ElementType></s:Schema>"
        "<rs:data><z:row ID=\"1\" NAME=\"x&#x22;y\" c2=\"0.25\"/><z:row ID=\"2\"/></rs:data></xml>";
    EXPECT_EQ(xml, expected);
}

TEST(DataSetToXML, AClosedDatasetIsRefused) {
    FakeDataSet ds;
    ds.SetData({{"ID", dtInteger}}, {});
    EXPECT_THROW(DataSetToXML(ds), rtl::EDatabaseError);
}

TEST(DataSetToXML, AnEmptyDatasetHasItsSchemaAndNoRows) {
    FakeDataSet ds;
    ds.SetData({{"ID", dtInteger}}, {});
    ds.Open();
    const std::string xml = DataSetToXML(ds);
    EXPECT_NE(xml.find("<s:AttributeType name=\"ID\""), std::string::npos);
    EXPECT_NE(xml.find("<rs:data/>"), std::string::npos) << xml;
}

}  // namespace
}  // namespace dac
