// The export's parameters store: Connection.ini with its encrypted credentials, and the exchange
// settings read one by one through get_zuv_param (a recording fake answering from a table).
#include "common/uParamsStorage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "common/EnDeCrypt.h"
#include "platform/rtl/Files.h"
#include "tests/common/ServiceFakes.h"
#include "tests/platform/os/OsTestSupport.h"

namespace fs = std::filesystem;
using svc::TParamsStorage;
using svcfake::TFakeDataAccess;
using svcfake::TFakeDb;
using svcfake::TFakeProc;
using svcfake::TFakeSession;

namespace {

// The credentials of deploy/Connection.ini.export.sample: zuv_exchange / change-me.
const char* const kUserHex = "E27CE912F85D36EEE31A74B5AD062E75";
const char* const kPasswordHex = "5F91C5ECF2F22E7DB5F2CF1FCE0B5627";

using ostest::TempDir;

std::string WriteIni(const TempDir& dir, const std::string& text) {
    const std::string path = dir / "Connection.ini";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string Ini(const std::string& connection,
                const std::string& log = "LogOutPath=/var/log/zuv\nExtendedLog=1\n") {
    return "[CONNECTION_QEL]\n" + connection + "\n[LOG]\n" + log;
}

const std::string kComplete = std::string("Server=qel:1521/QEL\nOraHome=0\nScheme=ZUV\nUserName=") +
                              kUserHex + "\nPassword=" + kPasswordHex;

}  // namespace

TEST(ParamsStorageIni, CompleteFileIsReadAndItsCredentialsDecrypted) {
    TempDir dir;
    TParamsStorage params;
    ASSERT_TRUE(params.LoadConnectionIni(WriteIni(dir, Ini(kComplete))));
    EXPECT_EQ(params.Server, "qel:1521/QEL");
    EXPECT_EQ(params.OraHome, 0);
    EXPECT_EQ(params.Scheme, "ZUV");
    EXPECT_EQ(params.UserName, "zuv_exchange");
    EXPECT_EQ(params.Password, "change-me");
    EXPECT_EQ(params.LogPath, "/var/log/zuv");
    EXPECT_TRUE(params.ExtendedLog);
}

TEST(ParamsStorageIni, IncompleteFilesAreRefusedWithoutDecrypting) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"no OraHome",
         std::string("Server=s\nScheme=Z\nUserName=") + kUserHex + "\nPassword=" + kPasswordHex},
        {"OraHome -1",
         std::string("Server=s\nOraHome=-1\nScheme=Z\nUserName=") + kUserHex + "\nPassword=" + kPasswordHex},
        {"OraHome not a number", std::string("Server=s\nOraHome=first\nScheme=Z\nUserName=") + kUserHex +
                                     "\nPassword=" + kPasswordHex},
        {"no server",
         std::string("OraHome=0\nScheme=Z\nUserName=") + kUserHex + "\nPassword=" + kPasswordHex},
        {"empty scheme",
         std::string("Server=s\nOraHome=0\nScheme=\nUserName=") + kUserHex + "\nPassword=" + kPasswordHex},
        {"no password", std::string("Server=s\nOraHome=0\nScheme=Z\nUserName=") + kUserHex},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        TParamsStorage params;
        EXPECT_FALSE(params.LoadConnectionIni(WriteIni(dir, Ini(c.text))));
        EXPECT_TRUE(params.UserName.empty() || params.UserName == kUserHex) << "nothing is decrypted";
    }
    TParamsStorage params;
    TempDir dir;
    EXPECT_FALSE(params.LoadConnectionIni(dir / "Connection.ini")) << "a missing file";
}

TEST(ParamsStorageIni, CredentialsThatDoNotDecryptNameTheField) {
    TempDir dir;
    TParamsStorage params;
    const std::string badUser =
        "Server=s\nOraHome=0\nScheme=Z\nUserName=00112233\nPassword=" + std::string(kPasswordHex);
    try {
        params.LoadConnectionIni(WriteIni(dir, Ini(badUser)));
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Error in decrypting user name: ", 0), 0u) << e.what();
    }
    const std::string badPassword =
        "Server=s\nOraHome=0\nScheme=Z\nUserName=" + std::string(kUserHex) + "\nPassword=zz";
    try {
        params.LoadConnectionIni(WriteIni(dir, Ini(badPassword)));
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Error in decrypting password: ", 0), 0u) << e.what();
    }
}

TEST(ParamsStorageIni, CredentialsMadeByTheToolsRoutineReadBack) {
    TempDir dir;
    std::string error;
    const std::string user =
        svc::EncryptStringWithPassPhrase("\xCA\xF3\xEF\xE5\xF0", svc::ConnectionIniPassPhrase, error);
    ASSERT_TRUE(error.empty()) << error;
    TParamsStorage params;
    ASSERT_TRUE(params.LoadConnectionIni(WriteIni(
        dir, Ini("Server=s\nOraHome=257\nScheme=Z\nUserName=" + user + "\nPassword=" + kPasswordHex, ""))));
    EXPECT_EQ(params.UserName, "\xCA\xF3\xEF\xE5\xF0") << "Cyrillic in code page 1251";
    EXPECT_EQ(params.OraHome, 257);
    EXPECT_TRUE(params.LogPath.empty());
    EXPECT_FALSE(params.ExtendedLog);
}

// ---------------------------------------------------------------------------------------------

namespace {

// The export set as a database could hold it.
std::map<std::string, std::string> GoodSettings(const std::string& folderExport) {
    return {
        {"SOURCE_DATA", "0"},
        {"CLIENT_TYPE_EXPORT", "2"},
        {"TYPE_PRICE_SCHEMES", "1"},
        {"FolderSharing", "Sharing"},
        {"Interval", "5"},
        {"FolderExport", folderExport},
        {"TypeChange", "1"},
        {"TimeOutCount", "30"},
        {"RepeatEveryTimeHMS", "1"},
        {"ScheduleType", "$1"},
        {"IsAutoStart", "1"},
        {"TimeList", "08:00;12:00"},
        {"SMTPUseAuthentication", "1"},
        {"SMTPPort", "2525"},
        {"SMTPServer", "127.0.0.1"},
        {"SMTPLogin", svc::XorString("qel")},
        {"SMTPPass", svc::XorString("secret")},
        {"SMTPSender", "qel@example.test"},
        {"SMTPGet", "web@example.test"},
        {"EnableExportEncrypt", "1"},
        {"SAVE_TO_BACKUP", "1"},
        {"SMTPSsl", "1"},
        {"ExportPublicKey", std::string(700, 'A')},
        {"PC_SRV_NAME_QEL_OUT", "qelhost"},
    };
}

// The store over a fake database that answers get_zuv_param from the table.
class ParamsStorageDb : public ::testing::Test {
protected:
    void SetUp() override {
        db_.handlers["zuv_export_out_pack.get_zuv_param"] = [this](TFakeProc& proc) {
            const std::string name = proc.In("P_PARAM");
            asked_.push_back(name);
            auto it = settings_.find(name);
            proc.SetOut("P_VALUE", it == settings_.end() ? "" : it->second);
        };
        db_.handlers["zuv_export_out_pack.get_zuv_qel_db_version"] = [this](TFakeProc& proc) {
            proc.SetOut("RESULT", version_);
        };
        settings_ = GoodSettings(dir_ / "export");
    }

    TFakeDb db_;
    TFakeDataAccess access_{db_};
    svc::TdmParamsStorage module_{access_.Components()};
    TParamsStorage params_{&module_};
    TFakeSession session_{db_};
    TempDir dir_;
    std::map<std::string, std::string> settings_;
    std::vector<std::string> asked_;
    std::string version_ = "2.9.1.0.7";
};

}  // namespace

TEST_F(ParamsStorageDb, ExportSetIsReadInOrderAndConverted) {
    params_.LoadParams(&session_);
    const std::vector<std::string> order = {"SOURCE_DATA",
                                            "CLIENT_TYPE_EXPORT",
                                            "TYPE_PRICE_SCHEMES",
                                            "FolderSharing",
                                            "Interval",
                                            "FolderExport",
                                            "TypeChange",
                                            "TimeOutCount",
                                            "RepeatEveryTimeHMS",
                                            "ScheduleType",
                                            "IsAutoStart",
                                            "TimeList",
                                            "SMTPUseAuthentication",
                                            "SMTPPort",
                                            "SMTPServer",
                                            "SMTPLogin",
                                            "SMTPPass",
                                            "SMTPSender",
                                            "SMTPGet",
                                            "EnableExportEncrypt",
                                            "SAVE_TO_BACKUP",
                                            "SMTPSsl",
                                            "ExportPublicKey",
                                            "PC_SRV_NAME_QEL_OUT"};
    EXPECT_EQ(asked_, order) << "SMTPUseAuthentication reaches the database whole";
    EXPECT_EQ(params_.SourceData, 0);
    EXPECT_EQ(params_.ClientTypeExport, 2);
    EXPECT_EQ(params_.TypePriceSchemes, "1");
    EXPECT_EQ(params_.FolderSharing, "Sharing");
    EXPECT_EQ(params_.Interval, 5);
    EXPECT_EQ(params_.FolderExport, dir_ / "export/");
    EXPECT_EQ(params_.TypeChange, 1);
    EXPECT_EQ(params_.TimeOutCount, 30);
    EXPECT_EQ(params_.RepeatEveryTimeHMS, 1);
    EXPECT_EQ(params_.ScheduleType, 1) << "$ hexadecimal";
    EXPECT_EQ(params_.IsAutoStart, 1);
    EXPECT_EQ(params_.TimeList, "08:00;12:00");
    EXPECT_EQ(params_.SMTPUseAuthentication, 1);
    EXPECT_EQ(params_.SMTPPort, 2525);
    EXPECT_EQ(params_.SMTPServer, "127.0.0.1");
    EXPECT_EQ(params_.SMTPLogin, "qel");
    EXPECT_EQ(params_.SMTPPass, "secret");
    EXPECT_EQ(params_.SMTPSender, "qel@example.test");
    EXPECT_EQ(params_.SMTPGet, "web@example.test");
    EXPECT_TRUE(params_.EnableExportEncrypt);
    EXPECT_TRUE(params_.SaveToBackup);
    EXPECT_TRUE(params_.SMTPSsl);
    EXPECT_EQ(params_.ExportPublicKey.size(), 700u) << "a 2048-bit key blob in hexadecimal fits";
    EXPECT_EQ(params_.ComputerNameSetting, "qelhost");
    EXPECT_EQ(params_.DBVersion, "2.9.1.0.7");
    EXPECT_TRUE(rtl::DirectoryExists(dir_ / "export")) << "the export folder is made";
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.get_zuv_param(P_PARAM="), 24);
    EXPECT_TRUE(db_.Logged("zuv_export_out_pack.get_zuv_param(P_PARAM='PC_SRV_NAME_QEL_OUT')"));
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.get_zuv_param(P_PARAM='TimeList') without"), 0)
        << "every call runs on the caller's session";
}

TEST_F(ParamsStorageDb, FlagsAreOnOnlyForExactlyOne) {
    for (const char* value : {"true", " 1", "1 ", "01", "", "2"}) {
        SCOPED_TRACE(std::string("'") + value + "'");
        settings_["SMTPSsl"] = value;
        settings_["EnableExportEncrypt"] = value;
        settings_["SAVE_TO_BACKUP"] = value;
        params_.LoadParams(&session_);
        EXPECT_FALSE(params_.SMTPSsl);
        EXPECT_FALSE(params_.EnableExportEncrypt);
        EXPECT_FALSE(params_.SaveToBackup);
    }
}

TEST_F(ParamsStorageDb, FailuresStopTheLoadWithTheirMessage) {
    struct Case {
        const char* key;
        const char* value;
        const char* message;
        const char* lastAsked;
    };
    const Case cases[] = {
        {"SOURCE_DATA", "",
         "Exchange settings are not specified. Please specify correct settings in Zuv Qel Admin",
         "SOURCE_DATA"},
        {"PC_SRV_NAME_QEL_OUT", "",
         "Exchange settings are not specified. Please specify correct settings in Zuv Qel Admin",
         "PC_SRV_NAME_QEL_OUT"},
        {"SMTPPort", "", "'' is not a valid integer value", "SMTPPort"},
        {"Interval", "5 min", "'5 min' is not a valid integer value", "Interval"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        settings_ = GoodSettings(dir_ / "export");
        settings_[c.key] = c.value;
        asked_.clear();
        TParamsStorage params(&module_);
        try {
            params.LoadParams(&session_);
            FAIL() << "no error";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(asked_.back(), c.lastAsked) << "nothing is read after the failure";
        EXPECT_TRUE(params.DBVersion.empty());
    }
    settings_ = GoodSettings(dir_ / "export");
    settings_.erase("TimeList");
    EXPECT_NO_THROW(params_.LoadParams(&session_)) << "an empty time list is accepted";
}

TEST_F(ParamsStorageDb, ExportFolderGetsItsDelimiterAndOnlyOneLevelIsMade) {
    settings_["FolderExport"] = dir_ / "missing/export";
    params_.LoadParams(&session_);
    EXPECT_EQ(params_.FolderExport, dir_ / "missing/export/");
    EXPECT_FALSE(rtl::DirectoryExists(dir_ / "missing")) << "the parent is not made";
}

TEST_F(ParamsStorageDb, DatabaseErrorsPropagate) {
    db_.handlers["zuv_export_out_pack.get_zuv_param"] = [](TFakeProc&) {
        throw rtl::EDatabaseError("ORA-06502: PL/SQL: numeric or value error");
    };
    try {
        params_.LoadParams(&session_);
        FAIL() << "no error";
    } catch (const rtl::EDatabaseError& e) {
        EXPECT_EQ(std::string(e.what()), "ORA-06502: PL/SQL: numeric or value error");
    }
}

TEST(ParamsStorage, WithoutDataAccessTheDatabaseStepFailsClearly) {
    TParamsStorage params;
    TFakeDb db;
    TFakeSession session(db);
    try {
        params.LoadParams(&session);
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "This program has no Oracle data-access components");
    }
}

TEST(ParamsStorage, ComputerNameAndProgramPath) {
    std::string name;
    TParamsStorage::GetLocalComputerName(name);
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string expected = host;
    expected = expected.substr(0, expected.find('.'));
    EXPECT_EQ(name, expected);
    std::string exe;
    TParamsStorage::GetExeFileName(exe);
    EXPECT_EQ(exe, fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(TParamsStorage::ConnectionIniFileName(), rtl::ExtractFilePath(exe) + "Connection.ini");
}
