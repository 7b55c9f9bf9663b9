#include "common/uZuvArchiveUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "zip/ZipWriter.h"

namespace svc {

namespace {

bool Exists(const std::string& name) {
    struct stat st {};
    return ::lstat(rtl::SysFileName(name).c_str(), &st) == 0;
}

std::string ExtractFileName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Extension with its dot, or empty; a dot in a folder name does not count.
std::string ExtractFileExt(const std::string& path) {
    std::string name = ExtractFileName(path);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

void MakeUniqueFileName(const std::string& fileName, std::string& uniqueName) {
    if (!Exists(fileName)) {
        uniqueName = fileName;
        return;
    }
    std::string folder = ExtractFileDir(fileName);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string ext = ExtractFileExt(fileName);
    std::string name = ExtractFileName(fileName);
    std::string stem = name.substr(0, name.size() - ext.size());
    for (int n = 1; n <= 1000; ++n) {
        // A bare name stays where it is rather than moving to the root folder.
        std::string candidate = (folder.empty() ? "" : folder + "/") + stem + std::to_string(n) + ext;
        if (!Exists(candidate)) {
            uniqueName = candidate;
            return;
        }
    }
    // "В папке " ... "''содержится большое количество файлов!" in code page 1251.
    throw rtl::Exception("\xC2 \xEF\xE0\xEF\xEA\xE5 " + folder +
                         "''\xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2\xF1\xFF \xE1\xEE\xEB\xFC\xF8\xEE\xE5 "
                         "\xEA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE \xF4\xE0\xE9\xEB\xEE\xE2!");
}

void ZipFiles(const std::vector<std::string>& files, const std::string& destFolder,
              const std::string& password, std::string& archiveName) {
    archiveName.clear();
    if (files.empty()) return;
    std::string folder = destFolder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::string first = ExtractFileName(files.front());
    std::string ext = ExtractFileExt(first);
    std::string name;
    MakeUniqueFileName(folder + first.substr(0, first.size() - ext.size()) + ".zip", name);

    std::vector<std::string> missing;
    int packed = 0;
    {
        zip::TZipWriter writer;
        writer.SetZipName(name);
        writer.Password = password;
        writer.FilesList = files;
        writer.OnNoSuchFile = [&](zip::TZipWriter&, const std::string& file) { missing.push_back(file); };
        writer.OnSkippingFile = [&](zip::TZipReader&, zip::TSkipReason, const std::string& file, int, bool&) {
            missing.push_back(file);
        };
        packed = writer.Zip();
    }
    // A package with a file missing must not be delivered.
    if (packed != static_cast<int>(files.size())) {
        ::unlink(rtl::SysFileName(name).c_str());
        std::string list;
        for (const auto& f : missing) list += (list.empty() ? "" : ", ") + f;
        throw zip::EZipException("Archive " + name + " not created: could not pack " +
                                 (list.empty() ? std::string("every listed file") : list));
    }
    if (Exists(name)) archiveName = name;
}

}  // namespace svc
