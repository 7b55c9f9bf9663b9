// Table-driven lexers: TParser cuts a text (or a stream read block by block) into lexemes,
// TSQLParser adds the SQL vocabulary. Subclasses change the character classes and tables.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Types.h"

namespace rtl {
class TStream;
}

namespace dac {

class Encoding;

using rtl::AnsiString;

// Lexeme codes; positive codes come from the symbol and keyword tables.
inline constexpr int lxEnd = 0;
inline constexpr int lxSymbolChar = -102;
inline constexpr int lxIdent = -103;
inline constexpr int lxNumber = -105;
inline constexpr int lxString = -106;
inline constexpr int lxBlank = -107;
inline constexpr int lxComment = -108;

// SQL keyword codes used by the SQL analysis code.
inline constexpr int lxALL = 100;
inline constexpr int lxAS = 102;
inline constexpr int lxFROM = 112;
inline constexpr int lxFULL = 113;
inline constexpr int lxGROUP = 114;
inline constexpr int lxHAVING = 115;
inline constexpr int lxINNER = 116;
inline constexpr int lxJOIN = 121;
inline constexpr int lxLEFT = 122;
inline constexpr int lxMINUS = 125;
inline constexpr int lxON = 128;
inline constexpr int lxORDER = 131;
inline constexpr int lxOUTER = 132;
inline constexpr int lxRIGHT = 135;
inline constexpr int lxSELECT = 138;
inline constexpr int lxUNION = 142;
inline constexpr int lxWHERE = 144;

// A sorted table of lexeme texts, each carrying its code. Built once and only read afterwards.
class TLexemList {
public:
    TLexemList() = default;
    TLexemList(std::initializer_list<std::pair<const char*, int>> entries);

    void Add(const AnsiString& text, int code);
    // Ordinal byte order; equal texts keep their order of addition.
    void Sort();

    int Count() const { return static_cast<int>(items_.size()); }
    const AnsiString& Strings(int index) const { return items_[static_cast<size_t>(index)].first; }
    int Codes(int index) const { return items_[static_cast<size_t>(index)].second; }

private:
    std::vector<std::pair<AnsiString, int>> items_;
};

// Ordinal byte comparison of two lexeme texts: negative, 0 or positive.
int CompareLexems(const AnsiString& a, const AnsiString& b);

// The shared tables, built on first use and kept for the life of the process.
const TLexemList& ParserSymbols();
const TLexemList& ParserKeywords();
const TLexemList& SQLSymbols();
const TLexemList& SQLKeywords();

class TParser {
public:
    explicit TParser(const AnsiString& text);
    // Reads from the stream's current position on; the stream stays with the caller and must
    // outlive the lexer. A null encoding means Encoding::Default(); only the fixed-width
    // encodings Encoding::Default() and Encoding::Unicode() are accepted.
    TParser(rtl::TStream* stream, Encoding* encoding);
    virtual ~TParser();

    TParser(const TParser&) = delete;
    TParser& operator=(const TParser&) = delete;

    // Options: set after creation, before ToBegin or the first GetNext.
    bool SkipBlanks = true;
    bool SkipComments = false;
    bool UpperKeywords = true;
    bool KeepQuotes = false;
    bool AltQuoting = false;
    AnsiString CommentBegin = "/*";
    AnsiString CommentEnd = "*/";
    AnsiString DecimalChar;

    void SetText(const AnsiString& text);
    void ToBegin();
    virtual int GetNext(AnsiString& lexem);
    int GetNextCode();
    int ToLexem(int code);
    bool ToLexem(const AnsiString& text);
    void Back();

    int64_t CurrPos() const { return curPos_ + windowOffset_ - 1; }
    int64_t ScanStartPos() const { return scanStart_ - 1; }
    int64_t PriorScanStartPos() const { return priorScanStart_ - 1; }
    int64_t PrevCol() const { return scanStart_ - scanLineStart_; }
    int64_t CurrLine() const { return curLine_; }
    int64_t PrevLine() const { return scanLine_; }
    // 0-based column of the first character of the last lexeme (after skipped blanks).
    int64_t LexemCol() const { return lexemCol_; }

    // Leftmost index of the text at pos (length characters) in the table, or -1; a-z of the
    // text compare as upper case.
    int FindLexemIndex(int64_t pos, int64_t length, const TLexemList& table);

protected:
    virtual void InitParser();
    virtual bool IsBlank(char ch) const;
    virtual bool IsSymbol(char ch) const;
    virtual bool IsAlpha(char ch) const;
    virtual bool IsNumber(char ch) const;
    virtual bool IsStringQuote(char ch) const;
    virtual void ScanToQuoteCounting(char quote);
    virtual void ScanToQuote(char quote);
    virtual void ToRightQuote(char quote);
    virtual bool IsIdentQuote(char ch) const;
    virtual bool IsInlineComment(int64_t pos);

    char GetChar(int64_t pos);
    AnsiString GetLexemText(int64_t pos, int64_t length);
    void AddToLexem(int64_t pos, int64_t count);

    // Stream input.
    int64_t CharCount(int64_t bytes) const;
    void ReadNextBlock();
    char GetStoredChar(int64_t pos);
    int64_t BlockSize() const;
    void RebaseWindow();

    int64_t TextLength() const { return textLength_; }
    // Window position of the next character, for lexers that scan runs of their own.
    int64_t CurPosition() const { return curPos_; }
    void SetCurPosition(int64_t pos) { curPos_ = pos; }

    const TLexemList* symbols_ = nullptr;
    const TLexemList* keywords_ = nullptr;

private:
    int InternalGetNext();
    void LineBreakAt(char ch);  // counts a line break whose first character was just passed
    void ScanQuoted(char quote, bool keepQuotes);
    void ScanAltLiteral(int64_t start);
    bool MatchesTarget(int code);

    // Scan bookkeeping (absolute 1-based positions unless noted).
    int64_t scanStart_ = 1;
    int64_t priorScanStart_ = 1;
    int64_t curLine_ = 0;
    int64_t scanLine_ = 0;
    int64_t curLineStart_ = 1;  // window position
    int64_t scanLineStart_ = 1;
    int64_t runStart_ = -1;  // window position of an open comment or literal
    int64_t lexemPos_ = -1;  // window position
    int64_t lexemLength_ = 0;
    bool quotedIdent_ = false;
    int64_t lexemCol_ = 0;

    // Input.
    AnsiString text_;  // text input
    rtl::TStream* stream_ = nullptr;
    Encoding* encoding_ = nullptr;
    int64_t streamStart_ = 0;
    std::vector<AnsiString> storedBlocks_;
    AnsiString block_;
    int64_t firstStoredPos_ = 1;
    int64_t blockPos_ = 1;
    int64_t blockLength_ = 0;
    int64_t textLength_ = 0;
    int64_t curPos_ = 1;  // window position of the next character
    int64_t streamLength_ = 0;
    int64_t windowOffset_ = 0;

    AnsiString target_;
    bool matched_ = false;
    AnsiString symbolText_;
};

class TSQLParser : public TParser {
public:
    explicit TSQLParser(const AnsiString& text);
    TSQLParser(rtl::TStream* stream, Encoding* encoding);

    std::vector<int> ClauseOrder;

    virtual bool IsMacroAllowed(int code) const;
    virtual bool IsNumericMacroNameAllowed() const;
    virtual bool IsSelectModifier(int code) const;
    virtual bool IsFunctionOrConst(const AnsiString& lexem) const;
    virtual bool IsQuasiColumn(const AnsiString& lexem) const;

    bool IsClauseLexem(int code) const;
    int FindClauseIndex(int code) const;
    // -2 when either code is no clause, else -1, 0 or 1 by their places in ClauseOrder.
    int CompareClauses(int code1, int code2) const;

protected:
    void InitParser() override;
    bool IsAlpha(char ch) const override;
    bool IsStringQuote(char ch) const override;
    bool IsIdentQuote(char ch) const override;
    bool IsInlineComment(int64_t pos) override;
};

// Class reference of a SQL lexer: makes a lexer of that class over a text.
using TSQLParserClass = std::unique_ptr<TSQLParser> (*)(const AnsiString& text);

template <class T>
std::unique_ptr<TSQLParser> CreateParserOf(const AnsiString& text) {
    return std::make_unique<T>(text);
}

}  // namespace dac
