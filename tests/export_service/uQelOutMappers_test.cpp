// The mappers of the forty kinds over fixture cursors.
#include <gtest/gtest.h>

#include "export_service/uQelOutProcessors.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/FormatSettings.h"
#include "tests/export_service/KindFixtures.h"

using namespace svc;
using fakes::TColumnType;
using kinds::TFakeProcedures;

namespace {

const char* kPackageId = "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}";

// The list a kind's mapper gives through the operation the exporter calls for it.
std::unique_ptr<TDataObjectList> ListOf(TWebOutMapper& mapper, int clientType = 0) {
    const TRecordKindInfo& kind = static_cast<TKindMapper&>(mapper).KindInfo();
    if (kind.Runner == TKindRunner::PackageId) return mapper.GetListByPackageId(kPackageId);
    return mapper.GetListByClientType(clientType);
}

TEST(KindMappers, EveryKindReadsItsColumnsIntoItsElementsInOrder) {
    constexpr int kRows = 6;  // rows 2 and 5 are null
    for (const kinds::TKindSpec& spec : kinds::Kinds()) {
        SCOPED_TRACE(spec.list);
        fakes::TFakeSession session;
        TFakeProcedures procedures;
        kinds::FillCursor(procedures.Proc(spec.kind), spec, kRows);
        fakes::TLogLines log;
        auto mapper = TMapperFactory::CreateMapper(spec.kind, &session, &procedures);
        ASSERT_TRUE(mapper);
        EXPECT_EQ(mapper->ClassName(), spec.mapper);
        mapper->OnLog = log.Callback();

        auto list = ListOf(*mapper);
        ASSERT_TRUE(list) << (log.lines.empty() ? "" : log.lines[0]);
        EXPECT_TRUE(log.lines.empty());
        ASSERT_EQ(list->Count(), kRows);
        const auto& elements = kinds::Elements(spec.kind);
        for (int row = 0; row < kRows; ++row) {
            const auto* object = dynamic_cast<const TPersistentObject*>(list->Items(row));
            ASSERT_TRUE(object);
            EXPECT_EQ(object->ElementName, spec.item);
            const auto children = kinds::ItemChildren(*object);
            ASSERT_EQ(children.size(), elements.size());
            for (size_t i = 0; i < elements.size(); ++i) {
                EXPECT_EQ(children[i].first, elements[i].element);
                EXPECT_EQ(children[i].second, kinds::ExpectedText(spec, elements[i], row))
                    << "row " << row << " element " << elements[i].element;
            }
        }

        // How the procedure was run.
        const fakes::TFakeProc& proc = procedures.Proc(spec.kind);
        ASSERT_EQ(proc.calls.size(), 1u);
        const std::string calls[] = {"Execute P_CLIENT_TYPE=0", "Execute",
                                     std::string("Execute P_PACKAGE_ID=") + kPackageId};
        const std::string transaction[] = {"StartTransaction Commit", "", "StartTransaction Commit"};
        const int runner = spec.runner == 'C' ? 0 : spec.runner == 'I' ? 1 : 2;
        EXPECT_EQ(proc.calls[0], calls[runner]);
        EXPECT_EQ(session.EventText(), transaction[runner]);
        EXPECT_FALSE(proc.data.Active());
    }
}

TEST(KindMappers, AMapperAnswersOnlyTheListOperationOfItsKind) {
    fakes::TFakeSession session;
    TFakeProcedures procedures;
    for (const TRecordKindInfo& kind : ExportKinds()) {
        auto mapper = TMapperFactory::CreateMapper(kind.Kind, &session, &procedures);
        const bool byPackageId = kind.Runner == TKindRunner::PackageId;
        auto list = byPackageId ? mapper->GetListByClientType(0) : mapper->GetListByPackageId(kPackageId);
        EXPECT_FALSE(list) << kind.ListName;
        EXPECT_FALSE(procedures.Made(kind.Kind)) << kind.ListName;
    }
    EXPECT_FALSE(TMapperFactory::CreateMapper(40, &session, &procedures));
    EXPECT_FALSE(TMapperFactory::CreateMapper(-1, &session, &procedures));
}

TEST(KindMappers, ClientTypeConditionsDecideWhetherTheProcedureIsCalledAtAll) {
    struct Case {
        int kind, clientType;
        bool list;
    };
    const Case cases[] = {
        {14, 0, true}, {14, 1, false}, {14, 2, true}, {27, 0, true}, {27, 1, true}, {27, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.clientType));
        fakes::TFakeSession session;
        TFakeProcedures procedures;
        kinds::FillCursor(procedures.Proc(c.kind), kinds::Kinds()[static_cast<size_t>(c.kind)], 2);
        auto mapper = TMapperFactory::CreateMapper(c.kind, &session, &procedures);
        auto list = mapper->GetListByClientType(c.clientType);
        EXPECT_EQ(static_cast<bool>(list), c.list);
        EXPECT_EQ(procedures.Proc(c.kind).calls.size(), c.list ? 1u : 0u);
        // The contactless tags of clients are always of type 1, whatever the client type asked.
        if (list && c.kind == 27) {
            for (int i = 0; i < list->Count(); ++i)
                EXPECT_EQ(list->ItemAs<TMifareOnClient>(i)->ClientType(), 1);
        }
    }
}

// A one-column-set kind whose cursor holds the given rows.
struct TOneKind {
    explicit TOneKind(int kind, std::vector<fakes::TCursorColumn> columns) : kind(kind) {
        proc().SetColumns(columns);
        mapper = TMapperFactory::CreateMapper(kind, &session, &procedures);
        mapper->OnLog = log.Callback();
    }
    fakes::TFakeProc& proc() { return procedures.Proc(kind); }
    template <class Fill>
    void Row(Fill fill) {
        proc().AddRow(fill);
    }
    std::unique_ptr<TDataObjectList> List() { return ListOf(*mapper); }
    std::string Text(const TDataObjectList& list, int item, const char* element) {
        const auto& record = *list.ItemAs<TExportRecord>(item);
        return record.ValueText(record.Field(element));
    }

    int kind;
    fakes::TFakeSession session;
    TFakeProcedures procedures;
    std::unique_ptr<TWebOutMapper> mapper;
    fakes::TLogLines log;
};

TEST(KindMappers, LimitPairsBecomeOneLimitCode) {
    struct Case {
        int kindLimit, limitType;
        const char* online;  // kinds 9 and 30
        const char* coupon;  // kind 36
    };
    const Case cases[] = {
        {0, 0, "2", "2"}, {0, 1, "1", "1"}, {0, 2, "3", "0"}, {1, 0, "5", "5"},
        {1, 1, "4", "4"}, {1, 2, "6", "0"}, {2, 0, "0", "0"}, {0, -1, "0", "0"},
    };
    for (int kind : {9, 30, 36}) {
        TOneKind k(kind, kinds::Kinds()[static_cast<size_t>(kind)].columns);
        for (const Case& c : cases)
            k.Row([&](db::TDataSet& ds) {
                ds.FieldByName("kind_limit")->SetAsInteger(c.kindLimit);
                ds.FieldByName("limit_type")->SetAsInteger(c.limitType);
            });
        auto list = k.List();
        ASSERT_TRUE(list);
        ASSERT_EQ(list->Count(), static_cast<int>(std::size(cases)));
        std::vector<std::string> errors;
        for (size_t i = 0; i < std::size(cases); ++i) {
            const Case& c = cases[i];
            SCOPED_TRACE(std::to_string(kind) + ": " + std::to_string(c.kindLimit) + "," +
                         std::to_string(c.limitType));
            const std::string expected = kind == 36 ? c.coupon : c.online;
            EXPECT_EQ(k.Text(*list, static_cast<int>(i), "limit_type"), expected);
            if (expected == "0")
                errors.push_back("!Error: " + std::string(ExportKind(kind).Class().ItemElement()) +
                                 ": no limit code for kind_limit " + std::to_string(c.kindLimit) +
                                 " and limit_type " + std::to_string(c.limitType) +
                                 ", limit_type written as 0");
        }
        EXPECT_EQ(k.log.lines, errors);
    }
}

TEST(KindMappers, PosPricesRoundTheCurrencyAndWriteTheStartDateInTheRegionalShortDate) {
    const rtl::TDateTime start = rtl::EncodeDate(2024, 3, 7);
    TOneKind k(6, {{"POS_ID", TColumnType::Int},
                   {"PRICE_NUM", TColumnType::Int},
                   {"SERVICE_ID", TColumnType::Int},
                   {"TERM_PRICE", TColumnType::Dec},
                   {"price_start_date", TColumnType::Date},
                   {"status", TColumnType::Int}});
    k.Row([&](db::TDataSet& ds) {
        ds.FieldByName("TERM_PRICE")->SetAsFloat(52.123456);
        ds.FieldByName("price_start_date")->SetAsDateTime(start);
    });
    k.Row([&](db::TDataSet& ds) { ds.FieldByName("TERM_PRICE")->SetAsFloat(7.99999); });

    rtl::TFormatSettings russian = rtl::TFormatSettings::Invariant();
    russian.DateSeparator = '.';
    russian.ShortDateFormat = "dd/MM/yyyy";
    rtl::TFormatSettings american = rtl::TFormatSettings::Invariant();
    american.ShortDateFormat = "M/d/yyyy";
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        rtl::TFormatSettingsOverride locale(i == 0 ? russian : american);
        auto list = k.List();
        ASSERT_TRUE(list);
        EXPECT_EQ(k.Text(*list, 0, "Price_On_POS"), "52.1235");
        EXPECT_EQ(k.Text(*list, 1, "Price_On_POS"), "8");
        texts[i] = k.Text(*list, 0, "PosPriceStartDate");
        EXPECT_EQ(k.Text(*list, 1, "PosPriceStartDate"), i == 0 ? "30.12.1899" : "12/30/1899");
    }
    EXPECT_EQ(texts[0], "07.03.2024");
    EXPECT_EQ(texts[1], "3/7/2024");
}

TEST(KindMappers, ClientsOfTheDolmSystemCarryEveryElementWithThoseNotReadAtTheirStartingValue) {
    TOneKind k(11, {{"cln_id", TColumnType::Int},
                    {"cln_type", TColumnType::Int},
                    {"cln_name", TColumnType::Txt},
                    {"name_for_report", TColumnType::Txt},
                    {"cln_email", TColumnType::Txt},
                    {"cln_bl", TColumnType::Int},
                    {"sl_al_debtor_sign", TColumnType::Int},
                    {"sl_in_debtor_sign", TColumnType::Int},
                    {"ml_al_debtor_sign", TColumnType::Int},
                    {"ml_in_debtor_sign", TColumnType::Int},
                    {"cln_phone", TColumnType::Txt},
                    {"Address", TColumnType::Txt},
                    {"fax", TColumnType::Txt},
                    // Columns of the Qel clients that the Dolm mapper leaves alone.
                    {"onl_client_id", TColumnType::Raw},
                    {"contract_date", TColumnType::Date},
                    {"max_gr_card_num", TColumnType::Raw}});
    k.Row([](db::TDataSet& ds) {
        ds.FieldByName("cln_id")->SetAsInteger(42);
        ds.FieldByName("cln_phone")->SetAsString("+7 900");
        ds.FieldByName("onl_client_id")->SetAsString("ONL-1");
        ds.FieldByName("contract_date")->SetAsDateTime(rtl::EncodeDate(2020, 1, 1));
        ds.FieldByName("max_gr_card_num")->SetAsString("99");
    });
    auto list = k.List();
    ASSERT_TRUE(list);
    const auto children = kinds::ItemChildren(*list->ItemAs<TPersistentObject>(0));
    ASSERT_EQ(children.size(), 35u);
    std::map<std::string, std::string> values(children.begin(), children.end());
    EXPECT_EQ(values["ID"], "42");
    EXPECT_EQ(values["Phone"], "+7 900");
    EXPECT_EQ(values["OnlClientId"], "");
    EXPECT_EQ(values["MaxCrdNum"], "");
    EXPECT_EQ(values["WLALFlag"], "0");
    EXPECT_EQ(values["INN"], "");
    EXPECT_EQ(values["ContractDate"], "1899-12-30T00:00:00Z");
    EXPECT_EQ(values["WarrantDate"], "1899-12-30T00:00:00Z");
    EXPECT_EQ(values["ClientTarif"], "0");
}

TEST(KindMappers, RawValuesWithCyrillicBytesComeOutAsUtf8InsteadOfBreakingTheDocument) {
    TOneKind k(35, {{"Code", TColumnType::Raw}, {"Value", TColumnType::Raw}});
    k.Row([](db::TDataSet& ds) {
        ds.FieldByName("Code")->SetAsString("GREETING");
        ds.FieldByName("Value")->SetAsString("\xEF\xF0\xE8\xE2\xE5\xF2");  // привет
    });
    auto list = k.List();
    ASSERT_TRUE(list);
    EXPECT_EQ(k.Text(*list, 0, "Code"), "GREETING");
    EXPECT_EQ(k.Text(*list, 0, "Value"), "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST(KindMappers, APackageIdComesOutTheSameAsAConfirmationsTextAndAStatusRequestsRaw) {
    const std::string id = "{7B1C2D3E-0000-4A5B-8C9D-0E1F2A3B4C5D}";
    TOneKind confirm(8, {{"package_id", TColumnType::Txt},
                         {"datetime_last_receipt", TColumnType::Date},
                         {"count_receipt", TColumnType::Int},
                         {"state", TColumnType::Int}});
    TOneKind status(28, {{"package_id", TColumnType::Raw}});
    for (TOneKind* k : {&confirm, &status})
        k->Row([&](db::TDataSet& ds) { ds.FieldByName("package_id")->SetAsString(id); });
    auto confirms = confirm.List();
    auto statuses = status.List();
    ASSERT_TRUE(confirms && statuses);
    EXPECT_EQ(confirm.Text(*confirms, 0, "ID"), id);
    EXPECT_EQ(status.Text(*statuses, 0, "Id"), id);
}

TEST(KindMappers, IntegerColumnsDeliveredAsFloatsAreRoundedAndOutOfRangeOnesFailTheKind) {
    TOneKind k(7, {{"has_rfid", TColumnType::Dec}});
    k.Row([](db::TDataSet& ds) { ds.FieldByName("has_rfid")->SetAsFloat(1.0); });
    auto list = k.List();
    ASSERT_TRUE(list);
    EXPECT_EQ(k.Text(*list, 0, "HasRFID"), "1");

    k.Row([](db::TDataSet& ds) { ds.FieldByName("has_rfid")->SetAsFloat(1E10); });
    EXPECT_FALSE(k.List());
    ASSERT_EQ(k.log.lines.size(), 1u);
    EXPECT_EQ(k.log.lines[0].rfind("!Error: ", 0), 0u);
}

TEST(KindMappers, AMissingColumnGivesNoListAndOneErrorLineNamingIt) {
    TOneKind k(19, {{"dr_request_id", TColumnType::Int}});
    k.Row([](db::TDataSet& ds) { ds.FieldByName("dr_request_id")->SetAsInteger(1); });
    EXPECT_FALSE(k.List());
    EXPECT_EQ(k.session.EventText(), "StartTransaction Rollback");
    EXPECT_EQ(k.log.lines, (std::vector<std::string>{"!Error: Field 'request_state_id' not found"}));
}

}  // namespace
