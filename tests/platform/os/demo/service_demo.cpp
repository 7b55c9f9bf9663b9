// A small service on the service application, for the tests that run it as a program: it
// writes what happens to it, one line each, to the file DEMO_OUT names, and refuses to start
// when DEMO_FAIL_START is set.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/os/SvcMgr.h"
#include "platform/rtl/Threads.h"

namespace {

void Note(const std::string& text) {
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    const char* out = std::getenv("DEMO_OUT");
    if (FILE* f = out ? std::fopen(out, "a") : nullptr) {
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
}

class TWorker : public rtl::TThread {
public:
    ~TWorker() override {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override {
        Note("worker running");
        while (!Terminated()) rtl::Sleep(20);
    }
};

class TDemoService : public os::TService {
public:
    explicit TDemoService(rtl::TComponent* owner) : os::TService(owner) {
        SetName("srvDxDemo");
        DisplayName = "DxDemo";
        Description = "Dx demo service - 100% a stand-in";
        AllowPause = false;
        OnStart = [this](os::TService*, bool& started) { Start(started); };
        OnStop = [this](os::TService*, bool& stopped) { Stop(stopped); };
        AfterInstall = [this](os::TService*) {
            Description += " (installed)";
            Note("after install");
        };
    }

private:
    void Start(bool& started) {
        if (std::getenv("DEMO_FAIL_START")) {
            Note("start refused");
            started = false;
            return;
        }
        uint32_t serviceThread = rtl::GetCurrentThreadId();
        worker_ = std::make_unique<TWorker>();
        worker_->OnTerminate = [serviceThread](rtl::TObject*) {
            Note(std::string("worker end handler on the service thread: ") +
                 (rtl::GetCurrentThreadId() == serviceThread ? "yes" : "no"));
        };
        Note("started");
        worker_->Start();
    }
    void Stop(bool& stopped) {
        Note("stop");
        worker_.reset();
        Note("stopped");
        stopped = true;
    }

    std::unique_ptr<TWorker> worker_;
};

}  // namespace

int main() {
    os::TServiceApplication app;
    app.Initialize();
    app.Title = "Dx demo service";
    app.CreateForm<TDemoService>();
    return app.Run();
}
