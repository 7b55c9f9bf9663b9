// The driver's metadata provider: the kind dispatch, the answers kept in memory (the kinds and
// their restriction names), the result layouts and the helpers the drivers' dictionary queries use.
#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TDataHelper

void TDataHelper::AllocBuffer() {
    FreeBuffer();
    FRecordBuffer = FData->AllocRecBuf();
}

void TDataHelper::FreeBuffer() {
    if (FRecordBuffer) FData->FreeRecBuf(FRecordBuffer);
    FRecordBuffer = nullptr;
}

void TDataHelper::InitRecord() {
    FData->InitRecord(FRecordBuffer);
    if (FData->HasComplexFields()) FData->CreateComplexFields(FRecordBuffer, true);
}

void TDataHelper::SetFieldValue(int fieldNo, const rtl::Variant& value) {
    FData->PutFieldAsVariant(fieldNo, FRecordBuffer, value);
}

void TDataHelper::AppendRecord() {
    FData->AppendRecord(FRecordBuffer);
}

// ---------------------------------------------------------------------------------------------
// TCRMetaData: life

namespace {

const char* const kMetaDataKinds[] = {"MetaDataKinds", "Restrictions", "Tables",
                                      "Columns",       "Procedures",   "ProcedureParameters",
                                      "Indexes",       "IndexColumns", "Constraints"};

void AddAll(rtl::TStrings& list, std::initializer_list<const char*> names) {
    for (const char* n : names) list.Add(n);
}

}  // namespace

TCRMetaData::TCRMetaData() : FMemoryStorage(std::make_unique<TMemData>()) {
    FMemoryStorage->AutoInitFields = false;
    FMemDataAccess = std::make_unique<TDataHelper>(FMemoryStorage.get());
}

TCRMetaData::~TCRMetaData() {
    FMemDataAccess.reset();
    FRecordSetAccess.reset();
    FQueryRecordSet.reset();
    FMemoryStorage.reset();
}

// The record set is the driver's, so it cannot be made while the base is being constructed.
TCRRecordSet& TCRMetaData::QueryRecordSet() {
    if (!FQueryRecordSet) {
        FQueryRecordSet.reset(CreateRecordSet());
        FQueryRecordSet->SetProp(prFetchAll, true);
        FQueryRecordSet->SetProp(prFlatBuffers, false);
        FRecordSetAccess = std::make_unique<TDataHelper>(FQueryRecordSet.get());
    }
    return *FQueryRecordSet;
}

TCRRecordSet* TCRMetaData::CreateRecordSet() {
    rtl::AbstractError();
}

void TCRMetaData::Unsupported() {
    throw rtl::Exception("Unsupported metadata kind");
}

// ---------------------------------------------------------------------------------------------
// Dispatch

TData* TCRMetaData::GetMetaData(TCRConnection* connection, TCRTransaction* transaction,
                                const AnsiString& kind, const rtl::TStrings& restrictions) {
    QueryRecordSet().SetConnection(connection);
    QueryRecordSet().SetTransaction(transaction);
    return GetMetaData(LocaleLowerCase(rtl::Trim(kind)), restrictions);
}

TData* TCRMetaData::GetMetaData(const AnsiString& kind, const rtl::TStrings& r) {
    if (kind.empty() || kind == "metadatakinds") return GetMetaDataKinds();
    if (kind == "restrictions") return GetRestrictions(r);
    if (kind == "tables") return GetTables(r);
    if (kind == "columns") return GetColumns(r);
    if (kind == "procedures") return GetProcedures(r);
    if (kind == "procedureparameters") return GetProcedureParameters(r);
    if (kind == "indexes") return GetIndexes(r);
    if (kind == "indexcolumns") return GetIndexColumns(r);
    if (kind == "constraints") return GetConstraints(r);
    if (kind == "databases") return GetDatabases(r);
    if (kind == "datatypes") return GetDataTypes(r);
    if (kind == "users") return GetUsers(r);
    if (kind == "roles") return GetRoles(r);
    if (kind == "userdefinedtypes") return GetUserDefinedTypes(r);
    if (kind == "packages") return GetPackages(r);
    Unsupported();
}

// ---------------------------------------------------------------------------------------------
// Answers kept in memory

void TCRMetaData::FillMetaDataKinds(rtl::TStrings& list) {
    list.Clear();
    for (const char* k : kMetaDataKinds) list.Add(k);
}

void TCRMetaData::FillRestrictions(rtl::TStrings& list, const AnsiString& kind) {
    list.Clear();
    if (kind == "restrictions")
        AddAll(list, {"METADATA_NAME"});
    else if (kind == "tables")
        AddAll(list, {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"});
    else if (kind == "columns")
        AddAll(list, {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME"});
    else if (kind == "procedures")
        AddAll(list, {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_NAME", "PROCEDURE_TYPE"});
    else if (kind == "procedureparameters")
        AddAll(list, {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_NAME", "PARAMETER_NAME"});
    else if (kind == "indexes" || kind == "indexcolumns")
        AddAll(list, {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "INDEX_NAME"});
    else if (kind == "constraints")
        AddAll(list, {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "CONSTRAINT_NAME", "CONSTRAINT_TYPE"});
}

void TCRMetaData::GetMetaDataKindsList(rtl::TStrings& list) {
    rtl::TStringList fresh;
    FillMetaDataKinds(fresh);
    list.Assign(&fresh);
}

void TCRMetaData::GetRestrictionsList(rtl::TStrings& list, const AnsiString& kind) {
    rtl::TStringList fresh;
    FillRestrictions(fresh, LocaleLowerCase(rtl::Trim(kind)));
    list.Assign(&fresh);
}

TData* TCRMetaData::GetMetaDataKinds() {
    rtl::TStringList kinds;
    FillMetaDataKinds(kinds);
    CreateMetaDataKindsFields();
    FMemoryStorage->Open();
    FMemDataAccess->AllocBuffer();
    for (int i = 0; i < kinds.Count(); ++i) {
        FMemDataAccess->InitRecord();
        FMemDataAccess->SetFieldValue(1, kinds[i]);
        FMemDataAccess->AppendRecord();
    }
    FMemoryStorage->SetToBegin();
    return FMemoryStorage.get();
}

TData* TCRMetaData::GetRestrictions(const rtl::TStrings& restrictions) {
    // METADATA_NAME is the name the kind advertises; METAINFO_NAME is still read for older callers.
    AnsiString kind = Restriction(restrictions, "METADATA_NAME");
    if (kind.empty()) kind = Restriction(restrictions, "METAINFO_NAME");
    kind = LocaleLowerCase(kind);

    CreateRestrictionsFields();
    FMemoryStorage->Open();
    FMemDataAccess->AllocBuffer();
    auto addRows = [this](const AnsiString& shownKind, const AnsiString& kindKey) {
        rtl::TStringList names;
        GetRestrictionsList(names, kindKey);
        for (int i = 0; i < names.Count(); ++i) {
            FMemDataAccess->InitRecord();
            FMemDataAccess->SetFieldValue(1, shownKind);
            FMemDataAccess->SetFieldValue(2, names[i]);
            FMemDataAccess->AppendRecord();
        }
    };
    if (!kind.empty()) {
        addRows(kind, kind);
    } else {
        rtl::TStringList kinds;
        FillMetaDataKinds(kinds);
        for (int i = 0; i < kinds.Count(); ++i) addRows(kinds[i], kinds[i]);
    }
    FMemoryStorage->SetToBegin();
    return FMemoryStorage.get();
}

// ---------------------------------------------------------------------------------------------
// Kinds the driver answers

TData* TCRMetaData::GetTables(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetColumns(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetProcedures(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetProcedureParameters(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetIndexes(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetIndexColumns(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetConstraints(const rtl::TStrings&) {
    rtl::AbstractError();
}
TData* TCRMetaData::GetDatabases(const rtl::TStrings&) {
    Unsupported();
}
TData* TCRMetaData::GetDataTypes(const rtl::TStrings&) {
    Unsupported();
}
TData* TCRMetaData::GetUsers(const rtl::TStrings&) {
    Unsupported();
}
TData* TCRMetaData::GetRoles(const rtl::TStrings&) {
    Unsupported();
}
TData* TCRMetaData::GetUserDefinedTypes(const rtl::TStrings&) {
    Unsupported();
}
TData* TCRMetaData::GetPackages(const rtl::TStrings&) {
    Unsupported();
}

TData* TCRMetaData::OpenQuery(const AnsiString& sql) {
    TCRRecordSet& rs = QueryRecordSet();
    rs.Close();
    rs.SetSQLText(sql);
    rs.Open();
    return &rs;
}

// ---------------------------------------------------------------------------------------------
// Layouts

void TCRMetaData::ClearMemoryLayout() {
    FMemDataAccess->FreeBuffer();
    FMemoryStorage->Close();
    FMemoryStorage->ClearFields();
}

void TCRMetaData::AddField(const AnsiString& name, TDataType dataType, int length) {
    auto* field = new TFieldDesc();
    field->Name = name;
    field->ActualName = name;
    field->DataType = dataType;
    if (length > 0) field->Length = static_cast<uint16_t>(length);
    field->FieldNo = static_cast<uint16_t>(FMemoryStorage->Fields().Count() + 1);
    switch (dataType) {
        case dtString:
            field->Size = length + 1;
            break;
        case dtWideString:
            field->Size = length * 2 + 2;
            break;
        default:  // fixed sizes; a blob handle takes a pointer cell
            field->Size = DataTypeSize(dataType);
            break;
    }
    FMemoryStorage->Fields().Add(field);
}

void TCRMetaData::CreateMetaDataKindsFields() {
    ClearMemoryLayout();
    AddField("METADATA_NAME", dtString, 50);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateRestrictionsFields() {
    ClearMemoryLayout();
    AddField("METADATA_NAME", dtString, 50);
    AddField("RESTRICTION_NAME", dtString, 50);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateTablesFields() {
    ClearMemoryLayout();
    for (const char* n : {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME"}) AddField(n, dtString, 100);
    AddField("TABLE_TYPE", dtString, 50);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateColumnsFields() {
    ClearMemoryLayout();
    for (const char* n : {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "COLUMN_NAME"})
        AddField(n, dtString, 100);
    AddField("POSITION", dtInteger);
    AddField("DATA_TYPE", dtString, 50);
    for (const char* n : {"DATA_LENGTH", "DATA_PRECISION", "DATA_SCALE", "NULLABLE"}) AddField(n, dtInteger);
    AddField("DEFAULT_VALUE", dtMemo);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateProceduresFields() {
    ClearMemoryLayout();
    for (const char* n : {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_NAME"})
        AddField(n, dtString, 100);
    AddField("PROCEDURE_TYPE", dtString, 50);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateProcedureParametersFields() {
    ClearMemoryLayout();
    for (const char* n : {"PROCEDURE_CATALOG", "PROCEDURE_SCHEMA", "PROCEDURE_NAME", "PARAMETER_NAME"})
        AddField(n, dtString, 100);
    AddField("POSITION", dtInteger);
    AddField("DIRECTION", dtString, 10);
    AddField("DATA_TYPE", dtString, 50);
    for (const char* n : {"DATA_LENGTH", "DATA_PRECISION", "DATA_SCALE"}) AddField(n, dtInteger);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateIndexesFields() {
    ClearMemoryLayout();
    for (const char* n :
         {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "INDEX_CATALOG", "INDEX_SCHEMA", "INDEX_NAME"})
        AddField(n, dtString, 100);
    AddField("UNIQUE", dtInteger);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateIndexColumnsFields() {
    ClearMemoryLayout();
    for (const char* n : {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "INDEX_CATALOG", "INDEX_SCHEMA",
                          "INDEX_NAME", "COLUMN_NAME"})
        AddField(n, dtString, 100);
    AddField("COLUMN_POSITION", dtInteger);
    AddField("SORT_ORDER", dtString, 4);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateConstraintsFields() {
    ClearMemoryLayout();
    for (const char* n : {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "CONSTRAINT_NAME", "CONSTRAINT_TYPE",
                          "INDEX_CATALOG", "INDEX_SCHEMA", "INDEX_NAME"})
        AddField(n, dtString, 100);
    FMemoryStorage->InitFields();
}

void TCRMetaData::CreateDatabasesFields() {
    ClearMemoryLayout();
    AddField("DATABASE_NAME", dtString, 100);
    FMemoryStorage->InitFields();
}

// ---------------------------------------------------------------------------------------------
// Query helpers

AnsiString TCRMetaData::Restriction(const rtl::TStrings& restrictions, const AnsiString& name) {
    return rtl::Trim(restrictions.Values(name));
}

std::vector<bool> TCRMetaData::ParseTypes(const AnsiString& text, const std::vector<AnsiString>& names) {
    std::vector<bool> flags(names.size(), text.empty());
    if (text.empty()) return flags;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == AnsiString::npos) comma = text.size();
        const AnsiString item = LocaleUpperCase(rtl::Trim(text.substr(start, comma - start)));
        for (size_t i = 0; i < names.size(); ++i) {
            if (item == LocaleUpperCase(names[i])) {
                flags[i] = true;
                break;
            }
        }
        start = comma + 1;
    }
    return flags;
}

void TCRMetaData::AddWhere(AnsiString& condition, const AnsiString& column, bool addNull,
                           const AnsiString& value) {
    if (value.empty() && !addNull) return;
    AnsiString name = value;
    if (!name.empty()) name = QueryRecordSet().GetCommand()->SQLInfo()->NormalizeName(value, false, true);
    if (name.empty() && !addNull) return;
    if (!condition.empty()) condition += " AND ";
    if (name.empty()) {
        condition += column + " IS NULL";
        return;
    }
    AnsiString quoted;
    for (char c : name) quoted += c == '\'' ? AnsiString("''") : AnsiString(1, c);
    condition += column + " " + FCompareOperator + " '" + quoted + "'";
}

}  // namespace dac
