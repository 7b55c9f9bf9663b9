// The data-file framework: the package file base, FloatToText and the mapper runners.
#include "common/uDataFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/rtl/FormatSettings.h"
#include "tests/common/DataFilesFakes.h"

using namespace svc;
using fakes::TFakeProc;
using fakes::TFakeSession;
using fakes::TLogLines;

namespace {

std::string TempFolder() {
    char pattern[] = "/tmp/datafiles_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made ? std::string(made) + "/" : std::string();
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// ---------------------------------------------------------------------------------------------
// TFileDataFactory

TEST(FileDataFactory, DestroyDeletesPathPlusFileNameWithNoDelimiterInserted) {
    const std::string folder = TempFolder();
    std::ofstream(folder + "package.xml") << "x";
    {
        TFileDataFactory factory(folder, "package.xml");
        EXPECT_EQ(factory.GetFullFileName(), folder + "package.xml");
        EXPECT_TRUE(factory.DeleteOnDestroy);
    }
    EXPECT_FALSE(Exists(folder + "package.xml"));

    TFileDataFactory joined("/tmp/a", "b.xml");
    EXPECT_EQ(joined.GetFullFileName(), "/tmp/ab.xml");
    ::rmdir(folder.c_str());
}

TEST(FileDataFactory, DestroyWithoutADataFileSucceedsSilentlyAndAClearedFlagKeepsTheFile) {
    const std::string folder = TempFolder();
    {
        TFileDataFactory missing(folder, "none.xml");
        EXPECT_FALSE(missing.DeleteDataFile());
    }
    std::ofstream(folder + "kept.xml") << "x";
    {
        TFileDataFactory keeper(folder, "kept.xml");
        keeper.DeleteOnDestroy = false;
    }
    EXPECT_TRUE(Exists(folder + "kept.xml"));
    std::remove((folder + "kept.xml").c_str());
    ::rmdir(folder.c_str());
}

TEST(FileDataFactory, JournalLinesAndTheBaseOperations) {
    TLogLines log;
    TFileDataFactory factory("/nonexistent/", "f.xml");
    factory.OnLog = log.Callback();
    factory.Log("one");
    factory.LogMessage("two", false);
    factory.LogError("three");
    factory.Import();
    factory.Export();
    EXPECT_EQ(log.lines, (std::vector<std::string>{"!one", "two", "!Error: three", "!TFileDataFactory.Import",
                                                   "!TFileDataFactory.Export"}));

    factory.OnLog = [](const std::string&, bool) { throw rtl::Exception("journal full"); };
    EXPECT_NO_THROW(factory.LogError("swallowed"));
    factory.OnLog = nullptr;
    EXPECT_NO_THROW(factory.Log("nobody listens"));
}

TEST(FileDataFactory, RollbackTransactionRollsBackAndRaisesOnlyWhenTheConnectionIsGone) {
    struct Case {
        const char* name;
        bool connected, inTransaction, failRollback, loseConnection;
        const char* events;  // the session calls made
        const char* raised;  // message of the raised error, null when none
    };
    const Case cases[] = {
        {"connected, outside a transaction", true, false, false, false, "", nullptr},
        {"connected, in a transaction", true, true, false, false, "Rollback", nullptr},
        {"disconnected", false, true, false, false, "", "ORA-00001: step failed"},
        {"connection lost while rolling back", true, true, false, true, "Rollback", "ORA-00001: step failed"},
        {"rollback fails", true, true, true, false, "Rollback",
         "ORA-03113: end-of-file on communication channel"},
    };
    const rtl::EDatabaseError error("ORA-00001: step failed");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFakeSession session;
        session.connected = c.connected;
        session.inTransaction = c.inTransaction;
        session.failRollback = c.failRollback;
        session.loseConnectionOnRollback = c.loseConnection;
        if (c.raised) {
            try {
                TFileDataFactory::RollbackTransaction(&session, error);
                ADD_FAILURE() << "no error raised";
            } catch (const rtl::Exception& e) {
                EXPECT_STREQ(e.ClassName(), "Exception");
                EXPECT_EQ(e.Message(), c.raised);
            }
        } else {
            EXPECT_NO_THROW(TFileDataFactory::RollbackTransaction(&session, error));
        }
        EXPECT_EQ(session.EventText(), c.events);
    }
    EXPECT_THROW(TFileDataFactory::RollbackTransaction(nullptr, error), rtl::Exception);
}

// ---------------------------------------------------------------------------------------------
// TPersistentObject

TEST(PersistentObject, FloatToTextIsGeneralFormWithFifteenDigitsAndAPointWhateverTheLocale) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.1, "0.1"},
        {100, "100"},
        {0.000001, "1E-6"},
        {-2.5, "-2.5"},
        {1E20, "1E20"},
        {12.5, "12.5"},
        {3, "3"},
        {-0.25, "-0.25"},
        {0, "0"},
        {0.00001, "0.00001"},
        {1.5E-6, "1.5E-6"},
        {1E15, "1E15"},
        {123456789012345.0, "123456789012345"},
        {0.1 + 0.2, "0.3"},
        {2.0 / 3.0, "0.666666666666667"},
        {-1234567.125, "-1234567.125"},
    };
    rtl::TFormatSettings commaLocale = rtl::TFormatSettings::Invariant();
    commaLocale.DecimalSeparator = ',';
    commaLocale.ThousandSeparator = ' ';
    rtl::TFormatSettingsOverride locale(commaLocale);
    for (const Case& c : cases) EXPECT_EQ(TPersistentObject::FloatToText(c.value), c.text) << c.value;
}

TEST(PersistentObject, TheBaseWritesAndReadsNothing) {
    TPersistentObject object;
    TXmlNode node("ITEM");
    object.ToXml(node);
    object.FromXml(node);
    object.SaveToDB(nullptr);
    EXPECT_EQ(node.NodeCount(), 0);
    EXPECT_EQ(node.Value(), "");
    EXPECT_EQ(object.ElementName, "");
}

// ---------------------------------------------------------------------------------------------
// TAbstractMapper

struct TRowObject : TPersistentObject {
    static int live;
    explicit TRowObject(int id) : id(id) { ++live; }
    ~TRowObject() override { --live; }
    int id;
};
int TRowObject::live = 0;

// Reads the column ID of each row; a row whose ID is foreignFaultAt raises a fault outside the
// system's exception family.
class TRowMapper : public TAbstractMapper {
public:
    using TAbstractMapper::TAbstractMapper;
    int foreignFaultAt = -1;
    TPersistentObject* CreateObject(db::TDataSet& dataSet) override {
        const int id = dataSet.FieldByName("ID")->AsInteger();
        if (id == foreignFaultAt) throw std::runtime_error("foreign fault");
        return new TRowObject(id);
    }
};

// A mapper over a cursor with the column ID, whose procedure declares the three parameters.
struct TRig {
    TRig() {
        proc.SetColumns({{"ID", fakes::TColumnType::Int}});
        proc.params.CreateParam(db::ftFloat, "P_CLIENT_TYPE", db::ptInput);
        proc.params.CreateParam(db::ftString, "P_PACKAGE_ID", db::ptInput)->SetSize(38);
        proc.params.CreateParam(db::ftFloat, "P_ZUV_EMITENT_ID", db::ptInput);
        proc.params.CreateParam(db::ftCursor, "P_DATASET", db::ptOutput);
        mapper.OnLog = log.Callback();
    }
    void AddRows(int count) {
        for (int i = 1; i <= count; ++i)
            proc.AddRow([i](db::TDataSet& ds) { ds.FieldByName("ID")->SetAsInteger(i * 10); });
    }
    TFakeSession session;
    TFakeProc proc;
    TRowMapper mapper{&session};
    TLogLines log;
};

std::vector<int> Ids(const TDataObjectList& list) {
    std::vector<int> ids;
    for (int i = 0; i < list.Count(); ++i) ids.push_back(list.ItemAs<TRowObject>(i)->id);
    return ids;
}

class MapperRunner : public ::testing::Test, protected TRig {
protected:
    void TearDown() override { EXPECT_EQ(TRowObject::live, 0) << "data objects outlived their list"; }
};

TEST_F(MapperRunner, RunnersWithAParameterSetItByNameAndReadEveryRowInTheirOwnTransaction) {
    AddRows(3);
    struct Case {
        const char* name;
        std::function<std::unique_ptr<TDataObjectList>()> run;
        const char* call;
    };
    const Case cases[] = {
        {"client type", [&] { return mapper.RunByClientType(2, proc); }, "P_CLIENT_TYPE=2"},
        {"package id", [&] { return mapper.RunByPackageId("{0A1B2C3D-0000-4000-8000-00000000000F}", proc); },
         "P_PACKAGE_ID={0A1B2C3D-0000-4000-8000-00000000000F}"},
        {"issuer id", [&] { return mapper.RunByEmitentId(7, proc); }, "P_ZUV_EMITENT_ID=7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.events.clear();
        proc.calls.clear();
        auto list = c.run();
        ASSERT_TRUE(list);
        EXPECT_EQ(Ids(*list), (std::vector<int>{10, 20, 30}));
        EXPECT_TRUE(list->OwnsObjects());
        EXPECT_EQ(session.EventText(), "StartTransaction Commit");
        ASSERT_EQ(proc.calls.size(), 1u);
        EXPECT_NE(proc.calls[0].find(c.call), std::string::npos) << proc.calls[0];
        EXPECT_EQ(proc.Session(), &session);
        EXPECT_FALSE(proc.data.Active());
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MapperRunner, AnEmptyCursorGivesAnEmptyListAndCommits) {
    auto list = mapper.RunByPackageId("{P}", proc);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(session.EventText(), "StartTransaction Commit");
}

TEST_F(MapperRunner, RunWithoutParamsOpensNoTransaction) {
    AddRows(2);
    auto list = mapper.RunWithoutParams(proc);
    ASSERT_TRUE(list);
    EXPECT_EQ(Ids(*list), (std::vector<int>{10, 20}));
    EXPECT_EQ(session.EventText(), "");

    proc.failExecute = true;
    EXPECT_FALSE(mapper.RunWithoutParams(proc));
    EXPECT_EQ(session.EventText(), "");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("!Error: ORA-06550", 0), 0u) << log.lines[0];
}

TEST_F(MapperRunner, AFailingStepRollsBackFreesTheRowsReadAndJournalsOneErrorLine) {
    struct Case {
        const char* name;
        std::function<void(TRig&)> arrange;
        const char* line;  // start of the one journal line
        const char* events;
    };
    const Case cases[] = {
        {"missing column",
         [](TRig& r) {
             r.proc.SetColumns({{"OTHER", fakes::TColumnType::Int}});
         },
         "!Error: Field 'ID' not found", "StartTransaction Rollback"},
        {"execute fails", [](TRig& r) { r.proc.failExecute = true; }, "!Error: ORA-06550",
         "StartTransaction Rollback"},
        {"parameter not declared", [](TRig& r) { r.proc.params.Clear(); },
         "!Error: Parameter 'p_client_type' not found", "StartTransaction Rollback"},
        {"commit fails", [](TRig& r) { r.session.failCommit = true; }, "!Error: ORA-02091",
         "StartTransaction Commit Rollback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRig rig;
        rig.AddRows(3);
        c.arrange(rig);
        std::unique_ptr<TDataObjectList> list;
        EXPECT_NO_THROW(list = rig.mapper.RunByClientType(1, rig.proc));
        EXPECT_FALSE(list);
        EXPECT_EQ(TRowObject::live, 0);
        EXPECT_EQ(rig.session.EventText(), c.events);
        EXPECT_FALSE(rig.proc.data.Active());
        ASSERT_EQ(rig.log.lines.size(), 1u);
        EXPECT_EQ(rig.log.lines[0].rfind(c.line, 0), 0u) << rig.log.lines[0];
    }
}

TEST_F(MapperRunner, AMissingColumnAfterRowsWereReadFreesThoseRows) {
    // The second row reads a column that the cursor lacks.
    class TSecondRowMapper : public TRowMapper {
    public:
        using TRowMapper::TRowMapper;
        TPersistentObject* CreateObject(db::TDataSet& dataSet) override {
            if (dataSet.FieldByName("ID")->AsInteger() == 20) dataSet.FieldByName("NAME");
            return TRowMapper::CreateObject(dataSet);
        }
    } second(&session);
    second.OnLog = log.Callback();
    AddRows(3);
    EXPECT_FALSE(second.RunByPackageId("{P}", proc));
    EXPECT_EQ(TRowObject::live, 0);
    EXPECT_EQ(session.EventText(), "StartTransaction Rollback");
    EXPECT_EQ(log.lines, (std::vector<std::string>{"!Error: Field 'NAME' not found"}));
}

TEST_F(MapperRunner, AFailingRollbackIsJournalledAfterTheErrorAndRaisesNothing) {
    AddRows(1);
    proc.failExecute = true;
    session.failRollback = true;
    std::unique_ptr<TDataObjectList> list;
    EXPECT_NO_THROW(list = mapper.RunByClientType(0, proc));
    EXPECT_FALSE(list);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0].rfind("!Error: ORA-06550", 0), 0u);
    EXPECT_EQ(log.lines[1], "!Error: ORA-03113: end-of-file on communication channel");
}

TEST_F(MapperRunner, AFailingStartOfTheTransactionReachesTheCallerBeforeAnyExecute) {
    session.failStart = true;
    EXPECT_THROW(mapper.RunByPackageId("{P}", proc), rtl::EDatabaseError);
    EXPECT_TRUE(proc.calls.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MapperRunner, FaultsOutsideTheExceptionFamilyPassThroughUnchanged) {
    AddRows(3);
    mapper.foreignFaultAt = 20;
    EXPECT_THROW(mapper.RunWithoutParams(proc), std::runtime_error);
    EXPECT_EQ(TRowObject::live, 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST(AbstractMapper, TheBaseHasNoListsAndAnAbstractCreateObject) {
    TFakeSession session;
    TAbstractMapper mapper(&session);
    EXPECT_FALSE(mapper.GetListByClientType(0));
    EXPECT_FALSE(mapper.GetListByPackageId("{P}"));
    dbtest::TTestDataSet data;
    EXPECT_THROW(mapper.CreateObject(data), rtl::EAbstractError);
}

}  // namespace
