// Packages written by an independent Python generator (request_packages.py), imported against the
// recording database: every request kind in UTF-8 and windows-1251, every field error, malformed
// documents, another issuer, another version. Each package's outcome and, for imported ones,
// every database call are compared with what the generator computed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "import_service/uQelInProcessors.h"
#include "import_service/uXmlPackageReader.h"
#include "tests/import_service/ImportFakes.h"
#include "tests/platform/os/OsTestSupport.h"

using namespace svc;

namespace {

const std::string kPack = "ZUV_EXPORT_OUT_PACK.";

// The answers the generator expects of the database.
void InstallAnswers(impfake::TFakeDb& db) {
    db.handlers[kPack + "check_sec_code"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", p.Params().ParamByName("P_SECURITY_CODE")->AsString() == "1234" ? 0 : -4);
    };
    db.handlers[kPack + "generate_coupons"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_ERROR_CODE", p.Params().ParamByName("P_DECLARED_AMOUNT")->AsInteger() > 1000 ? 2 : 0);
    };
    db.handlers[kPack + "p_set_lost_card_request"] = [](impfake::TFakeProc& p) {
        p.SetOut("P_RESULT", p.Params().ParamByName("P_CLIENT_ID")->AsInteger() == 666 ? -1 : 0);
    };
}

struct TExpectation {
    std::string outcome, message;
    std::vector<std::string> log;
};

TExpectation ReadExpectation(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    TExpectation e;
    std::string line;
    std::getline(in, line);
    const size_t tab = line.find('\t');
    e.outcome = line.substr(0, tab);
    e.message = tab == std::string::npos ? "" : line.substr(tab + 1);
    while (std::getline(in, line))
        if (!line.empty()) e.log.push_back(line);
    return e;
}

struct TOutcome {
    std::string outcome, message;
};

TOutcome ImportPackage(const std::string& folder, const std::string& file, impfake::TFakeDb& db) {
    impfake::TFakeSession session(db);
    impfake::TFakeFactory factory(db);
    TdmMainDataModule dm(factory);
    TEmitentPackageImport importer(7, 1, folder, file, &session, dm);
    try {
        importer.Import();
    } catch (const EFatalError& e) {
        return {"fatal", e.Message()};
    } catch (const EXmlReadError& e) {
        return {"readerror", e.Message()};
    } catch (const rtl::Exception& e) {
        return {"error", e.Message()};
    }
    if (importer.Result() == TEmitentPackageImport::TResult::RolledBack)
        return {"rolledback", importer.ErrorMessage()};
    return {"imported", ""};
}

TEST(GeneratedPackages, ImportAsTheGeneratorExpects) {
    ostest::TempDir dir("impgen");
    const std::string folder = dir / "packages";
    ASSERT_EQ(
        crypttest::Shell("python3 " DX_SOURCE_DIR "/tests/import_service/request_packages.py " + folder), 0);

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".expect") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 20u);

    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const TExpectation expected = ReadExpectation(folder + "/" + name + ".expect");
        impfake::TFakeDb db;
        InstallAnswers(db);
        const TOutcome got = ImportPackage(folder + "/", name + ".xml", db);
        EXPECT_EQ(got.outcome, expected.outcome) << got.message;
        if (expected.outcome == "readerror") {
            EXPECT_TRUE(db.log.empty());
        } else if (expected.outcome == "fatal" || expected.outcome == "error") {
            EXPECT_NE(got.message.find(expected.message), std::string::npos) << got.message;
            EXPECT_TRUE(db.log.empty()) << db.LogText();
        } else {
            EXPECT_EQ(got.message, expected.message);
        }
        if (expected.outcome == "imported") {
            EXPECT_EQ(db.LogText(), impfake::TFakeDb::Join(expected.log));
            // One body transaction: everything committed, nothing left open.
            EXPECT_TRUE(db.pending.empty());
        }
        if (expected.outcome == "rolledback") {
            // The state check and the registration only.
            ASSERT_EQ(db.committed.size(), 2u) << db.LogText();
            EXPECT_NE(db.committed[0].find("get_in_package_state"), std::string::npos);
            EXPECT_NE(db.committed[1].find("add_new_package"), std::string::npos);
            EXPECT_EQ(db.log.back(), "Rollback");
        }
        EXPECT_FALSE(std::filesystem::exists(folder + "/" + name + ".xml"));
    }
}

}  // namespace
