// Field origins: which table of the query each column comes from and under which real name. The
// select list and the table list are read from the text; what the text cannot settle (the
// columns behind "*", columns without a table qualifier) is left to RequestFieldsInfo.
#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

void TDADataSetService::RequestFieldsInfo(TExtTablesInfo&, TColumnsInfo&) {}

void TDADataSetService::DescribeFieldsOrigin() {
    TCRRecordSet* rs = RecordSet();
    if (!rs) return;
    TFieldDescs& descs = rs->Fields();
    // A reopened statement keeps its descriptors while its table list is read afresh.
    for (int i = 0; i < descs.Count(); ++i) {
        if (auto* desc = dynamic_cast<TCRFieldDesc*>(descs[i])) {
            desc->TableInfo = nullptr;
            if (desc->SelectName.empty())
                desc->SelectName = desc->ActualName;
            else if (desc->ActualName != desc->SelectName)
                desc->SetActualName(desc->SelectName);
        }
    }
    TCRTablesInfo& tables = rs->TablesInfo();
    if (tables.Count() == 0) return;
    TCRCommand* command = rs->GetCommand();
    TSQLInfo* info = command->SQLInfo();
    TCustomDADataSet* ds = DADataSet();

    TExtTablesInfo ext(static_cast<size_t>(tables.Count()));
    for (int i = 0; i < tables.Count(); ++i) {
        TSQLObjectInfo parts;
        info->SplitObjectName(tables[i]->TableName(), parts);
        TExtTableInfo& t = ext[static_cast<size_t>(i)];
        t.Table = info->NormalizeName(parts.Name, false, true);
        t.Schema = info->NormalizeName(parts.Schema, false, true);
        t.Catalog = info->NormalizeName(parts.Catalog, false, true);
        t.DBLink = info->NormalizeName(parts.DBLink, false, true);
    }

    TColumnsInfo columns;
    try {
        info->ParseColumnsInfo(ds->GetFinalSQL(), columns);
    } catch (const rtl::Exception&) {
        // A select list the parser cannot follow leaves the fields without origin.
        return;
    }

    std::unique_ptr<TSQLParser> parser;
    if (TSQLParserClass parserClass = command->GetParserClass()) parser = parserClass(AnsiString());
    const bool added = IsAddedTable();
    bool needDictionary = false;
    int starCount = 0;
    int starTable = -1;
    for (int i = 0; i < columns.Count(); ++i) {
        TColumnInfo* c = columns[i];
        if (!c->Table.empty() && !added) {
            for (int t = 0; t < tables.Count() && c->TableNo < 0; ++t) {
                TCRTableInfo* table = tables[t];
                if (!table->TableAlias().empty()) {
                    if (info->NormalizeName(table->TableAlias(), false, true) == c->Table) c->TableNo = t;
                } else if (info->NormalizeName(table->TableName(), false, true) == c->Table ||
                           ext[static_cast<size_t>(t)].Table == c->Table) {
                    c->TableNo = t;
                }
            }
        }
        c->Expr = rtl::UpperCase(c->Expr);
        if (c->TableAlias.empty() && c->Name != "*") c->TableAlias = c->Name.empty() ? c->Expr : c->Name;
        if (c->Name.empty()) continue;
        if (c->Name != "*") {
            if (parser && parser->IsQuasiColumn(c->Name) && c->Table.empty())
                c->TableNo = 0;
            else if (c->Table.empty())
                needDictionary = true;
            continue;
        }
        const int table = (c->Table.empty() || added) ? 0 : c->TableNo;
        if (c->Table.empty() || (starCount > 0 && table != starTable)) needDictionary = true;
        if (starCount == 0) starTable = table;
        ++starCount;
    }

    const bool fieldsOrigin = ds->Options().FieldsOrigin();
    const bool defaultValues = ds->Options().DefaultValues();
    rtl::Variant extended;
    rs->GetProp(prExtendedFieldsInfo, extended);
    needDictionary = needDictionary && (extended.AsBoolean() || defaultValues || fieldsOrigin);
    if (needDictionary || defaultValues) RequestFieldsInfo(ext, columns);

    const bool exact = info->IdentCase() != 2;
    auto same = [exact](const AnsiString& a, const AnsiString& b) {
        return exact ? a == b : rtl::AnsiSameText(a, b);
    };
    auto tableAt = [&tables](int index) -> TCRTableInfo* {
        return index >= 0 && index < tables.Count() ? tables[index] : nullptr;
    };
    for (int i = 0; i < descs.Count(); ++i) {
        auto* desc = dynamic_cast<TCRFieldDesc*>(descs[i]);
        if (!desc || desc->Kind != 0 || desc->HasParent()) continue;
        bool matched = false;
        for (int j = 0; j < columns.Count(); ++j) {
            TColumnInfo* c = columns[j];
            if (c->Used || !same(c->TableAlias, desc->ActualName)) continue;
            if (needDictionary && c->TableNo < 0) continue;
            matched = true;
            if (!c->Name.empty()) c->Used = true;
            desc->TableInfo =
                (c->TableNo < 0 && c->Table.empty() && !needDictionary) ? tableAt(0) : tableAt(c->TableNo);
            if (!c->Name.empty()) {
                desc->SetActualName(c->Name);
                // A computed column has no default; a plain one takes what the dictionary gave.
                desc->DefaultExpression = c->Expr;
            }
            break;
        }
        if (!matched && !needDictionary && starTable >= 0) desc->TableInfo = tableAt(starTable);
    }
}

}  // namespace dac
