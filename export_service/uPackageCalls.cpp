// Registration and send date of an export package.
#include "export_service/uPackageCalls.h"

#include <functional>

#include "common/uDataFiles.h"

namespace svc {

namespace {

bool InTransaction(TStoredProc& proc, TDataSession* session, const std::string& packageId,
                   const TLogEvent& onLog, const std::function<void(TProcCall&)>& fill) {
    try {
        session->StartTransaction();
        TProcCall call(proc, session);
        fill(call);
        call.Exec();
        session->Commit();
        return true;
    } catch (const std::exception& e) {
        CallLog(onLog, "Error: Packageid = " + packageId, true);
        CallLog(onLog, std::string("Error: ") + e.what(), true);
        TFileDataFactory::RollbackTransaction(session, e);
        return false;
    }
}

}  // namespace

const TStoredProcDecl& AddEntriesToPackageDecl() {
    static const TStoredProcDecl decl{
        "ospAddEntriesToPackage",
        "zuv_export_out_pack.add_entries_to_package",
        {"begin", "  zuv_export_out_pack.add_entries_to_package(:P_PACKAGE_ID, :P_DATETIME_CREATE);", "end;"},
        {{"P_PACKAGE_ID", db::ftString, db::ptInput, 38, false},
         {"P_DATETIME_CREATE", db::ftDateTime, db::ptInput, 0, false}}};
    return decl;
}

const TStoredProcDecl& AddSendDateToPackageDecl() {
    static const TStoredProcDecl decl{
        "ospAddSendDateToPackage",
        "zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE",
        {"begin", "  zuv_export_out_pack.ADD_SEND_DATE_TO_PACKAGE(:P_PACKAGE_ID);", "end;"},
        {{"P_PACKAGE_ID", db::ftString, db::ptInput, 38, false}}};
    return decl;
}

bool RegisterPackage(TStoredProc& proc, TDataSession* session, const std::string& packageId,
                     rtl::TDateTime created, const TLogEvent& onLog) {
    const bool done = InTransaction(proc, session, packageId, onLog, [&](TProcCall& call) {
        call.Text("P_PACKAGE_ID", packageId).DateTime("P_DATETIME_CREATE", created);
    });
    if (done) CallLog(onLog, "Packageid = " + packageId, true);
    return done;
}

bool AddSendDate(TStoredProc& proc, TDataSession* session, const std::string& packageId,
                 const TLogEvent& onLog) {
    return InTransaction(proc, session, packageId, onLog,
                         [&](TProcCall& call) { call.Text("P_PACKAGE_ID", packageId); });
}

}  // namespace svc
