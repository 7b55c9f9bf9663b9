// Sessions, stored procedures, queries and cursor procedures over the Oracle client layer.
#include "common/oci/uOciDataAccess.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "dataaccess/core/MemDS.h"
#include "dataaccess/oracle/OraClasses.h"
#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Numbers.h"

namespace svc {

using dac::AnsiString;
using dac::TOCICommand;
using dac::TOCIConnection;
using dac::TOraParamDesc;

bool IsLostConnectionCode(int code) {
    switch (code) {
        case 28:     // your session has been killed
        case 1012:   // not logged on
        case 1033:   // initialization or shutdown in progress
        case 1034:   // ORACLE not available
        case 1089:   // immediate shutdown in progress
        case 2396:   // exceeded maximum idle time
        case 3113:   // end-of-file on communication channel
        case 3114:   // not connected to ORACLE
        case 3135:   // connection lost contact
        case 12152:  // unable to send break message
        case 12170:  // connect timeout
        case 12203:  // unable to connect to destination
        case 12514:  // listener does not know of service
        case 12528:  // all instances are blocking new connections
        case 12537:  // connection closed
        case 12541:  // no listener
        case 12547:  // lost contact
        case 12560:  // protocol adapter error
        case 12571:  // packet writer failure
            return true;
        default:
            return false;
    }
}

namespace {

// The client library loads and initialises once per process; two threads connecting first at the
// same moment must not both do it.
std::mutex& ConnectLock() {
    static std::mutex lock;
    return lock;
}

const dac::EOraError* AsOraError(const std::exception& error) {
    return dynamic_cast<const dac::EOraError*>(&error);
}

TOciSession& OciSession(TDataSession* session) {
    if (!session) throw rtl::EDatabaseError("No database session is set");
    auto* oci = dynamic_cast<TOciSession*>(session);
    if (!oci) throw rtl::EDatabaseError("The database session is no Oracle session");
    return *oci;
}

// ---------------------------------------------------------------------------------------------
// Parameters

uint16_t OraDataType(db::TFieldType type) {
    switch (type) {
        case db::ftString:
        case db::ftFixedChar:
        case db::ftWideString:
        case db::ftMemo:
            return dac::dtString;
        case db::ftSmallint:
        case db::ftInteger:
        case db::ftWord:
        case db::ftAutoInc:
            return dac::dtInteger;
        case db::ftLargeint:
            return dac::dtLargeint;
        case db::ftFloat:
        case db::ftCurrency:
        case db::ftBCD:
        case db::ftFMTBcd:
            return dac::dtFloat;
        case db::ftDate:
        case db::ftTime:
        case db::ftDateTime:
            return dac::dtDateTime;
        case db::ftBoolean:
            return dac::dtBoolean;
        case db::ftCursor:
            return dac::dtCursor;
        default:
            throw rtl::EDatabaseError("Parameter data type " + rtl::IntToStr(type) + " is not supported");
    }
}

uint8_t OraParamType(db::TParamType type) {
    switch (type) {
        case db::ptInput:
            return dac::ptInput;
        case db::ptOutput:
            return dac::ptOutput;
        case db::ptInputOutput:
            return dac::ptInputOutput;
        case db::ptResult:
            return dac::ptOutput;  // a function's value comes back through its output bind
        default:
            return dac::ptInput;
    }
}

bool SendsValue(db::TParamType type) {
    return type == db::ptInput || type == db::ptInputOutput || type == db::ptUnknown;
}

bool TakesValue(db::TParamType type) {
    return type == db::ptOutput || type == db::ptInputOutput || type == db::ptResult;
}

// The bind room of a text: a declared size holds; an output without one gets the longest
// VARCHAR2 PL/SQL hands out; an input is never cut to fit.
int32_t TextSize(const db::TParam& param) {
    int32_t size = param.Size();
    if (size <= 0 && TakesValue(param.ParamType())) size = 4000;
    if (SendsValue(param.ParamType()) && !param.IsNull())
        size = std::max<int32_t>(size, static_cast<int32_t>(param.AsString().size()));
    return std::max<int32_t>(size, 1);
}

// Adds the parameters to the command in their order, with the caller's values.
void BindDeclared(TOCICommand& command, db::TParams& params) {
    for (int i = 0; i < params.Count(); ++i) {
        db::TParam& p = *params[i];
        auto* desc = static_cast<TOraParamDesc*>(command.AddParam());
        desc->SetName(p.Name());
        const uint16_t type = OraDataType(p.DataType());
        desc->SetParamType(OraParamType(p.ParamType()));
        desc->SetDataType(type);
        if (p.ParamType() == db::ptResult) desc->SetIsResult(true);
        if (type == dac::dtString) desc->SetSize(TextSize(p));
        if (type == dac::dtCursor || !SendsValue(p.ParamType()) || p.IsNull()) {
            if (type != dac::dtCursor) desc->SetNull(true);
            continue;
        }
        switch (type) {
            case dac::dtString:
                desc->SetValue(rtl::Variant(AnsiString(p.AsString())));
                break;
            case dac::dtInteger:
                desc->SetValue(rtl::Variant(p.AsInteger()));
                break;
            case dac::dtLargeint:
                desc->SetValue(rtl::Variant(p.AsLargeInt()));
                break;
            case dac::dtFloat:
                desc->SetValue(rtl::Variant(p.AsFloat()));
                break;
            case dac::dtDateTime:
                desc->SetItemAsDateTime(1, p.AsDateTime());
                break;
            case dac::dtBoolean:
                desc->SetValue(rtl::Variant(p.AsBoolean()));
                break;
            default:
                break;
        }
    }
}

// Output values back into the caller's parameters after the call.
void ReadOutputs(TOCICommand& command, db::TParams& params) {
    for (int i = 0; i < params.Count() && i < command.GetParamCount(); ++i) {
        db::TParam& p = *params[i];
        if (!TakesValue(p.ParamType()) || p.DataType() == db::ftCursor) continue;
        TOraParamDesc* desc = command.GetParam(i);
        if (desc->GetNull()) {
            p.Clear();
            continue;
        }
        switch (desc->GetDataType()) {
            case dac::dtString:
                p.SetAsString(desc->GetItemAsString(1));
                break;
            case dac::dtInteger:
                p.SetAsInteger(desc->GetItemAsInteger(1));
                break;
            case dac::dtLargeint:
                p.SetAsLargeInt(desc->GetItemAsLargeInt(1));
                break;
            case dac::dtFloat:
                p.SetAsFloat(desc->GetItemAsFloat(1));
                break;
            case dac::dtDateTime:
                p.SetAsDateTime(desc->GetItemAsDateTime(1));
                break;
            case dac::dtBoolean:
                p.SetAsBoolean(desc->GetItemAsBoolean(1));
                break;
            default:
                break;
        }
    }
}

// A command for one call: the parameter list is the caller's, never rebuilt from the text.
std::unique_ptr<TOCICommand> NewCommand(TOciSession& session) {
    auto command = std::make_unique<TOCICommand>();
    command->SetConnection(&session.Connection());
    command->SetProp(dac::prParamCheck, false);
    return command;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Rows into a memory dataset

// The statement behind a dataset: runs it on a fresh command and leaves the command on the rows
// (its own cursor for a query, the REF CURSOR parameter for a procedure).
using TOpenStatement = std::function<void(TOCICommand& command)>;

// Record storage filled from the command's describe and block fetches. The storage keeps
// integers, floats, dates and texts; every NUMBER the describe does not make an integer arrives as
// a float.
class TOciRecordSet : public dac::TCRRecordSet {
public:
    TOciRecordSet() {
        FFetchRows = OciFetchBlock;
        FLongStrings = true;
        FFlatBuffers = true;
    }
    ~TOciRecordSet() override {
        try {
            Close();
        } catch (...) {
        }
    }

    TOpenStatement OpenStatement;
    TOciSession* Session = nullptr;
    void SetFetchAll(bool value) { FFetchAll = value; }

    void CreateCommand() override { SetCommand(new TOCICommand()); }

    void ExecCommand() override {
        FFetchCancel = false;
        FCommandType = ctCursor;
        columns_.clear();
        // A fresh command per run: nothing of the previous statement or cursor stays bound.
        FreeCommand();
        SetCommand(NewCommand(*Session).release());
        auto& command = static_cast<TOCICommand&>(*GetCommand());
        Session->Run([&] {
            OpenStatement(command);
            Define(command);
        });
    }

    void InternalInitFields() override {
        for (const auto& column : columns_) {
            dac::TFieldDesc* d = GetFieldDescType().Create();
            d->Name = column->field.Name;
            d->ActualName = column->field.Name;
            d->DataType = column->storageType;
            d->Length = column->storageType == dac::dtString ? column->field.Length : 0;
            d->Scale = column->field.Scale;
            d->Size = dac::DataTypeSize(d->DataType, d->Length);
            d->FieldNo = static_cast<uint16_t>(Fields().Count() + 1);
            Fields().Add(d);
        }
    }

    bool Fetch(bool) override {
        auto& command = static_cast<TOCICommand&>(*GetCommand());
        if (columns_.empty() || command.GetCursorState() < dac::csExecuted ||
            command.GetCursorState() == dac::csFetched)
            return false;
        bool cancel = false;
        DoBeforeFetch(cancel);
        if (cancel) return false;
        int fetched = 0;
        Session->Run([&] { fetched = command.Fetch(static_cast<ub4>(block_)); });
        dac::PItemHeader first = nullptr;
        for (int r = 0; r < fetched; ++r) {
            void* rec = AllocRecBuf();
            InitRecord(rec);
            try {
                for (size_t c = 0; c < columns_.size(); ++c) {
                    const rtl::Variant value = Value(*columns_[c], r);
                    // The value as the database sent it, already of its column's scale.
                    if (!value.IsNull()) PutFieldAsVariant(static_cast<int>(c) + 1, rec, value, true);
                }
            } catch (...) {
                FreeRecBuf(rec);
                throw;
            }
            dac::PItemHeader item;
            BlockManager().AllocItem(item);
            LinkItem(item);
            BlockManager().PutItemRecord(item, rec);
            FreeRecBuf(rec);
            if (!first) first = item;
        }
        if (first) ReorderItems(first, false, false);
        DoAfterFetch();
        return fetched > 0;
    }

private:
    struct TColumn {
        dac::TOCIFieldDesc field;
        uint16_t storageType = 0;
        ub4 stride = 0;
        std::vector<uint8_t> values;
        std::vector<int16_t> indicators;
    };

    static uint16_t StorageType(const dac::TFieldDesc& field) {
        switch (field.DataType) {
            case dac::dtString:
            case dac::dtFixedChar:
                return dac::dtString;
            case dac::dtSmallint:
            case dac::dtInteger:
                return dac::dtInteger;
            case dac::dtFloat:
            case dac::dtLargeint:
            case dac::dtNumber:
            case dac::dtBCD:
            case dac::dtFmtBcd:
                return dac::dtFloat;
            case dac::dtDateTime:
                return dac::dtDateTime;
            default:
                throw rtl::EDatabaseError("Column " + field.Name + ": its data type (" +
                                          rtl::IntToStr(field.DataType) + ") cannot be read into a dataset");
        }
    }

    void Define(TOCICommand& command) {
        block_ = FFetchRows > 0 ? FFetchRows : OciFetchBlock;
        for (int i = 1;; ++i) {
            auto column = std::make_unique<TColumn>();
            if (!command.DescribeField(i, column->field, true, true)) break;
            column->storageType = StorageType(column->field);
            column->stride = TOCICommand::DefineBufferSize(column->field);
            column->values.assign(static_cast<size_t>(column->stride) * static_cast<size_t>(block_), 0);
            column->indicators.assign(static_cast<size_t>(block_), 0);
            command.DefineArrayData(column->field, column->values.data(), sizeof(int16_t), column->stride,
                                    column->indicators.data());
            columns_.push_back(std::move(column));
        }
    }

    rtl::Variant Value(const TColumn& c, int row) const {
        if (c.indicators[static_cast<size_t>(row)] == -1) return rtl::Variant::MakeNull();
        const uint8_t* p = c.values.data() + static_cast<size_t>(row) * c.stride;
        switch (c.field.DataType) {
            case dac::dtString:
            case dac::dtFixedChar:
                return rtl::Variant(AnsiString(reinterpret_cast<const char*>(p),
                                               strnlen(reinterpret_cast<const char*>(p), c.stride)));
            case dac::dtSmallint: {
                int16_t v;
                std::memcpy(&v, p, sizeof v);
                return rtl::Variant(static_cast<int32_t>(v));
            }
            case dac::dtInteger: {
                int32_t v;
                std::memcpy(&v, p, sizeof v);
                return rtl::Variant(v);
            }
            case dac::dtFloat: {
                double v;
                std::memcpy(&v, p, sizeof v);
                return rtl::Variant(v);
            }
            case dac::dtDateTime:
                return rtl::Variant::FromDateTime(dac::OraDateToDateTime(p));
            default: {  // NUMBER in Oracle's own form
                OCINumber number;
                std::memcpy(&number, p, sizeof number);
                double v = 0;
                Session->Connection().Check(
                    dac::OCINumberToReal(dac::OCIErrorHandle(), &number, sizeof v, &v));
                return rtl::Variant(v);
            }
        }
    }

    int block_ = OciFetchBlock;
    std::vector<std::unique_ptr<TColumn>> columns_;
};

// The dataset the services read: read-only rows of one statement.
class TOciDataSet : public dac::TMemDataSet {
public:
    TOciDataSet() { CreateIRecordSet(); }
    ~TOciDataSet() override {
        try {
            Close();
        } catch (...) {
        }
    }
    void CreateIRecordSet() override { SetIRecordSet(new TOciRecordSet()); }
    TOciRecordSet& RecordSet() { return *static_cast<TOciRecordSet*>(GetIRecordSet()); }

    // Opens on the session; errors raise after the session has seen them.
    db::TDataSet& OpenOn(TOciSession& session, TOpenStatement statement, bool fetchAll) {
        Close();
        RecordSet().Session = &session;
        RecordSet().OpenStatement = std::move(statement);
        RecordSet().SetFetchAll(fetchAll);
        Open();
        First();
        return *this;
    }
};

// ---------------------------------------------------------------------------------------------
// Components

class TOciStoredProc : public TStoredProc {
public:
    explicit TOciStoredProc(const TStoredProcDecl& decl) : decl_(decl) {
        CreateDeclaredParams(decl_, params_);
    }

    const TStoredProcDecl& Declaration() const override { return decl_; }
    void SetSession(TDataSession* session) override { session_ = session; }
    db::TParams& Params() override { return params_; }

    void ExecProc() override {
        TOciSession& session = OciSession(session_);
        if (!decl_.SQL.empty()) {
            if (sql_.empty()) sql_ = JoinLines(decl_.SQL);
            session.Run([&] {
                session.ExecPrepared(
                    sql_, [&](TOCICommand& command) { BindDeclared(command, params_); },
                    [&](TOCICommand& command) { ReadOutputs(command, params_); });
            });
            return;
        }
        session.Run([&] {
            std::unique_ptr<TOCICommand> command = NewCommand(session);
            BindDeclared(*command, params_);
            if (decl_.SQL.empty()) {
                AnsiString sql;
                command->CreateProcCall(decl_.StoredProcName, false, sql);
            } else {
                command->SetSQLText(JoinLines(decl_.SQL));
            }
            command->Execute();
            ReadOutputs(*command, params_);
        });
    }

private:
    TStoredProcDecl decl_;
    std::string sql_;  // the block, once joined
    db::TParams params_;
    TDataSession* session_ = nullptr;
};

class TOciQuery : public TDataQuery {
public:
    explicit TOciQuery(const TQueryDecl& decl) : decl_(decl) {}

    const TQueryDecl& Declaration() const override { return decl_; }
    void SetSession(TDataSession* session) override { session_ = session; }
    bool Active() const override { return data_.Active(); }
    db::TDataSet& Open() override {
        TOciSession& session = OciSession(session_);
        const std::string sql = decl_.SQL;
        return data_.OpenOn(
            session,
            [sql](TOCICommand& command) {
                command.SetSQLText(sql);
                command.Prepare();
                command.BindParams();
                command.Exec();
            },
            false);
    }
    void Close() override { data_.Close(); }

private:
    TQueryDecl decl_;
    TDataSession* session_ = nullptr;
    TOciDataSet data_;
};

class TOciCursorProc : public TCursorProc {
public:
    explicit TOciCursorProc(const TCursorProcDecl& decl) : decl_(decl) {
        if (decl_.DeclareParams) decl_.DeclareParams(params_);
    }

    void SetSession(TDataSession* session) override { session_ = session; }
    TDataSession* Session() const override { return session_; }
    db::TParams& Params() override { return params_; }
    std::string ProcName() const override { return decl_.StoredProcName; }
    void Close() override { data_.Close(); }

    db::TDataSet& Execute() override {
        TOciSession& session = OciSession(session_);
        return data_.OpenOn(
            session,
            [this](TOCICommand& command) {
                BindDeclared(command, params_);
                AnsiString sql;
                command.CreateProcCall(decl_.StoredProcName, false, sql);
                command.Prepare();
                command.BindParams();
                command.Exec();
                ReadOutputs(command, params_);
                dac::TOraCursor* cursor = nullptr;
                for (int i = 0; i < command.GetParamCount() && !cursor; ++i)
                    if (command.GetParam(i)->GetDataType() == dac::dtCursor)
                        cursor = command.GetParam(i)->GetAsCursor();
                if (!cursor) throw rtl::EDatabaseError(decl_.StoredProcName + " has no cursor parameter");
                command.SetCursor(cursor);
            },
            decl_.FetchAll);
    }

private:
    TCursorProcDecl decl_;
    db::TParams params_;
    TDataSession* session_ = nullptr;
    TOciDataSet data_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TOciSession

TOciSession::TOciSession() : connection_(std::make_unique<TOCIConnection>()) {}

TOciSession::~TOciSession() {
    DropPrepared();
    try {
        connection_->Disconnect();
    } catch (...) {
    }
}

bool TOciSession::Connected() const {
    return connection_->GetConnected();
}

TOCIConnection& TOciSession::Connection() {
    if (!connection_->GetConnected()) throw rtl::EDatabaseError("Not connected to the database");
    return *connection_;
}

void TOciSession::Failed(const std::exception& error) {
    const dac::EOraError* ora = AsOraError(error);
    // An error of the client side (no client library, say) has no Oracle number: it is reported
    // with 0, so that a failed connect is journalled with its reason all the same.
    if (onError_) {
        const auto* own = dynamic_cast<const rtl::Exception*>(&error);
        onError_(ora ? ora->ErrorCode : 0, own ? own->Message() : std::string(error.what()));
    }
    if (ora && IsLostConnectionCode(ora->ErrorCode) && connection_->GetConnected()) {
        inTransaction_ = false;
        DropPrepared();
        try {
            connection_->Disconnect();
        } catch (...) {
            // the server is gone: ending its session cannot succeed
        }
    }
}

void TOciSession::Connect() {
    if (Connected()) return;
    Run([&] {
        std::lock_guard<std::mutex> hold(ConnectLock());
        if (home_ >= 1 && home_ <= dac::OracleHomeCount)
            connection_->SetProp(dac::prHomeName, rtl::Variant(dac::OracleHomes[home_ - 1].Name));
        connection_->SetUsername(username_);
        connection_->SetPassword(password_);
        connection_->SetServer(server_);
        connection_->SetProp(dac::prSchema, rtl::Variant(AnsiString(schema_)));
        connection_->SetProp(dac::prAutoCommit, rtl::Variant(true));
        connection_->Connect(AnsiString());
    });
    inTransaction_ = false;
}

void TOciSession::Disconnect() {
    inTransaction_ = false;
    DropPrepared();
    Run([&] { connection_->Disconnect(); });
}

void TOciSession::ExecPrepared(const std::string& sql, const std::function<void(TOCICommand&)>& bind,
                               const std::function<void(TOCICommand&)>& read) {
    TOCIConnection& connection = Connection();
    std::unique_ptr<TOCICommand>& kept = prepared_[sql];
    if (kept && (kept->GetConnection() != &connection || !kept->GetPrepared())) kept.reset();
    try {
        if (kept) {
            kept->Params().Clear();
            bind(*kept);
        } else {
            std::unique_ptr<TOCICommand> command = NewCommand(*this);
            bind(*command);
            command->SetSQLText(sql);
            command->Prepare();
            kept = std::move(command);
        }
        kept->Execute();
        read(*kept);
    } catch (...) {
        prepared_.erase(sql);
        throw;
    }
}

void TOciSession::DropPrepared() {
    prepared_.clear();
}

void TOciSession::StartTransaction() {
    if (inTransaction_) throw rtl::EDatabaseError("A transaction is already in progress");
    Connection();
    connection_->SetProp(dac::prAutoCommit, rtl::Variant(false));
    inTransaction_ = true;
}

void TOciSession::EndTransaction(bool commit) {
    TOCIConnection& connection = Connection();
    struct TBackToAutoCommit {
        TOciSession& s;
        ~TBackToAutoCommit() {
            s.inTransaction_ = false;
            s.connection_->SetProp(dac::prAutoCommit, rtl::Variant(true));
        }
    } backToAutoCommit{*this};
    Run([&] {
        connection.Lock();
        sword status;
        try {
            status =
                commit
                    ? dac::OCITransCommit(connection.GetSvcCtx(), connection.GetErrorHandle(), OCI_DEFAULT)
                    : dac::OCITransRollback(connection.GetSvcCtx(), connection.GetErrorHandle(), OCI_DEFAULT);
        } catch (...) {
            connection.Release();
            throw;
        }
        connection.Release();
        connection.Check(status);
    });
}

void TOciSession::Commit() {
    EndTransaction(true);
}

void TOciSession::Rollback() {
    EndTransaction(false);
}

void TOciSession::ExecSQL(const std::string& sql) {
    Run([&] {
        std::unique_ptr<TOCICommand> command = NewCommand(*this);
        command->SetSQLText(sql);
        command->Execute();
    });
}

void TOciSession::Savepoint(const std::string& name) {
    ExecSQL("SAVEPOINT " + dac::CheckedOraIdentifier(name, "savepoint name"));
}

void TOciSession::RollbackToSavepoint(const std::string& name) {
    ExecSQL("ROLLBACK TO SAVEPOINT " + dac::CheckedOraIdentifier(name, "savepoint name"));
}

// ---------------------------------------------------------------------------------------------
// TOciDataAccess

TOciDataAccess::~TOciDataAccess() {
    try {
        if (TOCIConnection::ActiveConnectionCount() == 0) dac::FreeOCI();
    } catch (...) {
    }
}

std::unique_ptr<TConnectionSession> TOciDataAccess::CreateSession() {
    return std::make_unique<TOciSession>();
}

std::unique_ptr<TCursorProc> TOciDataAccess::CreateCursorProc(const TCursorProcDecl& decl) {
    return std::make_unique<TOciCursorProc>(decl);
}

std::unique_ptr<TStoredProc> TOciDataAccess::CreateStoredProc(const TStoredProcDecl& decl) {
    return std::make_unique<TOciStoredProc>(decl);
}

std::unique_ptr<TDataQuery> TOciDataAccess::CreateQuery(const TQueryDecl& decl) {
    return std::make_unique<TOciQuery>(decl);
}

bool TOciDataAccess::IsLostConnection(const std::exception& error) const {
    const dac::EOraError* ora = AsOraError(error);
    return ora && IsLostConnectionCode(ora->ErrorCode);
}

}  // namespace svc
