// The export's data module: the views the manager thread reads with its own session (the own
// issuer and branch, the database version, the packages to send again, the packages registered
// but never delivered). The queries are
// declared as data and made by the program's component factory; none carries a session of its
// own, every read sets the caller's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/uStoredProc.h"
#include "platform/rtl/Objects.h"

namespace svc {

class TdmQelOutDataModule : public rtl::TObject {
public:
    static const TQueryDecl& qrGetSelfEmitentDecl();
    static const TQueryDecl& qrVersionQelDBDecl();
    static const TQueryDecl& qrGetEmitentListRepeatedDecl();
    static const TQueryDecl& qrGetPackageListUnsentDecl();

    explicit TdmQelOutDataModule(TComponentFactory& factory);
    ~TdmQelOutDataModule() override;

    std::unique_ptr<TDataQuery> qrGetSelfEmitent;
    std::unique_ptr<TDataQuery> qrVersionQelDB;
    std::unique_ptr<TDataQuery> qrGetEmitentListRepeated;
    std::unique_ptr<TDataQuery> qrGetPackageListUnsent;
};

// The own issuer and branch: columns id_emitent and id_filial of the view's first row. Raises
// when the view has no row or either value is null: every package would carry issuer 0.
void GetSelfEmitent(TdmQelOutDataModule& module, TDataSession* session, int32_t& emitentId,
                    int32_t& filialId);

// The column VERSION of the version view's first row; empty when there is none.
void ReadDBVersionView(TdmQelOutDataModule& module, TDataSession* session, std::string& version);

// The ids (column package_id) the repeat view lists, in its order; the query is closed again in
// every case.
std::vector<std::string> ReadRepeatedPackageIds(TdmQelOutDataModule& module, TDataSession* session);

// The ids of the packages registered but never marked sent (a service stopped or killed between
// a package's registration and its delivery), oldest first.
std::vector<std::string> ReadUnsentPackageIds(TdmQelOutDataModule& module, TDataSession* session);

}  // namespace svc
