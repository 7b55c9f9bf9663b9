// The archive's records in memory: one entry (local and central header together), the
// end-of-central-directory record with its Zip64 companions, and sorted entry lists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "zip/kpCntn.h"

namespace zip {

inline constexpr uint32_t CENTSIG = 0x02014B50;
inline constexpr uint32_t LOCSIG = 0x04034B50;
inline constexpr uint32_t ENDSIG = 0x06054B50;
inline constexpr uint32_t ZIP64ENDSIG = 0x06064B50;
inline constexpr uint32_t ZIP64LOCSIG = 0x07064B50;
inline constexpr uint32_t MULTIZIPSIG = 0x08074B50;
inline constexpr uint32_t SINGLEPARTSIG = 0x30304B50;

// Replaces the central, local and end signatures (zero keeps the standard value).
void SetZipSignatures(uint32_t central = 0, uint32_t local = 0, uint32_t end = 0);
uint32_t CentralSignature();
uint32_t LocalSignature();
uint32_t EndSignature();

enum TOEMConvert { oemAlways, oemNever, oemFlexible };

struct TZip64Values {
    uint16_t Tag = 1;
    uint16_t Size = 0;
    uint64_t UncompressedSize = 0;
    uint64_t CompressedSize = 0;
    uint64_t RelativeOffset = 0;
    uint32_t DiskNumberStart = 0;
};

class TZipHeaderInfo : public TPersistent {
public:
    TZipHeaderInfo();
    TZipHeaderInfo(const TZipHeaderInfo& other);
    TZipHeaderInfo& operator=(const TZipHeaderInfo&) = delete;

    void Clear();
    void Assign(TPersistent* source) override;
    void AssignTo(TPersistent* dest) override;
    void Assign(const TZipHeaderInfo& source);

    uint64_t GetCompressedSize() const;
    void SetCompressedSize(uint64_t value);
    uint64_t GetUncompressedSize() const;
    void SetUncompressedSize(uint64_t value);
    uint64_t GetRelativeOffset() const;
    void SetRelativeOffset(uint64_t value);
    uint32_t GetDiskNumberStart() const;
    void SetDiskNumberStart(uint32_t value);

    const std::string& FileName() const { return filename_; }
    const std::string& Directory() const { return directory_; }  // empty or ending in '\'
    std::string FullName() const { return directory_ + filename_; }
    void SetFileName(const std::string& value);
    void SetDirectory(const std::string& value);

    bool CommentLoaded() const { return comment_.has_value(); }
    const std::string& FileComment() const;
    void SetFileComment(const std::string& value);
    bool HasComment() const { return FileCommentLength != 0; }
    bool HasDataDescriptor() const { return (Flag & 8) != 0; }
    bool Encrypted() const { return (Flag & 1) != 0; }
    // The stored name is UTF-8 (general purpose bit 11) rather than OEM text.
    bool Utf8Name() const { return (Flag & 0x800) != 0; }
    // Whether the stored name is UTF-8: the flag says so, or a Unix host stored the bytes of
    // its UTF-8 file system as they were (as Info-ZIP zip does without the flag).
    bool StoresUtf8() const { return Utf8Name() || utf8Stored_; }
    // A UTF-8 name with a character the ANSI code page lacks: FullName() only shows it.
    bool NameUnrepresentable() const { return !utf8Name_.empty(); }
    TZip64Values* Zip64() const { return zip64_.get(); }
    // Keeps both sizes in the Zip64 field whatever their values, so that a local header
    // written before the data is known keeps its size when they turn out large.
    void SetZip64Sizes(bool value);
    bool Zip64Sizes() const { return zip64Sizes_; }
    void DropZip64() { zip64_.reset(); }

    int64_t LocalHeaderSize() const { return 30 + FileNameLength + LocalExtraFieldLength; }
    int64_t CentralHeaderSize() const {
        return 46 + FileNameLength + CentralExtraFieldLength + FileCommentLength;
    }

    // Reading never raises for bad data: false, and the stream is back where it was.
    bool ReadCentralHeader(TStream*& stream, const std::function<TStream*()>& nextPart = nullptr);
    bool ReadLocalHeader(TStream& stream);
    void WriteLocalHeader(TStream& stream);
    void WriteCentralHeader(TStream& stream);

    // Stored name bytes as written (directory and name, '/' separators, OEM by mode).
    std::string StoredName();

    uint16_t VersionMadeBy = 45;
    uint16_t VersionNeeded = 20;
    uint16_t Flag = 0;
    uint16_t CompressionMethod = 8;
    uint32_t LastModFileDateTime = 0;
    uint32_t CRC32 = 0xFFFFFFFF;
    uint32_t CompressedSize32 = 0;
    uint32_t UncompressedSize32 = 0;
    uint16_t FileNameLength = 0;
    uint16_t CentralExtraFieldLength = 0;
    uint16_t LocalExtraFieldLength = 0;
    uint16_t FileCommentLength = 0;
    uint16_t DiskNumberStart16 = 0;
    uint16_t InternalFileAttributes = 1;
    uint32_t ExternalFileAttributes = 0x20;
    uint32_t RelativeOffset32 = 0;
    int64_t CentralHeaderPosition = 0;
    uint8_t MatchFlag = 0;  // to be processed by the current operation
    uint8_t FileIsOK = 0;   // state; 2 leaves the entry out of a rewrite
    uint8_t Selected = 0;
    TOEMConvert OEMConvert = oemNever;
    int64_t ExtraFieldPosition = 0;
    uint16_t ExtraFieldLength = 0;
    uint16_t Zip64BlockLength = 0;

private:
    TZip64Values& EnsureZip64();
    void ParseExtraField(const uint8_t* data, size_t length, bool local);
    std::string NameFromOem(const std::string& name, bool ignoreHost) const;
    uint16_t Zip64DataSize(bool local) const;
    void WriteZip64Block(TStream& stream, bool local);

    std::string DecodeName(const std::string& stored, bool ignoreHost);

    std::string filename_;
    std::string directory_;
    std::string utf8Name_;     // the stored bytes of an unrepresentable UTF-8 name
    bool utf8Stored_ = false;  // the stored name is UTF-8: by the flag, or from a Unix host
    bool zip64Sizes_ = false;
    std::unique_ptr<TZip64Values> zip64_;
    std::optional<std::string> comment_;
};

struct TZip64EndRecord {
    uint64_t RecordSize = 44;
    uint16_t VersionMadeBy = 45;
    uint16_t VersionNeeded = 45;
    uint32_t ThisDisk = 0;
    uint32_t StartDisk = 0;
    uint64_t EntriesThisDisk = 0;
    uint64_t TotalEntries = 0;
    uint64_t CentralSize = 0;
    uint64_t CentralOffset = 0;
};

struct TZip64Locator {
    uint32_t Disk = 0;
    uint64_t Offset = 0;
    uint32_t TotalDisks = 1;
};

class TEndCentral : public TPersistent {
public:
    TEndCentral();
    void Clear();
    void Assign(TPersistent* source) override;
    void AssignTo(TPersistent* dest) override;
    void Assign(const TEndCentral& source);

    bool FindAndRead(TStream& stream);
    void WriteRecord(TStream& stream);

    bool CommentLoaded() const { return comment_.has_value(); }
    const std::string& Comment() const;
    void SetComment(const std::string& value);
    bool HasComment() const { return CommentLength != 0; }
    int64_t RecordSize() const { return 22 + CommentLength; }

    uint32_t GetThisDisk() const;
    void SetThisDisk(uint32_t value);
    uint32_t GetStartDisk() const;
    void SetStartDisk(uint32_t value);
    uint32_t GetEntriesThisDisk() const;
    void SetEntriesThisDisk(uint32_t value);
    uint64_t GetTotalEntries() const;
    void SetTotalEntries(uint64_t value);
    uint64_t GetCentralSize() const;
    void SetCentralSize(uint64_t value);
    uint64_t GetCentralOffset() const;
    void SetCentralOffset(uint64_t value);
    uint32_t GetNumberOfDisks() const { return locator_ ? locator_->TotalDisks : 0; }

    TZip64EndRecord* Zip64End() const { return zip64End_.get(); }
    TZip64Locator* Zip64Locator() const { return locator_.get(); }

    uint32_t Signature = ENDSIG;
    uint16_t ThisDisk16 = 0;
    uint16_t StartDisk16 = 0;
    uint16_t EntriesThisDisk16 = 0;
    uint16_t TotalEntries16 = 0;
    uint32_t CentralSize32 = 0;
    uint32_t CentralOffset32 = 0;
    uint16_t CommentLength = 0;
    int64_t CommentPosition = 0;
    bool Modified = false;

private:
    TZip64EndRecord& EnsureZip64End();
    std::optional<std::string> comment_;
    std::unique_ptr<TZip64EndRecord> zip64End_;
    std::unique_ptr<TZip64Locator> locator_;
};

enum TZipSortMode {
    ByName,
    ByFileName,
    ByDirectoryName,
    ByDate,
    ByCompressedSize,
    ByUnCompressedSize,
    ByRate,
    ByNone
};

class TSortedZip : public TSortedObjectList {
public:
    explicit TSortedZip(TDuplicates duplicates, bool ownsItems = true);
    int Add(TObject* item) override;
    int IndexOf(TObject* item) override;
    int Compare(const TObject* item, const TObject* key) const override;
    TZipHeaderInfo* Entry(int index) { return static_cast<TZipHeaderInfo*>(GetItem(index)); }

    TZipSortMode SortMode = ByNone;
    bool Zip64 = false;
    // ByName tells "A.txt" from "a.txt", as the file system does.
    bool CaseSensitive = false;
};

// Little-endian cells.
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetU32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t GetU64(const uint8_t* p) {
    return GetU32(p) | static_cast<uint64_t>(GetU32(p + 4)) << 32;
}
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace zip
