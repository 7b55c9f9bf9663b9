// The manager thread on the mail road, against aiosmtpd on 127.0.0.1: the send date of a mailed
// package is stored, with the manager's own session, once the letter has gone; one that cannot be
// stored at first is stored at the next try; a letter that fails leaves the package unsent.
#include <gtest/gtest.h>

#include "export_service/uManagerThread.h"
#include "tests/common/SmtpTestServer.h"
#include "tests/export_service/ServiceFixture.h"

using namespace exptest;

namespace {

class ManagerMail : public ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        Set("TypeChange", "1");
        Set("IsAutoStart", "1");
        Set("Interval", "10");
        Set("RepeatEveryTimeHMS", "1");
    }

    // Runs the manager until the condition holds (or 30 s have passed), then stops it.
    bool RunUntil(const std::function<bool()>& done) {
        svcfake::TFakeSession session(db_);
        session.connected = true;
        params_.LoadParams(&session);
        svc::TManagerThread manager(params_, &access_, journal_.Callback());
        manager.Start();
        const bool reached = PumpUntil(done, 30000);
        manager.Terminate();
        manager.WaitFor();
        return reached;
    }

    std::string SendDateCall() const {
        for (const auto& line : db_.Lines())
            if (line.rfind("zuv_export_out_pack.add_entries_to_package(P_PACKAGE_ID='", 0) == 0)
                return "zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID='" +
                       line.substr(line.find('\'') + 1, 38) + "')";
        return "no package";
    }
};

}  // namespace

TEST_F(ManagerMail, SendDateIsStoredOnceTheLetterHasGone) {
    smtptest::SmtpServer server({});
    Set("SMTPPort", server.Port());
    ASSERT_TRUE(RunUntil([&] { return db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE") > 0; }))
        << journal_.Text();
    EXPECT_TRUE(server.HasMessage(1));
    EXPECT_TRUE(db_.Logged(SendDateCall())) << db_.LogText();
    EXPECT_EQ(Files(dir_ / "work/Back").size(), 1u);
    EXPECT_TRUE(Files(dir_ / "work/Outbox").empty());
}

TEST_F(ManagerMail, SendDateThatFailsIsTriedAgain) {
    smtptest::SmtpServer server({});
    Set("SMTPPort", server.Port());
    int calls = 0;
    db_.handlers["zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"] = [&](svcfake::TFakeProc&) {
        if (++calls == 1) throw rtl::EDatabaseError("ORA-00054: resource busy");
    };
    ASSERT_TRUE(RunUntil([&] { return db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE") >= 2; }))
        << journal_.Text();
    EXPECT_TRUE(journal_.Has("!Error: ORA-00054: resource busy"));
    const auto lines = db_.Lines();
    size_t last = 0;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == SendDateCall()) last = i;
    ASSERT_LT(last + 1, lines.size());
    EXPECT_EQ(lines[last + 1], "Commit") << "the second try is committed";
}

TEST_F(ManagerMail, FailedLetterLeavesThePackageUnsent) {
    Set("SMTPPort", std::to_string(smtptest::UnusedPort()));
    ASSERT_TRUE(RunUntil([&] { return journal_.Text().find("ErrorCode = 111") != std::string::npos; }))
        << journal_.Text();
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 0);
    EXPECT_EQ(Files(dir_ / "work/Outbox").size(), 1u);
    EXPECT_FALSE(journal_.HasPrefix("!Error: Send date of the mailed package"));
}
