// Change notification in the client layer: registration and its attributes, the hand-off of
// notifications from the client library's thread to the owning thread, enable and disable,
// deregistration, and the end of an object with notifications still queued. These tests also run
// under ThreadSanitizer (scripts/tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "OraCommandFixture.h"

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

struct Received {
    TChangeNotifyEventType type;
    std::thread::id thread;
    // "TABLE:ops" and "  ROWID:ops" lines, ops as the operation byte.
    std::vector<std::string> lines;
};

void Describe(const TNotifyTableChanges* changes, std::vector<std::string>& lines) {
    for (int i = 0; changes && i < changes->Count(); ++i) {
        TNotifyTableChange* t = changes->Items(i);
        lines.push_back(t->TableName + ":" + std::to_string(t->Operations.Byte()));
        for (int k = 0; t->RowChanges && k < t->RowChanges->Count(); ++k)
            lines.push_back("  " + std::to_string(t->RowChanges->Items(k)->Operations.Byte()));
    }
}

// Values of one attribute that OCIAttrSet was given on subscription handles.
struct SubscriptionAttrSpy {
    static inline std::vector<std::pair<ub4, ub4>> Calls;  // attribute, 4-byte value
    static sword Spy(void* h, ub4 type, void* value, ub4 size, ub4 attr, OCIError* err) {
        if (type == OCI_HTYPE_SUBSCRIPTION && size == 4) {
            ub4 v = 0;
            std::memcpy(&v, value, 4);
            Calls.emplace_back(attr, v);
        }
        return swap->Saved()(h, type, value, size, attr, err);
    }
    static inline EntrySwap<decltype(dac::OCIAttrSet)>* swap = nullptr;
    SubscriptionAttrSpy() : own(dac::OCIAttrSet, &Spy) {
        Calls.clear();
        swap = &own;
    }
    ~SubscriptionAttrSpy() { swap = nullptr; }
    ub4 Value(ub4 attr) const {
        for (auto& [a, v] : Calls)
            if (a == attr) return v;
        return 0xFFFFFFFF;
    }
    EntrySwap<decltype(dac::OCIAttrSet)> own;
};

class OraChangeNotifyTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(
            "CREATE TABLE item(id NUMBER(9,0) PRIMARY KEY, name VARCHAR2(20));"
            "INSERT INTO item VALUES (1, 'one'), (2, 'two'), (3, 'three');");
        notify_ = std::make_unique<TOCIChangeNotification>();
        notify_->SetOnChange([this](TChangeNotifyEventType type, TNotifyTableChanges* changes) {
            Received r{type, std::this_thread::get_id(), {}};
            Describe(changes, r.lines);
            received_.push_back(r);
        });
    }
    void TearDown() override {
        if (notify_) notify_->Unregister(conn_.get());
        notify_.reset();
        OraCommandTest::TearDown();
    }

    // Opens a query whose command carries the change notification.
    void OpenQuery(const AnsiString& sql) {
        auto command = Command(sql);
        command->ChangeNotification = notify_.get();
        command->Prepare();
        command->Execute();
        command->UnPrepare();
    }

    std::unique_ptr<TOCIChangeNotification> notify_;
    std::vector<Received> received_;
};

TEST_F(OraChangeNotifyTest, ChangesOfAnotherConnectionReachTheHandlerOnTheOwningThread) {
    OpenQuery("SELECT id, name FROM item");
    EXPECT_TRUE(notify_->IsRegistered());
    // One transaction, so one notification.
    dbExec("BEGIN; INSERT INTO item VALUES (4, 'four'); UPDATE item SET name = 'uno' WHERE id = 1; COMMIT;");
    ASSERT_TRUE(PumpUntil([&] { return !received_.empty(); }));
    rtl::WaitAndProcessMessages(100);
    ASSERT_EQ(1u, received_.size());
    EXPECT_EQ(cneObjChange, received_[0].type);
    EXPECT_EQ(std::this_thread::get_id(), received_[0].thread);
    // insert is bit 0 (1), update bit 1 (2)
    EXPECT_EQ((std::vector<std::string>{"QEL.ITEM:3", "  1", "  2"}), received_[0].lines);
}

TEST_F(OraChangeNotifyTest, RegistrationSendsTheOperationsMask) {
    struct Case {
        TChangeNotifyDMLOperations ops;
        ub4 mask;
    };
    const Case cases[] = {
        {AllDMLOperations, 0}, {{cnoDelete}, 8}, {{cnoInsert, cnoUpdate}, 6}, {{cnoInsert}, 2}};
    for (const Case& c : cases) {
        SubscriptionAttrSpy spy;
        TOCIChangeNotification n;
        n.SetProp(prCNOperations, rtl::Variant(static_cast<int32_t>(c.ops.Byte())));
        n.SetProp(prCNTimeOut, rtl::Variant(int32_t(30)));
        n.SetProp(prCNPersistent, rtl::Variant(true));
        n.Register(conn_.get());
        EXPECT_EQ(c.mask, spy.Value(OCI_ATTR_CHNF_OPERATIONS)) << int(c.ops.Byte());
        EXPECT_EQ(2u, spy.Value(OCI_ATTR_SUBSCR_NAMESPACE));
        EXPECT_EQ(1u, spy.Value(OCI_ATTR_CHNF_ROWIDS));
        EXPECT_EQ(30u, spy.Value(OCI_ATTR_SUBSCR_TIMEOUT));
        EXPECT_EQ(1u, spy.Value(OCI_ATTR_SUBSCR_QOSFLAGS));
        n.Unregister(conn_.get());
        EXPECT_FALSE(n.IsRegistered());
    }
}

TEST_F(OraChangeNotifyTest, EmptyOperationsAreRefusedAndLeaveNothingRegistered) {
    TOCIChangeNotification n;
    n.SetProp(prCNOperations, rtl::Variant(int32_t(0)));
    EXPECT_EQ("Operations for change notification subscription cannot be empty set",
              ExceptionText([&] { n.Register(conn_.get()); }));
    EXPECT_FALSE(n.IsRegistered());
}

TEST_F(OraChangeNotifyTest, OldClientOrServerIsRefused) {
    const uint16_t saved = OCIVersion;
    OCIVersion = 10105;
    EXPECT_EQ("OCI 10.2 or greater is needed for change notification",
              ExceptionText([&] { notify_->Register(conn_.get()); }));
    OCIVersion = saved;
    EXPECT_FALSE(notify_->IsRegistered());
}

TEST_F(OraChangeNotifyTest, UnknownPropertyFailsAnAssertion) {
    EXPECT_THROW(notify_->SetProp(1039, rtl::Variant(true)), rtl::EAssertionFailed);
}

int disableCalls = 0;
sword CountDisable(OCISubscription*, OCIError*, ub4) {
    ++disableCalls;
    return OCI_SUCCESS;
}

TEST_F(OraChangeNotifyTest, DisablingARegisteredSubscriptionCallsTheClientOnce) {
    notify_->SetEnabled(false);  // not registered: nothing to tell the server
    notify_->SetEnabled(true);
    notify_->Register(conn_.get());
    disableCalls = 0;
    {
        EntrySwap<TOCIProc> swap(dac::OCISubscriptionDisable, reinterpret_cast<TOCIProc>(&CountDisable));
        notify_->SetProp(prCNEnabled, rtl::Variant(false));
        notify_->SetProp(prCNEnabled, rtl::Variant(false));
    }
    EXPECT_EQ(1, disableCalls);
    EXPECT_FALSE(notify_->Enabled());
}

TEST_F(OraChangeNotifyTest, DisabledSubscriptionHearsNothingAndDisabledCommandsDoNotRegister) {
    OpenQuery("SELECT id FROM item");
    notify_->SetEnabled(false);
    dbExec("DELETE FROM item WHERE id = 1;");
    EXPECT_FALSE(PumpUntil([&] { return !received_.empty(); }, 1));
    auto fresh = std::make_unique<TOCIChangeNotification>();
    fresh->SetEnabled(false);
    auto command = Command("SELECT id FROM item");
    command->ChangeNotification = fresh.get();
    command->Prepare();
    EXPECT_FALSE(fresh->IsRegistered());
}

TEST_F(OraChangeNotifyTest, DeregistrationLeavesTheObjectUnregisteredAndTheNextQueryRegistersAgain) {
    notify_->SetProp(prCNTimeOut, rtl::Variant(int32_t(1)));
    OpenQuery("SELECT id FROM item");
    ASSERT_TRUE(PumpUntil([&] { return !received_.empty(); }));
    EXPECT_EQ(cneDereg, received_[0].type);
    EXPECT_FALSE(notify_->IsRegistered());
    notify_->SetProp(prCNTimeOut, rtl::Variant(int32_t(0)));
    OpenQuery("SELECT id FROM item");
    EXPECT_TRUE(notify_->IsRegistered());
    dbExec("DELETE FROM item WHERE id = 2;");
    ASSERT_TRUE(PumpUntil([&] { return received_.size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"QEL.ITEM:4", "  4"}), received_[1].lines);
}

TEST_F(OraChangeNotifyTest, FreeingTheObjectDropsNotificationsNotYetDelivered) {
    OpenQuery("SELECT id FROM item");
    dbExec("DELETE FROM item WHERE id = 3;");
    // Wait for the notification to be queued, without pumping.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    rtl::TMsg msg;
    while (!rtl::PeekMessage(msg, 0, WM_CHANGENOTIFY, WM_CHANGENOTIFY, rtl::PM_NOREMOVE) &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(WM_CHANGENOTIFY, msg.message);
    notify_->Unregister(conn_.get());
    notify_.reset();  // the queued event goes with it (a leak or a late call would show)
    rtl::ProcessMessages();
    EXPECT_TRUE(received_.empty());
}

}  // namespace
