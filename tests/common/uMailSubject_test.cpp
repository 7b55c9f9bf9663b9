#include "common/uMailSubject.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "common/EnDeCrypt.h"
#include "platform/rtl/DateTime.h"

using namespace svc;

namespace {

const rtl::TDateTime kSendTime = rtl::EncodeDateTime(2024, 12, 31, 23, 59, 59, 0);

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST(SignedSubject, LayoutOfAnExportSubject) {
    const std::string subject = BuildSignedSubject("QelExport", 7, 3, kSendTime, "!@#$%");
    ASSERT_EQ(subject.size(), 9u + 44u + 32u);
    EXPECT_EQ(subject.substr(0, 15), "QelExport000703");
    EXPECT_EQ(Unhex(subject.substr(15, 38)), "20241231235959!@#$%");
    const std::string stampAndDigest = subject.substr(15);
    for (char c : stampAndDigest) EXPECT_TRUE(std::isdigit(c) || (c >= 'a' && c <= 'f')) << subject;
    EXPECT_EQ(subject.substr(53), TEnDeCrypt::GetKeyedDigest(subject.substr(0, 53), "KPmw7D\xFE\xE6r3"));
}

TEST(SignedSubject, FreshSubjectsDifferOnlyInTheirRandomCharacters) {
    std::string a, b;
    // Retried when the clock's second turns between the two.
    for (int i = 0; i < 3; ++i) {
        a = BuildSignedSubject("WebExport", 12, 1);
        b = BuildSignedSubject("WebExport", 12, 1);
        if (a.substr(0, 15 + 28) == b.substr(0, 15 + 28)) break;
    }
    EXPECT_EQ(a.substr(0, 15 + 28), b.substr(0, 15 + 28));
    EXPECT_NE(a.substr(15 + 28, 10), b.substr(15 + 28, 10));
    const std::string random = Unhex(a.substr(15 + 28, 10));
    for (char c : random)
        EXPECT_NE(std::string("abcdefghijklmnopqrstuvwxyz!@#$%^&*()_+=-|\\/?.,<>{}[]:;").find(c),
                  std::string::npos)
            << random;
    EXPECT_TRUE(CheckSignedSubject(a, "WebExport"));
}

TEST(SignedSubject, CheckAcceptsTheMadeSubjectInEitherCaseOfItsSignature) {
    const std::string subject = BuildSignedSubject("WebExport", 1234, 56, kSendTime, "abcde");
    EXPECT_TRUE(CheckSignedSubject(subject, "WebExport"));
    std::string upper = subject;
    for (std::size_t i = 53; i < upper.size(); ++i) upper[i] = char(std::toupper(upper[i]));
    EXPECT_TRUE(CheckSignedSubject(upper, "WebExport"));
    // Text after the signature is not looked at.
    EXPECT_TRUE(CheckSignedSubject(subject + " (2)", "WebExport"));
}

TEST(SignedSubject, AnyChangedCharacterBreaksTheSignature) {
    const std::string subject = BuildSignedSubject("WebExport", 1234, 56, kSendTime, "abcde");
    for (std::size_t i = 0; i < 9 + 44 + 32; ++i) {
        std::string changed = subject;
        changed[i] = changed[i] == '0' ? '1' : '0';
        EXPECT_FALSE(CheckSignedSubject(changed, "WebExport")) << "position " << i;
    }
}

TEST(SignedSubject, CheckRefusesTheExportsOwnLettersAndOtherPrefixesEvenWithAValidDigest) {
    // Before, the prefix only placed the signature: "QelExport" letters passed a "WebExport" check.
    const std::string exportSubject = BuildSignedSubject("QelExport", 7, 3, kSendTime, "!@#$%");
    EXPECT_FALSE(CheckSignedSubject(exportSubject, "WebExport"));
    EXPECT_TRUE(CheckSignedSubject(exportSubject, "QelExport"));
    EXPECT_FALSE(CheckSignedSubject(BuildSignedSubject("webexport", 7, 3, kSendTime, "!@#$%"), "WebExport"));
}

TEST(SignedSubject, CheckRefusesShortAndForeignSubjects) {
    const std::string subject = BuildSignedSubject("WebExport", 7, 3, kSendTime, "!@#$%");
    const std::string cases[] = {
        "",
        "WebExport",
        subject.substr(0, subject.size() - 1),
        "Re: " + subject,
        "Hello",
        // The body signed with another key.
        subject.substr(0, 53) + TEnDeCrypt::GetKeyedDigest(subject.substr(0, 53), "another key"),
    };
    for (const auto& c : cases) EXPECT_FALSE(CheckSignedSubject(c, "WebExport")) << c;
}

}  // namespace
