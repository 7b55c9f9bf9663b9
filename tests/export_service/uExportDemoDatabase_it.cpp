// A new package exported from a demo Qel database through the real data access (the stand-in
// Oracle client, the kinds' REF CURSORs read into datasets): every record kind has rows waiting,
// and the package's two documents pass xmllint and the Python reader, which checks the header,
// the text form, the containers of 1000 items, the element order and the value form of every
// element, and the measures the database was given.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/oci/uOciDataAccess.h"
#include "export_service/uExportValues.h"
#include "export_service/uQelOutProcessorsExport.h"
#include "export_service/udmQelOutDataObjectModule.h"
#include "tests/common/TestShell.h"
#include "tests/platform/os/OsTestSupport.h"

namespace fs = std::filesystem;
using testshell::RunCommand;
using testshell::ShellQuote;

namespace {

constexpr int kEmitent = 7, kFilial = 1;

struct TMeasure {
    std::string element, value, text;
};

// The measure examples: the element, the value stored in its column and the text the document
// must hold.
std::vector<TMeasure> Measures() {
    std::ifstream in(DX_SOURCE_DIR "/tests/export_service/data/measures.tsv");
    std::vector<TMeasure> measures;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream cells(line);
        TMeasure m;
        std::getline(cells, m.element, '\t');
        std::getline(cells, m.value, '\t');
        std::getline(cells, m.text);
        measures.push_back(m);
    }
    return measures;
}

// Where a measure element is stored: the table and column, the rows that go into a new package
// (each example takes the next of them), the list and the element that names the row.
struct TMeasureColumn {
    const char *element, *table, *column, *rows, *key, *list, *keyElement;
};
const TMeasureColumn kMeasureColumns[] = {
    {"Odometr", "trn", "odometr", "package_id IS NULL AND source = 1", "trn_guid", "TRN_QEL_LIST",
     "Trn_GUID"},
    {"RfidNum", "trn", "rfid_num", "package_id IS NULL AND source = 1", "trn_guid", "TRN_QEL_LIST",
     "Trn_GUID"},
    {"Max_Consumption", "card", "max_consumption",
     "client_id IN (SELECT client_id FROM client WHERE source = 1)", "crd_graphnum", "CARD_QEL_LIST", "Num"},
};

class ExportDemoDatabase : public ::testing::Test {
protected:
    // One database and one export for all tests of the program: the export takes a while under
    // the sanitizers, and the tests only read its documents.
    static void SetUpTestSuite() {
        dir_ = new ostest::TempDir("export_demo");
        failure_ = new std::string;
        Prepare();
    }
    static void TearDownTestSuite() {
        delete dir_;
        delete failure_;
    }

    void SetUp() override { ASSERT_TRUE(failure_->empty()) << *failure_; }

    static std::string Sqlite(const std::string& sql) {
        std::string out;
        if (RunCommand("sqlite3 -batch -noheader " + ShellQuote(Db()) + " " + ShellQuote(sql), &out) != 0)
            throw std::runtime_error(sql + ": " + out);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
        return out;
    }
    static std::string Db() { return *dir_ / "qel.db"; }
    static std::string Unpacked() { return *dir_ / "unpacked"; }

    static void Prepare() {
        try {
            std::string out;
            // Two days of history, the second waiting: about half the transactions go into the
            // package, enough for its transaction list to span two containers.
            if (RunCommand("python3 " + ShellQuote(DX_SOURCE_DIR "/scripts/make-qel-db") +
                               " --size tiny --seed 7 --anchor 2024-05-31 --transactions 3200 --days 2"
                               " --host qelhost --root " +
                               ShellQuote(*dir_ / "zuv") + " " + ShellQuote(Db()),
                           &out) != 0)
                throw std::runtime_error("make-qel-db: " + out);
            // The measure examples, each in a row of its own that goes into the package.
            std::map<std::string, int> used;
            for (const TMeasure& m : Measures()) {
                const TMeasureColumn* c = nullptr;
                for (const TMeasureColumn& column : kMeasureColumns)
                    if (m.element == column.element) c = &column;
                if (!c) throw std::runtime_error("measures.tsv: no column for " + m.element);
                const std::string key =
                    Sqlite(std::string("UPDATE ") + c->table + " SET " + c->column + " = " + m.value +
                           " WHERE rowid = (SELECT rowid FROM " + c->table + " WHERE " + c->rows +
                           " ORDER BY rowid LIMIT 1 OFFSET " + std::to_string(used[c->table]++) +
                           ") RETURNING " + c->key);
                values_ += std::string("value\t") + c->list + "\t" + c->keyElement + "\t" + key + "\t" +
                           m.element + "\t" + m.text + "\n";
            }
            // Cyrillic names of code page 1251 come out as the database holds them.
            const std::string pos = Sqlite("SELECT pos_number FROM pos WHERE package_id IS NULL LIMIT 1");
            values_ += "value\tPOS_LIST\tPOS_Number\t" + pos + "\tName\t" +
                       Sqlite("SELECT pos_name FROM pos WHERE pos_number = " + pos) + "\n";
            Export();
        } catch (const std::exception& e) {
            *failure_ = e.what();
        }
    }

    static void Export() {
        ::setenv("ORACLE_HOME", DX_BINARY_DIR "/oracle-home", 1);
        fs::create_directories(*dir_ / "work");
        fs::create_directories(*dir_ / "shared");
        svc::TOciDataAccess access;
        auto session = access.CreateSession();
        session->SetUsername("qel");
        session->SetPassword("secret");
        session->SetServer(Db());
        session->Connect();
        svc::TdmQelOutDataObject dataObjects(access);
        svc::TExportSettings settings;
        settings.WorkFolder = *dir_ / "work/";
        settings.SharedFolder = *dir_ / "shared/";
        std::string errors;
        svc::TEmitentPackageExport exporter(session.get(), kEmitent, kFilial, settings, nullptr,
                                            &dataObjects);
        exporter.OnLog = [&](const std::string& text, bool) {
            if (text.rfind("Error: ", 0) == 0) errors += text + "\n";
        };
        exporter.Export();
        if (!errors.empty()) throw std::runtime_error(errors);
        packageId_ = exporter.PackageId();
        created_ = exporter.CreationTime();
        fileName_ = exporter.FileName;

        std::vector<fs::path> packages;
        for (const auto& e : fs::directory_iterator(*dir_ / "shared")) packages.push_back(e.path());
        if (packages.size() != 1)
            throw std::runtime_error(std::to_string(packages.size()) + " packages in the shared folder");
        std::string out;
        if (RunCommand("unzip -q -P " + std::string(svc::kArchivePassword) + " " +
                           ShellQuote(packages[0].string()) + " -d " + ShellQuote(Unpacked()),
                       &out) != 0)
            throw std::runtime_error("unzip: " + out);
    }

    // The manifest of the package for the Python reader: every kind of a new package has at least
    // one item; the Qel transactions, as many as the database stamped with the package.
    static void WriteManifest(const std::string& extra = std::string()) {
        std::ofstream manifest(Unpacked() + "/manifest.tsv", std::ios::trunc);
        manifest << "header\t" << packageId_ << "\t" << kEmitent << "\t" << kFilial << "\t"
                 << svc::DateTimeText(created_) << "\nfile\t" << fileName_ << "\n";
        for (int kind : svc::NewPackageKinds(0)) {
            const std::string list = svc::ExportKind(kind).ListName;
            manifest << "list\t" << list << "\t" << (list == "TRN_QEL_LIST" ? QelTransactions() : "+")
                     << "\n";
        }
        manifest << values_ << extra;
    }

    static std::string QelTransactions() {
        return Sqlite("SELECT count(*) FROM trn WHERE source = 1 AND package_id = '" + packageId_ + "'");
    }

    static int Check(std::string* report) {
        return RunCommand("python3 " + ShellQuote(DX_SOURCE_DIR "/tests/export_service/check_documents.py") +
                              " " + ShellQuote(Unpacked()),
                          report);
    }

    static inline ostest::TempDir* dir_ = nullptr;
    static inline std::string* failure_ = nullptr;
    static inline std::string values_, packageId_, fileName_;
    static inline rtl::TDateTime created_ = 0;
};

TEST_F(ExportDemoDatabase, EveryKindOfANewPackageHasRowsAndItsDocumentsPassTheChecks) {
    const std::vector<int> kinds = svc::NewPackageKinds(0);
    EXPECT_EQ(std::set<int>(kinds.begin(), kinds.end()).size(), static_cast<size_t>(svc::ExportKindCount));
    ASSERT_GT(std::stol(QelTransactions()), 1000) << "the transaction list must span two containers";
    WriteManifest();

    std::string out;
    EXPECT_EQ(0, RunCommand("xmllint --noout " + ShellQuote(Unpacked() + "/" + fileName_) + " " +
                                ShellQuote(Unpacked() + "/" + svc::kOrderListName),
                            &out))
        << out;
    EXPECT_EQ(0, Check(&out)) << out;
}

TEST_F(ExportDemoDatabase, TheReaderObjectsToAWrongValueOrAMissingKind) {
    const std::string data = Unpacked() + "/" + fileName_;
    const std::string original = ostest::ReadFile(data);
    const std::string guid = values_.substr(values_.find("Trn_GUID\t") + 9, 38);
    struct Case {
        const char* what;
        std::string from, to, extra, report;
    };
    const Case cases[] = {
        {"a measure with a leading zero", "<Odometr>.5</Odometr>", "<Odometr>0.5</Odometr>", "",
         "Odometr of TRN_QEL_LIST: '0.5' is not of the form measure"},
        {"a date-time without its zone", "Z</Date_Of>", "</Date_Of>", "", "is not of the form date-time"},
        {"a measure that is not the database's", "", "",
         "value\tTRN_QEL_LIST\tTrn_GUID\t" + guid + "\tOdometr\t12.6\n",
         "Odometr of TRN_QEL_LIST " + guid + " is '12.5', not '12.6'"},
        {"a kind the package should hold", "", "", "list\tNO_SUCH_LIST\t+\n", "lists ["},
    };
    for (const Case& c : cases) {
        std::string text = original;
        if (!c.from.empty()) {
            const size_t at = text.find(c.from);
            ASSERT_NE(at, std::string::npos) << c.what;
            text.replace(at, c.from.size(), c.to);
        }
        ostest::WriteFile(data, text);
        WriteManifest(c.extra);
        std::string report;
        EXPECT_NE(0, Check(&report)) << c.what;
        EXPECT_NE(report.find(c.report), std::string::npos) << c.what << ": " << report;
    }
    ostest::WriteFile(data, original);
}

}  // namespace
