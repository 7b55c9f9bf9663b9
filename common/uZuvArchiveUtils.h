// Archive routines of the export road: packing a package's files into one
// password-protected archive, and finding a free name for a file.
#pragma once

#include <string>
#include <vector>

namespace svc {

// The name itself when no such file exists, else folder/stemN.ext for the first free N of
// 1..1000; raises rtl::Exception when all of them exist.
void MakeUniqueFileName(const std::string& fileName, std::string& uniqueName);

// Packs the files, in list order, into <destFolder>/<first file's stem>.zip (or a free
// numbered variant) with the password. Raises when any listed file could not be packed,
// and then leaves no archive; archiveName is the archive on success, else empty.
void ZipFiles(const std::vector<std::string>& files, const std::string& destFolder,
              const std::string& password, std::string& archiveName);

}  // namespace svc
