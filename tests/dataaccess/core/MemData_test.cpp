#include "dataaccess/core/MemData.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "tests/dataaccess/core/MemDataFixture.h"

namespace dac {
namespace {

using test::FieldSpec;
using test::Storage;
using test::TestData;

const int P = static_cast<int>(sizeof(void*));

std::vector<int> Offsets(TData& d) {
    std::vector<int> out;
    for (int i = 0; i < d.Fields().Count(); ++i) out.push_back(d.Fields()[i]->Offset);
    return out;
}

TEST(MemDataLayout, OffsetsAndRecordSizes) {
    struct Case {
        std::vector<FieldSpec> fields;
        std::vector<int> offsets;
        int dataArea, recordSize, calcRecordSize;
    };
    const std::vector<Case> cases = {
        {{{"I", dtInteger}, {"S", dtString, 5}, {"W", dtWideString, 3}}, {0, 4, 10}, 18, 21, 0},
        {{{"I", dtInteger}, {"S", dtString, 5}}, {0, 4}, 10, 13, 0},
        {{{"S", dtString, 4}, {"W", dtWideString, 1}}, {0, 6}, 10, 13, 0},  // odd running size: pad
        {{{"I", dtInteger}, {"C", dtInteger, 0, 2}}, {0, 7}, 4, 7, 5},
        {{{"I", dtInteger}, {"C", dtString, 3, 2}, {"W", dtWideString, 2, 2}}, {0, 7, 12}, 4, 7, 11},
        {{{"B", dtBlob}, {"R", dtStringRef, 10}, {"I", dtInteger}}, {0, P, 2 * P}, 2 * P + 4, 2 * P + 7, 0},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Storage s(c.fields);
        EXPECT_EQ(Offsets(*s.data), c.offsets) << "case " << i;
        EXPECT_EQ(s.data->DataAreaSize(), c.dataArea) << "case " << i;
        EXPECT_EQ(s.data->RecordSize(), c.recordSize) << "case " << i;
        EXPECT_EQ(s.data->CalcRecordSize(), c.calcRecordSize) << "case " << i;
        EXPECT_EQ(s.data->RecordSize() % 2, 1);
    }
}

TEST(MemDataLayout, ComplexFieldsAndHooks) {
    int changed = 0, described = 0;
    TestData d({{"I", dtInteger}, {"V", dtVariant}});
    d.OnFieldsChanged = [&] { ++changed; };
    d.OnAfterDescribe = [&] { ++described; };
    d.InitFields();
    EXPECT_TRUE(d.HasComplexFields());
    EXPECT_EQ(changed, 1);  // once: the clearing inside the describe step is not reported
    EXPECT_EQ(described, 1);
    EXPECT_TRUE(d.HasFieldOfTypes(DataTypeSet({dtVariant})));
    EXPECT_FALSE(d.HasFieldOfTypes(DataTypeSet({dtBlob, dtMemo})));
    d.ClearFields();
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(d.GetFieldCount(), 0);
}

TEST(MemDataFields, EmptyTextsAndNulls) {
    Storage s({{"S", dtString, 10}, {"W", dtWideString, 4}, {"I", dtInteger}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    char out[11];
    bool blank = false;
    d.PutField(1, rec, "abc");
    d.GetField(1, rec, out, blank);
    EXPECT_FALSE(blank);
    EXPECT_STREQ(out, "abc");
    d.PutField(1, rec, "");
    EXPECT_TRUE(d.GetNull(1, rec));
    d.KeepEmptyStrings = true;
    d.PutField(1, rec, "");
    EXPECT_FALSE(d.GetNull(1, rec));
    d.PutField(2, rec, u"");
    EXPECT_FALSE(d.GetNull(2, rec));
    d.PutField(1, rec, nullptr);
    EXPECT_TRUE(d.GetNull(1, rec));
    const int32_t v = 42;
    d.PutField(3, rec, &v);
    int32_t back = 0;
    d.GetField(3, rec, &back, blank);
    EXPECT_EQ(back, 42);
    d.GetField(3, rec, nullptr, blank);
    EXPECT_FALSE(blank);
    EXPECT_THROW(d.GetNull(4, rec), rtl::EAssertionFailed);
    EXPECT_THROW(d.PutField(0, rec, &v), rtl::EAssertionFailed);
}

TEST(MemDataFields, TextsAreBoundedAndTrimmed) {
    struct Case {
        bool fixed, trimFixed, trimVar;
        const char* stored;
        const char* read;
    };
    const Case cases[] = {
        {true, true, false, "AB  ", "AB"},        {true, false, true, "AB  ", "AB  "},
        {false, false, true, "AB  ", "AB"},       {false, true, false, "AB  ", "AB  "},
        {false, false, false, "ABCDEFG", "ABCD"},  // longer than the field: cut on write
    };
    for (const Case& c : cases) {
        Storage s({{"S", dtString, 4, 0, c.fixed}, {"W", dtWideString, 4, 0, c.fixed}});
        TestData& d = *s.data;
        d.TrimFixedChar = c.trimFixed;
        d.TrimVarChar = c.trimVar;
        void* rec = s.NewRecord();
        d.PutField(1, rec, c.stored);
        std::u16string wide(c.stored, c.stored + std::strlen(c.stored));
        d.PutField(2, rec, wide.c_str());
        char out[5];
        char16_t wout[5];
        bool blank;
        d.GetField(1, rec, out, blank);
        EXPECT_STREQ(out, c.read) << c.stored;
        d.GetField(2, rec, wout, blank);
        EXPECT_EQ(std::u16string(wout), std::u16string(c.read, c.read + std::strlen(c.read))) << c.stored;
    }
}

TEST(MemDataFields, DatesTravelInTheDatasetForms) {
    Storage s({{"D", dtDate}, {"T", dtTime}, {"DT", dtDateTime}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    const int32_t date = 730120;  // 2000-01-01
    const int32_t time = 43200000;
    d.PutField(1, rec, &date);
    d.PutField(2, rec, &time);
    const double ms = 730120.0 * 86400000.0 + 6 * 3600000.0 + 0.4;  // rounded to whole ms
    d.PutField(3, rec, &ms);
    double stored[3];
    for (int i = 0; i < 3; ++i)
        std::memcpy(&stored[i], static_cast<uint8_t*>(rec) + d.Fields()[i]->Offset, 8);
    EXPECT_DOUBLE_EQ(stored[0], 36526.0);
    EXPECT_DOUBLE_EQ(stored[1], 0.5);
    EXPECT_DOUBLE_EQ(stored[2], 36526.25);
    int32_t dateBack = 0, timeBack = 0;
    double msBack = 0;
    bool blank;
    d.GetField(1, rec, &dateBack, blank);
    d.GetField(2, rec, &timeBack, blank);
    d.GetField(3, rec, &msBack, blank);
    EXPECT_EQ(dateBack, date);
    EXPECT_EQ(timeBack, time);
    EXPECT_DOUBLE_EQ(msBack, 730120.0 * 86400000.0 + 6 * 3600000.0);
    double zero = 0;
    d.GetDateFromBuf(&zero, nullptr, &msBack, 0);
    EXPECT_DOUBLE_EQ(msBack, 59926521600000.0);
}

TEST(MemDataFields, NumbersAsTheDatasetSeesThem) {
    Storage s({{"U", dtUInt32}, {"F", dtFloat, 0, 0, false, 2}, {"L", dtLargeint}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    const uint32_t u = 4294967295u;
    d.PutField(1, rec, &u);
    int64_t wide = 0;
    bool blank;
    d.GetField(1, rec, &wide, blank);
    EXPECT_EQ(wide, 4294967295LL);
    const double f = 1.239;
    d.PutField(2, rec, &f);
    double back = 0;
    d.GetField(2, rec, &back, blank);
    EXPECT_DOUBLE_EQ(back, 1.24);
    d.PutField(2, rec, &f, true);
    d.GetField(2, rec, &back, blank);
    EXPECT_DOUBLE_EQ(back, 1.239);
    EXPECT_DOUBLE_EQ(RoundToScale(0, 1.239), 1.239);
    EXPECT_DOUBLE_EQ(RoundToScale(1, -2.26), -2.3);
}

TEST(MemDataFields, HeapTextsAreReplacedAndBounded) {
    Storage s({{"R", dtStringRef, 5}, {"WR", dtWideStringRef, 3}, {"VB", dtVarBytesRef, 4}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.PutField(1, rec, "first text");
    char* first = PeekPacked<char*>(static_cast<uint8_t*>(rec) + d.Fields()[0]->Offset, 0);
    EXPECT_STREQ(first, "first");  // bounded by the field's length
    char out[6];
    bool blank;
    d.GetField(1, rec, out, blank);
    EXPECT_STREQ(out, "first");
    d.PutField(1, rec, "two");
    char* second = PeekPacked<char*>(static_cast<uint8_t*>(rec) + d.Fields()[0]->Offset, 0);
    EXPECT_NE(second, first);
    EXPECT_EQ(TStringHeap::UseCountMark(first), TStringHeap::RefNull);  // released after the copy
    d.GetField(1, rec, out, blank);
    EXPECT_STREQ(out, "two");

    d.PutField(2, rec, u"wide text");
    char16_t wout[4];
    d.GetField(2, rec, wout, blank);
    EXPECT_EQ(std::u16string(wout), u"wid");

    const uint8_t bytes[] = {6, 0, 1, 2, 3, 4, 5, 6};  // six bytes offered, four kept
    d.PutField(3, rec, bytes);
    uint8_t vout[6] = {};
    d.GetField(3, rec, vout, blank);
    EXPECT_EQ(vout[0], 4);
    EXPECT_EQ(vout[5], 4);
}

TEST(MemDataFields, EndOfLineConversion) {
    char out[16];
    EXPECT_EQ(AddCRString("a\nb", out, 10), 4);
    EXPECT_STREQ(out, "a\r\nb");
    EXPECT_EQ(AddCRString("a\r\nb\n", out, 10), 6);
    EXPECT_STREQ(out, "a\r\nb\r\n");
    EXPECT_EQ(AddCRString("a\nb", out, 2), 2);  // the pair is cut to its first byte
    EXPECT_STREQ(out, "a\r");
    EXPECT_EQ(RemoveCRString("a\r\nb\rc", out, 15, 6), 5);
    EXPECT_STREQ(out, "a\nb\rc");
    char16_t wout[8];
    EXPECT_EQ(AddCRUnicode(u"x\ny", wout, 7), 4);
    EXPECT_EQ(std::u16string(wout), u"x\r\ny");
    EXPECT_EQ(RemoveCRUnicode(u"x\r\ny", wout, 7, 4), 3);
    EXPECT_EQ(std::u16string(wout), u"x\ny");

    Storage s({{"S", dtString, 4}});
    s.data->convertEOL = true;
    void* rec = s.NewRecord();
    s.data->PutField(1, rec, "a\nbc");
    bool blank;
    s.data->GetField(1, rec, out, blank);
    EXPECT_STREQ(out, "a\r\nb");
}

TEST(MemDataFields, BlobFilledThroughItsObjectCountsAsValue) {
    Storage s({{"B", dtBlob}, {"M", dtMemo}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    EXPECT_TRUE(d.GetNull(1, rec));
    d.GetBlob(1, rec)->SetAsString("data");
    const std::size_t indicator = static_cast<std::size_t>(d.DataAreaSize());
    EXPECT_EQ(static_cast<uint8_t*>(rec)[indicator], 1);
    EXPECT_FALSE(d.GetNull(1, rec));
    EXPECT_EQ(static_cast<uint8_t*>(rec)[indicator], 0);
    d.SetNull(1, rec, true);
    EXPECT_EQ(d.GetBlob(1, rec)->GetSize(), 0);
    // A null blob field still hands out its handle.
    void* handle = nullptr;
    bool blank = false;
    d.GetField(2, rec, &handle, blank);
    EXPECT_TRUE(blank);
    EXPECT_EQ(handle, d.GetBlob(2, rec)->GetHandle());
}

class LifeCycleData : public TestData {
public:
    using TestData::TestData;
    std::vector<std::string> calls;
    bool failOpen = false;
    void InternalOpen(bool) override {
        calls.push_back("open");
        if (failOpen) throw rtl::Exception("open failed");
        InitFields();
    }
    void InternalClose() override { calls.push_back("close"); }
    void InternalPrepare() override { calls.push_back("prepare"); }
    void InternalUnPrepare() override { calls.push_back("unprepare"); }
    void FreeData() override {
        calls.push_back("free");
        TestData::FreeData();
    }
};

TEST(MemDataLifeCycle, OpenCloseAndPrepare) {
    LifeCycleData d({{"I", dtInteger}});
    d.Open();
    EXPECT_TRUE(d.Active());
    EXPECT_EQ(d.GetFieldCount(), 1);
    d.Open();  // already open: nothing
    d.Close();
    EXPECT_FALSE(d.Active());
    EXPECT_EQ(d.GetFieldCount(), 0);  // not prepared: the descriptors go
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "close", "free"}));

    d.calls.clear();
    d.Prepare();
    d.Open();
    d.Close();
    EXPECT_EQ(d.GetFieldCount(), 1);  // prepared: kept
    d.UnPrepare();
    EXPECT_EQ(d.GetFieldCount(), 0);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"prepare", "open", "close", "free", "unprepare"}));

    d.calls.clear();
    d.SetFilterText("NO_SUCH_FIELD = 1");  // built when the storage opens
    EXPECT_THROW(d.Open(), rtl::Exception);
    EXPECT_FALSE(d.Active());
    EXPECT_FALSE(d.HasFilterExpression());
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "close", "free"}));
    d.calls.clear();
    d.SetFilterText("");
    d.failOpen = true;
    EXPECT_THROW(d.Open(), rtl::Exception);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"open", "free"}));
    EXPECT_TRUE(d.Bof());
    EXPECT_TRUE(d.Eof());
    EXPECT_EQ(d.GetRecordCount(), 0);
    // The record operations belong to the record list.
    TData bare;
    uint8_t buffer[8];
    EXPECT_THROW(bare.GetRecord(buffer), rtl::EAbstractError);
    EXPECT_THROW(bare.DeleteRecord(), rtl::EAbstractError);
}

TEST(MemDataNames, DuplicateAndEmptyNamesBecomeUnique) {
    struct Case {
        std::vector<const char*> names;
        std::vector<const char*> expected;
    };
    const Case cases[] = {
        {{"ID", "id"}, {"ID", "id_1"}},
        {{"", "", ""}, {"_0", "_1", "_2"}},
        {{"A", "B", "A", "A"}, {"A", "B", "A_1", "A_2"}},
        {{"NAME", "NAME", "NAME_1"}, {"NAME", "NAME_1", "NAME_1_1"}},
        {{"", "X", "X"}, {"_0", "X", "X_1"}},  // an unnamed column does not join the next group
        {{"X", "X", "Y", "Y"}, {"X", "X_1", "Y", "Y_1"}},
    };
    for (const Case& c : cases) {
        std::vector<FieldSpec> specs;
        for (const char* n : c.names) specs.push_back({n, dtInteger});
        Storage s(specs);
        std::vector<std::string> got;
        for (int i = 0; i < s.data->GetFieldCount(); ++i) got.push_back(s.data->Fields()[i]->Name);
        EXPECT_EQ(got, std::vector<std::string>(c.expected.begin(), c.expected.end())) << c.names[0];
        EXPECT_EQ(s.data->Fields()[0]->ActualName, c.names[0]);  // the described name stays
    }
}

// An object value answering attribute reads from a small table.
class TableObject : public TDBObject {
public:
    std::map<std::string, int32_t> values;
    void GetAttributeValue(const AnsiString& path, void*& value, bool& isBlank, bool& nativeBuffer) override {
        auto it = values.find(path);
        isBlank = it == values.end();
        nativeBuffer = false;  // a buffer of our own, freed by the caller
        value = nullptr;
        if (isBlank) return;
        value = std::malloc(sizeof(int32_t));
        std::memcpy(value, &it->second, sizeof(int32_t));
    }
    void SetAttributeValue(const AnsiString& path, const void* value) override {
        if (value)
            values[path] = PeekPacked<int32_t>(value, 0);
        else
            values.erase(path);
    }
    bool GetAttributeIsNull(const AnsiString& path) override { return !values.count(path); }
};

TObjectType* NewType(const char* name, TDataType dt, int size = 0) {
    auto* t = new TObjectType();
    t->Name = name;
    t->DataType = dt;
    t->Size = size;
    return t;
}

TAttribute* Attr(TObjectType* owner, const char* name, TDataType dt, TObjectType* nested = nullptr) {
    auto* a = new TAttribute();
    a->Name = name;
    a->DataType = dt;
    a->Size = DataTypeSize(dt, 0);
    owner->AddAttribute(a);
    a->SetObjectType(nested);
    return a;
}

TEST(MemDataChildFields, ObjectAndArrayColumnsGetChildDescriptors) {
    TObjectType* addr = NewType("ADDR_T", dtObject);
    Attr(addr, "CITY", dtInteger);
    TObjectType* phones = NewType("PHONES_T", dtArray, 3);
    Attr(phones, "ELEMENT", dtInteger);
    TObjectType* big = NewType("BIG_T", dtArray, 500);
    Attr(big, "ELEMENT", dtInteger);

    TestData d({{"CUST", dtObject}});
    d.InitFields();
    d.Fields()[0]->SetObjectType(addr);
    d.InitObjectFields(addr, d.Fields()[0]);
    auto* ph = new TFieldDesc();
    ph->Name = ph->ActualName = "PHONES";
    ph->DataType = dtArray;
    ph->FieldNo = static_cast<uint16_t>(d.Fields().Count() + 1);
    d.Fields().Add(ph);
    d.InitObjectFields(phones, ph);
    std::vector<std::string> names;
    for (int i = 0; i < d.Fields().Count(); ++i) names.push_back(d.Fields()[i]->ActualName);
    EXPECT_EQ(names, (std::vector<std::string>{"CUST", "CUST.CITY", "PHONES", "PHONES[0]", "PHONES[1]",
                                               "PHONES[2]"}));
    EXPECT_EQ(d.Fields()[4]->Name, "[1]");
    EXPECT_EQ(d.Fields()[4]->FieldNo, 5);
    EXPECT_EQ(d.FindField("cust.city"), d.Fields()[1]);
    TFieldDesc* top = nullptr;
    EXPECT_EQ(d.GetChildFieldPath(d.Fields()[1], top), "CITY");
    EXPECT_EQ(top, d.Fields()[0]);

    const int before = d.Fields().Count();
    d.InitObjectFields(big, nullptr);
    EXPECT_EQ(d.Fields().Count() - before, 100);
    d.SparseArrays = true;
    d.InitObjectFields(big, nullptr);
    EXPECT_EQ(d.Fields().Count() - before, 101);
    addr->Free();
    phones->Free();
    big->Free();
}

TEST(MemDataChildFields, PathsThroughNestedObjectsAndArrays) {
    // CUST (object) > ADDRESS (object) > CITY; ARR (array) > [0] (object) > NAME
    TObjectType* addr = NewType("ADDR_T", dtObject);
    Attr(addr, "CITY", dtInteger);
    TObjectType* cust = NewType("CUST_T", dtObject);
    Attr(cust, "ADDRESS", dtObject, addr);
    TObjectType* item = NewType("ITEM_T", dtObject);
    Attr(item, "NAME", dtInteger);
    TObjectType* arr = NewType("ARR_T", dtArray, 2);
    Attr(arr, "ELEMENT", dtObject, item);

    TestData d({{"CUST", dtObject}, {"ARR", dtArray}});
    d.InitFields();
    d.InitObjectFields(cust, d.Fields()[0]);
    d.InitObjectFields(arr, d.Fields()[1]);
    TFieldDesc* city = d.FindField("CUST.ADDRESS.CITY");
    TFieldDesc* name = d.FindField("ARR[0].NAME");
    ASSERT_NE(city, nullptr);
    ASSERT_NE(name, nullptr);
    TFieldDesc* top = nullptr;
    EXPECT_EQ(d.GetChildFieldPath(city, top), "ADDRESS.CITY");
    EXPECT_EQ(top->Name, "CUST");
    EXPECT_EQ(d.GetChildFieldPath(name, top), "[0].NAME");
    EXPECT_EQ(top->Name, "ARR");
    for (TObjectType* t : {addr, cust, item, arr}) t->Free();
}

TEST(MemDataChildFields, ValuesComeFromTheColumnsObject) {
    TObjectType* addr = NewType("ADDR_T", dtObject);
    Attr(addr, "CITY", dtInteger);
    Attr(addr, "ZIP", dtInteger);
    Storage s({{"CUST", dtObject}});
    TestData& d = *s.data;
    d.InitObjectFields(addr, d.Fields()[0]);
    void* rec = s.RawBuffer();
    d.InitRecord(rec);
    bool blank = false;
    int32_t out = 0;
    d.GetField(2, rec, &out, blank);  // no object yet
    EXPECT_TRUE(blank);
    auto* obj = new TableObject();
    PokePacked<void*>(static_cast<uint8_t*>(rec) + d.Fields()[0]->Offset, 0, obj->GetHandle());
    const int32_t city = 77;
    d.PutField(2, rec, &city);
    EXPECT_EQ(obj->values["CITY"], 77);
    d.GetField(2, rec, &out, blank);
    EXPECT_FALSE(blank);
    EXPECT_EQ(out, 77);
    EXPECT_TRUE(d.GetNull(3, rec));
    d.SetNull(2, rec, true);
    EXPECT_TRUE(d.GetNull(2, rec));
    obj->Free();
    addr->Free();
}

TEST(MemDataHelpers, WaitHooksAndErrors) {
    static int waits = 0;
    StartWait();  // nothing installed
    StartWaitProc = [] { ++waits; };
    StopWaitProc = [] { --waits; };
    StartWait();
    EXPECT_EQ(waits, 1);
    StopWait();
    EXPECT_EQ(waits, 0);
    StartWaitProc = StopWaitProc = nullptr;
    EXPECT_EQ(ApplicationTitle(), "");
    try {
        DataError("Something failed");
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Something failed");
    }
}

}  // namespace
}  // namespace dac
