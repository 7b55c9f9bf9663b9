// The web side's request packages, made here so that the import service can be fed without the
// portal: a list of requests in a small text form becomes the package file the import reads
// from its folder or mailbox.
//
// Requests text (UTF-8), one request a line:
//
//     # a comment; blank lines are skipped
//     RECHARGE Id=1 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=250.5 ...
//     BLOCK_CARD Id=7 ... Comment="lost at the station \"North\""
//
// The first word is the item element (RECHARGE, DEBIT, CHANGE_LIMIT, ...), the rest are its
// fields as Name=Value; a value with blanks is quoted, with \" and \\ inside. Consecutive
// requests of one kind go into one list element (the item name + "_LIST"), so the document keeps
// the order of the input.
//
// Package: ZuvWebExport_IIIIIBB_YYYYMMDDHHNNSSZZZ.zip (issuer 5 digits, branch 2, the creation
// time), an archive protected with the import's archive password holding one XML file named
// after the first 38 characters of the package name; encrypted for the import's public key it
// is the .dat of the same name instead.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace svc {

// Bad requests text or options; the message names the line at fault.
RTL_EXCEPTION_CLASS(EWebPackageError, rtl::Exception);

inline constexpr const char* WebPackagePrefix = "ZuvWebExport_";
// The password of the package archives; the import unpacks with it.
inline constexpr const char* WebArchivePassword = "KAR_TIM_LOW";
// The container whose context encrypts the web side's packages (the key pair is the import's).
inline constexpr const char* WebSenderContainer = "ZUV_WEB_EXPORT";

struct TWebRequest {
    std::string Item;                                         // item element name
    std::vector<std::pair<std::string, std::string>> Fields;  // name, UTF-8 value
    int Line = 0;                                             // line of the requests text
};

// Reads the requests text; raises EWebPackageError naming the line: an unknown item, a field
// given twice, a value that is not valid UTF-8 or an unterminated quote.
std::vector<TWebRequest> ParseWebRequests(std::string_view text);

// Reads every request as the import's request objects do; raises EWebPackageError naming the
// line and the import's own message when one would fail there.
void CheckWebRequests(const std::vector<TWebRequest>& requests);

struct TWebPackageHeader {
    int Issuer = 0;          // 0..99999
    int Branch = 0;          // 0..99
    rtl::TDateTime Created;  // the creation time, to the millisecond
    std::string PackageId;   // 38 characters, "{GUID}"
    std::string Version;     // the service version the import accepts
};

// "ZuvWebExport_" + issuer + branch + "_" + time: the 38 characters that name the package and
// its XML file. Raises EWebPackageError when issuer or branch do not fit their digits.
std::string WebPackageStem(int issuer, int branch, rtl::TDateTime created);

// The XML document of the package, UTF-8 with CR LF line ends.
std::string WebPackageXml(const TWebPackageHeader& header, const std::vector<TWebRequest>& requests);

// A header for now: a fresh package id and the import's service version.
TWebPackageHeader NewWebPackageHeader(int issuer, int branch);

// Makes the package in folder and returns its path. publicKeyHex: empty for a plain .zip, else
// the import's public key (PUBLICKEYBLOB in hexadecimal, as "zuvcrypt public-key" prints it)
// for a .dat. The package appears whole or not at all; an existing package of the same name is
// never replaced. Raises EWebPackageError (or what the zip and file layers raise).
std::string MakeWebPackage(const TWebPackageHeader& header, const std::vector<TWebRequest>& requests,
                           const std::string& folder, const std::string& publicKeyHex);

}  // namespace svc
