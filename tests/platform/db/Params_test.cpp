#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FormatSettings.h"

using namespace db;
using rtl::Variant;

namespace {

TEST(Params, SettersGiveTheirDataType) {
    TParams params;
    TParam* p = params.CreateParam(ftFloat, "P", ptInput);
    struct Case {
        std::function<void(TParam*)> set;
        TFieldType type;
        rtl::TVarType kind;
    };
    const Case cases[] = {
        {[](TParam* x) { x->SetAsInteger(5); }, ftInteger, rtl::varInteger},
        {[](TParam* x) { x->SetAsSmallInt(5); }, ftSmallint, rtl::varSmallint},
        {[](TParam* x) { x->SetAsWord(5); }, ftWord, rtl::varWord},
        {[](TParam* x) { x->SetAsLargeInt(5); }, ftLargeint, rtl::varInt64},
        {[](TParam* x) { x->SetAsFloat(5.5); }, ftFloat, rtl::varDouble},
        {[](TParam* x) { x->SetAsCurrency(rtl::Currency::FromInt(5)); }, ftCurrency, rtl::varCurrency},
        {[](TParam* x) { x->SetAsBCD(rtl::Currency::FromInt(5)); }, ftBCD, rtl::varCurrency},
        {[](TParam* x) { x->SetAsDate(36526); }, ftDate, rtl::varDate},
        {[](TParam* x) { x->SetAsTime(0.5); }, ftTime, rtl::varDate},
        {[](TParam* x) { x->SetAsDateTime(36526.5); }, ftDateTime, rtl::varDate},
        {[](TParam* x) { x->SetAsBoolean(true); }, ftBoolean, rtl::varBoolean},
        {[](TParam* x) { x->SetAsString("s"); }, ftString, rtl::varString},
        {[](TParam* x) { x->SetAsWideString(u"w"); }, ftWideString, rtl::varOleStr},
        {[](TParam* x) { x->SetAsMemo("m"); }, ftMemo, rtl::varString},
        {[](TParam* x) { x->SetAsFMTBCD(rtl::IntegerToBcd(5)); }, ftFMTBcd, rtl::varFMTBcd},
        {[](TParam* x) { x->SetAsSQLTimeStamp(rtl::DateTimeToSQLTimeStamp(36526)); }, ftTimeStamp,
         rtl::varSQLTimeStamp},
    };
    for (const Case& c : cases) {
        c.set(p);
        EXPECT_EQ(p->DataType(), c.type) << FieldTypeName(c.type);
        EXPECT_EQ(p->Value().VarType(), c.kind) << FieldTypeName(c.type);
        EXPECT_FALSE(p->IsNull());
        EXPECT_TRUE(p->Bound());
    }
    EXPECT_EQ(p->ParamType(), ptInput);
}

TEST(Params, NullsTextAndTypeChanges) {
    TParams params;
    TParam* p = params.AddParam();
    p->SetName("X");
    EXPECT_TRUE(p->IsNull());
    EXPECT_EQ(p->AsInteger(), 0);
    EXPECT_EQ(p->AsString(), "");
    EXPECT_EQ(p->AsDateTime(), 0.0);
    EXPECT_TRUE(p->Value().IsNull());

    p->SetAsBoolean(false);
    EXPECT_EQ(p->AsString(), "False");
    p->SetAsBoolean(true);
    EXPECT_EQ(p->Text(), "True");

    // A fixed-char parameter stays fixed-char when given text.
    p->SetDataType(ftFixedChar);
    p->SetAsString("abc");
    EXPECT_EQ(p->DataType(), ftFixedChar);

    // A declared type converts the value; an impossible conversion clears it.
    p->SetAsString("42");
    p->SetDataType(ftInteger);
    EXPECT_EQ(p->Value().VarType(), rtl::varInteger);
    EXPECT_EQ(p->AsInteger(), 42);
    p->SetAsString("x");
    p->SetDataType(ftInteger);
    EXPECT_TRUE(p->IsNull());

    // Value sets the type only when it is still unknown.
    TParam* q = params.AddParam();
    q->SetValue(Variant(int16_t{3}));
    EXPECT_EQ(q->DataType(), ftSmallint);
    q->SetValue(Variant("text"));
    EXPECT_EQ(q->DataType(), ftSmallint);
    q->Clear();
    EXPECT_TRUE(q->IsNull());
}

TEST(Params, LookupByNameAndValueLists) {
    TComponent owner;
    owner.SetName("Query");
    TParams params(&owner);
    params.CreateParam(ftInteger, "Id", ptInput)->SetAsInteger(1);
    params.CreateParam(ftString, "Name", ptInput)->SetAsString("n");
    EXPECT_EQ(params.FindParam("ID"), params.Items(0));
    EXPECT_EQ(params.FindParam("none"), nullptr);
    try {
        params.ParamByName("none");
        FAIL();
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Query: Parameter 'none' not found");
    }
    Variant v = params.ParamValues("id;name");
    ASSERT_TRUE(v.IsArray());
    EXPECT_EQ(v.GetElement(0).AsInteger(), 1);
    EXPECT_EQ(v.GetElement(1).AsString(), "n");
    params.SetParamValues("Id;Name", rtl::VarArrayOf({Variant(7), rtl::Null()}));
    EXPECT_EQ(params.ParamByName("Id")->AsInteger(), 7);
    EXPECT_TRUE(params.ParamByName("Name")->IsNull());

    TParams copy;
    copy.Assign(&params);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_TRUE(copy.IsEqual(params));
    EXPECT_EQ(copy.Items(0)->AsInteger(), 7);
    params.ParamByName("Id")->SetAsInteger(8);
    EXPECT_FALSE(copy.IsEqual(params));

    TParams other;
    other.CreateParam(ftUnknown, "NAME", ptInput);
    other.CreateParam(ftUnknown, "Extra", ptInput);
    params.ParamByName("Name")->SetAsString("named");
    other.AssignValues(params);
    EXPECT_EQ(other.Items(0)->AsString(), "named");
    EXPECT_TRUE(other.Items(1)->IsNull());
}

TEST(Params, ParseSQL) {
    struct Case {
        const char* sql;
        const char* parsed;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"select * from t where a = :a and b=:B1", "select * from t where a = ? and b=?", {"a", "B1"}},
        {"insert into t values (:x, :y, :x)", "insert into t values (?, ?, ?)", {"x", "y", "x"}},
        {"select ':no' from dual where c = :c", "select ':no' from dual where c = ?", {"c"}},
        {"select 'it''s :no' x from t", "select 'it''s :no' x from t", {}},
        {"select \"A:B\" from t", "select \"A:B\" from t", {}},
        {"begin :r := f(:p); end;", "begin ? := f(?); end;", {"r", "p"}},
        {"begin x := 1; end;", "begin x := 1; end;", {}},
        {"select a::int from t", "select a:int from t", {}},
        {"select 1 -- :c\nfrom t where d = :d", "select 1 -- :c\nfrom t where d = ?", {"d"}},
        {"select /* :c */ :\"quoted name\" from t", "select /* :c */ ? from t", {"quoted name"}},
        {"select ':unterminated", "select ':unterminated", {}},
        {"a = :", "a = :", {}},
    };
    for (const Case& c : cases) {
        TParams params;
        EXPECT_EQ(params.ParseSQL(c.sql, true), c.parsed) << c.sql;
        std::vector<std::string> names;
        for (int i = 0; i < params.Count(); ++i) names.push_back(params.Items(i)->Name());
        EXPECT_EQ(names, c.names) << c.sql;
        TParams none;
        none.ParseSQL(c.sql, false);
        EXPECT_EQ(none.Count(), 0);
    }
}

TEST(Params, NativeBuffersRoundTrip) {
    TParams params;
    TParam* p = params.AddParam();
    p->SetAsInteger(-5);
    EXPECT_EQ(p->GetDataSize(), 4);
    int32_t i = 0;
    p->GetData(&i);
    EXPECT_EQ(i, -5);

    p->SetAsString("abc");
    EXPECT_EQ(p->GetDataSize(), 4);
    char text[4];
    p->GetData(text);
    EXPECT_STREQ(text, "abc");

    TParam* d = params.AddParam();
    d->SetAsDateTime(rtl::EncodeDate(2000, 1, 1) + 0.5);
    double ms = 0;
    d->GetData(&ms);
    EXPECT_EQ(ms, 730120.0 * 86400000 + 43200000);
    TParam* e = params.AddParam();
    e->SetDataType(ftDateTime);
    e->SetData(&ms);
    EXPECT_EQ(e->AsDateTime(), d->AsDateTime());
    e->SetData(nullptr);
    EXPECT_TRUE(e->IsNull());
}

// A dataset with one cell per field, for assigning between fields and parameters.
class TOneRowDataSet : public TDataSet {
public:
    using TDataSet::TDataSet;
    std::map<const TField*, TBytes> cells;
    bool GetFieldData(TField* field, void* buffer) override {
        auto it = cells.find(field);
        if (it == cells.end()) return false;
        if (buffer) std::memcpy(buffer, it->second.data(), it->second.size());
        return true;
    }
    using TDataSet::GetFieldData;
    void SetFieldData(TField* field, const void* buffer) override {
        if (!buffer) {
            cells.erase(field);
            return;
        }
        auto* p = static_cast<const uint8_t*>(buffer);
        cells[field] = TBytes(p, p + field->DataSize());
    }
    using TDataSet::SetFieldData;
};

TEST(Params, AssignFromAndToFields) {
    TOneRowDataSet ds;
    auto* name = new TStringField(&ds);
    name->SetFieldName("NAME");
    name->SetSize(12);
    name->SetDataSet(&ds);
    name->SetAsString("value");
    auto* id = new TAutoIncField(&ds);
    id->SetFieldName("ID");
    id->SetDataSet(&ds);

    TParams params;
    TParam* p = params.AddParam();
    p->AssignField(name);
    EXPECT_EQ(p->Name(), "NAME");
    EXPECT_EQ(p->DataType(), ftString);
    EXPECT_EQ(p->Size(), 12);
    EXPECT_EQ(p->AsString(), "value");
    TParam* q = params.AddParam();
    q->Assign(id);  // a null field
    EXPECT_EQ(q->DataType(), ftInteger);
    EXPECT_TRUE(q->IsNull());
    q->SetAsInteger(9);
    id->Assign(q);
    EXPECT_EQ(id->AsInteger(), 9);
    EXPECT_THROW(p->Assign(&ds), rtl::EConvertError);
}

}  // namespace
