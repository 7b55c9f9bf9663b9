// The data-object module of one export run.
#include "export_service/udmQelOutDataObjectModule.h"

#include "export_service/uPackageCalls.h"
#include "platform/db/DB.h"

namespace svc {

TdmQelOutDataObject::TdmQelOutDataObject(TDataAccess& dataAccess)
    : ospAddEntriesToPackage(dataAccess.Components().CreateStoredProc(AddEntriesToPackageDecl())),
      ospAddSendDateToPackage(dataAccess.Components().CreateStoredProc(AddSendDateToPackageDecl())),
      dataAccess_(dataAccess) {}

TdmQelOutDataObject::~TdmQelOutDataObject() = default;

TCursorProc& TdmQelOutDataObject::ProcedureOf(int kind) {
    const TRecordKindInfo& info = ExportKind(kind);
    std::unique_ptr<TCursorProc>& proc = kinds_[kind];
    if (!proc) {
        TCursorProcDecl decl;
        decl.ComponentName = info.Component;
        decl.StoredProcName = info.StoredProc;
        decl.DeclareParams = [&info](db::TParams& params) { DeclareKindParams(info, params); };
        decl.FetchAll = info.FetchAll;
        proc = dataAccess_.CreateCursorProc(decl);
    }
    return *proc;
}

}  // namespace svc
