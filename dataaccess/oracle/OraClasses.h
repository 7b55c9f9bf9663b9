// The Oracle driver's classes.
//
// Text routines: connect strings, Oracle object names, precision options, the server banner and
// the text forms of ROWIDs; and TOCISQLInfo, the Oracle SQL dialect.
#pragma once

#include <cstdint>
#include <string>

#include "dataaccess/core/CRAccess.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;

// ---------------------------------------------------------------------------------------------
// Connect strings and names

enum TConnectMode { cmNormal, cmSysOper, cmSysDBA, cmSysASM };

// Reads "user/password@server [AS SYSDBA|SYSOPER|SYSASM]". An unknown privilege after AS
// raises Exception "Invalid connect string".
void ParseConnectString(const AnsiString& text, AnsiString& userName, AnsiString& password,
                        AnsiString& server, TConnectMode& connectMode);

// Every dot-separated part in double quotes as it is: a.b gives "a"."b".
AnsiString QuoteObjectName(const AnsiString& name);
// At least two characters, the first and the last a double quote.
bool IsQuotedName(const AnsiString& name);
// Every part trimmed; an unquoted part upper-cased and quoted; joined with ".".
AnsiString NormalizeObjectName(const AnsiString& name);

// "p,s" or "p" (scale 0); a part that is no integer raises EConvertError.
void ParsePrecision(const AnsiString& text, int& precision, int& scale);

// The version number in a server banner ("... Release 10.2.0.1.0 - Production" gives
// 10.2.0.1.0); empty when there is none.
AnsiString ParseServerVersion(const AnsiString& banner);

// The locale's long time format, read once at first use.
const AnsiString& OraLocalTimeFormat();

// ---------------------------------------------------------------------------------------------
// ROWID texts

struct TRowIdNumbers {
    uint32_t ObjectNumber = 0;  // data object number; 0 for a restricted ROWID
    uint16_t FileNumber = 0;    // relative file number
    uint32_t BlockNumber = 0;
    uint16_t RowNumber = 0;
};

// 18 characters over A-Z a-z 0-9 + /: object 6, file 3, block 6, row 3.
AnsiString RowIdToExtendedString(const TRowIdNumbers& rowId);
// BBBBBBBB.RRRR.FFFF in upper-case hex.
AnsiString RowIdToRestrictedString(const TRowIdNumbers& rowId);
// Extended form, or restricted when the data object number is 0.
AnsiString RowIdToString(const TRowIdNumbers& rowId);
// "*" and the bytes after the kind byte, 6 bits per character, the last character filled with
// zero bits.
AnsiString URowIdToUniversalString(const uint8_t* bytes, size_t size);
// A universal ROWID (kind byte 2) in its universal form; any other kind as extended or
// restricted text from the bytes after the kind byte: object number (4 bytes), file number (2),
// block number (4) and row number (2), most significant byte first.
AnsiString URowIdToString(const rtl::TBytes& bytes);

// ---------------------------------------------------------------------------------------------
// Oracle SQL dialect: upper-case names, database links after "@", the Oracle lexer.

class TOCISQLInfo : public TSQLInfo {
public:
    int IdentCase() const override { return 0; }
    using TSQLInfo::NormalizeName;
    AnsiString NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                             bool unQuoteNames) const override;
    void SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const override;
    void ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables) override;
};

// The process-wide Oracle dialect object used to quote, unquote and normalise names.
TOCISQLInfo& OCISQLInfo();

}  // namespace dac
