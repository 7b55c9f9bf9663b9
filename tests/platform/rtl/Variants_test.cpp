#include "platform/rtl/Variants.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace rtl {
namespace {

// Dates and numbers in these tests read and print in one fixed setting.
class VariantTest : public ::testing::Test {
protected:
    static TFormatSettings Settings() {
        TFormatSettings fs = TFormatSettings::Invariant();
        fs.DecimalSeparator = '.';
        fs.DateSeparator = '.';
        fs.ShortDateFormat = "dd/mm/yyyy";
        fs.LongTimeFormat = "hh:nn:ss";
        return fs;
    }
    TFormatSettingsOverride settings_{Settings()};
};

TEST_F(VariantTest, EachSourceTypeKeepsItsKind) {
    struct Case {
        Variant v;
        TVarType type;
        const char* name;
    };
    int object = 0;
    const Case cases[] = {
        {Variant(), varEmpty, "Empty"},
        {Null(), varNull, "Null"},
        {Variant(int16_t(1)), varSmallint, "Smallint"},
        {Variant(1), varInteger, "Integer"},
        {Variant(1.5f), varSingle, "Single"},
        {Variant(1.5), varDouble, "Double"},
        {Variant(Currency::FromInt(2)), varCurrency, "Currency"},
        {Variant::FromDateTime(1), varDate, "Date"},
        {Variant(u"w"), varOleStr, "OleStr"},
        {Variant::FromError(5), varError, "Error"},
        {Variant(true), varBoolean, "Boolean"},
        {Variant(int8_t(1)), varShortInt, "ShortInt"},
        {Variant(uint8_t(1)), varByte, "Byte"},
        {Variant(uint16_t(1)), varWord, "Word"},
        {Variant(uint32_t(1)), varLongWord, "LongWord"},
        {Variant(int64_t(1)), varInt64, "Int64"},
        {Variant("s"), varString, "String"},
        {Variant(std::string("s")), varString, "String"},
        {Variant('c'), varString, "String"},
        {Variant::FromObject(&object), varByRef, "ByRef Empty"},
        {VarArrayCreate({0, 1}, varByte), varArray | varByte, "Array Byte"},
        {VarArrayOf({1, "a"}), varArray | varVariant, "Array Variant"},
        {VarFMTBcdCreate(StrToBcd("1.5")), VarFMTBcd(), "FMTBcd"},
        {VarSQLTimeStampCreate(TSQLTimeStamp{2000, 1, 1, 0, 0, 0, 0}), VarSQLTimeStamp(), "SQLTimeStamp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VarType(c.v), c.type) << c.name;
        EXPECT_EQ(VarTypeAsText(VarType(c.v)), c.name);
    }
    EXPECT_TRUE(VarIsNull(Null()));
    EXPECT_TRUE(VarIsEmpty(Unassigned()));
    EXPECT_FALSE(VarIsEmpty(Variant("")));
    EXPECT_TRUE(VarIsArray(VarArrayOf({})));
    EXPECT_EQ(Variant::FromObject(&object).AsObject(), &object);
    EXPECT_EQ(Variant(5).AsObject(), nullptr);
    EXPECT_TRUE(VarIsOrdinal(Variant(true)));
    EXPECT_TRUE(VarIsFloat(Variant(Currency())));
    EXPECT_FALSE(VarIsNumeric(Variant("1")));
    EXPECT_TRUE(VarIsStr(Variant(u"x")));
}

TEST_F(VariantTest, ConversionsBetweenScalars) {
    struct Case {
        Variant v;
        TVarType target;
        const char* text;  // VarAsType(v, target) as text
    };
    const Case cases[] = {
        {Variant(2.5), varInteger, "2"},  // halves to even
        {Variant(3.5), varInteger, "4"},
        {Variant(-2.5), varInt64, "-2"},
        {Variant(Currency::FromRaw(25000)), varInteger, "2"},
        {Variant(Currency::FromRaw(35000)), varInteger, "4"},
        {Variant(Currency::FromRaw(-15001)), varInteger, "-2"},
        {Variant(true), varInteger, "-1"},
        {Variant(false), varDouble, "0"},
        {Variant("$1F"), varInteger, "31"},
        {Variant(" 12"), varSmallint, "12"},
        {Variant("12.6"), varInteger, "13"},
        {Variant(u"7"), varByte, "7"},
        {Variant(), varInteger, "0"},
        {Variant(), varString, ""},
        {Variant(), varBoolean, "False"},
        {Variant(0), varBoolean, "False"},
        {Variant(-3), varBoolean, "True"},
        {Variant("true"), varBoolean, "True"},
        {Variant("0"), varBoolean, "False"},
        {Variant(1.5f), varString, "1.5"},
        {Variant(0.1f), varString, "0.1"},
        {Variant(1e20), varString, "1E20"},
        {Variant(Currency::FromRaw(123456)), varString, "12.3456"},
        {Variant("1.25"), varCurrency, "1.25"},
        {Variant(7), varCurrency, "7"},
        {Variant(0.30000000000000004), varCurrency, "0.3"},
        {Variant(int64_t(-5)), varDouble, "-5"},
        {Variant::FromDateTime(EncodeDateTime(2024, 3, 5, 14, 7, 9, 0)), varString, "05.03.2024 14:07:09"},
        {Variant::FromDateTime(EncodeDate(2024, 3, 5)), varString, "05.03.2024"},
        {Variant("05.03.2024 14:07"), varDate, "05.03.2024 14:07:00"},
        {Variant(45356.5), varDate, "05.03.2024 12:00:00"},
        {Variant(u"\u041C\u0438\u0440"), varString, "\xCC\xE8\xF0"},
        {Variant("\xCC\xE8\xF0"), varOleStr, "\xCC\xE8\xF0"},
        {Variant(uint64_t(18446744073709551615ULL)), varString, "18446744073709551615"},
        {Variant("18446744073709551615"), varUInt64, "18446744073709551615"},
        {VarFMTBcdCreate(StrToBcd("-12.5")), varInteger, "-12"},
        {VarFMTBcdCreate(StrToBcd("12.34567")), varCurrency, "12.3457"},
        {Variant("-0.125"), varFMTBcd, "-0.125"},
        {Variant(int64_t(INT64_MIN)), varFMTBcd, "-9223372036854775808"},
    };
    for (const auto& c : cases) {
        Variant r = VarAsType(c.v, c.target);
        EXPECT_EQ(VarType(r), c.target) << VarTypeAsText(VarType(c.v)) << " -> " << VarTypeAsText(c.target);
        EXPECT_EQ(VarToStr(r), c.text) << VarTypeAsText(VarType(c.v)) << " -> " << VarTypeAsText(c.target);
    }
    EXPECT_EQ(Variant(u"\u041C").AsWideString(), u"\u041C");
    EXPECT_EQ(Variant("\xC0").AsWideString(), u"\u0410");
    EXPECT_EQ(Variant(1.5f).AsDouble(), 1.5);
    EXPECT_EQ(Variant(uint32_t(4000000000u)).AsInt64(), 4000000000LL);
}

TEST_F(VariantTest, ConversionErrorsNameBothKinds) {
    struct Case {
        std::function<void()> call;
        const char* message;
        bool overflow;
    };
    const Case cases[] = {
        {[] { Null().AsInteger(); }, "Could not convert variant of type (Null) into type (Integer)", false},
        {[] { Null().AsString(); }, "Could not convert variant of type (Null) into type (String)", false},
        {[] { Null().AsDateTime(); }, "Could not convert variant of type (Null) into type (Date)", false},
        {[] { Variant("abc").AsInteger(); }, "Could not convert variant of type (String) into type (Integer)",
         false},
        {[] { Variant(u"x").AsDouble(); }, "Could not convert variant of type (OleStr) into type (Double)",
         false},
        {[] { Variant("maybe").AsBoolean(); },
         "Could not convert variant of type (String) into type (Boolean)", false},
        {[] { Variant("31.02.2024").AsDateTime(); },
         "Could not convert variant of type (String) into type (Date)", false},
        {[] { VarArrayOf({1}).AsInteger(); },
         "Could not convert variant of type (Array Variant) into type (Integer)", false},
        {[] { Variant::FromObject(nullptr).AsString(); },
         "Could not convert variant of type (ByRef Empty) into type (String)", false},
        {[] { Variant(300).AsByte(); },
         "Overflow while converting variant of type (Integer) into type (Byte)", true},
        {[] { Variant(-1).AsLongWord(); },
         "Overflow while converting variant of type (Integer) into type (LongWord)", true},
        {[] { Variant(3e9).AsInteger(); },
         "Overflow while converting variant of type (Double) into type (Integer)", true},
        {[] { Variant(1e300).AsCurrency(); },
         "Overflow while converting variant of type (Double) into type (Currency)", true},
        {[] { Variant(std::nan("")).AsInt64(); },
         "Overflow while converting variant of type (Double) into type (Int64)", true},
        {[] { Variant(uint64_t(1) << 63).AsInt64(); },
         "Overflow while converting variant of type (UInt64) into type (Int64)", true},
        {[] { Variant(1e39).AsSingle(); },
         "Overflow while converting variant of type (Double) into type (Single)", true},
        {[] { Variant("70000").AsSmallInt(); },
         "Overflow while converting variant of type (String) into type (Smallint)", true},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.message;
        } catch (const EVariantOverflowError& e) {
            EXPECT_TRUE(c.overflow);
            EXPECT_EQ(e.Message(), c.message);
        } catch (const EVariantTypeCastError& e) {
            EXPECT_FALSE(c.overflow);
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST_F(VariantTest, VarToStrTreatsNullAsEmptyText) {
    EXPECT_EQ(VarToStr(Null()), "");
    EXPECT_EQ(VarToStr(Unassigned()), "");
    EXPECT_EQ(VarToStrDef(Null(), "n/a"), "n/a");
    EXPECT_EQ(VarToWideStr(Null()), u"");
    EXPECT_EQ(VarToStr(Variant(true)), "True");
    EXPECT_EQ(VarToStr(Variant(-0.5)), "-0.5");
    EXPECT_THROW(VarToDateTime(Null()), EVariantTypeCastError);
}

TEST_F(VariantTest, ComparisonRules) {
    struct Case {
        Variant a, b;
        TVariantRelationship rel;
    };
    const Case cases[] = {
        {Null(), Null(), vrEqual},
        {Null(), Variant(0), vrNotEqual},
        {Variant(""), Null(), vrNotEqual},
        {Unassigned(), Unassigned(), vrEqual},
        {Unassigned(), Variant(0), vrEqual},
        {Unassigned(), Variant(""), vrEqual},
        {Unassigned(), Variant(1), vrLessThan},
        {Variant("a"), Unassigned(), vrGreaterThan},
        {Variant(1), Variant(1.0), vrEqual},
        {Variant(int64_t(9007199254740993LL)), Variant(int64_t(9007199254740992LL)), vrGreaterThan},
        {Variant(uint64_t(UINT64_MAX)), Variant(-1), vrGreaterThan},
        {Variant(Currency::FromRaw(15000)), Variant(1.5), vrEqual},
        {Variant(Currency::FromRaw(10001)), Variant(1), vrGreaterThan},
        {Variant("10"), Variant(9), vrGreaterThan},  // the text is read as a number
        {Variant(2), Variant("10"), vrLessThan},
        {Variant("10"), Variant("9"), vrLessThan},  // two texts compare as texts
        {Variant("abc"), Variant(u"abc"), vrEqual},
        {Variant(""), Variant(u""), vrEqual},
        {Variant("a"), Variant("B"), vrLessThan},
        {Variant(true), Variant(-1), vrEqual},
        {Variant(false), Variant(true), vrLessThan},
        {Variant(true), Variant("True"), vrEqual},
        {Variant::FromDateTime(EncodeDate(2024, 3, 5)), Variant("05.03.2024"), vrEqual},
        {Variant::FromDateTime(EncodeDate(2024, 3, 5)), Variant(45356.0), vrEqual},
        {VarFMTBcdCreate(StrToBcd("1.50")), Variant(Currency::FromRaw(15000)), vrEqual},
        {VarFMTBcdCreate(StrToBcd("123456789012345678901234567890")),
         VarFMTBcdCreate(StrToBcd("123456789012345678901234567891")), vrLessThan},
        {VarFMTBcdCreate(StrToBcd("0.1")), Variant(0.1), vrEqual},
        {VarSQLTimeStampCreate(TSQLTimeStamp{2024, 3, 5, 0, 0, 0, 1}),
         VarSQLTimeStampCreate(TSQLTimeStamp{2024, 3, 5, 0, 0, 0, 0}), vrGreaterThan},
        {VarSQLTimeStampCreate(TSQLTimeStamp{2024, 3, 5, 0, 0, 0, 0}),
         Variant::FromDateTime(EncodeDate(2024, 3, 5)), vrEqual},
        {Variant(std::nan("")), Variant(1.0), vrNotEqual},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(VarTypeAsText(VarType(c.a)) + " " + VarToStr(c.a) + " vs " +
                     VarTypeAsText(VarType(c.b)) + " " + VarToStr(c.b));
        EXPECT_EQ(VarCompareValue(c.a, c.b), c.rel);
        EXPECT_EQ(c.a == c.b, c.rel == vrEqual);
        EXPECT_EQ(c.a != c.b, c.rel != vrEqual);
        if (!c.a.IsNull() && !c.b.IsNull()) {
            EXPECT_EQ(c.a < c.b, c.rel == vrLessThan);
            EXPECT_EQ(c.a > c.b, c.rel == vrGreaterThan);
            EXPECT_EQ(c.a <= c.b, c.rel == vrLessThan || c.rel == vrEqual);
        }
    }
    // Null sorts below every value.
    EXPECT_TRUE(Null() < Variant(-1e300));
    EXPECT_FALSE(Variant("") < Null());
    EXPECT_FALSE(Null() < Null());
    EXPECT_TRUE(Null() <= Null());
    int x = 0, y = 0;
    EXPECT_TRUE(Variant::FromObject(&x) == Variant::FromObject(&x));
    EXPECT_FALSE(Variant::FromObject(&x) == Variant::FromObject(&y));
}

TEST_F(VariantTest, ComparisonFailures) {
    EXPECT_THROW(VarCompareValue(Variant("abc"), Variant(1)), EVariantTypeCastError);
    EXPECT_THROW((void)(VarArrayOf({1}) == VarArrayOf({1})), EVariantInvalidOpError);
    EXPECT_THROW((void)(BytesToVariant({1}) == Variant(1)), EVariantInvalidOpError);
    int x = 0;
    EXPECT_THROW((void)(Variant::FromObject(&x) == Variant(1)), EVariantInvalidOpError);
}

TEST_F(VariantTest, ByteArrays) {
    Variant v = VarArrayCreate({0, 3}, varByte);
    EXPECT_EQ(VarArrayDimCount(v), 1);
    EXPECT_EQ(VarArrayLowBound(v), 0);
    EXPECT_EQ(VarArrayHighBound(v), 3);
    auto* p = static_cast<uint8_t*>(VarArrayLock(v));
    std::memcpy(p, "\x01\x02\xFE\xFF", 4);
    EXPECT_THROW(VarArrayRedim(v, 10), EVariantArrayLockedError);
    VarArrayUnlock(v);
    EXPECT_THROW(VarArrayUnlock(v), EVariantInvalidOpError);
    EXPECT_EQ(VariantToBytes(v), (TBytes{1, 2, 0xFE, 0xFF}));
    EXPECT_EQ(VarType(v.GetElement(2)), varByte);
    EXPECT_EQ(v.GetElement(2).AsInteger(), 254);
    v.PutElement(0, Variant("7"));
    EXPECT_EQ(v.GetElement(0).AsInteger(), 7);
    EXPECT_THROW(v.PutElement(1, Variant(256)), EVariantOverflowError);
    EXPECT_THROW(v.GetElement(4), EVariantBadIndexError);
    EXPECT_THROW(v.GetElement(-1), EVariantBadIndexError);

    // A copy owns its own bytes.
    Variant copy = v;
    copy.PutElement(3, Variant(0));
    EXPECT_EQ(v.GetElement(3).AsInteger(), 255);
    VarArrayRedim(v, 5);
    EXPECT_EQ(VarArrayHighBound(v), 5);
    EXPECT_EQ(v.GetElement(5).AsInteger(), 0);
    VarArrayRedim(v, -1);
    EXPECT_TRUE(VariantToBytes(v).empty());

    Variant empty = BytesToVariant({});
    EXPECT_EQ(VarArrayHighBound(empty), -1);
    EXPECT_THROW(VarArrayCreate({2, 0}, varByte), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({0}, varByte), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayLowBound(Variant(1)), EVariantNotAnArrayError);
    EXPECT_THROW(VarArrayHighBound(v, 2), EVariantBadIndexError);
}

TEST_F(VariantTest, VariantArrays) {
    Variant v = VarArrayCreate({1, 3}, varVariant);
    EXPECT_EQ(VarArrayLowBound(v), 1);
    EXPECT_TRUE(v.GetElement(1).IsEmpty());
    v.PutElement(2, Null());
    v.PutElement(3, Variant("x"));
    EXPECT_TRUE(v.GetElement(2).IsNull());
    EXPECT_EQ(VarToStr(v.GetElement(3)), "x");
    EXPECT_THROW(v.GetElement(0), EVariantBadIndexError);

    Variant of = VarArrayOf({Variant(1), Variant("two"), Null()});
    EXPECT_EQ(VarArrayHighBound(of), 2);
    EXPECT_EQ(VarType(of.GetElement(0)), varInteger);
    EXPECT_EQ(VariantToBytes(VarArrayOf({1, 2})), (TBytes{1, 2}));

    // Typed arrays convert what they store.
    Variant ints = VarArrayCreate({0, 1}, varInteger);
    EXPECT_EQ(VarType(ints.GetElement(0)), varInteger);
    ints.PutElement(1, Variant("42"));
    EXPECT_EQ(VarType(ints.GetElement(1)), varInteger);
    EXPECT_THROW(ints.PutElement(0, Variant("x")), EVariantTypeCastError);
}

TEST_F(VariantTest, PackedDecimalAndTimeStampKinds) {
    Variant b = VarFMTBcdCreate("123.456", 10, 2);
    EXPECT_TRUE(VarIsFMTBcd(b));
    EXPECT_EQ(VarToStr(b), "123.46");
    EXPECT_EQ(BcdToStr(VarToBcd(b)), "123.46");
    EXPECT_DOUBLE_EQ(b.AsDouble(), 123.46);
    EXPECT_THROW(VarFMTBcdCreate("123456", 5, 2), EBcdOverflowException);
    EXPECT_EQ(BcdToStr(VarToBcd(Variant(2.5))), "2.5");
    EXPECT_EQ(BcdToStr(VarToBcd(Variant(Currency::FromRaw(-5)))), "-0.0005");
    EXPECT_THROW(VarToBcd(Variant("x")), EVariantTypeCastError);
    EXPECT_THROW(VarToBcd(Null()), EVariantTypeCastError);

    TSQLTimeStamp ts{2024, 3, 5, 14, 7, 9, 45};
    Variant t = VarSQLTimeStampCreate(ts);
    EXPECT_TRUE(VarIsSQLTimeStamp(t));
    EXPECT_EQ(VarToSQLTimeStamp(t), ts);
    EXPECT_NEAR(VarToDateTime(t), EncodeDateTime(2024, 3, 5, 14, 7, 9, 45), 1e-9);
    EXPECT_EQ(VarToStr(t), "05.03.2024 14:07:09");
    EXPECT_EQ(VarToSQLTimeStamp(Variant::FromDateTime(EncodeDate(1899, 12, 29) - 0.25)),
              (TSQLTimeStamp{1899, 12, 29, 6, 0, 0, 0}));
    EXPECT_EQ(VarToSQLTimeStamp(Variant("05.03.2024 14:07")), (TSQLTimeStamp{2024, 3, 5, 14, 7, 0, 0}));
    EXPECT_EQ(VarToSQLTimeStamp(Unassigned()), NullSQLTimeStamp);
    EXPECT_THROW(VarToSQLTimeStamp(Null()), EVariantTypeCastError);
    // An impossible stamp cannot become a date.
    EXPECT_THROW(VarToDateTime(VarSQLTimeStampCreate(TSQLTimeStamp{2024, 2, 30, 0, 0, 0, 0})),
                 EVariantTypeCastError);
    Variant copy = t;
    EXPECT_EQ(VarToSQLTimeStamp(copy), ts);
    Variant moved = std::move(copy);
    EXPECT_EQ(VarToSQLTimeStamp(moved), ts);
    EXPECT_TRUE(copy.IsEmpty());  // NOLINT: a moved-from Variant is Unassigned
}

}  // namespace
}  // namespace rtl
