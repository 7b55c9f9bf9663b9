// Making and checking the signed subject of the exchange letters.
#include "common/uMailSubject.h"

#include <cstdio>

#include "common/EnDeCrypt.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace svc {

std::string SubjectStamp(rtl::TDateTime sendTime, const std::string& randomChars) {
    const std::string stamp = rtl::FormatDateTime("yyyymmddhhnnss", sendTime) + randomChars;
    return rtl::LowerCase(rtl::BinToHex(stamp.data(), stamp.size()));
}

std::string SubjectSignature(const std::string& body) {
    return TEnDeCrypt::GetKeyedDigest(body, kSubjectKey);
}

std::string BuildSignedSubject(const std::string& prefix, int issuerId, int branchId, rtl::TDateTime sendTime,
                               const std::string& randomChars) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, "%.4d%.2d", issuerId, branchId);
    const std::string body = prefix + numbers + SubjectStamp(sendTime, randomChars);
    return body + SubjectSignature(body);
}

std::string BuildSignedSubject(const std::string& prefix, int issuerId, int branchId) {
    std::string random;
    GenerateRandomString(5, false, false, true, random);
    return BuildSignedSubject(prefix, issuerId, branchId, rtl::Now(), random);
}

bool CheckSignedSubject(const std::string& subject, const std::string& prefix) {
    const std::size_t bodyLength = prefix.size() + kSubjectBodyAfterPrefix;
    if (subject.size() < bodyLength + kSubjectSignatureLength) return false;
    if (subject.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string body = subject.substr(0, bodyLength);
    const std::string signature = subject.substr(bodyLength, kSubjectSignatureLength);
    return rtl::LowerCase(signature) == SubjectSignature(body);
}

}  // namespace svc
