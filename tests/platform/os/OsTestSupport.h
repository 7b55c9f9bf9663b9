// Shared pieces of the operating-system stand-in tests: a temporary folder, whole files,
// environment variables set for one test, and child processes with pipes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/os/CryptTestSupport.h"

extern char** environ;

namespace ostest {

using crypttest::ReadFile;
using crypttest::Shell;
using crypttest::WriteFile;

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "os") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or with nullopt unsets) an environment variable until the end of the scope.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A bound local datagram socket (a syslog or systemd notification socket of the test's own)
// that hands out what it received.
class DatagramSocket {
public:
    explicit DatagramSocket(std::string path) : path_(std::move(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path_;
    }
    ~DatagramSocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    // The next datagram, or "" when none comes in time.
    std::string Receive(int timeoutMs = 1000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return {};
        char buffer[65536];
        ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

private:
    std::string path_;
    int fd_;
};

// A child program with its standard input and output (stderr joined) on pipes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~Child() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Send(const std::string& text) {
        ssize_t n = ::write(stdin_, text.data(), text.size());
        (void)n;
    }
    void CloseInput() {
        ::close(stdin_);
        stdin_ = -1;
    }
    void Signal(int number) { ::kill(pid_, number); }

    // Reads output until it contains text or the time is up; true when it does.
    bool WaitFor(const std::string& text, int timeoutMs = 10000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (output_.find(text) == std::string::npos) {
            if (stdout_ < 0 || std::chrono::steady_clock::now() > until) return false;
            ReadSome(100);
        }
        return true;
    }
    // Reads the rest and waits for the exit; the exit code, or -1 for a signal or a time-out.
    int Wait(int timeoutMs = 20000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!exited_) {
            ReadSome(50);
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                while (ReadSome(10)) {
                }
            } else if (std::chrono::steady_clock::now() > until) {
                return -1;
            }
        }
        return code_;
    }
    const std::string& Output() const { return output_; }

private:
    // False at the end of the output or when nothing came in time.
    bool ReadSome(int timeoutMs) {
        if (stdout_ < 0) return false;
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        ssize_t n = ::read(stdout_, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(stdout_);
            stdout_ = -1;
            return false;
        }
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
    int code_ = -1;
    std::string output_;
};

// A tmux server of the test's own, with one 100 x 30 window ("frame") running a command; the
// command's exit code shows as "EXIT=<n>" when it ends.
class Tmux {
public:
    explicit Tmux(const std::string& command) : socket_(dir_ / "tmux.sock") {
        ok_ = Run("new-session -d -s frame -x 100 -y 30 '" + command + "; echo EXIT=$?; sleep 60'") == 0;
    }
    // tmux is what scripts/setup installs; a test without it is skipped.
    static bool Available() { return Shell("command -v tmux >/dev/null") == 0; }
    ~Tmux() { Run("kill-server"); }
    bool Ok() const { return ok_; }
    int Run(const std::string& args, std::string* out = nullptr) {
        return Shell("TERM=xterm tmux -f /dev/null -S " + socket_ + " " + args + " 2>&1", out);
    }
    void Keys(const std::string& keys) { Run("send-keys -t frame " + keys); }
    std::string Screen() {
        std::string out;
        Run("capture-pane -p -t frame", &out);
        return out;
    }
    // Waits until the screen shows text; the last screen is kept for messages.
    bool WaitFor(const std::string& text, int timeoutMs = 10000) {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            last_ = Screen();
            if (last_.find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    const std::string& Last() const { return last_; }

private:
    TempDir dir_{"tmux"};
    std::string socket_;
    bool ok_ = false;
    std::string last_;
};

}  // namespace ostest
