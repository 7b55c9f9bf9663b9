// Change notification: subscription, callback hand-off to the owning thread, and decoding.
#include "dataaccess/oracle/OraClassesNotify.h"

#include <map>

#include "dataaccess/oracle/OraError.h"

namespace dac {

namespace {

// Typed views of the untyped entries of the entry table.
auto SubscriptionRegister() {
    return reinterpret_cast<decltype(&::OCISubscriptionRegister)>(OCISubscriptionRegister);
}
auto SubscriptionUnRegister() {
    return reinterpret_cast<decltype(&::OCISubscriptionUnRegister)>(OCISubscriptionUnRegister);
}
auto SubscriptionEnable() {
    return reinterpret_cast<decltype(&::OCISubscriptionEnable)>(OCISubscriptionEnable);
}
auto SubscriptionDisable() {
    return reinterpret_cast<decltype(&::OCISubscriptionDisable)>(OCISubscriptionDisable);
}
auto CollSize() {
    return reinterpret_cast<decltype(&::OCICollSize)>(OCICollSize);
}
auto CollGetElem() {
    return reinterpret_cast<decltype(&::OCICollGetElem)>(OCICollGetElem);
}

// Context handles: the callback finds its object through them, under this lock, so that an
// object being destroyed is never reached. The lock also guards each object's subscription
// handle, handler and pending notifications, which the callback thread touches.
std::mutex& ContextLock() {
    static std::mutex m;
    return m;
}
std::map<uintptr_t, TOCIChangeNotification*>& Contexts() {
    static std::map<uintptr_t, TOCIChangeNotification*> m;
    return m;
}
uintptr_t NextContext = 0;

void CheckDecode(sword status) {
    CheckOCIStatus(status, OCIUnicode, OCIErrorHandle());
}

ub4 GetU4(void* descriptor, ub4 type, ub4 attr) {
    ub4 value = 0;
    CheckDecode(OCIAttrGet(descriptor, type, &value, nullptr, attr, OCIErrorHandle()));
    return value;
}

void* GetPointer(void* descriptor, ub4 type, ub4 attr) {
    void* value = nullptr;
    CheckDecode(OCIAttrGet(descriptor, type, &value, nullptr, attr, OCIErrorHandle()));
    return value;
}

AnsiString GetText(void* descriptor, ub4 type, ub4 attr) {
    void* text = nullptr;
    ub4 size = 0;
    CheckDecode(OCIAttrGet(descriptor, type, &text, &size, attr, OCIErrorHandle()));
    return text ? OCITextToStringLen(text, static_cast<int>(size), OCIUnicode) : AnsiString();
}

}  // namespace

TChangeNotifyOperations OperationsOfOpcodes(ub4 opcodes) {
    TChangeNotifyOperations ops;
    if (opcodes & OCI_OPCODE_INSERT) ops.Include(cnoInsert);
    if (opcodes & OCI_OPCODE_UPDATE) ops.Include(cnoUpdate);
    if (opcodes & OCI_OPCODE_DELETE) ops.Include(cnoDelete);
    if (opcodes & OCI_OPCODE_ALLROWS) ops.Include(cnoAllRows);
    if (opcodes & OCI_OPCODE_ALTER) ops.Include(cnoAlter);
    if (opcodes & OCI_OPCODE_DROP) ops.Include(cnoDrop);
    return ops;
}

ub4 OpcodesOfDMLOperations(TChangeNotifyDMLOperations operations) {
    if (operations.Contains(cnoInsert) && operations.Contains(cnoUpdate) && operations.Contains(cnoDelete))
        return OCI_OPCODE_ALLOPS;
    ub4 opcodes = 0;
    if (operations.Contains(cnoInsert)) opcodes += OCI_OPCODE_INSERT;
    if (operations.Contains(cnoUpdate)) opcodes += OCI_OPCODE_UPDATE;
    if (operations.Contains(cnoDelete)) opcodes += OCI_OPCODE_DELETE;
    return opcodes;
}

// ---------------------------------------------------------------------------------------------
// Decoding

void TCustomNotifyChanges::ReadCollection(void* collection) {
    if (!collection) return;
    OCIEnv* env = OCIEnvHandle;
    sb4 count = 0;
    CheckDecode(CollSize()(env, OCIErrorHandle(), static_cast<OCIColl*>(collection), &count));
    for (sb4 i = 0; i < count; ++i) {
        boolean exists = 0;
        void* element = nullptr;
        void* indicator = nullptr;
        CheckDecode(CollGetElem()(env, OCIErrorHandle(), static_cast<OCIColl*>(collection), i, &exists,
                                  &element, &indicator));
        if (!exists || !element) continue;
        FItems.push_back(CreateItem(*static_cast<void**>(element)));
    }
}

TNotifyRowChange::TNotifyRowChange(void* descriptor)
    : RowId(GetText(descriptor, OCI_DTYPE_ROW_CHDES, OCI_ATTR_CHDES_ROW_ROWID)),
      Operations(TChangeNotifyOperations::FromByte(
          OperationsOfOpcodes(GetU4(descriptor, OCI_DTYPE_ROW_CHDES, OCI_ATTR_CHDES_ROW_OPFLAGS)).Byte() &
          7)) {}

std::unique_ptr<rtl::TObject> TNotifyRowChanges::CreateItem(void* descriptor) {
    return std::make_unique<TNotifyRowChange>(descriptor);
}

TNotifyRowChange* TNotifyRowChanges::Add(std::unique_ptr<TNotifyRowChange> item) {
    FItems.push_back(std::move(item));
    return Items(Count() - 1);
}

TNotifyTableChange::TNotifyTableChange(void* descriptor)
    : TableName(GetText(descriptor, OCI_DTYPE_TABLE_CHDES, OCI_ATTR_CHDES_TABLE_NAME)),
      Operations(
          OperationsOfOpcodes(GetU4(descriptor, OCI_DTYPE_TABLE_CHDES, OCI_ATTR_CHDES_TABLE_OPFLAGS))) {
    if (!Operations.Contains(cnoAllRows))
        RowChanges = std::make_unique<TNotifyRowChanges>(
            GetPointer(descriptor, OCI_DTYPE_TABLE_CHDES, OCI_ATTR_CHDES_TABLE_ROW_CHANGES));
}

std::unique_ptr<rtl::TObject> TNotifyTableChanges::CreateItem(void* descriptor) {
    return std::make_unique<TNotifyTableChange>(descriptor);
}

TNotifyTableChange* TNotifyTableChanges::Add(std::unique_ptr<TNotifyTableChange> item) {
    FItems.push_back(std::move(item));
    return Items(Count() - 1);
}

TNotifyChange::TNotifyChange(void* descriptor) {
    const ub4 type = GetU4(descriptor, OCI_DTYPE_CHDES, OCI_ATTR_CHDES_NFYTYPE);
    rtl::Assert(type <= cneObjChange, "Unknown change notification type " + std::to_string(type));
    NotifyType = static_cast<TChangeNotifyEventType>(type);
    if (NotifyType == cneObjChange)
        TableChanges = std::make_unique<TNotifyTableChanges>(
            GetPointer(descriptor, OCI_DTYPE_CHDES, OCI_ATTR_CHDES_TABLE_CHANGES));
}

// ---------------------------------------------------------------------------------------------
// TOCIChangeNotification

TOCIChangeNotification::TOCIChangeNotification() = default;

TOCIChangeNotification::~TOCIChangeNotification() {
    std::vector<TNotifyChange*> pending;
    OCISubscription* subscription = nullptr;
    {
        std::lock_guard<std::mutex> lock(ContextLock());
        if (FContext) Contexts().erase(FContext);
        pending.swap(FPending);
        subscription = FSubscription;
        FSubscription = nullptr;
    }
    // The client library stops calling back for a freed subscription handle.
    if (subscription) OCIHandleFree(subscription, OCI_HTYPE_SUBSCRIPTION);
    const auto self = reinterpret_cast<rtl::WPARAM>(static_cast<TUtilityMessageTarget*>(this));
    while (FWindow && rtl::RemovePendingMessage(FWindow, WM_CHANGENOTIFY, self)) {
    }
    for (TNotifyChange* change : pending) delete change;
}

uintptr_t TOCIChangeNotification::ContextHandle() {
    std::lock_guard<std::mutex> lock(ContextLock());
    if (!FContext) {
        FContext = ++NextContext;
        Contexts()[FContext] = this;
    }
    return FContext;
}

bool TOCIChangeNotification::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prCNEnabled:
            SetEnabled(value.AsBoolean());
            return true;
        case prCNTimeOut:
            FTimeOut = value.AsInteger();
            return true;
        case prCNPersistent:
            FPersistent = value.AsBoolean();
            return true;
        case prCNOperations:
            FOperations = TChangeNotifyDMLOperations::FromByte(static_cast<uint8_t>(value.AsInteger()) & 7);
            return true;
        default:
            rtl::Assert(false, "Invalid property id " + std::to_string(prop));
            return false;
    }
}

void TOCIChangeNotification::SetEnabled(bool value) {
    OCISubscription* subscription = nullptr;
    {
        std::lock_guard<std::mutex> lock(ContextLock());
        subscription = FSubscription;
    }
    if (subscription && FEnabled != value) {
        OCIError* err = OCIErrorHandle();
        const sword status = value ? SubscriptionEnable()(subscription, err, OCI_DEFAULT)
                                   : SubscriptionDisable()(subscription, err, OCI_DEFAULT);
        CheckOCIStatus(status, OCIUnicode, err);
    }
    FEnabled = value;
}

void TOCIChangeNotification::SetOnChange(TChangeNotifyEvent handler) {
    std::lock_guard<std::mutex> lock(ContextLock());
    FOnChange = std::move(handler);
}

bool TOCIChangeNotification::IsRegistered() const {
    std::lock_guard<std::mutex> lock(ContextLock());
    return FSubscription != nullptr;
}

OCISubscription* TOCIChangeNotification::GetSubscriptionHandle(TOCIConnection* connection) {
    if (!IsRegistered()) Register(connection);
    std::lock_guard<std::mutex> lock(ContextLock());
    return FSubscription;
}

void TOCIChangeNotification::Register(TOCIConnection* connection) {
    if (OCIVersion < 10200) connection->RaiseError("OCI 10.2 or greater is needed for change notification");
    if (connection->GetOracleVersion() < 10200)
        connection->RaiseError("Change notification is supported starting with Oracle 10.2");
    OCIError* err = connection->GetErrorHandle();
    void* handle = nullptr;
    connection->Check(
        OCIHandleAlloc(connection->GetEnvironment(), &handle, OCI_HTYPE_SUBSCRIPTION, 0, nullptr));
    try {
        auto set = [&](void* value, ub4 size, ub4 attr) {
            connection->Check(OCIAttrSet(handle, OCI_HTYPE_SUBSCRIPTION, value, size, attr, err));
        };
        ub4 nameSpace = OCI_SUBSCR_NAMESPACE_DBCHANGE;
        set(&nameSpace, sizeof nameSpace, OCI_ATTR_SUBSCR_NAMESPACE);
        set(reinterpret_cast<void*>(&TOCIChangeNotification::Callback), 0, OCI_ATTR_SUBSCR_CALLBACK);
        ub4 rowids = 1;
        set(&rowids, sizeof rowids, OCI_ATTR_CHNF_ROWIDS);
        if (FOperations.Empty())
            throw rtl::Exception("Operations for change notification subscription cannot be empty set");
        ub4 operations = OpcodesOfDMLOperations(FOperations);
        set(&operations, sizeof operations, OCI_ATTR_CHNF_OPERATIONS);
        set(reinterpret_cast<void*>(ContextHandle()), 0, OCI_ATTR_SUBSCR_CTX);
        ub4 timeout = static_cast<ub4>(FTimeOut);
        set(&timeout, sizeof timeout, OCI_ATTR_SUBSCR_TIMEOUT);
        ub4 qos = FPersistent ? OCI_SUBSCR_QOS_RELIABLE : 0;
        set(&qos, sizeof qos, OCI_ATTR_SUBSCR_QOSFLAGS);
        {
            std::lock_guard<std::mutex> lock(ContextLock());
            FWindow = UtilityWindow();
        }
        auto* subscription = static_cast<OCISubscription*>(handle);
        connection->Check(
            SubscriptionRegister()(connection->GetSvcCtx(), &subscription, 1, err, OCI_DEFAULT));
    } catch (...) {
        OCIHandleFree(handle, OCI_HTYPE_SUBSCRIPTION);
        throw;
    }
    std::lock_guard<std::mutex> lock(ContextLock());
    FSubscription = static_cast<OCISubscription*>(handle);
}

OCISubscription* TOCIChangeNotification::TakeSubscription() {
    std::lock_guard<std::mutex> lock(ContextLock());
    OCISubscription* subscription = FSubscription;
    FSubscription = nullptr;
    return subscription;
}

void TOCIChangeNotification::Unregister(TOCIConnection* connection) {
    OCISubscription* subscription = TakeSubscription();
    if (!subscription) return;
    // The server's answer does not matter: the handle goes either way.
    SubscriptionUnRegister()(connection->GetSvcCtx(), subscription, connection->GetErrorHandle(),
                             OCI_DEFAULT);
    OCIHandleFree(subscription, OCI_HTYPE_SUBSCRIPTION);
}

ub4 TOCIChangeNotification::Callback(void* context, OCISubscription*, void*, ub4*, void* descriptor, ub4) {
    try {
        std::lock_guard<std::mutex> lock(ContextLock());
        auto it = Contexts().find(reinterpret_cast<uintptr_t>(context));
        if (it != Contexts().end()) it->second->Notify(descriptor);
    } catch (...) {
        // Nothing can be reported from the client library's thread; the notification is lost.
    }
    return 0;
}

// On the callback thread, under the context lock.
void TOCIChangeNotification::Notify(void* descriptor) {
    auto change = std::make_unique<TNotifyChange>(descriptor);
    if (change->NotifyType == cneDereg && FSubscription) {
        OCIHandleFree(FSubscription, OCI_HTYPE_SUBSCRIPTION);
        FSubscription = nullptr;
    }
    if (!FOnChange) return;
    const auto self = reinterpret_cast<rtl::WPARAM>(static_cast<TUtilityMessageTarget*>(this));
    if (!rtl::PostMessage(FWindow, WM_CHANGENOTIFY, self, reinterpret_cast<rtl::LPARAM>(change.get())))
        return;
    FPending.push_back(change.release());
}

void TOCIChangeNotification::HandleUtilityMessage(rtl::UINT msg, rtl::LPARAM lParam) {
    if (msg != WM_CHANGENOTIFY) return;
    auto* posted = reinterpret_cast<TNotifyChange*>(lParam);
    TChangeNotifyEvent handler;
    {
        std::lock_guard<std::mutex> lock(ContextLock());
        auto it = std::find(FPending.begin(), FPending.end(), posted);
        if (it == FPending.end()) return;
        FPending.erase(it);
        handler = FOnChange;
    }
    std::unique_ptr<TNotifyChange> change(posted);
    if (handler) handler(change->NotifyType, change->TableChanges.get());
}

}  // namespace dac
