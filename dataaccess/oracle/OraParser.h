// The Oracle SQL lexer: the SQL lexer with the Oracle vocabulary, q-quoted literals and
// tracking of wrapped PL/SQL source.
#pragma once

#include "dataaccess/core/CRParser.h"

namespace dac {

// Oracle keyword codes used outside the lexer.
inline constexpr int lxALTER = 1000;
inline constexpr int lxCONNECT = 1002;
inline constexpr int lxCREATE = 1003;
inline constexpr int lxDECLARE = 1004;
inline constexpr int lxPARTITION = 1013;
inline constexpr int lxSTART = 1021;
inline constexpr int lxTRIGGER = 1022;
inline constexpr int lxWITH = 1026;
inline constexpr int lxWRAPPED = 1027;

// The SQL keywords plus the Oracle words, shared by every Oracle lexer. A word in both lists
// (END) keeps its SQL code.
const TLexemList& OraKeywordLexems();

class TOraParser : public TSQLParser {
public:
    explicit TOraParser(const AnsiString& text);
    TOraParser(rtl::TStream* stream, Encoding* encoding);

    // True between the word WRAPPED and a "/" in the first column of a later line.
    bool InWrappedBlock = false;

    int GetNext(AnsiString& lexem) override;
    bool IsMacroAllowed(int code) const override;
    bool IsNumericMacroNameAllowed() const override;
    bool IsFunctionOrConst(const AnsiString& lexem) const override;
    bool IsQuasiColumn(const AnsiString& lexem) const override;

protected:
    void InitParser() override;
};

}  // namespace dac
