// The stored-procedure and query components on the stand-in: declared parameters, REF CURSOR
// outputs read as rows, function results, and a procedure with side effects run once per call.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/DateTime.h"

using namespace dac;

namespace {

std::unique_ptr<TOraStoredProc> GetRows(DataSetTest*, TOraSession* s, int from) {
    auto p = std::make_unique<TOraStoredProc>();
    p->SetSession(s);
    p->SetStoredProcName("get_rows");
    auto* f = static_cast<TOraParam*>(p->Params().Add());
    f->SetName("P_FROM");
    f->SetDataType(db::ftInteger);
    f->SetParamType(db::ptInput);
    f->SetAsInteger(from);
    auto* c = static_cast<TOraParam*>(p->Params().Add());
    c->SetName("P_CUR");
    c->SetDataType(db::ftCursor);
    c->SetParamType(db::ptOutput);
    return p;
}

}  // namespace

TEST_F(DataSetTest, DeclaredParametersOfEveryKindTheServicesUseGoInAndComeBack) {
    auto s = newSession();
    auto p = newProc(s.get(), "echo");
    Declare(*p, "P_INT", db::ftInteger, db::ptInput);
    Declare(*p, "P_NUM", db::ftFloat, db::ptInput);
    Declare(*p, "P_STR", db::ftString, db::ptInput)->SetSize(100);
    Declare(*p, "P_DATE", db::ftDateTime, db::ptInput);
    Declare(*p, "O_INT", db::ftInteger, db::ptOutput);
    Declare(*p, "O_NUM", db::ftFloat, db::ptOutput);
    Declare(*p, "O_STR", db::ftString, db::ptOutput)->SetSize(100);
    Declare(*p, "O_DATE", db::ftDateTime, db::ptOutput);
    struct Case {
        const char* name;
        bool null;
        int i;
        double f;
        const char* text;
        rtl::TDateTime date;
    };
    const Case cases[] = {
        {"values", false, -123456, 1234.5, "Эмитент 7", rtl::EncodeDateTime(2024, 2, 29, 13, 14, 15, 0)},
        {"other values", false, 0, -0.25, "x", rtl::EncodeDateTime(1999, 12, 31, 0, 0, 0, 0)},
        {"nulls", true, 0, 0, "", 0},
    };
    for (const auto& c : cases) {
        if (c.null) {
            for (const char* n : {"P_INT", "P_NUM", "P_STR", "P_DATE"}) p->ParamByName(n)->Clear();
        } else {
            p->ParamByName("P_INT")->SetAsInteger(c.i);
            p->ParamByName("P_NUM")->SetAsFloat(c.f);
            p->ParamByName("P_STR")->SetAsString(c.text);
            p->ParamByName("P_DATE")->SetAsDateTime(c.date);
        }
        bool afterResult = false;
        p->AfterExecute = [&](rtl::TObject*, bool result) { afterResult = result; };
        p->Execute();
        EXPECT_FALSE(p->Active()) << c.name << ": a procedure without a cursor leaves the dataset closed";
        EXPECT_TRUE(afterResult) << c.name;
        for (const char* n : {"O_INT", "O_NUM", "O_STR", "O_DATE"})
            EXPECT_EQ(c.null, p->ParamByName(n)->IsNull()) << c.name << " " << n;
        if (c.null) continue;
        EXPECT_EQ(c.i, p->ParamByName("O_INT")->AsInteger()) << c.name;
        EXPECT_DOUBLE_EQ(c.f, p->ParamByName("O_NUM")->AsFloat()) << c.name;
        EXPECT_EQ(c.text, p->ParamByName("O_STR")->AsString()) << c.name;
        EXPECT_DOUBLE_EQ(c.date, p->ParamByName("O_DATE")->AsDateTime()) << c.name;
    }
}

TEST_F(DataSetTest, ACursorOf60RowsIsFetchedInBlocksOf25OrAllAtOnce) {
    auto s = newSession();
    for (bool fetchAll : {false, true}) {
        auto p = GetRows(this, s.get(), 0);
        p->SetFetchAll(fetchAll);
        std::vector<int> fetchedAfterEachBlock;
        p->AfterFetch = [&](TCustomDADataSet* ds) {
            rtl::Variant rows;
            ds->GetIRecordSetCR()->GetProp(prRowsFetched, rows);
            fetchedAfterEachBlock.push_back(rows.AsInteger());
        };
        p->Execute();
        ASSERT_TRUE(p->Active()) << fetchAll;
        ASSERT_EQ(2, p->FieldCount());
        EXPECT_EQ("ID", p->Fields()[0]->FieldName());
        EXPECT_EQ("NAME", p->Fields()[1]->FieldName());
        rtl::Variant held;
        p->GetIRecordSetCR()->GetProp(prRowsFetched, held);
        EXPECT_EQ(fetchAll ? 60 : 25, held.AsInteger()) << "rows fetched by Execute, FetchAll " << fetchAll;
        EXPECT_EQ(Range(1, 60), ReadIds(*p)) << fetchAll;
        EXPECT_EQ("item 60", p->FieldByName("NAME")->AsString());
        if (!fetchAll) {
            // Each further block is fetched as Next passes the end of the rows held.
            ASSERT_GE(fetchedAfterEachBlock.size(), 3u);
            EXPECT_EQ(25, fetchedAfterEachBlock[0]);
            EXPECT_EQ(50, fetchedAfterEachBlock[1]);
            EXPECT_EQ(60, fetchedAfterEachBlock[2]);
        }
        p->Close();
        EXPECT_EQ(0, s->ConnectCount()) << "closing gives the use of the session back";
    }
    EXPECT_EQ(2, Calls());
}

TEST_F(DataSetTest, AnEmptyCursorIsAtItsEndAtOnce) {
    auto s = newSession();
    auto p = GetRows(this, s.get(), 60);
    p->Execute();
    ASSERT_TRUE(p->Active());
    EXPECT_TRUE(p->Eof());
    EXPECT_TRUE(p->IsEmpty());
    EXPECT_EQ(2, p->FieldCount());
    EXPECT_EQ(0, p->FieldByName("ID")->AsInteger()) << "a field of no row reads as 0";
}

TEST_F(DataSetTest, ExecutingAgainDescribesTheNewCursorAfresh) {
    auto s = newSession();
    auto p = GetRows(this, s.get(), 58);
    p->Execute();
    EXPECT_EQ((std::vector<int>{59, 60}), ReadIds(*p));
    p->Close();
    p->Params().Clear();
    p->SetStoredProcName("get_pair");
    Declare(*p, "P_CUR", db::ftCursor, db::ptOutput);
    p->Execute();
    ASSERT_EQ(3, p->FieldCount());
    EXPECT_EQ("A", p->Fields()[0]->FieldName());
    EXPECT_EQ("one", p->FieldByName("B")->AsString());
    EXPECT_DOUBLE_EQ(rtl::EncodeDateTime(2024, 5, 6, 7, 8, 9, 0), p->FieldByName("C")->AsDateTime());
    // And back to the first shape, with new input.
    p->Close();
    p->Params().Clear();
    p->SetStoredProcName("get_rows");
    Declare(*p, "P_FROM", db::ftInteger, db::ptInput)->SetAsInteger(57);
    Declare(*p, "P_CUR", db::ftCursor, db::ptOutput);
    p->Execute();
    ASSERT_EQ(2, p->FieldCount());
    EXPECT_EQ((std::vector<int>{58, 59, 60}), ReadIds(*p));
}

TEST_F(DataSetTest, AFunctionsResultComesBackInItsResultParameter) {
    auto s = newSession();
    auto p = newProc(s.get(), "item_count");
    TOraParam* result = Declare(*p, "RESULT", db::ftFloat, db::ptOutput);
    result->IsResult = true;
    Declare(*p, "P_ABOVE", db::ftInteger, db::ptInput);
    for (int above : {0, 45, 60}) {
        p->ParamByName("P_ABOVE")->SetAsInteger(above);
        p->Execute();
        EXPECT_FALSE(p->Active());
        const auto expected = dbTexts("SELECT count(*) FROM item WHERE id > " + std::to_string(above));
        EXPECT_EQ(std::stoi(expected.at(0)), p->ParamByName("RESULT")->AsInteger()) << above;
    }
    EXPECT_NE(std::string::npos, p->SQL().Text().find(":RESULT := item_count(:P_ABOVE);")) << p->SQL().Text();
}

TEST_F(DataSetTest, WithoutDeclaredParametersTheProcedureIsDescribed) {
    auto s = newSession();
    auto p = newProc(s.get(), "get_rows");
    p->Prepare();
    ASSERT_EQ(2, p->Params().Count());
    EXPECT_EQ("P_FROM", p->Params()[0]->Name());
    EXPECT_EQ(db::ftCursor, p->Params()[1]->DataType());
    EXPECT_EQ(0, Calls()) << "describing runs nothing";
    p->ParamByName("P_FROM")->SetAsInteger(55);
    p->Execute();
    EXPECT_EQ(Range(56, 60), ReadIds(*p));
}

// Preparing, describing, opening or executing a procedure with side effects runs it once.
TEST_F(DataSetTest, AProcedureWithSideEffectsRunsOncePerCallOnEveryRoad) {
    auto s = newSession();
    struct Case {
        const char* name;
        bool autoPrepare;
        std::function<void(TOraStoredProc&)> run;
    };
    const Case cases[] = {
        {"Execute", false, [](TOraStoredProc& p) { p.Execute(); }},
        {"Execute, AutoPrepare", true, [](TOraStoredProc& p) { p.Execute(); }},
        {"Prepare then Execute", false,
         [](TOraStoredProc& p) {
             p.Prepare();
             p.Execute();
         }},
        {"Prepare, field definitions, Execute", true,
         [](TOraStoredProc& p) {
             p.Prepare();
             p.FieldDefs().Update();
             p.Execute();
         }},
        {"Open", false, [](TOraStoredProc& p) { p.Open(); }},
        {"Open, AutoPrepare", true, [](TOraStoredProc& p) { p.Open(); }},
    };
    int before = Calls();
    for (const auto& c : cases) {
        auto p = GetRows(this, s.get(), 10);
        p->Options().SetAutoPrepare(c.autoPrepare);
        c.run(*p);
        EXPECT_EQ(before + 1, Calls()) << c.name;
        EXPECT_EQ(Range(11, 60), ReadIds(*p)) << c.name;
        p->Close();
        p->Execute();
        EXPECT_EQ(before + 2, Calls()) << c.name << ": a second execute runs it a second time";
        before = Calls();
    }
}

TEST_F(DataSetTest, TheBlockIsBuiltFromTheDeclaredParametersWhateverTheStoredText) {
    auto s = newSession();
    Record();
    // As a data module loads it: a stored block listing the parameters the other way round, then
    // the declared parameter list and the procedure the block stands for.
    TOraStoredProc p;
    p.SetSession(s.get());
    p.SQL().SetText("begin\r  get_rows(P_CUR => :P_CUR, P_FROM => :P_FROM);\rend;");
    p.Params().Clear();
    Declare(p, "P_FROM", db::ftInteger, db::ptInput)->SetAsInteger(50);
    Declare(p, "P_CUR", db::ftCursor, db::ptOutput);
    p.InternalSQL()->SetStoredProcName("get_rows:0");
    p.Execute();
    EXPECT_EQ(Range(51, 60), ReadIds(p));
    const auto sent = Received();
    bool found = false;
    for (const auto& text : sent) found = found || text == "begin\n  get_rows(:P_FROM, :P_CUR);\nend;";
    EXPECT_TRUE(found) << "the block of the declared order is run";
}

TEST_F(DataSetTest, AStoredProcedureNeedsAName) {
    auto s = newSession();
    TOraStoredProc p;
    p.SetSession(s.get());
    EXPECT_EQ("StoredProcName must be defined", ErrorText([&] { p.Execute(); }));
    EXPECT_FALSE(p.Active());
    EXPECT_EQ(0, s->ConnectCount());
}

TEST_F(DataSetTest, WithoutASessionNothingRuns) {
    struct Case {
        const char* name;
        std::function<void(TOraDataSet&)> run;
    };
    const Case cases[] = {
        {"Execute", [](TOraDataSet& d) { d.Execute(); }},
        {"Open", [](TOraDataSet& d) { d.Open(); }},
        {"Prepare", [](TOraDataSet& d) { d.Prepare(); }},
    };
    for (const auto& c : cases) {
        TOraQuery q;
        q.SQL().SetText("SELECT id FROM item WHERE id > :P");
        q.ParamByName("P")->SetAsInteger(3);
        EXPECT_EQ("Connection is not defined", ErrorText([&] { c.run(q); })) << c.name;
        EXPECT_FALSE(q.Active()) << c.name;
        EXPECT_EQ(1, q.Params().Count()) << c.name;
        EXPECT_EQ(3, q.ParamByName("P")->AsInteger()) << c.name;
    }
}

TEST_F(DataSetTest, AQueryOpensExecutesAndCountsRows) {
    auto s = newSession();
    dbExec("CREATE VIEW item_view AS SELECT id, name FROM item WHERE id <= 30;");
    auto q = newQuery(s.get(), "SELECT id, name FROM item_view WHERE id > :FROM_ID ORDER BY id");
    q->ParamByName("FROM_ID")->SetAsInteger(27);
    q->Open();
    EXPECT_EQ((std::vector<int>{28, 29, 30}), ReadIds(*q));
    EXPECT_EQ(-1, q->RowsAffected());
    q->Close();
    q->Execute();
    EXPECT_TRUE(q->Active()) << "Execute of a SELECT opens it";
    EXPECT_EQ(-1, q->RowsAffected());
    q->Close();

    auto u = newQuery(s.get(), "UPDATE item SET name = 'x' WHERE id > :FROM_ID");
    u->ParamByName("FROM_ID")->SetAsInteger(55);
    bool afterResult = false;
    u->AfterExecute = [&](rtl::TObject*, bool result) { afterResult = result; };
    u->Execute();
    EXPECT_FALSE(u->Active());
    EXPECT_EQ(5, u->RowsAffected());
    EXPECT_TRUE(afterResult);
    EXPECT_EQ(0, s->ConnectCount());
}
