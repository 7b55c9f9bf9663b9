// SQL text routines (WHERE and ORDER BY without a full parse) and macros: both read the text
// through the SQL lexer, so that quoted text and comments never count.
#include <algorithm>

#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

struct Lexem {
    int code;
    AnsiString text;
    int64_t start;  // 0-based, end exclusive
    int64_t end;
};

struct LexOptions {
    bool blanks = false;
    bool comments = false;
    bool upper = true;
};

std::vector<Lexem> Tokenize(const AnsiString& sql, TSQLParserClass parserClass, LexOptions o,
                            std::unique_ptr<TSQLParser>* keep = nullptr) {
    auto parser = parserClass(sql);
    parser->SkipBlanks = !o.blanks;
    parser->SkipComments = !o.comments;
    parser->UpperKeywords = o.upper;
    parser->ToBegin();
    std::vector<Lexem> out;
    AnsiString lexem;
    for (;;) {
        int code = parser->GetNext(lexem);
        if (code == lxEnd) break;
        const int64_t end = parser->CurrPos();
        // The scan starts where the skipped blanks began.
        int64_t start = std::max<int64_t>(parser->ScanStartPos(), 0);
        if (!o.blanks)
            while (start < end && static_cast<unsigned char>(sql[static_cast<size_t>(start)]) <= ' ') ++start;
        out.push_back({code, lexem, start, end});
    }
    if (keep) *keep = std::move(parser);
    return out;
}

bool IsSymbol(const Lexem& l, const char* text) {
    return l.code != lxString && l.code != lxComment && l.text == text;
}

int FirstSelect(const std::vector<Lexem>& lexems) {
    for (size_t i = 0; i < lexems.size(); ++i)
        if (lexems[i].code == lxSELECT) return static_cast<int>(i);
    return -1;
}

void Depth(const Lexem& l, int& depth, bool floorAtZero) {
    if (IsSymbol(l, "("))
        ++depth;
    else if (IsSymbol(l, ")")) {
        --depth;
        if (floorAtZero && depth < 0) depth = 0;
    }
}

bool IsBlank(const Lexem& l) {
    return l.code == lxBlank;
}

AnsiString ReplaceClause(const AnsiString& sql, const AnsiString& value, TSQLParserClass parserClass,
                         bool orderBy) {
    std::unique_ptr<TSQLParser> parser;
    auto lexems = Tokenize(sql, parserClass, {true, false, true}, &parser);
    int i = FirstSelect(lexems);
    if (i < 0) return sql;
    int depth = 0;
    int64_t start = -1;
    int64_t lastBlank = -1;
    for (++i; i < static_cast<int>(lexems.size()); ++i) {
        const Lexem& l = lexems[static_cast<size_t>(i)];
        if (IsBlank(l)) {
            if (lastBlank < 0) lastBlank = l.start;
            continue;
        }
        if (depth == 0) {
            bool isClause = parser->IsClauseLexem(l.code);
            bool isTarget = false;
            int bodyAt = i + 1;
            if (!orderBy && l.code == lxWHERE) isTarget = true;
            if (orderBy && l.code == lxORDER) {
                int j = i + 1;
                while (j < static_cast<int>(lexems.size()) && IsBlank(lexems[static_cast<size_t>(j)])) ++j;
                if (j < static_cast<int>(lexems.size()) &&
                    rtl::SameText(lexems[static_cast<size_t>(j)].text, "BY")) {
                    isTarget = true;
                    bodyAt = j + 1;
                }
            }
            if (isTarget) {
                if (!value.empty())
                    start = bodyAt < static_cast<int>(lexems.size()) ? lexems[static_cast<size_t>(bodyAt)].end
                                                                     : static_cast<int64_t>(sql.size());
                else
                    start = lastBlank >= 0 ? lastBlank : l.start;
                i = bodyAt - 1;
                lastBlank = -1;
                continue;
            }
            bool stops = orderBy ? isClause && parser->CompareClauses(l.code, lxORDER) > 0 : isClause;
            if (stops) break;
        }
        Depth(l, depth, orderBy);
        lastBlank = -1;
    }
    int64_t end = lastBlank >= 0 ? lastBlank : static_cast<int64_t>(sql.size());
    AnsiString result = sql;
    const bool had = start >= 0;
    if (had && end > start) result.erase(static_cast<size_t>(start), static_cast<size_t>(end - start));
    if (value.empty()) return result;
    if (had) {
        result.insert(static_cast<size_t>(start), value);
        return result;
    }
    AnsiString text = (orderBy ? " ORDER BY " : " WHERE ") + value;
    if (result.substr(0, static_cast<size_t>(end)).find('\r') != AnsiString::npos) text = "\r " + text;
    result.insert(static_cast<size_t>(end), text);
    return result;
}

}  // namespace

AnsiString AddWhereCondition(const AnsiString& sql, const AnsiString& condition, TSQLParserClass parserClass,
                             bool commentsAsLexems) {
    if (rtl::Trim(condition).empty()) return sql;
    std::unique_ptr<TSQLParser> parser;
    auto lexems = Tokenize(sql, parserClass, {false, commentsAsLexems, true}, &parser);
    int i = FirstSelect(lexems);
    if (i < 0) return sql;
    int depth = 0;
    int64_t conditionStart = -1;  // where the existing condition begins
    bool hasWhere = false;
    int stop = -1;
    for (++i; i < static_cast<int>(lexems.size()); ++i) {
        const Lexem& l = lexems[static_cast<size_t>(i)];
        if (depth == 0 && l.code == lxWHERE) {
            const bool afterMacro =
                i > 0 && l.code != lxString &&
                IsSymbol(lexems[static_cast<size_t>(i - 1)], std::string(1, MacroChar).c_str());
            if (!afterMacro && !hasWhere) {
                hasWhere = true;
                conditionStart = i + 1 < static_cast<int>(lexems.size())
                                     ? lexems[static_cast<size_t>(i + 1)].start
                                     : static_cast<int64_t>(sql.size());
                continue;
            }
        }
        if (depth == 0 && l.code != lxWHERE && parser->IsClauseLexem(l.code)) {
            stop = i;
            break;
        }
        Depth(l, depth, false);
    }
    const AnsiString added = hasWhere ? " AND " + condition + " " : "\rWHERE " + condition + " ";
    AnsiString result = sql;
    if (stop >= 0) {
        const Lexem& prev = lexems[static_cast<size_t>(stop - 1)];
        AnsiString insert = added;
        if (hasWhere) insert = (prev.code == lxComment ? "\r)" : ")") + added;
        result.insert(static_cast<size_t>(prev.end), insert);
        if (hasWhere) result.insert(static_cast<size_t>(conditionStart), "(");
        return result;
    }
    if (hasWhere) {
        const bool lastComment = !lexems.empty() && lexems.back().code == lxComment;
        result.insert(static_cast<size_t>(conditionStart), "(");
        return rtl::Trim(result) + (lastComment ? "\r)" : ")") + added;
    }
    if (!lexems.empty() && IsSymbol(lexems.back(), ";")) {
        result.insert(static_cast<size_t>(lexems.back().start), added);
        return result;
    }
    return rtl::Trim(result) + added;
}

AnsiString ReplaceWhereCondition(const AnsiString& sql, const AnsiString& condition,
                                 TSQLParserClass parserClass) {
    return ReplaceClause(sql, condition, parserClass, false);
}

AnsiString ReplaceOrderBy(const AnsiString& sql, const AnsiString& fields, TSQLParserClass parserClass) {
    AnsiString list = fields;
    std::replace(list.begin(), list.end(), ';', ',');
    return ReplaceClause(sql, list, parserClass, true);
}

AnsiString ExtractOrderBy(const AnsiString& sql, TSQLParserClass parserClass) {
    std::unique_ptr<TSQLParser> parser;
    auto lexems = Tokenize(sql, parserClass, {false, false, true}, &parser);
    int depth = 0;
    int64_t from = -1;
    int64_t to = static_cast<int64_t>(sql.size());
    for (size_t i = 0; i < lexems.size(); ++i) {
        const Lexem& l = lexems[i];
        if (depth == 0 && from < 0 && l.code == lxORDER && i + 1 < lexems.size() &&
            rtl::SameText(lexems[i + 1].text, "BY")) {
            from = lexems[i + 1].end;
            ++i;
            continue;
        }
        if (depth == 0 && from >= 0 && parser->IsClauseLexem(l.code)) to = l.start;
        Depth(l, depth, true);
    }
    if (from < 0) return AnsiString();
    return rtl::Trim(sql.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

TStatementType UpdateKindToStatementType(db::TUpdateKind kind) {
    switch (kind) {
        case db::ukModify:
            return stUpdate;
        case db::ukInsert:
            return stInsert;
        case db::ukDelete:
            return stDelete;
    }
    rtl::Assert(false);
    return stCustom;
}

// ---------------------------------------------------------------------------------------------
// Macros

TMacro::TMacro(rtl::TCollection* collection) : rtl::TCollectionItem(collection) {}

void TMacro::SetValue(const AnsiString& value) {
    if (value == value_) return;
    value_ = value;
    Changed(false);
}

void TMacro::SetActive(bool value) {
    if (value == active_) return;
    active_ = value;
    Changed(false);
}

void TMacro::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TMacro*>(source);
    if (!src) return rtl::TCollectionItem::Assign(source);
    name_ = src->name_;
    SetValue(src->value_);
    SetActive(src->active_);
}

TMacros::TMacros(rtl::TComponent* owner)
    : rtl::TOwnedCollection(owner, rtl::TCollectionItemClass::Of<TMacro>()),
      owner_(owner),
      parserClass_(&CreateParserOf<TSQLParser>) {}

void TMacros::ForEachReference(
    const AnsiString& sql,
    const std::function<void(int64_t start, int64_t end, const AnsiString& name)>& f) const {
    std::unique_ptr<TSQLParser> parser;
    auto lexems = Tokenize(sql, parserClass_, {true, true, false}, &parser);
    const std::string macro(1, MacroChar);
    auto isName = [](int code) { return code == lxIdent || code >= 100; };
    for (size_t i = 0; i + 1 < lexems.size(); ++i) {
        const Lexem& l = lexems[i];
        if (l.text != macro || !parser->IsMacroAllowed(l.code)) continue;
        const Lexem& next = lexems[i + 1];
        if (isName(next.code)) {
            f(l.start, next.end, next.text);
            ++i;
        } else if (next.code == lxNumber && parser->IsNumericMacroNameAllowed()) {
            AnsiString name = next.text;
            int64_t end = next.end;
            if (i + 2 < lexems.size() && isName(lexems[i + 2].code) && lexems[i + 2].start == next.end) {
                name += lexems[i + 2].text;
                end = lexems[i + 2].end;
                ++i;
            }
            f(l.start, end, name);
            ++i;
        }
    }
}

void TMacros::Scan(const AnsiString& sql) {
    if (sql.find(MacroChar) == AnsiString::npos) {
        if (Count() > 0) Clear();
        return;
    }
    std::vector<std::tuple<AnsiString, AnsiString, bool>> found;
    ForEachReference(sql, [&](int64_t, int64_t, const AnsiString& name) {
        for (const auto& m : found)
            if (rtl::AnsiSameText(std::get<0>(m), name)) return;
        if (TMacro* existing = FindMacro(name))
            found.emplace_back(existing->Name(), existing->Value(), existing->Active());
        else
            found.emplace_back(name, AnsiString(), true);
    });
    bool same = static_cast<int>(found.size()) == Count();
    for (int i = 0; same && i < Count(); ++i) {
        const auto& [n, v, a] = found[static_cast<size_t>(i)];
        same = Items(i)->Name() == n && Items(i)->Value() == v && Items(i)->Active() == a;
    }
    if (same) return;
    BeginUpdate();
    try {
        Clear();
        for (const auto& [n, v, a] : found) {
            TMacro* m = Add();
            m->SetName(n);
            m->SetValue(v);
            m->SetActive(a);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMacros::Expand(AnsiString& sql) const {
    AnsiString out;
    int64_t copied = 0;
    ForEachReference(sql, [&](int64_t start, int64_t end, const AnsiString& name) {
        out.append(sql, static_cast<size_t>(copied), static_cast<size_t>(start - copied));
        if (TMacro* m = FindMacro(name)) out += GetMacroValue(m);
        copied = end;
    });
    out.append(sql, static_cast<size_t>(copied), AnsiString::npos);
    sql = out;
}

TMacro* TMacros::FindMacro(const AnsiString& name) const {
    for (int i = 0; i < Count(); ++i)
        if (rtl::AnsiSameText(Items(i)->Name(), name)) return Items(i);
    return nullptr;
}

TMacro* TMacros::MacroByName(const AnsiString& name) const {
    TMacro* m = FindMacro(name);
    if (!m) rtl::DatabaseError(rtl::Format("Macro %s not found", {name}), owner_);
    return m;
}

bool TMacros::IsEqual(const TMacros* other) const {
    if (other == this) return true;
    if (!other || other->Count() != Count()) return false;
    for (int i = 0; i < Count(); ++i) {
        const TMacro* a = Items(i);
        const TMacro* b = other->Items(i);
        if (a->Name() != b->Name() || a->Value() != b->Value() || a->Active() != b->Active()) return false;
    }
    return true;
}

AnsiString TMacros::GetMacroValue(const TMacro* macro) const {
    return macro->Active() ? macro->Value() : AnsiString();
}

void TMacros::Update(rtl::TCollectionItem* item) {
    rtl::TOwnedCollection::Update(item);
    if (UpdateCount() == 0 && OnChange) OnChange(item);
}

}  // namespace dac
