#include <gtest/gtest.h>

#include "dataaccess/core/MemData.h"

namespace dac {
namespace {

TEST(MemDataTypes, RecordSizesOfFixedCodesAndHandles) {
    struct Case {
        TDataType dt;
        int length;
        int32_t size;
    };
    const int p = static_cast<int>(sizeof(void*));
    const Case cases[] = {
        {dtString, 5, 6},        {dtGuid, 38, 39},        {dtWideString, 3, 8}, {dtBytes, 4, 4},
        {dtVarBytes, 4, 6},      {dtInt8, 0, 1},          {dtSmallint, 0, 2},   {dtWord, 0, 2},
        {dtBoolean, 0, 2},       {dtInteger, 0, 4},       {dtUInt32, 0, 4},     {dtFloat, 0, 8},
        {dtDateTime, 0, 8},      {dtLargeint, 0, 8},      {dtBCD, 0, 8},        {dtFmtBcd, 0, 34},
        {dtSQLTimeStamp, 0, 16}, {dtBlob, 0, p},          {dtWideMemo, 0, p},   {dtVariant, 0, p},
        {dtStringRef, 100, p},   {dtVarBytesRef, 100, p}, {dtCursor, 0, p},     {dtNumber, 0, p},
    };
    for (const Case& c : cases) EXPECT_EQ(DataTypeSize(c.dt, c.length), c.size) << "code " << c.dt;
}

TEST(MemDataTypes, CodeSetsAndClasses) {
    TDataTypeSet s = DataTypeSet({dtBlob, dtWideOraClob});
    EXPECT_TRUE(s.test(dtBlob));
    EXPECT_TRUE(s.test(dtWideOraClob));
    EXPECT_FALSE(s.test(dtMemo));
    EXPECT_TRUE(IsBlobDataType(dtWideMemo));
    EXPECT_FALSE(IsBlobDataType(dtOraBlob));
    EXPECT_TRUE(IsHeapDataType(dtVarBytesRef));
    EXPECT_FALSE(IsHeapDataType(dtVarBytes));
}

// An object type that reports its destruction.
class WatchedType : public TObjectType {
public:
    explicit WatchedType(bool* destroyed) : destroyed_(destroyed) {}
    ~WatchedType() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

TAttribute* NewAttribute(const AnsiString& name, TDataType dt, TObjectType* nested = nullptr) {
    auto* a = new TAttribute();
    a->Name = name;
    a->DataType = dt;
    a->SetObjectType(nested);
    return a;
}

// CUST_T: NAME (text), ADDRESS (ADDR_T: CITY, ZIP), PHONES (PHONES_T: array of text)
struct MemDataTypeFixture : ::testing::Test {
    MemDataTypeFixture() {
        addr = new TObjectType();
        addr->Name = "ADDR_T";
        addr->DataType = dtObject;
        addr->AddAttribute(NewAttribute("City", dtString));
        addr->AddAttribute(NewAttribute("ZIP", dtString));
        phones = new TObjectType();
        phones->Name = "PHONES_T";
        phones->DataType = dtArray;
        phones->Size = 5;
        phones->AddAttribute(NewAttribute("ELEMENT", dtString));
        cust = new TObjectType();
        cust->Name = "CUST_T";
        cust->DataType = dtObject;
        cust->AddAttribute(NewAttribute("NAME", dtString));
        auto* a = new TAttribute();
        a->Name = "ADDRESS";
        a->DataType = dtObject;
        cust->AddAttribute(a);
        a->SetObjectType(addr);
        auto* ph = new TAttribute();
        ph->Name = "PHONES";
        ph->DataType = dtArray;
        cust->AddAttribute(ph);
        ph->SetObjectType(phones);
    }
    ~MemDataTypeFixture() override {
        cust->Free();
        addr->Free();
        phones->Free();
    }
    TObjectType* addr;
    TObjectType* phones;
    TObjectType* cust;
};

TEST_F(MemDataTypeFixture, AttributePaths) {
    struct Case {
        const char* path;
        const char* owner;  // type of the attribute found, nullptr when not found
        const char* name;
    };
    const Case cases[] = {
        {"NAME", "CUST_T", "NAME"},           {"address.city", "ADDR_T", "City"},
        {"  ADDRESS.ZIP", "ADDR_T", "ZIP"},   {"PHONES[3]", "PHONES_T", "ELEMENT"},
        {"PHONES[1]", "PHONES_T", "ELEMENT"}, {"PHONES", "CUST_T", "PHONES"},
        {"NAME.X", nullptr, nullptr},  // a text attribute cannot be descended
        {"ADDRESS.STREET", nullptr, nullptr}, {"PHONES[2", nullptr, nullptr},
        {"NOPE", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        TAttribute* a = cust->FindAttribute(c.path);
        if (!c.owner) {
            EXPECT_EQ(a, nullptr) << c.path;
            continue;
        }
        ASSERT_NE(a, nullptr) << c.path;
        EXPECT_EQ(a->Owner->Name, c.owner) << c.path;
        EXPECT_EQ(a->Name, c.name) << c.path;
    }
    ASSERT_NE(phones->FindAttribute("[2]"), nullptr);
    EXPECT_EQ(phones->FindAttribute("[2]")->Name, "ELEMENT");
}

TEST_F(MemDataTypeFixture, AttributeByNameRaisesForAbsentPath) {
    EXPECT_EQ(cust->AttributeByName("ADDRESS.CITY")->Name, "City");
    try {
        cust->AttributeByName("ADDRESS.STREET");
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Attribute ADDRESS.STREET not found");
    }
}

TEST_F(MemDataTypeFixture, NestedTypesAreCountedByAttributesAndDescriptors) {
    EXPECT_EQ(addr->RefCount(), 2);  // the fixture and ADDRESS
    {
        TFieldDesc d;
        d.SetObjectType(addr);
        d.SetObjectType(addr);
        EXPECT_EQ(addr->RefCount(), 3);
    }
    EXPECT_EQ(addr->RefCount(), 2);
}

TEST(MemDataTypes, SelfReferencingTypeIsFreedWithItsLastOutsideReference) {
    bool destroyed = false;
    auto* node = new WatchedType(&destroyed);
    node->Name = "NODE_T";
    node->DataType = dtObject;
    auto* next = new TAttribute();
    next->Name = "NEXT";
    next->DataType = dtReference;
    node->AddAttribute(next);
    next->SetObjectType(node);  // refers to its own owner: held uncounted
    EXPECT_EQ(node->RefCount(), 1);
    auto* holder = new TDBObject();
    holder->SetObjectType(node);
    node->Free();
    EXPECT_FALSE(destroyed);
    holder->Free();
    EXPECT_TRUE(destroyed);
}

TEST(MemDataTypes, SharedObjectLivesUntilItsLastReference) {
    bool destroyed = false;
    auto* obj = new WatchedType(&destroyed);
    EXPECT_EQ(obj->RefCount(), 1);
    EXPECT_EQ(TSharedObject::FromHandle(obj->GetHandle()), obj);
    obj->AddRef();
    obj->Free();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(obj->RefCount(), 1);
    obj->Release();
    EXPECT_TRUE(destroyed);
}

TEST(MemDataTypes, FindFieldPrefersTopLevelNamesThenFullNames) {
    TFieldDescs fields;
    auto add = [&](const char* name, const char* actual, TFieldDesc* parent) {
        auto* d = new TFieldDesc();
        d->Name = name;
        d->ActualName = actual;
        d->ParentField = parent;
        d->FieldNo = static_cast<uint16_t>(fields.Count() + 1);
        fields.Add(d);
        return d;
    };
    TFieldDesc* address = add("ADDRESS", "ADDRESS", nullptr);
    TFieldDesc* childCity = add("CITY", "ADDRESS.CITY", address);
    TFieldDesc* zip = add("ZIP", "ADDRESS.ZIP", address);
    TFieldDesc* topCity = add("CITY", "CITY", nullptr);

    EXPECT_EQ(fields.FindField("address.city"), childCity);
    EXPECT_EQ(fields.FindField("city"), topCity);
    EXPECT_EQ(fields.FindField("zip"), zip);  // a child found by its own name
    EXPECT_EQ(fields.FindField("ADDRESS.NONE"), nullptr);
    EXPECT_EQ(fields.IndexOf(zip), 2);
    try {
        fields.FieldByName("NONE");
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Field NONE not found");
    }
}

}  // namespace
}  // namespace dac
