// The import side of the exchange package: package registration and states, the web side's requests and
// the coupon procedures, each called with the parameter list and bind types of its component.
#include <functional>

#include "QelDbFixture.h"

namespace {

const OraDate kWhen{2024, 5, 31, 9, 30, 0};

class QelImportTest : public QelDbTest {
public:
    void SetUp() override {
        QelDbTest::SetUp();
        // client 1 is a Qel firm and online client, client 3 a Dolm firm (make-qel-db's demo order)
        card1_ = sqliteOne("SELECT min(crd_graphnum) FROM card WHERE client_id = 1");
        purse1_ = sqliteOne("SELECT min(prs_srv_id) FROM purse WHERE gr_nomer = '" + card1_ + "'");
        card3_ = sqliteOne("SELECT min(crd_graphnum) FROM card WHERE client_id = 3");
        ASSERT_EQ(12u, card1_.size());
        ASSERT_FALSE(purse1_.empty());
    }
    sword packageCall(const char* proc, const std::string& id) {
        ProcCall c(*this, proc);
        c.text("P_PACKAGE_ID", id, 39);
        if (std::string(proc).find("add_new_package") != std::string::npos)
            c.date("P_DATETIME_CREATE", kWhen);
        return c.run();
    }
    // ospInsRechargeRequest and ospInsDebitRequest: numbers declared float, set with AsInteger except the
    // amount; the card number set with AsString.
    sword purseRequest(const char* proc, const char* idParam, int id, int client, int type,
                       const std::string& card, double amount = 1500.5) {
        ProcCall c(*this, proc);
        c.integer(idParam, id)
            .integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .text("P_CARD_NUMBER", card)
            .integer("P_SERVICE_ID", std::stoi(purse1_))
            .number("P_AMOUNT", amount)
            .date("P_DATE_OF", kWhen);
        return c.run();
    }
    sword limitRequest(int id, int client, int type, const std::string& card) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.p_set_oil_request");
        c.integer("P_OIL_REQUEST_ID", id)
            .integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .text("P_CARD_NUMBER", card)
            .integer("P_SERVICE_ID", std::stoi(purse1_))
            .number("P_AMOUNT", 750)
            .date("P_DATE_BEGIN", {2024, 6, 1})
            .date("P_DATE_OF", kWhen)
            .number("P_CURRENT_LIMIT", 500)
            .integer("P_CURRENT_TYPE", 1)
            .integer("P_CURRENT_KIND", 0)
            .text("P_CURRENT_SERVICES", purse1_);
        return c.run();
    }
    sword holderRequest(int id, int client, int type, const std::string& card, const std::string& name) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.p_set_ch_holder_request");
        c.integer("P_CH_CARD_HOLDER_REQ_ID", id)
            .text("P_CARD_HOLDER_NAME", name, 41)
            .integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .text("P_CARD_NUMBER", card, 13)
            .date("P_DATE_CREATE", kWhen)
            .number("P_SEND_STATE", 0);
        return c.run();
    }
    sword onlineLimitRequest(int id, int client, int type, const std::string& card, int limitType) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.p_set_onl_limit_card_request");
        c.integer("P_REQUEST_ID", id)
            .integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .text("P_CARD_NUMBER", card)
            .integer("P_SERVICE_ID", 2)
            .number("P_DAILY_LIMIT", 1000)
            .number("P_WEEKLY_LIMIT", 5000)
            .number("P_MONTHLY_LIMIT", 20000.25);
        if (limitType < 0) {
            c.null("P_LIMIT_TYPE");
        } else {
            c.integer("P_LIMIT_TYPE", limitType);
        }
        c.date("P_DATE_OF", kWhen).integer("P_IS_IND_LIMIT", 1);
        return c.run();
    }
    long long lostCard(int id, int client, int type, const std::string& card) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.p_set_lost_card_request");
        c.integer("P_LOST_CARD_REQ_ID", id)
            .text("P_LOST_COMMENT", "lost at the station", 41)
            .integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .text("P_CARD_NUMBER", card, 13)
            .date("P_DATE_CREATE", kWhen)
            .number("P_SEND_STATE", 0)
            .outNumber("P_RESULT");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        EXPECT_FALSE(c.isNull("P_RESULT"));
        return c.numberOf("P_RESULT");
    }
    // The state get_in_package_state gives, "null" when it gives none.
    std::string packageState(const std::string& id) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.get_in_package_state");
        c.text("P_PACKAGE_ID", id, 39).outNumber("P_STATE");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.isNull("P_STATE") ? "null" : std::to_string(c.numberOf("P_STATE"));
    }
    std::string card1_, purse1_, card3_;
};

// ---- packages of the web side ----------------------------------------------------------------------------

TEST_F(QelImportTest, PackagesAreRegisteredOnceMarkedImportedAndConfirmedByTheNextPackage) {
    const std::string p = "{C0000000-0000-4000-8000-000000000001}";
    const std::string unregistered = "{C0000000-0000-4000-8000-000000000002}";
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.add_new_package", p)) << errorText();
    commit();
    EXPECT_EQ("2024-05-31 09:30:00|1|0|",
              sqliteOne("SELECT datetime_create, count_receipt, state, confirm_package_id FROM in_package "
                        "WHERE package_id = '" +
                        p + "'"));
    EXPECT_EQ(OCI_ERROR, packageCall("ZUV_EXPORT_OUT_PACK.add_new_package", p));
    EXPECT_EQ(1, errorCode()) << errorText();
    rollback();

    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.set_status_imported", p)) << errorText();
    // a package whose registration failed is imported all the same
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.set_status_imported", unregistered))
        << errorText();
    commit();
    EXPECT_EQ(
        (std::vector<std::string>{p + "|1", unregistered + "|1"}),
        sqlite("SELECT package_id, state FROM in_package WHERE package_id LIKE '{C%' ORDER BY package_id"));

    std::string ours = registerPackage();
    ProcCall confirms(*this, "ZUV_EXPORT_OUT_PACK.p_get_package_confirm_list");
    confirms.cursor("P_DATASET");
    ASSERT_EQ(OCI_SUCCESS, confirms.run()) << errorText();
    Rows rows = confirms.rowsOf("P_DATASET");
    std::map<std::string, std::string> state;
    for (size_t r = 0; r < rows.size(); ++r) state[rows.at(r, "PACKAGE_ID")] = rows.at(r, "STATE");
    EXPECT_EQ("1", state[p]);
    EXPECT_EQ("1", state[unregistered]);
    EXPECT_EQ(sqliteCount("SELECT count(*) FROM in_package WHERE confirm_package_id = '" + ours + "'"),
              static_cast<long long>(rows.size()));
    // the next package does not confirm them again
    registerPackage("{A0000000-0000-4000-8000-000000000002}");
    ASSERT_EQ(OCI_SUCCESS, confirms.run()) << errorText();
    EXPECT_EQ(0u, confirms.rowsOf("P_DATASET").size());
}

TEST_F(QelImportTest, PackageStateTellsAnImportedPackageFromOneOnlyRegisteredOrAskedAbout) {
    const std::string registered = "{E0000000-0000-4000-8000-000000000001}";
    const std::string imported = "{E0000000-0000-4000-8000-000000000002}";
    const std::string asked = "{E0000000-0000-4000-8000-000000000003}";
    const std::string unknown = "{E0000000-0000-4000-8000-000000000004}";
    for (const std::string& id : {registered, imported})
        ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.add_new_package", id)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.set_status_imported", imported)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.status_package_request", asked)) << errorText();
    commit();
    const struct {
        const std::string& id;
        const char* state;
    } cases[] = {{registered, "0"}, {imported, "1"}, {asked, "2"}, {unknown, "null"}};
    for (const auto& c : cases) EXPECT_EQ(c.state, packageState(c.id)) << c.id;
    // the answer is the caller's transaction's view
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.set_status_imported", registered)) << errorText();
    EXPECT_EQ("1", packageState(registered));
    rollback();
    EXPECT_EQ("0", packageState(registered));
}

TEST_F(QelImportTest, StatusRequestsConfirmAgainOrReportAPackageNeverReceived) {
    const std::string known =
        sqliteOne("SELECT min(package_id) FROM in_package WHERE confirm_package_id IS NOT NULL");
    const std::string unknown = "{D0000000-0000-4000-8000-00000000000D}";
    ASSERT_FALSE(known.empty());
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.status_package_request", known)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.status_package_request", unknown)) << errorText();
    commit();
    EXPECT_EQ(
        "1|1|",
        sqliteOne("SELECT state, count_receipt, confirm_package_id FROM in_package WHERE package_id = '" +
                  known + "'"));
    EXPECT_EQ(
        "2|0|",
        sqliteOne("SELECT state, count_receipt, confirm_package_id FROM in_package WHERE package_id = '" +
                  unknown + "'"));
    // when it arrives after all, it registers as any other
    ASSERT_EQ(OCI_SUCCESS, packageCall("ZUV_EXPORT_OUT_PACK.add_new_package", unknown)) << errorText();
    commit();
    EXPECT_EQ("0|1",
              sqliteOne("SELECT state, count_receipt FROM in_package WHERE package_id = '" + unknown + "'"));
}

TEST_F(QelImportTest, ConfirmationsOfOurPackagesEndTheirStatusRequests) {
    auto unconfirmed = [&] {
        ProcCall c(*this, "zuv_export_out_pack.get_unconfirmed_packages");
        c.cursor("P_DATASET");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        Rows rows = c.rowsOf("P_DATASET");
        std::vector<std::string> ids;
        for (size_t r = 0; r < rows.size(); ++r) ids.push_back(rows.at(r, "PACKAGE_ID"));
        return ids;
    };
    std::vector<std::string> before = unconfirmed();
    ASSERT_EQ(2u, before.size());
    auto confirm = [&](const std::string& id) {
        ProcCall c(*this, "zuv_export_out_pack.confirm_package");
        c.text("P_PACKAGE_ID", id, 39).date("P_DATETIME_RECEIPT", kWhen).integer("P_STATE", 1);
        return c.run();
    };
    ASSERT_EQ(OCI_SUCCESS, confirm(before[0])) << errorText();
    // a confirmation of a package this database never sent changes nothing and fails nothing
    ASSERT_EQ(OCI_SUCCESS, confirm("{E0000000-0000-4000-8000-00000000000E}")) << errorText();
    commit();
    EXPECT_EQ(std::vector<std::string>{before[1]}, unconfirmed());
    EXPECT_EQ("1|2024-05-31 09:30:00", sqliteOne("SELECT confirmed_state, datetime_receipt FROM out_package "
                                                 "WHERE package_id = '" +
                                                 before[0] + "'"));
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM out_package WHERE package_id LIKE '{E%'"));
}

// ---- requests --------------------------------------------------------------------------------------------

TEST_F(QelImportTest, PurseRequestsAreStoredAsReceived) {
    ASSERT_EQ(OCI_SUCCESS,
              purseRequest("ZUV_EXPORT_OUT_PACK.p_set_dr_request", "P_DR_REQUEST_ID", 77001, 1, 1, card1_))
        << errorText();
    ASSERT_EQ(OCI_SUCCESS,
              purseRequest("ZUV_EXPORT_OUT_PACK.p_set_dd_request", "P_DD_REQUEST_ID", 77002, 1, 1, card1_))
        << errorText();
    ASSERT_EQ(OCI_SUCCESS, limitRequest(77003, 1, 1, card1_)) << errorText();
    commit();
    const std::string fields = "|1|1|" + card1_ + "|" + purse1_ + "|";
    EXPECT_EQ(
        "77001" + fields + "1500.5|2024-05-31 09:30:00|1||",
        sqliteOne(
            "SELECT dr_request_id, client_id, client_type, card_number, service_id, amount, date_of, "
            "request_state_id, date_of_answer, package_id FROM dr_request WHERE dr_request_id = 77001"));
    EXPECT_EQ(
        "77002" + fields + "1500.5|2024-05-31 09:30:00|1||",
        sqliteOne(
            "SELECT dd_request_id, client_id, client_type, card_number, service_id, amount, date_of, "
            "request_state_id, date_of_answer, package_id FROM dd_request WHERE dd_request_id = 77002"));
    EXPECT_EQ(
        "77003" + fields + "750|2024-06-01 00:00:00|2024-05-31 09:30:00|500|1|0|" + purse1_ + "|1|38",
        sqliteOne(
            "SELECT oil_request_id, client_id, client_type, card_number, service_id, amount, date_begin, "
            "date_of, current_limit, current_type, current_kind, current_services, request_state_id, "
            "length(guid) FROM oil_request WHERE oil_request_id = 77003"));
}

TEST_F(QelImportTest, RequestsForUnknownClientsOrOtherClientsCardsRaiseAndLeaveNoRow) {
    const struct {
        const char* table;
        const char* key;
        std::function<sword(QelImportTest&, int id, int client, const std::string& card)> call;
    } procs[] = {
        {"dr_request", "dr_request_id",
         [](QelImportTest& t, int id, int client, const std::string& card) {
             return t.purseRequest("ZUV_EXPORT_OUT_PACK.p_set_dr_request", "P_DR_REQUEST_ID", id, client, 1,
                                   card);
         }},
        {"dd_request", "dd_request_id",
         [](QelImportTest& t, int id, int client, const std::string& card) {
             return t.purseRequest("ZUV_EXPORT_OUT_PACK.p_set_dd_request", "P_DD_REQUEST_ID", id, client, 1,
                                   card);
         }},
        {"oil_request", "oil_request_id",
         [](QelImportTest& t, int id, int client, const std::string& card) {
             return t.limitRequest(id, client, 1, card);
         }},
        {"ch_holder_request", "ch_card_holder_req_id",
         [](QelImportTest& t, int id, int client, const std::string& card) {
             return t.holderRequest(id, client, 1, card, "X");
         }},
        {"onl_limit_card_request", "request_id",
         [](QelImportTest& t, int id, int client, const std::string& card) {
             return t.onlineLimitRequest(id, client, 1, card, 1);
         }},
    };
    for (const auto& p : procs) {
        SCOPED_TRACE(p.table);
        EXPECT_EQ(OCI_ERROR, p.call(*this, 88001, 999999, card1_));
        EXPECT_EQ(20001, errorCode());
        EXPECT_NE(std::string::npos, errorText().find("unknown client 999999/1")) << errorText();
        EXPECT_EQ(OCI_ERROR, p.call(*this, 88002, 1, card3_));
        EXPECT_EQ(20002, errorCode());
        EXPECT_NE(std::string::npos, errorText().find("card " + card3_ + " is not a card of client 1/1"))
            << errorText();
        EXPECT_EQ(OCI_SUCCESS, p.call(*this, 88003, 1, card1_)) << errorText();
        // the web side sending a request again
        EXPECT_EQ(OCI_ERROR, p.call(*this, 88003, 1, card1_));
        EXPECT_EQ(1, errorCode()) << errorText();
    }
    commit();
    for (const auto& p : procs) {
        EXPECT_EQ("88003", sqliteOne(std::string("SELECT group_concat(") + p.key + ") FROM " + p.table +
                                     " WHERE " + p.key + " >= 88000"))
            << p.table;
    }
}

TEST_F(QelImportTest, LostCardsOfTheClientAreAcceptedOthersRefusedWithMinusOne) {
    EXPECT_EQ(0, lostCard(1, 1, 1, card1_));
    EXPECT_EQ(-1, lostCard(2, 3, 1, card3_));  // a Dolm card
    EXPECT_EQ(-1, lostCard(3, 1, 1, card3_));  // another client's card
    EXPECT_EQ(-1, lostCard(4, 999, 1, "000000000000"));
    commit();
    EXPECT_EQ("3", sqliteOne("SELECT crd_state FROM card WHERE crd_graphnum = '" + card1_ + "'"));
    EXPECT_NE("3", sqliteOne("SELECT crd_state FROM card WHERE crd_graphnum = '" + card3_ + "'"));
    EXPECT_EQ(
        (std::vector<std::string>{"1|lost at the station|0|0", "2|lost at the station|0|-1",
                                  "3|lost at the station|0|-1", "4|lost at the station|0|-1"}),
        sqlite(
            "SELECT lost_card_req_id, lost_comment, send_state, result FROM lost_card_request ORDER BY 1"));
}

TEST_F(QelImportTest, HolderChangesReachTheCardInUtf8) {
    ASSERT_EQ(OCI_SUCCESS, holderRequest(5, 1, 1, card1_, "\xCF\xE5\xF2\xF0\xEE\xE2 \xCF.\xCF."))
        << errorText();
    commit();
    EXPECT_EQ("5|Петров П.П.|" + card1_ + "|0", sqliteOne("SELECT ch_card_holder_req_id, card_holder_name, "
                                                          "card_number, send_state FROM ch_holder_request"));
    EXPECT_EQ("Петров П.П.", sqliteOne("SELECT crd_holder FROM card WHERE crd_graphnum = '" + card1_ + "'"));
}

TEST_F(QelImportTest, ClientStateChangesAreRecordedAndTheClientGoesOutAgain) {
    ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.P_SET_CLIENT_STATE");
    c.integer("P_CLIENT_ID", 3).integer("P_CLIENT_TYPE", 1).integer("P_NEW_STATE", 2);
    ASSERT_EQ(OCI_SUCCESS, c.run()) << errorText();
    commit();
    EXPECT_EQ("2|",
              sqliteOne("SELECT state, package_id FROM client WHERE client_id = 3 AND client_type = 1"));
    EXPECT_EQ("3|1|1|2",
              sqliteOne("SELECT client_id, client_type, old_state, new_state FROM client_state_request"));
    ProcCall unknown(*this, "ZUV_EXPORT_OUT_PACK.P_SET_CLIENT_STATE");
    unknown.integer("P_CLIENT_ID", 3).integer("P_CLIENT_TYPE", 2).integer("P_NEW_STATE", 2);
    EXPECT_EQ(OCI_ERROR, unknown.run());
    EXPECT_EQ(20001, errorCode());
}

TEST_F(QelImportTest, OnlineLimitRequestsKeepTheLimitTypeInRange) {
    ASSERT_EQ(OCI_SUCCESS, onlineLimitRequest(31, 1, 1, card1_, 2)) << errorText();
    EXPECT_EQ(OCI_ERROR, onlineLimitRequest(32, 1, 1, card1_, 5));
    EXPECT_EQ(2290, errorCode()) << errorText();
    // a limit type the importer could not map arrives as NULL
    EXPECT_EQ(OCI_ERROR, onlineLimitRequest(33, 1, 1, card1_, -1));
    EXPECT_EQ(1400, errorCode()) << errorText();
    commit();
    EXPECT_EQ(
        "31|" + card1_ + "|2|1000|5000|20000.25|2|1|1",
        sqliteOne(
            "SELECT request_id, card_number, service_id, daily_limit, weekly_limit, monthly_limit, "
            "limit_type, is_ind_limit, request_state_id FROM onl_limit_card_request WHERE request_id > 30"));
}

TEST_F(QelImportTest, AnsweredRequestsGoOutWithTheNextPackage) {
    ASSERT_EQ(OCI_SUCCESS, purseRequest("ZUV_EXPORT_OUT_PACK.p_set_dr_request", "P_DR_REQUEST_ID", 77001, 1,
                                        1, card1_, 100))
        << errorText();
    ASSERT_EQ(OCI_SUCCESS, onlineLimitRequest(77002, 1, 1, card1_, 0)) << errorText();
    commit();
    const std::string purse = "FROM purse WHERE gr_nomer = '" + card1_ + "' AND prs_srv_id = " + purse1_;
    std::string balance = sqliteOne("SELECT prs_balance " + purse);
    std::string out;
    ASSERT_EQ(0, RunCommand("sqlite3 " + ShellQuote(db_) + " < " +
                                ShellQuote(std::string(DX_SOURCE_DIR) + "/deploy/qel/backoffice.sql"),
                            &out))
        << out;
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM dr_request WHERE request_state_id = 1"));
    EXPECT_EQ("100.0", sqliteOne("SELECT round(prs_balance - " + balance + ", 2) " + purse));

    std::string id = registerPackage();
    ProcCall dr(*this, "ZUV_EXPORT_OUT_PACK.get_dr_request");
    dr.text("P_PACKAGE_ID", id, 39).cursor("P_DATASET");
    ASSERT_EQ(OCI_SUCCESS, dr.run()) << errorText();
    Rows rows = dr.rowsOf("P_DATASET");
    bool found = false;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows.at(r, "DR_REQUEST_ID") != "77001") continue;
        found = true;
        EXPECT_EQ("2", rows.at(r, "REQUEST_STATE_ID"));
        EXPECT_FALSE(rows.at(r, "DATE_OF_ANSWER").empty());
    }
    EXPECT_TRUE(found);
    ProcCall onl(*this, "ZUV_EXPORT_OUT_PACK.get_onl_limit_card_request");
    onl.text("P_PACKAGE_ID", id, 39).cursor("P_DATASET");
    ASSERT_EQ(OCI_SUCCESS, onl.run()) << errorText();
    EXPECT_GT(onl.rowsOf("P_DATASET").size(), 0u);
    EXPECT_EQ("0|2|1000", sqliteOne("SELECT limit_type, operation_id, daily_limit FROM onl_card_limit "
                                    "WHERE card_num = '" +
                                    card1_ + "' AND services_id = 2"));
}

// ---- coupons ---------------------------------------------------------------------------------------------

class QelCouponTest : public QelImportTest {
protected:
    void SetUp() override {
        QelImportTest::SetUp();
        // the demo's codes expire half a year after its anchor day, which the tests' fixed anchor has passed
        sqlite("UPDATE coupon_setting SET code_exp_date = '2999-12-31 00:00:00'");
    }
    long long checkSecCode(int client, int type, int number, const std::string& code) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.check_sec_code");
        c.integer("P_CLIENT_ID", client)
            .integer("P_CLIENT_TYPE", type)
            .integer("P_NUM_SECURITY_CODE", number)
            .text("P_SECURITY_CODE", code)
            .outNumber("P_ERROR_CODE");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.numberOf("P_ERROR_CODE");
    }
    struct Generation {
        std::string group = "{F0000000-0000-4000-8000-00000000000F}";
        int client = 1, type = 1, service = 2, amount = 3;
        double price = 1000, nominal = 20;
    };
    long long generate(const Generation& g) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.generate_coupons");
        c.text("P_GROUP_COUPONS_ID", g.group)
            .integer("P_CLIENT_ID", g.client)
            .integer("P_CLIENT_TYPE", g.type)
            .integer("P_SERVICE_ID", g.service)
            .integer("P_TYPE_VC_LIMIT", 1)
            .number("P_PRICE", g.price)
            .number("P_NOMINAL", g.nominal)
            .integer("P_DECLARED_AMOUNT", g.amount)
            .date("P_DATE_EXPIRATION", {2024, 12, 31})
            .text("P_NAME_HOLDER", "\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.")
            .text("P_PHONE_NUMBER", "+7 900 000-00-00")
            .text("P_EMAIL", "holder@example.test")
            .outNumber("P_ERROR_CODE");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.numberOf("P_ERROR_CODE");
    }
    void repeatBlock(const std::string& group) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.repeat_block_coupons");
        c.text("P_GROUP_COUPONS_ID", group);
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
    }
    long long couponCall(const char* proc, const std::string& group, const std::string& vc) {
        ProcCall c(*this, proc);
        c.text("P_GROUP_COUPONS_ID", group).text("P_VC_GUID", vc).outNumber("P_ERROR_CODE");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();
        return c.numberOf("P_ERROR_CODE");
    }
    sword couponRequest(int id, int type, const std::string& group, const std::string& vc) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.p_set_coupon_request");
        c.integer("P_REQUEST_ID", id)
            .integer("P_TYPE_REQUEST", type)
            .text("P_GROUP_COUPONS_ID", group)
            .text("P_VC_GUID", vc)
            .integer("P_CLIENT_ID", 1)
            .integer("P_CLIENT_TYPE", 1)
            .date("P_DATE_CREATE", kWhen);
        return c.run();
    }
    sword requestStatus(int id, int code) {
        ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.set_vc_request_status");
        c.integer("P_REQUEST_ID", id).integer("P_ERROR_CODE", code);
        return c.run();
    }
    std::vector<std::string> states(const std::string& group) {
        return sqlite("SELECT vc_state_id FROM coupon WHERE vc_group_id = '" + group +
                      "' ORDER BY vc_number_view");
    }
};

TEST_F(QelCouponTest, SecurityCodesAreChecked) {
    std::string code3 = sqliteOne("SELECT code FROM sec_code WHERE code_table_num = 1 AND code_num = 3");
    ASSERT_EQ(6u, code3.size());
    EXPECT_EQ(0, checkSecCode(1, 1, 3, code3));
    EXPECT_EQ(-4, checkSecCode(1, 1, 3, code3 == "000000" ? "111111" : "000000"));
    EXPECT_EQ(-4, checkSecCode(1, 1, 3, ""));
    EXPECT_EQ(-2, checkSecCode(1, 1, 11, code3));
    EXPECT_EQ(-1, checkSecCode(2, 2, 3, code3));  // a private person without coupons
    EXPECT_EQ(-1, checkSecCode(999, 1, 3, code3));
    sqlite(
        "UPDATE coupon_setting SET code_exp_date = '2000-01-01 00:00:00' WHERE customers_id = "
        "(SELECT onl_client_id FROM client WHERE client_id = 1)");
    EXPECT_EQ(-3, checkSecCode(1, 1, 3, code3));
}

TEST_F(QelCouponTest, GenerationMakesTheDeclaredCouponsAndTheSavepointUndoesThem) {
    const std::string vcCard =
        sqliteOne("SELECT crd_graphnum FROM card WHERE client_id = 1 AND is_vc_card = 1");
    const long long numbers = std::stoll(sqliteOne("SELECT value FROM zuv_seq WHERE name = 'coupon_number'"));
    Generation g;
    ASSERT_EQ(OCI_SUCCESS, exec("SAVEPOINT Before_generate_coupons")) << errorText();
    EXPECT_EQ(0, generate(g));
    repeatBlock(g.group);
    ASSERT_EQ(OCI_SUCCESS, exec("ROLLBACK TO SAVEPOINT Before_generate_coupons")) << errorText();
    EXPECT_EQ(0, generate(g));
    repeatBlock(g.group);
    commit();
    auto coupons = sqlite(
        "SELECT vc_state_id, vc_number_view, price, card_num_vc, length(vc_id), package_id FROM coupon "
        "WHERE vc_group_id = '" +
        g.group + "' ORDER BY vc_number_view");
    ASSERT_EQ(3u, coupons.size());
    for (int k = 0; k < 3; ++k) {
        char number[32];
        std::snprintf(number, sizeof number, "VC%010lld", numbers + 1 + k);
        EXPECT_EQ("1|" + std::string(number) + "|1000|" + vcCard + "|38|", coupons[k]);
    }
    EXPECT_EQ(
        "1|1|2|3|1000|20|Иванов И.И.|2024-12-31 00:00:00",
        sqliteOne("SELECT client_id, client_type, service_id, declared_amount, price, nominal, name_holder, "
                  "date_expiration FROM coupon_group WHERE vc_group_id = '" +
                  g.group + "'"));
}

TEST_F(QelCouponTest, GenerationRefusedWithAPositiveCodeMakesNothing) {
    const long long groups = sqliteCount("SELECT count(*) FROM coupon_group");
    const long long coupons = sqliteCount("SELECT count(*) FROM coupon");
    const std::string used = sqliteOne("SELECT min(vc_group_id) FROM coupon_group");
    auto with = [](std::function<void(Generation&)> f) {
        Generation g;
        f(g);
        return g;
    };
    const struct {
        const char* what;
        Generation g;
        long long code;
    } cases[] = {
        {"private person without coupons", with([](Generation& g) { g.client = 2, g.type = 2; }), 1},
        {"unknown client", with([](Generation& g) { g.client = 999; }), 1},
        {"no coupons", with([](Generation& g) { g.amount = 0; }), 2},
        {"too many coupons", with([](Generation& g) { g.amount = 1001; }), 2},
        {"free coupons", with([](Generation& g) { g.price = 0; }), 3},
        {"empty coupons", with([](Generation& g) { g.nominal = -1; }), 3},
        {"group used before", with([&](Generation& g) { g.group = used; }), 4},
        {"group missing", with([](Generation& g) { g.group = ""; }), 4},
        {"unknown service", with([](Generation& g) { g.service = 99; }), 5},
    };
    for (const auto& c : cases) EXPECT_EQ(c.code, generate(c.g)) << c.what;
    commit();
    EXPECT_EQ(groups, sqliteCount("SELECT count(*) FROM coupon_group"));
    EXPECT_EQ(coupons, sqliteCount("SELECT count(*) FROM coupon"));
}

TEST_F(QelCouponTest, BlocksAndPrintsChangeTheCouponsTheyName) {
    Generation early;
    early.group = "{F0000000-0000-4000-8000-0000000000E1}";
    // a block that comes before its group waits for the generation
    EXPECT_EQ(1, couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", early.group, ""));
    EXPECT_EQ(0, generate(early));
    repeatBlock(early.group);
    commit();
    EXPECT_EQ((std::vector<std::string>{"2", "2", "2"}), states(early.group));

    Generation g;
    EXPECT_EQ(0, generate(g));
    commit();
    auto ids =
        sqlite("SELECT vc_id FROM coupon WHERE vc_group_id = '" + g.group + "' ORDER BY vc_number_view");
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ(0, couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", g.group, ids[0]));
    EXPECT_EQ(0, couponCall("ZUV_EXPORT_OUT_PACK.print_coupons", g.group, ""));
    commit();
    EXPECT_EQ((std::vector<std::string>{"2", "3", "3"}), states(g.group));
    EXPECT_EQ(3, couponCall("ZUV_EXPORT_OUT_PACK.print_coupons", g.group, ids[0]));
    EXPECT_EQ(2, couponCall("ZUV_EXPORT_OUT_PACK.print_coupons", g.group, ids[0] + "x"));
    EXPECT_EQ(2, couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", early.group, ids[1]));
    EXPECT_EQ(1, couponCall("ZUV_EXPORT_OUT_PACK.print_coupons", "{no such group}", ""));
    EXPECT_EQ(2, couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", "", ""));
    commit();
    sqlite("UPDATE coupon SET vc_state_id = 4 WHERE vc_id = '" + ids[2] + "'");
    EXPECT_EQ(3, couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", g.group, ids[2]));
    commit();
    EXPECT_EQ((std::vector<std::string>{"2", "3", "4"}), states(g.group));
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM coupon_block_pending"));
}

TEST_F(QelCouponTest, CouponRequestsAreAnsweredByTheirStatus) {
    // the importer's flow for a creation refused by the check, then one that goes through
    const std::string group = "{F0000000-0000-4000-8000-0000000000C1}";
    ASSERT_EQ(OCI_SUCCESS, couponRequest(501, 1, group, "")) << errorText();
    long long code = checkSecCode(1, 1, 1, "wrong");
    EXPECT_EQ(-4, code);
    ASSERT_EQ(OCI_SUCCESS, requestStatus(501, static_cast<int>(code))) << errorText();
    ASSERT_EQ(OCI_SUCCESS, couponRequest(502, 1, group, "")) << errorText();
    ASSERT_EQ(OCI_SUCCESS, exec("SAVEPOINT Before_generate_coupons")) << errorText();
    Generation g;
    g.group = group;
    EXPECT_EQ(0, generate(g));
    ASSERT_EQ(OCI_SUCCESS, requestStatus(502, 0)) << errorText();
    ASSERT_EQ(OCI_SUCCESS, couponRequest(503, 2, group, "none")) << errorText();
    ASSERT_EQ(
        OCI_SUCCESS,
        requestStatus(503, static_cast<int>(couponCall("ZUV_EXPORT_OUT_PACK.block_coupons", group, "none"))))
        << errorText();
    EXPECT_EQ(OCI_ERROR, requestStatus(999, 0));
    EXPECT_EQ(20004, errorCode()) << errorText();
    EXPECT_EQ(OCI_ERROR, couponRequest(504, 4, group, ""));
    EXPECT_EQ(2290, errorCode()) << errorText();
    commit();
    EXPECT_EQ(
        (std::vector<std::string>{"501|1|" + group + "||3|-4", "502|1|" + group + "||2|",
                                  "503|2|" + group + "|none|3|2"}),
        sqlite("SELECT request_id, type_request, vc_group_id, vc_guid, request_state_id, cancel_cause_id "
               "FROM coupon_request WHERE request_id > 500 ORDER BY 1"));

    std::string id = registerPackage();
    ProcCall states(*this, "ZUV_EXPORT_OUT_PACK.get_coupon_req_ch_state_list");
    states.text("P_PACKAGE_ID", id).cursor("P_DATASET");
    ASSERT_EQ(OCI_SUCCESS, states.run()) << errorText();
    Rows rows = states.rowsOf("P_DATASET");
    std::map<std::string, std::string> answer;
    for (size_t r = 0; r < rows.size(); ++r)
        answer[rows.at(r, "REQUEST_ID")] =
            rows.at(r, "REQUEST_STATE_ID") + "/" + rows.at(r, "CANCEL_CAUSE_ID");
    EXPECT_EQ("3/-4", answer["501"]);
    EXPECT_EQ("2/", answer["502"]);
    EXPECT_EQ("3/2", answer["503"]);
    // the new coupons and the client's settings go with it too
    EXPECT_EQ(3, sqliteCount("SELECT count(*) FROM coupon WHERE vc_group_id = '" + group +
                             "' AND package_id = '" + id + "'"));
    EXPECT_EQ(1, sqliteCount("SELECT count(*) FROM coupon_setting WHERE package_id = '" + id +
                             "' AND customers_id = (SELECT onl_client_id FROM client WHERE client_id = 1)"));
}

}  // namespace
