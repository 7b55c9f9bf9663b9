// A monitor program stand-in on loopback for the socket monitor tests: it accepts connections
// and keeps what each one sent, or misbehaves on request (never reads, closes at once).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dataaccess/components/DBMonitorClient.h"

class MonitorListener {
public:
    enum Mode { Record, NeverRead, CloseAtOnce };
    explicit MonitorListener(Mode mode = Record);
    ~MonitorListener();
    int Port() const { return port_; }
    // Closes the current connection from the listener's side.
    void DropConnection();
    // The bytes of every connection so far, in order; waits until count connections have ended
    // or timeoutMs passed.
    std::vector<std::string> Streams(size_t count, int timeoutMs = 5000);
    int Accepted() const { return accepted_.load(); }

private:
    void Run();
    Mode mode_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> current_{-1};
    std::mutex lock_;
    std::vector<std::string> streams_;
    size_t ended_ = 0;
    std::thread thread_;
};

// A port on loopback where nothing listens.
int UnusedPort();

// The messages of a stream; probes appear as nullptr.
std::vector<std::unique_ptr<dac::TMonitorMessage>> DecodeStream(const std::string& bytes);
// The type codes of a stream, probes included.
std::vector<int> TypesOf(const std::string& bytes);
