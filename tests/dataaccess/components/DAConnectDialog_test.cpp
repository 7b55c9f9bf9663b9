// The connect dialog: the form hook and what happens without one, remembered user and server,
// the server history in the settings store, captions, the server enumerators and the net manager.
#include "dataaccess/components/DAConnectDialog.h"

#include <gtest/gtest.h>

#include "dataaccess/components/Ora.h"
#include "dataaccess/components/OraConnectDialog.h"
#include "platform/os/Registry.h"
#include "tests/dataaccess/components/SettingsFixture.h"

namespace dac {
namespace {

using settingstest::ReadText;
using settingstest::WriteText;

// Sets the form hook for the scope of a test.
class ScopedForm {
public:
    explicit ScopedForm(TConnectDialogExecuteProc form) : saved_(ConnectDialogExecuteProc) {
        ConnectDialogExecuteProc = std::move(form);
    }
    ~ScopedForm() { ConnectDialogExecuteProc = saved_; }

private:
    TConnectDialogExecuteProc saved_;
};

std::vector<std::string> Lines(const rtl::TStrings& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

class ConnectDialog : public settingstest::SettingsTest {
protected:
    ConnectDialog() {
        session.SetUsername("qel");
        session.SetPassword("secret");
        session.SetServer("ORCL");
        dialog.SetConnection(&session);
    }
    std::string Read(const std::string& key, const std::string& name) {
        os::TRegistry r;
        r.SetRootKey(os::HKEY_CURRENT_USER);
        if (!r.OpenKey(key, false)) return "(no key)";
        return r.ValueExists(name) ? r.ReadString(name) : "(no value)";
    }
    std::vector<std::string> History() {
        rtl::TStringList list;
        dialog.LoadServerHistory(list);
        return Lines(list);
    }
    TOraSession session;
    TOraConnectDialog dialog;
};

TEST_F(ConnectDialog, WithoutAFormExecuteIsFalseAndTheConnectionKeepsItsLogon) {
    // Stored values that would replace the connection's if the dialog were shown.
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=other\nServer=ELSEWHERE\n");
    ScopedForm none(nullptr);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(session.Username(), "qel");
    EXPECT_EQ(session.Password(), "secret");
    EXPECT_EQ(session.GetServer(), "ORCL");
    EXPECT_EQ(History(), std::vector<std::string>{});
}

TEST_F(ConnectDialog, ExecuteWithoutAConnectionIsRefused) {
    TOraConnectDialog lone;
    try {
        lone.Execute();
        FAIL() << "executed without a connection";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Connection is not defined");
    }
}

TEST_F(ConnectDialog, TheFormSeesTheStoredUserAndServerAndAConfirmedLogonIsStored) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=scott\nServer=DEMO\n");
    std::string seenUser, seenPassword, seenServer;
    ScopedForm form([&](TCustomConnectDialog& d) {
        seenUser = d.Connection()->Username();
        seenPassword = d.Connection()->Password();
        seenServer = d.Connection()->GetServer();
        d.Connection()->SetUsername("zuv");
        d.Connection()->SetPassword("pw");
        d.Connection()->SetServer("PROD");
        return true;
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(seenUser, "scott");
    // The password is not offered when it is not to be saved.
    EXPECT_EQ(seenPassword, "");
    EXPECT_EQ(seenServer, "DEMO");
    EXPECT_EQ(session.Username(), "zuv");
    EXPECT_EQ(session.Password(), "pw");
    EXPECT_EQ(Read("Connect\\QelTest", "Username"), "zuv");
    EXPECT_EQ(Read("Connect\\QelTest", "Server"), "PROD");
    EXPECT_EQ(History(), std::vector<std::string>{"PROD"});
    // The password never reaches the store.
    EXPECT_EQ(ReadText(store_).find("pw"), std::string::npos) << ReadText(store_);
}

TEST_F(ConnectDialog, SavePasswordKeepsThePasswordUnlessTheUserChanges) {
    struct Case {
        const char* storedUser;
        bool savePassword;
        const char* expected;
    };
    for (const Case& c : {Case{"QEL", true, "secret"}, Case{"scott", true, ""}, Case{"qel", false, ""}}) {
        WriteText(store_,
                  std::string("[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=") + c.storedUser + "\n");
        session.SetPassword("secret");
        dialog.SavePassword = c.savePassword;
        std::string seen = "(not shown)";
        ScopedForm form([&](TCustomConnectDialog& d) {
            seen = d.Connection()->Password();
            return false;
        });
        EXPECT_FALSE(dialog.Execute());
        EXPECT_EQ(seen, c.expected) << c.storedUser << " " << c.savePassword;
        EXPECT_EQ(session.Password(), "secret");
        EXPECT_EQ(session.Username(), "qel");
    }
}

TEST_F(ConnectDialog, AFailingFormPutsTheLogonBackAndTheErrorGoesOn) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=scott\nServer=DEMO\n");
    ScopedForm form([](TCustomConnectDialog& d) -> bool {
        d.Connection()->SetServer("HALFWAY");
        throw rtl::Exception("form broke");
    });
    EXPECT_THROW(dialog.Execute(), rtl::Exception);
    EXPECT_EQ(session.Username(), "qel");
    EXPECT_EQ(session.Password(), "secret");
    EXPECT_EQ(session.GetServer(), "ORCL");
}

TEST_F(ConnectDialog, WithoutStoreLogInfoTheSettingsAreNeitherReadNorWritten) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=scott\n");
    dialog.StoreLogInfo = false;
    std::string seenUser, seenPassword;
    ScopedForm form([&](TCustomConnectDialog& d) {
        seenUser = d.Connection()->Username();
        seenPassword = d.Connection()->Password();
        d.Connection()->SetServer("PROD");
        return true;
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(seenUser, "qel");
    EXPECT_EQ(seenPassword, "secret");
    EXPECT_EQ(ReadText(store_), "[HKEY_CURRENT_USER\\Connect\\QelTest]\nUsername=scott\n");
}

TEST_F(ConnectDialog, WithoutASettingsStoreTheDialogStillWorks) {
    settingstest::ScopedEnv noStore("DX_REGISTRY", std::nullopt);
    ScopedForm form([](TCustomConnectDialog& d) {
        d.Connection()->SetServer("PROD");
        return true;
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(session.GetServer(), "PROD");
}

TEST_F(ConnectDialog, HistoryPutsTheCurrentServerFirstAndDropsItsOtherSpellings) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect]\nServer 1=A\nServer 2=B\nServer 3=C\n");
    session.SetServer("b");
    dialog.SaveServerHistory();
    EXPECT_EQ(History(), (std::vector<std::string>{"b", "A", "C"}));
    session.SetServer("D");
    dialog.SaveServerHistory();
    EXPECT_EQ(History(), (std::vector<std::string>{"D", "b", "A", "C"}));
    // No server, no change.
    session.SetServer("");
    dialog.SaveServerHistory();
    EXPECT_EQ(History(), (std::vector<std::string>{"D", "b", "A", "C"}));
}

TEST_F(ConnectDialog, HistoryReadingStopsAtTheFirstMissingNumber) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect]\nServer 1=A\nServer 3=C\n");
    EXPECT_EQ(History(), std::vector<std::string>{"A"});
    // Without a history key the list is left as it was.
    WriteText(store_, "");
    rtl::TStringList list;
    list.Add("kept");
    dialog.LoadServerHistory(list);
    EXPECT_EQ(Lines(list), std::vector<std::string>{"kept"});
}

TEST_F(ConnectDialog, ServerListComesFromTheEnumeratorUnlessHistoryOnlyOrItFindsNone) {
    WriteText(store_, "[HKEY_CURRENT_USER\\Connect]\nServer 1=HIST\n");
    WriteText(tnsAdmin_ + "/tnsnames.ora", "TNS1 = (DESCRIPTION = (ADDRESS = (HOST = h)))\n");
    rtl::TStringList list;
    dialog.GetServerList(list);
    EXPECT_EQ(Lines(list), std::vector<std::string>{"HIST"});
    dialog.HistoryOnly = false;
    dialog.GetServerList(list);
    EXPECT_EQ(Lines(list), std::vector<std::string>{"TNS1"});
    EXPECT_NE(dynamic_cast<TOraServerEnumerator*>(dialog.ServerEnumerator()), nullptr);
    WriteText(tnsAdmin_ + "/tnsnames.ora", "");
    dialog.GetServerList(list);
    EXPECT_EQ(Lines(list), std::vector<std::string>{"HIST"});
}

TEST_F(ConnectDialog, TheGenericDialogHasNoServerSource) {
    TCustomConnectDialog generic;
    generic.HistoryOnly = false;
    rtl::TStringList list;
    EXPECT_THROW(generic.GetServerList(list), rtl::EAssertionFailed);
    try {
        generic.GetServerEnumeratorClass();
        ADD_FAILURE() << "the generic dialog named a server source";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("Must be overrided", 0), 0u) << e.Message();
    }
}

TEST_F(ConnectDialog, TheDialogForgetsAConnectionThatIsFreed) {
    auto other = std::make_unique<TOraSession>();
    dialog.SetConnection(other.get());
    other.reset();
    EXPECT_EQ(dialog.Connection(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Captions, enumerators, net manager

TEST(ConnectDialogCaptions, EverySetShowsTheEnglishCaptions) {
    TCustomConnectDialog d;
    EXPECT_EQ(d.LabelSet(), 1);
    const std::vector<std::string> english = {"Connect", "User Name", "Password",
                                              "Server",  "Connect",   "Cancel"};
    for (uint8_t set : {1, 2, 7, 9}) {
        d.SetCaption(cdlServer, "changed");
        d.SetLabelSet(set);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(d.Caption(static_cast<TConnectDialogLabel>(i)), english[static_cast<size_t>(i)])
                << int(set);
    }
    // Set 0 loads nothing.
    d.SetCaption(cdlServer, "mine");
    d.SetLabelSet(0);
    EXPECT_EQ(d.Caption(cdlServer), "mine");
}

struct CountedEnumerator : TCRServerEnumerator {
    explicit CountedEnumerator(int& freed) : freed_(freed) {}
    ~CountedEnumerator() override { ++freed_; }
    int& freed_;
};

TEST(ServerEnumerator, TheGenericOneKnowsNoServersNorPropertiesAndIsFreedWhenReplaced) {
    TCRServerEnumerator e;
    rtl::TStringList list;
    list.Add("old");
    e.GetServerList(list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(e.GetProp(7), rtl::EAssertionFailed);
    EXPECT_THROW(e.SetProp(7, rtl::Variant(1)), rtl::EAssertionFailed);

    int freed = 0;
    {
        TCustomConnectDialog d;
        auto* first = new CountedEnumerator(freed);
        d.SetServerEnumerator(first);
        d.SetServerEnumerator(first);
        EXPECT_EQ(freed, 0);
        d.SetServerEnumerator(new CountedEnumerator(freed));
        EXPECT_EQ(freed, 1);
    }
    EXPECT_EQ(freed, 2);
}

struct CountedObject : rtl::TObject {
    explicit CountedObject(int& freed) : freed_(freed) {}
    ~CountedObject() override { ++freed_; }
    int& freed_;
};

TEST(NetManager, EveryEntryPointRaisesNotLinkedAndTheCachedListFreesItsObjects) {
    TCRNetManager& m = NetManager();
    for (const char* name : TCRNetManager::EntryNames()) {
        EXPECT_FALSE(m.IsLinked(name));
        try {
            m.Call(name);
            ADD_FAILURE() << name;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "function is not linked") << name;
        }
    }
    int freed = 0;
    m.CachedServerList().AddObject("A", new CountedObject(freed));
    m.CachedServerList().AddObject("B", new CountedObject(freed));
    m.ClearCachedServerList();
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(m.CachedServerList().Count(), 0);
}

}  // namespace
}  // namespace dac
