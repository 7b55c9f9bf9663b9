// REF and XMLTYPE values on the stand-in: object tables, REF columns read through the record set,
// pinning, editing and flushing the target, dangling REFs, REF parameters; XMLTYPE columns read as
// text, written through an OCIString or a temporary CLOB, and the value's text rules.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "OraCommandFixture.h"
#include "OraValueFixture.h"
#include "dataaccess/oracle/OraObjects.h"
#include "dataaccess/oracle/OraRefData.h"

using namespace dac;

class OraRefTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        for (const char* sql :
             {"CREATE TYPE addr_t AS OBJECT (street VARCHAR2(30), zip NUMBER(5))",
              "CREATE TYPE emp_t AS OBJECT (id NUMBER(9), name VARCHAR2(20), hired DATE, pay NUMBER(10,2), "
              "home addr_t)",
              "CREATE TABLE emps OF emp_t", "CREATE TABLE team(id NUMBER(9), lead REF emp_t)",
              "INSERT INTO emps VALUES (1, 'Ann', '2020-02-29 08:30:00', 1234.5, NULL)",
              "INSERT INTO emps(id, name) VALUES (2, 'Bob')",
              "INSERT INTO team SELECT 10, REF(e) FROM emps e WHERE e.id = 1",
              "INSERT INTO team SELECT 11, REF(e) FROM emps e WHERE e.id = 2",
              "INSERT INTO team(id) VALUES (12)"})
            Run(sql);
        Run("commit");
    }
    OCISvcCtx* Svc() { return conn_->GetSvcCtx(); }
};

TEST_F(OraRefTest, ObjectTablesShowTheirAttributesAsColumnsAndRefsAsTheirOwnType) {
    auto rows = Query("select id, name, pay from emps order by id");
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ((std::vector<std::string>{"1", "Ann", "1234.5"}), rows[0]);
    EXPECT_EQ((std::vector<std::string>{"2", "Bob", "<null>"}), rows[1]);

    Row row(conn_.get(), "select e.id, REF(e), VALUE(e) from emps e where e.id = 1");
    TFieldDesc* ref = row.Field("REF(E)");
    EXPECT_EQ(dtReference, ref->DataType);
    EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), ref->Size);
    ASSERT_NE(nullptr, ref->ObjectType());
    EXPECT_EQ("\"QEL\".\"EMP_T\"", static_cast<TOraType*>(ref->ObjectType())->Name);
    EXPECT_EQ(dtObject, row.Field("VALUE(E)")->DataType);
    auto* value = row.Value<TOraObject>("VALUE(E)");
    ASSERT_NE(nullptr, value);
    EXPECT_EQ("Ann", value->GetAttrAsString("NAME"));
    EXPECT_EQ(rtl::EncodeDate(2020, 2, 29) + rtl::EncodeTime(8, 30, 0, 0), value->GetAttrAsDateTime("HIRED"));
    EXPECT_TRUE(value->GetAttributeIsNull("HOME"));

    // a table OF a collection type, or OF nothing known, is refused
    Run("CREATE TYPE tags_t AS TABLE OF VARCHAR2(10)");
    EXPECT_EQ(22913, OraErrorCode([&] { Run("CREATE TABLE bad OF tags_t"); }));
    EXPECT_EQ(4043, OraErrorCode([&] { Run("CREATE TABLE bad OF nothing_t"); }));
    EXPECT_EQ(955, OraErrorCode([&] { Run("CREATE TABLE emps OF emp_t"); }));
    EXPECT_EQ(22863, OraErrorCode([&] { Run("CREATE TYPE longs_t AS TABLE OF LONG"); }));
}

TEST_F(OraRefTest, APinnedTargetIsEditedMarkedAndFlushed) {
    {
        Row row(conn_.get(), "select id, lead from team where id = 10");
        EXPECT_FALSE(row.Null("LEAD"));
        auto* ref = row.Value<TOraRef>("LEAD");
        ASSERT_NE(nullptr, ref);
        EXPECT_FALSE(ref->GetIsNull());
        EXPECT_FALSE(ref->GetAsHex().empty());
        EXPECT_EQ(nullptr, ref->GetInstance());
        ref->Pin();
        ASSERT_NE(nullptr, ref->GetInstance());
        EXPECT_EQ(1, ref->GetAttrAsInteger("ID"));
        EXPECT_EQ("Ann", ref->GetAttrAsString("NAME"));
        EXPECT_DOUBLE_EQ(1234.5, ref->GetAttrAsFloat("PAY"));
        // pinning a value that already holds its target is a fault of the caller
        EXPECT_NE(std::string::npos, ExceptionText([&] { ref->Pin(); }).find("Assertion failure"));

        ref->SetAttrAsString("NAME", "Ann Lee");
        ref->SetAttrAsInteger("HOME.ZIP", 10115);
        ref->MarkUpdate();
        ref->Flush();
        ref->Unpin();
        EXPECT_EQ(nullptr, ref->GetInstance());
        EXPECT_FALSE(ref->GetIsNull());  // the REF stays
    }
    Run("commit");
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"Ann Lee", "2020-02-29 08:30:00"}}),
              Query("select name, hired from emps where id = 1"));
    Row again(conn_.get(), "select lead from team where id = 10");
    auto* ref = again.Value<TOraRef>("LEAD");
    ref->Pin();
    EXPECT_EQ(10115, ref->GetAttrAsInteger("HOME.ZIP"));
    EXPECT_EQ("Bob", Query("select name from emps where id = 2")[0][0]);  // only the target changed
    ref->Unpin();

    // marking a value that is no persistent object is refused by the cache
    Held<TOraObject> transient(new TOraObject(new TOraType(conn_.get(), "emp_t")));
    transient->GetObjectType()->Release();
    transient->AllocObjectOn(Svc());
    EXPECT_EQ(21603, OraErrorCode([&] { transient->MarkUpdate(); }));
    // and a plain object value has no REF to pin with
    EXPECT_NE(std::string::npos, ExceptionText([&] { transient->Pin(); }).find("REF"));
}

TEST_F(OraRefTest, NullAndDanglingRefs) {
    {
        Row row(conn_.get(), "select lead from team where id = 12");
        EXPECT_TRUE(row.Null("LEAD"));
        auto* ref = row.Value<TOraRef>("LEAD");
        ASSERT_NE(nullptr, ref);
        EXPECT_TRUE(ref->GetIsNull());
        EXPECT_EQ("", ref->GetAsHex());
        EXPECT_EQ("OCIRef is not assigned", ExceptionText([&] { ref->Pin(); }));
    }
    Run("delete from emps where id = 2");
    Row gone(conn_.get(), "select lead from team where id = 11");
    auto* ref = gone.Value<TOraRef>("LEAD");
    EXPECT_FALSE(ref->GetIsNull());
    ref->Pin();  // the target is gone: no error, the REF now reads as null
    EXPECT_TRUE(ref->InvalidRef);
    EXPECT_TRUE(ref->GetIsNull());
    EXPECT_EQ(nullptr, ref->GetInstance());

    // another REF makes it usable again
    Row other(conn_.get(), "select lead from team where id = 10");
    auto* good = other.Value<TOraRef>("LEAD");
    ref->SetOCIRef(good->GetOCIRef());
    EXPECT_FALSE(ref->InvalidRef);
    EXPECT_FALSE(ref->GetIsNull());
    ref->Pin();
    EXPECT_EQ("Ann", ref->GetAttrAsString("NAME"));
    ref->Unpin();
    ref->StoreOCIRef(nullptr);  // the cell held another row's REF: that row frees it

    // SetIsNull(true) clears the REF, SetIsNull(false) changes nothing
    good->SetIsNull(false);
    EXPECT_FALSE(good->GetIsNull());
    good->SetIsNull(true);
    EXPECT_TRUE(good->GetIsNull());
}

// Oracle never gives an object identifier twice: a REF to a deleted row stays dangling whatever is
// inserted or created afterwards, though SQLite would hand the last row's rowid to the next insert.
TEST_F(OraRefTest, ObjectIdentifiersAreNeverReused) {
    auto danglingAfter = [&](const char* leadOf) {
        Row gone(conn_.get(), AnsiString("select lead from team where id = ") + leadOf);
        auto* ref = gone.Value<TOraRef>("LEAD");
        ref->Pin();
        return ref->InvalidRef;
    };
    Run("delete from emps where id = 2");
    auto insert = Command("insert into emps(id, name) values (3, 'Cid')");
    insert->SetProp(prGetRowId, true);
    insert->Execute();
    AnsiString rowId;
    insert->GetRowId(rowId);
    Run("insert into emps(id, name) values (4, 'Dee')");
    Run("commit");
    EXPECT_TRUE(danglingAfter("11"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"10", "Ann"}}),
              Query("select t.id, e.name from team t, emps e where t.lead = ref(e) order by t.id"));
    // the insert's ROWID is where its row ended up
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"Cid"}}),
              Query("select name from emps where rowid = '" + rowId + "'"));
    // the change log names the row where it ended up, and the move is no update
    Run("delete from emps where id = 4");
    Run("insert into team select 13, ref(e) from emps e where e.id = 3");
    Run("delete from emps where id = 3");
    Run("commit");
    EXPECT_TRUE(danglingAfter("13"));

    // nor after the table is dropped and made again, and a plain table of that name is no object table
    Run("insert into team select 14, ref(e) from emps e where e.id = 1");
    Run("drop table emps");
    Run("create table emps of emp_t");
    Run("insert into emps(id, name) values (5, 'Eve')");
    Run("commit");
    EXPECT_TRUE(danglingAfter("14"));
    Run("drop table emps");
    Run("create table emps(id number(9), name varchar2(20))");
    EXPECT_EQ(904, OraErrorCode([&] { Query("select ref(e) from emps e"); }));
}

// A REF value made without a type can hold and pin a REF, but its attributes have no names to be
// found by: reading or writing one is refused instead of reaching a missing type.
TEST_F(OraRefTest, AValueWithoutTypeRefusesItsAttributes) {
    Row row(conn_.get(), "select lead from team where id = 10");
    Held<TOraRef> untyped(new TOraRef(nullptr));
    untyped->SetOCISvcCtx(Svc());
    untyped->Assign(row.Value<TOraRef>("LEAD"));
    ASSERT_FALSE(untyped->GetIsNull());
    untyped->Pin();
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { untyped->GetAttrAsString("NAME"); }, [&] { untyped->GetAttrAsInteger("ID"); },
             [&] { untyped->SetAttrAsFloat("PAY", 1); }, [&] { untyped->GetAttrAsDateTime("HIRED"); }})
        EXPECT_EQ("Type of object must be defined", ExceptionText(call));
    untyped->Unpin();
}

// The constructor of an object table's type is a whole row; a row of the wrong size is refused by
// Oracle's errors.
TEST_F(OraRefTest, AConstructorOfTheTablesTypeInsertsARow) {
    Run("insert into emps values (emp_t(3, 'Cid', null, 10, addr_t('Main', 12345)))");
    Run("insert into qel.emps values (qel.emp_t(4, 'Dee', null, null, null))");
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"3", "Cid", "10"}, {"4", "Dee", "<null>"}}),
              Query("select id, name, pay from emps where id > 2 order by id"));
    Row row(conn_.get(), "select value(e) v from emps e where e.id = 3");
    auto* cid = row.Value<TOraObject>("V");
    ASSERT_NE(nullptr, cid);
    EXPECT_EQ("Main", cid->GetAttrAsString("HOME.STREET"));
    struct Case {
        const char* sql;
        int code;
    } cases[] = {
        {"insert into emps values (addr_t('Main', 1))", 947},
        {"insert into emps values (5, 'Eve')", 947},
        {"insert into emps values (5, 'Eve', null, 1, null, 6)", 913},
        {"insert into emps(id, name) values (5, 'Eve', 1)", 913},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(c.code, OraErrorCode([&] { Run(c.sql); }));
    }
}

TEST_F(OraRefTest, AssignCopiesTheRefNotTheTarget) {
    Row row(conn_.get(), "select id, lead from team order by id");
    auto* first = row.Value<TOraRef>("LEAD");
    auto* type = static_cast<TOraType*>(row.Field("LEAD")->ObjectType());
    Held<TOraRef> copy(new TOraRef(type));
    copy->SetOCISvcCtx(Svc());
    first->Pin();
    copy->Assign(first);
    EXPECT_NE(first->GetOCIRef(), copy->GetOCIRef());  // a REF of its own
    EXPECT_EQ(first->GetAsHex(), copy->GetAsHex());
    EXPECT_EQ(nullptr, copy->GetInstance());  // the pinned target is not copied
    copy->Pin();
    EXPECT_EQ(first->GetInstance(), copy->GetInstance());  // one object in the cache
    copy->Unpin();
    first->Unpin();

    // a null REF source clears the target; a source without a REF counts as null
    Held<TOraRef> none(new TOraRef(type));
    copy->Assign(none.p);
    EXPECT_TRUE(copy->GetIsNull());

    // a plain object value source is copied as an instance
    first->Pin();
    Held<TOraObject> plain(new TOraObject(type));
    plain->AllocObjectOn(Svc());
    plain->Assign(first);
    EXPECT_EQ("Ann", plain->GetAttrAsString("NAME"));
    Held<TOraRef> fromPlain(new TOraRef(type));
    fromPlain->SetOCISvcCtx(Svc());
    fromPlain->Assign(plain.p);
    ASSERT_NE(nullptr, fromPlain->GetInstance());
    EXPECT_NE(plain->GetInstance(), fromPlain->GetInstance());
    EXPECT_EQ(nullptr, fromPlain->GetOCIRef());
    EXPECT_TRUE(fromPlain->GetIsNull());  // without a REF the value counts as null
    first->Unpin();
}

TEST_F(OraRefTest, RefsBindAsParametersAndDerefInSql) {
    {
        Row row(conn_.get(), "select lead from team where id = 11");
        auto* ref = row.Value<TOraRef>("LEAD");
        auto command = Command("update team set lead = :r where id = :id");
        command->GetParam(0)->SetDataType(dtReference);
        command->GetParam(0)->SetParamType(ptInput);
        command->GetParam(0)->SetObject(ref);
        command->GetParam(1)->SetDataType(dtInteger);
        command->GetParam(1)->SetValue(int32_t(12));
        command->Execute();
    }
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"10", "Ann"}, {"11", "Bob"}, {"12", "Bob"}}),
              Query("select t.id, e.name from team t, emps e where t.lead = REF(e) order by t.id"));
    Row deref(conn_.get(), "select t.id, DEREF(t.lead) boss from team t where t.id = 12");
    EXPECT_EQ(dtObject, deref.Field("BOSS")->DataType);
    EXPECT_EQ("Bob", deref.Value<TOraObject>("BOSS")->GetAttrAsString("NAME"));
}

// ---------------------------------------------------------------------------------------------

class OraXmlTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        Run("CREATE TABLE docs(id NUMBER(9), doc XMLTYPE)");
    }
    OCISvcCtx* Svc() { return conn_->GetSvcCtx(); }

    void InsertDoc(int id, TOraXML* xml) {
        auto command = Command("insert into docs(id, doc) values (:id, :doc)");
        command->GetParam(0)->SetDataType(dtInteger);
        command->GetParam(0)->SetValue(int32_t(id));
        command->GetParam(1)->SetDataType(dtXML);
        command->GetParam(1)->SetParamType(ptInput);
        command->GetParam(1)->SetObject(xml);
        command->Execute();
    }
};

std::string Document(size_t size) {
    std::string s = "<d>";
    while (s.size() + 4 < size) s += static_cast<char>('a' + s.size() % 26);
    return s + "</d>";
}

TEST_F(OraXmlTest, TextRoundTripsThroughAStringOrATemporaryClob) {
    // OCIXMLTypeCreateFromSrc's source kind, call by call
    static std::vector<int> kinds;
    static decltype(dac::OCIXMLTypeCreateFromSrc) real = nullptr;
    real = dac::OCIXMLTypeCreateFromSrc;
    EntrySwap<decltype(dac::OCIXMLTypeCreateFromSrc)> spy(
        dac::OCIXMLTypeCreateFromSrc,
        [](OCISvcCtx* svc, OCIError* err, OCIDuration dur, ub1 kind, void* src, sb4 ind,
           void** inst) -> sword {
            kinds.push_back(kind);
            return real(svc, err, dur, kind, src, ind, inst);
        });
    struct Case {
        size_t size;
        int kind;  // 1 OCIString, 2 CLOB
    } cases[] = {{9, 1}, {4000, 1}, {4001, 2}, {70000, 2}};
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string text = Document(c.size);
        ASSERT_EQ(c.size, text.size());
        Held<TOraXML> xml(new TOraXML());
        xml->SetAsString(text);
        kinds.clear();
        InsertDoc(++id, xml.p);
        ASSERT_EQ(1u, kinds.size());
        EXPECT_EQ(c.kind, kinds[0]);
        Row row(conn_.get(), "select doc from docs where id = " + std::to_string(id));
        EXPECT_EQ(dtXML, row.Field("DOC")->DataType);
        EXPECT_FALSE(row.Null("DOC"));
        auto* back = row.Value<TOraXML>("DOC");
        ASSERT_NE(nullptr, back);
        EXPECT_EQ(text, back->GetAsString());     // more than one chunk comes back in order
        EXPECT_EQ(nullptr, back->GetInstance());  // read into text, the instance is gone
    }
    // a null value goes as a null XMLTYPE and comes back without text
    Held<TOraXML> none(new TOraXML());
    InsertDoc(99, none.p);
    Row row(conn_.get(), "select doc from docs where id = 99");
    EXPECT_TRUE(row.Null("DOC"));
    EXPECT_TRUE(row.Value<TOraXML>("DOC")->GetIsNull());
    EXPECT_EQ("", row.Value<TOraXML>("DOC")->GetAsString());
}

TEST_F(OraXmlTest, SqlBuildsAndReadsXmlValues) {
    Run("insert into docs values (1, XMLType('<a>one</a>'))");
    Run("insert into docs values (2, sys.XMLType.createXML('<b/>'))");
    EXPECT_EQ(31011, OraErrorCode([&] { Run("insert into docs values (3, XMLType('not xml'))"); }));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"<a>one</a>"}, {"<b/>"}}),
              Query("select d.doc.getStringVal() from docs d order by d.id"));
    Row row(conn_.get(), "select d.doc.getClobVal() c, XMLType('<x/>') x, doc from docs d where d.id = 1");
    EXPECT_EQ(dtOraClob, row.Field("C")->DataType);
    EXPECT_EQ(dtXML, row.Field("X")->DataType);
    EXPECT_EQ("<x/>", row.Value<TOraXML>("X")->GetAsString());
    EXPECT_EQ("<a>one</a>", row.Value<TOraXML>("DOC")->GetAsString());
}

TEST_F(OraXmlTest, TextRulesOfTheValue) {
    Held<TOraXML> xml(new TOraXML());
    EXPECT_TRUE(xml->GetIsNull());
    xml->SetAsString("<r>1</r>");
    EXPECT_FALSE(xml->GetIsNull());
    xml->SetIsNull(false);  // keeps the text
    EXPECT_EQ("<r>1</r>", xml->GetAsString());
    xml->SetIsNull(true);
    EXPECT_TRUE(xml->GetIsNull());
    EXPECT_EQ("", xml->GetAsString());
    xml->SetAsString("");  // no text: null
    EXPECT_TRUE(xml->GetIsNull());

    // Assign copies the text only, after letting the target's instance go
    xml->SetOCISvcCtx(Svc());
    xml->SetAsString("<old/>");
    xml->AllocObject();
    EXPECT_NE(nullptr, xml->GetInstance());
    Held<TOraXML> source(new TOraXML());
    source->SetAsString("<new/>");
    xml->Assign(source.p);
    EXPECT_EQ("<new/>", xml->GetAsString());
    EXPECT_EQ(nullptr, xml->GetInstance());

    // a value made without a type finds SYS.XMLTYPE in the type cache, described once
    TOraType* type = xml->GetObjectType();
    ASSERT_NE(nullptr, type);
    EXPECT_EQ(dtXML, type->DataType);
    EXPECT_EQ(type, ObjectTypes().FindType(Svc(), "sys.xmltype"));
    Held<TOraXML> second(new TOraXML());
    second->SetOCISvcCtx(Svc());
    second->SetAsString("<s/>");
    EXPECT_EQ(type, second->GetObjectType());

    // only XMLTYPE will do
    Run("CREATE TYPE point_t AS OBJECT (x NUMBER)");
    Held<TOraType> point(new TOraType(conn_.get(), "point_t"));
    EXPECT_EQ("Type of object must be XML", ExceptionText([&] { TOraXML bad(point.p); }));
    EXPECT_EQ("Type of object must be XML", ExceptionText([&] { second->AllocObject(Svc(), "point_t"); }));
}

// ---------------------------------------------------------------------------------------------
// A REF's target as a record

namespace {

// The target of team row id's REF, shown by a storage on its own record buffer.
struct RefStorage {
    Row row;
    TRefData data;
    std::vector<uint8_t> rec;
    RefStorage(TOCIConnection* conn, int id)
        : row(conn, "select lead from team where id = " + std::to_string(id)) {
        data.SetRef(row.Value<TOraRef>("LEAD"));
        data.Prepare();
        data.Open();
        rec.assign(static_cast<size_t>(data.RecordSize()), 0);
        data.CreateComplexFields(rec.data(), true);
    }
    ~RefStorage() {
        data.FreeComplexFields(rec.data(), true);
        data.Close();
    }
    std::string Text(const char* name) {
        TFieldDesc* f = data.Fields().FindField(name);
        if (!f) return "<no field>";
        rtl::Variant v;
        data.GetFieldAsVariant(f->FieldNo, rec.data(), v);
        return v.IsNull() ? "<null>" : rtl::VarToStr(v);
    }
};

}  // namespace

TEST_F(OraRefTest, RefStorageShowsTheTargetAsOneRecord) {
    TRefData none;
    EXPECT_EQ("Reference is not defined", ExceptionText([&] { none.Prepare(); }));

    {
        RefStorage s(conn_.get(), 10);
        TFieldDesc* top = s.data.Fields().FindField("REF");
        ASSERT_NE(nullptr, top);
        EXPECT_TRUE(top->HiddenObject);
        EXPECT_EQ(dtObject, top->DataType);
        EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), top->Size);
        EXPECT_EQ(1, top->FieldNo);
        EXPECT_EQ(-1, s.data.GetRecordCount());

        s.data.GetNextRecord(s.rec.data());
        EXPECT_FALSE(s.data.Eof());
        EXPECT_EQ("Ann", s.Text("NAME"));
        EXPECT_EQ("1234.5", s.Text("PAY"));
        s.data.GetNextRecord(s.rec.data());  // one record only
        EXPECT_TRUE(s.data.Eof());
        s.data.GetPriorRecord(s.rec.data());
        EXPECT_FALSE(s.data.Eof());
        EXPECT_EQ("Ann", s.Text("NAME"));

        // an edit goes into the target and, posted, to the server
        const std::string name = "Ann Post";
        s.data.PutField(s.data.Fields().FindField("NAME")->FieldNo, s.rec.data(), name.c_str());
        s.data.PutRecord(s.rec.data());
        s.data.UpdateRecord(s.rec.data());
        // insert and delete change nothing on the server
        s.data.InsertRecord(s.rec.data());
        s.data.DeleteRecord();
    }
    Run("commit");
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "Ann Post"}, {"2", "Bob"}}),
              Query("select id, name from emps order by id"));

    // a null REF: from the beginning straight to the end
    RefStorage empty(conn_.get(), 12);
    empty.data.GetNextRecord(empty.rec.data());
    EXPECT_TRUE(empty.data.Eof());
    EXPECT_EQ(-1, empty.data.GetRecordCount());
}

TEST_F(OraRefTest, RowByRowFetchKeepsObjectRefAndXmlValuesPerRow) {
    Run("CREATE TABLE notes(id NUMBER(9), doc XMLTYPE)");
    Run("INSERT INTO notes VALUES (10, XMLType('<n>ten</n>'))");
    Run("INSERT INTO notes VALUES (11, XMLType('<n>eleven</n>'))");
    TOCIRecordSet rs;
    rs.SetConnection(conn_.get());
    rs.OraCommand()->SetProp(prScrollableCursor, true);
    rs.SetSQLText(
        "select t.id, t.lead, DEREF(t.lead) boss, n.doc from team t left join notes n on n.id = t.id order "
        "by "
        "t.id");
    rs.Open();
    ASSERT_TRUE(rs.CanFetchBack());
    std::vector<uint8_t> rec(static_cast<size_t>(rs.RecordSize()));
    auto field = [&](const char* name) { return rs.Fields().FindField(name)->FieldNo; };
    struct Expect {
        int id;
        const char* boss;  // nullptr: a null REF and no target
        const char* doc;   // nullptr: no document
    } rows[] = {{10, "Ann", "<n>ten</n>"}, {11, "Bob", "<n>eleven</n>"}, {12, nullptr, nullptr}};
    auto check = [&](const Expect& e) {
        SCOPED_TRACE(e.id);
        rs.GetRecord(rec.data());
        rtl::Variant id;
        rs.GetFieldAsVariant(field("ID"), rec.data(), id);
        EXPECT_EQ(e.id, id.AsInteger());
        auto* ref = dynamic_cast<TOraRef*>(rs.GetObject(field("LEAD"), rec.data()));
        ASSERT_NE(nullptr, ref);
        EXPECT_EQ(e.boss == nullptr, ref->GetIsNull());
        EXPECT_EQ(e.boss == nullptr, rs.GetNull(field("BOSS"), rec.data()));
        if (e.boss) {
            auto* boss = dynamic_cast<TOraObject*>(rs.GetObject(field("BOSS"), rec.data()));
            EXPECT_EQ(e.boss, boss->GetAttrAsString("NAME"));
        }
        auto* doc = dynamic_cast<TOraXML*>(rs.GetObject(field("DOC"), rec.data()));
        ASSERT_NE(nullptr, doc);
        EXPECT_EQ(e.doc ? e.doc : "", doc->GetAsString());
        EXPECT_EQ(e.doc == nullptr, rs.GetNull(field("DOC"), rec.data()));
    };
    for (const Expect& e : rows) {
        rs.GetNextRecord(nullptr);
        ASSERT_FALSE(rs.Eof());
        check(e);
    }
    rs.GetNextRecord(nullptr);
    EXPECT_TRUE(rs.Eof());
    for (int k = 2; k >= 0; --k) {  // back again, row by row
        rs.GetPriorRecord(nullptr);
        ASSERT_FALSE(rs.Bof());
        check(rows[k]);
    }
    rs.Close();
}

TEST_F(OraRefTest, TimestampAndIntervalAttributesRoundTrip) {
    Run("CREATE TYPE ev_t AS OBJECT (name VARCHAR2(10), at TIMESTAMP(3), took INTERVAL DAY SECOND(6), "
        "age INTERVAL YEAR MONTH)");
    Run("CREATE TABLE evs(id NUMBER(9), ev ev_t)");
    const rtl::TDateTime at = rtl::EncodeDate(2024, 5, 6) + rtl::EncodeTime(7, 8, 9, 250);
    {
        Held<TOraObject> ev(new TOraObject(new TOraType(conn_.get(), "ev_t")));
        ev->GetObjectType()->Release();
        ev->AllocObjectOn(Svc());
        struct Expect {
            const char* name;
            TDataType type;
        } attrs[] = {{"AT", dtTimeStamp}, {"TOOK", dtIntervalDS}, {"AGE", dtIntervalYM}};
        for (const Expect& e : attrs) {
            SCOPED_TRACE(e.name);
            TAttribute* a = ev->GetObjectType()->AttributeByName(e.name);
            EXPECT_EQ(e.type, a->DataType);
            EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), a->Size);  // a descriptor cell
            EXPECT_EQ(0u, a->Offset % sizeof(void*));
        }
        ev->SetAttrAsString("NAME", "start");
        auto* stamp = dynamic_cast<TOraTimeStamp*>(ev->GetComplexAttrByName("AT"));
        ASSERT_NE(nullptr, stamp);
        EXPECT_EQ(stamp, ev->GetComplexAttrByName("AT"));  // one child per attribute
        stamp->SetAsDateTime(at);
        ev->SetAttributeIsNull("AT", false);
        auto* took = dynamic_cast<TOraInterval*>(ev->GetComplexAttrByName("TOOK"));
        ASSERT_NE(nullptr, took);
        took->SetAsString("+01 02:03:04.500000");
        ev->SetAttributeIsNull("TOOK", false);
        auto command = Command("insert into evs(id, ev) values (1, :ev)");
        command->GetParam(0)->SetDataType(dtObject);
        command->GetParam(0)->SetParamType(ptInput);
        command->GetParam(0)->SetObject(ev.p);
        command->Execute();
    }
    Row row(conn_.get(), "select ev from evs where id = 1");
    auto* ev = row.Value<TOraObject>("EV");
    ASSERT_NE(nullptr, ev);
    EXPECT_EQ("start", ev->GetAttrAsString("NAME"));
    auto* stamp = dynamic_cast<TOraTimeStamp*>(ev->GetComplexAttrByName("AT"));
    ASSERT_NE(nullptr, stamp);
    EXPECT_FALSE(stamp->GetIsNull());
    EXPECT_NEAR(at, stamp->GetAsDateTime(), 1e-8);
    auto* took = dynamic_cast<TOraInterval*>(ev->GetComplexAttrByName("TOOK"));
    ASSERT_NE(nullptr, took);
    EXPECT_NE(std::string::npos, took->GetAsString().find("02:03:04.5")) << took->GetAsString();
    EXPECT_TRUE(ev->GetAttributeIsNull("AGE"));
    // the record form of the attribute is its value's handle
    TFieldDesc* f = row.rs.Fields().FindField("EV.AT");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(dtTimeStamp, f->DataType);
}

TEST_F(OraRefTest, LobAttributesAreWrittenWithTheValueAndReadBack) {
    Run("CREATE TYPE doc_t AS OBJECT (title VARCHAR2(20), body CLOB, raw BLOB)");
    Run("CREATE TABLE files(id NUMBER(9), d doc_t)");
    const std::string body(5000, 'x');
    const std::string raw("\x01\x00\xFF\x7F", 4);
    {
        Held<TOraObject> d(new TOraObject(new TOraType(conn_.get(), "doc_t")));
        d->GetObjectType()->Release();
        d->AllocObjectOn(Svc());
        EXPECT_EQ(dtOraBlob, d->GetObjectType()->AttributeByName("RAW")->DataType);
        EXPECT_EQ(static_cast<int32_t>(sizeof(void*)), d->GetObjectType()->AttributeByName("BODY")->Size);
        // record storage gets a null LOB attribute's value to write into, and nothing for a null text
        void* buf = nullptr;
        bool blank = false, native = true;
        d->GetAttributeValue("BODY", buf, blank, native);
        EXPECT_TRUE(blank);
        ASSERT_NE(nullptr, buf);
        void* handle = nullptr;
        std::memcpy(&handle, buf, sizeof handle);
        TDBObject::FreeAttributeBuffer(buf);
        buf = nullptr;
        d->GetAttributeValue("TITLE", buf, blank, native);
        EXPECT_TRUE(blank);
        EXPECT_EQ(nullptr, buf);
        d->SetAttrAsString("TITLE", "memo");
        auto* text = dynamic_cast<TOraLob*>(d->GetComplexAttrByName("BODY"));
        ASSERT_NE(nullptr, text);
        EXPECT_EQ(text->GetHandle(), handle);
        text->Write(0, static_cast<int64_t>(body.size()), body.data());
        d->SetAttributeIsNull("BODY", false);
        auto* bytes = dynamic_cast<TOraLob*>(d->GetComplexAttrByName("RAW"));
        ASSERT_NE(nullptr, bytes);
        bytes->Write(0, static_cast<int64_t>(raw.size()), raw.data());
        d->SetAttributeIsNull("RAW", false);
        auto command = Command("insert into files(id, d) values (1, :d)");
        command->GetParam(0)->SetDataType(dtObject);
        command->GetParam(0)->SetParamType(ptInput);
        command->GetParam(0)->SetObject(d.p);
        command->Execute();
    }
    Run("insert into files(id) values (2)");
    Row row(conn_.get(), "select d from files where id = 1");
    auto* d = row.Value<TOraObject>("D");
    ASSERT_NE(nullptr, d);
    EXPECT_EQ("memo", d->GetAttrAsString("TITLE"));
    struct Expect {
        const char* name;
        const std::string* content;
    } lobs[] = {{"BODY", &body}, {"RAW", &raw}};
    for (const Expect& e : lobs) {
        SCOPED_TRACE(e.name);
        auto* lob = dynamic_cast<TOraLob*>(d->GetComplexAttrByName(e.name));
        ASSERT_NE(nullptr, lob);
        ASSERT_EQ(static_cast<int64_t>(e.content->size()), lob->GetSize());
        std::string got(e.content->size(), '\0');
        lob->Read(0, static_cast<int64_t>(got.size()), got.data());
        EXPECT_EQ(*e.content, got);
    }
    EXPECT_FALSE(d->GetAttributeIsNull("BODY"));
}

TEST_F(OraXmlTest, XmlFieldsAreCopiedAndReleasedLikeObjectValues) {
    Run("insert into docs values (1, XMLType('<a>one</a>'))");
    Row row(conn_.get(), "select id, doc from docs");
    std::vector<uint8_t> copy(row.rec.size());
    row.rs.CreateComplexFields(copy.data(), true);
    row.rs.CopyComplexFields(row.rec.data(), copy.data(), false);
    const int doc = row.Field("DOC")->FieldNo;
    auto* from = dynamic_cast<TOraXML*>(row.rs.GetObject(doc, row.rec.data()));
    auto* to = dynamic_cast<TOraXML*>(row.rs.GetObject(doc, copy.data()));
    ASSERT_NE(nullptr, to);
    EXPECT_NE(from, to);  // a value of its own, holding the same text
    EXPECT_EQ("<a>one</a>", to->GetAsString());
    to->SetAsString("<b/>");
    EXPECT_EQ("<a>one</a>", from->GetAsString());
    row.rs.FreeComplexFields(copy.data(), true);  // a leak here fails the sanitizer run
}
// alias.column.attribute[.attribute...] reads an attribute of an object column's value, in the select
// list and in WHERE, described as the attribute; a null object (or one on the way) gives null.
TEST_F(OraRefTest, AttributePathsOfObjectColumnsInSql) {
    Run("create table holders(id number(9), who emp_t)");
    Run("insert into holders values (1, emp_t(7, 'Gus', null, 1.5, addr_t('Elm', 12345)))");
    Run("insert into holders values (2, emp_t(8, 'Hal', null, null, null))");
    Run("insert into holders values (3, null)");
    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_EQ((Rows{{"1", "Gus", "Elm", "12345", "1.5"},
                    {"2", "Hal", "<null>", "<null>", "<null>"},
                    {"3", "<null>", "<null>", "<null>", "<null>"}}),
              Query("select h.id, h.who.name, h.who.home.street, h.who.home.zip, h.who.pay from holders h "
                    "order by h.id"));
    EXPECT_EQ((Rows{{"2"}}), Query("select h.id from holders h where h.who.id = 8"));
    EXPECT_EQ((Rows{{"Ann"}}), Query("select e.name from emps e where e.id = 1"));  // plain columns stay
    {
        TOCIRecordSet rs;
        rs.SetConnection(conn_.get());
        rs.SetSQLText("select h.who.name, h.who.home.zip z, h.who.home a from holders h");
        rs.Open();
        TFieldDesc* name = rs.Fields().FindField("WHO.NAME");
        ASSERT_NE(nullptr, name);
        EXPECT_EQ(dtString, name->DataType);
        TFieldDesc* zip = rs.Fields().FindField("Z");
        ASSERT_NE(nullptr, zip);
        EXPECT_TRUE(zip->DataType == dtInteger || zip->DataType == dtFloat || zip->DataType == dtNumber)
            << zip->DataType;
        TFieldDesc* home = rs.Fields().FindField("A");
        ASSERT_NE(nullptr, home);
        EXPECT_EQ(dtObject, home->DataType);
        rs.Close();
    }
    EXPECT_EQ(904, OraErrorCode([&] { Query("select h.who.nope from holders h"); }));
    EXPECT_EQ(904, OraErrorCode([&] { Query("select h.who.name.first from holders h"); }));
}
