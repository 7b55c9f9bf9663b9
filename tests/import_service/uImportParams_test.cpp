// The import parameters: Connection.ini with its LogInPath, and the import set of exchange
// settings read one at a time through the settings procedure.
#include "import_service/uImportParams.h"

#include <gtest/gtest.h>

#include <map>

#include "common/EnDeCrypt.h"
#include "platform/rtl/Files.h"
#include "tests/import_service/ImportFakes.h"
#include "tests/platform/os/OsTestSupport.h"

using namespace svc;

namespace {

// ---- Connection.ini -------------------------------------------------------------------------

std::string Encrypted(const std::string& plain) {
    std::string error;
    return EncryptStringWithPassPhrase(plain, ConnectionIniPassPhrase, error);
}

TEST(ImportConnectionIni, TheDeployedSampleLoads) {
    TImportParamsStorage params;
    ASSERT_TRUE(params.LoadConnectionIni(DX_SOURCE_DIR "/deploy/Connection.ini.import.sample"));
    EXPECT_EQ(params.Server, "qel.example.org:1521/QEL");
    EXPECT_EQ(params.Scheme, "ZUV");
    EXPECT_EQ(params.OraHome, 0);
    EXPECT_EQ(params.UserName, "zuv_exchange");
    EXPECT_EQ(params.Password, "change-me");
    EXPECT_EQ(params.LogPath, "/var/log/zuv/in");
    EXPECT_FALSE(params.ExtendedLog);
}

TEST(ImportConnectionIni, IncompleteFilesAreRefusedWithoutDecrypting) {
    ostest::TempDir dir("impini");
    const std::string user = Encrypted("qel"), password = Encrypted("secret");
    const auto ini = [&](const std::string& connection, const std::string& log) {
        return "[CONNECTION_QEL]\n" + connection + "\n[LOG]\n" + log + "\n";
    };
    const std::string complete =
        "Server=QEL\nOraHome=1\nScheme=ZUV\nUserName=" + user + "\nPassword=" + password;
    struct Case {
        const char* what;
        std::string text;
        bool loads;
    };
    const Case cases[] = {
        {"complete", ini(complete, "LogInPath=/tmp/in\nExtendedLog=1"), true},
        {"OraHome missing", ini("Server=QEL\nScheme=ZUV\nUserName=" + user + "\nPassword=" + password, ""),
         false},
        {"OraHome not a number",
         ini("Server=QEL\nOraHome=x\nScheme=ZUV\nUserName=" + user + "\nPassword=" + password, ""), false},
        {"scheme empty",
         ini("Server=QEL\nOraHome=0\nScheme=\nUserName=" + user + "\nPassword=" + password, ""), false},
        {"password missing", ini("Server=QEL\nOraHome=0\nScheme=ZUV\nUserName=" + user, ""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        crypttest::WriteFile(dir / "Connection.ini", c.text);
        TImportParamsStorage params;
        EXPECT_EQ(params.LoadConnectionIni(dir / "Connection.ini"), c.loads);
        if (c.loads) {
            EXPECT_EQ(params.UserName, "qel");
            EXPECT_EQ(params.Password, "secret");
            EXPECT_EQ(params.LogPath, "/tmp/in");
            EXPECT_TRUE(params.ExtendedLog);
        } else {
            EXPECT_NE(params.UserName, "qel");
        }
    }
    TImportParamsStorage params;
    EXPECT_FALSE(params.LoadConnectionIni(dir / "absent.ini"));
}

TEST(ImportConnectionIni, TheExportsLogKeyIsNotRead) {
    ostest::TempDir dir("impini");
    crypttest::WriteFile(dir / "Connection.ini",
                         "[CONNECTION_QEL]\nServer=Q\nOraHome=0\nScheme=Z\nUserName=" + Encrypted("u") +
                             "\nPassword=" + Encrypted("p") + "\n[LOG]\nLogOutPath=/var/log/out\n");
    TImportParamsStorage params;
    ASSERT_TRUE(params.LoadConnectionIni(dir / "Connection.ini"));
    EXPECT_EQ(params.LogPath, "");
}

TEST(ImportConnectionIni, CredentialsThatDoNotDecryptRaise) {
    ostest::TempDir dir("impini");
    const std::pair<std::string, std::string> cases[] = {
        {"UserName=ZZ\nPassword=" + Encrypted("p"), "Error in decrypting user name: "},
        {"UserName=" + Encrypted("u") + "\nPassword=0011", "Error in decrypting password: "},
    };
    for (const auto& [credentials, prefix] : cases) {
        crypttest::WriteFile(dir / "Connection.ini",
                             "[CONNECTION_QEL]\nServer=Q\nOraHome=0\nScheme=Z\n" + credentials);
        TImportParamsStorage params;
        try {
            params.LoadConnectionIni(dir / "Connection.ini");
            ADD_FAILURE() << prefix;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message().rfind(prefix, 0), 0u) << e.Message();
        }
    }
}

// ---- Exchange settings ----------------------------------------------------------------------

class ImportSettingsTest : public ::testing::Test {
protected:
    ImportSettingsTest() {
        db_.handlers["zuv_export_out_pack.get_zuv_param"] = [this](impfake::TFakeProc& p) {
            const std::string name = p.Params().ParamByName("P_PARAM")->AsString();
            asked_.push_back(name);
            const auto found = settings_.find(name);
            if (found == settings_.end()) {
                p.Params().ParamByName("P_VALUE")->Clear();
            } else {
                p.Params().ParamByName("P_VALUE")->SetAsString(found->second);
            }
        };
        db_.handlers["zuv_export_out_pack.get_zuv_qel_db_version"] = [](impfake::TFakeProc& p) {
            p.Params().ParamByName("RESULT")->SetAsString("2.9.1.0");
        };
        settings_ = {{"CIntervalQelInSrvc", "60000"},
                     {"FolderSharingQelIn", dir_ / "share"},
                     {"CFolderQelImport", dir_ / "import"},
                     {"Pop3EnableQelIn", "1"},
                     {"POP3Port", "995"},
                     {"POP3Server", "mail.example.org"},
                     {"POP3Login", XorString("inbox")},
                     {"POP3Pass", XorString("p@ss")},
                     {"EnableImportEncrypt", "1"},
                     {"POP3Ssl", "1"},
                     {"PC_SRV_NAME_QEL_IN", "qelhost"}};
    }

    void Load() { params_.LoadParams(getParam_, getVersion_, &session_); }

    ostest::TempDir dir_{"impparams"};
    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeProc getParam_{db_, GetZuvQelParamDecl()};
    impfake::TFakeProc getVersion_{db_, GetZuvQelDBVersionDecl()};
    std::map<std::string, std::string> settings_;
    std::vector<std::string> asked_;
    TImportParamsStorage params_;
};

TEST_F(ImportSettingsTest, TheImportSetIsReadInOrderAndConverted) {
    Load();
    EXPECT_EQ(asked_,
              (std::vector<std::string>{"CIntervalQelInSrvc", "FolderSharingQelIn", "CFolderQelImport",
                                        "Pop3EnableQelIn", "POP3Port", "POP3Server", "POP3Login", "POP3Pass",
                                        "EnableImportEncrypt", "POP3Ssl", "PC_SRV_NAME_QEL_IN"}));
    EXPECT_EQ(params_.CIntervalQelInSrvc, 60000);
    EXPECT_EQ(params_.FolderSharingQelIn, dir_ / "share/");
    EXPECT_EQ(params_.CFolderQelImport, dir_ / "import/");
    EXPECT_TRUE(params_.Pop3EnableQelIn);
    EXPECT_TRUE(params_.EnableImportEncrypt);
    EXPECT_TRUE(params_.POP3Ssl);
    EXPECT_EQ(params_.ComputerNameSetting, "qelhost");
    EXPECT_EQ(params_.DBVersion, "2.9.1.0");
    EXPECT_TRUE(rtl::DirectoryExists(params_.FolderSharingQelIn));
    EXPECT_TRUE(rtl::DirectoryExists(params_.CFolderQelImport));

    const TPop3Params pop3 = params_.Pop3Params();
    EXPECT_EQ(pop3.CFolderQelImport, dir_ / "import/");
    EXPECT_EQ(pop3.POP3Server, "mail.example.org");
    EXPECT_EQ(pop3.POP3Port, 995);
    EXPECT_EQ(pop3.POP3Login, "inbox");
    EXPECT_EQ(pop3.POP3Pass, "p@ss");
    EXPECT_TRUE(pop3.POP3Ssl);
}

TEST_F(ImportSettingsTest, FlagsAreOnOnlyForExactlyOne) {
    for (const char* value : {"0", "true", " 1", "1 ", "01", ""}) {
        settings_["Pop3EnableQelIn"] = value;
        settings_["EnableImportEncrypt"] = value;
        settings_["POP3Ssl"] = value;
        if (*value == '\0') continue;  // an empty Pop3EnableQelIn is refused, below
        Load();
        EXPECT_FALSE(params_.Pop3EnableQelIn) << value;
        EXPECT_FALSE(params_.EnableImportEncrypt) << value;
        EXPECT_FALSE(params_.POP3Ssl) << value;
    }
}

TEST_F(ImportSettingsTest, RefusedSettings) {
    const std::string notSpecified =
        "Exchange settings are not specified. Please specify correct exchange settings in Zuv Admin";
    const std::pair<std::pair<const char*, const char*>, std::string> cases[] = {
        {{"CIntervalQelInSrvc", ""}, notSpecified},
        {{"CIntervalQelInSrvc", "1 min"}, "'1 min' is not a valid integer value"},
        {{"FolderSharingQelIn", ""}, notSpecified},
        {{"CFolderQelImport", ""}, notSpecified},
        {{"Pop3EnableQelIn", ""}, notSpecified},
        {{"PC_SRV_NAME_QEL_IN", ""}, notSpecified},
        // Optional, yet it must be a number also with POP3 off.
        {{"POP3Port", ""}, "'' is not a valid integer value"},
    };
    for (const auto& [setting, message] : cases) {
        SCOPED_TRACE(setting.first);
        auto saved = settings_;
        settings_[setting.first] = setting.second;
        settings_["Pop3EnableQelIn"] = setting.first == std::string("Pop3EnableQelIn") ? setting.second : "0";
        try {
            Load();
            ADD_FAILURE();
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), message);
        }
        settings_ = saved;
    }
}

TEST_F(ImportSettingsTest, FoldersAreCreatedOneLevelDeepOnly) {
    settings_["FolderSharingQelIn"] = dir_ / "share/";
    settings_["CFolderQelImport"] = dir_ / "missing/import";
    Load();
    EXPECT_EQ(params_.FolderSharingQelIn, dir_ / "share/");
    EXPECT_TRUE(rtl::DirectoryExists(dir_ / "share"));
    EXPECT_EQ(params_.CFolderQelImport, dir_ / "missing/import/");
    EXPECT_FALSE(rtl::DirectoryExists(dir_ / "missing"));
}

TEST_F(ImportSettingsTest, TheLongestSettingNameFitsItsParameter) {
    // The export's longest setting name, 21 characters, reaches the database whole.
    EXPECT_EQ(TImportParamsStorage::GetParam(getParam_, "SMTPUseAuthentication", &session_, false), "");
    EXPECT_EQ(asked_.back(), "SMTPUseAuthentication");
}

}  // namespace
