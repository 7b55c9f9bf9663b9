#include "zip/ZipWriter.h"

#include <openssl/rand.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "zip/ParallelDeflate.h"
#include "zip/kpMatch.h"

namespace zip {

namespace {

// Files are read, and the archive written, in blocks of this size; a file up to kWholeFile is
// packed in memory.
constexpr size_t kBlock = 256 * 1024;
constexpr size_t kWholeFile = 1024 * 1024;
constexpr size_t kCopyBuffer = kBlock;
constexpr size_t kProbe = 16 * 1024;
// A file from this size on is deflated on several threads, when more than one is allowed.
constexpr size_t kParallelFrom = kWholeFile + 1;

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsFolderEntry(const std::string& s) {
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

bool FileExistsHere(const std::string& name) {
    struct stat st {};
    return ::stat(rtl::SysFileName(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A buffer left uninitialised: only what a read or deflate filled is used. A large one asks
// for huge pages, which spares the system a page fault for every 4 KiB of a large file.
struct TBuffer {
    struct TFree {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, TFree> bytes;
    size_t capacity = 0;
    void Reserve(size_t n) {
        if (n <= capacity) return;
        constexpr size_t kHuge = 2 * 1024 * 1024;
        bytes.reset();
        capacity = 0;
        void* p = nullptr;
        if (n >= 2 * kHuge) {
            const size_t rounded = (n + kHuge - 1) / kHuge * kHuge;
            p = std::aligned_alloc(kHuge, rounded);
            if (p != nullptr) {
                ::madvise(p, rounded, MADV_HUGEPAGE);
                n = rounded;
            }
        } else {
            p = std::malloc(n);
        }
        if (p == nullptr) throw std::bad_alloc();
        bytes.reset(static_cast<uint8_t*>(p));
        capacity = n;
    }
    uint8_t* data() { return bytes.get(); }
};

// One deflate stream, reset for every file it packs.
class TDeflater {
public:
    z_stream& Start(int level) { return stream_.Start(level); }
    // Whether deflate gains nothing on the data's first block: such data (compressed or
    // encrypted already) is stored without deflating it all first.
    bool Incompressible(const uint8_t* data, size_t length, int level) {
        if (length < kProbe) return false;  // small enough to simply try
        z_stream& zs = Start(level);
        probe_.resize(deflateBound(&zs, kProbe));
        zs.next_in = const_cast<uint8_t*>(data);
        zs.avail_in = static_cast<uInt>(kProbe);
        zs.next_out = probe_.data();
        zs.avail_out = static_cast<uInt>(probe_.size());
        if (deflate(&zs, Z_FINISH) != Z_STREAM_END) return false;
        return zs.total_out >= kProbe;
    }
    // Deflates a whole file held in memory into out; false when that does not make it smaller
    // (then it is stored, as other zip tools do).
    bool Pack(const uint8_t* data, size_t length, int level, TBuffer& out, size_t& packed) {
        if (Incompressible(data, length, level)) return false;
        z_stream& zs = Start(level);
        const size_t bound = deflateBound(&zs, static_cast<uLong>(length));
        out.Reserve(bound);
        zs.next_in = const_cast<uint8_t*>(data);
        zs.avail_in = static_cast<uInt>(length);
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(bound);
        if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw EZCompressionError("error");
        packed = zs.total_out;
        return packed < length;
    }

private:
    TDeflateStream stream_;
    std::vector<uint8_t> probe_;
};

}  // namespace

// Files read, checked and deflated ahead of the writer on other threads; the writer takes them
// in list order and writes them as if it had packed them itself. A file up to kPoolFile goes
// through the pool; no more than kPoolBytes of listed file sizes are held at a time.
constexpr int64_t kPoolFile = 64 * 1024 * 1024;
constexpr int64_t kPoolBytes = 256 * 1024 * 1024;
static_assert(kPoolFile <= kPoolBytes, "a pooled file must always find room once the others are taken");

class TZipWriter::TPrefetch {
public:
    struct TFile {
        bool ok = false;
        bool hasRaw = false;  // a large file is deflated as it is read and not kept
        int64_t size = 0;     // at opening
        uint32_t crc = 0;
        TBuffer raw;
        size_t rawLength = 0;
        TBuffer deflated;
        size_t deflatedLength = 0;
        bool shrank = false;
    };

    // maxFile: the largest file the pool takes (larger ones the writer deflates on several threads).
    TPrefetch(std::vector<TListedFile> files, int level, unsigned threads, int64_t maxFile)
        : files_(std::move(files)),
          level_(level),
          maxFile_(maxFile),
          ready_(files_.size()),
          prepared_(files_.size()),
          held_(files_.size()),
          window_(2 * threads + 2) {
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    }
    ~TPrefetch() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& t : workers_) t.join();
    }
    // The file at index i of the list, or nullptr when the writer has to read it itself.
    std::unique_ptr<TFile> Take(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ready_[i] != 0; });
        taken_ = i + 1;
        heldBytes_ -= held_[i];
        held_[i] = 0;
        std::unique_ptr<TFile> file = std::move(prepared_[i]);
        lock.unlock();
        changed_.notify_all();
        return file && file->ok ? std::move(file) : nullptr;
    }

private:
    bool Pooled(const TListedFile& f) const { return !IsFolderEntry(f.Path) && f.Size <= maxFile_; }
    // Room is claimed in list order, so the file the writer waits for is always the next to get it.
    bool CanTakeNext() const {
        if (next_ >= files_.size()) return true;
        if (next_ >= taken_ + window_) return false;
        const TListedFile& f = files_[next_];
        return !Pooled(f) || heldBytes_ + f.Size <= kPoolBytes;
    }
    void Work() {
        TDeflater deflater;
        TBuffer block;
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || CanTakeNext(); });
                if (stop_ || next_ >= files_.size()) return;
                i = next_++;
                if (Pooled(files_[i])) {
                    held_[i] = std::max<int64_t>(files_[i].Size, 0);
                    heldBytes_ += held_[i];
                }
            }
            std::unique_ptr<TFile> file;
            try {
                if (Pooled(files_[i])) file = Prepare(files_[i].Path, deflater, block);
            } catch (...) {
                file.reset();  // the writer meets the same trouble itself and reports it
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                prepared_[i] = std::move(file);
                ready_[i] = 1;
            }
            changed_.notify_all();
        }
    }
    std::unique_ptr<TFile> Prepare(const std::string& path, TDeflater& deflater, TBuffer& block) {
        rtl::TFileStream in(path, fmOpenRead | fmShareDenyNone);
        auto file = std::make_unique<TFile>();
        file->size = in.Size();
        if (file->size > maxFile_) return nullptr;
        const size_t size = static_cast<size_t>(file->size);
        if (size > kWholeFile) {
            if (level_ == 0 || !DeflateAsRead(in, *file, deflater, block)) return nullptr;
            file->ok = true;
            return file;
        }
        file->raw.Reserve(std::max<size_t>(size, 1));
        size_t got = 0;
        while (got < size) {
            const int64_t n = in.Read(file->raw.data() + got, static_cast<int64_t>(size - got));
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        file->hasRaw = true;
        file->rawLength = got;
        file->crc = static_cast<uint32_t>(::crc32_z(0, file->raw.data(), got));
        if (level_ > 0)
            file->shrank = deflater.Pack(file->raw.data(), got, level_, file->deflated, file->deflatedLength);
        file->ok = true;
        return file;
    }
    // Deflates a large file block by block into memory, deciding as the writer does when it
    // streams a large file: only the first block tells whether to store it. False when it is
    // to be stored (the writer then copies it from the file itself).
    bool DeflateAsRead(rtl::TFileStream& in, TFile& file, TDeflater& deflater, TBuffer& block) {
        block.Reserve(kBlock);
        auto readBlock = [&]() -> size_t {
            const int64_t want = std::min<int64_t>(static_cast<int64_t>(kBlock), file.size - file.rawLength);
            if (want <= 0) return 0;
            const int64_t n = in.Read(block.data(), want);
            if (n <= 0) return 0;
            file.crc = static_cast<uint32_t>(::crc32_z(file.crc, block.data(), static_cast<size_t>(n)));
            file.rawLength += static_cast<size_t>(n);
            return static_cast<size_t>(n);
        };
        size_t n = readBlock();
        if (deflater.Incompressible(block.data(), n, level_)) return false;
        z_stream& zs = deflater.Start(level_);
        const size_t bound = deflateBound(&zs, static_cast<uLong>(file.size));
        file.deflated.Reserve(bound);  // only the pages written are ever touched
        zs.next_out = file.deflated.data();
        zs.avail_out = static_cast<uInt>(bound);
        for (;;) {
            zs.next_in = block.data();
            zs.avail_in = static_cast<uInt>(n);
            const int flush =
                file.rawLength >= static_cast<size_t>(file.size) || n == 0 ? Z_FINISH : Z_NO_FLUSH;
            const int r = deflate(&zs, flush);
            if (r == Z_STREAM_END) break;
            if (r != Z_OK || zs.avail_in != 0) throw EZCompressionError("error");
            n = readBlock();
        }
        file.deflatedLength = zs.total_out;
        file.shrank = true;  // kept deflated even when it grew, as when streamed
        return true;
    }

    const std::vector<TListedFile> files_;
    const int level_;
    const int64_t maxFile_;
    std::vector<char> ready_;
    std::vector<std::unique_ptr<TFile>> prepared_;
    std::vector<int64_t> held_;
    int64_t heldBytes_ = 0;
    const size_t window_;
    size_t next_ = 0;
    size_t taken_ = 0;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

bool EntryMayNeedZip64(uint64_t size, bool store, bool encrypt) {
    constexpr uint64_t kLimit = 0xFFFFFFFF;
    if (size >= kLimit) return true;
    // zlib's worst case for data that does not compress, stored blocks and all.
    uint64_t packed = store ? size : size + (size >> 12) + (size >> 14) + (size >> 25) + 13;
    if (encrypt) packed += 12;
    return packed >= kLimit;
}

// The state of one Zip run.
struct TZipWriter::TRun {
    std::unique_ptr<TLFNFileStream> out;
    std::string outName;
    std::unique_ptr<TSortedZip> byName;    // not owning
    std::unique_ptr<TSortedZip> physical;  // owning
    std::unique_ptr<TEndCentral> end;
    bool updating = false;
    // Multi-part output: the current part (0-based), the room left on it and the parts written.
    bool multi = false;
    int part = 0;
    int64_t room = 0;
    std::vector<std::string> parts;
    std::unique_ptr<TLFNFileStream> temp;  // an entry's data before it is spread over parts
    std::string tempName;
    double totalBytes = 0;
    double bytesRead = 0;
    std::vector<std::string> packed;  // for Dispose
    // Buffers and the deflate stream serve every entry of the run.
    std::unique_ptr<uint8_t[]> inBuf, outBuf;
    TBuffer deflated;
    TDeflater deflater;
    std::unique_ptr<TPrefetch> prefetch;
    std::unique_ptr<TPrefetch::TFile> prepared;  // for the next PackFile
    // Left uninitialised: only what a read or deflate filled is ever used.
    void Buffers() {
        if (inBuf) return;
        inBuf.reset(new uint8_t[kWholeFile]);
        outBuf.reset(new uint8_t[kBlock]);
    }
};

TZipWriter::TZipWriter(rtl::TComponent* owner) : TZipReader(owner) {}

TZipWriter::~TZipWriter() = default;

void TZipWriter::Assign(rtl::TPersistent* source) {
    TZipReader::Assign(source);
    if (const auto* w = dynamic_cast<const TZipWriter*>(source); w != nullptr && w != this) {
        PackLevel = w->PackLevel;
        PackThreads = w->PackThreads;
        Recurse = w->Recurse;
        Dispose = w->Dispose;
        storePaths_ = w->storePaths_;
        relativePaths_ = w->relativePaths_;
        storeVolumes_ = w->storeVolumes_;
        ZipAction = w->ZipAction;
        MultiZipInfo.Assign(w->MultiZipInfo);
        Store83Names = w->Store83Names;
        TempPath = w->TempPath;
        SkipIfArchiveBitNotSet = w->SkipIfArchiveBitNotSet;
        ResetArchiveBitOnZip = w->ResetArchiveBitOnZip;
        ExcludeList = w->ExcludeList;
        NoCompressList = w->NoCompressList;
        AddDirEntriesOnRecurse = w->AddDirEntriesOnRecurse;
        searchMask_ = w->searchMask_;
        OnStartZipInfo = w->OnStartZipInfo;
        OnStartZip = w->OnStartZip;
        OnEndZip = w->OnEndZip;
        OnZipComplete = w->OnZipComplete;
        OnNoSuchFile = w->OnNoSuchFile;
        OnRecursingFile = w->OnRecursingFile;
        OnUpdate = w->OnUpdate;
        OnDisposeFile = w->OnDisposeFile;
        OnEncrypt = w->OnEncrypt;
    }
}

void TZipWriter::Loaded() {
    TZipReader::Loaded();
    checkDiskLabels_ = MultiZipInfo.CheckDiskLabels;
    multiMode_ = MultiZipInfo.MultiMode;
}

void TZipWriter::SetZipName(const std::string& value) {
    TZipReader::SetZipName(value);
}

void TZipWriter::SetStorePaths(bool value) {
    storePaths_ = value;
    if (!value) storeVolumes_ = relativePaths_ = false;
}

void TZipWriter::SetRelativePaths(bool value) {
    relativePaths_ = value;
    if (value) storePaths_ = Recurse = true;
}

void TZipWriter::SetStoreVolumes(bool value) {
    storeVolumes_ = value;
    if (value) storePaths_ = true;
}

void TZipWriter::SetMaskBit(int bit, bool value) {
    searchMask_ = value ? (searchMask_ | bit) : (searchMask_ & ~bit);
}

void TZipWriter::RandomHeaderBytes(uint8_t* buffer, size_t length) {
    if (RAND_bytes(buffer, static_cast<int>(length)) != 1)
        throw EZipException("No random bytes for encryption");
}

void TZipWriter::WriteEncryptionHeader(TStream& out, const std::string& password, uint32_t crc) {
    InitCryptKeys(password);
    uint8_t header[12];
    RandomHeaderBytes(header, 10);
    header[10] = static_cast<uint8_t>(crc >> 16);
    header[11] = static_cast<uint8_t>(crc >> 24);
    keys_.EncryptBuffer(header, 12);
    if (out.Write(header, 12) != 12) throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
}

bool TZipWriter::Excluded(const std::string& path) const {
    std::string lowPath = ZipLowerCase(path);
    std::string lowName = ZipLowerCase(NameOf(path));
    for (const auto& pattern : ExcludeList) {
        std::string p = ZipLowerCase(pattern);
        std::replace(p.begin(), p.end(), '\\', '/');
        if (WildcardMatch(p, p.find('/') != std::string::npos ? lowPath : lowName)) return true;
    }
    return false;
}

bool TZipWriter::NoCompress(const std::string& fileName) const {
    std::string low = ZipLowerCase(fileName);
    for (const auto& pattern : NoCompressList)
        if (WildcardMatch(ZipLowerCase(pattern), low)) return true;
    return false;
}

std::string TZipWriter::StoredFolder(const std::string& path) const {
    if (!storePaths_) return std::string();
    std::string folder = FolderOf(path);
    while (folder.size() > 1 && folder.ends_with("//")) folder.pop_back();
    if (relativePaths_) folder = StripRelativePath(folder);
    if (!storeVolumes_) {
        size_t i = 0;
        while (i < folder.size() && folder[i] == '/') ++i;
        folder = folder.substr(i);
    }
    return folder;
}

std::string TZipWriter::StoredKey(const std::string& path) const {
    std::string name = StoredFolder(path) + NameOf(path);
    if (OEMConvert == oemAlways) OemRoundTrip(name);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

std::vector<TZipWriter::TListedFile> TZipWriter::ExpandFilesList(double& totalBytes) {
    std::vector<TListedFile> files;
    std::vector<std::string> patterns;
    auto inArchive = [this](const std::string& path) {
        if (!directory_) return false;
        std::string key = StoredKey(path);
        for (int i = 0; i < directory_->Count(); ++i)
            if (directory_->Entry(i)->FullName() == key) return true;
        return false;
    };
    auto skip = [this](TSkipReason reason, const std::string& name) {
        bool retry = false;
        if (OnSkippingFile) OnSkippingFile(*this, reason, name, -1, retry);
    };
    // Whether a found file passes the exclusion, archive-bit and freshen tests.
    auto accept = [&](const std::string& path, int attr) {
        if (Excluded(path)) {
            skip(srExcludeList, path);
            return false;
        }
        if (SkipIfArchiveBitNotSet && (attr & faArchive) == 0) {
            skip(srArchiveBitNotSet, path);
            return false;
        }
        if (ZipAction == zaFreshen && !inArchive(path)) {
            skip(srNoFileToFreshen, path);
            return false;
        }
        return true;
    };
    bool freshenNeedsDirectory = ZipAction == zaFreshen && FileExistsHere(zipName_);
    if (freshenNeedsDirectory && !directory_) OpenZipFile();

    for (const auto& listed : FilesList) {
        if (IsFolderEntry(listed)) {
            files.push_back({listed, 0});
            continue;
        }
        if (IsWildcard(listed)) {
            patterns.push_back(listed);
            continue;
        }
        std::string path = listed.find('/') == std::string::npos ? rootDir_ + listed : listed;
        TZipSearchRec rec;
        if (!GetSearchRec(path, rec) || (rec.Attr & faDirectory) || !AttrPassesMask(rec.Attr, searchMask_)) {
            if (Excluded(path))
                skip(srExcludeList, path);
            else if (OnNoSuchFile)
                OnNoSuchFile(*this, path);
            continue;
        }
        if (!accept(path, rec.Attr)) continue;
        files.push_back({path, rec.Size});
        totalBytes += static_cast<double>(rec.Size);
    }

    for (auto pattern : patterns) {
        bool recurse = Recurse;
        if (!pattern.empty() && (pattern[0] == '|' || pattern[0] == '>')) {
            recurse = pattern[0] == '>';
            pattern.erase(0, 1);
        }
        std::string folder = FolderOf(pattern);
        std::string name = NameOf(pattern);
        if (folder.empty()) folder = rootDir_.empty() ? "./" : rootDir_;
        if (!IsWildcard(folder) && !FolderExists(folder)) {
            if (OnNoSuchFile) OnNoSuchFile(*this, pattern);
            continue;
        }
        if (name == "*.*") name = "*";
        TDirSearch search(folder, searchMask_, recurse, name);
        TZipSearchRec rec;
        bool any = false;
        for (std::string found = search.NextFile(rec); !found.empty(); found = search.NextFile(rec)) {
            any = true;
            CheckCancelAndPause();
            if (OnRecursingFile) OnRecursingFile(*this, found);
            if (IsFolderEntry(found)) {
                if (AddDirEntriesOnRecurse) files.push_back({found, 0});
                continue;
            }
            if (SameTextPath(found)) continue;
            if (!accept(found, rec.Attr)) continue;
            files.push_back({found, rec.Size});
            totalBytes += static_cast<double>(rec.Size);
        }
        if (!any && OnNoSuchFile) OnNoSuchFile(*this, pattern);
    }
    return files;
}

bool TZipWriter::SameTextPath(const std::string& path) const {
    return ZipLowerCase(path) == ZipLowerCase(zipName_);
}

void TZipWriter::WriteData(TRun& run, const uint8_t* data, size_t length) {
    while (length > 0) {
        size_t n = length;
        if (run.multi) {
            if (run.room <= 0) NextPart(run);
            n = static_cast<size_t>(std::min<int64_t>(run.room, static_cast<int64_t>(length)));
            run.room -= static_cast<int64_t>(n);
        }
        if (run.out->Write(data, static_cast<int64_t>(n)) != static_cast<int64_t>(n))
            throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
        data += n;
        length -= n;
    }
    CheckCancelAndPause();
}

void TZipWriter::NextPart(TRun& run) {
    if (!run.out->FlushBuffer()) throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
    run.out.reset();
    ++run.part;
    std::string name = stem_;
    PartFileName(name, run.part + 1, spMiddle);
    if (OnPrepareNextDisk) OnPrepareNextDisk(*this, run.part + 1);
    run.parts.push_back(name);
    run.out = std::make_unique<TLFNFileStream>(name, fmCreate, FlushFilesOnClose, kBlock);
    run.room = MultiZipInfo.BlockSize;
    if (run.end) run.end->SetEntriesThisDisk(0);
}

void TZipWriter::WriteLocalRecord(TRun& run, TZipHeaderInfo& entry) {
    if (!run.multi) {
        entry.WriteLocalHeader(*run.out);
        return;
    }
    // The header must fit the part it starts on, and its offset is taken in that part.
    rtl::TMemoryStream probe;
    entry.WriteLocalHeader(probe);
    if (run.room < probe.Size()) NextPart(run);
    entry.SetDiskNumberStart(static_cast<uint32_t>(run.part));
    const int64_t at = run.out->Position();
    entry.WriteLocalHeader(*run.out);
    run.room -= run.out->Position() - at;
}

bool TZipWriter::PackFile(TRun& run, const std::string& path, TZipHeaderInfo& entry) {
    entry.Clear();
    entry.OEMConvert = OEMConvert;
    if (IsFolderEntry(path)) {
        std::string folder = path;
        std::replace(folder.begin(), folder.end(), '\\', '/');
        std::string bare = folder.substr(0, folder.size() - 1);
        std::string stored = storePaths_ ? StoredFolder(folder) : NameOf(bare) + "/";
        entry.SetFileName("");
        entry.SetDirectory(stored);
        entry.CompressionMethod = 0;
        entry.CRC32 = 0;
        entry.InternalFileAttributes = 0;
        uint32_t dt = FileDosDateTime(bare);
        entry.LastModFileDateTime = dt == 0xFFFFFFFF ? DateTimeToDosDateTime(NowDateTime()) : dt;
        int attr = FileGetAttr(bare);
        if (attr >= 0) entry.ExternalFileAttributes = static_cast<uint32_t>(attr);
        int existing;
        if (run.byName->Find(&entry, existing)) return false;
        bool skip = false;
        if (OnStartZip) OnStartZip(*this, path, entry, skip);
        if (skip) return false;
        WriteLocalRecord(run, entry);
        return true;
    }

    TZipSearchRec rec;
    if (!GetSearchRec(path, rec)) {
        if (OnNoSuchFile) OnNoSuchFile(*this, path);
        return false;
    }
    std::unique_ptr<TPrefetch::TFile> prepared = std::move(run.prepared);
    std::string name = NameOf(path);
    if (OEMConvert == oemAlways) OemRoundTrip(name);
    const bool storeAsked = PackLevel == 0 || NoCompress(name);
    // A large file the pool deflated without keeping its bytes: when it is to be stored
    // after all, the writer copies it from the file.
    if (prepared && !prepared->hasRaw && storeAsked) prepared.reset();
    std::unique_ptr<rtl::TFileStream> in;
    while (!prepared) {
        try {
            in = std::make_unique<rtl::TFileStream>(path, fmOpenRead | fmShareDenyNone);
            break;
        } catch (const rtl::Exception&) {
            bool retry = false;
            if (OnSkippingFile) OnSkippingFile(*this, srFileOpenError, path, -1, retry);
            if (!retry) return false;
        }
    }
    const int64_t sizeAtOpen = prepared ? prepared->size : in->Size();
    entry.ExternalFileAttributes = static_cast<uint32_t>(std::max(rec.Attr, 0));
    entry.LastModFileDateTime = rec.Time;
    entry.SetUncompressedSize(static_cast<uint64_t>(sizeAtOpen));
    std::string folder = StoredFolder(path);
    if (OEMConvert == oemAlways) OemRoundTrip(folder);
    entry.SetFileName(name);
    entry.SetDirectory(folder);
    entry.SetDiskNumberStart(0);
    entry.InternalFileAttributes = 1;

    int index;
    run.byName->SortMode = ByName;
    if (run.byName->Find(&entry, index)) {
        bool retry = false;
        if (OnSkippingFile) OnSkippingFile(*this, srNoOverwrite, path, -1, retry);
        run.totalBytes -= static_cast<double>(sizeAtOpen);
        return false;
    }
    bool skip = false;
    if (OnStartZip) OnStartZip(*this, path, entry, skip);
    if (skip) {
        bool retry = false;
        if (OnSkippingFile) OnSkippingFile(*this, srSkippedInStartZip, path, -1, retry);
        run.totalBytes -= static_cast<double>(sizeAtOpen);
        return false;
    }

    const bool encrypt = !Password.empty();
    bool store = storeAsked;
    if (!store && !prepared && sizeAtOpen > static_cast<int64_t>(kWholeFile)) {
        run.Buffers();
        const int64_t n = in->Read(run.inBuf.get(), static_cast<int64_t>(kProbe));
        store = n > 0 && run.deflater.Incompressible(run.inBuf.get(), static_cast<size_t>(n), PackLevel);
        in->Seek(0, soBeginning);
    }
    entry.Flag = 0;
    if (PackLevel <= 2) entry.Flag |= 4;
    if (PackLevel >= 8) entry.Flag |= 2;
    if (encrypt) entry.Flag |= 1;
    if (store && !storeAsked) entry.Flag &= static_cast<uint16_t>(~6u);
    entry.CompressionMethod = store ? 0 : 8;
    if (store) entry.InternalFileAttributes = 0;
    // Decided before the local header is written: it cannot grow once the data follows it.
    if (EntryMayNeedZip64(static_cast<uint64_t>(sizeAtOpen), store, encrypt)) entry.SetZip64Sizes(true);

    uint32_t crc = 0;
    int64_t read = 0;
    int64_t written = 0;
    auto progress = [&](int64_t n) {
        read += n;
        run.bytesRead += static_cast<double>(n);
        if (OnFilePercentDone)
            OnFilePercentDone(*this, PercentOf(static_cast<double>(read), static_cast<double>(sizeAtOpen)));
        if (OnTotalPercentDone) OnTotalPercentDone(*this, PercentOf(run.bytesRead, run.totalBytes));
    };
    // Never more than the size found at opening, so the headers keep their size.
    auto readSome = [&](uint8_t* buf, size_t cap) -> int64_t {
        int64_t want = std::min<int64_t>(static_cast<int64_t>(cap), sizeAtOpen - read);
        if (want <= 0) return 0;
        int64_t n = in->Read(buf, want);
        if (n > 0) {
            crc = static_cast<uint32_t>(::crc32(crc, buf, static_cast<uInt>(n)));
            progress(n);
        }
        return std::max<int64_t>(n, 0);
    };
    auto encryptData = [&](uint8_t* data, size_t length) {
        if (OnEncrypt)
            OnEncrypt(*this, data, static_cast<int>(length), Password);
        else
            keys_.EncryptBuffer(data, length);
    };
    run.Buffers();

    if (!run.multi && (prepared || sizeAtOpen <= static_cast<int64_t>(kWholeFile))) {
        // A small file, or one the pool prepared, is packed in memory: its header goes out
        // once, with the final sizes, right before the data.
        uint8_t* data = run.inBuf.get();
        uint8_t* packed = data;
        bool shrank = false;
        size_t deflatedLength = 0;
        if (prepared) {
            data = prepared->raw.data();
            crc = prepared->crc;
            progress(static_cast<int64_t>(prepared->rawLength));
            shrank = prepared->shrank;
            deflatedLength = prepared->deflatedLength;
            packed = shrank && !store ? prepared->deflated.data() : data;
        } else {
            for (;;) {
                int64_t n = readSome(data + read, kWholeFile - static_cast<size_t>(read));
                if (n == 0) break;
            }
            if (!store) {
                shrank = run.deflater.Pack(data, static_cast<size_t>(read), PackLevel, run.deflated,
                                           deflatedLength);
                if (shrank) packed = run.deflated.data();
            }
        }
        written = read;
        if (!store && shrank) {
            written = static_cast<int64_t>(deflatedLength);
        } else if (!store) {
            // Data that deflate cannot shrink is stored, as the other zip tools do.
            packed = data;
            entry.CompressionMethod = 0;
            entry.Flag &= static_cast<uint16_t>(~6u);
        }
        entry.CRC32 = crc;
        entry.SetUncompressedSize(static_cast<uint64_t>(read));
        entry.SetCompressedSize(static_cast<uint64_t>(written + (encrypt ? 12 : 0)));
        entry.WriteLocalHeader(*run.out);
        if (encrypt) {
            WriteEncryptionHeader(*run.out, Password, crc);
            // The packed bytes are not needed afterwards: encrypted where they lie.
            encryptData(const_cast<uint8_t*>(packed), static_cast<size_t>(written));
        }
        WriteData(run, packed, static_cast<size_t>(written));
        in.reset();
        if (read < sizeAtOpen) DoHandleMessage(IDS_SHORTREAD, LoadZipStr(IDS_SHORTREAD), path, MB_OK);
        if (OnEndZip)
            OnEndZip(*this, path, read, static_cast<int64_t>(entry.GetCompressedSize()), run.out->Position());
        return true;
    }

    // Multi-part output deflates into a temporary file first; the header follows when the
    // data is known.
    TStream* sink = run.out.get();
    if (run.multi) {
        run.tempName = MakeTempFileName(FolderExists(TempPath) ? TempPath : SystemTempFolder());
        run.temp = std::make_unique<TLFNFileStream>(run.tempName, fmCreate, false, kBlock);
        sink = run.temp.get();
    }
    const int64_t headerAt = run.multi ? 0 : run.out->Position();
    if (!run.multi) entry.WriteLocalHeader(*run.out);
    const int64_t headerSize = run.multi ? 0 : run.out->Position() - headerAt;

    // A large file is deflated, and its CRC summed, on several threads.
    const unsigned threads = PackThreadsFor(PackThreads);
    const bool parallel = threads > 1 && sizeAtOpen >= static_cast<int64_t>(kParallelFrom);
    if (encrypt) {
        // The header's check byte needs the CRC before any data is written.
        uint8_t* buf = run.inBuf.get();
        uint32_t sum = 0;
        int64_t left = sizeAtOpen;
        if (parallel) {
            sum = TParallelDeflate(PackLevel, threads)
                      .Crc([&](uint8_t* to, size_t capacity) -> size_t {
                          const int64_t n =
                              left <= 0
                                  ? 0
                                  : in->Read(to, std::min<int64_t>(left, static_cast<int64_t>(capacity)));
                          if (n <= 0) return 0;
                          left -= n;
                          return static_cast<size_t>(n);
                      })
                      .crc;
        }
        while (left > 0) {
            int64_t n = in->Read(buf, std::min<int64_t>(left, static_cast<int64_t>(kBlock)));
            if (n <= 0) break;
            sum = static_cast<uint32_t>(::crc32(sum, buf, static_cast<uInt>(n)));
            left -= n;
        }
        in->Seek(0, soBeginning);
        entry.CRC32 = sum;
        WriteEncryptionHeader(*sink, Password, sum);
    }

    auto emit = [&](uint8_t* data, size_t length) {
        if (encrypt) encryptData(data, length);
        if (run.multi) {
            if (sink->Write(data, static_cast<int64_t>(length)) != static_cast<int64_t>(length))
                throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
            CheckCancelAndPause();
        } else {
            WriteData(run, data, length);
        }
    };

    if (store) {
        for (;;) {
            int64_t n = readSome(run.inBuf.get(), kBlock);
            if (n == 0) break;
            emit(run.inBuf.get(), static_cast<size_t>(n));
            written += n;
        }
    } else if (parallel) {
        // The workers sum the CRC; the reading, encryption and writing stay on this thread, in order.
        const TParallelDeflate::TResult result =
            TParallelDeflate(PackLevel, threads)
                .Deflate(
                    [&](uint8_t* to, size_t capacity) -> size_t {
                        const int64_t want =
                            std::min<int64_t>(static_cast<int64_t>(capacity), sizeAtOpen - read);
                        if (want <= 0) return 0;
                        const int64_t n = in->Read(to, want);
                        if (n <= 0) return 0;
                        progress(n);
                        return static_cast<size_t>(n);
                    },
                    [&](uint8_t* data, size_t length) {
                        emit(data, length);
                        written += static_cast<int64_t>(length);
                    });
        crc = result.crc;
    } else {
        z_stream& zs = run.deflater.Start(PackLevel);
        uint8_t* const outBuf = run.outBuf.get();
        zs.next_out = outBuf;
        zs.avail_out = static_cast<uInt>(kBlock);
        int flush = Z_NO_FLUSH;
        for (;;) {
            if (zs.avail_in == 0 && flush == Z_NO_FLUSH) {
                int64_t n = readSome(run.inBuf.get(), kBlock);
                zs.next_in = run.inBuf.get();
                zs.avail_in = static_cast<uInt>(n);
                if (n == 0) flush = Z_FINISH;
            }
            int r = deflate(&zs, flush);
            if (r < 0 && r != Z_BUF_ERROR) throw EZCompressionError("error");
            if (zs.avail_out == 0 || r == Z_STREAM_END) {
                size_t have = kBlock - zs.avail_out;
                emit(outBuf, have);
                written += static_cast<int64_t>(have);
                zs.next_out = outBuf;
                zs.avail_out = static_cast<uInt>(kBlock);
            }
            if (r == Z_STREAM_END) break;
        }
    }

    if (read < sizeAtOpen) DoHandleMessage(IDS_SHORTREAD, LoadZipStr(IDS_SHORTREAD), path, MB_OK);
    entry.CRC32 = crc;
    entry.SetUncompressedSize(static_cast<uint64_t>(read));
    entry.SetCompressedSize(static_cast<uint64_t>(written + (encrypt ? 12 : 0)));

    if (run.multi) {
        in.reset();
        WriteLocalRecord(run, entry);
        if (OnStartSpanCopy) OnStartSpanCopy(*this, path, run.temp->Size());
        run.temp->Seek(0, soBeginning);
        std::vector<uint8_t> buf(kCopyBuffer);
        for (;;) {
            int64_t n = run.temp->Read(buf.data(), static_cast<int64_t>(buf.size()));
            if (n <= 0) break;
            WriteData(run, buf.data(), static_cast<size_t>(n));
            run.bytesRead += static_cast<double>(n);
        }
        run.temp.reset();
        ::unlink(rtl::SysFileName(run.tempName).c_str());
        run.tempName.clear();
    } else {
        const int64_t dataEnd = run.out->Position();
        run.out->Seek(headerAt, soBeginning);
        entry.WriteLocalHeader(*run.out);
        if (run.out->Position() - headerAt != headerSize)
            throw EZipException("The local header of " + path + " changed its size while packing");
        run.out->Seek(dataEnd, soBeginning);
        in.reset();
    }
    if (OnEndZip)
        OnEndZip(*this, path, read, static_cast<int64_t>(entry.GetCompressedSize()), run.out->Position());
    return true;
}

void TZipWriter::CopyOldEntry(TRun& run, TZipHeaderInfo& entry) {
    TStream& old = *stream_;
    TZipHeaderInfo local;
    local.OEMConvert = OEMConvert;
    old.Seek(static_cast<int64_t>(entry.GetRelativeOffset()), soBeginning);
    if (!local.ReadLocalHeader(old)) throw EBadZipFile(LoadZipStr(IDS_INVALIDZIP));
    std::vector<uint8_t> extra(local.LocalExtraFieldLength);
    old.ReadBuffer(extra.data(), static_cast<int64_t>(extra.size()));
    entry.LocalExtraFieldLength = local.LocalExtraFieldLength;
    entry.Flag &= static_cast<uint16_t>(~8u);
    entry.WriteLocalHeader(*run.out);
    WriteData(run, extra.data(), extra.size());
    std::vector<uint8_t> buf(kCopyBuffer);
    uint64_t left = entry.GetCompressedSize();
    while (left > 0) {
        int64_t n = old.Read(buf.data(), static_cast<int64_t>(std::min<uint64_t>(left, buf.size())));
        if (n <= 0) throw EBadZipFile(LoadZipStr(IDS_INVALIDZIP));
        WriteData(run, buf.data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
        run.bytesRead += static_cast<double>(n);
        if (OnTotalPercentDone) OnTotalPercentDone(*this, PercentOf(run.bytesRead, run.totalBytes));
    }
}

void TZipWriter::FinishParts(TRun& run, rtl::TMemoryStream& directoryCopy) {
    if (run.parts.size() == 1) {
        // Everything fit one part: mark it as an ordinary archive.
        rtl::TFileStream first(run.parts.front(), fmOpenReadWrite);
        uint8_t marker[4];
        PutU32(marker, SINGLEPARTSIG);
        first.WriteBuffer(marker, 4);
    }
    std::string last = stem_;
    PartFileName(last, run.part + 1, spLast);
    if (::rename(run.parts.back().c_str(), last.c_str()) != 0) rtl::RaiseLastOSError();
    run.parts.back() = last;
    zipName_ = last;
    if (MultiZipInfo.SaveZipInfoOnFirstDisk && run.parts.size() > 1) {
        std::string config = last;
        size_t dot = config.find_last_of('.');
        size_t slash = config.find_last_of('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) config.resize(dot);
        config += ".zfc";
        try {
            directoryCopy.SaveToFile(config);
        } catch (const rtl::Exception&) {
            throw EConfigFileSaveError("Unable to save Zip Configuration File to disk");
        }
    }
}

int TZipWriter::Zip() {
    std::string trimmed = zipName_;
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    if (trimmed.empty()) return 0;

    bool oldBusy = ExchangeBusyFlag(true);
    const TZipSortMode savedSort = sortMode_;
    const bool savedKeep = KeepZipOpen;
    KeepZipOpen = true;
    SortFiles(ByNone);
    TRun run;
    int count = 0;
    auto restore = [&]() {
        FilesList.clear();
        KeepZipOpen = savedKeep;
        ExchangeBusyFlag(oldBusy);
    };
    try {
        std::vector<TListedFile> files = ExpandFilesList(run.totalBytes);
        if (!files.empty() && OnStartZipInfo) {
            TEndCentral empty;
            bool stop = false;
            OnStartZipInfo(*this, static_cast<int>(files.size()), run.totalBytes, empty, stop);
            if (stop) throw EUserCanceled(LoadZipStr(IDS_CANCELOPERATION));
        }
        if (MultiZipInfo.MultiMode == mmSpan)
            throw EZipException("Archives spanning removable disks are not written on this platform");
        run.multi = MultiZipInfo.MultiMode == mmBlocks;

        run.updating = !run.multi && FileExistsHere(zipName_);
        if (run.multi) {
            run.outName = stem_;
            PartFileName(run.outName, 1, spFirst);
            run.parts.push_back(run.outName);
        } else if (run.updating) {
            OpenZipFile();
            // The new archive is built beside the old one and renamed over it when complete.
            run.outName = MakeTempFileName(FolderOf(zipName_).empty() ? "." : FolderOf(zipName_));
        } else {
            run.outName = zipName_;
        }
        run.out = std::make_unique<TLFNFileStream>(run.outName, fmCreate, FlushFilesOnClose, kBlock);
        if (run.multi) {
            int64_t keep = MultiZipInfo.SaveOnFirstDisk;
            if (MultiZipInfo.SaveZipInfoOnFirstDisk) {
                // Room for a copy of the directory, for this run only.
                double names = 0;
                if (storePaths_)
                    for (const auto& f : files) names += static_cast<double>(f.Path.size()) - 2;
                int64_t average =
                    files.empty() ? 0 : static_cast<int64_t>(names / static_cast<double>(files.size()));
                keep += static_cast<int64_t>(files.size()) * (average + 46) + endCentral_->CommentLength +
                        22 + 2048;
            }
            run.room =
                (MultiZipInfo.FirstBlockSize > 0 ? MultiZipInfo.FirstBlockSize : MultiZipInfo.BlockSize) -
                keep;
            run.totalBytes *= 2;
            uint8_t marker[4];
            PutU32(marker, MULTIZIPSIG);
            run.out->WriteBuffer(marker, 4);
            run.room -= 4;
        }
        run.byName = std::make_unique<TSortedZip>(dupAccept, false);
        run.byName->SortMode = ByName;
        run.byName->CaseSensitive = true;
        run.physical = std::make_unique<TSortedZip>(dupAccept, true);
        run.physical->SortMode = ByNone;
        run.end = std::make_unique<TEndCentral>();
        if (run.updating || endCentral_->Modified) {
            if (run.updating && endCentral_->HasComment()) GetZipComment();
            run.end->Assign(*endCentral_);
        }
        run.end->SetEntriesThisDisk(0);
        run.end->SetTotalEntries(0);

        auto addEntry = [&](std::unique_ptr<TZipHeaderInfo> entry) {
            TZipHeaderInfo* e = entry.release();
            run.physical->Add(e);
            run.byName->Add(e);
            run.end->SetTotalEntries(run.end->GetTotalEntries() + 1);
            run.end->SetEntriesThisDisk(run.end->GetEntriesThisDisk() + 1);
        };

        if (run.updating && directory_) {
            for (int i = 0; i < directory_->Count(); ++i) {
                CheckCancelAndPause();
                TZipHeaderInfo& old = *directory_->Entry(i);
                if (old.FileIsOK == 2) continue;
                auto entry = std::make_unique<TZipHeaderInfo>(old);
                entry->OEMConvert = OEMConvert;
                if (!entry->CommentLoaded() && entry->FileCommentLength) ReadComment(*entry);
                const std::string key = entry->FullName();
                auto match = std::find_if(files.begin(), files.end(),
                                          [&](const TListedFile& f) { return StoredKey(f.Path) == key; });
                bool keep = true;
                if (match != files.end()) {
                    rtl::TDateTime entryDate = 0, fileDate = FileDateTime(match->Path);
                    TryDosDateTimeToDateTime(entry->LastModFileDateTime, entryDate);
                    bool newer = fileDate > entryDate;
                    if (ZipAction == zaReplace || newer) {
                        if (OnUpdate) OnUpdate(*this, uaReplacing, i);
                        auto fresh = std::make_unique<TZipHeaderInfo>();
                        int64_t at = run.out->Position();
                        if (PackFile(run, match->Path, *fresh)) {
                            addEntry(std::move(fresh));
                            ++count;
                            if (Dispose) run.packed.push_back(match->Path);
                            keep = false;
                        } else {
                            // The file could not be packed: the old entry stays rather than vanish.
                            run.out->Seek(at, soBeginning);
                        }
                    } else {
                        run.totalBytes -= static_cast<double>(match->Size);
                        run.totalBytes += static_cast<double>(entry->GetCompressedSize());
                        if (Dispose) run.packed.push_back(match->Path);
                    }
                    files.erase(match);
                }
                if (keep) {
                    if (OnUpdate) OnUpdate(*this, uaKeeping, i);
                    CopyOldEntry(run, *entry);
                    addEntry(std::move(entry));
                }
            }
        }

        // Other threads read and deflate small files ahead when there are several to pack.
        const unsigned cores = std::thread::hardware_concurrency();
        if (!run.multi && files.size() > 1 && cores > 1) {
            // Files the writer deflates on several threads itself are left out of the pool.
            const int64_t maxFile = PackThreadsFor(PackThreads) > 1 && PackLevel > 0
                                        ? static_cast<int64_t>(kParallelFrom) - 1
                                        : kPoolFile;
            run.prefetch = std::make_unique<TPrefetch>(files, PackLevel, std::min(cores - 1, 4u), maxFile);
        }
        for (size_t i = 0; i < files.size(); ++i) {
            const auto& file = files[i];
            if (run.prefetch) run.prepared = run.prefetch->Take(i);
            auto entry = std::make_unique<TZipHeaderInfo>();
            if (PackFile(run, file.Path, *entry)) {
                addEntry(std::move(entry));
                ++count;
                if (Dispose && !IsFolderEntry(file.Path)) run.packed.push_back(file.Path);
            }
        }

        rtl::TMemoryStream directoryCopy;  // the configuration file's content
        if (!run.multi) {
            const int64_t centralAt = run.out->Position();
            run.end->SetCentralOffset(static_cast<uint64_t>(centralAt));
            run.end->SetStartDisk(0);
            for (int i = 0; i < run.physical->Count(); ++i)
                run.physical->Entry(i)->WriteCentralHeader(*run.out);
            run.end->SetCentralSize(static_cast<uint64_t>(run.out->Position() - centralAt));
            run.end->SetThisDisk(0);
            run.end->WriteRecord(*run.out);
        } else {
            uint64_t centralSize = 0;
            uint32_t onThisPart = 0;
            for (int i = 0; i < run.physical->Count(); ++i) {
                rtl::TMemoryStream header;
                run.physical->Entry(i)->WriteCentralHeader(header);
                if (run.room < header.Size()) {
                    NextPart(run);
                    onThisPart = 0;
                }
                if (i == 0) {
                    run.end->SetCentralOffset(static_cast<uint64_t>(run.out->Position()));
                    run.end->SetStartDisk(static_cast<uint32_t>(run.part));
                }
                WriteData(run, static_cast<const uint8_t*>(header.Memory()),
                          static_cast<size_t>(header.Size()));
                directoryCopy.WriteBuffer(header.Memory(), header.Size());
                centralSize += static_cast<uint64_t>(header.Size());
                ++onThisPart;
            }
            if (run.physical->Count() == 0) {
                run.end->SetCentralOffset(static_cast<uint64_t>(run.out->Position()));
                run.end->SetStartDisk(static_cast<uint32_t>(run.part));
            }
            run.end->SetCentralSize(centralSize);
            run.end->SetEntriesThisDisk(onThisPart);
            if (run.room < run.end->RecordSize()) NextPart(run);
            run.end->SetThisDisk(static_cast<uint32_t>(run.part));
            rtl::TMemoryStream record;
            run.end->WriteRecord(record);
            WriteData(run, static_cast<const uint8_t*>(record.Memory()), static_cast<size_t>(record.Size()));
            directoryCopy.WriteBuffer(record.Memory(), record.Size());
        }
        if (!run.out->FlushBuffer()) throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
        if (FlushFilesOnClose && !run.out->FlushToDisk()) throw ENotEnoughRoom(LoadZipStr(IDS_NOTENOUGHROOM));
        run.out.reset();
        if (run.multi) FinishParts(run, directoryCopy);

        if (run.updating) {
            stream_.reset();
            if (!RenameOnSameDrive(run.outName, zipName_)) MoveOrCopyFile(run.outName, zipName_);
        }
        for (const auto& file : run.packed) {
            bool skip = false;
            if (OnDisposeFile) OnDisposeFile(*this, file, skip);
            if (!skip) ::unlink(rtl::SysFileName(file).c_str());
        }
        FreeDirectory();
        directory_ = run.physical.release();
        endCentral_ = std::move(run.end);
        endCentral_->Modified = false;
        archiveTime_ = ArchiveFileTime(zipName_);
        rebuilt_ = false;
        numberOfParts_ = run.part + 1;
        currentPart_ = run.part;
        view_ = directory_;
        SortFiles(savedSort);
        if (OnTotalPercentDone) OnTotalPercentDone(*this, 100);
    } catch (...) {
        run.out.reset();
        run.temp.reset();
        if (!run.tempName.empty()) ::unlink(rtl::SysFileName(run.tempName).c_str());
        if (run.multi) {
            for (const auto& part : run.parts) ::unlink(rtl::SysFileName(part).c_str());
        } else if (!run.outName.empty()) {
            ::unlink(rtl::SysFileName(run.outName).c_str());
        }
        SortFiles(savedSort);
        restore();
        if (!KeepZipOpen) stream_.reset();
        throw;
    }
    restore();
    if (!KeepZipOpen) stream_.reset();
    if (OnZipComplete) OnZipComplete(*this, count);
    return count;
}

}  // namespace zip
