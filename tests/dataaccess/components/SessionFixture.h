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

#ifndef DX_HAVE_OCI_TRANSACTION
// Until the Oracle driver transaction is part of the build, the transaction tests run on this
// stand-in for it: it ends and marks transactions with plain SQL on each connection, which the
// stand-in server carries out as Oracle does.
class SqlDriverTransaction : public dac::TCRTransaction {
public:
    void OpenTransaction() override;
    void Commit() override;
    void Rollback() override;
    void Savepoint(const dac::AnsiString& name) override;
    void RollbackToSavepoint(const dac::AnsiString& name) override;
    // Takes the Oracle settings (name, segment, time-outs, resume) and keeps none.
    bool SetProp(int prop, const rtl::Variant& value) override;

private:
    void Run(const dac::AnsiString& sql);
};

class SqlTransactionConnection : public dac::TOCIConnection {
public:
    dac::TCRTransactionClass GetInternalTransactionClass() override {
        return dac::TCRTransactionClass::Of<SqlDriverTransaction>();
    }
};

class TestSession : public dac::TOraSession {
public:
    using dac::TOraSession::TOraSession;
    dac::TCRConnectionClass GetConnectionClass() override {
        return dac::TCRConnectionClass::Of<SqlTransactionConnection>();
    }
};
#else
using TestSession = dac::TOraSession;
#endif

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
