// The package manager over real archives and the recording database: the queue order, what
// becomes of each kind of bad package, and the database failures that keep a package for later.
// Before, one package that could never be imported stayed first in the queue and blocked every
// newer one, and a package whose requests were rolled back was archived in Back as if imported.
#include "import_service/uPackageManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/EnDeCrypt.h"
#include "platform/rtl/Exceptions.h"
#include "tests/import_service/PackageFolder.h"
#include "tests/platform/os/CryptTestSupport.h"

using namespace imptest;
using namespace os;

namespace {

class ManagerTest : public ::testing::Test {
protected:
    ostest::TempDir dir_{"pkgmgr"};
    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeFactory factory_{db_};
    svc::TdmMainDataModule dm_{factory_};
    impfake::TLogLines log_;

    std::string Folder() const { return dir_.Path() + "/"; }
    std::string Sub(const std::string& name) const { return Folder() + name; }

    std::unique_ptr<svc::TPackageManager> Manager(bool encrypted = false) {
        return std::make_unique<svc::TPackageManager>(Folder(), svc::kPackagePrefix, 7, 1, &session_, &dm_,
                                                      encrypted, log_.Callback());
    }
    void Put(const std::string& name, const std::string& bytes) {
        ziptest::WriteBytes(Folder() + name, bytes);
    }
    void PutGood(const std::string& name, int n) { Put(name, PackageArchive(name, GoodPackage(n))); }

    // The package ids registered, in order.
    std::vector<std::string> Registered() const {
        std::vector<std::string> ids;
        for (const auto& line : db_.log)
            if (line.find("add_new_package") != std::string::npos)
                ids.push_back(line.substr(line.find('{'), 38));
        return ids;
    }
    // A first look at every file, then the pass (a file is taken once it looked the same twice).
    void Pass(svc::TPackageManager& manager) {
        manager.ScanFolder();
        manager.RunPass();
    }
};

TEST_F(ManagerTest, ImportsOldestFirstAndArchivesInBack) {
    const std::string ten = PackageName("20240305100000000"), nine = PackageName("20240305090000000"),
                      late = PackageName("20240305100000001");
    PutGood(ten, 10);
    PutGood(late, 11);
    PutGood(nine, 9);
    auto manager = Manager();
    manager->ScanFolder();
    manager->ScanFolder();
    EXPECT_EQ(manager->QueuedFiles(), (std::vector<std::string>{nine, ten, late})) << "queued once each";
    manager->RunPass();
    EXPECT_EQ(Registered(), (std::vector<std::string>{PackageIdOf(9), PackageIdOf(10), PackageIdOf(11)}));
    EXPECT_EQ(FilesIn(Sub("Back")), (std::vector<std::string>{nine, ten, late}));
    EXPECT_TRUE(FilesIn(Sub("Error")).empty());
    EXPECT_EQ(FilesIn(Folder()), std::vector<std::string>{});
    EXPECT_TRUE(FilesIn(Sub("Temp")).empty()) << "the work folder is emptied after each package";
    EXPECT_NE(log_.Text().find("Set DecimalSeparator: ."), std::string::npos);
    EXPECT_NE(log_.Text().find("!Processing of the packet " + nine + " started"), std::string::npos);
}

// Delivered again after it was imported: archived in Back as any imported package, nothing written.
TEST_F(ManagerTest, APackageImportedBeforeGoesToBackWithoutWritingAnything) {
    const std::string again = PackageName("20240305090000000"), fresh = PackageName("20240305100000000");
    PutGood(again, 9);
    PutGood(fresh, 10);
    db_.handlers[std::string(kPack) + "get_in_package_state"] = [](impfake::TFakeProc& p) {
        if (p.CallText().find(PackageIdOf(9)) != std::string::npos) p.SetOut("P_STATE", 1);
    };
    auto manager = Manager();
    Pass(*manager);
    EXPECT_EQ(FilesIn(Sub("Back")), (std::vector<std::string>{again, fresh})) << log_.Text();
    EXPECT_TRUE(FilesIn(Sub("Error")).empty());
    EXPECT_EQ(Registered(), std::vector<std::string>{PackageIdOf(10)});
    for (const std::string& line : db_.log) {
        if (line.find(PackageIdOf(9)) != std::string::npos) {
            EXPECT_NE(line.find("get_in_package_state"), std::string::npos) << line;
        }
    }
    EXPECT_NE(log_.Text().find("!Package " + PackageIdOf(9) + " is already imported"), std::string::npos)
        << log_.Text();
}

TEST_F(ManagerTest, NamesThatDoNotCheckGoToErrorAndTheQueueGoesOn) {
    struct Case {
        std::string name;
        std::string line;
    };
    const Case cases[] = {
        {PackageName("20240305080000000", "00007", "02"), "Packet from other issuers"},
        {PackageName("20240305080000000", "00008", "01"), "Packet from other issuers"},
        {PackageName("20240305"), "Error date format"},
        {PackageName("2024030508000000"), "is not a valid integer"},
        {PackageName("20241305080000000"), "Invalid argument to date encode"},
        {PackageName("20240305250000000"), "Invalid argument to time encode"},
        {PackageName("20240305080000000", "0000x"), "is not a valid integer"},
    };
    for (const Case& c : cases) Put(c.name, PackageArchive(c.name, GoodPackage(1)));
    const std::string good = PackageName("20240305090000000");
    PutGood(good, 2);
    auto manager = Manager();
    Pass(*manager);
    EXPECT_EQ(Registered(), std::vector<std::string>{PackageIdOf(2)});
    EXPECT_EQ(FilesIn(Sub("Back")), std::vector<std::string>{good});
    const auto errors = FilesIn(Sub("Error"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(std::find(errors.begin(), errors.end(), c.name), errors.end());
        EXPECT_NE(log_.Text().find("!Error: Package " + c.name + " cannot be imported: "), std::string::npos);
        const size_t at = log_.Text().find(c.name + " cannot be imported");
        EXPECT_NE(log_.Text().find(c.line, at), std::string::npos);
    }
}

// Each bad package is the oldest of the folder; the good one behind it is imported all the same.
TEST_F(ManagerTest, APackageThatCanNeverBeImportedGoesToErrorAndNeverBlocksTheQueue) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string& name)> archive;
        std::function<void(impfake::TFakeDb&)> database;
        const char* line;
    };
    const auto noDb = [](impfake::TFakeDb&) {};
    const Case cases[] = {
        {"not an archive", [](const std::string&) { return std::string("PK\x03\x04 broken"); }, noDb,
         "the archive cannot be unpacked"},
        {"another password", [](const std::string& n) { return PackageArchive(n, GoodPackage(1), "OTHER"); },
         noDb, "the archive cannot be unpacked"},
        {"XML of another name",
         [](const std::string&) {
             return ziptest::BuildZip({{"other.xml", GoodPackage(1), 8, "KAR_TIM_LOW"}});
         },
         noDb, "not found"},
        {"not well-formed", [](const std::string& n) { return PackageArchive(n, "<RequestsData"); }, noDb,
         ""},
        {"no root element", [](const std::string& n) { return PackageArchive(n, "<?xml version=\"1.0\"?>"); },
         noDb, ""},
        {"another version",
         [](const std::string& n) {
             THeader h;
             h.version = "2.9.0.0";
             return PackageArchive(n, Package("", h));
         },
         noDb, "Version of the package and services are not the same"},
        {"another issuer in the header",
         [](const std::string& n) {
             THeader h;
             h.emitent = "8";
             return PackageArchive(n, Package("", h));
         },
         noDb, "Package to other issuers"},
        {"requests refused", [](const std::string& n) { return PackageArchive(n, GoodPackage(1)); },
         [](impfake::TFakeDb& db) {
             db.handlers[std::string(kPack) + "p_set_dr_request"] = [](impfake::TFakeProc&) {
                 impfake::TFakeDb::Raise(20001, "card not found");
             };
         },
         "its requests were rolled back: ORA-20001: card not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ostest::TempDir dir("pkgbad");
        impfake::TFakeDb db;
        impfake::TFakeSession session(db);
        impfake::TFakeFactory factory(db);
        svc::TdmMainDataModule dm(factory);
        impfake::TLogLines log;
        const std::string folder = dir.Path() + "/";
        const std::string bad = PackageName("20240305080000000"), good = PackageName("20240305090000000");
        ziptest::WriteBytes(folder + bad, c.archive(bad));
        ziptest::WriteBytes(folder + good, PackageArchive(good, GoodPackage(2)));
        c.database(db);
        const std::string refused = std::string(kPack) + "p_set_dr_request";
        if (db.handlers.count(refused)) {
            // Only the first package's request is refused.
            db.handlers[refused] = [refuse = db.handlers[refused],
                                    first = true](impfake::TFakeProc& p) mutable {
                if (std::exchange(first, false)) refuse(p);
            };
        }
        svc::TPackageManager manager(folder, svc::kPackagePrefix, 7, 1, &session, &dm, false, log.Callback());
        manager.ScanFolder();
        manager.RunPass();
        EXPECT_EQ(FilesIn(folder + "Error"), std::vector<std::string>{bad});
        EXPECT_EQ(FilesIn(folder + "Back"), std::vector<std::string>{good}) << log.Text();
        EXPECT_TRUE(FilesIn(folder).empty());
        const std::string text = log.Text();
        const size_t at = text.find("!Error: Package " + bad + " cannot be imported: ");
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_NE(text.find(c.line, at), std::string::npos) << text;
        EXPECT_NE(
            impfake::TFakeDb::Join(db.committed).find("set_status_imported(P_PACKAGE_ID='" + PackageIdOf(2)),
            std::string::npos);
    }
}

TEST_F(ManagerTest, ADatabaseOutOfReachKeepsThePackageQueuedUntilItIsBack) {
    struct Case {
        const char* what;
        std::function<void(impfake::TFakeDb&, impfake::TFakeSession&)> breakDb;
    };
    const Case cases[] = {
        {"session not connected", [](impfake::TFakeDb&, impfake::TFakeSession& s) { s.connected = false; }},
        {"connection lost during the requests",
         [](impfake::TFakeDb& db, impfake::TFakeSession&) {
             db.handlers[std::string(kPack) + "p_set_dr_request"] = [](impfake::TFakeProc&) {
                 impfake::TFakeDb::Raise(3113, "end-of-file on communication channel");
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ostest::TempDir dir("pkglost");
        db_ = impfake::TFakeDb();
        session_.connected = true;
        const std::string folder = dir.Path() + "/";
        const std::string first = PackageName("20240305080000000"), second = PackageName("20240305090000000");
        ziptest::WriteBytes(folder + first, PackageArchive(first, GoodPackage(1)));
        ziptest::WriteBytes(folder + second, PackageArchive(second, GoodPackage(2)));
        svc::TPackageManager manager(folder, svc::kPackagePrefix, 7, 1, &session_, &dm_, false,
                                     log_.Callback());
        manager.ScanFolder();
        c.breakDb(db_, session_);
        EXPECT_THROW(manager.RunPass(), svc::EPackageDeferred);
        EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{first, second})) << "both stay";
        EXPECT_TRUE(FilesIn(folder + "Error").empty());
        EXPECT_TRUE(FilesIn(folder + "Back").empty());
        EXPECT_EQ(manager.QueuedFiles(), (std::vector<std::string>{first, second}));
        EXPECT_TRUE(FilesIn(folder + "Temp").empty());

        db_.handlers.clear();
        session_.connected = true;
        db_.committed.clear();
        manager.RunPass();
        EXPECT_EQ(FilesIn(folder + "Back"), (std::vector<std::string>{first, second}));
        std::vector<std::string> imported;
        for (const auto& line : db_.committed)
            if (line.find("set_status_imported") != std::string::npos) imported.push_back(line);
        ASSERT_EQ(imported.size(), 2u);
        EXPECT_NE(imported[0].find(PackageIdOf(1)), std::string::npos) << "in order once it is back";
        EXPECT_NE(imported[1].find(PackageIdOf(2)), std::string::npos);
    }
}

// A writer that pauses can make a file look complete; when it then fails to unpack while it has
// grown since it was taken, it is still being written: it stays, and once whole it is imported.
TEST_F(ManagerTest, APackageStillBeingWrittenIsNeverMovedToError) {
    const std::string name = PackageName("20240305080000000"), later = PackageName("20240305090000000");
    const std::string whole = PackageArchive(name, GoodPackage(1));
    const size_t third = whole.size() / 3;
    Put(name, whole.substr(0, third));
    PutGood(later, 2);
    auto manager = Manager();
    manager->ScanFolder();
    manager->ScanFolder();
    ASSERT_EQ(manager->QueuedFiles(), (std::vector<std::string>{name, later}));
    // The writer goes on, and has not finished when the package is taken.
    std::ofstream(Folder() + name, std::ios::binary | std::ios::app) << whole.substr(third, third);
    EXPECT_FALSE(manager->ProcessNextPackage()) << "the pass ends; order is kept";
    EXPECT_TRUE(FilesIn(Sub("Error")).empty());
    EXPECT_EQ(FilesIn(Folder()), (std::vector<std::string>{name, later}));
    std::ofstream(Folder() + name, std::ios::binary | std::ios::app) << whole.substr(2 * third);
    Pass(*manager);
    EXPECT_EQ(Registered(), (std::vector<std::string>{PackageIdOf(1), PackageIdOf(2)}));
    EXPECT_EQ(FilesIn(Sub("Back")), (std::vector<std::string>{name, later}));
}

// An older package still being written holds the newer ones back, so that order is kept; a
// writer that never finishes holds them back only for a bounded time.
TEST_F(ManagerTest, TheOldestWaitsForAnOlderFileStillBeingWrittenButNotForEver) {
    const std::string older = PackageName("20240305080000000"), newer = PackageName("20240305090000000");
    const std::string whole = PackageArchive(older, GoodPackage(1));
    Put(older, whole.substr(0, 10));
    PutGood(newer, 2);
    auto manager = Manager();
    manager->StableIntervalMs = 100;
    manager->ScanFolder();
    std::ofstream(Folder() + older, std::ios::binary | std::ios::app) << whole.substr(10, 10);
    manager->RunPass();
    EXPECT_TRUE(Registered().empty()) << "the newer one waits";
    std::ofstream(Folder() + older, std::ios::binary | std::ios::app) << whole.substr(20);
    manager->RunPass();
    manager->RunPass();
    EXPECT_EQ(Registered(), (std::vector<std::string>{PackageIdOf(1), PackageIdOf(2)}));

    const std::string stuck = PackageName("20240305100000000"), last = PackageName("20240305110000000");
    Put(stuck, "x");
    PutGood(last, 3);
    manager->ScanFolder();
    for (int i = 0; i < 4; ++i) {
        std::ofstream(Folder() + stuck, std::ios::binary | std::ios::app) << "y";
        manager->RunPass();
    }
    EXPECT_EQ(Registered().size(), 2u);
    ::usleep(1100000);
    std::ofstream(Folder() + stuck, std::ios::binary | std::ios::app) << "y";
    manager->RunPass();
    EXPECT_EQ(Registered().back(), PackageIdOf(3)) << "waited for at most ten intervals";
}

TEST_F(ManagerTest, AFileThatChangesBetweenTwoLooksIsNotTaken) {
    const std::string name = PackageName("20240305080000000");
    const std::string whole = PackageArchive(name, GoodPackage(1));
    Put(name, whole.substr(0, 10));
    auto manager = Manager();
    manager->ScanFolder();
    std::ofstream(Folder() + name, std::ios::binary | std::ios::app) << whole.substr(10);
    manager->RunPass();
    EXPECT_TRUE(manager->QueuedFiles().empty());
    EXPECT_EQ(FilesIn(Folder()), std::vector<std::string>{name});
    manager->RunPass();
    EXPECT_EQ(FilesIn(Sub("Back")), std::vector<std::string>{name});
}

// A package file whose name code page 1251 cannot hold stays in the folder, is journalled once
// however many passes see it, and the other packages are imported.
TEST_F(ManagerTest, AFileItCannotNameIsJournalledOnceAndTheOthersImported) {
    const std::string good = PackageName("20240305100000000");
    const std::string odd = std::string(svc::kPackagePrefix) + "\xE6\x97\xA5.zip";  // 日 in UTF-8
    PutGood(good, 10);
    Put(odd, "odd");
    auto manager = Manager();
    for (int pass = 0; pass < 3; ++pass) Pass(*manager);
    EXPECT_EQ(Registered(), std::vector<std::string>{PackageIdOf(10)});
    EXPECT_EQ(FilesIn(Sub("Back")), std::vector<std::string>{good});
    EXPECT_TRUE(std::filesystem::exists(Folder() + odd));
    const std::string error = "!Error: " + rtl::UnnamableFileMessage(Folder() + odd);
    EXPECT_EQ(std::count(log_.lines.begin(), log_.lines.end(), error), 1) << log_.Text();
}

TEST_F(ManagerTest, ClearTempFoldersRemovesLeftoversOnly) {
    std::filesystem::create_directories(Sub("$Temp_1/deep"));
    Put("$Temp_1/deep/x.xml", "x");
    Put("$Temp_1/y.xml", "y");
    std::filesystem::create_directories(Sub("Temp/sub"));
    Put("Temp/sub/z.xml", "z");
    Put("Temp/w.xml", "w");
    std::filesystem::create_directories(Sub("Back"));
    std::filesystem::create_directories(Sub("Error"));
    const std::string pkg = PackageName("20240305080000000");
    Put("." + pkg + ".tmpAb12Cd", "partial");
    Put("Back/." + pkg + ".tmpXyZ789", "partial");
    Put("Error/." + pkg + ".tmp000000", "partial");
    Put(".keep", "mine");
    Put("Back/" + pkg, "archived");
    Put(pkg + ".tmpAb12Cd", "not hidden");
    auto manager = Manager();
    manager->ClearTempFolders();
    EXPECT_FALSE(std::filesystem::exists(Sub("$Temp_1")));
    EXPECT_TRUE(std::filesystem::is_directory(Sub("Temp")));
    EXPECT_TRUE(std::filesystem::is_empty(Sub("Temp")));
    EXPECT_EQ(FilesIn(Folder()), (std::vector<std::string>{".keep", pkg + ".tmpAb12Cd"}));
    EXPECT_EQ(FilesIn(Sub("Back")), std::vector<std::string>{pkg});
    EXPECT_TRUE(FilesIn(Sub("Error")).empty());
}

TEST(MoveLeftover, OnlyTheHiddenTemporaryOfAMove) {
    EXPECT_TRUE(svc::IsMoveLeftover(".a.zip.tmpAbC123"));
    EXPECT_FALSE(svc::IsMoveLeftover("a.zip.tmpAbC123"));
    EXPECT_FALSE(svc::IsMoveLeftover(".a.zip.tmpAbC12"));
    EXPECT_FALSE(svc::IsMoveLeftover(".a.zip"));
    EXPECT_FALSE(svc::IsMoveLeftover(".tmpAbC123"));
}

// Encrypted import: .dat files for the import key are decrypted beside themselves.
class EncryptedManagerTest : public crypttest::KeyStoreTest {
protected:
    EncryptedManagerTest() : KeyStoreTest("pkgdat") {}
    void SetUp() override {
        KeyStoreTest::SetUp();
        HCRYPTPROV prov = 0;
        HCRYPTKEY pair = 0;
        ASSERT_TRUE(os::CryptAcquireContextA(&prov, "ZUV_QEL_IMPORT", nullptr, PROV_RSA_FULL,
                                             CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
        ASSERT_TRUE(os::CryptGenKey(prov, AT_KEYEXCHANGE, 512u << 16, &pair));
        publicHex_ = svc::BytesToHex(crypttest::ExportKeyBlob(pair, 0, PUBLICKEYBLOB));
        os::CryptDestroyKey(pair);
        os::CryptReleaseContext(prov, 0);
        std::filesystem::create_directories(Path("in"));
    }
    std::string In(const std::string& name) const { return Path("in/" + name); }
    void PutDat(const std::string& datName, int n) {
        const std::string zipName = datName.substr(0, datName.size() - 4) + ".zip";
        ziptest::WriteBytes(Path(zipName), PackageArchive(zipName, GoodPackage(n)));
        std::string error;
        ASSERT_TRUE(svc::EncryptFileWithKey(Path(zipName), In(datName), publicHex_, "ZUV_EXPORT", error))
            << error;
    }

    std::string publicHex_;
    impfake::TFakeDb db_;
    impfake::TFakeSession session_{db_};
    impfake::TFakeFactory factory_{db_};
    svc::TdmMainDataModule dm_{factory_};
    impfake::TLogLines log_;
};

TEST_F(EncryptedManagerTest, DecryptsImportsAndSendsWhatDoesNotDecryptToError) {
    const std::string good = PackageName("20240305090000000", "00007", "01", ".dat");
    const std::string bad = PackageName("20240305080000000", "00007", "01", ".dat");
    const std::string plain = PackageName("20240305070000000");
    PutDat(good, 2);
    ziptest::WriteBytes(In(bad), "not a container at all");
    ziptest::WriteBytes(In(plain), PackageArchive(plain, GoodPackage(3)));
    svc::TPackageManager manager(Path("in"), svc::kPackagePrefix, 7, 1, &session_, &dm_, true,
                                 log_.Callback());
    manager.ScanFolder();
    manager.RunPass();
    const std::string goodZip = PackageName("20240305090000000");
    EXPECT_EQ(FilesIn(Path("in/Back")), std::vector<std::string>{goodZip});
    EXPECT_EQ(FilesIn(Path("in/Error")), std::vector<std::string>{bad});
    EXPECT_EQ(FilesIn(Path("in")), std::vector<std::string>{plain}) << "a plain archive is not imported";
    EXPECT_NE(log_.Text().find("!Error: Cannot decrypt data from file \"" + bad + "\" : "),
              std::string::npos);
    EXPECT_NE(log_.Text().find("Exchange data files decrypted"), std::string::npos);
    EXPECT_NE(impfake::TFakeDb::Join(db_.committed).find(PackageIdOf(2)), std::string::npos);
}

TEST_F(EncryptedManagerTest, ADecryptedPackageThatMeetsALostConnectionStaysQueued) {
    const std::string dat = PackageName("20240305090000000", "00007", "01", ".dat");
    const std::string zip = PackageName("20240305090000000");
    PutDat(dat, 2);
    svc::TPackageManager manager(Path("in"), svc::kPackagePrefix, 7, 1, &session_, &dm_, true,
                                 log_.Callback());
    manager.ScanFolder();
    session_.connected = false;
    EXPECT_THROW(manager.RunPass(), svc::EPackageDeferred);
    EXPECT_EQ(FilesIn(Path("in")), std::vector<std::string>{zip});
    session_.connected = true;
    manager.RunPass();
    EXPECT_EQ(FilesIn(Path("in/Back")), std::vector<std::string>{zip});
}

}  // namespace
