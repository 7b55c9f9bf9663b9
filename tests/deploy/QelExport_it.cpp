// The export side of the exchange package: package registration and send date, the repeated packages,
// and the forty cursor procedures with the parameter lists and columns the mappers use.
#include <regex>

#include "QelDbFixture.h"

namespace {

enum class By { Nothing, ClientType, PackageId };

struct CursorKind {
    int kind;
    const char* proc;
    By by;
    std::vector<std::string> columns;  // as the mapper reads them, in order
    const char* count;                 // the rows it must return; $P stands for the package id
};

const CursorKind kKinds[] = {
    {0,
     "ZUV_EXPORT_OUT_PACK.get_new_client_list_qel",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "CLIENT_NAME", "NAME_FOR_REPORT", "E_MAIL", "IN_BLACK_LIST",
      "MAX_GR_CARD_NUM", "SIGN_DAYLI_LIMIT", "SIGN_DAYLI_INFORM", "SIGN_MONTHLY_LIMIT", "SIGN_MONTHLY_INFORM",
      "PHONE", "TRN_COUNT"},
     "SELECT count(*) FROM client WHERE source = 1 AND is_new = 1"},
    {1,
     "ZUV_EXPORT_OUT_PACK.get_new_client_list_dolm",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "CLIENT_NAME", "NAME_FOR_REPORT", "E_MAIL", "IN_BLACK_LIST",
      "MAX_GR_CARD_NUM", "SIGN_DAYLI_LIMIT", "SIGN_DAYLI_INFORM", "SIGN_MONTHLY_LIMIT", "SIGN_MONTHLY_INFORM",
      "PHONE", "TRN_COUNT"},
     "SELECT count(*) FROM client WHERE source = 2 AND is_new = 1"},
    {2,
     "ZUV_EXPORT_OUT_PACK.get_service_list",
     By::Nothing,
     {"SRV_ID", "SRV_NAME", "SRV_MES", "SRV_ACTIVE", "SRV_IS_CURRENCY"},
     "SELECT count(*) FROM service"},
    {3,
     "ZUV_EXPORT_OUT_PACK.get_emitent_list",
     By::Nothing,
     {"EMT_ID", "FLL_ID", "EMT_NAME", "EMT_ACTIVE", "EMT_FIRM_ID"},
     "SELECT count(*) FROM emitent"},
    {4,
     "ZUV_EXPORT_OUT_PACK.get_pos_list",
     By::PackageId,
     {"POS_EMITENT", "POS_FILIAL", "POS_NUMBER", "POS_NAME", "POS_ADDRESS", "OPERATION_ID"},
     "SELECT count(*) FROM pos WHERE package_id = '$P'"},
    {5,
     "ZUV_EXPORT_OUT_PACK.get_ad_params",
     By::Nothing,
     {"ACTIVE_DISCOUNT", "AD_CALC_MONTH_COUNT"},
     "SELECT count(*) FROM ad_params"},
    {6,
     "ZUV_EXPORT_OUT_PACK.GET_POS_PRICE_LIST",
     By::PackageId,
     {"POS_ID", "PRICE_NUM", "SERVICE_ID", "TERM_PRICE", "PRICE_START_DATE", "STATUS"},
     "SELECT count(*) FROM pos_price WHERE package_id = '$P'"},
    {7, "ZUV_EXPORT_OUT_PACK.get_rfid_params", By::Nothing, {"HAS_RFID"}, "SELECT count(*) FROM rfid_params"},
    {8,
     "ZUV_EXPORT_OUT_PACK.p_get_package_confirm_list",
     By::Nothing,
     {"PACKAGE_ID", "DATETIME_LAST_RECEIPT", "COUNT_RECEIPT", "STATE"},
     "SELECT count(*) FROM in_package WHERE confirm_package_id = '$P'"},
    {9,
     "ZUV_EXPORT_OUT_PACK.get_onl_limits",
     By::PackageId,
     {"CUSTOMERS_ID", "KIND_LIMIT", "LIMIT_TYPE", "SERVICES_ID", "DAILY_LIMIT", "WEEKLY_LIMIT",
      "MONTHLY_LIMIT", "ACTIVE", "RECEIVE_VC"},
     "SELECT count(*) FROM onl_limit WHERE package_id = '$P'"},
    {10,
     "ZUV_EXPORT_OUT_PACK.get_client_list_export_qel",
     By::PackageId,
     {"CLN_ID",
      "CLN_TYPE",
      "CLN_NAME",
      "NAME_FOR_REPORT",
      "CLN_EMAIL",
      "CLN_BL",
      "SL_AL_DEBTOR_SIGN",
      "SL_IN_DEBTOR_SIGN",
      "ML_AL_DEBTOR_SIGN",
      "ML_IN_DEBTOR_SIGN",
      "ONL_CLIENT_ID",
      "PHONE",
      "WL_AL_DEBTOR_SIGN",
      "WL_IN_DEBTOR_SIGN",
      "INN",
      "KPP",
      "ADDRESS",
      "FACT_ADDRESS",
      "ACCOUNT",
      "BANK_NAME",
      "CORR_ACCOUNT",
      "BIK",
      "FAX",
      "CONSIGNEE_ID",
      "BUYER_FIRM_ID",
      "CONTRACT_DATE",
      "CONTRACT_NUM",
      "DIRECTOR_FIO",
      "DIRECTOR_POST",
      "CONTROLLER_FIO",
      "WARRANT_NUMBER",
      "WARRANT_DATE",
      "MANAGER_EMAIL",
      "CLIENT_TARIF"},
     "SELECT count(*) FROM client WHERE package_id = '$P' AND source = 1"},
    {11,
     "ZUV_EXPORT_OUT_PACK.get_client_list_export_dolm",
     By::PackageId,
     {"CLN_ID", "CLN_TYPE", "CLN_NAME", "NAME_FOR_REPORT", "CLN_EMAIL", "CLN_BL", "SL_AL_DEBTOR_SIGN",
      "SL_IN_DEBTOR_SIGN", "ML_AL_DEBTOR_SIGN", "ML_IN_DEBTOR_SIGN", "CLN_PHONE", "ADDRESS", "FAX"},
     "SELECT count(*) FROM client WHERE package_id = '$P' AND source = 2"},
    {12,
     "ZUV_EXPORT_OUT_PACK.get_holder_qel_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "HOLDER"},
     "SELECT count(*) FROM (SELECT DISTINCT k.client_id, k.client_type, k.crd_holder FROM card k "
     "JOIN client c USING (client_id, client_type) WHERE c.source = 1)"},
    {13,
     "ZUV_EXPORT_OUT_PACK.get_holder_dolm_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "HOLDER"},
     "SELECT count(*) FROM (SELECT DISTINCT k.client_id, k.client_type, k.crd_holder FROM card k "
     "JOIN client c USING (client_id, client_type) WHERE c.source = 2)"},
    {14,
     "ZUV_EXPORT_OUT_PACK.get_ad_client_params",
     By::Nothing,
     {"CLIENT_ID", "CLIENT_TYPE", "BIRTH", "SEX"},
     "SELECT count(*) FROM client WHERE source = 2 AND client_type = 2"},
    {15,
     "ZUV_EXPORT_OUT_PACK.get_account_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "ACC_SRV_ID", "ACC_BALANCE", "DL_INFORM_BARRIER", "DL_ALARM_BARRIER",
      "ML_INFORM_BARRIER", "ML_ALARM_BARRIER", "ACC_TIME_CREDIT", "ACC_OVERDRAFT", "ACC_LIMIT_OVERDRAFT",
      "ACC_VC_SUM"},
     "SELECT count(*) FROM account JOIN client USING (client_id, client_type) WHERE source = 1"},
    {16,
     "ZUV_EXPORT_OUT_PACK.get_card_qel_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "CRD_GRAPHNUM", "CRD_STATE", "CRD_HOLDER", "PRS_BNS_EXIST",
      "PRS_BONUS_SIZE", "PRS_BONUS_QUOTA", "MAX_CONSUMPTION", "PETROLTANK", "IS_VC_CARD"},
     "SELECT count(*) FROM card JOIN client USING (client_id, client_type) WHERE source = 1"},
    {17,
     "ZUV_EXPORT_OUT_PACK.get_card_dolm_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "CRD_GRAPHNUM", "CRD_STATE", "CRD_HOLDER", "DOLM_TYPE", "CURRENT_BONUS",
      "MAX_BONUS", "OLD_BONUS", "DISCONT_PERCENT", "EXPIRY_DATE", "AD_BONUS", "AD_BEGIN_OF_PERIOD"},
     "SELECT count(*) FROM card JOIN client USING (client_id, client_type) WHERE source = 2"},
    {18,
     "ZUV_EXPORT_OUT_PACK.get_purse_qel_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "GR_NOMER", "PRS_SRV_ID", "PRS_BALANCE", "PRS_BALANCE_QUOTA", "PRS_QUOTA",
      "PRS_QUOTA_TYPE", "PRS_QUOTA_KIND", "PRS_SCHEMA_NUM"},
     "SELECT count(*) FROM purse JOIN card ON crd_graphnum = gr_nomer JOIN client USING (client_id, "
     "client_type) "
     "WHERE source = 1"},
    {19,
     "ZUV_EXPORT_OUT_PACK.get_dr_request",
     By::PackageId,
     {"DR_REQUEST_ID", "REQUEST_STATE_ID", "CANCEL_CAUSE_ID", "DATE_BEGIN", "DATE_END", "DR_GROUP_ID",
      "DR_ID_IN_GROUP", "PRICE", "DATE_OF_ANSWER"},
     "SELECT count(*) FROM dr_request WHERE package_id = '$P'"},
    {20,
     "ZUV_EXPORT_OUT_PACK.get_dd_request",
     By::PackageId,
     {"DD_REQUEST_ID", "REQUEST_STATE_ID", "CANCEL_CAUSE_ID", "DATE_BEGIN", "DATE_END", "DD_GROUP_ID",
      "DD_ID_IN_GROUP", "DD_PRICE", "DATE_OF_ANSWER"},
     "SELECT count(*) FROM dd_request WHERE package_id = '$P'"},
    {21,
     "ZUV_EXPORT_OUT_PACK.get_oil_request",
     By::PackageId,
     {"OIL_REQUEST_ID", "REQUEST_STATE_ID", "CANCEL_CAUSE_ID", "DATE_BEGIN", "DATE_END", "DATE_OF_ANSWER",
      "GUID"},
     "SELECT count(*) FROM oil_request WHERE package_id = '$P'"},
    {22,
     "ZUV_EXPORT_OUT_PACK.get_trn_qel_list",
     By::PackageId,
     {"CLIENT_ID",        "CLIENT_TYPE",     "TRN_GUID",        "TRN_EMT_POS",     "TRN_FIL_POS",
      "TRN_POS_NUM",      "TRN_TERM_NUM",    "TRN_CARD_NUM",    "TRN_DATEOF",      "TRN_SRV_ID",
      "TRN_CURR_ID",      "TRN_AMOUNT",      "TRN_COST_ON_POS", "TRN_COST_CLIENT", "TRN_PRICE_ON_POS",
      "TRN_PRICE_CLIENT", "TRN_DELTA_PRICE", "TRN_DELTA_COST",  "POS_DELTA_PRICE", "POS_DELTA_COST",
      "TRN_SCHEMA_NUM",   "TRN_TYPE",        "ACC_COMMENT",     "ODOMETR",         "RFID_NUM"},
     "SELECT count(*) FROM trn WHERE package_id = '$P' AND source = 1"},
    {23,
     "ZUV_EXPORT_OUT_PACK.get_trn_dolm_list",
     By::PackageId,
     {"CLIENT_ID",        "CLIENT_TYPE",      "TRN_GUID",        "TRN_EMT_POS",     "TRN_FIL_POS",
      "TRN_POS_NUM",      "TRN_TERM_NUM",     "TRN_CARD_NUM",    "TRN_DATEOF",      "TRN_SRV_ID",
      "TRN_CURR_ID",      "TRN_AMOUNT",       "TRN_COST_ON_POS", "TRN_COST_CLIENT", "TRN_PRICE_ON_POS",
      "TRN_PRICE_CLIENT", "TRN_DELTA_PRICE",  "TRN_DELTA_COST",  "POS_DELTA_PRICE", "POS_DELTA_COST",
      "TRN_TYPE",         "DISCOUNT_PERCENT", "DISCOUNT_TYPE",   "TRN_BONUS",       "CURRENT_BONUS"},
     "SELECT count(*) FROM trn WHERE package_id = '$P' AND source = 2"},
    {24,
     "ZUV_EXPORT_OUT_PACK.get_ibs_qel_trns",
     By::PackageId,
     {"TRN_GUID", "GUID_139", "GDSCODE", "GDSNAME", "AMOUNT", "PRICE"},
     "SELECT count(*) FROM ibs_line JOIN trn USING (trn_id) WHERE package_id = '$P' AND source = 1"},
    {25,
     "ZUV_EXPORT_OUT_PACK.get_ibs_dolm_trns",
     By::PackageId,
     {"TRN_GUID", "GUID_139", "GDSCODE", "GDSNAME", "AMOUNT", "PRICE"},
     "SELECT count(*) FROM ibs_line JOIN trn USING (trn_id) WHERE package_id = '$P' AND source = 2"},
    {26,
     "ZUV_EXPORT_OUT_PACK.get_mifare_card_list",
     By::ClientType,
     {"CLIENT_ID", "CLIENT_TYPE", "CARD_PETROL_NUM", "MIFARE_NUM", "MIFARE_SERIAL_NUM", "DAYS", "TIME_FROM",
      "TIME_TO", "PETROLTANK", "VEHICLE_NAME", "VEHICLE_NUMBER"},
     "SELECT count(*) FROM mifare WHERE card_petrol_num IS NOT NULL"},
    {27,
     "ZUV_EXPORT_OUT_PACK.get_mifare_client_list",
     By::Nothing,
     {"CLIENT_ID", "MIFARE_NUM", "MIFARE_SERIAL_NUM", "DAYS", "TIME_FROM", "TIME_TO", "PETROLTANK",
      "VEHICLE_NAME", "VEHICLE_NUMBER"},
     "SELECT count(*) FROM mifare WHERE card_petrol_num IS NULL AND client_type = 1"},
    {28,
     "zuv_export_out_pack.get_unconfirmed_packages",
     By::Nothing,
     {"PACKAGE_ID"},
     "SELECT count(*) FROM out_package WHERE datetime_send IS NOT NULL AND confirmed_state IS NULL"},
    {29,
     "ZUV_EXPORT_OUT_PACK.get_onl_cards",
     By::PackageId,
     {"ONL_CLIENT", "CARDNUM", "SCHEDULE", "TIME_FROM", "TIME_TO", "ONLINE_CARDTYPE", "PLATENUM",
      "OPERATION_ID"},
     "SELECT count(*) FROM onl_card WHERE package_id = '$P'"},
    {30,
     "ZUV_EXPORT_OUT_PACK.get_onl_cards_limits",
     By::PackageId,
     {"CARD_NUM", "KIND_LIMIT", "LIMIT_TYPE", "SERVICES_ID", "DAILY_LIMIT", "WEEKLY_LIMIT", "MONTHLY_LIMIT",
      "ACTIVE", "IND_LIMIT", "OPERATION_ID"},
     "SELECT count(*) FROM onl_card_limit WHERE package_id = '$P'"},
    {31,
     "ZUV_EXPORT_OUT_PACK.get_onl_limit_card_request",
     By::PackageId,
     {"REQUEST_ID", "REQUEST_STATE_ID", "CANCEL_CAUSE_ID", "DATE_OF_ANSWER"},
     "SELECT count(*) FROM onl_limit_card_request WHERE package_id = '$P'"},
    {32,
     "ZUV_EXPORT_OUT_PACK.GET_CLIENT_TARIF_LIST",
     By::PackageId,
     {"DATA_ID", "ID_BAZOVOI_GR_TARIFOV", "OPERATION_ID"},
     "SELECT count(*) FROM client_tarif WHERE package_id = '$P'"},
    {33,
     "ZUV_EXPORT_OUT_PACK.GET_RATES_CLIENT_TARIF_LIST",
     By::PackageId,
     {"TARIF_ID", "SERVICE_ID", "START_DATE", "TZENA", "OPERATION_ID"},
     "SELECT count(*) FROM client_tarif_price WHERE package_id = '$P'"},
    {34,
     "ZUV_EXPORT_OUT_PACK.GET_DISC_CLIENT_TARIF_LIST",
     By::PackageId,
     {"TARIF_ID", "SERVICE_ID", "SCIDKA", "DISCOUNT_TYPE_ID", "OPERATION_ID"},
     "SELECT count(*) FROM client_tarif_discount WHERE package_id = '$P'"},
    {35,
     "ZUV_EXPORT_OUT_PACK.get_emitent_configs_list",
     By::Nothing,
     {"CODE", "VALUE"},
     "SELECT count(*) FROM emitent_config"},
    {36,
     "ZUV_EXPORT_OUT_PACK.get_coupon_limits",
     By::PackageId,
     {"CUSTOMERS_ID", "KIND_LIMIT", "LIMIT_TYPE", "SERVICES_ID", "DAILY_LIMIT", "WEEKLY_LIMIT",
      "MONTHLY_LIMIT", "ACTIVE"},
     "SELECT count(*) FROM coupon_limit WHERE package_id = '$P'"},
    {37,
     "ZUV_EXPORT_OUT_PACK.get_coupon_list",
     By::PackageId,
     {"VC_ID", "VC_GROUP_ID", "VC_STATE_ID", "VC_NUMBER_VIEW", "DATE_CREATE", "DATE_SERVICE", "PRICE",
      "CARD_NUM_VC"},
     "SELECT count(*) FROM coupon WHERE package_id = '$P'"},
    {38,
     "ZUV_EXPORT_OUT_PACK.get_coupon_settings_list",
     By::PackageId,
     {"CUSTOMERS_ID", "RECEIVE_VC", "VC_FP", "VC_POSP", "VC_LAST_DATE_CREATE", "PIN_EXP_DATE", "PIN_STATE",
      "CODE_TABLE_NUM", "CODE_COUNT", "CODE_EXP_DATE"},
     "SELECT count(*) FROM coupon_setting WHERE package_id = '$P'"},
    {39,
     "ZUV_EXPORT_OUT_PACK.get_coupon_req_ch_state_list",
     By::PackageId,
     {"REQUEST_ID", "REQUEST_STATE_ID", "CANCEL_CAUSE_ID", "DATE_OF_ANSWER"},
     "SELECT count(*) FROM coupon_request WHERE package_id = '$P'"},
};

std::string withPackage(std::string sql, const std::string& id) {
    return std::regex_replace(sql, std::regex("\\$P"), id);
}

class QelExportTest : public QelDbTest {
protected:
    // One cursor procedure called with the parameter list of its component.
    Rows open(const CursorKind& k, const std::string& packageId, int clientType = 0) {
        ProcCall c(*this, k.proc);
        if (k.by == By::ClientType) c.integer("P_CLIENT_TYPE", clientType);
        if (k.by == By::PackageId) c.text("P_PACKAGE_ID", packageId, 39);
        c.cursor("P_DATASET");
        EXPECT_EQ(OCI_SUCCESS, c.run()) << k.proc << ": " << errorText();
        return c.rowsOf("P_DATASET");
    }
    Rows open(int kind, const std::string& packageId, int clientType = 0) {
        return open(kKinds[kind], packageId, clientType);
    }
    // add_entries_to_package as the exporter calls it; answers the call's status
    sword registerAs(const std::string& id) {
        ProcCall c(*this, "zuv_export_out_pack.add_entries_to_package");
        c.text("P_PACKAGE_ID", id, 39).date("P_DATETIME_CREATE", {2024, 5, 31, 10, 15, 0});
        return c.run();
    }
    sword sendDate(const std::string& id) {
        ProcCall c(*this, "zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE");
        c.text("P_PACKAGE_ID", id, 39);
        return c.run();
    }
    std::string repeated() {
        return sqliteOne("SELECT package_id FROM out_package WHERE repeat_requested = 1");
    }
};

TEST_F(QelExportTest, EveryCursorProcedureAnswersWithTheColumnsOfItsMapper) {
    ASSERT_EQ(40u, std::size(kKinds));
    std::string id = registerPackage();
    std::vector<std::string> counts;
    for (const CursorKind& k : kKinds) counts.push_back(withPackage(k.count, id));
    std::vector<long long> expected = sqliteCounts(counts);
    for (size_t n = 0; n < std::size(kKinds); ++n) {
        const CursorKind& k = kKinds[n];
        SCOPED_TRACE(k.proc);
        ASSERT_EQ(static_cast<int>(n), k.kind);
        Rows rows = open(k, id);
        EXPECT_EQ(k.columns, rows.columns);
        EXPECT_GT(expected[n], 0) << "the demo data have no rows of kind " << k.kind;
        EXPECT_EQ(expected[n], static_cast<long long>(rows.size()));
    }
}

TEST_F(QelExportTest, ClientTypeKindsAnswerOnlyTheClientTypeAskedFor) {
    for (const CursorKind& k : kKinds) {
        if (k.by != By::ClientType) continue;
        SCOPED_TRACE(k.proc);
        size_t all = open(k, "", 0).size();
        size_t sum = 0;
        for (int type : {1, 2}) {
            Rows rows = open(k, "", type);
            for (size_t r = 0; r < rows.size(); ++r)
                EXPECT_EQ(std::to_string(type), rows.at(r, "CLIENT_TYPE"));
            sum += rows.size();
        }
        EXPECT_EQ(all, sum);
        EXPECT_EQ(0u, open(k, "", 3).size());
    }
}

TEST_F(QelExportTest, CursorsGiveTextInTheClientsCodePageAndNullsAsNull) {
    std::string id = registerPackage();
    Rows services = open(2, id);
    ASSERT_GT(services.size(), 1u);
    EXPECT_EQ("\xC0\xE8-92", services.at(0, "SRV_NAME"));  // "Аи-92" in code page 1251
    // firms have legal details, private persons none
    sqlite("UPDATE client SET package_id = NULL WHERE source = 1");
    std::string next = registerPackage("{A0000000-0000-4000-8000-000000000002}");
    Rows clients = open(10, next);
    int firms = 0, persons = 0;
    for (size_t r = 0; r < clients.size(); ++r) {
        bool firm = clients.at(r, "CLN_TYPE") == "1";
        (firm ? firms : persons)++;
        EXPECT_EQ(firm, !clients.at(r, "INN").empty());
        EXPECT_EQ(firm, !clients.at(r, "CONTRACT_DATE").empty());
    }
    EXPECT_GT(firms, 0);
    EXPECT_GT(persons, 0);
}

// ---- registration and send date ------------------------------------------------------------------------

TEST_F(QelExportTest, RegistrationStampsEveryWaitingRowWithThePackage) {
    const std::vector<std::string> tables = {
        "pos",   "pos_price", "client_tarif", "client_tarif_price", "client_tarif_discount", "client",
        "trn",   "onl_limit", "onl_card",     "onl_card_limit",     "coupon_limit",          "coupon_setting",
        "coupon"};
    auto counts = [&](const std::string& where) {
        std::vector<std::string> q;
        for (const auto& t : tables) q.push_back("SELECT count(*) FROM " + t + " WHERE " + where);
        return sqliteCounts(q);
    };
    std::vector<long long> waiting = counts("package_id IS NULL");
    std::vector<long long> sent = counts("package_id IS NOT NULL");
    for (size_t t = 0; t < tables.size(); ++t) EXPECT_GT(waiting[t], 0) << tables[t];
    auto requests =
        sqliteCounts({"SELECT count(*) FROM dr_request WHERE package_id IS NULL AND request_state_id <> 1",
                      "SELECT count(*) FROM dr_request WHERE request_state_id = 1",
                      "SELECT count(*) FROM client WHERE is_new = 1"});
    EXPECT_GT(requests[0], 0);
    EXPECT_GT(requests[1], 0);

    std::string id = registerPackage();
    EXPECT_EQ(id + "|2024-05-31 10:15:00||0|0",
              sqliteOne("SELECT package_id, datetime_create, datetime_send, send_count, repeat_requested "
                        "FROM out_package WHERE package_id = '" +
                        id + "'"));
    EXPECT_EQ(waiting, counts("package_id = '" + id + "'"));
    EXPECT_EQ(std::vector<long long>(tables.size(), 0), counts("package_id IS NULL"));
    std::vector<long long> all = counts("package_id IS NOT NULL");
    for (size_t t = 0; t < tables.size(); ++t) EXPECT_EQ(sent[t] + waiting[t], all[t]) << tables[t];
    // requests go out once answered; those still with the back office wait; the new clients are announced
    EXPECT_EQ(requests, sqliteCounts({"SELECT count(*) FROM dr_request WHERE package_id = '" + id + "'",
                                      "SELECT count(*) FROM dr_request WHERE package_id IS NULL",
                                      "SELECT count(*) FROM client WHERE new_package_id = '" + id + "'"}));
}

TEST_F(QelExportTest, RegistrationRefusesAnIdTwiceOrMalformedAndStampsNothingThen) {
    std::string id = registerPackage();
    // a transaction that arrives afterwards waits for the next package
    sqlite(
        "INSERT INTO trn(trn_guid, source, client_id, client_type, trn_dateof) "
        "VALUES ('{late}', 1, 1, 1, '2024-05-31 11:00:00')");
    const struct {
        std::string id;
        sb4 code;
    } cases[] = {{id, 1}, {"{short}", 2290}, {"", 1400}};
    for (const auto& c : cases) {
        EXPECT_EQ(OCI_ERROR, registerAs(c.id)) << c.id;
        EXPECT_EQ(c.code, errorCode()) << errorText();
    }
    commit();
    EXPECT_EQ("", sqliteOne("SELECT package_id FROM trn WHERE trn_guid = '{late}'"));
    EXPECT_EQ(1, sqliteCount("SELECT count(*) FROM out_package WHERE package_id = '" + id + "'"));
}

TEST_F(QelExportTest, RegistrationLeavesWaitingWhatTheSettingsLeaveOut) {
    sqlite(
        "UPDATE zuv_param SET value = '1' WHERE name = 'SOURCE_DATA';"
        "UPDATE zuv_param SET value = '2' WHERE name = 'CLIENT_TYPE_EXPORT'");
    long long dolmWaiting = sqliteCount("SELECT count(*) FROM trn WHERE source = 2 AND package_id IS NULL");
    ASSERT_GT(dolmWaiting, 0);
    std::string id = registerPackage();
    EXPECT_EQ(dolmWaiting, sqliteCount("SELECT count(*) FROM trn WHERE package_id IS NULL"));
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM trn WHERE source = 2 AND package_id = '" + id + "'"));
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM client WHERE source = 2 AND package_id = '" + id + "'"));
    // of the new Qel clients only the private persons are announced
    EXPECT_EQ("2",
              sqliteOne("SELECT group_concat(client_type) FROM client WHERE new_package_id = '" + id + "'"));

    sqlite("UPDATE zuv_param SET value = '2' WHERE name = 'SOURCE_DATA'");
    std::string next = registerPackage("{A0000000-0000-4000-8000-000000000002}");
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM trn WHERE package_id IS NULL"));
    EXPECT_EQ(dolmWaiting, sqliteCount("SELECT count(*) FROM trn WHERE package_id = '" + next + "'"));
    EXPECT_EQ(0, sqliteCount("SELECT count(*) FROM dr_request WHERE package_id = '" + next + "'"));
}

TEST_F(QelExportTest, SendDateEndsTheNewClientsThePackageAnnounced) {
    std::string id = registerPackage();
    ASSERT_GT(open(0, id).size(), 0u);
    ASSERT_EQ(OCI_SUCCESS, sendDate(id)) << errorText();
    commit();
    EXPECT_EQ("1|0", sqliteOne("SELECT send_count, repeat_requested FROM out_package WHERE package_id = '" +
                               id + "' AND datetime_send IS NOT NULL"));
    EXPECT_EQ(0u, open(0, id).size());
    EXPECT_EQ(0u, open(1, id).size());
    // and the web side is asked to confirm it
    bool listed = false;
    Rows unconfirmed = open(28, id);
    for (size_t r = 0; r < unconfirmed.size(); ++r) listed = listed || unconfirmed.at(r, "PACKAGE_ID") == id;
    EXPECT_TRUE(listed);
}

TEST_F(QelExportTest, SendDateOfAnUnregisteredPackageRaises) {
    EXPECT_EQ(OCI_ERROR, sendDate("{B0000000-0000-4000-8000-00000000000B}"));
    EXPECT_EQ(20003, errorCode());
    EXPECT_NE(std::string::npos, errorText().find("{B0000000-0000-4000-8000-00000000000B} is not registered"))
        << errorText();
}

// ---- repeated packages ---------------------------------------------------------------------------------

TEST_F(QelExportTest, RepeatedPackageIsListedReadAgainAndSettledByItsSendDate) {
    Rows list = query("select * from V_ZUV_PACKAGE_LIST_REPEATED t");
    ASSERT_EQ(1u, list.size());
    std::string id = list.at(0, "package_id");
    EXPECT_EQ(38u, id.size());
    EXPECT_EQ(repeated(), id);
    // the repeated package's kinds return what it carried the first time
    for (int kind : {22, 23, 19}) {
        SCOPED_TRACE(kind);
        long long expected = sqliteCount(withPackage(kKinds[kind].count, id));
        EXPECT_EQ(expected, static_cast<long long>(open(kind, id).size()));
    }
    EXPECT_GT(open(22, id).size(), 0u);
    registerPackage();  // a new package does not take the repeated package's rows
    EXPECT_EQ(sqliteCount(withPackage(kKinds[22].count, id)), static_cast<long long>(open(22, id).size()));

    ASSERT_EQ(OCI_SUCCESS, sendDate(id)) << errorText();
    commit();
    EXPECT_EQ(0u, query("select * from V_ZUV_PACKAGE_LIST_REPEATED t").size());
    EXPECT_EQ("2", sqliteOne("SELECT send_count FROM out_package WHERE package_id = '" + id + "'"));
    // asked for again by the back office
    sqlite("UPDATE out_package SET repeat_requested = 1 WHERE package_id = '" + id + "'");
    EXPECT_EQ(1u, query("select * from V_ZUV_PACKAGE_LIST_REPEATED t").size());
}

TEST_F(QelExportTest, UnsentListHoldsRegisteredPackagesWithoutASendDateNorARepeatRequest) {
    const auto listed = [&] {
        std::vector<std::string> ids;
        Rows list = query("select * from V_ZUV_PACKAGE_LIST_UNSENT t");
        for (size_t r = 0; r < list.size(); ++r) ids.push_back(list.at(r, "package_id"));
        return ids;
    };
    EXPECT_TRUE(listed().empty()) << "every demo package was sent";
    const std::string sent = registerPackage("{A0000000-0000-4000-8000-000000000011}");
    const std::string unsent = registerPackage("{A0000000-0000-4000-8000-000000000012}");
    const std::string asked = registerPackage("{A0000000-0000-4000-8000-000000000013}");
    ASSERT_EQ(OCI_SUCCESS, sendDate(sent)) << errorText();
    commit();
    sqlite("UPDATE out_package SET repeat_requested = 1 WHERE package_id = '" + asked + "'");
    EXPECT_EQ(std::vector<std::string>{unsent}, listed());
}

// ---- faults
// ------------------------------------------------------------------------------------------------

TEST_F(QelExportTest, FaultsOfTheStandInReachThePackagesProcedures) {
    sqlite(
        "INSERT INTO oci_fault(kind, target, code, message, times) "
        "VALUES ('RAISE', 'ZUV_EXPORT_OUT_PACK.get_trn_qel_list', 20999, 'trn down', 1)");
    ProcCall c(*this, "ZUV_EXPORT_OUT_PACK.get_trn_qel_list");
    c.text("P_PACKAGE_ID", repeated(), 39).cursor("P_DATASET");
    EXPECT_EQ(OCI_ERROR, c.run());
    EXPECT_EQ(20999, errorCode());
    EXPECT_NE(std::string::npos, errorText().find("trn down"));
    EXPECT_EQ(OCI_SUCCESS, c.run()) << errorText();  // fired once

    sqlite("INSERT INTO oci_fault(kind, target, times) VALUES ('LOST_CONNECTION', 'qel', 1)");
    EXPECT_EQ(OCI_ERROR, c.run());
    EXPECT_EQ(3113, errorCode());
}

}  // namespace
