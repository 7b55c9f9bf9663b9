#!/usr/bin/env python3
"""Writes web-side request packages and what importing each must give.

For every case NAME the output folder gets NAME.xml (the package document) and NAME.expect, in
code page 1251:

    line 1:   OUTCOME<TAB>MESSAGE     imported | rolledback | fatal | error | readerror
    lines 2-: the calls the database sees, one per line (imported packages only)

The calls are written the way the test's recording database writes them: procedure(NAME=value,
...) with the input parameters in declared order; integers plain, floats with a point or an
exponent ('%.15g'), texts quoted, date-times as #yyyy-mm-dd hh:mm:ss.zzz#, nothing for null.

The recording database answers as follows (the C++ test installs the same rules):
  check_sec_code           P_ERROR_CODE 0 for the code "1234", else -4
  generate_coupons         P_ERROR_CODE 2 when more than 1000 coupons are declared, else 0
  p_set_lost_card_request  P_RESULT -1 for client 666, else 0
  every other output       0

Usage: request_packages.py OUTPUT_FOLDER
"""

import os
import sys
from datetime import datetime
from xml.sax.saxutils import escape, quoteattr

PACK = "ZUV_EXPORT_OUT_PACK."
EMITENT, FILIAL = 7, 1
VERSION = "2.9.1.0"


# ---- values as the database log shows them -------------------------------------------------

def show_int(v):
    return str(int(v))


def show_float(v):
    s = "%.15g" % float(v)
    return s if ("." in s or "e" in s) else s + ".0"


def show_text(v):
    return "'" + v + "'"


def show_date(text):
    """The fixed-position reading of an ISO date and time, without zone conversion."""
    year, month, day = int(text[0:4]), int(text[5:7]), int(text[8:10])
    hour = minute = second = ms = 0
    if len(text) > 16:
        hour, minute = int(text[11:13]), int(text[14:16])
        second = int(text[17:19]) if text[17:19].isdigit() else 0
        ms = int(text[20:23]) if text[20:23].isdigit() else 0
    d = datetime(year, month, day, hour, minute, second, ms * 1000)
    return "#" + d.strftime("%Y-%m-%d %H:%M:%S.") + "%03d" % ms + "#"


def call(name, *params, pack=PACK):
    return pack + name + "(" + ", ".join("%s=%s" % p for p in params) + ")"


# ---- items ---------------------------------------------------------------------------------

def element(name, fields, as_attributes=False, lower=False):
    def n(f):
        return f.lower() if lower else f
    if as_attributes:
        return "<%s %s/>" % (name, " ".join("%s=%s" % (n(f), quoteattr(str(v))) for f, v in fields))
    return "<%s>%s</%s>" % (name, "".join("<%s>%s</%s>" % (n(f), escape(str(v)), n(f)) for f, v in fields), name)


class Package:
    def __init__(self, package_id, created="2024-03-05T10:20:30.123Z"):
        self.package_id = package_id
        self.created = created
        self.lists = []  # (list name, [item xml])
        self.body = []   # expected body calls
        self.coupon_checks = {}

    def add(self, list_name, items):
        self.lists.append((list_name, items))

    def registration(self):
        return [call("get_in_package_state", ("P_PACKAGE_ID", show_text(self.package_id))),
                "StartTransaction",
                call("add_new_package", ("P_PACKAGE_ID", show_text(self.package_id)),
                     ("P_DATETIME_CREATE", show_date(self.created))),
                "Commit"]

    def imported_log(self):
        return (self.registration() + ["StartTransaction"] + self.body +
                [call("set_status_imported", ("P_PACKAGE_ID", show_text(self.package_id))), "Commit"])

    def xml(self, encoding="UTF-8", header=None):
        h = {"PackageId": self.package_id, "Emitent": EMITENT, "Filial": FILIAL,
             "DateTimeCreate": self.created, "Version": VERSION}
        h.update(header or {})
        attributes = " ".join("%s=%s" % (k, quoteattr(str(v))) for k, v in h.items())
        lists = "".join("\r\n\t<%s>%s</%s>" % (name, "".join("\r\n\t\t" + i for i in items), name)
                        for name, items in self.lists)
        text = '<?xml version="1.0" encoding="%s"?>\r\n<RequestsData %s>%s\r\n</RequestsData>\r\n' % (
            encoding, attributes, lists)
        if encoding.lower() == "windows-1251":
            return text.encode("cp1251", errors="xmlcharrefreplace")
        return text.encode("utf-8")


def ansi(text):
    """The text as the database gets it: code page 1251, '?' for what it lacks."""
    return text.encode("cp1251", errors="replace").decode("cp1251")


def card_amount(pkg, kind, proc, id_param, rid, client, card, amount, service, date, **form):
    fields = [("Id", rid), ("ClientId", client), ("ClientType", 1), ("CardNumber", card), ("Amount", amount),
              ("ServiceId", service), ("DateCreate", date)]
    pkg.body.append(call(proc, (id_param, show_int(rid)), ("P_CLIENT_ID", show_int(client)),
                         ("P_CLIENT_TYPE", "1"), ("P_CARD_NUMBER", show_text(ansi(card))),
                         ("P_SERVICE_ID", show_int(service)), ("P_AMOUNT", show_float(amount)),
                         ("P_DATE_OF", show_date(date))))
    return element(kind, fields, **form)


def change_limit(pkg, rid):
    fields = [("Id", rid), ("ClientId", 101), ("ClientType", 2), ("CardNumber", "700100000002"),
              ("Amount", "1500.5"), ("ServiceId", 3), ("DateCreate", "2024-03-05T11:00:00Z"),
              ("DateBegin", "2024-04-01T00:00:00Z"), ("CurrentLimitType", 1), ("CurrentLimitKind", 2),
              ("CurrentLimitAmount", "1000"), ("CurrentLimitService", "3;4")]
    pkg.body.append(call("p_set_oil_request", ("P_OIL_REQUEST_ID", show_int(rid)), ("P_CLIENT_ID", "101"),
                         ("P_CLIENT_TYPE", "2"), ("P_CARD_NUMBER", "'700100000002'"), ("P_SERVICE_ID", "3"),
                         ("P_AMOUNT", show_float(1500.5)), ("P_DATE_BEGIN", show_date("2024-04-01T00:00:00Z")),
                         ("P_DATE_OF", show_date("2024-03-05T11:00:00Z")), ("P_CURRENT_LIMIT", show_float(1000)),
                         ("P_CURRENT_TYPE", "1"), ("P_CURRENT_KIND", "2"), ("P_CURRENT_SERVICES", "'3;4'")))
    return element("CHANGE_LIMIT", fields)


def block_card(pkg, rid, client, comment, card="700100000001"):
    fields = [("Id", rid), ("ClientId", client), ("ClientType", 1), ("CardNumber", card),
              ("DateCreate", "2024-03-05T12:00:00+03:00"), ("Comment", comment)]
    pkg.body.append(call("p_set_lost_card_request", ("P_LOST_CARD_REQ_ID", show_int(rid)),
                         ("P_LOST_COMMENT", show_text(ansi(comment))), ("P_CLIENT_ID", show_int(client)),
                         ("P_CLIENT_TYPE", "1"), ("P_CARD_NUMBER", show_text(card)),
                         ("P_DATE_CREATE", show_date("2024-03-05T12:00:00+03:00")), ("P_SEND_STATE", "0")))
    return element("BLOCK_CARD", fields)


def change_holder(pkg, rid, name):
    fields = [("Id", rid), ("ClientId", 100), ("ClientType", 1), ("CardNumber", "700100000001"),
              ("DateCreate", "2024-03-05T12:30:00Z"), ("NewHolderName", name)]
    pkg.body.append(call("p_set_ch_holder_request", ("P_CH_CARD_HOLDER_REQ_ID", show_int(rid)),
                         ("P_CARD_HOLDER_NAME", show_text(ansi(name))), ("P_CLIENT_ID", "100"),
                         ("P_CLIENT_TYPE", "1"), ("P_CARD_NUMBER", "'700100000001'"),
                         ("P_DATE_CREATE", show_date("2024-03-05T12:30:00Z")), ("P_SEND_STATE", "0")))
    return element("CHANGE_HOLDER", fields)


def client_state(pkg, rid, new_state):
    fields = [("Id", rid), ("ClientId", 100), ("ClientType", 1), ("BeforeState", 1), ("NewState", new_state)]
    pkg.body.append(call("P_SET_CLIENT_STATE", ("P_CLIENT_ID", "100"), ("P_CLIENT_TYPE", "1"),
                         ("P_NEW_STATE", show_int(new_state))))
    return element("CHANGE_CLIENT_STATE", fields)


def status_request(pkg, package_id):
    pkg.body.append(call("status_package_request", ("P_PACKAGE_ID", show_text(package_id))))
    return element("STATUS_REQUEST", [("Id", package_id)])


def package_confirm(pkg, package_id, state):
    fields = [("ID", package_id), ("PackagesReceipt", "2024-03-04T08:15:00.250Z"), ("PackagesCount", 2),
              ("PackagesState", state)]
    pkg.body.append(call("confirm_package", ("P_PACKAGE_ID", show_text(package_id)),
                         ("P_DATETIME_RECEIPT", show_date("2024-03-04T08:15:00.250Z")), ("P_STATE", show_int(state)),
                         pack="zuv_export_out_pack."))
    return element("PACKAGE_CONFIRM", fields)


LIMIT_TYPES = {1: 1, 2: 0, 3: 2}


def online_limit(pkg, rid, limit_type, daily="100.25"):
    fields = [("Id", rid), ("ClientId", 100), ("ClientType", 1), ("CardNumber", "700100000001"),
              ("DailyLimit", daily), ("WeeklyLimit", "500"), ("MonthlyLimit", "2E3"), ("LimitType", limit_type),
              ("ServiceId", 5), ("DateCreate", "2024-03-05T13:00:00Z"), ("IsIndLimit", 1)]
    pkg.body.append(call("p_set_onl_limit_card_request", ("P_REQUEST_ID", show_int(rid)), ("P_CLIENT_ID", "100"),
                         ("P_CLIENT_TYPE", "1"), ("P_CARD_NUMBER", "'700100000001'"), ("P_SERVICE_ID", "5"),
                         ("P_DAILY_LIMIT", show_float(daily)), ("P_WEEKLY_LIMIT", show_float(500)),
                         ("P_MONTHLY_LIMIT", show_float(2000)), ("P_LIMIT_TYPE", show_int(LIMIT_TYPES[limit_type])),
                         ("P_DATE_OF", show_date("2024-03-05T13:00:00Z")), ("P_IS_IND_LIMIT", "1")))
    return element("CHANGE_CARD_ONLINE_LIMIT", fields)


def check_answer(code):
    return 0 if code == "1234" else -4


def create_coupon(pkg, rid, order, code, amount=3, holder="Петров Пётр"):
    date = "2024-03-05T14:00:00Z"
    fields = [("Id", rid), ("TypeVCRequestId", 1), ("GroupId", "GRP-%d" % rid), ("OrderId", order),
              ("ClientId", 100), ("ClientType", 1), ("TypeVCLimitID", 2), ("ServiceId", 5), ("Price", "49.9"),
              ("Nominal", "10"), ("DeclaredAmount", amount), ("DateExpiration", "2024-12-31T23:59:59Z"),
              ("HolderName", holder), ("PhoneNumber", "+7 900 000-00-00"), ("Email", "petrov@example.org"),
              ("NumSecurityCode", 4), ("SecurityCode", code), ("DateCreate", date)]
    group = "'GRP-%d'" % rid
    body = pkg.body
    body.append(call("p_set_coupon_request", ("P_REQUEST_ID", show_int(rid)), ("P_TYPE_REQUEST", "1"),
                     ("P_GROUP_COUPONS_ID", group), ("P_VC_GUID", "''"), ("P_CLIENT_ID", "100"),
                     ("P_CLIENT_TYPE", "1"), ("P_DATE_CREATE", show_date(date))))
    # One check per order and credentials within the package.
    key = (order, 100, 1, 4, code)
    if key not in pkg.coupon_checks:
        body.append(call("check_sec_code", ("P_CLIENT_ID", "100"), ("P_CLIENT_TYPE", "1"),
                         ("P_NUM_SECURITY_CODE", "4"), ("P_SECURITY_CODE", show_text(code))))
        pkg.coupon_checks[key] = check_answer(code)
    error = pkg.coupon_checks[key]
    if error == 0:
        body.append("Savepoint Before_generate_coupons")
        body.append(call("generate_coupons", ("P_GROUP_COUPONS_ID", group), ("P_CLIENT_ID", "100"),
                         ("P_CLIENT_TYPE", "1"), ("P_SERVICE_ID", "5"), ("P_TYPE_VC_LIMIT", "2"),
                         ("P_PRICE", show_float(49.9)), ("P_NOMINAL", show_float(10)),
                         ("P_DECLARED_AMOUNT", show_int(amount)),
                         ("P_DATE_EXPIRATION", show_date("2024-12-31T23:59:59Z")),
                         ("P_NAME_HOLDER", show_text(ansi(holder))), ("P_PHONE_NUMBER", "'+7 900 000-00-00'"),
                         ("P_EMAIL", "'petrov@example.org'")))
        error = 2 if amount > 1000 else 0
        body.append(call("repeat_block_coupons", ("P_GROUP_COUPONS_ID", group)))
        if error > 0:
            body.append("RollbackToSavepoint Before_generate_coupons")
    body.append(call("set_vc_request_status", ("P_REQUEST_ID", show_int(rid)), ("P_ERROR_CODE", show_int(error))))
    return element("CREATE_COUPON", fields)


def coupon_request(pkg, rid, kind, code="1234"):
    date = "2024-03-05T15:00:00Z"
    guid = "{C0C0C0C0-0000-0000-0000-%012d}" % rid
    fields = [("Id", rid), ("TypeVCRequestId", kind), ("GroupId", "GRP-1"), ("VCGuid", guid),
              ("NumSecurityCode", 4), ("SecurityCode", code), ("ClientPetrolId", 100), ("ClientTypePetrolId", 1),
              ("DateCreate", date)]
    body = pkg.body
    body.append(call("p_set_coupon_request", ("P_REQUEST_ID", show_int(rid)), ("P_TYPE_REQUEST", show_int(kind)),
                     ("P_GROUP_COUPONS_ID", "'GRP-1'"), ("P_VC_GUID", show_text(guid)), ("P_CLIENT_ID", "100"),
                     ("P_CLIENT_TYPE", "1"), ("P_DATE_CREATE", show_date(date))))
    error = 0
    if kind == 2:
        body.append(call("block_coupons", ("P_GROUP_COUPONS_ID", "'GRP-1'"), ("P_VC_GUID", show_text(guid))))
    else:
        body.append(call("check_sec_code", ("P_CLIENT_ID", "100"), ("P_CLIENT_TYPE", "1"),
                         ("P_NUM_SECURITY_CODE", "4"), ("P_SECURITY_CODE", show_text(code))))
        error = check_answer(code)
        if error == 0:
            body.append(call("print_coupons", ("P_GROUP_COUPONS_ID", "'GRP-1'"), ("P_VC_GUID", show_text(guid))))
    body.append(call("set_vc_request_status", ("P_REQUEST_ID", show_int(rid)), ("P_ERROR_CODE", show_int(error))))
    return element("COUPON_REQUEST", fields)


# ---- cases ---------------------------------------------------------------------------------

def every_kind(package_id):
    p = Package(package_id)
    p.add("RECHARGE_LIST", [
        card_amount(p, "RECHARGE", "p_set_dr_request", "P_DR_REQUEST_ID", 1001, 100, "700100000001", "250", 5,
                    "2024-03-05T09:00:00Z"),
        card_amount(p, "RECHARGE", "p_set_dr_request", "P_DR_REQUEST_ID", 1002, 100, "700100000001", "0.01", 5,
                    "2024-03-05T09:01:02.345Z", lower=True),
    ])
    p.add("DEBIT_LIST", [
        card_amount(p, "DEBIT", "p_set_dd_request", "P_DD_REQUEST_ID", 2001, 101, "700100000002", "-12.75", 3,
                    "2024-03-05T09:30:00Z", as_attributes=True),
    ])
    p.add("CHANGE_LIMIT_LIST", [change_limit(p, 3001)])
    p.add("BLOCK_CARD_LIST", [block_card(p, 4001, 100, "Утеряна в Москве"), block_card(p, 4002, 100, "snow ☃")])
    p.add("CHANGE_HOLDER_LIST", [change_holder(p, 5001, "Иванова Анна Сергеевна")])
    p.add("CHANGE_CLIENT_STATE_LIST", [client_state(p, 6001, 2), client_state(p, 6002, 0)])
    p.add("STATUS_REQUEST_LIST", [status_request(p, "{11111111-2222-3333-4444-555555555555}")])
    p.add("PACKAGE_CONFIRM_LIST", [package_confirm(p, "{66666666-7777-8888-9999-000000000000}", 1)])
    p.add("CHANGE_CARD_ONLINE_LIMIT_LIST", [online_limit(p, 7001, 1), online_limit(p, 7002, 2),
                                            online_limit(p, 7003, 3, daily="0")])
    p.add("CREATE_COUPON_LIST", [
        create_coupon(p, 8001, 5, "1234"), create_coupon(p, 8002, 5, "1234"), create_coupon(p, 8003, 6, "1234"),
        create_coupon(p, 8004, 0, "0000"), create_coupon(p, 8005, 0, "0000"),
        create_coupon(p, 8006, 7, "1234", amount=5000)])
    p.add("COUPON_REQUEST_LIST", [coupon_request(p, 9001, 2), coupon_request(p, 9002, 3),
                                  coupon_request(p, 9003, 3, code="9999")])
    return p


def write(folder, name, data, outcome, message="", log=()):
    with open(os.path.join(folder, name + ".xml"), "wb") as f:
        f.write(data)
    with open(os.path.join(folder, name + ".expect"), "wb") as f:
        f.write(("\n".join([outcome + "\t" + message] + list(log)) + "\n").encode("cp1251"))


def bad_item(package_id, list_name, item):
    p = Package(package_id)
    p.add("RECHARGE_LIST", [card_amount(p, "RECHARGE", "p_set_dr_request", "P_DR_REQUEST_ID", 1, 100,
                                        "700100000001", "1", 5, "2024-03-05T09:00:00Z")])
    p.add(list_name, [item])
    return p


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    pid = "{%08X-0000-4000-8000-%012X}"

    p = every_kind(pid % (1, 1))
    write(folder, "valid_utf8", p.xml("UTF-8"), "imported", "", p.imported_log())
    p = every_kind(pid % (2, 2))
    write(folder, "valid_cp1251", p.xml("windows-1251"), "imported", "", p.imported_log())
    p = Package(pid % (3, 3))
    write(folder, "valid_empty", p.xml(), "imported", "", p.imported_log())

    recharge = [("Id", 9), ("ClientId", 100), ("ClientType", 1), ("CardNumber", "700100000001"),
                ("Amount", "1"), ("ServiceId", 5), ("DateCreate", "2024-03-05T09:00:00Z")]

    def with_field(fields, name, value):
        return [(f, value if f == name else v) for f, v in fields if value is not None or f != name]

    field_errors = [
        ("amount_comma", "RECHARGE_LIST", element("RECHARGE", with_field(recharge, "Amount", "12,5")),
         "Element RECHARGE: field Amount: '12,5' is not a valid floating point value"),
        ("amount_missing", "RECHARGE_LIST", element("RECHARGE", with_field(recharge, "Amount", None)),
         "Element RECHARGE: field Amount is missing"),
        ("id_not_integer", "RECHARGE_LIST", element("RECHARGE", with_field(recharge, "Id", "1e3")),
         "Element RECHARGE: field Id: '1e3' is not a valid integer value"),
        ("id_out_of_range", "RECHARGE_LIST", element("RECHARGE", with_field(recharge, "Id", "99999999999")),
         "Element RECHARGE: field Id: '99999999999' is not a valid integer value"),
        ("date_invalid", "RECHARGE_LIST", element("RECHARGE", with_field(recharge, "DateCreate", "2024-02-30")),
         "Element RECHARGE: field DateCreate: '2024-02-30' is not a valid date and time"),
        ("unknown_list", "BONUS_LIST", element("BONUS", recharge), "Unknown data type"),
        ("limit_type_unknown", "CHANGE_CARD_ONLINE_LIMIT_LIST",
         element("CHANGE_CARD_ONLINE_LIMIT", [("Id", 1), ("ClientId", 100), ("ClientType", 1),
                                              ("CardNumber", "7001"), ("DailyLimit", 1), ("WeeklyLimit", 1),
                                              ("MonthlyLimit", 1), ("LimitType", 0), ("ServiceId", 5),
                                              ("DateCreate", "2024-03-05T09:00:00Z"), ("IsIndLimit", 0)]),
         "Element CHANGE_CARD_ONLINE_LIMIT: field LimitType: unknown limit type 0"),
        ("coupon_type_in_wrong_list", "COUPON_REQUEST_LIST",
         element("COUPON_REQUEST", [("Id", 1), ("TypeVCRequestId", 1)]),
         "Element COUPON_REQUEST: field TypeVCRequestId: 1 is neither a block nor a print request"),
        ("card_number_too_long", "BLOCK_CARD_LIST",
         element("BLOCK_CARD", [("Id", 1), ("ClientId", 100), ("ClientType", 1), ("CardNumber", "7001000000012"),
                                ("DateCreate", "2024-03-05T09:00:00Z"), ("Comment", "x")]),
         "The value of P_CARD_NUMBER is longer than 12 characters: '7001000000012'"),
        ("comment_too_long", "BLOCK_CARD_LIST",
         element("BLOCK_CARD", [("Id", 1), ("ClientId", 100), ("ClientType", 1), ("CardNumber", "700100000001"),
                                ("DateCreate", "2024-03-05T09:00:00Z"), ("Comment", "Ж" * 41)]),
         "The value of P_LOST_COMMENT is longer than 40 characters: '" + "Ж" * 41 + "'"),
        ("block_card_refused", "BLOCK_CARD_LIST",
         element("BLOCK_CARD", [("Id", 1), ("ClientId", 666), ("ClientType", 2), ("CardNumber", "700100000001"),
                                ("DateCreate", "2024-03-05T09:00:00Z"), ("Comment", "x")]),
         "Block card requests not supported client_id= 666 client_type = 2"),
    ]
    for i, (name, list_name, item, message) in enumerate(field_errors):
        p = bad_item(pid % (100 + i, 100 + i), list_name, item)
        write(folder, "bad_" + name, p.xml("windows-1251" if i % 2 else "UTF-8"), "rolledback", message)

    p = every_kind(pid % (200, 200))
    write(folder, "other_issuer", p.xml(header={"Emitent": 8}), "error",
          "Package to other issuers EmitentPetrolId = 8 FilialPetrolId = 1")
    write(folder, "other_branch", p.xml(header={"Filial": "02"}), "error",
          "Package to other issuers EmitentPetrolId = 7 FilialPetrolId = 2")
    write(folder, "version_mismatch", p.xml(header={"Version": "2.9.0.1"}), "fatal",
          "Version of the package and services are not the same. Service version = 2.9.1.0 Package version = 2.9.0.1")
    write(folder, "malformed", p.xml()[:-40], "readerror")
    write(folder, "declared_utf8_but_1251", p.xml("windows-1251").replace(b"windows-1251", b"UTF-8"), "readerror")
    write(folder, "no_root", b'<?xml version="1.0" encoding="UTF-8"?>\r\n<!-- nothing -->\r\n', "fatal",
          "has no root element")


if __name__ == "__main__":
    main()
