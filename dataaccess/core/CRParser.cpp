#include "dataaccess/core/CRParser.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace dac {

namespace {

constexpr int64_t MaxTextLength = INT32_MAX;

unsigned char U(char ch) {
    return static_cast<unsigned char>(ch);
}

char UpAscii(char ch) {
    return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
}

AnsiString UpperAscii(AnsiString s) {
    for (auto& ch : s) ch = UpAscii(ch);
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tables

TLexemList::TLexemList(std::initializer_list<std::pair<const char*, int>> entries) {
    for (const auto& [text, code] : entries) Add(text, code);
    Sort();
}

void TLexemList::Add(const AnsiString& text, int code) {
    rtl::Assert(code >= 1, "Lexem code must be positive");
    items_.emplace_back(text, code);
}

void TLexemList::Sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [](const auto& a, const auto& b) { return CompareLexems(a.first, b.first) < 0; });
}

int CompareLexems(const AnsiString& a, const AnsiString& b) {
    const size_t n = std::min(a.size(), b.size());
    int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (r != 0) return r;
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

const TLexemList& ParserSymbols() {
    static const TLexemList table{{"!", 1},  {"\"", 2}, {"#", 3},  {"$", 4},  {"%", 5},  {"&", 6},
                                  {"'", 7},  {"(", 8},  {")", 9},  {"*", 10}, {"+", 11}, {",", 12},
                                  {"-", 13}, {".", 14}, {"/", 15}, {":", 16}, {";", 17}, {"<", 18},
                                  {"=", 19}, {">", 20}, {"?", 21}, {"@", 22}, {"[", 23}, {"\\", 24},
                                  {"]", 25}, {"^", 26}, {"_", 27}, {"`", 28}};
    return table;
}

const TLexemList& ParserKeywords() {
    static const TLexemList table{{"AND", 29}, {"NOT", 30}, {"OR", 31}};
    return table;
}

const TLexemList& SQLSymbols() {
    static const TLexemList table{{"*", 1}, {"=", 2}, {":", 3}, {",", 4}, {".", 5}, {"/", 6}, {";", 7}};
    return table;
}

const TLexemList& SQLKeywords() {
    static const TLexemList table{
        {"ALL", 100},     {"AND", 101},       {"AS", 102},    {"BEGIN", 103},       {"BY", 104},
        {"COMMIT", 105},  {"DELETE", 106},    {"END", 108},   {"EXECUTE", 109},     {"FETCH", 110},
        {"FOR", 111},     {"FROM", 112},      {"FULL", 113},  {"GROUP", 114},       {"HAVING", 115},
        {"INNER", 116},   {"INSERT", 117},    {"INTO", 119},  {"IS", 120},          {"JOIN", 121},
        {"LEFT", 122},    {"LIMIT", 123},     {"LOCK", 124},  {"MINUS", 125},       {"NOT", 126},
        {"OFFSET", 127},  {"ON", 128},        {"OR", 130},    {"ORDER", 131},       {"OUTER", 132},
        {"RELEASE", 133}, {"RETURNING", 134}, {"RIGHT", 135}, {"ROLLBACK", 136},    {"SAVEPOINT", 137},
        {"SELECT", 138},  {"SET", 139},       {"TO", 140},    {"TRANSACTION", 141}, {"UNION", 142},
        {"UPDATE", 143},  {"WHERE", 144}};
    return table;
}

// ---------------------------------------------------------------------------------------------
// TParser

TParser::TParser(const AnsiString& text) {
    SetText(text);
    InitParser();
}

TParser::~TParser() = default;

void TParser::InitParser() {
    symbols_ = &ParserSymbols();
    keywords_ = &ParserKeywords();
    CommentBegin = "/*";
    CommentEnd = "*/";
    DecimalChar = AnsiString(1, LocaleDecimalSeparator());
    SkipBlanks = true;
    UpperKeywords = true;
    KeepQuotes = false;
    ToBegin();
}

void TParser::SetText(const AnsiString& text) {
    stream_ = nullptr;
    encoding_ = nullptr;
    storedBlocks_.clear();
    block_.clear();
    text_ = text;
    textLength_ = std::min<int64_t>(static_cast<int64_t>(text_.size()), MaxTextLength);
    blockLength_ = textLength_;
    streamLength_ = textLength_;
    ToBegin();
}

void TParser::ToBegin() {
    if (stream_ && (windowOffset_ != 0 || blockLength_ != 0 || !storedBlocks_.empty())) {
        // Reading already began: start the stream over rather than mixing old block positions
        // with new data.
        stream_->Seek(streamStart_, rtl::soBeginning);
        storedBlocks_.clear();
        block_.clear();
        blockLength_ = 0;
        textLength_ = std::min(streamLength_, MaxTextLength);
    }
    curPos_ = 1;
    scanStart_ = 1;
    priorScanStart_ = 1;
    curLine_ = 0;
    scanLine_ = 0;
    curLineStart_ = 1;
    scanLineStart_ = 1;
    firstStoredPos_ = 1;
    blockPos_ = 1;
    windowOffset_ = 0;
    runStart_ = -1;
    lexemPos_ = -1;
    lexemLength_ = 0;
}

bool TParser::IsBlank(char ch) const {
    return ch == 9 || ch == 10 || ch == 13 || ch == 32;
}

bool TParser::IsSymbol(char ch) const {
    const unsigned c = U(ch);
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 94) || c == 96 ||
           (c >= 123 && c <= 126);
}

bool TParser::IsAlpha(char ch) const {
    const unsigned c = U(ch);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 128;
}

bool TParser::IsNumber(char ch) const {
    return ch >= '0' && ch <= '9';
}

bool TParser::IsStringQuote(char ch) const {
    return ch == '"' || ch == '\'';
}

bool TParser::IsIdentQuote(char) const {
    return false;
}

bool TParser::IsInlineComment(int64_t pos) {
    return pos + 2 <= textLength_ && GetChar(pos) == '/' && GetChar(pos + 1) == '/';
}

void TParser::LineBreakAt(char ch) {
    // curPos_ is on the break character; a CR LF pair is one break.
    if (ch == '\r' && GetChar(curPos_ + 1) == '\n') ++curPos_;
    ++curLine_;
    curLineStart_ = curPos_ + 1;
}

void TParser::ScanToQuoteCounting(char quote) {
    while (curPos_ <= textLength_) {
        const char ch = GetChar(curPos_);
        if (ch == quote) return;
        if (ch == '\r' || ch == '\n') LineBreakAt(ch);
        ++curPos_;
    }
}

void TParser::ScanToQuote(char quote) {
    if (curPos_ > textLength_) return;
    const void* hit =
        std::memchr(text_.data() + (curPos_ - 1), quote, static_cast<size_t>(textLength_ - curPos_ + 1));
    curPos_ = hit ? static_cast<const char*>(hit) - text_.data() + 1 : textLength_ + 1;
}

void TParser::ToRightQuote(char quote) {
    if (stream_)
        ScanToQuoteCounting(quote);
    else
        ScanToQuote(quote);
}

char TParser::GetChar(int64_t pos) {
    if (pos > textLength_ || pos < 1) return '\0';
    if (!stream_) return text_[static_cast<size_t>(pos - 1)];
    while (pos >= blockPos_ + blockLength_) {
        const int64_t before = blockPos_ + blockLength_;
        ReadNextBlock();
        if (blockLength_ == 0 || blockPos_ + blockLength_ <= before) return '\0';  // stream ran dry
    }
    if (pos < blockPos_) return GetStoredChar(pos);
    return block_[static_cast<size_t>(pos - blockPos_)];
}

AnsiString TParser::GetLexemText(int64_t pos, int64_t length) {
    if (length <= 0) return {};
    if (!stream_) {
        if (pos < 1 || pos > textLength_) return {};
        length = std::min(length, textLength_ - pos + 1);
        return text_.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(length));
    }
    if (pos >= blockPos_) {
        const int64_t from = pos - blockPos_;
        if (from >= blockLength_) return {};
        return block_.substr(static_cast<size_t>(from), static_cast<size_t>(length));
    }
    AnsiString result;
    result.reserve(static_cast<size_t>(length));
    int64_t p = firstStoredPos_;
    for (const auto& blk : storedBlocks_) {
        const int64_t len = static_cast<int64_t>(blk.size());
        if (pos < p + len && static_cast<int64_t>(result.size()) < length) {
            const int64_t from = std::max<int64_t>(pos - p, 0);
            const int64_t n = std::min(len - from, length - static_cast<int64_t>(result.size()));
            result.append(blk, static_cast<size_t>(from), static_cast<size_t>(n));
        }
        p += len;
    }
    const int64_t rest = length - static_cast<int64_t>(result.size());
    if (rest > 0) result.append(block_, 0, static_cast<size_t>(std::min(rest, blockLength_)));
    return result;
}

void TParser::AddToLexem(int64_t pos, int64_t count) {
    if (lexemPos_ == -1) lexemPos_ = pos;
    lexemLength_ += count;
    runStart_ = -1;
}

int TParser::FindLexemIndex(int64_t pos, int64_t length, const TLexemList& table) {
    // Over a text the lexeme is compared in place; stream blocks are copied out first.
    AnsiString copy;
    std::string_view text;
    if (!stream_ && pos >= 1 && length >= 0 && pos + length - 1 <= textLength_) {
        text = std::string_view(text_).substr(static_cast<size_t>(pos - 1), static_cast<size_t>(length));
    } else {
        copy = GetLexemText(pos, length);
        text = copy;
    }
    // Entry against text with a-z of the text upper-cased; the first difference decides, then
    // the length.
    auto compare = [&text](const AnsiString& entry) {
        const size_t n = std::min(entry.size(), text.size());
        for (size_t i = 0; i < n; ++i) {
            const int d = static_cast<int>(U(entry[i])) - static_cast<int>(U(UpAscii(text[i])));
            if (d != 0) return d;
        }
        return entry.size() == text.size() ? 0 : (entry.size() < text.size() ? -1 : 1);
    };
    int low = 0, high = table.Count() - 1, result = -1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int cmp = compare(table.Strings(mid));
        if (cmp < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (cmp == 0) result = mid;
        }
    }
    return result;
}

void TParser::ScanQuoted(char quote, bool keepQuotes) {
    const int64_t start = curPos_;
    runStart_ = start;
    ++curPos_;
    ToRightQuote(quote);
    const int64_t from = keepQuotes ? start : start + 1;
    int64_t to = curPos_;
    if (curPos_ <= textLength_) {
        if (keepQuotes) ++to;
        ++curPos_;
    }
    AddToLexem(from, to - from);
}

void TParser::ScanAltLiteral(int64_t start) {
    // curPos_ is on the quote after q.
    const char quote = GetChar(curPos_);
    ++curPos_;
    const char open = GetChar(curPos_);
    char close = open;
    switch (open) {
        case '(':
            close = ')';
            break;
        case '<':
            close = '>';
            break;
        case '[':
            close = ']';
            break;
        case '{':
            close = '}';
            break;
        default:
            break;
    }
    if (curPos_ <= textLength_) ++curPos_;
    while (curPos_ <= textLength_) {
        const char ch = GetChar(curPos_);
        ++curPos_;
        if (ch == close && curPos_ <= textLength_ && GetChar(curPos_) == quote) {
            ++curPos_;
            break;
        }
    }
    const int64_t consumed = curPos_ - start;
    if (KeepQuotes)
        AddToLexem(start, consumed);
    else if (consumed > 5)
        AddToLexem(start + 3, consumed - 5);
    else
        AddToLexem(start, 0);
}

int TParser::InternalGetNext() {
    priorScanStart_ = scanStart_;
    scanStart_ = curPos_ + windowOffset_;
    scanLine_ = curLine_;
    scanLineStart_ = curLineStart_ + windowOffset_;
    runStart_ = -1;
    lexemPos_ = -1;
    lexemLength_ = 0;
    quotedIdent_ = false;
    symbolText_.clear();

    for (;;) {
        if (curPos_ > textLength_) return lxEnd;
        char ch = GetChar(curPos_);
        if (stream_) RebaseWindow();

        lexemCol_ = curPos_ - curLineStart_;
        while (IsBlank(ch)) {
            AddToLexem(curPos_, 1);
            if (ch == '\r' || ch == '\n') {
                const int64_t before = curPos_;
                LineBreakAt(ch);
                if (curPos_ != before) AddToLexem(curPos_, 1);
            }
            ++curPos_;
            ch = GetChar(curPos_);
        }
        if (!SkipBlanks && lexemLength_ > 0) return lxBlank;
        if (curPos_ > textLength_) return lxEnd;
        lexemPos_ = -1;
        lexemLength_ = 0;

        bool comment = false;
        const int64_t start = curPos_;
        lexemCol_ = curPos_ - curLineStart_;
        runStart_ = start;
        if (IsInlineComment(curPos_)) {
            while (curPos_ <= textLength_) {
                const char c = GetChar(curPos_);
                if (c == '\r' || c == '\n') break;
                ++curPos_;
            }
            comment = true;
        } else if (!CommentBegin.empty() &&
                   start + static_cast<int64_t>(CommentBegin.size()) - 1 <= textLength_) {
            bool begins = true;
            for (size_t i = 0; i < CommentBegin.size() && begins; ++i)
                begins = GetChar(start + static_cast<int64_t>(i)) == CommentBegin[i];
            if (begins) {
                comment = true;
                // The closing bracket is searched from the opening one on; without it the comment
                // runs to the end of the text. An empty bracket never closes it.
                const auto endLen = static_cast<int64_t>(CommentEnd.size());
                while (curPos_ <= textLength_) {
                    if (endLen > 0 && curPos_ + endLen - 1 <= textLength_) {
                        bool ends = true;
                        for (int64_t i = 0; i < endLen && ends; ++i)
                            ends = GetChar(curPos_ + i) == CommentEnd[static_cast<size_t>(i)];
                        if (ends) {
                            curPos_ += endLen;
                            break;
                        }
                    }
                    const char c = GetChar(curPos_);
                    if (c == '\r' || c == '\n') LineBreakAt(c);
                    ++curPos_;
                }
            }
        }
        if (comment) {
            AddToLexem(start, curPos_ - start);
            if (!SkipComments) return lxComment;
            lexemPos_ = -1;
            lexemLength_ = 0;
            continue;
        }

        if (IsSymbol(ch) && IsStringQuote(ch)) {
            ScanQuoted(ch, KeepQuotes);
            return lxString;
        }
        if (IsSymbol(ch) && IsIdentQuote(ch)) {
            ScanQuoted(ch, true);
            quotedIdent_ = true;
            return lxIdent;
        }
        if (IsSymbol(ch)) {
            // Longest run whose every prefix is a table symbol.
            int64_t end = start + 1;
            int result = lxSymbolChar;
            lexemPos_ = start;
            lexemLength_ = 0;
            for (;;) {
                ++lexemLength_;
                ++curPos_;
                const int idx = FindLexemIndex(start, lexemLength_, *symbols_);
                if (idx < 0) break;
                symbolText_ = symbols_->Strings(idx);
                result = symbols_->Codes(idx);
                end = curPos_;
                if (!IsSymbol(GetChar(curPos_))) break;
            }
            curPos_ = end;
            lexemLength_ = end - start;
            return result;
        }
        if (IsAlpha(ch) || ch == '_') {
            do {
                ++curPos_;
                ch = GetChar(curPos_);
            } while (curPos_ <= textLength_ && (IsAlpha(ch) || IsNumber(ch) || ch == '_'));
            if (AltQuoting && curPos_ - start == 1 && UpAscii(GetChar(start)) == 'Q' &&
                curPos_ <= textLength_ && IsStringQuote(ch)) {
                ScanAltLiteral(start);
                return lxString;
            }
            AddToLexem(start, curPos_ - start);
            return lxIdent;
        }
        if (IsNumber(ch)) {
            do {
                ++curPos_;
            } while (curPos_ <= textLength_ && IsNumber(GetChar(curPos_)));
            if (DecimalChar.size() == 1 && curPos_ + 1 <= textLength_ && GetChar(curPos_) == DecimalChar[0] &&
                IsNumber(GetChar(curPos_ + 1))) {
                curPos_ += 2;
                while (curPos_ <= textLength_ && IsNumber(GetChar(curPos_))) ++curPos_;
            }
            AddToLexem(start, curPos_ - start);
            return lxNumber;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", U(ch));
        throw rtl::Exception("Parser: The unknown symbol '" + AnsiString(1, ch) + "'  $" + hex);
    }
}

int TParser::GetNext(AnsiString& lexem) {
    lexem.clear();
    int code = InternalGetNext();
    if (code > 0)
        lexem = symbolText_;
    else if (lexemPos_ != -1 && lexemLength_ > 0)
        lexem = GetLexemText(lexemPos_, lexemLength_);
    if (code == lxIdent && !quotedIdent_ && lexemLength_ > 0) {
        const int idx = FindLexemIndex(lexemPos_, lexemLength_, *keywords_);
        if (idx >= 0) {
            code = keywords_->Codes(idx);
            if (UpperKeywords) {
                // A match means the lexeme upper-cases to the table's word; only a word beyond
                // ASCII needs the locale's rules.
                const AnsiString& word = keywords_->Strings(idx);
                const bool ascii = std::all_of(word.begin(), word.end(), [](char ch) { return U(ch) < 128; });
                lexem = ascii ? word : LocaleUpperCase(lexem);
            }
        }
    }
    return code;
}

int TParser::GetNextCode() {
    AnsiString dummy;
    return GetNext(dummy);
}

int TParser::ToLexem(int code) {
    AnsiString dummy;
    int result;
    do {
        result = GetNext(dummy);
    } while (result != code && result != lxEnd);
    return result;
}

bool TParser::MatchesTarget(int code) {
    if (code > 0) return symbolText_ == target_;
    if (code == lxSymbolChar)
        return target_.size() == 1 && lexemLength_ == 1 && GetChar(lexemPos_) == target_[0];
    if ((code == lxIdent && !quotedIdent_) || code == lxNumber)
        return static_cast<int64_t>(target_.size()) == lexemLength_ &&
               UpperAscii(GetLexemText(lexemPos_, lexemLength_)) == target_;
    return false;
}

bool TParser::ToLexem(const AnsiString& text) {
    target_ = UpperAscii(text);
    matched_ = false;
    for (;;) {
        const int code = InternalGetNext();
        if (code == lxEnd) break;
        if (MatchesTarget(code)) {
            matched_ = true;
            break;
        }
    }
    const bool result = matched_;
    target_.clear();
    matched_ = false;
    return result;
}

void TParser::Back() {
    curPos_ = scanStart_ - windowOffset_;
}

// ---------------------------------------------------------------------------------------------
// TSQLParser

TSQLParser::TSQLParser(const AnsiString& text) : TParser(text) {
    InitParser();
}

void TSQLParser::InitParser() {
    TParser::InitParser();
    symbols_ = &SQLSymbols();
    keywords_ = &SQLKeywords();
    ClauseOrder = {144, 114, 115, 142, 118, 125, 131};
}

bool TSQLParser::IsAlpha(char ch) const {
    return TParser::IsAlpha(ch) || ch == '#' || ch == '$';
}

bool TSQLParser::IsStringQuote(char ch) const {
    return ch == '\'';
}

bool TSQLParser::IsIdentQuote(char ch) const {
    return ch == '"';
}

bool TSQLParser::IsInlineComment(int64_t pos) {
    return pos + 2 <= TextLength() && GetChar(pos) == '-' && GetChar(pos + 1) == '-';
}

bool TSQLParser::IsMacroAllowed(int code) const {
    return code != lxString;
}

bool TSQLParser::IsNumericMacroNameAllowed() const {
    return false;
}

bool TSQLParser::IsSelectModifier(int code) const {
    return code == 100 || code == 107;
}

bool TSQLParser::IsFunctionOrConst(const AnsiString& lexem) const {
    return lexem == "NULL";
}

bool TSQLParser::IsQuasiColumn(const AnsiString&) const {
    return false;
}

int TSQLParser::FindClauseIndex(int code) const {
    rtl::Assert(!ClauseOrder.empty(), "ClauseOrder is empty");
    for (size_t i = 0; i < ClauseOrder.size(); ++i)
        if (ClauseOrder[i] == code) return static_cast<int>(i);
    return -1;
}

bool TSQLParser::IsClauseLexem(int code) const {
    return FindClauseIndex(code) != -1;
}

int TSQLParser::CompareClauses(int code1, int code2) const {
    const int i1 = FindClauseIndex(code1);
    const int i2 = FindClauseIndex(code2);
    if (i1 == -1 || i2 == -1) return -2;
    return i1 < i2 ? -1 : (i1 == i2 ? 0 : 1);
}

}  // namespace dac
