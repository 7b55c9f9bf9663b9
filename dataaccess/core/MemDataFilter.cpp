// Record storage: the filter lexer, filter expressions (grammar, tree, evaluation, LIKE
// patterns) and the per-row verdict of the record list.
#include <cstdlib>
#include <cstring>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// The filter lexer

const TLexemList& BoolSymbols() {
    static const TLexemList table{{"=", blEqual},         {">", blGreater},     {"<", blLess},
                                  {">=", blGreaterEqual}, {"<=", blLessEqual},  {"<>", blNotEqual},
                                  {"(", blOpenParen},     {")", blCloseParen},  {"-", blMinus},
                                  {"+", blPlus},          {"[", blOpenBracket}, {"]", blCloseBracket}};
    return table;
}

const TLexemList& BoolKeywords() {
    static const TLexemList table{{"AND", blAND}, {"FALSE", blFALSE}, {"IS", blIS}, {"LIKE", blLIKE},
                                  {"NOT", blNOT}, {"NULL", blNULL},   {"OR", blOR}, {"TRUE", blTRUE}};
    return table;
}

TBoolParser::TBoolParser(const AnsiString& text) : TParser(text) {
    InitParser();
}

void TBoolParser::InitParser() {
    TParser::InitParser();
    symbols_ = &BoolSymbols();
    keywords_ = &BoolKeywords();
}

void TBoolParser::ToRightQuote(char quote) {
    for (;;) {
        TParser::ToRightQuote(quote);
        const int64_t pos = CurPosition();
        if (quote != '\'' || pos >= TextLength() || GetChar(pos + 1) != '\'') return;
        SetCurPosition(pos + 2);
    }
}

AnsiString TBoolParser::ReadToCloseBracket() {
    AnsiString name;
    int64_t pos = CurPosition();
    for (; pos <= TextLength(); ++pos) {
        const char ch = GetChar(pos);
        if (ch == ']') {
            ++pos;
            break;
        }
        name += ch;
    }
    SetCurPosition(pos);
    return name;
}

// ---------------------------------------------------------------------------------------------
// LIKE patterns

namespace {

template <class Ch>
bool IsRunWildcard(Ch ch) {
    return ch == Ch('*') || ch == Ch('%');
}

// Greedy matching that goes back to the last run wildcard on a mismatch: every character of the
// value is tried at most once per wildcard, so the time stays bounded by value x pattern.
template <class Ch>
bool Match(std::basic_string_view<Ch> value, std::basic_string_view<Ch> pattern) {
    std::size_t i = 0, j = 0;
    std::size_t starJ = std::basic_string_view<Ch>::npos, starI = 0;
    while (i < value.size()) {
        if (j < pattern.size() && IsRunWildcard(pattern[j])) {
            starJ = j++;
            starI = i;
        } else if (j < pattern.size() && (pattern[j] == Ch('_') || pattern[j] == value[i])) {
            ++i;
            ++j;
        } else if (starJ != std::basic_string_view<Ch>::npos) {
            j = starJ + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (j < pattern.size() && IsRunWildcard(pattern[j])) ++j;
    return j == pattern.size();
}

}  // namespace

bool MatchLike(std::string_view value, std::string_view pattern) {
    return Match(value, pattern);
}

bool MatchLike(std::u16string_view value, std::u16string_view pattern) {
    return Match(value, pattern);
}

// ---------------------------------------------------------------------------------------------
// Expression grammar

namespace {

[[noreturn]] void IllegalFilter() {
    throw rtl::Exception("Illegal filter expression");
}

void FreeNodeChain(TExpressionNode* last) {
    while (last) {
        TExpressionNode* prev = last->PrevAllocated;
        delete last;
        last = prev;
    }
}

AnsiString UndoubleApostrophes(const AnsiString& s) {
    return rtl::StringReplace(s, "''", "'", rtl::rfReplaceAll);
}

}  // namespace

// One parse: lexer, look-ahead and the chain of nodes made so far (freed when the parse fails).
struct TData::FilterParse {
    FilterParse(TData& data, const AnsiString& text) : data_(data), parser_(text) { Next(); }
    ~FilterParse() { FreeNodeChain(last_); }

    TExpressionNode* Parse() {
        TExpressionNode* root = OrExpression();
        if (code_ != lxEnd) IllegalFilter();
        return root;
    }
    // Hands the nodes over to the storage.
    TExpressionNode* Release() {
        TExpressionNode* last = last_;
        last_ = nullptr;
        return last;
    }

private:
    void Next() { code_ = parser_.GetNext(lexem_); }
    bool IsSymbolText(const char* text) const { return code_ == lxSymbolChar && lexem_ == text; }

    TExpressionNode* NewNode(uint8_t kind) {
        auto* node = new TExpressionNode();
        node->NodeKind = kind;
        node->PrevAllocated = last_;
        last_ = node;
        return node;
    }
    TExpressionNode* Join(uint8_t kind, TExpressionNode* left, TExpressionNode* right) {
        TExpressionNode* node = NewNode(kind);
        node->FirstOperand = left;
        node->SecondOperand = right;
        return node;
    }

    TExpressionNode* OrExpression() {
        TExpressionNode* left = AndExpression();
        while (code_ == blOR) {
            Next();
            left = Join(ntOr, left, AndExpression());
        }
        return left;
    }

    TExpressionNode* AndExpression() {
        TExpressionNode* left = Condition();
        while (code_ == blAND) {
            Next();
            left = Join(ntAnd, left, Condition());
        }
        return left;
    }

    TExpressionNode* Condition() {
        switch (code_) {
            case blOpenParen: {
                Next();
                TExpressionNode* inner = OrExpression();
                if (code_ != blCloseParen) IllegalFilter();
                Next();
                return inner;
            }
            case blNOT: {
                Next();
                TExpressionNode* node = NewNode(ntNot);
                node->FirstOperand = Condition();
                return node;
            }
            case blTRUE:
            case blFALSE: {
                TExpressionNode* node = NewNode(code_ == blTRUE ? ntTrue : ntFalse);
                Next();
                return node;
            }
            case blMinus:
            case blPlus:
            case blOpenBracket:
            case lxString:
            case lxNumber:
            case lxIdent:
                return Comparison();
            default:
                IllegalFilter();
        }
    }

    TExpressionNode* Comparison() {
        TExpressionNode* node = NewNode(ntEqual);
        node->FirstOperand = Operand();
        switch (code_) {
            case blEqual:
                break;
            case blIS:
                Next();
                if (code_ == blNOT) {
                    Next();
                    node->NodeKind = ntNotEqual;
                }
                if (code_ != blNULL) IllegalFilter();
                node->SecondOperand = Operand();
                return node;
            case blGreater:
                node->NodeKind = ntGreater;
                break;
            case blLess:
                node->NodeKind = ntLess;
                break;
            case blGreaterEqual:
                node->NodeKind = ntGreaterEqual;
                break;
            case blLessEqual:
                node->NodeKind = ntLessEqual;
                break;
            case blNotEqual:
                node->NodeKind = ntNotEqual;
                break;
            case blLIKE:
                node->NodeKind = ntLike;
                break;
            case blNOT:
                Next();
                if (code_ != blLIKE) IllegalFilter();
                node->NodeKind = ntNotLike;
                break;
            default:
                IllegalFilter();
        }
        Next();
        node->SecondOperand = Operand();
        return node;
    }

    TExpressionNode* FieldNode(const AnsiString& name) {
        TFieldDesc* field = data_.FindField(name);
        if (!field) throw rtl::Exception("Field " + name + " not found");
        TExpressionNode* node = NewNode(ntField);
        node->FieldDesc = field;
        return node;
    }

    TExpressionNode* ValueNode(rtl::Variant value) {
        TExpressionNode* node = NewNode(ntValue);
        node->Value = std::move(value);
        return node;
    }

    TExpressionNode* Operand() {
        TExpressionNode* node = nullptr;
        switch (code_) {
            case blMinus:
            case blPlus: {
                const char sign = code_ == blMinus ? '-' : '+';
                Next();
                if (code_ != lxNumber) IllegalFilter();
                node = ValueNode(rtl::StrToFloat(sign + lexem_));
                break;
            }
            case blOpenBracket:
                node = FieldNode(parser_.ReadToCloseBracket());
                break;
            case lxIdent: {
                AnsiString name = lexem_;
                Next();
                while (IsSymbolText(".")) {
                    Next();
                    if (code_ != lxIdent) return FieldNode(name);
                    name += "." + lexem_;
                    Next();
                }
                return FieldNode(name);
            }
            case lxNumber: {
                int64_t whole = 0;
                const bool digitsOnly = lexem_.find_first_not_of("0123456789") == AnsiString::npos;
                if (digitsOnly && rtl::TryStrToInt64(lexem_, whole))
                    node = ValueNode(static_cast<long long>(whole));
                else
                    node = ValueNode(rtl::StrToFloat(lexem_));
                break;
            }
            case lxString:
                node = ValueNode(UndoubleApostrophes(lexem_));
                break;
            case blTRUE:
            case blFALSE:
                node = ValueNode(code_ == blTRUE);
                break;
            case blNULL:
                node = ValueNode(rtl::Null());
                break;
            default:
                IllegalFilter();
        }
        Next();
        return node;
    }

    TData& data_;
    TBoolParser parser_;
    int code_ = lxEnd;
    AnsiString lexem_;
    TExpressionNode* last_ = nullptr;
};

void TData::ParseFilter(const AnsiString& text) {
    FreeFilter();
    if (rtl::Trim(text).empty()) return;
    FilterParse parse(*this, text);
    TExpressionNode* root = parse.Parse();
    lastFilterNode_ = parse.Release();
    filterRoot_ = root;
}

void TData::FreeFilter() {
    FreeNodeChain(lastFilterNode_);
    lastFilterNode_ = nullptr;
    filterRoot_ = nullptr;
}

void TData::SetFilterText(const AnsiString& value) {
    if (value == filterText_) return;
    if (active_) {
        // A text that does not parse leaves the filter in force as it was.
        TExpressionNode* oldRoot = filterRoot_;
        TExpressionNode* oldLast = lastFilterNode_;
        filterRoot_ = lastFilterNode_ = nullptr;
        try {
            ParseFilter(value);
        } catch (...) {
            filterRoot_ = oldRoot;
            lastFilterNode_ = oldLast;
            throw;
        }
        FreeNodeChain(oldLast);
    }
    filterText_ = value;
}

bool TData::IsFiltered() {
    return static_cast<bool>(OnFilterRecord) || filterRoot_ != nullptr || static_cast<bool>(OnLocalFilter);
}

// ---------------------------------------------------------------------------------------------
// Evaluation

namespace {

bool IsTextValue(const rtl::Variant& v) {
    return v.VarType() == rtl::varString || v.VarType() == rtl::varOleStr;
}

bool IsDateField(const TExpressionNode* node) {
    if (node->NodeKind != ntField) return false;
    const TDataType dt = node->FieldDesc->DataType;
    return dt == dtDate || dt == dtTime || dt == dtDateTime;
}

rtl::Variant TextToDate(const rtl::Variant& text) {
    rtl::TDateTime value = 0;
    if (rtl::TryStrToDateTime(text.AsString(), value)) return rtl::Variant::FromDateTime(value);
    return rtl::Variant::FromDateTime(rtl::VarToDateTime(text));
}

void UpperText(rtl::Variant& v) {
    if (v.VarType() == rtl::varString)
        v = LocaleUpperCase(v.AsString());
    else if (v.VarType() == rtl::varOleStr)
        v = rtl::WideUpperCase(v.AsWideString());
}

bool Like(const rtl::Variant& value, const rtl::Variant& pattern) {
    if (value.VarType() == rtl::varOleStr) return MatchLike(value.AsWideString(), rtl::VarToWideStr(pattern));
    return MatchLike(value.AsString(), rtl::VarToStr(pattern));
}

}  // namespace

bool TData::EvalComparison(TExpressionNode* node) {
    rtl::Assert(node->FirstOperand && node->SecondOperand, "MemData: comparison without operands");
    auto valueOf = [this](TExpressionNode* operand) {
        rtl::Variant v;
        if (operand->NodeKind == ntField)
            GetFieldAsVariant(operand->FieldDesc->FieldNo, FilterRecBuf, v);
        else
            v = operand->Value;
        return v;
    };
    rtl::Variant left = valueOf(node->FirstOperand);
    rtl::Variant right = valueOf(node->SecondOperand);
    if (IsDateField(node->FirstOperand) && IsTextValue(right)) right = TextToDate(right);
    if (IsDateField(node->SecondOperand) && IsTextValue(left)) left = TextToDate(left);
    if (FilterCaseInsensitive) {
        UpperText(left);
        UpperText(right);
    }
    switch (node->NodeKind) {
        case ntEqual:
        case ntLike:
        case ntNotEqual:
        case ntNotLike: {
            bool equal;
            // Null is equal only to Null; it is never a pattern.
            if (left.IsNull() || right.IsNull())
                equal = left.IsNull() && right.IsNull();
            else if (FilterNoPartialCompare || !IsTextValue(left))
                equal = left == right;
            else
                equal = Like(left, right);
            return (node->NodeKind == ntEqual || node->NodeKind == ntLike) ? equal : !equal;
        }
        default:
            break;
    }
    if (left.IsNull() || right.IsNull()) return false;
    switch (node->NodeKind) {
        case ntGreater:
            return left > right;
        case ntLess:
            return left < right;
        case ntGreaterEqual:
            return left >= right;
        default:
            return left <= right;
    }
}

bool TData::EvalFilter(TExpressionNode* node) {
    rtl::Assert(node != nullptr, "MemData: filter node is nil");
    switch (node->NodeKind) {
        case ntEqual:
        case ntGreater:
        case ntLess:
        case ntGreaterEqual:
        case ntLessEqual:
        case ntNotEqual:
        case ntLike:
        case ntNotLike:
            return EvalComparison(node);
        case ntAnd:
            return EvalFilter(node->FirstOperand) && EvalFilter(node->SecondOperand);
        case ntOr:
            return EvalFilter(node->FirstOperand) || EvalFilter(node->SecondOperand);
        case ntNot:
            return !EvalFilter(node->FirstOperand);
        case ntTrue:
            return true;
        case ntFalse:
            return false;
        default:
            rtl::Assert(false, "MemData: unknown filter node " + rtl::IntToStr(node->NodeKind));
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Row verdicts of the record list

bool TMemData::IsFilteredOut(PItemHeader item) {
    if (!item) return true;
    const uint8_t verdict = ItemHeader::FilterResult(item);
    if (verdict == frVisible) return false;
    if (verdict == frHidden) return true;
    void* rec = ItemRecord(item);
    FilterRecBuf = rec;
    bool visible = true;
    if (CachedUpdates && !(filterItemTypes_ & ItemTypeBit(ItemHeader::Status(item)))) {
        visible = false;
    } else if (IsFiltered()) {
        // Calculated values the filter may read live in a copy with the calculated area.
        void* copy = nullptr;
        if (calcRecordSize_ > 0) {
            copy = std::calloc(static_cast<size_t>(recordSize_ + calcRecordSize_), 1);
            if (!copy) throw rtl::EOutOfMemory("Out of memory");
            std::memcpy(copy, rec, static_cast<size_t>(recordSize_));
            FilterRecBuf = copy;
        }
        try {
            if (copy && OnCalcFields) OnCalcFields(copy, nullptr);
            visible = (!OnFilterRecord || OnFilterRecord(FilterRecBuf)) &&
                      (!OnLocalFilter || OnLocalFilter(FilterRecBuf)) &&
                      (!FilterRoot() || EvalFilter(FilterRoot()));
        } catch (...) {
            std::free(copy);
            FilterRecBuf = nullptr;
            throw;
        }
        std::free(copy);
    }
    FilterRecBuf = nullptr;
    ItemHeader::SetFilterResult(item, visible ? frVisible : frHidden);
    return !visible;
}

void TMemData::ForgetVerdicts() {
    for (PItemHeader i = FirstItem; i; i = ItemHeader::Next(i)) ItemHeader::SetFilterResult(i, frUnknown);
}

void TMemData::FilterUpdated() {
    ForgetVerdicts();
    RenumberItems(nullptr, 2);
    eof_ = recordCount_ == 0;
}

void TMemData::SetFilterItemTypes(uint8_t value) {
    if (value == filterItemTypes_) return;
    filterItemTypes_ = value;
    ForgetVerdicts();
    RenumberItems(nullptr, 2);
    eof_ = recordCount_ == 0;
}

}  // namespace dac
