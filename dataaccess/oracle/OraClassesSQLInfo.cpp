#include "dataaccess/core/MemUtils.h"
#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraParser.h"

namespace dac {

namespace {

// The first sep outside quotes: for a quoted value it must follow a right quote directly.
size_t FindSeparator(const AnsiString& value, char sep, char right, bool quoted) {
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != sep) continue;
        if (!quoted || (i > 0 && value[i - 1] == right)) return i;
    }
    return AnsiString::npos;
}

bool IsWord(int code) {
    return code == lxIdent || code >= 100;
}

}  // namespace

AnsiString TOCISQLInfo::NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                                      bool unQuoteNames) const {
    if (value.empty()) return {};
    const bool quoted = IsQuoted(value);
    for (char sep : {'.', '@'}) {
        const size_t at = FindSeparator(value, sep, right, quoted);
        if (at != AnsiString::npos)
            return NormalizeName(value.substr(0, at), left, right, quoteNames, unQuoteNames) + sep +
                   NormalizeName(value.substr(at + 1), left, right, quoteNames, unQuoteNames);
    }
    const AnsiString result = (quoted || quoteNames) ? value : LocaleUpperCase(value);
    if (unQuoteNames) return UnQuote(result);
    if (quoteNames || NeedQuote(result)) return Quote(result, left, right);
    return UnQuote(result);
}

void TOCISQLInfo::SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const {
    info = TSQLObjectInfo();
    bool quoted = false;
    AnsiString part;
    auto shift = [&info](const AnsiString& value) {
        info.Schema = info.Name;
        info.Name = value;
    };
    for (size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        if (ch == '"') quoted = !quoted;
        if (!quoted && ch == '.') {
            shift(part);
            part.clear();
        } else if (!quoted && ch == '@') {
            shift(part);
            info.DBLink = name.substr(i + 1);
            return;
        } else {
            part += ch;
        }
    }
    shift(part);
}

void TOCISQLInfo::ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables) {
    tables.Clear();
    TOraParser parser(sql);
    parser.SkipComments = true;
    tables.BeginUpdate();
    struct EndUpdate {
        TCRTablesInfo& t;
        ~EndUpdate() { t.EndUpdate(); }
    } endUpdate{tables};

    AnsiString lexem;
    int code;
    auto next = [&] { return code = parser.GetNext(lexem); };
    auto at = [&](const char* symbol) {
        return (code == lxSymbolChar || (code > 0 && code < 100)) && lexem == symbol;
    };
    // Skips to the ")" that closes the "(" just read; false when the text ends first.
    auto skipParens = [&] {
        int depth = 1;
        while (next() != lxEnd) {
            if (at("("))
                ++depth;
            else if (at(")") && --depth == 0)
                return true;
        }
        return false;
    };

    while (next() != lxEnd && code != lxSELECT) {
    }
    if (code == lxEnd) return;
    int depth = 0;
    while (next() != lxEnd) {
        if (at("("))
            ++depth;
        else if (at(")"))
            --depth;
        else if (code == lxFROM && depth == 0)
            break;
    }
    if (code == lxEnd) return;
    next();

    for (;;) {
        if (IsWord(code)) {
            AnsiString name = lexem;
            next();
            if (at(".")) {
                next();
                if (!IsWord(code)) return;
                name += "." + lexem;
                next();
            }
            if (at("@")) {
                name += "@";
                next();
                while (IsWord(code)) {
                    name += lexem;
                    next();
                    if (!at(".")) break;
                    name += ".";
                    next();
                }
            }
            if (code == lxPARTITION) {
                next();
                if (at("(")) {
                    if (!skipParens()) return;
                    next();
                }
            }
            AnsiString alias;
            if (code == lxIdent || (code >= 100 && code != lxFULL && code != lxINNER && code != lxJOIN &&
                                    code != lxLEFT && code != lxRIGHT && !parser.IsClauseLexem(code))) {
                alias = lexem;
                next();
            }
            TCRTableInfo* item = tables.Add();
            item->SetTableName(TSQLInfo::NormalizeName(name, false, false));
            item->SetTableAlias(TSQLInfo::NormalizeName(alias, false, false));
        } else if (at("(")) {
            if (!skipParens()) return;
            next();
            if (!at(",")) next();
        }
        if (!at(",")) return;
        next();
    }
}

TOCISQLInfo& OCISQLInfo() {
    static TOCISQLInfo instance;
    return instance;
}

}  // namespace dac
