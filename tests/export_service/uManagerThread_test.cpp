// The manager thread over a recording database and a clock that moves only when the thread
// sleeps: its start-up lines, the waits of both schedule modes, the passes, and the errors that
// end it. Before, an error of its start ended the thread without a journal line.
#include "export_service/uManagerThread.h"

#include <gtest/gtest.h>

#include "tests/export_service/FakeClock.h"
#include "tests/export_service/ServiceFixture.h"

using namespace exptest;

namespace {

class Manager : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        Set("IsAutoStart", "1");
    }

    // Loads the settings as the starter does, then runs the manager until it ends; stop, when
    // given, looks at every journal line (on the manager's thread) and says when to stop it.
    void Run(rtl::TDateTime start, const std::function<bool(const std::string&)>& stop = {}) {
        svcfake::TFakeSession session(db_);
        session.connected = true;
        params_.LoadParams(&session);
        clock_ = std::make_unique<TFakeClock>(start);
        auto journal = journal_.Callback();
        svc::TManagerThread* self = nullptr;
        svc::TManagerThread manager(
            params_, &access_,
            [&](const std::string& text, bool important) {
                if (text.rfind("New data PackageID", 0) == 0) runs_.push_back(clock_->slept);
                journal(text, important);
                if (stop && stop(text)) self->Terminate();
            },
            *clock_);
        self = &manager;
        manager.Start();
        ASSERT_TRUE(PumpUntil([&] { return manager.Finished(); }, 60000)) << journal_.Text();
    }

    std::unique_ptr<TFakeClock> clock_;
    std::vector<int64_t> runs_;  // clock milliseconds slept when each package began
};

rtl::TDateTime Today(int hour, int minute) {
    return rtl::Date() + rtl::EncodeTime(hour, minute, 0, 0);
}

}  // namespace

TEST_F(Manager, StartUpLinesThenTheFirstRunAtOnce) {
    int dashes = 0;  // the end of the start-up lines, then the end of the package
    Run(Today(10, 0),
        [&](const std::string& text) { return text == "-----------------------" && ++dashes == 2; });
    const std::vector<std::string> head = {
        "!Connection: ok",
        "!Emitent = 7 Filial = 3",
        "!Schedule type = 0",
        "!Export interval = 300 sec",
        "!Run after start = 1",
        "!Source data = All",
        "!Client type exchange = All",
        "!-----------------------",
    };
    const auto lines = journal_.Lines();
    ASSERT_GE(lines.size(), head.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(head.size())), head);
    EXPECT_EQ(runs_, std::vector<int64_t>{0}) << "the first run does not wait";
    EXPECT_TRUE(db_.Logged("select * from v_zuv_emitent_params t"));
    EXPECT_TRUE(db_.Logged("select t.DESCRIPTION, t.VERSION from V_ZUV_QEL_VERSION_DB t"));
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.get_zuv_param(P_PARAM='SOURCE_DATA')"), 2)
        << "the settings are read again with the manager's own session";
}

TEST_F(Manager, IntervalModeWaitsThePeriodBetweenRuns) {
    int packages = 0;
    Run(Today(10, 0), [&](const std::string& text) {
        if (text.rfind("New data PackageID", 0) == 0) ++packages;
        return packages == 3;
    });
    EXPECT_EQ(runs_, (std::vector<int64_t>{0, 300000, 600000}));
    EXPECT_EQ(Files(dir_ / "shared").size(), 3u) << "a pass under way is finished before the thread ends";
}

TEST_F(Manager, TimeListModeRunsAtTheListedTimes) {
    Set("ScheduleType", "1");
    Set("TimeList", "08:00;12:00");
    Set("IsAutoStart", "0");
    int packages = 0;
    Run(Today(10, 0), [&](const std::string& text) {
        if (text.rfind("New data PackageID", 0) == 0) ++packages;
        return packages == 3;
    });
    EXPECT_TRUE(journal_.Has("!Schedule time list = 08:00;12:00"));
    EXPECT_EQ(runs_, (std::vector<int64_t>{2 * 3600000, 22 * 3600000, 26 * 3600000}));
}

TEST_F(Manager, ErrorsThatEndTheThreadAreJournalled) {
    struct Case {
        const char* name;
        const char* key;
        std::string value;
        std::string line;
    };
    const Case cases[] = {
        {"source", "SOURCE_DATA", "7", "!Error: Not the right source type"},
        {"client type", "CLIENT_TYPE_EXPORT", "3", "!Error: Not the right type of client"},
        {"shared folder", "FolderSharing", "/proc/no-such-place/shared",
         "!Error: Cannot create the shared folder /proc/no-such-place/shared"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string old = settingsTable_[c.key];
        Set(c.key, c.value);
        runs_.clear();
        Run(Today(10, 0));
        EXPECT_TRUE(journal_.Has(c.line)) << journal_.Text();
        EXPECT_TRUE(runs_.empty()) << "no package without a worker that started";
        Set(c.key, old);
    }
}

TEST_F(Manager, ConnectionLostMidPackageIsDeliveredOnceByTheNextRun) {
    bool lost = false;
    db_.cursorHandlers[ProcOf(25)] = [&](svcfake::TFakeCursorProc& proc) {
        if (lost) return;
        lost = true;
        dynamic_cast<svcfake::TFakeSession&>(*proc.Session()).connected = false;
        throw rtl::EDatabaseError("ORA-03113: end-of-file on communication channel");
    };
    int packages = 0;
    Run(Today(10, 0), [&](const std::string& text) {
        if (text.rfind("Pack and send to:", 0) == 0) ++packages;
        return packages == 1;
    });
    EXPECT_TRUE(journal_.Has("!Error: connect err")) << journal_.Text();
    EXPECT_EQ(runs_.size(), 2u) << "the second run delivers";
    EXPECT_EQ(Files(dir_ / "shared").size(), 1u);
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 1);
    EXPECT_GE(db_.CountOf("Connect"), 2) << "the manager connected again";
}

// Packages an earlier run registered but never delivered (it was killed in between) go out on
// the first run after the start, before the new package; later runs do not look again.
TEST_F(Manager, PackagesNeverDeliveredByAnEarlierRunGoOutOnTheFirstRun) {
    const std::string u1 = "{11111111-1111-4111-8111-111111111111}",
                      u2 = "{22222222-2222-4222-8222-222222222222}";
    db_.views["qrGetPackageListUnsent"] = {{"package_id", "datetime_create"}, {{u1, "x"}, {u2, "y"}}};
    int packages = 0;
    Run(Today(10, 0), [&](const std::string& text) {
        if (text.rfind("New data PackageID", 0) == 0) ++packages;
        return packages == 2;
    });
    const auto lines = journal_.Lines();
    const auto at = [&](const std::string& prefix) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
        return -1L;
    };
    for (const std::string& id : {u1, u2}) {
        SCOPED_TRACE(id);
        const long said = at("!Package " + id + " was registered but never delivered; it is delivered now");
        const long rebuilt = at("!Repeated Export PackageID =  " + id);
        ASSERT_GE(said, 0) << journal_.Text();
        EXPECT_GT(rebuilt, said);
        EXPECT_LT(rebuilt, at("!New data PackageID")) << "before the new package";
        EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID='" + id), 1);
    }
    EXPECT_EQ(db_.CountOf("select * from V_ZUV_PACKAGE_LIST_UNSENT t"), 1) << "read on the first run only";
    EXPECT_EQ(Files(dir_ / "shared").size(), 4u) << "two delivered again, two new";
}

// A Qel database of an older release has no list of unsent packages: the run goes on with its
// new package, and the journal says the list was missing.
TEST_F(Manager, ADatabaseWithoutTheUnsentListStillExportsItsNewPackage) {
    db_.viewErrors["qrGetPackageListUnsent"] = "ORA-00942: table or view does not exist";
    Run(Today(10, 0), [](const std::string& text) { return text.rfind("New data PackageID", 0) == 0; });
    EXPECT_NE(
        journal_.Text().find("!Unsent packages cannot be listed: ORA-00942: table or view does not exist"),
        std::string::npos)
        << journal_.Text();
    EXPECT_EQ(Files(dir_ / "shared").size(), 1u) << journal_.Text();
}

TEST_F(Manager, ConnectionRetriesAtStart) {
    db_.failingConnects = 2;
    Run(Today(10, 0), [](const std::string& text) { return text == "-----------------------"; });
    const auto lines = journal_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "!Error: ORA-12541: TNS:no listener");
    EXPECT_EQ(lines[1], "!Error: ORA-12541: TNS:no listener");
    EXPECT_EQ(lines[2], "!Connection: ok");
    EXPECT_EQ(clock_->slept, 4000) << "2000 ms between attempts";
}

TEST_F(Manager, LeftoversOfAnInterruptedMoveAreRemovedAtStart) {
    fs::create_directories(dir_ / "work/Back");
    for (const char* name :
         {"shared/.ZuvQelExport_0000703_1.zip.tmpAb12Cd", "work/Back/.ZuvQelExport_0000703_0.zip.tmpQw12Er",
          "shared/ZuvQelExport_0000703_0.zip"})
        std::ofstream(dir_ / name) << "x";
    Run(Today(10, 0), [](const std::string& text) { return text == "Connection: ok"; });
    EXPECT_FALSE(fs::exists(dir_ / "shared/.ZuvQelExport_0000703_1.zip.tmpAb12Cd"));
    EXPECT_FALSE(fs::exists(dir_ / "work/Back/.ZuvQelExport_0000703_0.zip.tmpQw12Er"));
    EXPECT_TRUE(fs::exists(dir_ / "shared/ZuvQelExport_0000703_0.zip")) << "a delivered package stays";
    EXPECT_TRUE(journal_.Has("!Leftover temporary " +
                             (dir_ / "shared/.ZuvQelExport_0000703_1.zip.tmpAb12Cd") + " removed"))
        << journal_.Text();
}
