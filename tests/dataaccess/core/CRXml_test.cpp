// The XML text writer: escaping, attribute insertion into the open start tag, the states that
// refuse attributes, and the lexeme tables of the XML reader.
#include "dataaccess/core/CRXml.h"

#include <gtest/gtest.h>

namespace dac {
namespace {

TEST(EscapeXmlText, ReplacesTheFiveMarkupCharactersOnceEach) {
    const std::vector<std::pair<WideString, WideString>> table = {
        {u"a&b<c", u"a&#x26;b&#x3c;c"},
        {u"plain text", u"plain text"},
        {u"", u""},
        {u"'\"<>&", u"&#x27;&#x22;&#x3c;&#x3e;&#x26;"},
        // An existing reference is text like any other: its ampersand is escaped, once.
        {u"&#x26;", u"&#x26;#x26;"},
        {u"\u0416&\u0416", u"\u0416&#x26;\u0416"},
    };
    for (const auto& [in, out] : table) EXPECT_EQ(EscapeXmlText(in), out);
}

TEST(EscapeXmlText, KeepsTabsAndLineBreaksFromAttributeValueNormalisation) {
    EXPECT_EQ(EscapeXmlText(u"a\tb\r\nc"), u"a&#x9;b&#xd;&#xa;c");
}

TEST(XmlWriter, AttributesGoIntoTheOpenStartTagInTheOrderWritten) {
    XmlWriter w;
    w.WriteStartElement(u"row");
    EXPECT_EQ(w.WriteState(), xsElement);
    w.WriteAttributeString(u"a", u"1");
    EXPECT_EQ(w.WriteState(), xsAttribute);
    w.WriteAttributeString(u"rs", u"b", u"x<y");
    w.WriteEndElement();
    EXPECT_EQ(w.Text(), u"<row a=\"1\" rs:b=\"x&#x3c;y\"/>");
}

TEST(XmlWriter, NestedElementsCloseWithTheirNamesAndTheQuoteCharacterIsTheWritersOwn) {
    XmlWriter w(u'\'');
    w.WriteStartElement(u"s", u"Schema");
    w.WriteAttributeString(u"id", u"it's");
    w.WriteStartElement(u"child");
    w.WriteString(u"1 < 2");
    w.WriteEndElement();
    w.WriteStartElement(u"empty");
    w.WriteEndDocument();
    EXPECT_EQ(w.Text(), u"<s:Schema id='it&#x27;s'><child>1 &#x3c; 2</child><empty/></s:Schema>");
    EXPECT_EQ(w.WriteState(), xsClosed);
}

TEST(XmlWriter, AnAttributeOutsideAnOpenStartTagIsRefusedWhateverTheState) {
    const std::string message =
        "Token WriteAttributeString in state Content would result in an invalid XML document.";
    auto refuses = [&](XmlWriter& w) {
        const WideString before = w.Text();
        try {
            w.WriteAttributeString(u"a", u"1");
            ADD_FAILURE() << "accepted in state " << w.WriteState();
        } catch (const XmlException& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_EQ(w.Text(), before);
    };
    XmlWriter fresh;
    refuses(fresh);
    XmlWriter content;
    content.WriteStartElement(u"e");
    content.WriteString(u"text");
    refuses(content);
    XmlWriter child;
    child.WriteStartElement(u"e");
    child.WriteStartElement(u"f");
    child.WriteEndElement();
    refuses(child);
    XmlWriter closed;
    closed.WriteStartElement(u"e");
    closed.WriteEndElement();
    refuses(closed);
}

TEST(XmlWriter, TextThatXmlCannotCarryIsRefusedInsteadOfWrittenBroken) {
    for (const WideString& bad : {WideString(u"a\x01"), WideString(1, char16_t(0xD800)),
                                  WideString(u"x") + char16_t(0xDC00), WideString(1, char16_t(0xFFFF))}) {
        XmlWriter w;
        w.WriteStartElement(u"e");
        EXPECT_THROW(w.WriteAttributeString(u"a", bad), XmlException);
        EXPECT_THROW(w.WriteString(bad), XmlException);
    }
    XmlWriter w;
    w.WriteStartElement(u"e");
    // A surrogate pair is one character of a supplementary plane.
    EXPECT_NO_THROW(w.WriteAttributeString(u"a", u"\U0001F600"));
    EXPECT_THROW(w.WriteAttributeString(u"1a", u"v"), XmlException);
    EXPECT_THROW(w.WriteAttributeString(u"a b", u"v"), XmlException);
}

TEST(XmlWriter, TheDocumentComesOutAsUtf8WithItsDeclaration) {
    XmlWriter w;
    w.WriteStartDocument();
    w.WriteStartElement(u"e");
    w.WriteAttributeString(u"v", u"\u0416");
    w.WriteEndDocument();
    EXPECT_EQ(w.ToUtf8(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><e v=\"\xD0\x96\"/>");
    EXPECT_THROW(w.WriteStartDocument(), XmlException);
    EXPECT_THROW(w.WriteStartElement(u"second"), XmlException);
}

TEST(XmlLexemTables, SymbolsAreColonAndEqualsSortedAndThereAreNoKeywords) {
    const TLexemList& s = XmlSymbols();
    ASSERT_EQ(s.Count(), 2);
    EXPECT_EQ(s.Strings(0), ":");
    EXPECT_EQ(s.Codes(0), 16);
    EXPECT_EQ(s.Strings(1), "=");
    EXPECT_EQ(s.Codes(1), 19);
    EXPECT_LT(CompareLexems(s.Strings(0), s.Strings(1)), 0);
    EXPECT_EQ(XmlKeywords().Count(), 0);
}

}  // namespace
}  // namespace dac
