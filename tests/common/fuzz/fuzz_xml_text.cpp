// The text form of the XML writer on arbitrary values: the first input byte splits the rest into
// an element text and an attribute value. Whatever they hold, libxml2 must read the document as
// well-formed, and values of plain printable text, tab, line feed and carriage return must come
// back unchanged.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/uXmlNode.h"

namespace {

bool Plain(std::string_view s) {
    for (unsigned char c : s)
        if (c > 0x7E || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) return false;
    return true;
}

std::string Text(const xmlChar* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t split = data[0] % (input.size() + 1);
    const std::string_view text = input.substr(0, split);
    const std::string_view attribute = input.substr(split);

    svc::TXmlNode root("ROOT");
    root.SetAttribute("A", std::string(attribute));
    root.NodeNewText("Field", std::string(text));
    std::string document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    svc::WriteXmlElement(document, root, 0);

    xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "fuzz.xml", "utf-8",
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) std::abort();
    xmlNodePtr top = xmlDocGetRootElement(doc);
    xmlNodePtr field = top ? top->children : nullptr;
    while (field && field->type != XML_ELEMENT_NODE) field = field->next;
    if (!field) std::abort();
    xmlChar* fieldText = xmlNodeGetContent(field);
    xmlChar* attributeText = xmlGetProp(top, reinterpret_cast<const xmlChar*>("A"));
    if (Plain(text) && Text(fieldText) != text) std::abort();
    if (Plain(attribute) && Text(attributeText) != attribute) std::abort();
    xmlFree(fieldText);
    xmlFree(attributeText);
    xmlFreeDoc(doc);
    return 0;
}
