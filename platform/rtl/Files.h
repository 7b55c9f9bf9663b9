// Files, folders and paths. Paths are ANSI text in the program and UTF-8 for the system: every
// routine here converts at the system call, so other programs see the same names.
// Routines that report success with a bool leave the system error code in errno, which
// GetLastError() returns (journal texts quote it as "error #<code>").
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace rtl {

RTL_EXCEPTION_CLASS(EInOutError, Exception);
// A name found on disk that the ANSI code page cannot hold.
RTL_EXCEPTION_CLASS(EFileNameError, EInOutError);

// ---- names between the program (ANSI) and the system (UTF-8)
std::string SysFileName(std::string_view name);
// False when the system's name is no UTF-8 or has a character the ANSI code page lacks.
bool TryAnsiFileName(std::string_view sysName, std::string& name);
// The same, raising EFileNameError that names the file.
std::string AnsiFileName(std::string_view sysName);
// The text of that error for a system name.
std::string UnnamableFileMessage(std::string_view sysName);

inline constexpr char PathDelim = '/';
inline constexpr char PathSep = ':';

int GetLastError();

// ---- existence and folders
bool FileExists(const std::string& fileName);  // a file, not a folder
bool DirectoryExists(const std::string& dir);
bool CreateDir(const std::string& dir);  // one level
bool RemoveDir(const std::string& dir);  // an empty folder
// Creates the folder and every missing parent; raises EInOutError for an empty name.
bool ForceDirectories(const std::string& dir);
bool DeleteFile(const std::string& fileName);  // not a folder
// Renames within one file system; fails (EEXIST) when the new name exists.
bool RenameFile(const std::string& oldName, const std::string& newName);
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& dir);

// Moves a file, replacing the target. Within a file system this is one atomic rename. Across
// file systems the data goes to a hidden temporary beside the target, is flushed and renamed
// over the target, and only then is the source deleted; on any failure the source stays and no
// partial target is left. When the copy succeeded but the source cannot be deleted, the result
// is still success with both files present.
bool MoveFileReplace(const std::string& source, const std::string& target);
// Copies a file with its modification time and permission bits; refuses (EEXIST) when the
// target exists. The target appears whole or not at all.
bool CopyFileNoOverwrite(const std::string& source, const std::string& target);
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);

// ---- attributes. Linux mapping: read-only = no owner write permission; hidden = a name that
// starts with "."; system = anything that is neither a regular file nor a folder; archive = a
// regular file.
inline constexpr int faReadOnly = 0x01;
inline constexpr int faHidden = 0x02;
inline constexpr int faSysFile = 0x04;
inline constexpr int faVolumeID = 0x08;
inline constexpr int faDirectory = 0x10;
inline constexpr int faArchive = 0x20;
inline constexpr int faAnyFile = 0x3F;

int FileGetAttr(const std::string& fileName);  // -1 when missing
// Only faReadOnly has an effect (it clears or restores the write permission bits). 0 or errno.
int FileSetAttr(const std::string& fileName, int attr);
int FileSetAttr(int handle, int attr);  // the same for an open file

// ---- searching
struct TWin32FindData {
    uint32_t dwFileAttributes = 0;
    uint64_t ftLastWriteTime = 0;  // 100 ns units since 1601-01-01 UTC
    uint32_t nFileSizeHigh = 0;
    uint32_t nFileSizeLow = 0;
    std::string cFileName;
};

struct TSearchState;

struct TSearchRec {
    int32_t Time = 0;         // modification time as a DOS date-time (local)
    TDateTime TimeStamp = 0;  // modification time (local)
    int64_t Size = 0;
    int Attr = 0;
    std::string Name;
    int ExcludeAttr = 0;
    TWin32FindData FindData;
    std::shared_ptr<TSearchState> State;
    // The files the mask took but the ANSI code page cannot name, as system paths (UTF-8);
    // the search skips them, and the caller decides how to report them.
    std::vector<std::string> Unnamable;
};

// path = folder + mask ("/in/*.zip"). Masks follow the original platform: case-insensitive,
// "*" any run, "?" one character (or none before a dot or at the end), "*.*" everything.
// Files are always found; hidden, system and folder entries only when attr asks for them.
// Entries come in name order, "." and ".." first. Returns 0 or an errno value (ENOENT when
// nothing matches). Names the ANSI code page cannot hold are never delivered: see Unnamable.
int FindFirst(const std::string& path, int attr, TSearchRec& rec);
int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);
bool MatchesMask(const std::string& name, const std::string& mask);

// ---- path parts
std::string ExtractFilePath(const std::string& fileName);  // with the trailing "/"
std::string ExtractFileDir(const std::string& fileName);   // without it
std::string ExtractFileName(const std::string& fileName);
std::string ExtractFileExt(const std::string& fileName);  // with the dot
inline std::string ExtractFileDrive(const std::string&) {
    return std::string();
}  // no drives here
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);  // "/" stays "/"
// An absolute path with "." and ".." folded away (no links resolved).
std::string ExpandFileName(const std::string& fileName);

// The program's own file (full path), and its command-line arguments (ParamStr(0) is the program).
std::string ApplicationExeName();
int ParamCount();
std::string ParamStr(int index);

// ---- file dates (TDateTime in local time)
bool FileAge(const std::string& fileName, TDateTime& age);
int32_t FileGetDate(int handle);                                    // DOS date-time or -1
int32_t FileAgeDos(const std::string& fileName);                    // DOS date-time or -1
int FileSetDate(const std::string& fileName, int32_t dosDateTime);  // 0 or errno
int FileSetDate(int handle, int32_t dosDateTime);                   // the same for an open file
// Raises EConvertError for an impossible DOS value.
TDateTime FileDateToDateTime(int32_t dosDateTime);
int32_t DateTimeToFileDate(TDateTime value);
// MS-DOS date-time, unsigned: years since 1980 (7 bits), month, day | hours, minutes, seconds / 2.
// Years before 1980 give 1 January 1980 00:00; years past 2107 keep 2107 and the rest.
uint32_t EncodeDosDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned min, unsigned sec);
// False for a value that names no real date or time.
bool TryDosDateTimeToDateTime(uint32_t value, TDateTime& result);
TDateTime UnixTimeToLocalDateTime(time_t seconds, long nanoseconds = 0);
bool LocalDateTimeToUnixTime(TDateTime value, time_t& seconds);

// ---- a file that another program may still be writing
struct TFileLook {
    bool Seen = false;
    int64_t Size = -1;
    timespec ModifyTime{};
    uint64_t Device = 0;
    uint64_t Inode = 0;
};

// True when the file is complete: no cooperating opener holds it, an exclusive non-blocking
// lock is free, and size and modification time equal those of the previous look (stored in
// look). The first look of a file therefore answers false.
bool FileIsCompletelyWritten(const std::string& fileName, TFileLook& look);

// Keeps the last look of every watched file.
class TWrittenFileWatch {
public:
    bool Completed(const std::string& fileName) {
        return FileIsCompletelyWritten(fileName, looks_[fileName]);
    }
    void Forget(const std::string& fileName) { looks_.erase(fileName); }
    void Clear() { looks_.clear(); }

private:
    std::map<std::string, TFileLook> looks_;
};

}  // namespace rtl
