// The mail gateway against a real SMTP server (aiosmtpd) on 127.0.0.1: plain, implicit TLS,
// AUTH LOGIN, and the failures that reach the callbacks. The server saves every accepted
// message and a summary made by Python's email package.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/uSmtpGateway.h"
#include "tests/common/SmtpTestServer.h"

namespace fs = std::filesystem;
using smtptest::FaultServer;
using smtptest::Hex;
using smtptest::ReadFile;
using smtptest::SmtpServer;
using smtptest::TempDir;
using smtptest::UnusedPort;
using svc::TLetter;
using svc::TSmtpGateway;

namespace {

// What the callbacks saw.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> journal;
    std::vector<std::string> events;  // "sent <recipient>", "error -" or "error <code> <message>"

    void Log(const std::string& text) {
        std::lock_guard lock(mutex);
        journal.push_back(text);
    }
    void Event(const std::string& text) {
        std::lock_guard lock(mutex);
        events.push_back(text);
        changed.notify_all();
    }
    bool Journalled(const std::string& part) {
        std::lock_guard lock(mutex);
        for (const auto& line : journal)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    std::string JournalText() {
        std::lock_guard lock(mutex);
        std::string out;
        for (const auto& line : journal) out += line + "\n";
        return out;
    }
};

// Callbacks as a user sets them: each holds the recorder by shared ownership.
void Connect(TSmtpGateway& gateway, const std::shared_ptr<Recorder>& recorder) {
    gateway.SetOnLog([recorder](const std::string& text, bool) { recorder->Log(text); });
    gateway.SetOnSent([recorder](TLetter* letter) { recorder->Event("sent " + letter->Recipient()); });
    gateway.SetOnError([recorder](TLetter* letter) {
        recorder->Event(letter ? "error " + std::to_string(letter->ErrorCode()) + " " + letter->ErrorMessage()
                               : "error -");
    });
}

std::unique_ptr<TLetter> MakeLetter(const std::string& recipient, const std::string& subject,
                                    const std::vector<std::string>& files) {
    auto letter = std::make_unique<TLetter>();
    letter->SetFrom("robot@bank.example");
    letter->SetFromName("robot@bank.example");
    letter->SetRecipient(recipient);
    letter->SetSubject(subject);
    letter->SetBody({""});
    for (const auto& f : files) letter->AddAttachment(f);
    return letter;
}

std::string Package(const fs::path& dir, const std::string& name, std::size_t size) {
    std::string content(size, '\0');
    unsigned seed = static_cast<unsigned>(size) + 7;
    for (auto& c : content) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

const std::string kSubject = "QelExport000703" + std::string("3230323431323331323335393539214023242540") +
                             "7c2a1e0f9d8b6a5c4e3f2a1b0c9d8e7f";

int EHLOCount(const std::string& journal) {
    int n = 0;
    for (std::size_t pos = 0; (pos = journal.find("> EHLO ", pos)) != std::string::npos; ++pos) ++n;
    return n;
}

class SmtpGatewayIT : public ::testing::Test {
protected:
    TempDir files_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

}  // namespace

TEST_F(SmtpGatewayIT, PlainSessionDeliversThePackageLetter) {
    SmtpServer server({});
    std::string file = Package(files_.Path(), "ZuvQelExport_0000703_20241231235959123.zip", 100000);
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {file}));
    gateway.Run();

    EXPECT_EQ(recorder_->events, std::vector<std::string>{"sent web@portal.example"})
        << recorder_->JournalText();
    ASSERT_TRUE(server.HasMessage(1));
    auto m = server.Summary(1);
    EXPECT_EQ(m["subject_hex"], Hex(kSubject));
    EXPECT_EQ(m["subject_lines"], "1");
    EXPECT_EQ(m["from"], "robot@bank.example");
    EXPECT_EQ(m["to"], "web@portal.example");
    EXPECT_EQ(m["mail_from"], "robot@bank.example");
    EXPECT_EQ(m["rcpt_to"], "web@portal.example");
    EXPECT_EQ(m["mime_version"], "1.0");
    EXPECT_EQ(m["content_type"], "multipart/mixed");
    EXPECT_EQ(m["text_charset"], "windows-1251");
    EXPECT_EQ(m["text_hex"], Hex("\r\n"));
    EXPECT_EQ(m["x_mailer"], "-");
    EXPECT_EQ(m["defects"], "0");
    EXPECT_EQ(m["tls"], "0");
    EXPECT_EQ(m["auth"], "-");
    ASSERT_EQ(m["attachments"], "1");
    EXPECT_EQ(m["att_name0"], "ZuvQelExport_0000703_20241231235959123.zip");
    EXPECT_TRUE(server.Attachment(1, 0) == ReadFile(file)) << "attachment bytes differ";

    // The letter's own report and the dialogue, each line prefixed by the thread's id.
    EXPECT_TRUE(recorder_->Journalled("The message has been sent to \"web@portal.example\"."));
    std::string prefix = std::to_string(rtl::GetCurrentThreadId()) + " ";
    for (const char* line : {"< 220 ", "> EHLO ", "> MAIL FROM:<robot@bank.example>",
                             "> RCPT TO:<web@portal.example>", "> DATA", "> QUIT", "< 221 "})
        EXPECT_TRUE(recorder_->Journalled(prefix + line)) << line << "\n" << recorder_->JournalText();
    EXPECT_FALSE(recorder_->Journalled("AUTH"));
}

TEST_F(SmtpGatewayIT, ImplicitTlsWithAuthentication) {
    SmtpServer server({"--tls", "--user", "exporter", "--password", "s3cret-pass"});
    std::string file = Package(files_.Path(), "ZuvQelExport_0000703_20241231235959124.dat", 777);
    const std::pair<int, std::string> kinds[] = {{2, "> AUTH LOGIN"}, {1, "> AUTH PLAIN"}};
    int n = 0;
    for (const auto& [kind, command] : kinds) {
        SCOPED_TRACE(command);
        ++n;
        auto recorder = std::make_shared<Recorder>();
        TSmtpGateway gateway;
        Connect(gateway, recorder);
        gateway.SetHost("127.0.0.1");
        gateway.SetPort(server.Port());
        gateway.SetUseSsl(true);
        gateway.SetAuthType(kind);
        gateway.SetUserName("exporter");
        gateway.SetPassword("s3cret-pass");
        gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {file}));
        gateway.Run();

        EXPECT_EQ(recorder->events, std::vector<std::string>{"sent web@portal.example"})
            << recorder->JournalText();
        ASSERT_TRUE(server.HasMessage(n));
        auto m = server.Summary(n);
        EXPECT_EQ(m["tls"], "1");
        EXPECT_EQ(m["auth"], "exporter");
        EXPECT_EQ(m["subject_hex"], Hex(kSubject));
        EXPECT_TRUE(server.Attachment(n, 0) == ReadFile(file));
        EXPECT_TRUE(recorder->Journalled(command));
        EXPECT_TRUE(recorder->Journalled("> ****"));
        std::string text = recorder->JournalText();
        // The password and the user name, plain and in their base64 forms.
        for (const char* secret :
             {"s3cret-pass", "czNjcmV0LXBhc3M=", "ZXhwb3J0ZXI=", "AGV4cG9ydGVyAHMzY3JldC1wYXNz"})
            EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
}

TEST_F(SmtpGatewayIT, LettersShareOneSessionAndAFailedLetterDoesNotStopTheRest) {
    SmtpServer server({});
    std::string a = Package(files_.Path(), "a.zip", 1000);
    std::string b = Package(files_.Path(), "b.zip", 2000);
    std::string c = Package(files_.Path(), "c.zip", 3000);
    std::string d = Package(files_.Path(), "d.zip", 4000);
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.AddLetter(MakeLetter("first@portal.example", "one", {a}));
    gateway.AddLetter(MakeLetter("second@portal.example", "two", {b}));
    gateway.AddLetter(MakeLetter("reject@portal.example", "refused", {c}));
    gateway.AddLetter(MakeLetter("fourth@portal.example", "vanished", {d}));
    gateway.AddLetter(MakeLetter("fifth@portal.example", "five", {a}));
    fs::remove(d);  // the fourth letter's file disappears before it is sent
    EXPECT_EQ(gateway.QueueCount(), 5u);
    gateway.Run();

    ASSERT_EQ(recorder_->events.size(), 5u) << recorder_->JournalText();
    EXPECT_EQ(recorder_->events[0], "sent first@portal.example");
    EXPECT_EQ(recorder_->events[1], "sent second@portal.example");
    EXPECT_EQ(recorder_->events[2], "error 550 550 5.1.1 Mailbox unavailable");
    EXPECT_EQ(recorder_->events[3].rfind("error ", 0), 0u);
    EXPECT_NE(recorder_->events[3].find(d), std::string::npos) << recorder_->events[3];
    EXPECT_EQ(recorder_->events[4], "sent fifth@portal.example");
    EXPECT_TRUE(recorder_->Journalled("Error: 550 5.1.1 Mailbox unavailable"));

    // The first two over one connection, in order, without a second greeting.
    ASSERT_TRUE(server.HasMessage(3));
    EXPECT_FALSE(server.HasMessage(4));
    EXPECT_EQ(server.Summary(1)["conn"], "1");
    EXPECT_EQ(server.Summary(2)["conn"], "1");
    EXPECT_EQ(server.Summary(1)["rcpt_to"], "first@portal.example");
    EXPECT_EQ(server.Summary(2)["rcpt_to"], "second@portal.example");
    EXPECT_EQ(server.Summary(3)["rcpt_to"], "fifth@portal.example");
    EXPECT_EQ(EHLOCount(recorder_->JournalText()), std::stoi(server.Summary(3)["conn"]));
    EXPECT_EQ(gateway.QueueCount(), 0u);
}

TEST_F(SmtpGatewayIT, OpenFailuresDropTheLettersAndCallBackWithoutALetter) {
    SmtpServer plain({});
    SmtpServer authenticated({"--user", "exporter", "--password", "right"});
    SmtpServer selfSigned({"--tls"});
    struct Case {
        const char* name;
        std::string port;
        bool tls;
        bool verify;
        std::string password;
        std::string journal;  // the start of the "ErrorCode = " line
    };
    const Case cases[] = {
        {"refused connection", std::to_string(UnusedPort()), false, false, "", "ErrorCode = 111 "},
        {"bad password", authenticated.Port(), false, false, "wrong",
         "ErrorCode = 535 535 5.7.8 Authentication"},
        {"TLS to a plain server", plain.Port(), true, false, "", "ErrorCode = "},
        {"certificate checked when asked", selfSigned.Port(), true, true, "",
         "ErrorCode = 60 SSL certificate problem"},
        {"no such port name", "no-such-service", false, false, "",
         "ErrorCode = 0 Invalid port \"no-such-service\""},
    };
    std::string file = Package(files_.Path(), "p.zip", 100);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder = std::make_shared<Recorder>();
        TSmtpGateway gateway;
        Connect(gateway, recorder);
        gateway.SetHost("127.0.0.1");
        gateway.SetPort(c.port);
        gateway.SetUseSsl(c.tls);
        gateway.SetVerifyPeer(c.verify);
        if (!c.password.empty()) {
            gateway.SetAuthType(2);
            gateway.SetUserName("exporter");
            gateway.SetPassword(c.password);
        }
        gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {file}));
        gateway.AddLetter(MakeLetter("web2@portal.example", kSubject, {file}));
        gateway.Run();
        EXPECT_EQ(recorder->events, std::vector<std::string>{"error -"}) << recorder->JournalText();
        EXPECT_TRUE(recorder->Journalled(std::to_string(rtl::GetCurrentThreadId()) + " " + c.journal))
            << recorder->JournalText();
        EXPECT_EQ(gateway.QueueCount(), 0u);
        EXPECT_TRUE(fs::exists(file));
    }
    EXPECT_FALSE(plain.HasMessage(1));
    EXPECT_FALSE(authenticated.HasMessage(1));
    EXPECT_FALSE(selfSigned.HasMessage(1));
}

TEST_F(SmtpGatewayIT, ServerRefusingTheSenderFailsTheLetter) {
    // Without authentication this server refuses MAIL: the session was open, the letter fails.
    SmtpServer server({"--user", "exporter", "--password", "right"});
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    gateway.Run();
    ASSERT_EQ(recorder_->events.size(), 1u) << recorder_->JournalText();
    EXPECT_EQ(recorder_->events[0].rfind("error 530 530 ", 0), 0u) << recorder_->events[0];
    EXPECT_TRUE(recorder_->Journalled("Error: 530 "));
}

TEST_F(SmtpGatewayIT, Port465WithoutTlsWarnsAndStillTries) {
    auto recorder = std::make_shared<Recorder>();
    TSmtpGateway gateway;
    Connect(gateway, recorder);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort("465");
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    gateway.Run();
    EXPECT_TRUE(recorder->Journalled(" Warning: TLS disabled"));
    ASSERT_FALSE(recorder->events.empty());
    EXPECT_EQ(recorder->events[0], "error -");
    // The session itself was attempted on port 465 (whatever answered there, if anything).
    EXPECT_TRUE(recorder->Journalled("ErrorCode = ") || recorder->Journalled("> EHLO "))
        << recorder->JournalText();
}

TEST_F(SmtpGatewayIT, EmptyQueueOpensAndQuits) {
    SmtpServer server({});
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.Run();
    EXPECT_TRUE(recorder_->events.empty()) << recorder_->JournalText();
    EXPECT_TRUE(recorder_->Journalled("> EHLO "));
    EXPECT_FALSE(recorder_->Journalled("MAIL FROM"));
}

TEST_F(SmtpGatewayIT, DialogueIsJournalledOnlyWhenShown) {
    SmtpServer server({});
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.SetShowDialogue(false);
    gateway.AddLetter(MakeLetter("reject@portal.example", kSubject, {}));
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    gateway.Run();
    EXPECT_EQ(recorder_->events, (std::vector<std::string>{"error 550 550 5.1.1 Mailbox unavailable",
                                                           "sent web@portal.example"}));
    EXPECT_FALSE(recorder_->Journalled("> ")) << recorder_->JournalText();
    EXPECT_FALSE(recorder_->Journalled("< ")) << recorder_->JournalText();
}

TEST_F(SmtpGatewayIT, StartedGatewayFreesItselfAndReleasesWhatItsCallbacksHold) {
    SmtpServer server({});
    std::string file = Package(files_.Path(), "p.zip", 5000);
    std::weak_ptr<Recorder> watch = recorder_;
    auto* gateway = new TSmtpGateway;
    Connect(*gateway, recorder_);
    gateway->SetHost("127.0.0.1");
    gateway->SetPort(server.Port());
    gateway->AddLetter(MakeLetter("web@portal.example", kSubject, {file}));
    auto recorder = recorder_;
    gateway->FreeOnTerminate = true;
    gateway->Start();
    recorder_.reset();  // the user lets go; the callbacks keep the recorder alive
    {
        std::unique_lock lock(recorder->mutex);
        ASSERT_TRUE(recorder->changed.wait_for(lock, std::chrono::seconds(60),
                                               [&] { return !recorder->events.empty(); }));
        EXPECT_EQ(recorder->events[0], "sent web@portal.example");
    }
    recorder.reset();
    // Once the gateway has deleted itself, its callbacks and their hold on the recorder are gone.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(server.HasMessage(1));
}

TEST_F(SmtpGatewayIT, BodyLinesArriveIntact) {
    // Lines that are SMTP's end of data, or that need encoding, must survive the transfer.
    const std::vector<std::string> body = {".", "..", ".end", "\xCF\xF0\xE8\xE2\xE5\xF2", ""};
    SmtpServer server({});
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    auto letter = MakeLetter("web@portal.example", "body", {});
    letter->SetBody(body);
    gateway.AddLetter(std::move(letter));
    gateway.Run();
    ASSERT_TRUE(server.HasMessage(1)) << recorder_->JournalText();
    std::string expected;
    for (const auto& line : body) expected += line + "\r\n";
    auto m = server.Summary(1);
    EXPECT_EQ(m["text_hex"], Hex(expected));
    EXPECT_EQ(m["text_charset"], "windows-1251");
    EXPECT_EQ(m["attachments"], "0");
}

TEST_F(SmtpGatewayIT, JournalLinesCarryTheGatewayThreadsId) {
    SmtpServer server({});
    TSmtpGateway gateway;  // not freeing itself: its user waits and deletes it
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    gateway.Start();
    gateway.WaitFor();
    EXPECT_EQ(recorder_->events, std::vector<std::string>{"sent web@portal.example"});
    ASSERT_NE(gateway.ThreadID(), rtl::GetCurrentThreadId());
    std::string prefix = std::to_string(gateway.ThreadID()) + " ";
    EXPECT_TRUE(recorder_->Journalled(prefix + "> EHLO ")) << recorder_->JournalText();
    EXPECT_FALSE(recorder_->Journalled(std::to_string(rtl::GetCurrentThreadId()) + " "));
}

TEST_F(SmtpGatewayIT, ProxyOfTheEnvironmentIsNotUsed) {
    SmtpServer server({});
    std::string proxy = "http://127.0.0.1:" + std::to_string(UnusedPort());
    ::setenv("all_proxy", proxy.c_str(), 1);
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(server.Port());
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    gateway.Run();
    ::unsetenv("all_proxy");
    EXPECT_EQ(recorder_->events, std::vector<std::string>{"sent web@portal.example"})
        << recorder_->JournalText();
}

TEST_F(SmtpGatewayIT, SilentServerTimesOut) {
    // A listening socket that never greets: the session gives up after its time-out.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(s, 4), 0);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    TSmtpGateway gateway;
    Connect(gateway, recorder_);
    gateway.SetHost("127.0.0.1");
    gateway.SetPort(std::to_string(ntohs(addr.sin_port)));
    gateway.AddLetter(MakeLetter("web@portal.example", kSubject, {}));
    auto start = std::chrono::steady_clock::now();
    gateway.Run();
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    ::close(s);
    EXPECT_EQ(recorder_->events, std::vector<std::string>{"error -"}) << recorder_->JournalText();
    EXPECT_TRUE(recorder_->Journalled("ErrorCode = 28 ")) << recorder_->JournalText();
    EXPECT_GE(seconds, 14);
    EXPECT_LE(seconds, 40);
}

TEST_F(SmtpGatewayIT, NextLetterAfterAConnectionFaultGoesOverANewConnection) {
    // Before, the gateway went on over the broken connection, and the letters after the fault
    // failed without ever reaching the server.
    struct Case {
        const char* fault;
        const char* firstEvent;  // what the first letter's outcome is
        const char* letters;     // what the server accepted
    };
    const Case cases[] = {
        {"hang", "error", "2 b@portal.example\n2 c@portal.example\n"},
        {"reset", "error", "2 b@portal.example\n2 c@portal.example\n"},
        {"drop", "sent", "1 a@portal.example\n2 b@portal.example\n2 c@portal.example\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultServer server(c.fault);
        auto recorder = std::make_shared<Recorder>();
        TSmtpGateway gateway;
        Connect(gateway, recorder);
        gateway.SetHost("127.0.0.1");
        gateway.SetPort(server.Port());
        gateway.SetTimeout(2);
        for (const char* to : {"a@portal.example", "b@portal.example", "c@portal.example"})
            gateway.AddLetter(MakeLetter(to, kSubject, {}));
        gateway.Run();
        ASSERT_EQ(recorder->events.size(), 3u) << recorder->JournalText();
        EXPECT_EQ(recorder->events[0].rfind(c.firstEvent, 0), 0u) << recorder->events[0];
        EXPECT_EQ(recorder->events[1], "sent b@portal.example") << recorder->JournalText();
        EXPECT_EQ(recorder->events[2], "sent c@portal.example") << recorder->JournalText();
        EXPECT_EQ(server.Letters(), c.letters) << recorder->JournalText();
    }
}
