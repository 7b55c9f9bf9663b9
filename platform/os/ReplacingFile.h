// A file whose new contents are written piece by piece and appear whole at the end.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace os {

// The pieces go to a temporary beside the target (".<name>.XXXXXX", as ReplaceFileContents
// names its own); Commit renames it over the target. Dropped without a Commit, or after a
// failed step, the temporary is removed and the target is left as it was.
class TReplacingFile {
public:
    TReplacingFile() = default;
    ~TReplacingFile() { Abandon(); }
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    // Creates the temporary for path. Returns 0 or the errno value.
    int Open(const std::string& path);
    // Appends to the temporary. Returns 0 or the errno value (the temporary is gone then).
    int Write(std::string_view data);
    // Gives the temporary the target's permission bits (newFileMode less the umask for a new
    // file), flushes it to the disk when asked and renames it over the target. Returns 0 or the
    // errno value (nothing is left behind then).
    int Commit(bool flush = true, mode_t newFileMode = 0644);
    // Removes the temporary, if any.
    void Abandon();

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

private:
    int Fail(int error);

    int fd_ = -1;
    std::string path_;
    std::string temp_;  // the temporary's name on disk
};

}  // namespace os
