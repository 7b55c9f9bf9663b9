// CURSOR(subquery) items in a query's select list. Each fetched row of the query carries, in such a
// column, a cursor over the subquery evaluated with that row's values: the subquery's references to
// the query's tables (qualified names, "d.id") become binds whose values come from hidden columns
// the query reads after its own.
#include <algorithm>
#include <cctype>
#include <set>

#include "platform/oci/StandIn.h"

namespace oci {

struct NestedCursors {
    struct Item {
        size_t column = 0;              // position in the select list
        std::string name;               // the column's name as described
        std::string query;              // the subquery, outer references as :OCI_OUTER_n markers
        std::vector<size_t> outerRefs;  // hidden columns bound into the subquery, in marker order
    };
    std::vector<Item> items;
    size_t hidden = 0;                    // hidden columns after the select list
    std::map<std::string, Value> params;  // the query's own binds, also seen by the subqueries
    std::vector<std::weak_ptr<Cursor>> children;
};

namespace {

bool isWord(const Token& t, const char* w) {
    return t.kind == Token::Ident && !t.quoted && t.text == w;
}

bool isPunct(const Token& t, const char* p) {
    return t.kind == Token::Punct && t.text == p;
}

// The words that end a FROM clause at its own depth.
bool endsFrom(const Token& t) {
    static const char* const words[] = {"WHERE",     "GROUP",  "ORDER",  "HAVING",  "UNION",
                                        "INTERSECT", "MINUS",  "EXCEPT", "CONNECT", "START",
                                        "FETCH",     "OFFSET", "LIMIT",  "FOR"};
    if (t.kind != Token::Ident || t.quoted) return false;
    return std::find_if(std::begin(words), std::end(words), [&](const char* w) { return t.text == w; }) !=
           std::end(words);
}

bool joinWord(const Token& t) {
    static const char* const words[] = {"JOIN",  "LEFT", "RIGHT",   "INNER", "OUTER",
                                        "CROSS", "FULL", "NATURAL", "ON",    "AS",
                                        "USING", "AND",  "OR",      "NOT",   "LATERAL"};
    if (t.kind != Token::Ident || t.quoted) return false;
    return std::find_if(std::begin(words), std::end(words), [&](const char* w) { return t.text == w; }) !=
           std::end(words);
}

// Names a FROM clause introduces (tables and aliases), from every FROM between tokens [b, e).
std::set<std::string> fromNames(const std::vector<Token>& t, size_t b, size_t e) {
    std::set<std::string> names;
    for (size_t k = b; k < e; ++k) {
        if (!isWord(t[k], "FROM")) continue;
        int depth = 0;
        for (size_t j = k + 1; j < e; ++j) {
            if (isPunct(t[j], "(")) ++depth;
            if (isPunct(t[j], ")")) {
                if (depth == 0) break;
                --depth;
                continue;
            }
            if (depth > 0) continue;
            if (endsFrom(t[j])) break;
            if (t[j].kind == Token::Ident && !joinWord(t[j])) names.insert(t[j].text);
        }
    }
    return names;
}

size_t closingParen(const std::vector<Token>& t, size_t open) {
    int depth = 0;
    for (size_t k = open; k < t.size(); ++k) {
        if (isPunct(t[k], "(")) ++depth;
        if (isPunct(t[k], ")") && --depth == 0) return k;
    }
    raise(907, "missing right parenthesis");
}

// Oracle names an expression column by its text in upper case without blanks (quoted parts kept).
std::string expressionName(std::string_view text) {
    std::string out;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            out += c;
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (static_cast<unsigned char>(c) <= ' ') continue;
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool mentionsCursor(const std::string& s) {
    for (size_t k = 0; k + 6 <= s.size(); ++k) {
        if ((s[k] | 0x20) != 'c') continue;
        if (upper(s.substr(k, 6)) != "CURSOR") continue;
        size_t j = k + 6;
        while (j < s.size() && static_cast<unsigned char>(s[j]) <= ' ') ++j;
        if (j < s.size() && s[j] == '(') return true;
    }
    return false;
}

std::string quoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

}  // namespace

std::shared_ptr<NestedCursors> planNestedCursors(const std::string& utf8, std::string& outerText,
                                                 const std::map<std::string, Value>& params) {
    if (!mentionsCursor(utf8)) return nullptr;
    const std::vector<Token> t = tokenize(utf8);
    if (t.empty() || !isWord(t[0], "SELECT")) return nullptr;
    // The select list: up to the FROM at depth 0, items split at commas of depth 0.
    size_t from = 0;
    std::vector<std::pair<size_t, size_t>> items;  // token ranges [b, e)
    {
        int depth = 0;
        size_t start = 1;
        if (start < t.size() && (isWord(t[start], "DISTINCT") || isWord(t[start], "ALL"))) ++start;
        for (size_t k = start; k < t.size() && t[k].kind != Token::End; ++k) {
            if (isPunct(t[k], "(")) ++depth;
            if (isPunct(t[k], ")")) --depth;
            if (depth != 0) continue;
            if (isPunct(t[k], ",")) {
                items.emplace_back(start, k);
                start = k + 1;
            } else if (isWord(t[k], "FROM")) {
                items.emplace_back(start, k);
                from = k;
                break;
            }
        }
    }
    if (!from) return nullptr;
    auto plan = std::make_shared<NestedCursors>();
    plan->params = params;
    const std::set<std::string> outer = fromNames(t, from, t.size());
    std::vector<std::string> hiddenExprs;
    std::string rewritten;
    size_t copied = 0;  // bytes of utf8 already in rewritten
    for (size_t i = 0; i < items.size(); ++i) {
        const auto [b, e] = items[i];
        if (e - b < 3 || !isWord(t[b], "CURSOR") || !isPunct(t[b + 1], "(")) continue;
        const size_t close = closingParen(t, b + 1);
        NestedCursors::Item item;
        item.column = i;
        // [AS] alias after the parenthesis
        size_t k = close + 1;
        if (k < e && isWord(t[k], "AS")) ++k;
        if (k < e && t[k].kind == Token::Ident)
            item.name = t[k].text;
        else
            item.name = expressionName(std::string_view(utf8).substr(t[b].begin, t[close].end - t[b].begin));
        // The subquery with its outer references replaced by markers.
        const size_t innerBegin = b + 2;
        const std::set<std::string> inner = fromNames(t, innerBegin, close);
        std::string query;
        size_t pos = t[innerBegin].begin;
        std::map<std::string, size_t> refs;  // "D.ID" -> marker number
        for (size_t j = innerBegin; j + 2 < close; ++j) {
            if (t[j].kind != Token::Ident || !isPunct(t[j + 1], ".") || t[j + 2].kind != Token::Ident)
                continue;
            if (j > innerBegin && isPunct(t[j - 1], ".")) continue;
            if (!outer.count(t[j].text) || inner.count(t[j].text)) continue;
            const std::string key = t[j].text + "." + t[j + 2].text;
            auto found = refs.find(key);
            if (found == refs.end()) {
                hiddenExprs.push_back(utf8.substr(t[j].begin, t[j + 2].end - t[j].begin));
                item.outerRefs.push_back(hiddenExprs.size() - 1);
                found = refs.emplace(key, item.outerRefs.size()).first;
            }
            query += utf8.substr(pos, t[j].begin - pos);
            query += ":OCI_OUTER_" + std::to_string(found->second) + " ";
            pos = t[j + 2].end;
            j += 2;
        }
        query += utf8.substr(pos, t[close].begin - pos);
        item.query = query;
        rewritten += utf8.substr(copied, t[b].begin - copied);
        rewritten += "NULL AS " + quoteName(item.name) + " ";
        copied = t[e - 1].end;
        plan->items.push_back(std::move(item));
    }
    if (plan->items.empty()) return nullptr;
    rewritten += utf8.substr(copied, t[from].begin - copied);
    for (size_t h = 0; h < hiddenExprs.size(); ++h)
        rewritten += ", " + hiddenExprs[h] + " AS \"OCI$OUTER" + std::to_string(h + 1) + "\" ";
    rewritten += utf8.substr(t[from].begin);
    plan->hidden = hiddenExprs.size();
    outerText = rewritten;
    return plan;
}

void describeNestedCursors(const NestedCursors& plan, std::vector<Column>& columns) {
    if (columns.size() >= plan.hidden) columns.resize(columns.size() - plan.hidden);
    for (const auto& item : plan.items) {
        if (item.column >= columns.size()) continue;
        Column& c = columns[item.column];
        c.name = item.name;
        c.type = TypeInfo{};
        c.type.type = SQLT_RSET;
        c.type.size = static_cast<ub2>(sizeof(void*));
        c.nullable = true;
    }
}

std::vector<Value> nestedCursorRow(NestedCursors& plan, Session& s, sqlite3_stmt* st, size_t visible) {
    std::vector<Value> row;
    row.reserve(visible);
    for (size_t c = 0; c < visible; ++c) row.push_back(columnValue(st, static_cast<int>(c)));
    std::vector<Value> hidden;
    for (size_t h = 0; h < plan.hidden; ++h) hidden.push_back(columnValue(st, static_cast<int>(visible + h)));
    auto& kids = plan.children;
    kids.erase(std::remove_if(kids.begin(), kids.end(), [](const auto& w) { return w.expired(); }),
               kids.end());
    for (const auto& item : plan.items) {
        std::map<std::string, Value> params = plan.params;
        for (size_t m = 0; m < item.outerRefs.size(); ++m)
            params["OCI_OUTER_" + std::to_string(m + 1)] = hidden[item.outerRefs[m]];
        Value v;
        v.kind = Value::Cursor;
        // On the query's own connection: the subquery reads the data the query reads.
        v.cursor = openQuery(s, item.query, params, false, sqlite3_db_handle(st));
        kids.push_back(v.cursor);
        row[item.column] = std::move(v);
    }
    return row;
}

void closeNestedCursors(NestedCursors& plan) {
    for (auto& w : plan.children)
        if (auto c = w.lock()) c->close();
    plan.children.clear();
}

}  // namespace oci
