// Record storage over collection values on the stand-in: elements fetched one at a time, deleted
// slots skipped, texts cut to their declared length, and inserts, edits and deletes written into
// the collection, for scalar and object elements.
#include "dataaccess/oracle/OraTableData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

class OraTableDataTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        for (const char* ddl :
             {"CREATE TYPE nums_t AS TABLE OF NUMBER", "CREATE TYPE words_t AS TABLE OF VARCHAR2(5)",
              "CREATE TYPE tags_t AS VARRAY(4) OF VARCHAR2(5)",
              "CREATE TYPE pet_t AS OBJECT (name VARCHAR2(10), age NUMBER(3))",
              "CREATE TYPE pets_t AS TABLE OF pet_t"})
            Run(ddl);
    }

    // A new collection value of the named type, allocated; the caller holds one reference.
    template <class T>
    T* New(const char* type) {
        auto* t = new TOraType(conn_.get(), type);
        auto* value = new T(t);
        t->Release();
        value->AllocObjectOn(conn_->GetSvcCtx());
        return value;
    }

    struct Storage {
        TTableData data;
        std::vector<uint8_t> rec;
        explicit Storage(TOraArray* table) {
            data.SetTable(table);
            data.Open();
            rec.assign(static_cast<size_t>(data.RecordSize()), 0);
        }
        ~Storage() { data.Close(); }
        // The element indexes and the first field's text of every record from the start.
        std::vector<std::pair<int, std::string>> All(int textField = 1) {
            std::vector<std::pair<int, std::string>> out;
            data.SetToBegin();
            while (true) {
                data.GetNextRecord(rec.data());
                if (data.Eof()) break;
                out.emplace_back(data.RecordIndex(rec.data()), Text(textField));
            }
            return out;
        }
        std::string Text(int fieldNo) {
            rtl::Variant v;
            data.GetFieldAsVariant(fieldNo, rec.data(), v);
            return v.IsNull() ? "<null>" : std::string(v.AsString());
        }
    };
};

TEST_F(OraTableDataTest, ElementsAreFetchedOneAtATimeAndCounted) {
    auto* nums = New<TOraNestTable>("nums_t");
    for (int i = 0; i < 3; ++i) nums->SetItemAsFloat(i, 10.5 + i);
    Storage s(nums);
    nums->Free();
    ASSERT_EQ(1, s.data.GetFieldCount());
    EXPECT_EQ(dtFloat, s.data.Fields()[0]->DataType);
    EXPECT_EQ(8, s.data.Fields()[0]->Size);
    EXPECT_EQ(s.data.RecordSize() - 4, s.data.IndexOfs());
    EXPECT_EQ(0, s.data.GetRecordCount());
    for (int i = 0; i < 3; ++i) {
        s.data.GetNextRecord(s.rec.data());
        ASSERT_FALSE(s.data.Eof());
        EXPECT_EQ(i, s.data.RecordIndex(s.rec.data()));
        EXPECT_EQ(i + 1, s.data.GetRecordCount()) << "one fetch per record";
        double v = 0;
        bool blank = true;
        s.data.GetField(1, s.rec.data(), &v, blank);
        EXPECT_FALSE(blank);
        EXPECT_DOUBLE_EQ(10.5 + i, v);
    }
    s.data.GetNextRecord(s.rec.data());
    EXPECT_TRUE(s.data.Eof());
    EXPECT_EQ(3, s.data.GetRecordCount());
}

TEST_F(OraTableDataTest, DeletedSlotsAreSkippedAndIndexesKept) {
    auto* nums = New<TOraNestTable>("nums_t");
    for (int i = 0; i < 3; ++i) nums->SetItemAsInteger(i, i + 1);
    nums->DeleteItem(1);
    Storage s(nums);
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{0, "1"}, {2, "3"}}), s.All());
    EXPECT_EQ(3, s.data.GetRecordCount()) << "the last index fetched + 1";

    // deleting a record deletes its element; the others keep their indexes
    s.data.SetToBegin();
    s.data.GetNextRecord(s.rec.data());
    s.data.DeleteRecord();
    EXPECT_EQ(1, nums->GetSize());
    EXPECT_EQ(3, nums->GetItemAsInteger(2));
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{2, "3"}}), s.All());
    nums->Free();
}

TEST_F(OraTableDataTest, TextsAreCutToTheirLengthAndNullsShowAsNull) {
    auto* words = New<TOraNestTable>("words_t");
    words->SetItemAsString(0, "abcdefgh");  // longer than VARCHAR2(5)
    words->SetItemIsNull(1, true);
    words->SetItemAsString(2, "ok");
    Storage s(words);
    words->Free();
    EXPECT_EQ(6, s.data.Fields()[0]->Size);
    s.data.GetNextRecord(s.rec.data());
    char text[16];
    std::memset(text, 'x', sizeof text);
    bool blank = true;
    s.data.GetField(1, s.rec.data(), text, blank);
    EXPECT_STREQ("abcde", text);
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{0, "abcde"}, {1, "<null>"}, {2, "ok"}}), s.All());
}

TEST_F(OraTableDataTest, InsertAppendsAnElementThatPutRecordFills) {
    for (bool varray : {false, true}) {
        SCOPED_TRACE(varray ? "VARRAY" : "nested table");
        TOraArray* words = varray ? static_cast<TOraArray*>(New<TOraArray>("tags_t"))
                                  : static_cast<TOraArray*>(New<TOraNestTable>("words_t"));
        words->SetItemAsString(0, "one");
        Storage s(words);
        s.All();
        std::vector<uint8_t> fresh(static_cast<size_t>(s.data.RecordSize()), 0);
        s.data.InitRecord(fresh.data());
        s.data.PutField(1, fresh.data(), "two");
        s.data.AppendRecord(fresh.data());
        EXPECT_EQ(2, words->GetSize());
        EXPECT_EQ("two", words->GetItemAsString(1));
        EXPECT_EQ(1, s.data.RecordIndex(fresh.data()));

        // an edit writes the element; a null value makes it null
        s.data.SetToBegin();
        s.data.GetNextRecord(s.rec.data());
        s.data.PutField(1, s.rec.data(), "uno");
        s.data.UpdateRecord(s.rec.data());
        EXPECT_EQ("uno", words->GetItemAsString(0));
        s.data.PutField(1, s.rec.data(), nullptr);
        s.data.UpdateRecord(s.rec.data());
        EXPECT_TRUE(words->GetItemIsNull(0));
        if (varray) {
            // a VARRAY keeps its elements in place: none is deleted on its own
            EXPECT_EQ("Elements of a VARRAY cannot be deleted one by one",
                      ExceptionText([&] { s.data.DeleteRecord(); }));
            EXPECT_EQ(2, words->GetSize());
        }
        words->Free();
    }
}

TEST_F(OraTableDataTest, ObjectElementsShowTheirAttributesAsChildFields) {
    auto* pets = New<TOraNestTable>("pets_t");
    pets->GetItemAsObject(0)->SetAttrAsString("NAME", "Rex");
    pets->GetItemAsObject(0)->SetAttrAsInteger("AGE", 3);
    pets->GetItemAsObject(1)->SetAttrAsString("NAME", "Tom");
    Storage s(pets);
    ASSERT_EQ(3, s.data.GetFieldCount());
    TFieldDesc* top = s.data.Fields()[0];
    EXPECT_TRUE(top->HiddenObject);
    EXPECT_EQ(dtObject, top->DataType);
    EXPECT_EQ(top, s.data.FieldByName("NAME")->ParentField);
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{0, "Rex"}, {1, "Tom"}}), s.All(2));
    s.data.SetToBegin();
    s.data.GetNextRecord(s.rec.data());
    EXPECT_EQ("Rex", s.Text(2));
    EXPECT_EQ("3", s.Text(3));

    // an edited copy of the record writes its attributes into the element
    std::vector<uint8_t> edit(static_cast<size_t>(s.data.RecordSize()), 0);
    std::memcpy(edit.data(), s.rec.data(), edit.size());
    s.data.CreateComplexFields(edit.data(), false);
    s.data.CopyComplexFields(s.rec.data(), edit.data(), false);
    s.data.PutField(2, edit.data(), "Max");
    EXPECT_EQ("Rex", pets->GetItemAsObject(0)->GetAttrAsString("NAME")) << "the copy, not the element";
    s.data.PostRecord(edit.data());  // the stored record takes the copy's values
    EXPECT_EQ("Max", pets->GetItemAsObject(0)->GetAttrAsString("NAME"));

    // an inserted record becomes a new element with the record's attributes
    std::vector<uint8_t> fresh(static_cast<size_t>(s.data.RecordSize()), 0);
    s.data.InitRecord(fresh.data());
    s.data.CreateComplexFields(fresh.data(), false);
    s.data.PutField(2, fresh.data(), "Kit");
    s.data.AppendRecord(fresh.data());
    ASSERT_EQ(3, pets->GetSize());
    EXPECT_EQ("Kit", pets->GetItemAsObject(2)->GetAttrAsString("NAME"));
    pets->Free();
}

TEST_F(OraTableDataTest, WithoutACollectionTheStorageIsEmpty) {
    TTableData data;
    data.Open();
    EXPECT_EQ(0, data.GetFieldCount());
    data.GetNextRecord(nullptr);
    EXPECT_TRUE(data.Eof());
    data.Close();

    auto* nums = New<TOraNestTable>("nums_t");
    nums->SetIsNull(true);
    Storage s(nums);
    nums->Free();
    EXPECT_TRUE(s.All().empty()) << "a null collection has no records";
    EXPECT_EQ(0, s.data.GetRecordCount());
}

}  // namespace
