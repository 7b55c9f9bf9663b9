// The web portal's requests: one class per item kind of a request package. FromXml reads an
// item (every field must be there and convert, or it raises); SaveToDB writes it through its
// stored procedure of the import data module. The two coupon classes also drive the coupon flow
// (TCouponFlow), with a savepoint around coupon generation.
//
// Every SaveToDB clears all values of its procedure before assigning, so that nothing of the
// previous item of a list goes out with this one.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "common/uDataFiles.h"
#include "import_service/uXmlPackageReader.h"
#include "import_service/udmMainDataModule.h"

namespace svc {

// Base of the request classes: the data module whose procedures they call.
class TRequest : public TPersistentObject {
public:
    TRequest(TdmMainDataModule& dm, std::string elementName) : dm_(dm) {
        ElementName = std::move(elementName);
    }

protected:
    TdmMainDataModule& dm_;
};

// The requests about one card of a client.
class TCardRequest : public TRequest {
public:
    int32_t Id = 0, ClientId = 0, ClientType = 0;
    std::string CardNumber;
    rtl::TDateTime DateCreate = 0;

protected:
    using TRequest::TRequest;
    // Id, ClientId, ClientType and CardNumber, the fields every card request starts with.
    void ReadCard(const TXmlItemReader& r);
    // P_CLIENT_ID, P_CLIENT_TYPE and P_CARD_NUMBER.
    TProcCall& Card(TProcCall& call) const;
};

// "RECHARGE"
class TRechargeRequest : public TCardRequest {
public:
    explicit TRechargeRequest(TdmMainDataModule& dm) : TCardRequest(dm, "RECHARGE") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    double Amount = 0;
    int32_t ServiceId = 0;

protected:
    TRechargeRequest(TdmMainDataModule& dm, std::string elementName)
        : TCardRequest(dm, std::move(elementName)) {}
    void Save(TStoredProc& proc, const char* idParam, TDataSession* session) const;
};

// "DEBIT": the fields of a recharge, another procedure.
class TDebitRequest : public TRechargeRequest {
public:
    explicit TDebitRequest(TdmMainDataModule& dm) : TRechargeRequest(dm, "DEBIT") {}
    void SaveToDB(TDataSession* session) override;
};

// "CHANGE_LIMIT"
class TChangeLimitRequest : public TCardRequest {
public:
    explicit TChangeLimitRequest(TdmMainDataModule& dm) : TCardRequest(dm, "CHANGE_LIMIT") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    double Amount = 0;
    int32_t ServiceId = 0;
    rtl::TDateTime DateBegin = 0;
    int32_t CurrentLimitType = 0, CurrentLimitKind = 0;
    double CurrentLimitAmount = 0;
    std::string CurrentLimitService;
};

// "BLOCK_CARD". SaveToDB raises when the procedure refuses the request (P_RESULT -1).
class TBlockCardRequest : public TCardRequest {
public:
    explicit TBlockCardRequest(TdmMainDataModule& dm) : TCardRequest(dm, "BLOCK_CARD") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    std::string Comment;
};

// "CHANGE_HOLDER"
class TChangeHolderRequest : public TCardRequest {
public:
    explicit TChangeHolderRequest(TdmMainDataModule& dm) : TCardRequest(dm, "CHANGE_HOLDER") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    std::string NewHolderName;
};

// "CHANGE_CLIENT_STATE" (Id and BeforeState are read, not passed on).
class TChangeClientState : public TRequest {
public:
    explicit TChangeClientState(TdmMainDataModule& dm) : TRequest(dm, "CHANGE_CLIENT_STATE") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    int32_t Id = 0, ClientId = 0, ClientType = 0, BeforeState = 0, NewState = 0;
};

// "STATUS_REQUEST": Id is a package id, taken as the document's bytes.
class TStatusRequest : public TRequest {
public:
    explicit TStatusRequest(TdmMainDataModule& dm) : TRequest(dm, "STATUS_REQUEST") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    std::string Id;
};

// "PACKAGE_CONFIRM" (PackagesCount is read, not passed on).
class TPackageConfirm : public TRequest {
public:
    explicit TPackageConfirm(TdmMainDataModule& dm) : TRequest(dm, "PACKAGE_CONFIRM") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    std::string ID;
    rtl::TDateTime PackagesReceipt = 0;
    int32_t PackagesCount = 0, PackagesState = 0;
};

// "CHANGE_CARD_ONLINE_LIMIT". LimitType must be 1, 2 or 3: the database knows them as 1, 0, 2.
class TOnlineLimitCardRequest : public TCardRequest {
public:
    explicit TOnlineLimitCardRequest(TdmMainDataModule& dm) : TCardRequest(dm, "CHANGE_CARD_ONLINE_LIMIT") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    double DailyLimit = 0, WeeklyLimit = 0, MonthlyLimit = 0;
    int32_t LimitType = 0, ServiceId = 0;
    int32_t IsIndLimit = 0;
};

// The fields both coupon classes share, and the coupon operations. ErrorCode is not read from
// the document: FromXml sets it to 0 and the operations with an error code overwrite it.
class TCouponRequestMain : public TRequest {
public:
    int32_t Id = 0, TypeVCRequestId = 0, ClientId = 0, ClientType = 0, NumSecurityCode = 0;
    std::string SecurityCode;
    rtl::TDateTime DateCreate = 0;
    int32_t ErrorCode = 0;

    // The request's kind of work: 1 creation, 2 blocking, 3 printing.
    enum { vcCreate = 1, vcBlock = 2, vcPrint = 3 };

    // Raises when check_sec_code gives no result: that is never a passed check.
    void CheckSecCode(TDataSession* session);
    void SetRequestStatus(TDataSession* session);

protected:
    using TRequest::TRequest;
    // Stores P_ERROR_CODE of the call in ErrorCode; a null value counts as 0.
    void ReadErrorCode(const TProcCall& call);
    void SaveCouponRequest(TDataSession* session, const std::string& groupId, const std::string& vcGuid);
};

// "CREATE_COUPON": TypeVCRequestId must be 1.
class TCreateCouponRequest : public TCouponRequestMain {
public:
    explicit TCreateCouponRequest(TdmMainDataModule& dm) : TCouponRequestMain(dm, "CREATE_COUPON") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    void GenerateCoupons(TDataSession* session);
    void RepeatBlockCoupons(TDataSession* session);

    std::string GroupId;
    int32_t OrderId = 0, TypeVCLimitID = 0, ServiceId = 0;
    double Price = 0, Nominal = 0;
    int32_t DeclaredAmount = 0;
    rtl::TDateTime DateExpiration = 0;
    std::string HolderName, PhoneNumber, Email;
};

// "COUPON_REQUEST": TypeVCRequestId must be 2 or 3. The client's fields are ClientPetrolId and
// ClientTypePetrolId.
class TCouponRequest : public TCouponRequestMain {
public:
    explicit TCouponRequest(TdmMainDataModule& dm) : TCouponRequestMain(dm, "COUPON_REQUEST") {}
    void FromXml(const TXmlNode& node) override;
    void SaveToDB(TDataSession* session) override;

    void BlockCoupons(TDataSession* session);
    void PrintCoupons(TDataSession* session);

    std::string GroupId, VCGuid;
};

// The coupon flow of one package, run after each coupon item's SaveToDB.
//
// The security code of a creation order is checked once per order and credentials: the result
// is kept for the package, so every later item of the same order gets the same verdict, and the
// first item of any order (OrderId 0 as well) is checked. An item that names the same order with
// other credentials is checked on its own.
class TCouponFlow {
public:
    void Run(TCouponRequestMain& request, TImportSession* session);

    static constexpr const char* SavepointName = "Before_generate_coupons";

private:
    void Create(TCreateCouponRequest& request, TImportSession* session);
    using TOrderKey = std::tuple<int32_t, int32_t, int32_t, int32_t, std::string>;
    std::map<TOrderKey, int32_t> checked_;
};

}  // namespace svc
