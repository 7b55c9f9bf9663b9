// A small program on the debug frame, for the tests that drive it in tmux and through pipes:
// Start runs a worker thread that adds a journal line every 100 ms (the third an error line),
// Stop ends it, Fail raises; "--lines" forces the line-command mode; "--ticks N" makes the worker
// end by itself after N lines, quietly (no line from its end handler).
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/os/DebugFrame.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Threads.h"

namespace {

class TTicker : public rtl::TThread {
public:
    TTicker(os::TDebugFrame& frame, int ticks) : frame_(frame), ticks_(ticks) {}
    ~TTicker() override {
        Terminate();
        WaitFor();
    }

protected:
    void Execute() override {
        for (int n = 1; !Terminated() && (ticks_ == 0 || n <= ticks_); ++n) {
            frame_.AddLogLine(n == 3 ? "Error: sample error line" : "tick " + std::to_string(n));
            rtl::Sleep(100);
        }
    }

private:
    os::TDebugFrame& frame_;
    int ticks_;  // 0: until stopped
};

}  // namespace

int main(int argc, char** argv) {
    bool lines = argc > 1 && std::string(argv[1]) == "--lines";
    const int ticks = argc > 2 && std::string(argv[1]) == "--ticks" ? std::atoi(argv[2]) : 0;
    os::TDebugFrame frame;
    std::unique_ptr<TTicker> worker;
    uint32_t mainThread = rtl::GetCurrentThreadId();
    frame.Caption = "Debug form";
    frame.SubTitle = "dx_frame_demo: \xEF\xF0\xEE\xE2\xE5\xF0\xEA\xE0";  // "check" in code page 1251
    frame.AddButton("Start", 's', [&] {
        if (worker) return frame.ShowMessage("Already started");
        worker = std::make_unique<TTicker>(frame, ticks);
        if (ticks == 0)
            worker->OnTerminate = [&frame, mainThread](rtl::TObject*) {
                frame.AddLogLine(std::string("worker end handler on the main thread: ") +
                                 (rtl::GetCurrentThreadId() == mainThread ? "yes" : "no"));
            };
        worker->Start();
    });
    frame.AddButton("Stop", 't', [&] {
        if (!worker) return frame.ShowMessage("Nothing to stop");
        worker.reset();
        frame.AddLogLine("Stopped");
    });
    frame.AddButton("Fail", 'f', [] { throw rtl::Exception("Sample failure"); });
    frame.OnStatus = [&] {
        return std::vector<std::string>{std::string("Worker: ") + (!worker              ? "not created"
                                                                   : worker->Finished() ? "finished"
                                                                                        : "running")};
    };
    frame.OnClose = [&] {
        if (worker) {
            worker.reset();
            frame.AddLogLine("Stopped");
        }
    };
    return frame.Run(lines ? os::TDebugFrame::fmLines : os::TDebugFrame::fmAuto);
}
