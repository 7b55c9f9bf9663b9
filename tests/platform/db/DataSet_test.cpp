#include <gtest/gtest.h>

#include "tests/platform/db/TestDataSet.h"

using namespace db;
using namespace dbtest;
using rtl::Variant;

namespace {

// A dataset with ID (integer), NAME (string 10, required) and NOTE (memo) and three rows.
class DataSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ds.SetName("Emp");
        ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 10, true}, {"NOTE", ftMemo}};
        ds.Open();
        ds.AppendRecord({Variant(1), Variant("one"), Variant("first note")});
        ds.AppendRecord({Variant(2), Variant("two"), rtl::Null()});
        ds.AppendRecord({Variant(3), Variant("three"), rtl::Null()});
        ds.First();
        ds.ClearLog();
    }
    void LogEvents() {
        auto logAs = [this](const char* name) { return [this, name](TDataSet*) { ds.Log(name); }; };
        ds.BeforeOpen = logAs("BeforeOpen");
        ds.BeforeClose = logAs("BeforeClose");
        ds.AfterClose = logAs("AfterClose");
        ds.BeforeEdit = logAs("BeforeEdit");
        ds.AfterEdit = logAs("AfterEdit");
        ds.BeforeInsert = logAs("BeforeInsert");
        ds.AfterInsert = logAs("AfterInsert");
        ds.BeforePost = logAs("BeforePost");
        ds.AfterPost = logAs("AfterPost");
        ds.BeforeCancel = logAs("BeforeCancel");
        ds.AfterCancel = logAs("AfterCancel");
        ds.BeforeDelete = logAs("BeforeDelete");
        ds.AfterDelete = logAs("AfterDelete");
        ds.BeforeRefresh = logAs("BeforeRefresh");
        ds.AfterRefresh = logAs("AfterRefresh");
        ds.OnNewRecord = logAs("OnNewRecord");
    }
    std::vector<int> Ids() {
        std::vector<int> ids;
        ds.First();
        while (!ds.Eof()) {
            ids.push_back(ds.FieldByName("ID")->AsInteger());
            ds.Next();
        }
        return ids;
    }
    TTestDataSet ds;
};

TEST(DataSetOpen, CallingOrderAndFirstRow) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 5}};
    ds.Open();
    ds.AppendRecord({Variant(7), Variant("seven")});
    ds.Close();
    ds.ClearLog();
    ds.BeforeOpen = [&](TDataSet* d) { ds.Log(d->Active() ? "BeforeOpen(active)" : "BeforeOpen"); };

    ds.Open();
    // Buffers are allocated only after InternalOpen, then the first row is fetched.
    EXPECT_EQ(ds.LogText(),
              "BeforeOpen OpenCursor InternalOpen InternalInitFieldDefs Alloc Alloc InternalFirst "
              "GetRecord(Next) AfterOpen AfterScroll");
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_TRUE(ds.DefaultFields());
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    ASSERT_EQ(ds.FieldCount(), 2);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 7);
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "seven");
    EXPECT_EQ(ds.FieldByName("ID")->FieldNo(), 1);

    ds.ClearLog();
    ds.Close();
    // State is inactive before CloseCursor; buffers go before InternalClose.
    EXPECT_EQ(ds.LogText(), "CloseCursor Free Free InternalClose");
    EXPECT_EQ(ds.State(), dsInactive);
    EXPECT_EQ(ds.FieldCount(), 0);
    EXPECT_FALSE(ds.DefaultFields());
}

TEST(DataSetOpen, EmptyDataSetStandsAtEofAndReadsNullsAsZero) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 5}, {"AMOUNT", ftFloat}, {"WHEN", ftDateTime}};
    int afterScroll = 0;
    ds.AfterScroll = [&](TDataSet*) { ++afterScroll; };
    ds.Open();
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_EQ(afterScroll, 0);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 0);
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "");
    EXPECT_EQ(ds.FieldByName("AMOUNT")->AsFloat(), 0.0);
    EXPECT_EQ(ds.FieldByName("WHEN")->AsDateTime(), 0.0);
    EXPECT_TRUE(ds.FieldByName("ID")->Value().IsNull());
    ds.Next();
    EXPECT_TRUE(ds.Eof());
    EXPECT_THROW(ds.Delete(), rtl::EDatabaseError);
}

TEST(DataSetOpen, OpeningWhileLoadingWaitsForLoaded) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}};
    ds.Loading();
    ds.Open();
    EXPECT_FALSE(ds.Active());
    EXPECT_TRUE(ds.log.empty());
    ds.Loaded();
    EXPECT_TRUE(ds.Active());
}

TEST(DataSetOpen, FailedOpenClosesTheCursorAndStaysInactive) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}};
    ds.failOpen = true;
    EXPECT_THROW(ds.Open(), rtl::EDatabaseError);
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.LogText(), "OpenCursor InternalOpen CloseCursor InternalClose");
    ds.failOpen = false;
    ds.Open();
    EXPECT_TRUE(ds.Active());
}

TEST(DataSetOpen, FieldDefsUpdateOnAClosedDataSetOpensForInformationOnly) {
    TTestDataSet ds;
    ds.columns = {{"A", ftInteger}, {"B", ftString, 3}};
    ds.FieldDefs().Update();
    EXPECT_EQ(ds.LogText(), "OpenCursor(info) InternalInitFieldDefs CloseCursor InternalClose");
    EXPECT_FALSE(ds.Active());
    ASSERT_EQ(ds.FieldDefs().Count(), 2);
    EXPECT_EQ(ds.FieldDefs().Items(1)->Name(), "B");
    EXPECT_TRUE(ds.FieldDefs().Updated());

    // With no columns the definitions stay out of date and opening creates no fields.
    TTestDataSet none;
    none.FieldDefs().Update();
    EXPECT_FALSE(none.FieldDefs().Updated());
    none.Open();
    EXPECT_EQ(none.FieldCount(), 0);
}

TEST(DataSetOpen, PersistentFieldsAreBoundAndChecked) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 8}};
    auto* name = new TStringField(&ds);
    name->SetFieldName("NAME");
    name->SetSize(8);
    name->SetDataSet(&ds);
    ds.Open();
    EXPECT_FALSE(ds.DefaultFields());
    EXPECT_EQ(ds.FieldCount(), 1);
    EXPECT_EQ(name->FieldNo(), 2);
    EXPECT_THROW(name->SetDataSet(nullptr), rtl::EDatabaseError);  // the dataset is open
    ds.Close();
    EXPECT_EQ(ds.FieldCount(), 1);  // persistent fields survive the close

    TTestDataSet bad;
    bad.SetName("Bad");
    bad.columns = {{"ID", ftInteger}};
    auto* id = new TStringField(&bad);
    id->SetFieldName("ID");
    id->SetDataSet(&bad);
    try {
        bad.Open();
        FAIL() << "opened with a mistyped field";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Bad: Type mismatch for field 'ID', expecting: String actual: Integer");
    }
    EXPECT_FALSE(bad.Active());
    id->SetFieldName("MISSING");
    try {
        bad.Open();
        FAIL() << "opened with a field that has no column";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Bad: Field 'MISSING' not found");
    }
}

TEST_F(DataSetTest, NavigationEofBofAndRecNo) {
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(ds.RecNo(), 1);
    ds.Next();
    ds.Next();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_FALSE(ds.Eof());
    ds.Next();
    // Past the end: Eof, and the last row stays current.
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(ds.RecNo(), 3);
    ds.Prior();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    ds.Prior();
    ds.Prior();
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    ds.First();
    EXPECT_EQ(ds.MoveBy(5), 2);
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.MoveBy(-1), -1);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
}

TEST_F(DataSetTest, NextCallingOrder) {
    ds.Next();
    // The spare buffer receives the next row; the cursor already stands on the active one.
    EXPECT_EQ(ds.LogText(), "BeforeScroll GetRecord(Next) AfterScroll");
    ds.First();
    ds.ClearLog();
    ds.Prior();  // at Bof: nothing happens
    EXPECT_EQ(ds.LogText(), "");
    ds.Last();
    ds.ClearLog();
    ds.Next();  // at Eof: nothing happens
    EXPECT_EQ(ds.LogText(), "");
}

TEST_F(DataSetTest, CursorIsRepositionedFromTheActiveBuffer) {
    ds.Locate("ID", Variant(3), {});
    ds.Next();  // fails at the end: the storage cursor is past the last row
    EXPECT_TRUE(ds.Eof());
    ds.ClearLog();
    ds.Prior();
    EXPECT_EQ(ds.LogText(),
              "BeforeScroll InternalSetToRecord InternalGotoBookmark GetRecord(Prior) AfterScroll");
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
}

TEST_F(DataSetTest, Bookmarks) {
    ds.Next();
    TBookmark bm = ds.GetBookmark();
    ASSERT_EQ(bm.size(), 4u);
    ds.Last();
    ds.GotoBookmark(bm);
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    EXPECT_FALSE(ds.Eof());
    // A bookmark of a deleted row.
    ds.Delete();
    EXPECT_THROW(ds.GotoBookmark(bm), rtl::EDatabaseError);
    // No bookmark for an empty dataset.
    TTestDataSet empty;
    empty.columns = {{"ID", ftInteger}};
    empty.Open();
    EXPECT_TRUE(empty.GetBookmark().empty());
}

TEST_F(DataSetTest, EditCancelRestoresAndPostStores) {
    LogEvents();
    TField* name = ds.FieldByName("NAME");
    EXPECT_THROW(name->SetAsString("x"), rtl::EDatabaseError);  // browse mode
    ds.Edit();
    EXPECT_EQ(ds.LogText(), "BeforeEdit InternalEdit AfterEdit");
    EXPECT_EQ(ds.State(), dsEdit);
    EXPECT_FALSE(ds.Modified());
    name->SetAsString("uno");
    EXPECT_TRUE(ds.Modified());
    ds.ClearLog();
    ds.Cancel();
    EXPECT_EQ(ds.LogText(), "BeforeCancel InternalCancel GetRecord(Current) AfterCancel");
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(name->AsString(), "one");

    ds.Edit();
    name->SetAsString("uno");
    ds.ClearLog();
    ds.Post();
    EXPECT_EQ(ds.LogText(), "BeforePost InternalPost GetRecord(Current) AfterPost");
    EXPECT_EQ(name->AsString(), "uno");
    EXPECT_EQ(ds.RecNo(), 1);
    ds.Last();
    ds.First();
    EXPECT_EQ(name->AsString(), "uno");
}

TEST_F(DataSetTest, InsertLandsBeforeTheCurrentRowAndAppendAtTheEnd) {
    LogEvents();
    ds.Next();  // on ID 2
    ds.ClearLog();
    ds.Insert();
    EXPECT_EQ(
        ds.LogText(),
        "BeforeInsert BeforeScroll InternalInitRecord InternalInsert OnNewRecord AfterInsert AfterScroll");
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
    EXPECT_EQ(ds.RecNo(), 0);
    ds.FieldByName("ID")->SetAsInteger(10);
    ds.FieldByName("NAME")->SetAsString("ten");
    ds.ClearLog();
    ds.Post();
    // The insert buffer carries the old current row's bookmark: the cursor goes there first.
    EXPECT_EQ(
        ds.LogText(),
        "BeforePost InternalSetToRecord InternalGotoBookmark InternalPost GetRecord(Current) AfterPost");
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 10);
    EXPECT_EQ(Ids(), (std::vector<int>{1, 10, 2, 3}));

    ds.First();
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(20);
    ds.FieldByName("NAME")->SetAsString("twenty");
    ds.Post();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 20);
    EXPECT_EQ(Ids(), (std::vector<int>{1, 10, 2, 3, 20}));

    // Cancelling an insert brings back the row that was current.
    ds.First();
    ds.Next();
    ds.Insert();
    ds.FieldByName("ID")->SetAsInteger(99);
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 10);
    EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(DataSetTest, InsertIntoAnEmptyDataSet) {
    TTestDataSet e;
    e.columns = {{"ID", ftInteger}};
    e.Open();
    e.Edit();  // empty: Edit inserts
    EXPECT_EQ(e.State(), dsInsert);
    e.FieldByName("ID")->SetAsInteger(5);
    e.Post();
    EXPECT_FALSE(e.IsEmpty());
    EXPECT_FALSE(e.Eof());
    EXPECT_EQ(e.FieldByName("ID")->AsInteger(), 5);
    EXPECT_EQ(e.RecordCount(), 1);
}

TEST_F(DataSetTest, RequiredFieldsAndReadOnlyDataSets) {
    ds.Append();
    ds.FieldByName("ID")->SetAsInteger(4);
    try {
        ds.Post();
        FAIL() << "posted without a required value";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Emp: Field 'NAME' must have a value");
    }
    EXPECT_EQ(ds.State(), dsInsert);
    // OnPostError may retry after fixing the record.
    ds.OnPostError = [](TDataSet* d, rtl::EDatabaseError&, TDataAction& action) {
        d->FieldByName("NAME")->SetAsString("four");
        action = daRetry;
    };
    ds.Post();
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "four");
    EXPECT_EQ(ds.RecordCount(), 4);

    ds.readOnlyData = true;
    try {
        ds.Edit();
        FAIL() << "edited a read-only dataset";
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Emp: Cannot modify a read-only dataset");
    }
    EXPECT_EQ(ds.State(), dsBrowse);
}

TEST_F(DataSetTest, DeleteAndCheckBrowseMode) {
    LogEvents();
    ds.Next();
    ds.ClearLog();
    ds.Delete();
    EXPECT_EQ(ds.LogText(),
              "BeforeDelete BeforeScroll InternalDelete GetRecord(Current) AfterDelete AfterScroll");
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(Ids(), (std::vector<int>{1, 3}));

    // Moving away from a modified record posts it; from an unmodified one cancels it.
    ds.First();
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString("moved");
    ds.Next();
    EXPECT_EQ(ds.State(), dsBrowse);
    ds.First();
    EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "moved");
    ds.Edit();
    ds.ClearLog();
    ds.Next();
    EXPECT_NE(ds.LogText().find("InternalCancel"), std::string::npos);
    ds.Last();
    ds.Delete();
    ds.Delete();
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_TRUE(ds.Eof());
}

TEST_F(DataSetTest, RefreshAndRecNo) {
    LogEvents();
    ds.Next();
    ds.ClearLog();
    ds.Refresh();
    EXPECT_EQ(ds.LogText(), "BeforeRefresh InternalRefresh GetRecord(Current) AfterRefresh");
    EXPECT_EQ(ds.RecNo(), 2);
}

TEST_F(DataSetTest, FieldByNameNamesTheDataSetAndGetFieldValueTakesLists) {
    try {
        ds.FieldByName("NOPE");
        FAIL();
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Emp: Field 'NOPE' not found");
    }
    EXPECT_EQ(ds.FindField("nope"), nullptr);
    Variant v = ds.GetFieldValue("ID; NAME");
    ASSERT_TRUE(v.IsArray());
    EXPECT_EQ(v.GetElement(0).AsInteger(), 1);
    EXPECT_EQ(v.GetElement(1).AsString(), "one");
    EXPECT_EQ(ds.GetFieldValue("NAME").AsString(), "one");
}

TEST_F(DataSetTest, LocateAndLookup) {
    int scrolls = 0;
    ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
    EXPECT_TRUE(ds.Locate("NAME", Variant("THREE"), {loCaseInsensitive}));
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(scrolls, 1);
    EXPECT_FALSE(ds.Locate("NAME", Variant("THREE"), {}));  // case matters without the option
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 3);        // and the position is kept
    EXPECT_TRUE(ds.Locate("NAME", Variant("tw"), {loPartialKey}));
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    EXPECT_TRUE(ds.Locate("ID;NAME", rtl::VarArrayOf({Variant(1), Variant("one")}), {}));
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_FALSE(ds.Locate("ID;NAME", rtl::VarArrayOf({Variant(1), Variant("two")}), {}));
    EXPECT_TRUE(ds.Locate("NOTE", rtl::Null(), {}));  // null keys match null values
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
    // A key that does not convert to the column's kind finds nothing.
    EXPECT_FALSE(ds.Locate("ID", Variant("abc"), {}));
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);

    ds.First();
    scrolls = 0;
    EXPECT_EQ(ds.Lookup("ID", Variant(3), "NAME").AsString(), "three");
    EXPECT_TRUE(ds.Lookup("ID", Variant(42), "NAME").IsNull());
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1);  // Lookup does not move
    EXPECT_EQ(scrolls, 0);
    ds.Next();
    EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 2);
}

TEST_F(DataSetTest, MemoBlobStreams) {
    auto* note = dynamic_cast<TMemoField*>(ds.FieldByName("NOTE"));
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->DataSize(), 0);
    EXPECT_EQ(note->AsString(), "first note");
    EXPECT_EQ(note->Value().AsString(), "first note");
    EXPECT_EQ(note->BlobSize(), 10);
    // Writing needs edit mode.
    EXPECT_THROW(note->SetAsString("x"), rtl::EDatabaseError);
    EXPECT_EQ(note->AsString(), "first note");

    ds.Edit();
    note->SetAsString("changed");
    EXPECT_TRUE(note->Modified());
    EXPECT_TRUE(ds.Modified());
    EXPECT_EQ(note->AsString(), "changed");
    ds.Cancel();
    EXPECT_EQ(note->AsString(), "first note");

    ds.Edit();
    rtl::TStringStream src("from a stream");
    note->LoadFromStream(src);
    ds.Post();
    rtl::TStringStream out;
    note->SaveToStream(out);
    EXPECT_EQ(out.DataString(), "from a stream");

    ds.Next();
    EXPECT_TRUE(note->IsNull());
    EXPECT_TRUE(note->Value().IsNull());
    ds.Edit();
    note->SetAsString("x");
    note->Clear();
    EXPECT_TRUE(note->IsNull());
    ds.Post();
    EXPECT_TRUE(note->IsNull());
}

TEST(DataSetBlobs, WideMemoKeepsUtf16BytesAndBlobGivesByteArrays) {
    TTestDataSet ds;
    ds.columns = {{"W", ftWideMemo}, {"B", ftBlob}};
    ds.Open();
    ds.Append();
    ds.FieldByName("W")->SetAsWideString(u"\u0416x");
    ds.FieldByName("B")->SetAsBytes(TBytes{0, 1, 255});
    ds.Post();
    EXPECT_EQ(ds.FieldByName("W")->AsWideString(), u"\u0416x");
    EXPECT_EQ(ds.FieldByName("W")->AsString(), "\xC6x");  // code page 1251
    EXPECT_EQ(ds.FieldByName("W")->Value().VarType(), rtl::varOleStr);
    auto* w = dynamic_cast<TBlobField*>(ds.FieldByName("W"));
    EXPECT_EQ(w->BlobSize(), 4);  // two UTF-16 units
    Variant b = ds.FieldByName("B")->Value();
    ASSERT_TRUE(b.IsArray());
    EXPECT_EQ(rtl::VariantToBytes(b), (TBytes{0, 1, 255}));
    EXPECT_EQ(ds.FieldByName("B")->Text(), "(BLOB)");
}

TEST(DataSetCalc, CalculatedFieldsFollowTheRecordAndItsEdits) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}, {"NAME", ftString, 10}};
    auto* id = new TIntegerField(&ds);
    id->SetFieldName("ID");
    id->SetDataSet(&ds);
    auto* doubled = new TIntegerField(&ds);
    doubled->SetFieldName("DOUBLED");
    doubled->SetFieldKind(fkCalculated);
    doubled->SetDataSet(&ds);
    TDataSetState stateInCalc = dsInactive;
    int calcs = 0;
    ds.OnCalcFields = [&](TDataSet* d) {
        ++calcs;
        stateInCalc = d->State();
        if (!id->IsNull()) doubled->SetAsInteger(id->AsInteger() * 2);
    };
    ds.Open();
    EXPECT_EQ(ds.CalcFieldsSize(), 5);
    EXPECT_EQ(doubled->FieldNo(), -1);
    ds.AppendRecord({Variant(3)});
    ds.AppendRecord({Variant(5)});
    ds.First();
    EXPECT_EQ(stateInCalc, dsCalcFields);
    EXPECT_EQ(doubled->AsInteger(), 6);
    ds.Next();
    EXPECT_EQ(doubled->AsInteger(), 10);
    EXPECT_EQ(ds.State(), dsBrowse);

    ds.Edit();
    calcs = 0;
    id->SetAsInteger(21);  // a data field change recomputes the calculated fields
    EXPECT_EQ(calcs, 1);
    EXPECT_EQ(doubled->AsInteger(), 42);
    ds.Cancel();
    EXPECT_EQ(doubled->AsInteger(), 10);
}

TEST(DataSetEvents, DisableControlsHoldsBackOneChangeAndTempStatesAreSilent) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}};
    ds.Open();
    for (int i = 1; i <= 4; ++i) ds.AppendRecord({Variant(i)});
    ds.First();
    TDataSource src;
    src.SetDataSet(&ds);
    int changes = 0;
    src.OnDataChange = [&](TDataSource*, TField*) { ++changes; };

    ds.Next();
    EXPECT_EQ(changes, 1);
    ds.DisableControls();
    EXPECT_TRUE(ds.ControlsDisabled());
    ds.Next();
    ds.Next();
    EXPECT_EQ(changes, 1);
    ds.EnableControls();
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(ds.ControlsDisabled());

    TDataSetState old = ds.SetTempState(dsCalcFields);
    EXPECT_EQ(old, dsBrowse);
    EXPECT_EQ(ds.State(), dsCalcFields);
    ds.DataEvent(deDataSetChange, 0);
    EXPECT_EQ(changes, 2);
    ds.RestoreState(old);
    EXPECT_EQ(ds.State(), dsBrowse);
    ds.DataEvent(deDataSetChange, 0);
    EXPECT_EQ(changes, 3);
}

TEST(DataSetNested, NestedDataSetsHearParentScrolls) {
    TTestDataSet master;
    master.columns = {{"ID", ftInteger}};
    auto* id = new TIntegerField(&master);
    id->SetFieldName("ID");
    id->SetDataSet(&master);
    auto* detailField = new TDataSetField(&master);
    detailField->SetFieldName("DETAIL");
    detailField->SetFieldKind(fkInternalCalc);
    detailField->SetDataSet(&master);
    TTestDataSet detail;
    detail.columns = {{"X", ftInteger}};
    detailField->SetNestedDataSet(&detail);
    EXPECT_EQ(detail.DataSetField(), detailField);
    master.Open();
    master.AppendRecord({Variant(1)});
    master.AppendRecord({Variant(2)});
    detail.Open();
    detail.ClearLog();
    master.First();
    master.Next();
    EXPECT_EQ(detail.LogText(), "ParentScroll ParentScroll");
    ASSERT_EQ(master.NestedDataSets().size(), 1u);
    master.Close();
    detail.Close();
}

}  // namespace

namespace {

TEST(DataSetCalc, LookupFieldsReadTheLookupDataSet) {
    TTestDataSet depts;
    depts.columns = {{"DID", ftInteger}, {"DNAME", ftString, 10}};
    depts.Open();
    depts.AppendRecord({Variant(10), Variant("Sales")});
    depts.AppendRecord({Variant(20), Variant("Stock")});
    depts.First();

    TTestDataSet emps;
    emps.columns = {{"ID", ftInteger}, {"DEPT", ftInteger}};
    for (const char* name : {"ID", "DEPT"}) {
        auto* f = new TIntegerField(&emps);
        f->SetFieldName(name);
        f->SetDataSet(&emps);
    }
    auto* dname = new TStringField(&emps);
    dname->SetFieldName("DEPTNAME");
    dname->SetSize(10);
    dname->SetFieldKind(fkLookup);
    dname->SetLookupDataSet(&depts);
    dname->SetKeyFields("DEPT");
    dname->SetLookupKeyFields("DID");
    dname->SetLookupResultField("DNAME");
    dname->SetDataSet(&emps);
    emps.Open();
    EXPECT_EQ(emps.CalcFieldsSize(), 12);  // DataSize 11 and a null flag
    emps.AppendRecord({Variant(1), Variant(20)});
    emps.AppendRecord({Variant(2), Variant(30)});
    emps.First();
    EXPECT_EQ(dname->AsString(), "Stock");
    emps.Next();
    EXPECT_TRUE(dname->IsNull());                          // no department 30
    EXPECT_EQ(depts.FieldByName("DID")->AsInteger(), 10);  // the lookup dataset did not move
    emps.Edit();
    emps.FieldByName("DEPT")->SetAsInteger(10);
    EXPECT_EQ(dname->AsString(), "Sales");
    emps.Cancel();
    EXPECT_TRUE(dname->IsNull());
}

TEST(DataSetNavigation, BlockReadFetchesWithoutScrollEvents) {
    TTestDataSet ds;
    ds.columns = {{"ID", ftInteger}};
    ds.Open();
    for (int i = 1; i <= 3; ++i) ds.AppendRecord({Variant(i)});
    ds.First();
    int scrolls = 0;
    ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
    ds.SetBlockReadSize(10);
    EXPECT_EQ(ds.State(), dsBlockRead);
    std::vector<int> ids;
    for (; !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID")->AsInteger());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(scrolls, 0);
    ds.SetBlockReadSize(0);
    EXPECT_EQ(ds.State(), dsBrowse);
    ds.Close();
    EXPECT_THROW(ds.SetBlockReadSize(5), rtl::EDatabaseError);
    EXPECT_THROW(ds.Resync(TResyncMode{}), rtl::EDatabaseError);
}

}  // namespace
