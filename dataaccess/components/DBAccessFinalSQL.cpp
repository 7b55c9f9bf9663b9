// The final SQL text of a dataset: its macros expanded, FilterSQL and the master/detail condition
// added to the WHERE clause; and the pieces of a SELECT the update statements are cut from.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// The lexems of the outer SELECT between a clause keyword and the next clause, as text.
AnsiString OuterClause(const AnsiString& sql, TSQLParserClass parserClass, int clause) {
    std::unique_ptr<TSQLParser> parser = parserClass(sql);
    parser->SkipComments = true;
    AnsiString lexem;
    int depth = 0;
    bool selectSeen = false;
    int64_t start = -1;
    for (int code = parser->GetNext(lexem); code != lxEnd; code = parser->GetNext(lexem)) {
        if (lexem == "(") {
            ++depth;
            continue;
        }
        if (lexem == ")") {
            if (depth > 0) --depth;
            continue;
        }
        if (depth > 0) continue;
        if (!selectSeen) {
            selectSeen = code == lxSELECT;
            continue;
        }
        if (start >= 0 && (parser->IsClauseLexem(code) || code == lxWHERE)) {
            return rtl::Trim(
                sql.substr(static_cast<size_t>(start), static_cast<size_t>(parser->ScanStartPos() - start)));
        }
        if (start < 0 && code == clause) start = parser->CurrPos() + 1;
    }
    return start < 0 ? AnsiString() : rtl::Trim(sql.substr(static_cast<size_t>(start)));
}

}  // namespace

TSQLParserClass TCustomDADataSet::SQLParserClass() {
    return &CreateParserOf<TSQLParser>;
}

AnsiString TCustomDADataSet::AddWhereToSQL(const AnsiString& sql, const AnsiString& condition) {
    return AddWhereCondition(sql, condition, SQLParserClass());
}

AnsiString TCustomDADataSet::ExtractFromList(const AnsiString& sql) {
    return OuterClause(sql, SQLParserClass(), lxFROM);
}

AnsiString TCustomDADataSet::ExtractWhereCondition(const AnsiString& sql) {
    return OuterClause(sql, SQLParserClass(), lxWHERE);
}

AnsiString TCustomDADataSet::GetBaseSQL() {
    AnsiString text = SQL().Text();
    if (Macros().Count() > 0) Macros().Expand(text);
    return text;
}

AnsiString TCustomDADataSet::GetFinalSQL() {
    AnsiString text = internalSQL_->GetFinalSQL();
    if (!filterSQL_.empty()) text = AddWhereToSQL(text, filterSQL_);
    if (MasterSource() && !masterFields_.empty() && !detailFields_.empty() &&
        !options_->LocalMasterDetail()) {
        TSQLInfo* info = GetICommand() ? GetICommand()->SQLInfo() : nullptr;
        const bool quote = options_->QuoteNames();
        auto name = [&](const AnsiString& n) { return info ? info->NormalizeName(n, quote) : n; };
        AnsiString condition;
        int mpos = 1, dpos = 1;
        while (mpos <= static_cast<int>(masterFields_.size()) &&
               dpos <= static_cast<int>(detailFields_.size())) {
            const AnsiString master = db::ExtractFieldName(masterFields_, mpos);
            const AnsiString detail = db::ExtractFieldName(detailFields_, dpos);
            if (master.empty() || detail.empty()) break;
            if (!condition.empty()) condition += " and ";
            condition += name(detail) + " = :" + name(master);
        }
        if (!condition.empty()) text = AddWhereToSQL(text, condition);
    }
    return text;
}

void TCustomDADataSet::SetFilterSQL(const AnsiString& value) {
    const AnsiString trimmed = rtl::Trim(value);
    if (trimmed == filterSQL_) return;
    const AnsiString old = filterSQL_;
    filterSQL_ = trimmed;
    const bool wasActive = Active();
    if (!ComponentState().Contains(rtl::csLoading)) {
        Close();
        UnPrepare();
    }
    ResetSQL();
    if (!wasActive) return;
    try {
        Open();
    } catch (...) {
        filterSQL_ = old;
        ResetSQL();
        throw;
    }
    if (Filtered() && !Filter().empty()) {
        GetIRecordSet()->FilterUpdated();
        Resync({});
        First();
    }
}

}  // namespace dac
