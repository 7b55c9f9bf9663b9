// TOCIRecordSet: opening and fetching on background threads, the waits of readers, and the end
// of that work when the record set is closed or destroyed.
#include "dataaccess/oracle/OraClasses.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// The fetch event

void TOCIRecordSet::SetFetchEvent(bool signaled, bool pulse) {
    {
        std::lock_guard<std::mutex> lock(FFetchLock);
        FFetchSignaled = signaled;
        if (signaled || pulse) ++FFetchGeneration;
    }
    if (signaled || pulse) FFetchChanged.notify_all();
}

void TOCIRecordSet::WaitFetchEvent() {
    std::unique_lock<std::mutex> lock(FFetchLock);
    if (FFetchSignaled) return;
    const uint64_t seen = FFetchGeneration;
    FFetchChanged.wait(lock, [&] { return FFetchSignaled || FFetchGeneration != seen; });
}

// ---------------------------------------------------------------------------------------------
// Background fetch-all

void TOCIRecordSet::FetchAllProc() {
    FWorkerThreadId = rtl::GetCurrentThreadId();
    SetFetchEvent(false, true);
    try {
        FetchAllLoop();
    } catch (...) {
        SetFetchEvent(true, false);
        throw;
    }
    SetFetchEvent(true, false);
}

void TOCIRecordSet::EndFetchAll(rtl::Exception* error) {
    if (FFetchThread) {
        FFetchThread = nullptr;
    } else if (!GetCommand() || IsNonBlocking()) {
        return;
    }
    FWorkerThreadId = 0;
    if (IsNonBlocking() && HasSortColumns()) SortItems();
    if (OnAfterFetchAll) OnAfterFetchAll(error == nullptr);
    auto* oraError = dynamic_cast<EOraError*>(error);
    if (!IsNonBlocking() || !oraError || !FOracleConnection) return;
    bool fail = true;
    FOracleConnection->ProcessError(oraError, fail);
    if (!fail) throw rtl::EAbort();
}

// ---------------------------------------------------------------------------------------------
// Readers, filters and sorting while the work goes on

bool TOCIRecordSet::NonBlockingActive() {
    return IsNonBlocking() && (FExecThread || FFetchThread);
}

bool TOCIRecordSet::Eof() {
    if (FExecThread || FFetchThread) {
        bool atEnd;
        {
            // No row after the current one in memory (yet).
            std::lock_guard<std::mutex> lock(FFetchLock);
            atEnd = CurrentItem ? ItemHeader::Next(CurrentItem) == nullptr : FirstItem == nullptr;
        }
        if (atEnd) {
            if (FExecThread) return true;
            WaitFetchEvent();
        }
        std::lock_guard<std::mutex> lock(FFetchLock);
        return TCRRecordSet::Eof();
    }
    return TCRRecordSet::Eof();
}

bool TOCIRecordSet::WaitForWorkerRows() {
    int32_t before;
    {
        std::lock_guard<std::mutex> lock(FFetchLock);
        before = recordCount_;
    }
    while (true) {
        {
            std::lock_guard<std::mutex> lock(FFetchLock);
            if (recordCount_ != before) return true;
        }
        if (!FFetchAllRunning) {
            std::lock_guard<std::mutex> lock(FFetchLock);
            return recordCount_ != before;
        }
        WaitFetchEvent();
    }
}

void TOCIRecordSet::SetFilterText(const AnsiString& value) {
    if (NonBlockingActive()) {
        FPendingFilter = value;
        FHasPendingFilter = true;
        return;
    }
    TCRRecordSet::SetFilterText(value);
}

void TOCIRecordSet::FilterUpdated() {
    if (NonBlockingActive()) return;
    TCRRecordSet::FilterUpdated();
}

void TOCIRecordSet::SortItems() {
    if (NonBlockingActive()) return;
    TCRRecordSet::SortItems();
}

void TOCIRecordSet::DoAfterFetch() {
    // From a worker the handler runs on the owning thread, when its queue gets to it.
    if (FWorkerThreadId != 0 && FWorkerThreadId == rtl::GetCurrentThreadId()) {
        if (OnAfterFetch && FOwnerWindow)
            rtl::PostMessage(FOwnerWindow, WM_AFTERFETCH,
                             reinterpret_cast<rtl::WPARAM>(static_cast<TUtilityMessageTarget*>(this)), 0);
        return;
    }
    TCRRecordSet::DoAfterFetch();
}

void TOCIRecordSet::HandleUtilityMessage(rtl::UINT msg, rtl::LPARAM) {
    if (msg == WM_AFTERFETCH) TCRRecordSet::DoAfterFetch();
}

// ---------------------------------------------------------------------------------------------
// Closing and destroying

void TOCIRecordSet::FinishBackground(bool runCompletion) {
    if (!FExecThread && !FFetchThread) return;
    FClosing = true;
    FBreakFetch = true;
    if (runCompletion && FOracleConnection) {
        // Join each worker, then run its own completion here: it can neither come later, on a
        // closed record set, nor be missed.
        FOracleConnection->CompleteThread(FExecThread);
        FOracleConnection->CompleteThread(FFetchThread);
    } else if (FOracleConnection) {
        FOracleConnection->StopThread(FExecThread, true);
        FOracleConnection->StopThread(FFetchThread, true);
    }
    FExecThread = FFetchThread = nullptr;
    FWorkerThreadId = 0;
    FClosing = false;
    if (FOwnerWindow) {
        const auto self = reinterpret_cast<rtl::WPARAM>(static_cast<TUtilityMessageTarget*>(this));
        while (rtl::RemovePendingMessage(FOwnerWindow, WM_AFTERFETCH, self)) {
        }
    }
}

}  // namespace dac
