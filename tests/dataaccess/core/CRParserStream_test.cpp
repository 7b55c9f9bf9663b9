#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace dac {
namespace {

struct Step {
    int code;
    std::string text;
    int64_t currPos, scanStart, line;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << "{" << s.code << ", \"" << s.text.substr(0, 40) << "\", " << s.currPos << ", " << s.scanStart
              << ", " << s.line << "}";
}

std::vector<Step> LexSteps(TParser& p) {
    std::vector<Step> out;
    std::string t;
    for (int code; (code = p.GetNext(t)) != lxEnd;)
        out.push_back({code, t, p.CurrPos(), p.ScanStartPos(), p.CurrLine()});
    return out;
}

void Prepare(TParser& p) {
    p.DecimalChar = ".";
    p.ToBegin();
}

std::unique_ptr<rtl::TMemoryStream> StreamOf(const std::string& bytes) {
    auto s = std::make_unique<rtl::TMemoryStream>();
    s->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    s->SetPosition(0);
    return s;
}

std::string Utf16Of(const std::string& ascii) {
    std::string out;
    for (char ch : ascii) {
        out.push_back(ch);
        out.push_back('\0');
    }
    return out;
}

TEST(LexerStream, StartsAtTheStreamPosition) {
    std::string bytes(100, '#');
    bytes += "select a from t" + std::string(185, ' ');
    auto s = StreamOf(bytes);
    s->SetPosition(100);
    TSQLParser p(s.get(), nullptr);
    Prepare(p);
    const auto steps = LexSteps(p);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0], (Step{138, "SELECT", 6, 0, 0}));
    EXPECT_EQ(steps[3], (Step{lxIdent, "t", 15, 13, 0}));
    EXPECT_EQ(p.CurrPos(), 200);  // the text is the 200 bytes behind the start
}

TEST(LexerStream, Utf16CountsTwoBytesPerCharacter) {
    auto s = StreamOf(std::string("a\0b\0", 4));
    TSQLParser p(s.get(), Encoding::Unicode());
    Prepare(p);
    const auto steps = LexSteps(p);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0], (Step{lxIdent, "ab", 2, 0, 0}));

    // Cyrillic text comes back in the 8-bit code page.
    auto c = StreamOf(std::string("\x16\x04 \x00\x41\x00", 6));
    TSQLParser q(c.get(), Encoding::Unicode());
    Prepare(q);
    const auto cs = LexSteps(q);
    ASSERT_EQ(cs.size(), 2u);
    EXPECT_EQ(cs[0].text, "\xc6");
    EXPECT_EQ(cs[1].text, "A");
}

TEST(LexerStream, RefusesVariableWidthEncodings) {
    auto s = StreamOf("abc");
    UTF8Encoding utf8;
    CodePageEncoding cp(1251);
    EXPECT_THROW(TSQLParser(s.get(), &utf8), rtl::EInvalidArgument);
    EXPECT_THROW(TSQLParser(s.get(), &cp), rtl::EInvalidArgument);
    UnicodeEncoding ownUtf16;
    EXPECT_NO_THROW(TSQLParser(s.get(), &ownUtf16));
}

TEST(LexerStream, LexemesAcrossBlockBoundaries) {
    struct Case {
        const char* name;
        std::string text;
        int index;  // which lexeme to check
        int code;
        std::string expected;
    };
    const std::string longString(150000, 'x');
    const std::vector<Case> cases = {
        {"identifier across one boundary", std::string(65533, ' ') + "abcdef tail", 0, lxIdent, "abcdef"},
        {"string across several blocks", "a '" + longString + "' b", 1, lxString, longString},
        {"comment across blocks", "a /*" + std::string(140000, '-') + "*/ b", 1, lxComment,
         "/*" + std::string(140000, '-') + "*/"},
        {"identifier longer than a block", std::string(65000, ' ') + std::string(70000, 'q') + " x", 0,
         lxIdent, std::string(70000, 'q')},
        {"CR LF split by the boundary", std::string(65535, ' ') + "\r\nz", 0, lxIdent, "z"},
    };
    for (const auto& c : cases) {
        for (bool utf16 : {false, true}) {
            auto s = StreamOf(utf16 ? Utf16Of(c.text) : c.text);
            TSQLParser p(s.get(), utf16 ? Encoding::Unicode() : nullptr);
            Prepare(p);
            const auto steps = LexSteps(p);
            ASSERT_GT(steps.size(), static_cast<size_t>(c.index)) << c.name;
            EXPECT_EQ(steps[c.index].code, c.code) << c.name << " utf16=" << utf16;
            EXPECT_EQ(steps[c.index].text, c.expected) << c.name << " utf16=" << utf16;
        }
    }
}

// A long script of many short lines, so that the window moves on many times.
std::string Script(unsigned seed, size_t lines) {
    std::mt19937 rng(seed);
    const char* pieces[] = {"select",  "a.b",     "from",   "t1",    ",", "'str'", "12.5",
                            "-- note", "/* c */", ":p",     "\"Q\"", "(", ")",     "=",
                            "x_y",     "#h",      "q'[z]'", "''",    "*"};
    std::string out;
    for (size_t i = 0; i < lines; ++i) {
        const int n = static_cast<int>(rng() % 12);
        for (int k = 0; k < n; ++k) {
            out += pieces[rng() % (sizeof pieces / sizeof *pieces)];
            out += (rng() % 4 == 0) ? "\t" : " ";
        }
        out += (rng() % 3 == 0) ? "\r\n" : "\n";
    }
    return out;
}

TEST(LexerStream, SameLexemesPositionsAndLinesAsTextInput) {
    const std::string text = Script(7, 20000);  // half a megabyte, several blocks
    ASSERT_GT(text.size(), 6u * 65536);
    TSQLParser fromText(text);
    fromText.AltQuoting = true;
    Prepare(fromText);
    const auto expected = LexSteps(fromText);
    for (bool utf16 : {false, true}) {
        auto s = StreamOf(utf16 ? Utf16Of(text) : text);
        TSQLParser fromStream(s.get(), utf16 ? Encoding::Unicode() : nullptr);
        fromStream.AltQuoting = true;
        Prepare(fromStream);
        const auto got = LexSteps(fromStream);
        ASSERT_EQ(got.size(), expected.size()) << "utf16=" << utf16;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << "lexeme " << i << " utf16=" << utf16;
    }
}

TEST(LexerStream, LineBreaksInsideStringsCountForStreams) {
    auto s = StreamOf("'a\nb' x");
    TSQLParser p(s.get(), nullptr);
    std::string t;
    p.GetNext(t);
    EXPECT_EQ(p.CurrLine(), 1);
}

TEST(LexerStream, ToBeginReadsTheStreamAgain) {
    const std::string text = "select a from t where " + std::string(70000, ' ') + "b = 1";
    auto s = StreamOf(std::string(10, '!') + text);
    s->SetPosition(10);
    TSQLParser p(s.get(), nullptr);
    Prepare(p);
    const auto first = LexSteps(p);
    p.ToBegin();
    const auto second = LexSteps(p);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.size(), 8u);
}

}  // namespace
}  // namespace dac
