// The signed subject of the exchange letters: both sides sign their package letters with it and
// the import side accepts only letters whose signature it can recompute.
//
// Layout (bytes of the ANSI text, code page 1251):
//   prefix | issuer (4 digits) | branch (2 digits) | stamp (38) | signature (32)
//   stamp     = lower-case hex of the send time as "YYYYMMDDHHMMSS" followed by 5 random characters
//   signature = lower-case hex MD5 of everything before it followed by the subject key
#pragma once

#include <cstddef>
#include <string>

#include "platform/rtl/Types.h"

namespace svc {

// The subject key, "KPmw7Dюжr3" in code page 1251; the same in both services.
inline constexpr const char* kSubjectKey = "KPmw7D\xFE\xE6r3";

inline constexpr std::size_t kSubjectStampChars = 19;  // time (14) and random characters (5)
inline constexpr std::size_t kSubjectBodyAfterPrefix = 4 + 2 + 2 * kSubjectStampChars;  // 44
inline constexpr std::size_t kSubjectSignatureLength = 32;

// The 38 hex digits of a stamp: the time as "YYYYMMDDHHMMSS" and the given characters.
std::string SubjectStamp(rtl::TDateTime sendTime, const std::string& randomChars);

// The keyed digest that signs a subject's body.
std::string SubjectSignature(const std::string& body);

// prefix + issuer ("%.4d") + branch ("%.2d") + stamp + signature.
std::string BuildSignedSubject(const std::string& prefix, int issuerId, int branchId, rtl::TDateTime sendTime,
                               const std::string& randomChars);
// The same with the current time and five fresh random characters.
std::string BuildSignedSubject(const std::string& prefix, int issuerId, int branchId);

// True when the subject starts with the prefix and the 32 characters after prefix + 44
// characters are the signature of what stands before them (compared without regard to case).
// Characters after the signature are not looked at.
bool CheckSignedSubject(const std::string& subject, const std::string& prefix);

}  // namespace svc
