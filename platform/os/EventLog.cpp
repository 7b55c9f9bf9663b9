// Event-log entries as syslog datagrams.
#include "platform/os/EventLog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/rtl/Strings.h"

namespace os {

namespace {

constexpr int kFacilityDaemon = 3 << 3;
constexpr int kSeverityErr = 3, kSeverityWarning = 4, kSeverityNotice = 5, kSeverityInfo = 6;

int Severity(uint32_t eventType) {
    switch (eventType) {
        case EVENTLOG_ERROR_TYPE:
            return kSeverityErr;
        case EVENTLOG_WARNING_TYPE:
            return kSeverityWarning;
        case EVENTLOG_AUDIT_FAILURE:
            return kSeverityNotice;
        default:
            return kSeverityInfo;
    }
}

// "Mmm dd hh:mm:ss" in local time; month names are fixed English, whatever the locale.
std::string Stamp() {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    char text[32];
    snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d", months[t.tm_mon % 12], t.tm_mday, t.tm_hour,
             t.tm_min, t.tm_sec);
    return text;
}

int Connect(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return -1;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEventLogger::TEventLogger(std::string source) : source_(std::move(source)) {
    const char* path = std::getenv(SyslogSocketVariable);
    socketPath_ = path && *path ? path : "/dev/log";
}

TEventLogger::~TEventLogger() {
    if (socket_ >= 0) ::close(socket_);
}

// Sends over the kept connection; a socket that went away (the syslog daemon restarted) is
// connected once more.
bool TEventLogger::Send(const std::string& datagram) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (socket_ < 0) socket_ = Connect(socketPath_);
        if (socket_ < 0) return false;
        ssize_t n;
        do n = ::send(socket_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(datagram.size())) return true;
        ::close(socket_);
        socket_ = -1;
    }
    return false;
}

void TEventLogger::LogMessage(const std::string& message, uint32_t eventType, uint16_t, uint32_t) {
    std::string text = rtl::AnsiToUtf8(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string tag = source_ + "[" + std::to_string(::getpid()) + "]: ";
    std::string datagram =
        "<" + std::to_string(kFacilityDaemon | Severity(eventType)) + ">" + Stamp() + " " + tag + text;
    std::lock_guard<std::mutex> hold(lock_);
    if (Send(datagram)) return;
    std::string line = tag + text + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

}  // namespace os
