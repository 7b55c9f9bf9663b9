// The import's Oracle session: the Oracle session's own calls and the savepoints of the coupon
// flow. The program and the import benchmark both run on it.
#pragma once

#include <string>

#include "common/oci/uOciDataAccess.h"
#include "import_service/udmMainDataModule.h"

class TImportOciSession final : public svc::TOciSession, public svc::TImportSession {
public:
    bool Connected() const override { return TOciSession::Connected(); }
    bool InTransaction() const override { return TOciSession::InTransaction(); }
    void StartTransaction() override { TOciSession::StartTransaction(); }
    void Commit() override { TOciSession::Commit(); }
    void Rollback() override { TOciSession::Rollback(); }
    void Savepoint(const std::string& name) override { TOciSession::Savepoint(name); }
    void RollbackToSavepoint(const std::string& name) override { TOciSession::RollbackToSavepoint(name); }
};
