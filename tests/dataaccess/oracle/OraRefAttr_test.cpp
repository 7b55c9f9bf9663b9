// REFs inside values on the stand-in: REF attributes of object types (a type referring to itself),
// read through object tables, object columns and DEREF, written through the child REF value and
// through a pinned target; collections of REFs with their element children and their record
// storage; REF parameters of PL/SQL blocks and stored procedures, in and out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "OraValueFixture.h"
#include "dataaccess/oracle/OraObjects.h"
#include "dataaccess/oracle/OraTableData.h"

using namespace dac;

class OraRefAttrTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        for (const char* sql :
             {"CREATE TYPE person_t AS OBJECT (id NUMBER(9), name VARCHAR2(20), boss REF person_t)",
              "CREATE TABLE people OF person_t", "INSERT INTO people(id, name) VALUES (1, 'Ann')",
              "INSERT INTO people SELECT 2, 'Bob', REF(p) FROM people p WHERE p.id = 1",
              "INSERT INTO people SELECT 3, 'Cy', REF(p) FROM people p WHERE p.id = 2",
              "CREATE TYPE memo_t AS OBJECT (n NUMBER, who REF person_t, note VARCHAR2(10))",
              "CREATE TABLE memos(id NUMBER(9), m memo_t)",
              "CREATE TYPE person_refs AS TABLE OF REF person_t",
              "CREATE TYPE person_picks AS VARRAY(3) OF REF person_t",
              "CREATE TABLE crews(id NUMBER(9), crew person_refs, picks person_picks)"})
            Run(sql);
        Run("commit");
    }
    OCISvcCtx* Svc() { return conn_->GetSvcCtx(); }

    // A new value of the named type, allocated; the caller holds the one reference.
    template <class T>
    T* New(const char* type) {
        auto* t = new TOraType(conn_.get(), type);
        auto* value = new T(t);
        t->Release();
        value->AllocObjectOn(Svc());
        return value;
    }

    // The REF of people row id, a value of its own.
    TOraRef* RefOf(int id) {
        Row row(conn_.get(), "select REF(p) r from people p where p.id = " + std::to_string(id));
        auto* fetched = row.Value<TOraRef>("R");
        auto* copy = new TOraRef(fetched->GetObjectType());
        copy->SetOCISvcCtx(Svc());
        copy->Assign(fetched);
        return copy;
    }

    void InsertMemo(int id, TOraObject* memo) {
        auto command = Command("insert into memos(id, m) values (:id, :m)");
        command->GetParam(0)->SetDataType(dtInteger);
        command->GetParam(0)->SetValue(int32_t(id));
        command->GetParam(1)->SetDataType(dtObject);
        command->GetParam(1)->SetParamType(ptInput);
        command->GetParam(1)->SetObject(memo);
        command->Execute();
    }
};

TEST_F(OraRefAttrTest, ARefAttributeIsAPointerCellOfTheReferencedType) {
    Held<TOraType> person(new TOraType(conn_.get(), "person_t"));
    TAttribute* boss = person->AttributeByName("BOSS");
    EXPECT_EQ(dtReference, boss->DataType);
    EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), boss->Size);
    EXPECT_EQ(person.p, boss->ObjectType()) << "the type refers to itself";
    EXPECT_EQ(0u, boss->Offset % sizeof(void*));

    // a REF after a NUMBER starts on the next pointer boundary
    Held<TOraType> memo(new TOraType(conn_.get(), "memo_t"));
    TAttribute* who = memo->AttributeByName("WHO");
    const size_t cell = sizeof(void*);
    EXPECT_EQ((sizeof(OCINumber) + cell - 1) / cell * cell, who->Offset);
    EXPECT_EQ(who->Offset + cell, memo->AttributeByName("NOTE")->Offset);
    ASSERT_NE(nullptr, who->ObjectType());
    EXPECT_EQ("\"QEL\".\"PERSON_T\"", who->ObjectType()->Name);
    EXPECT_EQ(dtObject, who->ObjectType()->DataType);
    EXPECT_TRUE(memo->Aligned);

    // a REF to something that is no object type is refused and leaves no type behind
    Run("CREATE TYPE words_t AS TABLE OF VARCHAR2(5)");
    EXPECT_EQ(22863, OraErrorCode([&] { Run("CREATE TYPE bad_t AS OBJECT (w REF words_t)"); }));
    EXPECT_EQ(4043, OraErrorCode([&] { Run("CREATE TYPE bad_t AS OBJECT (w REF nothing_t)"); }));
    EXPECT_EQ(4043, OraErrorCode([&] { TOraType gone(conn_.get(), "bad_t"); }));
}

TEST_F(OraRefAttrTest, RefAttributesOfObjectTableRowsPinTheirTargetsTwoLevelsDeep) {
    // the REF column of the object table is a REF field
    Row plain(conn_.get(), "select id, boss from people where id = 2");
    EXPECT_EQ(dtReference, plain.Field("BOSS")->DataType);
    auto* boss = plain.Value<TOraRef>("BOSS");
    ASSERT_NE(nullptr, boss);
    boss->Pin();
    EXPECT_EQ("Ann", boss->GetAttrAsString("NAME"));
    boss->Unpin();

    // the row as an object: the REF attribute is a child REF, pinned at once
    Row row(conn_.get(), "select VALUE(p) v from people p where p.id = 3");
    auto* cy = row.Value<TOraObject>("V");
    ASSERT_NE(nullptr, cy);
    EXPECT_FALSE(cy->GetAttributeIsNull("BOSS"));
    auto* toBob = dynamic_cast<TOraRef*>(cy->GetAttrAsObject("BOSS"));
    ASSERT_NE(nullptr, toBob);
    EXPECT_EQ(cy, toBob->Owner);
    EXPECT_EQ(toBob, cy->GetAttrAsObject("BOSS")) << "one child per attribute";
    ASSERT_NE(nullptr, toBob->GetInstance());
    EXPECT_EQ("Bob", toBob->GetAttrAsString("NAME"));
    auto* toAnn = dynamic_cast<TOraRef*>(toBob->GetAttrAsObject("BOSS"));
    ASSERT_NE(nullptr, toAnn);
    EXPECT_EQ("Ann", toAnn->GetAttrAsString("NAME"));
    EXPECT_EQ(1, toAnn->GetAttrAsInteger("ID"));
    // Ann has no boss: a null REF, not pinned, and nothing to read through it
    auto* none = dynamic_cast<TOraRef*>(toAnn->GetAttrAsObject("BOSS"));
    ASSERT_NE(nullptr, none);
    EXPECT_TRUE(toAnn->GetAttributeIsNull("BOSS"));
    EXPECT_TRUE(none->GetIsNull());
    EXPECT_EQ(nullptr, none->GetInstance());
    EXPECT_EQ("Object is not allocated", ExceptionText([&] { none->GetAttrAsString("NAME"); }));

    // a path goes on through a REF attribute into its target
    EXPECT_EQ("Bob", cy->GetAttrAsString("BOSS.NAME"));
    EXPECT_EQ("Ann", cy->GetAttrAsString("BOSS.BOSS.NAME"));
    EXPECT_EQ(1, cy->GetAttrAsInteger("BOSS.BOSS.ID"));
    EXPECT_FALSE(cy->GetAttributeIsNull("BOSS.BOSS.NAME"));
    EXPECT_TRUE(cy->GetAttributeIsNull("BOSS.BOSS.BOSS.NAME")) << "Ann has no boss";
    EXPECT_EQ("", cy->GetAttrAsString("BOSS.BOSS.BOSS.NAME"));

    // the child field of the object field hands out the same REF value
    TFieldDesc* child = nullptr;
    for (int i = 0; i < row.rs.Fields().Count(); ++i)
        if (row.rs.Fields()[i]->HasParent() && row.rs.Fields()[i]->Name == "BOSS") child = row.rs.Fields()[i];
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(dtReference, child->DataType);
    EXPECT_EQ(toBob, row.rs.GetObject(child->FieldNo, row.rec.data()));

    // a REF column's attributes in SQL, named COLUMN.ATTRIBUTE and typed as the attribute
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "<null>"}, {"2", "Ann"}, {"3", "Bob"}}),
              Query("select p.id, p.boss.name from people p order by p.id"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"3"}}),
              Query("select p.id from people p where p.boss.name = 'Bob'"));
    {
        Row path(conn_.get(), "select p.boss.name, p.boss.id, p.boss.boss from people p where p.id = 3");
        EXPECT_EQ(dtString, path.Field("BOSS.NAME")->DataType);
        EXPECT_EQ(20, path.Field("BOSS.NAME")->Length);
        EXPECT_EQ(dtInteger, path.Field("BOSS.ID")->DataType);
        EXPECT_EQ(dtReference, path.Field("BOSS.BOSS")->DataType);
        auto* annRef = path.Value<TOraRef>("BOSS.BOSS");
        ASSERT_NE(nullptr, annRef);
        annRef->Pin();
        EXPECT_EQ("Ann", annRef->GetAttrAsString("NAME"));
        annRef->Unpin();
    }
    EXPECT_EQ(904, OraErrorCode([&] { Query("select p.boss.nothing from people p"); }));

    // DEREF of the REF column reads the target as an object with its own REF attribute
    Row deref(conn_.get(), "select DEREF(p.boss) b from people p where p.id = 3");
    auto* bob = deref.Value<TOraObject>("B");
    ASSERT_NE(nullptr, bob);
    EXPECT_EQ("Bob", bob->GetAttrAsString("NAME"));
    EXPECT_EQ("Ann", bob->GetAttrAsObject("BOSS")->GetAttrAsString("NAME"));
}

TEST_F(OraRefAttrTest, ARefWhoseTargetIsGoneReadsAsNull) {
    Run("delete from people where id = 1");
    Row row(conn_.get(), "select VALUE(p) v from people p where p.id = 2");
    auto* bob = row.Value<TOraObject>("V");
    EXPECT_FALSE(bob->GetAttributeIsNull("BOSS")) << "the REF itself is there";
    auto* boss = dynamic_cast<TOraRef*>(bob->GetAttrAsObject("BOSS"));
    ASSERT_NE(nullptr, boss);
    EXPECT_TRUE(boss->InvalidRef);
    EXPECT_TRUE(boss->GetIsNull());
    EXPECT_EQ(nullptr, boss->GetInstance());
}

TEST_F(OraRefAttrTest, ObjectColumnsWithRefAttributesRoundTrip) {
    Held<TOraRef> bob(RefOf(2));
    {
        Held<TOraObject> memo(New<TOraObject>("memo_t"));
        memo->SetAttrAsInteger("N", 5);
        memo->SetAttrAsString("NOTE", "hello");
        auto* who = dynamic_cast<TOraRef*>(memo->GetAttrAsObject("WHO"));
        ASSERT_NE(nullptr, who);
        EXPECT_TRUE(who->GetIsNull());
        EXPECT_TRUE(memo->GetAttributeIsNull("WHO"));
        who->Assign(bob.p);  // written into the memo, not into a REF of the child's own
        EXPECT_FALSE(memo->GetAttributeIsNull("WHO"));
        EXPECT_EQ(bob->GetAsHex(), who->GetAsHex());
        InsertMemo(1, memo.p);
        InsertMemo(2, memo.p);
    }
    {
        Row row(conn_.get(), "select m from memos where id = 1");
        auto* memo = row.Value<TOraObject>("M");
        ASSERT_NE(nullptr, memo);
        EXPECT_EQ(5, memo->GetAttrAsInteger("N"));
        EXPECT_EQ("hello", memo->GetAttrAsString("NOTE"));
        auto* who = dynamic_cast<TOraRef*>(memo->GetAttrAsObject("WHO"));
        ASSERT_NE(nullptr, who);
        EXPECT_EQ(bob->GetAsHex(), who->GetAsHex());
        EXPECT_EQ("Bob", who->GetAttrAsString("NAME"));

        // the REF made null, then another one: each goes to the server with an update
        who->SetIsNull(true);
        EXPECT_TRUE(memo->GetAttributeIsNull("WHO"));
        auto command = Command("update memos set m = :m where id = 2");
        command->GetParam(0)->SetDataType(dtObject);
        command->GetParam(0)->SetParamType(ptInput);
        command->GetParam(0)->SetObject(memo);
        command->Execute();
        Row back(conn_.get(), "select m from memos where id = 2");
        EXPECT_TRUE(back.Value<TOraObject>("M")->GetAttributeIsNull("WHO"));
        EXPECT_EQ("hello", back.Value<TOraObject>("M")->GetAttrAsString("NOTE"));

        Held<TOraRef> cy(RefOf(3));
        who->Assign(cy.p);
        command->Execute();
    }
    Row back(conn_.get(), "select m from memos where id = 2");
    auto* who = dynamic_cast<TOraRef*>(back.Value<TOraObject>("M")->GetAttrAsObject("WHO"));
    ASSERT_NE(nullptr, who);
    EXPECT_EQ("Cy", who->GetAttrAsString("NAME"));
    // the other row kept its REF
    Row first(conn_.get(), "select m from memos where id = 1");
    EXPECT_EQ("Bob", first.Value<TOraObject>("M")->GetAttrAsObject("WHO")->GetAttrAsString("NAME"));

    // a constructor in SQL takes a REF for a REF attribute, and nothing else
    Run("insert into memos values (3, memo_t(7, (select REF(p) from people p where p.id = 1), 'made'))");
    Row made(conn_.get(), "select m from memos where id = 3");
    EXPECT_EQ("Ann", made.Value<TOraObject>("M")->GetAttrAsString("WHO.NAME"));
    EXPECT_EQ(932, OraErrorCode([&] { Run("insert into memos values (4, memo_t(7, 5, 'bad'))"); }));
    EXPECT_EQ(932, OraErrorCode([&] { Run("insert into memos values (4, memo_t(7, 'Bob', 'bad'))"); }));
}

TEST_F(OraRefAttrTest, APinnedTargetsRefAttributeIsChangedAndFlushed) {
    {
        Row row(conn_.get(), "select boss from people where id = 3");
        auto* toBob = row.Value<TOraRef>("BOSS");
        toBob->Pin();
        EXPECT_EQ("Bob", toBob->GetAttrAsString("NAME"));
        // Bob's boss becomes Cy himself
        Held<TOraRef> cy(RefOf(3));
        auto* bobsBoss = dynamic_cast<TOraRef*>(toBob->GetAttrAsObject("BOSS"));
        ASSERT_NE(nullptr, bobsBoss);
        bobsBoss->Assign(cy.p);
        toBob->MarkUpdate();
        toBob->Flush();
    }
    Run("commit");
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"2", "Cy"}}),
              Query("select p.id, q.name from people p, people q where p.boss = REF(q) and p.id = 2"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"3", "Bob"}}),
              Query("select p.id, q.name from people p, people q where p.boss = REF(q) and p.id = 3"));
}

TEST_F(OraRefAttrTest, CollectionsOfRefsHandOutElementRefs) {
    Held<TOraRef> ann(RefOf(1));
    Held<TOraRef> cy(RefOf(3));
    struct Case {
        const char* type;
        const char* column;
    } cases[] = {{"person_refs", "crew"}, {"person_picks", "picks"}};
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ++id;
        {
            Held<TOraArray> list(std::string(c.type) == "person_refs"
                                     ? static_cast<TOraArray*>(New<TOraNestTable>(c.type))
                                     : New<TOraArray>(c.type));
            EXPECT_EQ(dtReference, list->GetItemType());
            TOraRef* first = list->GetItemAsRef(0);
            EXPECT_EQ(1, list->GetSize()) << "the getter grows the collection with a null REF";
            EXPECT_TRUE(list->GetItemIsNull(0));
            EXPECT_TRUE(first->GetIsNull());
            EXPECT_EQ(first, list->GetItemAsRef(0));
            first->Assign(ann.p);
            EXPECT_FALSE(list->GetItemIsNull(0));
            list->GetItemAsRef(2)->Assign(cy.p);  // element 1 stays a null REF
            EXPECT_EQ(3, list->GetSize());
            EXPECT_TRUE(list->GetItemIsNull(1));
            EXPECT_EQ("Cannot convert type to String", ExceptionText([&] { list->GetItemAsString(0); }));
            EXPECT_EQ("Cannot convert type to Object", ExceptionText([&] { list->GetItemAsObject(0); }));
            auto command = Command(AnsiString("insert into crews(id, ") + c.column + ") values (:id, :c)");
            command->GetParam(0)->SetDataType(dtInteger);
            command->GetParam(0)->SetValue(int32_t(id));
            command->GetParam(1)->SetDataType(std::string(c.type) == "person_refs" ? dtTable : dtArray);
            command->GetParam(1)->SetParamType(ptInput);
            command->GetParam(1)->SetObject(list.p);
            command->Execute();
        }
        Row row(conn_.get(),
                AnsiString("select ") + c.column + " from crews where id = " + std::to_string(id));
        auto* back = dynamic_cast<TOraArray*>(row.rs.GetObject(1, row.rec.data()));
        ASSERT_NE(nullptr, back);
        ASSERT_EQ(3, back->GetSize());
        TOraRef* r0 = back->GetItemAsRef(0);
        EXPECT_EQ(nullptr, r0->GetInstance()) << "element REFs are pinned by the caller";
        r0->Pin();
        EXPECT_EQ("Ann", r0->GetAttrAsString("NAME"));
        EXPECT_TRUE(back->GetItemAsRef(1)->GetIsNull());
        TOraRef* r2 = back->GetItemAsRef(2);
        r2->Pin();
        EXPECT_EQ("Cy", r2->GetAttrAsString("NAME"));
        EXPECT_EQ("Bob", r2->GetAttrAsObject("BOSS")->GetAttrAsString("NAME"));
    }
    // only collections of REFs hand out element REFs
    Run("CREATE TYPE nums_t AS TABLE OF NUMBER");
    Held<TOraNestTable> nums(New<TOraNestTable>("nums_t"));
    try {
        nums->GetItemAsRef(0);
        FAIL() << "a collection of numbers has no REF elements";
    } catch (const rtl::EConvertError& e) {
        EXPECT_STREQ("Cannot convert type to Reference", e.what());
    }
}

TEST_F(OraRefAttrTest, RecordStorageOverATableOfRefs) {
    Held<TOraRef> ann(RefOf(1));
    Held<TOraRef> bob(RefOf(2));
    Held<TOraNestTable> crew(New<TOraNestTable>("person_refs"));
    crew->GetItemAsRef(0)->Assign(ann.p);
    crew->GetItemAsRef(1)->Assign(bob.p);
    crew->GetItemAsRef(2)->Assign(ann.p);
    crew->DeleteItem(1);

    TTableData data;
    data.SetTable(crew.p);
    data.Open();
    ASSERT_EQ(1, data.GetFieldCount());
    TFieldDesc* f = data.Fields()[0];
    EXPECT_EQ(dtReference, f->DataType);
    EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), f->Size);
    std::vector<uint8_t> rec(static_cast<size_t>(data.RecordSize()), 0);
    std::vector<int> indexes;
    std::vector<std::string> names;
    while (true) {
        data.GetNextRecord(rec.data());
        if (data.Eof()) break;
        indexes.push_back(data.RecordIndex(rec.data()));
        auto* ref = dynamic_cast<TOraRef*>(data.GetObject(1, rec.data()));
        ASSERT_NE(nullptr, ref);
        EXPECT_EQ(crew->GetItemAsRef(indexes.back()), ref) << "the record shows the element's REF";
        ref->Pin();
        names.push_back(ref->GetAttrAsString("NAME"));
        ref->Unpin();
    }
    EXPECT_EQ((std::vector<int>{0, 2}), indexes);
    EXPECT_EQ((std::vector<std::string>{"Ann", "Ann"}), names);
    EXPECT_EQ(3, data.GetRecordCount()) << "the last index fetched + 1";

    // a record of its own holds a REF value, copied from the element and written back on post
    data.SetToBegin();
    data.GetNextRecord(rec.data());
    std::vector<uint8_t> edit(rec.size(), 0);
    std::memcpy(edit.data(), rec.data(), edit.size());
    data.CreateComplexFields(edit.data(), false);
    auto* own = dynamic_cast<TOraRef*>(data.GetObject(1, edit.data()));
    ASSERT_NE(nullptr, own);
    EXPECT_NE(crew->GetItemAsRef(0), own);
    data.CopyComplexFields(rec.data(), edit.data(), false);
    EXPECT_EQ(ann->GetAsHex(), own->GetAsHex());
    own->Assign(bob.p);
    EXPECT_EQ(ann->GetAsHex(), crew->GetItemAsRef(0)->GetAsHex()) << "the copy, not the element";
    data.PostRecord(edit.data());
    EXPECT_EQ(bob->GetAsHex(), crew->GetItemAsRef(0)->GetAsHex());

    // an inserted record becomes a new element holding the record's REF
    std::vector<uint8_t> fresh(rec.size(), 0);
    data.InitRecord(fresh.data());
    data.CreateComplexFields(fresh.data(), false);
    dynamic_cast<TOraRef*>(data.GetObject(1, fresh.data()))->Assign(bob.p);
    data.AppendRecord(fresh.data());
    ASSERT_EQ(4, crew->GetSize());
    EXPECT_EQ(3, data.RecordIndex(fresh.data()));
    EXPECT_EQ(bob->GetAsHex(), crew->GetItemAsRef(3)->GetAsHex());
    data.Close();
}

TEST_F(OraRefAttrTest, BlocksAndProceduresGiveBackAndTakeRefs) {
    Held<TOraType> person(new TOraType(conn_.get(), "person_t"));
    {
        // SELECT REF(...) INTO an output REF of a block
        Held<TOraRef> out(new TOraRef(person.p));
        auto command = Command("BEGIN SELECT REF(p) INTO :r FROM people p WHERE p.id = :id; END;");
        command->GetParam(0)->SetDataType(dtReference);
        command->GetParam(0)->SetParamType(ptOutput);
        command->GetParam(0)->SetObject(out.p);
        command->GetParam(1)->SetDataType(dtInteger);
        command->GetParam(1)->SetValue(int32_t(3));
        command->Execute();
        ASSERT_FALSE(out->GetIsNull());
        out->Pin();
        EXPECT_EQ("Cy", out->GetAttrAsString("NAME"));
        out->Unpin();
        // a REF without a type of its own works as well, and a row without a boss gives a null REF
        Held<TOraRef> untyped(new TOraRef());
        auto boss = Command("BEGIN SELECT boss INTO :r FROM people WHERE id = :id; END;");
        boss->GetParam(0)->SetDataType(dtReference);
        boss->GetParam(0)->SetParamType(ptOutput);
        boss->GetParam(0)->SetObject(untyped.p);
        boss->GetParam(1)->SetDataType(dtInteger);
        boss->GetParam(1)->SetValue(int32_t(2));
        boss->Execute();
        Held<TOraRef> ann(RefOf(1));
        ASSERT_FALSE(untyped->GetIsNull());
        EXPECT_EQ(ann->GetAsHex(), untyped->GetAsHex());
        boss->GetParam(1)->SetValue(int32_t(1));
        boss->Execute();
        EXPECT_TRUE(untyped->GetIsNull());

        // an input REF of a block
        auto update = Command("BEGIN UPDATE people SET boss = :r WHERE id = 1; END;");
        update->GetParam(0)->SetDataType(dtReference);
        update->GetParam(0)->SetParamType(ptInput);
        update->GetParam(0)->SetObject(out.p);
        update->Execute();
        EXPECT_EQ((std::vector<std::vector<std::string>>{{"Cy"}}),
                  Query("select q.name from people p, people q where p.boss = REF(q) and p.id = 1"));
    }

    // a stored procedure with an IN REF and an OUT REF argument
    dbExec(R"sql(
INSERT INTO oci_procedure(package, name, overload, kind, body) VALUES
  (NULL, 'boss_of', 0, 'PROCEDURE',
   'SELECT p.boss AS P_BOSS, p.name AS P_NAME FROM people p WHERE REF(p) = :P_WHO');
INSERT INTO oci_argument(package, name, overload, position, argument, data_type, direction, data_length)
VALUES
  (NULL, 'boss_of', 0, 1, 'P_WHO', 'REF person_t', 'IN', NULL),
  (NULL, 'boss_of', 0, 2, 'P_BOSS', 'REF person_t', 'OUT', NULL),
  (NULL, 'boss_of', 0, 3, 'P_NAME', 'VARCHAR2', 'OUT', 20);
)sql");
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("BOSS_OF", true, sql);
    ASSERT_EQ(3, command->GetParamCount());
    EXPECT_EQ(dtReference, command->GetParam(0)->GetDataType());
    EXPECT_EQ(dtReference, command->GetParam(1)->GetDataType());
    EXPECT_EQ(ptOutput, command->GetParam(1)->GetParamType());
    Held<TOraRef> who(RefOf(3));
    Held<TOraRef> boss(new TOraRef(person.p));
    command->GetParam(0)->SetObject(who.p);
    command->GetParam(1)->SetObject(boss.p);
    command->Execute();
    EXPECT_EQ("Cy", command->GetParam(2)->GetValue().AsString());
    ASSERT_FALSE(boss->GetIsNull());
    boss->Pin();
    EXPECT_EQ("Bob", boss->GetAttrAsString("NAME"));
    EXPECT_EQ("Ann", boss->GetAttrAsObject("BOSS")->GetAttrAsString("NAME"));
    boss->Unpin();
}

// Two types that refer to each other by REF hold each other's descriptions. When the cache lets go
// of the session's types (disconnect), a ring nothing outside holds goes; a type still held keeps
// its attribute types.
TEST_F(OraRefAttrTest, TypesReferringToEachOtherGoWhenNothingElseHoldsThem) {
    Run("CREATE TYPE dept_t AS OBJECT (name VARCHAR2(10), head REF dept_t)");
    Run("CREATE TYPE staff_t AS OBJECT (id NUMBER(9), dept REF dept_t)");
    Run("CREATE OR REPLACE TYPE dept_t AS OBJECT (name VARCHAR2(10), head REF staff_t)");
    auto* dept = new TOraType(conn_.get(), "dept_t");
    auto* staff = static_cast<TOraType*>(dept->AttributeByName("HEAD")->ObjectType());
    ASSERT_NE(nullptr, staff);
    auto* back = static_cast<TOraType*>(staff->AttributeByName("DEPT")->ObjectType());
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(staff, back->AttributeByName("HEAD")->ObjectType()) << "a ring";
    dept->Release();

    auto* memo = new TOraType(conn_.get(), "memo_t");  // held here through the disconnect
    // the user's dept_t went with its release; staff_t and the dept_t it leads to only hold each other
    EXPECT_EQ(2, ObjectTypes().ClearTypes(Svc(), false));
    auto* person = memo->AttributeByName("WHO")->ObjectType();
    ASSERT_NE(nullptr, person);
    EXPECT_NE(nullptr, person->AttributeByName("NAME"));
    memo->Release();
}
