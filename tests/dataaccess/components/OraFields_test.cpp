// The Oracle field classes on a query over the stand-in: the class each column type gets, reading
// and writing time stamps, intervals, exact numbers and BFILEs through the dataset, the variant
// kinds each class accepts, and the type map between field types and internal codes.
#include "dataaccess/components/OraFields.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "DataSetFixture.h"
#include "platform/rtl/FormatSettings.h"

using namespace dac;

namespace {

class OraFieldsTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        docs_ = dir_ + "/docs";
        std::filesystem::create_directories(docs_);
        std::ofstream(docs_ + "/a.txt") << "hello bfile";
        session_ = newSession();
        dbExec(
            "CREATE TABLE val(id NUMBER(9,0) PRIMARY KEY, ts TIMESTAMP(3), tz TIMESTAMP WITH TIME ZONE, "
            "ltz TIMESTAMP WITH LOCAL TIME ZONE, ym INTERVAL YEAR MONTH, ds INTERVAL DAY SECOND(6), "
            "amount NUMBER(38,2), doc BFILE)");
        dbExec("INSERT INTO oci_directory(name, path) VALUES ('DOCS', '" + docs_ +
               "');"
               "INSERT INTO val VALUES (1, '2024-01-02 03:04:05.678', NULL, NULL, '3-4', "
               "'5 01:02:03.500000', 1234.5, 'DOCS/a.txt');"
               "INSERT INTO val VALUES (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
               "INSERT INTO val VALUES (3, NULL, NULL, NULL, NULL, NULL, NULL, 'DOCS/missing.txt');");
        session_->Options().SetEnableNumbers(true);
    }

    void TearDown() override {
        session_.reset();
        DataSetTest::TearDown();
    }

    std::unique_ptr<TOraQuery> open(const std::string& where = "") {
        auto q = newQuery(session_.get(),
                          "SELECT id, ts, tz, ltz, ym, ds, amount, doc FROM val" + where + " ORDER BY id");
        q->SetKeyFields("ID");
        q->Open();
        return q;
    }

    std::string docs_;
    std::unique_ptr<TestSession> session_;
};

TEST_F(OraFieldsTest, EachOracleColumnTypeGetsItsFieldClassAndCode) {
    auto q = open();
    struct Case {
        const char* name;
        int code;
        std::function<bool(db::TField*)> isClass;
    } cases[] = {
        {"TS", db::ftTimeStamp,
         [](db::TField* f) { return dynamic_cast<TOraTimeStampField*>(f) != nullptr; }},
        {"TZ", ftExtTimeStampTZ,
         [](db::TField* f) { return dynamic_cast<TOraTimeStampField*>(f) != nullptr; }},
        {"LTZ", ftExtTimeStampLTZ,
         [](db::TField* f) { return dynamic_cast<TOraTimeStampField*>(f) != nullptr; }},
        {"YM", ftExtIntervalYM, [](db::TField* f) { return dynamic_cast<TOraIntervalField*>(f) != nullptr; }},
        {"DS", ftExtIntervalDS, [](db::TField* f) { return dynamic_cast<TOraIntervalField*>(f) != nullptr; }},
        {"AMOUNT", ftExtNumber, [](db::TField* f) { return dynamic_cast<TOraNumberField*>(f) != nullptr; }},
        {"DOC", ftExtBFile, [](db::TField* f) { return dynamic_cast<TBFileField*>(f) != nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db::TField* f = q->FieldByName(c.name);
        EXPECT_EQ(c.code, static_cast<int>(f->DataType()));
        EXPECT_TRUE(c.isClass(f));
    }
}

TEST_F(OraFieldsTest, ValuesAndNullsAreReadThroughTheValueObjects) {
    auto q = open();
    auto* ts = static_cast<TOraTimeStampField*>(q->FieldByName("TS"));
    auto* ym = static_cast<TOraIntervalField*>(q->FieldByName("YM"));
    auto* ds = static_cast<TOraIntervalField*>(q->FieldByName("DS"));
    auto* amount = static_cast<TOraNumberField*>(q->FieldByName("AMOUNT"));
    ts->SetFormat("DD.MM.YYYY HH24:MI:SS");
    EXPECT_FALSE(ts->IsNull());
    EXPECT_EQ("02.01.2024 03:04:05", ts->AsString());
    EXPECT_NEAR(rtl::EncodeDateTime(2024, 1, 2, 3, 4, 5, 678), ts->AsDateTime(), 0.5 / 86400000.0);
    const rtl::TSQLTimeStamp sts = ts->AsSQLTimeStamp();
    EXPECT_EQ(2024, sts.Year);
    EXPECT_EQ(5, sts.Second);
    EXPECT_EQ(rtl::varSQLTimeStamp, ts->AsVariant().VarType());
    EXPECT_EQ("+03-04", ym->AsString());
    EXPECT_EQ("+05 01:02:03.500000", ds->AsString());
    EXPECT_EQ("+05 01:02:03.500000", ds->AsVariant().AsString());
    EXPECT_EQ(rtl::AnsiString("1234") + rtl::FormatSettings().DecimalSeparator + "5", amount->AsString());
    EXPECT_EQ(1234, amount->AsInteger());
    EXPECT_DOUBLE_EQ(1234.5, amount->AsFloat());
    EXPECT_TRUE(rtl::VarIsStr(amount->AsVariant()));

    q->Next();  // the row of nulls
    for (const char* name : {"TS", "TZ", "LTZ", "YM", "DS", "AMOUNT", "DOC"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(q->FieldByName(name)->IsNull());
        if (std::string(name) != "DOC") {
            EXPECT_TRUE(q->FieldByName(name)->AsVariant().IsNull());
        }
    }
    EXPECT_EQ("", ts->AsString());
    EXPECT_EQ(0.0, ts->AsDateTime());
    EXPECT_EQ(rtl::NullSQLTimeStamp, ts->AsSQLTimeStamp());
    EXPECT_EQ("", ds->AsString());
    EXPECT_EQ(0, amount->AsInteger());
    EXPECT_EQ(0.0, amount->AsFloat());
}

TEST_F(OraFieldsTest, EditsOfEachClassReachTheTable) {
    auto q = open(" WHERE id = 2");
    auto* ts = static_cast<TOraTimeStampField*>(q->FieldByName("TS"));
    ts->SetFormat("DD.MM.YYYY HH24:MI:SS");
    auto* ds = static_cast<TOraIntervalField*>(q->FieldByName("DS"));
    q->Edit();
    ts->SetAsString("31.12.1999 23:59:58");
    q->FieldByName("TZ")->SetAsDateTime(rtl::EncodeDateTime(2020, 2, 29, 12, 0, 0, 0));
    q->FieldByName("YM")->SetAsString("+07-11");
    ds->SetAsString("+02 03:04:05.250000");
    // within the 15 digits the stand-in's storage keeps
    q->FieldByName("AMOUNT")->SetAsString("1234567890123" +
                                          std::string(1, rtl::FormatSettings().DecimalSeparator) + "25");
    EXPECT_TRUE(q->Modified());
    q->Post();
    struct Stored {
        const char* column;
        const char* expect;
    } stored[] = {{"substr(ts, 1, 19)", "1999-12-31 23:59:58"},
                  {"substr(tz, 1, 19)", "2020-02-29 12:00:00"},
                  {"ym", "7-11"},
                  {"ds", "2 03:04:05.25"},
                  {"amount", "1234567890123.25"}};
    for (const Stored& c : stored) {
        const auto text = dbTexts(std::string("SELECT ") + c.column + " FROM val WHERE id = 2");
        ASSERT_EQ(1u, text.size()) << c.column;
        EXPECT_NE(std::string::npos, text[0].find(c.expect)) << c.column << ": " << text[0];
    }

    // cleared again: an empty text makes each field null
    q->Edit();
    for (const char* name : {"TS", "YM", "DS", "AMOUNT"}) q->FieldByName(name)->SetAsString("");
    for (const char* name : {"TS", "YM", "DS", "AMOUNT"}) EXPECT_TRUE(q->FieldByName(name)->IsNull()) << name;
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"|||"}),
              dbTexts("SELECT ifnull(ts, '') || '|' || ifnull(ym, '') || '|' || ifnull(ds, '') || '|' || "
                      "ifnull(amount, '') FROM val WHERE id = 2"));
}

TEST_F(OraFieldsTest, NumbersKeepEveryDigitAndSettersWriteBack) {
    auto q = open(" WHERE id = 1");
    auto* amount = static_cast<TOraNumberField*>(q->FieldByName("AMOUNT"));
    const std::string sep(1, rtl::FormatSettings().DecimalSeparator);
    const std::string big = "12345678901234567890" + sep + "5";
    q->Edit();
    amount->SetAsString(big);
    EXPECT_EQ(big, amount->AsString());
    EXPECT_EQ(big, amount->AsVariant().AsString());
    amount->SetAsInteger(-42);
    EXPECT_EQ("-42", amount->AsString());
    amount->SetAsFloat(0.25);
    EXPECT_EQ("0" + sep + "25", amount->AsString());
    amount->SetAsLargeInt(int64_t(1) << 40);
    EXPECT_EQ(int64_t(1) << 40, amount->AsLargeInt());
    q->Cancel();
    EXPECT_EQ("1234" + sep + "5", amount->AsString());
    EXPECT_EQ(38, amount->DisplayWidth());
    for (char c : std::string("+-0123456789Ee") + sep) EXPECT_TRUE(amount->IsValidChar(c)) << c;
    for (char c : std::string("xX /")) EXPECT_FALSE(amount->IsValidChar(c)) << c;
}

TEST_F(OraFieldsTest, EachClassAcceptsItsVariantKindsOnly) {
    auto q = open(" WHERE id = 1");
    q->Edit();
    struct Case {
        const char* field;
        rtl::Variant value;
        const char* expect;  // the field's text afterwards, or nullptr when refused
    } cases[] = {
        {"AMOUNT", rtl::Variant(int16_t(7)), "7"},
        {"AMOUNT", rtl::Variant(int32_t(-8)), "-8"},
        {"AMOUNT", rtl::Variant(uint8_t(9)), "9"},
        {"AMOUNT", rtl::Variant(uint16_t(10)), "10"},
        {"AMOUNT", rtl::Variant(2.0), "2"},
        {"AMOUNT", rtl::Variant(float(3)), "3"},
        {"AMOUNT", rtl::Variant("11"), "11"},
        {"AMOUNT", rtl::Variant(true), nullptr},
        {"AMOUNT", rtl::Variant(rtl::Currency::FromDouble(1.5)), nullptr},
        {"AMOUNT", rtl::Variant::FromDateTime(1.0), nullptr},
        {"AMOUNT", rtl::Variant(int64_t(12)), nullptr},
        {"AMOUNT", rtl::Variant(uint32_t(13)), nullptr},
        {"DS", rtl::Variant("+01 00:00:00.000000"), "+01 00:00:00.000000"},
        {"DS", rtl::Variant(int32_t(1)), nullptr},
        {"DS", rtl::Variant(1.5), nullptr},
        {"TS", rtl::Variant::FromDateTime(rtl::EncodeDateTime(2001, 2, 3, 4, 5, 6, 0)),
         "03.02.2001 04:05:06"},
        {"TS", rtl::Variant::FromSQLTimeStamp(rtl::TSQLTimeStamp{2002, 3, 4, 5, 6, 7, 0}),
         "04.03.2002 05:06:07"},
        {"TS", rtl::Variant("05.06.2003 07:08:09"), "05.06.2003 07:08:09"},
        {"TS", rtl::Variant(int32_t(1)), nullptr},
        {"TS", rtl::Variant(true), nullptr},
    };
    static_cast<TOraTimeStampField*>(q->FieldByName("TS"))->SetFormat("DD.MM.YYYY HH24:MI:SS");
    for (const Case& c : cases) {
        db::TField* f = q->FieldByName(c.field);
        SCOPED_TRACE(std::string(c.field) + " " + rtl::VarTypeAsText(c.value.VarType()));
        if (!c.expect) {
            EXPECT_EQ("Cannot convert type", ErrorText([&] { f->SetAsVariant(c.value); }));
            continue;
        }
        f->SetAsVariant(c.value);
        EXPECT_EQ(c.expect, f->AsString());
    }
    q->FieldByName("TS")->SetAsVariant(rtl::Null());
    EXPECT_TRUE(q->FieldByName("TS")->IsNull());
    q->Cancel();
}

TEST_F(OraFieldsTest, WithOracleTimeStampsOffTheFieldKeepsThePlatformForm) {
    session_->Options().SetEnableOraTimestamp(false);
    auto q = open(" WHERE id <= 2");
    auto* ts = dynamic_cast<TOraTimeStampField*>(q->FieldByName("TS"));
    ASSERT_NE(nullptr, ts);
    EXPECT_EQ(nullptr, ts->AsTimeStamp()) << "no value object in the record";
    ts->SetFormat("DD.MM.YYYY HH24:MI:SS");
    EXPECT_EQ("02.01.2024 03:04:05", ts->AsString());
    EXPECT_EQ(678u, ts->AsSQLTimeStamp().Fractions);
    q->Next();
    EXPECT_TRUE(ts->IsNull());
    EXPECT_EQ("", ts->AsString());
    q->Edit();
    ts->SetAsString("01.03.2021 10:20:30");
    EXPECT_FALSE(ts->IsNull());
    EXPECT_EQ(30, ts->AsSQLTimeStamp().Second);
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"2021-03-01 10:20:30"}),
              dbTexts("SELECT substr(ts, 1, 19) FROM val WHERE id = 2"));
    q->Edit();
    ts->SetAsString("");
    EXPECT_TRUE(ts->IsNull());
    q->Cancel();
}

TEST_F(OraFieldsTest, IntervalsShowTheirPrecisions) {
    auto q = open(" WHERE id = 1");
    auto* ds = static_cast<TOraIntervalField*>(q->FieldByName("DS"));
    EXPECT_EQ(2, ds->LeadPrecision());
    EXPECT_EQ(6, ds->FracPrecision());
    EXPECT_EQ("+05 01:02:03.500000", ds->AsString());
    ds->SetLeadPrecision(4);
    ds->SetFracPrecision(2);
    EXPECT_EQ("+0005 01:02:03.50", ds->AsString());
}

TEST_F(OraFieldsTest, BFilesAreReadOnlyAndReadThroughTheirStream) {
    auto q = open();
    auto* doc = static_cast<TBFileField*>(q->FieldByName("DOC"));
    EXPECT_FALSE(doc->CanModify());
    EXPECT_TRUE(doc->AutoRefresh());
    EXPECT_EQ(db::ftBlob, doc->BlobType());
    doc->SetBlobType(db::ftMemo);
    EXPECT_EQ(db::ftBlob, doc->BlobType());
    EXPECT_EQ(ftExtBFile, doc->DataType());

    EXPECT_FALSE(doc->IsNull());
    EXPECT_EQ("(BFILE)", doc->ClassDesc());
    EXPECT_EQ("(BFILE)", doc->Text());
    {
        std::unique_ptr<rtl::TStream> s(q->CreateBlobStream(doc, db::bmRead));
        auto* bs = dynamic_cast<TBFileStream*>(s.get());
        ASSERT_NE(nullptr, bs);
        EXPECT_TRUE(bs->Opened());
        char text[32] = {};
        EXPECT_EQ(11, s->Read(text, sizeof text));
        EXPECT_STREQ("hello bfile", text);
    }
    EXPECT_EQ("hello bfile", doc->AsString());

    q->Next();  // null
    EXPECT_TRUE(doc->IsNull());
    EXPECT_EQ("(BFile)", doc->ClassDesc());

    q->Next();  // names a file that is not there: read at fetch as empty content
    doc = static_cast<TBFileField*>(q->FieldByName("DOC"));
    EXPECT_FALSE(doc->IsNull());
    {
        std::unique_ptr<rtl::TStream> s(q->CreateBlobStream(doc, db::bmRead));
        EXPECT_TRUE(static_cast<TBFileStream*>(s.get())->Opened()) << "the empty content is cached";
    }
    q->Close();

    // Without cached contents the stream opens the server file, or stays closed when it is missing.
    q->Options().SetCacheLobs(false);
    q->Open();
    doc = static_cast<TBFileField*>(q->FieldByName("DOC"));
    for (const char* expect : std::vector<const char*>{"hello bfile", nullptr, "missing"}) {
        SCOPED_TRACE(expect ? expect : "null");
        if (!expect) {
            q->Next();
            continue;
        }
        std::unique_ptr<rtl::TStream> s(q->CreateBlobStream(doc, db::bmRead));
        auto* bs = static_cast<TBFileStream*>(s.get());
        char text[32] = {};
        if (std::string(expect) == "missing") {
            EXPECT_FALSE(bs->Opened());
            EXPECT_EQ(0, s->Read(text, sizeof text));
        } else {
            EXPECT_TRUE(bs->Opened());
            EXPECT_EQ(11, s->Read(text, sizeof text));
            EXPECT_STREQ(expect, text);
        }
        s.reset();
        q->Next();
    }
}

TEST_F(OraFieldsTest, LabelDataSetAndReferenceFieldsDescribeThemselves) {
    TLabelField label;
    EXPECT_EQ(ftExtLabel, label.DataType());
    EXPECT_TRUE(label.AsVariant().IsNull());
    label.SetFieldType(ftExtLabel);
    TOraNumberField number;
    number.SetFieldType(ftExtNumber);
    EXPECT_EQ(ftExtNumber, number.DataType());
    TOraTimeStampField ts;
    EXPECT_EQ(db::ftTimeStamp, ts.DataType());
    ts.SetFieldType(ftExtTimeStampLTZ);
    EXPECT_EQ(ftExtTimeStampLTZ, ts.DataType());
    TOraIntervalField interval;
    EXPECT_EQ(ftExtIntervalDS, interval.DataType());
}

TEST_F(OraFieldsTest, TheClassesAreRegisteredByName) {
    for (const char* name : {"TCursorField", "TBFileField", "TOraDataSetField", "TOraReferenceField",
                             "TOraTimeStampField", "TOraIntervalField", "TOraNumberField", "TOraXMLField"}) {
        SCOPED_TRACE(name);
        rtl::TObjectFactory make = rtl::GetClass(name);
        ASSERT_TRUE(static_cast<bool>(make));
        std::unique_ptr<rtl::TObject> made(make());
        EXPECT_NE(nullptr, dynamic_cast<db::TField*>(made.get()));
        if (std::string(name) != "TCursorField") {
            EXPECT_EQ(name, made->ClassName());
        }
    }
}

// An in-memory dataset whose one column holds an XMLTYPE value object per record.
class XmlData : public TMemData {
public:
    void InternalOpen(bool disableInitFields) override {
        TMemData::InternalOpen(disableInitFields);
        if (!disableInitFields) InitFields();
    }
    void InternalInitFields() override {
        auto* desc = new TFieldDesc();
        desc->Name = desc->ActualName = "DOC";
        desc->DataType = dtXML;
        desc->Size = static_cast<int32_t>(sizeof(void*));
        desc->FieldNo = 1;
        fields_.Add(desc);
    }
    bool IsComplexFieldType(TDataType t) override { return t == dtXML || TMemData::IsComplexFieldType(t); }
    void CreateComplexFields(void* recBuf, bool withBlob) override {
        TMemData::CreateComplexFields(recBuf, withBlob);
        SetPlacePointer(fields_[0], recBuf, (new TOraXML())->GetHandle());
    }
    void FreeComplexFields(void* recBuf, bool withBlob) override {
        if (TSharedObject* value = TSharedObject::FromHandle(PlacePointer(fields_[0], recBuf))) {
            const bool last = value->RefCount() == 1;
            value->Free();
            if (last) SetPlacePointer(fields_[0], recBuf, nullptr);
        }
        TMemData::FreeComplexFields(recBuf, withBlob);
    }
    void CopyComplexFields(void* source, void* dest, bool withBlob) override {
        TMemData::CopyComplexFields(source, dest, withBlob);
        auto* from = dynamic_cast<TOraXML*>(TSharedObject::FromHandle(PlacePointer(fields_[0], source)));
        auto* to = dynamic_cast<TOraXML*>(TSharedObject::FromHandle(PlacePointer(fields_[0], dest)));
        if (from && to && from != to) to->Assign(from);
    }
};

class XmlDataSet : public TMemDataSet {
public:
    XmlDataSet() { SetIRecordSet(new XmlData()); }
    ~XmlDataSet() override {
        Destroying();
        Close();
    }
    const TDataTypesMap& GetDataTypesMapClass() override { return TOraFieldTypesMap::Instance(); }

protected:
    db::TFieldClass GetFieldClass(db::TFieldType t) override {
        if (db::TFieldClass cls = OraFieldClass(t)) return cls;
        return TMemDataSet::GetFieldClass(t);
    }
};

TEST(OraXMLField, TheTextIsReadAndWrittenThroughTheValueObject) {
    XmlDataSet ds;
    ds.Open();
    auto* doc = dynamic_cast<TOraXMLField*>(ds.FieldByName("DOC"));
    ASSERT_NE(nullptr, doc);
    EXPECT_EQ(ftExtXML, doc->DataType());
    EXPECT_TRUE(doc->IsBlob());
    ds.Append();
    EXPECT_TRUE(doc->IsNull());
    EXPECT_EQ("(OraXML)", doc->ClassDesc());
    EXPECT_TRUE(doc->AsVariant().IsNull());
    doc->SetAsString("<a>1</a>");
    EXPECT_TRUE(ds.Modified());
    ds.Post();
    EXPECT_FALSE(doc->IsNull());
    EXPECT_EQ("<a>1</a>", doc->AsString());
    EXPECT_EQ("<a>1</a>", doc->Text());
    EXPECT_EQ("<a>1</a>", doc->AsVariant().AsString());
    EXPECT_EQ("(ORAXML)", doc->ClassDesc());

    ds.Edit();
    doc->SetAsVariant(rtl::Variant("<b/>"));
    EXPECT_EQ("<b/>", doc->AsString());
    EXPECT_EQ("Cannot convert type", ErrorText([&] { doc->SetAsVariant(rtl::Variant(int32_t(1))); }));
    EXPECT_NE(std::string::npos, ErrorText([&] { doc->SetText("<c/>"); }).find("Text"));
    doc->Clear();
    EXPECT_TRUE(doc->IsNull());
    ds.Cancel();
    EXPECT_EQ("<a>1</a>", doc->AsString()) << "the stored record keeps its text";
}

TEST_F(OraFieldsTest, XmlColumnsAreReadAndWrittenThroughTheQuery) {
    dbExec(
        "CREATE TABLE docs(id NUMBER(9,0) PRIMARY KEY, doc XMLTYPE);"
        "INSERT INTO docs VALUES (1, '<a>1</a>'), (2, NULL);");
    auto q = newQuery(session_.get(), "SELECT id, doc FROM docs ORDER BY id");
    q->SetKeyFields("ID");
    q->Open();
    auto* doc = dynamic_cast<TOraXMLField*>(q->FieldByName("DOC"));
    ASSERT_NE(nullptr, doc);
    EXPECT_EQ("<a>1</a>", doc->AsString());
    EXPECT_EQ("(ORAXML)", doc->ClassDesc());
    q->Edit();
    doc->SetAsString("<b>2</b>");
    q->Post();
    q->Next();
    EXPECT_TRUE(doc->IsNull());
    EXPECT_EQ("(OraXML)", doc->ClassDesc());
    q->Edit();
    doc->SetAsVariant(rtl::Variant("<c/>"));
    q->Post();
    EXPECT_EQ((std::vector<std::string>{"<b>2</b>", "<c/>"}), dbTexts("SELECT doc FROM docs ORDER BY id"));
    // an edit that leaves the text as it was writes nothing
    Record();
    q->Edit();
    doc->SetAsString("<c/>");
    q->Post();
    for (const std::string& sql : Received()) EXPECT_EQ(std::string::npos, sql.find("UPDATE")) << sql;
}

TEST(OraFieldTypesMap, ExtendedTypesBothWaysAndTheRestAsTheOracleMap) {
    const auto& map = TOraFieldTypesMap::Instance();
    const struct {
        TDataType dataType;
        int fieldType;
    } pairs[] = {{dtTimeStamp, db::ftTimeStamp},
                 {dtBFile, ftExtBFile},
                 {dtLabel, ftExtLabel},
                 {dtIntervalYM, ftExtIntervalYM},
                 {dtIntervalDS, ftExtIntervalDS},
                 {dtTimeStampTZ, ftExtTimeStampTZ},
                 {dtTimeStampLTZ, ftExtTimeStampLTZ},
                 {dtNumber, ftExtNumber},
                 {dtXML, ftExtXML}};
    for (const auto& p : pairs) {
        EXPECT_EQ(p.fieldType, static_cast<int>(map.GetFieldType(p.dataType))) << p.dataType;
        EXPECT_EQ(p.dataType, map.GetDataType(static_cast<db::TFieldType>(p.fieldType))) << p.fieldType;
    }
    // the rest as the Oracle dataset map
    const auto& base = TCustomOraDataTypesMap::Instance();
    for (TDataType t : {dtString, dtSQLTimeStamp, dtOraBlob, dtFixedChar, dtTable, dtInteger})
        EXPECT_EQ(base.GetFieldType(t), map.GetFieldType(t)) << t;
    for (db::TFieldType t : {db::ftSmallint, db::ftCurrency, db::ftOraTimeStamp, db::ftBCD})
        EXPECT_EQ(base.GetDataType(t), map.GetDataType(t)) << static_cast<int>(t);
}

}  // namespace
