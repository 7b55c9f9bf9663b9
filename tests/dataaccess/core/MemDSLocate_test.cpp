// The dataset over record storage: key conversion, Locate and Lookup with and without a sort
// order, the field-array searches with their extended options, and FindRecord.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/rtl/DateTime.h"
#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Null;
using rtl::Variant;
using test::FakeDataSet;

// ID (integer, with a null and duplicates), NAME, GRP (smallint) and a calculated ID2 = ID * 2;
// the rows' ordinal numbers in SEQ.
struct Locating : ::testing::Test {
    void SetUp() override {
        ds.SetName("Q");
        ds.SetData({{"SEQ", dtInteger}, {"ID", dtInteger}, {"NAME", dtString, 20}, {"GRP", dtSmallint}},
                   {{Variant(1), Variant(30), Variant("Cherry"), Variant(int16_t{1})},
                    {Variant(2), Variant(10), Variant("apple"), Variant(int16_t{2})},
                    {Variant(3), Null(), Variant("nothing"), Variant(int16_t{1})},
                    {Variant(4), Variant(20), Variant("Banana"), Variant(int16_t{2})},
                    {Variant(5), Variant(10), Variant("Apple"), Variant(int16_t{1})},
                    {Variant(6), Variant(20), Variant("banana"), Variant(int16_t{1})}});
    }
    int Seq() { return ds.FieldByName("SEQ")->AsInteger(); }
    // SEQ of the row Locate lands on, 0 when nothing is found (the position must then stay).
    int LocateSeq(const std::string& fields, const Variant& values, db::TLocateOptions options = {}) {
        const int before = Seq();
        if (ds.Locate(fields, values, options)) return Seq();
        EXPECT_EQ(Seq(), before) << "a failed search moved the dataset";
        return 0;
    }
    // SEQ of the first row in the order shown whose field holds value.
    int FirstSeqWhere(const char* field, int value) {
        const db::TBookmark bm = ds.GetBookmark();
        int seq = 0;
        for (ds.First(); !ds.Eof() && !seq; ds.Next())
            if (!ds.FieldByName(field)->IsNull() && ds.FieldByName(field)->AsInteger() == value) seq = Seq();
        ds.GotoBookmark(bm);
        return seq;
    }
    std::vector<db::TField*> Fields(std::initializer_list<const char*> names) {
        std::vector<db::TField*> out;
        for (const char* n : names) out.push_back(ds.FieldByName(n));
        return out;
    }
    FakeDataSet ds;
};

TEST_F(Locating, FindsTheFirstMatchingRowWithOrWithoutASortOrder) {
    ds.Open();
    for (const char* order : {"", "ID", "ID DESC", "NAME", "GRP;ID"}) {
        SCOPED_TRACE(order);
        ds.SetIndexFieldNames(order);
        ds.Last();
        // The first of the equal rows in the order shown.
        EXPECT_EQ(LocateSeq("ID", Variant(10)), FirstSeqWhere("ID", 10));
        EXPECT_EQ(LocateSeq("ID", Variant(30)), 1);
        EXPECT_EQ(LocateSeq("ID", Variant(99)), 0);
        EXPECT_EQ(LocateSeq("ID;NAME", rtl::VarArrayOf({Variant(20), Variant("banana")})), 6);
        EXPECT_EQ(LocateSeq("ID;NAME", rtl::VarArrayOf({Variant(20), Variant("cherry")})), 0);
    }
}

TEST_F(Locating, ASortedKeyUsesTheBinarySearchAndAnUnsortedOneTheScanWithTheSameResults) {
    ds.SetIndexFieldNames("ID");
    ds.Open();
    EXPECT_EQ(LocateSeq("ID", Variant(20)), 4);
    EXPECT_TRUE(ds.GetIRecordSet()->HasSortColumns());
    // The binary search asked for records by number.
    EXPECT_TRUE(static_cast<TMemData*>(ds.GetIRecordSet())->RecordNoCacheFilled());
    ds.SetIndexFieldNames("");
    EXPECT_EQ(LocateSeq("ID", Variant(20)), 4);
}

TEST_F(Locating, CaseInsensitiveAndPartialKeys) {
    ds.Open();
    EXPECT_EQ(LocateSeq("NAME", Variant("apple")), 2);
    EXPECT_EQ(LocateSeq("NAME", Variant("APPLE")), 0);
    EXPECT_EQ(LocateSeq("NAME", Variant("APPLE"), {db::loCaseInsensitive}), 2);
    EXPECT_EQ(LocateSeq("NAME", Variant("Ban"), {db::loPartialKey}), 4);
    EXPECT_EQ(LocateSeq("NAME", Variant("ban"), {db::loPartialKey, db::loCaseInsensitive}), 4);
    // Sorted case-insensitively: a case-sensitive search cannot use the order, yet finds the row.
    ds.SetIndexFieldNames("NAME CIS");
    EXPECT_EQ(LocateSeq("NAME", Variant("banana")), 6);
    EXPECT_EQ(LocateSeq("NAME", Variant("BANANA"), {db::loCaseInsensitive}), 4);
}

TEST_F(Locating, ANullKeyFindsANullFieldAndNoOtherKeyEverDoes) {
    for (const char* order : {"", "ID"}) {
        ds.SetIndexFieldNames(order);
        ds.Open();
        EXPECT_EQ(LocateSeq("ID", Null()), 3);
        EXPECT_EQ(LocateSeq("ID", Variant(0)), 0);
        ds.Close();
    }
}

TEST_F(Locating, AKeyThatCannotBecomeTheFieldsTypeFindsNothingNotTheNullRow) {
    for (const char* order : {"", "ID", "GRP"}) {
        SCOPED_TRACE(order);
        ds.SetIndexFieldNames(order);
        ds.Open();
        ds.Last();
        EXPECT_EQ(LocateSeq("ID", Variant("abc")), 0);
        EXPECT_TRUE(ds.Lookup("ID", Variant("abc"), "SEQ").IsNull());
        // A numeric text is parsed for a sorted column and compared as text otherwise.
        EXPECT_EQ(LocateSeq("ID", Variant("20")), FirstSeqWhere("ID", 20));
        // A value beyond the field's range matches nothing instead of its truncation.
        EXPECT_EQ(LocateSeq("GRP", Variant(int32_t{65537})), 0);
        EXPECT_EQ(LocateSeq("ID", rtl::BytesToVariant(rtl::TBytes{1, 2})), 0);
        ds.Close();
    }
}

TEST_F(Locating, AnEmptyFieldListFindsNothingAndUnknownNamesAreReported) {
    ds.Open();
    ds.Next();
    EXPECT_EQ(LocateSeq("", Variant(1)), 0);
    EXPECT_EQ(Seq(), 2);
    EXPECT_THROW(ds.Locate("NOSUCH", Variant(1), {}), rtl::Exception);
    ds.Close();
    EXPECT_THROW(ds.Locate("ID", Variant(1), {}), rtl::EDatabaseError);
}

TEST_F(Locating, LookupLeavesTheDatasetWhereItWasAndAnswersNullForNoMatch) {
    ds.SetIndexFieldNames("ID");
    ds.Open();
    ds.Next();
    const int before = Seq();
    EXPECT_EQ(ds.Lookup("ID", Variant(30), "NAME").AsString(), "Cherry");
    Variant both = ds.Lookup("ID;NAME", rtl::VarArrayOf({Variant(20), Variant("banana")}), "SEQ;GRP");
    ASSERT_TRUE(both.IsArray());
    EXPECT_EQ(both.GetElement(0).AsInteger(), 6);
    EXPECT_EQ(both.GetElement(1).AsInteger(), 1);
    EXPECT_TRUE(ds.Lookup("ID", Variant(99), "NAME").IsNull());
    EXPECT_EQ(Seq(), before);
    EXPECT_EQ(ds.State(), db::dsBrowse);
    ds.Next();
    EXPECT_EQ(ds.RecNo(), 3);
}

TEST_F(Locating, LookupComputesTheCalculatedFieldsOfTheFoundRow) {
    for (const char* name : {"SEQ", "ID", "NAME", "GRP"}) {
        db::TField* f = std::string(name) == "NAME"  ? static_cast<db::TField*>(new db::TStringField(&ds))
                        : std::string(name) == "GRP" ? static_cast<db::TField*>(new db::TSmallintField(&ds))
                                                     : new db::TIntegerField(&ds);
        f->SetFieldName(name);
        if (std::string(name) == "NAME") f->SetSize(20);
        f->SetDataSet(&ds);
    }
    auto* id2 = new db::TIntegerField(&ds);
    id2->SetFieldName("ID2");
    id2->SetFieldKind(db::fkCalculated);
    id2->SetDataSet(&ds);
    ds.OnCalcFields = [&](db::TDataSet* d) { id2->SetAsInteger(d->FieldByName("ID")->AsInteger() * 2); };
    ds.Open();
    EXPECT_EQ(ds.Lookup("SEQ", Variant(4), "ID2").AsInteger(), 40);
    // A calculated key is computed for each row the search reads.
    EXPECT_EQ(LocateSeq("ID2", Variant(60)), 1);
    EXPECT_EQ(LocateSeq("ID2", Variant(40)), 4);
}

TEST_F(Locating, SearchFromTheNextRecordAndBackwards) {
    for (const char* order : {"", "ID"}) {
        SCOPED_TRACE(order);
        ds.SetIndexFieldNames(order);
        ds.Open();
        const auto id = Fields({"ID"});
        ASSERT_TRUE(ds.SearchByFields(id, Variant(20), {}));
        const int first = Seq();
        ASSERT_TRUE(ds.SearchByFields(id, Variant(20), {srFromNext}));
        const int second = Seq();
        EXPECT_NE(first, second);
        EXPECT_FALSE(ds.SearchByFields(id, Variant(20), {srFromNext}));
        EXPECT_EQ(Seq(), second);
        ASSERT_TRUE(ds.SearchByFields(id, Variant(20), {srBackward}));
        EXPECT_EQ(Seq(), first);
        EXPECT_FALSE(ds.SearchByFields(id, Variant(20), {srBackward}));
        ds.Last();
        ASSERT_TRUE(ds.SearchByFields(id, Variant(10), {srBackward}));
        EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 10);
        ds.Close();
    }
}

TEST(SearchByFields, NearestStopsAtTheFirstValueNotBelowTheKeyAndSucceedsAtTheEnd) {
    FakeDataSet ds;
    ds.SetData({{"V", dtInteger}}, {{Variant(10)}, {Variant(20)}, {Variant(30)}});
    ds.Open();
    const std::vector<db::TField*> v = {ds.FieldByName("V")};
    EXPECT_TRUE(ds.SearchByFields(v, Variant(25), {srNearest}));
    EXPECT_EQ(ds.FieldByName("V")->AsInteger(), 30);
    EXPECT_TRUE(ds.SearchByFields(v, Variant(20), {srNearest}));
    EXPECT_EQ(ds.FieldByName("V")->AsInteger(), 20);
    ds.First();
    EXPECT_TRUE(ds.SearchByFields(v, Variant(35), {srNearest}));
    EXPECT_EQ(ds.FieldByName("V")->AsInteger(), 30);
    EXPECT_FALSE(ds.SearchByFields(v, Variant(35), {}));
}

TEST_F(Locating, SearchByFieldsCanFindTextsContainingTheKey) {
    ds.Open();
    const auto name = Fields({"NAME"});
    EXPECT_TRUE(ds.SearchByFields(name, Variant("nan"), {srPartialCompare}));
    EXPECT_EQ(Seq(), 4);
    EXPECT_FALSE(ds.SearchByFields(name, Variant("NAN"), {srPartialCompare}));
    EXPECT_TRUE(ds.SearchByFields(name, Variant("PPL"), {srPartialCompare, srCaseInsensitive}));
    EXPECT_EQ(Seq(), 2);
}

TEST_F(Locating, LocateByFieldsTakesFieldObjects) {
    ds.Open();
    EXPECT_TRUE(ds.LocateByFields(Fields({"GRP", "ID"}), rtl::VarArrayOf({Variant(1), Variant(10)})));
    EXPECT_EQ(Seq(), 5);
    EXPECT_FALSE(ds.LocateByFields(Fields({"GRP", "ID"}), rtl::VarArrayOf({Variant(2), Variant(30)})));
}

TEST_F(Locating, ScrollEventsSurroundASuccessfulLocate) {
    ds.Open();
    int before = 0, after = 0;
    ds.BeforeScroll = [&](db::TDataSet*) { ++before; };
    ds.AfterScroll = [&](db::TDataSet*) { ++after; };
    ds.Locate("SEQ", Variant(5), {});
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    ds.Locate("SEQ", Variant(50), {});
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 1);
}

TEST_F(Locating, FindRecordAppliesTheFilterEventWhileFilteredIsOff) {
    ds.SetOnFilterRecord(
        [](db::TDataSet* d, bool& accept) { accept = d->FieldByName("GRP")->AsInteger() == 2; });
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 6);
    EXPECT_TRUE(ds.FindFirst());
    EXPECT_EQ(Seq(), 2);
    EXPECT_TRUE(ds.FindNext());
    EXPECT_EQ(Seq(), 4);
    EXPECT_FALSE(ds.FindNext());
    EXPECT_EQ(Seq(), 4);
    EXPECT_TRUE(ds.FindLast());
    EXPECT_EQ(Seq(), 4);
    EXPECT_TRUE(ds.FindPrior());
    EXPECT_EQ(Seq(), 2);
    // The filter is off again for everything else.
    ds.First();
    EXPECT_EQ(Seq(), 1);
}

// ---------------------------------------------------------------------------------------------
// Key conversion

struct KeyBuffers : ::testing::Test {
    // The key for a descriptor of type dt, or nothing; the buffer's data type in type.
    std::vector<uint8_t> Convert(const Variant& value, TDataType dt, bool convertStrings, TDataType& type,
                                 bool& none) {
        TFieldDesc desc;
        desc.DataType = dt;
        void* buffer = nullptr;
        type = 0xFFFF;
        ds.VariantToNativeBuf(value, buffer, type, &desc, convertStrings);
        none = buffer == nullptr;
        if (none) return {};
        size_t size = 8;
        if (type == dtString) size = std::strlen(static_cast<char*>(buffer)) + 1;
        if (type == dtInteger) size = 4;
        if (type == dtBoolean) size = 1;
        std::vector<uint8_t> out(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size);
        std::free(buffer);
        return out;
    }
    TMemDataSet ds;
};

TEST_F(KeyBuffers, NullAndUnassignedGiveNoBufferAndLeaveTheType) {
    TDataType type;
    bool none;
    Convert(Null(), dtInteger, true, type, none);
    EXPECT_TRUE(none);
    EXPECT_EQ(type, 0xFFFF);
    Convert(Variant(), dtString, false, type, none);
    EXPECT_TRUE(none);
}

TEST_F(KeyBuffers, ValuesTakeTheFieldsTypeAndTextsAreParsedOnlyWhenAsked) {
    TDataType type;
    bool none;
    auto asInt = [](const std::vector<uint8_t>& b) { return PeekPacked<int32_t>(b.data(), 0); };
    auto asDouble = [](const std::vector<uint8_t>& b) { return PeekPacked<double>(b.data(), 0); };
    EXPECT_EQ(asInt(Convert(Variant(int16_t{-5}), dtInteger, false, type, none)), -5);
    EXPECT_EQ(type, dtInteger);
    EXPECT_EQ(asInt(Convert(Variant("123"), dtInteger, true, type, none)), 123);
    EXPECT_EQ(type, dtInteger);
    Convert(Variant("123"), dtInteger, false, type, none);
    EXPECT_EQ(type, dtString);
    EXPECT_DOUBLE_EQ(asDouble(Convert(Variant(7), dtFloat, false, type, none)), 7.0);
    EXPECT_DOUBLE_EQ(
        asDouble(Convert(Variant::FromDateTime(rtl::EncodeDate(2001, 2, 3)), dtDate, false, type, none)),
        rtl::EncodeDate(2001, 2, 3));
    EXPECT_EQ(PeekPacked<int64_t>(Convert(Variant("-9000000000"), dtLargeint, true, type, none).data(), 0),
              -9000000000);
    EXPECT_EQ(Convert(Variant(true), dtBoolean, false, type, none)[0], 1);
    EXPECT_EQ(type, dtBoolean);
    const auto text = Convert(Variant(42), dtStringRef, false, type, none);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "42");
    EXPECT_EQ(type, dtString);
}

TEST_F(KeyBuffers, TypesWithoutAComparisonFormRaiseCannotConvertType) {
    TDataType type;
    bool none;
    for (TDataType dt : {dtBlob, dtMemo, dtObject, dtVariant, dtCursor}) {
        try {
            Convert(Variant(1), dt, false, type, none);
            FAIL() << dt;
        } catch (rtl::EConvertError& e) {
            EXPECT_EQ(e.Message(), "Cannot convert type");
        }
    }
    EXPECT_THROW(Convert(Variant("x"), dtBlob, true, type, none), rtl::EConvertError);
    EXPECT_THROW(Convert(Variant("x"), dtInteger, true, type, none), rtl::EConvertError);
    // Without parsing a text key is compared as text, also for a memo.
    Convert(Variant("x"), dtMemo, false, type, none);
    EXPECT_EQ(type, dtString);
}

}  // namespace
}  // namespace dac
