// The connection module over a recording session: the order of the logon settings, the home as
// the low byte of OraHome, the last error kept for the journal, and a program without components.
#include "common/udmConnection.h"

#include <gtest/gtest.h>

#include "tests/common/ServiceFakes.h"

using svc::TdmConnection;
using svcfake::TFakeDataAccess;
using svcfake::TFakeDb;

namespace {

void Fill(TdmConnection& connection, int oraHome) {
    connection.OraHome = oraHome;
    connection.UserName = "zuv";
    connection.Password = "secret";
    connection.Server = "qel:1521/QEL";
    connection.Scheme = "ZUV";
}

}  // namespace

TEST(ConnectionModule, ConnectSetsTheLogonValuesInOrder) {
    TFakeDb db;
    TFakeDataAccess access(db);
    TdmConnection connection(&access);
    Fill(connection, 257);
    connection.Connect();
    EXPECT_TRUE(connection.Connected());
    EXPECT_EQ(db.LogText(),
              "CreateSession\nLoginPrompt off\nHome 1\nUsername zuv\nPassword secret\nServer qel:1521/QEL\n"
              "Schema ZUV\nConnect\n")
        << "257 selects the same home as 1";
}

TEST(ConnectionModule, FailedConnectKeepsTheServersErrorUntilTheNextAttempt) {
    TFakeDb db;
    db.failingConnects = 1;
    TFakeDataAccess access(db);
    TdmConnection connection(&access);
    Fill(connection, 0);
    EXPECT_THROW(connection.Connect(), rtl::EDatabaseError);
    ASSERT_TRUE(connection.LastError());
    EXPECT_EQ(connection.LastError()->Code, 12541);
    EXPECT_EQ(connection.LastError()->Message, "ORA-12541: TNS:no listener");

    connection.Connect();
    EXPECT_TRUE(connection.Connected());
    EXPECT_FALSE(connection.LastError()) << "a new attempt forgets the old error";

    db.failingConnects = -1;
    const size_t before = db.Lines().size();
    connection.Connect();
    EXPECT_EQ(db.Lines().size(), before) << "a connected session is left alone";
}

TEST(ConnectionModule, ConnectedSessionKeepsTheLastError) {
    TFakeDb db;
    db.failingConnects = 1;
    TFakeDataAccess access(db);
    TdmConnection connection(&access);
    EXPECT_THROW(connection.Connect(), rtl::EDatabaseError);
    static_cast<svcfake::TFakeSession&>(connection.OraSession()).connected = true;
    connection.Connect();
    ASSERT_TRUE(connection.LastError());
    EXPECT_EQ(connection.LastError()->Code, 12541);
}

TEST(ConnectionModule, ProgramWithoutComponentsSaysSo) {
    try {
        TdmConnection connection(nullptr);
        FAIL() << "made without components";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(std::string(e.what()), "This program has no Oracle data-access components");
    }
}
