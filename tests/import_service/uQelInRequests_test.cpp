// The request objects and the coupon flow, driven through the importer against the recording
// database.
#include "import_service/uQelInRequests.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "tests/import_service/ImportTestPackage.h"

using namespace svc;
using namespace imptest;
using TResult = TEmitentPackageImport::TResult;

namespace {

// The coupon work of the body in short: procedure names, the request id for the request rows,
// the code for the checks, the error code for the status.
std::string CouponSteps(const std::vector<std::string>& log) {
    std::string out;
    for (const std::string& line : log) {
        std::string step;
        const auto value = [&](const std::string& param) {
            const size_t at = line.find(param + "=");
            return line.substr(at + param.size() + 1, line.find_first_of(",)", at) - at - param.size() - 1);
        };
        if (line.find("p_set_coupon_request") != std::string::npos) step = "request " + value("P_REQUEST_ID");
        if (line.find("check_sec_code") != std::string::npos) step = "check " + value("P_SECURITY_CODE");
        if (line.find("generate_coupons") != std::string::npos) step = "generate";
        if (line.find("repeat_block_coupons") != std::string::npos) step = "repeat";
        if (line.find("block_coupons(") != std::string::npos && step.empty()) step = "block";
        if (line.find("print_coupons") != std::string::npos) step = "print";
        if (line.find("set_vc_request_status") != std::string::npos) step = "status " + value("P_ERROR_CODE");
        if (line.rfind("Savepoint", 0) == 0) step = "savepoint";
        if (line.rfind("RollbackToSavepoint", 0) == 0) step = "back to savepoint";
        if (!step.empty()) out += (out.empty() ? "" : "; ") + step;
    }
    return out;
}

// check_sec_code answers 0 for the code "1234", -4 for any other; the other procedures answer
// the codes given.
void Answer(impfake::TFakeDb& db, int generate = 0, int block = 0, int print = 0) {
    db.handlers[std::string(kPack) + "check_sec_code"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", p.Params().ParamByName("P_SECURITY_CODE")->AsString() == "1234" ? 0 : -4);
    };
    db.handlers[std::string(kPack) + "generate_coupons"] = [generate](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", generate);
    };
    db.handlers[std::string(kPack) + "block_coupons"] = [block](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", block);
    };
    db.handlers[std::string(kPack) + "print_coupons"] = [print](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", print);
    };
}

TEST_F(ImporterTest, CouponFlow) {
    struct Case {
        const char* what;
        std::string lists;
        int generate, block, print;
        std::string steps;
    };
    const std::string create = "request 1; check '1234'; savepoint; generate; repeat; status 0";
    const Case cases[] = {
        {"orders 5, 5, 6: one check per order",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "5"), CreateCoupon("2", "5"), CreateCoupon("3", "6")}),
         0, 0, 0,
         create + "; request 2; savepoint; generate; repeat; status 0; request 3; check '1234'; savepoint; "
                  "generate; "
                  "repeat; status 0"},
        {"an order whose check failed generates nothing for any of its items",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "5", "9999"), CreateCoupon("2", "5", "9999")}), 0, 0,
         0, "request 1; check '9999'; status -4; request 2; status -4"},
        {"the first item is checked also with order 0",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "0", "9999")}), 0, 0, 0,
         "request 1; check '9999'; status -4"},
        {"an order seen before keeps its verdict",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "5"), CreateCoupon("2", "6"), CreateCoupon("3", "5")}),
         0, 0, 0,
         create + "; request 2; check '1234'; savepoint; generate; repeat; status 0; request 3; savepoint; "
                  "generate; "
                  "repeat; status 0"},
        {"the same order with other credentials is checked again",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "5"), CreateCoupon("2", "5", "9999")}), 0, 0, 0,
         create + "; request 2; check '9999'; status -4"},
        {"a positive generation code goes back to the savepoint",
         List("CREATE_COUPON_LIST", {CreateCoupon("1", "5")}), 3, 0, 0,
         "request 1; check '1234'; savepoint; generate; repeat; back to savepoint; status 3"},
        {"a negative generation code keeps the coupons", List("CREATE_COUPON_LIST", {CreateCoupon("1", "5")}),
         -2, 0, 0, "request 1; check '1234'; savepoint; generate; repeat; status -2"},
        {"blocking needs no check", List("COUPON_REQUEST_LIST", {CouponRequest("7", "2")}), 0, 2, 0,
         "request 7; block; status 2"},
        {"printing after a passed check", List("COUPON_REQUEST_LIST", {CouponRequest("8", "3")}), 0, 0, 3,
         "request 8; check '1234'; print; status 3"},
        {"no printing after a failed check", List("COUPON_REQUEST_LIST", {CouponRequest("8", "3", "0000")}),
         0, 0, 0, "request 8; check '0000'; status -4"},
        {"every print request is checked",
         List("COUPON_REQUEST_LIST", {CouponRequest("8", "3"), CouponRequest("9", "3")}), 0, 0, 0,
         "request 8; check '1234'; print; status 0; request 9; check '1234'; print; status 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        db_ = impfake::TFakeDb();
        Answer(db_, c.generate, c.block, c.print);
        Import(Package(c.lists));
        EXPECT_EQ(result_, TResult::Imported) << error_;
        EXPECT_EQ(CouponSteps(db_.log), c.steps);
    }
}

TEST_F(ImporterTest, GenerationUndoneByTheSavepointLeavesTheRequestAndItsStatus) {
    Answer(db_, 3);
    Import(Package(List("CREATE_COUPON_LIST", {CreateCoupon("1", "5")})));
    EXPECT_EQ(CouponSteps(db_.committed), "request 1; check '1234'; status 3");
}

TEST_F(ImporterTest, CouponItemsThatDoNotBelongToTheirListFailTheBody) {
    const std::pair<std::string, std::string> cases[] = {
        {List("CREATE_COUPON_LIST", {CreateCoupon("1", "5", "1234", "2")}),
         "Element CREATE_COUPON: field TypeVCRequestId: 2 is no coupon creation"},
        {List("COUPON_REQUEST_LIST", {CouponRequest("1", "1")}),
         "Element COUPON_REQUEST: field TypeVCRequestId: 1 is neither a block nor a print request"},
        {List("COUPON_REQUEST_LIST", {CouponRequest("1", "4")}),
         "Element COUPON_REQUEST: field TypeVCRequestId: 4 is neither a block nor a print request"},
    };
    for (const auto& [lists, message] : cases) {
        db_ = impfake::TFakeDb();
        Import(Package(lists));
        EXPECT_EQ(result_, TResult::RolledBack);
        EXPECT_EQ(error_, message);
        EXPECT_EQ(CouponSteps(db_.log), "");
    }
}

TEST_F(ImporterTest, SecurityCheckWithoutAResultIsNeverAPass) {
    db_.handlers[std::string(kPack) + "check_sec_code"] = [](impfake::TFakeProc& p) {
        p.Params().ParamByName("P_ERROR_CODE")->Clear();
    };
    Import(Package(List("CREATE_COUPON_LIST", {CreateCoupon("1", "5")})));
    EXPECT_EQ(result_, TResult::RolledBack);
    EXPECT_EQ(error_, "The security code check of coupon request 1 gave no result");
    EXPECT_EQ(CouponSteps(db_.log), "request 1; check '1234'");
}

// ---- Reading the items ----------------------------------------------------------------------

std::string RechargeLine(const std::vector<std::string>& log) {
    for (const auto& line : log)
        if (line.find("p_set_dr_request") != std::string::npos) return line;
    return "";
}

TEST_F(ImporterTest, FieldsAreFoundByNameInAnyOrderCaseOrForm) {
    const std::string expected = std::string(kPack) +
                                 "p_set_dr_request(P_DR_REQUEST_ID=11, P_CLIENT_ID=100, P_CLIENT_TYPE=1, "
                                 "P_CARD_NUMBER='700100000001', P_SERVICE_ID=5, P_AMOUNT=12.5, "
                                 "P_DATE_OF=#2024-03-05 10:00:00.000#)";
    const std::string forms[] = {
        Item("RECHARGE", CardAmount("11", "12.5")),
        "<RECHARGE><DateCreate>2024-03-05T10:00:00Z</DateCreate><amount>12.5</amount><SERVICEID>5</SERVICEID>"
        "<cardnumber>700100000001</cardnumber><clienttype>1</clienttype><ClientId>100</ClientId><id>11</id></"
        "RECHARGE>",
        "<RECHARGE Id=\"11\" ClientId=\"100\" ClientType=\"1\" CardNumber=\"700100000001\" Amount=\"12.5\" "
        "ServiceId=\"5\" DateCreate=\"2024-03-05T10:00:00Z\"/>",
        "<RECHARGE Id=\"11\"><Id>99</Id><ClientId> 100 </ClientId><ClientType>1</ClientType>"
        "<CardNumber>700100000001</CardNumber><Amount>\n12.5\n</Amount><ServiceId>5</ServiceId>"
        "<DateCreate>2024-03-05T10:00:00Z</DateCreate><Extra>ignored</Extra></RECHARGE>",
    };
    for (const std::string& item : forms) {
        SCOPED_TRACE(item);
        db_ = impfake::TFakeDb();
        Import(Package(List("RECHARGE_LIST", {item})));
        EXPECT_EQ(RechargeLine(db_.log), expected);
    }
}

TEST_F(ImporterTest, FieldErrorsFailTheBody) {
    const auto recharge = [](const std::string& field, const std::string& value) {
        auto fields = CardAmount("11", "12.5");
        for (auto& f : fields)
            if (f.first == field) f.second = value;
        return List("RECHARGE_LIST", {Item("RECHARGE", fields)});
    };
    const std::pair<std::string, std::string> cases[] = {
        {recharge("Id", "11.0"), "Element RECHARGE: field Id: '11.0' is not a valid integer value"},
        {recharge("Id", "2147483648"),
         "Element RECHARGE: field Id: '2147483648' is not a valid integer value"},
        {recharge("ClientId", ""), "Element RECHARGE: field ClientId: '' is not a valid integer value"},
        {recharge("Amount", "1 000"),
         "Element RECHARGE: field Amount: '1 000' is not a valid floating point value"},
        {recharge("DateCreate", "2024-02-30T10:00:00Z"),
         "Element RECHARGE: field DateCreate: '2024-02-30T10:00:00Z' is not a valid date and time"},
        {List("CHANGE_CARD_ONLINE_LIMIT_LIST", {OnlineLimit("61", "4")}),
         "Element CHANGE_CARD_ONLINE_LIMIT: field LimitType: unknown limit type 4"},
        {List("BLOCK_CARD_LIST", {Item("BLOCK_CARD", {{"Id", "31"},
                                                      {"ClientId", "100"},
                                                      {"ClientType", "1"},
                                                      {"CardNumber", "7001000000012"},
                                                      {"DateCreate", "2024-03-05T10:00:00Z"},
                                                      {"Comment", "lost"}})}),
         "The value of P_CARD_NUMBER is longer than 12 characters: '7001000000012'"},
    };
    for (const auto& [lists, message] : cases) {
        SCOPED_TRACE(message);
        db_ = impfake::TFakeDb();
        Import(Package(lists));
        EXPECT_EQ(result_, TResult::RolledBack);
        EXPECT_EQ(error_, message);
    }
}

TEST_F(ImporterTest, LimitTypesAreMappedToTheDatabases) {
    for (const auto& [web, db] : {std::pair{"1", "1"}, std::pair{"2", "0"}, std::pair{"3", "2"}}) {
        db_ = impfake::TFakeDb();
        Import(Package(List("CHANGE_CARD_ONLINE_LIMIT_LIST", {OnlineLimit("61", web)})));
        EXPECT_NE(db_.LogText().find(std::string("P_LIMIT_TYPE=") + db + ","), std::string::npos) << web;
    }
}

TEST_F(ImporterTest, TextsReachTheDatabaseInCodePage1251) {
    // "Иванов" and "Тест", the package in UTF-8; the status request's id as the document has it.
    Import(Package(List("CHANGE_HOLDER_LIST", {Item("CHANGE_HOLDER", {{"Id", "41"},
                                                                      {"ClientId", "100"},
                                                                      {"ClientType", "1"},
                                                                      {"CardNumber", "700100000001"},
                                                                      {"DateCreate", "2024-03-05T10:00:00Z"},
                                                                      {"NewHolderName", "Иванов"}})}) +
                   List("STATUS_REQUEST_LIST", {Item("STATUS_REQUEST", {{"Id", "Тест"}})})));
    EXPECT_NE(db_.LogText().find("P_CARD_HOLDER_NAME='\xC8\xE2\xE0\xED\xEE\xE2'"), std::string::npos);
    EXPECT_NE(db_.LogText().find("P_PACKAGE_ID='Тест'"), std::string::npos);
}

}  // namespace
