// Reading request packages with libxml2 into TXmlNode elements, and the value forms of their
// fields.
#include "import_service/uXmlPackageReader.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <exception>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

std::string TrimLineEnd(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// Builds the elements straight from the parser's events, without libxml2's own tree: a package of
// 200 000 items was read into that tree, copied and freed again. Text and CDATA directly inside an
// element, in order, make its value; comments and processing instructions are passed over. The
// elements are handed out only after the whole document proved well-formed.
class TTreeBuilder {
public:
    static void Install(xmlSAXHandler& sax) {
        sax.startElementNs = StartElement;
        sax.endElementNs = EndElement;
        sax.characters = Characters;
        sax.ignorableWhitespace = Characters;
        sax.cdataBlock = Characters;
        sax.internalSubset = DocumentType;
        sax.comment = nullptr;
        sax.processingInstruction = nullptr;
        sax.reference = nullptr;
        // SAX1 element events are never used with a SAX2 handler
        sax.startElement = nullptr;
        sax.endElement = nullptr;
    }

    std::unique_ptr<TXmlNode> root;
    std::exception_ptr failure;
    bool documentType = false;

private:
    static TTreeBuilder& Of(void* ctx) {
        return *static_cast<TTreeBuilder*>(static_cast<xmlParserCtxt*>(ctx)->_private);
    }
    // No C++ exception may pass through the parser: the first one stops it and is raised afterwards.
    template <class F>
    static void Guarded(void* ctx, F&& f) {
        TTreeBuilder& b = Of(ctx);
        if (b.failure) return;
        try {
            f(b);
        } catch (...) {
            b.failure = std::current_exception();
            xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
        }
    }

    static void StartElement(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar*, int,
                             const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
        Guarded(ctx, [&](TTreeBuilder& b) {
            const char* name = reinterpret_cast<const char*>(localname);
            TXmlNode* node;
            if (b.open_.empty()) {
                b.root = std::make_unique<TXmlNode>(name);
                node = b.root.get();
            } else {
                node = &b.open_.back().node->NodeNew(name);
            }
            b.open_.push_back({node, std::string()});
            // five pointers an attribute: local name, prefix, URI, value and the value's end
            for (int i = 0; i < attributeCount; ++i) {
                const xmlChar* const* a = attributes + 5 * i;
                std::string value(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
                node->SetAttribute(reinterpret_cast<const char*>(a[0]), AmpersandsBack(std::move(value)));
            }
        });
    }
    // A document type ends the reading where it starts: none of its declarations is read, so no
    // entity can be defined, let alone expanded.
    static void DocumentType(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
        Of(ctx).documentType = true;
        xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
    }
    static void EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
        Guarded(ctx, [](TTreeBuilder& b) {
            if (b.open_.empty()) return;
            b.open_.back().node->SetValue(std::move(b.open_.back().text));
            b.open_.pop_back();
        });
    }
    static void Characters(void* ctx, const xmlChar* text, int length) {
        Guarded(ctx, [&](TTreeBuilder& b) {
            if (b.open_.empty() || length <= 0) return;
            b.open_.back().text.append(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
        });
    }
    // Without entity substitution libxml2 hands an attribute's ampersand (written "&amp;", "&#38;"
    // or "&#x26;") to the tree builder as "&#38;", for its own tree to decode again.
    static std::string AmpersandsBack(std::string value) {
        static constexpr std::string_view kAmp = "&#38;";
        size_t at = value.find(kAmp);
        if (at == std::string::npos) return value;
        std::string out;
        out.reserve(value.size());
        size_t from = 0;
        for (; at != std::string::npos; at = value.find(kAmp, from)) {
            out.append(value, from, at - from);
            out += '&';
            from = at + kAmp.size();
        }
        out.append(value, from, std::string::npos);
        return out;
    }

    // The elements open at this point of the document, each with its text so far.
    struct TOpen {
        TXmlNode* node;
        std::string text;
    };
    std::vector<TOpen> open_;
};

struct TDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct TCtxtFree {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view TrimXmlSpace(std::string_view s) {
    while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The text without a leading "+" sign; a sign after it stays, so that "+-1" is refused.
std::string_view WithoutPlus(std::string_view s) {
    if (s.size() > 1 && s.front() == '+' && s[1] != '-') s.remove_prefix(1);
    return s;
}

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

size_t SkipDigits(std::string_view s, size_t i) {
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i;
}

// The characters from 1-based position pos, count of them, as far as the text reaches.
std::string_view At(std::string_view s, size_t pos, size_t count) {
    if (pos > s.size()) return {};
    return s.substr(pos - 1, count);
}

// A number of fixed position, or -1 when the characters are not one.
int FixedNumber(std::string_view s, size_t pos, size_t count) {
    const std::string_view part = At(s, pos, count);
    if (!AllDigits(part)) return -1;
    int value = 0;
    for (char c : part) value = value * 10 + (c - '0');
    return value;
}

// windows-1251 through the runtime's own table, as every other 1251 text of the system: the
// byte 0x98, which the code page leaves unassigned, is U+0098 there and not an error.
const std::array<std::string, 256>& Cp1251Utf8() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t;
        for (int b = 0; b < 256; ++b)
            t[static_cast<size_t>(b)] = rtl::AnsiToUtf8(std::string(1, static_cast<char>(b)));
        return t;
    }();
    return table;
}

int Cp1251ToUtf8(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) {
    const auto& table = Cp1251Utf8();
    int written = 0, read = 0;
    while (read < *inlen) {
        const std::string& utf8 = table[in[read]];
        if (written + static_cast<int>(utf8.size()) > *outlen) break;
        for (char c : utf8) out[written++] = static_cast<unsigned char>(c);
        ++read;
    }
    *inlen = read;
    *outlen = written;
    return written;
}

// libxml2 reports some failures (encoding errors) on stderr besides the parser context.
void IgnoreGenericError(void*, const char*, ...) {}

void InitParser() {
    static std::once_flag init;
    std::call_once(init, [] {
        xmlInitParser();
        Cp1251Utf8();
        for (const char* name : {"WINDOWS-1251", "CP1251"})
            xmlNewCharEncodingHandler(name, Cp1251ToUtf8, nullptr);
    });
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);  // per thread
}

}  // namespace

std::unique_ptr<TXmlNode> ReadXmlMemory(std::string_view data, const std::string& name) {
    InitParser();
    if (data.size() > static_cast<size_t>(INT_MAX))
        throw EXmlReadError("Cannot read XML document " + name + ": the file is too large");
    std::unique_ptr<xmlParserCtxt, TCtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt) throw EXmlReadError("Cannot read XML document " + name + ": out of memory");
    TTreeBuilder builder;
    TTreeBuilder::Install(*ctxt->sax);
    ctxt->_private = &builder;
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlDoc, TDocFree> doc(xmlCtxtReadMemory(
        ctxt.get(), data.data(), static_cast<int>(data.size()), name.c_str(), nullptr, options));
    if (builder.failure) std::rethrow_exception(builder.failure);
    if (builder.documentType)
        throw EXmlReadError("Cannot read XML document " + name +
                            ": a package may not declare a document type");
    if (!doc) {
        const xmlError* error = xmlCtxtGetLastError(ctxt.get());
        // libxml2 reports a document without any element as "document empty".
        if (error && error->code == XML_ERR_DOCUMENT_EMPTY) return nullptr;
        std::string text = error && error->message ? TrimLineEnd(error->message) : "not well-formed";
        if (error && error->line > 0) text += " (line " + rtl::IntToStr(error->line) + ")";
        throw EXmlReadError("Cannot read XML document " + name + ": " + text);
    }
    return std::move(builder.root);
}

std::unique_ptr<TXmlNode> ReadXmlFile(const std::string& fileName) {
    std::ifstream in(rtl::SysFileName(fileName), std::ios::binary);
    if (!in) throw EXmlReadError("Cannot read XML document " + fileName + ": the file cannot be opened");
    std::string data;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        data.append(block, static_cast<size_t>(in.gcount()));
    if (in.bad()) throw EXmlReadError("Cannot read XML document " + fileName + ": read error");
    return ReadXmlMemory(data, fileName);
}

// ---------------------------------------------------------------------------------------------
// Value forms

bool TryXmlToInt(std::string_view text, int32_t& value) {
    std::string_view s = WithoutPlus(TrimXmlSpace(text));
    if (s.empty() || (s.front() == '-' ? !AllDigits(s.substr(1)) : !AllDigits(s))) return false;
    int32_t result = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), result);
    if (ec != std::errc() || end != s.data() + s.size()) return false;
    value = result;
    return true;
}

bool TryXmlToFloat(std::string_view text, double& value) {
    const std::string_view s = WithoutPlus(TrimXmlSpace(text));
    // [-] digits [. digits] [e [+-] digits], at least one digit before the exponent.
    size_t i = (!s.empty() && s.front() == '-') ? 1 : 0;
    const size_t intEnd = SkipDigits(s, i);
    size_t end = intEnd;
    size_t fracDigits = 0;
    if (end < s.size() && s[end] == '.') {
        const size_t fracEnd = SkipDigits(s, end + 1);
        fracDigits = fracEnd - end - 1;
        end = fracEnd;
    }
    if (intEnd == i && fracDigits == 0) return false;
    if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
        size_t e = end + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
        const size_t expEnd = SkipDigits(s, e);
        if (expEnd == e) return false;
        end = expEnd;
    }
    if (end != s.size()) return false;
    double result = 0;
    const auto [last, ec] = std::from_chars(s.data(), s.data() + s.size(), result);
    if (ec != std::errc() || last != s.data() + s.size() || !std::isfinite(result)) return false;
    value = result;
    return true;
}

bool TryXmlToDateTime(std::string_view text, rtl::TDateTime& value) {
    const std::string_view s = TrimXmlSpace(text);
    const int year = FixedNumber(s, 1, 4), month = FixedNumber(s, 6, 2), day = FixedNumber(s, 9, 2);
    if (year < 0 || month < 0 || day < 0) return false;
    int hour = 0, minute = 0, second = 0, msec = 0;
    if (s.size() > 16) {
        hour = FixedNumber(s, 12, 2);
        minute = FixedNumber(s, 15, 2);
        if (hour < 0 || minute < 0) return false;
        second = std::max(FixedNumber(s, 18, 2), 0);
        msec = std::max(FixedNumber(s, 21, 3), 0);
    }
    return rtl::TryEncodeDateTime(year, month, day, hour, minute, second, msec, value);
}

const std::string* XmlFieldText(const TXmlNode& item, std::string_view name) {
    if (const std::string* attribute = item.AttributeByName(name)) return attribute;
    if (const TXmlNode* element = item.NodeByName(name)) return &element->Value();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TXmlItemReader

const std::string& TXmlItemReader::Field(std::string_view name) const {
    const std::string* text = XmlFieldText(item_, name);
    if (!text)
        throw rtl::EConvertError("Element " + rtl::Utf8ToAnsi(item_.Name()) + ": field " + std::string(name) +
                                 " is missing");
    return *text;
}

void TXmlItemReader::Fail(std::string_view name, const std::string& reason) const {
    throw rtl::EConvertError("Element " + rtl::Utf8ToAnsi(item_.Name()) + ": field " + std::string(name) +
                             ": " + reason);
}

int32_t TXmlItemReader::Int(std::string_view name) const {
    const std::string& text = Field(name);
    int32_t value = 0;
    if (!TryXmlToInt(text, value)) Fail(name, "'" + rtl::Utf8ToAnsi(text) + "' is not a valid integer value");
    return value;
}

double TXmlItemReader::Float(std::string_view name) const {
    const std::string& text = Field(name);
    double value = 0;
    if (!TryXmlToFloat(text, value))
        Fail(name, "'" + rtl::Utf8ToAnsi(text) + "' is not a valid floating point value");
    return value;
}

rtl::TDateTime TXmlItemReader::DateTime(std::string_view name) const {
    const std::string& text = Field(name);
    rtl::TDateTime value = 0;
    if (!TryXmlToDateTime(text, value))
        Fail(name, "'" + rtl::Utf8ToAnsi(text) + "' is not a valid date and time");
    return value;
}

std::string TXmlItemReader::Text(std::string_view name) const {
    return rtl::Utf8ToAnsi(Field(name));
}

std::string TXmlItemReader::Raw(std::string_view name) const {
    return Field(name);
}

}  // namespace svc
