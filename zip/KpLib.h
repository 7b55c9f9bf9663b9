// File-system helpers of the zip library: folder search, names and paths, DOS dates,
// sizes and percentages, temporary names, file replacement and volume queries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Files.h"
#include "platform/rtl/Types.h"

namespace zip {

// Attribute bits of the find-first search and of zip external attributes: the runtime's.
using rtl::faAnyFile;
using rtl::faArchive;
using rtl::faDirectory;
using rtl::faHidden;
using rtl::faReadOnly;
using rtl::faSysFile;
using rtl::faVolumeID;

// One match of a folder search.
struct TZipSearchRec {
    std::string Name;  // name inside its folder
    int64_t Size = 0;
    uint32_t Time = 0;  // last write, MS-DOS form, local time
    int Attr = 0;
};

// Windows-style attributes of a path: hidden for dot names, read-only without the owner's
// write bit, folder; files carry the archive bit. -1 when the path does not exist.
int FileGetAttr(const std::string& path);
// Fills a search record for one path; false when it does not exist.
bool GetSearchRec(const std::string& path, TZipSearchRec& rec);
// Whether the search mask lets a path of these attributes through: hidden, system and
// folder entries are found only when the mask holds their bit.
bool AttrPassesMask(int attr, int mask);

// One level of a folder search: the sorted listing of a folder.
class TSearchData {
public:
    TSearchData(std::string folder, int attrMask, std::string pattern);
    bool Next(TZipSearchRec& rec);  // false at the end
    const std::string& Folder() const { return folder_; }
    const std::string& Pattern() const { return pattern_; }
    bool NoFiles() const { return noFiles_; }
    int ComponentIndex = -1;  // wildcard folder component this level searches, -1 for files

private:
    std::string folder_;
    std::string pattern_;
    std::vector<TZipSearchRec> entries_;
    size_t next_ = 0;
    bool noFiles_ = false;
};

// Searches a folder for files matching a pattern, optionally into subfolders and across
// wildcard folder components of the start folder ("/data/20*/logs/").
class TDirSearch {
public:
    static constexpr int kLevels = 21;
    TDirSearch(const std::string& startFolder, int attrMask, bool recurse, const std::string& pattern);
    ~TDirSearch();
    // Next match as a full name; '' when done. Folders entered by recursion come back with a
    // trailing '/' before their contents.
    std::string NextFile(TZipSearchRec& rec);

private:
    void OpenLevel(const std::string& folder, int component);
    std::vector<std::unique_ptr<TSearchData>> levels_;
    std::string pattern_;
    bool recurse_;
    std::vector<std::string> components_;
    int mask_;
};

// Names and paths.
std::string RightChars(std::string_view text, size_t n);
std::string LeftChars(std::string_view text, size_t n);
void ToZipSeparators(std::string& text);
void ToDosSeparators(std::string& text);
std::string AnsiToOemText(std::string_view text);
std::string OemToAnsiText(std::string_view text);
void OemRoundTrip(std::string& text);
// There are no short names here: every path keeps its long form.
bool ConvertPathName(const std::string& path, bool toLong, std::string& result);
bool FolderExists(const std::string& path);
std::string GetCurrentFolder();
// Creates an empty, uniquely named file "KPZxxxxxx" in the folder and returns its name.
std::string MakeTempFileName(const std::string& folder);
std::string SystemTempFolder();

// Dates and numbers.
uint32_t FixDosDateTime(uint32_t value);
uint32_t FileDosDateTime(const std::string& name);  // 0xFFFFFFFF when not found
rtl::TDateTime FileDateTime(const std::string& name);
bool TryDosDateTimeToDateTime(uint32_t value, rtl::TDateTime& result);
uint32_t DateTimeToDosDateTime(rtl::TDateTime value);
uint32_t UnixTimeToDosDateTime(int64_t seconds);
rtl::TDateTime NowDateTime();
int64_t SearchRecSize(const TZipSearchRec& rec);
inline int64_t MinInt64(int64_t a, int64_t b) {
    return a < b ? a : b;
}
inline int64_t MaxInt64(int64_t a, int64_t b) {
    return a > b ? a : b;
}
int PercentOf(double part, double total);

// Files and volumes.
// Puts source in place of destination with one atomic rename; the destination stays as it
// was until the rename succeeds.
bool RenameOnSameDrive(const std::string& source, const std::string& destination);
// Rename, or copy (beside the destination, then renamed over it) when the rename cannot work.
void MoveOrCopyFile(const std::string& source, const std::string& destination);
bool IsRemovableDrive(const std::string& root);
std::string GetVolumeLabel(const std::string& root);
bool SetVolumeLabel(const std::string& root, const std::string& label);
int64_t GetClusterSize(const std::string& path);
int64_t GetFreeSpace(const std::string& path);

}  // namespace zip
