// The extraction half of the zip reader: selects entries, builds destination paths under
// the destination folder, removes the traditional encryption, decompresses, checks the
// CRC-32 and gives each file the entry's date and attributes. Only the import side needs
// it, so it lives here as a reader that can also unzip.
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

protected:
    int UnZipFiles();

private:
    struct TRun;
    friend class TEntrySource;
    friend class TEntrySink;

    bool UnZipOne(int index, TRun& run);
    bool BuildDestination(const zip::TZipHeaderInfo& entry, std::string& path) const;
    bool DecideOverwrite(const zip::TZipHeaderInfo& entry, const std::string& path, int index);
    void Skipping(zip::TSkipReason reason, const std::string& name, int index);
    void FlushOutput(TRun& run);
    size_t ReadCompressed(TRun& run, uint8_t* buffer, size_t count);
    void Decompress(TRun& run, bool& ok);

    int numToExtract_ = 0;
    int failed_ = 0;
    bool retry_ = false;
    int64_t remaining_ = 0;  // compressed bytes of the current entry not yet read
};

// Extracts a whole package archive into destDir with the given password. True only when
// the archive held entries and every one of them was extracted and passed its CRC check.
bool UnZipArchive(const std::string& archive, const std::string& destDir, const std::string& password);

}  // namespace svc
