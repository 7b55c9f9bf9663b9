// The import data module: the stored procedures through which a request package reaches the
// Qel database, the query for the own issuer, and the session operations the import needs.
//
// The components are declared as data (MainDataModuleProcs, SelfEmitentQuery); the module
// makes one object per declaration through a component factory: the data-access components in
// the program, recording fakes in tests. No component carries a session of its own: every call
// sets the session it is given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uStoredProc.h"
#include "platform/rtl/Objects.h"

namespace svc {

// A session with the savepoints of the coupon flow.
class TImportSession : public TDataSession {
public:
    virtual void Savepoint(const std::string& name) = 0;
    virtual void RollbackToSavepoint(const std::string& name) = 0;
};

// The declarations of the stored-procedure components, in declaration order.
const std::vector<TStoredProcDecl>& MainDataModuleProcs();
// The declaration of qrGetSelfEmitent.
const TQueryDecl& SelfEmitentQuery();

class TdmMainDataModule : public rtl::TObject {
public:
    explicit TdmMainDataModule(TComponentFactory& factory);
    ~TdmMainDataModule() override;

    std::unique_ptr<TDataQuery> qrGetSelfEmitent;
    // Package registration and state.
    std::unique_ptr<TStoredProc> ospGetPackageState;
    std::unique_ptr<TStoredProc> ospAddNewPackage;
    std::unique_ptr<TStoredProc> ospSetStatusPackageImported;
    // Requests.
    std::unique_ptr<TStoredProc> ospInsRechargeRequest;
    std::unique_ptr<TStoredProc> ospInsDebitRequest;
    std::unique_ptr<TStoredProc> ospInsChangeLimitRequest;
    std::unique_ptr<TStoredProc> ospInsBlockCardRequest;
    std::unique_ptr<TStoredProc> ospInsChangeHolderRequest;
    std::unique_ptr<TStoredProc> ospInsChangeClientState;
    std::unique_ptr<TStoredProc> ospStatusRequest;
    std::unique_ptr<TStoredProc> ospConfirmPackage;
    std::unique_ptr<TStoredProc> ospInsOnlineLimitCardRequest;
    std::unique_ptr<TStoredProc> ospInsCouponRequest;
    // The coupon flow.
    std::unique_ptr<TStoredProc> ospCheckSecCode;
    std::unique_ptr<TStoredProc> ospGenerateCoupons;
    std::unique_ptr<TStoredProc> ospRepeatBlockCoupons;
    std::unique_ptr<TStoredProc> ospBlockCoupons;
    std::unique_ptr<TStoredProc> ospPrintCoupons;
    std::unique_ptr<TStoredProc> ospSetCouponRequestStatus;

    // The own issuer and branch: columns id_emitent and id_filial of the view's first row.
    // Raises when the view has no row or either value is null, since every package would then
    // be taken for another issuer's.
    void GetSelfEmitent(TDataSession* session, int32_t& emitentId, int32_t& filialId);
};

}  // namespace svc
