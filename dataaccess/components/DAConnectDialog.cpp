// The connect dialog's logic, its captions and settings, the generic server enumerator and the
// net manager.
#include "dataaccess/components/DAConnectDialog.h"

#include <errno.h>

#include "dataaccess/components/DBAccess.h"
#include "dataaccess/core/MemData.h"
#include "platform/os/Registry.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TCRServerEnumerator

rtl::Variant TCRServerEnumerator::GetProp(int prop) {
    rtl::Assert(false, "Invalid property code " + std::to_string(prop));
    return rtl::Variant();
}

void TCRServerEnumerator::SetProp(int prop, const rtl::Variant&) {
    rtl::Assert(false, "Invalid property code " + std::to_string(prop));
}

void TCRServerEnumerator::GetServerList(rtl::TStrings& list) {
    list.Clear();
}

// ---------------------------------------------------------------------------------------------
// Captions

std::array<AnsiString, 6> ConnectDialogCaptions(uint8_t) {
    return {"Connect", "User Name", "Password", "Server", "Connect", "Cancel"};
}

TConnectDialogExecuteProc ConnectDialogExecuteProc;

// ---------------------------------------------------------------------------------------------
// TCustomConnectDialog

TCustomConnectDialog::TCustomConnectDialog(rtl::TComponent* owner) : rtl::TComponent(owner) {
    SetLabelSet(1);
}

TCustomConnectDialog::~TCustomConnectDialog() {
    Destroying();
    SetConnection(nullptr);
}

void TCustomConnectDialog::SetConnection(TCustomDAConnection* value) {
    if (connection_ == value) return;
    if (connection_) connection_->RemoveFreeNotification(this);
    connection_ = value;
    if (connection_) connection_->FreeNotification(this);
}

void TCustomConnectDialog::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    rtl::TComponent::Notification(component, operation);
    if (operation == rtl::opRemove && component == connection_) connection_ = nullptr;
}

void TCustomConnectDialog::SetLabelSet(uint8_t value) {
    labelSet_ = value;
    if (value != 0) captions_ = ConnectDialogCaptions(value);
}

TCRServerEnumeratorClass TCustomConnectDialog::GetServerEnumeratorClass() {
    rtl::Assert(false, "Must be overrided");
    return TCRServerEnumeratorClass::Of<TCRServerEnumerator>();
}

void TCustomConnectDialog::SetServerEnumerator(TCRServerEnumerator* value) {
    if (enumerator_.get() != value) enumerator_.reset(value);
}

AnsiString TCustomConnectDialog::ApplicationTitleOrEmpty() {
    AnsiString title = ApplicationTitle();
    // Without a title of its own a program goes by its file name.
    return title.empty() ? AnsiString(program_invocation_short_name) : title;
}

void TCustomConnectDialog::LoadServerHistory(rtl::TStrings& list) {
    os::TRegistry registry;
    registry.SetRootKey(os::HKEY_CURRENT_USER);
    if (!registry.OpenKey(GetServerStoreKey(), false)) return;
    list.Clear();
    for (int n = 1;; ++n) {
        const AnsiString name = GetServerValueName() + " " + std::to_string(n);
        if (!registry.ValueExists(name)) break;
        list.Add(registry.ReadString(name));
    }
}

void TCustomConnectDialog::SaveServerHistory() {
    if (!connection_) return;
    const AnsiString server = connection_->GetServer();
    if (server.empty()) return;
    rtl::TStringList history;
    LoadServerHistory(history);
    os::TRegistry registry;
    registry.SetRootKey(os::HKEY_CURRENT_USER);
    if (!registry.OpenKey(GetServerStoreKey(), true)) return;
    registry.WriteString(GetServerValueName() + " 1", server);
    int n = 2;
    for (int i = 0; i < history.Count(); ++i) {
        if (rtl::SameText(history[i], server)) continue;
        registry.WriteString(GetServerValueName() + " " + std::to_string(n++), history[i]);
    }
}

void TCustomConnectDialog::SaveInfoToRegistry(os::TRegistry& registry) {
    registry.WriteString("Username", connection_->Username());
    registry.WriteString(GetServerValueName(), connection_->GetServer());
}

void TCustomConnectDialog::LoadInfoFromRegistry(os::TRegistry& registry) {
    if (registry.ValueExists("Username")) connection_->SetUsername(registry.ReadString("Username"));
    if (registry.ValueExists(GetServerValueName()))
        connection_->SetServer(registry.ReadString(GetServerValueName()));
}

bool TCustomConnectDialog::Execute() {
    if (!connection_) rtl::DatabaseError("Connection is not defined");
    const AnsiString oldUsername = connection_->Username();
    const AnsiString oldPassword = connection_->Password();
    const AnsiString oldServer = connection_->GetServer();
    bool result = false;
    try {
        if (StoreLogInfo) {
            os::TRegistry registry;
            registry.SetRootKey(os::HKEY_CURRENT_USER);
            const bool opened = registry.OpenKey(GetDialogKey(), false);
            const bool inside = InsideDevelopmentEnvironment();
            if (opened && (!inside || connection_->Username().empty())) LoadInfoFromRegistry(registry);
            if (!SavePassword && !inside)
                connection_->SetPassword("");
            else if (!rtl::SameText(connection_->Username(), oldUsername))
                connection_->SetPassword("");
        }
        if (ConnectDialogExecuteProc) result = ConnectDialogExecuteProc(*this);
        if (result && StoreLogInfo) {
            SaveServerHistory();
            os::TRegistry registry;
            registry.SetRootKey(os::HKEY_CURRENT_USER);
            if (registry.OpenKey(GetDialogKey(), true)) SaveInfoToRegistry(registry);
        }
    } catch (...) {
        result = false;
        connection_->SetUsername(oldUsername);
        connection_->SetPassword(oldPassword);
        connection_->SetServer(oldServer);
        throw;
    }
    if (!result) {
        connection_->SetUsername(oldUsername);
        connection_->SetPassword(oldPassword);
        connection_->SetServer(oldServer);
    }
    return result;
}

void TCustomConnectDialog::GetServerList(rtl::TStrings& list) {
    if (!HistoryOnly) {
        const TCRServerEnumeratorClass cls = GetServerEnumeratorClass();
        if (!enumerator_ || !cls.IsClassOf(enumerator_.get()))
            SetServerEnumerator(static_cast<TCRServerEnumerator*>(cls.Create()));
        enumerator_->GetServerList(list);
        if (list.Count() > 0) return;
    }
    LoadServerHistory(list);
}

// ---------------------------------------------------------------------------------------------
// TCRNetManager

namespace {

const std::array<const char*, 9> netEntryNames = {
    "OpenSCManagerA", "CloseServiceHandle", "OpenServiceA",  "EnumServicesStatusA", "QueryServiceStatus",
    "StartServiceA",  "ControlService",     "NetServerEnum", "NetApiBufferFree"};

}  // namespace

TCRNetManager::TCRNetManager() : cachedServerList_(true) {}

TCRNetManager::~TCRNetManager() {
    ClearCachedServerList();
}

void TCRNetManager::ClearCachedServerList() {
    rtl::TCriticalSectionLock hold(servicesCS_);
    cachedServerList_.Clear();
}

const std::array<const char*, 9>& TCRNetManager::EntryNames() {
    return netEntryNames;
}

bool TCRNetManager::IsLinked(const std::string& name) const {
    (void)name;
    return false;
}

void TCRNetManager::Call(const std::string& name) const {
    for (const char* entry : netEntryNames)
        if (name == entry) throw rtl::Exception("function is not linked");
    throw rtl::Exception("Unknown entry point " + name);
}

TCRNetManager& NetManager() {
    static TCRNetManager manager;
    return manager;
}

}  // namespace dac
