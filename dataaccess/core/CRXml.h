// A small XML text writer: elements, attributes inserted into the open start tag, escaped text;
// the document is kept as UTF-16 text until it is taken out.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::WideString;

RTL_EXCEPTION_CLASS(XmlException, rtl::Exception);

// Replaces, in this order, "&", "'", "\"", "<" and ">" by character references, so that the
// replacements are not escaped again. Tab, line feed and carriage return are written as
// references too: a parser would turn them into blanks inside an attribute value.
WideString EscapeXmlText(const WideString& text);

// The lexeme tables of an XML reader on the SQL lexer: ":" (16) and "=" (19), and no keywords.
const TLexemList& XmlSymbols();
const TLexemList& XmlKeywords();

// Write states. Attributes are accepted only right after a start tag (xsElement) or after
// another attribute (xsAttribute).
enum TXmlWriteState {
    xsAttribute = 0,
    xsStart = 1,
    xsProlog = 2,
    xsElement = 3,
    xsContent = 4,
    xsClosed = 5
};

class XmlWriter {
public:
    explicit XmlWriter(char16_t quoteChar = u'"') : quoteChar_(quoteChar) {}

    // <?xml version="1.0" encoding="UTF-8"?>; only before anything else.
    void WriteStartDocument();
    // Opens an element; its start tag stays open for attributes until content or its end.
    void WriteStartElement(const WideString& localName) { WriteStartElement(WideString(), localName); }
    void WriteStartElement(const WideString& prefix, const WideString& localName);
    // XmlException "Token WriteAttributeString in state Content would result in an invalid XML
    // document." outside an open start tag; XmlException "Invalid XML character" for a value
    // that XML cannot carry (control characters, lone surrogates).
    void WriteAttributeString(const WideString& localName, const WideString& value);
    void WriteAttributeString(const WideString& prefix, const WideString& localName, const WideString& value);
    // Escaped character data inside the open element.
    void WriteString(const WideString& text);
    // Closes the innermost element ("/>" when it has no content).
    void WriteEndElement();
    // Closes every open element.
    void WriteEndDocument();

    int WriteState() const { return state_; }
    char16_t QuoteChar() const { return quoteChar_; }
    const WideString& Text() const { return output_; }
    // The document as UTF-8 without a byte-order mark.
    std::string ToUtf8() const;

private:
    void CloseStartTag();
    void CheckName(const WideString& name) const;

    WideString output_;
    char16_t quoteChar_;
    int state_ = xsStart;
    // 1-based character index after which the next attribute of the open start tag goes.
    std::vector<size_t> insertion_;
    std::vector<WideString> open_;
};

}  // namespace dac
