// A stand-in database in a temporary folder, sessions on it, and what the server was sent.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataaccess/components/Ora.h"

// The message of the exception f raises; "(nothing raised)" when none.
std::string ErrorText(const std::function<void()>& f);

using TestSession = dac::TOraSession;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void dbExec(const std::string& sql);
    std::vector<std::string> dbTexts(const std::string& sql);

    // A session for qel/secret on the test database, not connected.
    std::unique_ptr<TestSession> newSession(const char* user = "qel", const char* password = "secret");
    std::unique_ptr<dac::TOraSQL> newSQL(dac::TOraSession* session, const std::string& text);

    // Records the statements the server receives from here on; Received() returns them.
    void Record();
    std::vector<std::string> Received();

    std::string dir_, db_, trace_;
};
