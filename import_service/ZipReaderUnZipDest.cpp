// The extraction engine's destination: folders and files made below an open folder, never
// through a link, with a record of what was made.
#include "import_service/ZipReaderUnZipDest.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/rtl/Files.h"

namespace svc {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Splits "a/b/c" into the folder "a/b" and the name "c".
void SplitLast(const std::string& relative, std::string& folder, std::string& name) {
    const size_t slash = relative.find_last_of('/');
    folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    name = slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// The names of a relative path; empty names and "." steps are dropped. False for "..".
bool Components(const std::string& relative, std::vector<std::string>& names) {
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        std::string name = relative.substr(start, end - start);
        if (name == ".." || name.find('\0') != std::string::npos) return false;
        if (!name.empty() && name != ".") names.push_back(std::move(name));
        start = end + 1;
    }
    return true;
}

// Opens one folder below dir; a link, or anything else that is not a folder, is refused.
int OpenChild(int dir, const std::string& name, bool create, bool& made) {
    made = false;
    int fd = ::openat(dir, rtl::SysFileName(name).c_str(), kFolderFlags);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    if (::mkdirat(dir, rtl::SysFileName(name).c_str(), 0777) == 0)
        made = true;
    else if (errno != EEXIST)
        return -1;
    return ::openat(dir, rtl::SysFileName(name).c_str(), kFolderFlags);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

TFd& TFd::operator=(TFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int TFd::Release() {
    return std::exchange(fd_, -1);
}

void TFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool TUnZipDestination::Open(const std::string& root) {
    Close();
    rootName_ = root;
    root_.Reset(OpenBase(root, true));
    return root_.Valid();
}

void TUnZipDestination::Close() {
    folder_.Reset();
    folderValid_ = false;
    root_.Reset();
}

void TUnZipDestination::Forget() {
    Close();
    created_.clear();
}

uint64_t TUnZipDestination::FreeSpace() const {
    struct statvfs fs {};
    if (!root_.Valid() || ::fstatvfs(root_.Get(), &fs) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

int TUnZipDestination::OpenBase(const std::string& base, bool create) const {
    const std::string name = base.empty() ? "." : base;
    if (create && !rtl::DirectoryExists(name)) rtl::ForceDirectories(name);
    return ::open(rtl::SysFileName(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool TUnZipDestination::Split(const std::string& path, std::string& base, std::string& relative) const {
    const bool belowRoot = rootName_.empty() ? !path.empty() && path[0] != '/'
                                             : path.size() > rootName_.size() + 1 &&
                                                   path.compare(0, rootName_.size(), rootName_) == 0 &&
                                                   path[rootName_.size()] == '/';
    if (belowRoot) {
        base = rootName_;
        relative = rootName_.empty() ? path : path.substr(rootName_.size() + 1);
        return true;
    }
    if (path.empty() || path.back() == '/') return false;
    base = rtl::ExtractFileDir(path);
    if (base.empty() && path[0] == '/') base = "/";
    relative = rtl::ExtractFileName(path);
    return true;
}

bool TUnZipDestination::OpenFolder(const std::string& base, const std::string& folder, bool create) {
    if (folderValid_ && folderBase_ == base && folderName_ == folder) return true;
    folder_.Reset();
    folderValid_ = false;
    std::vector<std::string> names;
    if (!Components(folder, names)) {
        errno = EINVAL;
        return false;
    }
    TFd current(base == rootName_ && root_.Valid() ? ::dup(root_.Get()) : OpenBase(base, create));
    std::string walked;
    for (const std::string& name : names) {
        if (!current.Valid()) return false;
        bool made = false;
        TFd next(OpenChild(current.Get(), name, create, made));
        walked = Join(walked, name);
        if (made) created_.push_back({base, walked, true});
        current = std::move(next);
    }
    if (!current.Valid()) return false;
    folder_ = std::move(current);
    folderBase_ = base;
    folderName_ = folder;
    folderValid_ = true;
    return true;
}

bool TUnZipDestination::Prepare(const std::string& path, TTarget& target) {
    std::string folder;
    if (!Split(path, target.base, target.relative)) {
        errno = EINVAL;
        return false;
    }
    SplitLast(target.relative, folder, target.name);
    if (target.name.empty() || target.name == "." || target.name == ".." ||
        target.name.find('\0') != std::string::npos || !OpenFolder(target.base, folder, true))
        return false;
    target.folder = folder_.Get();
    return true;
}

bool TUnZipDestination::MakeFolders(const std::string& path) {
    std::string base, relative;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed == rootName_ || (rootName_.empty() && trimmed == ".")) return root_.Valid();
    if (!Split(trimmed, base, relative)) return false;
    if (base != rootName_) {
        // A folder outside the destination is the caller's; it is created as named.
        return rtl::ForceDirectories(trimmed);
    }
    return OpenFolder(base, relative, true);
}

bool TUnZipDestination::Probe(const TTarget& target, struct stat& st) {
    return ::fstatat(target.folder, rtl::SysFileName(target.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int TUnZipDestination::CreateFile(const TTarget& target, bool replace) {
    if (replace && ::unlinkat(target.folder, rtl::SysFileName(target.name).c_str(), 0) != 0 &&
        errno != ENOENT)
        return -1;
    const int fd = ::openat(target.folder, rtl::SysFileName(target.name).c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) created_.push_back({target.base, target.relative, false});
    return fd;
}

void TUnZipDestination::Remove(const TTarget& target) {
    ::unlinkat(target.folder, rtl::SysFileName(target.name).c_str(), 0);
}

void TUnZipDestination::RemoveCreated() {
    Close();
    // Files first, then folders deepest first: the record holds each folder before its content.
    for (bool folders : {false, true}) {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
            if (it->folder != folders) continue;
            std::string folder, name;
            SplitLast(it->relative, folder, name);
            if (!OpenFolder(it->base, folder, false)) continue;
            ::unlinkat(folder_.Get(), rtl::SysFileName(name).c_str(), folders ? AT_REMOVEDIR : 0);
        }
        Close();
    }
    created_.clear();
}

}  // namespace svc
