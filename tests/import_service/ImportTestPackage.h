// Request packages for the importer's tests: a header and lists of items written as XML, the
// importer set up against the recording database, and the call lines the requests give.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "import_service/uQelInProcessors.h"
#include "tests/import_service/ImportFakes.h"
#include "tests/platform/os/OsTestSupport.h"

namespace imptest {

inline constexpr const char* kPackageId = "{0F8FAD5B-D9CB-469F-A165-70867728950E}";
inline constexpr const char* kPack = "ZUV_EXPORT_OUT_PACK.";

struct THeader {
    std::string packageId = kPackageId;
    std::string emitent = "7";
    std::string filial = "1";
    std::string created = "2024-03-05T10:20:30.123Z";
    std::string version = "2.9.1.0";
};

// <RequestsData ...header...>lists</RequestsData>, UTF-8.
inline std::string Package(const std::string& lists, const THeader& h = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RequestsData PackageId=\"" + h.packageId +
           "\" Emitent=\"" + h.emitent + "\" Filial=\"" + h.filial + "\" DateTimeCreate=\"" + h.created +
           "\" Version=\"" + h.version + "\">" + lists + "</RequestsData>";
}

// <NAME><F1>v1</F1>...</NAME> from name/value pairs.
inline std::string Item(const std::string& name,
                        const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string xml = "<" + name + ">";
    for (const auto& [field, value] : fields) xml += "<" + field + ">" + value + "</" + field + ">";
    return xml + "</" + name + ">";
}

inline std::string List(const std::string& name, const std::vector<std::string>& items) {
    std::string xml = "<" + name + ">";
    for (const auto& item : items) xml += item;
    return xml + "</" + name + ">";
}

// The fields of a RECHARGE or DEBIT item.
inline std::vector<std::pair<std::string, std::string>> CardAmount(const std::string& id,
                                                                   const std::string& amount) {
    return {{"Id", id},
            {"ClientId", "100"},
            {"ClientType", "1"},
            {"CardNumber", "700100000001"},
            {"Amount", amount},
            {"ServiceId", "5"},
            {"DateCreate", "2024-03-05T10:00:00Z"}};
}

inline std::string OnlineLimit(const std::string& id, const std::string& limitType) {
    return Item("CHANGE_CARD_ONLINE_LIMIT", {{"Id", id},
                                             {"ClientId", "100"},
                                             {"ClientType", "1"},
                                             {"CardNumber", "700100000001"},
                                             {"DailyLimit", "100"},
                                             {"WeeklyLimit", "500"},
                                             {"MonthlyLimit", "2000"},
                                             {"LimitType", limitType},
                                             {"ServiceId", "5"},
                                             {"DateCreate", "2024-03-05T10:00:00Z"},
                                             {"IsIndLimit", "1"}});
}

// A coupon creation of group "G" + id.
inline std::string CreateCoupon(const std::string& id, const std::string& orderId,
                                const std::string& code = "1234", const std::string& type = "1") {
    return Item("CREATE_COUPON", {{"Id", id},
                                  {"TypeVCRequestId", type},
                                  {"GroupId", "G" + id},
                                  {"OrderId", orderId},
                                  {"ClientId", "100"},
                                  {"ClientType", "1"},
                                  {"TypeVCLimitID", "2"},
                                  {"ServiceId", "5"},
                                  {"Price", "50"},
                                  {"Nominal", "10"},
                                  {"DeclaredAmount", "3"},
                                  {"DateExpiration", "2024-12-31T00:00:00Z"},
                                  {"HolderName", "Petrov"},
                                  {"PhoneNumber", "+70000000000"},
                                  {"Email", "a@b.c"},
                                  {"NumSecurityCode", "4"},
                                  {"SecurityCode", code},
                                  {"DateCreate", "2024-03-05T10:00:00Z"}});
}

// A block (type 2) or print (type 3) request for coupon "V" + id of group G1.
inline std::string CouponRequest(const std::string& id, const std::string& type,
                                 const std::string& code = "1234") {
    return Item("COUPON_REQUEST", {{"Id", id},
                                   {"TypeVCRequestId", type},
                                   {"GroupId", "G1"},
                                   {"VCGuid", "V" + id},
                                   {"NumSecurityCode", "4"},
                                   {"SecurityCode", code},
                                   {"ClientPetrolId", "100"},
                                   {"ClientTypePetrolId", "1"},
                                   {"DateCreate", "2024-03-05T10:00:00Z"}});
}

// The state asked for before the registration.
inline std::string StateCheck() {
    return std::string(kPack) + "get_in_package_state(P_PACKAGE_ID='" + kPackageId + "')\n";
}

// The registration lines of the default header, the state check first.
inline std::string Registration() {
    return StateCheck() + "StartTransaction\n" + kPack + "add_new_package(P_PACKAGE_ID='" + kPackageId +
           "', P_DATETIME_CREATE=#2024-03-05 10:20:30.123#)\nCommit\n";
}

inline std::string SetImported() {
    return std::string(kPack) + "set_status_imported(P_PACKAGE_ID='" + kPackageId + "')\n";
}

class ImporterTest : public ::testing::Test {
protected:
    ostest::TempDir dir_{"impreq"};
    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeFactory factory_{db_};
    svc::TdmMainDataModule dm_{factory_};
    impfake::TLogLines log_;
    svc::TEmitentPackageImport::TResult result_ = svc::TEmitentPackageImport::TResult::NotRun;
    std::string error_;

    std::string Folder() const { return dir_.Path() + "/"; }

    void WriteFile(const std::string& name, const std::string& content) {
        std::ofstream(Folder() + name, std::ios::binary) << content;
    }

    // Imports the document as "package.xml"; exceptions reach the caller.
    void Import(const std::string& xml) {
        WriteFile("package.xml", xml);
        ImportFile("package.xml");
    }
    void ImportFile(const std::string& name) {
        svc::TEmitentPackageImport importer(7, 1, Folder(), name, &session_, dm_);
        importer.OnLog = log_.Callback();
        try {
            importer.Import();
        } catch (...) {
            result_ = importer.Result();
            throw;
        }
        result_ = importer.Result();
        error_ = importer.ErrorMessage();
    }

    // The body's procedure lines of a committed import of the given lists.
    std::string Committed() const { return impfake::TFakeDb::Join(db_.committed); }
};

}  // namespace imptest
