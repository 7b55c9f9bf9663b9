// The debug frame: what both modes share, and the line-command mode.
#include "platform/os/DebugFrame.h"

#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

#include "platform/os/Signals.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Threads.h"

namespace os {

namespace {

std::string MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace

void TDebugFrame::AddButton(std::string caption, char hotKey, std::function<void()> onClick) {
    buttons_.push_back({std::move(caption), hotKey, std::move(onClick)});
}

void TDebugFrame::AddLogLine(const std::string& text) {
    std::lock_guard<std::mutex> hold(pendingLock_);
    pending_.lines.push_back(text);
}

void TDebugFrame::ShowMessage(const std::string& text) {
    std::lock_guard<std::mutex> hold(pendingLock_);
    pending_.messages.push_back(text);
}

TDebugFrame::TMode TDebugFrame::AutoMode() {
    const char* term = std::getenv("TERM");
    bool usable = term && *term && std::strcmp(term, "dumb") != 0;
    return usable && ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO) ? fmTerminal : fmLines;
}

int TDebugFrame::Run(TMode mode) {
    if (mode == fmAuto) mode = AutoMode();
    closing_ = false;
    rtl::SetApplicationExceptionHandler([this](std::exception_ptr e) { ShowMessage(MessageOf(e)); });
    TStopSignalWatcher watcher([this](int) { Close(); });
    int code = mode == fmTerminal ? RunTerminal() : RunLines();
    rtl::SetApplicationExceptionHandler({});
    return code;
}

bool TDebugFrame::Pump() {
    rtl::ProcessMessages();
    TPending taken;
    {
        std::lock_guard<std::mutex> hold(pendingLock_);
        std::swap(taken, pending_);
    }
    for (std::string& line : taken.lines) {
        fresh_.push_back(line);
        log_.push_back(std::move(line));
    }
    while (log_.size() > MaxLogLines) log_.pop_front();
    if (!taken.messages.empty()) message_ = taken.messages.back();
    freshMessages_.insert(freshMessages_.end(), taken.messages.begin(), taken.messages.end());
    return !taken.lines.empty() || !taken.messages.empty();
}

void TDebugFrame::Press(size_t index) {
    if (index >= buttons_.size() || !buttons_[index].OnClick) return;
    try {
        buttons_[index].OnClick();
    } catch (...) {
        ShowMessage(MessageOf(std::current_exception()));
    }
}

bool TDebugFrame::PressByName(const std::string& command) {
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const TButton& b = buttons_[i];
        bool hot = command.size() == 1 && b.HotKey && rtl::SameText(command, std::string(1, b.HotKey));
        if (hot || rtl::SameText(command, b.Caption)) {
            Press(i);
            return true;
        }
    }
    return false;
}

// Runs the close handler, then takes what it and the threads it ended still handed in.
void TDebugFrame::Finish() {
    if (OnClose) {
        try {
            OnClose();
        } catch (...) {
            ShowMessage(MessageOf(std::current_exception()));
        }
    }
    Pump();
}

std::vector<std::string> TDebugFrame::StatusLines() const {
    if (!OnStatus) return {};
    try {
        return OnStatus();
    } catch (...) {
        return {"Status unavailable: " + MessageOf(std::current_exception())};
    }
}

// ---- line commands

namespace {

void Print(const std::string& ansi) {
    std::cout << rtl::AnsiToUtf8(ansi) << '\n';
}

}  // namespace

int TDebugFrame::RunLines() {
    Print(Caption);
    if (!SubTitle.empty()) Print(SubTitle);
    std::string input;
    auto flush = [&] {
        Pump();
        for (const std::string& l : fresh_) Print(l);
        for (const std::string& m : freshMessages_)
            if (!m.empty()) Print("Message: " + m);
        fresh_.clear();
        freshMessages_.clear();
        std::cout.flush();
    };
    bool inputOpen = true;
    while (!closing_) {
        flush();
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (!inputOpen || ::poll(&p, 1, 50) <= 0) {
            if (!inputOpen) rtl::Sleep(50);
            continue;
        }
        char buffer[512];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            inputOpen = false;
            Close();
            continue;
        }
        input.append(buffer, static_cast<size_t>(n));
        for (size_t eol; (eol = input.find('\n')) != std::string::npos && !closing_;) {
            std::string command = rtl::Trim(rtl::Utf8ToAnsi(input.substr(0, eol)));
            input.erase(0, eol + 1);
            if (command.empty()) continue;
            if (rtl::SameText(command, "quit") || rtl::SameText(command, "exit") ||
                rtl::SameText(command, "q")) {
                Close();
            } else if (rtl::SameText(command, "status")) {
                for (const std::string& s : StatusLines()) Print(s);
            } else if (rtl::SameText(command, "help")) {
                for (const TButton& b : buttons_) Print(b.Caption + " (" + std::string(1, b.HotKey) + ")");
                Print("status, help, quit");
            } else if (!PressByName(command)) {
                Print("Unknown command: " + command);
            }
            flush();
        }
    }
    Finish();
    flush();
    return 0;
}

}  // namespace os
