// Clearing the temporaries of interrupted moves and saves.
#include "export_service/uExportFolders.h"

#include <dirent.h>

#include <cctype>
#include <memory>

#include "platform/rtl/Files.h"

namespace svc {

namespace {

// The six characters mkstemp puts in place of "XXXXXX".
bool IsRandomSuffix(const std::string& text) {
    if (text.size() != 6) return false;
    for (unsigned char c : text)
        if (!std::isalnum(c)) return false;
    return true;
}

}  // namespace

bool IsInterruptedTemporary(const std::string& name) {
    if (name.size() < 2 || name[0] != '.') return false;
    const std::string rest = name.substr(1);
    const bool ours = rest.rfind("ZuvQelExport_", 0) == 0 || rest.rfind("XmlOrderList.xml.", 0) == 0;
    if (!ours || rest.size() < 8) return false;
    const std::string suffix = rest.substr(rest.size() - 6);
    const std::string head = rest.substr(0, rest.size() - 6);
    if (!IsRandomSuffix(suffix)) return false;
    return head.size() > 4 && (head.ends_with(".tmp") || head.ends_with("."));
}

void RemoveInterruptedTemporaries(const std::vector<std::string>& folders, const TLogEvent& onLog) {
    for (const std::string& folder : folders) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(rtl::SysFileName(folder).c_str()), &::closedir);
        if (!dir) continue;
        std::vector<std::string> found;
        while (const dirent* entry = ::readdir(dir.get()))
            if (IsInterruptedTemporary(entry->d_name)) found.emplace_back(entry->d_name);
        for (const std::string& name : found) {
            const std::string path = rtl::IncludeTrailingPathDelimiter(folder) + name;
            if (rtl::FileExists(path) && rtl::DeleteFile(path))
                CallLog(onLog, "Leftover temporary " + path + " removed", true);
        }
    }
}

}  // namespace svc
