// The zip writer component: creates and updates zip archives from a list of files, with
// raw deflate and traditional zip encryption.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/ZipReader.h"

namespace zip {

enum TZipAction { zaUpdate, zaReplace, zaFreshen };

// Whether a file of `size` bytes could pass the 32-bit limit once packed: deflate may grow
// data it cannot compress, and encryption adds its 12-byte header.
bool EntryMayNeedZip64(uint64_t size, bool store, bool encrypt);
enum TUpdateAction { uaReplacing, uaKeeping };

class TMultiZipInfo {
public:
    void Assign(const TMultiZipInfo& source) { *this = source; }
    int64_t BlockSize = 1457600;
    int64_t FirstBlockSize = 0;
    int64_t SaveOnFirstDisk = 0;
    bool SaveZipInfoOnFirstDisk = false;
    TMultiMode MultiMode = mmNone;
    bool CheckDiskLabels = true;
    bool WriteDiskLabels = true;
};

class TZipWriter : public TZipReader {
public:
    explicit TZipWriter(rtl::TComponent* owner = nullptr);
    ~TZipWriter() override;

    void Assign(rtl::TPersistent* source) override;
    void Loaded() override;
    void SetZipName(const std::string& value) override;
    bool GetCheckDiskLabels() const override { return MultiZipInfo.CheckDiskLabels; }
    void SetCheckDiskLabels(bool value) override { MultiZipInfo.CheckDiskLabels = value; }
    TMultiMode GetMultiMode() const override { return MultiZipInfo.MultiMode; }
    void SetMultiMode(TMultiMode value) override { MultiZipInfo.MultiMode = value; }

    // Packs FilesList into the archive; returns the number of files packed in this run.
    int Zip();

    int PackLevel = 6;
    // Threads that deflate one large file: 0 for one per core (at most 8), 1 for this thread alone.
    int PackThreads = 0;
    bool Recurse = false;
    bool Dispose = false;
    bool StorePaths() const { return storePaths_; }
    void SetStorePaths(bool value);
    bool RelativePaths() const { return relativePaths_; }
    void SetRelativePaths(bool value);
    bool StoreVolumes() const { return storeVolumes_; }
    void SetStoreVolumes(bool value);
    TZipAction ZipAction = zaUpdate;
    TMultiZipInfo MultiZipInfo;
    bool Store83Names = false;
    std::string TempPath;
    bool SkipIfArchiveBitNotSet = false;
    bool ResetArchiveBitOnZip = false;
    std::vector<std::string> ExcludeList;
    std::vector<std::string> NoCompressList;
    bool AddDirEntriesOnRecurse = false;
    bool IncludeHiddenFiles() const { return (searchMask_ & faHidden) != 0; }
    void SetIncludeHiddenFiles(bool value) { SetMaskBit(faHidden, value); }
    bool IncludeSysFiles() const { return (searchMask_ & faSysFile) != 0; }
    void SetIncludeSysFiles(bool value) { SetMaskBit(faSysFile, value); }
    bool IncludeReadOnlyFiles() const { return (searchMask_ & faReadOnly) != 0; }
    void SetIncludeReadOnlyFiles(bool value) { SetMaskBit(faReadOnly, value); }
    bool IncludeArchiveFiles() const { return (searchMask_ & faArchive) != 0; }
    void SetIncludeArchiveFiles(bool value) { SetMaskBit(faArchive, value); }
    int SearchMask() const { return searchMask_; }

    std::function<void(TZipWriter&, int, double, TEndCentral&, bool&)> OnStartZipInfo;
    std::function<void(TZipWriter&, const std::string&, TZipHeaderInfo&, bool&)> OnStartZip;
    std::function<void(TZipWriter&, const std::string&, int64_t, int64_t, int64_t)> OnEndZip;
    std::function<void(TZipWriter&, int)> OnZipComplete;
    std::function<void(TZipWriter&, const std::string&)> OnNoSuchFile;
    std::function<void(TZipWriter&, const std::string&)> OnRecursingFile;
    std::function<void(TZipWriter&, TUpdateAction, int)> OnUpdate;
    std::function<void(TZipWriter&, const std::string&, bool&)> OnDisposeFile;
    std::function<void(TZipWriter&, const std::string&, bool&)> OnDeleteEntry;
    std::function<void(TZipWriter&, uint8_t*, int, const std::string&)> OnEncrypt;
    std::function<void(TZipWriter&, int)> OnPrepareNextDisk;
    std::function<void(TZipWriter&, const std::string&, int64_t)> OnStartSpanCopy;

    // Traditional encryption of the output.
    uint8_t EncryptByte(uint8_t p) { return keys_.EncryptByte(p); }
    void EncryptBuffer(uint8_t* buffer, size_t length) { keys_.EncryptBuffer(buffer, length); }
    void WriteEncryptionHeader(TStream& out, const std::string& password, uint32_t crc);

protected:
    // Fills the ten random bytes of an encryption header.
    virtual void RandomHeaderBytes(uint8_t* buffer, size_t length);

private:
    struct TListedFile {
        std::string Path;
        int64_t Size = 0;
    };
    struct TRun;
    class TPrefetch;

    void SetMaskBit(int bit, bool value);
    std::vector<TListedFile> ExpandFilesList(double& totalBytes);
    bool Excluded(const std::string& path) const;
    bool NoCompress(const std::string& fileName) const;
    bool SameTextPath(const std::string& path) const;
    std::string StoredFolder(const std::string& path) const;
    std::string StoredKey(const std::string& path) const;
    bool PackFile(TRun& run, const std::string& path, TZipHeaderInfo& entry);
    void CopyOldEntry(TRun& run, TZipHeaderInfo& entry);
    void WriteData(TRun& run, const uint8_t* data, size_t length);
    void WriteLocalRecord(TRun& run, TZipHeaderInfo& entry);
    void NextPart(TRun& run);
    void FinishParts(TRun& run, rtl::TMemoryStream& directoryCopy);

    bool storePaths_ = false;
    bool relativePaths_ = false;
    bool storeVolumes_ = false;
    int searchMask_ = 0x39;
};

}  // namespace zip
