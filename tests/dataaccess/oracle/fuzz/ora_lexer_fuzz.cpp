// The Oracle lexer, the Oracle SQL analysis and the connect-string and name routines: no input
// may crash or hang them; only their own errors may come out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraParser.h"
#include "platform/rtl/Exceptions.h"
#include "tests/dataaccess/core/fuzz/SQLInfoFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace dac;
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    TOraParser p(text);
    p.SkipBlanks = flags & 1;
    p.SkipComments = flags & 2;
    p.KeepQuotes = flags & 4;
    p.ToBegin();
    std::string lexem;
    try {
        while (p.GetNext(lexem) != lxEnd) (void)p.IsMacroAllowed(lxIdent);
    } catch (const rtl::Exception&) {
    }

    TOCISQLInfo info;
    FuzzSQLInfo(info, CreateParserOf<TOraParser>, text, flags & 8, flags & 16);

    AnsiString user, password, server;
    TConnectMode mode;
    try {
        ParseConnectString(text, user, password, server, mode);
    } catch (const rtl::Exception&) {
    }
    (void)NormalizeObjectName(text);
    (void)QuoteObjectName(text);
    (void)ParseServerVersion(text);
    try {
        int precision, scale;
        ParsePrecision(text, precision, scale);
    } catch (const rtl::EConvertError&) {
    }
    (void)URowIdToString(rtl::TBytes(data, data + size));
    return 0;
}
