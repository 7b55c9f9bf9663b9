// XML elements in memory and their text form.
#include "common/uXmlNode.h"

#include "platform/rtl/Strings.h"

namespace svc {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kLineEnd = "\r\n";

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 character at s[i] that XML allows, or 0.
size_t Utf8CharLength(std::string_view s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = at(0);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (!IsContinuation(at(k))) return 0;
    // U+FFFE and U+FFFF are not XML characters.
    if (lead == 0xEF && at(1) == 0xBF && (at(2) == 0xBE || at(2) == 0xBF)) return 0;
    return length;
}

void AppendIndent(std::string& out, int depth) {
    out.append(static_cast<size_t>(depth > 0 ? depth : 0), '\t');
}

}  // namespace

void TXmlNode::SetAttribute(const std::string& name, std::string utf8) {
    for (auto& attribute : attributes_) {
        if (attribute.first == name) {
            attribute.second = std::move(utf8);
            return;
        }
    }
    attributes_.emplace_back(name, std::move(utf8));
}

const std::string* TXmlNode::AttributeByName(std::string_view name) const {
    for (const auto& attribute : attributes_)
        if (rtl::SameText(attribute.first, name)) return &attribute.second;
    return nullptr;
}

TXmlNode& TXmlNode::NodeNew(std::string name) {
    nodes_.push_back(std::make_unique<TXmlNode>(std::move(name)));
    return *nodes_.back();
}

TXmlNode& TXmlNode::NodeNewText(std::string name, std::string utf8) {
    TXmlNode& node = NodeNew(std::move(name));
    node.SetValue(std::move(utf8));
    return node;
}

TXmlNode* TXmlNode::NodeByName(std::string_view name) const {
    for (const auto& node : nodes_)
        if (rtl::SameText(node->Name(), name)) return node.get();
    return nullptr;
}

void TXmlNode::Clear() {
    value_.clear();
    attributes_.clear();
    nodes_.clear();
}

void AppendXmlEscaped(std::string& out, std::string_view utf8, bool inAttribute) {
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            const size_t length = Utf8CharLength(utf8, i);
            if (length == 0) {
                out += kReplacement;
                ++i;
            } else {
                out.append(utf8.substr(i, length));
                i += length;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += inAttribute ? "&#9;" : "\t";
                break;
            case '\n':
                out += inAttribute ? "&#10;" : "\n";
                break;
            default:
                if (c < 0x20)
                    out += kReplacement;
                else
                    out += static_cast<char>(c);
        }
    }
}

void WriteXmlStartTag(std::string& out, const TXmlNode& node) {
    out += '<';
    out += node.Name();
    for (const auto& [name, value] : node.Attributes()) {
        out += ' ';
        out += name;
        out += "=\"";
        AppendXmlEscaped(out, value, true);
        out += '"';
    }
}

void WriteXmlElement(std::string& out, const TXmlNode& node, int depth) {
    AppendIndent(out, depth);
    WriteXmlStartTag(out, node);
    if (node.NodeCount() == 0 && node.Value().empty()) {
        out += "/>";
        out += kLineEnd;
        return;
    }
    out += '>';
    if (node.NodeCount() == 0) {
        AppendXmlEscaped(out, node.Value(), false);
    } else {
        out += kLineEnd;
        if (!node.Value().empty()) {
            AppendIndent(out, depth + 1);
            AppendXmlEscaped(out, node.Value(), false);
            out += kLineEnd;
        }
        for (int i = 0; i < node.NodeCount(); ++i) WriteXmlElement(out, node.Nodes(i), depth + 1);
        AppendIndent(out, depth);
    }
    out += "</";
    out += node.Name();
    out += '>';
    out += kLineEnd;
}

}  // namespace svc
