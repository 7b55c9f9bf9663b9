// TOraParamDesc: bind buffers, indicators, typed and Variant items, value objects and tables.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "OraValueTables.h"
#include "dataaccess/core/CLRClasses.h"

using namespace dac;
using namespace oratest;

namespace {

using OraParamDescTest = OraValueTest;

// A Variant array 1..n.
rtl::Variant Array1(std::initializer_list<rtl::Variant> values) {
    rtl::Variant v = rtl::VarArrayCreate({1, static_cast<int>(values.size())}, rtl::varVariant);
    int i = 1;
    for (const auto& x : values) v.PutElement(i++, x);
    return v;
}

std::unique_ptr<TOraParamDesc> Param(TDataType type, int32_t size = 0, int32_t length = 1) {
    auto p = std::make_unique<TOraParamDesc>();
    p->SetDataType(type);
    p->SetSize(size);
    p->SetLength(length);
    return p;
}

std::string ItemBytes(TOraParamDesc& p, int index, int count) {
    return HexText(static_cast<uint8_t*>(p.GetBuffer()) + (index - 1) * p.GetItemSize(), count);
}

}  // namespace

TEST_F(OraParamDescTest, ItemLayoutByDataType) {
    struct Case {
        TDataType type;
        int32_t size, length;
        int itemSize;
        bool valueObject;  // a number or timestamp of its own
    };
    const int ptr = static_cast<int>(sizeof(void*));
    const Case cases[] = {
        {dtString, 10, 1, 11, false},      {dtString, 0, 1, 2, false},         {dtString, -3, 1, 2, false},
        {dtFixedChar, 5, 2, 6, false},     {dtWideString, 10, 1, 22, false},   {dtWideString, 0, 1, 4, false},
        {dtFixedWideChar, 3, 1, 8, false}, {dtInteger, 0, 1, 4, false},        {dtBoolean, 0, 3, 4, false},
        {dtFloat, 0, 1, 8, false},         {dtDateTime, 0, 1, 7, false},       {dtLargeint, 0, 1, 0, true},
        {dtBCD, 0, 3, 22, false},          {dtFmtBcd, 0, 1, 0, true},          {dtNumber, 0, 1, 0, false},
        {dtNumber, 0, 2, 22, false},       {dtBytes, 16, 1, 18, false},        {dtVarBytes, 0, 1, 2, false},
        {dtSQLTimeStamp, 0, 1, 0, true},   {dtSQLTimeStamp, 0, 4, ptr, false}, {dtTimeStamp, 0, 1, 0, false},
        {dtTimeStampTZ, 0, 2, ptr, false}, {dtIntervalYM, 0, 2, ptr, false},   {dtIntervalDS, 0, 1, 0, false},
        {dtBlob, 0, 1, 0, false},          {dtCursor, 0, 1, 0, false},         {dtOraClob, 0, 1, 0, false},
        {dtXML, 0, 1, 0, false},           {dtLabel, 0, 1, 0, false},
    };
    for (const auto& c : cases) {
        auto p = Param(c.type, c.size, c.length);
        p->AllocBuffer();
        EXPECT_TRUE(p->GetBufferAllocated()) << c.type;
        EXPECT_EQ(c.itemSize, p->GetItemSize()) << c.type << " " << c.size << " " << c.length;
        EXPECT_EQ(c.itemSize > 0, p->GetBuffer() != nullptr) << c.type;
        EXPECT_EQ(c.valueObject, p->GetObject() != nullptr) << c.type;
        for (int i = 1; i <= c.length; ++i) EXPECT_EQ(-1, p->GetIndicatorPtr()[i - 1]) << c.type;
    }
    auto unknown = Param(dtUnknown);
    unknown->AllocBuffer();
    EXPECT_FALSE(unknown->GetBufferAllocated());
    for (TDataType t : {dtDate, dtTime, dtGuid, dtRowId, dtCurrency, dtVariant, dtUndefined, dtURowId}) {
        auto p = Param(t);
        EXPECT_EQ(0u, Message([&] { p->AllocBuffer(); }).find("Unknown data type")) << t;
        EXPECT_FALSE(p->GetBufferAllocated());
    }
}

TEST_F(OraParamDescTest, UnicodeConnectionStoresWideTypes) {
    TOCIConnection connection;
    connection.SetProp(prUseUnicode, true);
    TCRCommand command;
    command.SetConnection(&connection);
    const std::pair<TDataType, TDataType> cases[] = {{dtString, dtWideString},
                                                     {dtMemo, dtWideMemo},
                                                     {dtFixedChar, dtFixedWideChar},
                                                     {dtInteger, dtInteger},
                                                     {dtWideString, dtWideString}};
    for (auto [given, stored] : cases) {
        TOraParamDesc p;
        p.Command = &command;
        p.SetDataType(given);
        EXPECT_EQ(stored, p.GetDataType()) << given;
    }
    TOraParamDesc p;
    p.Command = &command;
    p.SetDataType(dtString);
    p.SetSize(5);
    p.SetItemAsWideString(1, u"\u0416abc");
    EXPECT_EQ(12, p.GetItemSize());
    p.SetDataType(dtString);  // the same stored type: the value stays
    EXPECT_EQ(u"\u0416abc", p.GetItemAsWideString(1));
}

TEST_F(OraParamDescTest, EmptyTextIsNullAndNullItemsReadAsTheirType) {
    auto s = Param(dtString, 10);
    s->SetItemAsString(1, "x");
    s->SetItemAsString(1, "");
    EXPECT_TRUE(s->GetNull());
    EXPECT_EQ(rtl::varString, s->GetValue().VarType());  // a null text reads as the empty string
    EXPECT_EQ("", s->GetValue().AsString());
    auto w = Param(dtWideString, 10);
    w->SetItemAsWideString(1, u"");
    EXPECT_TRUE(w->GetNull());
    EXPECT_TRUE(w->GetValue().IsNull());
    for (TDataType t : {dtInteger, dtFloat, dtDateTime, dtBoolean, dtFixedChar, dtLargeint, dtBCD, dtFmtBcd,
                        dtSQLTimeStamp, dtBytes}) {
        auto p = Param(t, 4);
        p->AllocBuffer();
        EXPECT_TRUE(p->GetValue().IsNull()) << t;
    }
    EXPECT_TRUE(Param(dtUnknown)->GetValue().IsNull());  // null before anything else
}

TEST_F(OraParamDescTest, TextIsCutToTheItemAndLinesConvert) {
    auto p = Param(dtString, 3);
    p->SetItemAsString(1, "hello");
    EXPECT_EQ("hel", p->GetItemAsString(1));
    EXPECT_EQ(3, p->GetMaxActualLength());
    p->SetItemAsString(1, "hi");
    EXPECT_EQ(2, p->GetMaxActualLength());  // a scalar keeps the last length
    p->SetNull(true);
    EXPECT_EQ(0, p->GetMaxActualLength());
    EXPECT_EQ("", p->GetItemAsString(1));

    auto one = Param(dtString, 0);
    one->SetItemAsString(1, "abc");
    EXPECT_EQ("a", one->GetItemAsString(1));

    auto wide = Param(dtWideString, 2);
    wide->SetItemAsWideString(1, u"\u0416\u0417\u0418");
    EXPECT_EQ(u"\u0416\u0417", wide->GetItemAsWideString(1));
    EXPECT_EQ("\xC6\xC7", wide->GetItemAsString(1));  // code page 1251

    auto lines = Param(dtString, 10);
    lines->SetConvertEOLFlag(true);
    lines->SetItemAsString(1, "a\r\nb\nc");
    EXPECT_EQ("61 0A 62 0A 63 00", ItemBytes(*lines, 1, 6));
    EXPECT_EQ("a\r\nb\r\nc", lines->GetItemAsString(1));
    auto wideLines = Param(dtWideString, 10);
    wideLines->SetConvertEOLFlag(true);
    wideLines->SetItemAsWideString(1, u"x\r\ny");
    EXPECT_EQ("78 00 0A 00 79 00 00 00", ItemBytes(*wideLines, 1, 8));
    EXPECT_EQ(u"x\r\ny", wideLines->GetItemAsWideString(1));

    // A table keeps the longest length set since the last null.
    auto table = Param(dtString, 10, 3);
    table->SetItemAsString(1, "abcd");
    table->SetItemAsString(2, "ab");
    EXPECT_EQ(4, table->GetMaxActualLength());
}

TEST_F(OraParamDescTest, BytesAreLengthPrefixedAndCutToSize) {
    auto p = Param(dtVarBytes, 4);
    p->SetValue(rtl::BytesToVariant({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ("04 00 01 02 03 04", ItemBytes(*p, 1, 6));
    EXPECT_EQ((rtl::TBytes{1, 2, 3, 4}), rtl::VariantToBytes(p->GetValue()));
    p->SetValue(rtl::Variant("ab"));
    EXPECT_EQ((rtl::TBytes{'a', 'b'}), rtl::VariantToBytes(p->GetValue()));
    p->SetValue(rtl::BytesToVariant({}));
    EXPECT_TRUE(p->GetNull());
    EXPECT_EQ("00 00", ItemBytes(*p, 1, 2));
    // Any other array is a table of raw values.
    p->SetValue(Array1({rtl::BytesToVariant({9, 8}), rtl::BytesToVariant({7})}));
    EXPECT_EQ(2, p->GetLength());
    EXPECT_EQ((rtl::TBytes{9, 8}), rtl::VariantToBytes(p->GetValue().GetElement(1)));
    EXPECT_EQ((rtl::TBytes{7}), rtl::VariantToBytes(p->GetValue().GetElement(2)));
    EXPECT_EQ("Cannot convert type", Message([&] { p->SetValue(rtl::Variant(5)); }));
    EXPECT_EQ((rtl::TBytes{9, 8}), rtl::VariantToBytes(p->GetItemAsVariant(1)));
}

TEST_F(OraParamDescTest, ChangingTypeSizeOrLengthDropsTheBufferAndItsObjects) {
    auto p = Param(dtLargeint);
    p->SetItemAsLargeInt(1, 42);
    TOraNumber* number = p->GetAsNumber();
    ASSERT_NE(nullptr, number);
    number->AddRef();
    EXPECT_EQ(2, number->RefCount());
    p->SetBindHandle(reinterpret_cast<OCIBind*>(p.get()), 22);
    p->SetDataType(dtInteger);
    EXPECT_EQ(1, number->RefCount());
    EXPECT_EQ(nullptr, p->GetObject());
    EXPECT_EQ(nullptr, p->GetBindHandle());
    EXPECT_EQ(0, p->GetBoundSize());
    EXPECT_FALSE(p->GetBufferAllocated());
    number->Free();

    auto s = Param(dtString, 5);
    s->SetItemAsString(1, "abc");
    s->SetSize(5);  // unchanged: the value stays
    EXPECT_EQ("abc", s->GetItemAsString(1));
    s->SetSize(6);
    EXPECT_FALSE(s->GetBufferAllocated());
    auto i = Param(dtInteger);
    i->SetItemAsInteger(1, 3);
    i->SetSize(9);  // the size of a number type does not matter
    EXPECT_EQ(3, i->GetItemAsInteger(1));
    i->SetLength(2);
    EXPECT_FALSE(i->GetBufferAllocated());
    EXPECT_TRUE(i->GetItemNull(2));
}

TEST_F(OraParamDescTest, IndexesAreCheckedAndCursorsAreNeverNull) {
    auto p = Param(dtInteger, 0, 2);
    p->SetItemAsInteger(1, 5);
    for (int bad : {0, 3, -1}) {
        EXPECT_EQ("Index of array is not range", Message([&] { p->SetItemAsInteger(bad, 9); })) << bad;
        EXPECT_THROW(p->GetIndicator(bad), rtl::ERangeError);
        EXPECT_THROW(p->SetItemAsVariant(bad, rtl::Variant(1)), rtl::ERangeError);
    }
    EXPECT_EQ(5, p->GetItemAsInteger(1));
    EXPECT_TRUE(p->GetItemNull(2));

    auto cursor = Param(dtCursor);
    cursor->AllocBuffer();
    EXPECT_EQ(-1, *cursor->GetIndicatorPtr());
    EXPECT_EQ(0, cursor->GetIndicator(1));
    EXPECT_EQ(0, cursor->GetIndicator(7));
    EXPECT_FALSE(cursor->GetNull());
}

TEST_F(OraParamDescTest, TypesInferredFromVariants) {
    struct Case {
        rtl::Variant value;
        TDataType type;
        int32_t size;
    };
    const Case cases[] = {
        {rtl::Variant(int16_t(-3)), dtInteger, 0},
        {rtl::Variant(int32_t(7)), dtInteger, 0},
        {rtl::Variant(int8_t(-1)), dtInteger, 0},
        {rtl::Variant(uint8_t(200)), dtInteger, 0},
        {rtl::Variant(uint16_t(60000)), dtInteger, 0},
        {rtl::Variant(1.5f), dtFloat, 0},
        {rtl::Variant(2.25), dtFloat, 0},
        {rtl::Variant(rtl::Currency::FromRaw(12345)), dtFloat, 0},
        {rtl::Variant::FromDateTime(45000.5), dtDateTime, 0},
        {rtl::Variant(uint32_t(4000000000u)), dtLargeint, 0},
        {rtl::Variant(int64_t(1) << 40), dtLargeint, 0},
        {rtl::Variant("abc"), dtString, 3},
        {rtl::Variant(u"abcd"), dtWideString, 4},
    };
    for (const auto& c : cases) {
        TOraParamDesc p;
        p.SetValue(c.value);
        EXPECT_EQ(c.type, p.GetDataType()) << rtl::VarTypeAsText(c.value.VarType());
        EXPECT_EQ(c.size, p.GetSize()) << rtl::VarTypeAsText(c.value.VarType());
        EXPECT_TRUE(rtl::VarSameValue(c.value, p.GetValue())) << rtl::VarTypeAsText(c.value.VarType());
    }
    for (const rtl::Variant& v : {rtl::Variant(true), rtl::Variant(uint64_t(1)), rtl::BytesToVariant({1})}) {
        TOraParamDesc p;
        EXPECT_EQ("Unknown data type", Message([&] { p.SetItemAsVariant(1, v); }))
            << rtl::VarTypeAsText(v.VarType());
        EXPECT_EQ(dtUnknown, p.GetDataType());
    }
}

TEST_F(OraParamDescTest, VariantsConvertToTheDeclaredType) {
    struct Case {
        TDataType type;
        rtl::Variant in;
        rtl::Variant out;  // Unassigned: the conversion raises `error`
        const char* error;
    };
    rtl::TFormatSettingsOverride german([] {
        rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
        fs.DecimalSeparator = ',';
        fs.ThousandSeparator = '.';
        fs.ShortDateFormat = "dd/MM/yyyy";
        fs.DateSeparator = '.';
        return fs;
    }());
    const rtl::TBcd bcd = rtl::StrToBcd("-123,456");
    const Case cases[] = {
        {dtInteger, rtl::Variant("42"), rtl::Variant(42), ""},
        {dtInteger, rtl::Variant(7.0), rtl::Variant(7), ""},
        {dtInteger, rtl::Variant("x"), rtl::Variant(), "'x' is not a valid integer value"},
        {dtInteger, rtl::Variant(true), rtl::Variant(), "Cannot convert type"},
        {dtFloat, rtl::Variant("1,5"), rtl::Variant(1.5), ""},
        {dtFloat, rtl::Variant(int64_t(3)), rtl::Variant(3.0), ""},
        {dtLargeint, rtl::Variant(int64_t(1) << 40), rtl::Variant(int64_t(1) << 40), ""},
        {dtLargeint, rtl::Variant("-9223372036854775808"), rtl::Variant(INT64_MIN), ""},
        {dtBCD, rtl::Variant(1.23456), rtl::Variant(rtl::Currency::FromRaw(12346)), ""},
        {dtBCD, rtl::Variant("12,5"), rtl::Variant(rtl::Currency::FromRaw(125000)), ""},
        {dtDateTime, rtl::Variant(45000.25), rtl::Variant::FromDateTime(45000.25), ""},
        {dtDateTime, rtl::Variant("24.03.2023"), rtl::Variant::FromDateTime(rtl::EncodeDate(2023, 3, 24)),
         ""},
        {dtDateTime, rtl::Variant(5), rtl::Variant(), "Cannot convert type"},
        {dtBoolean, rtl::Variant(true), rtl::Variant(true), ""},
        {dtBoolean, rtl::Variant(5), rtl::Variant(true), ""},
        {dtBoolean, rtl::Variant(0.0), rtl::Variant(false), ""},
        {dtBoolean, rtl::Variant("true"), rtl::Variant(), "Cannot convert type"},
        {dtFmtBcd, rtl::Variant(17), rtl::VarFMTBcdCreate(rtl::IntegerToBcd(17)), ""},
        {dtFmtBcd, rtl::Variant(0.5), rtl::VarFMTBcdCreate(rtl::StrToBcd("0,5")), ""},
        {dtFmtBcd, rtl::Variant(int64_t(1) << 50), rtl::VarFMTBcdCreate(rtl::StrToBcd("1125899906842624")),
         ""},
        {dtFmtBcd, rtl::Variant("-123,456"), rtl::VarFMTBcdCreate(bcd), ""},
        {dtFmtBcd, rtl::VarFMTBcdCreate(bcd), rtl::VarFMTBcdCreate(bcd), ""},
        {dtSQLTimeStamp, rtl::VarSQLTimeStampCreate(rtl::TSQLTimeStamp{2020, 1, 2, 3, 4, 5, 600}),
         rtl::VarSQLTimeStampCreate(rtl::TSQLTimeStamp{2020, 1, 2, 3, 4, 5, 600}), ""},
        {dtNumber, rtl::Variant(5), rtl::Variant(), "Cannot convert type"},
        {dtLabel, rtl::Variant(5), rtl::Variant(), "Cannot convert type"},
        {dtBlob, rtl::Variant("x"), rtl::Variant(), "Cannot convert type"},
    };
    for (const auto& c : cases) {
        auto p = Param(c.type, 10);
        if (c.out.IsEmpty()) {
            EXPECT_EQ(c.error, Message([&] { p->SetItemAsVariant(1, c.in); })) << c.type;
            continue;
        }
        p->SetItemAsVariant(1, c.in);
        const rtl::Variant got = p->GetItemAsVariant(1);
        EXPECT_EQ(c.out.VarType(), got.VarType()) << c.type;
        EXPECT_TRUE(rtl::VarSameValue(c.out, got)) << c.type << " " << rtl::VarToStr(got);
    }
    // A setter that fails leaves the item as it was.
    auto p = Param(dtInteger);
    p->SetValue(rtl::Variant(7));
    EXPECT_THROW(p->SetValue(rtl::Variant("seven")), rtl::EConvertError);
    EXPECT_EQ(7, p->GetItemAsInteger(1));
    auto d = Param(dtDateTime);
    d->SetItemAsDateTime(1, 45000);
    EXPECT_THROW(d->SetItemAsDateTime(1, 1e9), rtl::EConvertError);
    EXPECT_EQ(45000.0, d->GetItemAsDateTime(1));
}

TEST_F(OraParamDescTest, TablesFromOneBasedVariantArrays) {
    TOraParamDesc p;
    p.SetValue(Array1({rtl::Variant(1), rtl::Null(), rtl::Variant(3)}));
    EXPECT_EQ(3, p.GetLength());
    EXPECT_EQ(dtInteger, p.GetDataType());
    const rtl::Variant v = p.GetValue();
    ASSERT_TRUE(v.IsArray());
    EXPECT_EQ(1, v.ArrayLowBound());
    EXPECT_EQ(3, v.ArrayHighBound());
    EXPECT_EQ(1, v.GetElement(1).AsInteger());
    EXPECT_TRUE(v.GetElement(2).IsNull());
    EXPECT_EQ(3, v.GetElement(3).AsInteger());

    TOraParamDesc zeroBased;
    EXPECT_THROW(zeroBased.SetValue(rtl::VarArrayOf({rtl::Variant(1), rtl::Variant(2)})), rtl::ERangeError);

    // A text type inferred from the elements is as long as the longest of them.
    TOraParamDesc texts;
    texts.SetValue(Array1({rtl::Variant("a"), rtl::Variant("hello"), rtl::Null()}));
    EXPECT_EQ(dtString, texts.GetDataType());
    EXPECT_EQ(5, texts.GetSize());
    EXPECT_EQ("hello", texts.GetItemAsString(2));
    // The null third item leaves the bind length of the others.
    EXPECT_EQ(5, texts.GetMaxActualLength());
}

TEST_F(OraParamDescTest, ScalarNumbersAndTimestampsLiveInTheirObjects) {
    auto big = Param(dtLargeint);
    big->SetItemAsLargeInt(1, INT64_MIN);
    TOraNumber* number = big->GetAsNumber();
    ASSERT_NE(nullptr, number);
    EXPECT_EQ(number->GetIndicatorPtr(), big->GetIndicatorPtr());
    EXPECT_FALSE(big->GetNull());
    EXPECT_EQ(INT64_MIN, big->GetValue().AsInt64());
    big->SetNull(true);
    EXPECT_TRUE(number->GetIsNull());
    EXPECT_EQ(0, big->GetItemAsLargeInt(1));

    auto money = Param(dtBCD);
    money->SetItemAsCurrency(1, rtl::Currency::FromRaw(-1234567890123));  // -123456789.0123
    EXPECT_EQ("-123456789.0123", money->GetAsNumber()->GetAsString());
    EXPECT_EQ(rtl::Currency::FromRaw(-1234567890123), money->GetItemAsCurrency(1));
    EXPECT_EQ(0, money->GetItemAsLargeInt(1));  // not its type

    auto exact = Param(dtFmtBcd);
    const rtl::TBcd bcd = rtl::StrToBcd("12345678901234567890.0001");
    exact->SetItemAsFmtBcd(1, bcd);
    EXPECT_EQ(0, rtl::BcdCompare(bcd, exact->GetItemAsFmtBcd(1)));
    exact->SetNull(true);
    const rtl::TBcd null = exact->GetItemAsFmtBcd(1);
    EXPECT_EQ(0, std::memcmp(&rtl::NullBcd, &null, sizeof null));

    auto stamp = Param(dtSQLTimeStamp);
    const rtl::TSQLTimeStamp ts{1999, 12, 31, 23, 59, 59, 999};
    stamp->SetItemAsSQLTimeStamp(1, ts);
    EXPECT_EQ(ts, stamp->GetItemAsSQLTimeStamp(1));
    EXPECT_EQ(stamp->GetAsTimeStamp()->GetIndicatorPtr(), stamp->GetIndicatorPtr());
    stamp->SetItemAsSQLTimeStamp(1, rtl::NullSQLTimeStamp);
    EXPECT_TRUE(stamp->GetNull());
    EXPECT_EQ(rtl::NullSQLTimeStamp, stamp->GetItemAsSQLTimeStamp(1));

    // A caller's number is held with a reference of the descriptor's own.
    auto* own = new TOraNumber;
    own->SetAsString("2.5");
    auto n = Param(dtNumber);
    n->SetObject(own);
    EXPECT_EQ(2, own->RefCount());
    EXPECT_EQ(own->GetIndicatorPtr(), n->GetIndicatorPtr());
    n->SetObject(own);  // the same object: nothing changes
    EXPECT_EQ(2, own->RefCount());
    n->SetItemAsLargeInt(1, 8);  // numbers share a layout: the caller's object takes the value
    EXPECT_EQ(8, own->GetAsLargeInt());
    n->SetObject(nullptr);
    EXPECT_EQ(1, own->RefCount());
    EXPECT_EQ(nullptr, n->GetObject());
    own->Free();
    auto* interval = new TOraInterval;
    EXPECT_THROW(Param(dtNumber)->SetObject(interval), rtl::EAssertionFailed);
    EXPECT_EQ(1, interval->RefCount());
    interval->Free();
}

TEST_F(OraParamDescTest, TableNumbersKeepTheirValuesAndNullsUntilBound) {
    auto p = Param(dtLargeint, 0, 3);
    p->SetItemAsLargeInt(1, 10);
    p->SetItemAsLargeInt(3, 30);
    p->SetItemNull(3, true);
    EXPECT_EQ(10, p->GetItemAsLargeInt(1));
    EXPECT_FALSE(p->GetItemNull(1));
    EXPECT_TRUE(p->GetItemNull(2));
    EXPECT_TRUE(p->GetItemNull(3));

    p->PrepareBind();
    auto* first = dynamic_cast<TOraNumber*>(p->GetItemObject(1));
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(static_cast<void*>(first->GetOCINumberPtr()), p->GetBuffer());  // reads and writes the item
    EXPECT_EQ("02 C1 0B", ItemBytes(*p, 1, 3));
    const int16_t* ind = p->GetIndicatorPtr();
    EXPECT_EQ((std::vector<int16_t>{0, -1, -1}), std::vector<int16_t>(ind, ind + 3));
    p->SetItemAsLargeInt(1, 99);
    EXPECT_EQ("02 C1 64", ItemBytes(*p, 1, 3));
    p->PrepareBind();  // binding again changes nothing
    EXPECT_EQ("02 C1 64", ItemBytes(*p, 1, 3));

    // A number held elsewhere keeps its value when the buffer goes.
    first->AddRef();
    p->SetLength(1);
    EXPECT_EQ(1, first->RefCount());
    EXPECT_TRUE(first->OwnsValue());
    EXPECT_EQ(99, first->GetAsLargeInt());
    first->Free();

    // Caller numbers are copied into the items and stay where they are.
    auto* given = new TOraNumber;
    given->SetAsLargeInt(5);
    auto q = Param(dtNumber, 0, 2);
    q->SetItemObject(2, given);
    EXPECT_EQ(2, given->RefCount());
    q->PrepareBind();
    EXPECT_EQ("02 C1 06", ItemBytes(*q, 2, 3));
    EXPECT_TRUE(given->OwnsValue());
    EXPECT_EQ((std::vector<int16_t>{-1, 0}),
              std::vector<int16_t>(q->GetIndicatorPtr(), q->GetIndicatorPtr() + 2));
    EXPECT_EQ(nullptr, q->GetItemObject(1));
    q->FreeBuffer();
    EXPECT_EQ(1, given->RefCount());
    given->Free();
}

TEST_F(OraParamDescTest, TableTimestampsAndIntervalsBindTheirDescriptors) {
    auto p = Param(dtSQLTimeStamp, 0, 2);
    p->SetItemAsSQLTimeStamp(1, rtl::TSQLTimeStamp{2001, 2, 3, 4, 5, 6, 7});
    p->PrepareBind();
    auto* first = dynamic_cast<TOraTimeStamp*>(p->GetItemObject(1));
    auto* second = dynamic_cast<TOraTimeStamp*>(p->GetItemObject(2));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(static_cast<void*>(first->GetOCIDateTime()), Marshal::PeekIntPtr(p->GetBuffer(), 0));
    EXPECT_EQ(static_cast<void*>(second->GetOCIDateTime()), Marshal::PeekIntPtr(p->GetBuffer(), PtrSize));
    EXPECT_EQ((std::vector<int16_t>{0, -1}),
              std::vector<int16_t>(p->GetIndicatorPtr(), p->GetIndicatorPtr() + 2));
    EXPECT_EQ((rtl::TSQLTimeStamp{2001, 2, 3, 4, 5, 6, 7}), p->GetItemAsSQLTimeStamp(1));
    EXPECT_EQ(rtl::NullSQLTimeStamp, p->GetItemAsSQLTimeStamp(2));

    auto* a = new TOraInterval(dtIntervalDS);
    a->SetAsString("+1 02:03:04");
    auto q = Param(dtIntervalDS, 0, 2);
    q->SetValue(Array1({rtl::Variant::FromObject(static_cast<rtl::TObject*>(a)), rtl::Null()}));
    EXPECT_EQ(2, a->RefCount());
    q->PrepareBind();
    EXPECT_EQ(static_cast<void*>(a->GetOCIInterval()), Marshal::PeekIntPtr(q->GetBuffer(), 0));
    EXPECT_EQ(nullptr, Marshal::PeekIntPtr(q->GetBuffer(), PtrSize));
    EXPECT_EQ((std::vector<int16_t>{0, -1}),
              std::vector<int16_t>(q->GetIndicatorPtr(), q->GetIndicatorPtr() + 2));
    // After the call the command copies indicators back into the objects; a null one reads null.
    q->SetIndicator(1, -1);
    EXPECT_TRUE(a->GetIsNull());
    q.reset();
    EXPECT_EQ(1, a->RefCount());
    a->Free();
}

TEST_F(OraParamDescTest, ScalarIndicatorsForTheBind) {
    auto* blob = new TBlob;
    auto b = Param(dtBlob);
    b->SetObject(blob);
    blob->Free();  // the descriptor holds the blob now
    b->PrepareBind();
    EXPECT_EQ(-1, b->GetIndicator(1));  // empty
    blob->SetAsString("data");
    b->PrepareBind();
    EXPECT_EQ(0, b->GetIndicator(1));
    EXPECT_EQ("data", b->GetValue().AsString());
    b->SetNull(true);  // clears the blob
    EXPECT_EQ(0, blob->GetSize());

    auto noBlob = Param(dtMemo);
    noBlob->AllocBuffer();
    noBlob->PrepareBind();
    EXPECT_TRUE(noBlob->GetNull());

    auto* cursor = new TOraCursor;
    auto c = Param(dtCursor);
    c->SetObject(cursor);
    cursor->Free();
    c->PrepareBind();
    EXPECT_EQ(0, *c->GetIndicatorPtr());
    EXPECT_EQ(cursor, c->GetAsCursor());
    EXPECT_EQ(nullptr, c->GetAsNumber());

    auto n = Param(dtLargeint);
    n->AllocBuffer();
    n->PrepareBind();  // the number's own null state is bound
    EXPECT_TRUE(n->GetNull());
    n->GetAsNumber()->SetAsLargeInt(1);
    n->PrepareBind();
    EXPECT_FALSE(n->GetNull());

    auto unknown = Param(dtUnknown);
    unknown->PrepareBind();
    EXPECT_TRUE(unknown->GetNull());
    auto i = Param(dtInteger);
    i->SetItemAsInteger(1, 4);
    i->PrepareBind();
    EXPECT_FALSE(i->GetNull());
}

TEST_F(OraParamDescTest, NullItemsAreCleared) {
    auto i = Param(dtInteger);
    i->SetItemAsInteger(1, -1);
    i->SetNull(true);
    EXPECT_EQ("00 00 00 00", ItemBytes(*i, 1, 4));
    auto f = Param(dtFloat);
    f->SetItemAsFloat(1, 1.0);
    f->SetNull(true);
    EXPECT_EQ("00 00 00 00 00 00 00 00", ItemBytes(*f, 1, 8));
    auto d = Param(dtDateTime);
    d->SetItemAsDateTime(1, 40000);
    d->SetNull(true);
    EXPECT_EQ("00 00 00 00 00 00 00", ItemBytes(*d, 1, 7));
    auto w = Param(dtWideString, 3);
    w->SetItemAsWideString(1, u"abc");
    w->SetNull(true);
    EXPECT_EQ("00 00 62 00", ItemBytes(*w, 1, 4));
    EXPECT_EQ(u"", w->GetItemAsWideString(1));
    w->SetNull(false);  // present again: an empty text
    EXPECT_EQ(u"", w->GetItemAsWideString(1));
}

TEST_F(OraParamDescTest, SettersSwitchingLayoutStayInsideTheBuffer) {
    // A short text's item has 2 bytes; a double needs 8.
    auto p = Param(dtString, 0);
    p->SetItemAsString(1, "x");
    p->SetItemAsFloat(1, 2.5);
    EXPECT_EQ(dtFloat, p->GetDataType());
    EXPECT_EQ(8, p->GetItemSize());
    EXPECT_EQ(2.5, p->GetItemAsFloat(1));
    // An integer's buffer holds no number object.
    p->SetItemAsInteger(1, 1);
    p->SetItemAsLargeInt(1, int64_t(1) << 33);
    EXPECT_EQ(int64_t(1) << 33, p->GetItemAsLargeInt(1));
    // Same layout: the buffer and the other items stay.
    auto t = Param(dtInteger, 0, 2);
    t->SetItemAsInteger(2, 6);
    t->SetItemAsBoolean(1, true);
    EXPECT_TRUE(t->GetItemAsBoolean(1));
    EXPECT_EQ(6, Marshal::PeekInt32(t->GetBuffer(), 4));
    EXPECT_EQ(0, t->GetItemAsInteger(2));  // read as its type: a boolean now
}
