// Object types, object values, collections and object columns of the client on the stand-in: type
// layouts with native pointer cells, the type cache, attribute paths, element access, and values
// written through parameters and read back through the record set, nested two levels.
#include "dataaccess/oracle/OraObjects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OraCommandFixture.h"
#include "OraValueFixture.h"

using namespace dac;

namespace {

constexpr uint16_t P = sizeof(void*);

}  // namespace

class OraObjectsTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        for (const char* ddl :
             {"CREATE TYPE addr_t AS OBJECT (street VARCHAR2(30), zip NUMBER(5))",
              "CREATE TYPE phones_t AS VARRAY(3) OF VARCHAR2(20)", "CREATE TYPE nums_t AS TABLE OF NUMBER",
              "CREATE TYPE person_t AS OBJECT (amount NUMBER(12,2), name VARCHAR2(40), born DATE, "
              "home addr_t, phones phones_t, score BINARY_DOUBLE, ratio BINARY_FLOAT)",
              "CREATE TYPE people_t AS TABLE OF person_t",
              "CREATE TABLE club(id NUMBER(9,0), boss person_t, members people_t)"})
            Run(ddl);
    }

    TOraType* Type(const char* name) { return new TOraType(conn_.get(), name); }
    OCISvcCtx* Svc() { return conn_->GetSvcCtx(); }
};

TEST_F(OraObjectsTest, TypeLayoutUsesNativePointerCells) {
    Held<TOraType> t(Type("person_t"));
    EXPECT_EQ("\"PERSON_T\"", t->Name);
    EXPECT_EQ(dtObject, t->DataType);
    EXPECT_TRUE(t->Valid);
    EXPECT_TRUE(t->Aligned);
    struct Expect {
        const char* name;
        TDataType type;
        int32_t size;
        uint16_t valueSize, offset, indOffset;
    } expect[] = {
        {"AMOUNT", dtFloat, 8, 22, 0, 2},     {"NAME", dtString, 41, P, 24, 4},
        {"BORN", dtDateTime, 8, 8, 32, 6},    {"HOME", dtObject, P, 32, 40, 8},
        {"PHONES", dtArray, P, P, 72, 14},    {"SCORE", dtFloat, 8, 8, 72 + P, 16},
        {"RATIO", dtFloat, 8, 4, 80 + P, 18},
    };
    ASSERT_EQ(7, t->GetAttributeCount());
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(expect[i].name);
        TAttribute* a = t->GetAttribute(i);
        EXPECT_EQ(expect[i].name, a->Name);
        EXPECT_EQ(expect[i].type, a->DataType);
        EXPECT_EQ(expect[i].size, a->Size);
        EXPECT_EQ(expect[i].valueSize, a->ValueSize);
        EXPECT_EQ(expect[i].offset, a->Offset);
        EXPECT_EQ(expect[i].indOffset, a->IndicatorOffset);
    }
    EXPECT_EQ(dtBDouble, t->GetAttribute(5)->SubDataType);
    EXPECT_EQ(84 + P, t->ValueSize);
    EXPECT_EQ(20, t->IndicatorSize);  // HOME embeds its own three indicators

    auto* home = static_cast<TOraType*>(t->GetAttribute(3)->ObjectType());
    EXPECT_EQ("\"QEL\".\"ADDR_T\"", home->Name);
    EXPECT_EQ(dtInteger, home->GetAttribute(1)->DataType);  // NUMBER(5)
    EXPECT_EQ(4, home->GetAttribute(1)->Size);
    auto* phones = static_cast<TOraType*>(t->GetAttribute(4)->ObjectType());
    EXPECT_EQ(dtArray, phones->DataType);
    EXPECT_EQ(3, phones->Size);
    ASSERT_EQ(1, phones->GetAttributeCount());
    EXPECT_EQ("ELEMENT", phones->GetAttribute(0)->Name);
    EXPECT_EQ(20, phones->GetAttribute(0)->Length);

    Held<TOraType> table(Type("people_t"));
    EXPECT_EQ(dtTable, table->DataType);
    EXPECT_EQ(dtObject, table->GetAttribute(0)->DataType);
}

TEST_F(OraObjectsTest, TheCacheFindsTypesByNormalisedNameAndServiceContext) {
    Held<TOraType> t(Type("person_t"));
    TOraType* home = static_cast<TOraType*>(t->GetAttribute(3)->ObjectType());
    EXPECT_EQ(home, ObjectTypes().FindType(Svc(), "qel.addr_t"));
    EXPECT_EQ(t.p, ObjectTypes().FindType(Svc(), "person_t"));
    auto other = newConnection();
    other->Connect("");
    EXPECT_EQ(nullptr, ObjectTypes().FindType(other->GetSvcCtx(), "qel.addr_t"));
    EXPECT_THROW(Type("no_such_t"), EOraError);
    EXPECT_EQ(nullptr, ObjectTypes().FindType(Svc(), "no_such_t"));  // a failed describe leaves no type
}

TEST_F(OraObjectsTest, ClearingTheCacheNeverFreesATypeStillHeld) {
    auto* value = new TOraObject(Type("addr_t"));
    value->GetObjectType()->Release();  // the value holds the only reference
    TOraType* type = value->GetObjectType();
    ObjectTypes().ClearTypes(Svc(), true);
    EXPECT_EQ(type, ObjectTypes().FindType(Svc(), "addr_t"));
    EXPECT_FALSE(type->Valid);
    type->Reattach(Svc());
    EXPECT_TRUE(type->Valid);

    ObjectTypes().ClearTypes(Svc(), false);
    EXPECT_EQ(nullptr, ObjectTypes().FindType(Svc(), "addr_t"));
    // still alive for its holder (AddressSanitizer would see a use after free)
    EXPECT_EQ("\"ADDR_T\"", value->GetObjectType()->Name);
    EXPECT_EQ(2, value->GetObjectType()->GetAttributeCount());
    value->Free();  // the last reference destroys the type
}

TEST_F(OraObjectsTest, ObjectValueNullnessAndAllocation) {
    Held<TOraObject> v(new TOraObject(Type("addr_t")));
    v->GetObjectType()->Release();
    EXPECT_TRUE(v->GetIsNull());
    EXPECT_EQ(nullptr, v->GetInstance());  // asking allocates nothing
    v->AllocObjectOn(Svc());
    EXPECT_TRUE(v->GetIsNull());  // a new object starts null
    v->SetIsNull(false);
    EXPECT_FALSE(v->GetIsNull());
    EXPECT_TRUE(v->GetAttributeIsNull("STREET"));
    v->Cached = true;
    EXPECT_EQ("Object is cached", ExceptionText([&] { v->Pin(); }));
    v->Cached = false;
    // a plain object has no REF: pinning it is refused, not handed a missing REF
    EXPECT_EQ("Object has no REF to pin: only REF values can be pinned", ExceptionText([&] { v->Pin(); }));
    EXPECT_EQ("Type of object must be defined", ExceptionText([] {
                  TOraObject bare;
                  bare.CheckType();
              }));
}

TEST_F(OraObjectsTest, AttributesAreReadAndWrittenByPath) {
    Held<TOraObject> v(new TOraObject(Type("person_t")));
    v->GetObjectType()->Release();
    v->AllocObjectOn(Svc());
    v->SetAttrAsString("NAME", "Ann");
    v->SetAttrAsFloat("amount", 1234.5);
    v->SetAttrAsInteger("HOME.ZIP", 12345);
    v->SetAttrAsString("home.street", "Main St. 1");
    v->SetAttrAsDateTime("BORN", rtl::EncodeDateTime(1999, 12, 31, 23, 59, 58, 0));
    v->SetAttrAsFloat("RATIO", 2.75);
    v->SetAttrAsFloat("SCORE", -0.125);
    v->SetAttrAsString("PHONES[1]", "555-1");

    EXPECT_FALSE(v->GetIsNull());
    EXPECT_EQ("Ann", v->GetAttrAsString("NAME"));
    EXPECT_DOUBLE_EQ(1234.5, v->GetAttrAsFloat("AMOUNT"));
    EXPECT_EQ(1234, v->GetAttrAsInteger("AMOUNT"));
    EXPECT_EQ(12345, v->GetAttrAsLargeInt("HOME.ZIP"));
    EXPECT_EQ("Main St. 1", v->GetAttrAsString("HOME.STREET"));
    EXPECT_DOUBLE_EQ(rtl::EncodeDateTime(1999, 12, 31, 23, 59, 58, 0), v->GetAttrAsDateTime("BORN"));
    EXPECT_EQ(2, v->GetAttrAsInteger("RATIO"));  // truncated toward zero
    EXPECT_DOUBLE_EQ(2.75, v->GetAttrAsFloat("RATIO"));
    EXPECT_DOUBLE_EQ(-0.125, v->GetAttrAsFloat("SCORE"));
    EXPECT_EQ("555-1", v->GetAttrAsString("PHONES[1]"));
    EXPECT_TRUE(v->GetAttributeIsNull("PHONES[0]"));  // appended null on the way
    EXPECT_TRUE(v->GetAttributeIsNull("PHONES[2]"));  // beyond the elements: null
    EXPECT_EQ("", v->GetAttrAsString("PHONES[2]"));
    auto* phones = dynamic_cast<TOraArray*>(v->GetAttrAsObject("PHONES"));
    ASSERT_NE(nullptr, phones);
    EXPECT_EQ(2, phones->GetSize());
    EXPECT_EQ(phones, v->GetAttrAsObject("PHONES"));  // the same child value each time

    v->SetAttributeIsNull("HOME.ZIP", true);
    EXPECT_TRUE(v->GetAttributeIsNull("HOME.ZIP"));
    EXPECT_EQ(0, v->GetAttrAsInteger("HOME.ZIP"));
    EXPECT_FALSE(v->GetAttributeIsNull("HOME.STREET"));

    struct Bad {
        std::function<void()> call;
        const char* message;
    } bad[] = {
        {[&] { v->GetAttrAsFloat("NAME"); }, "Cannot convert type to OCINumber"},
        {[&] { v->SetAttrAsDateTime("AMOUNT", 0); }, "Cannot convert type to OCIDate"},
        {[&] { v->GetAttrAsString("AMOUNT"); }, "Cannot convert type to OCIString"},
        {[&] { v->GetAttrAsObject("NAME"); }, "Cannot convert type to Object"},
        {[&] { v->GetAttrAsString("NOPE"); }, "Attribute NOPE not found"},
        {[&] {
             bool b = v->GetAttributeIsNull("PHONES[1");
             (void)b;
         },
         "Invalid attribute name"},
        {[&] { v->SetAttrAsString("PHONES[3]", "x"); }, "ORA-22165"},  // VARRAY(3)
    };
    for (const Bad& b : bad)
        EXPECT_NE(std::string::npos, ExceptionText(b.call).find(b.message))
            << b.message << " / " << ExceptionText(b.call);
}

TEST_F(OraObjectsTest, RecordStorageReadsAndWritesAttributesInItsOwnForms) {
    Held<TOraObject> v(new TOraObject(Type("person_t")));
    v->GetObjectType()->Release();
    v->AllocObjectOn(Svc());
    // a text longer than its declared length comes out cut, still ending in a zero byte
    v->SetAttrAsString("HOME.STREET", std::string(35, 'x'));
    void* buf = nullptr;
    bool blank = true, native = true;
    v->GetAttributeValue("HOME.STREET", buf, blank, native);
    ASSERT_NE(nullptr, buf);
    EXPECT_FALSE(blank);
    EXPECT_FALSE(native);
    EXPECT_EQ(std::string(30, 'x'), static_cast<char*>(buf));
    TDBObject::FreeAttributeBuffer(buf);

    const int32_t zip = 4711;
    v->SetAttributeValue("HOME.ZIP", &zip);
    buf = nullptr;
    v->GetAttributeValue("HOME.ZIP", buf, blank, native);
    int32_t got = 0;
    std::memcpy(&got, buf, 4);
    EXPECT_EQ(4711, got);
    TDBObject::FreeAttributeBuffer(buf);

    v->SetAttributeValue("HOME.ZIP", nullptr);
    buf = nullptr;
    v->GetAttributeValue("HOME.ZIP", buf, blank, native);
    EXPECT_TRUE(blank);
    EXPECT_EQ(nullptr, buf);
}

TEST_F(OraObjectsTest, CollectionElementsGrowShrinkAndConvert) {
    Held<TOraArray> phones(new TOraArray(Type("phones_t")));
    phones->GetObjectType()->Release();
    phones->AllocObjectOn(Svc());
    phones->SetItemAsString(2, "c");
    EXPECT_EQ(3, phones->GetSize());
    EXPECT_TRUE(phones->GetItemIsNull(0));
    EXPECT_EQ("c", phones->GetItemAsString(2));
    // an empty text is a null element, not a text holding a NUL character
    phones->SetItemAsString(2, "");
    EXPECT_TRUE(phones->GetItemIsNull(2));
    EXPECT_EQ("", phones->GetItemAsString(2));
    EXPECT_EQ("", phones->GetItemAsString(10));
    EXPECT_FALSE(phones->GetItemIsNull(10));
    phones->SetSize(1);
    EXPECT_EQ(1, phones->GetSize());
    EXPECT_EQ("Cannot convert type to Integer", ExceptionText([&] { phones->GetItemAsInteger(0); }));

    Held<TOraNestTable> nums(new TOraNestTable(Type("nums_t")));
    nums->GetObjectType()->Release();
    nums->AllocObjectOn(Svc());
    nums->SetItemAsInteger(4, 7);
    EXPECT_EQ(5, nums->GetSize());
    EXPECT_TRUE(nums->GetItemIsNull(3));
    EXPECT_EQ(7, nums->GetItemAsInteger(4));
    nums->SetItemAsFloat(0, 2.5);
    EXPECT_DOUBLE_EQ(2.5, nums->GetItemAsFloat(0));
    nums->DeleteItem(2);
    EXPECT_EQ(4, nums->GetSize());  // deleted elements are not counted
    EXPECT_EQ("Cannot convert type to Date", ExceptionText([&] { nums->GetItemAsDateTime(0); }));
    EXPECT_EQ("Type of object must be Table", ExceptionText([&] {
                  TOraNestTable wrong(phones->GetObjectType());
                  wrong.CheckType();
              }));

    Held<TOraNestTable> people(new TOraNestTable(Type("people_t")));
    people->GetObjectType()->Release();
    people->AllocObjectOn(Svc());
    TOraObject* first = people->GetItemAsObject(1);
    EXPECT_EQ(first, people->GetItemAsObject(1));
    EXPECT_EQ(2, people->GetSize());
    first->SetAttrAsString("NAME", "Bob");
    first->SetAttrAsString("PHONES[0]", "555-2");
    EXPECT_EQ("Bob", people->GetItemAsObject(1)->GetAttrAsString("NAME"));
    Held<TOraNestTable> copy(new TOraNestTable(people->GetObjectType()));
    people->GetObjectType()->AddRef();
    copy->GetObjectType()->Release();
    copy->AllocObjectOn(Svc());
    copy->Assign(people.p);
    EXPECT_EQ("555-2", copy->GetItemAsObject(1)->GetAttrAsString("PHONES[0]"));
    first->SetAttrAsString("NAME", "changed");
    EXPECT_EQ("Bob", copy->GetItemAsObject(1)->GetAttrAsString("NAME"));  // a deep copy
}

namespace {

TOraObject* NewBoss(TOraType* type, OCISvcCtx* svc, const std::string& name) {
    auto* boss = new TOraObject(type);
    boss->AllocObjectOn(svc);
    boss->SetAttrAsString("NAME", name);
    boss->SetAttrAsFloat("AMOUNT", 99.5);
    boss->SetAttrAsString("HOME.STREET", "Elm 2");
    boss->SetAttrAsInteger("HOME.ZIP", 10115);
    boss->SetAttrAsString("PHONES[0]", "555-0");
    boss->SetAttrAsDateTime("BORN", rtl::EncodeDate(1980, 2, 29));
    return boss;
}

}  // namespace

TEST_F(OraObjectsTest, ObjectsAndCollectionsRoundTripThroughTheRecordSet) {
    Held<TOraType> personType(Type("person_t"));
    Held<TOraType> peopleType(Type("people_t"));
    {
        Held<TOraObject> boss(NewBoss(personType.p, Svc(), "Ann"));
        Held<TOraNestTable> members(new TOraNestTable(peopleType.p));
        members->AllocObjectOn(Svc());
        members->GetItemAsObject(0)->SetAttrAsString("NAME", "Bob");
        members->GetItemAsObject(0)->SetAttrAsInteger("HOME.ZIP", 1);
        members->GetItemAsObject(1)->SetAttrAsString("PHONES[1]", "555-9");
        auto command = Command("insert into club(id, boss, members) values (1, :boss, :members)");
        for (int k = 0; k < 2; ++k) {
            TOraParamDesc* p = command->GetParam(k);
            p->SetDataType(k == 0 ? dtObject : dtTable);
            p->SetParamType(ptInput);
            p->SetObject(k == 0 ? static_cast<TOraObject*>(boss.p) : members.p);
        }
        command->Execute();
    }

    auto read = [&](const std::function<void(TOCIRecordSet&, void*)>& check) {
        TOCIRecordSet rs;
        rs.SetConnection(conn_.get());
        rs.SetSQLText("select id, boss, members from club where id = 1");
        rs.Open();
        rs.GetNextRecord(nullptr);
        std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
        check(rs, rec.data());
        rs.Close();
    };
    read([&](TOCIRecordSet& rs, void* rec) {
        TFieldDesc* name = rs.Fields().FindField("BOSS.NAME");
        ASSERT_NE(nullptr, name);
        char text[41] = {};
        bool blank = true;
        rs.GetField(name->FieldNo, rec, text, blank);
        EXPECT_FALSE(blank);
        EXPECT_STREQ("Ann", text);
        TFieldDesc* zip = rs.Fields().FindField("BOSS.HOME.ZIP");
        ASSERT_NE(nullptr, zip);
        int32_t z = 0;
        rs.GetField(zip->FieldNo, rec, &z, blank);
        EXPECT_EQ(10115, z);
        TFieldDesc* phone = rs.Fields().FindField("BOSS.PHONES[0]");
        ASSERT_NE(nullptr, phone);
        char tel[21] = {};
        rs.GetField(phone->FieldNo, rec, tel, blank);
        EXPECT_STREQ("555-0", tel);

        TFieldDesc* members = rs.Fields().FindField("MEMBERS");
        ASSERT_NE(nullptr, members);
        EXPECT_EQ(dtTable, members->DataType);
        auto* table = dynamic_cast<TOraNestTable*>(rs.GetObject(members->FieldNo, rec));
        ASSERT_NE(nullptr, table);
        ASSERT_EQ(2, table->GetSize());
        EXPECT_EQ("Bob", table->GetItemAsObject(0)->GetAttrAsString("NAME"));
        EXPECT_EQ(1, table->GetItemAsObject(0)->GetAttrAsInteger("HOME.ZIP"));
        EXPECT_TRUE(table->GetItemAsObject(1)->GetAttributeIsNull("NAME"));
        EXPECT_EQ("555-9", table->GetItemAsObject(1)->GetAttrAsString("PHONES[1]"));

        // the fetched value, changed and bound back
        auto* boss = dynamic_cast<TOraObject*>(rs.GetObject(rs.Fields().FindField("BOSS")->FieldNo, rec));
        ASSERT_NE(nullptr, boss);
        boss->SetAttrAsString("NAME", "Ann Lee");
        boss->SetAttributeIsNull("HOME", true);
        table->DeleteItem(0);
        auto command = Command("update club set boss = :b, members = :m where id = 1");
        command->GetParam(0)->SetDataType(dtObject);
        command->GetParam(0)->SetObject(boss);
        command->GetParam(1)->SetDataType(dtTable);
        command->GetParam(1)->SetObject(table);
        command->Execute();
    });
    read([&](TOCIRecordSet& rs, void* rec) {
        char text[41] = {};
        bool blank = true;
        rs.GetField(rs.Fields().FindField("BOSS.NAME")->FieldNo, rec, text, blank);
        EXPECT_STREQ("Ann Lee", text);
        int32_t z = 0;
        rs.GetField(rs.Fields().FindField("BOSS.HOME.ZIP")->FieldNo, rec, &z, blank);
        EXPECT_TRUE(blank);
        auto* table =
            dynamic_cast<TOraNestTable*>(rs.GetObject(rs.Fields().FindField("MEMBERS")->FieldNo, rec));
        ASSERT_EQ(1, table->GetSize());
        EXPECT_EQ("555-9", table->GetItemAsObject(0)->GetAttrAsString("PHONES[1]"));
    });
    // a NULL object column reads as a null value
    Run("insert into club(id) values (2)");
    TOCIRecordSet rs;
    rs.SetConnection(conn_.get());
    rs.SetSQLText("select boss, members from club where id = 2");
    rs.Open();
    rs.GetNextRecord(nullptr);
    std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
    rs.GetRecord(rec.data());
    EXPECT_TRUE(rs.GetNull(1, rec.data()));
    EXPECT_TRUE(rs.GetNull(rs.Fields().FindField("MEMBERS")->FieldNo, rec.data()));
    rs.Close();
}

TEST_F(OraObjectsTest, AttributesWrittenByNameThroughOciAndLongChainsRefused) {
    Held<TOraObject> v(new TOraObject(Type("person_t")));
    v->GetObjectType()->Release();
    v->AllocObjectOn(Svc());
    OCIString* text = nullptr;
    ASSERT_EQ(OCI_SUCCESS, dac::OCIStringAssignText(v->hEnv, v->hError,
                                                    reinterpret_cast<const OraText*>("Oak 3"), 5, &text));
    v->SetAttribute("HOME.STREET", text, 0);
    dac::OCIObjectFree(v->hEnv, v->hError, text, OCI_OBJECTFREE_FORCE);
    OCINumber zip{};
    const int64_t z = 90210;
    ASSERT_EQ(OCI_SUCCESS, dac::OCINumberFromInt(v->hError, &z, sizeof z, OCI_NUMBER_SIGNED, &zip));
    v->SetAttribute("home.zip", &zip, 0);
    EXPECT_FALSE(v->GetIsNull());
    EXPECT_EQ("Oak 3", v->GetAttrAsString("HOME.STREET"));
    EXPECT_EQ(90210, v->GetAttrAsInteger("HOME.ZIP"));
    v->SetAttribute("HOME.ZIP", nullptr, -1);
    EXPECT_TRUE(v->GetAttributeIsNull("HOME.ZIP"));

    std::string chain = "A";
    for (int k = 1; k < 32; ++k) chain += ".A";
    EXPECT_EQ("Attribute path " + chain + " has more than 31 names",
              ExceptionText([&] { v->SetAttribute(chain, nullptr, -1); }));
    EXPECT_NE(std::string::npos,
              ExceptionText([&] { v->SetAttribute("HOME.NOPE", nullptr, -1); }).find("ORA-22840"));
}

TEST_F(OraObjectsTest, AttributesWrittenThroughOciWithIndexSegments) {
    Held<TOraObject> v(new TOraObject(Type("person_t")));
    v->GetObjectType()->Release();
    v->AllocObjectOn(Svc());
    auto text = [&](const char* s) {
        OCIString* str = nullptr;
        EXPECT_EQ(OCI_SUCCESS,
                  dac::OCIStringAssignText(v->hEnv, v->hError, reinterpret_cast<const OraText*>(s),
                                           static_cast<ub4>(std::strlen(s)), &str));
        return str;
    };
    OCIString* phone = text("555-1");
    ASSERT_EQ("(nothing raised)", ExceptionText([&] {
                  v->SetAttribute("phones[1]", phone, 0);
              }));  // grows the VARRAY to two elements
    EXPECT_FALSE(v->GetIsNull());
    EXPECT_EQ("555-1", v->GetAttrAsString("PHONES[1]"));
    EXPECT_TRUE(v->GetAttributeIsNull("PHONES[0]"));
    auto* phones = dynamic_cast<TOraArray*>(v->GetAttrAsObject("PHONES"));
    ASSERT_NE(nullptr, phones);
    EXPECT_EQ(2, phones->GetSize());
    ASSERT_EQ("(nothing raised)", ExceptionText([&] {
                  v->SetAttribute("PHONES[1]", nullptr, -1);
              }));  // the element's own value, now null
    EXPECT_TRUE(v->GetAttributeIsNull("PHONES[1]"));
    EXPECT_NE(std::string::npos,
              ExceptionText([&] { v->SetAttribute("PHONES[3]", phone, 0); }).find("ORA-22165"));
    EXPECT_EQ("Invalid attribute name", ExceptionText([&] { v->SetAttribute("PHONES[1]X", phone, 0); }));
    dac::OCIObjectFree(v->hEnv, v->hError, phone, OCI_OBJECTFREE_FORCE);

    // names after an element of objects are written on that element
    Held<TOraNestTable> people(new TOraNestTable(Type("people_t")));
    people->GetObjectType()->Release();
    people->AllocObjectOn(Svc());
    OCIString* name = text("Eve");
    ASSERT_EQ("(nothing raised)", ExceptionText([&] { people->SetAttribute("[1].NAME", name, 0); }));
    OCINumber zip{};
    const int64_t z = 12345;
    ASSERT_EQ(OCI_SUCCESS, dac::OCINumberFromInt(people->hError, &z, sizeof z, OCI_NUMBER_SIGNED, &zip));
    ASSERT_EQ("(nothing raised)", ExceptionText([&] { people->SetAttribute("[1].HOME.ZIP", &zip, 0); }));
    dac::OCIObjectFree(people->hEnv, people->hError, name, OCI_OBJECTFREE_FORCE);
    ASSERT_EQ(2, people->GetSize());
    EXPECT_EQ("Eve", people->GetItemAsObject(1)->GetAttrAsString("NAME"));
    EXPECT_EQ(12345, people->GetItemAsObject(1)->GetAttrAsInteger("HOME.ZIP"));
    EXPECT_TRUE(people->GetItemAsObject(0)->GetAttributeIsNull("NAME"));
}
