// The request package importer: one unpacked web package (an XML file in the import folder's
// Temp) turned into database work.
//
// Import reads the header from the root element's attributes, refuses another version
// (EFatalError) or another issuer, skips a package the database had imported before (its
// requests are never written twice), registers the package in a transaction of its own, then
// writes every item of the known lists through its request object in one further transaction
// that ends by marking the package imported. Any failure of that body rolls the whole body back;
// the outcome (Result) tells the caller whether the requests were written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/uDataFiles.h"
#include "import_service/uQelInRequests.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

// A package that can never be imported: its version differs from the service's, or its
// document holds no root element.
class EFatalError : public rtl::EAbort {
public:
    using rtl::EAbort::EAbort;
    const char* ClassName() const override { return "EFatalError"; }
};

inline constexpr const char* ServiceVersion = "2.9.1.0";

// The request kinds by list element name (compared exactly).
class TTypeRequestEnum {
public:
    enum TKind {
        rkRecharge = 0,
        rkDebit,
        rkChangeLimit,
        rkBlockCard,
        rkChangeHolder,
        rkChangeClientState,
        rkStatusRequest,
        rkPackageConfirm,
        rkOnlineLimitCard,
        rkCreateCoupon,
        rkCouponRequest,
    };
    // Raises "Unknown data type" for a name outside the table.
    static TKind KindOfList(const std::string& name);
};

class TPersistentObjectFactory {
public:
    // A new request object of the kind's class, owned by the caller.
    static std::unique_ptr<TPersistentObject> CreateRequest(TTypeRequestEnum::TKind kind,
                                                            TdmMainDataModule& dm);
};

class TEmitentPackageImport : public TFileDataFactory {
public:
    // folder: the package's Temp folder with its trailing delimiter; fileName: the XML file.
    // The session and the data module are borrowed.
    TEmitentPackageImport(int32_t emitentId, int32_t filialId, const std::string& folder,
                          const std::string& fileName, TImportSession* session, TdmMainDataModule& dm);

    enum class TResult {
        NotRun,           // Import raised before the body, or has not run
        Imported,         // every request written, the package marked imported
        RolledBack,       // the body failed and was rolled back; ErrorMessage says why
        AlreadyImported,  // the database had imported the package before: nothing written
    };

    void Import() override;
    void ReadPackageHeader(const TXmlNode& root);
    void SetPackageImported();

    TResult Result() const { return result_; }
    const std::string& ErrorMessage() const { return errorMessage_; }
    const std::string& PackageId() const { return packageId_; }
    rtl::TDateTime DateTimeCreate() const { return dateTimeCreate_; }
    const std::string& Version() const { return version_; }

private:
    bool AlreadyImported();
    void RegisterPackage();
    void ImportBody(const TXmlNode& root);
    void ImportList(const TXmlNode& list, TCouponFlow& coupons);

    int32_t emitentId_;
    int32_t filialId_;
    TImportSession* session_;
    TdmMainDataModule& dm_;
    std::string packageId_;
    rtl::TDateTime dateTimeCreate_ = 0;
    std::string version_;
    TResult result_ = TResult::NotRun;
    std::string errorMessage_;
};

}  // namespace svc
