// The change-notification component, the datasets' link to it, and applying reports to rows.
#include "dataaccess/components/OraNotify.h"

#include <algorithm>

#include "dataaccess/components/Ora.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TOraChangeNotification

TOraChangeNotification::TOraChangeNotification(rtl::TComponent* owner)
    : rtl::TComponent(owner), driver_(std::make_unique<TOCIChangeNotification>()) {
    driver_->SetOnChange(
        [this](TChangeNotifyEventType type, TNotifyTableChanges* changes) { DoChange(type, changes); });
}

TOraChangeNotification::~TOraChangeNotification() {
    if (driver_->IsRegistered() && session_) {
        try {
            Unregister();
        } catch (...) {
            // The driver object frees what is left of the registration.
        }
    }
    SetSession(nullptr);
    while (!dataSets_.empty()) dataSets_.back()->SetChangeNotification(nullptr);
    driver_.reset();
}

void TOraChangeNotification::SetEnabled(bool value) {
    enabled_ = value;
    driver_->SetProp(prCNEnabled, rtl::Variant(value));
}

void TOraChangeNotification::SetPersistent(bool value) {
    persistent_ = value;
    driver_->SetProp(prCNPersistent, rtl::Variant(value));
}

void TOraChangeNotification::SetTimeOut(int32_t value) {
    timeOut_ = value;
    driver_->SetProp(prCNTimeOut, rtl::Variant(value));
}

void TOraChangeNotification::SetOperations(TChangeNotifyDMLOperations value) {
    operations_ = value;
    driver_->SetProp(prCNOperations, rtl::Variant(static_cast<int32_t>(value.Byte())));
}

void TOraChangeNotification::Unregister(TOraSession* session) {
    TOraSession* used = session ? session : session_;
    if (!used) rtl::DatabaseError("Session is not defined", this);
    used->InternalConnect();
    try {
        driver_->Unregister(used->OCIConnection());
    } catch (...) {
        used->InternalDisconnect();
        throw;
    }
    used->InternalDisconnect();
}

void TOraChangeNotification::SetSession(TOraSession* value) {
    if (session_) {
        auto& list = session_->ChangeNotifications();
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    session_ = value;
    if (session_) session_->ChangeNotifications().push_back(this);
}

void TOraChangeNotification::AddDataSet(TOraDataSet* dataSet) {
    if (std::find(dataSets_.begin(), dataSets_.end(), dataSet) == dataSets_.end())
        dataSets_.push_back(dataSet);
}

void TOraChangeNotification::RemoveDataSet(TOraDataSet* dataSet) {
    dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), dataSet), dataSets_.end());
}

void TOraChangeNotification::DoChange(TChangeNotifyEventType notifyType, TNotifyTableChanges* tableChanges) {
    if (OnChange) OnChange(this, notifyType, tableChanges);
    if (notifyType != cneObjChange || !tableChanges) return;
    // A handler may unlink datasets; the list is taken as it is now.
    for (TOraDataSet* dataSet : std::vector<TOraDataSet*>(dataSets_))
        if (dataSet->Active() && dataSet->Options().ReflectChangeNotify)
            dataSet->ReflectChanges(tableChanges);
}

// ---------------------------------------------------------------------------------------------
// TOraDataSet: the link and applying reports

void TOraDataSet::SetSession(TOraSession* value) {
    SetConnection(value);
    if (changeNotification_) changeNotification_->SetSession(value);
}

void TOraDataSet::SetChangeNotification(TOraChangeNotification* value) {
    if (changeNotification_) changeNotification_->RemoveDataSet(this);
    changeNotification_ = value;
    auto* command = dynamic_cast<TOCICommand*>(GetICommand());
    if (value) {
        if (command) command->ChangeNotification = value->GetIChangeNotification();
        value->SetSession(Session());
        value->AddDataSet(this);
    } else if (command) {
        command->ChangeNotification = nullptr;
    }
}

namespace {

// The name a report gives a table of the dataset's statement: SCHEMA.TABLE in upper case.
AnsiString ReportedTableName(TCRTableInfo* table, TOraSession* session) {
    AnsiString name = rtl::UpperCase(OCISQLInfo().NormalizeName(table->TableName(), false, true));
    if (name.find('.') == AnsiString::npos)
        name = rtl::UpperCase(session ? session->GetCachedSchema() : "") + "." + name;
    return name;
}

TNotifyTableChange* FindTableChange(TNotifyTableChanges* changes, const AnsiString& name) {
    for (int i = 0; i < changes->Count(); ++i)
        if (changes->Items(i)->TableName == name) return changes->Items(i);
    return nullptr;
}

}  // namespace

bool TOraDataSet::ReReadChangedRecord(bool appendNew, const AnsiString& rowId) {
    if (appendNew) {
        auto* store = dynamic_cast<TMemData*>(GetIRecordSet());
        TFieldDesc* rowIdField = DataSetService() ? DataSetService()->IdentityField() : nullptr;
        if (!store || !rowIdField) return false;
        // A new record that holds only the ROWID; the re-read below fills it.
        struct Buffer {
            TMemData* store;
            void* data;
            ~Buffer() { store->FreeRecBuf(data); }
        } buffer{store, store->AllocRecBuf()};
        store->InitRecord(buffer.data);
        if (store->HasComplexFields()) store->CreateComplexFields(buffer.data, true);
        store->PutFieldAsVariant(rowIdField->FieldNo, buffer.data, rtl::Variant(rowId));
        // The server has the row already: it joins the store as read, not as a change to apply.
        struct Local {
            TMemData* store;
            bool saved;
            ~Local() { store->LocalUpdate = saved; }
        } local{store, store->LocalUpdate};
        store->LocalUpdate = true;
        store->SetToEnd();
        store->InsertItemRecord(buffer.data);
        Resync({});
        if (!Locate("ROWID", rtl::Variant(rowId), {})) return false;
    }
    RefreshRecord();
    return true;
}

void TOraDataSet::ReflectChanges(TNotifyTableChanges* tableChanges) {
    TCRRecordSet* recordSet = GetIRecordSetCR();
    if (!tableChanges || !recordSet) return;
    TCRTableInfo* updating = DataSetService() ? DataSetService()->GetUpdatingTableInfo() : nullptr;
    TNotifyTableChange* change = nullptr;
    TCRTablesInfo& tables = recordSet->TablesInfo();
    for (int i = 0; i < tables.Count(); ++i) {
        TNotifyTableChange* found = FindTableChange(tableChanges, ReportedTableName(tables[i], Session()));
        if (updating && tables[i] == updating) {
            if (!change) change = found;
            continue;
        }
        if (found) {
            Refresh();
            return;
        }
    }
    if (!change) return;
    if (change->Operations.Contains(cnoAllRows) || !change->RowChanges) {
        Refresh();
        return;
    }
    if (State() == db::dsEdit || State() == db::dsInsert) Cancel();
    const db::TBookmark saved = GetBookmark();
    TData* store = GetIRecordSet();
    bool refreshAll = false;
    for (int i = 0; i < change->RowChanges->Count(); ++i) {
        TNotifyRowChange* row = change->RowChanges->Items(i);
        const bool found = Locate("ROWID", rtl::Variant(row->RowId), {});
        bool unmodified = false;
        if (found) {
            const db::TBookmark current = GetBookmark();
            store->SetToBookmark(current.data());
            unmodified = store->GetUpdateStatus() == ItemUnmodified;
        }
        const TChangeNotifyOperations ops = row->Operations;
        if (ops.Contains(cnoDelete)) {
            // Removed from memory only: the server has done the deletion.
            if (found && unmodified) store->RemoveRecord();
            Resync({});
        } else if (ops.Contains(cnoInsert) && !found) {
            refreshAll |= !ReReadChangedRecord(true, row->RowId);
        } else if ((ops.Contains(cnoInsert) || ops.Contains(cnoUpdate)) && found && unmodified) {
            refreshAll |= !ReReadChangedRecord(false, row->RowId);
        }
    }
    if (!IsEmpty() && !saved.empty() && BookmarkValid(saved))
        GotoBookmark(saved);
    else
        First();
    if (refreshAll) Refresh();
}

}  // namespace dac
