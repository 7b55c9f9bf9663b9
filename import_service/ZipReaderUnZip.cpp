// The extraction engine: checks a package archive as a whole, then extracts its entries
// below the destination, one method decoder and one CRC check per entry.
#include "import_service/ZipReaderUnZip.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "import_service/UnZipMethods.h"
#include "import_service/ZipReaderUnZipDest.h"
#include "platform/rtl/Files.h"
#include "zip/kpMatch.h"

namespace svc {

using zip::TZipHeaderInfo;

namespace {

constexpr size_t kChunk = 32768;
constexpr uint32_t MB_YESNO = 0x4;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int kMsgUnknownMethod = 0;
constexpr int kMsgOverwrite = 1;

const char* const kPremature = "Premature end of file reached";

// Local file header: signature (4), versions, flags, method, time, CRC, sizes (22), name
// length at 26 (2), extra length at 28 (2), then name and extra field.
constexpr int64_t kLocalHeaderSize = 30;
constexpr int kLocalNameLength = 26;
constexpr int kLocalExtraLength = 28;
// A data descriptor is at least CRC and the two sizes (12 bytes); its signature is optional.
constexpr uint64_t kMinDataDescriptor = 12;

// Restores a flag of the component when a step ends, also by an exception.
class TFlagGuard {
public:
    TFlagGuard(zip::TZipReader& r, bool (zip::TZipReader::*exchange)(bool)) : r_(r), exchange_(exchange) {
        old_ = (r_.*exchange_)(true);
    }
    ~TFlagGuard() { (r_.*exchange_)(old_); }

private:
    zip::TZipReader& r_;
    bool (zip::TZipReader::*exchange_)(bool);
    bool old_;
};

std::string Slashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// An entry whose name has nothing but separators and "." steps names the destination itself.
bool NamesNothing(const TZipHeaderInfo& entry) {
    const std::string name = entry.FullName();
    return std::all_of(name.begin(), name.end(), [](char c) { return c == '\\' || c == '/' || c == '.'; }) &&
           name.find("..") == std::string::npos;
}

// Absolute names and parent-folder steps would let an archive write outside the destination;
// a NUL byte would end the name early for the system, where "..\0x" becomes "..".
bool UnsafeName(const std::string& name) {
    if (name.find('\0') != std::string::npos) return true;
    if (name.empty()) return false;
    if (name[0] == '/' || (name.size() >= 2 && name[1] == ':')) return true;
    size_t start = 0;
    for (;;) {
        size_t end = name.find('/', start);
        if (name.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0)
            return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

}  // namespace

// Work state of one extraction run and of its current entry.
struct TUnZipReader::TRun {
    std::unique_ptr<TZipHeaderInfo> entry;
    bool encrypted = false;
    uint64_t declared = 0;
    uint64_t written = 0;
    std::vector<uint8_t> outBuf = std::vector<uint8_t>(kChunk + 1);
    size_t outCount = 0;
    std::unique_ptr<rtl::THandleStream> out;
    std::vector<int> selected;
    std::vector<int64_t> dataStart;  // per directory entry; -1: read when extracted (parts)
    uint64_t totalBytes = 0;
    uint64_t totalWritten = 0;
};

// Compressed bytes of the current entry, read in chunks and decrypted right away.
class TEntrySource : public TUnzipSource {
public:
    TEntrySource(TUnZipReader& r, TUnZipReader::TRun& run) : r_(r), run_(run) {}
    size_t ReadChunk(uint8_t* buffer, size_t count) override {
        return r_.ReadCompressed(run_, buffer, count);
    }

private:
    TUnZipReader& r_;
    TUnZipReader::TRun& run_;
};

// Collects decompressed bytes and writes them out a full buffer at a time.
class TEntrySink : public TUnzipSink {
public:
    TEntrySink(TUnZipReader& r, TUnZipReader::TRun& run) : r_(r), run_(run) {}
    void Put(const uint8_t* data, size_t count) override {
        while (count > 0) {
            size_t take = std::min(count, kChunk - run_.outCount);
            std::memcpy(run_.outBuf.data() + run_.outCount, data, take);
            run_.outCount += take;
            data += take;
            count -= take;
            if (run_.outCount >= kChunk) r_.FlushOutput(run_);
        }
    }

private:
    TUnZipReader& r_;
    TUnZipReader::TRun& run_;
};

TUnZipReader::TUnZipReader(rtl::TComponent* owner)
    : zip::TZipReader(owner), dest_(std::make_unique<TUnZipDestination>()) {
    // Headers and data of neighbouring entries then come from one read.
    bufferSize_ = 64 * 1024;
}

TUnZipReader::~TUnZipReader() = default;

std::string TUnZipReader::GetFilename(int index) {
    return Entry(index).FileName();
}

uint8_t TUnZipReader::DecryptHeader(const std::string& password, uint8_t* header) {
    InitCryptKeys(password);
    CryptKeys().DecryptBuffer(header, 12);
    return header[11];
}

uint8_t TUnZipReader::ReadEncryptionHeader(const std::string& password, rtl::TStream& stream) {
    uint8_t header[12];
    if (stream.Read(header, 12) != 12) throw EFatalUnzipError(kPremature);
    remaining_ -= 12;
    return DecryptHeader(password, header);
}

void TUnZipReader::DecryptBuffer(uint8_t* buffer, int count) {
    CryptKeys().DecryptBuffer(buffer, static_cast<size_t>(count));
}

void TUnZipReader::ReadDirectory() {
    TFlagGuard busy(*this, &TZipReader::ExchangeBusyFlag);
    TFlagGuard reading(*this, &TZipReader::ExchangeReadingFlag);
    // A handler may answer an incomplete archive differently on the next look; a few
    // looks are enough, and a handler that keeps its answer cannot loop for ever.
    for (int attempt = 0;; ++attempt) {
        try {
            ReadZip();
            break;
        } catch (const zip::EIncompleteZip&) {
            stream_.reset();
            if (!OnInCompleteZip || attempt >= 2) {
                FreeDirectory();
                break;
            }
        } catch (...) {
            ForgetArchive();
            throw;
        }
    }
    CloseZipFile();
}

int TUnZipReader::UnZip() {
    TFlagGuard busy(*this, &TZipReader::ExchangeBusyFlag);
    CancelRequest = false;
    numToExtract_ = 0;
    failed_ = 0;
    filesExtracted_ = 0;
    dest_->Forget();
    if (DestDir() == "?") return 0;
    ReadDirectory();
    if (!directory_ || directory_->Count() == 0) return 0;
    OpenZipFile();
    int result;
    try {
        result = UnZipFiles();
    } catch (...) {
        CloseZipFile();
        throw;
    }
    CloseZipFile();
    return result;
}

void TUnZipReader::RemoveWritten() {
    dest_->RemoveCreated();
}

// Finds where each entry's data starts and refuses an archive whose entries are not where
// its directory says or share bytes: overlapping entries are how a small archive unpacks to
// a huge tree. The directory is in physical order (disk, then offset), so each entry only
// has to end before the next one starts.
void TUnZipReader::CheckLayout(TRun& run) {
    if (damage_ != zip::adNone) throw zip::EBadZipFile(zip::LoadZipStr(zip::IDS_INVALIDZIP));
    const int count = directory_->Count();
    const bool onePart = NumberOfParts() <= 1;
    const uint64_t centralStart = endCentral_->GetCentralOffset();
    const uint64_t archiveSize = onePart ? static_cast<uint64_t>(stream_->Size()) : UINT64_MAX;
    run.dataStart.assign(static_cast<size_t>(count), -1);
    uint64_t previousEnd = 0;
    uint32_t previousDisk = 0;
    for (int i = 0; i < count; ++i) {
        const TZipHeaderInfo& e = *directory_->Entry(i);
        const uint64_t offset = e.GetRelativeOffset();
        // With parts the local header is read when the entry is extracted; the central name
        // length stands in for the local lengths until then.
        uint64_t header = kLocalHeaderSize + e.FileNameLength;
        if (onePart) {
            uint8_t h[kLocalHeaderSize];
            if (offset >= archiveSize || stream_->Seek(static_cast<int64_t>(offset), rtl::soBeginning) < 0 ||
                stream_->Read(h, kLocalHeaderSize) != kLocalHeaderSize ||
                zip::GetU32(h) != zip::LocalSignature())
                Refuse(zip::adLocalHeader);
            header =
                kLocalHeaderSize + zip::GetU16(h + kLocalNameLength) + zip::GetU16(h + kLocalExtraLength);
            run.dataStart[static_cast<size_t>(i)] = static_cast<int64_t>(offset + header);
        }
        uint64_t end = 0;
        if (__builtin_add_overflow(offset, header, &end) ||
            __builtin_add_overflow(end, e.GetCompressedSize(), &end) || end > archiveSize) {
            damage_ = zip::adDataOutside;
            throw EFatalUnzipError(kPremature);
        }
        if (e.HasDataDescriptor())
            end = end > UINT64_MAX - kMinDataDescriptor ? UINT64_MAX : end + kMinDataDescriptor;
        if (onePart && end > centralStart) Refuse(zip::adDataOutside);
        const uint32_t disk = e.GetDiskNumberStart();
        if (i > 0 && disk == previousDisk && offset < previousEnd) Refuse(zip::adOverlap);
        previousEnd = end;
        previousDisk = disk;
    }
}

void TUnZipReader::Refuse(zip::TArchiveDamage what) {
    damage_ = what;
    throw zip::EBadZipFile(zip::LoadZipStr(zip::IDS_INVALIDZIP));
}

void TUnZipReader::Select(TRun& run) {
    bool useMarks = false;
    for (int i = 0; i < directory_->Count(); ++i)
        if (directory_->Entry(i)->Selected != 0) useMarks = true;
    std::vector<std::string> patterns;
    for (const auto& p : FilesList) patterns.push_back(zip::ZipLowerCase(Slashes(p)));

    for (int i = 0; i < directory_->Count(); ++i) {
        CheckCancelAndPause();
        TZipHeaderInfo& e = *directory_->Entry(i);
        bool take;
        if (useMarks) {
            take = e.Selected != 0;
            e.Selected = 0;
        } else if (e.FileName().empty() && !RecreateDirs) {
            take = false;
        } else {
            take = DoAll;
            if (!take) {
                std::string name = zip::ZipLowerCase(Slashes(e.FullName()));
                for (const auto& p : patterns)
                    if (zip::WildcardMatch(p, name)) {
                        take = true;
                        break;
                    }
            }
        }
        // Padding without a name would count as a folder made without making anything.
        if (take && NamesNothing(e)) take = false;
        if (take) {
            run.selected.push_back(i);
            // Saturates: declared sizes that wrap around must not add up to a small total.
            if (__builtin_add_overflow(run.totalBytes, e.GetUncompressedSize(), &run.totalBytes))
                run.totalBytes = UINT64_MAX;
        }
    }
    numToExtract_ = static_cast<int>(run.selected.size());
}

// The declared sizes bound what the entries may write (a longer entry fails), so checking
// their sum before the first byte is written keeps a run inside its limit and the disk.
void TUnZipReader::CheckRoom(const TRun& run) {
    if (run.totalBytes > MaxExtractSize)
        throw ETooLargeToExtract("The archive's files (" + std::to_string(run.totalBytes) +
                                 " bytes) exceed the extraction limit of " + std::to_string(MaxExtractSize) +
                                 " bytes");
    const uint64_t free = dest_->FreeSpace();
    if (run.totalBytes > free)
        throw zip::ENotEnoughRoom(
            "Not enough free space to extract the archive: " + std::to_string(run.totalBytes) +
            " bytes needed, " + std::to_string(free) + " free");
}

int TUnZipReader::UnZipFiles() {
    TFlagGuard reading(*this, &TZipReader::ExchangeReadingFlag);
    CancelRequest = false;
    const bool oldKeep = KeepZipOpen;
    KeepZipOpen = true;
    numToExtract_ = 0;
    failed_ = 0;
    filesExtracted_ = 0;
    dest_->Forget();
    int extracted = 0;
    const zip::TZipSortMode oldSort = SortMode();
    TRun run;
    auto restore = [&]() {
        FilesList.clear();
        if (SortMode() != oldSort) SortFiles(oldSort);
        KeepZipOpen = oldKeep;
    };
    try {
        if (oldSort != zip::ByNone) SortFiles(zip::ByNone);
        CheckLayout(run);
        // Entries below an unopenable destination fail one by one with a create error.
        dest_->Open(DestDir());
        Select(run);
        CheckRoom(run);
        bool cancel = false;
        if (OnStartUnZipInfo)
            OnStartUnZipInfo(*this, numToExtract_, cancel, static_cast<int64_t>(run.totalBytes));
        if (!cancel) {
            for (int index : run.selected) {
                do {
                    if (UnZipOne(index, run)) ++extracted;
                } while (retry_);
            }
        }
    } catch (...) {
        dest_->RemoveCreated();
        restore();
        throw;
    }
    dest_->Close();
    restore();
    if (OnUnZipComplete) OnUnZipComplete(*this, extracted);
    return extracted;
}

bool TUnZipReader::BuildDestination(const TZipHeaderInfo& entry, std::string& path) const {
    std::string dir = Slashes(entry.Directory());
    const std::string name = entry.FileName();
    // A UTF-8 name the ANSI code page cannot hold is never written under a substitute.
    if (entry.NameUnrepresentable()) return false;
    if (UnsafeName(dir + name) || name == "." || name == "..") return false;
    std::string base = DestDir();
    if (RecreateDirs && !dir.empty()) {
        dir = StripRelativePath(dir);
        if (dir.size() >= 2 && dir[1] == ':') dir.erase(0, 2);
        if (UnsafeName(dir.empty() || dir[0] != '/' ? dir : dir.substr(1))) return false;
        if (base.empty()) {
            // No destination folder means the current one: a rooted directory stays below it.
            if (!dir.empty() && dir[0] == '/') dir.erase(0, 1);
            path = dir + name;
        } else {
            path = base + (dir.empty() || dir[0] != '/' ? "/" : "") + dir + name;
        }
    } else {
        path = (base.empty() ? std::string() : base + "/") + name;
    }
    return true;
}

void TUnZipReader::Skipping(zip::TSkipReason reason, const std::string& name, int index) {
    if (!OnSkippingFile) return;
    bool retry = false;
    OnSkippingFile(*this, reason, name, index, retry);
}

bool TUnZipReader::Fail(zip::TSkipReason reason, const TZipHeaderInfo& entry, int index) {
    Skipping(reason, entry.FullName(), index);
    ++failed_;
    return false;
}

bool TUnZipReader::DecideOverwrite(const TZipHeaderInfo& entry, const std::string& path, int index,
                                   int64_t fileTime) {
    switch (OverwriteMode) {
        case zip::Always:
            return true;
        case zip::Never:
            return false;
        case zip::Prompt: {
            if (OnPromptForOverwrite) {
                bool overwrite = false;
                OnPromptForOverwrite(*this, overwrite, path, index);
                return overwrite;
            }
            // Nobody can answer a box here: the handler decides, else the file is kept.
            int answer = IDNO;
            if (OnHandleMessage)
                OnHandleMessage(*this, kMsgOverwrite, "Replace existing file " + entry.FullName() + "?",
                                "File Exists Alert", MB_YESNO, answer);
            return answer == IDYES;
        }
        case zip::ifNewer:
        case zip::ifOlder: {
            rtl::TDateTime entryDate;
            if (!zip::TryDosDateTimeToDateTime(entry.LastModFileDateTime, entryDate)) return false;
            rtl::TDateTime fileDate;
            if (!zip::TryDosDateTimeToDateTime(zip::FixDosDateTime(zip::UnixTimeToDosDateTime(fileTime)),
                                               fileDate))
                fileDate = zip::NowDateTime();
            return OverwriteMode == zip::ifNewer ? entryDate > fileDate : entryDate < fileDate;
        }
    }
    return false;
}

size_t TUnZipReader::ReadCompressed(TRun& run, uint8_t* buffer, size_t count) {
    if (remaining_ <= 0) return 0;
    const size_t n = static_cast<size_t>(
        std::min<int64_t>({static_cast<int64_t>(count), static_cast<int64_t>(kChunk), remaining_}));
    CheckCancelAndPause();
    int64_t got = std::max<int64_t>(stream_->Read(buffer, static_cast<int64_t>(n)), 0);
    while (static_cast<size_t>(got) < n) {
        if (NumberOfParts() <= 1) throw EFatalUnzipError(kPremature);
        if (currentPart_ + 1 >= NumberOfParts())
            throw zip::EUserCanceled(zip::LoadZipStr(zip::IDS_USERCANCELED));
        SwitchToDisk(currentPart_ + 2);
        got += std::max<int64_t>(stream_->Read(buffer + got, static_cast<int64_t>(n) - got), 0);
    }
    remaining_ -= static_cast<int64_t>(n);
    if (run.encrypted) {
        if (OnDecrypt)
            OnDecrypt(*this, buffer, static_cast<int>(n), Password);
        else
            DecryptBuffer(buffer, static_cast<int>(n));
    }
    return n;
}

void TUnZipReader::FlushOutput(TRun& run) {
    if (run.outCount == 0) return;
    if (run.written + run.outCount > run.declared)
        throw EBiggerThanUncompressed("File is larger than uncompressed size!");
    for (size_t done = 0; done < run.outCount;) {
        int64_t w = run.out->Write(run.outBuf.data() + done, static_cast<int64_t>(run.outCount - done));
        if (w <= 0) throw ECantWriteUCF("The uncompressed file took fewer bytes than written");
        done += static_cast<size_t>(w);
    }
    UpdateCRC(run.outBuf.data(), run.outCount);
    run.written += run.outCount;
    run.totalWritten += run.outCount;
    run.outCount = 0;
    if (OnFilePercentDone)
        OnFilePercentDone(
            *this, zip::PercentOf(static_cast<double>(run.written), static_cast<double>(run.declared)));
    if (OnTotalPercentDone)
        OnTotalPercentDone(*this, zip::PercentOf(static_cast<double>(run.totalWritten),
                                                 static_cast<double>(run.totalBytes)));
}

void TUnZipReader::Decompress(TRun& run, bool& ok) {
    TZipHeaderInfo& e = *run.entry;
    TEntrySource source(*this, run);
    TEntrySink sink(*this, run);
    switch (e.CompressionMethod) {
        case 0:
            for (;;) {
                size_t n = ReadCompressed(run, run.outBuf.data() + run.outCount, kChunk - run.outCount);
                if (n == 0) break;
                run.outCount += n;
                FlushOutput(run);
            }
            break;
        case 1:
            Unshrink(source, sink);
            break;
        case 2:
        case 3:
        case 4:
        case 5:
            Unreduce(source, sink, e.CompressionMethod - 1, run.declared);
            break;
        case 6:
            ok = Explode(source, sink, e.Flag, static_cast<uint64_t>(remaining_), run.declared);
            break;
        case 8:
            Inflate(source, sink);
            break;
        default:
            DoHandleMessage(kMsgUnknownMethod, "Unknown Compression Method", "Zip Error", zip::MB_OK);
            ok = false;
            break;
    }
    FlushOutput(run);
}

int64_t TUnZipReader::DataStart(int index, const TRun& run) {
    const TZipHeaderInfo& e = *directory_->Entry(index);
    if (NumberOfParts() > 1 && static_cast<int>(e.GetDiskNumberStart()) != currentPart_)
        SwitchToDisk(static_cast<int>(e.GetDiskNumberStart()) + 1);
    const int64_t known = run.dataStart[static_cast<size_t>(index)];
    if (known >= 0) return known;
    const int64_t local = static_cast<int64_t>(e.GetRelativeOffset());
    uint8_t header[kLocalHeaderSize];
    stream_->Seek(local, rtl::soBeginning);
    if (stream_->Read(header, kLocalHeaderSize) != kLocalHeaderSize) throw EFatalUnzipError(kPremature);
    if (zip::GetU32(header) != zip::LocalSignature())
        throw zip::EBadZipFile(zip::LoadZipStr(zip::IDS_INVALIDZIP));
    return local + kLocalHeaderSize + zip::GetU16(header + kLocalNameLength) +
           zip::GetU16(header + kLocalExtraLength);
}

// Reads the 12-byte encryption header; a wrong check byte asks OnBadPassword for another
// password, else the entry is given up.
bool TUnZipReader::CheckPassword(const TZipHeaderInfo& e, int index) {
    const uint8_t check = e.HasDataDescriptor() ? static_cast<uint8_t>(e.LastModFileDateTime >> 8)
                                                : static_cast<uint8_t>(e.CRC32 >> 24);
    for (;;) {
        if (remaining_ < 12) throw EFatalUnzipError(kPremature);
        if (ReadEncryptionHeader(Password, *stream_) == check) return true;
        std::string password = Password;
        if (OnBadPassword) OnBadPassword(*this, index, password);
        if (OnBadPassword && password != Password) {
            Password = password;
            stream_->Seek(-12, rtl::soCurrent);
            remaining_ += 12;
            continue;
        }
        return Fail(zip::srBadPassword, e, index);
    }
}

bool TUnZipReader::UnZipOne(int index, TRun& run) {
    retry_ = false;
    run.entry = std::make_unique<TZipHeaderInfo>(*directory_->Entry(index));
    TZipHeaderInfo& e = *run.entry;
    const bool isFolder = e.FileName().empty();
    const int64_t dataStart = isFolder ? 0 : DataStart(index, run);

    std::string path;
    if (!BuildDestination(e, path)) return Fail(zip::srCreateError, e, index);
    if (isFolder) {
        if (RecreateDirs && !path.empty() && !dest_->MakeFolders(path))
            return Fail(zip::srCreateError, e, index);
        return true;
    }

    if (OnStartUnZip) {
        bool skip = false;
        OnStartUnZip(*this, index, skip, path);
        if (skip) return false;
    }
    TUnZipDestination::TTarget target;
    if (!dest_->Prepare(path, target)) return Fail(zip::srCreateError, e, index);

    remaining_ = static_cast<int64_t>(e.GetCompressedSize());
    run.encrypted = e.Encrypted();
    stream_->Seek(dataStart, rtl::soBeginning);
    if (run.encrypted && !CheckPassword(e, index)) return false;

    // A new file is made exclusively; only when something lies there already is it looked at,
    // without following a link: a link, a folder or a device is never written through or
    // replaced.
    TFd fd(dest_->CreateFile(target, false));
    if (!fd.Valid()) {
        struct stat existing {};
        if (errno != EEXIST || !TUnZipDestination::Probe(target, existing) || !S_ISREG(existing.st_mode))
            return Fail(zip::srCreateError, e, index);
        if (OverwriteMode != zip::Always && !DecideOverwrite(e, path, index, existing.st_mtim.tv_sec)) {
            Skipping(zip::srNoOverwrite, e.FullName(), index);
            return false;
        }
        // A read-only file is replaced only on request, whoever runs the service.
        if ((existing.st_mode & S_IWUSR) == 0 && !ReplaceReadOnly) return Fail(zip::srCreateError, e, index);
        fd.Reset(dest_->CreateFile(target, true));
        if (!fd.Valid()) return Fail(zip::srCreateError, e, index);
    }
    run.out = std::make_unique<rtl::THandleStream>(fd.Get());

    Crc = 0xFFFFFFFF;
    run.declared = e.GetUncompressedSize();
    run.written = 0;
    run.outCount = 0;
    bool ok = true;
    bool bigger = false;
    try {
        Decompress(run, ok);
    } catch (const EBiggerThanUncompressed&) {
        bigger = true;
    }
    run.out.reset();
    if (ok && !bigger) {
        rtl::FileSetDate(fd.Get(), static_cast<int32_t>(e.LastModFileDateTime));
        if (RetainAttributes) rtl::FileSetAttr(fd.Get(), static_cast<int>(e.ExternalFileAttributes & 0xFF));
    }
    fd.Reset();

    const uint32_t crc = ~Crc;
    // A wrong length or an undecodable entry fails even when the checksum happens to agree.
    if (ok && !bigger && crc == e.CRC32 && run.written == run.declared) {
        ++filesExtracted_;
        if (OnEndUnZip) OnEndUnZip(*this, index, path);
        return true;
    }
    if (run.encrypted) {
        std::string password = Password;
        if (OnBadPassword) OnBadPassword(*this, index, password);
        if (OnBadPassword && password != Password) {
            Password = password;
            retry_ = true;
        } else {
            Skipping(zip::srBadPassword, e.FullName(), index);
        }
    } else if (OnBadCRC) {
        OnBadCRC(*this, crc, index, e.CRC32);
    }
    TUnZipDestination::Remove(target);
    if (!retry_) ++failed_;
    return false;
}

bool UnZipArchive(const std::string& archive, const std::string& destDir, const std::string& password,
                  uint64_t maxExtractSize) {
    try {
        TUnZipReader reader;
        reader.SetZipName(archive);
        reader.Password = password;
        reader.ReadDirectory();
        reader.DoAll = true;
        reader.SetDestDir(destDir);
        reader.RecreateDirs = true;
        reader.OverwriteMode = zip::Always;
        reader.RetainAttributes = true;
        reader.MaxExtractSize = maxExtractSize;
        const int extracted = reader.UnZip();
        // Folders alone carry no package: a run that wrote no file is no success.
        const bool ok = reader.ExtractedFileCount() > 0 && extracted == reader.SelectedCount() &&
                        reader.FailedCount() == 0;
        if (!ok) reader.RemoveWritten();
        return ok;
    } catch (...) {
        return false;
    }
}

}  // namespace svc
