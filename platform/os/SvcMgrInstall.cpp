// Installing and uninstalling services as systemd units.
#include <cstring>
#include <iostream>

#include "platform/os/AtomicFile.h"
#include "platform/os/SvcMgr.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"

namespace os {

namespace {

// Unit-file values: "%" starts a specifier, a line break would end the setting and a trailing
// backslash would continue it.
std::string UnitValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '%')
            out += "%%";
        else if (c == '\r' || c == '\n')
            out += ' ';
        else
            out += c;
    }
    while (!out.empty() && (out.back() == '\\' || out.back() == ' ')) out.pop_back();
    return out;
}

// One command-line word of ExecStart=, quoted; "$" would expand a variable.
std::string ExecWord(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        if (c == '$') out += '$';
        out += c;
    }
    return out + "\"";
}

void Say(bool silent, bool error, const std::string& text) {
    if (silent) return;
    (error ? std::cerr : std::cout) << text << std::endl;
}

void WriteUnit(const std::string& fileName, const std::string& text) {
    if (!rtl::ForceDirectories(rtl::ExtractFileDir(fileName)))
        throw rtl::EInOutError("Cannot create folder " + rtl::ExtractFileDir(fileName) + ": " +
                               std::strerror(errno));
    if (int error = ReplaceFileContents(fileName, text, 0644))
        throw rtl::EInOutError("Cannot write " + fileName + ": " + std::strerror(error));
}

}  // namespace

std::string TServiceApplication::UnitFileName(const TService& service) const {
    return rtl::IncludeTrailingPathDelimiter(InstallRoot) + "etc/systemd/system/" + service.Name() +
           ".service";
}

std::string TServiceApplication::UnitText(const TService& service) const {
    std::string exe = rtl::ApplicationExeName();
    std::string description = service.Description.empty() ? service.DisplayName : service.Description;
    if (description.empty()) description = service.Name();
    std::string text = "# Written by " + UnitValue(exe) + " /install\n";
    text += "[Unit]\n";
    text += "Description=" + UnitValue(description) + "\n";
    text += "Wants=network-online.target\n";
    text += "After=network-online.target\n\n";
    text += "[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + ExecWord(exe) + "\n";
    text += "WorkingDirectory=" + UnitValue(rtl::ExtractFileDir(exe)) + "\n";
    if (!service.ServiceStartName.empty()) text += "User=" + UnitValue(service.ServiceStartName) + "\n";
    // A stop finishes the pass under way first.
    text += "TimeoutStopSec=15min\n";
    // A start refused for bad configuration exits with a code and stays down; a crash restarts.
    text += "Restart=on-abnormal\n";
    text += "RestartSec=30\n";
    text += "UMask=0027\n";
    text += "NoNewPrivileges=yes\n";
    text += "PrivateTmp=yes\n\n";
    text += "[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

int TServiceApplication::Install(bool silent) {
    try {
        for (TService* s : services_) {
            if (s->Name().empty())
                throw rtl::EInvalidOperation("A service without a name cannot be installed");
            std::string fileName = UnitFileName(*s);
            if (rtl::FileExists(fileName))
                throw rtl::EInOutError("The service " + s->Name() + " is already installed: " + fileName);
            if (s->BeforeInstall) s->BeforeInstall(s);
            std::string description = s->Description;
            WriteUnit(fileName, UnitText(*s));
            if (s->AfterInstall) s->AfterInstall(s);
            if (s->Description != description) WriteUnit(fileName, UnitText(*s));
        }
    } catch (const std::exception& e) {
        Say(silent, true, std::string("Service failed to install with error: \"") + e.what() + "\"");
        return 1;
    }
    Say(silent, false, "Service installed successfully");
    return 0;
}

int TServiceApplication::Uninstall(bool silent) {
    try {
        for (TService* s : services_) {
            std::string fileName = UnitFileName(*s);
            if (!rtl::FileExists(fileName))
                throw rtl::EInOutError("The service " + s->Name() + " is not installed: " + fileName);
            if (s->BeforeUninstall) s->BeforeUninstall(s);
            if (!rtl::DeleteFile(fileName))
                throw rtl::EInOutError("Cannot delete " + fileName + ": " + std::strerror(errno));
            if (s->AfterUninstall) s->AfterUninstall(s);
        }
    } catch (const std::exception& e) {
        Say(silent, true, std::string("Service failed to uninstall with error: \"") + e.what() + "\"");
        return 1;
    }
    Say(silent, false, "Service uninstalled successfully");
    return 0;
}

}  // namespace os
