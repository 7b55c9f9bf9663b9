// The data type map, the blob stream of blob fields, number ranges, and the dataset service and
// updater.
#include <gtest/gtest.h>

#include "platform/rtl/Strings.h"
#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Null;
using rtl::Variant;
using test::Column;
using test::FakeDataSet;

// ---------------------------------------------------------------------------------------------
// Data type map

TEST(DataTypesMap, EveryInternalCodeHasItsFieldTypeAndTheOthersFailAnAssertion) {
    const std::vector<std::pair<TDataType, db::TFieldType>> table = {
        {dtUnknown, db::ftUnknown},
        {dtString, db::ftString},
        {dtInt8, db::ftSmallint},
        {dtSmallint, db::ftSmallint},
        {dtInteger, db::ftInteger},
        {dtFloat, db::ftFloat},
        {dtDate, db::ftDate},
        {dtTime, db::ftTime},
        {dtDateTime, db::ftDateTime},
        {dtWord, db::ftWord},
        {dtBoolean, db::ftBoolean},
        {dtLargeint, db::ftLargeint},
        {dtCurrency, db::ftCurrency},
        {dtBlob, db::ftBlob},
        {dtMemo, db::ftMemo},
        {dtObject, db::ftADT},
        {dtReference, db::ftReference},
        {dtArray, db::ftArray},
        {dtTable, db::ftDataSet},
        {dtVariant, db::ftVariant},
        {dtStringRef, db::ftString},
        {dtBytes, db::ftBytes},
        {dtVarBytes, db::ftVarBytes},
        {dtVarBytesRef, db::ftVarBytes},
        {dtUInt32, db::ftLargeint},
        {dtWideString, db::ftWideString},
        {dtWideStringRef, db::ftWideString},
        {dtBCD, db::ftBCD},
        {dtFmtBcd, db::ftFMTBcd},
        {dtGuid, db::ftGuid},
        {dtWideMemo, db::ftWideMemo},
        {dtCursor, db::ftCursor},
    };
    const TDataTypesMap& map = TDataTypesMap::Instance();
    for (const auto& [code, type] : table) EXPECT_EQ(map.GetFieldType(code), type) << code;
    for (TDataType code : {dtSQLTimeStamp, dtRowId, dtNumber, dtTimeStamp, TDataType{200}}) {
        try {
            map.GetFieldType(code);
            FAIL() << code;
        } catch (rtl::EAssertionFailed& e) {
            EXPECT_EQ(e.Message().rfind("Unknown data type", 0), 0u) << e.Message();
        }
    }
}

TEST(DataTypesMap, FieldTypesGiveTheStoragesCodesAndZeroWhereThereIsNone) {
    const TDataTypesMap& map = TDataTypesMap::Instance();
    const std::vector<std::pair<db::TFieldType, TDataType>> table = {
        {db::ftString, dtString},
        {db::ftFixedChar, dtString},
        {db::ftSmallint, dtSmallint},
        {db::ftInteger, dtInteger},
        {db::ftAutoInc, dtInteger},
        {db::ftWord, dtWord},
        {db::ftBoolean, dtBoolean},
        {db::ftFloat, dtFloat},
        {db::ftCurrency, dtCurrency},
        {db::ftBCD, dtBCD},
        {db::ftDate, dtDate},
        {db::ftTime, dtTime},
        {db::ftDateTime, dtDateTime},
        {db::ftBytes, dtBytes},
        {db::ftVarBytes, dtVarBytes},
        {db::ftBlob, dtBlob},
        {db::ftMemo, dtMemo},
        {db::ftCursor, dtCursor},
        {db::ftWideString, dtWideString},
        {db::ftFixedWideChar, dtWideString},
        {db::ftLargeint, dtLargeint},
        {db::ftADT, dtObject},
        {db::ftArray, dtArray},
        {db::ftReference, dtReference},
        {db::ftDataSet, dtTable},
        {db::ftVariant, dtVariant},
        {db::ftGuid, dtGuid},
        {db::ftFMTBcd, dtFmtBcd},
        {db::ftWideMemo, dtWideMemo},
    };
    int mapped = 0;
    for (int t = 0; t < db::FieldTypeCount; ++t) {
        const auto type = static_cast<db::TFieldType>(t);
        TDataType expected = dtUnknown;
        for (const auto& [ft, code] : table)
            if (ft == type) expected = code;
        mapped += expected != dtUnknown;
        EXPECT_EQ(map.GetDataType(type), expected) << db::FieldTypeName(type);
    }
    EXPECT_EQ(mapped, static_cast<int>(table.size()));
}

// ---------------------------------------------------------------------------------------------
// Blob streams

// ID, a memo M, a wide memo W and a read-only blob B.
struct BlobStreams : ::testing::Test {
    void SetUp() override {
        ds.SetName("Q");
        Column readOnly{"B", dtBlob};
        readOnly.ReadOnly = true;
        ds.SetData({{"ID", dtInteger}, {"M", dtMemo}, {"W", dtWideMemo}, readOnly},
                   {{Variant(1), Variant("hello"), Variant(std::u16string(u"\u0416AB")), Variant("bin")}});
        ds.Open();
    }
    db::TBlobField* Field(const char* name) { return static_cast<db::TBlobField*>(ds.FieldByName(name)); }
    rtl::TOwned<rtl::TStream> Open(const char* name, db::TBlobStreamMode mode) {
        return rtl::TOwned<rtl::TStream>(ds.CreateBlobStream(Field(name), mode));
    }
    static std::string ReadAll(rtl::TStream& s) {
        std::string out(static_cast<size_t>(s.Size()), '\0');
        s.SetPosition(0);
        out.resize(static_cast<size_t>(s.Read(out.data(), static_cast<int64_t>(out.size()))));
        return out;
    }
    FakeDataSet ds;
};

TEST_F(BlobStreams, ReadTheBlobOfTheCurrentRecordAndSeekInIt) {
    auto s = Open("M", db::bmRead);
    EXPECT_EQ(s->Seek(0, rtl::soEnd), 5);
    EXPECT_EQ(ReadAll(*s), "hello");
    s->SetPosition(3);
    char two[8] = {};
    EXPECT_EQ(s->Read(two, 8), 2);
    EXPECT_STREQ(two, "lo");
    EXPECT_EQ(s->Seek(10, rtl::soBeginning), 10);
    EXPECT_EQ(s->Read(two, 8), 0);
    EXPECT_EQ(s->Seek(-2, rtl::soCurrent), 8);
}

TEST_F(BlobStreams, AWideMemoCountsBytesOfUtf16) {
    auto s = Open("W", db::bmRead);
    EXPECT_EQ(s->Seek(0, rtl::soEnd), 6);
    EXPECT_EQ(ds.FieldByName("W")->AsWideString(), u"\u0416AB");
    // A plain memo over the same text counts 8-bit characters.
    EXPECT_EQ(ds.FieldByName("M")->AsString().size(), 5u);
}

TEST_F(BlobStreams, AStreamOpenedForReadingNeitherWritesNorTruncates) {
    auto s = Open("M", db::bmRead);
    EXPECT_EQ(s->Write("xyz", 3), 0);
    EXPECT_THROW(s->SetSize(0), rtl::EStreamError);
    EXPECT_FALSE(static_cast<TBlobStream&>(*s).Modified());
    s.reset();
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "hello");
    ds.Close();
    ds.Open();
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "hello");
}

TEST_F(BlobStreams, WritingNeedsAnEditingStateAndAWritableField) {
    try {
        Open("M", db::bmWrite);
        FAIL() << "opened for writing while browsing";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Dataset not in edit or insert mode");
    }
    ds.Edit();
    try {
        Open("B", db::bmReadWrite);
        FAIL() << "opened a read-only field for writing";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Field 'B' cannot be modified");
    }
    ds.Cancel();
}

TEST_F(BlobStreams, WriteModeEmptiesTheBlobAtOnceAndReadWriteKeepsIt) {
    ds.Edit();
    {
        auto s = Open("M", db::bmReadWrite);
        s->Seek(0, rtl::soEnd);
        s->WriteBuffer(" world", 6);
    }
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "hello world");
    {
        auto s = Open("M", db::bmWrite);
        EXPECT_EQ(s->Size(), 0);
        EXPECT_TRUE(ds.FieldByName("M")->IsNull());
    }
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "hello");
}

TEST_F(BlobStreams, WritingPastTheEndExtendsTheBlob) {
    ds.Edit();
    {
        auto s = Open("M", db::bmReadWrite);
        s->Seek(8, rtl::soBeginning);
        s->WriteBuffer("!", 1);
        // The storage appends what is written past the end.
        EXPECT_EQ(s->Seek(0, rtl::soEnd), 6);
    }
    ds.Post();
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "hello!");
}

TEST_F(BlobStreams, ClosingAWritingStreamMarksTheFieldAndTellsTheDataset) {
    int changes = 0;
    Field("M")->OnChange = [&](db::TField*) { ++changes; };
    ds.Edit();
    auto s = Open("M", db::bmReadWrite);
    s->WriteBuffer("J", 1);
    EXPECT_FALSE(Field("M")->Modified());
    s.reset();
    EXPECT_TRUE(Field("M")->Modified());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(ds.Modified());
    ds.Post();
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "Jello");
}

TEST(BlobStream, WithoutACurrentRecordTheStreamReadsAndWritesNothing) {
    FakeDataSet ds;
    ds.SetData({{"M", dtMemo}}, {});
    ds.Open();
    auto s = rtl::TOwned<rtl::TStream>(ds.CreateBlobStream(ds.FieldByName("M"), db::bmReadWrite));
    EXPECT_FALSE(static_cast<TBlobStream&>(*s).Opened());
    char c;
    EXPECT_EQ(s->Read(&c, 1), 0);
    EXPECT_EQ(s->Write("x", 1), 0);
    EXPECT_EQ(s->Seek(0, rtl::soEnd), 0);
}

TEST(BlobStream, OnlyBlobFieldsOfThisDatasetClassHaveStreams) {
    FakeDataSet ds;
    fake::FillNumbered(ds.RecordSet(), 1);
    ds.Open();
    EXPECT_THROW(ds.CreateBlobStream(ds.FieldByName("ID"), db::bmRead), rtl::EInvalidCast);
}

TEST_F(BlobStreams, TheBlobObjectOfAFieldIsThatOfTheCurrentRecord) {
    TBlob* blob = ds.GetBlob(ds.FieldByName("M"));
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->GetAsString(), "hello");
    EXPECT_EQ(ds.GetBlobByName("W")->GetAsWideString(), u"\u0416AB");
    EXPECT_EQ(ds.GetBlob(static_cast<db::TField*>(nullptr)), nullptr);
    try {
        ds.GetBlob(ds.FieldByName("ID"));
        FAIL() << "an integer has a blob";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Field is not BLOB");
    }
    EXPECT_THROW(ds.GetBlobByName("NOPE"), rtl::Exception);
}

// ---------------------------------------------------------------------------------------------
// Number ranges

struct NumberRanges : ::testing::Test {
    // Opens one column described with the given length and scale, the range option on.
    db::TField* OpenColumn(TDataType type, int length, int scale = 0) {
        ds.SetNumberRange(true);
        ds.SetData({{"N", type, length, scale}}, {{Null()}});
        ds.Open();
        return ds.FieldByName("N");
    }
    FakeDataSet ds;
};

TEST_F(NumberRanges, IntegersOfFiveDigitsTakeTheirRange) {
    auto* f = dynamic_cast<db::TIntegerField*>(OpenColumn(dtInteger, 5));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->MaxValue(), 99999);
    EXPECT_EQ(f->MinValue(), -99999);
    ds.Edit();
    f->SetAsInteger(-99999);
    EXPECT_THROW(f->SetAsInteger(100000), rtl::Exception);
    ds.Cancel();
}

TEST_F(NumberRanges, FloatsTakePrecisionAndARangeFromTheScale) {
    auto* f = dynamic_cast<db::TFloatField*>(OpenColumn(dtFloat, 7, 2));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Precision(), 7);
    EXPECT_DOUBLE_EQ(f->MaxValue(), 99999.99);
    EXPECT_DOUBLE_EQ(f->MinValue(), -99999.99);
}

TEST_F(NumberRanges, LargeIntegersOfEighteenDigitsTakeTheirRange) {
    auto* f = dynamic_cast<db::TLargeintField*>(OpenColumn(dtLargeint, 18));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->MaxValue(), 999999999999999999);
    EXPECT_EQ(f->MinValue(), -999999999999999999);
}

TEST(NumberRange, PrecisionsWithoutARepresentableRangeGiveNoneInsteadOfAWrappedOne) {
    struct Case {
        TDataType type;
        int length;
    };
    for (const Case c : {Case{dtFloat, 0}, Case{dtFloat, 16}, Case{dtInteger, 10}, Case{dtLargeint, 19},
                         Case{dtLargeint, 38}}) {
        FakeDataSet ds;
        ds.SetNumberRange(true);
        ds.SetData({{"N", c.type, c.length}}, {{Null()}});
        ds.Open();
        db::TField* f = ds.FieldByName("N");
        SCOPED_TRACE(db::FieldTypeName(f->DataType()) + " " + std::to_string(c.length));
        if (auto* i = dynamic_cast<db::TIntegerField*>(f)) {
            EXPECT_EQ(i->MaxValue(), 0);
        }
        if (auto* l = dynamic_cast<db::TLargeintField*>(f)) {
            EXPECT_EQ(l->MaxValue(), 0);
        }
        if (auto* d = dynamic_cast<db::TFloatField*>(f)) {
            EXPECT_EQ(d->MaxValue(), 0.0);
        }
        ds.Edit();
        if (c.type == dtLargeint) f->SetAsLargeInt(INT64_MAX);
        if (c.type == dtInteger) f->SetAsInteger(INT32_MAX);
        ds.Post();
    }
}

TEST(NumberRange, WithoutTheOptionFieldsHaveNoRange) {
    FakeDataSet ds;
    ds.SetData({{"N", dtInteger, 5}}, {});
    ds.Open();
    EXPECT_EQ(dynamic_cast<db::TIntegerField*>(ds.FieldByName("N"))->MaxValue(), 0);
}

// ---------------------------------------------------------------------------------------------
// Service and updater

TEST(DataSetService, TheDatasetMakesItsServiceWhenItNeedsFieldClassesAndReplacesOneOfAnotherClass) {
    FakeDataSet ds;
    fake::FillNumbered(ds.RecordSet(), 1);
    EXPECT_EQ(ds.GetDataSetService(), nullptr);
    ds.Open();
    ASSERT_NE(ds.GetDataSetService(), nullptr);
    EXPECT_NE(dynamic_cast<test::CountingService*>(ds.GetDataSetService()), nullptr);
    EXPECT_NE(dynamic_cast<test::CountingUpdater*>(ds.GetDataSetService()->Updater()), nullptr);
    TDataSetService* service = ds.GetDataSetService();
    ds.CheckDataSetService();
    EXPECT_EQ(ds.GetDataSetService(), service);

    ds.SetDataSetService(new TDataSetService(&ds));
    ds.CheckDataSetService();
    EXPECT_NE(dynamic_cast<test::CountingService*>(ds.GetDataSetService()), nullptr);
}

TEST(DataSetService, TheBaseServiceKnowsNoOptionsAndTheUpdaterNeedsAService) {
    TMemDataSet ds;
    TDataSetService service(&ds);
    rtl::Variant v;
    EXPECT_THROW(service.SetProp(prKeySequence, v), rtl::EAssertionFailed);
    EXPECT_THROW(service.GetProp(prKeySequence, v), rtl::EAssertionFailed);
    EXPECT_EQ(service.Updater(), nullptr);
    service.MakeUpdater();
    ASSERT_NE(service.Updater(), nullptr);
    EXPECT_EQ(service.Updater()->DataSet(), &ds);
    EXPECT_THROW(TDataSetUpdater(nullptr), rtl::EAssertionFailed);
    EXPECT_EQ(service.GetFieldClass(db::ftWideMemo), db::TFieldClass::Of<db::TWideMemoField>());
    EXPECT_FALSE(service.GetFieldClass(db::ftCursor));
}

TEST(DataSetService, WithTheBaseUpdaterEveryCachedChangeIsReportedApplied) {
    TMemDataSet ds;
    ds.SetIRecordSet(new fake::FakeRecordSet());
    fake::FillNumbered(static_cast<fake::FakeRecordSet&>(*ds.GetIRecordSet()), 2);
    ds.SetCachedUpdates(true);
    ds.Open();
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString("x");
    ds.Post();
    ds.ApplyUpdates();
    EXPECT_EQ(ds.UpdateResult(), db::uaApplied);
}

}  // namespace
}  // namespace dac
