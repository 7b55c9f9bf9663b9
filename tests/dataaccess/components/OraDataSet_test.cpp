// Dataset settings and options, the Oracle data-type map, key conversion for searches and the
// record-count statement.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "DataSetFixture.h"
#include "platform/rtl/DateTime.h"

using namespace dac;

TEST_F(DataSetTest, ANewQueryHasTheDocumentedOptions) {
    TOraQuery q;
    TOraDataSetOptions& o = q.Options();
    EXPECT_FALSE(o.SetFieldsReadOnly);
    struct Flag {
        const char* name;
        bool value;
        bool expected;
    };
    const Flag flags[] = {
        {"RequiredFields", o.RequiredFields(), true},
        {"StrictUpdate", o.StrictUpdate, true},
        {"TrimFixedChar", o.TrimFixedChar(), true},
        {"LongStrings", o.LongStrings(), true},
        {"RemoveOnRefresh", o.RemoveOnRefresh, true},
        {"CacheLobs", o.CacheLobs(), true},
        {"NumberRange", o.NumberRange(), false},
        {"QueryRecCount", o.QueryRecCount, false},
        {"AutoPrepare", o.AutoPrepare(), false},
        {"ReturnParams", o.ReturnParams, false},
        {"TrimVarChar", o.TrimVarChar(), false},
        {"FlatBuffers", o.FlatBuffers(), false},
        {"QuoteNames", o.QuoteNames(), false},
        {"FullRefresh", o.FullRefresh, false},
        {"LocalMasterDetail", o.LocalMasterDetail(), false},
        {"FieldsOrigin", o.FieldsOrigin(), false},
        {"DefaultValues", o.DefaultValues(), false},
        {"ExtendedFieldsInfo", o.ExtendedFieldsInfo(), false},
        {"UpdateAllFields", o.UpdateAllFields, false},
        {"PrepareUpdateSQL", o.PrepareUpdateSQL, false},
        {"EnableBCD", o.EnableBCD(), false},
        {"EnableFMTBCD", o.EnableFMTBCD(), false},
        {"CacheCalcFields", o.CacheCalcFields(), false},
        {"AutoClose", o.AutoClose(), false},
        {"FieldsAsString", o.FieldsAsString(), false},
        {"DeferredLobRead", o.DeferredLobRead(), false},
        {"ScrollableCursor", o.ScrollableCursor(), false},
        {"RawAsString", o.RawAsString(), false},
        {"TemporaryLobUpdate", o.TemporaryLobUpdate(), false},
        {"ReflectChangeNotify", o.ReflectChangeNotify, false},
        {"StatementCache", o.StatementCache(), false},
    };
    for (const auto& f : flags) EXPECT_EQ(f.expected, f.value) << f.name;
    EXPECT_EQ(1, o.PrefetchRows());
    EXPECT_EQ(1, o.UpdateBatchSize);
    EXPECT_EQ(0, o.DetailDelay());
    EXPECT_EQ(cbNone, o.CompressBlobMode());
    EXPECT_TRUE(q.LocalConstraints()) << "RequiredFields reaches the dataset";
    EXPECT_EQ(25, q.FetchRows());
    EXPECT_TRUE(q.AutoCommit());
    EXPECT_EQ(-1, q.RowsAffected());
    EXPECT_EQ(cmNone, q.CheckMode());
    EXPECT_EQ(smPost, q.SequenceMode());
}

TEST_F(DataSetTest, OptionsThatNeedAClosedDatasetRefuseAnOpenOne) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id FROM item");
    q->Open();
    auto& o = q->Options();
    const std::string open = "Cannot perform this operation on an open dataset";
    struct Case {
        const char* name;
        std::function<void()> set;
        std::function<bool()> unchanged;
    };
    const Case refused[] = {
        {"LongStrings", [&] { o.SetLongStrings(false); }, [&] { return o.LongStrings(); }},
        {"FlatBuffers", [&] { o.SetFlatBuffers(true); }, [&] { return !o.FlatBuffers(); }},
        {"CacheLobs", [&] { o.SetCacheLobs(false); }, [&] { return o.CacheLobs(); }},
        {"ScrollableCursor", [&] { o.SetScrollableCursor(true); }, [&] { return !o.ScrollableCursor(); }},
        {"FieldsOrigin", [&] { o.SetFieldsOrigin(true); }, [&] { return !o.FieldsOrigin(); }},
        {"EnableBCD", [&] { o.SetEnableBCD(true); }, [&] { return !o.EnableBCD(); }},
        {"CompressBlobMode", [&] { o.SetCompressBlobMode(cbClient); },
         [&] { return o.CompressBlobMode() == cbNone; }},
        {"FetchRows", [&] { q->SetFetchRows(30); }, [&] { return q->FetchRows() == 25; }},
        {"UniDirectional", [&] { q->SetUniDirectional(true); }, [&] { return !q->UniDirectional(); }},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(open, ErrorText(c.set)) << c.name;
        EXPECT_TRUE(c.unchanged()) << c.name;
    }
    // Accepted while open, and passed on to the command at once.
    o.SetQuoteNames(true);
    EXPECT_TRUE(q->GetICommand()->QuoteNames());
    EXPECT_EQ("(nothing raised)", ErrorText([&] { q->SetFetchRows(25); })) << "the same value again";
    EXPECT_EQ("(nothing raised)", ErrorText([&] { o.SetCacheCalcFields(false); }));
}

TEST_F(DataSetTest, FetchRowsStaysWithin1To10000) {
    TOraQuery q;
    struct Case {
        int value;
        bool accepted;
    };
    const Case cases[] = {{0, false}, {-1, false}, {10001, false}, {1, true}, {10000, true}, {25, true}};
    for (const auto& c : cases) {
        const int before = q.FetchRows();
        const std::string error = ErrorText([&] { q.SetFetchRows(c.value); });
        EXPECT_EQ(c.accepted ? "(nothing raised)" : "FetchRows must be 1..10000", error) << c.value;
        EXPECT_EQ(c.accepted ? c.value : before, q.FetchRows()) << c.value;
    }
}

TEST_F(DataSetTest, FetchAllAndUniDirectionalExcludeEachOther) {
    TOraQuery q;
    q.SetFetchAll(true);
    q.SetUniDirectional(true);
    EXPECT_FALSE(q.FetchAll());
    EXPECT_TRUE(q.UniDirectional());
    q.SetFetchAll(true);
    EXPECT_TRUE(q.FetchAll());
    EXPECT_FALSE(q.UniDirectional());
}

TEST_F(DataSetTest, KeepPreparedIsAutoPrepareAndChangingItUnprepares) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id FROM item");
    auto& o = q->Options();
    o.SetKeepPrepared(true);
    EXPECT_TRUE(o.AutoPrepare());
    q->Prepare();
    ASSERT_TRUE(q->Prepared());
    o.SetAutoPrepare(true);
    EXPECT_TRUE(q->Prepared()) << "the same value changes nothing";
    o.SetKeepPrepared(false);
    EXPECT_FALSE(o.AutoPrepare());
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(0, s->ConnectCount()) << "the prepare's use of the session ended with it";
}

TEST_F(DataSetTest, AssigningOptionsCopiesEachOptionFromItself) {
    TOraQuery a, b;
    a.Options().PrepareUpdateSQL = true;
    a.Options().SetTrimVarChar(false);
    a.Options().SetTrimFixedChar(false);
    a.Options().SetPrefetchRows(7);
    a.Options().SetScrollableCursor(true);
    a.Options().ReflectChangeNotify = true;
    b.Options().SetTrimVarChar(true);
    b.SetOptions(&a.Options());
    EXPECT_TRUE(b.Options().PrepareUpdateSQL);
    EXPECT_FALSE(b.Options().TrimVarChar());
    EXPECT_FALSE(b.Options().TrimFixedChar());
    EXPECT_EQ(7, b.Options().PrefetchRows());
    EXPECT_TRUE(b.Options().ScrollableCursor());
    EXPECT_TRUE(b.Options().ReflectChangeNotify);
    rtl::TStringList notOptions;
    EXPECT_NE("(nothing raised)", ErrorText([&] { a.Options().AssignTo(&notOptions); }));
}

TEST_F(DataSetTest, DetailDelayMakesAStoppedTimer) {
    TOraQuery q;
    EXPECT_EQ(nullptr, q.DetailTimer());
    q.Options().SetDetailDelay(500);
    ASSERT_NE(nullptr, q.DetailTimer());
    EXPECT_EQ(500, q.DetailTimer()->Interval());
    EXPECT_FALSE(q.DetailTimer()->Enabled());
    EXPECT_FALSE(q.DetailTimer()->Armed());
}

TEST_F(DataSetTest, RefreshModeAndRefreshOptionsAreOneSetting) {
    TOraQuery q;
    q.SetRefreshOptions({roBeforeEdit});
    struct Case {
        TRefreshMode mode;
        bool insert, update;
    };
    const Case cases[] = {{rmAlways, true, true},
                          {rmAfterInsert, true, false},
                          {rmAfterUpdate, false, true},
                          {rmNone, false, false}};
    for (const auto& c : cases) {
        q.SetRefreshMode(c.mode);
        EXPECT_EQ(c.mode, q.RefreshMode());
        EXPECT_EQ(c.insert, q.RefreshOptions().Contains(roAfterInsert)) << c.mode;
        EXPECT_EQ(c.update, q.RefreshOptions().Contains(roAfterUpdate)) << c.mode;
        EXPECT_TRUE(q.RefreshOptions().Contains(roBeforeEdit)) << c.mode;
    }
}

TEST(OraDataTypesMap, FieldTypesAndDataTypes) {
    const auto& map = TCustomOraDataTypesMap::Instance();
    struct ToField {
        TDataType data;
        db::TFieldType field;
    };
    const ToField toField[] = {{dtSQLTimeStamp, db::ftTimeStamp},
                               {dtOraBlob, db::ftOraBlob},
                               {dtOraClob, db::ftOraClob},
                               {dtWideOraClob, db::ftOraClob},
                               {dtFixedChar, db::ftFixedChar},
                               {dtFixedWideChar, db::ftFixedWideChar},
                               {dtBFile, db::ftUnknown},
                               {dtNumber, db::ftUnknown},
                               {dtTimeStamp, db::ftUnknown},
                               {dtIntervalDS, db::ftUnknown},
                               {dtXML, db::ftUnknown},
                               {dtInteger, db::ftInteger},
                               {dtString, db::ftString},
                               {dtDateTime, db::ftDateTime}};
    for (const auto& c : toField) EXPECT_EQ(c.field, map.GetFieldType(c.data)) << int(c.data);
    struct ToData {
        db::TFieldType field;
        TDataType data;
    };
    const ToData toData[] = {{db::ftString, dtString},       {db::ftSmallint, dtInteger},
                             {db::ftWord, dtInteger},        {db::ftBoolean, dtBoolean},
                             {db::ftCurrency, dtFloat},      {db::ftDate, dtDateTime},
                             {db::ftTime, dtDateTime},       {db::ftBytes, dtBytes},
                             {db::ftVarBytes, dtVarBytes},   {db::ftBlob, dtBlob},
                             {db::ftMemo, dtMemo},           {db::ftCursor, dtCursor},
                             {db::ftFixedChar, dtFixedChar}, {db::ftWideString, dtWideString},
                             {db::ftLargeint, dtLargeint},   {db::ftADT, dtObject},
                             {db::ftArray, dtArray},         {db::ftReference, dtReference},
                             {db::ftDataSet, dtTable},       {db::ftOraBlob, dtOraBlob},
                             {db::ftOraClob, dtOraClob},     {db::ftTimeStamp, dtSQLTimeStamp},
                             {db::ftFMTBcd, dtFmtBcd},       {db::ftFixedWideChar, dtFixedWideChar},
                             {db::ftWideMemo, dtWideMemo},   {db::ftOraTimeStamp, dtTimeStamp},
                             {db::ftBCD, dtUnknown},         {db::ftGraphic, dtUnknown},
                             {db::ftOraInterval, dtUnknown}, {db::ftAutoInc, dtUnknown},
                             {db::ftVariant, dtUnknown},     {db::ftGuid, dtUnknown},
                             {db::ftInteger, dtInteger},     {db::ftFloat, dtFloat},
                             {db::ftDateTime, dtDateTime}};
    for (const auto& c : toData) EXPECT_EQ(c.data, map.GetDataType(c.field)) << int(c.field);
}

TEST_F(DataSetTest, ACursorColumnGetsACursorField) {
    TDACursorField field;
    EXPECT_EQ(db::ftCursor, field.DataType());
    TOraQuery q;
    EXPECT_EQ("TDACursorField", q.GetFieldClassFor(db::ftCursor).ClassName());
    EXPECT_EQ("TBlobField", q.GetFieldClassFor(db::ftOraBlob).ClassName());
    EXPECT_EQ("TMemoField", q.GetFieldClassFor(db::ftOraClob).ClassName());
}

// Search keys of Oracle numbers, time stamps and intervals.
TEST_F(DataSetTest, KeysOfOracleTypesConvertToTheirSearchForms) {
    TOraQuery q;
    TFieldDesc desc;
    enum Form { None, Int, Dbl, Text, Date, Error };
    struct Case {
        TDataType type;
        rtl::Variant key;
        Form form;
        double value;
    };
    const rtl::TDateTime day = rtl::EncodeDate(2024, 3, 1);
    const Case cases[] = {
        {dtNumber, rtl::Variant(int8_t(-5)), Int, -5},
        {dtNumber, rtl::Variant(uint8_t(200)), Int, 200},
        {dtNumber, rtl::Variant(uint16_t(60000)), Int, 60000},
        {dtNumber, rtl::Variant(int16_t(-300)), Int, -300},
        {dtNumber, rtl::Variant(int32_t(70000)), Int, 70000},
        {dtNumber, rtl::Variant(uint32_t(4000000000u)), Dbl, 4000000000.0},
        {dtNumber, rtl::Variant(long(1) << 40), Dbl, 1099511627776.0},
        {dtNumber, rtl::Variant(2.5), Dbl, 2.5},
        {dtNumber, rtl::Variant(rtl::AnsiString("12")), Text, 0},
        {dtNumber, rtl::Variant::MakeNull(), None, 0},
        {dtNumber, rtl::Variant::FromDateTime(day), Error, 0},
        {dtTimeStamp, rtl::Variant::FromDateTime(day), Date, day},
        {dtTimeStampTZ, rtl::Variant(rtl::AnsiString("x")), Text, 0},
        {dtTimeStampLTZ, rtl::Variant(int32_t(1)), Error, 0},
        {dtIntervalDS, rtl::Variant(rtl::AnsiString("+01 00:00:00")), Text, 0},
        {dtIntervalYM, rtl::Variant(int32_t(1)), Error, 0},
        {dtIntervalYM, rtl::Variant(), None, 0},
    };
    for (const auto& c : cases) {
        desc.DataType = c.type;
        void* buffer = reinterpret_cast<void*>(1);
        TDataType form = dtUnknown;
        const std::string error = ErrorText([&] { q.VariantToNativeBuf(c.key, buffer, form, &desc, false); });
        const std::string what = std::to_string(c.type) + " key kind " + std::to_string(c.key.VarType());
        if (c.form == Error) {
            EXPECT_EQ("Cannot convert type", error) << what;
            continue;
        }
        ASSERT_EQ("(nothing raised)", error) << what;
        switch (c.form) {
            case None:
                EXPECT_EQ(nullptr, buffer) << what;
                break;
            case Int: {
                EXPECT_EQ(dtInteger, form) << what;
                int32_t v;
                std::memcpy(&v, buffer, 4);
                EXPECT_EQ(c.value, v) << what;
                break;
            }
            case Dbl:
            case Date: {
                EXPECT_EQ(c.form == Dbl ? dtFloat : dtDateTime, form) << what;
                double v;
                std::memcpy(&v, buffer, 8);
                EXPECT_DOUBLE_EQ(c.value, v) << what;
                break;
            }
            case Text:
                EXPECT_EQ(dtString, form) << what;
                EXPECT_EQ(c.key.AsString(), static_cast<const char*>(buffer)) << what;
                break;
            default:
                break;
        }
        if (buffer) std::free(buffer);
    }
}

TEST(OraRecordCountSQL, OrderByGoesAndOnlyTheOuterForUpdateCuts) {
    struct Case {
        const char* sql;
        const char* counted;
    };
    const Case cases[] = {
        {"SELECT id FROM item ORDER BY id", "SELECT id FROM item"},
        {"SELECT id FROM item WHERE id > 3 FOR UPDATE", "SELECT id FROM item WHERE id > 3"},
        {"SELECT id FROM item FOR UPDATE NOWAIT", "SELECT id FROM item"},
        {"SELECT id FROM item WHERE id IN (SELECT id FROM item FOR UPDATE) ORDER BY id DESC",
         "SELECT id FROM item WHERE id IN (SELECT id FROM item FOR UPDATE)"},
        {"SELECT name \"FOR\" FROM item", "SELECT name \"FOR\" FROM item"},
        {"SELECT 'for update' FROM dual", "SELECT 'for update' FROM dual"},
        {"SELECT id FROM (SELECT id FROM item ORDER BY id) t",
         "SELECT id FROM (SELECT id FROM item ORDER BY id) t"},
    };
    for (const auto& c : cases)
        EXPECT_EQ("SELECT Count(*) FROM (\r" + std::string(c.counted) + "\r)", OraRecordCountSQL(c.sql))
            << c.sql;
}

TEST_F(DataSetTest, QueryRecCountReportsTheServersCountBeforeEveryRowIsFetched) {
    auto s = newSession();
    auto q = newQuery(s.get(), "SELECT id FROM item WHERE id > :FROM_ID ORDER BY id");
    q->ParamByName("FROM_ID")->SetAsInteger(7);
    for (bool count : {false, true}) {
        q->Options().QueryRecCount = count;
        q->Open();
        EXPECT_EQ(count ? 53 : 25, q->RecordCount()) << count;
        EXPECT_EQ(count ? 53 : 0, q->ServerRecordCount()) << count;
        q->Close();
    }
}
