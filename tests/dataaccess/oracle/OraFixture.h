// A stand-in database in a temporary folder and the client loaded from the build's Oracle home.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"

// The message of the exception f raises; "(nothing raised)" when none.
std::string ExceptionText(const std::function<void()>& f);
// The ORA number of the EOraError f raises; 0 when none.
int32_t OraErrorCode(const std::function<void()>& f);

// The stand-in's home in the build tree.
std::string StandInHome();

// Unloads the client and clears every choice that steers where it is loaded from.
void ResetClient();

class OraTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs SQL on the database directly, outside the client.
    void dbExec(const std::string& sql);
    std::vector<std::string> dbTexts(const std::string& sql);
    // The ALTER SESSION texts the server accepted, in order.
    std::vector<std::string> sessionLog() { return dbTexts("SELECT text FROM oci_session_log ORDER BY id"); }

    // A connection to the test database, not yet connected.
    std::unique_ptr<dac::TOCIConnection> newConnection(const char* user = "qel",
                                                       const char* password = "secret");

    std::string dir_, db_;
};
