// A requests text with one request of every kind the import knows, for the package maker's tests.
#pragma once

namespace webpacktest {

// Two RECHARGE lines in a row share one list; the BLOCK_CARD comment holds Cyrillic text, a
// quote, a backslash and XML markup characters.
inline constexpr const char* kEveryKind = R"(# one request of every kind
RECHARGE Id=11 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=250.5 ServiceId=5 DateCreate=2024-03-05T10:00:00
RECHARGE Id=12 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=10 ServiceId=5 DateCreate=2024-03-05T10:01:00

DEBIT Id=13 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=3.25 ServiceId=5 DateCreate=2024-03-05T10:02:00
CHANGE_LIMIT Id=14 ClientId=101 ClientType=2 CardNumber=700100000002 Amount=1500.5 ServiceId=3 DateCreate=2024-03-05T11:00:00 DateBegin=2024-04-01T00:00:00 CurrentLimitType=1 CurrentLimitKind=2 CurrentLimitAmount=1000 CurrentLimitService=3;4
	BLOCK_CARD   Id=15 ClientId=100 ClientType=1 CardNumber=700100000001 DateCreate=2024-03-05T12:00:00 Comment="карта \"Север\" <утеряна> & C:\\dir"
CHANGE_HOLDER Id=16 ClientId=100 ClientType=1 CardNumber=700100000001 DateCreate=2024-03-05T12:30:00 NewHolderName="Иванов Иван"
CHANGE_CLIENT_STATE Id=17 ClientId=100 ClientType=1 BeforeState=1 NewState=2
STATUS_REQUEST Id={AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}
PACKAGE_CONFIRM ID={11111111-2222-3333-4444-555555555555} PackagesReceipt=2024-03-05T09:00:00 PackagesCount=3 PackagesState=1
CHANGE_CARD_ONLINE_LIMIT Id=19 ClientId=100 ClientType=1 CardNumber=700100000001 DailyLimit=100 WeeklyLimit=500 MonthlyLimit=2000 LimitType=1 ServiceId=5 DateCreate=2024-03-05T10:00:00 IsIndLimit=1
CREATE_COUPON Id=20 TypeVCRequestId=1 GroupId=G20 OrderId=1 ClientId=100 ClientType=1 TypeVCLimitID=2 ServiceId=5 Price=50 Nominal=10 DeclaredAmount=3 DateExpiration=2024-12-31T00:00:00 HolderName=Petrov PhoneNumber=+70000000000 Email=a@b.c NumSecurityCode=4 SecurityCode=1234 DateCreate=2024-03-05T10:00:00
COUPON_REQUEST Id=21 TypeVCRequestId=2 GroupId=G20 VCGuid=V21 NumSecurityCode=4 SecurityCode=1234 ClientPetrolId=100 ClientTypePetrolId=1 DateCreate=2024-03-05T10:00:00
RECHARGE Id=22 ClientId=100 ClientType=1 CardNumber=700100000001 Amount=1 ServiceId=5 DateCreate=2024-03-05T13:00:00
)";

// The list elements the document must hold, in order.
inline constexpr const char* kEveryKindLists[] = {
    "RECHARGE_LIST",       "DEBIT_LIST",           "CHANGE_LIMIT_LIST",
    "BLOCK_CARD_LIST",     "CHANGE_HOLDER_LIST",   "CHANGE_CLIENT_STATE_LIST",
    "STATUS_REQUEST_LIST", "PACKAGE_CONFIRM_LIST", "CHANGE_CARD_ONLINE_LIMIT_LIST",
    "CREATE_COUPON_LIST",  "COUPON_REQUEST_LIST",  "RECHARGE_LIST"};

}  // namespace webpacktest
