// The web side's package maker: the requests text, the refusals, and packages that the import's
// own decryption, unzip engine, XML reader and request importer take in (against the recording
// database of the import tests).
#include "tools/WebPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "import_service/PackageDecrypt.h"
#include "import_service/ZipReaderUnZip.h"
#include "import_service/uQelInProcessors.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"
#include "tests/import_service/ImportFakes.h"
#include "tests/platform/os/CryptTestSupport.h"
#include "tests/tools/WebRequestsFixture.h"

using namespace svc;
namespace fs = std::filesystem;

namespace {

const char* const kPackageId = "{0F8FAD5B-D9CB-469F-A165-70867728950E}";

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

TWebPackageHeader Header() {
    TWebPackageHeader h;
    h.Issuer = 7;
    h.Branch = 1;
    h.Created = rtl::EncodeDateTime(2024, 3, 5, 10, 20, 30, 123);
    h.PackageId = kPackageId;
    h.Version = ServiceVersion;
    return h;
}

// The message of the EWebPackageError the call raises; "" when it raises none.
template <class F>
std::string Refusal(F&& call) {
    try {
        call();
    } catch (const EWebPackageError& e) {
        return e.Message();
    }
    return "";
}

}  // namespace

TEST(WebRequests, TheTextGivesItemsFieldsAndLinesInOrder) {
    const auto r = ParseWebRequests(webpacktest::kEveryKind);
    ASSERT_EQ(r.size(), 13u);
    std::vector<std::string> items;
    for (const auto& q : r) items.push_back(q.Item);
    EXPECT_EQ(items, (std::vector<std::string>{"RECHARGE", "RECHARGE", "DEBIT", "CHANGE_LIMIT", "BLOCK_CARD",
                                               "CHANGE_HOLDER", "CHANGE_CLIENT_STATE", "STATUS_REQUEST",
                                               "PACKAGE_CONFIRM", "CHANGE_CARD_ONLINE_LIMIT", "CREATE_COUPON",
                                               "COUPON_REQUEST", "RECHARGE"}));
    EXPECT_EQ(r[0].Line, 2);
    EXPECT_EQ(r[2].Line, 5);  // the blank line counts
    EXPECT_EQ(r[4].Line, 7);
    // Leading blanks, a tab and several blanks between words; quotes with escapes.
    ASSERT_EQ(r[4].Fields.size(), 6u);
    EXPECT_EQ(r[4].Fields[0], (std::pair<std::string, std::string>{"Id", "15"}));
    EXPECT_EQ(r[4].Fields[5].second, "карта \"Север\" <утеряна> & C:\\dir");
    EXPECT_EQ(r[5].Fields.back().second, "Иванов Иван");
    EXPECT_EQ(r[3].Fields.back(), (std::pair<std::string, std::string>{"CurrentLimitService", "3;4"}));

    // CR LF line ends and an empty quoted value.
    const auto crlf = ParseWebRequests("STATUS_REQUEST Id=1\r\nSTATUS_REQUEST Id=\"\"\r\n");
    ASSERT_EQ(crlf.size(), 2u);
    EXPECT_EQ(crlf[0].Fields[0].second, "1");
    EXPECT_EQ(crlf[1].Fields[0].second, "");
    EXPECT_TRUE(ParseWebRequests("# nothing\n\n   \n").empty());
}

TEST(WebRequests, BadTextIsRefusedNamingItsLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"STATUS_REQUEST Id=1\nRECHARG Id=1", "line 2: unknown request \"RECHARG\""},
        {"RECHARGE_LIST Id=1", "line 1: unknown request \"RECHARGE_LIST\""},
        {"recharge Id=1", "line 1: unknown request \"recharge\""},  // list names are compared exactly
        {"STATUS_REQUEST Id=1 ID=2", "line 1: field ID given twice"},
        {"STATUS_REQUEST Id", "line 1: expected Name=Value, found \"Id\""},
        {"STATUS_REQUEST =1", "line 1: expected Name=Value, found \"\""},
        {"STATUS_REQUEST 1d=1", "line 1: expected Name=Value, found \"1d\""},
        {"STATUS_REQUEST Id=\"1", "line 1: the value of Id has no closing quote"},
        {"STATUS_REQUEST Id=\"1\\\"", "line 1: the value of Id has no closing quote"},
        {"STATUS_REQUEST Id=\"1\"x", "line 1: a blank must follow the quoted value of Id"},
        {"\n\nSTATUS_REQUEST Id=\xC0\xE1", "line 3: the text is not UTF-8"},
        {"STATUS_REQUEST Id=\xED\xA0\x80", "line 1: the text is not UTF-8"},  // a surrogate
        {"STATUS_REQUEST Id=\xE2\x82", "line 1: the text is not UTF-8"},      // cut short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Refusal([&] { ParseWebRequests(c.text); }), c.message);
    }
}

TEST(WebRequests, WhatTheImportWouldRefuseIsRefusedBeforeAnyPackage) {
    EXPECT_EQ(Refusal([] { CheckWebRequests(ParseWebRequests(webpacktest::kEveryKind)); }), "");
    struct Case {
        const char* text;
        const char* start;  // the message starts so; the import's own text follows
        const char* field;
    };
    const Case cases[] = {
        {"STATUS_REQUEST Id=1\nDEBIT Id=1", "line 2: DEBIT: ", "ClientId"},
        {"RECHARGE Id=1 ClientId=1 ClientType=1 CardNumber=1 Amount=1,5 ServiceId=5 DateCreate=2024-03-05",
         "line 1: RECHARGE: ", "Amount"},
        {"RECHARGE Id=1 ClientId=1 ClientType=1 CardNumber=1 Amount=1 ServiceId=5 DateCreate=2024-02-30",
         "line 1: RECHARGE: ", "DateCreate"},
        {"CHANGE_CLIENT_STATE Id=99999999999 ClientId=1 ClientType=1 BeforeState=1 NewState=2",
         "line 1: CHANGE_CLIENT_STATE: ", "Id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string message = Refusal([&] { CheckWebRequests(ParseWebRequests(c.text)); });
        EXPECT_EQ(message.rfind(c.start, 0), 0u) << message;
        EXPECT_NE(message.find(c.field), std::string::npos) << message;
    }
}

TEST(WebPackageName, IssuerBranchAndTimeAtTheirPositions) {
    const std::string stem = WebPackageStem(7, 1, rtl::EncodeDateTime(2024, 3, 5, 10, 20, 30, 123));
    EXPECT_EQ(stem, "ZuvWebExport_0000701_20240305102030123");
    EXPECT_EQ(stem.size(), 38u);
    EXPECT_EQ(WebPackageStem(99999, 99, rtl::EncodeDateTime(1999, 12, 31, 23, 59, 59, 999)),
              "ZuvWebExport_9999999_19991231235959999");
    for (auto [issuer, branch] :
         {std::pair{100000, 1}, std::pair{-1, 1}, std::pair{7, 100}, std::pair{7, -1}}) {
        SCOPED_TRACE(std::to_string(issuer) + "/" + std::to_string(branch));
        EXPECT_NE(Refusal([&] { WebPackageStem(issuer, branch, rtl::Now()); }), "");
    }
}

TEST(WebPackageName, ANewHeaderHasAFreshIdAndTheImportsVersion) {
    const TWebPackageHeader a = NewWebPackageHeader(7, 1), b = NewWebPackageHeader(7, 1);
    EXPECT_EQ(a.PackageId.size(), 38u);
    EXPECT_NE(a.PackageId, b.PackageId);
    EXPECT_EQ(a.Version, "2.9.1.0");
    EXPECT_LT(rtl::SecondsBetween(a.Created, rtl::Now()), 60);
}

class WebPackageTest : public crypttest::KeyStoreTest {
protected:
    WebPackageTest() : KeyStoreTest("webpack") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        fs::create_directories(Out());
        fs::create_directories(Path("temp"));
    }
    std::string Out() const { return Path("out"); }

    // The import's key pair in its container; returns the public key as zuvcrypt prints it.
    static std::string ImportKey(const char* container = ImportKeyContainer) {
        using namespace os;
        HCRYPTPROV prov = 0;
        HCRYPTKEY pair = 0;
        EXPECT_TRUE(CryptAcquireContextA(&prov, container, nullptr, PROV_RSA_FULL,
                                         CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
        EXPECT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 1024u << 16, &pair));
        std::string blob = crypttest::ExportKeyBlob(pair, 0, PUBLICKEYBLOB);
        CryptDestroyKey(pair);
        CryptReleaseContext(prov, 0);
        return BytesToHex(blob);
    }

    // Runs the import's request importer over the package's XML file in the temp folder.
    TEmitentPackageImport::TResult Import(const std::string& xmlName) {
        TEmitentPackageImport importer(7, 1, Path("temp") + "/", xmlName, &session_, dm_);
        importer.OnLog = [this](const std::string& text, bool) { journal_ += text + "\n"; };
        importer.Import();
        EXPECT_EQ(importer.PackageId(), kPackageId);
        EXPECT_TRUE(rtl::SameDateTime(importer.DateTimeCreate(), Header().Created));
        return importer.Result();
    }
    int Calls(const std::string& procedure) const {
        return static_cast<int>(std::count_if(
            db_.committed.begin(), db_.committed.end(),
            [&](const std::string& l) { return l.rfind("ZUV_EXPORT_OUT_PACK." + procedure + "(", 0) == 0; }));
    }

    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeFactory factory_{db_};
    TdmMainDataModule dm_{factory_};
    std::string journal_;
};

TEST_F(WebPackageTest, PlainAndEncryptedPackagesAreImportedByTheImport) {
    const std::string publicKey = ImportKey();
    for (bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted ? "encrypted" : "plain");
        db_.committed.clear();
        const std::string stem = "ZuvWebExport_0000701_20240305102030123";
        const std::string made = MakeWebPackage(Header(), ParseWebRequests(webpacktest::kEveryKind), Out(),
                                                encrypted ? publicKey : "");
        EXPECT_EQ(made, Out() + "/" + stem + (encrypted ? ".dat" : ".zip"));
        EXPECT_EQ(Names(Out()), std::set<std::string>{fs::path(made).filename().string()});  // no work files

        std::string archive = made;
        if (encrypted) {
            std::string error;
            archive = Path("decrypted.zip");
            ASSERT_TRUE(DecryptFileWithKey(made, archive, ImportKeyContainer, error)) << error;
        }
        EXPECT_FALSE(UnZipArchive(archive, Path("temp"), "wrong-password"));
        ASSERT_TRUE(UnZipArchive(archive, Path("temp"), WebArchivePassword));
        ASSERT_EQ(Names(Path("temp")), std::set<std::string>{stem + ".xml"});

        ASSERT_EQ(Import(stem + ".xml"), TEmitentPackageImport::TResult::Imported) << journal_;
        EXPECT_EQ(Calls("p_set_dr_request"), 3);
        for (const char* p : {"p_set_dd_request", "p_set_oil_request", "p_set_lost_card_request",
                              "p_set_ch_holder_request", "P_SET_CLIENT_STATE", "set_status_imported"})
            EXPECT_EQ(Calls(p), 1) << p << "\n" << impfake::TFakeDb::Join(db_.committed);
        // Texts reach the database in code page 1251, markup and escapes undone.
        const std::string all = impfake::TFakeDb::Join(db_.committed);
        EXPECT_NE(all.find("P_LOST_COMMENT='" + rtl::Utf8ToAnsi("карта \"Север\" <утеряна> & C:\\dir") + "'"),
                  std::string::npos)
            << all;
        EXPECT_NE(all.find("P_CARD_HOLDER_NAME='" + rtl::Utf8ToAnsi("Иванов Иван") + "'"), std::string::npos);
        EXPECT_FALSE(fs::exists(Path("temp/" + stem + ".xml")));  // the importer deletes it
        fs::remove(made);
    }
}

TEST_F(WebPackageTest, AnotherKeyCannotOpenTheEncryptedPackage) {
    ImportKey();
    const std::string otherKey = ImportKey("ZUV_SOMEONE_ELSE");
    const std::string made =
        MakeWebPackage(Header(), ParseWebRequests("STATUS_REQUEST Id=1"), Out(), otherKey);
    std::string error;
    EXPECT_FALSE(DecryptFileWithKey(made, Path("x.zip"), ImportKeyContainer, error));
    EXPECT_EQ(error.rfind("Error CryptImportKey: ", 0), 0u) << error;
}

TEST_F(WebPackageTest, AFailureLeavesTheFolderAsItWas) {
    const std::string stem = "ZuvWebExport_0000701_20240305102030123";
    crypttest::WriteFile(Out() + "/" + stem + ".zip", "taken");
    struct Case {
        const char* what;
        const char* requests;
        TWebPackageHeader header;
        std::string key;
        std::string message;  // the refusal starts so
    };
    TWebPackageHeader badId = Header();
    badId.PackageId = "{short}";
    TWebPackageHeader otherTime = Header();
    otherTime.Created = rtl::EncodeDateTime(2024, 3, 5, 10, 20, 31, 0);
    const Case cases[] = {
        {"existing package", "STATUS_REQUEST Id=1", Header(), "",
         "the package " + Out() + "/" + stem + ".zip exists"},
        {"bad request", "STATUS_REQUEST Id=1\nDEBIT Id=2", otherTime, "", "line 2: DEBIT: "},
        {"bad package id", "STATUS_REQUEST Id=1", badId, "", "the package id must be 38 characters"},
        {"key not hexadecimal", "STATUS_REQUEST Id=1", otherTime, "zz", "cannot encrypt the package: "},
        {"key no public key blob", "STATUS_REQUEST Id=1", otherTime, "0102", "cannot encrypt the package: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string message =
            Refusal([&] { MakeWebPackage(c.header, ParseWebRequests(c.requests), Out(), c.key); });
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(Names(Out()), std::set<std::string>{stem + ".zip"});
    }
    EXPECT_EQ(crypttest::ReadFile(Out() + "/" + stem + ".zip"), "taken");
    EXPECT_EQ(Refusal([&] { MakeWebPackage(otherTime, {}, Path("missing"), ""); }),
              "no folder " + Path("missing"));
}
