#include "platform/os/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/rtl/Files.h"

namespace os {

int TReplacingFile::Open(const std::string& path) {
    Abandon();
    const std::string target = rtl::SysFileName(path);
    const size_t slash = target.rfind('/');
    temp_ = slash == std::string::npos
                ? "." + target + ".XXXXXX"
                : target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temp_.clear();
        return error;
    }
    path_ = path;
    return 0;
}

int TReplacingFile::Fail(int error) {
    Abandon();
    return error;
}

int TReplacingFile::Write(std::string_view data) {
    if (fd_ < 0) return EBADF;
    while (!data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

int TReplacingFile::Commit(bool flush, mode_t newFileMode) {
    if (fd_ < 0) return EBADF;
    const std::string target = rtl::SysFileName(path_);
    mode_t mode;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = newFileMode & ~mask;
    }
    if (::fchmod(fd_, mode) != 0) return Fail(errno);
    if (flush && ::fsync(fd_) != 0) return Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        temp_.clear();
        return error;
    }
    if (::rename(temp_.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp_.c_str());
        temp_.clear();
        return error;
    }
    temp_.clear();
    return 0;
}

void TReplacingFile::Abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

}  // namespace os
