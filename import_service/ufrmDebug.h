// The "/debug" mode of the import program: a terminal frame with Start and Stop buttons that run
// the starter, the shared-folder watcher and the package-manager thread in this process, a status
// block with the threads and the start-up decision, and the journal lines as they are written.
// The window journal is a file of its own ("QEL_IN_DEBUG_dd.mm.yyyy.log") in the service
// journal's folder; a line it cannot take is dropped (shown on the message line only).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataAccess.h"
#include "common/uJournal.h"
#include "import_service/uImportParams.h"
#include "import_service/uInSrvcThreads.h"
#include "platform/os/DebugFrame.h"

namespace svc {

inline constexpr const char* kInDebugJournalStem = "QEL_IN_DEBUG";

// The window's text of a refused start.
std::string InDebugRefusalText(const TStartupResults& results, const TImportParamsStorage& params);

class TfrmDebug {
public:
    TfrmDebug(TImportParamsStorage& params, TdmParamsStorage* module, TDataAccess* dataAccess,
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
    TInSrvcWorkers& Workers() { return *workers_; }

    // Runs the window until it is closed; returns the exit code.
    int Run(os::TDebugFrame::TMode mode = os::TDebugFrame::fmAuto);

private:
    // The starter's refusal: journalled and shown on the message line.
    void Refused(const TStartupResults& results);

    TImportParamsStorage& params_;
    std::string connectionIni_;
    os::TDebugFrame frame_;
    TJournal journal_;
    std::unique_ptr<TInSrvcWorkers> workers_;
};

}  // namespace svc
