// The package exporter over a recording database: the road of a package to the shared folder,
// what is stored when, and what a failure on the way leaves behind. Before, a package whose
// archive, encryption or copy failed was recorded as sent all the same, and a connection lost
// while the kinds were read gave a package with lists missing.
#include "export_service/uQelOutProcessorsExport.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/export_service/ExportFixture.h"

using namespace exptest;
using svc::TEmitentPackageExport;

namespace {

std::vector<std::string> ProcNames(const std::vector<int>& kinds) {
    std::vector<std::string> names;
    for (int kind : kinds) names.push_back(ProcOf(kind));
    return names;
}

}  // namespace

TEST(PackageKinds, OrderAndSourceFilter) {
    const std::vector<int> all = {8,  28, 0,  1,  2,  3,  35, 4,  32, 33, 34, 5,  6,  7,
                                  10, 12, 15, 16, 18, 26, 27, 22, 24, 19, 20, 21, 31, 9,
                                  29, 30, 39, 38, 36, 37, 11, 13, 17, 14, 23, 25};
    const std::vector<int> qel = {8,  28, 0,  2,  3,  35, 4,  32, 33, 34, 5,  6,  7,  10, 12, 15, 16,
                                  18, 26, 27, 22, 24, 19, 20, 21, 31, 9,  29, 30, 39, 38, 36, 37};
    const std::vector<int> dolm = {8, 28, 1, 2, 3, 35, 4, 32, 33, 34, 5, 6, 7, 11, 13, 17, 14, 23, 25};
    EXPECT_EQ(svc::NewPackageKinds(0), all);
    EXPECT_EQ(svc::NewPackageKinds(1), qel);
    EXPECT_EQ(svc::NewPackageKinds(2), dolm);
    const std::vector<int> repeated = {6,  4, 32, 33, 34, 10, 22, 24, 19, 20, 21,
                                       31, 9, 29, 30, 39, 38, 36, 37, 11, 23, 25};
    EXPECT_EQ(svc::RepeatedPackageKinds(0), repeated);
    EXPECT_EQ(svc::RepeatedPackageKinds(2), (std::vector<int>{6, 4, 32, 33, 34, 11, 23, 25}));
    for (int kind : svc::RepeatedPackageKinds(0))
        EXPECT_EQ(svc::ExportKind(kind).Runner, svc::TKindRunner::PackageId)
            << "a repeated package reads by id";
}

TEST_F(ExportFixture, SharedFolderRoadDeliversAndThenStoresTheSendDate) {
    settings_.SaveToBackup = true;
    std::string id, dataFile, archive;
    {
        auto exporter = NewExporter();
        id = exporter->PackageId();
        dataFile = exporter->FileName;
        archive = dataFile.substr(0, dataFile.size() - 4) + ".zip";
        EXPECT_EQ(dataFile.rfind("ZuvQelExport_0000703_", 0), 0u);
        EXPECT_EQ(dataFile.size(), std::string("ZuvQelExport_0000703_20261210120000123.xml").size());
        ASSERT_EQ(id.size(), 38u);
        exporter->Export();
        EXPECT_TRUE(fs::exists(dir_ / ("work/" + dataFile))) << "the data file goes with the exporter";
    }
    const auto lines = db_.Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "StartTransaction");
    EXPECT_EQ(
        lines[1].rfind(
            "zuv_export_out_pack.add_entries_to_package(P_PACKAGE_ID='" + id + "', P_DATETIME_CREATE=#", 0),
        0u)
        << lines[1];
    EXPECT_EQ(lines[2], "Commit");
    EXPECT_EQ(lines[lines.size() - 3], "StartTransaction");
    EXPECT_EQ(lines[lines.size() - 2],
              "zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID='" + id + "')");
    EXPECT_EQ(lines.back(), "Commit");
    EXPECT_EQ(KindCalls(), ProcNames(svc::NewPackageKinds(0)));
    EXPECT_TRUE(db_.Logged(ProcOf(4) + "(P_PACKAGE_ID='" + id + "')")) << db_.LogText();
    EXPECT_TRUE(db_.Logged(ProcOf(0) + "(P_CLIENT_TYPE=0)")) << db_.LogText();

    EXPECT_EQ(Files(dir_ / "shared"), std::vector<std::string>{archive});
    EXPECT_EQ(Files(dir_ / "work/Back"), std::vector<std::string>{archive});
    EXPECT_TRUE(Files(dir_ / "work").empty()) << "no data file, order list or archive is left";
    EXPECT_EQ(ReadFile(dir_ / ("shared/" + archive)), ReadFile(dir_ / ("work/Back/" + archive)));

    EXPECT_TRUE(Journalled("!Packageid = " + id));
    EXPECT_TRUE(Journalled("!New data PackageID =  " + id + " PackageName = " + dataFile));
    EXPECT_TRUE(Journalled("!Pack and send to: " + (dir_ / "shared/") + archive + " PackageID = " + id));
    EXPECT_TRUE(Journalled("File " + archive + " moved to " + (dir_ / "work/Back"))) << JournalText();
    EXPECT_TRUE(Journalled("!POS_LIST"));
    EXPECT_EQ(log_.lines.back(), "!-----------------------");
}

TEST_F(ExportFixture, WithoutBackupTheArchiveIsDeletedAfterTheCopy) {
    auto exporter = NewExporter();
    const std::string archive = exporter->FileName.substr(0, exporter->FileName.size() - 4) + ".zip";
    exporter->Export();
    EXPECT_EQ(Files(dir_ / "shared"), std::vector<std::string>{archive});
    EXPECT_FALSE(fs::exists(dir_ / "work/Back"));
    EXPECT_TRUE(Journalled("!File " + archive + " deleted from work directory")) << JournalText();
}

TEST_F(ExportFixture, TakenNameInTheSharedFolderGetsANumberedVariant) {
    settings_.SaveToBackup = true;
    auto exporter = NewExporter();
    const std::string stem = exporter->FileName.substr(0, exporter->FileName.size() - 4);
    std::ofstream(dir_ / ("shared/" + stem + ".zip")) << "an earlier package";
    exporter->Export();
    EXPECT_EQ(Files(dir_ / "shared"), (std::vector<std::string>{stem + ".zip", stem + "1.zip"}));
    EXPECT_EQ(ReadFile(dir_ / ("shared/" + stem + ".zip")), "an earlier package");
    EXPECT_EQ(Files(dir_ / "work/Back"), std::vector<std::string>{stem + "1.zip"})
        << "Back takes the copy's name";
    EXPECT_TRUE(Journalled("!Pack and send to: " + (dir_ / "shared/") + stem +
                           ".zip PackageID = " + exporter->PackageId()))
        << "the journal names the file as it was made";
}

TEST_F(ExportFixture, FailedDeliveriesLeaveThePackageUnsent) {
    struct Case {
        const char* name;
        std::function<void(svc::TExportSettings&, const TTempDir&)> arrange;
        std::string error;  // a journal line that starts so
        bool archiveLeft;   // in the working folder
        bool orderListLeft;
    };
    const Case cases[] = {
        {"copy fails",
         [](svc::TExportSettings& s, const TTempDir& d) { s.SharedFolder = d / "no-such-folder"; },
         "!Error: Moving file error #2", true, false},
        {"key is no hexadecimal",
         [](svc::TExportSettings& s, const TTempDir&) {
             s.EnableExportEncrypt = true;
             s.ExportPublicKey = "not a key";
         },
         "!Error: Cannot crypt data: ", true, true},
        {"key blob is no key",
         [](svc::TExportSettings& s, const TTempDir&) {
             s.EnableExportEncrypt = true;
             s.ExportPublicKey = "0602000000A4000052534131";
         },
         "!Error: Cannot crypt data: Error CryptImportKey: ", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        fs::remove_all(dir_ / "work");
        SetUp();
        c.arrange(settings_, dir_);
        log_.lines.clear();
        auto exporter = NewExporter();
        const std::string stem = exporter->FileName.substr(0, exporter->FileName.size() - 4);
        exporter->Export();
        EXPECT_FALSE(db_.Logged("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID='" +
                                exporter->PackageId() + "')"))
            << "no send date for a package that did not leave";
        bool found = false;
        for (const auto& line : log_.lines) found = found || line.rfind(c.error, 0) == 0;
        EXPECT_TRUE(found) << JournalText();
        EXPECT_TRUE(Journalled("!Error: Package " + exporter->PackageId() + " not delivered"))
            << JournalText();
        EXPECT_EQ(fs::exists(dir_ / ("work/" + stem + ".zip")), c.archiveLeft);
        EXPECT_EQ(fs::exists(dir_ / "work/XmlOrderList.xml"), c.orderListLeft);
        EXPECT_TRUE(Files(dir_ / "shared").empty());
        EXPECT_EQ(log_.lines.back(), "!-----------------------");
    }
}

TEST_F(ExportFixture, ConnectionLostWhileReadingEndsThePackageBeforeDelivery) {
    // The last kind of the package fails as the connection goes.
    db_.cursorHandlers[ProcOf(25)] = [this](svcfake::TFakeCursorProc&) {
        session_.connected = false;
        throw rtl::EDatabaseError("ORA-03113: end-of-file on communication channel");
    };
    auto exporter = NewExporter();
    try {
        exporter->Export();
        FAIL() << "the export went on";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "connect err");
    }
    EXPECT_TRUE(Files(dir_ / "shared").empty());
    EXPECT_FALSE(fs::exists(dir_ / ("work/" + exporter->FileName)));
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 0);
    EXPECT_TRUE(Journalled("!Error: ORA-03113: end-of-file on communication channel")) << JournalText();
    EXPECT_EQ(db_.Lines().back(), "Rollback") << "the kind's transaction is rolled back";
}

TEST_F(ExportFixture, KindThatFailsIsLeftOutAndThePackageStillGoes) {
    db_.cursorHandlers[ProcOf(16)] = [](svcfake::TFakeCursorProc&) {
        throw rtl::EDatabaseError("ORA-06550: line 1, column 7: PLS-00201");
    };
    auto exporter = NewExporter();
    exporter->Export();
    EXPECT_EQ(Files(dir_ / "shared").size(), 1u);
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"), 1);
    EXPECT_TRUE(Journalled("!Error: ORA-06550: line 1, column 7: PLS-00201"));
}

TEST_F(ExportFixture, RegistrationFailureIsRolledBackAndTheExportGoesOn) {
    db_.handlers["zuv_export_out_pack.add_entries_to_package"] = [](svcfake::TFakeProc&) {
        throw rtl::EDatabaseError("ORA-00001: unique constraint violated");
    };
    auto exporter = NewExporter();
    exporter->Export();
    const auto lines = db_.Lines();
    EXPECT_EQ(lines[2], "Rollback") << db_.LogText();
    EXPECT_TRUE(Journalled("!Error: Packageid = " + exporter->PackageId()));
    EXPECT_TRUE(Journalled("!Error: ORA-00001: unique constraint violated"));
    EXPECT_FALSE(Journalled("!Packageid = " + exporter->PackageId()));
    EXPECT_EQ(Files(dir_ / "shared").size(), 1u);
}

TEST_F(ExportFixture, RegistrationOnALostConnectionEndsTheExport) {
    db_.handlers["zuv_export_out_pack.add_entries_to_package"] = [this](svcfake::TFakeProc&) {
        session_.connected = false;
        throw rtl::EDatabaseError("ORA-03114: not connected to ORACLE");
    };
    auto exporter = NewExporter();
    EXPECT_THROW(exporter->Export(), rtl::Exception);
    EXPECT_TRUE(KindCalls().empty());
    EXPECT_TRUE(Files(dir_ / "shared").empty());
}

TEST_F(ExportFixture, SendDateThatCannotBeCommittedIsRolledBack) {
    auto exporter = NewExporter();
    db_.handlers["zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE"] = [this](svcfake::TFakeProc&) {
        session_.failCommit = true;
    };
    exporter->Export();
    const auto lines = db_.Lines();
    EXPECT_EQ(lines[lines.size() - 2], "Commit");
    EXPECT_EQ(lines.back(), "Rollback") << "nothing stays open for a later commit";
    EXPECT_FALSE(session_.InTransaction());
    EXPECT_TRUE(Journalled("!Error: ORA-02091: transaction rolled back"));
}

TEST_F(ExportFixture, SourceDataFiltersTheKinds) {
    for (int source : {1, 2}) {
        SCOPED_TRACE(source);
        settings_.SourceData = source;
        TearDown();
        SetUp();
        settings_.SourceData = source;
        auto exporter = NewExporter();
        const size_t before = KindCalls().size();
        exporter->Export();
        std::vector<std::string> calls = KindCalls();
        calls.erase(calls.begin(), calls.begin() + static_cast<long>(before));
        EXPECT_EQ(calls, ProcNames(svc::NewPackageKinds(source)));
    }
}

TEST_F(ExportFixture, RepeatedPackagesKeepTheirIdAndGetNamesOfTheirOwn) {
    settings_.SaveToBackup = true;
    svc::TRepeatedList list;
    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        list.push_back(std::make_unique<svc::TRepeatedPackageExport>(
            "{0000000" + std::to_string(i % 10) + "-0000-0000-0000-000000000000}", &session_, 7, 3, settings_,
            sender_, dataObjects_.get()));
        names.insert(list.back()->FileName);
    }
    EXPECT_EQ(names.size(), list.size()) << "exporters made in the same millisecond share no data-file name";

    auto& first = *list.front();
    first.OnLog = log_.Callback();
    first.Export();
    EXPECT_EQ(KindCalls(), ProcNames(svc::RepeatedPackageKinds(0)));
    EXPECT_EQ(db_.CountOf("zuv_export_out_pack.add_entries_to_package"), 0) << "not registered again";
    EXPECT_TRUE(db_.Logged(ProcOf(6) + "(P_PACKAGE_ID='{00000000-0000-0000-0000-000000000000}')"));
    EXPECT_EQ(db_.Lines().back(), "Commit");
    EXPECT_TRUE(
        db_.Logged("zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID='{00000000-0000-0000-0000-"
                   "000000000000}')"));
    EXPECT_TRUE(
        Journalled("!Repeated Export PackageID =  {00000000-0000-0000-0000-000000000000} PackageName = " +
                   first.FileName));
    EXPECT_NE(log_.lines.back(), "!-----------------------");
}

TEST_F(ExportFixture, RepeatListComesFromTheView) {
    svc::TdmQelOutDataModule module(access_);
    db_.views["qrGetEmitentListRepeated"] = {{"package_id", "datetime_create"}, {{"{A}", "x"}, {"{B}", "y"}}};
    auto list = svc::BuildRepeatedList(&session_, module, 7, 3, settings_, sender_, dataObjects_.get(),
                                       log_.Callback());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->PackageId(), "{A}");
    EXPECT_EQ(list[1]->PackageId(), "{B}");
    EXPECT_TRUE(list[0]->DeleteOnDestroy);

    db_.views["qrGetEmitentListRepeated"] = {{"package_id"}, {}};
    EXPECT_TRUE(svc::BuildRepeatedList(&session_, module, 7, 3, settings_, sender_, dataObjects_.get(),
                                       log_.Callback())
                    .empty());
    EXPECT_TRUE(log_.lines.empty()) << "an empty view says nothing";

    db_.views["qrGetEmitentListRepeated"] = {{"id"}, {{"{A}"}}};
    EXPECT_TRUE(svc::BuildRepeatedList(&session_, module, 7, 3, settings_, sender_, dataObjects_.get(),
                                       log_.Callback())
                    .empty());
    ASSERT_EQ(log_.lines.size(), 1u) << "a view that cannot be read is journalled";
    EXPECT_EQ(log_.lines[0].rfind("!Error: ", 0), 0u) << log_.lines[0];
}
