// The extraction half of the zip reader: selects entries, builds destination paths under
// the destination folder, removes the traditional encryption, decompresses, checks the
// CRC-32 and gives each file the entry's date and attributes. Only the import side needs
// it, so it lives here as a reader that can also unzip.
//
// Every package comes from outside, so a run trusts nothing in it. Before anything is
// written the archive must be sound (its directory agrees with its end record, every entry
// lies where the directory says, no two entries share bytes: EBadZipFile otherwise), the
// declared sizes must fit the run's limit (ETooLargeToExtract) and the free space of the
// destination (ENotEnoughRoom). Names never leave the destination and no link in it is
// followed. A run that raises removes every file it wrote and every folder it made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/rtl/Streams.h"
#include "zip/ZipReader.h"

namespace svc {

RTL_EXCEPTION_CLASS(EFatalUnzipError, zip::EZipException);
RTL_EXCEPTION_CLASS(EBiggerThanUncompressed, zip::EZipException);
RTL_EXCEPTION_CLASS(ECantWriteUCF, zip::EZipException);
RTL_EXCEPTION_CLASS(ETooLargeToExtract, zip::EZipException);

// What one run may write unless told otherwise: packages are XML documents that the import
// reads whole, far smaller than this.
inline constexpr uint64_t kDefaultMaxExtractSize = uint64_t(2) << 30;

class TUnZipDestination;

class TUnZipReader : public zip::TZipReader {
public:
    explicit TUnZipReader(rtl::TComponent* owner = nullptr);
    ~TUnZipReader() override;

    // Loads the central directory; an incomplete archive leaves the directory empty.
    void ReadDirectory();
    // Extracts the selected entries; returns how many were extracted.
    int UnZip();
    std::string GetFilename(int index);

    uint8_t DecryptHeader(const std::string& password, uint8_t* header);
    uint8_t ReadEncryptionHeader(const std::string& password, rtl::TStream& stream);
    void DecryptBuffer(uint8_t* buffer, int count);

    // Entries the last run selected, and how many of them failed (bad password, CRC,
    // unsafe name, no overwrite, create error, unknown method).
    int SelectedCount() const { return numToExtract_; }
    int FailedCount() const { return failed_; }
    // Files (not folders) the last run extracted.
    int ExtractedFileCount() const { return filesExtracted_; }

    // Upper bound on the sum of the declared sizes of the entries one run extracts.
    uint64_t MaxExtractSize = kDefaultMaxExtractSize;

    // Removes every file the last run wrote and every folder it made (when empty). A run
    // that raises does this itself; a caller that rejects a run's result calls it.
    void RemoveWritten();

protected:
    int UnZipFiles();

private:
    struct TRun;
    friend class TEntrySource;
    friend class TEntrySink;

    void CheckLayout(TRun& run);
    [[noreturn]] void Refuse(zip::TArchiveDamage what);
    void Select(TRun& run);
    void CheckRoom(const TRun& run);
    int64_t DataStart(int index, const TRun& run);
    bool UnZipOne(int index, TRun& run);
    bool CheckPassword(const zip::TZipHeaderInfo& entry, int index);
    bool BuildDestination(const zip::TZipHeaderInfo& entry, std::string& path) const;
    bool DecideOverwrite(const zip::TZipHeaderInfo& entry, const std::string& path, int index,
                         int64_t fileTime);
    bool Fail(zip::TSkipReason reason, const zip::TZipHeaderInfo& entry, int index);
    void Skipping(zip::TSkipReason reason, const std::string& name, int index);
    void FlushOutput(TRun& run);
    size_t ReadCompressed(TRun& run, uint8_t* buffer, size_t count);
    void Decompress(TRun& run, bool& ok);

    std::unique_ptr<TUnZipDestination> dest_;
    int numToExtract_ = 0;
    int failed_ = 0;
    int filesExtracted_ = 0;
    bool retry_ = false;
    int64_t remaining_ = 0;  // compressed bytes of the current entry not yet read
};

// Extracts a whole package archive into destDir with the given password, writing at most
// maxExtractSize bytes. True only when the archive held at least one file and every entry
// was extracted and passed its CRC check; on false nothing the run wrote is left behind.
bool UnZipArchive(const std::string& archive, const std::string& destDir, const std::string& password,
                  uint64_t maxExtractSize = kDefaultMaxExtractSize);

}  // namespace svc
