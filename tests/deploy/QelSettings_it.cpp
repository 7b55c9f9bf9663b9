// Exchange settings, the database version and the views, read as both services read them.
#include "QelDbFixture.h"

namespace {

// The services' scrambling of logins and passwords: XOR with this key (code page 1251), repeated.
std::string Xor(const std::string& s) {
    static const std::string key = "(!#;]?\xC4\xCB*)\xD6^mvqwed";
    std::string out = s;
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
    return out;
}

class QelSettingsTest : public QelDbTest {
protected:
    // get_zuv_param as the parameters store declares it: P_PARAM of size 20, P_VALUE of the given size.
    std::string param(const std::string& name, sb4 valueSize = 256, sword expect = OCI_SUCCESS) {
        ProcCall c(*this, "zuv_export_out_pack.get_zuv_param");
        c.text("P_PARAM", name, 21).outText("P_VALUE", valueSize);
        EXPECT_EQ(expect, c.run()) << name << ": " << errorText();
        if (expect == OCI_SUCCESS) {
            EXPECT_EQ(c.isNull("P_VALUE"), c.textOf("P_VALUE").empty());
        }
        return c.textOf("P_VALUE");
    }
};

TEST_F(QelSettingsTest, EverySettingOfBothServicesAnswersItsDemoValue) {
    const std::string zuv = QelDemo::dir() + "/zuv";
    const struct {
        const char* name;
        std::string value;
    } cases[] = {
        // export, in reading order
        {"SOURCE_DATA", "0"},
        {"CLIENT_TYPE_EXPORT", "0"},
        {"TYPE_PRICE_SCHEMES", "1"},
        {"FolderSharing", zuv + "/out-share/"},
        {"Interval", "5"},
        {"FolderExport", zuv + "/out/"},
        {"TypeChange", "0"},
        {"TimeOutCount", "30"},
        {"RepeatEveryTimeHMS", "1"},
        {"ScheduleType", "0"},
        {"IsAutoStart", "1"},
        {"TimeList", "08:00;12:00"},
        {"SMTPUseAuthentication", "1"},
        {"SMTPPort", "2525"},
        {"SMTPServer", "127.0.0.1"},
        {"SMTPLogin", Xor("qel")},
        {"SMTPPass", Xor("secret")},
        {"SMTPSender", "qel@example.test"},
        {"SMTPGet", "web@example.test"},
        {"EnableExportEncrypt", "0"},
        {"SAVE_TO_BACKUP", "1"},
        {"SMTPSsl", "0"},
        {"ExportPublicKey", ""},
        {"PC_SRV_NAME_QEL_OUT", "qelhost"},
        // import
        {"CIntervalQelInSrvc", "60000"},
        {"FolderSharingQelIn", zuv + "/in-share/"},
        {"CFolderQelImport", zuv + "/in/"},
        {"Pop3EnableQelIn", "0"},
        {"POP3Port", "1110"},
        {"POP3Server", "127.0.0.1"},
        {"POP3Login", Xor("web")},
        {"POP3Pass", Xor("secret")},
        {"EnableImportEncrypt", "0"},
        {"POP3Ssl", "0"},
        {"PC_SRV_NAME_QEL_IN", "qelhost"},
    };
    EXPECT_EQ(35u, std::size(cases));
    for (const auto& c : cases) EXPECT_EQ(c.value, param(c.name)) << c.name;
    // what the services do with the scrambled ones
    EXPECT_EQ("qel", Xor(param("SMTPLogin")));
    EXPECT_EQ("secret", Xor(param("POP3Pass")));
}

TEST_F(QelSettingsTest, NamesMatchWithoutRegardToCase) {
    for (const char* name : {"source_data", "Source_Data", "SOURCE_DATA"})
        EXPECT_EQ("0", param(name)) << name;
    EXPECT_EQ("2525", param("smtpport"));
    EXPECT_EQ("qelhost", param("pc_srv_name_qel_in"));
}

TEST_F(QelSettingsTest, SmtpUseAuthenticationAnswersUnderItsFullAndItsTwentyCharacterName) {
    auto full = [&] {
        ProcCall c(*this, "zuv_export_out_pack.get_zuv_param");
        c.text("P_PARAM", "SMTPUseAuthentication", 65).outText("P_VALUE", 256);
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.textOf("P_VALUE");
    };
    EXPECT_EQ("1", full());
    EXPECT_EQ("1", param("SMTPUseAuthenticatio"));
    EXPECT_EQ("1", param("smtpuseauthenticatio"));
    sqlite("UPDATE zuv_param SET value = '0' WHERE name = 'SMTPUseAuthentication'");
    EXPECT_EQ("0", full());
    EXPECT_EQ("0", param("SMTPUseAuthenticatio"));
    // only a name of exactly 20 characters stands for a longer one
    EXPECT_EQ("", param("SMTPUseAuthenticati"));
    EXPECT_EQ("", param("SMTPUse"));
    // a setting whose own name has 20 characters wins over a longer one it begins
    sqlite("INSERT INTO zuv_param(name, value) VALUES ('SMTPUseAuthenticatio', 'own')");
    EXPECT_EQ("own", param("SMTPUseAuthenticatio"));
    EXPECT_EQ("0", full());
}

TEST_F(QelSettingsTest, UnknownAndUnsetSettingsAnswerNull) {
    EXPECT_EQ("", param("NoSuchSetting"));
    EXPECT_EQ("", param("ExportPublicKey"));
    EXPECT_EQ("", param(""));
}

TEST_F(QelSettingsTest, ValuesOf2048CharactersComeBackWholeOrNotAtAll) {
    std::string key;
    for (int i = 0; i < 1024; ++i)
        key += "0123456789ABCDEF"[i % 16] + std::string(1, "FEDCBA9876543210"[i % 16]);
    ASSERT_EQ(2048u, key.size());
    sqlite("UPDATE zuv_param SET value = '" + key + "' WHERE name = 'ExportPublicKey'");
    EXPECT_EQ(key, param("ExportPublicKey", 4001));
    EXPECT_EQ(key, param("ExportPublicKey", 2049));
    // a variable too small for the value: Oracle refuses rather than cutting the key
    param("ExportPublicKey", 256, OCI_ERROR);
    EXPECT_EQ(6502, errorCode()) << errorText();
}

// ---- version and views ---------------------------------------------------------------------------------

TEST_F(QelSettingsTest, DatabaseVersionIsTheLatestInstalled) {
    auto version = [&] {
        ProcCall c(*this, "zuv_export_out_pack.get_zuv_qel_db_version", true);
        c.outText("RESULT", 4001);
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.textOf("RESULT");
    };
    EXPECT_EQ("2.9.1.0", version());
    Rows v = query("select t.DESCRIPTION, t.VERSION from V_ZUV_QEL_VERSION_DB t");
    ASSERT_EQ(1u, v.size());
    EXPECT_EQ((std::vector<std::string>{"DESCRIPTION", "VERSION"}), v.columns);
    EXPECT_EQ("2.9.1.0", v.at(0, "VERSION"));
    EXPECT_FALSE(v.at(0, "DESCRIPTION").empty());

    sqlite("INSERT INTO db_version VALUES ('2.9.1.0 build 7', 'патч', '2999-01-01 00:00:00')");
    EXPECT_EQ("2.9.1.0 build 7", version());
    EXPECT_EQ("2.9.1.0 build 7",
              query("select t.DESCRIPTION, t.VERSION from V_ZUV_QEL_VERSION_DB t").at(0, "VERSION"));
}

TEST_F(QelSettingsTest, EmitentParamsGiveTheOwnIssuerAndBranch) {
    Rows r = query("select * from v_zuv_emitent_params t");
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ("7", r.at(0, "id_emitent"));
    EXPECT_EQ("1", r.at(0, "id_filial"));
}

TEST_F(QelSettingsTest, CallsWithAnotherParameterListAreRefusedAsByOracle) {
    ProcCall extra(*this, "zuv_export_out_pack.get_zuv_param");
    extra.text("P_PARAM", "SOURCE_DATA").outText("P_VALUE", 256).integer("P_MORE", 1);
    EXPECT_EQ(OCI_ERROR, extra.run());
    EXPECT_EQ(6550, errorCode()) << errorText();
    EXPECT_NE(std::string::npos, errorText().find("PLS-00306")) << errorText();

    ProcCall missing(*this, "ZUV_EXPORT_OUT_PACK.get_dr_request");
    missing.cursor("P_DATASET");
    EXPECT_EQ(OCI_ERROR, missing.run());
    EXPECT_EQ(6550, errorCode()) << errorText();

    ProcCall unknown(*this, "ZUV_EXPORT_OUT_PACK.get_nothing");
    unknown.cursor("P_DATASET");
    EXPECT_EQ(OCI_ERROR, unknown.run());
    EXPECT_NE(std::string::npos, errorText().find("PLS-00201")) << errorText();
}

}  // namespace
