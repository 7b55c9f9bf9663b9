// XPath over XMLTYPE values, which the database keeps as their text: the member functions
// extract(path [, namespaces]), existsNode, getNumberVal, isFragment and getRootElement, the SQL
// functions EXTRACT(xml, path), EXISTSNODE and EXTRACTVALUE, and XMLSERIALIZE, as SQL the database
// runs (calls of oci_xml_* functions evaluated with libxml2).
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstring>
#include <memory>

#include "platform/oci/StandIn.h"

namespace oci {

namespace {

// ---- rewriting the SQL text ----------------------------------------------------------------------------

bool word(const Token& t, const char* w) {
    return t.kind == Token::Ident && !t.quoted && t.text == w;
}

bool punct(const Token& t, const char* p) {
    return t.kind == Token::Punct && t.text == p;
}

// The token after the ")" closing the group opened at open (the End token when it is not closed).
size_t groupEnd(const std::vector<Token>& tk, size_t open) {
    int depth = 0;
    size_t k = open;
    for (; tk[k].kind != Token::End; ++k) {
        if (punct(tk[k], "(")) ++depth;
        if (punct(tk[k], ")") && --depth == 0) return k + 1;
    }
    return k;
}

// The first token of the expression ending just before the dot at tk[dot]: a dotted name, or a call
// or parenthesised group.
size_t expressionStart(const std::vector<Token>& tk, size_t dot) {
    size_t first = dot - 1;
    if (punct(tk[first], ")")) {
        int depth = 0;
        for (size_t j = first + 1; j-- > 0;) {
            if (punct(tk[j], ")")) ++depth;
            if (punct(tk[j], "(") && --depth == 0) {
                first = j;
                break;
            }
        }
        if (first > 0 && tk[first - 1].kind == Token::Ident) --first;
        return first;
    }
    while (first >= 2 && punct(tk[first - 1], ".") && tk[first - 2].kind == Token::Ident) first -= 2;
    return first;
}

struct Method {
    const char* name;
    const char* function;
};

const Method Methods[] = {{"EXTRACT", "oci_xml_extract"},
                          {"EXISTSNODE", "oci_xml_exists"},
                          {"GETNUMBERVAL", "oci_xml_number"},
                          {"ISFRAGMENT", "oci_xml_isfragment"},
                          {"GETROOTELEMENT", "oci_xml_root"}};

// expr.method(args) becomes function(expr, args); one call per pass, the text tokenised again after.
bool rewriteOneMethod(std::string& sql) {
    std::vector<Token> tk = tokenize(sql);
    for (size_t k = 1; tk[k].kind != Token::End; ++k) {
        if (!punct(tk[k - 1], ".") || !punct(tk[k + 1], "(") || k < 2) continue;
        for (const Method& m : Methods) {
            if (!word(tk[k], m.name)) continue;
            const size_t first = expressionStart(tk, k - 1);
            const size_t close = groupEnd(tk, k + 1) - 1;
            if (!punct(tk[close], ")")) return false;
            const std::string expr = sql.substr(tk[first].begin, tk[k - 1].begin - tk[first].begin);
            const std::string args = sql.substr(tk[k + 1].end, tk[close].begin - tk[k + 1].end);
            const bool noArgs = close == k + 2;
            sql = sql.substr(0, tk[first].begin) + m.function + "(" + expr + (noArgs ? "" : ", " + args) +
                  ")" + sql.substr(tk[close].end);
            return true;
        }
    }
    return false;
}

// EXTRACT(xml, path), EXISTSNODE(xml, path) and EXTRACTVALUE(xml, path); EXTRACT(YEAR FROM d) stays.
// XMLSERIALIZE([CONTENT | DOCUMENT] xml [AS type]) becomes the text of the value.
std::string rewriteFunctions(const std::string& sql) {
    std::vector<Token> tk = tokenize(sql);
    std::string out;
    size_t copied = 0;
    for (size_t k = 0; tk[k].kind != Token::End; ++k) {
        const Token& t = tk[k];
        if (t.kind != Token::Ident || t.quoted || !punct(tk[k + 1], "(")) continue;
        if (k > 0 && punct(tk[k - 1], ".")) continue;
        const char* fn = nullptr;
        if (t.text == "EXTRACT" && !(tk[k + 2].kind == Token::Ident && word(tk[k + 3], "FROM")))
            fn = "oci_xml_extract(";
        else if (t.text == "EXISTSNODE")
            fn = "oci_xml_exists(";
        else if (t.text == "EXTRACTVALUE")
            fn = "oci_xml_value(";
        if (fn) {
            out.append(sql, copied, t.begin - copied);
            out += fn;
            copied = tk[k + 1].end;
            continue;
        }
        if (t.text != "XMLSERIALIZE") continue;
        const size_t close = groupEnd(tk, k + 1) - 1;
        if (!punct(tk[close], ")")) continue;
        size_t from = k + 2;
        if (word(tk[from], "CONTENT") || word(tk[from], "DOCUMENT")) ++from;
        size_t as = from;
        int depth = 0;
        for (; as < close; ++as) {
            if (punct(tk[as], "(")) ++depth;
            if (punct(tk[as], ")")) --depth;
            if (depth == 0 && word(tk[as], "AS")) break;
        }
        if (as == from) raise(936, "missing expression");
        const bool clob = as == close || word(tk[as + 1], "CLOB");
        out.append(sql, copied, t.begin - copied);
        out += clob ? "oci_xmlclob(" : "oci_xmlstr(";
        out += sql.substr(tk[from].begin, tk[as - 1].end - tk[from].begin);
        out += ")";
        copied = tk[close].end;
        k = close;
    }
    out.append(sql, copied, std::string::npos);
    return out;
}

// ---- documents -------------------------------------------------------------------------------------------

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

struct ContextFree {
    void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct ObjectFree {
    void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};

constexpr int ParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

Doc parseDocument(const std::string& text) {
    return Doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", ParseOptions));
}

// A value is a document or, as extract makes them, a fragment: top-level nodes side by side. A
// fragment is parsed inside a wrapper whose children then become the document's.
Doc parseValue(const std::string& text, bool* fragment = nullptr) {
    if (fragment) *fragment = false;
    Doc doc = parseDocument(text);
    if (doc) return doc;
    if (text.find("<?xml") != std::string::npos) raise(31011, "XML parsing failed");
    doc = parseDocument("<oci-fragment>" + text + "</oci-fragment>");
    if (!doc) raise(31011, "XML parsing failed");
    xmlNode* wrapper = xmlDocGetRootElement(doc.get());
    xmlUnlinkNode(wrapper);
    for (xmlNode* c = wrapper->children; c;) {
        xmlNode* next = c->next;
        xmlUnlinkNode(c);
        xmlAddChild(reinterpret_cast<xmlNode*>(doc.get()), c);
        c = next;
    }
    xmlFreeNode(wrapper);
    if (fragment) *fragment = true;
    return doc;
}

// Namespace declarations as Oracle takes them: 'xmlns:a="uri" xmlns:b="uri"'.
void registerNamespaces(xmlXPathContext* ctx, const std::string& decls) {
    size_t i = 0;
    while ((i = decls.find("xmlns", i)) != std::string::npos) {
        i += 5;
        std::string prefix;
        if (i < decls.size() && decls[i] == ':') {
            const size_t eq = decls.find('=', i);
            if (eq == std::string::npos) break;
            prefix = decls.substr(i + 1, eq - i - 1);
            i = eq;
        }
        while (i < decls.size() && (decls[i] == '=' || decls[i] == ' ')) ++i;
        if (i >= decls.size() || (decls[i] != '"' && decls[i] != '\'')) break;
        const size_t end = decls.find(decls[i], i + 1);
        if (end == std::string::npos) break;
        const std::string uri = decls.substr(i + 1, end - i - 1);
        if (!prefix.empty())
            xmlXPathRegisterNs(ctx, reinterpret_cast<const xmlChar*>(prefix.c_str()),
                               reinterpret_cast<const xmlChar*>(uri.c_str()));
        i = end + 1;
    }
}

// XPath errors become the ORA error below, not lines on stderr.
void ignoreError(void*, xmlErrorPtr) {}

// The nodes path selects in the value; ORA-31013 for a path that is no XPath
// or selects no node set.
class Selection {
public:
    Selection(const std::string& text, const std::string& path, const std::string& namespaces)
        : doc_(parseValue(text)) {
        ctx_.reset(xmlXPathNewContext(doc_.get()));
        if (!ctx_) throw std::bad_alloc();
        registerNamespaces(ctx_.get(), namespaces);
        ctx_->error = ignoreError;
        result_.reset(xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path.c_str()), ctx_.get()));
        if (!result_ || result_->type != XPATH_NODESET) raise(31013, "Invalid XPATH expression");
    }
    int size() const { return result_->nodesetval ? result_->nodesetval->nodeNr : 0; }
    xmlNode* node(int k) const { return result_->nodesetval->nodeTab[k]; }

private:
    Doc doc_;
    std::unique_ptr<xmlXPathContext, ContextFree> ctx_;
    std::unique_ptr<xmlXPathObject, ObjectFree> result_;
};

std::string content(xmlNode* n) {
    xmlChar* c = xmlNodeGetContent(n);
    std::string s = c ? reinterpret_cast<const char*>(c) : "";
    xmlFree(c);
    return s;
}

// A node as extract shows it: elements and text as markup, attributes by their (escaped) value. An
// element is copied out of its document first, so that it declares the namespaces it uses.
std::string serialise(xmlNode* n) {
    if (n->type == XML_ATTRIBUTE_NODE) {
        xmlChar* e = xmlEncodeSpecialChars(n->doc, reinterpret_cast<const xmlChar*>(content(n).c_str()));
        std::string s = e ? reinterpret_cast<const char*>(e) : "";
        xmlFree(e);
        return s;
    }
    Doc alone;
    if (n->type == XML_ELEMENT_NODE) {
        alone.reset(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
        // without an encoding libxml2 writes letters beyond ASCII in attributes as references
        alone->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
        n = xmlDocCopyNode(n, alone.get(), 1);
        if (!n) throw std::bad_alloc();
        xmlDocSetRootElement(alone.get(), n);
    }
    xmlBuffer* buf = xmlBufferCreate();
    xmlNodeDump(buf, n->doc, n, 0, 0);
    std::string s(reinterpret_cast<const char*>(xmlBufferContent(buf)), xmlBufferLength(buf));
    xmlBufferFree(buf);
    return s;
}

// ---- the SQL functions -----------------------------------------------------------------------------------

std::string argText(sqlite3_value* v) {
    const unsigned char* t = sqlite3_value_text(v);
    return t ? reinterpret_cast<const char*>(t) : "";
}

void resultText(sqlite3_context* ctx, const std::string& t) {
    sqlite3_result_text(ctx, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

// Null in, null out; an Oracle error of the body is raised by the statement.
template <class F>
void xmlFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv, F body) {
    for (int k = 0; k < argc && k < 2; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        body();
    } catch (const OraException& e) {
        static_cast<Session*>(sqlite3_user_data(ctx))->pendingRaise =
            std::make_pair(e.code(), std::string(e.what()));
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

std::string namespacesArg(int argc, sqlite3_value** argv) {
    return argc > 2 ? argText(argv[2]) : std::string();
}

// The matched nodes side by side; no match is null.
void fnExtract(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        Selection sel(argText(argv[0]), argText(argv[1]), namespacesArg(argc, argv));
        if (sel.size() == 0) return sqlite3_result_null(ctx);
        std::string out;
        for (int k = 0; k < sel.size(); ++k) out += serialise(sel.node(k));
        resultText(ctx, out);
    });
}

void fnExists(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        Selection sel(argText(argv[0]), argText(argv[1]), namespacesArg(argc, argv));
        sqlite3_result_int(ctx, sel.size() > 0 ? 1 : 0);
    });
}

// The text of one attribute, text node, or element holding text alone.
void fnValue(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        Selection sel(argText(argv[0]), argText(argv[1]), namespacesArg(argc, argv));
        if (sel.size() == 0) return sqlite3_result_null(ctx);
        if (sel.size() > 1) raise(19025, "EXTRACTVALUE returns value of only one node");
        xmlNode* n = sel.node(0);
        if (n->type == XML_ELEMENT_NODE) {
            for (xmlNode* c = n->children; c; c = c->next)
                if (c->type == XML_ELEMENT_NODE)
                    raise(19026, "EXTRACTVALUE can only retrieve value of leaf node");
            if (!n->children) return sqlite3_result_null(ctx);
        }
        resultText(ctx, content(n));
    });
}

// The value's text content as a number.
void fnNumber(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        Doc doc = parseValue(argText(argv[0]));
        const std::string text = trim(content(reinterpret_cast<xmlNode*>(doc.get())));
        if (text.empty()) return sqlite3_result_null(ctx);
        Decimal d;
        if (!parseDecimal(text, d)) raise(1722, "invalid number");
        const Value v = decimalToValue(d);
        if (v.kind == Value::Int)
            sqlite3_result_int64(ctx, v.i);
        else
            sqlite3_result_double(ctx, std::strtod(text.c_str(), nullptr));
    });
}

// 1 for a fragment: anything but one element at the top (text, or elements side by side).
void fnIsFragment(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        bool fragment = false;
        Doc doc = parseValue(argText(argv[0]), &fragment);
        int elements = 0, texts = 0;
        for (xmlNode* c = doc->children; c; c = c->next) {
            if (c->type == XML_ELEMENT_NODE) ++elements;
            if (c->type == XML_TEXT_NODE && !trim(content(c)).empty()) ++texts;
        }
        sqlite3_result_int(ctx, elements == 1 && texts == 0 ? 0 : 1);
    });
}

// The root element's name; a fragment has none.
void fnRoot(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    xmlFunction(ctx, argc, argv, [&] {
        bool fragment = false;
        Doc doc = parseValue(argText(argv[0]), &fragment);
        xmlNode* root = fragment ? nullptr : xmlDocGetRootElement(doc.get());
        if (!root) return sqlite3_result_null(ctx);
        resultText(ctx, reinterpret_cast<const char*>(root->name));
    });
}

}  // namespace

std::string rewriteXmlMethods(const std::string& sql) {
    std::string out = rewriteFunctions(sql);
    while (rewriteOneMethod(out)) {
    }
    return out;
}

bool describeXmlItem(const std::string& function, Column& col) {
    if (function == "OCI_XML_EXTRACT") {
        col.type = TypeInfo{};
        col.type.type = SQLT_NTY;
        col.type.size = 2000;
        col.typeSchema = "SYS";
        col.typeName = "XMLTYPE";
    } else if (function == "OCI_XML_EXISTS" || function == "OCI_XML_NUMBER" ||
               function == "OCI_XML_ISFRAGMENT") {
        col.type = TypeInfo{SQLT_NUM, 22, 0, -127, 0, 0};
    } else if (function == "OCI_XML_VALUE" || function == "OCI_XML_ROOT") {
        col.type = TypeInfo{SQLT_CHR, 4000, 0, 0, 0, 1};
    } else {
        return false;
    }
    col.nullable = true;
    return true;
}

void checkXmlDocument(const std::string& text) {
    if (!parseDocument(text)) raise(31011, "XML parsing failed");
}

void registerXmlPathFunctions(Session& s) {
    xmlInitParser();
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    for (int n : {2, 3}) {
        sqlite3_create_function(s.db, "oci_xml_extract", n, flags, &s, fnExtract, nullptr, nullptr);
        sqlite3_create_function(s.db, "oci_xml_exists", n, flags, &s, fnExists, nullptr, nullptr);
        sqlite3_create_function(s.db, "oci_xml_value", n, flags, &s, fnValue, nullptr, nullptr);
    }
    sqlite3_create_function(s.db, "oci_xml_number", 1, flags, &s, fnNumber, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_xml_isfragment", 1, flags, &s, fnIsFragment, nullptr, nullptr);
    sqlite3_create_function(s.db, "oci_xml_root", 1, flags, &s, fnRoot, nullptr, nullptr);
}

}  // namespace oci
