// The service application: a service object with start, execute, stop and install events, run
// in the foreground under systemd instead of the Windows service control manager.
//
// Running (no "/install" or "/uninstall" argument): the calling thread is the service thread.
// It runs the start handler; a start that fails (the handler clears its flag or raises) ends
// the program with exit code 1. A successful start is reported to systemd (sd_notify
// "READY=1" when NOTIFY_SOCKET is set, for units of Type=notify), then the execute handler
// runs; without one the service thread handles requests until it is terminated. SIGTERM and
// SIGINT become stop requests: they reach the stop handler inside ProcessRequests on the
// service thread, and a stop that the handler confirms terminates the service thread. When
// the execute handler returns without a stop, the stop handler still runs, so that the
// service's threads are ended. Calls that other threads queue for the service thread (thread
// end handlers, Synchronize) run while it processes requests.
//
// "/install" writes a systemd unit for each service, "<root>/etc/systemd/system/<Name>.service",
// carrying the service's description (set beforehand or in the after-install handler) and
// starting this program; "/uninstall" removes it. The root is the application's InstallRoot:
// the environment variable DX_INSTALL_ROOT when set, else "/". "/silent" suppresses the
// messages. Neither touches a running system manager: "systemctl daemon-reload" is the
// operator's step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/EventLog.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Threads.h"

namespace os {

class TService;

using TServiceEvent = std::function<void(TService* sender)>;
using TStartEvent = std::function<void(TService* sender, bool& started)>;
using TStopEvent = std::function<void(TService* sender, bool& stopped)>;

enum TCurrentStatus { csStopped, csStartPending, csStopPending, csRunning };

inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;

// The service's own thread of control: the thread that runs the service.
class TServiceThread {
public:
    explicit TServiceThread(TService& service) : service_(service) {}

    bool Terminated() const { return terminated_; }
    void Terminate() { terminated_ = true; }

    // Handles the requests that have reached the service (a stop request, calls queued for this
    // thread). With waitForMessage it first waits for one (at most a second) when none is there.
    void ProcessRequests(bool waitForMessage);

private:
    TService& service_;
    std::atomic<bool> terminated_{false};
};

class TService : public rtl::TComponent {
public:
    explicit TService(rtl::TComponent* owner = nullptr);
    ~TService() override;

    std::string DisplayName;
    // The unit's Description; the display name when empty.
    std::string Description;
    // Pausing does not exist under systemd; the flag is kept for the services' declarations.
    bool AllowPause = true;
    // The account the unit runs the service as (User=); empty for the system manager's default.
    std::string ServiceStartName;

    TStartEvent OnStart;
    TStopEvent OnStop;
    TServiceEvent OnExecute;
    TServiceEvent BeforeInstall;
    TServiceEvent AfterInstall;
    TServiceEvent BeforeUninstall;
    TServiceEvent AfterUninstall;

    TCurrentStatus Status() const { return status_; }
    // Valid while the service runs.
    TServiceThread* ServiceThread() const { return thread_.get(); }
    int ExitCode = 0;

    // Asks the running service to stop, as the service manager does; any thread may call it.
    // False when the service is not running.
    bool Controller(uint32_t code);

    // An entry in the event log under the service's name.
    void LogMessage(const std::string& message, uint32_t eventType = EVENTLOG_ERROR_TYPE,
                    uint16_t category = 0, uint32_t id = 0);

private:
    friend class TServiceApplication;
    friend class TServiceThread;

    // The service thread's part: start, execute, stop. Returns the process exit code.
    int Run();
    bool DoStart();
    void DoExecute();
    void DoStop();
    void HandleControl(rtl::TMessage& message);

    std::unique_ptr<TServiceThread> thread_;
    std::atomic<TCurrentStatus> status_{csStopped};
    std::atomic<rtl::HWND> controlWindow_{0};
    std::unique_ptr<TEventLogger> eventLog_;
};

class TServiceApplication : public rtl::TComponent {
public:
    explicit TServiceApplication(rtl::TComponent* owner = nullptr);

    std::string Title;
    std::string InstallRoot;

    void Initialize() {}
    // Creates a component owned by the application (a service, a data module); a service is
    // registered to be run and installed.
    template <class T, class... Args>
    T* CreateForm(Args&&... args) {
        T* item = new T(this, std::forward<Args>(args)...);
        if constexpr (std::is_base_of_v<TService, T>) services_.push_back(item);
        return item;
    }

    const std::vector<TService*>& Services() const { return services_; }

    // Runs, installs or uninstalls as the arguments say (without the program name); returns the
    // process exit code.
    int Run(const std::vector<std::string>& args);
    // With the program's own command line.
    int Run();

    // Where /install writes the service's unit.
    std::string UnitFileName(const TService& service) const;
    // The unit text /install writes for the service.
    std::string UnitText(const TService& service) const;

private:
    int Install(bool silent);
    int Uninstall(bool silent);

    std::vector<TService*> services_;
};

// Tells systemd about the service's state ("READY=1", "STOPPING=1") through NOTIFY_SOCKET;
// false when the variable is unset or the message cannot be sent.
bool NotifyServiceManager(const std::string& state);

}  // namespace os
