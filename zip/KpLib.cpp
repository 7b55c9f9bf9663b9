#include "zip/KpLib.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Strings.h"
#include "zip/kpCntn.h"
#include "zip/kpMatch.h"

namespace zip {

namespace {

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

}  // namespace

namespace {

int AttrOf(const std::string& path, const struct stat& st) {
    int attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else
        attr |= faArchive;
    if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
    auto slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!base.empty() && base[0] == '.' && base != "." && base != "..") attr |= faHidden;
    return attr;
}

}  // namespace

int FileGetAttr(const std::string& path) {
    struct stat st {};
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (::stat(rtl::SysFileName(p).c_str(), &st) != 0) return -1;
    return AttrOf(p, st);
}

bool GetSearchRec(const std::string& path, TZipSearchRec& rec) {
    struct stat st {};
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (::stat(rtl::SysFileName(p).c_str(), &st) != 0) return false;
    auto slash = p.find_last_of('/');
    rec.Name = slash == std::string::npos ? p : p.substr(slash + 1);
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    rec.Time = UnixTimeToDosDateTime(st.st_mtime);
    rec.Attr = AttrOf(p, st);
    return true;
}

bool AttrPassesMask(int attr, int mask) {
    return (attr & (faHidden | faSysFile | faDirectory) & ~mask) == 0;
}

TSearchData::TSearchData(std::string folder, int attrMask, std::string pattern)
    : folder_(WithSlash(std::move(folder))), pattern_(std::move(pattern)) {
    DIR* dir = ::opendir(rtl::SysFileName(folder_).c_str());
    if (dir == nullptr) {
        noFiles_ = true;
        return;
    }
    while (dirent* e = ::readdir(dir)) {
        std::string name;
        if (!rtl::TryAnsiFileName(e->d_name, name)) {
            // Never packed under a made-up name: refused aloud when the pattern would take it.
            if (!pattern_.empty() && !WildcardMatch(pattern_, rtl::Utf8ToAnsi(e->d_name))) continue;
            const std::string sysName = folder_ + e->d_name;
            ::closedir(dir);
            rtl::AnsiFileName(sysName);
        }
        if (name == "." || name == "..") continue;
        TZipSearchRec rec;
        if (!GetSearchRec(folder_ + name, rec)) continue;
        if (!AttrPassesMask(rec.Attr, attrMask)) continue;
        entries_.push_back(std::move(rec));
    }
    ::closedir(dir);
    std::sort(entries_.begin(), entries_.end(),
              [](const TZipSearchRec& a, const TZipSearchRec& b) { return a.Name < b.Name; });
    noFiles_ = entries_.empty();
}

bool TSearchData::Next(TZipSearchRec& rec) {
    if (next_ >= entries_.size()) return false;
    rec = entries_[next_++];
    return true;
}

TDirSearch::TDirSearch(const std::string& startFolder, int attrMask, bool recurse, const std::string& pattern)
    : pattern_(pattern), recurse_(recurse), mask_(attrMask) {
    std::string folder = WithSlash(startFolder);
    size_t wild = folder.find_first_of("*?<>|");
    if (wild != std::string::npos) {
        size_t cut = folder.rfind('/', wild);
        std::string rest = folder.substr(cut + 1);
        folder = folder.substr(0, cut + 1);
        size_t start = 0;
        while (start < rest.size()) {
            size_t end = rest.find('/', start);
            if (end == std::string::npos) end = rest.size();
            if (end > start) components_.push_back(rest.substr(start, end - start));
            start = end + 1;
        }
    }
    OpenLevel(folder, components_.empty() ? -1 : 0);
}

TDirSearch::~TDirSearch() = default;

void TDirSearch::OpenLevel(const std::string& folder, int component) {
    bool wildLevel = component >= 0 && component < static_cast<int>(components_.size());
    levels_.push_back(std::make_unique<TSearchData>(folder, mask_ | (wildLevel ? faDirectory : 0),
                                                    wildLevel ? components_[component] : pattern_));
    levels_.back()->ComponentIndex = wildLevel ? component : -1;
}

std::string TDirSearch::NextFile(TZipSearchRec& rec) {
    while (!levels_.empty()) {
        TSearchData& level = *levels_.back();
        TZipSearchRec found;
        if (!level.Next(found)) {
            levels_.pop_back();
            continue;
        }
        std::string full = level.Folder() + found.Name;
        bool isDir = (found.Attr & faDirectory) != 0;
        if (level.ComponentIndex >= 0) {
            if (isDir && WildcardMatch(level.Pattern(), found.Name) &&
                static_cast<int>(levels_.size()) < kLevels) {
                int next = level.ComponentIndex + 1;
                OpenLevel(full, next < static_cast<int>(components_.size()) ? next : -1);
            }
            continue;
        }
        if (isDir) {
            // The search keeps to its levels: deeper folders are not entered.
            if (!recurse_ || static_cast<int>(levels_.size()) >= kLevels) continue;
            OpenLevel(full, -1);
            rec = found;
            return full + "/";
        }
        std::string cmpName = found.Name.find('.') == std::string::npos ? found.Name + "." : found.Name;
        if (WildcardMatch(level.Pattern(), cmpName)) {
            rec = found;
            return full;
        }
    }
    return std::string();
}

std::string RightChars(std::string_view text, size_t n) {
    return std::string(n >= text.size() ? text : text.substr(text.size() - n));
}

std::string LeftChars(std::string_view text, size_t n) {
    return std::string(text.substr(0, n));
}

void ToZipSeparators(std::string& text) {
    std::replace(text.begin(), text.end(), '\\', '/');
}

void ToDosSeparators(std::string& text) {
    std::replace(text.begin(), text.end(), '/', '\\');
}

std::string AnsiToOemText(std::string_view text) {
    return rtl::AnsiToOem(text);
}

std::string OemToAnsiText(std::string_view text) {
    return rtl::OemToAnsi(text);
}

void OemRoundTrip(std::string& text) {
    text = OemToAnsiText(AnsiToOemText(text));
}

bool ConvertPathName(const std::string& path, bool, std::string& result) {
    result = path;
    return true;
}

bool FolderExists(const std::string& path) {
    return TryChangeDir(path);
}

std::string GetCurrentFolder() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? rtl::AnsiFileName(buf) : std::string();
}

std::string SystemTempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = t && *t ? t : "/tmp";
    return FolderExists(dir) ? dir : "/tmp";
}

std::string MakeTempFileName(const std::string& folder) {
    std::string templ = WithSlash(folder.empty() ? SystemTempFolder() : folder) + "KPZXXXXXX";
    std::string sysName = rtl::SysFileName(templ);
    int fd = ::mkstemp(sysName.data());
    if (fd < 0) rtl::RaiseLastOSError();
    ::close(fd);
    // Only the random ASCII tail differs.
    return templ.substr(0, templ.size() - 6) + sysName.substr(sysName.size() - 6);
}

uint32_t FixDosDateTime(uint32_t value) {
    uint32_t time = value & 0xFFFF;
    uint32_t date = value >> 16;
    uint32_t sec2 = time & 0x1F, min = (time >> 5) & 0x3F, hour = time >> 11;
    uint32_t day = date & 0x1F, month = (date >> 5) & 0x0F, year = date >> 9;
    if (sec2 < 30 && min < 60 && hour <= 23 && year < 120 && day != 0 && month >= 1 && month <= 12)
        return value;
    if (sec2 >= 30) sec2 = 29;
    if (min >= 60) min = 59;
    if (hour > 23) hour = 23;
    if (day == 0) day = 1;
    if (month == 0) month = 1;
    if (month > 12) month = 12;
    if (year >= 120) year = 119;
    return year << 25 | month << 21 | day << 16 | hour << 11 | min << 5 | sec2;
}

uint32_t UnixTimeToDosDateTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm lt {};
    ::localtime_r(&t, &lt);
    return rtl::EncodeDosDateTime(lt.tm_year + 1900, static_cast<unsigned>(lt.tm_mon + 1),
                                  static_cast<unsigned>(lt.tm_mday), static_cast<unsigned>(lt.tm_hour),
                                  static_cast<unsigned>(lt.tm_min), static_cast<unsigned>(lt.tm_sec));
}

uint32_t FileDosDateTime(const std::string& name) {
    struct stat st {};
    if (::stat(rtl::SysFileName(name).c_str(), &st) != 0) return 0xFFFFFFFF;
    return UnixTimeToDosDateTime(st.st_mtime);
}

bool TryDosDateTimeToDateTime(uint32_t value, rtl::TDateTime& result) {
    return rtl::TryDosDateTimeToDateTime(value, result);
}

uint32_t DateTimeToDosDateTime(rtl::TDateTime value) {
    double dayPart = std::floor(value);
    int64_t days = static_cast<int64_t>(dayPart) - rtl::UnixDateDelta;
    int64_t secs = std::llround((value - dayPart) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    int y;
    unsigned m, d;
    rtl::CivilFromDays(days, y, m, d);
    return rtl::EncodeDosDateTime(y, m, d, static_cast<unsigned>(secs / 3600),
                                  static_cast<unsigned>((secs / 60) % 60), static_cast<unsigned>(secs % 60));
}

rtl::TDateTime NowDateTime() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return rtl::UnixTimeToLocalDateTime(ts.tv_sec, ts.tv_nsec);
}

rtl::TDateTime FileDateTime(const std::string& name) {
    std::string n = name;
    while (n.size() > 1 && n.back() == '/') n.pop_back();
    rtl::TDateTime result;
    if (!TryDosDateTimeToDateTime(FixDosDateTime(FileDosDateTime(n)), result)) result = NowDateTime();
    return result;
}

int64_t SearchRecSize(const TZipSearchRec& rec) {
    return rec.Size;
}

int PercentOf(double part, double total) {
    if (total <= 0) return 0;
    int save = std::fegetround();
    std::fesetround(FE_TONEAREST);
    double r = std::nearbyint(part * 100.0 / total);
    std::fesetround(save);
    return r > 100 ? 100 : static_cast<int>(r);
}

bool RenameOnSameDrive(const std::string& source, const std::string& destination) {
    return ::rename(rtl::SysFileName(source).c_str(), rtl::SysFileName(destination).c_str()) == 0;
}

void MoveOrCopyFile(const std::string& source, const std::string& destination) {
    if (RenameOnSameDrive(source, destination)) return;
    const std::string failure = "Error: Could not copy from " + source + " -> " + destination;
    std::string folder = destination.substr(0, destination.find_last_of('/') + 1);
    std::string temp = MakeTempFileName(folder.empty() ? "." : folder);
    int64_t copied = 0, size = -1;
    try {
        rtl::TFileStream in(source, fmOpenRead | fmShareDenyNone);
        rtl::TFileStream out(temp, fmCreate);
        size = in.Size();
        std::vector<uint8_t> buf(65536);
        for (;;) {
            int64_t n = in.Read(buf.data(), static_cast<int64_t>(buf.size()));
            if (n <= 0) break;
            if (out.Write(buf.data(), n) != n) break;
            copied += n;
        }
        if (copied != size || !FlushStreamToDisk(out)) throw rtl::Exception(failure);
    } catch (...) {
        ::unlink(rtl::SysFileName(temp).c_str());
        throw rtl::Exception(failure);
    }
    if (::rename(rtl::SysFileName(temp).c_str(), rtl::SysFileName(destination).c_str()) != 0) {
        ::unlink(rtl::SysFileName(temp).c_str());
        throw rtl::Exception(failure);
    }
    ::unlink(rtl::SysFileName(source).c_str());
}

bool IsRemovableDrive(const std::string&) {
    return false;
}

std::string GetVolumeLabel(const std::string&) {
    return std::string();
}

bool SetVolumeLabel(const std::string&, const std::string&) {
    return false;
}

int64_t GetClusterSize(const std::string& path) {
    struct statvfs vfs {};
    if (::statvfs(path.empty() ? "." : rtl::SysFileName(path).c_str(), &vfs) != 0) rtl::RaiseLastOSError();
    return static_cast<int64_t>(vfs.f_bsize);
}

int64_t GetFreeSpace(const std::string& path) {
    struct statvfs vfs {};
    if (::statvfs(path.empty() ? "." : rtl::SysFileName(path).c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

}  // namespace zip
