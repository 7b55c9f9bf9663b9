// The import data module: its declared components against their call blocks and against the
// Qel exchange package's own signatures, and the own-issuer query.
#include "import_service/udmMainDataModule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "import_service/uImportParams.h"
#include "platform/rtl/Strings.h"
#include "tests/import_service/ImportFakes.h"

using namespace svc;

namespace {

// The ":NAME" markers of a call line, in order.
std::vector<std::string> Markers(const std::string& line) {
    std::vector<std::string> names;
    const std::regex marker(":([A-Z_]+)");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), marker); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

std::vector<TStoredProcDecl> AllDecls() {
    std::vector<TStoredProcDecl> decls = MainDataModuleProcs();
    decls.push_back(GetZuvQelParamDecl());
    decls.push_back(GetZuvQelDBVersionDecl());
    return decls;
}

TEST(MainDataModule, DeclarationsMatchTheirCallBlocks) {
    for (const TStoredProcDecl& decl : MainDataModuleProcs()) {
        SCOPED_TRACE(decl.ComponentName);
        ASSERT_EQ(decl.SQL.size(), 3u);
        EXPECT_EQ(decl.SQL[0], "begin");
        EXPECT_EQ(decl.SQL[2], "end;");
        EXPECT_EQ(decl.SQL[1],
                  "  " + decl.StoredProcName + "(" + decl.SQL[1].substr(decl.SQL[1].find('(') + 1));
        const std::string pack =
            decl.ComponentName == "ospConfirmPackage" ? "zuv_export_out_pack." : "ZUV_EXPORT_OUT_PACK.";
        EXPECT_EQ(decl.StoredProcName.rfind(pack, 0), 0u);
        std::vector<std::string> declared;
        for (const auto& p : decl.Params) declared.push_back(p.Name);
        EXPECT_EQ(Markers(decl.SQL[1]), declared);
    }
}

// Rows of the catalog: "  ('name', position, 'ARGUMENT', 'TYPE', 'IN', default),".
struct TArgument {
    std::string name, type, direction;
    bool hasDefault;
};

std::map<std::string, std::map<int, TArgument>> QelCatalog() {
    std::ifstream in(DX_SOURCE_DIR "/deploy/qel/package.sql");
    std::stringstream text;
    text << in.rdbuf();
    const std::string sql = text.str();
    const std::regex row(
        R"(\('(\w+)', (\d+), (?:NULL|'(\w+)'), '([^']+)', '(IN|OUT|IN/OUT)', (NULL|'[^']*')\))");
    std::map<std::string, std::map<int, TArgument>> catalog;
    for (auto it = std::sregex_iterator(sql.begin(), sql.end(), row); it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        catalog[rtl::LowerCase(m[1].str())][std::stoi(m[2])] = {m[3], m[4], m[5], m[6] != "NULL"};
    }
    return catalog;
}

TEST(MainDataModule, DeclarationsMatchTheQelPackage) {
    const auto catalog = QelCatalog();
    ASSERT_GT(catalog.size(), 40u);
    for (const TStoredProcDecl& decl : AllDecls()) {
        SCOPED_TRACE(decl.ComponentName);
        const std::string name =
            rtl::LowerCase(decl.StoredProcName.substr(decl.StoredProcName.find('.') + 1));
        const auto found = catalog.find(name);
        ASSERT_NE(found, catalog.end()) << name;
        const auto& arguments = found->second;
        ASSERT_EQ(arguments.size(), decl.Params.size());
        int position = arguments.begin()->first;  // 0 is a function's result
        for (const TProcParamDecl& p : decl.Params) {
            const TArgument& a = arguments.at(position++);
            if (p.ParamType != db::ptResult) {
                EXPECT_EQ(a.name, p.Name);
            }
            EXPECT_EQ(a.direction, p.ParamType == db::ptInput ? "IN" : "OUT") << p.Name;
            EXPECT_EQ(a.hasDefault, p.HasDefault) << p.Name;
            // Strings and dates where the package has them; numbers are declared float.
            const db::TFieldType type = a.type == "VARCHAR2" ? db::ftString
                                        : a.type == "DATE"   ? db::ftDateTime
                                                             : db::ftFloat;
            // The card number of three requests is declared float and sent as text.
            if (!(p.Name == "P_CARD_NUMBER" && p.DataType == db::ftFloat)) {
                EXPECT_EQ(p.DataType, type) << p.Name;
            }
        }
    }
}

TEST(MainDataModule, EveryComponentIsMadeFromItsDeclaration) {
    impfake::TFakeDb db;
    impfake::TFakeFactory factory(db);
    TdmMainDataModule dm(factory);
    EXPECT_EQ(factory.procs.size(), MainDataModuleProcs().size());
    EXPECT_EQ(dm.ospCheckSecCode->Declaration().StoredProcName, "ZUV_EXPORT_OUT_PACK.check_sec_code");
    EXPECT_EQ(dm.ospInsBlockCardRequest->Params().ParamByName("p_lost_comment")->Size(), 40);
    EXPECT_EQ(dm.qrGetSelfEmitent->Declaration().SQL, "select * from v_zuv_emitent_params t");
}

class SelfEmitentTest : public ::testing::Test {
protected:
    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeFactory factory_{db_};
    TdmMainDataModule dm_{factory_};
};

TEST_F(SelfEmitentTest, ReadsTheFirstRowAndReopensEachTime) {
    factory_.query->AddRow(7, 1);
    factory_.query->AddRow(9, 9);
    int32_t emitent = 0, filial = 0;
    dm_.GetSelfEmitent(&session_, emitent, filial);
    EXPECT_EQ(emitent, 7);
    EXPECT_EQ(filial, 1);
    dm_.GetSelfEmitent(&session_, emitent, filial);
    EXPECT_EQ(db_.LogText(),
              "select * from v_zuv_emitent_params t\nClose qrGetSelfEmitent\nselect * from "
              "v_zuv_emitent_params t\n");
}

TEST_F(SelfEmitentTest, AnEmptyViewIsAnErrorNotIssuerZero) {
    int32_t emitent = 0, filial = 0;
    EXPECT_THROW(dm_.GetSelfEmitent(&session_, emitent, filial), rtl::Exception);
}

}  // namespace
