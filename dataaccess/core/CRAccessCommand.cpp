#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/core/CRAccess.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TParamDesc

void TParamDesc::SetValue(const rtl::Variant& value) {
    FData = value;
    FIsNull = value.IsEmpty() || value.IsNull();
}

rtl::TObject* TParamDesc::GetObject() {
    if (FData.IsEmpty() || FData.IsNull()) return nullptr;
    rtl::Assert(FData.VarType() == rtl::varByRef, "Invalid VType");
    return static_cast<rtl::TObject*>(FData.AsObject());
}

void TParamDesc::SetObject(rtl::TObject* obj) {
    FData = rtl::Variant::FromObject(obj);
}

void TParamDesc::SetNull(bool value) {
    FIsNull = value;
    if (FData.VarType() != rtl::varByRef) FData.Clear();
}

TParamDescs::~TParamDescs() {
    Clear();
}

void TParamDescs::Notify(void* item, rtl::TListNotification action) {
    if (action == rtl::lnDeleted) delete static_cast<TParamDesc*>(item);
}

bool TCRCursor::CanFetch() {
    rtl::AbstractError();
}

// ---------------------------------------------------------------------------------------------
// TCRCommand

TCRCommand::TCRCommand() = default;

TCRCommand::~TCRCommand() = default;

TSQLInfo* TCRCommand::SQLInfo() {
    if (!FSQLInfo) {
        std::unique_ptr<TSQLInfo> info(GetSQLInfoClass().Create());
        info->SetCommand(this, GetParserClass());
        FSQLInfo = std::move(info);
    }
    return FSQLInfo.get();
}

void TCRCommand::Prepare() {
    SetCursorState(csPrepared);
}

void TCRCommand::UnPrepare() {
    SetCursorState(csInactive);
}

bool TCRCommand::GetPrepared() {
    rtl::AbstractError();
}

void TCRCommand::Execute(int) {
    rtl::AbstractError();
}

TCursorState TCRCommand::GetCursorState() {
    rtl::AbstractError();
}

void TCRCommand::SetCursorState(TCursorState) {
    rtl::AbstractError();
}

TSQLParserClass TCRCommand::GetParserClass() {
    rtl::Assert(false);
    return &CreateParserOf<TSQLParser>;
}

void TCRCommand::CreateProcCall(const AnsiString&, bool, AnsiString&) {
    rtl::AbstractError();
}

void TCRCommand::SetCursor(TCRCursor*) {
    throw rtl::Exception("Operation is not supported by the database");
}

TParamDesc* TCRCommand::AddParam() {
    TParamDesc* param = GetParamDescClass().Create();
    FParams.Add(param);
    return param;
}

void TCRCommand::SetSQLText(const AnsiString& value) {
    if (value == FSQL) return;
    FSQL = value;
    FParsedSQL = FSQLIsFinal ? value : ParseSQL(value, &FParams, AnsiString());
}

void TCRCommand::ReparseSQL() {
    FParsedSQL = ParseSQL(FSQL, &FParams, AnsiString());
}

AnsiString TCRCommand::ParseSQL(const AnsiString& sql, TParamDescs* params, const AnsiString& renamePrefix) {
    TSQLInfo* info = SQLInfo();
    char leftQuote = info->LeftQuote();
    char rightQuote = info->RightQuote();
    const int length = static_cast<int>(sql.size());
    AnsiStringBuilder builder(length + length / 2);
    std::unique_ptr<TSQLParser> parser = GetParserClass()(sql);
    if (params) params->Clear();
    parser->SkipBlanks = false;
    parser->SkipComments = true;
    parser->KeepQuotes = true;
    parser->DecimalChar = ".";
    parser->ToBegin();
    int64_t start = parser->CurrPos();
    while (parser->ToLexem(AnsiString(":"))) {
        // The ':' just read starts at the scan start.
        builder.Append(
            sql.substr(static_cast<size_t>(start), static_cast<size_t>(parser->ScanStartPos() - start)));
        ParseSQLParam(builder, *parser, params, leftQuote, rightQuote, renamePrefix);
        start = parser->CurrPos();
    }
    if (start < length) builder.Append(sql.substr(static_cast<size_t>(start)));
    return builder.ToString();
}

void TCRCommand::ParseSQLParam(AnsiStringBuilder& builder, TSQLParser& parser, TParamDescs* params,
                               char leftQuote, char rightQuote, const AnsiString& renamePrefix) {
    AnsiString lexem;
    int code = parser.GetNext(lexem);
    bool at = false;
    if (lexem == "@") {
        at = true;
        code = parser.GetNext(lexem);
    }
    bool isName = code == lxIdent || code == lxNumber || code >= 100;
    if ((!params && renamePrefix.empty()) || !isName) {
        builder.Append(':');
        if (at) builder.Append('@');
        builder.Append(lexem);
        return;
    }
    AnsiString name = at ? "@" + lexem : lexem;
    if (name.size() >= 2 && name.front() == leftQuote && name.back() == rightQuote)
        name = name.substr(1, name.size() - 2);
    if (params) {
        TParamDesc* param = AddParam();
        // AddParam puts the descriptor in FParams; a foreign list gets it moved over.
        if (params != &FParams) {
            FParams.Extract(param);
            params->Add(param);
        }
        param->SetName(name);
        builder.Append('?');
    } else {
        builder.Append(renamePrefix);
        builder.Append(name);
    }
}

bool TCRCommand::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prAutoCommit:
            FAutoCommit = value.AsBoolean();
            return true;
        case prParamCheck: {
            bool v = value.AsBoolean();
            if (v != FParamCheck) {
                FParamCheck = v;
                if (v && !FSQL.empty()) ReparseSQL();
            }
            return true;
        }
        case prCompressBlobMode:
            FCompressBlobMode = static_cast<uint8_t>(value.AsInteger() & 0xFF);
            return true;
        case prSQLIsFinal:
            FSQLIsFinal = value.AsBoolean();
            return true;
        case prQuoteNames:
            FQuoteNames = value.AsBoolean();
            return true;
        case prEnableBCD:
            FEnableBCD = value.AsBoolean();
            return true;
        case prEnableFMTBCD:
            FEnableFMTBCD = value.AsBoolean();
            return true;
        case prParamsReadable:
        case prIsStoredProc:
            return true;
        default:
            UnknownProp(prop);
    }
}

bool TCRCommand::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prExecuting:
            value = FExecuting;
            return true;
        case prParamsReadable:
            value = true;
            return true;
        case prRowsProcessedKnown:
        case prDescribeParams:
            value = false;
            return true;
        default:
            UnknownProp(prop);
    }
}

}  // namespace dac
