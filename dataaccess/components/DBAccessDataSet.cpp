// TCustomDADataSet: the SQL dataset over a driver record set. Opening, executing, fetching and
// closing run with the connection's checks, counted uses and failover retries around them.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// Pops the failover operation pushed for the lifetime of the object.
class OperationScope {
public:
    OperationScope(TCustomDAConnection* c, TConnLostCause cause, bool allow) : c_(c) {
        if (c_) c_->PushOperation(cause, allow);
    }
    ~OperationScope() {
        if (c_) c_->PopOperation();
    }
    OperationScope(const OperationScope&) = delete;
    OperationScope& operator=(const OperationScope&) = delete;

private:
    TCustomDAConnection* c_;
};

// Restores a flag when the scope ends.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
    ~FlagScope() { flag_ = saved_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool saved_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TCustomDADataSet::TCustomDADataSet(rtl::TComponent* owner) : TMemDataSet(owner) {
    dataLink_ = std::make_unique<TDADetailDataLink>(this);
    for (int kind = stInsert; kind <= stRefresh; ++kind) {
        updateSQL_[kind] = std::make_unique<rtl::TStringList>();
        updateSQL_[kind]->OnChange = [this](rtl::TObject*) { ScanMacros(); };
    }
}

void TCustomDADataSet::Construct() {
    internalSQL_ = CreateInternalSQL();
    internalSQL_->dataSet_ = this;
    internalSQL_->MacroScanText = [this] {
        AnsiString text = internalSQL_->SQL().Text();
        for (int kind = stInsert; kind <= stRefresh; ++kind) text += updateSQL_[kind]->Text();
        return text;
    };
    internalSQL_->BeforeSQLChange = [this] {
        if (rebuildingCall_ || loading_ || !FIRecordSet) return;
        Close();
        UnPrepare();
    };
    options_ = CreateOptions();
    CreateIRecordSet();
}

TCustomDADataSet::~TCustomDADataSet() {
    Destroying();
    try {
        Close();
    } catch (...) {
    }
    try {
        UnPrepare();
    } catch (...) {
    }
    NotifyDestroyed(connection_, this);
    if (registeredWith_) registeredWith_->UnRegisterClient(this);
    registeredWith_ = nullptr;
    SetUpdateObject(nullptr);
    if (transaction_) transaction_->RemoveFreeNotification(this);
    if (updateTransaction_) updateTransaction_->RemoveFreeNotification(this);
    if (internalSQL_) {
        internalSQL_->UseCommand(nullptr);
        internalSQL_->BeforeSQLChange = nullptr;
        internalSQL_->MacroScanText = nullptr;
    }
    internalSQL_.reset();
    dataLink_.reset();
    detailTimer_.reset();
    for (auto& list : updateSQL_)
        if (list) list->OnChange = nullptr;
    if (command_) command_->OnAfterExecute = nullptr;
    if (recordSetCR_) {
        recordSetCR_->OnBeforeFetch = nullptr;
        recordSetCR_->OnAfterFetch = nullptr;
    }
    // The options go last: the base's close reaches nothing of them.
}

std::unique_ptr<TDADataSetOptions> TCustomDADataSet::CreateOptions() {
    return std::make_unique<TDADataSetOptions>(this);
}

void TCustomDADataSet::SetActive(bool value) {
    if (loading_ && !ComponentState().Contains(rtl::csDesigning)) {
        TCustomDAConnection* c = UsedConnection();
        if (c && !c->Options().KeepDesignConnected()) return;
    }
    TMemDataSet::SetActive(value);
}

void TCustomDADataSet::Loaded() {
    FlagScope loading(loading_, true);
    TMemDataSet::Loaded();
}

void TCustomDADataSet::Notification(rtl::TComponent* component, rtl::TOperation operation) {
    TMemDataSet::Notification(component, operation);
    if (operation != rtl::opRemove) return;
    if (component == transaction_) transaction_ = nullptr;
    if (component == updateTransaction_) updateTransaction_ = nullptr;
    if (component == updateObject_) updateObject_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Connection

TCustomDAConnection* TCustomDADataSet::UsedConnection() {
    return connection_;
}

TDATransaction* TCustomDADataSet::UsedTransaction() {
    TCustomDAConnection* c = UsedConnection();
    if (!c) return nullptr;
    if (c->IsMultipleTransactionsSupported() && transaction_) return transaction_;
    return c->UsedTransaction();
}

TDATransaction* TCustomDADataSet::UsedUpdateTransaction() {
    TCustomDAConnection* c = UsedConnection();
    if (c && c->IsMultipleTransactionsSupported() && updateTransaction_) return updateTransaction_;
    return UsedTransaction();
}

void TCustomDADataSet::SetTransaction(TDATransaction* value) {
    if (value == transaction_) return;
    if (transaction_) transaction_->RemoveFreeNotification(this);
    transaction_ = value;
    if (value) value->FreeNotification(this);
}

void TCustomDADataSet::SetUpdateTransaction(TDATransaction* value) {
    if (value == updateTransaction_) return;
    if (updateTransaction_) updateTransaction_->RemoveFreeNotification(this);
    updateTransaction_ = value;
    if (value) value->FreeNotification(this);
}

void TCustomDADataSet::SetConnection(TCustomDAConnection* value) {
    if (value == connection_) return;
    Disconnect(true);
    if (registeredWith_) registeredWith_->UnRegisterClient(this);
    registeredWith_ = nullptr;
    connection_ = value;
    if (value) {
        value->RegisterClient(this, [this](bool connecting) { ConnectChange(connecting); });
        registeredWith_ = value;
    }
    if (recordSetCR_) recordSetCR_->SetConnection(value ? value->GetIConnection() : nullptr);
    DataEvent(db::dePropertyChange, 0);
}

void TCustomDADataSet::BeginConnection(bool force) {
    TCustomDAConnection* c = UsedConnection();
    if (!c) rtl::DatabaseError("Connection is not defined", this);
    c->ConnectForUse(force);
    try {
        TDATransaction* t = UsedTransaction();
        if (!t) rtl::DatabaseError("Transaction not assigned", this);
        CheckIRecordSet();
        CheckDataSetService();
        if (registeredWith_ != c) {
            if (registeredWith_) registeredWith_->UnRegisterClient(this);
            c->RegisterClient(this, [this](bool connecting) { ConnectChange(connecting); });
            registeredWith_ = c;
        }
        if (recordSetCR_) {
            if (recordSetCR_->GetCommand()->GetConnection() != c->GetIConnection())
                recordSetCR_->SetConnection(c->GetIConnection());
            t->CheckITransaction();
            recordSetCR_->SetTransaction(t->GetITransaction());
        }
    } catch (...) {
        if (force) c->InternalDisconnect();
        throw;
    }
}

void TCustomDADataSet::EndConnection() {
    if (TCustomDAConnection* c = UsedConnection()) c->InternalDisconnect();
}

void TCustomDADataSet::Disconnect(bool close) {
    if (close) {
        Close();
        UnPrepare();
        if (!ComponentState().Contains(rtl::csDestroying)) FieldDefs().SetUpdated(false);
    } else if (recordSetCR_) {
        recordSetCR_->Disconnect();
    }
    if (internalSQL_) Params().DisconnectObjects();
}

void TCustomDADataSet::ConnectChange(bool connecting) {
    TCustomDAConnection* c = UsedConnection();
    if (!connecting) {
        // Uses end with the connection: the counts went with it.
        openUse_ = prepareUse_ = executeUse_ = false;
        Disconnect(!(c && c->Options().DisconnectedMode()));
    }
}

// ---------------------------------------------------------------------------------------------
// Record set and service

void TCustomDADataSet::SetIRecordSet(TData* recordSet) {
    TMemDataSet::SetIRecordSet(recordSet);
    recordSetCR_ = dynamic_cast<TCRRecordSet*>(recordSet);
    command_ = recordSetCR_ ? recordSetCR_->GetCommand() : nullptr;
    if (!recordSetCR_) {
        if (internalSQL_) internalSQL_->UseCommand(nullptr);
        return;
    }
    recordSetCR_->SetProp(prUniDirectional, uniDirectional_);
    recordSetCR_->SetProp(prFetchRows, fetchRows_);
    recordSetCR_->SetProp(prFetchAll, fetchAll_);
    recordSetCR_->SetProp(prDataSetReadOnly, readOnly_);
    if (options_) {
        recordSetCR_->SetProp(prLongStrings, options_->LongStrings());
        recordSetCR_->SetProp(prFlatBuffers, options_->FlatBuffers());
        recordSetCR_->TrimFixedChar = options_->TrimFixedChar();
        recordSetCR_->TrimVarChar = options_->TrimVarChar();
        command_->SetProp(prQuoteNames, options_->QuoteNames());
        recordSetCR_->SetProp(prCompressBlobMode, static_cast<int>(options_->CompressBlobMode()));
        recordSetCR_->SetProp(prDefaultValues, options_->DefaultValues());
        recordSetCR_->SetProp(prFieldsOrigin, options_->FieldsOrigin());
        recordSetCR_->SetProp(prExtendedFieldsInfo, options_->ExtendedFieldsInfo());
        command_->SetProp(prEnableBCD, options_->EnableBCD());
        command_->SetProp(prEnableFMTBCD, options_->EnableFMTBCD());
    }
    command_->SetProp(prAutoCommit, autoCommit_);
    if (TCustomDAConnection* c = UsedConnection())
        if (c->GetIConnection()) recordSetCR_->SetConnection(c->GetIConnection());
    recordSetCR_->OnBeforeFetch = [this](bool& cancel) { DoBeforeFetch(cancel); };
    recordSetCR_->OnAfterFetch = [this] { DoAfterFetch(); };
    command_->OnAfterExecute = [this](bool result) { DoAfterExecute(result); };
    recordSetCR_->SetComponent(this);
    if (internalSQL_) internalSQL_->UseCommand(command_);
}

void TCustomDADataSet::CheckIRecordSet() {
    if (!FIRecordSet) CreateIRecordSet();
}

void TCustomDADataSet::SetDataSetService(TDataSetService* service) {
    TMemDataSet::SetDataSetService(service);
    service_ = dynamic_cast<TDADataSetService*>(service);
}

// ---------------------------------------------------------------------------------------------
// Uses of the connection

void TCustomDADataSet::TakeUse(bool& held) {
    BeginConnection(true);
    if (held)
        EndConnection();
    else
        held = true;
}

void TCustomDADataSet::ReleaseUse(bool& held) {
    if (!held) return;
    held = false;
    EndConnection();
}

// ---------------------------------------------------------------------------------------------
// Statements

bool TCustomDADataSet::IsQuery() {
    return recordSetCR_ && recordSetCR_->IsQuery();
}

bool TCustomDADataSet::IsExecuting() {
    rtl::Variant v;
    return command_ && command_->GetProp(prExecuting, v) && v.AsBoolean();
}

bool TCustomDADataSet::Fetched() {
    if (!command_) return false;
    const TCursorState state = command_->GetCursorState();
    return state >= csFetched || (Active() && state == csInactive);
}

void TCustomDADataSet::WriteParams() {
    if (!command_) return;
    internalSQL_->WriteParams(true);
}

void TCustomDADataSet::RecreateProcCall() {
    const AnsiString name = internalSQL_->StoredProcName();
    if (name.empty() || !command_) return;
    const AnsiString oldSQL = command_->SQL();
    AnsiString newSQL;
    command_->CreateProcCall(name, false, newSQL);
    if (command_->SQL() == oldSQL) return;
    const bool wasPrepared = IsPrepared();
    if (wasPrepared) UnPrepare();
    {
        FlagScope rebuilding(rebuildingCall_, true);
        FlagScope locked(internalSQL_->lockSQLChange_, true);
        const bool isQuery = internalSQL_->StoredProcIsQuery;
        internalSQL_->SQL().SetText(newSQL);
        // The text follows the block; it still stands for the procedure.
        internalSQL_->SetStoredProcName(name);
        internalSQL_->StoredProcIsQuery = isQuery;
    }
    if (wasPrepared) Prepare();
}

void TCustomDADataSet::CreateProcCall(const AnsiString& name, bool needDescribe, bool isQuery) {
    if (name.empty()) rtl::DatabaseError("StoredProcName must be defined", this);
    BeginConnection(true);
    try {
        AnsiString text;
        if (needDescribe) {
            command_->CreateProcCall(name, true, text);
            internalSQL_->CreateParams();
        } else {
            internalSQL_->WriteParams(false);
            command_->CreateProcCall(name, false, text);
        }
        FlagScope rebuilding(rebuildingCall_, true);
        FlagScope locked(internalSQL_->lockSQLChange_, true);
        internalSQL_->SQL().SetText(text);
    } catch (...) {
        EndConnection();
        throw;
    }
    EndConnection();
    internalSQL_->StoredProcIsQuery = isQuery;
    internalSQL_->SetStoredProcName(name);
}

void TCustomDADataSet::Prepare() {
    if (IsPrepared() || Active()) return;
    TakeUse(prepareUse_);
    try {
        if (db::TDataSource* m = MasterSource())
            if (m->DataSet() && m->DataSet()->Active() && !options_->LocalMasterDetail())
                SetMasterParams(Params());
        if (!nested_) NotifyDataSet(this, "Prepare", true, monitorEventIDs_[0]);
        internalSQL_->WriteParams(service_ && service_->NeedParamValuesOnPrepare());
        TMemDataSet::Prepare();
    } catch (...) {
        ReleaseUse(prepareUse_);
        throw;
    }
    if (!nested_) NotifyDataSet(this, "Prepare", false, monitorEventIDs_[0]);
    if (!IsPrepared()) ReleaseUse(prepareUse_);
}

void TCustomDADataSet::UnPrepare() {
    const bool report = IsPrepared() && !nested_;
    if (report) NotifyDataSet(this, "Unprepare", true, monitorEventIDs_[1]);
    struct EndReport {
        TCustomDADataSet* ds;
        bool on;
        ~EndReport() {
            if (on) NotifyDataSet(ds, "Unprepare", false, ds->monitorEventIDs_[1]);
        }
    } endReport{this, report};
    try {
        TMemDataSet::UnPrepare();
    } catch (...) {
        ReleaseUse(prepareUse_);
        if (recordSetCR_) recordSetCR_->TablesInfo().Clear();
        throw;
    }
    ReleaseUse(prepareUse_);
    if (recordSetCR_) recordSetCR_->TablesInfo().Clear();
}

void TCustomDADataSet::OpenCursor(bool infoQuery) {
    TCustomDAConnection* c = UsedConnection();
    OperationScope operation(c, clOpen, c && c->CanRestoreAfterFailover());
    TakeUse(openUse_);
    if (Active()) return;
    try {
        for (;;) {
            try {
                BeforeOpenCursor(infoQuery);
                if (db::TDataSource* m = MasterSource())
                    if (m->DataSet() && m->DataSet()->Active() && !options_->LocalMasterDetail())
                        SetMasterParams(Params());
                localLinksValid_ = false;
                if (FIRecordSet)
                    FIRecordSet->OnLocalFilter =
                        options_->LocalMasterDetail() && HasMasterDetailLink()
                            ? TOnRecordFilter([this](void* recBuf) { return LocalMDFilter(recBuf); })
                            : nullptr;
                recordCount_ = ((!fetchAll_ || nonBlocking_) && options_->QueryRecCount && service_)
                                   ? service_->GetRecordCount()
                                   : 0;
                WriteParams();
                RecreateProcCall();
                TMemDataSet::OpenCursor(infoQuery);
            } catch (const EFailOver& e) {
                if (e.ConnLostCause != clOpen || !c) throw;
                c->ResumeAfterFailover();
                continue;
            }
            break;
        }
    } catch (...) {
        ReleaseUse(openUse_);
        throw;
    }
    rtl::Variant known;
    if (command_ && command_->GetProp(prRowsProcessedKnown, known) && known.AsBoolean())
        rowsAffected_ = internalSQL_->RowsProcessed();
    else
        rowsAffected_ = -1;
    AfterOpenCursor(infoQuery);
}

void TCustomDADataSet::InternalOpen() {
    if (options_->AutoPrepare()) Prepare();
    if (!nested_) NotifyDataSet(this, "Open", true, monitorEventIDs_[2]);
    BeginConnection(true);
    try {
        TMemDataSet::InternalOpen();
        if (service_) service_->AfterFieldsCreated();
    } catch (...) {
        EndConnection();
        if (!nested_) NotifyDataSet(this, "Open", false, monitorEventIDs_[2]);
        throw;
    }
    EndConnection();
    if (!nested_) NotifyDataSet(this, "Open", false, monitorEventIDs_[2]);
}

void TCustomDADataSet::DoAfterOpen() {
    psKeyFields_.clear();
    psTableName_ = PSGetTableName();
    TMemDataSet::DoAfterOpen();
}

void TCustomDADataSet::InternalClose() {
    std::exception_ptr pending;
    try {
        TMemDataSet::InternalClose();
    } catch (const EDAError& e) {
        if (!e.IsFatalError()) pending = std::current_exception();
    } catch (...) {
        pending = std::current_exception();
    }
    if (!IsPrepared()) {
        if (recordSetCR_) recordSetCR_->TablesInfo().Clear();
        if (service_) service_->CloseCursor();
    }
    if (pending) std::rethrow_exception(pending);
}

void TCustomDADataSet::CloseCursor() {
    if (detailTimer_) detailTimer_->SetEnabled(false);
    std::exception_ptr pending;
    try {
        TMemDataSet::CloseCursor();
    } catch (...) {
        pending = std::current_exception();
    }
    if (!ComponentState().Contains(rtl::csDestroying)) FieldDefs().SetUpdated(false);
    ReleaseUse(openUse_);
    if (pending) std::rethrow_exception(pending);
}

void TCustomDADataSet::Execute() {
    TCustomDAConnection* c = UsedConnection();
    OperationScope operation(c, clExecute, true);
    if (IsExecuting()) return;
    TakeUse(executeUse_);
    try {
        if (Active()) Close();
        for (;;) {
            try {
                DoBeforeExecute();
                if (options_->AutoPrepare()) Prepare();
                if (IsQuery()) {
                    Open();
                    break;
                }
                if (db::TDataSource* m = MasterSource())
                    if (m->DataSet() && m->DataSet()->Active()) SetMasterParams(Params());
                WriteParams();
                RecreateProcCall();
                int monitorID = 0;
                if (!nested_) NotifyDataSet(this, "", true, monitorID);
                {
                    FlagScope nested(nested_, true);
                    InternalExecute();
                }
                if (!nested_) NotifyDataSet(this, "", false, monitorID);
                if (IsQuery()) Open();
            } catch (const EFailOver& e) {
                if (e.ConnLostCause != clExecute || !c) throw;
                c->ResumeAfterFailover();
                continue;
            }
            break;
        }
    } catch (...) {
        ReleaseUse(executeUse_);
        throw;
    }
    ReleaseUse(executeUse_);
}

void TCustomDADataSet::InternalExecute() {
    recordSetCR_->ExecCommand();
}

void TCustomDADataSet::DoBeforeExecute() {
    if (BeforeExecute) BeforeExecute(this);
}

void TCustomDADataSet::DoAfterExecute(bool result) {
    TCustomDAConnection* c = UsedConnection();
    const bool query = IsQuery();
    if (result) {
        internalSQL_->ReadParams();
        rowsAffected_ = internalSQL_->RowsProcessed();
        rtl::Variant id;
        if (!query && c && c->GetIConnection() && c->GetIConnection()->GetProp(prLastInsertId, id) &&
            !id.IsEmpty() && !id.IsNull())
            lastInsertId_ = id.AsInt64();
    }
    if (!query && c && c->Options().DisconnectedMode() && c->GetConnected())
        c->DetectInTransaction(!(c->AutoCommit() && autoCommit_));
    if (!result || !query) ReleaseUse(executeUse_);
    if (AfterExecute) AfterExecute(this, result);
}

void TCustomDADataSet::DoBeforeFetch(bool& cancel) {
    if (BeforeFetch) BeforeFetch(this, cancel);
    pendingResync_ = cancel;
}

void TCustomDADataSet::DoAfterFetch() {
    if (AfterFetch && (!fetchAll_ || (command_ && command_->GetCursorState() == csFetched))) AfterFetch(this);
    if (recordSetCR_ && recordSetCR_->CanDisconnect()) ReleaseUse(openUse_);
}

void TCustomDADataSet::DoAfterScroll() {
    if (pendingResync_) {
        pendingResync_ = false;
        Resync({});
    }
    TMemDataSet::DoAfterScroll();
}

void TCustomDADataSet::SaveState(TSavedState& state, bool force) {
    state.active = Active();
    state.debug = debug_;
    state.fetchAll = fetchAll_;
    state.fetchRows = fetchRows_;
    if (!force && !state.active) return;
    try {
        debug_ = false;
        SetFetchAll(false);
        Close();
        SetFetchRows(1);
        Execute();
    } catch (...) {
        RestoreState(state, true);
        throw;
    }
}

void TCustomDADataSet::RestoreState(const TSavedState& state, bool reopen) {
    debug_ = state.debug;
    SetFetchAll(state.fetchAll);
    if (!reopen) return;
    Close();
    if (fetchRows_ != state.fetchRows) SetFetchRows(state.fetchRows);
    SetActive(state.active);
}

void TCustomDADataSet::DataReopen() {
    if (command_ && recordSetCR_ && !recordSetCR_->NeedFullReopen() &&
        command_->GetCursorState() > csPrepared)
        command_->SetCursorState(csPrepared);
    TMemDataSet::DataReopen();
}

TCRCursor* TCustomDADataSet::GetCursor() {
    return command_ ? command_->GetCursor() : nullptr;
}

void TCustomDADataSet::SetCursor(TCRCursor* value) {
    if (command_ && command_->GetCursor() == value) return;
    BeginConnection(false);
    Close();
    UnPrepare();
    FieldDefs().SetUpdated(false);
    CheckIRecordSet();
    command_->SetCursor(value);
}

void TCustomDADataSet::ResetSQL() {
    internalSQL_->SQLChanged();
    UnPrepare();
}

// ---------------------------------------------------------------------------------------------
// SQL text, parameters and macros

rtl::TStringList& TCustomDADataSet::SQL() {
    return internalSQL_->SQL();
}

void TCustomDADataSet::SetSQL(rtl::TStrings* value) {
    internalSQL_->SetSQL(value);
}

TDAParams& TCustomDADataSet::Params() {
    return internalSQL_->Params();
}

void TCustomDADataSet::SetParams(TDAParams* value) {
    internalSQL_->Params().Assign(value);
}

TDAParam* TCustomDADataSet::FindParam(const std::string& name) {
    return Params().FindParam(name);
}

TDAParam* TCustomDADataSet::ParamByName(const std::string& name) {
    return Params().ParamByName(name);
}

TMacros& TCustomDADataSet::Macros() {
    return internalSQL_->Macros();
}

TMacro* TCustomDADataSet::MacroByName(const AnsiString& name) {
    return Macros().MacroByName(name);
}

bool TCustomDADataSet::ParamCheck() {
    return internalSQL_->ParamCheck();
}

void TCustomDADataSet::SetParamCheck(bool value) {
    internalSQL_->SetParamCheck(value);
}

rtl::TStringList& TCustomDADataSet::UpdateSQL(TStatementType kind) {
    rtl::Assert(kind >= stInsert && kind <= stRefresh, "Wrong statement type");
    return *updateSQL_[kind];
}

void TCustomDADataSet::SetUpdateSQL(TStatementType kind, rtl::TStrings* value) {
    rtl::TStringList& list = UpdateSQL(kind);
    list.BeginUpdate();
    try {
        list.Assign(value);
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

void TCustomDADataSet::ScanMacros() {
    if (internalSQL_) internalSQL_->ScanMacros();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TCustomDADataSet::SetFetchRows(int value) {
    if (value == fetchRows_) return;
    CheckInactive();
    if (value <= 0 || value > 10000) rtl::DatabaseError("FetchRows must be 1..10000", this);
    fetchRows_ = value;
    if (recordSetCR_) recordSetCR_->SetProp(prFetchRows, value);
}

void TCustomDADataSet::SetFetchAll(bool value) {
    fetchAll_ = value;
    if (recordSetCR_) recordSetCR_->SetProp(prFetchAll, value);
    if (!value) return;
    uniDirectional_ = false;
    if (recordSetCR_) recordSetCR_->SetProp(prUniDirectional, false);
    if (Active() && recordSetCR_) {
        recordSetCR_->FetchAll();
        Resync({});
    }
}

void TCustomDADataSet::SetUniDirectional(bool value) {
    if (value == uniDirectional_) return;
    CheckInactive();
    uniDirectional_ = value;
    if (recordSetCR_) recordSetCR_->SetProp(prUniDirectional, value);
    if (value) {
        fetchAll_ = false;
        if (recordSetCR_) recordSetCR_->SetProp(prFetchAll, false);
    }
}

void TCustomDADataSet::SetReadOnly(bool value) {
    if (value == readOnly_) return;
    if (recordSetCR_) recordSetCR_->SetProp(prDataSetReadOnly, value);
    readOnly_ = value;
}

void TCustomDADataSet::SetAutoCommit(bool value) {
    autoCommit_ = value;
    if (command_) command_->SetProp(prAutoCommit, value);
}

void TCustomDADataSet::SetKeyFields(const AnsiString& value) {
    if (value == keyFields_) return;
    keyFields_ = value;
    if (service_) service_->ClearKeyFieldsCache();
}

void TCustomDADataSet::SetUpdatingTable(const AnsiString& value) {
    if (value == updatingTable_) return;
    updatingTable_ = value;
    if (Active() && service_) service_->ResetUpdatingTable();
}

TDATimer* TCustomDADataSet::CheckDetailTimer() {
    if (!detailTimer_) {
        detailTimer_ = std::make_unique<TDATimer>();
        detailTimer_->SetOnTimer([this](rtl::TObject*) { RefreshDetail(); });
    }
    return detailTimer_.get();
}

// ---------------------------------------------------------------------------------------------
// Records and descriptors

int TCustomDADataSet::GetRecordCount() const {
    auto* self = const_cast<TCustomDADataSet*>(this);
    if (Active() && !self->Fetched() && options_->QueryRecCount && recordCount_ > 0 && recordSetCR_) {
        rtl::Variant fetched;
        self->recordSetCR_->GetProp(prRowsFetched, fetched);
        return recordCount_ - fetched.AsInteger() + recordSetCR_->GetRecordCount();
    }
    return TMemDataSet::GetRecordCount();
}

bool TCustomDADataSet::GetCanModify() const {
    auto* self = const_cast<TCustomDADataSet*>(this);
    if (!self->service_) return !readOnly_ && !uniDirectional_ && FLocalUpdate;
    return self->service_->CanModify();
}

TDataType TCustomDADataSet::GetDataType(const std::string& fieldName) {
    TFieldDesc* desc = FIRecordSet ? FIRecordSet->FindField(fieldName) : nullptr;
    if (!desc) throw rtl::Exception(rtl::Format("Field %s not found", {fieldName}));
    return desc->DataType;
}

TFieldDesc* TCustomDADataSet::GetFieldDesc(int fieldNo) {
    if (fieldNo < 1 || !FIRecordSet || fieldNo > FIRecordSet->Fields().Count()) return nullptr;
    return FIRecordSet->Fields()[fieldNo - 1];
}

db::TField* TCustomDADataSet::GetField(TFieldDesc* desc) {
    rtl::Assert(desc != nullptr, "Field description is not defined");
    for (db::TField* f : FieldList())
        if (f->FieldNo() == desc->FieldNo) return f;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Assignment

void TCustomDADataSet::AssignTo(rtl::TPersistent* dest) {
    TMemDataSet::AssignTo(dest);
    auto* d = dynamic_cast<TCustomDADataSet*>(dest);
    if (!d) return;
    d->SetConnection(connection_);
    d->SetTransaction(transaction_);
    d->SetUpdateTransaction(updateTransaction_);
    d->SetMasterSource(MasterSource());
    d->SetMasterFields(masterFields_);
    d->SetDetailFields(detailFields_);
    d->SetParamCheck(ParamCheck());
    d->SQL().SetText(SQL().Text());
    for (int kind = stInsert; kind <= stRefresh; ++kind)
        d->UpdateSQL(static_cast<TStatementType>(kind)).SetText(updateSQL_[kind]->Text());
    d->Macros().Assign(&Macros());
    d->Params().Assign(&Params());
    d->debug_ = debug_;
    d->SetFetchRows(fetchRows_);
    d->SetUniDirectional(uniDirectional_);
    d->SetAutoCommit(autoCommit_);
    d->refreshOptions_ = refreshOptions_;
    d->SetUpdatingTable(updatingTable_);
    d->SetKeyFields(keyFields_);
    d->lockMode_ = lockMode_;
    d->dmlRefresh_ = dmlRefresh_;
    d->options_->Assign(options_.get());
    d->internalSQL_->SetStoredProcName(internalSQL_->StoredProcName());
    d->internalSQL_->StoredProcIsQuery = internalSQL_->StoredProcIsQuery;
}

bool TCustomDADataSet::IsLostConnection(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const EDAError& error) {
        return error.IsFatalError();
    } catch (...) {
        return false;
    }
}

}  // namespace dac
