// Parameters holding object, REF, collection and XMLTYPE values: the value each kind makes, the
// typed getters and setters, null rules, sharing; such parameters bound through TOraSQL and
// TOraStoredProc on the stand-in, in and out; their SQL monitor texts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DataSetFixture.h"
#include "ParamsFixture.h"
#include "dataaccess/components/DASQLMonitor.h"
#include "platform/rtl/DateTime.h"

using namespace dac;

namespace {

// One reference held by the test, given back at the end of the scope.
template <class T>
struct Held {
    explicit Held(T* value) : p(value) {}
    ~Held() {
        if (p) p->Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return p; }
    T* p;
};

struct Kind {
    db::TFieldType type;
    const char* name;
    std::function<bool(TSharedObject*)> isOfKind;
};

const std::vector<Kind>& Kinds() {
    static const std::vector<Kind> kinds = {
        {db::ftADT, "object",
         [](TSharedObject* o) {
             return dynamic_cast<TOraObject*>(o) && !dynamic_cast<TOraArray*>(o) &&
                    !dynamic_cast<TOraRef*>(o) && !dynamic_cast<TOraXML*>(o);
         }},
        {db::ftArray, "array",
         [](TSharedObject* o) { return dynamic_cast<TOraArray*>(o) && !dynamic_cast<TOraNestTable*>(o); }},
        {db::ftReference, "REF", [](TSharedObject* o) { return dynamic_cast<TOraRef*>(o) != nullptr; }},
        {db::ftDataSet, "nested table",
         [](TSharedObject* o) { return dynamic_cast<TOraNestTable*>(o) != nullptr; }},
        {ftExtXML, "XMLTYPE", [](TSharedObject* o) { return dynamic_cast<TOraXML*>(o) != nullptr; }},
    };
    return kinds;
}

using ParamObjectsTest = ParamsTest;

}  // namespace

TEST_F(ParamObjectsTest, EachKindMakesItsOwnEmptyValueAndDropsItWithTheType) {
    for (const Kind& k : Kinds()) {
        auto* p = Add();
        EXPECT_FALSE(p->IsObjectDataType()) << k.name;
        p->SetDataType(k.type);
        EXPECT_TRUE(p->IsObjectDataType()) << k.name;
        TSharedObject* made = p->GetParamObject();
        ASSERT_NE(nullptr, made) << k.name;
        EXPECT_TRUE(k.isOfKind(made)) << k.name;
        EXPECT_EQ(nullptr, static_cast<TOraObject*>(made)->GetObjectType()) << k.name << ": typed later";
        EXPECT_TRUE(p->IsNull()) << k.name;
        EXPECT_FALSE(p->IsBlobDataType()) << k.name;

        // another type releases the value: a holder of its own keeps the last reference
        made->AddRef();
        EXPECT_EQ(2, made->RefCount()) << k.name;
        p->SetDataType(db::ftString);
        EXPECT_EQ(nullptr, p->GetParamObject()) << k.name;
        EXPECT_EQ(1, made->RefCount()) << k.name;
        made->Release();
    }
}

TEST_F(ParamObjectsTest, GettersTurnAnUnknownTypeIntoTheirKindAndAnswerNoneForOthers) {
    struct Getter {
        db::TFieldType kind;
        std::function<TSharedObject*(TOraParam*)> get;
    };
    const std::vector<Getter> getters = {
        {db::ftADT, [](TOraParam* p) { return p->AsObject(); }},
        {db::ftArray, [](TOraParam* p) { return p->AsArray(); }},
        {db::ftDataSet, [](TOraParam* p) { return p->AsTable(); }},
        {db::ftReference, [](TOraParam* p) { return p->AsRef(); }},
        {ftExtXML, [](TOraParam* p) { return p->AsXML(); }},
    };
    for (const Getter& g : getters) {
        auto* p = Add();
        TSharedObject* got = g.get(p);
        EXPECT_EQ(g.kind, p->DataType());
        ASSERT_NE(nullptr, got);
        EXPECT_EQ(p->GetParamObject(), got);
        EXPECT_EQ(got, g.get(p)) << "the same value the second time";
        // a parameter of another kind gives none and keeps its type
        for (const Getter& other : getters) {
            if (other.kind == g.kind) continue;
            if (g.kind == db::ftDataSet && other.kind == db::ftArray) {
                EXPECT_EQ(got, other.get(p)) << "a nested table is an array too";
                continue;
            }
            EXPECT_EQ(nullptr, other.get(p))
                << static_cast<int>(g.kind) << " asked as " << static_cast<int>(other.kind);
            EXPECT_EQ(g.kind, p->DataType());
        }
    }
    auto* text = Add(db::ftString);
    EXPECT_EQ(nullptr, text->AsObject());
    EXPECT_EQ(db::ftString, text->DataType());
}

TEST_F(ParamObjectsTest, SettersShareTheValueAndTakeItsKind) {
    struct Case {
        TOraObject* value;
        db::TFieldType kind;
    };
    Held<TOraObject> object(new TOraObject());
    Held<TOraArray> array(new TOraArray());
    Held<TOraNestTable> table(new TOraNestTable());
    Held<TOraRef> ref(new TOraRef());
    Held<TOraXML> xml(new TOraXML());
    const std::vector<Case> cases = {{object.p, db::ftADT},
                                     {array.p, db::ftArray},
                                     {table.p, db::ftDataSet},
                                     {ref.p, db::ftReference},
                                     {xml.p, ftExtXML}};
    auto* p = Add(db::ftString);
    p->SetNational(true);
    p->SetAsString("text");
    for (const Case& c : cases) {
        TSharedObject* before = p->GetParamObject();
        const int beforeRefs = before ? before->RefCount() : 0;
        const int refs = c.value->RefCount();
        // every setter goes by the value's own kind, whichever is called
        p->SetAsObject(c.value);
        EXPECT_EQ(c.kind, p->DataType());
        EXPECT_EQ(c.value, p->GetParamObject());
        EXPECT_EQ(refs + 1, c.value->RefCount()) << "shared, not copied";
        EXPECT_FALSE(p->National());
        if (before) {
            EXPECT_EQ(beforeRefs - 1, before->RefCount()) << "the previous value is let go";
        }
    }
    // the typed setters share as well
    p->SetAsArray(array.p);
    EXPECT_EQ(db::ftArray, p->DataType());
    EXPECT_EQ(array.p, p->AsArray());
    p->SetAsTable(table.p);
    EXPECT_EQ(table.p, p->AsTable());
    p->SetAsRef(ref.p);
    EXPECT_EQ(ref.p, p->AsRef());
    p->SetAsXML(xml.p);
    EXPECT_EQ(xml.p, p->AsXML());
    p->SetAsObject(object.p);
    EXPECT_EQ(object.p, p->AsObject());
    EXPECT_EQ(2, object->RefCount());
    EXPECT_EQ(1, xml->RefCount());
    // no value: an empty one of the object kind
    p->SetAsObject(nullptr);
    EXPECT_EQ(db::ftADT, p->DataType());
    ASSERT_NE(nullptr, p->AsObject());
    EXPECT_NE(object.p, p->AsObject());
    EXPECT_EQ(1, object->RefCount());
}

TEST_F(ParamObjectsTest, XmlTextValueNullAndClear) {
    auto* p = Add(ftExtXML);
    EXPECT_TRUE(p->IsNull());
    EXPECT_TRUE(p->GetAsVariant().IsNull());
    EXPECT_EQ("", p->AsString());
    p->SetAsString("<a>1</a>");
    EXPECT_FALSE(p->IsNull());
    EXPECT_EQ("<a>1</a>", p->AsString());
    EXPECT_EQ("<a>1</a>", p->AsXML()->GetAsString());
    EXPECT_EQ("<a>1</a>", p->GetAsVariant().AsString());
    p->Clear();
    EXPECT_TRUE(p->IsNull());
    EXPECT_TRUE(p->AsXML()->GetIsNull());
    EXPECT_TRUE(p->GetAsVariant().IsNull());
    p->SetAsVariant(rtl::Variant("<b/>"));
    EXPECT_EQ("<b/>", p->AsXML()->GetAsString());
    EXPECT_EQ(ftExtXML, p->DataType());
    p->SetAsVariant(rtl::Variant::MakeNull());
    EXPECT_TRUE(p->IsNull());
    EXPECT_EQ(ftExtXML, p->DataType());
}

TEST_F(ParamObjectsTest, NullFollowsTheValueAndAVariantReferenceIsShared) {
    auto* p = Add(db::ftADT);
    EXPECT_TRUE(p->IsNull()) << "an empty value without a type is null";
    Held<TOraXML> xml(new TOraXML());
    xml->SetAsString("<x/>");
    // a value handed in a variant becomes the parameter's value as it is
    auto* x = Add(ftExtXML);
    x->SetAsVariant(rtl::Variant::FromObject(xml.p));
    EXPECT_EQ(xml.p, x->GetParamObject());
    EXPECT_EQ(2, xml->RefCount());
    EXPECT_FALSE(x->IsNull());
    EXPECT_EQ("<x/>", x->AsString());
    xml->SetIsNull(true);
    EXPECT_TRUE(x->IsNull()) << "the parameter reads its shared value's state";
    // a REF and collections without a value of the server are null
    for (db::TFieldType t : {db::ftReference, db::ftArray, db::ftDataSet}) EXPECT_TRUE(Add(t)->IsNull());
}

TEST_F(ParamObjectsTest, AssignSharesTheValueNullOrNot) {
    Held<TOraRef> ref(new TOraRef());
    auto* src = Add();
    src->SetAsRef(ref.p);
    src->SetParamType(db::ptOutput);
    ASSERT_TRUE(src->IsNull());
    auto* dst = Add();
    dst->Assign(src);
    EXPECT_EQ(db::ftReference, dst->DataType());
    EXPECT_EQ(db::ptOutput, dst->ParamType());
    EXPECT_EQ(ref.p, dst->GetParamObject()) << "a null value carries the type an output is read with";
    EXPECT_EQ(3, ref->RefCount());

    Held<TOraXML> xml(new TOraXML());
    xml->SetAsString("<v/>");
    auto* withText = Add();
    withText->SetAsXML(xml.p);
    dst->Assign(withText);
    EXPECT_EQ(ftExtXML, dst->DataType());
    EXPECT_EQ(xml.p, dst->GetParamObject());
    EXPECT_EQ(2, ref->RefCount()) << "the REF the target held is let go";
    EXPECT_EQ("<v/>", dst->AsString());
}

// ---------------------------------------------------------------------------------------------
// On the stand-in

namespace {

class ParamObjectsServerTest : public DataSetTest {
protected:
    void SetUp() override {
        DataSetTest::SetUp();
        dbExec(R"sql(
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'team_of', 'PROCEDURE',
  'SELECT lead AS P_LEAD, names AS P_NAMES, ids AS P_IDS, doc AS P_DOC FROM teams WHERE id = :P_ID;
   SELECT REF(p) AS P_REF FROM people p WHERE p.id = 7');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES
  ('', 'team_of', 1, 'P_ID', 'NUMBER', 'IN'), ('', 'team_of', 2, 'P_LEAD', 'person_t', 'OUT'),
  ('', 'team_of', 3, 'P_NAMES', 'names_t', 'OUT'), ('', 'team_of', 4, 'P_IDS', 'ids_t', 'OUT'),
  ('', 'team_of', 5, 'P_DOC', 'XMLTYPE', 'OUT'), ('', 'team_of', 6, 'P_REF', 'REF person_t', 'OUT');
INSERT INTO oci_procedure(package, name, kind, body) VALUES ('', 'rename_team', 'PROCEDURE',
  'UPDATE teams SET names = :P_NAMES, lead = :P_LEAD WHERE id = :P_ID');
INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES
  ('', 'rename_team', 1, 'P_ID', 'NUMBER', 'IN'), ('', 'rename_team', 2, 'P_NAMES', 'names_t', 'IN'),
  ('', 'rename_team', 3, 'P_LEAD', 'person_t', 'IN');
)sql");
        session_ = newSession();
        session_->Connect();
        for (const char* sql :
             {"CREATE TYPE addr_t AS OBJECT (street VARCHAR2(20), zip NUMBER(5))",
              "CREATE TYPE person_t AS OBJECT (id NUMBER(9), name VARCHAR2(20), born DATE, addr addr_t)",
              "CREATE TABLE people OF person_t", "CREATE TYPE names_t AS VARRAY(5) OF VARCHAR2(20)",
              "CREATE TYPE ids_t AS TABLE OF NUMBER",
              "CREATE TABLE teams(id NUMBER(9), lead person_t, names names_t, ids ids_t, doc XMLTYPE)"})
            session_->ExecSQL(sql);
        session_->ExecSQL("INSERT INTO people VALUES (7, 'Ann', NULL, addr_t('Elm', 12345))");
        session_->Commit();
    }
    void TearDown() override {
        session_.reset();
        DataSetTest::TearDown();
    }

    // A value of the named type, ready to be filled; the caller holds the one reference.
    template <class T>
    T* New(const char* type) {
        auto* t = new TOraType(session_->OCIConnection(), type);
        auto* value = new T(t);
        t->Release();
        value->AllocObjectOn(session_->OCIConnection()->GetSvcCtx());
        return value;
    }
    TOraObject* Person(int id, const char* name, const char* street, int zip) {
        auto* p = New<TOraObject>("person_t");
        p->SetAttrAsInteger("ID", id);
        p->SetAttrAsString("NAME", name);
        p->SetAttrAsDateTime("BORN", rtl::EncodeDateTime(1990, 5, 17, 0, 0, 0, 0));
        p->SetAttrAsString("ADDR.STREET", street);
        p->SetAttrAsInteger("ADDR.ZIP", zip);
        return p;
    }
    // Inserts team 1 through a TOraSQL with every kind as an input parameter.
    void InsertTeam() {
        Held<TOraObject> lead(Person(1, "Bob", "Oak", 54321));
        Held<TOraArray> names(New<TOraArray>("names_t"));
        names->SetItemAsString(0, "red");
        names->SetItemAsString(1, "blue");
        Held<TOraNestTable> ids(New<TOraNestTable>("ids_t"));
        for (int i = 0; i < 3; ++i) ids->SetItemAsInteger(i, 10 * (i + 1));
        Held<TOraXML> doc(new TOraXML());
        doc->SetAsString("<team>one</team>");
        auto sql = newSQL(session_.get(),
                          "insert into teams(id, lead, names, ids, doc) "
                          "values (:id, :lead, :names, :ids, :doc)");
        sql->ParamByName("ID")->SetAsInteger(1);
        sql->ParamByName("LEAD")->SetAsObject(lead.p);
        sql->ParamByName("NAMES")->SetAsArray(names.p);
        sql->ParamByName("IDS")->SetAsTable(ids.p);
        sql->ParamByName("DOC")->SetAsXML(doc.p);
        for (const char* n : {"LEAD", "NAMES", "IDS", "DOC"}) sql->ParamByName(n)->SetParamType(db::ptInput);
        sql->Execute();
        EXPECT_EQ(1, sql->RowsProcessed());
    }

    std::unique_ptr<TestSession> session_;
};

}  // namespace

TEST_F(ParamObjectsServerTest, InputValuesOfEveryKindGoIntoColumnsAndComeBackFromABlock) {
    InsertTeam();
    // an untyped value cannot be sent: the driver asks for its type
    {
        auto sql = newSQL(session_.get(), "insert into teams(id, lead) values (2, :lead)");
        sql->ParamByName("LEAD")->AsObject();
        sql->ParamByName("LEAD")->SetParamType(db::ptInput);
        EXPECT_NE(std::string::npos,
                  ErrorText([&] { sql->Execute(); }).find("Type of object must be defined"));
    }
    // out of a block: values typed by the user, the XMLTYPE typed by the session
    Held<TOraObject> lead(New<TOraObject>("person_t"));
    Held<TOraArray> names(New<TOraArray>("names_t"));
    Held<TOraNestTable> ids(New<TOraNestTable>("ids_t"));
    auto sql = newSQL(
        session_.get(),
        "BEGIN SELECT lead, names, ids, doc INTO :lead, :names, :ids, :doc FROM teams WHERE id = :id; END;");
    sql->ParamByName("ID")->SetAsInteger(1);
    sql->ParamByName("LEAD")->SetAsObject(lead.p);
    sql->ParamByName("NAMES")->SetAsArray(names.p);
    sql->ParamByName("IDS")->SetAsTable(ids.p);
    sql->ParamByName("DOC")->AsXML();
    for (const char* n : {"LEAD", "NAMES", "IDS", "DOC"}) sql->ParamByName(n)->SetParamType(db::ptOutput);
    sql->Execute();
    for (const char* n : {"LEAD", "NAMES", "IDS", "DOC"}) EXPECT_FALSE(sql->ParamByName(n)->IsNull()) << n;
    TOraObject* back = sql->ParamByName("LEAD")->AsObject();
    ASSERT_EQ(lead.p, back);
    EXPECT_EQ(1, back->GetAttrAsInteger("ID"));
    EXPECT_EQ("Bob", back->GetAttrAsString("NAME"));
    EXPECT_EQ(rtl::EncodeDateTime(1990, 5, 17, 0, 0, 0, 0), back->GetAttrAsDateTime("BORN"));
    EXPECT_EQ("Oak", back->GetAttrAsString("ADDR.STREET"));
    EXPECT_EQ(54321, back->GetAttrAsInteger("ADDR.ZIP"));
    TOraArray* list = sql->ParamByName("NAMES")->AsArray();
    ASSERT_EQ(2, list->GetSize());
    EXPECT_EQ("red", list->GetItemAsString(0));
    EXPECT_EQ("blue", list->GetItemAsString(1));
    TOraNestTable* table = sql->ParamByName("IDS")->AsTable();
    ASSERT_EQ(3, table->GetSize());
    EXPECT_EQ(30, table->GetItemAsInteger(2));
    EXPECT_EQ("<team>one</team>", sql->ParamByName("DOC")->AsString());

    // an update through the value read, read back into a new value
    back->SetAttrAsString("ADDR.STREET", "Ash");
    auto update = newSQL(session_.get(), "update teams set lead = :lead where id = 1");
    update->ParamByName("LEAD")->SetAsObject(back);
    update->ParamByName("LEAD")->SetParamType(db::ptInput);
    update->Execute();
    Held<TOraObject> fresh(New<TOraObject>("person_t"));
    sql->ParamByName("LEAD")->SetAsObject(fresh.p);
    sql->Execute();
    EXPECT_EQ("Ash", fresh->GetAttrAsString("ADDR.STREET"));
    EXPECT_EQ("Bob", fresh->GetAttrAsString("NAME"));
}

TEST_F(ParamObjectsServerTest, ARefOutOfABlockIsPinnedToItsTarget) {
    const char* block = "BEGIN SELECT REF(p) INTO :r FROM people p WHERE p.id = 7; END;";
    // the same parameter through the SQL component and through a query
    auto sql = newSQL(session_.get(), block);
    auto query = newQuery(session_.get(), block);
    struct Case {
        const char* name;
        TOraParams& params;
        std::function<void()> execute;
    };
    const std::vector<Case> cases = {{"TOraSQL", sql->Params(), [&] { sql->Execute(); }},
                                     {"TOraQuery", query->Params(), [&] { query->Execute(); }}};
    for (const Case& c : cases) {
        Held<TOraRef> ref(New<TOraRef>("person_t"));
        TOraParam* p = c.params.ParamByName("R");
        p->SetAsRef(ref.p);
        p->SetParamType(db::ptOutput);
        c.execute();
        TOraRef* back = p->AsRef();
        ASSERT_EQ(ref.p, back) << c.name;
        ASSERT_FALSE(p->IsNull()) << c.name;
        back->Pin();
        EXPECT_EQ("Ann", back->GetAttrAsString("NAME")) << c.name;
        EXPECT_EQ("Elm", back->GetAttrAsString("ADDR.STREET")) << c.name;
        back->Unpin();
    }
}

TEST_F(ParamObjectsServerTest, StoredProcedureArgumentsAreTypedByTheirDescription) {
    InsertTeam();
    auto proc = newProc(session_.get(), "team_of");
    proc->Prepare();
    ASSERT_EQ(6, proc->Params().Count());
    struct Expected {
        const char* name;
        db::TFieldType type;
        const char* typeName;  // empty: none
    };
    for (const Expected& e : std::vector<Expected>{{"P_LEAD", db::ftADT, "PERSON_T"},
                                                   {"P_NAMES", db::ftArray, "NAMES_T"},
                                                   {"P_IDS", db::ftDataSet, "IDS_T"},
                                                   {"P_DOC", ftExtXML, ""},
                                                   {"P_REF", db::ftReference, "PERSON_T"}}) {
        TOraParam* p = proc->ParamByName(e.name);
        EXPECT_EQ(e.type, p->DataType()) << e.name;
        EXPECT_EQ(db::ptOutput, p->ParamType()) << e.name;
        auto* value = dynamic_cast<TOraObject*>(p->GetParamObject());
        ASSERT_NE(nullptr, value) << e.name;
        if (*e.typeName) {
            ASSERT_NE(nullptr, value->GetObjectType()) << e.name;
            EXPECT_NE(std::string::npos, value->GetObjectType()->Name.find(e.typeName)) << e.name;
        }
    }
    proc->ParamByName("P_ID")->SetAsInteger(1);
    proc->Execute();
    TOraObject* lead = proc->ParamByName("P_LEAD")->AsObject();
    EXPECT_EQ("Bob", lead->GetAttrAsString("NAME"));
    EXPECT_EQ(54321, lead->GetAttrAsInteger("ADDR.ZIP"));
    EXPECT_EQ(2, proc->ParamByName("P_NAMES")->AsArray()->GetSize());
    EXPECT_EQ("blue", proc->ParamByName("P_NAMES")->AsArray()->GetItemAsString(1));
    EXPECT_EQ(3, proc->ParamByName("P_IDS")->AsTable()->GetSize());
    EXPECT_EQ(20, proc->ParamByName("P_IDS")->AsTable()->GetItemAsInteger(1));
    EXPECT_EQ("<team>one</team>", proc->ParamByName("P_DOC")->AsString());
    TOraRef* ref = proc->ParamByName("P_REF")->AsRef();
    ASSERT_FALSE(ref->GetIsNull());
    ref->Pin();
    EXPECT_EQ("Ann", ref->GetAttrAsString("NAME"));
    ref->Unpin();

    // a collection and an object passed in to a procedure
    auto rename = newProc(session_.get(), "rename_team");
    rename->Prepare();
    rename->ParamByName("P_ID")->SetAsInteger(1);
    TOraArray* names = rename->ParamByName("P_NAMES")->AsArray();
    ASSERT_NE(nullptr, names);
    names->AllocObjectOn(session_->OCIConnection()->GetSvcCtx());
    for (const char* n : {"x", "y", "z"}) names->SetItemAsString(names->GetSize(), n);
    Held<TOraObject> lead2(Person(9, "Cy", "Fir", 11111));
    rename->ParamByName("P_LEAD")->SetAsObject(lead2.p);
    rename->Execute();
    proc->Execute();
    EXPECT_EQ(3, proc->ParamByName("P_NAMES")->AsArray()->GetSize());
    EXPECT_EQ("z", proc->ParamByName("P_NAMES")->AsArray()->GetItemAsString(2));
    EXPECT_EQ("Cy", proc->ParamByName("P_LEAD")->AsObject()->GetAttrAsString("NAME"));
    EXPECT_EQ("Fir", proc->ParamByName("P_LEAD")->AsObject()->GetAttrAsString("ADDR.STREET"));
}

TEST_F(ParamObjectsServerTest, MonitorTextsNameTheTypeAndCountTheItems) {
    TOraSQLMonitor monitor;
    Held<TOraObject> lead(Person(1, "Bob", "Oak", 54321));
    Held<TOraArray> names(New<TOraArray>("names_t"));
    names->SetItemAsString(0, "red");
    names->SetItemAsString(1, "blue");
    Held<TOraNestTable> ids(New<TOraNestTable>("ids_t"));
    for (int i = 0; i < 3; ++i) ids->SetItemAsInteger(i, i);
    Held<TOraArray> noNames(New<TOraArray>("names_t"));
    noNames->SetIsNull(false);
    auto sql = newSQL(session_.get(), "BEGIN SELECT REF(p) INTO :r FROM people p WHERE p.id = 7; END;");
    Held<TOraRef> ref(New<TOraRef>("person_t"));
    sql->ParamByName("R")->SetAsRef(ref.p);
    sql->ParamByName("R")->SetParamType(db::ptOutput);
    sql->Execute();
    const std::string person = ":PERSON_T", namesType = ":NAMES_T", idsType = ":IDS_T";
    struct Case {
        const char* name;
        std::function<void(TOraParam*)> set;
        std::string type, value;
    };
    const std::vector<Case> cases = {
        {"object", [&](TOraParam* p) { p->SetAsObject(lead.p); }, "OBJECT" + person,
         "<OBJECT of " + person + ">"},
        {"untyped object", [](TOraParam* p) { p->AsObject(); }, "OBJECT:unknown", "<NULL>"},
        {"varray", [&](TOraParam* p) { p->SetAsArray(names.p); }, "ARRAY" + namesType, "<VARRAY[2]>"},
        {"empty varray", [&](TOraParam* p) { p->SetAsArray(noNames.p); }, "ARRAY" + namesType, "<VARRAY[0]>"},
        {"nested table", [&](TOraParam* p) { p->SetAsTable(ids.p); }, "TABLE" + idsType, "<TABLE[3]>"},
        {"REF", [&](TOraParam* p) { p->SetAsRef(ref.p); }, "Ref" + person, "<REF of " + person + ">"},
        {"untyped REF", [](TOraParam* p) { p->AsRef(); }, "Ref:unknown", "<NULL>"},
        {"XMLTYPE", [](TOraParam* p) { p->AsXML()->SetAsString("<a/>"); }, "XMLTYPE", "<a/>"},
    };
    for (const Case& c : cases) {
        TOraParams params;
        auto* p = static_cast<TOraParam*>(params.Add());
        p->SetName("V");
        c.set(p);
        EXPECT_EQ(c.type, monitor.GetParamDataType(p)) << c.name;
        EXPECT_EQ(c.value, monitor.GetParamValue(p)) << c.name;
    }
}
