// A small driver over rows held in memory, for tests of the driver classes and of the layers
// above them: a connection whose server can be taken down, a transaction that only keeps its
// state, and a command that counts what it is asked to do.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/core/CRAccess.h"

namespace dac::fake {

class FakeTransaction : public TCRTransaction {
public:
    void OpenTransaction() override;
    void Commit() override;
    void Rollback() override;
    void Savepoint(const AnsiString& name) override { Savepoints.push_back(name); }

    int Commits = 0;
    int Rollbacks = 0;
    std::vector<AnsiString> Savepoints;
};

class FakeConnection : public TCRConnection {
public:
    ~FakeConnection() override { Disconnect(); }

    TCRTransactionClass GetInternalTransactionClass() override {
        return TCRTransactionClass::Of<FakeTransaction>();
    }
    // Fails with a lost-connection error while the server is down.
    void Connect(const AnsiString& connectString) override;
    void Disconnect() override;

    bool ServerUp = true;
    int Connects = 0;
    int Disconnects = 0;
};

// The error the fake server reports; error 3113 means the connection is lost.
class EFakeError : public EDAError {
public:
    using EDAError::EDAError;
    const char* ClassName() const override { return "EFakeError"; }
    bool IsFatalError() const override { return ErrorCode == 3113; }
    bool IsKeyViolation() const override { return ErrorCode == 1; }
};

class FakeCommand : public TCRCommand {
public:
    bool GetPrepared() override { return State >= csPrepared; }
    void Execute(int iters = 1) override;
    TCursorState GetCursorState() override { return State; }
    void SetCursorState(TCursorState value) override { State = value; }
    TSQLParserClass GetParserClass() override { return &CreateParserOf<TSQLParser>; }

    TCursorState State = csInactive;
    int Executes = 0;
    // Raised by the next Execute when set.
    AnsiString FailNextExecute;
};

}  // namespace dac::fake
