// TOraTransaction: the Oracle settings of a transaction (name, isolation, rollback segment,
// time-outs) passed to the driver transaction.
#include <typeinfo>

#include "dataaccess/components/Ora.h"

namespace dac {

TOraTransaction::TOraTransaction(rtl::TComponent* owner) : TDATransaction(owner) {
    DefaultCloseAction = taCommit;
}

TCRTransactionClass TOraTransaction::GetTransactionClass() {
    if (GlobalCoordinator() == gcMTS) return TCRTransactionClass::Of<TMTSTransaction>();
    // The Oracle driver connection knows its transaction class.
    TCustomDAConnection* c = DefaultConnection();
    if (c && c->GetIConnection()) return c->GetIConnection()->GetInternalTransactionClass();
    return TOCIConnection().GetInternalTransactionClass();
}

void TOraTransaction::SetDriverTransaction(TCRTransaction* transaction) {
    TDATransaction::SetDriverTransaction(transaction);
    if (!transaction || GlobalCoordinator() != gcInternal) return;
    PassProp(prTransactionName, transactionName_);
    PassProp(prRollbackSegment, rollbackSegment_);
    PassProp(prResume, Resume);
    PassProp(prInactiveTimeOut, inactiveTimeOut_);
    PassProp(prResumeTimeOut, resumeTimeOut_);
}

void TOraTransaction::PassProp(int prop, const rtl::Variant& value) {
    TCRTransaction* t = GetITransaction();
    if (!t || GlobalCoordinator() != gcInternal) return;
    // A plain driver transaction has no Oracle settings to take.
    if (typeid(*t) == typeid(TCRTransaction)) return;
    t->SetProp(prop, value);
}

void TOraTransaction::StartTransaction() {
    if (Resume && GlobalCoordinator() == gcMTS)
        throw rtl::Exception("Detach/Resume operations are not supported with MTS");
    if (GlobalCoordinator() == gcInternal && Resume) PassProp(prResume, Resume);
    TDATransaction::StartTransaction();
}

bool TOraTransaction::GetActive(bool checkServer) {
    TCRTransaction* t = GetITransaction();
    if (!t) return false;
    const bool was = t->GetInTransaction();
    const bool now = t->VerifyInTransaction(checkServer);
    if (was && !now) Reset();
    return now;
}

TOraIsolationLevel TOraTransaction::IsolationLevel() const {
    if (readOnly_) return TOraIsolationLevel::ilReadOnly;
    if (isolationByte_ == ilSerializable) return TOraIsolationLevel::ilSerializable;
    return TOraIsolationLevel::ilReadCommitted;
}

void TOraTransaction::SetIsolationLevel(TOraIsolationLevel value) {
    CheckInactive();
    isolationByte_ = value == TOraIsolationLevel::ilSerializable ? ilSerializable : ilReadCommitted;
    readOnly_ = value == TOraIsolationLevel::ilReadOnly;
    if (GetITransaction()) {
        GetITransaction()->SetProp(prIsolationLevel, static_cast<int32_t>(isolationByte_));
        GetITransaction()->SetProp(prReadOnly, readOnly_);
    }
}

void TOraTransaction::SetTransactionName(const AnsiString& value) {
    CheckInactive();
    transactionName_ = value;
    PassProp(prTransactionName, value);
}

void TOraTransaction::SetRollbackSegment(const AnsiString& value) {
    CheckInactive();
    rollbackSegment_ = value;
    PassProp(prRollbackSegment, value);
}

void TOraTransaction::SetInactiveTimeOut(int value) {
    CheckInactive();
    inactiveTimeOut_ = value;
    PassProp(prInactiveTimeOut, value);
}

void TOraTransaction::SetResumeTimeOut(int value) {
    resumeTimeOut_ = value;
    PassProp(prResumeTimeOut, value);
}

}  // namespace dac
