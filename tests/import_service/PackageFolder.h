// Import folders for the package manager's tests: package files named as the web side names
// them, packed with the archive password, and a look at what ended where.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import_service/uPackageManager.h"
#include "tests/import_service/ImportTestPackage.h"
#include "tests/import_service/ZipBuild.h"

namespace imptest {

// "ZuvWebExport_" + issuer (5) + branch (2) + "_" + time + ext.
inline std::string PackageName(const std::string& time, const std::string& emitent = "00007",
                               const std::string& filial = "01", const std::string& ext = ".zip") {
    return std::string(svc::kPackagePrefix) + emitent + filial + "_" + time + ext;
}

// A package id of the 38-character form that differs by n.
inline std::string PackageIdOf(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "{0F8FAD5B-D9CB-469F-A165-%012d}", n);
    return id;
}

// The archive of a package: its XML document under the name the manager looks for.
inline std::string PackageArchive(const std::string& fileName, const std::string& xml,
                                  const std::string& password = svc::kArchivePassword) {
    return ziptest::BuildZip({{fileName.substr(0, 38) + ".xml", xml, 8, password}});
}

// A good package with one recharge request; its package id is PackageIdOf(n).
inline std::string GoodPackage(int n) {
    THeader h;
    h.packageId = PackageIdOf(n);
    return Package(List("RECHARGE_LIST", {Item("RECHARGE", CardAmount(std::to_string(n), "10"))}), h);
}

// The files of a folder, sorted; "" when it does not exist.
inline std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace imptest
