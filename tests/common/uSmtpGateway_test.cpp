// Letters, their MIME form and the dialogue journal of the mail gateway.
#include "common/uSmtpGateway.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/rtl/Exceptions.h"

namespace fs = std::filesystem;
using svc::TLetter;
using svc::TMailComposer;
using svc::TSmtpDialogue;

namespace {

struct Journal {
    std::vector<std::pair<std::string, bool>> lines;
    svc::TLogEvent Callback() {
        return [this](const std::string& text, bool important) { lines.emplace_back(text, important); };
    }
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "smtp_test_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name, const std::string& content) const {
        std::string path = (path_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string Bytes(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

std::string Base64Decode(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\r' && c != '\n') clean += c;
    std::string out(clean.size() / 4 * 3 + 3, '\0');
    int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(clean.data()), static_cast<int>(clean.size()));
    EXPECT_GE(n, 0) << "bad base64";
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    std::size_t padding = 0;
    if (!clean.empty() && clean.back() == '=') ++padding;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++padding;
    out.resize(out.size() - padding);
    return out;
}

std::string QuotedPrintableDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
        } else if (text[i] == '=' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A minimal reader of the composed message: top-level headers and the parts of the
// multipart body, each with its headers and raw content.
struct Part {
    std::vector<std::string> headerLines;
    std::string content;
    std::string Header(const std::string& name) const {
        for (const auto& line : headerLines)
            if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
        return std::string();
    }
};

Part SplitHead(const std::string& text) {
    Part part;
    std::size_t end = text.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << "no blank line after the headers";
    std::string head = text.substr(0, end);
    part.content = text.substr(end + 4);
    std::size_t pos = 0;
    while (pos <= head.size()) {
        std::size_t eol = head.find("\r\n", pos);
        std::string line = head.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t'))
            part.headerLines.back() += "\r\n" + line;
        else
            part.headerLines.push_back(line);
        if (eol == std::string::npos) break;
        pos = eol + 2;
    }
    return part;
}

struct Message {
    Part top;
    std::vector<Part> parts;
};

Message Parse(const std::string& text, const std::string& boundary) {
    Message m;
    m.top = SplitHead(text);
    const std::string& body = m.top.content;
    std::string delimiter = "--" + boundary;
    EXPECT_EQ(body.rfind(delimiter, 0), 0u) << "the body must open with the first boundary";
    std::size_t pos = delimiter.size() + 2;
    while (true) {
        std::size_t next = body.find("\r\n" + delimiter, pos);
        if (next == std::string::npos) {
            ADD_FAILURE() << "unterminated part";
            break;
        }
        m.parts.push_back(SplitHead(body.substr(pos, next - pos)));
        pos = next + 2 + delimiter.size();
        if (body.compare(pos, 4, "--\r\n") == 0) {
            EXPECT_EQ(pos + 4, body.size()) << "text after the closing boundary";
            break;
        }
        EXPECT_EQ(body.compare(pos, 2, "\r\n"), 0);
        pos += 2;
    }
    return m;
}

void ExpectCrLfOnly(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
        if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

const std::string kSignedSubject = "QelExport000703" +
                                   std::string("3230323431323331323335393539414243444540") +
                                   "0123456789abcdef0123456789abcdef";

}  // namespace

// ---- TLetter --------------------------------------------------------------------------------

TEST(Letter, StartsEmptyWithTheDefaultFormats) {
    TLetter letter;
    EXPECT_TRUE(letter.Attachments().empty());
    EXPECT_TRUE(letter.Body().empty());
    EXPECT_EQ(letter.ErrorCode(), 0);
    EXPECT_EQ(letter.ErrorMessage(), "");
    EXPECT_EQ(letter.ErrorFormat(), "Error: %1s");
    EXPECT_EQ(letter.SuccessFormat(), "The message has been sent to \"%s\".");
}

TEST(Letter, AddAttachmentKeepsExistingFilesAndReportsMissingOnes) {
    TempDir dir;
    std::string present = dir.File("a.zip", "x");
    std::string missing = (dir.Path() / "b.zip").string();

    TLetter quiet;  // no log callback yet: a missing file goes unreported
    quiet.AddAttachment(missing);
    quiet.AddAttachment(present);
    EXPECT_EQ(quiet.Attachments(), std::vector<std::string>{present});

    Journal journal;
    TLetter letter;
    letter.SetOnLog(journal.Callback());
    letter.AddAttachment(missing);
    letter.AddAttachment(dir.Path().string());  // a folder is no attachment
    letter.AddAttachment(present);
    EXPECT_EQ(letter.Attachments(), std::vector<std::string>{present});
    ASSERT_EQ(journal.lines.size(), 2u);
    EXPECT_EQ(journal.lines[0].first, "File " + missing + " does not exist");
    EXPECT_TRUE(journal.lines[0].second);
}

TEST(Letter, ReportsFormatTheOutcome) {
    Journal journal;
    TLetter letter;
    letter.SetOnLog(journal.Callback());
    letter.SetRecipient("web@example.org");
    letter.SetErrorMessage("550 Mailbox unavailable");
    letter.ReportSuccess();
    letter.ReportError();
    ASSERT_EQ(journal.lines.size(), 2u);
    EXPECT_EQ(journal.lines[0].first, "The message has been sent to \"web@example.org\".");
    EXPECT_EQ(journal.lines[1].first, "Error: 550 Mailbox unavailable");

    TLetter silent;  // no callback: nothing to call, nothing fails
    EXPECT_NO_THROW(silent.ReportSuccess());
}

TEST(Letter, FormatsApplyWidthPrecisionAndIndex) {
    struct Case {
        std::string format;
        std::string expected;
    };
    const Case cases[] = {
        {"%1s", "ab"},          {"%3s", " ab"},          {"%-4s|", "ab  |"}, {"%.1s", "a"},
        {"%0:s=%0:s", "ab=ab"}, {"100%% %s", "100% ab"}, {"[%s]", "[ab]"},
    };
    for (const auto& c : cases) {
        Journal journal;
        TLetter letter;
        letter.SetOnLog(journal.Callback());
        letter.SetRecipient("ab");
        letter.SetErrorMessage("ab");
        letter.SetSuccessFormat(c.format);
        letter.SetErrorFormat(c.format);
        letter.ReportSuccess();
        letter.ReportError();
        ASSERT_EQ(journal.lines.size(), 2u) << c.format;
        EXPECT_EQ(journal.lines[0].first, c.expected) << c.format;
        EXPECT_EQ(journal.lines[1].first, c.expected) << c.format;
    }
    for (const std::string bad : {"%d", "%s %s", "%", "%5", "%1:s"}) {
        TLetter letter;
        letter.SetSuccessFormat(bad);
        EXPECT_THROW(letter.ReportSuccess(), rtl::EConvertError) << bad;
    }
}

// ---- Addresses ------------------------------------------------------------------------------

TEST(SmtpAddress, TakesTheAddrSpec) {
    const std::pair<std::string, std::string> cases[] = {
        {"robot@example.org", "robot@example.org"},
        {"  robot@example.org \t", "robot@example.org"},
        {"Mail Robot <robot@example.org>", "robot@example.org"},
        {"\"Smith, J <x>\" <j@example.org>", "j@example.org"},
        {"<>", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(svc::SmtpAddress(text), expected) << text;
}

// ---- TMailComposer --------------------------------------------------------------------------

namespace {

struct Composed {
    std::string text;
    Message message;
};

Composed Compose(const TLetter& letter, std::time_t date = 0) {
    TMailComposer composer(letter, date);
    Composed c;
    c.text = composer.ReadAll();
    c.message = Parse(c.text, composer.Boundary());
    return c;
}

}  // namespace

TEST(MailComposer, PackageLetterHasTheExpectedForm) {
    TempDir dir;
    // Sizes around the composer's read block (57 * 64 bytes) and base64's groups of three.
    for (std::size_t size :
         {std::size_t(0), std::size_t(1), std::size_t(56), std::size_t(57), std::size_t(3648),
          std::size_t(3649), std::size_t(3 * 3648), std::size_t(20000)}) {
        SCOPED_TRACE(size);
        std::string content = Bytes(size, static_cast<unsigned>(size));
        std::string path = dir.File("ZuvQelExport_0000701_20240101120000123.zip", content);
        TLetter letter;
        letter.SetFrom("robot@bank.example");
        letter.SetFromName("robot@bank.example");
        letter.SetRecipient("web@portal.example");
        letter.SetSubject(kSignedSubject);
        letter.SetBody({""});
        letter.AddAttachment(path);

        Composed c = Compose(letter);
        ExpectCrLfOnly(c.text);
        const Part& top = c.message.top;
        EXPECT_EQ(top.Header("From"), "robot@bank.example");
        EXPECT_EQ(top.Header("To"), "web@portal.example");
        EXPECT_EQ(top.Header("Subject"), kSignedSubject);  // whole, on one line, not encoded
        EXPECT_EQ(top.Header("MIME-Version"), "1.0");
        EXPECT_EQ(top.Header("X-Mailer"), "");
        EXPECT_EQ(top.Header("Content-Type").rfind("multipart/mixed; boundary=\"", 0), 0u);
        ASSERT_EQ(c.message.parts.size(), 2u);

        const Part& text = c.message.parts[0];
        EXPECT_EQ(text.Header("Content-Type"), "text/plain; charset=\"windows-1251\"");
        EXPECT_EQ(text.Header("Content-Transfer-Encoding"), "7bit");
        EXPECT_EQ(text.content, "\r\n");  // one empty line

        const Part& file = c.message.parts[1];
        const std::string name = "\"ZuvQelExport_0000701_20240101120000123.zip\"";
        EXPECT_EQ(file.Header("Content-Type"), "application/octet-stream; name=" + name);
        EXPECT_EQ(file.Header("Content-Transfer-Encoding"), "base64");
        EXPECT_EQ(file.Header("Content-Disposition"), "attachment; filename=" + name);
        std::size_t pos = 0;
        while (pos < file.content.size()) {
            std::size_t eol = file.content.find("\r\n", pos);
            std::size_t len = (eol == std::string::npos ? file.content.size() : eol) - pos;
            EXPECT_LE(len, 76u);
            pos = eol == std::string::npos ? file.content.size() : eol + 2;
        }
        EXPECT_EQ(Base64Decode(file.content), content);
    }
}

TEST(MailComposer, DateAndMessageIdHeaders) {
    TLetter letter;
    letter.SetSubject("x");
    std::time_t when = 1704110400;  // 2024-01-01 12:00:00 UTC
    Composed c = Compose(letter, when);
    std::string date = c.message.top.Header("Date");
    // "Mon, 01 Jan 2024 hh:mm:ss +hhmm" in the local zone: the weekday and zone form are fixed.
    ASSERT_EQ(date.size(), 31u) << date;
    std::tm t{};
    localtime_r(&when, &t);
    char expected[32];
    std::strftime(expected, sizeof expected, "%d %b %Y %H:%M:%S %z", &t);
    EXPECT_EQ(date.substr(5), expected);
    std::string id = c.message.top.Header("Message-ID");
    EXPECT_EQ(id.front(), '<');
    EXPECT_EQ(id.back(), '>');
    EXPECT_NE(id.find('@'), std::string::npos);
    EXPECT_NE(Compose(letter, when).message.top.Header("Message-ID"), id);
    EXPECT_NE(TMailComposer(letter).Boundary(), TMailComposer(letter).Boundary());
}

TEST(MailComposer, HeadersCannotBeInjectedAndNonAsciiIsEncoded) {
    TLetter letter;
    letter.SetFrom("robot@bank.example");
    letter.SetFromName("\xCE\xF2\xEF\xF0\xE0\xE2\xE8\xF2\xE5\xEB\xFC");  // "Отправитель" in 1251
    letter.SetRecipient("web@portal.example\r\nBcc: victim@example.org");
    letter.SetSubject("\xCF\xE0\xEA\xE5\xF2 1\r\nX-Injected: yes");
    Composed c = Compose(letter);
    for (const auto& line : c.message.top.headerLines) {
        EXPECT_NE(line.rfind("Bcc:", 0), 0u) << line;
        EXPECT_NE(line.rfind("X-Injected:", 0), 0u) << line;
    }
    EXPECT_EQ(c.message.top.Header("To"), "web@portal.example  Bcc: victim@example.org");
    std::string from = c.message.top.Header("From");
    EXPECT_EQ(from, "=?windows-1251?B?" + std::string("zvLv8ODi6PLl6/w=") + "?= <robot@bank.example>");
    std::string subject = c.message.top.Header("Subject");
    EXPECT_EQ(subject.rfind("=?windows-1251?B?", 0), 0u) << subject;
    // The encoded words decode back to the subject with its line break made a blank.
    std::string decoded;
    std::size_t pos = 0;
    while ((pos = subject.find("?B?", pos)) != std::string::npos) {
        std::size_t end = subject.find("?=", pos);
        decoded += Base64Decode(subject.substr(pos + 3, end - pos - 3));
        pos = end;
    }
    EXPECT_EQ(decoded, "\xCF\xE0\xEA\xE5\xF2 1  X-Injected: yes");

    TLetter named;
    named.SetFrom("robot@bank.example");
    named.SetFromName("Robot \"R2\"");
    EXPECT_EQ(Compose(named).message.top.Header("From"), "\"Robot \\\"R2\\\"\" <robot@bank.example>");
}

TEST(MailComposer, BodyNeedingEncodingGoesQuotedPrintable) {
    const std::vector<std::string> body = {
        "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0",  // Cyrillic in 1251
        std::string(200, 'a') + "=" + std::string(100, 'b'),
        "trailing blank ",
        ".",
        "",
    };
    TLetter letter;
    letter.SetBody(body);
    Composed c = Compose(letter);
    const Part& text = c.message.parts.at(0);
    EXPECT_EQ(text.Header("Content-Type"), "text/plain; charset=\"windows-1251\"");
    EXPECT_EQ(text.Header("Content-Transfer-Encoding"), "quoted-printable");
    std::size_t pos = 0;
    while (pos < text.content.size()) {
        std::size_t eol = text.content.find("\r\n", pos);
        if (eol == std::string::npos) eol = text.content.size();
        EXPECT_LE(eol - pos, 76u);
        for (std::size_t i = pos; i < eol; ++i) EXPECT_LT(static_cast<unsigned char>(text.content[i]), 0x80u);
        pos = eol + 2;
    }
    std::string expected;
    for (const auto& line : body) expected += line + "\r\n";
    EXPECT_EQ(QuotedPrintableDecode(text.content), expected);
}

TEST(MailComposer, SeveralAttachmentsAndAMissingOne) {
    TempDir dir;
    std::string a = dir.File("a.bin", Bytes(100, 1));
    std::string b = dir.File("b \"q\".dat", Bytes(5000, 2));
    TLetter letter;
    letter.AddAttachment(a);
    letter.AddAttachment(b);
    Composed c = Compose(letter);
    ASSERT_EQ(c.message.parts.size(), 3u);
    EXPECT_EQ(Base64Decode(c.message.parts[1].content), Bytes(100, 1));
    EXPECT_EQ(Base64Decode(c.message.parts[2].content), Bytes(5000, 2));
    EXPECT_EQ(c.message.parts[2].Header("Content-Disposition"), "attachment; filename=\"b \\\"q\\\".dat\"");

    fs::remove(b);  // gone between queueing and sending
    TMailComposer composer(letter);
    try {
        composer.Open();
        FAIL() << "a missing attachment must fail";
    } catch (const rtl::EFOpenError& e) {
        EXPECT_NE(e.Message().find(b), std::string::npos) << e.Message();
    }
}

// ---- TSmtpDialogue --------------------------------------------------------------------------

TEST(SmtpDialogue, JournalsTheDialogueAndMasksCredentials) {
    struct Step {
        bool out;
        std::string data;
        std::vector<std::string> lines;
    };
    const std::vector<Step> steps = {
        {false, "220 mail.example ESMTP\r\n", {"< 220 mail.example ESMTP"}},
        {true, "EHLO host\r\n", {"> EHLO host"}},
        {false,
         "250-mail.example\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n",
         {"< 250-mail.example", "< 250-AUTH LOGIN PLAIN", "< 250 HELP"}},
        {true, "AUTH LOGIN\r\n", {"> AUTH LOGIN"}},
        {false, "334 VXNlcm5hbWU6\r\n", {"< 334 VXNlcm5hbWU6"}},
        {true, "dXNlcg==\r\n", {"> ****"}},
        {false, "334 UGFzc3dvcmQ6\r\n", {"< 334 UGFzc3dvcmQ6"}},
        {true, "c2VjcmV0\r\n", {"> ****"}},
        {false, "235 2.7.0 Authentication successful\r\n", {"< 235 2.7.0 Authentication successful"}},
        {true, "MAIL FROM:<a@b>\r\n", {"> MAIL FROM:<a@b>"}},
        {false, "250 OK\r\n", {"< 250 OK"}},
    };
    TSmtpDialogue dialogue;
    for (const auto& step : steps) {
        EXPECT_EQ(dialogue.Feed(step.out, step.data.data(), step.data.size()), step.lines) << step.data;
    }
    EXPECT_TRUE(dialogue.MailStarted());
    EXPECT_EQ(dialogue.LastReplyCode(), 250);

    // An initial response on the AUTH line is a credential too.
    TSmtpDialogue plain;
    std::string auth = "AUTH PLAIN AHVzZXIAc2VjcmV0\r\n";
    EXPECT_EQ(plain.Feed(true, auth.data(), auth.size()), std::vector<std::string>{"> AUTH PLAIN ****"});
    std::string ok = "235 ok\r\n", mail = "MAIL FROM:<a@b>\r\n";
    plain.Feed(false, ok.data(), ok.size());
    EXPECT_EQ(plain.Feed(true, mail.data(), mail.size()), std::vector<std::string>{"> MAIL FROM:<a@b>"});
}

TEST(SmtpDialogue, RemembersTheFailingReplyAcrossQuit) {
    TSmtpDialogue dialogue;
    auto feed = [&](bool out, const std::string& s) { dialogue.Feed(out, s.data(), s.size()); };
    feed(true, "MAIL FROM:<a@b>\r\n");
    feed(false, "250 OK\r\n");
    feed(true, "RCPT TO:<reject@x>\r\n");
    feed(false, "550 5.1.1 Mailbox unavailable\r\n");
    feed(true, "QUIT\r\n");
    feed(false, "221 Bye\r\n");
    EXPECT_EQ(dialogue.LastReplyCode(), 550);
    EXPECT_EQ(dialogue.LastReply(), "550 5.1.1 Mailbox unavailable");
    dialogue.Reset();
    EXPECT_FALSE(dialogue.MailStarted());
    EXPECT_EQ(dialogue.LastReplyCode(), 0);
    EXPECT_EQ(dialogue.LastReply(), "");
}
