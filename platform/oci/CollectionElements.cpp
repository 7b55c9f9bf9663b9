// Type constructors in SQL (stamps_t('2020-01-02 03:04:05.5', NULL), addr_t('Main St.', 12)) built
// into the text form in which the database keeps object and collection values; and collection
// elements held through a descriptor (TIMESTAMP, INTERVAL, CLOB, BLOB), which the client appends and
// assigns by passing its own descriptor.
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/oci/ObjectTypes.h"

namespace oci {

namespace {

bool punct(const Token& t, const char* p) {
    return t.kind == Token::Punct && t.text == p;
}

bool word(const Token& t, const char* w) {
    return t.kind == Token::Ident && !t.quoted && t.text == w;
}

// Names before "(" that are never a type: what follows INTO, TABLE, FROM, JOIN or UPDATE (a table
// with its columns), SQL words and the functions the stand-in knows.
bool mayBeType(const std::vector<Token>& tk, size_t k) {
    static const std::set<std::string> NotTypes = {
        "VALUES",   "IN",     "EXISTS",   "COUNT",   "SUM",       "MIN",       "MAX",     "AVG",   "NVL",
        "NVL2",     "DECODE", "TO_CHAR",  "TO_DATE", "TO_NUMBER", "SUBSTR",    "UPPER",   "LOWER", "TRIM",
        "COALESCE", "CAST",   "TRUNC",    "ROUND",   "LENGTH",    "INSTR",     "REPLACE", "ABS",   "XMLTYPE",
        "REF",      "VALUE",  "DEREF",    "CURSOR",  "AND",       "OR",        "NOT",     "WHERE", "SELECT",
        "AS",       "NUMBER", "VARCHAR2", "CHAR",    "RAW",       "TIMESTAMP", "EXTRACT"};
    const Token& t = tk[k];
    if (t.kind != Token::Ident || t.quoted || !punct(tk[k + 1], "(")) return false;
    if (t.text.rfind("OCI_", 0) == 0 || NotTypes.count(t.text)) return false;
    if (k == 0) return true;
    if (punct(tk[k - 1], ".")) return false;
    for (const char* w : {"INTO", "TABLE", "FROM", "JOIN", "UPDATE", "TYPE", "ON"})
        if (word(tk[k - 1], w)) return false;
    return true;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string argText(const Value& v) {
    if (v.kind == Value::Int) return std::to_string(v.i);
    if (v.kind == Value::Real) return decimalToText(valueToDecimal(v));
    return v.s;
}

// One constructor argument as the kept text of an attribute or element of that slot.
std::string keptSlot(const TypeAttr& a, const Value& v) {
    if (v.isNull()) return "null";
    switch (a.slot) {
        case Slot::Text:
            if (a.info.type == SQLT_BIN) return quoted(v.kind == Value::Blob ? hex(v.s) : argText(v));
            return quoted(argText(v));
        case Slot::Number:
            return decimalToText(valueToDecimal(v));
        case Slot::BFloat:
        case Slot::BDouble: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g",
                          v.kind == Value::Text  ? std::strtod(v.s.c_str(), nullptr)
                          : v.kind == Value::Int ? double(v.i)
                                                 : v.r);
            return buf;
        }
        case Slot::Date:
            return quoted(dateToText(valueToDate(v)));
        case Slot::Stamp: {
            DateParts p;
            if (v.kind != Value::Text || !parseDateText(v.s, p))
                raise(1861, "literal does not match format string");
            return quoted(timestampToText(p));
        }
        case Slot::Span: {
            IntervalDesc iv(a.info.type == SQLT_INTERVAL_YM ? OCI_DTYPE_INTERVAL_YM : OCI_DTYPE_INTERVAL_DS);
            intervalFromText(&iv, argText(v));
            return quoted(intervalToText(&iv, 9, 9));
        }
        case Slot::Lob:
            if (a.info.type == SQLT_BLOB) return quoted(v.kind == Value::Blob ? hex(v.s) : argText(v));
            return quoted(argText(v));
        case Slot::Ref:
            // a REF as SQL gives it (REF(alias), a REF column): its kept text
            if (v.kind != Value::Text || !isRefText(v.s)) raise(932, "inconsistent datatypes: expected REF");
            return quoted(v.s);
        case Slot::Object:
        case Slot::Coll:
            // a nested constructor's value
            if (v.kind != Value::Text || v.s.empty() || v.s[0] != '[') raise(932, "inconsistent datatypes");
            return v.s;
    }
    return "null";
}

std::string keptValue(TypeDesc* t, const std::vector<Value>& args) {
    std::string out = "[";
    if (t->isColl()) {
        if (t->collCode == OCI_TYPECODE_VARRAY && args.size() > t->limit)
            raise(22909, "exceeded maximum VARRAY limit");
        for (size_t k = 0; k < args.size(); ++k) out += (k ? "," : "") + keptSlot(t->element(), args[k]);
    } else {
        if (args.size() != t->attrs.size())
            raise(2315, "incorrect number of arguments for default constructor");
        for (size_t k = 0; k < args.size(); ++k) out += (k ? "," : "") + keptSlot(t->attrs[k], args[k]);
    }
    return out + "]";
}

Value argValue(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return Value::null();
        case SQLITE_INTEGER:
            return Value::ofInt(sqlite3_value_int64(v));
        case SQLITE_FLOAT:
            return Value::ofReal(sqlite3_value_double(v));
        case SQLITE_BLOB:
            return Value::ofBlob(std::string(static_cast<const char*>(sqlite3_value_blob(v)),
                                             static_cast<size_t>(sqlite3_value_bytes(v))));
        default:
            return Value::ofText(reinterpret_cast<const char*>(sqlite3_value_text(v)));
    }
}

// oci_construct('TYPE', arguments...): the kept text of the new value.
void fnConstruct(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* s = static_cast<Session*>(sqlite3_user_data(ctx));
    try {
        TypeDesc* t = findType(*s, "", reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
        if (t->isXml()) raise(932, "inconsistent datatypes");
        std::vector<Value> args;
        for (int k = 1; k < argc; ++k) args.push_back(argValue(argv[k]));
        const std::string text = keptValue(t, args);
        sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    } catch (const OraException& e) {
        s->pendingRaise = std::make_pair(e.code(), std::string(e.what()));
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

}  // namespace

std::string rewriteConstructors(Session& s, const std::string& sql) {
    if (sql.find('(') == std::string::npos) return sql;
    std::vector<Token> tk = tokenize(sql);
    std::string out;
    size_t copied = 0;
    for (size_t k = 0; tk[k].kind != Token::End; ++k) {
        if (!mayBeType(tk, k)) continue;
        const std::optional<Column> c = objectColumnType(s, tk[k].text);
        if (!c || c->type.type != SQLT_NTY || c->typeName == "XMLTYPE") continue;
        out.append(sql, copied, tk[k].begin - copied);
        out += "oci_construct('" + c->typeName + "'" + (punct(tk[k + 2], ")") ? "" : ", ");
        copied = tk[k + 1].end;
        ++k;
    }
    if (copied == 0) return sql;
    out.append(sql, copied, std::string::npos);
    return out;
}

bool describeConstructorItem(Session& s, const Token& head, const Token& arg, Column& col) {
    if (head.text != "OCI_CONSTRUCT" || arg.kind != Token::String) return false;
    TypeDesc* t = findType(s, "", arg.text);
    col.type = TypeInfo{};
    col.type.type = SQLT_NTY;
    col.type.size = 2000;
    col.typeSchema = t->schema;
    col.typeName = t->name;
    col.nullable = true;
    return true;
}

void registerConstructorFunction(Session& s) {
    sqlite3_create_function(s.db, "oci_construct", -1, SQLITE_UTF8, &s, fnConstruct, nullptr, nullptr);
}

bool descriptorSlot(const TypeAttr& a) {
    return a.slot == Slot::Stamp || a.slot == Slot::Span || a.slot == Slot::Lob;
}

// The descriptor kinds an element of the attribute's type accepts.
bool acceptsDescriptor(const TypeAttr& a, ub4 type) {
    switch (a.info.type) {
        case SQLT_CLOB:
        case SQLT_BLOB:
            return type == OCI_DTYPE_LOB;
        case SQLT_INTERVAL_YM:
            return type == OCI_DTYPE_INTERVAL_YM;
        case SQLT_INTERVAL_DS:
            return type == OCI_DTYPE_INTERVAL_DS;
        default:
            return type == OCI_DTYPE_TIMESTAMP || type == OCI_DTYPE_TIMESTAMP_TZ ||
                   type == OCI_DTYPE_TIMESTAMP_LTZ;
    }
}

void assignDescriptorElement(const TypeAttr& a, const void* value, const void* valueInd,
                             unsigned char* cell) {
    sb2 ind = OCI_IND_NOTNULL;
    if (valueInd) std::memcpy(&ind, valueInd, sizeof ind);
    if (ind == OCI_IND_NULL) return;  // a null element keeps its descriptor, whatever came with it
    Handle* h = findHandle(value);
    if (!h || !acceptsDescriptor(a, h->type)) raise(21560, "argument 4 is null, invalid, or out of range");
    void* own = nullptr;
    std::memcpy(&own, cell, sizeof own);
    if (!own) {
        own = newDescriptorSlot(a);
        std::memcpy(cell, &own, sizeof own);
    }
    if (own != value) copyDescriptorSlot(a, value, own);
}

}  // namespace oci
