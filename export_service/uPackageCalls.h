// The two bookkeeping calls of an export package: its registration under a new id, and its send
// date once it has been delivered. Each runs in a transaction of its own that is committed, or
// rolled back explicitly when any step fails, so nothing of a failed call stays open for a
// later commit.
#pragma once

#include <string>

#include "common/uLogEvent.h"
#include "common/uStoredProc.h"
#include "platform/rtl/Types.h"

namespace svc {

// ospAddEntriesToPackage: add_entries_to_package(P_PACKAGE_ID, P_DATETIME_CREATE).
const TStoredProcDecl& AddEntriesToPackageDecl();
// ospAddSendDateToPackage: ADD_SEND_DATE_TO_PACKAGE(P_PACKAGE_ID).
const TStoredProcDecl& AddSendDateToPackageDecl();

// True when the call was committed. A failure journals "Packageid = <id>" and the error's
// message as errors and rolls back; it raises only when the session has lost its connection
// (or the rollback fails), so that the caller's work ends there.
bool RegisterPackage(TStoredProc& proc, TDataSession* session, const std::string& packageId,
                     rtl::TDateTime created, const TLogEvent& onLog);
bool AddSendDate(TStoredProc& proc, TDataSession* session, const std::string& packageId,
                 const TLogEvent& onLog);

}  // namespace svc
