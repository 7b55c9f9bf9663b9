// The POP3 gateway against real servers on 127.0.0.1: dovecot of the loopback mail pair (plain
// and implicit TLS, with a Maildir filled by Python) and a scripted Python server for the failure
// paths. Python's poplib tells afterwards which letters are left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "import_service/uPop3Gateway.h"
#include "tests/common/MailPair.h"
#include "tests/common/ServerProcess.h"
#include "tests/import_service/Pop3Letters.h"
#include "tests/zip/ZipTestUtil.h"

using namespace svc;
namespace fs = std::filesystem;

namespace {

using namespace pop3it;

class Pop3GatewayIT : public ::testing::Test {
protected:
    Pop3GatewayIT() {
        fs::create_directories(Server());
        ::chmod(dir_.Path().c_str(), 0755);  // dovecot's mail user reaches its Maildir through it
    }
    // The import folder lies deep enough for a climbing name to land in the test's folder.
    std::string Import() const { return dir_ / "deep/er/import"; }
    std::string Server() const { return dir_ / "server"; }

    TPop3Gateway& Gateway(int port, bool tls = false) {
        TPop3Params params;
        params.CFolderQelImport = Import();
        params.POP3Server = "127.0.0.1";
        params.POP3Port = port;
        params.POP3Login = kUser;
        params.POP3Pass = kPassword;
        params.POP3Ssl = tls;
        gateway_.Configure(params);
        gateway_.SetOnLog([this](const std::string& text, bool) { journal_.push_back(text); });
        return gateway_;
    }

    // Every file below the test's folder that is not the server's: named relative to the import
    // folder when inside it, else relative to the test's folder.
    std::set<std::string> FilesOutsideTheServer() const {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir_.Path())) {
            const std::string path = e.path().string();
            if (!e.is_regular_file() || path.rfind(Server() + "/", 0) == 0) continue;
            names.insert(path.rfind(Import() + "/", 0) == 0 ? path.substr(Import().size() + 1)
                                                            : fs::relative(e.path(), dir_.Path()).string());
        }
        return names;
    }
    bool Journalled(const std::string& text) const {
        return std::find(journal_.begin(), journal_.end(), text) != journal_.end();
    }
    std::string JournalText() const {
        std::string out;
        for (const auto& line : journal_) out += line + "\n";
        return out;
    }

    ziptest::TempDir dir_;
    TPop3Gateway gateway_{""};
    std::vector<std::string> journal_;
};

const char* const kMailboxLetters = R"([
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "ZuvWebExport_0000701_20240101120000001.zip", "size": 70000}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "ZuvWebExport_0000701_20240101120000002.zip", "form": "rfc2231"},
                                                      {"name": "Пакет данных.zip", "form": "cp1251"}]},
 {"subject": {"signed": "WebExport"}},
 {"subject": {"text": "Hello"}, "attachments": [{"name": "hello.zip"}]},
 {"subject": {"badkey": "WebExport"}, "attachments": [{"name": "badkey.zip"}]},
 {"subject": {"signed": "QelExport"}, "attachments": [{"name": "ZuvQelExport_0000701_20240101120000006.zip"}]},
 {"subject": {"upper": "WebExport"}, "attachments": [{"name": "Отчёт.dat", "form": "rfc2047"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "../../escape.zip"}, {"name": "..\\..\\win.zip"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "ZuvWebExport_0000701_20240101120000009.zip"}, {"name": ".."}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "bad\u0001name.zip", "form": "rfc2231"},
                                                      {"name": "ZuvWebExport_0000701_20240101120000010.zip"}]},
 {"subject": {"signed": "WebExport"}, "pad": true, "attachments": [{"name": "ZuvWebExport_0000701_20240101120000011.zip"}]}
])";

TEST_F(Pop3GatewayIT, DovecotMailboxOnlySignedLettersAreTakenAndOnlyWhenTheirAttachmentsAreSaved) {
    testserver::TMailPair dovecot(Server(), kUser, kPassword);
    TLetters letters(Server(), kMailboxLetters, "--maildir " + Server() + "/Maildir");
    dovecot.Start();

    EXPECT_TRUE(Gateway(dovecot.Pop3Port()).ReceiveMail("WebExport")) << JournalText();
    EXPECT_TRUE(Journalled("Count of letters: 11")) << JournalText();
    // Letters 9 and 10 count as received although they stay: some attachments were refused.
    EXPECT_TRUE(Journalled("Total received 8.")) << JournalText();

    const std::string pak = "Пакет данных.zip", report = "Отчёт.dat";  // UTF-8 names on disk
    EXPECT_EQ(FilesOutsideTheServer(),
              (std::set<std::string>{"ZuvWebExport_0000701_20240101120000001.zip",
                                     "ZuvWebExport_0000701_20240101120000002.zip", pak, report, "escape.zip",
                                     "win.zip", "ZuvWebExport_0000701_20240101120000011.zip"}))
        << JournalText();
    const std::string in = Import() + "/";
    EXPECT_TRUE(ziptest::ReadFile(in + "ZuvWebExport_0000701_20240101120000001.zip") ==
                letters.Content(1, 0));
    EXPECT_TRUE(ziptest::ReadFile(in + "ZuvWebExport_0000701_20240101120000002.zip") ==
                letters.Content(2, 0));
    EXPECT_TRUE(ziptest::ReadFile(in + pak) == letters.Content(2, 1));
    EXPECT_TRUE(ziptest::ReadFile(in + report) == letters.Content(7, 0));
    EXPECT_TRUE(ziptest::ReadFile(in + "escape.zip") == letters.Content(8, 0));
    EXPECT_TRUE(ziptest::ReadFile(in + "win.zip") == letters.Content(8, 1));
    EXPECT_TRUE(Journalled("    File formed: " + in + "\xCF\xE0\xEA\xE5\xF2 \xE4\xE0\xED\xED\xFB\xF5.zip"))
        << JournalText();

    const std::vector<std::string> left = {letters.Subject(4), letters.Subject(5), letters.Subject(6),
                                           letters.Subject(9), letters.Subject(10)};
    EXPECT_EQ(LeftOnServer(dovecot.Pop3Port()), left);

    // The next check reads the letters left and takes none of them.
    journal_.clear();
    gateway_.ReceiveMail("WebExport");
    EXPECT_TRUE(Journalled("Count of letters: 5")) << JournalText();
    EXPECT_FALSE(Journalled("    POP3: Letter was deleted from server. Attachment saved.")) << JournalText();
    EXPECT_EQ(LeftOnServer(dovecot.Pop3Port()), left);
}

TEST_F(Pop3GatewayIT, DovecotOverImplicitTls) {
    testserver::TMailPair dovecot(Server(), kUser, kPassword);
    TLetters letters(Server(),
                     R"([{"subject": {"signed": "WebExport"},
                          "attachments": [{"name": "ZuvWebExport_0000701_20240101120000001.dat", "size": 3000}]},
                         {"subject": {"text": "Other"}}])",
                     "--maildir " + Server() + "/Maildir");
    dovecot.Start();

    // A wrong password and TLS spoken to the plain port fail the login; nothing is touched.
    struct Failure {
        const char* what;
        int port;
        const char* password;
    };
    const Failure failures[] = {{"wrong password", dovecot.Pop3TlsPort(), "wrong"},
                                {"plain port", dovecot.Pop3Port(), kPassword}};
    for (const auto& f : failures) {
        SCOPED_TRACE(f.what);
        journal_.clear();
        Gateway(f.port, true).SetPassword(f.password);
        EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
        ASSERT_EQ(journal_.size(), 2u) << JournalText();
        EXPECT_EQ(journal_[0].rfind("Error: Error POP3: Unsuccessful connecting to server. Error: \"", 0), 0u)
            << JournalText();
        EXPECT_EQ(journal_[1].rfind("Error: ERROR on MailRead (", 0), 0u) << JournalText();
    }
    EXPECT_EQ(LeftOnServer(dovecot.Pop3TlsPort(), true),
              (std::vector<std::string>{letters.Subject(1), letters.Subject(2)}));

    journal_.clear();
    EXPECT_TRUE(Gateway(dovecot.Pop3TlsPort(), true).ReceiveMail("WebExport")) << JournalText();
    EXPECT_TRUE(ziptest::ReadFile(Import() + "/ZuvWebExport_0000701_20240101120000001.dat") ==
                letters.Content(1, 0));
    EXPECT_EQ(LeftOnServer(dovecot.Pop3TlsPort(), true), std::vector<std::string>{letters.Subject(2)});
}

// The scripted server: letters as files, failures chosen by option.
class FakePop3 {
public:
    FakePop3(const std::string& dir, const std::vector<std::string>& options) : dir_(dir) {
        std::vector<std::string> args = {"/usr/bin/env", "python3", kScripts + "pop3_fake_server.py",
                                         "--dir",        dir,       "--mailbox",
                                         dir + "/box",   "--user",  kUser,
                                         "--password",   kPassword};
        args.insert(args.end(), options.begin(), options.end());
        process_ = std::make_unique<testserver::TServerProcess>(args, dir + "/fake.log");
        port_ = process_->ReadPort();
        if (!port_)
            throw std::runtime_error("the fake POP3 server did not start: " +
                                     ziptest::ReadFile(dir + "/fake.log"));
    }
    int Port() const { return port_; }
    std::string Log() const { return ziptest::ReadFile(dir_ + "/commands.log"); }
    // The commands of connection n.
    std::vector<std::string> Commands(int connection) const {
        std::vector<std::string> out;
        const std::string prefix = std::to_string(connection) + " ";
        for (const auto& line : Lines(ziptest::ReadFile(dir_ + "/commands.log")))
            if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
        return out;
    }

private:
    std::string dir_;
    std::unique_ptr<testserver::TServerProcess> process_;
    int port_ = 0;
};

const char* const kFiveSigned = R"([
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "1.zip"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "2.zip"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "3.zip"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "4.zip"}]},
 {"subject": {"signed": "WebExport"}, "attachments": [{"name": "5.zip"}]}
])";

TEST_F(Pop3GatewayIT, FailedAndDroppedRetrievalsSkipTheirLettersAndLostDeletionsAreRepeated) {
    TLetters letters(Server(), kFiveSigned, "--folder " + Server() + "/box");
    FakePop3 server(Server(), {"--fail-retr", "002.eml", "--drop-retr", "004.eml"});

    EXPECT_TRUE(Gateway(server.Port()).ReceiveMail("WebExport")) << JournalText() << server.Log();
    EXPECT_TRUE(Journalled("Error: -ERR retrieval failedemail #2")) << JournalText();
    EXPECT_TRUE(Journalled("Repeated remove UIN:003.eml")) << JournalText() << server.Log();
    EXPECT_TRUE(Journalled("Total received 3.")) << JournalText();
    // libcurl ends a connection after a refusal with QUIT, which removes letter 1 and numbers
    // the rest anew; the dropped second connection takes letter 3's deletion with it.
    EXPECT_EQ(server.Commands(1).back(), "QUIT") << server.Log();
    const auto third = server.Commands(3);
    EXPECT_EQ(third, (std::vector<std::string>{"CAPA", "USER importer", "PASS ****", "UIDL", "RETR 4",
                                               "DELE 4", "UIDL", "DELE 2", "QUIT"}))
        << server.Log();
    EXPECT_EQ(FilesOutsideTheServer(), (std::set<std::string>{"1.zip", "3.zip", "5.zip"}));
    for (int n : {1, 3, 5})
        EXPECT_TRUE(ziptest::ReadFile(Import() + "/" + std::to_string(n) + ".zip") == letters.Content(n, 0))
            << n;
    EXPECT_EQ(LeftOnServer(server.Port()),
              (std::vector<std::string>{letters.Subject(2), letters.Subject(4)}));
}

TEST_F(Pop3GatewayIT, AConnectionDroppedWhileDeletingIsFinishedByTheNextCheckWithoutSavingTwice) {
    TLetters letters(Server(), kFiveSigned, "--folder " + Server() + "/box");
    FakePop3 server(Server(), {"--drop-dele", "002.eml"});

    EXPECT_FALSE(Gateway(server.Port()).ReceiveMail("WebExport")) << JournalText();
    ASSERT_FALSE(journal_.empty());
    EXPECT_EQ(journal_.back().rfind("Error: ERROR on MailRead (", 0), 0u) << JournalText();
    EXPECT_EQ(FilesOutsideTheServer(), (std::set<std::string>{"1.zip", "2.zip"}));
    EXPECT_EQ(LeftOnServer(server.Port()).size(), 5u);

    // Meanwhile the package manager took 1.zip; 2.zip is still waiting.
    fs::remove(Import() + "/1.zip");
    ziptest::WriteFile(Import() + "/2.zip", "being imported");
    journal_.clear();
    EXPECT_TRUE(gateway_.ReceiveMail("WebExport")) << JournalText();
    EXPECT_EQ(std::count(journal_.begin(), journal_.end(),
                         "    POP3: Letter was received before. Deleted from server again."),
              2)
        << JournalText();
    EXPECT_TRUE(Journalled("Total received 3.")) << JournalText();
    EXPECT_EQ(FilesOutsideTheServer(), (std::set<std::string>{"2.zip", "3.zip", "4.zip", "5.zip"}))
        << JournalText();
    EXPECT_EQ(ziptest::ReadFile(Import() + "/2.zip"), "being imported");
    EXPECT_TRUE(LeftOnServer(server.Port()).empty());
}

}  // namespace
