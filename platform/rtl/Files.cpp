#include "platform/rtl/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/FileShare.h"
#include "platform/rtl/Strings.h"

namespace rtl {

// ---- names

namespace {

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string SysFileName(std::string_view name) {
    return IsAscii(name) ? std::string(name) : AnsiToUtf8(name);
}

bool TryAnsiFileName(std::string_view sysName, std::string& name) {
    if (IsAscii(sysName)) {
        name.assign(sysName);
        return true;
    }
    return TryUtf8ToAnsi(sysName, name);
}

std::string UnnamableFileMessage(std::string_view sysName) {
    return "The file name \"" + Utf8ToAnsi(sysName) + "\" cannot be represented in code page " +
           std::to_string(AnsiCodePage);
}

std::string AnsiFileName(std::string_view sysName) {
    std::string name;
    if (!TryAnsiFileName(sysName, name)) throw EFileNameError(UnnamableFileMessage(sysName));
    return name;
}

// ---- share claims

namespace fileshare {
namespace {

// Far beyond any real data, so the locks never meet byte-range locks on content.
constexpr off_t kBase = 0x7FFFFFFF00000000LL;
constexpr int kRead = 1, kWrite = 2, kDenyRead = 3, kDenyWrite = 4;

bool SetByte(int fd, int index, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kBase + index;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// 1 = another holder has a claim on the range, 0 = free, -1 = locks unsupported.
int Probe(int fd, int index, int length) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kBase + index;
    fl.l_len = length;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
    return fl.l_type == F_UNLCK ? 0 : 1;
}

}  // namespace

bool Claim(int fd, const TShareClaim& claim) {
    std::vector<int> mine;
    if (claim.read) mine.push_back(kRead);
    if (claim.write) mine.push_back(kWrite);
    if (claim.denyRead) mine.push_back(kDenyRead);
    if (claim.denyWrite) mine.push_back(kDenyWrite);
    // Claim first, then look: two conflicting openers racing both fail rather than both succeed.
    for (size_t i = 0; i < mine.size(); ++i) {
        if (!SetByte(fd, mine[i], F_RDLCK)) {
            for (size_t k = 0; k < i; ++k) SetByte(fd, mine[k], F_UNLCK);
            return true;  // no lock support here: nothing to enforce
        }
    }
    bool conflict =
        (claim.read && Probe(fd, kDenyRead, 1) == 1) || (claim.write && Probe(fd, kDenyWrite, 1) == 1) ||
        (claim.denyRead && Probe(fd, kRead, 1) == 1) || (claim.denyWrite && Probe(fd, kWrite, 1) == 1);
    if (conflict) {
        for (int b : mine) SetByte(fd, b, F_UNLCK);
        return false;
    }
    return true;
}

bool AnyHolder(int fd) {
    return Probe(fd, kRead, 4) == 1;
}

}  // namespace fileshare

// ---- small helpers

namespace {

// Keeps errno across clean-up calls.
class ErrnoKeeper {
public:
    ErrnoKeeper() : saved_(errno) {}
    ~ErrnoKeeper() { errno = saved_; }

private:
    int saved_;
};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Copies source into a new hidden temporary beside target, with the source's permission bits
// and modification time, flushed to disk. On failure nothing is left behind and errno tells why.
bool CopyToTemp(const std::string& source, const std::string& target, std::string& tempName) {
    const int in = ::open(SysFileName(source).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ErrnoKeeper keep;
        if (errno == 0 || S_ISDIR(st.st_mode)) errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(in);
        return false;
    }
    // The name neither matches the target's mask nor shows in ordinary listings.
    std::string pattern = ExtractFilePath(target) + "." + ExtractFileName(target) + ".tmpXXXXXX";
    const std::string sysPattern = SysFileName(pattern);
    std::vector<char> buf(sysPattern.begin(), sysPattern.end());
    buf.push_back('\0');
    const int out = ::mkostemp(buf.data(), O_CLOEXEC);
    if (out < 0) {
        ErrnoKeeper keep;
        ::close(in);
        return false;
    }
    // Only the random ASCII tail differs from the ANSI pattern.
    tempName = pattern.substr(0, pattern.size() - 6) + std::string(buf.data() + buf.size() - 7, 6);
    bool ok = true;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!WriteAll(out, chunk.data(), static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    if (ok) ok = ::fchmod(out, st.st_mode & 07777) == 0;
    if (ok) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ok = ::futimens(out, times) == 0;
    }
    if (ok) ok = ::fsync(out) == 0;
    {
        ErrnoKeeper keep;
        ::close(in);
    }
    if (::close(out) != 0) ok = false;
    if (!ok) {
        ErrnoKeeper keep;
        ::unlink(SysFileName(tempName).c_str());
        tempName.clear();
    }
    return ok;
}

void SyncDirOf(const std::string& path) {
    std::string dir = ExtractFileDir(path);
    if (dir.empty()) dir = ".";
    const int fd = ::open(SysFileName(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames without replacing; EEXIST when the target is there.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, SysFileName(from).c_str(), AT_FDCWD, SysFileName(to).c_str(),
                    RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // File systems without the flag: a hard link cannot replace either.
    if (::link(SysFileName(from).c_str(), SysFileName(to).c_str()) != 0) return false;
    ::unlink(SysFileName(from).c_str());
    return true;
}

}  // namespace

int GetLastError() {
    return errno;
}

// ---- existence and folders

bool FileExists(const std::string& fileName) {
    struct stat st {};
    return !fileName.empty() && ::stat(SysFileName(fileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && ::stat(SysFileName(dir).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& dir) {
    return ::mkdir(SysFileName(dir).c_str(), 0777) == 0;
}

bool RemoveDir(const std::string& dir) {
    return ::rmdir(SysFileName(dir).c_str()) == 0;
}

bool ForceDirectories(const std::string& dir) {
    if (dir.empty()) throw EInOutError("Unable to create directory");
    const std::string path = ExcludeTrailingPathDelimiter(dir);
    if (DirectoryExists(path)) return true;
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path && !ForceDirectories(parent)) return false;
    if (::mkdir(SysFileName(path).c_str(), 0777) == 0) return true;
    return errno == EEXIST && DirectoryExists(path);
}

bool DeleteFile(const std::string& fileName) {
    struct stat st {};
    if (::lstat(SysFileName(fileName).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(SysFileName(fileName).c_str()) == 0;
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
    return RenameNoReplace(oldName, newName);
}

std::string GetCurrentDir() {
    std::vector<char> buf(4096);
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
    return AnsiFileName(buf.data());
}

bool SetCurrentDir(const std::string& dir) {
    return ::chdir(SysFileName(dir).c_str()) == 0;
}

bool MoveFileReplace(const std::string& source, const std::string& target) {
    if (::rename(SysFileName(source).c_str(), SysFileName(target).c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    std::string temp;
    if (!CopyToTemp(source, target, temp)) return false;
    if (::rename(SysFileName(temp).c_str(), SysFileName(target).c_str()) != 0) {
        ErrnoKeeper keep;
        ::unlink(SysFileName(temp).c_str());
        return false;
    }
    SyncDirOf(target);
    {
        ErrnoKeeper keep;
        ::unlink(SysFileName(source).c_str());  // a source that stays is not a failure of the move
    }
    return true;
}

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
    struct stat st {};
    if (failIfExists && ::lstat(SysFileName(target).c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    std::string temp;
    if (!CopyToTemp(source, target, temp)) return false;
    const bool ok = failIfExists ? RenameNoReplace(temp, target)
                                 : ::rename(SysFileName(temp).c_str(), SysFileName(target).c_str()) == 0;
    if (!ok) {
        ErrnoKeeper keep;
        ::unlink(SysFileName(temp).c_str());
        return false;
    }
    return true;
}

bool CopyFileNoOverwrite(const std::string& source, const std::string& target) {
    return CopyFile(source, target, true);
}

// ---- attributes

namespace {

int AttrOf(const std::string& name, const struct stat& st) {
    int attr = 0;
    if (S_ISDIR(st.st_mode)) {
        attr |= faDirectory;
    } else if (S_ISREG(st.st_mode)) {
        attr |= faArchive;
    } else {
        attr |= faSysFile;
    }
    if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= faHidden;
    return attr;
}

}  // namespace

int FileGetAttr(const std::string& fileName) {
    struct stat st {};
    if (::stat(SysFileName(fileName).c_str(), &st) != 0) return -1;
    return AttrOf(ExtractFileName(ExcludeTrailingPathDelimiter(fileName)), st);
}

namespace {

// The permission bits that give a file the read-only attribute or take it away.
mode_t ModeForAttr(mode_t current, int attr) {
    mode_t mode = current & 07777;
    if (attr & faReadOnly) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if ((mode & S_IWUSR) == 0) {
        // Give back write permission where read permission is.
        mode |= S_IWUSR;
        if (mode & S_IRGRP) mode |= S_IWGRP;
    }
    return mode;
}

}  // namespace

int FileSetAttr(const std::string& fileName, int attr) {
    struct stat st {};
    if (::stat(SysFileName(fileName).c_str(), &st) != 0) return errno;
    const mode_t mode = ModeForAttr(st.st_mode, attr);
    if (mode == (st.st_mode & 07777)) return 0;
    return ::chmod(SysFileName(fileName).c_str(), mode) == 0 ? 0 : errno;
}

int FileSetAttr(int handle, int attr) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) return errno;
    const mode_t mode = ModeForAttr(st.st_mode, attr);
    if (mode == (st.st_mode & 07777)) return 0;
    return ::fchmod(handle, mode) == 0 ? 0 : errno;
}

// ---- masks

namespace {

enum : char32_t {
    kStar = 0x110000,  // any run
    kDosStar,          // any run that leaves the final dot
    kDosQm,            // one character, or none before a dot or at the end
    kDosDot,           // a dot, or nothing at the end
};

std::u32string Fold(const std::string& s) {
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        int extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            extra = -1;
        }
        bool valid = extra >= 0;
        if (valid) {
            for (int k = 1; k <= extra; ++k) {
                if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            }
        }
        if (!valid) {
            // A byte that is not UTF-8 stands for itself, kept apart from real characters.
            out.push_back(0xDC00 + b);
            ++i;
            continue;
        }
        out.push_back(static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT)));
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

class MaskMatcher {
public:
    MaskMatcher(const std::u32string& mask, const std::u32string& name) : name_(name) {
        for (size_t i = 0; i < mask.size(); ++i) {
            const char32_t c = mask[i];
            const char32_t next = i + 1 < mask.size() ? mask[i + 1] : 0;
            if (c == U'?') {
                tokens_.push_back(kDosQm);
            } else if (c == U'*') {
                tokens_.push_back(next == U'.' ? kDosStar : kStar);
            } else if (c == U'.' && (next == 0 || next == U'?' || next == U'*')) {
                tokens_.push_back(kDosDot);
            } else {
                tokens_.push_back(c);
            }
        }
        const size_t dot = name_.rfind(U'.');
        lastDot_ = dot == std::u32string::npos ? -1 : static_cast<long>(dot);
        memo_.assign((tokens_.size() + 1) * (name_.size() + 1), -1);
    }

    bool Run() { return Match(0, 0); }

private:
    bool Match(size_t t, size_t n) {
        int8_t& memo = memo_[t * (name_.size() + 1) + n];
        if (memo < 0) memo = Compute(t, n) ? 1 : 0;
        return memo == 1;
    }

    bool Compute(size_t t, size_t n) {
        const size_t len = name_.size();
        if (t == tokens_.size()) return n == len;
        switch (tokens_[t]) {
            case kStar:
                for (size_t k = n; k <= len; ++k)
                    if (Match(t + 1, k)) return true;
                return false;
            case kDosStar: {
                const size_t limit = lastDot_ >= static_cast<long>(n) ? static_cast<size_t>(lastDot_) : len;
                for (size_t k = n; k <= limit; ++k)
                    if (Match(t + 1, k)) return true;
                return false;
            }
            case kDosQm:
                if (n == len || name_[n] == U'.') return Match(t + 1, n);
                return Match(t + 1, n + 1);
            case kDosDot:
                if (n == len) return Match(t + 1, n);
                return name_[n] == U'.' && Match(t + 1, n + 1);
            default:
                return n < len && name_[n] == tokens_[t] && Match(t + 1, n + 1);
        }
    }

    std::u32string tokens_;
    const std::u32string& name_;
    long lastDot_ = -1;
    std::vector<int8_t> memo_;
};

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
    if (mask == "*" || mask == "*.*") return true;
    const std::u32string foldedName = Fold(name);
    MaskMatcher matcher(Fold(mask), foldedName);
    return matcher.Run();
}

// ---- searching

namespace {

constexpr int64_t kUnixToFileTime = 116444736000000000LL;  // 1601 -> 1970 in 100 ns units

int32_t PackDos(const struct tm& t) {
    // Past the format's last year: its latest moment.
    if (t.tm_year + 1900 > 2107) return static_cast<int32_t>(EncodeDosDateTime(2107, 12, 31, 23, 59, 59));
    return static_cast<int32_t>(EncodeDosDateTime(
        t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday),
        static_cast<unsigned>(t.tm_hour), static_cast<unsigned>(t.tm_min), static_cast<unsigned>(t.tm_sec)));
}

int32_t DosOfUnix(time_t seconds) {
    struct tm t {};
    if (::localtime_r(&seconds, &t) == nullptr) return -1;
    return PackDos(t);
}

}  // namespace

struct TSearchState {
    std::vector<TSearchRec> entries;
    size_t next = 0;
};

namespace {

int Deliver(TSearchRec& rec) {
    auto state = rec.State;
    if (!state || state->next >= state->entries.size()) return ENOENT;
    TSearchRec& e = state->entries[state->next++];
    const int exclude = rec.ExcludeAttr;
    rec.Time = e.Time;
    rec.TimeStamp = e.TimeStamp;
    rec.Size = e.Size;
    rec.Attr = e.Attr;
    rec.Name = e.Name;
    rec.FindData = e.FindData;
    rec.ExcludeAttr = exclude;
    return 0;
}

}  // namespace

int FindFirst(const std::string& path, int attr, TSearchRec& rec) {
    FindClose(rec);
    rec.Unnamable.clear();
    rec.ExcludeAttr = ~attr & (faHidden | faSysFile | faVolumeID | faDirectory);
    const std::string dir = ExtractFilePath(path);
    const std::string mask = ExtractFileName(path);
    if (mask.empty()) return ENOENT;
    DIR* d = ::opendir(dir.empty() ? "." : SysFileName(dir).c_str());
    if (d == nullptr) return errno == 0 ? ENOENT : errno;
    auto state = std::make_shared<TSearchState>();
    while (dirent* ent = ::readdir(d)) {
        std::string name;
        if (!TryAnsiFileName(ent->d_name, name)) {
            // Never delivered under a made-up name; listed for the caller when the mask takes it.
            if (MatchesMask(Utf8ToAnsi(ent->d_name), mask))
                rec.Unnamable.push_back(SysFileName(dir) + ent->d_name);
            continue;
        }
        struct stat st {};
        const std::string sysFull = SysFileName(dir) + ent->d_name;
        if (::stat(sysFull.c_str(), &st) != 0 && ::lstat(sysFull.c_str(), &st) != 0) continue;
        const int a = AttrOf(name, st);
        if ((a & rec.ExcludeAttr) != 0) continue;
        if (!MatchesMask(name, mask)) continue;
        TSearchRec e;
        e.Name = name;
        e.Attr = a;
        e.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
        e.Time = DosOfUnix(st.st_mtim.tv_sec);
        e.TimeStamp = UnixTimeToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        e.FindData.dwFileAttributes = static_cast<uint32_t>(a);
        e.FindData.ftLastWriteTime =
            static_cast<uint64_t>(static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000LL +
                                  st.st_mtim.tv_nsec / 100 + kUnixToFileTime);
        e.FindData.nFileSizeHigh = static_cast<uint32_t>(static_cast<uint64_t>(e.Size) >> 32);
        e.FindData.nFileSizeLow = static_cast<uint32_t>(static_cast<uint64_t>(e.Size) & 0xFFFFFFFFu);
        e.FindData.cFileName = name;
        state->entries.push_back(std::move(e));
    }
    ::closedir(d);
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    std::sort(state->entries.begin(), state->entries.end(), [&](const TSearchRec& x, const TSearchRec& y) {
        if (rank(x.Name) != rank(y.Name)) return rank(x.Name) < rank(y.Name);
        const std::u32string fx = Fold(x.Name), fy = Fold(y.Name);
        if (fx != fy) return fx < fy;
        return x.Name < y.Name;
    });
    if (state->entries.empty()) return ENOENT;
    rec.State = state;
    return Deliver(rec);
}

int FindNext(TSearchRec& rec) {
    return Deliver(rec);
}

void FindClose(TSearchRec& rec) {
    rec.State.reset();
}

// ---- path parts

std::string ExtractFilePath(const std::string& fileName) {
    const size_t pos = fileName.rfind(PathDelim);
    return pos == std::string::npos ? std::string() : fileName.substr(0, pos + 1);
}

std::string ExtractFileDir(const std::string& fileName) {
    const size_t pos = fileName.rfind(PathDelim);
    if (pos == std::string::npos) return std::string();
    if (pos == 0) return std::string(1, PathDelim);
    return fileName.substr(0, pos);
}

std::string ExtractFileName(const std::string& fileName) {
    const size_t pos = fileName.rfind(PathDelim);
    return pos == std::string::npos ? fileName : fileName.substr(pos + 1);
}

std::string ExtractFileExt(const std::string& fileName) {
    const size_t pos = fileName.find_last_of("./");
    if (pos == std::string::npos || fileName[pos] != '.') return std::string();
    return fileName.substr(pos);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
    const size_t pos = fileName.find_last_of("./");
    if (pos == std::string::npos || fileName[pos] != '.') return fileName + extension;
    return fileName.substr(0, pos) + extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == PathDelim) return path;
    return path + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    if (path.size() > 1 && path.back() == PathDelim) return path.substr(0, path.size() - 1);
    return path;
}

std::string ExpandFileName(const std::string& fileName) {
    if (fileName.empty()) return std::string();
    std::string full =
        fileName[0] == PathDelim ? fileName : IncludeTrailingPathDelimiter(GetCurrentDir()) + fileName;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find(PathDelim, start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto& p : parts) result += PathDelim + p;
    if (result.empty()) return std::string(1, PathDelim);
    const std::string tail = ExtractFileName(full);
    if (full.back() == PathDelim || tail == "." || tail == "..") result += PathDelim;
    return result;
}

// ---- the program

std::string ApplicationExeName() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    return AnsiFileName(std::string_view(buf.data(), static_cast<size_t>(n)));
}

namespace {

std::vector<std::string> CommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

}  // namespace

int ParamCount() {
    const auto args = CommandLine();
    return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::string ParamStr(int index) {
    if (index == 0) return ApplicationExeName();
    const auto args = CommandLine();
    if (index < 0 || static_cast<size_t>(index) >= args.size()) return std::string();
    return args[static_cast<size_t>(index)];
}

// ---- dates

namespace {

constexpr int64_t kDelphiEpochDays = -UnixDateDelta;  // 30 December 1899 from 1 January 1970

// Negative values keep the time of day as a positive fraction (-1.25 is 1899-12-29 06:00).
TDateTime MakeDateTime(int y, unsigned m, unsigned d, double secondsOfDay) {
    const double day = static_cast<double>(DaysFromCivil(y, m, d) - kDelphiEpochDays);
    const double frac = secondsOfDay / 86400.0;
    return day < 0 ? day - frac : day + frac;
}

// Splits a date-time into its parts, rounded to the millisecond.
void SplitDateTime(TDateTime value, struct tm& t, int& ms) {
    double day = std::trunc(value);
    int64_t msOfDay = std::llround(std::fabs(value - day) * 86400000.0);
    if (msOfDay >= 86400000) {
        msOfDay -= 86400000;
        day += value < 0 ? -1 : 1;
    }
    int y;
    unsigned m, d;
    CivilFromDays(static_cast<int64_t>(day) + kDelphiEpochDays, y, m, d);
    t = {};
    t.tm_year = y - 1900;
    t.tm_mon = static_cast<int>(m) - 1;
    t.tm_mday = static_cast<int>(d);
    t.tm_hour = static_cast<int>(msOfDay / 3600000);
    t.tm_min = static_cast<int>(msOfDay / 60000 % 60);
    t.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
    t.tm_isdst = -1;
    ms = static_cast<int>(msOfDay % 1000);
}

}  // namespace

TDateTime UnixTimeToLocalDateTime(time_t seconds, long nanoseconds) {
    struct tm t {};
    if (::localtime_r(&seconds, &t) == nullptr) return 0;
    const double sod = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec + nanoseconds / 1e9;
    return MakeDateTime(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                        static_cast<unsigned>(t.tm_mday), sod);
}

bool LocalDateTimeToUnixTime(TDateTime value, time_t& seconds) {
    struct tm t {};
    int ms = 0;
    SplitDateTime(value, t, ms);
    // Not mktime: it looks at the zone file again on every call, localtime_r only once.
    const time_t asUtc = ::timegm(&t);
    time_t result = asUtc;
    for (int i = 0; i < 3; ++i) {
        struct tm local {};
        if (::localtime_r(&result, &local) == nullptr) return false;
        const time_t next = asUtc - local.tm_gmtoff;
        if (next == result) break;
        result = next;
    }
    seconds = result;
    return true;
}

bool FileAge(const std::string& fileName, TDateTime& age) {
    struct stat st {};
    if (::stat(SysFileName(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    age = UnixTimeToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

int32_t FileGetDate(int handle) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) return -1;
    return DosOfUnix(st.st_mtim.tv_sec);
}

int32_t FileAgeDos(const std::string& fileName) {
    struct stat st {};
    if (::stat(SysFileName(fileName).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return DosOfUnix(st.st_mtim.tv_sec);
}

namespace {

struct TDosParts {
    int Year, Month, Day, Hour, Min, Sec;
};

TDosParts UnpackDos(uint32_t v) {
    return {static_cast<int>(v >> 25) + 1980,   static_cast<int>((v >> 21) & 0x0F),
            static_cast<int>((v >> 16) & 0x1F), static_cast<int>((v >> 11) & 0x1F),
            static_cast<int>((v >> 5) & 0x3F),  static_cast<int>(v & 0x1F) * 2};
}

}  // namespace

uint32_t EncodeDosDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned min,
                           unsigned sec) {
    if (year < 1980) return 1u << 21 | 1u << 16;  // 1 January 1980
    if (year > 2107) year = 2107;
    return static_cast<uint32_t>(year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | min << 5 |
           sec / 2;
}

bool TryDosDateTimeToDateTime(uint32_t value, TDateTime& result) {
    const TDosParts p = UnpackDos(value);
    return TryEncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Min, p.Sec, 0, result);
}

TDateTime FileDateToDateTime(int32_t dosDateTime) {
    const TDosParts p = UnpackDos(static_cast<uint32_t>(dosDateTime));
    const TDateTime date = EncodeDate(p.Year, p.Month, p.Day);  // the date's error first
    return CombineDateTime(date, EncodeTime(p.Hour, p.Min, p.Sec, 0));
}

int32_t DateTimeToFileDate(TDateTime value) {
    struct tm t {};
    int ms = 0;
    SplitDateTime(value, t, ms);
    const int year = t.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    return PackDos(t);
}

namespace {

// Access time kept, modification time from a DOS date-time; false for an impossible value.
bool DosFileTimes(int32_t dosDateTime, timespec (&times)[2]) {
    TDateTime value;
    try {
        value = FileDateToDateTime(dosDateTime);
    } catch (const EConvertError&) {
        return false;
    }
    time_t seconds;
    if (!LocalDateTimeToUnixTime(value, seconds)) return false;
    times[0] = {0, UTIME_OMIT};
    times[1] = {seconds, 0};
    return true;
}

}  // namespace

int FileSetDate(const std::string& fileName, int32_t dosDateTime) {
    timespec times[2];
    if (!DosFileTimes(dosDateTime, times)) return EINVAL;
    return ::utimensat(AT_FDCWD, SysFileName(fileName).c_str(), times, 0) == 0 ? 0 : errno;
}

int FileSetDate(int handle, int32_t dosDateTime) {
    timespec times[2];
    if (!DosFileTimes(dosDateTime, times)) return EINVAL;
    return ::futimens(handle, times) == 0 ? 0 : errno;
}

// ---- files still being written

bool FileIsCompletelyWritten(const std::string& fileName, TFileLook& look) {
    const int fd = ::open(SysFileName(fileName).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        look = TFileLook{};
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        look = TFileLook{};
        return false;
    }
    const bool free = !fileshare::AnyHolder(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    TFileLook now;
    now.Seen = true;
    now.Size = static_cast<int64_t>(st.st_size);
    now.ModifyTime = st.st_mtim;
    now.Device = static_cast<uint64_t>(st.st_dev);
    now.Inode = static_cast<uint64_t>(st.st_ino);
    const bool same = look.Seen && look.Size == now.Size && look.ModifyTime.tv_sec == now.ModifyTime.tv_sec &&
                      look.ModifyTime.tv_nsec == now.ModifyTime.tv_nsec && look.Device == now.Device &&
                      look.Inode == now.Inode;
    look = now;
    ::close(fd);  // drops the lock
    return free && same;
}

}  // namespace rtl
