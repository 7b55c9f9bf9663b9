// Where the extraction engine writes. The destination folder is held open and every name
// below it is reached one component at a time (openat with O_NOFOLLOW), so a link lying in
// the destination, placed there before the run or during it, redirects neither a folder nor
// a file. What a run creates is remembered, so that a failed run can take all of it back.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace svc {

// An owned file descriptor.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

class TUnZipDestination {
public:
    // A file to write: the folder that holds it, open, and its name there. The folder belongs
    // to the destination and stays open until the next Prepare or Close.
    struct TTarget {
        int folder = -1;
        std::string name;
        std::string base;      // the folder the relative name starts from ("" the current one)
        std::string relative;  // the file's name below base
    };

    // Opens root, creating it with its parents when missing. The root and the folders above
    // it are the caller's choice and may be links. An empty root is the current folder.
    // False with errno set when it cannot.
    bool Open(const std::string& root);
    void Close();
    // Closes and drops the record of what was created.
    void Forget();

    // Bytes this process may still write below the root; UINT64_MAX when unknown.
    uint64_t FreeSpace() const;

    // Opens the folder that will hold path, creating the missing ones. A path below the root
    // is walked from the root; any other path (an event handler's choice) has its folder taken
    // as given, and only its last name is guarded. False when a folder cannot be made or a
    // name below the root is a link, not a folder, or "..".
    bool Prepare(const std::string& path, TTarget& target);
    // Creates the folder path below the root with every missing parent, under the same rules.
    bool MakeFolders(const std::string& path);

    // What lies at the target now, without following a link; false when nothing does.
    static bool Probe(const TTarget& target, struct stat& st);
    // Creates the target as a new file, never through a link; with replace an existing file
    // is unlinked first (so a hard link to it elsewhere keeps its content). -1 with errno.
    int CreateFile(const TTarget& target, bool replace);
    static void Remove(const TTarget& target);

    // Removes every file created since Forget and then every folder created, when empty.
    void RemoveCreated();

private:
    struct TCreated {
        std::string base;
        std::string relative;
        bool folder;
    };

    bool Split(const std::string& path, std::string& base, std::string& relative) const;
    int OpenBase(const std::string& base, bool create) const;
    bool OpenFolder(const std::string& base, const std::string& folder, bool create);

    std::string rootName_;
    TFd root_;
    // The folder opened last, kept for the next entry in the same folder.
    TFd folder_;
    std::string folderBase_;
    std::string folderName_;
    bool folderValid_ = false;
    std::vector<TCreated> created_;
};

}  // namespace svc
