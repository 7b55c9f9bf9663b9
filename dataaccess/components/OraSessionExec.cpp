// The session's metadata classes and the compilation-error listing of a stored unit.
#include <memory>

#include "dataaccess/components/Ora.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// The server reads the listing in this block: one entry per error, the line and position padded
// to 8 characters (left out when both are 0), then every line of the message left-trimmed and
// ended by a carriage return, continuation lines indented by 10 blanks.
const char* const kCompileErrorsBlock =
    "declare\rCURSOR Cur IS\rSELECT Line,Position,Text\rFROM All_Errors\rWHERE Name = :Name and Type = "
    ":Type\rORDER BY Sequence;\rRec User_Errors%ROWTYPE;\rStartPos INTEGER;\rEndPos INTEGER;\rbegin\r:Res := "
    "'';\rfor Rec in Cur loop\rif Rec.Line <> 0 or Rec.Position <> 0 then\r:Res := :Res || RPad(Rec.Line || "
    "'/' || Rec.Position, 8);\rend if;\rStartPos := 1;\rEndPos := 1;\rwhile EndPos > 0 and StartPos <= "
    "Length(Rec.Text) loop\rEndPos := InStr(Rec.Text, Chr(10), StartPos);\rif EndPos > 0 then\rif EndPos <> "
    "StartPos then\rif StartPos > 1 then\r:Res := :Res || RPad(' ', 10);\rend if;\r:Res := :Res || "
    "LTrim(SubStr(Rec.Text, StartPos, EndPos - StartPos)) || Chr(13);\rend if;\relse\rif StartPos > 1 "
    "then\r:Res := :Res || RPad(' ', 10);\rend if;\r:Res := :Res || LTrim(SubStr(Rec.Text, StartPos)) || "
    "Chr(13);\rend if;\rStartPos := EndPos + 1;\rend loop;\rend loop;\rend;";

// The longest text a PL/SQL block gives back through a bind.
constexpr int kMaxPlSqlString = 32767;

// The next lexem that is neither blank nor comment; empty at the end.
AnsiString NextWord(TOraParser& parser) {
    AnsiString lexem;
    if (parser.GetNext(lexem) == lxEnd) return AnsiString();
    return lexem;
}

// Restores the SQL component's Debug flag when the scope ends.
class DebugOff {
public:
    explicit DebugOff(TCustomDASQL* sql) : sql_(sql), saved_(sql->Debug) { sql->Debug = false; }
    ~DebugOff() { sql_->Debug = saved_; }
    DebugOff(const DebugOff&) = delete;
    DebugOff& operator=(const DebugOff&) = delete;

private:
    TCustomDASQL* sql_;
    bool saved_;
};

}  // namespace

rtl::TClassOf<TCRMetaData> TOraSession::GetMetaDataClass() {
    return rtl::TClassOf<TCRMetaData>::Of<TOCIMetaData>();
}

TDAMetaData* TOraSession::CreateMetaData() {
    auto* meta = new TOraMetaData(nullptr);
    meta->SetSession(this);
    return meta;
}

void TOraSession::GetCompileErrors(const AnsiString& sql, AnsiString& text) {
    // A statement of the session's own that failed to compile is still on its SQL component: the
    // listing is then read through a component of its own.
    std::unique_ptr<TOraSQL> spare;
    TCustomDASQL* internal = CheckInternalSQL();
    if (internalSQLBusy_) {
        spare = std::make_unique<TOraSQL>();
        spare->SetSession(this);
        internal = spare.get();
    }
    DebugOff debugOff(internal);

    TOraParser parser(sql);
    parser.SkipComments = true;
    parser.KeepQuotes = true;
    AnsiString word = rtl::UpperCase(NextWord(parser));
    if (word == "CREATE") {
        word = rtl::UpperCase(NextWord(parser));
        if (word == "OR") {
            if (rtl::UpperCase(NextWord(parser)) != "REPLACE") return;
            word = rtl::UpperCase(NextWord(parser));
        }
        if (word == "FORCE") word = rtl::UpperCase(NextWord(parser));
    } else if (word == "ALTER") {
        word = rtl::UpperCase(NextWord(parser));
    } else {
        return;
    }
    if (word != "FUNCTION" && word != "PACKAGE" && word != "PROCEDURE" && word != "TRIGGER" &&
        word != "TYPE" && word != "VIEW")
        return;
    AnsiString type = word;
    AnsiString name = NextWord(parser);
    if (type == "PACKAGE" && rtl::UpperCase(name) == "BODY") {
        type = "PACKAGE BODY";
        name = NextWord(parser);
    }
    AnsiString after = NextWord(parser);
    if (after == ".") name = NextWord(parser);
    name = OCISQLInfo().NormalizeName(name, false, true);

    const bool wasBusy = internalSQLBusy_;
    internalSQLBusy_ = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{internalSQLBusy_, wasBusy};
    internal->SQL().Clear();
    internal->SQL().SetText(kCompileErrorsBlock);
    TDAParam* res = internal->ParamByName("Res");
    res->SetDataType(db::ftString);
    res->SetParamType(db::ptInputOutput);
    res->SetValue(AnsiString());
    // A unit with many errors has a listing beyond the default string size: room for what PL/SQL
    // can hand back.
    res->SetSize(kMaxPlSqlString);
    TDAParam* nameParam = internal->ParamByName("Name");
    nameParam->SetDataType(db::ftString);
    nameParam->SetParamType(db::ptInput);
    nameParam->SetValue(name);
    TDAParam* typeParam = internal->ParamByName("Type");
    typeParam->SetDataType(db::ftString);
    typeParam->SetParamType(db::ptInput);
    typeParam->SetValue(type);
    internal->Execute();
    text = rtl::VarToStr(internal->ParamByName("Res")->Value());
    if (text.empty()) text = "No errors";
}

}  // namespace dac
