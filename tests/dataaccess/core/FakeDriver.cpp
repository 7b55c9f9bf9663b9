#include "tests/dataaccess/core/FakeDriver.h"

namespace dac::fake {

void FakeTransaction::OpenTransaction() {
    CheckInactive();
    FActive = true;
}

void FakeTransaction::Commit() {
    CheckActive();
    FActive = false;
    ++Commits;
}

void FakeTransaction::Rollback() {
    CheckActive();
    FActive = false;
    ++Rollbacks;
}

void FakeConnection::Connect(const AnsiString& connectString) {
    ++Connects;
    if (!ServerUp) throw EFakeError(3113, "ORA-03113: end-of-file on communication channel");
    TCRConnection::Connect(connectString);
    FConnected = true;
}

void FakeConnection::Disconnect() {
    if (!FConnected) return;
    ++Disconnects;
    FConnected = false;
}

void FakeCommand::Execute(int) {
    ++Executes;
    if (!FailNextExecute.empty()) {
        AnsiString message = FailNextExecute;
        FailNextExecute.clear();
        throw EFakeError(900, message);
    }
    State = csExecuted;
}

}  // namespace dac::fake
