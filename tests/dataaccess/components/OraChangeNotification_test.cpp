// The change-notification component: its settings and links, OnChange, and datasets that follow
// the rows other sessions and other processes change.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "DataSetFixture.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Threads.h"

using namespace dac;

namespace {

bool PumpUntil(const std::function<bool()>& done, int seconds = 5) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        rtl::WaitAndProcessMessages(10);
    }
    return true;
}

class OraChangeNotificationTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        session_ = newSession();
        session_->SetConnected(true);
        notification_ = std::make_unique<TOraChangeNotification>();
        notification_->OnChange = [this](rtl::TObject* sender, TChangeNotifyEventType type,
                                         TNotifyTableChanges* changes) {
            EXPECT_EQ(notification_.get(), sender);
            types_.push_back(type);
            for (int i = 0; changes && i < changes->Count(); ++i)
                rowChanges_ += changes->Items(i)->RowChanges ? changes->Items(i)->RowChanges->Count() : 0;
        };
    }
    void TearDown() override {
        query_.reset();
        notification_.reset();
        session_.reset();
        DataSetTest::TearDown();
    }

    // A dataset over sql that follows the changes reported for it; fetchRows > 0 leaves all but
    // the first rows on the server until they are asked for.
    TOraQuery& Follow(const std::string& sql, int fetchRows = 0) {
        query_ = newQuery(session_.get(), sql);
        if (fetchRows > 0) {
            query_->SetFetchAll(false);
            query_->SetFetchRows(fetchRows);
        }
        query_->Options().ReflectChangeNotify = true;
        query_->AfterRefresh = [this](db::TDataSet*) { ++refreshes_; };
        query_->SetChangeNotification(notification_.get());
        query_->Open();
        return *query_;
    }
    // Waits for the next change report and its handling.
    bool NextReport() {
        const size_t seen = types_.size();
        return PumpUntil([&] { return types_.size() > seen; });
    }
    // Statements sent since Record() that touch the item table (the session may ask for its
    // schema once, which is no work on the rows).
    int ItemStatements() {
        int n = 0;
        for (const std::string& text : Received())
            n += rtl::UpperCase(text).find("ITEM") != std::string::npos;
        return n;
    }
    AnsiString NameOf(int id) {
        if (!query_->Locate("ID", rtl::Variant(int32_t(id)), {})) return "<none>";
        return query_->FieldByName("NAME")->AsString();
    }

    std::unique_ptr<TestSession> session_;
    std::unique_ptr<TOraChangeNotification> notification_;
    std::unique_ptr<TOraQuery> query_;
    std::vector<TChangeNotifyEventType> types_;
    int rowChanges_ = 0;
    int refreshes_ = 0;
};

TEST_F(OraChangeNotificationTest, ADeletedRowDisappearsWithoutAnyStatement) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t ORDER BY id");
    ASSERT_TRUE(notification_->Registered());
    ASSERT_TRUE(q.Locate("ID", rtl::Variant(int32_t(10)), {}));
    q.Last();  // every row in memory
    ASSERT_TRUE(q.Locate("ID", rtl::Variant(int32_t(10)), {}));
    Record();
    dbExec("DELETE FROM item WHERE id = 5;");
    ASSERT_TRUE(NextReport());
    EXPECT_EQ(59, q.RecordCount());
    EXPECT_EQ(10, q.FieldByName("ID")->AsInteger()) << "the current row stays";
    EXPECT_EQ(0, ItemStatements()) << "nothing is read or deleted on the server";
    EXPECT_EQ(0, refreshes_);
    EXPECT_EQ("<none>", NameOf(5));
    EXPECT_EQ(1, rowChanges_);
}

TEST_F(OraChangeNotificationTest, AnUpdateFlagForARowNotInTheDatasetChangesNothing) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t WHERE id <= 20");
    q.Last();
    TNotifyTableChanges changes;
    auto table = std::make_unique<TNotifyTableChange>();
    table->TableName = "QEL.ITEM";
    table->Operations = {cnoUpdate};
    table->RowChanges = std::make_unique<TNotifyRowChanges>();
    auto row = std::make_unique<TNotifyRowChange>();
    row->RowId = "AAAR0zAABAAAAAAAAz";  // a ROWID the dataset did not read
    row->Operations = {cnoUpdate};
    table->RowChanges->Add(std::move(row));
    changes.Add(std::move(table));
    Record();
    q.ReflectChanges(&changes);
    EXPECT_EQ(0, ItemStatements()) << "nothing is read or deleted on the server";
    EXPECT_EQ(0, refreshes_);
    EXPECT_EQ(20, q.RecordCount());
}

TEST_F(OraChangeNotificationTest, ChangedAndInsertedRowsOfTheUpdatingTableAreReadAgain) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t ORDER BY id");
    // One transaction, so one report.
    dbExec(
        "BEGIN; UPDATE item SET name = 'changed' WHERE id = 7; INSERT INTO item(id, name) VALUES (61, "
        "'new'); "
        "COMMIT;");
    ASSERT_TRUE(NextReport());
    EXPECT_EQ(0, refreshes_) << "each row is read alone";
    EXPECT_EQ("changed", NameOf(7));
    EXPECT_EQ("new", NameOf(61));
    EXPECT_EQ(61, q.RecordCount());
}

TEST_F(OraChangeNotificationTest, AnInsertedRowIsAppendedAndReadByItsRowid) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t ORDER BY id");
    q.Last();
    ASSERT_TRUE(q.Locate("ID", rtl::Variant(int32_t(30)), {}));
    Record();
    dbExec("INSERT INTO item(id, name) VALUES (0, 'zero');");
    ASSERT_TRUE(NextReport());
    EXPECT_EQ(0, refreshes_);
    EXPECT_EQ(1, ItemStatements()) << "one statement reads the new row";
    EXPECT_EQ(30, q.FieldByName("ID")->AsInteger()) << "the current row stays";
    EXPECT_EQ(61, q.RecordCount());
    q.Last();  // appended after the rows read, whatever the order of the query
    EXPECT_EQ(0, q.FieldByName("ID")->AsInteger());
    EXPECT_EQ("zero", q.FieldByName("NAME")->AsString());
    EXPECT_EQ(18u, q.FieldByName("ROWID")->AsString().size());
    EXPECT_EQ(db::usUnmodified, q.UpdateStatus()) << "a row read, not a change to apply";
}

TEST_F(OraChangeNotificationTest, ARowOfAHalfReadDatasetIsReadAsCommitted) {
    // The dataset's cursor still has rows to give while the changed row is read again: the re-read
    // sees the commit another process made after the cursor opened.
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t ORDER BY id", 10);
    ASSERT_FALSE(q.Fetched());
    Record();
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        execl(DX_CHANGE_WRITER, DX_CHANGE_WRITER, db_.c_str(), "UPDATE item SET name = 'later' WHERE id = 3",
              "COMMIT", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(NextReport());
    EXPECT_EQ(0, refreshes_);
    int reads = 0;  // the writer's own statement is traced too
    for (const std::string& text : Received()) reads += rtl::UpperCase(text).rfind("SELECT", 0) == 0;
    EXPECT_EQ(1, reads) << "one statement reads the changed row";
    EXPECT_EQ("later", NameOf(3));
    // the rest of the rows come as the cursor read them
    q.Last();
    EXPECT_EQ(60, q.RecordCount());
    EXPECT_EQ("item 60", q.FieldByName("NAME")->AsString());
}

TEST_F(OraChangeNotificationTest, AReportForATableReadButNotUpdatedRefreshesTheWholeDataset) {
    TOraQuery& q = Follow("SELECT t.ROWID, t.id, t.name, p.b FROM item t, pair p WHERE t.id = p.a");
    ASSERT_EQ("one", q.FieldByName("B")->AsString());
    Record();
    dbExec("UPDATE pair SET b = 'uno';");
    ASSERT_TRUE(NextReport());
    EXPECT_EQ("uno", q.FieldByName("B")->AsString());
    EXPECT_EQ(1, refreshes_) << "the query ran again";
}

TEST_F(OraChangeNotificationTest, DatasetsWithoutTheOptionOnlyHearTheEvent) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t");
    q.Options().ReflectChangeNotify = false;
    q.Last();
    dbExec("DELETE FROM item WHERE id = 1;");
    ASSERT_TRUE(NextReport());
    EXPECT_EQ(cneObjChange, types_.back());
    EXPECT_EQ(60, q.RecordCount());
}

TEST_F(OraChangeNotificationTest, FreeingTheComponentUnlinksEveryDataset) {
    auto a = newQuery(session_.get(), "SELECT id FROM item");
    auto b = newQuery(session_.get(), "SELECT a FROM pair");
    a->SetChangeNotification(notification_.get());
    b->SetChangeNotification(notification_.get());
    b->Open();
    EXPECT_EQ(2u, notification_->DataSets().size());
    EXPECT_TRUE(notification_->Registered());
    notification_.reset();
    EXPECT_EQ(nullptr, a->ChangeNotification());
    EXPECT_EQ(nullptr, b->ChangeNotification());
    EXPECT_EQ(nullptr, b->OCICommand()->ChangeNotification);
    b->Close();
    b->Open();  // runs without any subscription
    EXPECT_TRUE(session_->ChangeNotifications().empty());
}

TEST_F(OraChangeNotificationTest, SettingsReachTheDriverObject) {
    notification_->SetOperations({cnoDelete});
    notification_->SetTimeOut(60);
    notification_->SetPersistent(true);
    TOCIChangeNotification* driver = notification_->GetIChangeNotification();
    EXPECT_EQ(TChangeNotifyDMLOperations{cnoDelete}, driver->Operations());
    EXPECT_EQ(60, driver->TimeOut());
    EXPECT_TRUE(driver->Persistent());
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t");
    q.Last();
    dbExec("UPDATE item SET name = 'x' WHERE id = 3;");
    EXPECT_FALSE(PumpUntil([&] { return !types_.empty(); }, 1)) << "updates are not asked for";
    notification_->SetEnabled(false);
    EXPECT_FALSE(driver->Enabled());
}

TEST_F(OraChangeNotificationTest, UnregisterNeedsASessionAndAFreedSessionIsForgotten) {
    TOraChangeNotification alone;
    EXPECT_EQ("Session is not defined", ErrorText([&] { alone.Unregister(); }));
    Follow("SELECT id FROM item");
    notification_->Unregister();
    EXPECT_FALSE(notification_->Registered());
    query_.reset();
    query_ = newQuery(session_.get(), "SELECT id FROM item");
    query_->SetChangeNotification(notification_.get());
    query_->Open();
    ASSERT_TRUE(notification_->Registered());
    query_.reset();
    session_.reset();  // ends the registration; the component must not keep the freed session
    EXPECT_EQ(nullptr, notification_->Session());
    EXPECT_FALSE(notification_->Registered());
}

TEST_F(OraChangeNotificationTest, RowidTextFindsItsRowAgain) {
    auto rows =
        newQuery(session_.get(), "SELECT t.ROWID AS rid, id FROM item t WHERE id IN (7, 8) ORDER BY id");
    rows->Open();
    const AnsiString rowid7 = rows->FieldByName("RID")->AsString();
    ASSERT_EQ(18u, rowid7.size());
    rows->Next();
    EXPECT_NE(rowid7, rows->FieldByName("RID")->AsString());
    auto one = newQuery(session_.get(), "SELECT id FROM item WHERE ROWID = :RID");
    one->ParamByName("RID")->SetAsString(rowid7);
    one->Open();
    EXPECT_EQ(1, one->RecordCount());
    EXPECT_EQ(7, one->FieldByName("ID")->AsInteger());
}

TEST_F(OraChangeNotificationTest, ChangesOfAnotherProcessReachTheOpenDatasetOnce) {
    TOraQuery& q = Follow("SELECT ROWID, t.* FROM item t ORDER BY id");
    q.Last();
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        execl(DX_CHANGE_WRITER, DX_CHANGE_WRITER, db_.c_str(), "DELETE FROM item WHERE id = 2", "COMMIT",
              "UPDATE item SET name = 'other' WHERE id = 3", "COMMIT",
              "INSERT INTO item(id, name) VALUES (70, 'seventy')", "COMMIT", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(PumpUntil([&] { return rowChanges_ >= 3; }));
    rtl::WaitAndProcessMessages(200);
    EXPECT_EQ(3, rowChanges_) << "each change once";
    EXPECT_EQ("<none>", NameOf(2));
    EXPECT_EQ("other", NameOf(3));
    EXPECT_EQ("seventy", NameOf(70));
    EXPECT_EQ(60, q.RecordCount());
}

}  // namespace
