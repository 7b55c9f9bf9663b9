#include "import_service/uPop3Gateway.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/uMailSubject.h"
#include "platform/rtl/DateTime.h"
#include "tests/import_service/Pop3TestMailbox.h"
#include "tests/zip/ZipTestUtil.h"

using namespace svc;
using pop3test::Letter;
using pop3test::TMailbox;

namespace {

namespace fs = std::filesystem;

// ---- attachment names -----------------------------------------------------------------------

TEST(AttachmentFileName, KeepsOnlyTheBaseNameAndRefusesWhatIsNoFileName) {
    struct Case {
        std::string name;
        std::string safe;  // empty: refused
    };
    const Case cases[] = {
        {"ZuvWebExport_0000703_20240101120000123.zip", "ZuvWebExport_0000703_20240101120000123.zip"},
        {"../../evil.zip", "evil.zip"},
        {"..\\..\\evil.zip", "evil.zip"},
        {"/etc/cron.d/job", "job"},
        {"C:\\Windows\\x.dat", "x.dat"},
        {"dir/", ""},
        {"", ""},
        {".", ""},
        {"..", ""},
        {"a/..", ""},
        {"a\\.", ""},
        {"with\nline.zip", ""},
        {"tab\there.zip", ""},
        {"del\x7F.zip", ""},
        {"c1\xC2\x85.zip", ""},            // U+0085, a C1 control
        {"\xCF\xE0\xEA\xE5\xF2.zip", ""},  // windows-1251 bytes, no UTF-8
        {"\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82.zip", "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82.zip"},
        {"\xC0\xAF.zip", ""},      // overlong "/"
        {"\xED\xA0\x80.zip", ""},  // a surrogate
        {std::string(200, 'a'), std::string(200, 'a')},
        {std::string(201, 'a'), ""},
        {".hidden.zip", ".hidden.zip"},
        {"name with blanks .zip", "name with blanks .zip"},
    };
    for (const auto& c : cases) {
        std::string safe, reason;
        const bool ok = AttachmentFileName(c.name, safe, reason);
        EXPECT_EQ(ok, !c.safe.empty()) << c.name;
        EXPECT_EQ(safe, c.safe) << c.name;
        EXPECT_EQ(reason.empty(), ok) << c.name;
    }
}

// ---- reading letters ----------------------------------------------------------------------------

TEST(MailMessage, ReadsSubjectSenderAndAttachmentsInTheirEncodings) {
    struct Case {
        const char* what;
        std::string raw;
        std::string subject;                                           // ANSI
        std::vector<std::pair<std::string, std::string>> attachments;  // UTF-8 name, content
    };
    const std::string zip("PK\x03\x04\x00\xFF binary\r\n.\r\nrest", 22);
    const std::string pakUtf8 = "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82.zip";  // "Пакет.zip"
    const std::vector<Case> cases = {
        {"base64 attachment", Letter("Plain", {{"filename=\"a.zip\"", zip}}), "Plain", {{"a.zip", zip}}},
        {"two attachments in order",
         Letter("Two", {{"filename=\"1.zip\"", "one"}, {"filename=\"2.dat\"", "two"}}),
         "Two",
         {{"1.zip", "one"}, {"2.dat", "two"}}},
        {"no attachment", Letter("None", {}), "None", {}},
        {"RFC 2231 UTF-8 name",
         Letter("x", {{"filename*=utf-8''%D0%9F%D0%B0%D0%BA%D0%B5%D1%82.zip", "c"}}),
         "x",
         {{pakUtf8, "c"}}},
        {"RFC 2231 windows-1251 name",
         Letter("x", {{"filename*=windows-1251''%CF%E0%EA%E5%F2.zip", "c"}}),
         "x",
         {{pakUtf8, "c"}}},
        {"RFC 2047 name",
         Letter("x", {{"filename=\"=?windows-1251?B?z+Dq5fIuemlw?=\"", "c"}}),
         "x",
         {{pakUtf8, "c"}}},
        {"attachment without a name", Letter("x", {{"size=3", "abc"}}), "x", {{"", "abc"}}},
        {"encoded subject", Letter("=?windows-1251?B?z+Dq5fI=?= 1", {}), "\xCF\xE0\xEA\xE5\xF2 1", {}},
        {"raw windows-1251 subject", Letter("\xCF\xE0\xEA\xE5\xF2", {}), "\xCF\xE0\xEA\xE5\xF2", {}},
        {"raw UTF-8 subject",
         Letter("\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82", {}),
         "\xCF\xE0\xEA\xE5\xF2",
         {}},
        {"quoted-printable part named by its content type",
         "From: a@b\r\nSubject: qp\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=q\r\n\r\n"
         "--q\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
         "--q\r\nContent-Type: text/plain; name=\"note.txt\"\r\nContent-Transfer-Encoding: "
         "quoted-printable\r\n\r\n"
         "a=3Db=\r\nc\r\n--q--\r\n",
         "qp",
         {{"note.txt", "a=bc"}}},
        {"nested multipart and a letter that is the attachment itself",
         "From: a@b\r\nSubject: nested\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; "
         "boundary=o\r\n\r\n"
         "--o\r\nContent-Type: multipart/alternative; boundary=i\r\n\r\n--i\r\nContent-Type: "
         "text/plain\r\n\r\nt\r\n"
         "--i\r\nContent-Type: text/html\r\n\r\n<p>t</p>\r\n--i--\r\n"
         "--o\r\nContent-Type: application/zip\r\nContent-Disposition: attachment; filename=p.zip\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nUEsDBA==\r\n--o--\r\n",
         "nested",
         {{"p.zip", "PK\x03\x04"}}},
        {"single-part letter that is an attachment",
         "From: a@b\r\nSubject: single\r\nMIME-Version: 1.0\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=\"s.dat\"\r\nContent-Transfer-Encoding: "
         "base64\r\n\r\nAAEC\r\n",
         "single",
         {{"s.dat", std::string("\x00\x01\x02", 3)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TMailMessage m;
        m.Parse(c.raw);
        EXPECT_EQ(m.Subject(), c.subject);
        std::vector<std::pair<std::string, std::string>> got;
        for (const auto& a : m.Attachments()) got.emplace_back(a.FileName, a.Content);
        EXPECT_EQ(got, c.attachments);
    }
}

TEST(MailMessage, ReadsTheSender) {
    TMailMessage m;
    m.Parse(Letter("s", {}, "=?windows-1251?B?z+Dq5fI=?= <robot@web.example>"));
    EXPECT_EQ(m.FromAddress(), "robot@web.example");
    EXPECT_EQ(m.FromName(), "\xCF\xE0\xEA\xE5\xF2");
    m.Parse(Letter("s", {}, "bare@web.example"));
    EXPECT_EQ(m.FromAddress(), "bare@web.example");
    EXPECT_EQ(m.FromName(), "");
}

// ---- the gateway over an in-process mailbox -------------------------------------------------

const rtl::TDateTime kTime = rtl::EncodeDateTime(2024, 1, 2, 3, 4, 5, 0);

std::string Signed(const std::string& random, const std::string& prefix = "WebExport") {
    return BuildSignedSubject(prefix, 703, 1, kTime, random);
}

const char* const kPackage = "ZuvWebExport_0000701_20240101120000123.zip";

class Pop3GatewayTest : public ::testing::Test {
protected:
    Pop3GatewayTest() : gateway_(dir_ / "in") {
        gateway_.SetHost("mail.example");
        gateway_.SetUserName("importer");
        gateway_.SetPassword("secret");
        gateway_.SetOnLog(
            [this](const std::string& text, bool important) { journal_.emplace_back(text, important); });
        gateway_.SetClientFactory([this](const TPop3Gateway&) {
            ++clients_;
            return std::make_unique<pop3test::TFakeClient>(box_);
        });
    }

    std::string Folder() const { return dir_ / "in/"; }
    // Files of the import folder and of the scratch folder above it, by name.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir_.Path()))
            if (e.is_regular_file()) names.push_back(fs::relative(e.path(), dir_.Path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Journalled(const std::string& text) const {
        for (const auto& [line, important] : journal_)
            if (line == text) return true;
        return false;
    }
    std::string JournalText() const {
        std::string out;
        for (const auto& [line, important] : journal_) out += (important ? "! " : "  ") + line + "\n";
        return out;
    }

    ziptest::TempDir dir_;
    TMailbox box_;
    TPop3Gateway gateway_;
    std::vector<std::pair<std::string, bool>> journal_;
    int clients_ = 0;
};

TEST_F(Pop3GatewayTest, AcceptsSignedLettersSavesTheirAttachmentsAndDeletesThem) {
    const std::string s1 = Signed("aaaaa"), s3 = Signed("ccccc");
    box_.Add(Letter(s1, {{std::string("filename=\"") + kPackage + "\"", "package bytes"}}));
    box_.Add(Letter("Hello", {{"filename=\"other.zip\"", "x"}}));
    box_.Add(Letter(s3, {}));

    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));

    const std::string dashes42(42, '-');
    const std::vector<std::pair<std::string, bool>> expected = {
        {"Count of letters: 3", true},
        {dashes42, false},
        {"Subject of letter # 1 : \"" + s1 + "\"", true},
        {"This letter contain data for import", true},
        {std::string(25, '-'), true},
        {"  POP3: Letter received :", true},
        {"  From:   web@portal.example <Web Portal>", true},
        {"    File formed: " + Folder() + kPackage, true},
        {"    POP3: Letter was deleted from server. Attachment saved.", true},
        {dashes42, false},
        {"Subject of letter # 2 : \"Hello\"", true},
        {dashes42, false},
        {"Subject of letter # 3 : \"" + s3 + "\"", true},
        {"This letter contain data for import", true},
        {std::string(25, '-'), true},
        {"  POP3: Letter received :", true},
        {"  From:   web@portal.example <Web Portal>", true},
        {"    POP3: Letter without attachment was deleted.", true},
        {"Total received 2.", true},
    };
    EXPECT_EQ(journal_, expected) << JournalText();
    EXPECT_EQ(ziptest::ReadFile(Folder() + kPackage), "package bytes");
    EXPECT_EQ(Files(), std::vector<std::string>{std::string("in/") + kPackage});
    EXPECT_EQ(box_.Uids(), std::vector<std::string>{"uid-2"});
    EXPECT_EQ(box_.quits, 1);
    EXPECT_EQ(gateway_.ProcessedSubjects(), (std::vector<std::string>{s1, s3}));
}

TEST_F(Pop3GatewayTest, LeavesForeignLettersUntouched) {
    std::string upper = Signed("bbbbb");
    for (std::size_t i = 53; i < upper.size(); ++i) upper[i] = char(std::toupper(upper[i]));
    const std::string otherKey = Signed("aaaaa").substr(0, 53) + std::string(32, 'a');
    box_.Add(Letter(Signed("aaaaa", "QelExport"), {{"filename=\"q.zip\"", "export's own"}}));
    box_.Add(Letter(otherKey, {{"filename=\"k.zip\"", "other key"}}));
    box_.Add(Letter(upper, {{"filename=\"u.zip\"", "upper-case signature"}}));

    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    EXPECT_EQ(Files(), std::vector<std::string>{"in/u.zip"});
    EXPECT_EQ(box_.Uids(), (std::vector<std::string>{"uid-1", "uid-2"}));
    // A refused letter gets only its subject line.
    EXPECT_EQ(std::count(journal_.begin(), journal_.end(),
                         std::pair<std::string, bool>("This letter contain data for import", true)),
              1);

    journal_.clear();
    EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
    EXPECT_FALSE(Journalled("Total received 0.")) << JournalText();
    EXPECT_EQ(box_.Uids(), (std::vector<std::string>{"uid-1", "uid-2"}));
}

TEST_F(Pop3GatewayTest, HostileNamesAreSavedByTheirBaseNameInsideTheImportFolder) {
    box_.Add(Letter(Signed("aaaaa"),
                    {{"filename=\"../../evil.zip\"", "e1"}, {"filename=\"..\\\\up.zip\"", "e2"}}));
    box_.Add(Letter(Signed("bbbbb"), {{"filename*=utf-8''%D0%9F%D0%B0%D0%BA%D0%B5%D1%82.zip", "cyr"}}));

    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    EXPECT_EQ(Files(), (std::vector<std::string>{"in/evil.zip", "in/up.zip",
                                                 "in/\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82.zip"}))
        << JournalText();
    // The journal is ANSI: the name converted from UTF-8.
    EXPECT_TRUE(Journalled("    File formed: " + Folder() + "\xCF\xE0\xEA\xE5\xF2.zip")) << JournalText();
    EXPECT_TRUE(box_.Uids().empty());
}

TEST_F(Pop3GatewayTest, ALetterWithARefusedAttachmentLandsNothingAndStaysOnTheServer) {
    const std::pair<const char*, pop3test::TAttachmentPart> cases[] = {
        {"dot-dot", {"filename=\"..\"", "bad"}},
        {"control character", {"filename*=utf-8''bad%01name.zip", "bad"}},
        {"name outside code page 1251", {"filename*=utf-8''%E6%97%A5%E6%9C%AC.zip", "bad"}},
        {"empty name", {"size=3", "bad"}},
        {"same name twice", {std::string("filename=\"") + kPackage + "\"", "second"}},
    };
    for (const auto& [what, bad] : cases) {
        SCOPED_TRACE(what);
        box_ = TMailbox();
        journal_.clear();
        box_.Add(Letter(Signed("aaaaa"), {{std::string("filename=\"") + kPackage + "\"", "good"}, bad}));

        EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));  // the letter counts, as before
        EXPECT_TRUE(Journalled("    Error while saving included file")) << JournalText();
        EXPECT_TRUE(
            Journalled("    POP3: Saved 0 of 2 message attachments. Not saved files keeped on mail server."))
            << JournalText();
        // Neither the good package nor a temporary is left: the letter is read again next time.
        EXPECT_TRUE(Files().empty()) << Files().front();
        EXPECT_EQ(box_.Uids(), std::vector<std::string>{"uid-1"});
        EXPECT_TRUE(gateway_.ProcessedSubjects().empty());
    }
}

TEST_F(Pop3GatewayTest, MissingSettingsAreReportedWithoutAClient) {
    struct Case {
        const char* message;
        std::function<void(TPop3Gateway&)> unset;
    };
    const Case cases[] = {
        {"Host pop3 is not set", [](TPop3Gateway& g) { g.SetHost(""); }},
        {"Username is not set", [](TPop3Gateway& g) { g.SetUserName(""); }},
        {"Password is not set", [](TPop3Gateway& g) { g.SetPassword(""); }},
        {"Port pop3 is not valid: 65646", [](TPop3Gateway& g) { g.SetPort(65536 + 110); }},
        {"Port pop3 is not valid: 0", [](TPop3Gateway& g) { g.SetPort(0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TPop3Gateway gateway(dir_.Path());
        gateway.SetHost("h");
        gateway.SetUserName("u");
        gateway.SetPassword("p");
        std::vector<std::pair<std::string, bool>> journal;
        gateway.SetOnLog(
            [&](const std::string& text, bool important) { journal.emplace_back(text, important); });
        int clients = 0;
        gateway.SetClientFactory([&](const TPop3Gateway&) -> std::unique_ptr<TPop3Client> {
            ++clients;
            return std::make_unique<pop3test::TFakeClient>(box_);
        });
        c.unset(gateway);
        EXPECT_FALSE(gateway.ReceiveMail("WebExport"));
        EXPECT_EQ(journal, (std::vector<std::pair<std::string, bool>>{
                               {std::string("Error: ERROR on MailRead (") + c.message + ")", true}}));
        EXPECT_EQ(clients, 0);
    }
}

TEST_F(Pop3GatewayTest, ARefusedLoginIsReportedTwice) {
    box_.refuseLogin = true;
    box_.Add(Letter(Signed("aaaaa"), {}));
    EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
    EXPECT_EQ(journal_, (std::vector<std::pair<std::string, bool>>{
                            {"Error: Error POP3: Unsuccessful connecting to server. Error: \"-ERR [AUTH] "
                             "Authentication failed.\"",
                             true},
                            {"Error: ERROR on MailRead (-ERR [AUTH] Authentication failed.)", true}}));
    EXPECT_EQ(box_.letters.size(), 1u);
}

TEST_F(Pop3GatewayTest, AFailedRetrievalIsSkippedAndALostConnectionsDeletionsAreRepeated) {
    for (int n = 1; n <= 5; ++n) {
        const std::string name = std::to_string(n) + ".zip";
        box_.Add(Letter(Signed(std::string(5, char('a' + n))), {{"filename=\"" + name + "\"", name}}));
    }
    // The refusal ends the first connection with QUIT: letter 1 goes, the rest are numbered
    // anew. Losing the second connection makes the server forget letter 3's deletion.
    box_.failRetrieve = {"uid-2"};
    box_.dropRetrieve = {"uid-4"};

    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(Journalled("Error: -ERR retrieval failedemail #2")) << JournalText();
    EXPECT_TRUE(Journalled("Error: Connection diedemail #4")) << JournalText();
    EXPECT_TRUE(Journalled("Repeated remove UIN:uid-3")) << JournalText();
    EXPECT_FALSE(Journalled("Repeated remove UIN:uid-5")) << JournalText();  // still marked on its connection
    EXPECT_TRUE(Journalled("Total received 3.")) << JournalText();
    EXPECT_EQ(box_.Uids(), (std::vector<std::string>{"uid-2", "uid-4"}));
    EXPECT_EQ(Files(), (std::vector<std::string>{"in/1.zip", "in/3.zip", "in/5.zip"}));
    for (int n : {1, 3, 5})
        EXPECT_EQ(ziptest::ReadFile(Folder() + std::to_string(n) + ".zip"), std::to_string(n) + ".zip");
    EXPECT_EQ(box_.logins, 3);
}

TEST_F(Pop3GatewayTest, ALetterSavedBeforeIsDeletedAgainInsteadOfBeingSavedTwice) {
    // Before, a letter whose deletion was lost stayed on the server for good, and one whose
    // check failed between saving and deleting could be saved and imported a second time.
    // Blanks around a subject survive the header only inside an encoded word.
    box_.Add(Letter("=?us-ascii?Q?__" + Signed("aaaaa") + "_?=", {{"filename=\"1.zip\"", "1"}}));
    box_.Add(Letter(Signed("bbbbb"), {{"filename=\"2.zip\"", "2"}}));
    box_.dropDelete = {"uid-1"};

    EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(Journalled("Error POP3: \"Connection died\"")) << JournalText();
    EXPECT_TRUE(Journalled("Error: ERROR on MailRead (Connection died)")) << JournalText();
    EXPECT_EQ(Files(), std::vector<std::string>{"in/1.zip"});
    EXPECT_EQ(box_.letters.size(), 2u);
    // Remembered as received, blanks included.
    EXPECT_EQ(gateway_.ProcessedSubjects(), std::vector<std::string>{"  " + Signed("aaaaa") + " "});

    ziptest::WriteFile(Folder() + "1.zip", "imported meanwhile");
    journal_.clear();
    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(Journalled("    POP3: Letter was received before. Deleted from server again."))
        << JournalText();
    EXPECT_EQ(ziptest::ReadFile(Folder() + "1.zip"), "imported meanwhile");
    EXPECT_TRUE(Journalled("Total received 1.")) << JournalText();
    EXPECT_TRUE(box_.letters.empty());
}

TEST_F(Pop3GatewayTest, SubjectsAreComparedTrimmedAndWithoutRegardToCase) {
    box_.Add(Letter(Signed("aaaaa"), {}));
    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    std::string upper = Signed("aaaaa");
    for (std::size_t i = 53; i < upper.size(); ++i) upper[i] = char(std::toupper(upper[i]));
    EXPECT_FALSE(gateway_.CheckSubject(Signed("aaaaa"), "WebExport"));
    EXPECT_FALSE(gateway_.CheckSubject(" " + upper + "\t", "WebExport"));
    EXPECT_TRUE(gateway_.CheckSubject(Signed("bbbbb"), "WebExport"));
}

TEST_F(Pop3GatewayTest, ALostConnectionWhileDeletingEndsTheCheckAndTheNextCheckFinishesTheJob) {
    box_.Add(Letter(Signed("aaaaa"), {{"filename=\"1.zip\"", "1"}}));
    box_.Add(Letter(Signed("bbbbb"), {{"filename=\"2.zip\"", "2"}}));
    box_.dropDelete = {"uid-2"};  // letter 1's deletion is forgotten with it

    EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(Journalled("Error: ERROR on MailRead (Connection died)")) << JournalText();
    EXPECT_EQ(box_.letters.size(), 2u);
    EXPECT_EQ(Files(), (std::vector<std::string>{"in/1.zip", "in/2.zip"}));

    EXPECT_FALSE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(box_.letters.empty());
    EXPECT_EQ(clients_, 2);
}

TEST_F(Pop3GatewayTest, AJournalThatFailsDoesNotStopTheCheck) {
    gateway_.SetOnLog([](const std::string&, bool) { throw std::runtime_error("journal full"); });
    box_.Add(Letter(Signed("aaaaa"), {{"filename=\"1.zip\"", "1"}}));
    EXPECT_TRUE(gateway_.ReceiveMail("WebExport"));
    EXPECT_TRUE(box_.letters.empty());
}

TEST_F(Pop3GatewayTest, ConfigureTakesTheExchangeSettings) {
    TPop3Params params;
    params.CFolderQelImport = "/srv/import";
    params.POP3Server = "pop.example";
    params.POP3Port = 995;
    params.POP3Login = "login";
    params.POP3Pass = "pass";
    params.POP3Ssl = true;
    TPop3Gateway gateway("");
    gateway.Configure(params);
    EXPECT_EQ(gateway.AttachmentFolder(), "/srv/import/");
    EXPECT_EQ(gateway.Host(), "pop.example");
    EXPECT_EQ(gateway.Port(), 995);
    EXPECT_EQ(gateway.UserName(), "login");
    EXPECT_EQ(gateway.Password(), "pass");
    EXPECT_TRUE(gateway.UseTls());
}

}  // namespace
