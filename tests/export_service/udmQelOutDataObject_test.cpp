// The kind table and the data classes against the record tables of tests/export_service/data.
#include "export_service/udmQelOutDataObject.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/db/DB.h"
#include "platform/rtl/Strings.h"
#include "tests/export_service/KindFixtures.h"

using namespace svc;

namespace {

const char* FormName(TValueForm form) {
    switch (form) {
        case TValueForm::Integer:
            return "integer";
        case TValueForm::Amount:
            return "amount";
        case TValueForm::Measure:
            return "measure";
        case TValueForm::DateTime:
            return "date-time";
        case TValueForm::Date:
            return "date";
        case TValueForm::Text:
            return "text";
        case TValueForm::Raw:
            return "raw";
    }
    return "?";
}

char RunnerLetter(TKindRunner runner) {
    switch (runner) {
        case TKindRunner::ClientType:
            return 'C';
        case TKindRunner::ClientTypeIgnored:
            return 'I';
        case TKindRunner::PackageId:
            return 'P';
    }
    return '?';
}

TEST(ExportKinds, EveryKindNamesItsListItemClassesComponentAndProcedure) {
    ASSERT_EQ(ExportKinds().size(), 40u);
    ASSERT_EQ(kinds::Kinds().size(), 40u);
    for (const kinds::TKindSpec& expected : kinds::Kinds()) {
        SCOPED_TRACE(expected.kind);
        const TRecordKindInfo& kind = ExportKind(expected.kind);
        EXPECT_EQ(kind.Kind, expected.kind);
        EXPECT_EQ(kind.ListName, expected.list);
        EXPECT_EQ(TTypeRequestEnum::ListName(expected.kind), expected.list);
        EXPECT_EQ(kind.Class().ItemElement(), expected.item);
        std::unique_ptr<TExportRecord> record(kind.Class().NewRecord());
        EXPECT_EQ(record->ClassName(), expected.dataClass);
        EXPECT_EQ(record->ElementName, expected.item);
        EXPECT_EQ(kind.MapperClass, expected.mapper);
        EXPECT_EQ(kind.Component, expected.component);
        EXPECT_EQ(kind.StoredProc, expected.procedure);
        EXPECT_EQ(RunnerLetter(kind.Runner), expected.runner);
    }
}

TEST(ExportKinds, ParameterSizesFetchModesAndClientTypeConditions) {
    const std::set<int> size38 = {4, 6, 10, 11, 19, 20, 21, 22, 23, 24, 25, 29, 30};
    const std::set<int> fetchAll = {0, 1, 2, 3, 4, 28, 35};
    for (const TRecordKindInfo& kind : ExportKinds()) {
        SCOPED_TRACE(kind.Kind);
        EXPECT_EQ(kind.PackageIdSize, size38.count(kind.Kind) ? 38 : 0);
        EXPECT_EQ(kind.FetchAll, fetchAll.count(kind.Kind) > 0);
        for (int clientType = 0; clientType <= 2; ++clientType) {
            bool expected = true;
            if (kind.Kind == 14) expected = clientType != 1;
            if (kind.Kind == 27) expected = clientType != 2;
            EXPECT_EQ(kind.HasListFor(clientType), expected) << "client type " << clientType;
        }
    }
    EXPECT_FALSE(ExportKind(14).HasListFor(-1));
    EXPECT_FALSE(ExportKind(27).HasListFor(40));
}

TEST(ExportKinds, NumbersOutsideTheTableAreAnUnknownDataType) {
    for (int kind : {-1, 40, 41, 255}) {
        try {
            TTypeRequestEnum::ListName(kind);
            ADD_FAILURE() << kind;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "Unknown data type");
        }
    }
}

TEST(ExportKinds, DeclaredParametersFollowTheRunner) {
    struct Case {
        int kind;
        const char* declared;  // name:type:direction:size
    };
    const Case cases[] = {
        {0, "P_CLIENT_TYPE:6:1:0 P_DATASET:22:2:0"},
        {2, "P_DATASET:22:2:0"},
        {4, "P_PACKAGE_ID:1:1:38 P_DATASET:22:2:0"},
        {9, "P_PACKAGE_ID:1:1:0 P_DATASET:22:2:0"},
    };
    for (const Case& c : cases) {
        db::TParams params;
        DeclareKindParams(ExportKind(c.kind), params);
        std::string declared;
        for (int i = 0; i < params.Count(); ++i) {
            const db::TParam* p = params[i];
            declared += (i ? " " : "") + p->Name() + ":" + std::to_string(p->DataType()) + ":" +
                        std::to_string(p->ParamType()) + ":" + std::to_string(p->Size());
        }
        EXPECT_EQ(declared, c.declared) << c.kind;
    }
}

TEST(ExportKinds, ClassTablesWriteTheElementsOfTheRecordTablesInOrder) {
    for (const TRecordKindInfo& kind : ExportKinds()) {
        SCOPED_TRACE(kind.ListName);
        const auto& expected = kinds::Elements(kind.Kind);
        const auto fields = kind.Class().Fields();
        ASSERT_EQ(fields.size(), expected.size());
        for (size_t i = 0; i < fields.size(); ++i) {
            const TFieldSpec& field = fields[i];
            EXPECT_EQ(field.Element, expected[i].element);
            EXPECT_STREQ(FormName(field.Form), expected[i].form.c_str()) << field.Element;
            const char* column = field.Column[kind.ColumnSet];
            const std::string& source = expected[i].source;
            if (source == "-") {
                EXPECT_EQ(column, nullptr) << field.Element;
            } else if (source == "limit") {
                EXPECT_TRUE(field.Read == TColumnRead::LimitCode ||
                            field.Read == TColumnRead::CouponLimitCode);
            } else if (source[0] == '=') {
                EXPECT_EQ(field.Read, TColumnRead::Constant);
                EXPECT_EQ(std::to_string(field.Constant), source.substr(1));
            } else {
                ASSERT_NE(column, nullptr) << field.Element;
                EXPECT_EQ(column, source) << field.Element;
            }
        }
    }
}

TEST(DataClasses, FieldsStartEmptyAndAreReachedByPositionOrElement) {
    TAccount account;
    EXPECT_EQ(account.ElementName, "ACCOUNT");
    EXPECT_EQ(account.ClassName(), "TAccount");
    for (int i = 0; i < account.RecordClass().FieldCount(); ++i) EXPECT_EQ(account.Number(i), 0.0);
    account.SetInteger(account.Field("ID"), 15);
    account.SetNumber(account.Field("Balance"), 12.5);
    EXPECT_EQ(account.ClientId(), 15);
    EXPECT_EQ(account.ClientType(), 0);
    EXPECT_EQ(account.Number("Balance"), 12.5);
    EXPECT_THROW(account.Field("Name"), rtl::EListError);
    EXPECT_THROW(account.Text(0), rtl::EAssertionFailed);

    TNewClient client;
    client.SetText(client.Field("Name"), "A&B");
    EXPECT_EQ(client.Text("Name"), "A&B");
    EXPECT_THROW(client.SetNumber(client.Field("Name"), 1), rtl::EAssertionFailed);
}

TEST(DataClasses, ADebitResultWritesTheRechargeResultsElementsUnderItsOwnItemName) {
    TDDResult debit;
    TDRResult recharge;
    EXPECT_EQ(debit.ElementName, "DD_STATE");
    EXPECT_EQ(recharge.ElementName, "DR_STATE");
    EXPECT_TRUE(rtl::Is<TDRResult>(&debit));
    EXPECT_TRUE(rtl::Is<TMifareOnCard>(std::make_unique<TMifareOnClient>().get()));
    EXPECT_EQ(kinds::ItemChildren(debit), kinds::ItemChildren(recharge));
}

TEST(DataClasses, UnsetFieldsAreWrittenAsZerosEmptyElementsAndTheZeroDate) {
    TCouponsSettings settings;
    const auto children = kinds::ItemChildren(settings);
    ASSERT_EQ(children.size(), 10u);
    EXPECT_EQ(children[0], (std::pair<std::string, std::string>{"OnlClientId", ""}));
    EXPECT_EQ(children[1], (std::pair<std::string, std::string>{"CanCreateVC", "0"}));
    EXPECT_EQ(children[5], (std::pair<std::string, std::string>{"PinExpDate", "1899-12-30T00:00:00Z"}));

    TAdClientParams params;
    EXPECT_EQ(kinds::ItemChildren(params)[2],
              (std::pair<std::string, std::string>{"Ad_birth", "1899-12-30"}));
}

TEST(DataClasses, AnIntegerFieldSetOutsideItsRangeIsClampedNotUndefined) {
    TServices service;
    service.SetNumber(0, 1E12);
    service.SetNumber(3, -1E12);
    const auto children = kinds::ItemChildren(service);
    EXPECT_EQ(children[0].second, "2147483647");
    EXPECT_EQ(children[3].second, "-2147483648");
}

TEST(OrderList, TheFileItemCarriesTheDataFilesName) {
    TExportFile file;
    file.FileName = "ZuvQelExport_0000701_20240506070809123.xml";
    TXmlNode node(file.ElementName);
    file.ToXml(node);
    EXPECT_EQ(node.Name(), "File");
    EXPECT_EQ(node.Value(), "ZuvQelExport_0000701_20240506070809123.xml");
    EXPECT_EQ(node.NodeCount(), 0);
}

}  // namespace
