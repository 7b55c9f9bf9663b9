// TDADataSetService: the updating table, the key and data fields, the writable flag and the
// field information the dataset's updater and SQL generator work from.
#include "dataaccess/components/DBAccess.h"
#include "dataaccess/components/DBAccessMetaData.h"
#include "platform/rtl/Strings.h"

namespace dac {

TDADataSetService::TDADataSetService(TMemDataSet* dataSet) : TDataSetService(dataSet) {}

TDADataSetService::~TDADataSetService() = default;

void TDADataSetService::MakeUpdater() {
    ReplaceUpdater(new TDADataSetUpdater(this));
}

std::unique_ptr<TDASQLGenerator> TDADataSetService::CreateSQLGenerator() {
    return std::make_unique<TDASQLGenerator>(this);
}

TDASQLGenerator* TDADataSetService::SQLGenerator() {
    if (!generator_) generator_ = CreateSQLGenerator();
    return generator_.get();
}

void TDADataSetService::CloseCursor() {
    ResetTableKeys();
    if (TDADataSetUpdater* updater = DAUpdater()) updater->UnPrepareUpdateQueries();
}

TDADataSetUpdater* TDADataSetService::DAUpdater() const {
    return dynamic_cast<TDADataSetUpdater*>(Updater());
}

TCustomDADataSet* TDADataSetService::DADataSet() const {
    return static_cast<TCustomDADataSet*>(FDataSet);
}

TCRRecordSet* TDADataSetService::RecordSet() const {
    return DADataSet()->GetIRecordSetCR();
}

void TDADataSetService::AfterDataOpen() {
    if (initDone_) return;
    InitUpdatingTable();
    if (!SkipFieldsOrigin()) DescribeFieldsOrigin();
    identityField_ = DetectIdentityField();
    SetFieldDescsReadOnly();
    initDone_ = true;
}

void TDADataSetService::ResetTableKeys() {
    initDone_ = false;
    updatingTableIndex_ = -1;
    identityField_ = nullptr;
    keyCacheValid_ = false;
    dataCacheValid_[0] = dataCacheValid_[1] = false;
}

void TDADataSetService::InitUpdatingTable() {
    TCRRecordSet* rs = RecordSet();
    updatingTableIndex_ = -1;
    addedTable_ = false;
    if (!rs) return;
    TCRTablesInfo& tables = rs->TablesInfo();
    TCRCommand* command = rs->GetCommand();
    TSQLInfo* info = command->SQLInfo();
    // The tables of a query come from its text when the driver did not report them.
    if (tables.Count() == 0 && !command->SQL().empty()) {
        try {
            info->ParseTablesInfo(command->SQL(), tables);
        } catch (const rtl::Exception&) {
            tables.Clear();
        }
    }
    const AnsiString name = info->NormalizeName(DADataSet()->UpdatingTable(), '"', '"', false, false);
    if (tables.Count() > 0) {
        if (name.empty()) {
            updatingTableIndex_ = 0;
            return;
        }
        updatingTableIndex_ = tables.IndexByName(name);
        if (updatingTableIndex_ < 0) updatingTableIndex_ = tables.IndexByAlias(name);
        if (updatingTableIndex_ < 0)
            rtl::DatabaseError(rtl::Format("Wrong UpdatingTable value - table %s is unknown", {name}),
                               DADataSet());
        return;
    }
    if (name.empty()) return;
    TCRTableInfo* table = tables.Add();
    table->SetTableName(name);
    updatingTableIndex_ = table->Index();
    addedTable_ = true;
}

TCRTableInfo* TDADataSetService::GetUpdatingTableInfo() {
    TCRRecordSet* rs = RecordSet();
    if (!rs || updatingTableIndex_ < 0 || updatingTableIndex_ >= rs->TablesInfo().Count()) return nullptr;
    return rs->TablesInfo()[updatingTableIndex_];
}

void TDADataSetService::SetFieldDescsReadOnly() {
    TCRRecordSet* rs = RecordSet();
    if (!rs) return;
    TCRTableInfo* updating = GetUpdatingTableInfo();
    TFieldDescs& descs = rs->Fields();
    for (int i = 0; i < descs.Count(); ++i) {
        auto* desc = dynamic_cast<TCRFieldDesc*>(descs[i]);
        if (!desc || desc->Kind != 0) continue;
        const bool otherTable = desc->TableInfo && desc->TableInfo != updating;
        if (DADataSet()->Options().SetFieldsReadOnly) {
            if (otherTable) desc->ReadOnly = true;
        } else {
            desc->ReadOnly = false;
            if (otherTable) desc->Required = false;
        }
    }
}

void TDADataSetService::AfterFieldsCreated() {
    TCustomDADataSet* ds = DADataSet();
    InitFieldsInfo();
    TCRRecordSet* rs = RecordSet();
    for (db::TField* field : ds->FieldList()) {
        if (field->FieldKind() != db::fkData) continue;
        TFieldDesc* desc = ds->GetFieldDesc(field);
        if (!desc) continue;
        if (ds->Options().FieldsOrigin()) FillFieldOrigin(field, desc);
        if (auto* cr = dynamic_cast<TCRFieldDesc*>(desc); cr && cr->AutoIncrement)
            field->SetAutoGenerateValue(db::arAutoInc);
    }
    if (ds->DefaultFields() && rs) {
        std::vector<db::TField*> hidden;
        GetHiddenFields(hidden);
        for (db::TField* f : hidden) {
            f->SetVisible(false);
            f->SetReadOnly(true);
        }
    }
    keyGeneratorField_ = DetectKeyGeneratorField();
    if (keyGeneratorField_) keyGeneratorField_->SetRequired(false);
}

void TDADataSetService::InitFieldsInfo() {
    writable_ = false;
    for (db::TField* field : DADataSet()->FieldList())
        if (!field->ReadOnly()) writable_ = true;
    if (DADataSet()->Options().DefaultValues()) FillFieldsDefaultValues();
}

void TDADataSetService::ResetUpdatingTable() {
    keyCacheValid_ = false;
    dataCacheValid_[0] = dataCacheValid_[1] = false;
    InitUpdatingTable();
    TCustomDADataSet* ds = DADataSet();
    if (ds->Options().SetFieldsReadOnly && !ds->ReadOnly()) {
        for (db::TField* field : ds->FieldList())
            if (field->FieldKind() == db::fkData) field->SetReadOnly(true);
        if (TCRRecordSet* rs = RecordSet())
            for (int i = 0; i < rs->Fields().Count(); ++i) rs->Fields()[i]->ReadOnly = false;
        SetFieldDescsReadOnly();
        std::vector<TFieldDesc*> data;
        GetDataFieldDescs(data, false);
        for (db::TField* field : ds->FieldList()) {
            TFieldDesc* desc = ds->GetFieldDesc(field);
            while (desc && desc->ParentField) desc = desc->ParentField;
            if (desc && std::find(data.begin(), data.end(), desc) != data.end()) field->SetReadOnly(false);
        }
    }
    InitFieldsInfo();
}

void TDADataSetService::FillFieldOrigin(db::TField* field, TFieldDesc* desc) {
    auto* cr = dynamic_cast<TCRFieldDesc*>(desc);
    TCRRecordSet* rs = RecordSet();
    if (cr && cr->TableInfo && rs) {
        const AnsiString table =
            rs->GetCommand()->SQLInfo()->NormalizeName(cr->TableInfo->TableName(), '"', '"', false, false);
        field->SetOrigin(table + "." + desc->ActualName);
    } else {
        field->SetOrigin(desc->ActualName);
    }
}

void TDADataSetService::FillFieldsDefaultValues() {
    TCustomDADataSet* ds = DADataSet();
    for (db::TField* field : ds->FieldList()) {
        if (field->FieldKind() != db::fkData) continue;
        if (auto* cr = dynamic_cast<TCRFieldDesc*>(ds->GetFieldDesc(field)))
            field->SetDefaultExpression(cr->DefaultExpression);
    }
}

bool TDADataSetService::CanModify() {
    TCustomDADataSet* ds = DADataSet();
    return !ds->ReadOnly() && !ds->UniDirectional() &&
           (ds->LocalUpdate() || (ds->CachedUpdates() && ds->OnUpdateRecord) || ds->UpdateObject());
}

void TDADataSetService::FillKeyFieldDescs(std::vector<TFieldDesc*>& descs) {
    descs.clear();
    TCustomDADataSet* ds = DADataSet();
    TCRRecordSet* rs = RecordSet();
    const AnsiString keys = ds->KeyFields();
    if (!rtl::Trim(keys).empty()) {
        int pos = 1;
        while (pos <= static_cast<int>(keys.size())) {
            const std::string name = db::ExtractFieldName(keys, pos);
            if (name.empty()) continue;
            TFieldDesc* desc = rs ? rs->FindField(name) : nullptr;
            if (!desc) rtl::DatabaseError(rtl::Format("%s: Key field '%s' not found", {ds->Name(), name}));
            descs.push_back(desc);
        }
        return;
    }
    if (identityField_) {
        descs.push_back(identityField_);
        return;
    }
    TCRTableInfo* updating = GetUpdatingTableInfo();
    if (!updating || !rs) return;
    const AnsiString columns = GetUniqueIndexColumns(updating->TableName());
    int pos = 1;
    while (pos <= static_cast<int>(columns.size())) {
        const std::string name = db::ExtractFieldName(columns, pos);
        if (name.empty()) continue;
        TFieldDesc* desc = nullptr;
        for (int i = 0; i < rs->Fields().Count() && !desc; ++i) {
            auto* cr = dynamic_cast<TCRFieldDesc*>(rs->Fields()[i]);
            if (cr && cr->Kind == 0 && !cr->HasParent() && cr->ActualName == name &&
                (!cr->TableInfo || cr->TableInfo == updating))
                desc = cr;
        }
        // A key column the query does not select: no key at all.
        if (!desc) {
            descs.clear();
            return;
        }
        descs.push_back(desc);
    }
}

AnsiString TDADataSetService::GetUniqueIndexColumns(const AnsiString& tableName) {
    TCustomDADataSet* ds = DADataSet();
    TCustomDAConnection* connection = ds->UsedConnection();
    TCRRecordSet* rs = RecordSet();
    if (!connection || !rs) return AnsiString();
    TDBAccessUtils::InternalConnect(connection);
    struct End {
        TCustomDAConnection* c;
        ~End() {
            try {
                TDBAccessUtils::InternalDisconnect(c);
            } catch (...) {
            }
        }
    } end{connection};
    TSQLObjectInfo parts;
    rs->GetCommand()->SQLInfo()->SplitObjectName(tableName, parts);
    if (parts.Schema.empty()) parts.Schema = GetCurrentSchema();
    TDAMetaData meta;
    meta.SetConnection(connection);
    meta.SetTransaction(ds->UsedTransaction());
    meta.SetMetaDataKind("indexcolumns");
    meta.Restrictions().SetText("table_catalog=" + parts.Catalog + "\r\ntable_schema=" + parts.Schema +
                                "\r\ntable_name=" + parts.Name + "\r\nunique=1");
    meta.Open();
    AnsiString result, index, schema;
    for (bool first = true; !meta.Eof(); meta.Next(), first = false) {
        const AnsiString name = meta.FieldByName("INDEX_NAME")->AsString();
        const AnsiString owner = meta.FieldByName("INDEX_SCHEMA")->AsString();
        if (!first && (name != index || owner != schema)) break;
        index = name;
        schema = owner;
        if (!result.empty()) result += ";";
        result += meta.FieldByName("COLUMN_NAME")->AsString();
    }
    meta.Close();
    return result;
}

void TDADataSetService::FillDataFieldDescs(std::vector<TFieldDesc*>& descs, bool allTables) {
    descs.clear();
    TCustomDADataSet* ds = DADataSet();
    TCRRecordSet* rs = RecordSet();
    if (!rs) return;
    TCRTableInfo* updating = GetUpdatingTableInfo();
    auto qualifies = [&](TFieldDesc* desc) {
        auto* cr = dynamic_cast<TCRFieldDesc*>(desc);
        if (desc->Kind != 0 || desc->HasParent() || desc->ReadOnly) return false;
        if (desc == identityField_ && !IsIdentityFieldUpdatable()) return false;
        if (!allTables && cr && cr->TableInfo && cr->TableInfo != updating) return false;
        return true;
    };
    TFieldDescs& all = rs->Fields();
    for (int i = 0; i < all.Count(); ++i) {
        TFieldDesc* desc = all[i];
        if (ds->DefaultFields()) {
            if (qualifies(desc)) descs.push_back(desc);
            continue;
        }
        if (desc->HasParent()) {
            TFieldDesc* top = desc;
            while (top->ParentField) top = top->ParentField;
            if (ds->FindField(desc->ActualName) && qualifies(top) && (descs.empty() || descs.back() != top))
                descs.push_back(top);
        } else if (qualifies(desc) && (desc->DataType == dtTable || ds->FindField(desc->ActualName))) {
            descs.push_back(desc);
        }
    }
}

void TDADataSetService::GetKeyFieldDescs(std::vector<TFieldDesc*>& descs) {
    if (!keyCacheValid_) {
        FillKeyFieldDescs(keyCache_);
        keyCacheValid_ = true;
    }
    descs = keyCache_;
}

void TDADataSetService::GetDataFieldDescs(std::vector<TFieldDesc*>& descs, bool allTables) {
    const int i = allTables ? 1 : 0;
    if (!dataCacheValid_[i]) {
        FillDataFieldDescs(dataCache_[i], allTables);
        dataCacheValid_[i] = true;
    }
    descs = dataCache_[i];
}

void TDADataSetService::ClearKeyFieldsCache() {
    keyCacheValid_ = false;
}

bool TDADataSetService::OpenNext() {
    rtl::DatabaseError("Operation is not supported by the database");
}

}  // namespace dac
