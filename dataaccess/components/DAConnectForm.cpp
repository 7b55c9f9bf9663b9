// The terminal form of the connect dialog.
#include "dataaccess/components/DAConnectForm.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "dataaccess/components/DBAccess.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

// Echo off on the terminal for as long as it lives.
class TNoEcho {
public:
    explicit TNoEcho(bool wanted) {
        if (!wanted || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    }
    ~TNoEcho() {
        if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    TNoEcho(const TNoEcho&) = delete;
    TNoEcho& operator=(const TNoEcho&) = delete;
    bool Active() const { return active_; }

private:
    termios saved_{};
    bool active_ = false;
};

bool ReadAnswer(std::istream& in, std::string& answer) {
    if (!std::getline(in, answer)) return false;
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    answer = rtl::Trim(answer);
    return true;
}

bool Ask(std::istream& in, std::ostream& out, const std::string& label, const std::string& current,
         std::string& value) {
    out << label;
    if (!current.empty()) out << " [" << current << "]";
    out << ": " << std::flush;
    std::string answer;
    if (!ReadAnswer(in, answer)) return false;
    value = answer.empty() ? current : answer;
    return true;
}

}  // namespace

bool ExecuteTerminalConnectForm(TCustomConnectDialog& dialog, std::istream& in, std::ostream& out,
                                bool hideInput) {
    TCustomDAConnection* connection = dialog.Connection();
    if (!connection) return false;
    out << dialog.Caption(cdlCaption) << "\n";

    rtl::TStringList servers;
    dialog.GetServerList(servers);
    for (int i = 0; i < servers.Count(); ++i) out << "  " << (i + 1) << "  " << servers[i] << "\n";

    std::string username, password, server;
    if (!Ask(in, out, dialog.Caption(cdlUsername), connection->Username(), username)) return false;
    {
        out << dialog.Caption(cdlPassword) << ": " << std::flush;
        TNoEcho quiet(hideInput && &in == &std::cin);
        std::string answer;
        if (!std::getline(in, answer)) return false;
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        if (quiet.Active()) out << "\n";
        password = answer.empty() ? connection->Password() : answer;
    }
    if (!Ask(in, out, dialog.Caption(cdlServer), connection->GetServer(), server)) return false;
    // A number picks from the list; a name stands for itself.
    if (!server.empty() && server.find_first_not_of("0123456789") == std::string::npos) {
        const int n = std::stoi(server.size() > 6 ? std::string("0") : server);
        if (n >= 1 && n <= servers.Count()) server = servers[n - 1];
    }

    const std::string connect = dialog.Caption(cdlConnectButton);
    const std::string cancel = dialog.Caption(cdlCancelButton);
    for (;;) {
        out << connect << " / " << cancel << " [" << connect << "]: " << std::flush;
        std::string answer;
        if (!ReadAnswer(in, answer)) return false;
        if (answer.empty() || rtl::SameText(answer, connect)) break;
        if (rtl::SameText(answer, cancel)) return false;
    }
    connection->SetUsername(username);
    connection->SetPassword(password);
    connection->SetServer(server);
    return true;
}

void UseTerminalConnectForm() {
    ConnectDialogExecuteProc = [](TCustomConnectDialog& dialog) {
        return ExecuteTerminalConnectForm(dialog, std::cin, std::cout, true);
    };
}

}  // namespace dac
