// Describing a query's select list the way Oracle does: from the declared types of the tables, views,
// subqueries and WITH queries it reads, and from the rules of its expressions. Nothing is run, so an
// empty result is described exactly like a full one.
#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/oci/StandIn.h"

namespace oci {

namespace {

// A described value. `known` is false where the describer had to guess; a guess never wins over a
// known type when branches of a compound query or results of a CASE are merged.
struct Typed {
    TypeInfo t;
    bool nullable = true;
    bool isNull = false;  // the NULL literal (or ''): takes the type of its neighbours
    bool known = true;
    std::optional<std::string> text;  // the value of a string literal
    std::optional<double> number;     // the value of a number literal
};

struct Item {
    std::string name;  // as Oracle names the column
    Typed value;
};

struct Relation {
    std::string name;  // alias, or the table's own name; upper case unless quoted
    std::vector<Column> columns;
    bool known = true;  // false: columns unknown (a table function, a name the schema lacks)
    bool outer = false;
};

struct Scope {
    std::vector<Relation> relations;
    const Scope* parent = nullptr;
};

// The text is beyond what the describer understands.
struct Unsupported {};

constexpr int kMaxDepth = 16;
constexpr int kMaxNesting = 100;
constexpr size_t kMaxString = 4000;

TypeInfo varcharType(size_t n, ub1 form = 1) {
    TypeInfo t;
    t.type = SQLT_CHR;
    t.size = static_cast<ub2>(std::min(n, kMaxString));
    t.charsetForm = form;
    return t;
}

TypeInfo charType(size_t n) {
    TypeInfo t = varcharType(n);
    t.type = SQLT_AFC;
    return t;
}

TypeInfo numberType(sb2 precision = 0, sb1 scale = -127) {
    TypeInfo t;
    t.type = SQLT_NUM;
    t.size = 22;
    t.precision = precision;
    t.scale = scale;
    return t;
}

TypeInfo dateType() {
    TypeInfo t;
    t.type = SQLT_DAT;
    t.size = 7;
    return t;
}

TypeInfo timestampType(ub2 type, ub1 fsprecision) {
    TypeInfo t;
    t.type = type;
    t.size = type == SQLT_TIMESTAMP_TZ ? 13 : 11;
    t.fsprecision = fsprecision;
    return t;
}

TypeInfo rawType(size_t n) {
    TypeInfo t;
    t.type = SQLT_BIN;
    t.size = static_cast<ub2>(std::min<size_t>(n, 2000));
    return t;
}

bool isNumeric(const TypeInfo& t) {
    return isNumericType(t.type);
}
bool isDateTime(const TypeInfo& t) {
    return isDateTimeType(t.type);
}

Typed of(TypeInfo t, bool nullable = true) {
    Typed v;
    v.t = t;
    v.nullable = nullable;
    return v;
}

Typed guess() {
    Typed v = of(varcharType(kMaxString));
    v.known = false;
    return v;
}

Typed nullValue() {
    Typed v = of(varcharType(0));
    v.isNull = true;
    return v;
}

// The widest text a date model gives: a Wednesday in September holds the longest English names.
size_t dateTextLength(const std::string& model) {
    DateParts p;
    p.year = 2000;
    p.month = 9;
    p.day = 27;
    p.hour = 23;
    p.minute = p.second = 59;
    p.nanos = 999999999;
    return formatDateModel(p, model, 9).size();
}

class Describer {
public:
    Describer(Session& s, const std::string& text, int depth)
        : s_(s), text_(text), t_(tokenize(text)), depth_(depth) {
        if (depth_ > kMaxDepth) throw Unsupported();
    }

    // The select list of the whole text (a trailing ";" allowed).
    std::vector<Item> whole() {
        size_t e = t_.size() - 1;
        if (e > 0 && punct(e - 1, ";")) --e;
        return query(0, e, nullptr);
    }

    // The select list of the query in tokens [b, e): [WITH ...] branch {set operator branch}.
    std::vector<Item> query(size_t b, size_t e, const Scope* outer) {
        size_t mark = ctes_.size();
        if (word(b, "WITH")) b = withClause(b + 1, e);
        std::vector<Item> items;
        size_t start = b;
        bool first = true;
        for (size_t i = b; i <= e; ++i) {
            // brackets are skipped whole below: every word seen here is at depth 0
            bool boundary =
                i == e || word(i, "UNION") || word(i, "INTERSECT") || word(i, "MINUS") || word(i, "EXCEPT");
            if (!boundary) {
                if (punct(i, "(")) i = closeOf(i, e);
                continue;
            }
            std::vector<Item> branch = core(start, i, outer);
            if (first) {
                items = branch;
                first = false;
            } else if (branch.size() == items.size()) {
                for (size_t k = 0; k < items.size(); ++k)
                    items[k].value = merge({items[k].value, branch[k].value});
            }
            if (i == e) break;
            start = i + 1;
            if (word(start, "ALL") || word(start, "DISTINCT")) ++start;
        }
        ctes_.resize(mark);
        return items;
    }

private:
    struct Cte {
        std::string name;
        bool quoted = false;
        std::vector<std::string> columns;
        size_t b = 0, e = 0;
        bool busy = false;
        std::optional<std::vector<Column>> described;
    };

    Session& s_;
    std::string text_;
    std::vector<Token> t_;
    int depth_;
    std::vector<Cte> ctes_;
    // expression parsing
    size_t pos_ = 0, end_ = 0;
    const Scope* scope_ = nullptr;
    int nesting_ = 0;

    const Token& at(size_t i) const { return t_[std::min(i, t_.size() - 1)]; }
    bool word(size_t i, const char* w) const {
        return at(i).kind == Token::Ident && !at(i).quoted && at(i).text == w;
    }
    bool punct(size_t i, const char* p) const { return at(i).kind == Token::Punct && at(i).text == p; }

    // The ")" that closes the "(" at `open`, before `limit`.
    size_t closeOf(size_t open, size_t limit) const {
        int depth = 0;
        for (size_t i = open; i < limit && i < t_.size(); ++i) {
            if (punct(i, "(")) ++depth;
            if (punct(i, ")") && --depth == 0) return i;
        }
        throw Unsupported();
    }
    // The first token in [b, e) at bracket depth 0 that `stop` accepts, else e.
    template <class F>
    size_t findTop(size_t b, size_t e, F&& stop) const {
        int depth = 0;
        for (size_t i = b; i < e; ++i) {
            if (depth == 0 && stop(i)) return i;
            if (punct(i, "(")) ++depth;
            if (punct(i, ")")) --depth;
        }
        return e;
    }

    static bool clauseWord(const std::string& w) {
        static const char* const words[] = {"WHERE", "GROUP",  "HAVING", "ORDER",  "CONNECT",
                                            "START", "WINDOW", "LIMIT",  "OFFSET", "FETCH",
                                            "FOR",   "MODEL",  "QUALIFY"};
        return std::any_of(std::begin(words), std::end(words), [&](const char* x) { return w == x; });
    }
    bool clauseAt(size_t i) const {
        return at(i).kind == Token::Ident && !at(i).quoted && clauseWord(at(i).text);
    }

    // WITH name [(columns)] AS (query) {, ...}: answers where the main query starts.
    size_t withClause(size_t b, size_t e) {
        if (word(b, "RECURSIVE")) ++b;
        while (b < e) {
            if (at(b).kind != Token::Ident) throw Unsupported();
            Cte c;
            c.name = at(b).text;
            c.quoted = at(b).quoted;
            ++b;
            if (punct(b, "(")) {
                size_t close = closeOf(b, e);
                for (size_t i = b + 1; i < close; ++i)
                    if (at(i).kind == Token::Ident) c.columns.push_back(at(i).text);
                b = close + 1;
            }
            if (!word(b, "AS") || !punct(b + 1, "(")) throw Unsupported();
            size_t close = closeOf(b + 1, e);
            c.b = b + 2;
            c.e = close;
            ctes_.push_back(std::move(c));
            b = close + 1;
            if (!punct(b, ",")) break;
            ++b;
        }
        return b;
    }

    // SELECT [DISTINCT] items [FROM relations] [clauses], or a branch in brackets.
    std::vector<Item> core(size_t b, size_t e, const Scope* outer) {
        if (punct(b, "(")) return query(b + 1, closeOf(b, e), outer);
        if (!word(b, "SELECT")) throw Unsupported();
        ++b;
        if (word(b, "DISTINCT") || word(b, "UNIQUE") || word(b, "ALL")) ++b;
        size_t from = findTop(b, e, [&](size_t i) { return word(i, "FROM") || clauseAt(i); });
        Scope scope;
        scope.parent = outer;
        if (word(from, "FROM")) {
            size_t fromEnd = findTop(from + 1, e, [&](size_t i) { return clauseAt(i); });
            relations(from + 1, fromEnd, scope);
        }
        std::vector<Item> items;
        size_t start = b;
        for (size_t i = b; i <= from; ++i) {
            if (i < from && !punct(i, ",")) {
                if (punct(i, "(")) i = closeOf(i, from);
                continue;
            }
            selectItem(start, i, scope, items);
            start = i + 1;
        }
        return items;
    }

    // ---- relations of the FROM clause ------------------------------------------------------------------

    static bool joinWord(const std::string& w) {
        static const char* const words[] = {"JOIN", "INNER", "LEFT",  "RIGHT",
                                            "FULL", "OUTER", "CROSS", "NATURAL"};
        return std::any_of(std::begin(words), std::end(words), [&](const char* x) { return w == x; });
    }
    bool joinAt(size_t i) const {
        return at(i).kind == Token::Ident && !at(i).quoted && joinWord(at(i).text);
    }

    void relations(size_t b, size_t e, Scope& scope) {
        size_t i = b;
        while (i < e) {
            bool left = false, right = false;
            while (i < e && joinAt(i)) {
                left = left || word(i, "LEFT") || word(i, "FULL");
                right = right || word(i, "RIGHT") || word(i, "FULL");
                ++i;
            }
            if (i >= e) break;
            Relation r;
            if (punct(i, "(")) {
                size_t close = closeOf(i, e);
                if (word(i + 1, "SELECT") || word(i + 1, "WITH") || punct(i + 1, "(")) {
                    for (Item& item : query(i + 1, close, scope.parent))
                        r.columns.push_back(Column{item.name, item.value.t, item.value.nullable, {}, {}});
                } else {
                    relations(i + 1, close, scope);  // a bracketed join
                    i = close + 1;
                    continue;
                }
                i = close + 1;
            } else if (at(i).kind == Token::Ident) {
                std::string name = at(i).text;
                bool quoted = at(i).quoted;
                ++i;
                while (punct(i, ".") && at(i + 1).kind == Token::Ident) {  // schema prefixes
                    name = at(i + 1).text;
                    quoted = at(i + 1).quoted;
                    i += 2;
                }
                if (punct(i, "(")) {  // a table function
                    r.known = false;
                    i = closeOf(i, e) + 1;
                } else {
                    r = relation(name, quoted);
                }
                r.name = name;
            } else {
                throw Unsupported();
            }
            if (word(i, "AS")) ++i;
            if (i < e && at(i).kind == Token::Ident && !joinAt(i) && !word(i, "ON") && !word(i, "USING")) {
                r.name = at(i).text;
                ++i;
            }
            if (right)
                for (Relation& before : scope.relations) before.outer = true;
            r.outer = left;
            scope.relations.push_back(std::move(r));
            // the join condition
            if (word(i, "ON")) {
                i = findTop(i + 1, e, [&](size_t k) { return joinAt(k) || punct(k, ","); });
            } else if (word(i, "USING") && punct(i + 1, "(")) {
                i = closeOf(i + 1, e) + 1;
            }
            if (punct(i, ",")) ++i;
        }
    }

    // The columns of a table, a view or a WITH query.
    Relation relation(const std::string& name, bool quoted) {
        Relation r;
        for (size_t k = ctes_.size(); k-- > 0;) {
            Cte& c = ctes_[k];
            if (quoted || c.quoted ? c.name != name : !sameText(c.name, name)) continue;
            if (c.busy) {  // a recursive reference: its type comes from the other branches
                r.known = false;
                return r;
            }
            if (!c.described) {
                c.busy = true;
                // A WITH query sees the ones before it.
                std::vector<Cte> later(ctes_.begin() + static_cast<long>(k) + 1, ctes_.end());
                ctes_.resize(k + 1);
                std::vector<Item> items;
                try {
                    items = query(c.b, c.e, nullptr);
                } catch (...) {
                    ctes_.insert(ctes_.end(), later.begin(), later.end());
                    ctes_[k].busy = false;
                    throw;
                }
                ctes_.insert(ctes_.end(), later.begin(), later.end());
                Cte& done = ctes_[k];
                done.busy = false;
                std::vector<Column> cols;
                for (size_t n = 0; n < items.size(); ++n)
                    cols.push_back(Column{n < done.columns.size() ? done.columns[n] : items[n].name,
                                          items[n].value.t,
                                          items[n].value.nullable,
                                          {},
                                          {}});
                done.described = cols;
            }
            r.columns = *ctes_[k].described;
            return r;
        }
        return schemaRelation(name);
    }

    Relation schemaRelation(const std::string& name) {
        Relation r;
        std::string type, sql;
        sqlite3_stmt* st = nullptr;
        const char* find =
            "SELECT type, sql FROM sqlite_temp_schema WHERE name = ?1 COLLATE NOCASE AND type IN ('table', "
            "'view') UNION ALL SELECT type, sql FROM sqlite_schema WHERE name = ?1 COLLATE NOCASE AND type "
            "IN ('table', 'view')";
        if (sqlite3_prepare_v2(s_.db, find, -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(st) == SQLITE_ROW) {
                auto col = [&](int c) {
                    const unsigned char* p = sqlite3_column_text(st, c);
                    return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
                };
                type = col(0);
                sql = col(1);
            }
        }
        sqlite3_finalize(st);
        if (type == "view") return viewRelation(sql);
        // Tables, and virtual tables the schema does not list.
        std::string quotedName = "\"";
        for (char c : name) quotedName += c == '"' ? std::string("\"\"") : std::string(1, c);
        quotedName += "\"";
        if (sqlite3_prepare_v2(s_.db, ("PRAGMA table_info(" + quotedName + ")").c_str(), -1, &st, nullptr) ==
            SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                Column c;
                const unsigned char* n = sqlite3_column_text(st, 1);
                const unsigned char* d = sqlite3_column_text(st, 2);
                c.name = n ? reinterpret_cast<const char*>(n) : "";
                auto t = parseDeclaredType(d ? reinterpret_cast<const char*>(d) : "", false);
                c.type = t ? *t : varcharType(kMaxString);
                c.nullable = sqlite3_column_int(st, 3) == 0 && sqlite3_column_int(st, 5) == 0;
                r.columns.push_back(c);
            }
        }
        sqlite3_finalize(st);
        r.known = !r.columns.empty();
        return r;
    }

    // CREATE [TEMP] VIEW name [(columns)] AS query
    Relation viewRelation(const std::string& sql) {
        Relation r;
        Describer view(s_, sql, depth_ + 1);
        const auto& t = view.t_;
        size_t i = 0;
        while (i < t.size() && !view.word(i, "VIEW")) ++i;
        std::vector<std::string> names;
        size_t as = i;
        while (as < t.size() && !view.word(as, "AS")) {
            if (view.punct(as, "(")) {
                size_t close = view.closeOf(as, t.size());
                for (size_t k = as + 1; k < close; ++k)
                    if (t[k].kind == Token::Ident) names.push_back(t[k].text);
                as = close;
            }
            ++as;
        }
        if (as >= t.size()) throw Unsupported();
        std::vector<Item> items = view.query(as + 1, view.end(), nullptr);
        for (size_t k = 0; k < items.size(); ++k)
            r.columns.push_back(Column{k < names.size() ? names[k] : items[k].name,
                                       items[k].value.t,
                                       items[k].value.nullable,
                                       {},
                                       {}});
        return r;
    }
    size_t end() const {
        size_t e = t_.size() - 1;
        if (e > 0 && punct(e - 1, ";")) --e;
        return e;
    }

    // ---- the select list --------------------------------------------------------------------------------

    void selectItem(size_t b, size_t e, const Scope& scope, std::vector<Item>& items) {
        if (b >= e) throw Unsupported();
        // * and name.*
        if (punct(e - 1, "*") && (e == b + 1 || punct(e - 2, "."))) {
            std::string only = e == b + 1 ? std::string() : at(e - 3).text;
            bool any = false;
            for (const Relation& r : scope.relations) {
                if (!only.empty() && !sameText(r.name, only)) continue;
                if (!r.known) throw Unsupported();
                any = true;
                for (const Column& c : r.columns) {
                    Item item;
                    item.name = c.name;
                    item.value = of(c.type, c.nullable || r.outer);
                    items.push_back(item);
                }
            }
            if (!any) throw Unsupported();
            return;
        }
        pos_ = b;
        end_ = e;
        scope_ = &scope;
        Item item;
        item.value = expr();
        if (pos_ < e) {  // an alias
            if (word(pos_, "AS")) ++pos_;
            if (pos_ + 1 != e || at(pos_).kind != Token::Ident) throw Unsupported();
            item.name = at(pos_).text;
        } else if (pos_ == b + 1 && at(b).kind == Token::Ident) {
            item.name = at(b).text;
        } else if (at(e - 1).kind == Token::Ident && e >= b + 3 && punct(e - 2, ".") &&
                   std::all_of(t_.begin() + static_cast<long>(b), t_.begin() + static_cast<long>(e),
                               [](const Token& k) { return k.kind == Token::Ident || k.text == "."; })) {
            item.name = at(e - 1).text;  // a qualified column
        } else {
            item.name = expressionName(b, e);
        }
        items.push_back(item);
    }

    // Oracle names an expression column by its text in upper case, without blanks outside literals.
    std::string expressionName(size_t b, size_t e) const {
        std::string out;
        for (size_t i = b; i < e; ++i) {
            const Token& k = at(i);
            std::string src = text_.substr(k.begin, k.end - k.begin);
            if (k.kind == Token::String)
                out += upper(src);
            else if (k.kind == Token::Ident && k.quoted)
                out += src;
            else
                out += upper(src);
        }
        return out;
    }

    // ---- expressions ------------------------------------------------------------------------------------

    bool isWord(const char* w) const { return pos_ < end_ && word(pos_, w); }
    bool isPunct(const char* p) const { return pos_ < end_ && punct(pos_, p); }
    void expect(const char* p) {
        if (!isPunct(p)) throw Unsupported();
        ++pos_;
    }
    void expectWord(const char* w) {
        if (!isWord(w)) throw Unsupported();
        ++pos_;
    }
    // Skips a bracketed part starting at pos_.
    void skipBrackets() {
        if (!isPunct("(")) throw Unsupported();
        pos_ = closeOf(pos_, end_) + 1;
    }

    static Typed boolean() { return of(numberType()); }

    Typed expr() {
        // Deeply nested text is left to the fallback rather than to the stack.
        struct Nesting {
            int& n;
            explicit Nesting(int& x) : n(x) {
                if (++n > kMaxNesting) throw Unsupported();
            }
            ~Nesting() { --n; }
        } guard(nesting_);
        Typed a = conjunction();
        while (isWord("OR")) {
            ++pos_;
            conjunction();
            a = boolean();
        }
        return a;
    }
    Typed conjunction() {
        Typed a = negation();
        while (isWord("AND")) {
            ++pos_;
            negation();
            a = boolean();
        }
        return a;
    }
    Typed negation() {
        if (isWord("NOT")) {
            ++pos_;
            negation();
            return boolean();
        }
        return comparison();
    }
    Typed comparison() {
        Typed a = additive();
        for (;;) {
            static const char* const ops[] = {"=", "==", "<>", "!=", "<", ">", "<=", ">="};
            if (pos_ < end_ && at(pos_).kind == Token::Punct &&
                std::any_of(std::begin(ops), std::end(ops),
                            [&](const char* o) { return at(pos_).text == o; })) {
                ++pos_;
                if (isWord("ANY") || isWord("ALL") || isWord("SOME")) {
                    ++pos_;
                    skipBrackets();
                } else {
                    additive();
                }
                a = boolean();
                continue;
            }
            size_t save = pos_;
            if (isWord("NOT")) ++pos_;
            if (isWord("IS")) {
                ++pos_;
                if (isWord("NOT")) ++pos_;
                additive();
            } else if (isWord("LIKE") || isWord("GLOB") || isWord("REGEXP") || isWord("MATCH")) {
                ++pos_;
                additive();
                if (isWord("ESCAPE")) {
                    ++pos_;
                    additive();
                }
            } else if (isWord("IN")) {
                ++pos_;
                skipBrackets();
            } else if (isWord("BETWEEN")) {
                ++pos_;
                additive();
                expectWord("AND");
                additive();
            } else if (isWord("ISNULL") || isWord("NOTNULL")) {
                ++pos_;
            } else {
                pos_ = save;
                return a;
            }
            a = boolean();
        }
    }
    Typed additive() {
        Typed a = multiplicative();
        for (;;) {
            if (isPunct("||")) {
                ++pos_;
                Typed b = multiplicative();
                ub1 form = a.t.charsetForm == 2 || b.t.charsetForm == 2 ? 2 : 1;
                bool nulls = a.isNull && b.isNull;
                a = of(varcharType(textLength(a) + textLength(b), form), a.nullable && b.nullable);
                a.isNull = nulls;
            } else if (isPunct("+") || isPunct("-")) {
                bool minus = isPunct("-");
                ++pos_;
                Typed b = multiplicative();
                a = arithmetic(a, b, minus);
            } else {
                return a;
            }
        }
    }
    static Typed arithmetic(const Typed& a, const Typed& b, bool minus) {
        bool nullable = a.nullable || b.nullable;
        if (isDateTime(a.t) && isDateTime(b.t) && minus) {
            if (a.t.type == SQLT_DAT && b.t.type == SQLT_DAT) return of(numberType(), nullable);
            TypeInfo iv;
            iv.type = SQLT_INTERVAL_DS;
            iv.size = 11;
            iv.precision = 9;
            iv.scale = 9;
            return of(iv, nullable);
        }
        if (isDateTime(a.t) || (!minus && isDateTime(b.t))) return of(dateType(), nullable);
        return of(numberType(), nullable);
    }
    Typed multiplicative() {
        Typed a = unary();
        while (isPunct("*") || isPunct("/") || isPunct("%")) {
            ++pos_;
            Typed b = unary();
            a = of(numberType(), a.nullable || b.nullable);
        }
        return a;
    }
    Typed unary() {
        bool negative = false;
        for (; isPunct("-") || isPunct("+") || isWord("PRIOR"); ++pos_) negative = negative != isPunct("-");
        Typed v = primary();
        if (negative && v.number) v.number = -*v.number;
        while (isWord("COLLATE")) pos_ += 2;
        return v;
    }

    Typed primary() {
        if (pos_ >= end_) throw Unsupported();
        const Token& k = at(pos_);
        switch (k.kind) {
            case Token::Number: {
                ++pos_;
                Typed v = of(numberType());
                v.number = std::atof(k.text.c_str());
                return v;
            }
            case Token::String: {
                ++pos_;
                if (k.text.empty()) return nullValue();  // '' is NULL in Oracle
                Typed v = of(charType(utf8ToAnsi(k.text).size()));
                v.text = k.text;
                return v;
            }
            case Token::Marker:
                ++pos_;
                return of(varcharType(kMaxString));
            case Token::Punct:
                if (k.text == "(") return bracket();
                if (k.text == "*") {  // count(*)
                    ++pos_;
                    return of(numberType());
                }
                throw Unsupported();
            case Token::Ident:
                return identifier();
            default:
                throw Unsupported();
        }
    }

    Typed bracket() {
        size_t close = closeOf(pos_, end_);
        if (word(pos_ + 1, "SELECT") || word(pos_ + 1, "WITH")) {
            size_t savePos = pos_, saveEnd = end_;
            const Scope* saveScope = scope_;
            std::vector<Item> inner = query(pos_ + 1, close, scope_);
            pos_ = savePos;
            end_ = saveEnd;
            scope_ = saveScope;
            pos_ = close + 1;
            if (inner.size() != 1) throw Unsupported();
            Typed v = inner[0].value;
            v.nullable = true;  // a scalar query may find no row
            return v;
        }
        ++pos_;
        Typed v = expr();
        while (isPunct(",")) {  // a row of values, as in IN lists
            ++pos_;
            expr();
        }
        expect(")");
        return v;
    }

    Typed identifier() {
        const Token& k = at(pos_);
        if (!k.quoted) {
            const std::string& w = k.text;
            if (w == "NULL") return ++pos_, nullValue();
            if (w == "CASE") return caseExpr();
            if (w == "CAST") return castExpr();
            if (w == "EXISTS") {
                ++pos_;
                skipBrackets();
                return boolean();
            }
            if ((w == "DATE" || w == "TIMESTAMP") && at(pos_ + 1).kind == Token::String) {
                pos_ += 2;
                return of(w == "DATE" ? dateType() : timestampType(SQLT_TIMESTAMP, 9));
            }
            if (!punct(pos_ + 1, "(") && !punct(pos_ + 1, ".")) {
                if (w == "SYSDATE" || w == "CURRENT_DATE") return ++pos_, of(dateType());
                if (w == "SYSTIMESTAMP" || w == "CURRENT_TIMESTAMP")
                    return ++pos_, of(timestampType(SQLT_TIMESTAMP_TZ, 6));
                if (w == "LOCALTIMESTAMP") return ++pos_, of(timestampType(SQLT_TIMESTAMP, 6));
                if (w == "USER") return ++pos_, of(varcharType(30));
                if (w == "UID" || w == "ROWNUM" || w == "LEVEL" || w == "TRUE" || w == "FALSE")
                    return ++pos_, of(numberType());
            }
        }
        std::vector<const Token*> parts{&k};
        ++pos_;
        while (isPunct(".") && at(pos_ + 1).kind == Token::Ident) {
            parts.push_back(&at(pos_ + 1));
            pos_ += 2;
        }
        if (isPunct("(")) return call(parts.size() == 1 && !k.quoted ? k.text : std::string());
        return column(parts);
    }

    Typed column(const std::vector<const Token*>& parts) {
        const Token& col = *parts.back();
        // The pseudo-column gives the ROWID text.
        if (!col.quoted && col.text == "ROWID") return of(varcharType(18), false);
        const Token* rel = parts.size() >= 2 ? parts[parts.size() - 2] : nullptr;
        for (const Scope* sc = scope_; sc; sc = sc->parent) {
            for (const Relation& r : sc->relations) {
                if (rel && (rel->quoted ? r.name != rel->text : !sameText(r.name, rel->text))) continue;
                if (!r.known) return guess();
                for (const Column& c : r.columns)
                    if (col.quoted ? c.name == col.text : sameText(c.name, col.text))
                        return of(c.type, c.nullable || r.outer);
            }
        }
        return guess();
    }

    Typed caseExpr() {
        ++pos_;
        if (!isWord("WHEN")) expr();
        std::vector<Typed> results;
        while (isWord("WHEN")) {
            ++pos_;
            expr();
            expectWord("THEN");
            results.push_back(expr());
        }
        bool hasElse = isWord("ELSE");
        if (hasElse) {
            ++pos_;
            results.push_back(expr());
        }
        expectWord("END");
        Typed v = merge(results);
        v.nullable = v.nullable || !hasElse;
        return v;
    }

    Typed castExpr() {
        ++pos_;
        if (!isPunct("(")) throw Unsupported();
        size_t close = closeOf(pos_, end_);
        ++pos_;
        Typed v = expr();
        expectWord("AS");
        if (pos_ >= close) throw Unsupported();
        std::string typeName = text_.substr(at(pos_).begin, at(close - 1).end - at(pos_).begin);
        pos_ = close + 1;
        auto t = parseDeclaredType(typeName, false);
        if (!t) return guess();
        return of(*t, v.nullable);
    }

    // A function call; `name` is empty for a qualified (package) function.
    Typed call(const std::string& name) {
        size_t close = closeOf(pos_, end_);
        ++pos_;
        std::vector<Typed> args;
        if (name == "EXTRACT") {  // EXTRACT(YEAR FROM d)
            pos_ = close + 1;
            return of(numberType());
        }
        while (pos_ < close) {
            if (isWord("DISTINCT") || isWord("ALL") || isWord("UNIQUE")) ++pos_;
            if (name == "TRIM" && (isWord("LEADING") || isWord("TRAILING") || isWord("BOTH"))) ++pos_;
            Typed a = expr();
            if (name == "TRIM" && isWord("FROM")) {  // TRIM([set] FROM text)
                ++pos_;
                a = expr();
            }
            args.push_back(a);
            if (isPunct(",")) {
                ++pos_;
                continue;
            }
            // ORDER BY inside aggregates, USING in TRANSLATE and the like
            pos_ = close;
        }
        pos_ = close + 1;
        // analytic and aggregate clauses
        for (;;) {
            if (isWord("WITHIN") && word(pos_ + 1, "GROUP")) {
                pos_ += 2;
                skipBrackets();
            } else if (isWord("KEEP") || isWord("FILTER")) {
                ++pos_;
                skipBrackets();
            } else if (isWord("OVER")) {
                ++pos_;
                if (isPunct("("))
                    skipBrackets();
                else
                    ++pos_;
            } else if ((isWord("IGNORE") || isWord("RESPECT")) && word(pos_ + 1, "NULLS")) {
                pos_ += 2;
            } else {
                break;
            }
        }
        return function(name, args);
    }

    // The length of a value converted to text.
    size_t textLength(const Typed& v) const {
        if (v.isNull) return 0;
        if (v.t.type == SQLT_CHR || v.t.type == SQLT_AFC) return v.t.size;
        if (isNumeric(v.t)) return 40;
        if (v.t.type == SQLT_DAT) return dateTextLength(s_.nlsValue("NLS_DATE_FORMAT"));
        if (isDateTime(v.t))
            return dateTextLength(
                s_.nlsValue(v.t.type == SQLT_TIMESTAMP ? "NLS_TIMESTAMP_FORMAT" : "NLS_TIMESTAMP_TZ_FORMAT"));
        if (v.t.type == SQLT_BIN) return 2u * v.t.size;
        return kMaxString;
    }

    // Several values that meet in one column (CASE, DECODE, NVL, set operators): NULLs take the
    // type of the others, texts the longest length.
    Typed merge(const std::vector<Typed>& values) const {
        const Typed* first = nullptr;
        for (const Typed& v : values)
            if (!v.isNull && v.known && (!first || !first->known)) first = &v;
        for (const Typed& v : values)
            if (!first && !v.isNull) first = &v;
        if (!first) return values.empty() ? guess() : nullValue();
        Typed r = *first;
        r.text.reset();
        r.number.reset();
        for (const Typed& v : values) {
            r.nullable = r.nullable || v.nullable;
            if (v.isNull || !v.known || &v == first) continue;
            if ((r.t.type == SQLT_CHR || r.t.type == SQLT_AFC) &&
                (v.t.type == SQLT_CHR || v.t.type == SQLT_AFC)) {
                size_t n = std::max<size_t>(r.t.size, v.t.size);
                bool fixed = r.t.type == SQLT_AFC && v.t.type == SQLT_AFC && r.t.size == v.t.size;
                ub1 form = r.t.charsetForm == 2 || v.t.charsetForm == 2 ? 2 : 1;
                r.t = fixed ? charType(n) : varcharType(n, form);
            } else if (isNumeric(r.t) && isNumeric(v.t) &&
                       (r.t.type != v.t.type || r.t.precision != v.t.precision || r.t.scale != v.t.scale)) {
                r.t = numberType();
            }
        }
        return r;
    }

    Typed asVarchar(const Typed& v, size_t n) const {
        Typed r = of(varcharType(n, v.t.charsetForm == 2 ? 2 : 1), v.nullable);
        r.isNull = v.isNull;
        return r;
    }

    Typed function(const std::string& name, const std::vector<Typed>& args) const {
        static const Typed none = nullValue();
        auto arg = [&](size_t k) -> const Typed& { return k < args.size() ? args[k] : none; };
        auto in = [&](std::initializer_list<const char*> names) {
            return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
        };
        if (name.empty()) return guess();
        if (in({"COUNT",
                "SUM",
                "AVG",
                "TOTAL",
                "STDDEV",
                "VARIANCE",
                "MEDIAN",
                "ROW_NUMBER",
                "RANK",
                "DENSE_RANK",
                "NTILE",
                "PERCENT_RANK",
                "CUME_DIST",
                "ABS",
                "CEIL",
                "FLOOR",
                "MOD",
                "REMAINDER",
                "POWER",
                "SQRT",
                "EXP",
                "LN",
                "LOG",
                "SIGN",
                "BITAND",
                "JULIANDAY",
                "UNICODE",
                "RANDOM",
                "CHANGES",
                "TOTAL_CHANGES",
                "LAST_INSERT_ROWID",
                "INSTR",
                "INSTRB",
                "LENGTH",
                "LENGTHB",
                "ASCII",
                "TO_NUMBER",
                "MONTHS_BETWEEN",
                "VSIZE",
                "ORA_HASH",
                "NANVL",
                "WIDTH_BUCKET"}))
            return of(numberType());
        if (in({"ROUND", "TRUNC"})) return of(isDateTime(arg(0).t) ? dateType() : numberType());
        if (in({"TO_DATE", "ADD_MONTHS", "LAST_DAY", "NEXT_DAY", "DATETIME", "NEW_TIME"}))
            return of(dateType());
        if (in({"TO_TIMESTAMP", "SYS_EXTRACT_UTC"})) return of(timestampType(SQLT_TIMESTAMP, 9));
        if (in({"TO_TIMESTAMP_TZ", "FROM_TZ"})) return of(timestampType(SQLT_TIMESTAMP_TZ, 9));
        if (name == "DATE") return of(varcharType(10));
        if (name == "TIME") return of(varcharType(8));
        if (name == "STRFTIME") {
            const auto& model = arg(0).text;
            if (model && *model == "%Y-%m-%d %H:%M:%S") return of(dateType());
            if (model && *model == "%Y-%m-%d %H:%M:%f") return of(timestampType(SQLT_TIMESTAMP, 3));
            return of(varcharType(model ? model->size() * 4 : 64));
        }
        if (in({"MIN", "MAX", "ANY_VALUE", "FIRST_VALUE", "LAST_VALUE", "NTH_VALUE", "LAG", "LEAD"})) {
            Typed v = arg(0);
            v.nullable = true;
            v.text.reset();
            v.number.reset();
            return v;
        }
        if (in({"NVL", "COALESCE", "IFNULL", "GREATEST", "LEAST"})) return merge(args);
        if (name == "NULLIF") return merge({arg(0)});
        if (name == "NVL2") return merge({arg(1), arg(2)});
        if (name == "IIF") return merge({arg(1), arg(2)});
        if (name == "DECODE") {
            std::vector<Typed> results;
            for (size_t k = 2; k < args.size(); k += 2) results.push_back(args[k]);
            if (args.size() % 2 == 0 && args.size() >= 4) results.push_back(args.back());
            Typed v = merge(results);
            if (v.t.type == SQLT_AFC) v.t.type = SQLT_CHR;  // DECODE answers VARCHAR2 for text
            v.nullable = true;
            return v;
        }
        if (name == "TO_CHAR") {
            const Typed& a = arg(0);
            const auto& model = arg(1).text;
            if (isDateTime(a.t)) {
                std::string m =
                    model ? *model
                          : s_.nlsValue(a.t.type == SQLT_DAT ? "NLS_DATE_FORMAT" : "NLS_TIMESTAMP_FORMAT");
                return asVarchar(a, dateTextLength(m));
            }
            if (isNumeric(a.t)) return asVarchar(a, model ? model->size() + 1 : 40);
            return asVarchar(a, textLength(a));
        }
        if (in({"UPPER", "LOWER", "INITCAP", "NLS_UPPER", "NLS_LOWER", "NLS_INITCAP", "LTRIM", "RTRIM",
                "TRIM", "SUBSTR", "SUBSTRB", "TRANSLATE", "REVERSE"})) {
            const Typed& a = arg(0);
            if (a.t.type == SQLT_AFC && in({"UPPER", "LOWER", "INITCAP", "NLS_UPPER", "NLS_LOWER"})) return a;
            return asVarchar(a, textLength(a));
        }
        if (name == "REPLACE") {
            bool grows = args.size() > 2 && textLength(arg(2)) > textLength(arg(1));
            return asVarchar(arg(0), grows ? kMaxString : textLength(arg(0)));
        }
        if (in({"LPAD", "RPAD"})) {
            const auto& n = arg(1).number;
            return asVarchar(arg(0), n && *n > 0 ? static_cast<size_t>(*n) : kMaxString);
        }
        if (name == "CONCAT") return asVarchar(arg(0), textLength(arg(0)) + textLength(arg(1)));
        if (name == "CHR" || name == "CHAR") return of(varcharType(name == "CHR" ? 1 : args.size()));
        if (name == "SOUNDEX") return of(varcharType(4));
        if (name == "TYPEOF") return of(varcharType(7));
        if (in({"RAWTOHEX", "HEX"})) return of(varcharType(textLength(arg(0))));
        if (name == "HEXTORAW") return of(rawType((textLength(arg(0)) + 1) / 2));
        if (name == "SYS_GUID") return of(rawType(16));
        if (in({"SYS_CONTEXT", "USERENV"})) return of(varcharType(256));
        return guess();
    }
};

}  // namespace

std::vector<Column> describeSelectList(Session& s, const std::string& utf8) {
    std::vector<Column> out;
    try {
        Describer d(s, utf8, 0);
        for (Item& item : d.whole())
            out.push_back(Column{item.name, item.value.t, item.value.nullable, {}, {}});
    } catch (const Unsupported&) {
        out.clear();
    } catch (const OraException&) {
        out.clear();
    }
    return out;
}

}  // namespace oci
