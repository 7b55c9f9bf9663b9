#include <gtest/gtest.h>

#include <string>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/FmtBcd.h"
#include "tests/dataaccess/core/MemDataFixture.h"

namespace dac {
namespace {

using rtl::Variant;
using test::FieldSpec;
using test::Storage;
using test::TestData;

TEST(MemDataVariants, ValuesKeepTheirTypeThroughTheStorage) {
    struct Case {
        FieldSpec field;
        Variant in;
        rtl::TVarType outType;
        std::string outText;
    };
    const rtl::TBcd bcd = rtl::StrToBcd("-123.45");
    const rtl::TSQLTimeStamp ts{2024, 2, 29, 13, 14, 15, 16};
    const Case cases[] = {
        {{"S", dtString, 5}, Variant("abcdefg"), rtl::varString, "abcde"},
        {{"I8", dtInt8}, Variant(int32_t{-7}), rtl::varShortInt, "-7"},
        {{"SI", dtSmallint}, Variant(int16_t{-300}), rtl::varSmallint, "-300"},
        {{"I", dtInteger}, Variant(2.0), rtl::varInteger, "2"},
        {{"I2", dtInteger}, Variant("12"), rtl::varInteger, "12"},
        {{"F", dtFloat}, Variant(int32_t{3}), rtl::varDouble, "3"},
        {{"C", dtCurrency}, Variant("2.5"), rtl::varDouble, "2.5"},
        {{"W", dtWord}, Variant(int32_t{65535}), rtl::varWord, "65535"},
        {{"BO", dtBoolean}, Variant(true), rtl::varBoolean, "True"},
        {{"L", dtLargeint}, Variant(int64_t{1} << 40), rtl::varInt64, "1099511627776"},
        {{"U", dtUInt32}, Variant(uint32_t{4294967295u}), rtl::varLongWord, "4294967295"},
        {{"WS", dtWideString, 3}, Variant(u"wide"), rtl::varOleStr, "wid"},
        {{"R", dtStringRef, 4}, Variant("heap text"), rtl::varString, "heap"},
        {{"WR", dtWideStringRef, 10}, Variant("wide heap"), rtl::varOleStr, "wide heap"},
        {{"BCD", dtBCD}, Variant(rtl::Currency::FromRaw(123456)), rtl::varCurrency, "12.3456"},
        {{"G", dtGuid, 38},
         Variant("{00000000-0000-0000-0000-000000000001}"),
         rtl::varString,
         "{00000000-0000-0000-0000-000000000001}"},
        {{"FB", dtFmtBcd}, rtl::VarFMTBcdCreate(bcd), rtl::varFMTBcd, "-123.45"},
        {{"M", dtMemo}, Variant("memo text"), rtl::varString, "memo text"},
        {{"WM", dtWideMemo}, Variant(u"wide memo"), rtl::varOleStr, "wide memo"},
        {{"V", dtVariant}, Variant(int16_t{9}), rtl::varSmallint, "9"},
    };
    for (const Case& c : cases) {
        Storage s({c.field});
        void* rec = s.NewRecord();
        s.data->PutFieldAsVariant(1, rec, c.in);
        EXPECT_FALSE(s.data->GetNull(1, rec)) << c.field.name;
        Variant out;
        s.data->GetFieldAsVariant(1, rec, out);
        EXPECT_EQ(out.VarType(), c.outType) << c.field.name;
        EXPECT_EQ(rtl::VarToStr(out), c.outText) << c.field.name;
    }
    Storage s({{"TS", dtSQLTimeStamp}, {"D", dtDateTime}});
    void* rec = s.NewRecord();
    s.data->PutFieldAsVariant(1, rec, rtl::VarSQLTimeStampCreate(ts));
    s.data->PutFieldAsVariant(2, rec, Variant::FromDateTime(36526.5));
    Variant out;
    s.data->GetFieldAsVariant(1, rec, out);
    EXPECT_TRUE(rtl::VarToSQLTimeStamp(out) == ts);
    s.data->GetFieldAsVariant(2, rec, out);
    EXPECT_EQ(out.VarType(), rtl::varDate);
    EXPECT_DOUBLE_EQ(out.AsDateTime(), 36526.5);
}

TEST(MemDataVariants, BCDIsHeldAsScaledInteger) {
    Storage s({{"BCD", dtBCD}});
    void* rec = s.NewRecord();
    s.data->PutFieldAsVariant(1, rec, Variant(12.3456));
    int64_t raw = 0;
    std::memcpy(&raw, rec, 8);
    EXPECT_EQ(raw, 123456);
}

TEST(MemDataVariants, AcceptedKindsArePerCode) {
    struct Case {
        FieldSpec field;
        Variant in;
    };
    const Case refused[] = {
        {{"SI", dtSmallint}, Variant("12")},      {{"SI", dtSmallint}, Variant(1.5)},
        {{"W", dtWord}, Variant(true)},           {{"BO", dtBoolean}, Variant(int32_t{1})},
        {{"L", dtLargeint}, Variant(int32_t{1})}, {{"U", dtUInt32}, Variant(int64_t{1})},
        {{"F", dtFloat}, Variant(true)},          {{"I", dtInteger}, Variant(true)},
        {{"X", dtCursor}, Variant(int32_t{1})},
    };
    for (const Case& c : refused) {
        Storage s({c.field});
        void* rec = s.NewRecord();
        try {
            s.data->PutFieldAsVariant(1, rec, c.in);
            ADD_FAILURE() << c.field.name << " accepted " << rtl::VarToStr(c.in);
        } catch (const rtl::EConvertError& e) {
            EXPECT_EQ(e.Message(), "Cannot convert type") << c.field.name;
        }
        EXPECT_TRUE(s.data->GetNull(1, rec)) << c.field.name;  // unchanged
    }
}

TEST(MemDataVariants, ReadingUnsupportedCodesNamesTheCode) {
    Storage s({{"B", dtBlob}});
    void* rec = s.NewRecord();
    s.data->GetBlob(1, rec)->SetAsString("bytes");
    Variant out;
    try {
        s.data->GetFieldAsVariant(1, rec, out);
        FAIL();
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot convert type 13");
    }
    s.data->PutFieldAsVariant(1, rec, Variant("new bytes"));  // written as its text
    EXPECT_EQ(s.data->GetBlob(1, rec)->GetAsString(), "new bytes");
}

TEST(MemDataVariants, NullsAndRounding) {
    Storage s({{"F", dtFloat, 0, 0, false, 2}, {"BO", dtBoolean}, {"S", dtString, 4, 0, true}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.PutFieldAsVariant(1, rec, Variant(1.239));
    Variant out;
    d.GetFieldAsVariant(1, rec, out);
    EXPECT_DOUBLE_EQ(out.AsDouble(), 1.24);
    d.PutFieldAsVariant(1, rec, Variant(1.239), true);
    d.GetFieldAsVariant(1, rec, out);
    EXPECT_DOUBLE_EQ(out.AsDouble(), 1.239);
    for (const Variant& empty : {rtl::Null(), rtl::Unassigned()}) {
        d.PutFieldAsVariant(1, rec, Variant(1.0));
        d.PutFieldAsVariant(1, rec, empty);
        EXPECT_TRUE(d.GetNull(1, rec));
        d.GetFieldAsVariant(1, rec, out);
        EXPECT_TRUE(out.IsNull());
    }
    const int16_t two = 2;
    d.PutField(2, rec, &two);
    d.GetFieldAsVariant(2, rec, out);
    EXPECT_TRUE(out.AsBoolean());
    d.PutFieldAsVariant(3, rec, Variant("AB"));
    d.TrimFixedChar = false;
    d.GetFieldAsVariant(3, rec, out);
    EXPECT_EQ(out.AsString(), "AB");
    d.PutField(3, rec, "AB  ");
    d.GetFieldAsVariant(3, rec, out);
    EXPECT_EQ(out.AsString(), "AB  ");
    d.TrimFixedChar = true;
    d.GetFieldAsVariant(3, rec, out);
    EXPECT_EQ(out.AsString(), "AB");
}

TEST(MemDataVariants, ByteArrays) {
    Storage s({{"B", dtBytes, 4}, {"VB", dtVarBytes, 4}, {"VR", dtVarBytesRef, 10}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    const Variant three = rtl::BytesToVariant({1, 2, 3});
    try {
        d.PutFieldAsVariant(1, rec, three);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("Invalid data size"), std::string::npos);
    }
    try {
        d.PutFieldAsVariant(1, rec, Variant("text"));
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("Invalid VType"), std::string::npos);
    }
    d.PutFieldAsVariant(1, rec, rtl::BytesToVariant({9, 8, 7, 6}));
    d.PutFieldAsVariant(2, rec, three);
    d.PutFieldAsVariant(3, rec, rtl::VarArrayOf({Variant(int32_t{65}), Variant("66")}));
    Variant out;
    d.GetFieldAsVariant(1, rec, out);
    EXPECT_EQ(rtl::VariantToBytes(out), (TBytes{9, 8, 7, 6}));
    d.GetFieldAsVariant(2, rec, out);
    EXPECT_EQ(rtl::VariantToBytes(out), (TBytes{1, 2, 3}));
    d.GetFieldAsVariant(3, rec, out);
    EXPECT_EQ(rtl::VariantToBytes(out), (TBytes{65, 66}));
}

// An inline variable-length byte field once trusted its stored 16-bit length: a length above
// the field's was kept on write and read past the field (and the record) on every read.
TEST(MemDataVariants, VarBytesLengthAboveTheFieldNeverReadsPastIt) {
    struct Case {
        const char* name;
        bool rawLengthInRecord;  // else written through PutField
        uint16_t length;
    } cases[] = {
        {"written", false, 6}, {"written at the limit", false, 4}, {"found in the record", true, 0xFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Storage s({{"VB", dtVarBytes, 4}, {"I", dtInteger}});
        TestData& d = *s.data;
        void* rec = s.NewRecord();
        uint8_t* place = static_cast<uint8_t*>(rec) + d.Fields()[0]->Offset;
        if (c.rawLengthInRecord) {
            d.PutFieldAsVariant(1, rec, rtl::BytesToVariant({1, 2, 3, 4}));
            PokePacked<uint16_t>(place, 0, c.length);
        } else {
            const uint8_t value[] = {uint8_t(c.length), uint8_t(c.length >> 8), 1, 2, 3, 4};
            d.PutField(1, rec, value);
            EXPECT_EQ(PeekPacked<uint16_t>(place, 0), 4);
        }
        d.PutFieldAsVariant(2, rec, Variant(int32_t{-1}));
        Variant out;
        d.GetFieldAsVariant(1, rec, out);
        EXPECT_EQ(rtl::VariantToBytes(out), (TBytes{1, 2, 3, 4}));
    }
}

// A write that fails in its conversion leaves the heap value as it was (no dangling pointer).
TEST(MemDataVariants, FailedHeapWriteKeepsTheOldValue) {
    Storage s({{"R", dtStringRef, 20}, {"VR", dtVarBytesRef, 10}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.PutFieldAsVariant(1, rec, Variant("keep me"));
    d.PutFieldAsVariant(2, rec, rtl::BytesToVariant({1, 2}));
    const Variant bad = rtl::VarArrayOf({Variant("not a byte")});
    EXPECT_ANY_THROW(d.PutFieldAsVariant(1, rec, rtl::BytesToVariant({1})));
    EXPECT_ANY_THROW(d.PutFieldAsVariant(2, rec, bad));
    Variant out;
    d.GetFieldAsVariant(1, rec, out);
    EXPECT_EQ(out.AsString(), "keep me");
    d.GetFieldAsVariant(2, rec, out);
    EXPECT_EQ(rtl::VariantToBytes(out), (TBytes{1, 2}));
    void* text = PeekPacked<void*>(static_cast<uint8_t*>(rec) + d.Fields()[0]->Offset, 0);
    EXPECT_EQ(TStringHeap::UseCountMark(text), 101);
}

TEST(MemDataVariants, Int8FieldsOfOneOrTwoBytes) {
    Storage s({{"A", dtInt8}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.PutFieldAsVariant(1, rec, Variant("-5"));
    Variant out;
    d.GetFieldAsVariant(1, rec, out);
    EXPECT_EQ(out.AsInteger(), -5);
    // A driver may describe the column with two bytes.
    d.Fields()[0]->Size = 2;
    d.AutoInitFields = false;
    d.InitFields();
    rec = s.NewRecord();
    d.PutFieldAsVariant(1, rec, Variant(int32_t{300}));
    int16_t raw = 0;
    std::memcpy(&raw, rec, 2);
    EXPECT_EQ(raw, 300);
    d.Fields()[0]->Size = 4;
    EXPECT_THROW(d.PutFieldAsVariant(1, rec, Variant(int32_t{1})), rtl::EAssertionFailed);
}

}  // namespace
}  // namespace dac
