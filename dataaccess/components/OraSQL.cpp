// TOraSQL: the Oracle SQL command component (Oracle parameters, the Oracle lexer for macros,
// call blocks rebuilt before each single run); the Oracle forms of the SQL text routines.
#include "dataaccess/components/Ora.h"

namespace dac {

bool UseDefaultSession = false;

TOraSQL::TOraSQL(rtl::TComponent* owner) : TCustomDASQL(owner) {
    Construct();
}

TOraSQL::~TOraSQL() = default;

TCustomDAConnection* TOraSQL::UsedConnection() {
    TCustomDAConnection* c = TCustomDASQL::UsedConnection();
    if (!c && UseDefaultSession) c = DefaultSession();
    return c;
}

std::unique_ptr<TDAParams> TOraSQL::CreateParamsObject() {
    return std::make_unique<TOraParams>(this);
}

const TDataTypesMap& TOraSQL::GetDataTypesMap() {
    return TOraDataTypesMap::Instance();
}

TSQLParserClass TOraSQL::GetParserClass() {
    return &CreateParserOf<TOraParser>;
}

void TOraSQL::CreateCommand() {
    TCustomDASQL::CreateCommand();
    if (!command_) SetCommand(std::make_unique<TOCICommand>());
}

void TOraSQL::SetCommand(std::unique_ptr<TCRCommand> command) {
    TCustomDASQL::SetCommand(std::move(command));
    if (!command_) return;
    command_->SetProp(prNonBlocking, nonBlocking_);
    command_->SetProp(prStatementCache, statementCache_);
    command_->SetProp(prTemporaryLobUpdate, temporaryLobUpdate_);
}

void TOraSQL::SetNonBlocking(bool value) {
    nonBlocking_ = value;
    if (command_) command_->SetProp(prNonBlocking, value);
}

void TOraSQL::SetStatementCache(bool value) {
    statementCache_ = value;
    if (command_) command_->SetProp(prStatementCache, value);
}

void TOraSQL::SetTemporaryLobUpdate(bool value) {
    temporaryLobUpdate_ = value;
    if (command_) command_->SetProp(prTemporaryLobUpdate, value);
}

TOraParam* TOraSQL::FindResultParam() {
    return static_cast<TOraParam*>(Params().FindParam("Result"));
}

void TOraSQL::InternalExecute(int iters) {
    try {
        TCustomDASQL::InternalExecute(iters);
    } catch (const EOraError& e) {
        // Raised again as this component's error, code and message kept; a unit created with
        // compilation errors gets the session's listing of them after the message.
        AnsiString listing;
        if (e.ErrorCode == kCompilationErrorCode)
            if (TOraSession* session = dynamic_cast<TOraSession*>(UsedConnection())) {
                try {
                    session->GetCompileErrors(SQL().Text(), listing);
                } catch (const rtl::Exception&) {
                    // Without the listing the server's own message still says what happened.
                    listing.clear();
                }
            }
        throw EOraError(e.ErrorCode, e.Message() + listing, e.Component ? e.Component : this);
    }
}

void TOraSQL::AssignParamDesc(TParamDesc* desc, TDAParam* param) {
    TCustomDASQL::AssignParamDesc(desc, param);
    auto* d = static_cast<TOraParamDesc*>(desc);
    auto* p = static_cast<TOraParam*>(param);
    d->SetTable(p->Table());
    if (p->Length() != d->GetLength()) d->SetLength(p->Length());
    d->SetHasDefault(p->HasDefault);
    d->SetIsResult(p->IsResult);
}

void TOraSQL::AssignParamDescValue(TParamDesc* desc, TDAParam* param) {
    auto* d = static_cast<TOraParamDesc*>(desc);
    auto* p = static_cast<TOraParam*>(param);
    p->ParamDesc = d;
    if (p->IsArray()) {
        const rtl::Variant& items = p->ArrayValue();
        for (int i = 1; i <= items.ArrayHighBound(); ++i) {
            rtl::Variant item = items.GetElement(i);
            if (auto* obj = static_cast<TSharedObject*>(item.AsObject())) {
                obj->AddRef();
                d->SetItemObject(i, obj);
            } else {
                d->SetItemAsVariant(i, item);
            }
        }
        return;
    }
    TCustomDASQL::AssignParamDescValue(desc, param);
}

void TOraSQL::AssignParam(TDAParam* param, TParamDesc* desc) {
    TCustomDASQL::AssignParam(param, desc);
    auto* d = static_cast<TOraParamDesc*>(desc);
    auto* p = static_cast<TOraParam*>(param);
    p->SetTable(d->GetTable());
    p->SetNational(d->GetNationalFlag());
    if (d->GetLength() > 1) p->SetLength(d->GetLength());
    p->HasDefault = d->GetHasDefault();
    p->IsResult = d->GetIsResult();
    // An object, REF or collection argument gets its value typed by the description, so that it
    // can be bound (and read back) without the user giving a value of the type first.
    auto* value = dynamic_cast<TOraObject*>(p->GetParamObject());
    auto* connection =
        dynamic_cast<TOCIConnection*>(UsedConnection() ? UsedConnection()->GetIConnection() : nullptr);
    if (value && !value->GetObjectType() && !d->TypeName.empty() && connection && connection->GetSvcCtx()) {
        TOraType* type = ObjectTypes().FindType(connection->GetSvcCtx(), d->TypeName);
        if (type) {
            value->SetObjectType(type);
        } else {
            type = new TOraType(connection, d->TypeName);
            value->SetObjectType(type);
            type->Release();
        }
    }
}

void TOraSQL::AssignTo(rtl::TPersistent* dest) {
    TCustomDASQL::AssignTo(dest);
    if (auto* d = dynamic_cast<TOraSQL*>(dest)) d->SetNonBlocking(nonBlocking_);
}

// ---------------------------------------------------------------------------------------------
// Oracle SQL text routines

AnsiString OraAddWhereCondition(const AnsiString& sql, const AnsiString& condition) {
    return AddWhereCondition(sql, condition, &CreateParserOf<TOraParser>, true);
}

AnsiString OraReplaceWhereCondition(const AnsiString& sql, const AnsiString& condition) {
    return ReplaceWhereCondition(sql, condition, &CreateParserOf<TOraParser>);
}

AnsiString OraRemoveWhereCondition(const AnsiString& sql) {
    return ReplaceWhereCondition(sql, AnsiString(), &CreateParserOf<TOraParser>);
}

AnsiString OraReplaceOrderBy(const AnsiString& sql, const AnsiString& fields) {
    return ReplaceOrderBy(sql, fields, &CreateParserOf<TOraParser>);
}

AnsiString OraExtractOrderBy(const AnsiString& sql) {
    return ExtractOrderBy(sql, &CreateParserOf<TOraParser>);
}

}  // namespace dac
