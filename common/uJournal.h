// The daily journal file of a service (and of its debug window).
//
// File: <folder>/<stem>_<dd.mm.yyyy>.log, where the folder is the configured log path followed
// by "/" (a path that already ends in "/" gives a doubled delimiter, which the system accepts),
// or the executable's folder when no log path is set. The folder and the file are created when
// missing; the file is appended to, with an exclusive lock that keeps a second writer (another
// instance of the service) out.
//
// Line: "[hh:mm:ss.zzz] text" and CR LF, the time on a 24-hour clock whatever the locale, the
// text converted from the ANSI code page to UTF-8. Lines not marked important are written only
// with the extended log on. The first line of a new day opens the file of the new date and
// closes the old one. Writes from every thread are serialised by the journal's one lock.
//
// A line is never lost silently: when it cannot be written (the journal is not open, the file
// of a new day cannot be opened, the write fails) it goes to the failure handler together with
// the reason; the reason is given again only when it changes or after a successful write in
// between. A line half written by a failing write is cut off the file again. Without a handler
// such lines go to standard error.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/os/EventLog.h"
#include "platform/rtl/Threads.h"
#include "platform/rtl/Types.h"

namespace svc {

class TJournal {
public:
    using TClock = std::function<rtl::TDateTime()>;
    // line is the whole line without its CR LF; reason is "" when already reported.
    using TFailureHandler = std::function<void(const std::string& line, const std::string& reason)>;
    using TLineHandler = std::function<void(const std::string& line)>;

    // stem names the files (the service's display name). clock gives the local time.
    explicit TJournal(std::string stem, TClock clock = {});
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Used by the next Open (and the next day's file).
    void SetLogPath(const std::string& logPath);
    void SetExtendedLog(bool on);
    bool ExtendedLog() const { return extendedLog_; }

    // Called for every unwritable line.
    TFailureHandler OnFailure;
    // Called, under the journal lock, for every line that passes the important/extended filter,
    // written or not (the debug window shows them).
    TLineHandler OnLine;

    // Opens (creating folder and file) the journal of the current date. Raises rtl::Exception
    // "Error. Creating journal file. <reason>"; the journal stays closed then.
    void Open();
    void Close();
    bool IsOpen() const;
    // The open file's name, "" when closed.
    std::string FileName() const;
    // The file of a date under the current settings.
    std::string FileNameFor(rtl::TDateTime date) const;

    void Write(const std::string& text, bool important);
    void LogError(const std::string& text) { Write("Error: " + text, true); }

    // A failure handler that writes the reason as an error entry and the line as an
    // information entry of the event log.
    static TFailureHandler EventLogFallback(os::TEventLogger& eventLog);

private:
    rtl::TDateTime NowTime() const;
    // Opens the file of that date in place of the current one; "" or the reason it failed.
    std::string OpenFile(rtl::TDateTime date);
    // "" or the reason the write failed.
    std::string Append(const std::string& line);
    void Fail(const std::string& line, const std::string& reason);

    std::string stem_;
    TClock clock_;
    std::string logPath_;
    std::atomic<bool> extendedLog_{false};
    mutable rtl::TCriticalSection lock_;
    int fd_ = -1;
    std::string fileName_;
    int dateKey_ = 0;  // yyyymmdd of the open file
    std::string lastReason_;
};

}  // namespace svc
