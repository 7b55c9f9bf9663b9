// The update-SQL component: its statements, the components it accepts, assignment and the link
// with the dataset it serves.
#include <gtest/gtest.h>

#include "DataSetFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

TEST(OraUpdateSQL, StatementsByUpdateKindAndType) {
    TOraUpdateSQL u;
    u.InsertSQL().SetText("INSERT INTO item(id) VALUES (:ID)");
    u.ModifySQL().SetText("UPDATE item SET name = :NAME WHERE id = :OLD_ID");
    u.DeleteSQL().SetText("DELETE FROM item WHERE id = :OLD_ID");
    EXPECT_EQ(&u.InsertSQL(), &u.GetSQL(db::ukInsert));
    EXPECT_EQ(&u.ModifySQL(), &u.GetSQL(db::ukModify));
    EXPECT_EQ(&u.DeleteSQL(), &u.GetSQL(db::ukDelete));
    EXPECT_EQ(&u.LockSQL(), &u.SQL(stLock));
    EXPECT_EQ(&u.RefreshSQL(), &u.SQL(stRefresh));
    EXPECT_NE("(nothing raised)", ErrorText([&] { u.SQL(stCustom); }));
}

TEST(OraUpdateSQL, AssigningCopiesEverythingButTheLockStatement) {
    TOraUpdateSQL a, b;
    TOraSQL refresher;
    for (TStatementType t : {stInsert, stUpdate, stDelete, stLock, stRefresh})
        a.SQL(t).SetText("a" + std::to_string(t));
    a.SetObject(stRefresh, &refresher);
    b.LockSQL().SetText("b lock");
    b.Assign(&a);
    for (TStatementType t : {stInsert, stUpdate, stDelete, stRefresh})
        EXPECT_EQ("a" + std::to_string(t), rtl::Trim(b.SQL(t).Text())) << t;
    EXPECT_EQ("b lock", rtl::Trim(b.LockSQL().Text()));
    EXPECT_EQ(&refresher, b.Object(stRefresh));
}

TEST_F(DataSetTest, UpdateObjectsAcceptOnlyStatementsAndOtherDatasets) {
    TOraQuery served, other;
    TOraSQL sql;
    TOraUpdateSQL u;
    served.SetUpdateObject(&u);
    EXPECT_EQ(&served, u.GetDataSet());
    rtl::TComponent plain;
    struct Case {
        const char* name;
        rtl::TComponent* object;
        const char* error;
    };
    const Case cases[] = {
        {"a statement", &sql, "(nothing raised)"},
        {"another dataset", &other, "(nothing raised)"},
        {"nothing", nullptr, "(nothing raised)"},
        {"the served dataset", &served,
         "Circular references are not allowed between TCustomDADataset and TCustomDAUpdateSQL objects"},
        {"a plain component", &plain,
         "Only TOraDataSet and TOraSQL objects are allowed in update properties"},
    };
    for (const auto& c : cases) {
        u.SetObject(stInsert, nullptr);
        EXPECT_EQ(c.error, ErrorText([&] { u.SetObject(stInsert, c.object); })) << c.name;
        const bool accepted = std::string(c.error) == "(nothing raised)";
        EXPECT_EQ(accepted ? c.object : nullptr, u.Object(stInsert)) << c.name;
    }
}

TEST_F(DataSetTest, TheUpdateObjectLinkEndsWithEitherSide) {
    auto u = std::make_unique<TOraUpdateSQL>();
    {
        TOraQuery q;
        q.SetUpdateObject(u.get());
        EXPECT_EQ(&q, u->GetDataSet());
        TOraQuery second;
        second.SetUpdateObject(u.get());
        EXPECT_EQ(nullptr, q.UpdateObject()) << "one dataset per update object";
        EXPECT_EQ(&second, u->GetDataSet());
    }
    EXPECT_EQ(nullptr, u->GetDataSet()) << "the dataset went";
    TOraQuery q;
    q.SetUpdateObject(u.get());
    u.reset();
    EXPECT_EQ(nullptr, q.UpdateObject()) << "the update object went";
    {
        TOraSQL statement;
        TOraUpdateSQL holder;
        holder.SetObject(stDelete, &statement);
        holder.SetObject(stInsert, &statement);
        holder.SetObject(stInsert, nullptr);
        EXPECT_EQ(&statement, holder.Object(stDelete));
    }
}

TEST_F(DataSetTest, AProceduresRowsAreEditedOnlyWithSomewhereToSendThem) {
    auto s = newSession();
    struct Case {
        const char* name;
        std::function<void(TOraStoredProc&, TOraUpdateSQL&)> setUp;
        bool edits;
    };
    const Case cases[] = {
        {"nothing to send them to", [](TOraStoredProc&, TOraUpdateSQL&) {}, false},
        {"its own update statement",
         [](TOraStoredProc& p, TOraUpdateSQL&) { p.SQLUpdate().SetText("UPDATE item SET name = :NAME"); },
         true},
        {"an update object's statement",
         [](TOraStoredProc& p, TOraUpdateSQL& u) {
             u.ModifySQL().SetText("UPDATE item SET name = :NAME");
             p.SetUpdateObject(&u);
         },
         true},
    };
    for (const auto& c : cases) {
        TOraUpdateSQL u;
        auto p = newProc(s.get(), "get_rows");
        Declare(*p, "P_FROM", db::ftInteger, db::ptInput)->SetAsInteger(55);
        Declare(*p, "P_CUR", db::ftCursor, db::ptOutput);
        p->SetLocalUpdate(true);
        c.setUp(*p, u);
        p->Execute();
        p->SetLocalUpdate(false);
        const std::string error = ErrorText([&] { p->Edit(); });
        EXPECT_EQ(c.edits ? db::dsEdit : db::dsBrowse, p->State()) << c.name << " " << error;
        if (p->State() == db::dsEdit) p->Cancel();
        p->SetUpdateObject(nullptr);
    }
}
