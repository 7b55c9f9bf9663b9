// A small driver over rows held in memory, for tests of the driver classes and of the layers
// above them: a connection whose server can be taken down, a transaction that only keeps its
// state, a command whose "server" holds a table of rows, and a record set that fetches those
// rows block by block.
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

    // The result the server produces: columns and rows; Execute rewinds it.
    struct Column {
        AnsiString Name;
        TDataType DataType;
        int Length = 0;
        int Scale = 0;
        bool Required = false;
        bool ReadOnly = false;
        bool Fixed = false;
        bool Hidden = false;
    };
    std::vector<Column> Columns;
    std::vector<std::vector<rtl::Variant>> Rows;
    size_t Position = 0;
};

class FakeRecordSet : public TCRRecordSet {
public:
    ~FakeRecordSet() override;

    void CreateCommand() override { SetCommand(new FakeCommand()); }
    FakeCommand& Command() { return *static_cast<FakeCommand*>(GetCommand()); }
    void InternalInitFields() override;
    // Appends the next FetchRows rows (all when FetchRows is 0); unidirectional record sets
    // drop the rows held before.
    bool Fetch(bool fetchBack = false) override;

    // The row's values in a fresh buffer (freed by the caller with FreeRecBuf).
    void* MakeRecord(const std::vector<rtl::Variant>& values);
    // The field values of the current record.
    std::vector<rtl::Variant> CurrentValues();

    int Fetches = 0;
    int Describes = 0;
    // A scrollable cursor: it fetches backwards too and holds at most Window rows, dropping
    // rows at the far end of the window.
    bool Scrollable = false;
    int Window = 0;
    bool CanFetchBack() override { return Scrollable; }
    // Row indexes held: [WindowFirst, WindowEnd).
    size_t WindowFirst = 0, WindowEnd = 0;

private:
    bool FetchScrollable(bool fetchBack);
    PItemHeader NewItem(size_t row);
};

// Fills the command of rs with columns ID (integer) and NAME (string of 20) and count rows
// (i, "row i") for i = 1 .. count.
void FillNumbered(FakeRecordSet& rs, int count);

}  // namespace dac::fake
