// The mail road of a web-side package through the loopback mail pair: zuvwebpack's package is
// sent by the project's SMTP gateway, delivered into the Maildir, fetched by the import's POP3
// gateway into the import folder and unpacked by the import's unzip engine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/uMailSubject.h"
#include "common/uSmtpGateway.h"
#include "import_service/ZipReaderUnZip.h"
#include "import_service/uPop3Gateway.h"
#include "platform/rtl/DateTime.h"
#include "tests/common/MailPair.h"
#include "tests/platform/os/CryptTestSupport.h"
#include "tools/WebPackage.h"

using namespace svc;
namespace fs = std::filesystem;

namespace {

const char* const kUser = "importer";
const char* const kPassword = "s3cret";

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

std::string Journal(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class MailRoadTest : public crypttest::KeyStoreTest {
protected:
    MailRoadTest() : KeyStoreTest("mailroad") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        ::chmod(folder_.c_str(), 0755);  // dovecot's mail user reaches its Maildir through it
        for (const char* d : {"web", "import", "temp"}) fs::create_directories(Path(d));
    }

    std::unique_ptr<TLetter> Letter(const std::string& subject, const std::string& file) {
        auto letter = std::make_unique<TLetter>();
        letter->SetFrom("portal@web.example");
        letter->SetRecipient("import@qel.example");
        letter->SetSubject(subject);
        letter->SetBody({"Web package"});
        letter->AddAttachment(file);
        return letter;
    }

    // Sends the letters in one SMTP session with AUTH LOGIN; returns the recipients sent to.
    std::vector<std::string> Send(int port, std::vector<std::unique_ptr<TLetter>> letters) {
        auto sent = std::make_shared<std::vector<std::string>>();
        TSmtpGateway gateway;
        gateway.SetHost("127.0.0.1");
        gateway.SetPort(std::to_string(port));
        gateway.SetAuthType(2);
        gateway.SetUserName(kUser);
        gateway.SetPassword(kPassword);
        gateway.SetOnLog([this](const std::string& text, bool) { smtpJournal_.push_back(text); });
        gateway.SetOnSent([sent](TLetter* letter) { sent->push_back(letter->Subject()); });
        for (auto& l : letters) gateway.AddLetter(std::move(l));
        gateway.Run();
        return *sent;
    }

    bool Receive(int port) {
        TPop3Gateway gateway("");
        TPop3Params params;
        params.CFolderQelImport = Path("import");
        params.POP3Server = "127.0.0.1";
        params.POP3Port = port;
        params.POP3Login = kUser;
        params.POP3Pass = kPassword;
        gateway.Configure(params);
        gateway.SetOnLog([this](const std::string& text, bool) { popJournal_.push_back(text); });
        return gateway.ReceiveMail("WebExport");
    }

    std::vector<std::string> smtpJournal_, popJournal_;
};

}  // namespace

TEST_F(MailRoadTest, APackageSentBySmtpIsFetchedByPop3IntoTheImportFolder) {
    testserver::TMailPair pair(Path("mail"), kUser, kPassword);
    pair.Start();

    TWebPackageHeader header = NewWebPackageHeader(7, 1);
    header.Created = rtl::EncodeDateTime(2024, 3, 5, 10, 20, 30, 123);
    const std::string package = MakeWebPackage(
        header,
        ParseWebRequests("RECHARGE Id=1 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=250.5 "
                         "ServiceId=5 DateCreate=2024-03-05T10:00:00\n"),
        Path("web"), "");
    // A second letter that the import must leave alone: its subject carries no signature.
    crypttest::WriteFile(Path("web/other.zip"), "not for the import");
    const std::string signedSubject = BuildSignedSubject("WebExport", 7, 1);
    std::vector<std::unique_ptr<TLetter>> letters;
    letters.push_back(Letter(signedSubject, package));
    letters.push_back(Letter("Hello", Path("web/other.zip")));
    EXPECT_EQ(Send(pair.SmtpPort(), std::move(letters)), (std::vector<std::string>{signedSubject, "Hello"}))
        << Journal(smtpJournal_);
    EXPECT_TRUE(Has(smtpJournal_, "The message has been sent to \"import@qel.example\"."))
        << Journal(smtpJournal_);

    ASSERT_TRUE(Receive(pair.Pop3Port())) << Journal(popJournal_);
    EXPECT_TRUE(Has(popJournal_, "Count of letters: 2")) << Journal(popJournal_);
    EXPECT_TRUE(Has(popJournal_, "Total received 1.")) << Journal(popJournal_);
    const std::string name = fs::path(package).filename().string();
    ASSERT_EQ(Names(Path("import")), std::set<std::string>{name});
    EXPECT_TRUE(crypttest::ReadFile(Path("import/" + name)) == crypttest::ReadFile(package));
    ASSERT_TRUE(UnZipArchive(Path("import/" + name), Path("temp"), WebArchivePassword));
    EXPECT_EQ(Names(Path("temp")), std::set<std::string>{"ZuvWebExport_0000701_20240305102030123.xml"});

    // The accepted letter is gone from the server, the other one stays and is not taken.
    popJournal_.clear();
    EXPECT_FALSE(Receive(pair.Pop3Port())) << Journal(popJournal_);
    EXPECT_TRUE(Has(popJournal_, "Count of letters: 1")) << Journal(popJournal_);
    EXPECT_EQ(Names(Path("import")), std::set<std::string>{name});
}

// The background form the demo uses: start reports the ports and leaves both servers running,
// stop ends them and dovecot with them.
TEST_F(MailRoadTest, StartAndStopInTheBackground) {
    const std::string script = DX_SOURCE_DIR "/scripts/mail-pair ";
    std::string out;
    ASSERT_EQ(crypttest::Shell(
                  script + "start " + Path("mail") + " --user " + kUser + " --password " + kPassword, &out),
              0);
    EXPECT_EQ(crypttest::ReadFile(Path("mail/ports.env")), out);
    std::vector<int> ports;
    for (const char* key : {"SMTP_PORT=", "POP3_PORT=", "POP3S_PORT="}) {
        const auto at = out.find(key);
        ASSERT_NE(at, std::string::npos) << out;
        ports.push_back(std::stoi(out.substr(at + std::string(key).size())));
    }
    for (int port : ports) EXPECT_TRUE(testserver::WaitForPort(port, 5)) << port;
    EXPECT_FALSE(Receive(ports[1]));  // an empty mailbox, logged in without an error
    for (const auto& line : popJournal_) EXPECT_EQ(line.find("Error"), std::string::npos) << line;

    ASSERT_EQ(crypttest::Shell(script + "stop " + Path("mail")), 0);
    for (int port : ports) EXPECT_FALSE(testserver::WaitForPort(port, 1)) << port;
    EXPECT_FALSE(fs::exists(Path("mail/mail-pair.pid")));
    EXPECT_NE(crypttest::Shell(script + "stop " + Path("mail") + " 2>/dev/null"), 0);  // nothing left to stop
}
