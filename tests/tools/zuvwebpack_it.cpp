// zuvwebpack as its users run it: its command line, and packages read back by Python's zipfile
// and xml modules; an encrypted one made for a key that zuvcrypt put into the import's container
// is opened by the independent Python codec with openssl's private key.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform/os/CryptTestSupport.h"
#include "tests/tools/WebRequestsFixture.h"

using namespace crypttest;

namespace {

const std::string kTool = std::string(DX_BINARY_DIR) + "/tools/zuvwebpack";
const std::string kZuvcrypt = std::string(DX_BINARY_DIR) + "/tools/zuvcrypt";
const std::string kCheck = std::string(DX_SOURCE_DIR) + "/tests/tools/check_webpack.py";
const std::string kCodec = std::string(DX_SOURCE_DIR) + "/tests/import_service/dat_codec.py";

struct TRun {
    int status;
    std::string out;
    std::string err;
};

class ZuvwebpackTest : public KeyStoreTest {
protected:
    ZuvwebpackTest() : KeyStoreTest("zuvwebpack") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        std::filesystem::create_directories(Path("out"));
        WriteFile(Path("requests.txt"), webpacktest::kEveryKind);
    }
    TRun Run(const std::string& program, const std::string& args) {
        TRun r;
        r.status = Shell("DX_KEYSTORE=" + folder_ + "/store " + program + " " + args + " 2>" + Path("stderr"),
                         &r.out);
        r.err = ReadFile(Path("stderr"));
        return r;
    }
    TRun Tool(const std::string& args) { return Run(kTool, args); }
    std::string Check(const std::string& zip) {
        std::string out;
        EXPECT_EQ(Shell("python3 " + kCheck + " " + zip +
                            " KAR_TIM_LOW --field BLOCK_CARD.Comment --field RECHARGE.Amount",
                        &out),
                  0);
        return out;
    }
    size_t Entries(const std::string& folder) {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
    }
};

const char* const kExpected =
    "name=ok\n"
    "entries=ZuvWebExport_0000701_20240305102030123.xml\n"
    "encrypted=1\n"
    "declared=UTF-8\n"
    "root=RequestsData\n"
    "header=PackageId=\"{0F8FAD5B-D9CB-469F-A165-70867728950E}\" Emitent=\"7\" Filial=\"1\" "
    "DateTimeCreate=\"2024-03-05T10:20:30.123\" Version=\"2.9.1.0\"\n"
    "lists=RECHARGE_LIST:2 DEBIT_LIST:1 CHANGE_LIMIT_LIST:1 BLOCK_CARD_LIST:1 CHANGE_HOLDER_LIST:1 "
    "CHANGE_CLIENT_STATE_LIST:1 STATUS_REQUEST_LIST:1 PACKAGE_CONFIRM_LIST:1 CHANGE_CARD_ONLINE_LIMIT_LIST:1 "
    "CREATE_COUPON_LIST:1 COUPON_REQUEST_LIST:1 RECHARGE_LIST:1\n"
    "field BLOCK_CARD.Comment=карта \"Север\" <утеряна> & C:\\dir\n"
    "field RECHARGE.Amount=250.5\n";

const std::string kFixed =
    "--issuer 7 --branch 1 --time 20240305102030123 "
    "--package-id {0F8FAD5B-D9CB-469F-A165-70867728950E} ";

}  // namespace

TEST_F(ZuvwebpackTest, PlainPackageReadByPython) {
    TRun r = Tool(kFixed + Path("requests.txt") + " " + Path("out"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Path("out/ZuvWebExport_0000701_20240305102030123.zip") + "\n");
    EXPECT_EQ(Check(Path("out/ZuvWebExport_0000701_20240305102030123.zip")), kExpected);

    // Requests from standard input, the time and id of now.
    r = Tool("--issuer 12345 --branch 67 - " + Path("out") + " < " + Path("requests.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string made = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(made.rfind(Path("out/ZuvWebExport_1234567_"), 0), 0u) << made;
    EXPECT_EQ(Check(made).substr(0, 8), "name=ok\n");
}

TEST_F(ZuvwebpackTest, EncryptedForTheImportsKeyAsZuvcryptPrintsIt) {
    ASSERT_EQ(Shell("cd " + folder_ +
                    " && openssl genrsa -out k.pem 1024 2>/dev/null && openssl rsa -in k.pem -outform MSBLOB "
                    "-out k.blob 2>/dev/null"),
              0);
    ASSERT_EQ(Run(kZuvcrypt, "import-key ZUV_QEL_IMPORT " + Path("k.blob")).status, 0);
    TRun key = Run(kZuvcrypt, "public-key ZUV_QEL_IMPORT");
    ASSERT_EQ(key.status, 0) << key.err;

    TRun r = Tool(kFixed + "--public-key " + key.out.substr(0, key.out.find('\n')) + " " +
                  Path("requests.txt") + " " + Path("out"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Path("out/ZuvWebExport_0000701_20240305102030123.dat") + "\n");
    ASSERT_EQ(Shell("python3 " + kCodec + " decrypt " + Path("k.blob") + " " +
                    Path("out/ZuvWebExport_0000701_20240305102030123.dat") + " " +
                    Path("ZuvWebExport_0000701_20240305102030123.zip")),
              0);
    EXPECT_EQ(Check(Path("ZuvWebExport_0000701_20240305102030123.zip")), kExpected);
}

TEST_F(ZuvwebpackTest, CommandLineAndRefusals) {
    struct Case {
        std::string args;
        int status;
        std::string err;  // standard error starts so
    };
    const std::string files = " " + Path("requests.txt") + " " + Path("out");
    WriteFile(Path("bad.txt"), "RECHARGE Id=1\n");
    const Case cases[] = {
        {"--branch 1" + files, 2, "usage: zuvwebpack"},
        {"--issuer 7" + files, 2, "usage: zuvwebpack"},
        {"--issuer 7 --branch 1 " + Path("requests.txt"), 2, "usage: zuvwebpack"},
        {"--issuer 7 --branch 1 --colour red" + files, 2, "usage: zuvwebpack"},
        {"--issuer 7 --issuer 8 --branch 1" + files, 2, "usage: zuvwebpack"},
        {"--issuer seven --branch 1" + files, 1, "zuvwebpack: --issuer takes a number: seven"},
        {"--issuer 7 --branch 100" + files, 1, "zuvwebpack: the branch must be a number from 0 to 99"},
        {"--issuer 7 --branch 1 --time 20240230102030123" + files, 1,
         "zuvwebpack: --time takes a valid time"},
        {"--issuer 7 --branch 1 --time 2024030510203012" + files, 1, "zuvwebpack: --time takes a valid time"},
        {"--issuer 7 --branch 1 --package-id 123" + files, 1, "zuvwebpack: --package-id takes a {GUID}: 123"},
        {"--issuer 7 --branch 1 " + Path("bad.txt") + " " + Path("out"), 1, "zuvwebpack: line 1: RECHARGE: "},
        {"--issuer 7 --branch 1 " + Path("none.txt") + " " + Path("out"), 1, "zuvwebpack: cannot read "},
        {"--issuer 7 --branch 1 " + Path("requests.txt") + " " + Path("none"), 1, "zuvwebpack: no folder "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        TRun r = Tool(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
    EXPECT_EQ(Entries(Path("out")), 0u);

    for (const char* help : {"--help", "-h"}) {
        TRun r = Tool(help);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: zuvwebpack", 0), 0u);
        EXPECT_NE(r.out.find("zuvcrypt public-key ZUV_QEL_IMPORT"), std::string::npos);
    }
}
