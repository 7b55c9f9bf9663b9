// Packages the exporter makes, checked from outside: Info-ZIP's unzip and Python's zipfile open
// the archive with its password and find exactly the data file and then XmlOrderList.xml, whose
// documents pass check_documents.py; an encrypted package decrypts with the independent Python
// codec under an openssl-made key; a mailed package reaches aiosmtpd as its attachment and its
// id waits for the send date.
#include <gtest/gtest.h>

#include "common/EnDeCrypt.h"
#include "export_service/uQelOutProcessorsExport.h"
#include "tests/common/SmtpTestServer.h"
#include "tests/export_service/ExportFixture.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace exptest;

namespace {

const std::string kPython = "/usr/bin/python3";

int Shell(const std::string& command, std::string* out = nullptr) {
    return crypttest::Shell(command + " 2>&1", out);
}

// The archive's entry names in order, as Python's zipfile lists them after extracting every
// entry with the password into folder.
std::string ExtractWithPython(const std::string& archive, const std::string& folder) {
    std::string out;
    Shell(
        kPython +
            " -c 'import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nz.extractall(sys.argv[2], pwd=b\"" +
            svc::kArchivePassword + "\")\nprint(\",\".join(z.namelist()))' " + archive + " " + folder,
        &out);
    return out;
}

class PackageIT : public ExportFixture {
protected:
    // Writes what check_documents.py is to find in the package's documents.
    void Manifest(const svc::TEmitentPackageExport& exporter, const std::string& folder) {
        std::ofstream out(folder + "/manifest.tsv");
        out << "header\t" << exporter.PackageId() << "\t7\t3\t"
            << rtl::FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss\"Z\"", exporter.CreationTime()) << "\n";
        out << "file\t" << exporter.FileName << "\n";
        for (int kind : svc::NewPackageKinds(settings_.SourceData))
            out << "list\t" << svc::ExportKind(kind).ListName << "\t2\n";
    }
    std::string Stem(const svc::TEmitentPackageExport& exporter) const {
        return exporter.FileName.substr(0, exporter.FileName.size() - 4);
    }
};

}  // namespace

TEST_F(PackageIT, ArchiveHoldsTheDataFileAndThenTheOrderListBehindThePassword) {
    auto exporter = NewExporter();
    exporter->Export();
    const std::string archive = dir_ / ("shared/" + Stem(*exporter) + ".zip");
    std::string out;
    EXPECT_EQ(Shell("unzip -t -P " + std::string(svc::kArchivePassword) + " " + archive, &out), 0) << out;
    EXPECT_NE(Shell("unzip -t -P wrong " + archive, &out), 0) << "the archive is encrypted";
    fs::create_directories(dir_ / "unpacked");
    EXPECT_EQ(ExtractWithPython(archive, dir_ / "unpacked"), exporter->FileName + ",XmlOrderList.xml\n");
    Manifest(*exporter, dir_ / "unpacked");
    EXPECT_EQ(
        Shell(kPython + " " DX_SOURCE_DIR "/tests/export_service/check_documents.py " + (dir_ / "unpacked"),
              &out),
        0)
        << out;
}

TEST_F(PackageIT, EncryptedPackageDecryptsWithTheIndependentCodec) {
    ASSERT_EQ(Shell("cd " + (dir_ / "") +
                    " && openssl genrsa -out k.pem 2048 && openssl rsa -in k.pem -outform MSBLOB "
                    "-out k.blob && openssl rsa -in k.pem -pubout -outform MSBLOB -out k.pub"),
              0);
    settings_.EnableExportEncrypt = true;
    settings_.ExportPublicKey = svc::BytesToHex(ReadFile(dir_ / "k.pub"));
    ASSERT_LE(settings_.ExportPublicKey.size(), 4000u) << "the key fits the exchange setting";
    auto exporter = NewExporter();
    exporter->Export();
    const std::string dat = dir_ / ("shared/" + Stem(*exporter) + ".dat");
    ASSERT_TRUE(fs::exists(dat)) << JournalText();
    EXPECT_TRUE(Journalled("!Exchange data files crypted"));
    EXPECT_FALSE(fs::exists(dir_ / ("work/" + Stem(*exporter) + ".zip"))) << "the plain archive is deleted";
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 1);
    std::string out;
    ASSERT_EQ(Shell(kPython + " " DX_SOURCE_DIR "/tests/import_service/dat_codec.py decrypt " +
                        (dir_ / "k.blob") + " " + dat + " " + (dir_ / "plain.zip"),
                    &out),
              0)
        << out;
    EXPECT_EQ(Shell("unzip -t -P " + std::string(svc::kArchivePassword) + " " + (dir_ / "plain.zip"), &out),
              0)
        << out;
    fs::create_directories(dir_ / "unpacked");
    EXPECT_EQ(ExtractWithPython(dir_ / "plain.zip", dir_ / "unpacked"),
              exporter->FileName + ",XmlOrderList.xml\n");
}

TEST_F(PackageIT, MailedPackageArrivesAndWaitsForItsSendDate) {
    smtptest::SmtpServer server({});
    settings_.MailRoad = true;
    sender_->SMTPServer = "127.0.0.1";
    sender_->SMTPPort = std::stoi(server.Port());
    sender_->SMTPSender = "qel@bank.example";
    sender_->WorkFolder = settings_.WorkFolder;
    sender_->OnLog = log_.Callback();
    auto exporter = NewExporter();
    exporter->Export();
    EXPECT_TRUE(Journalled("!SendPackage mail " + exporter->OutboxFolder() + "/" + Stem(*exporter) + ".zip"));
    ASSERT_TRUE(sender_->WaitForLetters(30000, 5000));
    ASSERT_TRUE(server.HasMessage(1)) << JournalText();
    EXPECT_EQ(server.Summary(1)["rcpt_to"], "web@portal.example");
    const std::string back = dir_ / ("work/Back/" + Stem(*exporter) + ".zip");
    EXPECT_TRUE(server.Attachment(1, 0) == ReadFile(back)) << "the attachment is the package moved to Back";
    EXPECT_TRUE(Files(exporter->OutboxFolder()).empty());
    EXPECT_FALSE(fs::exists(dir_ / "work/XmlOrderList.xml"));
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 0)
        << "not before the letter has gone";
    EXPECT_EQ(sender_->TakeSentPackages(), std::vector<std::string>{exporter->PackageId()});
}

TEST_F(PackageIT, MailedPackageOfADownServerStaysInTheOutbox) {
    settings_.MailRoad = true;
    sender_->SMTPServer = "127.0.0.1";
    sender_->SMTPPort = smtptest::UnusedPort();
    sender_->WorkFolder = settings_.WorkFolder;
    sender_->OnLog = log_.Callback();
    auto exporter = NewExporter();
    exporter->Export();
    ASSERT_TRUE(sender_->WaitForLetters(30000, 5000));
    EXPECT_EQ(Files(exporter->OutboxFolder()), std::vector<std::string>{Stem(*exporter) + ".zip"});
    EXPECT_TRUE(sender_->TakeSentPackages().empty());
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 0);
}
