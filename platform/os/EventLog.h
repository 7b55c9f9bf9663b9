// The event log over syslog. Entries go as datagrams in the classic syslog form
// ("<PRI>Mmm dd hh:mm:ss source[pid]: text", facility daemon) to the local syslog socket, so
// that under systemd they reach the journal with the event source as their identity. The text
// is converted from the ANSI code page to UTF-8. An entry the socket does not take goes to
// standard error instead (which systemd also journals), so none is lost silently.
//
// The socket is "/dev/log", or the path that the environment variable DX_SYSLOG_SOCKET names
// when the logger is made.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/rtl/Objects.h"

namespace os {

inline constexpr uint32_t EVENTLOG_SUCCESS = 0x0000;
inline constexpr uint32_t EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr uint32_t EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr uint32_t EVENTLOG_INFORMATION_TYPE = 0x0004;
inline constexpr uint32_t EVENTLOG_AUDIT_SUCCESS = 0x0008;
inline constexpr uint32_t EVENTLOG_AUDIT_FAILURE = 0x0010;

inline constexpr const char* SyslogSocketVariable = "DX_SYSLOG_SOCKET";

class TEventLogger : public rtl::TObject {
public:
    explicit TEventLogger(std::string source);
    ~TEventLogger() override;
    TEventLogger(const TEventLogger&) = delete;
    TEventLogger& operator=(const TEventLogger&) = delete;

    const std::string& Source() const { return source_; }

    // Writes one entry; never raises. Error entries have syslog severity err, warnings warning,
    // audit failures notice, everything else info. Syslog has no place for category and id;
    // they are accepted and not written.
    void LogMessage(const std::string& message, uint32_t eventType = EVENTLOG_ERROR_TYPE,
                    uint16_t category = 0, uint32_t id = 0);

private:
    bool Send(const std::string& datagram);

    std::string source_;
    std::string socketPath_;
    int socket_ = -1;
    std::mutex lock_;
};

}  // namespace os
