// The package-manager thread against dovecot on 127.0.0.1: a letter signed for the import with a
// package attached is read on the first pass, its package saved and imported, and the letter
// deleted; the export's own letters and unsigned ones stay on the server, untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "import_service/uInSrvcThreads.h"
#include "tests/common/MailPair.h"
#include "tests/import_service/InServiceFixture.h"
#include "tests/import_service/Pop3Letters.h"

using namespace imptest;
using svctest::PumpUntil;

namespace {

class DovecotMailbox : public InServiceFixture {};

TEST_F(DovecotMailbox, ThePackageOfASignedLetterIsImportedAndOnlyThatLetterLeavesTheServer) {
    const std::string server = dir_ / "server";
    std::filesystem::create_directories(server);
    ::chmod(dir_.Path().c_str(), 0755);  // dovecot's mail user reaches its Maildir through it
    const std::string name = PackageName("20240305080000000");
    ziptest::WriteBytes(dir_ / "package.zip", PackageArchive(name, GoodPackage(4)));
    testserver::TMailPair dovecot(server, pop3it::kUser, pop3it::kPassword);
    const pop3it::TLetters letters(server,
                                   R"([{"subject": {"signed": "WebExport"}, "attachments": [{"name": ")" +
                                       name + R"(", "file": ")" + (dir_ / "package.zip") + R"("}]},
            {"subject": {"signed": "QelExport"}, "attachments": [{"name": "ZuvQelExport_0000701_20240305080000000.zip"}]},
            {"subject": {"text": "Hello"}, "attachments": [{"name": "hello.zip"}]}])",
                                   "--maildir " + server + "/Maildir");
    dovecot.Start();

    params_.Pop3EnableQelIn = true;
    params_.POP3Server = "127.0.0.1";
    params_.POP3Port = dovecot.Pop3Port();
    params_.POP3Login = pop3it::kUser;
    params_.POP3Pass = pop3it::kPassword;
    svc::TManagerPackageThread manager(params_, &access_, journal_.Callback());
    manager.PassPauseMs = 50;
    manager.Start();
    const bool imported = PumpUntil([&] { return FilesIn(In("Back")).size() == 1; }, 30000);
    manager.Terminate();
    manager.WaitFor();
    ASSERT_TRUE(imported) << journal_.Text();
    EXPECT_EQ(FilesIn(In("Back")), std::vector<std::string>{name});
    EXPECT_EQ(Imported(), std::vector<std::string>{PackageIdOf(4)});
    EXPECT_TRUE(journal_.Has("!Total received 1.")) << journal_.Text();
    EXPECT_EQ(pop3it::LeftOnServer(dovecot.Pop3Port()),
              (std::vector<std::string>{letters.Subject(2), letters.Subject(3)}));
    EXPECT_TRUE(FilesIn(In("")).empty()) << "nothing of the other letters was saved";
}

}  // namespace
