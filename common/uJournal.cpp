// The daily journal file: naming, opening with the exclusive lock, date rollover and the
// fallback for lines that cannot be written.
#include "common/uJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

int DateKey(rtl::TDateTime value) {
    rtl::Word y, m, d;
    rtl::DecodeDate(value, y, m, d);
    return y * 10000 + m * 100 + d;
}

std::string DatePart(rtl::TDateTime value) {
    rtl::Word y, m, d;
    rtl::DecodeDate(value, y, m, d);
    char text[32];
    std::snprintf(text, sizeof text, "%02u.%02u.%04u", unsigned(d), unsigned(m), unsigned(y));
    return text;
}

std::string TimePart(rtl::TDateTime value) {
    rtl::Word h, n, s, ms;
    rtl::DecodeTime(value, h, n, s, ms);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", unsigned(h), unsigned(n), unsigned(s),
                  unsigned(ms));
    return text;
}

std::string SystemText(int error) {
    return std::strerror(error);
}

}  // namespace

TJournal::TJournal(std::string stem, TClock clock) : stem_(std::move(stem)), clock_(std::move(clock)) {}

TJournal::~TJournal() {
    Close();
}

rtl::TDateTime TJournal::NowTime() const {
    return clock_ ? clock_() : rtl::Now();
}

void TJournal::SetLogPath(const std::string& logPath) {
    rtl::TCriticalSectionLock hold(lock_);
    logPath_ = logPath;
}

void TJournal::SetExtendedLog(bool on) {
    extendedLog_ = on;
}

std::string TJournal::FileNameFor(rtl::TDateTime date) const {
    rtl::TCriticalSectionLock hold(lock_);
    std::string folder = logPath_.empty() ? rtl::ExtractFilePath(rtl::ApplicationExeName()) : logPath_ + "/";
    return folder + stem_ + "_" + DatePart(date) + ".log";
}

std::string TJournal::FileName() const {
    rtl::TCriticalSectionLock hold(lock_);
    return fileName_;
}

bool TJournal::IsOpen() const {
    rtl::TCriticalSectionLock hold(lock_);
    return fd_ >= 0;
}

std::string TJournal::OpenFile(rtl::TDateTime date) {
    std::string name = FileNameFor(date);
    std::string folder = rtl::ExtractFileDir(name);
    if (!folder.empty() && !rtl::ForceDirectories(folder))
        return "Cannot create folder " + folder + ": " + SystemText(errno);
    int fd = ::open(rtl::SysFileName(name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
    if (fd < 0) return "Cannot open " + name + ": " + SystemText(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return "Cannot open " + name + ": the file is in use by another process";
        return "Cannot lock " + name + ": " + SystemText(error);
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    fileName_ = name;
    dateKey_ = DateKey(date);
    return {};
}

void TJournal::Open() {
    rtl::TCriticalSectionLock hold(lock_);
    std::string reason = OpenFile(NowTime());
    if (!reason.empty()) throw rtl::Exception("Error. Creating journal file. " + reason);
}

void TJournal::Close() {
    rtl::TCriticalSectionLock hold(lock_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    fileName_.clear();
    dateKey_ = 0;
}

// The whole line or nothing: a write that fails part way is cut off again.
std::string TJournal::Append(const std::string& line) {
    std::string data = rtl::AnsiToUtf8(line) + "\r\n";
    off_t start = ::lseek(fd_, 0, SEEK_END);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            if (done > 0 && start >= 0 && ::ftruncate(fd_, start) != 0) {
                // The part stays in the file; the whole line still goes to the fallback.
            }
            return "Cannot write " + fileName_ + ": " + SystemText(error);
        }
        done += static_cast<size_t>(n);
    }
    return {};
}

void TJournal::Fail(const std::string& line, const std::string& reason) {
    std::string told = reason == lastReason_ ? std::string() : reason;
    lastReason_ = reason;
    if (OnFailure) {
        OnFailure(line, told);
        return;
    }
    std::string text = (told.empty() ? "" : "Journal: " + told + "\n") + line + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

void TJournal::Write(const std::string& text, bool important) {
    if (!important && !extendedLog_) return;
    rtl::TCriticalSectionLock hold(lock_);
    rtl::TDateTime now = NowTime();
    std::string line = "[" + TimePart(now) + "] " + text;
    if (OnLine) OnLine(line);
    if (fd_ < 0) return Fail(line, "The journal is not open");
    std::string reason;
    if (DateKey(now) != dateKey_) reason = OpenFile(now);
    if (reason.empty()) reason = Append(line);
    if (!reason.empty()) return Fail(line, reason);
    lastReason_.clear();
}

TJournal::TFailureHandler TJournal::EventLogFallback(os::TEventLogger& eventLog) {
    return [&eventLog](const std::string& line, const std::string& reason) {
        if (!reason.empty())
            eventLog.LogMessage("Error. Writing journal file. " + reason, os::EVENTLOG_ERROR_TYPE);
        eventLog.LogMessage(line, os::EVENTLOG_INFORMATION_TYPE);
    };
}

}  // namespace svc
