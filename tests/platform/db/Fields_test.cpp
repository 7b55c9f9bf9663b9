#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FormatSettings.h"

using namespace db;
using rtl::Variant;

namespace {

// Keeps one value per field in its buffer form, so field classes can be tested on their own.
// Variant fields keep a Variant object, as the buffer form of those fields requires.
class TCellDataSet : public TDataSet {
public:
    using TDataSet::TDataSet;
    std::map<const TField*, TBytes> cells;
    std::map<const TField*, Variant> variants;
    int validations = 0;

    bool GetFieldData(TField* field, void* buffer) override {
        if (field->DataType() == ftVariant) {
            auto it = variants.find(field);
            if (it == variants.end()) return false;
            if (buffer) *static_cast<Variant*>(buffer) = it->second;
            return true;
        }
        auto it = cells.find(field);
        if (it == cells.end()) return false;
        if (buffer) std::memcpy(buffer, it->second.data(), it->second.size());
        return true;
    }
    using TDataSet::GetFieldData;
    void SetFieldData(TField* field, const void* buffer) override {
        field->Validate(buffer);
        ++validations;
        if (field->DataType() == ftVariant) {
            if (buffer)
                variants[field] = *static_cast<const Variant*>(buffer);
            else
                variants.erase(field);
        } else if (buffer) {
            auto* p = static_cast<const uint8_t*>(buffer);
            cells[field] = TBytes(p, p + field->DataSize());
        } else {
            cells.erase(field);
        }
        DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
    }
    using TDataSet::SetFieldData;

    template <class F>
    F* Add(const std::string& name, int size = -1) {
        auto* f = new F(this);
        f->SetFieldName(name);
        if (size >= 0) f->SetSize(size);
        f->SetDataSet(this);
        return f;
    }
    template <class T>
    T Raw(const TField* f) const {
        T v{};
        std::memcpy(&v, cells.at(f).data(), sizeof v);
        return v;
    }
};

TEST(FieldEnums, OrdinalsMatchThePlatform) {
    struct Case {
        int actual, expected;
    };
    const Case cases[] = {{ftUnknown, 0},       {ftString, 1},
                          {ftAutoInc, 14},      {ftCursor, 22},
                          {ftWideString, 24},   {ftDataSet, 29},
                          {ftOraClob, 31},      {ftGuid, 35},
                          {ftFMTBcd, 37},       {ftWideMemo, 39},
                          {ftOraTimeStamp, 40}, {ftOraInterval, 41},
                          {dsInactive, 0},      {dsSetKey, 4},
                          {dsBlockRead, 10},    {dsOpening, 12},
                          {deFieldChange, 0},   {deParentScroll, 11},
                          {ptUnknown, 0},       {ptResult, 4},
                          {ukDelete, 2},        {uaApplied, 4},
                          {usDeleted, 3},       {bmReadWrite, 2},
                          {bfInserted, 3},      {grEOF, 2}};
    for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
    // Extended codes travel in the same byte.
    EXPECT_EQ(static_cast<int>(static_cast<TFieldType>(108)), 108);
    EXPECT_EQ(static_cast<int>(static_cast<TUpdateAction>(10)), 10);
    EXPECT_EQ(FieldTypeName(ftFMTBcd), "FMTBcd");
    EXPECT_EQ(FieldTypeName(ftString), "String");
    EXPECT_EQ(FieldTypeName(static_cast<TFieldType>(100)), "");
}

TEST(FieldClasses, DefaultClassTable) {
    struct Case {
        TFieldType type;
        const char* cls;
    };
    const Case cases[] = {{ftString, "TStringField"},     {ftFixedChar, "TStringField"},
                          {ftSmallint, "TSmallintField"}, {ftInteger, "TIntegerField"},
                          {ftWord, "TWordField"},         {ftBoolean, "TBooleanField"},
                          {ftFloat, "TFloatField"},       {ftCurrency, "TCurrencyField"},
                          {ftBCD, "TBCDField"},           {ftDate, "TDateField"},
                          {ftTime, "TTimeField"},         {ftDateTime, "TDateTimeField"},
                          {ftBytes, "TBytesField"},       {ftVarBytes, "TVarBytesField"},
                          {ftAutoInc, "TAutoIncField"},   {ftBlob, "TBlobField"},
                          {ftMemo, "TMemoField"},         {ftGraphic, "TGraphicField"},
                          {ftTypedBinary, "TBlobField"},  {ftOraBlob, "TBlobField"},
                          {ftOraClob, "TMemoField"},      {ftWideString, "TWideStringField"},
                          {ftLargeint, "TLargeintField"}, {ftADT, "TADTField"},
                          {ftArray, "TArrayField"},       {ftReference, "TReferenceField"},
                          {ftDataSet, "TDataSetField"},   {ftVariant, "TVariantField"},
                          {ftGuid, "TGuidField"},         {ftTimeStamp, "TSQLTimeStampField"},
                          {ftFMTBcd, "TFMTBCDField"},     {ftFixedWideChar, "TWideStringField"},
                          {ftWideMemo, "TWideMemoField"}, {ftOraTimeStamp, "TSQLTimeStampField"},
                          {ftOraInterval, "TStringField"}};
    for (const Case& c : cases) {
        TFieldClass cls = DefaultFieldClass(c.type);
        ASSERT_TRUE(cls) << FieldTypeName(c.type);
        EXPECT_EQ(cls.ClassName(), c.cls) << FieldTypeName(c.type);
        std::unique_ptr<TField> f(cls.Create(nullptr));
        EXPECT_EQ(f->ClassName(), c.cls);
    }
    for (TFieldType t : {ftUnknown, ftCursor, ftInterface, ftIDispatch, static_cast<TFieldType>(107)})
        EXPECT_FALSE(DefaultFieldClass(t)) << int(t);
}

TEST(FieldClasses, BufferFormSizes) {
    struct Case {
        TFieldType type;
        int size;
        int dataSize;
    };
    const Case cases[] = {
        {ftString, 10, 11}, {ftWideString, 10, 22}, {ftSmallint, 0, 2},
        {ftInteger, 0, 4},  {ftWord, 0, 2},         {ftLargeint, 0, 8},
        {ftFloat, 0, 8},    {ftCurrency, 0, 8},     {ftBoolean, 0, 2},
        {ftBCD, 4, 34},     {ftFMTBcd, 8, 34},      {ftDate, 0, 4},
        {ftTime, 0, 4},     {ftDateTime, 0, 8},     {ftBytes, 6, 6},
        {ftVarBytes, 6, 8}, {ftTimeStamp, 0, 16},   {ftGuid, 38, 39},
        {ftBlob, 0, 0},     {ftMemo, 0, 0},         {ftVariant, 0, static_cast<int>(sizeof(Variant))},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TField> f(DefaultFieldClass(c.type).Create(nullptr));
        if (c.size) f->SetSize(c.size);
        EXPECT_EQ(f->DataSize(), c.dataSize) << FieldTypeName(c.type);
        EXPECT_EQ(f->DataType(), c.type);
    }
}

TEST(FieldValues, NullsReadAsZeroEmptyAndFalse) {
    TCellDataSet ds;
    TField* fields[] = {
        ds.Add<TStringField>("S"),   ds.Add<TIntegerField>("I"), ds.Add<TLargeintField>("L"),
        ds.Add<TFloatField>("F"),    ds.Add<TBCDField>("B"),     ds.Add<TFMTBCDField>("M"),
        ds.Add<TDateTimeField>("D"), ds.Add<TBooleanField>("Q"), ds.Add<TWideStringField>("W")};
    for (TField* f : fields) {
        EXPECT_TRUE(f->IsNull()) << f->FieldName();
        EXPECT_TRUE(f->Value().IsNull()) << f->FieldName();
        EXPECT_EQ(f->AsString(), "") << f->FieldName();
    }
    for (int i : {1, 2, 3, 4}) {
        EXPECT_EQ(fields[i]->AsInteger(), 0);
        EXPECT_EQ(fields[i]->AsFloat(), 0.0);
    }
    EXPECT_EQ(fields[0]->AsInteger(), 0);
    EXPECT_EQ(fields[6]->AsDateTime(), 0.0);
    EXPECT_FALSE(fields[7]->AsBoolean());
    EXPECT_EQ(ds.validations, 0);
}

TEST(FieldValues, IntegerKindsCheckTheirRanges) {
    TCellDataSet ds;
    auto* s = ds.Add<TSmallintField>("S");
    auto* w = ds.Add<TWordField>("W");
    auto* i = ds.Add<TIntegerField>("I");
    auto* l = ds.Add<TLargeintField>("L");
    s->SetAsInteger(-32768);
    EXPECT_EQ(ds.Raw<int16_t>(s), -32768);
    w->SetAsInteger(65535);
    EXPECT_EQ(ds.Raw<uint16_t>(w), 65535);
    EXPECT_EQ(w->Value().AsInteger(), 65535);
    try {
        s->SetAsInteger(40000);
        FAIL();
    } catch (rtl::ERangeError& e) {
        EXPECT_EQ(e.Message(),
                  "40000 is not a valid value for field 'S'. The allowed range is -32768 to 32767");
    }
    EXPECT_EQ(s->AsInteger(), -32768);  // unchanged
    EXPECT_THROW(w->SetAsInteger(-1), rtl::ERangeError);
    i->SetMinValue(1);
    i->SetMaxValue(10);
    EXPECT_THROW(i->SetAsInteger(11), rtl::ERangeError);
    i->SetAsString(" 7 ");
    EXPECT_EQ(i->AsInteger(), 7);
    EXPECT_EQ(i->Value().VarType(), rtl::varInteger);
    i->SetAsString("");
    EXPECT_TRUE(i->IsNull());
    EXPECT_THROW(i->SetAsString("x"), rtl::EConvertError);
    i->SetAsFloat(2.5);  // half to even
    EXPECT_EQ(i->AsInteger(), 2);
    i->SetAsFloat(3.5);
    EXPECT_EQ(i->AsInteger(), 4);

    l->SetAsLargeInt(INT64_C(5000000000));
    EXPECT_EQ(l->AsLargeInt(), INT64_C(5000000000));
    EXPECT_EQ(l->AsString(), "5000000000");
    EXPECT_EQ(l->Value().VarType(), rtl::varInt64);
    EXPECT_EQ(l->AsInteger(), static_cast<int32_t>(INT64_C(5000000000)));
    l->SetMaxValue(100);
    EXPECT_THROW(l->SetAsLargeInt(101), rtl::ERangeError);
}

TEST(FieldValues, FloatsAndCurrency) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = '.';
    rtl::TFormatSettingsOverride over(fs);
    TCellDataSet ds;
    auto* f = ds.Add<TFloatField>("F");
    f->SetAsFloat(1.0 / 3.0);
    EXPECT_EQ(f->AsString(), "0.333333333333333");
    f->SetPrecision(4);
    EXPECT_EQ(f->AsString(), "0.3333");
    f->SetAsFloat(2.5);
    EXPECT_EQ(f->AsInteger(), 2);
    f->SetAsFloat(-3.5);
    EXPECT_EQ(f->AsInteger(), -4);
    f->SetAsFloat(1e12);
    EXPECT_THROW(f->AsInteger(), rtl::ERangeError);
    f->SetMinValue(-1);
    f->SetMaxValue(1);
    EXPECT_THROW(f->SetAsFloat(1.5), rtl::ERangeError);
    f->SetAsString("0.5");
    EXPECT_EQ(f->AsFloat(), 0.5);
    EXPECT_EQ(f->Value().VarType(), rtl::varDouble);

    auto* c = ds.Add<TCurrencyField>("C");
    EXPECT_TRUE(c->Currency());
    c->SetAsCurrency(rtl::Currency::FromRaw(123456));
    EXPECT_EQ(ds.Raw<double>(c), 12.3456);
}

TEST(FieldValues, BcdFieldsKeepTheNativeBcdForm) {
    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DecimalSeparator = '.';
    rtl::TFormatSettingsOverride over(fs);
    TCellDataSet ds;
    auto* b = ds.Add<TBCDField>("B");
    b->SetAsCurrency(rtl::Currency::FromRaw(-123456));  // -12.3456
    EXPECT_EQ(rtl::BcdToStr(ds.Raw<TBcd>(b)), "-12.3456");
    EXPECT_EQ(b->AsCurrency().Raw(), -123456);
    EXPECT_EQ(b->AsString(), "-12.3456");
    EXPECT_EQ(b->Value().VarType(), rtl::varCurrency);
    b->SetAsString("2.5");
    EXPECT_EQ(b->AsFloat(), 2.5);
    EXPECT_EQ(b->AsInteger(), 2);

    auto* m = ds.Add<TFMTBCDField>("M");
    m->SetAsString("12345678901234567890.125");
    EXPECT_EQ(rtl::BcdToStr(ds.Raw<TBcd>(m)), "12345678901234567890.125");
    EXPECT_EQ(m->AsString(), "12345678901234567890.125");
    EXPECT_TRUE(rtl::VarIsFMTBcd(m->Value()));
    EXPECT_THROW(m->AsCurrency(), rtl::EBcdOverflowException);
    m->SetAsInteger(-42);
    EXPECT_EQ(m->AsLargeInt(), -42);
}

TEST(FieldValues, DatesUseTheirNativeForms) {
    rtl::TDateTime noon = rtl::EncodeDate(2000, 1, 1) + 0.5;
    TCellDataSet ds;
    auto* d = ds.Add<TDateField>("D");
    auto* t = ds.Add<TTimeField>("T");
    auto* dt = ds.Add<TDateTimeField>("DT");
    auto* ts = ds.Add<TSQLTimeStampField>("TS");
    d->SetAsDateTime(noon);
    t->SetAsDateTime(noon);
    dt->SetAsDateTime(noon);
    ts->SetAsDateTime(noon);
    EXPECT_EQ(ds.Raw<int32_t>(d), 730120);    // days since 0001-01-01, plus one
    EXPECT_EQ(ds.Raw<int32_t>(t), 43200000);  // milliseconds since midnight
    EXPECT_EQ(ds.Raw<double>(dt), 730120.0 * 86400000 + 43200000);
    EXPECT_EQ(ds.Raw<rtl::TSQLTimeStamp>(ts).Year, 2000);
    EXPECT_EQ(ds.Raw<rtl::TSQLTimeStamp>(ts).Hour, 12);
    EXPECT_EQ(d->AsDateTime(), rtl::EncodeDate(2000, 1, 1));
    EXPECT_EQ(t->AsDateTime(), 0.5);
    EXPECT_EQ(dt->AsDateTime(), noon);
    EXPECT_EQ(ts->AsDateTime(), noon);
    EXPECT_EQ(dt->Value().VarType(), rtl::varDate);
    // Before 1899-12-30 the time keeps its sign-magnitude form.
    rtl::TDateTime old = -1.25;
    dt->SetAsDateTime(old);
    EXPECT_EQ(dt->AsDateTime(), old);
    EXPECT_EQ(dt->AsSQLTimeStamp().Hour, 6);

    rtl::TFormatSettings fs = rtl::FormatSettings();
    fs.DateSeparator = '.';
    fs.ShortDateFormat = "dd.mm.yyyy";
    fs.TimeSeparator = ':';
    fs.LongTimeFormat = "hh:nn:ss";
    rtl::TFormatSettingsOverride over(fs);
    dt->SetAsDateTime(noon);
    EXPECT_EQ(dt->AsString(), "01.01.2000 12:00:00");
    EXPECT_EQ(d->AsString(), "01.01.2000");
    d->SetAsString("02.01.2000");
    EXPECT_EQ(d->AsDateTime(), rtl::EncodeDate(2000, 1, 2));
    dt->SetDisplayFormat("yyyy");
    EXPECT_EQ(dt->DisplayText(), "2000");
}

TEST(FieldValues, TextFields) {
    TCellDataSet ds;
    auto* s = ds.Add<TStringField>("S", 5);
    s->SetAsString("abcdefgh");
    EXPECT_EQ(s->AsString(), "abcde");  // cut to Size
    EXPECT_EQ(ds.cells.at(s).size(), 6u);
    EXPECT_EQ(ds.cells.at(s)[5], 0);
    s->SetAsString(" 12");
    EXPECT_EQ(s->AsInteger(), 12);
    s->SetFixedChar(true);
    s->SetAsString("ab   ");
    EXPECT_EQ(s->AsString(), "ab");
    EXPECT_EQ(s->Value().VarType(), rtl::varString);

    auto* w = ds.Add<TWideStringField>("W", 3);
    w->SetAsString("\xC0\xE1\xE2\xE3");  // four Cyrillic letters in code page 1251
    EXPECT_EQ(w->AsWideString(), u"\u0410\u0431\u0432");
    EXPECT_EQ(w->AsString(), "\xC0\xE1\xE2");
    EXPECT_EQ(w->Value().VarType(), rtl::varOleStr);
    EXPECT_EQ(ds.cells.at(w).size(), 8u);

    auto* g = ds.Add<TGuidField>("G");
    EXPECT_THROW(g->SetSize(10), rtl::EDatabaseError);
    g->SetAsString("{0123ABCD-0000-1111-2222-333344445555}");
    EXPECT_EQ(g->AsString(), "{0123ABCD-0000-1111-2222-333344445555}");
    EXPECT_THROW(g->SetAsString("0123ABCD-0000-1111-2222-333344445555"), rtl::EConvertError);
}

TEST(FieldValues, BooleansBytesAndVariants) {
    TCellDataSet ds;
    auto* b = ds.Add<TBooleanField>("B");
    b->SetAsBoolean(true);
    EXPECT_EQ(ds.Raw<int16_t>(b), -1);
    EXPECT_EQ(b->AsString(), "True");
    struct Case {
        const char* text;
        bool value;
    };
    for (const Case& c : {Case{"f", false}, Case{"TRUE", true}, Case{"Fal", false}, Case{"t", true}}) {
        b->SetAsString(c.text);
        EXPECT_EQ(b->AsBoolean(), c.value) << c.text;
    }
    EXPECT_THROW(b->SetAsString("yes"), rtl::EDatabaseError);
    try {
        b->AsInteger();
        FAIL();
    } catch (rtl::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Cannot access field 'B' as type Integer");
    }

    auto* vb = ds.Add<TVarBytesField>("VB", 4);
    vb->SetAsBytes(TBytes{9, 8, 7, 6, 5});
    EXPECT_EQ(ds.Raw<uint16_t>(vb), 4);  // length prefix, cut to Size
    EXPECT_EQ(vb->AsBytes(), (TBytes{9, 8, 7, 6}));
    vb->SetValue(rtl::BytesToVariant(TBytes{1}));
    EXPECT_EQ(rtl::VariantToBytes(vb->Value()), TBytes{1});
    auto* by = ds.Add<TBytesField>("BY", 3);
    by->SetAsBytes(TBytes{1, 2});
    EXPECT_EQ(by->AsBytes(), (TBytes{1, 2, 0}));

    auto* v = ds.Add<TVariantField>("V");
    EXPECT_TRUE(v->IsNull());
    v->SetValue(Variant(int16_t{5}));
    EXPECT_EQ(v->Value().VarType(), rtl::varSmallint);
    v->SetAsString("text");
    EXPECT_EQ(v->Value().VarType(), rtl::varString);
    EXPECT_EQ(v->AsString(), "text");
    v->SetValue(rtl::Null());
    EXPECT_TRUE(v->IsNull());
}

TEST(FieldValues, ValidateChangeAndAssign) {
    TCellDataSet ds;
    auto* a = ds.Add<TIntegerField>("A");
    auto* b = ds.Add<TIntegerField>("B");
    std::vector<std::string> seen;
    a->OnValidate = [&](TField* f) { seen.push_back("validate " + f->FieldName()); };
    a->OnChange = [&](TField* f) { seen.push_back("change " + f->FieldName()); };
    a->SetAsInteger(3);
    EXPECT_EQ(seen, (std::vector<std::string>{"validate A", "change A"}));
    b->Assign(a);
    EXPECT_EQ(b->AsInteger(), 3);
    a->Clear();
    b->Assign(a);
    EXPECT_TRUE(b->IsNull());
    a->OnGetText = [](TField*, std::string& text, bool display) { text = display ? "shown" : "edited"; };
    EXPECT_EQ(a->DisplayText(), "shown");
    EXPECT_EQ(a->Text(), "edited");
    EXPECT_THROW(ds.Add<TIntegerField>("a"), rtl::EDatabaseError);  // duplicate name
}

// Exposes CreateFields for definitions built by hand.
class TDefsDataSet : public TDataSet {
public:
    using TDataSet::CreateFields;
    using TDataSet::TDataSet;
};

TEST(FieldDefs, ChildDefinitionsDottedNamesAndObjectFields) {
    TDefsDataSet ds;
    TFieldDefs& defs = ds.FieldDefs();
    defs.Add("ID", ftInteger, 0, true);
    TFieldDef* addr = defs.Add("ADDR", ftADT);
    addr->ChildDefs().Add("CITY", ftString, 20);
    addr->ChildDefs().Add("ZIP", ftInteger);
    EXPECT_EQ(defs.IndexOf("ADDR"), 1);
    EXPECT_EQ(defs.IndexOf("addr.zip"), 1);
    EXPECT_EQ(defs.IndexOf("ADDR.NONE"), -1);
    EXPECT_EQ(defs.Find("ADDR.CITY")->FullName(), "ADDR.CITY");
    EXPECT_EQ(defs.Find("ADDR.CITY")->ParentDef(), addr);
    EXPECT_EQ(addr->ChildDefs().DataSet(), &ds);
    EXPECT_THROW(defs.Find("NONE"), rtl::EDatabaseError);
    EXPECT_THROW(defs.Add("id", ftString), rtl::EDatabaseError);
    EXPECT_TRUE(defs.Items(0)->Required());

    TFieldDefList& list = ds.FieldDefList();
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Strings(2), "ADDR.CITY");
    EXPECT_EQ(list.Find("ADDR.ZIP")->DataType(), ftInteger);
    // The list follows later changes.
    addr->ChildDefs().Add("STREET", ftString, 30);
    EXPECT_EQ(ds.FieldDefList().Count(), 5);

    // Object view: one field per top-level definition, the parts as child fields.
    ds.SetObjectView(true);
    ds.CreateFields();
    ASSERT_EQ(ds.FieldCount(), 2);
    auto* adt = dynamic_cast<TADTField*>(ds.Fields()[1]);
    ASSERT_NE(adt, nullptr);
    ASSERT_EQ(adt->FieldCount(), 3);
    EXPECT_EQ(adt->Fields()[0]->FullName(), "ADDR.CITY");
    EXPECT_EQ(adt->Fields()[0]->Size(), 20);
    EXPECT_EQ(ds.FindField("addr.city"), adt->Fields()[0]);
    EXPECT_EQ(ds.FieldList().size(), 5u);
    EXPECT_TRUE(ds.Fields()[0]->Required());
    ds.Fields().Clear();

    // Flat view: every definition is a top-level field under its full name.
    ds.SetObjectView(false);
    ds.CreateFields();
    ASSERT_EQ(ds.FieldCount(), 5);
    EXPECT_EQ(ds.Fields()[2]->FieldName(), "ADDR.CITY");
}

TEST(FieldDefs, ExtractFieldName) {
    std::string list = " A ; B;;C ";
    int pos = 1;
    std::vector<std::string> names;
    while (pos <= static_cast<int>(list.size())) names.push_back(ExtractFieldName(list, pos));
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "", "C"}));
}

}  // namespace
