// The descriptor tables of the export's data classes and the table of the forty record kinds.
//
// A class table has one row per child element of the item, in writing order: the element, its
// value form, the cursor column it is read from (for a class that two kinds share, the column
// of the first and of the second kind; null where that kind does not read it) and, where the
// column is not read as it stands, the conversion.
#include "export_service/udmQelOutDataObject.h"

namespace svc {

namespace {

constexpr TValueForm kInteger = TValueForm::Integer;
constexpr TValueForm kAmount = TValueForm::Amount;
constexpr TValueForm kMeasure = TValueForm::Measure;
constexpr TValueForm kDateTime = TValueForm::DateTime;
constexpr TValueForm kDate = TValueForm::Date;
constexpr TValueForm kText = TValueForm::Text;
constexpr TValueForm kRaw = TValueForm::Raw;

// NEW_CLIENT (kinds 0, 1)
const TFieldSpec kNewClientFields[] = {
    {"ID", kInteger, {"client_id", "client_id"}},
    {"Type", kInteger, {"client_type", "client_type"}},
    {"Name", kText, {"client_name", "client_name"}},
    {"RptName", kText, {"name_for_report", "name_for_report"}},
    {"EMail", kText, {"e_mail", "e_mail"}},
    {"InBL", kInteger, {"in_black_list", "in_black_list"}},
    {"MaxCrdNum", kRaw, {"max_gr_card_num", "max_gr_card_num"}},
    {"SLALFlag", kInteger, {"sign_dayli_limit", "sign_dayli_limit"}},
    {"SLINFlag", kInteger, {"sign_dayli_inform", "sign_dayli_inform"}},
    {"MLALFlag", kInteger, {"sign_monthly_limit", "sign_monthly_limit"}},
    {"MLINFlag", kInteger, {"sign_monthly_inform", "sign_monthly_inform"}},
    {"Phone", kText, {"phone", "phone"}},
    {"TrnCount", kInteger, {"trn_count", "trn_count"}},
};

// CLIENT_DATA (kinds 10, 11)
const TFieldSpec kClientForDataFileFields[] = {
    {"ID", kInteger, {"cln_id", "cln_id"}},
    {"Type", kInteger, {"cln_type", "cln_type"}},
    {"Name", kText, {"cln_name", "cln_name"}},
    {"RptName", kText, {"name_for_report", "name_for_report"}},
    {"EMail", kText, {"cln_email", "cln_email"}},
    {"InBL", kInteger, {"cln_bl", "cln_bl"}},
    {"MaxCrdNum", kRaw, {nullptr, nullptr}},
    {"SLALFlag", kInteger, {"sl_al_debtor_sign", "sl_al_debtor_sign"}},
    {"SLINFlag", kInteger, {"sl_in_debtor_sign", "sl_in_debtor_sign"}},
    {"MLALFlag", kInteger, {"ml_al_debtor_sign", "ml_al_debtor_sign"}},
    {"MLINFlag", kInteger, {"ml_in_debtor_sign", "ml_in_debtor_sign"}},
    {"OnlClientId", kRaw, {"onl_client_id", nullptr}},
    {"Phone", kText, {"phone", "cln_phone"}},
    {"WLALFlag", kInteger, {"wl_al_debtor_sign", nullptr}},
    {"WLINFlag", kInteger, {"wl_in_debtor_sign", nullptr}},
    {"INN", kText, {"inn", nullptr}},
    {"KPP", kText, {"kpp", nullptr}},
    {"Address", kText, {"address", "Address"}},
    {"FactAddress", kText, {"fact_address", nullptr}},
    {"Account", kText, {"account", nullptr}},
    {"BankName", kText, {"bank_name", nullptr}},
    {"CorrAccount", kText, {"corr_account", nullptr}},
    {"BIK", kText, {"bik", nullptr}},
    {"Fax", kText, {"fax", "fax"}},
    {"ConsigneeID", kInteger, {"consignee_id", nullptr}},
    {"BuyerFirmID", kInteger, {"buyer_firm_id", nullptr}},
    {"ContractDate", kDateTime, {"contract_date", nullptr}},
    {"ContractNum", kText, {"contract_num", nullptr}},
    {"DirectorFIO", kText, {"director_fio", nullptr}},
    {"DirectorPost", kText, {"director_post", nullptr}},
    {"ControllerFIO", kText, {"controller_fio", nullptr}},
    {"WarrantNum", kText, {"warrant_number", nullptr}},
    {"WarrantDate", kDateTime, {"warrant_date", nullptr}},
    {"ManagerEmail", kText, {"manager_email", nullptr}},
    {"ClientTarif", kInteger, {"client_tarif", nullptr}},
};

// HOLDER (kinds 12, 13)
const TFieldSpec kHolderFields[] = {
    {"ID", kInteger, {"client_id", "client_id"}},
    {"Type", kInteger, {"client_type", "client_type"}},
    {"HolderName", kText, {"holder", "holder"}},
};

// AD_CLIENT_PARAMS (kind 14)
const TFieldSpec kAdClientParamsFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Ad_birth", kDate, {"birth"}},
    {"Ad_sex", kRaw, {"sex"}},
};

// ACCOUNT (kind 15)
const TFieldSpec kAccountFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"ServiceID", kInteger, {"acc_srv_id"}},
    {"Balance", kAmount, {"acc_balance"}},
    {"DLInformBarrier", kAmount, {"dl_inform_barrier"}},
    {"DLAlarmBarrier", kAmount, {"dl_alarm_barrier"}},
    {"MLInformBarrier", kAmount, {"ml_inform_barrier"}},
    {"MLAlarmBarrier", kAmount, {"ml_alarm_barrier"}},
    {"TimeCredit", kAmount, {"acc_time_credit"}},
    {"Overdraft", kAmount, {"acc_overdraft"}},
    {"LimitOverdraft", kAmount, {"acc_limit_overdraft"}},
    {"VCSum", kAmount, {"acc_vc_sum"}},
};

// CARD_QEL (kind 16)
const TFieldSpec kCardQelFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Num", kRaw, {"CRD_GRAPHNUM"}},
    {"State", kInteger, {"CRD_STATE"}},
    {"CardHolder", kText, {"CRD_HOLDER"}},
    {"Bonus_Exists", kInteger, {"PRS_BNS_EXIST"}},
    {"BonusSize", kAmount, {"PRS_BONUS_SIZE"}},
    {"Bonus_Quota", kAmount, {"PRS_BONUS_QUOTA"}},
    {"Max_Consumption", kMeasure, {"MAX_CONSUMPTION"}},
    {"PetrolTank", kMeasure, {"PETROLTANK"}},
    {"IsVC", kMeasure, {"is_vc_card"}, TColumnRead::Integer},
};

// CARD_DOLM (kind 17)
const TFieldSpec kCardDolmFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Num", kRaw, {"CRD_GRAPHNUM"}},
    {"State", kInteger, {"CRD_STATE"}},
    {"CardHolder", kText, {"CRD_HOLDER"}},
    {"Dolm_Type", kInteger, {"DOLM_TYPE"}},
    {"Current_Bonus", kAmount, {"CURRENT_BONUS"}},
    {"Max_Bonus", kAmount, {"MAX_BONUS"}},
    {"Old_Bonus", kAmount, {"OLD_BONUS"}},
    {"Discont_Percent", kMeasure, {"DISCONT_PERCENT"}},
    {"Expiry_Date", kDateTime, {"EXPIRY_DATE"}},
    {"Ad_bonus", kAmount, {"Ad_bonus"}},
    {"Ad_begin_of_period", kDateTime, {"Ad_begin_of_period"}},
};

// PURSE (kind 18)
const TFieldSpec kPurseFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Card_Number", kRaw, {"gr_nomer"}},
    {"ServiceID", kInteger, {"prs_srv_id"}},
    {"Balance", kAmount, {"prs_balance"}},
    {"BalanceQuota", kAmount, {"prs_balance_quota"}},
    {"Quota", kAmount, {"prs_quota"}},
    {"Quota_Type", kInteger, {"prs_quota_type"}},
    {"Quota_Kind", kInteger, {"prs_quota_kind"}},
    {"Schema_Number", kInteger, {"prs_schema_num"}},
};

// MIFARE_CARD (kind 26)
const TFieldSpec kMifareOnCardFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Card_Number", kRaw, {"card_petrol_num"}},
    {"MifCrdNum", kRaw, {"mifare_num"}},
    {"MifCrdSerialNum", kRaw, {"mifare_serial_num"}},
    {"MifDays", kRaw, {"days"}},
    {"MifTimeFrom", kInteger, {"time_from"}},
    {"MifTimeTo", kInteger, {"time_to"}},
    {"MifPetrolTank", kInteger, {"petroltank"}},
    {"MifVehicleName", kText, {"vehicle_name"}},
    {"MifVehicleNumber", kText, {"vehicle_number"}},
};

// MIFARE_CLN (kind 27)
const TFieldSpec kMifareOnClientFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {nullptr}, TColumnRead::Constant, 1},
    {"MifCrdNum", kRaw, {"mifare_num"}},
    {"MifCrdSerialNum", kRaw, {"mifare_serial_num"}},
    {"MifDays", kRaw, {"days"}},
    {"MifTimeFrom", kInteger, {"time_from"}},
    {"MifTimeTo", kInteger, {"time_to"}},
    {"MifPetrolTank", kInteger, {"petroltank"}},
    {"MifVehicleName", kText, {"vehicle_name"}},
    {"MifVehicleNumber", kText, {"vehicle_number"}},
};

// ONL_CARDS (kind 29)
const TFieldSpec kOnlCardFields[] = {
    {"onl_client_id", kRaw, {"onl_client"}},
    {"Card_Number", kRaw, {"cardnum"}},
    {"days", kRaw, {"schedule"}},
    {"time_from", kInteger, {"time_from"}},
    {"time_to", kInteger, {"time_to"}},
    {"card_type", kInteger, {"online_cardtype"}},
    {"plate_num", kText, {"platenum"}},
    {"Operation_Id", kInteger, {"operation_id"}},
};

// ONL_CARD_LIM (kind 30)
const TFieldSpec kOnlCardLimitFields[] = {
    {"Card_Number", kRaw, {"card_num"}},
    {"limit_type", kInteger, {nullptr}, TColumnRead::LimitCode},
    {"service_id", kInteger, {"services_id"}},
    {"daily_limit", kAmount, {"daily_limit"}},
    {"weekly_limit", kAmount, {"weekly_limit"}},
    {"monthly_limit", kAmount, {"monthly_limit"}},
    {"active", kInteger, {"active"}},
    {"ind_limit", kInteger, {"ind_limit"}},
    {"Operation_Id", kInteger, {"operation_id"}},
};

// ONL_LIMITS (kind 9)
const TFieldSpec kOnlLimitsFields[] = {
    {"onl_client_id", kRaw, {"customers_id"}},
    {"limit_type", kInteger, {nullptr}, TColumnRead::LimitCode},
    {"service_id", kInteger, {"services_id"}},
    {"daily_limit", kAmount, {"daily_limit"}},
    {"weekly_limit", kAmount, {"weekly_limit"}},
    {"monthly_limit", kAmount, {"monthly_limit"}},
    {"active", kInteger, {"active"}},
    {"can_create_vc", kInteger, {"receive_vc"}},
};

// TRN_QEL (kind 22)
const TFieldSpec kTrnQelFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Trn_GUID", kRaw, {"trn_guid"}},
    {"EmitentID", kInteger, {"trn_emt_pos"}},
    {"FilialNum", kInteger, {"trn_fil_pos"}},
    {"POSID", kInteger, {"trn_pos_num"}},
    {"TerminalID", kInteger, {"trn_term_num"}},
    {"Card_Number", kRaw, {"trn_card_num"}},
    {"Date_Of", kDateTime, {"trn_dateof"}},
    {"ServiceID", kInteger, {"trn_srv_id"}},
    {"CurrencyID", kInteger, {"trn_curr_id"}},
    {"Amount", kAmount, {"trn_amount"}},
    {"Cost_On_POS", kAmount, {"trn_cost_on_pos"}},
    {"Cost_Client", kAmount, {"trn_cost_client"}},
    {"Price_On_POS", kAmount, {"trn_price_on_pos"}},
    {"Price_Client", kAmount, {"trn_price_client"}},
    {"Delta_Price", kAmount, {"trn_delta_price"}},
    {"Delta_Cost", kAmount, {"trn_delta_cost"}},
    {"Pos_Delta_Price", kAmount, {"pos_delta_price"}},
    {"Pos_Delta_Cost", kAmount, {"pos_delta_cost"}},
    {"Schema_Number", kInteger, {"trn_schema_num"}},
    {"Trn_Number", kInteger, {"trn_type"}},
    {"AccTrnComment", kText, {"acc_comment"}},
    {"Odometr", kMeasure, {"odometr"}},
    {"RfidNum", kMeasure, {"rfid_num"}},
};

// TRN_DOLM (kind 23)
const TFieldSpec kTrnDolmFields[] = {
    {"ID", kInteger, {"client_id"}},
    {"Type", kInteger, {"client_type"}},
    {"Trn_GUID", kRaw, {"trn_guid"}},
    {"EmitentID", kInteger, {"trn_emt_pos"}},
    {"FilialNum", kInteger, {"trn_fil_pos"}},
    {"POSID", kInteger, {"trn_pos_num"}},
    {"TerminalID", kInteger, {"trn_term_num"}},
    {"Card_Number", kRaw, {"trn_card_num"}},
    {"Date_Of", kDateTime, {"trn_dateof"}},
    {"ServiceID", kInteger, {"trn_srv_id"}},
    {"CurrencyID", kInteger, {"trn_curr_id"}},
    {"Amount", kAmount, {"trn_amount"}},
    {"Cost_On_POS", kAmount, {"trn_cost_on_pos"}},
    {"Cost_Client", kAmount, {"trn_cost_client"}},
    {"Price_On_POS", kAmount, {"trn_price_on_pos"}},
    {"Price_Client", kAmount, {"trn_price_client"}},
    {"Delta_Price", kAmount, {"trn_delta_price"}},
    {"Delta_Cost", kAmount, {"trn_delta_cost"}},
    {"Pos_Delta_Price", kAmount, {"pos_delta_price"}},
    {"Pos_Delta_Cost", kAmount, {"pos_delta_cost"}},
    {"Trn_Number", kInteger, {"trn_type"}},
    {"Discount_Value", kAmount, {"discount_percent"}},
    {"Discount_Type", kInteger, {"discount_type"}},
    {"Trn_Bonus", kAmount, {"trn_bonus"}},
    {"Current_Bonus", kAmount, {"current_bonus"}},
};

// IBS_TRN (kinds 24, 25)
const TFieldSpec kIbsTrnFields[] = {
    {"IBSGUID", kRaw, {"trn_guid", "trn_guid"}},  {"IBS139GUID", kRaw, {"guid_139", "guid_139"}},
    {"IBSGdsCode", kRaw, {"gdscode", "gdscode"}}, {"IBSGdsName", kText, {"gdsname", "gdsname"}},
    {"IBSAmount", kAmount, {"amount", "amount"}}, {"IBSPrice", kAmount, {"price", "price"}},
};

// DR_STATE (kinds 19, 20)
const TFieldSpec kDRResultFields[] = {
    {"DR_Request_ID", kInteger, {"dr_request_id", "dd_request_id"}},
    {"Request_State_ID", kInteger, {"request_state_id", "request_state_id"}},
    {"Cancel_Cause_ID", kInteger, {"cancel_cause_id", "cancel_cause_id"}},
    {"Date_Begin", kDateTime, {"date_begin", "date_begin"}},
    {"Date_End", kDateTime, {"date_end", "date_end"}},
    {"DR_Group_ID", kInteger, {"dr_group_id", "dd_group_id"}},
    {"DR_ID_In_Group", kInteger, {"dr_id_in_group", "dd_id_in_group"}},
    {"Price", kMeasure, {"price", "dd_price"}},
    {"Date_Of_Answer", kDateTime, {"date_of_answer", "date_of_answer"}},
};

// OIL_STATE (kind 21)
const TFieldSpec kOILResultFields[] = {
    {"RCL_Request_ID", kInteger, {"oil_request_id"}},
    {"Request_State_ID", kInteger, {"request_state_id"}},
    {"Cancel_Cause_ID", kInteger, {"cancel_cause_id"}},
    {"Date_Begin", kDateTime, {"date_begin"}},
    {"Date_End", kDateTime, {"date_end"}},
    {"Date_Of_Answer", kDateTime, {"date_of_answer"}},
    {"GUID", kRaw, {"guid"}},
};

// ONL_CARD_LIM_REQ_STATE (kind 31)
const TFieldSpec kOnlCardLimitResultFields[] = {
    {"Request_ID", kInteger, {"request_id"}},
    {"Request_State_ID", kInteger, {"request_state_id"}},
    {"Cancel_Cause_ID", kInteger, {"cancel_cause_id"}},
    {"Date_Of_Answer", kDateTime, {"date_of_answer"}},
};

// COUPON_REQUEST_STATE (kind 39)
const TFieldSpec kCouponReqResultFields[] = {
    {"Request_ID", kInteger, {"request_id"}},
    {"Request_State_ID", kInteger, {"request_state_id"}},
    {"Cancel_Cause_ID", kInteger, {"cancel_cause_id"}},
    {"Date_Of_Answer", kDateTime, {"date_of_answer"}},
};

// PACKAGE_CONFIRM (kind 8)
const TFieldSpec kPackageConfirmFields[] = {
    {"ID", kText, {"package_id"}},
    {"PackagesReceipt", kDateTime, {"datetime_last_receipt"}},
    {"PackagesCount", kInteger, {"count_receipt"}},
    {"PackagesState", kInteger, {"state"}},
};

// STATUS_REQUEST (kind 28)
const TFieldSpec kStatusRequestFields[] = {
    {"Id", kRaw, {"package_id"}},
};

// SERVICE (kind 2)
const TFieldSpec kServicesFields[] = {
    {"ID", kInteger, {"srv_id"}},
    {"Name", kText, {"srv_name"}},
    {"Unit", kText, {"srv_mes"}},
    {"Active", kInteger, {"srv_active"}},
    {"IsCurrency", kInteger, {"srv_is_currency"}},
};

// EMITENT (kind 3)
const TFieldSpec kEmitentFields[] = {
    {"ID", kInteger, {"emt_id"}},
    {"FilialNum", kInteger, {"fll_id"}},
    {"Name", kText, {"emt_name"}},
    {"IsActive", kInteger, {"emt_active"}},
    {"EmitentFirmID", kInteger, {"emt_firm_id"}},
};

// POS (kind 4)
const TFieldSpec kPosFields[] = {
    {"EmitentID", kInteger, {"pos_emitent"}}, {"FilialNum", kInteger, {"pos_filial"}},
    {"POS_Number", kInteger, {"pos_number"}}, {"Name", kText, {"pos_name"}},
    {"Address", kText, {"pos_address"}},      {"OperationID", kInteger, {"operation_id"}},
};

// POS_PRICES (kind 6)
const TFieldSpec kPosPricesFields[] = {
    {"POS_Number", kInteger, {"POS_ID"}},
    {"TrmNumber", kInteger, {"PRICE_NUM"}},
    {"ServiceID", kInteger, {"SERVICE_ID"}},
    {"Price_On_POS", kAmount, {"TERM_PRICE"}, TColumnRead::Currency},
    {"PosPriceStartDate", kRaw, {"price_start_date"}, TColumnRead::ShortDate},
    {"PosPriceStatus", kInteger, {"status"}},
};

// AD_PARAMS (kind 5)
const TFieldSpec kADParamsFields[] = {
    {"HasActiveDiscount", kInteger, {"active_discount"}},
    {"AdCalcMonthCount", kInteger, {"ad_calc_month_count"}},
};

// RFID_PARAMS (kind 7)
const TFieldSpec kRfidParamsFields[] = {
    {"HasRFID", kInteger, {"has_rfid"}},
};

// EMITENT_CONFIGS (kind 35)
const TFieldSpec kEmitentConfigsFields[] = {
    {"Code", kRaw, {"Code"}},
    {"Value", kRaw, {"Value"}},
};

// CLIENT_TARIFS (kind 32)
const TFieldSpec kClientTarifFields[] = {
    {"Tarif_Id", kInteger, {"data_id"}},
    {"Base_Tarif_Id", kInteger, {"id_bazovoi_gr_tarifov"}},
    {"Operation_Id", kInteger, {"operation_id"}},
};

// CLIENT_TARIFS_PRICES (kind 33)
const TFieldSpec kClientTarifPricesFields[] = {
    {"Tarif_Id", kInteger, {"tarif_id"}},         {"Service_Id", kInteger, {"service_id"}},
    {"Stert_Date", kDateTime, {"start_date"}},    {"Price", kAmount, {"tzena"}},
    {"Operation_Id", kInteger, {"operation_id"}},
};

// CLIENT_TARIFS_DISCOUNTS (kind 34)
const TFieldSpec kClientTarifDiscountsFields[] = {
    {"Tarif_Id", kInteger, {"tarif_id"}},
    {"Service_Id", kInteger, {"service_id"}},
    {"Discount", kAmount, {"scidka"}},
    {"Discount_Type", kInteger, {"discount_type_id"}},
    {"Operation_Id", kInteger, {"operation_id"}},
};

// COUPON_LIMITS (kind 36)
const TFieldSpec kCouponLimitsFields[] = {
    {"onl_client_id", kRaw, {"customers_id"}},
    {"limit_type", kInteger, {nullptr}, TColumnRead::CouponLimitCode},
    {"service_id", kInteger, {"services_id"}},
    {"daily_limit", kAmount, {"daily_limit"}},
    {"weekly_limit", kAmount, {"weekly_limit"}},
    {"monthly_limit", kAmount, {"monthly_limit"}},
    {"active", kInteger, {"active"}},
};

// COUPONS (kind 37)
const TFieldSpec kCouponsFields[] = {
    {"VCGuid", kRaw, {"vc_id"}},
    {"GroupGuid", kRaw, {"vc_group_id"}},
    {"VCState", kInteger, {"vc_state_id"}},
    {"VCNumberView", kRaw, {"vc_number_view"}},
    {"DateCreate", kDateTime, {"date_create"}},
    {"DateService", kDateTime, {"date_service"}},
    {"Price", kAmount, {"price"}},
    {"CardNumber", kRaw, {"card_num_vc"}},
};

// COUPONS_SETTINGS (kind 38)
const TFieldSpec kCouponsSettingsFields[] = {
    {"OnlClientId", kRaw, {"customers_id"}},
    {"CanCreateVC", kInteger, {"receive_vc"}},
    {"CanVCFP", kInteger, {"vc_fp"}},
    {"CanVCPOSP", kInteger, {"vc_posp"}},
    {"VCLastDateCreate", kDateTime, {"vc_last_date_create"}},
    {"PinExpDate", kDateTime, {"pin_exp_date"}},
    {"PinState", kInteger, {"pin_state"}},
    {"CodeTableNum", kInteger, {"code_table_num"}},
    {"CodeCount", kInteger, {"code_count"}},
    {"CodeExpDate", kDateTime, {"code_exp_date"}},
};

}  // namespace

// A data class's descriptor (built on first use) and its constructor.
#define DX_DEFINE_DATA_CLASS(Name, Parent, itemElement, fields)                             \
    const TRecordClass& Name::Class() {                                                     \
        static const TRecordClass recordClass(itemElement, fields,                          \
                                              []() -> TExportRecord* { return new Name; }); \
        return recordClass;                                                                 \
    }                                                                                       \
    Name::Name() : Parent(Class()) {}

DX_DEFINE_DATA_CLASS(TNewClient, TClient, "NEW_CLIENT", kNewClientFields)
DX_DEFINE_DATA_CLASS(TClientForDataFile, TClient, "CLIENT_DATA", kClientForDataFileFields)
DX_DEFINE_DATA_CLASS(THolder, TClientData, "HOLDER", kHolderFields)
DX_DEFINE_DATA_CLASS(TAdClientParams, TClientData, "AD_CLIENT_PARAMS", kAdClientParamsFields)
DX_DEFINE_DATA_CLASS(TAccount, TClientData, "ACCOUNT", kAccountFields)
DX_DEFINE_DATA_CLASS(TCardQel, TClientData, "CARD_QEL", kCardQelFields)
DX_DEFINE_DATA_CLASS(TCardDolm, TClientData, "CARD_DOLM", kCardDolmFields)
DX_DEFINE_DATA_CLASS(TPurse, TClientData, "PURSE", kPurseFields)
DX_DEFINE_DATA_CLASS(TMifareOnCard, TClientData, "MIFARE_CARD", kMifareOnCardFields)
DX_DEFINE_DATA_CLASS(TMifareOnClient, TMifareOnCard, "MIFARE_CLN", kMifareOnClientFields)
DX_DEFINE_DATA_CLASS(TOnlCard, TExportRecord, "ONL_CARDS", kOnlCardFields)
DX_DEFINE_DATA_CLASS(TOnlCardLimit, TExportRecord, "ONL_CARD_LIM", kOnlCardLimitFields)
DX_DEFINE_DATA_CLASS(TOnlLimits, TExportRecord, "ONL_LIMITS", kOnlLimitsFields)
DX_DEFINE_DATA_CLASS(TTrnQel, TClientData, "TRN_QEL", kTrnQelFields)
DX_DEFINE_DATA_CLASS(TTrnDolm, TClientData, "TRN_DOLM", kTrnDolmFields)
DX_DEFINE_DATA_CLASS(TIbsTrn, TExportRecord, "IBS_TRN", kIbsTrnFields)
DX_DEFINE_DATA_CLASS(TDRResult, TExportRecord, "DR_STATE", kDRResultFields)
DX_DEFINE_DATA_CLASS(TDDResult, TDRResult, "DD_STATE", kDRResultFields)
DX_DEFINE_DATA_CLASS(TOILResult, TExportRecord, "OIL_STATE", kOILResultFields)
DX_DEFINE_DATA_CLASS(TOnlCardLimitResult, TExportRecord, "ONL_CARD_LIM_REQ_STATE", kOnlCardLimitResultFields)
DX_DEFINE_DATA_CLASS(TCouponReqResult, TExportRecord, "COUPON_REQUEST_STATE", kCouponReqResultFields)
DX_DEFINE_DATA_CLASS(TPackageConfirm, TExportRecord, "PACKAGE_CONFIRM", kPackageConfirmFields)
DX_DEFINE_DATA_CLASS(TStatusRequest, TExportRecord, "STATUS_REQUEST", kStatusRequestFields)
DX_DEFINE_DATA_CLASS(TServices, TExportRecord, "SERVICE", kServicesFields)
DX_DEFINE_DATA_CLASS(TEmitent, TExportRecord, "EMITENT", kEmitentFields)
DX_DEFINE_DATA_CLASS(TPos, TExportRecord, "POS", kPosFields)
DX_DEFINE_DATA_CLASS(TPosPrices, TExportRecord, "POS_PRICES", kPosPricesFields)
DX_DEFINE_DATA_CLASS(TADParams, TExportRecord, "AD_PARAMS", kADParamsFields)
DX_DEFINE_DATA_CLASS(TRfidParams, TExportRecord, "RFID_PARAMS", kRfidParamsFields)
DX_DEFINE_DATA_CLASS(TEmitentConfigs, TExportRecord, "EMITENT_CONFIGS", kEmitentConfigsFields)
DX_DEFINE_DATA_CLASS(TClientTarif, TExportRecord, "CLIENT_TARIFS", kClientTarifFields)
DX_DEFINE_DATA_CLASS(TClientTarifPrices, TExportRecord, "CLIENT_TARIFS_PRICES", kClientTarifPricesFields)
DX_DEFINE_DATA_CLASS(TClientTarifDiscounts, TExportRecord, "CLIENT_TARIFS_DISCOUNTS",
                     kClientTarifDiscountsFields)
DX_DEFINE_DATA_CLASS(TCouponLimits, TExportRecord, "COUPON_LIMITS", kCouponLimitsFields)
DX_DEFINE_DATA_CLASS(TCoupons, TExportRecord, "COUPONS", kCouponsFields)
DX_DEFINE_DATA_CLASS(TCouponsSettings, TExportRecord, "COUPONS_SETTINGS", kCouponsSettingsFields)

#undef DX_DEFINE_DATA_CLASS

namespace {

constexpr TKindRunner kClientType = TKindRunner::ClientType;
constexpr TKindRunner kIgnored = TKindRunner::ClientTypeIgnored;
constexpr TKindRunner kPackageId = TKindRunner::PackageId;

// Kind, list, data class, column set, component, stored procedure, runner, size of P_PACKAGE_ID,
// fetch all, client types with a list (bit n for type n; 0: every type), mapper class.
const TRecordKindInfo kKinds[ExportKindCount] = {
    {0, "NEW_CLIENT_LIST_QEL", &TNewClient::Class, 0, "ospGetNewClientListQel",
     "ZUV_EXPORT_OUT_PACK.get_new_client_list_qel", kClientType, 0, true, 0, "TNewClientQelMapper"},
    {1, "NEW_CLIENT_LIST_DOLM", &TNewClient::Class, 1, "ospGetNewClientListDolm",
     "ZUV_EXPORT_OUT_PACK.get_new_client_list_dolm", kClientType, 0, true, 0, "TNewClientDolmMapper"},
    {2, "SERVICE_LIST", &TServices::Class, 0, "ospGetServiceList", "ZUV_EXPORT_OUT_PACK.get_service_list",
     kIgnored, 0, true, 0, "TServiceMapper"},
    {3, "EMITENT_LIST", &TEmitent::Class, 0, "ospGetEmitentList", "ZUV_EXPORT_OUT_PACK.get_emitent_list",
     kIgnored, 0, true, 0, "TEmitentMapper"},
    {4, "POS_LIST", &TPos::Class, 0, "ospGetPosList", "ZUV_EXPORT_OUT_PACK.get_pos_list", kPackageId, 38,
     true, 0, "TPosMapper"},
    {5, "AD_PARAMS_LIST", &TADParams::Class, 0, "ospGetADParamsList", "ZUV_EXPORT_OUT_PACK.get_ad_params",
     kIgnored, 0, false, 0, "TADParamsMapper"},
    {6, "POS_PRICES_LIST", &TPosPrices::Class, 0, "ospGetPosPricesList",
     "ZUV_EXPORT_OUT_PACK.GET_POS_PRICE_LIST", kPackageId, 38, false, 0, "TPosPricesMapper"},
    {7, "RFID_PARAMS_LIST", &TRfidParams::Class, 0, "ospGetRfidParamsList",
     "ZUV_EXPORT_OUT_PACK.get_rfid_params", kIgnored, 0, false, 0, "TRfidParamsMapper"},
    {8, "PACKAGE_CONFIRM_LIST", &TPackageConfirm::Class, 0, "ospGetPackageConfirm",
     "ZUV_EXPORT_OUT_PACK.p_get_package_confirm_list", kIgnored, 0, false, 0, "TPackageConfirmMapper"},
    {9, "ONL_LIMITS_LIST", &TOnlLimits::Class, 0, "ospGetOnlLimits", "ZUV_EXPORT_OUT_PACK.get_onl_limits",
     kPackageId, 0, false, 0, "TOnlLimitsMapper"},
    {10, "CLIENT_EXPORT_QEL_LIST", &TClientForDataFile::Class, 0, "ospGetClientListExportQel",
     "ZUV_EXPORT_OUT_PACK.get_client_list_export_qel", kPackageId, 38, false, 0, "TClientExportQelMapper"},
    {11, "CLIENT_EXPORT_DOLM_LIST", &TClientForDataFile::Class, 1, "ospGetClientListExportDolm",
     "ZUV_EXPORT_OUT_PACK.get_client_list_export_dolm", kPackageId, 38, false, 0, "TClientExportDolmMapper"},
    {12, "HOLDER_QEL_LIST", &THolder::Class, 0, "ospGetHolderQel", "ZUV_EXPORT_OUT_PACK.get_holder_qel_list",
     kClientType, 0, false, 0, "THolderQelMapper"},
    {13, "HOLDER_DOLM_LIST", &THolder::Class, 1, "ospGetHolderDolm",
     "ZUV_EXPORT_OUT_PACK.get_holder_dolm_list", kClientType, 0, false, 0, "THolderDolmMapper"},
    {14, "AD_CLIENT_PARAMS_LIST", &TAdClientParams::Class, 0, "ospGetAdClientParam",
     "ZUV_EXPORT_OUT_PACK.get_ad_client_params", kIgnored, 0, false, 0b101, "TADClientParamsMapper"},
    {15, "ACCOUNT_LIST", &TAccount::Class, 0, "ospGetAccountList", "ZUV_EXPORT_OUT_PACK.get_account_list",
     kClientType, 0, false, 0, "TAccountQelMapper"},
    {16, "CARD_QEL_LIST", &TCardQel::Class, 0, "ospCardQelList", "ZUV_EXPORT_OUT_PACK.get_card_qel_list",
     kClientType, 0, false, 0, "TCardQelMapper"},
    {17, "CARD_DOLM_LIST", &TCardDolm::Class, 0, "ospCardDolmList", "ZUV_EXPORT_OUT_PACK.get_card_dolm_list",
     kClientType, 0, false, 0, "TCardDolmMapper"},
    {18, "PURSE_LIST", &TPurse::Class, 0, "ospGetPurseQel", "ZUV_EXPORT_OUT_PACK.get_purse_qel_list",
     kClientType, 0, false, 0, "TPurseQelMapper"},
    {19, "DR_STATE_LIST", &TDRResult::Class, 0, "ospGetDRChangeStatus", "ZUV_EXPORT_OUT_PACK.get_dr_request",
     kPackageId, 38, false, 0, "TChangeStateRechargeMapper"},
    {20, "DD_STATE_LIST", &TDDResult::Class, 1, "ospGetDDChangeStatus", "ZUV_EXPORT_OUT_PACK.get_dd_request",
     kPackageId, 38, false, 0, "TChangeStateDebitMapper"},
    {21, "OIL_STATE_LIST", &TOILResult::Class, 0, "ospGetOilChangeStatus",
     "ZUV_EXPORT_OUT_PACK.get_oil_request", kPackageId, 38, false, 0, "TChangeStateChangeLimitMapper"},
    {22, "TRN_QEL_LIST", &TTrnQel::Class, 0, "ospGetTrnQelList", "ZUV_EXPORT_OUT_PACK.get_trn_qel_list",
     kPackageId, 38, false, 0, "TTrnQelMapper"},
    {23, "TRN_DOLM_LIST", &TTrnDolm::Class, 0, "ospGetTrnDolmList", "ZUV_EXPORT_OUT_PACK.get_trn_dolm_list",
     kPackageId, 38, false, 0, "TTrnDolmMapper"},
    {24, "IBS_TRN_QEL_LIST", &TIbsTrn::Class, 0, "ospGetIbsQelList", "ZUV_EXPORT_OUT_PACK.get_ibs_qel_trns",
     kPackageId, 38, false, 0, "TTrnIBSQelMapper"},
    {25, "IBS_TRN_DOLM_LIST", &TIbsTrn::Class, 1, "ospGetIbsDolmList",
     "ZUV_EXPORT_OUT_PACK.get_ibs_dolm_trns", kPackageId, 38, false, 0, "TTrnIBSDolmMapper"},
    {26, "MIFARE_CARD_LIST", &TMifareOnCard::Class, 0, "ospGetMifareCardList",
     "ZUV_EXPORT_OUT_PACK.get_mifare_card_list", kClientType, 0, false, 0, "TMifareCardMapper"},
    {27, "MIFARE_CLN_LIST", &TMifareOnClient::Class, 0, "ospGetMifareClientList",
     "ZUV_EXPORT_OUT_PACK.get_mifare_client_list", kIgnored, 0, false, 0b011, "TMifareClientMapper"},
    {28, "STATUS_REQUEST_LIST", &TStatusRequest::Class, 0, "ospGetUnconfirmedPackages",
     "zuv_export_out_pack.get_unconfirmed_packages", kIgnored, 0, true, 0, "TStatusRequestMapper"},
    {29, "ONL_CARD_LIST", &TOnlCard::Class, 0, "ospGetOnlCards", "ZUV_EXPORT_OUT_PACK.get_onl_cards",
     kPackageId, 38, false, 0, "TOnlCardsMapper"},
    {30, "ONL_CARD_LIMIT_LIST", &TOnlCardLimit::Class, 0, "ospGetOnlCardLimits",
     "ZUV_EXPORT_OUT_PACK.get_onl_cards_limits", kPackageId, 38, false, 0, "TOnlCardLimitsMapper"},
    {31, "ONL_LIM_CARD_REQ_STATE_LIST", &TOnlCardLimitResult::Class, 0, "ospGetOnlLimCardChangeStatus",
     "ZUV_EXPORT_OUT_PACK.get_onl_limit_card_request", kPackageId, 0, false, 0,
     "TChangeStateChOnlLimCardMapper"},
    {32, "CLIENT_TARIF_LIST", &TClientTarif::Class, 0, "ospGetClientTarifList",
     "ZUV_EXPORT_OUT_PACK.GET_CLIENT_TARIF_LIST", kPackageId, 0, false, 0, "TClientTarifMapper"},
    {33, "CLIENT_TARIF_PRICE_LIST", &TClientTarifPrices::Class, 0, "ospGetClientTarifPricesList",
     "ZUV_EXPORT_OUT_PACK.GET_RATES_CLIENT_TARIF_LIST", kPackageId, 0, false, 0, "TClientTarifPricesMapper"},
    {34, "CLIENT_TARIF_DISCOUNT_LIST", &TClientTarifDiscounts::Class, 0, "ospGetClientTarifDiscList",
     "ZUV_EXPORT_OUT_PACK.GET_DISC_CLIENT_TARIF_LIST", kPackageId, 0, false, 0,
     "TClientTarifDiscountsMapper"},
    {35, "EMITENT_CONFIGS_LIST", &TEmitentConfigs::Class, 0, "ospGetEmitentConfigsList",
     "ZUV_EXPORT_OUT_PACK.get_emitent_configs_list", kIgnored, 0, true, 0, "TEmitentConfigsMapper"},
    {36, "COUPON_LIMIT_LIST", &TCouponLimits::Class, 0, "ospGetCouponLimit",
     "ZUV_EXPORT_OUT_PACK.get_coupon_limits", kPackageId, 0, false, 0, "TCouponLimitMapper"},
    {37, "COUPON_LIST", &TCoupons::Class, 0, "ospGetCouponsList", "ZUV_EXPORT_OUT_PACK.get_coupon_list",
     kPackageId, 0, false, 0, "TCouponsMapper"},
    {38, "COUPON_SETTING_LIST", &TCouponsSettings::Class, 0, "ospGetCouponsSettingsList",
     "ZUV_EXPORT_OUT_PACK.get_coupon_settings_list", kPackageId, 0, false, 0, "TCouponsSettingsMapper"},
    {39, "COUPON_REQUEST_STATE_LIST", &TCouponReqResult::Class, 0, "ospGetCouponReqChangeStatus",
     "ZUV_EXPORT_OUT_PACK.get_coupon_req_ch_state_list", kPackageId, 0, false, 0,
     "TCouponsReqChangeStateMapper"},
};

}  // namespace

std::span<const TRecordKindInfo> ExportKinds() {
    return kKinds;
}

}  // namespace svc
