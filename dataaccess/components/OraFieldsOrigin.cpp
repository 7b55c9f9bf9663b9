// The Oracle data-dictionary lookup behind field origins: the columns of the query's tables from
// all_tab_columns (locally or over the table's database link), tables reached through synonyms
// from all_synonyms, and the remote schema of a link from all_db_links. Names go to the server as
// bind values, never pasted into the text.
#include "dataaccess/components/Ora.h"
#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

constexpr int kLookUp = 1;
constexpr int kInPass = 2;
constexpr int kFromSynonym = 8;
// Synonym chains longer than this (or cyclic ones) are given up.
constexpr int kMaxRounds = 10;

AnsiString DbLinkSuffix(const AnsiString& link) {
    return link.empty() ? AnsiString() : "@" + link;
}

struct TDictRow {
    AnsiString owner, table, column, dataDefault;
};

class TOraFieldsLookup {
public:
    TOraFieldsLookup(TOraSession* session, TDATransaction* transaction, TExtTablesInfo& tables,
                     TColumnsInfo& columns, int updating, bool added, bool fieldsOrigin, bool defaultValues,
                     std::vector<AnsiString>& log)
        : session_(session),
          tables_(tables),
          columns_(columns),
          updating_(updating),
          added_(added),
          fieldsOrigin_(fieldsOrigin),
          defaultValues_(defaultValues),
          log_(log) {
        query_.SetSession(session);
        if (transaction) query_.SetTransaction(transaction);
        query_.InternalSQL()->NoMonitor = true;
        query_.SetReadOnly(true);
        query_.SetFetchAll(true);
    }

    void Run() {
        const AnsiString schema = session_->Schema();
        for (size_t i = 0; i < tables_.size(); ++i) {
            if (tables_[i].Schema.empty()) tables_[i].Schema = schema;
            if (fieldsOrigin_ || static_cast<int>(i) == updating_) tables_[i].Flag |= kLookUp;
        }
        for (int round = 0;; ++round) {
            if (!ResolveColumns()) break;
            if (round + 1 >= kMaxRounds) {
                for (TExtTableInfo& t : tables_) t.Flag = 0;
                break;
            }
            ResolveSynonyms();
        }
    }

private:
    // Opens the query with the values bound to :P1, :P2, ... in order and reads every row.
    std::vector<std::vector<AnsiString>> Select(const AnsiString& sql,
                                                const std::vector<AnsiString>& values) {
        query_.Close();
        query_.SQL().SetText(sql);
        for (size_t i = 0; i < values.size(); ++i) {
            TOraParam* p = query_.ParamByName("P" + std::to_string(i + 1));
            p->SetDataType(db::ftString);
            p->SetAsString(values[i]);
        }
        log_.push_back(sql);
        query_.Open();
        std::vector<std::vector<AnsiString>> rows;
        while (!query_.Eof()) {
            std::vector<AnsiString> row;
            for (int f = 0; f < query_.FieldCount(); ++f) row.push_back(query_.Fields()[f]->AsString());
            rows.push_back(std::move(row));
            query_.Next();
        }
        query_.Close();
        return rows;
    }

    // Puts the tables of one database link into the pass (bit 2); answers the link, or nothing
    // when no table is left. leftOver tells whether a table of another link waits.
    std::vector<int> CollectPass(AnsiString& link, bool& leftOver) {
        std::vector<int> pass;
        leftOver = false;
        for (size_t i = 0; i < tables_.size(); ++i) {
            TExtTableInfo& t = tables_[i];
            if (!(t.Flag & kLookUp) || (t.Flag & kInPass)) continue;
            if (pass.empty()) link = t.DBLink;
            if (t.DBLink != link) {
                leftOver = true;
                continue;
            }
            t.Flag |= kInPass;
            pass.push_back(static_cast<int>(i));
        }
        return pass;
    }

    int TableOf(const AnsiString& owner, const AnsiString& table) const {
        for (size_t i = 0; i < tables_.size(); ++i)
            if (tables_[i].Schema == owner && tables_[i].Table == table) return static_cast<int>(i);
        return -1;
    }

    void ClearFlags(int index) {
        if (index >= 0) tables_[static_cast<size_t>(index)].Flag = 0;
    }

    // One round over all_tab_columns; true when a table was not found and some column is still
    // not described (the synonyms may tell more).
    bool ResolveColumns() {
        for (TExtTableInfo& t : tables_) t.Flag &= ~kInPass;
        bool retry = false;
        bool first = true;
        for (;;) {
            AnsiString link;
            bool leftOver = false;
            const std::vector<int> pass = CollectPass(link, leftOver);
            if (pass.empty()) {
                if (first) return false;
                break;
            }
            first = false;
            AnsiString conditions;
            std::vector<AnsiString> values;
            for (int i : pass) {
                const TExtTableInfo& t = tables_[static_cast<size_t>(i)];
                if (!conditions.empty()) conditions += " OR";
                const std::string n = std::to_string(values.size() + 1);
                conditions +=
                    " (table_name = :P" + n + " and owner = :P" + std::to_string(values.size() + 2) + ")";
                values.push_back(t.Table);
                values.push_back(t.Schema);
            }
            const AnsiString sql = AnsiString("SELECT owner, table_name, column_name") +
                                   (defaultValues_ ? ", data_default, data_type" : "") +
                                   " FROM all_tab_columns" + DbLinkSuffix(link) + " WHERE" + conditions +
                                   " ORDER BY owner, table_name, column_id";
            std::vector<TDictRow> rows;
            bool failed = false;
            try {
                for (auto& r : Select(sql, values))
                    rows.push_back({r[0], r[1], r[2], defaultValues_ ? r[3] : AnsiString()});
            } catch (const rtl::Exception&) {
                // A dictionary the session cannot read (a broken link, say) tells nothing: the
                // pass's tables are given up and their columns stay without table.
                failed = true;
            }
            if (failed) {
                for (int i : pass) ClearFlags(i);
            } else {
                DescribeColumns(rows);
                for (int i : pass) {
                    TExtTableInfo& t = tables_[static_cast<size_t>(i)];
                    if (!(t.Flag & kLookUp)) continue;
                    bool found = false;
                    for (const TDictRow& r : rows)
                        if (r.owner == t.Schema && r.table == t.Table) found = true;
                    if (found)
                        t.Flag = 0;
                    else
                        retry = true;
                }
            }
            if (!leftOver) break;
        }
        if (retry) {
            retry = false;
            for (int i = 0; i < columns_.Count(); ++i)
                if (!columns_[i]->IsDescribed) retry = true;
        }
        return retry;
    }

    void DescribeColumns(const std::vector<TDictRow>& rows) {
        for (int i = 0; i < columns_.Count(); ++i) {
            TColumnInfo* c = columns_[i];
            if (c->IsDescribed) continue;
            if ((c->TableNo < 0 && !c->Table.empty() && !added_) ||
                (!fieldsOrigin_ && c->TableNo >= 0 && c->TableNo != updating_)) {
                c->IsDescribed = true;
                continue;
            }
            if (c->Name != "*") {
                if (c->Name.empty() || c->Name == "ROWID") {
                    c->IsDescribed = true;
                    continue;
                }
                const TDictRow* found = nullptr;
                if (c->TableNo < 0) {
                    for (const TDictRow& r : rows)
                        if (r.column == c->Name) {
                            found = &r;
                            break;
                        }
                } else if (defaultValues_ && c->TableNo == updating_) {
                    const TExtTableInfo& t = tables_[static_cast<size_t>(c->TableNo)];
                    for (const TDictRow& r : rows)
                        if (r.owner == t.Schema && r.table == t.Table && r.column == c->Name) {
                            found = &r;
                            break;
                        }
                } else {
                    c->IsDescribed = true;
                    continue;
                }
                if (!found) continue;
                c->IsDescribed = true;
                if (defaultValues_) c->Expr = found->dataDefault;
                if (c->TableNo < 0) c->TableNo = TableOf(found->owner, found->table);
                ClearFlags(c->TableNo);
                continue;
            }
            // A star: one entry per column of its table (any table when it has none), right after it.
            int produced = 0;
            bool matching = false;
            for (const TDictRow& r : rows) {
                bool match = true;
                if (c->TableNo >= 0) {
                    const TExtTableInfo& t = tables_[static_cast<size_t>(c->TableNo)];
                    match = r.owner == t.Schema && r.table == t.Table;
                    if (!match && matching) break;
                }
                if (!match) continue;
                matching = true;
                columns_.Insert(i + 1 + produced);
                TColumnInfo* e = columns_[i + 1 + produced];
                ++produced;
                e->IsDescribed = true;
                e->Table = c->Table;
                e->TableNo = c->TableNo;
                e->Name = r.column;
                e->TableAlias = r.column;
                if (e->TableNo < 0) {
                    e->TableNo = TableOf(r.owner, r.table);
                    ClearFlags(e->TableNo);
                }
                if (defaultValues_ && e->TableNo >= 0 && e->TableNo == updating_) e->Expr = r.dataDefault;
            }
            if (produced > 0 && c->TableNo >= 0) c->IsDescribed = true;
            i += produced;
        }
    }

    void ResolveSynonyms() {
        for (TExtTableInfo& t : tables_) t.Flag &= ~kInPass;
        for (;;) {
            AnsiString link;
            bool leftOver = false;
            const std::vector<int> pass = CollectPass(link, leftOver);
            if (pass.empty()) break;
            AnsiString conditions;
            std::vector<AnsiString> values;
            for (int i : pass) {
                const TExtTableInfo& t = tables_[static_cast<size_t>(i)];
                if (!conditions.empty()) conditions += " OR";
                conditions += " (synonym_name = :P" + std::to_string(values.size() + 1);
                values.push_back(t.Table);
                if (t.Flag & kFromSynonym)
                    conditions += " AND owner = :P" + std::to_string(values.size() + 1) + ")";
                else
                    conditions += " AND owner IN (:P" + std::to_string(values.size() + 1) + ",'PUBLIC') )";
                values.push_back(t.Schema);
            }
            const AnsiString sql = "SELECT synonym_name, table_owner, table_name, db_link FROM all_synonyms" +
                                   DbLinkSuffix(link) + " WHERE" + conditions +
                                   " ORDER BY decode(owner, 'PUBLIC', 1, 0)";
            const auto rows = Select(sql, values);
            for (int i : pass) {
                TExtTableInfo& t = tables_[static_cast<size_t>(i)];
                if (!(t.Flag & kLookUp)) continue;
                const std::vector<AnsiString>* found = nullptr;
                for (const auto& r : rows)
                    if (r[0] == t.Table) {
                        found = &r;
                        break;
                    }
                if (!found || (!link.empty() && !(*found)[3].empty())) {
                    t.Flag = 0;
                    continue;
                }
                t.Synonym = t.Table;
                t.Table = (*found)[2];
                t.DBLink = (*found)[3];
                t.Schema = (*found)[1];
                t.Flag |= kFromSynonym;
            }
            if (!leftOver) {
                ResolveDbLinks();
                break;
            }
        }
    }

    void ResolveDbLinks() {
        AnsiString conditions;
        std::vector<AnsiString> values{session_->Schema()};
        std::vector<size_t> linked;
        for (size_t i = 0; i < tables_.size(); ++i) {
            const TExtTableInfo& t = tables_[i];
            if (!(t.Flag & kLookUp) || t.DBLink.empty() || !t.Schema.empty()) continue;
            conditions += " AND db_link = :P" + std::to_string(values.size() + 1);
            values.push_back(t.DBLink);
            linked.push_back(i);
        }
        if (linked.empty()) return;
        const AnsiString sql = "SELECT username, db_link FROM all_db_links WHERE owner IN (:P1, 'PUBLIC') " +
                               conditions + " ORDER BY decode(owner, 'PUBLIC', 1, 0) ";
        const auto rows = Select(sql, values);
        for (size_t i : linked) {
            TExtTableInfo& t = tables_[i];
            for (const auto& r : rows)
                if (r[1] == t.DBLink) {
                    t.Schema = r[0];
                    break;
                }
        }
        AnsiString user;
        bool userRead = false;
        for (TExtTableInfo& t : tables_) {
            if (!(t.Flag & kLookUp) || t.DBLink.empty() || !(t.Schema.empty() || t.Schema == "CURRENT_USER"))
                continue;
            if (!userRead) {
                user = OCISQLInfo().NormalizeName(session_->Username(), false, true);
                if (user.empty()) {
                    auto r = Select("SELECT sys_context('USERENV', 'SESSION_USER') FROM dual", {});
                    if (!r.empty()) user = r[0][0];
                }
                userRead = true;
            }
            t.Schema = user;
        }
    }

    TOraSession* session_;
    TExtTablesInfo& tables_;
    TColumnsInfo& columns_;
    int updating_;
    bool added_;
    bool fieldsOrigin_;
    bool defaultValues_;
    std::vector<AnsiString>& log_;
    TOraQuery query_;
};

}  // namespace

void TCustomOraDataSetService::CloseCursor() {
    dictionarySQL_.clear();
    TDADataSetService::CloseCursor();
}

void TCustomOraDataSetService::RequestFieldsInfo(TExtTablesInfo& tables, TColumnsInfo& columns) {
    dictionarySQL_.clear();
    TOraDataSet* ds = OraDataSet();
    TOraSession* session = ds->Session();
    if (!session) return;
    TOraFieldsLookup lookup(session, ds->UsedTransaction(), tables, columns, UpdatingTableIndex(),
                            IsAddedTable(), ds->Options().FieldsOrigin(), ds->Options().DefaultValues(),
                            dictionarySQL_);
    lookup.Run();
}

}  // namespace dac
