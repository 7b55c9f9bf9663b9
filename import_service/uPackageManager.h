// The package manager: turns the package files lying in the import folder into imported
// packages, oldest first by the creation time written in their names.
//
// Package file name (fixed 1-based positions):
//   1-13   "ZuvWebExport_"
//   14-18  issuer id, 5 decimal digits
//   19-20  branch id, 2 decimal digits
//   21     separator ("_")
//   22-38  creation time yyyymmddhhnnsszzz
//   39-    ".zip", or ".dat" when the import is encrypted
// The archive holds the XML document named with the first 38 characters and ".xml".
//
// Folders under the import folder: "Temp" (the work folder the archive is unpacked into, emptied
// at start and after every package), "Back" (imported packages) and "Error" (packages that can
// never be imported).
//
// What becomes of one package file:
//   not completely written (locked, or size or time changed)  stays; looked at again later
//   decryption or unpack fails, file unchanged since taken    Error, the queue goes on
//   decryption or unpack fails, file changed since taken      stays (still being written)
//   name check fails (issuer, branch, time)                   Error, the queue goes on
//   import refuses it (version, XML missing or unreadable,
//     another issuer in the header, body rolled back)         Error, the queue goes on
//   database unreachable or connection lost                   stays queued; the pass ends
//   imported                                                  Back
// Every move to Error writes an important "Error: " line that says why.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/uLogEvent.h"
#include "import_service/udmMainDataModule.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Types.h"

namespace svc {

inline constexpr const char* kPackagePrefix = "ZuvWebExport_";
inline constexpr const char* kArchivePassword = "KAR_TIM_LOW";

// A package failed through the database (unreachable, connection lost): it stays queued and the
// pass ends.
RTL_EXCEPTION_CLASS(EPackageDeferred, rtl::Exception);

class TPackage {
public:
    TPackage(const std::string& importFolder, const std::string& fileName, int32_t emitentId,
             int32_t filialId, TImportSession* session, TdmMainDataModule* dm);

    const std::string& FileName() const { return fileName_; }
    const std::string& XmlFileName() const { return xmlFileName_; }
    rtl::TDateTime CreationTime() const { return creationTime_; }
    TLogEvent OnLog;
    // How the file looked when the scan took it.
    rtl::TFileLook TakenLook;

    // Reads issuer, branch and creation time from the name; raises EConvertError for a name
    // that does not read and "Packet from other issuers" for another issuer or branch.
    void CheckName();
    // 17 digits yyyymmddhhnnsszzz; EConvertError "Error date format" for another length.
    static rtl::TDateTime DecodePackageDate(const std::string& text);

    enum class TOutcome { Imported, Failed, StillWritten };
    // Unpacks, imports and moves the file. Failed: the package can never be imported (moved to
    // Error). Raises EPackageDeferred when the database failed it (the file stays).
    TOutcome Process();
    bool Unpack();
    bool MoveToBack();
    // Writes the reason as an error line, then moves the file to Error.
    bool MoveToError(const std::string& reason);

    // True when size or time differ from the taken look (or the file is gone).
    bool ChangedSinceTaken() const;

private:
    void LogMessage(const std::string& text, bool important) const { CallLog(OnLog, text, important); }
    void Log(const std::string& text) const { LogMessage(text, true); }
    void LogError(const std::string& text) const { LogMessage("Error: " + text, true); }
    bool MoveTo(const std::string& subFolder, const std::string& successText);
    // True when the failure came from the database being out of reach.
    bool DatabaseLost(const std::exception& error) const;

    std::string importFolder_;
    std::string tempFolder_;
    std::string fileName_;
    std::string xmlFileName_;
    rtl::TDateTime creationTime_ = 0;
    int32_t emitentId_;
    int32_t filialId_;
    TImportSession* session_;
    TdmMainDataModule* dm_;
};

class TPackageManager {
public:
    // importFolder gets a trailing delimiter. The session and the data module are borrowed.
    TPackageManager(const std::string& importFolder, const std::string& prefix, int32_t emitentId,
                    int32_t filialId, TImportSession* session, TdmMainDataModule* dm, bool encrypted,
                    TLogEvent onLog = {});
    ~TPackageManager();

    // The key container .dat packages are decrypted with.
    std::string KeyContainer = "ZUV_QEL_IMPORT";
    // How often the folder is looked at (a pass). The oldest queued package waits for an older
    // package file still being written, at most ten such intervals from the first look at it.
    uint32_t StableIntervalMs = 1000;

    // Adds the complete package files of the import folder to the queue (decrypting .dat files
    // first when the import is encrypted).
    void ScanFolder();
    // Processes the oldest queued package; false when the queue is empty, the package is still
    // being written, or it waits for an older one still being written (the pass should end). Raises
    // EPackageDeferred when the database failed the package; it stays queued.
    bool ProcessNextPackage();
    // One pass: scan, then process and scan again until the queue is empty or a package waits.
    void RunPass();
    // Removes leftovers: "$Temp_*" folders, the work folder's contents, and the hidden
    // temporaries an interrupted move leaves in the import, Back and Error folders.
    void ClearTempFolders();

    // The queue, oldest first.
    std::vector<std::string> QueuedFiles() const;

private:
    void LogMessage(const std::string& text, bool important) const { CallLog(onLog_, text, important); }
    void LogError(const std::string& text) const { LogMessage("Error: " + text, true); }
    // The name of the package file, "" when the .dat could not (yet) be decrypted.
    std::string Decrypt(const std::string& fileName, const rtl::TFileLook& look);
    void Enqueue(const std::string& fileName, const rtl::TFileLook& look);
    void ClearWorkFolder() const;
    // True when a package file older than the next package is still being written and has not
    // been waited for too long.
    bool WaitsForOlder() const;
    // Notes a package file that is not yet complete (one whose name does not check is not
    // waited for).
    void NotePending(const std::string& name);

    std::string importFolder_;
    std::string prefix_;
    int32_t emitentId_;
    int32_t filialId_;
    TImportSession* session_;
    TdmMainDataModule* dm_;
    bool encrypted_;
    TLogEvent onLog_;
    // Newest first; the next package is the last.
    std::vector<std::unique_ptr<TPackage>> list_;
    // The last look at every package file seen, by full name.
    std::map<std::string, rtl::TFileLook> looks_;
    // Package files still being written: the creation time in the name and the first look.
    struct TPending {
        rtl::TDateTime creationTime;
        std::chrono::steady_clock::time_point since;
    };
    std::map<std::string, TPending> pending_;
    // Files the program cannot name, reported once each.
    std::set<std::string> unnamable_;
};

// The hidden temporary an interrupted move leaves beside its target: "." + name + ".tmp" and six
// characters.
bool IsMoveLeftover(const std::string& name);
// Deletes a folder's contents, subfolders included; the folder stays. Failures are ignored.
void ClearFolderContents(const std::string& folder);

}  // namespace svc
