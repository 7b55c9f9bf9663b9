// The export's data module and its view reads.
#include "export_service/udmQelOutDataModule.h"

#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

namespace {

// Opens the query afresh on the session; closes it again when the read is over.
class TOpenQuery {
public:
    TOpenQuery(TDataQuery& query, TDataSession* session) : query_(query) {
        if (query_.Active()) query_.Close();
        query_.SetSession(session);
        data_ = &query_.Open();
    }
    ~TOpenQuery() {
        try {
            query_.Close();
        } catch (...) {
        }
    }
    TOpenQuery(const TOpenQuery&) = delete;
    TOpenQuery& operator=(const TOpenQuery&) = delete;
    db::TDataSet& operator*() const { return *data_; }
    db::TDataSet* operator->() const { return data_; }

private:
    TDataQuery& query_;
    db::TDataSet* data_ = nullptr;
};

}  // namespace

const TQueryDecl& TdmQelOutDataModule::qrGetSelfEmitentDecl() {
    static const TQueryDecl decl{"qrGetSelfEmitent", "select * from v_zuv_emitent_params t"};
    return decl;
}

const TQueryDecl& TdmQelOutDataModule::qrVersionQelDBDecl() {
    static const TQueryDecl decl{"qrVersionQelDB",
                                 "select t.DESCRIPTION, t.VERSION from V_ZUV_QEL_VERSION_DB t"};
    return decl;
}

const TQueryDecl& TdmQelOutDataModule::qrGetEmitentListRepeatedDecl() {
    static const TQueryDecl decl{"qrGetEmitentListRepeated", "select * from V_ZUV_PACKAGE_LIST_REPEATED t"};
    return decl;
}

const TQueryDecl& TdmQelOutDataModule::qrGetPackageListUnsentDecl() {
    static const TQueryDecl decl{"qrGetPackageListUnsent", "select * from V_ZUV_PACKAGE_LIST_UNSENT t"};
    return decl;
}

TdmQelOutDataModule::TdmQelOutDataModule(TComponentFactory& factory)
    : qrGetSelfEmitent(factory.CreateQuery(qrGetSelfEmitentDecl())),
      qrVersionQelDB(factory.CreateQuery(qrVersionQelDBDecl())),
      qrGetEmitentListRepeated(factory.CreateQuery(qrGetEmitentListRepeatedDecl())),
      qrGetPackageListUnsent(factory.CreateQuery(qrGetPackageListUnsentDecl())) {}

TdmQelOutDataModule::~TdmQelOutDataModule() = default;

void GetSelfEmitent(TdmQelOutDataModule& module, TDataSession* session, int32_t& emitentId,
                    int32_t& filialId) {
    TOpenQuery data(*module.qrGetSelfEmitent, session);
    if (data->IsEmpty())
        throw rtl::Exception("The view v_zuv_emitent_params has no row: the own issuer is unknown");
    db::TField* emitent = data->FieldByName("id_emitent");
    db::TField* filial = data->FieldByName("id_filial");
    if (emitent->IsNull() || filial->IsNull())
        throw rtl::Exception("The view v_zuv_emitent_params gives no issuer or no branch");
    emitentId = emitent->AsInteger();
    filialId = filial->AsInteger();
}

void ReadDBVersionView(TdmQelOutDataModule& module, TDataSession* session, std::string& version) {
    TOpenQuery data(*module.qrVersionQelDB, session);
    version = data->IsEmpty() ? std::string() : data->FieldByName("VERSION")->AsString();
}

namespace {

std::vector<std::string> ReadPackageIds(TDataQuery& query, TDataSession* session) {
    TOpenQuery data(query, session);
    std::vector<std::string> ids;
    for (data->First(); !data->Eof(); data->Next())
        ids.push_back(data->FieldByName("package_id")->AsString());
    return ids;
}

}  // namespace

std::vector<std::string> ReadRepeatedPackageIds(TdmQelOutDataModule& module, TDataSession* session) {
    return ReadPackageIds(*module.qrGetEmitentListRepeated, session);
}

std::vector<std::string> ReadUnsentPackageIds(TdmQelOutDataModule& module, TDataSession* session) {
    return ReadPackageIds(*module.qrGetPackageListUnsent, session);
}

}  // namespace svc
