// The login prompt of a connection: user name, password and server, a remembered user and
// server and a history of servers in the current user's settings, shown through a library-wide
// form hook. Also the generic source of server names and the process-wide net manager.
//
// Settings live in the INI key store of platform/os (the registry stand-in), under the current
// user's root: "<key path>Connect\<application title>" holds "Username" and "Server", and
// "<key path>Connect" the history "Server 1", "Server 2", ... most recent first.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "platform/rtl/Lists.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Threads.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace os {
class TRegistry;
}

namespace dac {

using rtl::AnsiString;

class TCustomDAConnection;

// ---------------------------------------------------------------------------------------------
// Server names

class TCRServerEnumerator : public rtl::TObject {
public:
    TCRServerEnumerator() = default;
    // No property codes are known here: both fail an assertion naming the code.
    virtual rtl::Variant GetProp(int prop);
    virtual void SetProp(int prop, const rtl::Variant& value);
    // Clears the list; the generic enumerator knows no servers.
    virtual void GetServerList(rtl::TStrings& list);
};

using TCRServerEnumeratorClass = rtl::TClassOf<TCRServerEnumerator>;

// ---------------------------------------------------------------------------------------------
// Connect dialog

class TCustomConnectDialog;

// Shows the dialog's form: true when the user confirmed. The form reads and writes the
// connection's Username, Password and Server, and may offer GetServerList.
using TConnectDialogExecuteProc = std::function<bool(TCustomConnectDialog& dialog)>;
// The library-wide form hook; unassigned, Execute returns false.
extern TConnectDialogExecuteProc ConnectDialogExecuteProc;

// Caption indexes.
enum TConnectDialogLabel {
    cdlCaption = 0,
    cdlUsername = 1,
    cdlPassword = 2,
    cdlServer = 3,
    cdlConnectButton = 4,
    cdlCancelButton = 5
};

class TCustomConnectDialog : public rtl::TComponent {
public:
    explicit TCustomConnectDialog(rtl::TComponent* owner = nullptr);
    ~TCustomConnectDialog() override;

    TCustomDAConnection* Connection() const { return connection_; }
    void SetConnection(TCustomDAConnection* value);

    bool SavePassword = false;
    // The user name and server are read from and written to the settings.
    bool StoreLogInfo = true;
    // The server list comes from the settings' history only.
    bool HistoryOnly = true;

    uint8_t LabelSet() const { return labelSet_; }
    virtual void SetLabelSet(uint8_t value);
    const AnsiString& Caption(TConnectDialogLabel which) const { return captions_[which]; }
    void SetCaption(TConnectDialogLabel which, const AnsiString& value) { captions_[which] = value; }

    // The generic dialog has no server source: an assertion "Must be overrided".
    virtual TCRServerEnumeratorClass GetServerEnumeratorClass();
    TCRServerEnumerator* ServerEnumerator() const { return enumerator_.get(); }
    // Takes ownership; frees the previous enumerator when it changes.
    virtual void SetServerEnumerator(TCRServerEnumerator* value);

    // The settings key prefix, empty here.
    virtual AnsiString GetKeyPath() { return AnsiString(); }
    virtual AnsiString GetServerValueName() { return "Server"; }
    virtual AnsiString GetServerStoreKey() { return GetKeyPath() + "Connect"; }
    // The dialog's own key: GetKeyPath + "Connect\" + the application title.
    AnsiString GetDialogKey() { return GetKeyPath() + "Connect\\" + ApplicationTitleOrEmpty(); }

    // Puts the connection's server first, followed by the earlier entries that differ from it
    // (ignoring case) in their old order. Nothing when the connection has no server.
    virtual void SaveServerHistory();
    // Fills the list from the history; leaves it as it is when there is no history key.
    virtual void LoadServerHistory(rtl::TStrings& list);
    virtual void SaveInfoToRegistry(os::TRegistry& registry);
    virtual void LoadInfoFromRegistry(os::TRegistry& registry);

    // Runs the form through the hook. DatabaseError "Connection is not defined" without a
    // connection. When the form is not confirmed, or anything fails, the connection's user,
    // password and server are put back as they were.
    virtual bool Execute();
    // The enumerator's servers unless HistoryOnly; the history when that gives none.
    virtual void GetServerList(rtl::TStrings& list);

    void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

protected:
    // True when the program runs inside the development environment. No such environment runs
    // programs of this system on Linux, so it is never so.
    virtual bool InsideDevelopmentEnvironment() { return false; }

private:
    static AnsiString ApplicationTitleOrEmpty();

    TCustomDAConnection* connection_ = nullptr;
    uint8_t labelSet_ = 0;
    std::array<AnsiString, 6> captions_;
    std::unique_ptr<TCRServerEnumerator> enumerator_;
};

// The six captions of a label set: English (set 1) for every set, since the other languages'
// texts are not available in a clean form.
std::array<AnsiString, 6> ConnectDialogCaptions(uint8_t labelSet);

// ---------------------------------------------------------------------------------------------
// Net manager

// One per process: the cached server list and the entry points for service control and server
// enumeration. Linux has neither service-control manager calls nor network server enumeration,
// so every entry point stays bound to the stub raising Exception "function is not linked".
class TCRNetManager : public rtl::TObject {
public:
    TCRNetManager();
    ~TCRNetManager() override;

    rtl::TStringList& CachedServerList() { return cachedServerList_; }
    // Frees the list's objects and empties it.
    void ClearCachedServerList();
    rtl::TCriticalSection& ServicesCS() { return servicesCS_; }

    // The nine entry points by name, each a callable that raises when not linked.
    static const std::array<const char*, 9>& EntryNames();
    bool IsLinked(const std::string& name) const;
    void Call(const std::string& name) const;

private:
    rtl::TStringList cachedServerList_;
    rtl::TCriticalSection servicesCS_;
};

TCRNetManager& NetManager();

}  // namespace dac
