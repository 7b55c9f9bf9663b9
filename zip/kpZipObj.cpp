#include "zip/kpZipObj.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/rtl/Strings.h"
#include "zip/KpLib.h"

namespace zip {

namespace {

uint32_t gCentralSig = CENTSIG;
uint32_t gLocalSig = LOCSIG;
uint32_t gEndSig = ENDSIG;

const std::string kEmpty;

int CompareTextAscii(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z') ca -= 32;
        if (cb >= 'a' && cb <= 'z') cb -= 32;
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

void SetZipSignatures(uint32_t central, uint32_t local, uint32_t end) {
    gCentralSig = central ? central : CENTSIG;
    gLocalSig = local ? local : LOCSIG;
    gEndSig = end ? end : ENDSIG;
}
uint32_t CentralSignature() {
    return gCentralSig;
}
uint32_t LocalSignature() {
    return gLocalSig;
}
uint32_t EndSignature() {
    return gEndSig;
}

// ---------------------------------------------------------------- TZipHeaderInfo

namespace {

// Well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t len = b < 0x80                   ? 1
                     : (b >= 0xC2 && b <= 0xDF) ? 2
                     : (b >= 0xE0 && b <= 0xEF) ? 3
                     : (b >= 0xF0 && b <= 0xF4) ? 4
                                                : 0;
        if (len == 0 || i + len > s.size()) return false;
        uint32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            const auto c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

}  // namespace

TZipHeaderInfo::TZipHeaderInfo() = default;

TZipHeaderInfo::TZipHeaderInfo(const TZipHeaderInfo& other) : TPersistent() {
    Assign(other);
    OEMConvert = other.OEMConvert;
}

void TZipHeaderInfo::Clear() {
    TOEMConvert mode = OEMConvert;
    VersionMadeBy = 45;
    VersionNeeded = 20;
    Flag = 0;
    CompressionMethod = 8;
    LastModFileDateTime = 0;
    CRC32 = 0xFFFFFFFF;
    CompressedSize32 = UncompressedSize32 = 0;
    FileNameLength = CentralExtraFieldLength = LocalExtraFieldLength = FileCommentLength = 0;
    DiskNumberStart16 = 0;
    InternalFileAttributes = 1;
    ExternalFileAttributes = 0x20;
    RelativeOffset32 = 0;
    CentralHeaderPosition = 0;
    filename_.clear();
    directory_.clear();
    utf8Name_.clear();
    utf8Stored_ = false;
    zip64Sizes_ = false;
    zip64_.reset();
    comment_.reset();
    MatchFlag = FileIsOK = Selected = 0;
    OEMConvert = mode;
}

void TZipHeaderInfo::Assign(TPersistent* source) {
    if (auto* entry = dynamic_cast<TZipHeaderInfo*>(source))
        Assign(*entry);
    else
        TPersistent::Assign(source);
}

void TZipHeaderInfo::AssignTo(TPersistent* dest) {
    if (auto* entry = dynamic_cast<TZipHeaderInfo*>(dest))
        entry->Assign(*this);
    else
        TPersistent::AssignTo(dest);
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& s) {
    if (&s == this) return;
    VersionMadeBy = s.VersionMadeBy;
    VersionNeeded = s.VersionNeeded;
    Flag = s.Flag;
    CompressionMethod = s.CompressionMethod;
    LastModFileDateTime = s.LastModFileDateTime;
    CRC32 = s.CRC32;
    CentralExtraFieldLength = s.CentralExtraFieldLength;
    LocalExtraFieldLength = s.LocalExtraFieldLength;
    InternalFileAttributes = s.InternalFileAttributes;
    ExternalFileAttributes = s.ExternalFileAttributes;
    CentralHeaderPosition = s.CentralHeaderPosition;
    zip64_.reset();
    CompressedSize32 = UncompressedSize32 = RelativeOffset32 = 0;
    DiskNumberStart16 = 0;
    zip64Sizes_ = s.zip64Sizes_;
    SetCompressedSize(s.GetCompressedSize());
    SetUncompressedSize(s.GetUncompressedSize());
    SetRelativeOffset(s.GetRelativeOffset());
    SetDiskNumberStart(s.GetDiskNumberStart());
    if (s.zip64_ && zip64_) zip64_->Size = s.zip64_->Size;
    filename_ = s.filename_;
    directory_ = s.directory_;
    utf8Name_ = s.utf8Name_;
    utf8Stored_ = s.utf8Stored_;
    FileNameLength = s.FileNameLength;
    comment_ = s.comment_;
    FileCommentLength = s.FileCommentLength;
    MatchFlag = s.MatchFlag;
    FileIsOK = s.FileIsOK;
    Selected = s.Selected;
}

TZip64Values& TZipHeaderInfo::EnsureZip64() {
    if (!zip64_) zip64_ = std::make_unique<TZip64Values>();
    return *zip64_;
}

uint64_t TZipHeaderInfo::GetCompressedSize() const {
    return CompressedSize32 == 0xFFFFFFFF && zip64_ ? zip64_->CompressedSize : CompressedSize32;
}

void TZipHeaderInfo::SetZip64Sizes(bool value) {
    const uint64_t compressed = GetCompressedSize(), uncompressed = GetUncompressedSize();
    zip64Sizes_ = value;
    CompressedSize32 = UncompressedSize32 = 0;
    SetCompressedSize(compressed);
    SetUncompressedSize(uncompressed);
}

void TZipHeaderInfo::SetCompressedSize(uint64_t value) {
    if (value >= 0xFFFFFFFF || zip64Sizes_) {
        EnsureZip64().CompressedSize = value;
        CompressedSize32 = 0xFFFFFFFF;
    } else {
        CompressedSize32 = static_cast<uint32_t>(value);
    }
}

uint64_t TZipHeaderInfo::GetUncompressedSize() const {
    return UncompressedSize32 == 0xFFFFFFFF && zip64_ ? zip64_->UncompressedSize : UncompressedSize32;
}

void TZipHeaderInfo::SetUncompressedSize(uint64_t value) {
    if (value >= 0xFFFFFFFF || zip64Sizes_) {
        EnsureZip64().UncompressedSize = value;
        UncompressedSize32 = 0xFFFFFFFF;
    } else {
        UncompressedSize32 = static_cast<uint32_t>(value);
    }
}

uint64_t TZipHeaderInfo::GetRelativeOffset() const {
    return RelativeOffset32 == 0xFFFFFFFF && zip64_ ? zip64_->RelativeOffset : RelativeOffset32;
}

void TZipHeaderInfo::SetRelativeOffset(uint64_t value) {
    if (value >= 0xFFFFFFFF) {
        EnsureZip64().RelativeOffset = value;
        RelativeOffset32 = 0xFFFFFFFF;
    } else {
        RelativeOffset32 = static_cast<uint32_t>(value);
    }
}

uint32_t TZipHeaderInfo::GetDiskNumberStart() const {
    return DiskNumberStart16 == 0xFFFF && zip64_ ? zip64_->DiskNumberStart : DiskNumberStart16;
}

void TZipHeaderInfo::SetDiskNumberStart(uint32_t value) {
    if (value > 0xFFFE) {
        EnsureZip64().DiskNumberStart = value;
        DiskNumberStart16 = 0xFFFF;
    } else {
        DiskNumberStart16 = static_cast<uint16_t>(value);
    }
}

void TZipHeaderInfo::SetFileName(const std::string& value) {
    filename_ = value;
    utf8Name_.clear();
    FileNameLength = static_cast<uint16_t>(directory_.size() + filename_.size());
}

void TZipHeaderInfo::SetDirectory(const std::string& value) {
    directory_ = value;
    utf8Name_.clear();
    std::replace(directory_.begin(), directory_.end(), '/', '\\');
    if (!directory_.empty() && directory_.back() != '\\') directory_ += '\\';
    FileNameLength = static_cast<uint16_t>(directory_.size() + filename_.size());
}

const std::string& TZipHeaderInfo::FileComment() const {
    return comment_ ? *comment_ : kEmpty;
}

void TZipHeaderInfo::SetFileComment(const std::string& value) {
    comment_ = value;
    FileCommentLength = static_cast<uint16_t>(value.size());
}

std::string TZipHeaderInfo::NameFromOem(const std::string& name, bool ignoreHost) const {
    bool convert = OEMConvert == oemAlways || (OEMConvert == oemFlexible && (VersionMadeBy >> 8) != 11);
    if (!ignoreHost && (VersionMadeBy >> 8) != 0) convert = false;
    return convert ? OemToAnsiText(name) : name;
}

std::string TZipHeaderInfo::DecodeName(const std::string& stored, bool ignoreHost) {
    utf8Name_.clear();
    utf8Stored_ = false;
    const bool unixHost = !ignoreHost && (VersionMadeBy >> 8) == 3;
    const bool ascii = std::all_of(stored.begin(), stored.end(), [](char c) { return (c & 0x80) == 0; });
    if (!Utf8Name() && !(unixHost && !ascii && IsUtf8(stored))) return NameFromOem(stored, ignoreHost);
    utf8Stored_ = !Utf8Name();
    std::string name;
    if (rtl::TryUtf8ToAnsi(stored, name)) return name;
    utf8Name_ = stored;
    ToZipSeparators(utf8Name_);
    return rtl::Utf8ToAnsi(stored);
}

std::string TZipHeaderInfo::StoredName() {
    if (StoresUtf8() && !utf8Name_.empty()) return utf8Name_;
    std::string name = directory_ + filename_;
    ToZipSeparators(name);
    if (StoresUtf8()) return rtl::AnsiToUtf8(name);
    switch (OEMConvert) {
        case oemAlways:
            return AnsiToOemText(name);
        case oemNever:
            return name;
        case oemFlexible: {
            std::string oem = AnsiToOemText(name);
            if (OemToAnsiText(oem) == name) return oem;
            VersionMadeBy = static_cast<uint16_t>((VersionMadeBy & 0xFF) | 11 << 8);
            return name;
        }
    }
    return name;
}

void TZipHeaderInfo::ParseExtraField(const uint8_t* data, size_t length, bool local) {
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t tag = GetU16(data + at);
        uint16_t size = GetU16(data + at + 2);
        size_t body = at + 4;
        if (body + size > length) break;
        if (tag == 1) {
            Zip64BlockLength = static_cast<uint16_t>(4 + size);
            auto& z = EnsureZip64();
            z.Size = size;
            size_t p = body, end = body + size;
            bool uncEsc = UncompressedSize32 == 0xFFFFFFFF;
            bool compEsc = CompressedSize32 == 0xFFFFFFFF;
            if (uncEsc && p + 8 <= end) {
                z.UncompressedSize = GetU64(data + p);
                p += 8;
            }
            if (compEsc && p + 8 <= end) {
                z.CompressedSize = GetU64(data + p);
                p += 8;
            }
            if (!local && RelativeOffset32 == 0xFFFFFFFF && p + 8 <= end) {
                z.RelativeOffset = GetU64(data + p);
                p += 8;
            }
            if (!local && DiskNumberStart16 == 0xFFFF && p + 4 <= end) z.DiskNumberStart = GetU32(data + p);
        }
        at = body + size;
    }
}

bool TZipHeaderInfo::ReadCentralHeader(TStream*& stream, const std::function<TStream*()>& nextPart) {
    int64_t start = stream->Position();
    uint8_t h[46];
    int64_t got = stream->Read(h, 46);
    if (got < 0) got = 0;
    if ((got == 0 || (got < 46 && got >= 4 && GetU32(h) == CentralSignature())) && nextPart) {
        if (TStream* next = nextPart()) {
            stream = next;
            int64_t more = stream->Read(h + got, 46 - got);
            if (more > 0) got += more;
        }
    }
    if (got != 46 || GetU32(h) != CentralSignature()) {
        stream->Seek(start, soBeginning);
        return false;
    }
    uint16_t nameLen = GetU16(h + 28);
    std::string name(nameLen, '\0');
    if (stream->Read(name.data(), nameLen) != nameLen) {
        stream->Seek(start, soBeginning);
        return false;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    Clear();
    VersionMadeBy = GetU16(h + 4);
    VersionNeeded = GetU16(h + 6);
    Flag = GetU16(h + 8);
    CompressionMethod = GetU16(h + 10);
    LastModFileDateTime = FixDosDateTime(GetU32(h + 12));
    CRC32 = GetU32(h + 16);
    CompressedSize32 = GetU32(h + 20);
    UncompressedSize32 = GetU32(h + 24);
    CentralExtraFieldLength = GetU16(h + 30);
    FileCommentLength = GetU16(h + 32);
    DiskNumberStart16 = GetU16(h + 34);
    InternalFileAttributes = GetU16(h + 36);
    ExternalFileAttributes = GetU32(h + 38);
    RelativeOffset32 = GetU32(h + 42);
    name = DecodeName(name, false);
    auto slash = name.find_last_of('\\');
    if (slash == std::string::npos) {
        directory_.clear();
        filename_ = name;
    } else {
        directory_ = name.substr(0, slash + 1);
        filename_ = name.substr(slash + 1);
    }
    FileNameLength = nameLen;
    CentralHeaderPosition = start;
    if (CentralExtraFieldLength != 0) {
        ExtraFieldPosition = stream->Position();
        ExtraFieldLength = CentralExtraFieldLength;
        std::vector<uint8_t> extra(CentralExtraFieldLength);
        int64_t n = stream->Read(extra.data(), CentralExtraFieldLength);
        ParseExtraField(extra.data(), static_cast<size_t>(std::max<int64_t>(n, 0)), false);
        stream->Seek(ExtraFieldPosition, soBeginning);
    }
    return true;
}

bool TZipHeaderInfo::ReadLocalHeader(TStream& stream) {
    int64_t start = stream.Position();
    uint8_t h[30];
    if (stream.Read(h, 30) != 30 || GetU32(h) != LocalSignature()) {
        stream.Seek(start, soBeginning);
        return false;
    }
    uint16_t nameLen = GetU16(h + 26);
    std::string name(nameLen, '\0');
    if (stream.Read(name.data(), nameLen) != nameLen) {
        stream.Seek(start, soBeginning);
        return false;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    Clear();
    VersionMadeBy = 0;
    VersionNeeded = GetU16(h + 4);
    Flag = GetU16(h + 6);
    CompressionMethod = GetU16(h + 8);
    LastModFileDateTime = FixDosDateTime(GetU32(h + 10));
    CRC32 = GetU32(h + 14);
    CompressedSize32 = GetU32(h + 18);
    UncompressedSize32 = GetU32(h + 22);
    LocalExtraFieldLength = GetU16(h + 28);
    InternalFileAttributes = 0;
    ExternalFileAttributes = 0;
    name = DecodeName(name, true);
    auto slash = name.find_last_of('\\');
    directory_ = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    filename_ = slash == std::string::npos ? name : name.substr(slash + 1);
    FileNameLength = nameLen;
    SetRelativeOffset(static_cast<uint64_t>(start));
    if (LocalExtraFieldLength != 0) {
        int64_t extraAt = stream.Position();
        ExtraFieldPosition = extraAt;
        ExtraFieldLength = LocalExtraFieldLength;
        std::vector<uint8_t> extra(LocalExtraFieldLength);
        int64_t n = stream.Read(extra.data(), LocalExtraFieldLength);
        ParseExtraField(extra.data(), static_cast<size_t>(std::max<int64_t>(n, 0)), true);
        stream.Seek(extraAt, soBeginning);
    }
    return true;
}

uint16_t TZipHeaderInfo::Zip64DataSize(bool local) const {
    uint16_t size = 0;
    bool unc = UncompressedSize32 == 0xFFFFFFFF;
    if (unc) size += 8;
    if (CompressedSize32 == 0xFFFFFFFF || (local && unc)) size += 8;
    if (RelativeOffset32 == 0xFFFFFFFF) size += 8;
    if (DiskNumberStart16 == 0xFFFF) size += 4;
    return size;
}

void TZipHeaderInfo::WriteZip64Block(TStream& stream, bool local) {
    uint16_t size = Zip64DataSize(local);
    std::vector<uint8_t> b(4 + size);
    PutU16(b.data(), 1);
    PutU16(b.data() + 2, size);
    size_t p = 4;
    bool unc = UncompressedSize32 == 0xFFFFFFFF;
    if (unc) {
        PutU64(b.data() + p, GetUncompressedSize());
        p += 8;
    }
    if (CompressedSize32 == 0xFFFFFFFF || (local && unc)) {
        PutU64(b.data() + p, GetCompressedSize());
        p += 8;
    }
    if (RelativeOffset32 == 0xFFFFFFFF) {
        PutU64(b.data() + p, GetRelativeOffset());
        p += 8;
    }
    if (DiskNumberStart16 == 0xFFFF) PutU32(b.data() + p, GetDiskNumberStart());
    stream.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
}

void TZipHeaderInfo::WriteLocalHeader(TStream& stream) {
    SetRelativeOffset(static_cast<uint64_t>(stream.Position()));
    uint16_t z64 = Zip64DataSize(true);
    bool unc = UncompressedSize32 == 0xFFFFFFFF;
    VersionNeeded = z64 ? 45 : 20;
    std::string name = StoredName();
    uint8_t h[30];
    PutU32(h, LocalSignature());
    PutU16(h + 4, VersionNeeded);
    PutU16(h + 6, Flag);
    PutU16(h + 8, CompressionMethod);
    PutU32(h + 10, LastModFileDateTime);
    PutU32(h + 14, CRC32);
    PutU32(h + 18, unc ? 0xFFFFFFFF : CompressedSize32);
    PutU32(h + 22, UncompressedSize32);
    PutU16(h + 26, static_cast<uint16_t>(name.size()));
    PutU16(h + 28, static_cast<uint16_t>(LocalExtraFieldLength + (z64 ? 4 + z64 : 0)));
    stream.WriteBuffer(h, 30);
    stream.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
    if (z64) WriteZip64Block(stream, true);
}

void TZipHeaderInfo::WriteCentralHeader(TStream& stream) {
    uint16_t z64 = Zip64DataSize(false);
    VersionNeeded = z64 ? 45 : 20;
    std::string name = StoredName();
    CentralExtraFieldLength = z64 ? static_cast<uint16_t>(4 + z64) : 0;
    uint8_t h[46];
    PutU32(h, CentralSignature());
    PutU16(h + 4, VersionMadeBy);
    PutU16(h + 6, VersionNeeded);
    PutU16(h + 8, Flag);
    PutU16(h + 10, CompressionMethod);
    PutU32(h + 12, LastModFileDateTime);
    PutU32(h + 16, CRC32);
    PutU32(h + 20, CompressedSize32);
    PutU32(h + 24, UncompressedSize32);
    PutU16(h + 28, static_cast<uint16_t>(name.size()));
    PutU16(h + 30, CentralExtraFieldLength);
    PutU16(h + 32, FileCommentLength);
    PutU16(h + 34, DiskNumberStart16);
    PutU16(h + 36, InternalFileAttributes);
    PutU32(h + 38, ExternalFileAttributes);
    PutU32(h + 42, RelativeOffset32);
    stream.WriteBuffer(h, 46);
    stream.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
    if (z64) WriteZip64Block(stream, false);
    if (FileCommentLength) {
        std::string c = FileComment();
        c.resize(FileCommentLength, '\0');
        stream.WriteBuffer(c.data(), FileCommentLength);
    }
    if (!z64) zip64_.reset();
}

// ---------------------------------------------------------------- TEndCentral

TEndCentral::TEndCentral() = default;

void TEndCentral::Clear() {
    Signature = EndSignature();
    ThisDisk16 = StartDisk16 = EntriesThisDisk16 = TotalEntries16 = 0;
    CentralSize32 = CentralOffset32 = 0;
    CommentLength = 0;
    CommentPosition = 0;
    comment_.reset();
    Modified = false;
}

void TEndCentral::Assign(TPersistent* source) {
    if (auto* end = dynamic_cast<TEndCentral*>(source))
        Assign(*end);
    else
        TPersistent::Assign(source);
}

void TEndCentral::AssignTo(TPersistent* dest) {
    if (auto* end = dynamic_cast<TEndCentral*>(dest))
        end->Assign(*this);
    else
        TPersistent::AssignTo(dest);
}

void TEndCentral::Assign(const TEndCentral& s) {
    if (&s == this) return;
    Signature = s.Signature;
    ThisDisk16 = s.ThisDisk16;
    StartDisk16 = s.StartDisk16;
    EntriesThisDisk16 = s.EntriesThisDisk16;
    TotalEntries16 = s.TotalEntries16;
    CentralSize32 = s.CentralSize32;
    CentralOffset32 = s.CentralOffset32;
    CommentLength = s.CommentLength;
    comment_ = s.comment_;
    CommentPosition = s.CommentPosition;
}

const std::string& TEndCentral::Comment() const {
    return comment_ ? *comment_ : kEmpty;
}

void TEndCentral::SetComment(const std::string& value) {
    comment_ = value;
    CommentLength = static_cast<uint16_t>(value.size());
}

TZip64EndRecord& TEndCentral::EnsureZip64End() {
    if (!zip64End_) zip64End_ = std::make_unique<TZip64EndRecord>();
    return *zip64End_;
}

uint32_t TEndCentral::GetThisDisk() const {
    return ThisDisk16 == 0xFFFF && zip64End_ ? zip64End_->ThisDisk : ThisDisk16;
}
void TEndCentral::SetThisDisk(uint32_t v) {
    if (v > 0xFFFE) {
        EnsureZip64End().ThisDisk = v;
        ThisDisk16 = 0xFFFF;
    } else {
        ThisDisk16 = static_cast<uint16_t>(v);
    }
}
uint32_t TEndCentral::GetStartDisk() const {
    return StartDisk16 == 0xFFFF && zip64End_ ? zip64End_->StartDisk : StartDisk16;
}
void TEndCentral::SetStartDisk(uint32_t v) {
    if (v > 0xFFFE) {
        EnsureZip64End().StartDisk = v;
        StartDisk16 = 0xFFFF;
    } else {
        StartDisk16 = static_cast<uint16_t>(v);
    }
}
uint32_t TEndCentral::GetEntriesThisDisk() const {
    return EntriesThisDisk16 == 0xFFFF && zip64End_ ? static_cast<uint32_t>(zip64End_->EntriesThisDisk)
                                                    : EntriesThisDisk16;
}
void TEndCentral::SetEntriesThisDisk(uint32_t v) {
    if (v > 0xFFFE) {
        EnsureZip64End().EntriesThisDisk = v;
        EntriesThisDisk16 = 0xFFFF;
    } else {
        EntriesThisDisk16 = static_cast<uint16_t>(v);
        if (zip64End_) zip64End_->EntriesThisDisk = v;
    }
}
uint64_t TEndCentral::GetTotalEntries() const {
    return TotalEntries16 == 0xFFFF && zip64End_ ? zip64End_->TotalEntries : TotalEntries16;
}
void TEndCentral::SetTotalEntries(uint64_t v) {
    if (v > 0xFFFE) {
        EnsureZip64End().TotalEntries = v;
        TotalEntries16 = 0xFFFF;
    } else {
        TotalEntries16 = static_cast<uint16_t>(v);
        if (zip64End_) zip64End_->TotalEntries = v;
    }
}
uint64_t TEndCentral::GetCentralSize() const {
    return CentralSize32 == 0xFFFFFFFF && zip64End_ ? zip64End_->CentralSize : CentralSize32;
}
void TEndCentral::SetCentralSize(uint64_t v) {
    if (v >= 0xFFFFFFFF) {
        EnsureZip64End().CentralSize = v;
        CentralSize32 = 0xFFFFFFFF;
    } else {
        CentralSize32 = static_cast<uint32_t>(v);
        if (zip64End_) zip64End_->CentralSize = v;
    }
}
uint64_t TEndCentral::GetCentralOffset() const {
    return CentralOffset32 == 0xFFFFFFFF && zip64End_ ? zip64End_->CentralOffset : CentralOffset32;
}
void TEndCentral::SetCentralOffset(uint64_t v) {
    if (v >= 0xFFFFFFFF) {
        EnsureZip64End().CentralOffset = v;
        CentralOffset32 = 0xFFFFFFFF;
    } else {
        CentralOffset32 = static_cast<uint32_t>(v);
    }
}

bool TEndCentral::FindAndRead(TStream& stream) {
    int64_t size = stream.Size();
    if (size < 22) return size == 0;
    int64_t window = std::min<int64_t>(65557, size);
    std::vector<uint8_t> buf(static_cast<size_t>(window));
    stream.Seek(size - window, soBeginning);
    if (stream.Read(buf.data(), window) != window) return false;
    uint32_t sig = EndSignature();
    int64_t found = -1;
    for (int64_t i = window - 22; i >= 0; --i) {
        if (buf[static_cast<size_t>(i)] == static_cast<uint8_t>(sig) &&
            GetU32(&buf[static_cast<size_t>(i)]) == sig) {
            found = i;
            break;
        }
    }
    if (found < 0) return false;
    const uint8_t* r = &buf[static_cast<size_t>(found)];
    Clear();
    Signature = sig;
    ThisDisk16 = GetU16(r + 4);
    StartDisk16 = GetU16(r + 6);
    EntriesThisDisk16 = GetU16(r + 8);
    TotalEntries16 = GetU16(r + 10);
    CentralSize32 = GetU32(r + 12);
    CentralOffset32 = GetU32(r + 16);
    CommentLength = GetU16(r + 20);
    int64_t absolute = size - window + found;
    CommentPosition = absolute + 22;
    if (found + 22 + CommentLength <= window)
        comment_ = std::string(reinterpret_cast<const char*>(r + 22), CommentLength);
    zip64End_.reset();
    locator_.reset();
    if (found >= 20 && GetU32(r - 20) == ZIP64LOCSIG) {
        const uint8_t* l = r - 20;
        locator_ = std::make_unique<TZip64Locator>();
        locator_->Disk = GetU32(l + 4);
        locator_->Offset = GetU64(l + 8);
        locator_->TotalDisks = GetU32(l + 16);
        uint8_t z[56];
        stream.Seek(static_cast<int64_t>(locator_->Offset), soBeginning);
        if (stream.Read(z, 56) == 56 && GetU32(z) == ZIP64ENDSIG) {
            auto& e = EnsureZip64End();
            e.RecordSize = GetU64(z + 4);
            e.VersionMadeBy = GetU16(z + 12);
            e.VersionNeeded = GetU16(z + 14);
            e.ThisDisk = GetU32(z + 16);
            e.StartDisk = GetU32(z + 20);
            e.EntriesThisDisk = GetU64(z + 24);
            e.TotalEntries = GetU64(z + 32);
            e.CentralSize = GetU64(z + 40);
            e.CentralOffset = GetU64(z + 48);
        }
    }
    return true;
}

void TEndCentral::WriteRecord(TStream& stream) {
    if (zip64End_) {
        auto& e = *zip64End_;
        bool escaped = false;
        if (ThisDisk16 != 0xFFFF)
            e.ThisDisk = ThisDisk16;
        else
            escaped = true;
        if (StartDisk16 != 0xFFFF)
            e.StartDisk = StartDisk16;
        else
            escaped = true;
        if (EntriesThisDisk16 != 0xFFFF)
            e.EntriesThisDisk = EntriesThisDisk16;
        else
            escaped = true;
        if (TotalEntries16 != 0xFFFF)
            e.TotalEntries = TotalEntries16;
        else
            escaped = true;
        if (CentralSize32 != 0xFFFFFFFF)
            e.CentralSize = CentralSize32;
        else
            escaped = true;
        if (CentralOffset32 != 0xFFFFFFFF)
            e.CentralOffset = CentralOffset32;
        else
            escaped = true;
        if (escaped) {
            locator_ = std::make_unique<TZip64Locator>();
            locator_->Disk = GetThisDisk();
            locator_->Offset = static_cast<uint64_t>(stream.Position());
            locator_->TotalDisks = GetThisDisk() + 1;
            uint8_t z[56];
            PutU32(z, ZIP64ENDSIG);
            PutU64(z + 4, 44);
            PutU16(z + 12, 45);
            PutU16(z + 14, 45);
            PutU32(z + 16, e.ThisDisk);
            PutU32(z + 20, e.StartDisk);
            PutU64(z + 24, e.EntriesThisDisk);
            PutU64(z + 32, e.TotalEntries);
            PutU64(z + 40, e.CentralSize);
            PutU64(z + 48, e.CentralOffset);
            stream.WriteBuffer(z, 56);
            uint8_t l[20];
            PutU32(l, ZIP64LOCSIG);
            PutU32(l + 4, locator_->Disk);
            PutU64(l + 8, locator_->Offset);
            PutU32(l + 16, locator_->TotalDisks);
            stream.WriteBuffer(l, 20);
        } else {
            zip64End_.reset();
            locator_.reset();
        }
    }
    uint8_t r[22];
    PutU32(r, EndSignature());
    PutU16(r + 4, ThisDisk16);
    PutU16(r + 6, StartDisk16);
    PutU16(r + 8, EntriesThisDisk16);
    PutU16(r + 10, TotalEntries16);
    PutU32(r + 12, CentralSize32);
    PutU32(r + 16, CentralOffset32);
    PutU16(r + 20, CommentLength);
    stream.WriteBuffer(r, 22);
    if (CommentLength && comment_) {
        std::string c = *comment_;
        c.resize(CommentLength, '\0');
        stream.WriteBuffer(c.data(), CommentLength);
    }
}

// ---------------------------------------------------------------- TSortedZip

TSortedZip::TSortedZip(TDuplicates duplicates, bool ownsItems) : TSortedObjectList(duplicates, ownsItems) {}

int TSortedZip::Add(TObject* item) {
    int r = TSortedObjectList::Add(item);
    if (static_cast<TZipHeaderInfo*>(item)->Zip64()) Zip64 = true;
    return r;
}

int TSortedZip::IndexOf(TObject* item) {
    int i = TSortedObjectList::IndexOf(item);
    if (i >= 0 && GetItem(i) == item) return i;
    // Some orders never report two entries as equal; look for the object itself.
    return TObjectList::IndexOf(item);
}

int TSortedZip::Compare(const TObject* itemObj, const TObject* keyObj) const {
    const auto& a = *static_cast<const TZipHeaderInfo*>(itemObj);
    const auto& b = *static_cast<const TZipHeaderInfo*>(keyObj);
    auto sign = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
    switch (SortMode) {
        case ByName:
            if (CaseSensitive) return sign(a.FullName().compare(b.FullName()), 0);
            return CompareTextAscii(a.FullName(), b.FullName());
        case ByFileName:
            return CompareTextAscii(a.FileName(), b.FileName());
        case ByDirectoryName:
            return CompareTextAscii(a.Directory(), b.Directory());
        case ByDate: {
            double da = 0, db = 0;
            if (!TryDosDateTimeToDateTime(a.LastModFileDateTime, da)) da = 0;
            if (!TryDosDateTimeToDateTime(b.LastModFileDateTime, db)) db = 0;
            return da < db ? 1 : -1;
        }
        case ByCompressedSize: {
            auto x = static_cast<uint32_t>(a.GetCompressedSize()),
                 y = static_cast<uint32_t>(b.GetCompressedSize());
            return x < y ? 1 : -1;
        }
        case ByUnCompressedSize: {
            auto x = static_cast<uint32_t>(a.GetUncompressedSize());
            auto y = static_cast<uint32_t>(b.GetUncompressedSize());
            return x < y ? 1 : -1;
        }
        case ByRate: {
            int x = PercentOf(static_cast<double>(a.GetCompressedSize()),
                              static_cast<double>(a.GetUncompressedSize()));
            int y = PercentOf(static_cast<double>(b.GetCompressedSize()),
                              static_cast<double>(b.GetUncompressedSize()));
            return sign(y, x);
        }
        case ByNone: {
            int d = sign(a.GetDiskNumberStart(), b.GetDiskNumberStart());
            return d != 0 ? d : sign(a.GetRelativeOffset(), b.GetRelativeOffset());
        }
    }
    return 0;
}

}  // namespace zip
