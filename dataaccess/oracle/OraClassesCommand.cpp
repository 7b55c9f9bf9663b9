// TOCICommand: the statement's life, preparing, executing (at once or on a worker) and options.
#include <set>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraParser.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

uint16_t SQLTypeOfStatementType(ub2 statementType) {
    switch (statementType) {
        case OCI_STMT_SELECT:
            return SQL_SELECT;
        case OCI_STMT_UPDATE:
            return SQL_UPDATE;
        case OCI_STMT_DELETE:
            return SQL_DELETE;
        case OCI_STMT_INSERT:
            return SQL_INSERT;
        case OCI_STMT_BEGIN:
        case OCI_STMT_DECLARE:
            return SQL_PLSQL;
        case 14:  // EXPLAIN PLAN
        case 15:
            return SQL_EXPLAIN;
        default:
            return SQL_UNKNOWN;
    }
}

// Case-blind set of parameter names.
struct TNameLess {
    bool operator()(const AnsiString& a, const AnsiString& b) const { return rtl::AnsiCompareText(a, b) < 0; }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TOCICommand::TOCICommand() {
    FOwnCursor = new TOraCursor();
    FCursor = FOwnCursor;
    FAutoCommit = true;
    FCallStyle = OCIDefaultCallStyle;
}

TOCICommand::~TOCICommand() {
    try {
        if (FExecThread && FOracleConnection)
            FOracleConnection->StopThread(FExecThread, true);
        else if (GetActive())
            InternalUnPrepare();
    } catch (...) {
        // A statement the client refuses to close goes with its session.
    }
    if (FCursor != FOwnCursor) FCursor->Free();
    FOwnCursor->Free();
}

void TOCICommand::RaiseError(const AnsiString& message) {
    throw rtl::Exception(message);
}

TSQLInfoClass TOCICommand::GetSQLInfoClass() {
    return TSQLInfoClass::Of<TOCISQLInfo>();
}

TSQLParserClass TOCICommand::GetParserClass() {
    return &CreateParserOf<TOraParser>;
}

TParamDescClass TOCICommand::GetParamDescClass() {
    return TParamDescClass::Of<TOraParamDesc>();
}

TParamDesc* TOCICommand::AddParam() {
    auto* param = static_cast<TOraParamDesc*>(TCRCommand::AddParam());
    param->Command = this;
    return param;
}

// ---------------------------------------------------------------------------------------------
// Guards and checks

void TOCICommand::CheckSession() {
    if (!FOracleConnection) RaiseError("Session is not defined");
    if (!FOracleConnection->GetConnected()) RaiseError("Session is not connected");
}

void TOCICommand::CheckActive() {
    if (GetCursorState() == csInactive) RaiseError("Cursor must be opened");
}

void TOCICommand::CheckOCI() {
    if (FCallStyle != ocsOCI7 && FCallStyle != ocsOCI8) RaiseError("OCI is not inizialized");
}

void TOCICommand::CheckOCI80() {
    CheckOCI();
    if (FCallStyle != ocsOCI8) RaiseError("Need Oracle 8 Call Interface");
}

void TOCICommand::Check(sword status) {
    if (status == OCI_SUCCESS) return;
    // A non-blocking run leaves the lost-connection dialogue to EndExecute on the owning thread.
    const TCursorState state = GetCursorState();
    const bool useProcessError =
        !(FNonBlocking && (FExecuting || state == csFetching || state == csFetchingAll));
    if (!FOracleConnection) {
        CheckOCIStatus(status, false, ErrorHandle());
        return;
    }
    FOracleConnection->OraError(FCallStyle, status, Component, useProcessError);
}

OCIError* TOCICommand::ErrorHandle() {
    // Each thread reads its own error handle: a worker's errors are its own.
    return FOracleConnection ? FOracleConnection->GetErrorHandle() : OCIErrorHandle();
}

OCISvcCtx* TOCICommand::SvcCtx() {
    return FOracleConnection->GetSvcCtx();
}

OCIStmt* TOCICommand::Statement() {
    return FCursor->GetHandle();
}

TCursorState TOCICommand::GetCursorState() {
    return FCursor->State;
}

void TOCICommand::SetCursorState(TCursorState value) {
    TStatementLock lock(*this);
    FCursor->State = value;
}

bool TOCICommand::GetPrepared() {
    return GetCursorState() > csParsed;
}

bool TOCICommand::IsCursorOpen() {
    return FSQLType == SQL_SELECT || (!IsOwnCursor() && GetCursorState() >= csExecuted);
}

TCRCursor* TOCICommand::GetCursor() {
    return FCursor;
}

// ---------------------------------------------------------------------------------------------
// Parameters in the SQL text

AnsiString TOCICommand::ParseSQL(const AnsiString& sql, TParamDescs* params, const AnsiString&) {
    if (!FParamCheck || !params) return sql;
    params->Clear();
    TOraParser parser(sql);
    parser.SkipBlanks = true;
    parser.SkipComments = true;
    parser.KeepQuotes = true;
    parser.UpperKeywords = false;  // a keyword used as a name keeps the case it was written in
    parser.DecimalChar = ".";
    parser.ToBegin();
    std::set<AnsiString, TNameLess> names;
    AnsiString lexem;
    int code = parser.GetNext(lexem);
    if (code == lxCREATE || code == lxTRIGGER) return sql;
    constexpr int colon = 3;
    while (code != lxEnd && code != lxTRIGGER) {
        if (code != colon) {
            code = parser.GetNext(lexem);
            continue;
        }
        code = parser.GetNext(lexem);
        if (code != lxIdent && code != lxNumber && code <= 99) continue;  // ":=" and the like
        AnsiString name = lexem;
        bool quoted = false;
        if (!name.empty() && name.front() == '"') {
            quoted = true;
            name.erase(0, 1);
            if (!name.empty() && name.back() == '"') name.pop_back();
        }
        if (names.insert(name).second) {
            auto* param = static_cast<TOraParamDesc*>(AddParam());
            if (params != &FParams) {
                FParams.Extract(param);
                params->Add(param);
            }
            param->SetName(name);
            param->QuotedName = quoted;
        }
        code = parser.GetNext(lexem);
    }
    return sql;
}

// ---------------------------------------------------------------------------------------------
// Line breaks

void NormalizeLineBreaks(const AnsiString& sql, int& errorPos, AnsiString& text) {
    // One character per step, each writing at most one: the count written before a character is
    // what the server's error offset counts.
    text.clear();
    text.reserve(sql.size());
    const size_t n = sql.size();
    enum { Code, String, QString, LineComment, BlockComment } state = Code;
    bool wrapped = false;
    size_t opened = 0;  // where the open literal or comment began
    char qClose = 0;
    auto wordAt = [&](size_t k, const char* word) {
        for (size_t j = 0; word[j]; ++j)
            if (k + j >= n || rtl::AnsiUpperChar(sql[k + j]) != word[j]) return false;
        return true;
    };
    for (size_t i = 0; i < n; ++i) {
        if (errorPos != -1 && static_cast<int>(text.size()) == errorPos) {
            errorPos = static_cast<int>(i);
            return;
        }
        const char c = sql[i];
        if (i + 1 == n) {
            text += c;  // the last character stays as it is
            break;
        }
        const char next = sql[i + 1];
        switch (state) {
            case String:
                if (c == '\'') state = Code;
                break;
            case QString:
                if (c == '\'' && i > opened + 2 && sql[i - 1] == qClose) state = Code;
                break;
            case LineComment:
                if (c == '\n' || c == '\r') state = Code;  // a CR line end becomes a LF as well
                break;
            case BlockComment:
                if (c == '/' && i > opened + 2 && sql[i - 1] == '*') state = Code;
                break;
            case Code:
                if (wrapped) break;
                if (c == '\'') {
                    opened = i;
                    if (i > 0 && (sql[i - 1] == 'q' || sql[i - 1] == 'Q')) {
                        const char open = next;
                        qClose = open == '('   ? ')'
                                 : open == '<' ? '>'
                                 : open == '[' ? ']'
                                 : open == '{' ? '}'
                                               : open;
                        state = QString;
                    } else {
                        state = String;
                    }
                } else if (c == '-' && next == '-') {
                    state = LineComment;
                } else if (c == '/' && next == '*') {
                    opened = i;
                    state = BlockComment;
                } else if (wordAt(i, "WRAPPED")) {
                    const char before = i == 0 ? '\n' : sql[i - 1];
                    const char after = i + 7 < n ? sql[i + 7] : '\0';
                    wrapped = (before == '\n' || before == ' ' || before == '/') &&
                              (after == '\r' || after == '\n' || after == ' ' || after == '/');
                }
                break;
        }
        const bool inLiteral = (state == String || state == QString) && i != opened;
        if (c == '\r' && !inLiteral) {
            if (next != '\n') text += '\n';  // CR LF: the LF is written by the next step
            continue;
        }
        text += c;
    }
    if (errorPos != -1 && static_cast<int>(text.size()) == errorPos) errorPos = static_cast<int>(n);
}

// ---------------------------------------------------------------------------------------------
// Prepare

void TOCICommand::Prepare() {
    CheckSession();
    if (GetCursorState() != csInactive) return;
    FCallStyle = FOracleConnection->GetStatementCallStyle();
    CheckOCI80();
    FRowsProcessed = 0;
    FErrorOffset = 0;
    FCursor->SetCallStyle(FCallStyle);
    FCursor->EnvironmentHandle = FOracleConnection->GetEnvironment();
    FCursor->ErrorHandle = ErrorHandle();
    FCursor->UnicodeEnvironment = FOracleConnection->UnicodeEnv();
    FCursor->AllocCursor(FOracleConnection->StatementCache() && FStatementCache);
    try {
        InternalPrepare8();
    } catch (...) {
        FCursor->FreeCursor();
        FCursor->State = csInactive;
        throw;
    }
    TCRCommand::Prepare();
}

void TOCICommand::InternalPrepare8() {
    CheckOCI80();
    CheckSession();
    for (int i = 0; i < GetParamCount(); ++i) GetParam(i)->ClearBindHandle();
    AnsiString text;
    int noErrorPos = -1;
    NormalizeLineBreaks(rtl::TrimRight(FParsedSQL), noErrorPos, text);
    if (text.empty()) text = " ";
    const bool unicode = FOracleConnection->UnicodeEnv();
    // 10.2 clients in UTF-16 misread a statement ending in "n".
    if (unicode && OCIVersion >= 10200 && OCIVersion <= 10999 && text.back() == 'n') text += ' ';
    TOCIText ociText(text, unicode);
    OCIError* err = ErrorHandle();
    TStatementLock statementLock(*this);
    TCallLock lock(FOracleConnection);
    if (FCursor->FromStatementCache()) {
        OCIStmt* handle = nullptr;
        Check(OCIStmtPrepare2(SvcCtx(), &handle, err, ociText.Ptr(), static_cast<ub4>(ociText.Size()),
                              nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT));
        FCursor->SetHandle(handle);
    } else {
        Check(OCIStmtPrepare(Statement(), err, ociText.Ptr(), static_cast<ub4>(ociText.Size()),
                             OCI_NTV_SYNTAX, OCI_DEFAULT));
    }
    ub2 statementType = 0;
    Check(OCIAttrGet(Statement(), OCI_HTYPE_STMT, &statementType, nullptr, OCI_ATTR_STMT_TYPE, err));
    FSQLType = SQLTypeOfStatementType(statementType);
    FLastSQLType = FSQLType;
    if (ChangeNotification && ChangeNotification->Enabled()) {
        OCISubscription* subscription = ChangeNotification->GetSubscriptionHandle(FOracleConnection);
        Check(OCIAttrSet(Statement(), OCI_HTYPE_STMT, subscription, 0, OCI_ATTR_CHNF_REGHANDLE, err));
    }
    FCursor->State = csPrepared;
}

void TOCICommand::UnPrepare() {
    if (GetActive()) InternalUnPrepare();
    TCRCommand::UnPrepare();
}

// ---------------------------------------------------------------------------------------------
// Execute

void TOCICommand::Execute(int iters) {
    if (GetCursorState() == csExecuting) return;
    FIters = iters;
    FExecuting = true;
    if (!FNonBlocking) {
        try {
            DoExecute();
        } catch (rtl::Exception& e) {
            EndExecute(&e);
            throw;
        }
        EndExecute(nullptr);
        return;
    }
    // A run refused here never started: it ends here, as any other failed run does.
    auto refuse = [this](const char* message) {
        FExecuting = false;
        if (OnAfterExecute) OnAfterExecute(false);
        RaiseError(message);
    };
    if (!FOracleConnection) refuse("Session is not defined");
    if (!FOracleConnection->ThreadSafety()) refuse("Session must be Thread Safety");
    rtl::Assert(FExecThread == nullptr, "OraClasses: an asynchronous run is still going");
    FExecThread = FOracleConnection->RunThread([this] { DoExecute(); },
                                               [this](rtl::Exception* error) { EndExecute(error); });
}

void TOCICommand::ExecuteOnThisThread(int iters) {
    FIters = iters;
    FExecuting = true;
    try {
        DoExecute();
    } catch (...) {
        FExecuting = false;
        if (OnAfterExecute) OnAfterExecute(false);
        throw;
    }
    FExecuting = false;
    if (OnAfterExecute) OnAfterExecute(true);
}

void TOCICommand::DoExecute() {
    const bool wasPrepared = GetPrepared();
    auto finish = [&] {
        if ((!wasPrepared || UnprepareAfterExecute) && GetActive()) InternalUnPrepare();
        UnprepareAfterExecute = false;
        FIters = 1;
    };
    try {
        if (!wasPrepared) Prepare();
        if (FSQLType != SQL_EXPLAIN) BindParams();
        Exec();
    } catch (...) {
        try {
            finish();
        } catch (...) {
            // The statement's own error is the one to report.
        }
        throw;
    }
    finish();
}

void TOCICommand::EndExecute(rtl::Exception* error) {
    if (FExecThread)
        FExecThread = nullptr;
    else if (FNonBlocking)
        return;  // a late call: the run was stopped
    FExecuting = false;
    if (OnAfterExecute) OnAfterExecute(error == nullptr);
    auto* oraError = dynamic_cast<EOraError*>(error);
    if (!FNonBlocking || !oraError || !FOracleConnection) return;
    bool fail = true;
    FOracleConnection->ProcessError(oraError, fail);
    if (!fail) throw rtl::EAbort();
}

void TOCICommand::Exec() {
    CheckOCI80();
    bool lobParam = false;
    for (int i = 0; i < GetParamCount(); ++i) {
        const TDataType type = GetParam(i)->GetDataType();
        if (type == dtOraBlob || type == dtOraClob || type == dtWideOraClob) lobParam = true;
    }
    const bool bothAutoCommit = FAutoCommit && FOracleConnection->AutoCommit();
    const bool commitOnSuccess =
        FSQLType != SQL_SELECT && bothAutoCommit && (FTemporaryLobUpdate || !lobParam);
    if (FTemporaryLobUpdate && lobParam) PrepareTemporaryLobs();
    ub4 mode = OCI_DEFAULT;
    if (FSQLType == SQL_SELECT && FCursor->Scrollable)
        mode = OCI_STMT_SCROLLABLE_READONLY;
    else if (commitOnSuccess)
        mode = OCI_COMMIT_ON_SUCCESS;
    sword status = InternalExecute(mode, 0);
    if (FGetRowIdAfterExecute)
        GetRowId(FRowId);
    else
        FRowId.clear();
    if (status == OCI_NEED_DATA) status = TransferPieces(status);
    if (status == OCI_SUCCESS && FRowsProcessed > 0) ReadBackParams();
    if (status == OCI_SUCCESS && FSQLType != SQL_SELECT && bothAutoCommit && !commitOnSuccess)
        FOracleConnection->GetInternalTransaction()->Commit();
}

sword TOCICommand::InternalExecute(ub4 mode, int iters) {
    CheckActive();
    CheckOCI80();
    TStatementLock statementLock(*this);
    const TCursorState oldState = FCursor->State;
    FCursor->State = csExecuting;
    OCIError* err = ErrorHandle();
    auto readOffset = [&] {
        // Clients before 8.0.5 have no parse error offset.
        if (OCIVersion < 8050 || FCursor->State == csInactive) return;
        ub2 offset = 0;
        const ub4 attribute = OCIVersion >= 8100 ? OCI_ATTR_PARSE_ERROR_OFFSET : OCI_ATTR_LTYPE;
        if (OCIAttrGet(Statement(), OCI_HTYPE_STMT, &offset, nullptr, attribute, err) == OCI_SUCCESS)
            FErrorOffset = offset;
    };
    sword status;
    try {
        TCallLock lock(FOracleConnection);
        const ub4 count = FSQLType == SQL_SELECT ? static_cast<ub4>(iters) : static_cast<ub4>(FIters);
        status = OCIStmtExecute(SvcCtx(), Statement(), err, count, 0, nullptr, nullptr, mode);
        RaiseCallbackError();  // a failed LONG callback is the cause of any error that follows
        // The error is read first: every later call clears it.
        if (status == OCI_SUCCESS_WITH_INFO) {
            Check(status);  // the info hook; ORA-24344 raises
            status = OCI_SUCCESS;
        } else if (status != OCI_SUCCESS && status != OCI_NEED_DATA &&
                   !(FSQLType == SQL_SELECT && status == OCI_NO_DATA)) {
            if (GetOraErrorCode(status, FOracleConnection->UnicodeEnv(), err) == 3123) {
                status = 3123;
            } else {
                Check(status);
            }
        }
        if (mode != OCI_DESCRIBE_ONLY) {
            ub4 rows = 0;
            Check(OCIAttrGet(Statement(), OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROW_COUNT, err));
            FRowsProcessed = static_cast<int32_t>(rows);
        }
        if (FSQLType == SQL_UNKNOWN) {
            ub2 functionCode = 0;
            Check(OCIAttrGet(Statement(), OCI_HTYPE_STMT, &functionCode, nullptr, OCI_ATTR_SQLFNCODE, err));
            FSQLType = functionCode;
            FLastSQLType = functionCode;
        }
    } catch (...) {
        if (FCursor->State != csInactive) {
            FCursor->State = oldState;
            try {
                TCallLock lock(FOracleConnection);
                ub4 rows = 0;
                if (OCIAttrGet(Statement(), OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROW_COUNT, err) ==
                    OCI_SUCCESS)
                    FRowsProcessed = static_cast<int32_t>(rows);
                readOffset();
            } catch (...) {
            }
        }
        throw;
    }
    if (mode == OCI_DESCRIBE_ONLY) {
        FCursor->State = oldState;
    } else if (status != 3123) {
        FCursor->State = csExecuted;
        for (int i = 0; i < GetParamCount(); ++i) {
            TOraParamDesc* param = GetParam(i);
            if (param->GetDataType() != dtCursor) continue;
            if (TOraCursor* cursor = param->GetAsCursor()) cursor->State = csExecuted;
        }
    }
    {
        TCallLock lock(FOracleConnection);
        readOffset();
    }
    FFetchedRows = 0;
    return status;
}

void TOCICommand::BreakExec() {
    if (GetActive() && FOracleConnection) FOracleConnection->BreakExec();
}

// ---------------------------------------------------------------------------------------------
// ROWID, cursors, connection

void TOCICommand::GetRowId(AnsiString& rowId) {
    if (!GetActive()) {
        rowId = FRowId;
        return;
    }
    CheckOCI80();
    OCIError* err = ErrorHandle();
    TCallLock lock(FOracleConnection);
    void* descriptor = nullptr;
    Check(OCIDescriptorAlloc(FOracleConnection->GetEnvironment(), &descriptor, OCI_DTYPE_ROWID, 0, nullptr));
    try {
        const sword status =
            OCIAttrGet(Statement(), OCI_HTYPE_STMT, descriptor, nullptr, OCI_ATTR_ROWID, err);
        if (status == OCI_NO_DATA) {
            rowId.clear();
        } else {
            Check(status);
            char buffer[4001] = {};
            ub2 length = 4000;
            Check(OCIRowidToChar(static_cast<OCIRowid*>(descriptor), reinterpret_cast<OraText*>(buffer),
                                 &length, err));
            rowId.assign(buffer, length);
        }
    } catch (...) {
        OCIDescriptorFree(descriptor, OCI_DTYPE_ROWID);
        throw;
    }
    OCIDescriptorFree(descriptor, OCI_DTYPE_ROWID);
}

void TOCICommand::SetCursor(TCRCursor* value) {
    if (value == FCursor) return;
    if (FCursor != FOwnCursor) FCursor->Free();
    auto* cursor = dynamic_cast<TOraCursor*>(value);
    rtl::Assert(value == nullptr || cursor != nullptr, "OraClasses: not an Oracle cursor");
    if (cursor && cursor != FOwnCursor) {
        FCursor = cursor;
        cursor->AddRef();
        FCallStyle = cursor->CallStyle;
        FFetchedRows = 0;
    } else {
        FCursor = FOwnCursor;
    }
}

TOraCursor* TOCICommand::GetNextCursor() {
    bool afterCurrent = false;
    for (int i = 0; i < GetParamCount(); ++i) {
        TOraParamDesc* param = GetParam(i);
        if (param->GetDataType() != dtCursor) continue;
        TOraCursor* cursor = param->GetAsCursor();
        if (!cursor) continue;
        if (afterCurrent && cursor->State >= csExecuted && cursor->State <= csFetchingAll) return cursor;
        if (cursor == FCursor) afterCurrent = true;
    }
    return nullptr;
}

void TOCICommand::SetConnection(TCRConnection* value) {
    if (value == FConnection) return;
    if (FExecThread && FOracleConnection) FOracleConnection->StopThread(FExecThread, true);
    if (GetActive()) InternalUnPrepare();
    TCRCommand::SetConnection(value);
    FOracleConnection = dynamic_cast<TOCIConnection*>(value);
}

// ---------------------------------------------------------------------------------------------
// Options

namespace {

// The command's own value, or the connection's (with defaults of an unconnected command).
int Own(int own, const TOCIConnection* connection, int TOraPrecisions::*field) {
    if (own != -1) return own;
    return connection ? connection->Precisions().*field : DefaultOraPrecisions.*field;
}

}  // namespace

int TOCICommand::GetSmallintPrecision() {
    return Own(FPrecisions.Smallint, FOracleConnection, &TOraPrecisions::Smallint);
}

int TOCICommand::GetIntegerPrecision() {
    return Own(FPrecisions.Integer, FOracleConnection, &TOraPrecisions::Integer);
}

int TOCICommand::GetLargeintPrecision() {
    const int value = Own(FPrecisions.Largeint, FOracleConnection, &TOraPrecisions::Largeint);
    return value == 0 && FOracleConnection && FOracleConnection->EnableLargeint() ? 18 : value;
}

int TOCICommand::GetFloatPrecision() {
    return Own(FPrecisions.Float, FOracleConnection, &TOraPrecisions::Float);
}

int TOCICommand::GetBCDPrecision() {
    return Own(FPrecisions.BCD, FOracleConnection, &TOraPrecisions::BCD);
}

// The scales follow their precisions: the command's scale counts only with its own precision.
int TOCICommand::GetBCDScale() {
    return FPrecisions.BCD != -1 ? FPrecisions.BCDScale
                                 : Own(-1, FOracleConnection, &TOraPrecisions::BCDScale);
}

int TOCICommand::GetFmtBCDPrecision() {
    return Own(FPrecisions.FmtBCD, FOracleConnection, &TOraPrecisions::FmtBCD);
}

int TOCICommand::GetFmtBCDScale() {
    return FPrecisions.FmtBCD != -1 ? FPrecisions.FmtBCDScale
                                    : Own(-1, FOracleConnection, &TOraPrecisions::FmtBCDScale);
}

bool TOraPrecisions::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prSmallintPrecision:
            Smallint = value.AsInteger();
            return true;
        case prIntegerPrecision:
            Integer = value.AsInteger();
            return true;
        case prLargeintPrecision:
            Largeint = value.AsInteger();
            return true;
        case prFloatPrecision:
            Float = value.AsInteger();
            return true;
        case prBCDPrecision:
            ParsePrecision(value.AsString(), BCD, BCDScale);
            return true;
        case prFmtBCDPrecision:
            ParsePrecision(value.AsString(), FmtBCD, FmtBCDScale);
            return true;
        default:
            return false;
    }
}

bool TOCICommand::SetProp(int prop, const rtl::Variant& value) {
    if (FPrecisions.SetProp(prop, value)) return true;
    switch (prop) {
        case prFieldsAsString:
            FFieldsAsString = value.AsBoolean();
            return true;
        case prNonBlocking:
            FNonBlocking = value.AsBoolean();
            return true;
        case prCacheLobs:
            FCacheLobs = value.AsBoolean();
            return true;
        case prScrollableCursor:
            FOwnCursor->Scrollable = value.AsBoolean();
            return true;
        case prGetRowId:
            FGetRowIdAfterExecute = value.AsBoolean();
            return true;
        case prRawAsString:
            FRawAsString = value.AsBoolean();
            return true;
        case prNumberAsString:
            FNumberAsString = value.AsBoolean();
            return true;
        case prTemporaryLobUpdate:
            FTemporaryLobUpdate = value.AsBoolean();
            return true;
        case prStatementCache:
            FStatementCache = value.AsBoolean();
            return true;
        case prPrefetchRows:
            FOwnCursor->PrefetchRows = value.AsInteger();
            return true;
        case prBindUnassignedParams:
            FBindUnassignedParams = value.AsBoolean();
            return true;
        case prKeepResultParams:
            FKeepResultParams = value.AsBoolean();
            return true;
        case prForceIntegers:
            FForceIntegers = value.AsBoolean();
            return true;
        default:
            return TCRCommand::SetProp(prop, value);
    }
}

bool TOCICommand::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prSQLType:
            value = static_cast<int32_t>(FSQLType);
            return true;
        case prRowsProcessed:
            value = FFetchedRows > 0 ? FFetchedRows : FRowsProcessed;
            return true;
        case prFieldsAsString:
            value = FFieldsAsString;
            return true;
        case prErrorOffset: {
            AnsiString text;
            int position = FErrorOffset;
            NormalizeLineBreaks(rtl::TrimRight(FParsedSQL), position, text);
            value = static_cast<int32_t>(position);
            return true;
        }
        case prCacheLobs:
            value = FCacheLobs;
            return true;
        case prGetRowId:
            value = FGetRowIdAfterExecute;
            return true;
        case prRawAsString:
            value = FRawAsString;
            return true;
        case prNumberAsString:
            value = FNumberAsString;
            return true;
        case prTemporaryLobUpdate:
            value = FTemporaryLobUpdate;
            return true;
        default:
            return TCRCommand::GetProp(prop, value);
    }
}

}  // namespace dac
