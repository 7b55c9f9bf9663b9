#include <algorithm>

#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

bool IsWord(int code) {
    return code == lxIdent || code >= 100;
}

bool IsJoinWord(int code) {
    return code == lxFULL || code == lxINNER || code == lxJOIN || code == lxLEFT || code == lxRIGHT;
}

bool Is(int code, const AnsiString& lexem, const char* symbol) {
    return (code == lxSymbolChar || code > 0) && code < 100 && lexem == symbol;
}

// Reads lexemes with their codes.
struct Reader {
    explicit Reader(TSQLParser& p) : parser(p) {}
    TSQLParser& parser;
    int code = lxEnd;
    AnsiString lexem;
    int prevCode = lxEnd;
    AnsiString prevLexem;
    int Next() {
        prevCode = code;
        prevLexem = lexem;
        return code = parser.GetNext(lexem);
    }
    bool At(const char* symbol) const { return Is(code, lexem, symbol); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSQLInfo

void TSQLInfo::SetCommand(TCRCommand* command, TSQLParserClass parserClass) {
    command_ = command;
    parserClass_ = parserClass;
}

std::unique_ptr<TSQLParser> TSQLInfo::CreateParser(const AnsiString& sql) const {
    rtl::Assert(parserClass_ != nullptr, "SQL info has no command");
    return parserClass_(sql);
}

void TSQLInfo::ParseColumnSuffix(TSQLParser&, int&, AnsiString&) {}

AnsiString TSQLInfo::Quote(const AnsiString& value, char left, char right) const {
    if (IsQuoted(value)) return value;
    return AnsiString(1, left) + value + AnsiString(1, right);
}

AnsiString TSQLInfo::UnQuote(const AnsiString& value) const {
    if (IsQuoted(value)) return value.substr(1, value.size() - 2);
    return value;
}

bool TSQLInfo::IsQuoted(const AnsiString& value) const {
    return value.size() > 1 && value.front() == LeftQuote() && value.back() == RightQuote();
}

bool TSQLInfo::NeedQuote(const AnsiString& value) const {
    if (value.empty()) return false;
    const int identCase = IdentCase();
    auto letter = [identCase](char ch) {
        const bool upper = ch >= 'A' && ch <= 'Z';
        const bool lower = ch >= 'a' && ch <= 'z';
        return identCase == 0 ? upper : identCase == 1 ? lower : (upper || lower);
    };
    if (!letter(value[0])) return true;
    for (size_t i = 1; i < value.size(); ++i) {
        const char ch = value[i];
        if (!(letter(ch) || (ch >= '0' && ch <= '9') || ch == '$' || ch == '_')) return true;
    }
    return false;
}

AnsiString TSQLInfo::NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                                   bool unQuoteNames) const {
    if (value.empty()) return {};
    size_t sep = AnsiString::npos;
    if (value.front() == left) {
        const size_t q = value.find(AnsiString(1, right) + ".", 1);
        if (q != AnsiString::npos) sep = q + 1;
    } else {
        sep = value.find('.');
    }
    if (sep != AnsiString::npos)
        return NormalizeName(value.substr(0, sep), left, right, quoteNames, unQuoteNames) + "." +
               NormalizeName(value.substr(sep + 1), left, right, quoteNames, unQuoteNames);

    AnsiString result = value;
    if (!quoteNames && !IsQuoted(value)) {
        switch (IdentCase()) {
            case 0:
                result = LocaleUpperCase(result);
                break;
            case 1:
                result = LocaleLowerCase(result);
                break;
            default:
                break;
        }
    }
    if (unQuoteNames) return UnQuote(result);
    if (quoteNames || NeedQuote(result)) return Quote(result, left, right);
    return UnQuote(result);
}

void TSQLInfo::SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const {
    info = TSQLObjectInfo();
    std::vector<AnsiString> parts;
    bool quoted = false;
    size_t end = name.size();
    for (size_t i = name.size(); i-- > 0;) {
        const char ch = name[i];
        if (quoted) {
            if (ch == LeftQuote()) quoted = false;
        } else if (ch == RightQuote()) {
            quoted = true;
        } else if (ch == '.') {
            parts.push_back(name.substr(i + 1, end - i - 1));
            end = i;
        }
    }
    parts.push_back(name.substr(0, end));
    info.Name = parts[0];
    if (parts.size() > 1) info.Schema = parts[1];
    if (parts.size() > 2) info.Catalog = parts[2];
}

void TSQLInfo::ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables) {
    tables.Clear();
    auto parser = CreateParser(sql);
    parser->SkipComments = true;
    tables.BeginUpdate();
    struct EndUpdate {
        TCRTablesInfo& t;
        ~EndUpdate() { t.EndUpdate(); }
    } endUpdate{tables};

    Reader r(*parser);
    while (r.Next() != lxEnd && r.code != lxSELECT) {
    }
    if (r.code == lxEnd) return;
    int depth = 0;
    while (r.Next() != lxEnd) {
        if (r.At("("))
            ++depth;
        else if (r.At(")"))
            --depth;
        else if (r.code == lxFROM && depth == 0)
            break;
    }
    if (r.code == lxEnd) return;
    r.Next();

    for (;;) {
        AnsiString name;
        bool expectPart = true;
        for (;;) {
            if (IsWord(r.code)) {
                if (!expectPart) break;
                name += r.lexem;
                expectPart = false;
            } else if (r.At(".")) {
                name += ".";
                expectPart = true;
            } else {
                break;
            }
            r.Next();
        }
        if (!name.empty()) {
            if (r.code == lxAS) r.Next();
            AnsiString alias;
            if (r.code == lxIdent ||
                (r.code >= 100 && !IsJoinWord(r.code) && r.code != lxON && !parser->IsClauseLexem(r.code))) {
                alias = r.lexem;
                r.Next();
            }
            if (!r.At("(")) {
                TCRTableInfo* item = tables.Add();
                item->SetTableName(NormalizeName(name, false, false));
                item->SetTableAlias(NormalizeName(alias, false, false));
            }
        }
        if (r.code == lxEnd) return;
        depth = 0;
        for (;;) {
            if (r.code == lxEnd) return;
            if (depth == 0 && (IsJoinWord(r.code) || r.At(","))) break;
            if (depth == 0 && parser->IsClauseLexem(r.code)) return;
            if (r.At("("))
                ++depth;
            else if (r.At(")"))
                --depth;
            r.Next();
        }
        while (IsJoinWord(r.code) || r.code == lxOUTER) r.Next();
        if (r.At(",")) r.Next();
    }
}

void TSQLInfo::ParseColumnsInfo(const AnsiString& sql, TColumnsInfo& columns) {
    auto parser = CreateParser(sql);
    parser->SkipComments = true;
    Reader r(*parser);
    while (r.Next() != lxEnd && r.code != lxSELECT) {
    }
    if (r.code == lxEnd) return;

    auto nameWord = [&r] { return r.code == lxIdent || (r.code >= 100 && r.code != lxFROM) || r.At("*"); };
    for (;;) {
        r.Next();
        while (parser->IsSelectModifier(r.code)) r.Next();
        AnsiString table, name, alias, expr;
        bool isExpr = false;
        if (nameWord()) {
            name = r.lexem;
            r.Next();
            for (int n = 0; n < 3 && r.At("."); ++n) {
                r.Next();
                if (!nameWord()) {
                    // A dot followed by anything else starts an expression.
                    isExpr = true;
                    expr = (table.empty() ? name : table + "." + name) + ".";
                    break;
                }
                table = table.empty() ? name : table + "." + name;
                name = r.lexem;
                r.Next();
            }
            if (!isExpr) {
                ParseColumnSuffix(*parser, r.code, r.lexem);
                if (r.code == lxAS) r.Next();
                if (r.code == lxIdent || (r.code >= 100 && r.code != lxFROM)) {
                    alias = r.lexem;
                    r.Next();
                }
            }
        }

        int depth = 0;
        while (r.code != lxEnd && !(depth == 0 && (r.At(",") || r.code == lxFROM))) {
            if (!isExpr) {
                isExpr = true;
                expr = table.empty() ? name : table + "." + name;
                alias.clear();
            }
            if (r.At("(")) {
                ++depth;
            } else if (r.At(")")) {
                --depth;
                if (depth == 0) expr += r.lexem;
            } else if (depth == 0) {
                if (r.code == lxAS) {
                    // skipped
                } else if (IsWord(r.code) &&
                           (r.prevCode == lxIdent || r.prevCode == lxNumber || r.prevCode == lxString ||
                            r.prevCode >= 100 || Is(r.prevCode, r.prevLexem, ")"))) {
                    expr += alias;
                    alias = r.lexem;
                } else {
                    expr += r.lexem;
                }
            }
            r.Next();
        }

        if (!isExpr && table.empty() && parser->IsFunctionOrConst(name)) {
            isExpr = true;
            expr = name;
        }
        TColumnInfo* column = columns.Add();
        if (isExpr) {
            column->Expr = expr;
        } else {
            column->Name = NormalizeName(name, false, true);
            column->Table = NormalizeName(table, false, true);
        }
        column->TableNo = -1;
        column->TableAlias = NormalizeName(alias, false, true);
        if (!r.At(",")) return;
    }
}

// ---------------------------------------------------------------------------------------------
// TCRTableInfo / TCRTablesInfo

void TCRTableInfo::SetTableName(const AnsiString& value) {
    tableName_ = value;
    if (owner_ && owner_->updateCount_ == 0) owner_->RebuildIndex(true);
}

void TCRTableInfo::SetTableAlias(const AnsiString& value) {
    tableAlias_ = value;
    if (owner_ && owner_->updateCount_ == 0) owner_->RebuildIndex(false);
}

TCRTablesInfo::TCRTablesInfo(TTableInfoClass itemClass) : itemClass_(itemClass) {}

TCRTablesInfo::~TCRTablesInfo() = default;

TCRTableInfo* TCRTablesInfo::Add() {
    std::unique_ptr<TCRTableInfo> item = itemClass_ ? itemClass_(this) : std::make_unique<TCRTableInfo>(this);
    item->owner_ = this;
    item->index_ = Count();
    items_.push_back(std::move(item));
    if (updateCount_ == 0) {
        RebuildIndex(true);
        RebuildIndex(false);
    }
    return items_.back().get();
}

void TCRTablesInfo::Clear() {
    items_.clear();
    namesIndex_.clear();
    aliasesIndex_.clear();
}

TCRTableInfo* TCRTablesInfo::Items(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)].get();
}

void TCRTablesInfo::SetCaseSensitive(bool value) {
    caseSensitive_ = value;
    RebuildIndex(true);
    RebuildIndex(false);
}

void TCRTablesInfo::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    if (updateCount_ == 0) {
        RebuildIndex(true);
        RebuildIndex(false);
    }
}

int TCRTablesInfo::CompareKeys(const AnsiString& a, const AnsiString& b) const {
    return caseSensitive_ ? rtl::AnsiCompareStr(a, b) : rtl::AnsiCompareText(a, b);
}

void TCRTablesInfo::RebuildIndex(bool names) {
    TIndex& index = names ? namesIndex_ : aliasesIndex_;
    index.clear();
    for (const auto& item : items_)
        index.emplace_back(names ? item->tableName_ : item->tableAlias_, item.get());
    // Sorted, keeping only the first item of equal keys.
    std::stable_sort(index.begin(), index.end(),
                     [this](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) < 0; });
    index.erase(
        std::unique(index.begin(), index.end(),
                    [this](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) == 0; }),
        index.end());
}

int TCRTablesInfo::Find(const TIndex& index, bool names, const AnsiString& key) const {
    if (updateCount_ > 0) {
        for (const auto& item : items_) {
            const AnsiString& value = names ? item->tableName_ : item->tableAlias_;
            if (caseSensitive_ ? value == key : rtl::AnsiSameText(value, key)) return item->index_;
        }
        return -1;
    }
    auto it = std::lower_bound(
        index.begin(), index.end(), key,
        [this](const auto& entry, const AnsiString& k) { return CompareKeys(entry.first, k) < 0; });
    if (it != index.end() && CompareKeys(it->first, key) == 0) return it->second->index_;
    return -1;
}

int TCRTablesInfo::IndexByName(const AnsiString& name) const {
    return Find(namesIndex_, true, name);
}

int TCRTablesInfo::IndexByAlias(const AnsiString& alias) const {
    return Find(aliasesIndex_, false, alias);
}

// ---------------------------------------------------------------------------------------------
// TColumnsInfo

TColumnInfo* TColumnsInfo::Add() {
    items_.push_back(std::make_unique<TColumnInfo>());
    return items_.back().get();
}

TColumnInfo* TColumnsInfo::Insert(int index) {
    if (index < 0 || index > Count())
        throw rtl::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return items_.insert(items_.begin() + index, std::make_unique<TColumnInfo>())->get();
}

TColumnInfo* TColumnsInfo::Items(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::Exception("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)].get();
}

}  // namespace dac
