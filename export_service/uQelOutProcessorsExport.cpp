// The package exporter and the repeated-package exporter.
#include "export_service/uQelOutProcessorsExport.h"

#include <cstdio>
#include <mutex>

#include "common/EnDeCrypt.h"
#include "common/uZuvArchiveUtils.h"
#include "export_service/uListWriter.h"
#include "export_service/uPackageCalls.h"
#include "platform/os/Guid.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"

namespace svc {

namespace {

constexpr const char* kDashes = "-----------------------";

// Creation times never repeat within the process: two packages made in the same millisecond
// would otherwise get the same data-file name.
rtl::TDateTime UniqueCreationTime() {
    static std::mutex lock;
    static int64_t last = 0;
    std::lock_guard<std::mutex> hold(lock);
    int64_t ms = static_cast<int64_t>(rtl::Now() * 86400000.0 + 0.5);
    if (ms <= last) ms = last + 1;
    last = ms;
    return static_cast<double>(ms) / 86400000.0;
}

std::string ErrorCode() {
    return std::to_string(rtl::GetLastError());
}

}  // namespace

std::vector<int> NewPackageKinds(int sourceData) {
    enum TSource { all, qel, dolm };
    static const std::pair<int, TSource> order[] = {
        {8, all},  {28, all}, {0, qel},   {1, dolm},  {2, all},   {3, all},   {35, all},  {4, all},
        {32, all}, {33, all}, {34, all},  {5, all},   {6, all},   {7, all},   {10, qel},  {12, qel},
        {15, qel}, {16, qel}, {18, qel},  {26, qel},  {27, qel},  {22, qel},  {24, qel},  {19, qel},
        {20, qel}, {21, qel}, {31, qel},  {9, qel},   {29, qel},  {30, qel},  {39, qel},  {38, qel},
        {36, qel}, {37, qel}, {11, dolm}, {13, dolm}, {17, dolm}, {14, dolm}, {23, dolm}, {25, dolm}};
    const bool withQel = sourceData == 0 || sourceData == 1;
    const bool withDolm = sourceData == 0 || sourceData == 2;
    std::vector<int> kinds;
    for (const auto& [kind, source] : order)
        if (source == all || (source == qel && withQel) || (source == dolm && withDolm))
            kinds.push_back(kind);
    return kinds;
}

std::vector<int> RepeatedPackageKinds(int sourceData) {
    std::vector<int> kinds = {6, 4, 32, 33, 34};
    if (sourceData == 0 || sourceData == 1)
        kinds.insert(kinds.end(), {10, 22, 24, 19, 20, 21, 31, 9, 29, 30, 39, 38, 36, 37});
    if (sourceData == 0 || sourceData == 2) kinds.insert(kinds.end(), {11, 23, 25});
    return kinds;
}

// ---------------------------------------------------------------------------------------------
// TEmitentPackageExport

TEmitentPackageExport::TEmitentPackageExport(TDataSession* session, int emitentId, int filialId,
                                             const TExportSettings& settings,
                                             std::shared_ptr<TSMTPSender> sender,
                                             TdmQelOutDataObject* dataObjects)
    : TEmitentPackageExport(NewPackageId(), session, emitentId, filialId, settings, std::move(sender),
                            dataObjects) {}

TEmitentPackageExport::TEmitentPackageExport(std::string packageId, TDataSession* session, int emitentId,
                                             int filialId, const TExportSettings& settings,
                                             std::shared_ptr<TSMTPSender> sender,
                                             TdmQelOutDataObject* dataObjects)
    : TFileDataFactory(settings.WorkFolder, std::string()),
      packageId_(std::move(packageId)),
      settings_(settings),
      sender_(std::move(sender)),
      dataObjects_(dataObjects),
      emitentId_(emitentId),
      filialId_(filialId),
      outboxFolder_(settings.WorkFolder + "Outbox"),
      creationTime_(UniqueCreationTime()) {
    Session = session;
    if (!rtl::DirectoryExists(outboxFolder_)) rtl::ForceDirectories(outboxFolder_);
    FileName = GetFileName();
    data_ = std::make_unique<TXMLGenerator>(
        TXMLGenerator::CreateData(packageId_, emitentId_, filialId_, creationTime_));
    orderList_ = std::make_unique<TXMLGenerator>(
        TXMLGenerator::CreateOrderList(packageId_, emitentId_, filialId_, creationTime_));
}

TEmitentPackageExport::~TEmitentPackageExport() = default;

std::string TEmitentPackageExport::GetFileName() const {
    char head[64];
    std::snprintf(head, sizeof head, "ZuvQelExport_%.5d%.2d_", emitentId_, filialId_);
    return head + rtl::FormatDateTime("yyyymmddhhnnsszzz", creationTime_) + ".xml";
}

std::string TEmitentPackageExport::NewPackageId() {
    os::TGUID guid;
    return os::CoCreateGuid(guid) == os::S_OK ? os::GUIDToString(guid) : std::string();
}

bool TEmitentPackageExport::RegisterPackage(TDataSession* session) {
    return svc::RegisterPackage(*dataObjects_->ospAddEntriesToPackage, session, packageId_, creationTime_,
                                OnLog);
}

bool TEmitentPackageExport::AddSendDate(TDataSession* session) {
    return svc::AddSendDate(*dataObjects_->ospAddSendDateToPackage, session, packageId_, OnLog);
}

void TEmitentPackageExport::WriteOrderList() {
    TDataObjectList files;
    auto* file = new TExportFile();
    file->FileName = FileName;
    files.Add(file);
    orderList_->WriteList("NewData", files);
    orderList_->SaveToFile(Path + kOrderListName);
}

std::unique_ptr<TDataObjectList> TEmitentPackageExport::ReadKind(TDataSession* session, int kind) {
    if (!session->Connected()) throw rtl::Exception("connect err");
    Log(TTypeRequestEnum::ListName(kind));
    std::unique_ptr<TWebOutMapper> mapper = TMapperFactory::CreateMapper(kind, session, dataObjects_);
    if (!mapper) return nullptr;
    mapper->OnLog = OnLog;
    std::unique_ptr<TDataObjectList> list = svc::ExportKind(kind).Runner == TKindRunner::PackageId
                                                ? mapper->GetListByPackageId(packageId_)
                                                : mapper->GetListByClientType(settings_.ClientType);
    if (!list) {
        // A kind the database failed is left out; a lost connection ends the package instead,
        // since every kind after it would be missing too.
        if (!session->Connected()) throw rtl::Exception("connect err");
    }
    return list;
}

int TEmitentPackageExport::ExportKind(TXMLGenerator& generator, TDataSession* session, int kind) {
    std::unique_ptr<TDataObjectList> list = ReadKind(session, kind);
    if (!list) return 0;
    generator.WriteList(TTypeRequestEnum::ListName(kind), *list);
    return list->Count();
}

void TEmitentPackageExport::ExportKinds(const std::vector<int>& kinds) {
    // A kind is read from the database while the one before is written into the document, and
    // the document into its file.
    data_->BeginFile(GetFullFileName());
    TListWriter writer(*data_);
    for (int kind : kinds) {
        std::unique_ptr<TDataObjectList> list = ReadKind(Session, kind);
        if (list && list->Count() > 0) writer.Write(TTypeRequestEnum::ListName(kind), std::move(list));
    }
    writer.Finish();
}

std::string TEmitentPackageExport::Pack(const std::string& folder) {
    std::string archive;
    try {
        ZipFiles({GetFullFileName(), Path + kOrderListName}, folder, kArchivePassword, archive);
    } catch (const std::exception& e) {
        LogError(std::string("Cannot pack the package: ") + e.what());
        return std::string();
    }
    if (archive.empty()) LogError("Cannot pack the package " + FileName);
    return archive;
}

std::string TEmitentPackageExport::Encrypt(const std::string& archive, const std::string& target) {
    Log("Crypting exchange data files");
    std::string error;
    bool done = false;
    try {
        done = EncryptFileWithKey(archive, target, settings_.ExportPublicKey, kExportContainer, error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!done) {
        LogError("Cannot crypt data: " + error);
        return std::string();
    }
    Log("Exchange data files crypted");
    if (!rtl::DeleteFile(archive)) LogError("Cannot delete archive file. Error #" + ErrorCode());
    return target;
}

void TEmitentPackageExport::DeleteOrderList() {
    rtl::DeleteFile(Path + kOrderListName);
}

bool TEmitentPackageExport::SendToSharedFolder() {
    if (!rtl::FileExists(GetFullFileName()))
        throw rtl::Exception("File " + GetFullFileName() + " not found ");
    if (!rtl::FileExists(Path + kOrderListName))
        throw rtl::Exception("File " + Path + kOrderListName + " not found ");
    std::string file = Pack(Path);
    if (file.empty()) return false;
    if (settings_.EnableExportEncrypt) {
        file = Encrypt(file, rtl::ChangeFileExt(file, ".dat"));
        if (file.empty()) return false;
    }
    const std::string shared = rtl::IncludeTrailingPathDelimiter(settings_.SharedFolder);
    const std::string name = rtl::ExtractFileName(file);
    std::string destination = shared + name;
    if (rtl::FileExists(destination)) MakeUniqueFileName(shared + name, destination);
    const bool copied = rtl::CopyFileNoOverwrite(file, destination);
    if (copied) {
        Log("Pack and send to: " + shared + name + " PackageID = " + packageId_);
        if (settings_.SaveToBackup) {
            MoveToBack(file, destination);
        } else if (rtl::DeleteFile(file)) {
            Log("File " + name + " deleted from work directory");
        } else {
            LogError("Deleting" + file + " error #" + ErrorCode());
        }
    } else {
        LogError("Moving file error #" + ErrorCode());
    }
    DeleteOrderList();
    return copied;
}

bool TEmitentPackageExport::SendByMail() {
    if (!rtl::FileExists(GetFullFileName()))
        throw rtl::Exception("File " + GetFullFileName() + " not found ");
    std::string file = Pack(outboxFolder_);
    if (file.empty()) return false;
    bool handed = false;
    if (settings_.EnableExportEncrypt) {
        std::string target;
        MakeUniqueFileName(rtl::ChangeFileExt(file, ".dat"), target);
        file = Encrypt(file, target);
    }
    if (!file.empty()) {
        try {
            sender_->SendPackage(file, settings_.Recipient, FileName, packageId_, emitentId_, filialId_);
            Log("SendPackage mail " + file);
            handed = true;
        } catch (const std::exception& e) {
            LogError(e.what());
        }
    }
    DeleteOrderList();
    return handed;
}

bool TEmitentPackageExport::MoveToBack(const std::string& fileName, const std::string& copy) {
    const std::string back = rtl::ExtractFilePath(fileName) + "Back";
    if (!rtl::DirectoryExists(back)) rtl::ForceDirectories(back);
    const std::string name = rtl::ExtractFileName(copy);
    if (rtl::MoveFileReplace(fileName, back + "/" + name)) {
        LogMessage("File " + name + " moved to " + back, false);
        return true;
    }
    LogError("Moving " + fileName + " file error #" + ErrorCode());
    return false;
}

void TEmitentPackageExport::Deliver() {
    // A data file deleted once the package is out needs no flush to the disk: a crash before
    // the delivery leaves the package unsent, and it is made again from the database.
    data_->SaveToFile(GetFullFileName(), DeleteOnDestroy);
    if (settings_.MailRoad) {
        // The letter's sent callback brings the send date (TSMTPSender::TakeSentPackages).
        if (!SendByMail()) LogError("Package " + packageId_ + " not sent");
    } else if (SendToSharedFolder()) {
        AddSendDate(Session);
    } else {
        LogError("Package " + packageId_ + " not delivered");
    }
}

void TEmitentPackageExport::Export() {
    RegisterPackage(Session);
    Log("New data PackageID =  " + packageId_ + " PackageName = " + FileName);
    WriteOrderList();
    ExportKinds(NewPackageKinds(settings_.SourceData));
    Deliver();
    Log(kDashes);
}

// ---------------------------------------------------------------------------------------------
// TRepeatedPackageExport

TRepeatedPackageExport::TRepeatedPackageExport(const std::string& packageId, TDataSession* session,
                                               int emitentId, int filialId, const TExportSettings& settings,
                                               std::shared_ptr<TSMTPSender> sender,
                                               TdmQelOutDataObject* dataObjects)
    : TEmitentPackageExport(packageId, session, emitentId, filialId, settings, std::move(sender),
                            dataObjects) {}

void TRepeatedPackageExport::Export() {
    WriteOrderList();
    Log("Repeated Export PackageID =  " + PackageId() + " PackageName = " + FileName);
    ExportKinds(RepeatedPackageKinds(Settings().SourceData));
    Deliver();
}

TRepeatedList BuildRepeatedList(TDataSession* session, TdmQelOutDataModule& module, int emitentId,
                                int filialId, const TExportSettings& settings,
                                std::shared_ptr<TSMTPSender> sender, TdmQelOutDataObject* dataObjects,
                                const TLogEvent& onLog) {
    TRepeatedList list;
    try {
        for (const std::string& id : ReadRepeatedPackageIds(module, session)) {
            list.push_back(std::make_unique<TRepeatedPackageExport>(id, session, emitentId, filialId,
                                                                    settings, sender, dataObjects));
            list.back()->DeleteOnDestroy = true;
        }
    } catch (const std::exception& e) {
        CallLog(onLog, std::string("Error: ") + e.what(), true);
        list.clear();
    }
    return list;
}

}  // namespace svc
