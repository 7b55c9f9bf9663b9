// The frame of the "/debug" windows: a terminal interface with a caption, buttons, a status
// block, a message line and a scrolling view of the journal lines, driven on the calling
// (main) thread.
//
// On a terminal (standard input and output both terminals, TERM usable) it draws with ncurses:
// a button is pressed with its hot key, or chosen with Tab or the arrow keys and pressed with
// Enter or the space bar; PgUp, PgDn, Home and End scroll the journal view; "q" closes. Lines
// holding "Error" are shown in red. Elsewhere it reads line commands from standard input and
// prints to standard output: a button's caption or hot key presses it, "status" prints the
// status block, "help" the commands, "quit" (or the end of input) closes.
//
// While the frame runs, the calls queued for the main thread (thread end handlers,
// Synchronize) run between inputs, an exception that escapes one of them or a button handler
// is shown on the message line, and SIGTERM and SIGINT close the frame. Closing runs OnClose
// first (the window's Stop), then Run returns.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace os {

class TDebugFrame {
public:
    enum TMode { fmAuto, fmTerminal, fmLines };

    struct TButton {
        std::string Caption;
        char HotKey;
        std::function<void()> OnClick;
    };

    TDebugFrame() = default;
    TDebugFrame(const TDebugFrame&) = delete;
    TDebugFrame& operator=(const TDebugFrame&) = delete;

    // The title line, and a second line under it (program, configuration file).
    std::string Caption;
    std::string SubTitle;
    // Lines of the status block, asked for on the main thread before each drawing and by the
    // "status" command.
    std::function<std::vector<std::string>()> OnStatus;
    // Runs on the main thread when the frame closes, before Run returns.
    std::function<void()> OnClose;
    // How many journal lines the view keeps.
    size_t MaxLogLines = 2000;

    void AddButton(std::string caption, char hotKey, std::function<void()> onClick);

    // Any thread: a line for the journal view; a text for the message line ("" clears it).
    void AddLogLine(const std::string& text);
    void ShowMessage(const std::string& text);
    // Any thread: asks the frame to close.
    void Close() { closing_ = true; }

    // Runs until closed. Texts are in the ANSI code page; the terminal gets UTF-8.
    // Returns the process exit code (0).
    int Run(TMode mode = fmAuto);

    // The mode fmAuto chooses for this process.
    static TMode AutoMode();

private:
    struct TPending {
        std::vector<std::string> lines;
        std::vector<std::string> messages;
    };

    int RunTerminal();
    int RunLines();
    // Runs the queued main-thread calls and takes over what other threads handed in; true when
    // anything changed.
    bool Pump();
    void Press(size_t index);
    bool PressByName(const std::string& command);
    void Finish();
    std::vector<std::string> StatusLines() const;

    std::vector<TButton> buttons_;
    std::deque<std::string> log_;
    std::string message_;
    std::mutex pendingLock_;
    TPending pending_;
    std::atomic<bool> closing_{false};
    // Journal lines and messages not yet printed (lines mode).
    std::vector<std::string> fresh_;
    std::vector<std::string> freshMessages_;
};

}  // namespace os
