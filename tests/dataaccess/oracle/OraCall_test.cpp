// Finding and loading the client library, the entry table, the environment and OCI text.
#include "dataaccess/oracle/OraCall.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "OraFixture.h"
#include "dataaccess/oracle/OraError.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

const TOCIEntryInfo* Entry(const char* name) {
    for (const auto& e : OCIEntries())
        if (std::string(e.Name) == name) return &e;
    return nullptr;
}

// An empty folder for homes without a library.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/ora_home_XXXXXX";
        path = mkdtemp(tmpl);
        std::filesystem::create_directories(path + "/lib");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

class OraCallTest : public ::testing::Test {
protected:
    void SetUp() override { ResetClient(); }
    void TearDown() override { ResetClient(); }
};

}  // namespace

TEST(OraCallVersion, FoldsFourDotSeparatedParts) {
    const std::pair<const char*, uint16_t> cases[] = {
        {"10.2.0.1.0", 10201},   {"9.2.0.1", 9201}, {"8.1.7", 8170}, {"7.3.4", 7340},     {"8.0.5", 8050},
        {" 11.2.0.4.0 ", 11204}, {"", 0},           {"x.2", 200},    {"10.a.0.1", 10001},
    };
    for (const auto& [text, number] : cases) EXPECT_EQ(number, OCIVersionToNumber(text)) << text;
}

TEST(OraCallEntries, TableHoldsEveryNameOnceInItsGroup) {
    std::map<TOCIEntryGroup, int> perGroup;
    std::set<std::string> names;
    for (const auto& e : OCIEntries()) {
        ++perGroup[e.Group];
        EXPECT_TRUE(names.insert(e.Name).second) << e.Name;
    }
    EXPECT_EQ(235u, OCIEntries().size());
    EXPECT_EQ(37, perGroup[egOCI7]);
    EXPECT_EQ(77, perGroup[egOCI8]);
    EXPECT_EQ(71, perGroup[egObjects]);
    EXPECT_EQ(11, perGroup[egOCI81]);
    EXPECT_EQ(38, perGroup[egOCI90]);
    EXPECT_EQ(1, perGroup[egOCI100]);
    EXPECT_TRUE(Entry("OCIPStreamRead")->FromClientLibrary);
    EXPECT_FALSE(Entry("OCIAttrGet")->FromClientLibrary);
}

TEST_F(OraCallTest, UnboundEntriesRaiseNotLinked) {
    for (const auto& e : OCIEntries()) EXPECT_TRUE(e.IsStub()) << e.Name;
    EXPECT_EQ(nullptr, sqllda);
    EXPECT_EQ("OCI function is not linked", ExceptionText([] { dac::OCIPing(nullptr, nullptr, 0); }));
    EXPECT_EQ("OCI function is not linked",
              ExceptionText([] { olog(nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0); }));
}

TEST_F(OraCallTest, LoadsFromOracleHomeVariable) {
    InitOCI();
    EXPECT_EQ(StandInHome() + "/lib/libclntsh.so", OCIDLLPath);
    EXPECT_EQ(StandInHome(), OracleHomeDir);
    EXPECT_EQ("11.2.0.4.0", OCIVersionText);
    EXPECT_EQ(11204, OCIVersion);
    // The stand-in exports opinit but no OCI 7 logon: it offers the OCI 8 call style only.
    EXPECT_EQ(TOCICallStyleSet{ocsOCI8}, OCICapabilities);
    EXPECT_EQ(ocsOCI8, OCIDefaultCallStyle);
    EXPECT_TRUE(OCIInitialized);
    EXPECT_TRUE(IsOCILoaded());
    EXPECT_NE(nullptr, OCIEnvHandle);
    EXPECT_NE(nullptr, OCIErrorHandle());
    EXPECT_FALSE(Entry("OCIAttrGet")->IsStub());
    // The OCI 7 group is bound only from a client that offers that style.
    EXPECT_TRUE(Entry("opinit")->IsStub());
    EXPECT_FALSE(Entry("OCIPing")->IsStub());
    EXPECT_FALSE(IsUnicodeEnvironment(OCIEnvHandle, OCIErrorHandle()));
}

TEST(OraCallVersion, CallStylesFollowWhatTheLibraryExports) {
    const std::set<std::string> oci7(OCI7LogonEntries().begin(), OCI7LogonEntries().end());
    std::set<std::string> withoutOpinit = oci7;
    withoutOpinit.erase("opinit");
    const std::set<std::string> none;
    struct Case {
        uint16_t version;
        const std::set<std::string>* exports;
        TOCICallStyleSet styles;
    } cases[] = {
        {7340, &none, {ocsOCI7}},           {8050, &oci7, {ocsOCI7, ocsOCI8}},
        {11204, &oci7, {ocsOCI7, ocsOCI8}}, {11204, &withoutOpinit, {ocsOCI8}},
        {11204, &none, {ocsOCI8}},
    };
    for (const auto& c : cases) {
        auto exports = [&](const char* name) { return c.exports->count(name) > 0; };
        EXPECT_EQ(c.styles, OCICapabilitiesFor(c.version, exports)) << c.version << " " << c.exports->size();
    }
}

TEST_F(OraCallTest, LoadsAClientWithoutOci7Entries) {
    setenv("ORACLE_HOME", (std::string(DX_BINARY_DIR) + "/oracle-home-nooci7").c_str(), 1);
    InitOCI();
    EXPECT_TRUE(OCIInitialized);
    EXPECT_TRUE(Entry("opinit")->IsStub());
    EXPECT_EQ(TOCICallStyleSet{ocsOCI8}, OCICapabilities);
    EXPECT_EQ(ocsOCI8, OCIDefaultCallStyle);
    // Asking for the OCI 7 style is harmless: it is not offered, and nothing calls the stub.
    SetOCI7Threaded(true);
    EXPECT_FALSE(GetOCI7Threaded());
    EXPECT_FALSE(Entry("OCIPing")->IsStub());
}

TEST_F(OraCallTest, EntriesTheLibraryLacksStayNotLinked) {
    InitOCI();
    for (const char* name : {"olog", "OCILobCopy", "OCIXMLTypeExtract", "OCILdaToSvcCtx", "OCIDirPathAbort"})
        EXPECT_TRUE(Entry(name)->IsStub()) << name;
    EXPECT_EQ("OCI function is not linked", ExceptionText([] { OCILdaToSvcCtx(nullptr, nullptr, nullptr); }));
    // Unloading puts every entry back to its stub: nothing may call into an unloaded library.
    FreeOCI();
    EXPECT_TRUE(Entry("OCIAttrGet")->IsStub());
    EXPECT_EQ("OCI function is not linked", ExceptionText([] { dac::OCIPing(nullptr, nullptr, 0); }));
}

TEST_F(OraCallTest, LoadsFromAGivenHome) {
    unsetenv("ORACLE_HOME");
    // A home given as its folder
    OracleHomeName = StandInHome();
    InitOCI();
    EXPECT_EQ(StandInHome() + "/lib/libclntsh.so", OCIDLLPath);
    FreeOCI();
    // A home the configuration lists by name; the default home is the first PATH folder of one.
    OracleHomeName = "OraHome2";
    SetConfiguredOracleHomes({{"/nonexistent/one", "KEY_A", "OraHome1"},
                              {StandInHome(), "KEY_B", "OraHome2"},
                              {"/nonexistent/dup", "KEY_C", "orahome2"}});
    InitOCI();
    EXPECT_EQ(2, OracleHomeCount);
    EXPECT_EQ(StandInHome(), OracleHomeDir);
    EXPECT_EQ(11204, OCIVersion);
}

TEST_F(OraCallTest, HomesAreListedOnceAndAtMostTen) {
    std::vector<TOracleHome> homes;
    for (int i = 0; i < 12; ++i) homes.push_back({"/h" + std::to_string(i), "KEY", "H" + std::to_string(i)});
    homes.insert(homes.begin() + 1, {"/other", "KEY", "h0"});
    SetConfiguredOracleHomes(homes);
    // The requested name is compared exactly: "h3" is not "H3".
    OracleHomeName = "h3";
    EXPECT_EQ("Cannot find OCI DLL: in h3", ExceptionText([] { DetectOCI(); }));
    EXPECT_EQ(MaxOracleHomes, OracleHomeCount);
    EXPECT_EQ("/h0", OracleHomes[0].Path);
    EXPECT_EQ("H9", OracleHomes[9].Name);
}

TEST_F(OraCallTest, MissingLibraryIsReported) {
    TempDir empty;
    OracleHomeName = empty.path;
    EXPECT_EQ("Cannot find OCI DLL: " + empty.path + "/lib/*.*", ExceptionText([] { InitOCI(); }));
    EXPECT_FALSE(OCIInitialized);
    // A file that is no library gives no version.
    OracleHomeName.clear();
    { std::ofstream(empty.path + "/lib/libclntsh.so") << "not a library"; }
    setenv("ORACLE_HOME", empty.path.c_str(), 1);
    EXPECT_EQ("Cannot find OCI DLL: " + empty.path + "/lib/libclntsh.so", ExceptionText([] { InitOCI(); }));
    EXPECT_TRUE(OCIDLLPath.empty());
    // The next attempt detects again.
    setenv("ORACLE_HOME", StandInHome().c_str(), 1);
    InitOCI();
    EXPECT_TRUE(OCIInitialized);
}

TEST_F(OraCallTest, DistributedTransactionLibraryIsMissing) {
    InitOCI();
    EXPECT_EQ("Can not find " + StandInHome() + "/lib/oramts.dll", ExceptionText([] { InitOraMTS(); }));
    EXPECT_EQ("OCI function is not linked", ExceptionText([] { OraMTSSvcRel(nullptr); }));
}

TEST_F(OraCallTest, ChecksOfTheCallStyle) {
    EXPECT_EQ("OCI is not inizialized", ExceptionText([] { CheckOCIInitialized(); }));
    EXPECT_EQ("Need Oracle 8 Call Interface", ExceptionText([] { CheckOCI80(); }));
    EXPECT_EQ("Need Oracle 8i Call Interface", ExceptionText([] { CheckOCI81(); }));
    EXPECT_EQ("Need Oracle 9 Call Interface", ExceptionText([] { CheckOCI90(); }));
    InitOCI();
    CheckOCIInitialized();
    CheckOCI80();
    CheckOCI81();
    CheckOCI90();
}

TEST_F(OraCallTest, EachThreadHasItsOwnErrorHandle) {
    InitOCI();
    OCIError* mine = OCIErrorHandle();
    EXPECT_EQ(mine, OCIErrorHandle());
    OCIError* other = nullptr;
    std::thread([&] { other = OCIErrorHandle(); }).join();
    EXPECT_NE(nullptr, other);
    EXPECT_NE(mine, other);
    // A new environment gives new handles.
    FreeOCIEnvironment();
    EXPECT_EQ(nullptr, OCIErrorHandle());
}

TEST(OraCallText, ConvertsBetweenCodePageAndUtf16) {
    const AnsiString text = "\xCF\xF0\xE8\xE2\xE5\xF2 abc";  // "Привет abc" in code page 1251
    int size = 0;
    void* p = StringToOCIText(text, size, true);
    EXPECT_EQ(20, size);
    EXPECT_EQ(u'\u041F', static_cast<char16_t*>(p)[0]);
    EXPECT_EQ(text, OCITextToString(p, true));
    EXPECT_EQ(text.substr(0, 3), OCITextToStringLen(p, 6, true));
    FreeOCIText(p, true);

    p = StringToOCIText(text, size, false);
    EXPECT_EQ(static_cast<int>(text.size()), size);
    EXPECT_EQ(text.c_str(), p);
    EXPECT_EQ(text, OCITextToString(p, false));
    EXPECT_EQ("\xCF\xF0", OCITextToStringLen(p, 2, false));
    EXPECT_EQ(2, OCICharSize(true));
    EXPECT_EQ(1, OCICharSize(false));
}
