// The dataset over record storage: opening over a driver record set, field definitions, record
// buffers, field values, calculated fields, navigation, bookmarks, filters, sort orders and
// nested datasets.
#include <gtest/gtest.h>

#include <map>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Threads.h"
#include "tests/dataaccess/core/MemDSFixture.h"

namespace dac {
namespace {

using rtl::Null;
using rtl::Variant;
using test::Column;
using test::ColumnValues;
using test::FakeDataSet;
using test::Row;
using test::Strings;

// A dataset over ID (integer) and NAME (string of 20) with the rows (i, "row i").
struct Numbered : ::testing::Test {
    void SetUp() override { fake::FillNumbered(ds.RecordSet(), 5); }
    FakeDataSet ds;
};

// ---------------------------------------------------------------------------------------------
// Opening and reading

TEST_F(Numbered, OpensOverTheDriverAndStandsOnTheFirstRow) {
    ds.Open();
    EXPECT_TRUE(ds.Active());
    EXPECT_EQ(ds.FieldCount(), 2);
    EXPECT_TRUE(ds.DefaultFields());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "row 1");
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_FALSE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"1", "2", "3", "4", "5"}));
    ds.Close();
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.FieldCount(), 0);
}

TEST_F(Numbered, FetchesBlocksAsTheCursorMovesAndSetsEofAfterTheLastRow) {
    ds.RecordSet().SetProp(prFetchRows, 2);
    ds.Open();
    EXPECT_EQ(ds.RecordSet().Fetches, 1);
    EXPECT_EQ(ds.RecordCount(), 2);
    std::vector<int> ids;
    while (!ds.Eof()) {
        ids.push_back(ds.FieldByName("ID")->AsInteger());
        ds.Next();
    }
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
    ds.Prior();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 4);
    EXPECT_EQ(ds.RecNo(), 4);
    ds.First();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
    ds.Last();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 5);
    EXPECT_TRUE(ds.Eof());
}

TEST(MemDataSet, AnEmptyCursorIsAtItsEndAtOnceAndHasNoCurrentRecord) {
    FakeDataSet ds;
    fake::FillNumbered(ds.RecordSet(), 0);
    ds.Open();
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.IsEmpty());
    db::TRecordBuffer buffer;
    EXPECT_FALSE(ds.GetActiveRecBuf(buffer));
    EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(ds.RecordCount(), 0);
    // Before the first record the storage reports BOF, though it is at its end as well.
    EXPECT_EQ(ds.FetchInto(ds.ActiveBuf(), db::gmCurrent), db::grBOF);
}

TEST(MemDataSet, NullColumnsReadAsNullAndAsTheZeroValuesOfEachReader) {
    FakeDataSet ds;
    ds.SetData({{"I", dtInteger}, {"F", dtFloat}, {"S", dtString, 10}, {"D", dtDateTime}, {"B", dtBoolean}},
               {{Null(), Null(), Null(), Null(), Null()}});
    ds.Open();
    for (int i = 0; i < ds.FieldCount(); ++i) EXPECT_TRUE(ds.Fields()[i]->IsNull()) << i;
    EXPECT_EQ(ds.FieldByName("I")->AsInteger(), 0);
    EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 0.0);
    EXPECT_EQ(ds.FieldByName("S")->AsString(), "");
    EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), 0.0);
    EXPECT_FALSE(ds.FieldByName("B")->AsBoolean());
    EXPECT_TRUE(ds.FieldByName("I")->Value().IsNull());
}

TEST(MemDataSet, ValuesOfEveryPlainTypeReadThroughTheirFields) {
    FakeDataSet ds;
    const rtl::TDateTime when = rtl::EncodeDateTime(2024, 2, 29, 13, 45, 6, 789);
    ds.SetData(
        {{"I", dtInteger},
         {"SI", dtSmallint},
         {"W", dtWord},
         {"L", dtLargeint},
         {"F", dtFloat},
         {"C", dtBCD, 18, 4},
         {"B", dtBoolean},
         {"S", dtString, 10},
         {"WS", dtWideString, 10},
         {"D", dtDate},
         {"T", dtTime},
         {"DT", dtDateTime},
         {"V", dtVarBytes, 4}},
        {{Variant(int32_t{-7}), Variant(int16_t{300}), Variant(uint16_t{65000}), Variant(int64_t{1} << 40),
          Variant(2.5), Variant(rtl::Currency::FromRaw(123456)), Variant(true), Variant("text"),
          Variant(std::u16string(u"\u0416x")), Variant::FromDateTime(when), Variant::FromDateTime(when),
          Variant::FromDateTime(when), rtl::BytesToVariant(rtl::TBytes{1, 2, 3})}});
    ds.Open();
    EXPECT_EQ(ds.FieldByName("I")->AsInteger(), -7);
    EXPECT_EQ(ds.FieldByName("SI")->AsInteger(), 300);
    EXPECT_EQ(ds.FieldByName("W")->AsInteger(), 65000);
    EXPECT_EQ(ds.FieldByName("L")->AsLargeInt(), int64_t{1} << 40);
    EXPECT_EQ(ds.FieldByName("F")->AsFloat(), 2.5);
    EXPECT_EQ(ds.FieldByName("C")->AsCurrency(), rtl::Currency::FromRaw(123456));
    EXPECT_TRUE(ds.FieldByName("B")->AsBoolean());
    EXPECT_EQ(ds.FieldByName("S")->AsString(), "text");
    EXPECT_EQ(ds.FieldByName("WS")->AsWideString(), u"\u0416x");
    EXPECT_EQ(ds.FieldByName("D")->AsDateTime(), rtl::EncodeDate(2024, 2, 29));
    EXPECT_NEAR(ds.FieldByName("T")->AsDateTime(), rtl::EncodeTime(13, 45, 6, 789), 1e-9);
    EXPECT_NEAR(ds.FieldByName("DT")->AsDateTime(), when, 1e-9);
    EXPECT_EQ(ds.FieldByName("V")->AsBytes(), (rtl::TBytes{1, 2, 3}));
    EXPECT_EQ(ds.FieldByName("C")->DataType(), db::ftBCD);
}

TEST_F(Numbered, AUniDirectionalCursorReadsEveryRowOnce) {
    ds.RecordSet().SetProp(prUniDirectional, true);
    ds.RecordSet().SetProp(prFetchRows, 2);
    ds.Open();
    std::vector<int> ids;
    for (; !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID")->AsInteger());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(Numbered, BlockReadingReadsTheRowsWithoutScrollEvents) {
    ds.Open();
    int scrolls = 0;
    ds.AfterScroll = [&](db::TDataSet*) { ++scrolls; };
    ds.SetBlockReadSize(10);
    EXPECT_EQ(ds.State(), db::dsBlockRead);
    std::vector<std::string> names;
    for (; !ds.Eof(); ds.Next()) names.push_back(ds.FieldByName("NAME")->AsString());
    ds.SetBlockReadSize(0);
    EXPECT_EQ(names.size(), 5u);
    EXPECT_EQ(names.back(), "row 5");
    EXPECT_EQ(scrolls, 0);
    EXPECT_EQ(ds.State(), db::dsBrowse);
}

TEST_F(Numbered, PreparingDescribesWithoutOpeningAndUnpreparingForgetsTheDefinitions) {
    ds.Open();
    ds.Close();
    EXPECT_FALSE(ds.IsPrepared());
    ds.Prepare();
    EXPECT_TRUE(ds.IsPrepared());
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.FieldDefs().Updated());
    EXPECT_EQ(ds.FieldDefs().Count(), 2);
    const int describes = ds.RecordSet().Describes;
    ds.Open();
    EXPECT_EQ(ds.RecordSet().Describes, describes);
    ds.UnPrepare();
    EXPECT_FALSE(ds.Active());
    EXPECT_FALSE(ds.IsPrepared());
    EXPECT_FALSE(ds.FieldDefs().Updated());
}

TEST(MemDataSet, WithoutStorageTheDatasetIsClosedAndCancelDoesNothing) {
    TMemDataSet ds;
    EXPECT_EQ(ds.GetIRecordSet(), nullptr);
    EXPECT_FALSE(ds.IsPrepared());
    ds.Prepare();
    ds.Cancel();
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_FALSE(ds.BookmarkValid(db::TBookmark(RecBookmark::Size)));
    EXPECT_EQ(ds.CompareBookmarks(db::TBookmark{}, db::TBookmark{}), 0);
    ds.CreateIRecordSet();
    EXPECT_NE(dynamic_cast<TMemData*>(ds.GetIRecordSet()), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Field definitions

TEST(MemDataSet, FieldDefinitionsFollowTheDescriptors) {
    struct Case {
        Column column;
        db::TFieldType type;
        int size;
        int precision;
    };
    const std::vector<Case> cases = {
        {{"S", dtString, 20}, db::ftString, 20, 0},
        {{"S0", dtString, 0}, db::ftString, 1, 0},
        {{"W", dtWideString, 7}, db::ftWideString, 7, 0},
        {{"G", dtGuid, 38}, db::ftGuid, 38, 0},
        {{"I", dtInteger, 9}, db::ftInteger, 0, 9},
        {{"SI", dtSmallint, 4}, db::ftSmallint, 0, 4},
        {{"F", dtFloat, 15}, db::ftFloat, 0, 15},
        {{"L", dtLargeint, 18}, db::ftLargeint, 0, 18},
        {{"N", dtBCD, 12, 3}, db::ftBCD, 3, 12},
        {{"FB", dtFmtBcd, 30, 8}, db::ftFMTBcd, 8, 30},
        {{"VB", dtVarBytes, 16}, db::ftVarBytes, 16, 0},
        {{"BY", dtBytes, 4}, db::ftBytes, 4, 0},
        {{"D", dtDate}, db::ftDate, 0, 0},
        {{"M", dtMemo}, db::ftMemo, 0, 0},
        {{"WM", dtWideMemo}, db::ftWideMemo, 0, 0},
        {{"B", dtBlob}, db::ftBlob, 0, 0},
        {{"U", dtUInt32}, db::ftLargeint, 0, 0},
        {{"SR", dtStringRef, 30}, db::ftString, 30, 0},
    };
    FakeDataSet ds;
    std::vector<Column> columns;
    for (const Case& c : cases) columns.push_back(c.column);
    ds.SetData(columns, {});
    ds.FieldDefs().Update();
    ASSERT_TRUE(ds.FieldDefs().Updated());
    ASSERT_EQ(ds.FieldDefs().Count(), static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
        db::TFieldDef* def = ds.FieldDefs().Items(static_cast<int>(i));
        SCOPED_TRACE(def->Name());
        EXPECT_EQ(def->Name(), cases[i].column.Name);
        EXPECT_EQ(def->DataType(), cases[i].type);
        EXPECT_EQ(def->Size(), cases[i].size);
        EXPECT_EQ(def->Precision(), cases[i].precision);
        EXPECT_EQ(def->FieldNo(), static_cast<int>(i) + 1);
    }
}

TEST(MemDataSet, FieldDefinitionsCarryTheDescriptorsFlags) {
    FakeDataSet ds;
    Column required{"R", dtInteger};
    required.Required = true;
    Column readOnly{"RO", dtInteger};
    readOnly.ReadOnly = true;
    Column hidden{"H", dtInteger};
    hidden.Hidden = true;
    Column fixed{"FX", dtString, 3};
    fixed.Fixed = true;
    ds.SetData({required, readOnly, hidden, fixed}, {});
    ds.FieldDefs().Update();
    EXPECT_TRUE(ds.FieldDefs().Find("R")->Required());
    EXPECT_TRUE(ds.FieldDefs().Find("RO")->Attributes().Contains(db::faReadonly));
    EXPECT_TRUE(ds.FieldDefs().Find("H")->Attributes().Contains(db::faHiddenCol));
    EXPECT_TRUE(ds.FieldDefs().Find("FX")->Attributes().Contains(db::faFixed));

    // Without local constraints the server alone checks required columns.
    FakeDataSet loose;
    loose.SetLocalConstraints(false);
    loose.SetData({required}, {});
    loose.FieldDefs().Update();
    EXPECT_FALSE(loose.FieldDefs().Find("R")->Required());
}

TEST(MemDataSet, AColumnOfAnUnsupportedTypeFailsTheOpen) {
    FakeDataSet ds;
    ds.SetName("Query1");
    ds.SetData({{"ID", dtInteger}, {"X", dtUnknown}}, {});
    try {
        ds.Open();
        FAIL() << "opened";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Query1: Data type is not supported");
    }
    EXPECT_FALSE(ds.Active());
}

TEST(MemDataSet, AResultWithoutColumnsLeavesTheDefinitionsOutOfDateAndMakesNoFields) {
    FakeDataSet ds;
    ds.SetData({}, {});
    ds.FieldDefs().Update();
    EXPECT_FALSE(ds.FieldDefs().Updated());
    ds.Open();
    EXPECT_EQ(ds.FieldCount(), 0);
    EXPECT_TRUE(ds.Eof());
}

TEST(MemDataSet, RenamedColumnsOfTheSameCountGiveNewDefinitions) {
    FakeDataSet ds;
    ds.SetData({{"A", dtInteger}, {"B", dtInteger}}, {});
    ds.FieldDefs().Update();
    ds.RecordSet().Prepare();
    ds.Command().Columns = {{"A", dtInteger}, {"C", dtInteger}};
    ds.InitDefs();
    ASSERT_EQ(ds.FieldDefs().Count(), 2);
    EXPECT_EQ(ds.FieldDefs().Items(1)->Name(), "C");

    // Unchanged names keep the definitions as they are.
    db::TFieldDef* before = ds.FieldDefs().Items(0);
    ds.InitDefs();
    EXPECT_EQ(ds.FieldDefs().Items(0), before);
}

TEST(MemDataSet, APersistentStringFieldTakesTheWidthOfThisExecution) {
    FakeDataSet ds;
    ds.SetData({{"NAME", dtString, 40}}, {{Variant(std::string(35, 'x'))}});
    auto* field = new db::TStringField(&ds);
    field->SetFieldName("NAME");
    field->SetSize(10);
    field->SetDataSet(&ds);
    ds.Open();
    EXPECT_EQ(field->Size(), 40);
    EXPECT_EQ(field->AsString(), std::string(35, 'x'));
    EXPECT_FALSE(ds.DefaultFields());
}

// A storage describing one object column ADDR (STREET, CITY) and one array column PHONES of
// three strings, whose element names collide with a column named "PHONES.0".
class ObjectData : public fake::FakeRecordSet {
public:
    void InternalInitFields() override {
        FCommandType = ctCursor;
        auto* address = new TObjectType();
        address->Name = "ADDRESS_T";
        address->DataType = dtObject;
        for (const char* name : {"STREET", "CITY"}) {
            auto* a = new TAttribute();
            a->Name = name;
            a->DataType = dtString;
            a->Length = 30;
            address->AddAttribute(a);
        }
        auto* phones = new TObjectType();
        phones->Name = "PHONES_T";
        phones->DataType = dtArray;
        phones->Size = Elements;
        auto* e = new TAttribute();
        e->Name = "ELEMENT";
        e->DataType = dtString;
        e->Length = 12;
        phones->AddAttribute(e);
        AddObjectColumn("ADDR", address);
        auto* plain = GetFieldDescType().Create();
        plain->Name = plain->ActualName = "PHONES.0";
        plain->DataType = dtInteger;
        plain->Size = 4;
        plain->FieldNo = static_cast<uint16_t>(Fields().Count() + 1);
        Fields().Add(plain);
        AddObjectColumn("PHONES", phones);
        address->Free();
        phones->Free();
    }
    int Elements = 3;

private:
    void AddObjectColumn(const char* name, TObjectType* type) {
        auto* d = GetFieldDescType().Create();
        d->Name = d->ActualName = name;
        d->DataType = type->DataType;
        d->Size = PtrSize;
        d->FieldNo = static_cast<uint16_t>(Fields().Count() + 1);
        d->SetObjectType(type);
        Fields().Add(d);
        InitObjectFields(type, d);
    }
};

class ObjectDataSet : public FakeDataSet {
public:
    void CreateIRecordSet() override { SetIRecordSet(new ObjectData()); }
    ObjectData& Data() { return *static_cast<ObjectData*>(GetIRecordSet()); }
    ObjectDataSet() {
        FreeIRecordSet();
        CreateIRecordSet();
    }
};

TEST(MemDataSet, ObjectColumnsGetChildDefinitionsNamedByAttributeAndArraysByIndex) {
    ObjectDataSet ds;
    ds.FieldDefs().Update();
    db::TFieldDef* addr = ds.FieldDefs().Find("ADDR");
    ASSERT_EQ(addr->DataType(), db::ftADT);
    ASSERT_EQ(addr->ChildDefs().Count(), 2);
    EXPECT_EQ(addr->ChildDefs().Items(0)->Name(), "STREET");
    EXPECT_EQ(addr->ChildDefs().Items(1)->Name(), "CITY");
    EXPECT_EQ(addr->ChildDefs().Items(1)->Size(), 30);
    db::TFieldDef* phones = ds.FieldDefs().Find("PHONES");
    ASSERT_EQ(phones->DataType(), db::ftArray);
    ASSERT_EQ(phones->ChildDefs().Count(), 3);
    // "PHONES.0" names a column already.
    EXPECT_EQ(phones->ChildDefs().Items(0)->Name(), "0_1");
    EXPECT_EQ(phones->ChildDefs().Items(2)->Name(), "2");
    // Each part takes the number of its storage descriptor: ADDR 1, its parts 2 and 3, the
    // plain column 4, PHONES 5, its elements 6 to 8.
    EXPECT_EQ(addr->ChildDefs().Items(1)->FieldNo(), 3);
    EXPECT_EQ(phones->FieldNo(), 5);
    EXPECT_EQ(phones->ChildDefs().Items(2)->FieldNo(), 8);
    EXPECT_EQ(ds.FieldDefList().IndexOf("PHONES.1"), 6);
}

TEST(MemDataSet, ArraysGiveAtMostOneHundredElementDefinitionsOrOneWithSparseArrays) {
    ObjectDataSet ds;
    ds.Data().Elements = 250;
    ds.FieldDefs().Update();
    EXPECT_EQ(ds.FieldDefs().Find("PHONES")->ChildDefs().Count(), 100);
    EXPECT_EQ(ds.FieldDefs().Find("PHONES")->ChildDefs().Items(99)->Name(), "99");

    ObjectDataSet sparse;
    sparse.SetSparseArrays(true);
    sparse.FreeIRecordSet();
    sparse.CreateIRecordSet();
    sparse.FieldDefs().Update();
    EXPECT_EQ(sparse.FieldDefs().Find("PHONES")->ChildDefs().Count(), 1);
}

TEST(MemDataSet, ObjectFieldsReceiveTheirTypeNamesUnderObjectView) {
    ObjectDataSet ds;
    ds.SetObjectView(true);
    ds.Open();
    auto* addr = dynamic_cast<db::TObjectField*>(ds.FieldByName("ADDR"));
    ASSERT_NE(addr, nullptr);
    EXPECT_EQ(addr->ObjectType(), "ADDRESS_T");
    EXPECT_EQ(addr->FieldCount(), 2);
    EXPECT_EQ(dynamic_cast<db::TObjectField*>(ds.FieldByName("PHONES"))->ObjectType(), "PHONES_T");
}

// ---------------------------------------------------------------------------------------------
// Record buffers and bookmarks

TEST_F(Numbered, RecordBuffersEndInTheRecordInfoAndTheBookmark) {
    ds.Open();
    const int recordSize = ds.GetIRecordSet()->RecordSize();
    EXPECT_EQ(ds.RecInfoOffset(), recordSize);
    EXPECT_EQ(ds.BookmarkOffset(), recordSize + TMemDataSet::RecInfoSize);
    EXPECT_EQ(ds.RecBufferSize(), ds.BookmarkOffset() + static_cast<int>(RecBookmark::Size));
    EXPECT_EQ(ds.BookmarkSize(), static_cast<int>(RecBookmark::Size));
    ds.Next();
    db::TRecordBuffer buffer = ds.ActiveBuf();
    EXPECT_EQ(PeekPacked<int32_t>(buffer, static_cast<size_t>(ds.RecInfoOffset())), 2);
    EXPECT_EQ(buffer[ds.RecInfoOffset() + TMemDataSet::RecInfoBookmarkFlag], db::bfCurrent);
    EXPECT_EQ(buffer[ds.RecInfoOffset() + TMemDataSet::RecInfoRefreshed], 0);
    EXPECT_EQ(RecBookmark::RecNo(buffer + ds.BookmarkOffset()), 2);
}

TEST_F(Numbered, ANewRecordHasNumberZeroStatusInsertedAndTheInsertedFlag) {
    ds.Open();
    ds.Insert();
    db::TRecordBuffer buffer = ds.ActiveBuf();
    EXPECT_EQ(PeekPacked<int32_t>(buffer, static_cast<size_t>(ds.RecInfoOffset())), 0);
    EXPECT_EQ(buffer[ds.RecInfoOffset() + TMemDataSet::RecInfoUpdateStatus], db::usInserted);
    EXPECT_EQ(buffer[ds.RecInfoOffset() + TMemDataSet::RecInfoBookmarkFlag], db::bfInserted);
    EXPECT_EQ(ds.RecNo(), 0);
    ds.Cancel();
}

TEST_F(Numbered, BookmarksReturnToTheirRowAndCompareInRowOrder) {
    ds.Open();
    ds.Next();
    db::TBookmark second = ds.GetBookmark();
    ds.Next();
    ds.Next();
    db::TBookmark fourth = ds.GetBookmark();
    EXPECT_TRUE(ds.BookmarkValid(second));
    EXPECT_FALSE(ds.BookmarkValid(db::TBookmark{}));
    EXPECT_LT(ds.CompareBookmarks(second, fourth), 0);
    EXPECT_GT(ds.CompareBookmarks(fourth, second), 0);
    EXPECT_EQ(ds.CompareBookmarks(second, second), 0);
    ds.GotoBookmark(second);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(Numbered, SettingRecNoMovesAndScrollsEvenToTheCurrentNumber) {
    ds.Open();
    int scrolls = 0;
    ds.AfterScroll = [&](db::TDataSet*) { ++scrolls; };
    ds.SetRecNo(4);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 4);
    EXPECT_EQ(scrolls, 1);
    ds.SetRecNo(4);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(ds.RecNo(), 4);
}

TEST(MemDataSet, RefreshedBuffersGiveBackTheReferencesTheyHold) {
    FakeDataSet ds;
    ds.SetData({{"M", dtMemo}}, {{Variant("first")}, {Variant("second")}});
    ds.Open();
    TBlob* blob = ds.GetBlob(ds.FieldByName("M"));
    const int held = blob->RefCount();
    // The way a refresh marks a buffer: one more reference of its own.
    ds.GetIRecordSet()->AddRefComplexFields(ds.ActiveBuf());
    ds.SetRefreshed(ds.ActiveBuf(), true);
    EXPECT_EQ(blob->RefCount(), held + 1);
    ds.FreeRefBuffers();
    EXPECT_EQ(blob->RefCount(), held);
    EXPECT_FALSE(ds.GetRefreshed(ds.ActiveBuf()));
    // A refreshed buffer read over by the next record gives its references back as well.
    ds.GetIRecordSet()->AddRefComplexFields(ds.ActiveBuf());
    ds.SetRefreshed(ds.ActiveBuf(), true);
    ds.Next();
    ds.Next();
    EXPECT_EQ(blob->RefCount(), held);
    EXPECT_EQ(ds.FieldByName("M")->AsString(), "second");
}

// ---------------------------------------------------------------------------------------------
// Writing field values

TEST_F(Numbered, WritingOutsideAnEditingStateOrToAReadOnlyFieldIsRefused) {
    ds.SetName("Q");
    Column readOnly{"RO", dtInteger};
    readOnly.ReadOnly = true;
    ds.SetData({{"ID", dtInteger}, readOnly}, {{Variant(1), Variant(2)}});
    ds.Open();
    try {
        ds.FieldByName("ID")->SetAsInteger(5);
        FAIL() << "written in browse state";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Dataset not in edit or insert mode");
    }
    ds.Edit();
    try {
        ds.FieldByName("RO")->SetAsInteger(5);
        FAIL() << "read-only field written";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Q: Field 'RO' cannot be modified");
    }
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName("RO")->AsInteger(), 2);
}

TEST_F(Numbered, AFieldChangeMarksTheDatasetModifiedAndReachesTheField) {
    ds.Open();
    int changes = 0;
    ds.FieldByName("NAME")->OnChange = [&](db::TField*) { ++changes; };
    ds.Edit();
    EXPECT_FALSE(ds.Modified());
    ds.FieldByName("NAME")->SetAsString("changed");
    EXPECT_TRUE(ds.Modified());
    EXPECT_EQ(changes, 1);
    ds.Post();
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "changed");
}

// ---------------------------------------------------------------------------------------------
// Calculated fields

// ID, NAME and a calculated TWICE = 2 * ID.
struct Calculated : ::testing::Test {
    void SetUp() override {
        fake::FillNumbered(ds.RecordSet(), 4);
        for (const char* name : {"ID", "NAME"}) {
            db::TField* f = std::string(name) == "ID" ? static_cast<db::TField*>(new db::TIntegerField(&ds))
                                                      : new db::TStringField(&ds);
            f->SetFieldName(name);
            if (std::string(name) == "NAME") f->SetSize(20);
            f->SetDataSet(&ds);
        }
        twice = new db::TIntegerField(&ds);
        twice->SetFieldName("TWICE");
        twice->SetFieldKind(db::fkCalculated);
        twice->SetDataSet(&ds);
        ds.OnCalcFields = [this](db::TDataSet* d) {
            ++calcs;
            twice->SetAsInteger(d->FieldByName("ID")->AsInteger() * 2);
        };
    }
    FakeDataSet ds;
    db::TIntegerField* twice = nullptr;
    int calcs = 0;
};

TEST_F(Calculated, UncachedCalculatedFieldsAreComputedForEachRecordRead) {
    ds.Open();
    EXPECT_EQ(ColumnValues(ds, "TWICE"), Strings({"2", "4", "6", "8"}));
    TFieldDesc* desc = ds.GetFieldDesc(twice);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->Kind, 2);
    EXPECT_EQ(desc->Name, "TWICE");
    EXPECT_EQ(ds.RecInfoOffset(), ds.GetIRecordSet()->RecordSize() + ds.GetIRecordSet()->CalcRecordSize());
    EXPECT_GT(ds.GetIRecordSet()->CalcRecordSize(), 0);
    // Editing recomputes on a change of a data field.
    ds.Edit();
    ds.FieldByName("ID")->SetAsInteger(21);
    EXPECT_EQ(twice->AsInteger(), 42);
    ds.Post();
    EXPECT_EQ(twice->AsInteger(), 42);
}

TEST_F(Calculated, CachedCalculatedFieldsAreComputedOnceAtOpenAndKeptWithTheRows) {
    ds.SetCacheCalcFields(true);
    ds.Open();
    EXPECT_EQ(ds.GetFieldDesc(twice)->Kind, 1);
    EXPECT_EQ(ds.RecInfoOffset(), ds.GetIRecordSet()->RecordSize());
    // Every fetched row was computed at open.
    EXPECT_EQ(calcs, 4);
    EXPECT_EQ(ColumnValues(ds, "TWICE"), Strings({"2", "4", "6", "8"}));
    EXPECT_EQ(calcs, 4);
}

TEST_F(Calculated, AFilterCanTestACalculatedValue) {
    ds.SetFilter("TWICE > 4");
    ds.SetFiltered(true);
    ds.Open();
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"3", "4"}));
}

TEST(MemDataSet, ACalculatedFieldOfAComplexTypeIsRefusedWhenTheColumnsAreDescribed) {
    FakeDataSet ds;
    ds.SetName("Q");
    fake::FillNumbered(ds.RecordSet(), 2);
    auto* id = new db::TIntegerField(&ds);
    id->SetFieldName("ID");
    id->SetDataSet(&ds);
    for (db::TField* calc : std::vector<db::TField*>{new db::TMemoField(&ds), new db::TVariantField(&ds)}) {
        calc->SetFieldName("CALC");
        calc->SetFieldKind(db::fkCalculated);
        calc->SetDataSet(&ds);
        try {
            ds.Open();
            FAIL() << "opened with a calculated " << db::FieldTypeName(calc->DataType());
        } catch (rtl::EDatabaseError& e) {
            EXPECT_EQ(e.Message(),
                      "Q: Calculated field 'CALC' cannot be of type " + db::FieldTypeName(calc->DataType()));
        }
        EXPECT_FALSE(ds.Active());
        delete calc;
    }
}

// ---------------------------------------------------------------------------------------------
// Filters and sort orders

TEST_F(Numbered, AFilterHidesRowsAndFilteredOffShowsThemAgain) {
    ds.Open();
    ds.Next();
    ds.SetFilter("ID > 2");
    EXPECT_EQ(ds.RecordCount(), 5);
    ds.SetFiltered(true);
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"3", "4", "5"}));
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(ds.RecordCount(), 3);
    ds.SetFilter("ID < 3 OR ID = 5");
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"1", "2", "5"}));
    ds.SetFiltered(false);
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"1", "2", "3", "4", "5"}));
}

TEST_F(Numbered, FilterOptionsReachTheStorage) {
    ds.SetFilter("NAME = 'ROW 2'");
    ds.SetFiltered(true);
    ds.Open();
    EXPECT_TRUE(ds.IsEmpty());
    ds.SetFilterOptions(db::TFilterOptions{db::foCaseInsensitive});
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"2"}));
}

TEST_F(Numbered, TheFilterRecordEventDecidesAndItsErrorsGoToTheApplication) {
    std::vector<std::string> reported;
    rtl::SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (rtl::Exception& x) {
            reported.push_back(x.Message());
        }
    });
    ds.SetOnFilterRecord([](db::TDataSet* d, bool& accept) {
        EXPECT_EQ(d->State(), db::dsFilter);
        const int id = d->FieldByName("ID")->AsInteger();
        accept = id % 2 == 1;
        if (id == 3) throw rtl::Exception("bad row");
    });
    ds.SetFiltered(true);
    ds.Open();
    // Row 3 keeps the verdict the handler left before it failed.
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"1", "3", "5"}));
    EXPECT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), "bad row");
    EXPECT_EQ(ds.State(), db::dsBrowse);
    ds.SetOnFilterRecord(nullptr);
    EXPECT_EQ(ColumnValues(ds, "ID").size(), 5u);
    rtl::SetApplicationExceptionHandler(nullptr);
}

TEST_F(Numbered, IndexFieldNamesSortsTheRowsAndABadTextKeepsTheOrder) {
    ds.Open();
    ds.SetIndexFieldNames("ID DESC");
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"5", "4", "3", "2", "1"}));
    EXPECT_EQ(ds.IndexFieldNames(), "ID DESC");
    EXPECT_THROW(ds.SetIndexFieldNames("NOSUCH"), rtl::Exception);
    EXPECT_EQ(ds.IndexFieldNames(), "ID DESC");
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"5", "4", "3", "2", "1"}));
    ds.Close();
    ds.Open();
    EXPECT_EQ(ColumnValues(ds, "ID"), Strings({"5", "4", "3", "2", "1"}));
}

TEST_F(Numbered, RefreshReadsTheCursorAgain) {
    ds.Open();
    ds.Command().Rows.push_back({Variant(6), Variant("row 6")});
    ds.Refresh();
    EXPECT_EQ(ColumnValues(ds, "ID").size(), 6u);
    EXPECT_EQ(ds.Command().Executes, 2);
}

// ---------------------------------------------------------------------------------------------
// Nested datasets

struct Nested : ::testing::Test {
    void SetUp() override {
        fake::FillNumbered(parent.RecordSet(), 300);
        fake::FillNumbered(child.RecordSet(), 3);
        parent.Open();
        child.Open();
        child.SetParentSet(&parent);
    }
    // The child follows after the parent stood on row recNo.
    void ParentTo(int recNo) {
        parent.SetRecNo(recNo);
        child.DataEvent(db::deParentScroll, 0);
    }
    FakeDataSet parent, child;
};

TEST_F(Nested, AChildKeepsItsPlaceWhileTheParentStaysAndStartsOverWhenItMoves) {
    ParentTo(1);
    child.Next();
    child.DataEvent(db::deParentScroll, 0);
    EXPECT_EQ(child.RecNo(), 2);
    ParentTo(2);
    EXPECT_EQ(child.RecNo(), 1);
}

TEST_F(Nested, AParentRowWhoseBookmarkBytesAddUpTheSameStillCountsAsAMove) {
    // Two parent rows whose bookmarks have equal byte sums.
    std::map<int, int> rowOfSum;
    int first = 0, second = 0;
    for (int r = 1; r <= 300 && !second; ++r) {
        parent.SetRecNo(r);
        int sum = 0;
        for (uint8_t b : parent.GetBookmark()) sum += b;
        if (auto it = rowOfSum.find(sum); it != rowOfSum.end()) {
            first = it->second;
            second = r;
        }
        rowOfSum.emplace(sum, r);
    }
    ASSERT_NE(second, 0) << "no two rows with the same byte sum";
    ParentTo(first);
    child.Next();
    ParentTo(second);
    EXPECT_EQ(child.RecNo(), 1);
}

TEST_F(Nested, ClosingForgetsTheParent) {
    child.Close();
    EXPECT_EQ(child.ParentSet(), nullptr);
}

}  // namespace
}  // namespace dac
