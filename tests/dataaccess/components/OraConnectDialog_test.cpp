// The Oracle server list: net service names read from tnsnames.ora in its documented forms, the
// file's place, included files, and the stand-in's databases.
#include "dataaccess/components/OraConnectDialog.h"

#include <gtest/gtest.h>

#include "tests/dataaccess/components/SettingsFixture.h"

namespace dac {
namespace {

using Names = std::vector<std::string>;
using settingstest::WriteText;

TEST(TnsNames, DocumentedFormsGiveTheirNetServiceNames) {
    struct Case {
        const char* what;
        const char* text;
        Names names;
    };
    const std::vector<Case> table = {
        {"an entry over several indented lines",
         "ORCL =\n"
         "  (DESCRIPTION =\n"
         "    (ADDRESS = (PROTOCOL = TCP)(HOST = db.example.com)(PORT = 1521))\n"
         "    (CONNECT_DATA =\n"
         "      (SERVER = DEDICATED)\n"
         "      (SERVICE_NAME = orcl.example.com)\n"
         "    )\n"
         "  )\n",
         {"ORCL"}},
        {"an entry on one line without blanks",
         "sales=(DESCRIPTION=(ADDRESS=(PROTOCOL=tcp)(HOST=h)(PORT=1521))(CONNECT_DATA=(SID=s)))",
         {"sales"}},
        {"several names for one description",
         "net1, net2,net3 = (DESCRIPTION = (ADDRESS = (PROTOCOL = TCP)(HOST = h)(PORT = 1521)))\n",
         {"net1", "net2", "net3"}},
        {"names with domains",
         "sales.us.example.com = (DESCRIPTION = (ADDRESS = (HOST = h))(CONNECT_DATA = (SERVICE_NAME = s)))\n"
         "hr.eu.example.com=(DESCRIPTION=(ADDRESS=(HOST=h2)))\n",
         {"sales.us.example.com", "hr.eu.example.com"}},
        {"comments on their own lines and behind values",
         "# the production database\n"
         "PROD = # primary\n"
         "  (DESCRIPTION = (ADDRESS = (HOST = p)) # the host\n"
         "  )\n"
         "#TEST = (DESCRIPTION = (ADDRESS = (HOST = t)))\n",
         {"PROD"}},
        {"an address list and a description list with failover",
         "HA =\n"
         "  (DESCRIPTION_LIST =\n"
         "    (LOAD_BALANCE = off)(FAILOVER = on)\n"
         "    (DESCRIPTION = (ADDRESS_LIST = (ADDRESS = (HOST = a))(ADDRESS = (HOST = b)))\n"
         "      (CONNECT_DATA = (SERVICE_NAME = s)))\n"
         "    (DESCRIPTION = (ADDRESS = (HOST = c))(CONNECT_DATA = (SERVICE_NAME = s))))\n"
         "NEXT = (DESCRIPTION = (ADDRESS = (HOST = n)))\n",
         {"HA", "NEXT"}},
        {"names compare without regard to case; the first spelling stays",
         "Orcl = (DESCRIPTION = (ADDRESS = (HOST = a)))\nORCL = (DESCRIPTION = (ADDRESS = (HOST = b)))\n",
         {"Orcl"}},
        {"an entry left open is dropped at the next name in the first column",
         "BROKEN = (DESCRIPTION = (ADDRESS = (HOST = a))\n"
         "GOOD = (DESCRIPTION = (ADDRESS = (HOST = b)))\n",
         {"GOOD"}},
        {"text that is no entry is passed over",
         "garbage here\nOK = (DESCRIPTION = (ADDRESS = (HOST = b)))\n",
         {"OK"}},
        {"an empty file", "", {}},
        {"CR LF line ends",
         "A =\r\n  (DESCRIPTION = (ADDRESS = (HOST = a)))\r\nB = (DESCRIPTION =\r\n (X = 1))\r\n",
         {"A", "B"}},
    };
    for (const Case& c : table) EXPECT_EQ(ParseTnsNames(c.text), c.names) << c.what;
}

TEST(TnsNames, IncludedFilesAreReadOnceAndAreNoNames) {
    std::vector<std::string> ifiles;
    EXPECT_EQ(
        ParseTnsNames("IFILE = /etc/oracle/more.ora\nA = (DESCRIPTION = (ADDRESS = (HOST = a)))\n", &ifiles),
        Names{"A"});
    EXPECT_EQ(ifiles, Names{"/etc/oracle/more.ora"});

    settingstest::ScopedEnv noAdmin("TNS_ADMIN", std::nullopt);
    std::string pattern = (std::filesystem::temp_directory_path() / "tns_XXXXXX").string();
    const std::string dir = ::mkdtemp(pattern.data());
    WriteText(dir + "/tnsnames.ora", "MAIN = (DESCRIPTION = (ADDRESS = (HOST = m)))\nIFILE = sub/more.ora\n");
    // An include of the including file must not loop.
    WriteText(dir + "/sub/more.ora",
              "MORE = (DESCRIPTION = (ADDRESS = (HOST = x)))\nmain = (DESCRIPTION = (X = 1))\n"
              "IFILE = " +
                  dir + "/tnsnames.ora\nIFILE = missing.ora\n");
    EXPECT_EQ(ReadTnsNamesFile(dir + "/tnsnames.ora"), (Names{"MAIN", "MORE"}));
    EXPECT_EQ(ReadTnsNamesFile(dir + "/none.ora"), Names{});
    std::filesystem::remove_all(dir);
}

class OraServers : public settingstest::SettingsTest {};

TEST_F(OraServers, TheFileIsFoundThroughTnsAdminOrTheHome) {
    EXPECT_EQ(TnsNamesFileName(), tnsAdmin_ + "/tnsnames.ora");
    settingstest::ScopedEnv noAdmin("TNS_ADMIN", std::nullopt);
    EXPECT_EQ(TnsNamesFileName(), home_ + "/network/admin/tnsnames.ora");
}

TEST_F(OraServers, NetServiceNamesFirstThenTheStandInsDatabasesByName) {
    WriteText(
        tnsAdmin_ + "/tnsnames.ora",
        "ZETA = (DESCRIPTION = (ADDRESS = (HOST = z)))\nDemo = (DESCRIPTION = (ADDRESS = (HOST = d)))\n");
    WriteText(home_ + "/dbs/QEL.db", "");
    WriteText(home_ + "/dbs/DEMO.db", "");
    WriteText(home_ + "/dbs/ALPHA.db", "");
    WriteText(home_ + "/dbs/initORCL.ora", "");
    std::filesystem::create_directories(home_ + "/dbs/folder.db");
    TOraServerEnumerator e;
    rtl::TStringList list;
    list.Add("stale");
    e.GetServerList(list);
    std::vector<std::string> got;
    for (int i = 0; i < list.Count(); ++i) got.push_back(list[i]);
    EXPECT_EQ(got, (Names{"ZETA", "Demo", "ALPHA", "QEL"}));

    // Without a home or a file there is nothing to list.
    settingstest::ScopedEnv noAdmin("TNS_ADMIN", std::nullopt);
    settingstest::ScopedEnv noHome("ORACLE_HOME", dir_ + "/nohome");
    e.GetServerList(list);
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace dac
