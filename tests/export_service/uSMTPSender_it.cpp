// The mail road of the export against SMTP servers on 127.0.0.1: the package letter as Python
// reads it (subject checked with hashlib, attachment byte for byte), the move to "Back" and the
// package id handed on for its send date; a server that is down or refuses the recipient leaves
// the package in the outbox, unsent; the sender outlives the letters it started, and a stop with
// a letter in flight ends it within the bound.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "export_service/uSMTPSender.h"
#include "tests/common/SmtpTestServer.h"
#include "tests/platform/os/CryptTestSupport.h"

using smtptest::FaultServer;
using smtptest::ReadFile;
using smtptest::SmtpServer;
using smtptest::TempDir;
using svc::TSMTPSender;

namespace {

const std::string kDataFile = "ZuvQelExport_0000703_20261210101500123.xml";
const std::string kPackageId = "{5F0C1D2E-3A4B-4C5D-8E6F-7A8B9C0D1E2F}";

// Journal lines, from any thread.
class TJournal {
public:
    svc::TLogEvent Callback() {
        return [this](const std::string& text, bool) {
            std::lock_guard<std::mutex> hold(lock_);
            lines_.push_back(text);
        };
    }
    bool Has(const std::string& part) const {
        std::lock_guard<std::mutex> hold(lock_);
        for (const auto& line : lines_)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    std::string Text() const {
        std::lock_guard<std::mutex> hold(lock_);
        std::string text;
        for (const auto& line : lines_) text += line + "\n";
        return text;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

class SenderIT : public ::testing::Test {
protected:
    void SetUp() override {
        smtptest::fs::create_directories(dir_.Path() / "work/Outbox");
        package_ = (dir_.Path() / "work/Outbox/ZuvQelExport_0000703_20261210101500123.zip").string();
        content_ = std::string("PK\x03\x04", 4);
        for (int i = 0; i < 60000; ++i) content_ += static_cast<char>(i * 7 + i / 13);
        std::ofstream(package_, std::ios::binary) << content_;
        sender_ = TSMTPSender::Create();
        sender_->SMTPServer = "127.0.0.1";
        sender_->SMTPSender = "qel@bank.example";
        sender_->WorkFolder = (dir_.Path() / "work").string() + "/";
        sender_->OnLog = journal_.Callback();
    }

    void Send(const std::string& recipient) {
        sender_->SendPackage(package_, recipient, kDataFile, kPackageId, 7, 3);
    }
    std::string Back() const {
        return (dir_.Path() / "work/Back/ZuvQelExport_0000703_20261210101500123.zip").string();
    }

    TempDir dir_;
    std::string package_;
    std::string content_;
    std::shared_ptr<TSMTPSender> sender_;
    TJournal journal_;
};

std::string CheckSubject(const std::string& subjectHex) {
    std::string out;
    crypttest::Shell(std::string(smtptest::kPython) +
                         " " DX_SOURCE_DIR "/tests/export_service/check_subject.py " + subjectHex +
                         " QelExport 7 3",
                     &out);
    return out;
}

}  // namespace

TEST_F(SenderIT, PackageLetterIsSentAndThePackageMovesToBack) {
    SmtpServer server({});
    sender_->SMTPPort = std::stoi(server.Port());
    Send("web@portal.example");
    ASSERT_TRUE(sender_->WaitForLetters(30000, 5000)) << journal_.Text();

    ASSERT_TRUE(server.HasMessage(1)) << journal_.Text();
    auto m = server.Summary(1);
    EXPECT_EQ(CheckSubject(m["subject_hex"]), "ok\n") << m["subject_hex"];
    EXPECT_EQ(m["subject_lines"], "1") << "the subject is never folded";
    EXPECT_EQ(m["mail_from"], "qel@bank.example");
    EXPECT_EQ(m["rcpt_to"], "web@portal.example");
    EXPECT_EQ(m["to"], "web@portal.example");
    EXPECT_EQ(m["text_charset"], "windows-1251");
    EXPECT_EQ(m["attachments"], "1");
    EXPECT_EQ(m["att_name0"], "ZuvQelExport_0000703_20261210101500123.zip");
    EXPECT_TRUE(server.Attachment(1, 0) == content_) << "the attachment differs from the package";
    EXPECT_EQ(m["defects"], "0");

    EXPECT_FALSE(smtptest::fs::exists(package_));
    EXPECT_EQ(ReadFile(Back()), content_);
    EXPECT_EQ(sender_->TakeSentPackages(), std::vector<std::string>{kPackageId});
    EXPECT_TRUE(sender_->TakeSentPackages().empty()) << "each id is handed on once";
    for (const char* line :
         {"vSmtpGatewayThread create",
          "ZuvQelExport_0000703_20261210101500123.xml package has been successfully sent to the "
          "address web@portal.example",
          "Mail sent to the address: web@portal.example"})
        EXPECT_TRUE(journal_.Has(line)) << line << "\n" << journal_.Text();
}

TEST_F(SenderIT, ImplicitTlsWithAuthLogin) {
    SmtpServer server({"--tls", "--user", "qel", "--password", "s3cret"});
    sender_->SMTPPort = std::stoi(server.Port());
    sender_->UseSsl = true;
    sender_->UseAuthentication = 1;
    sender_->SMTPLogin = "qel";
    sender_->SMTPPass = "s3cret";
    Send("web@portal.example");
    ASSERT_TRUE(sender_->WaitForLetters(30000, 5000));
    ASSERT_TRUE(server.HasMessage(1)) << journal_.Text();
    EXPECT_EQ(server.Summary(1)["tls"], "1");
    EXPECT_EQ(server.Summary(1)["auth"], "qel");
    EXPECT_TRUE(server.Attachment(1, 0) == content_);
    EXPECT_EQ(sender_->TakeSentPackages(), std::vector<std::string>{kPackageId});
    EXPECT_FALSE(journal_.Has("s3cret")) << "the password never reaches the journal";
}

TEST_F(SenderIT, FailedLetterLeavesThePackageUnsentInTheOutbox) {
    SmtpServer server({});
    struct Case {
        const char* name;
        std::string port;
        const char* recipient;
        std::string line;
    };
    const Case cases[] = {
        {"server down", std::to_string(smtptest::UnusedPort()), "web@portal.example", "ErrorCode = 111 "},
        {"recipient refused", server.Port(), "reject@portal.example",
         "Error: 550 5.1.1 Mailbox unavailable. Not sent the package: "
         "ZuvQelExport_0000703_20261210101500123.xml to the address reject@portal.example"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sender_->SMTPPort = std::stoi(c.port);
        Send(c.recipient);
        ASSERT_TRUE(sender_->WaitForLetters(30000, 5000));
        EXPECT_TRUE(journal_.Has(c.line)) << journal_.Text();
        EXPECT_EQ(ReadFile(package_), content_) << "the package stays in the outbox";
        EXPECT_FALSE(smtptest::fs::exists(Back()));
        EXPECT_TRUE(sender_->TakeSentPackages().empty()) << "no send date for a letter that failed";
    }
    EXPECT_FALSE(server.HasMessage(1));
}

TEST_F(SenderIT, SenderOutlivesTheLettersItStarted) {
    SmtpServer server({});
    sender_->SMTPPort = std::stoi(server.Port());
    Send("web@portal.example");
    std::weak_ptr<TSMTPSender> watch = sender_;
    sender_.reset();  // the owner is gone while the letter is on its way
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!watch.expired() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(watch.expired()) << "the gateway let the sender go when it ended";
    EXPECT_TRUE(server.HasMessage(1));
    EXPECT_EQ(ReadFile(Back()), content_) << "the sent callback ran on the living sender";
    EXPECT_TRUE(journal_.Has("Mail sent to the address: web@portal.example")) << journal_.Text();
}

TEST_F(SenderIT, StopWithALetterInFlightEndsWithinTheBound) {
    FaultServer server("hang");  // reads the message and never answers
    sender_->SMTPPort = std::stoi(server.Port());
    sender_->TimeoutSeconds = 120;
    Send("web@portal.example");
    EXPECT_EQ(sender_->LettersInFlight(), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sender_->WaitForLetters(500, 10000)) << journal_.Text();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_EQ(sender_->LettersInFlight(), 0);
    EXPECT_TRUE(journal_.Has("Not sent the package: " + kDataFile)) << journal_.Text();
    EXPECT_EQ(ReadFile(package_), content_);
    EXPECT_TRUE(sender_->TakeSentPackages().empty());
}

TEST_F(SenderIT, MissingPackageIsNotMailed) {
    smtptest::fs::remove(package_);
    EXPECT_THROW(Send("web@portal.example"), rtl::Exception);
    EXPECT_EQ(sender_->LettersInFlight(), 0);
}
