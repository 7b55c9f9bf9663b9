// The Oracle update SQL generator: LOB placeholders, RETURNING ... INTO, sequence-fed keys,
// FOR UPDATE NOWAIT locks and ROWID keys.
#include "dataaccess/components/OraSQLGenerator.h"

#include "dataaccess/components/OraFields.h"
#include "platform/rtl/Strings.h"

namespace dac {

TCustomOraSQLGenerator::TCustomOraSQLGenerator(TDADataSetService* service) : TDASQLGenerator(service) {}

TCustomOraDataSetService* TCustomOraSQLGenerator::OraService() const {
    return static_cast<TCustomOraDataSetService*>(service_);
}

TOraDataSet* TCustomOraSQLGenerator::OraDataSet() const {
    return static_cast<TOraDataSet*>(dataSet_);
}

bool TCustomOraSQLGenerator::IsBlobDataType(TDataType dataType) {
    return TDASQLGenerator::IsBlobDataType(dataType) || IsOraLob(dataType);
}

bool TCustomOraSQLGenerator::IsObjectDataType(TDataType dataType) {
    return TDASQLGenerator::IsObjectDataType(dataType) || dataType == dtTable;
}

bool TCustomOraSQLGenerator::IsOraLob(TDataType dataType) const {
    return dataType == dtOraBlob || dataType == dtOraClob || dataType == dtWideOraClob;
}

bool TCustomOraSQLGenerator::LobPlaceholders() const {
    return !OraDataSet()->Options().TemporaryLobUpdate();
}

bool TCustomOraSQLGenerator::FieldIsNull(TFieldDesc* desc, bool oldValue, TData* data, void* oldRecBuf,
                                         void* newRecBuf) {
    if (desc == sequenceField_ && sequenceField_) return false;
    return TDASQLGenerator::FieldIsNull(desc, oldValue, data, oldRecBuf, newRecBuf);
}

AnsiString TCustomOraSQLGenerator::GenerateIndexName(const AnsiString& name) {
    return "\"_" + name + "\"";
}

void TCustomOraSQLGenerator::AddParam(AnsiString& builder, TFieldDesc* desc, TStatementType statementType,
                                      db::TParamType paramType, int index, bool old) {
    // ROWID never changes under an update: its parameter always carries the old value.
    if (desc == service_->IdentityField()) old = true;
    TDASQLGenerator::AddParam(builder, desc, statementType, paramType, index, old);
}

void TCustomOraSQLGenerator::AddFieldToInsertSQL(TFieldDesc* desc, int index) {
    const bool lob = LobPlaceholders() && IsOraLob(desc->DataType);
    const bool sequence = desc == sequenceField_ && sequenceInInsert_;
    if (!lob && !sequence) {
        TDASQLGenerator::AddFieldToInsertSQL(desc, index);
        return;
    }
    if (!fieldList_.empty()) {
        fieldList_ += ", ";
        fieldParamList_ += ", ";
    }
    fieldList_ += GetActualFieldName(desc, false);
    if (sequence)
        fieldParamList_ += OraService()->KeySequence() + ".NEXTVAL";
    else
        fieldParamList_ += desc->DataType == dtOraBlob ? "EMPTY_BLOB()" : "EMPTY_CLOB()";
}

void TCustomOraSQLGenerator::AddFieldToUpdateSQL(TFieldDesc* desc, bool modifiedOnly, int index) {
    if (!(LobPlaceholders() && IsOraLob(desc->DataType))) {
        TDASQLGenerator::AddFieldToUpdateSQL(desc, modifiedOnly, index);
        return;
    }
    if (!fieldList_.empty()) fieldList_ += ", ";
    fieldList_ += GetActualFieldName(desc, false) + "=";
    if (modifiedOnly && FieldIsNull(desc, false))
        fieldList_ += "NULL";
    else
        fieldList_ += desc->DataType == dtOraBlob ? "EMPTY_BLOB()" : "EMPTY_CLOB()";
}

bool TCustomOraSQLGenerator::SequenceInsideInsert() {
    if (TOraSession* s = OraDataSet()->Session())
        if (auto* c = dynamic_cast<TOCIConnection*>(s->GetIConnection()); c && c->GetConnected())
            return c->GetOCICallStyle() == ocsOCI8 && c->GetOracleVersion() > 7999;
    return true;
}

void TCustomOraSQLGenerator::AddReturning(const AnsiString& names, const AnsiString& params) {
    if (!names.empty()) footer_ += AnsiString(SLLineSeparator) + "RETURNING" + SLLineSeparator + "  " + names;
    if (!params.empty()) footer_ += AnsiString(SLLineSeparator) + "INTO" + SLLineSeparator + "  " + params;
}

void TCustomOraSQLGenerator::GenerateInsertSQL(const TKeyAndDataFields& fields, bool modifiedOnly,
                                               int index) {
    struct Reset {
        TCustomOraSQLGenerator* g;
        ~Reset() {
            g->sequenceField_ = nullptr;
            g->sequenceInInsert_ = false;
            g->lobFlag_ = false;
        }
    } reset{this};
    TOraDataSet* ds = OraDataSet();
    if (OraService()->KeyGeneratorField() && ds->SequenceMode() == smPost && !fields.KeyFieldDescs.empty()) {
        sequenceField_ = fields.KeyFieldDescs[0];
        sequenceInInsert_ = SequenceInsideInsert();
        if (!sequenceInInsert_) {
            header_ = "begin" + AnsiString(SLLineSeparator) + "  SELECT " + OraService()->KeySequence() +
                      ".NEXTVAL INTO ";
            AddParam(header_, sequenceField_, stInsert, db::ptUnknown, index, false);
            header_ += " FROM Dual;" + AnsiString(SLLineSeparator) + SLLineSeparator + "  ";
        }
    }
    lobFlag_ = false;
    if (LobPlaceholders())
        for (TFieldDesc* desc : fields.DataFieldDescs)
            if (IsOraLob(desc->DataType)) lobFlag_ = true;
    const AnsiString prefix = header_;
    TDASQLGenerator::GenerateInsertSQL(fields, modifiedOnly, index);
    if (fieldList_.empty()) {
        // Every field is null: all of them are written. The SELECT INTO prefix stays.
        Clear();
        header_ = prefix;
        TDASQLGenerator::GenerateInsertSQL(fields, false, index);
    }
    if (ds->DMLRefresh() || lobFlag_ || sequenceField_) {
        AnsiString names, params;
        for (TFieldDesc* desc : fields.DataFieldDescs) {
            const bool returned =
                (ds->DMLRefresh() && !TDASQLGenerator::IsBlobDataType(desc->DataType)) ||
                (lobFlag_ && IsOraLob(desc->DataType) && !(modifiedOnly && FieldIsNull(desc, false))) ||
                (desc == sequenceField_ && sequenceInInsert_);
            if (!returned) continue;
            if (!names.empty()) {
                names += ", ";
                params += ", ";
            }
            names += GetActualFieldName(desc, false);
            AddParam(params, desc, stInsert, db::ptUnknown, index, false);
        }
        AddReturning(names, params);
    }
    if (sequenceField_ && !sequenceInInsert_) footer_ += ";" + AnsiString(SLLineSeparator) + "end;";
}

void TCustomOraSQLGenerator::GenerateUpdateSQL(const TKeyAndDataFields& fields, bool modifiedOnly,
                                               int index) {
    struct Reset {
        TCustomOraSQLGenerator* g;
        ~Reset() { g->lobFlag_ = false; }
    } reset{this};
    lobFlag_ = false;
    if (LobPlaceholders())
        for (TFieldDesc* desc : fields.DataFieldDescs)
            if (IsOraLob(desc->DataType)) lobFlag_ = true;
    TDASQLGenerator::GenerateUpdateSQL(fields, modifiedOnly, index);
    if (fieldList_.empty() || !(OraDataSet()->DMLRefresh() || lobFlag_)) return;
    AnsiString names, params;
    for (TFieldDesc* desc : fields.DataFieldDescs) {
        const bool returned =
            (OraDataSet()->DMLRefresh() && !IsBlobDataType(desc->DataType)) ||
            (lobFlag_ && IsOraLob(desc->DataType) && (!modifiedOnly || FieldModified(desc)));
        if (!returned) continue;
        if (!names.empty()) {
            names += ", ";
            params += ", ";
        }
        names += GetActualFieldName(desc, false);
        AddParam(params, desc, stUpdate, db::ptUnknown, index, false);
    }
    AddReturning(names, params);
}

void TCustomOraSQLGenerator::GenerateLockSQL(const TKeyAndDataFields& fields, int index) {
    header_ = "SELECT * FROM " + TableName();
    middle_ = AnsiString(SLLineSeparator) + "WHERE" + SLLineSeparator + "  ";
    GenerateConditions(condition_, stLock, index, fields);
    footer_ = AnsiString(SLLineSeparator) + "FOR UPDATE NOWAIT";
}

AnsiString TCustomOraSQLGenerator::GenerateTableSQL(const AnsiString& tableName,
                                                    const AnsiString& orderFields) {
    CheckRecordSet();
    const AnsiString keys = rtl::Trim(dataSet_->KeyFields());
    const AnsiString table = SQLInfo()->NormalizeName(tableName, QuoteNames());
    AnsiString sql = keys.empty() || rtl::UpperCase(keys) == "ROWID"
                         ? "SELECT T.RowId, T.*\r\nFROM " + table + " T\r\n"
                         : "SELECT T.*\r\nFROM " + table + " T\r\n";
    AnsiString order = rtl::Trim(orderFields);
    if (!order.empty()) {
        for (char& c : order)
            if (c == ';') c = ',';
        sql += "ORDER BY " + order + "\r\n";
    }
    return sql;
}

AnsiString TCustomOraSQLGenerator::GenerateSelectValues(const AnsiString& values) {
    return "SELECT " + values + " FROM Dual";
}

bool TOraSQLGenerator::FieldModified(TFieldDesc* desc) {
    if (desc->DataType == dtXML && !desc->HasParent()) {
        // The texts of the record before and after the edit.
        auto* before =
            dynamic_cast<TOraXML*>(OldRecBuf() ? Data()->GetObject(desc->FieldNo, OldRecBuf()) : nullptr);
        auto* after =
            dynamic_cast<TOraXML*>(NewRecBuf() ? Data()->GetObject(desc->FieldNo, NewRecBuf()) : nullptr);
        if (!before || !after) return true;
        if (before == after) return false;
        if (before->GetIsNull() || after->GetIsNull()) return before->GetIsNull() != after->GetIsNull();
        return before->GetAsString() != after->GetAsString();
    }
    if (desc->DataType == dtTable || desc->DataType == dtReference) {
        if (dataSet_->CachedUpdates()) return true;
        db::TField* field = dataSet_->GetField(desc);
        if (auto* blob = dynamic_cast<db::TBlobField*>(field)) return blob->Modified();
        // A collection changed through its nested dataset.
        if (auto* nested = dynamic_cast<TOraDataSetField*>(field)) return nested->Changed();
        return false;
    }
    return TDASQLGenerator::FieldModified(desc);
}

}  // namespace dac
