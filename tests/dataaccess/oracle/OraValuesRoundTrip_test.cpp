// Values of every parameter type bound into a table of the stand-in server and selected back into
// output parameters of a PL/SQL block, with nulls and the extremes; REF CURSOR outputs fetched.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>

#include "OraValueTables.h"
#include "tests/platform/oci/StandInDb.h"

using namespace dac;
using namespace oratest;

namespace {

struct TBindForm {
    ub2 sqlt = 0;
    void* value = nullptr;
    sb4 size = 0;
    ub2* alen = nullptr;
    bool wide = false;
};

// What the command will hand the bind call for each type (the test's own small table).
TBindForm BindFormOf(TOraParamDesc& p) {
    auto* buf = static_cast<uint8_t*>(p.GetBuffer());
    switch (p.GetDataType()) {
        case dtString:
            return {SQLT_STR, buf, p.GetItemSize()};
        case dtFixedChar:
            return {SQLT_AVC, buf, p.GetItemSize()};
        case dtWideString:
            return {SQLT_STR, buf, p.GetItemSize(), nullptr, true};
        case dtInteger:
        case dtBoolean:
            return {SQLT_INT, buf, 4};
        case dtFloat:
            return {SQLT_FLT, buf, 8};
        case dtDateTime:
            return {SQLT_DAT, buf, 7};
        case dtLargeint:
        case dtBCD:
        case dtFmtBcd:
        case dtNumber:
            return {SQLT_VNU, p.GetAsNumber()->GetOCINumberPtr(), sizeof(OCINumber)};
        case dtBytes:
        case dtVarBytes:
            return {SQLT_BIN, buf + 2, p.GetSize(), reinterpret_cast<ub2*>(buf)};
        case dtSQLTimeStamp:
        case dtTimeStamp:
        case dtTimeStampLTZ:
            return {SQLT_TIMESTAMP, p.GetAsTimeStamp()->GetOCIDateTimePtr(), sizeof(void*)};
        case dtTimeStampTZ:
            return {SQLT_TIMESTAMP_TZ, p.GetAsTimeStamp()->GetOCIDateTimePtr(), sizeof(void*)};
        case dtIntervalYM:
            return {SQLT_INTERVAL_YM, p.GetAsInterval()->GetOCIIntervalPtr(), sizeof(void*)};
        case dtIntervalDS:
            return {SQLT_INTERVAL_DS, p.GetAsInterval()->GetOCIIntervalPtr(), sizeof(void*)};
        case dtCursor:
            return {SQLT_RSET, p.GetAsCursor()->GetOCIStmtPtr(), 0};
        default:
            ADD_FAILURE() << "no bind form for " << p.GetDataType();
            return {};
    }
}

// A descriptor of the type with its value object, as the command makes them.
std::unique_ptr<TOraParamDesc> Param(TDataType type, int32_t size = 0) {
    auto p = std::make_unique<TOraParamDesc>();
    p->SetDataType(type);
    p->SetSize(size);
    if (type == dtNumber) {
        auto* n = new TOraNumber;
        p->SetObject(n);
        n->Free();
    } else if (type == dtTimeStamp || type == dtTimeStampTZ || type == dtTimeStampLTZ) {
        auto* t = new TOraTimeStamp(type);
        p->SetObject(t);
        t->Free();
    } else if (type == dtIntervalYM || type == dtIntervalDS) {
        auto* i = new TOraInterval(type);
        p->SetObject(i);
        i->Free();
    } else if (type == dtCursor) {
        auto* c = new TOraCursor;
        p->SetObject(c);
        c->Free();
    }
    p->AllocBuffer();
    return p;
}

class OraRoundTripTest : public OraTest {
protected:
    void SetUp() override {
        OraTest::SetUp();
        dbExec(
            "CREATE TABLE vals(id NUMBER(9,0) PRIMARY KEY, s VARCHAR2(40), ws NVARCHAR2(40), c CHAR(5), "
            "i NUMBER(9,0), f NUMBER, d DATE, b NUMBER(1,0), n NUMBER, r RAW(16), ts TIMESTAMP(9), "
            "tz TIMESTAMP WITH TIME ZONE, ym INTERVAL YEAR MONTH, ds INTERVAL DAY SECOND(9));"
            "INSERT INTO oci_procedure(package, name, kind, body) VALUES ('VALS_PACK', 'GET_IDS', "
            "'PROCEDURE',"
            "  'OPEN :P_CURSOR FOR SELECT id FROM vals WHERE id >= :P_FROM ORDER BY id');"
            "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES"
            "  ('VALS_PACK', 'GET_IDS', 1, 'P_FROM', 'NUMBER', 'IN'),"
            "  ('VALS_PACK', 'GET_IDS', 2, 'P_CURSOR', 'REF CURSOR', 'OUT');");
        connection_ = newConnection();
        connection_->Connect("");
    }
    void TearDown() override {
        connection_->Disconnect();
        connection_.reset();
        OraTest::TearDown();
    }

    void Check(sword status) { CheckOCIStatus(status, false, connection_->GetErrorHandle()); }

    void Exec(const std::string& sql, const std::vector<std::pair<std::string, TOraParamDesc*>>& params) {
        OCIError* err = connection_->GetErrorHandle();
        OCIStmt* st = nullptr;
        Check(dac::OCIHandleAlloc(OCIEnvHandle, reinterpret_cast<void**>(&st), OCI_HTYPE_STMT, 0, nullptr));
        struct Free {
            OCIStmt* st;
            ~Free() { dac::OCIHandleFree(st, OCI_HTYPE_STMT); }
        } free{st};
        Check(dac::OCIStmtPrepare(st, err, reinterpret_cast<const OraText*>(sql.data()),
                                  static_cast<ub4>(sql.size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        for (const auto& [name, p] : params) {
            p->AllocBuffer();
            p->PrepareBind();
            const TBindForm form = BindFormOf(*p);
            OCIBind* bind = nullptr;
            Check(dac::OCIBindByName(st, &bind, err, reinterpret_cast<const OraText*>(name.data()),
                                     static_cast<sb4>(name.size()), form.value, form.size, form.sqlt,
                                     p->GetIndicatorPtr(), form.alen, nullptr, 0, nullptr, OCI_DEFAULT));
            if (form.wide) {
                ub2 csid = OCI_UTF16ID;
                Check(dac::OCIAttrSet(bind, OCI_HTYPE_BIND, &csid, 0, OCI_ATTR_CHARSET_ID, err));
            }
            p->SetBindHandle(bind, form.size);
        }
        Check(dac::OCIStmtExecute(connection_->GetSvcCtx(), st, err, 1, 0, nullptr, nullptr, OCI_DEFAULT));
    }

    // Inserts the value under a new id and selects it back into a fresh parameter of the same
    // type and size.
    std::unique_ptr<TOraParamDesc> RoundTrip(const std::string& column, TOraParamDesc& in) {
        auto id = Param(dtInteger);
        id->SetItemAsInteger(1, ++lastId_);
        Exec("INSERT INTO vals(id, " + column + ") VALUES (:id, :v)", {{"id", id.get()}, {"v", &in}});
        auto out = Param(in.GetDataType(), in.GetSize());
        out->SetParamType(ptOutput);
        Exec("begin SELECT " + column + " INTO :o FROM vals WHERE id = :id; end;",
             {{"o", out.get()}, {"id", id.get()}});
        return out;
    }

    // Each value, then null, goes in and comes back equal by `same`.
    void Expect(const std::string& column, TDataType type, int32_t size,
                const std::vector<std::function<void(TOraParamDesc&)>>& setters,
                const std::function<bool(TOraParamDesc&, TOraParamDesc&)>& same) {
        for (size_t k = 0; k <= setters.size(); ++k) {
            auto in = Param(type, size);
            if (k < setters.size())
                setters[k](*in);
            else
                in->SetNull(true);
            auto out = RoundTrip(column, *in);
            EXPECT_EQ(in->GetNull(), out->GetNull()) << column << " value " << k;
            if (!in->GetNull()) {
                EXPECT_TRUE(same(*in, *out))
                    << column << " value " << k << ": " << rtl::VarToStr(out->GetValue());
            }
        }
    }

    static bool SameVariant(TOraParamDesc& a, TOraParamDesc& b) {
        return rtl::VarSameValue(a.GetValue(), b.GetValue());
    }

    std::unique_ptr<TOCIConnection> connection_;
    int lastId_ = 0;
};

}  // namespace

TEST_F(OraRoundTripTest, Texts) {
    Expect(
        "s", dtString, 40,
        {[](TOraParamDesc& p) { p.SetItemAsString(1, "\xDD\xEC\xE8\xF2\xE5\xED\xF2 7"); },  // 1251 Cyrillic
         [](TOraParamDesc& p) { p.SetItemAsString(1, std::string(40, 'x')); },
         [](TOraParamDesc& p) { p.SetItemAsString(1, " "); }},
        SameVariant);
    Expect("ws", dtWideString, 40,
           {[](TOraParamDesc& p) { p.SetItemAsWideString(1, u"\u20AC \u6F22\u5B57 \U0001F600"); },
            [](TOraParamDesc& p) { p.SetItemAsWideString(1, std::u16string(40, u'\u0416')); }},
           SameVariant);
    Expect("c", dtFixedChar, 5, {[](TOraParamDesc& p) { p.SetItemAsString(1, "abcde"); }}, SameVariant);
}

TEST_F(OraRoundTripTest, IntegersFloatsDatesAndBooleans) {
    Expect("i", dtInteger, 0,
           {[](TOraParamDesc& p) { p.SetItemAsInteger(1, INT32_MIN); },
            [](TOraParamDesc& p) { p.SetItemAsInteger(1, INT32_MAX); },
            [](TOraParamDesc& p) { p.SetItemAsInteger(1, 0); }},
           SameVariant);
    Expect("f", dtFloat, 0,
           {[](TOraParamDesc& p) { p.SetItemAsFloat(1, 9.99999999999999e125); },
            [](TOraParamDesc& p) { p.SetItemAsFloat(1, -1e-130); },
            [](TOraParamDesc& p) { p.SetItemAsFloat(1, 0.1); },
            [](TOraParamDesc& p) { p.SetItemAsFloat(1, -0.0); }},
           SameVariant);
    Expect(
        "d", dtDateTime, 0,
        {[](TOraParamDesc& p) { p.SetItemAsDateTime(1, rtl::EncodeDate(1, 1, 1)); },
         [](TOraParamDesc& p) { p.SetItemAsDateTime(1, rtl::EncodeDateTime(9999, 12, 31, 23, 59, 59, 0)); },
         [](TOraParamDesc& p) { p.SetItemAsDateTime(1, rtl::EncodeDateTime(1899, 12, 29, 6, 30, 0, 0)); }},
        SameVariant);
    Expect("b", dtBoolean, 0,
           {[](TOraParamDesc& p) { p.SetItemAsBoolean(1, true); },
            [](TOraParamDesc& p) { p.SetItemAsBoolean(1, false); }},
           SameVariant);
}

TEST_F(OraRoundTripTest, NumbersThroughTheirObjects) {
    Expect("n", dtLargeint, 0,
           {[](TOraParamDesc& p) { p.SetItemAsLargeInt(1, INT64_MIN); },
            [](TOraParamDesc& p) { p.SetItemAsLargeInt(1, INT64_MAX); }},
           SameVariant);
    Expect("n", dtBCD, 0,
           {[](TOraParamDesc& p) { p.SetItemAsCurrency(1, rtl::Currency::FromRaw(-1234567890123)); },
            [](TOraParamDesc& p) { p.SetItemAsCurrency(1, rtl::Currency::FromRaw(1)); }},
           SameVariant);
    Expect("n", dtFmtBcd, 0,
           {[](TOraParamDesc& p) { p.SetItemAsFmtBcd(1, rtl::StrToBcd("12345.6789012345")); },
            [](TOraParamDesc& p) { p.SetItemAsFmtBcd(1, rtl::StrToBcd("-0.000000000001")); }},
           SameVariant);
    const auto sameNumber = [](TOraParamDesc& a, TOraParamDesc& b) {
        return a.GetAsNumber()->Compare(b.GetAsNumber()) == 0;
    };
    Expect("n", dtNumber, 0,
           {[](TOraParamDesc& p) { p.GetAsNumber()->SetAsString("9.99999999999999E+125"); },
            [](TOraParamDesc& p) { p.GetAsNumber()->SetAsString("-1E-130"); },
            [](TOraParamDesc& p) { p.GetAsNumber()->SetAsString("1E-130"); },
            [](TOraParamDesc& p) { p.GetAsNumber()->SetAsString("0"); }},
           sameNumber);
}

TEST_F(OraRoundTripTest, RawBytes) {
    Expect("r", dtVarBytes, 16,
           {[](TOraParamDesc& p) {
                rtl::TBytes all;
                for (int b : {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE, 0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60,
                              0x70, 0x90, 0xA0})
                    all.push_back(static_cast<uint8_t>(b));
                p.SetValue(rtl::BytesToVariant(all));
            },
            [](TOraParamDesc& p) { p.SetValue(rtl::BytesToVariant({0})); }},
           [](TOraParamDesc& a, TOraParamDesc& b) {
               return rtl::VariantToBytes(a.GetValue()) == rtl::VariantToBytes(b.GetValue());
           });
}

TEST_F(OraRoundTripTest, TimestampsAndIntervals) {
    Expect("ts", dtSQLTimeStamp, 0,
           {[](TOraParamDesc& p) {
                p.SetItemAsSQLTimeStamp(1, rtl::TSQLTimeStamp{9999, 12, 31, 23, 59, 59, 999});
            },
            [](TOraParamDesc& p) {
                p.SetItemAsSQLTimeStamp(1, rtl::TSQLTimeStamp{1, 1, 1, 0, 0, 0, 0});
            },
            [](TOraParamDesc& p) {
                p.SetItemAsSQLTimeStamp(1, rtl::TSQLTimeStamp{2024, 2, 29, 12, 0, 0, 250});
            }},
           [](TOraParamDesc& a, TOraParamDesc& b) {
               return a.GetItemAsSQLTimeStamp(1) == b.GetItemAsSQLTimeStamp(1);
           });
    const auto sameStamp = [](TOraParamDesc& a, TOraParamDesc& b) {
        a.GetAsTimeStamp()->SetFormat("YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM");
        b.GetAsTimeStamp()->SetFormat("YYYY-MM-DD HH24:MI:SS.FF9 TZH:TZM");
        a.GetAsTimeStamp()->Precision = b.GetAsTimeStamp()->Precision = 9;
        return a.GetAsTimeStamp()->GetAsString() == b.GetAsTimeStamp()->GetAsString();
    };
    Expect("ts", dtTimeStamp, 0,
           {[](TOraParamDesc& p) { p.GetAsTimeStamp()->Construct(2024, 5, 6, 7, 8, 9, 123456789); },
            [](TOraParamDesc& p) { p.GetAsTimeStamp()->Construct(1, 1, 1, 0, 0, 0, 0); }},
           sameStamp);
    Expect("ts", dtTimeStampLTZ, 0,
           {[](TOraParamDesc& p) { p.GetAsTimeStamp()->Construct(1999, 12, 31, 23, 59, 59, 1); }}, sameStamp);
    Expect("tz", dtTimeStampTZ, 0,
           {[](TOraParamDesc& p) { p.GetAsTimeStamp()->Construct(2024, 5, 6, 7, 8, 9, 5000, "+03:00"); },
            [](TOraParamDesc& p) { p.GetAsTimeStamp()->Construct(2000, 1, 1, 0, 0, 0, 0, "-09:30"); }},
           sameStamp);
    const auto sameInterval = [](TOraParamDesc& a, TOraParamDesc& b) {
        a.GetAsInterval()->FractionPrecision = b.GetAsInterval()->FractionPrecision = 9;
        return a.GetAsInterval()->GetAsString() == b.GetAsInterval()->GetAsString();
    };
    Expect("ym", dtIntervalYM, 0,
           {[](TOraParamDesc& p) { p.GetAsInterval()->SetAsString("+99-11"); },
            [](TOraParamDesc& p) { p.GetAsInterval()->SetAsString("-99-11"); },
            [](TOraParamDesc& p) { p.GetAsInterval()->SetAsString("+00-00"); }},
           sameInterval);
    Expect("ds", dtIntervalDS, 0,
           {[](TOraParamDesc& p) { p.GetAsInterval()->SetAsString("+99 23:59:59.999999999"); },
            [](TOraParamDesc& p) { p.GetAsInterval()->SetAsString("-5 00:00:00.000000001"); }},
           sameInterval);
}

TEST_F(OraRoundTripTest, RefCursorFromAProcedure) {
    for (int id : {3, 1, 2}) {
        auto p = Param(dtInteger);
        p->SetItemAsInteger(1, id);
        Exec("INSERT INTO vals(id) VALUES (:id)", {{"id", p.get()}});
    }
    auto from = Param(dtInteger);
    from->SetItemAsInteger(1, 2);
    auto cursorParam = Param(dtCursor);
    cursorParam->SetParamType(ptOutput);
    Exec("begin VALS_PACK.GET_IDS(:P_FROM, :P_CURSOR); end;",
         {{"P_FROM", from.get()}, {"P_CURSOR", cursorParam.get()}});
    TOraCursor* cursor = cursorParam->GetAsCursor();
    ASSERT_NE(nullptr, cursor);
    EXPECT_EQ(0, cursorParam->GetIndicator(1));
    cursor->State = csExecuted;  // what the command does after a successful execution
    EXPECT_TRUE(cursor->CanFetch());

    OCIError* err = connection_->GetErrorHandle();
    ub4 state = 0;
    Check(dac::OCIAttrGet(cursor->GetHandle(), OCI_HTYPE_STMT, &state, nullptr, OCI_ATTR_STMT_STATE, err));
    EXPECT_EQ(ub4(OCI_STMT_STATE_EXECUTED), state);
    int32_t ids[4] = {};
    int16_t ind[4] = {};
    OCIDefine* def = nullptr;
    Check(dac::OCIDefineByPos(cursor->GetHandle(), &def, err, 1, ids, sizeof(int32_t), SQLT_INT, ind, nullptr,
                              nullptr, OCI_DEFAULT));
    const sword status = dac::OCIStmtFetch(cursor->GetHandle(), err, 4, OCI_FETCH_NEXT, OCI_DEFAULT);
    EXPECT_EQ(OCI_NO_DATA, status);
    ub4 rows = 0;
    Check(dac::OCIAttrGet(cursor->GetHandle(), OCI_HTYPE_STMT, &rows, nullptr, OCI_ATTR_ROW_COUNT, err));
    ASSERT_EQ(2u, rows);
    EXPECT_EQ(2, ids[0]);
    EXPECT_EQ(3, ids[1]);

    // The parameter shares the cursor; the last release frees the statement.
    cursor->AddRef();
    cursorParam.reset();
    EXPECT_EQ(1, cursor->RefCount());
    EXPECT_NE(nullptr, cursor->GetHandle());
    cursor->Free();
}
