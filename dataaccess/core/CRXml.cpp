// The XML text writer: attribute insertion into the open start tag, escaping, and the lexeme
// tables of an XML reader.
#include "dataaccess/core/CRXml.h"

#include "dataaccess/core/CLRClasses.h"
#include "platform/rtl/Strings.h"

namespace dac {

WideString EscapeXmlText(const WideString& text) {
    WideStringBuilder sb(text, static_cast<int>(text.size()));
    // Ampersands first: the references brought in below must stay as they are.
    sb.Replace(u"&", u"&#x26;");
    sb.Replace(u"'", u"&#x27;");
    sb.Replace(u"\"", u"&#x22;");
    sb.Replace(u"<", u"&#x3c;");
    sb.Replace(u">", u"&#x3e;");
    sb.Replace(u"\t", u"&#x9;");
    sb.Replace(u"\n", u"&#xa;");
    sb.Replace(u"\r", u"&#xd;");
    return sb.ToString();
}

const TLexemList& XmlSymbols() {
    static const TLexemList table = [] {
        TLexemList t{{":", 16}, {"=", 19}};
        t.Sort();
        return t;
    }();
    return table;
}

const TLexemList& XmlKeywords() {
    static const TLexemList table;
    return table;
}

namespace {

// XML 1.0 characters: tab, line feed, carriage return, U+0020..U+D7FF, U+E000..U+FFFD and the
// supplementary planes (a high surrogate followed by a low one).
bool IsXmlText(const WideString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0x9 || c == 0xA || c == 0xD) continue;
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) return false;
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

bool IsNameChar(char16_t c, bool first) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0xC0) return true;
    if (first) return false;
    return (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7;
}

}  // namespace

void XmlWriter::CheckName(const WideString& name) const {
    bool ok = !name.empty();
    for (size_t i = 0; ok && i < name.size(); ++i) ok = IsNameChar(name[i], i == 0);
    if (!ok) throw XmlException("Invalid XML name '" + rtl::WideToUtf8(name) + "'");
}

void XmlWriter::WriteStartDocument() {
    if (state_ != xsStart)
        throw XmlException("WriteStartDocument cannot be called after the document has begun.");
    output_ += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    state_ = xsProlog;
}

void XmlWriter::CloseStartTag() {
    if (state_ == xsElement || state_ == xsAttribute) output_ += u'>';
}

void XmlWriter::WriteStartElement(const WideString& prefix, const WideString& localName) {
    if (state_ == xsClosed || (open_.empty() && state_ == xsContent))
        throw XmlException("Token StartElement in state Content would result in an invalid XML document.");
    if (!prefix.empty()) CheckName(prefix);
    CheckName(localName);
    CloseStartTag();
    const WideString name = prefix.empty() ? localName : prefix + u":" + localName;
    output_ += u'<';
    output_ += name;
    open_.push_back(name);
    insertion_.push_back(output_.size());
    state_ = xsElement;
}

void XmlWriter::WriteAttributeString(const WideString& localName, const WideString& value) {
    WriteAttributeString(WideString(), localName, value);
}

void XmlWriter::WriteAttributeString(const WideString& prefix, const WideString& localName,
                                     const WideString& value) {
    if (state_ != xsAttribute && state_ != xsElement)
        throw XmlException(
            "Token WriteAttributeString in state Content would result in an invalid XML document.");
    if (!prefix.empty()) CheckName(prefix);
    CheckName(localName);
    if (!IsXmlText(value)) throw XmlException("Invalid XML character");
    const size_t p = insertion_.back();
    insertion_.pop_back();
    WideString attr = u" ";
    if (!prefix.empty()) attr += prefix + u":";
    attr += localName;
    attr += u'=';
    attr += quoteChar_;
    attr += EscapeXmlText(value);
    attr += quoteChar_;
    output_.insert(p, attr);
    insertion_.push_back(p + attr.size());
    state_ = xsAttribute;
}

void XmlWriter::WriteString(const WideString& text) {
    if (open_.empty())
        throw XmlException("Token Content in state Start would result in an invalid XML document.");
    if (!IsXmlText(text)) throw XmlException("Invalid XML character");
    CloseStartTag();
    output_ += EscapeXmlText(text);
    state_ = xsContent;
}

void XmlWriter::WriteEndElement() {
    if (open_.empty()) throw XmlException("There was no XML start tag open.");
    if (state_ == xsElement || state_ == xsAttribute) {
        output_ += u"/>";
    } else {
        output_ += u"</";
        output_ += open_.back();
        output_ += u'>';
    }
    open_.pop_back();
    insertion_.pop_back();
    state_ = open_.empty() ? xsClosed : xsContent;
}

void XmlWriter::WriteEndDocument() {
    while (!open_.empty()) WriteEndElement();
}

std::string XmlWriter::ToUtf8() const {
    return rtl::WideToUtf8(output_);
}

}  // namespace dac
