// Reading the request items, writing them through their procedures, and the coupon flow.
#include "import_service/uQelInRequests.h"

#include "import_service/uXmlPackageReader.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Numbers.h"

namespace svc {

// ---------------------------------------------------------------------------------------------
// Card requests

void TCardRequest::ReadCard(const TXmlItemReader& r) {
    Id = r.Int("Id");
    ClientId = r.Int("ClientId");
    ClientType = r.Int("ClientType");
    CardNumber = r.Text("CardNumber");
}

TProcCall& TCardRequest::Card(TProcCall& call) const {
    return call.Int("P_CLIENT_ID", ClientId)
        .Int("P_CLIENT_TYPE", ClientType)
        .Text("P_CARD_NUMBER", CardNumber);
}

void TRechargeRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ReadCard(r);
    Amount = r.Float("Amount");
    ServiceId = r.Int("ServiceId");
    DateCreate = r.DateTime("DateCreate");
}

void TRechargeRequest::Save(TStoredProc& proc, const char* idParam, TDataSession* session) const {
    Card(TProcCall(proc, session).Int(idParam, Id))
        .Int("P_SERVICE_ID", ServiceId)
        .Float("P_AMOUNT", Amount)
        .DateTime("P_DATE_OF", DateCreate)
        .Exec();
}

void TRechargeRequest::SaveToDB(TDataSession* session) {
    Save(*dm_.ospInsRechargeRequest, "P_DR_REQUEST_ID", session);
}

void TDebitRequest::SaveToDB(TDataSession* session) {
    Save(*dm_.ospInsDebitRequest, "P_DD_REQUEST_ID", session);
}

void TChangeLimitRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ReadCard(r);
    Amount = r.Float("Amount");
    ServiceId = r.Int("ServiceId");
    DateCreate = r.DateTime("DateCreate");
    DateBegin = r.DateTime("DateBegin");
    CurrentLimitType = r.Int("CurrentLimitType");
    CurrentLimitKind = r.Int("CurrentLimitKind");
    CurrentLimitAmount = r.Float("CurrentLimitAmount");
    CurrentLimitService = r.Text("CurrentLimitService");
}

void TChangeLimitRequest::SaveToDB(TDataSession* session) {
    Card(TProcCall(*dm_.ospInsChangeLimitRequest, session).Int("P_OIL_REQUEST_ID", Id))
        .Int("P_SERVICE_ID", ServiceId)
        .Float("P_AMOUNT", Amount)
        .DateTime("P_DATE_BEGIN", DateBegin)
        .DateTime("P_DATE_OF", DateCreate)
        .Float("P_CURRENT_LIMIT", CurrentLimitAmount)
        .Int("P_CURRENT_TYPE", CurrentLimitType)
        .Int("P_CURRENT_KIND", CurrentLimitKind)
        .Text("P_CURRENT_SERVICES", CurrentLimitService)
        .Exec();
}

void TBlockCardRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ReadCard(r);
    DateCreate = r.DateTime("DateCreate");
    Comment = r.Text("Comment");
}

void TBlockCardRequest::SaveToDB(TDataSession* session) {
    TProcCall call(*dm_.ospInsBlockCardRequest, session);
    Card(call.Int("P_LOST_CARD_REQ_ID", Id))
        .DateTime("P_DATE_CREATE", DateCreate)
        .Text("P_LOST_COMMENT", Comment)
        .Int("P_SEND_STATE", 0)
        .Exec();
    if (call.Out("P_RESULT").AsInteger() == -1)
        throw rtl::Exception("Block card requests not supported client_id= " + rtl::IntToStr(ClientId) +
                             " client_type = " + rtl::IntToStr(ClientType));
}

void TChangeHolderRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ReadCard(r);
    DateCreate = r.DateTime("DateCreate");
    NewHolderName = r.Text("NewHolderName");
}

void TChangeHolderRequest::SaveToDB(TDataSession* session) {
    Card(TProcCall(*dm_.ospInsChangeHolderRequest, session).Int("P_CH_CARD_HOLDER_REQ_ID", Id))
        .DateTime("P_DATE_CREATE", DateCreate)
        .Text("P_CARD_HOLDER_NAME", NewHolderName)
        .Int("P_SEND_STATE", 0)
        .Exec();
}

void TChangeClientState::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    Id = r.Int("Id");
    ClientId = r.Int("ClientId");
    ClientType = r.Int("ClientType");
    BeforeState = r.Int("BeforeState");
    NewState = r.Int("NewState");
}

void TChangeClientState::SaveToDB(TDataSession* session) {
    TProcCall(*dm_.ospInsChangeClientState, session)
        .Int("P_CLIENT_ID", ClientId)
        .Int("P_CLIENT_TYPE", ClientType)
        .Int("P_NEW_STATE", NewState)
        .Exec();
}

void TStatusRequest::FromXml(const TXmlNode& node) {
    Id = TXmlItemReader(node).Raw("Id");
}

void TStatusRequest::SaveToDB(TDataSession* session) {
    TProcCall(*dm_.ospStatusRequest, session).Text("P_PACKAGE_ID", Id).Exec();
}

void TPackageConfirm::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ID = r.Text("ID");
    PackagesReceipt = r.DateTime("PackagesReceipt");
    PackagesCount = r.Int("PackagesCount");
    PackagesState = r.Int("PackagesState");
}

void TPackageConfirm::SaveToDB(TDataSession* session) {
    TProcCall(*dm_.ospConfirmPackage, session)
        .Text("P_PACKAGE_ID", ID)
        .DateTime("P_DATETIME_RECEIPT", PackagesReceipt)
        .Int("P_STATE", PackagesState)
        .Exec();
}

namespace {

// The web side's limit types and the database's: 1 stays 1, 2 is 0, 3 is 2.
bool DbLimitType(int32_t webType, int32_t& dbType) {
    switch (webType) {
        case 1:
            dbType = 1;
            return true;
        case 2:
            dbType = 0;
            return true;
        case 3:
            dbType = 2;
            return true;
        default:
            return false;
    }
}

}  // namespace

void TOnlineLimitCardRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    ReadCard(r);
    DailyLimit = r.Float("DailyLimit");
    WeeklyLimit = r.Float("WeeklyLimit");
    MonthlyLimit = r.Float("MonthlyLimit");
    LimitType = r.Int("LimitType");
    int32_t unused;
    if (!DbLimitType(LimitType, unused))
        r.Fail("LimitType", "unknown limit type " + rtl::IntToStr(LimitType));
    ServiceId = r.Int("ServiceId");
    DateCreate = r.DateTime("DateCreate");
    IsIndLimit = r.Int("IsIndLimit");
}

void TOnlineLimitCardRequest::SaveToDB(TDataSession* session) {
    int32_t dbType = 0;
    if (!DbLimitType(LimitType, dbType))
        throw rtl::EConvertError("Element " + ElementName + ": unknown limit type " +
                                 rtl::IntToStr(LimitType));
    Card(TProcCall(*dm_.ospInsOnlineLimitCardRequest, session).Int("P_REQUEST_ID", Id))
        .Int("P_SERVICE_ID", ServiceId)
        .Float("P_DAILY_LIMIT", DailyLimit)
        .Float("P_WEEKLY_LIMIT", WeeklyLimit)
        .Float("P_MONTHLY_LIMIT", MonthlyLimit)
        .Int("P_LIMIT_TYPE", dbType)
        .DateTime("P_DATE_OF", DateCreate)
        .Int("P_IS_IND_LIMIT", IsIndLimit)
        .Exec();
}

// ---------------------------------------------------------------------------------------------
// Coupons

void TCouponRequestMain::ReadErrorCode(const TProcCall& call) {
    ErrorCode = call.Out("P_ERROR_CODE").AsInteger();
}

void TCouponRequestMain::SaveCouponRequest(TDataSession* session, const std::string& groupId,
                                           const std::string& vcGuid) {
    TProcCall(*dm_.ospInsCouponRequest, session)
        .Int("P_REQUEST_ID", Id)
        .Int("P_TYPE_REQUEST", TypeVCRequestId)
        .Text("P_GROUP_COUPONS_ID", groupId)
        .Text("P_VC_GUID", vcGuid)
        .Int("P_CLIENT_ID", ClientId)
        .Int("P_CLIENT_TYPE", ClientType)
        .DateTime("P_DATE_CREATE", DateCreate)
        .Exec();
}

void TCouponRequestMain::CheckSecCode(TDataSession* session) {
    TProcCall call(*dm_.ospCheckSecCode, session);
    call.Int("P_CLIENT_ID", ClientId)
        .Int("P_CLIENT_TYPE", ClientType)
        .Int("P_NUM_SECURITY_CODE", NumSecurityCode)
        .Text("P_SECURITY_CODE", SecurityCode)
        .Exec();
    if (call.Out("P_ERROR_CODE").IsNull())
        throw rtl::Exception("The security code check of coupon request " + rtl::IntToStr(Id) +
                             " gave no result");
    ReadErrorCode(call);
}

void TCouponRequestMain::SetRequestStatus(TDataSession* session) {
    TProcCall(*dm_.ospSetCouponRequestStatus, session)
        .Int("P_REQUEST_ID", Id)
        .Int("P_ERROR_CODE", ErrorCode)
        .Exec();
}

void TCreateCouponRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    Id = r.Int("Id");
    TypeVCRequestId = r.Int("TypeVCRequestId");
    if (TypeVCRequestId != vcCreate)
        r.Fail("TypeVCRequestId", rtl::IntToStr(TypeVCRequestId) + " is no coupon creation");
    GroupId = r.Text("GroupId");
    OrderId = r.Int("OrderId");
    ClientId = r.Int("ClientId");
    ClientType = r.Int("ClientType");
    TypeVCLimitID = r.Int("TypeVCLimitID");
    ServiceId = r.Int("ServiceId");
    Price = r.Float("Price");
    Nominal = r.Float("Nominal");
    DeclaredAmount = r.Int("DeclaredAmount");
    DateExpiration = r.DateTime("DateExpiration");
    HolderName = r.Text("HolderName");
    PhoneNumber = r.Text("PhoneNumber");
    Email = r.Text("Email");
    NumSecurityCode = r.Int("NumSecurityCode");
    SecurityCode = r.Text("SecurityCode");
    DateCreate = r.DateTime("DateCreate");
    ErrorCode = 0;
}

void TCreateCouponRequest::SaveToDB(TDataSession* session) {
    SaveCouponRequest(session, GroupId, "");
}

void TCreateCouponRequest::GenerateCoupons(TDataSession* session) {
    TProcCall call(*dm_.ospGenerateCoupons, session);
    call.Text("P_GROUP_COUPONS_ID", GroupId)
        .Int("P_CLIENT_ID", ClientId)
        .Int("P_CLIENT_TYPE", ClientType)
        .Int("P_SERVICE_ID", ServiceId)
        .Int("P_TYPE_VC_LIMIT", TypeVCLimitID)
        .Float("P_PRICE", Price)
        .Float("P_NOMINAL", Nominal)
        .Int("P_DECLARED_AMOUNT", DeclaredAmount)
        .DateTime("P_DATE_EXPIRATION", DateExpiration)
        .Text("P_NAME_HOLDER", HolderName)
        .Text("P_PHONE_NUMBER", PhoneNumber)
        .Text("P_EMAIL", Email)
        .Exec();
    ReadErrorCode(call);
}

void TCreateCouponRequest::RepeatBlockCoupons(TDataSession* session) {
    TProcCall(*dm_.ospRepeatBlockCoupons, session).Text("P_GROUP_COUPONS_ID", GroupId).Exec();
}

void TCouponRequest::FromXml(const TXmlNode& node) {
    const TXmlItemReader r(node);
    Id = r.Int("Id");
    TypeVCRequestId = r.Int("TypeVCRequestId");
    if (TypeVCRequestId != vcBlock && TypeVCRequestId != vcPrint)
        r.Fail("TypeVCRequestId", rtl::IntToStr(TypeVCRequestId) + " is neither a block nor a print request");
    GroupId = r.Text("GroupId");
    VCGuid = r.Text("VCGuid");
    NumSecurityCode = r.Int("NumSecurityCode");
    SecurityCode = r.Text("SecurityCode");
    ClientId = r.Int("ClientPetrolId");
    ClientType = r.Int("ClientTypePetrolId");
    DateCreate = r.DateTime("DateCreate");
    ErrorCode = 0;
}

void TCouponRequest::SaveToDB(TDataSession* session) {
    SaveCouponRequest(session, GroupId, VCGuid);
}

void TCouponRequest::BlockCoupons(TDataSession* session) {
    TProcCall call(*dm_.ospBlockCoupons, session);
    call.Text("P_GROUP_COUPONS_ID", GroupId).Text("P_VC_GUID", VCGuid).Exec();
    ReadErrorCode(call);
}

void TCouponRequest::PrintCoupons(TDataSession* session) {
    TProcCall call(*dm_.ospPrintCoupons, session);
    call.Text("P_GROUP_COUPONS_ID", GroupId).Text("P_VC_GUID", VCGuid).Exec();
    ReadErrorCode(call);
}

// ---------------------------------------------------------------------------------------------
// TCouponFlow

void TCouponFlow::Create(TCreateCouponRequest& request, TImportSession* session) {
    const TOrderKey key{request.OrderId, request.ClientId, request.ClientType, request.NumSecurityCode,
                        request.SecurityCode};
    if (const auto found = checked_.find(key); found != checked_.end()) {
        request.ErrorCode = found->second;
    } else {
        request.CheckSecCode(session);
        checked_.emplace(key, request.ErrorCode);
    }
    if (request.ErrorCode != 0) return;
    session->Savepoint(SavepointName);
    request.GenerateCoupons(session);
    request.RepeatBlockCoupons(session);
    if (request.ErrorCode > 0) session->RollbackToSavepoint(SavepointName);
}

void TCouponFlow::Run(TCouponRequestMain& request, TImportSession* session) {
    if (auto* create = dynamic_cast<TCreateCouponRequest*>(&request)) {
        Create(*create, session);
    } else if (auto* coupon = dynamic_cast<TCouponRequest*>(&request)) {
        if (coupon->TypeVCRequestId == TCouponRequestMain::vcBlock) {
            coupon->BlockCoupons(session);
        } else if (coupon->TypeVCRequestId == TCouponRequestMain::vcPrint) {
            coupon->CheckSecCode(session);
            if (coupon->ErrorCode == 0) coupon->PrintCoupons(session);
        }
    }
    request.SetRequestStatus(session);
}

}  // namespace svc
