// Oracle parameters: data-type side effects, object-held values, null rules, tables and arrays.
#include <gtest/gtest.h>

#include "ParamsFixture.h"
#include "SessionFixture.h"
#include "platform/rtl/DateTime.h"

using namespace dac;

TEST_F(ParamsTest, PlatformSettersSetTheirOwnDataType) {
    auto* p = Add(db::ftFloat);
    p->SetAsInteger(5);
    EXPECT_EQ(db::ftInteger, p->DataType());
    p->SetAsString("x");
    EXPECT_EQ(db::ftString, p->DataType());
    p->SetAsLargeInt(1LL << 40);
    EXPECT_EQ(db::ftLargeint, p->DataType());
    EXPECT_EQ(1LL << 40, p->AsLargeInt());
}

TEST_F(ParamsTest, AnEmptyStringCountsAsNull) {
    auto* p = Add();
    p->SetAsString("");
    EXPECT_TRUE(p->IsNull());
    p->SetAsString("a");
    EXPECT_FALSE(p->IsNull());
    p->Clear();
    EXPECT_TRUE(p->IsNull());
    EXPECT_EQ(0, p->AsInteger());
}

TEST_F(ParamsTest, ADateTimeReadsAsItsDateInTheShortFormat) {
    auto* p = Add();
    const rtl::TDateTime when = rtl::EncodeDate(2023, 1, 31) + rtl::EncodeTime(17, 45, 39, 0);
    p->SetAsDateTime(when);
    EXPECT_EQ(rtl::DateToStr(when), p->AsString());
    EXPECT_EQ(std::string::npos, p->AsString().find("45")) << p->AsString();
}

TEST_F(ParamsTest, ACursorTypeHoldsACursorObjectUntilTheTypeChanges) {
    auto* p = Add(db::ftCursor);
    ASSERT_NE(nullptr, p->AsCursor());
    EXPECT_EQ("Object", p->Value().AsString());
    EXPECT_FALSE(p->IsNull());
    p->SetDataType(db::ftString);
    EXPECT_EQ(nullptr, p->GetParamObject());
}

// Oracle numbers are the client library's: a session loads it.
TEST_F(SessionTest, OracleNumberParametersKeepTheirValueInTheirObject) {
    auto session = newSession();
    session->Connect();
    TOraParams params;
    auto* n = static_cast<TOraParam*>(params.Add());
    n->SetDataType(ftExtNumber);
    ASSERT_NE(nullptr, n->AsNumber());
    EXPECT_TRUE(n->IsNull());
    n->SetAsInteger(42);
    EXPECT_EQ(42, n->AsInteger());
    EXPECT_EQ(db::TFieldType(ftExtNumber), n->DataType()) << "the number keeps its kind";
    n->SetAsFloat(2.5);
    EXPECT_DOUBLE_EQ(2.5, n->AsFloat());
    n->Clear();
    EXPECT_TRUE(n->IsNull());
    EXPECT_TRUE(n->Value().IsNull());
}

TEST_F(ParamsTest, NationalAndTableFlagsAcceptOnlyTheirTypes) {
    struct Case {
        db::TFieldType type;
        bool national;
        bool table;
    };
    const Case cases[] = {
        {db::ftString, true, true},    {db::ftWideString, true, true}, {db::ftInteger, false, true},
        {db::ftBlob, false, false},    {db::ftOraClob, true, false},   {db::ftCursor, false, false},
        {db::ftDateTime, false, true},
    };
    for (const auto& c : cases) {
        auto* p = Add(c.type);
        const std::string n = ErrorText([&] { p->SetNational(true); });
        EXPECT_EQ(c.national ? "(nothing raised)" : "Wrong national type", n) << int(c.type);
        const std::string t = ErrorText([&] { p->SetTable(true); });
        EXPECT_EQ(c.table ? "(nothing raised)" : "This type cannot consist in table", t) << int(c.type);
    }
}

TEST_F(ParamsTest, LengthTurnsAScalarIntoAnArrayAndBack) {
    auto* p = Add();
    p->SetAsInteger(7);
    p->SetLength(3);
    EXPECT_EQ(3, p->Length());
    EXPECT_TRUE(p->IsArray());
    EXPECT_EQ(7, p->ItemValue(1).AsInteger());
    p->SetItemValue(2, rtl::Variant(int32_t(8)));
    p->SetItemValue(5, rtl::Variant(int32_t(9)));
    EXPECT_EQ(5, p->Length()) << "an index beyond the length grows the array";
    EXPECT_EQ(8, p->ItemValue(2).AsInteger());
    EXPECT_THROW(p->ItemValue(0), rtl::ERangeError);
    p->SetLength(1);
    EXPECT_FALSE(p->IsArray());
    EXPECT_EQ(7, p->AsInteger()) << "element 1 stays as the value";
    auto* blob = Add(db::ftBlob);
    EXPECT_EQ("Type is not allowed in DML array", ErrorText([&] { blob->SetLength(2); }));
}

TEST_F(ParamsTest, MemoAndBlobValuesLiveInTheirBlob) {
    auto* p = Add();
    p->SetAsMemo("line1\r\nline2");
    EXPECT_EQ(db::ftMemo, p->DataType());
    EXPECT_EQ("line1\r\nline2", p->AsString());
    EXPECT_FALSE(p->IsNull());
    p->Clear();
    EXPECT_TRUE(p->IsNull());
    p->SetAsBlob(rtl::TBytes{1, 2, 3});
    EXPECT_EQ(db::ftBlob, p->DataType());
    EXPECT_EQ(3, p->AsBlobObject()->GetSize());
}

TEST_F(ParamsTest, AssignCopiesTypeValueAndOracleFlags) {
    auto* a = Add(db::ftString);
    a->SetAsString("abc");
    a->SetParamType(db::ptInputOutput);
    a->SetSize(30);
    a->SetNational(true);
    a->HasDefault = true;
    auto* b = Add();
    b->Assign(a);
    EXPECT_EQ("abc", b->AsString());
    EXPECT_EQ(db::ptInputOutput, b->ParamType());
    EXPECT_EQ(30, b->GetSize());
    EXPECT_TRUE(b->National());
    EXPECT_TRUE(b->HasDefault);
    EXPECT_EQ(a->Name(), b->Name());
    EXPECT_EQ("Parameter 'nope' not found", ErrorText([&] { params_.ParamByName("nope"); }));
}
