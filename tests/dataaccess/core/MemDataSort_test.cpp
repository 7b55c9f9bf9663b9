// Sorting of the record list and value comparison for every data type.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/rtl/FmtBcd.h"
#include "tests/dataaccess/core/FakeDriver.h"
#include "tests/dataaccess/core/MemListFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::FieldSpec;
using test::ListData;

struct ColumnExpect {
    const char* name;
    bool descending;
    uint8_t sortType;
};

std::vector<ColumnExpect> ColumnsOf(TMemData& d) {
    std::vector<ColumnExpect> out;
    for (int i = 0; i < d.SortColumns()->Count(); ++i) {
        TSortColumn* c = d.SortColumns()->GetItem(i);
        out.push_back({c->FieldDesc->Name.c_str(), c->Descending, c->SortType});
    }
    return out;
}

std::string Describe(const std::vector<ColumnExpect>& columns) {
    std::string s;
    for (const auto& c : columns)
        s += std::string(c.name) + (c.descending ? " desc" : " asc") + " type " + std::to_string(c.sortType) +
             ";";
    return s;
}

TEST(SortColumns, IndexFieldNamesSyntax) {
    ListData d({{"A", dtInteger}, {"B", dtInteger}, {"NAME", dtString, 20}, {"ORDER DATE", dtDateTime}});
    d.Open();
    struct Case {
        const char* text;
        std::vector<ColumnExpect> columns;
        const char* error;
    };
    const Case cases[] = {
        {"", {}, nullptr},
        {"   ", {}, nullptr},
        {"NAME CIS; [ORDER DATE] DESC", {{"NAME", false, 1}, {"ORDER DATE", true, 0}}, nullptr},
        {"A CIS DESC", {{"A", true, 1}}, nullptr},
        {"a desc cis", {{"A", true, 1}}, nullptr},
        {";A,,B;", {{"A", false, 0}, {"B", false, 0}}, nullptr},
        {"'NAME' bin, B asc cs", {{"NAME", false, 2}, {"B", false, 0}}, nullptr},
        {"A DESC ASC", {}, "Invalid IndexFieldNames format!"},
        {"A CIS BIN", {}, "Invalid IndexFieldNames format!"},
        {"A XYZ", {}, "Invalid IndexFieldNames format!"},
        {"A = B", {}, "Invalid IndexFieldNames format!"},
        {"A.B", {}, "Invalid IndexFieldNames format!"},
        {"5", {}, "Invalid IndexFieldNames format!"},
        {"A AND B", {}, "Invalid IndexFieldNames format!"},
        {"NOPE", {}, "Field NOPE not found"},
        {"A; [NO PE]", {}, "Field NO PE not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        d.ChangeIndexFieldNames("B DESC");  // the order before the change
        if (c.error) {
            try {
                d.ChangeIndexFieldNames(c.text);
                ADD_FAILURE() << "no error";
            } catch (const rtl::Exception& e) {
                EXPECT_EQ(e.Message(), c.error);
            }
            // A bad text changes nothing.
            EXPECT_EQ(d.IndexFieldNames(), "B DESC");
            EXPECT_EQ(Describe(ColumnsOf(d)), "B desc type 0;");
        } else {
            d.ChangeIndexFieldNames(c.text);
            EXPECT_EQ(Describe(ColumnsOf(d)), Describe(c.columns));
            EXPECT_EQ(d.IndexFieldNames(), c.text);
        }
    }
}

TEST(SortColumns, KeptAcrossDescribeAndDroppedWithDescriptors) {
    ListData d({{"A", dtInteger}, {"NAME", dtString, 20}});
    d.ChangeIndexFieldNames("NAME DESC");  // no descriptors yet: only kept
    EXPECT_FALSE(d.HasSortColumns());
    d.Open();
    EXPECT_EQ(Describe(ColumnsOf(d)), "NAME desc type 0;");
    d.Close();
    EXPECT_FALSE(d.HasSortColumns());
    d.ChangeIndexFieldNames("MISSING");  // checked when the storage describes its columns
    EXPECT_THROW(d.Open(), rtl::Exception);
    EXPECT_FALSE(d.Active());
}

TEST(SortColumns, DriverRecordSetTakesTheConnectionsSortType) {
    fake::FakeConnection connection;
    connection.SetProp(prDefaultSortType, static_cast<int>(stCaseInsensitive));
    fake::FakeRecordSet rs;
    fake::FillNumbered(rs, 3);
    rs.SetConnection(&connection);
    rs.Open();
    rs.ChangeIndexFieldNames("NAME; ID BIN");
    EXPECT_EQ(Describe(ColumnsOf(rs)), "NAME asc type 1;ID asc type 2;");
}

// ---------------------------------------------------------------------------------------------
// Full sort and local moves

ListData* Filled(ListData& d, const std::vector<std::vector<Variant>>& rows) {
    d.Open();
    for (const auto& r : rows) d.Append(r);
    return &d;
}

TEST(Sorting, NullsFirstAscendingLastDescendingEqualRowsKeepTheirOrder) {
    ListData d({{"ID", dtInteger}, {"V", dtInteger}});
    Filled(d, {{1, 5}, {2, rtl::Null()}, {3, 1}, {4, 5}, {5, rtl::Null()}, {6, 3}});
    d.ChangeIndexFieldNames("V");
    EXPECT_EQ(d.Ids(), (std::vector<int>{2, 5, 3, 6, 1, 4}));
    d.ChangeIndexFieldNames("V DESC");
    EXPECT_EQ(d.Ids(), (std::vector<int>{1, 4, 6, 3, 2, 5}));
    d.ChangeIndexFieldNames("V DESC; ID DESC");
    EXPECT_EQ(d.Ids(), (std::vector<int>{4, 1, 6, 3, 5, 2}));
}

TEST(Sorting, StringSortTypes) {
    ListData d({{"ID", dtInteger}, {"S", dtString, 10}});
    Filled(d, {{1, "abd"}, {2, "ABC"}, {3, "abc"}, {4, "Abc"}, {5, "b"}});
    d.ChangeIndexFieldNames("S");  // locale order, lower case before upper case
    EXPECT_EQ(d.Ids(), (std::vector<int>{3, 4, 2, 1, 5}));
    d.ChangeIndexFieldNames("S CIS");  // abc, ABC, Abc equal: they keep their order
    EXPECT_EQ(d.Ids(), (std::vector<int>{3, 4, 2, 1, 5}));
    d.ChangeIndexFieldNames("ID DESC");
    d.ChangeIndexFieldNames("S CIS");
    EXPECT_EQ(d.Ids(), (std::vector<int>{4, 3, 2, 1, 5}));
    d.ChangeIndexFieldNames("S BIN");  // character codes: upper case first
    EXPECT_EQ(d.Ids(), (std::vector<int>{2, 4, 3, 1, 5}));
}

TEST(Sorting, InsertedAndChangedRowsMoveToTheirPlace) {
    ListData d({{"ID", dtInteger}, {"V", dtInteger}});
    d.Open();
    d.ChangeIndexFieldNames("V");
    std::mt19937 rng(7);
    std::vector<int> values;
    for (int id = 1; id <= 60; ++id) {
        const int v = static_cast<int>(rng() % 40);
        values.push_back(v);
        // Insert before a random current row, as the dataset does.
        if (d.GetRecordCount() > 0) d.SetRecordNo(1 + static_cast<int>(rng() % d.GetRecordCount()));
        void* rec = d.NewRecord({id, v});
        d.InsertRecord(rec);
        d.FreeRecBuf(rec);
    }
    for (int k = 0; k < 30; ++k) {
        const int id = 1 + static_cast<int>(rng() % 60);
        values[id - 1] = static_cast<int>(rng() % 40);
        d.Edit(id, 2, values[id - 1]);
    }
    std::vector<int> ids = d.Ids();
    ASSERT_EQ(ids.size(), 60u);
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_LE(values[ids[i - 1] - 1], values[ids[i] - 1]);
}

TEST(Sorting, CalculatedColumnIsFilledForEachComparison) {
    ListData d({{"ID", dtInteger}, {"NEG", dtInteger, 0, 2}});
    d.OnCalcFields = [&d](void* dest, void*) {
        int32_t neg = -d.Value(1, dest).AsInteger();
        d.PutField(2, dest, &neg);
    };
    Filled(d, {{2}, {1}, {3}});
    d.ChangeIndexFieldNames("NEG");
    EXPECT_EQ(d.Ids(), (std::vector<int>{3, 2, 1}));
}

TEST(Sorting, AFailingComparisonLeavesTheOrder) {
    ListData d({{"ID", dtInteger}, {"NEG", dtInteger, 0, 2}});
    int calls = 0;
    d.OnCalcFields = [&](void* dest, void*) {
        if (++calls > 5) throw rtl::Exception("calc failed");
        int32_t neg = -d.Value(1, dest).AsInteger();
        d.PutField(2, dest, &neg);
    };
    Filled(d, {{4}, {1}, {3}, {2}, {5}});
    EXPECT_THROW(d.ChangeIndexFieldNames("NEG"), rtl::Exception);
    d.OnCalcFields = nullptr;
    EXPECT_EQ(d.AllIds(), (std::vector<int>{4, 1, 3, 2, 5}));
    EXPECT_EQ(d.Ids(), (std::vector<int>{4, 1, 3, 2, 5}));
}

TEST(Sorting, BookmarksFollowTheirRowsThroughASort) {
    ListData d({{"ID", dtInteger}, {"V", dtInteger}});
    Filled(d, {{1, 30}, {2, 10}, {3, 20}});
    std::vector<uint8_t> b1(RecBookmark::Size), b3(RecBookmark::Size);
    d.Goto(1);
    d.GetBookmark(b1.data());
    d.Goto(3);
    d.GetBookmark(b3.data());
    EXPECT_EQ(d.CompareBookmarks(b1.data(), b3.data()), -1);
    d.ChangeIndexFieldNames("V");
    EXPECT_EQ(d.CompareBookmarks(b1.data(), b3.data()), 1);
    d.SetToBookmark(b1.data());
    EXPECT_EQ(d.Value(1).AsInteger(), 1);
    EXPECT_EQ(d.GetRecordNo(), 3);
}

// ---------------------------------------------------------------------------------------------
// Value comparison by type

rtl::TBytes Bytes(std::initializer_list<uint8_t> b) {
    return rtl::TBytes(b);
}

TEST(Comparison, FieldsOfEveryType) {
    struct Case {
        const char* what;
        FieldSpec field;
        Variant low, high;
    };
    const rtl::TSQLTimeStamp ts1{2020, 5, 1, 10, 0, 0, 5}, ts2{2020, 5, 1, 10, 0, 0, 6};
    const Case cases[] = {
        {"int8", {"F", dtInt8}, Variant(int8_t{-5}), Variant(int8_t{3})},
        {"smallint", {"F", dtSmallint}, Variant(int16_t{-300}), Variant(int16_t{2})},
        {"integer", {"F", dtInteger}, Variant(-70000), Variant(5)},
        {"largeint", {"F", dtLargeint}, Variant(-(1LL << 40)), Variant(1LL << 41)},
        {"word", {"F", dtWord}, Variant(uint16_t{2}), Variant(uint16_t{60000})},
        {"uint32", {"F", dtUInt32}, Variant(uint32_t{5}), Variant(uint32_t{4000000000u})},
        {"float", {"F", dtFloat}, Variant(-0.5), Variant(0.25)},
        {"currency", {"F", dtCurrency}, Variant(1.5), Variant(2.5)},
        {"bcd",
         {"F", dtBCD},
         Variant(rtl::Currency::FromRaw(-12345)),
         Variant(rtl::Currency::FromRaw(12344))},
        {"fmtbcd", {"F", dtFmtBcd}, Variant("-12.5"), Variant("3.25")},
        {"date", {"F", dtDate}, Variant::FromDateTime(-700.0), Variant::FromDateTime(45000.0)},
        {"time", {"F", dtTime}, Variant::FromDateTime(0.25), Variant::FromDateTime(0.75)},
        {"datetime", {"F", dtDateTime}, Variant::FromDateTime(45000.25), Variant::FromDateTime(45000.5)},
        {"boolean", {"F", dtBoolean}, Variant(false), Variant(true)},
        {"string", {"F", dtString, 10}, Variant("abc"), Variant("abd")},
        {"string ref", {"F", dtStringRef, 10}, Variant("Яблоко"), Variant("яблоко2")},
        {"wide", {"F", dtWideString, 10}, Variant(u"ab"), Variant(u"b")},
        {"wide ref", {"F", dtWideStringRef, 10}, Variant(u"\u0430"), Variant(u"\u0431")},
        {"guid", {"F", dtGuid, 38}, Variant("{0A}"), Variant("{0b}")},
        {"bytes",
         {"F", dtBytes, 3},
         rtl::BytesToVariant(Bytes({1, 2, 3})),
         rtl::BytesToVariant(Bytes({1, 2, 200}))},
        {"varbytes",
         {"F", dtVarBytes, 5},
         rtl::BytesToVariant(Bytes({9, 9})),
         rtl::BytesToVariant(Bytes({9, 9, 0}))},
        {"varbytes ref",
         {"F", dtVarBytesRef, 5},
         rtl::BytesToVariant(Bytes({1})),
         rtl::BytesToVariant(Bytes({2}))},
        {"memo", {"F", dtMemo}, Variant("apple"), Variant("banana")},
        {"wide memo", {"F", dtWideMemo}, Variant(u"\u0430\u0430"), Variant(u"\u0430\u0431")},
        {"variant", {"F", dtVariant}, Variant(3), Variant(3.5)},
        {"sql time stamp",
         {"F", dtSQLTimeStamp},
         rtl::VarSQLTimeStampCreate(ts1),
         rtl::VarSQLTimeStampCreate(ts2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListData d({{"ID", dtInteger}, c.field});
        d.Open();
        void* low = d.NewRecord({1, c.low});
        void* high = d.NewRecord({2, c.high});
        void* null = d.NewRecord({3});
        TFieldDesc* f = d.Fields()[1];
        EXPECT_EQ(d.CompareFields(low, high, f, 0), -1);
        EXPECT_EQ(d.CompareFields(high, low, f, 0), 1);
        EXPECT_EQ(d.CompareFields(high, high, f, 0), 0);
        EXPECT_EQ(d.CompareFields(null, low, f, 0), -1);  // nulls first
        EXPECT_EQ(d.CompareFields(low, null, f, 0), 1);
        EXPECT_EQ(d.CompareFields(null, null, f, 0), 0);
        for (void* r : {low, high, null}) d.FreeRecord(r);
    }
}

struct Keyed {
    ListData d;
    void* rec = nullptr;
    Keyed(FieldSpec field, const Variant& value) : d({{"ID", dtInteger}, field}) {
        d.Open();
        rec = d.NewRecord({1, value});
    }
    ~Keyed() { d.FreeRecord(rec); }
    int Text(const char* key, int options) {
        return d.CompareFieldValue(key, dtString, d.Fields()[1], rec, options);
    }
    int Wide(const char16_t* key, int options) {
        return d.CompareFieldValue(key, dtWideString, d.Fields()[1], rec, options);
    }
};

TEST(Comparison, TextKeysAgainstTheFieldsText) {
    struct Case {
        const char* what;
        FieldSpec field;
        Variant value;
        const char* key;
        int options;
        int expected;
    };
    const Case cases[] = {
        {"partial key on an integer's digits", {"F", dtInteger}, Variant(123), "12", coPartialKey, 0},
        {"a longer partial key", {"F", dtInteger}, Variant(12), "123", coPartialKey, 1},
        {"contains", {"F", dtString, 20}, Variant("Petrov Ivan"), "ov I", coContains, 0},
        {"contains ignoring case",
         {"F", dtString, 20},
         Variant("Petrov Ivan"),
         "OV I",
         coContains | coCaseInsensitive,
         0},
        {"not contained", {"F", dtString, 20}, Variant("Petrov"), "x", coContains, 1},
        {"an empty partial key matches only an empty text",
         {"F", dtStringRef, 20},
         Variant("abc"),
         "",
         coPartialKey,
         -1},
        {"currency text ignores case", {"F", dtBCD}, Variant(rtl::Currency::FromRaw(15000)), "1.5", 0, 0},
        {"float text", {"F", dtFloat}, Variant(2.5), "2.5", 0, 0},
        {"guid ignores case", {"F", dtGuid, 38}, Variant("{ABCD}"), "{abcd}", 0, 0},
        {"memo text", {"F", dtMemo}, Variant("long text"), "long", coPartialKey, 0},
        {"binary order: upper case first", {"F", dtString, 20}, Variant("a"), "B", coBinary, -1},
        {"locale order: letters first", {"F", dtString, 20}, Variant("a"), "B", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Keyed k(c.field, c.value);
        EXPECT_EQ(k.Text(c.key, c.options), c.expected);
    }
    // An empty wide partial key matches every field.
    Keyed w({"F", dtWideString, 10}, Variant(u"abc"));
    EXPECT_EQ(w.Wide(u"", coPartialKey), 0);
    EXPECT_EQ(w.Wide(u"AB", coPartialKey | coCaseInsensitive), 0);
    EXPECT_EQ(w.Wide(u"abcd", coPartialKey), 1);
    EXPECT_EQ(w.Wide(u"BC", coContains | coCaseInsensitive), 0);
    // A text key has nothing to compare with in a Boolean.
    Keyed b({"F", dtBoolean}, Variant(true));
    EXPECT_THROW(b.Text("True", 0), rtl::EConvertError);
    Keyed g({"F", dtGuid, 38}, Variant("{A}"));
    EXPECT_THROW(g.Wide(u"{A}", 0), rtl::EConvertError);
}

TEST(Comparison, TrimmedTextsCompareWithoutTheirBlanks) {
    Keyed fixed({"F", dtString, 4, 0, true}, Variant("AB  "));
    EXPECT_EQ(fixed.Text("AB", 0), -1);  // no trim option: the blanks count
    fixed.d.TrimFixedChar = true;
    EXPECT_EQ(fixed.Text("AB", 0), 0);
    EXPECT_EQ(fixed.Text("AB ", 0), 0);  // the key is trimmed too
    Keyed var({"F", dtWideString, 6}, Variant(u"xy "));
    var.d.TrimVarChar = true;
    EXPECT_EQ(var.Wide(u"xy", 0), 0);
}

TEST(Comparison, NativeKeys) {
    Keyed bytes({"F", dtBytes, 3}, rtl::BytesToVariant(Bytes({7, 8, 9})));
    const uint8_t key3[] = {3, 0, 7, 8, 9};
    const uint8_t key1[] = {1, 0, 8};
    const uint8_t key2[] = {2, 0, 7, 8};
    TFieldDesc* f = bytes.d.Fields()[1];
    EXPECT_EQ(bytes.d.CompareFieldValue(key3, dtBytes, f, bytes.rec, coContains), 0);
    EXPECT_EQ(bytes.d.CompareFieldValue(key1, dtBytes, f, bytes.rec, coContains), 0);
    EXPECT_EQ(bytes.d.CompareFieldValue(key2, dtBytes, f, bytes.rec, coPartialKey), 0);
    EXPECT_EQ(bytes.d.CompareFieldValue(key2, dtBytes, f, bytes.rec, 0), -1);  // shorter, equal start

    // A Boolean compares its low byte: True against a stored 2 is equal.
    Keyed flag({"F", dtBoolean}, Variant(true));
    int16_t two = 2;
    flag.d.PutField(2, flag.rec, &two);
    const uint8_t yes = 1;
    EXPECT_EQ(flag.d.CompareFieldValue(&yes, dtBoolean, flag.d.Fields()[1], flag.rec, 0), 0);

    // A currency key is a double, rounded to ten-thousandths.
    Keyed money({"F", dtBCD}, Variant(rtl::Currency::FromRaw(12345)));
    const double k = 1.23449999;
    EXPECT_EQ(money.d.CompareFieldValue(&k, dtBCD, money.d.Fields()[1], money.rec, 0), 0);

    const rtl::TBcd bcd = rtl::StrToBcd("-0.5");
    Keyed dec({"F", dtFmtBcd}, Variant("-0.25"));
    EXPECT_EQ(dec.d.CompareFieldValue(&bcd, dtFmtBcd, dec.d.Fields()[1], dec.rec, 0), -1);

    EXPECT_THROW(money.d.CompareFieldValue(&k, dtObject, money.d.Fields()[1], money.rec, 0),
                 rtl::EAssertionFailed);
}

TEST(Comparison, Variants) {
    struct Case {
        const char* what;
        Variant key, field;
        int expected;
    };
    const Case cases[] = {
        {"integer against double", Variant(3), Variant(2.5), 1},
        {"equal numbers of two kinds", Variant(int16_t{4}), Variant(4LL), 0},
        {"number against text as texts", Variant(10), Variant("9"), -1},
        {"texts by the locale", Variant("b"), Variant("a"), 1},
        {"date against integer by kind", Variant::FromDateTime(1.0), Variant(5), 1},
        {"null against a value by kind", rtl::Null(), Variant(1), -1},
        {"two nulls", rtl::Null(), rtl::Null(), 0},
        {"byte arrays by length first", rtl::BytesToVariant(Bytes({9})), rtl::BytesToVariant(Bytes({1, 1})),
         -1},
        {"byte arrays by bytes", rtl::BytesToVariant(Bytes({1, 3})), rtl::BytesToVariant(Bytes({1, 2})), 1},
        {"byte array against null", rtl::BytesToVariant(Bytes({1})), rtl::Null(), 1},
        {"null against a byte array", rtl::Null(), rtl::BytesToVariant(Bytes({1})), -1},
        {"byte array against a text by kind", rtl::BytesToVariant(Bytes({1})), Variant("x"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TData::CompareVariants(c.key, c.field, 0), c.expected);
    }
}

}  // namespace
}  // namespace dac
