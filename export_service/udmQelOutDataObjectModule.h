// The data-object module of one export run: the stored procedures of the forty record kinds,
// each declared from the kind table, and the two bookkeeping calls of a package. Made per run
// through the program's data-access components; no component carries a session of its own.
#pragma once

#include <map>
#include <memory>

#include "common/uDataAccess.h"
#include "export_service/udmQelOutDataObject.h"

namespace svc {

class TdmQelOutDataObject : public TExportProcedures {
public:
    explicit TdmQelOutDataObject(TDataAccess& dataAccess);
    ~TdmQelOutDataObject() override;

    // The kind's procedure, made on first use; rtl::Exception "Unknown data type" outside 0 to 39.
    TCursorProc& ProcedureOf(int kind) override;

    std::unique_ptr<TStoredProc> ospAddEntriesToPackage;
    std::unique_ptr<TStoredProc> ospAddSendDateToPackage;

private:
    TDataAccess& dataAccess_;
    std::map<int, std::unique_ptr<TCursorProc>> kinds_;
};

}  // namespace svc
