// The debug frame on a terminal, drawn with ncurses.
#define NCURSES_WIDECHAR 1
#include <curses.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/os/DebugFrame.h"
#include "platform/rtl/Strings.h"

namespace os {

namespace {

enum TColour : short { clError = 1, clTitle = 2, clMessage = 3 };

// One screen row, cut at the screen's width; control characters show as blanks.
void PutLine(int row, const std::string& ansi, int width, attr_t attributes = A_NORMAL) {
    if (width <= 0 || row >= LINES) return;
    std::wstring text;
    for (char16_t c : rtl::AnsiToWide(ansi)) text += c < 0x20 ? L' ' : static_cast<wchar_t>(c);
    attron(attributes);
    mvaddnwstr(row, 0, text.c_str(), width);
    attroff(attributes);
    clrtoeol();
}

bool IsErrorLine(const std::string& line) {
    return line.find("Error") != std::string::npos;
}

// The terminal between initialisation and the end of the scope.
class TScreen {
public:
    TScreen() {
        // The terminal's character set for ncurses' output; the process's own is put back after.
        if (const char* current = std::setlocale(LC_CTYPE, nullptr)) savedLocale_ = current;
        std::setlocale(LC_CTYPE, "");
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) return;
        cbreak();
        noecho();
        keypad(stdscr, TRUE);
        curs_set(0);
        timeout(50);
        if (has_colors()) {
            start_color();
            use_default_colors();
            init_pair(clError, COLOR_RED, -1);
            init_pair(clTitle, COLOR_CYAN, -1);
            init_pair(clMessage, COLOR_YELLOW, -1);
        }
    }
    ~TScreen() {
        if (screen_) {
            endwin();
            delscreen(screen_);
        }
        std::setlocale(LC_CTYPE, savedLocale_.c_str());
    }
    bool Ok() const { return screen_ != nullptr; }

private:
    SCREEN* screen_ = nullptr;
    std::string savedLocale_ = "C";
};

}  // namespace

int TDebugFrame::RunTerminal() {
    TScreen screen;
    if (!screen.Ok()) return RunLines();
    size_t focus = 0;
    size_t scrollBack = 0;  // lines above the newest that the view is moved up by
    bool dirty = true;
    // The status may change with no line or key (a thread that ended, an end handler that ran
    // without journalling), so it is compared on every pass.
    std::vector<std::string> shownStatus;
    for (;;) {
        if (Pump()) dirty = true;
        fresh_.clear();
        freshMessages_.clear();
        if (closing_) break;
        std::vector<std::string> status = StatusLines();
        if (status != shownStatus) dirty = true;
        if (dirty) {
            int rows = LINES, width = COLS, row = 0;
            erase();
            PutLine(row++, Caption, width, A_BOLD | COLOR_PAIR(clTitle));
            if (!SubTitle.empty()) PutLine(row++, SubTitle, width);
            ++row;
            move(row, 0);
            for (size_t i = 0; i < buttons_.size(); ++i) {
                attr_t a = i == focus ? A_REVERSE : A_NORMAL;
                attron(a);
                printw("[ %s ]", rtl::AnsiToUtf8(buttons_[i].Caption).c_str());
                attroff(a);
                addstr("  ");
            }
            row += 2;
            for (const std::string& s : status) PutLine(row++, s, width);
            shownStatus = std::move(status);
            if (!message_.empty()) PutLine(row++, message_, width, A_BOLD | COLOR_PAIR(clMessage));
            PutLine(row++,
                    "--- Journal (PgUp/PgDn/Home/End scroll; Tab, Enter or hot key press; q quits) ---",
                    width, A_DIM);
            int viewRows = rows - row;
            if (viewRows > 0) {
                size_t total = log_.size();
                size_t maxBack =
                    total > static_cast<size_t>(viewRows) ? total - static_cast<size_t>(viewRows) : 0;
                if (scrollBack > maxBack) scrollBack = maxBack;
                size_t end = total - scrollBack;
                size_t begin = end > static_cast<size_t>(viewRows) ? end - static_cast<size_t>(viewRows) : 0;
                for (size_t i = begin; i < end; ++i)
                    PutLine(row++, log_[i], width, IsErrorLine(log_[i]) ? COLOR_PAIR(clError) : A_NORMAL);
            }
            refresh();
            dirty = false;
        }
        int key = getch();
        if (key == ERR) continue;
        dirty = true;
        int page = LINES > 10 ? LINES - 10 : 1;
        switch (key) {
            case '\t':
            case KEY_RIGHT:
                if (!buttons_.empty()) focus = (focus + 1) % buttons_.size();
                break;
            case KEY_BTAB:
            case KEY_LEFT:
                if (!buttons_.empty()) focus = (focus + buttons_.size() - 1) % buttons_.size();
                break;
            case '\n':
            case '\r':
            case KEY_ENTER:
            case ' ':
                Press(focus);
                break;
            case KEY_PPAGE:
                scrollBack += static_cast<size_t>(page);
                break;
            case KEY_NPAGE:
                scrollBack =
                    scrollBack > static_cast<size_t>(page) ? scrollBack - static_cast<size_t>(page) : 0;
                break;
            case KEY_HOME:
                scrollBack = log_.size();
                break;
            case KEY_END:
                scrollBack = 0;
                break;
            case 'q':
            case 'Q':
                Close();
                break;
            default:
                if (key > 0 && key < 128) {
                    for (size_t i = 0; i < buttons_.size(); ++i)
                        if (buttons_[i].HotKey && (key | 0x20) == (buttons_[i].HotKey | 0x20)) {
                            focus = i;
                            Press(i);
                        }
                }
                break;
        }
    }
    PutLine(LINES - 1, "Closing...", COLS, A_BOLD);
    refresh();
    Finish();
    return 0;
}

}  // namespace os
