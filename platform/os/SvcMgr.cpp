// The service application: running a service in the foreground, its control requests, and the
// systemd readiness notification.
#include "platform/os/SvcMgr.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/os/Signals.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Strings.h"

namespace os {

namespace {

constexpr rtl::UINT CM_SERVICE_CONTROL = rtl::WM_USER + 0x100;

}  // namespace

// ---- systemd notification

bool NotifyServiceManager(const std::string& state) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path) return false;
    sockaddr_un addr{};
    size_t length = std::strlen(path);
    if (length >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path, length);
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // an abstract socket
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    ssize_t sent =
        ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), size);
    ::close(fd);
    return sent == static_cast<ssize_t>(state.size());
}

// ---- the service thread

void TServiceThread::ProcessRequests(bool waitForMessage) {
    if (waitForMessage)
        rtl::WaitAndProcessMessages(1000);
    else
        rtl::ProcessMessages();
}

// ---- the service

TService::TService(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TService::~TService() = default;

void TService::LogMessage(const std::string& message, uint32_t eventType, uint16_t category, uint32_t id) {
    if (!eventLog_) eventLog_ = std::make_unique<TEventLogger>(Name());
    eventLog_->LogMessage(message, eventType, category, id);
}

bool TService::Controller(uint32_t code) {
    rtl::HWND window = controlWindow_;
    return window && rtl::PostMessage(window, CM_SERVICE_CONTROL, code, 0);
}

void TService::HandleControl(rtl::TMessage& message) {
    if (message.Msg == CM_SERVICE_CONTROL && message.WParam == SERVICE_CONTROL_STOP && status_ == csRunning)
        DoStop();
}

bool TService::DoStart() {
    bool started = true;
    try {
        if (OnStart) OnStart(this, started);
    } catch (const std::exception& e) {
        LogMessage(std::string("Service failed on start: ") + e.what());
        started = false;
    }
    return started;
}

void TService::DoExecute() {
    try {
        if (OnExecute) {
            OnExecute(this);
        } else {
            while (!thread_->Terminated()) thread_->ProcessRequests(true);
        }
    } catch (const std::exception& e) {
        LogMessage(std::string("Service failed on execute: ") + e.what());
        if (!ExitCode) ExitCode = 1;
    }
}

// A stop handler that raises counts as stopped, so that the service cannot be left running
// without its control thread.
void TService::DoStop() {
    status_ = csStopPending;
    NotifyServiceManager("STOPPING=1");
    bool stopped = true;
    try {
        if (OnStop) OnStop(this, stopped);
    } catch (const std::exception& e) {
        LogMessage(std::string("Service failed on stop: ") + e.what());
        stopped = true;
    }
    if (!stopped) {
        status_ = csRunning;
        return;
    }
    thread_->Terminate();
    status_ = csStopped;
}

int TService::Run() {
    thread_ = std::make_unique<TServiceThread>(*this);
    ExitCode = 0;
    TStopSignalWatcher watcher([this](int) { Controller(SERVICE_CONTROL_STOP); });
    controlWindow_ = rtl::AllocateHWnd([this](rtl::TMessage& m) { HandleControl(m); });
    status_ = csStartPending;
    if (DoStart()) {
        status_ = csRunning;
        NotifyServiceManager("READY=1");
        DoExecute();
        if (!thread_->Terminated()) DoStop();
    } else {
        status_ = csStopped;
        if (!ExitCode) ExitCode = 1;
    }
    rtl::DeallocateHWnd(controlWindow_.exchange(0));
    status_ = csStopped;
    return ExitCode;
}

// ---- the application

TServiceApplication::TServiceApplication(rtl::TComponent* owner) : rtl::TComponent(owner) {
    const char* root = std::getenv("DX_INSTALL_ROOT");
    InstallRoot = root && *root ? root : "/";
}

int TServiceApplication::Run() {
    std::vector<std::string> args;
    for (int i = 1; i <= rtl::ParamCount(); ++i) args.push_back(rtl::ParamStr(i));
    return Run(args);
}

int TServiceApplication::Run(const std::vector<std::string>& args) {
    bool install = false, uninstall = false, silent = false;
    for (const std::string& a : args) {
        install |= rtl::SameText(a, "/install");
        uninstall |= rtl::SameText(a, "/uninstall");
        silent |= rtl::SameText(a, "/silent");
    }
    if (install) return Install(silent);
    if (uninstall) return Uninstall(silent);
    if (services_.empty()) {
        std::cerr << "No service to run" << std::endl;
        return 1;
    }
    // One process runs one service under systemd: the first the program created.
    return services_.front()->Run();
}

}  // namespace os
