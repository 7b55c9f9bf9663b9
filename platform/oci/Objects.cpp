// Object types of the stand-in server: CREATE TYPE and DROP TYPE kept in the catalog (oci_type,
// oci_type_attr), type descriptors for OCITypeByName and OCIDescribeAny, object instances in the
// client's object cache, and the text form in which the database keeps object and collection values.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/oci/Guard.h"
#include "platform/oci/ObjectTypes.h"

namespace oci {

namespace {

// ---- the catalog --------------------------------------------------------------------------------------

const char* const TypeCatalog =
    "CREATE TABLE IF NOT EXISTS oci_type(owner TEXT COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE, "
    "kind TEXT NOT NULL, final INTEGER NOT NULL DEFAULT 1, max_elements INTEGER, element TEXT);"
    "CREATE TABLE IF NOT EXISTS oci_type_attr(owner TEXT COLLATE NOCASE, type_name TEXT NOT NULL COLLATE "
    "NOCASE, position INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, data_type TEXT NOT NULL);";

struct TypeRow {
    std::string owner, name, kind, element;
    bool final = true;
    int64_t limit = 0;
    std::vector<std::pair<std::string, std::string>> attrs;  // name, declared type
};

std::string columnText(sqlite3_stmt* q, int c) {
    const unsigned char* t = sqlite3_column_text(q, c);
    return t ? reinterpret_cast<const char*>(t) : "";
}

std::optional<TypeRow> readTypeRow(Session& s, const std::string& name) {
    sqlite3_stmt* q = nullptr;
    std::optional<TypeRow> row;
    if (sqlite3_prepare_v2(s.db,
                           "SELECT owner, name, kind, final, max_elements, element FROM oci_type WHERE "
                           "upper(name) = ?",
                           -1, &q, nullptr) != SQLITE_OK) {
        sqlite3_finalize(q);
        return row;  // no catalog of types: no types
    }
    sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(q) == SQLITE_ROW) {
        row.emplace();
        row->owner = upper(columnText(q, 0));
        row->name = upper(columnText(q, 1));
        row->kind = upper(columnText(q, 2));
        row->final = sqlite3_column_int(q, 3) != 0;
        row->limit = sqlite3_column_int64(q, 4);
        row->element = columnText(q, 5);
    }
    sqlite3_finalize(q);
    if (!row || row->kind != "OBJECT") return row;
    if (sqlite3_prepare_v2(s.db,
                           "SELECT name, data_type FROM oci_type_attr WHERE upper(type_name) = ? ORDER BY "
                           "position",
                           -1, &q, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(q) == SQLITE_ROW)
            row->attrs.emplace_back(upper(columnText(q, 0)), columnText(q, 1));
    }
    sqlite3_finalize(q);
    return row;
}

// ---- descriptors --------------------------------------------------------------------------------------

std::mutex registryLock;
// Every descriptor ever made, by database and name; replaced ones stay alive for TDOs still held.
std::map<std::string, TypeDesc*> typesByName;
std::vector<std::unique_ptr<TypeDesc>> allTypes;

std::string typeKey(const Session& s, const std::string& name) {
    return s.dbPath + "|" + name;
}

size_t roundUp(size_t v, size_t to) {
    return (v + to - 1) / to * to;
}

// The last dot-separated part of a declared type name, without quotes, upper case.
std::string bareTypeName(const std::string& declared) {
    return splitName(declared).back();
}

// loading: the types being described further up, which a REF may name before they are done.
TypeDesc* loadType(Session& s, const std::string& name, std::vector<TypeDesc*>* loading = nullptr);

// REF type: a pointer cell to a REF of the named type, which may be one being described (a type
// referring to itself, or to a type that holds it).
bool describeRef(Session& s, TypeAttr& a, std::vector<TypeDesc*>* loading) {
    std::vector<Token> tk = tokenize(a.declared);
    if (tk[0].kind != Token::Ident || tk[0].quoted || tk[0].text != "REF" || tk[1].kind != Token::Ident)
        return false;
    size_t k = 1;
    std::string name = tk[k].text;
    while (tk[k + 1].kind == Token::Punct && tk[k + 1].text == "." && tk[k + 2].kind == Token::Ident) {
        k += 2;
        name = tk[k].text;
    }
    if (tk[k + 1].kind != Token::End) raise(902, "invalid datatype");
    a.nested = nullptr;
    if (loading)
        for (TypeDesc* t : *loading)
            if (t->name == upper(name)) a.nested = t;
    if (!a.nested) a.nested = loadType(s, name, loading);
    if (a.nested->isColl() || a.nested->isXml()) raise(22863, "a REF must name an object type");
    a.info = TypeInfo{};
    a.info.type = SQLT_REF;
    a.info.size = static_cast<ub2>(PtrCell);
    a.slot = Slot::Ref;
    return true;
}

// The slot and Oracle description of one attribute or element type.
void describeAttr(Session& s, TypeAttr& a, std::vector<TypeDesc*>* loading = nullptr) {
    if (describeRef(s, a, loading)) return;
    auto scalar = parseDeclaredType(a.declared, false);
    if (scalar) {
        a.info = *scalar;
        switch (scalar->type) {
            case SQLT_CHR:
            case SQLT_AFC:
                a.slot = Slot::Text;
                return;
            case SQLT_BIN:
                a.slot = Slot::Text;  // kept as hexadecimal text
                return;
            case SQLT_NUM:
                a.slot = Slot::Number;
                return;
            case SQLT_DAT:
                a.info.size = 7;
                a.slot = Slot::Date;
                return;
            case SQLT_IBFLOAT:
                a.slot = Slot::BFloat;
                return;
            case SQLT_IBDOUBLE:
                a.slot = Slot::BDouble;
                return;
            case SQLT_TIMESTAMP:
            case SQLT_TIMESTAMP_TZ:
            case SQLT_TIMESTAMP_LTZ:
                a.slot = Slot::Stamp;
                return;
            case SQLT_INTERVAL_YM:
            case SQLT_INTERVAL_DS:
                a.slot = Slot::Span;
                return;
            case SQLT_CLOB:
            case SQLT_BLOB:
                a.slot = Slot::Lob;
                return;
            default:
                raise(22863, "the type " + upper(a.declared) + " is not offered as an attribute");
        }
    }
    a.nested = loadType(s, bareTypeName(a.declared), loading);
    a.info = TypeInfo{};
    a.info.type = SQLT_NTY;
    a.info.size = 2000;
    a.slot = a.nested->isColl() ? Slot::Coll : Slot::Object;
    a.embedded = a.slot == Slot::Object && a.nested->final;
}

// Places attributes as the client computes them: pointer cells (and objects holding one) on a
// pointer boundary, the rest packed.
void layOut(TypeDesc& t) {
    t.valueSize = 0;
    t.indSize = 2;
    for (TypeAttr& a : t.attrs) {
        a.size = slotSize(a);
        a.indStep = slotIndSize(a);
        const bool pointerLike = a.slot == Slot::Text || a.slot == Slot::Coll || a.slot == Slot::Stamp ||
                                 a.slot == Slot::Span || a.slot == Slot::Lob || a.slot == Slot::Ref ||
                                 (a.slot == Slot::Object && (!a.embedded || a.nested->aligned));
        if (pointerLike) {
            t.valueSize = roundUp(t.valueSize, PtrCell);
            t.aligned = true;
        }
        a.offset = t.valueSize;
        t.valueSize += a.size;
        a.indOffset = t.indSize;
        t.indSize += a.indStep;
    }
}

TypeDesc* loadType(Session& s, const std::string& nameIn, std::vector<TypeDesc*>* loading) {
    const std::string name = upper(nameIn);
    if (name == "XMLTYPE") return xmlType();
    {
        std::lock_guard<std::mutex> g(registryLock);
        auto it = typesByName.find(typeKey(s, name));
        if (it != typesByName.end()) return it->second;
    }
    auto row = readTypeRow(s, name);
    if (!row) raise(4043, "object " + name + " does not exist");
    auto owned = std::make_unique<TypeDesc>();
    TypeDesc* t = owned.get();
    t->schema = row->owner.empty() ? s.schema : row->owner;
    t->name = row->name;
    t->final = row->final;
    if (row->kind == "OBJECT") {
        for (auto& [attrName, decl] : row->attrs) {
            TypeAttr a;
            a.name = attrName;
            a.declared = decl;
            t->attrs.push_back(a);
        }
    } else {
        t->code = OCI_TYPECODE_NAMEDCOLLECTION;
        t->collCode = row->kind == "VARRAY" ? OCI_TYPECODE_VARRAY : OCI_TYPECODE_TABLE;
        t->limit = static_cast<ub4>(row->limit);
        TypeAttr e;
        e.declared = row->element;
        t->attrs.push_back(e);
    }
    std::vector<TypeDesc*> chain = loading ? *loading : std::vector<TypeDesc*>();
    chain.push_back(t);
    // Kept whatever happens: a REF of a type described meanwhile may point at this one.
    auto keep = [&]() {
        std::lock_guard<std::mutex> g(registryLock);
        allTypes.push_back(std::move(owned));
    };
    try {
        for (TypeAttr& a : t->attrs) describeAttr(s, a, &chain);
        if (t->isColl()) t->attrs.front().embedded = t->attrs.front().slot == Slot::Object;
        layOut(*t);
    } catch (...) {
        keep();
        throw;
    }
    keep();
    std::lock_guard<std::mutex> g(registryLock);
    auto [it, added] = typesByName.emplace(typeKey(s, name), t);
    if (!added) return it->second;  // another thread described it first
    return t;
}

// ---- CREATE TYPE and DROP TYPE ------------------------------------------------------------------------

struct TypeDdl {
    std::vector<Token> tokens;
    size_t at = 0;
    const std::string& text;
    const Token& peek() const { return tokens[at]; }
    bool word(const char* w) {
        if (peek().kind == Token::Ident && !peek().quoted && peek().text == w) {
            ++at;
            return true;
        }
        return false;
    }
    bool punct(const char* p) {
        if (peek().kind == Token::Punct && peek().text == p) {
            ++at;
            return true;
        }
        return false;
    }
    void expectWord(const char* w) {
        if (!word(w)) raise(905, "missing keyword");
    }
    void expectPunct(const char* p) {
        if (!punct(p)) raise(906, "missing left parenthesis");
    }
    std::string name() {
        if (peek().kind != Token::Ident) raise(903, "invalid table name");
        std::string n = tokens[at++].text;
        while (punct(".")) {
            if (peek().kind != Token::Ident) raise(903, "invalid table name");
            n = tokens[at++].text;  // the schema is dropped: the database has one namespace
        }
        return n;
    }
    // A declared type up to a "," or ")" at the outer level, as written.
    std::string declared() {
        const size_t from = peek().begin;
        size_t end = from;
        int depth = 0;
        while (peek().kind != Token::End) {
            if (peek().kind == Token::Punct && (peek().text == "," || peek().text == ")") && depth == 0)
                break;
            if (punct("(")) {
                ++depth;
            } else if (peek().kind == Token::Punct && peek().text == ")") {
                --depth;
                ++at;
            } else {
                ++at;
            }
            end = tokens[at - 1].end;
        }
        if (end == from) raise(902, "invalid datatype");
        return trim(text.substr(from, end - from));
    }
};

int64_t run(Session& s, const std::string& sql, const std::vector<std::string>& texts, int64_t number = -1) {
    sqlite3_stmt* q = nullptr;
    int rc = sqlite3_prepare_v2(s.db, sql.c_str(), -1, &q, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(q);
        s.raiseSqlite(rc);
    }
    int k = 1;
    for (const std::string& t : texts) sqlite3_bind_text(q, k++, t.c_str(), -1, SQLITE_TRANSIENT);
    if (number >= 0) sqlite3_bind_int64(q, k, number);
    rc = sqlite3_step(q);
    sqlite3_finalize(q);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) s.raiseSqlite(rc);
    return sqlite3_changes(s.db);
}

void forgetType(Session& s, const std::string& name) {
    std::lock_guard<std::mutex> g(registryLock);
    typesByName.erase(typeKey(s, name));
}

void createType(Session& s, TypeDdl& d, bool replace) {
    const std::string name = d.name();
    d.word("FORCE");
    if (!d.word("AS")) d.expectWord("IS");
    TypeRow row;
    row.name = name;
    if (d.word("OBJECT")) {
        row.kind = "OBJECT";
        d.expectPunct("(");
        do {
            if (d.peek().kind != Token::Ident) raise(904, "invalid identifier");
            std::string attr = d.tokens[d.at++].text;
            row.attrs.emplace_back(attr, d.declared());
        } while (d.punct(","));
        if (!d.punct(")")) raise(907, "missing right parenthesis");
        if (d.word("NOT")) {
            d.expectWord("FINAL");
            row.final = false;
        } else {
            d.word("FINAL");
        }
    } else if (d.word("VARRAY") || (d.word("VARYING") && d.word("ARRAY"))) {
        row.kind = "VARRAY";
        d.expectPunct("(");
        if (d.peek().kind != Token::Number) raise(2017, "integer value required");
        row.limit = std::atoll(d.tokens[d.at++].text.c_str());
        if (!d.punct(")")) raise(907, "missing right parenthesis");
        d.expectWord("OF");
        row.element = d.declared();
    } else if (d.word("TABLE")) {
        row.kind = "TABLE";
        d.expectWord("OF");
        row.element = d.declared();
    } else {
        raise(905, "missing keyword");
    }
    d.punct(";");
    if (d.peek().kind != Token::End) raise(922, "missing or invalid option");
    s.exec(TypeCatalog);
    sqlite3_stmt* q = nullptr;
    bool exists = false;
    if (sqlite3_prepare_v2(s.db, "SELECT 1 FROM oci_type WHERE upper(name) = ?", -1, &q, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        exists = sqlite3_step(q) == SQLITE_ROW;
    }
    sqlite3_finalize(q);
    if (exists && !replace) raise(955, "name is already used by an existing object");
    run(s, "DELETE FROM oci_type WHERE upper(name) = ?", {name});
    run(s, "DELETE FROM oci_type_attr WHERE upper(type_name) = ?", {name});
    run(s, "INSERT INTO oci_type(owner, name, kind, final, element, max_elements) VALUES (?, ?, ?, ?, ?, ?)",
        {s.schema, name, row.kind, row.final ? "1" : "0", row.element}, row.limit);
    int64_t position = 1;
    for (auto& [attr, decl] : row.attrs)
        run(s,
            "INSERT INTO oci_type_attr(owner, type_name, name, data_type, position) VALUES (?, ?, ?, ?, ?)",
            {s.schema, name, attr, decl}, position++);
    forgetType(s, name);
    // The attribute types must exist: describing the new type checks them now, not at first use.
    try {
        loadType(s, name);
    } catch (...) {
        forgetType(s, name);
        run(s, "DELETE FROM oci_type WHERE upper(name) = ?", {name});
        run(s, "DELETE FROM oci_type_attr WHERE upper(type_name) = ?", {name});
        throw;
    }
}

void dropType(Session& s, TypeDdl& d) {
    const std::string name = d.name();
    d.word("FORCE");
    s.exec(TypeCatalog);
    if (run(s, "DELETE FROM oci_type WHERE upper(name) = ?", {name}) == 0)
        raise(4043, "object " + name + " does not exist");
    run(s, "DELETE FROM oci_type_attr WHERE upper(type_name) = ?", {name});
    forgetType(s, name);
}

}  // namespace

bool runTypeDdl(Session& s, const std::string& utf8) {
    TypeDdl d{tokenize(utf8), 0, utf8};
    if (d.word("CREATE")) {
        bool replace = false;
        if (d.word("OR")) {
            d.expectWord("REPLACE");
            replace = true;
        }
        if (!d.word("TYPE")) return false;
        if (d.word("BODY")) return true;  // methods are not run: a body is accepted as it stands
        createType(s, d, replace);
        return true;
    }
    if (d.word("DROP") && d.word("TYPE")) {
        dropType(s, d);
        return true;
    }
    return false;
}

TypeDesc* findType(Session& s, const std::string&, const std::string& name) {
    return loadType(s, name);
}

TypeDesc* typeOf(const void* tdo) {
    if (tdo && tdo == xmlType()) return xmlType();
    std::lock_guard<std::mutex> g(registryLock);
    for (auto& t : allTypes)
        if (t.get() == tdo) return t.get();
    raise(21560, "argument 6 is null, invalid, or out of range");
}

std::optional<Column> objectColumnType(Session& s, const std::string& declared) {
    if (parseDeclaredType(declared, false)) return std::nullopt;
    if (TypeDesc* target = refTypeOf(s, declared)) {
        Column c;
        c.type.type = SQLT_REF;
        c.type.size = 4000;
        c.typeSchema = target->schema;
        c.typeName = target->name;
        return c;
    }
    const std::string name = bareTypeName(declared);
    if (name == "XMLTYPE") {
        Column c;
        c.type.type = SQLT_NTY;
        c.type.size = 2000;
        c.typeSchema = "SYS";
        c.typeName = "XMLTYPE";
        return c;
    }
    if (name.empty() || !readTypeRow(s, name)) return std::nullopt;
    TypeDesc* t = loadType(s, name);
    Column c;
    c.type.type = SQLT_NTY;
    c.type.size = 2000;
    c.typeSchema = t->schema;
    c.typeName = t->name;
    return c;
}

// ---- describing a type --------------------------------------------------------------------------------

namespace {

Param* attrParam(Handle* parent, const TypeAttr& a, ub1 ptype) {
    Param* p = newParam(parent);
    p->setInt(OCI_ATTR_PTYPE, 1, ptype);
    p->setText(OCI_ATTR_NAME, utf8ToAnsi(a.name));
    p->setInt(OCI_ATTR_DATA_TYPE, 2, a.info.type);
    p->setInt(OCI_ATTR_DATA_SIZE, 2, a.info.type == SQLT_DAT ? 7 : a.info.size);
    p->setInt(OCI_ATTR_PRECISION, 1, a.info.precision);
    p->setInt(OCI_ATTR_SCALE, 1, a.info.scale);
    p->setInt(OCI_ATTR_CHARSET_FORM, 1, a.info.charsetForm);
    p->setText(OCI_ATTR_TYPE_NAME, a.nested ? utf8ToAnsi(a.nested->name) : "");
    p->setText(OCI_ATTR_SCHEMA_NAME, a.nested ? utf8ToAnsi(a.nested->schema) : "");
    p->setInt(OCI_ATTR_TYPECODE, 2,
              a.slot == Slot::Ref ? OCI_TYPECODE_REF
              : a.nested          ? a.nested->code
                                  : a.info.type);
    return p;
}

}  // namespace

Param* describeType(Session& s, Describe& d, const std::string& nameIn) {
    auto parts = splitTypeName(nameIn);
    TypeDesc* t = findType(s, parts.first, parts.second);
    if (d.root) freeHandle(d.root);
    Param* p = newParam(&d);
    p->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_TYPE);
    p->setText(OCI_ATTR_NAME, utf8ToAnsi(t->name));
    p->setText(OCI_ATTR_SCHEMA_NAME, utf8ToAnsi(t->schema));
    p->setInt(OCI_ATTR_TYPECODE, 2, t->code);
    p->setInt(OCI_ATTR_IS_FINAL_TYPE, 1, t->final ? 1 : 0);
    if (t->isColl()) {
        p->setInt(OCI_ATTR_COLLECTION_TYPECODE, 2, t->collCode);
        p->setInt(OCI_ATTR_NUM_TYPE_ATTRS, 2, 0);
        Param* e = attrParam(p, t->element(), OCI_PTYPE_TYPE_COLL);
        e->setInt(OCI_ATTR_NUM_ELEMS, 4, t->limit);
        p->setPtr(OCI_ATTR_COLLECTION_ELEMENT, e);
    } else {
        p->setInt(OCI_ATTR_NUM_TYPE_ATTRS, 2, static_cast<int64_t>(t->attrs.size()));
        Param* list = newParam(p);
        list->setInt(OCI_ATTR_PTYPE, 1, OCI_PTYPE_LIST);
        list->setInt(OCI_ATTR_LTYPE, 1, OCI_LTYPE_TYPE_ATTR);
        list->base = 1;
        for (const TypeAttr& a : t->attrs) list->items.push_back(attrParam(list, a, OCI_PTYPE_TYPE_ATTR));
        list->setInt(OCI_ATTR_NUM_PARAMS, 2, static_cast<int64_t>(list->items.size()));
        p->setPtr(OCI_ATTR_LIST_TYPE_ATTRS, list);
    }
    d.root = p;
    return p;
}

std::pair<std::string, std::string> splitTypeName(const std::string& name) {
    const std::vector<std::string> parts = splitName(name);
    if (parts.size() == 1) return {"", parts[0]};
    return {parts[0], parts[1]};
}

// ---- instances ----------------------------------------------------------------------------------------

namespace {

std::mutex instanceLock;
std::map<const void*, std::unique_ptr<Instance>> instances;  // by the address of their bytes

template <class T>
T cellGet(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void cellPut(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

sb2 indAt(const unsigned char* ind, size_t off) {
    return cellGet<sb2>(ind + off);
}

}  // namespace

size_t slotSize(const TypeAttr& a) {
    switch (a.slot) {
        case Slot::Text:
        case Slot::Coll:
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
        case Slot::Ref:
            return PtrCell;
        case Slot::Number:
            return sizeof(OCINumber);
        case Slot::Date:
            return sizeof(OCIDate);
        case Slot::BFloat:
            return 4;
        case Slot::BDouble:
            return 8;
        case Slot::Object:
            if (!a.embedded) return PtrCell;
            return a.nested->aligned ? roundUp(a.nested->valueSize, PtrCell) : a.nested->valueSize;
    }
    return PtrCell;
}

size_t slotIndSize(const TypeAttr& a) {
    return a.slot == Slot::Object && a.embedded ? a.nested->indSize : 2;
}

Instance* instanceOf(const void* p) {
    std::lock_guard<std::mutex> g(instanceLock);
    auto it = instances.find(p);
    return it == instances.end() ? nullptr : it->second.get();
}

void* newInstance(TypeDesc* t) {
    if (t->isColl()) return newColl(t);
    auto inst = std::make_unique<Instance>();
    inst->type = t;
    inst->data.assign(t->valueSize ? t->valueSize : 1, 0);
    inst->ind.assign(t->indSize, 0);
    initInstance(t, inst->data.data(), inst->ind.data());
    void* p = inst->data.data();
    std::lock_guard<std::mutex> g(instanceLock);
    instances.emplace(p, std::move(inst));
    return p;
}

namespace {

void freeInstance(void* p) {
    std::unique_ptr<Instance> inst;
    {
        std::lock_guard<std::mutex> g(instanceLock);
        auto it = instances.find(p);
        if (it == instances.end()) return;
        inst = std::move(it->second);
        instances.erase(it);
    }
    clearInstance(inst->type, inst->data.data());
}

}  // namespace

void dropInstance(void* p) {
    freeInstance(p);
}

// TIMESTAMP and INTERVAL attributes hold a descriptor of their own kind.
void* newDescriptorSlot(const TypeAttr& a) {
    Handle* h = nullptr;
    switch (a.info.type) {
        case SQLT_CLOB:
        case SQLT_BLOB:
            h = newLobLocator(OCI_DTYPE_LOB);
            break;
        case SQLT_TIMESTAMP_TZ:
            h = new DateTimeDesc(OCI_DTYPE_TIMESTAMP_TZ);
            break;
        case SQLT_TIMESTAMP_LTZ:
            h = new DateTimeDesc(OCI_DTYPE_TIMESTAMP_LTZ);
            break;
        case SQLT_INTERVAL_YM:
            h = new IntervalDesc(OCI_DTYPE_INTERVAL_YM);
            break;
        case SQLT_INTERVAL_DS:
            h = new IntervalDesc(OCI_DTYPE_INTERVAL_DS);
            break;
        default:
            h = new DateTimeDesc(OCI_DTYPE_TIMESTAMP);
            break;
    }
    registerHandle(h, nullptr);
    if (a.slot == Slot::Lob) {
        // An empty LOB of the client's own, which it may write before the value is bound.
        void* cell = h;
        storeLocator(reinterpret_cast<char*>(&cell), a.info.type,
                     a.info.type == SQLT_BLOB ? Value::ofBlob("") : Value::ofText(""), nullptr,
                     a.info.charsetForm, true);
    }
    return h;
}

std::string descriptorSlotText(const TypeAttr& a, const void* p) {
    if (a.slot == Slot::Lob) {
        // The kept text: a CLOB's characters, a BLOB's bytes in hexadecimal.
        Value v = locatorValue(reinterpret_cast<const char*>(&p), a.info.type);
        if (v.kind != Value::Blob) return v.s;
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : v.s) {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        return out;
    }
    if (a.slot == Slot::Span) {
        auto* iv = dynamic_cast<IntervalDesc*>(findHandle(p));
        if (!iv) raise(21560, "argument is not an interval");
        return intervalToText(iv, 9, 9);
    }
    auto* dt = dynamic_cast<DateTimeDesc*>(findHandle(p));
    if (!dt) raise(21560, "argument is not a datetime");
    return timestampToText(dt->value);
}

void setDescriptorSlot(const TypeAttr& a, void* p, const std::string& text) {
    if (a.slot == Slot::Lob) {
        Value v = Value::ofText(text);
        if (a.info.type == SQLT_BLOB) {
            std::string bytes;
            for (size_t k = 0; k + 1 < text.size(); k += 2)
                bytes += static_cast<char>(std::stoi(text.substr(k, 2), nullptr, 16));
            v = Value::ofBlob(bytes);
        }
        // The instance's LOB stays writable: the client edits it before the value is bound.
        storeLocator(reinterpret_cast<char*>(&p), a.info.type, v, nullptr, a.info.charsetForm, true);
        return;
    }
    if (a.slot == Slot::Span) {
        auto* iv = dynamic_cast<IntervalDesc*>(findHandle(p));
        if (!iv) raise(21560, "argument is not an interval");
        intervalFromText(iv, text);
        return;
    }
    auto* dt = dynamic_cast<DateTimeDesc*>(findHandle(p));
    if (!dt) raise(21560, "argument is not a datetime");
    DateParts parts;
    if (!parseDateText(text, parts)) raise(1861, "literal does not match format string");
    dt->value = parts;
}

void copyDescriptorSlot(const TypeAttr& a, const void* from, void* to) {
    if (a.slot == Slot::Lob) {
        auto* f = dynamic_cast<LobLocator*>(findHandle(from));
        auto* t = dynamic_cast<LobLocator*>(findHandle(to));
        if (!f || !t) return;
        t->data.reset();
        if (f->data) {
            t->data = std::make_shared<LobData>();
            t->data->kind = f->data->kind;
            t->data->form = f->data->form;
            t->data->bytes = f->data->bytes;
            t->data->text = f->data->text;
            t->data->temporary = true;
        }
        return;
    }
    if (a.slot == Slot::Span) {
        auto* f = dynamic_cast<IntervalDesc*>(findHandle(from));
        auto* t = dynamic_cast<IntervalDesc*>(findHandle(to));
        if (f && t) {
            t->months = f->months;
            t->nanos = f->nanos;
        }
        return;
    }
    auto* f = dynamic_cast<DateTimeDesc*>(findHandle(from));
    auto* t = dynamic_cast<DateTimeDesc*>(findHandle(to));
    if (f && t) t->value = f->value;
}

// A new value starts with every attribute null, strings empty and collections empty.
void initSlot(const TypeAttr& a, unsigned char* data, unsigned char* ind) {
    std::memset(data, 0, slotSize(a));
    if (ind) cellPut<sb2>(ind, OCI_IND_NULL);
    switch (a.slot) {
        case Slot::Text:
            cellPut<OCIString*>(data, newString(""));
            break;
        case Slot::Coll:
            cellPut<void*>(data, newColl(a.nested));
            break;
        case Slot::Ref:
            cellPut<void*>(data, newRef(a.nested));
            break;
        case Slot::Object:
            if (a.embedded) initInstance(a.nested, data, ind);
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            cellPut<void*>(data, newDescriptorSlot(a));
            break;
        default:
            break;
    }
}

void initInstance(TypeDesc* t, unsigned char* data, unsigned char* ind) {
    if (ind) cellPut<sb2>(ind, OCI_IND_NULL);
    for (const TypeAttr& a : t->attrs) initSlot(a, data + a.offset, ind ? ind + a.indOffset : nullptr);
}

void clearSlot(const TypeAttr& a, unsigned char* data) {
    switch (a.slot) {
        case Slot::Text:
            freeString(cellGet<OCIString*>(data));
            cellPut<OCIString*>(data, nullptr);
            break;
        case Slot::Coll:
            if (void* c = cellGet<void*>(data)) freeColl(collOf(c));
            cellPut<void*>(data, nullptr);
            break;
        case Slot::Ref:
            if (void* r = cellGet<void*>(data)) freeRef(r);
            cellPut<void*>(data, nullptr);
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            if (Handle* h = findHandle(cellGet<void*>(data))) freeHandle(h);
            cellPut<void*>(data, nullptr);
            break;
        case Slot::Object:
            if (a.embedded) {
                clearInstance(a.nested, data);
            } else {
                if (void* p = cellGet<void*>(data)) freeInstance(p);
                cellPut<void*>(data, nullptr);
            }
            break;
        default:
            break;
    }
}

void clearInstance(TypeDesc* t, unsigned char* data) {
    for (const TypeAttr& a : t->attrs) clearSlot(a, data + a.offset);
}

void copySlot(const TypeAttr& a, const unsigned char* src, const unsigned char* srcInd, unsigned char* dst,
              unsigned char* dstInd) {
    const size_t indBytes = slotIndSize(a);
    switch (a.slot) {
        case Slot::Text:
            setString(reinterpret_cast<OCIString**>(dst), stringText(cellGet<OCIString*>(src)));
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            if (!cellGet<void*>(dst)) cellPut<void*>(dst, newDescriptorSlot(a));
            copyDescriptorSlot(a, cellGet<void*>(src), cellGet<void*>(dst));
            break;
        case Slot::Ref:
            if (!cellGet<void*>(dst)) cellPut<void*>(dst, newRef(a.nested));
            copyRef(cellGet<void*>(src), cellGet<void*>(dst));
            break;
        case Slot::Coll: {
            void* from = cellGet<void*>(src);
            void* to = cellGet<void*>(dst);
            if (!to) {
                to = newColl(a.nested);
                cellPut<void*>(dst, to);
            }
            CollBody* target = collOf(to);
            for (auto& e : target->elems) clearSlot(a.nested->element(), e->data.data());
            target->elems.clear();
            if (from) {
                for (auto& e : collOf(from)->elems) {
                    if (!e->exists) continue;
                    assignElement(a.nested->element(), nullptr, nullptr,
                                  *target->elems.emplace_back(std::make_unique<CollElem>()));
                    copySlot(a.nested->element(), e->data.data(), e->ind.data(),
                             target->elems.back()->data.data(), target->elems.back()->ind.data());
                }
            }
            break;
        }
        case Slot::Object:
            if (a.embedded) {
                copyInstance(a.nested, src, srcInd, dst, dstInd);
                return;
            } else {
                void* from = cellGet<void*>(src);
                void* to = cellGet<void*>(dst);
                if (!from) {
                    if (to) freeInstance(to);
                    cellPut<void*>(dst, nullptr);
                    break;
                }
                if (!to) {
                    to = newInstance(a.nested);
                    cellPut<void*>(dst, to);
                }
                Instance* f = instanceOf(from);
                Instance* d = instanceOf(to);
                if (f && d)
                    copyInstance(a.nested, f->data.data(), f->ind.data(), d->data.data(), d->ind.data());
            }
            break;
        default:
            std::memcpy(dst, src, slotSize(a));
            break;
    }
    if (dstInd) {
        if (srcInd)
            std::memcpy(dstInd, srcInd, indBytes);
        else
            cellPut<sb2>(dstInd, OCI_IND_NOTNULL);
    }
}

void copyInstance(TypeDesc* t, const unsigned char* src, const unsigned char* srcInd, unsigned char* dst,
                  unsigned char* dstInd) {
    if (src == dst) return;
    for (const TypeAttr& a : t->attrs)
        copySlot(a, src + a.offset, srcInd ? srcInd + a.indOffset : nullptr, dst + a.offset,
                 dstInd ? dstInd + a.indOffset : nullptr);
    if (dstInd) cellPut<sb2>(dstInd, srcInd ? indAt(srcInd, 0) : OCI_IND_NOTNULL);
}

namespace {

void slotRefsToSession(const TypeAttr& a, unsigned char* data, Session& s);

void instanceRefsToSession(TypeDesc* t, unsigned char* data, Session& s) {
    for (const TypeAttr& a : t->attrs) slotRefsToSession(a, data + a.offset, s);
}

void slotRefsToSession(const TypeAttr& a, unsigned char* data, Session& s) {
    switch (a.slot) {
        case Slot::Ref:
            if (void* r = cellGet<void*>(data)) setRefSession(r, s);
            break;
        case Slot::Object:
            if (a.embedded) {
                instanceRefsToSession(a.nested, data, s);
            } else if (Instance* inst = instanceOf(cellGet<void*>(data))) {
                instanceRefsToSession(a.nested, inst->data.data(), s);
            }
            break;
        case Slot::Coll:
            if (CollBody* c = collOfOrNull(cellGet<void*>(data)))
                for (auto& e : c->elems) slotRefsToSession(a.nested->element(), e->data.data(), s);
            break;
        default:
            break;
    }
}

}  // namespace

void refsToSession(TypeDesc* t, void* instance, Session& s) {
    if (!instance) return;
    if (t->isColl()) {
        TypeAttr a;
        a.slot = Slot::Coll;
        a.nested = t;
        slotRefsToSession(a, reinterpret_cast<unsigned char*>(&instance), s);
    } else if (!t->isXml()) {
        instanceRefsToSession(t, static_cast<unsigned char*>(instance), s);
    }
}

// ---- the kept text of values --------------------------------------------------------------------------
//
// Object values are kept as bracketed lists of their attributes in order, collections as lists of
// their elements (deleted ones left out); null, numbers as decimal text, text and dates as quoted
// strings with backslash escapes: ["Main St. 1", 12.5, "2024-01-02 03:04:05", [1, 2], null].

namespace {

struct Node {
    enum Kind { Null, Str, Num, List } kind = Null;
    std::string s;
    std::vector<Node> items;
};

void writeQuoted(std::string& out, const std::string& s) {
    out += '"';
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

std::string dateText(const unsigned char* p) {
    OCIDate d;
    std::memcpy(&d, p, sizeof d);
    DateParts parts;
    parts.year = d.OCIDateYYYY;
    parts.month = d.OCIDateMM;
    parts.day = d.OCIDateDD;
    parts.hour = d.OCIDateTime.OCITimeHH;
    parts.minute = d.OCIDateTime.OCITimeMI;
    parts.second = d.OCIDateTime.OCITimeSS;
    if (!validDate(parts)) raise(1858, "a non-numeric character was found where a numeric was expected");
    return dateToText(parts);
}

void writeInstance(std::string& out, TypeDesc* t, const unsigned char* data, const unsigned char* ind);

void writeSlot(std::string& out, const TypeAttr& a, const unsigned char* data, const unsigned char* ind) {
    if (a.slot == Slot::Object && a.embedded) return writeInstance(out, a.nested, data, ind);
    if (ind && indAt(ind, 0) != OCI_IND_NOTNULL) {
        out += "null";
        return;
    }
    switch (a.slot) {
        case Slot::Text:
            writeQuoted(out, ansiToUtf8(stringText(cellGet<OCIString*>(data))));
            break;
        case Slot::Number: {
            OCINumber n;
            std::memcpy(&n, data, sizeof n);
            if (n.OCINumberPart[0] == 0 || n.OCINumberPart[0] > 21) raise(1722, "invalid number");
            out += decimalToText(decodeNumber(n.OCINumberPart + 1, n.OCINumberPart[0]));
            break;
        }
        case Slot::Date:
            writeQuoted(out, dateText(data));
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            writeQuoted(out, descriptorSlotText(a, cellGet<void*>(data)));
            break;
        case Slot::Ref: {
            const void* r = cellGet<void*>(data);
            const std::string text = r ? refCellText(r) : std::string();
            if (text.empty())
                out += "null";  // a null REF is a null attribute
            else
                writeQuoted(out, text);
            break;
        }
        case Slot::BFloat:
        case Slot::BDouble: {
            char buf[40];
            double v = a.slot == Slot::BFloat ? cellGet<float>(data) : cellGet<double>(data);
            std::snprintf(buf, sizeof buf, "%.17g", v);
            out += buf;
            break;
        }
        case Slot::Coll: {
            void* c = cellGet<void*>(data);
            if (!c) {
                out += "null";
                break;
            }
            out += '[';
            bool first = true;
            for (auto& e : collOf(c)->elems) {
                if (!e->exists) continue;
                if (!first) out += ',';
                first = false;
                writeSlot(out, a.nested->element(), e->data.data(), e->ind.data());
            }
            out += ']';
            break;
        }
        case Slot::Object: {
            void* p = cellGet<void*>(data);
            Instance* inst = p ? instanceOf(p) : nullptr;
            if (!inst) {
                out += "null";
                break;
            }
            writeInstance(out, a.nested, inst->data.data(), inst->ind.data());
            break;
        }
    }
}

void writeInstance(std::string& out, TypeDesc* t, const unsigned char* data, const unsigned char* ind) {
    if (ind && indAt(ind, 0) != OCI_IND_NOTNULL) {
        out += "null";
        return;
    }
    out += '[';
    for (size_t k = 0; k < t->attrs.size(); ++k) {
        const TypeAttr& a = t->attrs[k];
        if (k) out += ',';
        writeSlot(out, a, data + a.offset, ind ? ind + a.indOffset : nullptr);
    }
    out += ']';
}

struct Reader {
    const std::string& s;
    size_t i = 0;
    [[noreturn]] void bad() { raise(22060, "argument [2] is an invalid or uninitialized number"); }
    void blanks() {
        while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    }
    Node node() {
        blanks();
        if (i >= s.size()) bad();
        Node n;
        if (s[i] == '[') {
            n.kind = Node::List;
            ++i;
            blanks();
            if (i < s.size() && s[i] == ']') {
                ++i;
                return n;
            }
            for (;;) {
                n.items.push_back(node());
                blanks();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == ']') {
                    ++i;
                    return n;
                }
                bad();
            }
        }
        if (s[i] == '"') {
            n.kind = Node::Str;
            for (++i; i < s.size() && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < s.size()) ++i;
                n.s += s[i];
            }
            if (i >= s.size()) bad();
            ++i;
            return n;
        }
        if (s.compare(i, 4, "null") == 0) {
            i += 4;
            return n;
        }
        n.kind = Node::Num;
        while (i < s.size() && s[i] != ',' && s[i] != ']' && static_cast<unsigned char>(s[i]) > ' ')
            n.s += s[i++];
        if (n.s.empty()) bad();
        return n;
    }
};

void readInstance(TypeDesc* t, const Node& n, unsigned char* data, unsigned char* ind);

void readSlot(const TypeAttr& a, const Node& n, unsigned char* data, unsigned char* ind) {
    if (a.slot == Slot::Object && a.embedded) return readInstance(a.nested, n, data, ind);
    if (a.slot == Slot::Ref) {
        if (!cellGet<void*>(data)) cellPut<void*>(data, newRef(a.nested));
        setRefCellText(cellGet<void*>(data), n.kind == Node::Null ? std::string() : n.s);
    }
    if (n.kind == Node::Null) {
        if (ind) cellPut<sb2>(ind, OCI_IND_NULL);
        return;
    }
    if (ind) cellPut<sb2>(ind, OCI_IND_NOTNULL);
    switch (a.slot) {
        case Slot::Text:
            setString(reinterpret_cast<OCIString**>(data), utf8ToAnsi(n.s));
            break;
        case Slot::Number: {
            Decimal d;
            if (!parseDecimal(n.s, d)) raise(1722, "invalid number");
            std::string b = encodeNumber(d);
            OCINumber num{};
            num.OCINumberPart[0] = static_cast<ub1>(b.size());
            std::memcpy(num.OCINumberPart + 1, b.data(), b.size());
            std::memcpy(data, &num, sizeof num);
            break;
        }
        case Slot::Date: {
            DateParts p;
            if (!parseDateText(n.s, p)) raise(1861, "literal does not match format string");
            OCIDate d{};
            d.OCIDateYYYY = static_cast<sb2>(p.year);
            d.OCIDateMM = static_cast<ub1>(p.month);
            d.OCIDateDD = static_cast<ub1>(p.day);
            d.OCIDateTime.OCITimeHH = static_cast<ub1>(p.hour);
            d.OCIDateTime.OCITimeMI = static_cast<ub1>(p.minute);
            d.OCIDateTime.OCITimeSS = static_cast<ub1>(p.second);
            std::memcpy(data, &d, sizeof d);
            break;
        }
        case Slot::BFloat:
            cellPut<float>(data, static_cast<float>(std::strtod(n.s.c_str(), nullptr)));
            break;
        case Slot::Stamp:
        case Slot::Span:
        case Slot::Lob:
            if (!cellGet<void*>(data)) cellPut<void*>(data, newDescriptorSlot(a));
            setDescriptorSlot(a, cellGet<void*>(data), n.s);
            break;
        case Slot::BDouble:
            cellPut<double>(data, std::strtod(n.s.c_str(), nullptr));
            break;
        case Slot::Ref:
            break;  // read above
        case Slot::Coll: {
            void* c = cellGet<void*>(data);
            if (!c) {
                c = newColl(a.nested);
                cellPut<void*>(data, c);
            }
            CollBody* body = collOf(c);
            for (auto& e : body->elems) clearSlot(a.nested->element(), e->data.data());
            body->elems.clear();
            for (const Node& item : n.items) {
                auto e = std::make_unique<CollElem>();
                assignElement(a.nested->element(), nullptr, nullptr, *e);
                readSlot(a.nested->element(), item, e->data.data(), e->ind.data());
                body->elems.push_back(std::move(e));
            }
            break;
        }
        case Slot::Object: {
            void* p = cellGet<void*>(data);
            if (!p) {
                p = newInstance(a.nested);
                cellPut<void*>(data, p);
            }
            Instance* inst = instanceOf(p);
            readInstance(a.nested, n, inst->data.data(), inst->ind.data());
            break;
        }
    }
}

void readInstance(TypeDesc* t, const Node& n, unsigned char* data, unsigned char* ind) {
    if (n.kind == Node::Null) {
        if (ind) cellPut<sb2>(ind, OCI_IND_NULL);
        return;
    }
    if (n.kind != Node::List || n.items.size() != t->attrs.size())
        raise(22060, "the kept value does not match type " + t->name);
    if (ind) cellPut<sb2>(ind, OCI_IND_NOTNULL);
    for (size_t k = 0; k < t->attrs.size(); ++k) {
        const TypeAttr& a = t->attrs[k];
        readSlot(a, n.items[k], data + a.offset, ind ? ind + a.indOffset : nullptr);
    }
}

// The instance bytes and null structure behind a top-level instance pointer: an object's own, or a
// collection seen as an attribute of one element.
struct Whole {
    TypeAttr attr;  // a collection: an attribute holding it
    unsigned char* data;
    unsigned char* ind;
    bool coll;
};

}  // namespace

Value instanceValue(TypeDesc* t, const void* instance, const void* ind) {
    if (!instance) return Value::null();
    std::string out;
    if (t->isColl()) {
        TypeAttr a;
        a.slot = Slot::Coll;
        a.nested = t;
        const sb2 atomic =
            ind ? cellGet<sb2>(static_cast<const unsigned char*>(ind)) : collOf(instance)->atomic;
        if (atomic != OCI_IND_NOTNULL) return Value::null();
        void* cell = const_cast<void*>(instance);
        writeSlot(out, a, reinterpret_cast<const unsigned char*>(&cell), nullptr);
    } else {
        writeInstance(out, t, static_cast<const unsigned char*>(instance),
                      static_cast<const unsigned char*>(ind));
    }
    if (out == "null") return Value::null();
    return Value::ofText(out);
}

void loadInstance(TypeDesc* t, const Value& v, void* instance, void* ind) {
    auto* indBytes = static_cast<unsigned char*>(ind);
    if (v.isNull()) {
        if (t->isColl()) {
            CollBody* c = collOf(instance);
            for (auto& e : c->elems) clearSlot(t->element(), e->data.data());
            c->elems.clear();
            c->atomic = OCI_IND_NULL;
        } else {
            clearInstance(t, static_cast<unsigned char*>(instance));
            initInstance(t, static_cast<unsigned char*>(instance), indBytes);
        }
        if (indBytes) cellPut<sb2>(indBytes, OCI_IND_NULL);
        return;
    }
    Reader r{v.s};
    Node n = r.node();
    if (t->isColl()) {
        TypeAttr a;
        a.slot = Slot::Coll;
        a.nested = t;
        void* cell = instance;
        readSlot(a, n, reinterpret_cast<unsigned char*>(&cell), nullptr);
        collOf(instance)->atomic = OCI_IND_NOTNULL;
        if (indBytes) cellPut<sb2>(indBytes, OCI_IND_NOTNULL);
    } else {
        readInstance(t, n, static_cast<unsigned char*>(instance), indBytes);
    }
}

// ---- attributes as columns of object tables ----------------------------------------------------------

Value attrValue(const TypeAttr& a, const unsigned char* data, const unsigned char* ind) {
    std::string out;
    writeSlot(out, a, data, ind);
    if (out == "null") return Value::null();
    switch (a.slot) {
        case Slot::Text: {
            const std::string text = ansiToUtf8(stringText(cellGet<OCIString*>(data)));
            if (a.info.type != SQLT_BIN) return Value::ofText(text);
            std::string bytes;
            for (size_t k = 0; k + 1 < text.size(); k += 2)
                bytes += static_cast<char>(std::stoi(text.substr(k, 2), nullptr, 16));
            return Value::ofBlob(bytes);
        }
        case Slot::Date:
            return Value::ofText(dateText(data));
        case Slot::Ref:
            return Value::ofText(refCellText(cellGet<void*>(data)));  // as a REF column keeps it
        case Slot::Stamp:
        case Slot::Span:
            return Value::ofText(descriptorSlotText(a, cellGet<void*>(data)));
        case Slot::Lob: {
            void* cell = cellGet<void*>(data);
            Value v = locatorValue(reinterpret_cast<const char*>(&cell), a.info.type);
            return v.isNull() ? Value::ofText("") : v;
        }
        case Slot::Number:
        case Slot::BFloat:
        case Slot::BDouble: {
            Decimal d;
            if (!parseDecimal(out, d)) return Value::ofReal(std::strtod(out.c_str(), nullptr));
            const double r = std::strtod(out.c_str(), nullptr);
            if (out.find_first_of(".eE") == std::string::npos && std::fabs(r) < 9e18)
                return Value::ofInt(std::strtoll(out.c_str(), nullptr, 10));
            return Value::ofReal(r);
        }
        default:
            return Value::ofText(out);
    }
}

void loadAttr(const TypeAttr& a, const Value& v, unsigned char* data, unsigned char* ind) {
    Node n;
    switch (v.kind) {
        case Value::Null:
            break;
        case Value::Int:
        case Value::Real:
            n.kind = Node::Num;
            n.s = decimalToText(valueToDecimal(v));
            break;
        case Value::Blob: {
            static const char hex[] = "0123456789ABCDEF";
            n.kind = Node::Str;
            for (unsigned char c : v.s) {
                n.s += hex[c >> 4];
                n.s += hex[c & 15];
            }
            break;
        }
        default:
            if (a.slot == Slot::Object || a.slot == Slot::Coll) {
                Reader r{v.s};
                n = r.node();
            } else {
                n.kind = a.slot == Slot::Number || a.slot == Slot::BFloat || a.slot == Slot::BDouble
                             ? Node::Num
                             : Node::Str;
                n.s = v.s;
            }
            break;
    }
    readSlot(a, n, data, ind);
}

// ---- binds and defines of objects --------------------------------------------------------------------

namespace {

void* cellAt(void** base, ub4 row, ub4 skip) {
    if (!base) return nullptr;
    auto* p = reinterpret_cast<char*>(base) + static_cast<size_t>(row) * (skip ? skip : PtrCell);
    void* v = nullptr;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void setCellAt(void** base, ub4 row, ub4 skip, void* v) {
    auto* p = reinterpret_cast<char*>(base) + static_cast<size_t>(row) * (skip ? skip : PtrCell);
    std::memcpy(p, &v, sizeof v);
}

void* indicatorOf(TypeDesc* t, void* instance) {
    if (t->isColl()) return &collOf(instance)->atomic;
    Instance* inst = instanceOf(instance);
    if (!inst) raise(21710, "argument is expecting a valid memory address of an object");
    return inst->ind.data();
}

}  // namespace

Value objectBindValue(const Bind& b, ub4 iteration) {
    if (!b.objectType) raise(21560, "argument 3 is null, invalid, or out of range");
    TypeDesc* t = typeOf(b.objectType);
    void* instance = cellAt(b.objectCells, iteration, b.valueSkip);
    if (!instance) return Value::null();
    if (t->isXml()) {
        if (!isXml(instance)) raise(21710, "argument is expecting a valid memory address of an object");
        return xmlValue(instance, b.objectInds ? cellAt(b.objectInds, iteration, b.indSkip) : nullptr);
    }
    void* ind = b.objectInds ? cellAt(b.objectInds, iteration, b.indSkip) : nullptr;
    if (!ind) ind = indicatorOf(t, instance);
    return instanceValue(t, instance, ind);
}

void objectDefineWrite(Define& d, ub4 row, const Value& v, Session& s) {
    if (!d.objectType) raise(21560, "argument 3 is null, invalid, or out of range");
    if (!d.objectCells) raise(1008, "not all variables bound");
    TypeDesc* t = typeOf(d.objectType);
    void* instance = cellAt(d.objectCells, row, d.valueSkip);
    if (t->isXml()) {
        // Every fetched row gets an instance of its own: the client frees it after reading it.
        void* x = newXml(v);
        setCellAt(d.objectCells, row, d.valueSkip, x);
        if (d.objectInds) setCellAt(d.objectInds, row, d.indSkip, xmlIndicator(x));
        return;
    }
    if (!instance || (t->isColl() ? false : !instanceOf(instance))) {
        instance = newInstance(t);
        setCellAt(d.objectCells, row, d.valueSkip, instance);
    }
    void* ind = indicatorOf(t, instance);
    loadInstance(t, v, instance, ind);
    refsToSession(t, instance, s);  // REFs read here are pinned through this session
    if (d.objectInds) setCellAt(d.objectInds, row, d.indSkip, ind);
}

// An output object, collection or XMLTYPE of a block: into the instance the client bound, or into a
// new one when it bound none (a null value).
void objectBindWrite(Bind& b, ub4 iteration, const Value& v, Session& s) {
    if (!b.objectType) raise(21560, "argument 3 is null, invalid, or out of range");
    if (!b.objectCells) raise(1008, "not all variables bound");
    TypeDesc* t = typeOf(b.objectType);
    void* instance = cellAt(b.objectCells, iteration, b.valueSkip);
    if (t->isXml()) {
        // The client may hold the instance elsewhere too: an existing one takes the value in place.
        if (instance && isXml(instance)) {
            setXmlText(instance, v);
            if (b.objectInds) setCellAt(b.objectInds, iteration, b.indSkip, xmlIndicator(instance));
            return;
        }
        void* x = newXml(v);
        setCellAt(b.objectCells, iteration, b.valueSkip, x);
        if (b.objectInds) setCellAt(b.objectInds, iteration, b.indSkip, xmlIndicator(x));
        return;
    }
    if (!instance || (t->isColl() ? false : !instanceOf(instance))) {
        instance = newInstance(t);
        setCellAt(b.objectCells, iteration, b.valueSkip, instance);
    }
    void* ind = indicatorOf(t, instance);
    loadInstance(t, v, instance, ind);
    refsToSession(t, instance, s);
    if (b.objectInds) setCellAt(b.objectInds, iteration, b.indSkip, ind);
}

}  // namespace oci

using namespace oci;

namespace {

Error* errorOf(OCIError* errhp) {
    return handleAs<Error>(errhp, OCI_HTYPE_ERROR);
}

Session& liveSession(const OCISvcCtx* svchp) {
    auto* svc = handleAs<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
    if (!svc) raise(24316, "illegal handle type");
    if (!svc->session || !findHandle(svc->session)) raise(3114);
    svc->session->ensureAlive();
    return *svc->session;
}

}  // namespace

extern "C" {

sword OCITypeByName(OCIEnv*, OCIError* err, const OCISvcCtx* svc, const OraText* schema_name, ub4 s_length,
                    const OraText* type_name, ub4 t_length, const OraText*, ub4, OCIDuration, ub4,
                    OCIType** tdo) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!tdo || !type_name) raise(21560, "argument 11 is null, invalid, or out of range");
        Session& s = liveSession(svc);
        std::string schema =
            schema_name ? std::string(reinterpret_cast<const char*>(schema_name), s_length) : "";
        std::string name(reinterpret_cast<const char*>(type_name), t_length);
        *tdo = reinterpret_cast<OCIType*>(findType(s, upper(ansiToUtf8(schema)), upper(ansiToUtf8(name))));
        return OCI_SUCCESS;
    });
}

sword OCIObjectNew(OCIEnv*, OCIError* err, const OCISvcCtx*, OCITypeCode typecode, OCIType* tdo, void*,
                   OCIDuration, boolean, void** instance) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!instance) raise(21560, "argument 9 is null, invalid, or out of range");
        if (typecode == OCI_TYPECODE_VARCHAR2 || typecode == 1) {
            *instance = newString("");
            return OCI_SUCCESS;
        }
        if (typecode == OCI_TYPECODE_REF) {
            *instance = newRef(tdo ? typeOf(tdo) : nullptr);
            return OCI_SUCCESS;
        }
        TypeDesc* t = typeOf(tdo);
        if (typecode != t->code) raise(22806, "not an object or REF");
        *instance = t->isXml() ? newXml(Value::null()) : newInstance(t);
        return OCI_SUCCESS;
    });
}

sword OCIObjectFree(OCIEnv*, OCIError* err, void* instance, ub2) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!instance) raise(21560, "argument 3 is null, invalid, or out of range");
        if (instanceOf(instance)) {
            forgetPinned(instance);
            freeInstance(instance);
            return OCI_SUCCESS;
        }
        if (CollBody* c = collOfOrNull(instance)) {
            freeColl(c);
            return OCI_SUCCESS;
        }
        if (isString(instance)) {
            freeString(static_cast<OCIString*>(instance));
            return OCI_SUCCESS;
        }
        if (freeXml(instance) || freeRef(instance)) return OCI_SUCCESS;
        raise(21710, "argument is expecting a valid memory address of an object");
    });
}

sword OCIObjectGetInd(OCIEnv*, OCIError* err, void* instance, void** null_struct) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!null_struct) raise(21560, "argument 4 is null, invalid, or out of range");
        if (Instance* inst = instanceOf(instance)) {
            *null_struct = inst->ind.data();
            return OCI_SUCCESS;
        }
        if (CollBody* c = collOfOrNull(instance)) {
            *null_struct = &c->atomic;
            return OCI_SUCCESS;
        }
        if (isXml(instance)) {
            *null_struct = xmlIndicator(instance);
            return OCI_SUCCESS;
        }
        raise(21710, "argument is expecting a valid memory address of an object");
    });
}

sword OCIObjectCopy(OCIEnv*, OCIError* err, const OCISvcCtx*, void* source, void* null_source, void* target,
                    void* null_target, OCIType* tdo, OCIDuration, ub1) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!source || !target) raise(21560, "argument 4 is null, invalid, or out of range");
        TypeDesc* t = typeOf(tdo);
        if (t->isColl()) {
            TypeAttr a;
            a.slot = Slot::Coll;
            a.nested = t;
            void* from = source;
            void* to = target;
            copySlot(a, reinterpret_cast<unsigned char*>(&from), nullptr,
                     reinterpret_cast<unsigned char*>(&to), nullptr);
            const sb2 atomic = null_source ? *static_cast<sb2*>(null_source) : collOf(source)->atomic;
            if (null_target) std::memcpy(null_target, &atomic, sizeof atomic);
            collOf(target)->atomic = atomic;
            return OCI_SUCCESS;
        }
        copyInstance(t, static_cast<unsigned char*>(source), static_cast<unsigned char*>(null_source),
                     static_cast<unsigned char*>(target), static_cast<unsigned char*>(null_target));
        return OCI_SUCCESS;
    });
}

sword OCIDefineObject(OCIDefine* defnp, OCIError* errhp, const OCIType* type, void** pgvpp, ub4*,
                      void** indpp, ub4*) {
    auto* d = handleAs<Define>(defnp, OCI_HTYPE_DEFINE);
    if (!d) return OCI_INVALID_HANDLE;
    return guarded(errorOf(errhp), [&]() -> sword {
        if (!pgvpp) raise(21560, "argument 4 is null, invalid, or out of range");
        if (type || d->dty != SQLT_REF) typeOf(type);
        d->objectType = type;
        d->objectCells = pgvpp;
        d->objectInds = indpp;
        return OCI_SUCCESS;
    });
}

sword OCIBindObject(OCIBind* bindp, OCIError* errhp, const OCIType* type, void** pgvpp, ub4*, void** indpp,
                    ub4*) {
    auto* b = handleAs<Bind>(bindp, OCI_HTYPE_BIND);
    if (!b) return OCI_INVALID_HANDLE;
    return guarded(errorOf(errhp), [&]() -> sword {
        if (!pgvpp) raise(21560, "argument 4 is null, invalid, or out of range");
        if (type || b->dty != SQLT_REF) typeOf(type);
        b->objectType = type;
        b->objectCells = pgvpp;
        b->objectInds = indpp;
        return OCI_SUCCESS;
    });
}

}  // extern "C"

namespace {

// The attribute a chain of names reaches from an instance, making the objects on the way (when
// the value is not null) as OCIObjectSetAttr does.
struct AttrPlace {
    const TypeAttr* attr = nullptr;
    unsigned char* data = nullptr;
    unsigned char* ind = nullptr;
};

AttrPlace findAttrPlace(TypeDesc* t, unsigned char* data, unsigned char* ind, const OraText** names,
                        const ub4* lengths, ub4 count, bool notNull) {
    AttrPlace at;
    for (ub4 k = 0; k < count; ++k) {
        if (!names || !names[k]) raise(21560, "argument 6 is null, invalid, or out of range");
        const std::string name =
            upper(ansiToUtf8(std::string(reinterpret_cast<const char*>(names[k]), lengths[k])));
        const TypeAttr* a = nullptr;
        for (const TypeAttr& candidate : t->attrs)
            if (candidate.name == name) a = &candidate;
        if (!a) raise(22840, "the specified attribute " + name + " does not exist");
        data += a->offset;
        if (ind) ind += a->indOffset;
        if (notNull && ind) cellPut<sb2>(ind, OCI_IND_NOTNULL);
        if (k + 1 == count) {
            at.attr = a;
            at.data = data;
            at.ind = ind;
            return at;
        }
        if (a->slot != Slot::Object) raise(22840, "the attribute " + name + " is no object");
        if (!a->embedded) {
            void* p = cellGet<void*>(data);
            if (!p) {
                if (!notNull) raise(22840, "the attribute " + name + " is null");
                p = newInstance(a->nested);
                cellPut<void*>(data, p);
            }
            Instance* inst = instanceOf(p);
            data = inst->data.data();
            ind = inst->ind.data();
            if (notNull) cellPut<sb2>(ind, OCI_IND_NOTNULL);
        }
        t = a->nested;
    }
    raise(21560, "argument 8 is null, invalid, or out of range");
}

}  // namespace

extern "C" sword OCIObjectSetAttr(OCIEnv*, OCIError* err, void* instance, void* null_struct, OCIType* tdo,
                                  const OraText** names, const ub4* lengths, const ub4 name_count, const ub4*,
                                  const ub4, const OCIInd null_status, const void*, const void* attr_value) {
    return guarded(errorOf(err), [&]() -> sword {
        if (!instance) raise(21560, "argument 3 is null, invalid, or out of range");
        TypeDesc* t = typeOf(tdo);
        AttrPlace at =
            findAttrPlace(t, static_cast<unsigned char*>(instance), static_cast<unsigned char*>(null_struct),
                          names, lengths, name_count, null_status == OCI_IND_NOTNULL);
        if (at.ind) cellPut<sb2>(at.ind, null_status);
        if (!attr_value) return OCI_SUCCESS;
        const TypeAttr& a = *at.attr;
        switch (a.slot) {
            case Slot::Text:
                setString(reinterpret_cast<OCIString**>(at.data),
                          stringText(static_cast<const OCIString*>(attr_value)));
                break;
            case Slot::Ref:
                if (!cellGet<void*>(at.data)) cellPut<void*>(at.data, newRef(a.nested));
                copyRef(attr_value, cellGet<void*>(at.data));
                break;
            case Slot::Coll:
            case Slot::Object: {
                if (a.slot == Slot::Object && a.embedded) {
                    copyInstance(a.nested, static_cast<const unsigned char*>(attr_value), nullptr, at.data,
                                 nullptr);
                    break;
                }
                void* from = const_cast<void*>(attr_value);
                copySlot(a, reinterpret_cast<const unsigned char*>(&from), nullptr, at.data, nullptr);
                break;
            }
            default:
                // a TIMESTAMP, INTERVAL or LOB attribute takes a copy of the client's descriptor
                if (descriptorSlot(a)) {
                    if (null_status != OCI_IND_NULL) assignDescriptorElement(a, attr_value, nullptr, at.data);
                    break;
                }
                std::memcpy(at.data, attr_value, slotSize(a));
                break;
        }
        return OCI_SUCCESS;
    });
}
