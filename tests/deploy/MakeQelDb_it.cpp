// scripts/make-qel-db: options, settings, refusals, and the same data from the same seed.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "QelDbFixture.h"

namespace {

namespace fs = std::filesystem;

class MakeQelDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = QelDemo::dir() + "/" + info->name();
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    int make(const std::string& options, std::string* output = nullptr) {
        std::string out;
        int rc = RunCommand("python3 " + ShellQuote(std::string(DX_SOURCE_DIR) + "/scripts/make-qel-db") +
                                " --anchor 2024-05-31 --host qelhost " + options,
                            &out);
        if (output) *output = out;
        return rc;
    }
    std::vector<std::string> sqlite(const std::string& db, const std::string& sql) {
        std::string out;
        EXPECT_EQ(0, RunCommand("sqlite3 -batch -noheader " + ShellQuote(db) + " " + ShellQuote(sql), &out))
            << out;
        std::vector<std::string> lines;
        for (size_t b = 0; b < out.size();) {
            size_t e = out.find('\n', b);
            lines.push_back(out.substr(b, e - b));
            b = e == std::string::npos ? out.size() : e + 1;
        }
        return lines;
    }
    std::string dump(const std::string& db) {
        std::string out;
        // every table but the version, which records when the database was made
        EXPECT_EQ(
            0,
            RunCommand("sqlite3 " + ShellQuote(db) +
                           " .dump | grep -v '^INSERT INTO db_version' | grep -v '^INSERT INTO sqlite_stat'",
                       &out));
        return out;
    }
    std::string dir_;
};

TEST_F(MakeQelDbTest, TheSameSeedMakesTheSameDatabaseAnotherSeedAnother) {
    ASSERT_EQ(0, make("--size tiny --seed 5 --root " + dir_ + "/zuv " + dir_ + "/a.db"));
    ASSERT_EQ(0, make("--size tiny --seed 5 --root " + dir_ + "/zuv " + dir_ + "/b.db"));
    ASSERT_EQ(0, make("--size tiny --seed 6 --root " + dir_ + "/zuv " + dir_ + "/c.db"));
    std::string a = dump(dir_ + "/a.db");
    EXPECT_GT(a.size(), 10000u);
    EXPECT_EQ(a, dump(dir_ + "/b.db"));
    EXPECT_NE(a, dump(dir_ + "/c.db"));
}

TEST_F(MakeQelDbTest, SizesFollowTheOptionsAndTheDataHangTogether) {
    std::string db = dir_ + "/q.db", out;
    ASSERT_EQ(
        0, make("--size tiny --clients 9 --transactions 2500 --days 5 --root " + dir_ + "/zuv " + db, &out))
        << out;
    EXPECT_NE(std::string::npos, out.find("9 clients, 2500 transactions, 5 days")) << out;
    EXPECT_EQ(
        (std::vector<std::string>{"9", "2500", "4"}),
        sqlite(db,
               "SELECT count(*) FROM client; SELECT count(*) FROM trn; SELECT count(*) FROM out_package"));
    // every transaction is made with a card of its client, inside the history, and only the last day waits
    EXPECT_EQ(
        (std::vector<std::string>{"0", "2024-05-26 00:00:00|2024-05-30 23:57:07", "2024-05-30 00:00:00"}),
        sqlite(db,
               "SELECT count(*) FROM trn t LEFT JOIN card k ON k.crd_graphnum = t.trn_card_num "
               "WHERE k.client_id IS NOT t.client_id OR k.client_type IS NOT t.client_type;"
               "SELECT min(trn_dateof), max(trn_dateof) FROM trn;"
               "SELECT min(trn_dateof) FROM trn WHERE package_id IS NULL"));
    EXPECT_EQ(sqlite(db, "SELECT count(*) FROM trn WHERE trn_dateof >= '2024-05-30'"),
              sqlite(db, "SELECT count(*) FROM trn WHERE package_id IS NULL"));
    // a package's transactions are those of the day before it
    EXPECT_EQ("0", sqlite(db,
                          "SELECT count(*) FROM trn t JOIN out_package p USING (package_id) "
                          "WHERE date(t.trn_dateof, '+1 day') <> date(p.datetime_create)")
                       .front());
    EXPECT_EQ("0", sqlite(db, "SELECT count(*) FROM pragma_foreign_key_check").front());
    // the demo folders are there
    for (const char* f : {"out", "out-share", "in", "in-share"})
        EXPECT_TRUE(fs::is_directory(dir_ + "/zuv/" + f)) << f;
}

TEST_F(MakeQelDbTest, SettingsComeFromTheFileAndTheOverrides) {
    std::string file = dir_ + "/settings.conf", db = dir_ + "/s.db", out;
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/deploy/qel/settings.conf");
    std::ofstream(file) << in.rdbuf() << "Interval = 17\n";
    ASSERT_EQ(0,
              make("--empty --settings " + file + " --set smtpport=25 --set 'TimeList=07:00;19:30' --set " +
                       "TypeChange=1 --root " + dir_ + "/demo " + db,
                   &out))
        << out;
    EXPECT_EQ(
        (std::vector<std::string>{"17", "25", "07:00;19:30", "1", dir_ + "/demo/out/", "qelhost", "", "35"}),
        sqlite(db,
               "SELECT value FROM zuv_param WHERE name = 'Interval';"
               "SELECT value FROM zuv_param WHERE name = 'SMTPPort';"
               "SELECT value FROM zuv_param WHERE name = 'TimeList';"
               "SELECT value FROM zuv_param WHERE name = 'TypeChange';"
               "SELECT value FROM zuv_param WHERE name = 'FolderExport';"
               "SELECT value FROM zuv_param WHERE name = 'PC_SRV_NAME_QEL_IN';"
               "SELECT ifnull(value, '') FROM zuv_param WHERE name = 'ExportPublicKey';"
               "SELECT count(*) FROM zuv_param"));
    EXPECT_EQ((std::vector<std::string>{"0", "7|1|", "2.9.1.0", "63"}),
              sqlite(db,
                     "SELECT count(*) FROM client; SELECT * FROM v_zuv_emitent_params;"
                     "SELECT version FROM db_version; SELECT count(*) FROM oci_procedure"));
}

TEST_F(MakeQelDbTest, RefusesWhatWouldGiveABrokenDatabaseAndLeavesNothingBehind) {
    std::string db = dir_ + "/r.db", out;
    const struct {
        std::string options, message;
    } cases[] = {
        {"--set NoSuchSetting=1", "unknown exchange setting 'NoSuchSetting'"},
        {"--set Interval", "expected NAME=VALUE"},
        // "(" is the first character of the scrambling key: it would scramble to a zero byte
        {"--set 'SMTPPass=(abc'", "SMTPPass: the scrambled value would hold a zero byte at position 1"},
        {"--clients 3", "at least 4 clients"},
        {"--days 1", "at least 2 days"},
        {"--transactions -5", "must not be negative"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(1, make("--size tiny --root " + dir_ + "/zuv " + c.options + " " + db, &out)) << c.options;
        EXPECT_NE(std::string::npos, out.find(c.message)) << c.options << ": " << out;
        EXPECT_FALSE(fs::exists(db)) << c.options;
        EXPECT_FALSE(fs::exists(db + ".part")) << c.options;
    }
    ASSERT_EQ(0, make("--size tiny --root " + dir_ + "/zuv " + db));
    auto first = fs::last_write_time(db);
    EXPECT_EQ(1, make("--size tiny --root " + dir_ + "/zuv " + db, &out));
    EXPECT_NE(std::string::npos, out.find("exists; use --force")) << out;
    EXPECT_EQ(first, fs::last_write_time(db));
    EXPECT_EQ(0, make("--size tiny --seed 9 --force --root " + dir_ + "/zuv " + db, &out)) << out;
}

TEST_F(MakeQelDbTest, ANameIsMadeUnderOracleHomeWhereTheStandInFindsIt) {
    std::string home = dir_ + "/home", out;
    ASSERT_EQ(0, setenv("ORACLE_HOME", home.c_str(), 1));
    ASSERT_EQ(0, make("--size tiny --user zuv --password pw1 QELX", &out)) << out;
    EXPECT_TRUE(fs::exists(home + "/dbs/QELX.db"));
    EXPECT_TRUE(fs::is_directory(home + "/dbs/zuv/in"));

    OCIEnv* env = nullptr;
    OCIError* err = nullptr;
    ASSERT_EQ(OCI_SUCCESS, OCIEnvCreate(&env, OCI_THREADED, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
    OCIHandleAlloc(env, reinterpret_cast<void**>(&err), OCI_HTYPE_ERROR, 0, nullptr);
    OciLogon logon;
    EXPECT_EQ(OCI_SUCCESS, logon.begin(env, err, "QELX", "ZUV", "pw1"));
    EXPECT_EQ(OCI_ERROR, OciLogon().begin(env, err, "QELX", "zuv", "qel"));  // the password is exact
    logon.end(err);
    OCIHandleFree(env, OCI_HTYPE_ENV);
    unsetenv("ORACLE_HOME");
}

}  // namespace
