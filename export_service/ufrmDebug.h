// The "/debug" mode of the export program: a terminal frame with Start and Stop buttons that run
// the service's start and stop in this process, a status block with the threads and the start-up
// decision, and the journal lines as they are written. The window journal is a file of its own
// ("ZuvQelOutSrvc_DEBUG_dd.mm.yyyy.log") in the service journal's folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataAccess.h"
#include "common/uJournal.h"
#include "common/uParamsStorage.h"
#include "export_service/uOutSrvcWorkers.h"
#include "platform/os/DebugFrame.h"
#include "platform/os/EventLog.h"

namespace svc {

inline constexpr const char* kOutDebugJournalStem = "ZuvQelOutSrvc_DEBUG";

class TfrmDebug {
public:
    TfrmDebug(TParamsStorage& params, TDataAccess* dataAccess, os::TEventLogger& eventLog,
              const std::string& connectionIni = std::string());
    ~TfrmDebug();
    TfrmDebug(const TfrmDebug&) = delete;
    TfrmDebug& operator=(const TfrmDebug&) = delete;

    void btnStartClick();
    void btnStopClick();

    void WriteLog(const std::string& text, bool important);
    void LogError(const std::string& text) { WriteLog("Error: " + text, true); }

    std::vector<std::string> StatusLines() const;
    os::TDebugFrame& Frame() { return frame_; }
    TJournal& Journal() { return journal_; }

    // Runs the window until it is closed; returns the exit code.
    int Run(os::TDebugFrame::TMode mode = os::TDebugFrame::fmAuto);

private:
    TParamsStorage& params_;
    os::TEventLogger& eventLog_;
    std::string connectionIni_;
    os::TDebugFrame frame_;
    TJournal journal_;
    std::unique_ptr<TOutSrvcWorkers> workers_;
};

}  // namespace svc
