// Asynchronous runs: worker threads whose end comes back to the owning thread's utility window.
#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

constexpr uint32_t BreakRepeatMs = 20;

// The end of a run, on the thread that started it: the end method learns the outcome, then the
// run's error is raised here. The thread object goes whatever happens.
void ExecThreadDone(rtl::WPARAM wParam) {
    std::unique_ptr<TExecThread> thread(reinterpret_cast<TExecThread*>(wParam));
    TMethodDesc* desc = thread->MethodDesc();
    rtl::Exception* error = thread->RunError();
    if (desc->EndMethod) desc->EndMethod(error);
    if (!error) return;
    if (auto* oraError = dynamic_cast<EOraError*>(error))
        throw EOraError(oraError->ErrorCode, oraError->Message());
    throw rtl::Exception(error->Message());
}

void UtilityWindowProc(rtl::TMessage& message) {
    switch (message.Msg) {
        case WM_EXECTHREADDONE:
            ExecThreadDone(message.WParam);
            break;
        case WM_AFTERFETCH:
        case WM_CHANGENOTIFY:
            reinterpret_cast<TUtilityMessageTarget*>(message.WParam)
                ->HandleUtilityMessage(message.Msg, message.LParam);
            break;
        default:
            break;
    }
    message.Result = 0;
}

// One window per thread, given back when the thread ends.
struct TThreadUtilityWindow {
    rtl::HWND Handle = 0;
    ~TThreadUtilityWindow() {
        if (Handle) rtl::DeallocateHWnd(Handle);
    }
};

}  // namespace

rtl::HWND UtilityWindow() {
    static thread_local TThreadUtilityWindow window;
    if (!window.Handle) {
        window.Handle = rtl::AllocateHWnd(&UtilityWindowProc);
        rtl::Assert(window.Handle != 0, "OraClasses: the utility window cannot be created");
    }
    return window.Handle;
}

// ---------------------------------------------------------------------------------------------
// TExecThread

TExecThread::TExecThread(std::unique_ptr<TMethodDesc> methodDesc) : methodDesc_(std::move(methodDesc)) {}

TExecThread::~TExecThread() {
    // Execute reads the description and keeps the error: the thread must be over first.
    if (Started() && !Finished()) WaitFor();
}

void TExecThread::Execute() {
    try {
        methodDesc_->RunMethod();
    } catch (const EOraError& e) {
        error_ = std::make_unique<EOraError>(e.ErrorCode, e.Message(), e.Component);
    } catch (const rtl::Exception& e) {
        error_ = std::make_unique<rtl::Exception>(e.Message());
    } catch (const std::exception& e) {
        error_ = std::make_unique<rtl::Exception>(e.what());
    } catch (...) {
        error_ = std::make_unique<rtl::Exception>("Unknown exception in an asynchronous run");
    }
    // A window whose thread has ended takes no message: nobody is left to free this thread
    // then, which is the lesser harm than freeing it while its owner might still stop it.
    rtl::PostMessage(methodDesc_->Window, WM_EXECTHREADDONE, MessageHandle(), 0);
}

// ---------------------------------------------------------------------------------------------
// TOCIConnection: running and stopping workers

TExecThread* TOCIConnection::RunThread(TRunMethod run, TEndMethod end) {
    auto desc = std::make_unique<TMethodDesc>();
    desc->RunMethod = std::move(run);
    desc->EndMethod = std::move(end);
    desc->Window = UtilityWindow();
    auto* thread = new TExecThread(std::move(desc));
    try {
        thread->Start();
    } catch (...) {
        delete thread;
        throw;
    }
    return thread;
}

bool TOCIConnection::StopThread(TExecThread*& thread, bool removeMessage) {
    if (!thread) return true;
    TExecThread* stopping = thread;
    thread = nullptr;
    // The running call ends with an error the worker keeps. A break that comes before the
    // worker's call has begun is lost, so it is repeated until the worker is over; a session
    // that runs nothing ignores it.
    while (stopping->WaitFor(BreakRepeatMs) == rtl::wrTimeout) {
        if (!FConnected) continue;
        if (FOCICallStyle == ocsOCI7)
            obreak(FLDA.data());
        else
            OCIBreak(FSvcCtx, GetErrorHandle());
    }
    const rtl::HWND window = stopping->MethodDesc()->Window;
    if (!removeMessage) return true;
    // Only this run's end message goes; a message already handled freed the thread itself.
    if (rtl::RemovePendingMessage(window, WM_EXECTHREADDONE, stopping->MessageHandle()) ||
        !rtl::IsWindow(window))
        delete stopping;
    return true;
}

void TOCIConnection::CompleteThread(TExecThread*& thread) {
    if (!thread) return;
    TExecThread* finishing = thread;
    finishing->WaitFor();
    // The end message is posted before the worker ends, so after the join it is pending unless
    // it was handled already; only a pending one is ours to run and free. The end method still
    // finds its reference set, as it would when its message came.
    const rtl::HWND window = finishing->MethodDesc()->Window;
    if (!rtl::RemovePendingMessage(window, WM_EXECTHREADDONE, finishing->MessageHandle())) {
        thread = nullptr;
        return;
    }
    std::unique_ptr<TExecThread> owned(finishing);
    if (TEndMethod& end = owned->MethodDesc()->EndMethod) {
        try {
            end(owned->RunError());
        } catch (...) {
            // The closing caller goes on; the run's end has seen its error.
        }
    }
    thread = nullptr;
}

}  // namespace dac
