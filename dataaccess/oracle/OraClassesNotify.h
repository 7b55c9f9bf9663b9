// Database change notification: the subscription of one connection and the decoded notifications.
//
// TOCIChangeNotification registers an OCI subscription on first use; the client library calls
// back on a thread of its own, where the notification is decoded into a TNotifyChange and posted
// to the utility window of the thread that registered (WM_CHANGENOTIFY). OnChange runs there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

enum TChangeNotifyEventType : uint8_t {
    cneNone = 0,
    cneStartup = 1,
    cneShutdown = 2,
    cneShutdownAny = 3,
    cneDropDB = 4,
    cneDereg = 5,
    cneObjChange = 6
};

enum TChangeNotifyOperation : uint8_t { cnoInsert, cnoUpdate, cnoDelete, cnoAllRows, cnoAlter, cnoDrop };

// A set of operations in one byte, bit n for ordinal n.
class TChangeNotifyOperations {
public:
    constexpr TChangeNotifyOperations() = default;
    constexpr TChangeNotifyOperations(std::initializer_list<TChangeNotifyOperation> ops) {
        for (auto op : ops) bits_ |= Bit(op);
    }
    static constexpr TChangeNotifyOperations FromByte(uint8_t bits) {
        TChangeNotifyOperations s;
        s.bits_ = bits & 0x3F;
        return s;
    }
    constexpr uint8_t Byte() const { return bits_; }
    constexpr bool Contains(TChangeNotifyOperation op) const { return (bits_ & Bit(op)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    void Include(TChangeNotifyOperation op) { bits_ |= Bit(op); }
    constexpr bool operator==(const TChangeNotifyOperations&) const = default;

private:
    static constexpr uint8_t Bit(TChangeNotifyOperation op) { return static_cast<uint8_t>(1u << op); }
    uint8_t bits_ = 0;
};
// The DML members only (insert, update, delete).
using TChangeNotifyDMLOperations = TChangeNotifyOperations;
inline constexpr TChangeNotifyDMLOperations AllDMLOperations{cnoInsert, cnoUpdate, cnoDelete};

// The operations of an OCI opcode word (2 insert, 4 update, 8 delete, 1 all rows, 16 alter, 32 drop).
TChangeNotifyOperations OperationsOfOpcodes(ub4 opcodes);
// The OCI_ATTR_CHNF_OPERATIONS value: 0 for all three DML operations, else their opcodes summed.
ub4 OpcodesOfDMLOperations(TChangeNotifyDMLOperations operations);

// A list of owned entries read from an OCI collection of descriptor pointers.
class TCustomNotifyChanges : public rtl::TObject {
public:
    int Count() const { return static_cast<int>(FItems.size()); }

protected:
    TCustomNotifyChanges() = default;
    // Reads every element of the collection through CreateItem.
    void ReadCollection(void* collection);
    virtual std::unique_ptr<rtl::TObject> CreateItem(void* descriptor) = 0;
    std::vector<std::unique_ptr<rtl::TObject>> FItems;
};

class TNotifyRowChange : public rtl::TObject {
public:
    TNotifyRowChange() = default;
    explicit TNotifyRowChange(void* descriptor);
    AnsiString RowId;
    TChangeNotifyOperations Operations;
};

class TNotifyRowChanges : public TCustomNotifyChanges {
public:
    TNotifyRowChanges() = default;
    explicit TNotifyRowChanges(void* collection) { ReadCollection(collection); }
    TNotifyRowChange* Items(int index) const {
        return static_cast<TNotifyRowChange*>(FItems.at(index).get());
    }
    TNotifyRowChange* Add(std::unique_ptr<TNotifyRowChange> item);

protected:
    std::unique_ptr<rtl::TObject> CreateItem(void* descriptor) override;
};

class TNotifyTableChange : public rtl::TObject {
public:
    TNotifyTableChange() = default;
    explicit TNotifyTableChange(void* descriptor);
    AnsiString TableName;  // SCHEMA.TABLE
    TChangeNotifyOperations Operations;
    std::unique_ptr<TNotifyRowChanges> RowChanges;  // none when cnoAllRows is set
};

class TNotifyTableChanges : public TCustomNotifyChanges {
public:
    TNotifyTableChanges() = default;
    explicit TNotifyTableChanges(void* collection) { ReadCollection(collection); }
    TNotifyTableChange* Items(int index) const {
        return static_cast<TNotifyTableChange*>(FItems.at(index).get());
    }
    TNotifyTableChange* Add(std::unique_ptr<TNotifyTableChange> item);

protected:
    std::unique_ptr<rtl::TObject> CreateItem(void* descriptor) override;
};

// One notification.
class TNotifyChange : public rtl::TObject {
public:
    explicit TNotifyChange(void* descriptor);
    TChangeNotifyEventType NotifyType = cneNone;
    std::unique_ptr<TNotifyTableChanges> TableChanges;  // only for cneObjChange
};

using TChangeNotifyEvent =
    std::function<void(TChangeNotifyEventType notifyType, TNotifyTableChanges* tableChanges)>;

// One subscription. Register, Unregister and the setters belong to the owning thread; the
// callback thread only looks the object up by its context handle, decodes and posts.
class TOCIChangeNotification : public rtl::TObject, public TUtilityMessageTarget {
public:
    TOCIChangeNotification();
    // Frees the context handle first, so that no callback finds the object any more; a
    // registration left behind is freed, and notifications not yet delivered are dropped.
    ~TOCIChangeNotification() override;

    bool SetProp(int prop, const rtl::Variant& value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    bool Persistent() const { return FPersistent; }
    int32_t TimeOut() const { return FTimeOut; }
    TChangeNotifyDMLOperations Operations() const { return FOperations; }
    // Assigned by the owning component; called on the thread that registered.
    void SetOnChange(TChangeNotifyEvent handler);

    OCISubscription* GetSubscriptionHandle(TOCIConnection* connection);
    void Register(TOCIConnection* connection);
    void Unregister(TOCIConnection* connection);
    bool IsRegistered() const;

    // The callback the client library is given.
    static ub4 Callback(void* context, OCISubscription* subscription, void* payload, ub4* payloadLength,
                        void* descriptor, ub4 mode);

    void HandleUtilityMessage(rtl::UINT msg, rtl::LPARAM lParam) override;

private:
    uintptr_t ContextHandle();
    void Notify(void* descriptor);
    OCISubscription* TakeSubscription();

    uintptr_t FContext = 0;
    bool FEnabled = true;
    bool FPersistent = false;
    int32_t FTimeOut = 0;
    TChangeNotifyDMLOperations FOperations = AllDMLOperations;
    TChangeNotifyEvent FOnChange;
    OCISubscription* FSubscription = nullptr;
    rtl::HWND FWindow = 0;
    std::vector<TNotifyChange*> FPending;  // posted, not yet delivered
};

}  // namespace dac
