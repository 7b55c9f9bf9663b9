// The Oracle datasets: TOraDataSet over TOCIRecordSet, the query and stored-procedure
// components, their options, the Oracle dataset service and the Oracle data-type map.
#include <cstdlib>
#include <cstring>

#include "dataaccess/components/Ora.h"
#include "dataaccess/components/OraFields.h"
#include "dataaccess/components/OraNestedTable.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Options

TOraDataSetOptionsDS::TOraDataSetOptionsDS(TCustomDADataSet* owner) : TDADataSetOptions(owner) {
    SetCacheLobs(true);
}

void TOraDataSetOptionsDS::SetAutoClose(bool value) {
    autoClose_ = value;
    SetRecordSetProp(prAutoClose, value);
}

void TOraDataSetOptionsDS::SetFieldsAsString(bool value) {
    fieldsAsString_ = value;
    SetCommandProp(prFieldsAsString, value);
}

void TOraDataSetOptionsDS::SetDeferredLobRead(bool value) {
    deferredLobRead_ = value;
    SetRecordSetProp(prDeferredLobRead, value);
}

void TOraDataSetOptionsDS::SetCacheLobs(bool value) {
    CheckInactive();
    cacheLobs_ = value;
    SetCommandProp(prCacheLobs, value);
}

void TOraDataSetOptionsDS::SetScrollableCursor(bool value) {
    CheckInactive();
    scrollableCursor_ = value;
    SetCommandProp(prScrollableCursor, value);
    if (owner_ && owner_->GetDataSetService())
        owner_->GetDataSetService()->SetProp(prScrollableCursor, value);
}

void TOraDataSetOptionsDS::SetRawAsString(bool value) {
    rawAsString_ = value;
    SetCommandProp(prRawAsString, value);
}

void TOraDataSetOptionsDS::AssignTo(rtl::TPersistent* dest) {
    TDADataSetOptions::AssignTo(dest);
    auto* d = dynamic_cast<TOraDataSetOptionsDS*>(dest);
    if (!d) return;
    d->SetAutoClose(autoClose_);
    d->SetFieldsOrigin(FieldsOrigin());
    d->SetDefaultValues(DefaultValues());
    d->SetFieldsAsString(fieldsAsString_);
    d->SetCacheLobs(cacheLobs_);
    d->SetRawAsString(rawAsString_);
    d->SetDeferredLobRead(deferredLobRead_);
    d->SetScrollableCursor(scrollableCursor_);
}

TOraDataSetOptions::TOraDataSetOptions(TCustomDADataSet* owner) : TOraDataSetOptionsDS(owner) {
    SetFieldsReadOnly = false;
    SetPrefetchRows(1);
}

void TOraDataSetOptions::SetTemporaryLobUpdate(bool value) {
    temporaryLobUpdate_ = value;
    SetCommandProp(prTemporaryLobUpdate, value);
}

void TOraDataSetOptions::SetStatementCache(bool value) {
    statementCache_ = value;
    SetCommandProp(prStatementCache, value);
}

void TOraDataSetOptions::SetPrefetchRows(int value) {
    prefetchRows_ = value;
    SetCommandProp(prPrefetchRows, value);
}

void TOraDataSetOptions::AssignTo(rtl::TPersistent* dest) {
    TOraDataSetOptionsDS::AssignTo(dest);
    auto* d = dynamic_cast<TOraDataSetOptions*>(dest);
    if (!d) return;
    d->SetTemporaryLobUpdate(temporaryLobUpdate_);
    d->SetStatementCache(statementCache_);
    d->ReflectChangeNotify = ReflectChangeNotify;
    d->SetPrefetchRows(prefetchRows_);
}

// ---------------------------------------------------------------------------------------------
// Data-type map

db::TFieldType TCustomOraDataTypesMap::GetFieldType(TDataType dataType) const {
    switch (dataType) {
        case dtSQLTimeStamp:
            return db::ftTimeStamp;
        case dtOraBlob:
            return db::ftOraBlob;
        case dtOraClob:
        case dtWideOraClob:
            return db::ftOraClob;
        case dtFixedChar:
            return db::ftFixedChar;
        case dtFixedWideChar:
            return db::ftFixedWideChar;
        case dtBFile:
        case dtLabel:
        case dtUndefined:
        case dtTimeStamp:
        case dtTimeStampTZ:
        case dtTimeStampLTZ:
        case dtIntervalYM:
        case dtIntervalDS:
        case dtNumber:
        case dtXML:
            return db::ftUnknown;
        default:
            return TDataTypesMap::GetFieldType(dataType);
    }
}

TDataType TCustomOraDataTypesMap::GetDataType(db::TFieldType fieldType) const {
    switch (fieldType) {
        case db::ftSmallint:
        case db::ftWord:
            return dtInteger;
        case db::ftCurrency:
            return dtFloat;
        case db::ftDate:
        case db::ftTime:
            return dtDateTime;
        case db::ftFixedChar:
            return dtFixedChar;
        case db::ftFixedWideChar:
            return dtFixedWideChar;
        case db::ftOraBlob:
            return dtOraBlob;
        case db::ftOraClob:
            return dtOraClob;
        case db::ftTimeStamp:
            return dtSQLTimeStamp;
        case db::ftOraTimeStamp:
            return dtTimeStamp;
        // Kinds of value the generic map knows and Oracle has not.
        case db::ftAutoInc:
        case db::ftBCD:
        case db::ftVariant:
        case db::ftGuid:
            return dtUnknown;
        default:
            return TDataTypesMap::GetDataType(fieldType);
    }
}

const TCustomOraDataTypesMap& TCustomOraDataTypesMap::Instance() {
    static const TCustomOraDataTypesMap map;
    return map;
}

// ---------------------------------------------------------------------------------------------
// Dataset service

TCustomOraDataSetService::TCustomOraDataSetService(TMemDataSet* dataSet) : TDADataSetService(dataSet) {}

TOraDataSet* TCustomOraDataSetService::OraDataSet() const {
    return static_cast<TOraDataSet*>(FDataSet);
}

db::TFieldClass TCustomOraDataSetService::GetFieldClass(db::TFieldType fieldType) {
    if (fieldType == db::ftOraClob) {
        TOraSession* s = OraDataSet()->Session();
        if (s && s->Options().UseUnicode()) return db::TFieldClass::Of<db::TWideMemoField>();
        return db::TFieldClass::Of<db::TMemoField>();
    }
    return TDADataSetService::GetFieldClass(fieldType);
}

db::TFieldClass TOraDataSetService::GetFieldClass(db::TFieldType fieldType) {
    switch (fieldType) {
        case db::ftOraClob:
            return TCustomOraDataSetService::GetFieldClass(fieldType);
        case db::ftFixedChar:
            return db::TFieldClass::Of<db::TStringField>();
        case db::ftOraBlob:
            return db::TFieldClass::Of<db::TBlobField>();
        case db::ftCursor:
            return db::TFieldClass::Of<TDACursorField>();
        default:
            if (db::TFieldClass cls = OraFieldClass(fieldType)) return cls;
            return TCustomOraDataSetService::GetFieldClass(fieldType);
    }
}

bool TCustomOraDataSetService::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prKeySequence:
            keySequence_ = value.AsString();
            return true;
        case prSequenceMode:
            sequenceMode_ = static_cast<TSequenceMode>(value.AsInteger());
            return true;
        case prScrollableCursor:
            scrollableCursor_ = value.AsBoolean();
            return true;
        default:
            return TDADataSetService::SetProp(prop, value);
    }
}

bool TCustomOraDataSetService::GetProp(int prop, rtl::Variant& value) {
    return TDADataSetService::GetProp(prop, value);
}

TFieldDesc* TCustomOraDataSetService::DetectIdentityField() {
    TCRRecordSet* rs = RecordSet();
    if (!rs) return nullptr;
    TCRTableInfo* updating = GetUpdatingTableInfo();
    for (int i = 0; i < rs->Fields().Count(); ++i) {
        auto* desc = dynamic_cast<TCRFieldDesc*>(rs->Fields()[i]);
        if (!desc || rtl::UpperCase(desc->ActualName) != "ROWID") continue;
        if (!desc->TableInfo || desc->TableInfo == updating) return desc;
    }
    return nullptr;
}

db::TField* TCustomOraDataSetService::DetectKeyGeneratorField() {
    const AnsiString keys = DADataSet()->KeyFields();
    if (rtl::Trim(keySequence_).empty() || rtl::Trim(keys).empty()) return nullptr;
    int pos = 1;
    return DADataSet()->FindField(db::ExtractFieldName(keys, pos));
}

void TCustomOraDataSetService::GetHiddenFields(std::vector<db::TField*>& fields) {
    fields.clear();
    TCustomDADataSet* ds = DADataSet();
    for (db::TField* field : ds->FieldList()) {
        TFieldDesc* desc = ds->GetFieldDesc(field);
        if (desc && rtl::UpperCase(desc->ActualName) == "ROWID") fields.push_back(field);
    }
}

bool TCustomOraDataSetService::CanModify() {
    TCustomDADataSet* ds = DADataSet();
    if (!TDADataSetService::CanModify()) {
        if (ds->ReadOnly()) return false;
        if (!IsAnyFieldCanBeModified()) return false;
    }
    return !scrollableCursor_;
}

AnsiString OraRecordCountSQL(const AnsiString& finalSQL) {
    AnsiString sql = OraReplaceOrderBy(finalSQL, AnsiString());
    TOraParser parser(sql);
    parser.SkipComments = true;
    int depth = 0;
    AnsiString lexem;
    int64_t forStart = -1;
    for (int code = parser.GetNext(lexem); code != lxEnd; code = parser.GetNext(lexem)) {
        if (lexem == "(") {
            ++depth;
        } else if (lexem == ")") {
            if (depth > 0) --depth;
        } else if (depth == 0 && forStart >= 0) {
            // FOR of the outer statement is a locking clause only when UPDATE follows.
            if (rtl::UpperCase(lexem) == "UPDATE") break;
            forStart = -1;
        } else if (depth == 0 && rtl::UpperCase(lexem) == "FOR") {
            forStart = parser.ScanStartPos();
            continue;
        }
        if (forStart >= 0 && lexem != "UPDATE") forStart = -1;
    }
    if (forStart >= 0) sql = sql.substr(0, static_cast<size_t>(forStart));
    while (!sql.empty() && static_cast<unsigned char>(sql.back()) < 33) sql.pop_back();
    return "SELECT Count(*) FROM (\r" + sql + "\r" + ")";
}

int TCustomOraDataSetService::GetRecordCount() {
    TOraDataSet* ds = OraDataSet();
    if (!ds->Session()) return 0;
    TOraQuery count;
    count.SetSession(ds->Session());
    count.SQL().SetText(OraRecordCountSQL(ds->GetFinalSQL()));
    for (int i = 0; i < count.Params().Count(); ++i)
        if (TOraParam* source = static_cast<TOraParam*>(ds->Params().FindParam(count.Params()[i]->Name())))
            count.Params()[i]->Assign(source);
    count.Open();
    const int result = count.Eof() ? 0 : count.Fields()[0]->AsInteger();
    count.Close();
    return result;
}

AnsiString TCustomOraDataSetService::GetCurrentSchema() {
    TOraSession* s = OraDataSet()->Session();
    return s ? "\"" + s->Schema() + "\"" : AnsiString();
}

bool TCustomOraDataSetService::OpenNext() {
    TOraDataSet* ds = OraDataSet();
    if (!ds->Active() || !ds->OCICommand()) return false;
    TOraCursor* next = ds->OCICommand()->GetNextCursor();
    if (!next) return false;
    ds->Close();
    ds->SetCursor(next);
    ds->Open();
    return true;
}

// ---------------------------------------------------------------------------------------------
// TOraDataSet

TOraDataSet::TOraDataSet(rtl::TComponent* owner) : TCustomDADataSet(owner) {
    Construct();
    SetNestedDataSetClass(TDataSetClass::Of<TOraNestedTable>());
}

TOraDataSet::~TOraDataSet() {
    if (changeNotification_) changeNotification_->RemoveDataSet(this);
    Destroying();
    try {
        Close();
    } catch (...) {
    }
}

std::unique_ptr<TCustomDASQL> TOraDataSet::CreateInternalSQL() {
    return std::make_unique<TOraSQL>();
}

std::unique_ptr<TDADataSetOptions> TOraDataSet::CreateOptions() {
    return std::make_unique<TOraDataSetOptions>(this);
}

void TOraDataSet::CreateIRecordSet() {
    SetIRecordSet(new TOCIRecordSet());
}

void TOraDataSet::SetIRecordSet(TData* recordSet) {
    TCustomDADataSet::SetIRecordSet(recordSet);
    TCRRecordSet* rs = GetIRecordSetCR();
    TCRCommand* command = GetICommand();
    if (!rs || !command) return;
    if (options_) {
        TOraDataSetOptions& o = Options();
        rs->SetProp(prAutoClose, o.AutoClose());
        command->SetProp(prFieldsAsString, o.FieldsAsString());
        rs->SetProp(prDeferredLobRead, o.DeferredLobRead());
        command->SetProp(prCacheLobs, o.CacheLobs());
        command->SetProp(prScrollableCursor, o.ScrollableCursor());
        command->SetProp(prRawAsString, o.RawAsString());
        command->SetProp(prTemporaryLobUpdate, o.TemporaryLobUpdate());
        command->SetProp(prStatementCache, o.StatementCache());
        command->SetProp(prPrefetchRows, o.PrefetchRows());
    }
    command->SetProp(prNonBlocking, nonBlocking_);
    if (auto* oci = dynamic_cast<TOCICommand*>(command))
        oci->ChangeNotification =
            changeNotification_ ? changeNotification_->GetIChangeNotification() : nullptr;
}

TDataSetServiceClass TOraDataSet::GetDataSetServiceClass() {
    return TDataSetServiceClass::Of<TOraDataSetService>();
}

void TOraDataSet::SetDataSetService(TDataSetService* service) {
    TCustomDADataSet::SetDataSetService(service);
    if (!service) return;
    service->SetProp(prKeySequence, keySequence_);
    service->SetProp(prSequenceMode, static_cast<int>(sequenceMode_));
    service->SetProp(prScrollableCursor, Options().ScrollableCursor());
}

const TDataTypesMap& TOraDataSet::GetDataTypesMapClass() {
    return TOraFieldTypesMap::Instance();
}

void TOraDataSet::AssignFieldValue(TDAParam* param, db::TField* field, bool old) {
    auto* p = dynamic_cast<TOraParam*>(param);
    const bool valueField = dynamic_cast<TOraTimeStampField*>(field) ||
                            dynamic_cast<TOraIntervalField*>(field) || dynamic_cast<TOraNumberField*>(field);
    if (!p || !valueField) return TCustomDADataSet::AssignFieldValue(param, field, old);
    // The framework's assignment would only copy a variant, and leave the value object empty.
    p->SetDataType(field->DataType());
    TSharedObject* value = nullptr;
    if (!old) {
        if (auto* ts = dynamic_cast<TOraTimeStampField*>(field)) value = ts->AsTimeStamp();
        if (auto* iv = dynamic_cast<TOraIntervalField*>(field)) value = iv->AsInterval();
        if (auto* n = dynamic_cast<TOraNumberField*>(field)) value = n->AsNumber();
    }
    if (auto* ts = dynamic_cast<TOraTimeStamp*>(value); ts && p->AsTimeStamp())
        ts->AssignTo(p->AsTimeStamp());
    else if (auto* iv = dynamic_cast<TOraInterval*>(value); iv && p->AsInterval())
        iv->AssignTo(p->AsInterval());
    else if (auto* n = dynamic_cast<TOraNumber*>(value); n && p->AsNumber())
        n->AssignTo(p->AsNumber());
    else
        p->SetAsVariant(old ? field->OldValue() : field->Value());
    p->SetBound(true);
    if (TFieldDesc* desc = GetFieldDesc(field)) p->SubDataType = desc->SubDataType;
}

rtl::TStream* TOraDataSet::CreateBlobStream(db::TField* field, db::TBlobStreamMode mode) {
    if (auto* bfile = dynamic_cast<TBFileField*>(field); bfile && field->DataType() == ftExtBFile)
        return new TBFileStream(bfile, mode);
    return TCustomDADataSet::CreateBlobStream(field, mode);
}

void TOraDataSet::SetSequenceMode(TSequenceMode value) {
    sequenceMode_ = value;
    if (GetDataSetService()) GetDataSetService()->SetProp(prSequenceMode, static_cast<int>(value));
}

void TOraDataSet::SetKeySequence(const AnsiString& value) {
    keySequence_ = rtl::Trim(value);
    if (GetDataSetService()) GetDataSetService()->SetProp(prKeySequence, keySequence_);
}

void TOraDataSet::SetNonBlocking(bool value) {
    nonBlocking_ = value;
    if (GetICommand()) GetICommand()->SetProp(prNonBlocking, value);
}

TRefreshMode TOraDataSet::RefreshMode() const {
    const TRefreshOptions o = RefreshOptions();
    const bool insert = o.Contains(roAfterInsert);
    const bool update = o.Contains(roAfterUpdate);
    if (insert && update) return rmAlways;
    if (insert) return rmAfterInsert;
    if (update) return rmAfterUpdate;
    return rmNone;
}

void TOraDataSet::SetRefreshMode(TRefreshMode value) {
    TRefreshOptions o = RefreshOptions();
    if (value == rmAfterInsert || value == rmAlways)
        o.Include(roAfterInsert);
    else
        o.Exclude(roAfterInsert);
    if (value == rmAfterUpdate || value == rmAlways)
        o.Include(roAfterUpdate);
    else
        o.Exclude(roAfterUpdate);
    SetRefreshOptions(o);
}

bool TOraDataSet::Fetched() {
    if (IsExecuting()) return false;
    return TCustomDADataSet::Fetched();
}

void TOraDataSet::InternalExecute() {
    try {
        TCustomDADataSet::InternalExecute();
    } catch (const EOraError& e) {
        // Raised again as this dataset's error, code and message kept; for a unit created with
        // compilation errors the message is the session's listing of them.
        if (e.ErrorCode == kCompilationErrorCode)
            if (TOraSession* session = Session()) {
                AnsiString listing;
                try {
                    session->GetCompileErrors(GetFinalSQL(), listing);
                } catch (const rtl::Exception&) {
                    // Without the listing the server's own message still says what happened.
                    listing = e.Message();
                }
                throw EOraError(e.ErrorCode, listing, e.Component ? e.Component : this);
            }
        throw EOraError(e.ErrorCode, e.Message(), e.Component ? e.Component : this);
    }
}

void TOraDataSet::DoAfterScroll() {
    if (pendingResync_) {
        pendingResync_ = false;
        if (!Options().AutoClose()) Resync({});
    }
    TCustomDADataSet::DoAfterScroll();
}

void TOraDataSet::InitRecord(db::TRecordBuffer buffer) {
    TCustomDAConnection* c = UsedConnection();
    if (c && c->Options().DisconnectedMode()) {
        rtl::Variant hasObjects;
        if (!(GetIRecordSetCR() && GetIRecordSetCR()->GetProp(prHasObjectFields, hasObjects) &&
              hasObjects.AsBoolean()))
            BeginConnection(false);
    }
    TCustomDADataSet::InitRecord(buffer);
}

namespace {

// The platform's variant kinds of whole numbers, from shortint to int64.
bool IsWholeNumberKind(rtl::TVarType t) {
    return t == rtl::varSmallint || t == rtl::varInteger || t == rtl::varShortInt || t == rtl::varByte ||
           t == rtl::varWord || t == rtl::varLongWord || t == rtl::varInt64;
}

[[noreturn]] void CannotConvert() {
    throw rtl::EConvertError("Cannot convert type");
}

void* TextBuffer(const rtl::Variant& value) {
    const AnsiString text = value.AsString();
    void* buffer = std::malloc(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return buffer;
}

template <typename T>
void* ValueBuffer(T v) {
    void* buffer = std::malloc(sizeof(T));
    std::memcpy(buffer, &v, sizeof(T));
    return buffer;
}

}  // namespace

void TOraDataSet::VariantToNativeBuf(const rtl::Variant& value, void*& buffer, TDataType& dataType,
                                     TFieldDesc* desc, bool convertStrings) {
    const TDataType dt = desc->DataType;
    const bool timeStamp = dt == dtTimeStamp || dt == dtTimeStampTZ || dt == dtTimeStampLTZ;
    const bool interval = dt == dtIntervalYM || dt == dtIntervalDS;
    if (!timeStamp && !interval && dt != dtNumber)
        return TCustomDADataSet::VariantToNativeBuf(value, buffer, dataType, desc, convertStrings);
    buffer = nullptr;
    if (value.IsNull() || value.IsEmpty()) return;
    const rtl::TVarType t = value.VarType();
    if (rtl::VarIsStr(value)) {
        buffer = TextBuffer(value);
        dataType = dtString;
        return;
    }
    if (timeStamp) {
        if (t != rtl::varDate) CannotConvert();
        buffer = ValueBuffer(static_cast<double>(value.AsDateTime()));
        dataType = dtDateTime;
        return;
    }
    if (interval) CannotConvert();
    if (t == rtl::varInt64 || t == rtl::varLongWord) {
        // Beyond 32 bits a whole number is compared as a double, without losing its value to a cut.
        buffer = ValueBuffer(static_cast<double>(value.AsInt64()));
        dataType = dtFloat;
        return;
    }
    if (IsWholeNumberKind(t)) {
        buffer = ValueBuffer(static_cast<int32_t>(value.AsInteger()));
        dataType = dtInteger;
        return;
    }
    if (t == rtl::varSingle || t == rtl::varDouble || t == rtl::varCurrency) {
        buffer = ValueBuffer(value.AsDouble());
        dataType = dtFloat;
        return;
    }
    CannotConvert();
}

namespace {

const char* ExtendedFieldClassName(db::TFieldType type) {
    switch (static_cast<int>(type)) {
        case ftExtBFile:
            return "TBFileField";
        case ftExtLabel:
            return "TLabelField";
        case ftExtIntervalYM:
        case ftExtIntervalDS:
            return "TOraIntervalField";
        case ftExtTimeStampTZ:
        case ftExtTimeStampLTZ:
            return "TOraTimeStampField";
        case ftExtNumber:
            return "TOraNumberField";
        case ftExtXML:
            return "TOraXMLField";
        default:
            return nullptr;
    }
}

}  // namespace

void TOraDataSet::CheckFieldCompatibility(db::TField* field, db::TFieldDef* fieldDef) {
    const db::TFieldType fieldType = field->DataType();
    const db::TFieldType defType = fieldDef->DataType();
    if (!ExtendedFieldClassName(fieldType) && !ExtendedFieldClassName(defType))
        return TCustomDADataSet::CheckFieldCompatibility(field, fieldDef);
    if (fieldType == defType) return;
    auto className = [this](db::TFieldType type) -> std::string {
        if (const char* name = ExtendedFieldClassName(type)) return name;
        db::TFieldClass cls = GetFieldClassFor(type);
        return cls ? cls.ClassName() : std::string();
    };
    rtl::DatabaseError(rtl::Format("Type mismatch for field '%s', expecting: %s actual: %s",
                                   {field->DisplayName(), className(fieldType), className(defType)}),
                       this);
}

void TOraDataSet::AssignTo(rtl::TPersistent* dest) {
    TCustomDADataSet::AssignTo(dest);
    auto* d = dynamic_cast<TOraDataSet*>(dest);
    if (!d) return;
    d->SetNonBlocking(nonBlocking_);
    d->SetCheckMode(checkMode_);
}

// ---------------------------------------------------------------------------------------------
// TOraStoredProc

void TOraStoredProc::SetStoredProcName(const AnsiString& value) {
    if (value == storedProcName_) return;
    if (!ComponentState().Contains(rtl::csReading)) SQL().Clear();
    storedProcName_ = rtl::Trim(value);
}

void TOraStoredProc::SetOverload(int value) {
    if (value == overload_) return;
    SQL().Clear();
    overload_ = value;
}

void TOraStoredProc::PrepareSQL() {
    if (SQL().Count() > 0) return;
    const AnsiString name = storedProcName_ + ":" + std::to_string(overload_);
    if (storedProcName_.empty()) rtl::DatabaseError("StoredProcName must be defined", this);
    CreateProcCall(name, Params().Count() == 0, false);
}

void TOraStoredProc::Prepare() {
    if (IsPrepared()) return;
    PrepareSQL();
    TOraDataSet::Prepare();
}

void TOraStoredProc::BeforeOpenCursor(bool infoQuery) {
    PrepareSQL();
    TOraDataSet::BeforeOpenCursor(infoQuery);
}

void TOraStoredProc::DoBeforeExecute() {
    if (!IsPrepared()) PrepareSQL();
    TOraDataSet::DoBeforeExecute();
}

void TOraStoredProc::CheckUpdateKind(TStatementType kind) {
    if (LocalUpdate() || UpdateSQL(kind).Count() > 0) return;
    if (TCustomDAUpdateSQL* u = UpdateObject(); u && (u->SQL(kind).Count() > 0 || u->Object(kind))) return;
    rtl::Abort();
}

void TOraStoredProc::DoBeforeInsert() {
    TOraDataSet::DoBeforeInsert();
    CheckUpdateKind(stInsert);
}

void TOraStoredProc::DoBeforeEdit() {
    TOraDataSet::DoBeforeEdit();
    CheckUpdateKind(stUpdate);
}

void TOraStoredProc::DoBeforeDelete() {
    TOraDataSet::DoBeforeDelete();
    CheckUpdateKind(stDelete);
}

void TOraStoredProc::AssignTo(rtl::TPersistent* dest) {
    TOraDataSet::AssignTo(dest);
    auto* d = dynamic_cast<TOraStoredProc*>(dest);
    if (!d) return;
    d->SetStoredProcName(storedProcName_);
    d->SetOverload(overload_);
}

}  // namespace dac
