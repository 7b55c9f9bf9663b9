// The package exporter: one run's package from registration to delivery, and its subclass that
// rebuilds a package the database lists as to be sent again.
//
// Road of a package: register a new id (a transaction of its own) -> the order list naming the
// data file -> every record kind through its mapper into the data file -> zip both with the
// archive password -> optionally encrypt the archive to .dat -> deliver by mail (a gateway thread
// of the mail sender; the archive waits in "Outbox") or by copy into the shared folder (then the
// file moves to "Back" or is deleted) -> the send date.
//
// The send date is stored only for a package that was delivered: after the copy into the shared
// folder, or, on the mail road, once the letter has been sent (the manager thread stores it from
// the ids the mail sender collects). A package whose archive, encryption, copy or letter failed
// stays unsent, so the database can have it sent again; the journal says why. A connection lost
// while the record kinds are read ends the export before anything is delivered.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataFiles.h"
#include "export_service/uQelOutProcessors.h"
#include "export_service/uSMTPSender.h"
#include "export_service/udmQelOutDataModule.h"
#include "export_service/udmQelOutDataObjectModule.h"
#include "platform/rtl/Types.h"

namespace svc {

inline constexpr const char* kArchivePassword = "KEB_LO_SUM";
inline constexpr const char* kExportContainer = "ZUV_QEL_EXPORT";
inline constexpr const char* kOrderListName = "XmlOrderList.xml";

// What an export run takes from the exchange settings.
struct TExportSettings {
    std::string WorkFolder;  // FolderExport, with a trailing delimiter
    bool MailRoad = false;   // TypeChange = 1
    std::string SharedFolder;
    std::string Recipient;  // SMTPGet
    int SourceData = 0;     // 0 all, 1 Qel, 2 Dolm
    int ClientType = 0;
    bool SaveToBackup = false;
    bool EnableExportEncrypt = false;
    std::string ExportPublicKey;
};

class TEmitentPackageExport : public TFileDataFactory {
public:
    TEmitentPackageExport(TDataSession* session, int emitentId, int filialId, const TExportSettings& settings,
                          std::shared_ptr<TSMTPSender> sender, TdmQelOutDataObject* dataObjects);
    ~TEmitentPackageExport() override;

    // One package; an error ends it there and is raised to the caller.
    void Export() override;

    const std::string& PackageId() const { return packageId_; }
    rtl::TDateTime CreationTime() const { return creationTime_; }
    const std::string& OutboxFolder() const { return outboxFolder_; }
    const TExportSettings& Settings() const { return settings_; }

    // "ZuvQelExport_" + issuer (5 digits) + branch (2 digits) + "_" + the creation time as
    // "yyyymmddhhnnsszzz" + ".xml".
    virtual std::string GetFileName() const;
    // A new GUID in its 38-character form; empty when none can be made.
    static std::string NewPackageId();

    // One record kind into the data document; the number of its records.
    int ExportKind(TXMLGenerator& generator, TDataSession* session, int kind);
    // The records of one kind; nullptr for a kind the database failed. A lost connection raises.
    std::unique_ptr<TDataObjectList> ReadKind(TDataSession* session, int kind);

    bool RegisterPackage(TDataSession* session);
    bool AddSendDate(TDataSession* session);
    // The delivery roads: true when the package left (was copied, or handed to a letter).
    bool SendToSharedFolder();
    bool SendByMail();
    // Moves the file into the folder "Back" beside it under the file name of copy.
    bool MoveToBack(const std::string& fileName, const std::string& copy);

protected:
    // A package under a given id (a repeated one).
    TEmitentPackageExport(std::string packageId, TDataSession* session, int emitentId, int filialId,
                          const TExportSettings& settings, std::shared_ptr<TSMTPSender> sender,
                          TdmQelOutDataObject* dataObjects);

    void WriteOrderList();
    // The kinds in the given order, by the runner their kind table names.
    void ExportKinds(const std::vector<int>& kinds);
    // Saves the data file, delivers it and stores the send date of a copied package.
    void Deliver();

private:
    // The archive of the data file and the order list in folder; "" (journalled) when none.
    std::string Pack(const std::string& folder);
    // The archive encrypted to target; "" (journalled) when that fails. The archive is deleted
    // once its encrypted copy exists.
    std::string Encrypt(const std::string& archive, const std::string& target);
    void DeleteOrderList();

    std::string packageId_;
    TExportSettings settings_;
    std::shared_ptr<TSMTPSender> sender_;
    TdmQelOutDataObject* dataObjects_;
    int emitentId_;
    int filialId_;
    std::string outboxFolder_;
    rtl::TDateTime creationTime_;
    std::unique_ptr<TXMLGenerator> data_;
    std::unique_ptr<TXMLGenerator> orderList_;
};

class TRepeatedPackageExport : public TEmitentPackageExport {
public:
    TRepeatedPackageExport(const std::string& packageId, TDataSession* session, int emitentId, int filialId,
                           const TExportSettings& settings, std::shared_ptr<TSMTPSender> sender,
                           TdmQelOutDataObject* dataObjects);

    // Only the kinds fetched by package id; no registration.
    void Export() override;
};

using TRepeatedList = std::vector<std::unique_ptr<TRepeatedPackageExport>>;

// An exporter for each id the repeat view lists; empty when it lists none. An error while reading
// the view or making the exporters is journalled and gives an empty list.
TRepeatedList BuildRepeatedList(TDataSession* session, TdmQelOutDataModule& module, int emitentId,
                                int filialId, const TExportSettings& settings,
                                std::shared_ptr<TSMTPSender> sender, TdmQelOutDataObject* dataObjects,
                                const TLogEvent& onLog);

// The kinds of a new package and of a repeated one, in their order, for a source-data selector.
std::vector<int> NewPackageKinds(int sourceData);
std::vector<int> RepeatedPackageKinds(int sourceData);

}  // namespace svc
