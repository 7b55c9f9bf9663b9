// The mappers of the record kinds and the mapper factory.
#include <array>

#include "export_service/uQelOutProcessors.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FormatSettings.h"

namespace svc {

namespace {

int32_t IntegerColumn(const db::TField* field) {
    return field->IsNull() ? 0 : field->AsInteger();
}

// The limit code of a (kind_limit, limit_type) pair, 0 for a pair without one. Coupon limits
// know only the limit types 0 and 1.
int LimitCodeOf(int kindLimit, int limitType, bool coupon) {
    static constexpr int kCodes[2][3] = {{2, 1, 3}, {5, 4, 6}};
    if (kindLimit < 0 || kindLimit > 1 || limitType < 0 || limitType > (coupon ? 1 : 2)) return 0;
    return kCodes[kindLimit][limitType];
}

}  // namespace

TKindMapper::TKindMapper(int kind, TDataSession* session, TExportProcedures* dataObjects)
    : TWebOutMapper(session, dataObjects), kind_(ExportKind(kind)) {}

TPersistentObject* TKindMapper::CreateObject(db::TDataSet& dataSet) {
    if (columnsOf_ != &dataSet) FindColumns(dataSet);
    std::unique_ptr<TExportRecord> record(kind_.Class().NewRecord());
    for (int i = 0; i < record->RecordClass().FieldCount(); ++i) ReadField(*record, i);
    return record.release();
}

void TKindMapper::FindColumns(db::TDataSet& dataSet) {
    // In field order, so that a missing column is reported as reading the row would find it.
    columnsOf_ = nullptr;
    columns_.assign(kind_.Class().Fields().size(), nullptr);
    kindLimit_ = limitType_ = nullptr;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const TFieldSpec& spec = kind_.Class().Fields()[i];
        if (spec.Read == TColumnRead::LimitCode || spec.Read == TColumnRead::CouponLimitCode) {
            kindLimit_ = dataSet.FieldByName("kind_limit");
            limitType_ = dataSet.FieldByName("limit_type");
        } else if (spec.Read != TColumnRead::Constant && spec.Column[kind_.ColumnSet]) {
            columns_[i] = dataSet.FieldByName(spec.Column[kind_.ColumnSet]);
        }
    }
    columnsOf_ = &dataSet;
}

void TKindMapper::ReadField(TExportRecord& record, int field) {
    const TFieldSpec& spec = record.RecordClass().Fields()[static_cast<size_t>(field)];
    switch (spec.Read) {
        case TColumnRead::Constant:
            record.SetInteger(field, spec.Constant);
            return;
        case TColumnRead::LimitCode:
        case TColumnRead::CouponLimitCode:
            record.SetInteger(field, LimitCode(spec.Read == TColumnRead::CouponLimitCode));
            return;
        default:
            break;
    }
    const db::TField* source = columns_[static_cast<size_t>(field)];
    if (!source) return;
    if (spec.Read == TColumnRead::ShortDate) {
        // The text of the regional settings the service runs under; null gives the zero date.
        const rtl::TDateTime value = source->IsNull() ? 0 : source->AsDateTime();
        record.SetText(field, rtl::DateToStr(value, rtl::FormatSettings()));
        return;
    }
    if (source->IsNull()) return;
    switch (spec.Read) {
        case TColumnRead::Integer:
            record.SetNumber(field, source->AsInteger());
            return;
        case TColumnRead::Currency:
            record.SetNumber(field, source->AsCurrency().ToDouble());
            return;
        default:
            break;
    }
    switch (spec.Form) {
        case TValueForm::Integer:
            record.SetInteger(field, source->AsInteger());
            break;
        case TValueForm::Amount:
        case TValueForm::Measure:
            record.SetNumber(field, source->AsFloat());
            break;
        case TValueForm::DateTime:
        case TValueForm::Date:
            record.SetNumber(field, source->AsDateTime());
            break;
        case TValueForm::Text:
        case TValueForm::Raw:
            record.SetText(field, source->AsString());
            break;
    }
}

int TKindMapper::LimitCode(bool coupon) {
    const int kindLimit = IntegerColumn(kindLimit_);
    const int limitType = IntegerColumn(limitType_);
    const int code = LimitCodeOf(kindLimit, limitType, coupon);
    // The web side knows no code for other pairs; the row still goes, with the starting value.
    if (code == 0)
        LogError(std::string(kind_.Class().ItemElement()) + ": no limit code for kind_limit " +
                 std::to_string(kindLimit) + " and limit_type " + std::to_string(limitType) +
                 ", limit_type written as 0");
    return code;
}

std::unique_ptr<TDataObjectList> TKindMapper::GetListByClientType(int clientType) {
    if (kind_.Runner == TKindRunner::PackageId || !kind_.HasListFor(clientType)) return nullptr;
    columnsOf_ = nullptr;
    rtl::Assert(DataObjects != nullptr, "No data-object module for " + std::string(kind_.ListName));
    TCursorProc& proc = DataObjects->ProcedureOf(kind_.Kind);
    if (kind_.Runner == TKindRunner::ClientType) return RunByClientType(clientType, proc);
    return RunWithoutParams(proc);
}

std::unique_ptr<TDataObjectList> TKindMapper::GetListByPackageId(const std::string& packageId) {
    if (kind_.Runner != TKindRunner::PackageId) return nullptr;
    columnsOf_ = nullptr;
    rtl::Assert(DataObjects != nullptr, "No data-object module for " + std::string(kind_.ListName));
    return RunByPackageId(packageId, DataObjects->ProcedureOf(kind_.Kind));
}

// ---------------------------------------------------------------------------------------------

namespace {

using TNewMapper = std::unique_ptr<TWebOutMapper> (*)(TDataSession*, TExportProcedures*);

template <class T>
std::unique_ptr<TWebOutMapper> NewMapper(TDataSession* session, TExportProcedures* dataObjects) {
    return std::make_unique<T>(session, dataObjects);
}

constexpr std::array<TNewMapper, ExportKindCount> kMappers = {
    &NewMapper<TNewClientQelMapper>,
    &NewMapper<TNewClientDolmMapper>,
    &NewMapper<TServiceMapper>,
    &NewMapper<TEmitentMapper>,
    &NewMapper<TPosMapper>,
    &NewMapper<TADParamsMapper>,
    &NewMapper<TPosPricesMapper>,
    &NewMapper<TRfidParamsMapper>,
    &NewMapper<TPackageConfirmMapper>,
    &NewMapper<TOnlLimitsMapper>,
    &NewMapper<TClientExportQelMapper>,
    &NewMapper<TClientExportDolmMapper>,
    &NewMapper<THolderQelMapper>,
    &NewMapper<THolderDolmMapper>,
    &NewMapper<TADClientParamsMapper>,
    &NewMapper<TAccountQelMapper>,
    &NewMapper<TCardQelMapper>,
    &NewMapper<TCardDolmMapper>,
    &NewMapper<TPurseQelMapper>,
    &NewMapper<TChangeStateRechargeMapper>,
    &NewMapper<TChangeStateDebitMapper>,
    &NewMapper<TChangeStateChangeLimitMapper>,
    &NewMapper<TTrnQelMapper>,
    &NewMapper<TTrnDolmMapper>,
    &NewMapper<TTrnIBSQelMapper>,
    &NewMapper<TTrnIBSDolmMapper>,
    &NewMapper<TMifareCardMapper>,
    &NewMapper<TMifareClientMapper>,
    &NewMapper<TStatusRequestMapper>,
    &NewMapper<TOnlCardsMapper>,
    &NewMapper<TOnlCardLimitsMapper>,
    &NewMapper<TChangeStateChOnlLimCardMapper>,
    &NewMapper<TClientTarifMapper>,
    &NewMapper<TClientTarifPricesMapper>,
    &NewMapper<TClientTarifDiscountsMapper>,
    &NewMapper<TEmitentConfigsMapper>,
    &NewMapper<TCouponLimitMapper>,
    &NewMapper<TCouponsMapper>,
    &NewMapper<TCouponsSettingsMapper>,
    &NewMapper<TCouponsReqChangeStateMapper>,
};

}  // namespace

std::unique_ptr<TWebOutMapper> TMapperFactory::CreateMapper(int kind, TDataSession* session,
                                                            TExportProcedures* dataObjects) {
    if (kind < 0 || kind >= ExportKindCount) return nullptr;
    return kMappers[static_cast<size_t>(kind)](session, dataObjects);
}

}  // namespace svc
