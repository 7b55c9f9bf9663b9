// A monitor program stand-in on loopback for the socket monitor tests.
#include "tests/dataaccess/components/MonitorListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

int ListenSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0)
        throw std::runtime_error("bind");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

MonitorListener::MonitorListener(Mode mode) : mode_(mode) {
    fd_ = ListenSocket(port_);
    if (mode_ == NeverRead) {
        // Accept nothing and read nothing: the kernel completes the connect and then the
        // client's sends fill the buffers.
        int small = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

MonitorListener::~MonitorListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
}

void MonitorListener::DropConnection() {
    const int c = current_.exchange(-1);
    if (c >= 0) ::shutdown(c, SHUT_RDWR);
}

void MonitorListener::Run() {
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) continue;
        ++accepted_;
        size_t index;
        {
            std::lock_guard<std::mutex> g(lock_);
            index = streams_.size();
            streams_.emplace_back();
        }
        if (mode_ == CloseAtOnce) {
            ::close(c);
            std::lock_guard<std::mutex> g(lock_);
            ++ended_;
            continue;
        }
        current_ = c;
        char buf[65536];
        while (!stop_) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 20) <= 0) {
                if (current_.load() != c) break;
                continue;
            }
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            std::lock_guard<std::mutex> g(lock_);
            streams_[index].append(buf, static_cast<size_t>(n));
        }
        current_ = -1;
        ::close(c);
        std::lock_guard<std::mutex> g(lock_);
        ++ended_;
    }
}

std::vector<std::string> MonitorListener::Streams(size_t count, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> g(lock_);
            if (ended_ >= count || std::chrono::steady_clock::now() >= until) return streams_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int UnusedPort() {
    int port = 0;
    const int fd = ListenSocket(port);
    ::close(fd);
    return port;
}

std::vector<std::unique_ptr<dac::TMonitorMessage>> DecodeStream(const std::string& bytes) {
    dac::TMemoryMessagePacker p(bytes);
    std::vector<std::unique_ptr<dac::TMonitorMessage>> out;
    while (!p.AtEnd()) out.push_back(dac::ReadMessage(p));
    return out;
}

std::vector<int> TypesOf(const std::string& bytes) {
    std::vector<int> types;
    for (const auto& m : DecodeStream(bytes)) types.push_back(m ? m->MessageType() : dac::mtProbe);
    return types;
}
