// XML elements in memory and the readable text form of the package documents.
//
// A data object writes itself into a TXmlNode (ToXml) and reads itself from one (FromXml); the
// export's documents are rendered from such nodes by WriteXmlElement. Names are the system's
// own (ASCII); values and attribute values are UTF-8.
//
// Text form: every element on a line of its own, indented by one tab per level of depth, each
// line ending in CR LF. An element with only a text value is one line, "<Name>value</Name>";
// an element without content is "<Name/>". The five markup characters are written as entity
// references. Whatever a value holds, the output stays well-formed UTF-8: a byte sequence that
// is not UTF-8, and a character XML 1.0 does not allow (control characters other than tab, line
// feed and carriage return; U+FFFE and U+FFFF), is written as U+FFFD. A carriage return is
// written as "&#13;" so that a reader gets it back; in attribute values tab and line feed are
// written as references too.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace svc {

class TXmlNode {
public:
    explicit TXmlNode(std::string name) : name_(std::move(name)) {}
    TXmlNode(const TXmlNode&) = delete;
    TXmlNode& operator=(const TXmlNode&) = delete;

    const std::string& Name() const { return name_; }

    // The element's own text.
    const std::string& Value() const { return value_; }
    void SetValue(std::string utf8) { value_ = std::move(utf8); }

    // Attributes keep the order in which they were first set; setting one again replaces its value.
    void SetAttribute(const std::string& name, std::string utf8);
    const std::vector<std::pair<std::string, std::string>>& Attributes() const { return attributes_; }
    // The value of the attribute of that name without regard to case; null when absent.
    const std::string* AttributeByName(std::string_view name) const;

    // Appends a child element and returns it.
    TXmlNode& NodeNew(std::string name);
    // Appends a child element holding a text value.
    TXmlNode& NodeNewText(std::string name, std::string utf8);
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    TXmlNode& Nodes(int index) const { return *nodes_.at(static_cast<size_t>(index)); }
    // The first child element of that name without regard to case; null when none.
    TXmlNode* NodeByName(std::string_view name) const;

    // Forgets the text, the attributes and the children (the name stays).
    void Clear();

private:
    std::string name_;
    std::string value_;
    std::vector<std::pair<std::string, std::string>> attributes_;
    std::vector<std::unique_ptr<TXmlNode>> nodes_;
};

// Appends the element and everything below it in the text form, the element itself indented
// by depth tabs.
void WriteXmlElement(std::string& out, const TXmlNode& node, int depth);

// Appends "<name" and the attributes, without closing the tag.
void WriteXmlStartTag(std::string& out, const TXmlNode& node);

// Appends a value escaped for element text or, with inAttribute, for an attribute value.
void AppendXmlEscaped(std::string& out, std::string_view utf8, bool inAttribute);

}  // namespace svc
