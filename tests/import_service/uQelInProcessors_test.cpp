// The request package importer against the recording database: header checks, registration,
// the body transaction and its rollback, the journal.
#include "import_service/uQelInProcessors.h"

#include <gtest/gtest.h>

#include "import_service/uXmlPackageReader.h"
#include "platform/rtl/Files.h"
#include "tests/import_service/ImportTestPackage.h"

using namespace svc;
using namespace imptest;
using TResult = TEmitentPackageImport::TResult;

namespace {

std::string P(const std::string& call) {
    return kPack + call + "\n";
}

const char* const kDate = "#2024-03-05 10:00:00.000#";

std::string Recharge(const std::string& id, const std::string& amount) {
    return Item("RECHARGE", CardAmount(id, amount));
}

TEST_F(ImporterTest, EveryRequestKindIsWrittenInOneBodyTransaction) {
    const std::string lists =
        List("RECHARGE_LIST", {Recharge("11", "12.5")}) +
        List("DEBIT_LIST", {Item("DEBIT", CardAmount("12", "7"))}) +
        List("CHANGE_LIMIT_LIST", {Item("CHANGE_LIMIT", {{"Id", "21"},
                                                         {"ClientId", "100"},
                                                         {"ClientType", "1"},
                                                         {"CardNumber", "700100000001"},
                                                         {"Amount", "300"},
                                                         {"ServiceId", "5"},
                                                         {"DateCreate", "2024-03-05T10:00:00Z"},
                                                         {"DateBegin", "2024-03-06T00:00:00Z"},
                                                         {"CurrentLimitType", "1"},
                                                         {"CurrentLimitKind", "2"},
                                                         {"CurrentLimitAmount", "250.75"},
                                                         {"CurrentLimitService", "5;7"}})}) +
        List("BLOCK_CARD_LIST", {Item("BLOCK_CARD", {{"Id", "31"},
                                                     {"ClientId", "100"},
                                                     {"ClientType", "1"},
                                                     {"CardNumber", "700100000001"},
                                                     {"DateCreate", "2024-03-05T10:00:00Z"},
                                                     {"Comment", "lost"}})}) +
        List("CHANGE_HOLDER_LIST", {Item("CHANGE_HOLDER", {{"Id", "41"},
                                                           {"ClientId", "100"},
                                                           {"ClientType", "1"},
                                                           {"CardNumber", "700100000001"},
                                                           {"DateCreate", "2024-03-05T10:00:00Z"},
                                                           {"NewHolderName", "Ivanov"}})}) +
        List("CHANGE_CLIENT_STATE_LIST", {Item("CHANGE_CLIENT_STATE", {{"Id", "51"},
                                                                       {"ClientId", "100"},
                                                                       {"ClientType", "1"},
                                                                       {"BeforeState", "1"},
                                                                       {"NewState", "2"}})}) +
        List("STATUS_REQUEST_LIST",
             {Item("STATUS_REQUEST", {{"Id", "{AAAAAAAA-0000-0000-0000-000000000001}"}})}) +
        List("PACKAGE_CONFIRM_LIST",
             {Item("PACKAGE_CONFIRM", {{"ID", "{BBBBBBBB-0000-0000-0000-000000000002}"},
                                       {"PackagesReceipt", "2024-03-04T08:00:00Z"},
                                       {"PackagesCount", "3"},
                                       {"PackagesState", "1"}})}) +
        List("CHANGE_CARD_ONLINE_LIMIT_LIST", {OnlineLimit("61", "2")}) +
        List("CREATE_COUPON_LIST", {CreateCoupon("71", "9")}) +
        List("COUPON_REQUEST_LIST", {CouponRequest("81", "3")});
    Import(Package(lists));

    const std::string d = kDate;
    const std::string card = "P_CARD_NUMBER='700100000001'";
    const std::string body =
        P("p_set_dr_request(P_DR_REQUEST_ID=11, P_CLIENT_ID=100, P_CLIENT_TYPE=1, " + card +
          ", P_SERVICE_ID=5, P_AMOUNT=12.5, P_DATE_OF=" + d + ")") +
        P("p_set_dd_request(P_DD_REQUEST_ID=12, P_CLIENT_ID=100, P_CLIENT_TYPE=1, " + card +
          ", P_SERVICE_ID=5, P_AMOUNT=7.0, P_DATE_OF=" + d + ")") +
        P("p_set_oil_request(P_OIL_REQUEST_ID=21, P_CLIENT_ID=100, P_CLIENT_TYPE=1, " + card +
          ", P_SERVICE_ID=5, P_AMOUNT=300.0, P_DATE_BEGIN=#2024-03-06 00:00:00.000#, P_DATE_OF=" + d +
          ", P_CURRENT_LIMIT=250.75, P_CURRENT_TYPE=1, P_CURRENT_KIND=2, P_CURRENT_SERVICES='5;7')") +
        P("p_set_lost_card_request(P_LOST_CARD_REQ_ID=31, P_LOST_COMMENT='lost', P_CLIENT_ID=100, "
          "P_CLIENT_TYPE=1, " +
          card + ", P_DATE_CREATE=" + d + ", P_SEND_STATE=0)") +
        P("p_set_ch_holder_request(P_CH_CARD_HOLDER_REQ_ID=41, P_CARD_HOLDER_NAME='Ivanov', P_CLIENT_ID=100, "
          "P_CLIENT_TYPE=1, " +
          card + ", P_DATE_CREATE=" + d + ", P_SEND_STATE=0)") +
        P("P_SET_CLIENT_STATE(P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_NEW_STATE=2)") +
        P("status_package_request(P_PACKAGE_ID='{AAAAAAAA-0000-0000-0000-000000000001}')") +
        "zuv_export_out_pack.confirm_package(P_PACKAGE_ID='{BBBBBBBB-0000-0000-0000-000000000002}', "
        "P_DATETIME_RECEIPT=#2024-03-04 08:00:00.000#, P_STATE=1)\n" +
        P("p_set_onl_limit_card_request(P_REQUEST_ID=61, P_CLIENT_ID=100, P_CLIENT_TYPE=1, " + card +
          ", P_SERVICE_ID=5, P_DAILY_LIMIT=100.0, P_WEEKLY_LIMIT=500.0, P_MONTHLY_LIMIT=2000.0, "
          "P_LIMIT_TYPE=0, "
          "P_DATE_OF=" +
          d + ", P_IS_IND_LIMIT=1)") +
        P("p_set_coupon_request(P_REQUEST_ID=71, P_TYPE_REQUEST=1, P_GROUP_COUPONS_ID='G71', P_VC_GUID='', "
          "P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_DATE_CREATE=" +
          d + ")") +
        P("check_sec_code(P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_NUM_SECURITY_CODE=4, P_SECURITY_CODE='1234')") +
        "Savepoint Before_generate_coupons\n" +
        P("generate_coupons(P_GROUP_COUPONS_ID='G71', P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_SERVICE_ID=5, "
          "P_TYPE_VC_LIMIT=2, P_PRICE=50.0, P_NOMINAL=10.0, P_DECLARED_AMOUNT=3, "
          "P_DATE_EXPIRATION=#2024-12-31 00:00:00.000#, P_NAME_HOLDER='Petrov', "
          "P_PHONE_NUMBER='+70000000000', "
          "P_EMAIL='a@b.c')") +
        P("repeat_block_coupons(P_GROUP_COUPONS_ID='G71')") +
        P("set_vc_request_status(P_REQUEST_ID=71, P_ERROR_CODE=0)") +
        P("p_set_coupon_request(P_REQUEST_ID=81, P_TYPE_REQUEST=3, P_GROUP_COUPONS_ID='G1', P_VC_GUID='V81', "
          "P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_DATE_CREATE=" +
          d + ")") +
        P("check_sec_code(P_CLIENT_ID=100, P_CLIENT_TYPE=1, P_NUM_SECURITY_CODE=4, P_SECURITY_CODE='1234')") +
        P("print_coupons(P_GROUP_COUPONS_ID='G1', P_VC_GUID='V81')") +
        P("set_vc_request_status(P_REQUEST_ID=81, P_ERROR_CODE=0)");
    EXPECT_EQ(db_.LogText(), Registration() + "StartTransaction\n" + body + SetImported() + "Commit\n");
    EXPECT_EQ(result_, TResult::Imported);
    EXPECT_TRUE(db_.pending.empty());
    EXPECT_EQ(db_.committed.size(), 21u);  // the state check, the registration and 19 body calls
}

TEST_F(ImporterTest, JournalNamesEachListAndEndsThePackage) {
    Import(Package(List("RECHARGE_LIST", {Recharge("1", "1"), Recharge("2", "2")}) + List("DEBIT_LIST", {})));
    EXPECT_EQ(log_.Text(),
              std::string("!Process PackageId = ") + kPackageId +
                  "\n!RECHARGE_LIST\nCodeName = RECHARGE\n-----------------------\n"
                  "!DEBIT_LIST\nCodeName = DEBIT\n-----------------------\n!RequestsPackage end\n");
}

TEST_F(ImporterTest, PackageWithoutListsOnlyMarksItImported) {
    Import(Package("<!-- nothing --> "));
    EXPECT_EQ(db_.LogText(), Registration() + "StartTransaction\n" + SetImported() + "Commit\n");
    EXPECT_EQ(result_, TResult::Imported);
}

TEST_F(ImporterTest, FreeingTheImporterDeletesTheXmlFile) {
    Import(Package(""));
    EXPECT_FALSE(rtl::FileExists(Folder() + "package.xml"));
}

// ---- Header ---------------------------------------------------------------------------------

TEST_F(ImporterTest, HeaderAttributesAreFoundWhateverTheirCase) {
    Import("<Root packageid=\"" + std::string(kPackageId) +
           "\" EMITENT=\"7\" filial=\"1\" datetimecreate=\"2024-03-05T10:20:30.123Z\" VERSION=\"2.9.1.0\"/>");
    EXPECT_EQ(db_.LogText(), Registration() + "StartTransaction\n" + SetImported() + "Commit\n");
}

TEST_F(ImporterTest, HeaderRefusals) {
    struct Case {
        const char* what;
        THeader header;
        bool fatal;
        std::string message;
    };
    const std::string versionText =
        "Version of the package and services are not the same. Service version = 2.9.1.0 Package version = ";
    const Case cases[] = {
        {"older version", {.version = "2.9.0.9"}, true, versionText + "2.9.0.9"},
        {"blank after the version", {.version = "2.9.1.0 "}, true, versionText + "2.9.1.0 "},
        {"other branch",
         {.filial = "2"},
         false,
         "Package to other issuers EmitentPetrolId = 7 FilialPetrolId = 2"},
        {"other issuer",
         {.emitent = "8"},
         false,
         "Package to other issuers EmitentPetrolId = 8 FilialPetrolId = 1"},
        {"issuer not a number",
         {.emitent = "seven"},
         false,
         "Package to other issuers EmitentPetrolId = 0 FilialPetrolId = 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db_.log.clear();
        log_.lines.clear();
        try {
            Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")}), c.header));
            ADD_FAILURE() << "no error";
        } catch (const EFatalError& e) {
            EXPECT_TRUE(c.fatal);
            EXPECT_EQ(e.Message(), c.message);
        } catch (const rtl::Exception& e) {
            EXPECT_FALSE(c.fatal);
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(db_.LogText(), "");
        EXPECT_EQ(log_.Text(), std::string("!Process PackageId = ") + kPackageId + "\n");
    }
}

TEST_F(ImporterTest, CreationTimeFallsBackToZeroWhenItDoesNotRead) {
    Import(Package("", {.created = "yesterday"}));
    EXPECT_EQ(db_.log.at(2), std::string(kPack) + "add_new_package(P_PACKAGE_ID='" + kPackageId +
                                 "', P_DATETIME_CREATE=#1899-12-30 " + "00:00:00.000#)");
}

TEST_F(ImporterTest, MissingFileAndLostSessionRaiseBeforeAnything) {
    try {
        ImportFile("absent.xml");
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "File " + Folder() + "absent.xml not found ");
    }
    session_.connected = false;
    try {
        Import(Package(""));
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Can not connect to database");
    }
    EXPECT_EQ(db_.LogText(), "");
    EXPECT_TRUE(log_.lines.empty());
}

TEST_F(ImporterTest, MalformedXmlRaisesTheReadError) {
    EXPECT_THROW(Import(Package(List("RECHARGE_LIST", {"<RECHARGE><Id>1</RECHARGE>"}))), EXmlReadError);
    EXPECT_EQ(db_.LogText(), "");
}

TEST_F(ImporterTest, DocumentWithoutRootElementIsAFailureNeverAProcessedPackage) {
    for (const char* xml :
         {"", "<?xml version=\"1.0\"?>\r\n", "<?xml version=\"1.0\"?><!-- only a comment -->"}) {
        SCOPED_TRACE(xml);
        log_.lines.clear();
        EXPECT_THROW(Import(xml), EFatalError);
        EXPECT_EQ(log_.Text(),
                  "!Error: The package document " + Folder() + "package.xml has no root element\n");
    }
    EXPECT_EQ(db_.LogText(), "");
}

// ---- Registration ---------------------------------------------------------------------------

TEST_F(ImporterTest, RefusedRegistrationIsRolledBackAndTheBodyStillImported) {
    db_.handlers[std::string(kPack) + "add_new_package"] = [](impfake::TFakeProc&) {
        impfake::TFakeDb::Raise(1, "unique constraint (QEL.IN_PACKAGE_PK) violated");
    };
    Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")})));
    EXPECT_EQ(db_.log.at(3), "Rollback");
    EXPECT_EQ(db_.log.at(4), "StartTransaction");
    EXPECT_EQ(result_, TResult::Imported);
    EXPECT_EQ(db_.committed.size(), 3u) << "the state check, the request and the imported mark";
    EXPECT_EQ(log_.lines.at(1), std::string("!Error: Packageid = ") + kPackageId);
    EXPECT_EQ(log_.lines.at(2), "!Error: ORA-00001: unique constraint (QEL.IN_PACKAGE_PK) violated");
}

TEST_F(ImporterTest, RegistrationFailingOnALostConnectionEndsTheImport) {
    db_.handlers[std::string(kPack) + "add_new_package"] = [this](impfake::TFakeProc&) {
        session_.connected = false;
        impfake::TFakeDb::Raise(3113, "end-of-file on communication channel");
    };
    try {
        Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")})));
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "ORA-03113: end-of-file on communication channel");
    }
    EXPECT_EQ(db_.LogText(), StateCheck() + "StartTransaction\n" + kPack + "add_new_package(P_PACKAGE_ID='" +
                                 kPackageId + "', P_DATETIME_CREATE=#2024-03-05 10:20:30.123#)\n");
    EXPECT_EQ(db_.committed.size(), 1u) << "the state check only";
}

// A package the database had imported before (delivered again, or its service stopped between
// the body's commit and the move to Back) writes nothing; any other state imports as usual.
TEST_F(ImporterTest, PackageImportedBeforeIsSkippedWithoutWritingItsRequestsAgain) {
    const std::string lists = List("RECHARGE_LIST", {Recharge("1", "1")});
    db_.handlers[std::string(kPack) + "get_in_package_state"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_STATE", 1);
    };
    Import(Package(lists));
    EXPECT_EQ(result_, TResult::AlreadyImported);
    EXPECT_EQ(db_.LogText(), StateCheck());
    EXPECT_EQ(log_.Text(), std::string("!Process PackageId = ") + kPackageId + "\n!Package " + kPackageId +
                               " is already imported; its requests are not written again\n");

    const struct {
        const char* what;
        std::function<void(impfake::TFakeProc&)> answer;
    } others[] = {
        {"never heard of", [](impfake::TFakeProc& p) { p.SetOutNull("P_STATE"); }},
        {"registered, body rolled back", [](impfake::TFakeProc& p) { p.SetOut("P_STATE", 0); }},
        {"asked about, never received", [](impfake::TFakeProc& p) { p.SetOut("P_STATE", 2); }},
    };
    for (const auto& c : others) {
        SCOPED_TRACE(c.what);
        db_ = impfake::TFakeDb();
        db_.handlers[std::string(kPack) + "get_in_package_state"] = c.answer;
        Import(Package(lists));
        EXPECT_EQ(result_, TResult::Imported) << error_;
        EXPECT_NE(Committed().find("p_set_dr_request"), std::string::npos) << db_.LogText();
    }
}

TEST_F(ImporterTest, FailingStateCheckEndsTheImportBeforeAnythingIsWritten) {
    db_.handlers[std::string(kPack) + "get_in_package_state"] = [](impfake::TFakeProc&) {
        impfake::TFakeDb::Raise(60, "deadlock detected while waiting for resource");
    };
    EXPECT_THROW(Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")}))), std::exception);
    EXPECT_EQ(result_, TResult::NotRun);
    EXPECT_EQ(db_.LogText(), StateCheck());
}

// A Qel database of an older release has no state procedure: its packages import as before, and
// the journal says the check was missing.
TEST_F(ImporterTest, DatabaseWithoutTheStateProcedureImportsWithoutTheCheck) {
    for (const char* missing : {"PLS-00302: component 'GET_IN_PACKAGE_STATE' must be declared",
                                "PLS-00201: identifier 'ZUV_EXPORT_OUT_PACK' must be declared"}) {
        SCOPED_TRACE(missing);
        db_ = impfake::TFakeDb();
        log_.lines.clear();
        db_.handlers[std::string(kPack) + "get_in_package_state"] = [missing](impfake::TFakeProc&) {
            impfake::TFakeDb::Raise(6550, missing);
        };
        Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")})));
        EXPECT_EQ(result_, TResult::Imported) << error_;
        EXPECT_NE(Committed().find("p_set_dr_request"), std::string::npos) << db_.LogText();
        EXPECT_NE(
            log_.Text().find("!Package state cannot be checked, the package is imported without the check: "
                             "ORA-06550: " +
                             std::string(missing)),
            std::string::npos)
            << log_.Text();
    }
}

// ---- Body failures --------------------------------------------------------------------------

TEST_F(ImporterTest, FailedBodyIsRolledBackAsAWhole) {
    struct Case {
        const char* what;
        std::string lists;
        std::function<void(impfake::TFakeDb&)> arrange;
        std::string message;
    };
    const std::string two =
        List("RECHARGE_LIST", {Recharge("1", "1")}) + List("DEBIT_LIST", {Recharge("2", "2")});
    const Case cases[] = {
        {"unknown list after two known ones", two + List("BONUS_LIST", {}), nullptr, "Unknown data type"},
        {"list name in another case", two + List("recharge_list", {}), nullptr, "Unknown data type"},
        {"decimal comma", two + List("DEBIT_LIST", {Item("DEBIT", CardAmount("3", "12,5"))}), nullptr,
         "Element DEBIT: field Amount: '12,5' is not a valid floating point value"},
        {"missing field", two + List("DEBIT_LIST", {Item("DEBIT", {{"Id", "3"}})}), nullptr,
         "Element DEBIT: field ClientId is missing"},
        {"database error on the second item", List("RECHARGE_LIST", {Recharge("1", "1"), Recharge("2", "2")}),
         [](impfake::TFakeDb& db) {
             db.handlers[std::string(kPack) + "p_set_dr_request"] = [](impfake::TFakeProc& p) {
                 if (p.Params().ParamByName("P_DR_REQUEST_ID")->AsInteger() == 2)
                     impfake::TFakeDb::Raise(20001, "unknown client 100/1");
             };
         },
         "ORA-20001: unknown client 100/1"},
        {"marking the package imported fails", two,
         [](impfake::TFakeDb& db) {
             db.handlers[std::string(kPack) + "set_status_imported"] = [](impfake::TFakeProc&) {
                 impfake::TFakeDb::Raise(54, "resource busy");
             };
         },
         "ORA-00054: resource busy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db_ = impfake::TFakeDb();
        log_.lines.clear();
        if (c.arrange) c.arrange(db_);
        Import(Package(c.lists));
        EXPECT_EQ(result_, TResult::RolledBack);
        EXPECT_EQ(error_, c.message);
        // Only the state check and the registration, made in its own transaction, stay.
        ASSERT_EQ(db_.committed.size(), 2u);
        EXPECT_NE(db_.committed[1].find("add_new_package"), std::string::npos);
        EXPECT_EQ(db_.log.back(), "Rollback");
        ASSERT_GE(log_.lines.size(), 3u);
        const size_t n = log_.lines.size();
        EXPECT_EQ(log_.lines[n - 3], "!Error: " + c.message);
        EXPECT_EQ(log_.lines[n - 2], std::string("!Error: Package ") + kPackageId + " rollback");
        EXPECT_EQ(log_.lines[n - 1], "!RequestsPackage end");
    }
}

TEST_F(ImporterTest, FailedCommitIsRolledBack) {
    Import(Package(""));
    db_ = impfake::TFakeDb();
    session_.failCommit = true;
    Import(Package(List("RECHARGE_LIST", {Recharge("1", "1")})));
    EXPECT_EQ(result_, TResult::RolledBack);
    EXPECT_EQ(db_.committed, std::vector<std::string>{StateCheck().substr(0, StateCheck().size() - 1)})
        << "nothing but the state check";
    EXPECT_EQ(db_.log.back(), "Rollback");
}

TEST_F(ImporterTest, BodyFailingOnALostConnectionRaises) {
    db_.handlers[std::string(kPack) + "p_set_dd_request"] = [this](impfake::TFakeProc&) {
        session_.connected = false;
        impfake::TFakeDb::Raise(3114, "not connected to ORACLE");
    };
    try {
        Import(Package(List("DEBIT_LIST", {Item("DEBIT", CardAmount("1", "1"))})));
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "ORA-03114: not connected to ORACLE");
    }
    const size_t n = log_.lines.size();
    EXPECT_EQ(log_.lines[n - 1], std::string("!Error: Package ") + kPackageId + " rollback");
    EXPECT_EQ(db_.committed.size(), 2u) << "the state check and the registration";
}

TEST_F(ImporterTest, RefusedBlockCardRequestFailsTheBody) {
    db_.handlers[std::string(kPack) + "p_set_lost_card_request"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_RESULT", -1);
    };
    Import(Package(List("BLOCK_CARD_LIST", {Item("BLOCK_CARD", {{"Id", "31"},
                                                                {"ClientId", "100"},
                                                                {"ClientType", "2"},
                                                                {"CardNumber", "700100000001"},
                                                                {"DateCreate", "2024-03-05T10:00:00Z"},
                                                                {"Comment", "lost"}})})));
    EXPECT_EQ(result_, TResult::RolledBack);
    EXPECT_EQ(error_, "Block card requests not supported client_id= 100 client_type = 2");
}

// ---- Kinds ----------------------------------------------------------------------------------

TEST(TypeRequestEnum, ListNamesMapToTheirKindsAndElements) {
    impfake::TFakeDb db;
    impfake::TFakeFactory factory(db);
    TdmMainDataModule dm(factory);
    const std::pair<const char*, const char*> lists[] = {
        {"RECHARGE_LIST", "RECHARGE"},
        {"DEBIT_LIST", "DEBIT"},
        {"CHANGE_LIMIT_LIST", "CHANGE_LIMIT"},
        {"BLOCK_CARD_LIST", "BLOCK_CARD"},
        {"CHANGE_HOLDER_LIST", "CHANGE_HOLDER"},
        {"CHANGE_CLIENT_STATE_LIST", "CHANGE_CLIENT_STATE"},
        {"STATUS_REQUEST_LIST", "STATUS_REQUEST"},
        {"PACKAGE_CONFIRM_LIST", "PACKAGE_CONFIRM"},
        {"CHANGE_CARD_ONLINE_LIMIT_LIST", "CHANGE_CARD_ONLINE_LIMIT"},
        {"CREATE_COUPON_LIST", "CREATE_COUPON"},
        {"COUPON_REQUEST_LIST", "COUPON_REQUEST"},
    };
    int kind = 0;
    for (const auto& [list, element] : lists) {
        EXPECT_EQ(TTypeRequestEnum::KindOfList(list), kind++) << list;
        EXPECT_EQ(
            TPersistentObjectFactory::CreateRequest(TTypeRequestEnum::KindOfList(list), dm)->ElementName,
            element);
    }
    EXPECT_THROW(TTypeRequestEnum::KindOfList("RECHARGE"), rtl::Exception);
}

}  // namespace
