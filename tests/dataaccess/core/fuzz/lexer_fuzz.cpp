// Generic and SQL lexers over text and over streams, the SQL analysis on top: no input may crash
// or hang them; text the lexer cannot read raises its error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dataaccess/core/CLRClasses.h"
#include "dataaccess/core/CRAccess.h"
#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/dataaccess/core/fuzz/SQLInfoFuzz.h"

namespace {

using namespace dac;

void Drain(TParser& p, uint8_t flags) {
    p.SkipBlanks = flags & 1;
    p.SkipComments = flags & 2;
    p.KeepQuotes = flags & 4;
    p.AltQuoting = flags & 8;
    p.UpperKeywords = flags & 16;
    p.DecimalChar = (flags & 32) ? "," : ".";
    p.ToBegin();
    std::string lexem;
    try {
        while (p.GetNext(lexem) != lxEnd) {
            (void)p.ScanStartPos();
            (void)p.PrevCol();
        }
    } catch (const rtl::Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    TParser generic(text);
    Drain(generic, flags);
    TSQLParser sql(text);
    Drain(sql, flags);
    sql.ToBegin();
    try {
        while (sql.ToLexem(":")) {
            std::string lexem;
            sql.GetNext(lexem);
        }
    } catch (const rtl::Exception&) {
    }

    rtl::TMemoryStream stream;
    stream.Write(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(flags & 64 ? text.size() / 3 : 0);
    TSQLParser fromStream(&stream, (flags & 128) ? Encoding::Unicode() : nullptr);
    Drain(fromStream, flags);

    TSQLInfo info;
    FuzzSQLInfo(info, CreateParserOf<TSQLParser>, text, flags & 1, flags & 2);
    return 0;
}
