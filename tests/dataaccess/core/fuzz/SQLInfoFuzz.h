// The SQL analysis step shared by the lexer fuzz targets: table and column lists, object names.
#pragma once

#include <string>

#include "dataaccess/core/CRAccess.h"
#include "platform/rtl/Exceptions.h"

namespace dac {

// Runs the analysis of text with parsers of parserClass; only the analysis's own errors may
// come out of it, and those are swallowed.
inline void FuzzSQLInfo(TSQLInfo& info, TSQLParserClass parserClass, const std::string& text, bool quoteNames,
                        bool unQuoteNames) {
    info.SetCommand(nullptr, parserClass);
    try {
        TCRTablesInfo tables;
        info.ParseTablesInfo(text, tables);
        TColumnsInfo columns;
        info.ParseColumnsInfo(text, columns);
    } catch (const rtl::Exception&) {
    }
    TSQLObjectInfo parts;
    info.SplitObjectName(text, parts);
    (void)info.NormalizeName(text, quoteNames, unQuoteNames);
}

}  // namespace dac
