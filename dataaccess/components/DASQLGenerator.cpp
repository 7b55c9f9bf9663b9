// The update SQL generator: INSERT, UPDATE, DELETE, lock, refresh, quick-refresh and
// check-deleted statements of a dataset's updating table, with their parameters.
#include "dataaccess/components/DASQLGenerator.h"

#include <climits>

#include "platform/rtl/Strings.h"

namespace dac {

using rtl::DatabaseError;

TDASQLGenerator::TDASQLGenerator(TDADataSetService* service)
    : service_(service), dataSet_(service ? service->DADataSet() : nullptr) {
    rtl::Assert(service != nullptr && dataSet_ != nullptr, "SQL generator without a dataset service");
}

TDASQLGenerator::~TDASQLGenerator() = default;

void TDASQLGenerator::Clear() {
    header_.clear();
    fieldList_.clear();
    middle_.clear();
    fieldParamList_.clear();
    condition_.clear();
    footer_.clear();
    oldRecBufValid_ = newRecBufValid_ = false;
    oldRecBuf_ = newRecBuf_ = nullptr;
}

AnsiString TDASQLGenerator::AssembleSQL() {
    return header_ + fieldList_ + middle_ + fieldParamList_ + condition_ + footer_;
}

bool TDASQLGenerator::IsBlobDataType(TDataType dataType) {
    return dataType == dtBlob || dataType == dtMemo || dataType == dtWideMemo;
}

bool TDASQLGenerator::IsObjectDataType(TDataType dataType) {
    return dataType == dtObject || dataType == dtArray;
}

TData* TDASQLGenerator::Data() const {
    return dataSet_->GetIRecordSet();
}

TSQLInfo* TDASQLGenerator::SQLInfo() const {
    return dataSet_->GetICommand()->SQLInfo();
}

bool TDASQLGenerator::QuoteNames() const {
    return dataSet_->Options().QuoteNames();
}

void* TDASQLGenerator::OldRecBuf() {
    if (!oldRecBufValid_) {
        if (dataSet_->FInDeferredPost)
            oldRecBuf_ = dataSet_->FDeferredPostOldBuffer;
        else if (dataSet_->FInCacheApply)
            oldRecBuf_ = dataSet_->FOldCacheBuffer;
        else
            oldRecBuf_ = dataSet_->Active() ? dataSet_->GetOldRecord() : nullptr;
        oldRecBufValid_ = true;
    }
    return oldRecBuf_;
}

void* TDASQLGenerator::NewRecBuf() {
    if (!newRecBufValid_) {
        if (dataSet_->FInCacheApply)
            newRecBuf_ = dataSet_->FNewCacheBuffer;
        else
            newRecBuf_ = dataSet_->Active() ? dataSet_->ActiveBuffer() : nullptr;
        newRecBufValid_ = true;
    }
    return newRecBuf_;
}

bool TDASQLGenerator::FieldIsNull(TFieldDesc* desc, bool oldValue, TData* data, void* oldRecBuf,
                                  void* newRecBuf) {
    if (!dataSet_->Active()) return true;
    if (IsObjectDataType(desc->DataType)) {
        bool any = false;
        for (int i = desc->FieldNo; i < data->Fields().Count(); ++i) {
            TFieldDesc* child = data->Fields()[i];
            if (child->ParentField != desc) continue;
            any = true;
            if (!FieldIsNull(child, oldValue, data, oldRecBuf, newRecBuf)) return false;
        }
        return any;
    }
    void* buffer = oldValue ? oldRecBuf : newRecBuf;
    return !buffer || data->GetNull(desc->FieldNo, buffer);
}

bool TDASQLGenerator::FieldIsNull(TFieldDesc* desc, bool oldValue) {
    return FieldIsNull(desc, oldValue, Data(), OldRecBuf(), NewRecBuf());
}

bool TDASQLGenerator::FieldModified(TFieldDesc* desc, TData* data, void* oldRecBuf, void* newRecBuf) {
    if (IsBlobDataType(desc->DataType)) {
        TBlob* fresh = newRecBuf ? data->GetBlob(desc->FieldNo, newRecBuf) : nullptr;
        if (dataSet_->FInCacheApply) {
            TBlob* old = oldRecBuf ? data->GetBlob(desc->FieldNo, oldRecBuf) : nullptr;
            return fresh != old;
        }
        if (auto* field = dynamic_cast<db::TBlobField*>(dataSet_->GetField(desc)); field && field->Modified())
            return true;
        return fresh && fresh->CanRollback();
    }
    if (IsObjectDataType(desc->DataType)) {
        for (int i = desc->FieldNo; i < data->Fields().Count(); ++i) {
            TFieldDesc* child = data->Fields()[i];
            if (child->ParentField == desc && FieldModified(child, data, oldRecBuf, newRecBuf)) return true;
        }
        return false;
    }
    if (!oldRecBuf || !newRecBuf) return true;
    return data->CompareFields(oldRecBuf, newRecBuf, desc, 0) != 0;
}

bool TDASQLGenerator::FieldModified(TFieldDesc* desc) {
    return FieldModified(desc, Data(), OldRecBuf(), NewRecBuf());
}

AnsiString TDASQLGenerator::GetActualFieldName(TFieldDesc* desc, bool isRefresh) {
    auto* cr = dynamic_cast<TCRFieldDesc*>(desc);
    AnsiString name =
        cr ? cr->GetActualName(SQLInfo(), QuoteNames())
           : (QuoteNames() || SQLInfo()->NeedQuote(desc->ActualName) ? SQLInfo()->QuoteName(desc->ActualName)
                                                                     : desc->ActualName);
    if (isRefresh && (dataSet_->Options().FullRefresh || dataSet_->ReadOnly()) && !service_->IsAddedTable() &&
        cr && cr->TableInfo) {
        const AnsiString prefix =
            cr->TableInfo->TableAlias().empty() ? cr->TableInfo->TableName() : cr->TableInfo->TableAlias();
        name = SQLInfo()->NormalizeName(prefix, QuoteNames()) + "." + name;
    }
    return name;
}

AnsiString TDASQLGenerator::GenerateIndexName(const AnsiString& name) {
    return "_" + name;
}

int TDASQLGenerator::DecodeFieldIndex(const AnsiString& name) {
    if (name.size() <= 1 || name[0] != '_') return -1;
    int value = 0;
    if (!rtl::TryStrToInt(name.substr(1), value)) return -1;
    return value;
}

int TDASQLGenerator::MaxIdentLength() {
    return INT_MAX;
}

bool TDASQLGenerator::IsSubstituteParamName() {
    return true;
}

void TDASQLGenerator::AddParam(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                               db::TParamType paramType, int index, bool old) {
    AnsiString prefix = old ? "Old_" : "";
    if (index >= 0) prefix = "P_" + std::to_string(index) + "_" + prefix;
    AnsiString name = prefix + desc->Name;
    bool keptName = true;
    if (static_cast<int64_t>(name.size()) > MaxIdentLength()) {
        name = prefix + std::to_string(desc->FieldNo);
        keptName = false;
    }
    if (QuoteNames() || (keptName && SQLInfo()->NeedQuote(desc->Name))) name = SQLInfo()->QuoteName(name);
    const bool substitute =
        params_ && IsSubstituteParamName() &&
        ((dataSet_->Params().Count() == 0 && !dataSet_->Options().FullRefresh) || statementType != stRefresh);
    builder += substitute ? AnsiString("?") : ":" + name;
    if (!params_) return;
    auto* param = static_cast<TDAParam*>(params_->Add());
    param->SetName(SQLInfo()->UnQuote(name));
    param->SetParamType(paramType);
    paramsInfo_.push_back({dataSet_->GetField(desc), old, index});
}

void TDASQLGenerator::AddFieldToInsertSQL(TFieldDesc* desc, int index) {
    if (!fieldList_.empty()) {
        fieldList_ += ", ";
        fieldParamList_ += ", ";
    }
    fieldList_ += GetActualFieldName(desc, false);
    AddParam(fieldParamList_, desc, stInsert, db::ptInput, index, false);
}

void TDASQLGenerator::AddFieldToUpdateSQL(TFieldDesc* desc, bool /*modifiedOnly*/, int index) {
    if (!fieldList_.empty()) fieldList_ += ", ";
    fieldList_ += GetActualFieldName(desc, false) + " = ";
    AddParam(fieldList_, desc, stUpdate, db::ptInput, index, false);
}

void TDASQLGenerator::AddFieldToRefreshSQL(TFieldDesc* desc) {
    if (!fieldList_.empty()) fieldList_ += ", ";
    fieldList_ += GetActualFieldName(desc, true);
    if (!dataSet_->ComponentState().Contains(rtl::csDesigning)) {
        const int position = Data()->Fields().IndexOf(desc);
        fieldList_ += " AS " + GenerateIndexName(std::to_string(position));
    }
}

void TDASQLGenerator::AddFieldToCondition(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                                          int index) {
    if (!builder.empty()) builder += " AND ";
    rtl::Assert(desc != nullptr, "condition without a field descriptor");
    const bool refresh = statementType == stRefresh;
    builder += GetActualFieldName(desc, refresh);
    // A refresh tests the current value; the cached record's old value while it waits to be applied.
    const bool old = refresh ? dataSet_->CachedUpdates() && !dataSet_->FInCacheApply : true;
    if (FieldIsNull(desc, refresh ? old : true)) {
        builder += " IS NULL";
        return;
    }
    builder += " = ";
    AddParam(builder, desc, statementType, db::ptInput, index, old);
}

void TDASQLGenerator::GenerateConditions(AnsiString& builder, TStatementType statementType, int index,
                                         const TKeyAndDataFields& fields) {
    if (!fields.KeyFieldDescs.empty()) {
        for (TFieldDesc* desc : fields.KeyFieldDescs)
            AddFieldToCondition(builder, desc, statementType, index);
        return;
    }
    if (TFieldDesc* identity = service_->IdentityField()) {
        AddFieldToCondition(builder, identity, statementType, index);
        return;
    }
    if (fields.DataFieldDescs.empty()) DatabaseError("Key fields not found");
    for (TFieldDesc* desc : fields.DataFieldDescs)
        if (!IsBlobDataType(desc->DataType)) AddFieldToCondition(builder, desc, statementType, index);
    if (builder.empty()) DatabaseError("Key fields not found");
}

AnsiString TDASQLGenerator::TableName() const {
    return SQLInfo()->NormalizeName(table_->TableName(), QuoteNames());
}

void TDASQLGenerator::GenerateInsertSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index) {
    for (TFieldDesc* desc : fields.DataFieldDescs)
        if (!modifiedOnly || !FieldIsNull(desc, false)) AddFieldToInsertSQL(desc, index);
    // Appended: the Oracle form may have put a block prefix (a sequence fetch) in front.
    header_ += "INSERT INTO " + TableName() + SLLineSeparator + "  (";
    middle_ = AnsiString(")") + SLLineSeparator + "VALUES" + SLLineSeparator + "  (";
    footer_ = ")";
}

void TDASQLGenerator::GenerateUpdateSQL(const TKeyAndDataFields& fields, bool modifiedOnly, int index) {
    for (TFieldDesc* desc : fields.DataFieldDescs)
        if (!modifiedOnly || FieldModified(desc)) AddFieldToUpdateSQL(desc, modifiedOnly, index);
    if (fieldList_.empty()) return;
    header_ = "UPDATE " + TableName() + SLLineSeparator + "SET" + SLLineSeparator + "  ";
    middle_ = AnsiString(SLLineSeparator) + "WHERE" + SLLineSeparator + "  ";
    GenerateConditions(condition_, stUpdate, index, fields);
}

void TDASQLGenerator::GenerateDeleteSQL(const TKeyAndDataFields& fields, bool /*modifiedOnly*/, int index) {
    header_ = "DELETE FROM " + TableName() + SLLineSeparator + "WHERE" + SLLineSeparator + "  ";
    GenerateConditions(condition_, stDelete, index, fields);
}

void TDASQLGenerator::GenerateLockSQL(const TKeyAndDataFields& /*fields*/, int /*index*/) {}

void TDASQLGenerator::GenerateRefreshSQLSelectPart(const TKeyAndDataFields& fields) {
    header_ = "SELECT ";
    const auto& descs = fields.DataFieldDescs.empty() ? fields.KeyFieldDescs : fields.DataFieldDescs;
    for (TFieldDesc* desc : descs) AddFieldToRefreshSQL(desc);
}

void TDASQLGenerator::GenerateRefreshSQLFromPart() {
    middle_ = " FROM " + TableName();
    if (!table_->TableAlias().empty())
        middle_ += " " + SQLInfo()->NormalizeName(table_->TableAlias(), QuoteNames());
    middle_ += AnsiString(SLLineSeparator) + "WHERE" + SLLineSeparator + "  ";
}

void TDASQLGenerator::GenerateRefreshSQL(const TKeyAndDataFields& fields, bool /*modifiedOnly*/) {
    GenerateConditions(condition_, stRefresh, -1, fields);
    if (!dataSet_->Options().FullRefresh && !dataSet_->ReadOnly()) {
        GenerateRefreshSQLSelectPart(fields);
        GenerateRefreshSQLFromPart();
    } else if (!condition_.empty()) {
        header_ =
            dataSet_->AddWhereToSQL(dataSet_->GetBaseSQL(), AnsiString(SLLineSeparator) + "  " + condition_);
        condition_.clear();
    } else {
        header_ = dataSet_->GetFinalSQL();
    }
}

void TDASQLGenerator::GenerateRefreshQuickSQL(const TKeyAndDataFields& fields) {
    GenerateConditions(condition_, stRefreshQuick, -1, fields);
    header_ = dataSet_->AddWhereToSQL(dataSet_->GetFinalSQL(), condition_);
    condition_.clear();
}

void TDASQLGenerator::GenerateRefreshCheckDeletedSQL(const std::vector<TFieldDesc*>& keyDescs) {
    header_ = "SELECT ";
    for (TFieldDesc* desc : keyDescs) {
        if (!fieldList_.empty()) {
            fieldList_ += ", ";
            footer_ += ", ";
        }
        const AnsiString actual = GetActualFieldName(desc, true);
        fieldList_ += actual;
        footer_ += actual;
        if (rtl::UpperCase(desc->Name) != rtl::UpperCase(desc->ActualName)) {
            AnsiString alias = desc->Name;
            if (QuoteNames() || SQLInfo()->NeedQuote(alias)) alias = SQLInfo()->QuoteName(alias);
            fieldList_ += " AS " + alias;
        }
    }
    const AnsiString finalSQL = dataSet_->GetFinalSQL();
    middle_ = " FROM " + dataSet_->ExtractFromList(finalSQL);
    const AnsiString where = dataSet_->ExtractWhereCondition(finalSQL);
    if (!where.empty()) middle_ += " WHERE " + where;
    middle_ += " ORDER BY ";
}

AnsiString TDASQLGenerator::GenerateSQL(TStatementType statementType, bool modifiedOnly, TDAParams* params,
                                        int index) {
    TCRTableInfo* table = service_->GetUpdatingTableInfo();
    if (!table) return AnsiString();
    TKeyAndDataFields fields;
    service_->GetKeyFieldDescs(fields.KeyFieldDescs);
    const bool allTables = statementType == stRefresh && dataSet_->Options().FullRefresh &&
                           dataSet_->GetIRecordSetCR()->TablesInfo().Count() > 1;
    service_->GetDataFieldDescs(fields.DataFieldDescs, allTables);
    return GenerateSQLforTable(table, fields, statementType, modifiedOnly, params, index);
}

AnsiString TDASQLGenerator::GenerateSQLforTable(TCRTableInfo* table, const TKeyAndDataFields& fields,
                                                TStatementType statementType, bool modifiedOnly,
                                                TDAParams* params, int index) {
    if (!table || table->TableName().empty()) DatabaseError("TableInfo name must be provided");
    Clear();
    table_ = table;
    params_ = params;
    paramsInfo_.clear();
    if (params_) {
        params_->BeginUpdate();
        params_->Clear();
    }
    try {
        switch (statementType) {
            case stInsert:
                GenerateInsertSQL(fields, modifiedOnly, index);
                break;
            case stUpdate:
                GenerateUpdateSQL(fields, modifiedOnly, index);
                break;
            case stDelete:
                GenerateDeleteSQL(fields, modifiedOnly, index);
                break;
            case stLock:
                GenerateLockSQL(fields, index);
                break;
            case stRefresh:
                GenerateRefreshSQL(fields, modifiedOnly);
                break;
            case stRefreshQuick:
                GenerateRefreshQuickSQL(fields);
                break;
            case stRefreshCheckDeleted:
                GenerateRefreshCheckDeletedSQL(fields.KeyFieldDescs);
                break;
            default:
                DatabaseError("Bad statement type");
        }
    } catch (...) {
        if (params_) params_->EndUpdate();
        throw;
    }
    if (params_) params_->EndUpdate();
    return AssembleSQL();
}

void TDASQLGenerator::CheckRecordSet() {
    dataSet_->CheckIRecordSet();
}

AnsiString TDASQLGenerator::GenerateTableSQL(const AnsiString& tableName, const AnsiString& orderFields) {
    CheckRecordSet();
    AnsiString sql = "SELECT * FROM " + SQLInfo()->NormalizeName(tableName, QuoteNames()) + "\r";
    if (!rtl::Trim(orderFields).empty()) sql += "ORDER BY " + orderFields + "\r";
    return sql;
}

AnsiString TDASQLGenerator::GenerateSelectValues(const AnsiString& values) {
    return "SELECT " + values;
}

}  // namespace dac
