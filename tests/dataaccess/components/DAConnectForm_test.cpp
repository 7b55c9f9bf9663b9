// The terminal connect form: prompts with the dialog's captions, answers that keep or replace
// the shown values, a server picked by number, cancelling, and the end of the input.
#include "dataaccess/components/DAConnectForm.h"

#include <gtest/gtest.h>

#include <sstream>

#include "dataaccess/components/Ora.h"
#include "dataaccess/components/OraConnectDialog.h"
#include "platform/os/Registry.h"
#include "tests/dataaccess/components/SettingsFixture.h"

namespace dac {
namespace {

using settingstest::WriteText;

class TerminalForm : public settingstest::SettingsTest {
protected:
    TerminalForm() {
        session.SetUsername("qel");
        session.SetPassword("secret");
        session.SetServer("ORCL");
        dialog.SetConnection(&session);
        WriteText(store_, "[HKEY_CURRENT_USER\\Connect]\nServer 1=ORCL\nServer 2=DEMO\n");
    }
    bool Run(const std::string& input) {
        std::istringstream in(input);
        out.str("");
        return ExecuteTerminalConnectForm(dialog, in, out);
    }
    TOraSession session;
    TOraConnectDialog dialog;
    std::ostringstream out;
};

TEST_F(TerminalForm, AnswersReplaceTheValuesAndANumberPicksAServer) {
    EXPECT_TRUE(Run("scott\ntiger\n2\n\n"));
    EXPECT_EQ(session.Username(), "scott");
    EXPECT_EQ(session.Password(), "tiger");
    EXPECT_EQ(session.GetServer(), "DEMO");
    EXPECT_EQ(out.str(),
              "Connect\n  1  ORCL\n  2  DEMO\nUser Name [qel]: Password: Server [ORCL]: Connect / Cancel "
              "[Connect]: ");
}

TEST_F(TerminalForm, EmptyAnswersKeepTheShownValuesAndOtherAnswersAreTakenAsTheyStand) {
    EXPECT_TRUE(Run("\r\n\n  PROD  \nconnect\n"));
    EXPECT_EQ(session.Username(), "qel");
    EXPECT_EQ(session.Password(), "secret");
    EXPECT_EQ(session.GetServer(), "PROD");
    // A number outside the list is a server name.
    EXPECT_TRUE(Run("\n\n7\n\n"));
    EXPECT_EQ(session.GetServer(), "7");
}

TEST_F(TerminalForm, CancelAndTheEndOfInputLeaveTheConnectionAlone) {
    for (const char* input :
         {"scott\ntiger\nDEMO\nCANCEL\n", "scott\ntiger\n", "", "scott\ntiger\nDEMO\nmaybe\n"}) {
        EXPECT_FALSE(Run(input)) << input;
        EXPECT_EQ(session.Username(), "qel") << input;
        EXPECT_EQ(session.Password(), "secret") << input;
        EXPECT_EQ(session.GetServer(), "ORCL") << input;
    }
    // An answer that is neither button asks again.
    EXPECT_TRUE(Run("\n\n\nmaybe\n\n"));
    EXPECT_NE(out.str().find("[Connect]: Connect / Cancel [Connect]: "), std::string::npos) << out.str();
}

TEST_F(TerminalForm, AsTheLibrarysFormTheDialogStoresWhatWasConfirmed) {
    std::istringstream in("zuv\npw\nNEW\n\n");
    std::ostringstream shown;
    const TConnectDialogExecuteProc saved = ConnectDialogExecuteProc;
    ConnectDialogExecuteProc = [&](TCustomConnectDialog& d) {
        return ExecuteTerminalConnectForm(d, in, shown);
    };
    const bool ok = dialog.Execute();
    ConnectDialogExecuteProc = saved;
    EXPECT_TRUE(ok);
    EXPECT_EQ(session.Username(), "zuv");
    // The password was cleared before the form, so the form showed none and took the typed one.
    EXPECT_EQ(session.Password(), "pw");
    rtl::TStringList history;
    dialog.LoadServerHistory(history);
    ASSERT_EQ(history.Count(), 3);
    EXPECT_EQ(history[0], "NEW");
    os::TRegistry r;
    r.SetRootKey(os::HKEY_CURRENT_USER);
    ASSERT_TRUE(r.OpenKey("Connect\\QelTest", false));
    EXPECT_EQ(r.ReadString("Username"), "zuv");
}

}  // namespace
}  // namespace dac
