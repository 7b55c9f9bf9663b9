// The import data module's component declarations and the own-issuer query.
#include "import_service/udmMainDataModule.h"

#include <utility>

#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

namespace {

TProcParamDecl F(std::string name) {
    return {std::move(name), db::ftFloat, db::ptInput, 0, false};
}
TProcParamDecl FDefault(std::string name) {
    return {std::move(name), db::ftFloat, db::ptInput, 0, true};
}
TProcParamDecl FOut(std::string name) {
    return {std::move(name), db::ftFloat, db::ptOutput, 0, false};
}
TProcParamDecl S(std::string name, int size = 0) {
    return {std::move(name), db::ftString, db::ptInput, size, false};
}
TProcParamDecl D(std::string name) {
    return {std::move(name), db::ftDateTime, db::ptInput, 0, false};
}

// A component whose procedure name is its call without the parameter list and whose block is
// the call between "begin" and "end;".
TStoredProcDecl Proc(std::string component, const std::string& call, std::vector<TProcParamDecl> params) {
    return {std::move(component),
            call.substr(0, call.find('(')),
            {"begin", "  " + call, "end;"},
            std::move(params)};
}

std::vector<TStoredProcDecl> MakeProcs() {
    const std::string pack = "ZUV_EXPORT_OUT_PACK.";
    return {
        // Whether a package was imported before: a package delivered again must not write its
        // requests twice.
        Proc("ospGetPackageState", pack + "get_in_package_state(:P_PACKAGE_ID, :P_STATE);",
             {S("P_PACKAGE_ID", 38), FOut("P_STATE")}),
        Proc("ospAddNewPackage", pack + "add_new_package(:P_PACKAGE_ID, :P_DATETIME_CREATE);",
             {S("P_PACKAGE_ID", 38), D("P_DATETIME_CREATE")}),
        Proc("ospSetStatusPackageImported", pack + "set_status_imported(:P_PACKAGE_ID);",
             {S("P_PACKAGE_ID", 38)}),
        Proc("ospInsRechargeRequest",
             pack + "p_set_dr_request(:P_DR_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, "
                    ":P_SERVICE_ID, :P_AMOUNT, :P_DATE_OF);",
             {F("P_DR_REQUEST_ID"), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_CARD_NUMBER"),
              F("P_SERVICE_ID"), F("P_AMOUNT"), D("P_DATE_OF")}),
        Proc("ospInsDebitRequest",
             pack + "p_set_dd_request(:P_DD_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, "
                    ":P_SERVICE_ID, :P_AMOUNT, :P_DATE_OF);",
             {F("P_DD_REQUEST_ID"), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_CARD_NUMBER"),
              F("P_SERVICE_ID"), F("P_AMOUNT"), D("P_DATE_OF")}),
        Proc("ospInsChangeLimitRequest",
             pack + "p_set_oil_request(:P_OIL_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, "
                    ":P_SERVICE_ID, :P_AMOUNT, :P_DATE_BEGIN, :P_DATE_OF, :P_CURRENT_LIMIT, :P_CURRENT_TYPE, "
                    ":P_CURRENT_KIND, :P_CURRENT_SERVICES);",
             {F("P_OIL_REQUEST_ID"), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_CARD_NUMBER"),
              F("P_SERVICE_ID"), F("P_AMOUNT"), D("P_DATE_BEGIN"), D("P_DATE_OF"), F("P_CURRENT_LIMIT"),
              F("P_CURRENT_TYPE"), F("P_CURRENT_KIND"), S("P_CURRENT_SERVICES")}),
        Proc(
            "ospInsBlockCardRequest",
            pack +
                "p_set_lost_card_request(:P_LOST_CARD_REQ_ID, :P_LOST_COMMENT, :P_CLIENT_ID, :P_CLIENT_TYPE, "
                ":P_CARD_NUMBER, :P_DATE_CREATE, :P_SEND_STATE, :P_RESULT);",
            {F("P_LOST_CARD_REQ_ID"), S("P_LOST_COMMENT", 40), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"),
             S("P_CARD_NUMBER", 12), D("P_DATE_CREATE"), FDefault("P_SEND_STATE"), FOut("P_RESULT")}),
        Proc("ospInsChangeHolderRequest",
             pack + "p_set_ch_holder_request(:P_CH_CARD_HOLDER_REQ_ID, :P_CARD_HOLDER_NAME, :P_CLIENT_ID, "
                    ":P_CLIENT_TYPE, :P_CARD_NUMBER, :P_DATE_CREATE, :P_SEND_STATE);",
             {F("P_CH_CARD_HOLDER_REQ_ID"), S("P_CARD_HOLDER_NAME", 40), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"),
              S("P_CARD_NUMBER", 12), D("P_DATE_CREATE"), FDefault("P_SEND_STATE")}),
        Proc("ospInsChangeClientState",
             pack + "P_SET_CLIENT_STATE(:P_CLIENT_ID, :P_CLIENT_TYPE, :P_NEW_STATE);",
             {F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_NEW_STATE")}),
        Proc("ospStatusRequest", pack + "status_package_request(:P_PACKAGE_ID);", {S("P_PACKAGE_ID", 38)}),
        Proc("ospConfirmPackage",
             "zuv_export_out_pack.confirm_package(:P_PACKAGE_ID, :P_DATETIME_RECEIPT, :P_STATE);",
             {S("P_PACKAGE_ID", 38), D("P_DATETIME_RECEIPT"), F("P_STATE")}),
        Proc("ospInsOnlineLimitCardRequest",
             pack +
                 "p_set_onl_limit_card_request(:P_REQUEST_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_CARD_NUMBER, "
                 ":P_SERVICE_ID, :P_DAILY_LIMIT, :P_WEEKLY_LIMIT, :P_MONTHLY_LIMIT, :P_LIMIT_TYPE, "
                 ":P_DATE_OF, "
                 ":P_IS_IND_LIMIT);",
             {F("P_REQUEST_ID"), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_CARD_NUMBER"), F("P_SERVICE_ID"),
              F("P_DAILY_LIMIT"), F("P_WEEKLY_LIMIT"), F("P_MONTHLY_LIMIT"), F("P_LIMIT_TYPE"),
              D("P_DATE_OF"), F("P_IS_IND_LIMIT")}),
        Proc("ospInsCouponRequest",
             pack + "p_set_coupon_request(:P_REQUEST_ID, :P_TYPE_REQUEST, :P_GROUP_COUPONS_ID, :P_VC_GUID, "
                    ":P_CLIENT_ID, :P_CLIENT_TYPE, :P_DATE_CREATE);",
             {F("P_REQUEST_ID"), F("P_TYPE_REQUEST"), S("P_GROUP_COUPONS_ID"), S("P_VC_GUID"),
              F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), D("P_DATE_CREATE")}),
        Proc("ospCheckSecCode",
             pack + "check_sec_code(:P_CLIENT_ID, :P_CLIENT_TYPE, :P_NUM_SECURITY_CODE, :P_SECURITY_CODE, "
                    ":P_ERROR_CODE);",
             {F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_NUM_SECURITY_CODE"), S("P_SECURITY_CODE"),
              FOut("P_ERROR_CODE")}),
        Proc("ospGenerateCoupons",
             pack + "generate_coupons(:P_GROUP_COUPONS_ID, :P_CLIENT_ID, :P_CLIENT_TYPE, :P_SERVICE_ID, "
                    ":P_TYPE_VC_LIMIT, :P_PRICE, :P_NOMINAL, :P_DECLARED_AMOUNT, :P_DATE_EXPIRATION, "
                    ":P_NAME_HOLDER, "
                    ":P_PHONE_NUMBER, :P_EMAIL, :P_ERROR_CODE);",
             {S("P_GROUP_COUPONS_ID"), F("P_CLIENT_ID"), F("P_CLIENT_TYPE"), F("P_SERVICE_ID"),
              F("P_TYPE_VC_LIMIT"), F("P_PRICE"), F("P_NOMINAL"), F("P_DECLARED_AMOUNT"),
              D("P_DATE_EXPIRATION"), S("P_NAME_HOLDER"), S("P_PHONE_NUMBER"), S("P_EMAIL"),
              FOut("P_ERROR_CODE")}),
        Proc("ospRepeatBlockCoupons", pack + "repeat_block_coupons(:P_GROUP_COUPONS_ID);",
             {S("P_GROUP_COUPONS_ID")}),
        Proc("ospBlockCoupons", pack + "block_coupons(:P_GROUP_COUPONS_ID, :P_VC_GUID, :P_ERROR_CODE);",
             {S("P_GROUP_COUPONS_ID"), S("P_VC_GUID"), FOut("P_ERROR_CODE")}),
        Proc("ospPrintCoupons", pack + "print_coupons(:P_GROUP_COUPONS_ID, :P_VC_GUID, :P_ERROR_CODE);",
             {S("P_GROUP_COUPONS_ID"), S("P_VC_GUID"), FOut("P_ERROR_CODE")}),
        Proc("ospSetCouponRequestStatus", pack + "set_vc_request_status(:P_REQUEST_ID, :P_ERROR_CODE);",
             {F("P_REQUEST_ID"), F("P_ERROR_CODE")}),
    };
}

}  // namespace

const std::vector<TStoredProcDecl>& MainDataModuleProcs() {
    static const std::vector<TStoredProcDecl> procs = MakeProcs();
    return procs;
}

const TQueryDecl& SelfEmitentQuery() {
    static const TQueryDecl query{"qrGetSelfEmitent", "select * from v_zuv_emitent_params t"};
    return query;
}

TdmMainDataModule::TdmMainDataModule(TComponentFactory& factory) {
    const std::pair<const char*, std::unique_ptr<TStoredProc> TdmMainDataModule::*> members[] = {
        {"ospGetPackageState", &TdmMainDataModule::ospGetPackageState},
        {"ospAddNewPackage", &TdmMainDataModule::ospAddNewPackage},
        {"ospSetStatusPackageImported", &TdmMainDataModule::ospSetStatusPackageImported},
        {"ospInsRechargeRequest", &TdmMainDataModule::ospInsRechargeRequest},
        {"ospInsDebitRequest", &TdmMainDataModule::ospInsDebitRequest},
        {"ospInsChangeLimitRequest", &TdmMainDataModule::ospInsChangeLimitRequest},
        {"ospInsBlockCardRequest", &TdmMainDataModule::ospInsBlockCardRequest},
        {"ospInsChangeHolderRequest", &TdmMainDataModule::ospInsChangeHolderRequest},
        {"ospInsChangeClientState", &TdmMainDataModule::ospInsChangeClientState},
        {"ospStatusRequest", &TdmMainDataModule::ospStatusRequest},
        {"ospConfirmPackage", &TdmMainDataModule::ospConfirmPackage},
        {"ospInsOnlineLimitCardRequest", &TdmMainDataModule::ospInsOnlineLimitCardRequest},
        {"ospInsCouponRequest", &TdmMainDataModule::ospInsCouponRequest},
        {"ospCheckSecCode", &TdmMainDataModule::ospCheckSecCode},
        {"ospGenerateCoupons", &TdmMainDataModule::ospGenerateCoupons},
        {"ospRepeatBlockCoupons", &TdmMainDataModule::ospRepeatBlockCoupons},
        {"ospBlockCoupons", &TdmMainDataModule::ospBlockCoupons},
        {"ospPrintCoupons", &TdmMainDataModule::ospPrintCoupons},
        {"ospSetCouponRequestStatus", &TdmMainDataModule::ospSetCouponRequestStatus},
    };
    qrGetSelfEmitent = factory.CreateQuery(SelfEmitentQuery());
    for (const TStoredProcDecl& decl : MainDataModuleProcs())
        for (const auto& [name, member] : members)
            if (decl.ComponentName == name) this->*member = factory.CreateStoredProc(decl);
    for (const auto& [name, member] : members)
        rtl::Assert(this->*member != nullptr, std::string("No component made for ") + name);
}

TdmMainDataModule::~TdmMainDataModule() = default;

void TdmMainDataModule::GetSelfEmitent(TDataSession* session, int32_t& emitentId, int32_t& filialId) {
    if (qrGetSelfEmitent->Active()) qrGetSelfEmitent->Close();
    qrGetSelfEmitent->SetSession(session);
    db::TDataSet& data = qrGetSelfEmitent->Open();
    if (data.IsEmpty())
        throw rtl::Exception("The view v_zuv_emitent_params has no row: the own issuer is unknown");
    db::TField* emitent = data.FieldByName("id_emitent");
    db::TField* filial = data.FieldByName("id_filial");
    if (emitent->IsNull() || filial->IsNull())
        throw rtl::Exception("The view v_zuv_emitent_params gives no issuer or no branch");
    emitentId = emitent->AsInteger();
    filialId = filial->AsInteger();
}

}  // namespace svc
