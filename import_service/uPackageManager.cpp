// The package manager: scan, decrypt, name check, queue, unpack, import and the moves.
#include "import_service/uPackageManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>

#include "import_service/PackageDecrypt.h"
#include "import_service/ZipReaderUnZip.h"
#include "import_service/uQelInProcessors.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"

namespace svc {

namespace {

// The characters of a name at 1-based positions; "" (or fewer) past its end.
std::string Chars(const std::string& text, size_t from, size_t count) {
    return from - 1 < text.size() ? text.substr(from - 1, count) : std::string();
}

rtl::TFileLook LookNow(const std::string& fileName) {
    rtl::TFileLook look;
    struct stat st {};
    if (::stat(rtl::SysFileName(fileName).c_str(), &st) != 0) return look;
    look.Seen = true;
    look.Size = st.st_size;
    look.ModifyTime = st.st_mtim;
    return look;
}

bool SameLook(const std::string& fileName, const rtl::TFileLook& look) {
    struct stat st {};
    if (::stat(rtl::SysFileName(fileName).c_str(), &st) != 0) return false;
    return look.Seen && st.st_size == look.Size && st.st_mtim.tv_sec == look.ModifyTime.tv_sec &&
           st.st_mtim.tv_nsec == look.ModifyTime.tv_nsec;
}

// Server errors that mean the connection is gone (the session may not know yet).
bool LostConnectionText(const std::string& message) {
    static const char* const codes[] = {"ORA-00028", "ORA-01012", "ORA-03113", "ORA-03114", "ORA-03135",
                                        "ORA-12152", "ORA-12203", "ORA-12514", "ORA-12541", "ORA-12571"};
    return std::any_of(std::begin(codes), std::end(codes),
                       [&](const char* code) { return message.find(code) != std::string::npos; });
}

std::string MoveErrorText(const std::string& name) {
    return "Moving " + name + " file error #" + std::to_string(rtl::GetLastError());
}

}  // namespace

bool IsMoveLeftover(const std::string& name) {
    static const std::regex leftover(R"(\..+\.tmp[A-Za-z0-9]{6})");
    return std::regex_match(name, leftover);
}

void ClearFolderContents(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(rtl::SysFileName(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

// ---- TPackage ---------------------------------------------------------------------------------

TPackage::TPackage(const std::string& importFolder, const std::string& fileName, int32_t emitentId,
                   int32_t filialId, TImportSession* session, TdmMainDataModule* dm)
    : importFolder_(importFolder),
      tempFolder_(importFolder + "Temp/"),
      fileName_(fileName),
      emitentId_(emitentId),
      filialId_(filialId),
      session_(session),
      dm_(dm) {}

rtl::TDateTime TPackage::DecodePackageDate(const std::string& text) {
    if (text.size() != 17) throw rtl::EConvertError("Error date format");
    const auto part = [&](size_t from, size_t count) { return rtl::StrToInt(text.substr(from, count)); };
    return rtl::EncodeDate(part(0, 4), part(4, 2), part(6, 2)) +
           rtl::EncodeTime(part(8, 2), part(10, 2), part(12, 2), part(14, 3));
}

void TPackage::CheckName() {
    const int32_t emitent = rtl::StrToInt(Chars(fileName_, 14, 5));
    const int32_t filial = rtl::StrToInt(Chars(fileName_, 19, 2));
    creationTime_ = DecodePackageDate(Chars(fileName_, 22, 17));
    if (emitent != emitentId_ || filial != filialId_) throw rtl::Exception("Packet from other issuers");
}

bool TPackage::ChangedSinceTaken() const {
    return !SameLook(importFolder_ + fileName_, TakenLook);
}

bool TPackage::MoveTo(const std::string& subFolder, const std::string& successText) {
    const std::string folder = importFolder_ + subFolder;
    if (!rtl::DirectoryExists(folder)) rtl::CreateDir(folder);
    if (!rtl::MoveFileReplace(importFolder_ + fileName_, folder + "/" + fileName_)) {
        LogError(MoveErrorText(fileName_));
        return false;
    }
    LogMessage(successText + folder + "/", false);
    return true;
}

bool TPackage::MoveToBack() {
    return MoveTo("Back", "File " + fileName_ + " moved to ");
}

bool TPackage::MoveToError(const std::string& reason) {
    LogError("Package " + fileName_ + " cannot be imported: " + reason);
    return MoveTo("Error", "File " + fileName_ + " successfully moved to folder ");
}

bool TPackage::Unpack() {
    rtl::ForceDirectories(tempFolder_);
    if (!UnZipArchive(importFolder_ + fileName_, tempFolder_, kArchivePassword)) {
        LogError("Error while unpack file \"" + fileName_ + "\"");
        return false;
    }
    LogMessage("File " + fileName_ + " successfully unpacked in: " + importFolder_ + "Temp", false);
    return true;
}

bool TPackage::DatabaseLost(const std::exception& error) const {
    return !session_ || !session_->Connected() || LostConnectionText(error.what());
}

TPackage::TOutcome TPackage::Process() {
    Log("-----------------------");
    Log("Processing of the packet " + fileName_ + " started");
    if (!Unpack()) {
        if (ChangedSinceTaken()) {
            Log("File " + fileName_ + " is still being written; it is tried again later");
            return TOutcome::StillWritten;
        }
        MoveToError("the archive cannot be unpacked");
        return TOutcome::Failed;
    }
    xmlFileName_ = fileName_.substr(0, 38) + ".xml";
    Log(tempFolder_ + xmlFileName_);
    TEmitentPackageImport importer(emitentId_, filialId_, tempFolder_, xmlFileName_, session_, *dm_);
    importer.OnLog = OnLog;
    try {
        importer.Import();
    } catch (const EFatalError& e) {
        MoveToError(e.what());
        return TOutcome::Failed;
    } catch (const std::exception& e) {
        if (DatabaseLost(e))
            throw EPackageDeferred("Package " + fileName_ + " stays for the next pass: " + e.what());
        MoveToError(e.what());
        return TOutcome::Failed;
    }
    if (importer.Result() != TEmitentPackageImport::TResult::Imported &&
        importer.Result() != TEmitentPackageImport::TResult::AlreadyImported) {
        const rtl::Exception reason("its requests were rolled back: " + importer.ErrorMessage());
        if (DatabaseLost(reason))
            throw EPackageDeferred("Package " + fileName_ + " stays for the next pass: " + reason.what());
        MoveToError(reason.what());
        return TOutcome::Failed;
    }
    MoveToBack();
    return TOutcome::Imported;
}

// ---- TPackageManager --------------------------------------------------------------------------

TPackageManager::TPackageManager(const std::string& importFolder, const std::string& prefix,
                                 int32_t emitentId, int32_t filialId, TImportSession* session,
                                 TdmMainDataModule* dm, bool encrypted, TLogEvent onLog)
    : importFolder_(rtl::IncludeTrailingPathDelimiter(importFolder)),
      prefix_(prefix),
      emitentId_(emitentId),
      filialId_(filialId),
      session_(session),
      dm_(dm),
      encrypted_(encrypted),
      onLog_(std::move(onLog)) {
    LogMessage("Set DecimalSeparator: .", false);
}

TPackageManager::~TPackageManager() = default;

std::vector<std::string> TPackageManager::QueuedFiles() const {
    std::vector<std::string> names;
    for (auto it = list_.rbegin(); it != list_.rend(); ++it) names.push_back((*it)->FileName());
    return names;
}

void TPackageManager::ScanFolder() {
    std::vector<std::string> found;
    rtl::TSearchRec rec;
    const std::string mask = importFolder_ + prefix_ + (encrypted_ ? "*.dat" : "*.zip");
    if (rtl::FindFirst(mask, rtl::faAnyFile & ~rtl::faDirectory, rec) == 0) {
        do {
            if (!(rec.Attr & rtl::faDirectory)) found.push_back(rec.Name);
        } while (rtl::FindNext(rec) == 0);
        rtl::FindClose(rec);
    }
    for (const std::string& name : rec.Unnamable)
        if (unnamable_.insert(name).second) LogError(rtl::UnnamableFileMessage(name));
    for (auto it = pending_.begin(); it != pending_.end();)
        it = std::count(found.begin(), found.end(), it->first) ? std::next(it) : pending_.erase(it);
    for (const std::string& name : found) {
        const bool queued = std::any_of(list_.begin(), list_.end(),
                                        [&](const auto& package) { return package->FileName() == name; });
        if (queued) continue;
        const std::string path = importFolder_ + name;
        rtl::TFileLook& look = looks_[path];
        if (!rtl::FileIsCompletelyWritten(path, look)) {
            NotePending(name);
            continue;
        }
        const rtl::TFileLook taken = look;
        looks_.erase(path);
        pending_.erase(name);
        const std::string packageFile = encrypted_ ? Decrypt(name, taken) : name;
        if (!packageFile.empty()) Enqueue(packageFile, taken);
    }
}

std::string TPackageManager::Decrypt(const std::string& fileName, const rtl::TFileLook& look) {
    const std::string path = importFolder_ + fileName;
    const std::string zipName = rtl::ChangeFileExt(fileName, ".zip");
    LogMessage("Decrypting exchange data files", false);
    std::string errorText;
    if (DecryptFileWithKey(path, importFolder_ + zipName, KeyContainer, errorText)) {
        LogMessage("Exchange data files decrypted", false);
        if (!rtl::DeleteFile(path))
            LogError("Cannot delete archive file. Error #" + std::to_string(rtl::GetLastError()));
        return zipName;
    }
    if (!SameLook(path, look)) {
        LogMessage("File " + fileName + " is still being written; it is tried again later", true);
        return std::string();
    }
    LogError("Cannot decrypt data from file \"" + fileName + "\" : " + errorText);
    const std::string errorFolder = importFolder_ + "Error";
    if (!rtl::DirectoryExists(errorFolder)) rtl::CreateDir(errorFolder);
    if (rtl::MoveFileReplace(path, errorFolder + "/" + fileName))
        LogMessage("File " + fileName + " moved to " + errorFolder, false);
    else
        LogError(MoveErrorText(fileName));
    return std::string();
}

void TPackageManager::Enqueue(const std::string& fileName, const rtl::TFileLook& look) {
    auto package = std::make_unique<TPackage>(importFolder_, fileName, emitentId_, filialId_, session_, dm_);
    package->OnLog = onLog_;
    package->TakenLook = look;
    // The .zip of a decrypted package is our own, written whole.
    if (encrypted_) package->TakenLook = LookNow(importFolder_ + fileName);
    try {
        package->CheckName();
    } catch (const std::exception& e) {
        package->MoveToError(e.what());
        return;
    }
    list_.push_back(std::move(package));
    // Newest first, so that the oldest is taken from the end; equal times by name.
    std::stable_sort(list_.begin(), list_.end(), [](const auto& a, const auto& b) {
        if (a->CreationTime() != b->CreationTime()) return a->CreationTime() > b->CreationTime();
        return a->FileName() > b->FileName();
    });
}

void TPackageManager::NotePending(const std::string& name) {
    if (pending_.count(name)) return;
    TPackage probe(importFolder_, name, emitentId_, filialId_, session_, dm_);
    try {
        probe.CheckName();
    } catch (const std::exception&) {
        return;  // goes to Error once written; nothing waits for it
    }
    pending_[name] = {probe.CreationTime(), std::chrono::steady_clock::now()};
}

bool TPackageManager::WaitsForOlder() const {
    const rtl::TDateTime next = list_.back()->CreationTime();
    const auto bound = std::chrono::milliseconds(10 * int64_t{StableIntervalMs});
    const auto now = std::chrono::steady_clock::now();
    return std::any_of(pending_.begin(), pending_.end(), [&](const auto& entry) {
        return entry.second.creationTime < next && now - entry.second.since < bound;
    });
}

bool TPackageManager::ProcessNextPackage() {
    if (list_.empty() || WaitsForOlder()) return false;
    TPackage& package = *list_.back();
    TPackage::TOutcome outcome;
    try {
        outcome = package.Process();
    } catch (const EPackageDeferred&) {
        ClearWorkFolder();  // the package stays queued
        throw;
    } catch (...) {
        list_.pop_back();
        ClearWorkFolder();
        throw;
    }
    list_.pop_back();
    ClearWorkFolder();
    return outcome != TPackage::TOutcome::StillWritten;
}

void TPackageManager::RunPass() {
    ScanFolder();
    while (ProcessNextPackage()) ScanFolder();
}

void TPackageManager::ClearWorkFolder() const {
    ClearFolderContents(importFolder_ + "Temp");
}

void TPackageManager::ClearTempFolders() {
    rtl::TSearchRec rec;
    std::vector<std::string> old;
    if (rtl::FindFirst(importFolder_ + "$Temp_*", rtl::faAnyFile, rec) == 0) {
        do {
            if ((rec.Attr & rtl::faDirectory) && rec.Name != "." && rec.Name != "..") old.push_back(rec.Name);
        } while (rtl::FindNext(rec) == 0);
        rtl::FindClose(rec);
    }
    for (const std::string& name : old) {
        std::error_code ignored;
        std::filesystem::remove_all(rtl::SysFileName(importFolder_ + name), ignored);
    }
    ClearWorkFolder();
    for (const char* sub : {"", "Back", "Error"}) {
        const std::string folder = importFolder_ + sub;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(rtl::SysFileName(folder), ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_regular_file(ec) && IsMoveLeftover(it->path().filename().string())) {
                std::error_code ignored;
                std::filesystem::remove(it->path(), ignored);
            }
    }
}

}  // namespace svc
