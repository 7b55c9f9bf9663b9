// A server program that a test starts on loopback and stops afterwards. Its standard input is a
// pipe (the project's Python test servers end when it closes), its standard error goes to a log
// file, and its standard output may announce the port as a line "PORT <n>".
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testserver {

// A port on 127.0.0.1 that nothing listens on (at the moment of asking).
inline int UnusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(s);
    return ntohs(addr.sin_port);
}

// True once something accepts connections on 127.0.0.1:port, within the time given.
inline bool WaitForPort(int port, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(s);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class TServerProcess {
public:
    // stopSignal: sent when the program has not ended after its input was closed (programs that
    // do not watch their input take SIGTERM at once).
    TServerProcess(std::vector<std::string> args, const std::string& logPath, int stopSignal = 0)
        : stopSignal_(stopSignal) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
        if (rc != 0) {
            pid_ = 0;
            Stop();
            throw std::runtime_error("cannot start " + args[0]);
        }
    }

    ~TServerProcess() { Stop(); }
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;

    // The first line of the program's output, without its line end; "" when none came in time.
    std::string ReadLine(int seconds = 30) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{output_, POLLIN, 0};
            if (::poll(&p, 1, 200) > 0) {
                char buf[64];
                const ssize_t n = ::read(output_, buf, sizeof buf);
                if (n <= 0) break;
                line.append(buf, static_cast<std::size_t>(n));
            }
        }
        const std::size_t end = line.find('\n');
        return end == std::string::npos ? std::string() : line.substr(0, end);
    }

    // The port of the line "PORT <n>" on the program's output; 0 when none came in time.
    int ReadPort(int seconds = 30) {
        const std::string line = ReadLine(seconds);
        return line.rfind("PORT ", 0) == 0 ? std::stoi(line.substr(5)) : 0;
    }

    void Stop() {
        for (int* fd : {&input_, &output_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
        if (pid_ <= 0) return;
        if (stopSignal_) ::kill(pid_, stopSignal_);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
    int input_ = -1;
    int output_ = -1;
    int stopSignal_ = 0;
};

}  // namespace testserver
