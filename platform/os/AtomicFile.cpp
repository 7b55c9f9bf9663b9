// Whole-file replacement through a temporary beside the target.
#include "platform/os/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/rtl/Files.h"

namespace os {

namespace {

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

std::string TemporaryPattern(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".XXXXXX";
}

}  // namespace

int ReplaceFileContents(const std::string& path, std::string_view data, mode_t newFileMode, bool flush) {
    mode_t mode;
    struct stat st;
    if (::stat(rtl::SysFileName(path).c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = newFileMode & ~mask;
    }
    std::string temp = TemporaryPattern(path);
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return errno;
    int error = WriteAll(fd, data);
    if (!error && ::fchmod(fd, mode) != 0) error = errno;
    if (!error && flush && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && ::rename(rtl::SysFileName(temp).c_str(), rtl::SysFileName(path).c_str()) != 0)
        error = errno;
    if (error) ::unlink(rtl::SysFileName(temp).c_str());
    return error;
}

int ReadFileContents(const std::string& path, std::string& data) {
    data.clear();
    int fd = ::open(rtl::SysFileName(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

}  // namespace os
