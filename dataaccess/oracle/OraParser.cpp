#include "dataaccess/oracle/OraParser.h"

namespace dac {

const TLexemList& OraKeywordLexems() {
    static const TLexemList table = [] {
        TLexemList list;
        const TLexemList& sql = SQLKeywords();
        for (int i = 0; i < sql.Count(); ++i) list.Add(sql.Strings(i), sql.Codes(i));
        static const std::pair<const char*, int> oracle[] = {
            {"ALTER", 1000},    {"BODY", 1001},      {"CONNECT", 1002},    {"CREATE", 1003},
            {"DECLARE", 1004},  {"DEFINE", 1005},    {"DISCONNECT", 1006}, {"END", 1007},
            {"EXIT", 1008},     {"EXPLAIN", 1009},   {"FUNCTION", 1010},   {"JAVA", 1011},
            {"PACKAGE", 1012},  {"PARTITION", 1013}, {"PAUSE", 1014},      {"PROCEDURE", 1015},
            {"PROMPT", 1016},   {"QUIT", 1017},      {"REM", 1018},        {"REMARK", 1019},
            {"REPLACE", 1020},  {"START", 1021},     {"TRIGGER", 1022},    {"TYPE", 1023},
            {"UNDEFINE", 1024}, {"WITH", 1026},      {"WRAPPED", 1027}};
        for (const auto& [word, code] : oracle) list.Add(word, code);
        list.Sort();
        return list;
    }();
    return table;
}

TOraParser::TOraParser(const AnsiString& text) : TSQLParser(text) {
    InitParser();
}

TOraParser::TOraParser(rtl::TStream* stream, Encoding* encoding) : TSQLParser(stream, encoding) {
    InitParser();
}

void TOraParser::InitParser() {
    TSQLParser::InitParser();
    keywords_ = &OraKeywordLexems();
    CommentBegin = "/*";
    CommentEnd = "*/";
    AltQuoting = true;
    ClauseOrder = {144, 1021, 1002, 114, 115, 142, 118, 125, 131, 111};
}

int TOraParser::GetNext(AnsiString& lexem) {
    const int code = TSQLParser::GetNext(lexem);
    if (code == lxWRAPPED)
        InWrappedBlock = true;
    else if (InWrappedBlock && lexem == "/" && LexemCol() == 0)
        InWrappedBlock = false;
    return code;
}

bool TOraParser::IsMacroAllowed(int code) const {
    return !InWrappedBlock && TSQLParser::IsMacroAllowed(code);
}

bool TOraParser::IsNumericMacroNameAllowed() const {
    return true;
}

bool TOraParser::IsFunctionOrConst(const AnsiString& lexem) const {
    return TSQLParser::IsFunctionOrConst(lexem) || lexem == "SYSDATE" || lexem == "USER" || lexem == "UID";
}

bool TOraParser::IsQuasiColumn(const AnsiString& lexem) const {
    return lexem == "ROWID";
}

}  // namespace dac
