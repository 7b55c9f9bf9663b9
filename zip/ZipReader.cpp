#include "zip/ZipReader.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "zip/kpMatch.h"

namespace zip {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ZipLowerCase(a) == ZipLowerCase(b);
}

std::string ChangeExt(const std::string& name, const std::string& ext) {
    size_t slash = name.find_last_of('/');
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

bool FileExistsHere(const std::string& name) {
    struct stat st {};
    return ::stat(rtl::SysFileName(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Restores a flag of the component when a step ends, also by an exception.
class FlagGuard {
public:
    FlagGuard(TZipReader& r, bool (TZipReader::*exchange)(bool)) : r_(r), exchange_(exchange) {
        old_ = (r_.*exchange_)(true);
    }
    ~FlagGuard() { (r_.*exchange_)(old_); }

private:
    TZipReader& r_;
    bool (TZipReader::*exchange_)(bool);
    bool old_;
};

// A sound single-part archive ends with its central directory, exactly as large as the end
// record says, directly followed by the end record (or by the Zip64 end record that the
// locator names). Anything else is a damaged or cut archive, or one with a forged end.
TArchiveDamage CheckDirectory(const TEndCentral& end, int64_t directoryEnd) {
    if (end.GetTotalEntries() == 0) return adNone;
    if (end.GetEntriesThisDisk() != end.GetTotalEntries()) return adEntryCount;
    const uint64_t offset = end.GetCentralOffset();
    if (directoryEnd < 0 || static_cast<uint64_t>(directoryEnd) - offset != end.GetCentralSize())
        return adDirectorySize;
    // The comment follows the 22-byte end record.
    const uint64_t endStart =
        end.Zip64Locator() ? end.Zip64Locator()->Offset : static_cast<uint64_t>(end.CommentPosition - 22);
    return static_cast<uint64_t>(directoryEnd) == endStart ? adNone : adDirectoryPlace;
}

}  // namespace

std::string LoadZipStr(int id) {
    switch (id) {
        case IDS_OPENZIP:
            return "Open a Zip File";
        case IDS_ZIPFILESFILTER:
            return "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files "
                   "(*.*)|*.*";
        case IDS_CANCELDESTDIR:
            return "User canceled Set Desination Directory";
        case IDS_INDEXOUTOFRANGE:
            return "Index %d is out of range";
        case IDS_USERCANCELED:
            return "User Aborted Operation";
        case IDS_INCOMPLETEZIP:
            return "Incomplete Zip File";
        case IDS_INVALIDZIP:
            return "Not a valid zip file!";
        case IDS_INSERTDISK:
            return "Please insert disk ";
        case IDS_OFMULTISET:
            return " of the multi-disk set.";
        case IDS_CANCELZIPNAME:
            return "User canceled setting zip file name.";
        case IDS_CANCELOPERATION:
            return "User canceled Zip operation";
        case IDS_COPYFROM:
            return "Could not copy from ";
        case IDS_ERROR:
            return "Error";
        case IDS_NOTENOUGHROOM:
            return "Not enough room to write archive";
        case IDS_SHORTREAD:
            return "The file yielded fewer bytes than its size when it was opened";
        default:
            return std::string();
    }
}

// ---------------------------------------------------------------- encryption

uint32_t CrcStep(uint32_t crc, uint8_t b) {
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

void TZipCryptKeys::Init(const std::string& password) {
    Key0 = 0x12345678;
    Key1 = 0x23456789;
    Key2 = 0x34567890;
    for (char c : password) Update(static_cast<uint8_t>(c));
}

void TZipCryptKeys::Update(uint8_t c) {
    Key0 = CrcStep(Key0, c);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1;
    Key2 = CrcStep(Key2, static_cast<uint8_t>(Key1 >> 24));
}

uint8_t TZipCryptKeys::DecryptByte() const {
    // Unsigned arithmetic: t * (t ^ 1) overflows int after promotion.
    uint32_t t = (Key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

uint8_t TZipCryptKeys::EncryptByte(uint8_t p) {
    uint8_t k = DecryptByte();
    Update(p);
    return p ^ k;
}

uint8_t TZipCryptKeys::DecryptOne(uint8_t c) {
    uint8_t p = c ^ DecryptByte();
    Update(p);
    return p;
}

// The keys stay in registers for the whole buffer: every byte of an encrypted entry passes here.
template <bool Encrypt>
void CryptBuffer(TZipCryptKeys& keys, uint8_t* buffer, size_t length) {
    static const z_crc_t* const table = get_crc_table();
    uint32_t k0 = keys.Key0, k1 = keys.Key1, k2 = keys.Key2;
    for (size_t i = 0; i < length; ++i) {
        const uint32_t t = (k2 & 0xFFFF) | 2;
        const auto mask = static_cast<uint8_t>((t * (t ^ 1)) >> 8);
        const uint8_t plain = Encrypt ? buffer[i] : static_cast<uint8_t>(buffer[i] ^ mask);
        buffer[i] ^= mask;
        k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    keys.Key0 = k0;
    keys.Key1 = k1;
    keys.Key2 = k2;
}

void TZipCryptKeys::EncryptBuffer(uint8_t* buffer, size_t length) {
    CryptBuffer<true>(*this, buffer, length);
}

void TZipCryptKeys::DecryptBuffer(uint8_t* buffer, size_t length) {
    CryptBuffer<false>(*this, buffer, length);
}

// ---------------------------------------------------------------- component

TZipReader::TZipReader(rtl::TComponent* owner)
    : rtl::TComponent(owner), endCentral_(std::make_unique<TEndCentral>()) {
    scratch_.OEMConvert = OEMConvert;
}

TZipReader::~TZipReader() {
    stream_.reset();
    FreeDirectory();
}

void TZipReader::Assign(rtl::TPersistent* source) {
    auto* other = dynamic_cast<TZipReader*>(source);
    if (other == nullptr) {
        rtl::TComponent::Assign(source);
        return;
    }
    if (other == this) return;
    const TZipReader& s = *other;
    SetZipName(s.zipName_);
    destDir_ = s.destDir_;
    rootDir_ = s.rootDir_;
    RelativePathList = s.RelativePathList;
    sortMode_ = s.sortMode_;
    RecreateDirs = s.RecreateDirs;
    OverwriteMode = s.OverwriteMode;
    FilesList = s.FilesList;
    DoAll = s.DoAll;
    IncompleteZipMode = s.IncompleteZipMode;
    KeepZipOpen = s.KeepZipOpen;
    DoProcessMessages = s.DoProcessMessages;
    RetainAttributes = s.RetainAttributes;
    ReplaceReadOnly = s.ReplaceReadOnly;
    FlushFilesOnClose = s.FlushFilesOnClose;
    BlockMode = s.BlockMode;
    OEMConvert = s.OEMConvert;
    Password = s.Password;
    OnStartUnZipInfo = s.OnStartUnZipInfo;
    OnStartUnZip = s.OnStartUnZip;
    OnEndUnZip = s.OnEndUnZip;
    OnPromptForOverwrite = s.OnPromptForOverwrite;
    OnBadCRC = s.OnBadCRC;
    OnUnZipComplete = s.OnUnZipComplete;
    OnFilePercentDone = s.OnFilePercentDone;
    OnTotalPercentDone = s.OnTotalPercentDone;
    OnSkippingFile = s.OnSkippingFile;
    OnBadPassword = s.OnBadPassword;
    OnInCompleteZip = s.OnInCompleteZip;
    OnGetNextDisk = s.OnGetNextDisk;
    OnDecrypt = s.OnDecrypt;
    OnFileNameForSplitPart = s.OnFileNameForSplitPart;
    OnHandleMessage = s.OnHandleMessage;
}

void TZipReader::Loaded() {
    rtl::TComponent::Loaded();
    scratch_.OEMConvert = OEMConvert;
}

void TZipReader::SetZipName(const std::string& value) {
    if (SameText(value, zipName_)) return;
    if (!value.empty() && value.back() == '?') throw EUserCanceled(LoadZipStr(IDS_CANCELZIPNAME));
    zipName_ = value;
    size_t slash = value.find_last_of('/');
    size_t dot = value.find('.', slash == std::string::npos ? 0 : slash + 1);
    stem_ = dot == std::string::npos ? value : value.substr(0, dot);
    ForgetArchive();
}

void TZipReader::SetDestDir(const std::string& value) {
    if (value == "?") throw EUserCanceled(LoadZipStr(IDS_CANCELDESTDIR));
    destDir_ = value;
    if (!destDir_.empty() && (destDir_.back() == '/' || destDir_.back() == '\\')) destDir_.pop_back();
}

void TZipReader::SetRootDir(const std::string& value) {
    rootDir_ = value;
    if (!rootDir_.empty() && rootDir_.back() != '/') rootDir_ += '/';
    RelativePathList.clear();
    if (!rootDir_.empty()) RelativePathList.push_back(rootDir_);
}

std::string TZipReader::StripRelativePath(const std::string& path) const {
    for (const auto& prefix : RelativePathList)
        if (path.size() >= prefix.size() && SameText(path.substr(0, prefix.size()), prefix))
            return path.substr(prefix.size());
    return path;
}

void TZipReader::FreeDirectory() {
    if (view_ != directory_) delete view_;
    view_ = nullptr;
    delete directory_;
    directory_ = nullptr;
}

void TZipReader::ForgetArchive() {
    FreeDirectory();
    archiveTime_ = 0;
    endCentral_->Clear();
    stream_.reset();
    rebuilt_ = false;
    damage_ = adNone;
}

int64_t TZipReader::ArchiveFileTime(const std::string& name) const {
    struct stat st {};
    if (::stat(rtl::SysFileName(name).c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void TZipReader::OpenZipFile() {
    if (!stream_)
        stream_ =
            std::make_unique<TLFNFileStream>(zipName_, fmOpenRead | fmShareDenyWrite, false, bufferSize_);
    if (!directory_ || ArchiveFileTime(zipName_) != archiveTime_) ReadZip();
}

void TZipReader::CloseZipFile() {
    if (!KeepZipOpen) stream_.reset();
}

void TZipReader::ClearZip() {
    stream_.reset();
    FreeDirectory();
    endCentral_->Clear();
    rebuilt_ = false;
    damage_ = adNone;
    archiveTime_ = 0;
    numberOfParts_ = 1;
    multiMode_ = mmNone;
    zipName_.clear();
}

void TZipReader::CheckCancelAndPause() {
    if (!DoProcessMessages) return;
    PumpWindowMessages();
    if (CancelRequest) {
        CancelRequest = false;
        throw EUserCanceled(LoadZipStr(IDS_USERCANCELED));
    }
    while (PauseRequest) {
        ::usleep(1000 * 1000);
        PumpWindowMessages();
    }
}

bool TZipReader::RebuildByScanning() {
    if (rebuilt_) return false;
    rebuilt_ = true;
    FreeDirectory();
    TStream& s = *stream_;
    int64_t start = 0;
    if (zipName_.size() >= 4 && SameText(zipName_.substr(zipName_.size() - 4), ".exe")) start = 14000;
    const int64_t size = s.Size();
    // Find the first local signature whose version-needed high byte is plausible.
    int64_t found = -1;
    std::vector<uint8_t> buf(65536 + 6);
    int64_t pos = start;
    while (found < 0 && pos < size) {
        s.Seek(pos, soBeginning);
        int64_t n = s.Read(buf.data(), static_cast<int64_t>(buf.size()));
        if (n < 6) break;
        for (int64_t i = 0; i + 6 <= n; ++i) {
            if (GetU32(&buf[static_cast<size_t>(i)]) == LocalSignature() &&
                buf[static_cast<size_t>(i) + 5] < 10) {
                found = pos + i;
                break;
            }
        }
        if (found < 0) pos += n - 5;
        if (DoProcessMessages) CheckCancelAndPause();
    }
    if (found < 0) return false;
    auto* dir = new TSortedZip(dupError, true);
    s.Seek(found, soBeginning);
    for (;;) {
        auto entry = std::make_unique<TZipHeaderInfo>();
        entry->OEMConvert = OEMConvert;
        if (!entry->ReadLocalHeader(s)) break;
        int64_t skip = entry->LocalExtraFieldLength + static_cast<int64_t>(entry->GetCompressedSize());
        if (entry->HasDataDescriptor()) skip += 16;
        try {
            dir->Add(entry.get());
            entry.release();
        } catch (const rtl::EListError&) {
            break;
        }
        s.Seek(skip, soCurrent);
        if (s.Position() > size) break;
    }
    if (dir->Count() == 0) {
        delete dir;
        return false;
    }
    directory_ = dir;
    endCentral_->Clear();
    endCentral_->SetCentralOffset(static_cast<uint64_t>(s.Position()));
    endCentral_->SetTotalEntries(static_cast<uint64_t>(dir->Count()));
    endCentral_->SetEntriesThisDisk(static_cast<uint32_t>(dir->Count()));
    currentPart_ = 0;
    numberOfParts_ = 1;
    return true;
}

void TZipReader::ReadZip() {
    FlagGuard reading(*this, &TZipReader::ExchangeReadingFlag);
    if (!stream_)
        stream_ =
            std::make_unique<TLFNFileStream>(zipName_, fmOpenRead | fmShareDenyWrite, false, bufferSize_);
    archiveTime_ = ArchiveFileTime(zipName_);
    FreeDirectory();
    rebuilt_ = false;
    damage_ = adNone;

    TEndCentral& end = *endCentral_;
    bool found = end.FindAndRead(*stream_);
    if (found && end.GetThisDisk() < end.GetStartDisk()) found = false;
    bool fromConfig = false;
    if (!found) {
        std::string config = ChangeExt(zipName_, ".zfc");
        if (FileExistsHere(config)) {
            auto cfg =
                std::make_unique<TLFNFileStream>(config, fmOpenRead | fmShareDenyNone, false, bufferSize_);
            if (end.FindAndRead(*cfg)) {
                found = true;
                fromConfig = true;
                cfg->Seek(0, soBeginning);
                stream_ = std::move(cfg);
            }
        }
    }
    if (found) {
        currentPart_ = fromConfig ? 0 : static_cast<int>(end.GetThisDisk());
        if (end.GetThisDisk() != 0 && multiMode_ == mmNone) multiMode_ = mmBlocks;
        if (end.GetThisDisk() == 0) multiMode_ = mmNone;
        numberOfParts_ = static_cast<int>(end.GetThisDisk()) + 1;
        if (end.GetTotalEntries() > 0 && !fromConfig) {
            if (static_cast<int>(end.GetStartDisk()) != currentPart_)
                SwitchToDisk(static_cast<int>(end.GetStartDisk()) + 1);
            stream_->Seek(static_cast<int64_t>(end.GetCentralOffset()), soBeginning);
        }
    } else {
        TIncompleteZipMode mode = IncompleteZipMode;
        if (OnInCompleteZip) OnInCompleteZip(*this, mode);
        IncompleteZipMode = mode;
        if (mode == izAssumeNotAZip) throw ENotAZipFile(LoadZipStr(IDS_INVALIDZIP));
        if (mode == izAssumeMulti) throw EIncompleteZip(LoadZipStr(IDS_INCOMPLETEZIP));
        if (!RebuildByScanning()) {
            ForgetArchive();
            throw EBadZipFile(LoadZipStr(IDS_INVALIDZIP));
        }
        stream_->Seek(static_cast<int64_t>(end.GetCentralOffset()), soBeginning);
    }

    const bool multiPart = numberOfParts_ > 1;
    if (!directory_) directory_ = new TSortedZip(dupError, true);
    std::function<TStream*()> nextPart;
    if (multiPart) nextPart = [this]() { return SwitchToDisk(currentPart_ + 2); };

    auto fail = [this]() {
        ForgetArchive();
        throw EBadZipFile(LoadZipStr(IDS_INVALIDZIP));
    };
    auto restartRebuilt = [&]() -> bool {
        if (multiPart || !RebuildByScanning()) return false;
        stream_->Seek(static_cast<int64_t>(end.GetCentralOffset()), soBeginning);
        return true;
    };

    TZipHeaderInfo* previous = nullptr;
    for (uint64_t i = 0; i < end.GetTotalEntries(); ++i) {
        CheckCancelAndPause();
        auto entry = std::make_unique<TZipHeaderInfo>();
        entry->OEMConvert = OEMConvert;
        TStream* s = stream_.get();
        bool ok = entry->ReadCentralHeader(s, multiPart && !rebuilt_ ? nextPart : nullptr);
        if (!ok && previous && previous->CentralExtraFieldLength > 0) {
            // The previous entry claimed an extra field that is not there.
            int64_t l = previous->CentralExtraFieldLength;
            previous->CentralExtraFieldLength = 0;
            stream_->Seek(-l, soCurrent);
            s = stream_.get();
            ok = entry->ReadCentralHeader(s, multiPart && !rebuilt_ ? nextPart : nullptr);
        }
        if (ok) {
            int64_t skip = entry->CentralExtraFieldLength + entry->FileCommentLength;
            if (rebuilt_) {
                int index;
                if (directory_->Find(entry.get(), index)) {
                    TZipHeaderInfo& scanned = *directory_->Entry(index);
                    uint64_t offset = scanned.GetRelativeOffset();
                    scanned.Assign(*entry);
                    scanned.SetRelativeOffset(offset);
                }
                stream_->Seek(skip, soCurrent);
                previous = nullptr;
                continue;
            }
            TZipHeaderInfo* added = entry.get();
            try {
                directory_->Add(added);
                entry.release();
            } catch (const rtl::EListError&) {
                if (!restartRebuilt()) fail();
                i = static_cast<uint64_t>(-1);
                previous = nullptr;
                continue;
            }
            if (multiPart) ReadComment(*added);
            stream_->Seek(skip, soCurrent);
            previous = added;
        } else {
            if (rebuilt_) break;
            if (!restartRebuilt()) fail();
            i = static_cast<uint64_t>(-1);
            previous = nullptr;
        }
    }
    if (rebuilt_)
        damage_ = adRebuilt;
    else if (!multiPart && !fromConfig)
        damage_ = CheckDirectory(end, stream_->Position());
    if (multiPart && end.HasComment() && !end.CommentLoaded()) GetZipComment();
    currentPart_ = fromConfig ? 0 : static_cast<int>(end.GetThisDisk());
    TZipSortMode mode = sortMode_;
    sortMode_ = ByNone;
    view_ = directory_;
    SortFiles(mode);
    if (fromConfig) stream_.reset();
}

void TZipReader::SortFiles(TZipSortMode mode) {
    if (view_ != directory_) delete view_;
    view_ = nullptr;
    if (directory_) {
        if (mode == ByNone) {
            view_ = directory_;
        } else {
            view_ = new TSortedZip(dupAccept, false);
            view_->SortMode = mode;
            for (int i = 0; i < directory_->Count(); ++i) view_->Add(directory_->GetItem(i));
        }
    }
    sortMode_ = mode;
}

int TZipReader::GetCount() {
    if (!zipName_.empty() && !directory_) OpenZipFile();
    return directory_ ? directory_->Count() : 0;
}

void TZipReader::CheckIndex(int index) {
    if (index < 0 || index >= GetCount() || !view_) {
        std::string text = LoadZipStr(IDS_INDEXOUTOFRANGE);
        text.replace(text.find("%d"), 2, std::to_string(index));
        throw rtl::EListError(text);
    }
}

TZipHeaderInfo& TZipReader::Entry(int index) {
    CheckIndex(index);
    return *view_->Entry(index);
}

rtl::TDateTime TZipReader::GetDateTime(int index) {
    rtl::TDateTime result;
    if (!TryDosDateTimeToDateTime(Entry(index).LastModFileDateTime, result)) result = NowDateTime();
    return result;
}

void TZipReader::ReadComment(TZipHeaderInfo& entry) {
    if (entry.CommentLoaded() || entry.FileCommentLength == 0) return;
    int64_t save = stream_->Position();
    stream_->Seek(entry.CentralHeaderPosition + 46 + entry.FileNameLength + entry.CentralExtraFieldLength,
                  soBeginning);
    std::string text(entry.FileCommentLength, '\0');
    int64_t n = stream_->Read(text.data(), entry.FileCommentLength);
    text.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
    uint16_t length = entry.FileCommentLength;
    entry.SetFileComment(text);
    entry.FileCommentLength = length;
    stream_->Seek(save, soBeginning);
}

std::string TZipReader::GetFileComment(int index) {
    TZipHeaderInfo& entry = Entry(index);
    if (!entry.CommentLoaded() && entry.FileCommentLength != 0) {
        OpenZipFile();
        ReadComment(entry);
        if (numberOfParts_ <= 1) CloseZipFile();
    }
    return entry.FileComment();
}

void TZipReader::SetFileComment(int index, const std::string& value) {
    TZipHeaderInfo& entry = Entry(index);
    if (GetFileComment(index) == value) return;
    entry.SetFileComment(value);
    endCentral_->Modified = true;
}

std::string TZipReader::GetZipComment() {
    if (!directory_ && !zipName_.empty() && FileExistsHere(zipName_)) {
        OpenZipFile();
        CloseZipFile();
    }
    TEndCentral& end = *endCentral_;
    if (!end.CommentLoaded() && end.CommentLength != 0) {
        OpenZipFile();
        int64_t save = stream_->Position();
        stream_->Seek(end.CommentPosition, soBeginning);
        std::string text(end.CommentLength, '\0');
        int64_t n = stream_->Read(text.data(), end.CommentLength);
        text.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
        uint16_t length = end.CommentLength;
        end.SetComment(text);
        end.CommentLength = length;
        stream_->Seek(save, soBeginning);
        if (numberOfParts_ <= 1) CloseZipFile();
    }
    return end.Comment();
}

void TZipReader::SetZipComment(const std::string& value) {
    if (!zipName_.empty() && FileExistsHere(zipName_)) {
        // Load the archive first, so that reading it later does not drop the new comment.
        OpenZipFile();
        bool same = GetZipComment() == value;
        CloseZipFile();
        if (same) return;
    }
    endCentral_->SetComment(value);
    endCentral_->Modified = true;
}

bool TZipReader::ExchangeBusyFlag(bool value) {
    bool old = busy_;
    busy_ = value;
    return old;
}

bool TZipReader::ExchangeReadingFlag(bool value) {
    bool old = reading_;
    reading_ = value;
    return old;
}

void TZipReader::UpdateCRC(const uint8_t* buffer, size_t count) {
    // zlib's crc32 works on the complemented value.
    Crc = ~static_cast<uint32_t>(::crc32(~Crc & 0xFFFFFFFFu, buffer, static_cast<uInt>(count)));
}

void TZipReader::GetNextDisk(int number, std::string& name) {
    if (OnGetNextDisk) {
        OnGetNextDisk(*this, number, name);
        return;
    }
    if (GetMultiMode() != mmSpan) return;
    std::string text = LoadZipStr(IDS_INSERTDISK) + std::to_string(number) + LoadZipStr(IDS_OFMULTISET);
    if (text.size() > 255) text.resize(255);
    if (DoHandleMessage(IDS_INSERTDISK, text, LoadZipStr(IDS_OPENZIP), MB_OKCANCEL) == IDCANCEL) name.clear();
}

void TZipReader::PartFileName(std::string& name, int number, TSplitPartType type) {
    if (OnFileNameForSplitPart) {
        OnFileNameForSplitPart(*this, name, number, type);
        return;
    }
    char num[16];
    if (BlockMode == bmClassic) {
        std::snprintf(num, sizeof num, "%3.3d", number);
        name += "." + std::string(num);
    } else if (type == spLast) {
        name += ".zip";
    } else {
        std::snprintf(num, sizeof num, "z%2.2d", number);
        name += ".zip." + std::string(num);
    }
}

TStream* TZipReader::SwitchToDisk(int partNumber) {
    stream_.reset();
    std::string name;
    if (GetMultiMode() == mmSpan) {
        for (;;) {
            name = zipName_;
            GetNextDisk(partNumber, name);
            if (name.empty()) throw EUserCanceled("User canceled loading new disk.");
            if (FileExistsHere(name)) break;
        }
    } else {
        TSplitPartType type = partNumber == 1 ? spFirst : spMiddle;
        if (reading_ && partNumber == numberOfParts_) type = spLast;
        name = stem_;
        PartFileName(name, partNumber, type);
    }
    stream_ = std::make_unique<TLFNFileStream>(name, fmOpenRead | fmShareDenyNone, false, bufferSize_);
    currentPart_ = partNumber - 1;
    archiveTime_ = ArchiveFileTime(name);
    zipName_ = name;
    return stream_.get();
}

int TZipReader::DoHandleMessage(int messageId, const std::string& msg1, const std::string& msg2,
                                uint32_t flags) {
    // No person watches a service: the message goes to the handler, or takes the cautious
    // answer (Cancel where offered) without waiting.
    int answer = (flags & MB_OKCANCEL) ? IDCANCEL : IDOK;
    if (OnHandleMessage) OnHandleMessage(*this, messageId, msg1, msg2, flags, answer);
    return answer;
}

}  // namespace zip
