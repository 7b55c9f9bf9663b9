// Reading the web side's request packages: the XML document into TXmlNode elements, and the
// values of its header attributes and item fields.
//
// The document is read with libxml2: a declared encoding (windows-1251, UTF-8, ...) or a
// byte-order mark is honoured and every text comes out as UTF-8. Nothing is fetched from the
// network and no document type is accepted, so entity declarations can neither reach outside
// files nor blow a small file up.
//
// Names are looked up without regard to case. A field of an item is an attribute of that name or,
// when there is none, the first child element of that name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/uXmlNode.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace svc {

// The document cannot be read (missing file, not well-formed, unsupported encoding, a
// document type).
RTL_EXCEPTION_CLASS(EXmlReadError, rtl::Exception);

// Reads the file; null when the document holds no root element (an empty file, or only a
// declaration and comments). Raises EXmlReadError otherwise.
std::unique_ptr<TXmlNode> ReadXmlFile(const std::string& fileName);
// The same for a document in memory; name appears in error messages.
std::unique_ptr<TXmlNode> ReadXmlMemory(std::string_view data, const std::string& name);

// Value forms. Numbers and date-times may be surrounded by XML white space.
// int: a decimal integer in the 32-bit range, with an optional sign.
bool TryXmlToInt(std::string_view text, int32_t& value);
// float: a decimal number with "." as separator and an optional exponent; finite.
bool TryXmlToFloat(std::string_view text, double& value);
// date-time: read at fixed positions of the ISO 8601 layout, without time-zone conversion:
// characters 1-4 year, 6-7 month, 9-10 day and, when the text is longer than 16 characters,
// 12-13 hour, 15-16 minute, 18-19 second and 21-23 milliseconds (second and milliseconds 0 when
// they are not numbers). False when these do not form a valid date and time.
bool TryXmlToDateTime(std::string_view text, rtl::TDateTime& value);

// The field's text (UTF-8): the attribute of that name, else the first child element's text;
// null when the item has neither.
const std::string* XmlFieldText(const TXmlNode& item, std::string_view name);

// Reads the fields of one item. Every reader raises rtl::EConvertError naming the element and
// the field when the field is missing or does not convert.
class TXmlItemReader {
public:
    explicit TXmlItemReader(const TXmlNode& item) : item_(item) {}

    int32_t Int(std::string_view name) const;
    double Float(std::string_view name) const;
    rtl::TDateTime DateTime(std::string_view name) const;
    // In the ANSI code page (1251); characters it lacks become '?'.
    std::string Text(std::string_view name) const;
    // The document's bytes as they are (UTF-8).
    std::string Raw(std::string_view name) const;

    // The error for a field that is present but not acceptable. Messages are in the ANSI code
    // page, as every journal text.
    [[noreturn]] void Fail(std::string_view name, const std::string& reason) const;

private:
    const std::string& Field(std::string_view name) const;
    const TXmlNode& item_;
};

}  // namespace svc
