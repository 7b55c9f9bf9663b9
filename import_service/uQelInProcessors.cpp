// The request package importer: header checks, package registration, the body transaction.
#include "import_service/uQelInProcessors.h"

#include "common/uDataAccess.h"
#include "import_service/uXmlPackageReader.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

const char* const kSeparator = "-----------------------";

// The database's state of a web package that has been imported.
constexpr int kStateImported = 1;

struct TListKind {
    const char* ListName;
    TTypeRequestEnum::TKind Kind;
};

constexpr TListKind kLists[] = {
    {"RECHARGE_LIST", TTypeRequestEnum::rkRecharge},
    {"DEBIT_LIST", TTypeRequestEnum::rkDebit},
    {"CHANGE_LIMIT_LIST", TTypeRequestEnum::rkChangeLimit},
    {"BLOCK_CARD_LIST", TTypeRequestEnum::rkBlockCard},
    {"CHANGE_HOLDER_LIST", TTypeRequestEnum::rkChangeHolder},
    {"CHANGE_CLIENT_STATE_LIST", TTypeRequestEnum::rkChangeClientState},
    {"STATUS_REQUEST_LIST", TTypeRequestEnum::rkStatusRequest},
    {"PACKAGE_CONFIRM_LIST", TTypeRequestEnum::rkPackageConfirm},
    {"CHANGE_CARD_ONLINE_LIMIT_LIST", TTypeRequestEnum::rkOnlineLimitCard},
    {"CREATE_COUPON_LIST", TTypeRequestEnum::rkCreateCoupon},
    {"COUPON_REQUEST_LIST", TTypeRequestEnum::rkCouponRequest},
};

std::string AttributeText(const TXmlNode& root, const char* name) {
    const std::string* value = root.AttributeByName(name);
    return value ? rtl::Utf8ToAnsi(*value) : std::string();
}

int32_t AttributeInt(const TXmlNode& root, const char* name) {
    int32_t value = 0;
    const std::string* text = root.AttributeByName(name);
    return text && TryXmlToInt(*text, value) ? value : 0;
}

rtl::TDateTime AttributeDateTime(const TXmlNode& root, const char* name) {
    rtl::TDateTime value = 0;
    const std::string* text = root.AttributeByName(name);
    return text && TryXmlToDateTime(*text, value) ? value : 0;
}

}  // namespace

TTypeRequestEnum::TKind TTypeRequestEnum::KindOfList(const std::string& name) {
    for (const TListKind& list : kLists)
        if (name == list.ListName) return list.Kind;
    throw rtl::Exception("Unknown data type");
}

std::unique_ptr<TPersistentObject> TPersistentObjectFactory::CreateRequest(TTypeRequestEnum::TKind kind,
                                                                           TdmMainDataModule& dm) {
    switch (kind) {
        case TTypeRequestEnum::rkRecharge:
            return std::make_unique<TRechargeRequest>(dm);
        case TTypeRequestEnum::rkDebit:
            return std::make_unique<TDebitRequest>(dm);
        case TTypeRequestEnum::rkChangeLimit:
            return std::make_unique<TChangeLimitRequest>(dm);
        case TTypeRequestEnum::rkBlockCard:
            return std::make_unique<TBlockCardRequest>(dm);
        case TTypeRequestEnum::rkChangeHolder:
            return std::make_unique<TChangeHolderRequest>(dm);
        case TTypeRequestEnum::rkChangeClientState:
            return std::make_unique<TChangeClientState>(dm);
        case TTypeRequestEnum::rkStatusRequest:
            return std::make_unique<TStatusRequest>(dm);
        case TTypeRequestEnum::rkPackageConfirm:
            return std::make_unique<TPackageConfirm>(dm);
        case TTypeRequestEnum::rkOnlineLimitCard:
            return std::make_unique<TOnlineLimitCardRequest>(dm);
        case TTypeRequestEnum::rkCreateCoupon:
            return std::make_unique<TCreateCouponRequest>(dm);
        case TTypeRequestEnum::rkCouponRequest:
            return std::make_unique<TCouponRequest>(dm);
    }
    throw rtl::Exception("Unknown data type");
}

// ---------------------------------------------------------------------------------------------
// TEmitentPackageImport

TEmitentPackageImport::TEmitentPackageImport(int32_t emitentId, int32_t filialId, const std::string& folder,
                                             const std::string& fileName, TImportSession* session,
                                             TdmMainDataModule& dm)
    : TFileDataFactory(folder, fileName),
      emitentId_(emitentId),
      filialId_(filialId),
      session_(session),
      dm_(dm) {
    Session = session;
}

void TEmitentPackageImport::Import() {
    result_ = TResult::NotRun;
    errorMessage_.clear();
    const std::string fullName = GetFullFileName();
    if (!rtl::FileExists(fullName)) throw rtl::Exception("File " + fullName + " not found ");
    if (!session_ || !session_->Connected()) throw rtl::Exception("Can not connect to database");
    const std::unique_ptr<TXmlNode> root = ReadXmlFile(fullName);
    if (!root) {
        // Nothing can ever be read from it: a failure, never a package taken as processed.
        const std::string message = "The package document " + fullName + " has no root element";
        LogError(message);
        throw EFatalError(message);
    }
    ReadPackageHeader(*root);
    if (result_ == TResult::AlreadyImported) return;
    ImportBody(*root);
    LogMessage("RequestsPackage end", true);
}

void TEmitentPackageImport::ReadPackageHeader(const TXmlNode& root) {
    packageId_ = AttributeText(root, "PackageId");
    Log("Process PackageId = " + packageId_);
    const int32_t emitent = AttributeInt(root, "Emitent");
    const int32_t filial = AttributeInt(root, "Filial");
    dateTimeCreate_ = AttributeDateTime(root, "DateTimeCreate");
    version_ = AttributeText(root, "Version");
    if (version_ != ServiceVersion)
        throw EFatalError(
            std::string("Version of the package and services are not the same. Service version = ") +
            ServiceVersion + " Package version = " + version_);
    if (emitent != emitentId_ || filial != filialId_)
        throw rtl::Exception("Package to other issuers EmitentPetrolId = " + rtl::IntToStr(emitent) +
                             " FilialPetrolId = " + rtl::IntToStr(filial));
    // A package delivered again, or one whose service stopped between the body's commit and the
    // move to Back, would otherwise write its requests a second time.
    if (AlreadyImported()) {
        result_ = TResult::AlreadyImported;
        Log("Package " + packageId_ + " is already imported; its requests are not written again");
        return;
    }
    RegisterPackage();
}

// Asked before the registration: a database error here leaves Import, as the package's fate
// cannot be decided without it.
// A database without the state procedure (one of an older release) imports as before, with a
// journal line saying the check is missing.
bool TEmitentPackageImport::AlreadyImported() {
    TProcCall call(*dm_.ospGetPackageState, session_);
    try {
        call.Text("P_PACKAGE_ID", packageId_).Exec();
    } catch (const std::exception& e) {
        if (!svc::IsMissingDatabaseObject(e)) throw;
        Log(std::string("Package state cannot be checked, the package is imported without the check: ") +
            e.what());
        return false;
    }
    const db::TParam& state = call.Out("P_STATE");
    return !state.IsNull() && state.AsInteger() == kStateImported;
}

// A package that cannot be registered (one registered before, say) is still imported, as long
// as the connection holds.
void TEmitentPackageImport::RegisterPackage() {
    try {
        session_->StartTransaction();
        TProcCall(*dm_.ospAddNewPackage, session_)
            .Text("P_PACKAGE_ID", packageId_)
            .DateTime("P_DATETIME_CREATE", dateTimeCreate_)
            .Exec();
        session_->Commit();
    } catch (const std::exception& e) {
        LogError("Packageid = " + packageId_);
        LogError(e.what());
        RollbackTransaction(session_, e);
    }
}

void TEmitentPackageImport::SetPackageImported() {
    TProcCall(*dm_.ospSetStatusPackageImported, session_).Text("P_PACKAGE_ID", packageId_).Exec();
}

void TEmitentPackageImport::ImportList(const TXmlNode& list, TCouponFlow& coupons) {
    Log(rtl::Utf8ToAnsi(list.Name()));
    const std::unique_ptr<TPersistentObject> request =
        TPersistentObjectFactory::CreateRequest(TTypeRequestEnum::KindOfList(list.Name()), dm_);
    LogMessage("CodeName = " + request->ElementName, false);
    auto* coupon = dynamic_cast<TCouponRequestMain*>(request.get());
    for (int i = 0; i < list.NodeCount(); ++i) {
        request->FromXml(list.Nodes(i));
        request->SaveToDB(session_);
        if (coupon) coupons.Run(*coupon, session_);
    }
    LogMessage(kSeparator, false);
}

// All of the body or nothing of it: a failure anywhere rolls every request of the package back.
void TEmitentPackageImport::ImportBody(const TXmlNode& root) {
    try {
        session_->StartTransaction();
        TCouponFlow coupons;
        for (int i = 0; i < root.NodeCount(); ++i) ImportList(root.Nodes(i), coupons);
        SetPackageImported();
        session_->Commit();
        result_ = TResult::Imported;
    } catch (const std::exception& e) {
        result_ = TResult::RolledBack;
        errorMessage_ = e.what();
        LogError(e.what());
        LogError("Package " + packageId_ + " rollback");
        RollbackTransaction(session_, e);
    }
}

}  // namespace svc
